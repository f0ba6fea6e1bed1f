// Builds .xlsx workbooks for tests, fuzz seeds and benchmarks: a ZIP writer whose declared sizes and
// checksums can be falsified, and helpers for the XML parts.
#pragma once

#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

namespace XlsxBuilder {

struct Member {
    std::string name;
    std::string data;
    bool deflate = true;
    int64_t declaredSize = -1; // the uncompressed size written into the headers; -1: the true one
    bool badCrc = false;
    int level = Z_BEST_SPEED;
};

inline void put16(std::string& out, unsigned v)
{
    out += char(v & 0xff);
    out += char((v >> 8) & 0xff);
}

inline void put32(std::string& out, uint32_t v)
{
    put16(out, v & 0xffff);
    put16(out, v >> 16);
}

inline std::string rawDeflate(const std::string& data, int level)
{
    z_stream s{};
    deflateInit2(&s, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&s, data.size()), '\0');
    s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    s.avail_in = static_cast<uInt>(data.size());
    s.next_out = reinterpret_cast<Bytef*>(&out[0]);
    s.avail_out = static_cast<uInt>(out.size());
    deflate(&s, Z_FINISH);
    out.resize(s.total_out);
    deflateEnd(&s);
    return out;
}

inline std::string zip(const std::vector<Member>& members)
{
    std::string out, central;
    for (const Member& m : members) {
        const std::string body = m.deflate ? rawDeflate(m.data, m.level) : m.data;
        uint32_t crc = crc32(0, reinterpret_cast<const Bytef*>(m.data.data()), static_cast<uInt>(m.data.size()));
        if (m.badCrc)
            crc ^= 0x5a5a5a5a;
        const uint32_t size = static_cast<uint32_t>(m.declaredSize >= 0 ? m.declaredSize : int64_t(m.data.size()));
        const uint32_t offset = static_cast<uint32_t>(out.size());
        auto common = [&](std::string& h) {
            put16(h, 20);                 // version needed
            put16(h, 0);                  // flags
            put16(h, m.deflate ? 8 : 0);  // method
            put16(h, 0);                  // time
            put16(h, 0x21);               // date
            put32(h, crc);
            put32(h, static_cast<uint32_t>(body.size()));
            put32(h, size);
            put16(h, static_cast<unsigned>(m.name.size()));
            put16(h, 0);                  // extra
        };
        put32(out, 0x04034b50);
        common(out);
        out += m.name;
        out += body;

        put32(central, 0x02014b50);
        put16(central, 20); // made by
        common(central);
        put16(central, 0);  // comment
        put16(central, 0);  // disk
        put16(central, 0);  // internal attributes
        put32(central, 0);  // external attributes
        put32(central, offset);
        central += m.name;
    }
    const uint32_t centralOffset = static_cast<uint32_t>(out.size());
    out += central;
    put32(out, 0x06054b50);
    put16(out, 0);
    put16(out, 0);
    put16(out, static_cast<unsigned>(members.size()));
    put16(out, static_cast<unsigned>(members.size()));
    put32(out, static_cast<uint32_t>(central.size()));
    put32(out, centralOffset);
    put16(out, 0);
    return out;
}

inline std::string sheet(const std::string& dimension, const std::string& rows)
{
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
                      "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">";
    if (!dimension.empty())
        xml += "<dimension ref=\"" + dimension + "\"/>";
    return xml + "<sheetData>" + rows + "</sheetData></worksheet>";
}

inline std::string sharedStrings(const std::vector<std::string>& entries)
{
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<sst xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">";
    for (const std::string& e : entries)
        xml += "<si><t xml:space=\"preserve\">" + e + "</t></si>";
    return xml + "</sst>";
}

// A workbook part naming sheets; each pair is a name and its sheetId.
inline std::string workbook(const std::vector<std::pair<std::string, std::string>>& sheets)
{
    std::string xml = "<?xml version=\"1.0\"?><workbook><sheets>";
    for (const auto& s : sheets)
        xml += "<sheet name=\"" + s.first + "\" sheetId=\"" + s.second + "\"/>";
    return xml + "</sheets></workbook>";
}

// A complete package with one sheet named Data, as other spreadsheet programs expect it.
inline std::vector<Member> package(const std::string& sheetXml, const std::string& sharedStringsXml)
{
    const std::string rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
    const std::string type = "application/vnd.openxmlformats-officedocument.spreadsheetml.";
    return {
        {"[Content_Types].xml",
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
         "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
         "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
         "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
         "<Override PartName=\"/xl/workbook.xml\" ContentType=\"" + type + "sheet.main+xml\"/>"
         "<Override PartName=\"/xl/worksheets/sheet1.xml\" ContentType=\"" + type + "worksheet+xml\"/>"
         "<Override PartName=\"/xl/sharedStrings.xml\" ContentType=\"" + type + "sharedStrings+xml\"/></Types>"},
        {"_rels/.rels",
         "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
         "<Relationship Id=\"rId1\" Type=\"" + rel + "officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>"},
        {"xl/workbook.xml",
         "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" xmlns:r=\"" + rel.substr(0, rel.size() - 1) + "\">"
         "<sheets><sheet name=\"Data\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>"},
        {"xl/_rels/workbook.xml.rels",
         "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
         "<Relationship Id=\"rId1\" Type=\"" + rel + "worksheet\" Target=\"worksheets/sheet1.xml\"/>"
         "<Relationship Id=\"rId2\" Type=\"" + rel + "sharedStrings\" Target=\"sharedStrings.xml\"/></Relationships>"},
        {"xl/sharedStrings.xml", sharedStringsXml},
        {"xl/worksheets/sheet1.xml", sheetXml},
    };
}

} // namespace XlsxBuilder
