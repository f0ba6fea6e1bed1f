// The framework's native script API as Tcl commands: global functions, namespaces of functions and
// native types (with the interpreter-wide registry of types), and the native-object branches of the
// invoke and property commands.
#pragma once

#include "nativeapi.h"

#include <QMap>
#include <QString>
#include <QStringList>
#include <tcl.h>

struct NativeTypeRecord {
    QString name; // the command name: the registered name with a lower-case first character
    const void* typeId = nullptr;
    NativeScriptType type;
    Tcl_Command command = nullptr;
    // The base type's record, looked up when this type was registered; null when there is none.
    NativeTypeRecord* superRecord = nullptr;
};

// Type id -> record; owned by the Tcl interpreter as associated data.
using NativeTypesMap = QMap<const void*, NativeTypeRecord*>;

extern const char* const nativeTypesMapKey;

// Attaches an empty registry to the interpreter; it is deleted with the interpreter.
void attachNativeTypesMap(Tcl_Interp* interp);
NativeTypesMap* nativeTypesMap(Tcl_Interp* interp);

// The registration operations behind TclInterpreter's; false only for an empty name (or an
// interpreter without a registry, for types).
bool registerTclNativeFunction(Tcl_Interp* interp, const QString& name, const NativeFunction& function,
                               const QStringList& mandatoryArgs, const QStringList& optionalArgs);
bool registerTclNativeType(Tcl_Interp* interp, const QString& name, const void* typeId,
                           const NativeScriptType& type);
bool registerTclNativeNamespace(Tcl_Interp* interp, const QString& name, const NativeScriptNamespace& ns);

// invoke with a native object as objv[1]: objv are the invoke command's words.
int invokeNativeObject(Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]);

// The options of the property command, in its order.
enum class NativePropertyOption {
    Get,
    Set,
    Exists,
    List,
    TypeName,
    IsPointer,
    IsValue,
    IsReference,
    IsArray
};

// property with a native object as objv[2]: objv are the property command's words, usage the option's
// usage text for a wrong word count.
int nativeObjectProperty(Tcl_Interp* interp, NativePropertyOption option, const char* usage, int objc,
                         Tcl_Obj* const objv[]);
