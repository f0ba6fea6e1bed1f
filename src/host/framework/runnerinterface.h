// What the framework and the language back ends ask of the runner process that hosts them.
// Operations a runner does not offer keep the defaults below.
#pragma once

#include "applicationcontext.h"
#include "sharedptr.h"

#include <QByteArray>
#include <QList>
#include <QString>

class Object;
class TestResult;

using ApplicationContextList = QList<SharedPtr<ApplicationContext>>;

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
    // Feature runs: the tag expression that selects the scenarios (empty: all), and whether steps are
    // only matched against their definitions instead of run.
    virtual QByteArray tagExpression() const { return QByteArray(); }
    virtual bool dryRun() const { return false; }

    // Application contexts. Each operation that hands out a context never hands out null: a context
    // that does not exist has the id -1. The queries of a context (pid, memory, output, environment,
    // detach...) are the context's own operations, which the runner implements in its contexts.
    // Starts (or attaches to) an application; a context with id -1 and a reason in *error on failure.
    // A port or timeout of -1 means none was given.
    virtual SharedPtr<ApplicationContext> startApplication(const QString& application, const QString& host,
                                                           int port, int timeout, QString* error);
    virtual SharedPtr<ApplicationContext> attachToApplication(const QString& application, const QString& host,
                                                              int port, int timeout, QString* error);
    // Waits for an application launched outside the runner to connect.
    virtual SharedPtr<ApplicationContext> waitForApplicationLaunch(int timeout, QString* error);
    virtual ApplicationContextList applicationContextList() const { return ApplicationContextList(); }
    // The context of that name; the current context for an empty name.
    virtual SharedPtr<ApplicationContext> applicationContext(const QString& name) const;
    virtual SharedPtr<ApplicationContext> defaultApplicationContext() const;
    // Makes the context current (where lookups go); false when it cannot be switched to.
    virtual bool switchApplicationContext(const SharedPtr<ApplicationContext>& context) { return false; }

    // Mouse input, as the mouse commands give it. `given` says what the script gave: MouseObject,
    // MouseCoordinates, MouseButton, MouseModifiers. Without an object the coordinates are global; with
    // one they are relative to the object. False on failure, with the reason in the inspector's last
    // error.
    enum MouseGiven { MouseObject = 1, MouseModifiers = 2, MouseButton = 4, MouseCoordinates = 8 };
    virtual bool mouseInput(const SharedPtr<Object>& object, int given, int x, int y, int button, int modifiers,
                            bool buttonAction, bool press);
};
