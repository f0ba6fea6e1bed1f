// Native things inside Tcl values: object handles ("TestObject"), test data records, application
// contexts and native script objects, each a Tcl value type whose internal form is one pointer.
#pragma once

#include "sharedptr.h"

#include <tcl.h>

class ApplicationContext;
class NativeScriptObject;
class Object;

extern const Tcl_ObjType testObjectType;
extern const Tcl_ObjType testDataRecordType;
extern const Tcl_ObjType applicationContextType;
extern const Tcl_ObjType scriptNativeObjectType;

// A new value (reference count 0) for the object; an empty value for a null object.
Tcl_Obj* newObjectHandle(SharedPtr<Object> object);
// The object behind a value, converting its text when needed; null when it names no object handed out
// by this process.
SharedPtr<Object> objectFromValue(Tcl_Obj* value);
// True when the object has been handed to Tcl (and so may be named by a handle's text).
bool isKnownObject(const Object* object);

Tcl_Obj* newNativeObjectValue(SharedPtr<NativeScriptObject> object);
SharedPtr<NativeScriptObject> nativeObjectFromValue(Tcl_Obj* value);

Tcl_Obj* newApplicationContextValue(SharedPtr<ApplicationContext> context);
SharedPtr<ApplicationContext> applicationContextFromValue(Tcl_Obj* value);
