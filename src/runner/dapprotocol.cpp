// Reading and writing Debug Adapter Protocol messages (see dapprotocol.h).
#include "dapprotocol.h"

#include <QJsonDocument>
#include <QJsonParseError>

namespace {

const QByteArray lengthField = QByteArrayLiteral("Content-Length:");

// Whole lines of "Name: value", as a header has them.
bool isHeaderLines(const QByteArray& bytes)
{
    if (!bytes.endsWith('\n'))
        return false;
    for (QByteArray line : bytes.split('\n')) {
        if (line.endsWith('\r'))
            line.chop(1);
        const int colon = line.indexOf(':');
        if (!line.isEmpty() && (colon <= 0 || line.left(colon).contains(' ') || line.contains('{')))
            return false;
    }
    return true;
}

} // namespace

void DapMessageReader::feed(const QByteArray& bytes)
{
    buffer.append(bytes);
}

void DapMessageReader::compact()
{
    if (position > 0 && position >= buffer.size() / 2) {
        buffer.remove(0, position);
        position = 0;
    }
}

bool DapMessageReader::next(Message* message)
{
    message->object = QJsonObject();
    message->error.clear();
    for (;;) {
        if (discarding > 0) {
            const qint64 n = qMin<qint64>(discarding, buffer.size() - position);
            position += int(n);
            discarding -= n;
            compact();
            if (discarding > 0)
                return false;
        }
        if (bodyLength >= 0) {
            if (buffer.size() - position < bodyLength)
                return false;
            const QByteArray body = buffer.mid(position, int(bodyLength));
            position += int(bodyLength);
            bodyLength = -1;
            compact();
            QJsonParseError parseError;
            const QJsonDocument document = QJsonDocument::fromJson(body, &parseError);
            if (parseError.error != QJsonParseError::NoError)
                message->error = QStringLiteral("a message that is not JSON (%1 at byte %2) was skipped")
                                     .arg(parseError.errorString())
                                     .arg(parseError.offset);
            else if (!document.isObject())
                message->error = QStringLiteral("a message that is not a JSON object was skipped");
            else
                message->object = document.object();
            return true;
        }

        // A header starts with Content-Length (clients write nothing before it); what comes before
        // it is no message.
        const int start = buffer.indexOf(lengthField, position);
        if (start < 0) {
            // Keep what could be the start of the field name, drop the rest once it is too long.
            const int available = buffer.size() - position;
            if (available <= maxHeaderBytes)
                return false;
            const int dropped = available - (lengthField.size() - 1);
            position += dropped;
            compact();
            message->error = QStringLiteral("%1 bytes that are no message were skipped").arg(dropped);
            return true;
        }
        if (start > position) {
            // Other header fields (Content-Type) may come first; anything else is no message.
            const QByteArray before = buffer.mid(position, start - position);
            position = start;
            compact();
            if (!isHeaderLines(before)) {
                message->error = QStringLiteral("%1 bytes that are no message were skipped").arg(before.size());
                return true;
            }
        }

        // The header's lines, up to the empty one; a line may end in "\r\n" or "\n".
        qint64 length = -1;
        bool badLength = false;
        QByteArray badValue;
        int lineStart = position;
        int end = -1;
        for (;;) {
            const int newline = buffer.indexOf('\n', lineStart);
            if (newline < 0)
                break;
            QByteArray line = buffer.mid(lineStart, newline - lineStart);
            if (line.endsWith('\r'))
                line.chop(1);
            lineStart = newline + 1;
            if (line.isEmpty()) {
                end = lineStart;
                break;
            }
            if (line.startsWith(lengthField)) {
                const QByteArray value = line.mid(lengthField.size()).trimmed();
                bool ok = !value.isEmpty();
                for (char c : value)
                    ok = ok && c >= '0' && c <= '9';
                length = ok && value.size() <= 18 ? value.toLongLong(&ok) : -1;
                if (!ok || length < 0) {
                    badLength = true;
                    badValue = value.left(40);
                }
            }
            if (lineStart - position > maxHeaderBytes)
                break;
        }
        if (end < 0) {
            if (buffer.size() - position <= maxHeaderBytes)
                return false;
            // No empty line within the limit: this is no header; look for the next one after it.
            position += lengthField.size();
            compact();
            message->error = QStringLiteral("a message header longer than %1 bytes was skipped").arg(maxHeaderBytes);
            return true;
        }
        position = end;
        compact();
        if (badLength) {
            message->error =
                QStringLiteral("a message header with the Content-Length '%1' was skipped").arg(QString::fromLatin1(badValue));
            return true;
        }
        if (length > maxBodyBytes) {
            discarding = length;
            message->error = QStringLiteral("a message of %1 bytes (more than %2) was skipped").arg(length).arg(maxBodyBytes);
            return true;
        }
        bodyLength = length;
    }
}

QByteArray encodeDapMessage(const QJsonObject& message)
{
    const QByteArray body = QJsonDocument(message).toJson(QJsonDocument::Compact);
    return "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}
