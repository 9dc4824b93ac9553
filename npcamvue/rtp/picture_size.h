// Picture size of a stream in pixels, as read from codec configuration.
// The session owns one; the configuration parsers write into it.
#pragma once

#include <cstdint>

namespace camvue {

struct PictureSize {
    int32_t width = 0;
    int32_t height = 0;
};

}  // namespace camvue
