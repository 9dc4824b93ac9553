// RFC 3550 fixed header, CSRC list, extension (with the length-0 rule) and
// padding, each bounded by the datagram.
#include "npcamvue/rtp/rtp_header.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <ostream>
#include <string>

#include "tests/unit/assembly/assembly_harness.h"

namespace camvue {
namespace assembly_test {
namespace {

struct HeaderCase {
    std::string name;
    Bytes packet;
    RtpHeaderStatus status;
    bool complete;
    size_t headerLength;  // of a complete header; an incomplete one spans the datagram
    size_t payloadLength;
};

// Cases print as their name.
void PrintTo(const HeaderCase& c, std::ostream* os) {
    *os << c.name;
}

RtpFields Base() {
    RtpFields f;
    f.sequence = 0xABCD;
    f.timestamp = 0x01020304;
    f.ssrc = 0xA1B2C3D4;
    f.marker = true;
    f.payloadType = 97;
    return f;
}

Bytes Payload(size_t n) {
    Bytes p;
    for (size_t i = 0; i < n; ++i)
        p.push_back(static_cast<uint8_t>(0x50 + i));
    return p;
}

Bytes WithCsrc(uint8_t count, size_t payload) {
    RtpFields f = Base();
    f.csrcCount = count;
    return BuildRtp(f, Payload(payload));
}

Bytes WithExtension(uint16_t words, const Bytes& body, size_t payload) {
    RtpFields f = Base();
    f.extension = true;
    f.extensionWords = words;
    f.extensionBody = body;
    return BuildRtp(f, Payload(payload));
}

Bytes WithPaddingByte(size_t payload, uint8_t count) {
    Bytes p = BuildRtp(Base(), Payload(payload));
    p[0] |= 0x20;
    p.back() = count;
    return p;
}

Bytes WithVersion(uint8_t version) {
    RtpFields f = Base();
    f.version = version;
    return BuildRtp(f, Payload(4));
}

std::vector<HeaderCase> Cases() {
    RtpFields padded = Base();
    padded.padding = 4;
    const Bytes twelve = BuildRtp(Base(), {});
    const Bytes eleven(twelve.begin(), twelve.end() - 1);
    return {
        {"Plain", BuildRtp(Base(), Payload(5)), RtpHeaderStatus::kOk, true, 12, 5},
        {"TwoCsrc", WithCsrc(2, 5), RtpHeaderStatus::kOk, true, 20, 5},
        {"FifteenCsrc", WithCsrc(15, 1), RtpHeaderStatus::kOk, true, 72, 1},
        {"ExtensionOneWord", WithExtension(1, {1, 2, 3, 4}, 3), RtpHeaderStatus::kOk, true, 20, 3},
        {"ExtensionTwoWordsWithCsrc",
         [] {
             RtpFields f = Base();
             f.csrcCount = 1;
             f.extension = true;
             f.extensionWords = 2;
             f.extensionBody = Bytes(8, 0xEE);
             return BuildRtp(f, Payload(2));
         }(),
         RtpHeaderStatus::kOk, true, 28, 2},
        // L = 0: 3 more bytes plus the value of the byte one past the end of
        // the extension header (here 5): 12 + 4 + 3 + 5.
        {"ExtensionLengthZero", WithExtension(0, {0xAA, 5, 0, 0, 0, 0, 0, 0}, 6),
         RtpHeaderStatus::kOk, true, 24, 6},
        {"ExtensionLengthZeroCountZero", WithExtension(0, {0xAA, 0, 0}, 2), RtpHeaderStatus::kOk,
         true, 19, 2},
        // The counting byte itself is missing: 12 + 4 + 1 bytes only.
        {"ExtensionLengthZeroByteMissing", WithExtension(0, {0xAA}, 0), RtpHeaderStatus::kOk, false,
         0, 0},
        {"ExtensionLengthZeroCountPastEnd", WithExtension(0, {0xAA, 200, 0}, 10),
         RtpHeaderStatus::kOk, false, 0, 0},
        {"ExtensionHeaderPastEnd",
         [] {
             Bytes p = BuildRtp(Base(), Payload(3));
             p[0] |= 0x10;
             return p;
         }(),
         RtpHeaderStatus::kOk, false, 0, 0},
        {"ExtensionWordsPastEnd", WithExtension(0xFFFF, {1, 2, 3, 4}, 8), RtpHeaderStatus::kOk,
         false, 0, 0},
        {"CsrcCountPastEnd",
         [] {
             Bytes p = BuildRtp(Base(), Payload(8));
             p[0] |= 0x0F;
             return p;
         }(),
         RtpHeaderStatus::kOk, false, 0, 0},
        {"PaddingFour", BuildRtp(padded, Payload(5)), RtpHeaderStatus::kOk, true, 12, 5},
        {"PaddingFillsPayload", WithPaddingByte(3, 3), RtpHeaderStatus::kOk, true, 12, 0},
        {"PaddingLargerThanPayload", WithPaddingByte(3, 200), RtpHeaderStatus::kOk, true, 12, 0},
        {"PaddingLargerThanPacket", WithPaddingByte(1, 255), RtpHeaderStatus::kOk, true, 12, 0},
        {"PaddingCountZero", WithPaddingByte(3, 0), RtpHeaderStatus::kOk, true, 12, 3},
        {"HeaderOnly", twelve, RtpHeaderStatus::kOk, true, 12, 0},
        {"ElevenBytes", eleven, RtpHeaderStatus::kShort, false, 0, 0},
        {"Empty", {}, RtpHeaderStatus::kShort, false, 0, 0},
        {"Version0", WithVersion(0), RtpHeaderStatus::kNotVersion2, false, 0, 0},
        {"Version1", WithVersion(1), RtpHeaderStatus::kNotVersion2, false, 0, 0},
        {"Version3", WithVersion(3), RtpHeaderStatus::kNotVersion2, false, 0, 0},
        {"Version1Short", {0x40}, RtpHeaderStatus::kNotVersion2, false, 0, 0},
    };
}

class RtpHeaderTest : public testing::TestWithParam<HeaderCase> {};

TEST_P(RtpHeaderTest, Layout) {
    const HeaderCase& c = GetParam();
    RtpHeader h;
    // An exactly sized heap copy, so that ASan sees any read past the end.
    std::unique_ptr<uint8_t[]> exact(new uint8_t[c.packet.empty() ? 1 : c.packet.size()]);
    std::copy(c.packet.begin(), c.packet.end(), exact.get());
    ASSERT_EQ(ParseRtpHeader(c.packet.empty() ? nullptr : exact.get(), c.packet.size(), &h),
              c.status);
    EXPECT_EQ(h.complete, c.complete);
    if (c.status != RtpHeaderStatus::kOk)
        return;
    EXPECT_EQ(h.headerLength, c.complete ? c.headerLength : c.packet.size());
    EXPECT_EQ(h.payloadLength, c.payloadLength);
    EXPECT_EQ(h.payloadOffset, h.headerLength);
    EXPECT_LE(h.payloadOffset + h.payloadLength, c.packet.size());
    EXPECT_TRUE(h.marker);
    EXPECT_EQ(h.payloadType, 97);
    EXPECT_EQ(h.sequence, 0xABCD);
    EXPECT_EQ(h.timestamp, 0x01020304u);
    EXPECT_EQ(h.ssrc, 0xA1B2C3D4u);
    if (c.complete && c.payloadLength > 0) {
        EXPECT_EQ(c.packet[h.payloadOffset], 0x50);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, RtpHeaderTest, testing::ValuesIn(Cases()),
                         [](const testing::TestParamInfo<HeaderCase>& tpi) {
                             return tpi.param.name;
                         });

}  // namespace
}  // namespace assembly_test
}  // namespace camvue
