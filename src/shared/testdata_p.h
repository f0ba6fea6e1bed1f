// Internal to the test data readers: how a reader reports a failure.
#pragma once

#include <QString>

namespace Tarvin {

class TestDataSet;

// None only records the failure (it has been printed already).
enum class DataChannel { StandardError, StandardOutput, Warning, None };

// Prints a reader's failure on its channel (the text is written as is; warnings go to qWarning) and
// records it as the set's failure. While a FailureCapture is alive nothing is printed.
void reportDataFailure(TestDataSet* dataSet, DataChannel channel, const QString& text);

// A reader's cap cut the data set short: a warning for the test log naming the file, the cap and what
// was left out ("Warning: <file>: <what>"). The set keeps what was read; it is not a failure. Quiet
// while a FailureCapture is alive.
void reportDataCap(const QString& fileName, const QString& what);

// A delimited record longer than this many characters (an unterminated quote in a large file) ends
// the data with a warning instead of holding the rest of the file as one field. 32 Mi by default;
// tests lower it.
int& tsvMaxRecordLength();

class FailureCapture {
public:
    FailureCapture();
    ~FailureCapture();
    FailureCapture(const FailureCapture&) = delete;
    FailureCapture& operator=(const FailureCapture&) = delete;

private:
    bool previous;
};

} // namespace Tarvin
