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

bool answer(ScriptContext* c, const SharedPtr<ScriptArgument>& value)
{
    c->setResult(value);
    return true;
}

bool text(ScriptContext* c, const QString& value)
{
    return answer(c, c->createStringArgument(value));
}

bool fail(ScriptContext* c, const QString& message)
{
    c->setError(message, ScriptContext::PlainError);
    return false;
}

QStringList words(ScriptContext* c)
{
    QStringList list;
    for (int i = 0; i < c->argumentCount(); ++i)
        list << c->argument(i)->toString();
    return list;
}

// A setter's work: the first argument's text goes to the place.
bool store(ScriptContext* c, QString* place)
{
    *place = c->argument(0)->toString();
    return true;
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

NativeMethod method(const NativeFunction& f, const QStringList& mandatory = {},
                    const QStringList& optional = {})
{
    return NativeMethod{f, mandatory, optional};
}

NativeScriptType shapeType()
{
    NativeScriptType t;
    t.properties["name"] = {[](ScriptContext* c) { return text(c, self<Shape>(c)->name); },
                            [](ScriptContext* c) { return store(c, &self<Shape>(c)->name); }};
    t.properties["kind"] = {[](ScriptContext* c) { return text(c, self<Shape>(c)->kind()); }, {}};
    t.properties["secret"] = {{}, [](ScriptContext* c) { return store(c, &self<Shape>(c)->secret); }};
    t.methods["describe"] = method(
        [](ScriptContext* c) {
            return text(c, (words(c) << self<Shape>(c)->kind() << self<Shape>(c)->name).join(' '));
        },
        {}, {"prefix"});
    // The object itself, as a new script value.
    t.methods["self"] =
        method([](ScriptContext* c) { return answer(c, c->createNativeObjectArgument(self<Shape>(c))); });
    return t;
}

NativeProperty intProperty(int Rectangle::*member, const QString& what)
{
    return NativeProperty{
        [member](ScriptContext* c) { return answer(c, c->createIntArgument(self<Rectangle>(c)->*member)); },
        [member, what](ScriptContext* c) { return integer(c, 0, what, &(self<Rectangle>(c)->*member)); }};
}

NativeScriptType rectangleType()
{
    NativeScriptType t;
    t.super = &shapeId;
    t.constructor = [](ScriptContext* c) -> SharedPtr<NativeScriptObject> {
        int w = 0, h = 0;
        if (!integer(c, 0, "Rectangle width", &w) || !integer(c, 1, "Rectangle height", &h))
            return nullptr;
        return SharedPtr<NativeScriptObject>(new Rectangle(w, h));
    };
    t.properties["width"] = intProperty(&Rectangle::width, "Rectangle width");
    t.properties["height"] = intProperty(&Rectangle::height, "Rectangle height");
    t.properties["area"] = {[](ScriptContext* c) {
                                Rectangle* r = self<Rectangle>(c);
                                return answer(c, c->createIntArgument(r->width * r->height));
                            },
                            {}};
    t.methods["scale"] = method( // factorY defaults to factor
        [](ScriptContext* c) {
            int x = 0, y = 0;
            if (!integer(c, 0, "scale", &x) || !integer(c, c->argumentCount() - 1, "scale", &y))
                return false;
            Rectangle* r = self<Rectangle>(c);
            r->width *= x;
            r->height *= y;
            return text(c, QStringLiteral("%1x%2").arg(r->width).arg(r->height));
        },
        {"factor"}, {"factorY"});
    t.staticMethods["orphan"] = method([](ScriptContext* c) {
        return answer(c, c->createNativeObjectArgument(SharedPtr<NativeScriptObject>(new Orphan)));
    });
    t.staticMethods["sum"] = method(
        [](ScriptContext* c) {
            int total = 0;
            for (const QString& w : words(c))
                total += w.toInt();
            return answer(c, c->createIntArgument(total));
        },
        {"a"}, {"..."});
    // Shadowed by the type command's own option: never reachable.
    t.staticMethods["list"] = method([](ScriptContext* c) { return text(c, "static"); });
    t.staticProperties["alive"] = {[](ScriptContext* c) { return answer(c, c->createIntArgument(live)); },
                                   {}};
    t.staticProperties["defaultName"] = {[](ScriptContext* c) { return text(c, defaultName); },
                                         [](ScriptContext* c) { return store(c, &defaultName); }};
    t.staticProperties["sink"] = {{}, [](ScriptContext*) { return true; }};
    return t;
}

NativeScriptType squareType()
{
    NativeScriptType t;
    t.super = &rectangleId;
    t.constructor = [](ScriptContext* c) -> SharedPtr<NativeScriptObject> {
        int side = 0;
        // A side of 0 gives no object, and no reason either.
        if (!integer(c, 0, "Square side", &side) || side == 0)
            return nullptr;
        return SharedPtr<NativeScriptObject>(new Square(side));
    };
    // Overrides Shape's describe with a mandatory argument.
    t.methods["describe"] = method(
        [](ScriptContext* c) {
            return text(c, QStringLiteral("square of side %1 (%2)")
                               .arg(self<Square>(c)->width)
                               .arg(c->argument(0)->toString()));
        },
        {"note"});
    // Hides Rectangle's area, reading the width only.
    t.properties["area"] = {[](ScriptContext* c) {
                                return answer(
                                    c, c->createIntArgument(self<Square>(c)->width * self<Square>(c)->width));
                            },
                            {}};
    return t;
}

NativeScriptNamespace calcNamespace()
{
    NativeScriptNamespace ns;
    ns.functions["sum"] =
        method([](ScriptContext* c) { return text(c, words(c).join('+')); }, {"a", "b"}, {"c", "..."});
    ns.functions["mul"] = method(
        [](ScriptContext* c) {
            int a = 0, b = 0;
            if (!integer(c, 0, "Calc mul", &a) || !integer(c, 1, "Calc mul", &b))
                return false;
            return answer(c, c->createIntArgument(a * b));
        },
        {"a", "b"});
    ns.functions["nothing"] = method([](ScriptContext*) { return true; });
    return ns;
}

} // namespace

void NativeFixtures::registerAll(Interpreter* interpreter)
{
    interpreter->registerNativeFunction(
        "joinWords", [](ScriptContext* c) { return text(c, words(c).join('-')); }, {"a", "b"}, {"c", "..."},
        QString());
    interpreter->registerNativeNamespace("Calc", calcNamespace());
    interpreter->registerNativeType("Shape", &shapeId, shapeType());
    interpreter->registerNativeType("Rectangle", &rectangleId, rectangleType());
    interpreter->registerNativeType("Square", &squareId, squareType());
}
