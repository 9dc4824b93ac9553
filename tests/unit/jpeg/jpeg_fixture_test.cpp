// The depacketizer over pictures from real encoders (tests/fixtures/jpeg,
// see generate.sh there): RTP packets from GStreamer's RFC 2435 payloader, and
// ffmpeg's JPEG files cut into payloads here. The rebuilt file must carry
// everything a decoder uses exactly as the encoder wrote it. With
// CAMVUE_JPEG_DUMP set to a folder, the rebuilt files are written there for
// decode_check.sh, which decodes them with ffmpeg and compares the pictures.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "npcamvue/rtp/jpeg_tables.h"
#include "tests/unit/jpeg/jpeg_test_util.h"

namespace camvue {
namespace {

using jpegtest::Assembler;
using jpegtest::Bytes;
using jpegtest::DecodingDescription;
using jpegtest::JpegFile;
using jpegtest::MainHeader;
using jpegtest::ParseJpeg;
using jpegtest::PutBytes;
using jpegtest::PutMainHeader;
using jpegtest::PutQuantHeader;

struct Fixture {
    std::string name;
    std::string jpeg;
    std::string packets;  // "-" when there are none
    int width = 0;
    int height = 0;
    int quality = 0;  // jpegenc's setting, 0 when not a libjpeg file
};

std::string FixtureDir() {
    const char* root = std::getenv("CAMVUE_SOURCE_DIR");
    if (root == nullptr || *root == '\0')
        return std::string();
    return std::string(root) + "/tests/fixtures/jpeg/";
}

std::vector<std::string> SplitTabs(const std::string& line) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        const size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab - start));
        if (tab == std::string::npos)
            return fields;
        start = tab + 1;
    }
}

std::vector<Fixture> ReadManifest(const std::string& dir) {
    Bytes text;
    std::vector<Fixture> fixtures;
    if (!jpegtest::ReadFileBytes(dir + "manifest.tsv", &text))
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
        const std::vector<std::string> f = SplitTabs(line);
        if (!line.empty() && line[0] != '#' && f.size() >= 7) {
            fixtures.push_back({f[0], f[1], f[2], std::atoi(f[3].c_str()), std::atoi(f[4].c_str()),
                                std::atoi(f[6].c_str())});
        }
        line.clear();
    }
    return fixtures;
}

void Dump(const std::string& name, const Bytes& file) {
    const char* dir = std::getenv("CAMVUE_JPEG_DUMP");
    if (dir == nullptr || *dir == '\0')
        return;
    EXPECT_TRUE(jpegtest::WriteFileBytes(std::string(dir) + "/" + name + ".jpg", file)) << name;
}

class RealEncoders : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = FixtureDir();
        ASSERT_FALSE(dir_.empty()) << "CAMVUE_SOURCE_DIR is not set";
        fixtures_ = ReadManifest(dir_);
        ASSERT_GE(fixtures_.size(), 4u) << "manifest missing or short in " << dir_;
    }
    Bytes Contents(const std::string& file) {
        Bytes bytes;
        EXPECT_TRUE(jpegtest::ReadFileBytes(dir_ + file, &bytes)) << file;
        EXPECT_FALSE(bytes.empty()) << file;
        return bytes;
    }
    std::string dir_;
    std::vector<Fixture> fixtures_;
};

struct RtpPacket {
    bool marker = false;
    Bytes payload;  // after the header, without padding
};

// RFC 4571 framing: a 16-bit length before each RTP packet.
std::vector<RtpPacket> SplitPackets(const Bytes& stream) {
    std::vector<RtpPacket> packets;
    size_t i = 0;
    while (i + 2 <= stream.size()) {
        const size_t n = static_cast<size_t>(stream[i]) << 8 | stream[i + 1];
        i += 2;
        if (n < 12 || i + n > stream.size())
            break;
        const uint8_t* p = stream.data() + i;
        size_t header = 12 + 4 * (p[0] & 0x0F);
        if ((p[0] & 0x10) != 0 && header + 4 <= n)
            header += 4 + 4 * (static_cast<size_t>(p[header + 2]) << 8 | p[header + 3]);
        const size_t padding = (p[0] & 0x20) != 0 ? p[n - 1] : 0;
        RtpPacket packet;
        packet.marker = (p[1] & 0x80) != 0;
        if (header + padding <= n)
            packet.payload.assign(p + header, p + n - padding);
        packets.push_back(packet);
        i += n;
    }
    return packets;
}

// RTP packets of GStreamer's payloader: one frame, rebuilt with the same
// tables, sampling, Huffman tables and entropy-coded data as the JPEG file
// it was cut from.
TEST_F(RealEncoders, GstreamerPacketsRebuildTheEncodedFile) {
    int cases = 0;
    for (const Fixture& f : fixtures_) {
        if (f.packets == "-")
            continue;
        SCOPED_TRACE(f.name);
        ++cases;
        const JpegFile original = ParseJpeg(Contents(f.jpeg));
        ASSERT_TRUE(original.ok) << original.error;
        const std::vector<RtpPacket> packets = SplitPackets(Contents(f.packets));
        ASSERT_GE(packets.size(), 3u) << "expected a frame in several fragments";
        Assembler a;
        for (const RtpPacket& p : packets)
            ASSERT_EQ(a.Push(p.payload, p.marker), HandlerResult::kGoOn);
        ASSERT_EQ(a.delivered.size(), 1u);
        EXPECT_EQ(a.stream.picture.width, f.width);
        EXPECT_EQ(a.stream.picture.height, f.height);
        const JpegFile rebuilt = ParseJpeg(a.delivered[0]);
        ASSERT_TRUE(rebuilt.ok) << rebuilt.error;
        // GStreamer's last payload ends with FF D9: the file ends at that
        // first EOI, no second one is appended.
        EXPECT_TRUE(rebuilt.endsWithEoi);
        EXPECT_EQ(packets.back().payload.back(), 0xD9);
        EXPECT_EQ(DecodingDescription(rebuilt), DecodingDescription(original));
        Dump(f.name + ".rtp", a.delivered[0]);
    }
    EXPECT_EQ(cases, 2);
}

// Cuts a JPEG file into RTP/JPEG payloads (RFC 2435 3.1): main header,
// quantization table header with the file's tables on the first fragment,
// then the scan data in pieces of `piece` bytes.
struct Packetizing {
    const char* name;
    bool duplicateChroma;  // send Length 128 with the one table twice
    bool keepSos;          // scan data begins with the file's SOS segment
    bool keepEoi;          // scan data ends with the file's FF D9
    size_t piece;
};

std::vector<Bytes> Packetize(const JpegFile& file, const Bytes& bytes, const Packetizing& how) {
    Bytes scan;
    if (how.keepSos) {
        for (const jpegtest::Segment& s : file.segments) {
            if (s.marker == 0xDA) {
                scan.assign(
                    bytes.begin() + static_cast<std::ptrdiff_t>(s.offset),
                    bytes.begin() + static_cast<std::ptrdiff_t>(s.offset + 4 + s.body.size()));
            }
        }
    }
    PutBytes(scan, file.entropy);
    if (how.keepEoi) {
        scan.push_back(0xFF);
        scan.push_back(0xD9);
    }
    Bytes tables = file.quant.at(0);
    if (file.quant.count(1) != 0)
        PutBytes(tables, file.quant.at(1));
    else if (how.duplicateChroma)
        PutBytes(tables, file.quant.at(0));

    std::vector<Bytes> payloads;
    for (size_t offset = 0; offset < scan.size(); offset += how.piece) {
        MainHeader h;
        h.fragmentOffset = static_cast<uint32_t>(offset);
        h.type = file.components[0].sampling == 0x21 ? 0 : 1;
        h.q = 255;
        h.width = static_cast<uint8_t>(file.width == 2048 ? 0 : file.width / 8);
        h.height = static_cast<uint8_t>(file.height == 2048 ? 0 : file.height / 8);
        Bytes p;
        PutMainHeader(p, h);
        if (offset == 0) {
            PutQuantHeader(p, 0, 0, static_cast<uint16_t>(tables.size()));
            PutBytes(p, tables);
        }
        const size_t end = offset + how.piece < scan.size() ? offset + how.piece : scan.size();
        p.insert(p.end(), scan.begin() + static_cast<std::ptrdiff_t>(offset),
                 scan.begin() + static_cast<std::ptrdiff_t>(end));
        payloads.push_back(p);
    }
    return payloads;
}

TEST_F(RealEncoders, FfmpegFilesCutIntoPayloads) {
    const Packetizing ways[] = {
        {"table64", false, false, true, 100},
        {"table128", true, false, false, 64},
        {"ownsos", false, true, true, 333},
    };
    int cases = 0;
    for (const Fixture& f : fixtures_) {
        if (f.packets != "-")
            continue;
        const Bytes bytes = Contents(f.jpeg);
        const JpegFile original = ParseJpeg(bytes);
        ASSERT_TRUE(original.ok) << original.error;
        ASSERT_EQ(original.components.size(), 3u);
        ASSERT_EQ(original.width % 8, 0);
        ASSERT_EQ(original.height % 8, 0);
        for (const Packetizing& how : ways) {
            SCOPED_TRACE(f.name + " " + how.name);
            ++cases;
            const std::vector<Bytes> payloads = Packetize(original, bytes, how);
            ASSERT_GE(payloads.size(), 2u);
            Assembler a;
            for (size_t i = 0; i < payloads.size(); ++i)
                ASSERT_EQ(a.Push(payloads[i], i + 1 == payloads.size()), HandlerResult::kGoOn);
            ASSERT_EQ(a.delivered.size(), 1u);
            EXPECT_EQ(a.stream.picture.width, f.width);
            EXPECT_EQ(a.stream.picture.height, f.height);
            const JpegFile rebuilt = ParseJpeg(a.delivered[0]);
            ASSERT_TRUE(rebuilt.ok) << rebuilt.error;
            EXPECT_TRUE(rebuilt.endsWithEoi);
            EXPECT_EQ(rebuilt.quant.size(), how.duplicateChroma ? 2u : 1u);
            EXPECT_EQ(DecodingDescription(rebuilt), DecodingDescription(original));
            Dump(f.name + "." + how.name, a.delivered[0]);
        }
    }
    EXPECT_EQ(cases, 6);
}

// GStreamer's jpegenc (libjpeg) writes T.81 K.1/K.2 scaled by the same rule
// as RFC 2435 4.2, in zig-zag order: our base tables and scaling must give
// the same tables (quality 50: the base tables themselves).
TEST_F(RealEncoders, LibjpegTablesMatchOurScaling) {
    static constexpr uint8_t kNaturalOrder[64] = {
        0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
        41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
        30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63,
    };
    std::vector<int> qualities;
    for (const Fixture& f : fixtures_) {
        if (f.quality == 0)
            continue;
        SCOPED_TRACE(f.name);
        qualities.push_back(f.quality);
        uint8_t luma[64];
        uint8_t chroma[64];
        ScaleQuantTables(f.quality, luma, chroma);
        const JpegFile file = ParseJpeg(Contents(f.jpeg));
        ASSERT_TRUE(file.ok) << file.error;
        ASSERT_EQ(file.quant.size(), 2u);
        for (size_t k = 0; k < 64; ++k) {
            EXPECT_EQ(file.quant.at(0)[k], luma[kNaturalOrder[k]]) << k;
            EXPECT_EQ(file.quant.at(1)[k], chroma[kNaturalOrder[k]]) << k;
        }
    }
    EXPECT_EQ(qualities, (std::vector<int>{50, 80}));
}

}  // namespace
}  // namespace camvue
