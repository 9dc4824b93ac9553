#include "npcamvue/rtp/jpeg_tables.h"

namespace camvue {
namespace {

static_assert(HuffmanValueCount(kLumaDcCounts) == sizeof kLumaDcValues, "K.3 counts");
static_assert(HuffmanValueCount(kChromaDcCounts) == sizeof kChromaDcValues, "K.4 counts");
static_assert(HuffmanValueCount(kLumaAcCounts) == sizeof kLumaAcValues, "K.5 counts");
static_assert(HuffmanValueCount(kChromaAcCounts) == sizeof kChromaAcValues, "K.6 counts");

void ScaleTable(const uint8_t* base, int factor, uint8_t* out) {
    for (size_t i = 0; i < kJpegQuantTableSize; ++i) {
        int value = (base[i] * factor + 50) / 100;
        if (value < 1)
            value = 1;
        else if (value > 255)
            value = 255;
        out[i] = static_cast<uint8_t>(value);
    }
}

}  // namespace

void ScaleQuantTables(int q, uint8_t luma[kJpegQuantTableSize],
                      uint8_t chroma[kJpegQuantTableSize]) {
    // RFC 2435 4.2: Q 1..49 scale by 5000 / Q, Q 50..99 by 200 - 2Q (percent).
    if (q < 1)
        q = 1;
    else if (q > 99)
        q = 99;
    const int factor = q < 50 ? 5000 / q : 200 - 2 * q;
    ScaleTable(kJpegLumaQuantBase, factor, luma);
    ScaleTable(kJpegChromaQuantBase, factor, chroma);
}

void ScaleQuantTables(int q, StreamState& stream) {
    if (stream.jpegScaledQ == q && stream.jpegLumaSet && stream.jpegChromaSet)
        return;
    ScaleQuantTables(q, stream.jpegLuma, stream.jpegChroma);
    stream.jpegLumaSet = true;
    stream.jpegChromaSet = true;
    stream.jpegScaledQ = q;
}

}  // namespace camvue
