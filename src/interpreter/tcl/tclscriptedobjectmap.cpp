// names.tcl as Tcl text (entries, comments, literals, identifiers, object-name expressions, symbolic
// names, where new entries go) and read back: the file is sourced with the object map helper package,
// which lists the variables of the namespace `names`.
#include "tclscriptedobjectmap.h"

#include "tclsyntaxcheck.h"

#include <QFile>

#include "object.h"
#include "runnerinterface.h"
#include "tclinterpreter.h"
#include "tclspecific.h"
#include "testresult.h"

#include <QDir>
#include <QFileInfo>

namespace {

const char namespaceName[] = "names";

QString ns()
{
    return QLatin1String(namespaceName);
}

// True when the braces of the text nest: Tcl then matches them inside a braced word, and the word stays
// whole inside the braced namespace block of names.tcl.
bool bracesNest(const QString& text)
{
    int depth = 0;
    for (QChar c : text) {
        if (c == QLatin1Char('{'))
            ++depth;
        else if (c == QLatin1Char('}') && --depth < 0)
            return false;
    }
    return depth == 0;
}

// A backslash in front of a brace or a line feed, or at the end, would change a braced word.
bool backslashChangesBracedWord(const QString& text)
{
    for (int i = 0; i < text.size(); ++i) {
        if (text.at(i) != QLatin1Char('\\'))
            continue;
        if (i + 1 == text.size())
            return true;
        const QChar next = text.at(i + 1);
        if (next == QLatin1Char('{') || next == QLatin1Char('}') || next == QLatin1Char('\n'))
            return true;
    }
    return false;
}

} // namespace

TclScriptedObjectMap::TclScriptedObjectMap(const QString& path)
    : GenericScriptedObjectMap(
          QStringLiteral("%1/scriptmodules/tcl/objectmap_template.tcl").arg(qEnvironmentVariable("TARVIN_PREFIX")), path)
{
}

TclScriptedObjectMap::~TclScriptedObjectMap() = default;

QString TclScriptedObjectMap::createEntry(const ScriptedSymbolicName& name, const ScriptedRealName& realName)
{
    return QStringLiteral("set ") + name.text() + QLatin1Char(' ') + realName.text();
}

QString TclScriptedObjectMap::comment(const QString& text)
{
    return QStringLiteral("# ") + text;
}

// A Tcl word that yields the text: the text itself when Tcl reads it as one word unchanged, braced when
// its braces balance, else a subst of the braced text with backslashes and braces escaped. Texts whose
// braces do not nest take the subst form: bare or braced they would end the namespace block early.
QString TclScriptedObjectMap::toScriptString(const QString& text)
{
    const bool bare = !text.isEmpty() && !text.contains(QLatin1Char('\\')) && !text.contains(QLatin1Char('$')) &&
                      !text.contains(QLatin1Char(' ')) && !text.contains(QLatin1Char('\n')) &&
                      !text.startsWith(QLatin1Char('{')) && !text.startsWith(QLatin1Char('"')) &&
                      !text.contains(QLatin1String(";#"))
                      // Tcl would substitute or split at these: they take one of the quoted forms.
                      && !text.contains(QLatin1Char('[')) && !text.contains(QLatin1Char(']')) &&
                      !text.contains(QLatin1Char(';')) && !text.contains(QLatin1Char('\t')) &&
                      !text.contains(QLatin1Char('\r')) && !text.contains(QChar(0xb)) && !text.contains(QChar(0xc)) &&
                      bracesNest(text);
    if (bare)
        return text;
    if (bracesNest(text) && !backslashChangesBracedWord(text))
        return QLatin1Char('{') + text + QLatin1Char('}');
    QString escaped = text;
    escaped.replace(QLatin1String("\\"), QLatin1String("\\\\"));
    escaped.replace(QLatin1String("{"), QLatin1String("\\{"));
    escaped.replace(QLatin1String("}"), QLatin1String("\\}"));
    return QStringLiteral("[subst -nocommands -novariables {") + escaped + QStringLiteral("}]");
}

QString TclScriptedObjectMap::toScriptIdentifier(const QString& text)
{
    QString replaced = text;
    for (QChar& c : replaced)
        if (!c.isLetter() && !c.isDigit())
            c = QLatin1Char('_');
    const QString joined = replaced.split(QLatin1Char('_'), Qt::SkipEmptyParts).join(QLatin1Char('_'));
    return joined.isEmpty() ? QStringLiteral("o") : joined;
}

QString TclScriptedObjectMap::propertyValueToScriptValue(const PropertyValue& value)
{
    const QString text = value.stringValue();
    bool isInt = false;
    const int number = text.toInt(&isInt, 10);
    if (isInt && QString::number(number) == text)
        return text;
    switch (value.matchMode()) {
    case 1:
        return QStringLiteral("{-regularexpression %1}").arg(toScriptString(text));
    case 2:
        return QStringLiteral("{-wildcard %1}").arg(toScriptString(text));
    default:
        return toScriptString(text);
    }
}

ScriptedObjectMap::ScriptedRealName
TclScriptedObjectMap::createObjectNameFromProperties(const std::map<QString, QString>& properties)
{
    QStringList pairs;
    for (const auto& property : properties) {
        // toScriptString gives {} for an empty key; an empty value needs the same.
        const QString value = property.second.isEmpty() ? QStringLiteral("{}") : property.second;
        pairs << QStringLiteral("%1 %2").arg(toScriptString(property.first), value);
    }
    if (pairs.isEmpty())
        return QStringLiteral("[::Tarvin::ObjectName {}]");
    return QStringLiteral("[::Tarvin::ObjectName %1]").arg(pairs.join(QLatin1Char(' ')));
}

ScriptedObjectMap::ScriptedRealName TclScriptedObjectMap::createObjectNameFromHierarchicalName(const QString& name)
{
    if (name.isEmpty())
        return QStringLiteral("[::Tarvin::ObjectName {}]");
    return QStringLiteral("[::Tarvin::ObjectName %1]").arg(toScriptString(name));
}

ScriptedObjectMap::ScriptedSymbolicName TclScriptedObjectMap::fullyUnqualifiedSymbolicName(const ScriptedSymbolicName& name)
{
    const QString& text = name.text();
    const QString prefix = QStringLiteral("$%1::").arg(ns());
    if (text.startsWith(prefix))
        return text.mid(prefix.size());
    if (text.startsWith(QLatin1Char('$')))
        return text.mid(1);
    return text;
}

ScriptedObjectMap::ScriptedSymbolicName TclScriptedObjectMap::fullyQualifiedSymbolicName(const ScriptedSymbolicName& name)
{
    return QStringLiteral("$%1::%2").arg(ns(), fullyUnqualifiedSymbolicName(name).text());
}

ScriptedObjectMap::ScriptedSymbolicName TclScriptedObjectMap::semiQualifiedSymbolicName(const ScriptedSymbolicName& name)
{
    return QStringLiteral("$%1").arg(fullyUnqualifiedSymbolicName(name).text());
}

QString TclScriptedObjectMap::variableNameToSymbolicName(const QString& variableName)
{
    return QStringLiteral(":$%1").arg(variableName);
}

// New entries go in front of the closing brace of the namespace block when the file has no marker.
bool TclScriptedObjectMap::findCodeInsertionPos(QList<QString>::iterator begin, QList<QString>::iterator end,
                                                QList<QString>::iterator* pos)
{
    if (ScriptedObjectMap::findCodeInsertionPos(begin, end, pos))
        return true;
    if (*pos == begin)
        return false;
    do {
        --*pos;
    } while (*pos != begin && (*pos)->trimmed() != QLatin1String("}"));
    return (*pos)->trimmed() == QLatin1String("}");
}

void TclScriptedObjectMap::initializeInterpreter()
{
    if (Interpreter::self())
        return;
    Interpreter* interpreter = new TclInterpreter(runner()); // becomes Interpreter::self() for good
    // Tcl's library procedures print through tclLog; the object map has nobody to print to.
    interpreter->evaluate(QStringLiteral("proc tclLog {string} {}"), QString(), false, true);
    TestResult* result = runner()->testResult();
    if (result && !result->isStarted())
        result->start(QStringLiteral("tst_dummy"), QString(), QString());
    interpreter->registerTestCommand(result);
    interpreter->registerApplicationCommands();
    interpreter->addDefaultSearchPaths(QFileInfo(QFileInfo(path()).absolutePath()));
}

SharedPtr<ScriptArgument> TclScriptedObjectMap::evaluate(const QString& code, QString* message)
{
    initializeInterpreter();
    Interpreter* interpreter = Interpreter::self();
    const bool ok = interpreter->evaluate(code, QString(), false, false);
    if (!message)
        return SharedPtr<ScriptArgument>();
    if (ok) {
        // Once more, keeping the result this time.
        interpreter->evaluate(code, QString(), false, true);
        const SharedPtr<ScriptArgument> result = interpreter->result();
        *message = result ? result->toString() : QString();
        return result;
    }
    // A file Tcl cannot even parse (a brace, bracket or quote missing) gets the line of the syntax
    // check, which finds the unclosed opener; Tcl itself only knows that the file ended too early.
    int line = interpreter->errorLine();
    const QString error = interpreter->errorMessage();
    if (error.startsWith(QLatin1String("missing close-")) || error.startsWith(QLatin1String("missing \""))) {
        QFile file(path());
        const QByteArray utf8 = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        const QByteArray analysis = analyzeSource(utf8.constData());
        bool ok = false;
        const int found = analysis.startsWith("Line ") ? analysis.mid(5, analysis.indexOf(':') - 5).toInt(&ok) : 0;
        if (ok && found > 0)
            line = found;
    }
    // One arg() call: a "%1" in the path or the message must stay as it is.
    *message = QStringLiteral("In file %1 line %2: %3")
                   .arg(interpreter->errorFile(path()), QString::number(line), error);
    return SharedPtr<ScriptArgument>();
}

bool TclScriptedObjectMap::reloadObjectMap(QString* message)
{
    if (!QFileInfo::exists(path()))
        return false;
    const QString script = QStringLiteral("if {[namespace exists %1]} {namespace delete %2}\n"
                                          "package require tarvin::objectmaphelper\n"
                                          "source %3\n")
                               .arg(toScriptString(ns()), toScriptString(ns()), toScriptString(path()));
    if (!evaluate(script, message))
        return false;
    QString answer;
    if (!evaluate(QStringLiteral("namespace exists %1").arg(toScriptString(ns())), &answer))
        return false;
    if (answer == QLatin1String("0") && message) {
        *message = QStringLiteral("No namespace named '%1' found in script file.").arg(ns());
        return false;
    }
    return true;
}

FunctionCallResult<ScriptedEntryMap> TclScriptedObjectMap::getEntryMap()
{
    QString message;
    if (!reloadObjectMap(&message))
        return FunctionCallResult<ScriptedEntryMap>::failure(message);
    const SharedPtr<ScriptArgument> entries =
        evaluate(QStringLiteral("::ObjectMapHelper::entries ::%1\n").arg(ns()), &message);
    if (!entries)
        return FunctionCallResult<ScriptedEntryMap>::failure(message);
    if (!entries->isMap())
        return FunctionCallResult<ScriptedEntryMap>::failure(QStringLiteral("Unexpected result type"));
    ScriptedEntryMap map;
    const QMap<QString, SharedPtr<ScriptArgument>> dict = entries->toMap();
    for (auto it = dict.constBegin(); it != dict.constEnd(); ++it)
        map[it.key()] = it.value();
    return map;
}

extern "C" ScriptedObjectMap* createScriptedObjectMap(const QString& path)
{
    return new TclScriptedObjectMap(path);
}
