// The Tcl command set of the test API: the command table registered with every interpreter, and the
// commands registered later by the runner's registration steps.
#pragma once

#include <tcl.h>

struct TclCommandEntry {
    const char* name;
    Tcl_ObjCmdProc* proc;
    // True for the rows whose client data is the interpreter's debugger.
    bool debuggerClientData;
};

// The 47 rows created at construction, in registration order.
extern const TclCommandEntry tclCommandTable[];
extern const int tclCommandTableSize;

// The commands of registerApplicationCommands, in registration order (testInteraction last).
extern const TclCommandEntry tclApplicationCommandTable[];
extern const int tclApplicationCommandTableSize;

int TestObjCmd(ClientData clientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]);

// Stands in for a command whose implementation this build does not have yet: a clear error.
int NotAvailableObjCmd(ClientData clientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]);
