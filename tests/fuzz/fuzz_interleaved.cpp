// The interleaved reader on a hostile TCP stream: the first bytes choose the
// read sizes, the rest is the stream. Every item lies within what was read,
// frames never exceed 16-bit lengths, and nothing is lost or invented:
// skipped bytes plus item bytes never exceed the input.
#include <cstdint>
#include <cstring>

#include "npcamvue/rtsp/interleaved.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    const size_t chunk = 1 + ((size_t(data[0]) << 8) | data[1]);
    data += 2;
    size -= 2;
    camvue::InterleavedReader reader;
    if (!reader.ok())
        return 0;
    size_t at = 0;
    uint64_t itemBytes = 0;
    for (;;) {
        uint8_t channel = 0;
        uint8_t* item = nullptr;
        size_t length = 0;
        camvue::InterleavedReader::Item kind;
        while ((kind = reader.Next(&channel, &item, &length)) !=
               camvue::InterleavedReader::Item::kNone) {
            if (kind == camvue::InterleavedReader::Item::kPacket) {
                if (length > 0xFFFF)
                    __builtin_trap();
                itemBytes += 4 + length;
            } else {
                if (length == 0)
                    __builtin_trap();
                itemBytes += length;
            }
            if (length > 0)
                std::memset(item, 0xA5, length);  // the sink may rewrite it in place
        }
        if (itemBytes + reader.skipped() > at)
            __builtin_trap();
        if (at == size)
            break;
        size_t room = 0;
        uint8_t* space = reader.Space(&room);
        if (room == 0)
            __builtin_trap();
        const size_t n = chunk < size - at ? (chunk < room ? chunk : room)
                                           : (size - at < room ? size - at : room);
        std::memcpy(space, data + at, n);
        reader.Commit(n);
        at += n;
    }
    return 0;
}
