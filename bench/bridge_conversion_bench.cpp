// Round trips Tcl value -> native object -> Tcl value (toNativeValue, then toTclValue) of an int, a
// text, a list of 100 ints and a dict of 100 entries, against duplicating the same Tcl values. The
// list and the dict are converted with the array and map hints, as arguments of those classes are.
// The totals give the ratio; the single kinds are printed for the README.
#include "ratio.h"

#include "inspector.h"
#include "tclconversion.h"
#include "tclhandles.h"

#include <array>

namespace {

enum Kind { Int, Text, List, Dict, KindCount };

struct Values {
    Tcl_Interp* interp = Tcl_CreateInterp();
    std::array<Tcl_Obj*, KindCount> values{};
    std::array<const Class*, KindCount> hints{nullptr, nullptr, ArrayClass::registeredClass(),
                                             MapClass::registeredClass()};

    Values()
    {
        const char* scripts[KindCount] = {
            "expr {42}",
            "string cat {hello } world",
            "set l {}; for {set i 0} {$i < 100} {incr i} { lappend l [expr {$i * 3}] }; set l",
            "set d [dict create]; for {set i 0} {$i < 100} {incr i} { dict set d key$i [expr {$i * 3}] }; set d",
        };
        for (int k = 0; k < KindCount; ++k) {
            Tcl_EvalEx(interp, scripts[k], -1, 0);
            values[k] = Tcl_GetObjResult(interp);
            Tcl_IncrRefCount(values[k]);
        }
    }
    ~Values()
    {
        for (Tcl_Obj* v : values)
            Tcl_DecrRefCount(v);
        Tcl_DeleteInterp(interp);
    }
};

Values& values()
{
    static Values v;
    return v;
}

void duplicate(Tcl_Obj* value)
{
    Tcl_Obj* copy = Tcl_DuplicateObj(value);
    Tcl_IncrRefCount(copy);
    benchmark::DoNotOptimize(copy);
    Tcl_DecrRefCount(copy);
}

void roundTrip(Tcl_Interp* interp, Tcl_Obj* value, const Class* hint)
{
    Tcl_Obj* back = toTclValue(toNativeValue(interp, value, hint));
    Tcl_IncrRefCount(back);
    benchmark::DoNotOptimize(back);
    Tcl_DecrRefCount(back);
}

void BM_DuplicateAll(benchmark::State& state)
{
    Values& v = values();
    for (auto _ : state)
        for (Tcl_Obj* value : v.values)
            duplicate(value);
}
BENCHMARK(BM_DuplicateAll);

void BM_RoundTripAll(benchmark::State& state)
{
    Values& v = values();
    for (auto _ : state)
        for (int k = 0; k < KindCount; ++k)
            roundTrip(v.interp, v.values[k], v.hints[k]);
}
BENCHMARK(BM_RoundTripAll);

void BM_Duplicate(benchmark::State& state)
{
    Tcl_Obj* value = values().values[state.range(0)];
    for (auto _ : state)
        duplicate(value);
}
BENCHMARK(BM_Duplicate)->DenseRange(0, KindCount - 1)->ArgName("int_text_list_dict");

void BM_RoundTrip(benchmark::State& state)
{
    Values& v = values();
    const int k = int(state.range(0));
    for (auto _ : state)
        roundTrip(v.interp, v.values[k], v.hints[k]);
}
BENCHMARK(BM_RoundTrip)->DenseRange(0, KindCount - 1)->ArgName("int_text_list_dict");

} // namespace

int main(int argc, char** argv)
{
    Tcl_FindExecutable(argv[0]);
    return tarvinbench::reportRatios(argc, argv, "BM_DuplicateAll", {{"BM_RoundTripAll", 30.0}}) ? 0 : 1;
}
