// Annex B scan and SPS parse over arbitrary bytes.
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "npcamvue/rtp/emulation_prevention.h"
#include "npcamvue/rtp/h264_sps.h"
#include "npcamvue/rtp/parameter_sets.h"

namespace {

void CheckSize(const camvue::SpsInfo& sps, const camvue::PictureSize& size) {
    if (!sps.valid)
        return;
    // H.264 level limits bound a valid SPS to 1055 macroblocks a side.
    if (size.width < 1 || size.width > 16880 || size.height < 1 || size.height > 16880) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The scan must leave the caller's bytes as they were.
    const std::vector<uint8_t> before(data, data + size);
    camvue::SpsInfo sps;
    camvue::PictureSize picture{-1, -1};
    camvue::ScanParameterSets(data, size, &sps, &picture);
    if (size != 0 && std::memcmp(before.data(), data, size) != 0)
        std::abort();
    if (picture.width != -1 || picture.height != -1) {
        if (picture.width < 1 || picture.height < 1)
            std::abort();
    }

    // The same bytes as one NAL unit, the way an in-band SPS arrives.
    if (size > static_cast<size_t>(INT_MAX))
        return 0;
    std::vector<uint8_t> nal(data, data + size);
    const int length = camvue::RemoveEmulationPrevention(static_cast<int>(size), nal.data());
    if (length < 0)
        return 0;
    if (static_cast<size_t>(length) > size)
        std::abort();
    camvue::RbspBitReader reader;
    camvue::InitRbspBitReader(&reader, nal.data(), static_cast<size_t>(length));
    camvue::SpsInfo direct;
    camvue::ParseSps(&reader, &direct);
    camvue::PictureSize directSize;
    camvue::SpsPictureSize(direct, &directSize.width, &directSize.height);
    CheckSize(direct, directSize);
    return 0;
}
