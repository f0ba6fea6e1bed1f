// A look into a legacy workbook before libfreexl opens it. libfreexl allocates a cell table for each
// sheet as large as the sheet's declared dimensions (about 16 bytes per cell, declared or not), so a
// file of a few kilobytes can ask for gigabytes. This check reads the compound file's workbook stream
// and adds up the declared cells of all sheets.
#pragma once

#include <cstdint>

namespace Swinder {

// The cells that the DIMENSIONS records of the workbook stream declare (rows x columns, summed over
// all sheets), or -1 when the file is not a compound file with a readable workbook stream.
std::int64_t declaredCellCount(const char* fileName);

} // namespace Swinder
