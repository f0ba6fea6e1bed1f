// Recording a test case (tarvinrunner --record FILE): while the test case drives the application,
// every event the application handles in answer to input (events sent with sendEvent, mouse input:
// clicks, typing, closing) goes to the Tcl back end's event recorder, and the recorded script is
// written to FILE when the test case ends.
#pragma once

#include "object.h"

#include <QElapsedTimer>
#include <QString>

#include <memory>

class EventRecorder;
class RunnerInterface;
using CreateEventRecorderFunction = EventRecorder* (*)(bool noSnooze, bool useWaitFor,
                                                       bool useScriptedObjectMap,
                                                       const QString& objectMapPath);

// The library's recorder factory; null when it has none (the library must be loaded already).
CreateEventRecorderFunction loadEventRecorderFactory(const QString& libraryPath);

class Recording
{
public:
    Recording(CreateEventRecorderFunction factory, const QString& outputPath);
    ~Recording();

    // Starts recording a test case. With an object map path, objects are named by that object map
    // (new entries are added and saved at the end); without one, by their real names. The interpreter
    // of the test case must exist (the map is read through it). False with the reason.
    bool begin(const QString& objectMapPath, RunnerInterface* runner, QString* error);
    // An application the test case started: the first one is started by the recorded main, later
    // ones by startApplication steps where they happened.
    void applicationStarted(const QString& application);
    // Stops listening and writes the script (and the object map). False with the reason.
    bool finish(QString* error);

    bool isRecording() const { return bool(recorder); }
    int steps() const { return stepCount; }
    QString outputPath() const { return output; }

private:
    void eventHandled(const SharedPtr<Object>& object, const QString& eventName, const ObjectList& args);
    // Typing into an object of a real application becomes one typeText step: the keys gather here.
    bool gatherTyping(const SharedPtr<Object>& object, const QString& eventName, const ObjectList& args);
    // A press and release of a button becomes one mouseClick (or doubleClick) step, a press and release
    // of a key one keyClick step.
    bool gatherClick(const SharedPtr<Object>& object, const QString& eventName, const ObjectList& args);
    void flushTyping();
    void flushClick();
    void recordCall(const QString& function, const SharedPtr<Object>& object, const QStringList& words, int delay);
    void recordEvent(const SharedPtr<Object>& object, const QString& eventName, const ObjectList& args, int delay);
    QString objectReference(const SharedPtr<Object>& object) const;
    int sinceLastStep();

    CreateEventRecorderFunction factory;
    QString output;
    std::unique_ptr<EventRecorder> recorder;
    QString mainApplication;
    QElapsedTimer clock;
    int stepCount = 0;
    struct Press {
        SharedPtr<Object> object;
        ObjectList args; // MouseButtonPress, x, y, button, modifiers
        int delay = 0;
    };
    Press press;           // a button down, its release not yet heard
    Press click;           // a press and release, a double click may follow
    bool doubleClickDown = false;
    int keyReleaseToSkip = 0; // the key of a keyClick step whose release is still to come
    SharedPtr<Object> typingObject;
    QString typedText;
    int typingDelay = 0;
};
