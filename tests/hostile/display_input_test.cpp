// A display driven the way a careless host drives it: sizes that cannot be
// shown, missing planes, strides narrower than the frame, a window destroyed
// under it. Nothing may crash or touch memory outside the library's own
// buffers and the host's planes as laid out (ASan watches the exact-size
// planes), and each case answers a documented result.
#include <windows.h>
#include <kestra/platform_test.h>

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <tuple>

#include "support/display_fixture.h"

namespace {

using namespace kestra_test;

std::string ModeLabel(int mode) { return ModeName(mode); }

class HostileDisplay {
protected:
    void Open(int mode, int clientWidth = 96, int clientHeight = 72) {
        ConfigureAdapter(mode);
        window = kplat_create_window("hostile", 30, 30, clientWidth, clientHeight, 1);
        ASSERT_NE(nullptr, window);
        ASSERT_EQ(0, KESTRA_DWOpenDraw(&display));
        KESTRA_DWSetHwnd(display, window);
    }
    void Close() {
        if (display) KESTRA_DWCloseDraw(display);
        if (window) kplat_destroy_window(window);
        display = nullptr;
        window = nullptr;
        RestoreAdapter();
    }
    HWND window = nullptr;
    KestraDisplay display = nullptr;
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
    {"OnePixel", 1, 1, true},
    {"ThreeByThree", 3, 3, true},
    {"OddBoth", 65, 47, true},
    {"OneRow", 63, 1, true},
    {"OneColumn", 1, 47, true},
};

class InitSizes : public HostileDisplay,
                  public ::testing::TestWithParam<std::tuple<int, SizeCase>> {
protected:
    void TearDown() override { Close(); }
};

// A refused size leaves the display not ready (-1, nothing read) until a good
// size comes; an accepted odd size draws from planes of exactly its size.
TEST_P(InitSizes, RefusedSizesAreNotReadyAcceptedOnesDraw) {
    const int mode = std::get<0>(GetParam());
    const SizeCase size = std::get<1>(GetParam());
    Open(mode);
    EXPECT_EQ(0, KESTRA_DWInitDraw(display, size.width, size.height));
    if (size.accepted) {
        Frame frame(size.width, size.height);
        frame.Paint(80, 100, 150);
        EXPECT_EQ(0, frame.DrawOn(display));
    } else {
        EXPECT_EQ(0u, Object(display)->State().initialised);
        uint8_t plane[1] = {0};
        EXPECT_EQ(-1, KESTRA_DWDrawYUV420(display, plane, 1, plane, plane, 1, 0, 0, 0));
    }
    KESTRA_DWInitDraw(display, 64, 48);
    Frame good(64, 48);
    good.Paint(80, 100, 150);
    EXPECT_EQ(0, good.DrawOn(display)) << "a good size after " << size.name;
    EXPECT_EQ(mode, Object(display)->ViewPresenter().renderMode)
        << "a good size after " << size.name;
}

INSTANTIATE_TEST_SUITE_P(EveryMode, InitSizes,
                         ::testing::Combine(::testing::ValuesIn(kAllModes),
                                            ::testing::ValuesIn(kSizes)),
                         [](const ::testing::TestParamInfo<std::tuple<int, SizeCase>> &param) {
                             return ModeLabel(std::get<0>(param.param)) + "_" +
                                    std::get<1>(param.param).name;
                         });

class PerMode : public HostileDisplay, public ::testing::TestWithParam<int> {
protected:
    void TearDown() override { Close(); }
};

// The largest frame whose buffer stays under 2 GiB is accepted; set-up only
// reserves the buffer, so this runs in the GDI mode where no surface of that
// size is built.
TEST(HostileDisplayLimits, LargestAcceptedFrameIsJustUnderTwoGiB) {
    ConfigureAdapter(kestra::ModeGdi);
    KestraDisplay display = nullptr;
    HWND window = kplat_create_window("limit", 0, 0, 96, 72, 1);
    ASSERT_EQ(0, KESTRA_DWOpenDraw(&display));
    KESTRA_DWSetHwnd(display, window);
    KESTRA_DWInitDraw(display, 32768, 16383);
    EXPECT_EQ(1u, Object(display)->State().initialised) << "32768 x 16383 x 4 bytes is under 2 GiB";
    KESTRA_DWInitDraw(display, 32768, 16384);
    EXPECT_EQ(0u, Object(display)->State().initialised) << "32768 x 16384 x 4 bytes is 2 GiB";
    KESTRA_DWCloseDraw(display);
    kplat_destroy_window(window);
    RestoreAdapter();
}

// A 4K frame drawn in every mode from exactly-sized planes.
TEST_P(PerMode, UltraHdFrameDraws) {
    Open(GetParam());
    KESTRA_DWInitDraw(display, 3840, 2160);
    ASSERT_EQ(GetParam(), Object(display)->ViewPresenter().renderMode);
    Frame frame(3840, 2160);
    frame.Paint(120, 60, 200);
    EXPECT_EQ(0, frame.DrawOn(display));
    EXPECT_TRUE(Near(kplat_window_pixel(window, 48, 36), ExpectedColour(120, 60, 200), 16));
}

// Any missing plane: -1, and neither the window nor the frame surface is touched.
TEST_P(PerMode, MissingPlanesAreRefusedUntouched) {
    Open(GetParam());
    KESTRA_DWInitDraw(display, 64, 48);
    Frame frame(64, 48);
    frame.Paint(200, 60, 60);
    for (int missing = 1; missing < 8; ++missing) {
        kplat_fill_window(window, 0x123456);
        kplat_ddraw_clear_log();
        const uint8_t *y = missing & 1 ? nullptr : frame.Y();
        const uint8_t *u = missing & 2 ? nullptr : frame.U();
        const uint8_t *v = missing & 4 ? nullptr : frame.V();
        EXPECT_EQ(-1, KESTRA_DWDrawYUV420(display, y, 64, u, v, 32, 0, 0, 0))
            << "missing planes mask " << missing;
        EXPECT_EQ(0x123456u, kplat_window_pixel(window, 48, 36)) << "mask " << missing;
        EXPECT_EQ(0, kplat_ddraw_call_count()) << "mask " << missing << ": DirectDraw was called";
    }
}

// An odd width: chroma rows of width / 2 bytes, exactly, are all that is read.
TEST_P(PerMode, OddWidthReadsOnlyHalfWidthChroma) {
    for (int width : {1, 3, 65, 127}) {
        Open(GetParam());
        KESTRA_DWInitDraw(display, width, 46);
        ExactBlock y(size_t(width) * 46), u(size_t(width / 2) * 23), v(size_t(width / 2) * 23);
        y.Fill(100);
        u.Fill(90);
        v.Fill(170);
        EXPECT_EQ(0, KESTRA_DWDrawYUV420(display, y.data(), width, u.data(), v.data(), width / 2, 0,
                                         0, 0))
            << "width " << width;
        Close();
    }
}

// An odd height: the frame's height / 2 chroma rows, exactly, are all that is read.
TEST_P(PerMode, OddHeightReadsOnlyHalfHeightChroma) {
    for (int height : {1, 3, 47}) {
        Open(GetParam());
        KESTRA_DWInitDraw(display, 64, height);
        ExactBlock y(size_t(64) * height), u(size_t(32) * (height / 2 ? height / 2 : 1)),
            v(u.size());
        y.Fill(100);
        u.Fill(90);
        v.Fill(170);
        EXPECT_EQ(0, KESTRA_DWDrawYUV420(display, y.data(), 64, u.data(), v.data(), 32, 0, 0, 0))
            << "height " << height;
        Close();
    }
}

struct StrideCase {
    const char *name;
    int width, height, yStride, uvStride;
};

// Narrower than the frame, zero, or negative (the host's rows bottom-up).
const StrideCase kStrides[] = {
    {"OneLess", 64, 48, 63, 31},    {"One", 64, 48, 1, 1},
    {"Zero", 64, 48, 0, 0},         {"ZeroChroma", 64, 48, 64, 0},
    {"Negative", 64, 48, -64, -32}, {"NegativeNarrow", 64, 48, -5, -3},
    {"OddFrameOne", 62, 46, 1, 1},  {"OddFrameNegative", 62, 46, -62, -31},
};

class NarrowStrides : public HostileDisplay,
                      public ::testing::TestWithParam<std::tuple<int, StrideCase>> {
protected:
    void TearDown() override { Close(); }
};

// Outside the contract, yet every read stays inside the planes as the strides
// lay them out and every write inside the library's buffers: the planes are
// exactly that big, so ASan flags any byte beyond.
TEST_P(NarrowStrides, ReadOnlyTheHostsRowsAndWriteOnlyOurs) {
    const int mode = std::get<0>(GetParam());
    const StrideCase c = std::get<1>(GetParam());
    Open(mode);
    KESTRA_DWInitDraw(display, c.width, c.height);
    KESTRA_DWSetOSDText(display, 0, "stride", 1, 1, 0, 0xFFFFFF);
    Frame frame(c.width, c.height, c.yStride, c.uvStride);
    frame.Paint(90, 120, 130);
    EXPECT_EQ(0, frame.DrawOn(display)) << c.name;
}

INSTANTIATE_TEST_SUITE_P(EveryMode, NarrowStrides,
                         ::testing::Combine(::testing::ValuesIn(kAllModes),
                                            ::testing::ValuesIn(kStrides)),
                         [](const ::testing::TestParamInfo<std::tuple<int, StrideCase>> &param) {
                             return ModeLabel(std::get<0>(param.param)) + "_" +
                                    std::get<1>(param.param).name;
                         });

struct OsdPlacement {
    const char *name;
    const char *text;
    int32_t x, y, anchor;
};

// Positions at the ends of the int range, where the layout's own sums
// (height - y, y plus line advances) leave the int range.
const OsdPlacement kOsdPlacements[] = {
    {"BottomAnchoredInt32Min", "a", 0, INT32_MIN, 1},
    {"TwoLinesAtInt32Max", "a\nb", 0, INT32_MAX, 0},
};

class OsdPlacements : public HostileDisplay,
                      public ::testing::TestWithParam<std::tuple<int, OsdPlacement>> {
protected:
    void TearDown() override { Close(); }
};

// Text so far off the frame that none of it shows; the picture is drawn.
TEST_P(OsdPlacements, FarOffTextLeavesThePicture) {
    const int mode = std::get<0>(GetParam());
    const OsdPlacement c = std::get<1>(GetParam());
    Open(mode);
    KESTRA_DWInitDraw(display, 64, 48);
    KESTRA_DWSetOSDText(display, 0, c.text, c.x, c.y, c.anchor, 0xFFFFFF);
    Frame frame(64, 48);
    frame.Paint(60, 128, 128);
    EXPECT_EQ(0, frame.DrawOn(display)) << c.name;
    EXPECT_TRUE(Near(kplat_window_pixel(window, 2, 2), ExpectedColour(60, 128, 128), 16)) << c.name;
}

INSTANTIATE_TEST_SUITE_P(EveryMode, OsdPlacements,
                         ::testing::Combine(::testing::ValuesIn(kAllModes),
                                            ::testing::ValuesIn(kOsdPlacements)),
                         [](const ::testing::TestParamInfo<std::tuple<int, OsdPlacement>> &param) {
                             return ModeLabel(std::get<0>(param.param)) + "_" +
                                    std::get<1>(param.param).name;
                         });

bool Documented(KestraResult result) {
    return result == 0 || result == -1 || result == -3 || result == -9;
}

// The window goes away while the display holds its device context and, in a
// surface mode, a clipper bound to it. Every later call answers a documented
// result; a new window and a new set-up bring the picture back, and closing
// gives back everything.
TEST_P(PerMode, WindowDestroyedUnderTheDisplay) {
    const int before = LiveObjects();
    Open(GetParam());
    KESTRA_DWInitDraw(display, 64, 48);
    KESTRA_DWSetOSDText(display, 2, "gone", 1, 1, 0, 0xFFFFFF);
    Frame frame(64, 48);
    frame.Paint(150, 80, 170);
    ASSERT_EQ(0, frame.DrawOn(display));

    ASSERT_TRUE(kplat_destroy_window(window));
    HWND dead = window;
    window = nullptr;
    EXPECT_PRED1(Documented, frame.DrawOn(display)) << "draw";
    EXPECT_EQ(0, KESTRA_DWAdjustedWnd(display));
    EXPECT_PRED1(Documented, frame.DrawOn(display)) << "draw after adjust";
    EXPECT_EQ(0, KESTRA_DWInitDraw(display, 64, 48));
    EXPECT_PRED1(Documented, frame.DrawOn(display)) << "draw after set-up on the dead window";
    EXPECT_EQ(0, KESTRA_DWSetHwnd(display, dead));
    EXPECT_PRED1(Documented, frame.DrawOn(display)) << "draw after setting the dead window";
    EXPECT_EQ(0, KESTRA_DWFreeDraw(display));
    EXPECT_PRED1(Documented, frame.DrawOn(display)) << "draw after free";

    window = kplat_create_window("second", 200, 30, 96, 72, 1);
    ASSERT_NE(nullptr, window);
    KESTRA_DWSetHwnd(display, window);
    EXPECT_PRED1(Documented, frame.DrawOn(display)) << "draw into the new window, old set-up";
    KESTRA_DWInitDraw(display, 64, 48);
    EXPECT_EQ(0, frame.DrawOn(display)) << "draw after set-up on the new window";
    EXPECT_TRUE(Near(kplat_window_pixel(window, 48, 60), ExpectedColour(150, 80, 170), 16))
        << "the picture reaches the new window";
    Close();
    EXPECT_EQ(before, LiveObjects()) << "a DC, bitmap or DirectDraw object outlived the display";
}

INSTANTIATE_TEST_SUITE_P(EveryMode, PerMode, ::testing::ValuesIn(kAllModes),
                         [](const ::testing::TestParamInfo<int> &param) {
                             return ModeLabel(param.param);
                         });

}  // namespace
