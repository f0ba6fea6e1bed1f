// What the Tcl debugger tells about a stopped script: the lines that can stop, its frames with their
// procedures and levels, the variables of a frame by scope, evaluation in a frame, and the snapshot
// of the frames and variables where an error was raised, for a post-mortem look once the error has
// unwound them.
#include "tcldebugger.h"

#include "tclinstrumenter.h"
#include "tclinterpreter.h"
#include "tclposition.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <cstring>

namespace {

// Reads variables in the frame at a level for as long as it lives.
class VariableFrame {
public:
    VariableFrame(Tcl_Interp* interp, int level) : interp(interp), previous(tclEnterVariableFrame(interp, level)) {}
    ~VariableFrame() { tclRestoreVariableFrame(interp, previous); }

private:
    Tcl_Interp* interp;
    void* previous;
};

// The words of a list result; empty when it is none.
QList<QByteArray> listElements(Tcl_Interp* interp, Tcl_Obj* list)
{
    QList<QByteArray> names;
    int count = 0;
    Tcl_Obj** elements = nullptr;
    if (Tcl_ListObjGetElements(nullptr, list, &count, &elements) != TCL_OK)
        return names;
    for (int i = 0; i < count; ++i)
        names << QByteArray(Tcl_GetString(elements[i]));
    (void)interp;
    return names;
}

// Evaluates a command of words; the result object (a new reference) or null on error.
Tcl_Obj* evalWords(Tcl_Interp* interp, std::initializer_list<Tcl_Obj*> words)
{
    std::vector<Tcl_Obj*> objv(words);
    for (Tcl_Obj* w : objv)
        Tcl_IncrRefCount(w);
    const int code = Tcl_EvalObjv(interp, int(objv.size()), objv.data(), 0);
    for (Tcl_Obj* w : objv)
        Tcl_DecrRefCount(w);
    if (code != TCL_OK)
        return nullptr;
    Tcl_Obj* result = Tcl_GetObjResult(interp);
    Tcl_IncrRefCount(result);
    return result;
}

Tcl_Obj* word(const char* text)
{
    return Tcl_NewStringObj(text, -1);
}

} // namespace

Tcl_Interp* TclDebugger::liveInterp() const
{
    return tclInterpreter ? tclInterpreter->tclInterp() : nullptr;
}

QList<int> TclDebugger::breakableLines(int sourceId)
{
    QList<int> lines;
    if (!codes.contains(sourceId))
        return lines;
    // The instrumented text says where hooks went: a step hook, a procedure's entry or a `return`
    // (its frame pop) can stop. A pop that closes a body is never reached.
    const QString text = instrumentSource(codes.value(sourceId), 0);
    static const QRegularExpression hook(
        QStringLiteral("__tarvin_dbg (?:step|frame push) (\\d+) \\d+ 0; |__tarvin_dbg frame pop (\\d+) \\d+ 0; return"));
    int last = -1;
    for (auto it = hook.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        const int line = (m.capturedLength(1) ? m.captured(1) : m.captured(2)).toInt() + 1;
        if (line != last)
            lines << line;
        last = line;
    }
    std::sort(lines.begin(), lines.end());
    lines.erase(std::unique(lines.begin(), lines.end()), lines.end());
    return lines;
}

QList<DebuggerFrameInfo> TclDebugger::frameInfo()
{
    if (postMortem)
        return snapshot.frames;
    QList<DebuggerFrameInfo> info;
    Tcl_Interp* interp = liveInterp();
    if (!interp)
        return Debugger::frameInfo();
    const QList<DebuggerFrame> stack = frameStack();
    const int n = stack.size();
    auto described = [&](const DebuggerFrame& position, int level) {
        DebuggerFrameInfo frame;
        frame.position = position;
        frame.level = level;
        if (level > 0)
            frame.procedure = QString::fromUtf8(tclProcedureName(interp, level));
        return frame;
    };
    // At a procedure's return the caller's position is current while the procedure still runs.
    int currentLevel = tclProcedureLevel(interp);
    if (returning && framePositions.size() > n)
        currentLevel = n > 0 ? framePositions.at(n - 1).level : qMax(0, framePositions.at(n).level - 1);
    info << described(currentFrame(), currentLevel);
    // Frame j is the caller's position saved by push n - j; it ran at the level of the push before.
    for (int j = 1; j <= n; ++j) {
        const int push = n - j - 1;
        int level = -1;
        if (push < 0)
            level = 0;
        else if (push < framePositions.size())
            level = framePositions.at(push).level;
        info << described(stack.at(n - j), level);
    }
    return info;
}

const TclDebugger::FrameVariables* TclDebugger::snapshotFrame(int level) const
{
    for (const FrameVariables& frame : snapshot.variables)
        if (frame.level == level)
            return &frame;
    return nullptr;
}

VariableBindings TclDebugger::scopeBindings(DebuggerScope scope, int level, const QString& entryName)
{
    Tcl_Interp* interp = liveInterp();
    if (!interp)
        return {};
    inspecting = true;
    VariableBindings bindings;
    if (postMortem && scope == DebuggerScope::Locals) {
        // The frame is gone: its variables as they were, opened from the values kept.
        const FrameVariables* frame = snapshotFrame(level);
        if (frame && entryName.isEmpty()) {
            Tcl_DictSearch search;
            Tcl_Obj *key, *value;
            int done = 0;
            if (Tcl_DictObjFirst(nullptr, frame->scalars, &search, &key, &value, &done) == TCL_OK) {
                for (; !done; Tcl_DictObjNext(&search, &key, &value, &done)) {
                    const VariableBinding b = watcher->streamTclObject(Tcl_GetString(key), value);
                    if (!b.first.isEmpty())
                        bindings << b;
                }
                Tcl_DictObjDone(&search);
            }
            const QList<QByteArray> arrays = listElements(interp, frame->arrays);
            for (int i = 0; i + 1 < arrays.size(); i += 2)
                bindings << VariableBinding(QLatin1Char('+') + QString::fromUtf8(arrays.at(i)),
                                            VariableValue(QStringLiteral("array")));
        } else if (frame) {
            int count = 0;
            Tcl_Obj** elements = nullptr;
            Tcl_ListObjGetElements(nullptr, frame->arrays, &count, &elements);
            const QByteArray name = entryName.mid(1).toUtf8();
            bool found = false;
            for (int i = 0; i + 1 < count; i += 2) {
                if (name != Tcl_GetString(elements[i]))
                    continue;
                found = true;
                int pairs = 0;
                Tcl_Obj** items = nullptr;
                Tcl_ListObjGetElements(nullptr, elements[i + 1], &pairs, &items);
                for (int k = 0; k + 1 < pairs; k += 2) {
                    const VariableBinding b =
                        watcher->streamTclObject(name + QByteArray(".") + QByteArray(Tcl_GetString(items[k])), items[k + 1]);
                    if (!b.first.isEmpty())
                        bindings << b;
                }
            }
            if (!found)
                bindings = watcher->variableBindings(entryName);
        }
        inspecting = false;
        return bindings;
    }
    if (!entryName.isEmpty()) {
        // Arrays are read by their names, in the frame they were listed from.
        VariableFrame frame(interp, scope == DebuggerScope::Locals && level >= 0 ? level : 0);
        bindings = watcher->variableBindings(entryName);
    } else if (scope == DebuggerScope::Locals) {
        if (level > 0) {
            VariableFrame frame(interp, level);
            bindings = watcher->localBindings();
        }
    } else if (scope == DebuggerScope::Globals) {
        bindings = watcher->globalVariableBindings();
    } else {
        // Without an application the object model has no global properties to list.
        TclSavedState saved(interp);
        if (Tcl_Eval(interp, "property list") == TCL_OK)
            bindings = watcher->applicationBindings();
    }
    inspecting = false;
    return bindings;
}

bool TclDebugger::evaluateInFrame(const QString& script, int level, QString* result, VariableBinding* binding)
{
    Tcl_Interp* interp = liveInterp();
    if (!interp) {
        *result = QStringLiteral("No script is running");
        return false;
    }
    // What the evaluation runs neither stops nor moves the stopped script's position and frames.
    const DbgMode mode = debuggerMode();
    const int depth = stepOverDepth();
    const QList<DebuggerFrame> stack = frameStack();
    const DebuggerFrame position = currentFrame();
    const QVector<TclPosition> positions = framePositions;
    const bool wasReturning = returning;
    setDebuggerMode(DbgNone);
    inspecting = true;

    Tcl_Obj* command = nullptr;
    const FrameVariables* frame = postMortem ? snapshotFrame(level) : nullptr;
    if (frame) {
        // The frame is gone: the script runs in a procedure of its own that holds copies of its variables.
        static const char body[] = "dict with __tarvin_vars {}\n"
                                   "foreach {__tarvin_n __tarvin_v} $__tarvin_arrays {array set $__tarvin_n $__tarvin_v}\n"
                                   "unset -nocomplain __tarvin_vars __tarvin_arrays __tarvin_n __tarvin_v\n"
                                   "eval [lindex [info level 0] end]";
        Tcl_Obj* lambda[] = {Tcl_NewListObj(0, nullptr), word(body), Tcl_NewStringObj(frame->ns.constData(), -1)};
        Tcl_Obj* params[] = {word("__tarvin_vars"), word("__tarvin_arrays"), word("__tarvin_script")};
        Tcl_ListObjReplace(nullptr, lambda[0], 0, 0, 3, params);
        Tcl_Obj* words[] = {word("apply"), Tcl_NewListObj(3, lambda), frame->scalars, frame->arrays,
                            newTextObj(script)};
        command = Tcl_NewListObj(5, words);
    } else {
        Tcl_Obj* words[] = {word("uplevel"), Tcl_ObjPrintf("#%d", level < 0 ? 0 : level), newTextObj(script)};
        command = Tcl_NewListObj(3, words);
    }
    Tcl_IncrRefCount(command);
    bool ok = false;
    {
        TclSavedState saved(interp);
        ok = Tcl_EvalObjEx(interp, command, 0) == TCL_OK;
        *result = resultText(interp);
        if (binding) {
            if (ok)
                *binding = watcher->streamTclObject(script.trimmed().toUtf8(), Tcl_GetObjResult(interp));
            else
                *binding = VariableBinding();
        }
    }
    Tcl_DecrRefCount(command);

    inspecting = false;
    setFrameStack(stack, position);
    framePositions = positions;
    returning = wasReturning;
    setDebuggerMode(mode);
    setStepOverDepth(depth);
    return ok;
}

void TclDebugger::setBreakOnError(bool on)
{
    Debugger::setBreakOnError(on);
    Tcl_Interp* interp = liveInterp();
    if (!interp || on == tracing || Tcl_InterpDeleted(interp))
        return;
    // Tcl writes ::errorInfo at each level an error passes only while the variable is traced; the
    // first write happens in the frame that raised it, with its variables still there.
    if (on)
        Tcl_TraceVar2(interp, "errorInfo", nullptr, TCL_GLOBAL_ONLY | TCL_TRACE_WRITES, errorInfoWritten, this);
    else
        Tcl_UntraceVar2(interp, "errorInfo", nullptr, TCL_GLOBAL_ONLY | TCL_TRACE_WRITES, errorInfoWritten, this);
    tracing = on;
    if (!on)
        clearSnapshot();
}

char* TclDebugger::errorInfoWritten(ClientData data, Tcl_Interp* interp, const char*, const char*, int flags)
{
    auto self = static_cast<TclDebugger*>(data);
    if ((flags & TCL_INTERP_DESTROYED) || self->inspecting || self->postMortem)
        return nullptr;
    self->errorRaised(interp);
    return nullptr;
}

void TclDebugger::errorRaised(Tcl_Interp* interp)
{
    Tcl_Obj* info = Tcl_GetVar2Ex(interp, "errorInfo", nullptr, TCL_GLOBAL_ONLY);
    if (!info)
        return;
    // The same error passing a further level extends the text it had.
    int length = 0, lastLength = 0;
    const char* text = Tcl_GetStringFromObj(info, &length);
    const char* last = lastErrorInfo ? Tcl_GetStringFromObj(lastErrorInfo, &lastLength) : nullptr;
    const bool continuing = last && hooks == hooksAtLastError && length >= lastLength &&
                            std::memcmp(text, last, size_t(lastLength)) == 0;
    hooksAtLastError = hooks;
    Tcl_IncrRefCount(info);
    if (lastErrorInfo)
        Tcl_DecrRefCount(lastErrorInfo);
    lastErrorInfo = info;
    if (continuing)
        return;
    clearSnapshot();
    if (tclErrorIsCaught(interp) || tclInterpreter->stopReason() != Interpreter::NotStopped)
        return;

    inspecting = true;
    TclSavedState saved(interp);
    // A procedure that runs its `return` (re-raising an error with -options or -code error) has left
    // the frame stack already: the error is its caller's, as Tcl reports it.
    if (!(returning && framePositions.size() > frameDepth()))
        synchronize();
    snapshot.frames = frameInfo();
    snapshot.errorInfo = info;
    Tcl_IncrRefCount(info);
    for (const DebuggerFrameInfo& f : snapshot.frames) {
        if (f.level <= 0 || snapshotFrame(f.level))
            continue;
        FrameVariables vars;
        vars.level = f.level;
        vars.scalars = Tcl_NewDictObj();
        vars.arrays = Tcl_NewListObj(0, nullptr);
        Tcl_IncrRefCount(vars.scalars);
        Tcl_IncrRefCount(vars.arrays);
        VariableFrame frame(interp, f.level);
        if (Tcl_Obj* ns = evalWords(interp, {word("namespace"), word("current")})) {
            vars.ns = Tcl_GetString(ns);
            Tcl_DecrRefCount(ns);
        }
        Tcl_Obj* names = evalWords(interp, {word("info"), word("locals")});
        if (names) {
            for (const QByteArray& name : listElements(interp, names)) {
                if (Tcl_Obj* value = Tcl_GetVar2Ex(interp, name.constData(), nullptr, 0)) {
                    Tcl_DictObjPut(nullptr, vars.scalars, Tcl_NewStringObj(name.constData(), name.size()), value);
                } else if (Tcl_Obj* pairs = evalWords(interp, {word("array"), word("get"),
                                                                 Tcl_NewStringObj(name.constData(), name.size())})) {
                    Tcl_ListObjAppendElement(nullptr, vars.arrays, Tcl_NewStringObj(name.constData(), name.size()));
                    Tcl_ListObjAppendElement(nullptr, vars.arrays, pairs);
                    Tcl_DecrRefCount(pairs);
                }
            }
            Tcl_DecrRefCount(names);
        }
        snapshot.variables << vars;
    }
    inspecting = false;
}

void TclDebugger::clearSnapshot()
{
    for (FrameVariables& vars : snapshot.variables) {
        Tcl_DecrRefCount(vars.scalars);
        Tcl_DecrRefCount(vars.arrays);
    }
    snapshot.variables.clear();
    snapshot.frames.clear();
    if (snapshot.errorInfo)
        Tcl_DecrRefCount(snapshot.errorInfo);
    snapshot.errorInfo = nullptr;
}

bool TclDebugger::enterPostMortem()
{
    if (!snapshot.errorInfo || !lastErrorInfo)
        return false;
    // Only while no other error came after the one the snapshot is of.
    int length = 0, lastLength = 0;
    const char* text = Tcl_GetStringFromObj(snapshot.errorInfo, &length);
    const char* last = Tcl_GetStringFromObj(lastErrorInfo, &lastLength);
    if (lastLength < length || std::memcmp(text, last, size_t(length)) != 0)
        return false;
    postMortem = true;
    resetVariableWatcher();
    return true;
}

void TclDebugger::leavePostMortem()
{
    postMortem = false;
    clearSnapshot();
}
