// The Tcl back end of the framework's interpreter: construction of the Tcl interpreter with the test
// API's command table, running scripts and calling their functions, and error reporting with file and
// line. Also the two functions every command handler returns through.
#pragma once

#include "interpreter.h"

#include <QString>
#include <QVector>

#include "tclerrorlocation.h"
#include <tcl.h>

class TclScriptContext;

class TclInterpreter : public Interpreter {
public:
    explicit TclInterpreter(RunnerInterface* runner);
    // Adopts an interpreter its owner created; the owner keeps it alive and deletes it.
    TclInterpreter(Tcl_Interp* interp, RunnerInterface* runner);
    ~TclInterpreter() override;

    bool evaluate(const QString& code, const QString& fileName, bool instrument, bool keepResult) override;
    bool callFunction(const QString& name, const ObjectList& args) override;
    bool hasFunction(const QString& name) override;
    bool checkSyntax(const QString& code) override;
    int errorLine() const override;
    QString errorFile(const QString& defaultFile) const override;
    bool registerNativeFunction(const QString& name, const NativeFunction& function, const QStringList& mandatoryArgs,
                                const QStringList& optionalArgs, const QString& description) override;
    bool registerNativeType(const QString& name, const void* typeId, const NativeScriptType& type) override;
    bool registerNativeNamespace(const QString& name, const NativeScriptNamespace& ns) override;
    void registerTestCommand(TestResult* result) override;
    void registerApplicationCommands() override;
    int interpreterKind() const override;
    void setPendingError(const QString& message) override;
    QString takePendingError() override;
    void setScriptArguments(const QString& argv0, const QStringList& args) override;
    void setErrorLine(int line) override;
    QList<QPair<QByteArray, int>> matchingStepDefinitions(const Gherkin::Step& step) override;
    QStringList registeredStepPatterns(int stepType) override;
    void setTimeLimit(qint64 milliseconds) override;
    void interrupt() override;
    void setExitEndsScript(bool on) override;
    StopReason stopReason() const override { return stop; }
    int exitStatus() const override { return exitCode; }
    SharedPtr<Object> objectFromHandleText(const QString& text) const override;

    Tcl_Interp* tclInterp() const { return interp; }
    QString scriptText() const { return script; }

    static void addTclModulePath(Tcl_Interp* interp);

    // Ends the running evaluation past every catch, with `message` as its error (Tcl_CancelEval).
    void endEvaluation(StopReason reason, const QString& message);
    void setExitStatus(int status) { exitCode = status; }

    // A file that `source` instrumented: its text places errors inside it (`written`: the name the
    // script gave).
    void rememberSource(const QString& registered, const QString& written, const QString& code);

private:
    void locateTclLibrary();
    void registerCommands();
    void reportError(bool topLevel = false);
    bool refuseDeepNesting(const QByteArray& code);
    static int interruptProc(ClientData data, Tcl_Interp* interp, int code);
    static void timeLimitProc(ClientData data, Tcl_Interp* interp);

    Tcl_Interp* interp = nullptr;
    QString script;
    bool ownsInterp = false;
    TclScriptContext* globalContext = nullptr;
    Tcl_AsyncHandler interruptHandler = nullptr;
    StopReason stop = NotStopped;
    int exitCode = 0;
    // The texts of the instrumented scripts, and where the last error was placed from them.
    QVector<SourceText> sources;
    QString evaluatedFile; // the last instrumented script: [info script] while its functions run
    QString placedFile;
    int placedLine = -1;
};

// The message of a script that nests deeper than Tcl's parser can take (the place goes before it).
QString deepNestingMessage();

// The common return of command handlers: a pending error set meanwhile becomes this command's error.
int finishCommand(int code);
// Sets message as the interpreter's result and returns TCL_ERROR.
int setErrorResult(Tcl_Interp* interp, const QString& message);

// [info script] names the file being evaluated, as with Tcl's own source: scripts find their neighbours
// through it. swapInfoScript makes name the current one and returns the one before it, which the caller
// hands back to restoreInfoScript; that keeps the interpreter's result, return options and code.
Tcl_Obj* swapInfoScript(Tcl_Interp* interp, Tcl_Obj* name);
int restoreInfoScript(Tcl_Interp* interp, Tcl_Obj* previous, int code);

// Text crosses the Tcl boundary as UTF-8 both ways. Tcl keeps strings in its own form of UTF-8: NUL is the
// two bytes C0 80 and a character beyond the Basic Multilingual Plane is a surrogate pair of two three-byte
// sequences. These two convert between that form and QString exactly; length -1 means up to the NUL byte.
QString fromTclUtf(const char* bytes, int length = -1);
QByteArray toTclUtf(const QString& text);

inline QString textOf(Tcl_Obj* value)
{
    int length = 0;
    const char* bytes = Tcl_GetStringFromObj(value, &length);
    return fromTclUtf(bytes, length);
}

// A new Tcl value (reference count 0) holding the text.
inline Tcl_Obj* newTextObj(const QString& text)
{
    const QByteArray utf = toTclUtf(text);
    return Tcl_NewStringObj(utf.constData(), utf.size());
}

// The interpreter's result as text.
inline QString resultText(Tcl_Interp* interp)
{
    return textOf(Tcl_GetObjResult(interp));
}
