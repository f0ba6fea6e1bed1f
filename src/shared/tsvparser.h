// Reader of delimited text (tab, comma or semicolon, with double-quote quoting) for TsvTestDataSet.
#pragma once

#include <QFile>
#include <QString>
#include <QTextStream>

namespace Tarvin {

class TestDataSet;

class TsvParser {
public:
    TsvParser() = default;
    TsvParser(const TsvParser&) = delete;
    TsvParser& operator=(const TsvParser&) = delete;

    // Opens the file as UTF-8 text; false (and a "Couldn't open" warning) when it cannot be read,
    // after which every read gives the empty text.
    bool open(const QString& fileName);
    // Closes and reopens the same file and sets the record counter back to -1.
    void reset();

    QString fileName() const { return file.fileName(); }
    int recordNumber() const { return counter; }
    // The first failure seen ("Couldn't open ..."), empty when none.
    QString failure() const { return failureText; }

    // The raw text of the next record, quotes included, without its line end; empty at the end.
    QString readRecord();
    // Separators outside quotes; -1 for an empty text.
    static int countSeparators(const QString& text, char separator);
    // Tab, comma or semicolon from the first three records; 0 when none fits.
    char detectSeparator();
    // Splits one record; record 0 becomes the set's header, later ones are appended.
    void parseRecord(TestDataSet* dataSet, const QString& text, char separator);

    // readRecord and parseRecord without copying each record: the record is left in *text and
    // *length, valid until the next read; spill holds it when it spans the parser's buffer. False
    // (and an empty record) at the end.
    bool nextRecord(QString* spill, const QChar** text, int* length);
    void parseRecord(TestDataSet* dataSet, const QChar* text, int length, char separator);

private:
    bool fill();
    bool atEnd() { return pos >= buffer.size() && !fill(); }

    QFile file;
    QTextStream stream;
    bool hasStream = false;
    bool skipRest = false; // after an overlong record
    bool capReported = false; // the overlong record was reported; reset() reads it again without a second warning
    QString buffer; // decoded text not consumed yet, from pos on
    int pos = 0;
    int counter = -1;
    QString failureText;
};

} // namespace Tarvin
