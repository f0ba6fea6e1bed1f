// The Tcl command set of the test API: the command table registered with every interpreter, and the
// commands registered later by the runner's registration steps.
#pragma once

#include <tcl.h>

struct TclCommandEntry {
    const char* name;
    Tcl_ObjCmdProc* proc;
    // True for the rows whose client data is the interpreter's debugger.
    bool debuggerClientData;
};

// The 47 rows created at construction, in registration order.
extern const TclCommandEntry tclCommandTable[];
extern const int tclCommandTableSize;

// The commands of registerApplicationCommands, in registration order (testInteraction last).
extern const TclCommandEntry tclApplicationCommandTable[];
extern const int tclApplicationCommandTableSize;

// Object access.
int PropertyObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);
int InvokeObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);
int ConstructObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);
int CastObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);
int RefObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);
int DerefObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);
int ToStringObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);
int EnumObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);
int CompareObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);
int ObjectNameObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);
int ObjectAttribObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);
int AddPropertyDelegateObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);
int SetUniquePropertyObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);
int DebugObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);

// Object lookup and the object tree.
int FindObjectObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);
int FindAllObjectsObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);
int WaitForObjectObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);
int WaitForObjectExistsObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);
int WaitForObjectItemObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);
int ChildObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);
int ObjectObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);
int InspectObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);
int WaitForObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);

// Events, event handlers and the recorder's switches.
int SendEventObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);
int InstallEventHandlerObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);
int UninstallEventHandlerObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);
int EventHandlersObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);
int SetMouseTrackingObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);
int SetRecordMouseDragObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);
int SetAllowKeyEventCompressionObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);
int EnableEventCompressionObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);
int SetRecorderFilterObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);

// Test data, the object map and facts of the product and the test case.
int TestDataObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);
int FindFileObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);
int ObjectMapObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);
int TarvinInfoObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);
int TarvinObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);

// Test results.
int TestObjCmd(ClientData clientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]);
int TestInteractionObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);

// BDD: runs a feature file through the framework's feature runner (tclbdd.cpp).
int RunFeatureFileObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);

// Stands in for a command whose implementation this build does not have yet: a clear error.
int NotAvailableObjCmd(ClientData clientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]);

// Application contexts, mouse input, gestures and remote systems.
int StartApplicationObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);
int AttachToApplicationObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);
int WaitForApplicationLaunchObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);
int SetApplicationContextObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);
int ApplicationContextListObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);
int DefaultApplicationContextObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);
int CurrentApplicationContextObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);
int GetApplicationContextObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);
int ApplicationContextObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);
int MousePressObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);
int MouseReleaseObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);
int MouseMoveObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);
int ReadGestureObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);

// Input as a user gives it (tclcommandsinput.cpp).
int MouseClickObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);
int DoubleClickObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);
int MouseDragObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);
int MouseWheelObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);
int TypeTextObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);
int KeyClickObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);
int KeyPressObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);
int KeyReleaseObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);
int ChooseItemObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);
int CloseWindowObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);
int ConnectToRemoteSystemObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);
int CloseRemoteSystemConnectionObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);
int RemoteExecuteCommandObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);
int RemoteGetEnvironmentVariableObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);
int RemoteGetOSNameObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);
int RemoteGetDirectoryContentObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);
int RemoteGetPathPropertyObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);
int RemotePathExistsObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);
int RemoteRenamePathObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);
int RemoteCreatePathObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);
int RemoteDeletePathObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);
int RemoteCreateFileObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);
int RemoteDeleteFileObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);
int RemoteCopyPathObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);
int RemoteUploadFileObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);
int RemoteDownloadFileObjCmd(ClientData, Tcl_Interp*, int, Tcl_Obj* const[]);
