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
    // Inheritance depths and the order of inherited methods: the handle scores and the overload
    // messages of tclconversion_test; inherited properties first: property-1.9 and inspect-1.1.
    const Signature sig =
        ClassBuilder::signature({"int", "string", "string[]", "Widget*", "Color|int", "int&", "Widget[]"});
    EXPECT_EQ(sig.toString(), QStringLiteral("(int, string, string[], Widget*, Color, int&, Widget[])"));
    QList<int> flags;
    for (const Argument& a : sig)
        flags << a.attribute().flags();
    EXPECT_EQ(flags, QList<int>({0, 0x2, 0x12, 0x2, 0, 0x1, 0x10}));
    EXPECT_EQ(sig[4].integerFallback(), Inspector::self()->primitiveClass(IntKind));

    QStringList names;
    for (int kind = -1; kind <= 7; ++kind)
        if (const Class* c = Inspector::self()->primitiveClass(kind))
            names << c->className() + QString::number(c->primitiveKind());
    EXPECT_EQ(names.join(' '), QStringLiteral("short0 int1 long2 bool3 string4 double5 int646"));
}

TEST_F(ObjectModelTest, ConversionsBetweenClasses)
{
    Inspector* in = Inspector::self();
    const Class* stringClass = in->stringClass();
    const Class* intClass = in->primitiveClass(IntKind);
    const Class* color = cls("Color");

    // Which classes convert to which: the scores of tclconversion_test.
    EXPECT_FALSE(cls("Widget")->canConvert(cls("PushButton"), true, true));
    EXPECT_FALSE(intClass->canConvert(color, true, true));
    SharedPtr<Object> red = stringClass->convert(in->createPrimitive("red"), color, true);
    ASSERT_TRUE(red);
    EXPECT_TRUE(red->attribute().isPointer());
    EXPECT_EQ(red->value("name")->text(), QStringLiteral("red"));
    EXPECT_EQ(in->primitiveClass(BoolKind)->convert(in->createBool(true), stringClass, true)->text(),
              QStringLiteral("1"));
    EXPECT_TRUE(stringClass->convert(in->createPrimitive("4x"), intClass, false).isNull());
    EXPECT_TRUE(cls("Widget")->convert(makeObject("Widget"), color, false).isNull());
    EXPECT_EQ(in->lastError(), QStringLiteral("Cannot convert Widget to Color"));

    // Values compare by value across the numeric kinds and texts, other objects by identity.
    EXPECT_TRUE(in->createInt(1)->compare(in->createDouble(1.0).get()));
    EXPECT_TRUE(in->createPrimitive("1")->compare(in->createInt(1).get()));
    EXPECT_FALSE(in->createPrimitive("1.0")->compare(in->createInt(1).get()));
    EXPECT_FALSE(in->createInt64(Q_INT64_C(1) << 40)->compare(in->createInt(0).get()));
    SharedPtr<Object> w = makeObject("Widget");
    EXPECT_TRUE(w->compare(w.get()));
    EXPECT_FALSE(w->compare(makeObject("Widget").get()));
    EXPECT_TRUE(color->createNull()->compare(cls("Widget")->createNull().get()));
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
    EXPECT_EQ(map->symbolicName(okName, true), QStringLiteral(":OK_Button"));
    EXPECT_EQ(map->symbolicName(okName, true), QStringLiteral(":OK_Button")); // the same entry again
    const QString twin = "type Button text OK container {type Dialog}";
    EXPECT_EQ(map->symbolicName(twin, true), QStringLiteral(":OK_Button_2"));
    EXPECT_EQ(map->symbolicName("type Dialog", true), QStringLiteral(":Dialog"));
    EXPECT_EQ(map->realName(":OK_Button_2"), twin);
    EXPECT_EQ(map->realName(":Unknown"), QStringLiteral(":Unknown"));
    EXPECT_EQ(map->symbolicNames().size(), 3);
}
