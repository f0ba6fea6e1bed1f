// The bridge between a script command and a framework API function: the function reads its arguments
// from the context and leaves a result or an error in it. The context is also the factory of the script
// values the function returns. One context is current for the framework at any time.
#pragma once

#include "debugger.h"
#include "interpreter.h"
#include "lineinfo.h"
#include "sharedptr.h"
#include "testdatafwd.h"

#include <QDateTime>
#include <QList>
#include <QMap>
#include <QPair>
#include <QString>

class ApplicationContext;
class NativeScriptObject;
class Object;
class ScriptArgument;
class TestResult;
namespace Gherkin {
class ScriptActions;
}

// A framework API function. The int form answers 1 for failure; the bool form false for failure; the
// object form a null object for failure.
using ApiFunction = int (*)(ScriptContext*);
using BoolApiFunction = bool (*)(ScriptContext*);
using ObjectApiFunction = SharedPtr<Object> (*)(ScriptContext*);

struct SourceLocation {
    QString file;
    int line = -1;
};

class ScriptContext {
public:
    enum ErrorType { PlainError = 0, VerificationFailure = 1, SkipError = 2 };

    ScriptContext();
    virtual ~ScriptContext();

    static ScriptContext* current();
    static void setCurrent(ScriptContext* context);

    virtual ScriptContext* newContext() = 0;
    virtual void setError(const QString& message, const DebuggerFrame& frame);
    virtual void setError(const QString& message, ErrorType type);
    virtual void clearResult() = 0;
    virtual void setResult(SharedPtr<ScriptArgument> result) = 0;
    virtual void setObjectPropertiesResult(SharedPtr<Object> object) = 0;
    virtual void setStackTraceResult(const LineInfoList& stack);
    virtual SharedPtr<ScriptArgument> createNullArgument() = 0;
    virtual SharedPtr<ScriptArgument> createLocationArgument(const SourceLocation& location) = 0;
    virtual SharedPtr<ScriptArgument> createApplicationContextArgument(SharedPtr<ApplicationContext> context) = 0;
    virtual SharedPtr<ScriptArgument> createRecordListArgument(TestDataSet* dataSet) = 0;
    virtual SharedPtr<ScriptArgument> createObjectArgument(SharedPtr<Object> object) = 0;
    virtual SharedPtr<ScriptArgument> createNativeObjectArgument(SharedPtr<NativeScriptObject> object) = 0;
    virtual SharedPtr<ScriptArgument> createMapArgument(const QMap<QString, SharedPtr<ScriptArgument>>& map) = 0;
    virtual SharedPtr<ScriptArgument> createListArgument(const QList<SharedPtr<ScriptArgument>>& list) = 0;
    virtual SharedPtr<ScriptArgument> createDateTimeArgument(const QDateTime& dateTime) = 0;
    virtual SharedPtr<ScriptArgument> createStringArgument(const QString& text) = 0;
    virtual SharedPtr<ScriptArgument> createDoubleArgument(double value) = 0;
    virtual SharedPtr<ScriptArgument> createWideIntArgument(qint64 value) = 0;
    virtual SharedPtr<ScriptArgument> createIntArgument(int value) = 0;
    virtual SharedPtr<ScriptArgument> createBoolArgument(bool value) = 0;
    virtual void addGlobalFunction(const QString& name, const NativeFunction& function);
    virtual void addStaticMemberFunction(const QString& className, const QString& name,
                                         const NativeFunction& function);
    virtual void addMemberFunction(const QString& className, const QString& name, const NativeFunction& function);
    virtual void addConstant(const QString& name, const QString& value);
    virtual bool lineInfo(LineInfo* out, unsigned int level) const = 0;
    virtual bool isTrue(SharedPtr<ScriptArgument> argument) = 0;
    virtual QPair<QString, QString> evaluateExpectingError(SharedPtr<ScriptArgument> code) = 0;
    virtual bool compareArguments(SharedPtr<ScriptArgument> a, SharedPtr<ScriptArgument> b) = 0;
    virtual bool evaluateExpression(const QString& expression, QString* result, const QString& file) const = 0;
    virtual bool sourceCode(const QString& file, const QString& code) = 0;
    virtual Gherkin::ScriptActions* createGherkinScriptActions(SharedPtr<ScriptArgument> argument) = 0;

    void setArguments(const QList<SharedPtr<ScriptArgument>>& arguments) { args = arguments; }
    const QList<SharedPtr<ScriptArgument>>& arguments() const { return args; }
    int argumentCount() const { return args.size(); }
    SharedPtr<ScriptArgument> argument(int i) const { return args.value(i); }

    // Runs an API function in this context; 1 means it failed (the error text says why), 0 success.
    int execute(ApiFunction function);
    int execute(BoolApiFunction function);
    int execute(ObjectApiFunction function);
    // A native function of the framework's native API (false for failure).
    int execute(const NativeFunction& function);
    // A method of a native script object: the object is thisObject() while the function runs.
    int execute(const NativeFunction& function, const SharedPtr<NativeScriptObject>& object);
    // A native type's constructor; the new object becomes the context's result.
    int execute(const NativeConstructor& constructor);
    // The native object whose method is running; null outside a method call.
    NativeScriptObject* thisObject() const { return self; }

    QString error() const { return errorText; }
    ErrorType errorType() const { return errType; }
    DebuggerFrame errorFrame() const { return errFrame; }
    bool hasError() const { return !errorText.isEmpty(); }
    void clearError();

    TestResult* testResult() const { return test; }
    void setTestResult(TestResult* result) { test = result; }

private:
    QList<SharedPtr<ScriptArgument>> args;
    QString errorText;
    ErrorType errType = PlainError;
    DebuggerFrame errFrame;
    TestResult* test = nullptr;
    NativeScriptObject* self = nullptr;
};
