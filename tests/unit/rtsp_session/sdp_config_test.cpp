// Out-of-band codec configuration: MPEG-4 "config=" and RFC 6184
// sprop-parameter-sets, and the picture size read from them.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "sdp_test_support.h"

namespace camvue {
namespace {

using sdp_test::Apply;
using sdp_test::Bytes;
using sdp_test::Describe;
using sdp_test::PpsBytes;
using sdp_test::SdpResult;
using sdp_test::Sps640x360;
using sdp_test::WithStartCode;

// Configuration headers in front of the first VOP: GStreamer's avenc_mpeg4
// at 352x288 (rtpmp4vpay) and Xvid at 320x240.
const std::string kLavcConfig =
    "000001b001000001b58913000001000000012000c48d8ffffd0b04241463000001b24c61766335392e33372e3130"
    "30";
const std::string kXvidConfig =
    "000001b003000001b509000001000000012000bc0406c5d4c307d30a041e1463000001b258766944303036";

std::string Upper(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'f')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

std::string Mp4vVideo(const std::string& fmtp) {
    return "m=video 0 RTP/AVP 96\r\na=rtpmap:96 MP4V-ES/90000\r\n" + fmtp +
           "a=control:trackID=1\r\n";
}

struct Mpeg4Case {
    const char* name;
    std::string body;
    CodecKind codec;
    std::string configHex;  // expected config bytes
    int32_t width;          // expected picture size; 11x22 = left alone
    int32_t height;
};

TEST(SdpMpeg4Config, DecodesAndChecksTheConfig) {
    const Mpeg4Case cases[] = {
        {"config with a VOL gives MPEG-4 and the picture size",
         Mp4vVideo("a=fmtp:96 profile-level-id=1;config=" + kLavcConfig + "\r\n"), kCodecMpeg4,
         kLavcConfig, 352, 288},
        {"upper-case hex digits",
         Mp4vVideo("a=fmtp:96 profile-level-id=1;config=" + Upper(kLavcConfig) + "\r\n"),
         kCodecMpeg4, kLavcConfig, 352, 288},
        {"blanks after the semicolons",
         Mp4vVideo("a=fmtp:96 profile-level-id=3; config=" + kXvidConfig + ";\r\n"), kCodecMpeg4,
         kXvidConfig, 320, 240},
        {"a usable config decides without the MP4V name",
         "m=video 0 RTP/AVP 96\r\na=rtpmap:96 X-MPEG4/90000\r\na=fmtp:96 config=" + kXvidConfig +
             "\r\n",
         kCodecMpeg4, kXvidConfig, 320, 240},
        {"digits end at the first character that is not hex",
         Mp4vVideo("a=fmtp:96 config=" + kXvidConfig + "zz\r\n"), kCodecMpeg4, kXvidConfig, 320,
         240},
        {"config value running to the end of the reply",
         "m=video 0 RTP/AVP 96\r\na=rtpmap:96 MP4V-ES/90000\r\na=fmtp:96 config=" + kXvidConfig,
         kCodecMpeg4, kXvidConfig, 320, 240},
        {"bytes the MPEG-4 test refuses stay stored without a codec",
         Mp4vVideo("a=fmtp:96 config=1190\r\n"), kCodecNone, "1190", 11, 22},
        {"user data start code is refused and stored",
         Mp4vVideo("a=fmtp:96 config=000001b24c617663\r\n"), kCodecNone, "000001b24c617663", 11,
         22},
        {"digits cut by a blank", Mp4vVideo("a=fmtp:96 config=0000 01b0\r\n"), kCodecNone, "0000",
         11, 22},
        {"accepted config without a VOL is dropped", Mp4vVideo("a=fmtp:96 config=000001b001\r\n"),
         kCodecNone, "", 11, 22},
        {"accepted config whose VOL fails is dropped",
         Mp4vVideo("a=fmtp:96 config=00000120000000000000000000\r\n"), kCodecNone, "", 11, 22},
        {"odd digit count is ignored: the MP4V name decides",
         Mp4vVideo("a=fmtp:96 config=000001b001000001b58\r\n"), kCodecMpeg4, "", 11, 22},
        {"empty config is ignored", Mp4vVideo("a=fmtp:96 profile-level-id=1;config=;\r\n"),
         kCodecMpeg4, "", 11, 22},
        {"config that starts with a non-hex character is ignored",
         Mp4vVideo("a=fmtp:96 config=x000001b0\r\n"), kCodecMpeg4, "", 11, 22},
        {"config of a later audio section is not the video's",
         Mp4vVideo("") + "m=audio 0 RTP/AVP 97\r\na=rtpmap:97 mpeg4-generic/48000/2\r\n"
                         "a=fmtp:97 streamtype=5; mode=AAC-hbr; config=1190\r\n",
         kCodecMpeg4, "", 11, 22},
        {"H.264 does not read config=",
         "m=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\na=fmtp:96 config=" + kXvidConfig +
             "\r\n",
         kCodecH264, "", 11, 22},
    };
    for (const Mpeg4Case& c : cases) {
        SCOPED_TRACE(c.name);
        StreamState before;
        before.picture.width = 11;
        before.picture.height = 22;
        const SdpResult r = Apply(Describe("", c.body), before);
        ASSERT_TRUE(r.ok);
        EXPECT_EQ(r.stream.codec, c.codec);
        EXPECT_EQ(r.stream.config, Bytes(c.configHex));
        EXPECT_EQ(r.stream.picture.width, c.width);
        EXPECT_EQ(r.stream.picture.height, c.height);
        EXPECT_FALSE(r.stream.spsFound);
        EXPECT_FALSE(r.stream.ppsFound);
    }
}

std::vector<uint8_t> Concat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> out;
    for (const std::vector<uint8_t>& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

struct SpropCase {
    const char* name;
    std::string fmtpTail;  // the rest of the reply after "a=fmtp:96 "
    std::vector<uint8_t> config;
    bool spsFound;
    bool ppsFound;
    std::vector<uint8_t> sps;
    std::vector<uint8_t> pps;
};

TEST(SdpParameterSets, StoresEverySetBehindAStartCode) {
    const std::string sps = sdp_test::kSps640x360;
    const std::string pps = sdp_test::kPps;
    const std::vector<uint8_t> spsUnit = WithStartCode(Sps640x360());
    const std::vector<uint8_t> ppsUnit = WithStartCode(PpsBytes());
    const std::vector<uint8_t> seiUnit = WithStartCode(Bytes("060500"));     // "BgUA"
    const std::vector<uint8_t> shortSps = WithStartCode(Bytes("6742001e"));  // "Z0IAHg=="
    const SpropCase cases[] = {
        {"SPS then PPS", "packetization-mode=1;sprop-parameter-sets=" + sps + "," + pps + "\r\n",
         Concat({spsUnit, ppsUnit}), true, true, spsUnit, ppsUnit},
        {"PPS first", "sprop-parameter-sets=" + pps + "," + sps + ";profile-level-id=42c01e\r\n",
         Concat({ppsUnit, spsUnit}), true, true, spsUnit, ppsUnit},
        {"SPS only", "sprop-parameter-sets=" + sps + "\r\n", spsUnit, true, false, spsUnit, {}},
        {"the scan stops once both are found",
         "sprop-parameter-sets=" + sps + "," + pps + ",BgUA\r\n", Concat({spsUnit, ppsUnit}), true,
         true, spsUnit, ppsUnit},
        {"other units before them stay in the config",
         "sprop-parameter-sets=BgUA," + sps + "," + pps + "\r\n",
         Concat({seiUnit, spsUnit, ppsUnit}), true, true, spsUnit, ppsUnit},
        {"a later SPS replaces the earlier one",
         "sprop-parameter-sets=" + sps + ",Z0IAHg==," + pps + "\r\n",
         Concat({spsUnit, shortSps, ppsUnit}), true, true, shortSps, ppsUnit},
        {"empty items are passed over", "sprop-parameter-sets=," + sps + ",," + pps + ",\r\n",
         Concat({spsUnit, ppsUnit}), true, true, spsUnit, ppsUnit},
        {"items with nothing to decode are passed over",
         "sprop-parameter-sets=!!!!,=," + sps + "," + pps + "\r\n", Concat({spsUnit, ppsUnit}),
         true, true, spsUnit, ppsUnit},
        {"a lone base64 character gives no byte",
         "sprop-parameter-sets=Z," + pps + "\r\n",
         ppsUnit,
         false,
         true,
         {},
         ppsUnit},
        {"unpadded items", "sprop-parameter-sets=Z0LAHtkAoC/5cBagwMDUoAAAAwAgAAAHkeLFyQ,aMuMsg\r\n",
         Concat({spsUnit, ppsUnit}), true, true, spsUnit, ppsUnit},
        {"blanks and quotes inside items are skipped",
         "sprop-parameter-sets=\"" + sps + "\", aMuM sg==\r\n", Concat({spsUnit, ppsUnit}), true,
         true, spsUnit, ppsUnit},
        {"the value ends at ;",
         "sprop-parameter-sets=" + sps + ";x=" + pps + "\r\n",
         spsUnit,
         true,
         false,
         spsUnit,
         {}},
        {"the value ends at a bare LF",
         "sprop-parameter-sets=" + sps + "\n," + pps + "\n",
         spsUnit,
         true,
         false,
         spsUnit,
         {}},
        {"value running to the end of the reply", "sprop-parameter-sets=" + sps + "," + pps,
         Concat({spsUnit, ppsUnit}), true, true, spsUnit, ppsUnit},
        {"empty value", "sprop-parameter-sets=\r\n", {}, false, false, {}, {}},
        {"no sprop-parameter-sets",
         "packetization-mode=1;profile-level-id=42c01e\r\n",
         {},
         false,
         false,
         {},
         {}},
    };
    for (const SpropCase& c : cases) {
        SCOPED_TRACE(c.name);
        const SdpResult r = Apply(Describe(
            "", "m=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\na=fmtp:96 " + c.fmtpTail));
        ASSERT_TRUE(r.ok);
        EXPECT_EQ(r.stream.codec, kCodecH264);
        EXPECT_EQ(r.stream.config, c.config);
        EXPECT_EQ(r.stream.spsFound, c.spsFound);
        EXPECT_EQ(r.stream.ppsFound, c.ppsFound);
        EXPECT_EQ(r.stream.sps, c.sps);
        EXPECT_EQ(r.stream.pps, c.pps);
    }
}

TEST(SdpParameterSets, ReplacesTheConfigurationOfTheLastSetup) {
    StreamState before;
    before.config = {0, 0, 0, 1, 0x67, 0xAA};
    before.sps = {0, 0, 0, 1, 0x67, 0xAA};
    before.pps = {0, 0, 0, 1, 0x68, 0xBB};
    before.spsFound = true;
    before.ppsFound = true;
    // Stale flags must not stop the scan of the new sets.
    const SdpResult r =
        Apply(Describe("",
                       "m=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\n"
                       "a=fmtp:96 sprop-parameter-sets=" +
                           std::string(sdp_test::kSps640x360) + "," + sdp_test::kPps + "\r\n"),
              before);
    EXPECT_EQ(r.stream.sps, WithStartCode(Sps640x360()));
    EXPECT_EQ(r.stream.pps, WithStartCode(PpsBytes()));
    EXPECT_EQ(r.stream.config, Concat({WithStartCode(Sps640x360()), WithStartCode(PpsBytes())}));

    // A description without sets leaves nothing of the old ones.
    const SdpResult none =
        Apply(Describe("", "m=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\n"), before);
    EXPECT_TRUE(none.stream.config.empty());
    EXPECT_TRUE(none.stream.sps.empty());
    EXPECT_TRUE(none.stream.pps.empty());
    EXPECT_FALSE(none.stream.spsFound);
    EXPECT_FALSE(none.stream.ppsFound);
}

TEST(SdpParameterSets, ConfigPictureSizeOnlyForH264) {
    const std::string sets =
        "a=fmtp:96 sprop-parameter-sets=" + std::string(sdp_test::kSps640x360) + "," +
        sdp_test::kPps + "\r\n";
    struct SizeCase {
        const char* name;
        std::string body;
        int32_t width;
        int32_t height;
    };
    const SizeCase cases[] = {
        {"H.264 with sets", "m=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\n" + sets, 640, 360},
        {"H.264 with the PPS first",
         "m=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\na=fmtp:96 sprop-parameter-sets=" +
             std::string(sdp_test::kPps) + "," + sdp_test::kSps640x360 + "\r\n",
         640, 360},
        {"H.264 without sets", "m=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\n", 11, 22},
        {"JPEG with sets", "m=video 0 RTP/AVP 26\r\na=rtpmap:26 H264/90000\r\n" + sets, 11, 22},
        {"no codec with sets", "m=video 0 RTP/AVP 96\r\na=rtpmap:96 H265/90000\r\n" + sets, 11, 22},
        {"H.264 with a broken SPS",
         "m=video 0 RTP/AVP 96\r\na=rtpmap:96 H264/90000\r\na=fmtp:96 "
         "sprop-parameter-sets=Z0LAHtkA,aMuMsg==\r\n",
         11, 22},
    };
    for (const SizeCase& c : cases) {
        SCOPED_TRACE(c.name);
        StreamState before;
        before.picture.width = 11;
        before.picture.height = 22;
        SdpResult r = Apply(Describe("", c.body), before);
        ASSERT_TRUE(r.ok);
        ReadConfigPictureSize(&r.stream);
        EXPECT_EQ(r.stream.picture.width, c.width);
        EXPECT_EQ(r.stream.picture.height, c.height);
    }
    ReadConfigPictureSize(nullptr);
}

}  // namespace
}  // namespace camvue
