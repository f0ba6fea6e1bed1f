// The OS namespace of the native API: facts of the machine the runner works on and its environment,
// and a pause that keeps the runner's event processing going.
#include "nativeapi.h"

#include "inspector.h"

#include "runnerinterface.h"
#include "scriptargument.h"
#include "scriptcontext.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSysInfo>
#include <QThread>

#include <cmath>

#ifndef Q_OS_WIN
#include <sys/utsname.h>
#endif

namespace
{

NativeMethod method(const NativeFunction& function, const QStringList& mandatory,
                    const QStringList& optional = QStringList())
{
    return NativeMethod{function, mandatory, optional};
}

// The kernel's own name: "Linux", "Darwin", "FreeBSD" ...; "Windows" there.
QString systemName()
{
#ifdef Q_OS_WIN
    return QStringLiteral("Windows");
#else
    struct utsname names;
    return uname(&names) == 0 ? QString::fromLocal8Bit(names.sysname) : QSysInfo::kernelType();
#endif
}

bool osName(ScriptContext* context)
{
    context->setResult(context->createStringArgument(systemName()));
    return true;
}

// getenv name ?default?: the variable's value; the default (or empty) when it is not set.
bool osGetenv(ScriptContext* context)
{
    const QString name = context->argument(0)->toString();
    const QByteArray key = name.toLocal8Bit();
    QString value;
    if (qEnvironmentVariableIsSet(key.constData()))
        value = qEnvironmentVariable(key.constData());
    else if (context->argumentCount() > 1)
        value = context->argument(1)->toString();
    context->setResult(context->createStringArgument(value));
    return true;
}

bool validVariableName(ScriptContext* context, const QString& name, const char* function)
{
    if (!name.isEmpty() && !name.contains(QLatin1Char('=')))
        return true;
    context->setError(
        QStringLiteral("OS %1: invalid environment variable name '%2'").arg(QLatin1String(function), name),
        ScriptContext::PlainError);
    return false;
}

// setenv name value: for the runner and every application it starts afterwards.
bool osSetenv(ScriptContext* context)
{
    const QString name = context->argument(0)->toString();
    if (!validVariableName(context, name, "setenv"))
        return false;
    qputenv(name.toLocal8Bit().constData(), context->argument(1)->toString().toLocal8Bit());
    return true;
}

bool osUnsetenv(ScriptContext* context)
{
    const QString name = context->argument(0)->toString();
    if (!validVariableName(context, name, "unsetenv"))
        return false;
    qunsetenv(name.toLocal8Bit().constData());
    return true;
}

// sleep seconds: waits while the runner goes on processing events (applications run in its process).
bool osSleep(ScriptContext* context)
{
    SharedPtr<ScriptArgument> argument = context->argument(0);
    const double seconds = argument->isDouble() ? argument->toDouble() : NAN;
    // A day is more than any test should wait; a larger value is a typo, not a plan.
    if (!std::isfinite(seconds) || seconds < 0 || seconds > 86400) {
        context->setError(QStringLiteral("OS sleep: '%1' is not a number of seconds from 0 to 86400")
                              .arg(argument->toString()),
                          ScriptContext::PlainError);
        return false;
    }
    const qint64 total = qint64(std::llround(seconds * 1000));
    QElapsedTimer timer;
    timer.start();
    for (qint64 left = total; left > 0; left = total - timer.elapsed()) {
        if (Interpreter* interpreter = Interpreter::self())
            if (RunnerInterface* runner = interpreter->runner())
                runner->keepAlive();
        if (QCoreApplication::instance())
            QCoreApplication::processEvents();
        Inspector::self()->deliverPendingEvents(); // handlers of the applications' events
        const qint64 rest = total - timer.elapsed();
        if (rest > 0)
            QThread::msleep(ulong(qMin<qint64>(rest, 20)));
    }
    return true;
}

} // namespace

NativeScriptNamespace NativeApi::osNamespace()
{
    NativeScriptNamespace ns;
    const QStringList name{QStringLiteral("name")};
    ns.functions.insert(QStringLiteral("name"), method(osName, {}));
    ns.functions.insert(QStringLiteral("getenv"), method(osGetenv, name, {QStringLiteral("default")}));
    ns.functions.insert(QStringLiteral("setenv"),
                        method(osSetenv, {QStringLiteral("name"), QStringLiteral("value")}));
    ns.functions.insert(QStringLiteral("unsetenv"), method(osUnsetenv, name));
    ns.functions.insert(QStringLiteral("sleep"), method(osSleep, {QStringLiteral("seconds")}));
    return ns;
}
