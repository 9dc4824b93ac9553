// The rebuilt JFIF header (RFC 2435 3.1 and Appendix B) and the end-of-image
// marker: segment layout, sizes, bounds.
#include "npcamvue/rtp/jpeg_header.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "npcamvue/rtp/jpeg_tables.h"
#include "tests/unit/jpeg/jpeg_test_util.h"

namespace camvue {
namespace {

using jpegtest::Bytes;
using jpegtest::JpegFile;
using jpegtest::ParseJpeg;

// A frame over exactly `capacity` heap bytes, so a write past it trips ASan.
struct Frame {
    explicit Frame(size_t capacity) : storage(new uint8_t[capacity]) {
        std::memset(storage.get(), 0xA5, capacity);
        frame.data = storage.get();
        frame.capacity = capacity;
    }
    Bytes Contents() const { return Bytes(frame.data, frame.data + frame.length); }
    std::unique_ptr<uint8_t[]> storage;
    FrameBuffer frame;
};

struct Tables {
    Tables(int q) { ScaleQuantTables(q, luma, chroma); }
    uint8_t luma[64];
    uint8_t chroma[64];
};

// Header plus a little scan data and EOI, parsed.
JpegFile ParseHeader(const Bytes& header) {
    Bytes file = header;
    for (uint8_t b : {0x12, 0x34, 0xFF, 0x00, 0x56, 0xFF, 0xD9})
        file.push_back(b);
    return ParseJpeg(file);
}

TEST(JpegHeader, Type1Q80Is623BytesWithTheRfcLayout) {
    const Tables t(80);
    JpegHeaderParams p;
    p.luma = t.luma;
    p.chroma = t.chroma;
    p.type = 1;
    p.width = 640;
    p.height = 480;
    p.restartInterval = 0;
    p.addSos = true;
    p.tableCount = 2;
    Frame f(4096);
    ASSERT_TRUE(BuildJpegHeader(f.frame, p));
    ASSERT_EQ(f.frame.length, 623u);  // 20 + 2 x 69 + 19 + 432 + 14
    EXPECT_EQ(JpegHeaderSize(p), 623u);
    const Bytes header = f.Contents();

    const Bytes soiApp0 = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 0x4A, 0x46, 0x49, 0x46,
                           0x00, 0x01, 0x01, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00};
    EXPECT_EQ(Bytes(header.begin(), header.begin() + 20), soiApp0);

    const JpegFile file = ParseHeader(header);
    ASSERT_TRUE(file.ok) << file.error;
    EXPECT_EQ(file.Markers(), (std::vector<uint8_t>{0xD8, 0xE0, 0xDB, 0xDB, 0xC0, 0xC4, 0xC4, 0xC4,
                                                    0xC4, 0xDA, 0xD9}));
    // DQT: "FF DB 00 43 0n" then 64 entries (base x 40 + 50) / 100.
    EXPECT_EQ(Bytes(header.begin() + 20, header.begin() + 25),
              (Bytes{0xFF, 0xDB, 0x00, 0x43, 0x00}));
    EXPECT_EQ(Bytes(header.begin() + 89, header.begin() + 94),
              (Bytes{0xFF, 0xDB, 0x00, 0x43, 0x01}));
    for (size_t i = 0; i < 64; ++i) {
        EXPECT_EQ(file.quant.at(0)[i], (kJpegLumaQuantBase[i] * 40 + 50) / 100) << i;
        EXPECT_EQ(file.quant.at(1)[i], (kJpegChromaQuantBase[i] * 40 + 50) / 100) << i;
    }
    // Hand-computed corners: 16 -> 6, 99 -> 40, 17 -> 7, 109 -> 44.
    EXPECT_EQ(file.quant.at(0)[0], 6);
    EXPECT_EQ(file.quant.at(0)[63], 40);
    EXPECT_EQ(file.quant.at(1)[0], 7);
    EXPECT_EQ(file.quant.at(0)[37], 44);
    // SOF0 640 x 480, Y 2x2 with table 0, Cb and Cr 1x1 with table 1.
    EXPECT_EQ(file.segments[4].body, (Bytes{0x08, 0x01, 0xE0, 0x02, 0x80, 0x03, 0x01, 0x22, 0x00,
                                            0x02, 0x11, 0x01, 0x03, 0x11, 0x01}));
    // DHT: luma DC, luma AC, chroma DC, chroma AC; lengths 0x1F and 0xB5.
    const uint8_t dhtIds[4] = {0x00, 0x10, 0x01, 0x11};
    const size_t dhtLengths[4] = {0x1F, 0xB5, 0x1F, 0xB5};
    for (size_t k = 0; k < 4; ++k) {
        const jpegtest::Segment& s = file.segments[5 + k];
        EXPECT_EQ(s.body.size() + 2, dhtLengths[k]) << k;
        EXPECT_EQ(s.body[0], dhtIds[k]) << k;
    }
    EXPECT_EQ(file.scanHeader, (Bytes{0x03, 0x01, 0x00, 0x02, 0x11, 0x03, 0x11, 0x00, 0x3F, 0x00}));
    EXPECT_EQ(file.restartInterval, 0);
}

struct Variant {
    const char* name;
    uint8_t type;
    int tableCount;
    bool luma;
    bool chroma;
    uint16_t restart;
    bool sos;
    int32_t width;
    int32_t height;
    size_t size;
    std::vector<uint8_t> markers;  // of the header, SOI first, without EOI
    uint8_t lumaSampling;
    uint8_t chromaTable;
};

TEST(JpegHeader, VariantsTable) {
    const std::vector<Variant> variants = {
        {"type 0 is 4:2:2",
         0,
         2,
         true,
         true,
         0,
         true,
         640,
         480,
         623,
         {0xD8, 0xE0, 0xDB, 0xDB, 0xC0, 0xC4, 0xC4, 0xC4, 0xC4, 0xDA},
         0x21,
         1},
        {"type 64 with restart 8",
         64,
         2,
         true,
         true,
         8,
         true,
         640,
         480,
         629,
         {0xD8, 0xE0, 0xDB, 0xDB, 0xC0, 0xC4, 0xC4, 0xC4, 0xC4, 0xDD, 0xDA},
         0x21,
         1},
        {"type 65 with restart 8",
         65,
         2,
         true,
         true,
         8,
         true,
         640,
         480,
         629,
         {0xD8, 0xE0, 0xDB, 0xDB, 0xC0, 0xC4, 0xC4, 0xC4, 0xC4, 0xDD, 0xDA},
         0x22,
         1},
        {"restart interval 0 writes no DRI",
         64,
         2,
         true,
         true,
         0,
         true,
         640,
         480,
         623,
         {0xD8, 0xE0, 0xDB, 0xDB, 0xC0, 0xC4, 0xC4, 0xC4, 0xC4, 0xDA},
         0x21,
         1},
        {"one table: all components use table 0",
         1,
         1,
         true,
         true,
         0,
         true,
         640,
         480,
         554,
         {0xD8, 0xE0, 0xDB, 0xC0, 0xC4, 0xC4, 0xC4, 0xC4, 0xDA},
         0x22,
         0},
        {"scan data brings its own SOS",
         1,
         2,
         true,
         true,
         0,
         false,
         640,
         480,
         609,
         {0xD8, 0xE0, 0xDB, 0xDB, 0xC0, 0xC4, 0xC4, 0xC4, 0xC4},
         0x22,
         1},
        {"absent chroma table",
         1,
         2,
         true,
         false,
         0,
         true,
         640,
         480,
         554,
         {0xD8, 0xE0, 0xDB, 0xC0, 0xC4, 0xC4, 0xC4, 0xC4, 0xDA},
         0x22,
         1},
        {"no tables",
         1,
         0,
         true,
         true,
         0,
         true,
         640,
         480,
         485,
         {0xD8, 0xE0, 0xC0, 0xC4, 0xC4, 0xC4, 0xC4, 0xDA},
         0x22,
         1},
        {"dynamic type 128",
         128,
         2,
         true,
         true,
         0,
         true,
         640,
         480,
         623,
         {0xD8, 0xE0, 0xDB, 0xDB, 0xC0, 0xC4, 0xC4, 0xC4, 0xC4, 0xDA},
         0x22,
         1},
        {"type 192 has the restart bit but is not 4:2:2",
         192,
         2,
         true,
         true,
         1,
         true,
         8,
         8,
         629,
         {0xD8, 0xE0, 0xDB, 0xDB, 0xC0, 0xC4, 0xC4, 0xC4, 0xC4, 0xDD, 0xDA},
         0x22,
         1},
        {"2048 x 2048",
         1,
         2,
         true,
         true,
         0,
         true,
         2048,
         2048,
         623,
         {0xD8, 0xE0, 0xDB, 0xDB, 0xC0, 0xC4, 0xC4, 0xC4, 0xC4, 0xDA},
         0x22,
         1},
    };
    const Tables t(50);
    for (const Variant& v : variants) {
        SCOPED_TRACE(v.name);
        JpegHeaderParams p;
        p.luma = v.luma ? t.luma : nullptr;
        p.chroma = v.chroma ? t.chroma : nullptr;
        p.type = v.type;
        p.width = v.width;
        p.height = v.height;
        p.restartInterval = v.restart;
        p.addSos = v.sos;
        p.tableCount = v.tableCount;
        Frame f(kJpegMaxHeaderSize);
        ASSERT_TRUE(BuildJpegHeader(f.frame, p));
        EXPECT_EQ(f.frame.length, v.size);
        EXPECT_EQ(JpegHeaderSize(p), v.size);
        Bytes header = f.Contents();
        if (!v.sos) {
            // Scan data with its own SOS segment follows.
            for (uint8_t b : {0xFF, 0xDA, 0x00, 0x0C, 0x03, 0x01, 0x00, 0x02, 0x11, 0x03, 0x11,
                              0x00, 0x3F, 0x00})
                header.push_back(b);
        }
        const JpegFile file = ParseHeader(header);
        ASSERT_TRUE(file.ok) << file.error;
        std::vector<uint8_t> markers = file.Markers();
        markers.pop_back();  // EOI of the test data
        if (!v.sos)
            markers.pop_back();
        EXPECT_EQ(markers, v.markers);
        ASSERT_EQ(file.components.size(), 3u);
        EXPECT_EQ(file.width, v.width);
        EXPECT_EQ(file.height, v.height);
        EXPECT_EQ(file.components[0].sampling, v.lumaSampling);
        EXPECT_EQ(file.components[0].quantTable, 0);
        EXPECT_EQ(file.components[1].sampling, 0x11);
        EXPECT_EQ(file.components[1].quantTable, v.chromaTable);
        EXPECT_EQ(file.components[2].quantTable, v.chromaTable);
        EXPECT_EQ(file.restartInterval, v.restart);
        EXPECT_EQ(file.huffman.size(), 4u);
    }
}

// Every capacity below the header size fails without writing a byte; from
// the header size on it succeeds and writes exactly the header.
TEST(JpegHeader, NeverWritesPastTheCapacity) {
    const Tables t(50);
    for (bool large : {false, true}) {
        JpegHeaderParams p;
        p.luma = t.luma;
        p.chroma = t.chroma;
        p.type = large ? 64 : 1;
        p.width = 320;
        p.height = 240;
        p.restartInterval = large ? 4 : 0;
        p.addSos = large;
        p.tableCount = large ? 2 : 1;
        const size_t size = JpegHeaderSize(p);
        EXPECT_EQ(size, large ? kJpegMaxHeaderSize : 540u);
        for (size_t capacity = 0; capacity <= size + 2; ++capacity) {
            SCOPED_TRACE(capacity);
            Frame f(capacity);
            f.frame.length = capacity / 2;  // whatever the frame held before
            const bool built = BuildJpegHeader(f.frame, p);
            EXPECT_EQ(built, capacity >= size);
            EXPECT_EQ(f.frame.length, built ? size : 0u);
            if (!built) {
                for (size_t i = 0; i < capacity; ++i)
                    ASSERT_EQ(f.storage[i], 0xA5) << i;
            } else {
                for (size_t i = size; i < capacity; ++i)
                    ASSERT_EQ(f.storage[i], 0xA5) << i;
            }
        }
    }
    FrameBuffer none;  // no buffer at all
    JpegHeaderParams p;
    EXPECT_FALSE(BuildJpegHeader(none, p));
}

struct EoiCase {
    const char* name;
    Bytes frame;
    bool appended;
};

Bytes WithTail(Bytes head, size_t fill) {
    for (size_t i = 0; i < fill; ++i)
        head.push_back(0x11);
    return head;
}

TEST(JpegEoi, AppendsUnlessTheLastMarkerInTheWindowIsEoi) {
    const std::vector<EoiCase> cases = {
        {"empty frame", {}, true},
        {"one byte FF", {0xFF}, true},
        {"one byte D9", {0xD9}, true},
        {"exactly FF D9", {0xFF, 0xD9}, false},
        {"ends with FF D9", {0x00, 0x12, 0xFF, 0xD9}, false},
        {"FF D9 then a byte", {0x12, 0xFF, 0xD9, 0x00}, false},
        {"FF D9 then FF", {0xFF, 0xD9, 0xFF}, false},
        {"stuffed FF 00 at the end", {0x12, 0xFF, 0x00}, true},
        {"EOI before a later FF 00", {0xFF, 0xD9, 0x12, 0xFF, 0x00}, true},
        {"restart marker last", {0x12, 0xFF, 0xD0, 0x34}, true},
        {"trailing FF alone", {0x12, 0x34, 0xFF}, true},
        {"no FF at all", {0x12, 0x34, 0x56, 0x78}, true},
        {"FF D9 at L-15 of 15", WithTail({0xFF, 0xD9}, 13), false},
        {"FF D9 at L-15 of 20", WithTail({0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xD9}, 13), false},
        {"FF D9 at L-16", WithTail({0xFF, 0xD9}, 14), true},
        {"FF D9 far before", WithTail({0xFF, 0xD9}, 40), true},
    };
    for (const EoiCase& c : cases) {
        SCOPED_TRACE(c.name);
        Frame f(c.frame.size() + 2);
        for (size_t i = 0; i < c.frame.size(); ++i)
            f.storage[i] = c.frame[i];
        f.frame.length = c.frame.size();
        AppendJpegEoi(f.frame);
        Bytes expected = c.frame;
        if (c.appended) {
            expected.push_back(0xFF);
            expected.push_back(0xD9);
        }
        EXPECT_EQ(f.Contents(), expected);
    }
}

TEST(JpegEoi, LeavesAFullOrInconsistentFrameAlone) {
    // No room for the two bytes: nothing is written (the buffer is exactly
    // the frame, so a write would trip ASan).
    for (size_t spare : {0u, 1u}) {
        Frame f(4 + spare);
        const Bytes data = {0x12, 0x34, 0x56, 0x78};
        for (size_t i = 0; i < 4; ++i)
            f.storage[i] = data[i];
        f.frame.length = 4;
        AppendJpegEoi(f.frame);
        EXPECT_EQ(f.frame.length, 4u);
        EXPECT_EQ(f.Contents(), data);
    }
    // A length beyond the capacity is not trusted.
    Frame f(4);
    f.frame.length = 40;
    AppendJpegEoi(f.frame);
    EXPECT_EQ(f.frame.length, 40u);
    FrameBuffer none;
    AppendJpegEoi(none);
    EXPECT_EQ(none.length, 0u);
}

}  // namespace
}  // namespace camvue
