// Writing JUnit XML.
#include "junit.h"

#include "bddresults.h"

#include <QFile>
#include <QMap>
#include <QSaveFile>
#include <QXmlStreamWriter>

namespace {

QString location(const TestResult::Entry& e)
{
    if (e.file.isEmpty())
        return QString();
    return e.line > 0 ? QStringLiteral("%1:%2: ").arg(e.file, QString::number(e.line)) : e.file + QStringLiteral(": ");
}

bool isFailure(TestResult::Type t)
{
    return t == TestResult::Fail || t == TestResult::UnexpectedPass;
}

bool isError(TestResult::Type t)
{
    return t == TestResult::Error || t == TestResult::Fatal;
}

} // namespace

QString JUnitReport::className(const QString& suite, const QString& name)
{
    return (suite.isEmpty() ? QStringLiteral("tarvinrunner") : suite) + QLatin1Char('.') + name;
}

void JUnitReport::addTestCase(const QString& suite, const QString& name, const QString& script, double seconds,
                              const TestResult& result)
{
    const QString suiteName = suite.isEmpty() ? QStringLiteral("tarvinrunner") : suite;
    QList<TestResult::Entry> rest;
    const QList<ScenarioRun> runs = scenarioRuns(result.entries(), &rest);
    if (runs.isEmpty()) {
        cases.append(Case{suiteName, name, script, QString(), seconds, result.entries(), result.skipped()});
        return;
    }
    const QString caseClass = className(suiteName, name);
    for (const ScenarioRun& run : runs) {
        QList<TestResult::Entry> entries = run.entries;
        if (run.notRun) {
            TestResult::Entry skip;
            skip.type = TestResult::Skip;
            skip.message = QStringLiteral("not run: an earlier scenario failed (--abort-on-fail)");
            skip.file = run.file;
            skip.line = run.line;
            entries.append(skip);
        }
        cases.append(Case{suiteName, run.feature + QStringLiteral(": ") + run.scenario, run.file, caseClass,
                          run.seconds, entries, run.notRun});
    }
    bool restFailed = false;
    for (const TestResult::Entry& e : rest)
        restFailed = restFailed || isFailure(e.type) || isError(e.type);
    if (restFailed)
        cases.append(Case{suiteName, name, script, caseClass, 0, rest, false});
}

bool JUnitReport::write(const QString& path, QString* error) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("cannot write JUnit report %1: %2").arg(path, file.errorString());
        return false;
    }
    QMap<QString, QList<const Case*>> suites;
    for (const Case& c : cases)
        suites[c.suite].append(&c);

    QXmlStreamWriter xml(&file);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("testsuites"));
    for (auto s = suites.constBegin(); s != suites.constEnd(); ++s) {
        int failures = 0, errors = 0, skipped = 0;
        double seconds = 0;
        for (const Case* c : s.value()) {
            bool failed = false, errored = false;
            for (const TestResult::Entry& e : c->entries) {
                failed = failed || isFailure(e.type);
                errored = errored || isError(e.type);
            }
            failures += failed && !errored ? 1 : 0;
            errors += errored ? 1 : 0;
            skipped += c->skipped ? 1 : 0;
            seconds += c->seconds;
        }
        xml.writeStartElement(QStringLiteral("testsuite"));
        xml.writeAttribute(QStringLiteral("name"), s.key());
        xml.writeAttribute(QStringLiteral("tests"), QString::number(s.value().size()));
        xml.writeAttribute(QStringLiteral("failures"), QString::number(failures));
        xml.writeAttribute(QStringLiteral("errors"), QString::number(errors));
        xml.writeAttribute(QStringLiteral("skipped"), QString::number(skipped));
        xml.writeAttribute(QStringLiteral("time"), QString::number(seconds, 'f', 3));
        for (const Case* c : s.value()) {
            xml.writeStartElement(QStringLiteral("testcase"));
            xml.writeAttribute(QStringLiteral("name"), c->name);
            xml.writeAttribute(QStringLiteral("classname"),
                               c->className.isEmpty() ? className(s.key(), c->name) : c->className);
            xml.writeAttribute(QStringLiteral("file"), c->script);
            xml.writeAttribute(QStringLiteral("time"), QString::number(c->seconds, 'f', 3));
            QStringList log;
            for (const TestResult::Entry& e : c->entries) {
                const QString text = location(e) + e.message;
                if (isFailure(e.type) || isError(e.type)) {
                    xml.writeStartElement(isFailure(e.type) ? QStringLiteral("failure") : QStringLiteral("error"));
                    xml.writeAttribute(QStringLiteral("message"), text);
                    xml.writeAttribute(QStringLiteral("type"), TestResult::typeName(e.type));
                    xml.writeCharacters(e.detail.isEmpty() ? text : text + QLatin1Char('\n') + e.detail);
                    xml.writeEndElement();
                } else if (e.type == TestResult::Skip) {
                    xml.writeStartElement(QStringLiteral("skipped"));
                    xml.writeAttribute(QStringLiteral("message"), text);
                    xml.writeEndElement();
                }
                log << TestResult::typeName(e.type) + QLatin1Char(' ') + text +
                           (e.attachment.isEmpty() ? QString() : QStringLiteral(" [[ATTACHMENT|%1]]").arg(e.attachment));
            }
            if (!log.isEmpty())
                xml.writeTextElement(QStringLiteral("system-out"), log.join(QLatin1Char('\n')));
            xml.writeEndElement();
        }
        xml.writeEndElement();
    }
    xml.writeEndElement();
    xml.writeEndDocument();
    if (!file.commit()) {
        *error = QStringLiteral("cannot write JUnit report %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}
