// The scenarios and steps of behaviour-driven test cases, read back from their results: each scenario is
// a "Scenario: ..." section inside a "Feature: ..." section, each step a result at the feature file's
// line (PASS, "Step failed: ", "Undefined step: ", "Ambiguous step: ", "Not run: ", "Pending: "). The summary counts
// them and the JUnit report gives each scenario a testcase of its own.
#pragma once

#include "testresult.h"

#include <QList>
#include <QString>

struct ScenarioRun {
    QString feature;  // the feature's title
    QString scenario; // the scenario's title; an example row's carries its values
    QString file;     // the feature file
    int featureLine = -1;
    int line = -1;
    double seconds = 0;
    bool notRun = false; // left out after an earlier failure (--abort-on-fail)
    QList<TestResult::Entry> entries; // its results, section start and end excluded
    QVariantMap facts;                // those of its section's start and end (an outline row, hooks)
    bool failed() const;
};

struct BddCounts {
    int scenariosPassed = 0, scenariosFailed = 0, scenariosNotRun = 0;
    int stepsPassed = 0, stepsFailed = 0, stepsUndefined = 0, stepsAmbiguous = 0, stepsSkipped = 0, stepsPending = 0;
    int scenarios() const { return scenariosPassed + scenariosFailed + scenariosNotRun; }
    int steps() const
    {
        return stepsPassed + stepsFailed + stepsUndefined + stepsAmbiguous + stepsSkipped + stepsPending;
    }
};

// The scenarios in order; `rest` (when given) gets the entries outside every scenario.
QList<ScenarioRun> scenarioRuns(const QList<TestResult::Entry>& entries, QList<TestResult::Entry>* rest = nullptr);
void countBdd(const QList<TestResult::Entry>& entries, BddCounts* counts);
// "Scenarios: 3 (2 passed, 1 failed); steps: 9 (7 passed, 1 failed, 1 skipped)": counts that are 0 are left out.
QString bddSummary(const BddCounts& counts);
