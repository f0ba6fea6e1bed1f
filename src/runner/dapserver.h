// tarvinrunner --dap: a Debug Adapter Protocol server, so that an editor debugs test scripts. It is a
// front end of the runner's DebugSession. Requests are read on a thread of their own and handed to the
// main thread, where the script and the session run: while the script is stopped they are answered in
// stopped(), while it runs at the next hook (poll()) or when the script next lets Qt's events through
// (waiting for an object, for instance). threads and pause are answered on the reading thread at once.
#pragma once

#include "daptransport.h"
#include "debugsession.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

// What a launch request asks for.
struct DapLaunch {
    QString program;   // a test script, feature file, test case directory or suite directory
    QStringList args;  // further runner options
    QString cwd;       // the directory the run starts in; empty: the runner's
    bool stopOnEntry = false;
    bool noDebug = false; // run without stopping anywhere
};

class DapServer : public DebugFrontend {
public:
    DapServer();
    ~DapServer() override;

    // The connection: the process's standard input and output, or a TCP client on 127.0.0.1:port.
    bool openStdio(QString* error);
    bool listen(int port, QString* error);
    // Starts reading requests, and turns what is printed to fd 1 and 2 into output events.
    bool start(QString* error);

    // Answers requests until a launch request arrives; false when the client leaves first.
    bool waitForLaunch(DapLaunch* launch);
    // The launch cannot run (a bad option, a path that is no test): its error response.
    void launchFailed(const QString& message);
    // Answers the launch and then requests until configurationDone; false when the client left.
    bool launched();
    // False when the launch asked for noDebug: the run goes on without stopping anywhere.
    bool debugging() const { return !noDebug; }

    DebugSession* session() { return debugSession.get(); }

    // The run ended with exitCode: the rest of its output, exited and terminated; then waits (a while)
    // for the client to disconnect.
    void finish(int exitCode);

    // DebugFrontend
    void stopped(DebugSession& session, const DebugStop& stop) override;
    void poll(DebugSession& session) override;
    void breakpointChanged(const DebugBreakpoint& breakpoint) override;
    void output(const QString& text, DebugOutputCategory category) override;

    // Turns a line the runner printed into an output event: result lines and the lines of a call
    // stack point at their file and line. Public for tests.
    static QJsonObject outputEvent(const QString& text, const QString& category);

private:
    enum class State { Configuring, Running, Stopped, Ended };
    enum class Handled { Done, Resumed, Launch, Disconnect };

    void received(const DapMessageReader::Message& message);
    void connectionClosed();
    bool takeRequest(QJsonObject* request, int timeoutMs);
    void handlePending();
    Handled handle(const QJsonObject& request);

    void respond(const QJsonObject& request, const QJsonValue& body = QJsonValue());
    void fail(const QJsonObject& request, const QString& message);
    void event(const QString& name, const QJsonObject& body = QJsonObject());
    void sendOutput(const QString& text, const QString& category);

    QJsonObject capabilities() const;
    void setBreakpoints(const QJsonObject& request);
    void stackTrace(const QJsonObject& request);
    void scopes(const QJsonObject& request);
    void variables(const QJsonObject& request);
    void evaluate(const QJsonObject& request);
    void setVariable(const QJsonObject& request);
    void source(const QJsonObject& request);
    void exceptionInfo(const QJsonObject& request);
    Handled endRun(const QJsonObject& request, bool disconnect);

    DapConnection connection;
    DapOutputCapture capture;
    std::unique_ptr<DebugSession> debugSession;
    QObject wake; // lives on the main thread: queued calls on it reach the script's event processing

    std::mutex mutex;
    std::condition_variable arrived;
    std::deque<QJsonObject> requests;
    std::atomic<bool> pending{false};
    std::atomic<bool> closed{false};
    std::atomic<State> state{State::Configuring};
    bool dispatching = false;

    bool configured = false;
    bool terminating = false;
    int launchSeq = -1;
    bool launchWasAnswered = false;
    bool noDebug = false;
    QJsonObject launchRequest;
    QJsonObject disconnectRequest; // answered when the run has ended
    DebugStop lastStop;
    QHash<int, QString> openedNames; // variablesReference: the whole name of the variable it opens
};
