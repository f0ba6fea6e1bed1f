// Native script types for timing in tests: StopWatch measures how long steps take, Deadline (a
// StopWatch with a time limit) bounds a script's own waiting loops.
#pragma once

#include "nativeapi.h"

#include <QElapsedTimer>
#include <QString>

class StopWatch : public NativeScriptObject
{
public:
    explicit StopWatch(const QString& label = QString());

    static const void* staticTypeId();
    const void* typeId() const override { return staticTypeId(); }

    // Milliseconds measured so far, the running interval included.
    qint64 elapsed() const;
    bool isRunning() const { return running; }
    QString label() const { return text; }
    void setLabel(const QString& label) { text = label; }

    void start();
    void stop();
    void reset();

    // "H:MM:SS.mmm" for a number of milliseconds.
    static QString format(qint64 milliseconds);

private:
    QElapsedTimer timer;
    qint64 accumulated = 0;
    bool running = false;
    QString text;
};

class Deadline : public StopWatch
{
public:
    Deadline(qint64 timeout, const QString& label = QString());

    static const void* staticTypeId();
    const void* typeId() const override { return staticTypeId(); }

    qint64 timeout() const { return limit; }
    void setTimeout(qint64 milliseconds) { limit = milliseconds; }
    // Milliseconds left, never below 0.
    qint64 remaining() const;
    bool isExpired() const { return remaining() == 0; }

private:
    qint64 limit;
};
