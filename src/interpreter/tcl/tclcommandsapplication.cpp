// Application context commands: starting, attaching to and waiting for applications under test,
// listing and switching their contexts, querying a context, raw mouse input, recorded gestures, and
// the remote-system commands that forward to the framework.
#include "tclcommands.h"

#include "applicationapi.h"
#include "applicationcontext.h"
#include "inspector.h"
#include "interpreter.h"
#include "objectapi.h"
#include "remotesystem.h"
#include "runnerinterface.h"
#include "tclhandles.h"
#include "tclinterpreter.h"
#include "tclspecific.h"

#include <QRegularExpression>

#include <cstring>
#include <ctime>

namespace {



RunnerInterface* runner()
{
    Interpreter* interpreter = Interpreter::self();
    return interpreter ? interpreter->runner() : nullptr;
}

int noRunner(Tcl_Interp* interp)
{
    return setErrorResult(interp, QStringLiteral("No test runner is available to manage applications"));
}

// A port or timeout word: its integer, or -1 when absent or not an integer.
int optionalInt(int objc, Tcl_Obj* const objv[], int index)
{
    int value = -1;
    if (index < objc && Tcl_GetIntFromObj(nullptr, objv[index], &value) != TCL_OK)
        value = -1;
    return value;
}

int contextResult(Tcl_Interp* interp, const SharedPtr<ApplicationContext>& context)
{
    Tcl_SetObjResult(interp, newApplicationContextValue(context));
    return finishCommand(TCL_OK);
}

/*
 * The shared worker of startApplication and attachToApplication.
 *
 * Results: a context value, or the runner's error text (the command's own text when the runner gave
 * none).
 */
int startOrAttach(Tcl_Interp* interp, int objc, Tcl_Obj* const objv[], bool attach)
{
    if (objc < 2 || objc > 5) {
        Tcl_WrongNumArgs(interp, 1, objv, "application [host] [port] [timeout]");
        return TCL_ERROR;
    }
    const QString command = attach ? QStringLiteral("attachToApplication") : QStringLiteral("startApplication");
    const QString application = textOf(objv[1]);
    const QString host = objc > 2 ? textOf(objv[2]) : QString();
    const int port = optionalInt(objc, objv, 3);
    const int timeout = optionalInt(objc, objv, 4);
    if (application.isEmpty())
        return setErrorResult(interp, QStringLiteral("empty application specified to %1()").arg(command));
    RunnerInterface* r = runner();
    if (!r)
        return noRunner(interp);
    QString error;
    SharedPtr<ApplicationContext> context = attach ? r->attachToApplication(application, host, port, timeout, &error)
                                                   : r->startApplication(application, host, port, timeout, &error);
    if (context && context->id() >= 0)
        return contextResult(interp, context);
    return setErrorResult(interp, error.isEmpty() ? command + QStringLiteral(" failed") : error);
}


bool isBase10Integer(Tcl_Obj* word)
{
    static const QRegularExpression integer(QStringLiteral("^[+-]?[0-9]+$"));
    return integer.match(textOf(word)).hasMatch();
}

// Reads a base-10 integer word; on failure the command's error is set and false returned.
bool readIntWord(Tcl_Interp* interp, Tcl_Obj* word, const char* what, int* value, int* code)
{
    if (!isBase10Integer(word)) {
        *code = setErrorResult(interp, QStringLiteral("Invalid type of %1 value").arg(QLatin1String(what)));
        return false;
    }
    if (Tcl_GetIntFromObj(interp, word, value) != TCL_OK) {
        *code = TCL_ERROR; // too large: Tcl's own message stands
        return false;
    }
    return true;
}

/*
 * The worker of mouseMove, mousePress and mouseRelease: ?object? ?x y? ?button? ?modifiers?
 *
 * Results: the integer 1, or the inspector's last error. Nothing is sent when a word is wrong.
 */
int mouseCommand(Tcl_Interp* interp, int objc, Tcl_Obj* const objv[], bool buttonAction, bool press)
{
    int i = 1;
    int given = 0;
    SharedPtr<Object> object;
    if (i < objc) {
        object = objectFromValue(objv[i]);
        if (!object && !isBase10Integer(objv[i])) {
            const QString name = textOf(objv[i]);
            object = Inspector::self()->findObject(resolveObjectName(name));
            if (!object)
                return setErrorResult(interp, QStringLiteral("Can't find object named '%1'").arg(name));
        }
        if (object) {
            given |= RunnerInterface::MouseObject;
            ++i;
        }
    }
    int x = 0, y = 0, button = 0, modifiers = 0, code = TCL_ERROR;
    const int remaining = objc - i;
    if (buttonAction ? remaining >= 3 : remaining >= 2) {
        if (!readIntWord(interp, objv[i], "x", &x, &code) || !readIntWord(interp, objv[i + 1], "y", &y, &code))
            return code;
        given |= RunnerInterface::MouseCoordinates;
        i += 2;
    }
    if (buttonAction && i < objc) {
        if (!readIntWord(interp, objv[i++], "button", &button, &code))
            return code;
        given |= RunnerInterface::MouseButton;
        if (i < objc) {
            if (!readIntWord(interp, objv[i++], "modifiers", &modifiers, &code))
                return code;
            given |= RunnerInterface::MouseModifiers;
        }
    }
    if (i < objc)
        return setErrorResult(interp, QStringLiteral("Overload not found"));
    RunnerInterface* r = runner();
    if (!r)
        return noRunner(interp);
    if (!r->mouseInput(object, given, x, y, button, modifiers, buttonAction, press)) {
        const QString error = Inspector::self()->lastError();
        return setErrorResult(interp, error.isEmpty() ? QStringLiteral("Mouse input failed") : error);
    }
    Tcl_SetObjResult(interp, Tcl_NewIntObj(1));
    return finishCommand(TCL_OK);
}

} // namespace

int StartApplicationObjCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    return startOrAttach(interp, objc, objv, false);
}

int AttachToApplicationObjCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    return startOrAttach(interp, objc, objv, true);
}

/*
 * waitForApplicationLaunch ?timeout?
 *
 * Results: the context of the application that launched; otherwise the runner's error text unchanged.
 */
int WaitForApplicationLaunchObjCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    if (objc > 2) {
        Tcl_WrongNumArgs(interp, 1, objv, "[timeout]");
        return TCL_ERROR;
    }
    RunnerInterface* r = runner();
    if (!r)
        return noRunner(interp);
    QString error;
    SharedPtr<ApplicationContext> context = r->waitForApplicationLaunch(optionalInt(objc, objv, 1), &error);
    if (context && context->id() >= 0)
        return contextResult(interp, context);
    return setErrorResult(interp, error);
}

/*
 * applicationContextList
 *
 * Results: a list of context values in the runner's order.
 */
int ApplicationContextListObjCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    if (objc != 1) {
        Tcl_WrongNumArgs(interp, 1, objv, nullptr);
        return TCL_ERROR;
    }
    RunnerInterface* r = runner();
    if (!r)
        return noRunner(interp);
    Tcl_Obj* list = Tcl_NewListObj(0, nullptr);
    for (const SharedPtr<ApplicationContext>& context : r->applicationContextList())
        Tcl_ListObjAppendElement(nullptr, list, newApplicationContextValue(context));
    Tcl_SetObjResult(interp, list);
    return finishCommand(TCL_OK);
}

/*
 * currentApplicationContext, defaultApplicationContext
 *
 * Results: the context value, also for a context whose id is -1.
 */
int CurrentApplicationContextObjCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    if (objc != 1) {
        Tcl_WrongNumArgs(interp, 1, objv, nullptr);
        return TCL_ERROR;
    }
    RunnerInterface* r = runner();
    return r ? contextResult(interp, r->applicationContext(QString())) : noRunner(interp);
}

int DefaultApplicationContextObjCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    if (objc != 1) {
        Tcl_WrongNumArgs(interp, 1, objv, nullptr);
        return TCL_ERROR;
    }
    RunnerInterface* r = runner();
    return r ? contextResult(interp, r->defaultApplicationContext()) : noRunner(interp);
}

/*
 * getApplicationContext name
 *
 * Results: the context of that name (the current one for an empty name); id -1 when none has it.
 */
int GetApplicationContextObjCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    if (objc != 2) {
        Tcl_WrongNumArgs(interp, 1, objv, "context name");
        return TCL_ERROR;
    }
    RunnerInterface* r = runner();
    return r ? contextResult(interp, r->applicationContext(textOf(objv[1]))) : noRunner(interp);
}

/*
 * setApplicationContext ?context?
 *
 * Results: empty. Side effects: the context (the default one without a word) becomes current, so later
 * lookups go to its application.
 */
int SetApplicationContextObjCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    if (objc > 2) {
        Tcl_WrongNumArgs(interp, 1, objv, "?context?");
        return TCL_ERROR;
    }
    RunnerInterface* r = runner();
    if (!r)
        return noRunner(interp);
    SharedPtr<ApplicationContext> context;
    if (objc == 2) {
        context = applicationContextFromValue(objv[1]);
        if (!context)
            return setErrorResult(interp, QStringLiteral("Invalid type passed to setApplicationContext()"));
    } else {
        context = r->defaultApplicationContext();
    }
    if (!r->switchApplicationContext(context))
        return setErrorResult(interp, QStringLiteral("Cannot switch to invalid application context"));
    Tcl_ResetResult(interp);
    return finishCommand(TCL_OK);
}

/*
 * applicationContext context option ?arg?
 *
 * Results: per option (name, commandLine, pid, osName, cwd, isRunning, startTime, usedMemory, totalTime,
 * isFrozen timeout, readStdout, readStderr, environmentVariable name, host, port, detach, and the
 * exit status: exitStatus, waitForExit seconds).
 */
int ApplicationContextObjCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    const char* option = objc >= 3 ? Tcl_GetString(objv[2]) : "";
    const bool takesArgument =
        !strcmp(option, "isFrozen") || !strcmp(option, "environmentVariable") || !strcmp(option, "waitForExit");
    if (objc != (takesArgument ? 4 : 3)) {
        Tcl_WrongNumArgs(interp, 1, objv, "context option");
        return TCL_ERROR;
    }
    SharedPtr<ApplicationContext> context = applicationContextFromValue(objv[1]);
    if (!context)
        return setErrorResult(interp, QStringLiteral("Invalid application context"));

    Tcl_Obj* result = nullptr;
    if (!strcmp(option, "name")) {
        result = newTextObj(context->name());
    } else if (!strcmp(option, "commandLine")) {
        result = newTextObj(context->commandLine());
    } else if (!strcmp(option, "pid")) {
        result = Tcl_NewWideIntObj(context->pid());
    } else if (!strcmp(option, "osName")) {
        result = newTextObj(context->osName());
    } else if (!strcmp(option, "cwd")) {
        result = newTextObj(context->cwd());
    } else if (!strcmp(option, "isRunning")) {
        result = Tcl_NewIntObj(context->isRunning() ? 1 : 0);
    } else if (!strcmp(option, "startTime")) {
        result = Tcl_NewLongObj(secondsSinceEpoch(context->startTime()));
    } else if (!strcmp(option, "usedMemory")) {
        result = Tcl_NewWideIntObj(context->usedMemory());
    } else if (!strcmp(option, "totalTime")) {
        result = Tcl_NewWideIntObj(context->totalTime());
    } else if (!strcmp(option, "isFrozen")) {
        int timeout = 0;
        if (Tcl_GetIntFromObj(nullptr, objv[3], &timeout) != TCL_OK)
            return setErrorResult(interp, QStringLiteral("Invalid isFrozen timeout value"));
        result = Tcl_NewIntObj(context->isFrozen(timeout) ? 1 : 0);
    } else if (!strcmp(option, "readStdout") || !strcmp(option, "readStderr")) {
        const bool out = !strcmp(option, "readStdout");
        const QString text = out ? context->readStdout() : context->readStderr();
        if (text.isNull())
            return setErrorResult(interp, out ? QStringLiteral("The AUT standard output is not available.")
                                              : QStringLiteral("The AUT standard error is not available."));
        result = newTextObj(text);
    } else if (!strcmp(option, "environmentVariable")) {
        result = newTextObj(context->environmentVariable(textOf(objv[3])));
    } else if (!strcmp(option, "host")) {
        result = newTextObj(context->host());
    } else if (!strcmp(option, "port")) {
        result = Tcl_NewIntObj(context->port());
    } else if (!strcmp(option, "waitForExit") || !strcmp(option, "exitStatus")) {
        // waitForExit SECONDS: the exit status once the application ended; exitStatus: the same, now.
        double seconds = 0;
        if (objc == 4 && (Tcl_GetDoubleFromObj(nullptr, objv[3], &seconds) != TCL_OK || seconds < 0))
            return setErrorResult(interp, QStringLiteral("Invalid waitForExit timeout value '%1': expected seconds")
                                              .arg(textOf(objv[3])));
        if (objc == 4 && !context->waitForExit(int(qMin(seconds, 86400.0) * 1000)))
            return setErrorResult(interp, QStringLiteral("The application '%1' is still running after %2 s")
                                              .arg(context->name()).arg(seconds));
        if (context->isRunning())
            return setErrorResult(interp, QStringLiteral("The application '%1' is still running").arg(context->name()));
        result = Tcl_NewIntObj(context->exitStatus());
    } else if (!strcmp(option, "detach")) {
        if (!context->detach())
            return setErrorResult(interp, QStringLiteral("detach() failed"));
        Tcl_ResetResult(interp);
        return finishCommand(TCL_OK);
    } else {
        return setErrorResult(interp, QStringLiteral("Unknown applicationContext option. Known options are name, "
                                                     "commandLine, cwd, pid, isRunning, startTime, usedMemory, "
                                                     "isFrozen, readStdout, readStderr, environmentVariable and "
                                                     "detach."));
    }
    Tcl_SetObjResult(interp, result);
    return finishCommand(TCL_OK);
}

int MouseMoveObjCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    return mouseCommand(interp, objc, objv, false, false);
}

int MousePressObjCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    return mouseCommand(interp, objc, objv, true, true);
}

int MouseReleaseObjCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    return mouseCommand(interp, objc, objv, true, false);
}

/*
 * readGesture gestureFile
 *
 * Results: a handle to the gesture read from the file, or the reader's error.
 */
int ReadGestureObjCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    if (objc != 2) {
        Tcl_WrongNumArgs(interp, 1, objv, "gestureFile");
        return TCL_ERROR;
    }
    QString error;
    SharedPtr<Object> gesture = readGestureByName(textOf(objv[1]), &error);
    if (!gesture)
        return setErrorResult(interp, error);
    Tcl_SetObjResult(interp, newObjectHandle(gesture));
    return finishCommand(TCL_OK);
}

// The remote-system commands: every word after the command name goes to the framework function.
#define TARVIN_REMOTE_COMMAND(command, function)                                                              \
    int command(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])                             \
    {                                                                                                         \
        return runInContext(RemoteSystemApi::function, interp, objc, objv);                                   \
    }

TARVIN_REMOTE_COMMAND(ConnectToRemoteSystemObjCmd, connectToRemoteSystem)
TARVIN_REMOTE_COMMAND(CloseRemoteSystemConnectionObjCmd, closeRemoteSystemConnection)
TARVIN_REMOTE_COMMAND(RemoteExecuteCommandObjCmd, executeCommand)
TARVIN_REMOTE_COMMAND(RemoteGetEnvironmentVariableObjCmd, getEnvironmentVariable)
TARVIN_REMOTE_COMMAND(RemoteGetOSNameObjCmd, getOSName)
TARVIN_REMOTE_COMMAND(RemoteGetDirectoryContentObjCmd, getRemoteDirectoryContent)
TARVIN_REMOTE_COMMAND(RemoteGetPathPropertyObjCmd, getRemotePathProperty)
TARVIN_REMOTE_COMMAND(RemotePathExistsObjCmd, remotePathExists)
TARVIN_REMOTE_COMMAND(RemoteRenamePathObjCmd, remoteRenamePath)
TARVIN_REMOTE_COMMAND(RemoteCreatePathObjCmd, remoteCreatePath)
TARVIN_REMOTE_COMMAND(RemoteDeletePathObjCmd, remoteDeletePath)
TARVIN_REMOTE_COMMAND(RemoteCreateFileObjCmd, remoteCreateFile)
TARVIN_REMOTE_COMMAND(RemoteDeleteFileObjCmd, remoteDeleteFile)
TARVIN_REMOTE_COMMAND(RemoteCopyPathObjCmd, remoteCopyPath)
TARVIN_REMOTE_COMMAND(RemoteUploadFileObjCmd, remoteUploadFile)
TARVIN_REMOTE_COMMAND(RemoteDownloadFileObjCmd, remoteDownloadFile)

#undef TARVIN_REMOTE_COMMAND
