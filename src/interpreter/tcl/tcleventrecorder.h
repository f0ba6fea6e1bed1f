// The Tcl event recorder: recorded steps become Tcl statements (sendEvent, invoke, waitForObject,
// snooze, comments, object construction, enumeration values, gestures), and finishScript wraps them
// into `proc main`.
#pragma once

#include "eventrecorder.h"

class TclEventRecorder : public EventRecorder
{
public:
    // Takes ownership of the map (may be null).
    TclEventRecorder(bool noSnooze, bool useWaitFor, ScriptedObjectMap* map);
    ~TclEventRecorder() override;

    void recordEvent(const EventData& event) override;
    QString snoozeStatement(int milliseconds) override;
    QString waitForObjectStatement(const QString& object, int delay) override;
    QString waitForObjectItemStatement(const QString& object, int first, int second, int delay) override;
    QString waitForObjectItemStatement(const QString& object, const QString& item, int delay) override;
    void recordTestDataPut(const QString& fileName) override;
    QString scriptHeader() override;
    QString finishScript(bool withMain, const QString& applicationName) override;

    // A text as the inside of a double-quoted Tcl word. A text holding "[toString [invoke" keeps its
    // brackets and double quotes: it carries a command substitution on purpose.
    static QString escape(const QString& text);

private:
    QString quotedObjectReference(const QString& name);
    // The value an argument contributes; construction lines (kind 1) are appended to *lines.
    QString formatArgument(const EventDataArg& arg, const QString& variable, QString* lines);
    static QString timeoutSuffix(int delay);
    static QString waitForObjectText(const QString& object, int delay);
    static QString waitForObjectItemText(const QString& object, const QString& item, int delay);

    QString buffer; // the script body recorded so far
};

extern "C" EventRecorder* createEventRecorder(bool noSnooze, bool useWaitFor, bool useScriptedObjectMap,
                                              const QString& objectMapPath);
