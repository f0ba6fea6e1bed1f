// Typed conversion: scoring Tcl words against declared arguments, choosing among overloads (with the
// exact no-match and ambiguity messages), converting the words, native results back to Tcl, and
// comparing two values.
#include "bridgetestsupport.h"

#include "tclconversion.h"
#include "tclhandles.h"

using namespace bridgetest;

namespace {

// Painter's overloads exercise the scoring rules and the tie-break; FancyCanvas inherits from Canvas.
void declarePainter()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    auto nothing = [](Object*, const ObjectList&) { return Inspector::self()->createVoid(); };
    ClassBuilder("Painter")
        .method("fill", {"int"}, nothing)
        .method("fill", {"double"}, nothing)
        .method("show", {"string"}, nothing)
        .method("show", {"Array"}, nothing)
        .method("attach", {"Widget*"}, nothing)
        .method("attach", {"Button*"}, nothing)
        .method("mark", {"int"}, nothing)
        .method("mark", {"int*"}, nothing)
        .method("pin", {"int"}, nothing)
        .method("pin", {"int&"}, nothing)
        .method("hold", {"Color*"}, nothing)
        .method("hold", {"Color"}, nothing)
        .method("twice", {"int"}, nothing)
        .method("twice", {"int"}, nothing)
        .method("reset", {"int"}, nothing)
        .method("reset", {}, nothing)
        .method("tint", {"Color"}, nothing)
        .method("tint", {"Widget*"}, nothing);
    ClassBuilder("Canvas").method("paint", {"int"}, nothing).method("blend", {"int"}, nothing);
    ClassBuilder("FancyCanvas").base("Canvas").method("paint", {"int"}, nothing).method("blend", {"double"}, nothing);
}

class ConversionTest : public BridgeTest {
protected:
    void SetUp() override
    {
        BridgeTest::SetUp();
        declarePainter();
    }

    int score(Tcl_Obj* value, const char* type) { return scoreArgument(interp, value, ClassBuilder::argument(type)); }

    // Chooses among the methods of that name of the class; the message or "" in *message.
    int choose(const char* className, const char* method, const QList<Tcl_Obj*>& words, QString* message = nullptr,
               ObjectList* out = nullptr)
    {
        const Class* lookup = cls(className);
        QList<Signature> candidates;
        QList<const Class*> declaring;
        for (const Method* m : lookup->methods(QString::fromLatin1(method))) {
            candidates << m->signature();
            declaring << m->declaringClass();
        }
        ObjectList scratch;
        Tcl_ResetResult(interp);
        const int chosen = chooseOverload(interp, words.size(), lookup, candidates, declaring, words.toVector().data(),
                                          QString::fromLatin1(method), out ? out : &scratch);
        if (message)
            *message = chosen < 0 ? result() : QString();
        return chosen;
    }

    Tcl_Obj* handle(const SharedPtr<Object>& object) { return keep(newObjectHandle(object)); }
    Tcl_Obj* word(const char* text) { return keep(untyped(text)); }
};

} // namespace

TEST_F(ConversionTest, ScoresOfUntypedWords)
{
    EXPECT_EQ(score(word("5"), "int"), 100);
    EXPECT_EQ(score(word("5"), "double"), 99); // no fractional part
    EXPECT_EQ(score(word("5.5"), "double"), 100);
    EXPECT_EQ(score(word("5.5"), "int"), 0);
    EXPECT_EQ(score(word("5"), "bool"), 100);
    EXPECT_EQ(score(word("maybe"), "bool"), 0);
    EXPECT_EQ(score(word("anything"), "string"), 100);
    EXPECT_EQ(score(word("5"), "short"), 99); // through the string class's conversion
    EXPECT_EQ(score(word("5"), "int64"), 99);
    EXPECT_EQ(score(word("red"), "Color"), 99);
    EXPECT_EQ(score(word("red"), "Widget*"), 0);
    EXPECT_EQ(score(word("7"), "Widget*|int"), 99);
    EXPECT_EQ(score(word("seven"), "Widget*|int"), 0);
    EXPECT_EQ(score(word("a {b c}"), "Array"), 100);
    EXPECT_EQ(score(word("a {b"), "Array"), 0);
    EXPECT_EQ(score(word("a b"), "string[]"), 0); // a sequence needs a list value

    // Object handles, as values and as text: the nearest base scores best, unrelated classes nothing.
    SharedPtr<Object> push = makeObject("PushButton");
    Tcl_Obj* h = handle(push);
    EXPECT_EQ(score(h, "PushButton*"), 100);
    EXPECT_EQ(score(h, "Button*"), 99);
    EXPECT_EQ(score(h, "Widget*"), 98);
    EXPECT_EQ(score(h, "Other*"), 0);
    EXPECT_EQ(score(h, "Color"), 0);
    Tcl_Obj* asText = keep(untyped(Tcl_GetString(h)));
    EXPECT_EQ(score(asText, "Widget*"), 98);
    EXPECT_EQ(score(keep(untyped("Object:0x41414141")), "Widget*"), 0);
}

TEST_F(ConversionTest, ScoresOfTypedValues)
{
    Tcl_Obj* five = eval("expr {5}");
    EXPECT_EQ(score(five, "int"), 100);
    for (const char* type : {"short", "long", "int64", "double", "Color|int"})
        EXPECT_EQ(score(five, type), 99) << type;
    EXPECT_EQ(score(five, "bool"), 50);   // an int object the bool class converts
    EXPECT_EQ(score(five, "string"), 50); // likewise the string class
    EXPECT_EQ(score(five, "Widget*"), 0);

    EXPECT_EQ(score(eval("expr {5.0}"), "int"), 100);
    EXPECT_EQ(score(eval("expr {5.5}"), "int"), 0);
    EXPECT_EQ(score(eval("expr {5.5}"), "string"), 99);
    EXPECT_EQ(score(eval("expr {5.5}"), "double"), 100); // the class is named like the Tcl type
    EXPECT_EQ(score(eval("expr {5.5}"), "bool"), 0);
    // Doubles beyond the 32-bit range have no exact int truncation.
    for (const char* big : {"expr {1e20}", "expr {-1e20}", "expr {4294967296.0}", "expr {Inf}", "expr {-Inf}"})
        EXPECT_EQ(score(eval(big), "int"), 0) << big;

    Tcl_Obj* list = eval("list a {b c}");
    EXPECT_EQ(score(list, "Array"), 100);
    EXPECT_EQ(score(list, "string"), 75);
    EXPECT_EQ(score(list, "string[]"), 100);
    EXPECT_EQ(score(list, "int[]"), 0);
    EXPECT_EQ(score(list, "Map"), 0);
    EXPECT_EQ(score(eval("list [expr {1}] x"), "string[]"), 50); // the weakest element decides
    Tcl_Obj* a = untyped("a");
    Tcl_Obj* emptyList = Tcl_NewListObj(1, &a);
    ASSERT_EQ(Tcl_ListObjReplace(interp, emptyList, 0, 1, 0, nullptr), TCL_OK);
    keep(emptyList);
    ASSERT_STREQ(typeOf(emptyList), "list");
    EXPECT_EQ(score(emptyList, "string[]"), 100);

    Tcl_Obj* dict = eval("dict create a 1");
    EXPECT_EQ(score(dict, "Map"), 100);
    EXPECT_EQ(score(dict, "string"), 0);

    Tcl_Obj* yes = word("yes");
    int flag = 0;
    ASSERT_EQ(Tcl_GetBooleanFromObj(interp, yes, &flag), TCL_OK);
    ASSERT_STREQ(typeOf(yes), "booleanString");
    EXPECT_EQ(score(yes, "bool"), 100);
    EXPECT_EQ(score(yes, "string"), 0);

    Tcl_Obj* path = eval("file normalize /tmp");
    ASSERT_STREQ(typeOf(path), "path");
    EXPECT_EQ(score(path, "string"), 42);
    EXPECT_EQ(score(path, "Widget*"), 0);

    // An expression is scored by its value; a failing one scores 0 and leaves its message.
    Tcl_Obj* sum = word("2 + 3");
    Tcl_Obj* ignored = nullptr;
    ASSERT_EQ(Tcl_ExprObj(interp, sum, &ignored), TCL_OK);
    Tcl_DecrRefCount(ignored);
    ASSERT_STREQ(typeOf(sum), "exprcode");
    EXPECT_EQ(score(sum, "int"), 100);
    EXPECT_EQ(score(sum, "string"), 50);
    Tcl_Obj* broken = word("1 / $::zero");
    Tcl_SetVar(interp, "zero", "0", 0);
    ASSERT_EQ(Tcl_ExprObj(interp, broken, &ignored), TCL_ERROR);
    ASSERT_STREQ(typeOf(broken), "exprcode");
    Tcl_ResetResult(interp);
    EXPECT_EQ(score(broken, "int"), 0);
    EXPECT_EQ(result(), QStringLiteral("divide by zero"));
}

TEST_F(ConversionTest, ChooseOverloadByScore)
{
    QString message;
    EXPECT_EQ(choose("Painter", "fill", {word("5")}), 0);
    EXPECT_EQ(choose("Painter", "fill", {word("5.5")}), 1);
    EXPECT_EQ(choose("Painter", "show", {eval("list a b")}), 1);
    EXPECT_EQ(choose("Painter", "show", {word("a b")}, &message), -1); // text reads as both
    EXPECT_EQ(message, QStringLiteral("Ambiguous overload 'show(<no type, probably string>)'. Candidates:\n"
                                      "\tPainter::show(string)\n\tPainter::show(Array)\n"));
    EXPECT_EQ(choose("Painter", "attach", {handle(makeObject("PushButton"))}), 1); // Button is nearer
    EXPECT_EQ(choose("Painter", "attach", {handle(makeObject("Widget"))}), 0);
    EXPECT_EQ(choose("Painter", "tint", {word("red")}), 0);
    EXPECT_EQ(choose("Painter", "reset", {}), 1);
    EXPECT_EQ(choose("Painter", "reset", {word("3")}), 0);

    // The lookup class's own overload beats an inherited one with the same arguments.
    EXPECT_EQ(choose("FancyCanvas", "paint", {word("5")}), 0);
    EXPECT_EQ(choose("FancyCanvas", "blend", {word("5.5")}), 0);
    EXPECT_EQ(choose("FancyCanvas", "blend", {word("5")}, &message), -1); // 99 - 0 against 100 - 1
    EXPECT_EQ(message, QStringLiteral("Ambiguous overload 'blend(<no type, probably string>)'. Candidates:\n"
                                      "\tFancyCanvas::blend(double)\n\tCanvas::blend(int)\n"));

    // The words are converted for the chosen overload.
    ObjectList out;
    EXPECT_EQ(choose("Painter", "tint", {word("blue")}, nullptr, &out), 0);
    ASSERT_EQ(out.size(), 1);
    EXPECT_EQ(out[0]->className(), QStringLiteral("Color"));
}

TEST_F(ConversionTest, ChooseOverloadReportsNoMatch)
{
    QString message;
    EXPECT_EQ(choose("Painter", "fill", {word("1"), eval("list a b")}, &message), -1);
    EXPECT_EQ(message, QStringLiteral("No matching 'fill(<no type, probably string>, list)' overload found: "
                                      "Following overloads are available:\n\tPainter::fill(int)\n\tPainter::fill(double)\n"));
    EXPECT_EQ(choose("Painter", "fill", {}, &message), -1);
    EXPECT_EQ(message, QStringLiteral("No matching 'fill()' overload found: Following overloads are available:\n"
                                      "\tPainter::fill(int)\n\tPainter::fill(double)\n"));
    SharedPtr<Object> other = makeObject("Other");
    EXPECT_EQ(choose("Painter", "attach", {handle(other)}, &message), -1);
    EXPECT_EQ(message, QStringLiteral("No matching 'attach(Other)' overload found: Following overloads are available:\n"
                                      "\tPainter::attach(Widget*)\n\tPainter::attach(Button*)\n"));
    EXPECT_EQ(choose("Painter", "fill", {word("abc")}, &message), -1);
    EXPECT_TRUE(message.startsWith("No matching 'fill(<no type, probably string>)' overload found"));
}

TEST_F(ConversionTest, ChooseOverloadTieBreak)
{
    QString message;
    // Same class, different attributes: the attribute of the word decides. Numbers are passed by
    // value (an untyped word has become an int while it was scored), handles as their objects are held.
    EXPECT_EQ(choose("Painter", "mark", {word("5")}), 0);
    EXPECT_EQ(choose("Painter", "mark", {eval("expr {5}")}), 0);
    SharedPtr<Object> colorValue(new Object(cls("Color"), ObjectAttribute::Value()));
    SharedPtr<Object> colorPointer(new Object(cls("Color"), ObjectAttribute::Pointer()));
    EXPECT_EQ(choose("Painter", "hold", {handle(colorValue)}), 1);
    EXPECT_EQ(choose("Painter", "hold", {handle(colorPointer)}), 0);
    // Both a value and a reference take a number: no attribute decides.
    EXPECT_EQ(choose("Painter", "pin", {eval("expr {5}")}, &message), -1);
    EXPECT_EQ(message, QStringLiteral("Ambiguous overload 'pin(int)'. Candidates:\n"
                                      "\tPainter::pin(int)\n\tPainter::pin(int&)\n"));
    // A word of a type that says nothing about its holding (a list) matches every declaration.
    EXPECT_EQ(valueAttribute(eval("list a")), ObjectAttribute(0, 0));
    EXPECT_EQ(valueAttribute(eval("expr {1.5}")), ObjectAttribute::Value());
    EXPECT_EQ(valueAttribute(word("x")), ObjectAttribute::Pointer());
    EXPECT_EQ(valueAttribute(handle(colorValue)), ObjectAttribute::Value());
    // Identical argument lists never fail: the first best is taken.
    EXPECT_EQ(choose("Painter", "twice", {word("5")}), 0);
    EXPECT_EQ(choose("Painter", "twice", {eval("expr {5}")}), 0);
    // Different classes tied at the same score.
    EXPECT_EQ(choose("Painter", "fill", {eval("expr {5.0}")}, &message), -1);
    EXPECT_EQ(message, QStringLiteral("Ambiguous overload 'fill(double)'. Candidates:\n"
                                      "\tPainter::fill(int)\n\tPainter::fill(double)\n"));
}

TEST_F(ConversionTest, ConvertArgumentsForDeclaredTypes)
{
    Inspector* in = Inspector::self();
    const Signature sig = ClassBuilder::signature(
        {"int", "short", "int64", "long", "double", "bool", "string", "string[]", "Array", "Map"});
    Tcl_Obj* words[] = {word("5"),   word("-6"),       eval("expr {1 << 40}"), word("7"),       word("2.5"),
                        word("yes"), word("grüße"),    word("a {b c}"),       word("1 {2 3}"), word("k v")};
    ObjectList out;
    ASSERT_TRUE(convertArguments(interp, &out, words, sig));
    ASSERT_EQ(out.size(), 10);
    const int kinds[] = {IntKind, IntKind, Int64Kind, LongKind, DoubleKind, BoolKind, StringKind};
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(out[i]->objectClass()->primitiveKind(), kinds[i]) << i;
    EXPECT_EQ(out[1]->intValue(), -6);
    EXPECT_EQ(out[2]->int64Value(), Q_INT64_C(1) << 40);
    EXPECT_EQ(out[3]->int64Value(), 7);
    EXPECT_EQ(out[4]->doubleValue(), 2.5);
    EXPECT_TRUE(out[5]->boolValue());
    EXPECT_EQ(out[6]->text(), QString::fromUtf8("grüße"));
    EXPECT_EQ(out[7]->attribute().flags(), 0x12);
    QStringList texts;
    for (const SharedPtr<Object>& e : ArrayClass::unwrapRemoteObject(out[7].get()))
        texts << e->text();
    EXPECT_EQ(texts, QStringList({"a", "b c"}));
    EXPECT_EQ(out[8]->objectClass(), ArrayClass::registeredClass());
    EXPECT_EQ(ArrayClass::unwrapRemoteObject(out[8].get()).size(), 2);
    EXPECT_EQ(out[9]->objectClass(), MapClass::registeredClass());
    EXPECT_EQ(MapClass::unwrapRemoteObject(out[9].get()).value("k")->text(), QStringLiteral("v"));

    // An integer-coded string (no pointer flag) takes the word's integer.
    const Signature coded{Argument(in->stringClass(), ObjectAttribute(0))};
    Tcl_Obj* number = word("42");
    out.clear();
    ASSERT_TRUE(convertArguments(interp, &out, &number, coded));
    EXPECT_EQ(out[0]->objectClass(), in->stringClass());
    EXPECT_EQ(out[0]->text(), QStringLiteral("42"));

    // A text argument naming an object map entry is that entry's value.
    ASSERT_EQ(Tcl_Eval(interp, "proc object_map_helper_object_7 {} { return {type Button text OK} }"), TCL_OK);
    Tcl_Obj* entry = word("object_map_helper_object_7");
    Tcl_Obj* missing = word("object_map_helper_object_8");
    Tcl_Obj* both[] = {entry, missing};
    out.clear();
    ASSERT_TRUE(convertArguments(interp, &out, both, ClassBuilder::signature({"string", "string"})));
    EXPECT_EQ(out[0]->text(), QStringLiteral("type Button text OK"));
    EXPECT_EQ(out[1]->text(), QStringLiteral("object_map_helper_object_8"));
}

TEST_F(ConversionTest, ConvertObjectArguments)
{
    SharedPtr<Object> push = makeObject("PushButton");
    SharedPtr<Object> other = makeObject("Other");
    Tcl_Obj* words[] = {handle(push), word("0"), word("red"), word("9"), keep(untyped(Tcl_GetString(handle(push))))};
    ObjectList out;
    ASSERT_TRUE(convertArguments(interp, &out, words,
                                 ClassBuilder::signature({"Widget*", "Widget*", "Color", "Widget*|int", "Button*"})));
    ASSERT_EQ(out.size(), 5);
    EXPECT_EQ(out[0].get(), push.get());
    EXPECT_TRUE(out[1]->isNull());
    EXPECT_EQ(out[1]->className(), QStringLiteral("Widget"));
    EXPECT_EQ(out[2]->className(), QStringLiteral("Color"));
    EXPECT_EQ(out[2]->value("name")->text(), QStringLiteral("red"));
    EXPECT_EQ(out[3]->objectClass(), Inspector::self()->primitiveClass(IntKind));
    EXPECT_EQ(out[4].get(), push.get());

    // Text no class conversion accepts still takes its place in the list.
    Tcl_Obj* text = word("plain");
    out.clear();
    ASSERT_TRUE(convertArguments(interp, &out, &text, ClassBuilder::signature({"Widget*"})));
    ASSERT_EQ(out.size(), 1);
    EXPECT_TRUE(out[0].isNull());

    // An object its class cannot convert fails the whole call; earlier words stay converted.
    Tcl_Obj* pair[] = {word("1"), handle(other)};
    out.clear();
    EXPECT_FALSE(convertArguments(interp, &out, pair, ClassBuilder::signature({"int", "Color"})));
    EXPECT_EQ(result(), QStringLiteral("Failed to convert argument of type Color"));
    EXPECT_EQ(out.size(), 1);
    Tcl_Obj* handleForInt = handle(other);
    out.clear();
    EXPECT_FALSE(convertArguments(interp, &out, &handleForInt, ClassBuilder::signature({"int"})));
    EXPECT_EQ(result(), QStringLiteral("Failed to convert argument of type int"));
}

TEST_F(ConversionTest, NativeResultsBackToTcl)
{
    Inspector* in = Inspector::self();
    auto tcl = [&](const SharedPtr<Object>& o) { return keep(toTclValue(o)); };
    auto str = [](Tcl_Obj* v) { return QString::fromUtf8(Tcl_GetString(v)); };

    Tcl_Obj* i = tcl(in->createInt(-5));
    EXPECT_STREQ(typeOf(i), "int");
    EXPECT_EQ(str(i), QStringLiteral("-5"));
    EXPECT_EQ(str(tcl(in->createLong(7))), QStringLiteral("7"));
    EXPECT_EQ(str(tcl(in->createInt64(Q_INT64_C(1) << 40))), QStringLiteral("1099511627776"));
    Tcl_Obj* d = tcl(in->createDouble(2.5));
    EXPECT_STREQ(typeOf(d), "double");
    EXPECT_EQ(str(d), QStringLiteral("2.5"));
    Tcl_Obj* b = tcl(in->createBool(true));
    EXPECT_STREQ(typeOf(b), "int");
    EXPECT_EQ(str(b), QStringLiteral("1"));
    EXPECT_EQ(str(tcl(in->createBool(false))), QStringLiteral("0"));
    EXPECT_EQ(str(tcl(in->createPrimitive(QString::fromUtf8("grüße {x}")))), QString::fromUtf8("grüße {x}"));
    // A string held as a value is integer-coded; one with the array flag is text.
    SharedPtr<Object> coded(new PrimitiveObject(in->stringClass(), QStringLiteral("12"), ObjectAttribute::Value()));
    EXPECT_EQ(str(tcl(coded)), QStringLiteral("12"));
    SharedPtr<Object> codedText(new PrimitiveObject(in->stringClass(), QStringLiteral("abc"), ObjectAttribute::Value()));
    EXPECT_EQ(str(tcl(codedText)), QStringLiteral("0"));
    SharedPtr<Object> arrayText(new PrimitiveObject(in->stringClass(), QStringLiteral("abc"), ObjectAttribute(0x10)));
    EXPECT_EQ(str(tcl(arrayText)), QStringLiteral("abc"));

    // Containers nest; maps come out in key order; other objects (kind 0 too) as handles.
    ObjectMapValue entries;
    entries.insert("b", in->createInt(2));
    entries.insert("a", ArrayClass::createRemoteObject(ObjectList() << in->createPrimitive("x y") << SharedPtr<Object>()));
    SharedPtr<Object> push = makeObject("PushButton");
    SharedPtr<Object> nested = ArrayClass::createRemoteObject(ObjectList() << MapClass::createRemoteObject(entries) << push);
    Tcl_Obj* list = tcl(nested);
    EXPECT_STREQ(typeOf(list), "list");
    Tcl_SetVar2Ex(interp, "v", nullptr, list, 0);
    EXPECT_EQ(str(eval("dict keys [lindex $v 0]")), QStringLiteral("a b"));
    EXPECT_EQ(str(eval("dict get [lindex $v 0] a")), QStringLiteral("{x y} {}"));
    EXPECT_EQ(objectFromValue(eval("lindex $v 1")).get(), push.get());
    SharedPtr<Object> shortValue(new PrimitiveObject(in->primitiveClass(OtherIntKind), 3));
    Tcl_Obj* shortHandle = tcl(shortValue);
    EXPECT_STREQ(typeOf(shortHandle), "TestObject");
    Tcl_Obj* none = tcl(SharedPtr<Object>());
    EXPECT_EQ(none->typePtr, nullptr);
    EXPECT_STREQ(Tcl_GetString(none), "");

    // Round trip through the generic conversion.
    for (const char* script : {"expr {42}", "list 1 2.5 abc", "dict create k1 [list a b] k2 7"}) {
        Tcl_Obj* value = eval(script);
        Tcl_Obj* back = tcl(toNativeValue(interp, value, nullptr));
        EXPECT_EQ(str(back), str(value)) << script;
    }
}

TEST_F(ConversionTest, CompareValues)
{
    auto compare = [&](Tcl_Obj* a, Tcl_Obj* b, QString* message = nullptr, QString* ta = nullptr, QString* tb = nullptr) {
        QString m, x, y;
        const bool equal = compareValues(interp, a, b, &m, &x, &y);
        if (message)
            *message = m;
        if (ta)
            *ta = x;
        if (tb)
            *tb = y;
        return equal;
    };
    QString message, textA, textB;
    EXPECT_TRUE(compare(word("true"), eval("expr {1}")));
    EXPECT_TRUE(compare(word("false"), eval("expr {0}")));
    EXPECT_FALSE(compare(word("true"), eval("expr {0}")));
    EXPECT_TRUE(compare(eval("expr {1}"), word("true")));
    EXPECT_TRUE(compare(word("abc"), word("abc")));
    EXPECT_FALSE(compare(word("1.0"), word("1"))); // neither typed: the texts
    EXPECT_TRUE(compare(eval("expr {1.0}"), word("1")));
    EXPECT_TRUE(compare(eval("list a b"), word("a b"))); // lists through their texts
    EXPECT_TRUE(compare(eval("list 1 2"), eval("list 1 2")));

    EXPECT_FALSE(compare(word("abc"), eval("expr {1.5}"), &message, &textA, &textB));
    EXPECT_EQ(message, QStringLiteral(". Different types (string and double)"));
    EXPECT_EQ(textA, QStringLiteral("'abc'"));
    EXPECT_EQ(textB, QStringLiteral("'1.5'"));
    EXPECT_FALSE(compare(eval("expr {2.5}"), eval("expr {1.5}"), &message));
    EXPECT_EQ(message, QString());

    // Handles compare their objects; a handle's text counts as the handle.
    SharedPtr<Object> w = makeObject("Widget");
    Tcl_Obj* h = handle(w);
    EXPECT_TRUE(compare(h, keep(untyped(Tcl_GetString(h))), &message, &textA, &textB));
    EXPECT_EQ(textA, QString::fromUtf8(Tcl_GetString(h)));
    EXPECT_FALSE(compare(h, handle(makeObject("Widget"))));
    EXPECT_FALSE(compare(h, word("Widget")));
    EXPECT_FALSE(compare(word("Widget"), h));
}
