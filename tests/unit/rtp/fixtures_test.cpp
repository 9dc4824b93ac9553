// Parameter sets and VOL headers from real encoders (tests/fixtures/*/generate.sh),
// checked against the sizes ffprobe reported for the encoded clips.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "npcamvue/rtp/emulation_prevention.h"
#include "npcamvue/rtp/mpeg4_config.h"
#include "npcamvue/rtp/parameter_sets.h"

namespace camvue {
namespace {

using Bytes = std::vector<uint8_t>;

// Opens a path from the test registration. Under wine a Linux absolute path
// works through the Z: drive as long as the current drive is Z:; the explicit
// prefix covers a different current drive.
std::FILE* OpenBinary(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
#ifdef _WIN32
    if (file == nullptr && !path.empty() && path[0] == '/') {
        file = std::fopen(("Z:" + path).c_str(), "rb");
    }
#endif
    return file;
}

bool ReadFile(const std::string& path, Bytes* out) {
    std::FILE* file = OpenBinary(path);
    if (file == nullptr)
        return false;
    out->clear();
    uint8_t buffer[4096];
    size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        out->insert(out->end(), buffer, buffer + n);
    }
    const bool ok = std::ferror(file) == 0;
    std::fclose(file);
    return ok;
}

struct Fixture {
    std::string file;
    int32_t width = 0;
    int32_t height = 0;
};

std::string FixtureDir(const char* kind) {
    const char* root = std::getenv("CAMVUE_SOURCE_DIR");
    if (root == nullptr || *root == '\0')
        return std::string();
    return std::string(root) + "/tests/fixtures/" + kind + "/";
}

// manifest.tsv: "file<TAB>width<TAB>height" per line, '#' lines are comments.
std::vector<Fixture> ReadManifest(const std::string& dir) {
    Bytes text;
    std::vector<Fixture> fixtures;
    if (!ReadFile(dir + "manifest.tsv", &text))
        return fixtures;
    std::string line;
    text.push_back('\n');
    for (uint8_t c : text) {
        if (c == '\r')
            continue;
        if (c != '\n') {
            line.push_back(static_cast<char>(c));
            continue;
        }
        if (!line.empty() && line[0] != '#') {
            Fixture f;
            const size_t tab1 = line.find('\t');
            const size_t tab2 = line.find('\t', tab1 + 1);
            if (tab1 != std::string::npos && tab2 != std::string::npos) {
                f.file = line.substr(0, tab1);
                f.width = std::atoi(line.substr(tab1 + 1, tab2 - tab1 - 1).c_str());
                f.height = std::atoi(line.substr(tab2 + 1).c_str());
                fixtures.push_back(f);
            }
        }
        line.clear();
    }
    return fixtures;
}

class EncoderFixtures : public ::testing::Test {
  protected:
    void Load(const char* kind, size_t minimumCases) {
        dir_ = FixtureDir(kind);
        ASSERT_FALSE(dir_.empty()) << "CAMVUE_SOURCE_DIR is not set";
        fixtures_ = ReadManifest(dir_);
        ASSERT_GE(fixtures_.size(), minimumCases) << "manifest missing or short in " << dir_;
    }
    Bytes Contents(const Fixture& f) {
        Bytes bytes;
        EXPECT_TRUE(ReadFile(dir_ + f.file, &bytes)) << f.file;
        EXPECT_FALSE(bytes.empty()) << f.file;
        bytes.shrink_to_fit();
        return bytes;
    }
    std::string dir_;
    std::vector<Fixture> fixtures_;
};

TEST_F(EncoderFixtures, H264ParameterSetsGiveFfprobeSize) {
    Load("sps", 10);
    for (const Fixture& f : fixtures_) {
        const Bytes bytes = Contents(f);
        SpsInfo sps;
        PictureSize size;
        ScanParameterSets(bytes.data(), bytes.size(), &sps, &size);
        EXPECT_EQ(sps.valid, 1) << f.file;
        EXPECT_EQ(size.width, f.width) << f.file;
        EXPECT_EQ(size.height, f.height) << f.file;
    }
}

// The SPS of a real stream, cut at every length: either no size or the right one.
TEST_F(EncoderFixtures, H264TruncatedParameterSets) {
    Load("sps", 10);
    for (const Fixture& f : fixtures_) {
        const Bytes bytes = Contents(f);
        for (size_t length = 4; length < bytes.size(); ++length) {
            Bytes prefix(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length));
            prefix.shrink_to_fit();
            SpsInfo sps;
            PictureSize size{-1, -1};
            ScanParameterSets(prefix.data(), prefix.size(), &sps, &size);
            if (size.width == -1 && size.height == -1)
                continue;
            EXPECT_EQ(size.width, f.width) << f.file << " cut to " << length;
            EXPECT_EQ(size.height, f.height) << f.file << " cut to " << length;
        }
    }
}

TEST_F(EncoderFixtures, Mpeg4VolGivesFfprobeSize) {
    Load("mpeg4", 6);
    for (const Fixture& f : fixtures_) {
        const Bytes bytes = Contents(f);
        EXPECT_TRUE(IsMpeg4Config(bytes.data(), bytes.size())) << f.file;
        Mpeg4VolInfo vol;
        EXPECT_TRUE(ParseMpeg4Vol(bytes.data(), bytes.size(), &vol)) << f.file;
        EXPECT_GT(vol.startCodeOffset, 0u) << f.file;  // behind the VOS and VO headers
        PictureSize size;
        ApplyMpeg4Vol(vol, &size);
        EXPECT_EQ(size.width, f.width) << f.file;
        EXPECT_EQ(size.height, f.height) << f.file;
    }
}

TEST_F(EncoderFixtures, Mpeg4TruncatedVol) {
    Load("mpeg4", 6);
    for (const Fixture& f : fixtures_) {
        const Bytes bytes = Contents(f);
        for (size_t length = 0; length < bytes.size(); ++length) {
            Bytes prefix(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(length));
            prefix.shrink_to_fit();
            Mpeg4VolInfo vol;
            if (!ParseMpeg4Vol(prefix.data(), prefix.size(), &vol))
                continue;
            EXPECT_EQ(vol.width, f.width) << f.file << " cut to " << length;
            EXPECT_EQ(vol.height, f.height) << f.file << " cut to " << length;
        }
    }
}

}  // namespace
}  // namespace camvue
