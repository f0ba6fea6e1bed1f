// The Tcl event recorder: the text each kind of recorded step gives, with and without the scripted
// object map, and what the generated script means to Tcl.
#include "interpreter.h"
#include "object.h"
#include "scriptedobjectmap.h"
#include "tcleventrecorder.h"
#include "tclscriptedobjectmap.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <tcl.h>

#include <memory>

inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace
{

EventDataArg plain(const QString& text)
{
    EventDataArg a;
    a.valueText = text;
    return a;
}

EventDataArg objectReference(const QString& name)
{
    EventDataArg a = plain(name);
    a.valueSubKind = EventDataArg::ObjectReference;
    return a;
}

EventData step(int kind, const QString& object, const QString& method = QString(), int delay = 0)
{
    EventData e;
    e.stepKind = kind;
    e.delay = delay;
    e.setObjectId(object);
    e.setMethodName(method);
    return e;
}

// The body recorded so far (finishScript without main returns the buffer as it is).
QString body(TclEventRecorder& r)
{
    return r.finishScript(false, QString());
}

// The value Tcl gives a double-quoted word.
QString tclValue(const QString& quotedWord)
{
    Tcl_Interp* interp = Tcl_CreateInterp();
    const QByteArray script = ("set v " + quotedWord).toUtf8();
    QString value = QStringLiteral("<error>");
    if (Tcl_EvalEx(interp, script.constData(), script.size(), 0) == TCL_OK)
        value = QString::fromUtf8(Tcl_GetStringResult(interp));
    Tcl_DeleteInterp(interp);
    return value;
}

} // namespace

TEST(TclEventRecorder, EscapingAndRealNamesWithoutObjectMap)
{
    for (const QString& text :
         {QStringLiteral("plain"), QStringLiteral("{a} [b] \"c\" $d \\e"), QStringLiteral("two\nlines\r"),
          QStringLiteral("}{"), QStringLiteral("Größe")})
        EXPECT_EQ(tclValue('"' + TclEventRecorder::escape(text) + '"'), text) << text.toStdString();
    EXPECT_EQ(TclEventRecorder::escape("a[b]\"c\"{$}\\\r\n"), "a\\[b\\]\\\"c\\\"\\{\\$\\}\\\\\\r\\n");
    // A command substitution in the text stays one.
    EXPECT_EQ(TclEventRecorder::escape("x [toString [invoke $o text]] \"y\""),
              "x [toString [invoke \\$o text]] \"y\"");

    TclEventRecorder r(false, false, nullptr);
    EventData press = step(EventData::Event, "type PushButton name add container {type MainWindow}");
    press.setEventName("QMouseEvent");
    for (const char* a : {"MouseButtonPress", "5", "5", "1"})
        press.addArgument(plain(a));
    r.recordEvent(press);
    press.delay = 25000;
    r.recordEvent(press); // the same object: waited for once
    EventData close = step(EventData::Event, "{type Dialog name $x}", QString(), 20001);
    close.setEventName("QCloseEvent");
    r.recordEvent(close);
    const QString quoted = "\"type PushButton name add container \\{type MainWindow\\}\"";
    const QString pressLine = "    sendEvent QMouseEvent " + quoted + " MouseButtonPress 5 5 1 \n";
    EXPECT_EQ(body(r), "    waitForObject " + quoted + "\n" + pressLine + pressLine +
                           "    waitForObject \"\\{type Dialog name \\$x\\}\" 30001\n"
                           "    sendEvent QCloseEvent \"\\{type Dialog name \\$x\\}\" \n");
    EXPECT_EQ(r.scriptHeader(), "");

    // With the wait-for flag every reference waits inline and no statement of its own is written.
    TclEventRecorder w(false, true, nullptr);
    w.recordEvent(close);
    EXPECT_EQ(body(w), "    sendEvent QCloseEvent [waitForObject \"\\{type Dialog name \\$x\\}\" 30001] \n");
}

TEST(TclEventRecorder, WaitAndSnoozeStatements)
{
    TclEventRecorder r(false, false, nullptr);
    EXPECT_EQ(r.waitForObjectStatement("$names::OK", 20000), "    waitForObject $names::OK\n");
    EXPECT_EQ(r.waitForObjectStatement("$names::OK", 25000), "    waitForObject $names::OK 37500\n");
    EXPECT_EQ(r.waitForObjectItemStatement("$t", 2, 3, 20001),
              "    waitForObjectItem $t \"2\" \"3\" 30001\n");
    EXPECT_EQ(r.waitForObjectItemStatement("$t", "a[1]", 0), "    waitForObjectItem $t \"a\\[1\\]\"\n");
    EXPECT_EQ(r.snoozeStatement(99), "");
    EXPECT_EQ(r.snoozeStatement(100), "    snooze 0.1\n");
    EXPECT_EQ(r.formatSnoozeSecs(1549), "1.5");
    EXPECT_EQ(r.formatSnoozeSecs(1950), "2");
    EXPECT_TRUE(r.formatSnoozeSecs(49).isNull());
    EXPECT_EQ(r.formatSnoozeSecs(INT_MAX), "2147483.6");

    // Function calls: a snooze line for their delay unless the no-snooze flag is set or the function
    // waits itself; a return variable gets the call's result.
    EventData call = step(EventData::FunctionCall, QString(), "chooseFile", 1500);
    call.addArgument(plain("/tmp/a.txt"));
    call.setReturnVariable("file");
    r.recordEvent(call);
    EventData start = step(EventData::FunctionCall, QString(), "startApplication", 3000);
    start.addArgument(plain("addressbook"));
    r.recordEvent(start);
    EventData vars = step(EventData::FunctionCall, QString(), "addEntry", 10);
    vars.setArguments({"first", "last"});
    r.recordEvent(vars);
    EXPECT_EQ(body(r), "    snooze 1.5\n"
                       "    set file [invoke chooseFile /tmp/a.txt ]\n"
                       "    startApplication addressbook \n"
                       "    addEntry $first $last\n");
    TclEventRecorder quiet(true, false, nullptr);
    quiet.recordEvent(call);
    EXPECT_EQ(body(quiet), "    set file [invoke chooseFile /tmp/a.txt ]\n");
}

TEST(TclEventRecorder, MethodCalls)
{
    TclEventRecorder r(false, true, nullptr);
    EventData click = step(EventData::MethodCall, "{type PushButton}", "Widget::click()");
    r.recordEvent(click);
    EventData item = step(EventData::MethodCall, "{type Table}", "clickItem", 20001);
    item.setItemText("Ada [1]");
    r.recordEvent(item);
    item.setItemText("[toString [invoke $t cellText 0 0]]");
    r.recordEvent(item);
    EventData noItem = step(EventData::MethodCall, "{type Table}", "clickItem");
    r.recordEvent(noItem);
    // mouseMove waits by a statement of its own, and its line has neither indentation nor invoke.
    EventData move = step(EventData::MethodCall, "{type Table}", "mouseMove");
    move.addArgument(plain("10"));
    move.addArgument(plain("20"));
    r.recordEvent(move);
    EventData context = step(EventData::MethodCall, "{type Table}", "waitForContextExists", 30000);
    context.addArgument(plain("1000"));
    r.recordEvent(context);
    EventData noObject = step(EventData::MethodCall, QString(), "quit");
    r.recordEvent(noObject);
    EXPECT_EQ(body(r),
              "    invoke click [waitForObject \"\\{type PushButton\\}\"] \n"
              "    invoke clickItem [waitForObjectItem \"\\{type Table\\}\" \"Ada \\[1\\]\" 30001] \n"
              "    invoke clickItem [waitForObjectItem \"\\{type Table\\}\" "
              "\"[toString [invoke \\$t cellText 0 0]]\" 30001] \n"
              "    invoke clickItem \"\\{type Table\\}\" \n"
              "    waitForObject \"\\{type Table\\}\"\n"
              "mouseMove \"\\{type Table\\}\" 10 20 \n"
              "    invoke waitForContextExists \"\\{type Table\\}\" 45000\n"
              "    invoke quit \n");
    EXPECT_TRUE(r.useWaitFor()) << "the flag comes back after a step that cleared it";
}

TEST(TclEventRecorder, ArgumentsConstructionEnumsAndReferences)
{
    ObjectMap::self()->clear();
    TclEventRecorder r(false, false, nullptr);
    EventDataArg point;
    point.kind = EventDataArg::ObjectFromProperties;
    point.name = "topLeft";
    point.valueType = "Point*";
    point.nestedArgs = {plain("1"), plain("2")};
    point.nestedArgs[0].name = "x";
    point.nestedArgs[1].name = "y";
    EventDataArg rect;
    rect.kind = EventDataArg::ObjectFromProperties;
    rect.name = "r";
    rect.valueType = "const Rect&";
    rect.nestedArgs = {point, plain("30")};
    rect.nestedArgs[1].name = "width";
    EventDataArg one, several, none;
    one.kind = several.kind = none.kind = EventDataArg::EnumerationValue;
    one.enumTypeName = several.enumTypeName = "T";
    one.enumValueNames = QStringList{"A"};
    several.enumValueNames = QStringList{"A", "B"};
    none.valueText = "4";
    EventDataArg unknown = plain("lost");
    unknown.kind = 7;

    // Object references: quoted real names; a marked name becomes a symbolic name of the object map.
    const EventDataArg label = objectReference("{type Label text {a b}}");
    const EventDataArg marked =
        objectReference(EventRecorder::symbolicNameMarker + "type PushButton text OK");

    EventData e = step(EventData::MethodCall, QString(), "setGeometry");
    for (const EventDataArg& a : {rect, one, several, none, unknown, label, marked})
        e.addArgument(a);
    r.recordEvent(e);
    EXPECT_EQ(body(r), "    set r [construct Rect]\n"
                       "    set r_topLeft [construct Point]\n"
                       "    property set $r_topLeft x 1\n"
                       "    property set $r_topLeft y 2\n"
                       "    property set $r topLeft $r_topLeft\n"
                       "    property set $r width 30\n"
                       "    invoke setGeometry $r [enum T A] [expr [enum T A] + [enum T B]] 4  "
                       "\"\\{type Label text \\{a b\\}\\}\" \":OK_PushButton\" \n");
    EXPECT_EQ(ObjectMap::self()->realName(":OK_PushButton"), "type PushButton text OK");
}

TEST(TclEventRecorder, CommentsGesturesAndMain)
{
    TclEventRecorder r(false, false, nullptr);
    r.recordEvent(step(EventData::Comment, "first\n\nsecond\n"));
    EventData gesture = step(EventData::MethodCall, "{type Canvas}", "gesture");
    gesture.time = QTime(9, 5, 7, 42);
    gesture.addArgument(plain("stroke\n0 1 1\n"));
    r.recordEvent(gesture);
    r.recordEvent(step(7, "{type Canvas}")); // no such step kind: nothing
    r.recordTestDataPut("out put.tsv");
    EXPECT_EQ(r.gestures().value("Gesture_090507_042"), "stroke\n0 1 1\n");
    const QString inner = "    # first\n"
                          "    # second\n"
                          "    waitForObject \"\\{type Canvas\\}\"\n"
                          "    invoke gesture \"\\{type Canvas\\}\" [readGesture \"Gesture_090507_042\"]\n"
                          "    testData put \"out put.tsv\"\n";
    const QString once = "proc main {} {\n    startApplication my\\\\ app\\$\n" + inner + "}\n";
    EXPECT_EQ(r.finishScript(true, "my\\ app$"), once);
    // The buffer is wrapped in place: wrapping again wraps the wrapped text.
    EXPECT_EQ(r.finishScript(true, QString()), "proc main {} {\n" + once + "}\n");
}

// What the runner's end-to-end recording does not reach: object references among the arguments, and
// where the factory's flags land.
TEST(TclEventRecorder, NamesFromTheScriptedObjectMap)
{
    qputenv("TARVIN_PREFIX", TARVIN_BINARY_DIR);
    delete Interpreter::self();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString mapPath = dir.filePath("names.tcl");
    QFile file(mapPath);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("package require tarvin::objectmaphelper\n"
               "namespace eval names {\n"
               "    set Add [::Tarvin::ObjectName name addButton type PushButton]\n"
               "}\n");
    file.close();

    std::unique_ptr<EventRecorder> recorder(createEventRecorder(true, false, true, mapPath));
    ASSERT_TRUE(recorder->scriptedObjectMap());
    EXPECT_TRUE(recorder->noSnooze());
    EXPECT_FALSE(recorder->useWaitFor());
    EventData typed = step(EventData::Event, "type PushButton name addButton"); // pairs in another order
    typed.setEventName("QKeyEvent");
    typed.addArgument(objectReference(EventRecorder::symbolicNameMarker + "type LineEdit name first"));
    typed.addArgument(objectReference("{type LineEdit}"));
    recorder->recordEvent(typed);
    EXPECT_EQ(recorder->finishScript(false, QString()),
              "    waitForObject $names::Add\n"
              "    sendEvent QKeyEvent $names::Add $names::first_LineEdit \"\\{type LineEdit\\}\" \n");

    std::unique_ptr<EventRecorder> plainRecorder(createEventRecorder(false, true, false, mapPath));
    EXPECT_FALSE(plainRecorder->scriptedObjectMap());
    EXPECT_FALSE(plainRecorder->noSnooze());
    EXPECT_TRUE(plainRecorder->useWaitFor());
    delete Interpreter::self();
}
