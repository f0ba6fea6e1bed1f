// The registry of native script types kept with each Tcl interpreter.
#include "tclnativetypes.h"

const char* const nativeTypesMapKey = "tarvinNativeTypesMap";

namespace {

void deleteNativeTypesMap(ClientData clientData, Tcl_Interp*)
{
    auto map = static_cast<NativeTypesMap*>(clientData);
    qDeleteAll(*map);
    delete map;
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
