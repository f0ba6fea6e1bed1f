// Rewriting Tcl scripts with calls of the debug hook `__tarvin_dbg`.
//
// Two passes over the UTF-8 bytes: collectHooks walks the command structure with Tcl's own
// parser (Tcl_ParseCommand) and lists where hook calls go; writeInstrumented copies the text
// and inserts them. Hook texts, one command each, always ending in "; ":
//     __tarvin_dbg step LINE COLUMN SOURCEID;
//     __tarvin_dbg frame push LINE COLUMN SOURCEID;
//     __tarvin_dbg frame pop LINE COLUMN SOURCEID;
// LINE is 0-based, COLUMN 0-based with a tab counting 8; both refer to the text as written.
//
// Limits, so that pathological input can neither overflow the native stack nor take more than
// linear time:
//  - Tcl's parser recurses into itself for every command substitution, quoted word and array
//    index ("[[[[..." overflows it at a few tens of thousands of levels). Tcl_ParseCommand only
//    ever sees text whose nesting is known to stay within maxParseNesting: either a window
//    with few '[' and '(' bytes, or a command measured first by a scanner that follows Tcl's
//    grammar without recursion (tclParseNestingLimit exposes it). The first command nested
//    deeper, and everything after it in its range, is left uninstrumented, exactly as if it
//    failed to parse; enclosing ranges go on after it.
//  - Bodies (proc bodies, loop bodies, if branches, ...) are descended into down to
//    maxBodyNesting levels; deeper bodies run as written, without hooks. Every level re-reads
//    its body, so this bounds the work at maxBodyNesting passes over the text.
//
// Of `namespace`, only `namespace eval` and `namespace code` have their last braced word
// instrumented; the braced words of other subcommands are data. Of a `switch` pattern list,
// each line is taken as one command and only its last word, if braced, as a body: a line
// holding several pattern/body pairs gets its last body instrumented, and what the patterns
// contain (substitutions included) does not matter.
//
// The closing frame pop of a proc body is written only where it cannot change what the
// procedure does: after a body whose last command is `return` (the pop is never reached, the
// `return` pops) or that holds no command at all. Anywhere else the hook would be the body's
// last command, and the procedure would return its empty result instead of the value of the
// body's own last command; and in a body whose last command runs up to the closing brace
// without a newline or ';' (the one-line `{return 1}`, a last line `    $cmd}`), the hook text
// would become extra words of that command. A frame left without its pop is the debugger's to
// reconcile, as for a body whose closing line already holds a step hook.
#pragma once

#include <QByteArray>
#include <QString>

#include <vector>

struct Tcl_Interp;

// Returns the script with debug hook calls inserted, tagged with sourceId.
QString instrumentSource(const QString& code, int sourceId);

// The instrumented text `text` with every hook call taken out again: the text as written.
QByteArray stripHooks(const char* text, int length);

// One hook call to insert immediately before the byte at `position` of the script. A BodyStart inserts
// nothing: it opens a step definition's or a hook's body, whose first command gets its step hook even on
// the line of the definition (the body runs later, on its own).
struct HookRecord {
    enum Kind { StepHook, FramePush, FramePop, BodyStart };
    Kind kind;
    int position;
};

constexpr int maxParseNesting = 1000;
constexpr int maxBodyNesting = 100;

// The collecting pass over the bytes [begin, end) of `script` (the whole script, or the inside
// of a body). Appends records in ascending position order. `returnPops`: whether a `return`
// command in this range gets a frame pop. `interp` is only used by the parser.
void collectHooks(Tcl_Interp* interp, const QByteArray& script, int begin, int end,
                  std::vector<HookRecord>& records, bool returnPops);

// The writing pass: the script with the hook texts of `records` inserted. At most one step
// hook per line; once one is written on a line, later records of that line are dropped.
QByteArray writeInstrumented(const QByteArray& script, int sourceId,
                             const std::vector<HookRecord>& records);

// How far [begin, end) may be handed to Tcl_ParseCommand: `end`, or the start of the first
// command whose parse would nest more than maxNesting levels deep (or that would fail to
// parse while still being scanned). Follows Tcl 8.6's parser, without recursion.
const char* tclParseNestingLimit(const char* begin, const char* end, int maxNesting);

// Where Tcl's parser would nest more than maxNesting levels deep in `script` (UTF-8), braced words
// counted as scripts one level deeper: the byte offset of the first command that does, or -1.
// Such a script must not reach Tcl, whose parser recurses once per level and overflows the native
// stack at some tens of thousands.
int tclNestingTooDeep(const QByteArray& script, int maxNesting);
