// The results of one test run as the framework's test functions report them. The runner listens to
// it to print results as they happen and to write its reports.
#pragma once

#include <QDateTime>
#include <QList>
#include <QString>

class TestResult {
public:
    enum Type { Pass, Fail, ExpectedFail, UnexpectedPass, Warning, Error, Fatal, Skip, Log };

    struct Entry {
        Type type = Log;
        QString message;
        QString detail;
        QString file;
        int line = -1;
        QDateTime time;
    };

    class Listener {
    public:
        virtual ~Listener() = default;
        virtual void resultAdded(const Entry& entry) = 0;
    };

    void add(const Entry& entry);
    void add(Type type, const QString& message, const QString& detail = QString(), const QString& file = QString(),
             int line = -1);

    const QList<Entry>& entries() const { return results; }
    int count(Type type) const;
    // True when no result counts against the test: no failure, unexpected pass, error or fatal.
    bool passed() const;
    void clear() { results.clear(); }

    void setListener(Listener* l) { listener = l; }
    static QString typeName(Type type);

private:
    QList<Entry> results;
    Listener* listener = nullptr;
};
