// The object model of the application under test, as far as scripts reach it: classes, objects and the
// inspector that knows them. Primitive values (kinds 0 to 6) are objects of primitive classes.
#pragma once

#include "sharedptr.h"

#include <QList>
#include <QString>
#include <QVariant>

// Primitive kinds of the object model.
enum PrimitiveKind {
    NoPrimitive = -1,
    OtherIntKind = 0,
    IntKind = 1,
    LongKind = 2,
    BoolKind = 3,
    StringKind = 4,
    DoubleKind = 5,
    Int64Kind = 6
};

class Class {
public:
    explicit Class(const QString& name, PrimitiveKind kind = NoPrimitive) : name(name), primitive(kind) {}
    virtual ~Class() = default;

    QString className() const { return name; }
    PrimitiveKind primitiveKind() const { return primitive; }
    bool isPrimitive() const { return primitive != NoPrimitive; }

private:
    QString name;
    PrimitiveKind primitive;
};

class Object : public Shared {
public:
    explicit Object(const Class* cls) : cls(cls) {}

    const Class* objectClass() const { return cls; }
    QString className() const { return cls ? cls->className() : QString(); }

    virtual QString stringValue() const { return QString(); }
    virtual int intValue() const { return 0; }
    virtual qint64 int64Value() const { return 0; }
    virtual double doubleValue() const { return 0.0; }
    virtual bool boolValue() const { return false; }
    virtual bool isNull() const { return false; }

private:
    const Class* cls;
};

// A value of a primitive class.
class PrimitiveObject : public Object {
public:
    PrimitiveObject(const Class* cls, const QVariant& value) : Object(cls), value(value) {}

    QVariant variant() const { return value; }
    QString stringValue() const override { return value.toString(); }
    int intValue() const override { return value.toInt(); }
    qint64 int64Value() const override { return value.toLongLong(); }
    double doubleValue() const override { return value.toDouble(); }
    bool boolValue() const override { return value.toBool(); }

private:
    QVariant value;
};

class ObjectList : public QList<SharedPtr<Object>> {
public:
    using QList<SharedPtr<Object>>::QList;
};

class Inspector {
public:
    static Inspector* self();

    // The class of a primitive kind; null for a kind outside 0 to 6.
    const Class* primitiveClass(int kind) const;

    SharedPtr<Object> createInt(int value) const;
    SharedPtr<Object> createInt64(qint64 value) const;
    SharedPtr<Object> createDouble(double value) const;
    SharedPtr<Object> createBool(bool value) const;
    SharedPtr<Object> createString(const QString& value) const;
    SharedPtr<Object> createPrimitive(const QString& text) const { return createString(text); }

    void setLastError(const QString& error) { lastErrorText = error; }
    QString lastError() const { return lastErrorText; }

private:
    Inspector();
    QList<Class*> primitives;
    QString lastErrorText;
};
