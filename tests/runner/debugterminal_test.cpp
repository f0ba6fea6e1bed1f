// The terminal debugger end to end: tarvinrunner --debug runs in a pseudo-terminal, gets commands
// typed into it and must stop, step and print as a user would see it.
#include "runnerfixture.h"

#include <QElapsedTimer>

#include <csignal>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

class DebugTerminalTest : public RunnerFixture {
protected:
    void TearDown() override
    {
        if (child > 0) {
            kill(child, SIGKILL);
            waitpid(child, nullptr, 0);
        }
        if (master >= 0)
            close(master);
    }

    void start(const QStringList& args)
    {
        QList<QByteArray> words{QByteArray(TARVIN_BINARY_DIR "/bin/tarvinrunner"), "--debug", "--no-color"};
        for (const QString& a : args)
            words << a.toUtf8();
        child = forkpty(&master, nullptr, nullptr, nullptr);
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (chdir(QFile::encodeName(dir.path()).constData()) != 0)
                _exit(127);
            setenv("TERM", "dumb", 1);
            std::vector<char*> argv;
            for (QByteArray& w : words)
                argv.push_back(w.data());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
    }

    // Reads until `text` appears after what earlier expectations consumed; false after 20 seconds.
    bool expect(const QString& text)
    {
        QElapsedTimer clock;
        clock.start();
        for (;;) {
            const int at = output.indexOf(text, consumed);
            if (at >= 0) {
                consumed = at + text.size();
                return true;
            }
            if (clock.elapsed() > 20000)
                return false;
            pollfd p{master, POLLIN, 0};
            if (poll(&p, 1, 200) > 0) {
                char buffer[4096];
                const ssize_t n = ::read(master, buffer, sizeof buffer);
                if (n <= 0)
                    return output.indexOf(text, consumed) >= 0;
                output += QString::fromUtf8(buffer, int(n)).remove(QLatin1Char('\r'));
            }
        }
    }

    void send(const QString& line)
    {
        const QByteArray bytes = (line + QLatin1Char('\n')).toUtf8();
        ASSERT_EQ(::write(master, bytes.constData(), bytes.size()), bytes.size());
    }

    // Sends a command and expects each text in order.
    void command(const QString& line, const QStringList& expected)
    {
        ASSERT_TRUE(expect(QStringLiteral("(debug) "))) << output.toStdString();
        send(line);
        for (const QString& e : expected)
            ASSERT_TRUE(expect(e)) << "after '" << line.toStdString() << "' missing: " << e.toStdString()
                                   << "\nin:\n" << output.mid(consumed - 200 > 0 ? consumed - 200 : 0).toStdString();
    }

    int exitStatus()
    {
        int status = 0;
        expect(QStringLiteral("\x01never")); // drain until the program ends
        waitpid(child, &status, 0);
        child = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    void writeScripts()
    {
        write("util.tcl", "proc square {n} {\n"
                          "    set result [expr {$n * $n}]\n"
                          "    return $result\n"
                          "}\n"
                          "proc twice {n} {\n"
                          "    return [square $n]\n"
                          "}\n");
        write("test.tcl", "source [file join [file dirname [info script]] util.tcl]\n"
                          "proc compute {a} {\n"
                          "    set l [list 1 2 {3 4}]\n"
                          "    array set arr {k1 v1 k2 v2}\n"
                          "    set s [twice $a]\n"
                          "    return $s\n"
                          "}\n"
                          "proc fail {x} {\n"
                          "    set local here\n"
                          "    expr {1 / $x}\n"
                          "}\n"
                          "proc main {} {\n"
                          "    set v [compute 4]\n"
                          "    test compare $v 16\n"
                          "    test breakpoint {check me}\n"
                          "    fail 0\n"
                          "}\n");
    }

    pid_t child = -1;
    int master = -1;
    QString output;
    int consumed = 0;
};

TEST_F(DebugTerminalTest, StepsNextAndFinishFollowTheFramesAcrossProcedures)
{
    writeScripts();
    start({"test.tcl"});
    ASSERT_TRUE(expect("Stopped before the first line\ntest.tcl:1\n1\tsource")) << output.toStdString();
    // A step at the top level goes on into main.
    command("next", {"test.tcl:12 (main)"});
    command("s", {"test.tcl:13 (main)"});
    command("step", {"test.tcl:2 (compute)"});
    command("n", {"test.tcl:3 (compute)"});
    command("n", {"test.tcl:4 (compute)"});
    command("n", {"test.tcl:5 (compute)"});
    command("s", {"util.tcl:5 (twice)"});
    // The return that calls a procedure is a line of its own, in its procedure's frame.
    command("s", {"util.tcl:6 (twice)\n6\t    return [square $n]"});
    command("s", {"util.tcl:1 (square)"});
    command("bt", {"* #0  square at util.tcl:1\n  #1  twice at util.tcl:6\n  #2  compute at test.tcl:5\n"
                   "  #3  main at test.tcl:13\n"});
    command("n", {"util.tcl:2 (square)"});
    // A return of a plain value is its procedure's line too, in its frame.
    command("n", {"util.tcl:3 (square)\n3\t    return $result"});
    command("bt", {"* #0  square at util.tcl:3\n  #1  twice at util.tcl:6\n  #2  compute at test.tcl:5\n"
                   "  #3  main at test.tcl:13\n"});
    // Over it: on at the next line that runs, past the callers' lines already begun.
    command("n", {"test.tcl:6 (compute)"});
    command("bt", {"* #0  compute at test.tcl:6\n  #1  main at test.tcl:13\n"});
    // Out of compute: main's line 13 has its value by now, the next line is 14.
    command("finish", {"test.tcl:14 (main)"});
    command("p v", {"v = 16"});
    command("c", {"test breakpoint: check me\ntest.tcl:15 (main)"});
    command("c", {"Error: ", "test.tcl:10: divide by zero", "test.tcl:10 (fail)"});
    command("c", {"ERROR ", "FAILED ", "Summary: 0 passed, 1 failed"});
    EXPECT_EQ(exitStatus(), 1);
}

TEST_F(DebugTerminalTest, BreakpointsConditionsVariablesAndEvaluationInAFrame)
{
    writeScripts();
    start({"--break", "util.tcl:2 if {$n > 3}", "--break", "test.tcl:5", "--break", "test.tcl:999", "test.tcl"});
    ASSERT_TRUE(expect("Breakpoint 1 at util.tcl:2 (pending"));
    ASSERT_TRUE(expect("Breakpoint 3 not set: No command at or after line 999"));
    ASSERT_TRUE(expect("Breakpoint 2\ntest.tcl:5 (compute)\n5\t    set s [twice $a]"));
    command("locals", {"a = 4", "+l (list)", "+arr (array)"});
    command("p l", {"+l (list)\n    l.0 = 1\n    l.1 = 2\n    l.2 = 3 4\n"});
    command("p l.1", {"l.1 = 2"});
    command("print arr", {"    arr.k1 = v1", "    arr.k2 = v2"});
    command("p arr(k2)", {"arr(k2) = v2"});
    command("c", {"Breakpoint 1\nutil.tcl:2 (square)"});
    command("up 2", {"#2  test.tcl:5 (compute)"});
    // Evaluation and variables of the selected frame.
    command("eval set a", {"\n4\n"});
    command("eval lindex $l 2", {"\n3 4\n"});
    command("eval set nowhere", {"Error: can't read \"nowhere\": no such variable"});
    command("down", {"#1  util.tcl:6 (twice)"});
    command("frame 7", {"No frame 7; the frames are 0 to 3"});
    command("info breakpoints", {"1\tutil.tcl:2 if {$n > 3} (hit 1 time)", "2\ttest.tcl:5 (hit 1 time)"});
    command("clear 2", {"Deleted breakpoint 2"});
    command("break test.tcl:14 if {$v != 16}", {"Breakpoint 4 at test.tcl:14"});
    command("b test.tcl:16 if {[nosuch]}", {"Breakpoint 5 at test.tcl:16"});
    command("bogus", {"Unknown command 'bogus'; try help"});
    // A false condition does not stop; a failing one stops and says why.
    command("c", {"test breakpoint: check me"});
    command("c", {"Breakpoint 5: The condition of breakpoint 5 ({[nosuch]}) failed: invalid command name \"nosuch\""});
    command("q", {"the run was interrupted", "Quit in the debugger"});
    EXPECT_EQ(exitStatus(), 1);
}

TEST_F(DebugTerminalTest, PostMortemShowsTheFailingFramesVariablesAndEvaluatesThere)
{
    write("test.tcl", "proc inner {x} {\n"
                      "    set local here\n"
                      "    array set seen {a 1}\n"
                      "    if {[catch {expr {1 / $x}} caught]} { set handled yes }\n"
                      "    expr {1 / $x}\n"
                      "}\n"
                      "proc outer {} {\n"
                      "    set mine 7\n"
                      "    inner 0\n"
                      "}\n"
                      "proc main {} {\n"
                      "    outer\n"
                      "}\n");
    start({"--break", "test.tcl:12", "--junit", "report.xml", "test.tcl"});
    ASSERT_TRUE(expect("Breakpoint 1\ntest.tcl:12 (main)"));
    // The caught error does not stop; the uncaught one does, where it was raised.
    command("c", {"Error: ", "test.tcl:5: divide by zero", "test.tcl:5 (inner)"});
    command("locals", {"x = 0", "local = here", "caught = divide by zero", "handled = yes", "+seen (array)"});
    command("p seen", {"    seen.a = 1"});
    command("eval expr {$x + 40}", {"\n40\n"});
    command("bt", {"* #0  inner at test.tcl:5\n  #1  outer at test.tcl:9\n  #2  main at test.tcl:12\n"});
    command("up", {"#1  test.tcl:9 (outer)"});
    command("locals", {"mine = 7"});
    // A procedure without variables is no file's top level.
    command("up", {"#2  test.tcl:12 (main)"});
    command("locals", {"No locals\n"});
    command("c", {"ERROR ", "divide by zero", "Summary: 0 passed, 1 failed"});
    EXPECT_EQ(exitStatus(), 1);
    EXPECT_CONTAINS(read("report.xml"), "divide by zero");
}

TEST_F(DebugTerminalTest, StepDefinitionsAndHooksAreNamedAsTheStepFileWritesThem)
{
    write("test.feature", "Feature: F\n  Scenario: S\n    Given a number 3\n    Then it is odd\n");
    write("steps/steps.tcl", "OnScenarioStart {context} {\n"
                             "    set started 1\n"
                             "}\n"
                             "Given \"a number |integer|\" {n} {\n"
                             "    set ::n $n\n"
                             "}\n"
                             "Then \"it is odd\" {} {\n"
                             "    test verify [expr {$::n % 2}] odd\n"
                             "}\n");
    start({"--break", "steps/steps.tcl:2", "--break", "steps/steps.tcl:5", "test.feature"});
    ASSERT_TRUE(expect("steps/steps.tcl:2 (OnScenarioStart)")) << output.toStdString();
    command("c", {"steps/steps.tcl:5 (Given \"a number |integer|\")"});
    command("bt", {"* #0  Given \"a number |integer|\" at steps/steps.tcl:5\n"});
    command("c", {"PASSED ", "Summary: 1 passed, 0 failed"});
    EXPECT_EQ(exitStatus(), 0);
}

TEST_F(DebugTerminalTest, ObjectHandlesOpenIntoTheirProperties)
{
    write("test.tcl", "proc main {} {\n"
                      "    startApplication demo_addressbook\n"
                      "    set button [findObject {type PushButton name addButton}]\n"
                      "    test breakpoint\n"
                      "}\n");
    start({"--break", "test.tcl:4", "test.tcl"});
    ASSERT_TRUE(expect("Breakpoint 1\ntest.tcl:4 (main)"));
    command("locals", {"+button ("});
    command("p $button", {"+button (", "    button.text = Add"});
    command("p button.text", {"button.text = Add"});
    command("c", {"test breakpoint\ntest.tcl:4 (main)"});
    command("c", {"PASSED "});
    EXPECT_EQ(exitStatus(), 0);
}

TEST_F(DebugTerminalTest, EndOfInputRunsOnAndOptionsThatDoNotGoTogetherAreRefused)
{
    writeScripts();
    // Commands from a pipe, without a terminal: read line by line until the input ends.
    QProcess piped;
    piped.setWorkingDirectory(dir.path());
    piped.start(QStringLiteral(TARVIN_BINARY_DIR "/bin/tarvinrunner"), {"--debug", "test.tcl"});
    piped.write("n\np $argv0\n");
    piped.closeWriteChannel();
    ASSERT_TRUE(piped.waitForFinished(60000));
    const QString out = QString::fromUtf8(piped.readAllStandardOutput());
    EXPECT_EQ(piped.exitCode(), 1);
    EXPECT_CONTAINS(out, "test.tcl:12 (main)");
    EXPECT_CONTAINS(out, "End of input: the run goes on without stopping");
    EXPECT_CONTAINS(out, "Summary: 0 passed, 1 failed");
    const RunOutcome jobs = run({"--debug", "--jobs", "2", "test.tcl"});
    EXPECT_EQ(jobs.exitCode, 2);
    EXPECT_CONTAINS(jobs.err, "--debug runs the test cases one after the other in this process; it does not go with --jobs");
    const RunOutcome breakAlone = run({"--break", "test.tcl:3", "test.tcl"});
    EXPECT_EQ(breakAlone.exitCode, 2);
    EXPECT_CONTAINS(breakAlone.err, "--break goes with --debug");
    const RunOutcome malformed = run({"--debug", "--break", "test.tcl", "test.tcl"});
    EXPECT_EQ(malformed.exitCode, 2);
    EXPECT_CONTAINS(malformed.err, "'test.tcl' is no breakpoint: give FILE:LINE [if CONDITION]");
}

} // namespace
