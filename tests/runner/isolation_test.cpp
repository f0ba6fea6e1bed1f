// tarvinrunner end to end: nothing a test case does takes the run down (crashes, exit, deep nesting,
// endless loops, signals), and the smaller faults around calling init, main and cleanup.
#include "runnerfixture.h"

#include <QElapsedTimer>
#include <QThread>

#include <csignal>

namespace {

using IsolationTest = RunnerFixture;

// The processes a runner forked (its test cases').
QStringList runnerChildren(qint64 runner)
{
    QFile children(QStringLiteral("/proc/%1/task/%1/children").arg(runner));
    if (!children.open(QIODevice::ReadOnly))
        return {};
    return QString::fromLatin1(children.readAll()).split(' ', Qt::SkipEmptyParts);
}

bool processAlive(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    // A zombie has ended; only its parent has not looked yet.
    const QByteArray text = stat.readAll();
    const int close = text.lastIndexOf(')');
    return close < 0 || text.mid(close + 2, 1) != "Z";
}

} // namespace

TEST_F(IsolationTest, CrashesAbortsAndExitEndTheirTestCaseOnly)
{
    write("suite/tst_1_fine/test.tcl", "proc main {} { test pass fine }\n");
    // Tcl's parser overflows the stack on this, in the middle of main; the application it started goes.
    const QString crash = write("suite/tst_2_crash/test.tcl", "proc main {} {\n"
                                                              "    set app [startApplication {sleep 300}]\n"
                                                              "    set f [open ../app.pid w]; puts $f [applicationContext $app pid]; close $f\n"
                                                              "    eval \"set x [string repeat {[} 100000]\"\n"
                                                              "}\n"
                                                              "proc cleanup {} { puts {no cleanup in a dead process} }\n");
    const QString abort = write("suite/tst_3_abort/test.tcl", "proc main {} {\n"
                                                              "    test pass before\n"
                                                              "    exec kill -ABRT [pid]\n"
                                                              "}\n");
    // exit 0 after a failed check: an error of this test case, caught or not; cleanup still runs.
    const QString exit0 = write("suite/tst_4_exit/test.tcl", "proc main {} {\n"
                                                             "    test verify 0 \"failed check\"\n"
                                                             "    catch {exit 0}\n"
                                                             "    puts {after exit}\n"
                                                             "}\n"
                                                             "proc cleanup {} { puts -nonewline {cleanup ran} }\n");
    const QString exit3 = write("suite/tst_5_exit3/test.tcl", "test log top\nexit 3\nproc main {} { puts {main ran} }\n");
    write("suite/tst_6_last/test.tcl", "proc main {} { test pass last }\n");

    RunOutcome r = run({"--junit", "report.xml", "suite"});
    EXPECT_EQ(r.exitCode, 1) << r.out.toStdString() << r.err.toStdString();
#ifdef __SANITIZE_ADDRESS__
    // AddressSanitizer catches the overflow itself, reports it and exits with status 1.
    EXPECT_CONTAINS(r.out, "  ERROR " + crash + ":4: the test case's process exited with status 1 before the test "
                                                "case ended\nFAILED tst_2_crash (");
#else
    EXPECT_CONTAINS(r.out, "  ERROR " + crash + ":4: the test case's process was killed by signal SIGSEGV (Segmentation fault)\n"
                           "FAILED tst_2_crash (");
#endif
    EXPECT_CONTAINS(r.out, "  PASS " + abort + ":2: before\n  ERROR " + abort +
                               ":3: the test case's process was killed by signal SIGABRT (Aborted) (a Tcl panic or an "
                               "abort; its message is on stderr)\n");
    EXPECT_CONTAINS(r.out, "  ERROR " + exit0 + ":3: exit 0 ended the test case (an exit is an error; "
                                                "--exit-zero-passes lets exit 0 pass)\n");
    EXPECT_FALSE(r.out.contains("after exit"));
    EXPECT_CONTAINS(r.out, "cleanup ranFAILED tst_4_exit (");
    EXPECT_CONTAINS(r.out, "  ERROR " + exit3 + ":2: exit 3 ended the test case\n");
    EXPECT_FALSE(r.out.contains("main ran"));
    EXPECT_TRUE(r.out.endsWith("PASSED tst_6_last (" + r.out.section("PASSED tst_6_last (", 1)));
    EXPECT_TRUE(r.out.endsWith("Summary: 2 passed, 4 failed\n")) << r.out.toStdString();
    EXPECT_EQ(junitCases(dir.filePath("report.xml")).toStdString(), "tst_1_fine: ok, tst_2_crash: error, tst_3_abort: error, "
                                                      "tst_4_exit: failure, tst_5_exit3: error, tst_6_last: ok");
    const qint64 app = read("suite/app.pid").trimmed().toLongLong();
    EXPECT_GT(app, 0);
    EXPECT_FALSE(processAlive(app)) << "the crashed test case's application runs on";

    // In the runner's own process, exit and time limits still end their test case only.
    write("suite/tst_7_loop/test.tcl", "proc main {} {\n    while 1 {}\n}\n");
    r = run({"--in-process", "--test-timeout", "1", "suite/tst_4_exit", "suite/tst_7_loop", "suite/tst_6_last"});
    EXPECT_CONTAINS(r.out, "  ERROR " + exit0 + ":3: exit 0 ended the test case");
    EXPECT_CONTAINS(r.out, "tst_7_loop/test.tcl:2: the test case exceeded its time limit of 1 seconds\n");
    EXPECT_TRUE(r.out.endsWith("Summary: 1 passed, 2 failed\n")) << r.out.toStdString();

    // With --exit-zero-passes, exit 0 ends its test case without an error.
    write("zero.tcl", "proc main {} {\n    test pass one\n    exit\n    test fail never\n}\n");
    r = run({"--exit-zero-passes", "zero.tcl"});
    EXPECT_EQ(r.exitCode, 0) << r.out.toStdString();
    EXPECT_CONTAINS(r.out, "  LOG " + dir.filePath("zero.tcl") + ":3: exit 0 ended the test case\nPASSED zero (");
}

TEST_F(IsolationTest, TailcallCoroutinesAndDeepNesting)
{
    write("tail.tcl", "proc helper {x} { return \"got $x\" }\n"
                      "proc init {} { tailcall puts {init by tailcall} }\n"
                      "proc main {} {\n"
                      "    puts \"coroutine [coroutine gen apply {{} { yield 1; yield 2; return 3 }}] [gen] [gen]\"\n"
                      "    tailcall test compare [helper 1] {got 1} \"tailcall in main\"\n"
                      "}\n"
                      "proc cleanup {} { tailcall puts {cleanup by tailcall} }\n");
    RunOutcome r = run({"tail.tcl"});
    EXPECT_EQ(r.exitCode, 0) << r.out.toStdString() << r.err.toStdString();
    EXPECT_CONTAINS(r.out, "init by tailcall\ncoroutine 1 2 3\n  PASS ");
    EXPECT_CONTAINS(r.out, "cleanup by tailcall\nPASSED tail");

    // Deeper than Tcl's parser can take: at the top level, in a body, in a sourced file and unclosed.
    const QByteArray run1000 = QByteArray(1001, '[') + "list" + QByteArray(1001, ']');
    const QString top = write("tst_top.tcl", "proc main {} {}\n# comment\n\nset x " + run1000 + "\n");
    const QString body = write("tst_body.tcl", "proc main {} {\n    set ok 1\n    set x " + run1000 + "\n}\n");
    const QString lib = write("lib.tcl", "set a 1\n\nset b " + QByteArray(60000, '[') + "\n");
    const QString sourcing = write("tst_source.tcl", "proc main {} {\n    source lib.tcl\n}\n");
    // 1000 levels are fine.
    QByteArray nested;
    for (int i = 0; i < 999; ++i)
        nested += "[list ";
    write("tst_fine.tcl", "proc main {} { set x " + nested + QByteArray(999, ']') + "; test pass fine }\n");
    r = run({"tst_top.tcl", "tst_body.tcl", "tst_source.tcl", "tst_fine.tcl"});
    EXPECT_EQ(r.exitCode, 1);
    const QString deep = "the script nests more than 1000 levels deep (brackets, braces, quotes, array indices); Tcl "
                         "cannot parse it\n";
    EXPECT_CONTAINS(r.out, "  ERROR " + top + ":4: " + deep + "FAILED");
    EXPECT_CONTAINS(r.out, "  ERROR " + body + ":3: " + deep + "FAILED");
    EXPECT_CONTAINS(r.out, "  ERROR " + sourcing + ":2: In file " + lib + " line 3: " + deep);
    EXPECT_TRUE(r.out.endsWith("Summary: 1 passed, 3 failed\n")) << r.out.toStdString();
    // --check has the same limit.
    r = run({"--check", "tst_top.tcl"});
    EXPECT_CONTAINS(r.out, "too many nested call to analyze");
}

TEST_F(IsolationTest, TimeLimitsEndTestCasesWhereTheyStood)
{
    // A loop that catches everything, stuck in the script: the interpreter's limit ends it at its line.
    const QString loop = write("suite/tst_loop/test.tcl", "proc main {} {\n"
                                                          "    while 1 {\n"
                                                          "        catch { incr i }\n"
                                                          "    }\n"
                                                          "}\n"
                                                          "proc cleanup {} { puts {cleanup ran} }\n");
    // Stuck outside the script (waiting for a program): its process is killed, the line is still known
    // and the program goes too.
    const QString sleep = write("suite/tst_sleep/test.tcl", "proc main {} {\n    set x 1\n    exec sleep 30\n}\n");
    write("suite/tst_quick/test.tcl", "proc main {} { test pass quick }\n");
    QElapsedTimer clock;
    clock.start();
    RunOutcome r = run({"--test-timeout", "1", "--junit", "report.xml", "suite"});
    EXPECT_LT(clock.elapsed(), 15000);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_CONTAINS(r.out, "  ERROR " + loop + ":3: the test case exceeded its time limit of 1 seconds\n");
    EXPECT_CONTAINS(r.out, "cleanup ran\nFAILED tst_loop");
    EXPECT_CONTAINS(r.out, "  ERROR " + sleep + ":3: the test case exceeded its time limit of 1 seconds and did "
                                                "not stop; its process was killed\n");
    EXPECT_CONTAINS(r.out, "PASSED tst_quick");
    EXPECT_EQ(junitCases(dir.filePath("report.xml")).toStdString(), "tst_loop: error, tst_quick: ok, tst_sleep: error");

    // A suite's suite.ini and a script's setTestTimeout replace --test-timeout, in that order.
    write("suite/suite.ini", "[Runner]\nTestTimeout = \"1\"\n");
    write("suite/tst_quick/test.tcl", "setTestTimeout 0\nproc main {} { after 1500; test pass slow }\n");
    r = run({"--test-timeout", "100", "suite/tst_quick", "suite/tst_loop"});
    EXPECT_CONTAINS(r.out, "PASSED tst_quick");
    EXPECT_CONTAINS(r.out, ":3: the test case exceeded its time limit of 1 seconds\n");
    // A test case's time starts with its turn, not when its process was made ready during the one before.
    write("suite/tst_quick/test.tcl", "setTestTimeout 0\nproc main {} { after 3500; test pass slow }\n");
    write("suite/tst_next/test.tcl", "proc main {} { test pass next }\n");
    r = run({"--junit", "report.xml", "suite/tst_quick", "suite/tst_next"});
    EXPECT_CONTAINS(r.out, "PASSED tst_quick");
    EXPECT_CONTAINS(r.out, "PASSED tst_next (0.") << r.out.toStdString();
    EXPECT_EQ(junitCases(dir.filePath("report.xml")).toStdString(), "tst_quick: ok, tst_next: ok");
    write("bad.tcl", "setTestTimeout soon\nproc main {} {}\n");
    r = run({"bad.tcl"});
    EXPECT_CONTAINS(r.out, "bad.tcl:1: setTestTimeout: 'soon' is not a whole number of seconds (0: no limit)");
}

TEST_F(IsolationTest, SignalsEndTheRunWithReportsAndNoProcessLeft)
{
    write("suite/tst_1_busy/test.tcl", "proc main {} {\n"
                                       "    set app [startApplication {sleep 300}]\n"
                                       "    set f [open ../pids w]; puts $f \"[pid] [applicationContext $app pid]\"; close $f\n"
                                       "    while 1 { catch { incr i } }\n"
                                       "}\n"
                                       "proc cleanup {} { puts {cleanup ran} }\n");
    write("suite/tst_2_never/test.tcl", "proc main {} { puts {must not run} }\n");
    auto runUntilBusy = [&](QProcess& p) {
        QFile::remove(dir.filePath("suite/pids"));
        p.setWorkingDirectory(dir.path());
        p.start(QStringLiteral(TARVIN_BINARY_DIR "/bin/tarvinrunner"), {"--junit", "report.xml", "suite"});
        for (int i = 0; i < 500 && read("suite/pids").count(' ') < 1; ++i)
            QThread::msleep(10);
        QThread::msleep(100);
        return read("suite/pids").split(' ');
    };

    QProcess p;
    QStringList pids = runUntilBusy(p);
    ASSERT_EQ(pids.size(), 2) << p.readAllStandardOutput().toStdString();
    // Besides the busy test case's process, the next one's waits for its turn: neither may outlive the run.
    const QStringList children = runnerChildren(p.processId());
    EXPECT_EQ(children.size(), 2) << children.join(' ').toStdString();
    kill(pid_t(p.processId()), SIGTERM);
    ASSERT_TRUE(p.waitForFinished(20000));
    QString out = QString::fromUtf8(p.readAllStandardOutput());
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 143) << out.toStdString();
    EXPECT_CONTAINS(out, dir.filePath("suite/tst_1_busy/test.tcl") + ":4: the run was interrupted\n");
    EXPECT_CONTAINS(out, "cleanup ran\nFAILED tst_1_busy");
    EXPECT_FALSE(out.contains("must not run"));
    EXPECT_TRUE(out.endsWith("Interrupted by SIGTERM; 1 test cases not run\nSummary: 0 passed, 1 failed\n"))
        << out.toStdString();
    EXPECT_EQ(junitCases(dir.filePath("report.xml")).toStdString(), "tst_1_busy: error");
    for (const QString& pid : pids + children)
        EXPECT_FALSE(processAlive(pid.trimmed().toLongLong())) << "process " << pid.toStdString() << " runs on";

    // A cleanup that does not end: the second SIGINT kills the test case at once.
    write("suite/tst_1_busy/test.tcl",
          read("suite/tst_1_busy/test.tcl").replace("puts {cleanup ran}", "while 1 { catch { incr j } }").toUtf8());
    QProcess q;
    pids = runUntilBusy(q);
    ASSERT_EQ(pids.size(), 2);
    kill(pid_t(q.processId()), SIGINT);
    QThread::msleep(300);
    QElapsedTimer clock;
    clock.start();
    kill(pid_t(q.processId()), SIGINT);
    ASSERT_TRUE(q.waitForFinished(20000));
    EXPECT_LT(clock.elapsed(), 2000);
    out = QString::fromUtf8(q.readAllStandardOutput());
    EXPECT_EQ(q.exitCode(), 130) << out.toStdString();
    EXPECT_CONTAINS(out, "the run was interrupted and the test case did not stop; its process was killed\n");
    EXPECT_EQ(junitCases(dir.filePath("report.xml")).toStdString(), "tst_1_busy: error");
    for (const QString& pid : pids)
        EXPECT_FALSE(processAlive(pid.trimmed().toLongLong())) << "process " << pid.toStdString() << " runs on";
}

TEST_F(IsolationTest, ANextTestCaseWhoseWaitingProcessDiedStillRuns)
{
    // The first test case kills every other process of the runner: the one made ready for the second.
    write("suite/tst_1_killer/test.tcl",
          "proc main {} {\n"
          "    set runner [string trim [exec ps -o ppid= -p [pid]]]\n"
          "    set f [open /proc/$runner/task/$runner/children]\n"
          "    set others [lsearch -all -inline -not [split [string trim [read $f]]] [pid]]\n"
          "    close $f\n"
          "    foreach other $others { exec kill -9 $other }\n"
          "    test compare [llength $others] 1 \"the waiting process\"\n"
          "}\n");
    write("suite/tst_2_next/test.tcl", "proc main {} { test pass next }\n");
    write("suite/tst_3_last/test.tcl", "proc main {} { test pass last }\n");
    const RunOutcome r = run({"suite"});
    EXPECT_EQ(r.exitCode, 0) << r.out.toStdString() << r.err.toStdString();
    EXPECT_CONTAINS(r.out, "PASSED tst_2_next");
    EXPECT_TRUE(r.out.endsWith("Summary: 3 passed, 0 failed\n")) << r.out.toStdString();
}

TEST_F(IsolationTest, InitSkipsAndAbortsOutputAndWhereErrorsAre)
{
    // A skip in init skips the test case; with --abort-on-fail a failed check in init ends it. Either
    // way main does not run and cleanup does.
    write("suite/tst_skip/test.tcl", "proc init {} { test skip {not here} }\n"
                                     "proc main {} { test fail {main ran} }\n"
                                     "proc cleanup {} { puts {skip cleanup} }\n");
    write("suite/tst_abort/test.tcl", "proc init {} { test verify 0 {init check} }\n"
                                      "proc main {} { puts {main ran} }\n"
                                      "proc cleanup {} { puts {abort cleanup} }\n");
    RunOutcome r = run({"--abort-on-fail", "--junit", "report.xml", "suite"});
    EXPECT_FALSE(r.out.contains("main ran")) << r.out.toStdString();
    EXPECT_CONTAINS(r.out, "skip cleanup\nSKIPPED tst_skip");
    EXPECT_CONTAINS(r.out, "abort cleanup\nFAILED tst_abort");
    EXPECT_EQ(junitCases(dir.filePath("report.xml")).toStdString(), "tst_abort: failure, tst_skip: skipped");

    // main that takes arguments: the error is at its definition, with no stack; an error in cleanup
    // is at cleanup's line, not where main stopped; output without a line end is not lost.
    const QString script = write("args.tcl", "# main wants an argument\n"
                                             "proc main {x} {\n"
                                             "    puts $x\n"
                                             "}\n"
                                             "proc cleanup {} {\n"
                                             "    puts -nonewline {no line end}\n"
                                             "    error {cleanup failed}\n"
                                             "}\n");
    const QString both = write("both.tcl", "proc helper {} {\n"
                                           "    error {main failed}\n"
                                           "}\n"
                                           "proc main {} {\n"
                                           "    helper\n"
                                           "}\n"
                                           "proc cleanup {} {\n"
                                           "    set x 1\n"
                                           "    error {cleanup failed}\n"
                                           "}\n");
    r = run({"args.tcl", "both.tcl"});
    EXPECT_CONTAINS(r.out, "  ERROR " + script + ":2: wrong # args: should be \"main x\"\n  ERROR " + script +
                               ":7: cleanup failed\n      at " + script + ":7\nno line endFAILED args");
    EXPECT_CONTAINS(r.out, "  ERROR " + both + ":9: cleanup failed\n      at " + both + ":9\nFAILED both");
    EXPECT_FALSE(r.out.contains("errorInfo"));
}

TEST_F(IsolationTest, TestCasesRunInTheirOwnDirectory)
{
    // The runner runs elsewhere; source, open and errors all mean the files beside the script.
    write("case/lib.tcl", "proc fromLib {} {\n    error {in lib}\n}\n");
    write("case/data.txt", "beside the script\n");
    write("lib.tcl", "error {the runner's directory must not be read}\n");
    const QString script = write("case/test.tcl", "proc main {} {\n"
                                                  "    puts [string trim [read [open data.txt]]]\n"
                                                  "    source lib.tcl\n"
                                                  "    fromLib\n"
                                                  "}\n");
    RunOutcome r = run({"case"});
    EXPECT_CONTAINS(r.out, "beside the script\n  ERROR " + dir.filePath("case/lib.tcl") + ":2: in lib\n");
    // A script that changed directory is told which file it really read.
    write("other/lib.tcl", "\nerror {other lib}\n");
    write("case/test.tcl", "proc main {} {\n    cd ../other\n    source lib.tcl\n}\n");
    r = run({"case"});
    EXPECT_CONTAINS(r.out, "  ERROR " + dir.filePath("other/lib.tcl") + ":2: other lib\n");
}
