// A debugging session of the runner: the client of the framework debugger that the terminal debugger
// (--debug) and the Debug Adapter Protocol server (--dap) both drive. The session keeps the user's
// breakpoints (by file and line, with conditions, hit counts and log messages), decides where a script
// stops (entry, breakpoint, step, pause, `test breakpoint`, error), and while it is stopped answers what
// a front end asks: the frames, their scopes and variables (the variable watcher; objects of the
// application open property by property), evaluation of a script in a frame.
//
// Threads: the script, the session and every call below run on the runner's main thread, except
// requestPause(), which any thread may call. A front end that reads requests on a thread of its own
// hands them to the main thread and answers them in stopped() or poll().
#pragma once

#include "debugger.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>

class DebugSession;
class Interpreter;

struct DebugBreakpoint {
    int id = 0;            // given by the session, unique in the run
    QString file;          // absolute, canonical path
    int line = 0;          // 1-based; moved to the next line that can stop when the given one cannot
    QString condition;     // a Tcl expression evaluated in the stopping frame; empty: always
    QString hitCondition;  // "N" (stop at the Nth hit), ">= N", "% N"...; empty: every hit
    QString logMessage;    // when set, log it ({expr} parts interpolated) instead of stopping
    bool verified = false; // a line that can stop was found (false until the file is loaded)
    QString message;       // why it is not verified, or why its condition failed
    int hits = 0;
};

enum class DebugStopReason { Entry, Breakpoint, Step, Pause, ScriptBreakpoint, Error };

struct DebugStop {
    DebugStopReason reason = DebugStopReason::Step;
    QString description; // the error's message (with FILE:LINE) for Error; the message of `test breakpoint`
    QList<int> breakpointIds; // the breakpoints that stopped it
};

struct DebugStackFrame {
    int level = 0;  // 0 is the innermost frame
    QString name;   // the procedure, or the file for the top level
    QString file;   // absolute path
    int line = 0;   // 1-based
    int column = 0; // 1-based, 0 when unknown
};

// A variable's entry: `reference` is non-zero when it can be opened (variables(reference) lists its members).
// Members are named after their entry: "x.key" (array element), "l.0" (list element), "button.text"
// (property of an object of the application).
struct DebugVariable {
    QString name;
    QString value;
    QString type;
    int reference = 0;
};

struct DebugScope {
    QString name; // "Locals", "Globals", "Application"
    int reference = 0;
    bool expensive = false;
};

struct DebugEvaluation {
    bool ok = false;
    QString value; // the result, or the error message
    QString type;
    int reference = 0;
};

enum class DebugOutputCategory { Result, Log, Stdout, Stderr, Console };

// What a user interface does with a session.
class DebugFrontend {
public:
    virtual ~DebugFrontend() = default;
    // The script stopped. Answer requests through the session until one of resume(), stepOver(),
    // stepInto(), stepOut() or terminate() was called, then return.
    virtual void stopped(DebugSession& session, const DebugStop& stop) = 0;
    // Called at every hook while the script runs: a cheap place to take requests that arrive meanwhile.
    virtual void poll(DebugSession& session) { (void)session; }
    // A breakpoint changed on its own (verified when its file was loaded, moved to another line).
    virtual void breakpointChanged(const DebugBreakpoint& breakpoint) { (void)breakpoint; }
    // A line of the run's output.
    virtual void output(const QString& text, DebugOutputCategory category)
    {
        (void)text;
        (void)category;
    }
};

class DebugSession : public DebuggerClient {
public:
    explicit DebugSession(DebugFrontend* frontend);
    ~DebugSession() override;

    // Before the run: stop before the first line of each test case's script.
    void setStopOnEntry(bool stop);
    // Stop where an error is raised that no script catches (post-mortem, the failing frame's variables
    // still there), and optionally at every failed verification.
    void setStopOnError(bool errors, bool failures = false);

    // Replaces the breakpoints of one file; returns them with ids, verified and moved lines.
    QList<DebugBreakpoint> setBreakpoints(const QString& file, const QList<DebugBreakpoint>& wanted);
    QList<DebugBreakpoint> breakpoints() const;
    // Adds one breakpoint (the terminal's `break FILE:LINE [if COND]`); returns it.
    DebugBreakpoint addBreakpoint(const DebugBreakpoint& breakpoint);
    bool removeBreakpoint(int id);

    // Resume commands, valid while stopped.
    void resume();
    void stepOver();
    void stepInto();
    void stepOut();
    // Ends the run: the running test case ends as interrupted, no further one starts.
    void terminate();
    bool terminateRequested() const;
    // Any thread: stop at the next hook.
    void requestPause();

    // Valid while stopped.
    QList<DebugStackFrame> stackTrace() const;
    QList<DebugScope> scopes(int frameLevel);
    QList<DebugVariable> variables(int reference);
    DebugEvaluation evaluate(const QString& script, int frameLevel);
    // Gives a variable listed under `reference` a new value, the text as it stands: a variable of a
    // scope, or an element of an array or a list that is such a variable. The answer is its value now.
    DebugEvaluation setVariable(int reference, const QString& name, const QString& value);

    // The runner's side. Each test case's interpreter is attached while it runs (the breakpoints
    // carry over and are verified again as its files load).
    void attach(Interpreter* interpreter);
    void detach();
    // An error that no script caught ended a function of the test script (or its top level): with
    // stop on error, a post-mortem stop where it was raised. `description` is "FILE:LINE: message".
    void scriptFailed(const QString& description);
    // A verification failed: with stop on failures, the script stops there.
    void verificationFailed(const QString& description);
    // The runner calls one of the script's functions (init, main, cleanup): a step begun at the top
    // level or in the function before goes on into it.
    void functionStarting();
    // A line of the run's output for the front end (results as the runner prints them).
    void output(const QString& text, DebugOutputCategory category);

    // DebuggerClient
    void stopped(Debugger* debugger) override;
    void running(Debugger* debugger) override;
    void sourceRegistered(Debugger* debugger, int sourceId, const QString& fileName) override;

private:
    void present(const DebugStop& stop);

    struct Private;
    Private* d;
};
