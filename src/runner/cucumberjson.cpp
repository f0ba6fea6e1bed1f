// Writing Cucumber's JSON report from the scenarios a run reported.
#include "cucumberjson.h"

#include "bddresults.h"
#include "gherkin.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QRegularExpression>
#include <QSaveFile>

namespace {

QString slug(const QString& text)
{
    return text.toLower().replace(QRegularExpression(QStringLiteral("[^a-z0-9]+")), QStringLiteral("-"));
}

QJsonArray tagsOf(const QList<QByteArray>& tags, int line)
{
    QJsonArray array;
    for (const QByteArray& tag : tags)
        array.append(QJsonObject{{QStringLiteral("name"), QString::fromUtf8(tag)}, {QStringLiteral("line"), line}});
    return array;
}

// The steps that run in a scenario, by line: the backgrounds' and its own.
QMap<int, Gherkin::Step> stepsByLine(const Gherkin::Feature& feature, const Gherkin::Scenario& scenario)
{
    QMap<int, Gherkin::Step> steps;
    QList<Gherkin::Step> all = feature.background.steps;
    if (scenario.rule >= 0 && scenario.rule < feature.rules.size())
        all += feature.rules.at(scenario.rule).background.steps;
    all += scenario.steps;
    for (const Gherkin::Step& step : all)
        steps.insert(int(step.extent.begin.line), step);
    return steps;
}

const struct {
    TestResult::Type type;
    const char* prefix;
    const char* status;
} stepKinds[] = {
    {TestResult::Pass, "", "passed"},
    {TestResult::Fail, "Step failed: ", "failed"},
    {TestResult::Error, "Step failed: ", "failed"},
    {TestResult::Error, "Undefined step: ", "undefined"},
    {TestResult::Error, "Ambiguous step: ", "ambiguous"},
    {TestResult::Log, "Not run: ", "skipped"},
};

QJsonObject scenarioElement(const ScenarioRun& run, const Gherkin::Feature& feature)
{
    const Gherkin::Scenario* scenario = nullptr;
    for (const Gherkin::Scenario& s : feature.scenarios)
        if (int(s.location.line) == run.line)
            scenario = &s;
    QList<QByteArray> tags = feature.tags;
    QMap<int, Gherkin::Step> steps;
    if (scenario) {
        if (scenario->rule >= 0 && scenario->rule < feature.rules.size())
            tags += feature.rules.at(scenario->rule).tags;
        tags += scenario->tags;
        steps = stepsByLine(feature, *scenario);
    }
    QJsonArray stepArray;
    QDateTime previous;
    for (const TestResult::Entry& e : run.entries) {
        const QDateTime before = previous;
        if (e.time.isValid())
            previous = e.time;
        if (e.file != run.file || !steps.contains(e.line))
            continue;
        for (const auto& kind : stepKinds) {
            if (e.type != kind.type || !e.message.startsWith(QLatin1String(kind.prefix)))
                continue;
            const Gherkin::Step& step = steps.value(e.line);
            const QString keyword = QString::fromUtf8(step.writtenKeyword());
            QString text = e.message.mid(int(qstrlen(kind.prefix)));
            const QString written = QString::fromUtf8(step.text);
            // The text as run (an outline's with its values); a failure's message follows it.
            QString name = text.startsWith(written) ? QString::fromUtf8(step.stepText()) : text.mid(keyword.size()).trimmed();
            QJsonObject result{{QStringLiteral("status"), QLatin1String(kind.status)}};
            if (kind.type == TestResult::Pass || kind.type == TestResult::Fail || kind.type == TestResult::Error)
                result.insert(QStringLiteral("duration"),
                              before.isValid() && e.time.isValid() ? before.msecsTo(e.time) * 1000000 : 0);
            if (kind.type == TestResult::Fail || kind.type == TestResult::Error) {
                if (!text.startsWith(written)) {
                    const int colon = text.indexOf(QLatin1String(": "), keyword.size());
                    name = (colon < 0 ? text : text.left(colon)).mid(keyword.size()).trimmed();
                }
                result.insert(QStringLiteral("error_message"), e.detail.isEmpty() ? e.message : e.message + '\n' + e.detail);
            }
            QJsonObject object{{QStringLiteral("keyword"), keyword + QLatin1Char(' ')},
                               {QStringLiteral("name"), name},
                               {QStringLiteral("line"), e.line},
                               {QStringLiteral("result"), result}};
            const QRegularExpressionMatch at =
                QRegularExpression(QStringLiteral("^at (.+:\\d+)$"), QRegularExpression::MultilineOption).match(e.detail);
            if (at.hasMatch())
                object.insert(QStringLiteral("match"), QJsonObject{{QStringLiteral("location"), at.captured(1)}});
            stepArray.append(object);
            break;
        }
    }
    const bool outline = scenario && scenario->isScenarioOutline();
    return QJsonObject{
        {QStringLiteral("id"), slug(run.feature) + QLatin1Char(';') + slug(run.scenario)},
        {QStringLiteral("keyword"), outline ? QStringLiteral("Scenario Outline") : QStringLiteral("Scenario")},
        {QStringLiteral("name"), run.scenario},
        {QStringLiteral("description"), QString()},
        {QStringLiteral("line"), run.line},
        {QStringLiteral("type"), QStringLiteral("scenario")},
        {QStringLiteral("tags"), tagsOf(tags, run.line)},
        {QStringLiteral("steps"), stepArray},
    };
}

} // namespace

void CucumberJsonReport::addTestCase(const TestResult& result)
{
    QString file;
    QJsonObject feature;
    QJsonArray elements;
    Gherkin::Feature parsed;
    auto flush = [&]() {
        if (!file.isEmpty()) {
            feature.insert(QStringLiteral("elements"), elements);
            features.append(feature);
        }
    };
    for (const ScenarioRun& run : scenarioRuns(result.entries())) {
        if (run.notRun)
            continue;
        if (run.file != file) {
            flush();
            file = run.file;
            elements = QJsonArray();
            Gherkin::RunFeatureError error;
            if (!Gherkin::parseFeatureFile(file, &parsed, &error))
                parsed = Gherkin::Feature();
            feature = QJsonObject{
                {QStringLiteral("uri"), file},
                {QStringLiteral("id"), slug(run.feature)},
                {QStringLiteral("keyword"), QStringLiteral("Feature")},
                {QStringLiteral("name"), run.feature},
                {QStringLiteral("description"), QString::fromUtf8(parsed.description)},
                {QStringLiteral("line"), run.featureLine},
                {QStringLiteral("tags"), tagsOf(parsed.tags, run.featureLine)},
            };
        }
        elements.append(scenarioElement(run, parsed));
    }
    flush();
}

bool CucumberJsonReport::write(const QString& path, QString* error) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("cannot write Cucumber JSON report %1: %2").arg(path, file.errorString());
        return false;
    }
    file.write(QJsonDocument(features).toJson());
    if (!file.commit()) {
        *error = QStringLiteral("cannot write Cucumber JSON report %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}
