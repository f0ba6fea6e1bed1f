// Running each test case in a child process of the runner, so that nothing a test case does (a crash,
// a Tcl panic, exit, an endless loop) can end the run: the child runs the test case and prints its
// results as they happen; the runner reads them back over a pipe, reports what became of the child,
// and goes on with the next test case.
#pragma once

#include "testrunner.h"

#include <QList>

struct DebuggerPositionMirror;

class IsolatedRunner {
public:
    explicit IsolatedRunner(TestRunner& runner);
    ~IsolatedRunner();

    // Runs one test case in a child process and prints the line that closes it.
    TestRunner::Outcome run(const TestCase& testCase);
    const TestResult& lastResult() const { return result; }
    double lastSeconds() const { return seconds; }
    // Ends the applications test cases detached: they live until the run ends.
    void finish();

    // SIGINT and SIGTERM interrupt the run: the running test case ends as interrupted, no further one
    // starts. A second signal kills the running test case at once.
    static void installSignalHandlers();
    // The signal that interrupted the run, or 0.
    static int interruptedBy();

private:
    void runChild(const TestCase& testCase, int resultPipe);
    void endOrphans();

    TestRunner& runner;
    DebuggerPositionMirror* mirror = nullptr;
    TestResult result;
    double seconds = 0;
    QList<qint64> detached;
};

// The same signals for a run in this process (--in-process): the first ends the running test case as
// interrupted, a second ends the runner at once.
void installInProcessSignalHandlers();
int inProcessInterruptedBy();
