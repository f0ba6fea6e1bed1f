// Instrumented code against plain Tcl: tcllib modules loaded and exercised in a plain interpreter, and
// the same in the test interpreter, whose `source` instruments every file the packages load and whose
// debug hook runs (processing Qt events, as in the runner). Target: at most 2.5 times plain Tcl.
#include "ratio.h"

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

const char* const setup = "package require md5; package require sha1; package require json; package require base64;"
                          "package require struct::list; package require struct::set; package require textutil;"
                          "package require math::statistics; package require csv";

// One round of module calls: hashing, encoding, parsing, list and set work, statistics, text.
const char* const work =
    "set text [string repeat {The quick brown fox jumps over the lazy dog. } 40]\n"
    "set r [list [md5::md5 -hex $text] [sha1::sha1 -hex $text] [base64::encode $text]]\n"
    "lappend r [json::json2dict {{\"a\": [1, 2, 3], \"b\": {\"c\": \"d\", \"e\": [true, null]}}}]\n"
    "lappend r [struct::list reverse [struct::list iota 200]]\n"
    "lappend r [lsort [struct::set union {a b c} {c d e}]]\n"
    "lappend r [math::statistics::mean [struct::list iota 500]]\n"
    "lappend r [textutil::adjust $text -length 30]\n"
    "lappend r [csv::split {a,\"b,c\",d,\"e \"\"f\"\"\"}]\n"
    "string length $r\n";

bool tcllibInstalled()
{
    return !QDir(QStringLiteral("/usr/share/tcltk")).entryList({QStringLiteral("tcllib*")}, QDir::Dirs).isEmpty();
}

void BM_PlainModules(benchmark::State& state)
{
    if (!tcllibInstalled()) {
        state.SkipWithError("tcllib is not installed");
        return;
    }
    Tcl_Interp* interp = Tcl_CreateInterp();
    if (Tcl_Init(interp) != TCL_OK || Tcl_Eval(interp, setup) != TCL_OK)
        state.SkipWithError(Tcl_GetStringResult(interp));
    for (auto _ : state)
        if (Tcl_Eval(interp, work) != TCL_OK)
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
    if (!interpreter.evaluate(QString::fromLatin1(setup), QStringLiteral("setup.tcl"), true, false))
        state.SkipWithError(interpreter.errorMessage().toUtf8().constData());
    Tcl_Interp* interp = interpreter.tclInterp();
    for (auto _ : state)
        if (Tcl_Eval(interp, work) != TCL_OK)
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
