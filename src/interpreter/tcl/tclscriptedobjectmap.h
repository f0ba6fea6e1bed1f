// The Tcl dialect of the scripted object map: names.tcl holds the namespace `names` with one variable per
// entry. Writes every piece of its Tcl text and reads the entries back by sourcing the file together
// with the object map helper package.
#pragma once

#include "scriptedobjectmap.h"

class TclScriptedObjectMap : public GenericScriptedObjectMap {
public:
    explicit TclScriptedObjectMap(const QString& path);
    TclScriptedObjectMap(const TclScriptedObjectMap&) = default;
    TclScriptedObjectMap(TclScriptedObjectMap&&) = default;
    ~TclScriptedObjectMap() override;

    ScriptedSymbolicName fullyQualifiedSymbolicName(const ScriptedSymbolicName& name) override;
    ScriptedSymbolicName fullyUnqualifiedSymbolicName(const ScriptedSymbolicName& name) override;
    ScriptedSymbolicName semiQualifiedSymbolicName(const ScriptedSymbolicName& name) override;

protected:
    bool findCodeInsertionPos(QList<QString>::iterator begin, QList<QString>::iterator end,
                              QList<QString>::iterator* pos) override;

private:
    QString createEntry(const ScriptedSymbolicName& name, const ScriptedRealName& realName) override;
    QString comment(const QString& text) override;
    QString toScriptString(const QString& text) override;
    QString toScriptIdentifier(const QString& text) override;
    QString propertyValueToScriptValue(const PropertyValue& value) override;
    ScriptedRealName createObjectNameFromProperties(const std::map<QString, QString>& properties) override;
    ScriptedRealName createObjectNameFromHierarchicalName(const QString& name) override;

protected:
    FunctionCallResult<ScriptedEntryMap> getEntryMap() override;
    QString variableNameToSymbolicName(const QString& variableName) override;

private:
    SharedPtr<ScriptArgument> evaluate(const QString& code, QString* message);
    void initializeInterpreter();
    bool reloadObjectMap(QString* message);

    // Unit tests reach the private text operations through it.
    friend struct TclScriptedObjectMapProbe;
};

extern "C" ScriptedObjectMap* createScriptedObjectMap(const QString& path);
