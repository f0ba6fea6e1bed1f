// Declaring classes of an application under test in a few lines:
//
//     ClassBuilder("Button").base("Widget")
//         .property("text", "string")                        // stored value, readable and writable
//         .readOnlyProperty("enabled", "bool", getter)
//         .method("setText", {"string"}, fn)
//         .method("setText", {"int"}, fn)                    // an overload
//         .constructor({"string"}, fn);
//
// Type texts name a class, followed by "*" (held as a pointer), "&" (a reference) or "[]" (a sequence);
// "string" is text (the string class held as a pointer), "string[]" a list of texts, and "Enum|int"
// a type that also takes a plain integer. Global properties and functions go on ClassBuilder::global().
#pragma once

#include "inspector.h"

#include <QStringList>

class ClassBuilder {
public:
    // A new class registered with the inspector under the name.
    explicit ClassBuilder(const QString& name);
    // Adds to the inspector's global class.
    static ClassBuilder global();
    // Adds to a class declared before (for properties whose types are declared after it).
    static ClassBuilder extend(const QString& name);

    ClassBuilder& base(const QString& baseName);
    ClassBuilder& property(const QString& name, const QString& type);
    ClassBuilder& property(const QString& name, const QString& type, GetterFunction getter, SetterFunction setter);
    ClassBuilder& readOnlyProperty(const QString& name, const QString& type, GetterFunction getter);
    ClassBuilder& staticProperty(const QString& name, const QString& type, GetterFunction getter,
                                 SetterFunction setter = SetterFunction());
    ClassBuilder& method(const QString& name, const QStringList& argumentTypes, MethodFunction function,
                         const QString& deprecation = QString());
    ClassBuilder& staticMethod(const QString& name, const QStringList& argumentTypes, MethodFunction function);
    ClassBuilder& constructor(const QStringList& argumentTypes, MethodFunction function);
    ClassBuilder& enumeration(const QString& name, const QList<QPair<QString, int>>& values);
    ClassBuilder& event(const QString& name, const QStringList& argumentTypes);

    Class* cls() const { return c; }

    // The declared argument for a type text; a class that does not exist yet is an error (null class).
    static Argument argument(const QString& type);
    static Signature signature(const QStringList& types);

private:
    explicit ClassBuilder(Class* existing) : c(existing) {}
    Class* c;
};

// Stored-value accessors, for properties whose value lives in the object.
GetterFunction storedGetter(const QString& property, const Argument& type);
SetterFunction storedSetter(const QString& property);
