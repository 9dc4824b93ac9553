// rtsp-dump: plays an RTSP camera the way the plug-in's network thread does
// and prints what happens.
//
//   rtsp-dump URL [--seconds N] [--frames N] [--out DIR] [--verbose]
//
// Prints one line per session event and per delivered frame; --out DIR also
// writes each frame as DIR/frame-NNNNNN.h264|.jpg|.m4v and an index
// DIR/frames.tsv. --frames N stops after N delivered frames.
//
// Exit: 0 when a stream played, 2 for an address that is refused, 3 when no
// session could be set up within the time budget, 1 for usage and file errors.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "npcamvue/platform/platform.h"
#include "npcamvue/rtp/frame_assembler.h"
#include "npcamvue/rtsp/play_loop.h"
#include "npcamvue/rtsp/session.h"
#include "tools/rtsp-dump/counting_sink.h"
#include "tools/rtsp-dump/dump_observer.h"
#include "tools/rtsp-dump/frame_writer.h"

namespace {

volatile std::sig_atomic_t g_interrupted = 0;

void OnInterrupt(int) {
    g_interrupted = 1;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: rtsp-dump URL [--seconds N] [--frames N] [--out DIR] [--verbose]\n");
    return 1;
}

bool ReadCount(const char* text, unsigned long* out) {
    char* end = nullptr;
    unsigned long v = std::strtoul(text, &end, 10);
    if (end == text || *end != '\0')
        return false;
    *out = v;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace camvue;
    const char* url = nullptr;
    unsigned long seconds = 10;
    unsigned long frames = 0;
    bool verbose = false;
    std::string outDir;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
            if (!ReadCount(argv[++i], &seconds))
                return Usage();
        } else if (std::strcmp(argv[i], "--frames") == 0 && i + 1 < argc) {
            if (!ReadCount(argv[++i], &frames))
                return Usage();
        } else if (std::strcmp(argv[i], "--out") == 0 && i + 1 < argc) {
            outDir = argv[++i];
        } else if (std::strcmp(argv[i], "--verbose") == 0) {
            verbose = true;
        } else if (argv[i][0] == '-' || url != nullptr) {
            return Usage();
        } else {
            url = argv[i];
        }
    }
    if (url == nullptr)
        return Usage();
    if (!NetStartup()) {
        std::fprintf(stderr, "rtsp-dump: network start-up failed\n");
        return 1;
    }

    Event* abortEvent = EventCreate(false, false);
    Event* quitEvent = EventCreate(true, false);
    FrameWriter writer(outDir);
    if (!writer.Open())
        return 1;
    RtpFrameAssembler assembler;
    assembler.SetCallback(&FrameWriter::OnFrame, &writer);
    CountingSink counter(&assembler);
    DumpObserver observer(&counter, &writer, verbose);
    RtspSession session;
    session.SetSink(&counter);
    session.SetObserver(&observer);
    session.SetCname();

    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);

    // Watches the budgets and Ctrl-C; ending means abort (TEARDOWN) and quit.
    std::atomic<bool> done{false};
    std::thread watcher([&] {
        const uint32_t start = TickCountMs();
        while (!done.load()) {
            bool stop = g_interrupted != 0 || TickCountMs() - start >= seconds * 1000UL ||
                        (frames != 0 && writer.frames() >= frames);
            if (stop) {
                EventSet(quitEvent);
                EventSet(abortEvent);
                return;
            }
            SleepMs(10);
        }
    });

    PlayLoopResult result = RunPlayLoop(&session, url, abortEvent, quitEvent);
    done.store(true);
    watcher.join();
    observer.Tick();
    std::printf("summary: attempts=%u reconnects=%u datagrams=%llu taken=%llu frames=%llu\n",
                static_cast<unsigned>(result.attempts), static_cast<unsigned>(result.reconnects),
                static_cast<unsigned long long>(observer.datagrams()),
                static_cast<unsigned long long>(counter.taken()),
                static_cast<unsigned long long>(writer.frames()));
    std::fflush(stdout);

    EventDestroy(abortEvent);
    EventDestroy(quitEvent);
    NetCleanup();
    if (writer.failed())
        return 1;
    if (result.badAddress) {
        std::fprintf(stderr, "rtsp-dump: not a usable rtsp:// address: %s\n", url);
        return 2;
    }
    if (!result.played) {
        std::fprintf(stderr, "rtsp-dump: no session could be set up within %lu s: %s\n", seconds,
                     observer.lastFailure()[0] != '\0' ? observer.lastFailure() : "no reply");
        return 3;
    }
    return 0;
}
