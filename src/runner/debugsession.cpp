// The runner's debugging session: breakpoints by file and line mapped onto source ids as files load,
// the debugger's mode for each resume command, and the answers a front end gets while the script is
// stopped. Everything here runs on the script's thread except requestPause.
#include "debugsession.h"

#include "interpreter.h"
#include "testrunner.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSet>

namespace {

// A reference a front end can open: a scope of a frame, or an entry in it ("+x").
struct Reference {
    DebuggerScope scope = DebuggerScope::Locals;
    int level = 0;
    QString entry;
    int parent = 0; // the reference whose listing made `entry` known; 0 for a scope or an evaluation
};

QString canonical(const QString& file)
{
    const QFileInfo info(file);
    const QString path = info.canonicalFilePath();
    return path.isEmpty() ? QDir::cleanPath(info.absoluteFilePath()) : path;
}

} // namespace

struct DebugSession::Private {
    DebugFrontend* frontend = nullptr;
    Interpreter* interpreter = nullptr;
    Debugger* debugger = nullptr;
    bool stopOnEntry = false;
    bool stopOnErrors = false;
    bool stopOnFailures = false;

    QList<DebugBreakpoint> breakpoints;
    int nextId = 1;
    QHash<int, QString> sources;         // source id -> canonical file of the attached interpreter
    QSet<QPair<int, int>> applied;       // (line, source id) given to the debugger
    QHash<int, QList<int>> breakable;    // source id -> lines that can stop, as far as asked

    bool stopped = false;
    bool resumed = false;
    bool entryPending = false;
    bool stepping = false;
    bool terminating = false;
    std::atomic<bool> pauseRequested{false};
    QList<DebuggerFrameInfo> frames; // of the current stop, shown ones only
    QVector<Reference> references;

    bool matches(const DebugBreakpoint& b, const QString& file) const
    {
        if (QFileInfo(b.file).isAbsolute())
            return b.file == file;
        return file == b.file || file.endsWith(QLatin1Char('/') + QDir::cleanPath(b.file));
    }
    QList<int> sourcesOf(const DebugBreakpoint& b) const
    {
        QList<int> ids;
        for (auto it = sources.constBegin(); it != sources.constEnd(); ++it)
            if (matches(b, it.value()))
                ids << it.key();
        std::sort(ids.begin(), ids.end());
        return ids;
    }
    // Places a breakpoint on the first line at or after its own that can stop, in the loaded file.
    bool resolve(DebugBreakpoint& b, int sourceId, int wantedLine)
    {
        if (!breakable.contains(sourceId))
            breakable.insert(sourceId, debugger ? debugger->breakableLines(sourceId) : QList<int>());
        const QList<int>& lines = breakable[sourceId];
        const DebugBreakpoint before = b;
        if (lines.isEmpty()) {
            b.line = wantedLine;
            b.verified = true;
            b.message.clear();
        } else {
            auto it = std::lower_bound(lines.begin(), lines.end(), wantedLine);
            if (it == lines.end()) {
                b.verified = false;
                b.message = QStringLiteral("No command at or after line %1 of %2").arg(wantedLine).arg(b.file);
            } else {
                b.line = *it;
                b.verified = true;
                b.message.clear();
            }
        }
        return before.line != b.line || before.verified != b.verified || before.message != b.message;
    }
    // Gives the debugger exactly the (line, source) pairs of the verified breakpoints.
    void apply()
    {
        QSet<QPair<int, int>> wanted;
        for (const DebugBreakpoint& b : breakpoints)
            if (b.verified)
                for (int id : sourcesOf(b))
                    wanted.insert(qMakePair(b.line, id));
        if (debugger) {
            for (const auto& p : applied)
                if (!wanted.contains(p))
                    debugger->setBreakPoint(p.first, p.second, false);
            for (const auto& p : wanted)
                if (!applied.contains(p))
                    debugger->setBreakPoint(p.first, p.second, true);
        }
        applied = debugger ? wanted : QSet<QPair<int, int>>();
    }
    // Resolves a breakpoint against the files loaded so far (the first one that matches decides).
    void place(DebugBreakpoint& b, int wantedLine)
    {
        const QList<int> ids = sourcesOf(b);
        if (ids.isEmpty()) {
            b.verified = false;
            b.message = QStringLiteral("%1 is not loaded yet").arg(b.file);
            return;
        }
        resolve(b, ids.first(), wantedLine);
    }
    int levelOf(int frameIndex) const
    {
        return frameIndex >= 0 && frameIndex < frames.size() ? frames.at(frameIndex).level : -1;
    }
    int addReference(const Reference& r)
    {
        references.append(r);
        return references.size();
    }
    // "list (3) {Ada Grace {Alan Turing}}", "array (2) {Ada 36 Grace 85}": the members one level deep
    // (a member that opens shows its type), cut after about 100 characters.
    QString preview(int reference, const QString& type)
    {
        const int maximum = 100;
        const VariableBindings members = bindingsOf(reference);
        QStringList words;
        int length = 0;
        for (const VariableBinding& member : members) {
            QString word = member.second.hasValue() ? member.second.value() : member.second.typeName();
            if (word.isEmpty() || word.contains(QRegularExpression(QStringLiteral("[\\s{}\"]"))))
                word = QLatin1Char('{') + word + QLatin1Char('}');
            if (type == QLatin1String("array")) {
                // Members are named after their entry: "ages.Ada" for ages(Ada).
                const QString entry = references.at(reference - 1).entry.mid(1) + QLatin1Char('.');
                QString name = member.first.startsWith(QLatin1Char('+')) ? member.first.mid(1) : member.first;
                if (name.startsWith(entry))
                    name = name.mid(entry.size());
                word = (name.contains(QLatin1Char(' ')) ? QLatin1Char('{') + name + QLatin1Char('}') : name) +
                       QLatin1Char(' ') + word;
            }
            if (length + word.size() > maximum) {
                words << QStringLiteral("…");
                break;
            }
            length += word.size() + 1;
            words << word;
        }
        return QStringLiteral("%1 (%2) {%3}").arg(type).arg(members.size()).arg(words.join(QLatin1Char(' ')));
    }

    // Lists the bindings of a reference, listing its parents first so that the watcher knows the entry.
    VariableBindings bindingsOf(int reference)
    {
        if (reference < 1 || reference > references.size() || !debugger)
            return {};
        const Reference r = references.at(reference - 1);
        if (r.parent)
            bindingsOf(r.parent);
        return debugger->scopeBindings(r.scope, r.level, r.entry);
    }
};

DebugSession::DebugSession(DebugFrontend* frontend) : d(new Private)
{
    d->frontend = frontend;
}

DebugSession::~DebugSession()
{
    detach();
    delete d;
}

void DebugSession::setStopOnEntry(bool stop)
{
    d->stopOnEntry = stop;
}

void DebugSession::setStopOnError(bool errors, bool failures)
{
    d->stopOnErrors = errors;
    d->stopOnFailures = failures;
    if (d->debugger)
        d->debugger->setBreakOnError(errors);
}

QList<DebugBreakpoint> DebugSession::setBreakpoints(const QString& file, const QList<DebugBreakpoint>& wanted)
{
    const QString path = QFileInfo(file).isAbsolute() ? canonical(file) : QDir::cleanPath(file);
    for (int i = d->breakpoints.size() - 1; i >= 0; --i)
        if (d->breakpoints.at(i).file == path)
            d->breakpoints.removeAt(i);
    QList<DebugBreakpoint> result;
    for (DebugBreakpoint b : wanted) {
        b.file = path;
        b.id = d->nextId++;
        b.hits = 0;
        d->place(b, b.line);
        d->breakpoints.append(b);
        result.append(b);
    }
    d->apply();
    return result;
}

QList<DebugBreakpoint> DebugSession::breakpoints() const
{
    return d->breakpoints;
}

DebugBreakpoint DebugSession::addBreakpoint(const DebugBreakpoint& breakpoint)
{
    DebugBreakpoint b = breakpoint;
    b.file = QFileInfo(b.file).isAbsolute() ? canonical(b.file) : QDir::cleanPath(b.file);
    b.id = d->nextId++;
    b.hits = 0;
    d->place(b, b.line);
    d->breakpoints.append(b);
    d->apply();
    return b;
}

bool DebugSession::removeBreakpoint(int id)
{
    for (int i = 0; i < d->breakpoints.size(); ++i) {
        if (d->breakpoints.at(i).id == id) {
            d->breakpoints.removeAt(i);
            d->apply();
            return true;
        }
    }
    return false;
}

void DebugSession::resume()
{
    if (d->debugger)
        d->debugger->setDebuggerMode(DbgRun);
    d->stepping = false;
    d->resumed = true;
}

void DebugSession::stepOver()
{
    if (d->debugger)
        d->debugger->next();
    d->stepping = true;
    d->resumed = true;
}

void DebugSession::stepInto()
{
    if (d->debugger)
        d->debugger->setDebuggerMode(DbgStepInto);
    d->stepping = true;
    d->resumed = true;
}

void DebugSession::stepOut()
{
    // Step over with the caller's depth: the first hook back in the caller (or further out) stops.
    if (d->debugger) {
        d->debugger->setDebuggerMode(DbgStepOver);
        d->debugger->setStepOverDepth(d->debugger->frameDepth() - 1);
    }
    d->stepping = true;
    d->resumed = true;
}

void DebugSession::terminate()
{
    d->terminating = true;
    d->resumed = true;
    if (d->debugger) {
        d->debugger->setDebuggerMode(DbgNone);
        d->debugger->setBreakOnError(false);
    }
    TestRunner::requestInterrupt();
}

bool DebugSession::terminateRequested() const
{
    return d->terminating;
}

void DebugSession::requestPause()
{
    d->pauseRequested.store(true, std::memory_order_relaxed);
}

QList<DebugStackFrame> DebugSession::stackTrace() const
{
    QList<DebugStackFrame> trace;
    if (!d->debugger)
        return trace;
    for (int i = 0; i < d->frames.size(); ++i) {
        const DebuggerFrameInfo& f = d->frames.at(i);
        DebugStackFrame frame;
        frame.level = i;
        const QString registered = d->sources.value(f.position.sourceId);
        frame.file = registered.isEmpty() ? d->debugger->findSourceId(f.position.sourceId) : registered;
        frame.name = f.procedure.isEmpty() ? QFileInfo(frame.file).fileName() : f.procedure;
        frame.line = f.position.line;
        frame.column = f.position.column >= 0 ? f.position.column + 1 : 0;
        trace.append(frame);
    }
    return trace;
}

QList<DebugScope> DebugSession::scopes(int frameLevel)
{
    QList<DebugScope> scopes;
    const int level = d->levelOf(frameLevel);
    if (level < 0 && !d->frames.isEmpty())
        return scopes;
    scopes << DebugScope{QStringLiteral("Locals"), d->addReference({DebuggerScope::Locals, level, QString(), 0}), false};
    scopes << DebugScope{QStringLiteral("Globals"), d->addReference({DebuggerScope::Globals, 0, QString(), 0}), false};
    scopes << DebugScope{QStringLiteral("Application"),
                         d->addReference({DebuggerScope::Application, 0, QString(), 0}), true};
    return scopes;
}

QList<DebugVariable> DebugSession::variables(int reference)
{
    QList<DebugVariable> variables;
    if (reference < 1 || reference > d->references.size())
        return variables;
    const Reference parent = d->references.at(reference - 1);
    for (const VariableBinding& binding : d->bindingsOf(reference)) {
        DebugVariable v;
        const bool openable = binding.first.startsWith(QLatin1Char('+'));
        v.name = openable ? binding.first.mid(1) : binding.first;
        v.type = binding.second.typeName();
        v.value = binding.second.hasValue() ? binding.second.value() : v.type;
        if (openable) {
            v.reference = d->addReference({parent.scope, parent.level, binding.first, reference});
            // A list or an array is shown with its elements (an editor shows the value beside the
            // name); an object of the application keeps its class: its properties cost a request each.
            if (v.type == QLatin1String("list") || v.type == QLatin1String("array"))
                v.value = d->preview(v.reference, v.type);
        }
        variables << v;
    }
    return variables;
}

DebugEvaluation DebugSession::evaluate(const QString& script, int frameLevel)
{
    DebugEvaluation evaluation;
    if (!d->debugger) {
        evaluation.value = QStringLiteral("No script is running");
        return evaluation;
    }
    const int level = qMax(0, d->levelOf(frameLevel));
    VariableBinding binding;
    evaluation.ok = d->debugger->evaluateInFrame(script, level, &evaluation.value, &binding);
    if (evaluation.ok) {
        evaluation.type = binding.second.typeName();
        if (binding.first.startsWith(QLatin1Char('+')))
            evaluation.reference = d->addReference({DebuggerScope::Locals, level, binding.first, 0});
    }
    return evaluation;
}

namespace {

// A Tcl word that stands for `text` whatever it holds.
QString tclWord(const QString& text)
{
    if (text.isEmpty())
        return QStringLiteral("{}");
    QString word;
    for (const QChar c : text) {
        if (c == QLatin1Char('\n')) {
            word += QLatin1String("\\n");
            continue;
        }
        if (QStringLiteral(" \t\r;$[]{}\"\\#").contains(c))
            word += QLatin1Char('\\');
        word += c;
    }
    return word;
}

} // namespace

DebugEvaluation DebugSession::setVariable(int reference, const QString& name, const QString& value)
{
    DebugEvaluation evaluation;
    if (!d->debugger || reference < 1 || reference > d->references.size()) {
        evaluation.value = d->debugger ? QStringLiteral("No such variable") : QStringLiteral("No script is running");
        return evaluation;
    }
    const Reference where = d->references.at(reference - 1);
    if (where.scope == DebuggerScope::Application) {
        evaluation.value = QStringLiteral("The application's objects change through their properties: "
                                          "evaluate property set OBJECT NAME VALUE");
        return evaluation;
    }
    const int level = where.scope == DebuggerScope::Globals ? 0 : where.level;
    QString script;
    if (where.entry.isEmpty()) {
        script = QStringLiteral("::set %1 %2").arg(tclWord(name), tclWord(value));
    } else if (where.parent > 0 && d->references.at(where.parent - 1).entry.isEmpty()) {
        // An element: of an array by its key, of a list by its index (listed as "people.1" or "1").
        const QString variable = where.entry.mid(1);
        const QString element = name.startsWith(variable + QLatin1Char('.')) ? name.mid(variable.size() + 1) : name;
        script = QStringLiteral("if {[::array exists %1]} {::set %1(%2) %3} else {::lset %1 %2 %3; ::lindex [::set %1] %2}")
                     .arg(tclWord(variable), tclWord(element), tclWord(value));
    } else {
        evaluation.value = QStringLiteral("Only a variable, or an element of an array or a list held by one, "
                                          "can be given a value here");
        return evaluation;
    }
    VariableBinding binding;
    evaluation.ok = d->debugger->evaluateInFrame(script, level, &evaluation.value, &binding);
    if (evaluation.ok)
        evaluation.type = binding.second.typeName();
    return evaluation;
}

void DebugSession::attach(Interpreter* interpreter)
{
    detach();
    d->interpreter = interpreter;
    d->debugger = interpreter ? interpreter->debugger() : nullptr;
    if (!d->debugger)
        return;
    d->sources.clear();
    d->breakable.clear();
    d->applied.clear();
    d->debugger->setClient(this);
    d->debugger->setInteractive(true);
    d->debugger->setBreakOnError(d->stopOnErrors);
    d->entryPending = d->stopOnEntry && !d->terminating;
    d->debugger->setDebuggerMode(d->terminating ? DbgNone : d->stopOnEntry ? DbgStepInto : DbgRun);
    for (DebugBreakpoint& b : d->breakpoints) {
        b.verified = false;
        b.message = QStringLiteral("%1 is not loaded yet").arg(b.file);
    }
}

void DebugSession::detach()
{
    if (d->debugger) {
        d->debugger->setBreakOnError(false);
        d->debugger->setClient(nullptr);
    }
    d->debugger = nullptr;
    d->interpreter = nullptr;
    d->sources.clear();
    d->applied.clear();
    d->breakable.clear();
}

void DebugSession::sourceRegistered(Debugger* debugger, int sourceId, const QString& fileName)
{
    if (debugger != d->debugger || fileName.isEmpty())
        return;
    const QString file = canonical(fileName);
    d->sources.insert(sourceId, file);
    bool any = false;
    for (DebugBreakpoint& b : d->breakpoints) {
        if (!d->matches(b, file))
            continue;
        any = true;
        const bool wasVerified = b.verified;
        const int line = b.line;
        if (d->resolve(b, sourceId, b.line) || !wasVerified || line != b.line)
            d->frontend->breakpointChanged(b);
    }
    if (any)
        d->apply();
}

void DebugSession::running(Debugger* debugger)
{
    if (d->stopped || debugger != d->debugger)
        return;
    if (d->pauseRequested.load(std::memory_order_relaxed))
        debugger->setDebuggerMode(DbgStepInto); // the next hook stops
    d->frontend->poll(*this);
}

void DebugSession::functionStarting()
{
    if (d->debugger && d->stepping && d->debugger->debuggerMode() == DbgStepOver)
        d->debugger->setDebuggerMode(DbgStepInto);
}

void DebugSession::output(const QString& text, DebugOutputCategory category)
{
    d->frontend->output(text, category);
}

void DebugSession::scriptFailed(const QString& description)
{
    if (!d->stopOnErrors || !d->debugger || d->terminating || d->stopped)
        return;
    // The script's frames are gone; the debugger shows them as they were when the error was raised.
    const bool kept = d->debugger->enterPostMortem();
    DebugStop stop;
    stop.reason = DebugStopReason::Error;
    stop.description = kept ? description : description + QStringLiteral(" (the variables where it was raised are gone)");
    present(stop);
    d->debugger->leavePostMortem();
}

void DebugSession::verificationFailed(const QString& description)
{
    if (!d->stopOnFailures || !d->debugger || d->terminating || d->stopped)
        return;
    d->debugger->synchronize();
    d->debugger->stopBecause(Debugger::StopAtError, description);
}

void DebugSession::stopped(Debugger* debugger)
{
    if (d->stopped || debugger != d->debugger || d->terminating)
        return;
    DebugStop stop;
    switch (debugger->stopCause()) {
    case Debugger::StopAtScriptBreakpoint:
        stop.reason = DebugStopReason::ScriptBreakpoint;
        stop.description = debugger->stopMessage();
        present(stop);
        return;
    case Debugger::StopAtError:
        stop.reason = DebugStopReason::Error;
        stop.description = debugger->stopMessage();
        present(stop);
        return;
    case Debugger::StopAtHook:
        break;
    }

    const bool paused = d->pauseRequested.exchange(false);
    const DbgMode mode = debugger->debuggerMode();
    const bool stepStop = mode == DbgStepInto || (mode == DbgStepOver && debugger->frameDepth() <= debugger->stepOverDepth());

    // The breakpoints at this place whose conditions hold. A procedure's return makes the caller's
    // line current again: its breakpoints were hit when the line began.
    const int line = debugger->currentLine();
    const QString file = d->sources.value(debugger->currentSourceId());
    if (!debugger->returningToCaller() && !file.isEmpty()) {
        d->stopped = true; // conditions are evaluated without stopping anywhere else
        d->frames = debugger->frameInfo();
        const int level = d->levelOf(0);
        for (DebugBreakpoint& b : d->breakpoints) {
            if (!b.verified || b.line != line || !d->matches(b, file))
                continue;
            if (!b.condition.trimmed().isEmpty()) {
                QString value;
                // A condition may come braced, as Tcl writes expressions: {$n > 3}.
                QString condition = b.condition.trimmed();
                if (condition.startsWith(QLatin1Char('{')) && condition.endsWith(QLatin1Char('}')))
                    condition = condition.mid(1, condition.size() - 2);
                const bool ok = debugger->evaluateInFrame(QStringLiteral("expr {%1}").arg(condition), qMax(0, level),
                                                          &value, nullptr);
                if (!ok) {
                    stop.breakpointIds << b.id;
                    stop.description = QStringLiteral("The condition of breakpoint %1 (%2) failed: %3")
                                           .arg(b.id)
                                           .arg(b.condition, value);
                    continue;
                }
                bool isTrue = false;
                const QString v = value.trimmed().toLower();
                const int number = v.toInt(&isTrue);
                isTrue = isTrue ? number != 0 : (v == "true" || v == "yes" || v == "on");
                if (!isTrue)
                    continue;
            }
            ++b.hits;
            if (!b.hitCondition.trimmed().isEmpty()) {
                static const QRegularExpression form(QStringLiteral("^\\s*(>=|<=|==|>|<|%)?\\s*(\\d+)\\s*$"));
                const QRegularExpressionMatch m = form.match(b.hitCondition);
                if (m.hasMatch()) {
                    const QString op = m.captured(1);
                    const int n = m.captured(2).toInt();
                    const bool hit = op.isEmpty() || op == "==" ? b.hits == n
                                     : op == ">="           ? b.hits >= n
                                     : op == ">"            ? b.hits > n
                                     : op == "<="           ? b.hits <= n
                                     : op == "<"            ? b.hits < n
                                                            : n > 0 && b.hits % n == 0;
                    if (!hit)
                        continue;
                }
            }
            if (!b.logMessage.isEmpty()) {
                // {expression} parts are evaluated in the frame; the message is logged, the script goes on.
                QString text;
                static const QRegularExpression part(QStringLiteral("\\{([^{}]*)\\}"));
                int at = 0;
                for (auto it = part.globalMatch(b.logMessage); it.hasNext();) {
                    const QRegularExpressionMatch m = it.next();
                    text += b.logMessage.mid(at, m.capturedStart() - at);
                    QString value;
                    debugger->evaluateInFrame(QStringLiteral("expr {%1}").arg(m.captured(1)), qMax(0, level), &value,
                                              nullptr);
                    text += value;
                    at = m.capturedEnd();
                }
                text += b.logMessage.mid(at);
                d->frontend->output(QStringLiteral("%1:%2: %3").arg(QFileInfo(file).fileName()).arg(line).arg(text),
                                    DebugOutputCategory::Log);
                continue;
            }
            stop.breakpointIds << b.id;
        }
        d->stopped = false;
    }

    if (!stop.breakpointIds.isEmpty())
        stop.reason = DebugStopReason::Breakpoint;
    else if (d->entryPending)
        stop.reason = DebugStopReason::Entry;
    else if (paused)
        stop.reason = DebugStopReason::Pause;
    else if (stepStop && d->stepping)
        stop.reason = DebugStopReason::Step;
    else
        return; // only a breakpoint whose condition or hit count did not hold: go on
    d->entryPending = false;
    present(stop);
}

void DebugSession::present(const DebugStop& stop)
{
    Debugger* debugger = d->debugger;
    d->stopped = true;
    d->resumed = false;
    d->entryPending = false;
    d->pauseRequested.store(false);
    d->references.clear();
    debugger->resetVariableWatcher();
    d->frames.clear();
    for (const DebuggerFrameInfo& f : debugger->frameInfo())
        if (f.position.line > 0)
            d->frames << f;
    const DbgMode mode = debugger->debuggerMode();
    const int depth = debugger->stepOverDepth();
    d->frontend->stopped(*this, stop);
    // A front end that returned without a resume command lets the script go on as it was going.
    if (!d->resumed && d->debugger) {
        d->debugger->setDebuggerMode(mode == DbgStepInto || mode == DbgStepOver ? DbgRun : mode);
        d->debugger->setStepOverDepth(depth);
        d->stepping = false;
    }
    d->references.clear();
    d->frames.clear();
    d->stopped = false;
}
