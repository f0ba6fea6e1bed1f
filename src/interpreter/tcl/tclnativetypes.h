// The framework's native script types as Tcl commands: the interpreter-wide registry of types.
#pragma once

#include "nativeapi.h"

#include <QMap>
#include <QString>
#include <tcl.h>

struct NativeTypeRecord {
    QString name;
    const void* typeId = nullptr;
    NativeScriptType type;
    Tcl_Command command = nullptr;
    NativeTypeRecord* superRecord = nullptr;
};

// Type id -> record; owned by the Tcl interpreter as associated data.
using NativeTypesMap = QMap<const void*, NativeTypeRecord*>;

extern const char* const nativeTypesMapKey;

// Attaches an empty registry to the interpreter; it is deleted with the interpreter.
void attachNativeTypesMap(Tcl_Interp* interp);
NativeTypesMap* nativeTypesMap(Tcl_Interp* interp);
