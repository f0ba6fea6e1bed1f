// The source instrumenter: finds where debug hook calls go with Tcl's parser and writes the
// script with those calls inserted.
#include "tclinstrumenter.h"

#include <tcl.h>

#include <cctype>
#include <climits>
#include <cstring>

#ifdef __linux__
#include <sys/mman.h>
#endif

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

// ---------------------------------------------------------------------------------------------
// Nesting measurement: a scanner that follows Tcl 8.6's parser (tclParse.c) closely enough to
// know where it recurses: command substitutions, quoted words and array indices. It keeps its
// own stack on the heap, so it is safe on input of any depth.

enum FrameKind : unsigned char { TopScript, NestedScript, Quoted, Index };
enum ScriptState : unsigned char { AtCommandStart, BeforeWord, InBareWord, AfterClosedWord };

struct ScanFrame {
    FrameKind kind;
    ScriptState state;
};

// Bits set in a 16-bit SSE2 byte mask (without relying on a popcount instruction).
inline int popcount16(unsigned v)
{
    v = v - ((v >> 1) & 0x5555u);
    v = (v & 0x3333u) + ((v >> 2) & 0x3333u);
    v = (v + (v >> 4)) & 0x0F0Fu;
    return int((v + (v >> 8)) & 0x1Fu);
}

inline bool isTclSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r';
}

// Bytes that end a run of ordinary characters, per context.
enum : unsigned char {
    SpecialInBraces = 1,
    SpecialInBareWord = 2,
    SpecialInQuotes = 4,
    SpecialInIndex = 8,
    SpecialInComment = 16
};

struct ByteClasses {
    unsigned char bits[256] = {};
    ByteClasses()
    {
        auto mark = [this](const char* bytes, unsigned char bit) {
            for (const char* p = bytes; *p; ++p)
                bits[static_cast<unsigned char>(*p)] |= bit;
        };
        mark("{}\\", SpecialInBraces);
        mark(" \t\v\f\r\n;]\\$[", SpecialInBareWord);
        mark("\"\\$[", SpecialInQuotes);
        mark(")\\$[", SpecialInIndex);
        mark("\n\\", SpecialInComment);
    }
};
const ByteClasses byteClasses;

inline const char* skipOrdinary(const char* p, const char* end, unsigned char special)
{
    while (p < end && !(byteClasses.bits[static_cast<unsigned char>(*p)] & special))
        ++p;
    return p;
}

// The next '{', '}' or '\\' in [p, end), or end. Braced words make up most of a script's
// bytes seen from its top level, so this runs 16 bytes at a time where SSE2 is available.
inline const char* skipInBraces(const char* p, const char* end)
{
#ifdef __SSE2__
    const __m128i open = _mm_set1_epi8('{');
    const __m128i close = _mm_set1_epi8('}');
    const __m128i backslash = _mm_set1_epi8('\\');
    while (end - p >= 16) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i hits = _mm_or_si128(
            _mm_or_si128(_mm_cmpeq_epi8(chunk, open), _mm_cmpeq_epi8(chunk, close)),
            _mm_cmpeq_epi8(chunk, backslash));
        const int mask = _mm_movemask_epi8(hits);
        if (mask)
            return p + __builtin_ctz(unsigned(mask));
        p += 16;
    }
#endif
    return skipOrdinary(p, end, SpecialInBraces);
}

// End of the variable name after a '$' (Tcl_ParseVarName: ASCII letters, digits, '_', and runs
// of two or more colons).
const char* skipVariableName(const char* p, const char* end)
{
    while (p < end) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c < 0x80 && (std::isalnum(c) || c == '_')) {
            ++p;
        } else if (c == ':' && end - p > 1 && p[1] == ':') {
            p += 2;
            while (p < end && *p == ':')
                ++p;
        } else {
            break;
        }
    }
    return p;
}

// Number of '[' and '(' bytes in [p, end); counting may stop once `enough` are found. Every
// parsed byte is counted, so this runs 16 bytes at a time where it can.
long countOpeners(const char* p, const char* end, long enough)
{
    long count = 0;
#ifdef __SSE2__
    const __m128i bracket = _mm_set1_epi8('[');
    const __m128i paren = _mm_set1_epi8('(');
    while (end - p >= 16 && count < enough) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const int mask = _mm_movemask_epi8(
            _mm_or_si128(_mm_cmpeq_epi8(chunk, bracket), _mm_cmpeq_epi8(chunk, paren)));
        count += popcount16(unsigned(mask));
        p += 16;
    }
#endif
    for (; p < end && count < enough; ++p)
        count += (*p == '[') | (*p == '(');
    return count;
}

// Moves `ahead` on until `openers` (the count of '[' and '(' before it) exceeds `allowed`, or
// to `end`.
const char* extendWindow(const char* ahead, const char* end, long& openers, long allowed)
{
#ifdef __SSE2__
    const __m128i bracket = _mm_set1_epi8('[');
    const __m128i paren = _mm_set1_epi8('(');
    while (end - ahead >= 16) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(ahead));
        const int found = popcount16(unsigned(_mm_movemask_epi8(
            _mm_or_si128(_mm_cmpeq_epi8(chunk, bracket), _mm_cmpeq_epi8(chunk, paren)))));
        if (openers + found > allowed)
            break;
        openers += found;
        ahead += 16;
    }
#endif
    for (; ahead < end && openers <= allowed; ++ahead)
        openers += (*ahead == '[') | (*ahead == '(');
    return ahead;
}

// A braced word's inside, and the nesting level of the word.
struct BracedRange {
    const char* begin;
    const char* end;
    int depth;
};

// Follows Tcl's parser over [begin, end). For a whole range (oneCommand false): returns `end`,
// or the start of the first command that nests deeper than maxNesting or fails to parse. For
// one command (oneCommand true): returns the end of the command at `begin` (after its
// terminator), or null when it nests too deep or fails to parse.
// The range itself lies `baseDepth` levels deep. With `tooDeep`, it is set when the scan stopped
// because of the depth; with `braced`, the braced words of script levels are listed.
const char* scanNesting(const char* begin, const char* end, int maxNesting, bool oneCommand, int baseDepth = 0,
                        bool* tooDeep = nullptr, std::vector<BracedRange>* braced = nullptr)
{
    std::vector<ScanFrame> stack;
    stack.push_back({TopScript, AtCommandStart});
    const char* commandStart = begin;
    const char* p = begin;
    bool finished = false;
    auto fail = [&]() -> const char* { return oneCommand ? nullptr : commandStart; };

    auto push = [&](FrameKind kind) {
        stack.push_back({kind, AtCommandStart});
        if (int(stack.size()) - 1 + baseDepth <= maxNesting)
            return true;
        if (tooDeep)
            *tooDeep = true;
        return false;
    };
    // After '$': skips the name, and opens an index frame at "(". False on a parse error.
    auto variable = [&]() -> bool {
        if (p < end && *p == '{') {
            const void* close = std::memchr(p, '}', end - p);
            if (!close)
                return false;
            p = static_cast<const char*>(close) + 1;
            return true;
        }
        p = skipVariableName(p, end);
        if (p < end && *p == '(') {
            ++p;
            return push(Index); // the index returns to the enclosing frame's state
        }
        return true;
    };
    // A braced word starting at p: moves past its closing brace. False when it is missing.
    auto bracedWord = [&]() -> bool {
        int depth = 0;
        for (; (p = skipInBraces(p, end)) < end; ++p) {
            if (*p == '\\') {
                if (end - p > 1)
                    ++p;
            } else if (*p == '{') {
                ++depth;
            } else if (*p == '}' && --depth == 0) {
                ++p;
                return true;
            }
        }
        return false;
    };
    auto endCommand = [&]() {
        ScanFrame& top = stack.back();
        top.state = AtCommandStart;
        if (top.kind == TopScript) {
            commandStart = p;
            finished = oneCommand;
        }
    };

    while (p < end && !finished) {
        ScanFrame& frame = stack.back();
        const char c = *p;

        if (frame.kind == Quoted || frame.kind == Index) {
            const char* run =
                skipOrdinary(p, end, frame.kind == Quoted ? SpecialInQuotes : SpecialInIndex);
            if (run != p) {
                p = run;
                continue;
            }
            if (c == (frame.kind == Quoted ? '"' : ')')) {
                ++p;
                const FrameKind kind = frame.kind;
                stack.pop_back();
                if (kind == Quoted)
                    stack.back().state = AfterClosedWord;
            } else if (c == '\\') {
                p += end - p > 1 ? 2 : 1;
            } else if (c == '$') {
                ++p;
                if (!variable())
                    return fail();
            } else if (c == '[') {
                ++p;
                if (!push(NestedScript))
                    return fail();
            } else {
                ++p;
            }
            continue;
        }

        const bool nested = frame.kind == NestedScript;
        switch (frame.state) {
        case AtCommandStart:
            if (isTclSpace(c) || c == '\n') {
                ++p;
            } else if (c == '\\' && end - p > 1 && p[1] == '\n') {
                p += 2;
            } else if (c == '#') {
                while ((p = skipOrdinary(p, end, SpecialInComment)) < end) {
                    if (*p == '\\') {
                        p += end - p > 1 ? 2 : 1;
                    } else if (*p++ == '\n') {
                        break;
                    }
                }
            } else {
                frame.state = BeforeWord;
            }
            break;

        case BeforeWord:
        case AfterClosedWord:
            if (isTclSpace(c)) {
                ++p;
                frame.state = BeforeWord;
            } else if (c == '\\' && end - p > 1 && p[1] == '\n') {
                p += 2;
                frame.state = BeforeWord;
            } else if (c == '\n' || c == ';') {
                ++p;
                endCommand();
            } else if (c == ']' && nested) {
                ++p;
                stack.pop_back(); // the command substitution ends
            } else if (frame.state == AfterClosedWord) {
                return fail(); // extra characters after a close-brace or close-quote
            } else if (c == '"') {
                ++p;
                frame.state = AfterClosedWord;
                if (!push(Quoted))
                    return fail();
            } else if (c == '{') {
                const char* open = p;
                if (!bracedWord())
                    return fail();
                if (braced)
                    braced->push_back({open + 1, p - 1, baseDepth + int(stack.size())});
                // {*} directly followed by a word expands that word.
                if (p - open == 3 && open[1] == '*' && p < end && !isTclSpace(*p) &&
                    *p != '\n' && *p != ';' && !(*p == '\\' && end - p > 1 && p[1] == '\n'))
                    frame.state = BeforeWord;
                else
                    frame.state = AfterClosedWord;
            } else {
                frame.state = InBareWord;
            }
            break;

        case InBareWord:
            if (!(byteClasses.bits[static_cast<unsigned char>(c)] & SpecialInBareWord)) {
                p = skipOrdinary(p + 1, end, SpecialInBareWord);
            } else if (isTclSpace(c)) {
                ++p;
                frame.state = BeforeWord;
            } else if (c == '\n' || c == ';') {
                ++p;
                endCommand();
            } else if (c == ']' && nested) {
                ++p;
                stack.pop_back();
            } else if (c == '\\') {
                if (end - p > 1 && p[1] == '\n') {
                    p += 2;
                    frame.state = BeforeWord;
                } else {
                    p += end - p > 1 ? 2 : 1;
                }
            } else if (c == '$') {
                ++p;
                if (!variable())
                    return fail();
            } else if (c == '[') {
                ++p;
                if (!push(NestedScript))
                    return fail();
            } else {
                ++p;
            }
            break;
        }
    }
    if (finished)
        return p;
    // Unclosed substitutions, quotes or indices: Tcl fails on this command.
    return stack.size() == 1 ? end : fail();
}

} // namespace

const char* tclParseNestingLimit(const char* begin, const char* end, int maxNesting)
{
    // Every level of recursion starts at a '[', a '(' or a '"', and quoted words only occur
    // inside a script level, so few of those bytes cannot nest deeply.
    if (maxNesting >= 1 && countOpeners(begin, end, (maxNesting - 1) / 2 + 1) <= (maxNesting - 1) / 2)
        return end;
    return scanNesting(begin, end, maxNesting, false);
}

int tclNestingTooDeep(const QByteArray& script, int maxNesting)
{
    const char* const text = script.constData();
    // Every level begins at one of these bytes; a script with few of them cannot nest deeply.
    long openers = 0;
    for (const char c : script)
        openers += (c == '[') | (c == '(') | (c == '{') | (c == '"');
    if (openers <= maxNesting)
        return -1;
    // Braced words may be scripts run later (bodies) or data; each is scanned as a script, one
    // level deeper than the word. A command that fails to parse is never run, nor are the braced
    // words in it.
    const char* first = nullptr;
    std::vector<BracedRange> work{{text, text + script.size(), 0}};
    std::vector<BracedRange> found;
    while (!work.empty()) {
        const BracedRange range = work.back();
        work.pop_back();
        bool deep = false;
        found.clear();
        const char* stop = scanNesting(range.begin, range.end, maxNesting, false, range.depth, &deep, &found);
        if (deep) {
            if (!first || stop < first)
                first = stop;
            continue;
        }
        for (const BracedRange& b : found)
            if (b.begin < stop)
                work.push_back(b);
    }
    if (!first)
        return -1;
    // The command begins after the blanks and comment lines that precede it.
    const char* const end = text + script.size();
    while (first < end) {
        if (*first == '#') {
            const void* eol = std::memchr(first, '\n', end - first);
            if (!eol)
                break;
            first = static_cast<const char*>(eol) + 1;
        } else if (isTclSpace(*first) || *first == '\n' || *first == ';') {
            ++first;
        } else {
            break;
        }
    }
    return int(first - text);
}

namespace {

// ---------------------------------------------------------------------------------------------
// Collecting pass.

struct Collector {
    Tcl_Interp* interp;
    const char* base;
    std::vector<HookRecord>& records;
    // Whether the bodies of the command being handled are known to hold few '[' and '('
    // bytes: true when the command itself was parsed within a window of few of them.
    bool bodiesSmall = false;
    // `after cancel SCRIPT` finds a handler by its text, which hooks would change: a script that
    // cancels so gets no hooks in its `after` scripts.
    bool afterScripts = true;

    void add(HookRecord::Kind kind, const char* at)
    {
        records.push_back({kind, int(at - base)});
    }

    // Parses [begin, end) command by command. Returns true when a frame pop inserted at `end`
    // would leave the range's result alone: the range parsed completely, its last command is
    // `return` (so the pop is never reached) or it has no command, and that last command or
    // comment does not run up to `end` (the pop would continue it).
    bool collect(const char* begin, const char* end, bool returnPops, int bodyNesting,
                 bool classBody = false);
    void command(const Tcl_Parse& parse, bool returnPops, int bodyNesting, bool classBody);
    void descend(const Tcl_Token* word, bool returnPops, int bodyNesting, bool classBody = false)
    {
        if (isBraced(word))
            descendInto(word->start, word->start + word->size, returnPops, bodyNesting, classBody);
    }
    // The braced text [open, close) (braces included) as a script.
    void descendInto(const char* open, const char* close, bool returnPops, int bodyNesting,
                     bool classBody = false)
    {
        if (bodyNesting < maxBodyNesting)
            collect(open + 1, close - 1, returnPops, bodyNesting + 1, classBody);
    }
    // A procedure-like body: a frame of its own, pushed at its start and popped by its returns.
    void procedureBody(const Tcl_Token* body, int bodyNesting)
    {
        if (!isBraced(body) || bodyNesting >= maxBodyNesting)
            return;
        const char* open = body->start + 1;
        const char* close = body->start + body->size - 1;
        add(HookRecord::FramePush, open);
        if (collect(open, close, true, bodyNesting + 1))
            add(HookRecord::FramePop, close);
    }
    void switchArms(const Tcl_Token* list, int bodyNesting);

    // The body of a step definition or a hook.
    void descendBody(const Tcl_Token* word, int bodyNesting)
    {
        if (isBraced(word) && bodyNesting < maxBodyNesting)
            add(HookRecord::BodyStart, word->start + 1);
        descend(word, false, bodyNesting);
    }

    static bool isBraced(const Tcl_Token* word)
    {
        return word && word->type != TCL_TOKEN_EXPAND_WORD && word->size >= 2 &&
               word->start[0] == '{';
    }
};

// Whether a command's words hold a command substitution.
bool callsCommands(const Tcl_Parse& parse)
{
    for (int i = 0; i < parse.numTokens; ++i)
        if (parse.tokenPtr[i].type == TCL_TOKEN_COMMAND)
            return true;
    return false;
}

template <size_t N>
bool wordIs(const Tcl_Token* word, const char (&text)[N])
{
    return word->size == int(N - 1) && std::memcmp(word->start, text, N - 1) == 0;
}

// The word tokens of a parsed command: word i at words[i], the command name at words[0].
// Most commands have few words; those fit without a heap allocation.
class Words {
public:
    explicit Words(const Tcl_Parse& parse)
    {
        if (parse.numWords > int(sizeof fixed / sizeof fixed[0])) {
            more.resize(parse.numWords);
            data = more.data();
        }
        const Tcl_Token* token = parse.tokenPtr;
        for (int i = 0; i < parse.numWords; ++i) {
            data[i] = token;
            token += 1 + token->numComponents;
        }
        count = parse.numWords;
    }
    const Tcl_Token* operator[](int i) const { return data[i]; }
    int size() const { return count; }

private:
    const Tcl_Token* fixed[16];
    std::vector<const Tcl_Token*> more;
    const Tcl_Token** data = fixed;
    int count = 0;
};

bool Collector::collect(const char* begin, const char* end, bool returnPops, int bodyNesting,
                        bool classBody)
{
    // Tcl's parser recurses at most twice per '[' or '(' it meets, so a text holding few of
    // them is safe to hand over as it is. Commands are parsed within a window [p, ahead) that
    // holds at most `allowed` of them; a command that does not end inside its window is
    // measured with scanNesting first and parsed only when it is shallow enough.
    const long allowed = (maxParseNesting - 1) / 2;
    // Most bodies hold few such bytes: the whole range is one window, nothing to slide.
    const bool smallRange = bodiesSmall || countOpeners(begin, end, allowed + 1) <= allowed;
    struct Restore {
        bool& flag;
        bool value;
        ~Restore() { flag = value; }
    } restore{bodiesSmall, bodiesSmall}; // the enclosing command's value, for its next body
    const char* p = begin;
    const char* ahead = smallRange ? end : begin;
    long openers = 0; // '[' and '(' in [p, ahead), when the range is not small
    bool openEnd = false;
    bool endsInReturn = true; // no command yet
    while (p < end) {
        if (!smallRange)
            ahead = extendWindow(ahead, end, openers, allowed);
        const char* safe = openers > allowed ? ahead - 1 : ahead;
        Tcl_Parse parse;
        bool parsed = false;
        if (safe > p && Tcl_ParseCommand(interp, p, int(safe - p), 0, &parse) == TCL_OK) {
            // Ended by a terminator inside the window, the parser saw nothing beyond it.
            parsed = safe == end || parse.term < safe;
            if (!parsed)
                Tcl_FreeParse(&parse);
        }
        if (!parsed) {
            const char* commandEnd = scanNesting(p, end, maxParseNesting, true);
            if (!commandEnd || Tcl_ParseCommand(interp, p, int(commandEnd - p), 0, &parse) != TCL_OK)
                return false; // the parser has freed what it allocated
        }
        const char* next = parse.commandStart + parse.commandSize;
        bodiesSmall = parsed; // parsed within a window, rather than measured as a whole
        if (parse.numWords > 0) {
            openEnd = next == end && parse.term == end;
            endsInReturn = parse.tokenPtr->type == TCL_TOKEN_SIMPLE_WORD &&
                           wordIs(parse.tokenPtr, "return");
            command(parse, returnPops, bodyNesting, classBody);
        } else {
            openEnd = parse.commentSize > 0 && parse.commentStart + parse.commentSize == end &&
                      end[-1] != '\n';
        }
        Tcl_FreeParse(&parse);
        if (next <= p)
            return false;
        if (!smallRange) {
            if (next > ahead) {
                ahead = next;
                openers = 0;
            } else {
                openers -= countOpeners(p, next, LONG_MAX);
            }
        }
        p = next;
    }
    return endsInReturn && !openEnd;
}

// The elements of the Tcl list [p, end), as written (braces and quotes included). False when
// the text is no well-formed list.
bool listElements(const char* p, const char* end, std::vector<std::pair<const char*, const char*>>& elements)
{
    auto isListSpace = [](char c) { return isTclSpace(c) || c == '\n'; };
    for (;;) {
        while (p < end && isListSpace(*p))
            ++p;
        if (p == end)
            return true;
        const char* start = p;
        if (*p == '{') {
            int depth = 0;
            for (; p < end; ++p) {
                if (*p == '\\') {
                    if (end - p > 1)
                        ++p;
                } else if (*p == '{') {
                    ++depth;
                } else if (*p == '}' && --depth == 0) {
                    break;
                }
            }
            if (p == end)
                return false;
            ++p;
        } else if (*p == '"') {
            for (++p; p < end && *p != '"'; ++p)
                if (*p == '\\' && end - p > 1)
                    ++p;
            if (p == end)
                return false;
            ++p;
        } else {
            for (; p < end && !isListSpace(*p); ++p)
                if (*p == '\\' && end - p > 1)
                    ++p;
        }
        if (p < end && !isListSpace(*p))
            return false; // "extra characters after close-brace"
        elements.emplace_back(start, p);
    }
}

// The pattern list of a switch: every second element is a body ("-" falls through to the next).
void Collector::switchArms(const Tcl_Token* list, int bodyNesting)
{
    std::vector<std::pair<const char*, const char*>> elements;
    if (!isBraced(list) || !listElements(list->start + 1, list->start + list->size - 1, elements))
        return;
    for (size_t i = 1; i < elements.size(); i += 2)
        if (*elements[i].first == '{')
            descendInto(elements[i].first, elements[i].second, true, bodyNesting);
}

// Hooks go only into braced words that the command evaluates as scripts: a braced word that is
// data (a list, a pattern, a dict, a value) stays exactly as written, or the script would
// compute something else.
void Collector::command(const Tcl_Parse& parse, bool returnPops, int bodyNesting, bool classBody)
{
    const Words words(parse);
    const Tcl_Token* name = words[0];
    if (name->type != TCL_TOKEN_SIMPLE_WORD)
        return; // substitutions in the name: neither hooked nor descended into
    const int last = int(words.size()) - 1;
    auto word = [&](int i) -> const Tcl_Token* { return i >= 1 && i <= last ? words[i] : nullptr; };
    auto wordEquals = [&](int i, const char* text) {
        const Tcl_Token* w = word(i);
        const size_t length = std::strlen(text);
        return w && w->type == TCL_TOKEN_SIMPLE_WORD && size_t(w->size) == length &&
               std::memcmp(w->start, text, length) == 0;
    };

    if (classBody) {
        // A class definition script: its method, constructor and destructor bodies are
        // procedures; the definition commands themselves get no hooks.
        if (wordIs(name, "method"))
            procedureBody(last == 3 ? word(3) : nullptr, bodyNesting);
        else if (wordIs(name, "constructor"))
            procedureBody(last == 2 ? word(2) : nullptr, bodyNesting);
        else if (wordIs(name, "destructor"))
            procedureBody(last == 1 ? word(1) : nullptr, bodyNesting);
        return;
    }

    // Every name below is 2 to 15 bytes long and starts with one of these letters.
    if (name->size < 2 || name->size > 15 || !std::strchr("prSGWTOnfwuisctedlaob", name->start[0])) {
        add(HookRecord::StepHook, parse.commandStart);
        return;
    }
    const bool isProc = wordIs(name, "proc");
    const bool isReturn = wordIs(name, "return");
    if (!isProc && !isReturn)
        add(HookRecord::StepHook, parse.commandStart);

    if (isProc) {
        procedureBody(last == 3 ? word(3) : nullptr, bodyNesting);
    } else if (isReturn) {
        // A return whose words call commands pops its frame only after they ran: a pop in front would
        // show the caller's frame while they run. Its step hook stops on the return line itself, and
        // the debug hook drops the frame once the caller goes on.
        if (returnPops)
            add(callsCommands(parse) ? HookRecord::StepHook : HookRecord::FramePop, parse.commandStart);
    } else if (wordIs(name, "Step") || wordIs(name, "Given") || wordIs(name, "When") ||
               wordIs(name, "Then")) {
        descendBody(last >= 4 ? word(4) : word(3), bodyNesting);
    } else if (wordIs(name, "OnFeatureStart") || wordIs(name, "OnFeatureEnd") ||
               wordIs(name, "OnScenarioStart") || wordIs(name, "OnScenarioEnd") ||
               wordIs(name, "OnStepStart") || wordIs(name, "OnStepEnd")) {
        descendBody(word(2), bodyNesting);
    } else if (wordIs(name, "namespace")) {
        // Only the subcommands taking one script: `namespace ensemble create -map {...}` is data.
        if ((wordEquals(1, "eval") && last == 3) || (wordEquals(1, "code") && last == 2))
            descend(word(last), true, bodyNesting);
    } else if (wordIs(name, "foreach") || wordIs(name, "lmap")) {
        // foreach varList list ?varList list ...? body: the lists are data.
        if (last >= 3 && last % 2 == 1)
            descend(word(last), true, bodyNesting);
    } else if (wordIs(name, "while")) {
        if (last == 2)
            descend(word(2), true, bodyNesting);
    } else if (wordIs(name, "for")) {
        if (last == 4)
            descend(word(4), true, bodyNesting);
    } else if (wordIs(name, "uplevel")) {
        // uplevel ?level? script: several words would be concatenated into the script.
        if (last == 1 || (last == 2 && word(1)->type == TCL_TOKEN_SIMPLE_WORD))
            descend(word(last), true, bodyNesting);
    } else if (wordIs(name, "eval")) {
        if (last == 1)
            descend(word(1), true, bodyNesting);
    } else if (wordIs(name, "if")) {
        int body = wordEquals(2, "then") ? 3 : 2;
        descend(word(body), true, bodyNesting);
        for (int i = body + 1; i <= last;) {
            if (wordEquals(i, "elseif")) {
                const int next = wordEquals(i + 2, "then") ? i + 3 : i + 2;
                descend(word(next), true, bodyNesting);
                i = next + 1;
            } else if (wordEquals(i, "else")) {
                descend(word(i + 1), true, bodyNesting);
                i += 2;
            } else {
                ++i;
            }
        }
    } else if (wordIs(name, "switch")) {
        int i = 1;
        while (i <= last && word(i)->type == TCL_TOKEN_SIMPLE_WORD && word(i)->start[0] == '-') {
            if (wordEquals(i, "--")) {
                ++i;
                break;
            }
            i += wordEquals(i, "-matchvar") || wordEquals(i, "-indexvar") ? 2 : 1;
        }
        // i is the string; then one braced list of patterns and bodies, or separate words.
        if (last == i + 1) {
            switchArms(word(last), bodyNesting);
        } else if (last > i + 1 && (last - i) % 2 == 0) {
            for (int body = i + 2; body <= last; body += 2)
                descend(word(body), true, bodyNesting);
        }
    } else if (wordIs(name, "catch")) {
        if (last >= 1 && last <= 3)
            descend(word(1), true, bodyNesting);
    } else if (wordIs(name, "try")) {
        descend(word(1), true, bodyNesting);
        for (int i = 2; i <= last;) {
            if (wordEquals(i, "on") || wordEquals(i, "trap")) {
                descend(word(i + 3), true, bodyNesting);
                i += 4;
            } else if (wordEquals(i, "finally")) {
                descend(word(i + 1), true, bodyNesting);
                i += 2;
            } else {
                break;
            }
        }
    } else if (wordIs(name, "dict")) {
        if ((wordEquals(1, "for") || wordEquals(1, "map")) && last == 4)
            descend(word(4), true, bodyNesting);
        else if (wordEquals(1, "with") && last >= 3)
            descend(word(last), true, bodyNesting);
        else if (wordEquals(1, "update") && last >= 5 && last % 2 == 1)
            descend(word(last), true, bodyNesting);
    } else if (wordIs(name, "apply")) {
        // apply {args body ?namespace?} ?arg ...?: the body is the lambda's second element.
        std::vector<std::pair<const char*, const char*>> lambda;
        const Tcl_Token* w = word(1);
        if (isBraced(w) && listElements(w->start + 1, w->start + w->size - 1, lambda) &&
            (lambda.size() == 2 || lambda.size() == 3) && *lambda[1].first == '{')
            descendInto(lambda[1].first, lambda[1].second, false, bodyNesting);
    } else if (wordIs(name, "oo::class")) {
        if (wordEquals(1, "create") && last == 3)
            descend(word(3), false, bodyNesting, true);
    } else if (wordIs(name, "oo::define") || wordIs(name, "oo::objdefine")) {
        if (last == 2)
            descend(word(2), false, bodyNesting, true);
        else if (wordEquals(2, "method") && last == 5)
            procedureBody(word(5), bodyNesting);
        else if (wordEquals(2, "constructor") && last == 4)
            procedureBody(word(4), bodyNesting);
        else if (wordEquals(2, "destructor") && last == 3)
            procedureBody(word(3), bodyNesting);
    } else if (wordIs(name, "after")) {
        // after ms|idle script: run later at the global level, outside any frame.
        const Tcl_Token* when = word(1);
        bool delay = when && when->type == TCL_TOKEN_SIMPLE_WORD && when->size > 0;
        for (int i = 0; delay && i < when->size; ++i)
            delay = std::isdigit(static_cast<unsigned char>(when->start[i])) != 0;
        if (afterScripts && last == 2 && (delay || wordEquals(1, "idle")))
            descend(word(2), false, bodyNesting);
    } else if (wordIs(name, "bind")) {
        // bind tag event script; a script starting with "+" is appended to the binding, and a
        // hook in front of it would hide the "+".
        const Tcl_Token* script = word(3);
        if (last == 3 && isBraced(script)) {
            const char* p = script->start + 1;
            while (isTclSpace(*p) || *p == '\n')
                ++p;
            if (*p != '+')
                descend(script, false, bodyNesting);
        }
    }
}

// Writes the decimal digits of a number at `out`; returns the position after them.
char* writeNumber(char* out, int value)
{
    char digits[12];
    int n = 0;
    unsigned v = value < 0 ? 0u - unsigned(value) : unsigned(value);
    do {
        digits[n++] = char('0' + v % 10);
        v /= 10;
    } while (v);
    if (value < 0)
        *out++ = '-';
    while (n)
        *out++ = digits[--n];
    return out;
}

} // namespace

void collectHooks(Tcl_Interp* interp, const QByteArray& script, int begin, int end,
                  std::vector<HookRecord>& records, bool returnPops)
{
    Collector collector{interp, script.constData(), records};
    collector.afterScripts = !script.contains("after cancel");
    collector.collect(script.constData() + begin, script.constData() + end, returnPops, 0, false);
}

namespace {

// The writing pass proper. Calls sink.copy(from, to) for each stretch of the script between
// two hooks and sink.hook(text, length) for each hook text written, in output order.
template <class Sink>
void writeHooks(const QByteArray& script, int sourceId, const std::vector<HookRecord>& records,
                Sink& sink)
{
    const char* const text = script.constData();
    const int size = script.size();
    // Line and column are only needed at the records, so the text between two records is
    // copied in one piece and only scanned for newlines and tabs.
    int line = 0;
    int lineStart = 0;   // position after the last newline before `scanned`
    int scanned = 0;     // line and lineStart describe the text before this position
    int stepLine = -1;   // line whose step hook was written
    int columnAt = 0;    // column of the byte at columnPos, on the current line
    int columnPos = 0;
    for (const HookRecord& record : records) {
        if (record.position < scanned || record.position >= size)
            continue; // out of order or at the end of the text: never reached
        sink.copy(scanned, record.position);
        for (const char* nl = static_cast<const char*>(
                 std::memchr(text + scanned, '\n', record.position - scanned));
             nl; nl = static_cast<const char*>(
                     std::memchr(nl + 1, '\n', text + record.position - (nl + 1)))) {
            ++line;
            lineStart = int(nl - text) + 1;
        }
        scanned = record.position;
        if (record.kind == HookRecord::BodyStart) {
            stepLine = -1;
            continue;
        }
        if (stepLine == line)
            continue; // nothing more on a line once its step hook is written
        if (columnPos < lineStart) {
            columnPos = lineStart;
            columnAt = 0;
        }
        for (; columnPos < record.position; ++columnPos)
            columnAt += text[columnPos] == '\t' ? 8 : 1;

        char hook[80];
        const char* const prefix = record.kind == HookRecord::StepHook ? "__tarvin_dbg step "
                                   : record.kind == HookRecord::FramePush
                                       ? "__tarvin_dbg frame push "
                                       : "__tarvin_dbg frame pop ";
        const size_t prefixLength = std::strlen(prefix);
        std::memcpy(hook, prefix, prefixLength);
        char* out = writeNumber(hook + prefixLength, line);
        *out++ = ' ';
        out = writeNumber(out, columnAt);
        *out++ = ' ';
        out = writeNumber(out, sourceId);
        *out++ = ';';
        *out++ = ' ';
        sink.hook(hook, int(out - hook));
        if (record.kind == HookRecord::StepHook)
            stepLine = line;
    }
    sink.copy(scanned, size);
}

// Number of UTF-16 code units that the valid UTF-8 bytes [p, end) decode to: one per byte that
// starts a character, one more for each four-byte character (a surrogate pair).
int utf16Length(const char* p, const char* end)
{
    int count = 0;
#ifdef __SSE2__
    const __m128i lastContinuation = _mm_set1_epi8(char(0xBF)); // -65
    const __m128i beforeFourByteLead = _mm_set1_epi8(char(0xEF)); // -17
    const __m128i afterFourByteLead = _mm_set1_epi8(char(0xF8)); // -8
    for (; end - p >= 16; p += 16) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i starts = _mm_cmpgt_epi8(chunk, lastContinuation);
        const __m128i fourByteLeads = _mm_and_si128(_mm_cmpgt_epi8(chunk, beforeFourByteLead),
                                                    _mm_cmplt_epi8(chunk, afterFourByteLead));
        count += popcount16(unsigned(_mm_movemask_epi8(starts))) +
                 popcount16(unsigned(_mm_movemask_epi8(fourByteLeads)));
    }
#endif
    for (; p < end; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        count += ((c & 0xC0) != 0x80) + ((c & 0xF8) == 0xF0);
    }
    return count;
}

} // namespace

QByteArray writeInstrumented(const QByteArray& script, int sourceId,
                             const std::vector<HookRecord>& records)
{
    if (script.isEmpty())
        return QByteArray();
    // Room for the longest hook text per record: 24 + 3 * 11 + 4 bytes.
    QByteArray result(int(script.size() + records.size() * 64), Qt::Uninitialized);
    struct {
        const char* text;
        char* out;
        void copy(int from, int to)
        {
            std::memcpy(out, text + from, size_t(to - from));
            out += to - from;
        }
        void hook(const char* hookText, int length)
        {
            std::memcpy(out, hookText, size_t(length));
            out += length;
        }
    } sink{script.constData(), result.data()};
    writeHooks(script, sourceId, records, sink);
    result.truncate(int(sink.out - result.constData()));
    return result;
}

QByteArray stripHooks(const char* text, int length)
{
    static const char marker[] = "__tarvin_dbg ";
    const int markerLength = int(sizeof marker - 1);
    QByteArray result;
    const char* const end = text + length;
    const char* copied = text;
    // The length of a hook call starting at p, or 0.
    auto hookAt = [&](const char* p) -> int {
        const char* q = p + markerLength;
        static const char* const kinds[] = {"step ", "frame push ", "frame pop "};
        bool kind = false;
        for (const char* k : kinds) {
            const size_t n = std::strlen(k);
            if (size_t(end - q) >= n && std::memcmp(q, k, n) == 0) {
                q += n;
                kind = true;
                break;
            }
        }
        if (!kind)
            return 0;
        for (int number = 0; number < 3; ++number) {
            if (q < end && *q == '-')
                ++q;
            const char* digits = q;
            while (q < end && *q >= '0' && *q <= '9')
                ++q;
            if (q == digits || q >= end || *q != (number < 2 ? ' ' : ';'))
                return 0;
            ++q;
        }
        return q < end && *q == ' ' ? int(q + 1 - p) : 0;
    };
    for (const char* p = text; end - p >= markerLength;) {
        const char* found = static_cast<const char*>(std::memchr(p, '_', size_t(end - p)));
        if (!found)
            break;
        const int hook = end - found >= markerLength && std::memcmp(found, marker, markerLength) == 0
                             ? hookAt(found)
                             : 0;
        if (hook) {
            result.append(copied, int(found - copied));
            copied = found + hook;
            p = copied;
        } else {
            p = found + 1;
        }
    }
    result.append(copied, int(end - copied));
    return result;
}

namespace {

// A large script's output is tens of megabytes of freshly mapped memory. Touched page by page, the
// page faults cost more than the instrumenting itself on machines where faults are dear (virtual
// machines, memory accounting): ask for huge pages where the system grants them on request.
void adviseHugePages(void* data, size_t bytes)
{
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    const size_t huge = size_t(2) << 20;
    if (bytes < 4 * huge)
        return;
    const uintptr_t begin = (reinterpret_cast<uintptr_t>(data) + huge - 1) & ~(huge - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(data) + bytes) & ~(huge - 1);
    if (end > begin)
        madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#else
    (void)data;
    (void)bytes;
#endif
}

// The parser's scratch interpreter: one per thread, made on first use and kept, since making one
// costs more than instrumenting most files (a `package require` sources hundreds of index files). It
// never evaluates anything. It goes with its thread, or earlier when Tcl finalizes the thread.
class ScratchInterpreter {
public:
    ~ScratchInterpreter() { release(true); }
    Tcl_Interp* get()
    {
        if (!interp) {
            interp = Tcl_CreateInterp();
            Tcl_CreateThreadExitHandler(&ScratchInterpreter::threadExit, this);
        }
        Tcl_ResetResult(interp);
        return interp;
    }

private:
    static void threadExit(ClientData data) { static_cast<ScratchInterpreter*>(data)->release(false); }
    void release(bool dropHandler)
    {
        if (!interp)
            return;
        if (dropHandler)
            Tcl_DeleteThreadExitHandler(&ScratchInterpreter::threadExit, this);
        Tcl_DeleteInterp(interp);
        interp = nullptr;
    }
    Tcl_Interp* interp = nullptr;
};

thread_local ScratchInterpreter scratchInterpreter;

} // namespace

/*
 * instrumentSource --
 *      Rewrites a script with debug hook calls.
 * Results:
 *      The instrumented script; an empty script stays empty.
 * Side effects:
 *      The thread's scratch Tcl interpreter, used for parsing only, is made on the first call.
 */
QString instrumentSource(const QString& code, int sourceId)
{
    const QByteArray utf8 = code.toUtf8();
    if (utf8.isEmpty())
        return QString();
    Tcl_Interp* interp = scratchInterpreter.get();
    std::vector<HookRecord> records;
    // About one record per 20 bytes of real scripts: growing the list by doubling copied it, and
    // touched fresh pages, several times over.
    records.reserve(size_t(utf8.size()) / 16 + 16);
    adviseHugePages(records.data(), records.capacity() * sizeof(HookRecord));
    collectHooks(interp, utf8, 0, utf8.size(), records, true);

    // The writing pass straight into UTF-16: the stretches between hooks are copied from `code`
    // (the UTF-8 text is its exact image), which spares decoding the whole output again.
    QString result(int(code.size() + records.size() * 64), Qt::Uninitialized);
    adviseHugePages(result.data(), size_t(result.size()) * sizeof(QChar));
    struct {
        const char* text;
        const QChar* source;
        QChar* out;
        bool ascii;
        void copy(int from, int to)
        {
            const int length = ascii ? to - from : utf16Length(text + from, text + to);
            std::memcpy(static_cast<void*>(out), source, size_t(length) * sizeof(QChar));
            out += length;
            source += length;
        }
        void hook(const char* hookText, int length)
        {
            for (int i = 0; i < length; ++i)
                *out++ = QLatin1Char(hookText[i]);
        }
    } sink{utf8.constData(), code.constData(), result.data(), utf8.size() == code.size()};
    writeHooks(utf8, sourceId, records, sink);
    result.truncate(int(sink.out - result.constData()));
    return result;
}
