// The framework's native script API: functions, namespaces and types it publishes to every script
// language through the interpreter's registration operations.
#pragma once

#include "interpreter.h"

#include <QMap>
#include <QString>
#include <QStringList>

class NativeScriptObject : public Shared {
public:
    // The id of the object's native type.
    virtual const void* typeId() const = 0;
};

struct NativeMethod {
    NativeFunction function;
    QStringList mandatoryArgs;
    QStringList optionalArgs;
};

struct NativeProperty {
    NativeFunction getter; // may be empty
    NativeFunction setter; // may be empty
};

class NativeScriptType {
public:
    QMap<QString, NativeMethod> methods;
    QMap<QString, NativeProperty> properties;
    QMap<QString, NativeMethod> staticMethods;
    QMap<QString, NativeProperty> staticProperties;
    NativeFunction constructor; // may be empty
    const void* super = nullptr;
};

class NativeScriptNamespace {
public:
    QMap<QString, NativeMethod> functions;
};

namespace NativeApi {
// Registers the framework's native API with the interpreter. Nothing is published yet.
void registerAll(Interpreter* interpreter);
} // namespace NativeApi
