// The runner's end of the connection to an agent: sockets, requests and answers, notices.
#include "agentconnection.h"

#include "protocol.h"
#include "remoteobject.h"

#include <QDir>
#include <QFile>
#include <QThread>

#include <cerrno>
#include <cstring>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

bool fillUnixAddress(const QString& path, sockaddr_un* address)
{
    const QByteArray local = QFile::encodeName(path);
    memset(address, 0, sizeof(*address));
    address->sun_family = AF_UNIX;
    if (size_t(local.size()) >= sizeof(address->sun_path))
        return false;
    memcpy(address->sun_path, local.constData(), size_t(local.size()));
    return true;
}

QString systemError()
{
    return QString::fromLocal8Bit(strerror(errno));
}

} // namespace

AgentConnection::AgentConnection(int socket) : fd(socket)
{
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on)); // fails harmlessly on local sockets
    RemoteClasses::initialize();
}

AgentConnection::~AgentConnection()
{
    if (fd >= 0)
        ::close(fd);
}

void AgentConnection::close()
{
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
    if (closeReason.isEmpty())
        closeReason = endedDescription ? endedDescription()
                                       : QStringLiteral("The application '%1' is no longer connected").arg(contextName);
    // Proxies keep the connection; the connection lets go of them (no cycle stays).
    const QHash<quint64, SharedPtr<Object>> gone = proxies;
    proxies.clear();
    for (const SharedPtr<Object>& proxy : gone)
        proxy->invalidate();
}

QString AgentConnection::closedReason() const
{
    return closeReason.isEmpty() ? QStringLiteral("The application '%1' is no longer connected").arg(contextName)
                                 : closeReason;
}

void AgentConnection::lostConnection()
{
    // The application ended (or closed its end): its own account of that is the reason.
    if (fd >= 0) {
        ::close(fd);
        fd = -1;
    }
    closeReason = endedDescription ? endedDescription()
                                   : QStringLiteral("The application '%1' closed the connection").arg(contextName);
    close();
}

bool AgentConnection::readAvailable(int waitMs)
{
    if (fd < 0)
        return false;
    pollfd p{fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, waitMs);
    if (ready < 0)
        return errno == EINTR;
    if (ready == 0)
        return true;
    if (!AgentProtocol::receiveAvailable(fd, &inbox)) {
        lostConnection();
        return false;
    }
    for (;;) {
        QJsonObject message;
        QString error;
        const int taken = AgentProtocol::takeMessage(&inbox, &message, &error);
        if (taken == 0)
            break;
        if (taken < 0) {
            qWarning("The agent of '%s' sent a damaged message: %s", qUtf8Printable(contextName), qUtf8Printable(error));
            closeReason = QStringLiteral("The application '%1' sent a damaged message: %2").arg(contextName, error);
            close();
            return false;
        }
        if (message.contains(QStringLiteral("notice")))
            handleNotice(message);
        else
            received.append(message);
    }
    return true;
}

void AgentConnection::handleNotice(const QJsonObject& notice)
{
    const QString kind = notice.value(QStringLiteral("notice")).toString();
    if (kind == QLatin1String("hello")) {
        agentPid = notice.value(QStringLiteral("pid")).toVariant().toLongLong();
        agentApplication = notice.value(QStringLiteral("application")).toString();
    } else if (kind == QLatin1String("destroyed")) {
        for (const QJsonValue& v : notice.value(QStringLiteral("ids")).toArray()) {
            const quint64 id = v.toString().toULongLong();
            destroyed.insert(id);
            if (SharedPtr<Object> proxy = proxies.take(id))
                proxy->invalidate();
        }
    } else if (kind == QLatin1String("event")) {
        pendingEvents.append(notice);
    } else if (kind == QLatin1String("busy")) {
        closeReason = QStringLiteral("The application is driven by another runner already");
        close();
    }
}

void AgentConnection::pollNotices()
{
    if (fd >= 0)
        readAvailable(0);
}

bool AgentConnection::waitForHello(int timeoutMs, const std::function<bool()>& stillRunning, QString* error)
{
    QElapsedTimer timer;
    timer.start();
    while (agentPid < 0) {
        if (fd < 0) {
            *error = closedReason();
            return false;
        }
        if (timer.elapsed() > timeoutMs) {
            *error = QStringLiteral("The agent did not answer within %1 s").arg(timeoutMs / 1000.0);
            return false;
        }
        if (stillRunning && !stillRunning()) {
            *error = endedDescription ? endedDescription() : QStringLiteral("The application ended");
            return false;
        }
        readAvailable(20);
    }
    return true;
}

bool AgentConnection::request(QJsonObject message, QJsonValue* result, QString* error, bool* gone)
{
    if (gone)
        *gone = false;
    if (fd < 0) {
        *error = closedReason();
        return false;
    }
    ++requests;
    const qint64 id = nextRequestId++;
    message.insert(QStringLiteral("id"), id);
    if (!AgentProtocol::sendAll(fd, AgentProtocol::frame(message))) {
        lostConnection();
        *error = closedReason();
        return false;
    }
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        for (int i = 0; i < received.size(); ++i) {
            const QJsonObject answer = received.at(i);
            const QJsonValue answerId = answer.value(QStringLiteral("id"));
            if (answerId.toVariant().toLongLong() != id) {
                if (answerId.toVariant().toLongLong() < id)
                    received.removeAt(i--); // the late answer of a request given up on
                continue;
            }
            received.removeAt(i);
            if (answer.value(QStringLiteral("ok")).toBool()) {
                *result = answer.value(QStringLiteral("result"));
                return true;
            }
            *error = answer.value(QStringLiteral("error")).toString();
            if (*error == QLatin1String("gone")) {
                if (gone)
                    *gone = true;
                *error = QStringLiteral("The object no longer exists in the application '%1'").arg(contextName);
            }
            return false;
        }
        const qint64 left = requestTimeout - timer.elapsed();
        if (left <= 0) {
            *error = QStringLiteral("The application '%1' did not answer within %2 s")
                         .arg(contextName)
                         .arg(requestTimeout / 1000.0);
            return false;
        }
        if (!readAvailable(int(qMin<qint64>(left, 100))) && fd < 0) {
            *error = closedReason();
            return false;
        }
    }
}

bool AgentConnection::input(const QJsonObject& input, QString* error)
{
    QJsonObject message = input;
    message.insert(QStringLiteral("op"), QStringLiteral("input"));
    QJsonValue result;
    return request(message, &result, error);
}

void AgentConnection::describe(const QString& className)
{
    if (RemoteClasses::isDescribed(className) || fd < 0)
        return;
    // The agent stops at the first base already described: a class's description is sent once.
    const QJsonArray known = QJsonArray::fromStringList(RemoteClasses::describedNames());
    QJsonValue levels;
    QString error;
    if (request(QJsonObject{{QStringLiteral("op"), QStringLiteral("describe")},
                            {QStringLiteral("class"), className},
                            {QStringLiteral("known"), known}},
                &levels, &error))
        RemoteClasses::fill(levels.toArray(), this);
    else
        qWarning("Cannot describe the class %s: %s", qUtf8Printable(className), qUtf8Printable(error));
}

SharedPtr<Object> AgentConnection::objectFor(const QJsonObject& reference)
{
    const quint64 id = reference.value(QStringLiteral("object")).toString().toULongLong();
    if (SharedPtr<Object> known = proxies.value(id)) {
        if (auto* remote = dynamic_cast<RemoteObject*>(known.get()))
            remote->setReadyHint(reference);
        return known;
    }
    const QString className = reference.value(QStringLiteral("class")).toString();
    describe(className);
    auto* remote = new RemoteObject(SharedPtr<AgentConnection>(this), id, RemoteClasses::classNamed(className));
    remote->setReadyHint(reference);
    SharedPtr<Object> proxy(remote);
    if (fd >= 0)
        proxies.insert(id, proxy);
    return proxy;
}

SharedPtr<Object> AgentConnection::findObject(const QString& realName)
{
    QJsonValue result;
    QString error;
    if (!request(QJsonObject{{QStringLiteral("op"), QStringLiteral("find")}, {QStringLiteral("name"), realName}},
                 &result, &error)) {
        Inspector::self()->setLastError(error);
        return SharedPtr<Object>();
    }
    const QJsonArray found = result.toArray();
    return found.isEmpty() ? SharedPtr<Object>() : objectFor(found.at(0).toObject());
}

ObjectList AgentConnection::findAllObjects(const QString& realName)
{
    QJsonValue result;
    QString error;
    ObjectList list;
    if (!request(QJsonObject{{QStringLiteral("op"), QStringLiteral("find")},
                             {QStringLiteral("name"), realName},
                             {QStringLiteral("all"), true}},
                 &result, &error)) {
        Inspector::self()->setLastError(error);
        return list;
    }
    for (const QJsonValue& v : result.toArray())
        list << objectFor(v.toObject());
    return list;
}

ObjectList AgentConnection::topLevelObjects()
{
    QJsonValue result;
    QString error;
    ObjectList list;
    if (!request(QJsonObject{{QStringLiteral("op"), QStringLiteral("top")}}, &result, &error)) {
        Inspector::self()->setLastError(error);
        return list;
    }
    for (const QJsonValue& v : result.toArray())
        list << objectFor(v.toObject());
    return list;
}

void AgentConnection::watchEvents(const QStringList& eventNames)
{
    if (eventNames == watched || fd < 0)
        return;
    watched = eventNames;
    QJsonValue result;
    QString error;
    if (!request(QJsonObject{{QStringLiteral("op"), QStringLiteral("watch")},
                             {QStringLiteral("events"), QJsonArray::fromStringList(eventNames)}},
                 &result, &error))
        qWarning("The application '%s' does not report its events: %s", qUtf8Printable(contextName), qUtf8Printable(error));
}

void AgentConnection::deliverPendingEvents()
{
    if (delivering)
        return; // a handler's own requests bring more events: the loop below takes them
    pollNotices();
    delivering = true;
    SharedPtr<AgentConnection> keep(this); // a handler may end the application's context
    while (!pendingEvents.isEmpty()) {
        const QJsonObject event = pendingEvents.takeFirst();
        SharedPtr<Object> object = objectFor(event.value(QStringLiteral("object")).toObject());
        ObjectList args;
        for (const QJsonValue& a : event.value(QStringLiteral("args")).toArray())
            args << fromWire(a);
        const QString name = event.value(QStringLiteral("event")).toString();
        if (event.value(QStringLiteral("input")).toBool())
            Inspector::self()->reportInput(object, name, args);
        else
            Inspector::self()->raiseEvent(object, name, args);
    }
    delivering = false;
}

bool AgentConnection::userInput(const QString& action, const QVariantMap& parameters)
{
    QJsonObject message = QJsonObject::fromVariantMap(parameters);
    message.insert(QStringLiteral("action"), action);
    QString error;
    const bool given = input(message, &error);
    if (!given)
        Inspector::self()->setLastError(error);
    deliverPendingEvents(); // handlers of what the input made happen run before the command returns
    return given;
}

QByteArray AgentConnection::screenshot()
{
    QJsonValue result;
    QString error;
    if (!request(QJsonObject{{QStringLiteral("op"), QStringLiteral("screenshot")}}, &result, &error)) {
        Inspector::self()->setLastError(error);
        return QByteArray();
    }
    return QByteArray::fromBase64(result.toString().toLatin1());
}

AgentListener::AgentListener() = default;

AgentListener::~AgentListener()
{
    if (fd >= 0)
        ::close(fd);
    if (!path.isEmpty())
        QFile::remove(path);
    if (!directory.isEmpty())
        QDir().rmdir(directory);
}

bool AgentListener::open(QString* error)
{
    QByteArray base = qgetenv("XDG_RUNTIME_DIR");
    if (base.isEmpty() || !QFileInfo(QFile::decodeName(base)).isDir())
        base = "/tmp";
    QByteArray pattern = base + "/tarvin-runner-XXXXXX";
    if (!mkdtemp(pattern.data())) { // made with mode 0700: only this user reaches the socket
        *error = QStringLiteral("Cannot make a private directory in %1: %2").arg(QFile::decodeName(base), systemError());
        return false;
    }
    directory = QFile::decodeName(pattern);
    path = directory + QStringLiteral("/agent.sock");
    sockaddr_un address;
    if (!fillUnixAddress(path, &address)) {
        *error = QStringLiteral("The socket path %1 is too long").arg(path);
        return false;
    }
    fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 || ::listen(fd, 8) != 0) {
        *error = QStringLiteral("Cannot listen on %1: %2").arg(path, systemError());
        return false;
    }
    return true;
}

SharedPtr<AgentConnection> AgentListener::accept(int timeoutMs, const std::function<bool()>& stillRunning,
                                                 QString* error)
{
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        const int client = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (client >= 0) {
            ucred peer{};
            socklen_t length = sizeof(peer);
            if (getsockopt(client, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 || peer.uid != getuid()) {
                ::close(client);
                continue;
            }
            const int flags = fcntl(client, F_GETFL);
            fcntl(client, F_SETFL, flags & ~O_NONBLOCK);
            return SharedPtr<AgentConnection>(new AgentConnection(client));
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            *error = QStringLiteral("Waiting for the application's agent failed: %1").arg(systemError());
            return SharedPtr<AgentConnection>();
        }
        if (stillRunning && !stillRunning()) {
            *error = QStringLiteral("ended");
            return SharedPtr<AgentConnection>();
        }
        if (timer.elapsed() > timeoutMs) {
            *error = QStringLiteral("timeout");
            return SharedPtr<AgentConnection>();
        }
        pollfd p{fd, POLLIN, 0};
        ::poll(&p, 1, 10);
    }
}

SharedPtr<AgentConnection> connectToAgent(const QString& socketPath, int timeoutMs, QString* error)
{
    sockaddr_un address;
    if (!fillUnixAddress(socketPath, &address)) {
        *error = QStringLiteral("The socket path %1 is too long").arg(socketPath);
        return SharedPtr<AgentConnection>();
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        *error = QStringLiteral("Cannot connect to the agent at %1: %2").arg(socketPath, systemError());
        if (fd >= 0)
            ::close(fd);
        return SharedPtr<AgentConnection>();
    }
    SharedPtr<AgentConnection> connection(new AgentConnection(fd));
    if (!connection->waitForHello(timeoutMs, std::function<bool()>(), error))
        return SharedPtr<AgentConnection>();
    return connection;
}

SharedPtr<AgentConnection> connectToAgent(const QString& host, int port, const QByteArray& secret, int timeoutMs,
                                          QString* error)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* addresses = nullptr;
    const QByteArray portText = QByteArray::number(port);
    if (getaddrinfo(host.toLocal8Bit().constData(), portText.constData(), &hints, &addresses) != 0 || !addresses) {
        *error = QStringLiteral("Unknown host '%1'").arg(host);
        return SharedPtr<AgentConnection>();
    }
    int fd = -1;
    for (addrinfo* a = addresses; a && fd < 0; a = a->ai_next) {
        fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (fd >= 0 && ::connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
            ::close(fd);
            fd = -1;
        }
    }
    freeaddrinfo(addresses);
    if (fd < 0) {
        *error = QStringLiteral("Cannot connect to an agent at %1:%2: %3").arg(host).arg(port).arg(systemError());
        return SharedPtr<AgentConnection>();
    }
    SharedPtr<AgentConnection> connection(new AgentConnection(fd));
    connection->setRequestTimeout(timeoutMs);
    QJsonValue result;
    if (!connection->request(QJsonObject{{QStringLiteral("op"), QStringLiteral("auth")},
                                         {QStringLiteral("secret"), QString::fromUtf8(secret)}},
                             &result, error)) {
        *error = QStringLiteral("The agent at %1:%2 refused the connection: %3").arg(host).arg(port).arg(*error);
        return SharedPtr<AgentConnection>();
    }
    if (!connection->waitForHello(timeoutMs, std::function<bool()>(), error))
        return SharedPtr<AgentConnection>();
    connection->setRequestTimeout(20000);
    return connection;
}
