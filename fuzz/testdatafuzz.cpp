// Fuzz entry points for the test data readers; see testdatafuzz.h.
#include "testdatafuzz.h"

#include "../tests/shared/xlsxbuilder.h"
#include "testdata.h"
#include "testdata_p.h"

#include <QString>

#include <cstdio>
#include <string>
#include <unistd.h>

namespace TarvinFuzz {

namespace {

QString writeInput(const char* suffix, const void* data, std::size_t size)
{
    const QString path = QStringLiteral("/tmp/tarvin-fuzz-%1.%2").arg(getpid()).arg(QLatin1String(suffix));
    std::FILE* file = std::fopen(path.toLocal8Bit().constData(), "wb");
    if (file) {
        std::fwrite(data, 1, size, file);
        std::fclose(file);
    }
    return path;
}

void readAll(Tarvin::TestDataSet* set)
{
    if (!set)
        return;
    SharedPtr<Tarvin::TestDataSet> hold(set);
    for (int i = -1; i <= set->recordCount(); ++i) {
        const Tarvin::TestDataRecord* record = i < 0 ? set->header() : set->record(i);
        if (record)
            set->fieldIndex(record->field(0));
    }
}

} // namespace

void delimited(const std::uint8_t* data, std::size_t size)
{
    Tarvin::FailureCapture quiet;
    for (const char* suffix : {"csv", "txt", "tsv"})
        readAll(Tarvin::TestDataSet::create(writeInput(suffix, data, size)));
}

void xlsx(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return;
    Tarvin::FailureCapture quiet;
    const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::string strings = XlsxBuilder::sharedStrings({"a", "b", "c"});
    const std::string sheet =
        XlsxBuilder::sheet("A1:C2", "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"C1\" t=\"s\"><v>2</v></c></row>");
    std::string archive;
    QString sheetName;
    switch (data[0] % 4) {
    case 0:
        archive = rest;
        break;
    case 1:
        archive = XlsxBuilder::zip({{"xl/sharedStrings.xml", strings}, {"xl/worksheets/sheet1.xml", rest}});
        break;
    case 2:
        archive = XlsxBuilder::zip({{"xl/sharedStrings.xml", rest}, {"xl/worksheets/sheet1.xml", sheet}});
        break;
    default:
        archive = XlsxBuilder::zip({{"xl/workbook.xml", rest}, {"xl/worksheets/sheet1.xml", sheet},
                                    {"xl/worksheets/sheet2.xml", sheet}});
        sheetName = QStringLiteral("S");
        break;
    }
    readAll(Tarvin::TestDataSet::create(writeInput("xlsx", archive.data(), archive.size()), sheetName));
}

void xls(const std::uint8_t* data, std::size_t size)
{
    Tarvin::FailureCapture quiet;
    const QString path = writeInput("xls", data, size);
    readAll(Tarvin::TestDataSet::create(path));
    readAll(Tarvin::TestDataSet::create(path, QStringLiteral("Data")));
}

} // namespace TarvinFuzz
