// The framework debugger: source ids and their files, the current position, the frame stack of a
// running script, breakpoints and the debugger mode. Language back ends feed it positions (the Tcl back
// end through its debug hook) and ask it to stop; the runner decides what stopping means.
#pragma once

#include "lineinfo.h"
#include "variablewatcher.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QPair>
#include <QSet>
#include <QString>

class Debugger;
class Interpreter;

// A position: line (1-based), column and source id; -1 means none.
struct DebuggerFrame {
    int line = -1;
    int column = -1;
    int sourceId = -1;

    bool operator==(const DebuggerFrame& o) const
    {
        return line == o.line && column == o.column && sourceId == o.sourceId;
    }
};

// The current position, copied where another process can read it after this one ended: the runner's
// parent process names the place where a test case stood when its process crashed or was killed.
// Written as the position moves; `file` is the current source's file name, UTF-8, NUL-terminated.
struct DebuggerPositionMirror {
    volatile int line;
    volatile int sourceId;
    char file[4096];
};

// How the debugger decides to stop at a hook: 0 never, 1 step over (stop at the stored depth or above),
// 2 step into (stop everywhere), 3 run to a breakpoint.
enum DbgMode { DbgNone = 0, DbgStepOver = 1, DbgStepInto = 2, DbgRun = 3 };

// Where a stopped debugger hands control to; the runner installs one when it runs interactively.
class DebuggerClient {
public:
    virtual ~DebuggerClient() = default;
    // Called when the script stops; returns when the user resumes.
    virtual void stopped(Debugger* debugger) = 0;
    // Called when the runner asked for a prompt between two hooks.
    virtual void prompt(Debugger* debugger) { stopped(debugger); }
    // Called at every hook that does not stop: keep it cheap.
    virtual void running(Debugger* debugger) { (void)debugger; }
    // A source id was given to a file (or to a script without one: an empty name).
    virtual void sourceRegistered(Debugger* debugger, int sourceId, const QString& fileName)
    {
        (void)debugger;
        (void)sourceId;
        (void)fileName;
    }
};

// One frame of a stopped script as its language sees it, innermost first (the order of callStack).
struct DebuggerFrameInfo {
    DebuggerFrame position;
    QString procedure; // empty at the top level of a file
    int level = -1;    // what evaluateInFrame and scopeBindings take for this frame; -1: unknown
};

// The variables a front end shows for a frame.
enum class DebuggerScope { Locals, Globals, Application };

class Debugger : public QObject {
    Q_OBJECT
public:
    explicit Debugger(Interpreter* interpreter);
    ~Debugger() override;

    // The debugger of the live interpreter, or null.
    static Debugger* self();

    Interpreter* interpreter() const { return interp; }

    virtual void setCurrentLine(int line);
    virtual void setCurrentColumn(int column);
    virtual void setCurrentSourceId(int sourceId);
    virtual void stop();
    virtual void stopWithObjectName(const QString& objectName);
    virtual void run();
    virtual void next();
    virtual void step();
    // The variables of the stopped script for a scope (VariableWatcher::variableBindings); none unless a
    // language back end brings a watcher.
    virtual VariableBindings variableBindings(const QString& scope);
    // Forgets everything the watcher learnt (openable entries): a new watcher takes over.
    virtual void resetVariableWatcher();
    virtual void setInteractive(bool interactive);
    virtual void setDebuggerMode(DbgMode mode);
    virtual void setBreakPoint(int line, int sourceId, bool enabled = true);
    virtual int nextSourceId();
    // Brings the position and the frames up to date with the running script before they are read
    // in the middle of a command (a result reported by the test API); nothing to do by default.
    virtual void synchronize() {}

    // What a language back end knows beyond the framework's bookkeeping; the defaults know nothing.
    // The lines of a source where the script can stop (1-based, ascending); empty when unknown.
    virtual QList<int> breakableLines(int sourceId);
    // The frames of the stopped script, innermost first, with their procedures and levels.
    virtual QList<DebuggerFrameInfo> frameInfo();
    // The variables of a scope as seen from the frame at `level`; with an entry name ("+x"), that
    // entry's members instead.
    virtual VariableBindings scopeBindings(DebuggerScope scope, int level, const QString& entryName = QString());
    // Evaluates a script in the frame at `level` of the stopped script, which neither stops nor moves
    // meanwhile. True with the result, or false with the error message, in *result; *binding tells how
    // the result is shown (an entry name starting with "+" can be opened through scopeBindings).
    virtual bool evaluateInFrame(const QString& script, int level, QString* result, VariableBinding* binding);
    // With it on, an error that no script catches stops where it is raised (stopCause StopAtError).
    virtual void setBreakOnError(bool on) { breakOnError = on; }
    bool isBreakingOnError() const { return breakOnError; }
    // After an error that no script caught has ended the script: shows the frames and variables where it
    // was raised, when the back end kept them (true), until leavePostMortem.
    virtual bool enterPostMortem() { return false; }
    virtual void leavePostMortem() {}
    // True while the last hook was a procedure's return: the caller's line, already passed, is current.
    virtual bool returningToCaller() const { return false; }

    // Why the debugger calls its client's stopped(): a hook decided to, the script asked for it (`test
    // breakpoint`), or an error was raised. stopBecause stops with the cause and message given.
    enum StopCause { StopAtHook, StopAtScriptBreakpoint, StopAtError };
    void stopBecause(StopCause cause, const QString& message);
    StopCause stopCause() const { return cause; }
    QString stopMessage() const { return causeMessage; }
    // The depth that mode 1 stops at or above ("finish" takes the caller's).
    void setStepOverDepth(int depth) { storedDepth = depth; }

    int currentLine() const { return current.line; }
    int currentColumn() const { return current.column; }
    int currentSourceId() const { return current.sourceId; }
    DebuggerFrame currentFrame() const { return current; }

    // Source ids and the files they were registered for.
    void setCode(int sourceId, const QString& fileName);
    QString findSourceId(int sourceId) const;
    QString currentFile() const { return findSourceId(current.sourceId); }

    // The frame stack: a push saves a position (the caller's), a pop gives the last one back.
    void pushFrame(const DebuggerFrame& frame);
    DebuggerFrame popFrame();
    int frameDepth() const { return frames.size(); }
    // The saved positions, outermost first; a debugger that evaluates while stopped puts them back after.
    QList<DebuggerFrame> frameStack() const { return frames; }
    void setFrameStack(const QList<DebuggerFrame>& stack, const DebuggerFrame& position);
    DebuggerFrame topFrame() const { return frames.isEmpty() ? DebuggerFrame() : frames.last(); }
    void pushFrameAndSetCurrent(const DebuggerFrame& frame);
    void popFrameAndSetCurrent();
    // The current position first, then the saved ones, innermost first.
    LineInfoList callStack() const;

    bool hasBreakPoint(int line, int sourceId) const;
    // Continue without stopping: nothing to do unless a client waits for it.
    void stopAndRun();
    void prompt();

    DbgMode debuggerMode() const { return mode; }
    int stepOverDepth() const { return storedDepth; }
    bool isInteractive() const { return interactive; }
    // Set while a prompt is being answered, so that hooks do not prompt again.
    bool isPrompting() const { return prompting; }

    void setClient(DebuggerClient* c) { client = c; }

    // Every debugger of the process copies its position into `mirror` from now on (null: none).
    static void setPositionMirror(DebuggerPositionMirror* mirror);

private:
    void mirrorPosition();

    Interpreter* interp;
    DebuggerFrame current;
    QList<DebuggerFrame> frames;
    QMap<int, QString> sources;
    QSet<QPair<int, int>> breakPoints;
    int lastSourceId = 0;
    DbgMode mode = DbgNone;
    int storedDepth = 0;
    bool interactive = false;
    bool prompting = false;
    bool breakOnError = false;
    StopCause cause = StopAtHook;
    QString causeMessage;
    DebuggerClient* client = nullptr;
};
