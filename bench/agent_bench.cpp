// A real application through the agent: `property get` of a widget property and `waitForObject` of an
// object that exists, evaluated through Tcl, against a bare request/response round trip over the same
// kind of socket (a local stream socket to another process that sends the bytes back); the start of an
// application up to its first ready object against the same program showing its window without the
// agent; the memory the agent adds to an application holding 10,000 QObjects.
#include "benchscript.h"
#include "ratio.h"

#include "applications.h"
#include "tclhandles.h"
#include "tclinterpreter.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>

#include <algorithm>

#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct BenchRunner : ApplicationRunner {
    QString testScriptPath() const override { return QString(); }
    QString testCaseName() const override { return QStringLiteral("bench"); }
    QString testSuiteName() const override { return QStringLiteral("bench"); }
};

struct Fixture {
    BenchRunner runner;
    TclInterpreter* interpreter = nullptr;
    Tcl_Interp* interp = nullptr;

    Fixture()
    {
        interpreter = new TclInterpreter(&runner);
        interpreter->registerApplicationCommands();
        interp = interpreter->tclInterp();
    }
    bool eval(const QString& script, QString* result = nullptr)
    {
        const int code = Tcl_EvalEx(interp, script.toUtf8().constData(), -1, TCL_EVAL_GLOBAL);
        if (result)
            *result = QString::fromUtf8(Tcl_GetStringResult(interp));
        if (code != TCL_OK)
            fprintf(stderr, "agent_bench: %s: %s\n", qPrintable(script), Tcl_GetStringResult(interp));
        return code == TCL_OK;
    }
};

Fixture& fixture()
{
    static Fixture* f = new Fixture;
    return *f;
}

bool readAll(int fd, char* p, size_t n)
{
    while (n > 0) {
        const ssize_t got = read(fd, p, n);
        if (got <= 0)
            return false;
        p += got;
        n -= size_t(got);
    }
    return true;
}

// The baseline: a message of the size of a property request out and back through another process.
void BM_BareRoundTrip(benchmark::State& state)
{
    int fds[2];
    socketpair(AF_UNIX, SOCK_STREAM, 0, fds);
    const pid_t echo = fork();
    if (echo == 0) {
        close(fds[0]);
        char buffer[256];
        while (readAll(fds[1], buffer, 80))
            if (write(fds[1], buffer, 80) != 80)
                break;
        _exit(0);
    }
    close(fds[1]);
    char message[80] = "{\"id\":1,\"op\":\"get\",\"object\":\"12\",\"property\":\"text\"}";
    char answer[80];
    for (auto _ : state) {
        if (write(fds[0], message, sizeof(message)) != sizeof(message) || !readAll(fds[0], answer, sizeof(answer)))
            state.SkipWithError("the echo process went away");
    }
    close(fds[0]);
    waitpid(echo, nullptr, 0);
}
BENCHMARK(BM_BareRoundTrip);

void runScript(benchmark::State& state, const char* script)
{
    runTclScript(state, fixture().interp, script);
}

void BM_PropertyGet(benchmark::State& state)
{
    runScript(state, "property get $::edit text");
}
BENCHMARK(BM_PropertyGet);

void BM_WaitForObjectThatExists(benchmark::State& state)
{
    runScript(state, "waitForObject {type QLineEdit name lineEdit}");
}
BENCHMARK(BM_WaitForObjectThatExists);

qint64 residentKiB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).simplified().split(' ').value(0).toLongLong();
    return -1;
}

// The program on its own, until it says its window shows; its resident memory then.
double bareStart(const QStringList& arguments, qint64* kib = nullptr)
{
    QElapsedTimer timer;
    timer.start();
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(WIDGETSAPP), arguments + QStringList{QStringLiteral("--report-shown")});
    while (!process.readAllStandardOutput().contains("shown") && process.waitForReadyRead(10000)) {
    }
    const double ms = timer.nsecsElapsed() / 1e6;
    if (kib)
        *kib = residentKiB(process.processId());
    process.kill();
    process.waitForFinished();
    return ms;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    Fixture& f = fixture();
    if (!f.eval(QStringLiteral("startApplication %1; set ::edit [waitForObject {name lineEdit}]")
                    .arg(QStringLiteral(WIDGETSAPP))))
        return 1;
    bool ok = tarvinbench::reportRatios(argc, argv, "BM_BareRoundTrip",
                                        {{"BM_PropertyGet", 5.0}, {"BM_WaitForObjectThatExists", 3.0}});
    f.runner.endTestCase();

    // Start-up, taken turn about: the program alone against start, agent and the first ready object.
    std::vector<double> bare, driven;
    for (int i = 0; i < 15; ++i) {
        bare.push_back(bareStart(QStringList()));
        QElapsedTimer timer;
        timer.start();
        if (!f.eval(QStringLiteral("startApplication %1; waitForObject {name mainWindow}").arg(QStringLiteral(WIDGETSAPP))))
            return 1;
        driven.push_back(timer.nsecsElapsed() / 1e6);
        f.runner.endTestCase();
    }
    const double startRatio = median(driven) / median(bare);
    printf("start-up to the first ready object: %.1f ms against %.1f ms alone = %.2f (target <= 1.30) %s\n",
           median(driven), median(bare), startRatio, startRatio <= 1.3 ? "met" : "MISSED");
    ok = ok && startRatio <= 1.3;

    // Memory: every one of 10,000 QObjects handed to the runner (the most the agent ever keeps).
    qint64 alone = 0;
    bareStart({QStringLiteral("--objects"), QStringLiteral("10000")}, &alone);
    QString pid;
    if (!f.eval(QStringLiteral("set app [startApplication {%1 --objects 10000}]; waitForObject {name mainWindow};"
                               "llength [findAllObjects {type QObject}]")
                    .arg(QStringLiteral(WIDGETSAPP))) ||
        !f.eval(QStringLiteral("applicationContext $app pid"), &pid))
        return 1;
    const qint64 withAgent = residentKiB(pid.toLongLong());
    f.runner.endTestCase();
    const double addedMiB = (withAgent - alone) / 1024.0;
    printf("memory the agent adds to 10,000 QObjects, all handed out: %.1f MiB (%lld KiB against %lld KiB) "
           "(target < 10) %s\n", addedMiB, withAgent, alone, addedMiB < 10 ? "met" : "MISSED");
    ok = ok && addedMiB < 10;
    return ok ? 0 : 1;
}
