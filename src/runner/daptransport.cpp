// The Debug Adapter Protocol's connection and the capture of the process's own output (daptransport.h).
#include "daptransport.h"

#include "fdio.h"

#include <QJsonDocument>

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

void closeOnExec(int fd)
{
    if (fd >= 0)
        fcntl(fd, F_SETFD, fcntl(fd, F_GETFD) | FD_CLOEXEC);
}

bool makePipe(int fds[2])
{
    if (pipe(fds) != 0)
        return false;
    closeOnExec(fds[0]);
    closeOnExec(fds[1]);
    return true;
}

void closeFd(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

// A script that reads stdin while it is debugged reads nothing: over stdio the client's bytes are
// there, over TCP a terminal it would wait for.
void readNothingOnStdin()
{
    const int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (null >= 0) {
        dup3(null, 0, 0);
        if (null != 0)
            ::close(null);
    }
}

} // namespace

DapConnection::DapConnection() = default;

DapConnection::~DapConnection()
{
    close();
}

bool DapConnection::openStdio(QString* error)
{
    inFd = fcntl(0, F_DUPFD_CLOEXEC, 3);
    outFd = fcntl(1, F_DUPFD_CLOEXEC, 3);
    if (inFd < 0 || outFd < 0) {
        *error = QStringLiteral("cannot take standard input and output for the protocol: %1")
                     .arg(QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    readNothingOnStdin();
    return true;
}

bool DapConnection::listen(int port, QString* error)
{
    const int server = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (server < 0) {
        *error = QStringLiteral("cannot open a socket: %1").arg(QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    const int yes = 1;
    setsockopt(server, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address;
    memset(&address, 0, sizeof address);
    address.sin_family = AF_INET;
    address.sin_port = htons(quint16(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(server, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(server, 1) != 0 ||
        getsockname(server, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        *error = QStringLiteral("cannot listen on 127.0.0.1:%1: %2").arg(port).arg(QString::fromLocal8Bit(strerror(errno)));
        ::close(server);
        return false;
    }
    fprintf(stderr, "tarvinrunner: waiting for a debugger on 127.0.0.1:%d\n", int(ntohs(address.sin_port)));
    fflush(stderr);
    int client = -1;
    do
        client = accept4(server, nullptr, nullptr, SOCK_CLOEXEC);
    while (client < 0 && errno == EINTR);
    const int acceptError = errno;
    ::close(server); // one client
    if (client < 0) {
        *error = QStringLiteral("cannot accept a debugger's connection: %1").arg(QString::fromLocal8Bit(strerror(acceptError)));
        return false;
    }
    inFd = client;
    outFd = fcntl(client, F_DUPFD_CLOEXEC, 3);
    socket = true;
    readNothingOnStdin();
    return true;
}

void DapConnection::start(std::function<void(const DapMessageReader::Message&)> messageHandler,
                          std::function<void()> closedHandler)
{
    onMessage = std::move(messageHandler);
    onClosed = std::move(closedHandler);
    makePipe(wakeFds);
    reader = std::thread([this] { readLoop(); });
    writer = std::thread([this] { writeLoop(); });
}

void DapConnection::readLoop()
{
    DapMessageReader messages;
    char chunk[65536];
    for (;;) {
        pollfd fds[2] = {{inFd, POLLIN, 0}, {wakeFds[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds[1].revents)
            return; // closing: onClosed is not wanted then
        const ssize_t n = read(inFd, chunk, sizeof chunk);
        if (n < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (n <= 0)
            break;
        messages.feed(QByteArray(chunk, int(n)));
        DapMessageReader::Message message;
        while (messages.next(&message))
            onMessage(message);
    }
    // The client has stopped sending; what is queued for it is still written (a pipe's other end may
    // read on).
    onClosed();
}

void DapConnection::writeLoop()
{
    // A client that went away must not end the runner with SIGPIPE; the signal is generated for the
    // writing thread, this one.
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        queued.wait(lock, [this] { return stopping || !outgoing.empty(); });
        if (outgoing.empty())
            return;
        const QByteArray bytes = outgoing.front();
        outgoing.pop_front();
        writing = true;
        lock.unlock();
        const bool ok = writeAll(outFd, bytes.constData(), size_t(bytes.size()));
        lock.lock();
        writing = false;
        if (!ok) {
            closed = true;
            outgoing.clear();
        }
        written.notify_all();
    }
}

void DapConnection::send(QJsonObject message)
{
    std::lock_guard<std::mutex> lock(mutex);
    if (closed || stopping)
        return;
    message.insert(QStringLiteral("seq"), ++seq);
    outgoing.push_back(encodeDapMessage(message));
    queued.notify_one();
}

void DapConnection::flush(int timeoutMs)
{
    std::unique_lock<std::mutex> lock(mutex);
    written.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                     [this] { return closed || (outgoing.empty() && !writing); });
}

bool DapConnection::isClosed() const
{
    std::lock_guard<std::mutex> lock(mutex);
    return closed;
}

void DapConnection::close()
{
    flush(2000);
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
        outgoing.clear();
    }
    queued.notify_all();
    if (wakeFds[1] >= 0 && write(wakeFds[1], "x", 1) < 0) {
    }
    if (writer.joinable())
        writer.join();
    if (reader.joinable())
        reader.join();
    if (socket && inFd >= 0)
        shutdown(inFd, SHUT_RDWR);
    closeFd(inFd);
    closeFd(outFd);
    closeFd(wakeFds[0]);
    closeFd(wakeFds[1]);
}

DapOutputCapture::~DapOutputCapture()
{
    stop();
}

bool DapOutputCapture::start(Sink outputSink, bool teeOutput, QString* error)
{
    sink = std::move(outputSink);
    tee = teeOutput;
    fflush(stdout);
    fflush(stderr);
    for (int i = 0; i < 2; ++i) {
        int fds[2];
        if (!makePipe(fds)) {
            *error = QStringLiteral("cannot make a pipe for the output: %1").arg(QString::fromLocal8Bit(strerror(errno)));
            return false;
        }
        savedFds[i] = fcntl(i + 1, F_DUPFD_CLOEXEC, 3);
        // The write end becomes fd 1 or 2, which programs the runner starts inherit (no close-on-exec).
        dup2(fds[1], i + 1);
        ::close(fds[1]);
        readFds[i] = fds[0];
        fcntl(readFds[i], F_SETFL, fcntl(readFds[i], F_GETFL) | O_NONBLOCK);
    }
    // Output goes out as it comes, not when a buffer fills.
    setvbuf(stdout, nullptr, _IOLBF, 0);
    makePipe(wakeFds);
    running = true;
    thread = std::thread([this] { loop(); });
    return true;
}

void DapOutputCapture::loop()
{
    for (;;) {
        pollfd fds[3] = {{readFds[0], POLLIN, 0}, {readFds[1], POLLIN, 0}, {wakeFds[0], POLLIN, 0}};
        if (poll(fds, 3, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[2].revents)
            return;
        for (int i = 0; i < 2; ++i)
            if (fds[i].revents) {
                std::lock_guard<std::mutex> lock(mutex);
                pump(i, false);
            }
    }
}

// Reads what fd 1 or 2 holds and passes on its complete lines (with partial, the rest as well). Called
// with the mutex held, so the lines of both threads keep their order.
void DapOutputCapture::pump(int index, bool partial)
{
    char chunk[16384];
    for (;;) {
        const ssize_t n = read(readFds[index], chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        if (tee && savedFds[index] >= 0)
            writeAll(savedFds[index], chunk, size_t(n));
        pending[index].append(chunk, int(n));
    }
    QByteArray& bytes = pending[index];
    const int lastNewline = bytes.lastIndexOf('\n');
    const int take = partial ? bytes.size() : lastNewline + 1;
    if (take <= 0)
        return;
    const QByteArray text = bytes.left(take);
    bytes.remove(0, take);
    sink(QString::fromUtf8(text), index == 1);
}

void DapOutputCapture::drain()
{
    if (!running)
        return;
    fflush(stdout);
    fflush(stderr);
    std::lock_guard<std::mutex> lock(mutex);
    pump(0, true);
    pump(1, true);
}

void DapOutputCapture::stop()
{
    if (!running)
        return;
    drain();
    if (write(wakeFds[1], "x", 1) < 0) {
    }
    if (thread.joinable())
        thread.join();
    running = false;
    for (int i = 0; i < 2; ++i) {
        dup2(savedFds[i], i + 1);
        closeFd(savedFds[i]);
        closeFd(readFds[i]);
    }
    closeFd(wakeFds[0]);
    closeFd(wakeFds[1]);
}
