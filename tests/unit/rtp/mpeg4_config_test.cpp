#include "npcamvue/rtp/mpeg4_config.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

#include "tests/unit/rtp/bit_writer.h"

namespace camvue {
namespace {

using testing_support::BitWriter;
using testing_support::Concat;

using Bytes = std::vector<uint8_t>;

// VOL header syntax values (14496-2 6.2.3), as an encoder would write them.
struct VolFields {
    uint32_t startCode = 0x20;
    uint32_t objectType = 1;
    uint32_t hasLayerId = 0;
    uint32_t verid = 1;
    uint32_t aspect = 1;
    uint32_t parWidth = 12, parHeight = 11;
    uint32_t controlParameters = 0;
    uint32_t vbv = 0;
    uint32_t shape = 0;
    uint32_t shapeExtension = 0xF;  // written only for grayscale with verid != 1
    uint32_t resolution = 25;
    uint32_t fixedRate = 0;
    int incrementBits = 0;  // the writer's own count, to cross-check the parser
    uint32_t increment = 0;
    uint32_t width = 352, height = 288;
    uint32_t markers = 0x1F;  // bit i: the i-th of the five marker bits
};

Bytes BuildVol(const VolFields& v) {
    BitWriter w;
    w.U(24, 0x000001);
    w.U(8, v.startCode);
    w.U(1, 0);  // random_accessible_vol
    w.U(8, v.objectType);
    w.U(1, v.hasLayerId);
    if (v.hasLayerId) {
        w.U(4, v.verid);
        w.U(3, 1);
    }
    w.U(4, v.aspect);
    if (v.aspect == 15) {
        w.U(8, v.parWidth);
        w.U(8, v.parHeight);
    }
    w.U(1, v.controlParameters);
    if (v.controlParameters) {
        w.U(2, 1);
        w.U(1, 1);
        w.U(1, v.vbv);
        if (v.vbv) {
            // bit rate, buffer size, occupancy with their markers: 79 bits.
            w.U(15, 0x1234);
            w.U(1, 1);
            w.U(15, 0x5678 & 0x7FFF);
            w.U(1, 1);
            w.U(15, 0x0ABC);
            w.U(1, 1);
            w.U(3, 5);
            w.U(11, 0x3FF);
            w.U(1, 1);
            w.U(15, 0x7FFF);
            w.U(1, 1);
        }
    }
    w.U(2, v.shape);
    const uint32_t verid = v.hasLayerId ? v.verid : 1;
    if (v.shape == 3 && verid != 1)
        w.U(4, v.shapeExtension);
    w.U(1, (v.markers >> 0) & 1);
    w.U(16, v.resolution);
    w.U(1, (v.markers >> 1) & 1);
    w.U(1, v.fixedRate);
    if (v.fixedRate)
        w.U(v.incrementBits, v.increment);
    if (v.shape == 0) {
        w.U(1, (v.markers >> 2) & 1);
        w.U(13, v.width);
        w.U(1, (v.markers >> 3) & 1);
        w.U(13, v.height);
        w.U(1, (v.markers >> 4) & 1);
    }
    // interlaced, obmc_disable, sprite_enable ... : a plausible tail.
    w.U(1, 0);
    w.U(1, 1);
    w.U(1, 0);
    w.TrailingBits();
    return w.bytes();
}

template <typename Fn>
VolFields Vol(Fn change) {
    VolFields v;
    change(v);
    return v;
}

struct VolCase {
    const char* name;
    VolFields fields;
    bool ok;
    int32_t width;
    int32_t height;
};

void PrintTo(const VolCase& c, std::ostream* os) {
    *os << c.name;
}

class Mpeg4Vol : public ::testing::TestWithParam<VolCase> {};

TEST_P(Mpeg4Vol, ReadsSize) {
    const VolCase& c = GetParam();
    Bytes bytes = BuildVol(c.fields);
    bytes.shrink_to_fit();
    Mpeg4VolInfo info;
    EXPECT_EQ(ParseMpeg4Vol(bytes.data(), bytes.size(), &info), c.ok);
    EXPECT_EQ(info.ok, c.ok);
    PictureSize size{-7, -7};
    ApplyMpeg4Vol(info, &size);
    if (!c.ok) {
        EXPECT_EQ(size.width, -7);
        EXPECT_EQ(size.height, -7);
        return;
    }
    EXPECT_EQ(info.startCodeOffset, 0u);
    EXPECT_EQ(info.width, c.width);
    EXPECT_EQ(info.height, c.height);
    EXPECT_EQ(size.width, c.width);
    EXPECT_EQ(size.height, c.height);
}

INSTANTIATE_TEST_SUITE_P(
    Headers, Mpeg4Vol,
    ::testing::Values(
        VolCase{"Plain", VolFields{}, true, 352, 288},
        VolCase{"StartCode2F", Vol([](VolFields& v) { v.startCode = 0x2F; }), true, 352, 288},
        VolCase{"LayerIdentifier", Vol([](VolFields& v) {
                    v.hasLayerId = 1;
                    v.verid = 5;
                }),
                true, 352, 288},
        VolCase{"ExtendedPar", Vol([](VolFields& v) {
                    v.aspect = 15;
                    v.parWidth = 64;
                    v.parHeight = 45;
                }),
                true, 352, 288},
        VolCase{"ControlParametersNoVbv", Vol([](VolFields& v) { v.controlParameters = 1; }), true,
                352, 288},
        VolCase{"VbvParametersSkipped", Vol([](VolFields& v) {
                    v.controlParameters = 1;
                    v.vbv = 1;
                }),
                true, 352, 288},
        VolCase{"LargestSize", Vol([](VolFields& v) {
                    v.width = 8191;
                    v.height = 8191;
                }),
                true, 8191, 8191},
        // fixed_vop_time_increment takes the bit length of resolution - 1, at
        // least 1. The increment's last bit is 0 where a marker is expected,
        // so a count off by one fails or shifts the size.
        VolCase{"Resolution30FixedRateFiveBits", Vol([](VolFields& v) {
                    v.resolution = 30;
                    v.fixedRate = 1;
                    v.incrementBits = 5;
                    v.increment = 0x1E;
                }),
                true, 352, 288},
        VolCase{"Resolution1FixedRateOneBit", Vol([](VolFields& v) {
                    v.resolution = 1;
                    v.fixedRate = 1;
                    v.incrementBits = 1;
                    v.increment = 0;
                }),
                true, 352, 288},
        VolCase{"Resolution2FixedRateOneBit", Vol([](VolFields& v) {
                    v.resolution = 2;
                    v.fixedRate = 1;
                    v.incrementBits = 1;
                    v.increment = 0;
                }),
                true, 352, 288},
        VolCase{"Resolution256FixedRateEightBits", Vol([](VolFields& v) {
                    v.resolution = 256;
                    v.fixedRate = 1;
                    v.incrementBits = 8;
                    v.increment = 0xFE;
                }),
                true, 352, 288},
        VolCase{"Resolution257FixedRateNineBits", Vol([](VolFields& v) {
                    v.resolution = 257;
                    v.fixedRate = 1;
                    v.incrementBits = 9;
                    v.increment = 0x100;
                }),
                true, 352, 288},
        VolCase{"Resolution30000FixedRate", Vol([](VolFields& v) {
                    v.resolution = 30000;
                    v.fixedRate = 1;
                    v.incrementBits = 15;
                    v.increment = 1000;
                }),
                true, 352, 288},
        VolCase{"Resolution65535FixedRate", Vol([](VolFields& v) {
                    v.resolution = 65535;
                    v.fixedRate = 1;
                    v.incrementBits = 16;
                    v.increment = 0xFFFE;
                }),
                true, 352, 288},
        VolCase{"Resolution30NoFixedRate", Vol([](VolFields& v) { v.resolution = 30; }), true, 352,
                288},
        VolCase{"ResolutionZeroFails", Vol([](VolFields& v) { v.resolution = 0; }), false, 0, 0},
        VolCase{"ShapeBinaryFails", Vol([](VolFields& v) { v.shape = 1; }), false, 0, 0},
        VolCase{"ShapeBinaryOnlyFails", Vol([](VolFields& v) { v.shape = 2; }), false, 0, 0},
        VolCase{"ShapeGrayscaleFails", Vol([](VolFields& v) { v.shape = 3; }), false, 0, 0},
        VolCase{"ShapeGrayscaleVerid2Fails", Vol([](VolFields& v) {
                    v.shape = 3;
                    v.hasLayerId = 1;
                    v.verid = 2;
                }),
                false, 0, 0},
        VolCase{"MarkerBeforeResolutionZero", Vol([](VolFields& v) { v.markers = 0x1E; }), false, 0,
                0},
        VolCase{"MarkerAfterResolutionZero", Vol([](VolFields& v) { v.markers = 0x1D; }), false, 0,
                0},
        VolCase{"MarkerBeforeWidthZero", Vol([](VolFields& v) { v.markers = 0x1B; }), false, 0, 0},
        VolCase{"MarkerBeforeHeightZero", Vol([](VolFields& v) { v.markers = 0x17; }), false, 0, 0},
        VolCase{"MarkerAfterHeightZero", Vol([](VolFields& v) { v.markers = 0x0F; }), false, 0, 0},
        VolCase{"ZeroWidthFails", Vol([](VolFields& v) { v.width = 0; }), false, 0, 0},
        VolCase{"ZeroHeightFails", Vol([](VolFields& v) { v.height = 0; }), false, 0, 0}),
    [](const ::testing::TestParamInfo<VolCase>& param) { return std::string(param.param.name); });

TEST(Mpeg4Vol, FindsVolAfterOtherHeaders) {
    // Visual object sequence, visual object, video object, then the VOL.
    const Bytes vos{0x00, 0x00, 0x01, 0xB0, 0x01, 0x00, 0x00, 0x01,
                    0xB5, 0x89, 0x13, 0x00, 0x00, 0x01, 0x00};
    VolFields v;
    v.width = 1280;
    v.height = 720;
    const Bytes bytes = Concat({vos, BuildVol(v), {0x00, 0x00, 0x01, 0xB6, 0x10}});
    Mpeg4VolInfo info;
    ASSERT_TRUE(ParseMpeg4Vol(bytes.data(), bytes.size(), &info));
    EXPECT_EQ(info.startCodeOffset, vos.size());
    EXPECT_EQ(info.width, 1280);
    EXPECT_EQ(info.height, 720);
}

TEST(Mpeg4Vol, OnlyTheFirstVolCounts) {
    VolFields bad;
    bad.shape = 1;
    VolFields good;
    const Bytes bytes = Concat({BuildVol(bad), BuildVol(good)});
    Mpeg4VolInfo info;
    EXPECT_FALSE(ParseMpeg4Vol(bytes.data(), bytes.size(), &info));
    EXPECT_EQ(info.startCodeOffset, 0u);
}

TEST(Mpeg4Vol, NoVolStartCode) {
    const Bytes cases[] = {
        {},
        {0x00, 0x00, 0x01, 0x20},  // start code with no header after it
        {0x00, 0x00, 0x01, 0x30, 0xFF, 0xFF, 0xFF, 0xFF},
        {0x00, 0x00, 0x01, 0x1F, 0xFF, 0xFF, 0xFF, 0xFF},
        {0x00, 0x00, 0x01, 0xB0, 0x01, 0x00, 0x00, 0x01, 0xB6, 0x00},
        {0x00, 0x00, 0x00, 0x20, 0xFF, 0xFF, 0xFF, 0xFF},
        Bytes(64, 0x00),
        Bytes(64, 0xFF),
    };
    for (const Bytes& c : cases) {
        Bytes bytes = c;
        bytes.shrink_to_fit();
        Mpeg4VolInfo info;
        info.ok = true;
        EXPECT_FALSE(ParseMpeg4Vol(bytes.data(), bytes.size(), &info))
            << ::testing::PrintToString(c);
        EXPECT_FALSE(info.ok);
    }
    Mpeg4VolInfo info;
    EXPECT_FALSE(ParseMpeg4Vol(nullptr, 100, &info));
    const uint8_t vol[] = {0x00, 0x00, 0x01, 0x20, 0x00};
    EXPECT_FALSE(ParseMpeg4Vol(vol, sizeof vol, nullptr));
}

// A cut-off header fails, or succeeds with the full header's size when only
// bits after the size were cut: reads past the end never complete a header.
TEST(Mpeg4Vol, TruncatedAtEveryLength) {
    VolFields v;
    v.controlParameters = 1;
    v.vbv = 1;
    v.resolution = 30;
    v.fixedRate = 1;
    v.incrementBits = 5;
    v.increment = 1;
    v.width = 640;
    v.height = 480;
    const Bytes full = BuildVol(v);
    int failures = 0;
    for (size_t length = 0; length < full.size(); ++length) {
        Bytes bytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(length));
        bytes.shrink_to_fit();
        Mpeg4VolInfo info;
        const bool ok = ParseMpeg4Vol(bytes.data(), bytes.size(), &info);
        if (!ok) {
            ++failures;
            continue;
        }
        EXPECT_EQ(info.width, 640) << length;
        EXPECT_EQ(info.height, 480) << length;
    }
    // Only the final byte (tail bits and stop bit) may go without failing.
    EXPECT_GE(failures, static_cast<int>(full.size()) - 1);
    Mpeg4VolInfo info;
    ASSERT_TRUE(ParseMpeg4Vol(full.data(), full.size(), &info));
    EXPECT_EQ(info.width, 640);
}

TEST(Mpeg4Vol, ApplyLeavesSizeOnFailure) {
    Mpeg4VolInfo failed;
    failed.width = 640;
    failed.height = 480;
    PictureSize size{1, 2};
    ApplyMpeg4Vol(failed, &size);
    EXPECT_EQ(size.width, 1);
    EXPECT_EQ(size.height, 2);
    Mpeg4VolInfo ok;
    ok.ok = true;
    ok.width = 640;
    ok.height = 480;
    ApplyMpeg4Vol(ok, nullptr);
    ApplyMpeg4Vol(ok, &size);
    EXPECT_EQ(size.width, 640);
    EXPECT_EQ(size.height, 480);
}

struct ConfigCase {
    const char* name;
    Bytes bytes;
    bool usable;
};

void PrintTo(const ConfigCase& c, std::ostream* os) {
    *os << c.name;
}

class Mpeg4Config : public ::testing::TestWithParam<ConfigCase> {};

TEST_P(Mpeg4Config, Usable) {
    Bytes bytes = GetParam().bytes;
    bytes.shrink_to_fit();
    EXPECT_EQ(IsMpeg4Config(bytes.data(), bytes.size()), GetParam().usable);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, Mpeg4Config,
    ::testing::Values(ConfigCase{"VisualObjectSequence", {0x00, 0x00, 0x01, 0xB0, 0x01}, true},
                      ConfigCase{"VisualObjectSequenceFourBytes", {0x00, 0x00, 0x01, 0xB0}, true},
                      ConfigCase{"Vol20", {0x00, 0x00, 0x01, 0x20, 0x00}, true},
                      ConfigCase{"Vol2F", {0x00, 0x00, 0x01, 0x2F}, true},
                      ConfigCase{"Code30", {0x00, 0x00, 0x01, 0x30, 0x00}, false},
                      ConfigCase{"Code1F", {0x00, 0x00, 0x01, 0x1F, 0x00}, false},
                      ConfigCase{"VisualObject", {0x00, 0x00, 0x01, 0xB5, 0x09}, false},
                      ConfigCase{"VideoObject", {0x00, 0x00, 0x01, 0x00, 0x00}, false},
                      ConfigCase{"IVop", {0x00, 0x00, 0x01, 0xB6, 0x10}, true},
                      ConfigCase{"IVopAllLowBits", {0x00, 0x00, 0x01, 0xB6, 0x3F}, true},
                      ConfigCase{"PVop", {0x00, 0x00, 0x01, 0xB6, 0x40}, false},
                      ConfigCase{"BVop", {0x00, 0x00, 0x01, 0xB6, 0x80}, false},
                      ConfigCase{"SVop", {0x00, 0x00, 0x01, 0xB6, 0xC0}, false},
                      ConfigCase{"VopWithoutCodingType", {0x00, 0x00, 0x01, 0xB6}, false},
                      ConfigCase{"ThreeBytes", {0x00, 0x00, 0x01}, false},
                      ConfigCase{"Empty", {}, false},
                      ConfigCase{"NoStartCodePrefix", {0x00, 0x00, 0x02, 0xB0, 0x01}, false},
                      ConfigCase{"ShiftedPrefix", {0xFF, 0x00, 0x00, 0x01, 0xB0}, false},
                      ConfigCase{"AllFF", {0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, false}),
    [](const ::testing::TestParamInfo<ConfigCase>& param) {
        return std::string(param.param.name);
    });

TEST(Mpeg4Config, NullIsNotConfig) {
    EXPECT_FALSE(IsMpeg4Config(nullptr, 10));
}

TEST(Mpeg4StartCode, FindsNextStartCode) {
    struct Case {
        const char* name;
        Bytes bytes;
        size_t from;
        size_t expected;  // == size: none
    };
    const Case cases[] = {
        {"AtStart", {0x00, 0x00, 0x01, 0xB6, 0x00}, 0, 0},
        {"AfterData", {0x12, 0x34, 0x00, 0x00, 0x01, 0x20}, 0, 2},
        {"FromSkipsEarlier", {0x00, 0x00, 0x01, 0xB0, 0x00, 0x00, 0x01, 0xB6}, 1, 4},
        {"LeadingZeros", {0x00, 0x00, 0x00, 0x00, 0x01, 0xB3}, 0, 2},
        {"ShortVideoHeader", {0x55, 0x00, 0x00, 0x80, 0x02}, 0, 1},
        {"ShortVideoHeaderLowBits", {0x00, 0x00, 0x83}, 0, 0},
        {"NotShortVideoHeader", {0x00, 0x00, 0x84, 0x00, 0x00, 0x7F}, 0, 6},
        {"PrefixWithoutCode", {0x11, 0x00, 0x00, 0x01}, 0, 4},
        {"None", {0x00, 0x00, 0x02, 0x00, 0xFF}, 0, 5},
        {"FromPastEnd", {0x00, 0x00, 0x01, 0xB0}, 9, 4},
        {"Empty", {}, 0, 0},
    };
    for (const Case& c : cases) {
        Bytes bytes = c.bytes;
        bytes.shrink_to_fit();
        EXPECT_EQ(FindMpeg4StartCode(bytes.data(), bytes.size(), c.from), c.expected) << c.name;
    }
}

}  // namespace
}  // namespace camvue
