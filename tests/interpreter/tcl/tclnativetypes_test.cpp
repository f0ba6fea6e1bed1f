// Native script types seen from C++: reference counts of native objects through Tcl values and
// method calls, the registry and command data released with the interpreter, and re-registration.
#include "bridgetestsupport.h"

#include "nativeapi.h"
#include "scriptcontext.h"
#include "tclhandles.h"
#include "tclnativetypes.h"

#include <memory>

using namespace bridgetest;

namespace
{

const char baseId = 0, derivedId = 0;

struct Counted : NativeScriptObject {
    bool* destroyed;
    explicit Counted(bool* flag) : destroyed(flag) { *flag = false; }
    ~Counted() override { *destroyed = true; }
    const void* typeId() const override { return &baseId; }
};

class NativeTypesTest : public BridgeTest
{
protected:
    int run(const char* script) { return Tcl_EvalEx(interp, script, -1, 0); }
};

} // namespace

TEST_F(NativeTypesTest, ValuesHoldOneReferenceEachAndTheLastOneDeletesTheObject)
{
    bool destroyed = false;
    SharedPtr<NativeScriptObject> object(new Counted(&destroyed));
    Tcl_Obj* value = newNativeObjectValue(object);
    Tcl_IncrRefCount(value);
    EXPECT_EQ(object->refs(), 2);
    EXPECT_STREQ(Tcl_GetString(value), "ScriptNativeObject");

    Tcl_Obj* copy = Tcl_DuplicateObj(value);
    Tcl_IncrRefCount(copy);
    EXPECT_EQ(copy->typePtr, &scriptNativeObjectType);
    EXPECT_EQ(nativeObjectFromValue(copy).get(), object.get());
    EXPECT_EQ(object->refs(), 3);

    // A value that changes its type gives its reference back.
    int length = 0;
    ASSERT_EQ(Tcl_ListObjLength(interp, copy, &length), TCL_OK);
    EXPECT_EQ(object->refs(), 2);
    Tcl_DecrRefCount(copy);

    // Text never converts back into a native object.
    Tcl_Obj* text = Tcl_NewStringObj("ScriptNativeObject", -1);
    EXPECT_EQ(Tcl_ConvertToType(interp, text, &scriptNativeObjectType), TCL_ERROR);
    EXPECT_TRUE(nativeObjectFromValue(text).isNull());
    Tcl_DecrRefCount(text);

    object.reset();
    EXPECT_FALSE(destroyed);
    Tcl_DecrRefCount(value);
    EXPECT_TRUE(destroyed);
}

TEST_F(NativeTypesTest, AMethodKeepsItsObjectAliveWhenTheScriptDropsIt)
{
    bool destroyed = false;
    bool aliveInside = false;
    NativeScriptType type;
    type.methods[QStringLiteral("drop")].function = [&](ScriptContext* context) {
        // The only script value goes away while the method runs.
        Tcl_UnsetVar(interp, "o", 0);
        aliveInside = !destroyed && context->thisObject();
        return true;
    };
    ASSERT_TRUE(interpreter->registerNativeType(QStringLiteral("Counted"), &baseId, type));
    Tcl_Obj* value = newNativeObjectValue(SharedPtr<NativeScriptObject>(new Counted(&destroyed)));
    Tcl_SetVar2Ex(interp, "o", nullptr, value, 0);
    ASSERT_EQ(run("invoke [set o] drop"), TCL_OK) << result().toStdString();
    EXPECT_TRUE(aliveInside);
    EXPECT_TRUE(destroyed);
}

TEST_F(NativeTypesTest, RegistryAndCommandDataAreReleasedWithTheInterpreter)
{
    auto sentinel = std::make_shared<int>(0);
    NativeFunction holds = [sentinel](ScriptContext*) { return true; };
    NativeScriptType type;
    type.methods[QStringLiteral("m")] = {holds, {}, {}};
    NativeScriptNamespace ns;
    ns.functions[QStringLiteral("f")] = {holds, {}, {}};
    ASSERT_TRUE(interpreter->registerNativeType(QStringLiteral("Held"), &baseId, type));
    ASSERT_TRUE(interpreter->registerNativeNamespace(QStringLiteral("Held"), ns));
    ASSERT_TRUE(
        interpreter->registerNativeFunction(QStringLiteral("heldFunction"), holds, {}, {}, QString()));
    type = NativeScriptType();
    ns = NativeScriptNamespace();
    // Ours and the local function's, then the type record's, the namespace command's and the function
    // command's copies.
    EXPECT_EQ(sentinel.use_count(), 5);

    // Replacing a function's command frees its record.
    ASSERT_TRUE(interpreter->registerNativeFunction(QStringLiteral("heldFunction"), NativeFunction(), {}, {},
                                                    QString()));
    EXPECT_EQ(sentinel.use_count(), 4);

    interpreter.reset();
    EXPECT_EQ(sentinel.use_count(), 2);
}

TEST_F(NativeTypesTest, RegistrationRulesForNamesBasesAndRepeats)
{
    NativeTypesMap* types = nativeTypesMap(interp);
    ASSERT_TRUE(types);
    EXPECT_FALSE(interpreter->registerNativeType(QString(), &baseId, NativeScriptType()));
    EXPECT_FALSE(interpreter->registerNativeNamespace(QString(), NativeScriptNamespace()));
    EXPECT_FALSE(interpreter->registerNativeFunction(QString(), NativeFunction(), {}, {}, QString()));
    EXPECT_TRUE(types->isEmpty());

    // A base registered after the derived type is not found: the link is resolved at registration.
    NativeScriptType derived;
    derived.super = &baseId;
    ASSERT_TRUE(interpreter->registerNativeType(QStringLiteral("Derived"), &derivedId, derived));
    EXPECT_EQ(types->value(&derivedId)->superRecord, nullptr);
    EXPECT_TRUE(warnings().join('\n').contains(QStringLiteral("base type is not registered")));

    ASSERT_TRUE(interpreter->registerNativeType(QStringLiteral("Base"), &baseId, NativeScriptType()));
    NativeTypeRecord* record = types->value(&derivedId);
    ASSERT_TRUE(interpreter->registerNativeType(QStringLiteral("Renamed"), &derivedId, derived));
    EXPECT_EQ(types->value(&derivedId), record) << "updated in place";
    EXPECT_EQ(record->name, QStringLiteral("renamed"));
    EXPECT_EQ(record->superRecord, types->value(&baseId));
    EXPECT_EQ(types->size(), 2);

    // A base that leads back to the type itself is refused, so no lookup can loop.
    NativeScriptType cyclic;
    cyclic.super = &derivedId;
    warnings().clear();
    ASSERT_TRUE(interpreter->registerNativeType(QStringLiteral("Base"), &baseId, cyclic));
    EXPECT_EQ(types->value(&baseId)->superRecord, nullptr);
    EXPECT_TRUE(warnings().join('\n').contains(QStringLiteral("derives from this type")));
    bool destroyed = false;
    Tcl_Obj* value = newNativeObjectValue(SharedPtr<NativeScriptObject>(new Counted(&destroyed)));
    Tcl_SetVar2Ex(interp, "o", nullptr, value, 0);
    ASSERT_EQ(run("list [renamed isinstance $o] [base isinstance $o] [property list $o]"), TCL_OK);
    EXPECT_EQ(result(), QStringLiteral("0 1 {}"));
    ASSERT_EQ(run("unset o"), TCL_OK);
    EXPECT_TRUE(destroyed);
}

TEST_F(NativeTypesTest, AFunctionMayReplaceItsOwnCommandWhileItRuns)
{
    auto text = std::make_shared<QString>(QStringLiteral("still here"));
    NativeFunction replaceMe = [this, text](ScriptContext* context) {
        interpreter->registerNativeFunction(QStringLiteral("replaceMe"), NativeFunction(), {}, {}, QString());
        // The record that held this function is gone now; its captures must still be readable.
        context->setResult(context->createStringArgument(*text));
        return true;
    };
    ASSERT_TRUE(
        interpreter->registerNativeFunction(QStringLiteral("replaceMe"), replaceMe, {}, {}, QString()));
    replaceMe = NativeFunction();
    ASSERT_EQ(run("replaceMe"), TCL_OK) << result().toStdString();
    EXPECT_EQ(result(), QStringLiteral("still here"));
    EXPECT_EQ(run("replaceMe"), TCL_ERROR);
    EXPECT_EQ(result(), QStringLiteral("The operation failed without giving a reason"));
}
