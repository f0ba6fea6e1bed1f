// The framework debugger's bookkeeping: positions, frames, sources and breakpoints.
#include "debugger.h"

#include "interpreter.h"

#include <cstring>

namespace {

DebuggerPositionMirror* positionMirror = nullptr;

} // namespace

Debugger::Debugger(Interpreter* interpreter) : interp(interpreter) {}

void Debugger::setPositionMirror(DebuggerPositionMirror* mirror)
{
    positionMirror = mirror;
    if (mirror) {
        mirror->line = -1;
        mirror->sourceId = -1;
        mirror->file[0] = '\0';
    }
}

// The file name is copied only when the source changes; a step within one file writes one int.
void Debugger::mirrorPosition()
{
    if (!positionMirror)
        return;
    if (positionMirror->sourceId != current.sourceId) {
        const QByteArray file = findSourceId(current.sourceId).toUtf8();
        const int n = qMin(file.size(), int(sizeof positionMirror->file) - 1);
        memcpy(positionMirror->file, file.constData(), n);
        positionMirror->file[n] = '\0';
        positionMirror->sourceId = current.sourceId;
    }
    positionMirror->line = current.line;
}

Debugger::~Debugger() = default;

Debugger* Debugger::self()
{
    Interpreter* i = Interpreter::self();
    return i ? i->debugger() : nullptr;
}

void Debugger::setCurrentLine(int line)
{
    current.line = line;
    if (positionMirror)
        positionMirror->line = line;
}

void Debugger::setCurrentColumn(int column)
{
    current.column = column;
}

void Debugger::setCurrentSourceId(int sourceId)
{
    current.sourceId = sourceId;
    mirrorPosition();
}

void Debugger::stop()
{
    if (client)
        client->stopped(this);
}

void Debugger::stopWithObjectName(const QString&)
{
    stop();
}

void Debugger::run()
{
    setDebuggerMode(DbgRun);
}

void Debugger::next()
{
    storedDepth = frameDepth();
    setDebuggerMode(DbgStepOver);
}

void Debugger::step()
{
    setDebuggerMode(DbgStepInto);
}

VariableBindings Debugger::variableBindings(const QString&)
{
    return {};
}

void Debugger::resetVariableWatcher() {}

void Debugger::setInteractive(bool on)
{
    interactive = on;
}

void Debugger::setDebuggerMode(DbgMode m)
{
    if (m == DbgStepOver && mode != DbgStepOver)
        storedDepth = frameDepth();
    mode = m;
}

void Debugger::setBreakPoint(int line, int sourceId, bool enabled)
{
    if (enabled)
        breakPoints.insert(qMakePair(line, sourceId));
    else
        breakPoints.remove(qMakePair(line, sourceId));
}

int Debugger::nextSourceId()
{
    return ++lastSourceId;
}

void Debugger::setCode(int sourceId, const QString& fileName)
{
    sources.insert(sourceId, fileName);
    if (client)
        client->sourceRegistered(this, sourceId, fileName);
}

QList<int> Debugger::breakableLines(int)
{
    return {};
}

QList<DebuggerFrameInfo> Debugger::frameInfo()
{
    QList<DebuggerFrameInfo> info;
    info.append(DebuggerFrameInfo{current, QString(), -1});
    for (int i = frames.size() - 1; i >= 0; --i)
        info.append(DebuggerFrameInfo{frames.at(i), QString(), -1});
    return info;
}

VariableBindings Debugger::scopeBindings(DebuggerScope, int, const QString& entryName)
{
    return variableBindings(entryName);
}

bool Debugger::evaluateInFrame(const QString&, int, QString* result, VariableBinding*)
{
    *result = QStringLiteral("This interpreter cannot evaluate while stopped");
    return false;
}

void Debugger::stopBecause(StopCause why, const QString& message)
{
    cause = why;
    causeMessage = message;
    stop();
    cause = StopAtHook;
    causeMessage.clear();
}

QString Debugger::findSourceId(int sourceId) const
{
    return sources.value(sourceId);
}

void Debugger::pushFrame(const DebuggerFrame& frame)
{
    frames.append(frame);
}

DebuggerFrame Debugger::popFrame()
{
    return frames.isEmpty() ? DebuggerFrame() : frames.takeLast();
}

void Debugger::setFrameStack(const QList<DebuggerFrame>& stack, const DebuggerFrame& position)
{
    frames = stack;
    current = position;
    mirrorPosition();
}

void Debugger::pushFrameAndSetCurrent(const DebuggerFrame& frame)
{
    pushFrame(current);
    current = frame;
    mirrorPosition();
}

void Debugger::popFrameAndSetCurrent()
{
    if (!frames.isEmpty())
        current = frames.takeLast();
    mirrorPosition();
}

LineInfoList Debugger::callStack() const
{
    LineInfoList stack;
    if (current.line > 0)
        stack.append(LineInfo(findSourceId(current.sourceId), current.line));
    for (int i = frames.size() - 1; i >= 0; --i) {
        const DebuggerFrame& f = frames.at(i);
        if (f.line > 0)
            stack.append(LineInfo(findSourceId(f.sourceId), f.line));
    }
    return stack;
}

bool Debugger::hasBreakPoint(int line, int sourceId) const
{
    return breakPoints.contains(qMakePair(line, sourceId));
}

void Debugger::stopAndRun()
{
    if (client)
        client->running(this);
}

void Debugger::prompt()
{
    if (!client || prompting)
        return;
    prompting = true;
    client->prompt(this);
    prompting = false;
}
