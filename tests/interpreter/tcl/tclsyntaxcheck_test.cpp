// The source analyser: reports, their positions, descent into keyword bodies, comments inside
// bodies, end-of-input reports and pathological nesting.
#include "tclsyntaxcheck.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>

#include <string>

namespace {

std::string analyze(const std::string& text)
{
    return analyzeSource(text.c_str()).toStdString();
}

std::string report(int line, const std::string& message, int column)
{
    return "Line " + std::to_string(line) + ": Error: " + message + " (p " +
           std::to_string(column) + ")\n";
}

const std::string braceInWord = "{ inside a word and inside a construct : should be backslashed";

TEST(AnalyzeSource, WellFormedScriptsGiveNoText)
{
    EXPECT_EQ(analyze(""), "");
    EXPECT_EQ(analyze("# one\n  # two {\n"), "");
    EXPECT_EQ(analyze("proc f {a {b 2}} {\n"
                      "    # a comment with \"quotes\" and [brackets\n"
                      "    if {$a > 1} {\n"
                      "        set x [list \"a]\" {b]} [expr {$a + $b}]]\n"
                      "    } elseif {$b} {\n"
                      "        foreach {k v} $x { puts \"$k=${v}\" }\n"
                      "    } else {\n"
                      "        return [string map {a b} \\{$x]\n"
                      "    }\n"
                      "}\n"
                      "f 1; f 2\n"),
              "");
    // A braced argument of a command without a body rule only counts its braces.
    EXPECT_EQ(analyze("list {x a{b} y}\nprocx a b {puts a{b}}\n"), "");
    // ${name} inside an analysed body is a variable, not a stray brace.
    EXPECT_EQ(analyze("while 1 {\n set y ${x}z\n}\n"), "");
    EXPECT_EQ(analyze("puts \xc3\xa9\nx\xc3\xa9 a\n"), "");
}

TEST(AnalyzeSource, ReportsCarryLineAndColumnOfTheOffendingByte)
{
    EXPECT_EQ(analyze("proc p {} {\n  set x {a}b\n}\n"),
              report(2, "extra characters after close-brace", 12));
    EXPECT_EQ(analyze("puts \"b\"y\n"), report(1, "extra characters after close-quote", 9));
    // A carriage return is an ordinary byte.
    EXPECT_EQ(analyze("puts {a}\r\n"), report(1, "extra characters after close-brace", 9));
    // Only the last of several errors is returned.
    EXPECT_EQ(analyze("puts {a}x\nputs \"b\"y\n"), report(2, "extra characters after close-quote", 9));
    // A multi-byte character counts one column per byte.
    EXPECT_EQ(analyze("puts \xc3\xa9 {a}x\n"), report(1, "extra characters after close-brace", 12));
    EXPECT_EQ(analyze("\tputs {a}x\n"), report(1, "extra characters after close-brace", 10));
}

TEST(AnalyzeSource, DescendsIntoTheBodiesOfKeywordsOnly)
{
    EXPECT_EQ(analyze("while 1 {\n puts a{b\n}"), report(2, braceInWord, 8));
    EXPECT_EQ(analyze("foreach x {1 2} {\n puts a{b\n}"), report(2, braceInWord, 8));
    EXPECT_EQ(analyze("for {set i 0} {$i<3} {incr i} {\n puts a{b\n}"), report(2, braceInWord, 8));
    // An elseif condition is an expression, not a script; the bodies after it are scripts.
    EXPECT_EQ(analyze("if {1} {} elseif {\"a\" eq $x} {}\n"), "");
    EXPECT_EQ(analyze("if {1} {} elseif {$x} {set a{b}\n"), report(1, braceInWord, 29));
    EXPECT_EQ(analyze("if {1} {} else {set a{b}\n"), report(1, braceInWord, 22));
    // Conditions are expressions: braces in them are strings, brackets and quotes must close.
    EXPECT_EQ(analyze("while {a{b}} {}\n"), "");
    EXPECT_EQ(analyze("while {$a eq \"}\" && [f {]}]} {}\nexpr {\"a\"eq{b}}\n"), "");
    EXPECT_EQ(analyze("if {[llength $x} {\n    f\n}\n"), report(1, "missing ] [opened line 1, c5] !", 5));
    EXPECT_EQ(analyze("for {set i 0} {$i < \"3} {incr i} {}\n"),
              report(1, "missing \" (and } [opened line 1, c15]) !", 21));
    EXPECT_EQ(analyze("if {1} {} elseif {[f} {}\n"), report(1, "missing ] [opened line 1, c19] !", 19));
    // A backslash-newline and the blanks after it are one space: the body is still word 3.
    EXPECT_EQ(analyze("proc p {} \\\n   {\n puts a{b\n}"), report(3, braceInWord, 8));
    // A quoted, braced or substituted command name has no body rule.
    EXPECT_EQ(analyze("\"while\" 1 {\n puts a{b}\n}"), "");
    EXPECT_EQ(analyze("[list while] 1 {\n puts a{b}\n}"), "");
    EXPECT_EQ(analyze("\\while 1 {\n puts a{b}\n}"), "");
}

TEST(AnalyzeSource, KnowsTheCommandsOfTcl85And86)
{
    // {*} expands the word that follows it; alone it is the word "*".
    EXPECT_EQ(analyze("puts {*}$a {*}[list b] {*}{c d} {*}\"e\"\n{*}$cmd x\n"), "");
    EXPECT_EQ(analyze("while 1 {\n set x [list {*}$a]\n}\n"), "");
    EXPECT_EQ(analyze("puts {*} x\n"), "");
    EXPECT_EQ(analyze("puts {*}{a\n"), report(1, "missing } !", 9));

    // The bodies of try, dict for/map/with/update, lmap, apply, namespace eval, catch and TclOO.
    const std::string bad = "\n puts a{b\n";
    const char* const bodies[] = {
        "try {@}", "try {x} on error {r o} {@}", "try {x} trap {A B} {r o} {@}",
        "try {x} on ok {} {y} finally {@}", "dict for {k v} $d {@}", "dict map {k v} $d {@}",
        "dict with d a b {@}", "dict update d k v {@}", "lmap x $l {@}", "apply {{x} {@}} 1",
        "namespace eval ns {@}", "catch {@} r", "oo::class create C {\n method m {} {@}\n}",
        "oo::class create C {\n constructor {} {@}\n}", "oo::define C {\n destructor {@}\n}",
        "oo::define C method m {a} {@}", "oo::define C constructor {a} {@}",
        "switch -- $x {\n a {@}\n}", "switch -exact -matchvar m -- $x a {x} b {@}",
        "switch $x {a} {@}"};
    for (const char* body : bodies) {
        std::string script = body;
        script.replace(script.find('@'), 1, bad);
        const std::string result = analyze(script);
        EXPECT_NE(result.find(braceInWord), std::string::npos) << script << " -> " << result;
    }

    // Data stays data: switch patterns (quoted, bracketed or "#"), handler variables, trap
    // patterns, dict keys, other namespace and dict subcommands, the lambda's argument list.
    const char* const data[] = {
        "switch -exact -- $ch {\n\t\"\\\\[\"  {return \\[}\n\t\"x\" {}\n # {c}\n}\n",
        "switch -matchvar {\"m\"x} -- $x {}\n",
        "try {x} on error {\"r\"x o} {y}\n",
        "try {x} trap {\"A\"x} {r o} {y}\n",
        "dict for {\"k\"x v} $d {y}\n",
        "dict get $d {\"a\"x}\n",
        "namespace ensemble create -map {\"a\"x b}\n",
        "apply {{\"x\"y} {z}} 1\n",
        "oo::define C method m {\"a\"x} {y}\n"};
    for (const char* script : data)
        EXPECT_EQ(analyze(script), "") << script;
}

TEST(AnalyzeSource, TcllibLoadsSoNoneOfItsFilesIsFlagged)
{
    QDir share(QStringLiteral("/usr/share/tcltk"));
    const QStringList dirs = share.entryList({QStringLiteral("tcllib*")}, QDir::Dirs, QDir::Name);
    if (dirs.isEmpty())
        GTEST_SKIP() << "tcllib is not installed";
    int files = 0;
    for (const QString& dir : dirs) {
        QDirIterator it(share.filePath(dir), {QStringLiteral("*.tcl")}, QDir::Files,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            QFile file(it.next());
            ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << file.fileName().toStdString();
            EXPECT_EQ(analyzeSource(file.readAll().constData()), QByteArray())
                << file.fileName().toStdString();
            ++files;
        }
    }
    EXPECT_GE(files, 600);
}

// One close brace, close bracket or quote dropped from each of tcllib's files (the same pseudo-random
// choice every run): how many of the damaged files are reported, and how many at the damaged line
// (the dropped byte's, or its opener's). The figures are in src/interpreter/tcl/README.md.
TEST(AnalyzeSource, DroppedDelimitersAreReportedAtTheirPlace)
{
    QDir share(QStringLiteral("/usr/share/tcltk"));
    const QStringList dirs = share.entryList({QStringLiteral("tcllib*")}, QDir::Dirs, QDir::Name);
    if (dirs.isEmpty())
        GTEST_SKIP() << "tcllib is not installed";
    std::vector<QByteArray> texts;
    for (const QString& dir : dirs) {
        QDirIterator it(share.filePath(dir), {QStringLiteral("*.tcl")}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            QFile file(it.next());
            ASSERT_TRUE(file.open(QIODevice::ReadOnly));
            texts.push_back(file.readAll());
        }
    }
    auto lineOf = [](const QByteArray& text, int position) { return int(text.left(position).count('\n')) + 1; };
    auto escaped = [](const QByteArray& text, int position) {
        int backslashes = 0;
        while (position > 0 && text[position - 1] == '\\') {
            ++backslashes;
            --position;
        }
        return backslashes % 2 == 1;
    };
    struct Expected {
        char closer;
        double reported; // at least this share of the damaged files
        double atLine;   // at least this share of the reported ones
    };
    for (const Expected& expected : {Expected{'}', 0.95, 0.80}, Expected{']', 0.7, 0.8}, Expected{'"', 0.3, 0.55}}) {
        unsigned seed = 12345;
        int tried = 0, reported = 0, atLine = 0;
        for (const QByteArray& text : texts) {
            std::vector<int> candidates;
            for (int i = 0; i < text.size(); ++i)
                if (text[i] == expected.closer && !escaped(text, i))
                    candidates.push_back(i);
            if (candidates.empty())
                continue;
            seed = seed * 1103515245 + 12345;
            const int dropped = candidates[(seed >> 8) % candidates.size()];
            const int damaged = lineOf(text, dropped);
            int opener = damaged;
            if (expected.closer != '"') {
                const char open = expected.closer == '}' ? '{' : '[';
                for (int i = dropped - 1, depth = 0; i >= 0; --i) {
                    if (escaped(text, i))
                        continue;
                    if (text[i] == expected.closer) {
                        ++depth;
                    } else if (text[i] == open && depth-- == 0) {
                        opener = lineOf(text, i);
                        break;
                    }
                }
            }
            QByteArray damagedText = text;
            damagedText.remove(dropped, 1);
            const QByteArray result = analyzeSource(damagedText.constData());
            ++tried;
            if (result.isEmpty())
                continue;
            ++reported;
            const int line = result.mid(5, result.indexOf(':') - 5).toInt();
            atLine += line == damaged || line == opener;
        }
        SCOPED_TRACE(std::string("dropped ") + expected.closer + ": " + std::to_string(tried) + " files, " +
                     std::to_string(reported) + " reported, " + std::to_string(atLine) + " at the damaged line");
        EXPECT_GE(reported, expected.reported * tried);
        EXPECT_GE(atLine, expected.atLine * reported);
    }
}

TEST(AnalyzeSource, CommentsInsideBodies)
{
    // An unmatched } in a comment closes the body: what follows is top-level code.
    EXPECT_EQ(analyze("proc p {} {\n  # }\n  puts a{b\n}\n"), "");
    // "# {" and "# }" on consecutive comment lines balance, with blank lines between.
    EXPECT_EQ(analyze("proc p {} {\n  # {\n\n    # }\n  puts a{b\n}\n"), report(5, braceInWord, 9));
    // With a command between them, the "# }" closes the body.
    EXPECT_EQ(analyze("proc p {} {\n  # {\n  set y 1\n  # }\n  puts a{b\n}\n"), "");
    // Quotes and brackets mean nothing in comments.
    EXPECT_EQ(analyze("# \"[\nputs ok\n"), "");
}

TEST(AnalyzeSource, IllegalCharacterOnlyWhileTheCommandNameCouldBeAKeyword)
{
    EXPECT_EQ(analyze("\xc3\xa9 x\n"), report(1, "illegal caracter in source file", 1));
    EXPECT_EQ(analyze("p\xc3\xa9\n"), report(1, "illegal caracter in source file", 2));
}

TEST(AnalyzeSource, EndOfInputReportsTheInnermostOpener)
{
    // The report stands at the opening bracket, quote or brace, not at the end of the input.
    EXPECT_EQ(analyze("set x [list a b"), report(1, "missing ] [opened line 1, c7] !", 7));
    EXPECT_EQ(analyze("set x \"abc"), report(1, "missing \" !", 7));
    EXPECT_EQ(analyze("set x {abc"), report(1, "missing } !", 7));
    EXPECT_EQ(analyze("set x {a {b}\n"), report(1, "missing } !", 7));
    EXPECT_EQ(analyze("set x {a {b\n}\n"), report(1, "missing } !", 7));
    EXPECT_EQ(analyze("proc p {} {\n set x \"a"), report(2, "missing \" (and } [opened line 1, c11]) !", 8));
    EXPECT_EQ(analyze("set x [list {a"), report(1, "missing } (and ] [opened line 1, c7]) !", 13));
    EXPECT_EQ(analyze("a [b [c"), report(1, "missing ] [opened line 1, c6] !", 6));
    EXPECT_EQ(analyze("while 1 {\n"), report(1, "missing } [opened line 1, c9] !", 9));
    // ${ opens a braced name; its own braces nest.
    EXPECT_EQ(analyze("set x ${a{b}"), report(1, "missing } !", 8));
}

TEST(AnalyzeSource, IndentationShowsWhichOpenerLostItsCloser)
{
    // The if's close brace is missing: the procedure's brace, less indented, closes the if body,
    // and the input ends inside the procedure body.
    EXPECT_EQ(analyze("proc a {} {\n    if {$x} {\n        f\n\n    g\n}\nproc b {} {\n    h\n}\n"),
              report(2, "missing } [opened line 2, c13] !", 13));
    // The same inside a braced word that is data.
    EXPECT_EQ(analyze("set d {\n    a {\n        b\n    c\n}\n"), report(2, "missing } [opened line 2, c7] !", 7));
    // A close bracket missing inside a procedure body: the body's close brace starts a line inside
    // the command substitution.
    EXPECT_EQ(analyze("proc a {} {\n    set x [list a b\n    f\n}\nproc b {} {\n    h\n}\n"),
              report(2, "missing ] [opened line 2, c11] !", 11));
    // A quote missing: the quotes after it pair up wrongly; the error that causes is reported at the
    // quote whose word runs over a less indented close brace.
    EXPECT_EQ(analyze("proc a {} {\n    puts \"abc\n    f\n}\nproc b {} {\n    puts \"x\"\n}\n"),
              report(2, "missing \" [opened line 2, c10] !", 10));
    // Multi-line strings and bodies that are indented as usual show nothing.
    EXPECT_EQ(analyze("proc a {} {\n    set s \"one\n    two\"\n    set d {\n        x\n    }\n}\n"), "");
}

TEST(AnalyzeSource, ByteFFEndsTheTopLevel)
{
    // Bytes are signed and the top level's terminator is -1: a 0xff byte (never part of UTF-8
    // text) where the terminator is looked for ends the analysis there.
    EXPECT_EQ(analyze("puts a\xff\nset x {"), "");
    EXPECT_EQ(analyze("\xff\nset x {"), "");
    EXPECT_EQ(analyze("puts {a\xff\nset x {"), report(2, "missing } !", 7));
}

TEST(AnalyzeSource, DeepNestingIsBoundedAndReported)
{
    const int depth = 1000000;
    const std::string open(depth, '[');
    EXPECT_EQ(analyze(open), report(1, "missing ] [opened line 1, c" + std::to_string(depth) + "] !", depth));
    EXPECT_EQ(analyze(open + std::string(depth, ']')),
              report(1, "too many nested call to analyze", depth));

    std::string bodies;
    for (int i = 0; i < depth; ++i)
        bodies += "if 1 {";
    bodies += std::string(depth, '}');
    EXPECT_EQ(analyze(bodies), report(1, "too many nested call to analyze", 6 * depth));

    // 999 levels inside the top level are fine.
    EXPECT_EQ(analyze(std::string(999, '[') + std::string(999, ']')), "");
    EXPECT_EQ(analyze(std::string(1000, '[') + std::string(1000, ']')),
              report(1, "too many nested call to analyze", 1000));
}

TEST(AnalyzeSource, FuzzerRegressionInputsGiveOneLineAtMost)
{
    QDir dir(QStringLiteral(TARVIN_SOURCE_DIR "/tests/interpreter/tcl/data/syntaxcheck"));
    for (const QString& name : dir.entryList({QStringLiteral("*.tcl")}, QDir::Files)) {
        QFile file(dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
        const QByteArray text = analyzeSource(file.readAll().constData());
        EXPECT_TRUE(text.isEmpty() || (text.startsWith("Line ") && text.count('\n') == 1))
            << name.toStdString();
    }
}

} // namespace
