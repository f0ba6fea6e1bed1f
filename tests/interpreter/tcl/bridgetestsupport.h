// Shared by the value bridge tests: a test interpreter with its own installation prefix, collected
// warnings, helpers that make Tcl values of a given internal type, and a small application model
// declared with the class builder.
#pragma once

#include "builder.h"
#include "runnerinterface.h"
#include "tclinterpreter.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <ostream>

inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace bridgetest {

struct FakeRunner : RunnerInterface {
    QString script;
    QString testScriptPath() const override { return script; }
    QString testCaseName() const override { return QStringLiteral("tst_bridge"); }
    QString testSuiteName() const override { return QStringLiteral("suite"); }
    QString inspection; // object inspection in the debugger's variable view: off while empty
    QString objectInspectionText() const override { return inspection; }
};

inline QStringList& warnings()
{
    static QStringList list;
    return list;
}

inline void collectWarnings(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtWarningMsg)
        warnings() << message;
}

// The application model the tests call into:
//   Widget <- Button <- PushButton; Color (made from a text); Other (unrelated);
//   Painter with overloads of several methods.
inline void declareModel()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    auto nothing = [](Object*, const ObjectList&) { return Inspector::self()->createVoid(); };
    ClassBuilder("Widget").property("text", "string").property("enabled", "bool");
    ClassBuilder("Button").base("Widget").method("click", {"int"}, nothing);
    ClassBuilder("PushButton").base("Button").method("click", {"string"}, nothing);
    ClassBuilder("Other");
    ClassBuilder("Color").property("name", "string").constructor({"string"}, [](Object*, const ObjectList& args) {
        SharedPtr<Object> color(new Object(Inspector::self()->classByName("Color"), ObjectAttribute::Value()));
        color->setValue("name", args.value(0));
        return color;
    });
}

inline const Class* cls(const char* name)
{
    return Inspector::self()->classByName(QString::fromLatin1(name));
}

inline SharedPtr<Object> makeObject(const char* className, const QString& name = QString())
{
    SharedPtr<Object> object(new Object(cls(className)));
    object->setName(name);
    return object;
}

// A value without an internal type.
inline Tcl_Obj* untyped(const char* text)
{
    return Tcl_NewStringObj(text, -1);
}

inline const char* typeOf(Tcl_Obj* value)
{
    return value->typePtr ? value->typePtr->name : "";
}

// Holds Tcl values for the length of a test.
class Values {
public:
    ~Values() { clear(); }
    Tcl_Obj* operator()(Tcl_Obj* v)
    {
        Tcl_IncrRefCount(v);
        held << v;
        return v;
    }
    void clear()
    {
        for (Tcl_Obj* v : held)
            Tcl_DecrRefCount(v);
        held.clear();
    }

private:
    QList<Tcl_Obj*> held;
};

// Each test runs with a fresh interpreter and its own installation prefix.
class BridgeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(prefix.isValid());
        oldPrefix = qgetenv("TARVIN_PREFIX");
        qputenv("TARVIN_PREFIX", prefix.path().toUtf8());
        QDir(prefix.path()).mkpath("etc");
        declareModel();
        Inspector::self()->setApplicationContextValid(true); // the declared model stands for a running application
        interpreter.reset(new TclInterpreter(&runner));
        interp = interpreter->tclInterp();
        warnings().clear();
        previousHandler = qInstallMessageHandler(collectWarnings);
    }
    void TearDown() override
    {
        qInstallMessageHandler(previousHandler);
        keep.clear();
        interpreter.reset();
        qputenv("TARVIN_PREFIX", oldPrefix);
    }

    // The result of a script, its internal type kept; held until the test ends.
    Tcl_Obj* eval(const char* script)
    {
        if (Tcl_EvalEx(interp, script, -1, 0) != TCL_OK) {
            ADD_FAILURE() << script << ": " << Tcl_GetStringResult(interp);
            return keep(Tcl_NewObj());
        }
        Tcl_Obj* value = keep(Tcl_GetObjResult(interp));
        Tcl_ResetResult(interp);
        return value;
    }
    QString result() const { return QString::fromUtf8(Tcl_GetStringResult(interp)); }

    QTemporaryDir prefix;
    FakeRunner runner;
    std::unique_ptr<TclInterpreter> interpreter;
    Tcl_Interp* interp = nullptr;
    Values keep;
    QByteArray oldPrefix;
    QtMessageHandler previousHandler = nullptr;
};

} // namespace bridgetest
