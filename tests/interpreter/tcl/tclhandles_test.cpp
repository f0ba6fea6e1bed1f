// Native things inside Tcl values: object handles and their texts (forged ones included), record and
// application context values with their reference counts, and the generic conversion to native values.
#include "bridgetestsupport.h"

#include "applicationcontext.h"
#include "tclhandles.h"
#include "testdata.h"

#include <cstdio>

using namespace bridgetest;

namespace {

struct NamedContext : ApplicationContext {
    QString n;
    explicit NamedContext(const QString& name) : n(name) {}
    QString name() const override { return n; }
};

QString printed(const char* prefix, const void* pointer)
{
    char buffer[64];
    snprintf(buffer, sizeof buffer, "%s:%p", prefix, pointer);
    return QString::fromLatin1(buffer);
}

Tcl_Obj* text(const QString& t)
{
    const QByteArray utf8 = t.toUtf8();
    return Tcl_NewStringObj(utf8.constData(), utf8.size());
}

// A set of three records of one field each, held by the test.
SharedPtr<TestDataSet> makeDataSet()
{
    SharedPtr<TestDataSet> set(new TestDataSet("data.tsv", '\t', true));
    for (const char* field : {"a", "b", "c"}) {
        auto record = new TestDataRecord(set.get());
        record->appendField(field);
        set->appendRecord(record);
    }
    return set;
}

class HandlesTest : public BridgeTest {
protected:
    // The class of the generic conversion's result, and its text.
    QString native(Tcl_Obj* v, const Class* hint = nullptr)
    {
        SharedPtr<Object> o = toNativeValue(interp, v, hint);
        return o ? o->className() + ' ' + o->text() : QStringLiteral("null");
    }
};

} // namespace

TEST_F(HandlesTest, HandleTextIsThePrintedAddressAndConvertsBackThroughListsAndDicts)
{
    SharedPtr<Object> button = makeObject("Button", "ok");
    Tcl_Obj* handle = keep(newObjectHandle(button));
    EXPECT_STREQ(typeOf(handle), "TestObject");
    EXPECT_EQ(handle->bytes, nullptr); // the text is made when first asked for
    EXPECT_EQ(QString::fromUtf8(Tcl_GetString(handle)), printed("Object", button.get()));

    // Into a list and a dict, to plain text, and taken apart by Tcl again.
    Tcl_SetVar2Ex(interp, "h", nullptr, handle, 0);
    eval("set l [string trim \" [list a $h {b c}] \"]; set d [string trim [dict create k $h other 1]]");
    Tcl_Obj* element = eval("lindex $l 1");
    EXPECT_STRNE(typeOf(element), "TestObject");
    EXPECT_EQ(objectFromValue(element).get(), button.get());
    EXPECT_STREQ(typeOf(element), "TestObject");
    EXPECT_EQ(objectFromValue(eval("dict get $d k")).get(), button.get());

    // A null object gives an empty plain value; no value gives no object.
    Tcl_Obj* empty = keep(newObjectHandle(SharedPtr<Object>()));
    EXPECT_EQ(empty->typePtr, nullptr);
    EXPECT_STREQ(Tcl_GetString(empty), "");
    EXPECT_TRUE(objectFromValue(empty).isNull());
    EXPECT_TRUE(objectFromValue(nullptr).isNull());
}

TEST_F(HandlesTest, ForgedAndMalformedTextsNameNoObject)
{
    SharedPtr<Object> known = makeObject("Button");
    keep(newObjectHandle(known));
    SharedPtr<Object> neverHanded = makeObject("Button"); // alive, but Tcl never saw it
    const QString knownText = printed("Object", known.get());
    const QString hex = knownText.mid(QStringLiteral("Object:0x").size());

    const QStringList forged = {
        "Object:0x41414141",
        "Object:-1",
        "Object:0x10junk",
        "Object:0",
        "Object:(nil)",
        "Object:",
        "Object",
        "",
        "Object:0x",
        printed("Object", neverHanded.get()),
        printed("Object", reinterpret_cast<const char*>(known.get()) + 1), // inside the object
        "Object: " + knownText.mid(7),                                   // the scan skips the blank
        knownText + " ",
        knownText + "\n",
        "Object:0X" + hex,
        "Object:0x0" + hex,
        "object:0x" + hex,
        "TestDataRecord:0x" + hex,
        knownText + QChar(0) + "tail",
        "Object:" + QString::number(quintptr(known.get())), // the address in decimal
    };
    for (const QString& t : forged) {
        Tcl_Obj* value = keep(text(t));
        EXPECT_TRUE(objectFromValue(value).isNull()) << qPrintable(t);
        EXPECT_EQ(value->typePtr, nullptr) << "the value is left alone: " << qPrintable(t);
    }
    // A typed value keeps its type when its text names no object.
    Tcl_Obj* number = eval("expr {0x41414141}");
    EXPECT_TRUE(objectFromValue(number).isNull());
    EXPECT_STREQ(typeOf(number), "int");
}

TEST_F(HandlesTest, EveryHandleKeepsItsObjectForGood)
{
    SharedPtr<Object> object = makeObject("Widget");
    const int before = object->refs();
    Tcl_Obj* handle = newObjectHandle(object);
    EXPECT_EQ(object->refs(), before + 1);
    Tcl_IncrRefCount(handle);
    Tcl_Obj* dup = Tcl_DuplicateObj(handle);
    EXPECT_EQ(object->refs(), before + 2);
    EXPECT_STREQ(typeOf(dup), "TestObject");
    Tcl_Obj* fromText = text(QString::fromUtf8(Tcl_GetString(handle)));
    Tcl_IncrRefCount(fromText);
    EXPECT_EQ(objectFromValue(fromText).get(), object.get());
    EXPECT_EQ(object->refs(), before + 3);
    Tcl_DecrRefCount(handle);
    Tcl_DecrRefCount(dup);
    Tcl_DecrRefCount(fromText);
    EXPECT_EQ(object->refs(), before + 3); // never given back: the text stays valid
    Tcl_Obj* later = keep(text(printed("Object", object.get())));
    EXPECT_EQ(objectFromValue(later).get(), object.get());
    EXPECT_TRUE(isKnownObject(object.get()));
    EXPECT_FALSE(isKnownObject(makeObject("Widget").get()));
}

TEST_F(HandlesTest, PendingErrorSurfacesWhenTextIsConverted)
{
    SharedPtr<Object> object = makeObject("Widget");
    keep(newObjectHandle(object));
    interpreter->setPendingError("raised elsewhere");
    Tcl_ResetResult(interp);
    EXPECT_TRUE(objectFromValue(keep(text(printed("Object", object.get())))).isNull());
    EXPECT_EQ(result(), QStringLiteral("raised elsewhere"));
    EXPECT_EQ(objectFromValue(keep(text(printed("Object", object.get())))).get(), object.get()); // only once
}

TEST_F(HandlesTest, RecordValuesHoldTheirDataSet)
{
    SharedPtr<TestDataSet> set = makeDataSet();
    TestDataRecord* record = set->record(1);
    const int before = set->refs();

    Tcl_Obj* value = newTestDataRecordValue(record);
    Tcl_IncrRefCount(value);
    EXPECT_EQ(set->refs(), before + 1);
    EXPECT_EQ(QString::fromUtf8(Tcl_GetString(value)), printed("TestDataRecord", record));
    Tcl_Obj* dup = Tcl_DuplicateObj(value);
    Tcl_IncrRefCount(dup);
    EXPECT_EQ(testDataRecordFromValue(dup), record);
    EXPECT_EQ(set->refs(), before + 2);

    // Text converts back while a value holds the record, and only through the text reader.
    Tcl_Obj* asText = text(QString::fromUtf8(Tcl_GetString(value)));
    Tcl_IncrRefCount(asText);
    EXPECT_EQ(testDataRecordFromValue(asText), nullptr);
    EXPECT_EQ(testDataRecordFromText(asText), record);
    EXPECT_EQ(set->refs(), before + 3);
    Tcl_DecrRefCount(asText);
    Tcl_DecrRefCount(value);
    Tcl_DecrRefCount(dup);
    EXPECT_EQ(set->refs(), before);

    // No value holds the record now: its text names nothing.
    Tcl_Obj* stale = keep(text(printed("TestDataRecord", record)));
    EXPECT_EQ(testDataRecordFromText(stale), nullptr);
    EXPECT_EQ(stale->typePtr, nullptr);
    EXPECT_EQ(testDataRecordFromText(keep(text(printed("TestDataRecord", record) + "x"))), nullptr);

    // A shared record value modified by list commands: copies read as the record, and when the
    // script lets go of everything the count is back where it was.
    Tcl_SetVar2Ex(interp, "rec", nullptr, newTestDataRecordValue(record), 0);
    Tcl_Obj* copy = eval("set r $rec; set l [list $rec]; lappend l x; set m $l; lset m 1 y; lindex $m 0");
    EXPECT_EQ(testDataRecordFromValue(copy), record);
    eval("lappend r z; unset rec r l m");
    keep.clear();
    EXPECT_EQ(set->refs(), before);
    EXPECT_EQ(record->field(0), QStringLiteral("b"));
}

TEST_F(HandlesTest, LastRecordValueReleasesTheDataSet)
{
    // A set nobody else holds lives as long as Tcl values hold its records.
    auto set = new TestDataSet("data.tsv", '\t', true);
    auto record = new TestDataRecord(set);
    set->appendRecord(record);
    Tcl_Obj* value = newTestDataRecordValue(record);
    Tcl_IncrRefCount(value);
    EXPECT_EQ(set->refs(), 1);
    Tcl_DecrRefCount(value); // deletes the set (the sanitizer build checks nothing leaks or dangles)
    EXPECT_EQ(testDataRecordFromText(keep(text(printed("TestDataRecord", record)))), nullptr);
}

TEST_F(HandlesTest, ApplicationContextValuesShowTheNameButTheNameIsNoContext)
{
    SharedPtr<ApplicationContext> context(new NamedContext(QString::fromUtf8("addressbook-ü")));
    Tcl_Obj* value = newApplicationContextValue(context);
    Tcl_IncrRefCount(value);
    EXPECT_EQ(context->refs(), 2);
    EXPECT_EQ(QString::fromUtf8(Tcl_GetString(value)), QString::fromUtf8("addressbook-ü"));
    EXPECT_EQ(applicationContextFromValue(value).get(), context.get());
    Tcl_Obj* dup = Tcl_DuplicateObj(value);
    EXPECT_EQ(applicationContextFromValue(dup).get(), context.get());
    EXPECT_EQ(context->refs(), 3);
    Tcl_DecrRefCount(dup);
    Tcl_Obj* typed = keep(text(QString::fromUtf8("addressbook-ü")));
    EXPECT_TRUE(applicationContextFromValue(typed).isNull());
    EXPECT_TRUE(applicationContextFromValue(nullptr).isNull());
    EXPECT_EQ(valueTypeName(value), QStringLiteral("ApplicationContext"));
    Tcl_DecrRefCount(value);
    EXPECT_EQ(context->refs(), 1);
}

TEST_F(HandlesTest, GenericConversionByTypeHintAndText)
{
    Inspector* in = Inspector::self();
    const Class* intClass = in->primitiveClass(IntKind);
    auto plain = [&](const char* t) { return keep(untyped(t)); };

    EXPECT_EQ(native(plain("12")), QStringLiteral("int 12"));
    EXPECT_EQ(native(plain("1.5")), QStringLiteral("double 1.5"));
    EXPECT_EQ(native(plain("true")), QStringLiteral("bool true"));
    EXPECT_EQ(native(plain("True")), QStringLiteral("string True"));
    EXPECT_EQ(native(plain("0x10")), QStringLiteral("string 0x10")); // the C locale reads no hex
    EXPECT_EQ(native(plain("99999999999")), QStringLiteral("double 99999999999"));

    // Typed "int": 32-bit range or 64-bit; with a hint the string class accepts, its text. (Tcl 8.6 on
    // 64-bit Linux has no "wideInt" type: 64-bit values are "int" too, and larger ones "bignum".)
    EXPECT_EQ(native(eval("expr {-2147483648}")), QStringLiteral("int -2147483648"));
    EXPECT_EQ(native(eval("expr {-2147483649}")), QStringLiteral("int64 -2147483649"));
    EXPECT_EQ(native(eval("expr {7}"), in->primitiveClass(DoubleKind)), QStringLiteral("string 7"));
    EXPECT_EQ(native(eval("expr {7}"), cls("Color")), QStringLiteral("string 7"));
    EXPECT_EQ(native(eval("expr {7}"), intClass), QStringLiteral("int 7"));
    EXPECT_EQ(native(eval("expr {7}"), cls("Widget")), QStringLiteral("int 7"));
    // Numbers Tcl keeps in other types, and booleans Tcl has parsed, take the text path.
    EXPECT_EQ(native(eval("expr {2**70}")), QStringLiteral("double 1180591620717411300000"));
    EXPECT_EQ(native(eval("expr {2.0}")), QStringLiteral("double 2"));
    Tcl_Obj* yes = plain("yes");
    int flag = 0;
    ASSERT_EQ(Tcl_GetBooleanFromObj(interp, yes, &flag), TCL_OK);
    EXPECT_STREQ(typeOf(yes), "booleanString");
    EXPECT_EQ(native(yes), QStringLiteral("string yes"));

    // A numeric or boolean hint takes the word when it holds such a value exactly; any other word is
    // converted as without a hint, never as a silent 0.
    SharedPtr<Object> widget = makeObject("Widget");
    const QByteArray handleText = Tcl_GetString(keep(newObjectHandle(widget)));
    EXPECT_EQ(toNativeValue(interp, plain(handleText), nullptr).get(), widget.get());
    EXPECT_EQ(native(plain("7"), intClass), QStringLiteral("int 7"));
    EXPECT_EQ(native(keep(Tcl_NewDoubleObj(7.0)), intClass), QStringLiteral("int 7"));
    EXPECT_EQ(native(plain("seven"), intClass), QStringLiteral("string seven"));
    EXPECT_EQ(toNativeValue(interp, plain(handleText), intClass).get(), widget.get());
    EXPECT_EQ(native(plain("off"), Inspector::self()->primitiveClass(BoolKind)), QStringLiteral("bool false"));
}

TEST_F(HandlesTest, GenericConversionOfListsAndDicts)
{
    SharedPtr<Object> widget = makeObject("Widget");
    Tcl_SetVar2Ex(interp, "w", nullptr, newObjectHandle(widget), 0);
    const Class* array = ArrayClass::registeredClass();
    const Class* map = MapClass::registeredClass();

    // A dict nested in a list becomes a map, a list nested in a list an array, a handle its object.
    SharedPtr<Object> outer = toNativeValue(interp, eval("list 1 [dict create b 2 a x] [list 2.5 {}] $w"), nullptr);
    ASSERT_EQ(outer->objectClass(), array);
    const ObjectList elements = ArrayClass::unwrapRemoteObject(outer.get());
    ASSERT_EQ(elements.size(), 4);
    EXPECT_EQ(elements[0]->className(), QStringLiteral("int"));
    EXPECT_EQ(elements[1]->objectClass(), map);
    EXPECT_EQ(elements[1]->text(), QStringLiteral("a x b 2"));
    EXPECT_EQ(elements[2]->objectClass(), array);
    EXPECT_EQ(elements[3].get(), widget.get());

    // A list is converted whatever the hint; an empty list is an empty array.
    EXPECT_EQ(native(eval("list 1 2"), Inspector::self()->primitiveClass(IntKind)), QStringLiteral("Array 1 2"));
    Tcl_Obj* a = untyped("a");
    Tcl_Obj* emptyList = Tcl_NewListObj(1, &a);
    ASSERT_EQ(Tcl_ListObjReplace(interp, emptyList, 0, 1, 0, nullptr), TCL_OK);
    ASSERT_STREQ(typeOf(keep(emptyList)), "list");
    EXPECT_EQ(native(emptyList, nullptr), QStringLiteral("Array "));

    // Untyped texts become containers only when the hint asks for one.
    EXPECT_EQ(native(keep(untyped("a 1 b 2")), map), QStringLiteral("Map a 1 b 2"));
    EXPECT_EQ(native(keep(untyped("a 1 b 2")), array), QStringLiteral("Array a 1 b 2"));
    EXPECT_EQ(native(keep(untyped("a 1 b 2")), nullptr), QStringLiteral("string a 1 b 2"));
    EXPECT_EQ(native(keep(untyped("a 1 b")), map), QStringLiteral("string a 1 b"));
    EXPECT_EQ(native(keep(untyped("{a")), array), QStringLiteral("string {a"));
    // Inside a dict the nested value was built as a list, so it comes back as an array.
    SharedPtr<Object> dict = toNativeValue(interp, eval("dict create k [list 1 2]"), map);
    EXPECT_EQ(MapClass::unwrapRemoteObject(dict.get())["k"]->objectClass(), array);
}

TEST_F(HandlesTest, TypeNamesForMessages)
{
    static const Tcl_ObjType nameless = {nullptr, nullptr, nullptr, nullptr, nullptr};
    SharedPtr<Object> push = makeObject("PushButton");
    // Untyped words and Tcl's own types: the overload messages of tclconversion_test.
    // A handle's text that Tcl has given another type converts and names the class.
    Tcl_Obj* handleText = keep(text(QString::fromUtf8(Tcl_GetString(keep(newObjectHandle(push))))));
    int length = 0;
    ASSERT_EQ(Tcl_ListObjLength(interp, handleText, &length), TCL_OK);
    EXPECT_EQ(valueTypeName(handleText), QStringLiteral("PushButton"));
    Tcl_Obj* odd = keep(Tcl_NewObj());
    odd->typePtr = &nameless;
    EXPECT_EQ(valueTypeName(odd), QStringLiteral("<type without typename>"));
    odd->typePtr = nullptr;
}
