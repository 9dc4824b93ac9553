// mStructRenderer against wine's DirectDraw on the Xvfb screen: pictures read
// back from the screen, surfaces re-made only when the picture size changes,
// the override area, sizeChanged, and every Init failure with its message.
#include "npcamvue/shell/renderer.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "npcamvue/shell/shell_seams.h"
#include "tests/unit/render/ddraw_faults.h"
#include "tests/unit/render/screen.h"

namespace {

using camvue::g_shellSeams;
using camvue::mStructRenderer;
using camvue_test::ArmDirectDrawFault;
using camvue_test::DdStep;
using camvue_test::DirectDrawCreations;
using camvue_test::kFourBars;
using camvue_test::MakeWindow;
using camvue_test::Rgb;

struct Shown {
    std::string text, caption;
    UINT type;
};
std::vector<Shown> g_shown;

int RecordBox(const char* text, const char* caption, UINT type) {
    g_shown.push_back({text, caption, type});
    return IDOK;
}

class Renderer : public ::testing::Test {
  protected:
    void SetUp() override {
        camvue::ResetShellSeams();
        g_shellSeams.messageBox = RecordBox;
        g_shown.clear();
        ArmDirectDrawFault(DdStep::kNone);
        camvue::RendererClear(&renderer_);
    }
    void TearDown() override {
        renderer_.Teardown();
        for (HWND w : windows_)
            DestroyWindow(w);
        camvue::ResetShellSeams();
    }
    HWND Window(int x, int y, int w, int h, HWND parent = nullptr) {
        HWND hwnd = MakeWindow(x, y, w, h, parent);
        if (parent == nullptr)
            windows_.push_back(hwnd);
        return hwnd;
    }
    // The size of the YV12 surface the renderer holds.
    SIZE ShadowSize() {
        DDSURFACEDESC2 desc = {};
        desc.dwSize = sizeof desc;
        if (renderer_.shadow == nullptr || FAILED(renderer_.shadow->GetSurfaceDesc(&desc)))
            return {0, 0};
        return {static_cast<LONG>(desc.dwWidth), static_cast<LONG>(desc.dwHeight)};
    }
    // The four bars of a picture drawn into `area` (screen), sampled at the
    // middle of each bar.
    void ExpectBars(camvue_test::ScreenReader& screen, RECT area) {
        const int w = area.right - area.left, y = (area.top + area.bottom) / 2;
        for (size_t i = 0; i < kFourBars.size(); ++i) {
            const int x = area.left + static_cast<int>((2 * i + 1) * w / (2 * kFourBars.size()));
            ASSERT_TRUE(screen.WaitFor(x, y, kFourBars[i]))
                << "bar " << i << " at " << x << "," << y << ": " << screen.At(x, y).r << " "
                << screen.At(x, y).g << " " << screen.At(x, y).b;
        }
    }

    mStructRenderer renderer_;
    std::vector<HWND> windows_;
};

// A top-level and a child window (browsers give plug-ins child windows): the
// first picture of another size than the 720x576 start re-makes the surfaces
// once, later ones reuse them, and the bars land in the window, stretched.
TEST_F(Renderer, PicturesReachTheWindowScaledAndSurfacesFollowThePictureSize) {
    camvue_test::ScreenReader screen(&renderer_.primary);
    for (bool child : {false, true}) {
        SCOPED_TRACE(child ? "child window" : "top-level window");
        HWND hwnd = Window(100, 100, 400, 300);
        RECT area = {100, 100, 500, 400};
        if (child) {
            hwnd = Window(20, 30, 320, 240, hwnd);
            area = {120, 130, 440, 370};
        }
        ArmDirectDrawFault(DdStep::kNone);
        ASSERT_EQ(renderer_.Init(hwnd, 720, 576, 1), 1);
        EXPECT_EQ(ShadowSize().cx, 720);
        EXPECT_NE(renderer_.textSurface, nullptr);
        const std::vector<uint8_t> bars = camvue_test::Yv12Bars(1280, 720, kFourBars);
        ASSERT_EQ(renderer_.Show(1280, 720, bars.data(), nullptr), 1);
        EXPECT_EQ(DirectDrawCreations(), 2);
        EXPECT_EQ(ShadowSize().cx, 1280);
        EXPECT_EQ(ShadowSize().cy, 720);
        IDirectDrawSurface7* const shadow = renderer_.shadow;
        for (int i = 0; i < 3; ++i)
            ASSERT_EQ(renderer_.Show(1280, 720, bars.data(), nullptr), 1);
        EXPECT_EQ(DirectDrawCreations(), 2);
        EXPECT_EQ(renderer_.shadow, shadow);
        EXPECT_EQ(renderer_.mode, 1);
        ExpectBars(screen, area);
        EXPECT_TRUE(g_shown.empty());
        renderer_.Teardown();
        EXPECT_EQ(renderer_.directDraw, nullptr);
        EXPECT_EQ(renderer_.shadow, nullptr);
        DestroyWindow(windows_.back());
        windows_.pop_back();
    }
}

// The override replaces the window's size, at the window's top-left corner;
// the rest of the window is left as it was.
TEST_F(Renderer, OverrideDrawsOnlyIntoItsAreaAtTheWindowsCorner) {
    camvue_test::ScreenReader screen(&renderer_.primary);
    HWND hwnd = Window(60, 80, 640, 480);
    ASSERT_EQ(renderer_.Init(hwnd, 320, 240, 1), 1);
    Rgb outsideBefore = {}, belowBefore = {};
    ASSERT_TRUE(screen.Grab());
    outsideBefore = screen.At(60 + 520, 80 + 150);
    belowBefore = screen.At(60 + 200, 80 + 400);
    const std::vector<uint8_t> bars = camvue_test::Yv12Bars(320, 240, kFourBars);
    const RECT override = {7, 9, 407, 309};  // only its size counts
    ASSERT_EQ(renderer_.Show(320, 240, bars.data(), &override), 1);
    ExpectBars(screen, {60, 80, 460, 380});
    ASSERT_TRUE(screen.Grab());
    EXPECT_TRUE(camvue_test::Near(screen.At(60 + 520, 80 + 150), outsideBefore, 8));
    EXPECT_TRUE(camvue_test::Near(screen.At(60 + 200, 80 + 400), belowBefore, 8));
    EXPECT_EQ(renderer_.lastRect.right - renderer_.lastRect.left, 400);
    EXPECT_EQ(renderer_.lastRect.bottom - renderer_.lastRect.top, 300);
}

TEST_F(Renderer, SizeChangedFollowsResizesNotMovesAndEmptyWindowsDrawNothing) {
    HWND hwnd = Window(10, 10, 320, 240);
    ASSERT_EQ(renderer_.Init(hwnd, 160, 120, 1), 1);
    const std::vector<uint8_t> bars = camvue_test::Yv12Bars(160, 120, kFourBars);
    struct Step {
        const char* what;
        int x, y, w, h;
        int shown, sizeChanged;
    } steps[] = {
        {"first picture", 10, 10, 320, 240, 1, 0},
        {"moved", 200, 150, 320, 240, 1, 0},
        {"resized", 200, 150, 330, 250, 1, 1},
        {"same size again", 220, 150, 330, 250, 1, 0},
        {"zero height", 220, 150, 330, 0, 0, 0},
        {"back to the last size", 220, 150, 330, 250, 1, 0},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        SetWindowPos(hwnd, nullptr, s.x, s.y, s.w, s.h, SWP_NOZORDER | SWP_NOACTIVATE);
        camvue_test::Pump();
        IDirectDrawSurface7* const shadow = renderer_.shadow;
        renderer_.sizeChanged = 0;
        EXPECT_EQ(renderer_.Show(160, 120, bars.data(), nullptr), s.shown);
        EXPECT_EQ(renderer_.sizeChanged, s.sizeChanged);
        EXPECT_EQ(renderer_.shadow, shadow);
    }
    EXPECT_EQ(DirectDrawCreations(), 1);
}

// Each Init step failing in turn: its message (or none), the result, and a
// renderer that draws nothing and does not try again.
TEST_F(Renderer, EveryInitFailureShowsItsMessageAndLeavesNothingToDraw) {
    struct Case {
        DdStep step;
        int result;
        const char* message;  // null: silent
    } cases[] = {
        {DdStep::kCreate, 0, nullptr},
        {DdStep::kCooperative, 0, nullptr},
        {DdStep::kShadow, 0, "Error: Create Shadow Surface"},
        {DdStep::kPrimary, 0, "Error: Create Final Surface"},
        {DdStep::kClipper, 0, nullptr},
        {DdStep::kSetClipper, 0, "Error: Set Clipper Surface"},
        {DdStep::kSetHWnd, 0, "Error: Set Handle Window"},
        {DdStep::kPrimaryDesc, 1, nullptr},
        {DdStep::kText, 0, "Error: Create Shadow Text Surface"},
    };
    HWND hwnd = Window(10, 10, 320, 240);
    const std::vector<uint8_t> bars = camvue_test::Yv12Bars(720, 576, kFourBars);
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.step));
        g_shown.clear();
        ArmDirectDrawFault(c.step);
        EXPECT_EQ(renderer_.Init(hwnd, 720, 576, 1), c.result);
        if (c.message == nullptr) {
            EXPECT_TRUE(g_shown.empty());
        } else {
            ASSERT_EQ(g_shown.size(), 1u);
            EXPECT_EQ(g_shown[0].text, c.message);
            EXPECT_EQ(g_shown[0].caption, "Error");
            EXPECT_EQ(g_shown[0].type, static_cast<UINT>(MB_ICONERROR));
        }
        if (c.result == 0) {
            EXPECT_EQ(renderer_.directDraw, nullptr);
            EXPECT_EQ(renderer_.shadow, nullptr);
            EXPECT_EQ(renderer_.primary, nullptr);
            EXPECT_EQ(renderer_.Show(720, 576, bars.data(), nullptr), 0);
            EXPECT_EQ(renderer_.Show(640, 480, bars.data(), nullptr), 0);
            EXPECT_EQ(DirectDrawCreations(), 1);  // no retry
        } else {
            EXPECT_EQ(renderer_.textSurface, nullptr);
            EXPECT_EQ(renderer_.Show(720, 576, bars.data(), nullptr), 1);
        }
    }
}

// A processor exception inside DirectDraw during Init fails the Init; a
// failed re-initialisation inside Show warns with "bad render init".
TEST_F(Renderer, FaultsInsideDirectDrawAndFailedReinitialisation) {
    HWND hwnd = Window(10, 10, 320, 240);
    ArmDirectDrawFault(DdStep::kPrimary, true);
    EXPECT_EQ(renderer_.Init(hwnd, 720, 576, 1), 0);
    EXPECT_TRUE(g_shown.empty());
    EXPECT_EQ(renderer_.shadow, nullptr);

    ArmDirectDrawFault(DdStep::kNone);
    ASSERT_EQ(renderer_.Init(hwnd, 720, 576, 1), 1);
    ArmDirectDrawFault(DdStep::kShadow);
    const std::vector<uint8_t> bars = camvue_test::Yv12Bars(640, 480, kFourBars);
    EXPECT_EQ(renderer_.Show(640, 480, bars.data(), nullptr), 0);
    ASSERT_EQ(g_shown.size(), 2u);
    EXPECT_EQ(g_shown[0].text, "Error: Create Shadow Surface");
    EXPECT_EQ(g_shown[1].text, "bad render init");
    EXPECT_EQ(g_shown[1].caption, "mStructRenderer::Show");
    EXPECT_EQ(g_shown[1].type, static_cast<UINT>(MB_ICONWARNING));
    EXPECT_EQ(renderer_.Show(640, 480, bars.data(), nullptr), 0);
    EXPECT_EQ(g_shown.size(), 2u);
}

// The real seam puts up a real message box: found as a dialog, its text
// read, closed with OK.
TEST_F(Renderer, RealMessageBoxAppearsAndIsClosedWithOk) {
    camvue::ResetShellSeams();
    ArmDirectDrawFault(DdStep::kSetHWnd);
    HWND hwnd = Window(10, 10, 320, 240);
    std::string text, caption;
    std::thread presser([&] {
        for (int i = 0; i < 500; ++i) {
            HWND box = FindWindowA("#32770", "Error");
            char buffer[256] = {};
            if (box != nullptr && GetDlgItemTextA(box, 0xFFFF, buffer, sizeof buffer) > 0) {
                text = buffer;
                GetWindowTextA(box, buffer, sizeof buffer);
                caption = buffer;
                PostMessageA(box, WM_COMMAND, IDOK, 0);
                return;
            }
            Sleep(20);
        }
    });
    EXPECT_EQ(renderer_.Init(hwnd, 720, 576, 1), 0);
    presser.join();
    EXPECT_EQ(text, "Error: Set Handle Window");
    EXPECT_EQ(caption, "Error");
}

}  // namespace
