// The framework's variable watcher: scopes, and the rendering of registered objects.
#include "variablewatcher.h"

VariableWatcher::~VariableWatcher() = default;

VariableBindings VariableWatcher::variableBindings(const QString& scope)
{
    if (scope.isEmpty())
        return globalBindings();
    if (isLanguageObject(scope))
        return languageObjectBindings(scope);
    if (SharedPtr<Object> object = objects.value(scope))
        return objectBindings(scope, object);
    return VariableBindings();
}

bool VariableWatcher::objectHasComponents(const Object* object)
{
    if (!object || object->isNull() || object->isInvalid() || !object->objectClass())
        return false;
    const Class* cls = object->objectClass();
    for (int i = 0; i < cls->numProperties(); ++i) {
        const Property* p = cls->property(i);
        if (p->isReadable() && !p->isStatic())
            return true;
    }
    return false;
}

void VariableWatcher::registerTarvinObject(const QString& entryName, const SharedPtr<Object>& object)
{
    objects.insert(entryName, object);
}

VariableBindings VariableWatcher::objectBindings(const QString& entryName, const SharedPtr<Object>& object)
{
    VariableBindings bindings;
    // The application may have removed the object since it was listed.
    if (!objectHasComponents(object.get()))
        return bindings;
    const QString base = entryName.startsWith(QLatin1Char('+')) ? entryName.mid(1) : entryName;
    const Class* cls = object->objectClass();
    for (int i = 0; i < cls->numProperties(); ++i) {
        const Property* p = cls->property(i);
        if (!p->isReadable() || p->isStatic())
            continue;
        const QString name = base + QLatin1Char('.') + p->name();
        const SharedPtr<Object> value = p->get(object.get());
        const QString typeName = p->type() ? p->type()->className() : QStringLiteral("?");
        if (!value) {
            bindings << VariableBinding(name, VariableValue(typeName, QString()));
        } else if (objectHasComponents(value.get())) {
            registerTarvinObject(QLatin1Char('+') + name, value);
            bindings << VariableBinding(QLatin1Char('+') + name, VariableValue(value->className()));
        } else {
            bindings << VariableBinding(name, VariableValue(typeName, value->text()));
        }
    }
    return bindings;
}
