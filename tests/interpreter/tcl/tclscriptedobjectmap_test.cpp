// The scripted object map in Tcl: every piece of text it writes into names.tcl (checked also by letting
// Tcl read it back inside a namespace block), adding entries and reading the saved file back, and the
// failures of reading a names.tcl, each naming the file and line.
#include "runnerinterface.h"
#include "tclinterpreter.h"
#include "tclscriptedobjectmap.h"
#include "testresult.h"

#include "object.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <tcl.h>

inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

// Reaches the private text operations of the map.
struct TclScriptedObjectMapProbe {
    TclScriptedObjectMap& m;
    QString string(const QString& t) { return m.toScriptString(t); }
    QString identifier(const QString& t) { return m.toScriptIdentifier(t); }
    QString value(const QString& t, int mode) { return m.propertyValueToScriptValue(PropertyValue(t, mode)); }
    QString properties(const std::map<QString, QString>& p) { return m.createObjectNameFromProperties(p).text(); }
    QString hierarchical(const QString& n) { return m.createObjectNameFromHierarchicalName(n).text(); }
    QString symbolic(const QString& v) { return m.variableNameToSymbolicName(v); }
    bool insertionPos(QStringList* lines, int* index)
    {
        QList<QString>::iterator pos;
        const bool found = m.findCodeInsertionPos(lines->begin(), lines->end(), &pos);
        *index = int(pos - lines->begin());
        return found;
    }
    FunctionCallResult<ScriptedEntryMap> entries() { return m.getEntryMap(); }
};

namespace {

struct FakeRunner : RunnerInterface {
    QString testScriptPath() const override { return QString(); }
    QString testCaseName() const override { return QStringLiteral("tst_running"); }
    QString testSuiteName() const override { return QString(); }
    TestResult* testResult() const override { return &result; }
    mutable TestResult result;
};

class ObjectMapTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        qputenv("TARVIN_PREFIX", TARVIN_BINARY_DIR);
        ASSERT_TRUE(dir.isValid());
        delete Interpreter::self();
    }
    void TearDown() override { delete Interpreter::self(); }

    QString write(const QString& name, const QByteArray& text)
    {
        const QString path = dir.filePath(name);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
        return path;
    }

    // What Tcl makes of a word inside a braced namespace block, as names.tcl holds it.
    static QString readBack(const QString& word)
    {
        Tcl_Interp* interp = Tcl_CreateInterp();
        const QByteArray script = ("namespace eval rt {\n    set v " + word + "\n}\n").toUtf8();
        QString value = QStringLiteral("<error>");
        if (Tcl_EvalEx(interp, script.constData(), script.size(), 0) == TCL_OK)
            value = QString::fromUtf8(Tcl_GetVar(interp, "::rt::v", TCL_GLOBAL_ONLY));
        Tcl_DeleteInterp(interp);
        return value;
    }

    QTemporaryDir dir;
};

const char header[] = "package require tarvin::objectmaphelper\nnamespace eval names {\n";

} // namespace

TEST_F(ObjectMapTest, StringLiteralsReadBackUnchanged)
{
    TclScriptedObjectMap map(dir.filePath("names.tcl"));
    TclScriptedObjectMapProbe p{map};
    const QList<QPair<QString, QString>> forms = {
        {"OK", "OK"},
        {"Address Book", "{Address Book}"},
        {"", "{}"},
        {"$x", "{$x}"},
        {"a;#b", "{a;#b}"},
        {"{a}", "{{a}}"},
        {"{x} {y}", "{{x} {y}}"},
        {"a{b", "[subst -nocommands -novariables {a\\{b}]"},
        {"C:\\dir}", "[subst -nocommands -novariables {C:\\\\dir\\}}]"},
        {"{", "[subst -nocommands -novariables {\\{}]"},
        {"\"quoted\"", "{\"quoted\"}"},
        {"say\"hi\"", "say\"hi\""},
        {"C:\\dir", "{C:\\dir}"},
        // Would be substituted or split bare, or end the namespace block early.
        {"[exit]", "{[exit]}"},
        {"a;b", "{a;b}"},
        {"}{", "[subst -nocommands -novariables {\\}\\{}]"},
        {"dir\\", "[subst -nocommands -novariables {dir\\\\}]"},
    };
    for (const auto& form : forms) {
        EXPECT_EQ(p.string(form.first), form.second) << form.first.toStdString();
        EXPECT_EQ(readBack(p.string(form.first)), form.first) << form.first.toStdString();
    }
    for (const QString& text : {QStringLiteral("tab\there"), QStringLiteral("line\nfeed"), QStringLiteral("a\\\nb"),
                                QStringLiteral("x\\{y}"), QStringLiteral("Größe [1]")})
        EXPECT_EQ(readBack(p.string(text)), text) << p.string(text).toStdString();
}

TEST_F(ObjectMapTest, IdentifiersValuesObjectNamesAndSymbolicNames)
{
    TclScriptedObjectMap map(dir.filePath("names.tcl"));
    TclScriptedObjectMapProbe p{map};
    EXPECT_EQ(p.identifier("Address Book - Unnamed"), "Address_Book_Unnamed");
    EXPECT_EQ(p.identifier("-x--y-"), "x_y");
    EXPECT_EQ(p.identifier("..."), "o");
    EXPECT_EQ(p.identifier("Größe 1"), "Größe_1");

    EXPECT_EQ(p.value("42", 2), "42");
    EXPECT_EQ(p.value("-5", 1), "-5");
    EXPECT_EQ(p.value("007", 0), "007");
    EXPECT_EQ(p.value("+5", 2), "{-wildcard +5}");
    EXPECT_EQ(p.value("2147483648", 2), "{-wildcard 2147483648}");
    EXPECT_EQ(p.value("*.txt", 2), "{-wildcard *.txt}");
    EXPECT_EQ(p.value("Save as.*", 1), "{-regularexpression {Save as.*}}");
    EXPECT_EQ(p.value("Save as", 7), "{Save as}");

    EXPECT_EQ(p.properties({{"type", "QPushButton"}, {"text", "OK"}}),
              "[::Tarvin::ObjectName text OK type QPushButton]");
    EXPECT_EQ(p.properties({{"window title", ""}}), "[::Tarvin::ObjectName {window title} {}]");
    EXPECT_EQ(p.properties({}), "[::Tarvin::ObjectName {}]");
    EXPECT_EQ(p.hierarchical(""), "[::Tarvin::ObjectName {}]");
    EXPECT_EQ(p.hierarchical("Main Window.OK"), "[::Tarvin::ObjectName {Main Window.OK}]");

    const QStringList inputs = {"Foo", "$Foo", "$names::Foo", "$namesX", "$names:Foo", "names::Foo"};
    const QStringList unqualified = {"Foo", "Foo", "Foo", "namesX", "names:Foo", "names::Foo"};
    for (int i = 0; i < inputs.size(); ++i) {
        EXPECT_EQ(map.fullyUnqualifiedSymbolicName(inputs[i]).text(), unqualified[i]);
        EXPECT_EQ(map.fullyQualifiedSymbolicName(inputs[i]).text(), "$names::" + unqualified[i]);
        EXPECT_EQ(map.semiQualifiedSymbolicName(inputs[i]).text(), "$" + unqualified[i]);
    }
    EXPECT_EQ(p.symbolic("Foo"), ":$Foo");
}

TEST_F(ObjectMapTest, InsertionPoint)
{
    TclScriptedObjectMap map(dir.filePath("names.tcl"));
    TclScriptedObjectMapProbe p{map};
    int index = -1;
    QStringList lines = {"namespace eval names {", "    set A x", "}", "", "# helpers", "proc f {} {", "  }", "# tail"};
    EXPECT_TRUE(p.insertionPos(&lines, &index));
    EXPECT_EQ(index, 6) << "the last closing line";
    lines.insert(3, "    # @new-entries@");
    EXPECT_TRUE(p.insertionPos(&lines, &index));
    EXPECT_EQ(index, 3) << "the marker first";
    lines = QStringList{"set A x", "# no block"};
    EXPECT_FALSE(p.insertionPos(&lines, &index));
    EXPECT_EQ(index, 0);
    lines.clear();
    EXPECT_FALSE(p.insertionPos(&lines, &index));
    EXPECT_EQ(index, 0);

    // Without a template a new map has no place for entries: nothing is added.
    qputenv("TARVIN_PREFIX", "/nonexistent");
    TclScriptedObjectMap bare(dir.filePath("new.tcl"));
    EXPECT_TRUE(bare.lines().isEmpty());
    EXPECT_TRUE(bare.symbolicName("type A", true).isEmpty());
    EXPECT_FALSE(bare.addComment("x"));
}

TEST_F(ObjectMapTest, AddedEntriesSurviveSaveAndReload)
{
    const QString path = dir.filePath("shared scripts/names.tcl"); // blanks: the path is sourced braced
    QDir().mkpath(QFileInfo(path).absolutePath());
    {
        TclScriptedObjectMap map(path);
        ASSERT_FALSE(map.lines().isEmpty()) << "a new map starts from the template";
        const QString main = map.symbolicName("type MainWindow name mainWindow", true).text();
        EXPECT_EQ(main, "$names::mainWindow_MainWindow");
        EXPECT_EQ(map.symbolicName("type PushButton text {Save as…} container {type MainWindow name mainWindow}",
                                   true).text(),
                  "$names::Save_as_PushButton");
        EXPECT_EQ(map.symbolicName("type Label text {$HOME [pwd] {a}b}", true).text(), "$names::HOME_pwd_a_b_Label");
        EXPECT_EQ(map.symbolicName("type Label text {a\\b} name x", true, "HOME pwd a b Label").text(),
                  "$names::HOME_pwd_a_b_Label_2");
        EXPECT_EQ(map.symbolicName("Main Window.OK", true, "ok").text(), "$names::ok");
        // Known real names, also with their pairs in another order, give the entry they have.
        EXPECT_EQ(map.symbolicName("name mainWindow type MainWindow", true).text(), main);
        EXPECT_EQ(map.symbolicName("type Other", false).text(), "");
        EXPECT_TRUE(map.addComment("Ünïcode comment"));
        QString error;
        ASSERT_TRUE(map.save(&error)) << error.toStdString();
        EXPECT_TRUE(map.lines().contains("    set Save_as_PushButton [::Tarvin::ObjectName container "
                                         "$mainWindow_MainWindow text {Save as…} type PushButton]"))
            << map.lines().join('\n').toStdString();
    }

    TclScriptedObjectMap reread(path);
    QString error;
    ASSERT_TRUE(reread.load(&error)) << error.toStdString();
    const QMap<QString, QString> expected = {
        {"$names::mainWindow_MainWindow", "name mainWindow type MainWindow"},
        {"$names::Save_as_PushButton",
         "container {name mainWindow type MainWindow} text {Save as…} type PushButton"},
        {"$names::HOME_pwd_a_b_Label", "text {$HOME [pwd] {a}b} type Label"},
        {"$names::HOME_pwd_a_b_Label_2", "name x text {a\\b} type Label"},
        {"$names::ok", "Main Window.OK"},
    };
    EXPECT_EQ(reread.toLegacyRepresentation(), expected);
    EXPECT_EQ(reread.getRealName(QStringLiteral("$ok")), "Main Window.OK");
    EXPECT_TRUE(reread.variableNameExists("HOME_pwd_a_b_Label_2"));
    EXPECT_FALSE(reread.variableNameExists("HOME_pwd"));
    // The helper hands out object map objects; scripts evaluate them to the real name.
    TclScriptedObjectMapProbe p{reread};
    const FunctionCallResult<ScriptedEntryMap> entries = p.entries();
    ASSERT_TRUE(entries.succeeded());
    EXPECT_EQ(entries.value().at("ok")->toString(), "Main Window.OK");
}

TEST_F(ObjectMapTest, FailuresNameFileAndLine)
{
    auto failure = [](const QString& path) {
        TclScriptedObjectMap map(path);
        TclScriptedObjectMapProbe p{map};
        const FunctionCallResult<ScriptedEntryMap> r = p.entries();
        EXPECT_FALSE(r.succeeded()) << path.toStdString();
        EXPECT_TRUE(r.value().empty());
        return r.errorText();
    };
    EXPECT_EQ(failure(dir.filePath("missing.tcl")), "");

    // A "%1" in the path stays in the message as it is.
    const QString unknown = write("unknown%1.tcl", QByteArray(header) + "    set A [::Tarvin::ObjectName type A]\n"
                                                                       "    set B [bogus]\n}\n");
    EXPECT_EQ(failure(unknown), QStringLiteral("In file %1 line 4: invalid command name \"bogus\"").arg(unknown));

    const QString unclosed = write("unclosed.tcl", QByteArray(header) + "    set A [::Tarvin::ObjectName type A]\n");
    EXPECT_TRUE(failure(unclosed).startsWith(QStringLiteral("In file %1 line ").arg(unclosed)));

    const QString outside = write("outside.tcl", "package require tarvin::objectmaphelper\n"
                                                 "set Foo [::Tarvin::ObjectName type A]\n");
    EXPECT_EQ(failure(outside), "No namespace named 'names' found in script file.");

    // The next read starts again from the file.
    write("unknown%1.tcl", QByteArray(header) + "}\n");
    TclScriptedObjectMap fixed(unknown);
    TclScriptedObjectMapProbe p{fixed};
    const FunctionCallResult<ScriptedEntryMap> empty = p.entries();
    EXPECT_TRUE(empty.succeeded()) << empty.errorText().toStdString();
    EXPECT_TRUE(empty.value().empty());

    // Last: it replaces the helper's command in the interpreter, which outlives the map.
    const QString notDict = write("notdict.tcl", QByteArray(header) + "}\n"
                                                 "proc ::ObjectMapHelper::entries {ns} { return {a b c} }\n");
    EXPECT_EQ(failure(notDict), "Unexpected result type");
}

TEST_F(ObjectMapTest, InterpreterMadeOnlyWhenNoneRuns)
{
    const QString path = write("names.tcl", QByteArray(header) + "    set A [::Tarvin::ObjectName type A]\n}\n");
    {
        FakeRunner runner;
        TclInterpreter running(&runner);
        TclScriptedObjectMap map(path);
        map.setRunner(&runner);
        ASSERT_TRUE(map.load(nullptr));
        EXPECT_EQ(Interpreter::self(), &running);
        EXPECT_FALSE(runner.result.isStarted());
        EXPECT_TRUE(running.searchPath().isEmpty());
        // The entries are now variables of the running interpreter.
        ASSERT_TRUE(running.evaluate("$names::A", QString(), false, true));
        EXPECT_EQ(running.resultMessage(), "type A");
    }
    ASSERT_EQ(Interpreter::self(), nullptr);

    TclScriptedObjectMap map(path);
    ASSERT_TRUE(map.load(nullptr));
    ASSERT_NE(Interpreter::self(), nullptr);
    TestResult* result = map.runner()->testResult();
    ASSERT_NE(result, nullptr);
    EXPECT_TRUE(result->isStarted());
    EXPECT_EQ(result->startedAs(), "tst_dummy");
    EXPECT_EQ(Interpreter::self()->searchPath(), QStringList(dir.path()));
}
