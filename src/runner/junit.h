// JUnit XML for CI: one testsuite per suite, one testcase per test case, with its failures (message and
// FILE:LINE), errors, skips and the test case's log. A behaviour-driven test case gives one testcase per
// scenario (and example row) instead, named "feature: scenario", and one of its own only for failures
// outside every scenario.
#pragma once

#include "testresult.h"

#include <QList>
#include <QString>

class JUnitReport {
public:
    void addTestCase(const QString& suite, const QString& name, const QString& script, double seconds,
                     const TestResult& result);
    // The classname a test case has in the report, "suite.name" ("tarvinrunner.name" outside a suite):
    // what --durations and --rerun-failed know a test case by.
    static QString className(const QString& suite, const QString& name);
    // False with a message when the file cannot be written.
    bool write(const QString& path, QString* error) const;

private:
    struct Case {
        QString suite, name, script;
        QString className; // empty: suite.name
        double seconds;
        QList<TestResult::Entry> entries;
        bool skipped;
    };
    QList<Case> cases;
};
