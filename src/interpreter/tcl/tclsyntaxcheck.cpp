// The source analyser behind checkSyntax: one pass over the script bytes, a small state machine
// per nesting level, and a keyword trie that decides which braced words are scripts to descend
// into.
#include "tclsyntaxcheck.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

// Address-sanitized builds (GCC's and clang's spelling) skip braced runs byte by byte; see skipBracedRun.
#if defined(__SANITIZE_ADDRESS__)
#define TARVIN_SANITIZED_ADDRESSES 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TARVIN_SANITIZED_ADDRESSES 1
#endif
#endif

#if defined(__SSE2__) && !defined(TARVIN_SANITIZED_ADDRESSES)
#include <emmintrin.h>
#endif

namespace {

enum State : unsigned char {
    CommandStart,
    CommandWord,
    Comment,
    BetweenWords,
    ArgumentWord,
    QuotedWord,
    BracedWord,
    AfterCloseBrace,
    AfterCloseQuote,
    AfterComment
};

// Which braced words of a command are scripts to analyse; words are counted after the command
// name, so word 1 is the first argument.
enum BodyRule : unsigned char {
    NoRule,
    OnlyWord1,
    OnlyWord2,
    OnlyWord3,
    OnlyWord4,
    FromWord2,
    FromWord3,
    FromWord4,
    EveryWord,
    // Rules that look at the words themselves (Tcl 8.5 and 8.6 commands); see acceptsDynamic.
    IfRule,
    TryRule,
    SwitchRule,
    DictRule,
    NamespaceRule,
    ApplyRule,
    OoClassRule,
    OoDefineRule,
    WhileRule,
    ForRule,
    ExprRule,
    // Inside a braced list: a switch pattern list (every second element is a body) and an apply
    // lambda (its second element is the body).
    PairListRule,
    LambdaRule
};

// How a nested level reads its text.
// An expression (a condition of if, while or for, the argument of expr) is read for its command
// substitutions, quotes and braces only: a missing bracket or quote in it is found.
enum LevelKind : unsigned char { ScriptLevel, PairListLevel, LambdaLevel, ExpressionLevel };

// Lists are not substituted; scripts and expressions are.
inline bool substitutes(LevelKind kind)
{
    return kind == ScriptLevel || kind == ExpressionLevel;
}

bool ruleAccepts(BodyRule rule, int word)
{
    switch (rule) {
    case NoRule: return false;
    case OnlyWord1: return word == 1;
    case OnlyWord2: return word == 2;
    case OnlyWord3: return word == 3;
    case OnlyWord4: return word == 4;
    case FromWord2: return word >= 2;
    case FromWord3: return word >= 3;
    case FromWord4: return word >= 4;
    case EveryWord: return true;
    default: return false;
    }
}

struct Keyword {
    const char* name;
    BodyRule rule;
};

const Keyword keywordTable[] = {
    {"proc", OnlyWord3},       {"while", WhileRule},      {"if", IfRule},
    {"foreach", OnlyWord3},    {"for", ForRule},        {"switch", SwitchRule},
    {"loop", FromWord4},       {"itcl_class", OnlyWord2}, {"method", OnlyWord3},
    {"constructor", OnlyWord2}, {"destructor", OnlyWord1}, {"_recParseAll_", EveryWord},
    // Tcl 8.5 and 8.6.
    {"try", TryRule},          {"dict", DictRule},        {"lmap", OnlyWord3},       {"expr", ExprRule},
    {"apply", ApplyRule},      {"namespace", NamespaceRule}, {"catch", OnlyWord1},
    {"oo::class", OoClassRule}, {"oo::define", OoDefineRule}, {"oo::objdefine", OoDefineRule},
};

// Whether the word at `p` is exactly `word`: followed by a blank, the end of its line or a
// backslash (of a continuation line). The text is NUL-terminated, so reading ahead is safe.
template <size_t N>
bool wordAt(const char* p, const char (&word)[N])
{
    if (std::strncmp(p, word, N - 1) != 0)
        return false;
    const char next = p[N - 1];
    return next == ' ' || next == '\t' || next == '\\' || next == '\n' || next == ';' || next == 0;
}

// 256-way trie over the keyword bytes. Slot 0 of a node holds the rule of the keyword ending
// there (no word contains a NUL byte); the other slots hold child node numbers, 0 for none
// (node 0 is the root and never a child).
struct KeywordTrie {
    std::vector<short> nodes;

    KeywordTrie() : nodes(256, 0)
    {
        for (const Keyword& keyword : keywordTable) {
            int node = 0;
            for (const char* p = keyword.name; *p; ++p) {
                const unsigned char byte = static_cast<unsigned char>(*p);
                short& next = nodes[node * 256 + byte];
                if (next == 0) {
                    next = static_cast<short>(nodes.size() / 256);
                    nodes.resize(nodes.size() + 256, 0);
                }
                node = nodes[node * 256 + byte];
            }
            nodes[node * 256] = keyword.rule;
        }
    }
};

enum Message : unsigned char {
    NoMessage,
    TooDeep,
    IllegalCharacter,
    BraceInsideWord,
    ExtraAfterCloseBrace,
    ExtraAfterCloseQuote,
    MissingQuoteNested,
    MissingBraceNested,
    MissingTerminator,
    MissingQuote,
    MissingBrace
};

// The last report. Every report replaces the previous one, so only the last needs its text; it
// is formatted once at the end instead of at every report (deep input reports a great many).
struct Report {
    Message message = NoMessage;
    int line = 0;
    int column = 0;
    int terminator = 0;
    int openLine = 0;
    int openColumn = 0;
};

QByteArray formatReport(const Report& report)
{
    if (report.message == NoMessage)
        return QByteArray();
    char message[160];
    switch (report.message) {
    case TooDeep:
        std::snprintf(message, sizeof message, "too many nested call to analyze");
        break;
    case IllegalCharacter:
        std::snprintf(message, sizeof message, "illegal caracter in source file");
        break;
    case BraceInsideWord:
        std::snprintf(message, sizeof message,
                      "{ inside a word and inside a construct : should be backslashed");
        break;
    case ExtraAfterCloseBrace:
        std::snprintf(message, sizeof message, "extra characters after close-brace");
        break;
    case ExtraAfterCloseQuote:
        std::snprintf(message, sizeof message, "extra characters after close-quote");
        break;
    case MissingQuoteNested:
        std::snprintf(message, sizeof message, "missing \" (and %c [opened line %d, c%d]) !",
                      report.terminator, report.openLine, report.openColumn);
        break;
    case MissingBraceNested:
        std::snprintf(message, sizeof message, "missing } (and %c [opened line %d, c%d]) !",
                      report.terminator, report.openLine, report.openColumn);
        break;
    case MissingTerminator:
        std::snprintf(message, sizeof message, "missing %c [opened line %d, c%d] !",
                      report.terminator, report.openLine, report.openColumn);
        break;
    case MissingQuote:
        std::snprintf(message, sizeof message, "missing \" !");
        break;
    case MissingBrace:
        std::snprintf(message, sizeof message, "missing } !");
        break;
    case NoMessage:
        break;
    }
    char text[2048];
    const int length = std::snprintf(text, sizeof text, "Line %d: Error: %s (p %d)\n",
                                     report.line, message, report.column);
    return QByteArray(text, length < int(sizeof text) ? length : int(sizeof text) - 1);
}

// What a nesting level saves of its enclosing level. Line, column and keyword position are
// analysis-wide and are not restored when a level ends.
struct Level {
    State state;
    BodyRule rule;
    signed char terminator; // -1 at the top level, ']' or '}'
    LevelKind kind;
    int wordIndex;
    int braceDepth;
    int openLine; // position of the byte that opened the level
    int openColumn;
    int openIndent; // indentation of the opener's line
    int quoteLine; // position of the opening quote of the current quoted word
    int quoteColumn;
    int quoteIndent;
    // For the rules that look at words: where the current word starts, and what the rule has
    // learnt from the words so far (see noteWord).
    const char* wordStart;
    int ruleWord;
    int ruleFlag;
};

const int maxLevel = 1000;

// Bytes that need their state's handler; runs of other bytes in these states change nothing
// but the column and the dollar flag, and are skipped in one step.
enum : unsigned char {
    StopsArgumentWord = 1,
    StopsQuotedWord = 2,
    StopsBracedWord = 4,
    StopsComment = 8,
    StopsCommandStart = 16, // only blanks are skipped
    StopsExpression = 32
};

struct StopTable {
    unsigned char bits[256] = {};
    StopTable()
    {
        auto mark = [this](const char* bytes, unsigned char bit) {
            bits[0] |= bit;
            for (const char* p = bytes; *p; ++p)
                bits[static_cast<unsigned char>(*p)] |= bit;
        };
        mark("\n\\ \t;[{]}\"\xff", StopsArgumentWord); // 0xff: the top level's terminator -1
        mark("\n\\[\"}", StopsQuotedWord);
        mark("\n\\{}", StopsBracedWord);
        mark("\n\\{}", StopsComment);
        mark("\n\\[{]}\"", StopsExpression); // blanks go on within an expression
    }
};
const StopTable stopTable;

// The next newline, backslash, brace or NUL from p: where a braced word or a comment needs its
// handler. Braced words are most of a script's bytes seen from its top level, so this runs 16 bytes
// at a time where SSE2 is available. The loads are aligned: a block never reaches into a page past
// the one holding the terminating NUL, though it may read bytes after the NUL: the address sanitizer
// would report those, so its builds take the plain loop.
#if defined(__SSE2__) && !defined(TARVIN_SANITIZED_ADDRESSES)
inline const char* skipBracedRun(const char* p)
{
    const __m128i newline = _mm_set1_epi8('\n');
    const __m128i backslash = _mm_set1_epi8('\\');
    const __m128i open = _mm_set1_epi8('{');
    const __m128i close = _mm_set1_epi8('}');
    const __m128i zero = _mm_setzero_si128();
    auto stops = [&](const char* block) {
        const __m128i chunk = _mm_load_si128(reinterpret_cast<const __m128i*>(block));
        const __m128i hits = _mm_or_si128(
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(chunk, newline), _mm_cmpeq_epi8(chunk, backslash)),
                         _mm_or_si128(_mm_cmpeq_epi8(chunk, open), _mm_cmpeq_epi8(chunk, close))),
            _mm_cmpeq_epi8(chunk, zero));
        return unsigned(_mm_movemask_epi8(hits));
    };
    const unsigned offset = unsigned(reinterpret_cast<uintptr_t>(p) & 15);
    const char* block = p - offset;
    unsigned mask = stops(block) >> offset;
    if (mask)
        return p + __builtin_ctz(mask);
    for (;;) {
        block += 16;
        mask = stops(block);
        if (mask)
            return block + __builtin_ctz(mask);
    }
}
#else
inline const char* skipBracedRun(const char* p)
{
    while (!(stopTable.bits[static_cast<unsigned char>(*p)] & StopsBracedWord))
        ++p;
    return p;
}
#endif

inline unsigned char stopBitOf(State state)
{
    switch (state) {
    case ArgumentWord: return StopsArgumentWord;
    case QuotedWord: return StopsQuotedWord;
    case BracedWord: return StopsBracedWord;
    case Comment: return StopsComment;
    case CommandStart:
    case AfterComment: return StopsCommandStart;
    default: return 0;
    }
}

} // namespace

/*
 * analyzeSource --
 *      Runs the analyser over a NUL-terminated script.
 * Results:
 *      The last error report, one line ending in a newline, or an empty text.
 * Side effects:
 *      None; all state is local to the call.
 */
QByteArray analyzeSource(const char* utf8Text)
{
    const KeywordTrie trie;
    const short* const nodes = trie.nodes.data();

    Report report;
    std::vector<Level> saved;

    // Analysis-wide state.
    const char* cursor = utf8Text ? utf8Text : "";
    int line = 1;
    int column = 0;
    bool escape = false;
    bool continuation = false;
    int dollar = 0;
    int keyword = 0; // trie node, -1 when the first word matches no keyword
    int level = 1;

    // The running level.
    Level cur{CommandStart, NoRule, -1, ScriptLevel, 0, 0, 0, 0, 0, 0, 0, 0, nullptr, 0, 0};

    // Where a missing delimiter lies. The end of the input tells only that some level is still open;
    // indentation tells which: a close brace first on its line that is indented less than the line of
    // the brace it closes belongs further out, so that brace is the unclosed one; a line starting
    // with a close brace inside a command substitution or a quoted word ends them where the
    // bracket or quote went missing. The first such sign is kept.
    const char* lineStart = cursor;
    struct Opener {
        int line;
        int column;
        int indent;
    };
    std::vector<Opener> braceOpeners; // open braces of the current braced word
    bool suspected = false;
    Opener suspect{0, 0, 0};
    char suspectCloser = 0;
    const char* indentLine = nullptr; // the line whose indentation is in `indent`
    int indent = 0;
    auto indentOf = [&]() {
        if (indentLine != lineStart) {
            indentLine = lineStart;
            indent = 0;
            for (const char* p = lineStart; *p == ' ' || *p == '\t'; ++p)
                indent += *p == '\t' ? 8 : 1;
        }
        return indent;
    };
    auto firstOnLine = [&](const char* at) {
        for (const char* p = lineStart; p < at; ++p)
            if (*p != ' ' && *p != '\t')
                return false;
        return true;
    };
    auto suspectAt = [&](const Opener& opener, char closer) {
        if (suspected)
            return;
        suspected = true;
        suspect = opener;
        suspectCloser = closer;
    };

    auto reportAt = [&](Message message) {
        report.message = message;
        report.line = line;
        report.column = column;
    };
    // A byte appended to the first word moves down the trie.
    auto walk = [&](signed char c) {
        if (keyword < 0)
            return;
        if (c < 1) {
            reportAt(IllegalCharacter);
            keyword = -1;
            return;
        }
        const int next = nodes[keyword * 256 + static_cast<unsigned char>(c)];
        keyword = next ? next : -1;
    };
    auto endCommand = [&]() {
        if (cur.kind != ScriptLevel) {
            // A list: line ends and semicolons separate elements like blanks; an expression goes on.
            cur.state = cur.kind == ExpressionLevel ? ArgumentWord : BetweenWords;
            return;
        }
        keyword = 0;
        cur.wordIndex = 0;
        cur.rule = NoRule;
        cur.state = CommandStart;
        cur.ruleWord = 0;
        cur.ruleFlag = 0;
    };
    // A new word (cur.wordIndex already counts it) begins at cursor - 1; the rules that depend on
    // the words read the previous one (cur.wordStart) or this one.
    auto noteWord = [&]() {
        const int i = cur.wordIndex;
        const char* previous = cur.wordStart;
        cur.wordStart = cursor - 1;
        if (cur.rule < IfRule || !previous)
            return;
        switch (cur.rule) {
        case IfRule: // the word after elseif is a condition, not a script
            cur.ruleWord = wordAt(previous, "elseif") ? i : 0;
            break;
        case TryRule: // on CODE VARS SCRIPT, trap PATTERN VARS SCRIPT, finally SCRIPT
            if (wordAt(previous, "on") || wordAt(previous, "trap"))
                cur.ruleWord = i + 2;
            else if (wordAt(previous, "finally"))
                cur.ruleWord = i;
            break;
        case SwitchRule: // ruleWord: the string's index once known; ruleFlag 1: "--" seen, 2: skip one
            if (cur.ruleWord > 0)
                break;
            if (cur.ruleFlag == 1) {
                cur.ruleWord = i;
            } else if (cur.ruleFlag == 2) {
                cur.ruleFlag = 0;
            } else if (*cur.wordStart == '-') {
                if (wordAt(cur.wordStart, "--"))
                    cur.ruleFlag = 1;
                else if (wordAt(cur.wordStart, "-matchvar") || wordAt(cur.wordStart, "-indexvar"))
                    cur.ruleFlag = 2;
            } else {
                cur.ruleWord = i;
            }
            break;
        case DictRule:
            if (i == 2)
                cur.ruleWord = wordAt(previous, "for") || wordAt(previous, "map") ? 1
                               : wordAt(previous, "with")                         ? 2
                               : wordAt(previous, "update")                       ? 3
                                                                                  : 0;
            break;
        case NamespaceRule:
            if (i == 2)
                cur.ruleWord = wordAt(previous, "eval") ? 1 : 0;
            break;
        case OoDefineRule: // oo::define CLASS method NAME ARGS BODY, constructor ARGS BODY, destructor BODY
            if (i == 3)
                cur.ruleWord = wordAt(previous, "method") ? 5 : wordAt(previous, "constructor") ? 4
                               : wordAt(previous, "destructor") ? 3 : 0;
            break;
        default:
            break;
        }
    };
    // Whether the braced word cur.wordIndex is read as a script (ScriptLevel), as a list of
    // pattern/body pairs or as a lambda, or not at all (returns false).
    auto acceptsBraced = [&](LevelKind& kind) -> bool {
        const int i = cur.wordIndex;
        kind = ScriptLevel;
        switch (cur.rule) {
        case IfRule:
            if (i == 1 || i == cur.ruleWord)
                kind = ExpressionLevel;
            return true;
        case WhileRule:
            if (i == 1)
                kind = ExpressionLevel;
            return i <= 2;
        case ForRule:
            if (i == 2)
                kind = ExpressionLevel;
            return i == 2 || i == 4;
        case ExprRule:
            kind = ExpressionLevel;
            return i == 1;
        case TryRule: return i == 1 || i == cur.ruleWord;
        case SwitchRule:
            if (cur.ruleWord <= 0 || i <= cur.ruleWord)
                return false;
            if (i == cur.ruleWord + 1)
                kind = PairListLevel; // the pattern list (or the first braced pattern: data either way)
            return i == cur.ruleWord + 1 || (i - cur.ruleWord) % 2 == 0;
        case DictRule:
            return (cur.ruleWord == 1 && i == 4) || (cur.ruleWord == 2 && i >= 3) ||
                   (cur.ruleWord == 3 && i >= 5 && i % 2 == 1);
        case NamespaceRule: return cur.ruleWord == 1 && i >= 3;
        case ApplyRule:
            kind = LambdaLevel;
            return i == 1;
        case OoClassRule: return i == 3;
        case OoDefineRule: return i == 2 || i == cur.ruleWord;
        case PairListRule: return i % 2 == 1;
        case LambdaRule: return i == 1;
        default: return ruleAccepts(cur.rule, i);
        }
    };

    enum Action { Continue, EndLevel, EnterLevel };

    // The handlers of the states. A nested level is entered by returning EnterLevel with the
    // new terminator in `enterTerminator`; the current level's state is set beforehand to what
    // it must be once the nested level ends.
    int enterTerminator = 0;
    LevelKind enterKind = ScriptLevel;
    // "{*}" before a word (argument expansion, Tcl 8.5): skipped, the word follows. Not when
    // it stands alone: then it is the word "*".
    auto skipExpansion = [&]() -> bool {
        if (cursor[0] != '*' || cursor[1] != '}')
            return false;
        const char next = cursor[2];
        if (next == ' ' || next == '\t' || next == '\n' || next == ';' || next == 0 ||
            next == cur.terminator || next == '\r')
            return false;
        cursor += 2;
        column += 2;
        return true;
    };
    auto handle = [&](signed char c, bool escaped) __attribute__((always_inline)) -> Action {
        switch (cur.state) {
        case CommandStart:
        case AfterComment:
            if (escaped) {
                cur.state = CommandWord;
                cur.wordStart = cursor - 1;
                keyword = -1;
                return Continue;
            }
            if (c == cur.terminator)
                return EndLevel;
            if (c == '\t' || c == '\n' || c == ' ' || c == ';')
                return Continue;
            cur.wordStart = cursor - 1;
            switch (c) {
            case '"':
                cur.state = QuotedWord;
                keyword = -1;
                return Continue;
            case '#':
                if (cur.kind != ScriptLevel) {
                    cur.state = CommandWord; // a list element, not a comment
                    return Continue;
                }
                // Consecutive comment lines share one brace count.
                if (cur.state != AfterComment)
                    cur.braceDepth = 0;
                cur.state = Comment;
                return Continue;
            case '[':
                cur.state = CommandWord;
                if (cur.kind != ScriptLevel)
                    return Continue;
                enterTerminator = ']';
                enterKind = ScriptLevel;
                return EnterLevel;
            case '{':
                keyword = -1;
                if (skipExpansion())
                    return Continue;
                cur.state = BracedWord;
                cur.braceDepth = 1;
                return Continue;
            default:
                cur.state = CommandWord;
                walk(c);
                return Continue;
            }

        case CommandWord:
        case ArgumentWord:
            if (escaped) {
                if (cur.state == CommandWord)
                    walk(c);
                return Continue;
            }
            if (c == cur.terminator) {
                cur.state = CommandStart;
                return EndLevel;
            }
            if (cur.kind == ExpressionLevel) {
                // Blanks, line ends, quotes and braces are part of the expression.
                if (c == '"') {
                    cur.state = QuotedWord;
                    return Continue;
                }
                if (c == '{' && dollar != 1) {
                    cur.state = BracedWord;
                    cur.braceDepth = 1;
                    return Continue;
                }
                if (c == '\t' || c == ' ' || c == '\n' || c == ';')
                    return Continue;
            }
            switch (c) {
            case '\t':
            case ' ':
                if (cur.state == CommandWord && cur.kind == ScriptLevel) {
                    const short rule = keyword < 0 ? short(NoRule) : nodes[keyword * 256];
                    cur.rule = static_cast<BodyRule>(rule);
                }
                cur.state = BetweenWords;
                return Continue;
            case '\n':
            case ';':
                endCommand();
                return Continue;
            case '[':
                if (!substitutes(cur.kind))
                    return Continue;
                enterTerminator = ']';
                enterKind = ScriptLevel;
                return EnterLevel;
            case '{':
                if (dollar == 1) {
                    cur.state = BracedWord;
                    cur.braceDepth = 1;
                    dollar = 2;
                    return Continue;
                }
                if (cur.terminator == '}')
                    reportAt(BraceInsideWord);
                if (cur.state == CommandWord)
                    walk(c);
                return Continue;
            default:
                if (cur.state == CommandWord)
                    walk(c);
                return Continue;
            }

        case Comment:
            if (escaped)
                return Continue;
            switch (c) {
            case '\n':
                cur.state = AfterComment;
                return Continue;
            case '{':
                ++cur.braceDepth;
                return Continue;
            case '}':
                if (cur.braceDepth > 0)
                    --cur.braceDepth;
                else if (cur.terminator == '}')
                    return EndLevel;
                return Continue;
            default:
                return Continue;
            }

        case BetweenWords:
            if (escaped) {
                ++cur.wordIndex;
                noteWord();
                cur.state = ArgumentWord;
                return Continue;
            }
            if (c == cur.terminator)
                return EndLevel;
            switch (c) {
            case '\t':
            case ' ':
                return Continue;
            case '\n':
            case ';':
                endCommand();
                return Continue;
            case '"':
                ++cur.wordIndex;
                noteWord();
                cur.state = QuotedWord;
                return Continue;
            case '[':
                ++cur.wordIndex;
                noteWord();
                cur.state = ArgumentWord;
                if (cur.kind != ScriptLevel)
                    return Continue;
                enterTerminator = ']';
                enterKind = ScriptLevel;
                return EnterLevel;
            case '{': {
                if (skipExpansion())
                    return Continue;
                ++cur.wordIndex;
                noteWord();
                LevelKind kind;
                if (acceptsBraced(kind)) {
                    cur.state = AfterCloseBrace;
                    enterTerminator = '}';
                    enterKind = kind;
                    return EnterLevel;
                }
                cur.state = BracedWord;
                cur.braceDepth = 1;
                return Continue;
            }
            default:
                ++cur.wordIndex;
                noteWord();
                cur.state = ArgumentWord;
                return Continue;
            }

        case QuotedWord:
            if (escaped)
                return Continue;
            if (c == '[' && substitutes(cur.kind)) { // list elements are not substituted
                enterTerminator = ']';
                enterKind = ScriptLevel;
                return EnterLevel;
            }
            if (c == '"')
                cur.state = cur.kind == ExpressionLevel ? ArgumentWord : AfterCloseQuote;
            return Continue;

        case BracedWord:
            if (escaped)
                return Continue;
            if (c == '{') {
                ++cur.braceDepth;
            } else if (c == '}' && --cur.braceDepth == 0) {
                if (dollar == 2 || cur.kind == ExpressionLevel) {
                    cur.state = ArgumentWord;
                    dollar = 0;
                } else {
                    cur.state = AfterCloseBrace;
                }
            }
            return Continue;

        case AfterCloseBrace:
        case AfterCloseQuote: {
            const Message extra =
                cur.state == AfterCloseBrace ? ExtraAfterCloseBrace : ExtraAfterCloseQuote;
            if (escaped)
                reportAt(extra);
            if (c == cur.terminator)
                return EndLevel;
            switch (c) {
            case '\t':
            case ' ':
                cur.state = BetweenWords;
                return Continue;
            case '\n':
            case ';':
                endCommand();
                return Continue;
            default:
                reportAt(extra);
                return Continue;
            }
        }
        }
        return Continue;
    };

    // Leaving a nested level: restore the enclosing one and finish the byte that opened the
    // nested level, as the enclosing level's loop would after a recursive call.
    auto leaveNested = [&]() {
        --level;
        cur = saved.back();
        saved.pop_back();
        if (cur.state == CommandWord)
            keyword = -1; // a command substitution in the first word: no keyword
        if (dollar != 2)
            dollar = 0;
        escape = false;
    };

    for (;;) {
        if (!escape && !continuation) {
            if (const unsigned char stop = cur.kind == ExpressionLevel && cur.state == ArgumentWord
                                                 ? (unsigned char)StopsExpression
                                                 : stopBitOf(cur.state)) {
                const char* run = cursor;
                if (stop == StopsCommandStart) {
                    while (*run == ' ' || *run == '\t') // indentation
                        ++run;
                } else if (stop == StopsBracedWord || stop == StopsComment) {
                    run = skipBracedRun(run);
                } else {
                    while (!(stopTable.bits[static_cast<unsigned char>(*run)] & stop))
                        ++run;
                }
                if (run != cursor) {
                    column += int(run - cursor);
                    if (dollar != 2)
                        dollar = run[-1] == '$' ? 1 : 0;
                    cursor = run;
                }
            }
        }
        const signed char c = static_cast<signed char>(*cursor);
        if (c == 0) {
            // The input ends inside open levels or words: the report names the opener that shows
            // itself unclosed, else the innermost one, at its own line and column.
            auto reportOpener = [&](Message message, int openerLine, int openerColumn) {
                report.message = message;
                report.line = openerLine;
                report.column = openerColumn;
            };
            if (saved.empty() && cur.state != QuotedWord && cur.state != BracedWord)
                break;
            report.terminator = cur.terminator;
            report.openLine = cur.openLine;
            report.openColumn = cur.openColumn;
            if (suspected) {
                report.terminator = suspectCloser;
                report.openLine = suspect.line;
                report.openColumn = suspect.column;
                reportOpener(MissingTerminator, suspect.line, suspect.column);
            } else if (cur.state == QuotedWord) {
                reportOpener(saved.empty() ? MissingQuote : MissingQuoteNested, cur.quoteLine, cur.quoteColumn);
            } else if (cur.state == BracedWord && !braceOpeners.empty()) {
                reportOpener(saved.empty() ? MissingBrace : MissingBraceNested, braceOpeners.back().line,
                             braceOpeners.back().column);
            } else {
                reportOpener(MissingTerminator, cur.openLine, cur.openColumn);
            }
            break;
        }
        ++cursor;

        if (c == '\n') {
            ++line;
            column = 0;
            lineStart = cursor;
            if (escape) {
                continuation = true;
                escape = false;
                continue;
            }
        } else {
            ++column;
        }

        if (continuation) {
            if (c == ' ' || c == '\t' || c == '\n')
                continue;
            // A backslash-newline with the blanks after it counts as one space.
            continuation = false;
            handle(' ', false);
        }

        if (!escape && c == '\\') {
            escape = true;
            continue;
        }

        const bool escaped = escape;
        const State before = cur.state;
        if (c == '}' && !escaped && !suspected && firstOnLine(cursor - 1)) {
            if (before == QuotedWord && indentOf() < cur.quoteIndent)
                suspectAt({cur.quoteLine, cur.quoteColumn, cur.quoteIndent}, '"');
            else if (cur.terminator == ']' && before != QuotedWord && before != BracedWord && before != Comment)
                suspectAt({cur.openLine, cur.openColumn, cur.openIndent}, ']');
            else if (before == BracedWord && !braceOpeners.empty() && indentOf() < braceOpeners.back().indent)
                suspectAt(braceOpeners.back(), '}');
            else if (cur.terminator == '}' && before != QuotedWord && before != BracedWord &&
                     indentOf() < cur.openIndent)
                suspectAt({cur.openLine, cur.openColumn, cur.openIndent}, '}');
        }
        const Action action = handle(c, escaped);
        if (c != '"' && c != '{' && c != '}') {
            // no opener or closer of a quoted or braced word
        } else if (cur.state == QuotedWord && before != QuotedWord) {
            cur.quoteLine = line;
            cur.quoteColumn = column;
            cur.quoteIndent = indentOf();
        } else if (cur.state == BracedWord && before != BracedWord) {
            braceOpeners.clear();
            braceOpeners.push_back({line, column, indentOf()});
        } else if (before == BracedWord && !escaped) {
            if (c == '{')
                braceOpeners.push_back({line, column, indentOf()});
            else if (c == '}' && !braceOpeners.empty())
                braceOpeners.pop_back();
        }
        if (dollar != 2)
            dollar = (c == '$' && !escaped) ? 1 : 0;
        escape = false;

        if (action == EnterLevel) {
            saved.push_back(cur);
            cur.terminator = static_cast<signed char>(enterTerminator);
            cur.kind = enterKind;
            cur.state = enterKind == ExpressionLevel ? ArgumentWord : CommandStart;
            cur.rule = enterKind == PairListLevel ? PairListRule
                       : enterKind == LambdaLevel ? LambdaRule
                                                  : NoRule;
            cur.wordIndex = 0;
            cur.braceDepth = 0;
            cur.openLine = line;
            cur.openColumn = column;
            cur.openIndent = indentOf();
            cur.wordStart = nullptr;
            cur.ruleWord = 0;
            cur.ruleFlag = 0;
            keyword = enterKind == ScriptLevel ? 0 : -1;
            if (++level > maxLevel)
                reportAt(TooDeep);
        } else if (action == EndLevel) {
            // The top level ends only on its terminator -1, a 0xFF byte, which UTF-8 text
            // never contains.
            if (saved.empty())
                break;
            leaveNested();
        }
    }

    // A quote that went missing pairs the quotes after it wrongly; whatever error that causes later,
    // the place is the quote that shows itself unclosed.
    if (suspected && suspectCloser == '"' && report.message != NoMessage && report.line >= suspect.line &&
        report.message != TooDeep) {
        report.message = MissingTerminator;
        report.terminator = '"';
        report.openLine = report.line = suspect.line;
        report.openColumn = report.column = suspect.column;
    }
    return formatReport(report);
}
