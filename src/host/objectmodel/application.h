// Applications under test that run inside the runner's process: the demo application, or an
// application a test links in. Starting one puts its top-level objects into the inspector.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace InProcessApplications {

using Starter = std::function<bool()>;
using Stopper = std::function<void()>;

void registerApplication(const QString& name, Starter start, Stopper stop);
bool isRegistered(const QString& name);
QStringList names();
bool start(const QString& name);
void stop(const QString& name);
// Stops every application that is running.
void stopAll();
bool isRunning(const QString& name);

} // namespace InProcessApplications
