// Proxies of the objects of an application in another process, and values of Qt's value classes.
#pragma once

#include "agentconnection.h"

// An object (or item view item) of a remote application, named by the id its agent handed out.
class RemoteObject : public Object {
public:
    RemoteObject(const SharedPtr<AgentConnection>& connection, quint64 id, const Class* cls);

    AgentConnection* connection() const { return link.get(); }
    quint64 id() const { return objectId; }
    // Whether the object is ready, as the answer that handed the object out said; and its real name
    // when the answer brought it (it stands once the object is gone).
    void setReadyHint(const QJsonObject& reference);

    // A request about this object; false with the reason in the inspector's last error (and the
    // object invalidated when the application deleted it).
    bool ask(QJsonObject request, QJsonValue* result) const;

    int childCount() const override;
    SharedPtr<Object> child(int i) const override;
    SharedPtr<Object> child(const QString& name) const override;
    Object* parent() const override;
    QString name() const override;
    QString realName() const override;
    bool isReady() const override;
    bool globalBounds(int* x, int* y, int* width, int* height) const override;
    bool mouseEvent(const MouseInput& input) override;
    bool handleEvent(const QString& eventName, const ObjectList& args) override;
    SharedPtr<Object> item(const QString& itemText) const override;
    bool isInvalid() const override;
    bool compare(const Object* other) const override;

    // Input as a user gives it: "click", "type" and the other actions of the agent's input request.
    bool input(const QString& action, QJsonObject input) const;
    bool userInput(const QString& action, const QVariantMap& parameters) override;
    QByteArray screenshot() const override;

private:
    QJsonObject info(bool withRealName) const;
    mutable QString knownRealName;

    SharedPtr<AgentConnection> link;
    quint64 objectId;
    mutable ObjectList children;
    mutable SharedPtr<Object> parentObject;
    bool readyHint = false;
    quint64 readyGeneration = 0;
};

// A value of a value class (QPoint, QRect, QColor, QDate...): its fields as stored properties and the
// text Qt gives it.
class RemoteValue : public Object {
public:
    RemoteValue(const Class* cls, const QString& text) : Object(cls, ObjectAttribute::Value()), t(text) {}
    QString text() const override;
    bool compare(const Object* other) const override;
    // Notes the fields as the application gave them, with its text.
    void freeze() { frozen = fieldsText(); }

private:
    QString fieldsText() const;
    QString t;
    QString frozen;
};
