// Creating the test interpreter (set-up plus both registration steps) against a bare Tcl start.
#include "ratio.h"

#include "runnerinterface.h"
#include "tclinterpreter.h"
#include "testresult.h"

#include <QCoreApplication>

namespace {

struct BenchRunner : RunnerInterface {
    QString testScriptPath() const override { return QString(); }
    QString testCaseName() const override { return QStringLiteral("bench"); }
    QString testSuiteName() const override { return QStringLiteral("bench"); }
};

void BM_BareTclStart(benchmark::State& state)
{
    for (auto _ : state) {
        Tcl_Interp* interp = Tcl_CreateInterp();
        if (Tcl_Init(interp) != TCL_OK)
            state.SkipWithError("Tcl_Init failed");
        Tcl_DeleteInterp(interp);
    }
}
BENCHMARK(BM_BareTclStart)->Unit(benchmark::kMicrosecond);

void BM_TestInterpreterStart(benchmark::State& state)
{
    BenchRunner runner;
    TestResult result;
    for (auto _ : state) {
        auto interpreter = new TclInterpreter(&runner);
        interpreter->registerTestCommand(&result);
        interpreter->registerApplicationCommands();
        delete interpreter;
    }
}
BENCHMARK(BM_TestInterpreterStart)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    Tcl_FindExecutable(argv[0]);
    return tarvinbench::reportRatios(argc, argv, "BM_BareTclStart", {{"BM_TestInterpreterStart", 1.3}}) ? 0 : 1;
}
