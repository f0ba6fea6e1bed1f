// The agent's view of the application's objects: ids for the QObjects (and item view items) it hands
// to the runner, the tree as scripts see it, real names, classes described from the meta-object
// system, and values converted between QVariant and the wire format.
#pragma once

#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPersistentModelIndex>
#include <QPointer>
#include <QSet>
#include <QVariant>


class QAbstractItemModel;
class QMetaObject;

// An item of an item view or combo box: its owner widget and its place in the owner's model.
struct AgentItem {
    QPointer<QObject> owner;
    QPersistentModelIndex index;
};

class AgentObjects : public QObject {
public:
    // The class name under which items are described and matched.
    static const char itemClassName[];

    AgentObjects();

    // The id of an object, handed out on first use; never reused.
    quint64 idOf(QObject* object);
    quint64 idOfItem(QObject* owner, const QModelIndex& index);
    // The live object or item of an id; null (or false) when the id names none or it is gone.
    QObject* object(quint64 id) const;
    bool item(quint64 id, AgentItem* out) const;
    // Whether the id was handed out at all (a gone object's id still was).
    bool known(quint64 id) const { return id > 0 && id < nextId; }

    // Forgets the handed-out objects and items the application deleted since the last sweep; their ids.
    QList<quint64> sweep();
    int handedOut() const { return objects.size() + items.size(); }

    // The wire reference of an object or item: {"object": ID, "class": NAME}.
    QJsonObject reference(QObject* object);
    QJsonObject itemReference(QObject* owner, const QModelIndex& index);

    // The tree: top-level widgets (in a stable order), children, the parent as scripts see it.
    QList<QObject*> topLevelObjects();
    QList<QObject*> children(QObject* object) const;

    // Lookups by real name; objects first in tree order, visible ones before hidden ones unless the
    // name asks for `visible` itself. Items are named with type ModelItem and a container.
    // False with a reason for a malformed name.
    bool find(const QString& realName, bool all, QJsonArray* out, QString* error);
    // A real name that finds the object again, the same on every run of the application.
    QString realName(QObject* object);
    QString itemRealName(const AgentItem& item);

    // Whether a user could work with it (shown and enabled), and where it is on the screen.
    bool isReady(QObject* object) const;
    bool itemReady(const AgentItem& item) const;
    bool bounds(QObject* object, QRect* rect) const;
    bool itemBounds(const AgentItem& item, QRect* rect) const;
    // The item of a container (item view, combo box, menu or menu bar) by text or row number: a
    // reference, or an empty object when there is none.
    QJsonObject findItem(QObject* container, const QString& text, QString* error);
    QModelIndex itemIndex(QObject* container, const QString& text) const;

    // Descriptions of a class and its bases, most derived first, for the classes not in `known`.
    QJsonArray describe(const QString& className, const QSet<QString>& known, QString* error);
    QJsonArray describeItemClass() const;

    // Properties, methods and the accessors added to some classes.
    bool readProperty(QObject* object, const QString& name, QJsonValue* out, QString* error);
    bool writeProperty(QObject* object, const QString& name, const QJsonValue& value, QString* error);
    bool invoke(QObject* object, const QString& signature, const QJsonArray& args, QJsonValue* out, QString* error);
    bool readItemProperty(const AgentItem& item, const QString& name, QJsonValue* out, QString* error);
    bool writeItemProperty(const AgentItem& item, const QString& name, const QJsonValue& value, QString* error);

    // Value conversion.
    QJsonValue toWire(const QVariant& value);
    bool fromWire(const QJsonValue& value, int typeId, QVariant* out, QString* error) const;
    // The text a real name compares a property value with.
    QString propertyText(QObject* object, const QString& name) const;

private:
    quint64 registerId(QObject* object);
    bool matches(QObject* object, const QList<QPair<QString, QString>>& pairs, const QSet<QObject*>* containers) const;
    QList<QObject*> findAll(const QString& realName, bool* ok, QString* error);
    void collect(QObject* object, const QList<QPair<QString, QString>>& pairs, const QSet<QObject*>* containers,
                 QList<QObject*>* out) const;

    quint64 nextId = 1;
    QHash<QObject*, quint64> ids;
    QHash<quint64, QPointer<QObject>> objects;
    QHash<quint64, AgentItem> items;
    QHash<QObject*, quint64> topLevelOrder;
    quint64 nextOrder = 1;
};
