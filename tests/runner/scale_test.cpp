// tarvinrunner end to end for runs that scale out: --jobs against a run one after the other, the parts
// of a sharded run started at once and merged against a serial run, and --rerun-failed.
#include "runnerfixture.h"

#include <QRegularExpression>

namespace {

using ScaleTest = RunnerFixture;

// A report or an output without its times, which differ from run to run (also those tst_timing of the
// example suite measures and prints).
std::string withoutTimes(QString text)
{
    return text.remove(QRegularExpression(" time=\"[0-9.]+\""))
        .remove(QRegularExpression("\\([0-9.]+ s"))
        .replace(QRegularExpression("took [0-9:.]+"), "took T")
        .replace(QRegularExpression("after [0-9]+ of"), "after T of")
        .toStdString();
}

} // namespace

// A suite with every kind of outcome, a crash among them, and test cases that print between pauses, so
// that output of test cases running at once would interleave if it were not held back.
class MixedSuite : public ScaleTest {
protected:
    void SetUp() override
    {
        ScaleTest::SetUp();
        for (int i = 1; i <= 4; ++i)
            write(QString("suite/tst_%1_chatty/test.tcl").arg(i).toUtf8(),
                  QString("proc main {} {\n"
                          "    for {set i 0} {$i < 4} {incr i} { puts \"chatty %1 line $i\"; after 60 }\n"
                          "    puts stderr \"chatty %1 on stderr\"\n"
                          "    test compare %1 %1 \"chatty %1 compared\"\n"
                          "}\n")
                      .arg(i)
                      .toUtf8());
        write("suite/tst_5_fails/test.tcl", "proc main {} { after 100; test compare 1 2 {one is two} }\n");
        write("suite/tst_6_error/test.tcl", "proc main {} {\n    after 50\n    no_such_command\n}\n");
        write("suite/tst_7_skip/test.tcl", "proc main {} { test skip {not today} }\n");
        write("suite/tst_8_crash/test.tcl", "proc main {} {\n    test pass before\n    exec kill -SEGV [pid]\n}\n");
        write("suite/tst_9_last/test.tcl", "proc main {} { test pass last }\n");
    }
    const QString expectedCases = "suite.tst_1_chatty: ok, suite.tst_2_chatty: ok, suite.tst_3_chatty: ok, "
                                  "suite.tst_4_chatty: ok, suite.tst_5_fails: failure, suite.tst_6_error: error, "
                                  "suite.tst_7_skip: skipped, suite.tst_8_crash: error, suite.tst_9_last: ok";
};

TEST_F(MixedSuite, JobsPrintEachTestCaseAsOneBlockInOrderAndReportAsASerialRun)
{
    const RunOutcome serial = run({"--junit", "serial.xml", "suite"});
    ASSERT_EQ(serial.exitCode, 1) << serial.out.toStdString() << serial.err.toStdString();
    EXPECT_EQ(junitCases(dir.filePath("serial.xml"), "classname"), expectedCases);
    for (const char* jobs : {"2", "4"}) {
        SCOPED_TRACE(jobs);
        const RunOutcome parallel = run({"--jobs", jobs, "--junit", "parallel.xml", "suite"});
        EXPECT_EQ(parallel.exitCode, 1) << parallel.err.toStdString();
        EXPECT_EQ(withoutTimes(parallel.out), withoutTimes(serial.out));
        EXPECT_EQ(withoutTimes(read("parallel.xml")), withoutTimes(read("serial.xml")));
        // Each test case's lines between its header and its closing line, and nobody else's.
        QString current;
        for (const QString& line : parallel.out.split('\n')) {
            const QRegularExpressionMatch header = QRegularExpression("^Test case (\\S+)").match(line);
            if (header.hasMatch()) {
                EXPECT_TRUE(current.isEmpty()) << "a header inside " << current.toStdString();
                current = header.captured(1);
            } else if (line.startsWith("PASSED ") || line.startsWith("FAILED ") || line.startsWith("SKIPPED ")) {
                EXPECT_TRUE(line.contains(current)) << line.toStdString();
                current.clear();
            } else if (line.contains("chatty ")) {
                EXPECT_TRUE(line.contains("chatty " + current.mid(4, 1))) << current.toStdString() << ": " << line.toStdString();
            }
        }
#ifdef __SANITIZE_ADDRESS__
        // The sanitizer catches the crash itself and ends the process with status 1.
        EXPECT_CONTAINS(parallel.out, "  ERROR " + dir.filePath("suite/tst_8_crash/test.tcl") +
                                          ":3: the test case's process exited with status 1");
#else
        EXPECT_CONTAINS(parallel.out, "  ERROR " + dir.filePath("suite/tst_8_crash/test.tcl") +
                                          ":3: the test case's process was killed by signal SIGSEGV");
#endif
        EXPECT_CONTAINS(parallel.err, "chatty 3 on stderr\nchatty 4 on stderr");
    }
}

TEST_F(MixedSuite, PartsStartedAtOnceAndMergedMatchASerialRun)
{
    ASSERT_EQ(run({"--junit", "serial.xml", "suite"}).exitCode, 1);
    const QString runner = QStringLiteral(TARVIN_BINARY_DIR "/bin/tarvinrunner");
    // Each way of naming a part, with its own base: every scheme must pick the same split.
    struct Job {
        QStringList args, environment;
    };
    const QList<QList<Job>> runs = {
        {{{"--shard", "1/3"}, {}}, {{}, {"CI_NODE_INDEX=2", "CI_NODE_TOTAL=3"}},
         {{}, {"BUILDKITE_PARALLEL_JOB=2", "BUILDKITE_PARALLEL_JOB_COUNT=3"}}},
        {{{"--shard-count", "4"}, {"JOB_COMPLETION_INDEX=0"}}, {{"--shard-count", "4"}, {"JOB_COMPLETION_INDEX=1"}},
         {{"--shard-count", "4"}, {"JOB_COMPLETION_INDEX=2"}}, {{"--shard-count", "4"}, {"JOB_COMPLETION_INDEX=3"}}},
        {{{"--shard", "1/2", "--durations", "serial.xml"}, {}}, {{"--shard", "2/2", "--durations", "serial.xml"}, {}}},
        {{{"--shard", "1/7"}, {}}, {{"--shard", "2/7"}, {}}, {{"--shard", "3/7"}, {}}, {{"--shard", "4/7"}, {}},
         {{"--shard", "5/7"}, {}}, {{"--shard", "6/7"}, {}}, {{"--shard", "7/7"}, {}}},
    };
    for (const QList<Job>& jobs : runs) {
        SCOPED_TRACE(jobs.first().args.join(' ').toStdString());
        QList<QProcess*> processes;
        QStringList reports;
        for (int i = 0; i < jobs.size(); ++i) {
            QProcess* p = new QProcess;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            for (const QString& variable : jobs[i].environment)
                environment.insert(variable.section('=', 0, 0), variable.section('=', 1));
            p->setProcessEnvironment(environment);
            p->setWorkingDirectory(dir.path());
            reports << QString("part%1.xml").arg(i + 1);
            p->start(runner, jobs[i].args + QStringList{"--junit", reports.last(), "suite"});
            processes << p;
        }
        int ran = 0;
        for (int i = 0; i < processes.size(); ++i) {
            QProcess* p = processes[i];
            EXPECT_TRUE(p->waitForFinished(60000));
            const QString out = QString::fromUtf8(p->readAllStandardOutput());
            const QRegularExpressionMatch part =
                QRegularExpression("^Part (\\d+) of (\\d+)[^:]*: (\\d+) of 9 test cases").match(out);
            ASSERT_TRUE(part.hasMatch()) << out.toStdString() << p->readAllStandardError().toStdString();
            EXPECT_EQ(part.captured(1).toInt(), i + 1);
            EXPECT_EQ(part.captured(2).toInt(), jobs.size());
            ran += part.captured(3).toInt();
            delete p;
        }
        EXPECT_EQ(ran, 9);
        const RunOutcome merged = run(QStringList{"--merge-junit", "merged.xml"} + reports);
        ASSERT_EQ(merged.exitCode, 0) << merged.err.toStdString();
        EXPECT_EQ(merged.err, "") << "no test case in two parts";
        EXPECT_EQ(junitCases(dir.filePath("merged.xml"), "classname"), expectedCases);
        EXPECT_EQ(withoutTimes(read("merged.xml")), withoutTimes(read("serial.xml")));
    }
}

TEST_F(MixedSuite, RerunOfFailuresRunsOnlyThoseAndItsReportReplacesThemInAMerge)
{
    ASSERT_EQ(run({"--junit", "first.xml", "suite"}).exitCode, 1);
    // The failing test cases are fixed; the rerun runs the three that failed or had an error.
    write("suite/tst_5_fails/test.tcl", "proc main {} { test compare 2 2 {two is two} }\n");
    write("suite/tst_6_error/test.tcl", "proc main {} { test pass fixed }\n");
    write("suite/tst_8_crash/test.tcl", "proc main {} { test pass fixed }\n");
    for (const QStringList& paths : {QStringList{"suite"}, QStringList{}}) {
        const RunOutcome rerun = run(QStringList{"--rerun-failed", "first.xml", "--junit", "rerun.xml"} + paths);
        EXPECT_EQ(rerun.exitCode, 0) << rerun.out.toStdString() << rerun.err.toStdString();
        EXPECT_TRUE(rerun.out.startsWith("Rerunning 3 test cases that failed or had an error in first.xml\n"));
        EXPECT_EQ(junitCases(dir.filePath("rerun.xml"), "classname"),
                  "suite.tst_5_fails: ok, suite.tst_6_error: ok, suite.tst_8_crash: ok");
    }
    const RunOutcome merged = run({"--merge-junit", "all.xml", "first.xml", "rerun.xml"});
    EXPECT_EQ(merged.exitCode, 0);
    EXPECT_CONTAINS(merged.err, "tarvinrunner: note: suite.tst_5_fails is in first.xml and in rerun.xml; the one in "
                                "rerun.xml is kept");
    EXPECT_EQ(junitCases(dir.filePath("all.xml"), "classname"), QString(expectedCases)
                                                       .replace("tst_5_fails: failure", "tst_5_fails: ok")
                                                       .replace("tst_6_error: error", "tst_6_error: ok")
                                                       .replace("tst_8_crash: error", "tst_8_crash: ok"));

    // A report of a run elsewhere names scripts that are not here: the suite's PATH is needed.
    write("elsewhere.xml", "<testsuites><testsuite name='suite'><testcase name='tst_x' classname='suite.tst_x' "
                           "file='/nowhere/tst_x/test.tcl'><failure message='m'/></testcase></testsuite></testsuites>");
    const RunOutcome elsewhere = run({"--rerun-failed", "elsewhere.xml"});
    EXPECT_EQ(elsewhere.exitCode, 2);
    EXPECT_CONTAINS(elsewhere.err, "suite.tst_x failed in elsewhere.xml, but its test script /nowhere/tst_x/test.tcl "
                                   "does not exist here; give the suite's PATH to run it from here");
}

// A test case that crashes leaves a background process behind: it is ended, while the background
// process of a test case still running beside it lives on until that one ends, though its parent (a
// shell) has gone and the runner took it in: it is of that test case's process group.
TEST_F(ScaleTest, JobsEndWhatACrashedTestCaseLeftButNotWhatAnotherRunningOneStarted)
{
    write("suite/tst_1_crash/test.tcl", "proc main {} {\n"
                                        "    set f [open ../crash.pid w]; puts $f [exec sleep 300 &]; close $f\n"
                                        "    after 200\n"
                                        "    exec kill -SEGV [pid]\n"
                                        "}\n");
    write("suite/tst_2_long/test.tcl", "proc main {} {\n"
                                       "    set p [exec sh -c {sleep 300 >/dev/null 2>&1 & echo $!}]\n"
                                       "    set f [open ../long.pid w]; puts $f $p; close $f\n"
                                       "    after 1500\n"
                                       "    test verify [expr {![catch {exec kill -0 $p}]}] {still running}\n"
                                       "}\n");
    const RunOutcome r = run({"--jobs", "2", "--junit", "report.xml", "suite"});
    EXPECT_EQ(junitCases(dir.filePath("report.xml"), "classname"), "suite.tst_1_crash: error, suite.tst_2_long: ok")
        << r.out.toStdString();
    for (const char* file : {"crash.pid", "long.pid"}) {
        const qint64 pid = read(QString("suite/") + file).trimmed().toLongLong();
        ASSERT_GT(pid, 0) << file;
        EXPECT_FALSE(QFileInfo::exists(QString("/proc/%1").arg(pid))) << file << " " << pid << " still runs";
    }
}

TEST_F(ScaleTest, BadOptionsAndReportsAreUsageErrors)
{
    write("suite/tst_a/test.tcl", "proc main {} {}\n");
    write("broken.xml", "<testsuites><testsuite>");
    struct Row {
        QStringList args, environment;
        const char* message;
    };
    const Row rows[] = {
        {{"--jobs", "0", "suite"}, {}, "--jobs needs a whole number from 1 to 256"},
        {{"--jobs", "2", "--in-process", "suite"}, {}, "it does not go with --in-process"},
        {{"--shard", "0/3", "suite"}, {}, "--shard takes K/N"},
        {{"--shard", "1/3", "--shard-count", "3", "suite"}, {}, "--shard-count goes with JOB_COMPLETION_INDEX"},
        {{"--shard-count", "3", "suite"}, {}, "JOB_COMPLETION_INDEX (a Kubernetes Indexed Job), which is not set"},
        {{"suite"}, {"JOB_COMPLETION_INDEX=1"}, "with --shard-count N"},
        {{"suite"}, {"CI_NODE_INDEX=4", "CI_NODE_TOTAL=3"}, "CI_NODE_INDEX is '4', which is no part of 3"},
        {{"--durations", "broken.xml", "suite"}, {}, "--durations balances the parts of a sharded run"},
        {{"--shard", "1/2", "--durations", "broken.xml", "suite"}, {}, "broken.xml:1: not a well-formed JUnit report"},
        {{"--rerun-failed", "missing.xml", "suite"}, {}, "cannot read JUnit report missing.xml"},
        {{"--merge-junit", "out.xml"}, {}, "--merge-junit needs the reports to merge"},
        {{"--merge-junit", "out.xml", "missing.xml"}, {}, "cannot read JUnit report missing.xml"},
    };
    for (const Row& row : rows) {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        for (const QString& variable : row.environment)
            environment.insert(variable.section('=', 0, 0), variable.section('=', 1));
        const RunOutcome r = run(row.args, environment);
        EXPECT_EQ(r.exitCode, 2) << row.args.join(' ').toStdString();
        EXPECT_CONTAINS(r.err, row.message);
    }
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("out.xml")));
    // More parts than test cases: the empty part runs nothing and passes, with an empty report to merge.
    const RunOutcome empty = run({"--shard", "2/2", "--junit", "empty.xml", "suite"});
    EXPECT_EQ(empty.exitCode, 0) << empty.err.toStdString();
    EXPECT_CONTAINS(empty.out, "Part 2 of 2: 0 of 1 test cases, split by count\n");
    EXPECT_EQ(junitCases(dir.filePath("empty.xml"), "classname"), "");
}

// The example suite, as the README runs it, with two jobs.
TEST_F(ScaleTest, ExampleSuiteWithTwoJobsReportsAsASerialRun)
{
    const QString suite = QStringLiteral(TARVIN_SOURCE_DIR "/examples/suite");
    const RunOutcome serial = run({"--junit", "serial.xml", suite});
    const RunOutcome parallel = run({"--jobs", "2", "--junit", "parallel.xml", suite});
    EXPECT_EQ(parallel.exitCode, serial.exitCode) << parallel.out.toStdString() << parallel.err.toStdString();
    EXPECT_EQ(withoutTimes(parallel.out), withoutTimes(serial.out));
    EXPECT_EQ(withoutTimes(read("parallel.xml")), withoutTimes(read("serial.xml")));
    // Seven test cases; tst_bdd_entries reports its four scenarios as testcases of their own.
    EXPECT_EQ(junitCases(dir.filePath("serial.xml"), "classname").count(": ok"), 10);
}
