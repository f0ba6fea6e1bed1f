// The framework side of script contexts: the current context, errors and running API functions.
#include "scriptcontext.h"

#include "nativeapi.h"
#include "scriptargument.h"

#include "object.h"

namespace {
ScriptContext* currentContext = nullptr;
}

ScriptContext::ScriptContext() = default;

ScriptContext::~ScriptContext()
{
    if (currentContext == this)
        currentContext = nullptr;
}

ScriptContext* ScriptContext::current()
{
    return currentContext;
}

void ScriptContext::setCurrent(ScriptContext* context)
{
    currentContext = context;
}

void ScriptContext::setError(const QString& message, const DebuggerFrame& frame)
{
    errorText = message;
    errType = PlainError;
    errFrame = frame;
}

void ScriptContext::setError(const QString& message, ErrorType type)
{
    errorText = message;
    errType = type;
    errFrame = DebuggerFrame();
}

void ScriptContext::clearError()
{
    errorText.clear();
    errType = PlainError;
    errFrame = DebuggerFrame();
}

void ScriptContext::setStackTraceResult(const LineInfoList& stack)
{
    QList<SharedPtr<ScriptArgument>> entries;
    for (const LineInfo& info : stack) {
        SourceLocation location;
        location.file = info.file();
        location.line = info.line();
        entries.append(createLocationArgument(location));
    }
    setResult(createListArgument(entries));
}

void ScriptContext::addGlobalFunction(const QString& name, const NativeFunction&)
{
    qWarning("ScriptContext::addGlobalFunction(%s) not implemented, yet", qPrintable(name));
}

void ScriptContext::addStaticMemberFunction(const QString& className, const QString& name, const NativeFunction&)
{
    qWarning("ScriptContext::addStaticMemberFunction(%s.%s) not implemented, yet", qPrintable(className),
             qPrintable(name));
}

void ScriptContext::addMemberFunction(const QString& className, const QString& name, const NativeFunction&)
{
    qWarning("ScriptContext::addMemberFunction(%s.%s) not implemented, yet", qPrintable(className),
             qPrintable(name));
}

void ScriptContext::addConstant(const QString& name, const QString&)
{
    qWarning("ScriptContext::addConstant(%s) not implemented, yet", qPrintable(name));
}

int ScriptContext::execute(ApiFunction function)
{
    clearError();
    int rc = function(this);
    return (rc == 1 || hasError()) ? 1 : 0;
}

int ScriptContext::execute(BoolApiFunction function)
{
    clearError();
    bool ok = function(this);
    if (!ok && !hasError())
        setError(QStringLiteral("The operation failed without giving a reason"), PlainError);
    return hasError() ? 1 : 0;
}

int ScriptContext::execute(ObjectApiFunction function)
{
    clearError();
    SharedPtr<Object> object = function(this);
    if (hasError())
        return 1;
    if (object)
        setResult(createObjectArgument(object));
    return 0;
}

int ScriptContext::execute(const NativeFunction& function)
{
    clearError();
    const bool ok = function && function(this);
    if (!ok && !hasError())
        setError(QStringLiteral("The operation failed without giving a reason"), PlainError);
    return hasError() ? 1 : 0;
}

int ScriptContext::execute(const NativeFunction& function, const SharedPtr<NativeScriptObject>& object)
{
    // The caller's reference keeps the object alive for the call, even if the method drops the
    // script's last value that held it.
    SharedPtr<NativeScriptObject> keep = object;
    NativeScriptObject* outer = self;
    self = keep.get();
    const int rc = execute(function);
    self = outer;
    return rc;
}

int ScriptContext::execute(const NativeConstructor& constructor)
{
    clearError();
    SharedPtr<NativeScriptObject> object = constructor ? constructor(this) : SharedPtr<NativeScriptObject>();
    if (hasError())
        return 1;
    if (!object) {
        setError(QStringLiteral("The constructor failed without giving a reason"), PlainError);
        return 1;
    }
    setResult(createNativeObjectArgument(object));
    return 0;
}
