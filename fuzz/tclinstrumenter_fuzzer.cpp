// libFuzzer target for the instrumenter: any bytes are instrumented without a crash, the hook
// records come in ascending order, removing the inserted hook texts gives the input back, and
// the nesting measurement never underestimates how deep Tcl's own parser nests.
#include "tclinstrumenter.h"

#include <tcl.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// Length of the hook text at p ("__tarvin_dbg KIND N N N; "), 0 when there is none.
int hookLength(const char* p, const char* end)
{
    static const char* const kinds[] = {"__tarvin_dbg step ", "__tarvin_dbg frame push ",
                                        "__tarvin_dbg frame pop "};
    for (const char* kind : kinds) {
        const size_t length = std::strlen(kind);
        if (size_t(end - p) < length || std::memcmp(p, kind, length) != 0)
            continue;
        const char* q = p + length;
        for (int number = 0; number < 3; ++number) {
            const char* digits = q;
            while (q < end && *q >= '0' && *q <= '9')
                ++q;
            if (q == digits || q == end || *q != (number < 2 ? ' ' : ';'))
                return 0;
            ++q;
        }
        return q < end && *q == ' ' ? int(q + 1 - p) : 0;
    }
    return 0;
}

int scriptDepth(const char* p, const char* end);

// Nesting of Tcl's parser over `count` flattened tokens: quoted words, command substitutions
// and array indices each add a level, as tclParseNestingLimit counts them.
int tokensDepth(const Tcl_Token* tokens, int count)
{
    int depth = 0;
    for (int i = 0; i < count; i += 1 + tokens[i].numComponents) {
        const Tcl_Token& token = tokens[i];
        int here = 0;
        switch (token.type) {
        case TCL_TOKEN_WORD:
        case TCL_TOKEN_SIMPLE_WORD:
        case TCL_TOKEN_EXPAND_WORD:
            here = (token.start[0] == '"') + tokensDepth(&token + 1, token.numComponents);
            break;
        case TCL_TOKEN_COMMAND:
            here = 1 + scriptDepth(token.start + 1, token.start + token.size);
            break;
        case TCL_TOKEN_VARIABLE:
            if (token.numComponents > 1)
                here = 1 + tokensDepth(&token + 2, token.numComponents - 1);
            break;
        default:
            break;
        }
        if (here > depth)
            depth = here;
    }
    return depth;
}

// The commands of a command substitution, up to and including its closing bracket.
int scriptDepth(const char* p, const char* end)
{
    int depth = 0;
    while (p < end) {
        Tcl_Parse parse;
        if (Tcl_ParseCommand(nullptr, p, int(end - p), 1, &parse) != TCL_OK)
            std::abort(); // Tcl parsed this substitution once already
        const int here = tokensDepth(parse.tokenPtr, parse.numTokens);
        if (here > depth)
            depth = here;
        p = parse.commandStart + parse.commandSize;
        const bool closed = parse.term < end && *parse.term == ']';
        Tcl_FreeParse(&parse);
        if (closed)
            break;
    }
    return depth;
}

// For the deepest top-level command Tcl parses, a limit one below its depth must stop at or
// before it. Only run when the measurement allows Tcl to see the whole text at a safe depth.
void checkNestingMeasurement(const QByteArray& script)
{
    const char* begin = script.constData();
    const char* end = begin + script.size();
    if (tclParseNestingLimit(begin, end, 200) != end)
        return;
    int deepest = 0;
    const char* deepestStart = nullptr;
    for (const char* p = begin; p < end;) {
        Tcl_Parse parse;
        if (Tcl_ParseCommand(nullptr, p, int(end - p), 0, &parse) != TCL_OK)
            break;
        const int depth = tokensDepth(parse.tokenPtr, parse.numTokens);
        if (depth > deepest) {
            deepest = depth;
            deepestStart = parse.commandStart;
        }
        p = parse.commandStart + parse.commandSize;
        Tcl_FreeParse(&parse);
    }
    if (deepest > 0 && tclParseNestingLimit(begin, end, deepest - 1) > deepestStart)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Tcl_Interp* interp = [] {
        Tcl_FindExecutable(nullptr);
        return Tcl_CreateInterp();
    }();
    const QByteArray script(reinterpret_cast<const char*>(data), int(size));
    if (script.contains("__tarvin_dbg"))
        return 0; // the removal below could not tell inserted hooks from the input's own

    std::vector<HookRecord> records;
    collectHooks(interp, script, 0, script.size(), records, true);
    for (size_t i = 1; i < records.size(); ++i)
        if (records[i].position < records[i - 1].position)
            std::abort();
    for (const HookRecord& record : records)
        if (record.position < 0 || record.position >= script.size())
            std::abort();

    const QByteArray out = writeInstrumented(script, 5, records);
    QByteArray back;
    const char* p = out.constData();
    const char* end = p + out.size();
    while (p < end) {
        const int length = hookLength(p, end);
        if (length > 0) {
            p += length;
        } else {
            back.append(*p++);
        }
    }
    if (back != script)
        std::abort();
    checkNestingMeasurement(script);
    return 0;
}
