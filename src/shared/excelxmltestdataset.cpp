// .xlsx workbooks: the shared strings, the workbook part (for a sheet chosen by name) and one
// worksheet. Large parts are walked with XmlScanner element by element; each row and each shared
// string is parsed with TinyXML on its own, so memory stays near the size of the part.
#include "excelxmltestdataset.h"

#include "excelxml_p.h"
#include "testdata_p.h"
#include "xmlscanner.h"

#include <QFileInfo>

#include <minizip/unzip.h>
#include <tinyxml.h>

#include <cstring>

namespace Tarvin {

XlsxLimits& xlsxLimits()
{
    static XlsxLimits limits;
    return limits;
}

namespace {

const char notFoundText[] = "file is not contained in the archive!\n";

QString extractionError(int code, const QString& member)
{
    switch (code) {
    case UNZ_CRCERROR:
        return QStringLiteral("crc check failed! ");
    case UNZ_BADZIPFILE:
        return QStringLiteral("invalid zip archive file. ");
    case UNZ_PARAMERROR:
        return QStringLiteral("parameter error when extracting '%1' from archive! ").arg(member);
    case UNZ_END_OF_LIST_OF_FILE:
        return QString::fromLatin1(notFoundText);
    default:
        return QStringLiteral("unknown error when extracting data '%1'.").arg(member);
    }
}

const int capExceeded = -1000;

} // namespace

QByteArray extractMember(void* archive, const QString& member, qint64 archiveBytes, QString* error, bool* tooLarge)
{
    error->clear();
    if (tooLarge)
        *tooLarge = false;
    unzFile zip = static_cast<unzFile>(archive);
    if (!zip) {
        *error = extractionError(UNZ_PARAMERROR, member);
        return QByteArray();
    }
    int rc = unzLocateFile(zip, member.toUtf8().constData(), 1);
    unz_file_info64 info;
    if (rc == UNZ_OK)
        rc = unzGetCurrentFileInfo64(zip, &info, nullptr, 0, nullptr, 0, nullptr, 0);
    if (rc == UNZ_OK)
        rc = unzOpenCurrentFile(zip);
    if (rc != UNZ_OK) {
        *error = extractionError(rc, member);
        return QByteArray();
    }

    const XlsxLimits& limits = xlsxLimits();
    const qint64 compressed = qMax<qint64>(1, qMin<qint64>(info.compressed_size, archiveBytes));
    QByteArray buffer;
    qint64 size = 0;
    // The declared size only sizes the first buffer; pages past what is inflated are never touched.
    buffer.resize(static_cast<int>(qBound<qint64>(64 * 1024, info.uncompressed_size + 1, limits.maxMemberBytes + 1)));
    for (;;) {
        if (size == buffer.size()) {
            const qint64 grown = qMin<qint64>(2 * size, limits.maxMemberBytes + 1);
            if (grown <= size) {
                rc = capExceeded;
                break;
            }
            buffer.resize(static_cast<int>(grown));
        }
        const int n = unzReadCurrentFile(zip, buffer.data() + size, static_cast<unsigned>(buffer.size() - size));
        if (n < 0) {
            rc = n;
            break;
        }
        if (n == 0)
            break;
        size += n;
        if (size > limits.maxMemberBytes || (size > limits.ratioFloor && size / compressed > limits.maxRatio)) {
            rc = capExceeded;
            break;
        }
    }
    const int closeRc = unzCloseCurrentFile(zip);
    if (rc == UNZ_OK)
        rc = closeRc;
    if (rc != UNZ_OK) {
        if (tooLarge)
            *tooLarge = rc == capExceeded;
        *error = extractionError(rc, member);
        return QByteArray();
    }
    buffer.resize(static_cast<int>(size));
    return buffer;
}

namespace {

bool named(const TiXmlElement* element, const char* localName)
{
    const char* name = element->Value();
    const char* colon = std::strrchr(name, ':');
    return std::strcmp(colon ? colon + 1 : name, localName) == 0;
}

// The text of the element's first child when that is a text node.
const char* elementText(const TiXmlElement* element)
{
    const TiXmlNode* child = element->FirstChild();
    const TiXmlText* text = child ? child->ToText() : nullptr;
    return text ? text->Value() : "";
}

// A shared string or an inline string: its t children, else the t children of its r runs.
QString runText(const TiXmlElement* element)
{
    std::string text;
    for (const TiXmlElement* t = element->FirstChildElement(); t; t = t->NextSiblingElement())
        if (named(t, "t"))
            text += elementText(t);
    if (text.empty()) {
        for (const TiXmlElement* r = element->FirstChildElement(); r; r = r->NextSiblingElement()) {
            if (!named(r, "r"))
                continue;
            for (const TiXmlElement* t = r->FirstChildElement(); t; t = t->NextSiblingElement())
                if (named(t, "t"))
                    text += elementText(t);
        }
    }
    return QString::fromUtf8(text.data(), static_cast<int>(text.size()));
}

// Leading decimal digits; false when there are none. Saturates instead of overflowing.
bool readUnsigned(const char* text, quint64* value)
{
    *value = 0;
    if (!text || *text < '0' || *text > '9')
        return false;
    for (; *text >= '0' && *text <= '9'; ++text)
        *value = qMin<quint64>(*value * 10 + (*text - '0'), quint64(1) << 40);
    return true;
}

// The column number of a cell reference's leading capital letters (B7 gives 2, none gives 0), or -1
// beyond the format's last column.
int columnNumber(const char* reference)
{
    int column = 0;
    for (const char* p = reference; p && *p >= 'A' && *p <= 'Z'; ++p) {
        column = column * 26 + (*p - 'A' + 1);
        if (column > xlsxMaxColumn)
            return -1;
    }
    return column;
}

// Parses one element of a part, in place: the buffer is cut behind it for the time of the parse.
class ElementParser {
public:
    explicit ElementParser(QByteArray& part) : part(part) {}

    // The parsed element, or null when it is too large, holds what TinyXML reads differently from
    // the scanner, or does not parse.
    const TiXmlElement* parse(const char* begin, const char* end, bool odd)
    {
        doc.Clear();
        if (odd || end - begin > xlsxLimits().maxElementBytes)
            return nullptr;
        char* cut = part.data() + (end - part.constData());
        const char saved = *cut;
        *cut = '\0';
        doc.Parse(begin, nullptr, TIXML_ENCODING_UTF8);
        *cut = saved;
        return doc.Error() ? nullptr : doc.RootElement();
    }

private:
    QByteArray& part;
    TiXmlDocument doc;
};

// Walks to the first top-level element; false when there is none.
bool enterRoot(XmlScanner& scanner, bool* empty)
{
    for (;;) {
        switch (scanner.next()) {
        case XmlScanner::StartTag:
            *empty = false;
            return true;
        case XmlScanner::EmptyTag:
            *empty = true;
            return true;
        case XmlScanner::Text:
            continue;
        default:
            return false;
        }
    }
}

// Calls visit(scanner, isEmptyTag) for every child element of the element the scanner just opened,
// and leaves the scanner behind its end tag. visit must consume a started child (skipElement or its
// own walk). False when the part ended badly.
template <class Visit> bool forEachChild(XmlScanner& scanner, Visit visit)
{
    const int depth = scanner.depth();
    for (;;) {
        const XmlScanner::Token token = scanner.next();
        switch (token) {
        case XmlScanner::StartTag:
        case XmlScanner::EmptyTag:
            if (!visit(scanner, token == XmlScanner::EmptyTag))
                return false;
            if (token == XmlScanner::StartTag && scanner.depth() >= depth + 1)
                return false; // the visitor left the child open
            break;
        case XmlScanner::EndTag:
            if (scanner.depth() < depth)
                return true;
            break;
        case XmlScanner::Text:
            break;
        default:
            return false;
        }
    }
}

QStringList readSharedStrings(QByteArray& part, QStringList* capNotes)
{
    QStringList table;
    XmlScanner scanner(part.constData(), part.constData() + part.size(), xlsxLimits().maxDepth);
    struct DepthNote {
        XmlScanner& scanner;
        QStringList* notes;
        QStringList& table;
        ~DepthNote()
        {
            if (scanner.depthExceeded())
                notes->append(QStringLiteral("xl/sharedStrings.xml nests elements deeper than the cap of %1 levels; "
                                             "the shared strings from entry %2 on were left out")
                                  .arg(xlsxLimits().maxDepth)
                                  .arg(table.size()));
        }
    } note{scanner, capNotes, table};
    ElementParser parser(part);
    bool empty = false;
    if (!enterRoot(scanner, &empty) || empty || scanner.localName() != "sst")
        return table;
    forEachChild(scanner, [&](XmlScanner& s, bool emptyTag) {
        if (s.localName() != "si")
            return emptyTag || s.skipElement();
        const char* begin = s.tokenBegin();
        const int odd = s.oddities();
        if (!emptyTag && !s.skipElement())
            return false;
        // Every si gives an entry, so that entry numbers keep matching their positions.
        const TiXmlElement* si = parser.parse(begin, s.tokenEnd(), s.oddities() != odd);
        table.append(si ? runText(si) : QString(QLatin1String("")));
        return true;
    });
    return table;
}

enum class SheetLookup { Found, NoWorkbook, NoSheets, NoSheet, NotFound };

SheetLookup findSheetNumber(QByteArray& part, const QString& sheetName, QString* number)
{
    XmlScanner scanner(part.constData(), part.constData() + part.size(), xlsxLimits().maxDepth);
    ElementParser parser(part);
    bool empty = false;
    if (!enterRoot(scanner, &empty) || scanner.localName() != "workbook")
        return SheetLookup::NoWorkbook;
    if (empty)
        return SheetLookup::NoSheets;
    bool sawSheets = false, sawSheet = false, found = false;
    forEachChild(scanner, [&](XmlScanner& s, bool emptyTag) {
        if (sawSheets || s.localName() != "sheets")
            return emptyTag || s.skipElement();
        sawSheets = true; // only the first sheets element counts
        if (emptyTag)
            return true;
        return forEachChild(s, [&](XmlScanner& s2, bool emptyTag2) {
            if (s2.localName() != "sheet" || found)
                return emptyTag2 || s2.skipElement();
            const char* begin = s2.tokenBegin();
            const int odd = s2.oddities();
            if (!emptyTag2 && !s2.skipElement())
                return false;
            sawSheet = true;
            const TiXmlElement* sheet = parser.parse(begin, s2.tokenEnd(), s2.oddities() != odd);
            const char* name = sheet ? sheet->Attribute("name") : nullptr;
            if (name && QString::fromUtf8(name) == sheetName) {
                const char* id = sheet->Attribute("sheetId");
                *number = QString::fromUtf8(id ? id : "");
                found = true;
            }
            return true;
        });
    });
    if (!sawSheets)
        return SheetLookup::NoSheets;
    if (!sawSheet)
        return SheetLookup::NoSheet;
    return found ? SheetLookup::Found : SheetLookup::NotFound;
}

// Fills the set from a worksheet part, row by row.
class SheetReader {
public:
    SheetReader(TestDataSet* set, QByteArray& part) : set(set), part(part), parser(part) {}

    void read()
    {
        lastColumn = findLastColumn();
        XmlScanner scanner(part.constData(), part.constData() + part.size(), xlsxLimits().maxDepth);
        struct DepthNote {
            XmlScanner& scanner;
            SheetReader* reader;
            ~DepthNote()
            {
                if (scanner.depthExceeded())
                    reader->capNotes.append(QStringLiteral("the worksheet nests elements deeper than the cap of %1 "
                                                           "levels; the rows from row %2 on were left out")
                                                .arg(xlsxLimits().maxDepth)
                                                .arg(reader->expectedRow));
            }
        } note{scanner, this};
        bool empty = false;
        if (!enterRoot(scanner, &empty) || empty || scanner.localName() != "worksheet")
            return;
        forEachChild(scanner, [&](XmlScanner& s, bool emptyTag) {
            if (s.localName() != "sheetData" || emptyTag)
                return emptyTag || s.skipElement();
            return forEachChild(s, [&](XmlScanner& s2, bool emptyTag2) {
                if (s2.localName() != "row")
                    return emptyTag2 || s2.skipElement();
                const char* begin = s2.tokenBegin();
                const int odd = s2.oddities();
                if (!emptyTag2 && !s2.skipElement())
                    return false;
                const TiXmlElement* row = parser.parse(begin, s2.tokenEnd(), s2.oddities() != odd);
                return row && readRow(row);
            });
        });
    }

private:
    // The column of the end cell of the first dimension element; 0 when there is none, or when it
    // lies beyond the format's last column (a damaged file: padding to it would only waste memory).
    int findLastColumn()
    {
        XmlScanner scanner(part.constData(), part.constData() + part.size(), xlsxLimits().maxDepth);
        bool empty = false;
        if (!enterRoot(scanner, &empty) || empty || scanner.localName() != "worksheet")
            return 0;
        int column = 0;
        bool found = false;
        forEachChild(scanner, [&](XmlScanner& s, bool emptyTag) {
            if (found || s.localName() != "dimension")
                return emptyTag || s.skipElement();
            found = true;
            const char* begin = s.tokenBegin();
            const int odd = s.oddities();
            if (!emptyTag && !s.skipElement())
                return false;
            const TiXmlElement* dimension = parser.parse(begin, s.tokenEnd(), s.oddities() != odd);
            const char* ref = dimension ? dimension->Attribute("ref") : nullptr;
            if (ref) {
                const char* colon = std::strchr(ref, ':');
                column = qMax(0, columnNumber(colon ? colon + 1 : ref));
            }
            return false; // found: no need to walk further
        });
        return column;
    }

    bool reserveFields(qint64 count, quint64 rowNumber)
    {
        fieldsUsed += count;
        if (fieldsUsed <= xlsxLimits().maxFields)
            return true;
        capNotes.append(QStringLiteral("the worksheet holds more than the cap of %1 fields; row %2 and every later "
                                       "row were left out")
                            .arg(xlsxLimits().maxFields)
                            .arg(rowNumber));
        return false;
    }

    void addRecord(TestDataRecord* record, quint64 rowNumber)
    {
        if (rowNumber == 1)
            set->setHeader(record);
        else
            set->appendRecord(record);
    }

    QString cellValue(const TiXmlElement* cell) const
    {
        const char* type = cell->Attribute("t");
        if (type && type[0] == 's' && std::strcmp(type, "str") != 0) {
            const TiXmlElement* first = cell->FirstChildElement();
            quint64 index = 0;
            if (first && readUnsigned(elementText(first), &index) && index < quint64(strings.size()))
                return strings.at(static_cast<int>(index));
            return empty;
        }
        if (type && std::strcmp(type, "inlineStr") == 0) {
            for (const TiXmlElement* child = cell->FirstChildElement(); child; child = child->NextSiblingElement())
                if (named(child, "is"))
                    return runText(child);
            return empty;
        }
        const TiXmlElement* value = nullptr;
        int count = 0;
        for (const TiXmlElement* child = cell->FirstChildElement(); child; child = child->NextSiblingElement())
            if (named(child, "v") && ++count == 1)
                value = child;
        return count == 1 ? QString::fromUtf8(elementText(value)) : empty;
    }

    bool readRow(const TiXmlElement* row)
    {
        quint64 rowNumber = 0;
        readUnsigned(row->Attribute("r"), &rowNumber);
        if (rowNumber > xlsxMaxRow) {
            // A damaged row number; the row is left out.
            if (!beyondLastRow++)
                capNotes.append(QStringLiteral("row %1 lies beyond the format's last row %2; such rows were left out")
                                    .arg(rowNumber)
                                    .arg(xlsxMaxRow));
            return true;
        }
        for (; expectedRow < rowNumber; ++expectedRow) {
            if (!reserveFields(lastColumn, expectedRow))
                return false;
            auto* filler = new TestDataRecord(set);
            for (int i = 0; i < lastColumn; ++i)
                filler->appendField(empty);
            addRecord(filler, expectedRow);
        }
        auto* record = new TestDataRecord(set);
        int expectedColumn = 1;
        for (const TiXmlElement* cell = row->FirstChildElement(); cell; cell = cell->NextSiblingElement()) {
            if (!named(cell, "c"))
                continue;
            const int column = columnNumber(cell->Attribute("r"));
            if (column < 0)
                continue; // beyond XFD: a damaged reference
            for (; expectedColumn < column; ++expectedColumn)
                record->appendField(empty);
            record->appendField(cellValue(cell));
            expectedColumn = column + 1;
        }
        while (record->fieldCount() < lastColumn)
            record->appendField(empty);
        if (!reserveFields(record->fieldCount(), rowNumber)) {
            delete record;
            return false;
        }
        addRecord(record, rowNumber);
        expectedRow = rowNumber + 1;
        return true;
    }

public:
    QStringList strings;
    // What a cap left out, one text each, for the warning.
    QStringList capNotes;

private:
    TestDataSet* set;
    QByteArray& part;
    ElementParser parser;
    const QString empty = QLatin1String("");
    int lastColumn = 0;
    quint64 expectedRow = 1;
    qint64 fieldsUsed = 0;
    int beyondLastRow = 0;
};

class CondenseWhiteSpaceOff {
public:
    CondenseWhiteSpaceOff() : previous(TiXmlBase::IsWhiteSpaceCondensed()) { TiXmlBase::SetCondenseWhiteSpace(false); }
    ~CondenseWhiteSpaceOff() { TiXmlBase::SetCondenseWhiteSpace(previous); }

private:
    bool previous;
};

class Archive {
public:
    explicit Archive(const QString& fileName) : zip(unzOpen64(fileName.toUtf8().constData())) {}
    ~Archive() { close(); }
    void close()
    {
        if (zip)
            unzClose(zip);
        zip = nullptr;
    }
    unzFile handle() const { return zip; }

private:
    unzFile zip;
};

QString withLineEnd(const QString& text)
{
    return text.endsWith(QLatin1Char('\n')) ? text : text + QLatin1Char('\n');
}

} // namespace

ExcelXmlTestDataSet::ExcelXmlTestDataSet(const QString& fileName, const QString& sheetName)
    : TestDataSet(fileName, ',', true)
{
    CondenseWhiteSpaceOff condense;
    Archive archive(fileName);
    const qint64 archiveBytes = QFileInfo(fileName).size();
    QString error;

    bool tooLarge = false;
    QStringList capNotes;
    // Whatever the ending, the caps that cut the set short are told in one warning.
    struct CapWarning {
        const QString& fileName;
        QStringList& notes;
        ~CapWarning()
        {
            if (!notes.isEmpty())
                reportDataCap(fileName, notes.join(QStringLiteral("; ")));
        }
    } capWarning{fileName, capNotes};
    auto noteTooLarge = [&](const QString& member) {
        if (tooLarge)
            capNotes.append(QStringLiteral("member '%1' is larger than the cap of %2 bytes (or inflates more than "
                                           "%3 times its compressed size); it was left out")
                                .arg(member)
                                .arg(xlsxLimits().maxMemberBytes)
                                .arg(xlsxLimits().maxRatio));
    };

    QByteArray part = extractMember(archive.handle(), QStringLiteral("xl/sharedStrings.xml"), archiveBytes, &error,
                                    &tooLarge);
    noteTooLarge(QStringLiteral("xl/sharedStrings.xml"));
    QStringList strings;
    if (error.isEmpty()) {
        strings = readSharedStrings(part, &capNotes);
    } else if (error != QLatin1String(notFoundText)) {
        reportDataFailure(this, DataChannel::StandardError,
                          QStringLiteral("tarvinrunner: testData Shared Strings: ") + error + QLatin1Char('\n'));
        return;
    }
    part = QByteArray();

    QString sheetNumber = QStringLiteral("1");
    if (!sheetName.isEmpty()) {
        const QString corrupt = QStringLiteral("tarvinrunner: .xlsx file is corrupt: ");
        part = extractMember(archive.handle(), QStringLiteral("xl/workbook.xml"), archiveBytes, &error, &tooLarge);
        noteTooLarge(QStringLiteral("xl/workbook.xml"));
        if (!error.isEmpty()) {
            reportDataFailure(this, DataChannel::StandardError, withLineEnd(corrupt + error));
            return;
        }
        switch (findSheetNumber(part, sheetName, &sheetNumber)) {
        case SheetLookup::Found:
            break;
        case SheetLookup::NoWorkbook:
            reportDataFailure(this, DataChannel::StandardError, corrupt + QStringLiteral("No <workbook>\n"));
            return;
        case SheetLookup::NoSheets:
            reportDataFailure(this, DataChannel::StandardError, corrupt + QStringLiteral("No <sheets>\n"));
            return;
        case SheetLookup::NoSheet:
            reportDataFailure(this, DataChannel::StandardError, corrupt + QStringLiteral("No <sheet>\n"));
            return;
        case SheetLookup::NotFound:
            reportDataFailure(this, DataChannel::StandardError,
                              QStringLiteral("tarvinrunner: sheet not found: ") + sheetName + QLatin1Char('\n'));
            return;
        }
        part = QByteArray();
    }

    const QString member = QStringLiteral("xl/worksheets/sheet") + sheetNumber + QStringLiteral(".xml");
    part = extractMember(archive.handle(), member, archiveBytes, &error, &tooLarge);
    noteTooLarge(member);
    if (!error.isEmpty()) {
        reportDataFailure(this, DataChannel::StandardOutput,
                          QStringLiteral("tarvinrunner: testData Sheet: ") + error + QLatin1Char('\n'));
        return;
    }
    archive.close();
    SheetReader reader(this, part);
    reader.strings = std::move(strings);
    reader.read();
    capNotes += reader.capNotes;
}

} // namespace Tarvin
