// libFuzzer target: see TarvinFuzz::xls in testdatafuzz.h.
#include "testdatafuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    TarvinFuzz::xls(data, size);
    return 0;
}
