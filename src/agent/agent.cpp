// libtarvinagent: loaded into an application under test with LD_PRELOAD, it starts with the
// application's QCoreApplication and serves the application's objects to the runner over a socket.
// Everything runs on the application's main thread, between its own events.
#include "agent.h"

#include "agentquick.h"
#include "agentrequests.h"
#include "protocol.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QCoreApplication>
#include <QFile>
#include <QAbstractItemView>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <malloc.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <csignal>
#include <unistd.h>

namespace {

// What the environment asked for, read (and removed) when the library is loaded.
struct Settings {
    qint64 runnerPid = 0;
    QByteArray connectPath;
    QByteArray listen;
    QByteArray secret;
    bool enabled = false;
};

Settings& settings()
{
    static Settings s;
    return s;
}

// Takes the agent's variables out of the environment, and the agent out of LD_PRELOAD, so that
// programs the application starts run without an agent of their own.
void takeEnvironment()
{
    Settings& s = settings();
    s.connectPath = qgetenv(AgentProtocol::connectVariable);
    s.listen = qgetenv(AgentProtocol::listenVariable);
    s.secret = qgetenv(AgentProtocol::secretVariable);
    s.runnerPid = qgetenv(AgentProtocol::runnerVariable).toLongLong();
    s.enabled = !s.connectPath.isEmpty() || !s.listen.isEmpty();
    unsetenv(AgentProtocol::connectVariable);
    unsetenv(AgentProtocol::listenVariable);
    unsetenv(AgentProtocol::secretVariable);
    unsetenv(AgentProtocol::runnerVariable);
    const QByteArray preload = qgetenv("LD_PRELOAD");
    QList<QByteArray> kept;
    for (const QByteArray& entry : preload.split(preload.contains(':') ? ':' : ' '))
        if (!entry.isEmpty() && !entry.contains("libtarvinagent"))
            kept << entry;
    if (kept.isEmpty())
        unsetenv("LD_PRELOAD");
    else
        setenv("LD_PRELOAD", kept.join(':').constData(), 1);
}

QJsonObject reply(const QJsonValue& id, const QJsonValue& result)
{
    return QJsonObject{{QStringLiteral("id"), id}, {QStringLiteral("ok"), true}, {QStringLiteral("result"), result}};
}

QJsonObject failure(const QJsonValue& id, const QString& error)
{
    return QJsonObject{{QStringLiteral("id"), id}, {QStringLiteral("ok"), false}, {QStringLiteral("error"), error}};
}

bool constantTimeEquals(const QByteArray& a, const QByteArray& b)
{
    if (a.size() != b.size())
        return false;
    unsigned char diff = 0;
    for (int i = 0; i < a.size(); ++i)
        diff |= uchar(a.at(i)) ^ uchar(b.at(i));
    return diff == 0;
}

} // namespace

Agent::Agent(QObject* parent) : QObject(parent)
{
    // Deleted objects are announced soon after they go, while the runner holds any.
    sweepTimer = new QTimer(this);
    sweepTimer->setInterval(25);
    connect(sweepTimer, &QTimer::timeout, this, [this] { flushDestroyed(); });
}

Agent::~Agent()
{
    closeClient();
    if (listenFd >= 0)
        ::close(listenFd);
    if (!socketPath.isEmpty())
        ::unlink(socketPath.constData());
}

void Agent::start()
{
    const Settings& s = settings();
    // An application the runner started never outlives the runner, however the runner ends (a kill
    // leaves it no time to end what it started): once the runner is gone, the application quits.
    if (s.runnerPid > 0) {
        auto* watch = new QTimer(this);
        connect(watch, &QTimer::timeout, this, [pid = pid_t(s.runnerPid)] {
            if (::kill(pid, 0) == 0 || errno != ESRCH)
                return;
            qWarning("tarvinagent: the runner (process %d) has ended; the application ends too", int(pid));
            QCoreApplication::exit(1);
            QTimer::singleShot(3000, [] { _exit(1); }); // an application that does not leave its loop
        });
        watch->start(1000);
    }
    if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance())
        connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this, &Agent::answerBlockedRequests);
    if (!s.connectPath.isEmpty()) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (fd < 0 || size_t(s.connectPath.size()) >= sizeof(address.sun_path)) {
            qWarning("tarvinagent: cannot reach the runner at %s", s.connectPath.constData());
            if (fd >= 0)
                ::close(fd);
            return;
        }
        memcpy(address.sun_path, s.connectPath.constData(), size_t(s.connectPath.size()));
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
            qWarning("tarvinagent: cannot reach the runner at %s: %s", s.connectPath.constData(), strerror(errno));
            ::close(fd);
            return;
        }
        acceptClient(fd, true);
    }
    if (!s.listen.isEmpty())
        startListening(s.listen);
}

bool Agent::startListening(const QByteArray& address)
{
    QByteArray host = "127.0.0.1";
    QByteArray port = address;
    if (address.contains(':')) {
        host = address.left(address.lastIndexOf(':'));
        port = address.mid(address.lastIndexOf(':') + 1);
    }
    bool isPort = false;
    const int portNumber = port.toInt(&isPort);
    if (isPort && portNumber >= 0 && portNumber < 65536) {
        if (settings().secret.isEmpty()) {
            qWarning("tarvinagent: not listening on TCP port %d without %s", portNumber, AgentProtocol::secretVariable);
            return false;
        }
        listenFd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int on = 1;
        setsockopt(listenFd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(quint16(portNumber));
        if (inet_pton(AF_INET, host.constData(), &address.sin_addr) != 1 ||
            ::bind(listenFd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 || ::listen(listenFd, 4) != 0) {
            qWarning("tarvinagent: cannot listen on %s:%d: %s", host.constData(), portNumber, strerror(errno));
            ::close(listenFd);
            listenFd = -1;
            return false;
        }
        needsSecret = true;
    } else {
        // A socket in the user's private agent directory (or the path given), named after the process.
        QString error;
        QByteArray path = address;
        if (address == "local") {
            const QString dir = AgentProtocol::agentDirectory(&error);
            if (dir.isEmpty()) {
                qWarning("tarvinagent: %s", qPrintable(error));
                return false;
            }
            path = QFile::encodeName(dir) + '/' + QByteArray::number(qint64(getpid())) + ".sock";
        }
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (size_t(path.size()) >= sizeof(address.sun_path))
            return false;
        memcpy(address.sun_path, path.constData(), size_t(path.size()));
        ::unlink(path.constData());
        listenFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (::bind(listenFd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 || ::listen(listenFd, 4) != 0) {
            qWarning("tarvinagent: cannot listen on %s: %s", path.constData(), strerror(errno));
            ::close(listenFd);
            listenFd = -1;
            return false;
        }
        ::chmod(path.constData(), 0600);
        socketPath = path;
    }
    listenNotifier = new QSocketNotifier(listenFd, QSocketNotifier::Read, this);
    connect(listenNotifier, &QSocketNotifier::activated, this, [this] {
        const int fd = ::accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            return;
        if (clientFd >= 0) {
            AgentProtocol::sendAll(fd, AgentProtocol::frame(QJsonObject{{QStringLiteral("notice"), QStringLiteral("busy")}}));
            ::close(fd); // one runner at a time
            return;
        }
        if (!needsSecret) {
            ucred peer{};
            socklen_t length = sizeof(peer);
            if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 || peer.uid != getuid()) {
                ::close(fd);
                return;
            }
        }
        acceptClient(fd, !needsSecret);
    });
    return true;
}

void Agent::acceptClient(int fd, bool trusted)
{
    clientFd = fd;
    authenticated = trusted;
    inbox.clear();
    clientNotifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(clientNotifier, &QSocketNotifier::activated, this, &Agent::readClient);
    if (trusted)
        sendHello();
}

void Agent::sendHello()
{
    QJsonObject hello{{QStringLiteral("notice"), QStringLiteral("hello")},
                      {QStringLiteral("pid"), qint64(getpid())},
                      {QStringLiteral("application"), QCoreApplication::applicationName()},
                      {QStringLiteral("qt"), QString::fromLatin1(qVersion())}};
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        hello.insert(QStringLiteral("platform"), QGuiApplication::platformName());
    send(hello);
}

void Agent::closeClient()
{
    // Often called from the notifier's own signal: it goes once that has returned.
    if (clientNotifier) {
        clientNotifier->setEnabled(false);
        clientNotifier->deleteLater();
    }
    clientNotifier = nullptr;
    if (clientFd >= 0)
        ::close(clientFd);
    clientFd = -1;
    inbox.clear();
    queue.clear();
    for (Pending* p : inProgress)
        p->answered = true; // nobody to answer any more
}

void Agent::send(const QJsonObject& message)
{
    if (clientFd >= 0 && !AgentProtocol::sendAll(clientFd, AgentProtocol::frame(message)))
        QTimer::singleShot(0, this, [this] { closeClient(); });
}

void Agent::flushDestroyed()
{
    if (objects.handedOut() == 0) {
        sweepTimer->stop();
        return;
    }
    const QList<quint64> gone = objects.sweep();
    if (gone.isEmpty() || !authenticated)
        return;
    QJsonArray ids;
    for (quint64 id : gone)
        ids.append(QString::number(id));
    send(QJsonObject{{QStringLiteral("notice"), QStringLiteral("destroyed")}, {QStringLiteral("ids"), ids}});
}

void Agent::readClient()
{
    if (!AgentProtocol::receiveAvailable(clientFd, &inbox)) {
        closeClient(); // the runner went away
        return;
    }
    for (;;) {
        QJsonObject message;
        QString error;
        const int taken = AgentProtocol::takeMessage(&inbox, &message, &error);
        if (taken == 0)
            break;
        if (taken < 0) {
            send(failure(QJsonValue(), QStringLiteral("Bad request: %1").arg(error)));
            if (inbox.isEmpty())
                break;
            continue;
        }
        queue.append(message);
    }
    // Requests run one after the other; one that enters an event loop of its own (a modal dialog) lets
    // the next ones run inside that loop, from here again.
    while (!queue.isEmpty() && clientFd >= 0)
        serve(queue.takeFirst());
}

void Agent::serve(const QJsonObject& request)
{
    const QJsonValue id = request.value(QStringLiteral("id"));
    if (!authenticated) {
        const bool ok = request.value(QStringLiteral("op")).toString() == QLatin1String("auth") &&
                        constantTimeEquals(request.value(QStringLiteral("secret")).toString().toUtf8(), settings().secret);
        if (!ok) {
            send(failure(id, QStringLiteral("Not authenticated")));
            QTimer::singleShot(0, this, [this] { closeClient(); });
            return;
        }
        authenticated = true;
        send(reply(id, QJsonValue(true)));
        sendHello();
        return;
    }
    Pending pending{id, false};
    inProgress.append(&pending);
    QJsonValue result;
    QString error;
    const bool ok = handle(request, &result, &error);
    inProgress.removeOne(&pending);
    if (objects.handedOut() > 0 && !sweepTimer->isActive())
        sweepTimer->start();
    if (pending.answered)
        return; // answered when the request blocked; its late result has nobody waiting for it
    const QByteArray answer = AgentProtocol::frame(ok ? reply(id, result) : failure(id, error));
    if (clientFd >= 0 && !AgentProtocol::sendAll(clientFd, answer))
        QTimer::singleShot(0, this, [this] { closeClient(); });
    // A large answer (a lookup of thousands of objects) leaves the heap grown: give it back.
    if (answer.size() > (1 << 20))
        QTimer::singleShot(0, [] { malloc_trim(0); });
}

void Agent::answerBlockedRequests()
{
    noticeNames.clear();
    // The thread is about to wait for events while requests are still running: they wait for a user
    // (a modal dialog's loop) and the runner would wait for them for ever. They count as done.
    for (Pending* p : inProgress) {
        if (p->answered)
            continue;
        p->answered = true;
        QJsonObject r = reply(p->id, QJsonValue());
        r.insert(QStringLiteral("blocked"), true);
        send(r);
    }
}

bool Agent::handle(const QJsonObject& request, QJsonValue* result, QString* error)
{
    if (request.value(QStringLiteral("op")).toString() == QLatin1String("watch")) {
        watchedEvents.clear();
        for (const QJsonValue& v : request.value(QStringLiteral("events")).toArray())
            watchedEvents << v.toString();
        if (watchedEvents.isEmpty())
            QCoreApplication::instance()->removeEventFilter(this);
        else
            QCoreApplication::instance()->installEventFilter(this);
        *result = QJsonValue(true);
        return true;
    }
    return AgentRequests::handle(&objects, request, result, error);
}

namespace {

int scriptButtons(Qt::MouseButtons buttons)
{
    int bits = 0;
    if (buttons & Qt::LeftButton)
        bits |= 1;
    if (buttons & Qt::MiddleButton)
        bits |= 2;
    if (buttons & Qt::RightButton)
        bits |= 4;
    if (buttons & Qt::XButton1)
        bits |= 64;
    if (buttons & Qt::XButton2)
        bits |= 128;
    return bits;
}

int scriptModifiers(Qt::KeyboardModifiers modifiers)
{
    int bits = 0;
    if (modifiers & Qt::ControlModifier)
        bits |= 128;
    if (modifiers & Qt::ShiftModifier)
        bits |= 256;
    if (modifiers & Qt::AltModifier)
        bits |= 512;
    if (modifiers & Qt::MetaModifier)
        bits |= 1024;
    return bits;
}

QJsonObject tag(const char* kind, const QJsonValue& value)
{
    return QJsonObject{{QLatin1String(kind), value}};
}

} // namespace

bool Agent::eventFilter(QObject* receiver, QEvent* event)
{
    // The events a user gives a widget (and their close), for the runner's event handlers: QMouseEvent
    // (type, x, y, button, modifiers), QKeyEvent (type, key, modifiers, text), QCloseEvent.
    const QEvent::Type type = event->type();
    QString name;
    if (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonRelease ||
        type == QEvent::MouseButtonDblClick || type == QEvent::MouseMove)
        name = QStringLiteral("QMouseEvent");
    else if (type == QEvent::KeyPress || type == QEvent::KeyRelease)
        name = QStringLiteral("QKeyEvent");
    else if (type == QEvent::Close)
        name = QStringLiteral("QCloseEvent");
    if (name.isEmpty() || !watchedEvents.contains(name) || clientFd < 0)
        return false;
    // Qt Quick: the window gets the user's event and hands copies to its items (a press to the items
    // under the pointer until one takes it, the release to that one, keys to the item with the focus).
    // The items' copies are what is reported, a press once its release shows which item took it.
    const bool quickItem = AgentQuick::isItem(receiver);
    if (receiver->inherits("QQuickWindow") && type != QEvent::Close) {
        if (event->spontaneous())
            quickEventTime = static_cast<QInputEvent*>(event)->timestamp();
        return false;
    }
    if (quickItem) {
        // Moves count while a button is held (a drag, to the item that took the press).
        if (type == QEvent::Close || static_cast<QInputEvent*>(event)->timestamp() != quickEventTime ||
            (type == QEvent::MouseMove && static_cast<QMouseEvent*>(event)->buttons() == Qt::NoButton))
            return false;
    } else if (!receiver->isWidgetType() && !(type == QEvent::Close && receiver->inherits("QQuickWindow"))) {
        return false;
    } else if (type != QEvent::Close && !event->spontaneous()) {
        return false;
    }
    QJsonArray args;
    QByteArray identity;
    if (name == QLatin1String("QMouseEvent")) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        static const QHash<int, QString> names{{QEvent::MouseButtonPress, QStringLiteral("MouseButtonPress")},
                                               {QEvent::MouseButtonRelease, QStringLiteral("MouseButtonRelease")},
                                               {QEvent::MouseButtonDblClick, QStringLiteral("MouseButtonDblClick")},
                                               {QEvent::MouseMove, QStringLiteral("MouseMove")}};
        args = QJsonArray{tag("string", names.value(type)), tag("int", mouse->pos().x()), tag("int", mouse->pos().y()),
                          tag("int", scriptButtons(type == QEvent::MouseMove ? mouse->buttons() : mouse->button())),
                          tag("int", scriptModifiers(mouse->modifiers()))};
        identity = QByteArray::number(type) + ' ' + QByteArray::number(qulonglong(mouse->timestamp())) + ' ' +
                   QByteArray::number(mouse->globalPos().x()) + ',' + QByteArray::number(mouse->globalPos().y());
    } else if (name == QLatin1String("QKeyEvent")) {
        auto* key = static_cast<QKeyEvent*>(event);
        args = QJsonArray{tag("string", type == QEvent::KeyPress ? QStringLiteral("KeyPress") : QStringLiteral("KeyRelease")),
                          tag("int", key->key()), tag("int", scriptModifiers(key->modifiers())), tag("string", key->text())};
        identity = QByteArray::number(type) + ' ' + QByteArray::number(qulonglong(key->timestamp())) + ' ' +
                   QByteArray::number(key->key());
    } else {
        identity = "close " + QByteArray::number(quintptr(event));
    }
    if (quickItem && (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick)) {
        // Offered to one item after the other: the last one took it.
        pendingPress = PendingPress{receiver, args, identity};
        return false;
    }
    if (quickItem && (type == QEvent::MouseButtonRelease || type == QEvent::MouseMove) && pendingPress.receiver) {
        PendingPress press = pendingPress;
        pendingPress = PendingPress();
        if (press.receiver != receiver) // taken over by another item: its own position of the press
            press.args = QJsonArray{press.args.at(0), args.at(1), args.at(2), press.args.at(3), press.args.at(4)};
        if (press.identity != lastReported) {
            lastReported = press.identity;
            notifyInput(receiver, QStringLiteral("QMouseEvent"), objects.reference(receiver), press.args);
        }
    }
    if (identity == lastReported)
        return false; // the same event, passed on to a parent
    lastReported = identity;
    QJsonObject reference = objects.reference(receiver);
    // A click in an item view names the item under the pointer, relative to the item.
    if (name == QLatin1String("QMouseEvent")) {
        auto* view = qobject_cast<QAbstractItemView*>(receiver->parent());
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (view && view->viewport() == receiver) {
            const QModelIndex index = view->indexAt(mouse->pos());
            if (index.isValid()) {
                const QRect rect = view->visualRect(index);
                reference = objects.itemReference(view, index);
                args.replace(1, tag("int", mouse->pos().x() - rect.x()));
                args.replace(2, tag("int", mouse->pos().y() - rect.y()));
            }
        }
    }
    notifyInput(receiver, name, reference, args);
    return false;
}

void Agent::notifyInput(QObject* receiver, const QString& name, QJsonObject reference, const QJsonArray& args)
{
    // The object's real name as it is now: by the time the runner hears of the event the object may be
    // gone (a dialog that Return closed).
    AgentItem item;
    const quint64 id = reference.value(QStringLiteral("object")).toString().toULongLong();
    QString realName;
    if (objects.item(id, &item)) {
        realName = objects.itemRealName(item);
    } else {
        const auto known = noticeNames.constFind(receiver);
        if (known != noticeNames.constEnd() && known->first == receiver) {
            realName = known->second;
        } else {
            realName = objects.realName(receiver);
            noticeNames.insert(receiver, qMakePair(QPointer<QObject>(receiver), realName));
        }
    }
    reference.insert(QStringLiteral("realName"), realName);
    send(QJsonObject{{QStringLiteral("notice"), QStringLiteral("event")},
                     {QStringLiteral("event"), name},
                     {QStringLiteral("input"), name != QLatin1String("QCloseEvent")},
                     {QStringLiteral("object"), reference},
                     {QStringLiteral("args"), args}});
}

namespace {

void startAgent()
{
    // Only a Qt application reaches this point: a shell or a helper that starts the application passes
    // the variables on untouched.
    takeEnvironment();
    if (!settings().enabled)
        return;
    // The application object is being built: the agent starts with its first event loop, when the
    // application can answer.
    auto* agent = new Agent(QCoreApplication::instance());
    QMetaObject::invokeMethod(agent, &Agent::start, Qt::QueuedConnection);
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(startAgent)
