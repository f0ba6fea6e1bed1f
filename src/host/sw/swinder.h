// Legacy workbook (.xls) reader: workbooks, sheets, cells and values, decoded by libfreexl.
// Plain C++ without Qt or the host framework, so that the test data readers can use it anywhere.
#pragma once

#include "biffcheck.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Swinder {

typedef char16_t UChar;

// UTF-16 text. Copies share one buffer.
class UString {
public:
    UString() = default;
    explicit UString(std::u16string text)
        : text(text.empty() ? nullptr : std::make_shared<const std::u16string>(std::move(text)))
    {
    }
    static UString fromUtf8(const char* utf8);

    unsigned length() const { return text ? static_cast<unsigned>(text->size()) : 0; }
    // The UTF-16 code units; not terminated.
    const UChar* data() const { return text ? text->data() : u""; }
    bool isEmpty() const { return length() == 0; }
    std::string toUtf8() const;

    bool operator==(const UString& other) const { return toU16() == other.toU16(); }

private:
    std::u16string toU16() const { return text ? *text : std::u16string(); }

    std::shared_ptr<const std::u16string> text;
};

class Value {
public:
    // Numbers as in the original reader's interface; only Empty to RichText occur here. Dates and
    // times arrive as text ("YYYY-MM-DD", "YYYY-MM-DD HH:MM:SS", "HH:MM:SS") of type String.
    enum Type { Empty = 0, Boolean = 1, Integer = 2, Float = 3, String = 4, RichText = 5, Error = 6 };

    Value() = default;
    static Value fromBoolean(bool value);
    // An error cell (#DIV/0! ...): its name is its string form.
    static Value fromError(const UString& name);
    static Value fromInteger(int number);
    static Value fromFloat(double number);
    static Value fromString(const UString& text);
    // A text held by the open workbook, read in place; valid while the workbook is open.
    static Value fromUtf8(const char* text);

    Type type() const { return kind; }
    bool isEmpty() const { return kind == Empty; }
    bool asBoolean() const { return kind == Boolean ? integer != 0 : false; }
    int asInteger() const { return kind == Integer || kind == Boolean ? integer : static_cast<int>(number); }
    double asFloat() const { return kind == Float ? number : static_cast<double>(integer); }
    // The text of String and RichText values and the name of an Error; empty for every other type
    // (numbers and booleans included).
    UString asString() const
    {
        if (kind != String && kind != RichText && kind != Error)
            return UString();
        return utf8 ? UString::fromUtf8(utf8) : text;
    }
    // The UTF-8 text of a String value read in place from the workbook, or null; readers that copy
    // every cell take it from here and skip the UTF-16 copy.
    const char* utf8Text() const { return kind == String ? utf8 : nullptr; }

private:
    Type kind = Empty;
    int integer = 0;
    double number = 0;
    UString text;
    const char* utf8 = nullptr;
};

class Cell {
public:
    Cell(unsigned column, unsigned row, const Value& value) : col(column), rowIndex(row), val(value) {}
    unsigned column() const { return col; }
    unsigned row() const { return rowIndex; }
    Value value() const { return val; }

private:
    unsigned col;
    unsigned rowIndex;
    Value val;
};

class Workbook;

class Sheet {
public:
    Sheet(Workbook* workbook, unsigned index, const UString& name);
    UString name() const { return sheetName; }
    // The cell at a 0-based column and row, or null when there is none. Cells are read from the
    // file on first use; a cell stays valid until a cell of another row (or another sheet's cell) is
    // asked for. create must be false: the reader cannot write.
    Cell* cell(unsigned column, unsigned row, bool create);
    unsigned maxRow() const;
    unsigned maxColumn() const;

private:
    friend class Workbook;
    struct Slot {
        bool loaded = false;
        bool exists = false;
        Cell cell{0, 0, Value()};
    };

    Workbook* book;
    unsigned index;
    UString sheetName;
    // The cells of one row, loaded one by one as they are asked for.
    std::vector<Slot> slots;
    unsigned slotRow = 0xffffffffu;
};

// Only a placeholder of the original interface: this reader keeps nothing in a store.
class Store;

class Workbook {
public:
    // Files beyond this size are not loaded.
    static const long long maxFileBytes = 256LL * 1024 * 1024;
    // Nor are workbooks whose sheets declare more cells than this in all (libfreexl allocates about
    // 16 bytes for each declared cell, so this is 128 MiB; one full sheet of the format has 65536 x
    // 256 = 16 Mi cells).
    static const long long maxDeclaredCells = 8LL * 1024 * 1024;

    explicit Workbook(Store* store = nullptr);
    ~Workbook();
    Workbook(const Workbook&) = delete;
    Workbook& operator=(const Workbook&) = delete;

    // Reads the file; false when it is missing, too large, declares too many cells, has records
    // whose lengths lie, or is not a readable workbook. An encrypted workbook loads as password
    // protected, without sheets.
    bool load(const char* fileName);
    bool isPasswordProtected() const { return passwordProtected; }
    unsigned sheetCount() const { return static_cast<unsigned>(sheets.size()); }
    Sheet* sheet(unsigned index) const { return index < sheets.size() ? sheets[index].get() : nullptr; }

private:
    friend class Sheet;
    void close();
    // Makes the sheet the one cells are read from; false when it cannot be selected.
    bool select(unsigned index);

    const void* handle = nullptr;
    bool passwordProtected = false;
    int activeSheet = -1;
    unsigned rows = 0;
    unsigned short columns = 0;
    std::vector<std::unique_ptr<Sheet>> sheets;
    // Booleans and formula results read beside libfreexl, one map per sheet.
    std::vector<ExtraCells> extraCells;
};

} // namespace Swinder
