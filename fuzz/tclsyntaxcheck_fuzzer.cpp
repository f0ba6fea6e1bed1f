// libFuzzer target for the syntax analyser: any bytes give an empty text or one report line.
#include "tclsyntaxcheck.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size); // NUL-terminated copy
    const QByteArray report = analyzeSource(text.c_str());
    if (!report.isEmpty() && (!report.startsWith("Line ") || !report.endsWith(")\n") ||
                              report.count('\n') != 1))
        std::abort();
    return 0;
}
