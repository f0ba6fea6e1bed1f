// Object lookup and tree commands: finding objects by name, waiting for them and for conditions,
// walking the object tree and listing what a class offers.
#include "tclcommands.h"

#include "inspector.h"
#include "interpreter.h"
#include "objectapi.h"
#include "runnerinterface.h"
#include "tclhandles.h"
#include "tclinterpreter.h"
#include "tclspecific.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <cstring>

namespace {



bool isIntTyped(Tcl_Obj* word)
{
    return word->typePtr && word->typePtr->name && !strcmp(word->typePtr->name, "int");
}

// The name a word gives: an object map entry evaluates to its name, any other word is its own text.
QString objectNameText(Tcl_Interp* interp, Tcl_Obj* word)
{
    if (isObjectMapObject(interp, word)) {
        Tcl_Obj* w = word;
        Tcl_EvalObjv(interp, 1, &w, 0);
        return resultText(interp);
    }
    return textOf(word);
}

} // namespace

/*
 * findObject name
 *
 * Results: a handle to the first object the name matches. Side effects: tells the runner of a failed
 * lookup.
 */
int FindObjectObjCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    if (objc != 2) {
        Tcl_WrongNumArgs(interp, 1, objv, "findObject");
        return TCL_ERROR;
    }
    const QString name = objectNameText(interp, objv[1]);
    Inspector* inspector = Inspector::self();
    if (SharedPtr<Object> object = inspector->findObject(resolveObjectName(name))) {
        Tcl_SetObjResult(interp, newObjectHandle(object));
        return finishCommand(TCL_OK);
    }
    if (Interpreter::self() && Interpreter::self()->runner())
        Interpreter::self()->runner()->objectNotFound(name, QStringLiteral("findObject"), QString());
    QString message = inspector->lastError();
    if (message.isEmpty()) {
        qWarning("Inspector::lastError() was empty when it should not be");
        message = QStringLiteral("Unknown lookup error");
    }
    return setErrorResult(interp, message);
}

int FindAllObjectsObjCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    return runInContext(findAllObjects, interp, objc, objv);
}

int WaitForObjectObjCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    return runInContext(waitForObject, interp, objc, objv);
}

int WaitForObjectExistsObjCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    return runInContext(waitForObjectExists, interp, objc, objv);
}

int WaitForObjectItemObjCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    return runInContext(waitForObjectItem, interp, objc, objv);
}

/*
 * child object {childName|childNum}
 *
 * Results: a handle to the child, by number when the word is an integer already, else by name.
 */
int ChildObjCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    if (objc != 3) {
        Tcl_WrongNumArgs(interp, 1, objv, "object {childName|childNum}");
        return TCL_ERROR;
    }
    SharedPtr<Object> parent = objectFromValue(objv[1]);
    if (!parent)
        return setErrorResult(interp, QStringLiteral("Invalid parent object"));
    if (parent->isNull())
        return setErrorResult(interp, QStringLiteral("Null parent object"));
    const int count = parent->childCount();
    if (count == 0)
        return setErrorResult(interp, QStringLiteral("Object has no children"));
    SharedPtr<Object> child;
    if (isIntTyped(objv[2])) {
        int n = -1;
        Tcl_GetIntFromObj(interp, objv[2], &n);
        if (n < 0 || n > count)
            return setErrorResult(interp, QStringLiteral("Object has only %1 children").arg(count));
        child = parent->child(n);
        if (!child) // the range check admits the count itself, which names no child
            return setErrorResult(interp, QStringLiteral("Object has only %1 children").arg(count));
    } else {
        const QString name = textOf(objv[2]);
        child = parent->child(name);
        if (!child)
            return setErrorResult(interp, QStringLiteral("Object has no child named '") + name + '\'');
    }
    Tcl_SetObjResult(interp, newObjectHandle(child));
    return finishCommand(TCL_OK);
}

/*
 * object topLevelObjects | object name | object option arg ?arg?
 *
 * Results: handles, lists of handles, 1/0 for exists, the bounds dict; properties fills an array.
 */
int ObjectObjCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    static const QString badOption =
        QStringLiteral("object: bad option. Possibly are: children, convertTo, createNull, exists, globalBounds, "
                       "grabScreenshot, parent, properties and topLevelObjects");
    const QString option = objc >= 2 ? textOf(objv[1]) : QString();
    Inspector* inspector = Inspector::self();
    if (objc == 2) {
        if (option == QLatin1String("topLevelObjects"))
            return runInContext(objectTopLevelObjects, interp, 1, objv);
        const int count = inspector->topLevelCount();
        if (count == 0)
            return setErrorResult(interp, QStringLiteral("No objects available"));
        SharedPtr<Object> object;
        if (isIntTyped(objv[1])) {
            int n = -1;
            Tcl_GetIntFromObj(interp, objv[1], &n);
            if (n < 0 || n > count)
                return setErrorResult(interp, QStringLiteral("Object number out of range (0...%1)").arg(count));
            object = inspector->topLevelObject(n);
        } else {
            object = inspector->topLevelObject(option);
        }
        if (!object)
            return setErrorResult(interp, QStringLiteral("Object '") + option + QStringLiteral("' not found."));
        Tcl_SetObjResult(interp, newObjectHandle(object));
        return finishCommand(TCL_OK);
    }
    if (objc == 3) {
        if (option == QLatin1String("exists")) {
            const QString name = objectNameText(interp, objv[2]);
            const bool found = bool(inspector->findObject(resolveObjectName(name)));
            inspector->setLastError(QString());
            Tcl_SetObjResult(interp, Tcl_NewIntObj(found ? 1 : 0));
            return finishCommand(TCL_OK);
        }
        int (*function)(ScriptContext*) = nullptr;
        if (option == QLatin1String("children"))
            function = objectChildren;
        else if (option == QLatin1String("globalBounds"))
            function = objectGlobalBounds;
        else if (option == QLatin1String("parent"))
            function = objectParent;
        else if (option == QLatin1String("createNull"))
            function = objectCreateNull;
        else if (option == QLatin1String("grabScreenshot"))
            function = objectGrabScreenshot;
        if (function)
            return runInContext(function, interp, objc - 1, objv + 1);
    }
    if (objc == 4) {
        if (option == QLatin1String("properties")) {
            TclScriptContext context(interp);
            context.setPropertyArrayName(objv[3]);
            setTclArguments(&context, 1, objv + 2);
            return finishContextCall(context, interp, context.execute(objectProperties));
        }
        if (option == QLatin1String("convertTo"))
            return runInContext(objectConvertTo, interp, objc - 1, objv + 1);
        if (option == QLatin1String("grabScreenshot"))
            return runInContext(objectGrabScreenshot, interp, objc - 1, objv + 1);
    }
    return setErrorResult(interp, badOption);
}

/*
 * inspect {methods|properties} ?type?
 *
 * Results: the text forms of the class's methods or properties.
 */
int InspectObjCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    if (objc != 2 && objc != 3) {
        Tcl_WrongNumArgs(interp, 1, objv, "option {type}");
        return TCL_ERROR;
    }
    const QString option = textOf(objv[1]);
    if (option != QLatin1String("methods") && option != QLatin1String("properties"))
        return setErrorResult(interp, QStringLiteral("bad option: must be methods"));
    const Class* cls = nullptr;
    if (objc == 3) {
        const QString name = textOf(objv[2]);
        if (!(cls = Inspector::self()->classByName(name)))
            return setErrorResult(interp, QStringLiteral("Unknown type ") + name);
    } else if (!(cls = Inspector::self()->globalClass())) {
        return setErrorResult(interp, QStringLiteral("Invalid application context"));
    }
    Tcl_Obj* list = Tcl_NewListObj(0, nullptr);
    if (option == QLatin1String("methods")) {
        for (int i = 0; i < cls->numMethods(); ++i)
            Tcl_ListObjAppendElement(nullptr, list, newTextObj(cls->method(i)->toString()));
    } else {
        for (int i = 0; i < cls->numProperties(); ++i)
            Tcl_ListObjAppendElement(nullptr, list, newTextObj(cls->property(i)->toString()));
    }
    Tcl_SetObjResult(interp, list);
    return finishCommand(TCL_OK);
}

/*
 * waitFor condition ?timeout?
 *
 * Polls the condition, first as an expression and, once that fails, as a script, until it is true (1)
 * or the timeout in milliseconds passes (0). Side effects: keeps the runner alive and processes Qt events
 * between polls.
 */
int WaitForObjCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    if (objc != 2 && objc != 3) {
        Tcl_WrongNumArgs(interp, 1, objv, "{ condition } ?timeout?");
        return TCL_ERROR;
    }
    int timeout = -1;
    if (objc == 3 && Tcl_GetIntFromObj(interp, objv[2], &timeout) != TCL_OK)
        return setErrorResult(interp, QStringLiteral("Invalid timeout value"));
    QElapsedTimer timer;
    timer.start();
    bool asScript = false;
    RunnerInterface* runner = Interpreter::self() ? Interpreter::self()->runner() : nullptr;
    while (true) {
        int value = 0;
        if (!asScript && Tcl_ExprBooleanObj(interp, objv[1], &value) != TCL_OK)
            asScript = true; // and evaluated as a script in this same step
        if (asScript) {
            if (Tcl_Eval(interp, Tcl_GetString(objv[1])) != TCL_OK ||
                Tcl_GetBooleanFromObj(nullptr, Tcl_GetObjResult(interp), &value) != TCL_OK)
                return setErrorResult(interp, QStringLiteral("Error evaluating waitFor expression"));
        }
        if (value) {
            Tcl_SetObjResult(interp, Tcl_NewIntObj(1));
            return finishCommand(TCL_OK);
        }
        if (runner)
            runner->keepAlive();
        if (QCoreApplication::instance())
            QCoreApplication::processEvents();
        const qint64 elapsed = timer.elapsed();
        if (timeout >= 0 && elapsed > timeout) {
            Tcl_SetObjResult(interp, Tcl_NewIntObj(0));
            return finishCommand(TCL_OK);
        }
        QThread::msleep(elapsed <= 1000 ? 100 : elapsed <= 2000 ? 333 : elapsed <= 3000 ? 666 : 1000);
    }
}
