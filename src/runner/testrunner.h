// Runs test cases through the Tcl back end: finds them, loads the library, drives each script's
// functions and reports the outcome.
#pragma once

#include "runnerinterface.h"
#include "testresult.h"

#include <QString>
#include <QStringList>
#include <QTextStream>

class Interpreter;
using CreateInterpreterFunction = Interpreter* (*)(RunnerInterface*);

struct TestCase {
    QString name;   // tst_... or the script's base name
    QString script; // absolute path of the test script
    QString suite;  // name of the suite directory, empty for a lone script
};

// Finds the test cases a command-line path names. On failure returns false with a message.
bool collectTestCases(const QString& path, QList<TestCase>* cases, QString* error);

// Loads the library and returns its interpreter factory; null with a message on failure.
CreateInterpreterFunction loadInterpreterFactory(const QString& libraryPath, QString* error);

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

class TestRunner : public RunnerInterface, public TestResult::Listener {
public:
    TestRunner(CreateInterpreterFunction factory, Output& output);

    // Runs one test case in a fresh interpreter; true when it passed.
    bool run(const TestCase& testCase);
    // Checks the syntax of each script; true when all are well formed.
    bool check(const QStringList& scripts);

    QString testScriptPath() const override { return current.script; }
    QString testCaseName() const override { return current.name; }
    QString testSuiteName() const override { return current.suite; }
    void keepAlive() override;
    TestResult* testResult() const override { return const_cast<TestResult*>(&result); }

    void resultAdded(const TestResult::Entry& entry) override;

private:
    void reportScriptError(Interpreter* interpreter);
    bool callIfDefined(Interpreter* interpreter, const QString& function, bool required);

    CreateInterpreterFunction createInterpreter;
    Output& output;
    TestCase current;
    TestResult result;
    bool scriptFailed = false;
};
