// Placing errors from errorInfo: library frames marked, commands found past Tcl's shortened quotes, and
// nothing placed when a procedure's definition is unknown.
#include "tclerrorlocation.h"

#include <gtest/gtest.h>

namespace {

std::string describe(const QVector<ErrorFrame>& frames)
{
    std::string text;
    for (const ErrorFrame& frame : frames)
        text += frame.file.toStdString() + ":" + std::to_string(frame.line) + (frame.library ? " lib" : "") + "\n";
    return text;
}

TEST(LocateError, LibraryFramesAreMarked)
{
    const QVector<SourceText> sources = {
        {"/suite/tst_a/test.tcl", QString(), "proc main {} {\n    set x 1\n    helper 2\n}\n"},
        {"/usr/share/tcltk/tcl8.6/helper.tcl", "helper.tcl", "# library\nproc helper {n} {\n    set y 0\n    expr {$n / $y}\n}\n"},
    };
    const QString info = "divide by zero\n    invoked from within\n\"expr {$n / $y}\"\n"
                         "    (procedure \"helper\" line 3)\n    invoked from within\n\"helper 2\"\n"
                         "    (procedure \"main\" line 3)\n    invoked from within\n\"main\"";
    EXPECT_EQ(describe(locateError(info, sources, QString(), 0, "/usr/share/tcltk/tcl8.6")),
              "/usr/share/tcltk/tcl8.6/helper.tcl:4 lib\n/suite/tst_a/test.tcl:3\n");
}

TEST(LocateError, ShortenedQuotesAreLookedUpInTheFile)
{
    // errorInfo quotes at most 150 bytes of a command: the failing command lies past the cut.
    QString body;
    for (int i = 0; i < 12; ++i)
        body += QStringLiteral("        set v%1 [string repeat x 10]\n").arg(i);
    const QString script = "proc repeat {body} {\n    uplevel 1 $body\n}\nproc main {} {\n    repeat {\n" + body +
                           "        expr {1/0}\n    }\n}\n";
    const QString shortened = ("repeat {\n" + body).left(147) + "...";
    const QString info = "divide by zero\n    invoked from within\n\"expr {1/0}\"\n    (\"uplevel\" body line 14)\n"
                         "    invoked from within\n\"uplevel 1 $body\"\n    (procedure \"repeat\" line 2)\n"
                         "    invoked from within\n\"" + shortened + "\"\n    (procedure \"main\" line 2)\n"
                         "    invoked from within\n\"main\"";
    EXPECT_EQ(describe(locateError(info, {{"t.tcl", QString(), script}}, QString(), 0, QString())),
              "t.tcl:18\nt.tcl:2\nt.tcl:5\n");
}

TEST(LocateError, NothingIsPlacedWithoutADefinition)
{
    const QString info = "oops\n    while executing\n\"error oops\"\n    (procedure \"elsewhere\" line 2)\n"
                         "    invoked from within\n\"elsewhere\"";
    EXPECT_TRUE(locateError(info, {{"t.tcl", QString(), "proc main {} {}\n"}}, QString(), 0, QString()).isEmpty());
    // A command of the evaluated script's top level is placed by the line Tcl gives.
    const QString top = "oops\n    while executing\n\"error oops\"";
    EXPECT_EQ(describe(locateError(top, {{"t.tcl", QString(), "set a 1\nerror oops\n"}}, "t.tcl", 2, QString())),
              "t.tcl:2\n");
}

} // namespace
