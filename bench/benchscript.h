// Runs one Tcl script in a benchmark's loop, in the interpreter a benchmark's fixture holds; an error
// ends the benchmark with Tcl's message.
#pragma once

#include <benchmark/benchmark.h>
#include <tcl.h>

inline void runTclScript(benchmark::State& state, Tcl_Interp* interp, const char* script)
{
    Tcl_Obj* code = Tcl_NewStringObj(script, -1);
    Tcl_IncrRefCount(code);
    for (auto _ : state) {
        if (Tcl_EvalObjEx(interp, code, 0) != TCL_OK) {
            state.SkipWithError(Tcl_GetStringResult(interp));
            break;
        }
    }
    Tcl_DecrRefCount(code);
}
