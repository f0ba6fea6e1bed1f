// The registry of in-process applications.
#include "application.h"

#include <QMap>
#include <QSet>

namespace InProcessApplications {

namespace {

struct Entry {
    Starter start;
    Stopper stop;
};

QMap<QString, Entry>& registry()
{
    static QMap<QString, Entry> entries;
    return entries;
}

QSet<QString>& running()
{
    static QSet<QString> names;
    return names;
}

} // namespace

void registerApplication(const QString& name, Starter start, Stopper stop)
{
    registry().insert(name, Entry{std::move(start), std::move(stop)});
}

bool isRegistered(const QString& name)
{
    return registry().contains(name);
}

QStringList names()
{
    return registry().keys();
}

bool start(const QString& name)
{
    auto it = registry().constFind(name);
    if (it == registry().constEnd() || running().contains(name))
        return false;
    if (!it->start())
        return false;
    running().insert(name);
    return true;
}

void stop(const QString& name)
{
    auto it = registry().constFind(name);
    if (it == registry().constEnd() || !running().remove(name))
        return;
    it->stop();
}

void stopAll()
{
    const QStringList names = running().values();
    for (const QString& name : names)
        stop(name);
}

bool isRunning(const QString& name)
{
    return running().contains(name);
}

} // namespace InProcessApplications
