// tarvinrunner --record end to end: a test case drives the demo application while the runner records
// it, and the recorded script replays with the runner.
#include "runnerfixture.h"

namespace
{

using RecorderTest = RunnerFixture;

QByteArray exampleObjectMap()
{
    QFile file(QStringLiteral(TARVIN_SOURCE_DIR "/tests/runner/data/demo-names.tcl"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

TEST_F(RecorderTest, RecordedInASuiteReplaysWithTheSuitesObjectMap)
{
    write("suite/shared/scripts/names.tcl", exampleObjectMap());
    // Typing goes key by key; the text holds characters Tcl would substitute.
    write("suite/tst_drive/test.tcl",
          "proc main {} {\n"
          "    startApplication demo_addressbook\n"
          "    mousePress [waitForObject $names::Add_PushButton]\n"
          "    mouseRelease [waitForObject $names::Add_PushButton]\n"
          "    set first [waitForObject $names::firstName_LineEdit]\n"
          "    foreach c [split {Ada {$[x]} \"} {}] {\n"
          "        sendEvent QKeyEvent $first KeyPress [scan $c %c] 0 $c\n"
          "    }\n"
          "    sendEvent QKeyEvent [waitForObject $names::OK_PushButton] KeyPress 16777220 0 {}\n"
          "    set cell [waitForObjectItem $names::entries_Table 0]\n"
          "    sendEvent QMouseEvent $cell MouseButtonPress 3 3 1\n"
          "    sendEvent QMouseEvent $cell MouseButtonRelease 3 3 1\n"
          "}\n");
    RunOutcome r = run({"--record", "suite/tst_recorded/test.tcl", "suite/tst_drive"});
    ASSERT_EQ(r.exitCode, 2) << "the test case directory must exist";
    EXPECT_CONTAINS(r.err, "the directory");
    QDir(dir.path()).mkpath("suite/tst_recorded");
    r = run({"--record", "suite/tst_recorded/test.tcl", "suite/tst_drive"});
    ASSERT_EQ(r.exitCode, 0) << r.out.toStdString() << r.err.toStdString();
    EXPECT_CONTAINS(r.out, "Recorded 17 steps into suite/tst_recorded/test.tcl\n");

    const QString script = read("suite/tst_recorded/test.tcl");
    EXPECT_TRUE(
        script.startsWith("source [findFile \"scripts\" \"names.tcl\"]\n"
                          "proc main {} {\n"
                          "    startApplication demo_addressbook\n"
                          "    waitForObject $names::Add_PushButton\n"
                          "    sendEvent QMouseEvent $names::Add_PushButton MouseButtonPress 50 15 1 0 \n"
                          "    sendEvent QMouseEvent $names::Add_PushButton MouseButtonRelease 50 15 1 0 \n"
                          "    waitForObject $names::firstName_LineEdit\n"
                          "    sendEvent QKeyEvent $names::firstName_LineEdit KeyPress 65 0 A \n"))
        << script.toStdString();
    // The dialog closing after OK is the application's doing, not input.
    EXPECT_FALSE(script.contains("QCloseEvent")) << script.toStdString();
    EXPECT_TRUE(script.endsWith("MouseButtonRelease 3 3 1 0 \n}\n")) << script.toStdString();

    // The table cell had no entry: the object map got one, and the script names the cell by it.
    const QString names = read("suite/shared/scripts/names.tcl");
    EXPECT_TRUE(
        names.startsWith(QString::fromUtf8(exampleObjectMap()).section("    set Cancel_PushButton", 0, 0)));
    EXPECT_CONTAINS(names, "    set Ada_x_TableItem [::Tarvin::ObjectName container $entries_Table text ");
    EXPECT_CONTAINS(script, "    waitForObject $names::Ada_x_TableItem\n");

    // Replayed, the recording leaves the application as the original run did.
    QFile recorded(dir.filePath("suite/tst_recorded/test.tcl"));
    ASSERT_TRUE(recorded.open(QIODevice::Append));
    recorded.write("proc cleanup {} {\n"
                   "    set table [waitForObject $names::entries_Table]\n"
                   "    test compare [property get $table rowCount] 1\n"
                   "    test compare [invoke $table cellText 0 0] {Ada {$[x]} \"}\n"
                   "    test compare [property get $table currentRow] 0\n"
                   "    test compare [property get [findObject $names::entryDialog_Dialog] visible] 0\n"
                   "}\n");
    recorded.close();
    r = run({"suite/tst_recorded"});
    EXPECT_EQ(r.exitCode, 0) << r.out.toStdString() << r.err.toStdString();
    EXPECT_CONTAINS(r.out, "PASSED tst_recorded");

    // Outside the suite the object map is not found, and the error says which file.
    write("lone.tcl", script.toUtf8());
    r = run({"lone.tcl"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_CONTAINS(r.out, "File 'names.tcl' couldn't be found.");
}

TEST_F(RecorderTest, WithoutObjectMapObjectsGoByRealNamesAndFiltersHold)
{
    write("drive.tcl",
          "proc main {} {\n"
          "    setRecorderFilter ObjectType StatusBar\n"
          "    setRecorderFilter EventType QMouseEvent\n"
          "    startApplication demo_addressbook\n"
          "    sendEvent QCloseEvent [waitForObject {type StatusBar}]\n"
          "    set add [waitForObject {type PushButton name addButton}]\n"
          "    mousePress $add\n"
          "    mouseRelease $add\n"
          "    sendEvent QKeyEvent [waitForObject {type PushButton name cancelButton}] KeyPress 32 0 { }\n"
          "    test compare [property get [findObject {type Dialog}] visible] 0\n"
          "}\n");
    RunOutcome r = run({"--record", "out.tcl", "drive.tcl"});
    ASSERT_EQ(r.exitCode, 0) << r.out.toStdString() << r.err.toStdString();
    const QString cancel =
        "\"type PushButton name cancelButton container \\{type Dialog name entryDialog\\}\"";
    EXPECT_EQ(read("out.tcl"), "proc main {} {\n"
                               "    startApplication demo_addressbook\n"
                               "    waitForObject " +
                                   cancel +
                                   "\n"
                                   "    sendEvent QKeyEvent " +
                                   cancel +
                                   " KeyPress 32 0 { } \n"
                                   "}\n");
    // What --record needs.
    r = run({"drive.tcl", "--record"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_CONTAINS(r.err, "--record needs a file name");
    r = run({"--record", "x.tcl", "drive.tcl", "out.tcl"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_CONTAINS(r.err, "--record records one test case; the paths given hold 2");
    r = run({"--record", "x.tcl", "--check", "drive.tcl"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_FALSE(QFile::exists(dir.filePath("x.tcl")));
}

// A symbolic name that Tcl's $ substitution would cut short (a letter outside ASCII) is written as
// ${names::...}, and the recording replays.
TEST_F(RecorderTest, NamesBeyondAsciiAreWrittenWhole)
{
    write("suite/shared/scripts/names.tcl",
          "package require tarvin::objectmaphelper\n"
          "namespace eval names {\n"
          "    set Hauptfenster [::Tarvin::ObjectName name mainWindow type MainWindow]\n"
          "    set Hinzufügen [::Tarvin::ObjectName container $Hauptfenster name addButton type PushButton]\n"
          "}\n");
    write("suite/tst_drive/test.tcl",
          "proc main {} {\n"
          "    startApplication demo_addressbook\n"
          "    mousePress [waitForObject ${names::Hinzufügen}]\n"
          "    mouseRelease [waitForObject ${names::Hinzufügen}]\n"
          "}\n");
    QDir(dir.path()).mkpath("suite/tst_recorded");
    RunOutcome r = run({"--record", "suite/tst_recorded/test.tcl", "suite/tst_drive"});
    ASSERT_EQ(r.exitCode, 0) << r.out.toStdString() << r.err.toStdString();
    const QString script = read("suite/tst_recorded/test.tcl");
    EXPECT_CONTAINS(script, QString::fromUtf8("    waitForObject ${names::Hinzufügen}\n"));
    EXPECT_CONTAINS(script, QString::fromUtf8("    sendEvent QMouseEvent ${names::Hinzufügen} MouseButtonPress"));
    r = run({"suite/tst_recorded"});
    EXPECT_EQ(r.exitCode, 0) << r.out.toStdString() << r.err.toStdString();
}

// A Qt Quick user interface: clicks and typing are recorded on the items that took them (a click on a
// button's label is the button's), and the recording replays.
TEST_F(RecorderTest, QtQuickItemsAreRecordedAsTheItemsThatTookTheInput)
{
    const QString scene = QStringLiteral("/usr/lib/qt5/bin/qmlscene");
    if (!QFileInfo(scene).isExecutable() || !QFileInfo::exists("/usr/lib/x86_64-linux-gnu/qt5/qml/QtQuick/Controls.2"))
        GTEST_SKIP() << "qmlscene and Qt Quick's controls are needed (scripts/install-deps.sh installs them)";
    const QString start = "startApplication {" + scene + " " TARVIN_SOURCE_DIR "/tests/agent/suite/tst_quick/form.qml}";
    write("drive.tcl", ("proc main {} {\n"
                        "    " + start + "\n"
                        "    set field [waitForObject {name nameField}]\n"
                        "    mouseClick $field\n"
                        "    typeText $field Grace\n"
                        "    mouseClick {type Button text Add}\n"
                        "}\n").toUtf8());
    RunOutcome r = run({"--record", "out.tcl", "drive.tcl"});
    ASSERT_EQ(r.exitCode, 0) << r.out.toStdString() << r.err.toStdString();
    const QString recorded = read("out.tcl");
    const QString field = "\"type QQuickTextField name nameField container \\{type QQuickApplicationWindow name mainWindow\\}\"";
    EXPECT_CONTAINS(recorded, "    mouseClick " + field + " ");
    EXPECT_CONTAINS(recorded, "    typeText " + field + " Grace \n");
    EXPECT_CONTAINS(recorded, "    mouseClick \"type QQuickButton name addButton container "
                              "\\{type QQuickApplicationWindow name mainWindow\\} occurrence 2\" ");

    write("replay.tcl", recorded.left(recorded.lastIndexOf('}')).toUtf8() +
                            "    test compare [property get [waitForObject {name status}] text] {Added Grace}\n}\n");
    r = run({"replay.tcl"});
    EXPECT_EQ(r.exitCode, 0) << r.out.toStdString();
    EXPECT_CONTAINS(r.out, "PASS ");
}
