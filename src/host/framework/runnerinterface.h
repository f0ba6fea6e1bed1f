// What the framework and the language back ends ask of the runner process that hosts them.
// Operations a runner does not offer keep the defaults below.
#pragma once

#include <QString>

class TestResult;

class RunnerInterface {
public:
    virtual ~RunnerInterface() = default;

    // The test script that runs now (absolute path), and where it belongs.
    virtual QString testScriptPath() const = 0;
    virtual QString testCaseName() const = 0;
    virtual QString testSuiteName() const = 0;
    virtual QString settingsGroup() const { return QString(); }
    virtual QString defaultDevice() const { return QString(); }
    // Where attachments and other result files of the test case go; empty when none is kept.
    virtual QString resultDirectory() const { return QString(); }

    // Called between polls of long waits so that the runner stays responsive.
    virtual void keepAlive() {}
    virtual bool loadObjectMap(const QString& path) { return false; }
    // A lookup by `function` found no object of that name.
    virtual void objectNotFound(const QString& objectName, const QString& function, const QString& detail) {}
    // How long the waiting lookups wait by default, in milliseconds.
    virtual int objectTimeout() const { return 20000; }
    virtual TestResult* testResult() const { return nullptr; }
    // True when the user asked the debugger for a prompt while the script runs.
    virtual bool promptRequested() const { return false; }
    // A text that switches on object inspection in the variable watcher; empty when off.
    virtual QString objectInspectionText() const { return QString(); }
};
