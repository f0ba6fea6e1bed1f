// The Debug Adapter Protocol's framing: whole messages out of bytes in any pieces, and bad input
// reported and skipped without losing the messages around it.
#include "dapprotocol.h"

#include <QJsonArray>
#include <QRandomGenerator>
#include <QStringList>

#include <gtest/gtest.h>

void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace {

QByteArray framed(const QByteArray& body)
{
    return "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

QByteArray request(int seq, const char* command = "threads")
{
    return framed(QByteArray("{\"seq\":") + QByteArray::number(seq) + ",\"type\":\"request\",\"command\":\"" + command + "\"}");
}

// Everything the reader gives for the bytes: "seq N" for a message, "error: ..." for a skip.
QStringList readAll(DapMessageReader& reader, const QByteArray& bytes, int chunk = 0)
{
    QStringList got;
    DapMessageReader::Message message;
    for (int i = 0; i < bytes.size(); i += chunk > 0 ? chunk : bytes.size()) {
        reader.feed(bytes.mid(i, chunk > 0 ? chunk : bytes.size()));
        while (reader.next(&message))
            got << (message.error.isEmpty() ? QStringLiteral("seq %1").arg(message.object.value("seq").toInt())
                                            : QStringLiteral("error: ") + message.error);
    }
    return got;
}

QStringList readAll(const QByteArray& bytes, int chunk = 0)
{
    DapMessageReader reader;
    return readAll(reader, bytes, chunk);
}

} // namespace

TEST(DapProtocol, MessagesInAnyPieces)
{
    const QByteArray stream = request(1) + request(2, "initialize") + request(3);
    const QStringList expected{"seq 1", "seq 2", "seq 3"};
    for (int chunk : {1, 2, 7, 19, 1000})
        EXPECT_EQ(readAll(stream, chunk), expected) << "pieces of " << chunk;

    // Bare line feeds, other header fields and a body that holds a header's text are all fine.
    const QByteArray body = R"({"seq":4,"type":"request","command":"evaluate","arguments":{"expression":"Content-Length: 3\r\n\r\n"}})";
    EXPECT_EQ(readAll("Content-Type: application/vscode-jsonrpc; charset=utf-8\r\n" + framed(body)),
              QStringList{"seq 4"});
    EXPECT_EQ(readAll("Content-Length: " + QByteArray::number(body.size()) + "\n\n" + body), QStringList{"seq 4"});
}

TEST(DapProtocol, LengthCountsBytesOfUtf8)
{
    QJsonObject message{{"seq", 9}, {"text", QString::fromUtf8("Grüße, 東京 \xF0\x9F\x98\x80")}};
    const QByteArray bytes = encodeDapMessage(message);
    DapMessageReader reader;
    reader.feed(bytes + request(10));
    DapMessageReader::Message read;
    ASSERT_TRUE(reader.next(&read));
    EXPECT_EQ(read.error, QString());
    EXPECT_EQ(read.object.value("text").toString(), message.value("text").toString());
    ASSERT_TRUE(reader.next(&read));
    EXPECT_EQ(read.object.value("seq").toInt(), 10);
    EXPECT_FALSE(reader.next(&read));
    EXPECT_EQ(reader.buffered(), 0);
}

TEST(DapProtocol, BadInputIsSkippedAndTheNextMessageRead)
{
    EXPECT_EQ(readAll("hello\r\n" + request(1)),
              (QStringList{"error: 7 bytes that are no message were skipped", "seq 1"}));
    EXPECT_EQ(readAll("Content-Length: abc\r\n\r\n" + request(2)),
              (QStringList{"error: a message header with the Content-Length 'abc' was skipped", "seq 2"}));
    EXPECT_EQ(readAll("Content-Length: -5\r\n\r\n" + request(3)),
              (QStringList{"error: a message header with the Content-Length '-5' was skipped", "seq 3"}));
    EXPECT_EQ(readAll("Content-Length: 99999999999999999999999\r\n\r\n" + request(4)).value(1), "seq 4");
    EXPECT_EQ(readAll(framed("{\"seq\": 1,") + request(5)).value(1), "seq 5");
    EXPECT_TRUE(readAll(framed("{\"seq\": 1,")).value(0).startsWith("error: a message that is not JSON"));
    EXPECT_EQ(readAll(framed("[1,2]") + request(6)),
              (QStringList{"error: a message that is not a JSON object was skipped", "seq 6"}));
    // An empty body is no JSON either; a length of 0 does not stall the reader.
    EXPECT_EQ(readAll(framed("") + request(7)).value(1), "seq 7");
}

TEST(DapProtocol, OversizedInputDoesNotGrowTheBuffer)
{
    // A body announced as larger than allowed is dropped as it arrives, and the stream stays in step.
    const qint64 tooLong = DapMessageReader::maxBodyBytes + 10;
    DapMessageReader reader;
    reader.feed("Content-Length: " + QByteArray::number(tooLong) + "\r\n\r\n");
    DapMessageReader::Message message;
    ASSERT_TRUE(reader.next(&message));
    EXPECT_TRUE(message.error.startsWith("a message of ")) << message.error.toStdString();
    const QByteArray block(1 << 20, 'x');
    for (qint64 left = tooLong; left > 0; left -= block.size()) {
        reader.feed(block.left(int(qMin<qint64>(left, block.size()))));
        EXPECT_FALSE(reader.next(&message));
        EXPECT_LT(reader.buffered(), 2 * block.size());
    }
    EXPECT_EQ(readAll(reader, request(8)), QStringList{"seq 8"});

    // A header that never ends, and garbage without any header, are dropped once past the limit.
    EXPECT_EQ(readAll("Content-Length: 10\r\nX: " + QByteArray(20000, 'y') + request(9)).last(), "seq 9");
    DapMessageReader garbage;
    QRandomGenerator random(17);
    for (int i = 0; i < 200; ++i) {
        QByteArray bytes(4096, '\0');
        for (char& c : bytes)
            c = char(random.bounded(256));
        garbage.feed(bytes);
        while (garbage.next(&message)) {
        }
        EXPECT_LE(garbage.buffered(), DapMessageReader::maxHeaderBytes + 4096);
    }
    EXPECT_EQ(readAll(garbage, "\r\n\r\n" + request(10)).last(), "seq 10");
}
