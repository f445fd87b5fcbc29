// The stand-in's window geometry calls.
#include <windows.h>
#include <kestra/platform.h>

#include <gtest/gtest.h>

namespace {

RECT Outer(HWND window) {
    RECT rect{};
    GetWindowRect(window, &rect);
    return rect;
}

void ExpectRect(const RECT &got, LONG left, LONG top, LONG right, LONG bottom) {
    EXPECT_EQ(got.left, left);
    EXPECT_EQ(got.top, top);
    EXPECT_EQ(got.right, right);
    EXPECT_EQ(got.bottom, bottom);
}

TEST(SetWindowPos, MovesAndSizesTheOuterRectUnlessTold) {
    HWND window = kplat_create_window("pos", 10, 20, 64, 48, 1);  // outer (9,19)-(75,69)
    ASSERT_NE(window, nullptr);
    const UINT others = SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOREDRAW | SWP_ASYNCWINDOWPOS;
    EXPECT_TRUE(SetWindowPos(window, nullptr, 100, 200, 1, 1, SWP_NOMOVE | SWP_NOSIZE | others));
    ExpectRect(Outer(window), 9, 19, 75, 69);
    EXPECT_TRUE(SetWindowPos(window, nullptr, 100, 200, 0, 0, SWP_NOSIZE));
    ExpectRect(Outer(window), 100, 200, 166, 250);
    EXPECT_TRUE(SetWindowPos(window, nullptr, 0, 0, 34, 22, SWP_NOMOVE));
    ExpectRect(Outer(window), 100, 200, 134, 222);
    RECT client{};
    GetClientRect(window, &client);
    ExpectRect(client, 0, 0, 32, 20);
    // No client area left: refused, nothing changes.
    EXPECT_FALSE(SetWindowPos(window, nullptr, 0, 0, 2, 2, SWP_NOMOVE));
    ExpectRect(Outer(window), 100, 200, 134, 222);
    kplat_destroy_window(window);
    EXPECT_FALSE(SetWindowPos(window, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE));
}

TEST(GetQueueStatus, NothingIsQueued) { EXPECT_EQ(GetQueueStatus(QS_ALLINPUT), 0u); }

}  // namespace
