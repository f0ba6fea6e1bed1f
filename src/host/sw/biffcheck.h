// A look into a legacy workbook before libfreexl opens it. libfreexl allocates a cell table for each
// sheet as large as the sheet's declared dimensions (about 16 bytes per cell, declared or not), so a
// file of a few kilobytes can ask for gigabytes; and it trusts the lengths inside records. This check
// reads the compound file's workbook stream, adds up the declared cells of all sheets and checks the
// record lengths.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace Swinder {

// A cell value that libfreexl's interface does not give: a BOOLERR cell (libfreexl reads its booleans as
// the integers 1 and 0) or the cached result of a FORMULA record (libfreexl reads none).
struct ExtraCell {
    enum Kind { Number, Text, Boolean, Error };
    Kind kind = Number;
    double number = 0;
    bool boolean = false;
    // The text result, or the error's name (#DIV/0! ...).
    std::u16string text;
};

// Extra cells by row << 16 | column.
typedef std::map<std::uint32_t, ExtraCell> ExtraCells;

struct WorkbookScan {
    // A compound file with a workbook stream that could be read.
    bool readable = false;
    // Every record fits the format's record size, and the texts of the records libfreexl decodes
    // on opening (sheet names, formats, cell texts) fit their records. libfreexl trusts those
    // lengths and reads past its buffers when they lie.
    bool plausible = false;
    // The cells that the DIMENSIONS records declare (rows x columns, summed over all sheets).
    std::int64_t declaredCells = 0;
    // A FILEPASS record: the workbook is encrypted with a password.
    bool passwordProtected = false;
    // BIFF8 only: the extra cells of each sheet, in the order of the BOUNDSHEET records. At most
    // maxExtraCells in all; the rest keep what libfreexl gives.
    std::vector<ExtraCells> extraCells;
    static const std::size_t maxExtraCells = 1u << 20;
};

WorkbookScan scanWorkbook(const char* fileName);

} // namespace Swinder
