// The Debug Adapter Protocol's wire format: messages are JSON objects, each preceded by a header of
// "Name: value" lines (Content-Length is the one that counts) and an empty line. DapMessageReader takes
// bytes as they arrive, in pieces of any size, and gives back whole messages; what cannot be read as a
// message is reported and skipped, so that a client that sent one bad message can go on.
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

class DapMessageReader {
public:
    // Longer headers are no header (the reader looks for the next one); longer bodies are skipped.
    static const int maxHeaderBytes = 8192;
    static const qint64 maxBodyBytes = 64 * 1024 * 1024;

    struct Message {
        QJsonObject object; // the message, when error is empty
        QString error;      // why bytes of the stream were skipped
    };

    void feed(const QByteArray& bytes);
    // Takes the next message or error out of what was fed; false when more bytes are needed.
    bool next(Message* message);
    // Bytes fed and not yet taken (for tests).
    int buffered() const { return int(buffer.size() - position); }

private:
    void compact();

    QByteArray buffer;
    int position = 0;         // the bytes before it were taken
    qint64 bodyLength = -1;   // the header was read: the body's length
    qint64 discarding = 0;    // bytes still to drop of a body too long to keep
};

// The message with its header, ready to write.
QByteArray encodeDapMessage(const QJsonObject& message);
