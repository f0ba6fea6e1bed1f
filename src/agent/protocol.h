// The wire format between the runner and the agent inside an application under test.
//
// A message is a 4-byte big-endian length followed by that many bytes of compact UTF-8 JSON, one
// object per message. The runner sends requests {"id": N, "op": NAME, ...}; the agent answers each
// with {"id": N, "ok": true, "result": VALUE} or {"id": N, "ok": false, "error": TEXT} and may send
// notices without an id at any time ({"notice": "hello", ...}, {"notice": "destroyed", "ids": [...]}).
//
// Values travel tagged so that numbers, texts and objects keep their kind:
//     null                                  no value (a void return)
//     {"int": N} {"int64": "N"} {"double": X} {"bool": B} {"string": S}
//     {"list": [VALUE...]} {"map": {KEY: VALUE...}}
//     {"object": ID, "class": NAME}         an object of the application, by the agent's id
//     {"value": TYPE, "text": S, "props": {NAME: VALUE...}}   QPoint, QSize, QRect, QColor, QFont,
//                                                              QDate, QTime, QDateTime and the like
#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>

namespace AgentProtocol {

// The largest message either side accepts; a longer one ends the connection.
const quint32 maxMessageSize = 64u * 1024u * 1024u;

// The environment that tells an agent what to do. The runner sets them for the applications it
// starts; the launcher for those started outside the runner. The agent removes them (and itself from
// LD_PRELOAD) at once so that programs the application starts in turn run without an agent.
const char connectVariable[] = "TARVIN_AGENT_CONNECT";   // a local socket of the runner to connect to
const char listenVariable[] = "TARVIN_AGENT_LISTEN";     // [HOST:]PORT to serve over TCP, or a socket path
const char secretVariable[] = "TARVIN_AGENT_SECRET";     // what a TCP client must present first
const char directoryVariable[] = "TARVIN_AGENT_DIR";     // where listening agents put their sockets
const char runnerVariable[] = "TARVIN_AGENT_RUNNER";     // the runner's process: the application ends with it

// A frame ready to send: the length and the JSON text of the object.
QByteArray frame(const QJsonObject& message);

// Splits complete frames off the front of `buffer`. Returns 1 and the message when one was complete,
// 0 when more bytes are needed, -1 with a reason when the stream is damaged (too long, not a JSON
// object); the damaged frame is dropped from the buffer.
int takeMessage(QByteArray* buffer, QJsonObject* message, QString* error);

// Writes all of the data to a stream socket (no SIGPIPE when the other end is gone); false when the
// connection failed.
bool sendAll(int fd, const QByteArray& data);

// Appends what the socket holds now to `inbox` without waiting; false when the other end closed the
// connection or it failed.
bool receiveAvailable(int fd, QByteArray* inbox);

// The directory of the sockets of agents that wait for a runner (mode 0700, made when missing):
// $TARVIN_AGENT_DIR, else $XDG_RUNTIME_DIR/tarvin-agents, else /tmp/tarvin-agents-UID. Empty with a
// reason when it cannot be made or belongs to another user.
QString agentDirectory(QString* error);

} // namespace AgentProtocol
