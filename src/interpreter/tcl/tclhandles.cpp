// The Tcl value types that carry native things. Object handles can be rebuilt from their text, but
// only for objects this process handed out: any other address is "no object", never dereferenced.
#include "tclhandles.h"

#include "tclconversion.h"

#include "applicationcontext.h"
#include "nativeapi.h"
#include "inspector.h"
#include "tclinterpreter.h"
#include "testdata.h"

#include <QHash>
#include <QLocale>

#include <QSet>

#include <cstdio>
#include <cstring>

namespace {

// Every object ever handed to Tcl. Handles never give their reference back, so an object in this set
// lives until the process ends and its address stays valid. The set itself is never destroyed: it
// must outlive every value, and it keeps the objects reachable for leak checkers at exit.
QSet<const Object*>& knownObjects()
{
    static auto* objects = new QSet<const Object*>;
    return *objects;
}

void setStringRep(Tcl_Obj* obj, const char* prefix, const void* pointer, int bufferSize)
{
    char* buffer = Tcl_Alloc(bufferSize);
    int n = snprintf(buffer, bufferSize, "%s:%p", prefix, pointer);
    if (n < 0 || n >= bufferSize)
        n = int(strlen(buffer));
    obj->bytes = Tcl_Realloc(buffer, n + 1);
    obj->length = n;
}

// Scans "<prefix>:%p" and accepts the text only when it is exactly the printed form of the address.
bool scanHandleText(Tcl_Obj* obj, const char* prefix, void** pointer)
{
    int length = 0;
    const char* text = Tcl_GetStringFromObj(obj, &length);
    // Most texts are no handle at all; they are turned away before the scan.
    const size_t prefixLength = strlen(prefix);
    if (size_t(length) <= prefixLength + 1 || memcmp(text, prefix, prefixLength) != 0 || text[prefixLength] != ':')
        return false;
    char format[40];
    snprintf(format, sizeof format, "%s:%%p", prefix);
    void* p = nullptr;
    if (sscanf(text, format, &p) != 1 || !p)
        return false;
    char printed[64];
    snprintf(printed, sizeof printed, "%s:%p", prefix, p);
    if (int(strlen(printed)) != length || memcmp(printed, text, length) != 0)
        return false;
    *pointer = p;
    return true;
}

void freeInternalRepOf(Tcl_Obj* obj)
{
    if (obj->typePtr && obj->typePtr->freeIntRepProc)
        obj->typePtr->freeIntRepProc(obj);
    obj->typePtr = nullptr;
}

// "TestObject": one reference to the object that is never given back.
void DupTestObjectInternalRep(Tcl_Obj* src, Tcl_Obj* dup)
{
    auto object = static_cast<Object*>(src->internalRep.otherValuePtr);
    object->ref();
    dup->internalRep.otherValuePtr = object;
    dup->typePtr = &testObjectType;
}

void UpdateStringOfTestObject(Tcl_Obj* obj)
{
    setStringRep(obj, "Object", obj->internalRep.otherValuePtr, 48);
}

// Converts text of the form Object:<address> into a handle; fails, leaving the value alone and no
// message, when the text is anything else or names no known object.
int SetTestObjectFromAny(Tcl_Interp*, Tcl_Obj* obj)
{
    void* p = nullptr;
    if (!scanHandleText(obj, "Object", &p) || !knownObjects().contains(static_cast<const Object*>(p)))
        return TCL_ERROR;
    freeInternalRepOf(obj);
    auto object = static_cast<Object*>(p);
    object->ref();
    obj->internalRep.otherValuePtr = object;
    obj->typePtr = &testObjectType;
    return finishCommand(TCL_OK);
}

// Records held by Tcl values, with the number of values holding each. A value holds a reference to the
// record's data set, so a record counted here is alive; text naming any other record does not convert.
QHash<const TestDataRecord*, int>& heldRecords()
{
    static QHash<const TestDataRecord*, int> records;
    return records;
}

void holdRecord(Tcl_Obj* obj, TestDataRecord* record)
{
    record->dataSet()->ref();
    ++heldRecords()[record];
    obj->internalRep.otherValuePtr = record;
    obj->typePtr = &testDataRecordType;
}

// "TestDataRecord": one reference to the record's data set.
void FreeTestDataRecordInternalRep(Tcl_Obj* obj)
{
    auto record = static_cast<TestDataRecord*>(obj->internalRep.otherValuePtr);
    auto it = heldRecords().find(record);
    if (it != heldRecords().end() && --it.value() == 0)
        heldRecords().erase(it);
    obj->internalRep.otherValuePtr = nullptr;
    record->dataSet()->deref(); // may delete the set and the record with it
}

void DupTestDataRecordInternalRep(Tcl_Obj* src, Tcl_Obj* dup)
{
    holdRecord(dup, static_cast<TestDataRecord*>(src->internalRep.otherValuePtr));
}

void UpdateStringOfTestDataRecord(Tcl_Obj* obj)
{
    setStringRep(obj, "TestDataRecord", obj->internalRep.otherValuePtr, 56);
}

int SetTestDataRecordFromAny(Tcl_Interp*, Tcl_Obj* obj)
{
    void* p = nullptr;
    if (!scanHandleText(obj, "TestDataRecord", &p) || !heldRecords().contains(static_cast<TestDataRecord*>(p)))
        return TCL_ERROR;
    freeInternalRepOf(obj);
    holdRecord(obj, static_cast<TestDataRecord*>(p));
    return finishCommand(TCL_OK);
}

// "ApplicationContext": one reference to the context; shows the context's name.
void FreeApplicationContextInternalRep(Tcl_Obj* obj)
{
    static_cast<ApplicationContext*>(obj->internalRep.otherValuePtr)->deref();
    obj->internalRep.otherValuePtr = nullptr;
}

void DupApplicationContextInternalRep(Tcl_Obj* src, Tcl_Obj* dup)
{
    auto context = static_cast<ApplicationContext*>(src->internalRep.otherValuePtr);
    context->ref();
    dup->internalRep.otherValuePtr = context;
    dup->typePtr = &applicationContextType;
}

void UpdateStringOfApplicationContext(Tcl_Obj* obj)
{
    const QByteArray name = static_cast<ApplicationContext*>(obj->internalRep.otherValuePtr)->name().toUtf8();
    obj->bytes = Tcl_Alloc(name.size() + 1);
    memcpy(obj->bytes, name.constData(), name.size() + 1);
    obj->length = name.size();
}

// "ScriptNativeObject": one reference to the native object; shows the type name.
void FreeScriptNativeObjectInternalRep(Tcl_Obj* obj)
{
    static_cast<NativeScriptObject*>(obj->internalRep.otherValuePtr)->deref();
    obj->internalRep.otherValuePtr = nullptr;
}

void DupScriptNativeObjectInternalRep(Tcl_Obj* src, Tcl_Obj* dup)
{
    auto object = static_cast<NativeScriptObject*>(src->internalRep.otherValuePtr);
    object->ref();
    dup->internalRep.otherValuePtr = object;
    dup->typePtr = &scriptNativeObjectType;
}

void UpdateStringOfScriptNativeObject(Tcl_Obj* obj)
{
    static const char name[] = "ScriptNativeObject";
    obj->bytes = Tcl_Alloc(sizeof name);
    memcpy(obj->bytes, name, sizeof name);
    obj->length = sizeof name - 1;
}

int SetScriptNativeObjectFromAny(Tcl_Interp*, Tcl_Obj*)
{
    return TCL_ERROR;
}

} // namespace

const Tcl_ObjType testObjectType = {"TestObject", nullptr, DupTestObjectInternalRep, UpdateStringOfTestObject,
                                    SetTestObjectFromAny};
const Tcl_ObjType testDataRecordType = {"TestDataRecord", FreeTestDataRecordInternalRep,
                                        DupTestDataRecordInternalRep, UpdateStringOfTestDataRecord,
                                        SetTestDataRecordFromAny};
const Tcl_ObjType applicationContextType = {"ApplicationContext", FreeApplicationContextInternalRep,
                                            DupApplicationContextInternalRep, UpdateStringOfApplicationContext,
                                            nullptr};
const Tcl_ObjType scriptNativeObjectType = {"ScriptNativeObject", FreeScriptNativeObjectInternalRep,
                                            DupScriptNativeObjectInternalRep, UpdateStringOfScriptNativeObject,
                                            SetScriptNativeObjectFromAny};

Tcl_Obj* newObjectHandle(SharedPtr<Object> object)
{
    Tcl_Obj* obj = Tcl_NewObj();
    if (!object)
        return obj;
    Object* o = object.get();
    o->ref();
    knownObjects().insert(o);
    Tcl_InvalidateStringRep(obj);
    obj->internalRep.otherValuePtr = o;
    obj->typePtr = &testObjectType;
    return obj;
}

SharedPtr<Object> objectFromValue(Tcl_Obj* value)
{
    if (!value)
        return SharedPtr<Object>();
    if (value->typePtr != &testObjectType && SetTestObjectFromAny(nullptr, value) != TCL_OK)
        return SharedPtr<Object>();
    return SharedPtr<Object>(static_cast<Object*>(value->internalRep.otherValuePtr));
}

bool isKnownObject(const Object* object)
{
    return knownObjects().contains(object);
}

Tcl_Obj* newNativeObjectValue(SharedPtr<NativeScriptObject> object)
{
    Tcl_Obj* obj = Tcl_NewObj();
    if (!object)
        return obj;
    object->ref();
    Tcl_InvalidateStringRep(obj);
    obj->internalRep.otherValuePtr = object.get();
    obj->typePtr = &scriptNativeObjectType;
    return obj;
}

SharedPtr<NativeScriptObject> nativeObjectFromValue(Tcl_Obj* value)
{
    if (!value || value->typePtr != &scriptNativeObjectType)
        return SharedPtr<NativeScriptObject>();
    return SharedPtr<NativeScriptObject>(static_cast<NativeScriptObject*>(value->internalRep.otherValuePtr));
}

Tcl_Obj* newApplicationContextValue(SharedPtr<ApplicationContext> context)
{
    Tcl_Obj* obj = Tcl_NewObj();
    context->ref();
    Tcl_InvalidateStringRep(obj);
    obj->internalRep.otherValuePtr = context.get();
    obj->typePtr = &applicationContextType;
    return obj;
}

SharedPtr<ApplicationContext> applicationContextFromValue(Tcl_Obj* value)
{
    if (!value || value->typePtr != &applicationContextType)
        return SharedPtr<ApplicationContext>();
    return SharedPtr<ApplicationContext>(static_cast<ApplicationContext*>(value->internalRep.otherValuePtr));
}

Tcl_Obj* newTestDataRecordValue(TestDataRecord* record)
{
    Tcl_Obj* obj = Tcl_NewObj();
    Tcl_InvalidateStringRep(obj);
    holdRecord(obj, record);
    return obj;
}

TestDataRecord* testDataRecordFromValue(Tcl_Obj* value)
{
    if (!value || value->typePtr != &testDataRecordType)
        return nullptr;
    return static_cast<TestDataRecord*>(value->internalRep.otherValuePtr);
}

TestDataRecord* testDataRecordFromText(Tcl_Obj* value)
{
    if (!value)
        return nullptr;
    if (value->typePtr != &testDataRecordType && SetTestDataRecordFromAny(nullptr, value) != TCL_OK)
        return nullptr;
    return static_cast<TestDataRecord*>(value->internalRep.otherValuePtr);
}

namespace {

const char* typeNameOf(Tcl_Obj* value)
{
    return value->typePtr ? value->typePtr->name : nullptr;
}

SharedPtr<Object> listToNative(Tcl_Interp* interp, Tcl_Obj* value);
SharedPtr<Object> dictToNative(Tcl_Interp* interp, Tcl_Obj* value);

// Elements of lists and dicts: nested lists become arrays, nested dicts maps.
SharedPtr<Object> elementToNative(Tcl_Interp* interp, Tcl_Obj* element)
{
    const char* type = typeNameOf(element);
    const Class* hint = nullptr;
    if (type && !strcmp(type, "list"))
        hint = ArrayClass::registeredClass();
    else if (type && !strcmp(type, "dict"))
        hint = MapClass::registeredClass();
    return toNativeValue(interp, element, hint);
}

SharedPtr<Object> listToNative(Tcl_Interp* interp, Tcl_Obj* value)
{
    int count = 0;
    Tcl_Obj** elements = nullptr;
    if (Tcl_ListObjGetElements(interp, value, &count, &elements) != TCL_OK)
        return SharedPtr<Object>();
    ObjectList list;
    for (int i = 0; i < count; ++i)
        list << elementToNative(interp, elements[i]);
    return ArrayClass::createRemoteObject(list);
}

SharedPtr<Object> dictToNative(Tcl_Interp* interp, Tcl_Obj* value)
{
    Tcl_DictSearch search;
    Tcl_Obj *key, *entry;
    int done = 0;
    if (Tcl_DictObjFirst(interp, value, &search, &key, &entry, &done) != TCL_OK)
        return SharedPtr<Object>();
    ObjectMapValue map;
    for (; !done; Tcl_DictObjNext(&search, &key, &entry, &done))
        map.insert(textOf(key), elementToNative(interp, entry));
    Tcl_DictObjDone(&search);
    return MapClass::createRemoteObject(map);
}

} // namespace

SharedPtr<Object> toNativeValue(Tcl_Interp* interp, Tcl_Obj* value, const Class* hint)
{
    Inspector* inspector = Inspector::self();
    const Class* intClass = inspector->primitiveClass(IntKind);
    if (const char* type = typeNameOf(value)) {
        if (!strcmp(type, "int")) {
            const Class* stringClass = inspector->stringClass();
            if (hint && hint != intClass && stringClass && stringClass->canConvert(hint, true, true))
                return inspector->createPrimitive(textOf(value));
            Tcl_WideInt wide = 0;
            Tcl_GetWideIntFromObj(interp, value, &wide);
            if (wide >= -2147483648LL && wide <= 2147483647LL) {
                int i = 0;
                Tcl_GetIntFromObj(interp, value, &i);
                return inspector->createInt(i);
            }
            return inspector->createInt64(wide);
        }
        if (!strcmp(type, "boolean")) {
            int b = 0;
            Tcl_GetBooleanFromObj(interp, value, &b);
            return inspector->createBool(b != 0);
        }
        if (!strcmp(type, "list"))
            return listToNative(interp, value);
    }
    // A numeric or boolean hint takes the word only when it holds such a value exactly; anything else
    // goes on as an untyped word, so that "abc" never becomes a silent 0.
    if (hint && isNumericOrBoolKind(hint->primitiveKind())) {
        if (SharedPtr<Object> primitive = toPrimitiveValue(value, hint->primitiveKind()))
            return primitive;
    }
    if (hint == ArrayClass::registeredClass()) {
        if (SharedPtr<Object> list = listToNative(interp, value))
            return list;
    }
    if (hint == MapClass::registeredClass()) {
        if (SharedPtr<Object> map = dictToNative(interp, value))
            return map;
    }
    if (SharedPtr<Object> object = objectFromValue(value))
        return object;
    const QString text = textOf(value);
    bool ok = false;
    const int i = QLocale::c().toInt(text, &ok);
    if (ok)
        return inspector->createInt(i);
    const double d = QLocale::c().toDouble(text, &ok);
    if (ok)
        return inspector->createDouble(d);
    if (text == QLatin1String("false"))
        return inspector->createBool(false);
    if (text == QLatin1String("true"))
        return inspector->createBool(true);
    return inspector->createPrimitive(text);
}

QString valueTypeName(Tcl_Obj* value)
{
    if (!value->typePtr)
        return QStringLiteral("<no type, probably string>");
    if (SharedPtr<Object> object = objectFromValue(value))
        return object->className();
    if (!value->typePtr->name)
        return QStringLiteral("<type without typename>");
    return QString::fromUtf8(value->typePtr->name);
}
