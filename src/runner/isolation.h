// Running each test case in a child process of the runner, so that nothing a test case does (a crash,
// a Tcl panic, exit, an endless loop) can end the run: the child runs the test case and prints its
// results; the runner reads them back over a pipe, reports what became of the child, and goes on with
// the next test case. Several test cases can run at once (--jobs), each in its own process with its
// own applications; their output is then held back and printed as one block per test case, in order.
#pragma once

#include "testrunner.h"

#include <QList>

#include <functional>

struct DebuggerPositionMirror;

class IsolatedRunner {
public:
    // The most test cases that may run at once.
    static constexpr int maxJobs = 256;

    IsolatedRunner(TestRunner& runner, int jobs = 1);
    ~IsolatedRunner();

    // Runs the test cases, at most `jobs` at once, and calls `done` for each in the order of `cases`,
    // after its output and the line that closes it were printed. With one job the output appears as it
    // happens; with more, each test case's output (its stdout and stderr) is printed when it and every
    // test case before it ended. Once the run is interrupted no further test case starts; those are
    // not reported.
    using Done = std::function<void(int index, TestRunner::Outcome outcome, const TestResult& result, double seconds)>;
    void run(const QList<TestCase>& cases, const Done& done);
    // Ends the applications test cases detached: they live until the run ends.
    void finish();

    // SIGINT and SIGTERM interrupt the run: the running test cases end as interrupted, no further one
    // starts. A second signal kills the running test cases at once.
    static void installSignalHandlers();
    // The signal that interrupted the run, or 0.
    static int interruptedBy();

private:
    struct Child;
    void begin(Child* child);
    bool spawn(Child* child, bool ahead);
    void start(Child* child);
    void prepare(int index, const TestCase& testCase);
    bool release(Child* child, int slot);
    void discard(Child* child);
    void runChild(Child* child, int control);
    void readMessages(Child* child);
    void ended(Child* child);
    void print(Child* child);
    void endOrphans(const QList<Child*>& running);

    TestRunner& runner;
    const int jobs;
    DebuggerPositionMirror* mirrors = nullptr; // one per slot of a running test case
    QList<qint64> detached;
    // The next test case's process, forked ahead while the one before runs: it creates its interpreter
    // and waits for its turn.
    Child* standby = nullptr;
};

// The same signals for a run in this process (--in-process): the first ends the running test case as
// interrupted, a second ends the runner at once.
void installInProcessSignalHandlers();
int inProcessInterruptedBy();
