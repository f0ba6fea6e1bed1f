// Recording: the steps a recorder hears of (EventData) and the generic part of a recorder that turns
// them into the text of a test script (EventRecorder). A language back end derives from EventRecorder
// and writes every statement; the base chooses symbolic names, synchronisation, snooze texts, method
// names and gesture names, and owns the scripted object map new names go into.
#pragma once

#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QTime>

#include <memory>

class ScriptedObjectMap;

// One argument of a recorded step.
class EventDataArg
{
public:
    enum Kind { PlainValue = 0, ObjectFromProperties = 1, EnumerationValue = 2 };
    // The value sub-kind of an object reference: the value text is an object's name.
    enum { ObjectReference = 4 };

    int kind = PlainValue;
    // The argument's name; for a nested argument, the property it sets.
    QString name;
    // The object model's type of the value (a type text such as "Rect" or "Rect*").
    QString valueType;
    // Plain values: the value as a word of the script language (an object reference: the object's name).
    QString valueText;
    QString enumTypeName;
    int valueSubKind = 0;
    // Kind ObjectFromProperties: the properties the object is built from.
    QList<EventDataArg> nestedArgs;
    // Kind EnumerationValue: the enumerators the value is made of (none: valueText is the value).
    QStringList enumValueNames;

    const QList<EventDataArg>& args() const { return nestedArgs; }
};

// One recorded step: an event sent to an object, a method called on an object, a comment or a call of
// a test function.
class EventData
{
public:
    enum StepKind { Event = 0, MethodCall = 1, Comment = 2, FunctionCall = 3 };

    int stepKind = Event;
    // Milliseconds since the step before (snooze lines, wait timeouts).
    int delay = 0;
    // When the step happened (gesture names).
    QTime time;

    // The object's name (null: no object); for a comment, the comment text.
    QString objectId() const { return object; }
    QString methodName() const { return method; }
    QString eventName() const { return event; }
    // The item addressed inside the object; null when none.
    QString itemText() const { return item; }
    // The variable a function call's result goes to; null when none.
    QString returnVariable() const { return returnVar; }
    int numArguments() const { return structured.size(); }
    const EventDataArg& argument(int i) const { return structured.at(i); }
    // Further arguments: names of script variables.
    QStringList arguments() const { return variables; }

    void setObjectId(const QString& id) { object = id; }
    void setMethodName(const QString& name) { method = name; }
    void setEventName(const QString& name) { event = name; }
    void setItemText(const QString& text) { item = text; }
    void setReturnVariable(const QString& name) { returnVar = name; }
    void addArgument(const EventDataArg& arg) { structured.append(arg); }
    void setArguments(const QStringList& names) { variables = names; }

private:
    QString object, method, event, item, returnVar;
    QList<EventDataArg> structured;
    QStringList variables;
};

class EventRecorder
{
public:
    // Marks an object name as a real name that should be written as a symbolic name.
    static const QString symbolicNameMarker;

    // Takes ownership of the scripted object map (may be null). noSnooze: no snooze line before
    // function calls; useWaitFor: object references are wrapped in waitForObject instead of being
    // synchronised by statements of their own.
    EventRecorder(bool noSnooze, bool useWaitFor, ScriptedObjectMap* map);
    virtual ~EventRecorder();
    EventRecorder(const EventRecorder&) = delete;
    EventRecorder& operator=(const EventRecorder&) = delete;

    virtual void recordEvent(const EventData& event) = 0;
    virtual QString snoozeStatement(int milliseconds) = 0;
    virtual QString waitForObjectStatement(const QString& object, int delay) = 0;
    virtual QString waitForObjectItemStatement(const QString& object, int first, int second, int delay) = 0;
    virtual QString waitForObjectItemStatement(const QString& object, const QString& item, int delay) = 0;
    virtual void recordTestDataPut(const QString& fileName) = 0;
    virtual QString scriptHeader() = 0;
    virtual QString finishScript(bool withMain, const QString& applicationName) = 0;

    ScriptedObjectMap* scriptedObjectMap() const { return map.get(); }

    // How a script names the object of a real name (a marker in front is dropped). With a scripted
    // object map: the map's symbolic name, a new entry made when there is none (a script word such as
    // $names::OK_PushButton); when the map has no place for new entries, the real name as a Tcl
    // word. Without one: the real name itself, which finds the object again as it is.
    QString createSymbolicName(const QString& name);

    // Synchronisation text before a step on an object: a waitForObject statement (waitForObjectItem
    // for a step on an item), or the empty text when the wait-for flag is set (references wrap
    // themselves), there is no object, or the step before was synchronised on the same object (a run
    // of steps on one object waits once).
    QString recordSync(const QString& object, const EventData& event, int delay);
    QString recordSync(const QString& object, int delay);
    // True for steps that need no synchronisation of their own: steps without an object and calls of
    // functions that wait by themselves (the waitFor family, snooze, startApplication,
    // attachToApplication). A function-call step also ends a run of steps on one object: what it does
    // may change the screen, so the next step waits again.
    bool skipRecordSyncFor(const EventData& event);
    // True for methods whose object is synchronised by a statement of its own even when the wait-for
    // flag is set: methods that wait themselves (waitForContextExists) and mouseMove (a move over an
    // object must not wait for it to become ready).
    bool useWaitForForMethod(const QString& methodName) const;
    // True for methods that address an item of their object by its text (names ending in "Item", such
    // as clickItem): the object is written as it is, the method finds the item itself.
    bool isItemMethod(const QString& methodName) const;
    // The method name as a script calls it: a signature ("click(int, int)") and a class qualification
    // ("Button::click") are dropped, surrounding white space too.
    QString cleansedMethodName(const QString& methodName) const;
    // Seconds with at most one decimal ("1.5", "2"); null for delays that round to no time (below 50).
    QString formatSnoozeSecs(int milliseconds) const;
    // "Gesture_HHMMSS_zzz" from the time; two gestures of the same millisecond get the same name.
    QString generateGestureName(const QTime& time) const;

    // Recorded gestures: gesture name -> gesture data text (the gesture file's contents).
    const QMap<QString, QString>& gestures() const { return gestureTable; }

    bool noSnooze() const { return noSnoozeFlag; }
    bool useWaitFor() const { return waitForFlag; }

protected:
    void setGesture(const QString& name, const QString& data) { gestureTable.insert(name, data); }
    void setUseWaitFor(bool on) { waitForFlag = on; }

private:
    bool noSnoozeFlag;
    bool waitForFlag;
    std::unique_ptr<ScriptedObjectMap> map;
    QMap<QString, QString> gestureTable;
    QString lastSynced; // the object the step before waited for
};
