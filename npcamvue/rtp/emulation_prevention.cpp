#include "npcamvue/rtp/emulation_prevention.h"

namespace camvue {

int RemoveEmulationPrevention(int length, uint8_t* bytes) {
    // A unit without even its header byte has nothing to keep.
    if (bytes == nullptr || length < 1)
        return -1;
    int kept = 1;  // the NAL header byte stays where it is
    int zeros = 0;
    for (int j = 1; j < length; ++j) {
        const uint8_t value = bytes[j];
        if (zeros >= 2) {
            if (value < 3)
                return -1;  // a start code or 00 00 02 inside the unit
            if (value == 3) {
                if (j == length - 1)
                    break;  // cabac_zero_words padding at the end
                if (bytes[j + 1] > 3)
                    return -1;
                zeros = 0;
                continue;
            }
        }
        zeros = (value == 0) ? zeros + 1 : 0;
        bytes[kept++] = value;
    }
    return kept;
}

}  // namespace camvue
