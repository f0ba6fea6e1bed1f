// The procedure level and the evaluation depth of the running command (see tclposition.cpp).
#pragma once

#include <tcl.h>

// As [info level]: 0 at the global level, one more in each procedure call; lower inside uplevel.
int tclProcedureLevel(Tcl_Interp* interp);
// As [info frame], up to a constant: grows with every nested evaluation, uplevel included.
int tclEvaluationDepth(Tcl_Interp* interp);
