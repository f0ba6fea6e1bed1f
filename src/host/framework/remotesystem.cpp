// The remote-system functions against the local machine: commands run through QProcess, files through
// Qt's file classes. Connections are numbers kept in a process-wide set.
#include "remotesystem.h"

#include "scriptargument.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSet>
#include <QSysInfo>

#include <sys/utsname.h>

namespace RemoteSystemApi {

namespace {

QSet<int>& connections()
{
    static QSet<int> open;
    return open;
}

int fail(ScriptContext* context, const QString& message)
{
    context->setError(message, ScriptContext::PlainError);
    return 1;
}

int succeed(ScriptContext* context, SharedPtr<ScriptArgument> result)
{
    context->setResult(result);
    return 0;
}

QString text(ScriptContext* context, int i)
{
    return context->argument(i) ? context->argument(i)->toString() : QString();
}

// Checks the argument count and the connection; false with the error set.
bool begin(ScriptContext* context, const char* function, int minArgs, int maxArgs, const char* usage)
{
    const int n = context->argumentCount();
    if (n < minArgs || n > maxArgs) {
        context->setError(QStringLiteral("%1 expects the arguments: %2").arg(QLatin1String(function), QLatin1String(usage)),
                          ScriptContext::PlainError);
        return false;
    }
    SharedPtr<ScriptArgument> id = context->argument(0);
    if (!id->isInteger() || !connections().contains(id->toInt())) {
        context->setError(QStringLiteral("Invalid remote system connection '%1'").arg(id->toString()),
                          ScriptContext::PlainError);
        return false;
    }
    return true;
}

bool isLocalHost(const QString& host)
{
    return host.isEmpty() || host == QLatin1String("localhost") || host == QLatin1String("127.0.0.1") ||
           host == QLatin1String("::1") || host == QSysInfo::machineHostName();
}

bool copyRecursively(const QString& source, const QString& destination)
{
    const QFileInfo info(source);
    if (!info.isDir())
        return QFile::copy(source, destination);
    if (!QDir().mkdir(destination))
        return false;
    const QDir dir(source);
    for (const QString& entry : dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System)) {
        if (!copyRecursively(dir.filePath(entry), QDir(destination).filePath(entry)))
            return false;
    }
    return true;
}

// Copies a file over its target (upload and download).
int replaceCopy(ScriptContext* context, const QString& source, const QString& destination)
{
    if (!QFileInfo(source).isFile())
        return fail(context, QStringLiteral("The file '%1' does not exist").arg(source));
    if (QFileInfo(destination).isDir())
        return fail(context, QStringLiteral("Cannot copy to '%1': it is a directory").arg(destination));
    if (QFileInfo::exists(destination) && !QFile::remove(destination))
        return fail(context, QStringLiteral("Cannot replace '%1'").arg(destination));
    if (!QFile::copy(source, destination))
        return fail(context, QStringLiteral("Cannot copy '%1' to '%2'").arg(source, destination));
    return succeed(context, context->createBoolArgument(true));
}

} // namespace

int connectToRemoteSystem(ScriptContext* context)
{
    if (context->argumentCount() > 2)
        return fail(context, QStringLiteral("connectToRemoteSystem expects the arguments: ?host? ?port?"));
    const QString host = text(context, 0);
    if (context->argumentCount() > 1 && !context->argument(1)->isInteger())
        return fail(context, QStringLiteral("Invalid port '%1'").arg(text(context, 1)));
    if (!isLocalHost(host))
        return fail(context, QStringLiteral("Cannot connect to the remote system '%1': this build reaches the local "
                                            "machine (localhost) only")
                                 .arg(host));
    static int next = 1;
    connections().insert(next);
    return succeed(context, context->createIntArgument(next++));
}

int closeRemoteSystemConnection(ScriptContext* context)
{
    if (!begin(context, "closeRemoteSystemConnection", 1, 1, "connection"))
        return 1;
    connections().remove(context->argument(0)->toInt());
    return succeed(context, context->createNullArgument());
}

int executeCommand(ScriptContext* context)
{
    if (!begin(context, "executeCommand", 2, 5, "connection command ?workingDirectory? ?environment? ?timeout?"))
        return 1;
    const QString command = text(context, 1);
    QProcess process;
    if (context->argumentCount() > 2 && !text(context, 2).isEmpty()) {
        if (!QFileInfo(text(context, 2)).isDir())
            return fail(context, QStringLiteral("The working directory '%1' does not exist").arg(text(context, 2)));
        process.setWorkingDirectory(text(context, 2));
    }
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (context->argumentCount() > 3) {
        const QMap<QString, SharedPtr<ScriptArgument>> extra = context->argument(3)->toMap();
        for (auto it = extra.constBegin(); it != extra.constEnd(); ++it)
            environment.insert(it.key(), it.value()->toString());
    }
    process.setProcessEnvironment(environment);
    int timeout = 60;
    if (context->argumentCount() > 4) {
        if (!context->argument(4)->isInteger() || context->argument(4)->toInt() <= 0)
            return fail(context, QStringLiteral("Invalid timeout '%1': a number of seconds above 0").arg(text(context, 4)));
        timeout = context->argument(4)->toInt();
    }
    process.start(QStringLiteral("/bin/sh"), QStringList() << QStringLiteral("-c") << command);
    if (!process.waitForStarted())
        return fail(context, QStringLiteral("Cannot run '%1': %2").arg(command, process.errorString()));
    if (!process.waitForFinished(timeout * 1000)) {
        process.kill();
        process.waitForFinished();
        return fail(context, QStringLiteral("The command '%1' did not finish within %2 seconds").arg(command, QString::number(timeout)));
    }
    if (process.exitStatus() != QProcess::NormalExit)
        return fail(context, QStringLiteral("The command '%1' crashed").arg(command));
    QList<SharedPtr<ScriptArgument>> result;
    result << context->createIntArgument(process.exitCode())
           << context->createStringArgument(QString::fromLocal8Bit(process.readAllStandardOutput()))
           << context->createStringArgument(QString::fromLocal8Bit(process.readAllStandardError()));
    return succeed(context, context->createListArgument(result));
}

int getEnvironmentVariable(ScriptContext* context)
{
    if (!begin(context, "getEnvironmentVariable", 2, 2, "connection name"))
        return 1;
    return succeed(context, context->createStringArgument(
                                QString::fromLocal8Bit(qgetenv(text(context, 1).toLocal8Bit().constData()))));
}

int getOSName(ScriptContext* context)
{
    if (!begin(context, "getOSName", 1, 1, "connection"))
        return 1;
    struct utsname names;
    const QString name = uname(&names) == 0 ? QString::fromLocal8Bit(names.sysname) : QSysInfo::kernelType();
    return succeed(context, context->createStringArgument(name));
}

int getRemoteDirectoryContent(ScriptContext* context)
{
    if (!begin(context, "getRemoteDirectoryContent", 2, 2, "connection directory"))
        return 1;
    const QString path = text(context, 1);
    if (!QFileInfo(path).isDir())
        return fail(context, QStringLiteral("The directory '%1' does not exist").arg(path));
    QList<SharedPtr<ScriptArgument>> names;
    for (const QString& entry :
         QDir(path).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDir::Name))
        names << context->createStringArgument(entry);
    return succeed(context, context->createListArgument(names));
}

int getRemotePathProperty(ScriptContext* context)
{
    if (!begin(context, "getRemotePathProperty", 3, 3, "connection path property"))
        return 1;
    const QString path = text(context, 1);
    const QString property = text(context, 2);
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return fail(context, QStringLiteral("The path '%1' does not exist").arg(path));
    const QMap<QString, bool> flags{{QStringLiteral("isDir"), info.isDir()},
                                    {QStringLiteral("isFile"), info.isFile()},
                                    {QStringLiteral("isSymLink"), info.isSymLink()},
                                    {QStringLiteral("isReadable"), info.isReadable()},
                                    {QStringLiteral("isWritable"), info.isWritable()},
                                    {QStringLiteral("isExecutable"), info.isExecutable()},
                                    {QStringLiteral("isHidden"), info.isHidden()}};
    if (flags.contains(property))
        return succeed(context, context->createBoolArgument(flags.value(property)));
    if (property == QLatin1String("size"))
        return succeed(context, context->createWideIntArgument(info.size()));
    if (property == QLatin1String("lastModified"))
        return succeed(context, context->createWideIntArgument(info.lastModified().toSecsSinceEpoch()));
    return fail(context, QStringLiteral("Unknown path property '%1'. Known properties are isDir, isFile, isSymLink, "
                                        "isReadable, isWritable, isExecutable, isHidden, size and lastModified.")
                             .arg(property));
}

int remotePathExists(ScriptContext* context)
{
    if (!begin(context, "remotePathExists", 2, 2, "connection path"))
        return 1;
    const QFileInfo info(text(context, 1));
    return succeed(context, context->createBoolArgument(info.exists() || info.isSymLink()));
}

int remoteRenamePath(ScriptContext* context)
{
    if (!begin(context, "remoteRenamePath", 3, 3, "connection oldPath newPath"))
        return 1;
    const QString from = text(context, 1), to = text(context, 2);
    if (!QFileInfo::exists(from))
        return fail(context, QStringLiteral("The path '%1' does not exist").arg(from));
    if (QFileInfo::exists(to))
        return fail(context, QStringLiteral("Cannot rename '%1' to '%2': the target exists").arg(from, to));
    if (!QDir().rename(from, to))
        return fail(context, QStringLiteral("Cannot rename '%1' to '%2'").arg(from, to));
    return succeed(context, context->createBoolArgument(true));
}

int remoteCreatePath(ScriptContext* context)
{
    if (!begin(context, "remoteCreatePath", 2, 2, "connection directory"))
        return 1;
    const QString path = text(context, 1);
    if (QFileInfo::exists(path))
        return fail(context, QStringLiteral("Cannot create the directory '%1': the path exists").arg(path));
    if (!QDir().mkpath(path))
        return fail(context, QStringLiteral("Cannot create the directory '%1'").arg(path));
    return succeed(context, context->createBoolArgument(true));
}

int remoteDeletePath(ScriptContext* context)
{
    if (!begin(context, "remoteDeletePath", 2, 3, "connection directory ?recursive?"))
        return 1;
    const QString path = text(context, 1);
    const bool recursive = context->argumentCount() > 2 && context->isTrue(context->argument(2));
    if (!QFileInfo(path).isDir() || QFileInfo(path).isSymLink())
        return fail(context, QStringLiteral("The directory '%1' does not exist").arg(path));
    QDir dir(path);
    if (!recursive && !dir.isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System))
        return fail(context, QStringLiteral("The directory '%1' is not empty; delete it recursively").arg(path));
    if (!(recursive ? dir.removeRecursively() : QDir().rmdir(path)))
        return fail(context, QStringLiteral("Cannot delete the directory '%1'").arg(path));
    return succeed(context, context->createBoolArgument(true));
}

int remoteCreateFile(ScriptContext* context)
{
    if (!begin(context, "remoteCreateFile", 2, 3, "connection file ?content?"))
        return 1;
    const QString path = text(context, 1);
    if (QFileInfo::exists(path))
        return fail(context, QStringLiteral("Cannot create the file '%1': the path exists").arg(path));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text(context, 2).toUtf8()) < 0)
        return fail(context, QStringLiteral("Cannot create the file '%1': %2").arg(path, file.errorString()));
    return succeed(context, context->createBoolArgument(true));
}

int remoteDeleteFile(ScriptContext* context)
{
    if (!begin(context, "remoteDeleteFile", 2, 2, "connection file"))
        return 1;
    const QString path = text(context, 1);
    if (QFileInfo(path).isDir() || (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink()))
        return fail(context, QStringLiteral("The file '%1' does not exist").arg(path));
    if (!QFile::remove(path))
        return fail(context, QStringLiteral("Cannot delete the file '%1'").arg(path));
    return succeed(context, context->createBoolArgument(true));
}

int remoteCopyPath(ScriptContext* context)
{
    if (!begin(context, "remoteCopyPath", 3, 3, "connection source destination"))
        return 1;
    const QString from = text(context, 1), to = text(context, 2);
    if (!QFileInfo::exists(from))
        return fail(context, QStringLiteral("The path '%1' does not exist").arg(from));
    if (QFileInfo::exists(to))
        return fail(context, QStringLiteral("Cannot copy '%1' to '%2': the target exists").arg(from, to));
    if (!copyRecursively(from, to))
        return fail(context, QStringLiteral("Cannot copy '%1' to '%2'").arg(from, to));
    return succeed(context, context->createBoolArgument(true));
}

int remoteUploadFile(ScriptContext* context)
{
    if (!begin(context, "remoteUploadFile", 3, 3, "connection localFile remoteFile"))
        return 1;
    return replaceCopy(context, text(context, 1), text(context, 2));
}

int remoteDownloadFile(ScriptContext* context)
{
    if (!begin(context, "remoteDownloadFile", 3, 3, "connection remoteFile localFile"))
        return 1;
    return replaceCopy(context, text(context, 1), text(context, 2));
}

} // namespace RemoteSystemApi
