// Reading JUnit reports back: the test cases of an earlier run (their durations to balance the parts
// of a sharded run, their failures to run again), and merging the reports of a run's parts into one.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

struct ReportedTestCase {
    enum Outcome { Passed, Failed, Errored, Skipped };
    QString className; // "suite.name", as the runner writes it
    QString name;
    QString file;
    double seconds = 0;
    Outcome outcome = Passed;
};

// The testcase elements of a JUnit report (a testsuites element, or a lone testsuite). False with a
// message naming the file (and the line, for malformed XML).
bool readJUnitReport(const QString& path, QList<ReportedTestCase>* cases, QString* error);

// Merges reports into one: one testsuite per suite name, its test cases in name order (the order a
// suite directory runs them), the counts and times added up again. A test case found in several
// inputs is kept from the last one (so a rerun's report, given after the first, replaces what failed);
// each such replacement is described in `notes`. False with a message when an input cannot be read or
// the output cannot be written.
bool mergeJUnitReports(const QStringList& inputs, const QString& output, QStringList* notes, QString* error);
