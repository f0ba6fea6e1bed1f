// Classes, objects, methods and properties of the object model.
#include "object.h"

#include "inspector.h"
#include "realname.h"

#include <QLocale>

#include <algorithm>

bool ObjectAttribute::tolerantMatch(const ObjectAttribute& value) const
{
    if (value.f == 0 && value.i == 0)
        return true;
    return isPointer() == value.isPointer();
}

QString Argument::toString() const
{
    QString text = c ? c->className() : QStringLiteral("?");
    if (attr.isArray())
        text += QLatin1String("[]");
    if (attr.isPointer() && !(c && c->primitiveKind() == StringKind))
        text += QLatin1Char('*');
    if (attr.isReference())
        text += QLatin1Char('&');
    return text;
}

QString Signature::toString() const
{
    QStringList parts;
    for (const Argument& a : *this)
        parts << a.toString();
    return QLatin1Char('(') + parts.join(QLatin1String(", ")) + QLatin1Char(')');
}

Method::Method(const QString& name, const Signature& signature, const Class* declaringClass, MethodFunction function,
               bool isStatic, const QString& deprecation)
    : n(name), sig(signature), declaring(declaringClass), fn(std::move(function)), staticMethod(isStatic),
      deprecationText(deprecation)
{
}

QString Method::toString() const
{
    return n + sig.toString();
}

SharedPtr<Object> Method::invoke(Object* self, const ObjectList& args) const
{
    Inspector::self()->setLastError(QString());
    if (!staticMethod && !self && declaring != Inspector::self()->mutableGlobalClass()) {
        Inspector::self()->setLastError(QStringLiteral("%1 needs an object").arg(toString()));
        return SharedPtr<Object>();
    }
    if (args.size() != sig.size()) {
        Inspector::self()->setLastError(
            QStringLiteral("%1 takes %2 arguments, not %3").arg(toString()).arg(sig.size()).arg(args.size()));
        return SharedPtr<Object>();
    }
    return fn(self, args);
}

SharedPtr<Object> Constructor::construct(const ObjectList& args) const
{
    Inspector::self()->setLastError(QString());
    if (args.size() != sig.size())
        return SharedPtr<Object>();
    return fn(nullptr, args);
}

Property::Property(const QString& name, const Argument& type, GetterFunction getter, SetterFunction setter,
                   bool isStatic)
    : n(name), t(type), get_(std::move(getter)), set_(std::move(setter)), staticProperty(isStatic)
{
}

QString Property::toString() const
{
    return t.toString() + QLatin1Char(' ') + n;
}

SharedPtr<Object> Property::get(Object* object) const
{
    Inspector::self()->setLastError(QString());
    return get_ ? get_(object) : SharedPtr<Object>();
}

bool Property::set(Object* object, const SharedPtr<Object>& value) const
{
    Inspector::self()->setLastError(QString());
    return set_ && set_(object, value);
}

int Enum::value(const QString& enumerator, bool* ok) const
{
    for (const auto& v : vals) {
        if (v.first == enumerator) {
            *ok = true;
            return v.second;
        }
    }
    *ok = false;
    return 0;
}

Class::Class(const QString& name, PrimitiveKind kind) : name(name), primitive(kind) {}

Class::~Class()
{
    qDeleteAll(ownMethods);
    qDeleteAll(ownProperties);
    qDeleteAll(ownConstructors);
    qDeleteAll(ownEnums);
    qDeleteAll(ownEvents);
}

QList<const Method*> Class::methods(const QString& methodName) const
{
    QList<const Method*> found;
    for (const Method* m : ownMethods)
        if (m->name() == methodName)
            found << m;
    for (const Class* base : bases)
        found += base->methods(methodName);
    return found;
}

void Class::collectMethods(QList<const Method*>* out) const
{
    for (const Class* base : bases)
        base->collectMethods(out);
    for (const Method* m : ownMethods)
        out->append(m);
}

int Class::numMethods() const
{
    QList<const Method*> all;
    collectMethods(&all);
    return all.size();
}

const Method* Class::method(int i) const
{
    QList<const Method*> all;
    collectMethods(&all);
    return all.value(i);
}

void Class::collectProperties(QList<const Property*>* out) const
{
    for (const Class* base : bases)
        base->collectProperties(out);
    for (const Property* p : ownProperties)
        out->append(p);
}

int Class::numProperties() const
{
    QList<const Property*> all;
    collectProperties(&all);
    return all.size();
}

const Property* Class::property(int i) const
{
    QList<const Property*> all;
    collectProperties(&all);
    return all.value(i);
}

const Property* Class::property(const QString& propertyName) const
{
    for (const Property* p : ownProperties)
        if (p->name() == propertyName)
            return p;
    for (const Class* base : bases)
        if (const Property* p = base->property(propertyName))
            return p;
    return nullptr;
}

QList<const Constructor*> Class::constructors() const
{
    QList<const Constructor*> list;
    for (const Constructor* c : ownConstructors)
        list << c;
    return list;
}

int Class::numEnums() const
{
    int n = ownEnums.size();
    for (const Class* base : bases)
        n += base->numEnums();
    return n;
}

const Enum* Class::enumerator(int i) const
{
    if (i < ownEnums.size())
        return ownEnums.at(i);
    i -= ownEnums.size();
    for (const Class* base : bases) {
        if (i < base->numEnums())
            return base->enumerator(i);
        i -= base->numEnums();
    }
    return nullptr;
}

const Event* Class::event(const QString& eventName) const
{
    for (const Event* e : ownEvents)
        if (e->name() == eventName)
            return e;
    for (const Class* base : bases)
        if (const Event* e = base->event(eventName))
            return e;
    return nullptr;
}

SharedPtr<Object> Class::createNull() const
{
    return SharedPtr<Object>(new NullObject(this));
}

int Class::inheritanceDepth(const Class* from, const Class* to)
{
    if (!from || !to)
        return -1;
    if (from == to)
        return 0;
    int best = -1;
    for (const Class* base : from->bases) {
        const int d = inheritanceDepth(base, to);
        if (d >= 0 && (best < 0 || d + 1 < best))
            best = d + 1;
    }
    return best;
}

namespace {

bool isNumericKind(PrimitiveKind k)
{
    return k == OtherIntKind || k == IntKind || k == LongKind || k == BoolKind || k == DoubleKind || k == Int64Kind;
}

const Constructor* stringConstructor(const Class* cls)
{
    for (const Constructor* c : cls->constructors())
        if (c->signature().size() == 1 && c->signature().first().argumentClass() &&
            c->signature().first().argumentClass()->primitiveKind() == StringKind)
            return c;
    return nullptr;
}

} // namespace

bool Class::canConvert(const Class* to, bool, bool) const
{
    if (!to)
        return false;
    if (inherits(to))
        return true;
    if (isPrimitive() && to->isPrimitive())
        return isNumericKind(primitive) || primitive == StringKind;
    if (primitive == StringKind && stringConstructor(to))
        return true;
    return false;
}

SharedPtr<Object> Class::convert(const SharedPtr<Object>& object, const Class* to, bool destinationPointer) const
{
    if (!object || !to)
        return SharedPtr<Object>();
    if (object->isA(to))
        return object;
    Inspector* inspector = Inspector::self();
    if (isPrimitive() && to->isPrimitive()) {
        const QString text = object->text();
        bool ok = true;
        switch (to->primitiveKind()) {
        case StringKind:
            return inspector->createPrimitive(primitive == BoolKind ? QString::number(object->boolValue() ? 1 : 0)
                                                                    : text);
        case BoolKind:
            if (primitive == StringKind) {
                if (text == QLatin1String("true"))
                    return inspector->createBool(true);
                if (text == QLatin1String("false"))
                    return inspector->createBool(false);
                const double d = QLocale::c().toDouble(text, &ok);
                return ok ? inspector->createBool(d != 0) : SharedPtr<Object>();
            }
            return inspector->createBool(object->boolValue());
        case DoubleKind: {
            const double d = primitive == StringKind ? QLocale::c().toDouble(text, &ok) : object->doubleValue();
            return ok ? inspector->createDouble(d) : SharedPtr<Object>();
        }
        case Int64Kind: {
            const qint64 v = primitive == StringKind ? QLocale::c().toLongLong(text, &ok) : object->int64Value();
            return ok ? inspector->createInt64(v) : SharedPtr<Object>();
        }
        case LongKind: {
            const long v = primitive == StringKind ? long(QLocale::c().toLongLong(text, &ok)) : long(object->int64Value());
            return ok ? inspector->createLong(v) : SharedPtr<Object>();
        }
        default: {
            const int v = primitive == StringKind ? QLocale::c().toInt(text, &ok)
                                                  : (primitive == DoubleKind ? int(object->doubleValue())
                                                                             : object->intValue());
            return ok ? inspector->createInt(v) : SharedPtr<Object>();
        }
        }
    }
    if (primitive == StringKind) {
        if (const Constructor* c = stringConstructor(to)) {
            SharedPtr<Object> made = c->construct(ObjectList() << object);
            if (made && destinationPointer)
                made->setAttribute(ObjectAttribute::Pointer());
            return made;
        }
    }
    inspector->setLastError(QStringLiteral("Cannot convert %1 to %2").arg(className(), to->className()));
    return SharedPtr<Object>();
}

Object::Object(const Class* cls, ObjectAttribute attribute) : cls(cls), attr(attribute) {}

Object::~Object()
{
    for (const SharedPtr<Object>& kid : kids)
        kid->parentObject = nullptr;
}

SharedPtr<Object> Object::child(const QString& childName) const
{
    for (const SharedPtr<Object>& kid : kids)
        if (kid->name() == childName)
            return kid;
    return SharedPtr<Object>();
}

bool Object::mouseEvent(const MouseInput&)
{
    Inspector::self()->setLastError(QStringLiteral("Objects of class '%1' take no mouse input").arg(className()));
    return false;
}

bool Object::handleEvent(const QString& eventName, const ObjectList&)
{
    Inspector::self()->setLastError(
        QStringLiteral("Objects of class '%1' take no %2 events").arg(className(), eventName));
    return false;
}

SharedPtr<Object> Object::item(const QString& itemText) const
{
    for (const SharedPtr<Object>& kid : kids)
        if (kid->text() == itemText)
            return kid;
    bool isIndex = false;
    const int index = itemText.toInt(&isIndex);
    return isIndex ? kids.value(index) : SharedPtr<Object>();
}

void Object::addChild(const SharedPtr<Object>& kid)
{
    if (kid->parentObject)
        kid->parentObject->removeChild(kid.get());
    kid->parentObject = this;
    kids.append(kid);
}

void Object::removeChild(Object* kid)
{
    for (int i = 0; i < kids.size(); ++i) {
        if (kids.at(i).get() == kid) {
            kid->parentObject = nullptr;
            kids.removeAt(i);
            return;
        }
    }
}

QString Object::realName() const
{
    RealName::Pairs pairs;
    pairs << qMakePair(QStringLiteral("type"), className());
    if (!objectName.isEmpty()) {
        pairs << qMakePair(QStringLiteral("name"), objectName);
    } else if (const Property* p = cls ? cls->property(QStringLiteral("text")) : nullptr) {
        SharedPtr<Object> t = p->get(const_cast<Object*>(this));
        if (t && !t->text().isEmpty())
            pairs << qMakePair(QStringLiteral("text"), t->text());
    }
    if (parentObject)
        pairs << qMakePair(QStringLiteral("container"), parentObject->realName());
    // Twins (same type, name or text and container) are told apart by their place among the matches,
    // so that the real name finds this object again.
    const ObjectList matches = Inspector::self()->findAllObjects(RealName::format(pairs));
    for (int i = 1; i < matches.size(); ++i)
        if (matches.at(i).get() == this)
            pairs << qMakePair(QStringLiteral("occurrence"), QString::number(i + 1));
    return RealName::format(pairs);
}

QString Object::debugText() const
{
    QStringList props;
    for (int i = 0; cls && i < cls->numProperties(); ++i) {
        const Property* p = cls->property(i);
        if (p->isStatic() || !p->isReadable())
            continue;
        SharedPtr<Object> v = p->get(const_cast<Object*>(this));
        props << p->name() + QLatin1Char('=') + (v ? v->text() : QStringLiteral("?"));
    }
    return QStringLiteral("%1 %2 {%3}").arg(className(), realName(), props.join(QLatin1String(", ")));
}

QString Object::text() const
{
    if (const Property* p = cls ? cls->property(QStringLiteral("text")) : nullptr) {
        if (SharedPtr<Object> t = p->get(const_cast<Object*>(this)))
            return t->text();
    }
    return realName();
}

SharedPtr<Object> Object::cast(const Class* to)
{
    if (to && isA(to))
        return SharedPtr<Object>(this);
    Inspector::self()->setLastError(
        QStringLiteral("Cannot cast %1 to %2").arg(className(), to ? to->className() : QStringLiteral("?")));
    return SharedPtr<Object>();
}

SharedPtr<Object> Object::reference()
{
    return SharedPtr<Object>(this);
}

SharedPtr<Object> Object::dereference()
{
    return SharedPtr<Object>(this);
}

bool Object::compare(const Object* other) const
{
    return other == this;
}

bool PrimitiveObject::compare(const Object* other) const
{
    if (!other)
        return false;
    if (other == this)
        return true;
    const Class* oc = other->objectClass();
    const PrimitiveKind mine = objectClass() ? objectClass()->primitiveKind() : NoPrimitive;
    const PrimitiveKind theirs = oc ? oc->primitiveKind() : NoPrimitive;
    if (theirs == NoPrimitive)
        return false;
    if (mine == StringKind || theirs == StringKind)
        return text() == other->text();
    if (mine == BoolKind || theirs == BoolKind)
        return boolValue() == other->boolValue();
    if (mine == DoubleKind || theirs == DoubleKind)
        return doubleValue() == other->doubleValue();
    return int64Value() == other->int64Value();
}

namespace {

class ContainerClass : public Class {
public:
    using Class::Class;
};

class ArrayObject : public Object {
public:
    ArrayObject(const Class* cls, const ObjectList& elements) : Object(cls, ObjectAttribute::Value()), elements(elements) {}
    ObjectList elements;
    QString text() const override
    {
        QStringList parts;
        for (const SharedPtr<Object>& e : elements)
            parts << (e ? e->text() : QString());
        return RealName::joinList(parts);
    }
    bool compare(const Object* other) const override
    {
        auto o = dynamic_cast<const ArrayObject*>(other);
        if (!o || o->elements.size() != elements.size())
            return false;
        for (int i = 0; i < elements.size(); ++i)
            if (elements.at(i) ? !elements.at(i)->compare(o->elements.at(i).get()) : bool(o->elements.at(i)))
                return false;
        return true;
    }
};

class MapObject : public Object {
public:
    MapObject(const Class* cls, const ObjectMapValue& entries) : Object(cls, ObjectAttribute::Value()), entries(entries) {}
    ObjectMapValue entries;
    QString text() const override
    {
        QStringList parts;
        for (auto it = entries.constBegin(); it != entries.constEnd(); ++it)
            parts << it.key() << (it.value() ? it.value()->text() : QString());
        return RealName::joinList(parts);
    }
    bool compare(const Object* other) const override
    {
        auto o = dynamic_cast<const MapObject*>(other);
        if (!o || o->entries.keys() != entries.keys())
            return false;
        for (auto it = entries.constBegin(); it != entries.constEnd(); ++it) {
            const SharedPtr<Object> theirs = o->entries.value(it.key());
            if (it.value() ? !it.value()->compare(theirs.get()) : bool(theirs))
                return false;
        }
        return true;
    }
};

// A string list is an array of texts of the string class.
class StringListObject : public ArrayObject {
public:
    using ArrayObject::ArrayObject;
};

} // namespace

const Class* ArrayClass::registeredClass()
{
    static const Class* cls = new ContainerClass(QStringLiteral("Array"));
    return cls;
}

SharedPtr<Object> ArrayClass::createRemoteObject(const ObjectList& elements)
{
    return SharedPtr<Object>(new ArrayObject(registeredClass(), elements));
}

ObjectList ArrayClass::unwrapRemoteObject(const Object* object)
{
    auto array = dynamic_cast<const ArrayObject*>(object);
    return array ? array->elements : ObjectList();
}

const Class* MapClass::registeredClass()
{
    static const Class* cls = new ContainerClass(QStringLiteral("Map"));
    return cls;
}

SharedPtr<Object> MapClass::createRemoteObject(const ObjectMapValue& entries)
{
    return SharedPtr<Object>(new MapObject(registeredClass(), entries));
}

ObjectMapValue MapClass::unwrapRemoteObject(const Object* object)
{
    auto map = dynamic_cast<const MapObject*>(object);
    return map ? map->entries : ObjectMapValue();
}

ObjectMap* ObjectMap::self()
{
    static ObjectMap* map = new ObjectMap;
    return map;
}

namespace {

// A real name with its pairs in key order, containers too: two names that differ only in the order
// of their pairs name the same objects.
QString canonicalRealName(const QString& realName)
{
    RealName::Pairs pairs;
    if (!RealName::parse(realName, &pairs) || pairs.isEmpty())
        return realName;
    for (auto& pair : pairs)
        if (pair.first == QLatin1String("container"))
            pair.second = canonicalRealName(pair.second);
    std::stable_sort(pairs.begin(), pairs.end(),
                     [](const QPair<QString, QString>& a, const QPair<QString, QString>& b) { return a.first < b.first; });
    return RealName::format(pairs);
}

} // namespace

QString ObjectMap::symbolicName(const QString& realName, bool add)
{
    const QString canonical = canonicalRealName(realName);
    bool suiteStyle = false;
    for (auto it = entries.constBegin(); it != entries.constEnd(); ++it) {
        if (it.value() == realName || canonicalRealName(it.value()) == canonical)
            return it.key();
        suiteStyle = suiteStyle || it.key().startsWith(QLatin1String("$names::"));
    }
    if (!add)
        return realName;
    RealName::Pairs pairs;
    RealName::parse(realName, &pairs);
    QString base;
    if (suiteStyle) {
        // The suite's own style, $names::NAME, so that the entry is a variable of the names namespace:
        // letters, digits and underscores that Tcl's $ substitution takes whole.
        QString readable = RealName::readableName(pairs);
        for (QChar& c : readable)
            if (!(c.unicode() < 128 && (c.isLetterOrNumber() || c == QLatin1Char('_'))))
                c = QLatin1Char('_');
        base = QLatin1String("$names::") + readable;
    } else {
        // ":" followed by the name or text and the type, the way a user reads the object.
        base = QLatin1Char(':') + RealName::readableName(pairs);
    }
    QString name = base;
    for (int n = 2; entries.contains(name); ++n)
        name = base + QLatin1Char('_') + QString::number(n);
    entries.insert(name, realName);
    return name;
}

QString ObjectMap::realName(const QString& symbolicName) const
{
    return entries.value(symbolicName, symbolicName);
}

bool Object::userInput(const QString& action, const QVariantMap& parameters)
{
    MouseInput input;
    int x = 0, y = 0, width = 0, height = 0;
    const bool placed = globalBounds(&x, &y, &width, &height);
    input.x = parameters.contains(QStringLiteral("x")) ? parameters.value(QStringLiteral("x")).toInt() : width / 2;
    input.y = parameters.contains(QStringLiteral("y")) ? parameters.value(QStringLiteral("y")).toInt() : height / 2;
    input.button = parameters.value(QStringLiteral("button"), 1).toInt();
    input.modifiers = parameters.value(QStringLiteral("modifiers")).toInt();
    Q_UNUSED(placed);
    QList<MouseInput::Type> steps;
    if (action == QLatin1String("click"))
        steps << MouseInput::Press << MouseInput::Release;
    else if (action == QLatin1String("doubleClick"))
        steps << MouseInput::Press << MouseInput::Release << MouseInput::Press << MouseInput::Release;
    else if (action == QLatin1String("press"))
        steps << MouseInput::Press;
    else if (action == QLatin1String("release"))
        steps << MouseInput::Release;
    else if (action == QLatin1String("move"))
        steps << MouseInput::Move;
    if (steps.isEmpty()) {
        Inspector::self()->setLastError(QStringLiteral("A %1 of this application takes no %2 input").arg(className(), action));
        return false;
    }
    SharedPtr<Object> self(this);
    for (MouseInput::Type type : steps) {
        input.type = type;
        if (!Inspector::self()->deliverMouseInput(self, input))
            return false;
    }
    return true;
}

QByteArray Object::screenshot() const
{
    Inspector::self()->setLastError(QStringLiteral("A %1 of this application has no picture").arg(className()));
    return QByteArray();
}
