// The BDD driver: the script actions through which the framework's feature runner runs steps and hooks
// as Tcl step definitions and hook commands of the BDD support script (namespace Tarvin::BDD).
#pragma once

#include "gherkin.h"

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QStringList>

#include <tcl.h>

class TclGherkinDriverScriptActions : public Gherkin::ScriptActions {
public:
    // An empty command name keeps the support script's Tarvin::BDD::get_execute_step_cmd.
    TclGherkinDriverScriptActions(Tcl_Interp* interp, const QByteArray& executeStepCommand = QByteArray());
    ~TclGherkinDriverScriptActions() override;

    Result runStep(const Gherkin::Step& step) override;
    Result runHooks(int kind, int phase, const QByteArray& titleOrText) override;

private:
    Tcl_Interp* interp;
    QByteArray executeStepCommand;
};

// Calls a command's object procedure directly (no script evaluated, no evaluation level added), with the
// command name and the arguments as its words. TCL_ERROR without a message when there is no such command.
int directCall(Tcl_Interp* interp, const char* name, int argc, Tcl_Obj* const args[]);

// "Given", "When", "Then" for step types 0 to 2, the empty text for anything else.
const char* stepKeyword(int type);

// The editor-style questions of the interpreter: where the definitions matching a step are, and the
// patterns registered for a step type.
QList<QPair<QByteArray, int>> tclMatchingStepDefinitions(Tcl_Interp* interp, const Gherkin::Step& step);
QStringList tclRegisteredStepPatterns(Tcl_Interp* interp, int stepType);
