// The class builder.
#include "builder.h"

ClassBuilder::ClassBuilder(const QString& name) : c(new Class(name))
{
    Inspector::self()->registerClass(c);
}

ClassBuilder ClassBuilder::global()
{
    return ClassBuilder(Inspector::self()->mutableGlobalClass());
}

ClassBuilder ClassBuilder::extend(const QString& name)
{
    return ClassBuilder(const_cast<Class*>(Inspector::self()->classByName(name)));
}

ClassBuilder& ClassBuilder::base(const QString& baseName)
{
    if (const Class* b = Inspector::self()->classByName(baseName))
        c->addBase(b);
    else
        qWarning("ClassBuilder: %s: unknown base class %s", qPrintable(c->className()), qPrintable(baseName));
    return *this;
}

Argument ClassBuilder::argument(const QString& typeText)
{
    QString type = typeText.trimmed();
    const Class* fallback = nullptr;
    const int bar = type.indexOf(QLatin1Char('|'));
    if (bar >= 0) {
        fallback = Inspector::self()->classByName(type.mid(bar + 1).trimmed());
        type = type.left(bar).trimmed();
    }
    int flags = 0;
    while (true) {
        if (type.endsWith(QLatin1String("[]"))) {
            flags |= ObjectAttribute::Array;
            type.chop(2);
        } else if (type.endsWith(QLatin1Char('*'))) {
            flags |= ObjectAttribute::PointerFlag;
            type.chop(1);
        } else if (type.endsWith(QLatin1Char('&'))) {
            flags |= ObjectAttribute::Reference;
            type.chop(1);
        } else {
            break;
        }
    }
    const Class* cls = Inspector::self()->classByName(type.trimmed());
    if (!cls)
        qWarning("ClassBuilder: unknown type %s", qPrintable(typeText));
    if (cls && cls->primitiveKind() == StringKind)
        flags |= ObjectAttribute::PointerFlag; // text, not an integer-coded string
    return Argument(cls, ObjectAttribute(flags), fallback);
}

Signature ClassBuilder::signature(const QStringList& types)
{
    Signature sig;
    for (const QString& t : types)
        sig << argument(t);
    return sig;
}

GetterFunction storedGetter(const QString& property, const Argument& type)
{
    return [property, type](Object* self) -> SharedPtr<Object> {
        if (!self)
            return SharedPtr<Object>();
        if (SharedPtr<Object> v = self->value(property))
            return v;
        return Inspector::self()->createDefault(type.argumentClass());
    };
}

SetterFunction storedSetter(const QString& property)
{
    return [property](Object* self, const SharedPtr<Object>& value) {
        if (!self)
            return false;
        self->setValue(property, value);
        return true;
    };
}

ClassBuilder& ClassBuilder::property(const QString& name, const QString& type)
{
    const Argument a = argument(type);
    return property(name, type, storedGetter(name, a), storedSetter(name));
}

ClassBuilder& ClassBuilder::property(const QString& name, const QString& type, GetterFunction getter,
                                     SetterFunction setter)
{
    c->addProperty(new Property(name, argument(type), std::move(getter), std::move(setter)));
    return *this;
}

ClassBuilder& ClassBuilder::readOnlyProperty(const QString& name, const QString& type, GetterFunction getter)
{
    return property(name, type, std::move(getter), SetterFunction());
}

ClassBuilder& ClassBuilder::staticProperty(const QString& name, const QString& type, GetterFunction getter,
                                           SetterFunction setter)
{
    c->addProperty(new Property(name, argument(type), std::move(getter), std::move(setter), true));
    return *this;
}

ClassBuilder& ClassBuilder::method(const QString& name, const QStringList& argumentTypes, MethodFunction function,
                                   const QString& deprecation)
{
    c->addMethod(new Method(name, signature(argumentTypes), c, std::move(function), false, deprecation));
    return *this;
}

ClassBuilder& ClassBuilder::staticMethod(const QString& name, const QStringList& argumentTypes,
                                         MethodFunction function)
{
    c->addMethod(new Method(name, signature(argumentTypes), c, std::move(function), true));
    return *this;
}

ClassBuilder& ClassBuilder::constructor(const QStringList& argumentTypes, MethodFunction function)
{
    c->addConstructor(new Constructor(signature(argumentTypes), c, std::move(function)));
    return *this;
}

ClassBuilder& ClassBuilder::enumeration(const QString& name, const QList<QPair<QString, int>>& values)
{
    c->addEnum(new Enum(name, values));
    return *this;
}

ClassBuilder& ClassBuilder::event(const QString& name, const QStringList& argumentTypes)
{
    c->addEvent(new Event(name, signature(argumentTypes)));
    return *this;
}
