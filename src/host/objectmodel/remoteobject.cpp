// Remote objects, their classes and values: what the agent describes, as the object model's classes.
#include "remoteobject.h"

#include "builder.h"

#include <QJsonArray>
#include <QSet>

namespace {

Inspector* inspector()
{
    return Inspector::self();
}

QSet<QString>& describedClasses()
{
    static QSet<QString> names;
    return names;
}

// Remote classes by name, apart from the classes of applications inside the runner's process (which
// may have the same names: "MainWindow" is everywhere).
QHash<QString, Class*>& remoteClasses()
{
    static QHash<QString, Class*> classes;
    return classes;
}

RemoteObject* remote(Object* object)
{
    return dynamic_cast<RemoteObject*>(object);
}

// Value classes and their fields; "int" fields unless the class is one of the F forms.
struct ValueClass {
    const char* name;
    QStringList fields;
    const char* fieldType;
};

const QList<ValueClass>& valueClasses()
{
    static const QList<ValueClass> list = {
        {"QPoint", {"x", "y"}, "int"},
        {"QPointF", {"x", "y"}, "double"},
        {"QSize", {"width", "height"}, "int"},
        {"QSizeF", {"width", "height"}, "double"},
        {"QRect", {"x", "y", "width", "height"}, "int"},
        {"QRectF", {"x", "y", "width", "height"}, "double"},
        {"QColor", {"red", "green", "blue", "alpha"}, "int"},
        {"QDate", {"year", "month", "day"}, "int"},
        {"QTime", {"hour", "minute", "second", "msec"}, "int"},
        {"QDateTime", {"year", "month", "day", "hour", "minute", "second", "msec"}, "int"},
        {"QFont", {"pointSize"}, "int"},
    };
    return list;
}

// Value classes take texts too ("2024-01-31", "#ff0000"): the application converts them.
class RemoteValueClass : public Class {
public:
    using Class::Class;
    bool canConvert(const Class* to, bool sourcePointer, bool destinationPointer) const override
    {
        return to == this || (to && to->primitiveKind() == StringKind) ||
               Class::canConvert(to, sourcePointer, destinationPointer);
    }
};

SharedPtr<Object> makeValue(const QString& type, const ObjectList& fields)
{
    const Class* cls = remoteClasses().value(type);
    SharedPtr<Object> value(new RemoteValue(cls, QString()));
    const ValueClass* vc = nullptr;
    for (const ValueClass& c : valueClasses())
        if (type == QLatin1String(c.name))
            vc = &c;
    for (int i = 0; vc && i < fields.size() && i < vc->fields.size(); ++i)
        value->setValue(vc->fields.at(i), fields.at(i));
    return value;
}

} // namespace

namespace RemoteClasses {

void initialize()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    for (const ValueClass& vc : valueClasses()) {
        if (inspector()->classByName(QLatin1String(vc.name)))
            continue;
        auto* cls = new RemoteValueClass(QLatin1String(vc.name));
        inspector()->registerClass(cls);
        remoteClasses().insert(cls->className(), cls);
        ClassBuilder builder = ClassBuilder::extend(QLatin1String(vc.name));
        for (const QString& field : vc.fields)
            builder.property(field, QLatin1String(vc.fieldType));
        QStringList types;
        for (int i = 0; i < vc.fields.size(); ++i)
            types << QLatin1String(vc.fieldType);
        const QString name = QLatin1String(vc.name);
        builder.constructor(types, [name](Object*, const ObjectList& args) { return makeValue(name, args); });
        describedClasses().insert(name);
    }
    ClassBuilder::extend(QStringLiteral("QColor")).property(QStringLiteral("name"), QStringLiteral("string"));
    ClassBuilder::extend(QStringLiteral("QFont"))
        .property(QStringLiteral("family"), QStringLiteral("string"))
        .property(QStringLiteral("bold"), QStringLiteral("bool"))
        .property(QStringLiteral("italic"), QStringLiteral("bool"))
        .property(QStringLiteral("underline"), QStringLiteral("bool"));
    // The event types sendEvent knows; an application in the runner's own process may have declared
    // them already.
    const Class* global = inspector()->mutableGlobalClass();
    if (!global->event(QStringLiteral("QMouseEvent")))
        ClassBuilder::global().event(QStringLiteral("QMouseEvent"), {"string", "int", "int", "int", "int"});
    if (!global->event(QStringLiteral("QKeyEvent")))
        ClassBuilder::global().event(QStringLiteral("QKeyEvent"), {"string", "int", "int", "string"});
    if (!global->event(QStringLiteral("QCloseEvent")))
        ClassBuilder::global().event(QStringLiteral("QCloseEvent"), {});
}

Class* classNamed(const QString& name)
{
    if (Class* known = remoteClasses().value(name))
        return known;
    auto* cls = new Class(name);
    inspector()->registerClass(cls);
    remoteClasses().insert(name, cls);
    return cls;
}

bool isDescribed(const QString& name)
{
    return describedClasses().contains(name);
}

QStringList describedNames()
{
    return describedClasses().values();
}

Argument argumentFor(const QString& wireType)
{
    static const QSet<QString> builtIn = {QStringLiteral("int"), QStringLiteral("int64"), QStringLiteral("double"),
                                          QStringLiteral("bool"), QStringLiteral("string"), QStringLiteral("string[]")};
    if (builtIn.contains(wireType))
        return ClassBuilder::argument(wireType);
    if (wireType == QLatin1String("variant"))
        return ClassBuilder::argument(QStringLiteral("string"));
    if (wireType == QLatin1String("list"))
        return Argument(ArrayClass::registeredClass());
    if (wireType == QLatin1String("map"))
        return Argument(MapClass::registeredClass());
    return Argument(classNamed(wireType));
}

void fill(const QJsonArray& levels, AgentConnection* connection)
{
    // Bases first, so that every class's base is complete when the class is.
    for (int i = levels.size() - 1; i >= 0; --i) {
        const QJsonObject level = levels.at(i).toObject();
        const QString name = level.value(QStringLiteral("name")).toString();
        if (name.isEmpty() || describedClasses().contains(name))
            continue;
        describedClasses().insert(name);
        Class* cls = classNamed(name);
        const QString base = level.value(QStringLiteral("base")).toString();
        if (!base.isEmpty()) {
            if (!describedClasses().contains(base))
                connection->describe(base);
            cls->addBase(classNamed(base));
        }
        for (const QJsonValue& v : level.value(QStringLiteral("properties")).toArray()) {
            const QJsonObject p = v.toObject();
            const QString property = p.value(QStringLiteral("name")).toString();
            GetterFunction getter = [property](Object* self) -> SharedPtr<Object> {
                RemoteObject* r = remote(self);
                QJsonValue result;
                if (!r || !r->ask(QJsonObject{{QStringLiteral("op"), QStringLiteral("get")},
                                              {QStringLiteral("property"), property}},
                                  &result))
                    return SharedPtr<Object>();
                return r->connection()->fromWire(result);
            };
            SetterFunction setter;
            if (p.value(QStringLiteral("write")).toBool()) {
                setter = [property](Object* self, const SharedPtr<Object>& value) {
                    RemoteObject* r = remote(self);
                    QJsonValue wire, result;
                    QString error;
                    if (!r)
                        return false;
                    if (!r->connection()->toWire(value, &wire, &error)) {
                        inspector()->setLastError(error);
                        return false;
                    }
                    return r->ask(QJsonObject{{QStringLiteral("op"), QStringLiteral("set")},
                                              {QStringLiteral("property"), property},
                                              {QStringLiteral("value"), wire}},
                                  &result);
                };
            }
            Argument type = argumentFor(p.value(QStringLiteral("type")).toString());
            cls->addProperty(new Property(property, type, getter, setter));
        }
        for (const QJsonValue& v : level.value(QStringLiteral("methods")).toArray()) {
            const QJsonObject m = v.toObject();
            const QString signature = m.value(QStringLiteral("signature")).toString();
            Signature params;
            for (const QJsonValue& t : m.value(QStringLiteral("params")).toArray())
                params << argumentFor(t.toString());
            MethodFunction call = [signature](Object* self, const ObjectList& args) -> SharedPtr<Object> {
                RemoteObject* r = remote(self);
                if (!r) {
                    inspector()->setLastError(QStringLiteral("%1 needs an object of the application").arg(signature));
                    return SharedPtr<Object>();
                }
                QJsonArray wireArgs;
                for (const SharedPtr<Object>& a : args) {
                    QJsonValue w;
                    QString error;
                    if (!r->connection()->toWire(a, &w, &error)) {
                        inspector()->setLastError(error);
                        return SharedPtr<Object>();
                    }
                    wireArgs.append(w);
                }
                QJsonValue result;
                if (!r->ask(QJsonObject{{QStringLiteral("op"), QStringLiteral("invoke")},
                                        {QStringLiteral("method"), signature},
                                        {QStringLiteral("args"), wireArgs}},
                            &result))
                    return SharedPtr<Object>();
                return r->connection()->fromWire(result);
            };
            cls->addMethod(new Method(m.value(QStringLiteral("name")).toString(), params, cls, call));
        }
        for (const QJsonValue& v : level.value(QStringLiteral("enums")).toArray()) {
            const QJsonObject e = v.toObject();
            QList<QPair<QString, int>> values;
            for (const QJsonValue& pair : e.value(QStringLiteral("values")).toArray())
                values << qMakePair(pair.toArray().at(0).toString(), pair.toArray().at(1).toInt());
            cls->addEnum(new Enum(e.value(QStringLiteral("name")).toString(), values));
        }
    }
}

} // namespace RemoteClasses

SharedPtr<Object> AgentConnection::fromWire(const QJsonValue& value)
{
    if (value.isNull() || value.isUndefined())
        return inspector()->createVoid();
    const QJsonObject o = value.toObject();
    if (o.contains(QStringLiteral("object")))
        return objectFor(o);
    if (o.contains(QStringLiteral("value"))) {
        const QString type = o.value(QStringLiteral("value")).toString();
        auto* result = new RemoteValue(RemoteClasses::classNamed(type), o.value(QStringLiteral("text")).toString());
        SharedPtr<Object> kept(result);
        const QJsonObject props = o.value(QStringLiteral("props")).toObject();
        for (auto it = props.constBegin(); it != props.constEnd(); ++it)
            result->setValue(it.key(), fromWire(it.value()));
        result->freeze();
        return kept;
    }
    const QString tag = o.isEmpty() ? QString() : o.constBegin().key();
    const QJsonValue v = o.value(tag);
    if (tag == QLatin1String("int"))
        return inspector()->createInt(v.toInt());
    if (tag == QLatin1String("int64"))
        return inspector()->createInt64(v.toString().toLongLong());
    if (tag == QLatin1String("double"))
        return inspector()->createDouble(v.toDouble());
    if (tag == QLatin1String("bool"))
        return inspector()->createBool(v.toBool());
    if (tag == QLatin1String("string"))
        return inspector()->createPrimitive(v.toString());
    if (tag == QLatin1String("list")) {
        ObjectList elements;
        for (const QJsonValue& e : v.toArray())
            elements << fromWire(e);
        SharedPtr<Object> array = ArrayClass::createRemoteObject(elements);
        array->setAttribute(ObjectAttribute(ObjectAttribute::PointerFlag | ObjectAttribute::Array));
        return array;
    }
    if (tag == QLatin1String("map")) {
        ObjectMapValue entries;
        const QJsonObject m = v.toObject();
        for (auto it = m.constBegin(); it != m.constEnd(); ++it)
            entries.insert(it.key(), fromWire(it.value()));
        return MapClass::createRemoteObject(entries);
    }
    return inspector()->createVoid();
}

bool AgentConnection::toWire(const SharedPtr<Object>& object, QJsonValue* out, QString* error) const
{
    if (!object || object->isNull()) {
        *out = QJsonValue();
        return true;
    }
    if (auto* r = dynamic_cast<const RemoteObject*>(object.get())) {
        if (r->connection() != this) {
            *error = QStringLiteral("The object belongs to another application than '%1'").arg(contextName);
            return false;
        }
        *out = QJsonObject{{QStringLiteral("object"), QString::number(r->id())}};
        return true;
    }
    const Class* cls = object->objectClass();
    if (dynamic_cast<const RemoteValue*>(object.get()) || dynamic_cast<const RemoteValueClass*>(cls)) {
        QJsonObject props;
        for (int i = 0; i < cls->numProperties(); ++i) {
            const Property* p = cls->property(i);
            QJsonValue field;
            if (SharedPtr<Object> v = p->get(object.get()); v && toWire(v, &field, error))
                props.insert(p->name(), field);
        }
        *out = QJsonObject{{QStringLiteral("value"), cls->className()}, {QStringLiteral("text"), object->text()},
                           {QStringLiteral("props"), props}};
        return true;
    }
    if (cls == ArrayClass::registeredClass()) {
        QJsonArray list;
        for (const SharedPtr<Object>& e : ArrayClass::unwrapRemoteObject(object.get())) {
            QJsonValue w;
            if (!toWire(e, &w, error))
                return false;
            list.append(w);
        }
        *out = QJsonObject{{QStringLiteral("list"), list}};
        return true;
    }
    if (cls == MapClass::registeredClass()) {
        QJsonObject map;
        const ObjectMapValue entries = MapClass::unwrapRemoteObject(object.get());
        for (auto it = entries.constBegin(); it != entries.constEnd(); ++it) {
            QJsonValue w;
            if (!toWire(it.value(), &w, error))
                return false;
            map.insert(it.key(), w);
        }
        *out = QJsonObject{{QStringLiteral("map"), map}};
        return true;
    }
    switch (cls ? cls->primitiveKind() : NoPrimitive) {
    case IntKind:
    case OtherIntKind:
        *out = QJsonObject{{QStringLiteral("int"), object->intValue()}};
        return true;
    case LongKind:
    case Int64Kind: {
        const qint64 n = object->int64Value();
        *out = n >= INT_MIN && n <= INT_MAX ? QJsonObject{{QStringLiteral("int"), int(n)}}
                                            : QJsonObject{{QStringLiteral("int64"), QString::number(n)}};
        return true;
    }
    case BoolKind:
        *out = QJsonObject{{QStringLiteral("bool"), object->boolValue()}};
        return true;
    case DoubleKind:
        *out = QJsonObject{{QStringLiteral("double"), object->doubleValue()}};
        return true;
    case StringKind:
        *out = QJsonObject{{QStringLiteral("string"), object->text()}};
        return true;
    default:
        break;
    }
    *error = QStringLiteral("A %1 cannot be passed to the application '%2'").arg(object->className(), contextName);
    return false;
}

RemoteObject::RemoteObject(const SharedPtr<AgentConnection>& connection, quint64 id, const Class* cls)
    : Object(cls, ObjectAttribute::Pointer()), link(connection), objectId(id)
{
}

void RemoteObject::setReadyHint(const QJsonObject& reference)
{
    if (reference.contains(QStringLiteral("realName")))
        knownRealName = reference.value(QStringLiteral("realName")).toString();
    if (!reference.contains(QStringLiteral("ready")))
        return;
    readyHint = reference.value(QStringLiteral("ready")).toBool();
    readyGeneration = link->generation();
}

bool RemoteObject::ask(QJsonObject request, QJsonValue* result) const
{
    if (Object::isInvalid() || link->isDestroyed(objectId)) {
        inspector()->setLastError(link->isOpen()
                                      ? QStringLiteral("The %1 no longer exists in the application '%2'")
                                            .arg(className(), link->name())
                                      : link->closedReason());
        return false;
    }
    request.insert(QStringLiteral("object"), QString::number(objectId));
    QString error;
    bool gone = false;
    if (link->request(request, result, &error, &gone))
        return true;
    if (gone || !link->isOpen())
        const_cast<RemoteObject*>(this)->invalidate();
    inspector()->setLastError(error);
    return false;
}

QJsonObject RemoteObject::info(bool withRealName) const
{
    QJsonValue result;
    QJsonObject request{{QStringLiteral("op"), QStringLiteral("info")}};
    if (withRealName)
        request.insert(QStringLiteral("realName"), true);
    return ask(request, &result) ? result.toObject() : QJsonObject();
}

int RemoteObject::childCount() const
{
    children.clear();
    QJsonValue result;
    if (ask(QJsonObject{{QStringLiteral("op"), QStringLiteral("children")}}, &result))
        for (const QJsonValue& v : result.toArray())
            children << link->objectFor(v.toObject());
    return children.size();
}

SharedPtr<Object> RemoteObject::child(int i) const
{
    if (children.isEmpty())
        childCount();
    return children.value(i);
}

SharedPtr<Object> RemoteObject::child(const QString& name) const
{
    const int n = childCount();
    for (int i = 0; i < n; ++i)
        if (children.at(i)->name() == name)
            return children.at(i);
    return SharedPtr<Object>();
}

Object* RemoteObject::parent() const
{
    const QJsonValue parent = info(false).value(QStringLiteral("parent"));
    parentObject = parent.isObject() ? link->objectFor(parent.toObject()) : SharedPtr<Object>();
    return parentObject.get();
}

QString RemoteObject::name() const
{
    return info(false).value(QStringLiteral("name")).toString();
}

QString RemoteObject::realName() const
{
    // An object that is gone keeps the last name the application gave it.
    const QString name = isInvalid() ? QString() : info(true).value(QStringLiteral("realName")).toString();
    if (!name.isEmpty())
        knownRealName = name;
    if (!knownRealName.isEmpty())
        return knownRealName;
    return QStringLiteral("type %1").arg(className());
}

bool RemoteObject::isReady() const
{
    if (readyGeneration == link->generation() && readyGeneration != 0)
        return readyHint; // nothing was asked since the answer that brought it
    return info(false).value(QStringLiteral("ready")).toBool();
}

bool RemoteObject::globalBounds(int* x, int* y, int* width, int* height) const
{
    const QJsonArray bounds = info(false).value(QStringLiteral("bounds")).toArray();
    if (bounds.size() != 4)
        return false;
    *x = bounds.at(0).toInt();
    *y = bounds.at(1).toInt();
    *width = bounds.at(2).toInt();
    *height = bounds.at(3).toInt();
    return true;
}

bool RemoteObject::input(const QString& action, QJsonObject input) const
{
    input.insert(QStringLiteral("op"), QStringLiteral("input"));
    input.insert(QStringLiteral("action"), action);
    QJsonValue result;
    const bool given = ask(input, &result);
    const QString reason = inspector()->lastError();
    // Handlers of what the input made happen run before the command returns, as with an application
    // in the runner's own process.
    SharedPtr<AgentConnection> keep = link;
    keep->deliverPendingEvents();
    if (!given)
        inspector()->setLastError(reason);
    return given;
}

bool RemoteObject::mouseEvent(const MouseInput& mouse)
{
    static const char* const actions[] = {"move", "press", "release"};
    return input(QLatin1String(actions[mouse.type]), QJsonObject{{QStringLiteral("x"), mouse.x},
                                                                 {QStringLiteral("y"), mouse.y},
                                                                 {QStringLiteral("button"), mouse.button},
                                                                 {QStringLiteral("modifiers"), mouse.modifiers}});
}

bool RemoteObject::handleEvent(const QString& eventName, const ObjectList& args)
{
    // QMouseEvent: type, x, y, button, modifiers; QKeyEvent: type, key code, modifiers, text.
    if (eventName == QLatin1String("QMouseEvent")) {
        const QString type = args.value(0) ? args.value(0)->text() : QString();
        const QString action = type == QLatin1String("MouseButtonPress")     ? QStringLiteral("press")
                               : type == QLatin1String("MouseButtonRelease") ? QStringLiteral("release")
                               : type == QLatin1String("MouseMove")          ? QStringLiteral("move")
                               : type == QLatin1String("MouseButtonDblClick") ? QStringLiteral("doubleClick")
                                                                               : QString();
        if (action.isEmpty()) {
            inspector()->setLastError(QStringLiteral("Unknown mouse event type '%1': expected MouseButtonPress, "
                                                     "MouseButtonRelease, MouseButtonDblClick or MouseMove")
                                          .arg(type));
            return false;
        }
        return input(action, QJsonObject{{QStringLiteral("x"), args.value(1)->intValue()},
                                         {QStringLiteral("y"), args.value(2)->intValue()},
                                         {QStringLiteral("button"), args.value(3)->intValue() ? args.value(3)->intValue() : 1},
                                         {QStringLiteral("modifiers"), args.value(4)->intValue()}});
    }
    if (eventName == QLatin1String("QKeyEvent")) {
        const QString type = args.value(0) ? args.value(0)->text() : QString();
        if (type != QLatin1String("KeyPress") && type != QLatin1String("KeyRelease")) {
            inspector()->setLastError(QStringLiteral("Unknown key event type '%1': expected KeyPress or KeyRelease").arg(type));
            return false;
        }
        return input(type == QLatin1String("KeyPress") ? QStringLiteral("keyPress") : QStringLiteral("keyRelease"),
                     QJsonObject{{QStringLiteral("keyCode"), args.value(1)->intValue()},
                                 {QStringLiteral("modifiers"), args.value(2)->intValue()},
                                 {QStringLiteral("text"), args.value(3)->text()}});
    }
    if (eventName == QLatin1String("QCloseEvent"))
        return input(QStringLiteral("close"), QJsonObject());
    inspector()->setLastError(QStringLiteral("A %1 takes no %2 events").arg(className(), eventName));
    return false;
}

SharedPtr<Object> RemoteObject::item(const QString& itemText) const
{
    QJsonValue result;
    if (!ask(QJsonObject{{QStringLiteral("op"), QStringLiteral("item")}, {QStringLiteral("text"), itemText}}, &result) ||
        !result.isObject())
        return SharedPtr<Object>();
    return link->objectFor(result.toObject());
}

bool RemoteObject::isInvalid() const
{
    if (Object::isInvalid())
        return true;
    link->pollNotices();
    return Object::isInvalid() || link->isDestroyed(objectId) || !link->isOpen();
}

bool RemoteObject::compare(const Object* other) const
{
    const auto* r = dynamic_cast<const RemoteObject*>(other);
    return r && r->link == link && r->objectId == objectId;
}

bool RemoteObject::userInput(const QString& action, const QVariantMap& parameters)
{
    return input(action, QJsonObject::fromVariantMap(parameters));
}

QByteArray RemoteObject::screenshot() const
{
    QJsonValue result;
    if (!ask(QJsonObject{{QStringLiteral("op"), QStringLiteral("screenshot")}}, &result))
        return QByteArray();
    return QByteArray::fromBase64(result.toString().toLatin1());
}

QString RemoteValue::fieldsText() const
{
    QStringList texts;
    const Class* cls = objectClass();
    for (int i = 0; cls && i < cls->numProperties(); ++i)
        if (SharedPtr<Object> v = value(cls->property(i)->name()))
            texts << v->text();
    return texts.join(QLatin1String(", "));
}

QString RemoteValue::text() const
{
    // The application's own text while the fields are as it gave them; the fields once a script
    // changed one.
    const QString fields = fieldsText();
    return !t.isEmpty() && fields == frozen ? t : fields;
}

bool RemoteValue::compare(const Object* other) const
{
    return other && other->objectClass() == objectClass() && other->text() == text();
}
