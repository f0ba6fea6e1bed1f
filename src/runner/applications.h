// The application side of the runner: starting applications under test (real processes through
// QProcess, or the in-process applications by their registered name), attaching to running processes
// by their id, the list of their contexts, the current and default context, and mouse input to the
// objects of the in-process applications.
#pragma once

#include "runnerinterface.h"

class AgentConnection;

// A runner interface that keeps application contexts. Test runners derive from it and call
// endTestCase() when a test case finishes: every application the test case started is ended then.
class ApplicationRunner : public RunnerInterface {
public:
    ApplicationRunner();
    ~ApplicationRunner() override;

    SharedPtr<ApplicationContext> startApplication(const QString& application, const QString& host, int port,
                                                   int timeout, QString* error) override;
    SharedPtr<ApplicationContext> attachToApplication(const QString& application, const QString& host, int port,
                                                      int timeout, QString* error) override;
    SharedPtr<ApplicationContext> waitForApplicationLaunch(int timeout, QString* error) override;
    ApplicationContextList applicationContextList() const override { return contexts; }
    SharedPtr<ApplicationContext> applicationContext(const QString& name) const override;
    SharedPtr<ApplicationContext> defaultApplicationContext() const override;
    bool switchApplicationContext(const SharedPtr<ApplicationContext>& context) override;
    bool mouseInput(const SharedPtr<Object>& object, int given, int x, int y, int button, int modifiers,
                    bool buttonAction, bool press) override;

    // Ends every application still running (processes are terminated, then killed) and forgets the
    // contexts. Detached processes are left alone until the runner itself goes.
    void endTestCase();

    // Called by a context's detach(): the context leaves the list; false when it was not in it.
    bool detachContext(ApplicationContext* context);

private:
    bool startProcess(const SharedPtr<ApplicationContext>& context, const QString& application, QStringList words,
                      int timeout, QString* error);
    SharedPtr<ApplicationContext> adopt(const SharedPtr<AgentConnection>& connection, const QString& host, int port,
                                        const QString& fallbackName);
    void makeCurrent(const SharedPtr<ApplicationContext>& context);
    QString uniqueName(const QString& base) const;

    ApplicationContextList contexts;
    ApplicationContextList detachedContexts;
    SharedPtr<ApplicationContext> current;
    SharedPtr<ApplicationContext> none;
    int nextId = 0;
    // Where the mouse is, in global coordinates, after the last input.
    int mouseX = 0;
    int mouseY = 0;
};
