// Swinder reader classes on libfreexl's public interface.
#include "swinder.h"

#include "biffcheck.h"

#include <freexl.h>

#include <sys/stat.h>

#include <map>
#include <string>
#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <cstring>

namespace Swinder {

namespace {

// libfreexl 1.0 can corrupt memory on crafted files in ways no look from outside foresees (a fuzzer
// found frees of wild pointers after a header record swallowed its neighbours). So a child process
// opens the file first; only when that child ends normally does this process open it. A child that
// runs longer than childSeconds is killed and the file refused.
bool openSurvives(const char* fileName)
{
#ifdef _WIN32
    (void)fileName;
    return true;
#else
    const int childSeconds = 30;
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid < 0)
        return false;
    if (pid == 0) {
        const void* handle = nullptr;
        const int rc = freexl_open(fileName, &handle);
        if (handle)
            freexl_close(handle);
        _exit(rc == FREEXL_OK ? 0 : 1);
    }
    int status = 0;
    for (int waited = 0;; ++waited) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid)
            break;
        if (done < 0)
            return false;
        if (waited >= childSeconds * 1000) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return false;
        }
        const struct timespec millisecond = {0, 1000 * 1000};
        nanosleep(&millisecond, nullptr);
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
#endif
}

// Files a child has opened without harm, by path, with the size, time and inode they had then: a
// data-driven test reads the same file once per test case, and one child per file is enough.
struct FileIdentity {
    off_t size;
    time_t seconds;
    long nanoseconds;
    ino_t inode;
    bool operator==(const FileIdentity& other) const
    {
        return size == other.size && seconds == other.seconds && nanoseconds == other.nanoseconds &&
               inode == other.inode;
    }
};

std::map<std::string, FileIdentity>& survivors()
{
    static std::map<std::string, FileIdentity> files;
    return files;
}

FileIdentity identity(const struct stat& info)
{
    return FileIdentity{info.st_size, info.st_mtim.tv_sec, info.st_mtim.tv_nsec, info.st_ino};
}

bool knownSurvivor(const char* fileName, const struct stat& info)
{
    const auto hit = survivors().find(fileName);
    return hit != survivors().end() && hit->second == identity(info);
}

void rememberSurvivor(const char* fileName, const struct stat& info)
{
    if (survivors().size() >= 256)
        survivors().clear();
    survivors()[fileName] = identity(info);
}

} // namespace

UString UString::fromUtf8(const char* utf8)
{
    std::u16string out;
    if (!utf8)
        return UString();
    out.reserve(std::strlen(utf8));
    const auto* p = reinterpret_cast<const unsigned char*>(utf8);
    while (*p) {
        char32_t c = *p;
        int extra = c < 0x80 ? 0 : (c >> 5) == 0x6 ? 1 : (c >> 4) == 0xe ? 2 : (c >> 3) == 0x1e ? 3 : -1;
        if (extra < 0) {
            out.push_back(0xfffd);
            ++p;
            continue;
        }
        c &= extra == 0 ? 0x7f : (0x3f >> extra);
        ++p;
        bool ok = true;
        for (int i = 0; i < extra; ++i, ++p) {
            if ((*p & 0xc0) != 0x80) {
                ok = false;
                break;
            }
            c = (c << 6) | (*p & 0x3f);
        }
        if (!ok || c > 0x10ffff || (c >= 0xd800 && c <= 0xdfff)) {
            out.push_back(0xfffd);
            continue;
        }
        if (c >= 0x10000) {
            c -= 0x10000;
            out.push_back(static_cast<char16_t>(0xd800 + (c >> 10)));
            out.push_back(static_cast<char16_t>(0xdc00 + (c & 0x3ff)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
    }
    return UString(std::move(out));
}

std::string UString::toUtf8() const
{
    std::string out;
    const std::u16string text = toU16();
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xd800 && c <= 0xdbff && i + 1 < text.size() && text[i + 1] >= 0xdc00 && text[i + 1] <= 0xdfff) {
            c = 0x10000 + ((c - 0xd800) << 10) + (text[i + 1] - 0xdc00);
            ++i;
        } else if (c >= 0xd800 && c <= 0xdfff) {
            c = 0xfffd;
        }
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xc0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3f)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xe0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3f)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3f)));
        } else {
            out.push_back(static_cast<char>(0xf0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3f)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3f)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3f)));
        }
    }
    return out;
}

Value Value::fromBoolean(bool value)
{
    Value v;
    v.kind = Boolean;
    v.integer = value ? 1 : 0;
    return v;
}

Value Value::fromError(const UString& name)
{
    Value v;
    v.kind = Error;
    v.text = name;
    return v;
}

Value Value::fromInteger(int number)
{
    Value v;
    v.kind = Integer;
    v.integer = number;
    return v;
}

Value Value::fromFloat(double number)
{
    Value v;
    v.kind = Float;
    v.number = number;
    return v;
}

Value Value::fromString(const UString& text)
{
    Value v;
    v.kind = String;
    v.text = text;
    return v;
}

Value Value::fromUtf8(const char* text)
{
    Value v;
    v.kind = String;
    v.utf8 = text;
    return v;
}

Sheet::Sheet(Workbook* workbook, unsigned sheetIndex, const UString& name)
    : book(workbook), index(sheetIndex), sheetName(name)
{
}

unsigned Sheet::maxRow() const
{
    return book->select(index) ? book->rows : 0;
}

unsigned Sheet::maxColumn() const
{
    return book->select(index) ? book->columns : 0;
}

Cell* Sheet::cell(unsigned column, unsigned row, bool create)
{
    (void)create; // a read-only reader never creates cells
    if (!book->select(index) || row >= book->rows || column >= book->columns)
        return nullptr;
    if (row != slotRow) {
        if (slots.size() != book->columns)
            slots.assign(book->columns, Slot());
        for (Slot& slot : slots)
            slot.loaded = slot.exists = false;
        slotRow = row;
    }
    Slot& slot = slots[column];
    if (slot.loaded)
        return slot.exists ? &slot.cell : nullptr;
    slot.loaded = true;
    if (index < book->extraCells.size()) {
        const ExtraCells& extra = book->extraCells[index];
        const auto hit = extra.find(std::uint32_t(row) << 16 | column);
        if (hit != extra.end() && row <= 0xffff) {
            const ExtraCell& e = hit->second;
            Value value;
            switch (e.kind) {
            case ExtraCell::Number:
                value = Value::fromFloat(e.number);
                break;
            case ExtraCell::Text:
                value = Value::fromString(UString(e.text));
                break;
            case ExtraCell::Boolean:
                value = Value::fromBoolean(e.boolean);
                break;
            case ExtraCell::Error:
                value = Value::fromError(UString(e.text));
                break;
            }
            slot.cell = Cell(column, row, value);
            slot.exists = true;
            return &slot.cell;
        }
    }
    FreeXL_CellValue raw;
    if (freexl_get_cell_value(book->handle, row, static_cast<unsigned short>(column), &raw) != FREEXL_OK)
        return nullptr;
    Value value;
    switch (raw.type) {
    case FREEXL_CELL_INT:
        value = Value::fromInteger(raw.value.int_value);
        break;
    case FREEXL_CELL_DOUBLE:
        value = Value::fromFloat(raw.value.double_value);
        break;
    case FREEXL_CELL_TEXT:
    case FREEXL_CELL_SST_TEXT:
    case FREEXL_CELL_DATE:
    case FREEXL_CELL_DATETIME:
    case FREEXL_CELL_TIME:
        // libfreexl keeps its texts for as long as the workbook is open.
        value = Value::fromUtf8(raw.value.text_value ? raw.value.text_value : "");
        break;
    default:
        return nullptr;
    }
    slot.cell = Cell(column, row, value);
    slot.exists = true;
    return &slot.cell;
}

Workbook::Workbook(Store*) {}

Workbook::~Workbook()
{
    close();
}

void Workbook::close()
{
    sheets.clear();
    if (handle)
        freexl_close(handle);
    handle = nullptr;
    activeSheet = -1;
    passwordProtected = false;
    extraCells.clear();
}

bool Workbook::load(const char* fileName)
{
    close();
    struct stat info;
    if (!fileName || stat(fileName, &info) != 0 || !S_ISREG(info.st_mode) || info.st_size > maxFileBytes)
        return false;
    // The last workbook's scan is kept: a data set read again (each iteration of a data-driven loop)
    // is not walked again while the file is unchanged.
    struct LastScan {
        std::string name;
        off_t size = -1;
        struct timespec modified = {0, 0};
        WorkbookScan scan;
    };
    static LastScan last;
    const bool unchanged = last.name == fileName && last.size == info.st_size &&
                           last.modified.tv_sec == info.st_mtim.tv_sec && last.modified.tv_nsec == info.st_mtim.tv_nsec;
    if (!unchanged) {
        last.scan = scanWorkbook(fileName);
        last.name = fileName;
        last.size = info.st_size;
        last.modified = info.st_mtim;
    }
    WorkbookScan scan = last.scan;
    if (!scan.readable || !scan.plausible || scan.declaredCells > maxDeclaredCells)
        return false;
    if (scan.passwordProtected) {
        // libfreexl cannot decrypt; the caller only needs to know.
        passwordProtected = true;
        return true;
    }
    // A file that an open in a child survived before, unchanged since, is not tried in a child again.
    if (!knownSurvivor(fileName, info)) {
        if (!openSurvives(fileName))
            return false;
        rememberSurvivor(fileName, info);
    }
    extraCells = std::move(scan.extraCells);
    const void* opened = nullptr;
    if (freexl_open(fileName, &opened) != FREEXL_OK) {
        if (opened)
            freexl_close(opened);
        return false;
    }
    handle = opened;
    unsigned int value = 0;
    if (freexl_get_info(handle, FREEXL_BIFF_PASSWORD, &value) == FREEXL_OK && value == FREEXL_BIFF_OBFUSCATED)
        passwordProtected = true;
    unsigned int count = 0;
    if (freexl_get_info(handle, FREEXL_BIFF_SHEET_COUNT, &count) != FREEXL_OK)
        count = 0;
    for (unsigned i = 0; i < count && i < 65536; ++i) {
        const char* name = nullptr;
        if (freexl_get_worksheet_name(handle, static_cast<unsigned short>(i), &name) != FREEXL_OK)
            break;
        sheets.emplace_back(new Sheet(this, i, UString::fromUtf8(name)));
    }
    return true;
}

bool Workbook::select(unsigned index)
{
    if (!handle)
        return false;
    if (activeSheet == static_cast<int>(index))
        return true;
    activeSheet = -1;
    rows = 0;
    columns = 0;
    for (auto& sheet : sheets) {
        sheet->slots.clear();
        sheet->slotRow = 0xffffffffu;
    }
    if (freexl_select_active_worksheet(handle, static_cast<unsigned short>(index)) != FREEXL_OK)
        return false;
    if (freexl_worksheet_dimensions(handle, &rows, &columns) != FREEXL_OK) {
        rows = 0;
        columns = 0;
        return false;
    }
    activeSheet = static_cast<int>(index);
    return true;
}

} // namespace Swinder
