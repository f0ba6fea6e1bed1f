// Script arguments and script contexts: the kind tests and conversions of one Tcl value, every
// factory of a context, line information from the debugger's frames, and commands forwarded to
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

struct NamedContext : ApplicationContext {
    QString name() const override { return QStringLiteral("addressbook"); }
};

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

TEST_F(SpecificTest, KindTestsOfNumbersWordsAndEmptyValues)
{
    Arg n = arg("42");
    EXPECT_TRUE(n->isBool());
    EXPECT_TRUE(n->isInteger());
    EXPECT_TRUE(n->isDouble());
    EXPECT_TRUE(n->isString());
    EXPECT_FALSE(n->isObject());
    EXPECT_EQ(n->toInt(), 42);
    EXPECT_TRUE(n->toBool());

    Arg half = arg("4.5");
    EXPECT_TRUE(half->isDouble());
    EXPECT_FALSE(half->isInteger());
    EXPECT_EQ(half->toDouble(), 4.5);

    Arg yes = arg("yes");
    EXPECT_TRUE(yes->isBool());
    EXPECT_TRUE(yes->isString());
    EXPECT_FALSE(yes->isInteger());
    EXPECT_FALSE(yes->isDouble());
    EXPECT_TRUE(yes->toBool());
    EXPECT_EQ(yes->toInt(), 0);
    EXPECT_EQ(yes->toDouble(), 0.0);

    Arg thousand = arg("1e3");
    EXPECT_TRUE(thousand->isDouble());
    EXPECT_FALSE(thousand->isInteger());
    EXPECT_EQ(thousand->toInt(), 0);
    EXPECT_EQ(thousand->toDouble(), 1000.0);

    Arg big = arg(eval("expr {1 << 40}"));
    EXPECT_TRUE(big->isInteger()); // read as a long
    EXPECT_EQ(big->toInt(), 0);    // truncated from the long

    Arg empty = arg("");
    EXPECT_TRUE(empty->isList());
    EXPECT_TRUE(empty->isMap());
    EXPECT_TRUE(empty->toList().isEmpty());
    EXPECT_TRUE(empty->toMap().isEmpty());
    EXPECT_FALSE(empty->isBool());
    EXPECT_FALSE(empty->isInteger());
    EXPECT_EQ(empty->toString(), QString());
    EXPECT_FALSE(empty->isDateTime());
    EXPECT_FALSE(empty->toDateTime().isValid());

    // A failed conversion leaves Tcl's message in the interpreter.
    Tcl_ResetResult(interp);
    EXPECT_EQ(arg("abc")->toInt(), 0);
    EXPECT_EQ(result(), QStringLiteral("expected integer but got \"abc\""));
    EXPECT_FALSE(arg("abc")->toBool());

    EXPECT_EQ(arg("x")->typeName(), QStringLiteral("(unknown)"));
    EXPECT_EQ(arg(eval("expr {1.5}"))->typeName(), QStringLiteral("double"));
    EXPECT_EQ(arg(QString::fromUtf8("grüße").toUtf8().constData())->toString(), QString::fromUtf8("grüße"));
}

TEST_F(SpecificTest, ListsMapsClassesAndObjects)
{
    Tcl_Obj* list = eval("list a {b c} [expr {3}]");
    Arg l = arg(list);
    const QList<Arg> elements = l->toList();
    ASSERT_EQ(elements.size(), 3);
    Tcl_Obj** items = nullptr;
    int count = 0;
    ASSERT_EQ(Tcl_ListObjGetElements(interp, list, &count, &items), TCL_OK);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(valueOf(elements[i]), items[i]) << "shares the element value " << i;
    EXPECT_EQ(elements[1]->toString(), QStringLiteral("b c"));
    EXPECT_FALSE(arg("{a")->isList());
    EXPECT_TRUE(arg("{a")->toList().isEmpty());

    Tcl_Obj* keysOutOfOrder = eval("list b 2 a 1");
    Arg m = arg(keysOutOfOrder);
    EXPECT_TRUE(m->isMap());
    EXPECT_STREQ(typeOf(keysOutOfOrder), "list"); // asked of a copy
    const QMap<QString, Arg> map = m->toMap();
    EXPECT_EQ(map.keys(), QStringList({"a", "b"}));
    EXPECT_EQ(map["b"]->toInt(), 2);
    EXPECT_FALSE(arg("a b c")->isMap());
    EXPECT_TRUE(arg("a b c")->toMap().isEmpty());

    EXPECT_TRUE(arg("Button")->isClass());
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
    Arg text2 = arg(Tcl_GetString(handle));
    EXPECT_EQ(text2->toObject(), push.get());
    EXPECT_EQ(arg(handle)->toString(), QStringLiteral("OK"));
    EXPECT_EQ(arg("Object:0x41414141")->toObject(), nullptr);

    // Values of the wrong type read as no record, no context, no native object.
    EXPECT_EQ(text->toTestDataRecord(), nullptr);
    EXPECT_TRUE(text->toApplicationContext().isNull());
    EXPECT_FALSE(text->isNativeObject(&baseKey));

    EXPECT_TRUE(arg("1")->convertToArgument(ClassBuilder::argument("int")).isNull());
    EXPECT_EQ(warnings(), QStringList({"TclScriptArgument::convertToArgument() not implemented, yet"}));
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
    Tcl_Obj* value = keep(newNativeObjectValue(object));
    EXPECT_EQ(object->refs(), 2);
    EXPECT_STREQ(Tcl_GetString(value), "ScriptNativeObject");
    Arg a = arg(value);
    EXPECT_TRUE(a->isNativeObject(&derivedKey));
    EXPECT_TRUE(a->isNativeObject(&baseKey));
    EXPECT_FALSE(a->isNativeObject(&otherKey));
    EXPECT_EQ(a->toNativeObject(&baseKey).get(), object.get());
    EXPECT_TRUE(a->toNativeObject(&otherKey).isNull());
    EXPECT_FALSE(arg("ScriptNativeObject")->isNativeObject(&baseKey));
    EXPECT_EQ(Tcl_ConvertToType(interp, keep(untyped("ScriptNativeObject")), &scriptNativeObjectType), TCL_ERROR);
    SharedPtr<NativeScriptObject> unknown(new Native(&unregisteredKey));
    EXPECT_FALSE(arg(keep(newNativeObjectValue(unknown)))->isNativeObject(&baseKey));
}

TEST_F(SpecificTest, ContextFactories)
{
    TclScriptContext context(interp);
    auto single = [](const Arg& a) { return a->refs() == 1; };

    Arg null = context.createNullArgument();
    EXPECT_TRUE(single(null));
    EXPECT_EQ(textOf(null), QString());

    SourceLocation where;
    where.file = QString::fromUtf8("/suite/tst_ü/test.tcl");
    where.line = 12;
    Arg location = context.createLocationArgument(where);
    Tcl_SetVar2Ex(interp, "loc", nullptr, valueOf(location), 0);
    EXPECT_EQ(QString::fromUtf8(Tcl_GetString(eval("lindex $loc 0"))), where.file);
    EXPECT_STREQ(Tcl_GetString(eval("lindex $loc 1")), "12");
    EXPECT_STREQ(Tcl_GetString(eval("llength $loc")), "2");

    SharedPtr<ApplicationContext> app(new NamedContext);
    Arg appArg = context.createApplicationContextArgument(app);
    EXPECT_STREQ(typeOf(valueOf(appArg)), "ApplicationContext");
    EXPECT_EQ(textOf(appArg), QStringLiteral("addressbook"));
    EXPECT_EQ(appArg->toApplicationContext().get(), app.get());

    SharedPtr<TestDataSet> set(new TestDataSet("data.csv", ',', true));
    for (int i = 0; i < 3; ++i)
        set->appendRecord(new TestDataRecord(set.get()));
    {
        Arg records = context.createRecordListArgument(set.get());
        EXPECT_EQ(set->refs(), 4);
        const QList<Arg> list = records->toList();
        ASSERT_EQ(list.size(), 3);
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(list[i]->toTestDataRecord(), set->record(i));
    }
    EXPECT_EQ(set->refs(), 1);
    SharedPtr<TestDataSet> emptySet(new TestDataSet("empty.csv", ',', true));
    EXPECT_EQ(textOf(context.createRecordListArgument(emptySet.get())), QString());

    SharedPtr<Object> button = makeObject("Button");
    Arg object = context.createObjectArgument(button);
    EXPECT_STREQ(typeOf(valueOf(object)), "TestObject");
    EXPECT_EQ(object->toObject(), button.get());
    Arg noObject = context.createObjectArgument(SharedPtr<Object>());
    EXPECT_EQ(valueOf(noObject)->typePtr, nullptr);
    EXPECT_EQ(textOf(noObject), QString());

    SharedPtr<NativeScriptObject> native(new Native(&baseKey));
    Arg nativeArg = context.createNativeObjectArgument(native);
    EXPECT_STREQ(typeOf(valueOf(nativeArg)), "ScriptNativeObject");
    EXPECT_EQ(native->refs(), 2);

    QMap<QString, Arg> entries;
    entries.insert("b", context.createIntArgument(2));
    entries.insert("a", context.createStringArgument("x y"));
    Arg map = context.createMapArgument(entries);
    Tcl_SetVar2Ex(interp, "m", nullptr, valueOf(map), 0);
    EXPECT_STREQ(Tcl_GetString(eval("lindex [dict keys $m] 0")), "a");
    EXPECT_EQ(valueOf(map->toMap()["a"]), valueOf(entries["a"])); // the entries' own values
    EXPECT_EQ(textOf(context.createListArgument({})), QString());
    Arg list = context.createListArgument({entries["b"], object, null});
    EXPECT_EQ(list->toList().size(), 3);
    EXPECT_EQ(valueOf(list->toList()[1]), valueOf(object));

    Arg text = context.createStringArgument(QString::fromUtf8("grüße {"));
    EXPECT_EQ(QByteArray(Tcl_GetString(valueOf(text))), QString::fromUtf8("grüße {").toUtf8());
    Arg d = context.createDoubleArgument(0.25);
    EXPECT_STREQ(typeOf(valueOf(d)), "double");
    EXPECT_STREQ(Tcl_GetString(valueOf(d)), "0.25");
    EXPECT_STREQ(Tcl_GetString(valueOf(context.createWideIntArgument(-(Q_INT64_C(1) << 40)))), "-1099511627776");
    EXPECT_STREQ(Tcl_GetString(valueOf(context.createIntArgument(-7))), "-7");
    Arg yes = context.createBoolArgument(true);
    EXPECT_STREQ(typeOf(valueOf(yes)), "int");
    EXPECT_STREQ(Tcl_GetString(valueOf(yes)), "1");
    EXPECT_STREQ(Tcl_GetString(valueOf(context.createBoolArgument(false))), "0");
    for (const Arg* a : {&null, &location, &appArg, &object, &nativeArg, &map, &list, &text, &d, &yes})
        EXPECT_TRUE(single(*a));
}

TEST_F(SpecificTest, DateTimeIsLocalTimeInSecondsSinceTheEpoch)
{
    const QByteArray oldTz = qgetenv("TZ");
    const bool hadTz = qEnvironmentVariableIsSet("TZ");
    qputenv("TZ", "UTC");
    tzset();
    TclScriptContext context(interp);
    EXPECT_STREQ(Tcl_GetString(static_cast<TclScriptArgument*>(
                     context.createDateTimeArgument(QDateTime(QDate(1970, 1, 1), QTime(0, 0, 0, 999))).get())
                                   ->value()),
                 "0");
    EXPECT_STREQ(Tcl_GetString(static_cast<TclScriptArgument*>(
                     context.createDateTimeArgument(QDateTime(QDate(2024, 2, 29), QTime(12, 30, 15))).get())
                                   ->value()),
                 "1709209815");
    qputenv("TZ", "Europe/Berlin");
    tzset();
    EXPECT_STREQ(Tcl_GetString(static_cast<TclScriptArgument*>(
                     context.createDateTimeArgument(QDateTime(QDate(1970, 1, 1), QTime(1, 0))).get())
                                   ->value()),
                 "0");
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
    Tcl_Obj* firstValue = valueOf(first);
    context.setResult(first);
    EXPECT_EQ(context.resultValue(), firstValue);
    EXPECT_EQ(firstValue->refCount, 2);
    EXPECT_TRUE(warnings().isEmpty());
    context.setResult(context.createStringArgument("second"));
    EXPECT_EQ(warnings(), QStringList({"TclScriptContext::setResult() overriding result"}));
    EXPECT_EQ(firstValue->refCount, 1);
    EXPECT_STREQ(Tcl_GetString(context.resultValue()), "second");
    context.clearResult();
    EXPECT_EQ(context.resultValue(), nullptr);

    EXPECT_TRUE(context.isTrue(arg("yes")));
    EXPECT_TRUE(context.isTrue(arg("7")));
    EXPECT_FALSE(context.isTrue(arg("0")));
    EXPECT_FALSE(context.isTrue(arg("maybe")));

    QPair<QString, QString> outcome = context.evaluateExpectingError(arg("  \n error {went wrong}\t "));
    EXPECT_EQ(outcome.first, QStringLiteral("'error {went wrong}' caused an expected error. Message: 'went wrong'"));
    EXPECT_EQ(outcome.second, QString());
    outcome = context.evaluateExpectingError(arg(" set x 1 "));
    EXPECT_EQ(outcome.first, QString());
    EXPECT_EQ(outcome.second, QStringLiteral("'set x 1' didn't cause expected error"));

    EXPECT_TRUE(context.compareArguments(arg("true"), arg(eval("expr {1}"))));
    EXPECT_FALSE(context.compareArguments(arg("a"), arg("b")));

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

int failWithText(ScriptContext* context)
{
    context->setError(QStringLiteral("Nothing to do with '%1'").arg(context->argument(0)->toString()),
                      ScriptContext::PlainError);
    return 1;
}

int readIntegerOnly(ScriptContext* context)
{
    context->argument(0)->toInt(); // leaves Tcl's message when the word is no integer
    return 0;
}

int resultThenFail(ScriptContext* context)
{
    context->setResult(context->argument(0));
    context->setError(QStringLiteral("failed after all"), ScriptContext::PlainError);
    return 1;
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

int raiseLater(ScriptContext* context)
{
    Interpreter::self()->setPendingError("raised while the function ran");
    return 0;
}

int verify(ScriptContext* context)
{
    const QString how = context->argument(0)->toString();
    const QString text = context->argument(1) ? context->argument(1)->toString() : QString();
    if (how == "fail")
        context->setError(text, ScriptContext::VerificationFailure);
    else if (how == "skip")
        context->setError(text, ScriptContext::SkipError);
    else if (how == "error")
        context->setError(text, ScriptContext::PlainError);
    else
        context->setResult(context->createIntArgument(context->argumentCount()));
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

TEST_F(SpecificTest, SetTclArgumentsWrapsEachValue)
{
    TclScriptContext context(interp);
    Tcl_Obj* words[] = {keep(untyped("a")), keep(untyped("b c"))};
    setTclArguments(&context, 2, words);
    ASSERT_EQ(context.argumentCount(), 2);
    EXPECT_EQ(valueOf(context.argument(1)), words[1]);
    EXPECT_EQ(words[1]->refCount, 2);
    setTclArguments(&context, 0, words);
    EXPECT_EQ(context.argumentCount(), 0);
    EXPECT_EQ(words[1]->refCount, 1);
    setTclArguments(&context, -1, words);
    EXPECT_EQ(context.argumentCount(), 0);
}

TEST_F(SpecificTest, CommandsForwardedThroughTheirOwnContext)
{
    Tcl_CreateObjCommand(interp, "joinArgs", forward<decltype(&joinArguments), joinArguments>, nullptr, nullptr);
    Tcl_CreateObjCommand(interp, "failWith", forward<decltype(&failWithText), failWithText>, nullptr, nullptr);
    Tcl_CreateObjCommand(interp, "readInt", forward<decltype(&readIntegerOnly), readIntegerOnly>, nullptr, nullptr);
    Tcl_CreateObjCommand(interp, "refuse", forward<decltype(&refuse), refuse>, nullptr, nullptr);
    Tcl_CreateObjCommand(interp, "resultThenFail", forward<decltype(&resultThenFail), resultThenFail>, nullptr,
                         nullptr);
    Tcl_CreateObjCommand(interp, "findButton", forward<decltype(&findButton), findButton>, nullptr, nullptr);
    Tcl_CreateObjCommand(interp, "raiseLater", forward<decltype(&raiseLater), raiseLater>, nullptr, nullptr);

    auto run = [&](const char* script) { return Tcl_EvalEx(interp, script, -1, 0); };
    ASSERT_EQ(run("joinArgs a {b c} [expr {1+2}]"), TCL_OK);
    EXPECT_EQ(result(), QStringLiteral("a+b c+3"));
    ASSERT_EQ(run("set r [joinArgs]; string length $r"), TCL_OK);
    EXPECT_EQ(result(), QStringLiteral("0"));

    EXPECT_EQ(run("failWith x"), TCL_ERROR);
    EXPECT_EQ(result(), QStringLiteral("Nothing to do with 'x'"));
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

    EXPECT_EQ(run("raiseLater"), TCL_ERROR);
    EXPECT_EQ(result(), QStringLiteral("raised while the function ran"));
    ASSERT_EQ(run("joinArgs ok"), TCL_OK); // delivered once only
}

TEST_F(SpecificTest, CommandsForwardedThroughTheGlobalContext)
{
    ScriptContext* global = ScriptContext::current();
    ASSERT_NE(dynamic_cast<TclScriptContext*>(global), nullptr);
    Tcl_CreateObjCommand(interp, "tst", forwardGlobal, nullptr, nullptr);
    auto run = [&](const char* script) { return Tcl_EvalEx(interp, script, -1, 0); };

    ASSERT_EQ(run("tst pass a b"), TCL_OK);
    EXPECT_EQ(result(), QStringLiteral("3"));

    EXPECT_EQ(run("tst fail {'1' and '2' are not equal}"), TCL_ERROR);
    EXPECT_EQ(result(), QStringLiteral("VerificationFailure: '1' and '2' are not equal"));
    EXPECT_STREQ(Tcl_GetVar(interp, "errorCode", TCL_GLOBAL_ONLY), "{'1' and '2' are not equal}");
    ASSERT_EQ(run("catch {tst fail {bad value}} message options; list $message [dict get $options -errorcode]"),
              TCL_OK);
    EXPECT_EQ(result(), QStringLiteral("{VerificationFailure: bad value} {{bad value}}"));

    EXPECT_EQ(run("tst skip {not on this platform}"), TCL_ERROR);
    EXPECT_EQ(result(), QStringLiteral("Skipped: not on this platform"));
    EXPECT_STREQ(Tcl_GetVar(interp, "errorCode", TCL_GLOBAL_ONLY), "{not on this platform}");

    EXPECT_EQ(run("tst error plain"), TCL_ERROR);
    EXPECT_EQ(result(), QStringLiteral("plain"));
    EXPECT_STREQ(Tcl_GetVar(interp, "errorCode", TCL_GLOBAL_ONLY), "plain");

    // The error type of an earlier failure does not stick to the next one.
    EXPECT_EQ(run("tst fail first"), TCL_ERROR);
    EXPECT_EQ(run("tst error second"), TCL_ERROR);
    EXPECT_EQ(result(), QStringLiteral("second"));
}
