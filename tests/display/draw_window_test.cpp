// The display itself: the play-rect rules, seen in the rectangle the frame is
// shown from, and the device contexts and objects it holds and gives back.
#include <gtest/gtest.h>

#include <string>

#include "support/display_fixture.h"

namespace {

using namespace kestra_test;

constexpr int kFrameWidth = 64, kFrameHeight = 48;
const RECT kWhole{0, 0, kFrameWidth, kFrameHeight};

std::string Text(const RECT &r) {
    return "{" + std::to_string(r.left) + "," + std::to_string(r.top) + "," +
           std::to_string(r.right) + "," + std::to_string(r.bottom) + "}";
}

// The frame rectangle the last frame was shown from, through the 5-6-5
// surface, which takes a crop as it is.
std::string ShownSource() {
    const KplatDdrawCall shown = LastBlitToScreen();
    return Text(shown.hasSrcRect ? shown.srcRect : kWhole);
}

struct RectCase {
    const char *name;
    RECT rect;  // right 0: null
    bool accepted;
};

class PlayRect : public testing::TestWithParam<RectCase> {};

// A refused rect turns the crop off; so does null.
TEST_P(PlayRect, AcceptedOnlyInsideTheFrame) {
    const RectCase &c = GetParam();
    TestDisplay d(ModeRGB565Surface, kFrameWidth, kFrameHeight, 80, 60, 2);
    const YuvFrame frame(kFrameWidth, kFrameHeight);
    const RECT previous{1, 2, 3, 4};
    KESTRA_DWSetPlayRect(d.handle, &previous);
    ASSERT_EQ(d.Draw(frame), 0);
    ASSERT_EQ(ShownSource(), Text(previous));

    KESTRA_DWSetPlayRect(d.handle, c.rect.right ? &c.rect : nullptr);
    ASSERT_EQ(d.Draw(frame), 0);
    EXPECT_EQ(ShownSource(), Text(c.accepted ? c.rect : kWhole)) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PlayRect,
    testing::Values(RectCase{"FullFrame", kWhole, true},
                    RectCase{"RightAtWidth", {0, 0, kFrameWidth, 10}, true},
                    RectCase{"BottomAtHeight", {0, 0, 10, kFrameHeight}, true},
                    RectCase{"RightPastWidth", {0, 0, kFrameWidth + 1, 10}, false},
                    RectCase{"BottomPastHeight", {0, 0, 10, kFrameHeight + 1}, false},
                    RectCase{"NegativeLeft", {-1, 0, 10, 10}, false},
                    RectCase{"NegativeTop", {0, -1, 10, 10}, false},
                    RectCase{"LeftAtWidth", {kFrameWidth, 0, 10, 10}, false},
                    RectCase{"Inverted", {50, 40, 10, 5}, false},
                    RectCase{"Empty", {10, 10, 10, 10}, false},
                    RectCase{"OneColumn", {10, 10, 11, 20}, true}, RectCase{"Null", {}, false}),
    [](const testing::TestParamInfo<RectCase> &p) { return std::string(p.param.name); });

TEST(PlayRectBeforeSetUp, IsRefused) {
    TestDisplay d(ModeRGB565Surface, 0, 0, 80, 60, 2);
    const RECT rect{0, 0, 1, 1};
    KESTRA_DWSetPlayRect(d.handle, &rect);
    d.Init(kFrameWidth, kFrameHeight);
    ASSERT_EQ(d.Draw(YuvFrame(kFrameWidth, kFrameHeight)), 0);
    EXPECT_EQ(ShownSource(), Text(kWhole));
}

// One DC at a time: the window's, or the screen's while there is none; a
// window set anew is drawn into; closing, set up or not, gives everything back.
TEST(DisplayWindow, HoldsOneDcAtATimeAndGivesEverythingBack) {
    for (bool setUp : {false, true}) {
        const int dcs = kplat_live_objects(KPLAT_OBJ_DC), objects = LiveObjects();
        {
            TestDisplay d(ModeGdi, 0, 0, 64, 48);
            EXPECT_EQ(kplat_live_objects(KPLAT_OBJ_DC), dcs + 1);
            HWND other = kplat_create_window("other", 200, 30, 64, 48, 1);
            KESTRA_DWSetHwnd(d.handle, nullptr);
            EXPECT_EQ(kplat_live_objects(KPLAT_OBJ_DC), dcs + 1) << "the screen's DC";
            KESTRA_DWSetHwnd(d.handle, other);
            EXPECT_EQ(kplat_live_objects(KPLAT_OBJ_DC), dcs + 1) << "the first DC is let go";
            if (setUp) {
                const YuvFrame frame(64, 48);
                d.Init(64, 48);
                ASSERT_EQ(d.Draw(frame), 0);
                EXPECT_EQ(kplat_window_pixel(other, 5, 5), frame.Rgb(5, 5));
                EXPECT_EQ(d.At(5, 5), 0u) << "the first window";
            }
            d.Close();
            DestroyWindow(other);
        }
        EXPECT_EQ(LiveObjects(), objects) << (setUp ? "set up" : "never set up");
    }
}

}  // namespace
