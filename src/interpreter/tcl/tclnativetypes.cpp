// The framework's native script API as Tcl commands. Every native function runs through a
// TclScriptContext holding the remaining words: its result becomes the command's result, its error the
// command's error.
#include "tclnativetypes.h"

#include "tclhandles.h"
#include "tclinterpreter.h"
#include "tclspecific.h"

#include <QDebug>

const char* const nativeTypesMapKey = "tarvinNativeTypesMap";

namespace
{

const QString variadic = QStringLiteral("...");

struct NativeFunctionRecord {
    QString name;
    QStringList mandatoryArgs;
    QStringList optionalArgs;
    NativeFunction function;
    Tcl_Command command = nullptr;
};

void deleteNativeTypesMap(ClientData clientData, Tcl_Interp*)
{
    auto map = static_cast<NativeTypesMap*>(clientData);
    qDeleteAll(*map);
    delete map;
}

void deleteNativeFunctionRecord(ClientData clientData)
{
    delete static_cast<NativeFunctionRecord*>(clientData);
}

void deleteNativeNamespace(ClientData clientData)
{
    delete static_cast<NativeScriptNamespace*>(clientData);
}

QString formatted(const char* text, const QString& argument)
{
    return QString::fromLatin1(text).arg(argument);
}

/*
 * The shared argument check: the words after the first `skip` must number at least the mandatory
 * names and at most mandatory plus optional, unless "..." is among the optional names. Namespace
 * functions count "..." out (it allows no further words there) and show it as "?...?".
 *
 * Results: true when the count is accepted; otherwise false with the usage error in the interpreter.
 */
bool checkArguments(Tcl_Interp* interp, int objc, Tcl_Obj* const objv[], int skip, const NativeMethod& method,
                    bool namespaceStyle = false)
{
    const int n = objc - skip;
    const int mandatory = method.mandatoryArgs.size();
    const bool hasVariadic = method.optionalArgs.contains(variadic);
    const int optional =
        method.optionalArgs.size() - (namespaceStyle ? method.optionalArgs.count(variadic) : 0);
    if (n >= mandatory && (n <= mandatory + optional || (hasVariadic && !namespaceStyle)))
        return true;
    QStringList pieces = method.mandatoryArgs;
    for (const QString& name : method.optionalArgs)
        pieces << (name == variadic && !namespaceStyle ? QStringLiteral("?arg ...?")
                                                       : QStringLiteral("?%1?").arg(name));
    const QByteArray usage = pieces.join(QLatin1Char(' ')).toUtf8();
    Tcl_WrongNumArgs(interp, skip, objv, usage.isEmpty() ? nullptr : usage.constData());
    return false;
}

/*
 * Runs one native call in a context holding the `count` words: run(context) executes it. A call that
 * succeeds without a result leaves an empty result, not what argument conversions left behind.
 */
template <class Run> int runNative(Tcl_Interp* interp, int count, Tcl_Obj* const words[], Run run)
{
    TclScriptContext context(interp);
    setTclArguments(&context, count, words);
    const int rc = run(context);
    if (rc != 1 && !context.resultValue())
        Tcl_ResetResult(interp);
    return finishContextCall(context, interp, rc);
}

// The function is taken by value: a call that re-registers or deletes the command it came from must not
// pull the function from under its own feet.
int runFunction(Tcl_Interp* interp, const NativeFunction function, int count, Tcl_Obj* const words[],
                const SharedPtr<NativeScriptObject>& object = SharedPtr<NativeScriptObject>())
{
    return runNative(interp, count, words, [&](TclScriptContext& context) {
        return object ? context.execute(function, object) : context.execute(function);
    });
}

bool isOrDerivesFrom(const NativeTypeRecord* record, const NativeTypeRecord* type)
{
    for (; record; record = record->superRecord)
        if (record == type)
            return true;
    return false;
}

/*
 * name ?arg ...?: a global function of the native API.
 *
 * Results: the function's result. Side effects: whatever the function does.
 */
int NativeFunctionObjCmd(ClientData clientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    auto record = static_cast<NativeFunctionRecord*>(clientData);
    const NativeMethod method{record->function, record->mandatoryArgs, record->optionalArgs};
    if (!checkArguments(interp, objc, objv, 1, method))
        return TCL_ERROR;
    return runFunction(interp, record->function, objc - 1, objv + 1);
}

/*
 * name option ?arg?: a function of a native namespace.
 *
 * Results: the function's result. Side effects: whatever the function does.
 */
int NativeNamespaceObjCmd(ClientData clientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    auto ns = static_cast<NativeScriptNamespace*>(clientData);
    if (objc < 2) {
        Tcl_WrongNumArgs(interp, 1, objv, "option ?arg?");
        return TCL_ERROR;
    }
    auto it = ns->functions.constFind(textOf(objv[1]));
    if (it == ns->functions.constEnd())
        return setErrorResult(interp,
                              formatted("Unknown option. Possible options are: %1",
                                        QStringList(ns->functions.keys()).join(QStringLiteral(", "))));
    if (!checkArguments(interp, objc, objv, 2, *it, true))
        return TCL_ERROR;
    return runFunction(interp, it->function, objc - 2, objv + 2);
}

int typeList(Tcl_Interp* interp, const NativeTypeRecord* record, bool properties, bool methods)
{
    Tcl_Obj* names = Tcl_NewListObj(0, nullptr);
    if (properties)
        for (const QString& name : record->type.staticProperties.keys())
            Tcl_ListObjAppendElement(nullptr, names, newTextObj(name));
    if (methods)
        for (const QString& name : record->type.staticMethods.keys())
            Tcl_ListObjAppendElement(nullptr, names, newTextObj(name));
    Tcl_SetObjResult(interp, names);
    return finishCommand(TCL_OK);
}

/*
 * name option ?arg?: a native type's command: get, set, list, new and isinstance first, then the
 * type's static methods. Static members are those of this type only, not of its base types.
 *
 * Results: a static property's value, the names of static members, a new native object, 1 or 0, or a
 * static method's result. Side effects: whatever the type's functions do.
 */
int NativeTypeObjCmd(ClientData clientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    auto record = static_cast<NativeTypeRecord*>(clientData);
    if (objc < 2) {
        Tcl_WrongNumArgs(interp, 1, objv, "option ?arg?");
        return TCL_ERROR;
    }
    const QString option = textOf(objv[1]);
    const NativeScriptType& type = record->type;

    if (option == QLatin1String("get") || option == QLatin1String("set")) {
        const bool get = option == QLatin1String("get");
        if (objc != (get ? 3 : 4)) {
            Tcl_WrongNumArgs(interp, 2, objv, get ? "name" : "name value");
            return TCL_ERROR;
        }
        const QString name = textOf(objv[2]);
        auto it = type.staticProperties.constFind(name);
        if (it == type.staticProperties.constEnd())
            return setErrorResult(interp, formatted("Unknown static property '%1'", name));
        const NativeFunction& function = get ? it->getter : it->setter;
        if (!function)
            return setErrorResult(interp, get ? QStringLiteral("Property is not readable")
                                              : QStringLiteral("Property is not writable"));
        return runFunction(interp, function, get ? 0 : 1, objv + 3);
    }
    if (option == QLatin1String("list")) {
        const QString which = objc == 3 ? textOf(objv[2]) : QString();
        if (objc == 2)
            return typeList(interp, record, true, true);
        if (objc == 3 && (which == QLatin1String("properties") || which == QLatin1String("methods")))
            return typeList(interp, record, which == QLatin1String("properties"),
                            which == QLatin1String("methods"));
        Tcl_WrongNumArgs(interp, 2, objv, "list ?properties|methods?");
        return TCL_ERROR;
    }
    if (option == QLatin1String("new")) {
        if (!type.constructor)
            return setErrorResult(interp,
                                  formatted("Type '%1' does not provide a public constructor", record->name));
        const NativeConstructor constructor = type.constructor; // see runFunction
        return runNative(interp, objc - 2, objv + 2,
                         [&](TclScriptContext& context) { return context.execute(constructor); });
    }
    if (option == QLatin1String("isinstance")) {
        if (objc != 3) {
            Tcl_WrongNumArgs(interp, 2, objv, "name");
            return TCL_ERROR;
        }
        bool instance = false;
        if (SharedPtr<NativeScriptObject> object = nativeObjectFromValue(objv[2]))
            if (NativeTypesMap* types = nativeTypesMap(interp))
                instance = isOrDerivesFrom(types->value(object->typeId()), record);
        Tcl_SetObjResult(interp, Tcl_NewIntObj(instance ? 1 : 0));
        return finishCommand(TCL_OK);
    }

    auto it = type.staticMethods.constFind(option);
    if (it == type.staticMethods.constEnd())
        return setErrorResult(interp, formatted("Unknown static method '%1'", option));
    if (!checkArguments(interp, objc, objv, 2, *it))
        return TCL_ERROR;
    return runFunction(interp, it->function, objc - 2, objv + 2);
}

// The record of a native object's type, or null with the error set.
const NativeTypeRecord* recordOf(Tcl_Interp* interp, const SharedPtr<NativeScriptObject>& object)
{
    NativeTypesMap* types = nativeTypesMap(interp);
    const NativeTypeRecord* record = object && types ? types->value(object->typeId()) : nullptr;
    if (!record)
        setErrorResult(interp, QStringLiteral("Unknown/unregistered object type"));
    return record;
}

// A property of the type or, failing that, of its nearest base type that has one.
const NativeProperty* findProperty(const NativeTypeRecord* record, const QString& name)
{
    for (; record; record = record->superRecord) {
        auto it = record->type.properties.constFind(name);
        if (it != record->type.properties.constEnd())
            return &*it;
    }
    return nullptr;
}

} // namespace

void attachNativeTypesMap(Tcl_Interp* interp)
{
    Tcl_SetAssocData(interp, nativeTypesMapKey, deleteNativeTypesMap, new NativeTypesMap);
}

NativeTypesMap* nativeTypesMap(Tcl_Interp* interp)
{
    return static_cast<NativeTypesMap*>(Tcl_GetAssocData(interp, nativeTypesMapKey, nullptr));
}

bool registerTclNativeFunction(Tcl_Interp* interp, const QString& name, const NativeFunction& function,
                               const QStringList& mandatoryArgs, const QStringList& optionalArgs)
{
    if (name.isEmpty())
        return false;
    auto record = new NativeFunctionRecord{name, mandatoryArgs, optionalArgs, function, nullptr};
    // The record goes with the command: deleting or replacing the command frees it.
    record->command = Tcl_CreateObjCommand(interp, name.toUtf8().constData(), NativeFunctionObjCmd, record,
                                           deleteNativeFunctionRecord);
    return true;
}

bool registerTclNativeType(Tcl_Interp* interp, const QString& name, const void* typeId,
                           const NativeScriptType& type)
{
    NativeTypesMap* types = nativeTypesMap(interp);
    if (name.isEmpty() || !types)
        return false;
    QString command = name;
    command[0] = command.at(0).toLower();

    NativeTypeRecord*& record = (*types)[typeId];
    if (!record)
        record = new NativeTypeRecord;
    record->name = command;
    record->typeId = typeId;
    record->type = type;

    NativeTypeRecord* base = type.super ? types->value(type.super) : nullptr;
    if (type.super && !base)
        qWarning("registerNativeType(%s): the base type is not registered; register it first",
                 qPrintable(name));
    // A base that leads back to this type would make every lookup along the chain endless.
    if (isOrDerivesFrom(base, record)) {
        qWarning("registerNativeType(%s): the base type derives from this type; the base is ignored",
                 qPrintable(name));
        base = nullptr;
    }
    record->superRecord = base;
    // Type commands have no delete callback: the record belongs to the registry.
    record->command =
        Tcl_CreateObjCommand(interp, command.toUtf8().constData(), NativeTypeObjCmd, record, nullptr);
    return true;
}

bool registerTclNativeNamespace(Tcl_Interp* interp, const QString& name, const NativeScriptNamespace& ns)
{
    if (name.isEmpty())
        return false;
    Tcl_CreateObjCommand(interp, name.toUtf8().constData(), NativeNamespaceObjCmd,
                         new NativeScriptNamespace(ns), deleteNativeNamespace);
    return true;
}

/*
 * invoke object method ?arg ...? for a native object: the method is looked up in the object's type,
 * then in its base types.
 *
 * Results: the method's result. Side effects: whatever the method does.
 */
int invokeNativeObject(Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    // The words from the object on: object, method, arguments.
    const int count = objc - 1;
    Tcl_Obj* const* words = objv + 1;
    if (count < 2) {
        Tcl_WrongNumArgs(interp, 1, objv, "{object} method ?args?");
        return TCL_ERROR;
    }
    SharedPtr<NativeScriptObject> object = nativeObjectFromValue(words[0]);
    const NativeTypeRecord* record = recordOf(interp, object);
    if (!record)
        return TCL_ERROR;
    const QString name = textOf(words[1]);
    const NativeMethod* method = nullptr;
    for (const NativeTypeRecord* r = record; r && !method; r = r->superRecord) {
        auto it = r->type.methods.constFind(name);
        if (it != r->type.methods.constEnd())
            method = &*it;
    }
    if (!method)
        return setErrorResult(interp, formatted("Unknown method '%1'", name));
    if (!checkArguments(interp, count, words, 2, *method))
        return TCL_ERROR;
    return runFunction(interp, method->function, count - 2, words + 2, object);
}

/*
 * property option object ?name? ?value? for a native object.
 *
 * Results: a property's value (get), empty (set), 1 or 0 (exists and the attribute queries: a native
 * object is a value), the property names or the type's name. Side effects: set runs the setter.
 */
int nativeObjectProperty(Tcl_Interp* interp, NativePropertyOption option, const char* usage, int objc,
                         Tcl_Obj* const objv[])
{
    SharedPtr<NativeScriptObject> object = nativeObjectFromValue(objv[2]);
    const NativeTypeRecord* record = recordOf(interp, object);
    if (!record)
        return TCL_ERROR;
    const int after = objc - 3; // the words after the object

    int expected = -1;
    switch (option) {
    case NativePropertyOption::Get:
    case NativePropertyOption::Exists:
        expected = 1;
        break;
    case NativePropertyOption::Set:
        expected = 2;
        break;
    case NativePropertyOption::List:
    case NativePropertyOption::TypeName:
        expected = 0;
        break;
    case NativePropertyOption::IsValue:
    case NativePropertyOption::IsPointer:
    case NativePropertyOption::IsReference:
    case NativePropertyOption::IsArray:
        Tcl_SetObjResult(interp, Tcl_NewIntObj(option == NativePropertyOption::IsValue ? 1 : 0));
        return finishCommand(TCL_OK);
    }
    if (after != expected) {
        Tcl_WrongNumArgs(interp, 2, objv, usage);
        return TCL_ERROR;
    }

    if (option == NativePropertyOption::TypeName) {
        Tcl_SetObjResult(interp, newTextObj(record->name));
        return finishCommand(TCL_OK);
    }
    if (option == NativePropertyOption::List) {
        QStringList names;
        for (const NativeTypeRecord* r = record; r; r = r->superRecord)
            for (const QString& name : r->type.properties.keys())
                if (!names.contains(name)) // a derived type's property hides the base's of that name
                    names << name;
        Tcl_Obj* list = Tcl_NewListObj(0, nullptr);
        for (const QString& name : names)
            Tcl_ListObjAppendElement(nullptr, list, newTextObj(name));
        Tcl_SetObjResult(interp, list);
        return finishCommand(TCL_OK);
    }

    const QString name = textOf(objv[3]);
    const NativeProperty* property = findProperty(record, name);
    if (option == NativePropertyOption::Exists) {
        Tcl_SetObjResult(interp, Tcl_NewIntObj(property ? 1 : 0));
        return finishCommand(TCL_OK);
    }
    if (!property)
        return setErrorResult(interp, formatted("Unknown property '%1'", name));
    if (option == NativePropertyOption::Get) {
        if (!property->getter)
            return setErrorResult(interp, QStringLiteral("Property is not readable"));
        return runFunction(interp, property->getter, 0, objv + 4, object);
    }
    if (!property->setter)
        return setErrorResult(interp, QStringLiteral("Property is not writable"));
    return runFunction(interp, property->setter, 1, objv + 4, object);
}
