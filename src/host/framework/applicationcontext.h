// A running (or attached) application under test, as scripts see it. The runner keeps the contexts
// and derives from this class; the base holds the fields every context has and answers the queries
// for a context that has no application behind it (id -1).
#pragma once

#include "sharedptr.h"

#include <QDateTime>
#include <QString>

class ApplicationContext : public Shared {
public:
    ApplicationContext() = default;

    // -1 for a context that does not exist; 0 or more for a started or attached application.
    int id() const { return contextId; }
    void setId(int id) { contextId = id; }
    virtual QString name() const { return contextName; }
    void setName(const QString& name) { contextName = name; }
    QString commandLine() const { return command; }
    void setCommandLine(const QString& commandLine) { command = commandLine; }
    QDateTime startTime() const { return started; }
    void setStartTime(const QDateTime& time) { started = time; }
    // Further state of the link to the application: a second number (-1 initially), an active flag
    // (0 initially) and whether a link is present. Handler registration needs all three set.
    int secondNumber() const { return second; }
    void setSecondNumber(int n) { second = n; }
    int activeFlag() const { return active; }
    void setActiveFlag(int flag) { active = flag; }
    bool hasLink() const { return link; }
    void setHasLink(bool present) { link = present; }
    // True when the context refers to an application and the link to it is live.
    bool isValid() const { return contextId != -1 && second != -1 && active != 0 && link; }

    // Queries of the application behind the context. The defaults are those of a context without one.
    virtual qint64 pid() const { return -1; }
    virtual bool isRunning() const { return false; }
    virtual QString cwd() const { return QString(); }
    // Resident memory in bytes.
    virtual qint64 usedMemory() const { return 0; }
    // Processor time used (user and system), in milliseconds.
    virtual qint64 totalTime() const { return 0; }
    // Whether the application does not respond within the timeout (milliseconds).
    virtual bool isFrozen(int timeout) const { return false; }
    // The output written since the previous read; a null text when the output is not captured.
    virtual QString readStdout() { return QString(); }
    virtual QString readStderr() { return QString(); }
    // The application's environment variable; empty when it is not set.
    virtual QString environmentVariable(const QString& name) const { return QString(); }
    virtual QString osName() const { return QString(); }
    virtual QString host() const { return QString(); }
    virtual int port() const { return -1; }
    // Waits until the application ends, at most the timeout (milliseconds); whether it ended.
    virtual bool waitForExit(int timeout) { return !isRunning(); }
    // How it ended: its exit status, or 128 plus the signal that ended it; -1 while it runs or when that
    // is not known (an application the runner did not start).
    virtual int exitStatus() const { return -1; }
    // Lets go of the application: it leaves the runner's list and is no longer ended with the test
    // case. False when there is nothing to let go of.
    virtual bool detach() { return false; }

private:
    int contextId = -1;
    QString contextName;
    QString command;
    QDateTime started;
    int second = -1;
    int active = 0;
    bool link = false;
};
