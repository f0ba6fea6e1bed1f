// The runner's view of a data file: see testdatadump.h.
#include "testdatadump.h"

#include "testdata.h"
#include "testdata_p.h"

#include <QFileInfo>

namespace Tarvin {

namespace {

void writeEscaped(QTextStream& out, const QString& text)
{
    QString escaped;
    escaped.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '\\':
            escaped += QLatin1String("\\\\");
            break;
        case '\t':
            escaped += QLatin1String("\\t");
            break;
        case '\r':
            escaped += QLatin1String("\\r");
            break;
        case '\n':
            escaped += QLatin1String("\\n");
            break;
        default:
            escaped += c;
        }
    }
    out << escaped;
}

void writeRecord(QTextStream& out, const TestDataRecord* record)
{
    if (record) {
        const QStringList fields = record->fieldList();
        for (int i = 0; i < fields.size(); ++i) {
            if (i > 0)
                out << '\t';
            writeEscaped(out, fields.at(i));
        }
    }
    out << '\n';
}

} // namespace

bool printTestData(const QString& file, const QString& sheet, QTextStream& out, QString* errorMessage)
{
    QString error;
    SharedPtr<TestDataSet> set;
    {
        FailureCapture capture;
        set = sheet.isEmpty() ? TestDataSet::create(file) : TestDataSet::create(file, sheet);
    }
    if (!set) {
        if (!sheet.isEmpty() && !file.endsWith(QLatin1String(".xls")) && !file.endsWith(QLatin1String(".xlsx")))
            error = QStringLiteral("Only .xls and .xlsx files have sheets: %1").arg(file);
        else if (!QFileInfo(file).isReadable())
            error = QStringLiteral("Couldn't open %1").arg(file);
        else
            error = QStringLiteral("No separator (tab, comma or semicolon) found in %1").arg(file);
    } else {
        error = set->failure();
    }
    if (!error.isEmpty()) {
        if (errorMessage)
            *errorMessage = error;
        return false;
    }
    writeRecord(out, set->header());
    for (int i = 0; i < set->recordCount(); ++i)
        writeRecord(out, set->record(i));
    out.flush();
    return true;
}

} // namespace Tarvin
