// The debugging session without a terminal: a test interpreter runs instrumented scripts from files,
// a recording front end notes every stop (reason, frames) and answers it with the next scripted
// command. Covers where breakpoints land, their conditions, hit counts and log messages, the step
// commands across procedures, post-mortem stops on errors, pausing from another thread, and what a
// front end can ask while stopped.
#include "debugsession.h"
#include "runnerinterface.h"
#include "tclinterpreter.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <thread>

inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QStringList& list, std::ostream* os)
{
    *os << '{' << list.join(QStringLiteral(", ")).toStdString() << '}';
}

namespace {

struct FakeRunner : RunnerInterface {
    QString testScriptPath() const override { return QString(); }
    QString testCaseName() const override { return QStringLiteral("tst_debug"); }
    QString testSuiteName() const override { return QStringLiteral("suite"); }
    QString objectInspectionText() const override { return QStringLiteral("debugger"); }
};

struct RecordedStop {
    DebugStopReason reason;
    QString description;
    QList<int> breakpointIds;
    QList<DebugStackFrame> frames;
    // "procedure:line" of the innermost frame
    QString where() const
    {
        return frames.isEmpty() ? QString() : frames.first().name + ':' + QString::number(frames.first().line);
    }
};

using Action = std::function<void(DebugSession&)>;

// Notes each stop, then runs the next queued action (none left: continue).
struct RecordingFrontend : DebugFrontend {
    QList<RecordedStop> stops;
    std::deque<Action> actions;
    QStringList logs;
    QList<DebugBreakpoint> changed;

    void stopped(DebugSession& session, const DebugStop& stop) override
    {
        stops << RecordedStop{stop.reason, stop.description, stop.breakpointIds, session.stackTrace()};
        if (actions.empty()) {
            session.resume();
            return;
        }
        const Action action = actions.front();
        actions.pop_front();
        action(session);
    }
    void breakpointChanged(const DebugBreakpoint& breakpoint) override { changed << breakpoint; }
    void output(const QString& text, DebugOutputCategory category) override
    {
        if (category == DebugOutputCategory::Log)
            logs << text;
    }
    QStringList places() const
    {
        QStringList list;
        for (const RecordedStop& s : stops)
            list << s.where();
        return list;
    }
};

const Action stepInto = [](DebugSession& s) { s.stepInto(); };
const Action stepOver = [](DebugSession& s) { s.stepOver(); };
const Action stepOut = [](DebugSession& s) { s.stepOut(); };

DebugBreakpoint at(int line, const QString& condition = QString(), const QString& hitCondition = QString(),
                   const QString& logMessage = QString())
{
    DebugBreakpoint b;
    b.line = line;
    b.condition = condition;
    b.hitCondition = hitCondition;
    b.logMessage = logMessage;
    return b;
}

class DebugSessionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        oldPrefix = qgetenv("TARVIN_PREFIX");
        qputenv("TARVIN_PREFIX", dir.path().toUtf8());
        QDir(dir.path()).mkpath("etc");
        interpreter.reset(new TclInterpreter(&runner));
        session.reset(new DebugSession(&frontend));
    }
    void TearDown() override
    {
        session->detach();
        session.reset();
        interpreter.reset();
        qputenv("TARVIN_PREFIX", oldPrefix);
    }

    // A new interpreter for the next test case, as the runner makes one per test case.
    void fresh()
    {
        session->detach();
        interpreter.reset(new TclInterpreter(&runner));
    }
    QString write(const QString& name, const QByteArray& text)
    {
        const QString path = QDir(dir.path()).filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
        return path;
    }
    // Evaluates a test script as the runner does (instrumented, under its file name), then calls main
    // when it defines one; an error that no script caught is offered post-mortem. True when all passed.
    bool run(const QString& path)
    {
        session->attach(interpreter.get());
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        if (!interpreter->evaluate(QString::fromUtf8(file.readAll()), path, true, false))
            return failed();
        if (!interpreter->hasFunction(QStringLiteral("main")))
            return true;
        Debugger* debugger = interpreter->debugger();
        debugger->setCurrentLine(-1);
        debugger->setCurrentSourceId(-1);
        while (debugger->frameDepth() > 0)
            debugger->popFrame();
        session->functionStarting();
        return interpreter->callFunction(QStringLiteral("main"), ObjectList()) || failed();
    }
    bool failed()
    {
        session->scriptFailed(QStringLiteral("%1:%2: %3")
                                  .arg(interpreter->errorFile(QString()))
                                  .arg(interpreter->errorLine())
                                  .arg(interpreter->errorMessage()));
        return false;
    }
    // The value of a variable in a scope, as a front end lists it; "<none>" when not listed.
    QString listed(int frame, const QString& scopeName, const QString& name, int* reference = nullptr)
    {
        for (const DebugScope& scope : session->scopes(frame))
            if (scope.name == scopeName)
                for (const DebugVariable& v : session->variables(scope.reference))
                    if (v.name == name) {
                        if (reference)
                            *reference = v.reference;
                        return v.value;
                    }
        return QStringLiteral("<none>");
    }

    QTemporaryDir dir;
    QByteArray oldPrefix;
    FakeRunner runner;
    RecordingFrontend frontend;
    std::unique_ptr<TclInterpreter> interpreter;
    std::unique_ptr<DebugSession> session;
};

// Lines:                  1    2    3    4    5    6    7    8    9    10   11   12   13   14   15
const QByteArray procs = "proc inner {x} {\n"                // 1
                         "    set y [expr {$x + 1}]\n"       // 2
                         "    return [expr {$y * 2}]\n"      // 3
                         "}\n"                               // 4
                         "proc outer {} {\n"                 // 5
                         "    set tag outer\n"               // 6
                         "    array set arr {k v}\n"         // 7
                         "    set a [inner 1]\n"             // 8
                         "    set b 2\n"                     // 9
                         "    return $b\n"                   // 10
                         "}\n"                               // 11
                         "proc main {} {\n"                  // 12
                         "    set r [outer]\n"               // 13
                         "    set s done\n"                  // 14
                         "}\n";                              // 15

TEST_F(DebugSessionTest, BreakpointsWaitForTheirFileAndMoveToALineThatCanStop)
{
    const QString path = write("script.tcl", "# a comment\n"    // 1
                                             "\n"               // 2
                                             "set a 1\n"        // 3
                                             "proc p {} {\n"    // 4
                                             "\n"               // 5
                                             "    set b 2\n"    // 6
                                             "}\n"              // 7
                                             "p\n"              // 8
                                             "set c 3\n");      // 9
    const QList<DebugBreakpoint> set = session->setBreakpoints(path, {at(1), at(5), at(9), at(40)});
    ASSERT_EQ(set.size(), 4);
    for (const DebugBreakpoint& b : set) {
        EXPECT_FALSE(b.verified);
        EXPECT_EQ(b.message, QFileInfo(path).canonicalFilePath() + " is not loaded yet");
    }
    EXPECT_EQ(set.at(0).id + 1, set.at(1).id);

    EXPECT_TRUE(run(path));
    // Loading the file verified them: the comment's moved to the first command, the blank line in
    // the body to the body's command; the one past the end stays unverified and says why.
    const QList<DebugBreakpoint> now = session->breakpoints();
    ASSERT_EQ(now.size(), 4);
    EXPECT_EQ(now.at(0).line, 3);
    EXPECT_EQ(now.at(1).line, 6);
    EXPECT_EQ(now.at(2).line, 9);
    EXPECT_TRUE(now.at(0).verified && now.at(1).verified && now.at(2).verified);
    EXPECT_FALSE(now.at(3).verified);
    EXPECT_TRUE(now.at(3).message.startsWith("No command at or after line 40")) << now.at(3).message.toStdString();
    EXPECT_GE(frontend.changed.size(), 3);

    ASSERT_EQ(frontend.places(), QStringList({"script.tcl:3", "p:6", "script.tcl:9"}));
    EXPECT_EQ(frontend.stops.at(0).reason, DebugStopReason::Breakpoint);
    EXPECT_EQ(frontend.stops.at(1).breakpointIds, QList<int>({now.at(1).id}));
    EXPECT_EQ(frontend.stops.at(1).frames.at(0).file, QFileInfo(path).canonicalFilePath());

    // A relative name matches the file by its end; removed breakpoints stop nothing; a second run of
    // the same session verifies them again as the file loads.
    session->setBreakpoints(path, {});
    const DebugBreakpoint relative = session->addBreakpoint(at(8));
    EXPECT_TRUE(session->removeBreakpoint(relative.id));
    EXPECT_FALSE(session->removeBreakpoint(relative.id));
    DebugBreakpoint byName = at(8);
    byName.file = "script.tcl";
    session->addBreakpoint(byName);
    frontend.stops.clear();
    fresh();
    EXPECT_TRUE(run(path));
    EXPECT_EQ(frontend.places(), QStringList({"script.tcl:8"}));
}

TEST_F(DebugSessionTest, ConditionsHitCountsAndLogMessages)
{
    const QString path = write("loop.tcl", "set log {}\n"
                                           "for {set i 1} {$i <= 6} {incr i} {\n"
                                           "    lappend log $i\n" // 3
                                           "}\n"
                                           "set done 1\n");       // 5
    auto stoppedAt = [&](const QList<DebugBreakpoint>& breakpoints) {
        frontend.stops.clear();
        frontend.logs.clear();
        session->setBreakpoints(path, breakpoints);
        QList<int> values;
        frontend.actions.assign(10, [&](DebugSession& s) {
            values << s.evaluate("set i", 0).value.toInt();
            s.resume();
        });
        fresh();
        EXPECT_TRUE(run(path));
        frontend.actions.clear();
        return values;
    };
    EXPECT_EQ(stoppedAt({at(3, "$i == 3")}), QList<int>({3}));
    EXPECT_EQ(stoppedAt({at(3, "{$i % 2 == 0}")}), QList<int>({2, 4, 6})); // braced as Tcl writes it
    EXPECT_EQ(stoppedAt({at(3, "$i > 10")}), QList<int>());
    EXPECT_EQ(stoppedAt({at(3, QString(), "3")}), QList<int>({3}));
    EXPECT_EQ(stoppedAt({at(3, QString(), ">= 5")}), QList<int>({5, 6}));
    EXPECT_EQ(stoppedAt({at(3, QString(), "% 2")}), QList<int>({2, 4, 6}));
    // Hits count only where the condition held.
    EXPECT_EQ(stoppedAt({at(3, "$i > 2", "2")}), QList<int>({4}));

    // A condition that fails stops every time and says why.
    EXPECT_EQ(stoppedAt({at(3, "$nosuch > 1")}).size(), 6);
    ASSERT_FALSE(frontend.stops.isEmpty());
    EXPECT_EQ(frontend.stops.at(0).reason, DebugStopReason::Breakpoint);
    EXPECT_TRUE(frontend.stops.at(0).description.contains("($nosuch > 1) failed: can't read \"nosuch\""))
        << frontend.stops.at(0).description.toStdString();

    // A log message interpolates expressions in the stopping frame and never stops.
    EXPECT_EQ(stoppedAt({at(3, "$i < 3", QString(), "i is {$i}, twice {$i * 2}")}), QList<int>());
    EXPECT_EQ(frontend.logs, QStringList({"loop.tcl:3: i is 1, twice 2", "loop.tcl:3: i is 2, twice 4"}));
    // A log message and a plain breakpoint on the same line: the plain one still stops.
    EXPECT_EQ(stoppedAt({at(3, QString(), QString(), "at {$i}"), at(5)}), QList<int>({7}));
    EXPECT_EQ(frontend.logs.size(), 6);
}

TEST_F(DebugSessionTest, StepIntoOverAndOutAcrossProcedures)
{
    const QString path = write("steps.tcl", procs);
    session->setBreakpoints(path, {at(8)});
    frontend.actions = {stepInto, stepOver, stepOver, stepOut, stepOver, stepOver};
    EXPECT_TRUE(run(path));
    // Into inner (its header first), over its lines, out to the caller's next line; `return $b` is a
    // line of outer's own, and stepping over it goes on in main after the call.
    EXPECT_EQ(frontend.places(),
              QStringList({"outer:8", "inner:1", "inner:2", "inner:3", "outer:9", "outer:10", "main:14"}));
    const QList<DebugStackFrame> frames = frontend.stops.at(2).frames;
    ASSERT_EQ(frames.size(), 3);
    EXPECT_EQ(frames.at(1).name, "outer");
    EXPECT_EQ(frames.at(1).line, 8);
    EXPECT_EQ(frames.at(2).name, "main");
    EXPECT_EQ(frames.at(2).line, 13);
    EXPECT_EQ(frames.at(0).level, 0);
    EXPECT_EQ(frames.at(2).level, 2);

    // Step over a call with a breakpoint inside: the breakpoint wins. A breakpoint on a return line
    // stays there and stops in the returning procedure's frame.
    frontend.stops.clear();
    session->setBreakpoints(path, {at(8), at(2), at(10)});
    frontend.actions = {stepOver};
    fresh();
    EXPECT_TRUE(run(path));
    EXPECT_EQ(frontend.places(), QStringList({"outer:8", "inner:2", "outer:10"}));
    EXPECT_EQ(session->breakpoints().at(2).line, 10);
    EXPECT_EQ(frontend.stops.at(1).reason, DebugStopReason::Breakpoint);
    ASSERT_EQ(frontend.stops.at(2).frames.size(), 2);
    EXPECT_EQ(frontend.stops.at(2).frames.at(1).name, "main");
    EXPECT_EQ(frontend.stops.at(2).frames.at(1).line, 13);
}

TEST_F(DebugSessionTest, AStepFromTheTopLevelGoesOnIntoMain)
{
    const QString path = write("entry.tcl", procs + "set ready 1\n"); // 16
    session->setStopOnEntry(true);
    frontend.actions = {stepOver, stepOver};
    EXPECT_TRUE(run(path));
    // Procedure definitions are not lines that run: the first stop is the first command. Then main,
    // which the runner calls: its header, then its first line.
    EXPECT_EQ(frontend.places(), QStringList({"entry.tcl:16", "main:12", "main:13"}));
    EXPECT_EQ(frontend.stops.at(0).reason, DebugStopReason::Entry);
    EXPECT_EQ(frontend.stops.at(1).reason, DebugStopReason::Step);
}

// Calls through a variable (`$obj method`) have no hook of their own on their line: the caller's frame
// still shows the line of the call, whatever the shape of the method's body.
TEST_F(DebugSessionTest, MethodFramesNameTheirClassAndShowTheCallersLine)
{
    const QString oneLine = write("oneline.tcl",
                                  "oo::class create C {\n"               // 1
                                  "    variable v\n"                     // 2
                                  "    constructor {} { set v 0 }\n"     // 3
                                  "    method get {} { return $v }\n"    // 4
                                  "    method put {n} {\n"               // 5
                                  "        set v $n\n"                   // 6
                                  "    }\n"                              // 7
                                  "    method one {n} { set v $n }\n"    // 8
                                  "}\n"                                  // 9
                                  "namespace eval ::ns {\n"             // 10
                                  "    set where here\n"                 // 11
                                  "}\n"                                  // 12
                                  "proc main {} {\n"                    // 13
                                  "    set c [C new]\n"                  // 14
                                  "    $c get\n"                         // 15
                                  "    $c put 3\n"                       // 16
                                  "    $c one 4\n"                       // 17
                                  "}\n");                                // 18
    session->setBreakpoints(oneLine, {at(3), at(6), at(8), at(11)});
    EXPECT_TRUE(run(oneLine));
    ASSERT_EQ(frontend.places(),
              QStringList({"namespace eval ::ns:11", "C new:3", "::C object put:6", "::C object one:8"}));
    auto caller = [&](int stop) {
        const QList<DebugStackFrame>& frames = frontend.stops.at(stop).frames;
        return frames.size() < 2 ? QString() : frames.at(1).name + ':' + QString::number(frames.at(1).line);
    };
    EXPECT_EQ(caller(1), "main:14");
    EXPECT_EQ(caller(2), "main:16");
    EXPECT_EQ(caller(3), "main:17");

    // Multi-line bodies, a named object and a procedure called through a variable; the caller's line
    // comes back once the call returned.
    frontend.stops.clear();
    const QString multiLine = write("multiline.tcl",
                                    "oo::class create M {\n"              // 1
                                    "    constructor {} {\n"              // 2
                                    "        set ::made 1\n"              // 3
                                    "    }\n"                             // 4
                                    "    method get {} {\n"               // 5
                                    "        return 1\n"                  // 6
                                    "    }\n"                             // 7
                                    "}\n"                                 // 8
                                    "proc helper {} {\n"                 // 9
                                    "    return 2\n"                      // 10
                                    "}\n"                                 // 11
                                    "proc main {} {\n"                   // 12
                                    "    set m [M new]\n"                 // 13
                                    "    M create named\n"                // 14
                                    "    $m get\n"                        // 15
                                    "    named get\n"                     // 16
                                    "    set p helper\n"                  // 17
                                    "    $p\n"                            // 18
                                    "    set done 1\n"                    // 19
                                    "}\n");                               // 20
    session->setBreakpoints(multiLine, {at(3), at(6), at(10), at(19)});
    fresh();
    EXPECT_TRUE(run(multiLine));
    ASSERT_EQ(frontend.places(), QStringList({"M new:3", "M create:3", "::M object get:6", "named get:6",
                                              "helper:10", "main:19"}));
    EXPECT_EQ(caller(0), "main:13");
    EXPECT_EQ(caller(1), "main:14");
    EXPECT_EQ(caller(2), "main:15");
    EXPECT_EQ(caller(3), "main:16");
    EXPECT_EQ(caller(4), "main:18");
    EXPECT_EQ(frontend.stops.at(5).frames.size(), 1); // helper's frame is gone
}

TEST_F(DebugSessionTest, ErrorsStopPostMortemWithTheFailingFramesVariables)
{
    const QString path = write("fail.tcl", "proc check {value} {\n"
                                           "    set limit 10\n"
                                           "    if {$value > $limit} {\n"
                                           "        error \"too big: $value\"\n" // 4
                                           "    }\n"
                                           "}\n"
                                           "proc main {} {\n"
                                           "    set n 42\n"
                                           "    catch {error caught}\n"          // 9: caught, no stop
                                           "    check $n\n"                      // 10
                                           "}\n");
    session->setStopOnError(true);
    QString local, caller, evaluated, failedEvaluation;
    frontend.actions = {[&](DebugSession& s) {
        local = listed(0, "Locals", "limit");
        caller = listed(1, "Locals", "n");
        evaluated = s.evaluate("expr {$value + $limit}", 0).value;
        failedEvaluation = s.evaluate("set limit", 1).value;
        s.resume();
    }};
    EXPECT_FALSE(run(path));
    ASSERT_EQ(frontend.stops.size(), 1);
    const RecordedStop& stop = frontend.stops.at(0);
    EXPECT_EQ(stop.reason, DebugStopReason::Error);
    EXPECT_TRUE(stop.description.contains("too big: 42")) << stop.description.toStdString();
    EXPECT_EQ(stop.where(), "check:4");
    ASSERT_GE(stop.frames.size(), 2);
    EXPECT_EQ(stop.frames.at(1).name, "main");
    EXPECT_EQ(stop.frames.at(1).line, 10);
    EXPECT_EQ(local, "10");
    EXPECT_EQ(caller, "42");
    EXPECT_EQ(evaluated, "52");
    EXPECT_EQ(failedEvaluation, "can't read \"limit\": no such variable");

    // Without stop on error the same run goes through without a stop.
    frontend.stops.clear();
    session->setStopOnError(false);
    fresh();
    EXPECT_FALSE(run(path));
    EXPECT_TRUE(frontend.stops.isEmpty());
}

TEST_F(DebugSessionTest, AnErrorReRaisedByReturnStopsInTheCallerWithItsVariables)
{
    // A handler that passes the error on with `return -options` (or `return -code error`) raises it in
    // its caller, as Tcl reports it: the stop is there, in that procedure's frame, with its variables.
    const QString path = write("rethrow.tcl", "proc inner {} {\n"
                                              "    error boom\n"
                                              "}\n"
                                              "proc rethrow {} {\n"
                                              "    try {\n"
                                              "        inner\n"
                                              "    } on error {msg opts} {\n"
                                              "        return -options $opts $msg\n" // 8
                                              "    }\n"
                                              "}\n"
                                              "proc outer {} {\n"
                                              "    set mine 1\n"
                                              "    rethrow\n" // 13
                                              "}\n"
                                              "proc main {} {\n"
                                              "    set v 5\n"
                                              "    outer\n" // 17
                                              "}\n");
    session->setStopOnError(true);
    QString mine, opts, callerV;
    frontend.actions = {[&](DebugSession& s) {
        mine = listed(0, "Locals", "mine");
        opts = listed(0, "Locals", "opts");
        callerV = listed(1, "Locals", "v");
        s.resume();
    }};
    EXPECT_FALSE(run(path));
    ASSERT_EQ(frontend.stops.size(), 1);
    const RecordedStop& stop = frontend.stops.at(0);
    EXPECT_EQ(stop.reason, DebugStopReason::Error);
    EXPECT_EQ(stop.where(), "outer:13");
    ASSERT_EQ(stop.frames.size(), 2);
    EXPECT_EQ(stop.frames.at(1).name, "main");
    EXPECT_EQ(stop.frames.at(1).line, 17);
    EXPECT_EQ(mine, "1");
    EXPECT_EQ(opts, "<none>");
    EXPECT_EQ(callerV, "5");
}

TEST_F(DebugSessionTest, PauseFromAnotherThreadStopsAtTheNextLine)
{
    const QString path = write("spin.tcl", "set n 0\n"
                                           "while {![info exists ::leave]} {\n"
                                           "    incr n\n" // 3
                                           "}\n");
    std::thread pauser([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        session->requestPause();
    });
    QString leave;
    frontend.actions = {[&](DebugSession& s) {
        leave = s.evaluate("set ::leave 1", 0).value;
        s.resume();
    }};
    const bool ok = run(path);
    pauser.join();
    EXPECT_TRUE(ok);
    ASSERT_EQ(frontend.stops.size(), 1);
    EXPECT_EQ(frontend.stops.at(0).reason, DebugStopReason::Pause);
    EXPECT_EQ(frontend.stops.at(0).frames.at(0).file, QFileInfo(path).canonicalFilePath());
    EXPECT_EQ(leave, "1");
}

TEST_F(DebugSessionTest, FramesScopesVariablesAndEvaluationInASelectedFrame)
{
    const QString path = write("inspect.tcl", procs.left(procs.indexOf("proc main")));
    session->setBreakpoints(path, {at(2)});
    QList<DebugScope> scopes;
    QString innerX, outerTag, outerX, member, evaluated, missing, openedValue;
    int arrayReference = 0;
    DebugEvaluation listValue;
    frontend.actions = {[&](DebugSession& s) {
        scopes = s.scopes(0);
        innerX = listed(0, "Locals", "x");
        outerX = listed(1, "Locals", "x");
        outerTag = listed(1, "Locals", "tag");
        listed(1, "Locals", "arr", &arrayReference);
        for (const DebugVariable& v : s.variables(arrayReference))
            if (v.name == "arr.k")
                member = v.value;
        evaluated = s.evaluate("string toupper $tag", 1).value;
        missing = s.evaluate("set tag", 0).value;
        listValue = s.evaluate("list a {b c}", 0);
        for (const DebugVariable& v : s.variables(listValue.reference))
            if (v.name.endsWith(".1"))
                openedValue = v.value;
        s.resume();
    }};
    // main is not called here: the breakpoint is reached from a call at the top level.
    const QString caller = write("caller.tcl", "source " + path.toUtf8() + "\nset global_count 3\nouter\n");
    EXPECT_TRUE(run(caller));
    ASSERT_EQ(frontend.places(), QStringList({"inner:2"}));
    const QList<DebugStackFrame> frames = frontend.stops.at(0).frames;
    ASSERT_EQ(frames.size(), 3);
    EXPECT_EQ(frames.at(2).name, "caller.tcl");
    EXPECT_EQ(frames.at(2).line, 3);

    ASSERT_EQ(scopes.size(), 3);
    EXPECT_EQ(scopes.at(0).name, "Locals");
    EXPECT_EQ(scopes.at(1).name, "Globals");
    EXPECT_EQ(scopes.at(2).name, "Application");
    EXPECT_TRUE(scopes.at(2).expensive);
    EXPECT_EQ(innerX, "1");
    EXPECT_EQ(outerX, "<none>");
    EXPECT_EQ(outerTag, "outer");
    EXPECT_NE(arrayReference, 0);
    EXPECT_EQ(member, "v");
    EXPECT_EQ(evaluated, "OUTER");
    EXPECT_EQ(missing, "can't read \"tag\": no such variable");
    EXPECT_TRUE(listValue.ok);
    EXPECT_NE(listValue.reference, 0);
    EXPECT_EQ(openedValue, "b c");

    // Nothing to answer once the script is gone.
    session->detach();
    EXPECT_TRUE(session->stackTrace().isEmpty());
    EXPECT_FALSE(session->evaluate("set x", 0).ok);
}

TEST_F(DebugSessionTest, VariablesTakeNewValuesInTheirFrame)
{
    const QString path = write("set.tcl", "proc inner {x} {\n"                                  // 1
                                          "    set people [list Ada [list Alan Turing]]\n"      // 2
                                          "    array set ages {Ada 36}\n"                      // 3
                                          "    set y [expr {$x + 1}]\n"                        // 4
                                          "    return [list $x $y $people [array get ages]]\n" // 5
                                          "}\n"                                                // 6
                                          "set result [inner 1]\n"                             // 7
                                          "set done 1\n");                                     // 8
    session->setBreakpoints(path, {at(4), at(8)});
    DebugEvaluation scalar, listElement, arrayElement, global, nested, application;
    QString result, oddGlobal;
    frontend.actions = {[&](DebugSession& s) {
                            int locals = 0, globals = 0, objects = 0, people = 0, ages = 0;
                            for (const DebugScope& scope : s.scopes(0))
                                (scope.name == "Locals" ? locals : scope.name == "Globals" ? globals : objects) =
                                    scope.reference;
                            scalar = s.setVariable(locals, "x", "41");
                            listed(0, "Locals", "people", &people);
                            listed(0, "Locals", "ages", &ages);
                            // An element of an element is out of reach.
                            int person = 0;
                            for (const DebugVariable& v : s.variables(people))
                                if (v.name == "people.1")
                                    person = v.reference;
                            nested = s.setVariable(person, "0", "x");
                            // As an editor lists them: the element's own name, or the whole path.
                            listElement = s.setVariable(people, "1", "Grace Hopper");
                            arrayElement = s.setVariable(ages, "ages.Ada", "37");
                            // A value is text as it stands, whatever Tcl would make of it.
                            global = s.setVariable(globals, "odd name", "{[not run]");
                            application = s.setVariable(objects, "x", "1");
                            s.resume();
                        },
                        [&](DebugSession& s) {
                            result = s.evaluate("set result", 0).value;
                            oddGlobal = s.evaluate("set {odd name}", 0).value;
                            s.resume();
                        }};
    EXPECT_TRUE(run(path));
    ASSERT_EQ(frontend.places(), QStringList({"inner:4", "set.tcl:8"}));
    EXPECT_TRUE(scalar.ok);
    EXPECT_EQ(scalar.value, "41");
    EXPECT_EQ(listElement.value, "Grace Hopper");
    EXPECT_EQ(arrayElement.value, "37");
    EXPECT_EQ(result, "41 42 {Ada {Grace Hopper}} {Ada 37}");
    EXPECT_TRUE(global.ok);
    EXPECT_EQ(oddGlobal, "{[not run]");
    EXPECT_FALSE(nested.ok);
    EXPECT_TRUE(nested.value.startsWith("Only a variable, or an element")) << nested.value.toStdString();
    EXPECT_FALSE(application.ok);
    EXPECT_TRUE(application.value.contains("property set")) << application.value.toStdString();
}

} // namespace
