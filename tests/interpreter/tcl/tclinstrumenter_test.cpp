// The source instrumenter: hook texts and positions, which bodies are descended into, the
// closing frame pop, the writing pass's one-step-per-line rule, and the nesting guards.
#include "tclinstrumenter.h"

#include <gtest/gtest.h>

#include <tcl.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <algorithm>
#include <string>

namespace {

std::string instrument(const std::string& code, int sourceId = 7)
{
    return instrumentSource(QString::fromStdString(code), sourceId).toStdString();
}

// The script with every inserted hook text removed again.
std::string stripHooks(const std::string& text)
{
    static const QRegularExpression hook(
        QStringLiteral("__tarvin_dbg (step|frame push|frame pop) -?\\d+ -?\\d+ -?\\d+; "));
    return QString::fromStdString(text).remove(hook).toStdString();
}

// Procedure bodies (frame push, steps, pops) are in ClosingFramePopNeverChangesAResult.
TEST(InstrumentSource, StepHooksOnePerLineAtTheCommandStart)
{
    EXPECT_EQ(instrument(""), "");
    EXPECT_EQ(instrument("  \n# only a comment\n"), "  \n# only a comment\n");
    EXPECT_EQ(instrument("\tset a 1; set b 2\n  # note\n  puts x\n", 3),
              "\t__tarvin_dbg step 0 8 3; set a 1; set b 2\n"
              "  # note\n"
              "  __tarvin_dbg step 2 2 3; puts x\n");
    // Columns count the bytes of a multi-byte character; lines count newlines only.
    EXPECT_EQ(instrument("set \xc3\xa9 1; set b [\nlist]; puts c\n"),
              "__tarvin_dbg step 0 0 7; set \xc3\xa9 1; set b [\nlist]; "
              "__tarvin_dbg step 1 7 7; puts c\n");
}

TEST(InstrumentSource, TextOutsideTheHooksIsCopiedExactly)
{
    // Multi-byte and four-byte characters (a surrogate pair in UTF-16) and an embedded NUL, before,
    // between and inside hooked commands: the same text as decoding the byte-level pass.
    const QString code = QString::fromUtf8("puts \xc3\xa9\xe2\x82\xac; set \xf0\x9f\x98\x80 1\n"
                                           "proc \xf0\x9f\x98\x80 {} {\n  \xe2\x82\xac x\n}\n")
                         + QChar(0) + QStringLiteral("\nset a [b \u00e9]\n\t\u20ac\n");
    Tcl_Interp* interp = Tcl_CreateInterp();
    std::vector<HookRecord> records;
    const QByteArray utf8 = code.toUtf8();
    collectHooks(interp, utf8, 0, utf8.size(), records, true);
    Tcl_DeleteInterp(interp);
    const QByteArray bytes = writeInstrumented(utf8, 9, records);
    EXPECT_EQ(instrumentSource(code, 9), QString::fromUtf8(bytes.constData(), bytes.size()));
    EXPECT_EQ(instrumentSource(code, 9).count(QStringLiteral("__tarvin_dbg")), 6);
}

TEST(InstrumentSource, CommandsWithSubstitutedNamesAreLeftAlone)
{
    EXPECT_EQ(instrument("$cmd {set x 1}\n[getCmd] {set x 1}\n\\x41 y\n"),
              "$cmd {set x 1}\n[getCmd] {set x 1}\n\\x41 y\n");
    // A braced or quoted name is a simple word, compared with its braces and quotes.
    EXPECT_EQ(instrument("{proc} a {} {b}\n"), "__tarvin_dbg step 0 0 7; {proc} a {} {b}\n");
}

TEST(InstrumentSource, ReturnPopsOutsideStepAndHookBodies)
{
    EXPECT_EQ(instrument("return 5\n"), "__tarvin_dbg frame pop 0 0 7; return 5\n");
    EXPECT_EQ(instrument("Step \"a\" {x} {\n  return 1\n}\n"
                         "Given \"b\" {\n  return 2\n}\n"
                         "OnScenarioStart {\n  return 3\n}\n"),
              "__tarvin_dbg step 0 0 7; Step \"a\" {x} {\n  return 1\n}\n"
              "__tarvin_dbg step 3 0 7; Given \"b\" {\n  return 2\n}\n"
              "__tarvin_dbg step 6 0 7; OnScenarioStart {\n  return 3\n}\n");
    // The body is word 4 when there is one, else word 3.
    EXPECT_EQ(instrument("Then \"c\" {} {\n  set a 1\n}\nThen \"d\" {\n  set b 1\n}\n"),
              "__tarvin_dbg step 0 0 7; Then \"c\" {} {\n  __tarvin_dbg step 1 2 7; set a 1\n}\n"
              "__tarvin_dbg step 3 0 7; Then \"d\" {\n  set b 1\n}\n");
    // Inside a loop of a step body returns still do not pop.
    EXPECT_EQ(instrument("When \"d\" {\n  return 4\n}\nforeach x $l {\n  return 5\n}\n"),
              "__tarvin_dbg step 0 0 7; When \"d\" {\n  return 4\n}\n"
              "__tarvin_dbg step 3 0 7; foreach x $l {\n  __tarvin_dbg frame pop 4 2 7; return 5\n}\n");
}

TEST(InstrumentSource, OneLineStepAndHookBodiesKeepTheirLine)
{
    // The body runs later, on its own: its first command needs a hook of its own on the same line,
    // but a plain command after a braced argument still gets none.
    EXPECT_EQ(instrument("Given \"a\" {} { test compare 1 2; puts x }\nOnStepEnd {c} {puts $c}\n"
                         "if {1} { puts y }\n"),
              "__tarvin_dbg step 0 0 7; Given \"a\" {} { __tarvin_dbg step 0 15 7; test compare 1 2; puts x }\n"
              "__tarvin_dbg step 1 0 7; OnStepEnd {c} {__tarvin_dbg step 1 15 7; puts $c}\n"
              "__tarvin_dbg step 2 0 7; if {1} { puts y }\n");
}

TEST(InstrumentSource, ControlStructureBodies)
{
    EXPECT_EQ(instrument("namespace eval ns {\n  foreach x $l {\n    puts $x\n  }\n}\n"),
              "__tarvin_dbg step 0 0 7; namespace eval ns {\n"
              "  __tarvin_dbg step 1 2 7; foreach x $l {\n"
              "    __tarvin_dbg step 2 4 7; puts $x\n  }\n}\n");
    // Other namespace subcommands take data, not scripts.
    EXPECT_EQ(instrument("namespace ensemble create -map {\n  a ::x::a\n}\nnamespace code {\n  f\n}\n"),
              "__tarvin_dbg step 0 0 7; namespace ensemble create -map {\n  a ::x::a\n}\n"
              "__tarvin_dbg step 3 0 7; namespace code {\n  __tarvin_dbg step 4 2 7; f\n}\n");
    EXPECT_EQ(instrument("switch $x {\n  a {\n    puts a\n  }\n  b - c {puts c}\n  d -\n}\n"),
              "__tarvin_dbg step 0 0 7; switch $x {\n  a {\n    __tarvin_dbg step 2 4 7; puts a\n  }\n"
              "  b - c {__tarvin_dbg step 4 9 7; puts c}\n  d -\n}\n");
    EXPECT_EQ(instrument("if {$x} then {\n f 1\n} elseif {$y} {\n f 2\n} else {\n f 3\n}\n"),
              "__tarvin_dbg step 0 0 7; if {$x} then {\n __tarvin_dbg step 1 1 7; f 1\n"
              "} elseif {$y} {\n __tarvin_dbg step 3 1 7; f 2\n"
              "} else {\n __tarvin_dbg step 5 1 7; f 3\n}\n");
    // A body in quotes is not descended into; the condition of if is not a body.
    EXPECT_EQ(instrument("if {$x} \"puts a\"\n"), "__tarvin_dbg step 0 0 7; if {$x} \"puts a\"\n");
    EXPECT_EQ(instrument("catch {\n f\n} r\nuplevel 1 {\n g\n}\nwhile 1 {\n h\n}\n"
                         "for {set i 0} {$i < 2} {incr i} {\n k\n}\n"),
              "__tarvin_dbg step 0 0 7; catch {\n __tarvin_dbg step 1 1 7; f\n} r\n"
              "__tarvin_dbg step 3 0 7; uplevel 1 {\n __tarvin_dbg step 4 1 7; g\n}\n"
              "__tarvin_dbg step 6 0 7; while 1 {\n __tarvin_dbg step 7 1 7; h\n}\n"
              "__tarvin_dbg step 9 0 7; for {set i 0} {$i < 2} {incr i} {\n"
              " __tarvin_dbg step 10 1 7; k\n}\n");
}

TEST(InstrumentSource, ParseErrorsStopOnlyTheFailingRange)
{
    EXPECT_EQ(instrument("set a 1\nset b {\nset c 3\n"), "__tarvin_dbg step 0 0 7; set a 1\nset b {\nset c 3\n");
    // The failing range is the body; the script goes on after it.
    EXPECT_EQ(instrument("while 1 {\n f\n set x \"a\"b\n g\n}\nh\n"),
              "__tarvin_dbg step 0 0 7; while 1 {\n __tarvin_dbg step 1 1 7; f\n set x \"a\"b\n g\n}\n"
              "__tarvin_dbg step 5 0 7; h\n");
}

// Evaluates a script in a plain interpreter whose debug hook does nothing.
std::string evaluate(const std::string& script)
{
    Tcl_Interp* interp = Tcl_CreateInterp();
    Tcl_Eval(interp, "proc __tarvin_dbg args {}");
    const int code = Tcl_Eval(interp, script.c_str());
    std::string result = std::to_string(code) + ":" + Tcl_GetStringResult(interp);
    Tcl_DeleteInterp(interp);
    return result;
}

TEST(InstrumentSource, ClosingFramePopNeverChangesAResult)
{
    // One-line bodies: the pop would continue the last command, so the return pops alone.
    EXPECT_EQ(instrument("proc g {} {return 1}\n"),
              "proc g {} {__tarvin_dbg frame push 0 11 7; __tarvin_dbg frame pop 0 11 7; return 1}\n");
    EXPECT_EQ(instrument("proc k {} {\n  return 2 \\\n}\n"),
              "proc k {} {__tarvin_dbg frame push 0 11 7; \n"
              "  __tarvin_dbg frame pop 1 2 7; return 2 \\\n}\n");
    EXPECT_EQ(instrument("proc m {} {\n  $x}\n"), "proc m {} {__tarvin_dbg frame push 0 11 7; \n  $x}\n");
    // A body that falls off its end keeps its last command's value: no closing pop.
    EXPECT_EQ(instrument("proc h {a} {\n  expr {$a + 1}\n}\n"),
              "proc h {a} {__tarvin_dbg frame push 0 12 7; \n  __tarvin_dbg step 1 2 7; expr {$a + 1}\n}\n");
    // An empty body pops (its result is empty either way); a trailing comment does not matter.
    EXPECT_EQ(instrument("proc e {} {}\n"),
              "proc e {} {__tarvin_dbg frame push 0 11 7; __tarvin_dbg frame pop 0 11 7; }\n");
    EXPECT_EQ(instrument("proc r {} {\n  return 3\n  # done\n}\n"),
              "proc r {} {__tarvin_dbg frame push 0 11 7; \n  __tarvin_dbg frame pop 1 2 7; return 3\n"
              "  # done\n__tarvin_dbg frame pop 3 0 7; }\n");

    const std::string script = "proc g {} {return 1}\n"
                               "proc k {} {\n  return 2 \\\n}\n"
                               "proc h {a} {\n  expr {$a + 1}\n}\n"
                               "proc e {} {}\n"
                               "proc r {} {\n  return 3\n  # done\n}\n"
                               "set x m; proc m {} {\n  $::x}\n"
                               "proc n {} {set y 4}\n"
                               "list [g] [k] [h 4] [e] [r] [n] [catch m]\n";
    EXPECT_EQ(evaluate(script), "0:1 2 5 {} 3 4 1");
    EXPECT_EQ(evaluate(instrument(script)), evaluate(script));
}

TEST(InstrumentSource, DataInBracesIsNeverHooked)
{
    // Scripts whose braced words are data that would look like scripts to a line-by-line walk:
    // each computes the same instrumented as written, and its data comes back unhooked.
    const char* const scripts[] = {
        // A switch pattern alone on its line, a fall-through, a braced value inside an arm.
        "set x 3; switch -- $x {\n {3}\n {set z three}\n 4 -\n {5} {set z other}\n}",
        "switch -exact -- b {\n a {set v 1}\n b {\n  set v {\n   p q\n  }\n }\n}\nset v",
        "switch -regexp -matchvar m -- abc {^a} {set z {\n x\n}} default {set z none}",
        // A foreach whose list is braced over several lines and whose body is not braced.
        "set body {lappend r $i}; set r {}; foreach i {\n 1 2\n} $body; set r",
        "set r {}; foreach {a b} {\n 1 2\n 3 4\n} {lappend r $b}; set r",
        "lmap i {\n 1 2\n} {expr {$i * 2}}",
        "set d {\n a 1\n}; dict for {k v} $d {set r $k$v}",
        "dict map {k v} {a 1 b 2} {\n incr v\n}",
        "set d {a 1}; dict with d {\n set a 5\n}; set d",
        "set d {a 1}; dict update d a x {\n set x {\n 7\n }\n}; set d",
        "try {\n set a {\n 1\n }\n} on error {r o} {\n set a 2\n} finally {\n set f 3\n}",
        "apply {{x} {\n set y {\n a\n }\n list $x $y\n}} 4",
        "eval {\n set e {\n 1\n }\n}",
        "uplevel #0 {\n set u {\n 2\n }\n}",
        "namespace eval ns {\n variable v {\n 3\n }\n}; set ns::v",
        "oo::class create C {\n method m {a} {\n  return [list $a {\n b\n }]\n }\n"
        " constructor {} {\n  set ::made {\n 1\n }\n }\n}; list [[C new] m 1] $::made",
        "oo::class create D; oo::define D method m {} {\n return {\n x\n }\n}; [D new] m",
        "proc p {} {\n set v {\n a\n }\n}\np",
        "if {1} {\n set v {\n i\n }\n} elseif {\n 0\n} then {\n set v 2\n}",
        "for {set i 0} {$i < 2} {incr i} {\n set f {\n 1\n }\n}; set f",
        "catch {\n set c {\n 1\n }\n} r; set r",
        "after 0 {\n set ::late {\n x\n }\n}; update; set late",
        // after cancel finds the handler by its text: both stay as written.
        "after 100000 {\n set never 1\n}\nafter cancel {\n set never 1\n}\nafter info",
    };
    for (const char* script : scripts) {
        const std::string plain = evaluate(script);
        EXPECT_EQ(plain.substr(0, 2), "0:") << script << " -> " << plain;
        const std::string hooked = instrument(script);
        EXPECT_EQ(evaluate(hooked), plain) << hooked;
        EXPECT_EQ(stripHooks(hooked), script);
    }
}

TEST(InstrumentSource, ScriptsOfTcl85And86GetHooks)
{
    // One hooked command inside each body.
    const char* const scripts[] = {
        "try {\n a\n} on error {r o} {\n a\n} trap {X} {r o} {\n a\n} finally {\n a\n}",
        "dict for {k v} $d {\n a\n}", "dict map {k v} $d {\n a\n}", "dict with d {\n a\n}",
        "dict update d k v {\n a\n}", "lmap x $l {\n a\n}", "apply {{x} {\n a\n}} 1",
        "eval {\n a\n}", "after 10 {\n a\n}", "switch -- $x a {\n a\n} b {\n a\n}"};
    for (const char* script : scripts) {
        const std::string hooked = instrument(script);
        const std::string lines = std::string(script);
        const size_t bodies = size_t(std::count(lines.begin(), lines.end(), '\n')) / 2;
        size_t steps = 0;
        for (size_t at = hooked.find("step "); at != std::string::npos; at = hooked.find("step ", at + 1))
            ++steps;
        EXPECT_EQ(steps, 1 + bodies) << hooked;
    }
    // Methods, constructors and destructors are procedures: frames of their own; the class
    // definition's own commands get no hooks.
    EXPECT_EQ(instrument("oo::class create C {\n method m {} {\n  return 1\n }\n destructor {\n  f\n }\n}\n"),
              "__tarvin_dbg step 0 0 7; oo::class create C {\n"
              " method m {} {__tarvin_dbg frame push 1 14 7; \n  __tarvin_dbg frame pop 2 2 7; return 1\n"
              " __tarvin_dbg frame pop 3 1 7; }\n"
              " destructor {__tarvin_dbg frame push 4 13 7; \n  __tarvin_dbg step 5 2 7; f\n }\n}\n");
    // A bind script appended with "+" keeps its "+" in front.
    EXPECT_EQ(instrument("bind . <a> {+\n f\n}\n"), "__tarvin_dbg step 0 0 7; bind . <a> {+\n f\n}\n");
}

TEST(WriteInstrumented, AtMostOneStepPerLineAndNothingAfterIt)
{
    const QByteArray script("a; b\nc\n");
    using K = HookRecord;
    const std::vector<HookRecord> records = {
        {K::FramePush, 0}, {K::StepHook, 0}, {K::StepHook, 3}, {K::FramePop, 3},
        {K::FramePop, 5},  {K::StepHook, 5}, {K::FramePop, 5}, {K::StepHook, 7}};
    // Line 0: push and step written, the rest dropped. Line 1: pop, step, then nothing.
    // A record at the end of the text is never reached.
    EXPECT_EQ(writeInstrumented(script, 12, records).toStdString(),
              "__tarvin_dbg frame push 0 0 12; __tarvin_dbg step 0 0 12; a; b\n"
              "__tarvin_dbg frame pop 1 0 12; __tarvin_dbg step 1 0 12; c\n");
    EXPECT_EQ(writeInstrumented(QByteArray(), 1, records).toStdString(), "");
}

TEST(TclParseNestingLimit, FollowsTclsParser)
{
    auto limit = [](const std::string& text, int max) {
        return int(tclParseNestingLimit(text.data(), text.data() + text.size(), max) - text.data());
    };
    // Depth 2 in the second command: cut before it.
    const std::string two = "a [b]\nc [d [e]]\nf\n";
    EXPECT_EQ(limit(two, 1), 6);
    EXPECT_EQ(limit(two, 2), int(two.size()));
    // Quoted words and array indices nest too; a quoted word alone is one level.
    EXPECT_EQ(limit("x\ny \"\"\n", 0), 2);
    EXPECT_EQ(limit("x\ny \"\"\n", 1), 7);
    EXPECT_EQ(limit("x \"[y]\"\n", 1), 0);
    EXPECT_EQ(limit("x $a($b(1))\n", 1), 0);
    EXPECT_EQ(limit("x $a($b(1))\n", 2), 12);
    // Braces, comments and backslashes hide brackets; ${name} has no index.
    EXPECT_EQ(limit("x {[[[}\n# [[[\ny \\[\\[\\[ ${a(}\n", 1), 29);
    // A ] closes only a substitution; at the top level it is an ordinary character.
    EXPECT_EQ(limit("x ]]] [y]\n", 1), 10);
    // A command Tcl cannot parse ends the range at its start.
    EXPECT_EQ(limit("a\nb [c\n", 1), 2);
    EXPECT_EQ(limit("a\nb {x}y [c]\n", 1), 2);
}

TEST(InstrumentSource, PathologicalNestingIsLeftUninstrumented)
{
    const int depth = 200000;
    // Brackets nest Tcl's parser: that command and the rest of its range get no hooks.
    const std::string brackets =
        "set a 1\nset x " + std::string(depth, '[') + std::string(depth, ']') + "\nset b 2\n";
    EXPECT_EQ(instrument(brackets), "__tarvin_dbg step 0 0 7; " + brackets);
    std::string indices = "set a 1\nset x ";
    for (int i = 0; i < depth; ++i)
        indices += "$a(";
    indices += std::string(depth, ')') + "\n";
    EXPECT_EQ(instrument(indices), "__tarvin_dbg step 0 0 7; " + indices);
    // Braces hide the same brackets from the parser.
    const std::string braced = "set x {" + std::string(depth, '[') + "}\n";
    EXPECT_EQ(instrument(braced), "__tarvin_dbg step 0 0 7; " + braced);

    // Many brackets at a shallow depth are fine, in one command or spread over many.
    std::string wide = "namespace eval ns {\n";
    for (int i = 0; i < 3000; ++i)
        wide += "set a [x [y]]\n";
    wide += "}\nset b [" + std::string(900, '[') + std::string(900, ']') + "]\nset c 1\n";
    const std::string wideOut = instrument(wide);
    EXPECT_EQ(stripHooks(wideOut), wide);
    EXPECT_NE(wideOut.find("__tarvin_dbg step 3000 0 7; set a"), std::string::npos);
    EXPECT_NE(wideOut.find("__tarvin_dbg step 3002 0 7; set b"), std::string::npos);
    EXPECT_NE(wideOut.find("__tarvin_dbg step 3003 0 7; set c"), std::string::npos);

    // Bodies are descended into down to maxBodyNesting levels.
    std::string bodies;
    for (int i = 0; i < depth; ++i)
        bodies += "if 1 {\n";
    bodies += std::string(depth, '}');
    const std::string out = instrument(bodies);
    EXPECT_EQ(stripHooks(out), bodies);
    size_t hooks = 0;
    for (size_t at = out.find("__tarvin_dbg"); at != std::string::npos; at = out.find("__tarvin_dbg", at + 1))
        ++hooks;
    EXPECT_EQ(hooks, size_t(maxBodyNesting + 1));
}

TEST(InstrumentSource, FuzzerRegressionInputsRoundTrip)
{
    // Inputs that once broke the instrumenter, taken as bytes as the fuzzer does: each must come
    // back unchanged without its hooks.
    static const QRegularExpression hook(
        QStringLiteral("__tarvin_dbg (step|frame push|frame pop) \\d+ \\d+ 7; "));
    Tcl_Interp* interp = Tcl_CreateInterp();
    QDir dir(QStringLiteral(TARVIN_SOURCE_DIR "/tests/interpreter/tcl/data/instrumenter"));
    for (const QString& name : dir.entryList({QStringLiteral("*.tcl")}, QDir::Files)) {
        QFile file(dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
        const QByteArray text = file.readAll();
        std::vector<HookRecord> records;
        collectHooks(interp, text, 0, text.size(), records, true);
        // Latin-1 maps bytes to characters one to one.
        const QByteArray out = writeInstrumented(text, 7, records);
        QString back = QString::fromLatin1(out.constData(), out.size());
        EXPECT_EQ(back.remove(hook).toLatin1(), text) << name.toStdString();
        const char* begin = text.constData();
        EXPECT_EQ(tclParseNestingLimit(begin, begin + text.size(), 0), begin) << name.toStdString();
    }
    Tcl_DeleteInterp(interp);
}

} // namespace
