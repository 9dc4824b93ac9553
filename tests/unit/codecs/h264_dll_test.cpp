// h264.dll through its exported contract, driven as the plug-in drives it:
// real streams from libx264 decoded picture by picture and compared with
// Debian ffmpeg's decode of the same streams (tests/fixtures/codecs).
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/unit/codecs/codec_dll.h"

namespace camvue::codec_test {
namespace {

class H264Dll : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { library_ = new H264Library; }
    static void TearDownTestSuite() {
        delete library_;
        library_ = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(library_->library().loaded()) << LibraryPath(CAMVUE_H264_DLL);
        ASSERT_TRUE(library_->ready());
        ASSERT_FALSE(FixtureDir().empty()) << "CAMVUE_SOURCE_DIR is not set";
    }
    static Stream Load(const std::string& name) {
        Stream stream;
        EXPECT_TRUE(LoadStream(name, &stream)) << name;
        return stream;
    }
    static const H264Library& library() { return *library_; }

  private:
    static H264Library* library_;
};

H264Library* H264Dll::library_ = nullptr;

// The library either takes an input whole or rejects it: a partial count
// would make the plug-in drop a picture the library did decode.
void ExpectWholeOrNothing(const DecodeResult& r, size_t length, const std::string& what) {
    EXPECT_TRUE(r.consumed == -1 || r.consumed == static_cast<int>(length))
        << what << ": consumed " << r.consumed << " of " << length;
    EXPECT_TRUE(r.blockIntact) << what << ": reserved block bytes written";
    if (r.output == nullptr) {
        EXPECT_EQ(r.outputLength, 0) << what;
        EXPECT_EQ(r.width, 0) << what;
        EXPECT_EQ(r.height, 0) << what;
    }
}

void ExpectPicture(const DecodeResult& r, const ExpectedPicture& expected,
                   const std::string& what) {
    ASSERT_TRUE(r.ok) << what << ": consumed " << r.consumed << ", output "
                      << static_cast<const void*>(r.output);
    EXPECT_TRUE(r.blockIntact) << what;
    ASSERT_EQ(r.width, expected.width) << what;
    ASSERT_EQ(r.height, expected.height) << what;
    ASSERT_EQ(static_cast<size_t>(r.outputLength), Yv12Bytes(r.width, r.height)) << what;
    EXPECT_EQ(Yv12Md5(r.output, r.width, r.height), expected.md5) << what;
}

std::string At(const Stream& s, size_t unit) {
    return s.name + " unit " + std::to_string(unit);
}

// Decodes units [first, last) and expects picture i from unit i.
void ExpectUnitsGivePictures(const H264Decoder& decoder, const Stream& s, size_t first,
                             size_t last) {
    for (size_t i = first; i < last; ++i) {
        const DecodeResult r = decoder.Decode(s.Unit(i));
        ExpectPicture(r, s.pictures.at(i), At(s, i));
        EXPECT_EQ(r.extra, s.units[i].key ? 1 : 0) << At(s, i) << ": extra is the key flag";
    }
}

TEST_F(H264Dll, ExportsMakeItAnH264StyleLibrary) {
    for (const char* name : {"dll_init", "dec_open", "dec_decode", "dec_close"})
        EXPECT_NE(library().library().Find(name), nullptr) << name;
    // The plug-in drives a library with all three of these as a JPEG one.
    for (const char* name : {"AddRef", "DeCodeBmp", "Release"})
        EXPECT_EQ(library().library().Find(name), nullptr) << name;
}

// --- real streams, bit-exact ---------------------------------------------------

class H264Streams : public H264Dll, public ::testing::WithParamInterface<const char*> {};

// Streams without B-pictures: every access unit gives its own picture at once,
// the one ffmpeg decodes; played twice on one decoder, as after a reconnect.
TEST_P(H264Streams, EveryAccessUnitGivesItsPicture) {
    const Stream s = Load(GetParam());
    ASSERT_EQ(s.units.size(), s.pictures.size());
    H264Decoder decoder(library());
    ASSERT_NE(decoder.handle(), nullptr);
    for (int pass = 0; pass < 2; ++pass)
        ExpectUnitsGivePictures(decoder, s, 0, s.units.size());
}

INSTANTIATE_TEST_SUITE_P(Fixtures, H264Streams,
                         ::testing::Values("baseline_176x144.h264", "slices_352x288.h264",
                                           "high_1920x1080.h264", "mbaff_320x240.h264",
                                           "fullrange_176x144.h264"),
                         [](const ::testing::TestParamInfo<const char*>& param) {
                             std::string name = param.param;
                             return name.substr(0, name.find('.'));
                         });

// With B-pictures the decoder holds the first pictures back by the stream's
// reordering depth, then hands out one picture per access unit in display
// order (never in decoding order).
TEST_F(H264Dll, BPicturesComeOutInDisplayOrder) {
    const Stream s = Load("main_bframes_320x240.h264");
    ASSERT_EQ(s.units.size(), s.pictures.size());
    H264Decoder decoder(library());
    std::vector<DecodeResult> results;
    size_t delay = 0;
    for (size_t i = 0; i < s.units.size(); ++i) {
        const DecodeResult r = decoder.Decode(s.Unit(i));
        ExpectWholeOrNothing(r, s.units[i].size, At(s, i));
        if (!r.ok && results.empty()) {
            EXPECT_EQ(r.consumed, static_cast<int>(s.units[i].size)) << At(s, i);
            ++delay;
            continue;
        }
        ExpectPicture(r, s.pictures.at(results.size()), At(s, i));
        results.push_back(r);
    }
    EXPECT_GE(delay, 1u);
    EXPECT_LE(delay, 2u);
    EXPECT_EQ(results.size() + delay, s.units.size());
}

// --- broken streams --------------------------------------------------------------

// One access unit lost: whatever the pictures up to the next IDR look like,
// the IDR and everything after it are exact again.
TEST_F(H264Dll, LostAccessUnitRecoversAtNextIdr) {
    const Stream s = Load("baseline_176x144.h264");
    ASSERT_EQ(s.units.size(), 10u);
    ASSERT_TRUE(s.units[5].key);
    H264Decoder decoder(library());
    ExpectUnitsGivePictures(decoder, s, 0, 2);
    for (size_t i = 3; i < 5; ++i)  // unit 2 is lost
        ExpectWholeOrNothing(decoder.Decode(s.Unit(i)), s.units[i].size, At(s, i));
    ExpectUnitsGivePictures(decoder, s, 5, 10);
}

// Joining a stream between IDRs: no picture is made up from missing
// references; the first IDR gives the first picture.
TEST_F(H264Dll, JoiningMidStreamWaitsForTheIdr) {
    const Stream s = Load("baseline_176x144.h264");
    H264Decoder decoder(library());
    for (size_t i = 2; i < 5; ++i) {
        const DecodeResult r = decoder.Decode(s.Unit(i));
        ExpectWholeOrNothing(r, s.units[i].size, At(s, i));
        EXPECT_FALSE(r.ok) << At(s, i) << " gave a picture without its references";
    }
    ExpectUnitsGivePictures(decoder, s, 5, 10);
}

// Parameter sets sent on their own are taken without a picture (a failed
// decode for the plug-in) and kept for the slices that follow.
TEST_F(H264Dll, ParameterSetsAloneAreKeptForTheSlices) {
    const Stream s = Load("baseline_176x144.h264");
    const Bytes first = s.Unit(0);
    // Split in front of the IDR slice's start code (00 00 01 65 or 00 00 00 01 65).
    size_t split = 0;
    for (size_t i = 0; i + 3 < first.size(); ++i) {
        if (first[i] == 0 && first[i + 1] == 0 && first[i + 2] == 1 && (first[i + 3] & 0x1f) == 5) {
            split = (i > 0 && first[i - 1] == 0) ? i - 1 : i;
            break;
        }
    }
    ASSERT_GT(split, 0u);
    const Bytes parameterSets(first.begin(), first.begin() + static_cast<std::ptrdiff_t>(split));
    const Bytes slice(first.begin() + static_cast<std::ptrdiff_t>(split), first.end());

    H264Decoder decoder(library());
    const DecodeResult r = decoder.Decode(parameterSets);
    EXPECT_EQ(r.consumed, static_cast<int>(parameterSets.size()));
    EXPECT_FALSE(r.ok);
    ExpectWholeOrNothing(r, parameterSets.size(), "parameter sets");
    ExpectPicture(decoder.Decode(slice), s.pictures[0], "IDR slice alone");
    ExpectUnitsGivePictures(decoder, s, 1, 3);
    // Damaged pictures, then the IDR slice again without its parameter sets:
    // the sets of before still apply.
    for (size_t i = 3; i < 5; ++i) {
        Bytes unit = s.Unit(i);
        unit.resize(unit.size() / 2);
        ExpectWholeOrNothing(decoder.Decode(unit), unit.size(), At(s, i) + " cut");
    }
    ExpectPicture(decoder.Decode(slice), s.pictures[0], "IDR slice alone after damage");
    ExpectUnitsGivePictures(decoder, s, 1, 5);
}

// A new SPS with another size between two IDRs: each picture has its own
// stream's size and contents, in both directions.
TEST_F(H264Dll, PictureSizeChangesMidStream) {
    const Stream small = Load("baseline_176x144.h264");
    const Stream cif = Load("slices_352x288.h264");
    const Stream hd = Load("high_1920x1080.h264");
    H264Decoder decoder(library());
    ExpectUnitsGivePictures(decoder, small, 0, 5);
    ExpectUnitsGivePictures(decoder, cif, 0, cif.units.size());
    ExpectUnitsGivePictures(decoder, hd, 0, hd.units.size());
    ExpectUnitsGivePictures(decoder, small, 0, 5);
}

// Access units that end where readable memory ends: the library reads no
// byte past the length it was given (libavcodec's readers run ahead of the
// data, so the library must copy it into a padded buffer).
TEST_F(H264Dll, ReadsNothingPastTheInput) {
    const Stream s = Load("slices_352x288.h264");
    H264Decoder decoder(library());
    for (size_t i = 0; i < s.units.size(); ++i) {
        const GuardedCopy unit(s.Unit(i));
        ASSERT_NE(unit.data(), nullptr);
        const DecodeResult r =
            library().Decode(decoder.handle(), unit.data(), static_cast<int>(unit.size()));
        ExpectPicture(r, s.pictures[i], At(s, i));
    }
    // Cut units too: the readers then run out of data in mid-syntax.
    for (size_t i = 0; i < s.units.size(); ++i) {
        Bytes part = s.Unit(i);
        part.resize(part.size() * 2 / 3);
        const GuardedCopy unit(part);
        ExpectWholeOrNothing(
            library().Decode(decoder.handle(), unit.data(), static_cast<int>(unit.size())),
            unit.size(), At(s, i) + " cut");
    }
}

TEST_F(H264Dll, InvalidCallsFail) {
    const Stream s = Load("baseline_176x144.h264");
    const Bytes unit = s.Unit(0);
    H264Decoder decoder(library());
    EXPECT_EQ(library().DecodeWithoutBlock(decoder.handle()), -1);
    EXPECT_FALSE(library().Decode(nullptr, unit).ok) << "null handle";
    EXPECT_EQ(library().Decode(nullptr, unit).consumed, -1) << "null handle";
    EXPECT_EQ(library().Decode(decoder.handle(), nullptr, 100).consumed, -1) << "null input";
    EXPECT_EQ(library().Decode(decoder.handle(), unit.data(), 0).consumed, -1) << "empty input";
    EXPECT_EQ(library().Decode(decoder.handle(), unit.data(), -5).consumed, -1)
        << "negative length";
    // The decoder is still usable.
    ExpectUnitsGivePictures(decoder, s, 0, 3);
}

// Bytes that are no H.264, cut access units and damaged slices: no picture
// out of nothing, never a crash or a partial count, and the stream decodes
// exactly again from its next IDR.
TEST_F(H264Dll, MalformedInputNeverBreaksTheDecoder) {
    const Stream s = Load("baseline_176x144.h264");
    std::mt19937 random(20240611);
    H264Decoder decoder(library());

    // Noise on a fresh decoder (no parameter sets yet), with and without start codes.
    for (size_t size : {1u, 3u, 4u, 5u, 64u, 1000u, 20000u}) {
        for (int withStartCode = 0; withStartCode < 2; ++withStartCode) {
            Bytes noise(size);
            for (uint8_t& b : noise)
                b = static_cast<uint8_t>(random());
            if (withStartCode && size >= 5)
                std::memcpy(noise.data(), "\x00\x00\x00\x01", 4);
            const DecodeResult r = decoder.Decode(noise);
            ExpectWholeOrNothing(r, size, "noise of " + std::to_string(size));
            EXPECT_FALSE(r.ok) << "a picture from noise of " << size << " bytes";
        }
    }
    ExpectUnitsGivePictures(decoder, s, 0, 2);

    // Units cut short, then units with damaged slice data.
    for (size_t i = 2; i < 5; ++i) {
        Bytes unit = s.Unit(i);
        unit.resize(unit.size() / (i + 1));
        ExpectWholeOrNothing(decoder.Decode(unit), unit.size(), At(s, i) + " cut");
    }
    ExpectUnitsGivePictures(decoder, s, 5, 6);
    for (size_t i = 6; i < 10; ++i) {
        Bytes unit = s.Unit(i);
        for (int flips = 0; flips < 20; ++flips)
            unit[16 + random() % (unit.size() - 16)] ^= static_cast<uint8_t>(1u << (random() % 8));
        ExpectWholeOrNothing(decoder.Decode(unit), unit.size(), At(s, i) + " damaged");
    }
    ExpectUnitsGivePictures(decoder, s, 0, s.units.size());

    // An IDR damaged at every 50th byte in turn.
    const Bytes idr = s.Unit(5);
    for (size_t at = 0; at < idr.size(); at += 50) {
        Bytes unit = idr;
        unit[at] ^= 0x55;
        ExpectWholeOrNothing(decoder.Decode(unit), unit.size(),
                             "IDR damaged at " + std::to_string(at));
    }
    ExpectUnitsGivePictures(decoder, s, 5, 10);
}

// 10-bit pictures have no YV12 form: no unit gives a picture, and an 8-bit
// stream after it (a new sequence without B-pictures) decodes exactly and
// without the 10-bit stream's reordering delay.
TEST_F(H264Dll, HighBitDepthFailsCleanly) {
    const Stream deep = Load("high10_64x64.h264");
    const Stream s = Load("baseline_176x144.h264");
    H264Decoder decoder(library());
    for (int pass = 0; pass < 3; ++pass) {
        for (size_t i = 0; i < deep.units.size(); ++i) {
            const DecodeResult r = decoder.Decode(deep.Unit(i));
            ExpectWholeOrNothing(r, deep.units[i].size, At(deep, i));
            EXPECT_FALSE(r.ok) << At(deep, i);
        }
    }
    ExpectUnitsGivePictures(decoder, s, 0, s.units.size());
}

// A sequence with B-pictures, then one without: the second is not held back
// by the first one's reordering delay.
TEST_F(H264Dll, NewSequenceDropsTheOldReorderingDelay) {
    const Stream reordered = Load("main_bframes_320x240.h264");
    const Stream s = Load("baseline_176x144.h264");
    H264Decoder decoder(library());
    for (size_t i = 0; i < reordered.units.size(); ++i)
        ExpectWholeOrNothing(decoder.Decode(reordered.Unit(i)), reordered.units[i].size,
                             At(reordered, i));
    ExpectUnitsGivePictures(decoder, s, 0, s.units.size());
}

// --- several decoders --------------------------------------------------------------

// Two decoders on one thread, fed in turns: neither sees the other's state.
TEST_F(H264Dll, InterleavedDecodersKeepTheirOwnState) {
    const Stream a = Load("baseline_176x144.h264");
    const Stream b = Load("mbaff_320x240.h264");
    H264Decoder first(library());
    H264Decoder second(library());
    for (size_t i = 0; i < a.units.size(); ++i) {
        ExpectPicture(first.Decode(a.Unit(i)), a.pictures[i], At(a, i));
        const size_t j = i % b.units.size();
        ExpectPicture(second.Decode(b.Unit(j)), b.pictures[j], At(b, j));
    }
}

// Decoders on three threads at once (as three stream cores would run them),
// each through its own stream several times.
TEST_F(H264Dll, ParallelDecodersOnThreads) {
    const std::vector<Stream> streams = {Load("high_1920x1080.h264"), Load("slices_352x288.h264"),
                                         Load("mbaff_320x240.h264")};
    std::atomic<int> mismatches{0};
    std::atomic<int> pictures{0};
    std::vector<std::thread> threads;
    for (const Stream& s : streams) {
        threads.emplace_back([&, ps = &s] {
            H264Decoder decoder(library());
            if (decoder.handle() == nullptr) {
                ++mismatches;
                return;
            }
            for (int pass = 0; pass < 6; ++pass) {
                for (size_t i = 0; i < ps->units.size(); ++i) {
                    const DecodeResult r = decoder.Decode(ps->Unit(i));
                    const ExpectedPicture& e = ps->pictures[i];
                    if (!r.ok || r.width != e.width || r.height != e.height ||
                        Yv12Md5(r.output, r.width, r.height) != e.md5)
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
    EXPECT_EQ(pictures.load(), 6 * (3 + 6 + 6));
}

// Neither decoders opened and closed again and again nor many pictures on one
// decoder leave memory behind.
TEST_F(H264Dll, DecodingDoesNotLeak) {
    const Stream hd = Load("high_1920x1080.h264");
    auto cycle = [&] {
        H264Decoder decoder(library());
        for (size_t i = 0; i < hd.units.size(); ++i)
            ASSERT_TRUE(decoder.Decode(hd.Unit(i)).ok) << At(hd, i);
    };
    for (int i = 0; i < 5; ++i)
        cycle();
    size_t before = ProcessPrivateBytes();
    ASSERT_GT(before, 0u);
    for (int i = 0; i < 40; ++i)
        cycle();
    size_t after = ProcessPrivateBytes();
    // One leaked decoder holds several 1080p pictures (over 3 MB each).
    EXPECT_LT(after, before + (8u << 20)) << "open/close: grew from " << before << " to " << after;

    const Stream cif = Load("slices_352x288.h264");
    H264Decoder decoder(library());
    auto pass = [&] {
        for (size_t i = 0; i < cif.units.size(); ++i)
            ASSERT_TRUE(decoder.Decode(cif.Unit(i)).ok) << At(cif, i);
    };
    for (int i = 0; i < 5; ++i)
        pass();
    before = ProcessPrivateBytes();
    for (int i = 0; i < 300; ++i)
        pass();
    after = ProcessPrivateBytes();
    // 1800 calls: a picture kept per call would add 270 MB, a copy of the
    // coded input 3.5 MB.
    EXPECT_LT(after, before + (2u << 20)) << "one decoder: grew from " << before << " to " << after;
}

}  // namespace
}  // namespace camvue::codec_test
