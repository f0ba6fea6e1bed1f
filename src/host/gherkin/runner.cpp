// The feature runner: hooks around the feature, each scenario and each step; the background's steps in
// front of every scenario; outline scenarios once per example row; a failed step ends its scenario.
#include "gherkin.h"

namespace Gherkin {

bool Scenario::isScenarioOutline() const
{
    for (const Examples& e : examples)
        if (e.table.size() > 1)
            return true;
    return false;
}

ScriptActions::~ScriptActions() = default;
Debugger::~Debugger() = default;
ReportGenerator::~ReportGenerator() = default;

bool Filter::accepts(const QList<QByteArray>& tags) const
{
    if (!expression.accepts(tags))
        return false;
    for (const QByteArray& tag : excluded)
        if (tags.contains(tag))
            return false;
    if (included.isEmpty())
        return true;
    for (const QByteArray& tag : included)
        if (tags.contains(tag))
            return true;
    return false;
}

namespace {

QByteArray substitute(QByteArray text, const TableRow& header, const TableRow& row)
{
    for (int i = 0; i < header.size() && i < row.size(); ++i)
        text.replace('<' + header.at(i).text + '>', row.at(i).text);
    return text;
}

ReportGenerator::StepOutcome outcomeOf(int status)
{
    switch (status) {
    case ScriptActions::StepPassed:
        return ReportGenerator::Passed;
    case ScriptActions::StepUndefined:
        return ReportGenerator::Undefined;
    case ScriptActions::StepAmbiguous:
        return ReportGenerator::Ambiguous;
    case ScriptActions::StepAborted:
        return ReportGenerator::Aborted;
    default:
        return ReportGenerator::Failed;
    }
}

// A step that ended its scenario on purpose ("AbortScenario") or with a skip does not fail it; one that
// ended it with a failed verification does (the failure itself was reported by the verification).
bool abortFails(const ScriptActions::Result& result)
{
    return result.message.startsWith("VerificationFailure: ");
}

class Run {
public:
    Run(const Feature& feature, ScriptActions* actions, ReportGenerator* report, Debugger* debugger)
        : feature(feature), actions(actions), report(report), debugger(debugger)
    {
    }

    // Runs the hooks of a moment; false when one failed (reported here unless already reported).
    bool hooks(int kind, int phase, const QByteArray& title, const SourceLocation& where, bool* failed)
    {
        const ScriptActions::Result result = actions->runHooks(kind, phase, title);
        if (result.status == ScriptActions::HookPassed)
            return true;
        if (result.status == ScriptActions::HookAborted) {
            if (abortFails(result))
                *failed = true;
        } else {
            *failed = true;
        }
        report->hookFailed(feature, kind, phase, where, result);
        return false;
    }

    // One scenario (or one example row of an outline); true when it passed.
    bool scenario(const Scenario& scenario, const QByteArray& title, const QList<Step>& steps)
    {
        bool failed = false;
        if (debugger)
            debugger->trace(scenario.location, Debugger::TraceScenario);
        report->scenarioStarted(feature, scenario, title);
        bool going = hooks(ScriptActions::ScenarioHook, ScriptActions::Start, title, scenario.location, &failed);
        QList<Step> all = feature.hasBackground ? feature.background.steps : QList<Step>();
        if (scenario.rule >= 0 && scenario.rule < feature.rules.size() && feature.rules.at(scenario.rule).hasBackground)
            all += feature.rules.at(scenario.rule).background.steps;
        all += steps;
        for (const Step& step : all) {
            if (!going) {
                report->stepFinished(feature, step, ReportGenerator::NotRun, ScriptActions::Result());
                continue;
            }
            if (debugger)
                debugger->trace(step.extent.begin, Debugger::TraceStep);
            const QByteArray text = step.stepText();
            if (!hooks(ScriptActions::StepHook, ScriptActions::Start, text, step.extent.begin, &failed)) {
                going = false;
                report->stepFinished(feature, step, ReportGenerator::NotRun, ScriptActions::Result());
                continue;
            }
            report->stepStarted(feature, step);
            const ScriptActions::Result result = actions->runStep(step);
            const ReportGenerator::StepOutcome outcome =
                report->stepFinished(feature, step, outcomeOf(result.status), result);
            if (outcome != ReportGenerator::Passed) {
                going = report->checksEveryStep();
                if (outcome != ReportGenerator::Aborted || abortFails(result))
                    failed = true;
            }
            // The end hooks run for a failed step too: they may clean up after it.
            if (!hooks(ScriptActions::StepHook, ScriptActions::End, text, step.extent.begin, &failed))
                going = false;
        }
        hooks(ScriptActions::ScenarioHook, ScriptActions::End, title, scenario.location, &failed);
        report->scenarioFinished(feature, scenario, title, !failed);
        return !failed;
    }

private:
    const Feature& feature;
    ScriptActions* actions;
    ReportGenerator* report;
    Debugger* debugger;
};

QByteArray exampleTitle(const QByteArray& title, const TableRow& header, const TableRow& row)
{
    QList<QByteArray> values;
    for (int i = 0; i < header.size() && i < row.size(); ++i)
        values.append(header.at(i).text + '=' + row.at(i).text);
    return substitute(title, header, row) + " [" + values.join(", ") + ']';
}

} // namespace

QList<Step> expandSteps(const QList<Step>& steps, const TableRow& header, const TableRow& row)
{
    QList<Step> expanded = steps;
    for (Step& step : expanded) {
        const QByteArray keyword = step.text.left(int(step.textOffset));
        step.text = keyword + substitute(step.stepText(), header, row);
        for (QByteArray& line : step.multiLineText)
            line = substitute(line, header, row);
        for (TableRow& tableRow : step.table)
            for (TableCell& cell : tableRow)
                cell.text = substitute(cell.text, header, row);
    }
    return expanded;
}

RunSummary runFeature(const Feature& feature, ScriptActions* actions, ReportGenerator* report, const Filter& filter,
                      Debugger* debugger)
{
    RunSummary summary;
    Run run(feature, actions, report, debugger);
    if (debugger)
        debugger->trace(feature.location, Debugger::TraceFeature);
    report->featureStarted(feature);
    bool featureFailed = false;
    bool stop = !run.hooks(ScriptActions::FeatureHook, ScriptActions::Start, feature.title, feature.location,
                           &featureFailed);
    summary.failed += featureFailed ? 1 : 0;
    for (const Scenario& scenario : feature.scenarios) {
        QList<QByteArray> tags = feature.tags;
        if (scenario.rule >= 0 && scenario.rule < feature.rules.size())
            tags += feature.rules.at(scenario.rule).tags;
        tags += scenario.tags;
        if (scenario.examples.isEmpty()) {
            if (!filter.accepts(tags)) {
                ++summary.filteredOut;
                continue;
            }
            if (stop) {
                report->scenarioNotRun(feature, scenario, scenario.title);
                continue;
            }
            const bool passed = run.scenario(scenario, scenario.title, scenario.steps);
            ++(passed ? summary.passed : summary.failed);
            stop = !passed && report->failfast();
            continue;
        }
        for (int e = 0; e < scenario.examples.size(); ++e) {
            const Examples& examples = scenario.examples.at(e);
            for (int r = 1; r < examples.table.size(); ++r) {
                if (!filter.accepts(tags + examples.tags)) {
                    ++summary.filteredOut;
                    continue;
                }
                const TableRow& header = examples.table.first();
                const TableRow& row = examples.table.at(r);
                if (stop) {
                    report->scenarioNotRun(feature, scenario, exampleTitle(scenario.title, header, row));
                    continue;
                }
                report->exampleStarted(feature, scenario, e, r);
                const bool passed = run.scenario(scenario, exampleTitle(scenario.title, header, row),
                                                 expandSteps(scenario.steps, header, row));
                ++(passed ? summary.passed : summary.failed);
                stop = !passed && report->failfast();
            }
        }
    }
    bool endFailed = false;
    run.hooks(ScriptActions::FeatureHook, ScriptActions::End, feature.title, feature.location, &endFailed);
    summary.failed += endFailed && !featureFailed ? 1 : 0;
    report->featureFinished(feature);
    return summary;
}

} // namespace Gherkin
