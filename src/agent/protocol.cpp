// Framing of the runner-agent messages and the directory of waiting agents.
#include "protocol.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonParseError>

#include <cerrno>
#include <cstring>

#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace AgentProtocol {

QByteArray frame(const QJsonObject& message)
{
    const QByteArray json = QJsonDocument(message).toJson(QJsonDocument::Compact);
    QByteArray out;
    out.reserve(json.size() + 4);
    const quint32 n = quint32(json.size());
    out.append(char(n >> 24)).append(char(n >> 16)).append(char(n >> 8)).append(char(n));
    out.append(json);
    return out;
}

int takeMessage(QByteArray* buffer, QJsonObject* message, QString* error)
{
    if (buffer->size() < 4)
        return 0;
    const uchar* p = reinterpret_cast<const uchar*>(buffer->constData());
    const quint32 n = (quint32(p[0]) << 24) | (quint32(p[1]) << 16) | (quint32(p[2]) << 8) | quint32(p[3]);
    if (n > maxMessageSize) {
        *error = QStringLiteral("message of %1 bytes is longer than the %2 allowed").arg(n).arg(maxMessageSize);
        buffer->clear(); // nothing after it can be trusted to start at a frame
        return -1;
    }
    if (quint32(buffer->size()) - 4 < n)
        return 0;
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(buffer->mid(4, int(n)), &parseError);
    buffer->remove(0, int(n) + 4);
    if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
        *error = parseError.error != QJsonParseError::NoError
                     ? QStringLiteral("message is no JSON: %1 at byte %2").arg(parseError.errorString()).arg(parseError.offset)
                     : QStringLiteral("message is no JSON object");
        return -1;
    }
    *message = document.object();
    return 1;
}

bool sendAll(int fd, const QByteArray& data)
{
    const char* p = data.constData();
    qint64 left = data.size();
    while (left > 0) {
        const ssize_t n = ::send(fd, p, size_t(left), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        left -= n;
    }
    return true;
}

bool receiveAvailable(int fd, QByteArray* inbox)
{
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::recv(fd, chunk, sizeof(chunk), MSG_DONTWAIT);
        if (n > 0) {
            inbox->append(chunk, int(n));
            if (n < ssize_t(sizeof(chunk)))
                return true; // drained for now: no second call only to hear so
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
}

QString agentDirectory(QString* error)
{
    QString path = QString::fromLocal8Bit(qgetenv(directoryVariable));
    if (path.isEmpty()) {
        const QString runtime = QString::fromLocal8Bit(qgetenv("XDG_RUNTIME_DIR"));
        path = !runtime.isEmpty() && QFileInfo(runtime).isDir()
                   ? runtime + QStringLiteral("/tarvin-agents")
                   : QStringLiteral("/tmp/tarvin-agents-%1").arg(getuid());
    }
    const QByteArray local = QFile::encodeName(path);
    if (mkdir(local.constData(), 0700) != 0 && errno != EEXIST) {
        *error = QStringLiteral("Cannot make the agent directory %1: %2").arg(path, QString::fromLocal8Bit(strerror(errno)));
        return QString();
    }
    struct stat info;
    if (lstat(local.constData(), &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != getuid()) {
        *error = QStringLiteral("The agent directory %1 is not a directory of this user").arg(path);
        return QString();
    }
    if ((info.st_mode & 077) != 0)
        chmod(local.constData(), 0700);
    return path;
}

} // namespace AgentProtocol
