// tarvinrunner: runs Tcl test scripts, test case directories and suites through the Tcl back end.
#include "bddresults.h"
#include "cucumberjson.h"
#include "dapserver.h"
#include "debugsession.h"
#include "debugterminal.h"
#include "gherkin.h"
#include "htmlreport.h"
#include "isolation.h"
#include "junit.h"
#include "reports.h"
#include "recording.h"
#include "settings.h"
#include "sharding.h"
#include "testdatadump.h"
#include "testrunner.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QHash>
#include <QProcessEnvironment>
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
    "       tarvinrunner --dap [--dap-port PORT] [options]\n"
    "       tarvinrunner --show-data FILE [--sheet NAME]\n"
    "       tarvinrunner --merge-junit OUT.xml IN.xml...\n"
    "\n"
    "Runs Tcl test scripts. Each PATH is a test script, a feature file, a test case directory\n"
    "(holding test.tcl, or test.feature with its step definitions in steps/) or a suite directory\n"
    "(holding test case directories named tst_*).\n"
    "\n"
    "Each test case runs in a fresh interpreter, in a process of its own and in its own directory (the\n"
    "test script's): the script is evaluated (defining its procedures), then its procedures init (when\n"
    "defined), main and cleanup (when defined) are called in that order. Results are printed as they\n"
    "happen (PASS, FAIL, WARNING, ERROR, SKIPPED ... with FILE:LINE and the message); a script error is\n"
    "printed as FILE:LINE: message, followed by the call stack; so is an error in a callback of the\n"
    "event loop (an after script), which tclsh only prints, and the script goes on (unless it handles\n"
    "such errors itself: bgerror). A summary closes each test case and the run. Whatever a test case\n"
    "does (a crash, exit, running too long) ends that test case only: it is reported as its error, at\n"
    "the last line it reached, and the run goes on. A skip or a failure that ends the test case\n"
    "(--abort-on-fail) in init ends it there: main does not run; cleanup always runs.\n"
    "\n"
    "Options:\n"
    "  --junit FILE       Also write the results as JUnit XML to FILE (a feature file's scenarios are\n"
    "                     testcases of their own, named \"feature: scenario\").\n"
    "  --format cucumber-json FILE\n"
    "                     Also write the scenarios of feature files as Cucumber's JSON report to FILE.\n"
    "  --html FILE        Also write the results as one HTML page to FILE (screenshots and attachments\n"
    "                     are linked by paths relative to it).\n"
    "  --results DIR      Keep attachments (test attachFile, test attachDesktopScreenshot) and the\n"
    "                     screenshots of failures in DIR/<suite>/<test case>. Default with --html or\n"
    "                     --junit: REPORT-results beside the report (the HTML one first), REPORT being its\n"
    "                     file name without the extension. Without any of them failures take no\n"
    "                     screenshots and attached files stay where they are.\n"
    "  --no-screenshots   Take no screenshot of the application at failed verifications and errors\n"
    "                     (by default the first 10 of a test case are saved with its attachments).\n"
    "  --abort-on-fail    End a test case at its first failed verification.\n"
    "  --tags EXPRESSION  Feature files: run only the scenarios whose tags (with those of their feature,\n"
    "                     rule and examples) satisfy EXPRESSION: tags, not, and, or and parentheses, as in\n"
    "                     '@smoke and not (@slow or @wip)'. Scenarios left out are not reported.\n"
    "  --dry-run          Feature files: parse them and match every step against the step definitions\n"
    "                     without running steps or hooks (no application starts); undefined and\n"
    "                     ambiguous steps are errors. Test cases that are Tcl scripts are skipped.\n"
    "  --timeout MS       How long waitForObject and its kin wait by default (default: 20000).\n"
    "  --test-timeout SECONDS\n"
    "                     End a test case that runs longer than SECONDS in all (default: 0, no limit), as\n"
    "                     an error at the line where it stood; its cleanup still runs, for 5 seconds at\n"
    "                     most. A suite's suite.ini ([Runner] TestTimeout = \"SECONDS\") and a script's\n"
    "                     setTestTimeout SECONDS replace it for their test cases.\n"
    "  --exit-zero-passes A script's exit 0 ends its test case without an error (any exit ends the test\n"
    "                     case only; without this option it is an error).\n"
    "  --jobs N           Run up to N test cases at once (default: 1), each in its own process with its own\n"
    "                     applications, offscreen. Each test case's output is printed as one block when it\n"
    "                     and those before it ended, in the suite's order; the reports are those of a run\n"
    "                     one after the other.\n"
    "  --shard K/N        Run only the K-th of N parts of the test cases given (K from 1 to N), for the\n"
    "                     parallel jobs of a CI system. The parts depend on the test cases (and on\n"
    "                     --durations) alone, so the N jobs together run each test case exactly once.\n"
    "                     Without --shard the part comes from CI_NODE_INDEX/CI_NODE_TOTAL (GitLab,\n"
    "                     1-based), BUILDKITE_PARALLEL_JOB/BUILDKITE_PARALLEL_JOB_COUNT (0-based) or\n"
    "                     JOB_COMPLETION_INDEX (Kubernetes Indexed Job, 0-based) with --shard-count N.\n"
    "  --shard-count N    The number of parts in a Kubernetes Indexed Job (its completions).\n"
    "  --durations FILE   Balance the parts by the test cases' times in FILE, the JUnit report of an\n"
    "                     earlier run (longest first onto the least loaded part; unknown ones count as the\n"
    "                     average). Every part must be given the same file. Without it, by count.\n"
    "  --rerun-failed FILE\n"
    "                     Run only the test cases that failed or had an error in FILE, a JUnit report:\n"
    "                     those of the PATHs given, or without PATH the test scripts FILE names.\n"
    "  --merge-junit OUT  Merge the JUnit reports given in place of PATHs into OUT (one testsuite per\n"
    "                     suite; a test case in several reports is kept from the last) and exit.\n"
    "  --in-process       Run the test cases in the runner's own process, one after the other (for a\n"
    "                     debugger): a crash or a hang in one then ends the run.\n"
    "  --dap              Serve the Debug Adapter Protocol on standard input and output, for an editor's\n"
    "                     debugger. The client's launch request names the PATH (program) and further\n"
    "                     options (args), which come after those given here; the test cases run in this\n"
    "                     process (as with --in-process, not with --jobs), and whatever they print reaches\n"
    "                     the client as output events. See docs/debugging.md.\n"
    "  --dap-port PORT    With --dap: serve one client on 127.0.0.1:PORT instead of standard input and\n"
    "                     output (0: a free port); the port is printed on stderr.\n"
    "  --debug            Debug the test cases in this terminal (implies --in-process; not with --jobs).\n"
    "                     Each test case stops before its first line, or with --break runs to the first\n"
    "                     breakpoint; it also stops at `test breakpoint` and, post-mortem, where an error\n"
    "                     that no script catches was raised. At each stop FILE:LINE and the line are\n"
    "                     printed and commands are read: continue (c), step (s), next (n), finish,\n"
    "                     backtrace (bt), frame N, up, down, print VAR (p), eval SCRIPT, locals, globals,\n"
    "                     break FILE:LINE [if COND] (b), clear, info breakpoints, list, help, quit (q).\n"
    "                     Ctrl-C while the script runs pauses it. Results and reports are those of a\n"
    "                     normal run. At the end of the input the run goes on without stopping.\n"
    "  --break FILE:LINE  With --debug: stop at LINE of FILE (relative to the current directory, or the\n"
    "                     end of a loaded file's path, e.g. shared/scripts/util.tcl:12). Repeatable.\n"
    "  --show-data FILE   Print a test data file (.tsv, .csv, .txt, .xlsx, .xls) as scripts get it: the field\n"
    "                     names, then one line per record, fields separated by a tab, with \\\\, \\t, \\r and\n"
    "                     \\n standing for a backslash, tab, carriage return and line feed inside a field.\n"
    "  --sheet NAME       With --show-data: the workbook sheet to print (default: the first).\n"
    "  --record FILE      Record the test case (exactly one) into FILE, a Tcl test script. The input a real\n"
    "                     application receives (a person's, when it runs on a display, e.g. with\n"
    "                     QT_QPA_PLATFORM=xcb, or the script's own) becomes mouseClick, doubleClick, typeText\n"
    "                     and keyClick steps, other events sendEvent statements; for the in-process demo every\n"
    "                     event it handles in answer to input becomes a sendEvent after a waitForObject. The\n"
    "                     script's main starts the first application. In a suite with shared/scripts/names.tcl\n"
    "                     the objects are named by that object map, and entries for new objects are added to\n"
    "                     it; the script then loads it with findFile, so put it in a test case of that suite.\n"
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
    "                     $TARVIN_PREFIX/lib/tcl (a link to share/tarvintcl/tcl in an installation).\n"
    "                     When unset, the directory above this program's is used.\n"
    "  NO_COLOR           When set, output is never coloured.\n"
    "  CI_NODE_INDEX, CI_NODE_TOTAL, BUILDKITE_PARALLEL_JOB, BUILDKITE_PARALLEL_JOB_COUNT,\n"
    "  JOB_COMPLETION_INDEX  The part of a sharded run (see --shard).\n"
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
    "       Tcl cannot be initialised, a report cannot be read or written\n"
    "  130  interrupted by SIGINT; 143: by SIGTERM\n";

bool verbose = false;

// The step definitions proposed for undefined steps (their results' detail), each once.
void collectSnippets(const TestResult& result, QStringList* snippets)
{
    for (const TestResult::Entry& entry : result.entries())
        if (entry.type == TestResult::Error && entry.message.startsWith(QLatin1String("Undefined step: ")) &&
            !entry.detail.isEmpty() && !snippets->contains(entry.detail))
            snippets->append(entry.detail);
}

void printSnippets(QTextStream& out, const QStringList& snippets)
{
    if (snippets.isEmpty())
        return;
    out << "\nUndefined steps can be defined with these step definitions (in steps/*.tcl):\n\n";
    for (const QString& snippet : snippets)
        out << snippet << "\n\n";
    out.flush();
}

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

// The last usage error: a launch request that cannot run is answered with it.
QString lastUsageError;
// Under --debug, SIGINT pauses the script at its next line; SIGTERM ends the run as usual.
DebugSession* pausedSession = nullptr;

void debugSignal(int)
{
    if (pausedSession)
        pausedSession->requestPause();
}

void installDebugSignalHandlers(DebugSession* session)
{
    installInProcessSignalHandlers();
    pausedSession = session;
    struct sigaction action = {};
    action.sa_handler = debugSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
}

int usageError(const QString& message)
{
    lastUsageError = message;
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

// --rerun-failed: keeps the test cases that failed or had an error in the report; without PATHs, the
// test cases are those the report names.
bool selectFailed(const QString& report, bool fromReport, QList<TestCase>* cases, QString* error)
{
    QList<ReportedTestCase> reported;
    if (!readJUnitReport(report, &reported, error))
        return false;
    QSet<QString> failed;
    for (const ReportedTestCase& r : reported) {
        if (r.outcome != ReportedTestCase::Failed && r.outcome != ReportedTestCase::Errored)
            continue;
        failed << r.className;
        if (!fromReport)
            continue;
        if (r.file.isEmpty() || !QFileInfo::exists(r.file)) {
            *error = QStringLiteral("%1 failed in %2, but its test script %3 does not exist here; give the suite's "
                                    "PATH to run it from here")
                         .arg(r.className, report, r.file.isEmpty() ? QStringLiteral("(not named)") : r.file);
            return false;
        }
        if (!collectTestCases(r.file, cases, error))
            return false;
    }
    QList<TestCase> kept;
    for (const TestCase& testCase : *cases)
        if (failed.contains(JUnitReport::className(testCase.suite, testCase.name)))
            kept << testCase;
    printf("Rerunning %d test cases that failed or had an error in %s\n", int(kept.size()), qPrintable(report));
    *cases = kept;
    return true;
}

// --shard and the CI's variables: keeps this job's part of the test cases and says which it is.
bool selectShard(const Shard& shard, const QString& source, const QString& durations, QList<TestCase>* cases,
                 QString* error)
{
    QList<double> weights;
    if (durations.isEmpty()) {
        for (int i = 0; i < cases->size(); ++i)
            weights << 1.0;
    } else {
        QList<ReportedTestCase> reported;
        if (!readJUnitReport(durations, &reported, error))
            return false;
        QHash<QString, double> seconds;
        for (const ReportedTestCase& r : reported)
            seconds.insert(r.className, r.seconds);
        for (const TestCase& testCase : *cases)
            weights << seconds.value(JUnitReport::className(testCase.suite, testCase.name), -1.0);
    }
    const QList<int> part = partition(weights, shard.total).value(shard.index);
    QList<TestCase> kept;
    for (int index : part)
        kept << cases->at(index);
    printf("Part %d of %d%s: %d of %d test cases%s\n", shard.index + 1, shard.total,
           source.isEmpty() ? "" : qPrintable(QStringLiteral(" (%1)").arg(source)), int(kept.size()),
           int(cases->size()),
           durations.isEmpty() ? ", split by count" : qPrintable(QStringLiteral(", balanced by the times in %1").arg(durations)));
    *cases = kept;
    return true;
}

} // namespace

// Parses the options and runs the tests; with a DAP server, as the launch of a debugging session.
int runRunner(const QStringList& args, DapServer* dap)
{
    QStringList paths;
    QString library;
    QString junitPath;
    QString htmlPath;
    QString cucumberJsonPath;
    QString recordPath;
    QString showData, sheet;
    bool sheetGiven = false;
    RunnerOptions options;
    bool check = false;
    bool inProcess = false;
    bool debug = false;
    QStringList breaks;
    int jobs = 1;
    QString shardSource; // the CI variables the part came from
    Shard shard;
    bool shardGiven = false;
    int shardCount = 0;
    QString durationsPath, rerunPath, mergePath;
    bool colour = isatty(STDOUT_FILENO) && !qEnvironmentVariableIsSet("NO_COLOR");
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
        } else if (arg == QLatin1String("--html")) {
            if (++i == args.size())
                return usageError(QStringLiteral("--html needs a file name"));
            htmlPath = args.at(i);
        } else if (arg == QLatin1String("--no-screenshots")) {
            options.screenshotsOnFailure = false;
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
        } else if (arg == QLatin1String("--jobs") || arg == QLatin1String("--shard-count")) {
            bool ok = false;
            const int value = ++i < args.size() ? args.at(i).toInt(&ok) : 0;
            const int most = arg == QLatin1String("--jobs") ? IsolatedRunner::maxJobs : 999999;
            if (!ok || value < 1 || value > most)
                return usageError(QStringLiteral("%1 needs a whole number from 1 to %2").arg(arg).arg(most));
            (arg == QLatin1String("--jobs") ? jobs : shardCount) = value;
        } else if (arg == QLatin1String("--shard")) {
            QString error;
            if (!parseShard(++i < args.size() ? args.at(i) : QString(), &shard, &error))
                return usageError(error);
            shardGiven = true;
        } else if (arg == QLatin1String("--durations") || arg == QLatin1String("--rerun-failed") ||
                   arg == QLatin1String("--merge-junit")) {
            if (++i == args.size())
                return usageError(QStringLiteral("%1 needs a file name").arg(arg));
            (arg == QLatin1String("--durations") ? durationsPath
             : arg == QLatin1String("--rerun-failed") ? rerunPath
                                                      : mergePath) = args.at(i);
        } else if (arg == QLatin1String("--in-process")) {
            inProcess = true;
        } else if (arg == QLatin1String("--debug")) {
            debug = true;
        } else if (arg == QLatin1String("--break")) {
            if (++i == args.size())
                return usageError(QStringLiteral("--break needs FILE:LINE"));
            breaks << args.at(i);
        } else if (arg == QLatin1String("--abort-on-fail")) {
            options.abortOnFailure = true;
        } else if (arg == QLatin1String("--format")) {
            if (i + 2 >= args.size() || args.at(i + 1) != QLatin1String("cucumber-json"))
                return usageError(QStringLiteral("--format needs a format, cucumber-json, and a file name"));
            cucumberJsonPath = args.at(i + 2);
            i += 2;
        } else if (arg == QLatin1String("--dry-run")) {
            options.dryRun = true;
        } else if (arg == QLatin1String("--tags")) {
            if (++i == args.size())
                return usageError(QStringLiteral("--tags needs a tag expression such as '@smoke and not @slow'"));
            Gherkin::TagExpression expression;
            QString problem;
            if (!Gherkin::TagExpression::parse(args.at(i).toUtf8(), &expression, &problem))
                return usageError(QStringLiteral("--tags: %1").arg(problem));
            options.tagExpression = args.at(i).toUtf8();
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
        } else if (arg == QLatin1String("--dap") || arg == QLatin1String("--dap-port")) {
            return usageError(QStringLiteral("%1 goes on the command line, not in a launch request's args").arg(arg));
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
    if (!mergePath.isEmpty()) {
        if (paths.isEmpty())
            return usageError(QStringLiteral("--merge-junit needs the reports to merge after the output file"));
        QStringList notes;
        QString error;
        const bool merged = mergeJUnitReports(paths, mergePath, &notes, &error);
        for (const QString& note : notes)
            fprintf(stderr, "tarvinrunner: note: %s\n", qPrintable(note));
        if (!merged) {
            fprintf(stderr, "tarvinrunner: %s\n", qPrintable(error));
            return 2;
        }
        printf("Merged %d reports into %s\n", int(paths.size()), qPrintable(mergePath));
        return 0;
    }
    if (dap) {
        if (jobs > 1)
            return usageError(QStringLiteral("--dap debugs test cases in the runner's own process; it does not go with --jobs"));
        const char* other = check ? "--check" : debug ? "--debug" : !recordPath.isEmpty() ? "--record"
                            : !mergePath.isEmpty() ? "--merge-junit" : !showData.isEmpty() ? "--show-data" : nullptr;
        if (other)
            return usageError(QStringLiteral("--dap debugs a run of test cases; it does not go with %1").arg(other));
        inProcess = true;
        colour = false;
    }
    if (paths.isEmpty() && rerunPath.isEmpty())
        return usageError(QStringLiteral("no test given"));
    if (debug && jobs > 1)
        return usageError(QStringLiteral("--debug runs the test cases one after the other in this process; it does not "
                                         "go with --jobs"));
    if (debug && check)
        return usageError(QStringLiteral("--debug runs test cases; it does not go with --check"));
    if (!breaks.isEmpty() && !debug)
        return usageError(QStringLiteral("--break goes with --debug"));
    if (debug)
        inProcess = true;
    if (jobs > 1 && (inProcess || check))
        return usageError(QStringLiteral("--jobs runs test cases in processes of their own; it does not go with %1")
                              .arg(inProcess ? "--in-process" : "--check"));
    if (shardGiven && shardCount > 0)
        return usageError(QStringLiteral("--shard K/N gives the number of parts already; --shard-count goes with "
                                         "JOB_COMPLETION_INDEX"));

    defaultInstallationPrefix();
    // The settings are read here once: what is wrong with them is said once, not by every test case.
    Tarvin::Settings(1);
    // The attachments and screenshots go beside the report that links them unless told otherwise.
    if (options.resultsDirectory.isEmpty() && !(htmlPath.isEmpty() && junitPath.isEmpty())) {
        const QFileInfo report(htmlPath.isEmpty() ? junitPath : htmlPath);
        options.resultsDirectory = report.dir().filePath(report.completeBaseName() + QStringLiteral("-results"));
    }
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

    if (!check) {
        QString error;
        if (!rerunPath.isEmpty() && !selectFailed(rerunPath, paths.isEmpty(), &cases, &error))
            return usageError(error);
        if (!shardGiven) {
            QString source;
            switch (shardFromEnvironment(QProcessEnvironment::systemEnvironment(), shardCount, &shard, &source, &error)) {
            case ShardSource::Invalid:
                return usageError(error);
            case ShardSource::Found:
                shardGiven = true;
                shardSource = source;
                break;
            case ShardSource::NotSet:
                break;
            }
        }
        if (!durationsPath.isEmpty() && !shardGiven)
            return usageError(QStringLiteral("--durations balances the parts of a sharded run; give --shard K/N"));
        if (shardGiven && !selectShard(shard, shardSource, durationsPath, &cases, &error))
            return usageError(error);
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

    if (dap) {
        // The launch succeeded: the run starts once the client has set its breakpoints.
        if (!dap->launched())
            return 0;
        if (dap->debugging())
            runner.setDebugSession(dap->session());
    }
    // The terminal debugger: file names shown relative to where the runner started.
    std::unique_ptr<DebugTerminal> terminal;
    std::unique_ptr<DebugSession> session;
    if (debug) {
        terminal.reset(new DebugTerminal(stdin, out, QDir::currentPath()));
        session.reset(new DebugSession(terminal.get()));
        terminal->setSession(session.get());
        session->setStopOnEntry(breaks.isEmpty());
        session->setStopOnError(true);
        for (const QString& spec : breaks) {
            QString message;
            if (!terminal->addBreakpoint(spec, &message))
                return usageError(QStringLiteral("--break: %1").arg(message));
            out << message << Qt::endl;
        }
        runner.setDebugSession(session.get());
    }

    std::unique_ptr<IsolatedRunner> isolated;
    if (debug) {
        installDebugSignalHandlers(session.get());
    } else if (inProcess) {
        installInProcessSignalHandlers();
    } else {
        if (jobs > 1) {
            // Applications of test cases running at once must not share a display.
            const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
            if (!platform.isEmpty() && platform != "offscreen" && platform != "minimal")
                fprintf(stderr, "tarvinrunner: warning: with --jobs applications run offscreen; QT_QPA_PLATFORM=%s "
                                "is not used\n", platform.constData());
            qputenv("QT_QPA_PLATFORM", "offscreen");
        }
        isolated.reset(new IsolatedRunner(runner, jobs));
        IsolatedRunner::installSignalHandlers();
    }
    auto interruptedBy = [&]() { return inProcess ? inProcessInterruptedBy() : IsolatedRunner::interruptedBy(); };

    int passed = 0, failed = 0, skipped = 0, notRun = 0;
    JUnitReport junit;
    HtmlReport html;
    QStringList snippets;
    BddCounts bdd;
    CucumberJsonReport cucumberJson;
    auto report = [&](const TestCase& testCase, const TestResult& result, double seconds) {
        collectSnippets(result, &snippets);
        countBdd(result.entries(), &bdd);
        cucumberJson.addTestCase(result);
        junit.addTestCase(testCase.suite, testCase.name, testCase.script, seconds, result);
        html.addTestCase(testCase.suite, testCase.name, testCase.script, seconds, result);
    };
    auto count = [&](TestRunner::Outcome outcome) {
        switch (outcome) {
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
    };
    if (isolated) {
        int ran = 0;
        isolated->run(cases, [&](int index, TestRunner::Outcome outcome, const TestResult& result, double seconds) {
            count(outcome);
            report(cases.at(index), result, seconds);
            ++ran;
        });
        notRun = int(cases.size()) - ran;
    } else {
        for (const TestCase& testCase : cases) {
            if (interruptedBy() || (session && session->terminateRequested())) {
                ++notRun;
                continue;
            }
            count(runner.run(testCase));
            report(testCase, runner.lastResult(), runner.lastSeconds());
        }
    }
    if (isolated)
        isolated->finish();
    printSnippets(out, snippets);
    const int signal = interruptedBy();
    if (session && session->terminateRequested() && !signal) {
        const QString quit = QStringLiteral("Quit in the debugger; %1 test cases not run").arg(notRun);
        out << output.paint(quit, Output::Red) << Qt::endl;
        html.setNote(quit);
    }
    if (signal) {
        const QString interrupted = QStringLiteral("Interrupted by %1; %2 test cases not run")
                                        .arg(QLatin1String(signal == SIGINT ? "SIGINT" : "SIGTERM"))
                                        .arg(notRun);
        out << output.paint(interrupted, Output::Red) << Qt::endl;
        html.setNote(interrupted);
    }
    out << "Summary: " << output.paint(QStringLiteral("%1 passed").arg(passed), passed ? Output::Green : Output::Plain)
        << ", " << output.paint(QStringLiteral("%1 failed").arg(failed), failed ? Output::Red : Output::Plain);
    if (skipped)
        out << ", " << output.paint(QStringLiteral("%1 skipped").arg(skipped), Output::Yellow);
    out << Qt::endl;
    if (bdd.scenarios())
        out << bddSummary(bdd) << Qt::endl;
    if (!junitPath.isEmpty() && !junit.write(junitPath, &error)) {
        fprintf(stderr, "tarvinrunner: %s\n", qPrintable(error));
        return signal ? 128 + signal : 2;
    }
    if (!cucumberJsonPath.isEmpty() && !cucumberJson.write(cucumberJsonPath, &error)) {
        fprintf(stderr, "tarvinrunner: %s\n", qPrintable(error));
        return signal ? 128 + signal : 2;
    }
    if (!htmlPath.isEmpty() && !html.write(htmlPath, &error)) {
        fprintf(stderr, "tarvinrunner: %s\n", qPrintable(error));
        return signal ? 128 + signal : 2;
    }
    if (signal)
        return 128 + signal;
    return failed ? 1 : 0;
}

namespace {

// tarvinrunner --dap [--dap-port PORT] [OPTIONS]: serves one debugging session. The options given here
// come before the launch request's args; the launch's program is the PATH.
int runDap(const QStringList& commandLine)
{
    QStringList options;
    int port = -1;
    for (int i = 0; i < commandLine.size(); ++i) {
        const QString& arg = commandLine.at(i);
        if (arg == QLatin1String("--dap"))
            continue;
        if (arg == QLatin1String("--dap-port")) {
            bool ok = false;
            port = ++i < commandLine.size() ? commandLine.at(i).toInt(&ok) : -1;
            if (!ok || port < 0 || port > 65535)
                return usageError(QStringLiteral("--dap-port needs a port number from 0 (any free port) to 65535"));
            continue;
        }
        if (arg == QLatin1String("-h") || arg == QLatin1String("--help") || arg == QLatin1String("--version"))
            return runRunner(QStringList(arg), nullptr);
        if (arg == QLatin1String("--jobs"))
            return usageError(QStringLiteral("--dap debugs test cases in the runner's own process; it does not go with --jobs"));
        options << arg;
    }

    DapServer server;
    QString error;
    if (!(port >= 0 ? server.listen(port, &error) : server.openStdio(&error)) || !server.start(&error)) {
        fprintf(stderr, "tarvinrunner: %s\n", qPrintable(error));
        return 2;
    }
    DapLaunch launch;
    if (!server.waitForLaunch(&launch))
        return 0;
    int status = 2;
    if (!launch.cwd.isEmpty() && !QDir::setCurrent(launch.cwd)) {
        server.launchFailed(QStringLiteral("launch: cwd %1 is not a directory").arg(launch.cwd));
    } else {
        if (launch.stopOnEntry && !launch.noDebug)
            server.session()->setStopOnEntry(true);
        QStringList args = options + launch.args;
        if (launch.program.startsWith(QLatin1Char('-')))
            args << QStringLiteral("--");
        args << launch.program;
        lastUsageError.clear();
        status = runRunner(args, &server);
        // A launch that never ran (a bad option, no test at that path) is answered with the reason.
        server.launchFailed(lastUsageError.isEmpty()
                                ? QStringLiteral("The run could not start (exit status %1); its output says why").arg(status)
                                : lastUsageError);
    }
    server.finish(status);
    return status;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    // The applications the test cases start end with this process, not with the test case's own.
    qputenv("TARVIN_RUNNER_PID", QByteArray::number(qint64(getpid())));
    qInstallMessageHandler(messageHandler);

    const QStringList args = app.arguments().mid(1);
    for (const QString& arg : args) {
        if (arg == QLatin1String("--"))
            break;
        if (arg == QLatin1String("--dap") || arg == QLatin1String("--dap-port"))
            return runDap(args);
    }
    return runRunner(args, nullptr);
}
