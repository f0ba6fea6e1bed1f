// The inspector: classes, primitive values, top-level objects and lookups by real name.
#include "inspector.h"

#include "realname.h"

#include <QRegExp>
#include <QRegularExpression>

#include <functional>

namespace {

// A string list: an array whose elements are texts.
SharedPtr<Object> makeStringList(const Inspector* inspector, const QStringList& list)
{
    ObjectList elements;
    for (const QString& s : list)
        elements << inspector->createPrimitive(s);
    SharedPtr<Object> array = ArrayClass::createRemoteObject(elements);
    array->setAttribute(ObjectAttribute(ObjectAttribute::PointerFlag | ObjectAttribute::Array));
    return array;
}

} // namespace

Inspector::Inspector() : global(new Class(QStringLiteral("<global>")))
{
    static const char* const names[] = {"short", "int", "long", "bool", "string", "double", "int64"};
    for (int kind = 0; kind <= Int64Kind; ++kind) {
        Class* cls = new Class(QString::fromLatin1(names[kind]), PrimitiveKind(kind));
        primitives.append(cls);
        classes.insert(cls->className(), cls);
    }
    classes.insert(ArrayClass::registeredClass()->className(), ArrayClass::registeredClass());
    classes.insert(MapClass::registeredClass()->className(), MapClass::registeredClass());
}

Inspector* Inspector::self()
{
    // Lives until the process ends: objects handed to scripts refer to its classes to the last.
    static Inspector* inspector = new Inspector;
    return inspector;
}

void Inspector::registerClass(Class* cls)
{
    ownedClasses.append(cls);
    classes.insert(cls->className(), cls);
}

const Class* Inspector::primitiveClass(int kind) const
{
    return kind >= 0 && kind < primitives.size() ? primitives.at(kind) : nullptr;
}

SharedPtr<Object> Inspector::createInt(int value) const
{
    return SharedPtr<Object>(new PrimitiveObject(primitiveClass(IntKind), value));
}

SharedPtr<Object> Inspector::createLong(long value) const
{
    return SharedPtr<Object>(new PrimitiveObject(primitiveClass(LongKind), qlonglong(value)));
}

SharedPtr<Object> Inspector::createInt64(qint64 value) const
{
    return SharedPtr<Object>(new PrimitiveObject(primitiveClass(Int64Kind), value));
}

SharedPtr<Object> Inspector::createDouble(double value) const
{
    return SharedPtr<Object>(new PrimitiveObject(primitiveClass(DoubleKind), value));
}

SharedPtr<Object> Inspector::createBool(bool value) const
{
    return SharedPtr<Object>(new PrimitiveObject(primitiveClass(BoolKind), value));
}

SharedPtr<Object> Inspector::createDefault(const Class* cls) const
{
    switch (cls ? cls->primitiveKind() : NoPrimitive) {
    case StringKind:
        return createPrimitive(QString());
    case BoolKind:
        return createBool(false);
    case DoubleKind:
        return createDouble(0.0);
    case Int64Kind:
        return createInt64(0);
    case LongKind:
        return createLong(0);
    case IntKind:
    case OtherIntKind:
        return createInt(0);
    default:
        return cls ? cls->createNull() : SharedPtr<Object>();
    }
}

SharedPtr<Object> Inspector::createPrimitive(const QString& text) const
{
    return SharedPtr<Object>(new PrimitiveObject(primitiveClass(StringKind), text, ObjectAttribute::Pointer()));
}

SharedPtr<Object> Inspector::createStringList(const QStringList& list) const
{
    return makeStringList(this, list);
}

int Inspector::topLevelCount() const
{
    if (objectProvider) {
        providedTopLevel = objectProvider->topLevelObjects();
        return providedTopLevel.size();
    }
    return topLevel.size();
}

SharedPtr<Object> Inspector::topLevelObject(int i) const
{
    if (objectProvider) {
        if (providedTopLevel.isEmpty())
            providedTopLevel = objectProvider->topLevelObjects();
        return providedTopLevel.value(i);
    }
    return topLevel.value(i);
}

SharedPtr<Object> Inspector::topLevelObject(const QString& objectName) const
{
    const ObjectList candidates = objectProvider ? objectProvider->topLevelObjects() : topLevel;
    for (const SharedPtr<Object>& o : candidates)
        if (o->name() == objectName)
            return o;
    return SharedPtr<Object>();
}

void Inspector::addTopLevelObject(const SharedPtr<Object>& object)
{
    topLevel.append(object);
}

void Inspector::removeTopLevelObject(const Object* object)
{
    for (int i = 0; i < topLevel.size(); ++i)
        if (topLevel.at(i).get() == object) {
            topLevel.removeAt(i);
            return;
        }
}

bool Inspector::isValidRealName(const QString& realName)
{
    RealName::Pairs pairs;
    return RealName::parse(realName, &pairs) && !pairs.isEmpty();
}

bool Inspector::matches(const Object* object, const QString& realName) const
{
    RealName::Pairs pairs;
    if (!object || !RealName::parse(realName, &pairs) || pairs.isEmpty())
        return false;
    for (const auto& pair : pairs) {
        const QString& key = pair.first;
        const QString& value = pair.second;
        if (key == QLatin1String("type")) {
            const Class* cls = classByName(value);
            if (object->className() != value && !(cls && object->isA(cls)))
                return false;
        } else if (key == QLatin1String("name")) {
            if (!RealName::valueMatches(object->name(), value))
                return false;
        } else if (key == QLatin1String("container")) {
            bool found = false;
            for (const Object* p = object->parent(); p && !found; p = p->parent())
                found = matches(p, value);
            if (!found)
                return false;
        } else if (key == QLatin1String("occurrence")) {
            continue;
        } else {
            const Property* property = object->objectClass() ? object->objectClass()->property(key) : nullptr;
            if (!property || !property->isReadable())
                return false;
            SharedPtr<Object> v = property->get(const_cast<Object*>(object));
            if (!v || !RealName::valueMatches(v->text(), value))
                return false;
        }
    }
    return true;
}

void Inspector::collectMatches(const SharedPtr<Object>& object, const QString& realName, ObjectList* out,
                               bool firstOnly) const
{
    if (firstOnly && !out->isEmpty())
        return;
    if (matches(object.get(), realName))
        out->append(object);
    for (int i = 0; i < object->childCount(); ++i)
        if (SharedPtr<Object> kid = object->child(i))
            collectMatches(kid, realName, out, firstOnly);
}

ObjectList Inspector::findAllObjects(const QString& realName) const
{
    if (objectProvider)
        return objectProvider->findAllObjects(realName);
    ObjectList found;
    for (const SharedPtr<Object>& o : topLevel)
        collectMatches(o, realName, &found, false);
    return found;
}

SharedPtr<Object> Inspector::findObject(const QString& realName) const
{
    RealName::Pairs pairs;
    Inspector* self = const_cast<Inspector*>(this);
    if (!RealName::parse(realName, &pairs) || pairs.isEmpty()) {
        self->setLastError(QStringLiteral("Invalid object name '%1': expected a symbolic name of the object map "
                                          "or a real name (a list of property/value pairs)")
                               .arg(realName));
        return SharedPtr<Object>();
    }
    if (objectProvider)
        return objectProvider->findObject(realName);
    int occurrence = 1;
    for (const auto& pair : pairs)
        if (pair.first == QLatin1String("occurrence"))
            occurrence = pair.second.toInt();
    if (occurrence < 1) {
        self->setLastError(QStringLiteral("Invalid occurrence in object name '%1'").arg(realName));
        return SharedPtr<Object>();
    }
    ObjectList found;
    if (occurrence == 1) {
        for (const SharedPtr<Object>& o : topLevel)
            collectMatches(o, realName, &found, true);
    } else {
        found = findAllObjects(realName);
    }
    if (found.size() < occurrence) {
        self->setLastError(QStringLiteral("Object '%1' not found").arg(realName));
        return SharedPtr<Object>();
    }
    return found.at(occurrence - 1);
}

void Inspector::registerPropertyDelegate(const QString& className, const QStringList& declarations)
{
    delegates[className] += declarations;
}

void Inspector::setUniqueProperty(const QString& className, const QString& propertyName)
{
    uniqueProperties.insert(className, propertyName);
}

void Inspector::registerRemoteFunction(const QString& name, const RemoteFunction& function)
{
    remoteFunctions.insert(name, function);
}

SharedPtr<Object> Inspector::remoteCall(const QString& name, const ObjectList& args)
{
    setLastError(QString());
    auto it = remoteFunctions.constFind(name);
    if (it == remoteFunctions.constEnd()) {
        setLastError(QStringLiteral("The application offers no function '%1'").arg(name));
        return SharedPtr<Object>();
    }
    return (*it)(args);
}
