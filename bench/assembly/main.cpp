// assembly-bench: throughput of RTP frame reassembly (RtpFrameAssembler) on
// recorded H.264, JPEG and MPEG-4 Visual packet sequences, next to two peers
// run in the same process on the same packets:
//   memcpy     the payload bytes copied into a 3 MiB frame buffer, nothing
//              else: the bandwidth bound of reassembly;
//   GStreamer  rtph264depay / rtpjpegdepay / rtpmp4vdepay behind appsrc, into
//              appsink, timed from the first push to the last sample.
// Every figure is the median of several repeats. The packet sequences come
// from GStreamer encoders at start-up (nothing binary is kept in the tree).
//
//   assembly-bench [--frames N] [--repeats N] [--min-time SECONDS]
//                  [--format h264|jpeg|mpeg4]...

#include <gst/gst.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench/assembly/gst_depayloader.h"
#include "bench/assembly/recording.h"
#include "npcamvue/rtp/frame_assembler.h"

namespace camvue::bench {
namespace {

using Clock = std::chrono::steady_clock;

// The receive loop's datagram buffer.
constexpr size_t kDatagramSize = 65536;

double Seconds(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

// Keeps the compiler from dropping stores into a buffer nobody reads.
inline void Escape(const void* p) {
    __asm__ __volatile__("" : : "g"(p) : "memory");
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    if (n == 0)
        return 0;
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct Options {
    int frames = 300;
    int repeats = 9;
    double minTime = 0.25;  // seconds of work per repeat of the in-process loops
    std::vector<std::string> formats;
};

void Usage() {
    std::fprintf(stderr,
                 "usage: assembly-bench [--frames N] [--repeats N] [--min-time SECONDS]\n"
                 "                      [--format h264|jpeg|mpeg4]...\n");
}

bool ParseOptions(int argc, char** argv, Options* options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--frames" && hasValue) {
            options->frames = std::atoi(argv[++i]);
        } else if (arg == "--repeats" && hasValue) {
            options->repeats = std::atoi(argv[++i]);
        } else if (arg == "--min-time" && hasValue) {
            options->minTime = std::atof(argv[++i]);
        } else if (arg == "--format" && hasValue) {
            options->formats.push_back(argv[++i]);
        } else {
            return false;
        }
    }
    return options->frames >= 2 && options->repeats >= 1 && options->minTime > 0;
}

std::string FormatKey(CodecKind codec) {
    switch (codec) {
        case kCodecH264:
            return "h264";
        case kCodecJpeg:
            return "jpeg";
        case kCodecMpeg4:
            return "mpeg4";
        default:
            return "other";
    }
}

// ---------------------------------------------------------------------------
// Ours: the receive loop's steps, datagram copy and PushPacket.

struct FrameCount {
    uint64_t frames = 0;
    uint64_t keyFrames = 0;
    uint64_t bytes = 0;
};

int CAMVUE_CDECL CountFrame(FrameDescriptor* descriptor, uintptr_t, uintptr_t, uintptr_t, uintptr_t,
                            uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t, uintptr_t,
                            uintptr_t, uintptr_t) {
    auto* count = static_cast<FrameCount*>(descriptor->userData);
    ++count->frames;
    count->keyFrames += descriptor->key;
    count->bytes += descriptor->length;
    return 0;
}

class AssemblerRig {
  public:
    explicit AssemblerRig(const Recording& recording)
        : recording_(recording), datagram_(new uint8_t[kDatagramSize]) {
        stream_.payloadType = recording.recipe.payloadType;
        stream_.clockRate = 90000;
        stream_.codec = recording.recipe.codec;
        assembler_.SetCallback(CountFrame, &count_);
    }

    // One pass over the recording as one receive loop. False when the
    // assembler ended the loop.
    bool Pass() {
        assembler_.Reset(stream_);
        for (const RecordedPacket& packet : recording_.packets) {
            std::memcpy(datagram_.get(), recording_.data(packet), packet.size);
            const PushResult result = assembler_.PushPacket(stream_, datagram_.get(), packet.size);
            if (result == PushResult::kEnd)
                return false;
        }
        return true;
    }

    FrameCount TakeCount() {
        const FrameCount count = count_;
        count_ = FrameCount{};
        return count;
    }

  private:
    const Recording& recording_;
    std::unique_ptr<uint8_t[]> datagram_;
    StreamState stream_;
    RtpFrameAssembler assembler_;
    FrameCount count_;
};

// ---------------------------------------------------------------------------
// memcpy peer: the payload bytes into a frame buffer of the assembler's size,
// the write position going back to 0 at each marker bit. With receiveCopy the
// datagram is copied into the receive buffer first, as for ours.

class MemcpyRig {
  public:
    MemcpyRig(const Recording& recording, bool receiveCopy)
        : recording_(recording),
          receiveCopy_(receiveCopy),
          datagram_(new uint8_t[kDatagramSize]),
          frame_(new uint8_t[RtpFrameAssembler::kBufferSize]) {}

    void Pass() {
        uint8_t* frame = frame_.get();
        size_t length = 0;
        for (const RecordedPacket& packet : recording_.packets) {
            const uint8_t* source = recording_.data(packet);
            if (receiveCopy_) {
                std::memcpy(datagram_.get(), source, packet.size);
                Escape(datagram_.get());
                source = datagram_.get();
            }
            if (packet.payloadLength > RtpFrameAssembler::kBufferSize - length)
                length = 0;
            std::memcpy(frame + length, source + packet.payloadOffset, packet.payloadLength);
            length += packet.payloadLength;
            if (packet.marker) {
                Escape(frame);
                length = 0;
            }
        }
        Escape(frame);
    }

  private:
    const Recording& recording_;
    bool receiveCopy_;
    std::unique_ptr<uint8_t[]> datagram_;
    std::unique_ptr<uint8_t[]> frame_;
};

// ---------------------------------------------------------------------------

template <typename PassFn>
double TimePass(PassFn pass) {
    const Clock::time_point start = Clock::now();
    pass();
    return Seconds(start, Clock::now());
}

// Seconds per pass (medians over the repeats), the ratios of the peers' time
// to ours (medians of the per-repeat ratios), and what each consumer delivered
// in one pass.
struct FormatResult {
    const Recording* recording = nullptr;
    int passes = 0;
    double ours = 0;
    double oursMin = 0;
    double oursMax = 0;
    double memcpyOnly = 0;
    double memcpyReceive = 0;
    double gst = 0;
    double gstMin = 0;
    double gstMax = 0;
    double memcpyRatio = 0;   // memcpy time / ours: ours' share of the bandwidth bound
    double receiveRatio = 0;  // receive copy + memcpy time / ours
    double gstRatio = 0;      // GStreamer time / ours: how many times faster ours is
    FrameCount oursOut;
    DepayloaderRun gstOut;
    bool ok = false;
    std::string error;
};

bool Measure(const Recording& recording, const Options& options, FormatResult* result) {
    result->recording = &recording;
    AssemblerRig ours(recording);
    MemcpyRig memcpyOnly(recording, false);
    MemcpyRig memcpyReceive(recording, true);

    // Warm-up and check: one pass each, counting what comes out.
    if (!ours.Pass()) {
        result->error = "the assembler ended the receive loop";
        return false;
    }
    result->oursOut = ours.TakeCount();
    memcpyOnly.Pass();
    memcpyReceive.Pass();
    result->gstOut = RunGstDepayloader(recording);
    if (!result->gstOut.ok) {
        result->error = "GStreamer: " + result->gstOut.error;
        return false;
    }

    // Passes per repeat: about minTime of our own work.
    bool failed = false;
    double single = 1;
    for (int i = 0; i < 3; ++i)
        single = std::min(single, TimePass([&] { failed |= !ours.Pass(); }));
    result->passes = static_cast<int>(std::ceil(options.minTime / std::max(single, 1e-7)));
    result->passes = std::clamp(result->passes, 1, 100000);

    // The three in-process loops take turns pass by pass (in rotating order),
    // so that a busy machine slows them alike; GStreamer runs once per repeat.
    std::vector<double> oursRuns, memcpyRuns, receiveRuns, gstRuns;
    std::vector<double> memcpyRatios, receiveRatios, gstRatios;
    for (int r = 0; r < options.repeats; ++r) {
        double t[3] = {0, 0, 0};
        for (int i = 0; i < result->passes; ++i) {
            for (int k = 0; k < 3; ++k) {
                switch ((i + k) % 3) {
                    case 0:
                        t[0] += TimePass([&] { failed |= !ours.Pass(); });
                        break;
                    case 1:
                        t[1] += TimePass([&] { memcpyOnly.Pass(); });
                        break;
                    default:
                        t[2] += TimePass([&] { memcpyReceive.Pass(); });
                        break;
                }
            }
        }
        const DepayloaderRun gst = RunGstDepayloader(recording);
        if (!gst.ok) {
            result->error = "GStreamer: " + gst.error;
            return false;
        }
        const double oursPass = t[0] / result->passes;
        oursRuns.push_back(oursPass);
        memcpyRuns.push_back(t[1] / result->passes);
        receiveRuns.push_back(t[2] / result->passes);
        gstRuns.push_back(gst.seconds);
        memcpyRatios.push_back(t[1] / t[0]);
        receiveRatios.push_back(t[2] / t[0]);
        gstRatios.push_back(gst.seconds / oursPass);
    }
    if (failed) {
        result->error = "the assembler ended the receive loop";
        return false;
    }
    result->ours = Median(oursRuns);
    result->oursMin = *std::min_element(oursRuns.begin(), oursRuns.end());
    result->oursMax = *std::max_element(oursRuns.begin(), oursRuns.end());
    result->memcpyOnly = Median(memcpyRuns);
    result->memcpyReceive = Median(receiveRuns);
    result->gst = Median(gstRuns);
    result->gstMin = *std::min_element(gstRuns.begin(), gstRuns.end());
    result->gstMax = *std::max_element(gstRuns.begin(), gstRuns.end());
    result->memcpyRatio = Median(memcpyRatios);
    result->receiveRatio = Median(receiveRatios);
    result->gstRatio = Median(gstRatios);
    result->ok = true;
    return true;
}

double MegabytesPerSecond(const Recording& recording, double seconds) {
    return seconds > 0 ? static_cast<double>(recording.payloadBytes) / seconds / 1e6 : 0;
}

double NsPerPacket(const Recording& recording, double seconds) {
    return seconds * 1e9 / static_cast<double>(recording.packets.size());
}

void PrintRecordings(const std::vector<Recording>& recordings) {
    std::printf("\nRecorded packet sequences (GStreamer encoders and payloaders, run now)\n");
    std::printf("%-7s %-42s %8s %7s %11s %9s %8s\n", "format", "stream", "packets", "frames",
                "payload MB", "Mbit/s", "largest");
    for (const Recording& r : recordings) {
        const double seconds = static_cast<double>(r.durationNs) * 1e-9;
        const double mbits =
            seconds > 0 ? static_cast<double>(r.payloadBytes) * 8 / seconds / 1e6 : 0;
        std::printf("%-7s %-42s %8zu %7zu %11.2f %9.2f %8zu\n", r.recipe.name.c_str(),
                    r.recipe.description.c_str(), r.packets.size(), r.markers,
                    static_cast<double>(r.payloadBytes) / 1e6, mbits, r.largestPacket);
    }
}

bool PrintResults(const std::vector<FormatResult>& results, const Options& options) {
    std::printf(
        "\nReassembly throughput: median of %d repeats; MB = 10^6 bytes of RTP payload;\n"
        "ns/pkt = wall time per RTP packet.\n"
        "  ours       datagram copied into a 64 KiB receive buffer, then PushPacket\n"
        "  memcpy     payload bytes memcpy'd into a 3 MiB frame buffer (the bound)\n"
        "  recv+mcpy  the same receive-buffer copy as ours, then that memcpy\n"
        "  GStreamer  appsrc ! depayloader ! appsink, first push to last sample\n"
        "Ours and the memcpy loops take turns pass by pass, many passes a repeat;\n"
        "GStreamer runs one pass a repeat in a fresh pipeline. Ratios are medians\n"
        "of the per-repeat ratios.\n\n",
        options.repeats);
    std::printf("%-7s | %9s %7s | %9s %7s | %9s %7s | %9s %7s\n", "", "ours", "", "memcpy", "",
                "recv+mcpy", "", "GStreamer", "");
    std::printf("%-7s | %9s %7s | %9s %7s | %9s %7s | %9s %7s\n", "format", "MB/s", "ns/pkt",
                "MB/s", "ns/pkt", "MB/s", "ns/pkt", "MB/s", "ns/pkt");
    std::printf(
        "--------+-------------------+-------------------+-------------------+"
        "------------------\n");
    for (const FormatResult& f : results) {
        const Recording& r = *f.recording;
        if (!f.ok) {
            std::printf("%-7s | %s\n", r.recipe.name.c_str(), f.error.c_str());
            continue;
        }
        std::printf("%-7s | %9.0f %7.1f | %9.0f %7.1f | %9.0f %7.1f | %9.0f %7.1f\n",
                    r.recipe.name.c_str(), MegabytesPerSecond(r, f.ours), NsPerPacket(r, f.ours),
                    MegabytesPerSecond(r, f.memcpyOnly), NsPerPacket(r, f.memcpyOnly),
                    MegabytesPerSecond(r, f.memcpyReceive), NsPerPacket(r, f.memcpyReceive),
                    MegabytesPerSecond(r, f.gst), NsPerPacket(r, f.gst));
    }

    std::printf("\n%-7s | %-18s | %-18s | %-26s\n", "format", "ours/memcpy", "ours/recv+mcpy",
                "ours vs GStreamer");
    std::printf("%-7s | %-18s | %-18s | %-26s\n", "", "(target >= 50 %)", "(same copies)",
                "(target: faster)");
    std::printf(
        "--------+--------------------+--------------------+----------------------------\n");
    bool allMet = true;
    for (const FormatResult& f : results) {
        if (!f.ok) {
            allMet = false;
            continue;
        }
        const double vsMemcpy = f.memcpyRatio;
        const double vsReceive = f.receiveRatio;
        const double vsGst = f.gstRatio;
        const bool memcpyMet = vsMemcpy >= 0.5;
        const bool gstMet = vsGst > 1.0;
        allMet = allMet && memcpyMet && gstMet;
        char gstText[64];
        std::snprintf(gstText, sizeof gstText, "%.2fx %s  %s", vsGst >= 1 ? vsGst : 1 / vsGst,
                      vsGst >= 1 ? "faster" : "slower", gstMet ? "met" : "MISSED");
        std::printf("%-7s | %5.1f %%  %-9s | %5.1f %%            | %-26s\n",
                    f.recording->recipe.name.c_str(), 100 * vsMemcpy, memcpyMet ? "met" : "MISSED",
                    100 * vsReceive, gstText);
    }

    std::printf("\nSpread (fastest .. slowest repeat) and what one pass delivered\n");
    std::printf("%-7s | %-21s | %-21s | %6s | %-22s | %-22s\n", "format", "ours MB/s",
                "GStreamer MB/s", "passes", "ours frames (key) MB", "GStreamer frames MB");
    for (const FormatResult& f : results) {
        if (!f.ok)
            continue;
        const Recording& r = *f.recording;
        char ours[32], gst[32], oursOut[40], gstOut[40];
        std::snprintf(ours, sizeof ours, "%.0f .. %.0f", MegabytesPerSecond(r, f.oursMin),
                      MegabytesPerSecond(r, f.oursMax));
        std::snprintf(gst, sizeof gst, "%.0f .. %.0f", MegabytesPerSecond(r, f.gstMin),
                      MegabytesPerSecond(r, f.gstMax));
        std::snprintf(oursOut, sizeof oursOut, "%llu (%llu) %.2f",
                      static_cast<unsigned long long>(f.oursOut.frames),
                      static_cast<unsigned long long>(f.oursOut.keyFrames),
                      static_cast<double>(f.oursOut.bytes) / 1e6);
        std::snprintf(gstOut, sizeof gstOut, "%llu %.2f",
                      static_cast<unsigned long long>(f.gstOut.frames),
                      static_cast<double>(f.gstOut.bytes) / 1e6);
        std::printf("%-7s | %-21s | %-21s | %6d | %-22s | %-22s\n", r.recipe.name.c_str(), ours,
                    gst, f.passes, oursOut, gstOut);
    }
    return allMet;
}

int Run(const Options& options) {
#if defined(__SANITIZE_ADDRESS__) || !defined(__OPTIMIZE__)
    std::printf(
        "NOTE: this build is unoptimized or has AddressSanitizer on; the figures\n"
        "      mean nothing. Use the bench preset (scripts/bench.sh).\n");
#endif
    std::vector<StreamRecipe> recipes;
    for (const StreamRecipe& recipe : DefaultFormats(options.frames)) {
        if (options.formats.empty() || std::find(options.formats.begin(), options.formats.end(),
                                                 FormatKey(recipe.codec)) != options.formats.end())
            recipes.push_back(recipe);
    }
    if (recipes.empty()) {
        Usage();
        return 2;
    }

    std::vector<Recording> recordings(recipes.size());
    for (size_t i = 0; i < recipes.size(); ++i) {
        std::printf("recording %s (%s), %d frames ...\n", recipes[i].name.c_str(),
                    recipes[i].description.c_str(), options.frames);
        std::fflush(stdout);
        std::string error;
        if (!Record(recipes[i], &recordings[i], &error)) {
            std::fprintf(stderr, "assembly-bench: recording %s failed: %s\n",
                         recipes[i].name.c_str(), error.c_str());
            return 1;
        }
    }
    PrintRecordings(recordings);

    std::vector<FormatResult> results(recordings.size());
    bool complete = true;
    for (size_t i = 0; i < recordings.size(); ++i) {
        std::printf("measuring %s ...\n", recordings[i].recipe.name.c_str());
        std::fflush(stdout);
        if (!Measure(recordings[i], options, &results[i])) {
            results[i].recording = &recordings[i];
            complete = false;
        }
    }
    const bool met = PrintResults(results, options);

    // Figures of an assembler that lost frames would flatter it.
    bool framesOk = true;
    for (const FormatResult& f : results) {
        if (!f.ok)
            continue;
        const uint64_t sent = f.recording->markers;
        if (f.oursOut.frames != sent) {
            std::printf("\n%s: ours delivered %llu frames of the %llu sent in one pass\n",
                        f.recording->recipe.name.c_str(),
                        static_cast<unsigned long long>(f.oursOut.frames),
                        static_cast<unsigned long long>(sent));
            framesOk = false;
        }
    }
    std::printf("\n%s\n", met && framesOk && complete ? "all targets met" : "targets NOT all met");
    if (!complete || !framesOk)
        return 1;
    return 0;
}

}  // namespace
}  // namespace camvue::bench

#if defined(__SANITIZE_ADDRESS__)
// GLib allocates at library load and never frees it; not ours to report.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libglib-2.0.so\n";
}
#endif

int main(int argc, char** argv) {
    gst_init(nullptr, nullptr);
    camvue::bench::Options options;
    if (!camvue::bench::ParseOptions(argc, argv, &options)) {
        camvue::bench::Usage();
        return 2;
    }
    const int status = camvue::bench::Run(options);
    gst_deinit();
    return status;
}
