#include "npcamvue/rtp/parameter_sets.h"

#include <climits>
#include <vector>

#include "npcamvue/rtp/emulation_prevention.h"
#include "npcamvue/rtp/rbsp_bit_reader.h"

namespace camvue {
namespace {

bool IsStartOrZeros(const uint8_t* b) {
    return b[0] == 0 && b[1] == 0 && b[2] <= 1;
}

bool IsSlice(uint8_t type) {
    return type == 1 || type == 2 || type == 5;
}

}  // namespace

void ScanParameterSets(const uint8_t* bytes, size_t length, SpsInfo* sps, PictureSize* size) {
    if (bytes == nullptr || sps == nullptr || size == nullptr || length < 4)
        return;
    std::vector<uint8_t> unit;
    size_t pos = 0;
    for (;;) {
        // Start code: leading zero bytes, then 00 00 01. A bare 00 00 stays
        // part of the unit; anything else ends the scan.
        while (length - pos >= 3 && bytes[pos] == 0 && bytes[pos + 1] == 0 && bytes[pos + 2] == 0) {
            ++pos;
        }
        if (length - pos < 3 || bytes[pos] != 0 || bytes[pos + 1] != 0)
            return;
        if (bytes[pos + 2] == 1)
            pos += 3;

        // The unit runs to the next 00 00 00 or 00 00 01, or to the end.
        const size_t start = pos;
        size_t end = length;
        for (size_t i = start; length - i >= 3; ++i) {
            if (IsStartOrZeros(bytes + i)) {
                end = i;
                break;
            }
        }
        pos = end;
        const size_t unitLength = end - start;
        // Too short for an SPS: an access unit delimiter, end of sequence or
        // end of stream, or an empty unit between two start codes.
        if (unitLength < 3)
            continue;
        // A slice ends the parameter sets; no need to copy it first.
        if (IsSlice(bytes[start] & 0x1F))
            return;
        if (unitLength > static_cast<size_t>(INT_MAX))
            return;

        unit.assign(bytes + start, bytes + end);
        const int rbspLength = RemoveEmulationPrevention(static_cast<int>(unitLength), unit.data());
        if (rbspLength < 0)
            return;
        if ((unit[0] & 0x1F) != 7)
            continue;
        RbspBitReader reader;
        InitRbspBitReader(&reader, unit.data(), static_cast<size_t>(rbspLength));
        ParseSps(&reader, sps);
        if (sps->valid)
            SpsPictureSize(*sps, &size->width, &size->height);
    }
}

}  // namespace camvue
