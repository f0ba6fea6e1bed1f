// The variable watcher for Tcl. Everything it evaluates runs in the frame the script is stopped in; the
// interpreter's result and error state are saved around each listing, so a stopped command resumes as
// it was.
#include "tclvariablewatcher.h"

#include "inspector.h"
#include "runnerinterface.h"
#include "tclhandles.h"
#include "tclinterpreter.h"

#include <cstring>

namespace
{

// Tcl's and the embedding's own variables, never shown.
bool neverListed(const QByteArray& name)
{
    static const char* const names[] = {
        "tcl_version",  "auto_path",    "errorCode",   "tcl_precision",
        "errorInfo",    "env",          "tcl_pkgPath", "tcl_patchLevel",
        "tcl_libPath",  "tcl_platform", "tcl_library", "qt_qheader_label_return_null_strings",
        "qt_winunicode"};
    for (const char* n : names)
        if (name == n)
            return true;
    return false;
}

// The elements of a list result (names may hold blanks); empty when it is no list.
QList<QByteArray> splitNames(Tcl_Interp* interp, const QString& listText)
{
    QList<QByteArray> names;
    const QByteArray utf8 = listText.toUtf8();
    int count = 0;
    const char** elements = nullptr;
    if (Tcl_SplitList(interp, utf8.constData(), &count, &elements) != TCL_OK) {
        Tcl_ResetResult(interp);
        return names;
    }
    for (int i = 0; i < count; ++i)
        names << QByteArray(elements[i]);
    Tcl_Free(reinterpret_cast<char*>(elements));
    return names;
}

// "command word", the word quoted as Tcl needs it (a variable name may hold blanks or brackets).
QByteArray commandWithWord(const char* command, const QByteArray& word)
{
    Tcl_Obj* wordObj = Tcl_NewStringObj(word.constData(), word.size());
    Tcl_Obj* words = Tcl_NewListObj(1, &wordObj);
    Tcl_IncrRefCount(words);
    QByteArray text(command);
    text += ' ';
    text += Tcl_GetString(words);
    Tcl_DecrRefCount(words);
    return text;
}

QString textOfBytes(const QByteArray& bytes)
{
    return QString::fromUtf8(bytes);
}

bool isListValue(Tcl_Obj* value)
{
    return value->typePtr && value->typePtr->name && !std::strcmp(value->typePtr->name, "list");
}

// Keeps the interpreter's result, return options and error state across a listing.
class SavedState
{
public:
    explicit SavedState(Tcl_Interp* interp) : interp(interp), state(Tcl_SaveInterpState(interp, TCL_OK)) {}
    ~SavedState() { Tcl_RestoreInterpState(interp, state); }

private:
    Tcl_Interp* interp;
    Tcl_InterpState state;
};

} // namespace

TclVariableWatcher::TclVariableWatcher(TclInterpreter* interpreter) : interpreter(interpreter) {}

TclVariableWatcher::~TclVariableWatcher()
{
    for (Tcl_Obj* value : lists)
        Tcl_DecrRefCount(value);
}

Tcl_Interp* TclVariableWatcher::tclInterp() const
{
    return interpreter ? interpreter->tclInterp() : nullptr;
}

bool TclVariableWatcher::objectInspection() const
{
    RunnerInterface* runner = interpreter ? interpreter->runner() : nullptr;
    return runner && !runner->objectInspectionText().isEmpty();
}

QString TclVariableWatcher::evalTcl(Tcl_Interp* interp, const QByteArray& script)
{
    if (Tcl_EvalEx(interp, script.constData(), script.size(), 0) == TCL_ERROR) {
        qWarning("evalTcl: Failed to execute '%s'", script.constData());
        Tcl_ResetResult(interp);
        return QString();
    }
    return resultText(interp);
}

VariableBindings TclVariableWatcher::globalBindings()
{
    return globalVariableBindings() + localBindings() + applicationBindings();
}

VariableBindings TclVariableWatcher::globalVariableBindings()
{
    VariableBindings bindings;
    Tcl_Interp* interp = tclInterp();
    if (!interp)
        return bindings;
    SavedState saved(interp);
    for (const QByteArray& name : splitNames(interp, evalTcl(interp, "info globals"))) {
        if (neverListed(name) || interpreter->isSelfDefinedVariableName(textOfBytes(name)))
            continue;
        // Read as globals: a procedure's frame sees them only through `global`.
        Tcl_Obj* value = Tcl_GetVar2Ex(interp, name.constData(), nullptr, TCL_GLOBAL_ONLY);
        const VariableBinding binding = streamVariable(name, "::" + name, value);
        if (!binding.first.isEmpty())
            bindings << binding;
    }
    return bindings;
}

VariableBindings TclVariableWatcher::localBindings()
{
    VariableBindings bindings;
    Tcl_Interp* interp = tclInterp();
    if (!interp)
        return bindings;
    SavedState saved(interp);
    for (const QByteArray& name : splitNames(interp, evalTcl(interp, "info locals"))) {
        Tcl_Obj* value = Tcl_GetVar2Ex(interp, name.constData(), nullptr, 0);
        const VariableBinding binding = streamVariable(name, name, value);
        if (!binding.first.isEmpty())
            bindings << binding;
    }
    return bindings;
}

VariableBindings TclVariableWatcher::applicationBindings()
{
    VariableBindings bindings;
    Tcl_Interp* interp = tclInterp();
    if (!interp || !objectInspection())
        return bindings;
    SavedState saved(interp);
    for (const QByteArray& name : splitNames(interp, evalTcl(interp, "property list"))) {
        if (neverListed(name))
            continue;
        const Class* global = Inspector::self()->globalClass();
        if (!global)
            break;
        const Property* property = global->property(textOfBytes(name));
        if (!property) {
            qWarning("TclVariableWatcher::globalBindings: 'property list' returned invalid string '%s'!",
                     name.constData());
            continue;
        }
        const QString typeName = property->type() ? property->type()->className() : QStringLiteral("?");
        const SharedPtr<Object> value = property->isReadable() ? property->get(nullptr) : SharedPtr<Object>();
        if (objectHasComponents(value.get())) {
            const QString entry = QLatin1Char('+') + textOfBytes(name);
            registerTarvinObject(entry, value);
            bindings << VariableBinding(entry, VariableValue(typeName));
        } else {
            bindings << VariableBinding(textOfBytes(name),
                                        VariableValue(typeName, value ? value->text() : QString()));
        }
    }
    return bindings;
}

bool TclVariableWatcher::isLanguageObject(const QString& entryName)
{
    return arrays.contains(entryName) || lists.contains(entryName);
}

VariableBindings TclVariableWatcher::languageObjectBindings(const QString& entryName)
{
    VariableBindings bindings;
    Tcl_Interp* interp = tclInterp();
    if (!interp)
        return bindings;
    if (arrays.contains(entryName)) {
        SavedState saved(interp);
        const QByteArray name = entryName.mid(1).toUtf8();
        const QByteArray tclName = arrays.value(entryName);
        const QByteArray query = commandWithWord("array names", tclName);
        for (const QByteArray& element : splitNames(interp, evalTcl(interp, query))) {
            Tcl_Obj* value = Tcl_GetVar2Ex(interp, tclName.constData(), element.constData(), 0);
            const VariableBinding binding = streamVariable(name + '.' + element, QByteArray(), value);
            if (!binding.first.isEmpty())
                bindings << binding;
        }
        return bindings;
    }
    if (lists.contains(entryName))
        return streamTclList(entryName.mid(1).toUtf8(), lists.value(entryName));
    qWarning("TclVariableWatcher::languageObjectBindings: '%s' is not a known object.",
             qPrintable(entryName));
    return bindings;
}

VariableBinding TclVariableWatcher::streamTclObject(const QByteArray& name, Tcl_Obj* value)
{
    return streamVariable(name, name, value);
}

VariableBinding TclVariableWatcher::streamVariable(const QByteArray& name, const QByteArray& tclName,
                                                   Tcl_Obj* value)
{
    const QString entryText = textOfBytes(name);
    if (!value) {
        Tcl_Interp* interp = tclInterp();
        if (interp && !tclName.isEmpty()) {
            if (evalTcl(interp, commandWithWord("array exists", tclName)) == QLatin1String("1")) {
                const QString entry = QLatin1Char('+') + entryText;
                arrays.insert(entry, tclName);
                return VariableBinding(entry, VariableValue(QStringLiteral("array")));
            }
        }
        qWarning("streamTclObject: Don't know how to handle '%s'", name.constData());
        return VariableBinding();
    }
    if (isListValue(value)) {
        const QString entry = QLatin1Char('+') + entryText;
        Tcl_IncrRefCount(value);
        if (Tcl_Obj* earlier = lists.value(entry))
            Tcl_DecrRefCount(earlier);
        lists.insert(entry, value);
        return VariableBinding(entry, VariableValue(QStringLiteral("list")));
    }
    if (value->typePtr == &testObjectType && objectInspection()) {
        if (SharedPtr<Object> object = objectFromValue(value)) {
            if (objectHasComponents(object.get())) {
                const QString entry = QLatin1Char('+') + entryText;
                registerTarvinObject(entry, object);
                return VariableBinding(entry, VariableValue(object->className()));
            }
            return VariableBinding(entryText, VariableValue(object->className(), object->text()));
        }
    }
    return VariableBinding(entryText,
                           VariableValue(QStringLiteral("string"), textOf(value)));
}

VariableBindings TclVariableWatcher::streamTclList(const QByteArray& name, Tcl_Obj* list)
{
    VariableBindings bindings;
    int count = 0;
    Tcl_Obj** elements = nullptr;
    if (!list || Tcl_ListObjGetElements(nullptr, list, &count, &elements) != TCL_OK) {
        qWarning("TclDebugger::streamTclList: failed to stream '%s'", name.constData());
        return bindings;
    }
    // The elements belong to the list, which the caller keeps alive; a nested list takes its own reference.
    for (int i = 0; i < count; ++i) {
        const VariableBinding binding =
            streamVariable(name + '.' + QByteArray::number(i), QByteArray(), elements[i]);
        if (!binding.first.isEmpty())
            bindings << binding;
    }
    return bindings;
}
