// Cucumber's JSON report (--format cucumber-json FILE): one element per feature file, its scenarios
// (one per example row) as elements with their tags and steps, each step with its keyword, text, line,
// status (passed, failed, undefined, ambiguous, skipped, pending), duration, the step definition it
// matched and the hooks around it. The scenarios come from the test cases' results (bddresults.h) and
// the facts their entries carry; keywords, tags and descriptions from the feature files, read again.
#pragma once

#include "testresult.h"

#include <QJsonArray>
#include <QList>
#include <QMap>
#include <QString>

class CucumberJsonReport {
public:
    void addTestCase(const TestResult& result);
    // False with a message when the file cannot be written.
    bool write(const QString& path, QString* error) const;

private:
    QJsonArray features;
    QMap<QString, QJsonArray> lastStepHooks; // the step hooks last seen, by phase: a step not run lists them skipped
};
