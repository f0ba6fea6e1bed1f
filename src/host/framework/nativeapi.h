// The framework's native script API: functions, namespaces and types it publishes to every script
// language through the interpreter's registration operations. A language back end turns each into its
// own commands; the functions answer through the script context they are run in.
#pragma once

#include "interpreter.h"

#include <QMap>
#include <QString>
#include <QStringList>

// An instance of a native script type, shared between the script values that hold it.
class NativeScriptObject : public Shared
{
public:
    // The id of the object's native type, as given to registerNativeType.
    virtual const void* typeId() const = 0;
};

// A callable member: the function and the names of its arguments. "..." among the optional names
// stands for any number of further arguments.
struct NativeMethod {
    NativeFunction function;
    QStringList mandatoryArgs;
    QStringList optionalArgs;
};

// A getter (run without arguments) and a setter (run with the new value as its one argument).
struct NativeProperty {
    NativeFunction getter; // may be empty: the property cannot be read
    NativeFunction setter; // may be empty: the property cannot be written
};

class NativeScriptType
{
public:
    using Method = NativeMethod;
    using StaticMethod = NativeMethod;
    using Property = NativeProperty;
    using StaticProperty = NativeProperty;

    // Methods and properties run with the object as the context's thisObject().
    QMap<QString, Method> methods;
    QMap<QString, Property> properties;
    QMap<QString, StaticMethod> staticMethods;
    QMap<QString, StaticProperty> staticProperties;
    NativeConstructor constructor; // may be empty: no public constructor
    const void* super = nullptr;   // type id of the base type; it is registered first
};

class NativeScriptNamespace
{
public:
    QMap<QString, NativeMethod> functions;
};

namespace NativeApi
{
// Registers the framework's native API with the interpreter: the OS namespace and the StopWatch and
// Deadline types.
void registerAll(Interpreter* interpreter);

// The published parts, one by one (tests register them into interpreters of their own).
NativeScriptNamespace osNamespace();
void registerTimerTypes(Interpreter* interpreter);
} // namespace NativeApi
