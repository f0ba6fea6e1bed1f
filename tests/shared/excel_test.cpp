// The .xls reader on fixtures written by make_xls_fixtures.py, and on damaged files.
#include "biffcheck.h"
#include "exceltestdataset.h"
#include "numbertext.h"
#include "swinder.h"
#include "testdata.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <random>

using namespace Tarvin;

// libfreexl leaks on some damaged workbooks; that is inside the library, not ours to report.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:libfreexl.so";
}

namespace {

const QString fixture = QStringLiteral(TARVIN_SOURCE_DIR "/tests/shared/data/table.xls");

class ExcelTest : public ::testing::Test {
protected:
    QList<QStringList> load(const QString& path, const QString& sheet = QString())
    {
        testing::internal::CaptureStderr();
        SharedPtr<TestDataSet> set(TestDataSet::create(path, sheet));
        err = testing::internal::GetCapturedStderr();
        EXPECT_TRUE(set);
        EXPECT_TRUE(set->isReadOnly());
        EXPECT_EQ(set->separator(), '$');
        failure = set->failure();
        QList<QStringList> rows;
        if (set->header())
            rows << set->header()->fieldList();
        for (int i = 0; i < set->recordCount(); ++i)
            rows << set->record(i)->fieldList();
        return rows;
    }

    std::string err;
    QString failure;
};

TEST_F(ExcelTest, TableNearTheCorner)
{
    const auto rows = load(fixture, "Data");
    ASSERT_EQ(rows.size(), 5);
    // The header stops at the number in G3; cells right of it are never read.
    EXPECT_EQ(rows[0], (QStringList{"name", "count", "price", "flag"}));
    EXPECT_EQ(rows[1], (QStringList{"Gr\u00fc\u00dfe", "2", "2.5", "true"}));
    EXPECT_EQ(rows[2], (QStringList{"b", "1.23457e+06", "3.14159", "false"}));
    EXPECT_EQ(rows[3], (QStringList{"", "1.2345e-05", "", ""}));
    EXPECT_EQ(rows[4], (QStringList{"2024-01-31", "", "", ""}));
    EXPECT_TRUE(failure.isEmpty());
    EXPECT_EQ(load(fixture), rows) << "without a sheet name the first sheet";

    EXPECT_EQ(load(fixture, "Near"), (QList<QStringList>{{"edge", "second"}, {"v", ""}}));

    // A workbook small enough to sit in the compound file's mini stream.
    EXPECT_EQ(load(TARVIN_SOURCE_DIR "/tests/shared/data/small.xls"), (QList<QStringList>{{"key", "value"}, {"k", "42"}}));
}

// Formula cells read as their cached results, whatever the result's type; a text formula in the header
// row is a field name like any text.
TEST_F(ExcelTest, FormulaResultsAndBooleans)
{
    EXPECT_EQ(load(TARVIN_SOURCE_DIR "/tests/shared/data/formulas.xls"),
              (QList<QStringList>{{"name", "value", "kind"},
                                  {"sum", "3", "number"},
                                  {"text", "a\u00dfb", "text"},
                                  {"yes", "true", "bool"},
                                  {"no", "false", "bool"},
                                  {"err", "#DIV/0!", "error"},
                                  {"cell", "true", "xlwt"},
                                  {"empty", "", "text"}}));
    EXPECT_TRUE(failure.isEmpty());
}

TEST_F(ExcelTest, NoTable)
{
    EXPECT_TRUE(load(fixture, "Far").isEmpty());
    EXPECT_EQ(failure, "no table found");
    // Numbers have no string form, so they never start a table.
    EXPECT_TRUE(load(fixture, "Numbers").isEmpty());
    EXPECT_EQ(failure, "no table found");

    EXPECT_TRUE(load(fixture, "data").isEmpty());
    EXPECT_EQ(err, "tarvinrunner: sheet not found: data\n");

    EXPECT_TRUE(load(TARVIN_SOURCE_DIR "/tests/shared/data/protected.xls").isEmpty());
    EXPECT_EQ(failure, "passwd protected");
}

TEST_F(ExcelTest, DamagedFiles)
{
    QTemporaryDir dir;
    QFile in(fixture);
    ASSERT_TRUE(in.open(QIODevice::ReadOnly));
    const QByteArray whole = in.readAll();
    const struct {
        const char* name;
        QByteArray content;
    } cases[] = {
        {"empty.xls", QByteArray()},
        {"text.xls", "name,value\n1,2\n"},
        {"half.xls", whole.left(whole.size() / 2)},
        {"header.xls", whole.left(512)},
        {"flipped.xls", QByteArray(whole).replace(600, 400, QByteArray(400, '\xff'))},
    };
    for (const auto& c : cases) {
        const QString path = dir.filePath(c.name);
        QFile out(path);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(c.content);
        out.close();
        load(path); // must not crash; a damaged file may still yield part of its data
        if (QByteArray(c.name) != "flipped.xls") {
            EXPECT_EQ(failure, "Couldn't load " + path) << c.name;
        }
    }
    // The fixture with every sheet's dimensions patched to 65536 x 256: 5 KB that would make libfreexl
    // allocate a gigabyte.
    const QString huge = QStringLiteral(TARVIN_SOURCE_DIR "/tests/shared/data/bigdimensions.xls");
    EXPECT_TRUE(load(huge).isEmpty());
    EXPECT_EQ(failure, "Couldn't load " + huge);

    // libfreexl crashes on this one (a FOOTER record swallowing its neighbours); the process that
    // tries it first is a child, and the file is refused.
    const QString crashing = QStringLiteral(TARVIN_SOURCE_DIR "/tests/shared/data/fuzz/xls/footer-swallows-records.xls");
    EXPECT_TRUE(load(crashing).isEmpty());
    EXPECT_EQ(failure, "Couldn't load " + crashing);

    // A file once opened without harm is remembered by size, time and inode: rewritten with the
    // crashing content (same size) under the same name, it is tried in a child again.
    const QString reused = dir.filePath("reused.xls");
    QFile::copy(fixture, reused);
    EXPECT_EQ(load(reused).size(), 5);
    {
        QFile crash(crashing), out(reused);
        ASSERT_TRUE(crash.open(QIODevice::ReadOnly) && out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(crash.readAll());
    }
    EXPECT_TRUE(load(reused).isEmpty());
    EXPECT_EQ(failure, "Couldn't load " + reused);

    load(dir.filePath("missing.xls"));
    EXPECT_EQ(failure, "Couldn't load " + dir.filePath("missing.xls"));
}

TEST(SwinderTest, WorkbookScan)
{
    // Data 9 x 7, Far 30 x 26, Near 26 x 26, Numbers 1 x 2.
    Swinder::WorkbookScan scan = Swinder::scanWorkbook(fixture.toLocal8Bit().constData());
    EXPECT_TRUE(scan.readable && scan.plausible);
    EXPECT_EQ(scan.declaredCells, 9 * 7 + 30 * 26 + 26 * 26 + 2);
    scan = Swinder::scanWorkbook(TARVIN_SOURCE_DIR "/tests/shared/data/bigdimensions.xls");
    EXPECT_EQ(scan.declaredCells, 4LL * 65536 * 256);
    scan = Swinder::scanWorkbook(TARVIN_SOURCE_DIR "/tests/shared/data/small.xls");
    EXPECT_TRUE(scan.readable && scan.plausible);
    EXPECT_EQ(scan.declaredCells, 4);
    EXPECT_FALSE(Swinder::scanWorkbook(TARVIN_SOURCE_DIR "/tests/shared/data/make_xls_fixtures.py").readable);
    EXPECT_FALSE(Swinder::scanWorkbook("/nonexistent").readable);

    // Directory entries whose names are longer than their field: libfreexl reads past its buffer.
    for (const char* name : {"directory-name-65535.xls", "directory-name-39322.xls"})
        EXPECT_FALSE(Swinder::scanWorkbook((QStringLiteral(TARVIN_SOURCE_DIR "/tests/shared/data/fuzz/xls/") + name).toLocal8Bit()).readable) << name;

    // A sheet name longer than its record.
    scan = Swinder::scanWorkbook(TARVIN_SOURCE_DIR "/tests/shared/data/fuzz/xls/sheet-name-too-long.xls");
    EXPECT_TRUE(scan.readable);
    EXPECT_FALSE(scan.plausible);
}

TEST(SwinderTest, ReaderInterface)
{
    Swinder::Workbook book(nullptr);
    EXPECT_FALSE(book.load("/nonexistent.xls"));
    ASSERT_TRUE(book.load(fixture.toLocal8Bit().constData()));
    EXPECT_FALSE(book.isPasswordProtected());
    ASSERT_EQ(book.sheetCount(), 4u);
    EXPECT_EQ(book.sheet(4), nullptr);
    Swinder::Sheet* sheet = book.sheet(0);
    EXPECT_EQ(sheet->name().toUtf8(), "Data");
    EXPECT_EQ(sheet->cell(0, 0, false), nullptr);
    EXPECT_EQ(sheet->cell(5000, 70000, false), nullptr);
    Swinder::Cell* name = sheet->cell(2, 3, false);
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(sheet->cell(2, 3, false), name); // cells stay put
    // A surrogate pair survives both conversions.
    EXPECT_EQ(Swinder::UString::fromUtf8("\xf0\x9f\x98\x80").length(), 2u);
    EXPECT_EQ(Swinder::UString::fromUtf8("\xf0\x9f\x98\x80").toUtf8(), "\xf0\x9f\x98\x80");
    EXPECT_EQ(Swinder::UString::fromUtf8("a\xff").toUtf8(), "a\xef\xbf\xbd");
}

} // namespace

// Number cells are written as printf's %.6g writes them; the fast route must agree with it everywhere,
// above all where rounding is close: ties, carries into the next power of ten, the notation switch.
TEST(NumberTextTest, AgreesWithPrintf)
{
    std::vector<double> values = {0.0, -0.0, 1, -1, 2.5, 3.14159265, 1234567, 999999, 999999.5, 9999995,
                                  0.0001, 0.00001, 0.000099999949, 0.0000999995, 123456.5, 1234565, 0.5,
                                  1e15, 9.999995e15, 1e16, 1e-300, 1e300, 5e-324,
                                  std::numeric_limits<double>::max(),
                                  std::numeric_limits<double>::infinity(),
                                  -std::numeric_limits<double>::infinity()};
    // Around every power of ten in range, and decimal ties at six digits in every decade.
    for (int e = -8; e <= 18; ++e) {
        const double power = std::pow(10.0, e);
        for (double v : {power, std::nextafter(power, 0.0), std::nextafter(power, 1e300), power * 0.9999995,
                         power * 9.999995, power * 1.000005, power * 1.0000049999999})
            values.push_back(v);
        for (int tie = 100000; tie < 100100; ++tie)
            values.push_back((tie + 0.5) * std::pow(10.0, e - 5));
    }
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> decade(-12, 20);
    std::uniform_int_distribution<long> cents(0, 99999999);
    for (int i = 0; i < 300000; ++i) {
        values.push_back(std::pow(10.0, decade(random)) * (i % 2 ? 1 : -1));
        values.push_back(cents(random) / 100.0);  // money, as spreadsheets hold it
        values.push_back(double(random()) / double(random.max()) * 1e6);
    }
    char mine[40];
    char theirs[40];
    int mismatches = 0;
    for (double v : values) {
        const int length = formatSixDigits(v, mine);
        std::snprintf(theirs, sizeof theirs, "%.6g", v);
        if (std::string(mine, length) != theirs && ++mismatches <= 10)
        {
            char exact[40];
            std::snprintf(exact, sizeof exact, "%.17g", v);
            ADD_FAILURE() << exact << " gives " << std::string(mine, length) << ", printf " << theirs;
        }
    }
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(std::string(mine, formatSixDigits(std::nan(""), mine)).find("nan") != std::string::npos, true);
}
