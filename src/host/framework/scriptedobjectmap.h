// The scripted object map: the suite's object map kept as a script of the test language, one variable
// per entry. The generic logic (the file's lines, finding, adding and saving entries, the entries as a
// name -> real name map) lives here; a language back end supplies every piece of script text and reads
// the entries back by running the file.
#pragma once

#include "scriptargument.h"
#include "sharedptr.h"

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

#include <map>

class PropertyValue;
class RunnerInterface;

// The outcome of an operation that yields a value or fails with a message. A failure may have an
// empty message (for example: there is no file to read).
template <class T> class FunctionCallResult {
public:
    FunctionCallResult(const T& value) : val(value) {}
    static FunctionCallResult failure(const QString& message)
    {
        FunctionCallResult r{T()};
        r.failed = true;
        r.message = message;
        return r;
    }
    bool succeeded() const { return !failed; }
    const T& value() const { return val; }
    QString errorText() const { return message; }

private:
    T val;
    QString message;
    bool failed = false;
};

using ScriptedEntryMap = std::map<QString, SharedPtr<ScriptArgument>>;

class ScriptedObjectMap {
public:
    // A symbolic name as scripts write it (Foo, $Foo, $names::Foo...).
    class ScriptedSymbolicName {
    public:
        ScriptedSymbolicName() = default;
        ScriptedSymbolicName(const QString& text) : t(text) {}
        const QString& text() const { return t; }
        bool isEmpty() const { return t.isEmpty(); }

    private:
        QString t;
    };
    // A script expression that yields a real name.
    class ScriptedRealName {
    public:
        ScriptedRealName() = default;
        ScriptedRealName(const QString& text) : t(text) {}
        const QString& text() const { return t; }
        bool isEmpty() const { return t.isEmpty(); }

    private:
        QString t;
    };

    explicit ScriptedObjectMap(const QString& path);
    virtual ~ScriptedObjectMap();

    // Symbolic name (fully qualified) -> real name text of every entry; empty when the map cannot be read.
    virtual QMap<QString, QString> toLegacyRepresentation();
    // The real name text an entry stands for; empty when there is no such entry.
    virtual QString getRealName(const ScriptedSymbolicName& name);
    // The expression for a real name, with every container that is an entry of the map referred to by
    // its (semi-qualified) symbolic name.
    virtual ScriptedRealName getNestedScriptedRealName(const QString& realName);
    virtual ScriptedSymbolicName fullyQualifiedSymbolicName(const ScriptedSymbolicName& name) = 0;
    virtual ScriptedSymbolicName fullyUnqualifiedSymbolicName(const ScriptedSymbolicName& name) = 0;
    virtual ScriptedSymbolicName semiQualifiedSymbolicName(const ScriptedSymbolicName& name) = 0;

protected:
    // Where new entry lines go: in front of *pos. Looks for the marker line "# @new-entries@" (trimmed);
    // without one, fails with *pos at end.
    virtual bool findCodeInsertionPos(QList<QString>::iterator begin, QList<QString>::iterator end,
                                      QList<QString>::iterator* pos);

public:
    // The fully qualified symbolic name of the entry for a real name; empty when there is none.
    virtual ScriptedSymbolicName existingSymbolicName(const QString& realName);
    // The fully qualified symbolic names of all entries, in entry-name order.
    virtual QStringList existingSymbolicNames();
    // True when an entry of that (unqualified) name exists, in the file's lines or among the entries.
    virtual bool variableNameExists(const QString& name);

private:
    // The script text of the language.
    virtual QString createEntry(const ScriptedSymbolicName& name, const ScriptedRealName& realName) = 0;
    virtual QString comment(const QString& text) = 0;
    virtual QString toScriptString(const QString& text) = 0;
    virtual QString toScriptIdentifier(const QString& text) = 0;
    virtual QString propertyValueToScriptValue(const PropertyValue& value) = 0;
    virtual ScriptedRealName createObjectNameFromProperties(const std::map<QString, QString>& properties) = 0;
    virtual ScriptedRealName createObjectNameFromHierarchicalName(const QString& name) = 0;

protected:
    // Reads the file back: entry name -> value.
    virtual FunctionCallResult<ScriptedEntryMap> getEntryMap() = 0;
    virtual QString variableNameToSymbolicName(const QString& variableName) = 0;

public:
    QString path() const { return filePath; }
    QStringList lines() const { return textLines; }
    // The runner the map works for; a stand-in for tools that have none when it was never set.
    RunnerInterface* runner() const;
    void setRunner(RunnerInterface* runner) { runnerInterface = runner; }

    // Reads the entries from the file (again); false with the reason in *error. Additions not saved
    // yet are kept.
    bool load(QString* error);
    // The symbolic name of a real name; with `add`, a new entry named after `preferredName` (or the
    // real name's text, name or type) is made when none exists. Empty when there is none (or no place
    // for a new entry in the file).
    ScriptedSymbolicName symbolicName(const QString& realName, bool add, const QString& preferredName = QString());
    // Appends "<comment>" in front of the insertion point; false when the file has none.
    bool addComment(const QString& text);
    // Writes the lines to the file (UTF-8, line feeds); false with the reason in *error.
    bool save(QString* error = nullptr);

protected:
    void setLines(const QStringList& lines) { textLines = lines; }

private:
    bool ensureLoaded();
    bool insertLine(const QString& line);

    QString filePath;
    QStringList textLines;
    RunnerInterface* runnerInterface = nullptr;
    bool loaded = false;
    // Entry name -> real name text, as read from the file plus the entries added since.
    QMap<QString, QString> realNames;
};

// Keeps the file's lines, read from the file or, for a new map, from the template file.
class GenericScriptedObjectMap : public ScriptedObjectMap {
public:
    GenericScriptedObjectMap(const QString& templatePath, const QString& path);
    GenericScriptedObjectMap(const GenericScriptedObjectMap&) = default;
    GenericScriptedObjectMap(GenericScriptedObjectMap&&) = default;
    ~GenericScriptedObjectMap() override;

    QString templatePath() const { return templateFile; }

private:
    QString templateFile;
};
