// Running test cases: one fresh interpreter each; the script defines procedures, then init, main and
// cleanup run in that order. Script errors are printed as FILE:LINE: message with the call stack.
#include "testrunner.h"

#include "addressbook.h"
#include "debugsession.h"
#include "application.h"
#include "debugger.h"
#include "inspector.h"
#include "interpreter.h"
#include "object.h"
#include "recording.h"
#include "scriptcontext.h"
#include "scriptedobjectmap.h"
#include "settings.h"
#include "testapi.h"
#include "testdataapi.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QTextCodec>

#include <csignal>

#include <dlfcn.h>
#include <sys/stat.h>

#include <algorithm>
#include <memory>
#include <utility>

namespace {

bool readScript(const QString& path, QString* code, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *error = QStringLiteral("cannot read test script %1: %2").arg(path, file.errorString());
        return false;
    }
    *code = QString::fromUtf8(file.readAll());
    return true;
}

// A test case given as a feature file runs this script: the step definitions of the test case's steps/
// and the suite's shared/steps/ are loaded, and main runs the feature.
// (argv0 is the feature file.)
const char featureDriver[] = "package require tarvin::bdd\n"
                             "collectStepDefinitions\n"
                             "proc main {} {\n"
                             "    runFeatureFile [file tail $::argv0]\n"
                             "}\n";

bool isFeatureFile(const QString& path)
{
    return path.endsWith(QLatin1String(".feature"));
}

QString indent(const QString& text)
{
    QStringList lines = text.split(QLatin1Char('\n'));
    for (QString& line : lines)
        line.prepend(QLatin1String("    "));
    return lines.join(QLatin1Char('\n'));
}

// A suite's time limit for its test cases, from suite.ini in its directory:
//     [Runner]
//     TestTimeout = "SECONDS"
// -1 when the suite sets none (or sets it wrong, with a warning).
int suiteTimeout(const QString& suiteDirectory)
{
    if (!QFileInfo::exists(suiteDirectory + QStringLiteral("/suite.ini")))
        return -1;
    const Tarvin::Settings settings(suiteDirectory, QStringLiteral("suite.ini"));
    const QString text = settings.value(QStringLiteral("Runner"), QStringLiteral("TestTimeout"), QString());
    if (text.isEmpty())
        return -1;
    bool ok = false;
    const int seconds = text.trimmed().toInt(&ok);
    if (!ok || seconds < 0) {
        qWarning("%s/suite.ini: TestTimeout must be a whole number of seconds (0: no limit), not '%s'",
                 qUtf8Printable(suiteDirectory), qUtf8Printable(text));
        return -1;
    }
    return seconds;
}

} // namespace

bool collectTestCases(const QString& path, QList<TestCase>* cases, QString* error)
{
    const QFileInfo info(path);
    if (!info.exists()) {
        *error = QStringLiteral("%1: no such file or directory").arg(path);
        return false;
    }
    if (info.isFile()) {
        TestCase testCase;
        testCase.script = info.absoluteFilePath();
        const bool inCaseDir =
            info.fileName() == QLatin1String("test.tcl") || info.fileName() == QLatin1String("test.feature");
        testCase.name = inCaseDir ? info.absoluteDir().dirName() : info.completeBaseName();
        if (inCaseDir) {
            QDir suiteDir = info.absoluteDir();
            if (suiteDir.cdUp()) {
                testCase.suite = suiteDir.dirName();
                testCase.timeout = suiteTimeout(suiteDir.absolutePath());
            }
        }
        cases->append(testCase);
        return true;
    }
    const QDir dir(info.absoluteFilePath());
    if (dir.exists(QStringLiteral("test.tcl")))
        return collectTestCases(dir.filePath(QStringLiteral("test.tcl")), cases, error);
    if (dir.exists(QStringLiteral("test.feature")))
        return collectTestCases(dir.filePath(QStringLiteral("test.feature")), cases, error);
    const QStringList caseDirs =
        dir.entryList(QStringList() << QStringLiteral("tst_*"), QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    if (caseDirs.isEmpty()) {
        *error = QStringLiteral("%1: not a test script, a feature file, a test case directory (with test.tcl "
                                "or test.feature) or a suite directory (with tst_* test case directories)")
                     .arg(path);
        return false;
    }
    const int timeout = suiteTimeout(dir.absolutePath());
    for (const QString& caseDir : caseDirs) {
        TestCase testCase;
        testCase.name = caseDir;
        testCase.suite = dir.dirName();
        testCase.timeout = timeout;
        testCase.script = dir.absoluteFilePath(caseDir + QStringLiteral("/test.tcl"));
        const QString feature = dir.absoluteFilePath(caseDir + QStringLiteral("/test.feature"));
        if (!QFileInfo::exists(testCase.script) && QFileInfo::exists(feature))
            testCase.script = feature;
        cases->append(testCase); // a case without test.tcl fails when it runs, naming the file
    }
    return true;
}

CreateInterpreterFunction loadInterpreterFactory(const QString& libraryPath, QString* error)
{
    void* handle = dlopen(QFile::encodeName(libraryPath).constData(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        *error = QStringLiteral("cannot load the Tcl back end: %1").arg(QString::fromLocal8Bit(dlerror()));
        return nullptr;
    }
    auto factory = reinterpret_cast<CreateInterpreterFunction>(dlsym(handle, "createInterpreter"));
    if (!factory) {
        *error = QStringLiteral("%1 has no createInterpreter function").arg(libraryPath);
        return nullptr;
    }
    return factory; // the library stays loaded for the rest of the process
}

CreateScriptedObjectMapFunction loadScriptedObjectMapFactory(const QString& libraryPath)
{
    // The library is loaded already; this only finds it again.
    void* handle = dlopen(QFile::encodeName(libraryPath).constData(), RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
    if (!handle)
        return nullptr;
    return reinterpret_cast<CreateScriptedObjectMapFunction>(dlsym(handle, "createScriptedObjectMap"));
}

QString Output::paint(const QString& text, Colour c) const
{
    if (!colour || c == Plain)
        return text;
    static const char* const codes[] = {"", "\033[32m", "\033[31m", "\033[33m", "\033[1m"};
    return QLatin1String(codes[c]) + text + QLatin1String("\033[0m");
}

TestRunner::TestRunner(CreateInterpreterFunction factory, Output& output, const RunnerOptions& options)
    : createInterpreter(factory), out(output), options(options)
{
    AddressBook::registerApplication(); // the in-process demo, for the library's own tests
    result.setListener(this);
}

QString TestRunner::resultDirectory() const
{
    if (options.resultsDirectory.isEmpty())
        return QString();
    return QDir(options.resultsDirectory).absoluteFilePath(current.suite.isEmpty() ? current.name
                                                                                  : current.suite + "/" + current.name);
}

void TestRunner::keepAlive()
{
    QCoreApplication::processEvents();
}

namespace {

bool isFailure(TestResult::Type type)
{
    return type == TestResult::Fail || type == TestResult::UnexpectedPass || type == TestResult::Error ||
           type == TestResult::Fatal;
}

} // namespace

// A failure gets a picture of the application as it is at that moment, taken here, in the process
// that drives the application; the path travels with the result.
void TestRunner::resultAdding(TestResult::Entry& entry)
{
    if (!options.screenshotsOnFailure || !isFailure(entry.type) || !entry.attachment.isEmpty())
        return;
    const QString directory = resultDirectory();
    ObjectProvider* provider = Inspector::self()->currentObjectProvider();
    // No application, or one that ended (the failure says so already): nothing to picture.
    if (directory.isEmpty() || !provider || !provider->unavailableReason().isEmpty())
        return;
    if (failureScreenshots >= maxFailureScreenshots)
        return;
    ++failureScreenshots;
    QString error;
    entry.attachment = saveApplicationScreenshot(directory, QStringLiteral("failure"), &error);
    if (entry.attachment.isEmpty()) {
        screenshotProblem = error;
        // An application that did not answer (stopped, busy) would make every later failure wait too.
        failureScreenshots = maxFailureScreenshots;
    }
}

QString TestRunner::objectInspectionText() const
{
    return debugSession ? QStringLiteral("debugger") : QString();
}

void TestRunner::resultAdded(const TestResult::Entry& entry)
{
    if (reporter)
        reporter->entryAdded(entry);
    printResult(entry);
    if (debugSession) {
        const QString where =
            entry.file.isEmpty() ? QString()
            : entry.line > 0     ? QStringLiteral("%1:%2: ").arg(entry.file, QString::number(entry.line))
                                 : entry.file + QStringLiteral(": ");
        debugSession->output(TestResult::typeName(entry.type) + QLatin1Char(' ') + where + entry.message,
                             DebugOutputCategory::Result);
        if (entry.type == TestResult::Fail)
            debugSession->verificationFailed(where + entry.message);
    }
    if (!screenshotProblem.isEmpty()) {
        const QString problem = screenshotProblem;
        screenshotProblem.clear();
        result.add(TestResult::Log, QStringLiteral("No screenshot of the failure: %1").arg(problem));
    }
}

void TestRunner::printResult(const TestResult::Entry& entry)
{
    const QString indentation = QString(2 * (entry.sections.size() + 1), QLatin1Char(' '));
    if (entry.type == TestResult::SectionStart || entry.type == TestResult::SectionEnd) {
        out.stream() << indentation
                        << out.paint((entry.type == TestResult::SectionStart ? QStringLiteral("Section: ")
                                                                                : QStringLiteral("End of section: ")) +
                                            entry.message,
                                        Output::Bold)
                        << Qt::endl;
        return;
    }
    Output::Colour c = Output::Plain;
    switch (entry.type) {
    case TestResult::Pass:
    case TestResult::ExpectedFail:
        c = Output::Green;
        break;
    case TestResult::Fail:
    case TestResult::UnexpectedPass:
    case TestResult::Error:
    case TestResult::Fatal:
        c = Output::Red;
        break;
    case TestResult::Warning:
    case TestResult::Skip:
        c = Output::Yellow;
        break;
    case TestResult::Log:
    case TestResult::SectionStart:
    case TestResult::SectionEnd:
        break;
    }
    QString where;
    if (!entry.file.isEmpty())
        where = entry.line > 0 ? QStringLiteral("%1:%2: ").arg(entry.file, QString::number(entry.line)) : entry.file + ": ";
    out.stream() << indentation << out.paint(TestResult::typeName(entry.type), c) << ' ' << where
                    << entry.message;
    // Passes speak for themselves; everything else shows what was compared or went wrong.
    const bool quiet = entry.type == TestResult::Pass || entry.type == TestResult::ExpectedFail;
    if (!entry.detail.isEmpty() && !quiet)
        out.stream() << '\n' << indent(indentation + entry.detail).replace('\n', '\n' + indentation);
    if (isFailure(entry.type) && !entry.attachment.isEmpty())
        out.stream() << '\n' << indentation << "    Screenshot: " << entry.attachment;
    out.stream() << Qt::endl;
}

void TestRunner::reportScriptError(Interpreter* interpreter, const QString& function)
{
    QString file = interpreter->errorFile(current.script);
    int line = interpreter->errorLine();
    QString message = interpreter->errorMessage();
    // A message that names the same place already (a feature file's parse error) keeps it once.
    const QString prefix = QStringLiteral("%1:%2: ").arg(file, QString::number(line));
    if (message.startsWith(prefix))
        message = message.mid(prefix.size());
    QString trace;
    const LineInfoList stack = interpreter->errorCallStack();
    const bool nothingRan = !interpreter->debugger() || interpreter->debugger()->currentLine() <= 0;
    if (!stack.isEmpty()) {
        // Runs of the same frame (deep recursion) are shown once, with their count; a very deep stack
        // keeps its innermost and outermost frames. Frames in the tool's own Tcl packages (the BDD
        // driver that sources the step files) say nothing to the user and are left out.
        const QString prefix = qEnvironmentVariable("TARVIN_PREFIX");
        const QStringList toolDirectories = {QDir::cleanPath(prefix + QStringLiteral("/lib/tcl")) + QLatin1Char('/'),
                                             QDir::cleanPath(prefix + QStringLiteral("/share/tarvintcl/tcl")) +
                                                 QLatin1Char('/')};
        auto inTool = [&](const LineInfo& frame) {
            return !prefix.isEmpty() && std::any_of(toolDirectories.begin(), toolDirectories.end(), [&](const QString& d) {
                       return frame.file().startsWith(d);
                   });
        };
        QStringList frames;
        for (int i = 0; i < stack.size();) {
            if (inTool(stack.at(i)) && stack.size() > 1) {
                ++i;
                continue;
            }
            int j = i + 1;
            while (j < stack.size() && stack.at(j) == stack.at(i))
                ++j;
            // Frames in Tcl's own library come marked; the mark goes after the place.
            static const QString library = QStringLiteral(" (Tcl library)");
            QString file = stack.at(i).file();
            const bool inLibrary = file.endsWith(library);
            if (inLibrary)
                file.chop(library.size());
            QString frame = QStringLiteral("at %1:%2").arg(file, QString::number(stack.at(i).line()));
            if (inLibrary)
                frame += library;
            if (j - i > 1)
                frame += QStringLiteral(" (%1 times)").arg(j - i);
            frames << frame;
            i = j;
        }
        const int shownInner = 15, shownOuter = 5;
        if (frames.size() > shownInner + shownOuter + 1) {
            const int hidden = frames.size() - shownInner - shownOuter;
            frames = frames.mid(0, shownInner) + QStringList(QStringLiteral("... %1 more frames ...").arg(hidden)) +
                     frames.mid(frames.size() - shownOuter);
        }
        trace = frames.join(QLatin1Char('\n'));
    } else if (!function.isEmpty() && nothingRan && message.startsWith(QLatin1String("wrong # args:"))) {
        // The call itself failed (main takes arguments the runner does not give): the place is the
        // procedure's definition, and there is no stack.
        file = current.script;
        line = definitionLine(function);
    } else if (interpreter->evaluate(QStringLiteral("set ::errorInfo"), QString(), false, true)) {
        // Without an instrumented stack, Tcl's own trace says where the error came from; a trace that
        // only repeats the message says nothing.
        trace = interpreter->resultMessage();
        if (trace == message || trace.startsWith(QLatin1String("can't read \"::errorInfo\"")))
            trace.clear();
        else if (trace.startsWith(message + QLatin1Char('\n')))
            trace = trace.mid(message.size() + 1);
    }
    TestResult::Entry entry;
    entry.type = TestResult::Error;
    entry.message = message;
    entry.detail = trace;
    entry.file = file;
    entry.line = line;
    result.add(entry);
}

// The line of `proc NAME` in the test script, or -1.
int TestRunner::definitionLine(const QString& function) const
{
    const QRegularExpression definition(QStringLiteral("(^|\\n)[ \\t]*proc[ \\t]+(::)?%1[ \\t]")
                                            .arg(QRegularExpression::escape(function)));
    const QRegularExpressionMatch match = definition.match(currentCode);
    if (!match.hasMatch())
        return -1;
    return currentCode.left(match.capturedStart()).count(QLatin1Char('\n')) + (match.captured(1).isEmpty() ? 1 : 2);
}

// An exit, a time limit or an interrupt ended the last call: reports it at the line where the script
// stood. False when the call was not stopped. After a time limit or an interrupt, cleanup gets
// cleanupGraceSeconds of its own.
bool TestRunner::reportStop(Interpreter* interpreter)
{
    const Interpreter::StopReason reason = interpreter->stopReason();
    if (reason == Interpreter::NotStopped)
        return false;
    ended = true;
    if (reason == Interpreter::TimeLimit || reason == Interpreter::Interrupted) {
        interpreter->setTimeLimit(qint64(cleanupGraceSeconds) * 1000);
        if (reason == Interpreter::TimeLimit && reporter)
            reporter->timeLimitReached();
    }
    QString message;
    TestResult::Type type = TestResult::Error;
    switch (reason) {
    case Interpreter::TimeLimit:
        message = QStringLiteral("the test case exceeded its time limit of %1 seconds").arg(timeLimit);
        break;
    case Interpreter::Interrupted:
        message = QStringLiteral("the run was interrupted");
        break;
    case Interpreter::Exited:
        message = QStringLiteral("exit %1 ended the test case").arg(interpreter->exitStatus());
        if (interpreter->exitStatus() == 0) {
            if (options.exitZeroPasses)
                type = TestResult::Log;
            else
                message += QStringLiteral(" (an exit is an error; --exit-zero-passes lets exit 0 pass)");
        }
        break;
    case Interpreter::NotStopped:
        break;
    }
    if (type == TestResult::Error) {
        // The usual report, with the stop's own message in place of Tcl's.
        interpreter->setErrorMessage(message);
        reportScriptError(interpreter);
    } else {
        result.add(type, message, QString(), interpreter->errorFile(current.script), interpreter->errorLine());
    }
    interpreter->setPendingError(QString());
    return true;
}

// Under a debugger, an error that no script caught stops once more before it is reported, showing
// where it was raised. Failed verifications and skips that end a function are reported results, not
// errors of the script.
void TestRunner::offerPostMortem(Interpreter* interpreter)
{
    if (!debugSession)
        return;
    const QString message = interpreter->errorMessage();
    if (message.startsWith(QLatin1String("VerificationFailure: ")) || message.startsWith(QLatin1String("Skipped: ")))
        return;
    debugSession->scriptFailed(QStringLiteral("%1:%2: %3")
                                   .arg(interpreter->errorFile(current.script))
                                   .arg(interpreter->errorLine())
                                   .arg(message));
}

bool TestRunner::callIfDefined(Interpreter* interpreter, const QString& function, bool required)
{
    if (!interpreter->hasFunction(function)) {
        if (required)
            result.add(TestResult::Error,
                       QStringLiteral("the test script defines no '%1' procedure").arg(function), QString(),
                       current.script);
        return !required;
    }
    // init, main and cleanup are called from here, not from the script: where the script's top level
    // or the function before left the debugger is not their caller.
    if (Debugger* debugger = interpreter->debugger()) {
        debugger->setCurrentLine(-1);
        debugger->setCurrentSourceId(-1);
        while (debugger->frameDepth() > 0)
            debugger->popFrame();
    }
    if (debugSession)
        debugSession->functionStarting();
    const bool ok = interpreter->callFunction(function, ObjectList());
    if (reportStop(interpreter))
        return false;
    if (ok)
        return true;
    offerPostMortem(interpreter);
    reportScriptError(interpreter, function);
    // The error was reported here; it must not fail the next command of a later function.
    interpreter->setPendingError(QString());
    return false;
}

// Reads an object map into the running interpreter (its namespace names) and the object map of
// symbolic names.
namespace {
// The object maps read in this run. Reading names.tcl through the library's object map sources it
// twice, asks the helper package for its entries and evaluates each of them: more than many a test
// case costs. A test case's process tells the runner what it read; the test cases after it take the
// names from here while the file is unchanged and source the file once, for the `names` namespace
// their scripts use. (A file that names.tcl sources is not watched: object maps are data, kept in the
// one file.)
struct KnownObjectMap {
    QByteArray stamp;
    QMap<QString, QString> names;
};
QHash<QString, KnownObjectMap>& knownObjectMaps()
{
    static QHash<QString, KnownObjectMap> maps;
    return maps;
}

// A Tcl word that stands for `text` whatever it holds.
QString tclQuoted(const QString& text)
{
    QString word = QStringLiteral("\"");
    for (const QChar c : text) {
        if (c == QLatin1Char('\\') || c == QLatin1Char('"') || c == QLatin1Char('$') || c == QLatin1Char('[') ||
            c == QLatin1Char(']'))
            word += QLatin1Char('\\');
        word += c;
    }
    return word + QLatin1Char('"');
}
} // namespace

QByteArray TestRunner::fileStamp(const QString& path)
{
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return QByteArray();
    const qint64 fields[] = {qint64(st.st_dev),         qint64(st.st_ino),          qint64(st.st_size),
                             qint64(st.st_mtim.tv_sec), qint64(st.st_mtim.tv_nsec), qint64(st.st_ctim.tv_sec),
                             qint64(st.st_ctim.tv_nsec)};
    return QByteArray(reinterpret_cast<const char*>(fields), int(sizeof fields));
}

void TestRunner::writeRememberedObjectMaps(QDataStream& stream)
{
    const QHash<QString, KnownObjectMap>& maps = knownObjectMaps();
    stream << qint32(maps.size());
    for (auto it = maps.constBegin(); it != maps.constEnd(); ++it)
        stream << it.key() << it->stamp << it->names;
}

bool TestRunner::readRememberedObjectMaps(QDataStream& stream)
{
    qint32 count = 0;
    stream >> count;
    QHash<QString, KnownObjectMap> maps;
    for (qint32 i = 0; i < count && stream.status() == QDataStream::Ok; ++i) {
        QString path;
        KnownObjectMap map;
        stream >> path >> map.stamp >> map.names;
        maps.insert(path, map);
    }
    if (stream.status() != QDataStream::Ok)
        return false;
    knownObjectMaps() = maps;
    return true;
}

void TestRunner::rememberObjectMap(const QString& path, const QByteArray& stamp, const QMap<QString, QString>& names)
{
    if (!stamp.isEmpty())
        knownObjectMaps().insert(path, KnownObjectMap{stamp, names});
}

bool TestRunner::readObjectMap(const QString& path, QString* message)
{
    if (!createObjectMap) {
        *message = QStringLiteral("%1: this Tcl back end reads no object maps").arg(path);
        return false;
    }
    const QByteArray stamp = fileStamp(path);
    const auto known = knownObjectMaps().constFind(path);
    Interpreter* interpreter = Interpreter::self();
    QMap<QString, QString> names;
    if (interpreter && !stamp.isEmpty() && known != knownObjectMaps().constEnd() && known->stamp == stamp &&
        interpreter->evaluate(QStringLiteral("if {[namespace exists ::names]} {namespace delete ::names}\n"
                                             "package require tarvin::objectmaphelper\n"
                                             "source %1\n")
                                  .arg(tclQuoted(path)),
                              QString(), false, false)) {
        names = known->names;
    } else {
        // Read through the library: its messages name the file and line of an error.
        std::unique_ptr<ScriptedObjectMap> map(createObjectMap(path));
        map->setRunner(this);
        if (!map->load(message))
            return false;
        names = map->toLegacyRepresentation();
        // Kept only when the file kept one version while it was read.
        if (!stamp.isEmpty() && fileStamp(path) == stamp) {
            rememberObjectMap(path, stamp, names);
            if (reporter)
                reporter->objectMapRead(path, stamp, names);
        }
    }
    for (auto it = names.constBegin(); it != names.constEnd(); ++it)
        ObjectMap::self()->insert(it.key(), it.value());
    return true;
}

// `objectMap load PATH`: a path, or a name found beside the test script, in its scripts/ directory or
// in the suite's shared/scripts/. An error in the file fails the command with "In file F line N: ...".
bool TestRunner::loadObjectMap(const QString& path)
{
    QString file = path;
    if (QFileInfo(file).isRelative()) {
        const QString besideScript = QFileInfo(current.script).absoluteDir().absoluteFilePath(path);
        file = QFileInfo(besideScript).isFile() ? besideScript : findTestSuiteFile(path, QStringLiteral("scripts"));
    }
    if (file.isEmpty() || !QFileInfo(file).isFile())
        return false;
    QString message;
    if (!readObjectMap(QFileInfo(file).absoluteFilePath(), &message) && Interpreter::self())
        Interpreter::self()->setPendingError(message);
    return true;
}

// `objectMap save`: the entries made while the test case ran go into the suite's names.tcl.
bool TestRunner::saveObjectMap(const QMap<QString, QString>& entries, QString* error)
{
    const QString path =
        QFileInfo(current.script).absoluteDir().absoluteFilePath(QStringLiteral("../shared/scripts/names.tcl"));
    if (current.suite.isEmpty() || !QFileInfo(path).isFile() || !createObjectMap) {
        *error = QStringLiteral("The test case belongs to no suite with an object map (shared/scripts/names.tcl)");
        return false;
    }
    std::unique_ptr<ScriptedObjectMap> map(createObjectMap(QDir::cleanPath(path)));
    map->setRunner(this);
    if (!map->load(error))
        return false;
    for (auto it = entries.constBegin(); it != entries.constEnd(); ++it) {
        QString preferred = it.key();
        if (preferred.startsWith(QLatin1String("$names::")))
            preferred = preferred.mid(8);
        else if (preferred.startsWith(QLatin1Char(':')))
            preferred = preferred.mid(1);
        map->symbolicName(it.value(), true, preferred);
    }
    return map->save(error);
}

namespace {

volatile sig_atomic_t interruptFlag = 0;

} // namespace

void TestRunner::requestInterrupt()
{
    interruptFlag = 1;
    if (Interpreter* interpreter = Interpreter::self())
        interpreter->interrupt();
}

bool TestRunner::interruptRequested()
{
    return interruptFlag != 0;
}

TestRunner::Outcome TestRunner::run(const TestCase& testCase)
{
    printHeader(testCase);
    runTestCase(testCase);
    return printOutcome(testCase, result, seconds);
}

void TestRunner::printHeader(const TestCase& testCase)
{
    out.stream() << out.paint(QStringLiteral("Test case %1").arg(testCase.name), Output::Bold) << " ("
                 << QDir::current().relativeFilePath(testCase.script) << ')' << Qt::endl;
}

// The time the test case has left, counted from its start.
void TestRunner::applyTimeLimit(Interpreter* interpreter)
{
    if (timeLimit <= 0)
        interpreter->setTimeLimit(0);
    else
        interpreter->setTimeLimit(qMax<qint64>(1, qint64(timeLimit) * 1000 - clock.elapsed()));
}

// Commands the runner gives every test script.
void TestRunner::registerRunnerCommands(Interpreter* interpreter)
{
    // setTestTimeout SECONDS: the test case may run SECONDS in all, from its start (0: no limit).
    interpreter->registerNativeFunction(
        QStringLiteral("setTestTimeout"),
        [this, interpreter](ScriptContext* context) {
            const SharedPtr<ScriptArgument> argument = context->argument(0);
            bool ok = false;
            const int value = argument ? argument->toString().trimmed().toInt(&ok) : 0;
            if (!ok || value < 0) {
                context->setError(QStringLiteral("setTestTimeout: '%1' is not a whole number of seconds (0: no limit)")
                                      .arg(argument ? argument->toString() : QString()),
                                  ScriptContext::PlainError);
                return false;
            }
            timeLimit = value;
            applyTimeLimit(interpreter);
            if (reporter)
                reporter->timeLimitChanged(value);
            return true;
        },
        QStringList(QStringLiteral("seconds")), QStringList(), QString());

    // An error in a callback of the event loop (an `after` script, a fileevent handler), which tclsh
    // only prints, is an error of the test case: at the line where the script ran the event loop
    // (vwait, update), with the callback's own trace; the script goes on, as in tclsh. A script's own
    // `bgerror` procedure, or a handler it gives `interp bgerror`, has the error instead.
    interpreter->registerNativeFunction(
        QStringLiteral("::Tarvin::Runner::reportBackgroundError"),
        [this, interpreter](ScriptContext* context) {
            const QString message = context->argument(0)->toString();
            QString trace = context->argumentCount() > 1 ? context->argument(1)->toString() : QString();
            if (trace.startsWith(message + QLatin1Char('\n')))
                trace = trace.mid(message.size() + 1);
            Debugger* debugger = interpreter->debugger();
            if (debugger)
                debugger->synchronize();
            const int line = debugger ? debugger->currentLine() : -1;
            QString file = line > 0 ? debugger->currentFile() : current.script;
            if (QFileInfo(file).isRelative())
                file = QDir::cleanPath(QFileInfo(current.script).absolutePath() + QLatin1Char('/') + file);
            result.add(TestResult::Error, message,
                       QStringLiteral("in a callback of the event loop:\n") + trace.trimmed(), file,
                       line > 0 ? line : -1);
            return true;
        },
        {QStringLiteral("message"), QStringLiteral("errorInfo")}, QStringList(), QString());
    interpreter->evaluate(QStringLiteral("proc ::Tarvin::Runner::backgroundError {message options} {\n"
                                         "    if {[llength [info commands ::bgerror]]} {\n"
                                         "        return [::tcl::Bgerror $message $options]\n"
                                         "    }\n"
                                         "    ::Tarvin::Runner::reportBackgroundError $message [dict get $options -errorinfo]\n"
                                         "}\n"
                                         "interp bgerror {} ::Tarvin::Runner::backgroundError\n"),
                          QString(), false, true);
}

// A test case's interpreter with the tool's commands, before it knows its script.
Interpreter* TestRunner::newInterpreter()
{
    Interpreter* interpreter = createInterpreter(this);
    interpreter->registerTestCommand(&result);
    interpreter->registerApplicationCommands();
    interpreter->setExitEndsScript(true);
    registerRunnerCommands(interpreter);
    // Output of puts shows up where it happens among the results, line by line.
    interpreter->evaluate(QStringLiteral("fconfigure stdout -buffering line"), QString(), false, true);
    return interpreter;
}

void TestRunner::prepareInterpreter()
{
    if (!prepared)
        prepared = newInterpreter();
}

void TestRunner::runTestCase(const TestCase& testCase)
{
    current = testCase;
    currentCode.clear();
    result.clear();
    started.clear();
    ended = false;
    failureScreenshots = 0;
    screenshotProblem.clear();
    ObjectMap::self()->clear();
    result.setAbortOnFailure(options.abortOnFailure);
    timeLimit = testCase.timeout >= 0 ? testCase.timeout : options.testTimeout;
    clock.start();
    // A test case runs in its own directory: relative paths in it mean what they say.
    const QString runnerDirectory = QDir::currentPath();
    QDir::setCurrent(QFileInfo(testCase.script).absolutePath());

    QString code, error;
    const bool feature = isFeatureFile(testCase.script);
    if (feature && !QFileInfo(testCase.script).isReadable()) {
        result.add(TestResult::Error, QStringLiteral("cannot read feature file %1").arg(testCase.script), QString(),
                   testCase.script);
    } else if (!feature && options.dryRun) {
        result.add(TestResult::Skip, QStringLiteral("a dry run checks feature files only"), QString(),
                   testCase.script);
    } else if (!feature && !readScript(testCase.script, &code, &error)) {
        result.add(TestResult::Error, error, QString(), testCase.script);
    } else {
        if (feature)
            code = QString::fromLatin1(featureDriver);
        currentCode = code;
        Interpreter* interpreter = prepared ? std::exchange(prepared, nullptr) : newInterpreter();
        if (debugSession)
            debugSession->attach(interpreter);
        interpreter->setScriptArguments(testCase.script, QStringList());
        applyTimeLimit(interpreter);
        // The built-in driver of a feature file is not the user's; its lines are not worth a debugger.
        const bool instrument = !feature;
        // The suite's object map comes first: test scripts use its names ($names::...) anywhere.
        const QString suiteObjectMap =
            QFileInfo(testCase.script).absoluteDir().absoluteFilePath(QStringLiteral("../shared/scripts/names.tcl"));
        const bool suiteHasMap = !testCase.suite.isEmpty() && QFileInfo(suiteObjectMap).isFile();
        QString mapError;
        if (suiteHasMap && !readObjectMap(QDir::cleanPath(suiteObjectMap), &mapError)) {
            result.add(TestResult::Error, mapError); // the message names the file and line
        } else if (recording &&
                   !recording->begin(suiteHasMap ? QDir::cleanPath(suiteObjectMap) : QString(), this, &mapError)) {
            result.add(TestResult::Error, mapError);
        } else if (interruptRequested()) {
            result.add(TestResult::Error, QStringLiteral("the run was interrupted"), QString(), testCase.script);
        } else if (!interpreter->evaluate(code, testCase.script, instrument, false)) {
            if (!reportStop(interpreter)) {
                offerPostMortem(interpreter);
                reportScriptError(interpreter);
            }
        } else if (!reportStop(interpreter)) {
            // A skip or, with --abort-on-fail, a failed verification in init ends the test case as in main.
            const bool initDone = callIfDefined(interpreter, QStringLiteral("init"), false) && !ended &&
                                  !result.skipped() && !(options.abortOnFailure && !result.passed());
            if (initDone && !interruptRequested())
                callIfDefined(interpreter, QStringLiteral("main"), true);
            if (interruptRequested() && !ended) {
                ended = true;
                result.add(TestResult::Error, QStringLiteral("the run was interrupted"), QString(), testCase.script);
            }
            if (ended)
                interpreter->setTimeLimit(qint64(cleanupGraceSeconds) * 1000);
            callIfDefined(interpreter, QStringLiteral("cleanup"), false);
        }
        // Whatever the script wrote last reaches the terminal, with or without its line end.
        interpreter->setTimeLimit(0);
        interpreter->evaluate(QStringLiteral("catch {flush stdout}; catch {flush stderr}"), QString(), false, true);
        if (recording && recording->isRecording()) {
            QString recordError;
            if (recording->finish(&recordError))
                out.stream() << QStringLiteral("Recorded %1 steps into %2")
                                    .arg(recording->steps())
                                    .arg(QDir(runnerDirectory).relativeFilePath(recording->outputPath()))
                             << Qt::endl;
            else
                result.add(TestResult::Error, recordError, QString(), recording->outputPath());
        }
        if (debugSession)
            debugSession->detach();
        delete interpreter;
        endTestCase(); // nothing the test case started outlives it
        InProcessApplications::stopAll();
        // What still runs was detached: it lives until the run ends.
        for (const SharedPtr<ApplicationContext>& context : started)
            if (reporter && context->isRunning() && context->pid() > 0)
                reporter->detachedProcess(context->pid());
        started.clear();
    }
    QDir::setCurrent(runnerDirectory);
    seconds = clock.elapsed() / 1000.0;
}

TestRunner::Outcome TestRunner::printOutcome(const TestCase& testCase, const TestResult& result, double seconds)
{
    const Outcome outcome = !result.passed() ? Failed : result.skipped() ? Skipped : Passed;
    static const char* const counted[][2] = {{"pass", "passes"},   {"failure", "failures"}, {"error", "errors"},
                                             {"fatal", "fatals"}, {"warning", "warnings"}, {"skip", "skips"},
                                             {"expected failure", "expected failures"},
                                             {"unexpected pass", "unexpected passes"}};
    const TestResult::Type types[] = {TestResult::Pass,    TestResult::Fail, TestResult::Error,
                                      TestResult::Fatal,   TestResult::Warning, TestResult::Skip,
                                      TestResult::ExpectedFail, TestResult::UnexpectedPass};
    QStringList counts;
    for (int i = 0; i < 8; ++i)
        if (const int n = result.count(types[i]))
            counts << QStringLiteral("%1 %2").arg(n).arg(QLatin1String(counted[i][n == 1 ? 0 : 1]));
    const QString status = outcome == Passed    ? out.paint(QStringLiteral("PASSED"), Output::Green)
                           : outcome == Skipped ? out.paint(QStringLiteral("SKIPPED"), Output::Yellow)
                                                : out.paint(QStringLiteral("FAILED"), Output::Red);
    out.stream() << status << ' ' << testCase.name << " (" << QString::number(seconds, 'f', 2) << " s"
                 << (counts.isEmpty() ? QString() : QStringLiteral("; ") + counts.join(QStringLiteral(", "))) << ')'
                 << Qt::endl;
    return outcome;
}

SharedPtr<ApplicationContext> TestRunner::startApplication(const QString& application, const QString& host, int port,
                                                        int timeout, QString* error)
{
    SharedPtr<ApplicationContext> context = ApplicationRunner::startApplication(application, host, port, timeout, error);
    if (context)
        started.append(context);
    if (recording && context && context->id() >= 0)
        recording->applicationStarted(application);
    return context;
}

bool TestRunner::check(const QStringList& scripts)
{
    bool allWell = true;
    Interpreter* interpreter = createInterpreter(this);
    for (const QString& script : scripts) {
        current = TestCase{QFileInfo(script).completeBaseName(), QFileInfo(script).absoluteFilePath(), QString()};
        QString code, error;
        if (!readScript(script, &code, &error)) {
            out.stream() << script << ": " << error << Qt::endl;
            allWell = false;
            continue;
        }
        if (interpreter->checkSyntax(code))
            continue;
        allWell = false;
        QString message = interpreter->errorMessage().trimmed();
        const int line = interpreter->storedErrorLine();
        // The analyser writes "Line N: Error: MESSAGE (p COLUMN)"; editors jump to FILE:LINE:COLUMN.
        message.remove(QRegularExpression(QStringLiteral("^Line\\s[0-9]*:\\s*(Error:\\s*)?")));
        int column = 0;
        const QRegularExpressionMatch position = QRegularExpression(QStringLiteral("\\s*\\(p (\\d+)\\)$")).match(message);
        if (position.hasMatch()) {
            column = position.captured(1).toInt();
            message.truncate(int(position.capturedStart()));
        }
        if (line > 0 && column > 0)
            out.stream() << script << ':' << line << ':' << column << ": " << message << Qt::endl;
        else if (line > 0)
            out.stream() << script << ':' << line << ": " << message << Qt::endl;
        else
            out.stream() << script << ": " << message << Qt::endl;
    }
    delete interpreter;
    return allWell;
}
