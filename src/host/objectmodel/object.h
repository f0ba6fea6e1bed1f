// The object model of the application under test: reflective classes (properties, methods with
// overloads, constructors, enums, events, base classes), objects and the inspector that knows them.
// Applications under test declare their classes with the builder (builder.h); primitive values
// (kinds 0 to 6), sequences and dictionaries are objects of the inspector's own classes.
#pragma once

#include "sharedptr.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <functional>

class Class;
class Object;

template <class T> using FList = QList<T>;

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

// How a value or a declared type is held: 0x1 reference, 0x2 pointer, 0x10 array, and an integer (the
// array's element count where one is known). ObjectAttribute(0, 0) is the neutral attribute of a value
// whose holding is unknown; Value() carries the integer 1 to stay apart from it, so that a value held
// by value does not match pointer declarations.
class ObjectAttribute {
public:
    enum Flag { Reference = 0x1, PointerFlag = 0x2, Array = 0x10 };

    ObjectAttribute(int flags = 0, int integer = 0) : f(flags), i(integer) {}
    static ObjectAttribute Value() { return ObjectAttribute(0, 1); }
    static ObjectAttribute Pointer() { return ObjectAttribute(PointerFlag, 0); }

    int flags() const { return f; }
    int integer() const { return i; }
    bool isPointer() const { return f & PointerFlag; }
    bool isReference() const { return f & Reference; }
    bool isValue() const { return !(f & (Reference | PointerFlag)); }
    bool isArray() const { return f & Array; }

    // Whether a value held as `value` can be passed where this attribute is declared: pointers go to
    // pointers, values and references to values and references; the neutral attribute matches anything.
    bool tolerantMatch(const ObjectAttribute& value) const;

    bool operator==(const ObjectAttribute& o) const { return f == o.f && i == o.i; }
    bool operator!=(const ObjectAttribute& o) const { return !(*this == o); }

private:
    int f;
    int i;
};

// Raw mouse input for one object: the position relative to the object's top left corner, the button
// and modifier bits as scripts give them (LeftButton 1, MiddleButton 2, RightButton 4...).
struct MouseInput {
    enum Type { Move, Press, Release };
    Type type = Move;
    int x = 0;
    int y = 0;
    int button = 0;
    int modifiers = 0;
};

using ObjectList = QList<SharedPtr<Object>>;
using ObjectMapValue = QMap<QString, SharedPtr<Object>>;

// A declared argument (or property or return type): class, attribute and, for types that also take a
// plain integer, the class of that integer.
class Argument {
public:
    Argument() = default;
    Argument(const Class* cls, ObjectAttribute attribute = ObjectAttribute(), const Class* integerFallback = nullptr)
        : c(cls), attr(attribute), fallback(integerFallback)
    {
    }
    const Class* argumentClass() const { return c; }
    ObjectAttribute attribute() const { return attr; }
    const Class* integerFallback() const { return fallback; }
    QString toString() const;
    bool operator==(const Argument& o) const { return c == o.c && attr == o.attr && fallback == o.fallback; }

private:
    const Class* c = nullptr;
    ObjectAttribute attr;
    const Class* fallback = nullptr;
};

class Signature : public FList<Argument> {
public:
    using FList<Argument>::FList;
    // "(int, string)"
    QString toString() const;
};

using MethodFunction = std::function<SharedPtr<Object>(Object* self, const ObjectList& args)>;
using GetterFunction = std::function<SharedPtr<Object>(Object* self)>;
using SetterFunction = std::function<bool(Object* self, const SharedPtr<Object>& value)>;

class Method {
public:
    Method(const QString& name, const Signature& signature, const Class* declaringClass, MethodFunction function,
           bool isStatic = false, const QString& deprecation = QString());

    QString name() const { return n; }
    const Signature& signature() const { return sig; }
    const Class* declaringClass() const { return declaring; }
    bool isStatic() const { return staticMethod; }
    QString deprecation() const { return deprecationText; }
    // "name(int, string)"
    QString toString() const;
    // Calls the method; a null result is a failure whose reason is the inspector's last error.
    SharedPtr<Object> invoke(Object* self, const ObjectList& args) const;

private:
    QString n;
    Signature sig;
    const Class* declaring;
    MethodFunction fn;
    bool staticMethod;
    QString deprecationText;
};

class Constructor {
public:
    Constructor(const Signature& signature, const Class* cls, MethodFunction function)
        : sig(signature), c(cls), fn(std::move(function))
    {
    }
    const Signature& signature() const { return sig; }
    const Class* declaringClass() const { return c; }
    SharedPtr<Object> construct(const ObjectList& args) const;

private:
    Signature sig;
    const Class* c;
    MethodFunction fn;
};

class Property {
public:
    Property(const QString& name, const Argument& type, GetterFunction getter, SetterFunction setter,
             bool isStatic = false);

    QString name() const { return n; }
    const Class* type() const { return t.argumentClass(); }
    ObjectAttribute attribute() const { return t.attribute(); }
    bool isReadable() const { return bool(get_); }
    bool isWritable() const { return bool(set_); }
    bool isStatic() const { return staticProperty; }
    // "type name"
    QString toString() const;
    SharedPtr<Object> get(Object* object) const;
    bool set(Object* object, const SharedPtr<Object>& value) const;

private:
    QString n;
    Argument t;
    GetterFunction get_;
    SetterFunction set_;
    bool staticProperty;
};

class Enum {
public:
    Enum(const QString& name, const QList<QPair<QString, int>>& values) : n(name), vals(values) {}
    QString name() const { return n; }
    // The value of an enumerator, or false in *ok when this enum has none of that name.
    int value(const QString& enumerator, bool* ok) const;
    const QList<QPair<QString, int>>& values() const { return vals; }

private:
    QString n;
    QList<QPair<QString, int>> vals;
};

class Event {
public:
    Event(const QString& name, const Signature& signature) : n(name), sig(signature) {}
    QString name() const { return n; }
    const Signature& signature() const { return sig; }

private:
    QString n;
    Signature sig;
};

class Class {
public:
    explicit Class(const QString& name, PrimitiveKind kind = NoPrimitive);
    virtual ~Class();

    QString className() const { return name; }
    PrimitiveKind primitiveKind() const { return primitive; }
    bool isPrimitive() const { return primitive != NoPrimitive; }
    const QList<const Class*>& baseClasses() const { return bases; }

    // Methods of that name: this class's own first, then those inherited, nearest base first.
    QList<const Method*> methods(const QString& name) const;
    int numMethods() const;
    const Method* method(int i) const;
    // Properties, inherited ones first, then this class's own.
    int numProperties() const;
    const Property* property(int i) const;
    const Property* property(const QString& name) const;
    QList<const Constructor*> constructors() const;
    int numEnums() const;
    const Enum* enumerator(int i) const;
    const Event* event(const QString& name) const;

    // A null object of this class.
    SharedPtr<Object> createNull() const;

    // 0 for the same class, 1 for a direct base, and so on; -1 when `to` is no base of `from`.
    static int inheritanceDepth(const Class* from, const Class* to);
    bool inherits(const Class* base) const { return inheritanceDepth(this, base) >= 0; }

    // Whether objects of this class can be converted to `to`; the flags say whether the source and the
    // destination are held as pointers.
    virtual bool canConvert(const Class* to, bool sourcePointer, bool destinationPointer) const;
    // The object converted to `to`, or null.
    virtual SharedPtr<Object> convert(const SharedPtr<Object>& object, const Class* to, bool destinationPointer) const;

    // Declaration, used by the builder and the inspector.
    void addBase(const Class* base) { bases.append(base); }
    void addMethod(Method* m) { ownMethods.append(m); }
    void addProperty(Property* p) { ownProperties.append(p); }
    void addConstructor(Constructor* c) { ownConstructors.append(c); }
    void addEnum(Enum* e) { ownEnums.append(e); }
    void addEvent(Event* e) { ownEvents.append(e); }

private:
    void collectProperties(QList<const Property*>* out) const;
    void collectMethods(QList<const Method*>* out) const;

    QString name;
    PrimitiveKind primitive;
    QList<const Class*> bases;
    QList<Method*> ownMethods;
    QList<Property*> ownProperties;
    QList<Constructor*> ownConstructors;
    QList<Enum*> ownEnums;
    QList<Event*> ownEvents;
};

class Object : public Shared {
public:
    explicit Object(const Class* cls, ObjectAttribute attribute = ObjectAttribute::Pointer());
    ~Object() override;

    const Class* objectClass() const { return cls; }
    QString className() const { return cls ? cls->className() : QString(); }
    ObjectAttribute attribute() const { return attr; }
    void setAttribute(ObjectAttribute a) { attr = a; }
    bool isA(const Class* c) const { return cls && cls->inherits(c); }

    // The tree of the application's objects.
    virtual int childCount() const { return kids.size(); }
    virtual SharedPtr<Object> child(int i) const { return kids.value(i); }
    virtual SharedPtr<Object> child(const QString& name) const;
    virtual Object* parent() const { return parentObject; }
    void addChild(const SharedPtr<Object>& child);
    void removeChild(Object* child);

    // The object's own name (empty when it has none), and the real name that finds it again.
    virtual QString name() const { return objectName; }
    void setName(const QString& n) { objectName = n; }
    virtual QString realName() const;
    virtual QString debugText() const;
    // The text form: a primitive's value, an object's class and name.
    virtual QString text() const;
    virtual QString stringValue() const { return text(); }
    virtual int intValue() const { return 0; }
    virtual qint64 int64Value() const { return intValue(); }
    virtual double doubleValue() const { return intValue(); }
    virtual bool boolValue() const { return intValue() != 0; }
    virtual bool isNull() const { return false; }

    // Whether the user could work with the object now (a widget: shown and enabled).
    virtual bool isReady() const { return true; }
    // The object's rectangle on the screen; false when it has none.
    virtual bool globalBounds(int* x, int* y, int* width, int* height) const { return false; }
    // Lets the object react to mouse input; false, with the inspector's last error set, when it takes none.
    virtual bool mouseEvent(const MouseInput& input);
    // Lets the object react to an event sent to it (Inspector::sendEvent), with the arguments of the event
    // type's signature; false, with the inspector's last error set, when it takes no such event.
    virtual bool handleEvent(const QString& eventName, const ObjectList& args);
    // Input as a user gives it (click, doubleClick, press, release, move, drag, wheel, key, keyPress,
    // keyRelease, type, choose, close), with the parameters the action takes: x and y relative to the
    // object, button and modifiers as scripts give them, toX and toY, delta, key, text, items. Objects of
    // applications inside the runner take mouse actions through mouseEvent; false with the inspector's
    // last error set when the object takes no such input.
    virtual bool userInput(const QString& action, const QVariantMap& parameters);
    // A PNG picture of the object as it shows on the screen; empty, with the last error set, when none.
    virtual QByteArray screenshot() const;
    // An item of a container by its text, or by its index when the text is a number; null when none.
    virtual SharedPtr<Object> item(const QString& itemText) const;

    // The application removed the object; it stays reachable from scripts but must not be used.
    void invalidate() { invalid = true; }
    virtual bool isInvalid() const { return invalid; }

    // The same object seen as another class (a base or a derived class it really is), or null.
    SharedPtr<Object> cast(const Class* to);
    // A reference to the object (pointer attribute), and the object a reference refers to.
    virtual SharedPtr<Object> reference();
    virtual SharedPtr<Object> dereference();
    // Equality as the object model sees it: values by value, other objects by identity.
    virtual bool compare(const Object* other) const;

    // Stored property values of objects built from declared classes.
    SharedPtr<Object> value(const QString& property) const { return values.value(property); }
    void setValue(const QString& property, const SharedPtr<Object>& v) { values.insert(property, v); }

private:
    const Class* cls;
    ObjectAttribute attr;
    QString objectName;
    Object* parentObject = nullptr;
    ObjectList kids;
    QMap<QString, SharedPtr<Object>> values;
    bool invalid = false;
};

// A value of a primitive class.
class PrimitiveObject : public Object {
public:
    PrimitiveObject(const Class* cls, const QVariant& value, ObjectAttribute attribute = ObjectAttribute::Value())
        : Object(cls, attribute), v(value)
    {
    }

    QVariant variant() const { return v; }
    QString text() const override { return v.toString(); }
    int intValue() const override { return v.toInt(); }
    qint64 int64Value() const override { return v.toLongLong(); }
    double doubleValue() const override { return v.toDouble(); }
    bool boolValue() const override { return v.toBool(); }
    bool compare(const Object* other) const override;

private:
    QVariant v;
};

// The null object of a class.
class NullObject : public Object {
public:
    explicit NullObject(const Class* cls) : Object(cls, ObjectAttribute::Pointer()) {}
    bool isNull() const override { return true; }
    QString text() const override { return QStringLiteral("0"); }
    bool compare(const Object* other) const override { return other && other->isNull(); }
};

// Sequences and dictionaries of objects.
class ArrayClass {
public:
    static const Class* registeredClass();
    static SharedPtr<Object> createRemoteObject(const ObjectList& elements);
    static ObjectList unwrapRemoteObject(const Object* object);
};

class MapClass {
public:
    static const Class* registeredClass();
    static SharedPtr<Object> createRemoteObject(const ObjectMapValue& entries);
    static ObjectMapValue unwrapRemoteObject(const Object* object);
};

// Symbolic names (":Address Book_MainWindow") and the real names they stand for.
class ObjectMap {
public:
    static ObjectMap* self();
    // The symbolic name of a real name; with `add`, a new entry is made when there is none.
    QString symbolicName(const QString& realName, bool add);
    // The real name of a symbolic name; a text that is no symbolic name of the map is returned unchanged.
    QString realName(const QString& symbolicName) const;
    QStringList symbolicNames() const { return entries.keys(); }
    void clear()
    {
        entries.clear();
        made.clear();
    }
    void insert(const QString& symbolicName, const QString& realName) { entries.insert(symbolicName, realName); }
    // The entries made by symbolicName(..., true) since the map was cleared: what saving adds to a file.
    QMap<QString, QString> madeEntries() const { return made; }

private:
    QMap<QString, QString> entries;
    QMap<QString, QString> made;
};

class PropertyValue {
public:
    enum MatchMode { Plain = 0, RegularExpression = 1, Wildcard = 2 };
    PropertyValue(const QString& text = QString(), int mode = Plain) : t(text), m(mode) {}
    QString stringValue() const { return t; }
    int matchMode() const { return m; }

private:
    QString t;
    int m;
};
