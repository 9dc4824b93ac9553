// rtsp-dump: plays an RTSP camera the way the plug-in's network thread does
// and prints what happens.
//
//   rtsp-dump URL [--seconds N] [--frames N] [--out DIR] [--verbose]
//
// Prints one line per session event and per delivered frame; --out DIR also
// writes each frame as DIR/frame-NNNNNN.h264|.jpg|.m4v and an index
// DIR/frames.tsv. --frames N stops after N delivered frames.
//
// A set-up that keeps failing for the same reason is printed at its 1st,
// 2nd, 4th, 8th ... failure in a row; the final report gives the count.
//
// Exit: 0 when a stream played, 2 for an address that is refused or a host
// name that does not resolve, 3 when no session could be set up within the
// time budget, 1 for usage and file errors.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#ifdef _WIN32
#else
#include <pthread.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>
#endif

#include "npcamvue/platform/platform.h"
#include "npcamvue/rtp/frame_assembler.h"
#include "npcamvue/rtsp/play_loop.h"
#include "npcamvue/rtsp/session.h"
#include "tools/rtsp-dump/counting_sink.h"
#include "tools/rtsp-dump/dump_observer.h"
#include "tools/rtsp-dump/frame_writer.h"

namespace {

volatile std::sig_atomic_t g_interrupted = 0;

// The watcher sleeps until the time budget ends or something wakes it:
// Ctrl-C / SIGTERM, the frame budget, or the end of the play loop.
#ifdef _WIN32
camvue::Event* g_wake = nullptr;

// Runs on the console's control thread: setting an event is safe there.
void OnInterrupt(int) {
    g_interrupted = 1;
    camvue::EventSet(g_wake);
}

void PrepareWake() {
    g_wake = camvue::EventCreate(true, false);
    std::signal(SIGINT, OnInterrupt);
    std::signal(SIGTERM, OnInterrupt);
}

void Wake() {
    camvue::EventSet(g_wake);
}

void SleepUntilWoken(uint32_t ms) {
    camvue::EventWait(g_wake, ms);
}
#else
// SIGINT, SIGTERM and SIGUSR1 (the wake-up) are blocked in every thread and
// taken by the watcher with sigtimedwait.
sigset_t g_signals;

void PrepareWake() {
    sigemptyset(&g_signals);
    sigaddset(&g_signals, SIGINT);
    sigaddset(&g_signals, SIGTERM);
    sigaddset(&g_signals, SIGUSR1);
    pthread_sigmask(SIG_BLOCK, &g_signals, nullptr);
}

void Wake() {
    kill(getpid(), SIGUSR1);
}

void SleepUntilWoken(uint32_t ms) {
    const timespec wait = {static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    const int taken = sigtimedwait(&g_signals, nullptr, &wait);
    if (taken == SIGINT || taken == SIGTERM)
        g_interrupted = 1;
}
#endif

void WakeWatcher(void*) {
    Wake();
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
    PrepareWake();
    if (frames != 0)
        writer.SetLimit(frames, WakeWatcher, nullptr);
    RtpFrameAssembler assembler;
    assembler.SetCallback(&FrameWriter::OnFrame, &writer);
    CountingSink counter(&assembler);
    DumpObserver observer(&counter, &writer, verbose);
    RtspSession session;
    session.SetSink(&counter);
    session.SetObserver(&observer);
    session.SetCname();

    // Watches the budgets and Ctrl-C; ending means abort (TEARDOWN) and quit.
    std::atomic<bool> done{false};
    std::thread watcher([&] {
        const uint32_t start = TickCountMs();
        const uint64_t budget = static_cast<uint64_t>(seconds) * 1000;
        for (;;) {
            const uint32_t elapsed = TickCountMs() - start;
            if (done.load() || g_interrupted != 0 || elapsed >= budget ||
                (frames != 0 && writer.frames() >= frames))
                break;
            const uint64_t left = budget - elapsed;
            SleepUntilWoken(static_cast<uint32_t>(left < 0x7FFFFFFF ? left : 0x7FFFFFFF));
        }
        if (!done.load()) {
            EventSet(quitEvent);
            EventSet(abortEvent);
        }
    });

    PlayLoopOptions options;
    options.stopOnUnresolvedHost = true;
    PlayLoopResult result = RunPlayLoop(&session, url, abortEvent, quitEvent, options);
    done.store(true);
    Wake();
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
    if (result.unresolvedHost) {
        std::fprintf(stderr, "rtsp-dump: %s\n", session.lastError());
        return 2;
    }
    if (!result.played) {
        const uint32_t run = observer.failureRun();
        if (run == 0) {
            std::fprintf(stderr, "rtsp-dump: no session could be set up within %lu s: no reply\n",
                         seconds);
        } else if (run == result.attempts) {
            std::fprintf(stderr,
                         "rtsp-dump: no session could be set up within %lu s: %s (%u attempts)\n",
                         seconds, observer.lastFailure(), static_cast<unsigned>(run));
        } else {
            std::fprintf(
                stderr,
                "rtsp-dump: no session could be set up within %lu s: %s (%u of %u attempts)\n",
                seconds, observer.lastFailure(), static_cast<unsigned>(run),
                static_cast<unsigned>(result.attempts));
        }
        return 3;
    }
    return 0;
}
