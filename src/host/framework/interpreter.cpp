// The framework side of the interpreter: error and result state, callables, search path and the
// registry of the live interpreter.
#include "interpreter.h"

#include "debugger.h"
#include "inspector.h"
#include "nativeapi.h"
#include "scriptargument.h"

#include <QDebug>

namespace {
Interpreter* liveInterpreter = nullptr;

// Event handlers are script functions of the live interpreter, called by name with the object that
// handled the event followed by the event's arguments. They run inside the command that made the
// application raise the event (sendEvent, a click, mouse input): a failing handler, or one that names
// no function, becomes that command's error through the pending error.
void callEventHandler(const QString& callback, const SharedPtr<Object>& object, const QString& eventName,
                      const ObjectList& args)
{
    Interpreter* interpreter = Interpreter::self();
    if (!interpreter)
        return;
    if (!interpreter->hasFunction(callback)) {
        interpreter->setPendingError(
            QStringLiteral("The handler '%1' of %2 events is not a function of the test script")
                .arg(callback, eventName));
        return;
    }
    // Each handler runs whatever the ones before it did: a pending error would end its first command.
    // The first error stays the command's error; later ones are warnings.
    const QString earlier = interpreter->takePendingError();
    ObjectList callArgs;
    callArgs << object << args;
    interpreter->callFunction(callback, callArgs);
    const QString own = interpreter->takePendingError();
    if (!earlier.isEmpty()) {
        interpreter->setPendingError(earlier);
        if (!own.isEmpty())
            qWarning("The handler '%s' of %s events failed as well: %s", qUtf8Printable(callback),
                     qUtf8Printable(eventName), qUtf8Printable(own));
    } else if (!own.isEmpty()) {
        interpreter->setPendingError(own);
    }
}
} // namespace

Interpreter::Interpreter(RunnerInterface* runner) : runnerInterface(runner)
{
    liveInterpreter = this;
    Inspector::self()->setEventHandlerCall(callEventHandler);
}

Interpreter::~Interpreter()
{
    if (liveInterpreter == this)
        liveInterpreter = nullptr;
    delete dbg;
}

Interpreter* Interpreter::self()
{
    return liveInterpreter;
}

bool Interpreter::registerNativeFunction(const QString& name, const NativeFunction&, const QStringList&,
                                         const QStringList&, const QString&)
{
    qWarning("Interpreter::registerNativeFunction(%s) not implemented, yet", qPrintable(name));
    return false;
}

bool Interpreter::registerNativeType(const QString& name, const void*, const NativeScriptType&)
{
    qWarning("Interpreter::registerNativeType(%s) not implemented, yet", qPrintable(name));
    return false;
}

bool Interpreter::registerNativeNamespace(const QString& name, const NativeScriptNamespace&)
{
    qWarning("Interpreter::registerNativeNamespace(%s) not implemented, yet", qPrintable(name));
    return false;
}

void Interpreter::addToSearchPath(const QString& directory)
{
    if (!paths.contains(directory))
        paths.append(directory);
}

void Interpreter::addDefaultSearchPaths(const QFileInfo& directory)
{
    addToSearchPath(directory.absoluteFilePath());
}

void Interpreter::setScriptArguments(const QString& a0, const QStringList& a)
{
    argv0 = a0;
    args = a;
}

QList<QPair<QByteArray, int>> Interpreter::matchingStepDefinitions(const Gherkin::Step&)
{
    return QList<QPair<QByteArray, int>>();
}

QStringList Interpreter::registeredStepPatterns(int)
{
    return QStringList();
}

void Interpreter::registerCallable(const QString& name, const Callable& callable)
{
    callables.insert(name, callable);
}

void Interpreter::unregisterCallable(const QString& name)
{
    callables.remove(name);
}

void Interpreter::clearError()
{
    errLine = -1;
    errFile.clear();
    errMessage.clear();
    resMessage.clear();
    errStack.clear();
}

void Interpreter::setErrorMessage(const QString& message)
{
    errMessage = message;
}

void Interpreter::setResultMessage(const QString& message)
{
    resMessage = message;
}

void Interpreter::setErrorLine(int line)
{
    errLine = line;
}

void Interpreter::setErrorFile(const QString& file)
{
    errFile = file;
}

void Interpreter::setDebugger(Debugger* debugger)
{
    if (dbg != debugger)
        delete dbg;
    dbg = debugger;
}

bool Interpreter::isCallableAvailable(const QString& name) const
{
    return callables.contains(name);
}

SharedPtr<ScriptArgument> Interpreter::invokeCallable(const QString& name, const ScriptArgumentList& arguments)
{
    auto it = callables.constFind(name);
    if (it == callables.constEnd())
        return SharedPtr<ScriptArgument>();
    return (*it)(arguments);
}

void Interpreter::initNativeAPI()
{
    NativeApi::registerAll(this);
}

void Interpreter::setTimeLimit(qint64) {}

void Interpreter::interrupt() {}

void Interpreter::setExitEndsScript(bool) {}

Interpreter::StopReason Interpreter::stopReason() const
{
    return NotStopped;
}

int Interpreter::exitStatus() const
{
    return 0;
}

SharedPtr<Object> Interpreter::objectFromHandleText(const QString&) const
{
    return SharedPtr<Object>();
}
