// Test data, object map and info commands: rows of data files as record values, symbolic and real
// object names, and the product's and the test case's facts.
#include "tclcommands.h"

#include "inspector.h"
#include "interpreter.h"
#include "runnerinterface.h"
#include "tclhandles.h"
#include "tclinterpreter.h"
#include "tclspecific.h"
#include "testdata.h"
#include "testdataapi.h"

#include <QDir>
#include <QFileInfo>

#include <cstring>

namespace {

const int versionNumber = 117506288; // 0x070100F0
const char versionText[] = "7.1.0";

RunnerInterface* runner()
{
    return Interpreter::self() ? Interpreter::self()->runner() : nullptr;
}

// A wrong count of words after the option.
int countError(Tcl_Interp* interp, int expected, int given)
{
    return setErrorResult(interp, QStringLiteral("%1 arguments required, but %2 given.").arg(expected).arg(given));
}

// After the data commands: an error the application side left fails the command.
int finishWithLastError(Tcl_Interp* interp)
{
    const QString error = Inspector::self()->lastError();
    if (!error.isEmpty())
        return setErrorResult(interp, error);
    return finishCommand(TCL_OK);
}

// The name a word gives: an object map entry evaluates to its name, a handle gives its object's real
// name, any other word is its own text.
QString objectNameText(Tcl_Interp* interp, Tcl_Obj* word)
{
    if (isObjectMapObject(interp, word)) {
        Tcl_Obj* w = word;
        Tcl_EvalObjv(interp, 1, &w, 0);
        return resultText(interp);
    }
    if (word->typePtr == &testObjectType)
        return static_cast<Object*>(word->internalRep.otherValuePtr)->realName();
    return textOf(word);
}

int dataset(Tcl_Interp* interp, Tcl_Obj* nameWord, const QString* sheet)
{
    const QString name = textOf(nameWord);
    const QString path = findTestSuiteFile(name, QStringLiteral("testdata"));
    if (path.isEmpty())
        return setErrorResult(interp, QStringLiteral("File '") + name + QStringLiteral("' couldn't be found."));
    SharedPtr<Tarvin::TestDataSet> set(sheet ? Tarvin::TestDataSet::create(path, *sheet)
                                             : Tarvin::TestDataSet::create(path));
    if (!set || !set->failure().isEmpty())
        return setErrorResult(interp, QStringLiteral("Data set '") + path + QStringLiteral("' couldn't be parsed."));
    Tcl_Obj* list = Tcl_NewListObj(0, nullptr);
    for (int i = 0; i < set->recordCount(); ++i)
        Tcl_ListObjAppendElement(nullptr, list, newTestDataRecordValue(set->record(i)));
    Tcl_SetObjResult(interp, list); // the record values hold the set from here on
    return finishWithLastError(interp);
}

QString platformPath(const QString& path)
{
    return QDir::toNativeSeparators(QDir::cleanPath(path));
}

} // namespace

/*
 * testData option args...
 *
 * Results: record lists, field values and names, paths, 1/0 for exists. Side effects: data files
 * copied to or from the application's working directory, removed, or directories created.
 */
int TestDataObjCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    if (objc < 3) {
        Tcl_WrongNumArgs(interp, 1, objv, "option args...");
        return TCL_ERROR;
    }
    const char* option = Tcl_GetString(objv[1]);
    const int words = objc - 2;
    auto expect = [&](int n) { return words == n; };
    Inspector* inspector = Inspector::self();

    if (!strcmp(option, "put")) {
        if (!expect(1))
            return countError(interp, 1, words);
        QString error;
        const QVariant value = copyTestData(textOf(objv[2]), &error);
        if (value.isValid())
            return setErrorResult(interp, error);
        Tcl_SetObjResult(interp, newTextObj(value.toString()));
        return finishCommand(TCL_OK);
    }
    if (!strcmp(option, "get")) {
        if (!expect(1))
            return countError(interp, 1, words);
        TclScriptContext context(interp);
        setTclArguments(&context, 1, objv + 2);
        if (context.execute(testDataGet) == 1)
            return setErrorResult(interp, context.error());
        context.clearResult();
        Tcl_ResetResult(interp);
        return finishWithLastError(interp);
    }
    if (!strcmp(option, "remove") || !strcmp(option, "delete") || !strcmp(option, "exists")) {
        if (!expect(1))
            return countError(interp, 1, words);
        const bool exists = !strcmp(option, "exists");
        SharedPtr<Object> answer = inspector->remoteCall(exists ? QStringLiteral("testDataExists")
                                                                : QStringLiteral("testDataRemove"),
                                                         ObjectList() << inspector->createPrimitive(textOf(objv[2])));
        if (exists)
            Tcl_SetObjResult(interp, Tcl_NewIntObj(answer && answer->boolValue() ? 1 : 0));
        else
            Tcl_ResetResult(interp);
        return finishWithLastError(interp);
    }
    if (!strcmp(option, "dataset")) {
        if (!expect(1))
            return countError(interp, 1, words);
        return dataset(interp, objv[2], nullptr);
    }
    if (!strcmp(option, "datasetExcel")) {
        if (!expect(2))
            return countError(interp, 2, words);
        const QString sheet = textOf(objv[3]);
        return dataset(interp, objv[2], &sheet);
    }
    if (!strcmp(option, "field") || !strcmp(option, "fieldNames")) {
        const bool names = !strcmp(option, "fieldNames");
        if (!expect(names ? 1 : 2))
            return countError(interp, names ? 1 : 2, words);
        Tarvin::TestDataRecord* record = testDataRecordFromText(objv[2]);
        if (!record)
            return setErrorResult(interp, QStringLiteral("Invalid test data record"));
        Tarvin::TestDataRecord* header = record->dataSet()->header();
        if (names) {
            Tcl_Obj* list = Tcl_NewListObj(0, nullptr);
            for (int i = 0; header && i < header->fieldCount(); ++i)
                Tcl_ListObjAppendElement(nullptr, list, newTextObj(header->field(i)));
            Tcl_SetObjResult(interp, list);
            return finishWithLastError(interp);
        }
        // A field name first; a number only when no field has that name.
        int index = record->dataSet()->fieldIndex(textOf(objv[3]));
        if (index < 0 && Tcl_GetIntFromObj(nullptr, objv[3], &index) != TCL_OK)
            index = -1;
        // The record's own count: a record shorter than its header has no value for the missing fields.
        if (index < 0 || index >= record->fieldCount())
            return setErrorResult(interp, QStringLiteral("Invalid field: ") + textOf(objv[3]));
        Tcl_SetObjResult(interp, newTextObj(record->field(index)));
        return finishWithLastError(interp);
    }
    if (!strcmp(option, "create")) {
        if (!expect(2))
            return countError(interp, 2, words);
        const QString where = textOf(objv[2]);
        QString directory;
        if (where == QLatin1String("local"))
            directory = QStringLiteral("testdata");
        else if (where == QLatin1String("shared"))
            directory = QStringLiteral("../shared/testdata");
        else
            return setErrorResult(interp, QStringLiteral("First option of testData create must be shared or local"));
        if (!QDir().mkpath(directory))
            return setErrorResult(interp, QStringLiteral("Cannot create directory '%1'").arg(directory));
        Tcl_SetObjResult(interp, newTextObj(QFileInfo(directory + QLatin1Char('/') + textOf(objv[3])).absoluteFilePath()));
        return finishCommand(TCL_OK);
    }
    return setErrorResult(interp,
                          QStringLiteral("Unknown option. Possible options are: put, get, remove, exists, dataset, field, create"));
}

/*
 * objectMap option args...
 *
 * Results: symbolic and real names, the list of symbolic names. Side effects: add makes an entry.
 */
int ObjectMapObjCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    if (objc < 2) {
        Tcl_WrongNumArgs(interp, 1, objv, "option args...");
        return TCL_ERROR;
    }
    const char* option = Tcl_GetString(objv[1]);
    const int words = objc - 2;
    ObjectMap* map = ObjectMap::self();
    if (!strcmp(option, "symbolicName") || !strcmp(option, "realName")) {
        if (words != 1)
            return countError(interp, 1, words);
        const QString name = objectNameText(interp, objv[2]);
        Tcl_SetObjResult(interp, newTextObj(!strcmp(option, "realName") ? map->realName(name)
                                                                        : map->symbolicName(name, false)));
        return finishCommand(TCL_OK);
    }
    if (!strcmp(option, "symbolicNames")) {
        if (words != 0)
            return countError(interp, 0, words);
        Tcl_Obj* list = Tcl_NewListObj(0, nullptr);
        for (const QString& name : map->symbolicNames())
            Tcl_ListObjAppendElement(nullptr, list, newTextObj(name));
        Tcl_SetObjResult(interp, list);
        return finishCommand(TCL_OK);
    }
    if (!strcmp(option, "add")) {
        if (words != 1)
            return countError(interp, 1, words);
        SharedPtr<Object> object = objectFromValue(objv[2]);
        if (!object)
            return setErrorResult(interp, QStringLiteral("Object '") + textOf(objv[2]) + QStringLiteral("' not found."));
        const QString realName = object->realName();
        const QString symbolic = map->symbolicName(realName, true);
        // In a suite's style the entry is usable as $names::NAME at once.
        if (symbolic.startsWith(QLatin1String("$names::"))) {
            Tcl_Eval(interp, "namespace eval ::names {}");
            const QByteArray variable = QByteArray("::names::") + symbolic.mid(8).toUtf8();
            if (!Tcl_GetVar2Ex(interp, variable.constData(), nullptr, TCL_GLOBAL_ONLY))
                Tcl_SetVar2Ex(interp, variable.constData(), nullptr, newTextObj(realName), TCL_GLOBAL_ONLY);
        }
        Tcl_SetObjResult(interp, newTextObj(symbolic));
        Inspector* inspector = Inspector::self();
        inspector->remoteCall(QStringLiteral("addToObjectMap"),
                              ObjectList() << inspector->createPrimitive(realName) << inspector->createPrimitive(symbolic));
        if (!inspector->lastError().isEmpty())
            return setErrorResult(interp, inspector->lastError());
        return finishCommand(TCL_OK);
    }
    if (!strcmp(option, "load")) {
        if (words != 1)
            return countError(interp, 1, words);
        const QString path = textOf(objv[2]);
        if (!runner() || !runner()->loadObjectMap(path))
            return setErrorResult(interp, QStringLiteral("File '") + path + QStringLiteral("' couldn't be found."));
        Tcl_ResetResult(interp);
        return finishCommand(TCL_OK);
    }
    return setErrorResult(interp, QStringLiteral("Unknown option. Possible options are: symbolicName, realName, add, "
                                                 "symbolicNames, load"));
}

/*
 * tarvininfo option
 *
 * Results: the product version, or a fact of the running test case.
 */
int TarvinInfoObjCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    if (objc != 2) {
        Tcl_WrongNumArgs(interp, 1, objv, "option");
        return TCL_ERROR;
    }
    const char* option = Tcl_GetString(objv[1]);
    RunnerInterface* r = runner();
    Tcl_Obj* result = nullptr;
    if (!strcmp(option, "version"))
        result = Tcl_NewIntObj(versionNumber);
    else if (!strcmp(option, "major"))
        result = Tcl_NewIntObj(7);
    else if (!strcmp(option, "minor"))
        result = Tcl_NewIntObj(1);
    else if (!strcmp(option, "patch"))
        result = Tcl_NewIntObj(0);
    else if (!strcmp(option, "version_str"))
        result = Tcl_NewStringObj(versionText, -1);
    else if (!strcmp(option, "settingsGroup"))
        result = newTextObj(r ? r->settingsGroup() : QString());
    else if (!strcmp(option, "defaultDevice"))
        result = newTextObj(r ? r->defaultDevice() : QString());
    else if (!strcmp(option, "testCase")) {
        const QString path = QDir::cleanPath(r ? r->testScriptPath() : QString());
        result = newTextObj(QDir::toNativeSeparators(path.left(qMax(0, path.lastIndexOf(QLatin1Char('/'))))));
    } else if (!strcmp(option, "testCaseName"))
        result = newTextObj(r ? r->testCaseName() : QString());
    else if (!strcmp(option, "testSuiteName"))
        result = newTextObj(r ? r->testSuiteName() : QString());
    else if (!strcmp(option, "resultDir"))
        result = newTextObj(r && !r->resultDirectory().isEmpty() ? platformPath(r->resultDirectory()) : QString());
    if (!result)
        return setErrorResult(interp, QStringLiteral("Unknown tarvininfo option. Possible options are:version, major, "
                                                     "minor, patch, version_str, settingsGroup and testCase."));
    Tcl_SetObjResult(interp, result);
    return finishCommand(TCL_OK);
}

/*
 * tarvin info command
 *
 * Results: the installation prefix, the version, or the null device's name.
 */
int TarvinObjCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    if (objc != 3) {
        Tcl_WrongNumArgs(interp, 1, objv, "option command");
        return TCL_ERROR;
    }
    if (strcmp(Tcl_GetString(objv[1]), "info") != 0)
        return setErrorResult(interp, QStringLiteral("Unknown option. Possible options are: info"));
    const char* command = Tcl_GetString(objv[2]);
    Tcl_Obj* result = nullptr;
    if (!strcmp(command, "prefix"))
        result = newTextObj(qEnvironmentVariable("TARVIN_PREFIX"));
    else if (!strcmp(command, "version"))
        result = Tcl_NewIntObj(versionNumber);
    else if (!strcmp(command, "version_str"))
        result = Tcl_NewStringObj(versionText, -1);
    else if (!strcmp(command, "nulldevice"))
        result = Tcl_NewStringObj(QFileInfo::exists(QStringLiteral("/dev/null")) ? "/dev/null" : "NUL", -1);
    if (!result)
        return setErrorResult(interp, QStringLiteral("Unknown info option. Possible options are: prefix, version, "
                                                     "version_str, nulldevice"));
    Tcl_SetObjResult(interp, result);
    return finishCommand(TCL_OK);
}

/*
 * findFile kind name
 *
 * Finds a file of the test suite: `name` in the test case's directory `kind` (scripts, testdata...),
 * then in the suite's shared/<kind>; an absolute name as it is. Recorded scripts load the suite's
 * object map with it: source [findFile "scripts" "names.tcl"].
 *
 * Results: the file's path, or "File 'name' couldn't be found.".
 */
int FindFileObjCmd(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    if (objc != 3) {
        Tcl_WrongNumArgs(interp, 1, objv, "kind name");
        return TCL_ERROR;
    }
    const QString name = textOf(objv[2]);
    const QString path = findTestSuiteFile(name, textOf(objv[1]));
    if (path.isEmpty())
        return setErrorResult(interp, QStringLiteral("File '") + name + QStringLiteral("' couldn't be found."));
    const QByteArray utf8 = path.toUtf8();
    Tcl_SetObjResult(interp, Tcl_NewStringObj(utf8.constData(), utf8.size()));
    return finishCommand(TCL_OK);
}
