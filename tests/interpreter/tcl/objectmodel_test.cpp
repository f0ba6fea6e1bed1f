// The in-memory object model: classes declared with the builder, conversions between classes, real
// names (checked against Tcl's own list syntax), lookups by real name and the object map.
#include "bridgetestsupport.h"

#include "realname.h"

#include <tcl.h>

using namespace bridgetest;

namespace {

// Tcl's own reading of a list, or nothing when Tcl rejects it.
bool tclSplit(const QString& text, QStringList* out)
{
    int count = 0;
    const char** elements = nullptr;
    if (Tcl_SplitList(nullptr, text.toUtf8().constData(), &count, &elements) != TCL_OK)
        return false;
    for (int i = 0; i < count; ++i)
        out->append(QString::fromUtf8(elements[i]));
    Tcl_Free(reinterpret_cast<char*>(elements));
    return true;
}

QString tclMerge(const QStringList& elements)
{
    QList<QByteArray> utf8;
    QVector<const char*> argv;
    for (const QString& e : elements)
        utf8 << e.toUtf8();
    for (const QByteArray& e : utf8)
        argv << e.constData();
    char* merged = Tcl_Merge(argv.size(), argv.data());
    const QString text = QString::fromUtf8(merged);
    Tcl_Free(merged);
    return text;
}

class ObjectModelTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { Tcl_FindExecutable(nullptr); }
    void SetUp() override
    {
        declareModel();
        Inspector::self()->clearTopLevelObjects();
        ObjectMap::self()->clear();
    }
};

} // namespace

TEST_F(ObjectModelTest, BuilderDeclaresMembersAndTypeTexts)
{
    const Class* widget = cls("Widget");
    const Class* push = cls("PushButton");
    ASSERT_TRUE(widget && push);
    EXPECT_EQ(Class::inheritanceDepth(push, widget), 2);
    EXPECT_EQ(Class::inheritanceDepth(push, push), 0);
    EXPECT_EQ(Class::inheritanceDepth(widget, push), -1);
    EXPECT_EQ(Class::inheritanceDepth(push, cls("Other")), -1);
    EXPECT_EQ(Class::inheritanceDepth(nullptr, widget), -1);

    // Own methods first, then the nearest base's; inherited properties come first.
    const QList<const Method*> clicks = push->methods("click");
    ASSERT_EQ(clicks.size(), 2);
    EXPECT_EQ(clicks[0]->toString(), QStringLiteral("click(string)"));
    EXPECT_EQ(clicks[0]->declaringClass(), push);
    EXPECT_EQ(clicks[1]->declaringClass(), cls("Button"));
    ASSERT_EQ(push->numProperties(), 2);
    EXPECT_EQ(push->property(0)->name(), QStringLiteral("text"));
    EXPECT_EQ(push->property("enabled")->type(), Inspector::self()->primitiveClass(BoolKind));

    const Signature sig =
        ClassBuilder::signature({"int", "string", "string[]", "Widget*", "Color|int", "int&", "Widget[]"});
    EXPECT_EQ(sig.toString(), QStringLiteral("(int, string, string[], Widget*, Color, int&, Widget[])"));
    EXPECT_EQ(sig[0].attribute().flags(), 0);
    EXPECT_EQ(sig[1].attribute().flags(), 0x2);
    EXPECT_EQ(sig[2].attribute().flags(), 0x12);
    EXPECT_EQ(sig[3].attribute().flags(), 0x2);
    EXPECT_EQ(sig[4].integerFallback(), Inspector::self()->primitiveClass(IntKind));
    EXPECT_EQ(sig[5].attribute().flags(), 0x1);

    static const char* const names[] = {"short", "int", "long", "bool", "string", "double", "int64"};
    for (int kind = 0; kind <= 6; ++kind) {
        ASSERT_NE(Inspector::self()->primitiveClass(kind), nullptr);
        EXPECT_EQ(Inspector::self()->primitiveClass(kind)->className(), QLatin1String(names[kind]));
        EXPECT_EQ(Inspector::self()->primitiveClass(kind)->primitiveKind(), kind);
    }
    EXPECT_EQ(Inspector::self()->primitiveClass(7), nullptr);
    EXPECT_EQ(Inspector::self()->primitiveClass(-1), nullptr);

    // Calling: a wrong argument count and a member function without an object fail with a reason.
    EXPECT_TRUE(clicks[1]->invoke(nullptr, ObjectList() << Inspector::self()->createInt(1)).isNull());
    EXPECT_EQ(Inspector::self()->lastError(), QStringLiteral("click(int) needs an object"));
    SharedPtr<Object> button = makeObject("Button");
    EXPECT_TRUE(clicks[1]->invoke(button.get(), ObjectList()).isNull());
    EXPECT_EQ(Inspector::self()->lastError(), QStringLiteral("click(int) takes 1 arguments, not 0"));
    EXPECT_FALSE(clicks[1]->invoke(button.get(), ObjectList() << Inspector::self()->createInt(1)).isNull());
}

TEST_F(ObjectModelTest, ConversionsBetweenClasses)
{
    Inspector* in = Inspector::self();
    const Class* stringClass = in->stringClass();
    const Class* intClass = in->primitiveClass(IntKind);
    const Class* color = cls("Color");

    EXPECT_TRUE(cls("PushButton")->canConvert(cls("Widget"), true, true));
    EXPECT_FALSE(cls("Widget")->canConvert(cls("PushButton"), true, true));
    EXPECT_FALSE(cls("Widget")->canConvert(stringClass, true, true));
    EXPECT_TRUE(stringClass->canConvert(color, true, true)); // through Color's text constructor
    EXPECT_FALSE(intClass->canConvert(color, true, true));

    SharedPtr<Object> red = stringClass->convert(in->createPrimitive("red"), color, true);
    ASSERT_TRUE(red);
    EXPECT_EQ(red->objectClass(), color);
    EXPECT_TRUE(red->attribute().isPointer());
    EXPECT_EQ(red->value("name")->text(), QStringLiteral("red"));

    EXPECT_EQ(intClass->convert(in->createInt(42), stringClass, true)->text(), QStringLiteral("42"));
    EXPECT_EQ(in->primitiveClass(BoolKind)->convert(in->createBool(true), stringClass, true)->text(),
              QStringLiteral("1"));
    EXPECT_TRUE(stringClass->convert(in->createPrimitive("4x"), intClass, false).isNull());
    EXPECT_EQ(stringClass->convert(in->createPrimitive("false"), in->primitiveClass(BoolKind), false)->boolValue(),
              false);
    EXPECT_EQ(stringClass->convert(in->createPrimitive("2.5"), in->primitiveClass(DoubleKind), false)->doubleValue(),
              2.5);
    EXPECT_TRUE(cls("Widget")->convert(makeObject("Widget"), color, false).isNull());
    EXPECT_EQ(in->lastError(), QStringLiteral("Cannot convert Widget to Color"));

    // Values compare by value across the numeric kinds and texts, other objects by identity.
    EXPECT_TRUE(in->createInt(1)->compare(in->createDouble(1.0).get()));
    EXPECT_TRUE(in->createPrimitive("1")->compare(in->createInt(1).get()));
    EXPECT_FALSE(in->createPrimitive("1.0")->compare(in->createInt(1).get()));
    EXPECT_TRUE(in->createInt64(Q_INT64_C(1) << 40)->compare(in->createInt64(Q_INT64_C(1) << 40).get()));
    EXPECT_FALSE(in->createInt64(Q_INT64_C(1) << 40)->compare(in->createInt(0).get()));
    SharedPtr<Object> w = makeObject("Widget");
    EXPECT_TRUE(w->compare(w.get()));
    EXPECT_FALSE(w->compare(makeObject("Widget").get()));
    EXPECT_TRUE(color->createNull()->compare(cls("Widget")->createNull().get()));
    EXPECT_EQ(color->createNull()->text(), QStringLiteral("0"));

    SharedPtr<Object> array =
        ArrayClass::createRemoteObject(ObjectList() << in->createInt(1) << SharedPtr<Object>() << in->createPrimitive("x y"));
    EXPECT_EQ(ArrayClass::unwrapRemoteObject(array.get()).size(), 3);
    EXPECT_EQ(array->text(), QStringLiteral("1 {} {x y}"));
    EXPECT_TRUE(ArrayClass::unwrapRemoteObject(w.get()).isEmpty());
    ObjectMapValue entries;
    entries.insert("b", in->createInt(2));
    entries.insert("a", in->createInt(1));
    SharedPtr<Object> map = MapClass::createRemoteObject(entries);
    EXPECT_EQ(map->text(), QStringLiteral("a 1 b 2"));
    EXPECT_TRUE(map->compare(MapClass::createRemoteObject(entries).get()));
    EXPECT_EQ(in->createStringList({"a", "b c"})->attribute().flags(), 0x12);
}

// The formatter's output must read back the same, in Tcl and here, and Tcl's own lists must read the
// same here as in Tcl: scripts build and take apart real names with list commands.
TEST_F(ObjectModelTest, RealNameListSyntaxAgreesWithTcl)
{
    const QStringList awkward = {
        "", " ", "a b", "{", "}", "}{", "{a}", "a{b", "\"", "\"a b\"", "\\", "a\\", "\\n", "$x", "[cmd]", ";",
        "#hash", "a#", "tab\there", "line\nbreak", "cr\rx", "vt\vx", "ff\fx", QString::fromUtf8("ünï cödé 日本"),
        "{unbalanced \\", "a\\}", "x\\{y", "trailing\\\\", "{a b} c", "\\{", "  lead", "trail  ",
    };
    for (const QString& e : awkward) {
        const QStringList one = {QStringLiteral("type"), e};
        QStringList ours, tcls;
        const QString formatted = RealName::joinList(one);
        ASSERT_TRUE(RealName::splitList(formatted, &ours)) << qPrintable(formatted);
        EXPECT_EQ(ours, one) << qPrintable(formatted);
        ASSERT_TRUE(tclSplit(formatted, &tcls)) << qPrintable(formatted);
        EXPECT_EQ(tcls, one) << "Tcl reads our " << qPrintable(formatted);

        const QString byTcl = tclMerge(one);
        ours.clear();
        ASSERT_TRUE(RealName::splitList(byTcl, &ours)) << qPrintable(byTcl);
        EXPECT_EQ(ours, one) << "we read Tcl's " << qPrintable(byTcl);
    }
    EXPECT_EQ(RealName::joinList(awkward).isEmpty(), false);
    QStringList all;
    ASSERT_TRUE(RealName::splitList(RealName::joinList(awkward), &all));
    EXPECT_EQ(all, awkward);

    // Hand-written lists with Tcl's backslash forms read as Tcl reads them.
    for (const char* text : {"a\\x41b", "\\x4g", "caf\\u00e9", "\\101", "\\777", "x\\ty", "\"q\\\"x\" y", "a\\\nb", "{br\\}ace}"}) {
        QStringList ours, tcls;
        ASSERT_TRUE(tclSplit(QString::fromUtf8(text), &tcls)) << text;
        ASSERT_TRUE(RealName::splitList(QString::fromUtf8(text), &ours)) << text;
        EXPECT_EQ(ours, tcls) << text;
    }

    // What Tcl rejects is rejected here too.
    for (const char* text : {"{a", "{a}b", "\"a", "\"a\"b", "type {x"}) {
        QStringList ours, tcls;
        EXPECT_FALSE(tclSplit(QString::fromUtf8(text), &tcls)) << text;
        EXPECT_FALSE(RealName::splitList(QString::fromUtf8(text), &ours)) << text;
    }

    RealName::Pairs pairs;
    EXPECT_FALSE(RealName::parse("type Button text", &pairs));
    pairs.clear();
    ASSERT_TRUE(RealName::parse("type Button container {type Frame name {a b}}", &pairs));
    ASSERT_EQ(pairs.size(), 2);
    EXPECT_EQ(pairs[1].second, QStringLiteral("type Frame name {a b}"));
    EXPECT_EQ(RealName::format(pairs), QStringLiteral("type Button container {type Frame name {a b}}"));
    EXPECT_FALSE(Inspector::isValidRealName(""));
    EXPECT_FALSE(Inspector::isValidRealName("{type"));
    EXPECT_TRUE(Inspector::isValidRealName("type Button"));
}

TEST_F(ObjectModelTest, FindObjectByRealName)
{
    Inspector* in = Inspector::self();
    // main (MainWindow is a Widget) > two unnamed frames > a button "OK" each, and a named "Cancel".
    SharedPtr<Object> main = makeObject("Widget", "main");
    SharedPtr<Object> frames[2] = {makeObject("Widget"), makeObject("Widget")};
    SharedPtr<Object> ok[2] = {makeObject("PushButton"), makeObject("Button")};
    SharedPtr<Object> cancel = makeObject("Button", "cancel");
    for (int i = 0; i < 2; ++i) {
        ok[i]->setValue("text", in->createPrimitive("OK"));
        frames[i]->addChild(ok[i]);
        main->addChild(frames[i]);
    }
    frames[1]->addChild(cancel);
    in->addTopLevelObject(main);

    EXPECT_EQ(in->findObject("type Button text OK").get(), ok[0].get()); // a PushButton is a Button
    EXPECT_EQ(in->findObject("type Button text OK occurrence 2").get(), ok[1].get());
    EXPECT_EQ(in->findObject("type PushButton text OK occurrence 2").get(), nullptr);
    EXPECT_EQ(in->findObject("type Button text OK occurrence 0").get(), nullptr);
    EXPECT_EQ(in->findObject("type Button text OK occurrence x").get(), nullptr);
    EXPECT_EQ(in->findObject("type Widget name main").get(), main.get());
    EXPECT_EQ(in->findObject("type Button container {type Widget name main} name cancel").get(), cancel.get());
    EXPECT_EQ(in->findObject("type Button name cancel container {type Button}").get(), nullptr);
    EXPECT_EQ(in->findObject("type Button colour red").get(), nullptr); // no such property
    EXPECT_EQ(in->findObject("type Nowhere").get(), nullptr);
    EXPECT_EQ(in->findObject("{type Button").get(), nullptr);
    EXPECT_EQ(in->findAllObjects("type Button").size(), 3);
    EXPECT_EQ(in->topLevelObject("main").get(), main.get());

    // Every object's own real name finds that object again, twins included.
    const SharedPtr<Object> all[] = {main, frames[0], frames[1], ok[0], ok[1], cancel};
    for (const SharedPtr<Object>& o : all)
        EXPECT_EQ(in->findObject(o->realName()).get(), o.get()) << qPrintable(o->realName());
    EXPECT_EQ(ok[0]->realName(), QStringLiteral("type PushButton text OK container {type Widget container {type "
                                                 "Widget name main}}"));
}

TEST_F(ObjectModelTest, ObjectMapNamesRealNamesAndBack)
{
    ObjectMap* map = ObjectMap::self();
    const QString okName = "type Button text OK";
    EXPECT_EQ(map->symbolicName(okName, false), okName); // not in the map, nothing added
    EXPECT_TRUE(map->symbolicNames().isEmpty());

    const QString ok = map->symbolicName(okName, true);
    EXPECT_EQ(ok, QStringLiteral(":OK_Button"));
    EXPECT_EQ(map->symbolicName(okName, true), ok); // the same entry again
    const QString twin = map->symbolicName("type Button text OK container {type Dialog}", true);
    EXPECT_EQ(twin, QStringLiteral(":OK_Button_2"));
    EXPECT_EQ(map->symbolicName("type Dialog", true), QStringLiteral(":Dialog"));
    EXPECT_EQ(map->symbolicName(QString::fromUtf8("type Label name {Grüße an alle}"), true),
              QString::fromUtf8(":Grüße an alle_Label"));

    EXPECT_EQ(map->realName(ok), okName);
    EXPECT_EQ(map->realName(twin), QStringLiteral("type Button text OK container {type Dialog}"));
    EXPECT_EQ(map->realName(":Unknown"), QStringLiteral(":Unknown"));
    EXPECT_EQ(map->symbolicNames().size(), 4);
}
