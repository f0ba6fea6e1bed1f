// Entry points of the test data fuzzers, shared by the libFuzzer mains and the regression test that
// replays inputs which once failed.
#pragma once

#include <cstddef>
#include <cstdint>

namespace TarvinFuzz {

// Delimited text: the input as a .csv, a .txt and a .tsv file.
void delimited(const std::uint8_t* data, std::size_t size);
// .xlsx: the first byte chooses what the rest is: a whole archive, a worksheet part, a shared
// strings part (with a sheet that uses them) or a workbook part (read by sheet name).
void xlsx(const std::uint8_t* data, std::size_t size);
// .xls: the input as a workbook file, read for its first sheet and for a named one.
void xls(const std::uint8_t* data, std::size_t size);

} // namespace TarvinFuzz
