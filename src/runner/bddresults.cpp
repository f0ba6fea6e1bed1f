// Reading scenarios and steps back from a test case's results.
#include "bddresults.h"

#include <QStringList>

namespace {

const QString scenarioPrefix = QStringLiteral("Scenario: ");
const QString featurePrefix = QStringLiteral("Feature: ");
const QString notRunScenario = QStringLiteral("Not run: Scenario: ");

bool isBad(TestResult::Type t)
{
    return t == TestResult::Fail || t == TestResult::UnexpectedPass || t == TestResult::Error || t == TestResult::Fatal;
}

} // namespace

bool ScenarioRun::failed() const
{
    for (const TestResult::Entry& e : entries)
        if (isBad(e.type))
            return true;
    return false;
}

QList<ScenarioRun> scenarioRuns(const QList<TestResult::Entry>& entries, QList<TestResult::Entry>* rest)
{
    QList<ScenarioRun> runs;
    QString feature;
    int featureLine = -1;
    bool inScenario = false;
    int depth = 0; // sections a step opened inside the scenario
    for (const TestResult::Entry& e : entries) {
        if (e.type == TestResult::SectionStart && e.message.startsWith(featurePrefix)) {
            feature = e.message.mid(featurePrefix.size());
            featureLine = e.line;
        } else if (e.type == TestResult::SectionStart && e.message.startsWith(scenarioPrefix) && !inScenario) {
            ScenarioRun run;
            run.feature = feature;
            run.scenario = e.message.mid(scenarioPrefix.size());
            run.file = e.file;
            run.featureLine = featureLine;
            run.line = e.line;
            run.facts = e.facts;
            runs.append(run);
            inScenario = true;
            depth = 0;
            runs.last().entries.append(e); // for its start time; removed at the end
            continue;
        } else if (e.type == TestResult::SectionStart && inScenario) {
            ++depth;
        } else if (e.type == TestResult::SectionEnd && inScenario && depth > 0) {
            --depth;
        } else if (e.type == TestResult::SectionEnd && inScenario) {
            ScenarioRun& run = runs.last();
            for (auto fact = e.facts.cbegin(); fact != e.facts.cend(); ++fact)
                run.facts.insert(fact.key(), fact.value());
            const QDateTime start = run.entries.takeFirst().time;
            if (start.isValid() && e.time.isValid())
                run.seconds = start.msecsTo(e.time) / 1000.0;
            inScenario = false;
            continue;
        } else if (e.type == TestResult::Log && e.message.startsWith(notRunScenario) && !inScenario) {
            ScenarioRun run;
            run.feature = feature;
            run.scenario = e.message.mid(notRunScenario.size());
            run.file = e.file;
            run.featureLine = featureLine;
            run.line = e.line;
            run.notRun = true;
            runs.append(run);
            continue;
        }
        if (inScenario)
            runs.last().entries.append(e);
        else if (rest)
            rest->append(e);
    }
    if (inScenario) // a test case that ended inside a scenario (a crash, a time limit)
        runs.last().entries.removeFirst();
    return runs;
}

void countBdd(const QList<TestResult::Entry>& entries, BddCounts* counts)
{
    for (const ScenarioRun& run : scenarioRuns(entries)) {
        if (run.notRun) {
            ++counts->scenariosNotRun;
            continue;
        }
        ++(run.failed() ? counts->scenariosFailed : counts->scenariosPassed);
        for (const TestResult::Entry& e : run.entries) {
            if (e.file != run.file)
                continue; // a result of a command inside a step definition
            if (e.type == TestResult::Pass)
                ++counts->stepsPassed;
            else if (isBad(e.type) && e.message.startsWith(QLatin1String("Step failed: ")))
                ++counts->stepsFailed;
            else if (e.type == TestResult::Error && e.message.startsWith(QLatin1String("Undefined step: ")))
                ++counts->stepsUndefined;
            else if (e.type == TestResult::Error && e.message.startsWith(QLatin1String("Ambiguous step: ")))
                ++counts->stepsAmbiguous;
            else if (e.type == TestResult::Log && e.message.startsWith(QLatin1String("Not run: ")))
                ++counts->stepsSkipped;
            else if (e.type == TestResult::Log && e.message.startsWith(QLatin1String("Pending: ")))
                ++counts->stepsPending;
            else if (e.type == TestResult::Log && e.message.startsWith(QLatin1String("Scenario ended by step: ")))
                ++counts->stepsPassed;
        }
    }
}

QString bddSummary(const BddCounts& c)
{
    auto parts = [](const QList<QPair<int, const char*>>& counts) {
        QStringList out;
        for (const auto& count : counts)
            if (count.first)
                out << QStringLiteral("%1 %2").arg(count.first).arg(QLatin1String(count.second));
        return out.join(QLatin1String(", "));
    };
    return QStringLiteral("Scenarios: %1 (%2); steps: %3 (%4)")
        .arg(c.scenarios())
        .arg(parts({{c.scenariosPassed, "passed"}, {c.scenariosFailed, "failed"}, {c.scenariosNotRun, "not run"}}))
        .arg(c.steps())
        .arg(parts({{c.stepsPassed, "passed"},
                    {c.stepsFailed, "failed"},
                    {c.stepsUndefined, "undefined"},
                    {c.stepsAmbiguous, "ambiguous"},
                    {c.stepsSkipped, "skipped"},
                    {c.stepsPending, "pending"}}));
}
