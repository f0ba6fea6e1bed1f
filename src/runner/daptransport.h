// Where the Debug Adapter Protocol travels: the process's standard input and output, or one TCP
// client on the loopback interface. DapConnection reads messages on a thread of its own and writes them
// from a thread of its own (a slow client never blocks the script). DapOutputCapture takes over file
// descriptors 1 and 2, so that nothing the runner, a script or a program it starts prints can corrupt
// the protocol: what arrives there becomes output events.
#pragma once

#include "dapprotocol.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

class DapConnection {
public:
    DapConnection();
    ~DapConnection();

    // The protocol takes standard input and output; fd 0 then reads /dev/null, so a script that reads
    // stdin cannot take the client's messages.
    bool openStdio(QString* error);
    // Listens on 127.0.0.1:port (0: a free port), says where on stderr and waits for one client.
    bool listen(int port, QString* error);
    bool isSocket() const { return socket; }

    // Calls onMessage for each message (or error text) read, on the reader thread, and onClosed once
    // when the client has gone.
    void start(std::function<void(const DapMessageReader::Message&)> onMessage, std::function<void()> onClosed);
    // Any thread: numbers the message and queues it for writing.
    void send(QJsonObject message);
    // Waits (up to timeoutMs) until every queued message was written.
    void flush(int timeoutMs = 5000);
    bool isClosed() const;
    // Stops both threads and closes the connection.
    void close();

private:
    void readLoop();
    void writeLoop();

    int inFd = -1;
    int outFd = -1;
    bool socket = false;
    int wakeFds[2] = {-1, -1}; // wakes the reader when the connection closes
    std::function<void(const DapMessageReader::Message&)> onMessage;
    std::function<void()> onClosed;
    std::thread reader, writer;
    mutable std::mutex mutex;
    std::condition_variable queued, written;
    std::deque<QByteArray> outgoing;
    bool writing = false;
    bool closed = false; // writing failed: the client has gone
    bool stopping = false;
    int seq = 0;
};

class DapOutputCapture {
public:
    using Sink = std::function<void(const QString& text, bool error)>;

    ~DapOutputCapture();
    // Points fd 1 and fd 2 into pipes; lines that arrive go to sink (error: from fd 2). With tee the
    // bytes also go where the descriptors pointed before.
    bool start(Sink sink, bool tee, QString* error);
    // Passes on what was written so far, a line not yet ended too (before a stop or the end of the run).
    void drain();
    // Gives fd 1 and 2 back and passes on the rest.
    void stop();

private:
    void pump(int index, bool partial);
    void loop();

    Sink sink;
    bool tee = false;
    bool running = false;
    int readFds[2] = {-1, -1};
    int savedFds[2] = {-1, -1};
    int wakeFds[2] = {-1, -1};
    QByteArray pending[2];
    std::mutex mutex;
    std::thread thread;
};
