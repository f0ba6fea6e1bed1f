// A look into a legacy workbook before libfreexl opens it. libfreexl allocates a cell table for each
// sheet as large as the sheet's declared dimensions (about 16 bytes per cell, declared or not), so a
// file of a few kilobytes can ask for gigabytes; and it trusts the lengths inside records. This check
// reads the compound file's workbook stream, adds up the declared cells of all sheets and checks the
// record lengths.
#pragma once

#include <cstdint>

namespace Swinder {

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
};

WorkbookScan scanWorkbook(const char* fileName);

} // namespace Swinder
