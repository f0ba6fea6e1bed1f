// The runner's application contexts without a script: in-process applications kept apart by context,
// processes that resist ending, output larger than a pipe holds, stopped processes.
#include "applications.h"

#include "application.h"
#include "inspector.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <csignal>

namespace {

const QString fakeApp = QStringLiteral(FAKEAPP);

struct Runner : ApplicationRunner {
    QString testScriptPath() const override { return QString(); }
    QString testCaseName() const override { return QStringLiteral("applications_test"); }
    QString testSuiteName() const override { return QString(); }
};

bool waitForEnd(const SharedPtr<ApplicationContext>& context, int ms = 10000)
{
    QElapsedTimer timer;
    timer.start();
    while (context->isRunning()) {
        if (timer.elapsed() > ms)
            return false;
        QThread::msleep(10);
    }
    return true;
}

QStringList topLevelNames()
{
    QStringList names;
    for (int i = 0; i < Inspector::self()->topLevelCount(); ++i)
        names << Inspector::self()->topLevelObject(i)->name();
    return names;
}

// An in-process application with one top-level object of its own name.
void registerNamedApplication(const QString& name)
{
    static QMap<QString, SharedPtr<Object>> objects;
    InProcessApplications::registerApplication(
        name,
        [name] {
            SharedPtr<Object> object(new Object(nullptr));
            object->setName(name);
            objects.insert(name, object);
            Inspector::self()->addTopLevelObject(object);
            return true;
        },
        [name] { Inspector::self()->removeTopLevelObject(objects.take(name).get()); });
}

} // namespace

TEST(Applications, LookupsSeeOnlyTheCurrentInProcessApplication)
{
    registerNamedApplication(QStringLiteral("alpha"));
    registerNamedApplication(QStringLiteral("beta"));
    Runner runner;
    QString error;
    SharedPtr<ApplicationContext> alpha = runner.startApplication(QStringLiteral("alpha"), QString(), -1, -1, &error);
    ASSERT_EQ(alpha->id(), 0) << error.toStdString();
    EXPECT_EQ(topLevelNames(), QStringList{"alpha"});
    SharedPtr<ApplicationContext> beta = runner.startApplication(QStringLiteral("beta"), QString(), -1, -1, &error);
    ASSERT_EQ(beta->id(), 1) << error.toStdString();
    EXPECT_EQ(topLevelNames(), QStringList{"beta"});
    EXPECT_EQ(runner.applicationContext(QString()), beta);
    EXPECT_EQ(runner.defaultApplicationContext(), alpha);
    EXPECT_TRUE(alpha->isValid());

    EXPECT_TRUE(runner.switchApplicationContext(alpha));
    EXPECT_EQ(topLevelNames(), QStringList{"alpha"});
    EXPECT_FALSE(runner.switchApplicationContext(runner.applicationContext(QStringLiteral("gamma"))));
    EXPECT_FALSE(runner.switchApplicationContext(SharedPtr<ApplicationContext>(new ApplicationContext)));
    EXPECT_EQ(topLevelNames(), QStringList{"alpha"}) << "a refused switch changes nothing";

    // Detaching the current context makes the default one (now the first that remains) current.
    EXPECT_TRUE(alpha->detach());
    EXPECT_FALSE(alpha->detach());
    EXPECT_EQ(runner.applicationContext(QString()), beta);
    EXPECT_EQ(topLevelNames(), QStringList{"beta"});

    runner.endTestCase();
    EXPECT_TRUE(topLevelNames().isEmpty());
    EXPECT_FALSE(InProcessApplications::isRunning(QStringLiteral("alpha")));
    EXPECT_FALSE(InProcessApplications::isRunning(QStringLiteral("beta")));
    EXPECT_EQ(runner.applicationContext(QString())->id(), -1);
    EXPECT_TRUE(runner.applicationContextList().isEmpty());
}

TEST(Applications, ProcessesEndWithTheTestCaseEvenWhenTheyIgnoreTermination)
{
    Runner runner;
    QString error;
    SharedPtr<ApplicationContext> app =
        runner.startApplication(fakeApp + " --ignore-term 1 --out ready --sleep 60000", QString(), -1, -1, &error);
    ASSERT_GE(app->id(), 0) << error.toStdString();
    const qint64 pid = app->pid();
    // Wait until the signal is ignored: the line comes after it.
    QElapsedTimer timer;
    timer.start();
    QString out;
    while (!out.contains("ready") && timer.elapsed() < 10000) {
        out += app->readStdout();
        QThread::msleep(10);
    }
    ASSERT_TRUE(out.contains("ready"));
    runner.endTestCase();
    EXPECT_FALSE(app->isRunning());
    EXPECT_FALSE(QFile::exists(QStringLiteral("/proc/%1").arg(pid)));
}

TEST(Applications, OutputLargerThanAPipeIsCapturedWholeAndReadOnce)
{
    Runner runner;
    QString error;
    SharedPtr<ApplicationContext> app =
        runner.startApplication(fakeApp + " --bulk 300000 --err done --exit 7", QString(), -1, -1, &error);
    ASSERT_GE(app->id(), 0) << error.toStdString();
    ASSERT_TRUE(waitForEnd(app)) << "the process blocked on a full pipe";
    EXPECT_EQ(app->readStdout().size(), 300001);
    EXPECT_EQ(app->readStdout(), QString(""));
    EXPECT_FALSE(app->readStdout().isNull()) << "captured output is never null";
    EXPECT_EQ(app->readStderr(), QString("done\n"));
    EXPECT_EQ(app->usedMemory(), 0);
    runner.endTestCase();
}

TEST(Applications, AStoppedProcessIsFrozenUntilItContinues)
{
    Runner runner;
    QString error;
    SharedPtr<ApplicationContext> app = runner.startApplication(fakeApp + " --sleep 60000", QString(), -1, -1, &error);
    ASSERT_GE(app->id(), 0) << error.toStdString();
    EXPECT_FALSE(app->isFrozen(0));
    ASSERT_EQ(kill(pid_t(app->pid()), SIGSTOP), 0);
    QElapsedTimer timer;
    timer.start();
    // The signal lands asynchronously; the kernel shows the stop as state T.
    QFile stat(QStringLiteral("/proc/%1/stat").arg(app->pid()));
    while (timer.elapsed() < 5000) {
        stat.open(QIODevice::ReadOnly);
        const QByteArray text = stat.readAll();
        stat.close();
        if (text.mid(text.lastIndexOf(')') + 2, 1) == "T")
            break;
        QThread::msleep(5);
    }
    timer.restart();
    EXPECT_TRUE(app->isFrozen(1));
    EXPECT_GE(timer.elapsed(), 900) << "frozen means stopped for the whole timeout";
    ASSERT_EQ(kill(pid_t(app->pid()), SIGCONT), 0);
    EXPECT_FALSE(app->isFrozen(1));
    runner.endTestCase();
    EXPECT_FALSE(app->isRunning());
}
