// libFuzzer target: see TarvinFuzz::delimited in testdatafuzz.h.
#include "testdatafuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    TarvinFuzz::delimited(data, size);
    return 0;
}
