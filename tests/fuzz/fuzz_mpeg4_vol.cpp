// MPEG-4 Visual configuration test and VOL header parse over arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "npcamvue/rtp/mpeg4_config.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const bool config = camvue::IsMpeg4Config(data, size);
    if (config && (size < 4 || data[0] != 0 || data[1] != 0 || data[2] != 1))
        std::abort();

    camvue::Mpeg4VolInfo vol;
    if (camvue::ParseMpeg4Vol(data, size, &vol)) {
        // The start code and at least one header byte lie inside the input.
        if (vol.startCodeOffset + 5 > size)
            std::abort();
        if ((data[vol.startCodeOffset + 3] & 0xF0) != 0x20)
            std::abort();
        if (vol.width < 1 || vol.width > 8191 || vol.height < 1 || vol.height > 8191)
            std::abort();
    }
    camvue::PictureSize picture{-1, -1};
    camvue::ApplyMpeg4Vol(vol, &picture);
    if (vol.ok != (picture.width != -1))
        std::abort();

    for (size_t from = 0; from <= size;) {
        const size_t next = camvue::FindMpeg4StartCode(data, size, from);
        if (next > size || (next < size && next < from))
            std::abort();
        if (next == size)
            break;
        from = next + 1;
    }
    return 0;
}
