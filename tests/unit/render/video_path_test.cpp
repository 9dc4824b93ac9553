// The frame ring, the frame callback and the draw step on real windows:
// what is taken, drawn, redrawn or written as a statistics line, read back
// from the screen (DirectDraw) or the window (GDI).
#include "tests/unit/render/video_path.h"

#include <gtest/gtest.h>
#include <winsock2.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "npcamvue/rtp/frame_descriptor.h"
#include "npcamvue/shell/codec_module.h"
#include "npcamvue/shell/draw_step.h"
#include "npcamvue/shell/shell_seams.h"
#include "npcamvue/shell/stream_core.h"
#include "tests/support/fixture_files.h"
#include "tests/unit/render/screen.h"

namespace {

using camvue::FrameSlot;
using camvue::StreamCore;
using camvue_test::PushFrame;
using camvue_test::Rgb;
using camvue_test::TestInstance;
using camvue_test::TextLog;

constexpr Rgb kWhite = {255, 255, 255};
constexpr Rgb kBlack = {0, 0, 0};

std::vector<uint8_t> Bytes(size_t n, uint8_t fill) {
    return std::vector<uint8_t>(n, fill);
}

FrameSlot* Slot(StreamCore* core, int i) {
    return static_cast<FrameSlot*>(core->frames.items[i]);
}

bool Woken(StreamCore* core) {
    return WaitForSingleObject(core->wakeEvent, 0) == WAIT_OBJECT_0;
}

Rgb WindowPixel(HWND hwnd, int x, int y) {
    HDC dc = GetDC(hwnd);
    const COLORREF c = GetPixel(dc, x, y);
    ReleaseDC(hwnd, dc);
    return {GetRValue(c), GetGValue(c), GetBValue(c)};
}

class VideoPath : public ::testing::Test {
  protected:
    void SetUp() override {
        camvue::ResetShellSeams();
        TextLog::Install();
        noCodecs_ = camvue_test::EmptyFolder();
        codecs_ = camvue_test::CodecFolder();
        camvue::g_shellSeams.codecFolder = noCodecs_.c_str();
    }
    void TearDown() override { camvue::ResetShellSeams(); }
    std::string noCodecs_, codecs_;
};

// Both argument forms store the same frame; frames without a core, data or
// length change nothing and wake nobody. A kept core attached again asks for
// a redraw.
TEST_F(VideoPath, FrameCallbackFormsAndFramesThatAreDropped) {
    TestInstance view("callback-forms", 0, 0, 64, 48);
    StreamCore* core = view.core();
    ASSERT_NE(core, nullptr);
    const std::vector<uint8_t> frame = {1, 2, 3, 4, 5};

    camvue::FrameDescriptor d = {};
    d.userData = core;
    d.data = frame.data();
    d.length = 5;
    d.key = 1;
    d.width = 352;
    d.height = 288;
    d.ptsLow = 0x89ABCDEF;
    d.ptsHigh = 0x01234567;
    d.codecKind = 2;
    camvue::CoreFrameCallback(&d, 0, 0, 7, 7, 7, 7, 7, 7, 7, 7, 0, 7);
    PushFrame(core, frame, 1, 352, 288, 0x0123456789ABCDEFull, 2);
    EXPECT_TRUE(Woken(core));
    EXPECT_EQ(core->writeIndex, 2);
    EXPECT_EQ(core->framesReceived, 2);
    for (int i = 0; i < 2; ++i) {
        const FrameSlot* s = Slot(core, i);
        EXPECT_EQ(s->length, 5);
        EXPECT_EQ(std::memcmp(s->data, frame.data(), 5), 0);
        EXPECT_EQ(s->key, 1);
        EXPECT_EQ(s->width, 352);
        EXPECT_EQ(s->height, 288);
        EXPECT_EQ(s->pts, 0x0123456789ABCDEFull);
        EXPECT_EQ(s->codecKind, 2);
    }

    camvue::FrameDescriptor empty = d;
    empty.length = 0;
    camvue::FrameDescriptor noData = d;
    noData.data = nullptr;
    camvue::FrameDescriptor noCore = d;
    noCore.userData = nullptr;
    for (camvue::FrameDescriptor* bad : {&empty, &noData, &noCore})
        camvue::CoreFrameCallback(bad, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0);
    // Argument form: length 0 with data (null data and length 0 would be
    // the descriptor form).
    camvue::CoreFrameCallback(reinterpret_cast<camvue::FrameDescriptor*>(core),
                              reinterpret_cast<uintptr_t>(frame.data()), 0, 0, 0, 0, 0, 1, 1, 0, 0,
                              0, 2);
    PushFrame(nullptr, frame, 1, 1, 1, 1, 2);
    camvue::CoreFrameCallback(reinterpret_cast<camvue::FrameDescriptor*>(core), 0, 5, 0, 0, 0, 0, 1,
                              1, 0, 0, 1, 2);  // null data, argument form
    EXPECT_FALSE(Woken(core));
    EXPECT_EQ(core->writeIndex, 2);
    EXPECT_EQ(core->framesReceived, 2);

    core->keepAlive = 1;
    core->redrawRequested = 0;
    TestInstance again("callback-forms", 0, 60, 64, 48);
    EXPECT_EQ(again.core(), core);
    EXPECT_EQ(core->refCount, 2);
    EXPECT_EQ(core->redrawRequested, 1);
    EXPECT_TRUE(Woken(core));
    core->keepAlive = 0;
}

// A full lap of the ring looks empty; the next frame is drawn (the newest),
// and slot and frame buffers only grow.
TEST_F(VideoPath, RingLappedByTheWriterDrawsTheNewestAndBuffersOnlyGrow) {
    TestInstance view("lapped", 0, 0, 320, 240);
    StreamCore* core = view.core();
    for (int i = 0; i < StreamCore::kSlots; ++i)
        PushFrame(core, Bytes(1000 - i, 0x11), 0, 352, 288, 100 + i, 2);
    std::vector<uint8_t*> blocks;
    for (int i = 0; i < StreamCore::kSlots; ++i)
        blocks.push_back(Slot(core, i)->data);
    EXPECT_FALSE(view.Draw());  // readIndex == writeIndex: looks empty
    EXPECT_TRUE(TextLog::Take().empty());

    PushFrame(core, Bytes(900, 0x22), 1, 352, 288, 5000, 2);
    EXPECT_TRUE(view.Draw());
    EXPECT_FALSE(view.Draw());
    const std::vector<std::string> texts = TextLog::Take();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_NE(texts[0].find("key=1 size=    900 time=5000 "), std::string::npos) << texts[0];
    const uint8_t* frameBuffer = view.get()->frameBuffer;

    for (int i = 0; i < 3 * StreamCore::kSlots; ++i) {
        PushFrame(core, Bytes(500 + i % 400, 0x33), 0, 352, 288, 6000 + i, 2);
        if (i % 7 == 0)
            view.Draw();
    }
    for (int i = 0; i < StreamCore::kSlots; ++i)
        EXPECT_EQ(Slot(core, i)->data, blocks[i]) << "slot " << i;
    EXPECT_EQ(view.get()->frameBuffer, frameBuffer);
    const int grown = core->writeIndex;
    PushFrame(core, Bytes(4000, 0x44), 0, 352, 288, 9000, 2);
    EXPECT_NE(Slot(core, grown)->data, blocks[grown]);
    EXPECT_EQ(Slot(core, grown)->length, 4000);
}

// Without a codec library every frame becomes the statistics line: the 42nd
// frame, 352x288, key, 812 bytes at 900, in a 640x480 client area.
TEST_F(VideoPath, StatisticsLineWithoutACodecLibrary) {
    TestInstance view("statistics", 0, 0, 640, 480);
    StreamCore* core = view.core();
    for (int i = 1; i < 42; ++i) {
        PushFrame(core, Bytes(100, 0), 0, 16, 16, i, 2);
        EXPECT_TRUE(view.Draw());
    }
    PushFrame(core, Bytes(812, 0), 1, 352, 288, 900, 2);
    EXPECT_TRUE(view.Draw());
    std::vector<std::string> texts = TextLog::Take();
    ASSERT_EQ(texts.size(), 42u);
    EXPECT_EQ(texts.back(), "[00042][352x288] key=1 size=    812 time=900 osize=0 [640x480]");
    EXPECT_FALSE(camvue::CodecModule::Loaded(core->codec));

    char text[512];
    camvue::FormatStatistics(text, sizeof text, 123456, 1920, 1080, 0, 12345678,
                             0xFFFFFFFFFFFFFFFFull, 0, 1, 2);
    EXPECT_STREQ(text,
                 "[123456][1920x1080] key=0 size=12345678 time=18446744073709551615 "
                 "osize=0 [1x2]");
}

// With the codec libraries: no picture yet draws the white frame with its
// black outline; a JPEG shows its bars; a frame that does not decode, an
// frame announced larger than its picture redraw the last picture (at the
// window size the instance holds) or, with none that fits, the white frame;
// an MPEG-4 frame drops the JPEG binding.
TEST_F(VideoPath, DecodedPicturesAndEveryFallback) {
    camvue::g_shellSeams.codecFolder = codecs_.c_str();
    std::vector<uint8_t> bars;
    ASSERT_TRUE(
        camvue::test_support::ReadFileBytes(CAMVUE_RENDER_FIXTURES "bars_320x240.jpg", &bars));
    TestInstance view("decoded", 40, 40, 400, 300);
    StreamCore* core = view.core();
    camvue_test::ScreenReader screen(&view.get()->renderer.primary, &view.get()->lock);
    const RECT r = view.screenRect();
    auto expectBars = [&](int width, const std::vector<Rgb>& colours) {
        SCOPED_TRACE(core->pts);
        for (size_t i = 0; i < colours.size(); ++i) {
            const int x = r.left + static_cast<int>((2 * i + 1) * width / 8);
            EXPECT_TRUE(screen.WaitFor(x, r.top + 100, colours[i]))
                << "bar " << i << ": " << screen.At(x, r.top + 100).r << " "
                << screen.At(x, r.top + 100).g << " " << screen.At(x, r.top + 100).b;
        }
    };
    auto expectWhiteFrame = [&] {
        EXPECT_TRUE(camvue_test::Near(WindowPixel(view.hwnd(), 200, 150), kWhite, 8));
        EXPECT_TRUE(camvue_test::Near(WindowPixel(view.hwnd(), 0, 150), kBlack, 8));
        EXPECT_TRUE(camvue_test::Near(WindowPixel(view.hwnd(), 399, 299), kBlack, 8));
    };

    EXPECT_FALSE(view.Draw());
    expectWhiteFrame();

    PushFrame(core, bars, 1, 320, 240, 1, 1);
    EXPECT_TRUE(view.Draw());
    expectBars(400, camvue_test::kFourBars);
    EXPECT_TRUE(camvue::CodecModule::Loaded(core->codec));

    // The redraw uses the instance's window size: a 200-wide area shows all
    // four bars in the left half.
    view.get()->windowRect.right = view.get()->windowRect.left + 200;
    PushFrame(core, Bytes(300, 0), 1, 320, 240, 2, 1);  // not a JPEG
    EXPECT_TRUE(view.Draw());
    expectBars(200, camvue_test::kFourBars);
    EXPECT_EQ(core->pts, 2u);

    // MPEG-4 has no binding: the JPEG module goes, and with it the last
    // picture.
    view.get()->windowRect.right = view.get()->windowRect.left + 400;
    PushFrame(core, Bytes(300, 0), 1, 320, 240, 3, 3);
    EXPECT_TRUE(view.Draw());
    expectWhiteFrame();
    EXPECT_EQ(core->codec, nullptr);
    EXPECT_EQ(core->codecKind, 3);

    // Announced 640x480 while the JPEG holds 320x240: the picture is too
    // small for the announced size, so neither it nor the last picture is
    // read at that size.
    PushFrame(core, bars, 1, 640, 480, 4, 1);
    EXPECT_TRUE(view.Draw());
    expectWhiteFrame();

    // A forgotten last picture (as instance release leaves it) is not
    // redrawn.
    PushFrame(core, bars, 1, 320, 240, 5, 1);
    EXPECT_TRUE(view.Draw());
    expectBars(400, camvue_test::kFourBars);
    camvue::CodecModule::ForgetLastPicture(core->codec);
    PushFrame(core, Bytes(300, 0), 1, 320, 240, 6, 1);
    EXPECT_TRUE(view.Draw());
    expectWhiteFrame();
}

std::atomic<int> g_invalidations{0};
std::atomic<int> g_badRects{0};
camvue::NPP_t g_npp = {};

void CountInvalidation(camvue::NPP npp, camvue::NPRect* rect) {
    ++g_invalidations;
    if (npp != &g_npp || rect->top != 0 || rect->left != 0 || rect->right != 160 ||
        rect->bottom != 120)
        ++g_badRects;
}

// Two instances of one element, each with its render thread, share the
// ring: every frame is drawn by exactly one of them, and each draw asks the
// browser to repaint the whole plug-in area.
TEST_F(VideoPath, TwoRenderThreadsOnOneCoreDrawEachFrameOnce) {
    TestInstance a("shared", 0, 0, 160, 120);
    TestInstance b("shared", 200, 0, 160, 120);
    StreamCore* core = a.core();
    ASSERT_EQ(b.core(), core);
    a.get()->npp = &g_npp;
    b.get()->npp = &g_npp;
    camvue::g_invalidateRect = CountInvalidation;
    ASSERT_TRUE(a.StartRendering());
    ASSERT_TRUE(b.StartRendering());
    constexpr int kBursts = 12, kBurst = 50;
    for (int burst = 0; burst < kBursts; ++burst) {
        for (int i = 0; i < kBurst; ++i)
            PushFrame(core, Bytes(64, 0), 0, 16, 16, 1000 + burst * kBurst + i, 2);
        const DWORD start = GetTickCount();
        while (core->readIndex != core->writeIndex && GetTickCount() - start < 10000)
            Sleep(1);
        ASSERT_EQ(core->readIndex, core->writeIndex) << "burst " << burst << " not drained";
    }
    Sleep(50);
    std::map<uint64_t, int> drawn;
    for (const std::string& text : TextLog::Take()) {
        const size_t at = text.find("time=");
        ASSERT_NE(at, std::string::npos) << text;
        ++drawn[std::stoull(text.substr(at + 5))];
    }
    ASSERT_EQ(drawn.size(), static_cast<size_t>(kBursts * kBurst));
    for (const auto& [pts, times] : drawn)
        EXPECT_EQ(times, 1) << "frame " << pts;
    EXPECT_GE(g_invalidations.load(), kBursts * kBurst);
    EXPECT_EQ(g_badRects.load(), 0);
    camvue::g_invalidateRect = nullptr;
}

}  // namespace

namespace {

// A camera that accepts the connection and never answers: the session sits
// in its set-up. Stop ends it within the session's polling interval and no
// new set-up follows; destroying the core while it connects returns only
// after the network thread has ended.
TEST(CoreSession, StopAndDestroyDuringTheSetUp) {
    WSADATA wsa;
    WSAStartup(MAKEWORD(2, 2), &wsa);
    SOCKET silent = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in at = {};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(silent, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
    ASSERT_EQ(listen(silent, 8), 0);
    int length = sizeof at;
    getsockname(silent, reinterpret_cast<sockaddr*>(&at), &length);
    const std::string url = "rtsp://127.0.0.1:" + std::to_string(ntohs(at.sin_port)) + "/x";
    // The next connection within `ms`, or INVALID_SOCKET.
    auto accepted = [&](int ms) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(silent, &readable);
        timeval wait = {ms / 1000, (ms % 1000) * 1000};
        return select(0, &readable, nullptr, nullptr, &wait) == 1 ? accept(silent, nullptr, nullptr)
                                                                  : INVALID_SOCKET;
    };
    // Milliseconds until the client closes `connection` (-1: not within 3 s).
    auto closedAfter = [](SOCKET connection) {
        const DWORD start = GetTickCount();
        u_long on = 1;
        ioctlsocket(connection, FIONBIO, &on);
        char byte;
        while (GetTickCount() - start < 3000) {
            const int n = recv(connection, &byte, 1, 0);
            if (n == 0 || (n < 0 && WSAGetLastError() != WSAEWOULDBLOCK))
                return static_cast<int>(GetTickCount() - start);
            Sleep(2);
        }
        return -1;
    };

    StreamCore* core = camvue::CoreAttach(nullptr, "silent", 6);
    ASSERT_NE(core, nullptr);
    camvue::CoreSetUrl(core, url.c_str());
    InterlockedExchange(&core->playRequested, 1);
    SOCKET first = accepted(5000);
    ASSERT_NE(first, INVALID_SOCKET);
    Sleep(100);  // OPTIONS is out; no answer comes
    InterlockedExchange(&core->playRequested, 0);
    camvue::EventSet(core->abortEvent);
    const int stopMs = closedAfter(first);
    EXPECT_GE(stopMs, 0);
    EXPECT_LT(stopMs, 500);
    EXPECT_EQ(accepted(1000), INVALID_SOCKET) << "a new set-up without a play request";
    closesocket(first);

    InterlockedExchange(&core->playRequested, 1);
    SOCKET second = accepted(5000);
    ASSERT_NE(second, INVALID_SOCKET);
    HANDLE thread = nullptr;
    DuplicateHandle(GetCurrentProcess(), core->networkThread, GetCurrentProcess(), &thread,
                    SYNCHRONIZE, FALSE, 0);
    const DWORD start = GetTickCount();
    InterlockedDecrement(&core->refCount);
    camvue::CoreDestroy(core);
    EXPECT_LT(GetTickCount() - start, 1000u);
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0) << "the network thread still runs";
    EXPECT_GE(closedAfter(second), 0);
    CloseHandle(thread);
    closesocket(second);
    closesocket(silent);
    WSACleanup();
}

}  // namespace
