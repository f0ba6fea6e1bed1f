// The syntax analyser and the instrumenter on a large real script, tcllib's sources concatenated
// (built at run time from the installed files), against a plain recursive Tcl_ParseCommand walk
// over the same text that descends into the same bodies as the instrumenter.
// Targets: analyser at most 0.5 times the walk, instrumenter at most 1.6 times.
#include "ratio.h"
#include "tclinstrumenter.h"
#include "tclsyntaxcheck.h"

#include <tcl.h>

#include <QDirIterator>
#include <QFile>

#include <cstring>

namespace {

// The files that parse completely on their own, so that the concatenation parses to its end.
bool parsesCompletely(Tcl_Interp* interp, const QByteArray& text)
{
    const char* p = text.constData();
    const char* end = p + text.size();
    while (p < end) {
        Tcl_Parse parse;
        if (Tcl_ParseCommand(interp, p, int(end - p), 0, &parse) != TCL_OK)
            return false;
        p = parse.commandStart + parse.commandSize;
        Tcl_FreeParse(&parse);
    }
    return true;
}

const QByteArray& corpus()
{
    static const QByteArray text = [] {
        QByteArray all;
        Tcl_Interp* interp = Tcl_CreateInterp();
        QDirIterator it(QStringLiteral("/usr/share/tcltk"), {QStringLiteral("*.tcl")}, QDir::Files,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            if (!path.contains(QLatin1String("/tcllib")))
                continue;
            QFile file(path);
            if (!file.open(QIODevice::ReadOnly))
                continue;
            const QByteArray text = file.readAll();
            if (parsesCompletely(interp, text))
                all += text + "\n\n";
        }
        Tcl_DeleteInterp(interp);
        return all;
    }();
    return text;
}

bool is(const Tcl_Token* word, const char* text)
{
    return size_t(word->size) == std::strlen(text) && std::memcmp(word->start, text, word->size) == 0;
}

bool braced(const Tcl_Token* word)
{
    return word && word->type != TCL_TOKEN_EXPAND_WORD && word->size >= 2 && word->start[0] == '{';
}

// The baseline: parse every command, descend into the bodies the instrumenter descends into.
long walk(Tcl_Interp* interp, const char* p, const char* end, bool patternList = false)
{
    long commands = 0;
    while (p < end) {
        Tcl_Parse parse;
        if (Tcl_ParseCommand(interp, p, int(end - p), 0, &parse) != TCL_OK)
            break;
        std::vector<const Tcl_Token*> words;
        const Tcl_Token* token = parse.tokenPtr;
        for (int i = 0; i < parse.numWords; ++i, token += 1 + token->numComponents)
            words.push_back(token);
        const int last = int(words.size()) - 1;
        auto word = [&](int i) { return i >= 1 && i <= last ? words[i] : nullptr; };
        auto descend = [&](const Tcl_Token* w, bool list = false) {
            if (braced(w))
                commands += walk(interp, w->start + 1, w->start + w->size - 1, list);
        };
        auto lastBraced = [&]() -> const Tcl_Token* {
            for (int i = last; i >= 1; --i)
                if (braced(words[i]))
                    return words[i];
            return nullptr;
        };
        if (patternList && last >= 0) {
            descend(words[last]);
        } else if (last >= 0 && words[0]->type == TCL_TOKEN_SIMPLE_WORD) {
            ++commands;
            const Tcl_Token* name = words[0];
            if (is(name, "proc")) {
                descend(word(3));
            } else if (is(name, "Step") || is(name, "Given") || is(name, "When") || is(name, "Then")) {
                descend(last >= 4 ? word(4) : word(3));
            } else if (is(name, "namespace") || is(name, "foreach") || is(name, "while") ||
                       is(name, "for")) {
                descend(lastBraced());
            } else if (is(name, "uplevel")) {
                descend(word(last));
            } else if (is(name, "if")) {
                const int body = word(2) && is(words[2], "then") ? 3 : 2;
                descend(word(body));
                for (int i = body + 1; i <= last;) {
                    if (is(words[i], "elseif")) {
                        descend(word(i + 2));
                        i += 3;
                    } else if (is(words[i], "else")) {
                        descend(word(i + 1));
                        i += 2;
                    } else {
                        ++i;
                    }
                }
            } else if (is(name, "switch")) {
                descend(lastBraced(), true);
            } else if (is(name, "catch")) {
                descend(word(1));
            }
        }
        p = parse.commandStart + parse.commandSize;
        Tcl_FreeParse(&parse);
    }
    return commands;
}

void BM_ParseWalk(benchmark::State& state)
{
    const QByteArray& text = corpus();
    for (auto _ : state) {
        Tcl_Interp* interp = Tcl_CreateInterp();
        benchmark::DoNotOptimize(walk(interp, text.constData(), text.constData() + text.size()));
        Tcl_DeleteInterp(interp);
    }
    state.SetBytesProcessed(state.iterations() * text.size());
}
BENCHMARK(BM_ParseWalk)->Unit(benchmark::kMillisecond);

void BM_AnalyzeSource(benchmark::State& state)
{
    const QByteArray& text = corpus();
    for (auto _ : state)
        benchmark::DoNotOptimize(analyzeSource(text.constData()));
    state.SetBytesProcessed(state.iterations() * text.size());
}
BENCHMARK(BM_AnalyzeSource)->Unit(benchmark::kMillisecond);

// The whole operation as its callers see it: QString in, QString out.
void BM_InstrumentSource(benchmark::State& state)
{
    const QString code = QString::fromUtf8(corpus());
    for (auto _ : state)
        benchmark::DoNotOptimize(instrumentSource(code, 1));
    state.SetBytesProcessed(state.iterations() * corpus().size());
}
BENCHMARK(BM_InstrumentSource)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    Tcl_FindExecutable(argv[0]);
    if (corpus().isEmpty()) {
        std::printf("tcllib is not installed: nothing to measure\n");
        return 0;
    }
    std::printf("corpus: %d bytes of tcllib sources\n", corpus().size());
    const bool met = tarvinbench::reportRatios(argc, argv, "BM_ParseWalk",
                                               {{"BM_AnalyzeSource", 0.5}, {"BM_InstrumentSource", 1.6}});
    return met ? 0 : 1;
}
