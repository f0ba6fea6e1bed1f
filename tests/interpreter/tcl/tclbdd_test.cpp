// The BDD driver against stand-in support commands: what a step reaches Tcl with, how the answers of the
// execute-step command and of the step definition become statuses, the hooks of a moment and their
// context procedure, and the two editor-style interpreter operations.
#include "bridgetestsupport.h"

#include "debugger.h"
#include "tclbdd.h"
#include "tclspecific.h"

using namespace bridgetest;

namespace {

using Result = Gherkin::ScriptActions::Result;

class BddTest : public BridgeTest {
protected:
    void SetUp() override
    {
        BridgeTest::SetUp();
        // The execute-step command hands back a definition that records its words; the step text picks
        // what the definition does.
        // The user data variable exists before hooks write it, as the support script makes it.
        eval("namespace eval Tarvin::BDD { variable context_user_data {} }\n"
             "proc Tarvin::BDD::get_execute_step_cmd {text multi table keyword} {\n"
             "    set ::seen [list $text $multi $table $keyword]\n"
             "    switch -- $text {\n"
             "        undefined { return -code error -errorcode 3 {} }\n"
             "        ambiguous { return -code error -errorcode 4 {two match} }\n"
             "        uncallable { return -code error -errorcode 1 {wrong arity} }\n"
             "        othercode { return -code error -errorcode 7 {whatever} }\n"
             "        notalist { return {a {b}c} }\n"
             "        nocommand { return {where {no_such_command x}} }\n"
             "        break { return -code break }\n"
             "    }\n"
             "    return [list where [list ::definition $text]]\n"
             "}\n"
             "proc ::definition {text} {\n"
             "    set ::ran $text\n"
             "    switch -- $text {\n"
             "        fails { error {it broke} }\n"
             "        verification { error {VerificationFailure: not equal} }\n"
             "        skip { error {Skipped: not today} }\n"
             "        abort { return AbortScenario }\n"
             "        abortlower { return abortscenario }\n"
             "    }\n"
             "    return done\n"
             "}\n");
    }

    Result step(const char* text, int type = 0)
    {
        Gherkin::Step s;
        s.type = type;
        s.text = QByteArray("Given ") + text;
        s.textOffset = 6;
        return TclGherkinDriverScriptActions(interp).runStep(s);
    }
    QString text(const char* script) { return QString::fromUtf8(Tcl_GetString(eval(script))); }
    QString var(const char* name) { return QString::fromUtf8(Tcl_GetVar(interp, name, TCL_GLOBAL_ONLY) ?: "<unset>"); }
};

} // namespace

TEST_F(BddTest, StepReachesTclWithTextLinesTableAndKeyword)
{
    Gherkin::Step s;
    s.type = 3;
    s.text = "And two {words}";
    s.textOffset = 4;
    s.multiLineText = {"line 1", "line {2}"};
    s.docStringType = "json";
    s.table = {{{{}, "a"}, {{}, "b c"}}, {{{}, "1"}, {{}, "2"}}};
    TclGherkinDriverScriptActions actions(interp);
    Result r = actions.runStep(s);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(var("seen"), QStringLiteral("{two {words}} {{line 1} {line {2}}} {{a {b c}} {1 2}} {}"));
    EXPECT_EQ(var("ran"), QStringLiteral("two {words}"));
    // The definition's position comes back with the result; the content type waits in a variable.
    EXPECT_EQ(r.definition, "where");
    EXPECT_EQ(var("Tarvin::BDD::doc_string_type"), "json");
    s.docStringType.clear();
    actions.runStep(s);
    EXPECT_EQ(var("Tarvin::BDD::doc_string_type"), "") << "a step without a type leaves none behind";

    // Another execute-step command replaces the support script's.
    eval("proc myExecute {args} { return {x {::definition mine}} }");
    TclGherkinDriverScriptActions mine(interp, "myExecute");
    s.text = "Given x";
    s.textOffset = 6;
    EXPECT_EQ(mine.runStep(s).status, 0);
    EXPECT_EQ(var("ran"), QStringLiteral("mine"));
}

TEST_F(BddTest, AnswersBecomeStatuses)
{
    struct Case {
        const char* text;
        int status;
        const char* message;
    } cases[] = {
        {"plain", 0, ""},
        {"undefined", 1, ""},
        {"ambiguous", 2, "two match"},
        {"uncallable", 3, "wrong arity"},
        {"othercode", 0, ""},
        {"break", 0, ""},
        {"notalist", 5, "Tcl_ListObjGetElements failed"},
        {"nocommand", 5, "Tcl_GetCommandInfo failed"},
        {"fails", 4, "it broke"},
        {"verification", 6, "VerificationFailure: not equal"},
        {"skip", 6, "Skipped: not today"},
        {"abort", 6, ""},
        {"abortlower", 0, ""},
    };
    Debugger* debugger = interpreter->debugger();
    for (const Case& c : cases) {
        const int depth = debugger->frameDepth();
        const Result r = step(c.text);
        EXPECT_EQ(r.status, c.status) << c.text;
        EXPECT_EQ(r.message, QByteArray(c.message)) << c.text;
        EXPECT_EQ(debugger->frameDepth(), depth) << c.text << ": frames are popped on every path";
        if (c.status != 4 && c.status != 6) {
            EXPECT_EQ(r.line, -1) << c.text;
            EXPECT_TRUE(r.file.isEmpty()) << c.text;
        }
    }

    // Without the support script nothing can be run, and nothing is said.
    eval("rename Tarvin::BDD::get_execute_step_cmd {}");
    EXPECT_EQ(step("plain").status, 0);
}

TEST_F(BddTest, AFailingDefinitionReportsWhereTheDebuggerStands)
{
    const QString file = prefix.filePath("steps.tcl");
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("proc ::definition {text} {\n"
            "    set x 1\n"
            "    helper\n"
            "}\n"
            "proc helper {} {\n"
            "    error {deep down}\n"
            "}\n");
    f.close();
    eval(QStringLiteral("source {%1}").arg(file).toUtf8().constData());
    Debugger* debugger = interpreter->debugger();
    debugger->setCurrentLine(12);
    const DebuggerFrame before = debugger->currentFrame();
    const int depth = debugger->frameDepth();

    const Result r = step("anything");
    EXPECT_EQ(r.status, 4);
    EXPECT_EQ(r.message, "deep down");
    EXPECT_EQ(r.file, file.toUtf8());
    EXPECT_EQ(r.line, 6);
    const LineInfoList stack = interpreter->errorCallStack();
    ASSERT_GE(stack.size(), 2);
    EXPECT_EQ(stack[0], LineInfo(file, 6));
    EXPECT_EQ(stack[1], LineInfo(file, 3));
    // The procedure that failed left its frame; the position from before the step is back all the same.
    EXPECT_EQ(debugger->frameDepth(), depth);
    EXPECT_EQ(debugger->currentFrame(), before);
}

TEST_F(BddTest, HooksRunInOrderWithTheirContext)
{
    eval("proc hookA {context} { lappend ::order A [$context title] }\n"
         "proc hookB {context} { lappend ::order B; $context userData a b }\n"
         "proc skipper {context} { lappend ::order S; error {Skipped: later} }\n"
         "proc failer {context} { error {hook broke} }\n"
         "proc stepHook {context} {\n"
         "    lappend ::order [$context text] [$context userData]\n"
         "    catch {$context title} ::titleError\n"
         "    catch {$context text x} ::writeError\n"
         "    catch {$context colour} ::unknownError\n"
         "}\n"
         "set Tarvin::BDD::OnScenarioStartHooks {hookA hookB}\n"
         "set Tarvin::BDD::OnStepEndHooks {stepHook}\n");
    TclGherkinDriverScriptActions actions(interp);
    EXPECT_EQ(actions.runHooks(1, 0, "Buying {things}").status, 0);
    EXPECT_EQ(var("order"), QStringLiteral("A {Buying {things}} B"));
    EXPECT_EQ(var("Tarvin::BDD::context_user_data"), QStringLiteral("a b"));

    eval("set ::order {}");
    EXPECT_EQ(actions.runHooks(2, 1, "I pay").status, 0);
    EXPECT_EQ(var("order"), QStringLiteral("{I pay} {a b}"));
    EXPECT_EQ(var("titleError"), QStringLiteral("unknown context field 'title'"));
    EXPECT_EQ(var("writeError"), QStringLiteral("text field cannot be written to"));
    EXPECT_EQ(var("unknownError"), QStringLiteral("unknown context field 'colour'"));

    // A moment without hooks still redefines the context procedure.
    EXPECT_EQ(actions.runHooks(0, 0, "The feature").status, 0);
    EXPECT_EQ(text("Tarvin::BDD::context title"), QStringLiteral("The feature"));
    eval("catch {Tarvin::BDD::context title x} ::e");
    EXPECT_EQ(var("e"), QStringLiteral("title field cannot be written to"));

    // A skip stops the moment's hooks with status 3; any other error with 1.
    eval("set ::order {}; set Tarvin::BDD::OnScenarioStartHooks {skipper hookA}");
    Result r = actions.runHooks(1, 0, "s");
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(r.message, "Skipped: later");
    EXPECT_EQ(var("order"), QStringLiteral("S"));
    eval("set Tarvin::BDD::OnScenarioEndHooks {failer hookA}\n"
         "set Tarvin::BDD::hook_positions(failer) {steps.tcl 7}");
    r = actions.runHooks(1, 1, "s");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.message, "hook broke");
    // Each hook of the moment is told apart for the reports: where it is defined (when the support
    // script noted it) and how it ended; those after a failed one did not run.
    ASSERT_EQ(r.hooks.size(), 2);
    EXPECT_EQ(r.hooks[0].file, "steps.tcl");
    EXPECT_EQ(r.hooks[0].line, 7);
    EXPECT_EQ(r.hooks[0].status, 1);
    EXPECT_GT(r.hooks[0].nanoseconds, 0);
    EXPECT_EQ(r.hooks[1].file, "");
    EXPECT_EQ(r.hooks[1].status, Gherkin::ScriptActions::HookNotRun);

    // Unbalanced braces in a title leave the previous context procedure in place.
    EXPECT_EQ(actions.runHooks(0, 0, "open { brace").status, 0);
    EXPECT_EQ(text("Tarvin::BDD::context title"), QStringLiteral("s"));
}

TEST_F(BddTest, EditorQuestionsGoToTheSupportScript)
{
    Gherkin::Step s;
    s.type = 1;
    s.text = "When I pay 5";
    s.textOffset = 5;
    EXPECT_TRUE(interpreter->matchingStepDefinitions(s).isEmpty()) << "no support script: no matches";
    EXPECT_TRUE(interpreter->registeredStepPatterns(1).isEmpty());

    eval("proc Tarvin::BDD::get_matching_step_defs {text keyword} {\n"
         "    return [list [list steps.tcl 3] [list \"$keyword:$text\" 7]]\n"
         "}\n"
         "proc Tarvin::BDD::get_registered_step_patterns {keyword} { return [list \"$keyword a\" {b c}] }\n");
    const QList<QPair<QByteArray, int>> matches = interpreter->matchingStepDefinitions(s);
    ASSERT_EQ(matches.size(), 2);
    EXPECT_EQ(matches[0], qMakePair(QByteArray("steps.tcl"), 3));
    EXPECT_EQ(matches[1], qMakePair(QByteArray("When:I pay 5"), 7));
    EXPECT_EQ(interpreter->registeredStepPatterns(2), (QStringList{"Then a", "b c"}));
    EXPECT_EQ(interpreter->registeredStepPatterns(9), (QStringList{" a", "b c"}));

    eval("proc Tarvin::BDD::get_matching_step_defs {args} { error broken }");
    EXPECT_TRUE(interpreter->matchingStepDefinitions(s).isEmpty());
}
