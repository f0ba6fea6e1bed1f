// The command tables. Rows whose handlers have not landed yet point at NotAvailableObjCmd, so that the
// table (and its order) is complete and a script calling such a command gets a clear error.
#include "tclcommands.h"

#include "tcldebugger.h"
#include "tclinterpreter.h"

#include <QString>

#define NA NotAvailableObjCmd

const TclCommandEntry tclCommandTable[] = {
    {"inspect", InspectObjCmd, false},
    {"object", ObjectObjCmd, false},
    {"child", ChildObjCmd, false},
    {"construct", ConstructObjCmd, false},
    {"property", PropertyObjCmd, false},
    {"invoke", InvokeObjCmd, false},
    {"compare", CompareObjCmd, false},
    {"debug", DebugObjCmd, false},
    {"findObject", FindObjectObjCmd, false},
    {"findAllObjects", FindAllObjectsObjCmd, false},
    {"sendEvent", NA, false},
    {"addPropertyDelegate", AddPropertyDelegateObjCmd, false},
    {"setUniqueProperty", SetUniquePropertyObjCmd, false},
    {"setMouseTracking", NA, false},
    {"setRecordMouseDrag", NA, false},
    {"setAllowKeyEventCompression", NA, false},
    {"enableEventCompression", NA, false},
    {"setRecorderFilter", NA, false},
    {"cast", CastObjCmd, false},
    {"ref", RefObjCmd, false},
    {"deref", DerefObjCmd, false},
    {"objectName", ObjectNameObjCmd, false},
    {"objectAttrib", ObjectAttribObjCmd, false},
    {"toString", ToStringObjCmd, false},
    {"enum", EnumObjCmd, false},
    {"__tarvin_dbg", TarvinDbgObjCmd, true},
    {"source", SourceObjCmd, true},
    {"objectMap", NA, false},
    {"installEventHandler", NA, false},
    {"uninstallEventHandler", NA, false},
    {"runFeatureFile", NA, false},
    {"_tarvin_connect_to_remote_system", NA, false},
    {"_tarvin_close_remote_system_connection", NA, false},
    {"_tarvin_remote_execute_command", NA, false},
    {"_tarvin_remote_get_environment_variable", NA, false},
    {"_tarvin_remote_get_os_name", NA, false},
    {"_tarvin_remote_get_directory_content", NA, false},
    {"_tarvin_remote_get_path_property", NA, false},
    {"_tarvin_remote_path_exists", NA, false},
    {"_tarvin_remote_rename_path", NA, false},
    {"_tarvin_remote_create_path", NA, false},
    {"_tarvin_remote_delete_path", NA, false},
    {"_tarvin_remote_create_file", NA, false},
    {"_tarvin_remote_delete_file", NA, false},
    {"_tarvin_remote_copy_path", NA, false},
    {"_tarvin_remote_upload_file", NA, false},
    {"_tarvin_remote_download_file", NA, false},
};
const int tclCommandTableSize = sizeof tclCommandTable / sizeof tclCommandTable[0];

const TclCommandEntry tclApplicationCommandTable[] = {
    {"testData", NA, false},
    {"tarvininfo", NA, false},
    {"tarvin", NA, false},
    {"startApplication", NA, false},
    {"attachToApplication", NA, false},
    {"waitForApplicationLaunch", NA, false},
    {"setApplicationContext", NA, false},
    {"applicationContextList", NA, false},
    {"defaultApplicationContext", NA, false},
    {"currentApplicationContext", NA, false},
    {"getApplicationContext", NA, false},
    {"applicationContext", NA, false},
    {"waitFor", WaitForObjCmd, false},
    {"waitForObject", WaitForObjectObjCmd, false},
    {"waitForObjectExists", WaitForObjectExistsObjCmd, false},
    {"waitForObjectItem", WaitForObjectItemObjCmd, false},
    {"mousePress", NA, false},
    {"mouseRelease", NA, false},
    {"mouseMove", NA, false},
    {"readGesture", NA, false},
    {"testInteraction", NA, false},
};
const int tclApplicationCommandTableSize = sizeof tclApplicationCommandTable / sizeof tclApplicationCommandTable[0];

#undef NA

/*
 * test subcommand ?arg ...?
 *
 * The test API arrives with the result commands; until then every call fails with a clear error.
 */
int TestObjCmd(ClientData clientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    return NotAvailableObjCmd(clientData, interp, objc, objv);
}

/*
 * Results: TCL_ERROR with a message naming the command.
 */
int NotAvailableObjCmd(ClientData, Tcl_Interp* interp, int, Tcl_Obj* const objv[])
{
    return setErrorResult(interp, QStringLiteral("The command '%1' is not available in this build of tarvintcl")
                                      .arg(QString::fromUtf8(Tcl_GetString(objv[0]))));
}
