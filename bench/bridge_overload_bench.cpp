// Overload choice: chooseOverload over a class with 8 one-argument overloads of one method, against
// converting the same words for their one right signature (what a call without overloads costs).
#include "ratio.h"

#include "builder.h"
#include "tclconversion.h"
#include "tclhandles.h"

#include <vector>

namespace {

struct Fixture {
    Tcl_Interp* interp = nullptr;
    const Class* shape = nullptr;
    QList<Signature> candidates;
    QList<const Class*> declaring;
    std::vector<Tcl_Obj*> words;
    std::vector<Signature> rightSignature; // per word, the overload chooseOverload picks

    Fixture()
    {
        interp = Tcl_CreateInterp();
        auto nothing = [](Object*, const ObjectList&) { return Inspector::self()->createVoid(); };
        ClassBuilder("BenchWidget");
        ClassBuilder shapeBuilder("BenchShape");
        for (const char* type :
             {"int", "double", "bool", "string", "int64", "Array", "Map", "BenchWidget*"})
            shapeBuilder.method("draw", {type}, nothing);
        shape = shapeBuilder.cls();
        for (const Method* m : shape->methods("draw")) {
            candidates << m->signature();
            declaring << m->declaringClass();
        }
        // Words as scripts pass them: numbers Tcl has parsed, a list, a dict, a handle, plain text.
        SharedPtr<Object> widget(new Object(Inspector::self()->classByName("BenchWidget")));
        const char* scripts[] = {"expr {42}", "expr {2.5}", "list a b c", "dict create k v"};
        for (const char* script : scripts) {
            Tcl_EvalEx(interp, script, -1, 0);
            add(Tcl_GetObjResult(interp));
        }
        add(newObjectHandle(widget));
        add(Tcl_NewStringObj("some text", -1));
        // Warm up the words' types and learn the chosen signatures.
        for (Tcl_Obj* word : words) {
            ObjectList out;
            const int chosen = chooseOverload(interp, 1, shape, candidates, declaring, &word, "draw", &out);
            rightSignature.push_back(candidates.value(chosen));
        }
    }
    ~Fixture()
    {
        for (Tcl_Obj* word : words)
            Tcl_DecrRefCount(word);
        Tcl_DeleteInterp(interp);
    }
    void add(Tcl_Obj* word)
    {
        Tcl_IncrRefCount(word);
        words.push_back(word);
    }
};

Fixture& fixture()
{
    static Fixture f;
    return f;
}

void BM_ConvertForOneSignature(benchmark::State& state)
{
    Fixture& f = fixture();
    for (auto _ : state) {
        for (size_t i = 0; i < f.words.size(); ++i) {
            ObjectList out;
            benchmark::DoNotOptimize(convertArguments(f.interp, &out, &f.words[i], f.rightSignature[i]));
        }
    }
}
BENCHMARK(BM_ConvertForOneSignature);

void BM_ChooseAmongEightOverloads(benchmark::State& state)
{
    Fixture& f = fixture();
    for (auto _ : state) {
        for (Tcl_Obj* word : f.words) {
            ObjectList out;
            benchmark::DoNotOptimize(
                chooseOverload(f.interp, 1, f.shape, f.candidates, f.declaring, &word, QStringLiteral("draw"), &out));
        }
    }
}
BENCHMARK(BM_ChooseAmongEightOverloads);

// For scale: reading the same words as integers, the cheapest thing a command can do with them.
void BM_TclGetIntOnly(benchmark::State& state)
{
    Fixture& f = fixture();
    for (auto _ : state) {
        for (Tcl_Obj* word : f.words) {
            int i = 0;
            benchmark::DoNotOptimize(Tcl_GetIntFromObj(nullptr, word, &i));
        }
    }
}
BENCHMARK(BM_TclGetIntOnly);

} // namespace

int main(int argc, char** argv)
{
    Tcl_FindExecutable(argv[0]);
    return tarvinbench::reportRatios(argc, argv, "BM_ConvertForOneSignature", {{"BM_ChooseAmongEightOverloads", 8.0}})
               ? 0
               : 1;
}
