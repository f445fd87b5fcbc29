// The export layer: null handles and result codes.
#include <gtest/gtest.h>

#include "support/display_fixture.h"

namespace {

using namespace kestra_test;

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

// -1 until the display has a window and a set-up, in either order; opening
// alone takes nothing from the platform.
TEST(Exports, DrawRefusesWithMinusOneUntilWindowAndInit) {
    const YuvFrame frame(8, 8);
    const int objects = LiveObjects();
    KestraDisplay display = nullptr;
    ASSERT_EQ(0, KESTRA_DWOpenDraw(&display));
    EXPECT_EQ(objects, LiveObjects());
    EXPECT_EQ(-1, KESTRA_DWDrawYUV420(display, frame.y.data(), frame.yStride, frame.u.data(),
                                      frame.v.data(), frame.uvStride, 0, 0, 0));
    EXPECT_EQ(0, KESTRA_DWCloseDraw(display));

    TestDisplay d(ModeYV12Surface, 0, 0, 64, 48);
    EXPECT_EQ(-1, d.Draw(frame)) << "a window, no set-up";
    EXPECT_EQ(0, KESTRA_DWSetHwnd(d.handle, nullptr));
    EXPECT_EQ(0, d.Init(8, 8));
    EXPECT_EQ(-1, d.Draw(frame)) << "set up, no window";
    EXPECT_EQ(nullptr, DdrawCalls("IDirectDraw7::SetCooperativeLevel")[0].window);
    EXPECT_EQ(0, KESTRA_DWSetHwnd(d.handle, d.window));
    EXPECT_EQ(0, d.Draw(frame)) << "the window given after the set-up";
    EXPECT_EQ(kYv12, ShownFormat()) << "the frame surface: a new display has no OSD text";
}

}  // namespace
