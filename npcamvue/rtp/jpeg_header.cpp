#include "npcamvue/rtp/jpeg_header.h"

#include "npcamvue/rtp/jpeg_tables.h"

namespace camvue {
namespace {

constexpr size_t kSoiApp0Size = 20;  // FF D8 and the 18-byte JFIF APP0 segment
constexpr size_t kDqtSize = 5 + kJpegQuantTableSize;
constexpr size_t kSof0Size = 19;
constexpr size_t kDriSize = 6;
constexpr size_t kSosSize = 14;

constexpr size_t DhtTotalSize() {
    size_t size = 0;
    for (const JpegHuffmanTable& table : kJpegHuffmanTables)
        size += 5 + 16 + table.valueCount;
    return size;
}
static_assert(DhtTotalSize() == 432, "four DHT segments of T.81 K.3");

bool HasLuma(const JpegHeaderParams& p) {
    return p.tableCount >= 1 && p.luma != nullptr;
}

bool HasChroma(const JpegHeaderParams& p) {
    return p.tableCount >= 2 && p.chroma != nullptr;
}

// Sequential writer over a span checked beforehand; it still never writes
// past its limit.
class Writer {
  public:
    Writer(uint8_t* out, size_t limit) : out_(out), limit_(limit) {}
    void Byte(uint8_t b) {
        if (pos_ < limit_)
            out_[pos_] = b;
        ++pos_;
    }
    void Word(uint32_t w) {
        Byte(static_cast<uint8_t>(w >> 8));
        Byte(static_cast<uint8_t>(w));
    }
    void Bytes(const uint8_t* bytes, size_t count) {
        for (size_t i = 0; i < count; ++i)
            Byte(bytes[i]);
    }
    void Component(uint8_t id, uint8_t sampling, uint8_t table) {
        Byte(id);
        Byte(sampling);
        Byte(table);
    }
    size_t size() const { return pos_; }

  private:
    uint8_t* out_;
    size_t limit_;
    size_t pos_ = 0;
};

void WriteDqt(Writer& w, uint8_t id, const uint8_t* table) {
    w.Word(0xFFDB);
    w.Word(3 + kJpegQuantTableSize);
    w.Byte(id);  // Pq 0 (8-bit entries), Tq id
    w.Bytes(table, kJpegQuantTableSize);
}

void WriteDht(Writer& w, const JpegHuffmanTable& table) {
    w.Word(0xFFC4);
    w.Word(static_cast<uint32_t>(3 + 16 + table.valueCount));
    w.Byte(table.classAndId);
    w.Bytes(table.counts, 16);
    w.Bytes(table.values, table.valueCount);
}

}  // namespace

size_t JpegHeaderSize(const JpegHeaderParams& p) {
    size_t size = kSoiApp0Size + kSof0Size + DhtTotalSize();
    if (HasLuma(p))
        size += kDqtSize;
    if (HasChroma(p))
        size += kDqtSize;
    if (p.restartInterval > 0)
        size += kDriSize;
    if (p.addSos)
        size += kSosSize;
    return size;
}

bool BuildJpegHeader(FrameBuffer& frame, const JpegHeaderParams& p) {
    const size_t size = JpegHeaderSize(p);
    if (frame.data == nullptr || size > frame.capacity) {
        frame.length = 0;
        return false;
    }
    Writer w(frame.data, size);

    static constexpr uint8_t kSoiApp0[kSoiApp0Size] = {
        0xFF, 0xD8,                    // SOI
        0xFF, 0xE0, 0x00, 0x10,        // APP0, 16 bytes
        0x4A, 0x46, 0x49, 0x46, 0x00,  // "JFIF"
        0x01, 0x01,                    // version 1.01
        0x00, 0x00, 0x01, 0x00, 0x01,  // no units, density 1:1
        0x00, 0x00,                    // no thumbnail
    };
    w.Bytes(kSoiApp0, sizeof kSoiApp0);

    if (HasLuma(p))
        WriteDqt(w, 0, p.luma);
    if (HasChroma(p))
        WriteDqt(w, 1, p.chroma);

    // SOF0: baseline, 8-bit samples, three components. RFC 2435 3.1.3: type 0
    // is 4:2:2 (luma 2x1), type 1 is 4:2:0 (luma 2x2); chroma is 1x1.
    const uint8_t lumaSampling = (p.type & ~0x40) == 0 ? 0x21 : 0x22;
    const uint8_t chromaTable = p.tableCount == 1 ? 0 : 1;
    w.Word(0xFFC0);
    w.Word(17);
    w.Byte(8);
    w.Word(static_cast<uint32_t>(p.height) & 0xFFFF);
    w.Word(static_cast<uint32_t>(p.width) & 0xFFFF);
    w.Byte(3);
    w.Component(1, lumaSampling, 0);
    w.Component(2, 0x11, chromaTable);
    w.Component(3, 0x11, chromaTable);

    for (const JpegHuffmanTable& table : kJpegHuffmanTables)
        WriteDht(w, table);

    if (p.restartInterval > 0) {
        w.Word(0xFFDD);
        w.Word(4);
        w.Word(p.restartInterval);
    }

    if (p.addSos) {
        static constexpr uint8_t kSos[kSosSize] = {
            0xFF, 0xDA, 0x00, 0x0C, 0x03,  // SOS, 12 bytes, three components
            0x01, 0x00,                    // Y: DC 0, AC 0
            0x02, 0x11,                    // Cb: DC 1, AC 1
            0x03, 0x11,                    // Cr: DC 1, AC 1
            0x00, 0x3F, 0x00,              // Ss 0, Se 63, Ah/Al 0
        };
        w.Bytes(kSos, sizeof kSos);
    }

    frame.length = w.size() < size ? w.size() : size;
    return true;
}

void AppendJpegEoi(FrameBuffer& frame) {
    const size_t length = frame.length;
    if (frame.data == nullptr || length > frame.capacity)
        return;
    // Look back from L-2 to L-15 (those that exist) for the last 0xFF; an
    // FF D9 there means the scan data already ended the image.
    if (length >= 2) {
        const size_t lowest = length >= 15 ? length - 15 : 0;
        for (size_t i = length - 2;; --i) {
            if (frame.data[i] == 0xFF) {
                if (frame.data[i + 1] == 0xD9)
                    return;
                break;
            }
            if (i == lowest)
                break;
        }
    }
    static constexpr uint8_t kEoi[2] = {0xFF, 0xD9};
    frame.Append(kEoi, sizeof kEoi);
}

}  // namespace camvue
