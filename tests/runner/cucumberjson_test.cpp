// The runner's Cucumber JSON report against one Cucumber itself wrote for the same features
// (data/cucumber: the features, Cucumber's Ruby step definitions, its report; the Tcl step definitions
// do the same as the Ruby ones). Compared by structure: the same keys, types and nesting everywhere,
// the same ids, names, keywords, lines, statuses, tags, doc strings and tables; locations as FILE:LINE,
// durations as non-negative integers (nanoseconds). Rule, which that Cucumber does not read, is checked
// on its own.
#include "runnerfixture.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

namespace {

const QString data = QStringLiteral(TARVIN_SOURCE_DIR "/tests/runner/data/cucumber/");

QByteArray readData(const QString& name)
{
    QFile file(data + name);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
    return file.readAll();
}

// Keys whose values differ by nature between the two tools: paths, messages, timings.
bool shapeOnly(const QString& key)
{
    return key == QLatin1String("uri") || key == QLatin1String("error_message") || key == QLatin1String("location") ||
           key == QLatin1String("duration");
}

// Appends to `differences` where `ours` departs from `reference`. Inside hooks (`inHook`) only the shape
// counts: ours run after a failed step, Cucumber's do not.
void compare(const QJsonValue& reference, const QJsonValue& ours, const QString& path, bool inHook,
             QStringList* differences)
{
    if (reference.type() != ours.type()) {
        *differences << QStringLiteral("%1: type %2, expected %3").arg(path).arg(ours.type()).arg(reference.type());
        return;
    }
    if (reference.isArray()) {
        const QJsonArray a = reference.toArray(), b = ours.toArray();
        if (a.size() != b.size())
            *differences << QStringLiteral("%1: %2 elements, expected %3").arg(path).arg(b.size()).arg(a.size());
        for (int i = 0; i < a.size() && i < b.size(); ++i)
            compare(a.at(i), b.at(i), QStringLiteral("%1[%2]").arg(path).arg(i), inHook, differences);
        return;
    }
    if (!reference.isObject()) {
        if (reference != ours && !inHook)
            *differences << QStringLiteral("%1: %2, expected %3")
                                .arg(path, ours.toVariant().toString(), reference.toVariant().toString());
        return;
    }
    const QJsonObject a = reference.toObject(), b = ours.toObject();
    // A hook that ran has its duration (and a message when it failed); one that did not has neither.
    QStringList ourKeys = b.keys();
    if (inHook && b.contains(QLatin1String("status"))) {
        const bool ran = b.value(QLatin1String("status")).toString() != QLatin1String("skipped");
        if (ran != b.contains(QLatin1String("duration")))
            *differences << path + QStringLiteral(": a duration for a hook that ran, and only then");
        ourKeys.removeAll(QStringLiteral("duration"));
        ourKeys.removeAll(QStringLiteral("error_message"));
        QStringList referenceKeys = a.keys();
        referenceKeys.removeAll(QStringLiteral("duration"));
        referenceKeys.removeAll(QStringLiteral("error_message"));
        if (ourKeys != referenceKeys)
            *differences << QStringLiteral("%1: keys %2, expected %3")
                                .arg(path, b.keys().join(QLatin1Char(',')), a.keys().join(QLatin1Char(',')));
    } else if (a.keys() != b.keys())
        *differences << QStringLiteral("%1: keys %2, expected %3")
                            .arg(path, b.keys().join(QLatin1Char(',')), a.keys().join(QLatin1Char(',')));
    for (const QString& key : a.keys()) {
        if (!b.contains(key))
            continue;
        const QJsonValue value = b.value(key);
        const QString here = path + QLatin1Char('/') + key;
        if (key == QLatin1String("location")) {
            static const QRegularExpression fileLine(QStringLiteral("^.+:[1-9][0-9]*$"));
            if (!fileLine.match(value.toString()).hasMatch())
                *differences << here + QStringLiteral(": not FILE:LINE: ") + value.toString();
        } else if (key == QLatin1String("duration")) {
            if (!value.isDouble() || value.toDouble() < 0 || value.toDouble() != double(value.toVariant().toLongLong()))
                *differences << here + QStringLiteral(": not a non-negative integer");
        } else if (shapeOnly(key)) {
            if (value.type() != a.value(key).type())
                *differences << here + QStringLiteral(": wrong type");
        } else {
            compare(a.value(key), value, here,
                    inHook || key == QLatin1String("before") || key == QLatin1String("after"), differences);
        }
    }
}

class CucumberJsonTest : public RunnerFixture {
protected:
    QJsonArray report(const QStringList& args)
    {
        const RunOutcome r = run(QStringList{"--format", "cucumber-json", "report.json"} + args);
        EXPECT_EQ(r.exitCode, 1) << r.out.toStdString() << r.err.toStdString(); // the features fail on purpose
        return QJsonDocument::fromJson(read("report.json").toUtf8()).array();
    }
};

} // namespace

TEST_F(CucumberJsonTest, ReportHasTheShapeCucumberWrites)
{
    write("suite/tst_plain/test.feature", readData("features/plain.feature"));
    write("suite/tst_report/test.feature", readData("features/report.feature"));
    write("suite/shared/steps/steps.tcl", readData("steps/steps.tcl"));
    const QJsonArray ours = report({"suite"});
    const QJsonArray reference = QJsonDocument::fromJson(readData("reference.json")).array();
    ASSERT_EQ(reference.size(), 2);
    ASSERT_EQ(ours.size(), 2);
    // Both tools take the features in the same order (plain, report).
    QStringList differences;
    compare(reference, ours, QString(), false, &differences);
    EXPECT_TRUE(differences.isEmpty()) << differences.join(QLatin1Char('\n')).toStdString();

    // Beyond the shape: what only we can know, and values the comparison leaves free.
    const QJsonObject plain = ours.at(0).toObject();
    EXPECT_EQ(plain.value("uri").toString(), "suite/tst_plain/test.feature");
    const QJsonObject pending = plain.value("elements").toArray().at(0).toObject();
    const QJsonObject given = pending.value("steps").toArray().at(0).toObject();
    EXPECT_EQ(given.value("match").toObject().value("location").toString(), "suite/shared/steps/steps.tcl:2");
    EXPECT_GT(given.value("result").toObject().value("duration").toDouble(), 0) << "measured, not left at 0";
    const QJsonObject todo = pending.value("steps").toArray().at(1).toObject().value("result").toObject();
    EXPECT_EQ(todo.value("error_message").toString(), "TODO");
    EXPECT_EQ(pending.value("before").toArray().at(0).toObject().value("match").toObject().value("location").toString(),
              "suite/shared/steps/steps.tcl:12");
    // A failed step names its definition (the one-line Then's first line), not the line that failed.
    const QJsonObject failing =
        ours.at(1).toObject().value("elements").toArray().at(1).toObject().value("steps").toArray().at(3).toObject();
    EXPECT_EQ(failing.value("match").toObject().value("location").toString(), "suite/shared/steps/steps.tcl:4");
    EXPECT_TRUE(failing.value("result").toObject().value("error_message").toString().contains("expected 9, got 5"));

    // A dry run reports every step: skipped where a definition matches (which it names), undefined
    // elsewhere; no hook ran.
    const QJsonArray dry = report({"--dry-run", "suite/tst_report"});
    ASSERT_EQ(dry.size(), 1);
    QStringList statuses;
    for (const QJsonValue element : dry.at(0).toObject().value("elements").toArray()) {
        EXPECT_FALSE(element.toObject().contains("before"));
        for (const QJsonValue step : element.toObject().value("steps").toArray()) {
            statuses << step.toObject().value("result").toObject().value("status").toString();
            EXPECT_FALSE(step.toObject().value("result").toObject().contains("duration"));
        }
    }
    EXPECT_EQ(statuses.count("skipped") + statuses.count("undefined"), statuses.size()) << statuses.join(' ').toStdString();
    EXPECT_EQ(statuses.count("undefined"), 1);
    const QJsonObject firstStep =
        dry.at(0).toObject().value("elements").toArray().at(0).toObject().value("steps").toArray().at(0).toObject();
    EXPECT_EQ(firstStep.value("match").toObject().value("location").toString(), "suite/shared/steps/steps.tcl:2");
}

TEST_F(CucumberJsonTest, RulesFailingHooksAndUnrunStepsKeepTheShape)
{
    write("suite/tst_rule/test.feature", "Feature: Rules\n"
                                         "  Background:\n"
                                         "    Given the counter is 1\n"
                                         "  @ruled\n"
                                         "  Rule: Adding\n"
                                         "    Background: Rule's own\n"
                                         "      When I add 2\n"
                                         "    Example: Three\n"
                                         "      Then the counter shows 3\n"
                                         "    @broken\n"
                                         "    Example: Hook fails\n"
                                         "      Then the counter shows 3\n");
    write("suite/tst_rule/steps/steps.tcl", "Given \"the counter is |integer|\" {n} { set ::counter $n }\n"
                                            "When \"I add |integer|\" {n} { incr ::counter $n }\n"
                                            "Then \"the counter shows |integer|\" {n} {}\n"
                                            "OnScenarioStart {context} {\n"
                                            "    if {[$context title] eq \"Hook fails\"} { error \"no setup\" }\n"
                                            "}\n"
                                            "OnStepEnd {context} {}\n");
    const QJsonArray ours = report({"suite"});
    ASSERT_EQ(ours.size(), 1);
    const QJsonArray elements = ours.at(0).toObject().value("elements").toArray();
    ASSERT_EQ(elements.size(), 4);
    // The feature's background and the rule's run as one background element, before the hooks' record.
    const QJsonObject background = elements.at(0).toObject();
    EXPECT_EQ(background.value("type").toString(), "background");
    QStringList lines;
    for (const QJsonValue step : background.value("steps").toArray())
        lines << QString::number(step.toObject().value("line").toInt());
    EXPECT_EQ(lines, (QStringList{"3", "7"}));
    const QJsonObject three = elements.at(1).toObject();
    EXPECT_EQ(three.value("id").toString(), "rules;three");
    EXPECT_EQ(three.value("keyword").toString(), "Example");
    EXPECT_EQ(three.value("tags").toArray().at(0).toObject().value("name").toString(), "@ruled");
    EXPECT_EQ(three.value("tags").toArray().at(0).toObject().value("line").toInt(), 4);

    // A failing scenario hook fails where it is defined; the steps it kept from running are skipped,
    // their hooks too.
    const QJsonObject broken = elements.at(2).toObject();
    const QJsonObject hook = broken.value("before").toArray().at(0).toObject();
    EXPECT_EQ(hook.value("match").toObject().value("location").toString(), "suite/tst_rule/steps/steps.tcl:4");
    EXPECT_EQ(hook.value("result").toObject().value("status").toString(), "failed");
    EXPECT_EQ(hook.value("result").toObject().value("error_message").toString(), "no setup");
    const QJsonObject skipped = elements.at(3).toObject().value("steps").toArray().at(0).toObject();
    EXPECT_EQ(skipped.value("result").toObject(), (QJsonObject{{"status", "skipped"}}));
    EXPECT_EQ(skipped.value("match").toObject().value("location").toString(), "suite/tst_rule/steps/steps.tcl:3");
    EXPECT_EQ(skipped.value("after").toArray().at(0).toObject().value("result").toObject(),
              (QJsonObject{{"status", "skipped"}}));
}
