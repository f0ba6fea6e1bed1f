// The generic part of a recorder: symbolic names, synchronisation, snooze and method-name texts,
// gesture names. The statements themselves come from the language back end.
#include "eventrecorder.h"

#include "object.h"
#include "realname.h"
#include "scriptedobjectmap.h"

const QString EventRecorder::symbolicNameMarker = QStringLiteral(":[__tarvin__symbolic__name__]");

namespace
{

bool isOneOf(const QString& name, std::initializer_list<const char*> names)
{
    for (const char* n : names)
        if (name == QLatin1String(n))
            return true;
    return false;
}

} // namespace

EventRecorder::EventRecorder(bool noSnooze, bool useWaitFor, ScriptedObjectMap* map)
    : noSnoozeFlag(noSnooze), waitForFlag(useWaitFor), map(map)
{
}

EventRecorder::~EventRecorder() = default;

QString EventRecorder::createSymbolicName(const QString& name)
{
    const QString realName = name.startsWith(symbolicNameMarker) ? name.mid(symbolicNameMarker.size()) : name;
    if (!map)
        return realName;
    const QString symbolic = map->symbolicName(realName, true).text();
    return symbolic.isEmpty() ? RealName::quoteElement(realName) : symbolic;
}

QString EventRecorder::recordSync(const QString& object, const EventData& event, int delay)
{
    if (event.itemText().isNull())
        return recordSync(object, delay);
    if (waitForFlag || object.isEmpty())
        return QString();
    lastSynced.clear(); // the item, not the object, was waited for
    return waitForObjectItemStatement(object, event.itemText(), delay);
}

QString EventRecorder::recordSync(const QString& object, int delay)
{
    if (waitForFlag || object.isEmpty() || object == lastSynced)
        return QString();
    lastSynced = object;
    return waitForObjectStatement(object, delay);
}

bool EventRecorder::skipRecordSyncFor(const EventData& event)
{
    if (event.stepKind == EventData::FunctionCall)
        lastSynced.clear();
    const QString method = cleansedMethodName(event.methodName());
    if (method.startsWith(QLatin1String("waitFor")) ||
        isOneOf(method, {"snooze", "startApplication", "attachToApplication"}))
        return true;
    return event.stepKind == EventData::MethodCall && event.objectId().isEmpty();
}

bool EventRecorder::useWaitForForMethod(const QString& methodName) const
{
    return isOneOf(cleansedMethodName(methodName), {"waitForContextExists", "mouseMove"});
}

bool EventRecorder::isItemMethod(const QString& methodName) const
{
    return cleansedMethodName(methodName).endsWith(QLatin1String("Item"));
}

QString EventRecorder::cleansedMethodName(const QString& methodName) const
{
    QString name = methodName;
    const int paren = name.indexOf(QLatin1Char('('));
    if (paren >= 0)
        name.truncate(paren);
    const int scope = name.lastIndexOf(QLatin1String("::"));
    if (scope >= 0)
        name.remove(0, scope + 2);
    return name.trimmed();
}

QString EventRecorder::formatSnoozeSecs(int milliseconds) const
{
    const qint64 tenths = (qint64(milliseconds) + 50) / 100;
    if (milliseconds < 50 || tenths <= 0)
        return QString();
    if (tenths % 10 == 0)
        return QString::number(tenths / 10);
    return QStringLiteral("%1.%2").arg(tenths / 10).arg(tenths % 10);
}

QString EventRecorder::generateGestureName(const QTime& time) const
{
    return QStringLiteral("Gesture_") + time.toString(QStringLiteral("HHmmss_zzz"));
}
