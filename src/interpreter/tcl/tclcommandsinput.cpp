// The input commands: what a user does with the mouse and the keyboard, given to an object of the
// application as a whole gesture (a click, typed text, a chosen entry) rather than event by event.
//
//     mouseClick OBJECT ?x y? ?button? ?modifiers?
//     doubleClick OBJECT ?x y? ?button? ?modifiers?
//     mouseDrag OBJECT x y dx dy ?button? ?modifiers?
//     mouseWheel OBJECT steps ?modifiers?
//     typeText OBJECT text
//     keyClick ?OBJECT? key      keyPress ?OBJECT? key      keyRelease ?OBJECT? key
//     chooseItem OBJECT item ?item ...?
//     closeWindow OBJECT
//
// An OBJECT word is a handle or a name; a name is waited for as by waitForObject. Coordinates are
// relative to the object (its middle when left out); buttons and modifiers are the values of the
// button and modifier variables. A key is a character or a key name with modifiers: Return, Tab,
// Escape, F1, Left, Ctrl+A, Shift+Tab.
#include "tclcommands.h"

#include "inspector.h"
#include "objectapi.h"
#include "tclhandles.h"
#include "tclinterpreter.h"

#include <QStringList>
#include <QVariantMap>

namespace {

QString wordText(Tcl_Obj* word)
{
    return textOf(word);
}

// The object a word stands for: a handle as it is, a name through waitForObject. False with the
// command's error in the interpreter (waitForObject's own when it found nothing) and its code in *code.
bool inputObject(Tcl_Interp* interp, Tcl_Obj* word, SharedPtr<Object>* object, int* code)
{
    *object = objectFromValue(word);
    if (*object)
        return true;
    Tcl_Obj* call[2] = {Tcl_NewStringObj("waitForObject", -1), word};
    Tcl_IncrRefCount(call[0]);
    *code = Tcl_EvalObjv(interp, 2, call, 0);
    Tcl_DecrRefCount(call[0]);
    if (*code != TCL_OK)
        return false;
    *object = objectFromValue(Tcl_GetObjResult(interp));
    Tcl_ResetResult(interp);
    if (!*object)
        *code = setErrorResult(interp, QStringLiteral("Invalid Object"));
    return bool(*object);
}

bool readInt(Tcl_Interp* interp, Tcl_Obj* word, const char* what, int* value)
{
    if (Tcl_GetIntFromObj(nullptr, word, value) == TCL_OK)
        return true;
    setErrorResult(interp, QStringLiteral("Invalid %1 '%2': expected an integer").arg(QLatin1String(what), wordText(word)));
    return false;
}

int inputResult(Tcl_Interp* interp, bool ok)
{
    if (!ok) {
        const QString error = Inspector::self()->lastError();
        return setErrorResult(interp, error.isEmpty() ? QStringLiteral("The input could not be given") : error);
    }
    Tcl_ResetResult(interp);
    return finishCommand(TCL_OK);
}

// mouseClick and doubleClick: OBJECT ?x y? ?button? ?modifiers?
int clickCommand(Tcl_Interp* interp, int objc, Tcl_Obj* const objv[], const char* action)
{
    if (objc < 2 || objc > 6) {
        Tcl_WrongNumArgs(interp, 1, objv, "object ?x y? ?button? ?modifiers?");
        return TCL_ERROR;
    }
    int code = TCL_OK;
    SharedPtr<Object> object;
    if (!inputObject(interp, objv[1], &object, &code))
        return code;
    QVariantMap parameters;
    int i = 2;
    int value = 0;
    if (objc - i >= 2) {
        if (!readInt(interp, objv[i], "x", &value))
            return TCL_ERROR;
        parameters.insert(QStringLiteral("x"), value);
        if (!readInt(interp, objv[i + 1], "y", &value))
            return TCL_ERROR;
        parameters.insert(QStringLiteral("y"), value);
        i += 2;
    }
    if (i < objc) {
        if (!readInt(interp, objv[i++], "button", &value))
            return TCL_ERROR;
        parameters.insert(QStringLiteral("button"), value);
    }
    if (i < objc) {
        if (!readInt(interp, objv[i++], "modifiers", &value))
            return TCL_ERROR;
        parameters.insert(QStringLiteral("modifiers"), value);
    }
    return inputResult(interp, object->userInput(QLatin1String(action), parameters));
}

// keyClick, keyPress and keyRelease: ?OBJECT? key
int keyCommand(Tcl_Interp* interp, int objc, Tcl_Obj* const objv[], const char* action)
{
    if (objc < 2 || objc > 3) {
        Tcl_WrongNumArgs(interp, 1, objv, "?object? key");
        return TCL_ERROR;
    }
    QVariantMap parameters;
    parameters.insert(QStringLiteral("key"), wordText(objv[objc - 1]));
    if (objc == 3) {
        int code = TCL_OK;
        SharedPtr<Object> object;
        if (!inputObject(interp, objv[1], &object, &code))
            return code;
        return inputResult(interp, object->userInput(QLatin1String(action), parameters));
    }
    ObjectProvider* provider = Inspector::self()->currentObjectProvider();
    if (!provider)
        return setErrorResult(interp, QStringLiteral("No application is running that could take the key"));
    return inputResult(interp, provider->userInput(QLatin1String(action), parameters));
}

} // namespace

int MouseClickObjCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    return clickCommand(interp, objc, objv, "click");
}

int DoubleClickObjCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    return clickCommand(interp, objc, objv, "doubleClick");
}

/*
 * mouseDrag object x y dx dy ?button? ?modifiers?
 *
 * Results: empty; the button goes down at x, y (relative to the object), moves by dx, dy and comes up.
 */
int MouseDragObjCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    if (objc < 6 || objc > 8) {
        Tcl_WrongNumArgs(interp, 1, objv, "object x y dx dy ?button? ?modifiers?");
        return TCL_ERROR;
    }
    int code = TCL_OK;
    SharedPtr<Object> object;
    if (!inputObject(interp, objv[1], &object, &code))
        return code;
    static const char* const names[] = {"x", "y", "toX", "toY", "button", "modifiers"};
    static const char* const what[] = {"x", "y", "dx", "dy", "button", "modifiers"};
    QVariantMap parameters;
    for (int i = 2; i < objc; ++i) {
        int value = 0;
        if (!readInt(interp, objv[i], what[i - 2], &value))
            return TCL_ERROR;
        parameters.insert(QLatin1String(names[i - 2]), value);
    }
    return inputResult(interp, object->userInput(QStringLiteral("drag"), parameters));
}

/*
 * mouseWheel object steps ?modifiers?
 *
 * Results: empty; the wheel turns by the steps (notches; positive away from the user).
 */
int MouseWheelObjCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    if (objc < 3 || objc > 4) {
        Tcl_WrongNumArgs(interp, 1, objv, "object steps ?modifiers?");
        return TCL_ERROR;
    }
    int code = TCL_OK;
    SharedPtr<Object> object;
    if (!inputObject(interp, objv[1], &object, &code))
        return code;
    int steps = 0, modifiers = 0;
    if (!readInt(interp, objv[2], "steps", &steps) || (objc == 4 && !readInt(interp, objv[3], "modifiers", &modifiers)))
        return TCL_ERROR;
    return inputResult(interp, object->userInput(QStringLiteral("wheel"), {{QStringLiteral("delta"), steps},
                                                                         {QStringLiteral("modifiers"), modifiers}}));
}

/*
 * typeText object text
 *
 * Results: empty; the object gets the keyboard focus and each character of the text is typed.
 */
int TypeTextObjCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    if (objc != 3) {
        Tcl_WrongNumArgs(interp, 1, objv, "object text");
        return TCL_ERROR;
    }
    int code = TCL_OK;
    SharedPtr<Object> object;
    if (!inputObject(interp, objv[1], &object, &code))
        return code;
    return inputResult(interp, object->userInput(QStringLiteral("type"), {{QStringLiteral("text"), wordText(objv[2])}}));
}

int KeyClickObjCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    return keyCommand(interp, objc, objv, "key");
}

int KeyPressObjCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    return keyCommand(interp, objc, objv, "keyPress");
}

int KeyReleaseObjCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    return keyCommand(interp, objc, objv, "keyRelease");
}

/*
 * chooseItem object item ?item ...?
 *
 * Results: empty. Chooses as a user does: an entry of a combo box (its list opens and the entry is
 * clicked), an item of a list, table or tree (a path of texts through a tree's levels), an entry of a
 * menu bar or menu (a path through its menus), a tab of a tab widget.
 */
int ChooseItemObjCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    if (objc < 3) {
        Tcl_WrongNumArgs(interp, 1, objv, "object item ?item ...?");
        return TCL_ERROR;
    }
    int code = TCL_OK;
    SharedPtr<Object> object;
    if (!inputObject(interp, objv[1], &object, &code))
        return code;
    QStringList items;
    for (int i = 2; i < objc; ++i)
        items << wordText(objv[i]);
    return inputResult(interp, object->userInput(QStringLiteral("choose"), {{QStringLiteral("items"), items}}));
}

/*
 * closeWindow object
 *
 * Results: empty; the object's window is closed as by its title bar's close button.
 */
int CloseWindowObjCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    if (objc != 2) {
        Tcl_WrongNumArgs(interp, 1, objv, "object");
        return TCL_ERROR;
    }
    int code = TCL_OK;
    SharedPtr<Object> object;
    if (!inputObject(interp, objv[1], &object, &code))
        return code;
    return inputResult(interp, object->userInput(QStringLiteral("close"), QVariantMap()));
}
