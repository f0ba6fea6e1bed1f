// The data-set model, the delimited text reader, writing back, makePath and printTestData.
#include "testdata.h"
#include "testdata_p.h"
#include "testdatadump.h"
#include "tsvparser.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace Tarvin;

namespace {

class TestDataTest : public ::testing::Test {
protected:
    QString write(const QString& name, const QByteArray& content)
    {
        const QString path = dir.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
        return path;
    }

    QByteArray read(const QString& path)
    {
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        return file.readAll();
    }

    // The set's header and records as lists of fields.
    static QList<QStringList> rows(const TestDataSet* set)
    {
        QList<QStringList> out;
        out << (set->header() ? set->header()->fieldList() : QStringList());
        for (int i = 0; i < set->recordCount(); ++i)
            out << set->record(i)->fieldList();
        return out;
    }

    QTemporaryDir dir;
};

TEST_F(TestDataTest, QuotingAndLineEnds)
{
    const QByteArray lf = "h1,h2,h3\na,\"b,c\",\"say \"\"hi\"\"\"\n\"two\nlines\",x,\"\"\n";
    SharedPtr<TestDataSet> set(TestDataSet::create(write("q.csv", lf)));
    ASSERT_TRUE(set);
    ASSERT_EQ(set->recordCount(), 2);
    EXPECT_EQ(set->record(0)->fieldList(), (QStringList{"a", "b,c", "say \"hi\""}));
    EXPECT_EQ(set->record(1)->fieldList(), (QStringList{"two\nlines", "x", ""}));

    QByteArray crlf = lf;
    crlf.replace("\n", "\r\n");
    crlf.replace("two\r\nlines", "two\nlines"); // the quoted line feed is data, not a line end
    SharedPtr<TestDataSet> same(TestDataSet::create(write("q2.csv", crlf)));
    ASSERT_TRUE(same);
    EXPECT_EQ(rows(same.get()), rows(set.get()));

    // A quote inside an unquoted field opens a quoted part; a record of separators only has empty fields.
    SharedPtr<TestDataSet> odd(TestDataSet::create(write("odd.csv", "a,b,c\nx\"y,z\"w,v\n,,\n")));
    ASSERT_EQ(odd->recordCount(), 2);
    EXPECT_EQ(odd->record(0)->fieldList(), (QStringList{"xy,zw", "v"}));
    EXPECT_EQ(odd->record(1)->fieldList(), (QStringList{"", "", ""}));
}

TEST_F(TestDataTest, RecordsAcrossReadChunks)
{
    // The parser reads 64 Ki characters at a time: records, quoted line feeds and CR LF pairs must
    // come out the same wherever a chunk ends. Lines of 7 to 16 characters hit every offset.
    QByteArray content = "key,value\r\n";
    QList<QStringList> expected{{"key", "value"}};
    for (int i = 0; content.size() < 300000; ++i) {
        const QString key = QString::number(i);
        const QString value = QString(i % 10, QLatin1Char('v')) + (i % 3 == 0 ? "\nx" : "");
        content += key.toUtf8() + ",\"" + value.toUtf8() + "\"\r\n";
        expected << QStringList{key, value};
    }
    SharedPtr<TestDataSet> set(TestDataSet::create(write("chunks.csv", content)));
    ASSERT_TRUE(set);
    ASSERT_EQ(rows(set.get()).size(), expected.size());
    EXPECT_EQ(rows(set.get()), expected);
}

TEST_F(TestDataTest, EmptyLineEndsTheData)
{
    SharedPtr<TestDataSet> set(TestDataSet::create(write("e.tsv", "a\tb\n1\t2\n\r\n3\t4\n")));
    ASSERT_TRUE(set);
    EXPECT_EQ(set->recordCount(), 1);
    EXPECT_EQ(set->record(0)->fieldList(), (QStringList{"1", "2"}));

    // An empty file, or one whose first line is empty, gets the header "1".
    for (const char* content : {"", "\nname\n"}) {
        SharedPtr<TestDataSet> empty(TestDataSet::create(write("empty.csv", content)));
        ASSERT_TRUE(empty);
        EXPECT_EQ(empty->header()->fieldList(), QStringList{"1"});
        EXPECT_EQ(empty->recordCount(), 0);
        EXPECT_TRUE(empty->failure().isEmpty());
    }
}

TEST_F(TestDataTest, SeparatorChoice)
{
    SharedPtr<TestDataSet> semi(TestDataSet::create(write("s.csv", "a;b;c\n1;2;3\n")));
    EXPECT_EQ(semi->separator(), ';');
    EXPECT_EQ(semi->header()->fieldCount(), 3);

    SharedPtr<TestDataSet> oneColumn(TestDataSet::create(write("one.csv", "name\nx\ny\n")));
    ASSERT_TRUE(oneColumn);
    EXPECT_EQ(oneColumn->separator(), ',');
    EXPECT_EQ(oneColumn->recordCount(), 2);
    EXPECT_EQ(TestDataSet::create(write("one.txt", "name\nx\ny\n")), nullptr);

    // .tsv is tab whatever the content says; other suffixes detect.
    SharedPtr<TestDataSet> tsv(TestDataSet::create(write("c.tsv", "a,b\n1,2\n")));
    EXPECT_EQ(tsv->separator(), '\t');
    EXPECT_EQ(tsv->header()->fieldList(), QStringList{"a,b"});
    SharedPtr<TestDataSet> txt(TestDataSet::create(write("t.txt", "a\tb\n1\t2\n")));
    EXPECT_EQ(txt->separator(), '\t');

    // Counts must agree across the first three records; ties go to comma, then semicolon, over tab.
    SharedPtr<TestDataSet> tie(TestDataSet::create(write("tie.dat", "a,b;c\td\n1,2;3\t4\n")));
    EXPECT_EQ(tie->separator(), ',');
    SharedPtr<TestDataSet> uneven(TestDataSet::create(write("u.dat", "a,b;c\n1,2,3;4\n")));
    EXPECT_EQ(uneven->separator(), ';');
    SharedPtr<TestDataSet> quoted(TestDataSet::create(write("qq.dat", "\"a;b\"\tc\n\"1;2\"\t3\n")));
    EXPECT_EQ(quoted->separator(), '\t');

    EXPECT_EQ(TsvParser::countSeparators("", ','), -1);
    EXPECT_EQ(TsvParser::countSeparators("a,\"b,c\",\"\"\"\",d", ','), 3);
}

TEST_F(TestDataTest, RecordsAndFields)
{
    testing::internal::CaptureStderr();
    SharedPtr<TestDataSet> set(TestDataSet::create(write("r.csv", "id,name,id\n1,x,2\n3\n")));
    const std::string warnings = testing::internal::GetCapturedStderr();
    ASSERT_TRUE(set);
    EXPECT_EQ(set->fieldIndex("id"), 2);
    EXPECT_EQ(set->fieldIndex("name"), 1);
    EXPECT_EQ(set->fieldIndex("nope"), -1);
    ASSERT_EQ(set->recordCount(), 2);
    TestDataRecord* shortRecord = set->record(1);
    EXPECT_EQ(shortRecord->fieldCount(), 1);
    EXPECT_TRUE(shortRecord->field(1).isNull());
    EXPECT_TRUE(shortRecord->field(-1).isNull());
    EXPECT_EQ(set->record(2), nullptr);
    EXPECT_EQ(set->record(-1), nullptr);
    EXPECT_NE(warnings.find(QString("Warning: inconsistent format in %1 (line 2): Expected 3 fields. Got 1.\n")
                                .arg(dir.filePath("r.csv"))
                                .toStdString()),
              std::string::npos)
        << warnings;

    shortRecord->setField(3, "d");
    shortRecord->setField(-2, "ignored");
    EXPECT_EQ(shortRecord->fieldList(), (QStringList{"3", "", "", "d"}));
    EXPECT_FALSE(shortRecord->field(1).isNull());

    // A new header replaces the index; the record's first member is its set (the Tcl side relies on it).
    auto* header = new TestDataRecord(set.get());
    header->setField(0, "k");
    set->setHeader(header);
    EXPECT_EQ(set->fieldIndex("k"), 0);
    EXPECT_EQ(set->fieldIndex("id"), -1);
    EXPECT_EQ(*reinterpret_cast<TestDataSet**>(header), set.get());
}

TEST_F(TestDataTest, UnreadableFile)
{
    const QString missing = dir.filePath("missing.csv");
    SharedPtr<TestDataSet> set(TestDataSet::create(missing));
    ASSERT_TRUE(set);
    EXPECT_EQ(set->header()->fieldList(), QStringList{"1"});
    EXPECT_EQ(set->recordCount(), 0);
    EXPECT_EQ(set->failure(), "Couldn't open " + missing);
}

TEST_F(TestDataTest, UnterminatedQuoteInLargeFile)
{
    QByteArray content = "a,b\n1,\"open\n";
    for (int i = 0; i < 20000; ++i)
        content += "more,text,in,the,quote\n";
    const QString path = write("big.csv", content);

    SharedPtr<TestDataSet> whole(TestDataSet::create(path));
    ASSERT_EQ(whole->recordCount(), 1);
    EXPECT_EQ(whole->record(0)->field(1).size(), content.size() - 12 + 5); // open, line feed and the rest

    const int saved = tsvMaxRecordLength();
    tsvMaxRecordLength() = 100000;
    testing::internal::CaptureStderr();
    SharedPtr<TestDataSet> capped(TestDataSet::create(path));
    const std::string warnings = testing::internal::GetCapturedStderr();
    tsvMaxRecordLength() = saved;
    EXPECT_EQ(capped->header()->fieldList(), (QStringList{"a", "b"}));
    EXPECT_EQ(capped->recordCount(), 0);
    // One warning (separator detection reads the same record first), naming the file and the cap.
    const std::string expected = "Warning: " + path.toStdString() +
                                 ": record 1 is longer than the cap of 100000 characters (an unterminated quote?); it "
                                 "and every later record were left out";
    const size_t at = warnings.find(expected);
    EXPECT_NE(at, std::string::npos) << warnings;
    EXPECT_EQ(warnings.find(expected, at + 1), std::string::npos) << warnings;
}

TEST_F(TestDataTest, SaveWritesQuotedFields)
{
    SharedPtr<TestDataSet> set(TestDataSet::create(write("s.csv", "a,b,c\n1,\"x\"\"y\",3\nshort\n")));
    ASSERT_TRUE(set);
    const QString copy = dir.filePath("copy.csv");
    testing::internal::CaptureStderr();
    ASSERT_TRUE(set->save(copy));
    EXPECT_EQ(read(copy), "\"a\",\"b\",\"c\"\n\"1\",\"x\"\"y\",\"3\"\n\"short\",,\n");
    SharedPtr<TestDataSet> back(TestDataSet::create(copy));
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(rows(back.get()), (QList<QStringList>{{"a", "b", "c"}, {"1", "x\"y", "3"}, {"short", "", ""}}));

    // An empty name writes the set's own file.
    // Fields are kept in one text: replacing one with a longer or shorter text moves the others.
    set->record(0)->setField(0, "ü-longer");
    set->record(0)->setField(1, "");
    EXPECT_EQ(set->record(0)->fieldList(), (QStringList{"ü-longer", "", "3"}));
    set->record(0)->setField(0, "ü");
    ASSERT_TRUE(set->save());
    EXPECT_TRUE(read(set->fileName()).startsWith("\"a\",\"b\",\"c\"\n\"\xc3\xbc\""));

    EXPECT_FALSE(set->save(dir.filePath("no/such/dir/x.csv")));
    TestDataSet readOnly(dir.filePath("ro.csv"), ',', true);
    EXPECT_FALSE(readOnly.save());
    EXPECT_FALSE(QFile::exists(dir.filePath("ro.csv")));
}

TEST_F(TestDataTest, MakePath)
{
    const QString saved = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    EXPECT_TRUE(makePath("a/b/c.txt", true));
    EXPECT_TRUE(QFileInfo("a/b").isDir());
    EXPECT_FALSE(QFileInfo::exists("a/b/c.txt"));
    EXPECT_TRUE(makePath("a/b/a", true));
    EXPECT_FALSE(QFileInfo::exists("a/b/a"));
    EXPECT_TRUE(makePath("file.txt", true));
    EXPECT_FALSE(QFileInfo::exists("file.txt"));
    EXPECT_TRUE(makePath("testdata", false));
    EXPECT_TRUE(QFileInfo("testdata").isDir());
    EXPECT_TRUE(makePath(dir.filePath("abs/x"), false));
    EXPECT_TRUE(QFileInfo(dir.filePath("abs/x")).isDir());
    write("plain", "x");
    EXPECT_FALSE(makePath("plain/sub", false));
    QDir::setCurrent(saved);
}

TEST_F(TestDataTest, PrintTestDataFailures)
{
    // What a readable file prints is checked end to end (runner_test ShowDataPrintsWhatScriptsGet).
    // Failures write nothing, print nothing, and hand back the reader's message.
    QString text, error;
    QTextStream out(&text);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(printTestData(dir.filePath("gone.csv"), QString(), out, &error));
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(error, "Couldn't open " + dir.filePath("gone.csv"));
    EXPECT_FALSE(printTestData(write("n.txt", "one\ncolumn\n"), QString(), out, &error));
    EXPECT_TRUE(error.startsWith("No separator")) << error.toStdString();
    EXPECT_FALSE(printTestData(write("p.csv", "a,b\n"), "Sheet1", out, &error));
    EXPECT_TRUE(error.startsWith("Only .xls and .xlsx")) << error.toStdString();
    out.flush();
    EXPECT_TRUE(text.isEmpty());
}

} // namespace
