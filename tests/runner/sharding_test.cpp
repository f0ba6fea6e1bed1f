// Splitting a run into parts (sharding.cpp) and reading and merging JUnit reports (reports.cpp).
#include "reports.h"
#include "sharding.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <numeric>
#include <random>

namespace {

QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& text)
{
    QFile file(dir.filePath(name));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(text);
    return file.fileName();
}

} // namespace

TEST(Partition, EveryItemInExactlyOnePartAndNoPartAboveLongestPlusAverage)
{
    std::mt19937 random(7);
    for (int size : {0, 1, 2, 5, 13, 40, 101}) {
        // Four kinds of suites: equal, spread, one giant among small ones, and half unknown.
        for (int kind = 0; kind < 4; ++kind) {
            QList<double> weights;
            for (int i = 0; i < size; ++i) {
                double w = kind == 0 ? 1.0 : std::uniform_real_distribution<double>(0.1, 60.0)(random);
                if (kind == 2 && i == size / 2)
                    w = 1000;
                if (kind == 3 && i % 2)
                    w = -1;
                weights << w;
            }
            double known = 0;
            int knownCount = 0;
            for (double w : weights)
                if (w >= 0) {
                    known += w;
                    ++knownCount;
                }
            QList<double> effective;
            for (double w : weights)
                effective << (w >= 0 ? w : knownCount ? known / knownCount : 1.0);
            const double total = std::accumulate(effective.begin(), effective.end(), 0.0);
            const double longest = effective.isEmpty() ? 0 : *std::max_element(effective.begin(), effective.end());

            for (int parts = 1; parts <= 7; ++parts) {
                SCOPED_TRACE(testing::Message() << "size " << size << ", kind " << kind << ", parts " << parts);
                const QList<QList<int>> split = partition(weights, parts);
                ASSERT_EQ(split.size(), parts);
                QVector<int> seen(size, 0);
                for (const QList<int>& part : split) {
                    EXPECT_TRUE(std::is_sorted(part.begin(), part.end()));
                    double load = 0;
                    for (int item : part) {
                        ASSERT_GE(item, 0);
                        ASSERT_LT(item, size);
                        ++seen[item];
                        load += effective.at(item);
                    }
                    EXPECT_LE(load, longest + total / parts + 1e-9);
                }
                for (int i = 0; i < size; ++i)
                    EXPECT_EQ(seen[i], 1) << "item " << i;
                // Every job computes the split on its own: the same input gives the same parts.
                EXPECT_EQ(partition(weights, parts), split);
                if (kind == 0) {
                    for (int p = 0; p < parts; ++p)
                        for (int item : split.at(p))
                            EXPECT_EQ(item % parts, p) << "equal weights are dealt out in turn";
                }
            }
        }
    }
}

TEST(Shard, ParsesKOfNCountedFromOne)
{
    Shard shard;
    QString error;
    ASSERT_TRUE(parseShard("2/3", &shard, &error)) << error.toStdString();
    EXPECT_EQ(shard.index, 1);
    EXPECT_EQ(shard.total, 3);
    ASSERT_TRUE(parseShard(" 1 / 1 ", &shard, &error));
    EXPECT_EQ(shard.index, 0);
    for (const char* bad : {"0/3", "4/3", "3", "a/b", "", "-1/3", "1/0", "2/3/4"}) {
        error.clear();
        EXPECT_FALSE(parseShard(bad, &shard, &error)) << bad;
        EXPECT_TRUE(error.contains("--shard takes K/N")) << bad;
    }
}

TEST(Shard, CiVariablesWithTheirOwnBases)
{
    struct Row {
        QStringList variables; // NAME=VALUE
        int shardCount;
        ShardSource expected;
        int index, total;
        const char* message; // part of the error, or of the source
    };
    const Row rows[] = {
        {{"CI_NODE_INDEX=1", "CI_NODE_TOTAL=3"}, 0, ShardSource::Found, 0, 3, "CI_NODE_INDEX=1, CI_NODE_TOTAL=3"},
        {{"CI_NODE_INDEX=3", "CI_NODE_TOTAL=3"}, 0, ShardSource::Found, 2, 3, "CI_NODE_INDEX=3"},
        {{"CI_NODE_INDEX=0", "CI_NODE_TOTAL=3"}, 0, ShardSource::Invalid, 0, 0, "counted from 1"},
        {{"CI_NODE_INDEX=4", "CI_NODE_TOTAL=3"}, 0, ShardSource::Invalid, 0, 0, "no part of 3"},
        {{"CI_NODE_INDEX=1"}, 0, ShardSource::Invalid, 0, 0, "CI_NODE_TOTAL is not set"},
        {{"CI_NODE_INDEX=1", "CI_NODE_TOTAL=x"}, 0, ShardSource::Invalid, 0, 0, "CI_NODE_TOTAL is 'x'"},
        {{"CI_NODE_INDEX=2", "CI_NODE_TOTAL=3"}, 4, ShardSource::Invalid, 0, 0, "does not match"},
        {{"BUILDKITE_PARALLEL_JOB=0", "BUILDKITE_PARALLEL_JOB_COUNT=2"}, 0, ShardSource::Found, 0, 2, "BUILDKITE"},
        {{"BUILDKITE_PARALLEL_JOB=1", "BUILDKITE_PARALLEL_JOB_COUNT=2"}, 0, ShardSource::Found, 1, 2, "BUILDKITE"},
        {{"BUILDKITE_PARALLEL_JOB=2", "BUILDKITE_PARALLEL_JOB_COUNT=2"}, 0, ShardSource::Invalid, 0, 0, "counted from 0"},
        {{"JOB_COMPLETION_INDEX=0"}, 3, ShardSource::Found, 0, 3, "--shard-count 3"},
        {{"JOB_COMPLETION_INDEX=2"}, 3, ShardSource::Found, 2, 3, "JOB_COMPLETION_INDEX=2"},
        {{"JOB_COMPLETION_INDEX=3"}, 3, ShardSource::Invalid, 0, 0, "no part of 3"},
        {{"JOB_COMPLETION_INDEX=1"}, 0, ShardSource::Invalid, 0, 0, "--shard-count N"},
        {{}, 3, ShardSource::Invalid, 0, 0, "JOB_COMPLETION_INDEX"},
        {{"PATH=/bin"}, 0, ShardSource::NotSet, 0, 1, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.variables.join(' ').toStdString());
        QProcessEnvironment environment;
        for (const QString& variable : row.variables)
            environment.insert(variable.section('=', 0, 0), variable.section('=', 1));
        Shard shard;
        QString source, error;
        ASSERT_EQ(int(shardFromEnvironment(environment, row.shardCount, &shard, &source, &error)), int(row.expected))
            << error.toStdString();
        if (row.expected == ShardSource::Invalid) {
            EXPECT_TRUE(error.contains(row.message)) << error.toStdString();
        } else {
            EXPECT_EQ(shard.index, row.index);
            EXPECT_EQ(shard.total, row.total);
            EXPECT_TRUE(source.contains(row.message)) << source.toStdString();
        }
    }
}

TEST(Reports, ReadsOutcomesAndMergesWithTheLaterReportWinning)
{
    QTemporaryDir dir;
    const QString first = writeFile(dir, "first.xml", R"(<?xml version="1.0"?>
<testsuites>
  <testsuite name="suite" tests="3">
    <testcase name="tst_b" classname="suite.tst_b" file="/s/tst_b/test.tcl" time="2.500">
      <failure message="m" type="FAIL">m</failure><error message="e" type="ERROR">e</error>
      <system-out>FAIL m &amp; more</system-out>
    </testcase>
    <testcase name="tst_a" classname="suite.tst_a" time="1.000"><failure message="x">x</failure></testcase>
    <testcase name="tst_c" classname="suite.tst_c" time="0.250"><skipped message="s"/></testcase>
  </testsuite>
</testsuites>
)");
    // Another tool's lone testsuite, without classnames; a rerun of tst_a that passed.
    const QString second = writeFile(dir, "second.xml", R"(<testsuite name="suite">
  <testcase name="tst_a" time="0.500"/>
  <testcase name="tst_d" time="3"/>
</testsuite>)");

    QList<ReportedTestCase> cases;
    QString error;
    ASSERT_TRUE(readJUnitReport(first, &cases, &error)) << error.toStdString();
    ASSERT_EQ(cases.size(), 3);
    EXPECT_EQ(cases[0].className, "suite.tst_b");
    EXPECT_EQ(cases[0].outcome, ReportedTestCase::Errored);
    EXPECT_EQ(cases[0].file, "/s/tst_b/test.tcl");
    EXPECT_DOUBLE_EQ(cases[0].seconds, 2.5);
    EXPECT_EQ(cases[1].outcome, ReportedTestCase::Failed);
    EXPECT_EQ(cases[2].outcome, ReportedTestCase::Skipped);
    cases.clear();
    ASSERT_TRUE(readJUnitReport(second, &cases, &error));
    ASSERT_EQ(cases.size(), 2);
    EXPECT_EQ(cases[0].className, "suite.tst_a");
    EXPECT_EQ(cases[0].outcome, ReportedTestCase::Passed);

    QStringList notes;
    const QString merged = dir.filePath("merged.xml");
    ASSERT_TRUE(mergeJUnitReports({first, second}, merged, &notes, &error)) << error.toStdString();
    ASSERT_EQ(notes.size(), 1);
    EXPECT_TRUE(notes[0].contains("suite.tst_a is in " + first + " and in " + second)) << notes[0].toStdString();
    cases.clear();
    ASSERT_TRUE(readJUnitReport(merged, &cases, &error)) << error.toStdString();
    ASSERT_EQ(cases.size(), 4);
    QStringList names;
    for (const ReportedTestCase& c : cases)
        names << c.name + ":" + QString::number(int(c.outcome));
    EXPECT_EQ(names.join(' '), "tst_a:0 tst_b:2 tst_c:3 tst_d:0");
    QFile file(merged);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(file.readAll());
    EXPECT_TRUE(text.contains(R"(<testsuite name="suite" tests="4" failures="0" errors="1" skipped="1" time="6.250">)"))
        << text.toStdString();
    EXPECT_TRUE(text.contains("FAIL m &amp; more")) << "a test case's content is copied as it was";

    // Bad inputs: the message names the file, and no output is left behind.
    const QString broken = writeFile(dir, "broken.xml", "<testsuites>\n<testsuite name='x'>\n</testsuites>\n");
    const QString html = writeFile(dir, "page.xml", "<html/>");
    const QString out = dir.filePath("out.xml");
    EXPECT_FALSE(mergeJUnitReports({first, broken}, out, &notes, &error));
    EXPECT_TRUE(error.startsWith(broken + ":3: not a well-formed JUnit report")) << error.toStdString();
    EXPECT_FALSE(readJUnitReport(html, &cases, &error));
    EXPECT_TRUE(error.contains("its root element is 'html'")) << error.toStdString();
    EXPECT_FALSE(readJUnitReport(dir.filePath("missing.xml"), &cases, &error));
    EXPECT_TRUE(error.startsWith("cannot read JUnit report " + dir.filePath("missing.xml")));
    EXPECT_FALSE(QFile::exists(out));
}
