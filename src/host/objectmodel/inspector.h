// The inspector: the entry point to the application under test's object model. It knows the classes,
// the top-level objects and the global class (global properties and functions), makes primitive values,
// finds objects by real name and keeps the last error of a failed call.
#pragma once

#include "object.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

class Inspector {
public:
    static Inspector* self();

    // The global class; null when no application context is valid.
    const Class* globalClass() const { return contextValid ? global : nullptr; }
    Class* mutableGlobalClass() { return global; }
    void setApplicationContextValid(bool valid) { contextValid = valid; }

    const Class* classByName(const QString& name) const { return classes.value(name); }
    // Takes ownership; a class of the same name replaces the earlier one for lookups.
    void registerClass(Class* cls);

    // The class of a primitive kind; null for a kind outside 0 to 6.
    const Class* primitiveClass(int kind) const;
    const Class* stringClass() const { return primitiveClass(StringKind); }

    SharedPtr<Object> createInt(int value) const;
    SharedPtr<Object> createLong(long value) const;
    SharedPtr<Object> createInt64(qint64 value) const;
    SharedPtr<Object> createDouble(double value) const;
    SharedPtr<Object> createBool(bool value) const;
    // A text value (the string class, held as text).
    SharedPtr<Object> createPrimitive(const QString& text) const;
    SharedPtr<Object> createString(const QString& text) const { return createPrimitive(text); }
    SharedPtr<Object> createStringList(const QStringList& list) const;
    // A value that stands for "no return value".
    SharedPtr<Object> createVoid() const { return createPrimitive(QString()); }

    // Top-level objects of the application, in the order they were added.
    int topLevelCount() const { return topLevel.size(); }
    SharedPtr<Object> topLevelObject(int i) const { return topLevel.value(i); }
    SharedPtr<Object> topLevelObject(const QString& name) const;
    void addTopLevelObject(const SharedPtr<Object>& object);
    void removeTopLevelObject(const Object* object);
    void clearTopLevelObjects() { topLevel.clear(); }

    // The first object (in tree order) that the real name matches, or null; all of them.
    SharedPtr<Object> findObject(const QString& realName) const;
    ObjectList findAllObjects(const QString& realName) const;
    // Whether the real name is well formed (a list of property/value pairs).
    static bool isValidRealName(const QString& realName);
    bool matches(const Object* object, const QString& realName) const;

    // Functions the application side offers by name (the remote calls of the test API). A call of an
    // unknown name fails with a last error naming it.
    using RemoteFunction = std::function<SharedPtr<Object>(const ObjectList& args)>;
    void registerRemoteFunction(const QString& name, const RemoteFunction& function);
    SharedPtr<Object> remoteCall(const QString& name, const ObjectList& args);

    void setLastError(const QString& error) { lastErrorText = error; }
    QString lastError() const { return lastErrorText; }

    // Registrations that scripts make through the object access commands.
    void registerPropertyDelegate(const QString& className, const QStringList& declarations);
    QStringList propertyDelegates(const QString& className) const { return delegates.value(className); }
    void setUniqueProperty(const QString& className, const QString& propertyName);
    QString uniqueProperty(const QString& className) const { return uniqueProperties.value(className); }

private:
    Inspector();
    void collectMatches(const SharedPtr<Object>& object, const QString& realName, ObjectList* out,
                        bool firstOnly) const;

    Class* global;
    bool contextValid = true;
    QList<Class*> primitives;
    QHash<QString, const Class*> classes;
    QList<Class*> ownedClasses;
    ObjectList topLevel;
    QString lastErrorText;
    QHash<QString, QStringList> delegates;
    QHash<QString, QString> uniqueProperties;
    QHash<QString, RemoteFunction> remoteFunctions;
};
