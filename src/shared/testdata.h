// Tables of test data read from files: a header record naming the fields and the data records, each a
// list of texts. TestDataSet::create chooses the reader by the file name's suffix.
#pragma once

#include "sharedptr.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVarLengthArray>
#include <QVector>

namespace Tarvin {

class TestDataSet;
class TsvParser;
enum class DataChannel;

// One row of a data set. The owning set must stay the first member: the Tcl record value reaches the
// set through it to hold the set alive while a script keeps the record.
//
// The fields are kept one after another in one text with their end offsets, so that a table of a
// million cells costs a few allocations per row rather than one per cell; field() cuts a field out.
class TestDataRecord {
public:
    explicit TestDataRecord(TestDataSet* dataSet) : owner(dataSet) {}

    TestDataSet* dataSet() const { return owner; }
    int fieldCount() const { return ends.size(); }
    // A null text when i is out of range.
    QString field(int i) const;
    // A negative i is ignored; the list grows with empty texts up to i.
    void setField(int i, const QString& text);
    // Appends a field at the end; the readers' fast path.
    void appendField(const QString& text) { appendField(text.constData(), text.size()); }
    void appendField(const QChar* text, int length)
    {
        chars.append(text, length);
        ends.append(chars.size());
    }
    void appendField(QLatin1String text)
    {
        chars.append(text);
        ends.append(chars.size());
    }
    // Builds the last field piece by piece: appendText as often as needed, then endField.
    void appendText(const QChar* text, int length) { chars.append(text, length); }
    void endField() { ends.append(chars.size()); }
    void reserve(int fieldCount, int textLength)
    {
        ends.reserve(fieldCount);
        chars.reserve(textLength);
    }
    QStringList fieldList() const;

private:
    int startOf(int i) const { return i == 0 ? 0 : ends.at(i - 1); }

    TestDataSet* owner;
    QString chars;     // all fields, one after another
    // Where field i ends in chars; rows of up to 16 fields keep them without an allocation of their own.
    QVarLengthArray<int, 16> ends;
};

class TestDataSet : public Shared {
public:
    TestDataSet(const QString& fileName, char separator, bool readOnly);
    ~TestDataSet() override;

    TestDataSet(const TestDataSet&) = delete;
    TestDataSet& operator=(const TestDataSet&) = delete;

    // A new set (no references yet) or null. The reader is chosen by the suffix after the last dot:
    // xls, xlsx, tsv, csv, anything else delimited text with a detected separator.
    static TestDataSet* create(const QString& fileName);
    // Only the workbook kinds (xls, xlsx) take a sheet name; other suffixes give null.
    static TestDataSet* create(const QString& fileName, const QString& sheetName);

    QString fileName() const { return file; }
    char separator() const { return sep; }
    bool isReadOnly() const { return readOnly; }

    int recordCount() const { return records.size(); }
    TestDataRecord* record(int i) const { return i >= 0 && i < records.size() ? records.at(i) : nullptr; }
    TestDataRecord* header() const { return head; }
    int fieldIndex(const QString& name) const { return index.value(name, -1); }

    // Replaces (and deletes) the previous header and rebuilds the field index; a name that occurs
    // twice maps to its last column. The set takes ownership.
    void setHeader(TestDataRecord* record);
    // The set takes ownership.
    void appendRecord(TestDataRecord* record) { records.append(record); }

    // Writes the set as delimited text with every field quoted; an empty fileName means the set's own
    // file. False for a read-only set or on a file error.
    bool save(const QString& fileName = QString()) const;

    // The first failure a reader reported while filling the set, without its line end; empty when the
    // file was read (warnings about single records are not failures).
    QString failure() const { return failureText; }

private:
    friend void reportDataFailure(TestDataSet*, DataChannel, const QString&);

    QString file;
    QList<TestDataRecord*> records;
    TestDataRecord* head = nullptr;
    QHash<QString, int> index;
    char sep;
    bool readOnly;
    QString failureText;
};

// A tab-, comma- or semicolon-separated text file read through an open parser.
class TsvTestDataSet : public TestDataSet {
public:
    TsvTestDataSet(TsvParser& parser, char separator);
};

// Creates the directories of a "/"-separated path one by one, each only when missing; relative paths
// start from the current directory. With isFilePath the last component names a file and is not
// created. False when a directory could not be created.
bool makePath(const QString& path, bool isFilePath);

} // namespace Tarvin
