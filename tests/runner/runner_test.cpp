// tarvinrunner end to end: real scripts, real processes, exit codes and what the user reads.
#include "runnerfixture.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QXmlStreamReader>

namespace {

using RunnerTest = RunnerFixture;

} // namespace

TEST_F(RunnerTest, SuiteRunsEveryCaseAndSummarises)
{
    write("suite/tst_one/test.tcl", "proc main {} { puts one }\n");
    write("suite/tst_two/test.tcl", "proc main {} { puts \"two $::argc [file tail $::argv0]\" }\n");
    write("suite/not_a_case/test.tcl", "proc main {} { error never }\n");
    write("suite/tst_empty/data.txt", "x\n"); // a case without its script fails
    const RunOutcome r = run({"suite"});
    EXPECT_EQ(r.exitCode, 1) << r.out.toStdString() << r.err.toStdString();
    EXPECT_CONTAINS(r.out, "one\n");
    EXPECT_CONTAINS(r.out, "two 0 test.tcl\n");
    EXPECT_CONTAINS(r.out, "PASSED tst_one");
    EXPECT_FALSE(r.out.contains("not_a_case"));
    EXPECT_CONTAINS(r.out, "cannot read test script " + dir.filePath("suite/tst_empty/test.tcl"));
    EXPECT_TRUE(r.out.endsWith("Summary: 2 passed, 1 failed\n")) << r.out.toStdString();
    EXPECT_FALSE(r.out.contains("\033[")) << "no colour when not on a terminal";
    EXPECT_TRUE(r.err.isEmpty()) << r.err.toStdString();
}

// [info script] names the test script while it is evaluated, as with Tcl's own source; a sourced file
// that ends in a top-level return does not take the frame of the procedure that sourced it.
TEST_F(RunnerTest, SourcedFilesFindTheirNeighboursAndKeepTheCallStack)
{
    write("tst_src/early.tcl", "set x 1\nreturn\nset y 2\n");
    const QString script = write("tst_src/test.tcl", "set here [file dirname [info script]]\n"
                                                     "proc helper {} {\n"
                                                     "    source [file join $::here early.tcl]\n"
                                                     "    error \"after source\"\n"
                                                     "}\n"
                                                     "proc main {} {\n"
                                                     "    helper\n"
                                                     "}\n");
    const RunOutcome r = run({"tst_src"});
    EXPECT_CONTAINS(r.out, script + ":4: after source\n      at " + script + ":4\n      at " + script + ":7\n");
}

// `info frame` in the test script and in a sourced file says what tclsh says: the file and its line,
// inside procedures too (scripts that log their own place rely on it).
TEST_F(RunnerTest, InfoFrameGivesFileAndLineAsTclshDoes)
{
    write("tst_frame/lib.tcl", "\nproc libWhere {} {\n"
                          "    set f [info frame 0]\n"
                          "    return \"[dict get $f type] [dict get $f line] [file tail [dict get $f file]]\"\n"
                          "}\n");
    write("tst_frame/test.tcl", "source [file join [file dirname [info script]] lib.tcl]\n"
                                "proc caller {} { return [dict get [info frame -1] line] }\n"
                                "proc main {} {\n"
                                "    test compare [libWhere] {source 3 lib.tcl}\n"
                                "    test compare [caller] 5\n"
                                "}\n");
    const RunOutcome r = run({"tst_frame"});
    EXPECT_EQ(r.exitCode, 0) << r.out.toStdString();
    EXPECT_EQ(r.out.count("PASS "), 2) << r.out.toStdString();
}

TEST_F(RunnerTest, ErrorsNameFileAndLine)
{
    // Line 5 of the file is line 2 of helper; main calls it from line 9.
    const QString inProc = write("tst_proc/test.tcl", "# a test\n"
                                                      "\n"
                                                      "\n"
                                                      "proc helper {} {\n"
                                                      "    error \"helper failed\"\n"
                                                      "}\n"
                                                      "\n"
                                                      "proc main {} {\n"
                                                      "    helper\n"
                                                      "}\n"
                                                      "set ready 1\n");
    const QString topLevel = write("tst_top/test.tcl", "set x 1\nset y $undefined\nproc main {} {}\n");
    const QString noMain = write("tst_nomain/test.tcl", "proc notmain {} {}\n");
    write("tst_nofile/README", "no test.tcl here\n");

    RunOutcome r = run({"tst_proc", "tst_top", "tst_nomain"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_CONTAINS(r.out, inProc + ":5: helper failed\n");
    // The call stack, innermost first; main is called by the runner, so the top level is not its caller.
    EXPECT_CONTAINS(r.out, "      at " + inProc + ":5\n      at " + inProc + ":9\nFAILED tst_proc (");
    EXPECT_CONTAINS(r.out, topLevel + ":2: can't read \"undefined\": no such variable\n");
    EXPECT_CONTAINS(r.out, noMain + ": the test script defines no 'main' procedure");
    EXPECT_TRUE(r.out.endsWith("Summary: 0 passed, 3 failed\n")) << r.out.toStdString();
    // A directory with neither test.tcl nor test cases is a usage error; nothing runs.
    r = run({"tst_proc", "tst_nofile"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.out.isEmpty());
    EXPECT_EQ(r.err, QString("tarvinrunner: tst_nofile: not a test script, a feature file, a test case directory "
                             "(with test.tcl or test.feature) or a suite directory (with tst_* test case directories)\n"
                             "Try 'tarvinrunner --help' for more information.\n"));
    // A path may hold what looks like a placeholder; it stays as it is, and so does the line.
    const QString percent = write("tst_100%1/test.tcl", "proc main {} {\n    error oops\n}\n");
    r = run({"tst_100%1"});
    EXPECT_CONTAINS(r.out, percent + ":2: oops\n      at " + percent + ":2\n");
}

TEST_F(RunnerTest, ErrorsOfEventLoopCallbacksAreErrorsOfTheTestCase)
{
    // tclsh only prints them; here they count, at their line, and the script goes on.
    const QString callbacks = write("tst_callbacks/test.tcl", "proc main {} {\n"
                                                              "    after 1 {\n"
                                                              "        set x 1\n"
                                                              "        error \"late failure\"\n"
                                                              "    }\n"
                                                              "    after 20 {set ::done 1}\n"
                                                              "    vwait ::done\n"
                                                              "    after 1 {expr {1/0}}\n"
                                                              "    after 10\n"
                                                              "    update\n"
                                                              "    puts {went on}\n"
                                                              "}\n");
    // A script's own handler has them instead.
    write("tst_own/test.tcl", "proc bgerror {message} { puts \"own handler: $message\" }\n"
                              "proc main {} {\n"
                              "    after 1 {error first}\n"
                              "    after 10\n"
                              "    update\n"
                              "    interp bgerror {} {apply {{message options} { puts \"handler: $message\" }}}\n"
                              "    after 1 {error second}\n"
                              "    after 10\n"
                              "    update\n"
                              "}\n");
    RunOutcome r = run({"tst_callbacks", "tst_own"});
    EXPECT_CONTAINS(r.out, "  ERROR " + callbacks + ":4: late failure\n"
                           "      in a callback of the event loop:\n"
                           "      while executing\n"
                           "      \"error \"late failure\"\"\n"
                           "          (\"after\" script)\n");
    // A one-line callback has no line of its own: the error is where the event loop ran it.
    EXPECT_CONTAINS(r.out, "  ERROR " + callbacks + ":10: divide by zero\n");
    EXPECT_CONTAINS(r.out, "went on\nFAILED tst_callbacks (");
    EXPECT_CONTAINS(r.out, "own handler: first\nhandler: second\nPASSED tst_own");
}

TEST_F(RunnerTest, InitMainCleanupRunInOrderAndCleanupAlwaysRuns)
{
    write("tst_order.tcl", "proc init {} { puts init }\n"
                           "proc main {} { puts main; error {main failed} }\n"
                           // a library command in cleanup must not inherit main's error
                           "proc cleanup {} { __tarvin_dbg step 0 0 0; puts cleanup }\n");
    write("tst_initfails.tcl", "proc init {} { error {no set-up} }\n"
                               "proc main {} { puts {main ran} }\n"
                               "proc cleanup {} { puts {cleanup ran} }\n");
    const RunOutcome r = run({"tst_order.tcl", "tst_initfails.tcl"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_CONTAINS(r.out, "init\nmain\n");
    EXPECT_CONTAINS(r.out, "main failed\n");
    EXPECT_CONTAINS(r.out, "cleanup\n");
    EXPECT_FALSE(r.out.contains("main ran"));
    EXPECT_CONTAINS(r.out, "cleanup ran");
    EXPECT_CONTAINS(r.out, "Test case tst_order");
}

TEST_F(RunnerTest, UsageErrorsExitWithTwo)
{
    RunOutcome r = run({"--help"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.out.startsWith("Usage: tarvinrunner [options] PATH...\n"));
    for (const char* option : {"--check", "--library", "--no-color", "--verbose", "--version", "--test-timeout",
                               "--exit-zero-passes", "--in-process", "setTestTimeout", "Signals:", "Exit status"})
        EXPECT_CONTAINS(r.out, option);

    r = run({});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_CONTAINS(r.err, "tarvinrunner: no test given");

    r = run({"--frobnicate", "x"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_CONTAINS(r.err, "unknown option '--frobnicate'");

    r = run({"no/such/test.tcl"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_CONTAINS(r.err, "tarvinrunner: no/such/test.tcl: no such file or directory");

    write("t.tcl", "proc main {} {}\n");
    r = run({"--library", "/nonexistent/libtarvintcl.so", "t.tcl"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_CONTAINS(r.err, "tarvinrunner: cannot load the Tcl back end: /nonexistent/libtarvintcl.so");
}

TEST_F(RunnerTest, InstallationPrefixAndDamagedSettings)
{
    write("t.tcl", "proc main {} { puts [lindex $::auto_path end] }\n");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();

    // Unset: the build tree the runner lives in is the installation.
    env.remove("TARVIN_PREFIX");
    RunOutcome r = run({"t.tcl"}, env);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_CONTAINS(r.out, QDir::cleanPath(TARVIN_BINARY_DIR) + "/lib/tcl\n");
    EXPECT_TRUE(r.err.isEmpty()) << r.err.toStdString();

    // A damaged paths.ini is named in a warning; Tcl still starts from its default places.
    write("prefix/etc/paths.ini", "[Paths]\nScripting/TclLibrary\n");
    env.insert("TARVIN_PREFIX", dir.filePath("prefix"));
    r = run({"t.tcl"}, env);
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_CONTAINS(r.err, "tarvinrunner: warning: Tarvin::Settings::parse: in file " + dir.filePath("prefix/etc/paths.ini") +
                               ": corrupted line `Scripting/TclLibrary' in group `Paths'");
    EXPECT_CONTAINS(r.out, dir.filePath("prefix") + "/lib/tcl\n");
    // Said once per run, with the line, however many test cases read the settings.
    write("t2.tcl", "proc main {} {}\n");
    r = run({"t.tcl", "t2.tcl"}, env);
    EXPECT_EQ(r.err.count("warning:"), 1) << r.err.toStdString();
    EXPECT_CONTAINS(r.err, "in group `Paths' (line 2)\n");

    // A prefix that is no directory is named.
    env.insert("TARVIN_PREFIX", dir.filePath("no/such/prefix"));
    r = run({"t.tcl"}, env);
    EXPECT_CONTAINS(r.err, "tarvinrunner: warning: TARVIN_PREFIX names " + dir.filePath("no/such/prefix") +
                               ", which is not a directory; Tcl is looked for in its default places\n");
}

TEST_F(RunnerTest, ResultsAreReportedWithFileAndLineAndWrittenAsJUnit)
{
    const QString checks = write("suite/tst_checks/test.tcl", "proc main {} {\n"
                                                              "    test compare [expr {2 + 2}] 4 \"sum\"\n"
                                                              "    test startSection \"Details\"\n"
                                                              "    test verify [expr {1 > 2}] \"one is bigger\"\n"
                                                              "    test endSection\n"
                                                              "    test attachFile data.txt\n"
                                                              "}\n");
    write("suite/tst_checks/data.txt", "kept with the results\n");
    const QString skipping = write("suite/tst_skipping/test.tcl", "proc main {} {\n"
                                                                  "    test skip \"not on this machine\"\n"
                                                                  "    test fail \"never reached\"\n"
                                                                  "}\n");
    write("suite/tst_fine/test.tcl", "proc main {} { test pass fine }\n");
    const RunOutcome r = run({"--junit", "report.xml", "--results", "results", "suite"});
    EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
    EXPECT_CONTAINS(r.out, "  PASS " + checks + ":2: sum\n");
    EXPECT_CONTAINS(r.out, "  Section: Details\n    FAIL " + checks + ":4: one is bigger\n");
    EXPECT_CONTAINS(r.out, "FAILED tst_checks (");
    EXPECT_CONTAINS(r.out, "SKIPPED " + skipping + ":2: not on this machine\n");
    EXPECT_FALSE(r.out.contains("never reached"));
    EXPECT_TRUE(r.out.endsWith("Summary: 1 passed, 1 failed, 1 skipped\n")) << r.out.toStdString();
    EXPECT_TRUE(QFile::exists(dir.filePath("results/suite/tst_checks/data.txt")));

    QFile report(dir.filePath("report.xml"));
    ASSERT_TRUE(report.open(QIODevice::ReadOnly));
    QXmlStreamReader xml(&report);
    QStringList seen;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        const QXmlStreamAttributes a = xml.attributes();
        if (xml.name() == QLatin1String("testsuite"))
            seen << QStringLiteral("suite %1 tests=%2 failures=%3 skipped=%4")
                        .arg(a.value("name"), a.value("tests"), a.value("failures"), a.value("skipped"));
        else if (xml.name() == QLatin1String("testcase"))
            seen << QStringLiteral("case %1").arg(a.value("name"));
        else if (xml.name() == QLatin1String("failure"))
            seen << QStringLiteral("failure %1").arg(a.value("message"));
        else if (xml.name() == QLatin1String("skipped"))
            seen << QStringLiteral("skipped %1").arg(a.value("message"));
    }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    EXPECT_EQ(seen, QStringList({"suite suite tests=3 failures=1 skipped=1", "case tst_checks",
                                 "failure " + checks + ":4: one is bigger", "case tst_fine", "case tst_skipping",
                                 "skipped " + skipping + ":2: not on this machine"}));

    // A report that cannot be written is a set-up error, after the run.
    const RunOutcome unwritable = run({"--junit", "no/such/dir/report.xml", "suite/tst_fine"});
    EXPECT_EQ(unwritable.exitCode, 2);
    EXPECT_CONTAINS(unwritable.err, "tarvinrunner: cannot write JUnit report no/such/dir/report.xml");
}

TEST_F(RunnerTest, AbortOnFailureEndsTheTestCaseAtTheFirstFailure)
{
    write("t.tcl", "proc main {} {\n    test verify 0 first\n    puts {still running}\n}\n");
    RunOutcome r = run({"t.tcl"});
    EXPECT_CONTAINS(r.out, "still running");
    r = run({"--abort-on-fail", "t.tcl"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_FALSE(r.out.contains("still running"));
    EXPECT_FALSE(r.out.contains("ERROR")) << "the failure is reported once, not again as a script error";
}

TEST_F(RunnerTest, CheckReportsSyntaxErrorsCompilerStyleWithoutRunning)
{
    write("scripts/sub/bad.tcl", "proc main {} {\n    set x [list a b\n    puts $x\n}\n");
    write("scripts/good.tcl", "proc main {} { error {must not run} }\n");
    RunOutcome r = run({"--check", "scripts"});
    EXPECT_EQ(r.exitCode, 1);
    // At the bracket that was not closed, as FILE:LINE:COLUMN.
    EXPECT_EQ(r.out, QString("scripts/sub/bad.tcl:2:11: missing ] [opened line 2, c11] !\n"));
    EXPECT_EQ(r.out.count('\n'), 1) << "one line per error, nothing for the good script";
    r = run({"--check", "scripts/good.tcl"});
    EXPECT_EQ(r.exitCode, 0) << r.out.toStdString();
    EXPECT_TRUE(r.out.isEmpty()) << r.out.toStdString();
}

TEST_F(RunnerTest, ApplicationsStartOnRequestAndEndWithTheirTestCase)
{
    const QString fake = QStringLiteral(TARVIN_BINARY_DIR "/bin/fakeapp");
    write("suite/tst_1_start/test.tcl",
          QStringLiteral("proc main {} {\n"
                         "    puts \"before: [llength [applicationContextList]] [catch {findObject {type MainWindow}}]\"\n"
                         "    set a [startApplication {FAKE --sleep 60000}]\n"
                         "    set b [startApplication {FAKE --sleep 60000}]\n"
                         "    applicationContext $b detach\n"
                         "    set f [open ../pids.txt w]\n"
                         "    puts $f \"[applicationContext $a pid] [applicationContext $b pid]\"\n"
                         "    close $f\n"
                         "    startApplication demo_addressbook\n"
                         "}\n")
              .replace(QLatin1String("FAKE"), fake)
              .toUtf8());
    write("suite/tst_2_next/test.tcl", "proc main {} {\n"
                                     "    set pids [read [open ../pids.txt]]\n"
                                     "    puts \"next: [llength [applicationContextList]]\"\n"
                                     "    puts \"alive: [file exists /proc/[lindex $pids 0]] [file exists /proc/[lindex $pids 1]]\"\n"
                                     "    startApplication demo_addressbook\n"
                                     "    puts [property get [findObject {type PushButton name addButton}] text]\n"
                                     "}\n");
    const RunOutcome r = run({"suite"});
    EXPECT_EQ(r.exitCode, 0) << r.out.toStdString() << r.err.toStdString();
    EXPECT_CONTAINS(r.out, "before: 0 1\n");
    // The test case's own process ended with it; the detached one runs until the runner exits.
    EXPECT_CONTAINS(r.out, "next: 0\nalive: 0 1\nAdd\n");

    QFile pids(dir.filePath("suite/pids.txt"));
    ASSERT_TRUE(pids.open(QIODevice::ReadOnly));
    const QList<QByteArray> numbers = pids.readAll().trimmed().split(' ');
    ASSERT_EQ(numbers.size(), 2);
    for (const QByteArray& pid : numbers) {
        EXPECT_GT(pid.toLongLong(), 0);
        EXPECT_FALSE(QFile::exists(QStringLiteral("/proc/%1").arg(QString::fromLatin1(pid))))
            << "process " << pid.toStdString() << " was left running";
    }
}

TEST_F(RunnerTest, CallStackOmitsProceduresThatReturned)
{
    // helper returns without `return`, viaUplevel runs code one level up before it calls fails.
    const QString script = write("stack.tcl", "proc helper {} {\n"
                                              "    expr {1 + 1}\n"
                                              "}\n"
                                              "proc viaUplevel {} {\n"
                                              "    uplevel 1 {set y 2}\n"
                                              "    fails\n"
                                              "}\n"
                                              "proc fails {} {\n"
                                              "    error deliberate\n"
                                              "}\n"
                                              "proc main {} {\n"
                                              "    helper\n"
                                              "    helper\n"
                                              "    viaUplevel\n"
                                              "}\n");
    const RunOutcome r = run({"stack.tcl"});
    EXPECT_CONTAINS(r.out, script + ":9: deliberate\n      at " + script + ":9\n      at " + script + ":6\n      at " +
                               script + ":14\nFAILED");
}

TEST_F(RunnerTest, ShowDataPrintsWhatScriptsGet)
{
    // Line ends, tabs and backslashes are escaped; a short record prints its own fields.
    write("people.csv", "name,note\nAda,\"line one\r\nline two\"\n\"Grace\",\"tab\there, back\\\\slash\"\nonly\n");
    RunOutcome r = run({"--show-data", "people.csv"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, QString("name\tnote\nAda\tline one\\r\\nline two\nGrace\ttab\\there, back\\\\\\\\slash\nonly\n"));

    r = run({"--show-data", "missing.csv"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.out.isEmpty());
    EXPECT_CONTAINS(r.err, "tarvinrunner: ");
    EXPECT_CONTAINS(r.err, "missing.csv");

    r = run({"--sheet", "Sheet1", "people.csv"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_CONTAINS(r.err, "--sheet goes with --show-data");
}

TEST_F(RunnerTest, DataFilesAreFoundInTheTestCaseAndTheSuite)
{
    write("suite/shared/testdata/shared.csv", "user,role\nada,admin\ngrace,viewer\n");
    write("suite/tst_data/testdata/own.tsv", "item\tcount\nbolts\t12\n");
    write("suite/tst_data/test.tcl",
          "proc main {} {\n"
          "    foreach record [testData dataset shared.csv] {\n"
          "        test log \"[testData field $record user] is [testData field $record role]\"\n"
          "    }\n"
          "    set own [lindex [testData dataset own.tsv] 0]\n"
          "    test compare [testData field $own count] 12 \"count read from the test case's own data\"\n"
          "    test compare [tarvininfo testCaseName] tst_data\n"
          "    test compare [tarvininfo testSuiteName] suite\n"
          "}\n");
    const RunOutcome r = run({"suite"});
    EXPECT_EQ(r.exitCode, 0) << r.out.toStdString() << r.err.toStdString();
    EXPECT_CONTAINS(r.out, "LOG " + dir.filePath("suite/tst_data/test.tcl") + ":3: ada is admin\n");
    EXPECT_CONTAINS(r.out, "grace is viewer");
    EXPECT_CONTAINS(r.out, "PASSED tst_data (");
}

TEST_F(RunnerTest, ResultsAfterANestedCallNameTheCallingLine)
{
    // twice ends without `return`: no hook marks its end before `test compare` reports.
    write("lib.tcl", "proc twice {x} {\n    set y [expr {2 * $x}]\n    expr {$y}\n}\n");
    const QString script = write("nested.tcl", "source [file join [file dirname $argv0] lib.tcl]\n"
                                               "proc main {} {\n"
                                               "    test compare [twice 21] 42 \"doubled\"\n"
                                               "    test compare [twice [twice 1]] 4 \"twice twice\"\n"
                                               "}\n");
    const RunOutcome r = run({"nested.tcl"});
    EXPECT_EQ(r.exitCode, 0) << r.out.toStdString();
    EXPECT_CONTAINS(r.out, "PASS " + script + ":3: doubled\n");
    EXPECT_CONTAINS(r.out, "PASS " + script + ":4: twice twice\n");
}

TEST_F(RunnerTest, DeepStacksStayReadable)
{
    write("recurse.tcl", "proc f {n} { f [incr n] }\nproc main {} { f 0 }\n");
    write("mutual.tcl", "proc a {n} { if {$n > 0} { b [expr {$n - 1}] } else { error deep } }\n"
                        "proc b {n} { a $n }\n"
                        "proc main {} { a 60 }\n");
    RunOutcome r = run({"recurse.tcl"});
    EXPECT_CONTAINS(r.out, "too many nested evaluations");
    // main's own call is one of Tcl's 1000 nested evaluations; the other 999 are calls of f.
    EXPECT_CONTAINS(r.out, "recurse.tcl:1 (999 times)\n      at " + dir.filePath("recurse.tcl") + ":2\n");
    EXPECT_LT(r.out.count('\n'), 10);
    r = run({"mutual.tcl"});
    EXPECT_CONTAINS(r.out, "      ... 102 more frames ...\n");
    EXPECT_LT(r.out.count('\n'), 30);
}

TEST_F(RunnerTest, SuiteObjectMapNamesObjects)
{
    write("suite/shared/scripts/names.tcl",
          "package require tarvin::objectmaphelper\n"
          "namespace eval names {\n"
          "    set Main_Window [::Tarvin::ObjectName name mainWindow type MainWindow]\n"
          "    set Add_Button [::Tarvin::ObjectName container $Main_Window name addButton type PushButton]\n"
          "    set Größe_1 [::Tarvin::ObjectName {type StatusBar}]\n"
          "}\n");
    write("suite/tst_map/test.tcl",
          "proc main {} {\n"
          "    test compare [objectMap symbolicName {name mainWindow type MainWindow}] {$names::Main_Window} \"symbolic\"\n"
          "}\n");
    // Test cases run in name order; each reads the map afresh, nothing added by an earlier one remains.
    write("suite/tst_again/test.tcl",
          "proc main {} {\n"
          "    startApplication demo_addressbook\n"
          "    test compare [objectMap add [waitForObject {type Table}]] {$names::entries_Table} \"added\"\n"
          "    test compare [property get [waitForObject $names::entries_Table] rowCount] 0 \"usable at once\"\n"
          "    test compare [objectMap add [waitForObject {type PushButton name addButton}]] {$names::Add_Button} \"known\"\n"
          "}\n");
    write("suite/tst_zlast/test.tcl",
          "proc main {} {\n"
          "    test compare [objectMap symbolicNames] {{$names::Add_Button} {$names::Größe_1} {$names::Main_Window}}\n"
          "}\n");
    const RunOutcome r = run({"suite"});
    EXPECT_EQ(r.exitCode, 0) << r.out.toStdString() << r.err.toStdString();
    EXPECT_TRUE(r.out.endsWith("Summary: 3 passed, 0 failed\n")) << r.out.toStdString();
}

TEST_F(RunnerTest, ObjectMapErrorsNameFileAndLine)
{
    // The suite's map is broken at line 4: no test case of the suite runs.
    const QString names = write("suite/shared/scripts/names.tcl", "package require tarvin::objectmaphelper\n"
                                                                  "namespace eval names {\n"
                                                                  "    set A [::Tarvin::ObjectName type A]\n"
                                                                  "    set B [noSuchCommand]\n"
                                                                  "}\n");
    write("suite/tst_one/test.tcl", "proc main {} { puts {must not run} }\n");
    RunOutcome r = run({"suite"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_CONTAINS(r.out, "ERROR In file " + names + " line 4: invalid command name \"noSuchCommand\"\n");
    EXPECT_FALSE(r.out.contains("must not run"));

    // objectMap load: an error in the loaded file fails the command with its place.
    write("lone/tst_load/test.tcl", "proc main {} {\n"
                                    "    objectMap load extra.tcl\n"
                                    "    test compare [objectMap realName $names::X] {type X}\n"
                                    "    objectMap load broken.tcl\n"
                                    "}\n");
    write("lone/tst_load/extra.tcl", "namespace eval names { set X [::Tarvin::ObjectName type X] }\n");
    const QString broken = write("lone/tst_load/broken.tcl", "namespace eval names {\n\n    set Y [::Tarvin::ObjectName a]b c]\n}\n");
    r = run({"lone/tst_load"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out.count("PASS "), 1) << r.out.toStdString();
    EXPECT_CONTAINS(r.out, ": In file " + broken + " line 3: ");

    // A brace left open: Tcl only knows the file ended too early; the report names the brace's line.
    const QString open = write("open/shared/scripts/names.tcl", "package require tarvin::objectmaphelper\n"
                                                               "namespace eval names {\n"
                                                               "    set A [::Tarvin::ObjectName type A]\n"
                                                               "    set B [::Tarvin::ObjectName {type B]\n"
                                                               "    set C [::Tarvin::ObjectName type C]\n"
                                                               "}\n");
    write("open/tst_one/test.tcl", "proc main {} {}\n");
    r = run({"open"});
    EXPECT_CONTAINS(r.out, "ERROR In file " + open + " line 4: missing close-brace\n");
}

// The runner keeps what it read of names.tcl for the test cases after the first, but a file changed
// in between (here by a test case) is read again: its new entries count, its new errors are reported.
TEST_F(RunnerTest, ObjectMapChangedDuringTheRunIsReadAgain)
{
    const QString names = write("suite/shared/scripts/names.tcl", "package require tarvin::objectmaphelper\n"
                                                                  "namespace eval names {\n"
                                                                  "    set A [::Tarvin::ObjectName type A]\n"
                                                                  "}\n");
    write("suite/tst_1/test.tcl", "proc main {} { test compare [objectMap realName $names::A] {type A} }\n");
    write("suite/tst_2/test.tcl",
          "proc main {} {\n"
          "    test compare [objectMap realName $names::A] {type A}\n"
          "    set f [open {" + names.toUtf8() + "} w]\n"
          "    puts $f \"package require tarvin::objectmaphelper\\nnamespace eval names {\\n\"\n"
          "    puts $f {    set A [::Tarvin::ObjectName type A2]}\n"
          "    puts $f \"}\"\n"
          "    close $f\n"
          "}\n");
    write("suite/tst_3/test.tcl", "proc main {} { test compare [objectMap realName $names::A] {type A2} }\n");
    write("suite/tst_4/test.tcl",
          "proc main {} {\n"
          "    set f [open {" + names.toUtf8() + "} w]\n"
          "    puts $f \"namespace eval names {\\n\\n    set B \\[noSuchCommand\\]\\n}\"\n"
          "    close $f\n"
          "}\n");
    write("suite/tst_5/test.tcl", "proc main {} { puts {must not run} }\n");
    const RunOutcome r = run({"suite"});
    EXPECT_EQ(r.out.count("PASS "), 3) << r.out.toStdString();
    EXPECT_CONTAINS(r.out, "ERROR In file " + names + " line 3: invalid command name \"noSuchCommand\"\n");
    EXPECT_FALSE(r.out.contains("must not run"));
    EXPECT_TRUE(r.out.endsWith("Summary: 4 passed, 1 failed\n")) << r.out.toStdString();
}

TEST_F(RunnerTest, FeatureFilesRunWithTheirStepDefinitions)
{
    const QString feature = write("suite/tst_bdd/test.feature", "Feature: Sums\n"
                                                                "  Scenario: Right\n"
                                                                "    Given the number 2\n"
                                                                "    When I add 3\n"
                                                                "    Then I get 5\n"
                                                                "  Scenario: Broken\n"
                                                                "    Given the number 2\n"
                                                                "    When I divide by 0\n"
                                                                "    Then I get 5\n"
                                                                "  Scenario: Wrong\n"
                                                                "    Given the number 2\n"
                                                                "    Then I get 7\n"
                                                                "    And nothing else\n"
                                                                "  Scenario: Unknown\n"
                                                                "    Given a banana\n"
                                                                "  Scenario: Clash\n"
                                                                "    Given a clash\n"
                                                                "  Scenario: Arity\n"
                                                                "    Then I get 2 exactly\n");
    const QString steps = write("suite/tst_bdd/steps/numbers.tcl", "When \"I add |integer|\" {n} {\n"
                                                                   "    incr ::number $n\n"
                                                                   "}\n"
                                                                   "When \"I divide by |integer|\" {n} {\n"
                                                                   "    set ::number [expr {$::number / $n}]\n"
                                                                   "}\n"
                                                                   "Then \"nothing else\" {} {}\n"
                                                                   "Given \"a clash\" {} {}\n"
                                                                   "Step \"a cl|any|\" {x} {}\n"
                                                                   "Then \"I get |integer| exactly\" {} {}\n");
    const QString common = write("suite/shared/steps/common.tcl", "Given \"the number |integer|\" {n} { set ::number $n }\n"
                                           "Then \"I get |integer|\" {n} {\n"
                                           "    test compare $::number $n \"result\"\n"
                                           "}\n");
    // A test.tcl of its own runs the feature with tags.
    const QString tagged = write("suite/tst_tagged/test.feature", "Feature: Tags\n"
                                                                  "  @no\n  Scenario: Left out\n    Given a banana\n"
                                                                  "  Scenario: Run\n    Given the number 1\n");
    write("suite/tst_tagged/test.tcl", "package require tarvin::bdd\n"
                                       "collectStepDefinitions\n"
                                       "proc main {} {\n"
                                       "    test verify [runFeatureFile test.feature ~@no] \"all scenarios passed\"\n"
                                       "}\n");
    const QString bad = write("suite/tst_bad/test.feature", "Feature: Bad\n  Scenario: s\n    Given x\n  Then what\n  oops\n"
                                                          "  Scenario Outline: o\n    Given y\n");

    const RunOutcome r = run({"--junit", "report.xml", "suite"});
    EXPECT_EQ(r.exitCode, 1) << r.out.toStdString() << r.err.toStdString();
    EXPECT_CONTAINS(r.out, "Test case tst_bdd (suite/tst_bdd/test.feature)\n  Section: Feature: Sums\n"
                           "    Section: Scenario: Right\n      PASS " + feature + ":3: Given the number 2\n");
    // A failing step names the feature line and, below, the line of the step definition.
    EXPECT_CONTAINS(r.out, "      ERROR " + feature + ":8: Step failed: When I divide by 0: divide by zero\n"
                           "          at " + steps + ":5\n      LOG");
    EXPECT_CONTAINS(r.out, "      LOG " + feature + ":9: Not run: Then I get 5\n");
    // A failed verification fails its step, and the rest of the scenario is not run.
    EXPECT_CONTAINS(r.out, "      FAIL " + common + ":3: result\n");
    EXPECT_CONTAINS(r.out, "      FAIL " + feature + ":12: Step failed: Then I get 7\n");
    EXPECT_CONTAINS(r.out, "      LOG " + feature + ":13: Not run: And nothing else\n");
    EXPECT_CONTAINS(r.out, "      ERROR " + feature + ":15: Undefined step: Given a banana\n");
    EXPECT_CONTAINS(r.out, "      ERROR " + feature + ":17: Ambiguous step: Given a clash\n"
                           "          2 step definitions match:\n          " + steps + ":8: Given \"a clash\"\n"
                           "          " + steps + ":9: Step \"a cl|any|\"\n");
    // A definition that cannot take the step's values: no stack below it, the failure is not in a script.
    EXPECT_CONTAINS(r.out, "      ERROR " + feature + ":19: Step failed: Then I get 2 exactly: the step definition at " +
                               steps + ":10 (Then \"I get |integer| exactly\") takes the parameters {} but the "
                                       "step gives 1 values (1 from the pattern)\n    End of section");
    EXPECT_CONTAINS(r.out, "FAILED tst_bdd (");
    EXPECT_FALSE(r.out.contains("Left out"));
    EXPECT_CONTAINS(r.out, "PASS " + tagged + ":6: Given the number 1\n");
    EXPECT_CONTAINS(r.out, "PASSED tst_tagged (");
    // A malformed feature file fails its test case with the line and what was expected there.
    EXPECT_CONTAINS(r.out, "ERROR " + bad + ":5: expected a step (Given, When, Then, And, But), a table, a doc "
                                            "string or a new Scenario, found 'oops'\n");
    EXPECT_CONTAINS(r.out, "ERROR " + bad + ":6: the Scenario Outline 'o' has no Examples\n");
    EXPECT_CONTAINS(r.out, "FAILED tst_bad (");

    QFile report(dir.filePath("report.xml"));
    ASSERT_TRUE(report.open(QIODevice::ReadOnly));
    const QString xml = QString::fromUtf8(report.readAll());
    EXPECT_CONTAINS(xml, "<error message=\"" + feature + ":8: Step failed: When I divide by 0: divide by zero\"");
    // One testcase per scenario, named by feature and scenario; the feature of tst_tagged passed in a
    // test.tcl whose own verification lies outside its scenarios, and counts only there.
    EXPECT_CONTAINS(xml, "<testcase name=\"Sums: Right\" classname=\"suite.tst_bdd\" file=\"" + feature + "\"");
    EXPECT_CONTAINS(xml, "<testcase name=\"Sums: Arity\" classname=\"suite.tst_bdd\"");
    EXPECT_CONTAINS(xml, "<testcase name=\"Tags: Run\" classname=\"suite.tst_tagged\"");
    EXPECT_FALSE(xml.contains("name=\"tst_bdd\"")) << "no failure outside the scenarios";
    EXPECT_CONTAINS(xml, "<testcase name=\"tst_bad\" classname=\"suite.tst_bad\"");
    EXPECT_CONTAINS(xml, "<testsuite name=\"suite\" tests=\"8\" failures=\"1\" errors=\"5\"");
    // The summary counts scenarios and steps too.
    EXPECT_CONTAINS(r.out, "Summary: 1 passed, 2 failed\nScenarios: 7 (2 passed, 5 failed); steps: 13 (6 passed, "
                           "3 failed, 1 undefined, 1 ambiguous, 2 skipped)\n");

    // With --abort-on-fail the first failed scenario ends the feature; the verification is reported once.
    const RunOutcome abort = run({"--abort-on-fail", "suite/tst_bdd/test.feature"});
    EXPECT_EQ(abort.exitCode, 1);
    EXPECT_CONTAINS(abort.out, "Section: Scenario: Broken");
    EXPECT_FALSE(abort.out.contains("Section: Scenario: Wrong"));
    EXPECT_CONTAINS(abort.out, "LOG " + feature + ":10: Not run: Scenario: Wrong\n");
    EXPECT_CONTAINS(abort.out, "LOG " + feature + ":16: Not run: Scenario: Clash\n");
    EXPECT_CONTAINS(abort.out, "Scenarios: 6 (1 passed, 1 failed, 4 not run); steps: 6 (4 passed, 1 failed, 1 skipped)");
}

TEST_F(RunnerTest, FeaturesAreSelectedByTagsCheckedInADryRunAndUndefinedStepsGetDefinitions)
{
    const QString feature = write("suite/tst_tags/test.feature", "@all\nFeature: Tags\n"
                                                                 "  @smoke\n  Scenario: Quick\n    Given the number 2\n"
                                                                 "  @smoke @slow\n  Scenario: Long\n    Given the number 3\n"
                                                                 "  Scenario: Other\n"
                                                                 "    Given I have 12 \"red\" apples in \"the big box\"\n"
                                                                 "    When I pay -3 euros on day 2.5\n"
                                                                 "      | a |\n"
                                                                 "    Then I have 12 \"red\" apples in \"the big box\"\n"
                                                                 "    And the note\n      \"\"\"\n      text\n      \"\"\"\n"
                                                                 "  Scenario: Again\n"
                                                                 "    Given I have 12 \"red\" apples in \"the big box\"\n");
    write("suite/tst_tags/steps/numbers.tcl", "Given \"the number |integer|\" {n} {\n"
                                              "    close [open ran.txt w]\n"
                                              "}\n"
                                              "OnScenarioStart {context} { close [open hook.txt w] }\n");
    write("suite/tst_script/test.tcl", "proc main {} { close [open ../tst_tags/script.txt w] }\n");

    RunOutcome r = run({"--tags", "@smoke and not @slow", "suite/tst_tags"});
    EXPECT_EQ(r.exitCode, 0) << r.out.toStdString() << r.err.toStdString();
    EXPECT_CONTAINS(r.out, "PASS " + feature + ":5: Given the number 2\n");
    EXPECT_FALSE(r.out.contains("Long")) << r.out.toStdString();
    EXPECT_FALSE(r.out.contains("Other")) << r.out.toStdString();

    r = run({"--tags", "(@slow or not @smoke) and @all", "suite/tst_tags"});
    EXPECT_CONTAINS(r.out, "Scenario: Long");
    EXPECT_CONTAINS(r.out, "Scenario: Other");
    EXPECT_FALSE(r.out.contains("Quick")) << r.out.toStdString();

    // Cucumber's JSON report: features, scenarios with their tags, steps with keyword, status and line.
    r = run({"--tags", "not @slow", "--format", "cucumber-json", "report.json", "suite/tst_tags"});
    QFile json(dir.filePath("report.json"));
    ASSERT_TRUE(json.open(QIODevice::ReadOnly));
    const QJsonArray features = QJsonDocument::fromJson(json.readAll()).array();
    ASSERT_EQ(features.size(), 1);
    const QJsonObject tagsFeature = features.at(0).toObject();
    EXPECT_EQ(tagsFeature.value("uri").toString(), "suite/tst_tags/test.feature") << "relative, as Cucumber writes it";
    EXPECT_EQ(tagsFeature.value("name").toString(), "Tags");
    const QJsonArray elements = tagsFeature.value("elements").toArray();
    ASSERT_EQ(elements.size(), 3); // Quick, Other, Again
    const QJsonObject quick = elements.at(0).toObject();
    EXPECT_EQ(quick.value("name").toString(), "Quick");
    EXPECT_EQ(quick.value("tags").toArray().at(1).toObject().value("name").toString(), "@smoke");
    const QJsonObject quickStep = quick.value("steps").toArray().at(0).toObject();
    EXPECT_EQ(quickStep.value("keyword").toString(), "Given ");
    EXPECT_EQ(quickStep.value("name").toString(), "the number 2");
    EXPECT_EQ(quickStep.value("line").toInt(), 5);
    EXPECT_EQ(quickStep.value("result").toObject().value("status").toString(), "passed");
    QStringList statuses;
    for (const QJsonValue step : elements.at(1).toObject().value("steps").toArray())
        statuses << step.toObject().value("result").toObject().value("status").toString();
    EXPECT_EQ(statuses, (QStringList{"undefined", "skipped", "skipped", "skipped"}));

    r = run({"--tags", "@smoke and", "suite/tst_tags"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_CONTAINS(r.err, "--tags: tag expression '@smoke and' could not be parsed: a tag is missing after 'and'");

    // A dry run runs no step, no hook and no script, and reports every step that is not defined.
    QFile::remove(dir.filePath("suite/tst_tags/ran.txt"));
    QFile::remove(dir.filePath("suite/tst_tags/hook.txt"));
    r = run({"--dry-run", "suite"});
    EXPECT_EQ(r.exitCode, 1) << r.out.toStdString();
    EXPECT_FALSE(QFile::exists(dir.filePath("suite/tst_tags/ran.txt")));
    EXPECT_FALSE(QFile::exists(dir.filePath("suite/tst_tags/hook.txt")));
    EXPECT_FALSE(QFile::exists(dir.filePath("suite/tst_tags/script.txt")));
    EXPECT_FALSE(r.out.contains("PASS ")) << r.out.toStdString();
    EXPECT_CONTAINS(r.out, "ERROR " + feature + ":10: Undefined step: Given I have 12 \"red\" apples in \"the big box\"\n");
    EXPECT_CONTAINS(r.out, "SKIPPED");
    EXPECT_CONTAINS(r.out, "a dry run checks feature files only");

    // Each undefined step's definition is proposed once at the end, ready to paste.
    const int from = r.out.indexOf("Undefined steps can be defined");
    const QString snippets = r.out.mid(from, r.out.indexOf("Summary:") - from);
    EXPECT_EQ(snippets.count("Given {I have |integer| \"|word|\" apples in \"|any|\"} {number text text2} {\n"
                             "    error \"the step is not written yet\"\n}"), 1) << snippets.toStdString();
    EXPECT_CONTAINS(snippets, "When {I pay |integer| euros on day 2.5} {number table} {");
    EXPECT_CONTAINS(snippets, "Then {I have |integer| \"|word|\" apples in \"|any|\"} {number text text2} {");
    EXPECT_CONTAINS(snippets, "Then {the note} {docString} {");

    // A pasted definition matches its step.
    QFile steps(dir.filePath("suite/tst_tags/steps/numbers.tcl"));
    ASSERT_TRUE(steps.open(QIODevice::Append));
    for (const QString& part : snippets.split("\n\n", Qt::SkipEmptyParts).mid(1))
        steps.write(part.toUtf8() + "\n");
    steps.close();
    r = run({"--dry-run", "suite/tst_tags"});
    EXPECT_EQ(r.exitCode, 0) << r.out.toStdString();
    EXPECT_FALSE(r.out.contains("Undefined")) << r.out.toStdString();

    // A definition that cannot be registered is an error at its line in the step file.
    write("other/tst_badrx/test.feature", "Feature: F\n  Scenario: S\n    Given x\n");
    const QString badSteps = write("other/tst_badrx/steps/s.tcl", "Given \"x\" {} {}\nWhen -rx {(} {} {}\n");
    r = run({"other/tst_badrx"});
    EXPECT_CONTAINS(r.out, "ERROR " + badSteps + ":2: invalid step pattern '(' at " + badSteps + ":2: ");
    // The call stack of an error in a step file stops at the user's files: the driver that sourced it
    // is the tool's.
    EXPECT_FALSE(r.out.contains("bdd.tcl")) << r.out.toStdString();
}

TEST_F(RunnerTest, EveryScriptGetsTheNativeApi)
{
    // The example suite's timing case drives the demo with OS, stopWatch and deadline.
    const RunOutcome r = run({TARVIN_SOURCE_DIR "/examples/suite/tst_timing"});
    EXPECT_EQ(r.exitCode, 0) << r.out.toStdString() << r.err.toStdString();
    EXPECT_CONTAINS(r.out, "PASSED tst_timing");
}

// objectMap save: what a test case added goes into the suite's names.tcl, for the test cases after it.
TEST_F(RunnerTest, AddedObjectMapEntriesAreSavedOnRequest)
{
    write("suite/shared/scripts/names.tcl",
          "package require tarvin::objectmaphelper\n"
          "namespace eval names {\n"
          "    set Main_Window [::Tarvin::ObjectName name mainWindow type MainWindow]\n"
          "}\n");
    write("suite/tst_1_add/test.tcl",
          "proc main {} {\n"
          "    startApplication demo_addressbook\n"
          "    test compare [objectMap add [waitForObject {type Table}]] {$names::entries_Table}\n"
          "    objectMap save\n"
          "}\n");
    write("suite/tst_2_use/test.tcl",
          "proc main {} {\n"
          "    startApplication demo_addressbook\n"
          "    test compare [property get [waitForObject $names::entries_Table] rowCount] 0\n"
          "}\n");
    write("lone.tcl", "proc main {} { objectMap save }\n");
    RunOutcome r = run({"suite"});
    EXPECT_EQ(r.exitCode, 0) << r.out.toStdString() << r.err.toStdString();
    EXPECT_CONTAINS(read("suite/shared/scripts/names.tcl"), "    set entries_Table [::Tarvin::ObjectName ");
    r = run({"lone.tcl"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_CONTAINS(r.out, "The test case belongs to no suite with an object map (shared/scripts/names.tcl)");
}

// Errors in everyday Tcl 8.6 code are reported at the line of the failing command, with the lines of
// the procedures that were running: one row per case (script, line, then the call stack's lines).
TEST_F(RunnerTest, ErrorsAreReportedAtTheFailingLineWithTheirCallStack)
{
    struct Row {
        const char* name;
        const char* script;
        QVector<int> lines; // the headline's line, then the stack's lines, innermost first
    };
    const Row rows[] = {
        {"try_handler",
         "proc main {} {\n    try {\n        error intry\n    } on error {r o} {\n        set b 2\n"
         "        error \"in handler\"\n    }\n}\n",
         {6, 6}},
        {"try_body", "proc main {} {\n    try {\n        set a 1\n        error intry\n    } finally {\n"
                     "        set y 1\n    }\n}\n",
         {4, 4}},
        {"dict_for", "proc main {} {\n    dict for {k v} {a 1} {\n        expr {1/0}\n    }\n}\n", {3, 3}},
        {"lmap", "proc main {} {\n    lmap x {1 2} {\n        expr {$x/0}\n    }\n}\n", {3, 3}},
        {"apply", "proc main {} {\n    apply {{x} {\n        set y 1\n        expr {$x/0}\n    }} 4\n}\n", {4, 4, 2}},
        {"method", "oo::class create C {\n    method m {a} {\n        set b 1\n        expr {$a/0}\n    }\n}\n"
                   "proc main {} {\n    set o [C new]\n    $o m 4\n}\n",
         {4, 4, 9}},
        {"constructor", "oo::class create D {\n    constructor {} {\n        error \"no D\"\n    }\n}\n"
                        "proc main {} {\n    D new\n}\n",
         {3, 3, 7}},
        {"control_proc", "proc repeat {n body} {\n    for {set i 0} {$i < $n} {incr i} {\n        uplevel 1 $body\n"
                         "    }\n}\nproc main {} {\n    repeat 2 {\n        set x [expr {1/0}]\n    }\n}\n",
         {8, 8, 3, 7}},
        {"return_argument", "proc f {} {\n    return [expr {1/0}]\n}\nproc main {} {\n    f\n}\n", {2, 2, 5}},
        {"after_uplevel", "proc setter {} {\n    uplevel 1 {set y 1}\n}\nproc main {} {\n    setter\n"
                          "    error after\n}\n",
         {6, 6}},
        {"package_require", "proc main {} {\n    set x 1\n    package require no_such_package_here\n}\n", {3, 3}},
        {"namespace_proc", "namespace eval ns {\n    proc p {} {\n        error inns\n    }\n}\n"
                           "proc main {} {\n    ns::p\n}\n",
         {3, 3, 7}},
        {"switch_arm", "proc main {} {\n    switch -- 3 {\n        {3}\n        {\n            error three\n        }\n"
                       "    }\n}\n",
         {5, 5}},
    };
    for (const Row& row : rows)
        write(QStringLiteral("suite/tst_%1/test.tcl").arg(QLatin1String(row.name)), row.script);
    // [info script] names the test script while main runs.
    write("suite/tst_info_script/test.tcl",
          "proc main {} {\n    test compare [file tail [info script]] test.tcl \"info script\"\n}\n");
    const RunOutcome r = run({"suite"});
    EXPECT_CONTAINS(r.out, "PASS " + dir.filePath("suite/tst_info_script/test.tcl") + ":2: info script\n");
    for (const Row& row : rows) {
        const QString file = dir.filePath(QStringLiteral("suite/tst_%1/test.tcl").arg(QLatin1String(row.name)));
        QString expected = QStringLiteral("%1:%2: ").arg(file).arg(row.lines.first());
        const int at = r.out.indexOf(expected);
        EXPECT_GE(at, 0) << row.name << "\n" << r.out.toStdString();
        QString stack;
        for (int i = 1; i < row.lines.size(); ++i)
            stack += QStringLiteral("      at %1:%2\n").arg(file).arg(row.lines[i]);
        stack += QStringLiteral("FAILED tst_%1").arg(QLatin1String(row.name));
        EXPECT_GE(r.out.indexOf(stack, at), 0) << row.name << ": expected\n" << stack.toStdString() << "\n"
                                               << r.out.mid(at, 600).toStdString();
    }
}

TEST_F(RunnerTest, ParseErrorsOfAFeatureFileAreReportedTogetherInLineOrder)
{
    // Each malformed file gives its errors as ERROR lines, sorted by line, each with the file's line.
    struct Case {
        const char* text;
        QStringList errors; // "LINE: message"
    } cases[] = {
        {"Feature: a\n  Scenario: s\n    Given x\n      | a | b |\n      | c |\n    oops\n"
         "  Scenario Outline: o\n    Given <z>\n",
         {"5: this row has 1 cells, the table's first row (line 4) has 2",
          "6: expected a step (Given, When, Then, And, But), a table, a doc string or a new Scenario, found 'oops'",
          "7: the Scenario Outline 'o' has no Examples"}},
        // The outline's error is found at the end of the file but belongs before the others.
        {"Feature: a\n  Scenario Outline: o\n    Given <z>\n  Scenario: s\n  | x |\n  Background:\n",
         {"2: the Scenario Outline 'o' has no Examples", "5: a table row must follow a step or 'Examples:'",
          "6: 'Background:' must come before the first scenario"}},
        {"Feature: a\n  Scenario: s\n    Given x\n  @t\n", {"4: tags must be followed by a Feature, a Rule, a Scenario or Examples"}},
    };
    int n = 0;
    for (const Case& c : cases) {
        const QString name = QStringLiteral("suite/tst_bad%1/test.feature").arg(++n);
        const QString path = write(name, c.text);
        const RunOutcome r = run({name});
        EXPECT_EQ(r.exitCode, 1) << c.text;
        QStringList found;
        for (const QString& line : r.out.split(QLatin1Char('\n')))
            if (line.startsWith(QStringLiteral("  ERROR ") + path + QLatin1Char(':')))
                found << line.mid(9 + path.size());
        EXPECT_EQ(found, c.errors) << r.out.toStdString();
        EXPECT_CONTAINS(r.out, QStringLiteral("; %1 error").arg(c.errors.size()));
    }
}
