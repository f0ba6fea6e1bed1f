// The runner's side of recording: events the inspector observes become EventData steps.
#include "recording.h"

#include "eventrecorder.h"
#include "inspector.h"
#include "realname.h"
#include "remoteobject.h"
#include "scriptedobjectmap.h"

#include <QFile>
#include <QHash>
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

QString Recording::objectReference(const SharedPtr<Object>& object) const
{
    const bool symbolic = recorder->scriptedObjectMap() != nullptr;
    return (symbolic ? EventRecorder::symbolicNameMarker : QString()) + object->realName();
}

bool Recording::gatherTyping(const SharedPtr<Object>& object, const QString& eventName, const ObjectList& args)
{
    // QKeyEvent: type, key, modifiers, text. A printable character without Control, Alt or Win/Meta is
    // typing; its release adds nothing. Objects of the in-process demo know no typeText: key by key.
    if (eventName != QLatin1String("QKeyEvent") || args.size() < 4 || !dynamic_cast<RemoteObject*>(object.get()))
        return false;
    const QString type = args.at(0) ? args.at(0)->text() : QString();
    const int modifiers = args.at(2) ? args.at(2)->intValue() : 0;
    const QString text = args.at(3) ? args.at(3)->text() : QString();
    const bool printable = text.size() == 1 && text.at(0).isPrint() && !(modifiers & (128 | 512 | 1024 | 2048));
    if (!printable)
        return false;
    const bool sameObject = typingObject && typingObject->compare(object.get());
    if (type == QLatin1String("KeyRelease"))
        return sameObject; // the release of a typed key
    if (type != QLatin1String("KeyPress"))
        return false;
    if (!sameObject) {
        flushTyping();
        typingObject = object;
        typingDelay = sinceLastStep();
    }
    typedText += text;
    return true;
}

void Recording::flushTyping()
{
    if (typingObject && !typedText.isEmpty()) {
        flushClick();
        recordCall(QStringLiteral("typeText"), typingObject, {typedText}, typingDelay);
    }
    typingObject.reset();
    typedText.clear();
}

namespace {

// A key code and the script's modifier bits as keyClick takes them ("Return", "Ctrl+A"); empty for keys
// that have no name here.
QString keyName(int key, int modifiers)
{
    static const QHash<int, QString> names = {
        {0x01000000, QStringLiteral("Escape")},   {0x01000001, QStringLiteral("Tab")},
        {0x01000002, QStringLiteral("Backtab")},  {0x01000003, QStringLiteral("Backspace")},
        {0x01000004, QStringLiteral("Return")},   {0x01000005, QStringLiteral("Enter")},
        {0x01000006, QStringLiteral("Ins")},      {0x01000007, QStringLiteral("Del")},
        {0x01000010, QStringLiteral("Home")},     {0x01000011, QStringLiteral("End")},
        {0x01000012, QStringLiteral("Left")},     {0x01000013, QStringLiteral("Up")},
        {0x01000014, QStringLiteral("Right")},    {0x01000015, QStringLiteral("Down")},
        {0x01000016, QStringLiteral("PgUp")},     {0x01000017, QStringLiteral("PgDown")},
        {0x20, QStringLiteral("Space")}};
    QString name = names.value(key);
    if (name.isEmpty() && key >= 0x01000030 && key <= 0x01000052)
        name = QStringLiteral("F%1").arg(key - 0x01000030 + 1);
    if (name.isEmpty() && key > 0x20 && key <= 0x7e)
        name = QString(QChar(key));
    if (name.isEmpty())
        return QString();
    QString prefix;
    if (modifiers & (128 | 2048))
        prefix += QStringLiteral("Ctrl+");
    if (modifiers & 512)
        prefix += QStringLiteral("Alt+");
    if (modifiers & 1024)
        prefix += QStringLiteral("Meta+");
    if (modifiers & 256)
        prefix += QStringLiteral("Shift+");
    return prefix + name;
}

QString argText(const ObjectList& args, int i)
{
    return i < args.size() && args.at(i) ? args.at(i)->text() : QString();
}

int argInt(const ObjectList& args, int i)
{
    return i < args.size() && args.at(i) ? args.at(i)->intValue() : 0;
}

} // namespace

void Recording::recordCall(const QString& function, const SharedPtr<Object>& object, const QStringList& words,
                           int delay)
{
    EventData step;
    step.stepKind = EventData::FunctionCall;
    step.delay = delay;
    step.time = QTime::currentTime();
    step.setMethodName(function);
    EventDataArg target;
    target.valueSubKind = EventDataArg::ObjectReference;
    target.valueText = objectReference(object);
    step.addArgument(target);
    for (const QString& word : words) {
        EventDataArg arg;
        arg.valueText = RealName::quoteElement(word);
        step.addArgument(arg);
    }
    recorder->recordEvent(step);
    ++stepCount;
}

void Recording::recordEvent(const SharedPtr<Object>& object, const QString& eventName, const ObjectList& args,
                            int delay)
{
    EventData step;
    step.stepKind = EventData::Event;
    step.delay = delay;
    step.time = QTime::currentTime();
    step.setEventName(eventName);
    step.setObjectId(object->realName());
    for (const SharedPtr<Object>& value : args) {
        EventDataArg arg;
        arg.valueType = value ? value->className() : QString();
        if (value && !value->isNull() && value->objectClass() && !value->objectClass()->isPrimitive()) {
            // An object of the application: named like the step's object.
            arg.valueSubKind = EventDataArg::ObjectReference;
            arg.valueText = objectReference(value);
        } else {
            arg.valueText = RealName::quoteElement(value ? value->text() : QString());
        }
        step.addArgument(arg);
    }
    recorder->recordEvent(step);
    ++stepCount;
}

void Recording::flushClick()
{
    if (click.object) {
        // mouseClick OBJECT x y ?button? ?modifiers?: the button only when not the left one.
        QStringList words{argText(click.args, 1), argText(click.args, 2)};
        const int button = argInt(click.args, 3), modifiers = argInt(click.args, 4);
        if (button != 1 || modifiers != 0)
            words << QString::number(button);
        if (modifiers != 0)
            words << QString::number(modifiers);
        recordCall(QStringLiteral("mouseClick"), click.object, words, click.delay);
        click = Press();
    }
    if (press.object) {
        recordEvent(press.object, QStringLiteral("QMouseEvent"), press.args, press.delay);
        press = Press();
    }
    doubleClickDown = false;
}

bool Recording::gatherClick(const SharedPtr<Object>& object, const QString& eventName, const ObjectList& args)
{
    if (!dynamic_cast<RemoteObject*>(object.get()))
        return false;
    const QString type = argText(args, 0);
    if (eventName == QLatin1String("QKeyEvent")) {
        const int key = argInt(args, 1);
        if (type == QLatin1String("KeyRelease") && key == keyReleaseToSkip) {
            keyReleaseToSkip = 0; // wherever it went: the focus may have moved with the press
            return true;
        }
        const QString name = type == QLatin1String("KeyPress") ? keyName(key, argInt(args, 2)) : QString();
        if (name.isEmpty())
            return false;
        flushClick();
        recordCall(QStringLiteral("keyClick"), object, {name}, sinceLastStep());
        keyReleaseToSkip = key;
        return true;
    }
    if (eventName != QLatin1String("QMouseEvent"))
        return false;
    if (type == QLatin1String("MouseButtonPress")) {
        flushClick();
        press = Press{object, args, sinceLastStep()};
        return true;
    }
    if (type == QLatin1String("MouseButtonDblClick") && click.object && click.object->compare(object.get())) {
        doubleClickDown = true;
        return true;
    }
    if (type == QLatin1String("MouseButtonRelease")) {
        if (doubleClickDown) {
            QStringList words{argText(click.args, 1), argText(click.args, 2)};
            if (argInt(click.args, 3) != 1)
                words << QString::number(argInt(click.args, 3));
            recordCall(QStringLiteral("doubleClick"), click.object, words, click.delay);
            click = Press();
            doubleClickDown = false;
            return true;
        }
        if (press.object && argInt(args, 3) == argInt(press.args, 3)) {
            click = press; // a double click may follow
            press = Press();
            return true;
        }
    }
    return false;
}

void Recording::eventHandled(const SharedPtr<Object>& object, const QString& eventName,
                             const ObjectList& args)
{
    if (!recorder || !object)
        return;
    // Moves of a real application's pointer without a button down say nothing a replay needs.
    if (eventName == QLatin1String("QMouseEvent") && dynamic_cast<RemoteObject*>(object.get()) &&
        argText(args, 0) == QLatin1String("MouseMove") && argInt(args, 3) == 0)
        return;
    // Shift, Control, Alt, Meta, Caps Lock and AltGr on their own: what they do is in the modifiers and
    // the text of the keys pressed with them.
    const int key = eventName == QLatin1String("QKeyEvent") ? argInt(args, 1) : 0;
    if (dynamic_cast<RemoteObject*>(object.get()) && ((key >= 0x01000020 && key <= 0x01000026) || key == 0x01001103))
        return;
    if (gatherTyping(object, eventName, args))
        return;
    flushTyping();
    if (gatherClick(object, eventName, args))
        return;
    flushClick();
    recordEvent(object, eventName, args, sinceLastStep());
}

bool Recording::finish(QString* error)
{
    if (!recorder)
        return false;
    Inspector::self()->deliverPendingEvents(); // what the application reported last
    flushTyping();
    flushClick();
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
