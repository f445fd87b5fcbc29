// DrawWindow itself: what it owns and gives back, and the play-rect rules.
#include <windows.h>
#include <kestra/platform_test.h>

#include <gtest/gtest.h>

#include "display/draw_window.h"

namespace {

using kestra::DrawWindow;

constexpr int kFrameWidth = 64, kFrameHeight = 48;

class Window {
public:
    Window() : handle(kplat_create_window("draw", 20, 20, 80, 60, 2)) {}
    ~Window() { kplat_destroy_window(handle); }
    HWND handle;
};

// Initialised on a window; set-up's choice of render mode does not matter here.
void Initialise(DrawWindow &dw, HWND window) {
    dw.SetHwnd(window);
    kplat_fail_call("LoadLibraryA", -1, 0, 0);
    dw.InitDraw(kFrameWidth, kFrameHeight);
    kplat_clear_failures();
}

struct RectCase {
    const char *name;
    RECT rect;
    bool accepted;
};

class PlayRect : public testing::TestWithParam<RectCase> {};

TEST_P(PlayRect, AcceptedOnlyInsideTheFrame) {
    const RectCase &c = GetParam();
    Window window;
    DrawWindow dw;
    Initialise(dw, window.handle);
    const RECT previous{1, 2, 3, 4};
    dw.SetPlayRect(&previous);
    ASSERT_EQ(1u, dw.State().playRectEnabled);

    dw.SetPlayRect(&c.rect);
    const RECT want = c.accepted ? c.rect : previous;
    EXPECT_EQ(c.accepted ? 1u : 0u, dw.State().playRectEnabled) << c.name;
    EXPECT_TRUE(dw.State().playRect.left == want.left && dw.State().playRect.top == want.top &&
                dw.State().playRect.right == want.right &&
                dw.State().playRect.bottom == want.bottom)
        << c.name << ": expected {" << want.left << "," << want.top << "," << want.right << ","
        << want.bottom << "} got {" << dw.State().playRect.left << "," << dw.State().playRect.top
        << "," << dw.State().playRect.right << "," << dw.State().playRect.bottom << "}";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PlayRect,
    testing::Values(RectCase{"FullFrame", {0, 0, kFrameWidth, kFrameHeight}, true},
                    RectCase{"RightAtWidth", {0, 0, kFrameWidth, 10}, true},
                    RectCase{"BottomAtHeight", {0, 0, 10, kFrameHeight}, true},
                    RectCase{"RightPastWidth", {0, 0, kFrameWidth + 1, 10}, false},
                    RectCase{"BottomPastHeight", {0, 0, 10, kFrameHeight + 1}, false},
                    RectCase{"NegativeLeft", {-1, 0, 10, 10}, false},
                    RectCase{"NegativeTop", {0, -1, 10, 10}, false},
                    RectCase{"LeftAtWidth", {kFrameWidth, 0, 10, 10}, false},
                    RectCase{"Inverted", {50, 40, 10, 5}, false},
                    RectCase{"Empty", {10, 10, 10, 10}, false},
                    RectCase{"OneColumn", {10, 10, 11, 20}, true}),
    [](const testing::TestParamInfo<RectCase> &p) { return std::string(p.param.name); });

TEST(PlayRectState, NullTurnsTheCropOffAndKeepsTheValues) {
    Window window;
    DrawWindow dw;
    Initialise(dw, window.handle);
    const RECT rect{5, 6, 7, 8};
    dw.SetPlayRect(&rect);
    dw.SetPlayRect(nullptr);
    EXPECT_EQ(0u, dw.State().playRectEnabled);
    EXPECT_EQ(7, dw.State().playRect.right);
}

TEST(PlayRectState, RejectedBeforeInitialisation) {
    DrawWindow dw;
    const RECT rect{0, 0, 1, 1};
    dw.SetPlayRect(&rect);
    EXPECT_EQ(0u, dw.State().playRectEnabled);
    EXPECT_EQ(0, dw.State().playRect.right) << "values untouched";
}

TEST(DrawWindowObject, ConstructedIdle) {
    DrawWindow dw;
    EXPECT_EQ(kestra::ModeUYVYSurface, dw.ViewPresenter().renderMode);
    EXPECT_EQ(0u, dw.State().initialised);
    EXPECT_EQ(nullptr, dw.State().hwnd);
    EXPECT_EQ(nullptr, dw.State().windowDC);
    EXPECT_EQ(nullptr, dw.ViewPresenter().frameBuffer);
    EXPECT_EQ(nullptr, dw.ViewPresenter().ddraw);
    for (const auto &slot : dw.State().osdSlots) EXPECT_EQ('\0', slot.text[0]);
}

TEST(DrawWindowObject, SettingTheWindowTwiceReleasesTheFirstDC) {
    Window first, second;
    const int before = kplat_live_objects(KPLAT_OBJ_DC);
    {
        DrawWindow dw;
        dw.SetHwnd(first.handle);
        const HDC firstDC = dw.State().windowDC;
        ASSERT_NE(nullptr, firstDC);
        EXPECT_EQ(before + 1, kplat_live_objects(KPLAT_OBJ_DC));
        dw.SetHwnd(second.handle);
        EXPECT_EQ(before + 1, kplat_live_objects(KPLAT_OBJ_DC)) << "first DC not released";
        EXPECT_EQ(second.handle, dw.State().hwnd);
        EXPECT_NE(nullptr, dw.State().windowDC);
        EXPECT_EQ(0, ReleaseDC(first.handle, firstDC)) << "first DC still live";
    }
    EXPECT_EQ(before, kplat_live_objects(KPLAT_OBJ_DC)) << "second DC not released on close";
}

TEST(DrawWindowObject, NullWindowTakesTheScreenDCAndGivesItBack) {
    const int before = kplat_live_objects(KPLAT_OBJ_DC);
    {
        DrawWindow dw;
        dw.SetHwnd(nullptr);
        EXPECT_EQ(nullptr, dw.State().hwnd);
        EXPECT_NE(nullptr, dw.State().windowDC);
    }
    EXPECT_EQ(before, kplat_live_objects(KPLAT_OBJ_DC));
}

int LiveObjects(int kind) { return kplat_live_objects(static_cast<KplatObjectKind>(kind)); }

TEST(DrawWindowObject, ClosingANeverInitialisedObjectReleasesOnlyItsDC) {
    Window window;
    int before[KPLAT_OBJ_KIND_COUNT];
    for (int k = 0; k < KPLAT_OBJ_KIND_COUNT; ++k) before[k] = LiveObjects(k);
    auto *dw = new DrawWindow;
    dw->SetHwnd(window.handle);
    EXPECT_EQ(before[KPLAT_OBJ_DC] + 1, LiveObjects(KPLAT_OBJ_DC));
    delete dw;
    for (int k = 0; k < KPLAT_OBJ_KIND_COUNT; ++k)
        EXPECT_EQ(before[k], LiveObjects(k)) << "object kind " << k;
}

TEST(DrawWindowObject, ClosingAnInitialisedObjectLeavesNothingBehind) {
    Window window;
    int before[KPLAT_OBJ_KIND_COUNT];
    for (int k = 0; k < KPLAT_OBJ_KIND_COUNT; ++k) before[k] = LiveObjects(k);
    {
        DrawWindow dw;
        Initialise(dw, window.handle);
    }
    for (int k = 0; k < KPLAT_OBJ_KIND_COUNT; ++k)
        EXPECT_EQ(before[k], LiveObjects(k)) << "object kind " << k;
}

}  // namespace
