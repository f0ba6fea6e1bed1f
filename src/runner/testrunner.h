// Runs test cases through the Tcl back end: finds them, loads the library, drives each script's
// functions and reports the outcome.
#pragma once

#include "applications.h"
#include "runnerinterface.h"
#include "testresult.h"

#include <QString>
#include <QStringList>
#include <QTextStream>

class Interpreter;
class Recording;
class ScriptedObjectMap;
using CreateInterpreterFunction = Interpreter* (*)(RunnerInterface*);
using CreateScriptedObjectMapFunction = ScriptedObjectMap* (*)(const QString&);

struct TestCase {
    QString name;   // tst_... or the script's base name
    QString script; // absolute path of the test script
    QString suite;  // name of the suite directory, empty for a lone script
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
};

class TestRunner : public ApplicationRunner, public TestResult::Listener {
public:
    enum Outcome { Passed, Failed, Skipped };

    TestRunner(CreateInterpreterFunction factory, Output& output, const RunnerOptions& options = RunnerOptions());

    // Runs one test case in a fresh interpreter.
    Outcome run(const TestCase& testCase);
    // The results of the test case that ran last, and how long it took.
    const TestResult& lastResult() const { return result; }
    double lastSeconds() const { return seconds; }
    // Checks the syntax of each script; true when all are well formed.
    bool check(const QStringList& scripts);
    // Without it, suites' object maps are not read and `objectMap load` refuses.
    void setObjectMapFactory(CreateScriptedObjectMapFunction factory) { createObjectMap = factory; }
    // With a recording, the test cases that run are recorded into it (--record).
    void setRecording(Recording* recording) { this->recording = recording; }

    SharedPtr<ApplicationContext> startApplication(const QString& application, const QString& host, int port,
                                                   int timeout, QString* error) override;

    QString testScriptPath() const override { return current.script; }
    QString testCaseName() const override { return current.name; }
    QString testSuiteName() const override { return current.suite; }
    QString resultDirectory() const override;
    int objectTimeout() const override { return options.objectTimeout; }
    void keepAlive() override;
    TestResult* testResult() const override { return const_cast<TestResult*>(&result); }
    bool loadObjectMap(const QString& path) override;

    void resultAdded(const TestResult::Entry& entry) override;

private:
    void reportScriptError(Interpreter* interpreter);
    bool callIfDefined(Interpreter* interpreter, const QString& function, bool required);
    bool readObjectMap(const QString& path, QString* message);


    CreateInterpreterFunction createInterpreter;
    CreateScriptedObjectMapFunction createObjectMap = nullptr;
    Recording* recording = nullptr;
    Output& output;
    RunnerOptions options;
    double seconds = 0;
    TestCase current;
    TestResult result;
    bool scriptFailed = false;
};
