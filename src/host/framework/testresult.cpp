// The framework's record of test results.
#include "testresult.h"

void TestResult::add(const Entry& entry)
{
    Entry e = entry;
    if (!e.time.isValid())
        e.time = QDateTime::currentDateTime();
    if (e.type != SectionStart && e.type != SectionEnd)
        e.sections = sections;
    if (listener)
        listener->resultAdding(e);
    results.append(e);
    // The listener hears of the local copy: results it adds meanwhile may move the list's entries.
    if (listener)
        listener->resultAdded(e);
}

void TestResult::add(Type type, const QString& message, const QString& detail, const QString& file, int line)
{
    Entry e;
    e.type = type;
    e.message = message;
    e.detail = detail;
    e.file = file;
    e.line = line;
    add(e);
}

int TestResult::count(Type type) const
{
    int n = 0;
    for (const Entry& e : results)
        n += e.type == type ? 1 : 0;
    return n;
}

bool TestResult::passed() const
{
    return count(Fail) == 0 && count(UnexpectedPass) == 0 && count(Error) == 0 && count(Fatal) == 0;
}

void TestResult::clear()
{
    results.clear();
    sections.clear();
}

void TestResult::startSection(const QString& title, const QString& description, const QString& file, int line,
                              const QVariantMap& facts)
{
    Entry e;
    e.facts = facts;
    e.type = SectionStart;
    e.message = title;
    e.detail = description;
    e.file = file;
    e.line = line;
    e.sections = sections;
    sections.append(title);
    add(e);
}

bool TestResult::endSection(const QString& file, int line, const QVariantMap& facts)
{
    if (sections.isEmpty())
        return false;
    Entry e;
    e.facts = facts;
    e.type = SectionEnd;
    e.message = sections.takeLast();
    e.file = file;
    e.line = line;
    e.sections = sections;
    add(e);
    return true;
}

QString TestResult::typeName(Type type)
{
    switch (type) {
    case Pass:
        return QStringLiteral("PASS");
    case Fail:
        return QStringLiteral("FAIL");
    case ExpectedFail:
        return QStringLiteral("XFAIL");
    case UnexpectedPass:
        return QStringLiteral("XPASS");
    case Warning:
        return QStringLiteral("WARNING");
    case Error:
        return QStringLiteral("ERROR");
    case Fatal:
        return QStringLiteral("FATAL");
    case Skip:
        return QStringLiteral("SKIPPED");
    case Log:
        return QStringLiteral("LOG");
    case SectionStart:
        return QStringLiteral("SECTION");
    case SectionEnd:
        return QStringLiteral("END SECTION");
    }
    return QString();
}
