// The instrumenter on real code nobody here wrote: Debian's tcllib. Every file comes back
// unchanged once the hook texts are removed, and modules loaded through the library's instrumenting
// `source` compute what they compute as written. Skipped when tcllib is not installed.
#include "runnerinterface.h"
#include "tclinstrumenter.h"
#include "tclinterpreter.h"

#include <gtest/gtest.h>

#include <tcl.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QRegularExpression>

#include <string>

namespace {

QStringList tcllibDirectories()
{
    return QDir(QStringLiteral("/usr/share/tcltk"))
        .entryList({QStringLiteral("tcllib*")}, QDir::Dirs, QDir::Name);
}

TEST(InstrumentTcllib, EveryFileComesBackWithoutItsHooks)
{
    const QStringList dirs = tcllibDirectories();
    if (dirs.isEmpty())
        GTEST_SKIP() << "tcllib is not installed";
    const QRegularExpression hook(
        QStringLiteral("__tarvin_dbg (step|frame push|frame pop) \\d+ \\d+ 42; "));
    int files = 0;
    int hooked = 0;
    for (const QString& dir : dirs) {
        QDirIterator it(QStringLiteral("/usr/share/tcltk/") + dir, {QStringLiteral("*.tcl")},
                        QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            QFile file(path);
            ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
            const QString code = QString::fromUtf8(file.readAll());
            QString out = instrumentSource(code, 42);
            hooked += out != code;
            EXPECT_EQ(out.remove(hook), code) << path.toStdString();
            ++files;
        }
    }
    EXPECT_GT(files, 100);
    EXPECT_GT(hooked, files / 2);
}

struct Runner : RunnerInterface {
    QString testScriptPath() const override { return QString(); }
    QString testCaseName() const override { return QString(); }
    QString testSuiteName() const override { return QString(); }
};

// "code:result" of a script in a plain interpreter.
std::string runPlain(const char* script)
{
    Tcl_Interp* interp = Tcl_CreateInterp();
    EXPECT_EQ(Tcl_Init(interp), TCL_OK) << Tcl_GetStringResult(interp);
    const int code = Tcl_Eval(interp, script);
    const std::string result = std::to_string(code) + ":" + Tcl_GetStringResult(interp);
    Tcl_DeleteInterp(interp);
    return result;
}

// The same, instrumented, in an interpreter of the library: its `source` instruments every file that
// packages load, and its debug hook runs.
std::string runInstrumented(const char* script)
{
    Runner runner;
    TclInterpreter interp(&runner);
    if (!interp.evaluate(QString::fromUtf8(script), QStringLiteral("modules.tcl"), true, false))
        return "1:" + interp.errorMessage().toStdString();
    return std::string("0:") + Tcl_GetStringResult(interp.tclInterp());
}

TEST(InstrumentTcllib, ModulesBehaveAsWritten)
{
    if (tcllibDirectories().isEmpty())
        GTEST_SKIP() << "tcllib is not installed";
    Tcl_FindExecutable(nullptr);

    const char* const scripts[] = {
        "package require math; list [math::max 3 9 2] [math::fibonacci 10] [math::sum 1 2 3]",
        "package require math::statistics; math::statistics::mean {1 2 3 4}",
        "package require math::bigfloat; namespace eval b { namespace import ::math::bigfloat::*;"
        " tostr [add [fromstr 1.5] [fromstr 2.25]] }",
        "package require math::linearalgebra; math::linearalgebra::dotproduct {1 2} {3 4}",
        "package require struct::list; struct::list reverse {1 2 3}",
        "package require struct::set; lsort [struct::set union {a b} {b c}]",
        "package require struct::stack; struct::stack s; s push 1 2 3; list [s pop] [s size]",
        "package require struct::tree; struct::tree t; t insert root end a; t children root",
        "package require struct::matrix; struct::matrix m; m add columns 2; m add row {1 2};"
        " m get row 0",
        "package require base64; list [base64::encode hello] [base64::decode aGVsbG8=]",
        "package require base32; base32::encode abc",
        "package require md5; md5::md5 -hex abc",
        "package require sha1; sha1::sha1 -hex abc",
        "package require sha256; sha2::sha256 -hex abc",
        "package require crc32; crc::crc32 hello",
        "package require aes; binary encode hex [aes::aes -dir encrypt -key 0123456789abcdef"
        " 0123456789abcdef]",
        "package require json; json::json2dict {{\"a\":[1,2],\"b\":{\"c\":\"d\"}}}",
        "package require json; json::json2dict {{\"a\":}",
        "package require csv; csv::split {a,\"b,c\",d}",
        "package require uri; dict get [uri::split http://a.b/c?d] path",
        "package require textutil; textutil::adjust \"a b c d e f\" -length 5",
        "package require textutil::expander; textutil::expander e; e expand {a[expr 1+1]b}",
        "package require htmlparse; htmlparse::mapEscapes \"&lt;a&gt;\"",
        "package require huddle; set h [huddle create a b];"
        " list [huddle type $h] [huddle exists $h a] [huddle get_stripped $h]",
        "package require logger; set l [logger::init x]; ${l}::setlevel warn;"
        " ${l}::currentloglevel",
    };
    for (const char* script : scripts) {
        const std::string plain = runPlain(script);
        EXPECT_EQ(plain.substr(0, 2), std::string(script).find("\"a\":}") == std::string::npos ? "0:" : "1:")
            << script << " -> " << plain;
        EXPECT_EQ(runInstrumented(script), plain) << script;
    }
}

} // namespace
