// The RTP/JPEG per-packet steps (RFC 2435): sizes, tables, the rebuilt header
// of the first fragment, later fragments, losses, and malformed payloads.
#include "npcamvue/rtp/jpeg_depacketizer.h"

#include <gtest/gtest.h>

#include <cstring>

#include "npcamvue/rtp/jpeg_header.h"
#include "npcamvue/rtp/jpeg_tables.h"
#include "tests/unit/jpeg/jpeg_test_util.h"

namespace camvue {
namespace {

using jpegtest::Assembler;
using jpegtest::Bytes;
using jpegtest::CallHandler;
using jpegtest::Filled;
using jpegtest::JpegFile;
using jpegtest::MainHeader;
using jpegtest::ParseJpeg;
using jpegtest::PutBytes;
using jpegtest::PutMainHeader;
using jpegtest::PutQuantHeader;
using jpegtest::PutRestartHeader;

// Entropy-coded bytes without markers (FF 00 stuffing included).
const Bytes kScan = {0x12, 0x34, 0xFF, 0x00, 0x56, 0x78, 0x9A};

Bytes Scaled(int q, bool luma) {
    uint8_t l[64];
    uint8_t c[64];
    ScaleQuantTables(q, l, c);
    return luma ? Bytes(l, l + 64) : Bytes(c, c + 64);
}

Bytes Payload(const MainHeader& h, const Bytes& rest) {
    Bytes out;
    PutMainHeader(out, h);
    PutBytes(out, rest);
    return out;
}

MainHeader Header(uint8_t type, uint8_t q, uint8_t width = 80, uint8_t height = 60,
                  uint32_t offset = 0) {
    MainHeader h;
    h.type = type;
    h.q = q;
    h.width = width;
    h.height = height;
    h.fragmentOffset = offset;
    return h;
}

struct FirstFragmentCase {
    const char* name;
    Bytes payload;
    size_t skip;        // payload bytes that are headers
    size_t headerSize;  // rebuilt header
    int32_t width;
    int32_t height;
    std::vector<uint8_t> markers;  // of the rebuilt file; empty: not parsed
    uint8_t lumaSampling;
    uint8_t chromaTable;
    int restartInterval;
    Bytes luma;    // expected DQT 0
    Bytes chroma;  // expected DQT 1, empty when there is none
};

std::vector<FirstFragmentCase> FirstFragmentCases() {
    const std::vector<uint8_t> two = {0xD8, 0xE0, 0xDB, 0xDB, 0xC0, 0xC4,
                                      0xC4, 0xC4, 0xC4, 0xDA, 0xD9};
    const std::vector<uint8_t> twoDri = {0xD8, 0xE0, 0xDB, 0xDB, 0xC0, 0xC4,
                                         0xC4, 0xC4, 0xC4, 0xDD, 0xDA, 0xD9};
    const std::vector<uint8_t> one = {0xD8, 0xE0, 0xDB, 0xC0, 0xC4, 0xC4, 0xC4, 0xC4, 0xDA, 0xD9};
    const Bytes inLuma = Filled(64, 1);
    const Bytes inChroma = Filled(64, 101);
    std::vector<FirstFragmentCase> cases;

    cases.push_back({"type 1, Q 80, 640 x 480", Payload(Header(1, 80), kScan), 8, 623, 640, 480,
                     two, 0x22, 1, 0, Scaled(80, true), Scaled(80, false)});
    cases.push_back({"type 0 is 4:2:2", Payload(Header(0, 80), kScan), 8, 623, 640, 480, two, 0x21,
                     1, 0, Scaled(80, true), Scaled(80, false)});
    {
        Bytes rest;
        PutRestartHeader(rest, 8);
        PutBytes(rest, kScan);
        cases.push_back({"type 64, restart interval 8", Payload(Header(64, 80), rest), 12, 629, 640,
                         480, twoDri, 0x21, 1, 8, Scaled(80, true), Scaled(80, false)});
    }
    {
        Bytes rest;
        PutRestartHeader(rest, 0);
        PutBytes(rest, kScan);
        cases.push_back({"type 65, restart interval 0: no DRI", Payload(Header(65, 50), rest), 12,
                         623, 640, 480, two, 0x22, 1, 0, Scaled(50, true), Scaled(50, false)});
    }
    {
        Bytes rest;
        PutQuantHeader(rest, 0, 0, 128);
        PutBytes(rest, inLuma);
        PutBytes(rest, inChroma);
        PutBytes(rest, kScan);
        cases.push_back({"Q 255, Length 128: both tables in-band", Payload(Header(1, 255), rest),
                         8 + 4 + 128, 623, 640, 480, two, 0x22, 1, 0, inLuma, inChroma});
    }
    {
        Bytes rest;
        PutQuantHeader(rest, 0, 0, 64);
        PutBytes(rest, inLuma);
        PutBytes(rest, kScan);
        cases.push_back({"Q 255, Length 64: one table for all components",
                         Payload(Header(1, 255), rest), 8 + 4 + 64, 554, 640, 480, one, 0x22, 0, 0,
                         inLuma, Bytes()});
    }
    {
        Bytes rest;
        PutQuantHeader(rest, 0, 0, 192);
        PutBytes(rest, inLuma);
        PutBytes(rest, Filled(32, 0xEE, 0));
        PutBytes(rest, inChroma);  // 192 - 192 / 2 = 96 bytes in
        PutBytes(rest, Filled(32, 0xEE, 0));
        PutBytes(rest, kScan);
        cases.push_back({"Q 255, Length 192: chroma table from the second half",
                         Payload(Header(1, 255), rest), 8 + 4 + 192, 623, 640, 480, two, 0x22, 1, 0,
                         inLuma, inChroma});
    }
    {
        Bytes rest;
        PutQuantHeader(rest, 0, 0, 131);  // odd: the chroma table starts 66 bytes in
        PutBytes(rest, inLuma);
        PutBytes(rest, Filled(2, 0xEE, 0));
        PutBytes(rest, inChroma);
        PutBytes(rest, Filled(1, 0xEE, 0));
        PutBytes(rest, kScan);
        cases.push_back({"Q 255, Length 131", Payload(Header(1, 255), rest), 8 + 4 + 131, 623, 640,
                         480, two, 0x22, 1, 0, inLuma, inChroma});
    }
    {
        Bytes rest;
        PutQuantHeader(rest, 0, 0, 0);
        PutBytes(rest, kScan);
        cases.push_back({"Q 255, Length 0: tables as for Q 99", Payload(Header(1, 255), rest), 12,
                         623, 640, 480, two, 0x22, 1, 0, Scaled(99, true), Scaled(99, false)});
    }
    {
        // MBZ not 0: no table header; its four bytes stay in the scan data.
        Bytes rest;
        PutQuantHeader(rest, 1, 0, 128);
        PutBytes(rest, kScan);
        cases.push_back({"Q 128, MBZ 1: tables as for Q 99", Payload(Header(1, 128), rest), 8, 623,
                         640, 480, two, 0x22, 1, 0, Scaled(99, true), Scaled(99, false)});
    }
    {
        Bytes rest;
        PutRestartHeader(rest, 0x1234);
        PutQuantHeader(rest, 0, 0, 128);
        PutBytes(rest, inLuma);
        PutBytes(rest, inChroma);
        PutBytes(rest, kScan);
        cases.push_back({"type 64 and Q 255: restart header before the table header",
                         Payload(Header(64, 255), rest), 8 + 4 + 4 + 128, 629, 640, 480, twoDri,
                         0x21, 1, 0x1234, inLuma, inChroma});
    }
    cases.push_back({"width and height byte 0: 2048", Payload(Header(1, 50, 0, 0), kScan), 8, 623,
                     2048, 2048, two, 0x22, 1, 0, Scaled(50, true), Scaled(50, false)});
    cases.push_back({"largest size in blocks: 2040 x 8", Payload(Header(1, 50, 255, 1), kScan), 8,
                     623, 2040, 8, two, 0x22, 1, 0, Scaled(50, true), Scaled(50, false)});
    {
        const Bytes sos = {0xFF, 0xDA, 0x00, 0x0C, 0x03, 0x01, 0x00,
                           0x02, 0x11, 0x03, 0x11, 0x00, 0x3F, 0x00};
        Bytes rest = sos;
        PutBytes(rest, kScan);
        cases.push_back({"scan data begins with FF DA: no SOS added", Payload(Header(1, 80), rest),
                         8, 609, 640, 480, two, 0x22, 1, 0, Scaled(80, true), Scaled(80, false)});
    }
    {
        // FF DA behind two other 0xFF bytes is still found (the third 0xFF).
        Bytes rest = {0xFF, 0xFF, 0xFF, 0xDA, 0x00, 0x0C, 0x03, 0x01,
                      0x00, 0x02, 0x11, 0x03, 0x11, 0x00, 0x3F, 0x00};
        PutBytes(rest, kScan);
        cases.push_back({"FF DA at the third 0xFF: no SOS added", Payload(Header(1, 80), rest), 8,
                         609, 640, 480, two, 0x22, 1, 0, Scaled(80, true), Scaled(80, false)});
    }
    {
        // Only the first three 0xFF bytes are looked at: an FF DA after them
        // does not stop the SOS segment (the result is no valid JPEG, so
        // only the header size is checked).
        Bytes rest = {0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0xFF, 0xDA, 0x11, 0x22};
        cases.push_back({"FF DA only after three 0xFF: SOS added",
                         Payload(Header(1, 80), rest),
                         8,
                         623,
                         640,
                         480,
                         {},
                         0x22,
                         1,
                         0,
                         Scaled(80, true),
                         Scaled(80, false)});
    }
    {
        // A last payload byte of 0xFF has no byte after it to look at.
        const Bytes rest = {0x12, 0x34, 0xFF};
        cases.push_back({"0xFF as the last payload byte", Payload(Header(1, 80), rest), 8, 623, 640,
                         480, two, 0x22, 1, 0, Scaled(80, true), Scaled(80, false)});
    }
    return cases;
}

TEST(JpegDepacketizer, FirstFragmentRebuildsTheHeader) {
    for (const FirstFragmentCase& c : FirstFragmentCases()) {
        SCOPED_TRACE(c.name);
        Assembler a;
        a.frame.length = 77;  // left over from an unfinished frame
        ASSERT_EQ(CallHandler(a.handler, a.stream, a.frame, c.payload), HandlerResult::kGoOn);
        EXPECT_EQ(a.frame.payloadSkip, c.skip);
        EXPECT_EQ(a.frame.length, c.headerSize);
        EXPECT_TRUE(a.frame.key);
        EXPECT_TRUE(a.frame.content);
        EXPECT_EQ(a.stream.picture.width, c.width);
        EXPECT_EQ(a.stream.picture.height, c.height);

        // The file as the assembler finishes it: header, payload after the
        // skip, end-of-image marker.
        Bytes file(a.frame.data, a.frame.data + a.frame.length);
        file.insert(file.end(), c.payload.begin() + static_cast<std::ptrdiff_t>(c.skip),
                    c.payload.end());
        file.push_back(0xFF);
        file.push_back(0xD9);
        if (c.markers.empty())
            continue;  // scan data that is no valid JPEG; the header size says it all
        const JpegFile f = ParseJpeg(file);
        ASSERT_TRUE(f.ok) << f.error;
        EXPECT_EQ(f.Markers(), c.markers);
        EXPECT_EQ(f.width, c.width);
        EXPECT_EQ(f.height, c.height);
        ASSERT_EQ(f.components.size(), 3u);
        EXPECT_EQ(f.components[0].sampling, c.lumaSampling);
        EXPECT_EQ(f.components[1].quantTable, c.chromaTable);
        EXPECT_EQ(f.components[2].quantTable, c.chromaTable);
        EXPECT_EQ(f.restartInterval, c.restartInterval);
        EXPECT_EQ(f.quant.at(0), c.luma);
        if (c.chroma.empty()) {
            EXPECT_EQ(f.quant.count(1), 0u);
        } else {
            EXPECT_EQ(f.quant.at(1), c.chroma);
        }
    }
}

struct ThresholdCase {
    const char* name;
    MainHeader header;
    size_t firstAccepted;  // shortest payload that goes on
    size_t skip;           // payload skip then
};

// Payloads of every length from 0 to 20 bytes (the rest zero: restart
// interval 0, a table header of MBZ 0 and Length 0): below the headers they
// are dropped, above them they go on; nothing is read past the payload.
TEST(JpegDepacketizer, EveryShortLengthIsSafe) {
    const ThresholdCase cases[] = {
        {"type 1, Q 80", Header(1, 80), 9, 8},
        {"type 64, Q 80: restart header", Header(64, 80), 13, 12},
        {"type 1, Q 255: table header", Header(1, 255), 13, 12},
        {"type 64, Q 255: both headers", Header(64, 255), 17, 16},
        {"later fragment, Q 255", Header(1, 255, 80, 60, 1000), 9, 8},
        {"later fragment, type 65, Q 255", Header(65, 255, 80, 60, 1), 13, 12},
    };
    for (const ThresholdCase& c : cases) {
        Bytes full;
        PutMainHeader(full, c.header);
        full.resize(20, 0x00);
        for (size_t length = 0; length <= 20; ++length) {
            SCOPED_TRACE(std::string(c.name) + ", length " + std::to_string(length));
            Assembler a;
            a.frame.started = true;
            a.frame.length = 700;  // an earlier fragment's header and data
            const Bytes payload(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(length));
            const HandlerResult r = CallHandler(a.handler, a.stream, a.frame, payload);
            if (length < c.firstAccepted) {
                EXPECT_EQ(r, HandlerResult::kDrop);
                EXPECT_EQ(a.frame.payloadSkip, 0u);
                EXPECT_EQ(a.frame.length, 700u);
                EXPECT_FALSE(a.frame.key);
            } else {
                EXPECT_EQ(r, HandlerResult::kGoOn);
                EXPECT_EQ(a.frame.payloadSkip, c.skip);
                EXPECT_LT(a.frame.payloadSkip, length);
            }
            // The picture size follows every packet past the main header.
            EXPECT_EQ(a.stream.picture.width, length > 8 ? 640 : 0);
        }
    }
}

struct MalformedCase {
    const char* name;
    Bytes payload;
    HandlerResult result;
};

std::vector<MalformedCase> MalformedTableCases() {
    std::vector<MalformedCase> cases;
    auto table = [](uint8_t mbz, uint8_t precision, uint16_t length, size_t dataBytes) {
        Bytes rest;
        PutQuantHeader(rest, mbz, precision, length);
        PutBytes(rest, Filled(dataBytes, 0x40));
        return Payload(Header(1, 255), rest);
    };
    cases.push_back({"Length 63 is below one table", table(0, 0, 63, 200), HandlerResult::kEnd});
    cases.push_back({"Length 1", table(0, 0, 1, 200), HandlerResult::kEnd});
    cases.push_back({"Length 1, nothing after it", table(0, 0, 1, 1), HandlerResult::kEnd});
    cases.push_back({"Precision 1, Length 100: below one 16-bit table", table(0, 1, 100, 300),
                     HandlerResult::kEnd});
    cases.push_back({"Precision 1, Length 128: 16-bit tables are refused", table(0, 1, 128, 300),
                     HandlerResult::kDrop});
    cases.push_back({"Precision 1, Length 256", table(0, 1, 256, 300), HandlerResult::kDrop});
    cases.push_back({"Precision 2, Length 256", table(0, 2, 256, 300), HandlerResult::kDrop});
    cases.push_back({"Precision 3, Length 512", table(0, 3, 512, 600), HandlerResult::kDrop});
    cases.push_back({"Precision 11: no Length is a whole table", table(0, 11, 0xFFFF, 300),
                     HandlerResult::kEnd});
    cases.push_back({"Precision 255", table(0, 255, 0xFFFF, 300), HandlerResult::kEnd});
    cases.push_back({"Length 128 beyond the payload", table(0, 0, 128, 100), HandlerResult::kDrop});
    cases.push_back(
        {"Length 128, tables only, no scan data", table(0, 0, 128, 128), HandlerResult::kDrop});
    cases.push_back(
        {"Length 64 beyond the payload by one", table(0, 0, 64, 63), HandlerResult::kDrop});
    cases.push_back({"Length 65535", table(0, 0, 0xFFFF, 300), HandlerResult::kDrop});
    cases.push_back({"Length 65535 with the restart bit",
                     [] {
                         Bytes rest;
                         PutRestartHeader(rest, 4);
                         PutQuantHeader(rest, 0, 0, 0xFFFF);
                         PutBytes(rest, Filled(100, 1));
                         return Payload(Header(64, 255), rest);
                     }(),
                     HandlerResult::kDrop});
    {
        // A restart header cut after its interval.
        Bytes p = Payload(Header(64, 80), {0x00, 0x08});
        cases.push_back({"restart header truncated", p, HandlerResult::kDrop});
    }
    {
        Bytes p = Payload(Header(64, 80), {0x00, 0x08, 0xFF, 0xFF});
        cases.push_back({"restart header and nothing else", p, HandlerResult::kDrop});
    }
    {
        Bytes p = Payload(Header(1, 255), {0x00, 0x00, 0x00});
        cases.push_back({"table header truncated", p, HandlerResult::kDrop});
    }
    {
        Bytes p = Payload(Header(1, 255), {0x00, 0x00, 0x00, 0x80});
        cases.push_back({"table header and nothing else", p, HandlerResult::kDrop});
    }
    {
        Bytes p = Payload(Header(64, 255), {0x00, 0x08, 0xFF, 0xFF, 0x00, 0x00, 0x00});
        cases.push_back({"table header truncated after a restart header", p, HandlerResult::kDrop});
    }
    return cases;
}

// Malformed table and restart headers: the result, and on a drop neither the
// stored tables nor the frame change; nothing is read past the payload.
TEST(JpegDepacketizer, MalformedHeaders) {
    for (const MalformedCase& c : MalformedTableCases()) {
        SCOPED_TRACE(c.name);
        Assembler a;
        // Tables from an earlier frame, a frame under assembly.
        ScaleQuantTables(30, a.stream);
        const Bytes luma(a.stream.jpegLuma, a.stream.jpegLuma + 64);
        const Bytes chroma(a.stream.jpegChroma, a.stream.jpegChroma + 64);
        std::memset(a.frame.data, 0x5A, 32);
        a.frame.length = 32;
        a.frame.started = true;
        const HandlerResult r = CallHandler(a.handler, a.stream, a.frame, c.payload);
        EXPECT_EQ(r, c.result);
        EXPECT_EQ(a.frame.payloadSkip, 0u);
        EXPECT_FALSE(a.frame.key);
        EXPECT_EQ(Bytes(a.stream.jpegLuma, a.stream.jpegLuma + 64), luma);
        EXPECT_EQ(Bytes(a.stream.jpegChroma, a.stream.jpegChroma + 64), chroma);
        EXPECT_EQ(a.frame.length, 32u);
        EXPECT_EQ(a.frame.data[0], 0x5A);
    }
}

// A whole frame in three fragments, Q below 128: the header comes from the
// first, later fragments skip only their main header, and the delivered file
// is header + scan data + EOI.
TEST(JpegDepacketizer, FragmentsMakeOneFile) {
    const Bytes parts[3] = {{0x01, 0x02, 0xFF, 0x00}, {0x03, 0x04, 0x05}, {0x06, 0xFF, 0x00, 0x07}};
    for (bool withEoi : {false, true}) {
        SCOPED_TRACE(withEoi ? "scan data ends with FF D9" : "EOI appended");
        Assembler a;
        uint32_t offset = 0;
        for (int i = 0; i < 3; ++i) {
            Bytes scan = parts[i];
            if (withEoi && i == 2) {
                scan.push_back(0xFF);
                scan.push_back(0xD9);
            }
            const HandlerResult r =
                a.Push(Payload(Header(1, 60, 40, 30, offset), scan), /*marker=*/i == 2);
            ASSERT_EQ(r, HandlerResult::kGoOn);
            if (i < 2) {
                EXPECT_EQ(a.frame.payloadSkip, 8u);
                EXPECT_TRUE(a.frame.key);
            }
            offset += static_cast<uint32_t>(scan.size());
        }
        ASSERT_EQ(a.delivered.size(), 1u);
        const Bytes& file = a.delivered[0];
        EXPECT_EQ(file.size(), 623u + 11u + 2u);
        const JpegFile f = ParseJpeg(file);
        ASSERT_TRUE(f.ok) << f.error;
        EXPECT_TRUE(f.endsWithEoi);
        EXPECT_EQ(f.entropy,
                  (Bytes{0x01, 0x02, 0xFF, 0x00, 0x03, 0x04, 0x05, 0x06, 0xFF, 0x00, 0x07}));
        EXPECT_EQ(f.width, 320);
        EXPECT_EQ(f.height, 240);
        EXPECT_TRUE(a.frame.started);
    }
}

TEST(JpegDepacketizer, LaterFragmentsWithRestartAndInBandTables) {
    Assembler a;
    Bytes first;
    PutRestartHeader(first, 2);
    PutQuantHeader(first, 0, 0, 128);
    PutBytes(first, Filled(64, 1));
    PutBytes(first, Filled(64, 65));
    PutBytes(first, {0x10, 0x11});
    ASSERT_EQ(a.Push(Payload(Header(65, 255, 2, 2), first), false), HandlerResult::kGoOn);
    EXPECT_EQ(a.frame.payloadSkip, 8u + 4u + 4u + 128u);

    // A later fragment carries the restart header but no table header, even
    // when its first bytes look like one.
    Bytes later;
    PutRestartHeader(later, 2);
    PutBytes(later, {0x00, 0x00, 0x00, 0x80, 0x12});
    ASSERT_EQ(a.Push(Payload(Header(65, 255, 2, 2, 2), later), true), HandlerResult::kGoOn);
    ASSERT_EQ(a.delivered.size(), 1u);
    const JpegFile f = ParseJpeg(a.delivered[0]);
    ASSERT_TRUE(f.ok) << f.error;
    EXPECT_EQ(f.restartInterval, 2);
    EXPECT_EQ(f.entropy, (Bytes{0x10, 0x11, 0x00, 0x00, 0x00, 0x80, 0x12}));
    EXPECT_EQ(f.quant.at(0), Filled(64, 1));
    EXPECT_EQ(f.quant.at(1), Filled(64, 65));
    EXPECT_EQ(Bytes(a.stream.jpegChroma, a.stream.jpegChroma + 64), Filled(64, 65));
}

// Tables computed from Q follow every packet; in-band tables stay until the
// next first fragment replaces them; the picture size follows every packet.
TEST(JpegDepacketizer, TablesAndSizeFollowThePackets) {
    Assembler a;
    ASSERT_EQ(a.Push(Payload(Header(1, 80, 10, 10), kScan), false), HandlerResult::kGoOn);
    EXPECT_EQ(Bytes(a.stream.jpegLuma, a.stream.jpegLuma + 64), Scaled(80, true));
    ASSERT_EQ(a.Push(Payload(Header(1, 50, 12, 9, 7), kScan), true), HandlerResult::kGoOn);
    EXPECT_EQ(Bytes(a.stream.jpegLuma, a.stream.jpegLuma + 64), Scaled(50, true));
    EXPECT_EQ(a.stream.picture.width, 96);
    EXPECT_EQ(a.stream.picture.height, 72);
    ASSERT_EQ(a.delivered.size(), 1u);
    // The header was written with the first fragment's Q and size.
    const JpegFile f = ParseJpeg(a.delivered[0]);
    ASSERT_TRUE(f.ok) << f.error;
    EXPECT_EQ(f.quant.at(0), Scaled(80, true));
    EXPECT_EQ(f.width, 80);

    // In-band: both tables, then a frame with the luma table only; the
    // chroma table stays.
    Bytes both;
    PutQuantHeader(both, 0, 0, 128);
    PutBytes(both, Filled(64, 1));
    PutBytes(both, Filled(64, 65));
    PutBytes(both, kScan);
    ASSERT_EQ(a.Push(Payload(Header(1, 255), both), true), HandlerResult::kGoOn);
    Bytes lumaOnly;
    PutQuantHeader(lumaOnly, 0, 0, 64);
    PutBytes(lumaOnly, Filled(64, 129));
    PutBytes(lumaOnly, kScan);
    ASSERT_EQ(a.Push(Payload(Header(1, 255), lumaOnly), false), HandlerResult::kGoOn);
    ASSERT_EQ(a.Push(Payload(Header(1, 255, 80, 60, 7), kScan), true), HandlerResult::kGoOn);
    EXPECT_EQ(Bytes(a.stream.jpegLuma, a.stream.jpegLuma + 64), Filled(64, 129));
    EXPECT_EQ(Bytes(a.stream.jpegChroma, a.stream.jpegChroma + 64), Filled(64, 65));
    ASSERT_EQ(a.delivered.size(), 3u);
    const JpegFile g = ParseJpeg(a.delivered[2]);
    ASSERT_TRUE(g.ok) << g.error;
    EXPECT_EQ(g.quant.size(), 1u);
    EXPECT_EQ(g.quant.at(0), Filled(64, 129));
}

// A new first fragment empties the frame even when the previous frame never
// saw its marker packet.
TEST(JpegDepacketizer, FirstFragmentStartsOver) {
    Assembler a;
    ASSERT_EQ(a.Push(Payload(Header(1, 80), Filled(300, 1)), false), HandlerResult::kGoOn);
    ASSERT_EQ(a.Push(Payload(Header(1, 80, 80, 60, 300), Filled(300, 1)), false),
              HandlerResult::kGoOn);
    ASSERT_EQ(a.Push(Payload(Header(1, 80), kScan), true), HandlerResult::kGoOn);
    ASSERT_EQ(a.delivered.size(), 1u);
    EXPECT_EQ(a.delivered[0].size(), 623u + kScan.size() + 2u);
}

// A sequence gap: the frame under assembly (and the first fragment arriving
// while the loss flag is set) is discarded at its end; the next frame is
// delivered.
TEST(JpegDepacketizer, LossDiscardsTheFrame) {
    Assembler a;
    ASSERT_EQ(a.Push(Payload(Header(1, 80), kScan), true), HandlerResult::kGoOn);
    ASSERT_EQ(a.delivered.size(), 1u);

    // Gap in the middle of a frame.
    ASSERT_EQ(a.Push(Payload(Header(1, 80), kScan), false), HandlerResult::kGoOn);
    a.Gap();
    ASSERT_EQ(a.Push(Payload(Header(1, 80, 80, 60, 14), kScan), true), HandlerResult::kGoOn);
    EXPECT_EQ(a.delivered.size(), 1u);
    EXPECT_EQ(a.discarded, 1u);

    // Gap right before a first fragment: its header is cleared as well.
    a.Gap();
    ASSERT_EQ(a.Push(Payload(Header(1, 80), kScan), false), HandlerResult::kGoOn);
    EXPECT_FALSE(a.frame.key);
    EXPECT_FALSE(a.frame.started);
    EXPECT_EQ(a.frame.length, kScan.size());
    ASSERT_EQ(a.Push(Payload(Header(1, 80, 80, 60, 7), kScan), true), HandlerResult::kGoOn);
    EXPECT_EQ(a.delivered.size(), 1u);
    EXPECT_EQ(a.discarded, 2u);

    ASSERT_EQ(a.Push(Payload(Header(1, 80), kScan), true), HandlerResult::kGoOn);
    ASSERT_EQ(a.delivered.size(), 2u);
    EXPECT_TRUE(ParseJpeg(a.delivered[1]).ok);
}

// Later fragments of a frame whose first fragment never reached the buffer
// (refused, or the loop joined mid-frame) are not delivered as a file
// without a header, even while frames are being delivered.
TEST(JpegDepacketizer, FrameWithoutItsFirstFragmentIsDiscarded) {
    Bytes sixteenBit;
    PutQuantHeader(sixteenBit, 0, 1, 256);
    PutBytes(sixteenBit, Filled(256, 1));
    PutBytes(sixteenBit, kScan);
    const Bytes refusedFirst = Payload(Header(1, 255), sixteenBit);

    struct Case {
        const char* name;
        bool deliverOneFirst;
        bool sendFirst;
    };
    const Case cases[] = {
        {"first fragment refused while delivering", true, true},
        {"joined mid-frame at the start of the loop", false, false},
        {"first fragment missing while delivering", true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Assembler a;
        if (c.deliverOneFirst) {
            ASSERT_EQ(a.Push(Payload(Header(1, 80), kScan), true), HandlerResult::kGoOn);
            ASSERT_EQ(a.delivered.size(), 1u);
        }
        if (c.sendFirst) {
            EXPECT_EQ(a.Push(refusedFirst, false), HandlerResult::kDrop);
        }
        ASSERT_EQ(a.Push(Payload(Header(1, 255, 80, 60, 100), kScan), false), HandlerResult::kGoOn);
        ASSERT_EQ(a.Push(Payload(Header(1, 255, 80, 60, 107), kScan), true), HandlerResult::kGoOn);
        EXPECT_EQ(a.delivered.size(), c.deliverOneFirst ? 1u : 0u);
        EXPECT_EQ(a.discarded, 1u);
        // The next whole frame is delivered.
        ASSERT_EQ(a.Push(Payload(Header(1, 80), kScan), true), HandlerResult::kGoOn);
        ASSERT_EQ(a.delivered.size(), c.deliverOneFirst ? 2u : 1u);
        EXPECT_TRUE(ParseJpeg(a.delivered.back()).ok);
    }
}

// Where the previous frame's marker packet was lost to the handler and the
// next first fragment is refused, later fragments must not be appended to the
// old frame's header and delivered as one file.
TEST(JpegDepacketizer, RefusedFirstFragmentDoesNotReuseAnOldHeader) {
    Assembler a;
    ASSERT_EQ(a.Push(Payload(Header(1, 80), kScan), true), HandlerResult::kGoOn);
    ASSERT_EQ(a.Push(Payload(Header(1, 80), kScan), false), HandlerResult::kGoOn);
    // The marker packet carries nothing after its main header: dropped.
    EXPECT_EQ(a.Push(Payload(Header(1, 80, 80, 60, 7), {}), true), HandlerResult::kDrop);
    // Next frame's first fragment has a 16-bit table: refused.
    Bytes rest;
    PutQuantHeader(rest, 0, 1, 128);
    PutBytes(rest, Filled(128, 1));
    PutBytes(rest, kScan);
    EXPECT_EQ(a.Push(Payload(Header(1, 255), rest), false), HandlerResult::kDrop);
    ASSERT_EQ(a.Push(Payload(Header(1, 255, 80, 60, 7), kScan), true), HandlerResult::kGoOn);
    EXPECT_EQ(a.delivered.size(), 1u);
    EXPECT_EQ(a.discarded, 1u);
}

TEST(JpegDepacketizer, HeaderThatDoesNotFitEndsTheLoop) {
    Assembler a(600);  // below the 623-byte header
    a.frame.length = 10;
    EXPECT_EQ(a.Push(Payload(Header(1, 80), kScan), true), HandlerResult::kEnd);
    EXPECT_EQ(a.frame.length, 0u);
    EXPECT_FALSE(a.frame.key);
    EXPECT_TRUE(a.delivered.empty());

    Assembler exact(623 + kScan.size() + 2);  // header, data and EOI just fit
    EXPECT_EQ(exact.Push(Payload(Header(1, 80), kScan), true), HandlerResult::kGoOn);
    ASSERT_EQ(exact.delivered.size(), 1u);
    EXPECT_TRUE(ParseJpeg(exact.delivered[0]).ok);
}

TEST(JpegDepacketizer, ResetForgetsTheFrameUnderAssembly) {
    Assembler a;
    ASSERT_EQ(a.Push(Payload(Header(1, 80), kScan), false), HandlerResult::kGoOn);
    a.handler.Reset();
    a.frame.started = true;  // as if the loop had delivered before
    ASSERT_EQ(a.Push(Payload(Header(1, 80, 80, 60, 7), kScan), true), HandlerResult::kGoOn);
    EXPECT_TRUE(a.delivered.empty());
    EXPECT_FALSE(a.frame.started);
}

TEST(JpegDepacketizer, InterfaceFacts) {
    JpegDepacketizer handler;
    PayloadHandler& base = handler;
    EXPECT_EQ(base.kind(), kCodecJpeg);
    EXPECT_EQ(base.TrailerRoom(), 2u);
    StreamState stream;
    FrameBuffer frame;
    EXPECT_EQ(base.OnPacket(stream, frame, nullptr, 100), HandlerResult::kDrop);
}

}  // namespace
}  // namespace camvue
