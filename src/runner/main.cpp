// tarvinrunner: runs Tcl test scripts, test case directories and suites through the Tcl back end.
#include "isolation.h"
#include "junit.h"
#include "recording.h"
#include "settings.h"
#include "testdatadump.h"
#include "testrunner.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QSet>
#include <QTextStream>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <unistd.h>

namespace {

const char usage[] =
    "Usage: tarvinrunner [options] PATH...\n"
    "       tarvinrunner --show-data FILE [--sheet NAME]\n"
    "\n"
    "Runs Tcl test scripts. Each PATH is a test script, a feature file, a test case directory\n"
    "(holding test.tcl, or test.feature with its step definitions in steps/) or a suite directory\n"
    "(holding test case directories named tst_*).\n"
    "\n"
    "Each test case runs in a fresh interpreter, in a process of its own and in its own directory (the\n"
    "test script's): the script is evaluated (defining its procedures), then its procedures init (when\n"
    "defined), main and cleanup (when defined) are called in that order. Results are printed as they\n"
    "happen (PASS, FAIL, WARNING, ERROR, SKIPPED ... with FILE:LINE and the message); a script error is\n"
    "printed as FILE:LINE: message, followed by the call stack. A summary closes each test case and the\n"
    "run. Whatever a test case does (a crash, exit, running too long) ends that test case only: it is\n"
    "reported as its error, at the last line it reached, and the run goes on. A skip or a failure that\n"
    "ends the test case (--abort-on-fail) in init ends it there: main does not run; cleanup always runs.\n"
    "\n"
    "Options:\n"
    "  --junit FILE       Also write the results as JUnit XML to FILE.\n"
    "  --results DIR      Keep attachments (test attachFile) in DIR/<suite>/<test case>.\n"
    "  --abort-on-fail    End a test case at its first failed verification.\n"
    "  --timeout MS       How long waitForObject and its kin wait by default (default: 20000).\n"
    "  --test-timeout SECONDS\n"
    "                     End a test case that runs longer than SECONDS in all (default: 0, no limit), as\n"
    "                     an error at the line where it stood; its cleanup still runs, for 5 seconds at\n"
    "                     most. A suite's suite.ini ([Runner] TestTimeout = \"SECONDS\") and a script's\n"
    "                     setTestTimeout SECONDS replace it for their test cases.\n"
    "  --exit-zero-passes A script's exit 0 ends its test case without an error (any exit ends the test\n"
    "                     case only; without this option it is an error).\n"
    "  --in-process       Run the test cases in the runner's own process, one after the other (for a\n"
    "                     debugger): a crash or a hang in one then ends the run.\n"
    "  --show-data FILE   Print a test data file (.tsv, .csv, .txt, .xlsx, .xls) as scripts get it: the field\n"
    "                     names, then one line per record, fields separated by a tab, with \\\\, \\t, \\r and\n"
    "                     \\n standing for a backslash, tab, carriage return and line feed inside a field.\n"
    "  --sheet NAME       With --show-data: the workbook sheet to print (default: the first).\n"
    "  --record FILE      Record the test case (exactly one) into FILE, a Tcl test script: every event the\n"
    "                     application handles in answer to input (sendEvent, mousePress/mouseRelease...)\n"
    "                     becomes a sendEvent statement after a waitForObject on its object, inside a main\n"
    "                     that starts the first application. In a suite with shared/scripts/names.tcl the\n"
    "                     objects are named by that object map, and entries for new objects are added to it;\n"
    "                     the script then loads it with findFile, so put it in a test case of that suite.\n"
    "                     Elsewhere objects are named by their real names.\n"
    "  --check            Check the syntax of the scripts without running them; prints\n"
    "                     FILE:LINE:COLUMN: message for each error (a missing bracket, brace or quote at\n"
    "                     the one left open). A directory PATH checks every .tcl file below it.\n"
    "  --library FILE     The Tcl back end to load (default: ../lib/libtarvintcl.so beside this program).\n"
    "  --no-color         Plain output even on a terminal (also when NO_COLOR is set).\n"
    "  --verbose          Also print the debug messages of the library.\n"
    "  -h, --help         Show this help and exit.\n"
    "  --version          Show the version and exit.\n"
    "\n"
    "Environment:\n"
    "  TARVIN_PREFIX      The installation prefix: settings are read from $TARVIN_PREFIX/etc/paths.ini\n"
    "                     (Scripting/TclLibrary names the Tcl library), Tcl packages from\n"
    "                     $TARVIN_PREFIX/lib/tcl. When unset, the directory above this program's is used.\n"
    "  NO_COLOR           When set, output is never coloured.\n"
    "  QT_QPA_PLATFORM    The Qt platform of the applications started (default: offscreen, no display;\n"
    "                     xcb shows them on $DISPLAY).\n"
    "  TARVIN_AGENT_LIBRARY  The agent loaded into Qt applications (default: ../lib/libtarvinagent.so\n"
    "                     beside this program).\n"
    "  TARVIN_AGENT_SECRET   What attachToApplication presents to an agent serving TCP.\n"
    "\n"
    "Signals:\n"
    "  SIGINT and SIGTERM end the running test case as interrupted (its cleanup still runs, for 5 seconds\n"
    "  at most), start no further one and write the reports of what ran; a second signal kills the\n"
    "  running test case at once.\n"
    "\n"
    "Exit status:\n"
    "  0    every test case passed or was skipped (or, with --check, every script is well formed)\n"
    "  1    a test case failed or had an error (or a script has a syntax error, or --show-data cannot\n"
    "       read the file)\n"
    "  2    usage or set-up error: bad options, a PATH that is no test, the library cannot be loaded,\n"
    "       Tcl cannot be initialised, a report cannot be written\n"
    "  130  interrupted by SIGINT; 143: by SIGTERM\n";

bool verbose = false;

void messageHandler(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    // A warning is given once per run: test cases run in processes forked from this one, which
    // inherit what was said before they started (the settings are read here first).
    static QSet<QString> warned;
    if ((type == QtWarningMsg || type == QtCriticalMsg)) {
        if (warned.contains(message))
            return;
        warned.insert(message);
    }
    const QByteArray text = message.toLocal8Bit();
    switch (type) {
    case QtDebugMsg:
    case QtInfoMsg:
        if (verbose)
            fprintf(stderr, "tarvinrunner: %s\n", text.constData());
        break;
    case QtWarningMsg:
    case QtCriticalMsg:
        fprintf(stderr, "tarvinrunner: warning: %s\n", text.constData());
        break;
    case QtFatalMsg:
        // The only fatal message comes from a Tcl that cannot initialise: a set-up error, not a crash.
        fprintf(stderr,
                "tarvinrunner: cannot initialise Tcl: %s\n"
                "tarvinrunner: check Scripting/TclLibrary in %s/etc/paths.ini (TCL_LIBRARY is '%s')\n",
                text.constData(), qgetenv("TARVIN_PREFIX").constData(), qgetenv("TCL_LIBRARY").constData());
        fflush(stdout);
        _exit(2);
    }
}

int usageError(const QString& message)
{
    fprintf(stderr, "tarvinrunner: %s\nTry 'tarvinrunner --help' for more information.\n", qPrintable(message));
    return 2;
}

// TARVIN_PREFIX defaults to the installation this program belongs to (bin/ is one level down).
void defaultInstallationPrefix()
{
    if (qEnvironmentVariableIsSet("TARVIN_PREFIX")) {
        const QString prefix = qEnvironmentVariable("TARVIN_PREFIX");
        if (!QFileInfo(prefix).isDir())
            fprintf(stderr,
                    "tarvinrunner: warning: TARVIN_PREFIX names %s, which is not a directory; "
                    "Tcl is looked for in its default places\n",
                    qPrintable(prefix.isEmpty() ? QStringLiteral("nothing") : prefix));
        return;
    }
    const QString prefix = QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/.."));
    if (!QFileInfo::exists(prefix + QStringLiteral("/etc/paths.ini")))
        fprintf(stderr,
                "tarvinrunner: warning: TARVIN_PREFIX is not set and %s/etc/paths.ini does not exist; "
                "Tcl is looked for in its default places\n",
                qPrintable(prefix));
    qputenv("TARVIN_PREFIX", QFile::encodeName(prefix));
}

QStringList tclFilesBelow(const QString& path)
{
    if (QFileInfo(path).isFile())
        return QStringList() << path;
    QStringList files;
    QDirIterator it(path, QStringList() << QStringLiteral("*.tcl"), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    files.sort();
    return files;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler(messageHandler);

    QStringList paths;
    QString library;
    QString junitPath;
    QString recordPath;
    QString showData, sheet;
    bool sheetGiven = false;
    RunnerOptions options;
    bool check = false;
    bool inProcess = false;
    bool colour = isatty(STDOUT_FILENO) && !qEnvironmentVariableIsSet("NO_COLOR");
    const QStringList args = app.arguments().mid(1);
    for (int i = 0; i < args.size(); ++i) {
        const QString& arg = args.at(i);
        if (arg == QLatin1String("-h") || arg == QLatin1String("--help")) {
            fputs(usage, stdout);
            return 0;
        } else if (arg == QLatin1String("--version")) {
            printf("tarvinrunner %s\n", TARVIN_VERSION);
            return 0;
        } else if (arg == QLatin1String("--check")) {
            check = true;
        } else if (arg == QLatin1String("--no-color")) {
            colour = false;
        } else if (arg == QLatin1String("--verbose")) {
            verbose = true;
        } else if (arg == QLatin1String("--junit") || arg == QLatin1String("--results")) {
            if (++i == args.size())
                return usageError(QStringLiteral("%1 needs a %2").arg(arg, arg == "--junit" ? "file name" : "directory"));
            (arg == QLatin1String("--junit") ? junitPath : options.resultsDirectory) = args.at(i);
        } else if (arg == QLatin1String("--show-data") || arg == QLatin1String("--sheet")) {
            if (++i == args.size())
                return usageError(QStringLiteral("%1 needs a %2").arg(arg, arg == "--sheet" ? "sheet name" : "file name"));
            (arg == QLatin1String("--sheet") ? sheet : showData) = args.at(i);
            sheetGiven = sheetGiven || arg == QLatin1String("--sheet");
        } else if (arg == QLatin1String("--test-timeout")) {
            bool ok = false;
            if (++i < args.size())
                options.testTimeout = args.at(i).toInt(&ok);
            if (!ok || options.testTimeout < 0)
                return usageError(QStringLiteral("--test-timeout needs a whole number of seconds (0: no limit)"));
        } else if (arg == QLatin1String("--exit-zero-passes")) {
            options.exitZeroPasses = true;
        } else if (arg == QLatin1String("--in-process")) {
            inProcess = true;
        } else if (arg == QLatin1String("--abort-on-fail")) {
            options.abortOnFailure = true;
        } else if (arg == QLatin1String("--timeout")) {
            bool ok = false;
            if (++i < args.size())
                options.objectTimeout = args.at(i).toInt(&ok);
            if (!ok || options.objectTimeout < 0)
                return usageError(QStringLiteral("--timeout needs a number of milliseconds"));
        } else if (arg == QLatin1String("--record")) {
            if (++i == args.size())
                return usageError(QStringLiteral("--record needs a file name"));
            recordPath = args.at(i);
        } else if (arg == QLatin1String("--library")) {
            if (++i == args.size())
                return usageError(QStringLiteral("--library needs a file name"));
            library = args.at(i);
        } else if (arg == QLatin1String("--")) {
            paths += args.mid(i + 1);
            break;
        } else if (arg.startsWith(QLatin1Char('-'))) {
            return usageError(QStringLiteral("unknown option '%1'").arg(arg));
        } else {
            paths << arg;
        }
    }
    if (!showData.isEmpty()) {
        if (!paths.isEmpty())
            return usageError(QStringLiteral("--show-data takes no test paths"));
        QTextStream out(stdout);
        out.setCodec("UTF-8");
        QString error;
        if (Tarvin::printTestData(showData, sheet, out, &error))
            return 0;
        out.flush();
        fprintf(stderr, "%s%s\n", error.startsWith(QLatin1String("tarvinrunner: ")) ? "" : "tarvinrunner: ",
                qUtf8Printable(error));
        return 1;
    }
    if (sheetGiven)
        return usageError(QStringLiteral("--sheet goes with --show-data"));
    if (paths.isEmpty())
        return usageError(QStringLiteral("no test given"));

    defaultInstallationPrefix();
    // The settings are read here once: what is wrong with them is said once, not by every test case.
    Tarvin::Settings(1);
    // Test cases run in their own directories.
    if (!options.resultsDirectory.isEmpty())
        options.resultsDirectory = QFileInfo(options.resultsDirectory).absoluteFilePath();
    if (library.isEmpty())
        library = QCoreApplication::applicationDirPath() + QStringLiteral("/../lib/libtarvintcl.so");

    QList<TestCase> cases;
    QStringList scripts;
    for (const QString& path : paths) {
        QString error;
        if (check) {
            if (!QFileInfo::exists(path))
                return usageError(QStringLiteral("%1: no such file or directory").arg(path));
            scripts += tclFilesBelow(path);
        } else if (!collectTestCases(path, &cases, &error)) {
            return usageError(error);
        }
    }

    if (!recordPath.isEmpty()) {
        if (check)
            return usageError(QStringLiteral("--record runs a test case; it does not go with --check"));
        if (cases.size() != 1)
            return usageError(QStringLiteral("--record records one test case; the paths given hold %1").arg(cases.size()));
        if (!QFileInfo(recordPath).absoluteDir().exists())
            return usageError(QStringLiteral("--record %1: the directory %2 does not exist")
                                  .arg(recordPath, QFileInfo(recordPath).absolutePath()));
    }

    QString error;
    CreateInterpreterFunction factory = loadInterpreterFactory(library, &error);
    if (!factory) {
        fprintf(stderr, "tarvinrunner: %s\n", qPrintable(error));
        return 2;
    }

    QTextStream out(stdout);
    Output output(out, colour);
    TestRunner runner(factory, output, options);
    runner.setObjectMapFactory(loadScriptedObjectMapFactory(library));
    std::unique_ptr<Recording> recording;
    if (!recordPath.isEmpty()) {
        CreateEventRecorderFunction recorderFactory = loadEventRecorderFactory(library);
        if (!recorderFactory) {
            fprintf(stderr, "tarvinrunner: %s has no createEventRecorder function\n", qPrintable(library));
            return 2;
        }
        recording.reset(new Recording(recorderFactory, QFileInfo(recordPath).absoluteFilePath()));
        runner.setRecording(recording.get());
    }
    if (check)
        return runner.check(scripts) ? 0 : 1;

    std::unique_ptr<IsolatedRunner> isolated;
    if (inProcess) {
        installInProcessSignalHandlers();
    } else {
        isolated.reset(new IsolatedRunner(runner));
        IsolatedRunner::installSignalHandlers();
    }
    auto interruptedBy = [&]() { return inProcess ? inProcessInterruptedBy() : IsolatedRunner::interruptedBy(); };

    int passed = 0, failed = 0, skipped = 0, notRun = 0;
    JUnitReport junit;
    for (const TestCase& testCase : cases) {
        if (interruptedBy()) {
            ++notRun;
            continue;
        }
        switch (isolated ? isolated->run(testCase) : runner.run(testCase)) {
        case TestRunner::Passed:
            ++passed;
            break;
        case TestRunner::Failed:
            ++failed;
            break;
        case TestRunner::Skipped:
            ++skipped;
            break;
        }
        junit.addTestCase(testCase.suite, testCase.name, testCase.script,
                          isolated ? isolated->lastSeconds() : runner.lastSeconds(),
                          isolated ? isolated->lastResult() : runner.lastResult());
    }
    if (isolated)
        isolated->finish();
    const int signal = interruptedBy();
    if (signal)
        out << output.paint(QStringLiteral("Interrupted by %1; %2 test cases not run")
                                .arg(QLatin1String(signal == SIGINT ? "SIGINT" : "SIGTERM"))
                                .arg(notRun),
                            Output::Red)
            << Qt::endl;
    out << "Summary: " << output.paint(QStringLiteral("%1 passed").arg(passed), passed ? Output::Green : Output::Plain)
        << ", " << output.paint(QStringLiteral("%1 failed").arg(failed), failed ? Output::Red : Output::Plain);
    if (skipped)
        out << ", " << output.paint(QStringLiteral("%1 skipped").arg(skipped), Output::Yellow);
    out << Qt::endl;
    if (!junitPath.isEmpty() && !junit.write(junitPath, &error)) {
        fprintf(stderr, "tarvinrunner: %s\n", qPrintable(error));
        return signal ? 128 + signal : 2;
    }
    if (signal)
        return 128 + signal;
    return failed ? 1 : 0;
}
