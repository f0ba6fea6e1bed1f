// Recorded steps as Tcl statements. Every line ends with a line feed; statements inside main are
// indented by four blanks. Argument contributions end with a blank, so statement lines with arguments
// (or an empty argument list) end with one blank before the line feed.
#include "tcleventrecorder.h"

#include "inspector.h"
#include "tclscriptedobjectmap.h"

namespace
{

const int longDelay = 20000; // longer delays stretch the wait timeout by half

// The class name of a value type text ("Rect*", "const Rect&" give Rect); the text without its
// decoration when the object model knows no such class.
QString classNameOf(const QString& valueType)
{
    QString type = valueType.trimmed();
    if (type.startsWith(QLatin1String("const ")))
        type.remove(0, 6);
    while (type.endsWith(QLatin1Char('*')) || type.endsWith(QLatin1Char('&')))
        type.chop(1);
    type = type.trimmed();
    const Class* cls = Inspector::self()->classByName(type);
    return cls ? cls->className() : type;
}

} // namespace

TclEventRecorder::TclEventRecorder(bool noSnooze, bool useWaitFor, ScriptedObjectMap* map)
    : EventRecorder(noSnooze, useWaitFor, map)
{
}

TclEventRecorder::~TclEventRecorder() = default;

QString TclEventRecorder::escape(const QString& text)
{
    const bool keepSubstitution = text.contains(QLatin1String("[toString [invoke"));
    QString r = text;
    r.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    r.replace(QLatin1Char('{'), QLatin1String("\\{"));
    if (!keepSubstitution) {
        r.replace(QLatin1Char('['), QLatin1String("\\["));
        r.replace(QLatin1Char(']'), QLatin1String("\\]"));
        r.replace(QLatin1Char('"'), QLatin1String("\\\""));
    }
    r.replace(QLatin1Char('}'), QLatin1String("\\}"));
    r.replace(QLatin1Char('$'), QLatin1String("\\$"));
    r.replace(QLatin1Char('\r'), QLatin1String("\\r"));
    r.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    return r;
}

namespace {

// A variable reference as a script word: Tcl's $ substitution takes letters, digits, underscores and
// namespace separators of ASCII only, so "$names::Größe_1" would read $names::Gr; such a name is
// written ${names::Größe_1}.
QString variableWord(const QString& word)
{
    if (!word.startsWith(QLatin1Char('$')) || word.startsWith(QLatin1String("${")))
        return word;
    for (int i = 1; i < word.size(); ++i) {
        const QChar c = word.at(i);
        const bool plain = c.unicode() < 128 && (c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char(':'));
        if (!plain)
            return QLatin1String("${") + word.mid(1) + QLatin1Char('}');
    }
    return word;
}

} // namespace

QString TclEventRecorder::quotedObjectReference(const QString& name)
{
    QString n = name;
    if (n.startsWith(symbolicNameMarker)) {
        const QString rest = n.mid(symbolicNameMarker.size());
        if (scriptedObjectMap())
            return variableWord(createSymbolicName(rest)); // a script word already: $names::...
        n = ObjectMap::self()->symbolicName(rest, true);
    }
    return QLatin1Char('"') + escape(n) + QLatin1Char('"');
}

QString TclEventRecorder::timeoutSuffix(int delay)
{
    if (delay <= longDelay)
        return QString();
    return QLatin1Char(' ') + QString::number(qint64(delay * 1.5));
}

QString TclEventRecorder::waitForObjectText(const QString& object, int delay)
{
    return QStringLiteral("waitForObject ") + object + timeoutSuffix(delay);
}

QString TclEventRecorder::waitForObjectItemText(const QString& object, const QString& item, int delay)
{
    return QStringLiteral("waitForObjectItem ") + object + QStringLiteral(" \"") + escape(item) +
           QLatin1Char('"') + timeoutSuffix(delay);
}

QString TclEventRecorder::formatArgument(const EventDataArg& arg, const QString& variable, QString* lines)
{
    switch (arg.kind) {
    case EventDataArg::PlainValue:
        return arg.valueSubKind == EventDataArg::ObjectReference ? quotedObjectReference(arg.valueText)
                                                                 : arg.valueText;
    case EventDataArg::ObjectFromProperties:
        *lines += QStringLiteral("    set ") + variable + QStringLiteral(" [construct ") +
                  classNameOf(arg.valueType) + QStringLiteral("]\n");
        for (const EventDataArg& nested : arg.args()) {
            QString value;
            if (nested.kind == EventDataArg::ObjectFromProperties) {
                const QString nestedVariable = variable + QLatin1Char('_') + nested.name;
                formatArgument(nested, nestedVariable, lines);
                value = QLatin1Char('$') + nestedVariable;
            } else {
                value = formatArgument(nested, QString(), lines);
            }
            *lines += QStringLiteral("    property set $") + variable + QLatin1Char(' ') + nested.name +
                      QLatin1Char(' ') + value + QLatin1Char('\n');
        }
        return QString();
    case EventDataArg::EnumerationValue: {
        if (arg.enumValueNames.isEmpty())
            return arg.valueText;
        QStringList enums;
        for (const QString& name : arg.enumValueNames)
            enums << QStringLiteral("[enum ") + arg.enumTypeName + QLatin1Char(' ') + name + QLatin1Char(']');
        if (enums.size() == 1)
            return enums.first();
        return QStringLiteral("[expr ") + enums.join(QStringLiteral(" + ")) + QLatin1Char(']');
    }
    default:
        return QString();
    }
}

void TclEventRecorder::recordEvent(const EventData& event)
{
    QString text, args;
    for (int i = 0; i < event.numArguments(); ++i) {
        const EventDataArg& arg = event.argument(i);
        if (arg.kind == EventDataArg::ObjectFromProperties) {
            formatArgument(arg, arg.name, &text);
            args += QLatin1Char('$') + arg.name;
        } else {
            args += formatArgument(arg, QString(), &text);
        }
        args += QLatin1Char(' ');
    }
    // Variables are words of their own.
    QStringList variables;
    for (const QString& variable : event.arguments())
        variables << QLatin1Char('$') + variable;
    args += variables.join(QLatin1Char(' '));

    // A step without an object keeps none (no empty reference).
    QString object = event.objectId();
    if (!object.isNull() && event.stepKind != EventData::Comment) {
        if (ObjectMap::self())
            object = createSymbolicName(object);
        if (!scriptedObjectMap())
            object = quotedObjectReference(object);
        else
            object = variableWord(object);
    }
    const int delay = event.delay;
    const QString method = cleansedMethodName(event.methodName());

    switch (event.stepKind) {
    case EventData::Event:
        if (!useWaitFor())
            text += recordSync(object, delay);
        text +=
            QStringLiteral("    sendEvent ") + event.eventName() + QLatin1Char(' ') +
            (useWaitFor() ? QLatin1Char('[') + waitForObjectText(object, delay) + QLatin1Char(']') : object) +
            QLatin1Char(' ') + args + QLatin1Char('\n');
        break;
    case EventData::MethodCall: {
        const bool waitFor = useWaitFor();
        if (waitFor && useWaitForForMethod(event.methodName()))
            setUseWaitFor(false);
        if (!skipRecordSyncFor(event))
            text += recordSync(object, event, delay);
        if (method != QLatin1String("mouseMove"))
            text += QStringLiteral("    invoke ");
        text += method;
        if (!object.isNull()) {
            if (method == QLatin1String("waitForContextExists") && delay > longDelay)
                args = QString::number(qint64(delay * 1.5));
            if (!event.itemText().isNull())
                text += QStringLiteral(" [") + waitForObjectItemText(object, event.itemText(), delay) +
                        QLatin1Char(']');
            else if (useWaitFor() && !isItemMethod(event.methodName()))
                text += QStringLiteral(" [") + waitForObjectText(object, delay) + QLatin1Char(']');
            else
                text += QLatin1Char(' ') + object;
        }
        setUseWaitFor(waitFor);
        if (method == QLatin1String("gesture") && event.numArguments() == 1) {
            const QString name = generateGestureName(event.time);
            setGesture(name, event.argument(0).valueText);
            args = QStringLiteral("[readGesture \"") + name + QStringLiteral("\"]");
        }
        text += QLatin1Char(' ') + args + QLatin1Char('\n');
        break;
    }
    case EventData::Comment:
        for (const QString& line : event.objectId().split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            text += QStringLiteral("    # ") + line + QLatin1Char('\n');
        break;
    case EventData::FunctionCall: {
        if (!skipRecordSyncFor(event) && delay >= 1 && !noSnooze()) {
            const QString seconds = formatSnoozeSecs(delay);
            if (!seconds.isNull())
                text += QStringLiteral("    snooze ") + seconds + QLatin1Char('\n');
        }
        const QString variable = event.returnVariable();
        text += QStringLiteral("    ");
        if (!variable.isNull())
            text += QStringLiteral("set ") + variable + QStringLiteral(" [");
        if (method == QLatin1String("chooseFile") || method == QLatin1String("mouseWheel"))
            text += QStringLiteral("invoke ");
        text += event.methodName() + QLatin1Char(' ') + args;
        if (!variable.isNull())
            text += QLatin1Char(']');
        text += QLatin1Char('\n');
        break;
    }
    default:
        return;
    }
    buffer += text;
}

QString TclEventRecorder::snoozeStatement(int milliseconds)
{
    if (milliseconds < 100)
        return QString();
    return QStringLiteral("    snooze ") + formatSnoozeSecs(milliseconds) + QLatin1Char('\n');
}

QString TclEventRecorder::waitForObjectStatement(const QString& object, int delay)
{
    return QStringLiteral("    ") + waitForObjectText(object, delay) + QLatin1Char('\n');
}

QString TclEventRecorder::waitForObjectItemStatement(const QString& object, int first, int second, int delay)
{
    return QStringLiteral("    waitForObjectItem ") + object + QStringLiteral(" \"") +
           QString::number(first) + QStringLiteral("\" \"") + QString::number(second) + QLatin1Char('"') +
           timeoutSuffix(delay) + QLatin1Char('\n');
}

QString TclEventRecorder::waitForObjectItemStatement(const QString& object, const QString& item, int delay)
{
    return QStringLiteral("    ") + waitForObjectItemText(object, item, delay) + QLatin1Char('\n');
}

void TclEventRecorder::recordTestDataPut(const QString& fileName)
{
    buffer += QStringLiteral("    testData put \"") + fileName + QStringLiteral("\"\n");
}

QString TclEventRecorder::scriptHeader()
{
    return scriptedObjectMap() ? QStringLiteral("source [findFile \"scripts\" \"names.tcl\"]\n") : QString();
}

QString TclEventRecorder::finishScript(bool withMain, const QString& applicationName)
{
    if (withMain) {
        QString start;
        if (!applicationName.isEmpty())
            start = QStringLiteral("    startApplication ") + escape(applicationName) + QLatin1Char('\n');
        buffer = scriptHeader() + QStringLiteral("proc main {} {\n") + start + buffer + QStringLiteral("}\n");
    }
    if (ScriptedObjectMap* map = scriptedObjectMap()) {
        QString error;
        if (!map->save(&error))
            qWarning("TclEventRecorder: the object map was not saved: %s", qPrintable(error));
    }
    return buffer;
}

extern "C" EventRecorder* createEventRecorder(bool noSnooze, bool useWaitFor, bool useScriptedObjectMap,
                                              const QString& objectMapPath)
{
    ScriptedObjectMap* map = useScriptedObjectMap ? new TclScriptedObjectMap(objectMapPath) : nullptr;
    return new TclEventRecorder(noSnooze, useWaitFor, map); // the base owns the map from here on
}
