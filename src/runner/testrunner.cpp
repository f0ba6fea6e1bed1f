// Running test cases: one fresh interpreter each; the script defines procedures, then init, main and
// cleanup run in that order. Script errors are printed as FILE:LINE: message with the call stack.
#include "testrunner.h"

#include "addressbook.h"
#include "application.h"
#include "debugger.h"
#include "interpreter.h"
#include "object.h"
#include "recording.h"
#include "scriptedobjectmap.h"
#include "testdataapi.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTextCodec>

#include <dlfcn.h>

#include <memory>

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
            if (suiteDir.cdUp())
                testCase.suite = suiteDir.dirName();
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
    for (const QString& caseDir : caseDirs) {
        TestCase testCase;
        testCase.name = caseDir;
        testCase.suite = dir.dirName();
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
    : createInterpreter(factory), output(output), options(options)
{
    AddressBook::registerApplication();
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

void TestRunner::resultAdded(const TestResult::Entry& entry)
{
    const QString indentation = QString(2 * (entry.sections.size() + 1), QLatin1Char(' '));
    if (entry.type == TestResult::SectionStart || entry.type == TestResult::SectionEnd) {
        output.stream() << indentation
                        << output.paint((entry.type == TestResult::SectionStart ? QStringLiteral("Section: ")
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
    output.stream() << indentation << output.paint(TestResult::typeName(entry.type), c) << ' ' << where
                    << entry.message;
    // Passes speak for themselves; everything else shows what was compared or went wrong.
    const bool quiet = entry.type == TestResult::Pass || entry.type == TestResult::ExpectedFail;
    if (!entry.detail.isEmpty() && !quiet)
        output.stream() << '\n' << indent(indentation + entry.detail).replace('\n', '\n' + indentation);
    output.stream() << Qt::endl;
}

void TestRunner::reportScriptError(Interpreter* interpreter)
{
    const QString file = interpreter->errorFile(current.script);
    const int line = interpreter->errorLine();
    QString message = interpreter->errorMessage();
    // A message that names the same place already (a feature file's parse error) keeps it once.
    const QString prefix = QStringLiteral("%1:%2: ").arg(file, QString::number(line));
    if (message.startsWith(prefix))
        message = message.mid(prefix.size());
    QString trace;
    const LineInfoList stack = interpreter->errorCallStack();
    if (!stack.isEmpty()) {
        // Runs of the same frame (deep recursion) are shown once, with their count; a very deep stack
        // keeps its innermost and outermost frames.
        QStringList frames;
        for (int i = 0; i < stack.size();) {
            int j = i + 1;
            while (j < stack.size() && stack.at(j) == stack.at(i))
                ++j;
            QString frame = QStringLiteral("at %1:%2").arg(stack.at(i).file(), QString::number(stack.at(i).line()));
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
    } else if (interpreter->evaluate(QStringLiteral("set ::errorInfo"), QString(), false, true)) {
        // Without an instrumented stack, Tcl's own trace says where the error came from.
        trace = interpreter->resultMessage();
    }
    TestResult::Entry entry;
    entry.type = TestResult::Error;
    entry.message = message;
    entry.detail = trace;
    entry.file = file;
    entry.line = line;
    result.add(entry);
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
    if (interpreter->callFunction(function, ObjectList()))
        return true;
    reportScriptError(interpreter);
    // The error was reported here; it must not fail the next command of a later function.
    interpreter->setPendingError(QString());
    return false;
}

// Reads an object map into the running interpreter (its namespace names) and the object map of
// symbolic names.
bool TestRunner::readObjectMap(const QString& path, QString* message)
{
    if (!createObjectMap) {
        *message = QStringLiteral("%1: this Tcl back end reads no object maps").arg(path);
        return false;
    }
    std::unique_ptr<ScriptedObjectMap> map(createObjectMap(path));
    map->setRunner(this);
    if (!map->load(message))
        return false;
    const QMap<QString, QString> names = map->toLegacyRepresentation();
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

TestRunner::Outcome TestRunner::run(const TestCase& testCase)
{
    current = testCase;
    result.clear();
    ObjectMap::self()->clear();
    result.setAbortOnFailure(options.abortOnFailure);
    QElapsedTimer timer;
    timer.start();
    output.stream() << output.paint(QStringLiteral("Test case %1").arg(testCase.name), Output::Bold) << " ("
                    << QDir::current().relativeFilePath(testCase.script) << ')' << Qt::endl;

    QString code, error;
    const bool feature = isFeatureFile(testCase.script);
    if (feature && !QFileInfo(testCase.script).isReadable()) {
        result.add(TestResult::Error, QStringLiteral("cannot read feature file %1").arg(testCase.script), QString(),
                   testCase.script);
    } else if (!feature && !readScript(testCase.script, &code, &error)) {
        result.add(TestResult::Error, error, QString(), testCase.script);
    } else {
        if (feature)
            code = QString::fromLatin1(featureDriver);
        Interpreter* interpreter = createInterpreter(this);
        interpreter->registerTestCommand(&result);
        interpreter->registerApplicationCommands();
        interpreter->setScriptArguments(testCase.script, QStringList());
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
        } else if (!interpreter->evaluate(code, testCase.script, instrument, false)) {
            reportScriptError(interpreter);
        } else {
            // init, main and cleanup are called from here, not from the script: where its top level left
            // the debugger (or the built-in driver of a feature file) is not their caller.
            if (interpreter->debugger()) {
                interpreter->debugger()->setCurrentLine(-1);
                interpreter->debugger()->setCurrentSourceId(-1);
            }
            if (callIfDefined(interpreter, QStringLiteral("init"), false))
                callIfDefined(interpreter, QStringLiteral("main"), true);
            callIfDefined(interpreter, QStringLiteral("cleanup"), false);
        }
        if (recording && recording->isRecording()) {
            QString recordError;
            if (recording->finish(&recordError))
                output.stream() << QStringLiteral("Recorded %1 steps into %2")
                                       .arg(recording->steps())
                                       .arg(QDir::current().relativeFilePath(recording->outputPath()))
                                << Qt::endl;
            else
                result.add(TestResult::Error, recordError, QString(), recording->outputPath());
        }
        delete interpreter;
        endTestCase(); // nothing the test case started outlives it
        InProcessApplications::stopAll();
    }

    seconds = timer.elapsed() / 1000.0;
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
    const QString status = outcome == Passed    ? output.paint(QStringLiteral("PASSED"), Output::Green)
                           : outcome == Skipped ? output.paint(QStringLiteral("SKIPPED"), Output::Yellow)
                                                : output.paint(QStringLiteral("FAILED"), Output::Red);
    output.stream() << status << ' ' << testCase.name << " (" << QString::number(seconds, 'f', 2) << " s"
                    << (counts.isEmpty() ? QString() : QStringLiteral("; ") + counts.join(QStringLiteral(", ")))
                    << ')' << Qt::endl;
    return outcome;
}

SharedPtr<ApplicationContext> TestRunner::startApplication(const QString& application, const QString& host, int port,
                                                        int timeout, QString* error)
{
    SharedPtr<ApplicationContext> context = ApplicationRunner::startApplication(application, host, port, timeout, error);
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
            output.stream() << script << ": " << error << Qt::endl;
            allWell = false;
            continue;
        }
        if (interpreter->checkSyntax(code))
            continue;
        allWell = false;
        QString message = interpreter->errorMessage();
        const int line = interpreter->storedErrorLine();
        // The analyser starts its message with "Line N: "; the line moves to the FILE:LINE prefix.
        message.remove(QRegExp(QStringLiteral("^Line\\s[0-9]*:\\s*")));
        message = message.trimmed();
        if (line > 0)
            output.stream() << script << ':' << line << ": " << message << Qt::endl;
        else
            output.stream() << script << ": " << message << Qt::endl;
    }
    delete interpreter;
    return allWell;
}
