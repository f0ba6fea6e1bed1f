// The settings store: file format, quoting, key lookup and the warnings for damaged files.
#include "settings.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>

using Tarvin::Settings;

namespace {

QStringList warnings;

void collectWarnings(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtWarningMsg)
        warnings << message;
}

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        warnings.clear();
        previous = qInstallMessageHandler(collectWarnings);
    }
    void TearDown() override { qInstallMessageHandler(previous); }

    // Writes the text as the file paths.ini and returns the directory.
    QString write(const QByteArray& text, const QString& name = QStringLiteral("paths.ini"))
    {
        QFile file(dir.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
        return dir.path();
    }

    QTemporaryDir dir;
    QtMessageHandler previous = nullptr;
};

} // namespace

TEST_F(SettingsTest, ReadsQuotedValuesWithEscapes)
{
    Settings s(write("# comment\n"
                     "[Paths]\n"
                     "Scripting/TclLibrary = \"C:\\\\Tcl\\\\lib\"\n"
                     "  Spaced Key   =   \"a\\\"b\\tc\\nd\\re\"  \n"
                     "\n"
                     "[Other]\n"
                     "x=\"1\"\n"
                     "unicode = \"Grüße\"\n"),
               QStringLiteral("paths.ini"));
    EXPECT_EQ(s.value("Paths", "Scripting/TclLibrary", "def"), QStringLiteral("C:\\Tcl\\lib"));
    EXPECT_EQ(s.value("Paths", "Spaced Key", "def"), QStringLiteral("a\"b\tc\nd\re"));
    EXPECT_EQ(s.value("Other", "x", "def"), QStringLiteral("1"));
    EXPECT_EQ(s.value("Other", "unicode", "def"), QStringLiteral("Grüße"));
    // Group names and keys are case-sensitive; missing ones give the default.
    EXPECT_EQ(s.value("paths", "Scripting/TclLibrary", "def"), QStringLiteral("def"));
    EXPECT_EQ(s.value("Paths", "scripting/tcllibrary", "def"), QStringLiteral("def"));
    EXPECT_EQ(s.value("Nope", "x", "def"), QStringLiteral("def"));
    EXPECT_TRUE(warnings.isEmpty()) << warnings.join('\n').toStdString();
}

TEST_F(SettingsTest, KeysAreNormalisedAndChildKeysAreOneLevelBelowThePrefix)
{
    Settings s(write("[Paths]\n"
                     "Scripting/TclLibrary = \"a\"\n"
                     "Scripting/Deep/Other = \"b\"\n"
                     "Scripting/Another = \"c\"\n"
                     "Top = \"d\"\n"
                     "a_b = \"eq\"\n"),
               "paths.ini");
    EXPECT_EQ(s.value("Paths", "/Scripting/TclLibrary/", ""), QStringLiteral("a"));
    EXPECT_EQ(s.value("Paths", "Scripting//TclLibrary", ""), QStringLiteral("a"));
    EXPECT_EQ(s.value("Paths", "a=b", ""), QStringLiteral("eq"));
    EXPECT_EQ(s.childKeys("Paths", "Scripting"), QStringList({"Another", "TclLibrary"}));
    EXPECT_EQ(s.childKeys("Paths", "/Scripting/"), QStringList({"Another", "TclLibrary"}));
    EXPECT_EQ(s.childKeys("Paths", ""), QStringList({"Top", "a_b"}));
    EXPECT_TRUE(s.childKeys("Missing", "Scripting").isEmpty());
}

TEST_F(SettingsTest, MalformedValuesGiveTheDefaultWithAWarning)
{
    Settings s(write("[G]\n"
                     "unquoted = abc\n"
                     "two = \"a\" \"b\"\n"
                     "badEscape = \"a\\xb\"\n"
                     "open = \"abc\n"
                     "wide = \"a\\\xc3\xa9\"\n"),
               "paths.ini");
    const QString in = " in " + dir.filePath("paths.ini");
    // é is below 256: an unknown escape, named by its character.
    const QList<QPair<const char*, QString>> cases = {
        {"unquoted", "Tarvin::Settings: entry is not a string" + in},
        {"badEscape", "Tarvin::Settings: unknown quoted character 'x' (0x78)" + in},
        {"open", "Tarvin::Settings: string not delimited by quotes" + in},
        {"wide", "(0xe9)" + in}};
    for (const auto& c : cases) {
        warnings.clear();
        EXPECT_EQ(s.value("G", c.first, "def"), QStringLiteral("def")) << c.first;
        ASSERT_EQ(warnings.size(), 1) << c.first;
        EXPECT_TRUE(warnings.last().endsWith(c.second)) << warnings.last().toStdString();
    }

    EXPECT_EQ(s.value("G", "two", "def"), QStringLiteral("def"));
    QStringList both;
    EXPECT_TRUE(s.unquoteStringList("\"a\" \"b\"", both));
    EXPECT_EQ(both, QStringList({"a", "b"}));

    warnings.clear();
    QStringList out;
    EXPECT_FALSE(s.unquoteStringList(QStringLiteral("\"\\\u20ac\""), out));
    ASSERT_EQ(warnings.size(), 1);
    EXPECT_TRUE(warnings.last().startsWith("Tarvin::Settings: unknown quoted character with hex code 0x20ac in "));
}

TEST_F(SettingsTest, DamagedMissingAndUnreadableFilesKeepWhatWasReadBefore)
{
    Settings noGroup(write("key = \"before any group\"\n[Paths]\nx = \"1\"\n", "a.ini"), "a.ini");
    EXPECT_EQ(noGroup.value("Paths", "x", "def"), QStringLiteral("def"));
    ASSERT_EQ(warnings.size(), 1);
    EXPECT_EQ(warnings.last(), QStringLiteral("Tarvin::Settings::parse: in file %1: line `key = \"before any "
                                              "group\"' not in a group (line 1)")
                                   .arg(dir.filePath("a.ini")));
    // A damaged file's bytes are named, never sent to the terminal as they are.
    warnings.clear();
    Settings binary(write("[Paths]\n\x1b[2J\x7f\xc2\x9b\n", "bin.ini"), "bin.ini");
    ASSERT_EQ(warnings.size(), 1);
    EXPECT_EQ(warnings.last(), QStringLiteral("Tarvin::Settings::parse: in file %1: corrupted line `\\x1b[2J\\x7f\\x9b' "
                                              "in group `Paths' (line 2)")
                                   .arg(dir.filePath("bin.ini")));

    // The corrupted line's warning text is read in runner_test InstallationPrefixAndDamagedSettings.
    Settings corrupted(write("[Paths]\nx = \"1\"\nbroken line\ny = \"2\"\n", "b.ini"), "b.ini");
    EXPECT_EQ(corrupted.value("Paths", "x", "def"), QStringLiteral("1"));
    EXPECT_EQ(corrupted.value("Paths", "y", "def"), QStringLiteral("def"));
    EXPECT_EQ(warnings.size(), 2);

    // A repeated header empties the group; a later entry of the same key wins. No warning, nor for a missing file.
    Settings repeated(write("[Paths]\nx = \"1\"\ny = \"1\"\n[Paths]\ny = \"2\"\ny = \"3\"\n", "c.ini"), "c.ini");
    EXPECT_EQ(repeated.value("Paths", "x", "def"), QStringLiteral("def"));
    EXPECT_EQ(repeated.value("Paths", "y", "def"), QStringLiteral("3"));
    Settings missing(dir.path(), "nothing.ini");
    EXPECT_EQ(missing.value("Paths", "x", "def"), QStringLiteral("def"));
    EXPECT_EQ(warnings.size(), 2);

    // A directory in the file's place exists but cannot be read as a file.
    QDir(dir.path()).mkdir("isdir.ini");
    Settings unreadable(dir.path(), "isdir.ini");
    EXPECT_EQ(unreadable.value("Paths", "x", "def"), QStringLiteral("def"));
    ASSERT_EQ(warnings.size(), 3);
    EXPECT_TRUE(warnings.last().startsWith("Tarvin::Settings::parse: could not open file `"));
}

TEST_F(SettingsTest, FlushWritesGroupsAndKeysInOrder)
{
    Settings s(write("[B]\nz = \"1\"  \na = \"x\\\\y\"\n[A]\nk=\"v\"\n", "w.ini"), "w.ini");
    ASSERT_TRUE(s.flush());
    QFile file(dir.filePath("w.ini"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("[A]\nk = \"v\"\n\n[B]\na = \"x\\\\y\"\nz = \"1\"\n\n"));

    Settings nested(dir.filePath("new/sub"), "n.ini");
    EXPECT_TRUE(nested.flush());
    EXPECT_TRUE(QFile::exists(dir.filePath("new/sub/n.ini")));
}
