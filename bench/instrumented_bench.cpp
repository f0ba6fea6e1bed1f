// Instrumented code against plain Tcl: tcllib modules loaded and exercised in a plain interpreter, and
// the same in the test interpreter, whose `source` instruments every file the packages load and whose
// debug hook runs (processing Qt events, as in the runner). Target: at most 2.5 times plain Tcl.
#include "ratio.h"
#include "tcllibwork.h"

#include "runnerinterface.h"
#include "tclinterpreter.h"

#include <QCoreApplication>
#include <QDir>

namespace {

struct BenchRunner : RunnerInterface {
    QString testScriptPath() const override { return QString(); }
    QString testCaseName() const override { return QStringLiteral("bench"); }
    QString testSuiteName() const override { return QStringLiteral("bench"); }
};

void BM_PlainModules(benchmark::State& state)
{
    if (!tcllibInstalled()) {
        state.SkipWithError("tcllib is not installed");
        return;
    }
    Tcl_Interp* interp = Tcl_CreateInterp();
    if (Tcl_Init(interp) != TCL_OK || Tcl_Eval(interp, tcllibSetup) != TCL_OK)
        state.SkipWithError(Tcl_GetStringResult(interp));
    for (auto _ : state)
        if (Tcl_Eval(interp, tcllibWork) != TCL_OK)
            state.SkipWithError(Tcl_GetStringResult(interp));
    Tcl_DeleteInterp(interp);
}
BENCHMARK(BM_PlainModules)->Unit(benchmark::kMillisecond);

void BM_InstrumentedModules(benchmark::State& state)
{
    if (!tcllibInstalled()) {
        state.SkipWithError("tcllib is not installed");
        return;
    }
    BenchRunner runner;
    TclInterpreter interpreter(&runner);
    if (!interpreter.evaluate(QString::fromLatin1(tcllibSetup), QStringLiteral("setup.tcl"), true, false))
        state.SkipWithError(interpreter.errorMessage().toUtf8().constData());
    Tcl_Interp* interp = interpreter.tclInterp();
    for (auto _ : state)
        if (Tcl_Eval(interp, tcllibWork) != TCL_OK)
            state.SkipWithError(Tcl_GetStringResult(interp));
}
BENCHMARK(BM_InstrumentedModules)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    Tcl_FindExecutable(argv[0]);
    return tarvinbench::reportRatios(argc, argv, "BM_PlainModules", {{"BM_InstrumentedModules", 2.5}}) ? 0 : 1;
}
