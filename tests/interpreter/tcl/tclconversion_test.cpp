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
    auto convert = [&](QList<Tcl_Obj*> words, const Signature& sig, bool expectOk = true) {
        ObjectList out;
        EXPECT_EQ(convertArguments(interp, &out, words.toVector().data(), sig), expectOk);
        QStringList described;
        for (const SharedPtr<Object>& o : out)
            described << (o ? o->className() + ':' + o->text() : QStringLiteral("null"));
        return described.join(" | ");
    };
    EXPECT_EQ(convert({word("5"), word("-6"), eval("expr {1 << 40}"), word("7"), word("2.5"), word("yes"),
                       word("grüße"), word("a {b c}"), word("1 {2 3}"), word("k v")},
                      ClassBuilder::signature({"int", "short", "int64", "long", "double", "bool", "string",
                                               "string[]", "Array", "Map"})),
              QString::fromUtf8("int:5 | int:-6 | int64:1099511627776 | long:7 | double:2.5 | bool:true | "
                                "string:grüße | Array:a {b c} | Array:1 {2 3} | Map:k v"));

    // An integer-coded string (no pointer flag) takes the word's integer.
    EXPECT_EQ(convert({word("42")}, Signature{Argument(in->stringClass(), ObjectAttribute(0))}),
              QStringLiteral("string:42"));
    // A text argument naming an object map entry is that entry's value.
    ASSERT_EQ(Tcl_Eval(interp, "proc object_map_helper_object_7 {} { return {type Button text OK} }"), TCL_OK);
    EXPECT_EQ(convert({word("object_map_helper_object_7"), word("object_map_helper_object_8")},
                      ClassBuilder::signature({"string", "string"})),
              QStringLiteral("string:type Button text OK | string:object_map_helper_object_8"));

    // Objects: a handle (or its text) as it is, "0" as a null pointer, text through a constructor,
    // an integer where the type takes one, text no conversion accepts as a null entry.
    SharedPtr<Object> push = makeObject("PushButton", "p");
    Tcl_Obj* h = handle(push);
    ObjectList out;
    Tcl_Obj* words[] = {h, word("0"), word("red"), word("9"), keep(untyped(Tcl_GetString(h))), word("plain")};
    ASSERT_TRUE(convertArguments(interp, &out, words,
                                 ClassBuilder::signature({"Widget*", "Widget*", "Color", "Widget*|int", "Button*", "Widget*"})));
    ASSERT_EQ(out.size(), 6);
    EXPECT_EQ(out[0].get(), push.get());
    EXPECT_TRUE(out[1]->isNull());
    EXPECT_EQ(out[1]->className(), QStringLiteral("Widget"));
    EXPECT_EQ(out[2]->value("name")->text(), QStringLiteral("red"));
    EXPECT_EQ(out[3]->className() + out[3]->text(), QStringLiteral("int9"));
    EXPECT_EQ(out[4].get(), push.get());
    EXPECT_TRUE(out[5].isNull());

    // An object its class cannot convert fails the whole call; earlier words stay converted.
    SharedPtr<Object> other = makeObject("Other");
    EXPECT_EQ(convert({word("1"), handle(other)}, ClassBuilder::signature({"int", "Color"}), false),
              QStringLiteral("int:1"));
    EXPECT_EQ(result(), QStringLiteral("Failed to convert argument of type Color"));
    convert({handle(other)}, ClassBuilder::signature({"int"}), false);
    EXPECT_EQ(result(), QStringLiteral("Failed to convert argument of type int"));
}

// What the scoring accepts converts to that value; what no value of the type can hold fails by name.
TEST_F(ConversionTest, ConvertsNumbersAndBooleansExactly)
{
    ASSERT_EQ(Tcl_Eval(interp, "binary scan [binary format w 0x7ff8000000000000] d nan"), TCL_OK);
    struct Row {
        const char* script; // evaluated, so the word carries Tcl's internal type
        const char* type;
        const char* expected; // "class:text", or the error message
    };
    const Row rows[] = {
        {"expr {5.0}", "int", "int:5"},
        {"expr {-3.0}", "short", "int:-3"},
        {"expr {2.0**40}", "int64", "int64:1099511627776"},
        {"expr {1e3}", "long", "long:1000"},
        {"expr {2**31-1}", "int", "int:2147483647"},
        {"expr {2**31}", "int", "Failed to convert argument of type int"},
        {"expr {2**40+1}", "int", "Failed to convert argument of type int"},
        {"expr {2**64}", "int64", "Failed to convert argument of type int64"},
        {"expr {5.5}", "int", "Failed to convert argument of type int"},
        {"set nan", "int", "Failed to convert argument of type int"},
        {"set nan", "double", "Failed to convert argument of type double"},
        {"string cat abc", "int", "Failed to convert argument of type int"},
        {"string cat abc", "double", "Failed to convert argument of type double"},
        {"string cat 0x10", "int", "int:16"},
        {"string cat 7", "double", "double:7"},
        {"string cat no", "bool", "bool:false"},
        {"string cat ON", "bool", "bool:true"},
        {"string cat Yes", "bool", "bool:true"},
        {"expr {0}", "bool", "bool:false"},
        {"string cat maybe", "bool", "Failed to convert argument of type bool"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.script) + " as " + row.type);
        Tcl_Obj* value = eval(row.script);
        ObjectList out;
        Tcl_ResetResult(interp);
        if (convertArguments(interp, &out, &value, ClassBuilder::signature({row.type}))) {
            ASSERT_EQ(out.size(), 1);
            EXPECT_EQ(out[0]->className() + ':' + out[0]->text(), QString::fromLatin1(row.expected));
        } else {
            EXPECT_EQ(result(), QString::fromLatin1(row.expected));
        }
    }
    // A NaN no longer passes for an integer when overloads are scored.
    EXPECT_EQ(score(eval("set nan"), "int"), 0);
    EXPECT_EQ(score(eval("expr {5.0}"), "int"), 100);
}

// Tcl keeps NUL as C0 80 and a supplementary character as two surrogates; both come through exactly.
TEST_F(ConversionTest, TextKeepsNulAndSupplementaryCharacters)
{
    const QString text = QString::fromUtf8("a\0b \xF0\x9F\x98\x80 \xC3\xA4", 11);
    ASSERT_EQ(text.size(), 8);
    Tcl_SetVar2Ex(interp, "t", nullptr, newTextObj(text), 0);
    EXPECT_STREQ(Tcl_GetString(eval("list [string length $t] [string equal $t \"a\\0b \\uD83D\\uDE00 \\u00E4\"]")),
                 "8 1");
    EXPECT_EQ(textOf(eval("string cat a\\0b { } \\uD83D\\uDE00 { } \\u00E4")), text);
    EXPECT_EQ(fromTclUtf("plain"), QStringLiteral("plain"));
    EXPECT_EQ(toTclUtf(QStringLiteral("plain")), QByteArray("plain"));
}

TEST_F(ConversionTest, NativeResultsBackToTcl)
{
    Inspector* in = Inspector::self();
    // The Tcl type and text of the value made for an object.
    auto tcl = [&](const SharedPtr<Object>& o) {
        Tcl_Obj* v = keep(toTclValue(o));
        return QString::fromLatin1(typeOf(v)) + ':' + QString::fromUtf8(Tcl_GetString(v));
    };
    EXPECT_EQ(tcl(in->createInt(-5)), QStringLiteral("int:-5"));
    EXPECT_EQ(tcl(in->createLong(7)), QStringLiteral("int:7"));
    EXPECT_EQ(tcl(in->createInt64(Q_INT64_C(1) << 40)), QStringLiteral("int:1099511627776"));
    EXPECT_EQ(tcl(in->createDouble(2.5)), QStringLiteral("double:2.5"));
    EXPECT_EQ(tcl(in->createBool(true)), QStringLiteral("int:1"));
    EXPECT_EQ(tcl(in->createPrimitive(QString::fromUtf8("grüße {x}"))), QString::fromUtf8(":grüße {x}"));
    // A string held as a value is integer-coded; one with the array flag is text.
    auto string = [&](const char* t, int flags) {
        return SharedPtr<Object>(new PrimitiveObject(in->stringClass(), QString::fromLatin1(t), ObjectAttribute(flags)));
    };
    EXPECT_EQ(tcl(string("12", 0)), QStringLiteral(":12"));
    EXPECT_EQ(tcl(string("abc", 0)), QStringLiteral(":0"));
    EXPECT_EQ(tcl(string("abc", 0x10)), QStringLiteral(":abc"));
    EXPECT_EQ(tcl(SharedPtr<Object>()), QStringLiteral(":"));

    // Containers nest; maps come out in key order; other objects (kind 0 too) as handles.
    ObjectMapValue entries;
    entries.insert("b", in->createInt(2));
    entries.insert("a", ArrayClass::createRemoteObject(ObjectList() << in->createPrimitive("x y") << SharedPtr<Object>()));
    SharedPtr<Object> push = makeObject("PushButton");
    SharedPtr<Object> shortValue(new PrimitiveObject(in->primitiveClass(OtherIntKind), 3));
    Tcl_Obj* list = keep(toTclValue(
        ArrayClass::createRemoteObject(ObjectList() << MapClass::createRemoteObject(entries) << push << shortValue)));
    EXPECT_STREQ(typeOf(list), "list");
    Tcl_SetVar2Ex(interp, "v", nullptr, list, 0);
    EXPECT_STREQ(Tcl_GetString(eval("lindex $v 0")), "a {{x y} {}} b 2");
    EXPECT_EQ(objectFromValue(eval("lindex $v 1")).get(), push.get());
    EXPECT_EQ(objectFromValue(eval("lindex $v 2")).get(), shortValue.get());
}

TEST_F(ConversionTest, CompareValues)
{
    QString message, textA, textB;
    auto compare = [&](Tcl_Obj* a, Tcl_Obj* b) { return compareValues(interp, a, b, &message, &textA, &textB); };
    EXPECT_TRUE(compare(word("true"), eval("expr {1}")));
    EXPECT_TRUE(compare(eval("expr {1}"), word("true")));
    EXPECT_TRUE(compare(word("false"), eval("expr {0}")));
    EXPECT_FALSE(compare(word("true"), eval("expr {0}")));
    EXPECT_FALSE(compare(word("1.0"), word("1"))); // neither typed: the texts
    EXPECT_TRUE(compare(eval("expr {1.0}"), word("1")));
    EXPECT_TRUE(compare(eval("list a b"), word("a b"))); // lists through their texts

    EXPECT_FALSE(compare(word("abc"), eval("expr {1.5}")));
    EXPECT_EQ(message, QStringLiteral(". Different types (string and double)"));
    EXPECT_EQ(textA + ' ' + textB, QStringLiteral("'abc' '1.5'"));
    message.clear();
    EXPECT_FALSE(compare(eval("expr {2.5}"), eval("expr {1.5}")));
    EXPECT_EQ(message, QString());

    // Handles compare their objects; a handle's text counts as the handle.
    SharedPtr<Object> w = makeObject("Widget");
    Tcl_Obj* h = handle(w);
    EXPECT_TRUE(compare(h, keep(untyped(Tcl_GetString(h)))));
    EXPECT_EQ(textA, QString::fromUtf8(Tcl_GetString(h)));
    EXPECT_FALSE(compare(h, handle(makeObject("Widget"))));
    EXPECT_FALSE(compare(h, word("Widget")));
    EXPECT_FALSE(compare(word("Widget"), h));
}
