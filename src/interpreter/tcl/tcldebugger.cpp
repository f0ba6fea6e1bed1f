// The Tcl side of the debugger: hooks move the current position and keep the frame stack; the
// framework debugger decides whether to stop.
#include "tcldebugger.h"

#include "runnerinterface.h"
#include "tclinstrumenter.h"
#include "tclinterpreter.h"
#include "tclposition.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTextCodec>

#include <cstring>
#include <vector>

TclDebugger::TclDebugger(TclInterpreter* interpreter)
    : Debugger(interpreter), tclInterpreter(interpreter), watcher(new TclVariableWatcher(interpreter))
{
}

TclDebugger::~TclDebugger()
{
    // The interpreter has stopped tracing by now (the owner turns break-on-error off first).
    clearSnapshot();
    if (lastErrorInfo)
        Tcl_DecrRefCount(lastErrorInfo);
}

TclDebugger::TclPosition TclDebugger::positionOf(Tcl_Interp* interp)
{
    return TclPosition{tclProcedureLevel(interp), tclEvaluationDepth(interp)};
}

void TclDebugger::dropReturnedFrames(const TclPosition& now, bool pushing)
{
    // Frames pushed by someone else (or popped) since: line the records up with the stack.
    framePositions.resize(frameDepth());
    while (!framePositions.isEmpty()) {
        const TclPosition& top = framePositions.last();
        if (top.level < 0 || now.level < 0)
            break;
        const bool returned = (now.level < top.level && now.depth <= top.depth) ||
                              (pushing && now.level == top.level && now.depth <= top.depth);
        if (!returned)
            break;
        // As the pop the procedure did not write: the caller's position is current again.
        const DebuggerFrame frame = popFrame();
        setCurrentLine(frame.line);
        setCurrentColumn(frame.column);
        setCurrentSourceId(frame.sourceId);
        framePositions.removeLast();
    }
}

void TclDebugger::synchronize()
{
    auto tcl = static_cast<TclInterpreter*>(interpreter());
    if (tcl && tcl->tclInterp())
        dropReturnedFrames(positionOf(tcl->tclInterp()), false);
}

VariableBindings TclDebugger::variableBindings(const QString& scope)
{
    return watcher->variableBindings(scope);
}

void TclDebugger::resetVariableWatcher()
{
    watcher.reset(new TclVariableWatcher(tclInterpreter));
}

void TclDebugger::recordPush(const TclPosition& where)
{
    framePositions.resize(frameDepth() - 1);
    framePositions.append(where);
}

DebuggerFrame TclDebugger::callerPosition(Tcl_Interp* interp, const DebuggerFrame& previous) const
{
    TclCallSite site;
    if (previous.line < 1 || !tclCallSite(interp, &site) || site.line == previous.line)
        return previous;
    // Only a line of the file the caller's last hook was in: any other caller (a script built at run
    // time, a procedure without hooks) has no frame of its own here.
    const QString file = findSourceId(previous.sourceId);
    if (file.isEmpty() ||
        QFileInfo(file).absoluteFilePath() != QFileInfo(QString::fromUtf8(site.file)).absoluteFilePath())
        return previous;
    DebuggerFrame position = previous;
    position.line = site.line;
    position.column = site.column;
    return position;
}

TclDebugger::FrameState TclDebugger::frameState() const
{
    FrameState state;
    state.depth = frameDepth();
    state.top = topFrame();
    if (framePositions.size() == frameDepth() && !framePositions.isEmpty())
        state.topPosition = framePositions.last();
    state.current = currentFrame();
    return state;
}

void TclDebugger::undoTopLevelReturnPop(const FrameState& before)
{
    if (before.depth == 0 || frameDepth() != before.depth - 1)
        return;
    framePositions.resize(frameDepth());
    pushFrame(before.top);
    framePositions.append(before.topPosition);
    setCurrentLine(before.current.line);
    setCurrentColumn(before.current.column);
    setCurrentSourceId(before.current.sourceId);
}

namespace {

bool sameLine(const DebuggerFrame& before, const Debugger* debugger)
{
    return before.sourceId == debugger->currentSourceId() && before.line == debugger->currentLine() &&
           before.column < debugger->currentColumn();
}

// Whether the hook stops, by the debugger mode; mode 2 in the BDD support script returns at once.
enum Decision { Stop, Continue, Return };

Decision decide(Debugger* debugger, const DebuggerFrame& before, int depth)
{
    switch (debugger->debuggerMode()) {
    case DbgStepOver:
        if (sameLine(before, debugger))
            return Continue;
        if (depth <= debugger->stepOverDepth())
            return Stop;
        return debugger->hasBreakPoint(debugger->currentLine(), debugger->currentSourceId()) ? Stop : Continue;
    case DbgStepInto:
        if (QFileInfo(debugger->currentFile()).fileName() == QLatin1String("bdd.tcl"))
            return Return;
        return Stop;
    case DbgRun:
        if (sameLine(before, debugger))
            return Continue;
        return debugger->hasBreakPoint(debugger->currentLine(), debugger->currentSourceId()) ? Stop : Continue;
    default:
        return Continue;
    }
}

} // namespace

/*
 * __tarvin_dbg step line col sourceId
 * __tarvin_dbg frame push|pop line col sourceId
 *
 * Results: TCL_OK with an empty result, or TCL_ERROR for a malformed call or a pending error.
 * Side effects: moves the debugger's current position, pushes or pops a frame, may stop in the
 * framework debugger until the user resumes.
 */
int TarvinDbgObjCmd(ClientData clientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    auto debugger = static_cast<TclDebugger*>(clientData);
    // Requests from the runner reach the debugger while a script runs. Processing events costs more
    // than the rest of the hook, so it happens at most every few milliseconds, not on every command.
    static QElapsedTimer sinceEvents;
    if (QCoreApplication::instance() && (!sinceEvents.isValid() || sinceEvents.elapsed() >= 5)) {
        QCoreApplication::processEvents();
        sinceEvents.start();
    }
    if (objc < 3) {
        Tcl_WrongNumArgs(interp, 1, objv, "step|frame ?{args}?");
        return TCL_ERROR;
    }
    const QByteArray option = Tcl_GetString(objv[1]);
    const bool isStep = option == "step";
    if (!isStep && option != "frame")
        return setErrorResult(interp, QStringLiteral("Unknown option. Possible options are: step, frame"));
    if (isStep && objc != 5) {
        Tcl_WrongNumArgs(interp, 2, objv, "line col sourceId");
        return TCL_ERROR;
    }
    if (!isStep && objc != 6) {
        Tcl_WrongNumArgs(interp, 2, objv, "pop|push line col sourceId");
        return TCL_ERROR;
    }

    debugger->hookRan();
    const bool isPush = !isStep && !strcmp(Tcl_GetString(objv[2]), "push");
    const TclDebugger::TclPosition position = TclDebugger::positionOf(interp);
    debugger->dropReturnedFrames(position, isPush);

    int depth = debugger->frameDepth();
    const DebuggerFrame before = debugger->currentFrame();
    int line = 0, col = 0, sourceId = 0;
    if (isStep) {
        Tcl_GetIntFromObj(interp, objv[2], &line);
        Tcl_GetIntFromObj(interp, objv[3], &col);
        Tcl_GetIntFromObj(interp, objv[4], &sourceId);
        debugger->setCurrentLine(line + 1);
        debugger->setCurrentColumn(col);
        debugger->setCurrentSourceId(sourceId);
    } else {
        const QByteArray which = Tcl_GetString(objv[2]);
        if (which != "push" && which != "pop")
            return setErrorResult(interp, QStringLiteral("Unknown frame. Possible options are: push, pop"));
        Tcl_GetIntFromObj(interp, objv[3], &line);
        Tcl_GetIntFromObj(interp, objv[4], &col);
        Tcl_GetIntFromObj(interp, objv[5], &sourceId);
        if (which == "push") {
            debugger->pushFrame(debugger->callerPosition(interp, before));
            debugger->recordPush(position);
            depth = debugger->frameDepth();
            debugger->setCurrentLine(line + 1);
            debugger->setCurrentColumn(col);
            debugger->setCurrentSourceId(sourceId);
        } else if (depth >= 1) {
            // The pop stands in front of a `return` whose value is written out (`return $x`): the
            // return line is the procedure's own, shown in its frame as a step hook would show it.
            // The caller's line began before the call; nothing stops there again on the way back.
            debugger->setCurrentLine(line + 1);
            debugger->setCurrentColumn(col);
            debugger->setCurrentSourceId(sourceId);
            debugger->setReturningToCaller(false);
            const Decision decision = decide(debugger, before, depth);
            if (decision == Stop)
                debugger->stop();
            else if (decision == Continue)
                debugger->stopAndRun();
            if (debugger->frameDepth() == depth) {
                const DebuggerFrame frame = debugger->popFrame();
                debugger->setCurrentLine(frame.line);
                debugger->setCurrentColumn(frame.column);
                debugger->setCurrentSourceId(frame.sourceId);
            }
            debugger->setReturningToCaller(true);
            return finishCommand(TCL_OK);
        } else {
            qDebug("Detected unbalanced attempt to pop execution stack. return command outside of proc?");
        }
    }

    debugger->setReturningToCaller(!isStep && !isPush && depth >= 1);
    RunnerInterface* runner = debugger->interpreter() ? debugger->interpreter()->runner() : nullptr;
    if (!debugger->isPrompting() && runner && runner->promptRequested())
        debugger->prompt();

    switch (decide(debugger, before, depth)) {
    case Stop:
        debugger->stop();
        break;
    case Continue:
        debugger->stopAndRun();
        break;
    case Return:
        break;
    }
    return finishCommand(TCL_OK);
}

/*
 * source ?-encoding name? fileName
 *
 * Reads the file, instruments it for the debugger under a new source id and evaluates it in the
 * calling interpreter. Results: the evaluation's code and result; a `return` at the file's top level
 * ends the file, as with Tcl's own source. Side effects: registers the file with the debugger; [info
 * script] names the file while it runs.
 */
int SourceObjCmd(ClientData clientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    auto debugger = static_cast<TclDebugger*>(clientData);
    if (objc != 2 && objc != 4) {
        Tcl_WrongNumArgs(interp, 1, objv, "fileName");
        return TCL_ERROR;
    }
    QTextCodec* codec = QTextCodec::codecForName("utf8");
    if (objc == 4) {
        const QString option = QString::fromUtf8(Tcl_GetString(objv[1]));
        if (option != QLatin1String("-encoding"))
            return setErrorResult(interp, QStringLiteral("Unknown option '") + option +
                                              QStringLiteral("' for source command"));
        const QByteArray name = Tcl_GetString(objv[2]);
        codec = QTextCodec::codecForName(name);
        if (!codec)
            return setErrorResult(interp, QStringLiteral("Unknown encoding '") + QString::fromUtf8(name) +
                                              QStringLiteral("' for source command"));
    }
    const QString fileName = QString::fromUtf8(Tcl_GetString(objv[objc - 1]));
    QString path = fileName;
    if (QFileInfo(path).isAbsolute())
        path = QDir::cleanPath(QDir::toNativeSeparators(path));

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return setErrorResult(interp, QStringLiteral("Couldn't open file %1").arg(fileName));
    const QString code = codec->toUnicode(file.readAll());
    const QByteArray utf8 = code.toUtf8();
    const int deep = tclNestingTooDeep(utf8, maxParseNesting);
    if (deep >= 0)
        return setErrorResult(interp, QStringLiteral("In file %1 line %2: %3")
                                          .arg(QFileInfo(path).absoluteFilePath())
                                          .arg(utf8.left(deep).count('\n') + 1)
                                          .arg(deepNestingMessage()));

    const int sourceId = debugger->nextSourceId();
    const QByteArray text = instrumentSource(code, sourceId).toUtf8();
    // A relative name is registered as written: errors name it beside the test script, where the
    // runner's test cases run. A script that changed directory read another file: that one is named.
    QString registered = fileName;
    RunnerInterface* runner = debugger->interpreter() ? debugger->interpreter()->runner() : nullptr;
    if (QFileInfo(path).isRelative() && runner && !runner->testScriptPath().isEmpty() &&
        QFileInfo(QFileInfo(runner->testScriptPath()).absoluteDir().filePath(path)).absoluteFilePath() !=
            QFileInfo(path).absoluteFilePath())
        registered = QFileInfo(path).absoluteFilePath();
    debugger->rememberCode(sourceId, code);
    debugger->setCode(sourceId, registered);
    if (auto owner = dynamic_cast<TclInterpreter*>(debugger->interpreter()))
        owner->rememberSource(registered, fileName, code);

    Tcl_Obj* previousScript = swapInfoScript(interp, objv[objc - 1]);
    const TclDebugger::FrameState framesBefore = debugger->frameState();
    tclEvaluateNextAsFile(interp);
    int code2 = Tcl_EvalEx(interp, text.constData(), text.size(), 0);
    if (code2 == TCL_RETURN) {
        debugger->undoTopLevelReturnPop(framesBefore);
        // A return at the file's top level ends the file (one level of the return is used up here).
        Tcl_Obj* options = Tcl_GetReturnOptions(interp, code2);
        Tcl_IncrRefCount(options);
        Tcl_Obj* key = Tcl_NewStringObj("-level", -1);
        Tcl_IncrRefCount(key);
        Tcl_Obj* levelObj = nullptr;
        int level = 1;
        if (Tcl_DictObjGet(nullptr, options, key, &levelObj) == TCL_OK && levelObj)
            Tcl_GetIntFromObj(nullptr, levelObj, &level);
        Tcl_DictObjPut(nullptr, options, key, Tcl_NewIntObj(level > 0 ? level - 1 : 0));
        code2 = Tcl_SetReturnOptions(interp, options);
        Tcl_DecrRefCount(key);
        Tcl_DecrRefCount(options);
    }

    if (code2 == TCL_ERROR) {
        const QByteArray where = QStringLiteral("\n    (file \"%1\" line %2)")
                                     .arg(fileName, QString::number(Tcl_GetErrorLine(interp)))
                                     .toUtf8();
        Tcl_AddErrorInfo(interp, where.constData());
    }

    return restoreInfoScript(interp, previousScript, code2);
}

/*
 * info body procName
 *
 * Tcl's own `info body`, with the debug hooks that the instrumenter wrote into the body taken out:
 * scripts see their procedures as written. Results: the body, or Tcl's error.
 */
int InfoBodyObjCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    std::vector<Tcl_Obj*> words(objv, objv + objc);
    words[0] = Tcl_NewStringObj("::tcl::info::body", -1);
    Tcl_IncrRefCount(words[0]);
    const int code = Tcl_EvalObjv(interp, objc, words.data(), 0);
    Tcl_DecrRefCount(words[0]);
    if (code != TCL_OK)
        return code;
    int length = 0;
    const char* body = Tcl_GetStringFromObj(Tcl_GetObjResult(interp), &length);
    if (!std::strstr(body, "__tarvin_dbg "))
        return TCL_OK;
    const QByteArray original = stripHooks(body, length);
    Tcl_SetObjResult(interp, Tcl_NewStringObj(original.constData(), original.size()));
    return TCL_OK;
}
