// Where in Tcl's evaluation the running command is, read from the interpreter's own frame records:
// the same numbers as [info level] and [info frame] give, without evaluating a script for each. The
// debug hook asks for them on every instrumented command.
#include "tclposition.h"

#include <tclInt.h>

int tclProcedureLevel(Tcl_Interp* interp)
{
    const Interp* iPtr = reinterpret_cast<const Interp*>(interp);
    return iPtr->varFramePtr ? iPtr->varFramePtr->level : 0;
}

int tclEvaluationDepth(Tcl_Interp* interp)
{
    const Interp* iPtr = reinterpret_cast<const Interp*>(interp);
    return iPtr->cmdFramePtr ? iPtr->cmdFramePtr->level : 0;
}
