// Delimited text: records are read raw (quotes kept, a quoted line feed stays inside the record), then
// split into fields. Both passes share one quote state: 0 outside quotes, 1 inside a quoted part, 2
// just after a double quote inside a quoted part.
#include "tsvparser.h"

#include "testdata.h"
#include "testdata_p.h"

#include <QTextCodec>

#include <cstdio>

namespace Tarvin {

namespace {
const int chunkSize = 64 * 1024;
}

int& tsvMaxRecordLength()
{
    static int length = 32 * 1024 * 1024;
    return length;
}

bool TsvParser::open(const QString& fileName)
{
    if (hasStream) {
        stream.setDevice(nullptr);
        file.close();
        hasStream = false;
    }
    buffer.clear();
    pos = 0;
    skipRest = false;
    capReported = false;
    file.setFileName(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        failureText = QStringLiteral("Couldn't open %1").arg(QString::fromLocal8Bit(fileName.toLocal8Bit()));
        reportDataFailure(nullptr, DataChannel::Warning, failureText);
        return false;
    }
    stream.setDevice(&file);
    stream.setCodec(QTextCodec::codecForName("UTF-8"));
    hasStream = true;
    return true;
}

void TsvParser::reset()
{
    if (!hasStream)
        return;
    const bool reported = capReported;
    open(file.fileName());
    capReported = reported;
    counter = -1;
}

bool TsvParser::fill()
{
    if (!hasStream || skipRest || stream.atEnd())
        return false;
    buffer = stream.read(chunkSize);
    pos = 0;
    return !buffer.isEmpty();
}

QString TsvParser::readRecord()
{
    QString spill;
    const QChar* text = nullptr;
    int length = 0;
    if (!nextRecord(&spill, &text, &length))
        return QString();
    return spill.isNull() ? QString(text, length) : spill;
}

bool TsvParser::nextRecord(QString* spill, const QChar** text, int* length)
{
    *text = nullptr;
    *length = 0;
    if (atEnd())
        return false;
    ++counter;
    int state = 0;
    while (!atEnd()) {
        // Scan for the line feed that ends the record outside quotes; it is the only character
        // dropped. (Whether a closing quote is the stream's last character does not matter here:
        // the record ends either way.)
        const QChar* data = buffer.constData();
        const int size = buffer.size();
        const int start = pos;
        int end = -1;
        while (pos < size) {
            if (state == 0) {
                while (pos < size && data[pos].unicode() != '\n' && data[pos].unicode() != '"')
                    ++pos;
                if (pos == size)
                    break;
            }
            const ushort c = data[pos].unicode();
            ++pos;
            if (c == '"') {
                state = state == 0 ? 1 : state == 1 ? 2 : 1; // a second quote in state 2 is escaped
            } else {
                if (state == 2)
                    state = 0;
                if (c == '\n' && state == 0) {
                    end = pos - 1;
                    break;
                }
            }
        }
        if (end >= 0) {
            if (spill->isNull()) {
                // The usual case: the record lies in the buffer and is handed out from there.
                *text = data + start;
                *length = end - start;
            } else {
                spill->append(data + start, end - start);
            }
            break;
        }
        if (spill->isNull())
            *spill = QLatin1String("");
        spill->append(data + start, pos - start);
        if (spill->size() > tsvMaxRecordLength()) {
            // Separator detection and the data set read the same file; one warning is enough.
            if (!capReported)
                reportDataCap(file.fileName(),
                              QStringLiteral("record %1 is longer than the cap of %2 characters (an unterminated "
                                             "quote?); it and every later record were left out")
                                  .arg(counter)
                                  .arg(tsvMaxRecordLength()));
            capReported = true;
            // Skip the rest of the file, so that the caller's next read sees the end.
            skipRest = true;
            buffer.clear();
            pos = 0;
            spill->clear();
            return false;
        }
    }
    if (!spill->isNull()) {
        if (spill->endsWith(QLatin1Char('\r')))
            spill->chop(1);
        *text = spill->constData();
        *length = spill->size();
    } else if (*length > 0 && (*text)[*length - 1] == QLatin1Char('\r')) {
        --*length;
    }
    return *length > 0;
}

int TsvParser::countSeparators(const QString& text, char separator)
{
    if (text.isEmpty())
        return -1;
    int count = 0;
    int state = 0;
    const int size = text.size();
    const QChar* data = text.constData();
    for (int i = 0; i < size; ++i) {
        const ushort c = data[i].unicode();
        if (state == 2) {
            if (c == '"') {
                state = 1;
                continue;
            }
            state = 0;
        }
        if (c == '"') {
            if (state == 0)
                state = 1;
            else if (i + 1 < size)
                state = 2;
        } else if (state == 0 && c == static_cast<unsigned char>(separator)) {
            ++count;
        }
    }
    return count;
}

char TsvParser::detectSeparator()
{
    static const char candidates[3] = {',', ';', '\t'};
    int scores[3] = {-1, -1, -1};
    for (int n = 0; n < 3; ++n) {
        const QString text = readRecord();
        if (text.isEmpty())
            break;
        for (int k = 0; k < 3; ++k) {
            const int count = countSeparators(text, candidates[k]);
            if (n == 0)
                scores[k] = count > 0 ? count : -1;
            else if (scores[k] != count)
                scores[k] = -1;
        }
    }
    const int comma = scores[0], semicolon = scores[1], tab = scores[2];
    if (comma == -1 && semicolon == -1 && tab == -1)
        return 0;
    if (comma < semicolon)
        return semicolon >= tab ? ';' : '\t';
    return comma >= tab ? ',' : '\t';
}

void TsvParser::parseRecord(TestDataSet* dataSet, const QString& text, char separator)
{
    parseRecord(dataSet, text.constData(), text.size(), separator);
}

void TsvParser::parseRecord(TestDataSet* dataSet, const QChar* data, int size, char separator)
{
    if (size <= 0)
        return;
    auto* record = new TestDataRecord(dataSet);
    record->reserve(dataSet->header() ? dataSet->header()->fieldCount() : 1, size);
    const ushort sep = static_cast<unsigned char>(separator);
    bool stored = false; // whether the record has any field yet
    int state = 0;
    int runStart = 0; // start of the pending run of plain characters of the current field
    for (int i = 0; i < size; ++i) {
        if (state == 0) {
            // Plain characters need no look beyond this.
            while (i < size && data[i].unicode() != sep && data[i].unicode() != '"')
                ++i, stored = true;
            if (i == size)
                break;
        }
        const ushort c = data[i].unicode();
        if (state == 2) {
            if (c == '"') {
                // An escaped quote: the first one was not kept, so this one stands for both.
                record->appendText(data + runStart, i - runStart + 1);
                stored = true;
                runStart = i + 1;
                state = 1;
                continue;
            }
            state = 0;
        }
        if (c == sep && state == 0) {
            record->appendText(data + runStart, i - runStart);
            record->endField();
            stored = true;
            runStart = i + 1;
        } else if (c == '"') {
            record->appendText(data + runStart, i - runStart);
            runStart = i + 1;
            if (state == 0)
                state = 1;
            else if (i + 1 < size)
                state = 2;
        } else {
            stored = true;
        }
    }
    if (stored) {
        record->appendText(data + runStart, size - runStart);
        record->endField();
    }

    if (counter == 0) {
        dataSet->setHeader(record);
        return;
    }
    const int expected = dataSet->header() ? dataSet->header()->fieldCount() : 0;
    if (record->fieldCount() != expected)
        std::fprintf(stderr, "Warning: inconsistent format in %s (line %d): Expected %d fields. Got %d.\n",
                     dataSet->fileName().toLocal8Bit().constData(), counter, expected, record->fieldCount());
    dataSet->appendRecord(record);
}

} // namespace Tarvin
