// config-probe FILE: prints the picture size found in the codec configuration
// at the head of a file, as the plug-in would read it.
//   .h264 / .264  Annex B H.264: the parameter sets before the first slice
//   .m4v / .cmp   MPEG-4 Visual: the first video object layer header
// Output "width=W height=H" and exit 0; exit 1 when no size was found; exit 2
// on usage or I/O errors.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "npcamvue/rtp/mpeg4_config.h"
#include "npcamvue/rtp/parameter_sets.h"
#include "npcamvue/rtp/picture_size.h"

namespace {

// Configuration sits at the start of a stream; no need to read a whole movie.
constexpr size_t kMaxRead = 16u * 1024u * 1024u;

enum class Kind { kUnknown, kH264, kMpeg4 };

Kind KindOf(const std::string& path) {
    const size_t dot = path.find_last_of('.');
    const size_t slash = path.find_last_of("/\\");
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) {
        return Kind::kUnknown;
    }
    std::string ext = path.substr(dot + 1);
    for (char& c : ext)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext == "h264" || ext == "264")
        return Kind::kH264;
    if (ext == "m4v" || ext == "cmp")
        return Kind::kMpeg4;
    return Kind::kUnknown;
}

bool ReadHead(const char* path, std::vector<uint8_t>* out) {
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr)
        return false;
    uint8_t buffer[65536];
    bool ok = true;
    while (out->size() < kMaxRead) {
        const size_t want = std::min(sizeof buffer, kMaxRead - out->size());
        const size_t n = std::fread(buffer, 1, want, file);
        out->insert(out->end(), buffer, buffer + n);
        if (n < want) {
            ok = std::ferror(file) == 0;
            break;
        }
    }
    std::fclose(file);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: config-probe FILE (.h264, .264, .m4v or .cmp)\n");
        return 2;
    }
    const char* path = argv[1];
    const Kind kind = KindOf(path);
    if (kind == Kind::kUnknown) {
        std::fprintf(
            stderr, "config-probe: %s: unknown file type (want .h264, .264, .m4v or .cmp)\n", path);
        return 2;
    }
    std::vector<uint8_t> bytes;
    if (!ReadHead(path, &bytes)) {
        std::fprintf(stderr, "config-probe: %s: cannot read the file\n", path);
        return 2;
    }

    camvue::PictureSize size;
    if (kind == Kind::kH264) {
        // The scan itself stops at the first slice.
        camvue::SpsInfo sps;
        camvue::ScanParameterSets(bytes.data(), bytes.size(), &sps, &size);
    } else {
        camvue::Mpeg4VolInfo vol;
        camvue::ParseMpeg4Vol(bytes.data(), bytes.size(), &vol);
        camvue::ApplyMpeg4Vol(vol, &size);
    }
    if (size.width <= 0 || size.height <= 0) {
        std::fprintf(stderr, "config-probe: %s: no picture size found in the %s configuration\n",
                     path, kind == Kind::kH264 ? "H.264" : "MPEG-4");
        return 1;
    }
    std::printf("width=%d height=%d\n", static_cast<int>(size.width),
                static_cast<int>(size.height));
    return 0;
}
