// The procedure level and the evaluation depth of the running command (see tclposition.cpp).
#pragma once

#include <QByteArray>
#include <tcl.h>

// As [info level]: 0 at the global level, one more in each procedure call; lower inside uplevel.
int tclProcedureLevel(Tcl_Interp* interp);
// As [info frame], up to a constant: grows with every nested evaluation, uplevel included.
int tclEvaluationDepth(Tcl_Interp* interp);

// Whether an error raised now is caught by the script: some frame of the evaluation is inside a
// compiled catch or try, or is running a `catch` or `try` command that was not compiled. Errors that
// C code catches on its own are not seen.
bool tclErrorIsCaught(Tcl_Interp* interp);

// Makes the procedure frame at `level` ([info level] numbering) the one variables are read in, as
// uplevel does, and returns the frame that was current; null when there is no frame at that level.
// The caller gives the returned frame back to tclRestoreVariableFrame.
void* tclEnterVariableFrame(Tcl_Interp* interp, int level);
void tclRestoreVariableFrame(Tcl_Interp* interp, void* frame);

// The name of the procedure running at `level` (the first word of [info level level]); empty at the
// global level or when there is no such frame.
QByteArray tclProcedureName(Tcl_Interp* interp, int level);

// Where a command runs, as Tcl records it for [info frame]: the 1-based line of the command in the file
// Tcl evaluated it from, its column when Tcl kept the text of that line (0 otherwise) and that file as
// Tcl names it.
struct TclCallSite {
    int line = 0;
    int column = 0;
    QByteArray file;
};
// The command that called the running procedure (or method); false at the global level, and when the
// call came from a script that is no file's text (one built at run time, C code).
bool tclCallSite(Tcl_Interp* interp, TclCallSite* site);

// Makes Tcl take the next script evaluated (Tcl_EvalEx) for the contents of the file `info script` names,
// as its own `source` does: `info frame` then gives the file and its lines, in the procedures the script
// defines too, instead of lines counted from the start of each body.
void tclEvaluateNextAsFile(Tcl_Interp* interp);
