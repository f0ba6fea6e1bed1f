// Each test case in a child process (fork, no exec): the child inherits the loaded library and runs
// the test case as the runner would in its own process, printing to the same stdout; every result it
// adds also goes over a pipe, so the parent has them whatever becomes of the child. The debugger's
// position is mirrored into a shared page, so that a child that crashed or had to be killed is still
// reported at the line where it stood.
//
// Messages on the pipe: a 4-byte length, then a QDataStream of a one-byte kind and its fields:
//     'E' entry       a result (type, message, detail, file, line, time, sections, attachment)
//     'L' seconds     the time limit changed (setTestTimeout): seconds from the start, 0 none
//     'G'             the time limit ended the script; cleanup has cleanupGraceSeconds
//     'P' pid         a detached application, ended when the run ends
//     'F'             the test case ran to its end
#include "isolation.h"

#include "debugger.h"

#include <QDataStream>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// How long a test case may go beyond a limit before its process is killed: the script's own limit
// fires at the next command, this only catches a child stuck outside the script (in C code, a sleep).
const int killSlackMs = 2000;

volatile sig_atomic_t interruptSignal = 0;
volatile sig_atomic_t interruptCount = 0;
volatile pid_t runningChild = 0;
int wakeUp[2] = {-1, -1}; // the signal handlers' self-pipe

void parentSignal(int signo)
{
    const int savedErrno = errno;
    if (signo == SIGINT || signo == SIGTERM) {
        if (!interruptSignal)
            interruptSignal = signo;
        if (++interruptCount > 1) {
            // The second signal: the test case ends now.
            if (runningChild > 0)
                kill(runningChild, SIGKILL);
            else
                _exit(128 + interruptSignal);
        }
    }
    const char byte = char(signo);
    if (write(wakeUp[1], &byte, 1) < 0) {
        // The pipe is full: the loop wakes up anyway.
    }
    errno = savedErrno;
}

void childTerminate(int)
{
    static volatile sig_atomic_t count = 0;
    if (++count > 1)
        _exit(128 + SIGTERM);
    TestRunner::requestInterrupt();
}

// A terminal's Ctrl-C reaches the whole process group; the runner decides what it means for the child.
void childIgnoreInterrupt(int) {}

void setHandler(int signo, void (*handler)(int))
{
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = handler;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    sigaction(signo, &action, nullptr);
}

bool writeAll(int fd, const char* data, qint64 size)
{
    while (size > 0) {
        const ssize_t n = write(fd, data, size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= n;
    }
    return true;
}

// The child's side of the pipe.
class PipeReporter : public RunReporter {
public:
    explicit PipeReporter(int fd) : fd(fd) {}

    void entryAdded(const TestResult::Entry& e) override
    {
        send('E', [&](QDataStream& s) {
            s << qint32(e.type) << e.message << e.detail << e.file << qint32(e.line) << e.time << e.sections
              << e.attachment;
        });
    }
    void timeLimitChanged(int seconds) override
    {
        send('L', [&](QDataStream& s) { s << qint32(seconds); });
    }
    void timeLimitReached() override
    {
        send('G', [](QDataStream&) {});
    }
    void detachedProcess(qint64 pid) override
    {
        send('P', [&](QDataStream& s) { s << pid; });
    }
    void finished()
    {
        send('F', [](QDataStream&) {});
    }

private:
    template <typename Fields> void send(char kind, Fields fields)
    {
        QByteArray message(4, '\0');
        {
            QDataStream stream(&message, QIODevice::WriteOnly | QIODevice::Append);
            stream << qint8(kind);
            fields(stream);
        }
        const quint32 size = quint32(message.size() - 4);
        memcpy(message.data(), &size, 4);
        writeAll(fd, message.constData(), message.size());
    }

    int fd;
};

QString signalName(int signo)
{
    const char* name = sigabbrev_np(signo);
    const char* description = strsignal(signo);
    return QStringLiteral("%1%2 (%3)")
        .arg(name ? QStringLiteral("SIG") : QString(), name ? QString::fromLatin1(name) : QString::number(signo),
             QString::fromLocal8Bit(description ? description : "unknown"));
}

qint64 now()
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return clock.elapsed();
}

} // namespace

IsolatedRunner::IsolatedRunner(TestRunner& runner) : runner(runner)
{
    void* page = mmap(nullptr, sizeof(DebuggerPositionMirror), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS,
                      -1, 0);
    mirror = page == MAP_FAILED ? nullptr : static_cast<DebuggerPositionMirror*>(page);
    // Whatever a test case leaves running when its process ends (a crash, a background process of its
    // own) becomes the runner's child, to be ended and reaped here.
    prctl(PR_SET_CHILD_SUBREAPER, 1);
}

IsolatedRunner::~IsolatedRunner()
{
    if (mirror)
        munmap(mirror, sizeof(DebuggerPositionMirror));
}

void IsolatedRunner::installSignalHandlers()
{
    if (wakeUp[0] < 0 && pipe2(wakeUp, O_CLOEXEC | O_NONBLOCK) != 0)
        wakeUp[0] = wakeUp[1] = -1;
    setHandler(SIGINT, parentSignal);
    setHandler(SIGTERM, parentSignal);
    setHandler(SIGCHLD, parentSignal);
}

int IsolatedRunner::interruptedBy()
{
    return interruptSignal;
}

TestRunner::Outcome IsolatedRunner::run(const TestCase& testCase)
{
    runner.printHeader(testCase);
    runner.output().stream().flush();
    fflush(stdout);
    fflush(stderr);
    result.clear();
    if (mirror) {
        mirror->line = -1;
        mirror->sourceId = -1;
        mirror->file[0] = '\0';
    }

    const qint64 start = now();
    int fds[2];
    sigset_t blocked, previous;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGINT);
    sigaddset(&blocked, SIGTERM);
    sigaddset(&blocked, SIGCHLD);
    pid_t pid = -1;
    if (pipe2(fds, O_CLOEXEC) == 0) {
        // No handler of the parent's may run in the child before the child has its own.
        sigprocmask(SIG_BLOCK, &blocked, &previous);
        pid = fork();
        if (pid == 0) {
            close(fds[0]);
            runChild(testCase, fds[1]); // does not return
        }
        if (pid > 0)
            runningChild = pid;
        sigprocmask(SIG_SETMASK, &previous, nullptr);
        close(fds[1]);
        if (pid < 0)
            close(fds[0]);
    }
    if (pid < 0) {
        runner.output().stream().flush();
        TestResult::Entry entry;
        entry.type = TestResult::Error;
        entry.message = QStringLiteral("cannot start a process for the test case: %1").arg(QString::fromLocal8Bit(strerror(errno)));
        entry.file = testCase.script;
        result.append(entry);
        runner.resultAdded(entry);
        seconds = 0;
        return runner.printOutcome(testCase, result, seconds);
    }

    const RunnerOptions& options = runner.runnerOptions();
    int limitSeconds = testCase.timeout >= 0 ? testCase.timeout : options.testTimeout;
    qint64 deadline = limitSeconds > 0 ? start + qint64(limitSeconds) * 1000 + killSlackMs : -1;
    bool reachedLimit = false, finished = false, exited = false, pipeOpen = true;
    int status = 0;
    enum { NotKilled, KilledForTime, KilledForInterrupt } killed = NotKilled;
    int interruptSeen = 0;
    QByteArray buffer;

    auto readMessages = [&]() {
        char chunk[65536];
        for (;;) {
            const ssize_t n = read(fds[0], chunk, sizeof chunk);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return; // nothing more for now
            if (n == 0) {
                pipeOpen = false;
                return;
            }
            buffer.append(chunk, int(n));
            if (n < ssize_t(sizeof chunk))
                return;
        }
    };
    auto parseMessages = [&]() {
        while (buffer.size() >= 4) {
            quint32 size;
            memcpy(&size, buffer.constData(), 4);
            if (quint32(buffer.size() - 4) < size)
                break;
            QDataStream stream(buffer.mid(4, int(size)));
            buffer.remove(0, int(size) + 4);
            qint8 kind = 0;
            stream >> kind;
            if (kind == 'E') {
                TestResult::Entry e;
                qint32 type = 0, line = -1;
                stream >> type >> e.message >> e.detail >> e.file >> line >> e.time >> e.sections >> e.attachment;
                e.type = TestResult::Type(type);
                e.line = line;
                result.append(e);
            } else if (kind == 'L') {
                qint32 value = 0;
                stream >> value;
                limitSeconds = value;
                if (!reachedLimit)
                    deadline = value > 0 ? start + qint64(value) * 1000 + killSlackMs : -1;
            } else if (kind == 'G') {
                reachedLimit = true;
                deadline = now() + qint64(cleanupGraceSeconds) * 1000 + killSlackMs;
            } else if (kind == 'P') {
                qint64 detachedPid = 0;
                stream >> detachedPid;
                detached << detachedPid;
            } else if (kind == 'F') {
                finished = true;
            }
        }
    };
    auto reap = [&]() {
        int st = 0;
        pid_t r;
        while ((r = waitpid(-1, &st, WNOHANG)) > 0) {
            if (r == pid) {
                exited = true;
                status = st;
                runningChild = 0;
            }
        }
    };

    const int flags = fcntl(fds[0], F_GETFL);
    fcntl(fds[0], F_SETFL, flags | O_NONBLOCK);
    while (!exited || pipeOpen) {
        if (interruptSignal && interruptSeen != interruptCount) {
            if (!interruptSeen) {
                // The child ends its test case as interrupted; it has its cleanup's grace to do so.
                kill(pid, SIGTERM);
                const qint64 graceEnd = now() + qint64(cleanupGraceSeconds) * 1000 + killSlackMs;
                if (deadline < 0 || graceEnd < deadline)
                    deadline = graceEnd;
            } else if (!exited) {
                kill(pid, SIGKILL); // the second signal
                killed = KilledForInterrupt;
            }
            interruptSeen = interruptCount;
        }
        if (exited) {
            // A process the child started may hold the pipe open: take what is there and stop.
            readMessages();
            parseMessages();
            break;
        }
        pollfd polled[2];
        int count = 0;
        if (pipeOpen)
            polled[count++] = {fds[0], POLLIN, 0};
        if (wakeUp[0] >= 0)
            polled[count++] = {wakeUp[0], POLLIN, 0};
        int timeout = count < 2 ? 10 : -1; // without the self-pipe, SIGCHLD is looked for every 10 ms
        if (deadline >= 0)
            timeout = int(qBound<qint64>(0, deadline - now(), timeout < 0 ? INT_MAX : timeout));
        if (poll(polled, count, timeout) < 0 && errno != EINTR)
            break;
        if (pipeOpen && (polled[0].revents & (POLLIN | POLLHUP | POLLERR))) {
            readMessages();
            parseMessages();
        }
        char drained[64];
        while (wakeUp[0] >= 0 && read(wakeUp[0], drained, sizeof drained) > 0) {
        }
        reap();
        if (!exited && deadline >= 0 && now() >= deadline) {
            kill(pid, SIGKILL);
            if (killed == NotKilled)
                killed = interruptSignal ? KilledForInterrupt : KilledForTime;
            deadline = -1;
        }
    }
    close(fds[0]);
    runningChild = 0;
    endOrphans();
    seconds = (now() - start) / 1000.0;

    if (!finished || killed != NotKilled || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        // Where the script stood last, as errors name it: relative files beside the test script.
        TestResult::Entry entry;
        entry.type = TestResult::Error;
        entry.file = testCase.script;
        if (mirror && mirror->line > 0 && mirror->file[0]) {
            const QString file = QString::fromUtf8(mirror->file);
            entry.file = QFileInfo(file).isRelative()
                             ? QDir::cleanPath(QFileInfo(testCase.script).absolutePath() + QLatin1Char('/') + file)
                             : file;
            entry.line = mirror->line;
        }
        if (killed == KilledForTime)
            entry.message = QStringLiteral("the test case exceeded its time limit of %1 seconds and did not stop; "
                                           "its process was killed")
                                .arg(limitSeconds);
        else if (killed == KilledForInterrupt)
            entry.message = QStringLiteral("the run was interrupted and the test case did not stop; its process was killed");
        else if (WIFSIGNALED(status))
            entry.message = QStringLiteral("the test case's process was killed by signal %1%2")
                                .arg(signalName(WTERMSIG(status)),
                                     WTERMSIG(status) == SIGABRT ? QStringLiteral(" (a Tcl panic or an abort; its "
                                                                                  "message is on stderr)")
                                                                 : QString());
        else
            entry.message = QStringLiteral("the test case's process exited with status %1 before the test case ended")
                                .arg(WIFEXITED(status) ? WEXITSTATUS(status) : -1);
        result.append(entry);
        runner.resultAdded(entry);
    }
    return runner.printOutcome(testCase, result, seconds);
}

void IsolatedRunner::runChild(const TestCase& testCase, int resultPipe)
{
    // The child dies with the runner, whatever ends the runner.
    const pid_t parent = getppid();
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent)
        _exit(1);
    if (wakeUp[0] >= 0) {
        close(wakeUp[0]);
        close(wakeUp[1]);
    }
    setHandler(SIGCHLD, SIG_DFL);
    setHandler(SIGTERM, childTerminate);
    setHandler(SIGINT, childIgnoreInterrupt);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);

    Debugger::setPositionMirror(mirror);
    PipeReporter reporter(resultPipe);
    runner.setReporter(&reporter);
    runner.runTestCase(testCase);
    runner.output().stream().flush();
    fflush(stdout);
    fflush(stderr);
    reporter.finished();
    // No destructors of the runner's objects, no exit handlers: the parent owns them.
    _exit(0);
}

// Processes the test case left behind that are now the runner's children (the subreaper takes them in):
// those it detached live on, the rest end here.
void IsolatedRunner::endOrphans()
{
    QFile children(QStringLiteral("/proc/self/task/%1/children").arg(getpid()));
    if (!children.open(QIODevice::ReadOnly))
        return;
    const QList<QByteArray> pids = children.readAll().simplified().split(' ');
    QList<pid_t> ending;
    for (const QByteArray& text : pids) {
        const pid_t pid = pid_t(text.toLongLong());
        if (pid > 0 && !detached.contains(pid)) {
            kill(pid, SIGTERM);
            ending << pid;
        }
    }
    for (int waited = 0; !ending.isEmpty(); waited += 10) {
        for (int i = ending.size() - 1; i >= 0; --i)
            if (waitpid(ending.at(i), nullptr, WNOHANG) != 0)
                ending.removeAt(i); // reaped now, or before (ECHILD)
        if (ending.isEmpty())
            break;
        if (waited >= 1000)
            for (pid_t pid : ending)
                kill(pid, SIGKILL);
        usleep(10000);
    }
}

void IsolatedRunner::finish()
{
    QList<pid_t> ending;
    for (qint64 pid : detached)
        if (kill(pid_t(pid), SIGTERM) == 0)
            ending << pid_t(pid);
    detached.clear();
    for (int waited = 0; !ending.isEmpty(); waited += 10) {
        for (int i = ending.size() - 1; i >= 0; --i) {
            // Ours to reap once the subreaper took it in; otherwise gone when kill finds nothing.
            if (waitpid(ending.at(i), nullptr, WNOHANG) == ending.at(i) || kill(ending.at(i), 0) != 0)
                ending.removeAt(i);
        }
        if (ending.isEmpty())
            break;
        if (waited >= 1000)
            for (pid_t pid : ending)
                kill(pid, SIGKILL);
        usleep(10000);
    }
}

namespace {

void inProcessSignal(int signo)
{
    if (interruptSignal)
        _exit(128 + interruptSignal);
    interruptSignal = signo;
    TestRunner::requestInterrupt();
}

} // namespace

void installInProcessSignalHandlers()
{
    setHandler(SIGINT, inProcessSignal);
    setHandler(SIGTERM, inProcessSignal);
}

int inProcessInterruptedBy()
{
    return interruptSignal;
}
