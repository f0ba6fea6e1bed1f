// Compound file (CFB) reading, just enough to walk the workbook stream's BIFF records.
#include "biffcheck.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace Swinder {

namespace {

const std::uint32_t endOfChain = 0xfffffffe;
const std::uint32_t maxRegularSector = 0xfffffffa;

std::uint16_t get16(const unsigned char* p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t get32(const unsigned char* p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (std::uint32_t(p[3]) << 24);
}

class CompoundFile {
public:
    explicit CompoundFile(std::FILE* file) : file(file) {}

    bool open()
    {
        static const unsigned char signature[8] = {0xd0, 0xcf, 0x11, 0xe0, 0xa1, 0xb1, 0x1a, 0xe1};
        if (std::fseek(file, 0, SEEK_END) != 0)
            return false;
        fileSize = std::ftell(file);
        unsigned char header[512];
        if (fileSize < 512 || !readAt(0, header, 512) || std::memcmp(header, signature, 8) != 0)
            return false;
        const unsigned shift = get16(header + 0x1e);
        const unsigned miniShift = get16(header + 0x20);
        if ((shift != 9 && shift != 12) || miniShift != 6)
            return false;
        sectorSize = 1u << shift;
        miniSectorSize = 1u << miniShift;
        sectorCount = static_cast<std::uint32_t>((fileSize + sectorSize - 1) / sectorSize);
        directoryStart = get32(header + 0x30);
        miniCutoff = get32(header + 0x38);
        miniFatStart = get32(header + 0x3c);

        // The FAT sectors: 109 in the header, the rest in a chain of DIFAT sectors.
        std::vector<std::uint32_t> fatSectors;
        const std::uint32_t fatCount = get32(header + 0x2c);
        if (fatCount > sectorCount)
            return false;
        for (int i = 0; i < 109 && fatSectors.size() < fatCount; ++i)
            fatSectors.push_back(get32(header + 0x4c + 4 * i));
        std::uint32_t difat = get32(header + 0x44);
        std::vector<unsigned char> sector(sectorSize);
        for (std::uint32_t steps = 0; fatSectors.size() < fatCount; ++steps) {
            if (difat > maxRegularSector || steps > sectorCount || !readSector(difat, sector.data()))
                return false;
            const unsigned perSector = sectorSize / 4 - 1;
            for (unsigned i = 0; i < perSector && fatSectors.size() < fatCount; ++i)
                fatSectors.push_back(get32(sector.data() + 4 * i));
            difat = get32(sector.data() + 4 * perSector);
        }
        for (std::uint32_t s : fatSectors) {
            if (!readSector(s, sector.data()))
                return false;
            for (unsigned i = 0; i < sectorSize / 4; ++i)
                fat.push_back(get32(sector.data() + 4 * i));
        }
        return true;
    }

    // A stream's content by its regular sector chain; at most size bytes.
    bool readChain(std::uint32_t start, std::uint64_t size, std::vector<unsigned char>* out)
    {
        out->clear();
        std::vector<unsigned char> sector(sectorSize);
        for (std::uint32_t s = start, steps = 0; s != endOfChain && out->size() < size; ++steps) {
            if (s > maxRegularSector || s >= fat.size() || steps > sectorCount || !readSector(s, sector.data()))
                return false;
            const std::uint64_t take = std::min<std::uint64_t>(sectorSize, size - out->size());
            out->insert(out->end(), sector.begin(), sector.begin() + take);
            s = fat[s];
        }
        return out->size() == size || size == UINT64_MAX;
    }

    // The directory entry named name (ASCII); its start sector and size.
    bool findStream(const char* name, std::uint32_t* start, std::uint64_t* size, std::uint32_t* rootStart,
                    std::uint64_t* rootSize)
    {
        std::vector<unsigned char> directory;
        if (!readChain(directoryStart, UINT64_MAX, &directory))
            return false;
        bool found = false;
        for (size_t offset = 0; offset + 128 <= directory.size(); offset += 128) {
            const unsigned char* entry = directory.data() + offset;
            const unsigned type = entry[0x42];
            // libfreexl converts every entry's name by its stated length, from a 64-byte field.
            if (get16(entry + 0x40) > 64 || get16(entry + 0x40) % 2 != 0)
                return false;
            const std::uint32_t entryStart = get32(entry + 0x74);
            const std::uint64_t entrySize = get32(entry + 0x78) | (std::uint64_t(sectorSize == 512 ? 0 : get32(entry + 0x7c)) << 32);
            if (type == 5) {
                *rootStart = entryStart;
                *rootSize = entrySize;
                continue;
            }
            if (type != 2 || found)
                continue;
            const unsigned length = get16(entry + 0x40);
            const size_t chars = std::strlen(name);
            if (length != 2 * (chars + 1))
                continue;
            bool same = true;
            for (size_t i = 0; i < chars && same; ++i)
                same = get16(entry + 2 * i) == static_cast<unsigned char>(name[i]);
            if (same) {
                *start = entryStart;
                *size = entrySize;
                found = true;
            }
        }
        return found;
    }

    bool readStream(const char* name, std::vector<unsigned char>* out)
    {
        std::uint32_t start = 0, rootStart = endOfChain;
        std::uint64_t size = 0, rootSize = 0;
        if (!findStream(name, &start, &size, &rootStart, &rootSize))
            return false;
        if (size > std::uint64_t(fileSize))
            return false;
        if (size >= miniCutoff)
            return readChain(start, size, out);
        // Small streams live in the mini stream, chained by the mini FAT.
        std::vector<unsigned char> miniStream, miniFatBytes;
        if (rootSize > std::uint64_t(fileSize) || !readChain(rootStart, rootSize, &miniStream) ||
            !readChain(miniFatStart, UINT64_MAX, &miniFatBytes))
            return false;
        out->clear();
        const std::uint32_t miniCount = static_cast<std::uint32_t>(miniFatBytes.size() / 4);
        for (std::uint32_t s = start, steps = 0; s != endOfChain && out->size() < size; ++steps) {
            if (s >= miniCount || steps > miniCount || (std::uint64_t(s) + 1) * miniSectorSize > miniStream.size())
                return false;
            const std::uint64_t take = std::min<std::uint64_t>(miniSectorSize, size - out->size());
            const unsigned char* from = miniStream.data() + std::uint64_t(s) * miniSectorSize;
            out->insert(out->end(), from, from + take);
            s = get32(miniFatBytes.data() + 4 * s);
        }
        return out->size() == size;
    }

private:
    bool readAt(long offset, unsigned char* into, size_t n)
    {
        return std::fseek(file, offset, SEEK_SET) == 0 && std::fread(into, 1, n, file) == n;
    }

    bool readSector(std::uint32_t s, unsigned char* into)
    {
        const std::uint64_t offset = (std::uint64_t(s) + 1) * sectorSize;
        if (offset + sectorSize > std::uint64_t(fileSize) + sectorSize) // the last sector may be short
            return false;
        std::memset(into, 0, sectorSize);
        if (std::fseek(file, static_cast<long>(offset), SEEK_SET) != 0)
            return false;
        return std::fread(into, 1, sectorSize, file) > 0;
    }

    std::FILE* file;
    long fileSize = 0;
    unsigned sectorSize = 512;
    unsigned miniSectorSize = 64;
    std::uint32_t sectorCount = 0;
    std::uint32_t directoryStart = endOfChain;
    std::uint32_t miniCutoff = 4096;
    std::uint32_t miniFatStart = endOfChain;
    std::vector<std::uint32_t> fat;
};

// Whether a text of count characters, with its option flags at flagsAt, ends inside the record
// (BIFF8: the flags say 8- or 16-bit characters and announce rich-text runs and extended data).
bool textFits(const unsigned char* data, size_t length, size_t flagsAt, size_t count)
{
    if (flagsAt >= length)
        return count == 0 && flagsAt == length;
    const unsigned flags = data[flagsAt];
    const size_t extra = (flags & 0x08 ? 2 : 0) + (flags & 0x04 ? 4 : 0);
    return flagsAt + 1 + extra + count * (flags & 0x01 ? 2 : 1) <= length;
}

bool recordPlausible(unsigned type, const unsigned char* data, size_t length, bool biff8)
{
    switch (type) {
    case 0x0204: // LABEL
        if (biff8)
            return length >= 8 && textFits(data, length, 8, get16(data + 6));
        return length >= 8 && 8 + size_t(get16(data + 6)) <= length;
    case 0x0207: // STRING (a formula's text result)
        if (biff8)
            return length >= 2 && textFits(data, length, 2, get16(data));
        return length >= 2 && 2 + size_t(get16(data)) <= length;
    case 0x0085: // BOUNDSHEET
        if (biff8)
            return length >= 7 && textFits(data, length, 7, data[6]);
        return length >= 7 && 7 + size_t(data[6]) <= length;
    case 0x041e: // FORMAT
        if (biff8)
            return length >= 4 && textFits(data, length, 4, get16(data + 2));
        return length >= 3 && 3 + size_t(data[2]) <= length;
    default:
        return true;
    }
}

// Appends count characters of a BIFF8 text whose option flags are at data[flagsAt] (8-bit Latin-1 or
// UTF-16LE); returns the characters read, which are fewer when the record ends first.
std::size_t appendText(const unsigned char* data, std::size_t length, std::size_t flagsAt, std::size_t count,
                       bool skipFormatting, std::u16string* out)
{
    if (flagsAt >= length)
        return 0;
    const unsigned flags = data[flagsAt];
    std::size_t at = flagsAt + 1;
    if (skipFormatting)
        at += (flags & 0x08 ? 2 : 0) + (flags & 0x04 ? 4 : 0);
    const std::size_t width = flags & 0x01 ? 2 : 1;
    std::size_t read = 0;
    for (; read < count && at + width <= length; ++read, at += width)
        out->push_back(width == 2 ? get16(data + at) : data[at]);
    return read;
}

std::u16string errorName(unsigned code)
{
    switch (code) {
    case 0x00: return u"#NULL!";
    case 0x07: return u"#DIV/0!";
    case 0x0f: return u"#VALUE!";
    case 0x17: return u"#REF!";
    case 0x1d: return u"#NAME?";
    case 0x24: return u"#NUM!";
    case 0x2a: return u"#N/A";
    default: return u"#ERROR!";
    }
}

// Collects BOOLERR cells and the cached results of FORMULA records (with the text of the STRING record
// that follows a formula with a text result) for each sheet substream, found by the stream offsets of
// the BOUNDSHEET records.
class ExtraCellCollector {
public:
    explicit ExtraCellCollector(WorkbookScan* scan) : scan(scan) {}

    void record(const std::vector<unsigned char>& stream, std::size_t pos, unsigned type, const unsigned char* data,
                std::size_t length)
    {
        if (type == 0x0085 && length >= 4) { // BOUNDSHEET
            sheetOffsets.push_back(get32(data));
            scan->extraCells.emplace_back();
            return;
        }
        if (type == 0x0809) { // BOF: a sheet substream starts where its BOUNDSHEET said
            sheet = -1;
            for (std::size_t i = 0; i < sheetOffsets.size(); ++i)
                if (sheetOffsets[i] == pos)
                    sheet = static_cast<int>(i);
            pending = nullptr;
            return;
        }
        if (sheet < 0)
            return;
        if (type == 0x0207) { // STRING: the text of the formula just read
            if (pending && length >= 3) {
                const std::size_t count = get16(data);
                std::size_t read = appendText(data, length, 2, count, true, &pending->text);
                // A long text goes on in CONTINUE records, each starting with its own flags byte.
                for (std::size_t next = pos + 4 + length; read < count && next + 4 <= stream.size();) {
                    const unsigned nextType = get16(&stream[next]);
                    const std::size_t nextLength = get16(&stream[next + 2]);
                    if (nextType != 0x003c || next + 4 + nextLength > stream.size())
                        break;
                    read += appendText(&stream[next + 4], nextLength, 0, count - read, false, &pending->text);
                    next += 4 + nextLength;
                }
            }
            pending = nullptr;
            return;
        }
        const bool cellRecord = type == 0x0006 || type == 0x0205 || type == 0x0203 || type == 0x027e ||
                                type == 0x00bd || type == 0x00fd || type == 0x0204 || type == 0x0201;
        if (!cellRecord)
            return;
        pending = nullptr;
        if ((type != 0x0006 || length < 16) && (type != 0x0205 || length < 8))
            return;
        if (collected >= WorkbookScan::maxExtraCells)
            return;
        ExtraCell cell;
        const unsigned char* result = data + 6;
        if (type == 0x0205) { // BOOLERR
            cell.kind = data[7] ? ExtraCell::Error : ExtraCell::Boolean;
            cell.boolean = data[6] != 0;
            if (data[7])
                cell.text = errorName(data[6]);
        } else if (get16(result + 6) != 0xffff) {
            cell.kind = ExtraCell::Number;
            std::uint64_t bits = 0;
            for (int i = 7; i >= 0; --i)
                bits = bits << 8 | result[i];
            std::memcpy(&cell.number, &bits, sizeof cell.number);
        } else if (result[0] == 0 || result[0] == 3) { // text, in the next STRING record; or the empty text
            cell.kind = ExtraCell::Text;
        } else if (result[0] == 1) {
            cell.kind = ExtraCell::Boolean;
            cell.boolean = result[2] != 0;
        } else if (result[0] == 2) {
            cell.kind = ExtraCell::Error;
            cell.text = errorName(result[2]);
        } else {
            return;
        }
        const std::uint32_t key = std::uint32_t(get16(data)) << 16 | get16(data + 2);
        ExtraCell& stored = scan->extraCells[sheet][key] = cell;
        ++collected;
        if (type == 0x0006 && cell.kind == ExtraCell::Text && result[0] == 0)
            pending = &stored;
    }

private:
    WorkbookScan* scan;
    std::vector<std::uint32_t> sheetOffsets;
    int sheet = -1;
    ExtraCell* pending = nullptr;
    std::size_t collected = 0;
};

} // namespace

WorkbookScan scanWorkbook(const char* fileName)
{
    WorkbookScan scan;
    std::FILE* file = std::fopen(fileName, "rb");
    if (!file)
        return scan;
    CompoundFile cfb(file);
    std::vector<unsigned char> stream;
    const bool ok = cfb.open() && (cfb.readStream("Workbook", &stream) || cfb.readStream("Book", &stream));
    std::fclose(file);
    if (!ok)
        return scan;
    scan.readable = true;
    scan.plausible = true;
    // BIFF records: type, length, data. The first BOF tells BIFF8 (version 0x0600) from older ones.
    // DIMENSIONS holds rows as 32-bit numbers in BIFF8 (14 bytes) and as 16-bit numbers before (10).
    bool biff8 = true;
    ExtraCellCollector extras(&scan);
    for (size_t pos = 0; pos + 4 <= stream.size();) {
        const unsigned type = get16(&stream[pos]);
        const unsigned length = get16(&stream[pos + 2]);
        const unsigned char* data = &stream[pos + 4];
        if (length > 8224 || pos + 4 + length > stream.size()) {
            scan.plausible = false;
            break;
        }
        if (pos == 0)
            biff8 = type == 0x0809 && length >= 2 && get16(data) == 0x0600;
        if (type == 0x0200 && length >= 14)
            scan.declaredCells += std::int64_t(get32(data + 4)) * get16(data + 10);
        else if (type == 0x0200 && length >= 10)
            scan.declaredCells += std::int64_t(get16(data + 2)) * get16(data + 6);
        if (type == 0x002f)
            scan.passwordProtected = true;
        if (!recordPlausible(type, data, length, biff8)) {
            scan.plausible = false;
            break;
        }
        if (biff8)
            extras.record(stream, pos, type, data, length);
        pos += 4 + length;
    }
    return scan;
}

} // namespace Swinder
