// The run as one self-contained HTML page for people: a summary, then every test case with its results
// in order (sections, BDD features and scenarios nested), failures with FILE:LINE, call stacks and the
// screenshots taken at them, durations and the log. Inline CSS and a few lines of script; the only
// files it refers to are the attachments, by paths relative to the page.
#pragma once

#include "testresult.h"

#include <QDateTime>
#include <QList>
#include <QString>

class HtmlReport {
public:
    HtmlReport() : started(QDateTime::currentDateTime()) {}

    void addTestCase(const QString& suite, const QString& name, const QString& script, double seconds,
                     const TestResult& result);
    // A line the summary shows as it is (the run was interrupted).
    void setNote(const QString& text) { note = text; }
    // False with a message when the file cannot be written.
    bool write(const QString& path, QString* error) const;
    // The page itself; attachments are referred to relative to `directory`.
    QString page(const QString& directory) const;

private:
    struct Case {
        QString suite, name, script;
        double seconds;
        QList<TestResult::Entry> entries;
        bool passed, skipped;
    };
    QString testCase(const Case& c, int number, const QString& directory) const;

    QList<Case> cases;
    QDateTime started;
    QString note;
};
