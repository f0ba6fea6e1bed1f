// The data-set model, the choice of reader by suffix, writing back as delimited text, and makePath.
#include "testdata.h"

#include "excelxmltestdataset.h"
#include "exceltestdataset.h"
#include "testdata_p.h"
#include "tsvparser.h"

#include <QDir>
#include <QFile>
#include <QTextCodec>
#include <QTextStream>
#include <QtDebug>

#include <cstdio>

namespace Tarvin {

namespace {
bool quietFailures = false;
}

void reportDataFailure(TestDataSet* dataSet, DataChannel channel, const QString& text)
{
    if (dataSet && dataSet->failureText.isEmpty()) {
        QString message = text;
        while (message.endsWith(QLatin1Char('\n')))
            message.chop(1);
        dataSet->failureText = message;
    }
    if (quietFailures || channel == DataChannel::None)
        return;
    switch (channel) {
    case DataChannel::StandardError:
        std::fputs(text.toLocal8Bit().constData(), stderr);
        std::fflush(stderr);
        break;
    case DataChannel::StandardOutput:
        std::fputs(text.toLocal8Bit().constData(), stdout);
        std::fflush(stdout);
        break;
    case DataChannel::Warning:
        qWarning("%s", text.toLocal8Bit().constData());
        break;
    case DataChannel::None:
        break;
    }
}

void reportDataCap(const QString& fileName, const QString& what)
{
    if (quietFailures)
        return;
    qWarning("Warning: %s: %s", QFile::encodeName(fileName).constData(), what.toLocal8Bit().constData());
}

FailureCapture::FailureCapture() : previous(quietFailures)
{
    quietFailures = true;
}

FailureCapture::~FailureCapture()
{
    quietFailures = previous;
}

QString TestDataRecord::field(int i) const
{
    if (i < 0 || i >= ends.size())
        return QString();
    const int start = startOf(i);
    return QString(chars.constData() + start, ends.at(i) - start);
}

void TestDataRecord::setField(int i, const QString& text)
{
    if (i < 0)
        return;
    while (ends.size() <= i)
        ends.append(chars.size());
    const int start = startOf(i);
    const int delta = text.size() - (ends.at(i) - start);
    chars.replace(start, ends.at(i) - start, text);
    for (int k = i; k < ends.size(); ++k)
        ends[k] += delta;
}

QStringList TestDataRecord::fieldList() const
{
    QStringList list;
    list.reserve(ends.size());
    for (int i = 0; i < ends.size(); ++i)
        list.append(field(i));
    return list;
}

TestDataSet::TestDataSet(const QString& fileName, char separator, bool readOnly)
    : file(fileName), sep(separator), readOnly(readOnly)
{
}

TestDataSet::~TestDataSet()
{
    qDeleteAll(records);
    delete head;
}

void TestDataSet::setHeader(TestDataRecord* record)
{
    if (record != head)
        delete head;
    head = record;
    index.clear();
    if (!head)
        return;
    for (int i = 0; i < head->fieldCount(); ++i)
        index.insert(head->field(i), i); // a later column wins
}

TestDataSet* TestDataSet::create(const QString& fileName)
{
    const QString suffix = fileName.mid(fileName.lastIndexOf(QLatin1Char('.')) + 1);
    if (suffix == QLatin1String("xls") || suffix == QLatin1String("xlsx"))
        return create(fileName, QString());

    TsvParser parser;
    parser.open(fileName);
    char separator = parser.detectSeparator();
    if (suffix == QLatin1String("tsv"))
        separator = '\t';
    else if (suffix == QLatin1String("csv") && separator == 0)
        separator = ',';
    if (separator == 0)
        return nullptr;
    parser.reset();
    return new TsvTestDataSet(parser, separator);
}

TestDataSet* TestDataSet::create(const QString& fileName, const QString& sheetName)
{
    const QString suffix = fileName.mid(fileName.lastIndexOf(QLatin1Char('.')) + 1);
    if (suffix == QLatin1String("xls"))
        return new ExcelTestDataSet(fileName, sheetName);
    if (suffix == QLatin1String("xlsx"))
        return new ExcelXmlTestDataSet(fileName, sheetName);
    return nullptr;
}

namespace {

void writeLine(QTextStream& out, const TestDataRecord* record, int headerCount, char separator)
{
    const QStringList fields = record->fieldList();
    const QChar sep = QLatin1Char(separator);
    for (int i = 0; i < fields.size(); ++i) {
        if (i > 0)
            out << sep;
        QString text = fields.at(i);
        text.replace(QLatin1Char('"'), QLatin1String("\"\""));
        out << '"' << text << '"';
    }
    for (int i = fields.size(); i < headerCount; ++i)
        if (i > 0)
            out << sep;
    out << '\n';
}

bool flushed(QTextStream& out, QFile& file)
{
    out.flush();
    return out.status() == QTextStream::Ok && file.error() == QFile::NoError;
}

} // namespace

bool TestDataSet::save(const QString& fileName) const
{
    if (readOnly)
        return false;
    QFile target(fileName.isEmpty() ? file : fileName);
    if (!target.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QTextStream out(&target);
    out.setCodec(QTextCodec::codecForName("UTF-8"));
    const int headerCount = head ? head->fieldCount() : 0;
    if (head) {
        writeLine(out, head, headerCount, sep);
        if (!flushed(out, target))
            return false;
    }
    for (const TestDataRecord* record : records) {
        writeLine(out, record, headerCount, sep);
        if (!flushed(out, target))
            return false;
    }
    return true;
}

TsvTestDataSet::TsvTestDataSet(TsvParser& parser, char separator)
    : TestDataSet(parser.fileName(), separator, false)
{
    if (!parser.failure().isEmpty())
        reportDataFailure(this, DataChannel::None, parser.failure());
    QString spill;
    const QChar* text = nullptr;
    int length = 0;
    while (parser.nextRecord(&spill, &text, &length)) {
        parser.parseRecord(this, text, length, separator);
        spill = QString();
    }
    if (!header()) {
        auto* record = new TestDataRecord(this);
        record->appendField(QStringLiteral("1"));
        setHeader(record);
    }
}

bool makePath(const QString& path, bool isFilePath)
{
    const QStringList parts = path.split(QLatin1Char('/'));
    if (isFilePath && parts.size() < 2)
        return true;
    QDir dir = path.startsWith(QLatin1Char('/')) ? QDir(QStringLiteral("/")) : QDir::current();
    const int last = isFilePath ? parts.size() - 1 : parts.size();
    for (int i = 0; i < last; ++i) {
        const QString& part = parts.at(i);
        if (part.isEmpty())
            continue;
        if (!dir.exists(part) && !dir.mkdir(part))
            return false;
        if (!dir.cd(part))
            return false;
    }
    return true;
}

} // namespace Tarvin
