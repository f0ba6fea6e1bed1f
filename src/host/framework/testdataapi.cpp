// Test data files of a suite and the application's copies of them.
#include "testdataapi.h"

#include "inspector.h"
#include "interpreter.h"
#include "runnerinterface.h"
#include "scriptargument.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

RunnerInterface* runner()
{
    return Interpreter::self() ? Interpreter::self()->runner() : nullptr;
}

QString testCaseDirectory()
{
    RunnerInterface* r = runner();
    return r && !r->testScriptPath().isEmpty() ? QFileInfo(r->testScriptPath()).absolutePath() : QDir::currentPath();
}

SharedPtr<Object> fileExists(const ObjectList& args)
{
    if (args.size() != 1 || !args.first()) {
        Inspector::self()->setLastError(QStringLiteral("testDataExists: expected a file name"));
        return SharedPtr<Object>();
    }
    return Inspector::self()->createBool(QFileInfo(QDir(applicationDataDirectory()).filePath(args.first()->text())).isFile());
}

SharedPtr<Object> removeFile(const ObjectList& args)
{
    if (args.size() != 1 || !args.first()) {
        Inspector::self()->setLastError(QStringLiteral("testDataRemove: expected a file name"));
        return SharedPtr<Object>();
    }
    const QString path = QDir(applicationDataDirectory()).filePath(args.first()->text());
    if (!QFileInfo(path).isFile()) {
        Inspector::self()->setLastError(QStringLiteral("Cannot remove test data file '%1': it does not exist").arg(path));
        return SharedPtr<Object>();
    }
    if (!QFile::remove(path)) {
        Inspector::self()->setLastError(QStringLiteral("Cannot remove test data file '%1'").arg(path));
        return SharedPtr<Object>();
    }
    return Inspector::self()->createVoid();
}

SharedPtr<Object> addToObjectMap(const ObjectList& args)
{
    if (args.size() != 2 || !args.at(0) || !args.at(1)) {
        Inspector::self()->setLastError(QStringLiteral("addToObjectMap: expected a real and a symbolic name"));
        return SharedPtr<Object>();
    }
    ObjectMap::self()->insert(args.at(1)->text(), args.at(0)->text());
    return Inspector::self()->createVoid();
}

// The application side of the remote calls, offered as soon as the library is loaded.
const bool registered = [] {
    Inspector::self()->registerRemoteFunction(QStringLiteral("testDataExists"), fileExists);
    Inspector::self()->registerRemoteFunction(QStringLiteral("testDataRemove"), removeFile);
    Inspector::self()->registerRemoteFunction(QStringLiteral("addToObjectMap"), addToObjectMap);
    return true;
}();

} // namespace

QString applicationDataDirectory()
{
    return QDir::currentPath();
}

QString findTestSuiteFile(const QString& name, const QString& kind)
{
    if (name.isEmpty())
        return QString();
    if (QFileInfo(name).isAbsolute())
        return QFileInfo(name).isFile() ? name : QString();
    const QDir caseDir(testCaseDirectory());
    const QStringList candidates = {caseDir.filePath(kind + QLatin1Char('/') + name),
                                    caseDir.filePath(QStringLiteral("../shared/") + kind + QLatin1Char('/') + name)};
    for (const QString& candidate : candidates)
        if (QFileInfo(candidate).isFile())
            return QDir::cleanPath(candidate);
    return QString();
}

QVariant copyTestData(const QString& name, QString* error)
{
    const QString source = findTestSuiteFile(name, QStringLiteral("testdata"));
    if (source.isEmpty()) {
        *error = QStringLiteral("Test data file '%1' couldn't be found").arg(name);
        return QVariant(false);
    }
    const QString target = QDir(applicationDataDirectory()).filePath(QFileInfo(name).fileName());
    if (QFileInfo(target).absoluteFilePath() == QFileInfo(source).absoluteFilePath())
        return QVariant();
    QFile::remove(target);
    if (!QFile::copy(source, target)) {
        *error = QStringLiteral("Cannot copy test data file '%1' to '%2'").arg(source, target);
        return QVariant(false);
    }
    return QVariant();
}

int testDataGet(ScriptContext* context)
{
    if (context->argumentCount() != 1) {
        context->setError(QStringLiteral("testData get: expected a file name"), ScriptContext::PlainError);
        return 1;
    }
    const QString name = context->argument(0)->toString();
    const QString source = QDir(applicationDataDirectory()).filePath(name);
    if (!QFileInfo(source).isFile()) {
        context->setError(QStringLiteral("Cannot get test data file '%1': it does not exist").arg(source),
                          ScriptContext::PlainError);
        return 1;
    }
    QDir targetDir(testCaseDirectory());
    if (!targetDir.mkpath(QStringLiteral("testdata"))) {
        context->setError(QStringLiteral("Cannot create '%1'").arg(targetDir.filePath(QStringLiteral("testdata"))),
                          ScriptContext::PlainError);
        return 1;
    }
    const QString target = targetDir.filePath(QStringLiteral("testdata/") + QFileInfo(name).fileName());
    if (QFileInfo(target).absoluteFilePath() != QFileInfo(source).absoluteFilePath()) {
        QFile::remove(target);
        if (!QFile::copy(source, target)) {
            context->setError(QStringLiteral("Cannot copy '%1' to '%2'").arg(source, target), ScriptContext::PlainError);
            return 1;
        }
    }
    return 0;
}
