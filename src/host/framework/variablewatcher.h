// The framework's variable watcher: what the debugger shows of a stopped script's variables. A language
// back end lists its variables (globalBindings) and the members of the ones that can be opened (its
// language objects: arrays, lists...); objects of the application under test that have components are
// registered here under their entry names and opened by the framework itself, property by property.
//
// An entry name that begins with "+" can be opened; the rest of it is the variable (or member) it stands
// for. Members of an entry are named after it: "x.key", "l.0", "button.geometry".
#pragma once

#include "object.h"
#include "sharedptr.h"

#include <QList>
#include <QMap>
#include <QPair>
#include <QString>

// A variable's type and, for entries that are shown rather than opened, its value text.
class VariableValue
{
public:
    explicit VariableValue(const QString& typeName = QString()) : type(typeName) {}
    VariableValue(const QString& typeName, const QString& value) : type(typeName), text(value), valued(true)
    {
    }

    QString typeName() const { return type; }
    QString value() const { return text; }
    bool hasValue() const { return valued; }
    bool operator==(const VariableValue& o) const
    {
        return type == o.type && text == o.text && valued == o.valued;
    }

private:
    QString type;
    QString text;
    bool valued = false;
};

using VariableBinding = QPair<QString, VariableValue>;
using VariableBindings = QList<VariableBinding>;

class VariableWatcher
{
public:
    VariableWatcher() = default;
    VariableWatcher(const VariableWatcher&) = delete;
    VariableWatcher& operator=(const VariableWatcher&) = delete;
    virtual ~VariableWatcher();

    // The bindings shown at the top level.
    virtual VariableBindings globalBindings() = 0;
    // Whether an entry name is one of the back end's own openable entries.
    virtual bool isLanguageObject(const QString& entryName) = 0;
    // The members of such an entry.
    virtual VariableBindings languageObjectBindings(const QString& entryName) = 0;

    // What the debugger shows for a scope: the top level for an empty scope; the members of an entry
    // otherwise (a language object, or a registered object's readable properties). An entry that is
    // neither gives nothing.
    VariableBindings variableBindings(const QString& scope);

    // Whether an object can be opened: a live, non-null object whose class has readable properties.
    static bool objectHasComponents(const Object* object);
    // Remembers the object behind an openable entry name.
    void registerTarvinObject(const QString& entryName, const SharedPtr<Object>& object);
    SharedPtr<Object> registeredObject(const QString& entryName) const { return objects.value(entryName); }

private:
    VariableBindings objectBindings(const QString& entryName, const SharedPtr<Object>& object);

    QMap<QString, SharedPtr<Object>> objects;
};
