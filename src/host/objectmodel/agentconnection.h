// The object model's link to an application in another process: a connection to the agent inside it
// (src/agent), the application's objects as proxies, and their classes as the agent describes them.
//
// A connection is shared: every proxy keeps the connection it came from, so a handle a script still
// holds after its application ended asks a closed connection and is told so, never another
// application's objects.
#pragma once

#include "inspector.h"

#include <QElapsedTimer>
#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <functional>

class AgentConnection : public Shared, public ObjectProvider {
public:
    // Takes over a socket connected to an agent that still has to say hello.
    explicit AgentConnection(int fd);
    ~AgentConnection() override;

    // Waits for the agent's hello; false with a reason (the agent's process ended, time ran out).
    // `stillRunning` says whether the application is still there to say it.
    bool waitForHello(int timeoutMs, const std::function<bool()>& stillRunning, QString* error);
    qint64 pid() const { return agentPid; }
    QString applicationName() const { return agentApplication; }

    // The name scripts know the application by, and what to say once it has ended ("The application
    // 'x' ended with exit status 1"); the runner sets both.
    void setName(const QString& name) { contextName = name; }
    QString name() const { return contextName; }
    void setEndedDescription(const std::function<QString()>& describe) { endedDescription = describe; }
    // How long a request may take before the application counts as not answering.
    void setRequestTimeout(int ms) { requestTimeout = ms; }

    // Sends a request and waits for its answer. False with a reason when the agent refused it, the
    // application did not answer in time or the connection is gone; `gone` is set when the request
    // named an object that the application deleted.
    bool request(QJsonObject request, QJsonValue* result, QString* error, bool* gone = nullptr);
    bool isOpen() const { return fd >= 0; }
    // Closes the link (the application ended or the test case is over); proxies become invalid.
    void close();
    // Why requests fail now that the connection is closed.
    QString closedReason() const;

    // Reads notices that arrived meanwhile (objects the application deleted) without waiting.
    void pollNotices();
    bool isDestroyed(quint64 id) const { return destroyed.contains(id); }

    // Objects and values.
    SharedPtr<Object> objectFor(const QJsonObject& reference);
    SharedPtr<Object> fromWire(const QJsonValue& value);
    bool toWire(const SharedPtr<Object>& object, QJsonValue* out, QString* error) const;
    // Counts requests, so that an answer that came with another one is known to be still fresh.
    quint64 generation() const { return requests; }

    // Describes the class and its bases when that has not been done (see RemoteClasses).
    void describe(const QString& className);

    // Input without an object: screen coordinates or the window that has the keyboard focus.
    bool input(const QJsonObject& input, QString* error);

    // ObjectProvider
    SharedPtr<Object> findObject(const QString& realName) override;
    ObjectList findAllObjects(const QString& realName) override;
    ObjectList topLevelObjects() override;
    bool userInput(const QString& action, const QVariantMap& parameters) override;
    QByteArray screenshot() override;
    QString unavailableReason() const override { return fd >= 0 ? QString() : closedReason(); }
    void watchEvents(const QStringList& eventNames) override;
    void deliverPendingEvents() override;

private:
    bool readAvailable(int waitMs);
    void handleNotice(const QJsonObject& notice);
    void lostConnection();

    int fd;
    QByteArray inbox;
    QList<QJsonObject> received;
    qint64 agentPid = -1;
    QString agentApplication;
    QString contextName;
    std::function<QString()> endedDescription;
    QString closeReason;
    int requestTimeout = 20000;
    qint64 nextRequestId = 1;
    quint64 requests = 0;
    QHash<quint64, SharedPtr<Object>> proxies;
    QSet<quint64> destroyed;
    // Events the application reported for handlers, raised at the next safe point.
    QList<QJsonObject> pendingEvents;
    QStringList watched;
    bool delivering = false;
};

// Listens for the applications the runner starts: a socket in a private directory (mode 0700) that
// the started application's agent connects to.
class AgentListener {
public:
    AgentListener();
    ~AgentListener();
    // False with a reason when no socket could be made.
    bool open(QString* error);
    QString socketPath() const { return path; }
    // The next agent that connects, within the timeout, while `stillRunning` holds; null with a reason.
    SharedPtr<AgentConnection> accept(int timeoutMs, const std::function<bool()>& stillRunning, QString* error);

private:
    int fd = -1;
    QString directory;
    QString path;
};

// Connects to an agent that listens: on a local socket path, or on TCP with the secret.
SharedPtr<AgentConnection> connectToAgent(const QString& socketPath, int timeoutMs, QString* error);
SharedPtr<AgentConnection> connectToAgent(const QString& host, int port, const QByteArray& secret, int timeoutMs,
                                          QString* error);

// Classes of remote applications: one Class per class name for every application, filled in from the
// agent's description the first time an object of the class (or of a class derived from it) arrives.
// Value classes (QPoint, QSize, QRect, QColor, QFont, QDate, QTime, QDateTime and their F forms) are
// the object model's own, with a property per field.
namespace RemoteClasses {

// Declares the value classes and the event types of real applications; called before first use.
void initialize();
// The class of that name, made empty when unknown.
Class* classNamed(const QString& name);
bool isDescribed(const QString& name);
// Every class described so far: an agent describes a class down to the first of these.
QStringList describedNames();
// Fills the classes from the agent's description (most derived first).
void fill(const QJsonArray& levels, AgentConnection* connection);
// The declared argument for a type as the agent names it.
Argument argumentFor(const QString& wireType);

} // namespace RemoteClasses
