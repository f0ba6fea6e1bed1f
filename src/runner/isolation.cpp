// Each test case in a child process (fork, no exec): the child inherits the loaded library and runs
// the test case as the runner would in its own process, printing to the same stdout; every result it
// adds also goes over a pipe, so the parent has them whatever becomes of the child. The debugger's
// position is mirrored into a shared page, so that a child that crashed or had to be killed is still
// reported at the line where it stood. With several jobs, each child's stdout and stderr go to files
// of their own (memfd), printed by the runner as one block when the test case's turn comes; each child
// is the leader of a process group, so that what it leaves behind can be told from what other running
// test cases started. The next test case's process is forked while the one before runs: it creates its
// interpreter, then waits for a go on its control pipe (a 4-byte length, then a QDataStream of its slot
// and the object maps read meanwhile).
//
// Messages on the pipe: a 4-byte length, then a QDataStream of a one-byte kind and its fields:
//     'E' entry       a result (type, message, detail, file, line, time, sections, attachment, facts)
//     'L' seconds     the time limit changed (setTestTimeout): seconds from the start, 0 none
//     'G'             the time limit ended the script; cleanup has cleanupGraceSeconds
//     'P' pid         a detached application, ended when the run ends
//     'O' path stamp names  an object map file read, kept for the test cases after this one
//     'S'             a process forked ahead took its turn (the test case is its from now on)
//     'F'             the test case ran to its end
#include "isolation.h"

#include "debugger.h"
#include "fdio.h"

#include <QDataStream>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMap>

#include <algorithm>
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
#include <utility>
#include <vector>

namespace {

// How long a test case may go beyond a limit before its process is killed: the script's own limit
// fires at the next command, this only catches a child stuck outside the script (in C code, a sleep).
const int killSlackMs = 2000;

volatile sig_atomic_t interruptSignal = 0;
volatile sig_atomic_t interruptCount = 0;
// The running test cases' processes, by slot, for the second signal.
volatile pid_t runningChildren[IsolatedRunner::maxJobs] = {};
int wakeUp[2] = {-1, -1}; // the signal handlers' self-pipe

void parentSignal(int signo)
{
    const int savedErrno = errno;
    if (signo == SIGINT || signo == SIGTERM) {
        if (!interruptSignal)
            interruptSignal = signo;
        if (++interruptCount > 1) {
            // The second signal: the test cases end now.
            bool any = false;
            for (int i = 0; i < IsolatedRunner::maxJobs; ++i)
                if (runningChildren[i] > 0) {
                    kill(runningChildren[i], SIGKILL);
                    any = true;
                }
            if (!any)
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

// The child's side of the pipe.
class PipeReporter : public RunReporter {
public:
    explicit PipeReporter(int fd) : fd(fd) {}

    void entryAdded(const TestResult::Entry& e) override
    {
        send('E', [&](QDataStream& s) {
            s << qint32(e.type) << e.message << e.detail << e.file << qint32(e.line) << e.time << e.sections
              << e.attachment << e.facts;
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
    void objectMapRead(const QString& path, const QByteArray& stamp, const QMap<QString, QString>& names) override
    {
        send('O', [&](QDataStream& s) { s << path << stamp << names; });
    }
    void finished()
    {
        send('F', [](QDataStream&) {});
    }
    void tookTurn()
    {
        send('S', [](QDataStream&) {});
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
        writeAll(fd, message.constData(), size_t(message.size()));
    }

    int fd;
};

// A process forked ahead waits here for its turn: the slot it runs in, and the object maps the runner
// learnt of since the fork.
bool awaitTurn(int control, int* slot)
{
    quint32 size = 0;
    QByteArray go;
    if (!readAll(control, reinterpret_cast<char*>(&size), 4) || size > (1u << 30))
        return false;
    go.resize(int(size));
    if (!readAll(control, go.data(), size))
        return false;
    close(control);
    QDataStream stream(go);
    qint32 value = -1;
    stream >> value;
    if (stream.status() != QDataStream::Ok || value < 0 || value >= IsolatedRunner::maxJobs)
        return false;
    *slot = value;
    return TestRunner::readRememberedObjectMaps(stream);
}

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

// How a test case's process came to its end, besides its exit status.
enum Killed { NotKilled, KilledForTime, KilledForInterrupt };

} // namespace

// A test case that is running or waits to be printed.
struct IsolatedRunner::Child {
    int index = -1;
    TestCase testCase;
    int slot = -1;
    pid_t pid = -1;
    int pipe = -1;
    int capturedOut = -1, capturedErr = -1; // with several jobs: what the child wrote to stdout and stderr
    int control = -1; // a process forked ahead of its turn: where the runner tells it to go
    qint64 start = 0;
    qint64 deadline = -1; // when the runner kills the child, or -1
    int limitSeconds = 0;
    bool reachedLimit = false, finished = false, exited = false, pipeOpen = true;
    int status = 0;
    Killed killed = NotKilled;
    int interruptSeen = 0;
    QByteArray buffer;
    TestResult result;
    double seconds = 0;
    bool hasEnd = false;
    // Forked ahead, and whether it said it took its turn: one that died before it did never ran its
    // test case, which then starts afresh.
    bool forkedAhead = false, tookTurn = false;
    TestResult::Entry end; // the runner's own error for a child that did not finish its test case

    ~Child()
    {
        for (int fd : {pipe, capturedOut, capturedErr, control})
            if (fd >= 0)
                close(fd);
    }
};

IsolatedRunner::IsolatedRunner(TestRunner& runner, int jobs) : runner(runner), jobs(qBound(1, jobs, maxJobs))
{
    void* page = mmap(nullptr, sizeof(DebuggerPositionMirror) * size_t(this->jobs), PROT_READ | PROT_WRITE,
                      MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    mirrors = page == MAP_FAILED ? nullptr : static_cast<DebuggerPositionMirror*>(page);
    // Whatever a test case leaves running when its process ends (a crash, a background process of its
    // own) becomes the runner's child, to be ended and reaped here.
    prctl(PR_SET_CHILD_SUBREAPER, 1);
}

IsolatedRunner::~IsolatedRunner()
{
    if (mirrors)
        munmap(mirrors, sizeof(DebuggerPositionMirror) * size_t(jobs));
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

void IsolatedRunner::run(const QList<TestCase>& cases, const Done& done)
{
    const bool capture = jobs > 1;
    QList<Child*> running;
    QMap<int, Child*> ready; // ended, by index, waiting for the test cases before them
    QList<int> freeSlots;
    for (int slot = jobs - 1; slot >= 0; --slot)
        freeSlots << slot;
    int next = 0, nextReported = 0;

    // Printed as soon as it and every test case before it ended; with one job that is before the next
    // test case's header.
    auto report = [&]() {
        while (ready.contains(nextReported)) {
            Child* child = ready.take(nextReported++);
            print(child);
            const TestRunner::Outcome outcome = runner.printOutcome(child->testCase, child->result, child->seconds);
            runner.output().stream().flush();
            done(child->index, outcome, child->result, child->seconds);
            delete child;
        }
    };
    for (;;) {
        report();
        while (!interruptSignal && next < cases.size() && !freeSlots.isEmpty()) {
            const int slot = freeSlots.takeLast();
            if (!capture) {
                runner.printHeader(cases.at(next));
                runner.output().stream().flush();
            }
            Child* child = std::exchange(standby, nullptr);
            if (child && !(child->index == next && release(child, slot))) {
                discard(child);
                child = nullptr;
            }
            if (!child) {
                child = new Child;
                child->index = next;
                child->testCase = cases.at(next);
                child->slot = slot;
                start(child);
            }
            ++next;
            if (child->pid > 0) {
                running << child;
            } else {
                freeSlots << child->slot;
                ready.insert(child->index, child);
                report();
            }
        }
        if (running.isEmpty())
            break;
        // The next test case's process starts now and creates its interpreter while this one runs.
        if (!standby && !interruptSignal && next < cases.size())
            prepare(next, cases.at(next));

        for (Child* child : running) {
            if (!interruptSignal || child->interruptSeen == interruptCount)
                continue;
            if (!child->interruptSeen) {
                // The child ends its test case as interrupted; it has its cleanup's grace to do so.
                kill(child->pid, SIGTERM);
                const qint64 graceEnd = now() + qint64(cleanupGraceSeconds) * 1000 + killSlackMs;
                if (child->deadline < 0 || graceEnd < child->deadline)
                    child->deadline = graceEnd;
            } else if (!child->exited) {
                kill(child->pid, SIGKILL); // the second signal
                child->killed = KilledForInterrupt;
            }
            child->interruptSeen = interruptCount;
        }

        std::vector<pollfd> polled;
        std::vector<Child*> polledChild;
        qint64 deadline = -1;
        for (Child* child : running) {
            if (child->pipeOpen) {
                polled.push_back({child->pipe, POLLIN, 0});
                polledChild.push_back(child);
            }
            if (child->deadline >= 0 && (deadline < 0 || child->deadline < deadline))
                deadline = child->deadline;
        }
        if (wakeUp[0] >= 0)
            polled.push_back({wakeUp[0], POLLIN, 0});
        int timeout = wakeUp[0] < 0 ? 10 : -1; // without the self-pipe, SIGCHLD is looked for every 10 ms
        if (deadline >= 0)
            timeout = int(qBound<qint64>(0, deadline - now(), timeout < 0 ? INT_MAX : timeout));
        if (poll(polled.data(), nfds_t(polled.size()), timeout) < 0 && errno != EINTR)
            break;
        for (size_t i = 0; i < polledChild.size(); ++i)
            if (polled[i].revents & (POLLIN | POLLHUP | POLLERR))
                readMessages(polledChild[i]);
        char drained[64];
        while (wakeUp[0] >= 0 && read(wakeUp[0], drained, sizeof drained) > 0) {
        }

        int st = 0;
        pid_t reaped;
        while ((reaped = waitpid(-1, &st, WNOHANG)) > 0) {
            if (standby && standby->pid == reaped)
                standby->exited = true; // started afresh when its turn comes
            for (Child* child : running)
                if (child->pid == reaped) {
                    child->exited = true;
                    child->status = st;
                    runningChildren[child->slot] = 0;
                }
        }
        for (Child* child : running) {
            if (!child->exited && child->deadline >= 0 && now() >= child->deadline) {
                kill(child->pid, SIGKILL);
                if (child->killed == NotKilled)
                    child->killed = interruptSignal ? KilledForInterrupt : KilledForTime;
                child->deadline = -1;
            }
        }
        QList<Child*> exited;
        for (int i = running.size() - 1; i >= 0; --i)
            if (running.at(i)->exited)
                exited << running.takeAt(i);
        if (!exited.isEmpty())
            endOrphans(running);
        for (Child* child : exited) {
            // A process the child started may hold the pipe open: take what is there and stop.
            readMessages(child);
            if (child->forkedAhead && !child->tookTurn && !interruptSignal) {
                // It died before its turn came to it (killed while it waited): a fresh process runs
                // the test case.
                Child* fresh = new Child;
                fresh->index = child->index;
                fresh->testCase = child->testCase;
                fresh->slot = child->slot;
                delete child;
                start(fresh);
                if (fresh->pid > 0) {
                    running << fresh;
                    continue;
                }
                child = fresh;
            }
            ended(child);
            freeSlots << child->slot;
            ready.insert(child->index, child);
        }
    }
    if (standby) {
        discard(standby);
        standby = nullptr;
    }
    // Only an error of poll itself ends the loop early; what still runs is ended without results.
    for (Child* child : running) {
        kill(child->pid, SIGKILL);
        waitpid(child->pid, nullptr, 0);
        runningChildren[child->slot] = 0;
        delete child;
    }
    qDeleteAll(ready);
}

// The test case's time starts when its turn comes, for a process forked ahead too.
void IsolatedRunner::begin(Child* child)
{
    if (DebuggerPositionMirror* mirror = mirrors ? mirrors + child->slot : nullptr) {
        mirror->line = -1;
        mirror->sourceId = -1;
        mirror->file[0] = '\0';
    }
    child->start = now();
    const RunnerOptions& options = runner.runnerOptions();
    child->limitSeconds = child->testCase.timeout >= 0 ? child->testCase.timeout : options.testTimeout;
    child->deadline = child->limitSeconds > 0 ? child->start + qint64(child->limitSeconds) * 1000 + killSlackMs : -1;
}

// The child's process with its pipe (and its captured output), running runChild; false with errno.
// Forked ahead, it waits for a go on its control pipe.
bool IsolatedRunner::spawn(Child* child, bool ahead)
{
    runner.output().stream().flush();
    fflush(stdout);
    fflush(stderr);
    const bool capture = jobs > 1;
    int fds[2] = {-1, -1}, control[2] = {-1, -1};
    auto fail = [&]() {
        const int saved = errno;
        for (int fd : {fds[0], fds[1], control[0], control[1]})
            if (fd >= 0)
                close(fd);
        errno = saved;
        return false;
    };
    if (pipe2(fds, O_CLOEXEC) != 0 || (ahead && pipe2(control, O_CLOEXEC) != 0))
        return fail();
    if (capture) {
        child->capturedOut = memfd_create("tarvin-stdout", MFD_CLOEXEC);
        child->capturedErr = memfd_create("tarvin-stderr", MFD_CLOEXEC);
        if (child->capturedOut < 0 || child->capturedErr < 0)
            return fail();
    }
    sigset_t blocked, previous;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGINT);
    sigaddset(&blocked, SIGTERM);
    sigaddset(&blocked, SIGCHLD);
    // No handler of the parent's may run in the child before the child has its own.
    sigprocmask(SIG_BLOCK, &blocked, &previous);
    child->pid = fork();
    if (child->pid == 0) {
        close(fds[0]);
        child->pipe = fds[1];
        if (ahead)
            close(control[1]);
        runChild(child, control[0]); // does not return
    }
    if (child->pid > 0) {
        if (!ahead)
            runningChildren[child->slot] = child->pid;
        if (capture)
            setpgid(child->pid, child->pid); // also done by the child: whichever comes first
    }
    const int saved = errno;
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    if (child->pid < 0) {
        errno = saved;
        return fail();
    }
    close(fds[1]);
    child->pipe = fds[0];
    fcntl(child->pipe, F_SETFL, fcntl(child->pipe, F_GETFL) | O_NONBLOCK);
    if (ahead) {
        close(control[0]);
        child->control = control[1];
    }
    return true;
}

void IsolatedRunner::prepare(int index, const TestCase& testCase)
{
    standby = new Child;
    standby->index = index;
    standby->testCase = testCase;
    if (!spawn(standby, true)) {
        delete standby; // its turn forks it then, or says why it cannot
        standby = nullptr;
    }
}

// The turn of a process forked ahead: its slot and the object maps read meanwhile. False when it is
// gone or does not take them (it is then discarded and the test case started afresh).
bool IsolatedRunner::release(Child* child, int slot)
{
    if (child->exited || child->control < 0)
        return false;
    child->slot = slot;
    begin(child);
    QByteArray go(4, '\0');
    {
        QDataStream stream(&go, QIODevice::WriteOnly | QIODevice::Append);
        stream << qint32(slot);
        TestRunner::writeRememberedObjectMaps(stream);
    }
    const quint32 size = quint32(go.size() - 4);
    memcpy(go.data(), &size, 4);
    // Taken at once when the process waits already; more than a pipe holds waits for its interpreter.
    // A process that died since it was last looked for makes the write fail, not end the runner.
    struct sigaction ignore, previous;
    memset(&ignore, 0, sizeof ignore);
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, &previous);
    const bool sent = writeAll(child->control, go.constData(), size_t(go.size()));
    sigaction(SIGPIPE, &previous, nullptr);
    close(child->control);
    child->control = -1;
    if (!sent)
        return false;
    runningChildren[slot] = child->pid;
    child->forkedAhead = true;
    return true;
}

void IsolatedRunner::discard(Child* child)
{
    if (child->pid > 0 && !child->exited) {
        kill(child->pid, SIGKILL);
        waitpid(child->pid, nullptr, 0);
    }
    delete child;
}

void IsolatedRunner::start(Child* child)
{
    begin(child);
    if (!spawn(child, false)) {
        child->pid = -1;
        child->hasEnd = true;
        child->end.type = TestResult::Error;
        child->end.message =
            QStringLiteral("cannot start a process for the test case: %1").arg(QString::fromLocal8Bit(strerror(errno)));
        child->end.file = child->testCase.script;
        child->result.append(child->end);
    }
}

void IsolatedRunner::readMessages(Child* child)
{
    char chunk[65536];
    while (child->pipeOpen) {
        const ssize_t n = read(child->pipe, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            break; // nothing more for now
        if (n == 0) {
            child->pipeOpen = false;
            break;
        }
        child->buffer.append(chunk, int(n));
        if (n < ssize_t(sizeof chunk))
            break;
    }
    QByteArray& buffer = child->buffer;
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
            stream >> type >> e.message >> e.detail >> e.file >> line >> e.time >> e.sections >> e.attachment >> e.facts;
            e.type = TestResult::Type(type);
            e.line = line;
            child->result.append(e);
        } else if (kind == 'L') {
            qint32 value = 0;
            stream >> value;
            child->limitSeconds = value;
            if (!child->reachedLimit)
                child->deadline = value > 0 ? child->start + qint64(value) * 1000 + killSlackMs : -1;
        } else if (kind == 'G') {
            child->reachedLimit = true;
            child->deadline = now() + qint64(cleanupGraceSeconds) * 1000 + killSlackMs;
        } else if (kind == 'P') {
            qint64 detachedPid = 0;
            stream >> detachedPid;
            detached << detachedPid;
        } else if (kind == 'O') {
            QString path;
            QByteArray stamp;
            QMap<QString, QString> names;
            stream >> path >> stamp >> names;
            if (stream.status() == QDataStream::Ok)
                TestRunner::rememberObjectMap(path, stamp, names);
        } else if (kind == 'F') {
            child->finished = true;
        } else if (kind == 'S') {
            child->tookTurn = true;
        }
    }
}

// The child's process has ended: the runner's own error when it did not finish its test case.
void IsolatedRunner::ended(Child* child)
{
    close(child->pipe);
    child->pipe = -1;
    child->seconds = (now() - child->start) / 1000.0;
    const int status = child->status;
    if (child->finished && child->killed == NotKilled && WIFEXITED(status) && WEXITSTATUS(status) == 0)
        return;
    // Where the script stood last, as errors name it: relative files beside the test script.
    TestResult::Entry& entry = child->end;
    entry.type = TestResult::Error;
    entry.file = child->testCase.script;
    const DebuggerPositionMirror* mirror = mirrors ? mirrors + child->slot : nullptr;
    if (mirror && mirror->line > 0 && mirror->file[0]) {
        const QString file = QString::fromUtf8(const_cast<const char*>(mirror->file));
        entry.file = QFileInfo(file).isRelative()
                         ? QDir::cleanPath(QFileInfo(child->testCase.script).absolutePath() + QLatin1Char('/') + file)
                         : file;
        entry.line = mirror->line;
    }
    if (child->killed == KilledForTime)
        entry.message = QStringLiteral("the test case exceeded its time limit of %1 seconds and did not stop; "
                                       "its process was killed")
                            .arg(child->limitSeconds);
    else if (child->killed == KilledForInterrupt)
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
    child->hasEnd = true;
    child->result.append(entry);
}

namespace {

// Copies what a child wrote into a memfd to the runner's own stdout or stderr.
void copyCaptured(int from, int to)
{
    if (from < 0 || lseek(from, 0, SEEK_SET) != 0)
        return;
    char chunk[65536];
    ssize_t n;
    while ((n = read(from, chunk, sizeof chunk)) > 0 || (n < 0 && errno == EINTR))
        if (n > 0 && !writeAll(to, chunk, size_t(n)))
            return;
}

} // namespace

// What a test case printed, up to the line that closes it (printed by the caller).
void IsolatedRunner::print(Child* child)
{
    if (child->capturedOut >= 0 || child->pid <= 0) {
        if (jobs > 1)
            runner.printHeader(child->testCase);
        runner.output().stream().flush();
        fflush(stdout);
        copyCaptured(child->capturedOut, STDOUT_FILENO);
        copyCaptured(child->capturedErr, STDERR_FILENO);
    }
    if (child->hasEnd)
        runner.resultAdded(child->end);
}

void IsolatedRunner::runChild(Child* child, int control)
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
    if (child->capturedOut >= 0) {
        setpgid(0, 0);
        dup2(child->capturedOut, STDOUT_FILENO);
        dup2(child->capturedErr, STDERR_FILENO);
    }
    setHandler(SIGCHLD, SIG_DFL);
    setHandler(SIGTERM, childTerminate);
    setHandler(SIGINT, childIgnoreInterrupt);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);

    PipeReporter reporter(child->pipe);
    runner.setReporter(&reporter);
    if (control >= 0) {
        // Forked ahead: the interpreter is made while the test case before runs. Without a go (the
        // runner ended, or gave up on this process) there is nothing to do.
        runner.prepareInterpreter();
        if (!awaitTurn(control, &child->slot))
            _exit(0);
        reporter.tookTurn();
    }
    Debugger::setPositionMirror(mirrors ? mirrors + child->slot : nullptr);
    runner.runTestCase(child->testCase);
    runner.output().stream().flush();
    fflush(stdout);
    fflush(stderr);
    reporter.finished();
    // No destructors of the runner's objects, no exit handlers: the parent owns them.
    _exit(0);
}

namespace {
// Waits for processes that were asked to end until `gone` says each has; those still there after a
// second are killed.
template <class Gone> void awaitEnd(QList<pid_t> ending, Gone gone)
{
    for (int waited = 0; !ending.isEmpty(); waited += 10) {
        for (int i = ending.size() - 1; i >= 0; --i)
            if (gone(ending.at(i)))
                ending.removeAt(i);
        if (ending.isEmpty())
            break;
        if (waited >= 1000)
            for (pid_t pid : ending)
                kill(pid, SIGKILL);
        usleep(10000);
    }
}
} // namespace

// Processes test cases left behind that are now the runner's children (the subreaper takes them in):
// those they detached live on, and so does what belongs to a test case still running (its process
// group, with several jobs); the rest end here.
void IsolatedRunner::endOrphans(const QList<Child*>& running)
{
    QFile children(QStringLiteral("/proc/self/task/%1/children").arg(getpid()));
    if (!children.open(QIODevice::ReadOnly))
        return;
    const QList<QByteArray> pids = children.readAll().simplified().split(' ');
    QList<pid_t> ending;
    for (const QByteArray& text : pids) {
        const pid_t pid = pid_t(text.toLongLong());
        if (pid <= 0 || detached.contains(pid) || (standby && standby->pid == pid))
            continue;
        const pid_t group = getpgid(pid);
        const bool ofRunning = std::any_of(running.begin(), running.end(), [&](const Child* c) {
            return c->pid == pid || (jobs > 1 && c->pid == group);
        });
        if (!ofRunning) {
            kill(pid, SIGTERM);
            ending << pid;
        }
    }
    // Reaped now, or before (ECHILD).
    awaitEnd(ending, [](pid_t pid) { return waitpid(pid, nullptr, WNOHANG) != 0; });
}

void IsolatedRunner::finish()
{
    QList<pid_t> ending;
    for (qint64 pid : detached)
        if (kill(pid_t(pid), SIGTERM) == 0)
            ending << pid_t(pid);
    detached.clear();
    // Ours to reap once the subreaper took it in; otherwise gone when kill finds nothing.
    awaitEnd(ending, [](pid_t pid) { return waitpid(pid, nullptr, WNOHANG) == pid || kill(pid, 0) != 0; });
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
