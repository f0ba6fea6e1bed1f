// The runner's side of recording: events the inspector observes become EventData steps.
#include "recording.h"

#include "eventrecorder.h"
#include "inspector.h"
#include "realname.h"
#include "scriptedobjectmap.h"

#include <QFile>
#include <QSaveFile>

#include <dlfcn.h>

CreateEventRecorderFunction loadEventRecorderFactory(const QString& libraryPath)
{
    void* handle = dlopen(QFile::encodeName(libraryPath).constData(), RTLD_NOW | RTLD_LOCAL | RTLD_NOLOAD);
    if (!handle)
        return nullptr;
    return reinterpret_cast<CreateEventRecorderFunction>(dlsym(handle, "createEventRecorder"));
}

Recording::Recording(CreateEventRecorderFunction factory, const QString& outputPath)
    : factory(factory), output(outputPath)
{
}

Recording::~Recording()
{
    if (recorder)
        Inspector::self()->setEventObserver(Inspector::EventObserver());
}

bool Recording::begin(const QString& objectMapPath, RunnerInterface* runner, QString* error)
{
    // Snoozes would only replay the pace of the run; each step waits for its object instead.
    recorder.reset(factory(true, false, !objectMapPath.isEmpty(), objectMapPath));
    if (ScriptedObjectMap* map = recorder->scriptedObjectMap()) {
        map->setRunner(runner);
        // Read now, while no command runs: reading evaluates the file in the interpreter.
        if (!map->load(error)) {
            recorder.reset();
            return false;
        }
    }
    mainApplication.clear();
    stepCount = 0;
    clock.start();
    Inspector::self()->setEventObserver(
        [this](const SharedPtr<Object>& object, const QString& eventName, const ObjectList& args) {
            eventHandled(object, eventName, args);
        });
    return true;
}

int Recording::sinceLastStep()
{
    return int(qMin<qint64>(clock.restart(), INT_MAX));
}

void Recording::applicationStarted(const QString& application)
{
    if (!recorder)
        return;
    // The recorded main starts the first application by a bare word.
    if (mainApplication.isEmpty() && stepCount == 0 && RealName::quoteElement(application) == application) {
        mainApplication = application;
        clock.restart();
        return;
    }
    EventData step;
    step.stepKind = EventData::FunctionCall;
    step.delay = sinceLastStep();
    step.time = QTime::currentTime();
    step.setMethodName(QStringLiteral("startApplication"));
    EventDataArg arg;
    arg.valueText = RealName::quoteElement(application);
    step.addArgument(arg);
    recorder->recordEvent(step);
    ++stepCount;
}

void Recording::eventHandled(const SharedPtr<Object>& object, const QString& eventName,
                             const ObjectList& args)
{
    if (!recorder || !object)
        return;
    EventData step;
    step.stepKind = EventData::Event;
    step.delay = sinceLastStep();
    step.time = QTime::currentTime();
    step.setEventName(eventName);
    step.setObjectId(object->realName());
    const bool symbolic = recorder->scriptedObjectMap() != nullptr;
    for (const SharedPtr<Object>& value : args) {
        EventDataArg arg;
        arg.valueType = value ? value->className() : QString();
        if (value && !value->isNull() && value->objectClass() && !value->objectClass()->isPrimitive()) {
            // An object of the application: named like the step's object.
            arg.valueSubKind = EventDataArg::ObjectReference;
            arg.valueText = (symbolic ? EventRecorder::symbolicNameMarker : QString()) + value->realName();
        } else {
            arg.valueText = RealName::quoteElement(value ? value->text() : QString());
        }
        step.addArgument(arg);
    }
    recorder->recordEvent(step);
    ++stepCount;
}

bool Recording::finish(QString* error)
{
    if (!recorder)
        return false;
    Inspector::self()->setEventObserver(Inspector::EventObserver());
    const QString script = recorder->finishScript(true, mainApplication);
    recorder.reset(); // the object map was saved by finishScript
    QSaveFile file(output);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("cannot write the recorded script %1: %2").arg(output, file.errorString());
        return false;
    }
    file.write(script.toUtf8());
    if (!file.commit()) {
        *error = QStringLiteral("cannot write the recorded script %1: %2").arg(output, file.errorString());
        return false;
    }
    return true;
}
