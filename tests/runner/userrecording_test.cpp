// Recording what a person does to a real application: the address book runs on an X server (Xvfb),
// xdotool is the person (a click on Add, typing a name, Return), and the runner records the test case
// into a script that then replays, headless, against the same program.
#include "runnerfixture.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>

namespace
{

using UserRecordingTest = RunnerFixture;

bool xdotool(const QStringList& args, QString* out = nullptr, const QProcessEnvironment& env = QProcessEnvironment())
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(QStringLiteral("xdotool"), args);
    if (!p.waitForFinished(20000) || p.exitCode() != 0)
        return false;
    if (out)
        *out = QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    return true;
}

QByteArray exampleFile(const char* path)
{
    QFile file(QString::fromLatin1(TARVIN_SOURCE_DIR "/examples/suite/") + QLatin1String(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

TEST_F(UserRecordingTest, WhatAPersonDoesIsRecordedAndReplays)
{
    if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty() ||
        QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        GTEST_SKIP() << "Xvfb and xdotool are needed (scripts/install-deps.sh installs them)";

    // An X server of our own, on the first free display number.
    int display = 90;
    while (QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(display)) ||
           QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(display)))
        ++display;
    QProcess xvfb;
    xvfb.start(QStringLiteral("Xvfb"), {QStringLiteral(":%1").arg(display), QStringLiteral("-screen"),
                                        QStringLiteral("0"), QStringLiteral("1024x768x24"),
                                        QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    ASSERT_TRUE(xvfb.waitForStarted());
    QElapsedTimer timer;
    timer.start();
    while (!QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(display)) && timer.elapsed() < 10000)
        QThread::msleep(50);
    QProcessEnvironment x = QProcessEnvironment::systemEnvironment();
    x.insert(QStringLiteral("DISPLAY"), QStringLiteral(":%1").arg(display));
    x.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));

    // The test case starts the address book, says where its Add button is, and waits for the person.
    write("suite/shared/scripts/names.tcl", exampleFile("shared/scripts/names.tcl"));
    write("suite/tst_person/test.tcl",
          "proc main {} {\n"
          "    startApplication addressbook\n"
          "    set bounds [object globalBounds [waitForObject $names::Add_QPushButton]]\n"
          "    set f [open ../add-button.txt w]\n"
          "    puts $f \"[dict get $bounds x] [dict get $bounds y] [dict get $bounds width] [dict get $bounds height]\"\n"
          "    close $f\n"
          "    set table [waitForObject $names::entries_QTableWidget]\n"
          "    set deadline [deadline new 30000]\n"
          "    while {[property get $table rowCount] < 1 && ![property get $deadline expired]} {\n"
          "        OS sleep 0.05\n"
          "    }\n"
          "}\n");
    QDir(dir.path()).mkpath("suite/tst_recorded");
    QProcess runner;
    runner.setProcessEnvironment(x);
    runner.setWorkingDirectory(dir.path());
    runner.start(QStringLiteral(TARVIN_BINARY_DIR "/bin/tarvinrunner"),
                 {QStringLiteral("--no-color"), QStringLiteral("--record"), QStringLiteral("suite/tst_recorded/test.tcl"),
                  QStringLiteral("suite/tst_person")});
    ASSERT_TRUE(runner.waitForStarted());
    timer.restart();
    while (read("suite/add-button.txt").count(QLatin1Char(' ')) < 3 && timer.elapsed() < 30000)
        QThread::msleep(50);
    const QStringList bounds = read("suite/add-button.txt").simplified().split(QLatin1Char(' '));
    ASSERT_EQ(bounds.size(), 4) << runner.readAllStandardOutput().toStdString();

    // The person: a click on Add, the name typed into the dialog that opens, Return for OK.
    const int x0 = bounds.at(0).toInt() + bounds.at(2).toInt() / 2, y0 = bounds.at(1).toInt() + bounds.at(3).toInt() / 2;
    EXPECT_TRUE(xdotool({"mousemove", QString::number(x0), QString::number(y0), "click", "1"}, nullptr, x));
    QString dialog;
    EXPECT_TRUE(xdotool({"search", "--sync", "--name", "Add Entry"}, &dialog, x));
    dialog = dialog.section(QLatin1Char('\n'), 0, 0);
    EXPECT_TRUE(xdotool({"windowfocus", "--sync", dialog}, nullptr, x));
    EXPECT_TRUE(xdotool({"type", "--delay", "30", "Ada"}, nullptr, x));
    EXPECT_TRUE(xdotool({"key", "Return"}, nullptr, x));

    ASSERT_TRUE(runner.waitForFinished(60000));
    const QString out = QString::fromUtf8(runner.readAllStandardOutput());
    EXPECT_EQ(runner.exitCode(), 0) << out.toStdString() << runner.readAllStandardError().toStdString();
    xvfb.terminate();
    xvfb.waitForFinished(5000);

    const QString script = read("suite/tst_recorded/test.tcl");
    EXPECT_TRUE(script.contains(QRegularExpression(
        "    startApplication addressbook\n"
        "    mouseClick \\$names::Add_QPushButton \\d+ \\d+ \n"
        "    typeText \\$names::firstName_QLineEdit Ada \n"
        "    keyClick \\$names::firstName_QLineEdit Return \n")))
        << script.toStdString();

    // The recorded script replays green, headless, and adds the entry again.
    write("suite/tst_recorded/test.tcl",
          (script.left(script.lastIndexOf(QLatin1Char('}'))) +
           "    test compare [invoke [waitForObject $names::entries_QTableWidget] cellText 0 0] Ada\n}\n")
              .toUtf8());
    const RunOutcome replay = run({"--no-color", "suite/tst_recorded"});
    EXPECT_EQ(replay.exitCode, 0) << replay.out.toStdString() << replay.err.toStdString();
    EXPECT_CONTAINS(replay.out, "PASSED tst_recorded");
}

// The runner killed outright (no time to end anything): the applications its test cases started end
// all the same, within a few seconds.
TEST_F(UserRecordingTest, ApplicationsEndWithAKilledRunner)
{
    write("suite/tst_hold/test.tcl",
          "proc main {} {\n"
          "    set app [startApplication addressbook]\n"
          "    set f [open ../app.pid w]\n"
          "    puts $f [applicationContext $app pid]\n"
          "    close $f\n"
          "    OS sleep 60\n"
          "}\n");
    QProcess runner;
    runner.setWorkingDirectory(dir.path());
    runner.start(QStringLiteral(TARVIN_BINARY_DIR "/bin/tarvinrunner"), {QStringLiteral("suite/tst_hold")});
    ASSERT_TRUE(runner.waitForStarted());
    QElapsedTimer timer;
    timer.start();
    while (read("suite/app.pid").trimmed().isEmpty() && timer.elapsed() < 30000)
        QThread::msleep(50);
    const qint64 pid = read("suite/app.pid").trimmed().toLongLong();
    ASSERT_GT(pid, 0);
    runner.kill();
    runner.waitForFinished();
    auto alive = [pid] {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            return false;
        const QByteArray text = stat.readAll();
        const int close = text.lastIndexOf(')');
        return close > 0 && text.mid(close + 2, 1) != "Z";
    };
    timer.restart();
    while (alive() && timer.elapsed() < 10000)
        QThread::msleep(100);
    EXPECT_FALSE(alive()) << "the address book (process " << pid << ") outlived the killed runner";
}
