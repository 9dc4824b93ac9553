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
#include "tests/support/fixture_files.h"

namespace camvue {
namespace {

using Bytes = std::vector<uint8_t>;

struct Fixture {
    std::string file;
    int32_t width = 0;
    int32_t height = 0;
};

// manifest.tsv: "file<TAB>width<TAB>height" per line.
std::vector<Fixture> ReadManifest(const std::string& dir) {
    std::vector<Fixture> fixtures;
    for (const auto& row : test_support::ReadTsv(dir + "manifest.tsv")) {
        if (row.size() >= 3) {
            fixtures.push_back({row[0], std::atoi(row[1].c_str()), std::atoi(row[2].c_str())});
        }
    }
    return fixtures;
}

class EncoderFixtures : public ::testing::Test {
  protected:
    void Load(const char* kind, size_t minimumCases) {
        dir_ = test_support::FixtureDir(kind);
        ASSERT_FALSE(dir_.empty()) << "CAMVUE_SOURCE_DIR is not set";
        fixtures_ = ReadManifest(dir_);
        ASSERT_GE(fixtures_.size(), minimumCases) << "manifest missing or short in " << dir_;
    }
    Bytes Contents(const Fixture& f) {
        Bytes bytes;
        EXPECT_TRUE(test_support::ReadFileBytes(dir_ + f.file, &bytes)) << f.file;
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
