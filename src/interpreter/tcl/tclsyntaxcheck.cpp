// The source analyser behind checkSyntax: one pass over the script bytes, a small state machine
// per nesting level, and a keyword trie that decides which braced words are scripts to descend
// into.
#include "tclsyntaxcheck.h"

#include <cstdio>
#include <vector>

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
    EveryWord
};

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
    }
    return false;
}

struct Keyword {
    const char* name;
    BodyRule rule;
};

const Keyword keywordTable[] = {
    {"proc", OnlyWord3},       {"while", OnlyWord2},      {"if", FromWord2},
    {"foreach", OnlyWord3},    {"for", OnlyWord4},        {"switch", FromWord3},
    {"loop", FromWord4},       {"itcl_class", OnlyWord2}, {"method", OnlyWord3},
    {"constructor", OnlyWord2}, {"destructor", OnlyWord1}, {"_recParseAll_", EveryWord},
};

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
    int wordIndex;
    int braceDepth;
    int openLine; // position of the byte that opened the level
    int openColumn;
};

const int maxLevel = 1000;

// Bytes that need their state's handler; runs of other bytes in these states change nothing
// but the column and the dollar flag, and are skipped in one step.
enum : unsigned char {
    StopsArgumentWord = 1,
    StopsQuotedWord = 2,
    StopsBracedWord = 4,
    StopsComment = 8
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
        mark("\n\\ \t;[{]}\xff", StopsArgumentWord); // 0xff: the top level's terminator -1
        mark("\n\\[\"", StopsQuotedWord);
        mark("\n\\{}", StopsBracedWord);
        mark("\n\\{}", StopsComment);
    }
};
const StopTable stopTable;

inline unsigned char stopBitOf(State state)
{
    switch (state) {
    case ArgumentWord: return StopsArgumentWord;
    case QuotedWord: return StopsQuotedWord;
    case BracedWord: return StopsBracedWord;
    case Comment: return StopsComment;
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
    Level cur{CommandStart, NoRule, -1, 0, 0, 0, 0};

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
        keyword = 0;
        cur.wordIndex = 0;
        cur.rule = NoRule;
        cur.state = CommandStart;
    };

    enum Action { Continue, EndLevel, EnterLevel };

    // The handlers of the states. A nested level is entered by returning EnterLevel with the
    // new terminator in `enterTerminator`; the current level's state is set beforehand to what
    // it must be once the nested level ends.
    int enterTerminator = 0;
    auto handle = [&](signed char c, bool escaped) -> Action {
        switch (cur.state) {
        case CommandStart:
        case AfterComment:
            if (escaped) {
                cur.state = CommandWord;
                keyword = -1;
                return Continue;
            }
            if (c == cur.terminator)
                return EndLevel;
            switch (c) {
            case '\t':
            case '\n':
            case ' ':
            case ';':
                return Continue;
            case '"':
                cur.state = QuotedWord;
                keyword = -1;
                return Continue;
            case '#':
                // Consecutive comment lines share one brace count.
                if (cur.state != AfterComment)
                    cur.braceDepth = 0;
                cur.state = Comment;
                return Continue;
            case '[':
                cur.state = CommandWord;
                enterTerminator = ']';
                return EnterLevel;
            case '{':
                cur.state = BracedWord;
                cur.braceDepth = 1;
                keyword = -1;
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
            switch (c) {
            case '\t':
            case ' ':
                if (cur.state == CommandWord) {
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
                enterTerminator = ']';
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
                cur.state = QuotedWord;
                return Continue;
            case '[':
                ++cur.wordIndex;
                cur.state = ArgumentWord;
                enterTerminator = ']';
                return EnterLevel;
            case '{':
                ++cur.wordIndex;
                if (ruleAccepts(cur.rule, cur.wordIndex)) {
                    cur.state = AfterCloseBrace;
                    enterTerminator = '}';
                    return EnterLevel;
                }
                cur.state = BracedWord;
                cur.braceDepth = 1;
                return Continue;
            default:
                ++cur.wordIndex;
                cur.state = ArgumentWord;
                return Continue;
            }

        case QuotedWord:
            if (escaped)
                return Continue;
            if (c == '[') {
                enterTerminator = ']';
                return EnterLevel;
            }
            if (c == '"')
                cur.state = AfterCloseQuote;
            return Continue;

        case BracedWord:
            if (escaped)
                return Continue;
            if (c == '{') {
                ++cur.braceDepth;
            } else if (c == '}' && --cur.braceDepth == 0) {
                if (dollar == 2) {
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
            if (const unsigned char stop = stopBitOf(cur.state)) {
                const char* run = cursor;
                while (!(stopTable.bits[static_cast<unsigned char>(*run)] & stop))
                    ++run;
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
            if (saved.empty())
                break;
            const int term = cur.terminator;
            report.terminator = term;
            report.openLine = cur.openLine;
            report.openColumn = cur.openColumn;
            reportAt(cur.state == QuotedWord  ? MissingQuoteNested
                     : cur.state == BracedWord ? MissingBraceNested
                                               : MissingTerminator);
            leaveNested();
            continue;
        }
        ++cursor;

        if (c == '\n') {
            ++line;
            column = 0;
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
        const Action action = handle(c, escaped);
        if (dollar != 2)
            dollar = (c == '$' && !escaped) ? 1 : 0;
        escape = false;

        if (action == EnterLevel) {
            saved.push_back(cur);
            cur.terminator = static_cast<signed char>(enterTerminator);
            cur.state = CommandStart;
            cur.rule = NoRule;
            cur.wordIndex = 0;
            cur.braceDepth = 0;
            cur.openLine = line;
            cur.openColumn = column;
            keyword = 0;
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

    if (cur.state == QuotedWord)
        reportAt(MissingQuote);
    else if (cur.state == BracedWord)
        reportAt(MissingBrace);
    return formatReport(report);
}
