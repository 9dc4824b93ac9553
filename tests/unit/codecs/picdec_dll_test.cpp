// picdec.dll through its exported contract, driven as the plug-in drives it:
// JPEG files from ffmpeg's encoder and from libjpeg-turbo decoded with the
// two-call BITMAPINFOHEADER protocol and compared with Debian ffmpeg's decode
// of the same files, converted to video range (tests/fixtures/codecs).
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/unit/codecs/codec_dll.h"

namespace camvue::codec_test {
namespace {

constexpr DWORD kFourccYv12 = 0x32315659;

class PicdecDll : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { library_ = new PicdecLibrary; }
    static void TearDownTestSuite() {
        delete library_;
        library_ = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(library_->library().loaded()) << LibraryPath(CAMVUE_PICDEC_DLL);
        ASSERT_TRUE(library_->ready());
        ASSERT_FALSE(FixtureDir().empty()) << "CAMVUE_SOURCE_DIR is not set";
        files_ = ReadJpegFiles();
        ASSERT_GE(files_.size(), 10u);
    }
    static const PicdecLibrary& library() { return *library_; }

    const ExpectedFile& File(const std::string& name) const {
        for (const ExpectedFile& f : files_) {
            if (f.file == name)
                return f;
        }
        ADD_FAILURE() << name << " not in jpeg.tsv";
        return files_.front();
    }
    static Bytes Contents(const ExpectedFile& f) {
        Bytes bytes;
        EXPECT_TRUE(ReadFixture(f.file, &bytes)) << f.file;
        return bytes;
    }

    std::vector<ExpectedFile> files_;

  private:
    static PicdecLibrary* library_;
};

PicdecLibrary* PicdecDll::library_ = nullptr;

void ExpectPicture(const JpegResult& r, const ExpectedPicture& e, const std::string& what) {
    ASSERT_EQ(r.first, 0) << what;
    ASSERT_EQ(r.second, 0) << what;
    ASSERT_TRUE(r.ok) << what;
    EXPECT_TRUE(r.guardIntact) << what << ": wrote past the buffer the header sized";
    EXPECT_EQ(r.format.biWidth, e.width) << what;
    EXPECT_EQ(r.format.biHeight, e.height) << what;
    EXPECT_EQ(r.format.biBitCount, 12) << what;
    EXPECT_EQ(r.format.biCompression, kFourccYv12) << what;
    EXPECT_EQ(r.format.biSizeImage, Yv12Bytes(e.width, e.height)) << what;
    if (r.format.biWidth == e.width && r.format.biHeight == e.height) {
        EXPECT_EQ(Yv12Md5(r.picture.data(), e.width, e.height), e.md5) << what;
    }
}

JpegResult DecodeOnce(const PicdecLibrary& library, const Bytes& file, const ExpectedFile& f) {
    PicdecDecoder decoder(library);
    return decoder.Decode(file, f.picture.width, f.picture.height);
}

TEST_F(PicdecDll, ExportsMakeItAJpegStyleLibrary) {
    for (const char* name : {"AddRef", "DeCodeBmp", "Release"})
        EXPECT_NE(library().library().Find(name), nullptr) << name;
    for (const char* name : {"dec_open", "dec_decode", "dec_close"})
        EXPECT_EQ(library().library().Find(name), nullptr) << name;
}

// Every fixture (4:2:0, 4:2:2 and 4:4:4 sampling, odd sizes, restart markers,
// progressive, gray, video-range marked) gives ffmpeg's picture, bit-exact.
TEST_F(PicdecDll, FilesDecodeToFfmpegsPicture) {
    for (const ExpectedFile& f : files_)
        ExpectPicture(DecodeOnce(library(), Contents(f), f), f.picture, f.file);
}

// The plug-in announces the RTP payload's size; the file's own size wins and
// the header tells the caller how much room it needs.
TEST_F(PicdecDll, FilesOwnSizeWinsOverTheAnnouncedOne) {
    const ExpectedFile& f = File("j420_160x120.jpg");
    const Bytes file = Contents(f);
    PicdecDecoder decoder(library());
    ExpectPicture(decoder.Decode(file, 16, 16), f.picture, "announced 16x16");
    ExpectPicture(decoder.Decode(file, 640, 480), f.picture, "announced 640x480");
}

// Range: DirectDraw reads YV12 as video range, so full-range JPEG samples come
// out scaled into 16..235 (luma) and 16..240 (chroma), reaching both ends for
// a picture with black and white in it; video-range files keep their samples
// (their expected sums are ffmpeg's unconverted decode).
TEST_F(PicdecDll, FullRangeSamplesBecomeVideoRange) {
    const ExpectedFile& f = File("j420_96x64.jpg");
    const JpegResult r = DecodeOnce(library(), Contents(f), f);
    ASSERT_TRUE(r.ok);
    const size_t luma =
        static_cast<size_t>(f.picture.width) * static_cast<size_t>(f.picture.height);
    const auto [lumaMin, lumaMax] = std::minmax_element(
        r.picture.begin(), r.picture.begin() + static_cast<std::ptrdiff_t>(luma));
    EXPECT_EQ(*lumaMin, 16);
    EXPECT_EQ(*lumaMax, 235);
    const auto [chromaMin, chromaMax] =
        std::minmax_element(r.picture.begin() + static_cast<std::ptrdiff_t>(luma), r.picture.end());
    EXPECT_GE(*chromaMin, 16);
    EXPECT_LE(*chromaMax, 240);
}

// A second call whose header describes a smaller buffer than the picture
// needs is refused without writing.
TEST_F(PicdecDll, TooSmallOutputIsRefused) {
    const ExpectedFile& f = File("j422_96x64.jpg");
    const Bytes file = Contents(f);
    PicdecDecoder decoder(library());
    BITMAPINFOHEADER format = AnnouncedFormat(96, 64, file.size());
    ASSERT_EQ(library().DeCodeBmp(decoder.handle(), file.data(), &format, nullptr, nullptr), 0);
    ASSERT_EQ(format.biBitCount, 12);
    Bytes out(Yv12Bytes(96, 64), 0xA5);
    for (auto [w, h] : {std::pair{48, 64}, std::pair{96, 32}, std::pair{0, 0}}) {
        BITMAPINFOHEADER shrunk = format;
        shrunk.biWidth = w;
        shrunk.biHeight = h;
        shrunk.biSizeImage = static_cast<DWORD>(file.size());
        EXPECT_NE(library().DeCodeBmp(decoder.handle(), file.data(), &shrunk, out.data(), nullptr),
                  0)
            << w << "x" << h;
        EXPECT_EQ(shrunk.biSizeImage, 0u);
        EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](uint8_t b) { return b == 0xA5; }))
            << w << "x" << h << ": wrote into a buffer too small";
    }
    format.biSizeImage = static_cast<DWORD>(file.size());
    ASSERT_EQ(library().DeCodeBmp(decoder.handle(), file.data(), &format, out.data(), nullptr), 0);
    EXPECT_EQ(Yv12Md5(out.data(), 96, 64), f.picture.md5);
}

// One decoder through every file, twice: sizes and samplings change from file
// to file, and each file stands alone.
TEST_F(PicdecDll, OneDecoderThroughEveryFile) {
    PicdecDecoder decoder(library());
    for (int pass = 0; pass < 2; ++pass) {
        for (const ExpectedFile& f : files_) {
            ExpectPicture(decoder.Decode(Contents(f), f.picture.width, f.picture.height), f.picture,
                          f.file + " pass " + std::to_string(pass));
        }
    }
}

// New contents at the same address and length are a new file, not the last one.
TEST_F(PicdecDll, SameBufferWithNewContentsIsDecodedAnew) {
    const ExpectedFile& a = File("j420_96x64.jpg");
    const ExpectedFile& b = File("itu601_96x64.jpg");
    Bytes first = Contents(a);
    Bytes second = Contents(b);
    // Bytes after the end-of-image marker are ignored: pad to equal lengths.
    const size_t length = std::max(first.size(), second.size());
    first.resize(length, 0);
    second.resize(length, 0);
    Bytes buffer = first;
    PicdecDecoder decoder(library());
    ExpectPicture(decoder.Decode(buffer, 96, 64), a.picture, a.file);
    std::memcpy(buffer.data(), second.data(), length);
    ExpectPicture(decoder.Decode(buffer, 96, 64), b.picture, b.file + " in the same buffer");
}

// Files that end where readable memory ends, whole and cut: the library
// reads no byte past biSizeImage.
TEST_F(PicdecDll, ReadsNothingPastTheFile) {
    PicdecDecoder decoder(library());
    for (const ExpectedFile& f : files_) {
        const Bytes file = Contents(f);
        for (size_t length : {file.size(), file.size() / 2, size_t{3}}) {
            const GuardedCopy copy(
                Bytes(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(length)));
            ASSERT_NE(copy.data(), nullptr);
            BITMAPINFOHEADER format = AnnouncedFormat(f.picture.width, f.picture.height, length);
            const int first =
                library().DeCodeBmp(decoder.handle(), copy.data(), &format, nullptr, nullptr);
            if (length != file.size())
                continue;  // a cut file may or may not decode; it must not read on
            ASSERT_EQ(first, 0) << f.file;
            Bytes out(
                static_cast<size_t>(format.biBitCount * format.biWidth * format.biHeight / 8));
            format.biSizeImage = static_cast<DWORD>(length);
            ASSERT_EQ(
                library().DeCodeBmp(decoder.handle(), copy.data(), &format, out.data(), nullptr), 0)
                << f.file;
            EXPECT_EQ(Yv12Md5(out.data(), f.picture.width, f.picture.height), f.picture.md5)
                << f.file;
        }
    }
}

TEST_F(PicdecDll, InvalidCallsFail) {
    const ExpectedFile& f = File("j420_96x64.jpg");
    const Bytes file = Contents(f);
    PicdecDecoder decoder(library());
    void* h = decoder.handle();
    ASSERT_NE(h, nullptr);
    BITMAPINFOHEADER format = AnnouncedFormat(96, 64, file.size());
    EXPECT_NE(library().DeCodeBmp(nullptr, file.data(), &format, nullptr, nullptr), 0)
        << "no handle";
    format = AnnouncedFormat(96, 64, file.size());
    EXPECT_NE(library().DeCodeBmp(h, nullptr, &format, nullptr, nullptr), 0) << "no frame";
    EXPECT_NE(library().DeCodeBmp(h, file.data(), nullptr, nullptr, nullptr), 0) << "no header";
    format = AnnouncedFormat(96, 64, 0);
    EXPECT_NE(library().DeCodeBmp(h, file.data(), &format, nullptr, nullptr), 0) << "no length";
    format = AnnouncedFormat(96, 64, file.size());
    format.biSize = 39;
    EXPECT_NE(library().DeCodeBmp(h, file.data(), &format, nullptr, nullptr), 0) << "short header";
    // The decoder is still usable.
    ExpectPicture(decoder.Decode(file, 96, 64), f.picture, f.file);
}

// Noise, files cut anywhere (a live stream loses the end of a frame) and
// damaged scans: never a crash, never the previous file's picture again, and
// the next good file decodes exactly.
TEST_F(PicdecDll, MalformedFilesNeverBreakTheDecoder) {
    const ExpectedFile& good = File("j420_96x64.jpg");
    const ExpectedFile& other = File("restart422_128x96.jpg");
    const Bytes goodFile = Contents(good);
    const Bytes otherFile = Contents(other);
    std::mt19937 random(7);
    PicdecDecoder decoder(library());

    for (size_t size : {1u, 2u, 100u, 5000u}) {
        Bytes noise(size);
        for (uint8_t& b : noise)
            b = static_cast<uint8_t>(random());
        if (size >= 2)
            std::memcpy(noise.data(), "\xff\xd8", 2);  // start of image, then noise
        EXPECT_FALSE(decoder.Decode(noise, 96, 64).ok) << "noise of " << size;
    }

    for (size_t cut = 1; cut < otherFile.size(); cut += 37) {
        const std::string what = other.file + " cut to " + std::to_string(cut);
        ExpectPicture(decoder.Decode(goodFile, 96, 64), good.picture,
                      good.file + " before " + what);
        const Bytes part(otherFile.begin(), otherFile.begin() + static_cast<std::ptrdiff_t>(cut));
        const JpegResult r = decoder.Decode(part, 128, 96);
        EXPECT_TRUE(r.guardIntact) << what;
        if (r.ok) {
            // What there was of the scan, at the cut file's own size.
            EXPECT_EQ(r.format.biWidth, 128) << what;
            EXPECT_EQ(r.format.biHeight, 96) << what;
        }
    }

    for (int round = 0; round < 40; ++round) {
        Bytes damaged = otherFile;
        for (int flips = 0; flips < 8; ++flips)
            damaged[2 + random() % (damaged.size() - 2)] ^=
                static_cast<uint8_t>(1u << (random() % 8));
        const JpegResult r = decoder.Decode(damaged, 128, 96);
        EXPECT_TRUE(r.guardIntact) << "round " << round;
        ExpectPicture(decoder.Decode(goodFile, 96, 64), good.picture,
                      good.file + " after damaged round " + std::to_string(round));
    }
}

// Decoders on three threads at once, each through its own files many times.
TEST_F(PicdecDll, ParallelDecodersOnThreads) {
    std::atomic<int> mismatches{0};
    std::atomic<int> pictures{0};
    std::vector<std::thread> threads;
    for (size_t t = 0; t < 3; ++t) {
        threads.emplace_back([&, t] {
            PicdecDecoder decoder(library());
            for (int pass = 0; pass < 20; ++pass) {
                for (size_t i = t; i < files_.size(); i += 3) {
                    const ExpectedFile& f = files_[i];
                    const JpegResult r =
                        decoder.Decode(Contents(f), f.picture.width, f.picture.height);
                    if (!r.ok || !r.guardIntact || r.format.biWidth != f.picture.width ||
                        r.format.biHeight != f.picture.height ||
                        Yv12Md5(r.picture.data(), f.picture.width, f.picture.height) !=
                            f.picture.md5)
                        ++mismatches;
                    else
                        ++pictures;
                }
            }
        });
    }
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(mismatches.load(), 0);
    EXPECT_EQ(pictures.load(), static_cast<int>(20 * files_.size()));
}

// Neither decoders made and released again and again nor many files on one
// decoder leave memory behind.
TEST_F(PicdecDll, DecodingDoesNotLeak) {
    const ExpectedFile& f = File("j420_160x120.jpg");
    const Bytes file = Contents(f);
    auto cycle = [&] {
        PicdecDecoder decoder(library());
        ASSERT_TRUE(decoder.Decode(file, 160, 120).ok);
    };
    for (int i = 0; i < 10; ++i)
        cycle();
    size_t before = ProcessPrivateBytes();
    ASSERT_GT(before, 0u);
    for (int i = 0; i < 300; ++i)
        cycle();
    size_t after = ProcessPrivateBytes();
    // A leaked decoder keeps at least its context, the coded file and two pictures.
    EXPECT_LT(after, before + (2u << 20))
        << "AddRef/Release: grew from " << before << " to " << after;

    // Two files in turn, so that every call decodes.
    const ExpectedFile& g = File("j422_96x64.jpg");
    const Bytes other = Contents(g);
    PicdecDecoder decoder(library());
    auto pair = [&] {
        ASSERT_TRUE(decoder.Decode(file, 160, 120).ok);
        ASSERT_TRUE(decoder.Decode(other, 96, 64).ok);
    };
    for (int i = 0; i < 10; ++i)
        pair();
    before = ProcessPrivateBytes();
    for (int i = 0; i < 1000; ++i)
        pair();
    after = ProcessPrivateBytes();
    // 2000 files: a decoder context or a picture kept per file would add 30 MB
    // or more, a copy of the coded file 6 MB.
    EXPECT_LT(after, before + (2u << 20)) << "one decoder: grew from " << before << " to " << after;
}

}  // namespace
}  // namespace camvue::codec_test
