// The debugger specialised for Tcl, the debug hook command that instrumented code calls, and the
// `source` command that instruments every file it loads. The debugger owns the variable watcher that
// answers the framework's variable queries while the script is stopped.
#pragma once

#include "debugger.h"
#include "tclvariablewatcher.h"

#include <memory>

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

private:
    TclInterpreter* tclInterpreter;
    std::unique_ptr<TclVariableWatcher> watcher;
    QVector<TclPosition> framePositions; // one per frame, as far as this debugger pushed them
};

int TarvinDbgObjCmd(ClientData clientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]);
int SourceObjCmd(ClientData clientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]);
int InfoBodyObjCmd(ClientData clientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]);
