// The generic part of the scripted object map: the file's lines, the entries read back through the
// language, finding, adding and saving entries.
#include "scriptedobjectmap.h"

#include "object.h"
#include "realname.h"
#include "runnerinterface.h"
#include "testresult.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTextStream>

#include <algorithm>

namespace {

const char insertionMarker[] = "# @new-entries@";

// For tools that read an object map without running a test: a runner with a test result of its own.
// It outlives every map, as the interpreter a map creates may keep it.
class StandaloneRunner : public RunnerInterface {
public:
    QString testScriptPath() const override { return QString(); }
    QString testCaseName() const override { return QString(); }
    QString testSuiteName() const override { return QString(); }
    TestResult* testResult() const override { return &result; }

private:
    mutable TestResult result;
};

// A real name in a form that does not depend on the order of its pairs: pairs sorted, containers
// normalised the same way. Texts that are no list of pairs stay as they are.
QString normalizedRealName(const QString& realName)
{
    RealName::Pairs pairs;
    if (!RealName::parse(realName, &pairs) || pairs.isEmpty())
        return realName;
    for (auto& pair : pairs)
        if (pair.first == QLatin1String("container"))
            pair.second = normalizedRealName(pair.second);
    std::sort(pairs.begin(), pairs.end());
    return RealName::format(pairs);
}

QStringList readLines(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringList();
    QString text = QString::fromUtf8(file.readAll());
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    if (text.endsWith(QLatin1Char('\n')))
        text.chop(1);
    return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
}

} // namespace

ScriptedObjectMap::ScriptedObjectMap(const QString& path) : filePath(path) {}

ScriptedObjectMap::~ScriptedObjectMap() = default;

RunnerInterface* ScriptedObjectMap::runner() const
{
    static StandaloneRunner* standalone = new StandaloneRunner;
    return runnerInterface ? runnerInterface : standalone;
}

bool ScriptedObjectMap::load(QString* error)
{
    loaded = false;
    QMap<QString, QString> names;
    if (QFileInfo::exists(filePath)) {
        const FunctionCallResult<ScriptedEntryMap> result = getEntryMap();
        if (!result.succeeded()) {
            if (error)
                *error = result.errorText();
            return false;
        }
        for (const auto& entry : result.value())
            names.insert(entry.first, entry.second ? entry.second->toString() : QString());
    }
    for (auto it = realNames.constBegin(); it != realNames.constEnd(); ++it)
        if (!names.contains(it.key()) && variableNameExists(it.key()))
            names.insert(it.key(), it.value()); // added, not saved yet
    realNames = names;
    loaded = true;
    return true;
}

bool ScriptedObjectMap::ensureLoaded()
{
    return loaded || load(nullptr);
}

QMap<QString, QString> ScriptedObjectMap::toLegacyRepresentation()
{
    QMap<QString, QString> legacy;
    if (!ensureLoaded())
        return legacy;
    for (auto it = realNames.constBegin(); it != realNames.constEnd(); ++it)
        legacy.insert(fullyQualifiedSymbolicName(it.key()).text(), it.value());
    return legacy;
}

QString ScriptedObjectMap::getRealName(const ScriptedSymbolicName& name)
{
    if (!ensureLoaded())
        return QString();
    return realNames.value(fullyUnqualifiedSymbolicName(name).text());
}

ScriptedObjectMap::ScriptedRealName ScriptedObjectMap::getNestedScriptedRealName(const QString& realName)
{
    RealName::Pairs pairs;
    if (!RealName::parse(realName, &pairs) || pairs.isEmpty())
        return createObjectNameFromHierarchicalName(realName);
    std::map<QString, QString> properties;
    for (const auto& pair : pairs) {
        const ScriptedSymbolicName existing =
            pair.first == QLatin1String("container") ? existingSymbolicName(pair.second) : ScriptedSymbolicName();
        if (!existing.isEmpty())
            properties[pair.first] = semiQualifiedSymbolicName(existing).text();
        else if (pair.first == QLatin1String("container"))
            properties[pair.first] = getNestedScriptedRealName(pair.second).text();
        else
            properties[pair.first] = propertyValueToScriptValue(PropertyValue(pair.second));
    }
    return createObjectNameFromProperties(properties);
}

bool ScriptedObjectMap::findCodeInsertionPos(QList<QString>::iterator begin, QList<QString>::iterator end,
                                             QList<QString>::iterator* pos)
{
    for (auto it = begin; it != end; ++it) {
        if (it->trimmed() == QLatin1String(insertionMarker)) {
            *pos = it;
            return true;
        }
    }
    *pos = end;
    return false;
}

ScriptedObjectMap::ScriptedSymbolicName ScriptedObjectMap::existingSymbolicName(const QString& realName)
{
    if (!ensureLoaded())
        return ScriptedSymbolicName();
    const QString wanted = normalizedRealName(realName);
    for (auto it = realNames.constBegin(); it != realNames.constEnd(); ++it)
        if (normalizedRealName(it.value()) == wanted)
            return fullyQualifiedSymbolicName(it.key());
    return ScriptedSymbolicName();
}

QStringList ScriptedObjectMap::existingSymbolicNames()
{
    QStringList names;
    if (!ensureLoaded())
        return names;
    for (auto it = realNames.constBegin(); it != realNames.constEnd(); ++it)
        names << fullyQualifiedSymbolicName(it.key()).text();
    return names;
}

bool ScriptedObjectMap::variableNameExists(const QString& name)
{
    // The text an entry line of that name begins with, whatever the language.
    const QString start = createEntry(fullyUnqualifiedSymbolicName(name), ScriptedRealName());
    for (const QString& line : textLines)
        if (line.trimmed().startsWith(start))
            return true;
    return false;
}

bool ScriptedObjectMap::insertLine(const QString& line)
{
    QList<QString>::iterator pos;
    if (!findCodeInsertionPos(textLines.begin(), textLines.end(), &pos))
        return false;
    // Entries are indented like the line they go in front of, one level deeper for a closing line.
    QString indentation;
    for (QChar c : *pos) {
        if (!c.isSpace())
            break;
        indentation += c;
    }
    if (pos->trimmed() == QLatin1String("}"))
        indentation += QLatin1String("    ");
    textLines.insert(pos, indentation + line);
    return true;
}

ScriptedObjectMap::ScriptedSymbolicName ScriptedObjectMap::symbolicName(const QString& realName, bool add,
                                                                        const QString& preferredName)
{
    const ScriptedSymbolicName existing = existingSymbolicName(realName);
    if (!existing.isEmpty() || !add)
        return existing;
    QString base = preferredName;
    if (base.isEmpty()) {
        RealName::Pairs pairs;
        RealName::parse(realName, &pairs);
        base = pairs.isEmpty() ? realName : RealName::readableName(pairs);
    }
    base = toScriptIdentifier(base);
    QString name = base;
    for (int n = 2; variableNameExists(name) || realNames.contains(name); ++n)
        name = base + QLatin1Char('_') + QString::number(n);
    const ScriptedRealName expression = getNestedScriptedRealName(realName);
    if (!insertLine(createEntry(fullyUnqualifiedSymbolicName(name), expression)))
        return ScriptedSymbolicName();
    realNames.insert(name, realName);
    return fullyQualifiedSymbolicName(name);
}

bool ScriptedObjectMap::addComment(const QString& text)
{
    return insertLine(comment(text));
}

bool ScriptedObjectMap::save(QString* error)
{
    QSaveFile file(filePath);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error)
            *error = QStringLiteral("Couldn't write %1: %2").arg(filePath, file.errorString());
        return false;
    }
    QByteArray text;
    for (const QString& line : textLines)
        text += line.toUtf8() + '\n';
    file.write(text);
    if (!file.commit()) {
        if (error)
            *error = QStringLiteral("Couldn't write %1: %2").arg(filePath, file.errorString());
        return false;
    }
    return true;
}

GenericScriptedObjectMap::GenericScriptedObjectMap(const QString& templatePath, const QString& path)
    : ScriptedObjectMap(path), templateFile(templatePath)
{
    setLines(readLines(QFileInfo::exists(path) ? path : templatePath));
}

GenericScriptedObjectMap::~GenericScriptedObjectMap() = default;
