// The .xlsx reader on workbooks built member by member, including damaged and hostile archives.
#include "excelxml_p.h"
#include "excelxmltestdataset.h"
#include "testdata.h"
#include "xlsxbuilder.h"

#include <tinyxml.h>

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Tarvin;
using XlsxBuilder::Member;

namespace {

class ExcelXmlTest : public ::testing::Test {
protected:
    void TearDown() override { xlsxLimits() = XlsxLimits(); }

    QString write(const std::string& content, const char* name = "book.xlsx")
    {
        const QString path = dir.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(content.data(), static_cast<qint64>(content.size()));
        return path;
    }

    // Reads the workbook and returns header and records, capturing what the reader prints.
    QList<QStringList> load(const std::vector<Member>& members, const QString& sheet = QString())
    {
        return loadFile(write(XlsxBuilder::zip(members)), sheet);
    }

    QList<QStringList> loadFile(const QString& path, const QString& sheet = QString())
    {
        testing::internal::CaptureStderr();
        testing::internal::CaptureStdout();
        SharedPtr<TestDataSet> set(TestDataSet::create(path, sheet));
        out = testing::internal::GetCapturedStdout();
        err = testing::internal::GetCapturedStderr();
        EXPECT_TRUE(set);
        EXPECT_TRUE(set->isReadOnly());
        failure = set->failure();
        QList<QStringList> rows;
        if (set->header() || set->recordCount())
            rows << (set->header() ? set->header()->fieldList() : QStringList());
        for (int i = 0; i < set->recordCount(); ++i)
            rows << set->record(i)->fieldList();
        return rows;
    }

    static Member part(const std::string& name, const std::string& data) { return Member{name, data}; }
    static Member sheet1(const std::string& dimension, const std::string& rows)
    {
        return part("xl/worksheets/sheet1.xml", XlsxBuilder::sheet(dimension, rows));
    }

    QTemporaryDir dir;
    std::string out, err;
    QString failure;
};

TEST_F(ExcelXmlTest, CellsRowsAndSharedStrings)
{
    const std::string strings =
        "<sst><si><t>name</t></si><si><t xml:space=\"preserve\">  padded </t></si>"
        "<si><r><t>rich</t></r><r><rPr/><t> text</t></r></si><si/><si><t>&lt;x&amp;y&gt; \xc3\xa4</t></si></sst>";
    const auto rows = load({part("xl/sharedStrings.xml", strings),
                            sheet1("A1:D3", "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"B1\"><v>3.1400000000000001</v></c>"
                                            "<c r=\"C1\" t=\"s\"><v>4</v></c></row>"
                                            "<row r=\"2\"><c r=\"A2\" t=\"s\"><v>1</v></c><c r=\"C2\" t=\"s\"><v>2</v></c></row>"
                                            "<row r=\"3\"><c r=\"D3\" t=\"b\"><v>1</v></c><c r=\"F3\" t=\"s\"><v>3</v></c></row>")});
    // Cells beyond the dimension's last column stay; an empty si still counts as an entry.
    EXPECT_EQ(rows, (QList<QStringList>{{"name", "3.1400000000000001", "<x&y> \u00e4", ""},
                                        {"  padded ", "", "rich text", ""},
                                        {"", "", "", "1", "", ""}}));
    EXPECT_TRUE(out.empty() && err.empty()) << out << err;
}

TEST_F(ExcelXmlTest, MissingRowsAndDimensions)
{
    // Without shared strings; rows 1 and 2 absent: an empty header and an empty first record.
    auto rows = load({sheet1("A1:C4", "<row r=\"3\"><c r=\"B3\"><v>7</v></c></row><row r=\"4\"/>")});
    EXPECT_EQ(rows, (QList<QStringList>{{"", "", ""}, {"", "", ""}, {"", "7", ""}, {"", "", ""}}));

    rows = load({sheet1("A1", "<row r=\"1\"><c r=\"A1\"><v>x</v></c></row><row r=\"2\"/>")});
    EXPECT_EQ(rows, (QList<QStringList>{{"x"}, {""}}));

    // No dimension: records are as long as their cells; cells without a reference follow each other.
    rows = load({sheet1("", "<row r=\"1\"><c><v>a</v></c><c><v>b</v></c></row><row r=\"2\"><c r=\"B2\"><v>c</v></c></row>")});
    EXPECT_EQ(rows, (QList<QStringList>{{"a", "b"}, {"", "c"}}));

    // A dimension behind the sheet data still counts; only the first one does.
    rows = load({part("xl/worksheets/sheet1.xml",
                      "<worksheet><sheetData><row r=\"1\"><c r=\"A1\"><v>1</v></c></row></sheetData>"
                      "<dimension ref=\"A1:C1\"/><dimension ref=\"A1:E1\"/></worksheet>")});
    EXPECT_EQ(rows, (QList<QStringList>{{"1", "", ""}}));
}

TEST_F(ExcelXmlTest, CellTypes)
{
    const auto rows = load({part("xl/sharedStrings.xml", XlsxBuilder::sharedStrings({"s0"})),
                            sheet1("A1:F1", "<row r=\"1\">"
                                            "<c r=\"A1\" t=\"inlineStr\"><is><t>inline</t></is></c>"
                                            "<c r=\"B1\" t=\"inlineStr\"><is><r><t>in</t></r><r><t>runs</t></r></is></c>"
                                            "<c r=\"C1\" t=\"str\"><f>A1&amp;\"x\"</f><v>formula text</v></c>"
                                            "<c r=\"D1\" t=\"s\"><v>99</v></c>"
                                            "<c r=\"E1\" t=\"s\"><v>x</v></c>"
                                            "<c r=\"F1\"><v>1</v><v>2</v></c>"
                                            "</row>")});
    EXPECT_EQ(rows, (QList<QStringList>{{"inline", "inruns", "formula text", "", "", ""}}));
}

TEST_F(ExcelXmlTest, NamespacePrefixesAndWhiteSpace)
{
    TiXmlBase::SetCondenseWhiteSpace(true);
    const auto rows = load({part("xl/sharedStrings.xml", "<x:sst xmlns:x=\"u\"><x:si><x:t>a  b </x:t></x:si></x:sst>"),
                            part("xl/worksheets/sheet1.xml",
                                 "<?xml version=\"1.0\"?><!-- made by hand --><x:worksheet xmlns:x=\"u\">"
                                 "<x:dimension ref=\"A1:B1\"/><x:sheetData>\n  <x:row r=\"1\">\n"
                                 "    <x:c r=\"A1\" t=\"s\">\n      <x:v>0</x:v>\n    </x:c>\n"
                                 "    <x:c r=\"B1\"><x:v><![CDATA[ raw <cdata> ]]></x:v></x:c>\n"
                                 "  </x:row>\n</x:sheetData></x:worksheet>")});
    EXPECT_EQ(rows, (QList<QStringList>{{"a  b ", " raw <cdata> "}}));
    // The reader switches condensing off only while it runs.
    EXPECT_TRUE(TiXmlBase::IsWhiteSpaceCondensed());
}

TEST_F(ExcelXmlTest, SheetByName)
{
    const std::vector<std::pair<std::string, std::string>> names = {{"Data", "1"}, {"R&amp;D", "3"}};
    const std::vector<Member> book = {part("xl/workbook.xml", XlsxBuilder::workbook(names)),
                                      sheet1("A1", "<row r=\"1\"><c r=\"A1\"><v>one</v></c></row>"),
                                      part("xl/worksheets/sheet3.xml",
                                           XlsxBuilder::sheet("A1", "<row r=\"1\"><c r=\"A1\"><v>three</v></c></row>"))};
    EXPECT_EQ(load(book, "R&D"), (QList<QStringList>{{"three"}}));
    EXPECT_EQ(load(book, "Data"), (QList<QStringList>{{"one"}}));

    EXPECT_TRUE(load(book, "data").isEmpty());
    EXPECT_EQ(err, "tarvinrunner: sheet not found: data\n");
    EXPECT_EQ(failure, "tarvinrunner: sheet not found: data");

    // An empty name reads sheet1.xml and never looks at the workbook part.
    EXPECT_EQ(load({part("xl/workbook.xml", "garbage"), sheet1("A1", "<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>")}),
              (QList<QStringList>{{"1"}}));

    const struct {
        std::string workbook;
        const char* message;
    } corrupt[] = {
        {"<book/>", "tarvinrunner: .xlsx file is corrupt: No <workbook>\n"},
        {"<workbook><x/></workbook>", "tarvinrunner: .xlsx file is corrupt: No <sheets>\n"},
        {"<workbook><sheets></sheets></workbook>", "tarvinrunner: .xlsx file is corrupt: No <sheet>\n"},
        {"<workbook><sheets><sheet name=\"Data\" sheetId=\"1\">", "tarvinrunner: .xlsx file is corrupt: No <sheet>\n"},
    };
    for (const auto& c : corrupt) {
        EXPECT_TRUE(load({part("xl/workbook.xml", c.workbook), sheet1("A1", "")}, "Data").isEmpty());
        EXPECT_EQ(err, c.message) << c.workbook;
    }
    EXPECT_TRUE(load({sheet1("A1", "")}, "Data").isEmpty());
    EXPECT_EQ(err, "tarvinrunner: .xlsx file is corrupt: file is not contained in the archive!\n");
}

TEST_F(ExcelXmlTest, ArchiveErrors)
{
    const Member sheet = sheet1("A1", "<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>");
    const std::string strings = XlsxBuilder::sharedStrings({"a"});

    EXPECT_TRUE(loadFile(write("PK\x03\x04 not really")).isEmpty());
    EXPECT_EQ(err, "tarvinrunner: testData Shared Strings: parameter error when extracting "
                   "'xl/sharedStrings.xml' from archive! \n");
    EXPECT_TRUE(loadFile(dir.filePath("missing.xlsx")).isEmpty());
    EXPECT_EQ(failure, "tarvinrunner: testData Shared Strings: parameter error when extracting "
                       "'xl/sharedStrings.xml' from archive! ");

    // A missing sheet goes to standard output, with the text's own line end and one more.
    EXPECT_TRUE(load({part("xl/sharedStrings.xml", strings)}).isEmpty());
    EXPECT_EQ(out, "tarvinrunner: testData Sheet: file is not contained in the archive!\n\n");
    EXPECT_EQ(err, "");

    Member badCrc = part("xl/sharedStrings.xml", strings);
    badCrc.badCrc = true;
    EXPECT_TRUE(load({badCrc, sheet}).isEmpty());
    EXPECT_EQ(err, "tarvinrunner: testData Shared Strings: crc check failed! \n");

    // A member whose declared size is too small is cut short and fails its checksum; one whose
    // declared size is too large reads what is there.
    Member shortSize = sheet;
    shortSize.declaredSize = 10;
    EXPECT_TRUE(load({shortSize}).isEmpty());
    EXPECT_EQ(out, "tarvinrunner: testData Sheet: crc check failed! \n");
    Member longSize = sheet;
    longSize.declaredSize = 0x7fffffff;
    EXPECT_EQ(load({longSize}), (QList<QStringList>{{"1"}}));

    // Truncated archives: the central directory is gone or cut.
    const std::string whole = XlsxBuilder::zip({part("xl/sharedStrings.xml", strings), sheet});
    for (size_t keep : {whole.size() / 2, size_t(30)}) {
        EXPECT_TRUE(loadFile(write(whole.substr(0, keep))).isEmpty());
        EXPECT_NE(err.find("parameter error"), std::string::npos) << keep;
    }
    EXPECT_TRUE(loadFile(write(whole.substr(0, whole.size() - 10))).isEmpty());
    EXPECT_FALSE(failure.isEmpty());
    // A damaged deflate stream in an intact archive.
    std::string damaged = whole;
    for (size_t i = 60; i < 90; ++i)
        damaged[i] = '\xff';
    loadFile(write(damaged));
    EXPECT_FALSE(failure.isEmpty());
}

TEST_F(ExcelXmlTest, ZipBombAndMemberCaps)
{
    // 40 MB of one repeated byte inflates from about a thousandth of that.
    Member member = sheet1("A1", "<row r=\"1\"><c><v>" + std::string(40u * 1024 * 1024, '0') + "</v></c></row>");
    member.level = Z_BEST_COMPRESSION;
    const std::string bomb = XlsxBuilder::zip({member});
    ASSERT_LT(bomb.size(), 80u * 1024);
    EXPECT_TRUE(loadFile(write(bomb)).isEmpty());
    EXPECT_EQ(out, "tarvinrunner: testData Sheet: unknown error when extracting data 'xl/worksheets/sheet1.xml'.\n");
    // The warning says why: the member was refused for its size.
    EXPECT_NE(err.find(": member 'xl/worksheets/sheet1.xml' is larger than the cap of 268435456 bytes (or inflates "
                       "more than 500 times its compressed size); it was left out"),
              std::string::npos)
        << err;
    EXPECT_EQ(err.find("Warning: "), 0u) << err;

    // The absolute cap counts inflated bytes, whatever the headers declare.
    xlsxLimits().maxMemberBytes = 1000;
    Member big = sheet1("A1", std::string(2000, ' '));
    big.declaredSize = 0x7fffffff;
    big.deflate = false;
    EXPECT_TRUE(load({big}).isEmpty());
    EXPECT_NE(out.find("unknown error"), std::string::npos) << out;
}

TEST_F(ExcelXmlTest, DeepNestingAndOversizedElements)
{
    const int levels = 50000;
    std::string deep;
    for (int i = 0; i < levels; ++i)
        deep += "<x>";
    for (int i = 0; i < levels; ++i)
        deep += "</x>";
    const std::string good = "<row r=\"1\"><c r=\"A1\"><v>kept</v></c></row>";

    // In a row: the rows before it stay.
    auto rows = load({sheet1("A1", good + "<row r=\"2\"><c r=\"A2\">" + deep + "</c></row>" +
                                       "<row r=\"3\"><c r=\"A3\"><v>after</v></c></row>")});
    EXPECT_EQ(rows, (QList<QStringList>{{"kept"}}));
    EXPECT_NE(err.find("the worksheet nests elements deeper than the cap of 64 levels; the rows from row 2 on were "
                       "left out"),
              std::string::npos)
        << err;
    // In the shared strings and at the top of a part.
    rows = load({part("xl/sharedStrings.xml", "<sst><si><t>a</t></si><si>" + deep + "</si></sst>"),
                 sheet1("A1", "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c></row>")});
    EXPECT_EQ(rows, (QList<QStringList>{{"a"}}));
    EXPECT_NE(err.find("xl/sharedStrings.xml nests elements deeper than the cap of 64 levels; the shared strings "
                       "from entry 1 on were left out"),
              std::string::npos)
        << err;
    EXPECT_TRUE(load({part("xl/worksheets/sheet1.xml", deep)}).isEmpty());
    EXPECT_TRUE(load({part("xl/workbook.xml", "<workbook>" + deep + "</workbook>"), sheet1("A1", good)}, "S").isEmpty());
    EXPECT_EQ(err, "tarvinrunner: .xlsx file is corrupt: No <sheets>\n");

    // A declaration inside a row is read differently by TinyXML: the row is not parsed.
    rows = load({sheet1("A1", good + "<row r=\"2\"><!DOCTYPE x [ <c><v>hidden</v></c> ]></row>")});
    EXPECT_EQ(rows, (QList<QStringList>{{"kept"}}));

    xlsxLimits().maxElementBytes = 64;
    rows = load({sheet1("A1", good + "<row r=\"2\"><c r=\"A2\"><v>" + std::string(100, 'y') + "</v></c></row>")});
    EXPECT_EQ(rows, (QList<QStringList>{{"kept"}}));
}

TEST_F(ExcelXmlTest, OutOfRangeReferences)
{
    // A dimension beyond XFD is ignored, so rows are not padded to it.
    auto rows = load({sheet1("A1:XFE1", "<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>")});
    EXPECT_EQ(rows, (QList<QStringList>{{"1"}}));
    rows = load({sheet1("A1:XFD1", "<row r=\"1\"><c r=\"A1\"><v>1</v></c></row>")});
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0].size(), 16384);

    // Cells beyond XFD and rows beyond 1,048,576 are left out.
    rows = load({sheet1("A1:B2", "<row r=\"1\"><c r=\"A1\"><v>a</v></c><c r=\"AAAAAAA1\"><v>x</v></c></row>"
                                 "<row r=\"4294967296\"><c r=\"A9\"><v>y</v></c></row>"
                                 "<row r=\"2\"><c r=\"B2\"><v>b</v></c></row>")});
    EXPECT_EQ(rows, (QList<QStringList>{{"a", ""}, {"", "b"}}));
    EXPECT_NE(err.find("row 4294967296 lies beyond the format's last row 1048576; such rows were left out"),
              std::string::npos)
        << err;

    // Filler rows count against the field cap: the set stops growing and is returned partly filled.
    xlsxLimits().maxFields = 1000;
    rows = load({sheet1("A1:J1", "<row r=\"1\"><c r=\"A1\"><v>h</v></c></row><row r=\"1048576\"/>")});
    EXPECT_EQ(rows.size(), 100);
    EXPECT_NE(err.find("the worksheet holds more than the cap of 1000 fields; row 101 and every later row were left out"),
              std::string::npos)
        << err;
}

} // namespace
