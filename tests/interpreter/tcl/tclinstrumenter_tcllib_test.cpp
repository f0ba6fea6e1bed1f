// The instrumenter on real code nobody here wrote: Debian's tcllib. Every file comes back
// unchanged once the hook texts are removed, and modules loaded in instrumented form compute
// what they compute as written. Skipped when tcllib is not installed.
#include "tclinstrumenter.h"

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

/*
 * instrumentingSource --
 *      `source ?-encoding name? fileName` that instruments the file first, the way the
 *      debugger's source command does, and otherwise behaves as Tcl's own: [info script]
 *      names the file meanwhile, and a `return` at the file's top level ends it normally.
 */
int instrumentingSource(ClientData, Tcl_Interp* interp, int objc, Tcl_Obj* const objv[])
{
    if (objc != 2 && objc != 4) {
        Tcl_WrongNumArgs(interp, 1, objv, "?-encoding name? fileName");
        return TCL_ERROR;
    }
    QFile file(QString::fromUtf8(Tcl_GetString(objv[objc - 1])));
    if (!file.open(QIODevice::ReadOnly)) {
        Tcl_SetObjResult(interp, Tcl_NewStringObj("couldn't read file", -1));
        return TCL_ERROR;
    }
    const QByteArray code = instrumentSource(QString::fromUtf8(file.readAll()), 1).toUtf8();

    Tcl_Obj* previous = Tcl_NewStringObj("", 0);
    if (Tcl_Eval(interp, "info script") == TCL_OK)
        previous = Tcl_GetObjResult(interp);
    Tcl_IncrRefCount(previous);
    Tcl_Obj* setScript[3] = {Tcl_NewStringObj("info", -1), Tcl_NewStringObj("script", -1),
                             objv[objc - 1]};
    Tcl_EvalObjv(interp, 3, setScript, 0);
    Tcl_ResetResult(interp);

    int code_ = Tcl_EvalEx(interp, code.constData(), code.size(), 0);
    Tcl_Obj* result = Tcl_GetObjResult(interp);
    Tcl_IncrRefCount(result);
    setScript[2] = previous;
    Tcl_EvalObjv(interp, 3, setScript, 0);
    Tcl_SetObjResult(interp, result);
    Tcl_DecrRefCount(result);
    Tcl_DecrRefCount(previous);
    return code_ == TCL_RETURN ? TCL_OK : code_;
}

// Runs a script in a fresh interpreter with a no-op debug hook; "code:result".
std::string run(const char* script, bool instrumented)
{
    Tcl_Interp* interp = Tcl_CreateInterp();
    EXPECT_EQ(Tcl_Init(interp), TCL_OK) << Tcl_GetStringResult(interp);
    Tcl_Eval(interp, "proc __tarvin_dbg args {}");
    QByteArray text(script);
    if (instrumented) {
        Tcl_CreateObjCommand(interp, "source", instrumentingSource, nullptr, nullptr);
        text = instrumentSource(QString::fromUtf8(script), 2).toUtf8();
    }
    const int code = Tcl_EvalEx(interp, text.constData(), text.size(), TCL_EVAL_GLOBAL);
    const std::string result = std::to_string(code) + ":" + Tcl_GetStringResult(interp);
    Tcl_DeleteInterp(interp);
    return result;
}

TEST(InstrumentTcllib, ModulesBehaveAsWritten)
{
    if (tcllibDirectories().isEmpty())
        GTEST_SKIP() << "tcllib is not installed";
    Tcl_FindExecutable(nullptr);

    const char* const scripts[] = {
        "package require math; list [math::max 3 9 2] [math::fibonacci 10] [math::sum 1 2 3]",
        "package require math::statistics; math::statistics::mean {1 2 3 4}",
        "package require math::bigfloat; namespace import math::bigfloat::*;"
        " tostr [add [fromstr 1.5] [fromstr 2.25]]",
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
        const std::string plain = run(script, false);
        EXPECT_EQ(plain.substr(0, 2), std::string(script).find("\"a\":}") == std::string::npos ? "0:" : "1:")
            << script << " -> " << plain;
        EXPECT_EQ(run(script, true), plain) << script;
    }
}

} // namespace
