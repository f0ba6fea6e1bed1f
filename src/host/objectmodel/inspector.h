// The inspector: the entry point to the application under test's object model. It knows the classes,
// the top-level objects and the global class (global properties, functions and event types), makes
// primitive values, finds objects by real name, delivers events and calls the handlers installed for
// them, keeps the recorder's settings and the last error of a failed call.
#pragma once

#include "object.h"

#include <QHash>
#include <QList>
#include <QPair>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>

// Where the objects of the current application come from when they are not the inspector's own: an
// application in another process answers lookups itself (agentconnection.h).
class ObjectProvider {
public:
    virtual ~ObjectProvider() = default;
    virtual SharedPtr<Object> findObject(const QString& realName) = 0;
    virtual ObjectList findAllObjects(const QString& realName) = 0;
    virtual ObjectList topLevelObjects() = 0;
    // Input without an object (screen coordinates, the focused window); see Object::userInput.
    virtual bool userInput(const QString& action, const QVariantMap& parameters) = 0;
    // A PNG picture of the application's windows; empty with the inspector's last error set.
    virtual QByteArray screenshot() = 0;
    // Why no object can be found any more (the application ended); empty while it runs.
    virtual QString unavailableReason() const = 0;
    // The event types that handlers wait for: the application reports them as they happen.
    virtual void watchEvents(const QStringList& eventNames) {}
    // Raises the events the application reported since the last call (Inspector::raiseEvent).
    virtual void deliverPendingEvents() {}
};

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
    // The value of a class when nothing else is known: zero, false or the empty text for primitives, the
    // class's null object for other classes, null without a class.
    SharedPtr<Object> createDefault(const Class* cls) const;
    // A value that stands for "no return value".
    SharedPtr<Object> createVoid() const { return createPrimitive(QString()); }

    // Top-level objects of the application, in the order they were added.
    int topLevelCount() const;
    SharedPtr<Object> topLevelObject(int i) const;
    SharedPtr<Object> topLevelObject(const QString& name) const;
    void addTopLevelObject(const SharedPtr<Object>& object);
    void removeTopLevelObject(const Object* object);
    void clearTopLevelObjects() { topLevel.clear(); }

    // The provider of the current application's objects; null for the inspector's own top-level objects.
    // Lookups and the top-level objects go to it while it is set.
    void setObjectProvider(ObjectProvider* provider)
    {
        objectProvider = provider;
        providedTopLevel.clear();
        announceWatchedEvents();
    }
    // Raises what the current application reported meanwhile; for the places a script waits.
    void deliverPendingEvents()
    {
        if (objectProvider)
            objectProvider->deliverPendingEvents();
    }
    ObjectProvider* currentObjectProvider() const { return objectProvider; }

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

    // Events (inspectorevents.cpp). Event types are declared on the global class. Sending hands an event
    // to the object as the application's event loop would: missing trailing arguments take their type's
    // default (0, "", false), and the object reacts to it (Object::handleEvent), raising it to the
    // handlers when it takes it. False, with the reason in the last error, when the object takes none.
    bool sendEvent(const Event* event, const SharedPtr<Object>& object, const ObjectList& args);
    // Called by the application when one of its objects handles an event: the handlers installed for
    // the object, then those for its class or a base class, then the global ones are called, each once.
    void raiseEvent(const SharedPtr<Object>& object, const QString& eventName, const ObjectList& args);

    // Handlers: callbacks named by a text (a script function), for one object, for every object of a
    // type (a class or one derived from it), or for every object. Installing one again changes nothing.
    // False, with the reason in the last error, for an unknown event type or type, an object that no
    // longer exists, or (removal) a handler that is not installed.
    bool installEventHandler(const QString& eventName, const QString& callback);
    bool installEventHandler(const SharedPtr<Object>& object, const QString& eventName,
                             const QString& callback);
    bool installTypeEventHandler(const QString& typeName, const QString& eventName, const QString& callback);
    bool uninstallEventHandler(const QString& eventName, const QString& callback);
    bool uninstallEventHandler(const SharedPtr<Object>& object, const QString& eventName,
                               const QString& callback);
    bool uninstallTypeEventHandler(const QString& typeName, const QString& eventName,
                                   const QString& callback);
    // Mouse input to an object, as the input to an application (see the event observer below).
    bool deliverMouseInput(const SharedPtr<Object>& object, const MouseInput& input);

    // Recording: the observer hears of every event the application handles in answer to input, that
    // is the first event raised while an event sent with sendEvent or mouse input is delivered. Events
    // the application raises on its own, or as a consequence of the input (a dialog closing after a
    // click on OK), are not input; nor are events filtered from recording (setRecorderFilter: the event
    // type, the object's type, or its name or real name). An empty observer ends the observation.
    using EventObserver = std::function<void(const SharedPtr<Object>& object, const QString& eventName,
                                             const ObjectList& args)>;
    void setEventObserver(const EventObserver& observer)
    {
        eventObserver = observer;
        announceWatchedEvents();
    }
    // An application in another process reports the input it received (a person's, or the script's
    // own): the observer hears it, unless filtered, and then the handlers.
    void reportInput(const SharedPtr<Object>& object, const QString& eventName, const ObjectList& args);

    // Every handler goes (the application that raised their events has ended).
    void clearEventHandlers();
    // The installed handlers in the order they are called: a scope ("object", "type" or "global"), what
    // it names (the object's real name, the type name, or empty), the event type and the callback.
    QList<QStringList> installedHandlers() const;
    int eventHandlerCount() const { return handlers.size(); }
    // How a handler is called; the script side installs it (the framework's interpreter calls the script
    // function of that name with the object and the event's arguments).
    using EventHandlerCall = std::function<void(const QString& callback, const SharedPtr<Object>& object,
                                                const QString& eventName, const ObjectList& args)>;
    void setEventHandlerCall(const EventHandlerCall& call) { handlerCall = call; }

    // Recorder and event-compression settings by class name. A query about an object asks its class,
    // then its base classes, nearest first; the first class with a setting decides, none means off.
    void setMouseTracking(const QString& className, bool on) { mouseTracking.insert(className, on); }
    void setRecordMouseDrag(const QString& className, bool on) { mouseDrag.insert(className, on); }
    void setAllowKeyEventCompression(const QString& className, bool on)
    {
        keyCompression.insert(className, on);
    }
    void enableEventCompression(const QString& className, bool on) { eventCompression.insert(className, on); }
    bool isMouseTracked(const Object* object) const { return classSetting(mouseTracking, object); }
    bool recordsMouseDrag(const Object* object) const { return classSetting(mouseDrag, object); }
    bool allowsKeyEventCompression(const Object* object) const
    {
        return classSetting(keyCompression, object);
    }
    bool compressesEvents(const Object* object) const { return classSetting(eventCompression, object); }
    // What the recorder leaves out: objects by name ("ObjectName"), by type ("ObjectType") or events by
    // their type's name ("EventType"). False, with the last error set, for any other kind.
    bool setRecorderFilter(const QString& type, const QString& name);
    bool isFilteredFromRecording(const QString& type, const QString& name) const;

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
    bool contextValid = false; // no application has started yet
    ObjectProvider* objectProvider = nullptr;
    // The provider's top-level objects as last counted, so that numbering them is stable while a
    // script walks them.
    mutable ObjectList providedTopLevel;
    QList<Class*> primitives;
    QHash<QString, const Class*> classes;
    QList<Class*> ownedClasses;
    ObjectList topLevel;
    QString lastErrorText;
    QHash<QString, QStringList> delegates;
    QHash<QString, QString> uniqueProperties;
    QHash<QString, RemoteFunction> remoteFunctions;

    struct Handler {
        enum Scope { ForObject, ForType, Global };
        Scope scope;
        SharedPtr<Object> object; // ForObject: kept alive while the handler is installed
        QString typeName;         // ForType
        QString eventName;
        QString callback;
        bool operator==(const Handler& o) const
        {
            return scope == o.scope && object == o.object && typeName == o.typeName &&
                   eventName == o.eventName && callback == o.callback;
        }
    };
    bool install(const Handler& handler);
    // Tells the current application which event types handlers wait for.
    void announceWatchedEvents();
    bool uninstall(const Handler& handler);
    bool handlerApplies(const Handler& handler, const Object* object, const QString& eventName) const;
    bool classSetting(const QHash<QString, bool>& settings, const Object* object) const;

    QList<Handler> handlers;
    EventHandlerCall handlerCall;
    EventObserver eventObserver;
    bool inputPending = false; // input is being delivered and has raised no event yet
    bool filteredFromRecording(const Object* object, const QString& eventName) const;
    int raiseDepth = 0;
    QHash<QString, bool> mouseTracking;
    QHash<QString, bool> mouseDrag;
    QHash<QString, bool> keyCompression;
    QHash<QString, bool> eventCompression;
    QSet<QPair<QString, QString>> recorderFilters;
};
