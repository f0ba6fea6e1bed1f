// Script arguments and script contexts: the kind tests and conversions of one Tcl value, the
// factories of a context, line information from the debugger's frames, and commands forwarded to
// framework functions through a context of their own or the global one.
#include "bridgetestsupport.h"

#include "applicationcontext.h"
#include "debugger.h"
#include "nativeapi.h"
#include "tclhandles.h"
#include "tclnativetypes.h"
#include "tclspecific.h"
#include "testdata.h"
#include "testresult.h"

#include <ctime>

using namespace bridgetest;

namespace {

const char baseKey = 0, derivedKey = 0, otherKey = 0, unregisteredKey = 0;

struct Native : NativeScriptObject {
    const void* id;
    explicit Native(const void* typeId) : id(typeId) {}
    const void* typeId() const override { return id; }
};

using Arg = SharedPtr<ScriptArgument>;

class SpecificTest : public BridgeTest {
protected:
    Arg arg(Tcl_Obj* value) { return Arg(new TclScriptArgument(value, interp)); }
    Arg arg(const char* text) { return arg(untyped(text)); }
    static Tcl_Obj* valueOf(const Arg& a) { return static_cast<TclScriptArgument*>(a.get())->value(); }
    static QString textOf(const Arg& a) { return QString::fromUtf8(Tcl_GetString(valueOf(a))); }
};

} // namespace

TEST_F(SpecificTest, KindTestsAndConversions)
{
    // The kinds a value passes, in a fixed order.
    auto kinds = [](const Arg& a) {
        QStringList k;
        for (auto [name, is] : {std::make_pair("bool", a->isBool()), std::make_pair("int", a->isInteger()),
                                std::make_pair("double", a->isDouble()), std::make_pair("list", a->isList()),
                                std::make_pair("map", a->isMap()), std::make_pair("object", a->isObject())})
            if (is)
                k << name;
        return k.join(' ');
    };
    EXPECT_EQ(kinds(arg("42")), QStringLiteral("bool int double list"));
    EXPECT_EQ(kinds(arg("4.5")), QStringLiteral("bool double list"));
    EXPECT_EQ(kinds(arg("yes")), QStringLiteral("bool list"));
    EXPECT_EQ(kinds(arg("1e3")), QStringLiteral("bool double list"));
    EXPECT_EQ(kinds(arg("")), QStringLiteral("list map"));
    EXPECT_EQ(kinds(arg("a 1 b")), QStringLiteral("list"));
    EXPECT_EQ(arg("1e3")->toInt(), 0);
    EXPECT_EQ(arg("1e3")->toDouble(), 1000.0);
    EXPECT_TRUE(arg("yes")->toBool());
    EXPECT_EQ(arg("yes")->toDouble(), 0.0);
    EXPECT_EQ(arg(eval("expr {1 << 40}"))->toInt(), 0); // an integer only as a long
    EXPECT_TRUE(arg("")->toList().isEmpty() && arg("")->toMap().isEmpty());
    // A failed conversion leaves Tcl's message in the interpreter.
    Tcl_ResetResult(interp);
    EXPECT_EQ(arg("abc")->toInt(), 0);
    EXPECT_EQ(result(), QStringLiteral("expected integer but got \"abc\""));
    EXPECT_EQ(arg("x")->typeName(), QStringLiteral("(unknown)"));
    EXPECT_EQ(arg(eval("expr {1.5}"))->typeName(), QStringLiteral("double"));
    EXPECT_EQ(arg("grüße")->toString(), QString::fromUtf8("grüße"));

    EXPECT_TRUE(arg("1")->convertToArgument(ClassBuilder::argument("int")).isNull());
    EXPECT_EQ(warnings(), QStringList({"TclScriptArgument::convertToArgument() not implemented, yet"}));
}

TEST_F(SpecificTest, ListsMapsClassesAndObjects)
{
    // List elements share their values with the list.
    Tcl_Obj* list = eval("list a {b c} [expr {3}]");
    const QList<Arg> elements = arg(list)->toList();
    ASSERT_EQ(elements.size(), 3);
    for (int i = 0; i < 3; ++i) {
        Tcl_Obj* item = nullptr;
        Tcl_ListObjIndex(interp, list, i, &item);
        EXPECT_EQ(valueOf(elements[i]), item) << i;
    }
    EXPECT_TRUE(arg("{a")->toList().isEmpty());

    Tcl_Obj* pairs = eval("list b 2 a 1");
    EXPECT_TRUE(arg(pairs)->isMap());
    EXPECT_STREQ(typeOf(pairs), "list"); // asked of a copy
    const QMap<QString, Arg> map = arg(pairs)->toMap();
    EXPECT_EQ(map.keys(), QStringList({"a", "b"}));
    EXPECT_EQ(map["b"]->toInt(), 2);
    EXPECT_TRUE(arg("a b c")->toMap().isEmpty());

    EXPECT_EQ(arg("Button")->toClass(), cls("Button"));
    EXPECT_FALSE(arg("Nowhere")->isClass());

    // The text of a handle that was never converted: not yet an object, but it names one.
    SharedPtr<Object> push = makeObject("PushButton", "ok");
    push->setValue("text", Inspector::self()->createPrimitive("OK"));
    Tcl_Obj* handle = keep(newObjectHandle(push));
    Arg text = arg(Tcl_GetString(handle));
    EXPECT_FALSE(text->isObject());
    EXPECT_EQ(text->typeName(), QStringLiteral("PushButton"));
    EXPECT_TRUE(text->isObject());
    EXPECT_EQ(arg(Tcl_GetString(handle))->toObject(), push.get());
    EXPECT_EQ(arg(handle)->toString(), QStringLiteral("OK"));
    // Values of the wrong type read as no record, no context, no native object.
    EXPECT_EQ(text->toTestDataRecord(), nullptr);
    EXPECT_TRUE(text->toApplicationContext().isNull());
    EXPECT_FALSE(text->isNativeObject(&baseKey));
}

TEST_F(SpecificTest, ObjectMapEntriesAreEvaluatedForTheirText)
{
    ASSERT_EQ(Tcl_Eval(interp, "set calls 0; proc ::object_map_helper_object_3 {} { incr ::calls; return {type Button} }"),
              TCL_OK);
    Arg entry = arg("object_map_helper_object_3");
    EXPECT_TRUE(isObjectMapObject(interp, valueOf(entry)));
    EXPECT_EQ(entry->toString(), QStringLiteral("type Button"));
    EXPECT_STREQ(Tcl_GetVar(interp, "calls", 0), "3"); // once by the test above, twice by toString
    EXPECT_FALSE(isObjectMapObject(interp, untyped("object_map_helper_object_4")));
    EXPECT_EQ(arg("object_map_helper_object_4")->toString(), QStringLiteral("object_map_helper_object_4"));
    EXPECT_FALSE(isObjectMapObject(interp, keep(untyped("set calls"))));
    EXPECT_STREQ(Tcl_GetVar(interp, "calls", 0), "3");
}

TEST_F(SpecificTest, NativeObjectsByTypeAndSuperType)
{
    NativeTypesMap* types = nativeTypesMap(interp);
    ASSERT_NE(types, nullptr);
    auto base = new NativeTypeRecord;
    base->name = "Base";
    base->typeId = &baseKey;
    auto derived = new NativeTypeRecord;
    derived->name = "Derived";
    derived->typeId = &derivedKey;
    derived->superRecord = base;
    auto other = new NativeTypeRecord;
    other->name = "Other";
    other->typeId = &otherKey;
    types->insert(&baseKey, base);
    types->insert(&derivedKey, derived);
    types->insert(&otherKey, other);

    SharedPtr<NativeScriptObject> object(new Native(&derivedKey));
    // Values of native objects on their own: tclnativetypes_test.
    Arg a = arg(keep(newNativeObjectValue(object)));
    EXPECT_TRUE(a->isNativeObject(&derivedKey));
    EXPECT_TRUE(a->isNativeObject(&baseKey));
    EXPECT_FALSE(a->isNativeObject(&otherKey));
    EXPECT_EQ(a->toNativeObject(&baseKey).get(), object.get());
    EXPECT_TRUE(a->toNativeObject(&otherKey).isNull());
    SharedPtr<NativeScriptObject> unknown(new Native(&unregisteredKey));
    EXPECT_FALSE(arg(keep(newNativeObjectValue(unknown)))->isNativeObject(&baseKey));
}

TEST_F(SpecificTest, ContextFactories)
{
    TclScriptContext context(interp);
    QList<Arg> made; // every factory's argument comes with one reference, the caller's
    auto make = [&](const Arg& a) {
        EXPECT_EQ(a->refs(), 1);
        made << a;
        return valueOf(a);
    };
    auto str = [](Tcl_Obj* v) { return QString::fromUtf8(Tcl_GetString(v)); };

    EXPECT_EQ(str(make(context.createNullArgument())), QString());
    SourceLocation where;
    where.file = QString::fromUtf8("/suite/tst_ü/test.tcl");
    where.line = 12;
    Tcl_SetVar2Ex(interp, "loc", nullptr, make(context.createLocationArgument(where)), 0);
    EXPECT_EQ(str(eval("list [llength $loc] [lindex $loc 1]")), QStringLiteral("2 12"));
    EXPECT_EQ(str(eval("lindex $loc 0")), where.file);

    SharedPtr<TestDataSet> set(new TestDataSet("data.csv", ',', true));
    for (int i = 0; i < 3; ++i)
        set->appendRecord(new TestDataRecord(set.get()));
    {
        const QList<Arg> records = context.createRecordListArgument(set.get())->toList();
        EXPECT_EQ(set->refs(), 4);
        ASSERT_EQ(records.size(), 3);
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(records[i]->toTestDataRecord(), set->record(i));
    }
    EXPECT_EQ(set->refs(), 1);
    SharedPtr<TestDataSet> emptySet(new TestDataSet("empty.csv", ',', true));
    EXPECT_EQ(str(make(context.createRecordListArgument(emptySet.get()))), QString());

    SharedPtr<Object> button = makeObject("Button");
    EXPECT_EQ(objectFromValue(make(context.createObjectArgument(button))).get(), button.get());
    Tcl_Obj* noObject = make(context.createObjectArgument(SharedPtr<Object>()));
    EXPECT_EQ(noObject->typePtr, nullptr);
    EXPECT_EQ(str(noObject), QString());

    // Maps in key order and lists hold the entries' own values.
    QMap<QString, Arg> entries;
    entries.insert("b", context.createIntArgument(2));
    entries.insert("a", context.createStringArgument("x y"));
    Tcl_SetVar2Ex(interp, "m", nullptr, make(context.createMapArgument(entries)), 0);
    EXPECT_EQ(str(eval("dict keys $m")), QStringLiteral("a b"));
    EXPECT_EQ(eval("dict get $m a"), valueOf(entries["a"]));
    EXPECT_EQ(str(make(context.createListArgument({}))), QString());
    Tcl_SetVar2Ex(interp, "l", nullptr, make(context.createListArgument({entries["b"], entries["a"]})), 0);
    EXPECT_EQ(eval("lindex $l 1"), valueOf(entries["a"]));

    EXPECT_EQ(str(make(context.createStringArgument(QString::fromUtf8("grüße {")))), QString::fromUtf8("grüße {"));
    Tcl_Obj* d = make(context.createDoubleArgument(0.25));
    EXPECT_STREQ(typeOf(d), "double");
    EXPECT_EQ(str(d), QStringLiteral("0.25"));
    EXPECT_EQ(str(make(context.createWideIntArgument(-(Q_INT64_C(1) << 40)))), QStringLiteral("-1099511627776"));
    EXPECT_EQ(str(make(context.createIntArgument(-7))), QStringLiteral("-7"));
    Tcl_Obj* yes = make(context.createBoolArgument(true));
    EXPECT_STREQ(typeOf(yes), "int");
    EXPECT_EQ(str(yes), QStringLiteral("1"));
    EXPECT_EQ(str(make(context.createBoolArgument(false))), QStringLiteral("0"));
}

TEST_F(SpecificTest, DateTimeIsLocalTimeInSecondsSinceTheEpoch)
{
    const QByteArray oldTz = qgetenv("TZ");
    const bool hadTz = qEnvironmentVariableIsSet("TZ");
    TclScriptContext context(interp);
    auto seconds = [&](const char* zone, const QDateTime& when) {
        qputenv("TZ", zone);
        tzset();
        return QString::fromUtf8(Tcl_GetString(valueOf(context.createDateTimeArgument(when))));
    };
    EXPECT_EQ(seconds("UTC", QDateTime(QDate(1970, 1, 1), QTime(0, 0, 0, 999))), QStringLiteral("0"));
    EXPECT_EQ(seconds("UTC", QDateTime(QDate(2024, 2, 29), QTime(12, 30, 15))), QStringLiteral("1709209815"));
    EXPECT_EQ(seconds("Europe/Berlin", QDateTime(QDate(1970, 1, 1), QTime(1, 0))), QStringLiteral("0"));
    if (hadTz)
        qputenv("TZ", oldTz);
    else
        qunsetenv("TZ");
    tzset();
}

TEST_F(SpecificTest, ResultsAndContextOperations)
{
    TestResult testResult;
    TclScriptContext context(interp);
    context.setTestResult(&testResult);
    std::unique_ptr<ScriptContext> fresh(context.newContext());
    auto freshTcl = dynamic_cast<TclScriptContext*>(fresh.get());
    ASSERT_NE(freshTcl, nullptr);
    EXPECT_EQ(freshTcl->interp(), interp);
    EXPECT_EQ(fresh->testResult(), &testResult);
    EXPECT_EQ(freshTcl->resultValue(), nullptr);

    // The context holds one reference to its result while it is set.
    Arg first = context.createStringArgument("first");
    context.setResult(first);
    EXPECT_EQ(valueOf(first)->refCount, 2);
    EXPECT_TRUE(warnings().isEmpty());
    context.setResult(context.createStringArgument("second"));
    EXPECT_EQ(warnings(), QStringList({"TclScriptContext::setResult() overriding result"}));
    EXPECT_EQ(valueOf(first)->refCount, 1);
    EXPECT_STREQ(Tcl_GetString(context.resultValue()), "second");
    context.clearResult();
    EXPECT_EQ(context.resultValue(), nullptr);

    EXPECT_TRUE(context.isTrue(arg("yes")) && context.isTrue(arg("7")));
    EXPECT_FALSE(context.isTrue(arg("0")) || context.isTrue(arg("maybe")));

    QPair<QString, QString> outcome = context.evaluateExpectingError(arg("  \n error {went wrong}\t "));
    EXPECT_EQ(outcome, qMakePair(QStringLiteral("'error {went wrong}' caused an expected error. Message: 'went wrong'"),
                                 QString()));
    outcome = context.evaluateExpectingError(arg(" set x 1 "));
    EXPECT_EQ(outcome, qMakePair(QString(), QStringLiteral("'set x 1' didn't cause expected error")));

    warnings().clear();
    QString out;
    EXPECT_FALSE(context.evaluateExpression("1+1", &out, "x.tcl"));
    EXPECT_FALSE(context.sourceCode("x.tcl", "set a 1"));
    EXPECT_EQ(warnings(), QStringList({"TclScriptContext::evaluateExpression() not implemented, yet",
                                       "TclScriptContext::sourceCode() not implemented, yet"}));
}

TEST_F(SpecificTest, ObjectPropertiesGoIntoTheNamedArray)
{
    ClassBuilder("Gauge")
        .property("label", "string")
        .readOnlyProperty("level", "int", [](Object*) { return Inspector::self()->createInt(7); })
        .readOnlyProperty("broken", "int", [](Object*) { return SharedPtr<Object>(); });
    SharedPtr<Object> gauge = makeObject("Gauge");
    gauge->setValue("label", Inspector::self()->createPrimitive("fuel {tank}"));

    TclScriptContext context(interp);
    Tcl_Obj* name = keep(untyped("props"));
    context.setPropertyArrayName(name);
    context.setObjectPropertiesResult(gauge);
    EXPECT_STREQ(Tcl_GetString(eval("set props(label)")), "fuel {tank}");
    EXPECT_STREQ(Tcl_GetString(eval("set props(level)")), "7");
    EXPECT_STREQ(Tcl_GetString(eval("array size props")), "2");
    EXPECT_EQ(warnings(), QStringList({"Error reading broken property"}));

    warnings().clear();
    context.setResult(context.createNullArgument());
    context.setObjectPropertiesResult(gauge);
    EXPECT_EQ(warnings(), QStringList({"TclScript::setObjectPropertiesResult() overriding result",
                                       "Error reading broken property"}));
    context.clearResult();
}

TEST_F(SpecificTest, LineInfoFromTheDebuggersFrames)
{
    Debugger* debugger = Debugger::self();
    ASSERT_NE(debugger, nullptr);
    TclScriptContext context(interp);
    LineInfo info;
    EXPECT_FALSE(context.lineInfo(&info, 0)); // no frames yet

    debugger->setCode(1, "/suite/main.tcl");
    debugger->setCode(2, "/suite/shared/lib.tcl");
    debugger->setCurrentLine(5);
    debugger->setCurrentSourceId(1);
    DebuggerFrame inLib;
    inLib.line = 10;
    inLib.sourceId = 2;
    debugger->pushFrameAndSetCurrent(inLib);
    DebuggerFrame deeper;
    deeper.line = 20;
    deeper.column = 3;
    deeper.sourceId = 1;
    debugger->pushFrameAndSetCurrent(deeper);
    ASSERT_EQ(debugger->frameDepth(), 2);
    const LineInfoList stack = debugger->callStack();

    ASSERT_TRUE(context.lineInfo(&info, 0));
    EXPECT_EQ(info, LineInfo("/suite/main.tcl", 20));
    ASSERT_TRUE(context.lineInfo(&info, 1));
    EXPECT_EQ(info, LineInfo("/suite/shared/lib.tcl", 10));
    info = LineInfo("unchanged", 1);
    EXPECT_FALSE(context.lineInfo(&info, 2)); // the frame depth
    EXPECT_FALSE(context.lineInfo(&info, 0x80000000u));
    EXPECT_FALSE(context.lineInfo(&info, ~0u));
    EXPECT_EQ(info, LineInfo("unchanged", 1));
    // The frames are back as they were.
    EXPECT_EQ(debugger->frameDepth(), 2);
    EXPECT_EQ(debugger->callStack(), stack);
    EXPECT_EQ(debugger->currentFrame(), deeper);
}

TEST_F(SpecificTest, LineInfoWithoutDebuggerWarns)
{
    TclScriptContext context(interp);
    interpreter.reset(); // no interpreter, no debugger; the Tcl interpreter is gone too
    LineInfo info;
    EXPECT_FALSE(context.lineInfo(&info, 0));
    EXPECT_EQ(warnings(), QStringList({"TclScriptContext::lineInfo: Cannot generate line information without debugger"}));
}

namespace {

// Framework functions of each form, as commands forward to them.
int joinArguments(ScriptContext* context)
{
    QStringList parts;
    for (const Arg& a : context->arguments())
        parts << a->toString();
    context->setResult(context->createStringArgument(parts.join("+")));
    return 0;
}
int resultThenFail(ScriptContext* context)
{
    context->setResult(context->argument(0));
    context->setError(QStringLiteral("failed after all"), ScriptContext::PlainError);
    return 1;
}
int readIntegerOnly(ScriptContext* context)
{
    return context->argument(0)->toInt() * 0; // leaves Tcl's message when the word is no integer
}
bool refuse(ScriptContext*)
{
    return false;
}
SharedPtr<Object> findButton(ScriptContext* context)
{
    static SharedPtr<Object> button = makeObject("Button", "found");
    return context->argumentCount() ? button : SharedPtr<Object>();
}
// verify pass|fail|skip|error text
int verify(ScriptContext* context)
{
    const QString how = context->argument(0)->toString();
    const QString text = context->argument(1) ? context->argument(1)->toString() : QString();
    if (how == "pass")
        context->setResult(context->createIntArgument(context->argumentCount()));
    else
        context->setError(text, how == "fail"   ? ScriptContext::VerificationFailure
                                : how == "skip" ? ScriptContext::SkipError
                                                : ScriptContext::PlainError);
    return context->hasError() ? 1 : 0;
}

template <class F, F f> int forward(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    return runInContext(f, interp, objc, objv);
}

int forwardGlobal(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    return runInGlobalContext(interp, objc - 1, objv + 1, verify);
}

} // namespace

TEST_F(SpecificTest, CommandsForwardedThroughTheirOwnContext)
{
    Tcl_CreateObjCommand(interp, "joinArgs", forward<decltype(&joinArguments), joinArguments>, nullptr, nullptr);
    Tcl_CreateObjCommand(interp, "readInt", forward<decltype(&readIntegerOnly), readIntegerOnly>, nullptr, nullptr);
    Tcl_CreateObjCommand(interp, "refuse", forward<decltype(&refuse), refuse>, nullptr, nullptr);
    Tcl_CreateObjCommand(interp, "resultThenFail", forward<decltype(&resultThenFail), resultThenFail>, nullptr,
                         nullptr);
    Tcl_CreateObjCommand(interp, "findButton", forward<decltype(&findButton), findButton>, nullptr, nullptr);

    auto run = [&](const char* script) { return Tcl_EvalEx(interp, script, -1, 0); };
    ASSERT_EQ(run("joinArgs a {b c} [expr {1+2}]"), TCL_OK);
    EXPECT_EQ(result(), QStringLiteral("a+b c+3"));
    ASSERT_EQ(run("set r [joinArgs]; string length $r"), TCL_OK);
    EXPECT_EQ(result(), QStringLiteral("0"));

    // A function's own error text: waitForObject-1.4 of tclcommandslookup.test.
    EXPECT_EQ(run("refuse"), TCL_ERROR);
    EXPECT_EQ(result(), QStringLiteral("The operation failed without giving a reason"));

    // The words and a result left behind by a failing function are all released with the call.
    ASSERT_EQ(run("set word [string repeat x 3]; joinArgs $word"), TCL_OK);
    EXPECT_EQ(run("resultThenFail $word"), TCL_ERROR);
    EXPECT_EQ(result(), QStringLiteral("failed after all"));
    EXPECT_EQ(Tcl_GetVar2Ex(interp, "word", nullptr, 0)->refCount, 1);

    // No result set: the command answers with what the interpreter's result holds.
    ASSERT_EQ(run("readInt 5"), TCL_OK);
    EXPECT_EQ(result(), QString());
    ASSERT_EQ(run("readInt abc"), TCL_OK);
    EXPECT_EQ(result(), QStringLiteral("expected integer but got \"abc\""));

    ASSERT_EQ(run("set b [findButton please]"), TCL_OK);
    EXPECT_EQ(objectFromValue(Tcl_GetObjResult(interp))->name(), QStringLiteral("found"));
    ASSERT_EQ(run("findButton"), TCL_OK);
    EXPECT_EQ(result(), QString());
}

TEST_F(SpecificTest, CommandsForwardedThroughTheGlobalContext)
{
    ScriptContext* global = ScriptContext::current();
    ASSERT_NE(dynamic_cast<TclScriptContext*>(global), nullptr);
    Tcl_CreateObjCommand(interp, "tst", forwardGlobal, nullptr, nullptr);
    auto run = [&](const char* script) { return Tcl_EvalEx(interp, script, -1, 0); };

    ASSERT_EQ(run("tst pass a b"), TCL_OK);
    EXPECT_EQ(result(), QStringLiteral("3"));

    // The prefixes of failed verifications and skips: test-3.1 of tclcommandsresult.test.
    EXPECT_EQ(run("tst error plain"), TCL_ERROR);
    EXPECT_EQ(result(), QStringLiteral("plain"));
    EXPECT_STREQ(Tcl_GetVar(interp, "errorCode", TCL_GLOBAL_ONLY), "plain");

    // The error type of an earlier failure does not stick to the next one.
    EXPECT_EQ(run("tst fail first"), TCL_ERROR);
    EXPECT_EQ(run("tst error second"), TCL_ERROR);
    EXPECT_EQ(result(), QStringLiteral("second"));
}
