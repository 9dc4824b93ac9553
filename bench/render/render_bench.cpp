// render-bench --codecs FOLDER --clip WIDTHxHEIGHT:FILE.h264 [--clip ...]
//              [--rounds N] [--fps N] [--idle-seconds S]
//
// The plug-in's video path on H.264 clips (access unit delimiters) into a
// visible 1280x720 window, frames at the stream's rate (--fps):
//   pipeline  CoreFrameCallback (argument form) into the ring of a core made
//             by CoreCreate, then DrawStep (take, decode, Show) on this
//             thread; each frame meets an idle surface (the last blit is
//             waited for, untimed);
//   parts     decode of the same units on a second module (each picture then
//             shown, untimed), the take replayed, the surface copy, the blit
//             as Show issues it, and Show alone;
//   threaded  the real render thread: callback entry to the repaint request
//             it makes after each draw step.
// Per picture: the mean over the clip, median of the rounds. Then process
// CPU with one idle core against none. Exit status 3 when a goal is missed.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <string>
#include <vector>

#include "bench/common/wine_files.h"
#include "npcamvue/shell/aligned_block.h"
#include "npcamvue/shell/codec_module.h"
#include "npcamvue/shell/draw_step.h"
#include "npcamvue/shell/plugin_instance.h"
#include "npcamvue/shell/render_thread.h"
#include "npcamvue/shell/shell_seams.h"
#include "npcamvue/shell/stream_core.h"

namespace {

using camvue::AlignedBlock;
using camvue::CodecModule;
using camvue::PluginInstance;
using camvue::StreamCore;
using Bytes = std::vector<uint8_t>;
using Times = std::vector<double>;

struct Unit {
    const uint8_t* data;
    int size;
    int key;
};

struct Clip {
    std::string path;
    int width = 0, height = 0;
    Bytes bytes;
    std::vector<Unit> units;
};

// Splits at each access unit delimiter (NAL type 9); a unit with an IDR
// slice (type 5) is a key frame.
std::vector<Unit> SplitAccessUnits(const Bytes& clip) {
    std::vector<Unit> units;
    for (size_t i = 0; i + 3 < clip.size(); ++i) {
        if (clip[i] != 0 || clip[i + 1] != 0 || clip[i + 2] != 1)
            continue;
        const int type = clip[i + 3] & 0x1f;
        if (type == 9)
            units.push_back(Unit{clip.data() + (i > 0 && clip[i - 1] == 0 ? i - 1 : i), 0, 0});
        else if (type == 5 && !units.empty())
            units.back().key = 1;
        i += 3;
    }
    for (size_t k = 0; k < units.size(); ++k) {
        const uint8_t* end = k + 1 < units.size() ? units[k + 1].data : clip.data() + clip.size();
        units[k].size = static_cast<int>(end - units[k].data);
    }
    return units;
}

double Now() {
    LARGE_INTEGER t, frequency;
    QueryPerformanceCounter(&t);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(t.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double Median(Times values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

double Mean(const Times& values) {
    return std::accumulate(values.begin(), values.end(), 0.0) / static_cast<double>(values.size());
}

LRESULT CALLBACK PlainProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    return DefWindowProcA(hwnd, msg, wp, lp);
}

void Pump() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

// Runs the window's message loop until `when` (Now's clock), as the thread
// that owns a plug-in window does: woken by any message, sent ones included.
void WaitUntil(double when) {
    for (double left = when - Now(); left > 0; left = when - Now()) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left * 1e3) + 1,
                                  QS_ALLINPUT);
        Pump();
    }
}

HWND MakeWindow(int width, int height) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = PlainProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    wc.lpszClassName = "camvue-render-bench";
    RegisterClassA(&wc);
    HWND hwnd = CreateWindowExA(0, wc.lpszClassName, "render-bench", WS_POPUP | WS_VISIBLE, 0, 0,
                                width, height, nullptr, nullptr, wc.hInstance, nullptr);
    Pump();
    return hwnd;
}

void Push(StreamCore* core, const Unit& unit, const Clip& clip, uint64_t pts) {
    camvue::CoreFrameCallback(
        reinterpret_cast<camvue::FrameDescriptor*>(core), reinterpret_cast<uintptr_t>(unit.data),
        static_cast<uintptr_t>(unit.size), static_cast<uintptr_t>(unit.key), 0, 0, 0,
        static_cast<uintptr_t>(clip.width), static_cast<uintptr_t>(clip.height),
        static_cast<uint32_t>(pts), static_cast<uint32_t>(pts >> 32), 0, camvue::kCodecH264);
}

bool Lock(IDirectDrawSurface7* surface, DWORD flags, DDSURFACEDESC2* desc) {
    std::memset(desc, 0, sizeof *desc);
    desc->dwSize = sizeof *desc;
    return SUCCEEDED(surface->Lock(nullptr, desc, DDLOCK_WAIT | flags, nullptr));
}

// The renderer's surface copy as Show makes it, on its own shadow surface:
// Y rows at the pitch, then V and U at half the pitch.
bool SurfaceCopy(IDirectDrawSurface7* surface, int width, int height, const uint8_t* picture) {
    DDSURFACEDESC2 desc;
    if (!Lock(surface, DDLOCK_WRITEONLY, &desc))
        return false;
    auto* out = static_cast<uint8_t*>(desc.lpSurface);
    const size_t w = static_cast<size_t>(width), h = static_cast<size_t>(height);
    const size_t pitch = static_cast<size_t>(desc.lPitch);
    for (size_t row = 0; row < h; ++row, out += pitch)
        std::memcpy(out, picture + row * w, w);
    for (size_t plane = w * h; plane < w * h * 3 / 2; plane += w * h / 4)
        for (size_t row = 0; row < h / 2; ++row, out += pitch / 2)
            std::memcpy(out, picture + plane + row * (w / 2), w / 2);
    return SUCCEEDED(surface->Unlock(nullptr));
}

// Waits until DirectDraw is done with a surface (a lock waits for the blits
// pending from it).
void Settle(IDirectDrawSurface7* surface) {
    DDSURFACEDESC2 desc;
    if (Lock(surface, DDLOCK_READONLY, &desc))
        surface->Unlock(nullptr);
}

// CPU time so far in ms: this process's (kernel + user) and the machine's
// (every processor's busy time, the wineserver's and the X server's too).
struct Cpu {
    double process, machine, wall;
    // ms per second of wall time since `from`
    Cpu Since(const Cpu& from) const {
        const double s = wall - from.wall;
        return Cpu{(process - from.process) / s, (machine - from.machine) / s, s};
    }
};

Cpu CpuTimes() {
    auto ms = [](FILETIME v) {
        return static_cast<double>((static_cast<uint64_t>(v.dwHighDateTime) << 32) |
                                   v.dwLowDateTime) /
               1e4;
    };
    FILETIME created, exited, kernel, user, idle, allKernel, allUser;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    GetSystemTimes(&idle, &allKernel, &allUser);  // kernel time includes idle time
    return Cpu{ms(kernel) + ms(user), ms(allKernel) + ms(allUser) - ms(idle), Now()};
}

Cpu IdleCpu(double seconds) {
    const Cpu start = CpuTimes();
    Sleep(static_cast<DWORD>(seconds * 1000));
    return CpuTimes().Since(start);
}

// The render thread's repaint request after each draw step: the time per
// picture (the presentation time of the frame last taken is its index
// times the period), read once the thread has ended.
struct Repaints {
    StreamCore* core = nullptr;
    uint64_t period = 1;
    Times done;
    volatile LONG recorded = 0;
} g_repaints;

void OnRepaint(camvue::NPP, camvue::NPRect*) {
    const double now = Now();
    const uint64_t index = g_repaints.core->pts / g_repaints.period;
    if (index < g_repaints.done.size() && g_repaints.done[index] == 0) {
        g_repaints.done[index] = now;
        InterlockedIncrement(&g_repaints.recorded);
    }
}

enum Part { kIn, kOut, kDecode, kSurface, kBlitCall, kBlitDone, kShow, kStep, kTotal, kParts };

struct Figures {
    double part[kParts] = {};  // per picture: mean over the clip, median of the rounds
    double latency = 0, decodeMedian = 0;
    double threadLatency = 0, threadHigh = 0;
    size_t drawn = 0;
    double processCpu = 0, machineCpu = 0;  // ms per second over the rounds
};

void RenderThreadPass(const Clip& clip, PluginInstance* instance, int fps, Figures* f) {
    const size_t count = clip.units.size();
    const uint64_t period = 10000000 / static_cast<uint64_t>(fps);
    camvue::NPP_t npp = {};
    g_repaints.core = instance->core;
    g_repaints.period = period;
    g_repaints.done.assign(count, 0);
    g_repaints.recorded = 0;
    camvue::g_invalidateRect = OnRepaint;
    instance->npp = &npp;
    if (camvue::StartRenderThread(instance)) {
        Times entry(count);
        const double start = Now();
        for (size_t i = 0; i < count; ++i) {
            WaitUntil(start + static_cast<double>(i) / fps);
            entry[i] = Now();
            Push(instance->core, clip.units[i], clip, i * period);
        }
        for (int i = 0; i < 200 && g_repaints.recorded < static_cast<LONG>(count); ++i)
            WaitUntil(Now() + 0.01);
        camvue::StopRenderThread(instance);
        Times latency;
        for (size_t i = 0; i < count; ++i)
            if (g_repaints.done[i] != 0)
                latency.push_back(g_repaints.done[i] - entry[i]);
        f->drawn = latency.size();
        std::sort(latency.begin(), latency.end());
        f->threadLatency = Median(latency) * 1e3;
        f->threadHigh = latency.empty() ? 0 : latency[latency.size() * 9 / 10] * 1e3;
    }
    camvue::g_invalidateRect = nullptr;
    instance->npp = nullptr;
}

bool RunClip(const Clip& clip, HWND hwnd, int rounds, int fps, Figures* f) {
    const size_t count = clip.units.size();
    PluginInstance* instance = camvue::InstanceCreate();
    StreamCore* core = camvue::CoreCreate();
    CodecModule* module = nullptr;
    if (instance == nullptr || core == nullptr ||
        CodecModule::Ensure(&module, camvue::kCodecH264, camvue::g_shellSeams.codecFolder) != 0 ||
        !CodecModule::Loaded(module))
        return false;
    camvue::NPWindow window = {};
    RECT rect = {};
    GetClientRect(hwnd, &rect);
    window.window = hwnd;
    window.width = static_cast<uint32_t>(rect.right);
    window.height = static_cast<uint32_t>(rect.bottom);
    instance->hwnd = hwnd;
    GetWindowRect(hwnd, &instance->windowRect);
    instance->npWindow = &window;
    instance->core = core;
    camvue::mStructRenderer& renderer = instance->renderer;
    bool ok = renderer.Init(hwnd, clip.width, clip.height, 1) == 1;
    CodecModule::Announce(module, clip.width, clip.height);
    const int frameBytes = clip.width * clip.height * 3 / 2;
    DDBLTFX fx;
    std::memset(&fx, 0, sizeof fx);
    fx.dwSize = sizeof fx;
    fx.dwROP = SRCCOPY;

    // Surface copy, blit and Show take no content from the clip: the last
    // picture, on fewer samples (each waits for a blit).
    const size_t samples = std::min<size_t>(count, 25);
    std::vector<Times> t(kParts, Times(count)), perRound(kParts);
    for (Part k : {kSurface, kBlitCall, kBlitDone, kShow})
        t[k].resize(samples);
    Times allTotal, allDecode;
    void* spare = nullptr;
    camvue::SpinLock spareLock("render-bench");
    HDC dc = GetDC(hwnd);
    Cpu cpu = CpuTimes();
    // Round 0 warms up (surfaces, decoder, caches) and is not counted.
    for (int round = 0; ok && round <= rounds; ++round) {
        const double start = Now();
        for (size_t i = 0; ok && i < count; ++i) {
            Settle(renderer.shadow);
            WaitUntil(start + static_cast<double>(i) / fps);
            const double t0 = Now();
            Push(core, clip.units[i], clip, i);
            const double t1 = Now();
            ok = camvue::DrawStep(dc, instance, hwnd);
            const double t2 = Now();
            t[kIn][i] = t1 - t0, t[kStep][i] = t2 - t1, t[kTotal][i] = t2 - t0;
            Pump();
        }
        const uint8_t* picture = nullptr;
        int size = 0;
        ok = ok && CodecModule::LastPicture(core->codec, &picture, &size) && size == frameBytes;
        // Decode as the pipeline does: at the stream's rate, each picture
        // shown (untimed), so that caches and the display's work are alike.
        const double again = Now();
        for (size_t i = 0; ok && i < count; ++i) {
            const Unit& unit = clip.units[i];
            Settle(renderer.shadow);
            WaitUntil(again + static_cast<double>(i) / fps);
            double t0 = Now();
            ok = CodecModule::Decode(module, unit.data, unit.size, &picture, &size, nullptr) ==
                     frameBytes &&
                 picture != nullptr;
            t[kDecode][i] = Now() - t0;
            renderer.Show(clip.width, clip.height, picture, nullptr);
            t0 = Now();
            {
                camvue::SpinLockGuard ring(spareLock, "copy out");
                spare = AlignedBlock::Reallocate(unit.size, spare, false);
                std::memcpy(spare, unit.data, static_cast<size_t>(unit.size));
            }
            t[kOut][i] = Now() - t0;
        }
        const Bytes last(picture, picture + (ok ? frameBytes : 0));
        GetWindowRect(hwnd, &rect);
        for (size_t i = 0; ok && i < samples; ++i) {
            Settle(renderer.shadow);
            double t0 = Now();
            ok = SurfaceCopy(renderer.shadow, clip.width, clip.height, last.data());
            t[kSurface][i] = Now() - t0;
            t0 = Now();
            renderer.primary->Blt(&rect, renderer.shadow, nullptr,
                                  DDBLT_ASYNC | DDBLT_ROP | DDBLT_DONOTWAIT, &fx);
            t[kBlitCall][i] = Now() - t0;
            Settle(renderer.shadow);
            t[kBlitDone][i] = Now() - t0;
            t0 = Now();
            ok = ok && renderer.Show(clip.width, clip.height, last.data(), nullptr) == 1;
            t[kShow][i] = Now() - t0;
        }
        if (round == 0) {
            cpu = CpuTimes();
            continue;
        }
        for (size_t k = 0; k < kParts; ++k)
            perRound[k].push_back(Mean(t[k]));
        allTotal.insert(allTotal.end(), t[kTotal].begin(), t[kTotal].end());
        allDecode.insert(allDecode.end(), t[kDecode].begin(), t[kDecode].end());
    }
    ReleaseDC(hwnd, dc);
    cpu = CpuTimes().Since(cpu);
    f->processCpu = cpu.process, f->machineCpu = cpu.machine;
    for (size_t k = 0; k < kParts; ++k)
        f->part[k] = Median(perRound[k]) * 1e3;
    f->latency = Median(allTotal) * 1e3;
    f->decodeMedian = Median(allDecode) * 1e3;
    if (ok)
        RenderThreadPass(clip, instance, fps, f);

    AlignedBlock::Free(spare);
    CodecModule::FreeModule(module);
    renderer.Teardown();
    camvue::CoreDestroy(core);
    camvue::InstanceFree(instance);
    return ok;
}

// Prints one clip's figures; false when a goal is missed.
bool Report(const Clip& clip, const Figures& f, int rounds, int fps) {
    const double* p = f.part;
    const char* const lines[kParts][2] = {
        {"ring copy in", "CoreFrameCallback, in the pipeline"},
        {"copy out", "the take replayed: lock, grow-only block, memcpy"},
        {"decode", "CodecModule::Decode of the same units, second module, paced"},
        {"surface copy", "Lock + rows + Unlock of the renderer's surface"},
        {"blit call", "Blt as Show issues it (asynchronous)"},
        {"blit complete", "Blt until the surface is free again"},
        {"Show", "renderer.Show alone: surface copy + blit call"},
        {"DrawStep", "take + decode + Show, in the pipeline"},
        {"total", "callback entry to DrawStep (Show) return, in the pipeline"}};
    std::printf("%dx%d, %zu pictures; ms per picture, mean over the clip, median of %d rounds:\n",
                clip.width, clip.height, clip.units.size(), rounds);
    for (size_t k = 0; k < kParts; ++k)
        std::printf("  %-14s %9.3f  %s\n", lines[k][0], p[k], lines[k][1]);
    std::printf("  unattributed   %+9.3f  total - (in + out + decode + Show)\n",
                p[kTotal] - p[kIn] - p[kOut] - p[kDecode] - p[kShow]);
    std::printf("  CPU over the rounds: this process %.0f ms/s, the machine %.0f ms/s of %lu\n",
                f.processCpu, f.machineCpu, GetActiveProcessorCount(ALL_PROCESSOR_GROUPS) * 1000ul);
    const double rest = p[kTotal] - p[kDecode] - p[kBlitCall], share = rest / p[kDecode] * 100;
    const bool judged = clip.height >= 1080, shareOk = !judged || share <= 10;
    std::printf(
        "  goal: total - decode - blit call = %.3f ms = %.1f %% of decode (the copies in, "
        "out, surface: %.3f ms), <= 10 %% at 1080p: %s\n",
        rest, share, p[kIn] + p[kOut] + p[kSurface],
        !judged   ? "not judged"
        : shareOk ? "met"
                  : "MISSED");
    const double bound = f.decodeMedian + 3;
    const bool latencyOk = f.latency <= bound;
    const bool threadOk = f.drawn == clip.units.size() && f.threadLatency <= bound;
    std::printf(
        "  goal: callback entry to Show return, median, <= decode median %.3f + 3 ms:\n"
        "    pipeline                 %8.3f ms: %s\n"
        "    render thread at %2d fps  %8.3f ms (90th percentile %.3f ms; %zu of %zu "
        "drawn): %s\n",
        f.decodeMedian, f.latency, latencyOk ? "met" : "MISSED", fps, f.threadLatency, f.threadHigh,
        f.drawn, clip.units.size(), threadOk ? "met" : "MISSED");
    return shareOk && latencyOk && threadOk;
}

bool ParseClip(const char* value, Clip* clip) {
    int used = 0;
    if (std::sscanf(value, "%dx%d:%n", &clip->width, &clip->height, &used) != 2 || used == 0 ||
        clip->width <= 0 || clip->height <= 0)
        return false;
    clip->path = camvue_bench::WindowsPath(value + used);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<Clip> clips;
    std::string folder;
    int rounds = 5, fps = 25;
    double idleSeconds = 3;
    bool usage = argc % 2 == 0;
    for (int i = 1; !usage && i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        const char* value = argv[i + 1];
        if (key == "--clip") {
            clips.emplace_back();
            usage = !ParseClip(value, &clips.back());
        } else if (key == "--codecs") {
            folder = camvue_bench::WindowsPath(value);
            if (!folder.empty() && folder.back() != '\\')
                folder += '\\';
        } else if (key == "--rounds") {
            rounds = std::max(1, std::atoi(value));
        } else if (key == "--fps") {
            fps = std::max(1, std::atoi(value));
        } else if (key == "--idle-seconds") {
            idleSeconds = std::max(0.5, std::atof(value));
        } else {
            usage = true;
        }
    }
    if (usage || clips.empty() || folder.empty()) {
        std::fprintf(stderr,
                     "usage: render-bench --codecs FOLDER --clip WIDTHxHEIGHT:FILE.h264 "
                     "[--clip ...] [--rounds N] [--fps N] [--idle-seconds S]\n");
        return 1;
    }
    for (Clip& clip : clips) {
        if (camvue_bench::ReadWholeFile(clip.path, &clip.bytes))
            clip.units = SplitAccessUnits(clip.bytes);
        if (clip.units.size() < 2) {
            std::fprintf(stderr, "render-bench: %s is missing or has no access unit delimiters\n",
                         clip.path.c_str());
            return 1;
        }
    }
    camvue::g_shellSeams.codecFolder = folder.c_str();

    // Idle first, before DirectDraw or a decoder brings threads of its own.
    const Cpu bare = IdleCpu(idleSeconds);
    StreamCore* idle = camvue::CoreCreate();
    const Cpu withCore = IdleCpu(idleSeconds);
    camvue::CoreDestroy(idle);
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    const double setStart = Now();
    for (int i = 0; i < 1000; ++i)
        SetEvent(event);
    const double setEventUs = (Now() - setStart) * 1e3;
    CloseHandle(event);

    HWND hwnd = MakeWindow(1280, 720);
    if (hwnd == nullptr) {
        std::fprintf(stderr, "render-bench: no window (is DISPLAY set?)\n");
        return 1;
    }
    int status = 0;
    for (const Clip& clip : clips) {
        Figures f;
        if (!RunClip(clip, hwnd, rounds, fps, &f)) {
            std::fprintf(stderr, "render-bench: %s failed (codec, renderer or a picture)\n",
                         clip.path.c_str());
            return 1;
        }
        if (!Report(clip, f, rounds, fps))
            status = 3;
    }
    std::printf(
        "idle CPU over %.1f s, ms per second: this process %.2f with no core, %.2f with "
        "one idle core; the machine %.2f and %.2f (the wineserver included)\n",
        idleSeconds, bare.process, withCore.process, bare.machine, withCore.machine);
    std::printf("for scale: SetEvent (the ring's wake-up, a wineserver call under wine) %.1f us\n",
                setEventUs);
    DestroyWindow(hwnd);
    return status;
}
