// The script tests' own native API: see nativefixtures.h.
#include "nativefixtures.h"

#include "nativeapi.h"
#include "scriptargument.h"
#include "scriptcontext.h"

namespace
{

int live = 0;
QString defaultName = QStringLiteral("shape");
const char shapeId = 0, rectangleId = 0, squareId = 0, orphanId = 0;

struct Shape : NativeScriptObject {
    QString name = defaultName;
    QString secret;
    Shape() { ++live; }
    ~Shape() override { --live; }
    const void* typeId() const override { return &shapeId; }
    virtual QString kind() const { return QStringLiteral("shape"); }
};

struct Rectangle : Shape {
    int width, height;
    Rectangle(int w, int h) : width(w), height(h) {}
    const void* typeId() const override { return &rectangleId; }
    QString kind() const override { return QStringLiteral("rectangle"); }
};

struct Square : Rectangle {
    explicit Square(int side) : Rectangle(side, side) {}
    const void* typeId() const override { return &squareId; }
    QString kind() const override { return QStringLiteral("square"); }
};

// A native object of a type nobody registered.
struct Orphan : NativeScriptObject {
    const void* typeId() const override { return &orphanId; }
};

bool text(ScriptContext* c, const QString& value)
{
    c->setResult(c->createStringArgument(value));
    return true;
}

bool fail(ScriptContext* c, const QString& message)
{
    c->setError(message, ScriptContext::PlainError);
    return false;
}

QStringList words(ScriptContext* c, int from = 0)
{
    QStringList list;
    for (int i = from; i < c->argumentCount(); ++i)
        list << c->argument(i)->toString();
    return list;
}

template <class T> T* self(ScriptContext* c)
{
    return dynamic_cast<T*>(c->thisObject());
}

// An integer argument, or an error naming what it was for.
bool integer(ScriptContext* c, int index, const QString& what, int* out)
{
    SharedPtr<ScriptArgument> a = c->argument(index);
    if (!a || !a->isInteger())
        return fail(c, QStringLiteral("%1: '%2' is not an integer").arg(what, a ? a->toString() : QString()));
    *out = a->toInt();
    return true;
}

NativeScriptType shapeType()
{
    NativeScriptType t;
    t.properties[QStringLiteral("name")] = {[](ScriptContext* c) { return text(c, self<Shape>(c)->name); },
                                            [](ScriptContext* c) {
                                                self<Shape>(c)->name = c->argument(0)->toString();
                                                return true;
                                            }};
    t.properties[QStringLiteral("kind")] = {[](ScriptContext* c) { return text(c, self<Shape>(c)->kind()); },
                                            {}};
    t.properties[QStringLiteral("secret")] = {{}, [](ScriptContext* c) {
                                                  self<Shape>(c)->secret = c->argument(0)->toString();
                                                  return true;
                                              }};
    t.methods[QStringLiteral("describe")] = {[](ScriptContext* c) {
                                                 QStringList parts = words(c);
                                                 parts << self<Shape>(c)->kind() << self<Shape>(c)->name;
                                                 return text(c, parts.join(QLatin1Char(' ')));
                                             },
                                             {},
                                             {QStringLiteral("prefix")}};
    // The object itself, as a new script value.
    t.methods[QStringLiteral("self")] = {[](ScriptContext* c) {
                                             c->setResult(c->createNativeObjectArgument(self<Shape>(c)));
                                             return true;
                                         },
                                         {},
                                         {}};
    t.methods[QStringLiteral("peek")] = {
        [](ScriptContext* c) { return text(c, self<Shape>(c)->secret); }, {}, {}};
    t.methods[QStringLiteral("fail")] = {[](ScriptContext*) { return false; }, {}, {}};
    t.methods[QStringLiteral("failWith")] = {
        [](ScriptContext* c) { return fail(c, c->argument(0)->toString()); },
        {QStringLiteral("message")},
        {}};
    return t;
}

NativeScriptType rectangleType()
{
    NativeScriptType t;
    t.super = &shapeId;
    t.constructor = [](ScriptContext* c) -> SharedPtr<NativeScriptObject> {
        int w = 0, h = 0;
        if (c->argumentCount() != 2) {
            fail(c, QStringLiteral("Rectangle needs a width and a height"));
            return nullptr;
        }
        if (!integer(c, 0, QStringLiteral("Rectangle width"), &w) ||
            !integer(c, 1, QStringLiteral("Rectangle height"), &h))
            return nullptr;
        return SharedPtr<NativeScriptObject>(new Rectangle(w, h));
    };
    auto intProperty = [](int Rectangle::*member, const QString& what) {
        return NativeProperty{
            [member](ScriptContext* c) {
                c->setResult(c->createIntArgument(self<Rectangle>(c)->*member));
                return true;
            },
            [member, what](ScriptContext* c) { return integer(c, 0, what, &(self<Rectangle>(c)->*member)); }};
    };
    t.properties[QStringLiteral("width")] = intProperty(&Rectangle::width, QStringLiteral("Rectangle width"));
    t.properties[QStringLiteral("height")] =
        intProperty(&Rectangle::height, QStringLiteral("Rectangle height"));
    t.properties[QStringLiteral("area")] = {[](ScriptContext* c) {
                                                Rectangle* r = self<Rectangle>(c);
                                                c->setResult(c->createIntArgument(r->width * r->height));
                                                return true;
                                            },
                                            {}};
    t.methods[QStringLiteral("scale")] = {
        [](ScriptContext* c) {
            int x = 0, y = 0;
            if (!integer(c, 0, QStringLiteral("scale"), &x))
                return false;
            y = x;
            if (c->argumentCount() > 1 && !integer(c, 1, QStringLiteral("scale"), &y))
                return false;
            Rectangle* r = self<Rectangle>(c);
            r->width *= x;
            r->height *= y;
            return text(c, QStringLiteral("%1x%2").arg(r->width).arg(r->height));
        },
        {QStringLiteral("factor")},
        {QStringLiteral("factorY")}};
    t.methods[QStringLiteral("collect")] = {[](ScriptContext* c) {
                                                QList<SharedPtr<ScriptArgument>> list;
                                                for (const QString& w : words(c))
                                                    list << c->createStringArgument(w);
                                                c->setResult(c->createListArgument(list));
                                                return true;
                                            },
                                            {QStringLiteral("first")},
                                            {QStringLiteral("second"), QStringLiteral("...")}};
    t.staticMethods[QStringLiteral("unit")] = {
        [](ScriptContext* c) {
            c->setResult(c->createNativeObjectArgument(SharedPtr<NativeScriptObject>(new Rectangle(1, 1))));
            return true;
        },
        {},
        {}};
    t.staticMethods[QStringLiteral("orphan")] = {
        [](ScriptContext* c) {
            c->setResult(c->createNativeObjectArgument(SharedPtr<NativeScriptObject>(new Orphan)));
            return true;
        },
        {},
        {}};
    t.staticMethods[QStringLiteral("sum")] = {[](ScriptContext* c) {
                                                  int total = 0;
                                                  for (int i = 0; i < c->argumentCount(); ++i)
                                                      total += c->argument(i)->toInt();
                                                  c->setResult(c->createIntArgument(total));
                                                  return true;
                                              },
                                              {QStringLiteral("a")},
                                              {QStringLiteral("...")}};
    // Shadowed by the type command's own option: never reachable.
    t.staticMethods[QStringLiteral("list")] = {
        [](ScriptContext* c) { return text(c, QStringLiteral("static")); }, {}, {}};
    t.staticProperties[QStringLiteral("alive")] = {[](ScriptContext* c) {
                                                       c->setResult(c->createIntArgument(live));
                                                       return true;
                                                   },
                                                   {}};
    t.staticProperties[QStringLiteral("defaultName")] = {
        [](ScriptContext* c) { return text(c, defaultName); },
        [](ScriptContext* c) {
            defaultName = c->argument(0)->toString();
            return true;
        }};
    t.staticProperties[QStringLiteral("sink")] = {{}, [](ScriptContext*) { return true; }};
    return t;
}

NativeScriptType squareType()
{
    NativeScriptType t;
    t.super = &rectangleId;
    t.constructor = [](ScriptContext* c) -> SharedPtr<NativeScriptObject> {
        int side = 0;
        if (!integer(c, 0, QStringLiteral("Square side"), &side))
            return nullptr;
        return SharedPtr<NativeScriptObject>(new Square(side));
    };
    // Overrides Shape's describe with a mandatory argument.
    t.methods[QStringLiteral("describe")] = {[](ScriptContext* c) {
                                                 return text(c, QStringLiteral("square of side %1 (%2)")
                                                                    .arg(self<Square>(c)->width)
                                                                    .arg(c->argument(0)->toString()));
                                             },
                                             {QStringLiteral("note")},
                                             {}};
    return t;
}

NativeScriptNamespace calcNamespace()
{
    NativeScriptNamespace ns;
    ns.functions[QStringLiteral("sum")] = {
        [](ScriptContext* c) { return text(c, words(c).join(QLatin1Char('+'))); },
        {QStringLiteral("a"), QStringLiteral("b")},
        {QStringLiteral("c"), QStringLiteral("...")}};
    ns.functions[QStringLiteral("div")] = {[](ScriptContext* c) {
                                               int a = 0, b = 0;
                                               if (!integer(c, 0, QStringLiteral("Calc div"), &a) ||
                                                   !integer(c, 1, QStringLiteral("Calc div"), &b))
                                                   return false;
                                               if (b == 0)
                                                   return fail(c,
                                                               QStringLiteral("Calc div: division by zero"));
                                               c->setResult(c->createIntArgument(a / b));
                                               return true;
                                           },
                                           {QStringLiteral("a"), QStringLiteral("b")},
                                           {}};
    ns.functions[QStringLiteral("nothing")] = {[](ScriptContext*) { return true; }, {}, {}};
    return ns;
}

} // namespace

void NativeFixtures::registerAll(Interpreter* interpreter)
{
    interpreter->registerNativeFunction(
        QStringLiteral("joinWords"),
        [](ScriptContext* c) { return text(c, words(c).join(QLatin1Char('-'))); },
        {QStringLiteral("a"), QStringLiteral("b")}, {QStringLiteral("c"), QStringLiteral("...")}, QString());
    interpreter->registerNativeNamespace(QStringLiteral("Calc"), calcNamespace());
    interpreter->registerNativeType(QStringLiteral("Shape"), &shapeId, shapeType());
    interpreter->registerNativeType(QStringLiteral("Rectangle"), &rectangleId, rectangleType());
    interpreter->registerNativeType(QStringLiteral("Square"), &squareId, squareType());
}

int NativeFixtures::liveShapes()
{
    return live;
}
