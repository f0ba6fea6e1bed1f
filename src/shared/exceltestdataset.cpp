// .xls workbooks: finding the table on the sheet and turning its cells into records.
#include "exceltestdataset.h"

#include "numbertext.h"
#include "swinder.h"
#include "testdata_p.h"

#include <QFile>

#include <charconv>

namespace Tarvin {

namespace {

QString toQString(const Swinder::UString& text)
{
    return QString(reinterpret_cast<const QChar*>(text.data()), static_cast<int>(text.length()));
}

QString cellText(const Swinder::Value& value)
{
    switch (value.type()) {
    case Swinder::Value::Boolean:
        return value.asBoolean() ? QStringLiteral("true") : QStringLiteral("false");
    case Swinder::Value::Integer:
        return QString::number(value.asInteger());
    case Swinder::Value::Float: {
        char buffer[32];
        return QString::fromLatin1(buffer, formatSixDigits(value.asFloat(), buffer));
    }
    case Swinder::Value::String:
    case Swinder::Value::RichText:
    case Swinder::Value::Error:
        return toQString(value.asString());
    default:
        return QStringLiteral("?");
    }
}

// Appends a UTF-8 text as a new field: plain ASCII goes straight into the record, anything else through
// Qt's decoder. Returns the field's length.
int appendUtf8Field(TestDataRecord* record, const char* utf8)
{
    const char* p = utf8;
    while (*p && static_cast<unsigned char>(*p) < 0x80)
        ++p;
    if (*p) {
        const QString text = QString::fromUtf8(utf8);
        record->appendField(text);
        return text.size();
    }
    const int length = static_cast<int>(p - utf8);
    record->appendField(QLatin1String(utf8, length));
    return length;
}

// Appends the cell text of a value (as cellText gives it) to the record as a new field, without a
// QString in between; returns its length.
int appendCellText(TestDataRecord* record, const Swinder::Value& value)
{
    char buffer[32];
    int length = 0;
    switch (value.type()) {
    case Swinder::Value::String:
    case Swinder::Value::RichText: {
        if (const char* utf8 = value.utf8Text())
            return appendUtf8Field(record, utf8);
        const Swinder::UString text = value.asString();
        record->appendField(reinterpret_cast<const QChar*>(text.data()), static_cast<int>(text.length()));
        return static_cast<int>(text.length());
    }
    case Swinder::Value::Integer:
        length = static_cast<int>(std::to_chars(buffer, buffer + sizeof buffer, value.asInteger()).ptr - buffer);
        break;
    case Swinder::Value::Float:
        length = formatSixDigits(value.asFloat(), buffer);
        break;
    default: {
        const QString text = cellText(value);
        record->appendField(text);
        return text.size();
    }
    }
    record->appendField(QLatin1String(buffer, length));
    return length;
}

bool isFilled(Swinder::Cell* cell)
{
    if (!cell)
        return false;
    const Swinder::Value value = cell->value();
    if (const char* utf8 = value.utf8Text())
        return *utf8 != 0;
    return value.type() != Swinder::Value::Empty && !value.asString().isEmpty();
}

const int searchedDiagonals = 50;

} // namespace

ExcelTestDataSet::ExcelTestDataSet(const QString& fileName, const QString& sheetName)
    : TestDataSet(fileName, '$', true)
{
    Swinder::Workbook workbook(nullptr);
    if (!workbook.load(QFile::encodeName(fileName).constData())) {
        reportDataFailure(this, DataChannel::Warning,
                          QStringLiteral("Couldn't load %1").arg(QString::fromLocal8Bit(fileName.toLocal8Bit())));
        return;
    }
    if (workbook.isPasswordProtected()) {
        reportDataFailure(this, DataChannel::Warning, QStringLiteral("passwd protected"));
        return;
    }
    if (workbook.sheetCount() == 0) {
        reportDataFailure(this, DataChannel::Warning, QStringLiteral("no sheets found"));
        return;
    }
    Swinder::Sheet* sheet = nullptr;
    if (sheetName.isEmpty()) {
        sheet = workbook.sheet(0);
    } else {
        for (unsigned i = 0; i < workbook.sheetCount() && !sheet; ++i)
            if (toQString(workbook.sheet(i)->name()) == sheetName)
                sheet = workbook.sheet(i);
    }
    if (!sheet) {
        reportDataFailure(this, DataChannel::StandardError,
                          QStringLiteral("tarvinrunner: sheet not found: ") + sheetName + QLatin1Char('\n'));
        return;
    }

    // The table's top-left cell: the first filled cell along the anti-diagonals from A1.
    int originColumn = -1, originRow = -1;
    for (int d = 0; d < searchedDiagonals && originColumn < 0; ++d) {
        for (int k = 0; k <= d; ++k) {
            if (isFilled(sheet->cell(d - k, k, false))) {
                originColumn = d - k;
                originRow = k;
                break;
            }
        }
    }
    if (originColumn < 0) {
        reportDataFailure(this, DataChannel::Warning, QStringLiteral("no table found"));
        return;
    }

    auto* header = new TestDataRecord(this);
    for (unsigned column = originColumn;; ++column) {
        Swinder::Cell* cell = sheet->cell(column, originRow, false);
        if (!isFilled(cell))
            break;
        header->appendField(cellText(cell->value()));
    }
    if (header->fieldCount() == 0) {
        delete header;
        reportDataFailure(this, DataChannel::Warning, QStringLiteral("no head line found"));
        return;
    }
    setHeader(header);

    const int width = header->fieldCount();
    // Rows end at the sheet's last row at the latest: beyond it there are no cells, so the first row
    // past it is empty and ends the table.
    int previousLength = 0;
    for (unsigned row = originRow + 1;; ++row) {
        auto* record = new TestDataRecord(this);
        // Rows of a table are alike: room for one a little longer than the last saves regrowing.
        record->reserve(width, previousLength + previousLength / 4 + 16);
        int length = 0;
        for (int j = 0; j < width; ++j) {
            Swinder::Cell* cell = sheet->cell(originColumn + j, row, false);
            const Swinder::Value value = cell ? cell->value() : Swinder::Value();
            if (value.type() != Swinder::Value::Empty)
                length += appendCellText(record, value);
            else
                record->endField();
        }
        if (length == 0) {
            delete record;
            break;
        }
        appendRecord(record);
        previousLength = length;
    }
}

} // namespace Tarvin
