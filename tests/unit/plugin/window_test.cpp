// Plug-in instances on real windows: attach once, the subclassing and its
// undoing per window, the paint path.
#include <gtest/gtest.h>
#include <windows.h>

#include "npcamvue/shell/instance_lifecycle.h"
#include "npcamvue/shell/plugin_funcs.h"
#include "npcamvue/shell/shell_seams.h"
#include "tests/unit/plugin/plugin_page.h"
#include "tests/unit/render/screen.h"

namespace {

using namespace camvue;
using namespace camvue_test;

LRESULT CALLBACK ProcA(HWND h, UINT m, WPARAM w, LPARAM l) {
    return DefWindowProcA(h, m, w, l);
}
LRESULT CALLBACK ProcB(HWND h, UINT m, WPARAM w, LPARAM l) {
    return DefWindowProcA(h, m, w, l);
}

// No DirectDraw: the renderer stays empty, which spares its start-up.
HRESULT NoDirectDraw(GUID*, void**, REFIID, void*) {
    return E_FAIL;
}

WNDPROC ProcOf(HWND hwnd) {
    return reinterpret_cast<WNDPROC>(GetWindowLongPtrA(hwnd, GWLP_WNDPROC));
}

NPWindow WindowOf(HWND hwnd, uint32_t w, uint32_t h) {
    NPWindow window = {};
    window.window = hwnd;
    window.width = w;
    window.height = h;
    window.type = NPWindowTypeWindow;
    return window;
}

class PluginWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        StartPlugin();
        g_shellSeams.createDirectDraw = NoDirectDraw;
        a_ = MakeWindow(0, 0, 64, 48);
        b_ = MakeWindow(100, 0, 80, 60);
        SetWindowLongPtrA(a_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ProcA));
        SetWindowLongPtrA(b_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ProcB));
    }
    void TearDown() override {
        DestroyWindow(a_);
        DestroyWindow(b_);
        ResetShellSeams();
    }
    HWND a_ = nullptr;
    HWND b_ = nullptr;
};

TEST_F(PluginWindow, EachDetachRestoresItsOwnWindowsProcedure) {
    for (bool firstGoesFirst : {true, false}) {
        SCOPED_TRACE(firstGoesFirst ? "first destroyed first" : "second destroyed first");
        auto one = std::make_unique<Embed>("one", Params{});
        auto two = std::make_unique<Embed>("two", Params{});
        NPWindow wa = WindowOf(a_, 64, 48);
        NPWindow wb = WindowOf(b_, 80, 60);
        ASSERT_EQ(0, NppSetWindow(one->npp(), &wa));
        ASSERT_EQ(0, NppSetWindow(two->npp(), &wb));
        EXPECT_EQ(&PluginWindowProc, ProcOf(a_));
        EXPECT_EQ(&PluginWindowProc, ProcOf(b_));
        EXPECT_EQ(reinterpret_cast<LONG_PTR>(one->instance()),
                  GetWindowLongPtrA(a_, GWLP_USERDATA));
        EXPECT_NE(nullptr, one->instance()->renderThread);
        HWND firstWindow = firstGoesFirst ? a_ : b_;
        HWND secondWindow = firstGoesFirst ? b_ : a_;
        WNDPROC firstProc = firstGoesFirst ? &ProcA : &ProcB;
        WNDPROC secondProc = firstGoesFirst ? &ProcB : &ProcA;
        (firstGoesFirst ? one : two).reset();
        EXPECT_EQ(firstProc, ProcOf(firstWindow));
        EXPECT_EQ(0, GetWindowLongPtrA(firstWindow, GWLP_USERDATA));
        EXPECT_EQ(&PluginWindowProc, ProcOf(secondWindow));
        (firstGoesFirst ? two : one).reset();
        EXPECT_EQ(secondProc, ProcOf(secondWindow));
        EXPECT_EQ(nullptr, FindCore("one"));
    }
}

TEST_F(PluginWindow, AttachesOnceThenFollowsTheRectangle) {
    Embed embed("cam", {});
    NPWindow none = WindowOf(nullptr, 0, 0);
    EXPECT_EQ(0, NppSetWindow(embed.npp(), &none));
    EXPECT_EQ(0, embed.instance()->attached);
    EXPECT_EQ(nullptr, embed.instance()->renderThread);

    NPWindow wa = WindowOf(a_, 64, 48);
    ASSERT_EQ(0, NppSetWindow(embed.npp(), &wa));
    PluginInstance* instance = embed.instance();
    EXPECT_EQ(1, instance->attached);
    EXPECT_EQ(a_, instance->hwnd);
    HANDLE thread = instance->renderThread;
    EXPECT_NE(nullptr, thread);
    RECT ra = {};
    GetWindowRect(a_, &ra);
    EXPECT_TRUE(EqualRect(&ra, &instance->windowRect));

    NPWindow wb = WindowOf(b_, 80, 60);
    ASSERT_EQ(0, NppSetWindow(embed.npp(), &wb));
    EXPECT_EQ(a_, instance->hwnd);
    EXPECT_EQ(&ProcB, ProcOf(b_));
    EXPECT_EQ(thread, instance->renderThread);
    RECT rb = {};
    GetWindowRect(b_, &rb);
    EXPECT_TRUE(EqualRect(&rb, &instance->windowRect));
    // The instance keeps its own copy of what it was given.
    wb.width = 1;
    EXPECT_EQ(80u, instance->npWindow->width);

    // A paint through the subclassed window draws the empty frame (white,
    // black outline) with no frame received.
    InvalidateRect(a_, nullptr, FALSE);
    UpdateWindow(a_);
    HDC dc = GetDC(a_);
    EXPECT_EQ(RGB(255, 255, 255), GetPixel(dc, 10, 10));
    EXPECT_EQ(RGB(0, 0, 0), GetPixel(dc, 0, 0));
    ReleaseDC(a_, dc);
    EXPECT_EQ(0, embed.Destroy());
    EXPECT_EQ(&ProcA, ProcOf(a_));
}

}  // namespace
