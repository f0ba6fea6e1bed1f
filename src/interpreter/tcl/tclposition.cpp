// Where in Tcl's evaluation the running command is, read from the interpreter's own frame records:
// the same numbers as [info level] and [info frame] give, without evaluating a script for each. The
// debug hook asks for them on every instrumented command.
#include "tclposition.h"

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

void tclEvaluateNextAsFile(Tcl_Interp* interp)
{
    reinterpret_cast<Interp*>(interp)->evalFlags |= TCL_EVAL_FILE;
}
