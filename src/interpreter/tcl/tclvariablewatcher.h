// The variable watcher for Tcl: lists a stopped script's global and local variables, and opens arrays,
// lists and objects of the application under test.
#pragma once

#include "variablewatcher.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <tcl.h>

class TclInterpreter;

class TclVariableWatcher : public VariableWatcher
{
public:
    explicit TclVariableWatcher(TclInterpreter* interpreter);
    // Releases the list values it keeps.
    ~TclVariableWatcher() override;

    // Globals first (the interpreter's own and Tcl's bookkeeping variables left out), then the locals
    // of the procedure the script is stopped in, then, with object inspection on, the application's
    // global properties.
    VariableBindings globalBindings() override;
    // The three parts of globalBindings, for a debugger that shows them apart.
    VariableBindings globalVariableBindings();
    VariableBindings localBindings();
    VariableBindings applicationBindings();
    bool isLanguageObject(const QString& entryName) override;
    VariableBindings languageObjectBindings(const QString& entryName) override;

    // One binding for a variable and its value (null for an array, which cannot be read as a scalar); an
    // empty entry name means none.
    VariableBinding streamTclObject(const QByteArray& name, Tcl_Obj* value);
    // The bindings of a list's elements, named name.0, name.1...
    VariableBindings streamTclList(const QByteArray& name, Tcl_Obj* list);

    // The string result of a script; empty, with a warning, when it fails.
    static QString evalTcl(Tcl_Interp* interp, const QByteArray& script);

private:
    // tclName is how Tcl reaches the variable from the stopped frame ("::x" for a global).
    VariableBinding streamVariable(const QByteArray& name, const QByteArray& tclName, Tcl_Obj* value);
    bool objectInspection() const;
    Tcl_Interp* tclInterp() const;

    TclInterpreter* interpreter;      // not owned
    QMap<QString, QByteArray> arrays; // entry name ("+x") -> the Tcl name of the array
    QMap<QString, Tcl_Obj*> lists;    // entry name ("+l") -> the list value, one reference held
};
