// The terminal debugger of `tarvinrunner --debug`: a front end of the debugging session that reads
// commands from the terminal (with line editing and history where the terminal allows it) each time
// the script stops, and prints where it stands, frames and variables.
#pragma once

#include "debugsession.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <QTextStream>

#include <cstdio>

class DebugTerminal : public DebugFrontend {
public:
    // Reads commands from `in`, writes to `out`. `baseDirectory` is what file names are shown relative to.
    DebugTerminal(FILE* in, QTextStream& out, const QString& baseDirectory);
    ~DebugTerminal() override;

    void setSession(DebugSession* session) { this->session = session; }
    // A breakpoint given as FILE:LINE [if CONDITION] (the command line's --break, the `break` command);
    // false with a message when it is malformed.
    bool addBreakpoint(const QString& written, QString* message);

    void stopped(DebugSession& session, const DebugStop& stop) override;
    void breakpointChanged(const DebugBreakpoint& breakpoint) override;
    void output(const QString& text, DebugOutputCategory category) override;

    // One command while stopped; true when it resumes the script.
    bool execute(const QString& line);

private:
    bool readLine(QString* line);
    void printPosition(int frame, bool withSource);
    void printBacktrace();
    void printVariables(const QList<DebugVariable>& variables, const QString& indent = QString());
    void printValue(const QString& expression);
    void printScope(const QString& scopeName);
    void listSource(int around);
    void printBreakpoints();
    void help();
    QString shown(const QString& file) const;
    QString sourceLine(const QString& file, int line);
    bool findVariable(const QString& path, DebugVariable* found);

    FILE* in;
    QTextStream& out;
    QString base;
    DebugSession* session = nullptr;
    bool interactive = false;  // a terminal: line editing and a prompt
    bool detached = false;     // input ended: the run goes on without stopping
    int frame = 0;             // the selected frame
    int listed = 0;            // the last line `list` showed
    QString lastCommand;
    QHash<QString, QStringList> files;
};
