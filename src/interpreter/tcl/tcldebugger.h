// The debugger specialised for Tcl, the debug hook command that instrumented code calls, and the
// `source` command that instruments every file it loads.
#pragma once

#include "debugger.h"

#include <tcl.h>

class TclInterpreter;

class TclDebugger : public Debugger {
    Q_OBJECT
public:
    explicit TclDebugger(TclInterpreter* interpreter);
    ~TclDebugger() override;
};

int TarvinDbgObjCmd(ClientData clientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]);
int SourceObjCmd(ClientData clientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]);
