// The defaults of the runner interface: a runner that starts no applications and sends no input.
#include "runnerinterface.h"

#include "inspector.h"

namespace {

SharedPtr<ApplicationContext> noContext()
{
    return SharedPtr<ApplicationContext>(new ApplicationContext);
}

} // namespace

SharedPtr<ApplicationContext> RunnerInterface::startApplication(const QString&, const QString&, int, int,
                                                                QString* error)
{
    *error = QStringLiteral("This runner cannot start applications");
    return noContext();
}

SharedPtr<ApplicationContext> RunnerInterface::attachToApplication(const QString&, const QString&, int, int,
                                                                   QString* error)
{
    *error = QStringLiteral("This runner cannot attach to applications");
    return noContext();
}

SharedPtr<ApplicationContext> RunnerInterface::waitForApplicationLaunch(int, QString* error)
{
    *error = QStringLiteral("This runner cannot wait for applications to launch");
    return noContext();
}

SharedPtr<ApplicationContext> RunnerInterface::applicationContext(const QString&) const
{
    return noContext();
}

SharedPtr<ApplicationContext> RunnerInterface::defaultApplicationContext() const
{
    return noContext();
}

bool RunnerInterface::mouseInput(const SharedPtr<Object>&, int, int, int, int, int, bool, bool)
{
    Inspector::self()->setLastError(QStringLiteral("This runner sends no mouse input"));
    return false;
}
