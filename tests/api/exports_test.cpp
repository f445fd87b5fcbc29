// The export layer: null handles, result codes, registration order.
#include <gtest/gtest.h>
#include <kestra/platform.h>

#include "display/draw_window.h"
#include "kestra/kestra.h"

namespace {

using kestra::DrawWindow;

DrawWindow *Object(KestraDisplay display) { return reinterpret_cast<DrawWindow *>(display); }

TEST(Exports, NullHandleIsOneForEveryHandleExport) {
    RECT rect{0, 0, 1, 1};
    // The open calls too, with nowhere to put the handle (ASan catches a leak).
    EXPECT_EQ(1, KESTRA_DWOpenDraw(nullptr));
    EXPECT_EQ(1, KESTRA_WVOpenWave(nullptr));
    EXPECT_EQ(1, KESTRA_DWCloseDraw(nullptr));
    EXPECT_EQ(1, KESTRA_DWSetHwnd(nullptr, nullptr));
    EXPECT_EQ(1, KESTRA_DWSetIndex(nullptr, 3));
    EXPECT_EQ(1, KESTRA_DWSetDisplayCB(nullptr, nullptr, nullptr));
    EXPECT_EQ(1, KESTRA_DWInitDraw(nullptr, 64, 64));
    EXPECT_EQ(1, KESTRA_DWFreeDraw(nullptr));
    EXPECT_EQ(1, KESTRA_DWAdjustedWnd(nullptr));
    EXPECT_EQ(1, KESTRA_DWDrawYUV420(nullptr, nullptr, 0, nullptr, nullptr, 0, 0, 0, 0));
    EXPECT_EQ(1, KESTRA_DWSetOSDText(nullptr, 0, "x", 0, 0, 0, 0));
    EXPECT_EQ(1, KESTRA_DWSetPlayRect(nullptr, &rect));
    EXPECT_EQ(1, KESTRA_DWSetMirrorMode(nullptr, 1));
    EXPECT_EQ(1, KESTRA_WVCloseWave(nullptr));
    EXPECT_EQ(1, KESTRA_WVSetWaveFormat(nullptr, nullptr, 0));
    EXPECT_EQ(1, KESTRA_WVSetWriteWaveCB(nullptr, nullptr, nullptr));
    EXPECT_EQ(1, KESTRA_WVPlayWave(nullptr));
    EXPECT_EQ(1, KESTRA_WVStopWave(nullptr));
    EXPECT_EQ(1, KESTRA_WVPauseWave(nullptr, 1));
    EXPECT_EQ(1, KESTRA_WVSetVolume(nullptr, 50));
}

TEST(Exports, SetUpPairAndConverterResults) {
    EXPECT_EQ(0, KESTRA_Initialize());
    EXPECT_EQ(1, KESTRA_UnInitialize());
    uint8_t y[4] = {16, 16, 16, 16}, u = 128, v = 128, dst[12];
    EXPECT_EQ(0, KESTRA_yv12_to_rgb24_c(dst, 2, y, &u, &v, 2, 1, 2, 2));
}

TEST(Exports, DrawRefusesWithMinusOneUntilWindowAndInit) {
    KestraDisplay display = nullptr;
    ASSERT_EQ(0, KESTRA_DWOpenDraw(&display));
    uint8_t plane[64] = {};
    EXPECT_EQ(-1, KESTRA_DWDrawYUV420(display, plane, 8, plane, plane, 4, 0, 0, 0));
    HWND window = kplat_create_window("t", 10, 10, 64, 48, 1);
    ASSERT_NE(nullptr, window);
    EXPECT_EQ(0, KESTRA_DWSetHwnd(display, window));
    EXPECT_EQ(-1, KESTRA_DWDrawYUV420(display, plane, 8, plane, plane, 4, 0, 0, 0));
    EXPECT_EQ(0, KESTRA_DWCloseDraw(display));
    kplat_destroy_window(window);

    ASSERT_EQ(0, KESTRA_DWOpenDraw(&display));
    EXPECT_EQ(0, KESTRA_DWInitDraw(display, 8, 8));
    EXPECT_EQ(-1, KESTRA_DWDrawYUV420(display, plane, 8, plane, plane, 4, 0, 0, 0))
        << "initialised but no window";
    EXPECT_EQ(0, KESTRA_DWCloseDraw(display));
}

void KESTRA_CALLBACK NoOpDisplay(int32_t, HDC, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t,
                                 int32_t, void *) {}

TEST(Exports, CallbackRegistrationTakesUserValueFirst) {
    KestraDisplay display = nullptr;
    ASSERT_EQ(0, KESTRA_DWOpenDraw(&display));
    int marker = 0;
    EXPECT_EQ(0, KESTRA_DWSetDisplayCB(display, &marker, NoOpDisplay));
    EXPECT_EQ(&marker, Object(display)->State().callbackUser);
    EXPECT_EQ(&NoOpDisplay, Object(display)->State().displayCallback);
    EXPECT_EQ(0, KESTRA_DWSetIndex(display, 42));
    EXPECT_EQ(42u, Object(display)->DrawIndex());
    EXPECT_EQ(0, KESTRA_DWCloseDraw(display));
}

}  // namespace
