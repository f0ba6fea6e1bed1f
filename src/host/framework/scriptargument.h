// The framework's view of one script value. Language back ends implement the kind tests and
// conversions; API functions read their arguments only through them.
#pragma once

#include "sharedptr.h"
#include "testdatafwd.h"

#include <QDateTime>
#include <QList>
#include <QMap>
#include <QString>

class ApplicationContext;
class Argument;
class Class;
class NativeScriptObject;
class Object;

class ScriptArgument : public Shared {
public:
    ~ScriptArgument() override = default;

    virtual QString typeName() const = 0;
    virtual bool isBool() const = 0;
    virtual bool isDouble() const = 0;
    virtual bool isInteger() const = 0;
    virtual bool isString() const = 0;
    // A string, or something that reads as one (a number, a boolean).
    virtual bool isStringLike() const;
    virtual bool isObject() const = 0;
    virtual bool isClass() const = 0;
    virtual bool isDateTime() const = 0;
    virtual bool isList() const = 0;
    virtual bool isMap() const = 0;
    virtual bool isNativeObject(const void* typeKey) const = 0;
    virtual bool toBool() const = 0;
    virtual double toDouble() const = 0;
    virtual int toInt() const = 0;
    virtual QString toString() const = 0;
    virtual Object* toObject() const = 0;
    virtual const Class* toClass() const = 0;
    virtual QList<SharedPtr<ScriptArgument>> toList() const = 0;
    virtual QMap<QString, SharedPtr<ScriptArgument>> toMap() const = 0;
    virtual SharedPtr<NativeScriptObject> toNativeObject(const void* typeKey) const = 0;
    virtual SharedPtr<Object> convertToArgument(const Argument& argument) const = 0;
    virtual TestDataRecord* toTestDataRecord() const = 0;
    virtual SharedPtr<ApplicationContext> toApplicationContext() const = 0;
    // The real name an object-name argument stands for: its text.
    virtual QString toRealName() const;
    virtual QDateTime toDateTime() const = 0;
    // A name under which the framework can call this value back; empty when it is no callable.
    virtual QString callableIdentifier() const;
    // The value's text, for property comparisons.
    virtual QString toPropertyValue() const;
};
