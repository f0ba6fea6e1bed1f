// Event and recorder-control commands: sending events to objects of the application under test,
// installing and removing script handlers for the events the application raises, and the recorder's
// per-class switches and filters. The work is the inspector's; these handlers check and convert words.
//
// Handler callbacks: a handler is the name of a Tcl procedure. When the application handles an event
// (one sent with sendEvent, mouse input, or one it raises itself), the inspector calls, in this order,
// the handlers installed for that object, for its type (or a base type) and for all objects. Each is
// called through the framework interpreter's callFunction, with the object's handle followed by the
// event's arguments as Tcl values (a "QMouseEvent" handler: proc onMouse {object type x y button
// modifiers}). It runs inside the command that made the application raise the event; an error in the
// handler (or a handler that is no procedure) fails that command. Handlers are dropped when the
// application ends.
#include "tclcommands.h"

#include "applicationcontext.h"
#include "inspector.h"
#include "interpreter.h"
#include "objectapi.h"
#include "runnerinterface.h"
#include "tclconversion.h"
#include "tclhandles.h"
#include "tclinterpreter.h"
#include "tclspecific.h"

namespace
{

// The name a word gives: an object map entry evaluates to its name, any other word is its own text.
QString objectNameText(Tcl_Interp* interp, Tcl_Obj* word)
{
    if (isObjectMapObject(interp, word)) {
        Tcl_Obj* w = word;
        Tcl_EvalObjv(interp, 1, &w, 0);
        const QString name = resultText(interp);
        Tcl_ResetResult(interp);
        return name;
    }
    return textOf(word);
}

// Handlers are only registered while the current application context refers to a live application.
bool currentContextValid()
{
    Interpreter* interpreter = Interpreter::self();
    RunnerInterface* runner = interpreter ? interpreter->runner() : nullptr;
    if (!runner)
        return false;
    const SharedPtr<ApplicationContext> context = runner->applicationContext(QString());
    return context && context->isValid();
}

/*
 * The worker of installEventHandler and uninstallEventHandler: ?object|typeName? event callback
 *
 * Results: empty, or the inspector's last error when it refused. Side effects: the inspector's handler
 * list changes.
 */
int eventHandlerCommand(Tcl_Interp* interp, int objc, Tcl_Obj* const objv[], bool install)
{
    if (objc != 3 && objc != 4) {
        Tcl_WrongNumArgs(interp, 1, objv, "[object|typeName] event callback");
        return TCL_ERROR;
    }
    if (!currentContextValid())
        return setErrorResult(interp,
                              QStringLiteral("Invalid current application context, check that you have an "
                                             "application started and that it's still running"));
    Inspector* inspector = Inspector::self();
    bool ok = false;
    if (objc == 3) {
        const QString eventName = textOf(objv[1]);
        const QString callback = textOf(objv[2]);
        ok = install ? inspector->installEventHandler(eventName, callback)
                     : inspector->uninstallEventHandler(eventName, callback);
    } else {
        const QString eventName = textOf(objv[2]);
        const QString callback = textOf(objv[3]);
        if (SharedPtr<Object> object = objectFromValue(objv[1])) {
            ok = install ? inspector->installEventHandler(object, eventName, callback)
                         : inspector->uninstallEventHandler(object, eventName, callback);
        } else {
            const QString typeName = textOf(objv[1]);
            if (typeName.isEmpty())
                return setErrorResult(interp,
                                      QStringLiteral("First argument of %1 with 3 arguments is neither a GUI "
                                                     "object nor a type name")
                                          .arg(install ? QLatin1String("installEventHandler")
                                                       : QLatin1String("uninstallEventHandler")));
            ok = install ? inspector->installTypeEventHandler(typeName, eventName, callback)
                         : inspector->uninstallTypeEventHandler(typeName, eventName, callback);
        }
    }
    if (!ok)
        return setErrorResult(interp, inspector->lastError());
    return finishCommand(TCL_OK);
}

using ClassSwitch = void (Inspector::*)(const QString&, bool);

/*
 * The worker of the recorder and event-compression switches: className true|false
 *
 * Results: empty. A word that is no boolean counts as true. Side effects: the inspector's setting for
 * the class.
 */
int classSwitchCommand(Tcl_Interp* interp, int objc, Tcl_Obj* const objv[], ClassSwitch setter)
{
    if (objc != 3) {
        Tcl_WrongNumArgs(interp, 1, objv, "className true|false");
        return TCL_ERROR;
    }
    int on = 1;
    if (Tcl_GetBooleanFromObj(nullptr, objv[2], &on) != TCL_OK)
        on = 1;
    (Inspector::self()->*setter)(textOf(objv[1]), on != 0);
    return finishCommand(TCL_OK);
}

} // namespace

/*
 * sendEvent event object ?arg ...?
 *
 * Results: empty. The words after the object are converted for the event type's signature; the last
 * argument of a "QMouseEvent" may be left out. Side effects: the object handles the event, and the
 * handlers installed for it are called.
 */
int SendEventObjCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    if (objc < 3) {
        Tcl_WrongNumArgs(interp, 1, objv, "event object ?arg ...?");
        return TCL_ERROR;
    }
    Inspector* inspector = Inspector::self();
    const Class* global = inspector->globalClass();
    if (!global)
        return setErrorResult(interp, QStringLiteral("Invalid application context"));
    const QString eventName = textOf(objv[1]);
    const Event* event = global->event(eventName);
    if (!event)
        return setErrorResult(interp, QStringLiteral("Unknown event type ") + eventName);
    SharedPtr<Object> object = objectFromValue(objv[2]);
    if (!object) {
        const QString name = objectNameText(interp, objv[2]);
        object = inspector->findObject(resolveObjectName(name));
        if (!object)
            return setErrorResult(interp, QStringLiteral("Invalid object name '") + name + QLatin1Char('\''));
    }
    Signature signature = event->signature();
    const int given = objc - 3;
    if (event->name() == QLatin1String("QMouseEvent") && !signature.isEmpty() &&
        given == signature.size() - 1)
        signature.removeLast();
    if (given != signature.size())
        return setErrorResult(interp, QStringLiteral("Wrong number of event parameters. Expected: ") +
                                          event->signature().toString());
    ObjectList args;
    if (!convertArguments(interp, &args, objv + 3, signature))
        return TCL_ERROR;
    // Events are posted as the application's event loop would: one the object does not take (hidden,
    // disabled, gone) is dropped, with a warning for whoever reads the log.
    if (!inspector->sendEvent(event, object, args))
        qWarning("sendEvent: %s to '%s' dropped: %s", qPrintable(eventName), qPrintable(object->realName()),
                 qPrintable(inspector->lastError()));
    Tcl_ResetResult(interp); // a handler's result is not this command's
    return finishCommand(TCL_OK);
}

int InstallEventHandlerObjCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    return eventHandlerCommand(interp, objc, objv, true);
}

int UninstallEventHandlerObjCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    return eventHandlerCommand(interp, objc, objv, false);
}

/*
 * eventHandlers
 *
 * Results: the installed handlers in the order they are called, one list each: the scope (object,
 * type or global), the object's real name or the type name (empty for global handlers), the event
 * type and the callback.
 */
int EventHandlersObjCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    if (objc != 1) {
        Tcl_WrongNumArgs(interp, 1, objv, nullptr);
        return TCL_ERROR;
    }
    Tcl_Obj* list = Tcl_NewListObj(0, nullptr);
    for (const QStringList& handler : Inspector::self()->installedHandlers()) {
        Tcl_Obj* entry = Tcl_NewListObj(0, nullptr);
        for (const QString& field : handler)
            Tcl_ListObjAppendElement(nullptr, entry, newTextObj(field));
        Tcl_ListObjAppendElement(nullptr, list, entry);
    }
    Tcl_SetObjResult(interp, list);
    return finishCommand(TCL_OK);
}

int SetMouseTrackingObjCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    return classSwitchCommand(interp, objc, objv, &Inspector::setMouseTracking);
}

int SetRecordMouseDragObjCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    return classSwitchCommand(interp, objc, objv, &Inspector::setRecordMouseDrag);
}

int SetAllowKeyEventCompressionObjCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    return classSwitchCommand(interp, objc, objv, &Inspector::setAllowKeyEventCompression);
}

int EnableEventCompressionObjCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    return classSwitchCommand(interp, objc, objv, &Inspector::enableEventCompression);
}

/*
 * setRecorderFilter type name
 *
 * Results: empty. Side effects: the recorder leaves out the objects or events the filter names.
 */
int SetRecorderFilterObjCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    if (objc != 3) {
        Tcl_WrongNumArgs(interp, 1, objv, "type name");
        return TCL_ERROR;
    }
    const QString type = textOf(objv[1]);
    if (type != QLatin1String("ObjectName") && type != QLatin1String("ObjectType") &&
        type != QLatin1String("EventType"))
        return setErrorResult(
            interp, QStringLiteral("Invalid type. Must be one of ObjectName, ObjectType or EventType"));
    if (!Inspector::self()->setRecorderFilter(type, textOf(objv[2])))
        return setErrorResult(interp, Inspector::self()->lastError());
    return finishCommand(TCL_OK);
}
