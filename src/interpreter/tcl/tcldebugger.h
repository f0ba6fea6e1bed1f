// The debugger specialised for Tcl, the debug hook command that instrumented code calls, and the
// `source` command that instruments every file it loads. The debugger owns the variable watcher that
// answers the framework's variable queries while the script is stopped.
#pragma once

#include "debugger.h"
#include "tclvariablewatcher.h"

#include <memory>

#include <QHash>
#include <QVector>
#include <tcl.h>

class TclInterpreter;

class TclDebugger : public Debugger {
    Q_OBJECT
public:
    explicit TclDebugger(TclInterpreter* interpreter);
    ~TclDebugger() override;

    // Where in Tcl's evaluation a hook runs: the procedure level ([info level]) and the evaluation depth
    // ([info frame]), which grows inside uplevel where the level drops.
    struct TclPosition {
        int level = -1;
        int depth = -1;
    };
    static TclPosition positionOf(Tcl_Interp* interp);

    // Instrumented procedures that end without `return` get no closing pop (it would change their
    // result), so their frames are dropped here once a hook shows their procedure has returned: a hook
    // at a lower level and no deeper evaluation, or a push at the same level and depth.
    void dropReturnedFrames(const TclPosition& now, bool pushing);
    void recordPush(const TclPosition& where);
    // The caller's position that a push saves: where the caller's last hook left it, or the line Tcl
    // records for the calling command when that is a later line of the same file. A call through a
    // variable (`$obj method`, `$cmd`) gets no hook of its own, so its line is only known this way.
    DebuggerFrame callerPosition(Tcl_Interp* interp, const DebuggerFrame& previous) const;
    // A file's top-level `return` carries a frame pop like any other return, but the frame it takes is
    // that of the procedure that sourced the file. `source` notes the frames before the file runs and
    // gives that frame (and the position of the source command) back when the file ended in a return.
    struct FrameState {
        int depth = 0;
        DebuggerFrame top;
        TclPosition topPosition;
        DebuggerFrame current;
    };
    FrameState frameState() const;
    void undoTopLevelReturnPop(const FrameState& before);
    void synchronize() override;

    VariableBindings variableBindings(const QString& scope) override;
    // A new watcher takes over; the entries the old one could open are forgotten.
    void resetVariableWatcher() override;

    // The text of an instrumented source, for the lines that can stop.
    void rememberCode(int sourceId, const QString& code) { codes.insert(sourceId, code); }
    QList<int> breakableLines(int sourceId) override;
    QList<DebuggerFrameInfo> frameInfo() override;
    VariableBindings scopeBindings(DebuggerScope scope, int level, const QString& entryName) override;
    bool evaluateInFrame(const QString& script, int level, QString* result, VariableBinding* binding) override;
    void setBreakOnError(bool on) override;
    bool returningToCaller() const override { return returning; }
    void setReturningToCaller(bool on) { returning = on; }
    // While the debugger itself evaluates (a variable listing, an evaluation), hooks never stop.
    bool isInspecting() const { return inspecting; }
    // Counts the hooks that ran: an error passing up through the levels runs none in between.
    void hookRan() { ++hooks; }

    // The frames and local variables where the last error that no script caught was raised, taken
    // when it was raised (its frames are gone when the error reaches the runner). A post-mortem view
    // shows them in place of the live frames: frameInfo, Locals and evaluateInFrame answer from them.
    bool enterPostMortem() override;
    void leavePostMortem() override;
    bool inPostMortem() const { return postMortem; }

private:
    struct FrameVariables {
        int level = 0;
        Tcl_Obj* scalars = nullptr; // dict name -> value; one reference held
        Tcl_Obj* arrays = nullptr;  // list of name, [array get] pairs; one reference held
        QByteArray ns;              // the frame's namespace
    };
    struct ErrorSnapshot {
        QList<DebuggerFrameInfo> frames;
        QVector<FrameVariables> variables; // per frame, by level
        Tcl_Obj* errorInfo = nullptr;      // as at the raise; one reference held
    };
    static char* errorInfoWritten(ClientData data, Tcl_Interp* interp, const char* name1, const char* name2,
                                  int flags);
    void errorRaised(Tcl_Interp* interp);
    void clearSnapshot();
    Tcl_Interp* liveInterp() const;
    const FrameVariables* snapshotFrame(int level) const;

    QHash<int, QString> codes;
    bool returning = false;
    bool inspecting = false;
    bool tracing = false;
    bool postMortem = false;
    ErrorSnapshot snapshot;
    Tcl_Obj* lastErrorInfo = nullptr; // the latest ::errorInfo seen; one reference held
    unsigned hooks = 0;
    unsigned hooksAtLastError = 0;

    TclInterpreter* tclInterpreter;
    std::unique_ptr<TclVariableWatcher> watcher;
    QVector<TclPosition> framePositions; // one per frame, as far as this debugger pushed them
};

int TarvinDbgObjCmd(ClientData clientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]);
int SourceObjCmd(ClientData clientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]);
int InfoBodyObjCmd(ClientData clientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]);
