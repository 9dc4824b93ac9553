#include "tools/rtsp-dump/frame_writer.h"

#include <filesystem>
#include <system_error>

namespace camvue {
namespace {

const char* KindName(uint32_t kind) {
    switch (kind) {
        case 1:
            return "jpeg";
        case 2:
            return "h264";
        case 3:
            return "mpeg4";
        default:
            return "other";
    }
}

const char* Extension(uint32_t kind) {
    switch (kind) {
        case 1:
            return "jpg";
        case 2:
            return "h264";
        default:
            return "m4v";
    }
}

}  // namespace

FrameWriter::~FrameWriter() {
    if (index_ != nullptr)
        std::fclose(index_);
}

bool FrameWriter::Open() {
    if (outDir_.empty())
        return true;
    std::error_code ec;
    std::filesystem::create_directories(outDir_, ec);
    if (ec) {
        std::fprintf(stderr, "rtsp-dump: cannot create %s: %s\n", outDir_.c_str(),
                     ec.message().c_str());
        return false;
    }
    const std::string path = outDir_ + "/frames.tsv";
    index_ = std::fopen(path.c_str(), "wb");
    if (index_ == nullptr) {
        std::fprintf(stderr, "rtsp-dump: cannot write %s\n", path.c_str());
        return false;
    }
    std::fprintf(index_, "index\tcodec\tkey\twidth\theight\tlength\tpts\n");
    return true;
}

int CAMVUE_CDECL FrameWriter::OnFrame(FrameDescriptor* d, uintptr_t, uintptr_t, uintptr_t,
                                      uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t,
                                      uintptr_t, uintptr_t, uintptr_t, uintptr_t) {
    static_cast<FrameWriter*>(d->userData)->Write(*d);
    return 0;
}

void FrameWriter::Write(const FrameDescriptor& d) {
    const uint64_t index = ++frames_;
    if (index == limit_ && reached_ != nullptr)
        reached_(reachedArg_);
    const unsigned long long pts = (static_cast<unsigned long long>(d.ptsHigh) << 32) | d.ptsLow;
    std::printf("frame %06llu %s key=%u %dx%d length=%u pts=%llu\n",
                static_cast<unsigned long long>(index), KindName(d.codecKind),
                static_cast<unsigned>(d.key), static_cast<int>(d.width), static_cast<int>(d.height),
                static_cast<unsigned>(d.length), pts);
    if (index_ == nullptr || failed_)
        return;
    char name[64];
    std::snprintf(name, sizeof(name), "/frame-%06llu.%s", static_cast<unsigned long long>(index),
                  Extension(d.codecKind));
    const std::string path = outDir_ + name;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr || std::fwrite(d.data, 1, d.length, f) != d.length) {
        std::fprintf(stderr, "rtsp-dump: cannot write %s\n", path.c_str());
        failed_ = true;
    }
    if (f != nullptr)
        std::fclose(f);
    std::fprintf(index_, "%llu\t%s\t%u\t%d\t%d\t%u\t%llu\n", static_cast<unsigned long long>(index),
                 KindName(d.codecKind), static_cast<unsigned>(d.key), static_cast<int>(d.width),
                 static_cast<int>(d.height), static_cast<unsigned>(d.length), pts);
    std::fflush(index_);
}

}  // namespace camvue
