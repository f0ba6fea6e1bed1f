// The framework's abstract script interpreter. A language back end derives from it; the runner drives
// tests only through these operations. The base keeps the error and result state, the callables and the
// names of variables the system itself defines.
#pragma once

#include "lineinfo.h"
#include "object.h"
#include "scriptargument.h"
#include "sharedptr.h"

#include <QFileInfo>
#include <QList>
#include <QMap>
#include <QPair>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>

class Debugger;
namespace Gherkin {
struct Step;
}
class NativeScriptNamespace;
class NativeScriptObject;
class NativeScriptType;

class RunnerInterface;
class ScriptContext;
class TestResult;

using ScriptArgumentList = QList<SharedPtr<ScriptArgument>>;
// A native function the framework publishes to scripts; answers through the context.
using NativeFunction = std::function<bool(ScriptContext*)>;
// A native type's factory: the new object, or null on failure (with the reason in the context's error).
using NativeConstructor = std::function<SharedPtr<NativeScriptObject>(ScriptContext*)>;
// A script function the framework can call back, registered under a name.
using Callable = std::function<SharedPtr<ScriptArgument>(const ScriptArgumentList&)>;

class Interpreter {
public:
    explicit Interpreter(RunnerInterface* runner);
    virtual ~Interpreter();

    // The live interpreter (the one constructed last and not yet destroyed), or null.
    static Interpreter* self();

    virtual bool evaluate(const QString& code, const QString& fileName, bool instrument, bool keepResult) = 0;
    virtual bool callFunction(const QString& name, const ObjectList& args) = 0;
    virtual bool hasFunction(const QString& name) = 0;
    virtual bool checkSyntax(const QString& code) = 0;
    virtual int errorLine() const = 0;
    virtual QString errorFile(const QString& defaultFile) const = 0;
    virtual bool registerNativeFunction(const QString& name, const NativeFunction& function,
                                        const QStringList& mandatoryArgs, const QStringList& optionalArgs,
                                        const QString& description);
    virtual bool registerNativeType(const QString& name, const void* typeId, const NativeScriptType& type);
    virtual bool registerNativeNamespace(const QString& name, const NativeScriptNamespace& ns);
    virtual void registerTestCommand(TestResult* result) = 0;
    virtual void registerApplicationCommands() = 0;
    virtual void addToSearchPath(const QString& directory);
    // Adds the places scripts of a suite directory look in: the directory itself.
    void addDefaultSearchPaths(const QFileInfo& directory);
    virtual int interpreterKind() const = 0;
    virtual void setPendingError(const QString& message) = 0;
    // The pending error, taken out (empty when there is none).
    virtual QString takePendingError() { return QString(); }
    virtual void setScriptArguments(const QString& argv0, const QStringList& args);
    // BDD: where the step definitions matching a step are (file and line each), and the patterns
    // registered for a step type (Gherkin::Step::Type).
    virtual QList<QPair<QByteArray, int>> matchingStepDefinitions(const Gherkin::Step& step);
    virtual QStringList registeredStepPatterns(int stepType);
    virtual void registerCallable(const QString& name, const Callable& callable);
    virtual void unregisterCallable(const QString& name);
    virtual void clearError();
    virtual void setErrorMessage(const QString& message);
    virtual void setResultMessage(const QString& message);
    virtual void setErrorLine(int line);
    virtual void setErrorFile(const QString& file);
    virtual void setDebugger(Debugger* debugger);
    virtual bool isCallableAvailable(const QString& name) const;
    virtual SharedPtr<ScriptArgument> invokeCallable(const QString& name, const ScriptArgumentList& args);

    // Ending a running script early, for hosts that run test cases unattended. Each stop makes the
    // evaluate or callFunction in progress fail with a message of the back end's, past every catch of
    // the script; stopReason() then says why. A back end without these keeps the defaults: no limit,
    // no interrupt, and the language's own exit.
    enum StopReason { NotStopped, TimeLimit, Interrupted, Exited };
    // The script may run `milliseconds` from now; 0 or less: no limit. Once exceeded, the limit stays
    // exceeded (every evaluation fails) until it is set again.
    virtual void setTimeLimit(qint64 milliseconds);
    // Stops the running script as soon as it is back in the interpreter. Safe in a signal handler.
    virtual void interrupt();
    // With it on, the script's exit ends the script instead of the process.
    virtual void setExitEndsScript(bool on);
    // Why the last evaluate or callFunction ended early, and the status the script gave exit.
    virtual StopReason stopReason() const;
    virtual int exitStatus() const;
    // The object a handle's text names (a handle that went into a text, such as a real name's
    // container), or null.
    virtual SharedPtr<Object> objectFromHandleText(const QString& text) const;

    RunnerInterface* runner() const { return runnerInterface; }
    Debugger* debugger() const { return dbg; }

    QString errorMessage() const { return errMessage; }
    QString resultMessage() const { return resMessage; }
    int storedErrorLine() const { return errLine; }
    QString storedErrorFile() const { return errFile; }
    SharedPtr<ScriptArgument> result() const { return res; }
    void setResult(const SharedPtr<ScriptArgument>& result) { res = result; }
    LineInfoList errorCallStack() const { return errStack; }
    void setErrorCallStack(const LineInfoList& stack) { errStack = stack; }

    void clearCallables() { callables.clear(); }
    void addSelfDefinedVariableName(const QString& name) { selfDefined.insert(name); }
    bool isSelfDefinedVariableName(const QString& name) const { return selfDefined.contains(name); }
    QStringList searchPath() const { return paths; }
    QString scriptArgv0() const { return argv0; }
    QStringList scriptArguments() const { return args; }

    // Lets the framework add its native script API through the registration operations.
    void initNativeAPI();

protected:
    Debugger* dbg = nullptr;

private:
    RunnerInterface* runnerInterface;
    int errLine = -1;
    QString errFile;
    QString errMessage;
    QString resMessage;
    SharedPtr<ScriptArgument> res;
    LineInfoList errStack;
    QMap<QString, Callable> callables;
    QSet<QString> selfDefined;
    QStringList paths;
    QString argv0;
    QStringList args;
};
