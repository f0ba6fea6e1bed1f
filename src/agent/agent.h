// The agent inside the application under test: the server end of the runner's connection.
#pragma once

#include "agentobjects.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QHash>
#include <QObject>
#include <QPair>
#include <QPointer>

class QEvent;
class QSocketNotifier;
class QTimer;

class Agent : public QObject {
public:
    explicit Agent(QObject* parent = nullptr);
    ~Agent() override;

    // Connects to the runner, or listens for one, as the environment said.
    void start();

private:
    struct Pending {
        QJsonValue id;
        bool answered;
    };

    bool startListening(const QByteArray& address);
    void acceptClient(int fd, bool trusted);
    void closeClient();
    void readClient();
    void serve(const QJsonObject& request);
    bool handle(const QJsonObject& request, QJsonValue* result, QString* error);
    void answerBlockedRequests();
    void send(const QJsonObject& message);
    void sendHello();
    void flushDestroyed();
    bool eventFilter(QObject* receiver, QEvent* event) override;
    void notifyInput(QObject* receiver, const QString& name, QJsonObject reference, const QJsonArray& args);

    AgentObjects objects;
    int listenFd = -1;
    QByteArray socketPath;
    bool needsSecret = false;
    QSocketNotifier* listenNotifier = nullptr;
    int clientFd = -1;
    bool authenticated = false;
    QSocketNotifier* clientNotifier = nullptr;
    QByteArray inbox;
    QList<QJsonObject> queue;
    QList<Pending*> inProgress;
    QTimer* sweepTimer = nullptr;
    // The event types the runner's handlers wait for, and the last event reported (an event that
    // propagates to the parents of its receiver is reported once).
    QStringList watchedEvents;
    QByteArray lastReported;
    // Real names of the objects input went to, kept until the thread next waits for events: a real
    // name searches the whole tree, and a typed text sends two events a character to one object.
    QHash<QObject*, QPair<QPointer<QObject>, QString>> noticeNames;
    // Qt Quick: the time of the last event a window got from the user (its items' copies carry it), and
    // a press offered to items, reported when its release shows which one took it.
    ulong quickEventTime = 0;
    struct PendingPress {
        QPointer<QObject> receiver;
        QJsonArray args;
        QByteArray identity;
    } pendingPress;
};
