// Windows tests that open a real window: under wine they need the Xvfb display
// that the test script provides, and must not wait for a window manager.
#include <gtest/gtest.h>
#include <windows.h>

namespace {

int g_paints = 0;

LRESULT CALLBACK CountPaints(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_PAINT) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        FillRect(dc, &ps.rcPaint, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
        EndPaint(hwnd, &ps);
        ++g_paints;
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wp, lp);
}

TEST(Window, ChildWindowGetsItsSizeAndPaintsPromptly) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = CountPaints;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "camvue-window-test";
    ASSERT_NE(RegisterClassA(&wc), 0);

    const DWORD t0 = GetTickCount();
    HWND top = CreateWindowExA(0, wc.lpszClassName, "top", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0,
                               400, 300, nullptr, nullptr, wc.hInstance, nullptr);
    ASSERT_NE(top, nullptr);
    HWND child = CreateWindowExA(0, wc.lpszClassName, "child", WS_CHILD | WS_VISIBLE, 10, 10, 320,
                                 240, top, nullptr, wc.hInstance, nullptr);
    ASSERT_NE(child, nullptr);

    RECT rc;
    ASSERT_TRUE(GetClientRect(child, &rc));
    EXPECT_EQ(rc.right - rc.left, 320);
    EXPECT_EQ(rc.bottom - rc.top, 240);

    InvalidateRect(child, nullptr, FALSE);
    UpdateWindow(child);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
        DispatchMessageA(&msg);
    EXPECT_GE(g_paints, 1);
    // Without a window manager to wait for, creation and painting are quick.
    EXPECT_LT(GetTickCount() - t0, 1500u);

    DestroyWindow(top);
    UnregisterClassA(wc.lpszClassName, wc.hInstance);
}

}  // namespace
