// The Debug Adapter Protocol's framing: any bytes, fed in pieces whose sizes the input chooses, give
// messages or errors, never a crash, and the reader never holds more than a header's limit and a piece.
#include "dapprotocol.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::size_t piece = 1 + data[0] % 64;
    DapMessageReader reader;
    DapMessageReader::Message message;
    for (std::size_t i = 1; i < size; i += piece) {
        const std::size_t n = std::min(piece, size - i);
        reader.feed(QByteArray(reinterpret_cast<const char*>(data + i), int(n)));
        while (reader.next(&message)) {
        }
        // A body is kept whole until it is complete; only lengths the input announced can be held.
        if (reader.buffered() > int(size) + DapMessageReader::maxHeaderBytes)
            abort();
    }
    return 0;
}
