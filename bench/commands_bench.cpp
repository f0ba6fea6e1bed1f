// Object access commands through Tcl (`invoke` with overload choice, `property get`, `waitForObject` on an
// object that exists) against a C command that does nothing, in the same run.
#include "benchscript.h"
#include "ratio.h"

#include "builder.h"
#include "runnerinterface.h"
#include "tclhandles.h"
#include "tclinterpreter.h"

#include <QCoreApplication>

namespace {

struct BenchRunner : RunnerInterface {
    QString testScriptPath() const override { return QString(); }
    QString testCaseName() const override { return QStringLiteral("bench"); }
    QString testSuiteName() const override { return QStringLiteral("bench"); }
};

int NoopObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[])
{
    return TCL_OK;
}

struct Fixture {
    BenchRunner runner;
    TclInterpreter* interpreter = nullptr;
    Tcl_Interp* interp = nullptr;

    Fixture()
    {
        ClassBuilder("BenchObject")
            .property("name", "string")
            .method("twice", {"int"},
                    [](Object*, const ObjectList& a) { return Inspector::self()->createInt(2 * a.at(0)->intValue()); })
            .method("twice", {"double"}, [](Object*, const ObjectList& a) {
                return Inspector::self()->createDouble(2 * a.at(0)->doubleValue());
            });
        SharedPtr<Object> object(new Object(Inspector::self()->classByName("BenchObject")));
        object->setName("benchObject");
        object->setValue("name", Inspector::self()->createPrimitive("bench"));
        Inspector::self()->addTopLevelObject(object);

        interpreter = new TclInterpreter(&runner);
        interpreter->registerApplicationCommands();
        interp = interpreter->tclInterp();
        Tcl_CreateObjCommand(interp, "noop", NoopObjCmd, nullptr, nullptr);
        Tcl_SetVar2Ex(interp, "o", nullptr, newObjectHandle(object), TCL_GLOBAL_ONLY);
    }
};

Fixture& fixture()
{
    static Fixture* f = new Fixture;
    return *f;
}

void runScript(benchmark::State& state, const char* script)
{
    runTclScript(state, fixture().interp, script);
}

void BM_NoopCommand(benchmark::State& state)
{
    runScript(state, "noop $::o twice 5");
}
BENCHMARK(BM_NoopCommand);

void BM_InvokeWithOverloads(benchmark::State& state)
{
    runScript(state, "invoke $::o twice 5");
}
BENCHMARK(BM_InvokeWithOverloads);

void BM_PropertyGet(benchmark::State& state)
{
    runScript(state, "property get $::o name");
}
BENCHMARK(BM_PropertyGet);

void BM_WaitForExistingObject(benchmark::State& state)
{
    runScript(state, "waitForObject {type BenchObject name benchObject}");
}
BENCHMARK(BM_WaitForExistingObject);

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    fixture();
    return tarvinbench::reportRatios(argc, argv, "BM_NoopCommand",
                                     {{"BM_InvokeWithOverloads", 8.0},
                                      {"BM_PropertyGet", 8.0},
                                      // Without any sleep a lookup costs microseconds; one poll would cost 20 ms.
                                      {"BM_WaitForExistingObject", 1000.0}})
               ? 0
               : 1;
}
