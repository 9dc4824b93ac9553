#include "tests/unit/codecs/codec_dll.h"

#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "npcamvue/rtsp/md5.h"
#include "tests/support/fixture_files.h"

namespace camvue::codec_test {
namespace {

constexpr uint8_t kGuardByte = 0xA5;
constexpr size_t kGuardBytes = 64;
constexpr DWORD kFourccYv12 = 0x32315659;

// Tab-separated lines of a fixture table, '#' lines are comments.
std::vector<std::vector<std::string>> ReadTable(const std::string& name) {
    const std::string dir = FixtureDir();
    return dir.empty() ? std::vector<std::vector<std::string>>()
                       : test_support::ReadTsv(dir + name);
}

int32_t Load32(const uint8_t* p) {
    int32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

}  // namespace

std::string FixtureDir() {
    return test_support::FixtureDir("codecs");
}

bool ReadFixture(const std::string& name, Bytes* out) {
    const std::string dir = FixtureDir();
    return !dir.empty() && test_support::ReadFileBytes(dir + name, out);
}

std::map<std::string, std::vector<AccessUnit>> ReadAccessUnits() {
    std::map<std::string, std::vector<AccessUnit>> units;
    for (const auto& row : ReadTable("h264_units.tsv")) {
        if (row.size() < 5)
            continue;
        AccessUnit unit;
        unit.offset = std::strtoul(row[2].c_str(), nullptr, 10);
        unit.size = std::strtoul(row[3].c_str(), nullptr, 10);
        unit.key = row[4] == "1";
        units[row[0]].push_back(unit);
    }
    return units;
}

std::map<std::string, std::vector<ExpectedPicture>> ReadStreamPictures() {
    std::map<std::string, std::vector<ExpectedPicture>> pictures;
    for (const auto& row : ReadTable("h264_frames.tsv")) {
        if (row.size() < 5)
            continue;
        pictures[row[0]].push_back(
            ExpectedPicture{std::atoi(row[2].c_str()), std::atoi(row[3].c_str()), row[4]});
    }
    return pictures;
}

std::vector<ExpectedFile> ReadJpegFiles() {
    std::vector<ExpectedFile> files;
    for (const auto& row : ReadTable("jpeg.tsv")) {
        if (row.size() < 4)
            continue;
        files.push_back(ExpectedFile{
            row[0], ExpectedPicture{std::atoi(row[1].c_str()), std::atoi(row[2].c_str()), row[3]}});
    }
    return files;
}

Bytes Stream::Unit(size_t index) const {
    const AccessUnit& unit = units.at(index);
    return Bytes(data.begin() + static_cast<std::ptrdiff_t>(unit.offset),
                 data.begin() + static_cast<std::ptrdiff_t>(unit.offset + unit.size));
}

bool LoadStream(const std::string& name, Stream* out) {
    out->name = name;
    if (!ReadFixture(name, &out->data))
        return false;
    out->units = ReadAccessUnits()[name];
    out->pictures = ReadStreamPictures()[name];
    size_t end = 0;
    for (const AccessUnit& unit : out->units) {
        if (unit.offset != end || unit.size == 0)
            return false;
        end += unit.size;
    }
    return !out->units.empty() && end == out->data.size();
}

GuardedCopy::GuardedCopy(const Bytes& bytes) : size_(bytes.size()) {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    const size_t page = info.dwPageSize;
    const size_t readable = (bytes.size() + page - 1) / page * page;
    base_ = VirtualAlloc(nullptr, readable + page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (base_ == nullptr)
        return;
    DWORD old = 0;
    uint8_t* start = static_cast<uint8_t*>(base_);
    if (!VirtualProtect(start + readable, page, PAGE_NOACCESS, &old))
        return;
    uint8_t* copy = start + readable - bytes.size();
    std::memcpy(copy, bytes.data(), bytes.size());
    data_ = copy;
}

GuardedCopy::~GuardedCopy() {
    if (base_ != nullptr)
        VirtualFree(base_, 0, MEM_RELEASE);
}

size_t Yv12Bytes(int width, int height) {
    const size_t luma = static_cast<size_t>(width) * static_cast<size_t>(height);
    return luma + luma / 4 + static_cast<size_t>(width / 2) * static_cast<size_t>(height / 2);
}

std::string Yv12Md5(const uint8_t* picture, int width, int height) {
    const size_t luma = static_cast<size_t>(width) * static_cast<size_t>(height);
    const size_t chroma = static_cast<size_t>(width / 2) * static_cast<size_t>(height / 2);
    Md5Context ctx;
    Md5Init(&ctx);
    Md5Update(&ctx, picture, luma);
    Md5Update(&ctx, picture + luma + luma / 4, chroma);  // U
    Md5Update(&ctx, picture + luma, chroma);             // V
    uint8_t digest[16];
    Md5Final(&ctx, digest);
    char hex[kMd5HexSize];
    Md5ToHex(digest, hex);
    return hex;
}

std::string LibraryPath(const char* buildPath) {
    std::string path = buildPath;
    if (!path.empty() && path[0] == '/') {
        path = "Z:" + path;
        for (char& c : path) {
            if (c == '/')
                c = '\\';
        }
    }
    return path;
}

Library::Library(const char* buildPath) {
    module_ = LoadLibraryA(LibraryPath(buildPath).c_str());
}

Library::~Library() {
    if (module_ != nullptr)
        FreeLibrary(module_);
}

FARPROC Library::Find(const char* name) const {
    return module_ == nullptr ? nullptr : GetProcAddress(module_, name);
}

// Casts between function pointer types go through a FARPROC, as a host does.
template <typename T>
T Entry(const Library& library, const char* name) {
    FARPROC proc = library.Find(name);
    T fn = nullptr;
    static_assert(sizeof fn == sizeof proc, "function pointer sizes");
    std::memcpy(&fn, &proc, sizeof fn);
    return fn;
}

H264Library::H264Library() : library_(CAMVUE_H264_DLL) {
    dllInit_ = Entry<DllInit>(library_, "dll_init");
    decOpen_ = Entry<DecOpen>(library_, "dec_open");
    decDecode_ = Entry<DecDecode>(library_, "dec_decode");
    decClose_ = Entry<DecClose>(library_, "dec_close");
    if (dllInit_ != nullptr)
        dllInit_(0);
}

bool H264Library::ready() const {
    return decOpen_ != nullptr && decDecode_ != nullptr && decClose_ != nullptr;
}

void* H264Library::Open() const {
    void* handle = nullptr;
    if (decOpen_ == nullptr || decOpen_(&handle, 0) != 0)
        return nullptr;
    return handle;
}

void H264Library::Close(void* decoder) const {
    if (decoder != nullptr && decClose_ != nullptr)
        decClose_(decoder);
}

DecodeResult H264Library::Decode(void* decoder, const uint8_t* data, int length) const {
    using L = BlockLayout;
    DecodeResult result;
    uint8_t block[L::kSize + kGuardBytes];
    std::memset(block, 0, L::kSize);
    std::memset(block + L::kSize, kGuardByte, kGuardBytes);
    std::memcpy(block + L::kInput, &data, sizeof data);
    std::memcpy(block + L::kInputLength, &length, sizeof length);

    result.consumed = decDecode_(decoder, block);

    std::memcpy(&result.output, block + L::kOutput, sizeof result.output);
    result.outputLength = Load32(block + L::kOutputLength);
    result.width = Load32(block + L::kWidth);
    result.height = Load32(block + L::kHeight);
    result.extra = Load32(block + L::kExtra);
    // Every other byte of the block is reserved: still zero, and untouched
    // input fields; nothing past the block.
    uint8_t expected[L::kSize];
    std::memset(expected, 0, sizeof expected);
    std::memcpy(expected + L::kInput, &data, sizeof data);
    std::memcpy(expected + L::kInputLength, &length, sizeof length);
    std::memcpy(expected + L::kOutput, block + L::kOutput, sizeof(void*));
    for (size_t field : {L::kOutputLength, L::kWidth, L::kHeight, L::kExtra})
        std::memcpy(expected + field, block + field, 4);
    result.blockIntact = std::memcmp(block, expected, L::kSize) == 0;
    for (size_t i = 0; i < kGuardBytes; ++i)
        result.blockIntact = result.blockIntact && block[L::kSize + i] == kGuardByte;
    result.ok = result.consumed == length && result.output != nullptr;
    return result;
}

PicdecLibrary::PicdecLibrary() : library_(CAMVUE_PICDEC_DLL) {
    addRef_ = Entry<AddRefFn>(library_, "AddRef");
    deCodeBmp_ = Entry<DeCodeBmpFn>(library_, "DeCodeBmp");
    release_ = Entry<ReleaseFn>(library_, "Release");
}

bool PicdecLibrary::ready() const {
    return addRef_ != nullptr && deCodeBmp_ != nullptr && release_ != nullptr;
}

void* PicdecLibrary::Open() const {
    void* handle = nullptr;
    if (addRef_ == nullptr)
        return nullptr;
    addRef_(&handle, 0, 0);
    return handle;
}

void PicdecLibrary::Close(void* decoder) const {
    if (decoder != nullptr && release_ != nullptr)
        release_(decoder);
}

BITMAPINFOHEADER AnnouncedFormat(int width, int height, size_t frameLength) {
    BITMAPINFOHEADER format{};
    format.biSize = sizeof(BITMAPINFOHEADER);
    format.biWidth = width;
    format.biHeight = height;
    format.biCompression = kFourccYv12;
    format.biSizeImage = static_cast<DWORD>(frameLength);
    return format;
}

JpegResult PicdecLibrary::Decode(void* decoder, const Bytes& file, int width, int height) const {
    JpegResult result;
    BITMAPINFOHEADER format = AnnouncedFormat(width, height, file.size());
    int extra = -1;
    result.first = deCodeBmp_(decoder, file.data(), &format, nullptr, &extra);
    result.format = format;
    if (result.first != 0)
        return result;
    const long long bits =
        static_cast<long long>(format.biBitCount) * format.biHeight * format.biWidth;
    if (bits <= 7)
        return result;
    const size_t bytes = static_cast<size_t>(bits / 8);
    result.picture.assign(bytes + kGuardBytes, kGuardByte);
    format.biSizeImage = static_cast<DWORD>(file.size());
    result.second = deCodeBmp_(decoder, file.data(), &format, result.picture.data(), &extra);
    result.format = format;
    for (size_t i = bytes; i < result.picture.size(); ++i)
        result.guardIntact = result.guardIntact && result.picture[i] == kGuardByte;
    result.picture.resize(bytes);
    result.ok = result.second == 0 && format.biSizeImage > 0 && format.biSizeImage <= bytes;
    return result;
}

size_t ProcessPrivateBytes() {
    // PagefileUsage is the commit charge (on Windows the same as
    // PrivateUsage, which wine leaves 0; wine counts the touched pages).
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    if (!GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters))
        return 0;
    return counters.PagefileUsage;
}

}  // namespace camvue::codec_test
