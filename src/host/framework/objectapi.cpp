// The framework's object lookup functions over the inspector's object tree.
#include "objectapi.h"

#include "inspector.h"
#include "interpreter.h"
#include "realname.h"
#include "runnerinterface.h"
#include "scriptargument.h"
#include "testresult.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QElapsedTimer>
#include <QThread>

namespace {

int depthCounter = 0;

RunnerInterface* currentRunner()
{
    Interpreter* interpreter = Interpreter::self();
    return interpreter ? interpreter->runner() : nullptr;
}

int fail(ScriptContext* context, const QString& message)
{
    context->setError(message, ScriptContext::PlainError);
    return 1;
}

// The object an argument holds, or the first match of the name it gives; *name receives the text.
SharedPtr<Object> lookup(const SharedPtr<ScriptArgument>& argument, QString* name, bool* invalidName)
{
    *invalidName = false;
    if (Object* object = argument->toObject()) {
        *name = object->realName();
        return SharedPtr<Object>(object);
    }
    *name = argument->toString();
    const QString realName = resolveObjectName(*name);
    if (!Inspector::isValidRealName(realName)) {
        *invalidName = true;
        return SharedPtr<Object>();
    }
    return Inspector::self()->findObject(realName);
}

bool readTimeout(ScriptContext* context, int index, int* timeout)
{
    RunnerInterface* runner = currentRunner();
    *timeout = runner ? runner->objectTimeout() : defaultObjectTimeout;
    if (context->argumentCount() <= index)
        return true;
    SharedPtr<ScriptArgument> argument = context->argument(index);
    if (!argument->isInteger() || argument->toInt() < 0) {
        fail(context, QStringLiteral("Invalid timeout '%1': expected milliseconds").arg(argument->toString()));
        return false;
    }
    *timeout = argument->toInt();
    return true;
}

// Between two polls: the runner stays responsive and the application gets its events.
void pause(int elapsed)
{
    if (RunnerInterface* runner = currentRunner())
        runner->keepAlive();
    if (QCoreApplication::instance())
        QCoreApplication::processEvents();
    Inspector::self()->deliverPendingEvents();
    // Most objects waited for show up within milliseconds (a dialog after a click, the first window
    // after a start): look again soon at first, then less and less often.
    QThread::msleep(elapsed < 20 ? 1 : elapsed < 100 ? 5 : elapsed < 1000 ? 20 : 100);
}

// Why the current application cannot answer any more (it ended, its connection broke); empty while
// it can or when there is no application.
QString endedReason()
{
    ObjectProvider* provider = Inspector::self()->currentObjectProvider();
    return provider ? provider->unavailableReason() : QString();
}

QString seconds(qint64 milliseconds)
{
    return QString::number(milliseconds / 1000.0, 'f', 1);
}

int waitFor(ScriptContext* context, bool ready, const char* function)
{
    if (context->argumentCount() < 1 || context->argumentCount() > 2)
        return fail(context, QStringLiteral("%1: expected an object name and an optional timeout").arg(function));
    int timeout = 0;
    if (!readTimeout(context, 1, &timeout))
        return 1;
    QElapsedTimer timer;
    timer.start();
    QString name;
    bool invalidName = false;
    bool found = false;
    while (true) {
        SharedPtr<Object> object = lookup(context->argument(0), &name, &invalidName);
        if (invalidName)
            return fail(context, QStringLiteral("Invalid object name '%1': not a symbolic name of the object map "
                                                "and not a real name (a list of property/value pairs)")
                                     .arg(name));
        // An application that ended has nothing left to wait for.
        if (ObjectProvider* provider = Inspector::self()->currentObjectProvider(); provider && !object) {
            const QString reason = provider->unavailableReason();
            if (!reason.isEmpty())
                return fail(context, QStringLiteral("Object '%1' not found: %2").arg(name, reason));
        }
        if (object && object->isInvalid())
            return fail(context, QStringLiteral("Object '%1' no longer exists in the application").arg(name));
        found = bool(object);
        if (object && (!ready || object->isReady())) {
            context->setResult(context->createObjectArgument(object));
            return 0;
        }
        if (timer.elapsed() > timeout)
            break;
        pause(int(timer.elapsed()));
    }
    if (RunnerInterface* runner = currentRunner())
        runner->objectNotFound(name, QString::fromLatin1(function), QString());
    if (found)
        return fail(context, QStringLiteral("Object '%1' exists but is not ready (visible and enabled) after %2 s")
                                 .arg(name, seconds(timer.elapsed())));
    return fail(context, QStringLiteral("Object '%1' not found after %2 s").arg(name, seconds(timer.elapsed())));
}

SharedPtr<Object> objectArgument(ScriptContext* context, const char* function)
{
    if (context->argumentCount() < 1) {
        fail(context, QStringLiteral("%1: expected an object").arg(function));
        return SharedPtr<Object>();
    }
    QString name;
    bool invalidName = false;
    SharedPtr<Object> object = lookup(context->argument(0), &name, &invalidName);
    if (!object)
        fail(context, QStringLiteral("Object '%1' not found.").arg(name));
    return object;
}

SharedPtr<ScriptArgument> objectList(ScriptContext* context, const ObjectList& objects)
{
    QList<SharedPtr<ScriptArgument>> list;
    for (const SharedPtr<Object>& o : objects)
        list << context->createObjectArgument(o);
    return context->createListArgument(list);
}

} // namespace

namespace {

// A real name may name its container by a handle ({type QLineEdit container $dialog}, the handle
// having become text in the list): the container's own real name takes its place, at any depth.
QString withContainersNamed(const QString& realName, const Interpreter* interpreter, int depth = 0)
{
    RealName::Pairs pairs;
    if (depth > 16 || !realName.contains(QLatin1String("container")) || !RealName::parse(realName, &pairs))
        return realName;
    bool changed = false;
    for (auto& pair : pairs) {
        if (pair.first != QLatin1String("container"))
            continue;
        const SharedPtr<Object> object = interpreter->objectFromHandleText(pair.second);
        const QString value = object ? object->realName() : withContainersNamed(pair.second, interpreter, depth + 1);
        if (!value.isEmpty() && value != pair.second) {
            pair.second = value;
            changed = true;
        }
    }
    return changed ? RealName::format(pairs) : realName;
}

} // namespace

QString resolveObjectName(const QString& name)
{
    const QString realName = ObjectMap::self()->realName(name);
    const Interpreter* interpreter = Interpreter::self();
    return interpreter ? withContainersNamed(realName, interpreter) : realName;
}

int waitForObject(ScriptContext* context)
{
    return waitFor(context, true, "waitForObject");
}

int waitForObjectExists(ScriptContext* context)
{
    return waitFor(context, false, "waitForObjectExists");
}

int waitForObjectItem(ScriptContext* context)
{
    if (context->argumentCount() < 2 || context->argumentCount() > 3)
        return fail(context, QStringLiteral("waitForObjectItem: expected a container, an item and an optional "
                                            "timeout"));
    int timeout = 0;
    if (!readTimeout(context, 2, &timeout))
        return 1;
    const QString itemText = context->argument(1)->toString();
    QElapsedTimer timer;
    timer.start();
    QString name;
    bool invalidName = false;
    enum { NoContainer, ContainerNotReady, NoItem, ItemNotReady } state = NoContainer;
    while (true) {
        SharedPtr<Object> container = lookup(context->argument(0), &name, &invalidName);
        if (invalidName)
            return fail(context, QStringLiteral("Invalid object name '%1'").arg(name));
        if (ObjectProvider* provider = Inspector::self()->currentObjectProvider(); provider && !container) {
            const QString reason = provider->unavailableReason();
            if (!reason.isEmpty())
                return fail(context, QStringLiteral("Object '%1' not found: %2").arg(name, reason));
        }
        state = !container ? NoContainer : !container->isReady() ? ContainerNotReady : NoItem;
        if (state == NoItem) {
            if (SharedPtr<Object> item = container->item(itemText)) {
                if (item->isReady()) {
                    context->setResult(context->createObjectArgument(item));
                    return 0;
                }
                state = ItemNotReady;
            }
        }
        if (timer.elapsed() > timeout)
            break;
        pause(int(timer.elapsed()));
    }
    if (RunnerInterface* runner = currentRunner())
        runner->objectNotFound(name, QStringLiteral("waitForObjectItem"), itemText);
    const QString waited = seconds(timer.elapsed());
    switch (state) {
    case NoContainer:
        return fail(context, QStringLiteral("Item '%1' of object '%2' not found after %3 s: the object was not found")
                                 .arg(itemText, name, waited));
    case ContainerNotReady:
        return fail(context, QStringLiteral("Item '%1' of object '%2' not found after %3 s: the object exists but is "
                                            "not ready (visible and enabled)")
                                 .arg(itemText, name, waited));
    case ItemNotReady:
        return fail(context, QStringLiteral("Item '%1' of object '%2' exists but is not ready (shown in its view) "
                                            "after %3 s")
                                 .arg(itemText, name, waited));
    case NoItem:
        break;
    }
    return fail(context, QStringLiteral("Item '%1' of object '%2' not found after %3 s").arg(itemText, name, waited));
}

int findAllObjects(ScriptContext* context)
{
    if (context->argumentCount() != 1)
        return fail(context, QStringLiteral("findAllObjects: expected an object name"));
    SharedPtr<ScriptArgument> argument = context->argument(0);
    if (Object* object = argument->toObject()) {
        context->setResult(objectList(context, ObjectList() << SharedPtr<Object>(object)));
        return 0;
    }
    const QString name = resolveObjectName(argument->toString());
    if (!Inspector::isValidRealName(name))
        return fail(context, QStringLiteral("Invalid object name '%1'").arg(argument->toString()));
    const ObjectList found = Inspector::self()->findAllObjects(name);
    // An ended application has no objects, which is not the same as none matching.
    if (const QString reason = endedReason(); found.isEmpty() && !reason.isEmpty())
        return fail(context, QStringLiteral("Objects '%1' not found: %2").arg(name, reason));
    context->setResult(objectList(context, found));
    return 0;
}

int objectChildren(ScriptContext* context)
{
    SharedPtr<Object> object = objectArgument(context, "object children");
    if (!object)
        return 1;
    ObjectList children;
    for (int i = 0; i < object->childCount(); ++i)
        children << object->child(i);
    context->setResult(objectList(context, children));
    return 0;
}

int objectParent(ScriptContext* context)
{
    SharedPtr<Object> object = objectArgument(context, "object parent");
    if (!object)
        return 1;
    context->setResult(object->parent() ? context->createObjectArgument(SharedPtr<Object>(object->parent()))
                                        : context->createNullArgument());
    return 0;
}

int objectTopLevelObjects(ScriptContext* context)
{
    Inspector* inspector = Inspector::self();
    ObjectList objects;
    for (int i = 0; i < inspector->topLevelCount(); ++i)
        objects << inspector->topLevelObject(i);
    if (const QString reason = endedReason(); objects.isEmpty() && !reason.isEmpty())
        return fail(context, QStringLiteral("No top-level objects: %1").arg(reason));
    context->setResult(objectList(context, objects));
    return 0;
}

int objectProperties(ScriptContext* context)
{
    SharedPtr<Object> object = objectArgument(context, "object properties");
    if (!object)
        return 1;
    context->setObjectPropertiesResult(object);
    return 0;
}

int objectGlobalBounds(ScriptContext* context)
{
    SharedPtr<Object> object = objectArgument(context, "object globalBounds");
    if (!object)
        return 1;
    int x, y, w, h;
    if (!object->globalBounds(&x, &y, &w, &h))
        return fail(context, QStringLiteral("Object '%1' has no place on the screen").arg(object->realName()));
    QMap<QString, SharedPtr<ScriptArgument>> bounds;
    bounds.insert(QStringLiteral("x"), context->createIntArgument(x));
    bounds.insert(QStringLiteral("y"), context->createIntArgument(y));
    bounds.insert(QStringLiteral("width"), context->createIntArgument(w));
    bounds.insert(QStringLiteral("height"), context->createIntArgument(h));
    context->setResult(context->createMapArgument(bounds));
    return 0;
}

int objectCreateNull(ScriptContext* context)
{
    if (context->argumentCount() != 1)
        return fail(context, QStringLiteral("object createNull: expected a class name"));
    const QString className = context->argument(0)->toString();
    const Class* cls = Inspector::self()->classByName(className);
    if (!cls)
        return fail(context, QStringLiteral("Unknown type %1").arg(className));
    context->setResult(context->createObjectArgument(cls->createNull()));
    return 0;
}

int objectConvertTo(ScriptContext* context)
{
    if (context->argumentCount() != 2)
        return fail(context, QStringLiteral("object convertTo: expected an object and a class name"));
    const QString className = context->argument(1)->toString();
    const Class* to = Inspector::self()->classByName(className);
    if (!to)
        return fail(context, QStringLiteral("Unknown type %1").arg(className));
    SharedPtr<ScriptArgument> argument = context->argument(0);
    SharedPtr<Object> object(argument->toObject());
    if (!object)
        object = Inspector::self()->createPrimitive(argument->toString());
    SharedPtr<Object> converted = object->objectClass()->convert(object, to, true);
    if (!converted)
        return fail(context, QStringLiteral("Cannot convert %1 to %2").arg(object->className(), className));
    context->setResult(context->createObjectArgument(converted));
    return 0;
}

int objectGrabScreenshot(ScriptContext* context)
{
    // object grabScreenshot OBJECT ?FILE?: a PNG of the object; the file's path is the result. Without a
    // file the picture goes to the test case's results directory (or the system's temporary one).
    SharedPtr<Object> object = objectArgument(context, "object grabScreenshot");
    if (!object)
        return 1;
    const QByteArray png = object->screenshot();
    if (png.isEmpty()) {
        const QString error = Inspector::self()->lastError();
        return fail(context, error.isEmpty() ? QStringLiteral("Object '%1' has no picture").arg(object->realName()) : error);
    }
    QString path = context->argumentCount() > 1 ? context->argument(1)->toString() : QString();
    if (path.isEmpty()) {
        RunnerInterface* runner = currentRunner();
        QString directory = runner ? runner->resultDirectory() : QString();
        if (directory.isEmpty())
            directory = QDir::tempPath();
        QDir().mkpath(directory);
        static int counter = 0;
        path = QStringLiteral("%1/screenshot-%2-%3.png")
                   .arg(directory, QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss")))
                   .arg(++counter);
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(png) != png.size())
        return fail(context, QStringLiteral("Cannot write the screenshot to %1: %2").arg(path, file.errorString()));
    context->setResult(context->createStringArgument(QFileInfo(path).absoluteFilePath()));
    return 0;
}

RemoteObjectModelHolder::RemoteObjectModelHolder(RunnerInterface* r) : runner(r)
{
    ++depthCounter;
}

RemoteObjectModelHolder::~RemoteObjectModelHolder()
{
    --depthCounter;
}

int RemoteObjectModelHolder::depth()
{
    return depthCounter;
}

void logDeprecationWarning(const QString& text)
{
    ScriptContext* context = ScriptContext::current();
    TestResult* result = context ? context->testResult() : nullptr;
    const QString message = QStringLiteral("Deprecated function called with arguments:%1").arg(text);
    if (result)
        result->add(TestResult::Warning, message);
    else
        qWarning("%s", qUtf8Printable(message));
}

QString joinArguments(const ObjectList& arguments, const QString& separator)
{
    QStringList texts;
    for (const SharedPtr<Object>& a : arguments)
        texts << (a ? a->text() : QString());
    return texts.join(separator);
}
