// A display driven the way a careless host drives it: sizes that cannot be
// shown, missing planes, strides narrower than the frame, a window destroyed
// under it. Nothing may crash or touch memory outside the library's own
// buffers and the host's planes as laid out (ASan watches the exact-size
// planes), and each case answers a documented result.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <tuple>
#include <utility>

#include "support/display_fixture.h"

namespace {

using namespace kestra_test;

// Cases of type Case run in every render mode.
template <typename Case>
class EveryModeWith : public ::testing::TestWithParam<std::tuple<int, Case>> {
protected:
    int Mode() const { return std::get<0>(this->GetParam()); }
    const Case &Row() const { return std::get<1>(this->GetParam()); }
};

struct SizeCase {
    const char *name;
    int32_t width, height;
    bool accepted;
};

const SizeCase kSizes[] = {
    {"Zero", 0, 0, false},
    {"ZeroWidth", 0, 48, false},
    {"ZeroHeight", 64, 0, false},
    {"NegativeWidth", -1, 48, false},
    {"NegativeHeight", 64, -1, false},
    {"BothNegative", -64, -48, false},
    {"Int32Min", INT32_MIN, INT32_MIN, false},
    {"Mega", 1 << 20, 1 << 20, false},
    {"Int32Max", INT32_MAX, INT32_MAX, false},
    {"Int32MaxWide", INT32_MAX, 1, false},
    {"Int32MaxTall", 1, INT32_MAX, false},
    {"TwoGiBBuffer", 32768, 16384, false},
    // Odd sizes: chroma of exactly (width / 2) x (height / 2) is all that is read.
    {"OnePixel", 1, 1, true},
    {"ThreeByThree", 3, 3, true},
    {"OddBoth", 65, 47, true},
    {"OddWidth", 127, 46, true},
    {"OddHeight", 64, 3, true},
    {"OneRow", 63, 1, true},
    {"OneColumn", 1, 47, true},
};

using InitSizes = EveryModeWith<SizeCase>;

// A refused size lets go of the set-up before it and leaves the display not
// ready (-1, nothing read) until a good size comes; an accepted odd size
// draws from planes of exactly its size.
TEST_P(InitSizes, RefusedSizesAreNotReadyAcceptedOnesDraw) {
    const SizeCase &size = Row();
    TestDisplay d(Mode(), 64, 48, 96, 72);
    EXPECT_EQ(0, d.Init(size.width, size.height));
    if (size.accepted) {
        Frame frame(size.width, size.height);
        frame.Paint(80, 100, 150);
        EXPECT_EQ(0, d.Draw(frame));
    } else {
        EXPECT_EQ(0, LiveDdrawObjects());
        uint8_t plane[1] = {0};
        EXPECT_EQ(-1, KESTRA_DWDrawYUV420(d.handle, plane, 1, plane, plane, 1, 0, 0, 0));
    }
    d.Init(64, 48);
    Frame good(64, 48);
    good.Paint(80, 100, 150);
    EXPECT_EQ(0, d.Draw(good)) << "a good size after " << size.name;
    EXPECT_EQ(Mode(), d.Mode()) << "a good size after " << size.name;
}

INSTANTIATE_TEST_SUITE_P(EveryMode, InitSizes,
                         ::testing::Combine(::testing::ValuesIn(kAllModes),
                                            ::testing::ValuesIn(kSizes)),
                         ModeAndRowName<SizeCase>);

// The largest frame whose buffer stays under 2 GiB is accepted. Set-up only
// reserves the buffer, so this runs in the GDI mode, where no surface of that
// size is built; a crop, which only a display set up takes, and which a set-up
// at a small size keeps, tells that the large size was accepted.
TEST(HostileDisplayLimits, LargestAcceptedFrameIsJustUnderTwoGiB) {
    const RECT leftHalf{0, 0, 32, 48};
    const YuvFrame bars = YuvFrame::Bars(64, 48);
    for (int32_t height : {16383, 16384}) {
        TestDisplay d(ModeGdi, 0, 0, 64, 48);
        d.Init(32768, height);
        KESTRA_DWSetPlayRect(d.handle, &leftHalf);
        d.Init(64, 48);
        ASSERT_EQ(0, d.Draw(bars));
        const bool cropped = d.At(60, 24) == bars.Rgb(30, 24);
        EXPECT_EQ(height == 16383, cropped) << "32768 x " << height << " x 4 bytes";
    }
}

class PerMode : public ::testing::TestWithParam<int> {};

// A 4K frame drawn in every mode from exactly-sized planes.
TEST_P(PerMode, UltraHdFrameDraws) {
    TestDisplay d(GetParam(), 3840, 2160, 96, 72);
    ASSERT_EQ(GetParam(), d.Mode());
    Frame frame(3840, 2160);
    frame.Paint(120, 60, 200);
    EXPECT_EQ(0, d.Draw(frame));
    EXPECT_TRUE(Near(d.At(48, 36), ExpectedColour(120, 60, 200), 16));
}

// Any missing plane: -1, and neither the window nor the frame surface is touched.
TEST_P(PerMode, MissingPlanesAreRefusedUntouched) {
    TestDisplay d(GetParam(), 64, 48, 96, 72);
    Frame frame(64, 48);
    frame.Paint(200, 60, 60);
    for (int missing = 1; missing < 8; ++missing) {
        kplat_fill_window(d.window, 0x123456);
        kplat_ddraw_clear_log();
        const uint8_t *y = missing & 1 ? nullptr : frame.Y();
        const uint8_t *u = missing & 2 ? nullptr : frame.U();
        const uint8_t *v = missing & 4 ? nullptr : frame.V();
        EXPECT_EQ(-1, KESTRA_DWDrawYUV420(d.handle, y, 64, u, v, 32, 0, 0, 0))
            << "missing planes mask " << missing;
        EXPECT_EQ(0x123456u, d.At(48, 36)) << "mask " << missing;
        EXPECT_EQ(0, kplat_ddraw_call_count()) << "mask " << missing << ": DirectDraw was called";
    }
}

// The window goes away while the display holds its device context and, in a
// surface mode, a clipper bound to it. A window that is gone counts as none:
// every draw answers -1 and touches nothing, whatever the host calls
// meanwhile; a live window brings the picture back without a new set-up, and
// closing gives back everything.
TEST_P(PerMode, WindowDestroyedUnderTheDisplay) {
    const int before = LiveObjects();
    TestDisplay d(GetParam(), 64, 48, 96, 72);
    KESTRA_DWSetOSDText(d.handle, 2, "gone", 1, 1, 0, 0xFFFFFF);
    Frame frame(64, 48);
    frame.Paint(150, 80, 170);
    ASSERT_EQ(0, d.Draw(frame));

    HWND dead = d.window;
    ASSERT_TRUE(kplat_destroy_window(dead));
    d.window = nullptr;
    const std::pair<const char *, void (*)(KestraDisplay, HWND)> calls[] = {
        {"draw", [](KestraDisplay, HWND) {}},
        {"adjust", [](KestraDisplay h, HWND) { KESTRA_DWAdjustedWnd(h); }},
        {"set-up", [](KestraDisplay h, HWND) { KESTRA_DWInitDraw(h, 64, 48); }},
        {"setting the dead window", [](KestraDisplay h, HWND w) { KESTRA_DWSetHwnd(h, w); }},
        {"free", [](KestraDisplay h, HWND) { KESTRA_DWFreeDraw(h); }},
    };
    for (const auto &call : calls) {
        call.second(d.handle, dead);
        kplat_ddraw_clear_log();
        EXPECT_EQ(-1, d.Draw(frame)) << "draw after " << call.first;
        EXPECT_EQ(0, kplat_ddraw_call_count()) << "draw after " << call.first;
    }

    d.window = kplat_create_window("second", 200, 30, 96, 72, 1);
    ASSERT_NE(nullptr, d.window);
    KESTRA_DWSetHwnd(d.handle, d.window);
    EXPECT_EQ(0, d.Draw(frame)) << "draw into the new window";
    EXPECT_EQ(GetParam(), d.Mode()) << "set up anew for it";
    EXPECT_TRUE(Near(d.At(48, 60), ExpectedColour(150, 80, 170), 16))
        << "the picture reaches the new window";
    d.Close();
    EXPECT_EQ(before, LiveObjects()) << "a DC, bitmap or DirectDraw object outlived the display";
}

INSTANTIATE_TEST_SUITE_P(EveryMode, PerMode, ::testing::ValuesIn(kAllModes), ModeParamName);

// Stride cases narrower than the frame, zero, or negative (the host's rows
// bottom-up), and OSD text so far off the frame that the layout's own sums
// (height - y, y plus line advances) leave the int range.
struct DrawCase {
    const char *name;
    int width, height, yStride, uvStride;
    const char *text;
    int32_t x, y, anchor;
    bool textShows;
};

const DrawCase kDraws[] = {
    {"OneLess", 64, 48, 63, 31, "stride", 1, 1, 0, true},
    {"One", 64, 48, 1, 1, "stride", 1, 1, 0, true},
    {"Zero", 64, 48, 0, 0, "stride", 1, 1, 0, true},
    {"ZeroChroma", 64, 48, 64, 0, "stride", 1, 1, 0, true},
    {"Negative", 64, 48, -64, -32, "stride", 1, 1, 0, true},
    {"NegativeNarrow", 64, 48, -5, -3, "stride", 1, 1, 0, true},
    {"OddFrameOne", 62, 46, 1, 1, "stride", 1, 1, 0, true},
    {"OddFrameNegative", 62, 46, -62, -31, "stride", 1, 1, 0, true},
    {"TextBottomAnchoredInt32Min", 64, 48, 64, 32, "a", 0, INT32_MIN, 1, false},
    {"TwoTextLinesAtInt32Max", 64, 48, 64, 32, "a\nb", 0, INT32_MAX, 0, false},
};

using HostileDraws = EveryModeWith<DrawCase>;

// Outside the contract, yet every read stays inside the planes as the strides
// lay them out and every write inside the library's buffers: the planes are
// exactly that big, so ASan flags any byte beyond. The uniform picture shows
// below the text, and text placed off the frame shows nowhere.
TEST_P(HostileDraws, ReadOnlyTheHostsRowsAndWriteOnlyOurs) {
    const DrawCase &c = Row();
    TestDisplay d(Mode(), c.width, c.height, 96, 72);
    KESTRA_DWSetOSDText(d.handle, 0, c.text, c.x, c.y, c.anchor, 0xFFFFFF);
    Frame frame(c.width, c.height, c.yStride, c.uvStride);
    frame.Paint(60, 128, 128);
    EXPECT_EQ(0, d.Draw(frame)) << c.name;
    EXPECT_TRUE(Near(d.At(2, 60), ExpectedColour(60, 128, 128), 16)) << c.name;
    int textPixels = 0;
    for (uint32_t p : d.Pixels()) textPixels += Near(p, 0xFFFFFF, 40);
    EXPECT_EQ(c.textShows, textPixels > 0) << c.name;
}

INSTANTIATE_TEST_SUITE_P(EveryMode, HostileDraws,
                         ::testing::Combine(::testing::ValuesIn(kAllModes),
                                            ::testing::ValuesIn(kDraws)),
                         ModeAndRowName<DrawCase>);

}  // namespace
