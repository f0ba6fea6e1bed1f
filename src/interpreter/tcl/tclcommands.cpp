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
    {"sendEvent", SendEventObjCmd, false},
    {"addPropertyDelegate", AddPropertyDelegateObjCmd, false},
    {"setUniqueProperty", SetUniquePropertyObjCmd, false},
    {"setMouseTracking", SetMouseTrackingObjCmd, false},
    {"setRecordMouseDrag", SetRecordMouseDragObjCmd, false},
    {"setAllowKeyEventCompression", SetAllowKeyEventCompressionObjCmd, false},
    {"enableEventCompression", EnableEventCompressionObjCmd, false},
    {"setRecorderFilter", SetRecorderFilterObjCmd, false},
    {"cast", CastObjCmd, false},
    {"ref", RefObjCmd, false},
    {"deref", DerefObjCmd, false},
    {"objectName", ObjectNameObjCmd, false},
    {"objectAttrib", ObjectAttribObjCmd, false},
    {"toString", ToStringObjCmd, false},
    {"enum", EnumObjCmd, false},
    {"__tarvin_dbg", TarvinDbgObjCmd, true},
    {"source", SourceObjCmd, true},
    {"objectMap", ObjectMapObjCmd, false},
    {"installEventHandler", InstallEventHandlerObjCmd, false},
    {"uninstallEventHandler", UninstallEventHandlerObjCmd, false},
    {"eventHandlers", EventHandlersObjCmd, false},
    {"runFeatureFile", RunFeatureFileObjCmd, false},
    {"_tarvin_connect_to_remote_system", ConnectToRemoteSystemObjCmd, false},
    {"_tarvin_close_remote_system_connection", CloseRemoteSystemConnectionObjCmd, false},
    {"_tarvin_remote_execute_command", RemoteExecuteCommandObjCmd, false},
    {"_tarvin_remote_get_environment_variable", RemoteGetEnvironmentVariableObjCmd, false},
    {"_tarvin_remote_get_os_name", RemoteGetOSNameObjCmd, false},
    {"_tarvin_remote_get_directory_content", RemoteGetDirectoryContentObjCmd, false},
    {"_tarvin_remote_get_path_property", RemoteGetPathPropertyObjCmd, false},
    {"_tarvin_remote_path_exists", RemotePathExistsObjCmd, false},
    {"_tarvin_remote_rename_path", RemoteRenamePathObjCmd, false},
    {"_tarvin_remote_create_path", RemoteCreatePathObjCmd, false},
    {"_tarvin_remote_delete_path", RemoteDeletePathObjCmd, false},
    {"_tarvin_remote_create_file", RemoteCreateFileObjCmd, false},
    {"_tarvin_remote_delete_file", RemoteDeleteFileObjCmd, false},
    {"_tarvin_remote_copy_path", RemoteCopyPathObjCmd, false},
    {"_tarvin_remote_upload_file", RemoteUploadFileObjCmd, false},
    {"_tarvin_remote_download_file", RemoteDownloadFileObjCmd, false},
};
const int tclCommandTableSize = sizeof tclCommandTable / sizeof tclCommandTable[0];

const TclCommandEntry tclApplicationCommandTable[] = {
    {"testData", TestDataObjCmd, false},
    {"tarvininfo", TarvinInfoObjCmd, false},
    {"tarvin", TarvinObjCmd, false},
    {"startApplication", StartApplicationObjCmd, false},
    {"attachToApplication", AttachToApplicationObjCmd, false},
    {"waitForApplicationLaunch", WaitForApplicationLaunchObjCmd, false},
    {"setApplicationContext", SetApplicationContextObjCmd, false},
    {"applicationContextList", ApplicationContextListObjCmd, false},
    {"defaultApplicationContext", DefaultApplicationContextObjCmd, false},
    {"currentApplicationContext", CurrentApplicationContextObjCmd, false},
    {"getApplicationContext", GetApplicationContextObjCmd, false},
    {"applicationContext", ApplicationContextObjCmd, false},
    {"waitFor", WaitForObjCmd, false},
    {"waitForObject", WaitForObjectObjCmd, false},
    {"waitForObjectExists", WaitForObjectExistsObjCmd, false},
    {"waitForObjectItem", WaitForObjectItemObjCmd, false},
    {"mousePress", MousePressObjCmd, false},
    {"mouseRelease", MouseReleaseObjCmd, false},
    {"mouseMove", MouseMoveObjCmd, false},
    {"readGesture", ReadGestureObjCmd, false},
    {"mouseClick", MouseClickObjCmd, false},
    {"doubleClick", DoubleClickObjCmd, false},
    {"mouseDrag", MouseDragObjCmd, false},
    {"mouseWheel", MouseWheelObjCmd, false},
    {"typeText", TypeTextObjCmd, false},
    {"keyClick", KeyClickObjCmd, false},
    {"keyPress", KeyPressObjCmd, false},
    {"keyRelease", KeyReleaseObjCmd, false},
    {"chooseItem", ChooseItemObjCmd, false},
    {"closeWindow", CloseWindowObjCmd, false},
    {"testInteraction", TestInteractionObjCmd, false},
    {"findFile", FindFileObjCmd, false},
};
const int tclApplicationCommandTableSize = sizeof tclApplicationCommandTable / sizeof tclApplicationCommandTable[0];

#undef NA

/*
 * Results: TCL_ERROR with a message naming the command.
 */
int NotAvailableObjCmd(ClientData, Tcl_Interp* interp, int, Tcl_Obj* const objv[])
{
    return setErrorResult(interp, QStringLiteral("The command '%1' is not available in this build of tarvintcl")
                                      .arg(textOf(objv[0])));
}
