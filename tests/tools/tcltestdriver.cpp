// Runs a tcltest file inside the library's own interpreter, with every command registered, and exits
// non-zero when a test failed or the file could not run. CTest runs each .test file through it.
#include "addressbook.h"
#include "application.h"
#include "applications.h"
#include "nativefixtures.h"
#include "tclinterpreter.h"
#include "testresult.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <cstdio>

namespace {

struct DriverRunner : ApplicationRunner {
    QString script;
    QString testScriptPath() const override { return script; }
    QString testCaseName() const override { return QFileInfo(script).completeBaseName(); }
    QString testSuiteName() const override { return QStringLiteral("tcltest"); }
};

// tcltest resets its counters when it prints the summary; keep the failure count before that.
const char prologue[] =
    "package require tcltest 2\n"
    "set ::__tarvin_failed 0\n"
    "rename ::tcltest::cleanupTests ::tcltest::__tarvin_cleanupTests\n"
    "proc ::tcltest::cleanupTests {args} {\n"
    "    incr ::__tarvin_failed $::tcltest::numTests(Failed)\n"
    "    uplevel 1 [list ::tcltest::__tarvin_cleanupTests {*}$args]\n"
    "}\n";

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        fprintf(stderr, "usage: tcltestdriver FILE.test ?tcltest options?\n");
        return 2;
    }
    DriverRunner runner;
    runner.script = QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath();
    QFile file(runner.script);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        fprintf(stderr, "tcltestdriver: cannot read %s\n", argv[1]);
        return 2;
    }
    const QString code = QString::fromUtf8(file.readAll());

    // Script tests drive the demo application, fresh for each file, as the current application context.
    AddressBook::registerApplication();
    QString startError;
    if (runner.startApplication(QStringLiteral("demo_addressbook"), QString(), -1, -1, &startError)->id() < 0) {
        fprintf(stderr, "tcltestdriver: %s\n", qPrintable(startError));
        return 2;
    }

    TestResult result;
    auto interpreter = new TclInterpreter(&runner);
    interpreter->registerTestCommand(&result);
    interpreter->registerApplicationCommands();
    // Beside the framework's own native API, the pieces the native type tests drive.
    NativeFixtures::registerAll(interpreter);
    interpreter->setScriptArguments(runner.script, app.arguments().mid(2));

    int status = 0;
    if (!interpreter->evaluate(QString::fromLatin1(prologue), QString(), false, false) ||
        !interpreter->evaluate(code, runner.script, false, false)) {
        fprintf(stderr, "%s:%d: %s\n", qPrintable(interpreter->errorFile(runner.script)), interpreter->errorLine(),
                qPrintable(interpreter->errorMessage()));
        status = 1;
    } else if (interpreter->evaluate(QStringLiteral("set ::__tarvin_failed"), QString(), false, true) &&
               interpreter->resultMessage() != QLatin1String("0")) {
        status = 1;
    }
    delete interpreter;
    runner.endTestCase();
    InProcessApplications::stopAll();
    return status;
}
