// Native things inside Tcl values: object handles ("TestObject"), test data records, application
// contexts and native script objects, each a Tcl value type whose internal form is one pointer.
#pragma once

#include "sharedptr.h"
#include "testdatafwd.h"

#include <QString>

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

// A new record value (reference count 0); holds a reference to the record's data set.
Tcl_Obj* newTestDataRecordValue(TestDataRecord* record);
// The record of a record value; null for any other value (text is not converted).
TestDataRecord* testDataRecordFromValue(Tcl_Obj* value);
// The record named by a value or by its text; only records that Tcl values hold convert.
TestDataRecord* testDataRecordFromText(Tcl_Obj* value);

class Class;

// Any Tcl value as a native object when no declared type drives the conversion (at most a hint class);
// null when nothing fits.
SharedPtr<Object> toNativeValue(Tcl_Interp* interp, Tcl_Obj* value, const Class* hint);

// The type name of a value for messages: "<no type, probably string>", an object's class name, the Tcl
// type's name or "<type without typename>".
QString valueTypeName(Tcl_Obj* value);
