// The Gherkin library: the parser on a feature that uses every construct, malformed files with the line
// they are reported at, and the feature runner's order of hooks and steps, its skipping after a failure,
// outlines, tag filters and failfast.
#include "gherkin.h"

#include <gtest/gtest.h>

#include <QMap>
#include <QRegularExpression>
#include <QStringList>

using namespace Gherkin;

namespace {

Feature parse(const char* text)
{
    Feature feature;
    RunFeatureError error;
    EXPECT_TRUE(parseFeature(text, "f.feature", &feature, &error)) << error.toString().toStdString();
    return feature;
}

} // namespace

TEST(GherkinParser, ReadsEveryConstruct)
{
    const Feature f = parse("\xEF\xBB\xBF# language: en\r\n"
                            "@web @slow\n"
                            "Feature: Shopping\n"
                            "  Customers buy things.\n"
                            "  Twice.\n"
                            "\n"
                            "    After a gap.\n"
                            "\n"
                            "  Background: Logged in\n"
                            "    Given a user\n"
                            "    And a cart\n"
                            "\n"
                            "  @smoke\n"
                            "  Scenario: Buying\n"
                            "    When I buy:\n"
                            "      | item  | price |\n"
                            "      | a\\|b | 1\\\\2\\\\|\n"
                            "    Then I see\n"
                            "      \"\"\"\n"
                            "      first\n"
                            "        indented\n"
                            "      \"\"\"\n"
                            "    But * nothing else\n"
                            "    * a star\n"
                            "\n"
                            "  Scenario Outline: Many\n"
                            "    Given <n> items\n"
                            "    Examples: small\n"
                            "      | n |\n"
                            "      | 1 |\n"
                            "    @big\n"
                            "    Examples:\n"
                            "      | n |\n");
    EXPECT_EQ(f.title, "Shopping");
    EXPECT_EQ(f.location.line, 3u);
    EXPECT_EQ(f.tags, (QList<QByteArray>{"@web", "@slow"}));
    // Descriptions as written: indentation and inner blank lines kept, trailing ones dropped.
    EXPECT_EQ(f.description, "  Customers buy things.\n  Twice.\n\n    After a gap.");
    EXPECT_EQ(f.tagLines, (QList<quint64>{2, 2}));
    ASSERT_TRUE(f.hasBackground);
    ASSERT_EQ(f.background.steps.size(), 2);
    EXPECT_EQ(f.background.steps[1].type, Step::Given) << "And takes the type of the step before";
    ASSERT_EQ(f.scenarios.size(), 2);

    const Scenario& buying = f.scenarios[0];
    EXPECT_EQ(buying.tags, QList<QByteArray>{"@smoke"});
    EXPECT_FALSE(buying.isScenarioOutline());
    ASSERT_EQ(buying.steps.size(), 4);
    const Step& buy = buying.steps[0];
    EXPECT_EQ(buy.type, Step::When);
    EXPECT_EQ(buy.text, "When I buy:");
    EXPECT_EQ(buy.stepText(), "I buy:");
    EXPECT_EQ(buy.extent.begin.line, 15u);
    EXPECT_EQ(buy.extent.begin.column, 5u);
    ASSERT_EQ(buy.table.size(), 2);
    EXPECT_EQ(buy.table[1][0].text, "a|b");
    EXPECT_EQ(buy.table[1][1].text, "1\\2\\") << "an escaped backslash before the closing bar";
    EXPECT_EQ(buy.table[1][1].location.line, 17u);
    EXPECT_EQ(buy.table[1][1].location.column, 16u);
    EXPECT_EQ(buying.steps[1].multiLineText, (QList<QByteArray>{"first", "  indented"}));
    EXPECT_EQ(buying.steps[1].extent.end.line, 22u);
    EXPECT_EQ(buying.steps[1].docStringLine, 19u);
    EXPECT_EQ(buying.steps[1].docStringType, "");
    EXPECT_EQ(buying.steps[2].type, Step::Then);
    EXPECT_EQ(buying.steps[2].stepText(), "* nothing else");
    EXPECT_EQ(buying.steps[3].type, Step::Then);
    EXPECT_EQ(buying.steps[3].stepText(), "a star");

    const Scenario& many = f.scenarios[1];
    EXPECT_TRUE(many.isScenarioOutline());
    ASSERT_EQ(many.examples.size(), 2);
    EXPECT_EQ(many.examples[0].title, "small");
    EXPECT_EQ(many.examples[1].tags, QList<QByteArray>{"@big"});
    EXPECT_EQ(many.examples[1].tagLines, QList<quint64>{31});
    EXPECT_EQ(many.keyword, "Scenario Outline");
    EXPECT_EQ(many.examples[0].keyword, "Examples");
    EXPECT_EQ(many.examples[1].table.size(), 1) << "a header without rows";

    // A first step of And has no keyword to take.
    EXPECT_EQ(parse("Feature: x\nScenario: y\n  And z\n").scenarios[0].steps[0].type, Step::NoKeyword);
}

TEST(GherkinParser, MalformedFilesNameTheLine)
{
    struct Case {
        const char* text;
        int line;
        const char* message;
    } cases[] = {
        {"", 0, "no 'Feature:' in the file"},
        {"Scenario: x\n", 1, "expected 'Feature:', found 'Scenario: x'"},
        {"Feature: a\nFeature: b\n", 2, "a second 'Feature:'"},
        {"Feature: a\n  Given x\n", 2, "a step must belong to a Scenario or the Background"},
        {"Feature: a\nScenario: s\n  Given x\n  | a | b\n", 4, "a table row must end with '|'"},
        {"Feature: a\nScenario: s\n  | a |\n", 3, "a table row must follow a step or 'Examples:'"},
        {"Feature: a\nScenario: s\n  Given x\n  \"\"\"\n  text\n", 4, "not closed with \"\"\""},
        {"Feature: a\nScenario: s\n  \"\"\"\n  \"\"\"\n", 3, "a doc string must follow a step"},
        {"Feature: a\nScenario: s\n  Given x\n  | a |\n  \"\"\"\n  \"\"\"\n", 5, "a doc string must follow a step"},
        {"Feature: a\nScenario Outline: s\n  Given <x>\n", 2, "the Scenario Outline 's' has no Examples"},
        {"Feature: a\nScenario Outline: s\n  Given <x>\nExamples:\n", 4, "needs a table with a header row"},
        {"Feature: a\nScenario: s\nExamples:\n  | x |\n  Given y\n", 5, "a step cannot follow 'Examples:'"},
        {"Feature: a\nExamples:\n", 2, "'Examples:' must follow a Scenario Outline"},
        {"Feature: a\nScenario: s\n@tag\n", 3, "tags must be followed by"},
        {"Feature: a\n@tag\nBackground:\n", 3, "a Background cannot have tags"},
        {"Feature: a\nScenario: s\nBackground:\n", 3, "'Background:' must come before the first scenario"},
        {"Feature: a\nBackground:\nBackground:\n", 3, "a second 'Background:'"},
        {"Feature: a\n@ok notatag\n", 2, "'notatag' is not a tag"},
        {"Feature: a\nScenario: s\n  Given   \n", 3, "the step 'Given' has no text"},
        {"# language: xx-none\nFeature: a\n", 1, "unknown language 'xx-none'"},
        {"Feature: a\nRule: r\nScenario: s\n  Given x\nBackground:\n", 5,
         "'Background:' must come before the rule's first scenario"},
        {"Feature: a\nRule: r\nBackground:\nBackground:\n", 4, "a second 'Background:' in this Rule"},
        // Keywords of another language mean nothing in English.
        {"Funktionalit\xc3\xa4t: a\n", 1, "expected 'Feature:'"},
    };
    for (const Case& c : cases) {
        Feature feature;
        RunFeatureError error;
        EXPECT_FALSE(parseFeature(c.text, "bad.feature", &feature, &error)) << c.text;
        EXPECT_EQ(error.lineNo(), c.line) << c.text;
        EXPECT_TRUE(error.message().contains(QString::fromUtf8(c.message)))
            << c.text << "\n gave: " << error.message().toStdString();
        EXPECT_TRUE(error.toString().startsWith(c.line ? QStringLiteral("bad.feature:%1: ").arg(c.line)
                                                       : QStringLiteral("bad.feature: ")));
    }
    Feature feature;
    RunFeatureError error;
    EXPECT_FALSE(parseFeatureFile("/nonexistent/x.feature", &feature, &error));
    EXPECT_TRUE(error.toString().startsWith("/nonexistent/x.feature: cannot read the feature file"));
}

namespace {

// Records every call; steps whose text is in `outcomes` get that status (and message).
struct RecordingActions : ScriptActions {
    QStringList calls;
    QMap<QByteArray, Result> outcomes;
    QMap<QString, Result> hookOutcomes; // "kind phase" -> result

    Result runStep(const Step& step) override
    {
        QString call = QString::fromUtf8(step.text);
        for (const QByteArray& line : step.multiLineText)
            call += " /" + QString::fromUtf8(line);
        for (const TableRow& row : step.table)
            for (const TableCell& cell : row)
                call += " |" + QString::fromUtf8(cell.text);
        calls << call;
        return outcomes.value(step.stepText());
    }
    Result runHooks(int kind, int phase, const QByteArray& title) override
    {
        const QString key = QStringLiteral("%1 %2").arg(kind).arg(phase);
        calls << QStringLiteral("hook %1 %2").arg(key, QString::fromUtf8(title));
        return hookOutcomes.value(key);
    }
};

struct RecordingReport : ReportGenerator {
    QStringList events;
    void scenarioStarted(const Feature&, const Scenario&, const QByteArray& title) override
    {
        events << "scenario " + QString::fromUtf8(title);
    }
    void scenarioFinished(const Feature&, const Scenario&, const QByteArray&, bool passed) override
    {
        events << (passed ? "passed" : "failed");
    }
    StepOutcome stepFinished(const Feature&, const Step& step, StepOutcome outcome,
                             const ScriptActions::Result&) override
    {
        events << QStringLiteral("%1 %2").arg(int(outcome)).arg(QString::fromUtf8(step.stepText()));
        return outcome;
    }
    void hookFailed(const Feature&, int kind, int phase, const SourceLocation& where,
                    const ScriptActions::Result&) override
    {
        events << QStringLiteral("hook failed %1 %2 at %3").arg(kind).arg(phase).arg(where.line);
    }
};

ScriptActions::Result status(int s, const char* message = "")
{
    ScriptActions::Result r;
    r.status = s;
    r.message = message;
    return r;
}

} // namespace

TEST(GherkinRunner, HooksAndStepsRunInOrderAndAFailureEndsTheScenario)
{
    const Feature f = parse("Feature: F\n"
                            "Background:\n"
                            "  Given b\n"
                            "Scenario: one\n"
                            "  When bad\n"
                            "  Then never\n"
                            "Scenario: two\n"
                            "  When fine\n"
                            "    \"\"\"\n"
                            "    doc\n"
                            "    \"\"\"\n");
    RecordingActions actions;
    actions.outcomes["bad"] = status(ScriptActions::StepFailed, "boom");
    RecordingReport report;
    const RunSummary summary = runFeature(f, &actions, &report);
    EXPECT_EQ(actions.calls, (QStringList{"hook 0 0 F",
                                          "hook 1 0 one", "hook 2 0 b", "Given b", "hook 2 1 b",
                                          "hook 2 0 bad", "When bad", "hook 2 1 bad", "hook 1 1 one",
                                          "hook 1 0 two", "hook 2 0 b", "Given b", "hook 2 1 b",
                                          "hook 2 0 fine", "When fine /doc", "hook 2 1 fine", "hook 1 1 two",
                                          "hook 0 1 F"}));
    EXPECT_EQ(report.events, (QStringList{"scenario one", "0 b", "1 bad", "5 never", "failed",
                                          "scenario two", "0 b", "0 fine", "passed"}));
    EXPECT_EQ(summary.passed, 1);
    EXPECT_EQ(summary.failed, 1);

    // With failfast the run ends after the first failed scenario, the feature's end hooks still run.
    report.setFailfast(true);
    actions.calls.clear();
    EXPECT_EQ(runFeature(f, &actions, &report).passed, 0);
    EXPECT_FALSE(actions.calls.contains("hook 1 0 two"));
    EXPECT_EQ(actions.calls.last(), "hook 0 1 F");
}

TEST(GherkinRunner, StatusesDecideWhetherAScenarioFails)
{
    const Feature f = parse("Feature: F\nScenario: s\n  Given a\n  Then b\n");
    struct Case {
        ScriptActions::Result result;
        bool passes;
    } cases[] = {
        {status(ScriptActions::StepUndefined), false},
        {status(ScriptActions::StepAmbiguous, "2 match"), false},
        {status(ScriptActions::StepNotCallable, "arity"), false},
        {status(ScriptActions::StepAborted, "VerificationFailure: x"), false},
        {status(ScriptActions::StepAborted, "Skipped: later"), true},
    };
    for (const Case& c : cases) {
        RecordingActions actions;
        actions.outcomes["a"] = c.result;
        RecordingReport report;
        const RunSummary summary = runFeature(f, &actions, &report);
        EXPECT_EQ(summary.passed, c.passes ? 1 : 0) << c.result.status << " " << c.result.message.constData();
        EXPECT_FALSE(actions.calls.contains("Then b")) << "the rest of the scenario is not run";
    }

    // A failing step-start hook: the step does not run, the rest is skipped, the end hooks still run.
    RecordingActions actions;
    actions.hookOutcomes["2 0"] = status(ScriptActions::HookFailed, "hook error");
    RecordingReport report;
    EXPECT_EQ(runFeature(f, &actions, &report).failed, 1);
    EXPECT_FALSE(actions.calls.contains("Given a"));
    EXPECT_TRUE(actions.calls.contains("hook 1 1 s"));
    EXPECT_TRUE(report.events.contains("hook failed 2 0 at 3"));
    EXPECT_TRUE(report.events.contains("5 b"));

    // A failing feature-start hook runs no scenario.
    RecordingActions featureHook;
    featureHook.hookOutcomes["0 0"] = status(ScriptActions::HookFailed, "no app");
    EXPECT_EQ(runFeature(f, &featureHook, &report).failed, 1);
    EXPECT_FALSE(featureHook.calls.contains("Given a"));
}

TEST(GherkinRunner, OutlinesRunOncePerRowAndTagsFilter)
{
    const Feature f = parse("@all\nFeature: F\n"
                            "@slow\n"
                            "Scenario: plain\n  Given p\n"
                            "Scenario Outline: add <a>\n"
                            "  When I add <a> and <b>\n"
                            "    | <a> | x<b>y |\n"
                            "  Then see <missing>\n"
                            "Examples:\n  | a | b |\n  | 1 | 2 |\n"
                            "@big\nExamples:\n  | a | b |\n  | 3 | 4 |\n");
    RecordingActions actions;
    RecordingReport report;
    const RunSummary all = runFeature(f, &actions, &report);
    EXPECT_EQ(all.passed, 3);
    EXPECT_TRUE(actions.calls.contains("When I add 1 and 2 |1 |x2y"));
    EXPECT_TRUE(actions.calls.contains("Then see <missing>")) << "unknown names stay as written";
    EXPECT_TRUE(report.events.contains("scenario add 3 [a=3, b=4]"));

    Filter onlyBig;
    onlyBig.include("@big");
    actions.calls.clear();
    const RunSummary big = runFeature(f, &actions, &report, onlyBig);
    EXPECT_EQ(big.passed, 1);
    EXPECT_EQ(big.filteredOut, 2);
    EXPECT_TRUE(actions.calls.contains("When I add 3 and 4 |3 |x4y"));

    Filter notSlow;
    notSlow.exclude("@slow");
    notSlow.include("@all"); // feature tags count for every scenario
    EXPECT_EQ(runFeature(f, &actions, &report, notSlow).passed, 2);
}

TEST(GherkinTags, ExpressionsFollowPrecedenceAndReportSyntaxErrors)
{
    const QList<QByteArray> smoke{"@smoke"};
    const QList<QByteArray> smokeSlow{"@smoke", "@slow"};
    const QList<QByteArray> wip{"@wip"};
    const QList<QByteArray> none;
    struct Case {
        const char* expression;
        bool smoke, smokeSlow, wip, none;
    };
    const Case cases[] = {
        {"", true, true, true, true},
        {"@smoke", true, true, false, false},
        {"not @smoke", false, false, true, true},
        {"@smoke and not @slow", true, false, false, false},
        // not binds tighter than and, and tighter than or
        {"@wip or @smoke and @slow", false, true, true, false},
        {"(@wip or @smoke) and not @slow", true, false, true, false},
        {"not not @wip", false, false, true, false},
        {"not (@smoke or @wip)", false, false, false, true},
        {"  @smoke\tand(@slow)", false, true, false, false},
    };
    for (const Case& c : cases) {
        TagExpression e;
        QString error;
        ASSERT_TRUE(TagExpression::parse(c.expression, &e, &error)) << c.expression << error.toStdString();
        EXPECT_EQ(e.accepts(smoke), c.smoke) << c.expression;
        EXPECT_EQ(e.accepts(smokeSlow), c.smokeSlow) << c.expression;
        EXPECT_EQ(e.accepts(wip), c.wip) << c.expression;
        EXPECT_EQ(e.accepts(none), c.none) << c.expression;
    }

    // Escapes make operators and parentheses part of a tag.
    TagExpression escaped;
    QString error;
    ASSERT_TRUE(TagExpression::parse("@a\\(1\\) or \\and", &escaped, &error));
    EXPECT_TRUE(escaped.accepts({"@a(1)"}));
    EXPECT_TRUE(escaped.accepts({"and"}));
    EXPECT_FALSE(escaped.accepts({"@a"}));

    const QMap<QByteArray, QString> bad{
        {"@a and", "a tag is missing after 'and'"},
        {"and @a", "a tag is missing before 'and'"},
        {"(@a or @b", "a '(' is not closed"},
        {"@a @b", "unexpected '@b'"},
        {"@a)", "unexpected ')'"},
        {"not", "a tag is missing after 'not'"},
        {"@a\\", "it ends in a backslash"},
    };
    for (auto it = bad.begin(); it != bad.end(); ++it) {
        TagExpression e;
        QString message;
        EXPECT_FALSE(TagExpression::parse(it.key(), &e, &message)) << it.key().constData();
        EXPECT_TRUE(message.contains(it.value())) << message.toStdString();
        EXPECT_TRUE(message.contains(QString::fromUtf8(it.key()))) << message.toStdString();
    }

    // The filter applies the expression to feature, scenario and examples tags together.
    const Feature f = parse("@feat\nFeature: F\n@smoke\nScenario: a\n  Given x\n@slow\nScenario: b\n  Given y\n"
                            "Scenario Outline: c\n  Given <v>\n@smoke\nExamples:\n  | v |\n  | 1 |\n"
                            "Examples:\n  | v |\n  | 2 |\n");
    TagExpression smokeOnly;
    ASSERT_TRUE(TagExpression::parse("@feat and @smoke", &smokeOnly, &error));
    Filter filter;
    filter.setExpression(smokeOnly);
    RecordingActions actions;
    RecordingReport report;
    const RunSummary summary = runFeature(f, &actions, &report, filter);
    EXPECT_EQ(summary.passed, 2);
    EXPECT_EQ(summary.filteredOut, 2);
}

TEST(GherkinParser, SeveralErrorsAreReportedTogether)
{
    Feature feature;
    RunFeatureError error;
    EXPECT_FALSE(parseFeature("Feature: a\n  Scenario: s\n    Given x\n      | a | b |\n      | c |\n"
                              "    oops\n  \"\"\"\n  Given inside\n  \"\"\"\n  Scenario: t\n    Given y\n"
                              "  Scenario Outline: o\n    Given <z>\n",
                              "bad.feature", &feature, &error));
    EXPECT_EQ(error.lineNo(), 5);
    EXPECT_EQ(error.toString(),
              "bad.feature:5: this row has 1 cells, the table's first row (line 4) has 2\n"
              "bad.feature:6: expected a step (Given, When, Then, And, But), a table, a doc string or a new "
              "Scenario, found 'oops'\n"
              "bad.feature:7: a doc string must follow a step\n"
              "bad.feature:12: the Scenario Outline 'o' has no Examples");
    // A file that is no feature at all gives one error, not one per line.
    EXPECT_FALSE(parseFeature("one\ntwo\nthree\n", "bad.feature", &feature, &error));
    EXPECT_EQ(error.toString(), "bad.feature:1: expected 'Feature:', found 'one'");
    // A doc string with a content type after its fence.
    const Feature f = parse("Feature: a\nScenario: s\n  Given json\n    ```json\n    {\"a\": 1}\n    ```\n");
    EXPECT_EQ(f.scenarios.at(0).steps.at(0).multiLineText, QList<QByteArray>{"{\"a\": 1}"});
    EXPECT_EQ(f.scenarios.at(0).steps.at(0).docStringType, "json");
}

TEST(GherkinParser, RulesAndLanguages)
{
    // A rule's tags and background add to the feature's for its scenarios; a later rule starts afresh,
    // and the feature's own scenarios before any rule have neither.
    const Feature f = parse("Feature: F\n  Background:\n    Given fb\n"
                            "  Scenario: before\n    Given s0\n"
                            "  @r1\n  Rule: first\n    some description\n    Background:\n      Given rb\n"
                            "    Example: one\n      Given s1\n"
                            "  Rule: second\n    Scenario: two\n      Given s2\n");
    ASSERT_EQ(f.rules.size(), 2);
    EXPECT_EQ(f.rules.at(0).tags, QList<QByteArray>{"@r1"});
    EXPECT_TRUE(f.rules.at(0).hasBackground);
    EXPECT_FALSE(f.rules.at(1).hasBackground);
    EXPECT_TRUE(f.description.isEmpty());
    ASSERT_EQ(f.scenarios.size(), 3);
    EXPECT_EQ(f.scenarios.at(0).rule, -1);
    EXPECT_EQ(f.scenarios.at(1).rule, 0);
    EXPECT_EQ(f.scenarios.at(2).rule, 1);
    RecordingActions actions;
    RecordingReport report;
    Filter onlyR1;
    onlyR1.include("@r1");
    EXPECT_EQ(runFeature(f, &actions, &report).passed, 3);
    EXPECT_EQ(actions.calls.filter(QRegularExpression("^Given")),
              (QStringList{"Given fb", "Given s0", "Given fb", "Given rb", "Given s1", "Given fb", "Given s2"}));
    EXPECT_EQ(runFeature(f, &actions, &report, onlyR1).passed, 1);

    // German keywords, a longer keyword that begins with a shorter one, * steps, a CRLF file.
    const Feature de = parse("# language: de\r\nFunktionalit\xc3\xa4t: Rechnen\r\n"
                             "  Szenariogrundriss: Summe\r\n    Angenommen ich habe <a>\r\n"
                             "    Und noch <a>\r\n    * fertig\r\n    Wenn ich addiere\r\n    Dann ist es gut\r\n"
                             "    Beispiele:\r\n      | a |\r\n      | 1 |\r\n"
                             "  Szenario: Einfach\r\n    Gegeben seien Zahlen\r\n");
    EXPECT_EQ(de.language, QByteArray("de"));
    EXPECT_EQ(de.title, QByteArray("Rechnen"));
    ASSERT_EQ(de.scenarios.size(), 2);
    EXPECT_TRUE(de.scenarios.at(0).isScenarioOutline());
    QList<int> types;
    QList<QByteArray> texts;
    for (const Step& step : de.scenarios.at(0).steps) {
        types << step.type;
        texts << step.stepText();
    }
    EXPECT_EQ(types, (QList<int>{Step::Given, Step::Given, Step::Given, Step::When, Step::Then}));
    EXPECT_EQ(texts, (QList<QByteArray>{"ich habe <a>", "noch <a>", "fertig", "ich addiere", "ist es gut"}));
    // "Gegeben seien " is longer than "Gegeben sei ": the text does not keep an "en".
    EXPECT_EQ(de.scenarios.at(1).steps.at(0).stepText(), QByteArray("Zahlen"));

    // A language whose step keywords have no blank after them.
    const Feature zh = parse("# language: zh-CN\n\xe5\x8a\x9f\xe8\x83\xbd: \xe5\x8a\xa0\xe6\xb3\x95\n"
                             "  \xe5\x9c\xba\xe6\x99\xaf: s\n    \xe5\x81\x87\xe5\xa6\x82x\n");
    ASSERT_EQ(zh.scenarios.size(), 1);
    EXPECT_EQ(zh.scenarios.at(0).steps.at(0).type, int(Step::Given));
    EXPECT_EQ(zh.scenarios.at(0).steps.at(0).stepText(), QByteArray("x"));
}

namespace {

// A compact account of what the parser read: per scenario its title, tags and rule, then each step's
// type and text, doc string lines (/) and cells (|).
QString dump(const Feature& f)
{
    QStringList out;
    for (const Scenario& s : f.scenarios) {
        QString line = QString::fromUtf8(s.title);
        for (const QByteArray& tag : s.tags)
            line += ' ' + QString::fromUtf8(tag);
        if (s.rule >= 0)
            line += QStringLiteral(" rule=%1").arg(QString::fromUtf8(f.rules.at(s.rule).title));
        for (const Examples& e : s.examples)
            for (const QByteArray& tag : e.tags)
                line += " examples" + QString::fromUtf8(tag);
        for (const Step& step : s.steps) {
            line += QStringLiteral("; %1 %2").arg(step.type).arg(QString::fromUtf8(step.stepText()));
            for (const QByteArray& doc : step.multiLineText)
                line += " /" + QString::fromUtf8(doc);
            for (const TableRow& row : step.table)
                for (const TableCell& cell : row)
                    line += " |" + QString::fromUtf8(cell.text);
        }
        out << line;
    }
    return out.join('\n');
}

} // namespace

TEST(GherkinParser, ConstructsFileByFile)
{
    const struct {
        const char* construct;
        const char* text;
        const char* read;
    } cases[] = {
        {"comments between table rows and in descriptions",
         "Feature: f\n  # about f\n  Scenario: s\n    # before\n    Given t\n      | a |\n      # between\n"
         "      | b |\n",
         "s; 0 t |a |b"},
        {"escaped bars, backslashes and line feeds in cells",
         "Feature: f\nScenario: s\n  Given t\n    | a\\|b | c\\\\ | x\\ny |\n",
         "s; 0 t |a|b |c\\ |x\ny"},
        {"tags on a rule, a scenario and examples, with a comment after them",
         "Feature: f\n@r @q # rule tags\nRule: R\n  @s\n  Scenario Outline: o\n    Given <x>\n"
         "    @e\n    Examples:\n      | x |\n      | 1 |\n",
         "o @s rule=R examples@e; 0 <x>"},
        {"a * step first takes no keyword, later ones the one before",
         "Feature: f\nScenario: s\n  * first\n  When w\n  * second\n",
         "s; 3 first; 1 w; 1 second"},
        {"doc strings with ``` and a content type, and an escaped fence inside",
         "Feature: f\nScenario: s\n  Given t\n    ```markdown\n    # title\n    ```\n  Then u\n"
         "    \"\"\"\n    a \\\"\\\"\\\" b\n    \"\"\"\n",
         "s; 0 t /# title; 2 u /a \"\"\" b"},
        {"keywords that begin other keywords (Example: and Examples:, French Sachant)",
         "# language: fr\nFonctionnalit\xc3\xa9: f\nExemple: e\n  Sachant qu'il pleut\n  Sachant que x\n"
         "  Sachant y\n  Et z\n",
         "e; 0 il pleut; 0 x; 0 y; 0 z"},
        {"CRLF line ends and a byte-order mark",
         "\xEF\xBB\xBF" "Feature: f\r\nScenario: s\r\n  Given t\r\n    | a |\r\n",
         "s; 0 t |a"},
    };
    for (const auto& c : cases) {
        Feature feature;
        RunFeatureError error;
        ASSERT_TRUE(parseFeature(c.text, "c.feature", &feature, &error)) << c.construct << ": "
                                                                         << error.toString().toStdString();
        EXPECT_EQ(dump(feature), QString::fromUtf8(c.read)) << c.construct;
    }
}
