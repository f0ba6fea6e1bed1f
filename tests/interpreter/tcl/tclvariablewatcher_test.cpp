// The variable watcher: what it lists of globals, locals, arrays, nested lists, object handles and the
// application's global properties, with object inspection on and off, and at a breakpoint.
#include "bridgetestsupport.h"
#include "tcldebugger.h"
#include "tclhandles.h"
#include "tclvariablewatcher.h"

using namespace bridgetest;

void PrintTo(const VariableValue& v, std::ostream* os)
{
    *os << v.typeName().toStdString()
        << (v.hasValue() ? " = " + v.value().toStdString() : std::string(" (opens)"));
}

namespace
{

// A class with a nested object property, and global properties, one of them an object.
void declareWatchedModel()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    ClassBuilder("WatchHolder").property("label", "string").property("inner", "Color");
    ClassBuilder::global()
        .staticProperty("watchedTitle", "string",
                        [](Object*) { return Inspector::self()->createPrimitive("Demo"); })
        .staticProperty("watchedColor", "Color", [](Object*) {
            SharedPtr<Object> color = makeObject("Color");
            color->setValue("name", Inspector::self()->createPrimitive("blue"));
            return color;
        });
}

using Map = QMap<QString, VariableValue>;

Map toMap(const VariableBindings& bindings)
{
    Map map;
    for (const VariableBinding& b : bindings)
        map.insert(b.first, b.second);
    return map;
}

VariableValue shown(const char* type, const char* value)
{
    return VariableValue(QString::fromLatin1(type), QString::fromUtf8(value));
}

VariableValue opened(const char* type)
{
    return VariableValue(QString::fromLatin1(type));
}

class WatcherTest : public BridgeTest
{
protected:
    void SetUp() override
    {
        BridgeTest::SetUp();
        declareWatchedModel();
        runner.inspection = QStringLiteral("on");
        watcher.reset(new TclVariableWatcher(interpreter.get()));
    }
    void TearDown() override
    {
        watcher.reset();
        BridgeTest::TearDown();
    }

    std::unique_ptr<TclVariableWatcher> watcher;
};

TEST_F(WatcherTest, GlobalsArraysAndNestedLists)
{
    eval("set a 5; set s {1 2 3}; set l [list 1 [list x y] {}]; array set x {k1 v1 {k 2} v2}; set {a b} "
         "\xc3\xbc");
    const VariableBindings top = watcher->globalBindings();
    const Map map = toMap(top);
    EXPECT_EQ(map.value("a"), shown("string", "5"));
    EXPECT_EQ(map.value("a b"), shown("string", "\xc3\xbc")); // names may hold blanks; texts are UTF-8
    EXPECT_EQ(map.value("s"), shown("string", "1 2 3"));      // never used as a list: a string
    EXPECT_EQ(map.value("+l"), opened("list"));
    EXPECT_EQ(map.value("+x"), opened("array"));
    for (const VariableBinding& b : top) {
        EXPECT_FALSE(b.first.startsWith("TarvinPrivate__")) << b.first.toStdString();
        for (const char* hidden :
             {"tcl_version", "env", "auto_path", "errorInfo", "tcl_platform", "tcl_library"})
            EXPECT_NE(b.first, QLatin1String(hidden));
    }

    const Map arrayMembers = toMap(watcher->variableBindings("+x"));
    EXPECT_EQ(arrayMembers.size(), 2);
    EXPECT_EQ(arrayMembers.value("x.k1"), shown("string", "v1"));
    EXPECT_EQ(arrayMembers.value("x.k 2"), shown("string", "v2"));

    const VariableBindings listMembers = watcher->variableBindings("+l");
    ASSERT_EQ(listMembers.size(), 3);
    EXPECT_EQ(listMembers.at(0), VariableBinding("l.0", shown("string", "1")));
    EXPECT_EQ(listMembers.at(1), VariableBinding("+l.1", opened("list")));
    EXPECT_EQ(listMembers.at(2), VariableBinding("l.2", shown("string", "")));
    const VariableBindings nested = watcher->variableBindings("+l.1");
    ASSERT_EQ(nested.size(), 2);
    EXPECT_EQ(nested.at(1), VariableBinding("l.1.1", shown("string", "y")));

    // The list is the value seen when it was listed, even after the variable changed.
    eval("set l changed");
    EXPECT_EQ(watcher->variableBindings("+l").size(), 3);
    EXPECT_TRUE(watcher->variableBindings("+nothing").isEmpty());
    EXPECT_TRUE(watcher->languageObjectBindings("+nothing").isEmpty());
    EXPECT_TRUE(
        warnings().contains("TclVariableWatcher::languageObjectBindings: '+nothing' is not a known object."));
    EXPECT_TRUE(warnings().filter("evalTcl").isEmpty());
}

TEST_F(WatcherTest, ObjectHandlesAndGlobalProperties)
{
    SharedPtr<Object> holder = makeObject("WatchHolder");
    holder->setValue("label", Inspector::self()->createPrimitive("first"));
    SharedPtr<Object> color = makeObject("Color");
    color->setValue("name", Inspector::self()->createPrimitive("red"));
    holder->setValue("inner", color);
    Tcl_SetVar2Ex(interp, "h", nullptr, newObjectHandle(holder), TCL_GLOBAL_ONLY);
    Tcl_SetVar2Ex(interp, "n", nullptr, newObjectHandle(cls("Color")->createNull()), TCL_GLOBAL_ONLY);

    const Map map = toMap(watcher->globalBindings());
    EXPECT_EQ(map.value("+h"), opened("WatchHolder"));
    EXPECT_EQ(map.value("n"), shown("Color", "0")); // a null object has nothing to open
    EXPECT_EQ(map.value("watchedTitle"), shown("string", "Demo"));
    EXPECT_EQ(map.value("+watchedColor"), opened("Color"));

    const Map members = toMap(watcher->variableBindings("+h"));
    EXPECT_EQ(members.value("h.label"), shown("string", "first"));
    EXPECT_EQ(members.value("+h.inner"), opened("Color"));
    EXPECT_EQ(toMap(watcher->variableBindings("+h.inner")).value("h.inner.name"), shown("string", "red"));
    EXPECT_EQ(toMap(watcher->variableBindings("+watchedColor")).value("watchedColor.name"),
              shown("string", "blue"));

    // Without object inspection handles are their text and the application's properties are left out.
    runner.inspection.clear();
    TclVariableWatcher plain(interpreter.get());
    const Map off = toMap(plain.globalBindings());
    EXPECT_TRUE(off.value("h").value().startsWith("Object:")) << off.value("h").value().toStdString();
    EXPECT_EQ(off.value("h").typeName(), "string");
    EXPECT_FALSE(off.contains("watchedTitle"));
    EXPECT_FALSE(off.contains("+watchedColor"));
    EXPECT_TRUE(plain.variableBindings("+h").isEmpty());
}

// Stops at a breakpoint inside a procedure and lists what the debugger would show there.
struct Collector : DebuggerClient {
    int line = -1;
    Map top;
    VariableBindings list, array, afterReset;
    void stopped(Debugger* debugger) override
    {
        line = debugger->currentLine();
        top = toMap(debugger->variableBindings(QString()));
        list = debugger->variableBindings("+loc");
        array = debugger->variableBindings("+arr");
        debugger->resetVariableWatcher();
        afterReset = debugger->variableBindings("+loc");
    }
};

TEST_F(WatcherTest, AtABreakpoint)
{
    const char* script = "set g 1\n"
                         "proc f {p} {\n"
                         "    set loc [list $p 2]\n"
                         "    array set arr {a 1}\n"
                         "    set n [llength $loc]\n"
                         "    return $loc\n"
                         "}\n"
                         "f 7\n";
    Debugger* debugger = interpreter->debugger();
    Collector collector;
    debugger->setClient(&collector);
    const int sourceId = debugger->nextSourceId() + 1; // the id evaluate takes next
    debugger->setBreakPoint(5, sourceId);
    debugger->setDebuggerMode(DbgRun);
    ASSERT_TRUE(interpreter->evaluate(QString::fromLatin1(script), "watched.tcl", true, true));
    debugger->setClient(nullptr);
    debugger->setDebuggerMode(DbgNone);

    EXPECT_EQ(collector.line, 5);
    EXPECT_EQ(interpreter->resultMessage(), "7 2");            // the stopped command went on undisturbed
    EXPECT_EQ(collector.top.value("g"), shown("string", "1")); // a global, seen from inside the procedure
    EXPECT_EQ(collector.top.value("p"), shown("string", "7"));
    EXPECT_EQ(collector.top.value("+loc"), opened("list"));
    EXPECT_EQ(collector.top.value("+arr"), opened("array"));
    EXPECT_FALSE(collector.top.contains("n")); // stopped before its line ran
    ASSERT_EQ(collector.list.size(), 2);
    EXPECT_EQ(collector.list.at(0), VariableBinding("loc.0", shown("string", "7")));
    ASSERT_EQ(collector.array.size(), 1);
    EXPECT_EQ(collector.array.at(0), VariableBinding("arr.a", shown("string", "1")));
    EXPECT_TRUE(collector.afterReset.isEmpty());
}

} // namespace
