// libFuzzer target for the instrumenter: any bytes are instrumented without a crash, the hook
// records come in ascending order, and removing the inserted hook texts gives the input back.
#include "tclinstrumenter.h"

#include <tcl.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// Length of the hook text at p ("__tarvin_dbg KIND N N N; "), 0 when there is none.
int hookLength(const char* p, const char* end)
{
    static const char* const kinds[] = {"__tarvin_dbg step ", "__tarvin_dbg frame push ",
                                        "__tarvin_dbg frame pop "};
    for (const char* kind : kinds) {
        const size_t length = std::strlen(kind);
        if (size_t(end - p) < length || std::memcmp(p, kind, length) != 0)
            continue;
        const char* q = p + length;
        for (int number = 0; number < 3; ++number) {
            const char* digits = q;
            while (q < end && *q >= '0' && *q <= '9')
                ++q;
            if (q == digits || q == end || *q != (number < 2 ? ' ' : ';'))
                return 0;
            ++q;
        }
        return q < end && *q == ' ' ? int(q + 1 - p) : 0;
    }
    return 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Tcl_Interp* interp = [] {
        Tcl_FindExecutable(nullptr);
        return Tcl_CreateInterp();
    }();
    const QByteArray script(reinterpret_cast<const char*>(data), int(size));
    if (script.contains("__tarvin_dbg"))
        return 0; // the removal below could not tell inserted hooks from the input's own

    std::vector<HookRecord> records;
    collectHooks(interp, script, 0, script.size(), records, true);
    for (size_t i = 1; i < records.size(); ++i)
        if (records[i].position < records[i - 1].position)
            std::abort();
    for (const HookRecord& record : records)
        if (record.position < 0 || record.position >= script.size())
            std::abort();

    const QByteArray out = writeInstrumented(script, 5, records);
    QByteArray back;
    const char* p = out.constData();
    const char* end = p + out.size();
    while (p < end) {
        const int length = hookLength(p, end);
        if (length > 0) {
            p += length;
        } else {
            back.append(*p++);
        }
    }
    if (back != script)
        std::abort();
    return 0;
}
