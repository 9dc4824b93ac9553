#include "tests/unit/jpeg/jpeg_test_util.h"

#include <cstdio>

namespace camvue {
namespace jpegtest {

void PutMainHeader(Bytes& out, const MainHeader& h) {
    out.push_back(h.typeSpecific);
    out.push_back(static_cast<uint8_t>(h.fragmentOffset >> 16));
    out.push_back(static_cast<uint8_t>(h.fragmentOffset >> 8));
    out.push_back(static_cast<uint8_t>(h.fragmentOffset));
    out.push_back(h.type);
    out.push_back(h.q);
    out.push_back(h.width);
    out.push_back(h.height);
}

void PutRestartHeader(Bytes& out, uint16_t interval) {
    out.push_back(static_cast<uint8_t>(interval >> 8));
    out.push_back(static_cast<uint8_t>(interval));
    out.push_back(0xFF);
    out.push_back(0xFF);
}

void PutQuantHeader(Bytes& out, uint8_t mbz, uint8_t precision, uint16_t length) {
    out.push_back(mbz);
    out.push_back(precision);
    out.push_back(static_cast<uint8_t>(length >> 8));
    out.push_back(static_cast<uint8_t>(length));
}

void PutBytes(Bytes& out, const Bytes& bytes) {
    for (uint8_t b : bytes)
        out.push_back(b);
}

Bytes Filled(size_t count, uint8_t first, uint8_t step) {
    Bytes out(count);
    uint8_t v = first;
    for (size_t i = 0; i < count; ++i, v = static_cast<uint8_t>(v + step))
        out[i] = v;
    return out;
}

std::vector<uint8_t> JpegFile::Markers() const {
    std::vector<uint8_t> markers;
    for (const Segment& s : segments)
        markers.push_back(s.marker);
    return markers;
}

namespace {

JpegFile Fail(JpegFile f, const std::string& why) {
    f.ok = false;
    f.error = why;
    return f;
}

bool ReadTables(JpegFile& f, const Segment& s) {
    const Bytes& b = s.body;
    size_t i = 0;
    if (s.marker == 0xDB) {
        while (i < b.size()) {
            if ((b[i] >> 4) != 0 || i + 65 > b.size())
                return false;
            f.quant[b[i] & 0x0F] = Bytes(b.begin() + i + 1, b.begin() + i + 65);
            i += 65;
        }
        return true;
    }
    while (i < b.size()) {
        if (i + 17 > b.size())
            return false;
        size_t count = 0;
        for (size_t k = 0; k < 16; ++k)
            count += b[i + 1 + k];
        if (i + 17 + count > b.size())
            return false;
        f.huffman[b[i]] = Bytes(b.begin() + i + 1, b.begin() + i + 17 + count);
        i += 17 + count;
    }
    return true;
}

}  // namespace

JpegFile ParseJpeg(const Bytes& file) {
    JpegFile f;
    if (file.size() < 2 || file[0] != 0xFF || file[1] != 0xD8)
        return Fail(f, "no SOI");
    f.segments.push_back({0xD8, 0, {}});
    size_t i = 2;
    for (;;) {
        if (i + 4 > file.size())
            return Fail(f, "cut off before SOS");
        if (file[i] != 0xFF)
            return Fail(f, "no marker at " + std::to_string(i));
        // T.81 B.1.1.2: a marker may be preceded by fill bytes 0xFF.
        while (i + 4 < file.size() && file[i + 1] == 0xFF)
            ++i;
        Segment s;
        s.marker = file[i + 1];
        s.offset = i;
        const size_t length = static_cast<size_t>(file[i + 2]) << 8 | file[i + 3];
        if (length < 2 || i + 2 + length > file.size())
            return Fail(f, "segment length out of range at " + std::to_string(i));
        s.body.assign(file.begin() + i + 4, file.begin() + i + 2 + length);
        i += 2 + length;
        const Bytes& b = s.body;
        switch (s.marker) {
            case 0xDB:
            case 0xC4:
                if (!ReadTables(f, s))
                    return Fail(f, "bad table segment");
                break;
            case 0xC0:
                if (b.size() < 6 || b[0] != 8 || b.size() != 6u + 3u * b[5])
                    return Fail(f, "bad SOF0");
                f.height = b[1] << 8 | b[2];
                f.width = b[3] << 8 | b[4];
                for (size_t c = 0; c < b[5]; ++c)
                    f.components.push_back({b[6 + 3 * c], b[7 + 3 * c], b[8 + 3 * c]});
                break;
            case 0xDD:
                if (b.size() != 2)
                    return Fail(f, "bad DRI");
                f.restartInterval = b[0] << 8 | b[1];
                break;
            case 0xDA:
                if (b.empty() || b.size() != 4u + 2u * b[0])
                    return Fail(f, "bad SOS");
                for (size_t c = 0; c < b[0]; ++c)
                    f.scan.push_back({b[1 + 2 * c], b[2 + 2 * c]});
                f.scanHeader = b;
                break;
            default:
                break;
        }
        f.segments.push_back(s);
        if (s.marker == 0xDA)
            break;
    }
    // Entropy-coded data: up to an FF D9 (FF 00, fill bytes and restart markers
    // belong to it).
    const size_t start = i;
    while (i + 1 < file.size()) {
        if (file[i] == 0xFF && file[i + 1] == 0xD9)
            break;
        if (file[i] == 0xFF && file[i + 1] != 0x00 && file[i + 1] != 0xFF &&
            (file[i + 1] < 0xD0 || file[i + 1] > 0xD7))
            return Fail(f, "marker in scan data at " + std::to_string(i));
        ++i;
    }
    if (i + 1 >= file.size())
        return Fail(f, "no EOI");
    f.entropy.assign(file.begin() + start, file.begin() + i);
    f.segments.push_back({0xD9, i, {}});
    f.endsWithEoi = i + 2 == file.size();
    f.ok = true;
    return f;
}

std::string DecodingDescription(const JpegFile& f) {
    std::string out;
    auto hex = [&out](const Bytes& bytes) {
        char buffer[4];
        for (uint8_t b : bytes) {
            std::snprintf(buffer, sizeof buffer, "%02x", b);
            out += buffer;
        }
        out += '\n';
    };
    out += "size " + std::to_string(f.width) + "x" + std::to_string(f.height) + " restart " +
           std::to_string(f.restartInterval) + "\n";
    for (const Component& c : f.components) {
        out += "component " + std::to_string(c.id) + " sampling " + std::to_string(c.sampling) +
               "\n quant ";
        auto q = f.quant.find(c.quantTable);
        hex(q == f.quant.end() ? Bytes() : q->second);
        for (const ScanComponent& s : f.scan) {
            if (s.id != c.id)
                continue;
            auto dc = f.huffman.find(static_cast<uint8_t>(s.tables >> 4));
            auto ac = f.huffman.find(static_cast<uint8_t>(0x10 | (s.tables & 0x0F)));
            out += " dc ";
            hex(dc == f.huffman.end() ? Bytes() : dc->second);
            out += " ac ";
            hex(ac == f.huffman.end() ? Bytes() : ac->second);
        }
    }
    out += "scan ";
    hex(Bytes(f.scanHeader.begin() + (f.scanHeader.empty() ? 0 : 1 + 2 * f.scanHeader[0]),
              f.scanHeader.end()));
    out += "entropy ";
    hex(f.entropy);
    return out;
}

HandlerResult CallHandler(JpegDepacketizer& handler, StreamState& stream, FrameBuffer& frame,
                          const Bytes& payload) {
    std::unique_ptr<uint8_t[]> exact(new uint8_t[payload.size()]);
    for (size_t i = 0; i < payload.size(); ++i)
        exact[i] = payload[i];
    return handler.OnPacket(stream, frame, exact.get(), payload.size());
}

Assembler::Assembler(size_t capacity) : storage_(new uint8_t[capacity]) {
    frame.data = storage_.get();
    frame.capacity = capacity;
}

HandlerResult Assembler::Push(const Bytes& payload, bool marker) {
    frame.payloadSkip = 0;
    const HandlerResult result = CallHandler(handler, stream, frame, payload);
    if (result != HandlerResult::kGoOn)
        return result;
    if (frame.payloadSkip >= payload.size())
        return HandlerResult::kEnd;  // nothing left to append
    const size_t count = payload.size() - frame.payloadSkip;
    if (frame.length > frame.capacity ||
        count + handler.TrailerRoom() > frame.capacity - frame.length)
        return HandlerResult::kEnd;
    frame.Append(payload.data() + frame.payloadSkip, count);
    if (!marker)
        return result;
    handler.OnFrameEnd(stream, frame);
    frame.loss = false;
    if (!frame.key && !frame.started) {
        ++discarded;
    } else {
        if (frame.key)
            frame.started = true;
        handler.AppendTrailer(frame);
        delivered.emplace_back(frame.data, frame.data + frame.length);
    }
    frame.key = false;
    frame.length = 0;
    frame.content = false;
    return result;
}

void Assembler::Gap() {
    frame.loss = true;
    frame.key = false;
    frame.started = false;
    frame.length = 0;
}

}  // namespace jpegtest
}  // namespace camvue
