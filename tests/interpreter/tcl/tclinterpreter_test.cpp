// The Tcl interpreter: set-up and registration, running scripts, calling functions, error lines and
// files, the pending error and the script arguments.
#include "bridgetestsupport.h"
#include "debugger.h"
#include "scriptcontext.h"
#include "testresult.h"

#include <QFile>

using namespace bridgetest;

namespace {

// The bridge tests' prefix and warnings; tests that write etc/paths.ini make their interpreter after it.
class TclInterpreterTest : public BridgeTest {
protected:
    void SetUp() override
    {
        oldLibrary = qgetenv("TCL_LIBRARY");
        hadLibrary = qEnvironmentVariableIsSet("TCL_LIBRARY");
        BridgeTest::SetUp();
        interpreter.reset();
    }
    void TearDown() override
    {
        BridgeTest::TearDown();
        if (hadLibrary)
            qputenv("TCL_LIBRARY", oldLibrary);
        else
            qunsetenv("TCL_LIBRARY");
    }

    void writePathsIni(const QByteArray& text)
    {
        QFile file(prefix.filePath("etc/paths.ini"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
    }

    TclInterpreter* create()
    {
        interpreter.reset(new TclInterpreter(&runner));
        return interpreter.get();
    }

    QString eval(const QString& code)
    {
        EXPECT_TRUE(interpreter->evaluate(code, QString(), false, true));
        return interpreter->resultMessage();
    }

    QByteArray oldLibrary;
    bool hadLibrary = false;
};

} // namespace

TEST_F(TclInterpreterTest, ConstructionRegistersVariablesAndValueTypes)
{
    TclInterpreter* i = create();
    EXPECT_EQ(Interpreter::self(), i);
    EXPECT_EQ(eval("list $TarvinPrivate__XButton2 $TarvinPrivate__Control $TarvinPrivate__Command"),
              QStringLiteral("128 128 2048"));
    EXPECT_TRUE(i->isSelfDefinedVariableName("TarvinPrivate__Shift"));
    EXPECT_FALSE(i->isSelfDefinedVariableName("argv"));

    // The value types are known to Tcl and the global context is current.
    EXPECT_NE(Tcl_GetObjType("TestObject"), nullptr);
    EXPECT_NE(Tcl_GetObjType("TestDataRecord"), nullptr);
    EXPECT_NE(Tcl_GetObjType("ScriptNativeObject"), nullptr);
    EXPECT_EQ(Tcl_GetObjType("ApplicationContext"), nullptr);
    EXPECT_NE(ScriptContext::current(), nullptr);

    interpreter.reset();
    EXPECT_EQ(Interpreter::self(), nullptr);
    EXPECT_EQ(ScriptContext::current(), nullptr);
}

TEST_F(TclInterpreterTest, RegistrationStepsAddTestAndApplicationCommands)
{
    TclInterpreter* i = create();
    EXPECT_FALSE(i->hasFunction("test"));
    EXPECT_FALSE(i->hasFunction("waitForObject"));
    TestResult result;
    i->registerTestCommand(&result);
    EXPECT_TRUE(i->hasFunction("test"));
    EXPECT_EQ(ScriptContext::current()->testResult(), &result);
    i->registerApplicationCommands();
    EXPECT_TRUE(i->hasFunction("waitForObject"));
}

TEST_F(TclInterpreterTest, TclLibraryComesFromPathsIniWithTheExactKeyOnly)
{
    // The placeholder stands for the prefix; Tcl still starts from its default places when the named
    // library does not exist.
    writePathsIni("[Paths]\nScripting/TclLibrary = \"@(TARVIN_PREFIX)/lib/tcl8.6\"\n");
    qputenv("TCL_LIBRARY", "untouched");
    create();
    EXPECT_EQ(qgetenv("TCL_LIBRARY"), (prefix.path() + "/lib/tcl8.6").toUtf8());

    interpreter.reset();
    writePathsIni("[Paths]\nScripting/tcllibrary = \"/elsewhere\"\n");
    qputenv("TCL_LIBRARY", "untouched");
    create();
    EXPECT_EQ(qgetenv("TCL_LIBRARY"), QByteArray("untouched"));
}

TEST_F(TclInterpreterTest, EvaluateReportsErrorsWithRemappedLines)
{
    TclInterpreter* i = create();
    // Line 10 opens proc foo; its line 3 (script line 12) fails.
    const QString script = QStringLiteral("# 1\n# 2\n# 3\n# 4\n# 5\n# 6\n# 7\n# 8\n# 9\n"
                                          "proc foo {} {\n"
                                          "    set x 1\n"
                                          "    error \"failed in foo\"\n"
                                          "}\n"
                                          "foo\n");
    EXPECT_FALSE(i->evaluate(script, "script.tcl", false, false));
    EXPECT_EQ(i->errorMessage(), QStringLiteral("failed in foo"));
    EXPECT_EQ(i->errorLine(), 12);
    EXPECT_EQ(i->scriptText(), script);

    // A top-level error keeps Tcl's own line.
    EXPECT_FALSE(i->evaluate("set a 1\n\nnosuchcommand\n", "script.tcl", false, false));
    EXPECT_EQ(i->errorLine(), 3);
    EXPECT_EQ(i->errorMessage(), QStringLiteral("invalid command name \"nosuchcommand\""));

    // Success resets the error state.
    EXPECT_TRUE(i->evaluate("set a 1", "script.tcl", false, false));
    EXPECT_EQ(i->errorLine(), -1);
    EXPECT_TRUE(i->errorMessage().isEmpty());
}

TEST_F(TclInterpreterTest, ErrorLineSkipsProceduresDefinedElsewhere)
{
    TclInterpreter* i = create();
    // inner is defined by a second evaluation; outer's frame (line 3 of outer, script line 4) counts.
    ASSERT_TRUE(i->evaluate("proc inner {} {\n    error deep\n}\n", "lib.tcl", false, false));
    EXPECT_FALSE(i->evaluate("\nproc outer {} {\n    set y 2\n    inner\n}\nouter\n", "main.tcl", false, false));
    EXPECT_EQ(i->errorLine(), 4);

    // The name goes into the expression unescaped: foo.bar matches a definition of foo_bar first.
    EXPECT_FALSE(i->evaluate("proc foo_bar {} {}\n"
                             "proc foo.bar {} {\n"
                             "    error x\n"
                             "}\n"
                             "foo.bar\n",
                             "re.tcl", false, false));
    EXPECT_EQ(i->errorLine(), 2);
}

TEST_F(TclInterpreterTest, EvaluateKeepingTheResult)
{
    TclInterpreter* i = create();
    EXPECT_TRUE(i->evaluate("list a b", QString(), false, true));
    EXPECT_EQ(i->resultMessage(), QStringLiteral("a b"));
    ASSERT_TRUE(i->result());
    EXPECT_EQ(i->result()->toList().size(), 2);
    // Failures are not reported in this mode.
    EXPECT_TRUE(i->evaluate("error oops", QString(), false, true));
    EXPECT_EQ(i->resultMessage(), QStringLiteral("oops"));
    EXPECT_TRUE(i->errorMessage().isEmpty());
    EXPECT_EQ(i->errorLine(), -1);
}

TEST_F(TclInterpreterTest, CallFunctionRunsProceduresWithConvertedArguments)
{
    TclInterpreter* i = create();
    ASSERT_TRUE(i->evaluate("proc join3 {a b c} { set ::joined [list $a $b $c] }\n"
                            "proc fails {} { error {plain failure} }\n"
                            "proc verifies {} { error {VerificationFailure: x != y} }\n"
                            "proc skips {} { error {Skipped: not today} }\n",
                            "f.tcl", false, false));
    Inspector* inspector = Inspector::self();
    ObjectList args;
    args << inspector->createInt(7) << inspector->createString("two words") << inspector->createBool(true);
    EXPECT_TRUE(i->callFunction("join3", args));
    EXPECT_EQ(eval("set ::joined"), QStringLiteral("7 {two words} 1"));

    // Built-in commands are functions too.
    EXPECT_TRUE(i->hasFunction("set"));
    EXPECT_TRUE(i->callFunction("list", ObjectList()));

    EXPECT_FALSE(i->callFunction("main", ObjectList()));
    EXPECT_EQ(i->errorMessage(), QStringLiteral("unknown command \"main\""));

    // Verification failures and skips were reported already.
    i->clearError();
    EXPECT_TRUE(i->callFunction("verifies", ObjectList()));
    EXPECT_TRUE(i->callFunction("skips", ObjectList()));
    EXPECT_TRUE(i->errorMessage().isEmpty());
    EXPECT_EQ(finishCommand(TCL_OK), TCL_OK) << "no pending error after a skip";

    // A plain failure is reported and becomes the pending error of the next command.
    EXPECT_FALSE(i->callFunction("fails", ObjectList()));
    EXPECT_EQ(i->errorMessage(), QStringLiteral("plain failure"));
    EXPECT_EQ(i->errorLine(), 1);
    EXPECT_FALSE(i->evaluate("__tarvin_dbg step 0 0 1", QString(), false, false));
    EXPECT_EQ(i->errorMessage(), QStringLiteral("plain failure"));
    EXPECT_TRUE(i->evaluate("__tarvin_dbg step 0 0 1", QString(), false, false));
}

TEST_F(TclInterpreterTest, PendingErrorGoesToItsOwnInterpreterOnlyOnce)
{
    TclInterpreter* i = create();
    i->setPendingError("delivered later");
    Tcl_Interp* tcl = i->tclInterp();
    Tcl_ResetResult(tcl);
    EXPECT_EQ(finishCommand(TCL_OK), TCL_ERROR);
    EXPECT_STREQ(Tcl_GetStringResult(tcl), "delivered later");
    EXPECT_EQ(finishCommand(TCL_OK), TCL_OK);
    EXPECT_EQ(finishCommand(TCL_BREAK), TCL_BREAK);

    // An empty message clears the slot.
    i->setPendingError("x");
    i->setPendingError(QString());
    EXPECT_EQ(finishCommand(TCL_OK), TCL_OK);

    // A pending error dies with its interpreter rather than reaching a deleted one.
    i->setPendingError("orphan");
    interpreter.reset();
    EXPECT_EQ(finishCommand(TCL_OK), TCL_OK);

    EXPECT_EQ(setErrorResult(create()->tclInterp(), QString::fromUtf8("Grüße")), TCL_ERROR);
    EXPECT_EQ(QString::fromUtf8(Tcl_GetStringResult(interpreter->tclInterp())), QString::fromUtf8("Grüße"));
}

TEST_F(TclInterpreterTest, ScriptArguments)
{
    TclInterpreter* i = create();
    i->setScriptArguments("/suite/tst_a/test.tcl", QStringList());
    EXPECT_EQ(eval("list $argc $argv0 [llength $argv]"), QStringLiteral("0 /suite/tst_a/test.tcl 0"));
    i->setScriptArguments("s.tcl", QStringList({"one", "two words", "ünï"}));
    EXPECT_EQ(eval("list $argc [lindex $argv 1] [lindex $argv 2]"), QString::fromUtf8("3 {two words} ünï"));
}

TEST_F(TclInterpreterTest, ErrorFileFollowsTheDebuggerAndTheRunnersScript)
{
    TclInterpreter* i = create();
    runner.script = "/suite/tst_a/test.tcl";
    EXPECT_EQ(i->errorFile("common.tcl"), QStringLiteral("/suite/tst_a/common.tcl"));
    EXPECT_EQ(i->errorFile("/abs/x.tcl"), QStringLiteral("/abs/x.tcl"));
    runner.script.clear();
    EXPECT_EQ(i->errorFile("common.tcl"), QStringLiteral("common.tcl"));

    // With an instrumented line current, the file registered for its source id wins, and so does the line.
    Debugger* d = i->debugger();
    const int id = d->nextSourceId();
    d->setCode(id, "/suite/shared/lib.tcl");
    EXPECT_FALSE(i->evaluate("error x", "t.tcl", false, false));
    EXPECT_EQ(i->errorLine(), 1);
    d->setCurrentSourceId(id);
    d->setCurrentLine(17);
    EXPECT_EQ(i->errorFile("t.tcl"), QStringLiteral("/suite/shared/lib.tcl"));
    EXPECT_EQ(i->errorLine(), 17);
    // No stored line: no line at all, whatever the debugger says.
    i->clearError();
    EXPECT_EQ(i->errorLine(), -1);
}

TEST_F(TclInterpreterTest, AdoptedInterpreterIsRegisteredButLeftToItsOwner)
{
    Tcl_Interp* tcl = Tcl_CreateInterp();
    ASSERT_EQ(Tcl_Init(tcl), TCL_OK);
    {
        TclInterpreter adopted(tcl, &runner);
        EXPECT_TRUE(adopted.hasFunction("__tarvin_dbg"));
        EXPECT_NE(adopted.debugger(), nullptr);
        EXPECT_STREQ(Tcl_GetVar(tcl, "TarvinPrivate__Alt", TCL_GLOBAL_ONLY), "512");
    }
    EXPECT_FALSE(Tcl_InterpDeleted(tcl));
    EXPECT_EQ(Tcl_Eval(tcl, "set TarvinPrivate__Alt"), TCL_OK);
    Tcl_DeleteInterp(tcl);
}

TEST_F(TclInterpreterTest, SharedAutoPathIsCopiedBeforeAppending)
{
    TclInterpreter* i = create();
    Tcl_Interp* tcl = i->tclInterp();
    ASSERT_EQ(Tcl_Eval(tcl, "set ::keep $::auto_path"), TCL_OK); // two holders now
    const int before = eval("llength $::auto_path").toInt();
    TclInterpreter::addTclModulePath(tcl);
    EXPECT_EQ(eval("llength $::auto_path").toInt(), before + 1);
    EXPECT_EQ(eval("llength $::keep").toInt(), before);

    ASSERT_EQ(Tcl_Eval(tcl, "unset ::auto_path"), TCL_OK);
    warnings().clear();
    TclInterpreter::addTclModulePath(tcl);
    ASSERT_EQ(warnings().size(), 1);
    EXPECT_TRUE(warnings().first().startsWith("Could not append Tarvin Tcl package path to auto_path: "));
}

TEST_F(TclInterpreterTest, InfoBodyShowsInstrumentedProceduresAsWritten)
{
    TclInterpreter* i = create();
    const QString body = QStringLiteral("\n    set a {x y}\n    return $a\n");
    ASSERT_TRUE(i->evaluate(QStringLiteral("proc p {} {") + body + QStringLiteral("}\n"),
                            QStringLiteral("p.tcl"), true, false));
    EXPECT_EQ(eval(QStringLiteral("info body p")), body);
    EXPECT_EQ(eval(QStringLiteral("p")), QStringLiteral("x y"));
    // Errors are Tcl's own.
    EXPECT_FALSE(i->evaluate(QStringLiteral("info body nosuch"), QString(), false, false));
    EXPECT_EQ(i->errorMessage(), QStringLiteral("\"nosuch\" isn't a procedure"));
}
