// Where in Tcl's evaluation the running command is, read from the interpreter's own frame records:
// the same numbers as [info level] and [info frame] give, without evaluating a script for each. The
// debug hook asks for them on every instrumented command.
#include "tclposition.h"

#include "tclinstrumenter.h"

#include <tclInt.h>
#include <tclCompile.h>

#include <cstring>

int tclProcedureLevel(Tcl_Interp* interp)
{
    const Interp* iPtr = reinterpret_cast<const Interp*>(interp);
    return iPtr->varFramePtr ? iPtr->varFramePtr->level : 0;
}

int tclEvaluationDepth(Tcl_Interp* interp)
{
    const Interp* iPtr = reinterpret_cast<const Interp*>(interp);
    return iPtr->cmdFramePtr ? iPtr->cmdFramePtr->level : 0;
}

namespace {

bool startsWithWord(const char* text, int length, const char* word)
{
    const int n = int(std::strlen(word));
    while (length > 0 && (*text == ' ' || *text == '\t' || *text == '\n')) {
        ++text;
        --length;
    }
    return length > n && std::memcmp(text, word, n) == 0 &&
           (text[n] == ' ' || text[n] == '\t' || text[n] == '\n');
}

} // namespace

bool tclErrorIsCaught(Tcl_Interp* interp)
{
    const Interp* iPtr = reinterpret_cast<const Interp*>(interp);
    for (const CmdFrame* frame = iPtr->cmdFramePtr; frame; frame = frame->nextPtr) {
        if (frame->type == TCL_LOCATION_BC || frame->type == TCL_LOCATION_PREBC) {
            // The instruction that runs now (the command invoked, or for the innermost frame at least a
            // command on the same line) inside a catch range of its byte code.
            const ByteCode* code = static_cast<const ByteCode*>(frame->data.tebc.codePtr);
            const char* pc = frame->data.tebc.pc;
            if (!code || !pc)
                continue;
            const long offset = long(reinterpret_cast<const unsigned char*>(pc) - code->codeStart);
            for (int i = 0; i < code->numExceptRanges; ++i) {
                const ExceptionRange& range = code->exceptArrayPtr[i];
                if (range.type == CATCH_EXCEPTION_RANGE && offset >= range.codeOffset &&
                    offset < range.codeOffset + range.numCodeBytes)
                    return true;
            }
        } else if (frame->cmd && frame->len > 0) {
            if (startsWithWord(frame->cmd, frame->len, "catch") || startsWithWord(frame->cmd, frame->len, "try"))
                return true;
        }
    }
    return false;
}

void* tclEnterVariableFrame(Tcl_Interp* interp, int level)
{
    Interp* iPtr = reinterpret_cast<Interp*>(interp);
    CallFrame* frame = iPtr->varFramePtr;
    while (frame && frame->level > level)
        frame = frame->callerVarPtr;
    if (!frame || frame->level != level)
        return nullptr;
    CallFrame* previous = iPtr->varFramePtr;
    iPtr->varFramePtr = frame;
    return previous;
}

void tclRestoreVariableFrame(Tcl_Interp* interp, void* frame)
{
    if (frame)
        reinterpret_cast<Interp*>(interp)->varFramePtr = static_cast<CallFrame*>(frame);
}

namespace {

// A step definition's or a hook's procedure, named as the step file wrote it: `Given "pattern"`,
// `OnScenarioStart`. Read from the BDD driver's own variables, nothing is evaluated; empty for any
// other procedure.
QByteArray behaviourTitle(Tcl_Interp* interp, const QByteArray& name)
{
    auto elements = [](Tcl_Obj* list, int* count, Tcl_Obj*** items) {
        return list && Tcl_ListObjGetElements(nullptr, list, count, items) == TCL_OK;
    };
    int count = 0;
    Tcl_Obj** items = nullptr;
    if (name.startsWith("::Tarvin::BDD::Steps::")) {
        if (!elements(Tcl_GetVar2Ex(interp, "::Tarvin::BDD::definitions", nullptr, TCL_GLOBAL_ONLY), &count, &items))
            return QByteArray();
        for (int i = 0; i < count; ++i) {
            int fields = 0;
            Tcl_Obj** field = nullptr;
            if (elements(items[i], &fields, &field) && fields >= 4 && qstrcmp(name.constData(), Tcl_GetString(field[3])) == 0)
                return QByteArray(Tcl_GetString(field[0])) + " \"" + QByteArray(Tcl_GetString(field[1])) + '"';
        }
    } else if (name.startsWith("::Tarvin::BDD::Hooks::")) {
        for (const char* moment : {"FeatureStart", "FeatureEnd", "ScenarioStart", "ScenarioEnd", "StepStart", "StepEnd"}) {
            const QByteArray variable = QByteArray("::Tarvin::BDD::On") + moment + "Hooks";
            if (!elements(Tcl_GetVar2Ex(interp, variable.constData(), nullptr, TCL_GLOBAL_ONLY), &count, &items))
                continue;
            for (int i = 0; i < count; ++i)
                if (qstrcmp(name.constData(), Tcl_GetString(items[i])) == 0)
                    return QByteArray("On") + moment;
        }
    }
    return QByteArray();
}

} // namespace

QByteArray tclProcedureName(Tcl_Interp* interp, int level)
{
    const Interp* iPtr = reinterpret_cast<const Interp*>(interp);
    const CallFrame* frame = iPtr->varFramePtr;
    while (frame && frame->level > level)
        frame = frame->callerVarPtr;
    if (!frame || frame->level != level || level == 0)
        return QByteArray();
    // `namespace eval` runs its script in a frame of the namespace.
    if (!(frame->isProcCallFrame & (FRAME_IS_PROC | FRAME_IS_LAMBDA | FRAME_IS_METHOD)))
        return frame->nsPtr ? "namespace eval " + QByteArray(frame->nsPtr->fullName) : QByteArray();
    if (frame->objc < 1 || !frame->objv)
        return QByteArray();
    QByteArray name(Tcl_GetString(frame->objv[0]));
    if (name.startsWith("::Tarvin::BDD::")) {
        const QByteArray title = behaviourTitle(interp, name);
        if (!title.isEmpty())
            return title;
    }
    // A method: the object and the method, the object named by its class when it has no name of its
    // own (TclOO names objects made with `new` ::oo::ObjNN).
    if ((frame->isProcCallFrame & FRAME_IS_METHOD) && frame->objc >= 2) {
        if (name.startsWith("::oo::Obj")) {
            Tcl_Obj* script = Tcl_ObjPrintf("info object class %s", name.constData());
            Tcl_IncrRefCount(script);
            Tcl_InterpState state = Tcl_SaveInterpState(interp, TCL_OK);
            if (Tcl_EvalObjEx(interp, script, TCL_EVAL_GLOBAL) == TCL_OK)
                name = QByteArray(Tcl_GetString(Tcl_GetObjResult(interp))) + " object";
            Tcl_RestoreInterpState(interp, state);
            Tcl_DecrRefCount(script);
        }
        name += ' ';
        name += Tcl_GetString(frame->objv[1]);
    }
    return name;
}

namespace {

// Width of [from, to) as the instrumenter counts columns (a tab is 8), leaving out hook calls.
int columnWidth(const char* from, const char* to)
{
    const QByteArray text = stripHooks(from, int(to - from));
    int column = 0;
    for (const char c : text)
        column += c == '\t' ? 8 : 1;
    return column;
}

// The line and file of a command frame's command, when it comes from a file.
bool siteOf(const CmdFrame* frame, TclCallSite* site)
{
    if (frame->type == TCL_LOCATION_SOURCE) {
        // A script evaluated as a file's text, not compiled: the command's words know their lines.
        if (!frame->line || frame->nline < 1 || !frame->data.eval.path)
            return false;
        site->line = frame->line[0];
        site->column = 0;
        site->file = Tcl_GetString(frame->data.eval.path);
        return true;
    }
    if (frame->type != TCL_LOCATION_BC)
        return false;
    // Byte code: Tcl finds the command from the instruction that invoked the call, as [info frame]
    // does, in a copy (the lookup fills in the frame it is given).
    CmdFrame copy = *frame;
    TclGetSrcInfoForPc(&copy);
    bool found = false;
    if (copy.type == TCL_LOCATION_SOURCE) {
        if (copy.line && copy.nline >= 1 && copy.data.eval.path) {
            site->line = copy.line[0];
            site->file = Tcl_GetString(copy.data.eval.path);
            site->column = 0;
            const ByteCode* code = static_cast<const ByteCode*>(frame->data.tebc.codePtr);
            if (copy.cmd && code && code->source && copy.cmd >= code->source) {
                const char* lineStart = copy.cmd;
                while (lineStart > code->source && lineStart[-1] != '\n')
                    --lineStart;
                // On the first line of a body the text before it is not part of the source.
                if (lineStart > code->source)
                    site->column = columnWidth(lineStart, copy.cmd);
            }
            found = true;
        }
        if (copy.data.eval.path)
            Tcl_DecrRefCount(copy.data.eval.path); // the lookup took a reference for the copy
    }
    return found;
}

} // namespace

bool tclCallSite(Tcl_Interp* interp, TclCallSite* site)
{
    const Interp* iPtr = reinterpret_cast<const Interp*>(interp);
    const CallFrame* callee = iPtr->framePtr;
    if (!callee || callee->level == 0)
        return false;
    // The command frames of the callee's own body come first; the next one runs in the caller.
    const CmdFrame* frame = iPtr->cmdFramePtr;
    while (frame && frame->framePtr == callee)
        frame = frame->nextPtr;
    if (!frame || frame->framePtr != callee->callerPtr)
        return false;
    return siteOf(frame, site);
}

void tclEvaluateNextAsFile(Tcl_Interp* interp)
{
    reinterpret_cast<Interp*>(interp)->evalFlags |= TCL_EVAL_FILE;
}
