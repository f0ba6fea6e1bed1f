// Runs test cases through the Tcl back end: finds them, loads the library, drives each script's
// functions and reports the outcome.
#pragma once

#include "applications.h"
#include "runnerinterface.h"
#include "testresult.h"

#include <QDataStream>
#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <QTextStream>

class DebugSession;
class Interpreter;
class Recording;
class ScriptedObjectMap;
using CreateInterpreterFunction = Interpreter* (*)(RunnerInterface*);
using CreateScriptedObjectMapFunction = ScriptedObjectMap* (*)(const QString&);

struct TestCase {
    QString name;     // tst_... or the script's base name
    QString script;   // absolute path of the test script
    QString suite;    // name of the suite directory, empty for a lone script
    int timeout = -1; // seconds, from the suite's suite.ini; -1: the runner's --test-timeout
};

// Finds the test cases a command-line path names. On failure returns false with a message.
bool collectTestCases(const QString& path, QList<TestCase>* cases, QString* error);

// Loads the library and returns its interpreter factory; null with a message on failure.
CreateInterpreterFunction loadInterpreterFactory(const QString& libraryPath, QString* error);
// The library's object map factory; null when it has none (the library must be loaded already).
CreateScriptedObjectMapFunction loadScriptedObjectMapFactory(const QString& libraryPath);

class Output {
public:
    Output(QTextStream& out, bool colour) : out(out), colour(colour) {}
    enum Colour { Plain, Green, Red, Yellow, Bold };
    QString paint(const QString& text, Colour c) const;
    QTextStream& stream() { return out; }

private:
    QTextStream& out;
    bool colour;
};

struct RunnerOptions {
    QString resultsDirectory; // attachments go to <resultsDirectory>/<suite>/<test case>; empty: none are kept
    bool abortOnFailure = false;
    int objectTimeout = 20000;
    int testTimeout = 0; // seconds a test case may run; 0: no limit
    bool exitZeroPasses = false;
    // A failed verification or an error saves a picture of the current application's windows into the
    // test case's result directory (when there is one), attached to that result.
    bool screenshotsOnFailure = true;
    QByteArray tagExpression; // feature files: only the scenarios whose tags satisfy it run
    bool dryRun = false;      // feature files: steps are matched against their definitions, none runs
};

// At most this many pictures of failures are taken per test case: a loop of failures is slow enough.
const int maxFailureScreenshots = 10;

// After a time limit or an interrupt ended a test case, its cleanup still runs, for this long at most.
const int cleanupGraceSeconds = 5;

// What a test case running in a child process tells the process that runs the suite (isolation.cpp).
class RunReporter {
public:
    virtual ~RunReporter() = default;
    virtual void entryAdded(const TestResult::Entry& entry) = 0;
    // The test case's time limit is now `seconds` from its start (0: none).
    virtual void timeLimitChanged(int seconds) = 0;
    // The time limit ended the script; cleanup runs now, within cleanupGraceSeconds.
    virtual void timeLimitReached() = 0;
    // A detached application: it runs on until the run ends.
    virtual void detachedProcess(qint64 pid) = 0;
    // An object map file was read: the runner keeps its names for the test cases after this one.
    virtual void objectMapRead(const QString& path, const QByteArray& stamp, const QMap<QString, QString>& names)
    {
        (void)path;
        (void)stamp;
        (void)names;
    }
};

class TestRunner : public ApplicationRunner, public TestResult::Listener {
public:
    enum Outcome { Passed, Failed, Skipped };

    TestRunner(CreateInterpreterFunction factory, Output& output, const RunnerOptions& options = RunnerOptions());

    // Runs one test case in a fresh interpreter, in this process: its header, the test case, and the
    // line that closes it.
    Outcome run(const TestCase& testCase);
    // The three parts of run, for a test case that runs in another process.
    void printHeader(const TestCase& testCase);
    void runTestCase(const TestCase& testCase);
    Outcome printOutcome(const TestCase& testCase, const TestResult& result, double seconds);
    // The results of the test case that ran last, and how long it took.
    const TestResult& lastResult() const { return result; }
    double lastSeconds() const { return seconds; }
    const RunnerOptions& runnerOptions() const { return options; }
    Output& output() { return out; }
    // With a reporter, every result and limit of a test case is also passed on to it.
    void setReporter(RunReporter* reporter) { this->reporter = reporter; }

    // Ends the running test case as interrupted (its cleanup still runs). Safe in a signal handler.
    static void requestInterrupt();
    static bool interruptRequested();
    // Creates the next test case's interpreter now, ahead of its turn: runTestCase then takes it
    // instead of creating one (a process waiting for its test case prepares this much).
    void prepareInterpreter();
    // Checks the syntax of each script; true when all are well formed.
    bool check(const QStringList& scripts);
    // Without it, suites' object maps are not read and `objectMap load` refuses.
    void setObjectMapFactory(CreateScriptedObjectMapFunction factory) { createObjectMap = factory; }
    // With a recording, the test cases that run are recorded into it (--record).
    void setRecording(Recording* recording) { this->recording = recording; }
    // With a debugging session, each test case's interpreter is attached to it while it runs.
    void setDebugSession(DebugSession* session) { debugSession = session; }

    SharedPtr<ApplicationContext> startApplication(const QString& application, const QString& host, int port,
                                                   int timeout, QString* error) override;

    QString testScriptPath() const override { return current.script; }
    QString testCaseName() const override { return current.name; }
    QString testSuiteName() const override { return current.suite; }
    QString resultDirectory() const override;
    int objectTimeout() const override { return options.objectTimeout; }
    QByteArray tagExpression() const override { return options.tagExpression; }
    bool dryRun() const override { return options.dryRun; }
    // Under a debugger, the variable watcher opens the application's objects.
    QString objectInspectionText() const override;
    void keepAlive() override;
    TestResult* testResult() const override { return const_cast<TestResult*>(&result); }
    bool loadObjectMap(const QString& path) override;
    // Names read from an object map file (by the test case of another process): while the file keeps
    // its stamp (fileStamp), the names are taken from here and the file is only sourced once more, for
    // the namespace the test script uses.
    static void rememberObjectMap(const QString& path, const QByteArray& stamp, const QMap<QString, QString>& names);
    // All remembered names, for a process forked before some of them were (written by the runner,
    // read by that process when its test case's turn comes); false for a stream that holds none.
    static void writeRememberedObjectMaps(QDataStream& stream);
    static bool readRememberedObjectMaps(QDataStream& stream);
    // What tells a file's versions apart: device, inode, size, modification and change times; empty
    // when the file cannot be read.
    static QByteArray fileStamp(const QString& path);
    bool saveObjectMap(const QMap<QString, QString>& entries, QString* error) override;

    void resultAdding(TestResult::Entry& entry) override;
    void resultAdded(const TestResult::Entry& entry) override;

private:
    void printResult(const TestResult::Entry& entry);
    void reportScriptError(Interpreter* interpreter, const QString& function = QString());
    void offerPostMortem(Interpreter* interpreter);
    bool reportStop(Interpreter* interpreter);
    bool callIfDefined(Interpreter* interpreter, const QString& function, bool required);
    bool readObjectMap(const QString& path, QString* message);
    Interpreter* newInterpreter();
    void registerRunnerCommands(Interpreter* interpreter);
    void applyTimeLimit(Interpreter* interpreter);
    int definitionLine(const QString& function) const;

    CreateInterpreterFunction createInterpreter;
    CreateScriptedObjectMapFunction createObjectMap = nullptr;
    Recording* recording = nullptr;
    DebugSession* debugSession = nullptr;
    RunReporter* reporter = nullptr;
    Output& out;
    RunnerOptions options;
    double seconds = 0;
    TestCase current;
    Interpreter* prepared = nullptr; // by prepareInterpreter, for the next test case
    QString currentCode;
    TestResult result;
    QElapsedTimer clock;            // since the test case started
    int timeLimit = 0;              // seconds, 0: none
    bool ended = false;             // an exit, a time limit or an interrupt ended the test case
    ApplicationContextList started; // by this test case; those running after it ended were detached
    int failureScreenshots = 0;     // taken in this test case
    QString screenshotProblem;      // why the last failure has no picture, to be logged after it
};
