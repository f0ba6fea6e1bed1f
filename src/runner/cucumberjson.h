// Cucumber's JSON report (--format cucumber-json FILE): one element per feature file, its scenarios
// (one per example row) as elements with their tags and steps, each step with its keyword, text, line,
// status (passed, failed, undefined, ambiguous, skipped), duration and, for failures, the message and
// where the step definition stands. The scenarios come from the test cases' results (bddresults.h);
// keywords, tags and descriptions from the feature files, read again.
#pragma once

#include "testresult.h"

#include <QJsonArray>
#include <QList>
#include <QString>

class CucumberJsonReport {
public:
    void addTestCase(const TestResult& result);
    // False with a message when the file cannot be written.
    bool write(const QString& path, QString* error) const;

private:
    QJsonArray features;
};
