// The terminal debugger: commands in the manner of gdb's, read at each stop of the script.
#include "debugterminal.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <unistd.h>

#ifdef TARVIN_HAVE_READLINE
#include <readline/history.h>
#include <readline/readline.h>
#endif

namespace {

const char prompt[] = "(debug) ";

QString reasonText(const DebugStop& stop)
{
    switch (stop.reason) {
    case DebugStopReason::Entry:
        return QStringLiteral("Stopped before the first line");
    case DebugStopReason::Breakpoint: {
        QStringList ids;
        for (int id : stop.breakpointIds)
            ids << QString::number(id);
        const QString text = QStringLiteral("Breakpoint %1").arg(ids.join(QStringLiteral(", ")));
        return stop.description.isEmpty() ? text : text + QStringLiteral(": ") + stop.description;
    }
    case DebugStopReason::Step:
        return QString();
    case DebugStopReason::Pause:
        return QStringLiteral("Paused");
    case DebugStopReason::ScriptBreakpoint:
        return stop.description.isEmpty() ? QStringLiteral("test breakpoint")
                                          : QStringLiteral("test breakpoint: %1").arg(stop.description);
    case DebugStopReason::Error:
        return QStringLiteral("Error: %1").arg(stop.description);
    }
    return QString();
}

} // namespace

DebugTerminal::DebugTerminal(FILE* in, QTextStream& out, const QString& baseDirectory)
    : in(in), out(out), base(baseDirectory)
{
    interactive = isatty(fileno(in));
#ifdef TARVIN_HAVE_READLINE
    if (interactive) {
        rl_instream = in;
        rl_catch_signals = 0; // Ctrl-C pauses the script; at the prompt it does nothing
        using_history();
    }
#endif
}

DebugTerminal::~DebugTerminal() = default;

QString DebugTerminal::shown(const QString& file) const
{
    if (file.isEmpty())
        return QStringLiteral("?");
    const QString relative = QDir(base).relativeFilePath(file);
    return relative.startsWith(QLatin1String("../../")) ? file : relative;
}

QString DebugTerminal::sourceLine(const QString& file, int line)
{
    if (!files.contains(file)) {
        QFile f(file);
        QStringList lines;
        if (f.open(QIODevice::ReadOnly | QIODevice::Text))
            lines = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'));
        files.insert(file, lines);
    }
    const QStringList& lines = files[file];
    return line >= 1 && line <= lines.size() ? lines.at(line - 1) : QString();
}

bool DebugTerminal::readLine(QString* line)
{
    out.flush();
#ifdef TARVIN_HAVE_READLINE
    if (interactive) {
        char* text = readline(prompt);
        if (!text)
            return false;
        *line = QString::fromLocal8Bit(text);
        if (*text)
            add_history(text);
        free(text);
        return true;
    }
#endif
    if (interactive) {
        fputs(prompt, stdout);
        fflush(stdout);
    }
    QByteArray bytes;
    int c;
    while ((c = fgetc(in)) != EOF && c != '\n')
        bytes.append(char(c));
    if (c == EOF && bytes.isEmpty())
        return false;
    *line = QString::fromLocal8Bit(bytes);
    return true;
}

void DebugTerminal::stopped(DebugSession& s, const DebugStop& stop)
{
    if (detached) {
        s.resume();
        return;
    }
    frame = 0;
    const QString reason = reasonText(stop);
    if (!reason.isEmpty())
        out << reason << '\n';
    printPosition(0, true);
    listed = 0;
    for (;;) {
        QString line;
        if (!readLine(&line)) {
            // No more commands: the run goes on to its end without stopping.
            out << "\nEnd of input: the run goes on without stopping" << Qt::endl;
            detached = true;
            for (const DebugBreakpoint& b : s.breakpoints())
                s.removeBreakpoint(b.id);
            s.setStopOnError(false);
            s.resume();
            return;
        }
        if (line.trimmed().isEmpty()) {
            // An empty line repeats stepping and listing, as in gdb.
            static const QRegularExpression repeatable(QStringLiteral("^(s|step|n|next|l|list)$"));
            if (!repeatable.match(lastCommand).hasMatch())
                continue;
            line = lastCommand;
        } else {
            lastCommand = line.trimmed();
        }
        if (execute(line))
            return;
    }
}

void DebugTerminal::breakpointChanged(const DebugBreakpoint& b)
{
    if (b.verified)
        out << QStringLiteral("Breakpoint %1 at %2:%3").arg(b.id).arg(shown(b.file)).arg(b.line) << Qt::endl;
    else
        out << QStringLiteral("Breakpoint %1 not set: %2").arg(b.id).arg(b.message) << Qt::endl;
}

void DebugTerminal::output(const QString& text, DebugOutputCategory category)
{
    // Results are printed by the runner itself; a breakpoint's log message is this front end's.
    if (category == DebugOutputCategory::Log)
        out << text << Qt::endl;
}

bool DebugTerminal::addBreakpoint(const QString& written, QString* message)
{
    static const QRegularExpression form(QStringLiteral("^\\s*(.+):(\\d+)(?:\\s+if\\s+(.+))?\\s*$"));
    const QRegularExpressionMatch m = form.match(written);
    if (!m.hasMatch() || m.captured(2).toInt() < 1) {
        *message = QStringLiteral("'%1' is no breakpoint: give FILE:LINE [if CONDITION]").arg(written.trimmed());
        return false;
    }
    DebugBreakpoint b;
    // A file here (relative to the directory the runner started in), else the end of a loaded file's path.
    const QString file = m.captured(1).trimmed();
    const QString here = QDir(base).absoluteFilePath(file);
    b.file = QFileInfo(file).isAbsolute() || QFileInfo::exists(here) ? here : file;
    b.line = m.captured(2).toInt();
    b.condition = m.captured(3).trimmed();
    const DebugBreakpoint set = session->addBreakpoint(b);
    if (set.verified)
        *message = QStringLiteral("Breakpoint %1 at %2:%3").arg(set.id).arg(shown(set.file)).arg(set.line);
    else
        *message = QStringLiteral("Breakpoint %1 at %2:%3 (pending: %4)")
                       .arg(set.id)
                       .arg(QFileInfo(set.file).isAbsolute() ? shown(set.file) : set.file)
                       .arg(set.line)
                       .arg(set.message);
    if (!set.condition.isEmpty())
        *message += QStringLiteral(" if %1").arg(set.condition);
    return true;
}

void DebugTerminal::printPosition(int index, bool withSource)
{
    const QList<DebugStackFrame> frames = session->stackTrace();
    if (index < 0 || index >= frames.size()) {
        out << "(no position: the script has not started a line)" << Qt::endl;
        return;
    }
    const DebugStackFrame& f = frames.at(index);
    out << shown(f.file) << ':' << f.line;
    if (f.name != QFileInfo(f.file).fileName())
        out << " (" << f.name << ')';
    out << '\n';
    if (withSource)
        out << f.line << '\t' << sourceLine(f.file, f.line) << '\n';
    out.flush();
}

void DebugTerminal::printBacktrace()
{
    const QList<DebugStackFrame> frames = session->stackTrace();
    for (const DebugStackFrame& f : frames)
        out << (f.level == frame ? "* " : "  ") << '#' << f.level << "  " << f.name << " at " << shown(f.file) << ':'
            << f.line << '\n';
    if (frames.isEmpty())
        out << "No frames\n";
    out.flush();
}

void DebugTerminal::printVariables(const QList<DebugVariable>& variables, const QString& indent)
{
    for (const DebugVariable& v : variables) {
        if (v.reference)
            out << indent << '+' << v.name << " (" << v.type << ")\n";
        else
            out << indent << v.name << " = " << v.value << '\n';
    }
    out.flush();
}

// A variable of the selected frame by its entry name ("x", "l.0", "button.text"): locals first, then
// globals, then the application's objects; dotted names open their entries on the way.
bool DebugTerminal::findVariable(const QString& path, DebugVariable* found)
{
    for (const DebugScope& scope : session->scopes(frame)) {
        QList<DebugVariable> level = session->variables(scope.reference);
        for (;;) {
            const DebugVariable* next = nullptr;
            for (const DebugVariable& v : level) {
                if (v.name == path) {
                    *found = v;
                    return true;
                }
                if (v.reference && path.startsWith(v.name + QLatin1Char('.')))
                    next = &v;
            }
            if (!next)
                break;
            level = session->variables(next->reference);
        }
    }
    return false;
}

void DebugTerminal::printValue(const QString& expression)
{
    QString name = expression.trimmed();
    if (name.startsWith(QLatin1Char('$')))
        name = name.mid(1);
    if (name.startsWith(QLatin1Char('{')) && name.endsWith(QLatin1Char('}')))
        name = name.mid(1, name.size() - 2);
    DebugVariable v;
    if (findVariable(name, &v)) {
        if (!v.reference) {
            out << v.name << " = " << v.value << Qt::endl;
            return;
        }
        out << '+' << v.name << " (" << v.type << ")\n";
        printVariables(session->variables(v.reference), QStringLiteral("    "));
        return;
    }
    // Not listed (an array element x(key), a namespace variable): read it in the frame.
    const DebugEvaluation e = session->evaluate(QStringLiteral("set {%1}").arg(name), frame);
    if (!e.ok) {
        out << e.value << Qt::endl;
        return;
    }
    out << name << " = " << e.value << Qt::endl;
    if (e.reference)
        printVariables(session->variables(e.reference), QStringLiteral("    "));
}

void DebugTerminal::printScope(const QString& scopeName)
{
    for (const DebugScope& scope : session->scopes(frame)) {
        if (scope.name != scopeName)
            continue;
        const QList<DebugVariable> variables = session->variables(scope.reference);
        // A frame without a procedure is named after its file.
        const QList<DebugStackFrame> frames = session->stackTrace();
        const bool topLevel = frame >= 0 && frame < frames.size() &&
                              frames.at(frame).name == QFileInfo(frames.at(frame).file).fileName();
        if (variables.isEmpty())
            out << "No " << scopeName.toLower()
                << (scopeName == QLatin1String("Locals") && topLevel ? " (the top level of a file has none; see globals)"
                                                                     : "")
                << Qt::endl;
        printVariables(variables);
        return;
    }
    out << "No frame is selected" << Qt::endl;
}

void DebugTerminal::listSource(int around)
{
    const QList<DebugStackFrame> frames = session->stackTrace();
    if (frame < 0 || frame >= frames.size()) {
        out << "No source to list" << Qt::endl;
        return;
    }
    const DebugStackFrame& f = frames.at(frame);
    sourceLine(f.file, 1);
    const int count = files.value(f.file).size();
    const int first = qMax(1, around - 5);
    const int last = qMin(count, around + 5);
    for (int line = first; line <= last; ++line)
        out << (line == f.line ? "->" : "  ") << line << '\t' << sourceLine(f.file, line) << '\n';
    out.flush();
    listed = last;
}

void DebugTerminal::printBreakpoints()
{
    const QList<DebugBreakpoint> list = session->breakpoints();
    if (list.isEmpty()) {
        out << "No breakpoints" << Qt::endl;
        return;
    }
    for (const DebugBreakpoint& b : list) {
        out << b.id << '\t' << (QFileInfo(b.file).isAbsolute() ? shown(b.file) : b.file) << ':' << b.line;
        if (!b.condition.isEmpty())
            out << " if " << b.condition;
        if (!b.verified)
            out << " (pending: " << b.message << ')';
        if (b.hits)
            out << QStringLiteral(" (hit %1 time%2)").arg(b.hits).arg(b.hits == 1 ? "" : "s");
        out << '\n';
    }
    out.flush();
}

void DebugTerminal::help()
{
    out << "Commands (short forms in brackets):\n"
           "  continue (c)           run to the next breakpoint, test breakpoint or error\n"
           "  step (s)               run to the next line, into procedures\n"
           "  next (n)               run to the next line in this procedure or its callers\n"
           "  finish (fin)           run until the procedure returns to its caller\n"
           "  backtrace (bt)         the frames, innermost first\n"
           "  frame N (f N), up, down  select a frame for print, eval, locals and list\n"
           "  print VAR (p)          a variable of the selected frame; VAR.member opens arrays (x.key),\n"
           "                         lists (l.0) and objects of the application (button.text)\n"
           "  eval SCRIPT (e)        evaluate SCRIPT in the selected frame and print its result\n"
           "  locals, globals        the variables of the selected frame, the global variables\n"
           "  application (app)      the application's global objects\n"
           "  break FILE:LINE [if CONDITION] (b)\n"
           "                         stop there (FILE relative to the runner's directory, or the end\n"
           "                         of a loaded file's path) when the Tcl expression CONDITION holds\n"
           "  clear N, clear FILE:LINE  delete breakpoints\n"
           "  info breakpoints (i b) list the breakpoints\n"
           "  list (l) [LINE]        source lines around the current line (or LINE); again: further on\n"
           "  help (h)               this text\n"
           "  quit (q)               end the run: the test case ends as interrupted\n"
           "An empty line repeats step, next and list.\n";
    out.flush();
}

bool DebugTerminal::execute(const QString& text)
{
    const QString line = text.trimmed();
    const int space = line.indexOf(QRegularExpression(QStringLiteral("\\s")));
    const QString command = space < 0 ? line : line.left(space);
    const QString argument = space < 0 ? QString() : line.mid(space).trimmed();
    const int frameCount = session->stackTrace().size();

    if (command == "c" || command == "continue" || command == "cont") {
        session->resume();
        return true;
    }
    if (command == "s" || command == "step") {
        session->stepInto();
        return true;
    }
    if (command == "n" || command == "next") {
        session->stepOver();
        return true;
    }
    if (command == "fin" || command == "finish") {
        session->stepOut();
        return true;
    }
    if (command == "q" || command == "quit") {
        session->terminate();
        return true;
    }
    if (command == "bt" || command == "backtrace" || command == "where") {
        printBacktrace();
    } else if (command == "f" || command == "frame" || command == "up" || command == "down") {
        int wanted = frame;
        bool ok = true;
        if (command == "up")
            wanted = frame + (argument.isEmpty() ? 1 : argument.toInt(&ok));
        else if (command == "down")
            wanted = frame - (argument.isEmpty() ? 1 : argument.toInt(&ok));
        else if (!argument.isEmpty())
            wanted = argument.toInt(&ok);
        if (!ok || wanted < 0 || wanted >= frameCount) {
            out << QStringLiteral("No frame %1; the frames are 0 to %2").arg(ok ? QString::number(wanted) : argument)
                       .arg(frameCount - 1)
                << Qt::endl;
        } else {
            frame = wanted;
            listed = 0;
            out << '#' << frame << "  ";
            printPosition(frame, true);
        }
    } else if (command == "p" || command == "print") {
        if (argument.isEmpty())
            out << "print needs a variable: print VAR" << Qt::endl;
        else
            printValue(argument);
    } else if (command == "e" || command == "eval") {
        if (argument.isEmpty()) {
            out << "eval needs a script: eval SCRIPT" << Qt::endl;
        } else {
            const DebugEvaluation e = session->evaluate(argument, frame);
            out << (e.ok ? e.value : QStringLiteral("Error: ") + e.value) << Qt::endl;
            if (e.reference)
                printVariables(session->variables(e.reference), QStringLiteral("    "));
        }
    } else if (command == "locals") {
        printScope(QStringLiteral("Locals"));
    } else if (command == "globals") {
        printScope(QStringLiteral("Globals"));
    } else if (command == "app" || command == "application") {
        printScope(QStringLiteral("Application"));
    } else if (command == "b" || command == "break") {
        QString message;
        if (argument.isEmpty()) {
            const QList<DebugStackFrame> frames = session->stackTrace();
            if (frame < frames.size())
                addBreakpoint(QStringLiteral("%1:%2").arg(frames.at(frame).file).arg(frames.at(frame).line), &message);
            else
                message = QStringLiteral("break needs FILE:LINE [if CONDITION]");
        } else {
            addBreakpoint(argument, &message);
        }
        out << message << Qt::endl;
    } else if (command == "clear" || command == "delete" || command == "d") {
        bool isNumber = false;
        const int id = argument.toInt(&isNumber);
        if (isNumber) {
            out << (session->removeBreakpoint(id) ? QStringLiteral("Deleted breakpoint %1").arg(id)
                                                   : QStringLiteral("No breakpoint %1").arg(id))
                << Qt::endl;
        } else {
            const int colon = argument.lastIndexOf(QLatin1Char(':'));
            const QString file = argument.left(colon);
            const int at = argument.mid(colon + 1).toInt();
            int removed = 0;
            for (const DebugBreakpoint& b : session->breakpoints()) {
                const bool sameFile = b.file == file || b.file == QDir(base).absoluteFilePath(file) ||
                                      b.file.endsWith(QLatin1Char('/') + file);
                if (colon > 0 && sameFile && b.line == at && session->removeBreakpoint(b.id)) {
                    out << "Deleted breakpoint " << b.id << '\n';
                    ++removed;
                }
            }
            if (!removed)
                out << QStringLiteral("No breakpoint at '%1': give clear N or clear FILE:LINE").arg(argument) << '\n';
            out.flush();
        }
    } else if ((command == "i" || command == "info") && (argument == "b" || argument == "breakpoints" || argument == "break")) {
        printBreakpoints();
    } else if (command == "l" || command == "list") {
        bool ok = false;
        const int at = argument.toInt(&ok);
        const QList<DebugStackFrame> frames = session->stackTrace();
        const int current = frame < frames.size() ? frames.at(frame).line : 1;
        listSource(ok ? at : listed > 0 ? listed + 6 : current);
    } else if (command == "h" || command == "help" || command == "?") {
        help();
    } else {
        out << QStringLiteral("Unknown command '%1'; try help").arg(command) << Qt::endl;
    }
    return false;
}
