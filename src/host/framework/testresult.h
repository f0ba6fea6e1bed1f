// The results of one test case as the framework's test functions report them. The runner listens to it
// to print results as they happen and to write its reports.
#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariantMap>

class TestResult {
public:
    enum Type { Pass, Fail, ExpectedFail, UnexpectedPass, Warning, Error, Fatal, Skip, Log, SectionStart, SectionEnd };

    struct Entry {
        Type type = Log;
        QString message;
        QString detail;
        QString file;
        int line = -1;
        QDateTime time;
        QStringList sections; // the open sections, outermost first
        QString attachment;   // a file kept with the result
        // What machine-readable reports need and the text output does not show: a feature step's
        // definition ("match"), its duration in nanoseconds ("duration"), the hooks around it.
        QVariantMap facts;
    };

    class Listener {
    public:
        virtual ~Listener() = default;
        // Before the entry is kept: the listener may add to it (a screenshot of the moment).
        virtual void resultAdding(Entry& entry) {}
        virtual void resultAdded(const Entry& entry) = 0;
    };

    void add(const Entry& entry);
    void add(Type type, const QString& message, const QString& detail = QString(), const QString& file = QString(),
             int line = -1);

    // An entry recorded elsewhere (by another process running the test case): kept as it is, and no
    // listener hears of it.
    void append(const Entry& entry) { results.append(entry); }

    const QList<Entry>& entries() const { return results; }
    int count(Type type) const;
    // True when no result counts against the test: no failure, unexpected pass, error or fatal.
    bool passed() const;
    // True when the test case ended by a skip and nothing failed.
    bool skipped() const { return passed() && count(Skip) > 0; }
    void clear();

    // A test result is started once, for a test case, before results go to it; tools that read an
    // object map without running a test start one of their own.
    void start(const QString& testCase, const QString& /*suite*/, const QString& /*file*/)
    {
        started = true;
        startedTestCase = testCase;
    }
    bool isStarted() const { return started; }
    QString startedAs() const { return startedTestCase; }

    void startSection(const QString& title, const QString& description, const QString& file, int line,
                      const QVariantMap& facts = QVariantMap());
    // False when no section is open.
    bool endSection(const QString& file, int line, const QVariantMap& facts = QVariantMap());
    QStringList openSections() const { return sections; }

    // With it set, a failed verification ends the test case instead of letting the script go on.
    void setAbortOnFailure(bool on) { abortOnFailure = on; }
    bool isAbortOnFailure() const { return abortOnFailure; }

    void setListener(Listener* l) { listener = l; }
    static QString typeName(Type type);

private:
    QList<Entry> results;
    QStringList sections;
    bool abortOnFailure = false;
    bool started = false;
    QString startedTestCase;
    Listener* listener = nullptr;
};
