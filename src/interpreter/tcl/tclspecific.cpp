// Script arguments and script contexts in their Tcl form.
#include "tclspecific.h"

#include "applicationcontext.h"
#include "debugger.h"
#include "nativeapi.h"
#include "inspector.h"
#include "tclbdd.h"
#include "tclhandles.h"
#include "tclconversion.h"
#include "tclinterpreter.h"
#include "tclnativetypes.h"
#include "testdata.h"

#include <QDebug>

#include <ctime>


// ---------------------------------------------------------------------------------------------------
// TclScriptArgument

TclScriptArgument::TclScriptArgument(Tcl_Obj* value, Tcl_Interp* interp) : obj(value), tclInterp(interp)
{
    Tcl_IncrRefCount(obj);
}

TclScriptArgument::~TclScriptArgument()
{
    Tcl_DecrRefCount(obj);
}

QString TclScriptArgument::typeName() const
{
    if (SharedPtr<Object> object = objectFromValue(obj))
        return object->className();
    if (obj->typePtr && obj->typePtr->name)
        return QString::fromLatin1(obj->typePtr->name);
    return QStringLiteral("(unknown)");
}

bool TclScriptArgument::isBool() const
{
    int b;
    return Tcl_GetBooleanFromObj(tclInterp, obj, &b) == TCL_OK;
}

bool TclScriptArgument::isDouble() const
{
    double d;
    return isInteger() || Tcl_GetDoubleFromObj(tclInterp, obj, &d) == TCL_OK;
}

bool TclScriptArgument::isInteger() const
{
    int i;
    long l;
    return Tcl_GetIntFromObj(tclInterp, obj, &i) == TCL_OK || Tcl_GetLongFromObj(tclInterp, obj, &l) == TCL_OK;
}

bool TclScriptArgument::isString() const
{
    return true;
}

bool TclScriptArgument::isObject() const
{
    return obj->typePtr == &testObjectType;
}

bool TclScriptArgument::isClass() const
{
    return toClass() != nullptr;
}

bool isObjectMapObject(Tcl_Interp* interp, Tcl_Obj* value)
{
    const QString text = value->typePtr == &testObjectType
                             ? static_cast<Object*>(value->internalRep.otherValuePtr)->stringValue()
                             : textOf(value);
    if (!text.contains(QLatin1String("object_map_helper_object_")))
        return false;
    Tcl_Obj* copy = Tcl_DuplicateObj(value);
    Tcl_IncrRefCount(copy);
    const bool ok = Tcl_EvalObjv(interp, 1, &copy, 0) == TCL_OK;
    Tcl_DecrRefCount(copy);
    return ok;
}

bool TclScriptArgument::isDateTime() const
{
    return false;
}

bool TclScriptArgument::isList() const
{
    int n;
    return Tcl_ListObjLength(tclInterp, obj, &n) == TCL_OK;
}

bool TclScriptArgument::isMap() const
{
    // Asked of a copy so that the value keeps its own type.
    Tcl_Obj* copy = Tcl_DuplicateObj(obj);
    Tcl_IncrRefCount(copy);
    int n;
    const bool ok = Tcl_DictObjSize(tclInterp, copy, &n) == TCL_OK;
    Tcl_DecrRefCount(copy);
    return ok;
}

bool TclScriptArgument::isNativeObject(const void* typeKey) const
{
    return !toNativeObject(typeKey).isNull();
}

bool TclScriptArgument::toBool() const
{
    int b = 0;
    return Tcl_GetBooleanFromObj(tclInterp, obj, &b) == TCL_OK && b;
}

double TclScriptArgument::toDouble() const
{
    double d = 0.0;
    return Tcl_GetDoubleFromObj(tclInterp, obj, &d) == TCL_OK ? d : 0.0;
}

int TclScriptArgument::toInt() const
{
    int i = 0;
    if (Tcl_GetIntFromObj(tclInterp, obj, &i) == TCL_OK)
        return i;
    long l = 0;
    return Tcl_GetLongFromObj(tclInterp, obj, &l) == TCL_OK ? int(l) : 0;
}

QString TclScriptArgument::toString() const
{
    if (isObjectMapObject(tclInterp, obj)) {
        // Evaluated a second time, now for its text.
        Tcl_Obj* word = obj;
        Tcl_EvalObjv(tclInterp, 1, &word, 0);
        return resultText(tclInterp);
    }
    if (isObject())
        return static_cast<Object*>(obj->internalRep.otherValuePtr)->stringValue();
    return textOf(obj);
}

Object* TclScriptArgument::toObject() const
{
    // Borrowed: the handle's own reference keeps the object alive.
    return objectFromValue(obj).get();
}

const Class* TclScriptArgument::toClass() const
{
    return Inspector::self()->classByName(textOf(obj));
}

QList<SharedPtr<ScriptArgument>> TclScriptArgument::toList() const
{
    QList<SharedPtr<ScriptArgument>> list;
    int n = 0;
    if (Tcl_ListObjLength(tclInterp, obj, &n) != TCL_OK)
        return list;
    for (int i = 0; i < n; ++i) {
        Tcl_Obj* element = nullptr;
        if (Tcl_ListObjIndex(tclInterp, obj, i, &element) != TCL_OK || !element)
            return QList<SharedPtr<ScriptArgument>>();
        list.append(SharedPtr<ScriptArgument>(new TclScriptArgument(element, tclInterp)));
    }
    return list;
}

QMap<QString, SharedPtr<ScriptArgument>> TclScriptArgument::toMap() const
{
    QMap<QString, SharedPtr<ScriptArgument>> map;
    Tcl_DictSearch search;
    Tcl_Obj *key, *value;
    int done = 0;
    if (Tcl_DictObjFirst(tclInterp, obj, &search, &key, &value, &done) != TCL_OK)
        return map;
    for (; !done; Tcl_DictObjNext(&search, &key, &value, &done))
        map.insert(textOf(key),
                   SharedPtr<ScriptArgument>(new TclScriptArgument(value, tclInterp)));
    Tcl_DictObjDone(&search);
    return map;
}

SharedPtr<NativeScriptObject> TclScriptArgument::toNativeObject(const void* typeKey) const
{
    SharedPtr<NativeScriptObject> object = nativeObjectFromValue(obj);
    if (!object)
        return object;
    NativeTypesMap* types = nativeTypesMap(tclInterp);
    for (const NativeTypeRecord* record = types ? types->value(object->typeId()) : nullptr; record;
         record = record->superRecord)
        if (record->typeId == typeKey)
            return object;
    return SharedPtr<NativeScriptObject>();
}

SharedPtr<Object> TclScriptArgument::convertToArgument(const Argument&) const
{
    qWarning("TclScriptArgument::convertToArgument() not implemented, yet");
    return SharedPtr<Object>();
}

TestDataRecord* TclScriptArgument::toTestDataRecord() const
{
    return testDataRecordFromValue(obj);
}

SharedPtr<ApplicationContext> TclScriptArgument::toApplicationContext() const
{
    return applicationContextFromValue(obj);
}

QDateTime TclScriptArgument::toDateTime() const
{
    return QDateTime();
}

// ---------------------------------------------------------------------------------------------------
// TclScriptContext

TclScriptContext::TclScriptContext(Tcl_Interp* interp) : tclInterp(interp) {}

TclScriptContext::~TclScriptContext() = default;

ScriptContext* TclScriptContext::newContext()
{
    auto context = new TclScriptContext(tclInterp);
    context->setTestResult(testResult());
    return context;
}

void TclScriptContext::clearResult()
{
    if (result)
        Tcl_DecrRefCount(result);
    result = nullptr;
}

void TclScriptContext::setResult(SharedPtr<ScriptArgument> argument)
{
    if (result) {
        qWarning("TclScriptContext::setResult() overriding result");
        clearResult();
    }
    auto tclArgument = static_cast<TclScriptArgument*>(argument.get());
    result = tclArgument->value();
    Tcl_IncrRefCount(result);
}

void TclScriptContext::setObjectPropertiesResult(SharedPtr<Object> object)
{
    if (result)
        qWarning("TclScript::setObjectPropertiesResult() overriding result");
    const Class* cls = object ? object->objectClass() : nullptr;
    for (int i = 0; cls && i < cls->numProperties(); ++i) {
        const Property* property = cls->property(i);
        SharedPtr<Object> value = property->get(object.get());
        if (!value) {
            qWarning("Error reading %s property", property->name().toLocal8Bit().constData());
            continue;
        }
        // Flags 0: the array lives in the scope of the running command.
        const QByteArray element = property->name().toUtf8();
        Tcl_Obj* elementName = Tcl_NewStringObj(element.constData(), element.size());
        Tcl_IncrRefCount(elementName);
        Tcl_ObjSetVar2(tclInterp, propertyArrayName, elementName, toTclValue(value), 0);
        Tcl_DecrRefCount(elementName);
    }
}

SharedPtr<ScriptArgument> TclScriptContext::wrap(Tcl_Obj* value)
{
    return SharedPtr<ScriptArgument>(new TclScriptArgument(value, tclInterp));
}

SharedPtr<ScriptArgument> TclScriptContext::createNullArgument()
{
    return wrap(Tcl_NewObj());
}

SharedPtr<ScriptArgument> TclScriptContext::createLocationArgument(const SourceLocation& location)
{
    Tcl_Obj* elements[2] = {newTextObj(location.file), Tcl_NewStringObj(QByteArray::number(location.line), -1)};
    return wrap(Tcl_NewListObj(2, elements));
}

SharedPtr<ScriptArgument> TclScriptContext::createApplicationContextArgument(SharedPtr<ApplicationContext> context)
{
    return wrap(newApplicationContextValue(context));
}

SharedPtr<ScriptArgument> TclScriptContext::createRecordListArgument(TestDataSet* dataSet)
{
    Tcl_Obj* list = Tcl_NewListObj(0, nullptr);
    for (int i = 0; dataSet && i < dataSet->recordCount(); ++i)
        Tcl_ListObjAppendElement(nullptr, list, newTestDataRecordValue(dataSet->record(i)));
    return wrap(list);
}

SharedPtr<ScriptArgument> TclScriptContext::createObjectArgument(SharedPtr<Object> object)
{
    return wrap(newObjectHandle(object));
}

SharedPtr<ScriptArgument> TclScriptContext::createNativeObjectArgument(SharedPtr<NativeScriptObject> object)
{
    return wrap(newNativeObjectValue(object));
}

SharedPtr<ScriptArgument> TclScriptContext::createMapArgument(const QMap<QString, SharedPtr<ScriptArgument>>& map)
{
    Tcl_Obj* dict = Tcl_NewDictObj();
    for (auto it = map.constBegin(); it != map.constEnd(); ++it)
        Tcl_DictObjPut(nullptr, dict, newTextObj(it.key()), static_cast<TclScriptArgument*>(it->get())->value());
    return wrap(dict);
}

SharedPtr<ScriptArgument> TclScriptContext::createListArgument(const QList<SharedPtr<ScriptArgument>>& list)
{
    Tcl_Obj* tclList = Tcl_NewListObj(0, nullptr);
    for (const SharedPtr<ScriptArgument>& argument : list)
        Tcl_ListObjAppendElement(nullptr, tclList, static_cast<TclScriptArgument*>(argument.get())->value());
    return wrap(tclList);
}

long secondsSinceEpoch(const QDateTime& dateTime)
{
    // The local date and time fields as mktime reads them; milliseconds play no part.
    const QDate d = dateTime.date();
    const QTime t = dateTime.time();
    struct tm tm = {};
    tm.tm_year = d.year() - 1900;
    tm.tm_mon = d.month() - 1;
    tm.tm_mday = d.day();
    tm.tm_hour = t.hour();
    tm.tm_min = t.minute();
    tm.tm_sec = t.second();
    tm.tm_isdst = -1;
    return long(mktime(&tm));
}

SharedPtr<ScriptArgument> TclScriptContext::createDateTimeArgument(const QDateTime& dateTime)
{
    return wrap(Tcl_NewLongObj(secondsSinceEpoch(dateTime)));
}

SharedPtr<ScriptArgument> TclScriptContext::createStringArgument(const QString& text)
{
    return wrap(newTextObj(text));
}

SharedPtr<ScriptArgument> TclScriptContext::createDoubleArgument(double value)
{
    return wrap(Tcl_NewDoubleObj(value));
}

SharedPtr<ScriptArgument> TclScriptContext::createWideIntArgument(qint64 value)
{
    return wrap(Tcl_NewWideIntObj(value));
}

SharedPtr<ScriptArgument> TclScriptContext::createIntArgument(int value)
{
    return wrap(Tcl_NewIntObj(value));
}

SharedPtr<ScriptArgument> TclScriptContext::createBoolArgument(bool value)
{
    return wrap(Tcl_NewIntObj(value ? 1 : 0));
}

bool TclScriptContext::lineInfo(LineInfo* out, unsigned int level) const
{
    Debugger* debugger = Debugger::self();
    if (!debugger) {
        qWarning("TclScriptContext::lineInfo: Cannot generate line information without debugger");
        return false;
    }
    // Compared unsigned: a level above INT_MAX must not turn negative and pop billions of frames.
    if (level >= unsigned(debugger->frameDepth()))
        return false;
    DebuggerFrame frame = debugger->currentFrame();
    QList<DebuggerFrame> popped;
    for (unsigned int i = 0; i < level; ++i) {
        frame = debugger->popFrame();
        popped.append(frame);
    }
    *out = LineInfo(debugger->findSourceId(frame.sourceId), frame.line);
    while (!popped.isEmpty())
        debugger->pushFrame(popped.takeLast());
    return true;
}

bool TclScriptContext::isTrue(SharedPtr<ScriptArgument> argument)
{
    int b = 0;
    return Tcl_GetBooleanFromObj(tclInterp, static_cast<TclScriptArgument*>(argument.get())->value(), &b) == TCL_OK &&
           b;
}

QPair<QString, QString> TclScriptContext::evaluateExpectingError(SharedPtr<ScriptArgument> code)
{
    const char* text = Tcl_GetString(static_cast<TclScriptArgument*>(code.get())->value());
    const QString display = QString::fromUtf8(text).trimmed();
    if (Tcl_Eval(tclInterp, text) == TCL_ERROR)
        return qMakePair(QStringLiteral("'%1' caused an expected error. Message: '%2'")
                             .arg(display, resultText(tclInterp)),
                         QString());
    return qMakePair(QString(), QStringLiteral("'%1' didn't cause expected error").arg(display));
}

bool TclScriptContext::compareArguments(SharedPtr<ScriptArgument> a, SharedPtr<ScriptArgument> b)
{
    QString message, textA, textB;
    return compareValues(tclInterp, static_cast<TclScriptArgument*>(a.get())->value(),
                         static_cast<TclScriptArgument*>(b.get())->value(), &message, &textA, &textB);
}

bool TclScriptContext::evaluateExpression(const QString&, QString*, const QString&) const
{
    qWarning("TclScriptContext::evaluateExpression() not implemented, yet");
    return false;
}

bool TclScriptContext::sourceCode(const QString&, const QString&)
{
    qWarning("TclScriptContext::sourceCode() not implemented, yet");
    return false;
}

Gherkin::ScriptActions* TclScriptContext::createGherkinScriptActions(SharedPtr<ScriptArgument> argument)
{
    // The argument, when given, names the command that turns a step into the call of its definition.
    const QByteArray command = argument ? argument->toString().toUtf8() : QByteArray();
    return new TclGherkinDriverScriptActions(tclInterp, command);
}

void setTclArguments(ScriptContext* context, int count, Tcl_Obj* const objv[])
{
    QList<SharedPtr<ScriptArgument>> arguments;
    for (int i = 0; i < count; ++i)
        arguments.append(SharedPtr<ScriptArgument>(new TclScriptArgument(objv[i], static_cast<TclScriptContext*>(context)->interp())));
    context->setArguments(arguments);
}

int finishContextCall(TclScriptContext& context, Tcl_Interp* interp, int executeResult)
{
    if (executeResult == 1) {
        // A result the function left before it failed is dropped with the call, not leaked.
        context.clearResult();
        return setErrorResult(interp, context.error());
    }
    if (Tcl_Obj* result = context.resultValue())
        Tcl_SetObjResult(interp, result);
    // The interpreter holds the result now; the context's own reference goes with the call.
    context.clearResult();
    return finishCommand(TCL_OK);
}

int finishGlobalContextCall(ScriptContext* context, Tcl_Interp* interp, int executeResult)
{
    auto tclContext = static_cast<TclScriptContext*>(context);
    if (executeResult != 1) {
        if (Tcl_Obj* result = tclContext->resultValue())
            Tcl_SetObjResult(interp, result);
        tclContext->clearResult();
        return finishCommand(TCL_OK);
    }
    const QByteArray code = context->error().toUtf8();
    Tcl_SetErrorCode(interp, code.constData(), static_cast<char*>(nullptr));
    QString message = context->error();
    if (context->errorType() == ScriptContext::VerificationFailure)
        message.prepend(QLatin1String("VerificationFailure: "));
    else if (context->errorType() == ScriptContext::SkipError)
        message.prepend(QLatin1String("Skipped: "));
    return setErrorResult(interp, message);
}
