// Behaviour-driven testing: parsing a generated feature set of about 10 MB (target: at least 50 MB/s),
// and matching a step against 1,000 step definitions in the BDD support script (target: under 20 us
// per step).
#include "gherkin.h"

#include <benchmark/benchmark.h>
#include <tcl.h>

#include <QByteArray>

namespace {

QByteArray generatedFeatures(int targetBytes)
{
    QByteArray text = "# language: en\n@all\nFeature: Generated\n  Some description\n\n"
                      "  Background:\n    Given the address book is open\n\n";
    for (int n = 0; text.size() < targetBytes; ++n) {
        const QByteArray i = QByteArray::number(n);
        text += "  @tag" + i + " @smoke\n  Scenario: adding entry " + i + "\n"
                "    Given the address book has " + i + " entries\n"
                "    When I add the entry \"Ada\" \"Lovelace\" with e-mail ada" + i + "@example.com\n"
                "    And I add these entries:\n      | first | last  | e-mail       |\n"
                "      | Alan  | Turing | alan@x.org  |\n      | Grace | Hopper | grace\\|x.org |\n"
                "    Then row " + i + " shows:\n      \"\"\"\n      Ada Lovelace\n      \"\"\"\n"
                "    # a comment\n    But nothing else\n\n"
                "  Scenario Outline: outline " + i + "\n    Given <a> and <b>\n    Then * <c>\n"
                "    Examples:\n      | a | b | c |\n      | 1 | 2 | 3 |\n      | 4 | 5 | 9 |\n\n";
    }
    return text;
}

void BM_ParseFeatures(benchmark::State& state)
{
    const QByteArray text = generatedFeatures(10 * 1024 * 1024);
    for (auto _ : state) {
        auto* feature = new Gherkin::Feature;
        Gherkin::RunFeatureError error;
        const bool parsed = Gherkin::parseFeature(text, "generated.feature", feature, &error);
        benchmark::DoNotOptimize(feature->scenarios.size());
        // Freeing the records is the reader's business, not the parser's.
        state.PauseTiming();
        delete feature;
        state.ResumeTiming();
        if (!parsed) {
            state.SkipWithError(error.toString().toUtf8().constData());
            break;
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * text.size());
}
BENCHMARK(BM_ParseFeatures)->Unit(benchmark::kMillisecond);

Tcl_Interp* interpWithDefinitions()
{
    static Tcl_Interp* interp = [] {
        Tcl_FindExecutable(nullptr);
        Tcl_Interp* i = Tcl_CreateInterp();
        QByteArray script = "source {" TARVIN_SOURCE_DIR "/tcl/bdd/bdd.tcl}\n";
        // Definitions of many shapes and first words, as a large suite has them.
        const char* const shapes[] = {"the table %1 has |integer| rows", "I add the entry %1 \"|any|\" \"|any|\"",
                                      "row |integer| of %1 shows |word|", "a %1 dialog opens"};
        for (int n = 0; n < 1000; ++n) {
            const QByteArray pattern = QString::fromLatin1(shapes[n % 4]).arg(n).toUtf8();
            script += QByteArray(n % 3 == 0 ? "Given" : n % 3 == 1 ? "When" : "Then") + " {" + pattern + "} {args} {}\n";
        }
        script += "When -rx {^I remove row (\\d+) of list (\\w+)$} {row list} {}\n";
        if (Tcl_Eval(i, script.constData()) != TCL_OK)
            fprintf(stderr, "%s\n", Tcl_GetStringResult(i));
        return i;
    }();
    return interp;
}

void matchStep(benchmark::State& state, const char* text, const char* keyword, int expected)
{
    Tcl_Interp* interp = interpWithDefinitions();
    Tcl_Obj* call = Tcl_NewListObj(0, nullptr);
    Tcl_ListObjAppendElement(nullptr, call, Tcl_NewStringObj("Tarvin::BDD::get_matching_step_defs", -1));
    Tcl_ListObjAppendElement(nullptr, call, Tcl_NewStringObj(text, -1));
    Tcl_ListObjAppendElement(nullptr, call, Tcl_NewStringObj(keyword, -1));
    Tcl_IncrRefCount(call);
    for (auto _ : state) {
        if (Tcl_EvalObjEx(interp, call, 0) != TCL_OK) {
            state.SkipWithError(Tcl_GetStringResult(interp));
            break;
        }
        int count = 0;
        Tcl_ListObjLength(nullptr, Tcl_GetObjResult(interp), &count);
        if (count != expected) {
            state.SkipWithError("unexpected number of matches");
            break;
        }
    }
    Tcl_DecrRefCount(call);
}

void BM_MatchStepAmong1000(benchmark::State& state)
{
    matchStep(state, "the table 500 has 12 rows", "Then", 1);
}
BENCHMARK(BM_MatchStepAmong1000)->Unit(benchmark::kMicrosecond);

void BM_MatchUndefinedStepAmong1000(benchmark::State& state)
{
    matchStep(state, "nothing defines this step", "When", 0);
}
BENCHMARK(BM_MatchUndefinedStepAmong1000)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
