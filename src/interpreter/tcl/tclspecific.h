// The framework's script arguments and script contexts in their Tcl form.
#pragma once

#include "scriptargument.h"
#include "scriptcontext.h"

#include <tcl.h>

// One Tcl value as the framework sees it. Holds one Tcl reference to the value for its lifetime.
class TclScriptArgument : public ScriptArgument {
public:
    TclScriptArgument(Tcl_Obj* value, Tcl_Interp* interp);
    ~TclScriptArgument() override;

    QString typeName() const override;
    bool isBool() const override;
    bool isDouble() const override;
    bool isInteger() const override;
    bool isString() const override;
    bool isObject() const override;
    bool isClass() const override;
    bool isDateTime() const override;
    bool isList() const override;
    bool isMap() const override;
    bool isNativeObject(const void* typeKey) const override;
    bool toBool() const override;
    double toDouble() const override;
    int toInt() const override;
    QString toString() const override;
    Object* toObject() const override;
    const Class* toClass() const override;
    QList<SharedPtr<ScriptArgument>> toList() const override;
    QMap<QString, SharedPtr<ScriptArgument>> toMap() const override;
    SharedPtr<NativeScriptObject> toNativeObject(const void* typeKey) const override;
    SharedPtr<Object> convertToArgument(const Argument& argument) const override;
    TestDataRecord* toTestDataRecord() const override;
    SharedPtr<ApplicationContext> toApplicationContext() const override;
    QDateTime toDateTime() const override;

    Tcl_Obj* value() const { return obj; }
    Tcl_Interp* interp() const { return tclInterp; }

private:
    Tcl_Obj* obj;
    Tcl_Interp* tclInterp;
};

// The bridge between a Tcl command and a framework API function, and the factory of result values.
class TclScriptContext : public ScriptContext {
public:
    explicit TclScriptContext(Tcl_Interp* interp);
    ~TclScriptContext() override;

    ScriptContext* newContext() override;
    void clearResult() override;
    void setResult(SharedPtr<ScriptArgument> result) override;
    void setObjectPropertiesResult(SharedPtr<Object> object) override;
    SharedPtr<ScriptArgument> createNullArgument() override;
    SharedPtr<ScriptArgument> createLocationArgument(const SourceLocation& location) override;
    SharedPtr<ScriptArgument> createApplicationContextArgument(SharedPtr<ApplicationContext> context) override;
    SharedPtr<ScriptArgument> createRecordListArgument(TestDataSet* dataSet) override;
    SharedPtr<ScriptArgument> createObjectArgument(SharedPtr<Object> object) override;
    SharedPtr<ScriptArgument> createNativeObjectArgument(SharedPtr<NativeScriptObject> object) override;
    SharedPtr<ScriptArgument> createMapArgument(const QMap<QString, SharedPtr<ScriptArgument>>& map) override;
    SharedPtr<ScriptArgument> createListArgument(const QList<SharedPtr<ScriptArgument>>& list) override;
    SharedPtr<ScriptArgument> createDateTimeArgument(const QDateTime& dateTime) override;
    SharedPtr<ScriptArgument> createStringArgument(const QString& text) override;
    SharedPtr<ScriptArgument> createDoubleArgument(double value) override;
    SharedPtr<ScriptArgument> createWideIntArgument(qint64 value) override;
    SharedPtr<ScriptArgument> createIntArgument(int value) override;
    SharedPtr<ScriptArgument> createBoolArgument(bool value) override;
    bool lineInfo(LineInfo* out, unsigned int level) const override;
    bool isTrue(SharedPtr<ScriptArgument> argument) override;
    QPair<QString, QString> evaluateExpectingError(SharedPtr<ScriptArgument> code) override;
    bool compareArguments(SharedPtr<ScriptArgument> a, SharedPtr<ScriptArgument> b) override;
    bool evaluateExpression(const QString& expression, QString* result, const QString& file) const override;
    bool sourceCode(const QString& file, const QString& code) override;
    Gherkin::ScriptActions* createGherkinScriptActions(SharedPtr<ScriptArgument> argument) override;

    Tcl_Interp* interp() const { return tclInterp; }
    Tcl_Obj* resultValue() const { return result; }
    void setPropertyArrayName(Tcl_Obj* name) { propertyArrayName = name; }

private:
    SharedPtr<ScriptArgument> wrap(Tcl_Obj* value);

    Tcl_Interp* tclInterp;
    Tcl_Obj* result = nullptr;
    Tcl_Obj* propertyArrayName = nullptr;
};

// Whether a value names an entry of the scripted object map: its text contains the helper's marker and
// it evaluates as a one-word command without error.
bool isObjectMapObject(Tcl_Interp* interp, Tcl_Obj* value);

// Seconds since the epoch of a local date and time, as scripts get dates.
long secondsSinceEpoch(const QDateTime& dateTime);

// Wraps each of the count values in a script argument and hands them to the context.
void setTclArguments(ScriptContext* context, int count, Tcl_Obj* const objv[]);

// Forwards a command to a framework API function through a context of its own: the words after the
// command word become the arguments; the context's result or error becomes the command's.
template <class Function> int runInContext(Function apiFunction, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[]);

// Forwards through the global script context; failed verifications and skips get the prefixes
// "VerificationFailure: " and "Skipped: ", and errorCode is set to the bare error text.
template <class Function>
int runInGlobalContext(Tcl_Interp* interp, int objc, Tcl_Obj* const objv[], Function apiFunction);

int finishContextCall(TclScriptContext& context, Tcl_Interp* interp, int executeResult);
int finishGlobalContextCall(ScriptContext* context, Tcl_Interp* interp, int executeResult);

template <class Function> int runInContext(Function apiFunction, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    TclScriptContext context(interp);
    setTclArguments(&context, objc - 1, objv + 1);
    return finishContextCall(context, interp, context.execute(apiFunction));
}

template <class Function>
int runInGlobalContext(Tcl_Interp* interp, int objc, Tcl_Obj* const objv[], Function apiFunction)
{
    ScriptContext* context = ScriptContext::current();
    // The global context lives on: a function that sets no result must not return an earlier one.
    context->clearResult();
    setTclArguments(context, objc, objv);
    return finishGlobalContextCall(context, interp, context->execute(apiFunction));
}
