// Test helpers for the RTP/JPEG depacketizer: RTP/JPEG payload builders, a
// stand-in for the frame assembler's per-packet steps, and a JPEG marker
// parser that is independent of the header writer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "npcamvue/rtp/jpeg_depacketizer.h"
#include "tests/support/fixture_files.h"

namespace camvue {
namespace jpegtest {

using Bytes = std::vector<uint8_t>;

// RFC 2435 3.1 main header.
struct MainHeader {
    uint8_t typeSpecific = 0;
    uint32_t fragmentOffset = 0;
    uint8_t type = 1;
    uint8_t q = 80;
    uint8_t width = 80;  // in 8-pixel blocks
    uint8_t height = 60;
};

void PutMainHeader(Bytes& out, const MainHeader& h);
// RFC 2435 3.1.7 restart marker header (F = L = 1, count 0x3FFF).
void PutRestartHeader(Bytes& out, uint16_t interval);
// RFC 2435 3.1.8 quantization table header.
void PutQuantHeader(Bytes& out, uint8_t mbz, uint8_t precision, uint16_t length);
void PutBytes(Bytes& out, const Bytes& bytes);
Bytes Filled(size_t count, uint8_t first, uint8_t step = 1);

// One parsed marker segment.
struct Segment {
    uint8_t marker = 0;
    size_t offset = 0;  // of the FF byte
    Bytes body;         // after the 2-byte length field
};

struct Component {
    uint8_t id = 0;
    uint8_t sampling = 0;
    uint8_t quantTable = 0;
};

struct ScanComponent {
    uint8_t id = 0;
    uint8_t tables = 0;  // Td << 4 | Ta
};

struct JpegFile {
    bool ok = false;
    std::string error;
    std::vector<Segment> segments;     // SOI and EOI have an empty body
    std::map<uint8_t, Bytes> quant;    // by Tq (64 entries, 8-bit only)
    std::map<uint8_t, Bytes> huffman;  // by Tc << 4 | Th: 16 counts then the values
    int width = 0;
    int height = 0;
    std::vector<Component> components;
    std::vector<ScanComponent> scan;
    Bytes scanHeader;  // body of the SOS segment
    int restartInterval = 0;
    Bytes entropy;  // bytes between the SOS segment and EOI
    bool endsWithEoi = false;
    std::vector<uint8_t> Markers() const;
};

// Parses SOI, marker segments up to SOS, the entropy-coded data up to EOI.
JpegFile ParseJpeg(const Bytes& file);

// What a decoder needs, per component: sampling, the quantization table
// contents and both Huffman tables; plus the size, restart interval and the
// entropy-coded data. Two files with the same description decode alike.
std::string DecodingDescription(const JpegFile& f);

// Calls the handler with an exact-size heap copy of the payload, so that a
// read past its end trips ASan.
HandlerResult CallHandler(JpegDepacketizer& handler, StreamState& stream, FrameBuffer& frame,
                          const Bytes& payload);

using test_support::ReadFileBytes;
using test_support::WriteFileBytes;

// Stand-in for the frame assembler's payload steps: calls the handler through
// CallHandler, appends
// the payload after the skip, and at a marker decides, ends and delivers the
// frame as the assembler does.
class Assembler {
  public:
    explicit Assembler(size_t capacity = 1 << 16);
    HandlerResult Push(const Bytes& payload, bool marker);
    // A sequence gap as the assembler handles it.
    void Gap();

    JpegDepacketizer handler;
    StreamState stream;
    FrameBuffer frame;
    std::vector<Bytes> delivered;
    size_t discarded = 0;

  private:
    std::unique_ptr<uint8_t[]> storage_;
};

}  // namespace jpegtest
}  // namespace camvue
