// The BDD driver: steps and hooks of a feature run as Tcl commands. The support script answers which
// command runs a step; this file calls it, then the step definition itself, and turns what happened into
// the action result the feature runner expects.
#include "tclbdd.h"

#include "bddapi.h"
#include "debugger.h"
#include "interpreter.h"
#include "tclcommands.h"
#include "tclinterpreter.h"
#include "tclspecific.h"

#include <QElapsedTimer>
#include <QVector>

#include <cstring>

namespace {

const char defaultExecuteStepCommand[] = "Tarvin::BDD::get_execute_step_cmd";

Tcl_Obj* newBytesObj(const QByteArray& bytes)
{
    return Tcl_NewStringObj(bytes.constData(), bytes.size());
}

// The four words a step reaches Tcl with: its text, its multi-line text, its table and its keyword.
// Each is returned with one reference, which the caller releases.
void stepArguments(const Gherkin::Step& step, Tcl_Obj* out[4])
{
    out[0] = newBytesObj(step.stepText());
    out[1] = Tcl_NewListObj(0, nullptr);
    for (const QByteArray& line : step.multiLineText)
        Tcl_ListObjAppendElement(nullptr, out[1], newBytesObj(line));
    out[2] = Tcl_NewListObj(0, nullptr);
    for (const Gherkin::TableRow& row : step.table) {
        Tcl_Obj* rowObj = Tcl_NewListObj(0, nullptr);
        for (const Gherkin::TableCell& cell : row)
            Tcl_ListObjAppendElement(nullptr, rowObj, newBytesObj(cell.text));
        Tcl_ListObjAppendElement(nullptr, out[2], rowObj);
    }
    out[3] = Tcl_NewStringObj(stepKeyword(step.type), -1);
    for (int i = 0; i < 4; ++i)
        Tcl_IncrRefCount(out[i]);
}

bool hasPrefix(const char* text, const char* prefix)
{
    return strncmp(text, prefix, strlen(prefix)) == 0;
}

bool isReportedFailure(const char* message)
{
    return hasPrefix(message, "VerificationFailure: ") || hasPrefix(message, "Skipped: ");
}

// The position a failure is reported at: where the debugger stands, with the script stack kept for the
// runner's report.
void noteFailurePosition(Gherkin::ScriptActions::Result* result)
{
    Debugger* debugger = Debugger::self();
    if (!debugger)
        return;
    result->line = debugger->currentLine();
    result->file = debugger->currentFile().toUtf8();
    if (Interpreter* interpreter = debugger->interpreter())
        interpreter->setErrorCallStack(debugger->callStack());
}

// The frame pushed around a call; returns the depth below it.
int pushFrame()
{
    Debugger* debugger = Debugger::self();
    if (!debugger)
        return 0;
    const int depth = debugger->frameDepth();
    debugger->pushFrameAndSetCurrent(DebuggerFrame{-1, -1, -1});
    return depth;
}

// A procedure that ended in an error leaves the frame it pushed; those frames go first, so that the pop
// gives back the position from before the call.
void trimFrames(Debugger* debugger, int depth)
{
    while (debugger->frameDepth() > depth)
        debugger->popFrame();
}

void popFrame(int depth)
{
    if (Debugger* debugger = Debugger::self()) {
        trimFrames(debugger, depth + 1);
        debugger->popFrameAndSetCurrent();
    }
}

// Where the support script noted the hook's definition (Tarvin::BDD::hook_positions).
void hookPosition(Tcl_Interp* interp, const char* hook, Gherkin::ScriptActions::HookRun* run)
{
    Tcl_Obj* position = Tcl_GetVar2Ex(interp, "Tarvin::BDD::hook_positions", hook, TCL_GLOBAL_ONLY);
    Tcl_Obj* file = nullptr;
    Tcl_Obj* line = nullptr;
    if (!position || Tcl_ListObjIndex(nullptr, position, 0, &file) != TCL_OK ||
        Tcl_ListObjIndex(nullptr, position, 1, &line) != TCL_OK || !file || !line)
        return;
    run->file = Tcl_GetString(file);
    Tcl_GetIntFromObj(nullptr, line, &run->line);
}

} // namespace

const char* stepKeyword(int type)
{
    switch (type) {
    case 0:
        return "Given";
    case 1:
        return "When";
    case 2:
        return "Then";
    default:
        return "";
    }
}

/*
 * Results: the command's return code; TCL_ERROR with the result untouched when there is no such command.
 * Side effects: every word is held for the duration of the call.
 */
int directCall(Tcl_Interp* interp, const char* name, int argc, Tcl_Obj* const args[])
{
    Tcl_CmdInfo info;
    if (!Tcl_GetCommandInfo(interp, name, &info))
        return TCL_ERROR;
    QVector<Tcl_Obj*> words;
    words.reserve(argc + 1);
    words.append(Tcl_NewStringObj(name, -1));
    for (int i = 0; i < argc; ++i)
        words.append(args[i]);
    for (Tcl_Obj* word : words)
        Tcl_IncrRefCount(word);
    const int code = info.objProc(info.objClientData, interp, words.size(), words.data());
    for (Tcl_Obj* word : words)
        Tcl_DecrRefCount(word);
    return code;
}

TclGherkinDriverScriptActions::TclGherkinDriverScriptActions(Tcl_Interp* interp, const QByteArray& command)
    : interp(interp), executeStepCommand(command.isEmpty() ? QByteArray(defaultExecuteStepCommand) : command)
{
}

TclGherkinDriverScriptActions::~TclGherkinDriverScriptActions() = default;

Gherkin::ScriptActions::Result TclGherkinDriverScriptActions::runStep(const Gherkin::Step& step)
{
    Result result;
    Tcl_Obj* args[4];
    stepArguments(step, args);
    // The doc string's content type (```json) is no argument of the definition: it reads it here.
    Tcl_SetVar2Ex(interp, "Tarvin::BDD::doc_string_type", nullptr, newBytesObj(step.docStringType), TCL_GLOBAL_ONLY);

    const int depth = pushFrame();
    const int code = directCall(interp, executeStepCommand.constData(), 4, args);
    popFrame(depth);
    Tcl_Obj* answer = Tcl_GetObjResult(interp);
    Tcl_IncrRefCount(answer);

    if (code == TCL_ERROR) {
        int errorCode = 0;
        Tcl_Obj* errorCodeObj = Tcl_GetVar2Ex(interp, "errorCode", nullptr, TCL_GLOBAL_ONLY);
        if (errorCodeObj)
            Tcl_GetIntFromObj(nullptr, errorCodeObj, &errorCode);
        switch (errorCode) {
        case 1:
            result.status = StepNotCallable;
            result.message = Tcl_GetString(answer);
            break;
        case 3:
            result.status = StepUndefined;
            break;
        case 4:
            result.status = StepAmbiguous;
            result.message = Tcl_GetString(answer);
            break;
        default:
            result.status = StepPassed;
            break;
        }
    } else if (code == TCL_OK) {
        Tcl_Obj* call = nullptr;
        int count = 0;
        Tcl_Obj** elements = nullptr;
        if (Tcl_ListObjIndex(nullptr, answer, 1, &call) != TCL_OK || !call ||
            Tcl_ListObjGetElements(nullptr, call, &count, &elements) != TCL_OK) {
            result.status = StepInternal;
            result.message = "Tcl_ListObjGetElements failed";
        } else {
            Tcl_Obj* where = nullptr;
            if (Tcl_ListObjIndex(nullptr, answer, 0, &where) == TCL_OK && where)
                result.definition = Tcl_GetString(where);
            // The words are copied and held: the call may change the list they came from.
            QVector<Tcl_Obj*> words(elements, elements + count);
            for (Tcl_Obj* word : words)
                Tcl_IncrRefCount(word);
            Tcl_CmdInfo info;
            if (words.isEmpty() || !Tcl_GetCommandInfo(interp, Tcl_GetString(words.first()), &info)) {
                result.status = StepInternal;
                result.message = "Tcl_GetCommandInfo failed";
            } else {
                const int stepDepth = pushFrame();
                const int stepCode = info.objProc(info.objClientData, interp, words.size(), words.data());
                const QByteArray message = Tcl_GetStringResult(interp);
                if (stepCode != TCL_OK) {
                    result.message = message;
                    result.status = isReportedFailure(message.constData()) ? StepAborted : StepFailed;
                    noteFailurePosition(&result);
                } else {
                    result.status = message == "AbortScenario" ? StepAborted : StepPassed;
                }
                popFrame(stepDepth);
            }
            for (Tcl_Obj* word : words)
                Tcl_DecrRefCount(word);
        }
    }

    Tcl_DecrRefCount(answer);
    for (Tcl_Obj* arg : args)
        Tcl_DecrRefCount(arg);
    return result;
}

Gherkin::ScriptActions::Result TclGherkinDriverScriptActions::runHooks(int kind, int phase,
                                                                       const QByteArray& titleOrText)
{
    static const char* const kinds[] = {"Feature", "Scenario", "Step"};
    static const char* const phases[] = {"Start", "End"};
    QByteArray variable("Tarvin::BDD::On");
    if (kind >= 0 && kind < 3)
        variable += kinds[kind];
    if (phase >= 0 && phase < 2)
        variable += phases[phase];
    variable += "Hooks";

    Result result;
    Tcl_Obj* hooks = Tcl_GetVar2Ex(interp, variable.constData(), nullptr, TCL_GLOBAL_ONLY);
    if (!hooks)
        hooks = Tcl_NewObj();
    Tcl_IncrRefCount(hooks);
    int count = 0;
    if (Tcl_ListObjLength(nullptr, hooks, &count) != TCL_OK)
        count = 0;

    // A fresh context procedure for this moment; its title is fixed into its body.
    QByteArray definition;
    definition += QByteArray(8, ' ') + "namespace eval Tarvin {" + QByteArray(8, ' ') + "namespace eval BDD {" +
                  QByteArray(8, ' ') + "proc context {cmd args} {" + QByteArray(12, ' ') + "switch $cmd {" +
                  QByteArray(4, ' ');
    definition += kind == ScriptActions::StepHook ? "text" : "title";
    definition += " { if {[llength $args] > 0} { error \"$cmd field cannot be written to\" }\nreturn {";
    definition += titleOrText;
    definition += "}} ";
    definition += "userData { if {[llength $args] > 0} { set Tarvin::BDD::context_user_data [join $args] }\n"
                  "return $Tarvin::BDD::context_user_data }";
    definition += QByteArray(16, ' ') + "default {error \"unknown context field '$cmd'\"}" + QByteArray(13, ' ') + "}" +
                  QByteArray(9, ' ') + "}" + QByteArray(9, ' ') + "}" + QByteArray(9, ' ') + "}" + QByteArray(5, ' ');
    Tcl_Eval(interp, definition.constData());
    Tcl_ResetResult(interp);

    Tcl_Obj* contextName = Tcl_NewStringObj("Tarvin::BDD::context", -1);
    Tcl_IncrRefCount(contextName);
    Debugger* debugger = Debugger::self();
    const int depth = debugger ? debugger->frameDepth() : 0;
    const DebuggerFrame before = debugger ? debugger->currentFrame() : DebuggerFrame();
    for (int i = 0; i < count; ++i) {
        Tcl_Obj* hook = nullptr;
        Tcl_ListObjIndex(nullptr, hooks, i, &hook);
        HookRun run;
        hookPosition(interp, Tcl_GetString(hook), &run);
        if (result.status != HookPassed) {
            run.status = HookNotRun; // a hook before it failed
            result.hooks.append(run);
            continue;
        }
        QElapsedTimer timer;
        timer.start();
        const int code = directCall(interp, Tcl_GetString(hook), 1, &contextName);
        run.nanoseconds = timer.nsecsElapsed();
        if (code == TCL_ERROR) {
            const char* message = Tcl_GetStringResult(interp);
            result.message = message;
            result.status = isReportedFailure(message) ? HookAborted : HookFailed;
            run.status = result.status;
            noteFailurePosition(&result);
        }
        result.hooks.append(run);
    }
    // Hooks push no frame; the position is only put back where the run left it.
    if (debugger && count > 0) {
        trimFrames(debugger, depth);
        debugger->setCurrentLine(before.line);
        debugger->setCurrentColumn(before.column);
        debugger->setCurrentSourceId(before.sourceId);
    }
    Tcl_DecrRefCount(contextName);
    Tcl_DecrRefCount(hooks);
    return result;
}

QList<QPair<QByteArray, int>> tclMatchingStepDefinitions(Tcl_Interp* interp, const Gherkin::Step& step)
{
    QList<QPair<QByteArray, int>> matches;
    Tcl_Obj* args[2] = {newBytesObj(step.stepText()), Tcl_NewStringObj(stepKeyword(step.type), -1)};
    Tcl_IncrRefCount(args[0]);
    Tcl_IncrRefCount(args[1]);
    const int code = directCall(interp, "Tarvin::BDD::get_matching_step_defs", 2, args);
    Tcl_DecrRefCount(args[0]);
    Tcl_DecrRefCount(args[1]);
    if (code != TCL_ERROR) {
        Tcl_Obj* list = Tcl_GetObjResult(interp);
        Tcl_IncrRefCount(list);
        int count = 0;
        Tcl_Obj** elements = nullptr;
        if (Tcl_ListObjGetElements(nullptr, list, &count, &elements) == TCL_OK) {
            for (int i = 0; i < count; ++i) {
                Tcl_Obj* where = nullptr;
                Tcl_Obj* line = nullptr;
                int lineNo = 0;
                Tcl_ListObjIndex(nullptr, elements[i], 0, &where);
                Tcl_ListObjIndex(nullptr, elements[i], 1, &line);
                if (line)
                    Tcl_GetIntFromObj(nullptr, line, &lineNo);
                matches.append(qMakePair(QByteArray(where ? Tcl_GetString(where) : ""), lineNo));
            }
        }
        Tcl_DecrRefCount(list);
    }
    return matches;
}

QStringList tclRegisteredStepPatterns(Tcl_Interp* interp, int stepType)
{
    QStringList patterns;
    Tcl_Obj* keyword = Tcl_NewStringObj(stepKeyword(stepType), -1);
    Tcl_IncrRefCount(keyword);
    const int code = directCall(interp, "Tarvin::BDD::get_registered_step_patterns", 1, &keyword);
    Tcl_DecrRefCount(keyword);
    if (code != TCL_ERROR) {
        Tcl_Obj* list = Tcl_GetObjResult(interp);
        Tcl_IncrRefCount(list);
        int count = 0;
        Tcl_Obj** elements = nullptr;
        if (Tcl_ListObjGetElements(nullptr, list, &count, &elements) == TCL_OK)
            for (int i = 0; i < count; ++i)
                patterns << textOf(elements[i]);
        Tcl_DecrRefCount(list);
    }
    return patterns;
}

/*
 * runFeatureFile file ?tag ...?
 * Runs the feature file through the framework; the result is true when every scenario passed.
 * Side effects: on failure the debugger moves to the position the framework reported.
 */
int RunFeatureFileObjCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    TclScriptContext context(interp);
    if (ScriptContext* current = ScriptContext::current())
        context.setTestResult(current->testResult());
    setTclArguments(&context, objc - 1, objv + 1);
    const int executed = context.execute(runFeatureFile);
    if (executed == 1) {
        const DebuggerFrame frame = context.errorFrame();
        Debugger* debugger = Debugger::self();
        if (frame.sourceId >= 0 && debugger) {
            debugger->setCurrentLine(frame.line);
            debugger->setCurrentColumn(frame.column);
            debugger->setCurrentSourceId(frame.sourceId);
        }
    }
    return finishContextCall(context, interp, executed);
}

QList<QPair<QByteArray, int>> TclInterpreter::matchingStepDefinitions(const Gherkin::Step& step)
{
    return tclMatchingStepDefinitions(tclInterp(), step);
}

QStringList TclInterpreter::registeredStepPatterns(int stepType)
{
    return tclRegisteredStepPatterns(tclInterp(), stepType);
}
