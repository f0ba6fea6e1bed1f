// Application contexts of the runner. A context is either an in-process application (found by its
// registered name, running inside the runner, its objects in the inspector) or a real process started
// with QProcess, whose output is captured and whose process data is read from /proc.
#include "applications.h"

#include "agentconnection.h"
#include "application.h"
#include "inspector.h"
#include "protocol.h"
#include "remoteobject.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRegExp>
#include <QProcess>
#include <QStandardPaths>
#include <QSysInfo>
#include <QThread>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <memory>

#include <sys/utsname.h>
#include <unistd.h>

namespace {

const int defaultStartTimeoutSeconds = 20;

QByteArray readProcFile(qint64 pid, const char* name)
{
    QFile file(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(name)));
    if (pid <= 0 || !file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

// The fields of /proc/PID/stat after the command name (which may hold blanks): state first.
QList<QByteArray> statFields(qint64 pid)
{
    const QByteArray stat = readProcFile(pid, "stat");
    const int close = stat.lastIndexOf(')');
    if (close < 0)
        return QList<QByteArray>();
    return stat.mid(close + 2).split(' ');
}

QString procCwd(qint64 pid)
{
    return pid > 0 ? QFile::symLinkTarget(QStringLiteral("/proc/%1/cwd").arg(pid)) : QString();
}

qint64 procResidentBytes(qint64 pid)
{
    for (const QByteArray& line : readProcFile(pid, "status").split('\n')) {
        if (line.startsWith("VmRSS:")) {
            const QList<QByteArray> parts = line.mid(6).simplified().split(' ');
            return parts.value(0).toLongLong() * 1024; // the kernel counts in kB
        }
    }
    return 0;
}

qint64 procCpuMilliseconds(qint64 pid)
{
    const QList<QByteArray> fields = statFields(pid);
    if (fields.size() < 13)
        return -1;
    const qint64 ticks = fields.at(11).toLongLong() + fields.at(12).toLongLong(); // utime + stime
    return ticks * 1000 / sysconf(_SC_CLK_TCK);
}

// When the process started: clock ticks after boot (/proc/PID/stat) plus the boot time (/proc/stat).
QDateTime procStartTime(qint64 pid)
{
    const QList<QByteArray> fields = statFields(pid);
    QFile stat(QStringLiteral("/proc/stat"));
    if (fields.size() < 20 || !stat.open(QIODevice::ReadOnly))
        return QDateTime::currentDateTime();
    for (const QByteArray& line : stat.readAll().split('\n')) {
        if (line.startsWith("btime "))
            return QDateTime::fromSecsSinceEpoch(line.mid(6).trimmed().toLongLong() +
                                                 fields.at(19).toLongLong() / sysconf(_SC_CLK_TCK));
    }
    return QDateTime::currentDateTime();
}

// A process that exists and has not ended (a zombie has ended).
bool procAlive(qint64 pid)
{
    const QByteArray state = statFields(pid).value(0);
    return !state.isEmpty() && state != "Z" && state != "X";
}

bool procStopped(qint64 pid)
{
    const QByteArray state = statFields(pid).value(0);
    return state == "T" || state == "t";
}

QString procEnvironmentVariable(qint64 pid, const QString& name, bool* found)
{
    const QByteArray prefix = name.toLocal8Bit() + '=';
    const QByteArray environ = readProcFile(pid, "environ");
    *found = !environ.isEmpty();
    for (const QByteArray& entry : environ.split('\0')) {
        if (entry.startsWith(prefix))
            return QString::fromLocal8Bit(entry.mid(prefix.size()));
    }
    return QString();
}

QString systemName()
{
    struct utsname names;
    return uname(&names) == 0 ? QString::fromLocal8Bit(names.sysname) : QStringLiteral("Linux");
}

bool isLocalHost(const QString& host)
{
    return host.isEmpty() || host == QLatin1String("localhost") || host == QLatin1String("127.0.0.1") ||
           host == QLatin1String("::1") || host == QSysInfo::machineHostName();
}

// Lets a process's pipes and its end be noticed without an event loop running.
void pollProcess(QProcess* process)
{
    if (QCoreApplication::instance())
        QCoreApplication::processEvents();
    else if (process->state() != QProcess::NotRunning)
        process->waitForFinished(0);
}

// What a program is: a Qt program gets the agent and is waited for, any other binary runs without an
// object model, and a script (or what cannot be read) may start a Qt program: it is given the agent and
// waited for, but need not answer.
enum class ProgramKind { Qt, Other, Unknown };

ProgramKind programKind(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return ProgramKind::Unknown;
    if (file.read(4) != QByteArray("\x7f" "ELF", 4))
        return ProgramKind::Unknown;
    const uchar* data = file.map(0, file.size());
    if (!data)
        return ProgramKind::Unknown;
    const QByteArray view = QByteArray::fromRawData(reinterpret_cast<const char*>(data), int(qMin<qint64>(file.size(), INT_MAX)));
    if (view.contains("libQt5Core.so"))
        return ProgramKind::Qt;
    // Qt may come in through a library of the program's own: the dynamic loader lists them all
    // without running the program.
    QProcess trace;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("LD_TRACE_LOADED_OBJECTS"), QStringLiteral("1"));
    trace.setProcessEnvironment(environment);
    trace.start(path, QStringList());
    if (!trace.waitForFinished(5000)) {
        trace.kill();
        trace.waitForFinished();
        return ProgramKind::Unknown;
    }
    return trace.readAllStandardOutput().contains("libQt5Core.so") ? ProgramKind::Qt : ProgramKind::Other;
}

// The agent library: $TARVIN_AGENT_LIBRARY, else ../lib/libtarvinagent.so beside the runner.
QString agentLibrary()
{
    const QString configured = QString::fromLocal8Bit(qgetenv("TARVIN_AGENT_LIBRARY"));
    if (!configured.isEmpty())
        return configured;
    return QCoreApplication::applicationDirPath() + QStringLiteral("/../lib/libtarvinagent.so");
}

// "ended with exit status 3", "crashed with signal 11 (SIGSEGV)".
QString describeEnd(QProcess* process)
{
    if (process->exitStatus() == QProcess::CrashExit) {
        const int signal = process->exitCode();
        const char* abbreviation = signal > 0 ? sigabbrev_np(signal) : nullptr;
        return abbreviation ? QStringLiteral("was ended by signal %1 (SIG%2)").arg(signal).arg(QLatin1String(abbreviation))
                            : QStringLiteral("crashed");
    }
    return QStringLiteral("ended with exit status %1").arg(process->exitCode());
}

class RunnerContext : public ApplicationContext {
public:
    RunnerContext(ApplicationRunner* owner, const QString& host, int port) : owner(owner), hostName(host), portNumber(port)
    {
        setSecondNumber(0);
        setActiveFlag(1);
        setHasLink(true);
    }
    ~RunnerContext() override { end(); }

    // In-process application: its registered name.
    QString inProcessName;
    // Real process: owned here, ended with the context (or when the test case ends).
    std::unique_ptr<QProcess> process;
    // A process started elsewhere and attached to by its id: observed only, never ended.
    bool attached = false;
    qint64 processId = -1;
    QString startDirectory;
    QProcessEnvironment environment;
    // The top-level objects of an in-process application while another context is current.
    ObjectList stashedObjects;
    // The link to the agent inside a real application; null for programs without one.
    SharedPtr<AgentConnection> connection;
    bool detached = false;
    bool ended = false;
    mutable qint64 lastCpuMilliseconds = 0;

    bool isInProcess() const { return !inProcessName.isEmpty(); }

    qint64 pid() const override { return processId; }

    bool isRunning() const override
    {
        if (isInProcess())
            return !ended && InProcessApplications::isRunning(inProcessName);
        if (attached)
            return procAlive(processId);
        if (!process)
            return connection && connection->isOpen();
        pollProcess(process.get());
        if (process->state() != QProcess::NotRunning && !procAlive(processId))
            process->waitForFinished(1000); // ended, not yet reaped: collect its exit status now
        return process->state() != QProcess::NotRunning;
    }

    bool waitForExit(int timeout) override
    {
        QElapsedTimer timer;
        timer.start();
        while (isRunning()) {
            if (timer.elapsed() >= timeout)
                return false;
            if (process)
                process->waitForFinished(qMin<qint64>(100, timeout - timer.elapsed()));
            else
                QThread::msleep(20);
        }
        return true;
    }

    int exitStatus() const override
    {
        if (!process || process->state() != QProcess::NotRunning)
            return -1;
        return process->exitStatus() == QProcess::CrashExit ? 128 + process->exitCode() : process->exitCode();
    }

    // How the application ended, for the messages of commands that found it gone. A connection that
    // closes almost always means a process that is ending: its end is waited for a moment.
    QString endText()
    {
        if (ended)
            return QStringLiteral("The application '%1' has been ended by the runner").arg(name());
        if (process && process->state() != QProcess::NotRunning)
            process->waitForFinished(3000);
        if (process && process->state() == QProcess::NotRunning)
            return QStringLiteral("The application '%1' %2").arg(name(), describeEnd(process.get()));
        return QStringLiteral("The application '%1' closed its connection").arg(name());
    }

    QString cwd() const override
    {
        const QString live = isRunning() ? procCwd(processId) : QString();
        return live.isEmpty() ? startDirectory : live;
    }

    qint64 usedMemory() const override { return isRunning() ? procResidentBytes(processId) : 0; }

    qint64 totalTime() const override
    {
        if (isRunning()) {
            const qint64 ms = procCpuMilliseconds(processId);
            if (ms >= 0)
                lastCpuMilliseconds = ms;
        }
        return lastCpuMilliseconds;
    }

    // Frozen: stopped (by a signal or a debugger) for the whole timeout.
    bool isFrozen(int timeout) const override
    {
        if (isInProcess() || !isRunning())
            return false;
        const qint64 until = QDateTime::currentMSecsSinceEpoch() + qMax(0, timeout) * 1000;
        while (procStopped(processId)) {
            if (QDateTime::currentMSecsSinceEpoch() >= until)
                return true;
            QThread::msleep(50);
        }
        return false;
    }

    QString readStdout() override { return readChannel(QProcess::StandardOutput); }
    QString readStderr() override { return readChannel(QProcess::StandardError); }

    QString environmentVariable(const QString& name) const override
    {
        if (isInProcess())
            return QString::fromLocal8Bit(qgetenv(name.toLocal8Bit().constData()));
        bool fromProc = false;
        const QString value = isRunning() ? procEnvironmentVariable(processId, name, &fromProc) : QString();
        if (attached)
            return value;
        return fromProc ? value : environment.value(name);
    }

    QString osName() const override { return systemName(); }
    QString host() const override { return hostName; }
    int port() const override { return portNumber; }

    bool detach() override
    {
        if (detached || !owner->detachContext(this))
            return false;
        detached = true;
        return true;
    }

    // Ends the application: an in-process one stops; a process is asked to terminate, then killed.
    void end()
    {
        if (connection) {
            ended = true;
            connection->close();
        }
        if (isInProcess() && !ended) {
            stashedObjects.clear();
            InProcessApplications::stop(inProcessName);
        }
        if (process && process->state() != QProcess::NotRunning) {
            process->terminate();
            if (!process->waitForFinished(3000)) {
                process->kill();
                process->waitForFinished(3000);
            }
        }
        process.reset();
        ended = true;
    }

private:
    QString readChannel(QProcess::ProcessChannel channel)
    {
        if (!process || detached)
            return QString(); // not captured
        pollProcess(process.get());
        const QByteArray data = channel == QProcess::StandardOutput ? process->readAllStandardOutput()
                                                                     : process->readAllStandardError();
        QString text = QString::fromLocal8Bit(data);
        if (text.isNull())
            text = QLatin1String(""); // captured, nothing new: empty, not null
        return text;
    }

    ApplicationRunner* owner;
    QString hostName;
    int portNumber;
};

RunnerContext* runnerContext(const SharedPtr<ApplicationContext>& context)
{
    return dynamic_cast<RunnerContext*>(context.get());
}

// The deepest ready object under the point (global coordinates) among the object and its descendants.
SharedPtr<Object> objectAt(const SharedPtr<Object>& object, int x, int y)
{
    int ox, oy, w, h;
    if (!object || object->isInvalid() || !object->globalBounds(&ox, &oy, &w, &h))
        return SharedPtr<Object>();
    if (x < ox || y < oy || x >= ox + w || y >= oy + h || !object->isReady())
        return SharedPtr<Object>();
    for (int i = object->childCount() - 1; i >= 0; --i) {
        if (SharedPtr<Object> hit = objectAt(object->child(i), x, y))
            return hit;
    }
    return object;
}

} // namespace

ApplicationRunner::ApplicationRunner() : none(new ApplicationContext) {}

ApplicationRunner::~ApplicationRunner()
{
    endTestCase();
    for (const SharedPtr<ApplicationContext>& context : detachedContexts)
        runnerContext(context)->end();
}

QString ApplicationRunner::uniqueName(const QString& base) const
{
    QString name = base;
    for (int n = 2; applicationContext(name)->id() != -1; ++n)
        name = QStringLiteral("%1_%2").arg(base, QString::number(n));
    return name;
}

SharedPtr<ApplicationContext> ApplicationRunner::startApplication(const QString& application, const QString& host,
                                                                  int port, int timeout, QString* error)
{
    if (!isLocalHost(host)) {
        *error = QStringLiteral("Cannot start '%1' on host '%2': this runner starts applications on the local "
                                "machine only")
                     .arg(application, host);
        return none;
    }
    QStringList words = QProcess::splitCommand(application);
    if (words.isEmpty()) {
        *error = QStringLiteral("The command line '%1' names no program").arg(application);
        return none;
    }
    SharedPtr<RunnerContext> context(new RunnerContext(this, host.isEmpty() ? QStringLiteral("localhost") : host, port));
    context->startDirectory = QDir::currentPath();
    if (words.size() == 1 && InProcessApplications::isRegistered(words.first())) {
        const QString name = words.first();
        if (InProcessApplications::isRunning(name)) {
            *error = QStringLiteral("The application '%1' is running already").arg(name);
            return none;
        }
        // Its objects arrive in the inspector: whatever another context showed goes to that context.
        makeCurrent(none);
        if (!InProcessApplications::start(name)) {
            *error = QStringLiteral("The application '%1' failed to start").arg(name);
            return none;
        }
        context->inProcessName = name;
        context->processId = QCoreApplication::applicationPid();
        context->setName(uniqueName(name));
    } else {
        if (!startProcess(context, application, words, timeout, error))
            return none;
    }
    context->setId(nextId++);
    context->setCommandLine(application);
    context->setStartTime(QDateTime::currentDateTime());
    contexts.append(context);
    makeCurrent(context);
    return context;
}

// Starts a real program: leading words NAME=VALUE add to its environment and --cwd=DIR sets its
// working directory; the program is looked up on PATH. A Qt program runs with the agent and
// offscreen (unless QT_QPA_PLATFORM says otherwise) and is waited for until its agent answers.
bool ApplicationRunner::startProcess(const SharedPtr<ApplicationContext>& started, const QString& application,
                                     QStringList words, int timeout, QString* error)
{
    RunnerContext* context = runnerContext(started);
    context->environment = QProcessEnvironment::systemEnvironment();
    QString directory = QDir::currentPath();
    while (!words.isEmpty()) {
        const QString& word = words.first();
        const int equals = word.indexOf(QLatin1Char('='));
        if (word.startsWith(QLatin1String("--cwd="))) {
            directory = QDir(directory).absoluteFilePath(word.mid(6));
        } else if (equals > 0 && QRegExp(QStringLiteral("[A-Za-z_][A-Za-z0-9_]*")).exactMatch(word.left(equals))) {
            context->environment.insert(word.left(equals), word.mid(equals + 1));
        } else {
            break;
        }
        words.removeFirst();
    }
    if (words.isEmpty()) {
        *error = QStringLiteral("The command line '%1' names no program").arg(application);
        return false;
    }
    if (!QFileInfo(directory).isDir()) {
        *error = QStringLiteral("Cannot start '%1': the working directory %2 does not exist").arg(application, directory);
        return false;
    }
    const QString program = words.takeFirst();
    // A bare name is looked up on PATH, then beside the runner (where the example application lives).
    QString path = program.contains(QLatin1Char('/'))
                       ? QDir(directory).absoluteFilePath(program)
                       : QStandardPaths::findExecutable(
                             program, context->environment.value(QStringLiteral("PATH")).split(QLatin1Char(':'),
                                                                                             Qt::SkipEmptyParts));
    if (path.isEmpty() && !program.contains(QLatin1Char('/')))
        path = QStandardPaths::findExecutable(program, {QCoreApplication::applicationDirPath()});
    if (path.isEmpty())
        path = program; // let the start fail with the system's own reason
    const ProgramKind kind = programKind(path);
    std::unique_ptr<AgentListener> listener;
    if (kind != ProgramKind::Other) {
        const QString library = agentLibrary();
        listener.reset(new AgentListener);
        QString why;
        if (!QFileInfo(library).isReadable() || !listener->open(&why)) {
            if (kind == ProgramKind::Qt) {
                *error = why.isEmpty() ? QStringLiteral("Cannot start '%1' with its agent: the agent library %2 is "
                                                        "missing (set TARVIN_AGENT_LIBRARY)").arg(application, library)
                                       : QStringLiteral("Cannot start '%1' with its agent: %2").arg(application, why);
                return false;
            }
            listener.reset();
        } else {
            const QString preload = context->environment.value(QStringLiteral("LD_PRELOAD"));
            context->environment.insert(QStringLiteral("LD_PRELOAD"),
                                        preload.isEmpty() ? library : library + QLatin1Char(':') + preload);
            context->environment.insert(QLatin1String(AgentProtocol::connectVariable), listener->socketPath());
            const QByteArray runnerPid = qgetenv("TARVIN_RUNNER_PID");
            context->environment.insert(QLatin1String(AgentProtocol::runnerVariable),
                                        runnerPid.isEmpty() ? QString::number(QCoreApplication::applicationPid())
                                                            : QString::fromLatin1(runnerPid));
            if (!context->environment.contains(QStringLiteral("QT_QPA_PLATFORM")))
                context->environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
            // Offscreen there is no OpenGL, which Qt Quick draws with: its scenes are drawn in software.
            const QString platform = context->environment.value(QStringLiteral("QT_QPA_PLATFORM"));
            if ((platform == QLatin1String("offscreen") || platform == QLatin1String("minimal")) &&
                !context->environment.contains(QStringLiteral("QT_QUICK_BACKEND")) &&
                !context->environment.contains(QStringLiteral("QMLSCENE_DEVICE")))
                context->environment.insert(QStringLiteral("QT_QUICK_BACKEND"), QStringLiteral("software"));
        }
    }
    context->startDirectory = directory;
    context->process.reset(new QProcess);
    context->process->setProcessEnvironment(context->environment);
    context->process->setWorkingDirectory(directory);
    // Nobody types into an application under test: a program that reads its standard input reads its
    // end at once instead of waiting forever on a pipe nobody writes to.
    context->process->setStandardInputFile(QProcess::nullDevice());
    context->process->start(path, words);
    const int seconds = timeout > 0 ? timeout : defaultStartTimeoutSeconds;
    if (!context->process->waitForStarted(seconds * 1000)) {
        *error = QStringLiteral("Could not start '%1': %2").arg(application, context->process->errorString());
        context->process.reset();
        return false;
    }
    context->processId = context->process->processId();
    context->setName(uniqueName(QFileInfo(program).fileName()));
    if (!listener)
        return true;
    QProcess* process = context->process.get();
    const auto running = [process] {
        pollProcess(process);
        return process->state() != QProcess::NotRunning;
    };
    QString why;
    SharedPtr<AgentConnection> connection = listener->accept(seconds * 1000, running, &why);
    if (connection && connection->waitForHello(seconds * 1000, running, &why)) {
        context->connection = connection;
        connection->setName(context->name());
        connection->setRequestTimeout(qMax(objectTimeout(), 5000));
        connection->setEndedDescription([context] { return context->endText(); });
        return true;
    }
    if (!running()) {
        // What the program said last says why; Qt's notices of every start (no runtime directory set,
        // the offscreen platform's limits) are left out.
        QStringList lines = QString::fromLocal8Bit(process->readAllStandardError()).split(QLatin1Char('\n'));
        lines.erase(std::remove_if(lines.begin(), lines.end(),
                                   [](const QString& line) {
                                       return line.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set")) ||
                                              line.startsWith(QLatin1String("This plugin does not support "));
                                   }),
                    lines.end());
        QString output = lines.join(QLatin1Char('\n')).trimmed();
        if (output.size() > 500)
            output = QStringLiteral("...") + output.right(500);
        *error = QStringLiteral("The application '%1' %2 before it could be driven%3")
                     .arg(context->name(), describeEnd(process),
                          output.isEmpty() ? QString() : QStringLiteral(": ") + output);
        context->process.reset();
        return false;
    }
    if (kind == ProgramKind::Unknown)
        return true; // not a Qt program after all: it runs without objects
    // A Qt program's agent answers from the program's first event loop: one that never gets there
    // computes, waits for something or is a console program that works without an event loop.
    *error = kind == ProgramKind::Qt
                 ? QStringLiteral("The application '%1' (process %2) did not answer within %3 s: it is a Qt program "
                                  "that has not entered its event loop (still busy, waiting for something, or a "
                                  "console program without one)")
                       .arg(context->name())
                       .arg(context->processId)
                       .arg(seconds)
                 : QStringLiteral("The application '%1' (process %2) did not answer within %3 s: is it a Qt 5 "
                                  "application?")
                       .arg(context->name())
                       .arg(context->processId)
                       .arg(seconds);
    context->end();
    return false;
}

namespace {

// The sockets of agents that wait for a runner on this machine, by process id (live processes only).
QMap<qint64, QString> waitingAgents()
{
    QMap<qint64, QString> agents;
    QString error;
    const QString directory = AgentProtocol::agentDirectory(&error);
    if (directory.isEmpty())
        return agents;
    for (const QFileInfo& entry : QDir(directory).entryInfoList({QStringLiteral("*.sock")}, QDir::System)) {
        bool isNumber = false;
        const qint64 pid = entry.completeBaseName().toLongLong(&isNumber);
        if (isNumber && procAlive(pid))
            agents.insert(pid, entry.absoluteFilePath());
        else if (isNumber)
            QFile::remove(entry.absoluteFilePath()); // left by a process that ended
    }
    return agents;
}

QString programName(qint64 pid)
{
    QByteArray commandLine = readProcFile(pid, "cmdline");
    const QString first = QString::fromLocal8Bit(commandLine.left(commandLine.indexOf('\0')));
    return QFileInfo(first).fileName();
}

} // namespace

SharedPtr<ApplicationContext> ApplicationRunner::adopt(const SharedPtr<AgentConnection>& connection,
                                                       const QString& host, int port, const QString& fallbackName)
{
    const bool local = isLocalHost(host) && port <= 0;
    SharedPtr<RunnerContext> context(new RunnerContext(this, host.isEmpty() ? QStringLiteral("localhost") : host, port));
    context->attached = true;
    context->connection = connection;
    context->processId = local ? connection->pid() : -1;
    if (local) {
        context->startDirectory = procCwd(context->processId);
        QByteArray commandLine = readProcFile(context->processId, "cmdline");
        if (commandLine.endsWith('\0'))
            commandLine.chop(1);
        context->setCommandLine(QString::fromLocal8Bit(commandLine.replace('\0', ' ')));
        context->setStartTime(procStartTime(context->processId));
    } else {
        context->setCommandLine(fallbackName);
        context->setStartTime(QDateTime::currentDateTime());
    }
    const QString base = local ? programName(context->processId) : connection->applicationName();
    context->setName(uniqueName(base.isEmpty() ? fallbackName : base));
    connection->setName(context->name());
    connection->setRequestTimeout(qMax(objectTimeout(), 5000));
    RunnerContext* raw = context.get();
    connection->setEndedDescription([raw] { return raw->endText(); });
    context->setId(nextId++);
    contexts.append(context);
    makeCurrent(context);
    return context;
}

SharedPtr<ApplicationContext> ApplicationRunner::attachToApplication(const QString& application, const QString& host,
                                                                     int port, int timeout, QString* error)
{
    const int waitMs = (timeout > 0 ? timeout : defaultStartTimeoutSeconds) * 1000;
    if (!isLocalHost(host) || port > 0) {
        // An agent that serves TCP: started with tarvinlaunch --listen, answering the shared secret.
        if (port <= 0) {
            *error = QStringLiteral("Cannot attach to '%1' on host '%2': give the port its agent listens on")
                         .arg(application, host);
            return none;
        }
        const QByteArray secret = qgetenv(AgentProtocol::secretVariable);
        if (secret.isEmpty()) {
            *error = QStringLiteral("Cannot attach to '%1' at %2:%3: set %4 to the secret the application was started "
                                    "with").arg(application, host).arg(port).arg(QLatin1String(AgentProtocol::secretVariable));
            return none;
        }
        SharedPtr<AgentConnection> connection =
            connectToAgent(host.isEmpty() ? QStringLiteral("127.0.0.1") : host, port, secret, waitMs, error);
        return connection ? adopt(connection, host, port, application) : none;
    }
    bool isNumber = false;
    const qint64 pid = application.toLongLong(&isNumber);
    if (isNumber && pid <= 0) {
        *error = QStringLiteral("Cannot attach to '%1': name a running process by its process id or its program's name")
                     .arg(application);
        return none;
    }
    for (const SharedPtr<ApplicationContext>& context : contexts) {
        if (isNumber && context->pid() == pid && context->isRunning()) {
            *error = QStringLiteral("The process %1 is the application '%2' already").arg(pid).arg(context->name());
            return none;
        }
    }
    // An application started with tarvinlaunch waits in the agent directory.
    const QMap<qint64, QString> agents = waitingAgents();
    QString socket;
    for (auto it = agents.constBegin(); it != agents.constEnd() && socket.isEmpty(); ++it)
        if (isNumber ? it.key() == pid : programName(it.key()) == application)
            socket = it.value();
    if (!socket.isEmpty()) {
        SharedPtr<AgentConnection> connection = connectToAgent(socket, waitMs, error);
        return connection ? adopt(connection, host, port, application) : none;
    }
    if (!isNumber) {
        *error = QStringLiteral("Cannot attach to '%1': no application of that name waits for a runner; start it with "
                                "tarvinlaunch, or name a running process by its process id").arg(application);
        return none;
    }
    if (!procAlive(pid)) {
        *error = QStringLiteral("Cannot attach to '%1': no process with that id is running").arg(application);
        return none;
    }
    // A process without an agent: observed only (process data, no objects).
    SharedPtr<RunnerContext> context(new RunnerContext(this, host.isEmpty() ? QStringLiteral("localhost") : host, port));
    context->attached = true;
    context->processId = pid;
    context->startDirectory = procCwd(pid);
    QByteArray commandLine = readProcFile(pid, "cmdline");
    if (commandLine.endsWith('\0'))
        commandLine.chop(1);
    context->setCommandLine(QString::fromLocal8Bit(commandLine.replace('\0', ' ')));
    context->setName(uniqueName(QString::fromLocal8Bit(readProcFile(pid, "comm").trimmed())));
    context->setId(nextId++);
    context->setStartTime(procStartTime(pid));
    contexts.append(context);
    makeCurrent(context);
    return context;
}

SharedPtr<ApplicationContext> ApplicationRunner::waitForApplicationLaunch(int timeout, QString* error)
{
    // The first application started with tarvinlaunch that no context of this runner drives yet.
    const int waitMs = (timeout > 0 ? timeout : defaultStartTimeoutSeconds) * 1000;
    QElapsedTimer timer;
    timer.start();
    do {
        const QMap<qint64, QString> agents = waitingAgents();
        for (auto it = agents.constBegin(); it != agents.constEnd(); ++it) {
            bool taken = false;
            for (const SharedPtr<ApplicationContext>& context : contexts + detachedContexts)
                taken = taken || (context->pid() == it.key() && context->isRunning());
            if (taken)
                continue;
            QString why;
            if (SharedPtr<AgentConnection> connection = connectToAgent(it.value(), qMax(1000, waitMs - int(timer.elapsed())), &why))
                return adopt(connection, QString(), -1, programName(it.key()));
        }
        QThread::msleep(50);
    } while (timer.elapsed() < waitMs);
    *error = QStringLiteral("No application was launched within %1 s: start one with tarvinlaunch PROGRAM").arg(waitMs / 1000);
    return none;
}

SharedPtr<ApplicationContext> ApplicationRunner::applicationContext(const QString& name) const
{
    if (name.isEmpty())
        return current ? current : none;
    for (const SharedPtr<ApplicationContext>& context : contexts) {
        if (context->name() == name)
            return context;
    }
    return none;
}

SharedPtr<ApplicationContext> ApplicationRunner::defaultApplicationContext() const
{
    return contexts.isEmpty() ? none : contexts.first();
}

bool ApplicationRunner::switchApplicationContext(const SharedPtr<ApplicationContext>& context)
{
    if (!context || !contexts.contains(context) || !context->isRunning())
        return false;
    makeCurrent(context);
    return true;
}

void ApplicationRunner::makeCurrent(const SharedPtr<ApplicationContext>& context)
{
    if (context == current)
        return;
    Inspector* inspector = Inspector::self();
    // Lookups go to the current context: an in-process application's objects are in the inspector only
    // while its context is current.
    if (RunnerContext* previous = runnerContext(current)) {
        if (previous->isInProcess() && previous->isRunning()) {
            for (int i = 0; i < inspector->topLevelCount(); ++i)
                previous->stashedObjects.append(inspector->topLevelObject(i));
            inspector->clearTopLevelObjects();
        }
    }
    current = context == none ? SharedPtr<ApplicationContext>() : context;
    RunnerContext* chosen = runnerContext(current);
    inspector->setObjectProvider(chosen && chosen->connection ? chosen->connection.get() : nullptr);
    // Global properties, functions and event types exist while an application context is current.
    inspector->setApplicationContextValid(current && current->isValid());
    if (RunnerContext* next = runnerContext(current)) {
        for (const SharedPtr<Object>& object : next->stashedObjects)
            inspector->addTopLevelObject(object);
        next->stashedObjects.clear();
    }
}

bool ApplicationRunner::detachContext(ApplicationContext* context)
{
    for (int i = 0; i < contexts.size(); ++i) {
        if (contexts.at(i).get() != context)
            continue;
        const SharedPtr<ApplicationContext> kept = contexts.takeAt(i);
        if (kept == current)
            makeCurrent(defaultApplicationContext());
        detachedContexts.append(kept);
        return true;
    }
    return false;
}

void ApplicationRunner::endTestCase()
{
    makeCurrent(none);
    // In-process applications of detached contexts run inside the runner: they end with the test case.
    for (const SharedPtr<ApplicationContext>& context : contexts + detachedContexts) {
        RunnerContext* c = runnerContext(context);
        if (c->isInProcess() || !c->detached)
            c->end();
    }
    contexts.clear();
    for (int i = detachedContexts.size() - 1; i >= 0; --i) {
        if (runnerContext(detachedContexts.at(i))->isInProcess())
            detachedContexts.removeAt(i);
    }
}

bool ApplicationRunner::mouseInput(const SharedPtr<Object>& object, int given, int x, int y, int button,
                                   int modifiers, bool buttonAction, bool press)
{
    Inspector* inspector = Inspector::self();
    RunnerContext* context = runnerContext(current);
    if (context && context->connection && (!object || dynamic_cast<RemoteObject*>(object.get()))) {
        // A real application: the agent gives the input through the window system.
        static const char* const actions[] = {"move", "press", "release"};
        const QString action = QLatin1String(actions[!buttonAction ? 0 : press ? 1 : 2]);
        QVariantMap input{{QStringLiteral("button"), (given & MouseButton) ? button : 1},
                          {QStringLiteral("modifiers"), (given & MouseModifiers) ? modifiers : 0}};
        if (object) {
            if (object->isInvalid()) {
                inspector->setLastError(QStringLiteral("The %1 object no longer exists").arg(object->className()));
                return false;
            }
            if (given & MouseCoordinates) {
                input.insert(QStringLiteral("x"), x);
                input.insert(QStringLiteral("y"), y);
            }
            return object->userInput(action, input);
        }
        if (given & MouseCoordinates) {
            mouseX = x;
            mouseY = y;
        }
        input.insert(QStringLiteral("x"), mouseX);
        input.insert(QStringLiteral("y"), mouseY);
        return context->connection->userInput(action, input);
    }
    if (!context || !context->isInProcess()) {
        inspector->setLastError(
            context ? QStringLiteral("The application '%1' has no objects this runner can send mouse input to")
                          .arg(context->name())
                    : QStringLiteral("No application is running to send mouse input to"));
        return false;
    }
    MouseInput input;
    input.type = !buttonAction ? MouseInput::Move : press ? MouseInput::Press : MouseInput::Release;
    input.button = (given & MouseButton) ? button : buttonAction ? 1 : 0; // the left button by default
    input.modifiers = (given & MouseModifiers) ? modifiers : 0;
    SharedPtr<Object> target = object;
    int ox = 0, oy = 0, w = 0, h = 0;
    if (target) {
        if (target->isInvalid()) {
            inspector->setLastError(QStringLiteral("The %1 object no longer exists").arg(target->className()));
            return false;
        }
        const bool placed = target->globalBounds(&ox, &oy, &w, &h);
        // Without coordinates the input goes to the middle of the object.
        input.x = (given & MouseCoordinates) ? x : w / 2;
        input.y = (given & MouseCoordinates) ? y : h / 2;
        if (placed) {
            mouseX = ox + input.x;
            mouseY = oy + input.y;
        }
    } else {
        if (given & MouseCoordinates) {
            mouseX = x;
            mouseY = y;
        }
        for (int i = inspector->topLevelCount() - 1; i >= 0 && !target; --i)
            target = objectAt(inspector->topLevelObject(i), mouseX, mouseY);
        if (!target) {
            if (input.type == MouseInput::Move)
                return true; // moving over nothing is fine
            inspector->setLastError(QStringLiteral("No object at %1, %2").arg(mouseX).arg(mouseY));
            return false;
        }
        target->globalBounds(&ox, &oy, &w, &h);
        input.x = mouseX - ox;
        input.y = mouseY - oy;
    }
    return inspector->deliverMouseInput(target, input); // input: what it raises may be recorded
}
