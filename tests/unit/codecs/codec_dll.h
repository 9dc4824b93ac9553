// The codec libraries seen as the plug-in sees them: loaded with LoadLibraryA
// from the build tree, entry points resolved by name with GetProcAddress, the
// decode block filled and read at the byte offsets of the contract (never
// through the libraries' own declarations). Also the fixtures of
// tests/fixtures/codecs and their expected pictures.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace camvue::codec_test {

using Bytes = std::vector<uint8_t>;

// --- fixtures -------------------------------------------------------------------

std::string FixtureDir();  // "<CAMVUE_SOURCE_DIR>/tests/fixtures/codecs/", or "" when unset
bool ReadFixture(const std::string& name, Bytes* out);

struct AccessUnit {
    size_t offset = 0;
    size_t size = 0;
    bool key = false;
};
struct ExpectedPicture {
    int width = 0;
    int height = 0;
    std::string md5;  // of the Y, U and V planes, in that order
};

// h264_units.tsv and h264_frames.tsv, by stream file name.
std::map<std::string, std::vector<AccessUnit>> ReadAccessUnits();
std::map<std::string, std::vector<ExpectedPicture>> ReadStreamPictures();

struct ExpectedFile {
    std::string file;
    ExpectedPicture picture;
};
std::vector<ExpectedFile> ReadJpegFiles();  // jpeg.tsv

// A stream and its access units, read from the fixtures.
struct Stream {
    std::string name;
    Bytes data;
    std::vector<AccessUnit> units;
    std::vector<ExpectedPicture> pictures;
    Bytes Unit(size_t index) const;
};
bool LoadStream(const std::string& name, Stream* out);

// A copy of some bytes that ends where readable memory ends: the next page is
// inaccessible, so reading one byte past the end faults.
class GuardedCopy {
  public:
    explicit GuardedCopy(const Bytes& bytes);
    ~GuardedCopy();
    GuardedCopy(const GuardedCopy&) = delete;
    GuardedCopy& operator=(const GuardedCopy&) = delete;
    const uint8_t* data() const { return data_; }
    size_t size() const { return size_; }

  private:
    void* base_ = nullptr;
    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
};

// --- pictures -------------------------------------------------------------------

// MD5 of a YV12 picture (Y, then V at W*H, then U at W*H + W*H/4, each chroma
// plane (W/2) x (H/2)) taken in the order Y, U, V, like the expected sums.
std::string Yv12Md5(const uint8_t* picture, int width, int height);
// The bytes of that layout: up to the end of the U plane.
size_t Yv12Bytes(int width, int height);

// --- the libraries --------------------------------------------------------------

// A build-tree path of a library as LoadLibraryA takes it (the Linux path
// through wine's Z: drive when the build tree is a Linux one).
std::string LibraryPath(const char* buildPath);

class Library {
  public:
    explicit Library(const char* buildPath);
    ~Library();
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
    bool loaded() const { return module_ != nullptr; }
    FARPROC Find(const char* name) const;

  private:
    HMODULE module_ = nullptr;
};

// The decode block of h264.dll, 48 bytes with 4-byte pointers, 56 with 8-byte
// ones; kept in a larger buffer whose tail must stay untouched.
struct BlockLayout {
    static constexpr size_t kPointer = sizeof(void*);
    static constexpr size_t kInput = 0;
    static constexpr size_t kInputLength = kPointer;
    static constexpr size_t kOutput = kPointer == 8 ? 16 : 12;
    static constexpr size_t kOutputLength = kPointer == 8 ? 24 : 16;
    static constexpr size_t kWidth = kPointer == 8 ? 32 : 24;
    static constexpr size_t kHeight = kPointer == 8 ? 36 : 28;
    static constexpr size_t kExtra = kPointer == 8 ? 40 : 32;
    static constexpr size_t kSize = kPointer == 8 ? 56 : 48;
};

struct DecodeResult {
    int consumed = 0;
    const uint8_t* output = nullptr;
    int outputLength = 0;
    int width = 0;
    int height = 0;
    int extra = 0;
    bool blockIntact = true;  // reserved words still 0 and nothing written past the block
    // The plug-in's rule: all input consumed and a picture handed out.
    bool ok = false;
};

class H264Library {
  public:
    using DllInit = int(__cdecl*)(int);
    using DecOpen = int(__cdecl*)(void**, int);
    using DecDecode = int(__cdecl*)(void*, void*);
    using DecClose = int(__cdecl*)(void*);

    H264Library();
    bool ready() const;
    const Library& library() const { return library_; }

    void* Open() const;  // null on failure
    void Close(void* decoder) const;
    // One dec_decode call through a zero-filled block, as the plug-in makes it.
    DecodeResult Decode(void* decoder, const uint8_t* data, int length) const;
    DecodeResult Decode(void* decoder, const Bytes& unit) const {
        return Decode(decoder, unit.data(), static_cast<int>(unit.size()));
    }
    // dec_decode with a null block.
    int DecodeWithoutBlock(void* decoder) const { return decDecode_(decoder, nullptr); }

  private:
    Library library_;
    DllInit dllInit_ = nullptr;
    DecOpen decOpen_ = nullptr;
    DecDecode decDecode_ = nullptr;
    DecClose decClose_ = nullptr;
};

// One H.264 decoder handle, closed at scope end.
class H264Decoder {
  public:
    explicit H264Decoder(const H264Library& library) : library_(library), handle_(library.Open()) {}
    ~H264Decoder() { library_.Close(handle_); }
    H264Decoder(const H264Decoder&) = delete;
    H264Decoder& operator=(const H264Decoder&) = delete;
    void* handle() const { return handle_; }
    DecodeResult Decode(const Bytes& unit) const { return library_.Decode(handle_, unit); }

  private:
    const H264Library& library_;
    void* handle_;
};

struct JpegResult {
    int first = -1;             // result of the call without output buffer
    int second = -1;            // result of the call with it (-1 when not made)
    BITMAPINFOHEADER format{};  // the header after the last call
    Bytes picture;              // the output buffer, sized as the plug-in sizes it
    bool guardIntact = true;    // nothing written past that size
    bool ok = false;            // both calls returned 0 and bytes were written
};

class PicdecLibrary {
  public:
    using AddRefFn = int(__cdecl*)(void**, int, int);
    using DeCodeBmpFn = int(__cdecl*)(void*, const unsigned char*, BITMAPINFOHEADER*,
                                      unsigned char*, int*);
    using ReleaseFn = int(__cdecl*)(void*);

    PicdecLibrary();
    bool ready() const;
    const Library& library() const { return library_; }

    void* Open() const;
    void Close(void* decoder) const;
    // The plug-in's two calls for one file: the header announces
    // (width, height) and the frame length; the second call gets a buffer of
    // biBitCount x biWidth x biHeight / 8 bytes from the header as the first
    // call left it.
    JpegResult Decode(void* decoder, const Bytes& file, int width, int height) const;
    int DeCodeBmp(void* decoder, const unsigned char* frame, BITMAPINFOHEADER* format,
                  unsigned char* out, int* extra) const {
        return deCodeBmp_(decoder, frame, format, out, extra);
    }

  private:
    Library library_;
    AddRefFn addRef_ = nullptr;
    DeCodeBmpFn deCodeBmp_ = nullptr;
    ReleaseFn release_ = nullptr;
};

class PicdecDecoder {
  public:
    explicit PicdecDecoder(const PicdecLibrary& library)
        : library_(library), handle_(library.Open()) {}
    ~PicdecDecoder() { library_.Close(handle_); }
    PicdecDecoder(const PicdecDecoder&) = delete;
    PicdecDecoder& operator=(const PicdecDecoder&) = delete;
    void* handle() const { return handle_; }
    JpegResult Decode(const Bytes& file, int width, int height) const {
        return library_.Decode(handle_, file, width, height);
    }

  private:
    const PicdecLibrary& library_;
    void* handle_;
};

BITMAPINFOHEADER AnnouncedFormat(int width, int height, size_t frameLength);

// Private bytes of this process, for leak checks.
size_t ProcessPrivateBytes();

}  // namespace camvue::codec_test
