// The inspector's events: sending them to objects, the handlers installed for them and how a raised
// event reaches them, and the recorder's settings.
#include "inspector.h"

namespace
{

QString describe(const QString& typeName, const Object* object)
{
    if (object)
        return QStringLiteral(" of object '%1'").arg(object->realName());
    if (!typeName.isEmpty())
        return QStringLiteral(" of type '%1'").arg(typeName);
    return QString();
}

// Handlers that raise events again are not called again below this depth: a handler that sends the
// event it handles would otherwise never end.
const int maxRaiseDepth = 8;

} // namespace

bool Inspector::sendEvent(const Event* event, const SharedPtr<Object>& object, const ObjectList& args)
{
    setLastError(QString());
    if (!event || !object) {
        setLastError(QStringLiteral("No event or no object to send it to"));
        return false;
    }
    if (object->isInvalid()) {
        setLastError(QStringLiteral("Cannot send a %1 event to '%2': the object no longer exists")
                         .arg(event->name(), object->realName()));
        return false;
    }
    const Signature& signature = event->signature();
    if (args.size() > signature.size()) {
        setLastError(QStringLiteral("Too many arguments for a %1 event: expected %2")
                         .arg(event->name(), signature.toString()));
        return false;
    }
    ObjectList complete = args;
    for (int i = args.size(); i < signature.size(); ++i)
        complete << createDefault(signature.at(i).argumentClass());
    const bool outer = !inputPending;
    inputPending = true;
    const bool handled = object->handleEvent(event->name(), complete);
    if (outer)
        inputPending = false;
    return handled;
}

bool Inspector::deliverMouseInput(const SharedPtr<Object>& object, const MouseInput& input)
{
    const bool outer = !inputPending;
    inputPending = true;
    const bool handled = object->mouseEvent(input);
    if (outer)
        inputPending = false;
    return handled;
}

bool Inspector::filteredFromRecording(const Object* object, const QString& eventName) const
{
    if (isFilteredFromRecording(QStringLiteral("EventType"), eventName))
        return true;
    if (!object)
        return false;
    return isFilteredFromRecording(QStringLiteral("ObjectType"), object->className()) ||
           (!object->name().isEmpty() && isFilteredFromRecording(QStringLiteral("ObjectName"), object->name())) ||
           isFilteredFromRecording(QStringLiteral("ObjectName"), object->realName());
}

bool Inspector::handlerApplies(const Handler& handler, const Object* object, const QString& eventName) const
{
    if (handler.eventName != eventName)
        return false;
    switch (handler.scope) {
    case Handler::ForObject:
        return handler.object.get() == object;
    case Handler::ForType: {
        const Class* cls = classByName(handler.typeName);
        return object && (object->className() == handler.typeName || (cls && object->isA(cls)));
    }
    case Handler::Global:
        return true;
    }
    return false;
}

void Inspector::raiseEvent(const SharedPtr<Object>& object, const QString& eventName, const ObjectList& args)
{
    if (inputPending) {
        inputPending = false; // what the input raises after this is its consequence
        if (eventObserver && !filteredFromRecording(object.get(), eventName)) {
            const EventObserver observe = eventObserver; // the observer may replace itself
            observe(object, eventName, args);
        }
    }
    if (!handlerCall || handlers.isEmpty())
        return;
    if (raiseDepth >= maxRaiseDepth) {
        qWarning("Inspector::raiseEvent: %s events raised by their own handlers %d levels deep; handlers not "
                 "called",
                 qPrintable(eventName), raiseDepth);
        return;
    }
    // Handlers may install or remove handlers: the ones to call are fixed before the first call.
    QList<Handler> toCall;
    for (Handler::Scope scope : {Handler::ForObject, Handler::ForType, Handler::Global})
        for (const Handler& h : handlers)
            if (h.scope == scope && handlerApplies(h, object.get(), eventName))
                toCall << h;
    ++raiseDepth;
    const EventHandlerCall call = handlerCall; // a handler may install another call
    for (const Handler& h : toCall)
        call(h.callback, object, eventName, args);
    --raiseDepth;
}

bool Inspector::install(const Handler& handler)
{
    setLastError(QString());
    if (!global->event(handler.eventName)) {
        setLastError(
            QStringLiteral("Cannot install a handler for '%1' events: the application has no event type "
                           "of that name")
                .arg(handler.eventName));
        return false;
    }
    if (handler.scope == Handler::ForType && !classByName(handler.typeName)) {
        setLastError(
            QStringLiteral("Cannot install a handler for '%1' events of type '%2': the application has no "
                           "type of that name")
                .arg(handler.eventName, handler.typeName));
        return false;
    }
    if (handler.scope == Handler::ForObject && (!handler.object || handler.object->isInvalid())) {
        setLastError(QStringLiteral("Cannot install a handler for '%1' events: the object no longer exists")
                         .arg(handler.eventName));
        return false;
    }
    if (!handlers.contains(handler)) {
        handlers << handler;
        announceWatchedEvents();
    }
    return true;
}

void Inspector::reportInput(const SharedPtr<Object>& object, const QString& eventName, const ObjectList& args)
{
    if (eventObserver && object && !filteredFromRecording(object.get(), eventName)) {
        const EventObserver observe = eventObserver;
        observe(object, eventName, args);
    }
    raiseEvent(object, eventName, args);
}

void Inspector::announceWatchedEvents()
{
    if (!objectProvider)
        return;
    QStringList names;
    // A recording hears every mouse and key input the application gets.
    if (eventObserver)
        names << QStringLiteral("QMouseEvent") << QStringLiteral("QKeyEvent");
    for (const Handler& h : handlers)
        if (!names.contains(h.eventName))
            names << h.eventName;
    objectProvider->watchEvents(names);
}

bool Inspector::uninstall(const Handler& handler)
{
    setLastError(QString());
    if (handlers.removeAll(handler) > 0) {
        announceWatchedEvents();
        return true;
    }
    setLastError(
        QStringLiteral("No handler '%1' is installed for '%2' events%3")
            .arg(handler.callback, handler.eventName, describe(handler.typeName, handler.object.get())));
    return false;
}

bool Inspector::installEventHandler(const QString& eventName, const QString& callback)
{
    return install(Handler{Handler::Global, SharedPtr<Object>(), QString(), eventName, callback});
}

bool Inspector::installEventHandler(const SharedPtr<Object>& object, const QString& eventName,
                                    const QString& callback)
{
    return install(Handler{Handler::ForObject, object, QString(), eventName, callback});
}

bool Inspector::installTypeEventHandler(const QString& typeName, const QString& eventName,
                                        const QString& callback)
{
    return install(Handler{Handler::ForType, SharedPtr<Object>(), typeName, eventName, callback});
}

bool Inspector::uninstallEventHandler(const QString& eventName, const QString& callback)
{
    return uninstall(Handler{Handler::Global, SharedPtr<Object>(), QString(), eventName, callback});
}

bool Inspector::uninstallEventHandler(const SharedPtr<Object>& object, const QString& eventName,
                                      const QString& callback)
{
    return uninstall(Handler{Handler::ForObject, object, QString(), eventName, callback});
}

bool Inspector::uninstallTypeEventHandler(const QString& typeName, const QString& eventName,
                                          const QString& callback)
{
    return uninstall(Handler{Handler::ForType, SharedPtr<Object>(), typeName, eventName, callback});
}

QList<QStringList> Inspector::installedHandlers() const
{
    QList<QStringList> list;
    for (Handler::Scope scope : {Handler::ForObject, Handler::ForType, Handler::Global})
        for (const Handler& h : handlers) {
            if (h.scope != scope)
                continue;
            const QString target = scope == Handler::ForObject ? (h.object ? h.object->realName() : QString())
                                   : scope == Handler::ForType ? h.typeName
                                                               : QString();
            static const char* const names[] = {"object", "type", "global"};
            list << QStringList{QLatin1String(names[scope]), target, h.eventName, h.callback};
        }
    return list;
}

void Inspector::clearEventHandlers()
{
    handlers.clear();
    announceWatchedEvents();
}

bool Inspector::classSetting(const QHash<QString, bool>& settings, const Object* object) const
{
    if (!object || settings.isEmpty())
        return false;
    // Breadth first from the object's class: the nearest class with a setting decides.
    QList<const Class*> level{object->objectClass()};
    while (!level.isEmpty()) {
        QList<const Class*> next;
        for (const Class* cls : level) {
            if (!cls)
                continue;
            auto it = settings.constFind(cls->className());
            if (it != settings.constEnd())
                return *it;
            next << cls->baseClasses();
        }
        level = next;
    }
    return false;
}

bool Inspector::setRecorderFilter(const QString& type, const QString& name)
{
    if (type != QLatin1String("ObjectName") && type != QLatin1String("ObjectType") &&
        type != QLatin1String("EventType")) {
        setLastError(
            QStringLiteral("Invalid recorder filter type '%1': must be ObjectName, ObjectType or EventType")
                .arg(type));
        return false;
    }
    recorderFilters.insert(qMakePair(type, name));
    return true;
}

bool Inspector::isFilteredFromRecording(const QString& type, const QString& name) const
{
    return recorderFilters.contains(qMakePair(type, name));
}
