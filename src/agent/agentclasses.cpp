// Classes as the meta-object system describes them, their properties and methods, the everyday
// accessors that are no slots, and values between QVariant and the wire format.
#include "agentobjects.h"

#include <QAbstractItemView>
#include <QColor>
#include <QComboBox>
#include <QDate>
#include <QDateTime>
#include <QFont>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QJsonDocument>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QMetaMethod>
#include <QMetaProperty>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QStatusBar>
#include <QTime>
#include <QTreeView>
#include <QUrl>
#include <QWidget>

namespace {

QString str(const char* s)
{
    return QString::fromLatin1(s);
}

// How a type travels: one of the wire's kinds, a value class, a QObject class (pointers), or the
// C++ type name for what has no form in scripts.
QString wireType(int typeId, const QByteArray& typeName)
{
    switch (typeId) {
    case QMetaType::Void:
        return QStringLiteral("void");
    case QMetaType::Bool:
        return QStringLiteral("bool");
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
        return QStringLiteral("int");
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return QStringLiteral("int64");
    case QMetaType::Double:
    case QMetaType::Float:
        return QStringLiteral("double");
    case QMetaType::QString:
    case QMetaType::QByteArray:
    case QMetaType::QChar:
    case QMetaType::QUrl:
    case QMetaType::QKeySequence:
        return QStringLiteral("string");
    case QMetaType::QStringList:
        return QStringLiteral("string[]");
    case QMetaType::QVariantList:
        return QStringLiteral("list");
    case QMetaType::QVariantMap:
    case QMetaType::QVariantHash:
        return QStringLiteral("map");
    case QMetaType::QVariant:
        return QStringLiteral("variant");
    case QMetaType::QPoint:
    case QMetaType::QPointF:
    case QMetaType::QSize:
    case QMetaType::QSizeF:
    case QMetaType::QRect:
    case QMetaType::QRectF:
    case QMetaType::QColor:
    case QMetaType::QFont:
    case QMetaType::QDate:
    case QMetaType::QTime:
    case QMetaType::QDateTime:
        return str(QMetaType::typeName(typeId));
    default:
        break;
    }
    if (typeId != QMetaType::UnknownType) {
        const QMetaType::TypeFlags flags = QMetaType::typeFlags(typeId);
        if (flags & QMetaType::PointerToQObject) {
            const QMetaObject* meta = QMetaType::metaObjectForType(typeId);
            return meta ? str(meta->className()) : QStringLiteral("QObject");
        }
        if (flags & QMetaType::IsEnumeration)
            return QStringLiteral("string");
    }
    QByteArray name = typeName;
    if (name.endsWith('*'))
        name.chop(1);
    return QString::fromLatin1(name);
}

// The accessors: what tests need of some widgets that Qt offers as plain member functions only.
struct Accessor {
    const char* className;
    const char* name;
    QStringList params;
    const char* result;
};

const QList<Accessor>& accessors()
{
    static const QList<Accessor> list = {
        {"QComboBox", "itemText", {"int"}, "string"},
        {"QComboBox", "itemTexts", {}, "string[]"},
        {"QComboBox", "findText", {"string"}, "int"},
        {"QAbstractItemView", "rowCount", {}, "int"},
        {"QAbstractItemView", "columnCount", {}, "int"},
        {"QAbstractItemView", "cellText", {"int", "int"}, "string"},
        {"QAbstractItemView", "rowTexts", {"int"}, "string[]"},
        {"QAbstractItemView", "headerText", {"int"}, "string"},
        {"QAbstractItemView", "currentRow", {}, "int"},
        {"QAbstractItemView", "currentColumn", {}, "int"},
        {"QAbstractItemView", "currentText", {}, "string"},
        {"QAbstractItemView", "selectedTexts", {}, "string[]"},
        {"QMenu", "actionTexts", {}, "string[]"},
        {"QMenuBar", "actionTexts", {}, "string[]"},
        {"QStatusBar", "currentMessage", {}, "string"},
        {"QWidget", "hasFocus", {}, "bool"},
        {"QWidget", "isActiveWindow", {}, "bool"},
    };
    return list;
}

QString accessorSignature(const Accessor& a)
{
    return QStringLiteral("%1(%2)").arg(str(a.name), a.params.join(QLatin1Char(',')));
}

const Accessor* findAccessor(const QMetaObject* meta, const QString& signature)
{
    for (; meta; meta = meta->superClass())
        for (const Accessor& a : accessors())
            if (qstrcmp(a.className, meta->className()) == 0 && accessorSignature(a) == signature)
                return &a;
    return nullptr;
}

QStringList modelRowTexts(const QAbstractItemModel* model, int row, const QModelIndex& parent = QModelIndex())
{
    QStringList texts;
    for (int c = 0; c < model->columnCount(parent); ++c)
        texts << model->index(row, c, parent).data(Qt::DisplayRole).toString();
    return texts;
}

QStringList actionTexts(QWidget* widget)
{
    QStringList texts;
    for (QAction* action : widget->actions())
        if (!action->isSeparator())
            texts << action->text();
    return texts;
}

bool callAccessor(QObject* object, const Accessor& a, const QVariantList& args, QVariant* result, QString* error)
{
    const QString name = str(a.name);
    auto arg = [&](int i) { return args.value(i).toInt(); };
    if (auto* combo = qobject_cast<QComboBox*>(object)) {
        if (name == QLatin1String("itemText")) {
            if (arg(0) < 0 || arg(0) >= combo->count()) {
                *error = QStringLiteral("No item %1: the combo box has %2 items").arg(arg(0)).arg(combo->count());
                return false;
            }
            *result = combo->itemText(arg(0));
        } else if (name == QLatin1String("itemTexts")) {
            QStringList texts;
            for (int i = 0; i < combo->count(); ++i)
                texts << combo->itemText(i);
            *result = texts;
        } else if (name == QLatin1String("findText")) {
            *result = combo->findText(args.value(0).toString());
        }
        if (result->isValid())
            return true;
    }
    if (auto* header = qobject_cast<QHeaderView*>(object)) {
        // A header is one line of sections (a row of a horizontal header, a column of a vertical one),
        // not the cells of the view it heads.
        const bool horizontal = header->orientation() == Qt::Horizontal;
        QAbstractItemModel* model = header->model();
        const int sections = header->count();
        auto sectionText = [&](int section) {
            return model ? model->headerData(section, header->orientation(), Qt::DisplayRole).toString() : QString();
        };
        if (name == QLatin1String("rowCount") || name == QLatin1String("columnCount")) {
            *result = (name == QLatin1String("rowCount")) == horizontal ? (sections > 0 ? 1 : 0) : sections;
        } else if (name == QLatin1String("headerText") || name == QLatin1String("cellText")) {
            const int section = name == QLatin1String("headerText") || !horizontal ? arg(0) : arg(1);
            const int line = name == QLatin1String("headerText") ? 0 : horizontal ? arg(0) : arg(1);
            if (section < 0 || section >= sections || line != 0) {
                *error = QStringLiteral("No section %1: the %2 header has %3 sections")
                             .arg(section).arg(horizontal ? QStringLiteral("horizontal") : QStringLiteral("vertical"))
                             .arg(sections);
                return false;
            }
            *result = sectionText(section);
        } else if (name == QLatin1String("rowTexts")) {
            const int row = arg(0);
            if (row < 0 || row >= (horizontal ? (sections > 0 ? 1 : 0) : sections)) {
                *error = QStringLiteral("No row %1: the header has %2 rows").arg(row).arg(horizontal ? 1 : sections);
                return false;
            }
            QStringList texts;
            if (horizontal) {
                for (int i = 0; i < sections; ++i)
                    texts << sectionText(i);
            } else {
                texts << sectionText(row);
            }
            *result = texts;
        } else if (name == QLatin1String("currentRow") || name == QLatin1String("currentColumn")) {
            *result = -1;
        } else if (name == QLatin1String("currentText")) {
            *result = QString();
        } else if (name == QLatin1String("selectedTexts")) {
            *result = QStringList();
        }
        if (result->isValid())
            return true;
    }
    if (auto* view = qobject_cast<QAbstractItemView*>(object)) {
        QAbstractItemModel* model = view->model();
        if (!model) {
            // A view that has not been given a model yet (its program is still loading, a database
            // failed to open) is an empty view, as it looks on the screen.
            if (name == QLatin1String("rowCount") || name == QLatin1String("columnCount")) {
                *result = 0;
            } else if (name == QLatin1String("currentRow") || name == QLatin1String("currentColumn")) {
                *result = -1;
            } else if (name == QLatin1String("currentText") || name == QLatin1String("headerText")) {
                *result = QString();
            } else if (name == QLatin1String("selectedTexts")) {
                *result = QStringList();
            } else if (name == QLatin1String("cellText") || name == QLatin1String("rowTexts")) {
                *error = QStringLiteral("No row %1: the %2 has no model (it is empty)")
                             .arg(arg(0)).arg(str(object->metaObject()->className()));
                return false;
            }
            if (result->isValid())
                return true;
        }
        const QModelIndex root = view->rootIndex();
        if (!model) {
            // no view accessor without a model; the widget accessors below still answer
        } else if (name == QLatin1String("rowCount")) {
            *result = model->rowCount(root);
        } else if (name == QLatin1String("columnCount")) {
            *result = model->columnCount(root);
        } else if (name == QLatin1String("cellText") || name == QLatin1String("rowTexts")) {
            const int row = arg(0), column = name == QLatin1String("cellText") ? arg(1) : 0;
            if (row < 0 || row >= model->rowCount(root) || column < 0 || column >= model->columnCount(root)) {
                *error = name == QLatin1String("cellText")
                             ? QStringLiteral("No cell at row %1, column %2: the view has %3 rows and %4 columns")
                                   .arg(row).arg(column).arg(model->rowCount(root)).arg(model->columnCount(root))
                             : QStringLiteral("No row %1: the view has %2 rows").arg(row).arg(model->rowCount(root));
                return false;
            }
            if (name == QLatin1String("cellText"))
                *result = model->index(row, column, root).data(Qt::DisplayRole).toString();
            else
                *result = modelRowTexts(model, row, root);
        } else if (name == QLatin1String("headerText")) {
            *result = model->headerData(arg(0), Qt::Horizontal, Qt::DisplayRole).toString();
        } else if (name == QLatin1String("currentRow")) {
            *result = view->currentIndex().isValid() ? view->currentIndex().row() : -1;
        } else if (name == QLatin1String("currentColumn")) {
            *result = view->currentIndex().isValid() ? view->currentIndex().column() : -1;
        } else if (name == QLatin1String("currentText")) {
            *result = view->currentIndex().data(Qt::DisplayRole).toString();
        } else if (name == QLatin1String("selectedTexts")) {
            QStringList texts;
            if (QItemSelectionModel* selection = view->selectionModel()) {
                QModelIndexList indexes = selection->selectedIndexes();
                std::sort(indexes.begin(), indexes.end());
                for (const QModelIndex& index : indexes)
                    texts << index.data(Qt::DisplayRole).toString();
            }
            *result = texts;
        }
        if (result->isValid())
            return true;
    }
    if (auto* bar = qobject_cast<QStatusBar*>(object); bar && name == QLatin1String("currentMessage")) {
        *result = bar->currentMessage();
        return true;
    }
    if (auto* widget = qobject_cast<QWidget*>(object)) {
        if (name == QLatin1String("actionTexts"))
            *result = actionTexts(widget);
        else if (name == QLatin1String("hasFocus"))
            *result = widget->hasFocus();
        else if (name == QLatin1String("isActiveWindow"))
            *result = widget->isActiveWindow();
        if (result->isValid())
            return true;
    }
    *error = QStringLiteral("%1 cannot be called on a %2").arg(accessorSignature(a), str(object->metaObject()->className()));
    return false;
}

QJsonObject describeMember(const QString& name, const QString& signature, const QStringList& params,
                           const QString& result)
{
    QJsonObject m;
    m.insert(QStringLiteral("name"), name);
    m.insert(QStringLiteral("signature"), signature);
    m.insert(QStringLiteral("params"), QJsonArray::fromStringList(params));
    m.insert(QStringLiteral("result"), result);
    return m;
}

QJsonObject describeLevel(const QMetaObject* meta)
{
    QJsonObject level;
    level.insert(QStringLiteral("name"), str(meta->className()));
    level.insert(QStringLiteral("base"), meta->superClass() ? str(meta->superClass()->className()) : QString());
    QJsonArray properties;
    for (int i = meta->propertyOffset(); i < meta->propertyCount(); ++i) {
        const QMetaProperty p = meta->property(i);
        QJsonObject d;
        d.insert(QStringLiteral("name"), str(p.name()));
        d.insert(QStringLiteral("type"), p.isEnumType() ? QStringLiteral("string") : wireType(p.userType(), p.typeName()));
        d.insert(QStringLiteral("write"), p.isWritable());
        properties.append(d);
    }
    level.insert(QStringLiteral("properties"), properties);
    QJsonArray methods;
    for (int i = meta->methodOffset(); i < meta->methodCount(); ++i) {
        const QMetaMethod m = meta->method(i);
        if (m.access() != QMetaMethod::Public ||
            (m.methodType() != QMetaMethod::Slot && m.methodType() != QMetaMethod::Method))
            continue;
        QStringList params;
        for (int k = 0; k < m.parameterCount(); ++k)
            params << wireType(m.parameterType(k), m.parameterTypes().at(k));
        methods.append(describeMember(str(m.name()), str(m.methodSignature()), params,
                                      wireType(m.returnType(), m.typeName())));
    }
    for (const Accessor& a : accessors())
        if (qstrcmp(a.className, meta->className()) == 0)
            methods.append(describeMember(str(a.name), accessorSignature(a), a.params, str(a.result)));
    level.insert(QStringLiteral("methods"), methods);
    QJsonArray enums;
    for (int i = meta->enumeratorOffset(); i < meta->enumeratorCount(); ++i) {
        const QMetaEnum e = meta->enumerator(i);
        QJsonArray values;
        for (int k = 0; k < e.keyCount(); ++k)
            values.append(QJsonArray{str(e.key(k)), e.value(k)});
        enums.append(QJsonObject{{QStringLiteral("name"), str(e.name())}, {QStringLiteral("values"), values}});
    }
    level.insert(QStringLiteral("enums"), enums);
    return level;
}

// The class's meta-object: from a live object of the class when there is one, else from the types
// the meta-type system knows by pointer.
const QMetaObject* metaObjectNamed(const QString& className)
{
    const int typeId = QMetaType::type((className + QLatin1Char('*')).toLatin1().constData());
    if (typeId != QMetaType::UnknownType)
        if (const QMetaObject* meta = QMetaType::metaObjectForType(typeId))
            return meta;
    return nullptr;
}

QJsonObject value(const QString& type, const QString& text, const QJsonObject& props)
{
    return QJsonObject{{QStringLiteral("value"), type}, {QStringLiteral("text"), text}, {QStringLiteral("props"), props}};
}

QJsonObject tagged(const char* tag, const QJsonValue& v)
{
    return QJsonObject{{QLatin1String(tag), v}};
}

int propInt(const QJsonObject& props, const char* name)
{
    const QJsonValue v = props.value(QLatin1String(name));
    const QJsonObject o = v.toObject();
    if (o.contains(QStringLiteral("int")))
        return o.value(QStringLiteral("int")).toInt();
    if (o.contains(QStringLiteral("double")))
        return qRound(o.value(QStringLiteral("double")).toDouble());
    if (o.contains(QStringLiteral("string")))
        return o.value(QStringLiteral("string")).toString().toInt();
    return v.toInt();
}

double propDouble(const QJsonObject& props, const char* name)
{
    const QJsonObject o = props.value(QLatin1String(name)).toObject();
    if (o.contains(QStringLiteral("double")))
        return o.value(QStringLiteral("double")).toDouble();
    if (o.contains(QStringLiteral("string")))
        return o.value(QStringLiteral("string")).toString().toDouble();
    return propInt(props, name);
}

QString propString(const QJsonObject& props, const char* name)
{
    const QJsonObject o = props.value(QLatin1String(name)).toObject();
    return o.value(QStringLiteral("string")).toString();
}

bool propBool(const QJsonObject& props, const char* name)
{
    const QJsonObject o = props.value(QLatin1String(name)).toObject();
    if (o.contains(QStringLiteral("bool")))
        return o.value(QStringLiteral("bool")).toBool();
    return propInt(props, name) != 0;
}

// A value class built back from its properties; false when the type is not one of them.
bool valueFromProps(int typeId, const QJsonObject& props, QVariant* out)
{
    switch (typeId) {
    case QMetaType::QPoint:
        *out = QPoint(propInt(props, "x"), propInt(props, "y"));
        return true;
    case QMetaType::QPointF:
        *out = QPointF(propDouble(props, "x"), propDouble(props, "y"));
        return true;
    case QMetaType::QSize:
        *out = QSize(propInt(props, "width"), propInt(props, "height"));
        return true;
    case QMetaType::QSizeF:
        *out = QSizeF(propDouble(props, "width"), propDouble(props, "height"));
        return true;
    case QMetaType::QRect:
        *out = QRect(propInt(props, "x"), propInt(props, "y"), propInt(props, "width"), propInt(props, "height"));
        return true;
    case QMetaType::QRectF:
        *out = QRectF(propDouble(props, "x"), propDouble(props, "y"), propDouble(props, "width"),
                      propDouble(props, "height"));
        return true;
    case QMetaType::QColor:
        *out = QColor(propInt(props, "red"), propInt(props, "green"), propInt(props, "blue"),
                      props.contains(QStringLiteral("alpha")) ? propInt(props, "alpha") : 255);
        return true;
    case QMetaType::QFont: {
        QFont font(propString(props, "family"));
        if (propInt(props, "pointSize") > 0)
            font.setPointSize(propInt(props, "pointSize"));
        font.setBold(propBool(props, "bold"));
        font.setItalic(propBool(props, "italic"));
        font.setUnderline(propBool(props, "underline"));
        *out = font;
        return true;
    }
    case QMetaType::QDate:
        *out = QDate(propInt(props, "year"), propInt(props, "month"), propInt(props, "day"));
        return true;
    case QMetaType::QTime:
        *out = QTime(propInt(props, "hour"), propInt(props, "minute"), propInt(props, "second"), propInt(props, "msec"));
        return true;
    case QMetaType::QDateTime:
        *out = QDateTime(QDate(propInt(props, "year"), propInt(props, "month"), propInt(props, "day")),
                         QTime(propInt(props, "hour"), propInt(props, "minute"), propInt(props, "second"),
                               propInt(props, "msec")));
        return true;
    default:
        return false;
    }
}

// The enumeration a meta-type of an enum belongs to, when the meta-object system knows it.
bool enumOfType(int typeId, QMetaEnum* out)
{
    const QMetaObject* meta = QMetaType::metaObjectForType(typeId);
    if (!meta)
        return false;
    QByteArray name = QMetaType::typeName(typeId);
    name = name.mid(name.lastIndexOf(':') + 1);
    const int index = meta->indexOfEnumerator(name.constData());
    if (index < 0)
        return false;
    *out = meta->enumerator(index);
    return true;
}

bool enumValue(const QMetaEnum& e, const QString& text, int* out)
{
    bool isNumber = false;
    *out = text.toInt(&isNumber);
    if (isNumber)
        return true;
    bool ok = false;
    const QByteArray keys = text.toLatin1();
    *out = e.isFlag() ? e.keysToValue(keys.constData(), &ok) : e.keyToValue(keys.constData(), &ok);
    return ok;
}

QString enumKeys(const QMetaEnum& e, int value)
{
    return e.isFlag() ? QString::fromLatin1(e.valueToKeys(value)) : QString::fromLatin1(e.valueToKey(value));
}

} // namespace

QJsonArray AgentObjects::describe(const QString& className, const QSet<QString>& known, QString* error)
{
    QJsonArray levels;
    if (className == QLatin1String(itemClassName)) {
        if (!known.contains(className))
            levels = describeItemClass();
        return levels;
    }
    const QMetaObject* meta = nullptr;
    // A live object of the class is the surest source; the meta-type registry knows the rest.
    for (auto it = objects.constBegin(); it != objects.constEnd() && !meta; ++it)
        if (it.value() && className == QLatin1String(it.value()->metaObject()->className()))
            meta = it.value()->metaObject();
    if (!meta)
        meta = metaObjectNamed(className);
    if (!meta) {
        *error = QStringLiteral("Unknown class %1").arg(className);
        return levels;
    }
    for (; meta; meta = meta->superClass()) {
        if (known.contains(str(meta->className())))
            break;
        levels.append(describeLevel(meta));
    }
    return levels;
}

QJsonArray AgentObjects::describeItemClass() const
{
    auto property = [](const char* name, const char* type, bool write) {
        return QJsonObject{{QStringLiteral("name"), str(name)}, {QStringLiteral("type"), str(type)},
                           {QStringLiteral("write"), write}};
    };
    QJsonObject level;
    level.insert(QStringLiteral("name"), str(itemClassName));
    level.insert(QStringLiteral("base"), QString());
    level.insert(QStringLiteral("properties"),
                 QJsonArray{property("text", "string", true), property("row", "int", false),
                            property("column", "int", false), property("checked", "bool", true),
                            property("selected", "bool", true), property("expanded", "bool", true),
                            property("enabled", "bool", false), property("toolTip", "string", false),
                            property("childCount", "int", false)});
    level.insert(QStringLiteral("methods"), QJsonArray());
    level.insert(QStringLiteral("enums"), QJsonArray());
    return QJsonArray{level};
}

bool AgentObjects::readProperty(QObject* object, const QString& name, QJsonValue* out, QString* error)
{
    const QByteArray key = name.toUtf8();
    const int index = object->metaObject()->indexOfProperty(key.constData());
    if (index < 0) {
        const QVariant dynamic = object->property(key.constData());
        if (!dynamic.isValid()) {
            *error = QStringLiteral("%1 has no property %2").arg(str(object->metaObject()->className()), name);
            return false;
        }
        *out = toWire(dynamic);
        return true;
    }
    const QMetaProperty property = object->metaObject()->property(index);
    const QVariant v = property.read(object);
    if (property.isEnumType())
        *out = tagged("string", enumKeys(property.enumerator(), v.toInt()));
    else
        *out = toWire(v);
    return true;
}

bool AgentObjects::writeProperty(QObject* object, const QString& name, const QJsonValue& value, QString* error)
{
    const QByteArray key = name.toUtf8();
    const int index = object->metaObject()->indexOfProperty(key.constData());
    if (index < 0) {
        *error = QStringLiteral("%1 has no property %2").arg(str(object->metaObject()->className()), name);
        return false;
    }
    const QMetaProperty property = object->metaObject()->property(index);
    if (!property.isWritable()) {
        *error = QStringLiteral("Property %1 of %2 is read-only").arg(name, str(object->metaObject()->className()));
        return false;
    }
    QVariant v;
    if (property.isEnumType()) {
        const QJsonObject o = value.toObject();
        const QString text = o.contains(QStringLiteral("string")) ? o.value(QStringLiteral("string")).toString()
                                                                   : QString::number(o.value(QStringLiteral("int")).toInt());
        int n = 0;
        if (!enumValue(property.enumerator(), text, &n)) {
            *error = QStringLiteral("'%1' is no value of %2").arg(text, str(property.enumerator().name()));
            return false;
        }
        v = n;
    } else if (!fromWire(value, property.userType(), &v, error)) {
        return false;
    }
    if (!property.write(object, v)) {
        *error = QStringLiteral("%1 refused the value of %2").arg(str(object->metaObject()->className()), name);
        return false;
    }
    return true;
}

bool AgentObjects::invoke(QObject* object, const QString& signature, const QJsonArray& args, QJsonValue* out,
                          QString* error)
{
    const QMetaObject* meta = object->metaObject();
    if (const Accessor* a = findAccessor(meta, signature)) {
        QVariantList values;
        for (int i = 0; i < args.size() && i < a->params.size(); ++i) {
            QVariant v;
            const int type = a->params.at(i) == QLatin1String("int") ? QMetaType::Int : QMetaType::QString;
            if (!fromWire(args.at(i), type, &v, error))
                return false;
            values << v;
        }
        QVariant result;
        if (!callAccessor(object, *a, values, &result, error))
            return false;
        *out = toWire(result);
        return true;
    }
    const QByteArray normalized = QMetaObject::normalizedSignature(signature.toLatin1().constData());
    const int index = meta->indexOfMethod(normalized.constData());
    if (index < 0) {
        *error = QStringLiteral("%1 has no method %2").arg(str(meta->className()), signature);
        return false;
    }
    const QMetaMethod method = meta->method(index);
    if (args.size() != method.parameterCount() || args.size() > 10) {
        *error = QStringLiteral("%1 takes %2 arguments, not %3").arg(signature).arg(method.parameterCount()).arg(args.size());
        return false;
    }
    QVariant values[10];
    QGenericArgument generic[10];
    for (int i = 0; i < args.size(); ++i) {
        const int type = method.parameterType(i);
        if (type == QMetaType::UnknownType) {
            *error = QStringLiteral("%1: the type %2 cannot be passed from a script")
                         .arg(signature, QString::fromLatin1(method.parameterTypes().at(i)));
            return false;
        }
        QMetaEnum e;
        if ((QMetaType::typeFlags(type) & QMetaType::IsEnumeration) && enumOfType(type, &e)) {
            const QJsonObject o = args.at(i).toObject();
            const QString text = o.contains(QStringLiteral("string")) ? o.value(QStringLiteral("string")).toString()
                                                                       : QString::number(o.value(QStringLiteral("int")).toInt());
            int n = 0;
            if (!enumValue(e, text, &n)) {
                *error = QStringLiteral("'%1' is no value of %2").arg(text, str(e.name()));
                return false;
            }
            values[i] = QVariant(type, &n);
        } else if (!fromWire(args.at(i), type, &values[i], error)) {
            return false;
        }
        generic[i] = type == QMetaType::QVariant ? QGenericArgument("QVariant", &values[i])
                                                 : QGenericArgument(method.parameterTypes().at(i).constData(),
                                                                    values[i].data());
    }
    const int returnType = method.returnType();
    QVariant result;
    QGenericReturnArgument ret;
    if (returnType == QMetaType::QVariant) {
        ret = QGenericReturnArgument("QVariant", &result);
    } else if (returnType != QMetaType::Void && returnType != QMetaType::UnknownType) {
        result = QVariant(returnType, nullptr);
        ret = QGenericReturnArgument(method.typeName(), result.data());
    }
    if (!method.invoke(object, Qt::DirectConnection, ret, generic[0], generic[1], generic[2], generic[3], generic[4],
                       generic[5], generic[6], generic[7], generic[8], generic[9])) {
        *error = QStringLiteral("Calling %1 on a %2 failed").arg(signature, str(meta->className()));
        return false;
    }
    QMetaEnum e;
    if (result.isValid() && (QMetaType::typeFlags(returnType) & QMetaType::IsEnumeration) && enumOfType(returnType, &e))
        *out = tagged("string", enumKeys(e, *static_cast<const int*>(result.constData())));
    else
        *out = toWire(result);
    return true;
}

bool AgentObjects::readItemProperty(const AgentItem& item, const QString& name, QJsonValue* out, QString* error)
{
    const QModelIndex index = item.index;
    QVariant v;
    if (name == QLatin1String("text")) {
        v = index.data(Qt::DisplayRole).toString();
    } else if (name == QLatin1String("row")) {
        v = index.row();
    } else if (name == QLatin1String("column")) {
        v = index.column();
    } else if (name == QLatin1String("checked")) {
        v = index.data(Qt::CheckStateRole).toInt() == Qt::Checked;
    } else if (name == QLatin1String("selected")) {
        auto* view = qobject_cast<QAbstractItemView*>(item.owner);
        if (auto* combo = qobject_cast<QComboBox*>(item.owner))
            v = combo->currentIndex() == index.row();
        else
            v = view && view->selectionModel() && view->selectionModel()->isSelected(index);
    } else if (name == QLatin1String("expanded")) {
        auto* tree = qobject_cast<QTreeView*>(item.owner);
        v = tree && tree->isExpanded(index);
    } else if (name == QLatin1String("enabled")) {
        v = bool(index.flags() & Qt::ItemIsEnabled);
    } else if (name == QLatin1String("toolTip")) {
        v = index.data(Qt::ToolTipRole).toString();
    } else if (name == QLatin1String("childCount")) {
        v = index.model()->rowCount(index.sibling(index.row(), 0));
    } else {
        *error = QStringLiteral("ModelItem has no property %1").arg(name);
        return false;
    }
    *out = toWire(v);
    return true;
}

bool AgentObjects::writeItemProperty(const AgentItem& item, const QString& name, const QJsonValue& value, QString* error)
{
    QAbstractItemModel* model = const_cast<QAbstractItemModel*>(item.index.model());
    const QModelIndex index = item.index;
    QVariant v;
    if (name == QLatin1String("text")) {
        if (!fromWire(value, QMetaType::QString, &v, error))
            return false;
        if (!model->setData(index, v, Qt::EditRole)) {
            *error = QStringLiteral("The item's text cannot be changed");
            return false;
        }
        return true;
    }
    if (!fromWire(value, QMetaType::Bool, &v, error))
        return false;
    const bool on = v.toBool();
    if (name == QLatin1String("checked")) {
        if (!model->setData(index, on ? Qt::Checked : Qt::Unchecked, Qt::CheckStateRole)) {
            *error = QStringLiteral("The item cannot be checked");
            return false;
        }
    } else if (name == QLatin1String("selected")) {
        if (auto* combo = qobject_cast<QComboBox*>(item.owner)) {
            if (on)
                combo->setCurrentIndex(index.row());
        } else if (auto* view = qobject_cast<QAbstractItemView*>(item.owner); view && view->selectionModel()) {
            view->selectionModel()->select(index, on ? QItemSelectionModel::Select : QItemSelectionModel::Deselect);
        }
    } else if (name == QLatin1String("expanded")) {
        if (auto* tree = qobject_cast<QTreeView*>(item.owner))
            tree->setExpanded(index, on);
    } else {
        *error = QStringLiteral("Property %1 of ModelItem is read-only").arg(name);
        return false;
    }
    return true;
}

QJsonValue AgentObjects::toWire(const QVariant& v)
{
    if (!v.isValid())
        return QJsonValue();
    const int type = v.userType();
    if (QMetaType::typeFlags(type) & QMetaType::PointerToQObject) {
        QObject* object = qvariant_cast<QObject*>(v);
        return object ? QJsonValue(reference(object)) : QJsonValue();
    }
    switch (type) {
    case QMetaType::Bool:
        return tagged("bool", v.toBool());
    case QMetaType::Int:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
        return tagged("int", v.toInt());
    case QMetaType::UInt:
        return v.toUInt() <= uint(INT_MAX) ? tagged("int", v.toInt()) : tagged("int64", QString::number(v.toUInt()));
    case QMetaType::Long:
    case QMetaType::LongLong:
        return tagged("int64", QString::number(v.toLongLong()));
    case QMetaType::ULong:
    case QMetaType::ULongLong:
        return tagged("int64", QString::number(v.toULongLong()));
    case QMetaType::Double:
    case QMetaType::Float:
        return tagged("double", v.toDouble());
    case QMetaType::QStringList:
    case QMetaType::QVariantList: {
        QJsonArray list;
        for (const QVariant& e : v.toList())
            list.append(toWire(e));
        return tagged("list", list);
    }
    case QMetaType::QVariantMap:
    case QMetaType::QVariantHash: {
        QJsonObject map;
        const QVariantMap m = v.toMap();
        for (auto it = m.constBegin(); it != m.constEnd(); ++it)
            map.insert(it.key(), toWire(it.value()));
        return tagged("map", map);
    }
    case QMetaType::QPoint: {
        const QPoint p = v.toPoint();
        return value(str("QPoint"), QStringLiteral("(%1, %2)").arg(p.x()).arg(p.y()),
                     {{"x", tagged("int", p.x())}, {"y", tagged("int", p.y())}});
    }
    case QMetaType::QPointF: {
        const QPointF p = v.toPointF();
        return value(str("QPointF"), QStringLiteral("(%1, %2)").arg(p.x()).arg(p.y()),
                     {{"x", tagged("double", p.x())}, {"y", tagged("double", p.y())}});
    }
    case QMetaType::QSize: {
        const QSize s = v.toSize();
        return value(str("QSize"), QStringLiteral("%1x%2").arg(s.width()).arg(s.height()),
                     {{"width", tagged("int", s.width())}, {"height", tagged("int", s.height())}});
    }
    case QMetaType::QSizeF: {
        const QSizeF s = v.toSizeF();
        return value(str("QSizeF"), QStringLiteral("%1x%2").arg(s.width()).arg(s.height()),
                     {{"width", tagged("double", s.width())}, {"height", tagged("double", s.height())}});
    }
    case QMetaType::QRect: {
        const QRect r = v.toRect();
        return value(str("QRect"), QStringLiteral("(%1, %2 %3x%4)").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height()),
                     {{"x", tagged("int", r.x())},
                      {"y", tagged("int", r.y())},
                      {"width", tagged("int", r.width())},
                      {"height", tagged("int", r.height())}});
    }
    case QMetaType::QRectF: {
        const QRectF r = v.toRectF();
        return value(str("QRectF"), QStringLiteral("(%1, %2 %3x%4)").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height()),
                     {{"x", tagged("double", r.x())},
                      {"y", tagged("double", r.y())},
                      {"width", tagged("double", r.width())},
                      {"height", tagged("double", r.height())}});
    }
    case QMetaType::QColor: {
        const QColor c = v.value<QColor>();
        return value(str("QColor"), c.name(c.alpha() == 255 ? QColor::HexRgb : QColor::HexArgb),
                     {{"red", tagged("int", c.red())},
                      {"green", tagged("int", c.green())},
                      {"blue", tagged("int", c.blue())},
                      {"alpha", tagged("int", c.alpha())},
                      {"name", tagged("string", c.name())}});
    }
    case QMetaType::QFont: {
        const QFont f = v.value<QFont>();
        return value(str("QFont"), f.toString(),
                     {{"family", tagged("string", f.family())},
                      {"pointSize", tagged("int", f.pointSize())},
                      {"bold", tagged("bool", f.bold())},
                      {"italic", tagged("bool", f.italic())},
                      {"underline", tagged("bool", f.underline())}});
    }
    case QMetaType::QDate: {
        const QDate d = v.toDate();
        return value(str("QDate"), d.toString(Qt::ISODate),
                     {{"year", tagged("int", d.year())}, {"month", tagged("int", d.month())}, {"day", tagged("int", d.day())}});
    }
    case QMetaType::QTime: {
        const QTime t = v.toTime();
        return value(str("QTime"), t.toString(Qt::ISODateWithMs),
                     {{"hour", tagged("int", t.hour())},
                      {"minute", tagged("int", t.minute())},
                      {"second", tagged("int", t.second())},
                      {"msec", tagged("int", t.msec())}});
    }
    case QMetaType::QDateTime: {
        const QDateTime dt = v.toDateTime();
        const QDate d = dt.date();
        const QTime t = dt.time();
        return value(str("QDateTime"), dt.toString(Qt::ISODate),
                     {{"year", tagged("int", d.year())},
                      {"month", tagged("int", d.month())},
                      {"day", tagged("int", d.day())},
                      {"hour", tagged("int", t.hour())},
                      {"minute", tagged("int", t.minute())},
                      {"second", tagged("int", t.second())},
                      {"msec", tagged("int", t.msec())}});
    }
    default:
        break;
    }
    if (v.canConvert<QString>())
        return tagged("string", v.toString());
    return value(str(v.typeName()), QString(), QJsonObject());
}

bool AgentObjects::fromWire(const QJsonValue& wire, int typeId, QVariant* out, QString* error) const
{
    const QJsonObject o = wire.toObject();
    const QString tag = o.isEmpty() ? QString() : o.constBegin().key();
    const QMetaType::TypeFlags flags = QMetaType::typeFlags(typeId);
    if (wire.isNull() || wire.isUndefined()) {
        *out = typeId == QMetaType::QVariant ? QVariant() : QVariant(typeId, nullptr);
        return true;
    }
    if (o.contains(QStringLiteral("object"))) {
        QObject* object = this->object(o.value(QStringLiteral("object")).toString().toULongLong());
        if (!object) {
            *error = QStringLiteral("The object passed no longer exists");
            return false;
        }
        if (typeId == QMetaType::QVariant || typeId == QMetaType::QObjectStar) {
            *out = QVariant::fromValue(object);
            return true;
        }
        const QMetaObject* wanted = QMetaType::metaObjectForType(typeId);
        if (!(flags & QMetaType::PointerToQObject) || (wanted && !wanted->cast(object))) {
            *error = QStringLiteral("A %1 cannot be passed as %2")
                         .arg(str(object->metaObject()->className()), str(QMetaType::typeName(typeId)));
            return false;
        }
        *out = QVariant(typeId, &object);
        return true;
    }
    QVariant plain;
    if (tag == QLatin1String("list")) {
        QVariantList list;
        for (const QJsonValue& e : o.value(tag).toArray()) {
            QVariant v;
            if (!fromWire(e, QMetaType::QVariant, &v, error))
                return false;
            list << v;
        }
        plain = list;
    } else if (tag == QLatin1String("map")) {
        QVariantMap map;
        const QJsonObject m = o.value(tag).toObject();
        for (auto it = m.constBegin(); it != m.constEnd(); ++it) {
            QVariant v;
            if (!fromWire(it.value(), QMetaType::QVariant, &v, error))
                return false;
            map.insert(it.key(), v);
        }
        plain = map;
    } else if (tag == QLatin1String("value")) {
        const int valueType = QMetaType::type(o.value(tag).toString().toLatin1().constData());
        if (!valueFromProps(typeId == QMetaType::QVariant ? valueType : typeId, o.value(QStringLiteral("props")).toObject(),
                            &plain)) {
            plain = o.value(QStringLiteral("text")).toString();
        }
    } else if (tag == QLatin1String("int64")) {
        plain = o.value(tag).toString().toLongLong();
    } else if (tag == QLatin1String("int") || tag == QLatin1String("double") || tag == QLatin1String("bool") ||
               tag == QLatin1String("string")) {
        plain = o.value(tag).toVariant();
        if (tag == QLatin1String("int"))
            plain = plain.toInt();
    } else {
        *error = QStringLiteral("Malformed value %1").arg(QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact)));
        return false;
    }
    if (typeId == QMetaType::QVariant || plain.userType() == typeId) {
        *out = plain;
        return true;
    }
    // Texts of value classes ("2024-01-31", "#ff0000") and numbers of any width convert the way Qt does.
    QVariant converted = plain;
    if (typeId == QMetaType::Bool && plain.userType() == QMetaType::QString) {
        const QString t = plain.toString().toLower();
        if (t == QLatin1String("true") || t == QLatin1String("1") || t == QLatin1String("yes") || t == QLatin1String("on"))
            converted = true;
        else if (t == QLatin1String("false") || t == QLatin1String("0") || t == QLatin1String("no") ||
                 t == QLatin1String("off") || t.isEmpty())
            converted = false;
        else
            converted = QVariant();
    } else if (typeId == QMetaType::QColor && plain.userType() == QMetaType::QString) {
        converted = QColor(plain.toString());
        if (!converted.value<QColor>().isValid())
            converted = QVariant();
    } else if (typeId == QMetaType::QKeySequence && plain.userType() == QMetaType::QString) {
        converted = QKeySequence(plain.toString());
    } else if (typeId == QMetaType::QStringList && plain.userType() == QMetaType::QVariantList) {
        converted = plain.toStringList();
    } else if (typeId == QMetaType::QString && plain.userType() == QMetaType::QVariantList) {
        converted = QVariant();
    } else if (!converted.convert(typeId)) {
        converted = QVariant();
    }
    if (!converted.isValid()) {
        *error = QStringLiteral("Cannot convert '%1' to %2").arg(plain.toString(), str(QMetaType::typeName(typeId)));
        return false;
    }
    *out = converted;
    return true;
}
