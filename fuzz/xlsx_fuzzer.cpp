// libFuzzer target: see TarvinFuzz::xlsx in testdatafuzz.h.
#include "testdatafuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    TarvinFuzz::xlsx(data, size);
    return 0;
}
