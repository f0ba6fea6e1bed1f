// The Tcl interpreter behind the framework's Interpreter: construction and registration of the command
// set, running scripts and calling their functions, error reporting with file and line, the pending
// error, and the exported factory.
#include "tclinterpreter.h"
#include "tclposition.h"

#include "debugger.h"
#include "object.h"
#include "runnerinterface.h"
#include "settings.h"
#include "tclcommands.h"
#include "tclconversion.h"
#include "tcldebugger.h"
#include "tclhandles.h"
#include "tclinstrumenter.h"
#include "tclnativetypes.h"
#include "tclspecific.h"
#include "tclsyntaxcheck.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QRegExp>

#include <cstring>

namespace {

// The pending error: one slot for the whole process, delivered by the next finishCommand of any
// interpreter to the interpreter it names.
QString pendingErrorText;
Tcl_Interp* pendingErrorInterp = nullptr;

struct NamedValue {
    const char* name;
    int value;
};

// Mouse buttons first, then keyboard modifiers; None appears in both lists and is set twice.
const NamedValue buttonAndModifierValues[] = {
    {"None", 0},       {"LeftButton", 1},       {"MiddleButton", 2},     {"RightButton", 4},
    {"Wheel", 8},      {"PrimaryButton", 16},   {"SecondaryButton", 32}, {"XButton1", 64},
    {"XButton2", 128}, {"None", 0},             {"Control", 128},        {"Shift", 256},
    {"Alt", 512},      {"Win", 1024},           {"Command", 2048},
};

QString installationPrefix()
{
    return qEnvironmentVariable("TARVIN_PREFIX");
}


} // namespace

int finishCommand(int code)
{
    if (pendingErrorText.isEmpty())
        return code;
    setErrorResult(pendingErrorInterp, pendingErrorText);
    pendingErrorText.clear();
    pendingErrorInterp = nullptr;
    return TCL_ERROR;
}

namespace {

// Tcl's own "utf-8" encoding converts between standard UTF-8 and the interpreter's form; it is looked up
// once and kept for the life of the process.
Tcl_Encoding utf8Encoding()
{
    static Tcl_Encoding encoding = Tcl_GetEncoding(nullptr, "utf-8");
    return encoding;
}

} // namespace

QString fromTclUtf(const char* bytes, int length)
{
    if (length < 0)
        length = int(strlen(bytes));
    // Only C0 (a NUL) and ED (a surrogate) differ from standard UTF-8; without them Qt reads the bytes as they are.
    bool plain = true;
    for (int i = 0; i < length && plain; ++i)
        plain = static_cast<unsigned char>(bytes[i]) != 0xC0 && static_cast<unsigned char>(bytes[i]) != 0xED;
    if (plain)
        return QString::fromUtf8(bytes, length);
    Tcl_DString external;
    Tcl_UtfToExternalDString(utf8Encoding(), bytes, length, &external);
    const QString text = QString::fromUtf8(Tcl_DStringValue(&external), Tcl_DStringLength(&external));
    Tcl_DStringFree(&external);
    return text;
}

QByteArray toTclUtf(const QString& text)
{
    const QByteArray utf8 = text.toUtf8();
    // Only a NUL byte and the four-byte sequences (F0 and above) differ from Tcl's form.
    bool plain = true;
    for (int i = 0; i < utf8.size() && plain; ++i)
        plain = utf8.at(i) != 0 && static_cast<unsigned char>(utf8.at(i)) < 0xF0;
    if (plain)
        return utf8;
    Tcl_DString internal;
    Tcl_ExternalToUtfDString(utf8Encoding(), utf8.constData(), utf8.size(), &internal);
    const QByteArray converted(Tcl_DStringValue(&internal), Tcl_DStringLength(&internal));
    Tcl_DStringFree(&internal);
    return converted;
}

int setErrorResult(Tcl_Interp* interp, const QString& message)
{
    const QByteArray utf8 = toTclUtf(message);
    char* text = Tcl_Alloc(utf8.size() + 1);
    memcpy(text, utf8.constData(), utf8.size() + 1);
    Tcl_SetResult(interp, text, TCL_DYNAMIC);
    return TCL_ERROR;
}

TclInterpreter::TclInterpreter(RunnerInterface* runner) : Interpreter(runner)
{
    dbg = new TclDebugger(this);
    locateTclLibrary();

    QByteArray programName("tarvinrunner");
    if (QCoreApplication::instance()) {
        const QStringList arguments = QCoreApplication::arguments();
        if (!arguments.isEmpty())
            programName = arguments.first().toLocal8Bit();
    }
    Tcl_FindExecutable(programName.constData());

    interp = Tcl_CreateInterp();
    if (Tcl_Init(interp) == TCL_ERROR)
        qFatal("test.tcl:%d: %s", Tcl_GetErrorLine(interp), Tcl_GetStringResult(interp));
    Tcl_Preserve(interp);
    ownsInterp = true;
    registerCommands();
    interruptHandler = Tcl_AsyncCreate(interruptProc, this);
    Tcl_LimitAddHandler(interp, TCL_LIMIT_TIME, timeLimitProc, this, nullptr);
}

// The adopted interpreter gets a debugger of its own, so that the debug hook and `source` have one,
// but no Tcl_Preserve: its owner keeps it alive and deletes it.
TclInterpreter::TclInterpreter(Tcl_Interp* adopted, RunnerInterface* runner) : Interpreter(runner), interp(adopted)
{
    dbg = new TclDebugger(this);
    registerCommands();
    interruptHandler = Tcl_AsyncCreate(interruptProc, this);
    Tcl_LimitAddHandler(interp, TCL_LIMIT_TIME, timeLimitProc, this, nullptr);
}

TclInterpreter::~TclInterpreter()
{
    if (auto tclDebugger = dynamic_cast<TclDebugger*>(dbg))
        tclDebugger->setBreakOnError(false);
    if (interruptHandler)
        Tcl_AsyncDelete(interruptHandler);
    if (!Tcl_InterpDeleted(interp))
        Tcl_LimitRemoveHandler(interp, TCL_LIMIT_TIME, timeLimitProc, this);
    clearCallables();
    setResult(SharedPtr<ScriptArgument>());
    if (globalContext) {
        globalContext->clearResult();
        delete globalContext; // stops being the current context
    }
    if (pendingErrorInterp == interp) {
        pendingErrorText.clear();
        pendingErrorInterp = nullptr;
    }
    if (ownsInterp) {
        if (!Tcl_InterpDeleted(interp))
            Tcl_DeleteInterp(interp);
        Tcl_Release(interp);
    }
}

void TclInterpreter::locateTclLibrary()
{
    Tarvin::Settings settings(1);
    if (!settings.childKeys(QStringLiteral("Paths"), QStringLiteral("Scripting")).contains(QLatin1String("TclLibrary")))
        return;
    QString library = settings.value(QStringLiteral("Paths"), QStringLiteral("Scripting/TclLibrary"), QString());
    library.replace(QLatin1String("@(TARVIN_PREFIX)"), installationPrefix());
    qputenv("TCL_LIBRARY", library.toUtf8());
}

void TclInterpreter::addTclModulePath(Tcl_Interp* interp)
{
#ifdef Q_OS_WIN
    const QString path = installationPrefix() + QLatin1String("\\lib/tcl");
#else
    const QString path = installationPrefix() + QLatin1String("/lib/tcl");
#endif
    Tcl_Obj* autoPath = Tcl_GetVar2Ex(interp, "auto_path", nullptr, TCL_GLOBAL_ONLY | TCL_LEAVE_ERR_MSG);
    if (!autoPath) {
        qWarning("Could not append Tarvin Tcl package path to auto_path: %s", Tcl_GetStringResult(interp));
        return;
    }
    // Appending in place needs a value the variable holds alone; a shared one is copied and stored back.
    const bool shared = Tcl_IsShared(autoPath);
    if (shared)
        autoPath = Tcl_DuplicateObj(autoPath);
    if (Tcl_ListObjAppendElement(interp, autoPath, newTextObj(path)) != TCL_OK) {
        qWarning("Could not append Tarvin Tcl package path to auto_path: %s", Tcl_GetStringResult(interp));
        if (shared) {
            Tcl_IncrRefCount(autoPath); // frees the unused copy
            Tcl_DecrRefCount(autoPath);
        }
        return;
    }
    if (shared)
        Tcl_SetVar2Ex(interp, "auto_path", nullptr, autoPath, TCL_GLOBAL_ONLY);
    // The tool's own packages are announced at once: a `package require` of one (every suite's object
    // map asks for its helper) then needs no search of auto_path, which would read every package index
    // of the machine's Tcl libraries, each through the instrumenting source command.
    const QDir packages(path);
    for (const QString& entry : packages.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        const QString index = packages.filePath(entry + QLatin1String("/pkgIndex.tcl"));
        if (!QFileInfo::exists(index))
            continue;
        Tcl_SetVar2Ex(interp, "dir", nullptr, newTextObj(packages.filePath(entry)), TCL_GLOBAL_ONLY);
        if (Tcl_EvalFile(interp, QFile::encodeName(index).constData()) != TCL_OK)
            qWarning("Could not read the package index %s: %s", qUtf8Printable(index), Tcl_GetStringResult(interp));
        Tcl_UnsetVar(interp, "dir", TCL_GLOBAL_ONLY);
    }
    Tcl_ResetResult(interp);
}

void TclInterpreter::registerCommands()
{
    addTclModulePath(interp);

    for (int i = 0; i < tclCommandTableSize; ++i) {
        const TclCommandEntry& row = tclCommandTable[i];
        Tcl_CreateObjCommand(interp, row.name, row.proc, row.debuggerClientData ? dbg : nullptr, nullptr);
    }

    for (const NamedValue& v : buttonAndModifierValues) {
        const QString name = QStringLiteral("TarvinPrivate__%1").arg(QLatin1String(v.name));
        Tcl_SetVar(interp, name.toUtf8().constData(), QByteArray::number(v.value).constData(), 0);
        addSelfDefinedVariableName(name);
    }

    // `info body` shows procedures as written, without the hooks of instrumented code.
    Tcl_CreateObjCommand(interp, "::__tarvin_info_body", InfoBodyObjCmd, nullptr, nullptr);
    Tcl_Eval(interp, "namespace ensemble configure ::info -map [dict replace "
                     "[namespace ensemble configure ::info -map] body ::__tarvin_info_body]");
    Tcl_ResetResult(interp);

    Tcl_RegisterObjType(&testObjectType);
    Tcl_RegisterObjType(&testDataRecordType);

    attachNativeTypesMap(interp);
    Tcl_RegisterObjType(&scriptNativeObjectType);

    globalContext = new TclScriptContext(interp);
    ScriptContext::setCurrent(globalContext);
}

// The framework's native API becomes Tcl commands (tclnativetypes.cpp); the description is not used.
bool TclInterpreter::registerNativeFunction(const QString& name, const NativeFunction& function,
                                            const QStringList& mandatoryArgs, const QStringList& optionalArgs,
                                            const QString&)
{
    return registerTclNativeFunction(interp, name, function, mandatoryArgs, optionalArgs);
}

bool TclInterpreter::registerNativeType(const QString& name, const void* typeId, const NativeScriptType& type)
{
    return registerTclNativeType(interp, name, typeId, type);
}

bool TclInterpreter::registerNativeNamespace(const QString& name, const NativeScriptNamespace& ns)
{
    return registerTclNativeNamespace(interp, name, ns);
}

void TclInterpreter::registerTestCommand(TestResult* result)
{
    Tcl_CreateObjCommand(interp, "test", TestObjCmd, nullptr, nullptr);
    if (ScriptContext* context = ScriptContext::current())
        context->setTestResult(result);
}

void TclInterpreter::registerApplicationCommands()
{
    for (int i = 0; i < tclApplicationCommandTableSize; ++i)
        Tcl_CreateObjCommand(interp, tclApplicationCommandTable[i].name, tclApplicationCommandTable[i].proc, nullptr,
                             nullptr);
    initNativeAPI();
}

int TclInterpreter::interpreterKind() const
{
    return 4;
}

void TclInterpreter::rememberSource(const QString& registered, const QString& written, const QString& code)
{
    for (SourceText& source : sources) {
        if (source.file == registered) {
            source.alias = written;
            source.text = code;
            return;
        }
    }
    sources.append({registered, written, code});
}

// Files of Tcl's own library (init.tcl, package.tcl, ...) are marked in call stacks: they are where Tcl
// did its work, not where the user's script went wrong.
static QString markedLibraryFile(const QString& file)
{
    return file + QStringLiteral(" (Tcl library)");
}

// After instrumented code ran, Tcl's own account of the error (errorInfo) places it in the script texts:
// that finds the failing command where no debug hook ran before it (a body evaluated by a procedure of
// the script, the argument of a return), and gives the call stack of the procedures. The debugger's
// frames are the fallback when the error cannot be placed so. Either way the headline is the innermost
// frame outside Tcl's own library.
void TclInterpreter::reportError(bool topLevel)
{
    placedFile.clear();
    placedLine = -1;
    LineInfoList stack = dbg ? dbg->callStack() : LineInfoList();
    const char* tclLibrary = Tcl_GetVar(interp, "tcl_library", TCL_GLOBAL_ONLY);
    const QString libraryDir = tclLibrary ? QDir::cleanPath(QString::fromUtf8(tclLibrary)) : QString();
    auto isLibrary = [&](const QString& file) {
        return !libraryDir.isEmpty() && file.startsWith(libraryDir + QLatin1Char('/'));
    };
    // A stop (exit, time limit, interrupt) cancels the evaluation where the script stood: Tcl's account
    // of a cancellation names no failing command.
    if (dbg && dbg->currentLine() > 0 && stop == NotStopped) {
        const char* info = Tcl_GetVar(interp, "errorInfo", TCL_GLOBAL_ONLY);
        const QVector<ErrorFrame> frames =
            locateError(QString::fromUtf8(info ? info : ""), sources, topLevel ? evaluatedFile : QString(),
                        Tcl_GetErrorLine(interp), libraryDir);
        if (!frames.isEmpty()) {
            stack.clear();
            for (const ErrorFrame& frame : frames) {
                stack.append(LineInfo(frame.library ? markedLibraryFile(frame.file) : frame.file, frame.line));
                if (placedLine < 0 && !frame.library) {
                    placedFile = frame.file;
                    placedLine = frame.line;
                }
            }
        } else {
            const bool inLibrary = isLibrary(dbg->findSourceId(dbg->currentSourceId()));
            for (LineInfo& frame : stack) {
                if (isLibrary(frame.file())) {
                    frame = LineInfo(markedLibraryFile(frame.file()), frame.line());
                } else if (inLibrary && placedLine < 0 && frame.line() > 0) {
                    placedFile = frame.file();
                    placedLine = frame.line();
                }
            }
        }
    }
    setErrorCallStack(stack);
    setErrorLine(Tcl_GetErrorLine(interp));
    setErrorMessage(resultText(interp));
}

Tcl_Obj* swapInfoScript(Tcl_Interp* interp, Tcl_Obj* name)
{
    Tcl_Obj* words[3] = {Tcl_NewStringObj("info", -1), Tcl_NewStringObj("script", -1), name};
    for (Tcl_Obj* word : words)
        Tcl_IncrRefCount(word);
    Tcl_Obj* previous =
        Tcl_EvalObjv(interp, 2, words, TCL_EVAL_GLOBAL) == TCL_OK ? Tcl_GetObjResult(interp) : Tcl_NewObj();
    Tcl_IncrRefCount(previous); // handed to restoreInfoScript
    Tcl_EvalObjv(interp, 3, words, TCL_EVAL_GLOBAL);
    Tcl_ResetResult(interp);
    for (Tcl_Obj* word : words)
        Tcl_DecrRefCount(word);
    return previous;
}

int restoreInfoScript(Tcl_Interp* interp, Tcl_Obj* previous, int code)
{
    Tcl_InterpState state = Tcl_SaveInterpState(interp, code);
    Tcl_DecrRefCount(swapInfoScript(interp, previous));
    Tcl_DecrRefCount(previous);
    return Tcl_RestoreInterpState(interp, state);
}

QString deepNestingMessage()
{
    return QStringLiteral("the script nests more than %1 levels deep (brackets, braces, quotes, array indices); "
                          "Tcl cannot parse it")
        .arg(maxParseNesting);
}

// Tcl's parser recurses once per level of nesting and overflows the native stack on a few tens of
// thousands: such a script fails here, at the line of the command, before Tcl sees it.
bool TclInterpreter::refuseDeepNesting(const QByteArray& code)
{
    const int at = tclNestingTooDeep(code, maxParseNesting);
    if (at < 0)
        return false;
    Tcl_Obj* message = newTextObj(deepNestingMessage());
    Tcl_SetObjResult(interp, message);
    Tcl_SetVar2Ex(interp, "errorInfo", nullptr, message, TCL_GLOBAL_ONLY);
    Tcl_SetErrorLine(interp, code.left(at).count('\n') + 1);
    return true;
}

void TclInterpreter::setTimeLimit(qint64 milliseconds)
{
    Tcl_LimitTypeReset(interp, TCL_LIMIT_TIME);
    if (milliseconds <= 0)
        return;
    Tcl_Time until;
    Tcl_GetTime(&until);
    until.sec += long(milliseconds / 1000);
    until.usec += long(milliseconds % 1000) * 1000;
    if (until.usec >= 1000000) {
        until.sec += 1;
        until.usec -= 1000000;
    }
    Tcl_LimitSetTime(interp, &until);
    Tcl_LimitTypeSet(interp, TCL_LIMIT_TIME);
}

// Only marks the handler: Tcl runs interruptProc when the script is next between two commands.
void TclInterpreter::interrupt()
{
    if (interruptHandler)
        Tcl_AsyncMark(interruptHandler);
}

int TclInterpreter::interruptProc(ClientData data, Tcl_Interp*, int code)
{
    static_cast<TclInterpreter*>(data)->endEvaluation(Interrupted, QStringLiteral("interrupted"));
    return code;
}

void TclInterpreter::timeLimitProc(ClientData data, Tcl_Interp*)
{
    static_cast<TclInterpreter*>(data)->stop = TimeLimit;
}

void TclInterpreter::endEvaluation(StopReason reason, const QString& message)
{
    stop = reason;
    // Tcl_CancelEval takes the message object and releases it.
    Tcl_CancelEval(interp, newTextObj(message), nullptr, TCL_CANCEL_UNWIND);
}

/*
 * exit ?returnCode?
 *
 * The test script's exit, when the host wants scripts to end themselves only. Results: TCL_ERROR with
 * "exit CODE" as the result, which no catch stops (the evaluation is cancelled). Side effects: the
 * interpreter's stop reason and exit status are set.
 */
static int ExitObjCmd(ClientData clientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    if (objc > 2) {
        Tcl_WrongNumArgs(interp, 1, objv, "?returnCode?");
        return TCL_ERROR;
    }
    int status = 0;
    if (objc == 2 && Tcl_GetIntFromObj(interp, objv[1], &status) != TCL_OK)
        return TCL_ERROR;
    auto self = static_cast<TclInterpreter*>(clientData);
    self->endEvaluation(TclInterpreter::Exited, QStringLiteral("exit %1").arg(status));
    self->setExitStatus(status);
    return setErrorResult(interp, QStringLiteral("exit %1").arg(status));
}

void TclInterpreter::setExitEndsScript(bool on)
{
    if (on)
        Tcl_CreateObjCommand(interp, "exit", ExitObjCmd, this, nullptr);
}

bool TclInterpreter::evaluate(const QString& code, const QString& fileName, bool instrument, bool keepResult)
{
    stop = NotStopped;
    if (refuseDeepNesting(code.toUtf8())) {
        script = code;
        dbg->setCurrentLine(0);
        clearError();
        placedFile.clear();
        placedLine = -1;
        setResult(SharedPtr<ScriptArgument>());
        if (keepResult) {
            setResultMessage(resultText(interp));
            setResult(SharedPtr<ScriptArgument>(new TclScriptArgument(Tcl_GetObjResult(interp), interp)));
            return true;
        }
        reportError();
        return false;
    }
    if (instrument) {
        const int sourceId = dbg->nextSourceId();
        script = instrumentSource(code, sourceId);
        if (auto tclDebugger = dynamic_cast<TclDebugger*>(dbg))
            tclDebugger->rememberCode(sourceId, code);
        dbg->setCode(sourceId, fileName);
        if (!fileName.isEmpty()) {
            rememberSource(fileName, QString(), code);
            evaluatedFile = fileName;
        }
    } else {
        script = code;
    }
    dbg->setCurrentLine(0);
    clearError();
    placedFile.clear();
    placedLine = -1;
    setResult(SharedPtr<ScriptArgument>());

    const QByteArray utf8 = script.toUtf8();
    Tcl_Obj* previousScript = fileName.isEmpty() ? nullptr : swapInfoScript(interp, newTextObj(fileName));
    if (previousScript)
        tclEvaluateNextAsFile(interp);
    int rc = Tcl_EvalEx(interp, utf8.constData(), utf8.size(), 0);
    if (previousScript)
        rc = restoreInfoScript(interp, previousScript, rc);

    if (keepResult) {
        setResultMessage(resultText(interp));
        setResult(SharedPtr<ScriptArgument>(new TclScriptArgument(Tcl_GetObjResult(interp), interp)));
        return true;
    }
    if (rc == TCL_ERROR) {
        reportError(instrument);
        return false;
    }
    return true;
}

bool TclInterpreter::callFunction(const QString& name, const ObjectList& args)
{
    Tcl_ResetResult(interp);
    const QByteArray utf8Name = name.toUtf8();
    Tcl_CmdInfo info;
    if (!Tcl_GetCommandInfo(interp, utf8Name.constData(), &info)) {
        Tcl_AppendResult(interp, "unknown command \"", utf8Name.constData(), "\"", nullptr);
        reportError();
        return false;
    }

    QVector<Tcl_Obj*> objv;
    objv.reserve(args.size() + 1);
    objv.append(Tcl_NewStringObj(utf8Name.constData(), utf8Name.size()));
    for (const SharedPtr<Object>& arg : args)
        objv.append(toTclValue(arg));
    for (Tcl_Obj* o : objv)
        Tcl_IncrRefCount(o);

    // Through Tcl's own evaluation, not the command procedure: tailcall, yield and coroutines need the
    // frame and callbacks that Tcl_EvalObjv sets up (a direct call of a procedure that tailcalls panics).
    stop = NotStopped;
    // [info script] names the test script while its functions run, as while it was evaluated.
    Tcl_Obj* previousScript = evaluatedFile.isEmpty() ? nullptr : swapInfoScript(interp, newTextObj(evaluatedFile));
    int rc = Tcl_EvalObjv(interp, objv.size(), objv.data(), 0);
    if (previousScript)
        rc = restoreInfoScript(interp, previousScript, rc);

    for (Tcl_Obj* o : objv)
        Tcl_DecrRefCount(o);

    if (rc != TCL_ERROR)
        return true;
    const QString message = resultText(interp);
    // Failed verifications and skips were reported by the test command already.
    if (message.startsWith(QLatin1String("VerificationFailure: ")) || message.startsWith(QLatin1String("Skipped: ")))
        return true;
    reportError();
    setPendingError(message);
    return false;
}

bool TclInterpreter::hasFunction(const QString& name)
{
    Tcl_CmdInfo info;
    return Tcl_GetCommandInfo(interp, name.toUtf8().constData(), &info) != 0;
}

bool TclInterpreter::checkSyntax(const QString& code)
{
    const QByteArray error = analyzeSource(code.toUtf8().constData());
    if (error.isEmpty())
        return true;
    const QString message = QString::fromUtf8(error);
    setErrorMessage(message);
    QRegExp lineExpression(QStringLiteral("^Line\\s([0-9]*):"));
    if (lineExpression.indexIn(message) == 0)
        setErrorLine(lineExpression.cap(1).toInt());
    else
        setErrorLine(-1);
    return false;
}

int TclInterpreter::errorLine() const
{
    const int stored = storedErrorLine();
    if (stored == -1)
        return -1;
    if (placedLine > 0)
        return placedLine;
    if (dbg && dbg->currentLine() > 0)
        return dbg->currentLine();
    return stored;
}

SharedPtr<Object> TclInterpreter::objectFromHandleText(const QString& text) const
{
    if (!text.startsWith(QLatin1String("Object:")))
        return SharedPtr<Object>();
    Tcl_Obj* value = Tcl_NewStringObj(text.toUtf8().constData(), -1);
    Tcl_IncrRefCount(value);
    SharedPtr<Object> object = objectFromValue(value);
    Tcl_DecrRefCount(value);
    return object;
}

QString TclInterpreter::errorFile(const QString& defaultFile) const
{
    QString file = defaultFile;
    if (placedLine > 0 && storedErrorLine() != -1)
        file = placedFile;
    else if (dbg && dbg->currentLine() >= 1)
        file = dbg->findSourceId(dbg->currentSourceId());
    if (runner()) {
        const QString scriptPath = runner()->testScriptPath();
        if (!scriptPath.isEmpty() && QFileInfo(file).isRelative())
            file = QDir::cleanPath(QFileInfo(scriptPath).absolutePath() + QDir::separator() + file);
    }
    return file;
}

void TclInterpreter::setPendingError(const QString& message)
{
    pendingErrorInterp = interp;
    pendingErrorText = message;
}

QString TclInterpreter::takePendingError()
{
    if (pendingErrorInterp != interp)
        return QString();
    const QString message = pendingErrorText;
    pendingErrorText.clear();
    pendingErrorInterp = nullptr;
    return message;
}

void TclInterpreter::setScriptArguments(const QString& argv0, const QStringList& args)
{
    Interpreter::setScriptArguments(argv0, args);
    Tcl_SetVar2Ex(interp, "argc", nullptr, Tcl_NewIntObj(args.size()), TCL_GLOBAL_ONLY);
    Tcl_SetVar2Ex(interp, "argv0", nullptr, newTextObj(argv0), TCL_GLOBAL_ONLY);
    Tcl_Obj* list = Tcl_NewListObj(0, nullptr);
    for (const QString& arg : args)
        Tcl_ListObjAppendElement(nullptr, list, newTextObj(arg));
    Tcl_SetVar2Ex(interp, "argv", nullptr, list, TCL_GLOBAL_ONLY);
}

// Maps a line that Tcl reports relative to a procedure body back to a line of the evaluated script:
// the innermost procedure in errorInfo whose definition lies in the script text decides.
void TclInterpreter::setErrorLine(int line)
{
    const char* info = Tcl_GetVar(interp, "errorInfo", TCL_GLOBAL_ONLY);
    const QString errorInfo = fromTclUtf(info ? info : "");
    int result = line;
    int p = errorInfo.indexOf(QLatin1String("procedure"));
    while (p >= 0) {
        const int q1 = errorInfo.indexOf(QLatin1Char('"'), p);
        if (q1 < 0)
            break;
        const int q2 = errorInfo.indexOf(QLatin1Char('"'), q1 + 1);
        if (q2 < 0)
            break;
        const QString procName = errorInfo.mid(q1 + 1, q2 - q1 - 1);
        const int close = errorInfo.indexOf(QLatin1Char(')'), q2 + 7);
        const QString lineText = errorInfo.mid(q2 + 7, close < 0 ? -1 : close - (q2 + 7));
        // The name goes into the expression as written, unescaped.
        QRegExp definition(QStringLiteral("proc[\\s]*") + procName);
        const int i = definition.indexIn(script);
        if (i >= 0) {
            result = script.left(i).count(QLatin1Char('\n')) + lineText.toInt();
            break;
        }
        p = errorInfo.indexOf(QLatin1String("procedure"), q2 + 7);
    }
    Interpreter::setErrorLine(result);
}

extern "C" Interpreter* createInterpreter(RunnerInterface* runner)
{
    return new TclInterpreter(runner);
}
