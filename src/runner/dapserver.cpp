// The Debug Adapter Protocol server of the runner (dapserver.h).
#include "dapserver.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QRegularExpression>

#include <chrono>

namespace {

const int threadId = 1;

QString stopReasonName(DebugStopReason reason)
{
    switch (reason) {
    case DebugStopReason::Entry:
        return QStringLiteral("entry");
    case DebugStopReason::Breakpoint:
    case DebugStopReason::ScriptBreakpoint:
        return QStringLiteral("breakpoint");
    case DebugStopReason::Step:
        return QStringLiteral("step");
    case DebugStopReason::Pause:
        return QStringLiteral("pause");
    case DebugStopReason::Error:
        return QStringLiteral("exception");
    }
    return QStringLiteral("step");
}

QJsonObject sourceOf(const QString& path)
{
    QJsonObject source;
    source.insert(QStringLiteral("name"), QFileInfo(path).fileName());
    source.insert(QStringLiteral("path"), path);
    return source;
}

QJsonObject breakpointJson(const DebugBreakpoint& breakpoint)
{
    QJsonObject json;
    json.insert(QStringLiteral("id"), breakpoint.id);
    json.insert(QStringLiteral("verified"), breakpoint.verified);
    json.insert(QStringLiteral("line"), breakpoint.line);
    if (!breakpoint.file.isEmpty())
        json.insert(QStringLiteral("source"), sourceOf(breakpoint.file));
    if (!breakpoint.message.isEmpty())
        json.insert(QStringLiteral("message"), breakpoint.message);
    return json;
}

QJsonObject variableJson(const DebugVariable& variable)
{
    QJsonObject json;
    json.insert(QStringLiteral("name"), variable.name);
    json.insert(QStringLiteral("value"), variable.value);
    if (!variable.type.isEmpty())
        json.insert(QStringLiteral("type"), variable.type);
    json.insert(QStringLiteral("variablesReference"), variable.reference);
    return json;
}

// A frame's id is its level plus one: 0 means "no frame" to a client.
int frameLevel(const QJsonObject& arguments)
{
    const int id = arguments.value(QStringLiteral("frameId")).toInt(0);
    return id > 0 ? id - 1 : 0;
}

// Hovering over a variable (or watching one) names it, with or without its $; anything else is a
// script to evaluate.
QString hoverScript(const QString& expression)
{
    static const QRegularExpression variable(
        QStringLiteral("^\\$?(?:::)?[A-Za-z_][A-Za-z0-9_]*(?:::[A-Za-z_][A-Za-z0-9_]*)*(?:\\([^{}\\[\\]$\\\\]*\\))?$"));
    const QString trimmed = expression.trimmed();
    if (!variable.match(trimmed).hasMatch())
        return expression;
    const QString name = trimmed.startsWith(QLatin1Char('$')) ? trimmed.mid(1) : trimmed;
    return QStringLiteral("set {%1}").arg(name);
}

} // namespace

DapServer::DapServer() : debugSession(new DebugSession(this)) {}

DapServer::~DapServer()
{
    capture.stop();
    connection.close();
}

bool DapServer::openStdio(QString* error)
{
    return connection.openStdio(error);
}

bool DapServer::listen(int port, QString* error)
{
    return connection.listen(port, error);
}

bool DapServer::start(QString* error)
{
    // Over TCP the terminal that started the runner keeps seeing its output as well.
    const bool tee = connection.isSocket();
    if (!capture.start([this](const QString& text, bool isError) {
            sendOutput(text, isError ? QStringLiteral("stderr") : QStringLiteral("stdout"));
        }, tee, error))
        return false;
    connection.start([this](const DapMessageReader::Message& message) { received(message); },
                     [this] { connectionClosed(); });
    return true;
}

// On the reading thread: threads and pause are answered at once (a running script may not reach a
// hook soon); the rest goes to the main thread.
void DapServer::received(const DapMessageReader::Message& message)
{
    if (!message.error.isEmpty()) {
        sendOutput(QStringLiteral("tarvinrunner: %1\n").arg(message.error), QStringLiteral("console"));
        return;
    }
    const QJsonObject& request = message.object;
    const QString type = request.value(QStringLiteral("type")).toString();
    const QString command = request.value(QStringLiteral("command")).toString();
    if (type != QLatin1String("request") || command.isEmpty() || !request.value(QStringLiteral("seq")).isDouble()) {
        if (type == QLatin1String("request") && request.value(QStringLiteral("seq")).isDouble())
            fail(request, QStringLiteral("The request names no command"));
        else if (type != QLatin1String("response")) // answers to reverse requests: none are made
            sendOutput(QStringLiteral("tarvinrunner: a message that is no request (type '%1', no command or no seq) "
                                      "was ignored\n")
                           .arg(type),
                       QStringLiteral("console"));
        return;
    }
    if (command == QLatin1String("threads")) {
        QJsonObject thread;
        thread.insert(QStringLiteral("id"), threadId);
        thread.insert(QStringLiteral("name"), QStringLiteral("Test script"));
        QJsonObject body;
        body.insert(QStringLiteral("threads"), QJsonArray{thread});
        respond(request, body);
        return;
    }
    if (command == QLatin1String("pause")) {
        if (state.load() == State::Running)
            debugSession->requestPause();
        respond(request);
        return;
    }
    if (command == QLatin1String("disconnect") || command == QLatin1String("terminate"))
        debugSession->requestPause(); // the main thread takes it at the next hook at the latest
    bool wakeUp = false;
    {
        std::lock_guard<std::mutex> lock(mutex);
        requests.push_back(request);
        wakeUp = !pending.exchange(true);
    }
    arrived.notify_all();
    if (wakeUp)
        QMetaObject::invokeMethod(&wake, [this] { handlePending(); }, Qt::QueuedConnection);
}

void DapServer::connectionClosed()
{
    closed = true;
    debugSession->requestPause();
    arrived.notify_all();
    QMetaObject::invokeMethod(&wake, [this] { handlePending(); }, Qt::QueuedConnection);
}

bool DapServer::takeRequest(QJsonObject* request, int timeoutMs)
{
    std::unique_lock<std::mutex> lock(mutex);
    auto ready = [this] { return !requests.empty() || closed.load(); };
    if (timeoutMs < 0)
        arrived.wait(lock, ready);
    else
        arrived.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready);
    if (requests.empty()) {
        pending = false;
        return false;
    }
    *request = requests.front();
    requests.pop_front();
    pending = !requests.empty();
    return true;
}

// While the script runs: the requests that arrived meanwhile.
void DapServer::handlePending()
{
    if (dispatching || state.load() != State::Running)
        return;
    dispatching = true;
    QJsonObject request;
    while (takeRequest(&request, 0))
        handle(request);
    if (closed && !terminating) {
        terminating = true;
        debugSession->terminate();
    }
    dispatching = false;
}

void DapServer::poll(DebugSession&)
{
    if (pending.load(std::memory_order_relaxed) || closed.load(std::memory_order_relaxed))
        handlePending();
}

bool DapServer::waitForLaunch(DapLaunch* launch)
{
    QJsonObject request;
    while (takeRequest(&request, -1) || !closed) {
        if (request.isEmpty())
            continue;
        const Handled handled = handle(request);
        request = QJsonObject();
        if (handled == Handled::Disconnect)
            return false;
        if (handled != Handled::Launch)
            continue;
        const QJsonObject arguments = launchRequest.value(QStringLiteral("arguments")).toObject();
        launch->program = arguments.value(QStringLiteral("program")).toString();
        launch->cwd = arguments.value(QStringLiteral("cwd")).toString();
        launch->stopOnEntry = arguments.value(QStringLiteral("stopOnEntry")).toBool(false);
        launch->noDebug = noDebug = arguments.value(QStringLiteral("noDebug")).toBool(false);
        launch->args.clear();
        const QJsonValue args = arguments.value(QStringLiteral("args"));
        bool argsOk = true;
        if (args.isString()) {
            launch->args = args.toString().split(QLatin1Char(' '), Qt::SkipEmptyParts);
        } else if (!args.isUndefined() && !args.isNull() && !args.isArray()) {
            argsOk = false;
        } else {
            for (const QJsonValue& arg : args.toArray()) {
                argsOk = argsOk && arg.isString();
                launch->args << arg.toString();
            }
        }
        if (!argsOk) {
            launchFailed(QStringLiteral("launch: args must be a list of runner options (strings)"));
            continue;
        }
        if (launch->program.isEmpty()) {
            launchFailed(QStringLiteral("launch: program must name a test script, a test case directory or a "
                                        "suite directory"));
            continue;
        }
        return true;
    }
    return false;
}

void DapServer::launchFailed(const QString& message)
{
    if (launchSeq < 0)
        return;
    fail(launchRequest, message);
    launchSeq = -1;
}

bool DapServer::launched()
{
    if (launchSeq >= 0) {
        respond(launchRequest);
        launchSeq = -1;
        launchWasAnswered = true;
    }
    QJsonObject request;
    while (!configured) {
        if (!takeRequest(&request, -1)) {
            if (closed)
                return false;
            continue;
        }
        if (handle(request) == Handled::Disconnect)
            return false;
    }
    state = State::Running;
    return true;
}

void DapServer::stopped(DebugSession&, const DebugStop& stop)
{
    if (closed || terminating) {
        if (!terminating) {
            terminating = true;
            debugSession->terminate();
        }
        return;
    }
    capture.drain(); // what the script printed comes before the stop
    lastStop = stop;
    openedNames.clear(); // references are the stop's own
    QJsonObject body;
    body.insert(QStringLiteral("reason"), stopReasonName(stop.reason));
    body.insert(QStringLiteral("threadId"), threadId);
    body.insert(QStringLiteral("allThreadsStopped"), true);
    if (!stop.description.isEmpty())
        body.insert(QStringLiteral("text"), stop.description);
    if (stop.reason == DebugStopReason::Error)
        body.insert(QStringLiteral("description"), QStringLiteral("Paused on error"));
    else if (stop.reason == DebugStopReason::ScriptBreakpoint)
        body.insert(QStringLiteral("description"), QStringLiteral("Paused at test breakpoint"));
    if (!stop.breakpointIds.isEmpty()) {
        QJsonArray ids;
        for (int id : stop.breakpointIds)
            ids.append(id);
        body.insert(QStringLiteral("hitBreakpointIds"), ids);
    }
    state = State::Stopped;
    event(QStringLiteral("stopped"), body);

    QJsonObject request;
    for (;;) {
        if (!takeRequest(&request, -1)) {
            if (closed) {
                terminating = true;
                debugSession->terminate();
                break;
            }
            continue;
        }
        const Handled handled = handle(request);
        if (handled == Handled::Resumed || handled == Handled::Disconnect)
            break;
    }
    state = State::Running;
    if (!terminating) {
        QJsonObject continued;
        continued.insert(QStringLiteral("threadId"), threadId);
        continued.insert(QStringLiteral("allThreadsContinued"), true);
        event(QStringLiteral("continued"), continued);
    }
}

void DapServer::breakpointChanged(const DebugBreakpoint& breakpoint)
{
    QJsonObject body;
    body.insert(QStringLiteral("reason"), QStringLiteral("changed"));
    body.insert(QStringLiteral("breakpoint"), breakpointJson(breakpoint));
    event(QStringLiteral("breakpoint"), body);
}

void DapServer::output(const QString& text, DebugOutputCategory category)
{
    QString line = text;
    if (!line.endsWith(QLatin1Char('\n')))
        line += QLatin1Char('\n');
    switch (category) {
    case DebugOutputCategory::Result:
        // The runner prints every result line as well, and fd 1 brings it here with its place.
        break;
    case DebugOutputCategory::Stdout:
        sendOutput(line, QStringLiteral("stdout"));
        break;
    case DebugOutputCategory::Stderr:
        sendOutput(line, QStringLiteral("stderr"));
        break;
    case DebugOutputCategory::Log:
    case DebugOutputCategory::Console:
        capture.drain(); // a log point's line among the script's own output, in order
        sendOutput(line, QStringLiteral("console"));
        break;
    }
}

void DapServer::finish(int exitCode)
{
    state = State::Ended;
    capture.drain();
    QJsonObject exited;
    exited.insert(QStringLiteral("exitCode"), exitCode);
    event(QStringLiteral("exited"), exited);
    event(QStringLiteral("terminated"));
    // A client disconnects after terminated; one that does not is not waited for long.
    QJsonObject request = disconnectRequest;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (request.isEmpty() && !closed && std::chrono::steady_clock::now() < deadline) {
        if (!takeRequest(&request, 500))
            continue;
        const QString command = request.value(QStringLiteral("command")).toString();
        if (command != QLatin1String("disconnect")) {
            if (command == QLatin1String("terminate"))
                respond(request);
            else if (command == QLatin1String("initialize") || command == QLatin1String("launch"))
                fail(request, QStringLiteral("This debugging session has ended; start a new one"));
            else
                fail(request, QStringLiteral("The run has ended"));
            request = QJsonObject();
        }
    }
    capture.stop();
    if (!request.isEmpty())
        respond(request);
    connection.flush();
}

void DapServer::respond(const QJsonObject& request, const QJsonValue& body)
{
    QJsonObject response;
    response.insert(QStringLiteral("type"), QStringLiteral("response"));
    response.insert(QStringLiteral("request_seq"), request.value(QStringLiteral("seq")).toInt());
    response.insert(QStringLiteral("command"), request.value(QStringLiteral("command")).toString());
    response.insert(QStringLiteral("success"), true);
    if (!body.isUndefined() && !body.isNull())
        response.insert(QStringLiteral("body"), body);
    connection.send(response);
}

void DapServer::fail(const QJsonObject& request, const QString& message)
{
    QJsonObject error;
    error.insert(QStringLiteral("id"), 1);
    error.insert(QStringLiteral("format"), message);
    error.insert(QStringLiteral("showUser"), true);
    QJsonObject response;
    response.insert(QStringLiteral("type"), QStringLiteral("response"));
    response.insert(QStringLiteral("request_seq"), request.value(QStringLiteral("seq")).toInt());
    response.insert(QStringLiteral("command"), request.value(QStringLiteral("command")).toString());
    response.insert(QStringLiteral("success"), false);
    response.insert(QStringLiteral("message"), message);
    response.insert(QStringLiteral("body"), QJsonObject{{QStringLiteral("error"), error}});
    connection.send(response);
}

void DapServer::event(const QString& name, const QJsonObject& body)
{
    QJsonObject message;
    message.insert(QStringLiteral("type"), QStringLiteral("event"));
    message.insert(QStringLiteral("event"), name);
    if (!body.isEmpty())
        message.insert(QStringLiteral("body"), body);
    connection.send(message);
}

void DapServer::sendOutput(const QString& text, const QString& category)
{
    // One event per line, so that a result line can point at its place.
    int start = 0;
    while (start < text.size()) {
        int end = text.indexOf(QLatin1Char('\n'), start);
        end = end < 0 ? text.size() : end + 1;
        QJsonObject message;
        message.insert(QStringLiteral("type"), QStringLiteral("event"));
        message.insert(QStringLiteral("event"), QStringLiteral("output"));
        message.insert(QStringLiteral("body"), outputEvent(text.mid(start, end - start), category));
        connection.send(message);
        start = end;
    }
}

QJsonObject DapServer::outputEvent(const QString& text, const QString& category)
{
    // "  FAIL /path/test.tcl:12: message", "ERROR /path/test.tcl:3: ...", "      at /path/lib.tcl:7"
    static const QRegularExpression place(
        QStringLiteral("^\\s*(?:(?:PASS|FAIL|XFAIL|XPASS|WARNING|ERROR|FATAL|SKIPPED|LOG) |at )(/[^\\n]*?):(\\d+)(?::|$| \\()"));
    QJsonObject body;
    body.insert(QStringLiteral("category"), category);
    body.insert(QStringLiteral("output"), text);
    const QRegularExpressionMatch match = place.match(text);
    if (match.hasMatch()) {
        body.insert(QStringLiteral("source"), sourceOf(match.captured(1)));
        body.insert(QStringLiteral("line"), match.captured(2).toInt());
    }
    return body;
}

QJsonObject DapServer::capabilities() const
{
    auto filter = [](const char* id, const char* label, const char* description, bool on) {
        QJsonObject f;
        f.insert(QStringLiteral("filter"), QLatin1String(id));
        f.insert(QStringLiteral("label"), QLatin1String(label));
        f.insert(QStringLiteral("description"), QLatin1String(description));
        f.insert(QStringLiteral("default"), on);
        return f;
    };
    QJsonObject body;
    body.insert(QStringLiteral("supportsConfigurationDoneRequest"), true);
    body.insert(QStringLiteral("supportsConditionalBreakpoints"), true);
    body.insert(QStringLiteral("supportsHitConditionalBreakpoints"), true);
    body.insert(QStringLiteral("supportsLogPoints"), true);
    body.insert(QStringLiteral("supportsEvaluateForHovers"), true);
    body.insert(QStringLiteral("supportsTerminateRequest"), true);
    body.insert(QStringLiteral("supportsExceptionInfoRequest"), true);
    body.insert(QStringLiteral("supportsSetVariable"), true);
    body.insert(QStringLiteral("supportTerminateDebuggee"), true);
    body.insert(QStringLiteral("exceptionBreakpointFilters"),
                QJsonArray{filter("error", "Uncaught errors", "Stop where an error is raised that no script catches", true),
                           filter("failure", "Failed verifications", "Stop at every failed verification", false)});
    return body;
}

DapServer::Handled DapServer::handle(const QJsonObject& request)
{
    const QString command = request.value(QStringLiteral("command")).toString();
    const QJsonObject arguments = request.value(QStringLiteral("arguments")).toObject();
    const State now = state.load();
    const bool stoppedNow = now == State::Stopped;

    if (command == QLatin1String("initialize")) {
        respond(request, capabilities());
        event(QStringLiteral("initialized"));
    } else if (command == QLatin1String("launch")) {
        if (now != State::Configuring || launchSeq >= 0 || launchWasAnswered) {
            fail(request, QStringLiteral("The test script was launched already"));
            return Handled::Done;
        }
        launchRequest = request;
        launchSeq = request.value(QStringLiteral("seq")).toInt();
        return Handled::Launch;
    } else if (command == QLatin1String("attach")) {
        fail(request, QStringLiteral("tarvinrunner --dap launches test scripts (a launch request); it attaches to none"));
    } else if (command == QLatin1String("configurationDone")) {
        configured = true;
        respond(request);
    } else if (command == QLatin1String("setBreakpoints")) {
        setBreakpoints(request);
    } else if (command == QLatin1String("setExceptionBreakpoints")) {
        const QJsonArray filters = arguments.value(QStringLiteral("filters")).toArray();
        bool errors = false, failures = false;
        QJsonArray answers;
        for (const QJsonValue& filter : filters) {
            errors = errors || filter.toString() == QLatin1String("error");
            failures = failures || filter.toString() == QLatin1String("failure");
            answers.append(QJsonObject{{QStringLiteral("verified"), filter.toString() == QLatin1String("error") ||
                                                                         filter.toString() == QLatin1String("failure")}});
        }
        debugSession->setStopOnError(errors, failures);
        respond(request, QJsonObject{{QStringLiteral("breakpoints"), answers}});
    } else if (command == QLatin1String("threads")) {
        QJsonObject thread{{QStringLiteral("id"), threadId}, {QStringLiteral("name"), QStringLiteral("Test script")}};
        respond(request, QJsonObject{{QStringLiteral("threads"), QJsonArray{thread}}});
    } else if (command == QLatin1String("continue") || command == QLatin1String("next") ||
               command == QLatin1String("stepIn") || command == QLatin1String("stepOut")) {
        if (!stoppedNow) {
            fail(request, QStringLiteral("The script is not stopped"));
            return Handled::Done;
        }
        if (command == QLatin1String("continue"))
            debugSession->resume();
        else if (command == QLatin1String("next"))
            debugSession->stepOver();
        else if (command == QLatin1String("stepIn"))
            debugSession->stepInto();
        else
            debugSession->stepOut();
        respond(request, command == QLatin1String("continue")
                             ? QJsonValue(QJsonObject{{QStringLiteral("allThreadsContinued"), true}})
                             : QJsonValue());
        return Handled::Resumed;
    } else if (command == QLatin1String("pause")) {
        if (now == State::Running)
            debugSession->requestPause();
        respond(request);
    } else if (command == QLatin1String("stackTrace") || command == QLatin1String("scopes") ||
               command == QLatin1String("variables") || command == QLatin1String("exceptionInfo")) {
        if (!stoppedNow) {
            fail(request, QStringLiteral("The script is running; pause it to see its %1")
                              .arg(command == QLatin1String("stackTrace") ? "frames" : "variables"));
            return Handled::Done;
        }
        if (command == QLatin1String("stackTrace"))
            stackTrace(request);
        else if (command == QLatin1String("scopes"))
            scopes(request);
        else if (command == QLatin1String("variables"))
            variables(request);
        else
            exceptionInfo(request);
    } else if (command == QLatin1String("evaluate")) {
        if (!stoppedNow)
            fail(request, QStringLiteral("Evaluation needs a stopped script: pause it first"));
        else
            evaluate(request);
    } else if (command == QLatin1String("setVariable")) {
        if (!stoppedNow)
            fail(request, QStringLiteral("A variable can be set in a stopped script: pause it first"));
        else
            setVariable(request);
    } else if (command == QLatin1String("source")) {
        source(request);
    } else if (command == QLatin1String("terminate") || command == QLatin1String("disconnect")) {
        return endRun(request, command == QLatin1String("disconnect"));
    } else {
        fail(request, QStringLiteral("Unknown request '%1'").arg(command));
    }
    return Handled::Done;
}

// terminate ends the run (the running test case as interrupted, its cleanup still runs); disconnect
// does the same and is answered when the run has ended.
DapServer::Handled DapServer::endRun(const QJsonObject& request, bool disconnect)
{
    const State now = state.load();
    if (disconnect)
        disconnectRequest = request;
    else
        respond(request);
    if (now == State::Configuring) {
        if (disconnect) {
            respond(request);
            disconnectRequest = QJsonObject();
            return Handled::Disconnect;
        }
        // Terminated before it ran: nothing runs.
        terminating = true;
        debugSession->terminate();
        configured = true;
        return Handled::Done;
    }
    if (!terminating) {
        terminating = true;
        debugSession->terminate();
    }
    return now == State::Stopped ? Handled::Resumed : Handled::Done;
}

void DapServer::setBreakpoints(const QJsonObject& request)
{
    const QJsonObject arguments = request.value(QStringLiteral("arguments")).toObject();
    const QString path = arguments.value(QStringLiteral("source")).toObject().value(QStringLiteral("path")).toString();
    if (path.isEmpty()) {
        fail(request, QStringLiteral("setBreakpoints: the source has no path"));
        return;
    }
    QList<DebugBreakpoint> wanted;
    if (arguments.contains(QStringLiteral("breakpoints"))) {
        for (const QJsonValue& value : arguments.value(QStringLiteral("breakpoints")).toArray()) {
            const QJsonObject object = value.toObject();
            DebugBreakpoint breakpoint;
            breakpoint.file = path;
            breakpoint.line = object.value(QStringLiteral("line")).toInt(0);
            breakpoint.condition = object.value(QStringLiteral("condition")).toString();
            breakpoint.hitCondition = object.value(QStringLiteral("hitCondition")).toString();
            breakpoint.logMessage = object.value(QStringLiteral("logMessage")).toString();
            wanted << breakpoint;
        }
    } else {
        for (const QJsonValue& line : arguments.value(QStringLiteral("lines")).toArray()) {
            DebugBreakpoint breakpoint;
            breakpoint.file = path;
            breakpoint.line = line.toInt(0);
            wanted << breakpoint;
        }
    }
    const QList<DebugBreakpoint> set = debugSession->setBreakpoints(QFileInfo(path).absoluteFilePath(), wanted);
    QJsonArray answers;
    for (const DebugBreakpoint& breakpoint : set)
        answers.append(breakpointJson(breakpoint));
    respond(request, QJsonObject{{QStringLiteral("breakpoints"), answers}});
}

void DapServer::stackTrace(const QJsonObject& request)
{
    const QJsonObject arguments = request.value(QStringLiteral("arguments")).toObject();
    const QList<DebugStackFrame> frames = debugSession->stackTrace();
    const int first = qMax(0, arguments.value(QStringLiteral("startFrame")).toInt(0));
    const int levels = arguments.value(QStringLiteral("levels")).toInt(0);
    const int last = levels > 0 ? qMin(int(frames.size()), first + levels) : int(frames.size());
    QJsonArray answers;
    for (int i = first; i < last; ++i) {
        const DebugStackFrame& frame = frames.at(i);
        QJsonObject json;
        json.insert(QStringLiteral("id"), frame.level + 1);
        json.insert(QStringLiteral("name"), frame.name);
        if (!frame.file.isEmpty())
            json.insert(QStringLiteral("source"), sourceOf(frame.file));
        json.insert(QStringLiteral("line"), frame.line);
        json.insert(QStringLiteral("column"), qMax(1, frame.column));
        answers.append(json);
    }
    respond(request, QJsonObject{{QStringLiteral("stackFrames"), answers},
                                 {QStringLiteral("totalFrames"), int(frames.size())}});
}

void DapServer::scopes(const QJsonObject& request)
{
    const int level = frameLevel(request.value(QStringLiteral("arguments")).toObject());
    QJsonArray answers;
    for (const DebugScope& scope : debugSession->scopes(level)) {
        QJsonObject json;
        json.insert(QStringLiteral("name"), scope.name);
        json.insert(QStringLiteral("variablesReference"), scope.reference);
        json.insert(QStringLiteral("expensive"), scope.expensive);
        if (scope.name == QLatin1String("Locals"))
            json.insert(QStringLiteral("presentationHint"), QStringLiteral("locals"));
        answers.append(json);
    }
    respond(request, QJsonObject{{QStringLiteral("scopes"), answers}});
}

void DapServer::variables(const QJsonObject& request)
{
    const QJsonObject arguments = request.value(QStringLiteral("arguments")).toObject();
    const int reference = arguments.value(QStringLiteral("variablesReference")).toInt(0);
    if (reference <= 0) {
        fail(request, QStringLiteral("variables: no variablesReference given"));
        return;
    }
    const QList<DebugVariable> all = debugSession->variables(reference);
    // The session names members by their whole path (people.0, edit.geometry.width); within the
    // variable opened, its own name is enough.
    const QString parent = openedNames.value(reference);
    const QString prefix = parent.isEmpty() ? QString() : parent + QLatin1Char('.');
    const int start = qMax(0, arguments.value(QStringLiteral("start")).toInt(0));
    const int count = arguments.value(QStringLiteral("count")).toInt(0);
    const int end = count > 0 ? qMin(int(all.size()), start + count) : int(all.size());
    QJsonArray answers;
    for (int i = start; i < end; ++i) {
        DebugVariable variable = all.at(i);
        if (variable.reference > 0)
            openedNames.insert(variable.reference, variable.name);
        if (!prefix.isEmpty() && variable.name.startsWith(prefix) && variable.name.size() > prefix.size())
            variable.name = variable.name.mid(prefix.size());
        answers.append(variableJson(variable));
    }
    respond(request, QJsonObject{{QStringLiteral("variables"), answers}});
}

void DapServer::evaluate(const QJsonObject& request)
{
    const QJsonObject arguments = request.value(QStringLiteral("arguments")).toObject();
    const QString expression = arguments.value(QStringLiteral("expression")).toString();
    const QString context = arguments.value(QStringLiteral("context")).toString();
    const bool lookup = context == QLatin1String("hover") || context == QLatin1String("watch") ||
                        context == QLatin1String("variables");
    const DebugEvaluation result =
        debugSession->evaluate(lookup ? hoverScript(expression) : expression, frameLevel(arguments));
    capture.drain(); // what the evaluation printed comes before its answer
    if (!result.ok) {
        fail(request, result.value);
        return;
    }
    QJsonObject body;
    body.insert(QStringLiteral("result"), result.value);
    if (!result.type.isEmpty())
        body.insert(QStringLiteral("type"), result.type);
    body.insert(QStringLiteral("variablesReference"), result.reference);
    if (result.reference > 0)
        openedNames.insert(result.reference, expression.trimmed());
    respond(request, body);
}

// The value is taken as the text it is (a Tcl value), not evaluated.
void DapServer::setVariable(const QJsonObject& request)
{
    const QJsonObject arguments = request.value(QStringLiteral("arguments")).toObject();
    const DebugEvaluation result = debugSession->setVariable(
        arguments.value(QStringLiteral("variablesReference")).toInt(0), arguments.value(QStringLiteral("name")).toString(),
        arguments.value(QStringLiteral("value")).toString());
    if (!result.ok) {
        fail(request, result.value);
        return;
    }
    QJsonObject body;
    body.insert(QStringLiteral("value"), result.value);
    if (!result.type.isEmpty())
        body.insert(QStringLiteral("type"), result.type);
    respond(request, body);
}

void DapServer::source(const QJsonObject& request)
{
    const QJsonObject arguments = request.value(QStringLiteral("arguments")).toObject();
    const QString path = arguments.value(QStringLiteral("source")).toObject().value(QStringLiteral("path")).toString();
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly)) {
        fail(request, path.isEmpty() ? QStringLiteral("source: only sources with a path can be shown")
                                     : QStringLiteral("Couldn't open file %1").arg(path));
        return;
    }
    respond(request, QJsonObject{{QStringLiteral("content"), QString::fromUtf8(file.readAll())}});
}

void DapServer::exceptionInfo(const QJsonObject& request)
{
    const bool error = lastStop.reason == DebugStopReason::Error;
    QJsonObject body;
    body.insert(QStringLiteral("exceptionId"), error ? QStringLiteral("error") : QStringLiteral("none"));
    body.insert(QStringLiteral("description"), lastStop.description);
    body.insert(QStringLiteral("breakMode"), QStringLiteral("unhandled"));
    respond(request, body);
}
