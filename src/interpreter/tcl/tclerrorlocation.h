// Where a Tcl error happened, worked out from Tcl's own account of it (errorInfo) and the texts of the
// scripts that were run.
//
// errorInfo lists the failing command and every command that invoked it, innermost first, each
// followed by where it stood: "(procedure "p" line 3)", "(class "::C" method "m" line 2)",
// "(file "x.tcl" line 5)", "(lambda term "..." line 2)", or a body of a control command
// ("("foreach" body line 2)"). A procedure-like context is placed in a file by finding the definition
// in the known script texts; the failing command is then placed inside the nearest placed command
// whose text (as errorInfo quotes it) contains it. That also finds a command inside a body that a
// user-defined control procedure evaluates with uplevel, where no debug hook ran.
#pragma once

#include <QString>
#include <QVector>

struct SourceText {
    QString file; // as the debugger registered it
    QString alias; // as the script named it (source's argument), may be empty
    QString text;
};

struct ErrorFrame {
    QString file;
    int line = -1;
    bool library = false; // a file of Tcl's own library (init.tcl, package.tcl, ...)
};

// The frames of an error, innermost first: the failing command's line, then the line of each
// procedure-like frame that was running. Empty when the innermost frame cannot be placed.
// `topLevelFile` and `topLevelLine` place a command of the evaluated script's top level (the
// outermost command of errorInfo, which carries no context); empty when a function was called.
QVector<ErrorFrame> locateError(const QString& errorInfo, const QVector<SourceText>& sources,
                                const QString& topLevelFile, int topLevelLine, const QString& libraryDir);
