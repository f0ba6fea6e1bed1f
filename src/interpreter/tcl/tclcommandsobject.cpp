// Object access commands: properties, methods, construction, casts, enumerators, comparison and the
// printable forms of objects of the application under test.
#include "tclcommands.h"

#include "inspector.h"
#include "interpreter.h"
#include "objectapi.h"
#include "tclconversion.h"
#include "tclhandles.h"
#include "tclinterpreter.h"
#include "tclnativetypes.h"

#include <cstdio>

namespace {

RunnerInterface* currentRunner()
{
    return Interpreter::self() ? Interpreter::self()->runner() : nullptr;
}

QString withLastError(const QString& message)
{
    const QString error = Inspector::self()->lastError();
    return error.isEmpty() ? message : message + QStringLiteral(": ") + error;
}

// The object-or-class rule: an object word gives its class and the next word is the member; a class name
// gives the class and the next word; anything else is a member of the global class.
struct Target {
    SharedPtr<Object> object;
    const Class* cls = nullptr;
    int memberIndex = 0;
    bool global = false;
};

Target resolveTarget(int objc, Tcl_Obj* const objv[], int first)
{
    Target t;
    if ((t.object = objectFromValue(objv[first]))) {
        t.cls = t.object->objectClass();
        t.memberIndex = first + 1;
    } else if ((t.cls = Inspector::self()->classByName(textOf(objv[first])))) {
        t.memberIndex = first + 1;
    } else {
        t.cls = Inspector::self()->globalClass();
        t.global = true;
        t.memberIndex = first;
    }
    return t;
}

int attributeFlag(const QString& query, const ObjectAttribute& a, bool* known)
{
    *known = true;
    if (query == QLatin1String("isPointer"))
        return a.isPointer();
    if (query == QLatin1String("isValue"))
        return a.isValue();
    if (query == QLatin1String("isReference"))
        return a.isReference();
    if (query == QLatin1String("isArray"))
        return a.isArray();
    *known = false;
    return 0;
}

NativePropertyOption nativeOption(const QString& option)
{
    static const char* const names[] = {"get",      "set",     "exists",      "list",   "typeName",
                                        "isPointer", "isValue", "isReference", "isArray"};
    for (int i = 0; i < int(sizeof names / sizeof *names); ++i)
        if (option == QLatin1String(names[i]))
            return NativePropertyOption(i);
    return NativePropertyOption::Get;
}

} // namespace

SharedPtr<Object> resolveObjectWord(Tcl_Interp* interp, Tcl_Obj* word)
{
    if (SharedPtr<Object> object = objectFromValue(word))
        return object;
    return toNativeValue(interp, word, nullptr);
}

/*
 * property option ?{object|className}? ?property? ?value?
 *
 * Results: the property's value (get), 1/0 (exists and the attribute queries), the type name, the list of
 * property names, or empty (set). Side effects: set changes the property in the application.
 */
int PropertyObjCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    RemoteObjectModelHolder holder(currentRunner());
    if (objc < 2) {
        Tcl_WrongNumArgs(interp, 1, objv, "option object ?arg ...?");
        return TCL_ERROR;
    }
    const QString option = textOf(objv[1]);
    const char* usage = "?{object|className}? property";
    int expected = 2;
    if (option == QLatin1String("set")) {
        usage = "?{object|className}? property value";
        expected = 3;
    } else if (option == QLatin1String("list")) {
        usage = "?{object|className}?";
        expected = 1;
    } else if (option != QLatin1String("get") && option != QLatin1String("exists") &&
               option != QLatin1String("typeName") && option != QLatin1String("isPointer") &&
               option != QLatin1String("isValue") && option != QLatin1String("isReference") &&
               option != QLatin1String("isArray")) {
        return setErrorResult(interp, QStringLiteral("bad option: must be get, set, exists, list, typeName, "
                                                     "isPointer, isValue, isReference or isArray"));
    }

    const Class* globalClass = Inspector::self()->globalClass();
    if (option == QLatin1String("list") && objc == 2) {
        if (!globalClass)
            return setErrorResult(interp,
                                  QStringLiteral("Tried to list global properties of invalid application context"));
        Tcl_Obj* names = Tcl_NewListObj(0, nullptr);
        for (int i = 0; i < globalClass->numProperties(); ++i)
            Tcl_ListObjAppendElement(nullptr, names, newTextObj(globalClass->property(i)->name()));
        Tcl_SetObjResult(interp, names);
        return finishCommand(TCL_OK);
    }
    if (objc < 3) {
        Tcl_WrongNumArgs(interp, 2, objv, usage);
        return TCL_ERROR;
    }
    if (objv[2]->typePtr == &scriptNativeObjectType)
        return nativeObjectProperty(interp, nativeOption(option), usage, objc, objv);

    SharedPtr<Object> object = objectFromValue(objv[2]);
    if (object && object->isInvalid())
        return setErrorResult(interp, QStringLiteral("Attempt to access invalidated object"));
    const Class* cls = nullptr;
    int nameIndex = 3;
    if (object) {
        cls = object->objectClass();
    } else if (!(cls = Inspector::self()->classByName(textOf(objv[2])))) {
        cls = globalClass;
        --expected;
        nameIndex = 2;
        if (!cls)
            return setErrorResult(interp,
                                  QStringLiteral("Attempt to access global property in invalid application context"));
    }
    if (objc - 2 != expected) {
        Tcl_WrongNumArgs(interp, 2, objv, usage);
        return TCL_ERROR;
    }

    if (option == QLatin1String("list")) {
        Tcl_Obj* names = Tcl_NewListObj(0, nullptr);
        for (int i = 0; i < cls->numProperties(); ++i)
            Tcl_ListObjAppendElement(nullptr, names, newTextObj(cls->property(i)->name()));
        Tcl_SetObjResult(interp, names);
        return finishCommand(TCL_OK);
    }

    // A dotted name is a path: each part is a property of the previous part's type and value.
    const QString name = textOf(objv[nameIndex]);
    const Property* property = nullptr;
    Object* current = object.get();
    SharedPtr<Object> keep;
    if (name.contains(QLatin1Char('.'))) {
        const QStringList parts = name.split(QLatin1Char('.'));
        const Class* walk = cls;
        for (int i = 0; i < parts.size(); ++i) {
            property = walk ? walk->property(parts.at(i)) : nullptr;
            if (!property) {
                if (option == QLatin1String("exists")) {
                    Tcl_SetObjResult(interp, Tcl_NewIntObj(0));
                    return finishCommand(TCL_OK);
                }
                return setErrorResult(interp,
                                      QStringLiteral("No such property ") + QStringList(parts.mid(0, i + 1)).join('.'));
            }
            if (i + 1 < parts.size()) {
                keep = property->get(current);
                current = keep.get();
                walk = property->type();
            }
        }
    } else {
        property = cls->property(name);
    }

    if (option == QLatin1String("exists")) {
        Tcl_SetObjResult(interp, Tcl_NewIntObj(property ? 1 : 0));
        return finishCommand(TCL_OK);
    }
    if (!property)
        return setErrorResult(interp, QStringLiteral("Unknown property ") + name);
    if (option == QLatin1String("typeName")) {
        Tcl_SetObjResult(interp, newTextObj(property->type() ? property->type()->className() : QString()));
        return finishCommand(TCL_OK);
    }
    bool isAttributeQuery = false;
    const int flag = attributeFlag(option, property->attribute(), &isAttributeQuery);
    if (isAttributeQuery) {
        Tcl_SetObjResult(interp, Tcl_NewIntObj(flag));
        return finishCommand(TCL_OK);
    }
    if (!current && !property->isStatic())
        return setErrorResult(interp, QStringLiteral("Can't access non-static property without object reference"));

    if (option == QLatin1String("get")) {
        if (!property->isReadable())
            return setErrorResult(interp, QStringLiteral("Property is not readable"));
        SharedPtr<Object> value = property->get(current);
        if (!value)
            return setErrorResult(interp, withLastError(QStringLiteral("Error occurred when reading property")));
        Tcl_SetObjResult(interp, toTclValue(value));
        return finishCommand(TCL_OK);
    }

    // set
    if (!property->isWritable())
        return setErrorResult(interp, QStringLiteral("Property is not writable"));
    const Class* type = property->type();
    Tcl_Obj* word = objv[objc - 1];
    SharedPtr<Object> value;
    if (type && isNumericOrBoolKind(type->primitiveKind()) && !objectFromValue(word)) {
        // Numbers and booleans take exactly what the word holds; a word that holds none names its own type.
        value = toPrimitiveValue(word, type->primitiveKind());
        if (!value) {
            SharedPtr<Object> given = toNativeValue(interp, word, nullptr);
            return setErrorResult(interp, QStringLiteral("Property type mismatch. ") +
                                              (given ? given->className() : QString()) + QStringLiteral(" vs. ") +
                                              type->className());
        }
    } else {
        value = toNativeValue(interp, word, type);
    }
    const Class* valueClass = value ? value->objectClass() : nullptr;
    if (valueClass != type) {
        const bool valuePointer = value && value->attribute().isPointer();
        const bool typePointer = property->attribute().isPointer();
        const bool convertible = (valueClass && valueClass->canConvert(type, valuePointer, typePointer)) ||
                                 (type && type->canConvert(valueClass, typePointer, valuePointer));
        if (!convertible)
            return setErrorResult(interp, QStringLiteral("Property type mismatch. ") +
                                              (valueClass ? valueClass->className() : QString()) +
                                              QStringLiteral(" vs. ") + (type ? type->className() : QString()));
    }
    if (!property->set(current, value))
        return setErrorResult(interp, withLastError(QStringLiteral("Failed to set property ") + name));
    Tcl_ResetResult(interp);
    return finishCommand(TCL_OK);
}

/*
 * invoke ?{object|className}? method ?arg ...?
 *
 * Results: the method's result. Side effects: whatever the method does in the application.
 */
int InvokeObjCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    RemoteObjectModelHolder holder(currentRunner());
    if (objc < 2) {
        Tcl_WrongNumArgs(interp, 1, objv, "?{object|className}? method ?arg ...?");
        return TCL_ERROR;
    }
    if (objv[1]->typePtr == &scriptNativeObjectType)
        return invokeNativeObject(interp, objc, objv);
    const Target target = resolveTarget(objc, objv, 1);
    if (target.global && !target.cls)
        return setErrorResult(interp, QStringLiteral("Attempt to call global function in invalid application context"));
    if (target.memberIndex >= objc) {
        Tcl_WrongNumArgs(interp, 1, objv, "?{object|className}? method ?arg ...?");
        return TCL_ERROR;
    }
    const QString method = textOf(objv[target.memberIndex]);
    const QList<const Method*> methods = target.cls->methods(method);
    if (methods.isEmpty()) {
        if (target.object)
            return setErrorResult(interp, QStringLiteral("Class '") + target.cls->className() +
                                              QStringLiteral("' does not have a method named '") + method +
                                              QLatin1Char('\''));
        return setErrorResult(interp,
                              QStringLiteral("Unknown class name or global function '") + textOf(objv[1]) + '\'');
    }
    QList<Signature> signatures;
    QList<const Class*> declaring;
    for (const Method* m : methods) {
        signatures << m->signature();
        declaring << m->declaringClass();
    }
    ObjectList args;
    const int first = target.memberIndex + 1;
    const int chosen =
        chooseOverload(interp, objc - first, target.cls, signatures, declaring, objv + first, method, &args);
    if (chosen < 0)
        return TCL_ERROR;
    const Method* m = methods.at(chosen);
    if (!m->deprecation().isEmpty())
        logDeprecationWarning(QStringLiteral(" %1").arg(joinArguments(args, QStringLiteral(" "))));
    SharedPtr<Object> result = m->invoke(target.object.get(), args);
    if (!result)
        return setErrorResult(interp, withLastError(QStringLiteral("Error in ") + method + QStringLiteral(" invocation")));
    Tcl_SetObjResult(interp, toTclValue(result));
    return finishCommand(TCL_OK);
}

/*
 * construct typeName ?arg ...?
 *
 * Results: a new object handle.
 */
int ConstructObjCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    RemoteObjectModelHolder holder(currentRunner());
    if (objc < 2) {
        Tcl_WrongNumArgs(interp, 1, objv, "typeName ?arg ...?");
        return TCL_ERROR;
    }
    const QString name = textOf(objv[1]);
    const Class* cls = Inspector::self()->classByName(name);
    if (!cls)
        return setErrorResult(interp, QStringLiteral("Unknown type ") + name);
    const QList<const Constructor*> constructors = cls->constructors();
    if (constructors.isEmpty())
        return setErrorResult(interp, QStringLiteral("Type ") + name + QStringLiteral(" has no constructor"));
    QList<Signature> signatures;
    QList<const Class*> declaring;
    for (const Constructor* c : constructors) {
        signatures << c->signature();
        declaring << c->declaringClass();
    }
    ObjectList args;
    const int chosen = chooseOverload(interp, objc - 2, cls, signatures, declaring, objv + 2, name, &args);
    if (chosen < 0)
        return TCL_ERROR;
    SharedPtr<Object> made = constructors.at(chosen)->construct(args);
    if (!made)
        return setErrorResult(interp, withLastError(QStringLiteral("Constructor of ") + name + QStringLiteral(" failed")));
    Tcl_SetObjResult(interp, newObjectHandle(made));
    return finishCommand(TCL_OK);
}

/*
 * cast object type
 *
 * Results: a new handle to the same object.
 */
int CastObjCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    if (objc != 3) {
        Tcl_WrongNumArgs(interp, 1, objv, "object type");
        return TCL_ERROR;
    }
    SharedPtr<Object> object = resolveObjectWord(interp, objv[1]);
    if (!object)
        return setErrorResult(interp, QStringLiteral("Invalid Object"));
    const QString name = textOf(objv[2]);
    const Class* cls = Inspector::self()->classByName(name);
    if (!cls)
        return setErrorResult(interp, QStringLiteral("Invalid Class '") + name + '\'');
    object->cast(cls);
    Tcl_SetObjResult(interp, newObjectHandle(object));
    return finishCommand(TCL_OK);
}

namespace {

// The common shape of ref, deref and toString: one object word, one result made from the object.
int singleObjectCommand(Tcl_Interp* interp, int objc, Tcl_Obj* const objv[],
                        Tcl_Obj* (*resultOf)(const SharedPtr<Object>&))
{
    if (objc != 2) {
        Tcl_WrongNumArgs(interp, 1, objv, "object");
        return TCL_ERROR;
    }
    SharedPtr<Object> object = resolveObjectWord(interp, objv[1]);
    if (!object)
        return setErrorResult(interp, QStringLiteral("Invalid Object"));
    Tcl_SetObjResult(interp, resultOf(object));
    return finishCommand(TCL_OK);
}

} // namespace

/*
 * ref object / deref object
 *
 * Results: a new handle to the object's reference, or to the object a reference refers to.
 */
int RefObjCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    return singleObjectCommand(interp, objc, objv,
                               [](const SharedPtr<Object>& o) { return newObjectHandle(o->reference()); });
}

int DerefObjCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    return singleObjectCommand(interp, objc, objv,
                               [](const SharedPtr<Object>& o) { return newObjectHandle(o->dereference()); });
}

/*
 * toString object
 *
 * Results: the object's text.
 */
int ToStringObjCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    return singleObjectCommand(interp, objc, objv, [](const SharedPtr<Object>& o) { return newTextObj(o->text()); });
}

/*
 * enum ?{object|className}? enumvalue
 *
 * Results: the enumerator's integer value.
 */
int EnumObjCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    if (objc < 2) {
        Tcl_WrongNumArgs(interp, 1, objv, "?{object|className}? enumvalue");
        return TCL_ERROR;
    }
    const Target target = resolveTarget(objc, objv, 1);
    if (!target.cls)
        return setErrorResult(interp, QStringLiteral("Invalid application context"));
    if (target.memberIndex >= objc) {
        Tcl_WrongNumArgs(interp, 1, objv, "?{object|className}? enumvalue");
        return TCL_ERROR;
    }
    const QString name = textOf(objv[target.memberIndex]);
    for (int i = 0; i < target.cls->numEnums(); ++i) {
        bool ok = false;
        const int value = target.cls->enumerator(i)->value(name, &ok);
        if (ok) {
            Tcl_SetObjResult(interp, Tcl_NewIntObj(value));
            return finishCommand(TCL_OK);
        }
    }
    return setErrorResult(interp, QStringLiteral("No enum value '") + name + QStringLiteral("' found in class '") +
                                      target.cls->className() + '\'');
}

/*
 * compare object1 object2
 *
 * Results: 1 when the values are equal as the object model sees them, else 0.
 */
int CompareObjCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    if (objc != 3) {
        Tcl_WrongNumArgs(interp, 1, objv, "object1 object2");
        return TCL_ERROR;
    }
    QString message, textA, textB;
    const bool equal = compareValues(interp, objv[1], objv[2], &message, &textA, &textB);
    Tcl_SetObjResult(interp, Tcl_NewIntObj(equal ? 1 : 0));
    return finishCommand(TCL_OK);
}

/*
 * objectName object
 *
 * Results: the object's name, or "unnamed".
 */
int ObjectNameObjCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    if (objc != 2) {
        Tcl_WrongNumArgs(interp, 1, objv, "object");
        return TCL_ERROR;
    }
    QString name;
    if (SharedPtr<Object> object = objectFromValue(objv[1]))
        name = object->name();
    Tcl_SetObjResult(interp, newTextObj(name.isEmpty() ? QStringLiteral("unnamed") : name));
    return finishCommand(TCL_OK);
}

/*
 * objectAttrib {isPointer|isValue|isReference|isArray} object
 *
 * Results: 1 or 0 from the object's own attribute.
 */
int ObjectAttribObjCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    if (objc != 3) {
        Tcl_WrongNumArgs(interp, 1, objv, "{isPointer|isValue|isReference|isArray} object");
        return TCL_ERROR;
    }
    SharedPtr<Object> object = resolveObjectWord(interp, objv[2]);
    if (!object)
        return setErrorResult(interp, QStringLiteral("Invalid Object"));
    bool known = false;
    const int flag = attributeFlag(textOf(objv[1]), object->attribute(), &known);
    if (!known)
        return setErrorResult(interp,
                              QStringLiteral("Unknown option. Possible are: isPointer, isValue, isReference, isArray"));
    Tcl_SetObjResult(interp, Tcl_NewIntObj(flag));
    return finishCommand(TCL_OK);
}

/*
 * addPropertyDelegate className ?propertyDeclarations?
 *
 * Side effects: registers the declarations (six space-separated fields each) with the inspector.
 */
int AddPropertyDelegateObjCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    if (objc < 3) {
        Tcl_WrongNumArgs(interp, 1, objv, "className ?propertyDeclarations?");
        return TCL_ERROR;
    }
    QStringList declarations;
    for (int i = 2; i < objc; ++i) {
        const QString declaration = textOf(objv[i]).split(QLatin1Char(' ')).join(QLatin1Char(','));
        if (declaration.count(QLatin1Char(',')) != 5)
            return setErrorResult(interp, QStringLiteral("Invalid property declaration: '") + declaration + '\'');
        declarations << declaration;
    }
    Inspector::self()->registerPropertyDelegate(textOf(objv[1]), declarations);
    Tcl_ResetResult(interp);
    return finishCommand(TCL_OK);
}

/*
 * setUniqueProperty className propertyName
 */
int SetUniquePropertyObjCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    if (objc != 3) {
        Tcl_WrongNumArgs(interp, 1, objv, "className propertyName");
        return TCL_ERROR;
    }
    Inspector::self()->setUniqueProperty(textOf(objv[1]), textOf(objv[2]));
    Tcl_ResetResult(interp);
    return finishCommand(TCL_OK);
}

/*
 * debug object
 *
 * Side effects: writes the object's debug text to standard output.
 */
int DebugObjCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    if (objc != 2) {
        Tcl_WrongNumArgs(interp, 1, objv, "debug");
        return TCL_ERROR;
    }
    SharedPtr<Object> object = objectFromValue(objv[1]);
    if (!object)
        return setErrorResult(interp, QStringLiteral("Invalid object"));
    printf("%s\n", object->debugText().toUtf8().constData());
    fflush(stdout);
    Tcl_ResetResult(interp);
    return finishCommand(TCL_OK);
}
