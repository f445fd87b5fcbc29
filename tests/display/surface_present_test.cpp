// Frames shown through the surface modes, read back from the stand-in
// window: picture, stretch, crop, mirror, a window that moved, the OSD
// through the frame or aux surface with each fallback, and the result codes;
// and the odd edges of a frame in every mode.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "support/display_fixture.h"
#include "support/png_writer.h"

namespace {

using namespace kestra_test;

constexpr int kFw = 64;
constexpr int kFh = 48;

int GreenPixels(const TestDisplay &d) {
    int n = 0;
    for (uint32_t p : d.Pixels())
        if (((p >> 8) & 0xFF) > 200 && (p >> 16) < 60 && (p & 0xFF) < 60) ++n;
    return n;
}
void SetGreenText(const TestDisplay &d) {
    KESTRA_DWSetOSDText(d.handle, 0, "HHHH", 4, 4, 0, RGB(0, 255, 0));
}

int Tolerance(int mode) { return mode == ModeGdi ? 0 : mode == ModeRGB565Surface ? 1 : 4; }

YuvFrame Packed(const YuvFrame &padded) {
    YuvFrame packed(padded.width, padded.height);
    int w = padded.width, h = padded.height;
    packed.yStride = w;
    packed.uvStride = w / 2;
    for (int r = 0; r < h; ++r)
        std::memcpy(&packed.y[size_t(r) * w], &padded.y[size_t(r) * padded.yStride], w);
    for (int r = 0; r < h / 2; ++r) {
        std::memcpy(&packed.u[size_t(r) * w / 2], &padded.u[size_t(r) * padded.uvStride], w / 2);
        std::memcpy(&packed.v[size_t(r) * w / 2], &padded.v[size_t(r) * padded.uvStride], w / 2);
    }
    return packed;
}

// The picture each mode should show: the library's own RGB conversion in the
// GDI mode, the YUV frame in the FOURCC modes (the adapter converts it), the
// library's own 5-6-5 conversion widened to 8 bits.
std::vector<uint32_t> Expected(int mode, const YuvFrame &f) {
    if (mode != ModeRGB565Surface) return f.rgb;
    YuvFrame p = Packed(f);
    std::vector<uint16_t> rgb565(size_t(f.width) * f.height);
    kestra::yv12_to_rgb565_c(p.y.data(), f.width, p.u.data(), p.v.data(), f.width / 2,
                             reinterpret_cast<uint8_t *>(rgb565.data()), 2 * f.width, f.width,
                             f.height, kestra::colour::kBt601Studio);
    std::vector<uint32_t> out(rgb565.size());
    for (size_t i = 0; i < out.size(); ++i) {
        uint32_t r = rgb565[i] >> 11, g = (rgb565[i] >> 5) & 63, b = rgb565[i] & 31;
        out[i] = (((r << 3) | (r >> 2)) << 16) | (((g << 2) | (g >> 4)) << 8) | (b << 3) | (b >> 2);
    }
    return out;
}

// Every display of these tests gives back all it took from DirectDraw.
class SurfaceTest : public ::testing::Test {
protected:
    void TearDown() override {
        EXPECT_EQ(LiveDdrawObjects(), 0) << "DirectDraw objects outlive the display";
    }
};

class SurfaceModeTest : public SurfaceTest, public ::testing::WithParamInterface<int> {};

void KESTRA_CALLBACK CountCalls(int32_t, HDC, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t,
                                int32_t, void *user) {
    ++*static_cast<int *>(user);
}

// Frame and client area of the same size: every pixel must be the frame's,
// read from padded planes in every mode.
TEST_P(SurfaceModeTest, ShowsTheFramePixelForPixel) {
    TestDisplay d(GetParam(), kFw, kFh);
    ASSERT_EQ(d.Mode(), GetParam());
    int callbackCalls = 0;
    KESTRA_DWSetDisplayCB(d.handle, &callbackCalls, CountCalls);
    YuvFrame f(kFw, kFh);
    ASSERT_EQ(d.Draw(f, 6, 7, 8), 0);
    std::vector<uint32_t> px = d.Pixels();
    std::vector<uint32_t> want = Expected(GetParam(), f);
    int bad = 0;
    for (size_t i = 0; i < px.size(); ++i)
        if (!Near(px[i], want[i], Tolerance(GetParam())) && bad++ < 3)
            ADD_FAILURE() << "pixel (" << i % kFw << "," << i / kFw << ") expected " << std::hex
                          << want[i] << " got " << px[i];
    EXPECT_EQ(bad, 0);
    EXPECT_EQ(callbackCalls, 0) << "the display callback belongs to the GDI mode";
}

// What an odd size adds beyond whole 2x2 blocks (the last column, the last
// row) shows the frame being drawn: its own luma with the nearest chroma, or
// grey when a frame 1 pixel wide or high has none. The frame before has other
// luma and chroma, so a byte left over from it shows.
class EveryModeTest : public SurfaceModeTest {};

TEST_P(EveryModeTest, OddEdgesShowTheirOwnFrameOnly) {
    const int mode = GetParam();
    // One pixel in each mode's own terms: a whole 2x2 block of one colour.
    auto colour = [mode](uint8_t luma, uint8_t u, uint8_t v) {
        YuvFrame block(2, 2);
        for (int r = 0; r < 2; ++r) block.y[size_t(r) * block.yStride] = luma;
        for (int r = 0; r < 2; ++r) block.y[size_t(r) * block.yStride + 1] = luma;
        block.u[0] = u;
        block.v[0] = v;
        block.Reference();
        return Expected(mode, block)[0];
    };
    const int kSizes[][2] = {{1, 1}, {1, 2}, {2, 1}, {1, 3}, {1, 6}, {6, 1},   {5, 1},
                             {2, 3}, {3, 2}, {5, 5}, {7, 4}, {4, 7}, {175, 3}, {33, 17}};
    for (const auto &size : kSizes) {
        const int w = size[0], h = size[1];
        TestDisplay d(mode, w, h);
        ASSERT_EQ(d.Mode(), mode) << w << "x" << h;
        ASSERT_EQ(d.Draw(YuvFrame(w, h)), 0);
        const YuvFrame next = YuvFrame::InvertedOnOneColour(w, h);
        const uint8_t u = w > 1 && h > 1 ? 90 : 128, v = w > 1 && h > 1 ? 240 : 128;
        ASSERT_EQ(d.Draw(next), 0);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const uint32_t want = colour(next.y[size_t(y) * next.yStride + x], u, v);
                ASSERT_TRUE(Near(d.At(x, y), want, Tolerance(mode)))
                    << w << "x" << h << " frame, pixel " << x << "," << y << " expected "
                    << std::hex << want << " got " << d.At(x, y);
            }
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, EveryModeTest, ::testing::ValuesIn(kAllModes), ModeParamName);

// Bar order[i] of the frame's eight shows at the centre of the i-th eighth of
// a window of width x height.
testing::AssertionResult ShowsBars(const TestDisplay &d, int mode, const int order[8], int width,
                                   int height) {
    std::vector<uint32_t> picture = Expected(mode, YuvFrame::Bars(kFw, kFh));
    for (int i = 0; i < 8; ++i)
        for (int y : {1, height / 2, height - 2}) {
            const int x = (2 * i + 1) * width / 16;
            const uint32_t want = picture[size_t(kFh / 2) * kFw + (2 * order[i] + 1) * kFw / 16];
            if (!Near(d.At(x, y), want, Tolerance(mode)))
                return testing::AssertionFailure()
                       << "at (" << x << "," << y << ") expected bar " << order[i] << " "
                       << Hex(want) << " got " << Hex(d.At(x, y));
        }
    return testing::AssertionSuccess();
}

const int kPlain[8] = {0, 1, 2, 3, 4, 5, 6, 7};

TEST_P(SurfaceModeTest, StretchesCropsAndMirrorsOnlyWithModeOne) {
    TestDisplay d(GetParam(), kFw, kFh, 160, 120);
    const YuvFrame bars = YuvFrame::Bars(kFw, kFh);
    const int mirrored[8] = {7, 6, 5, 4, 3, 2, 1, 0};
    ASSERT_EQ(d.Draw(bars), 0);
    EXPECT_TRUE(ShowsBars(d, GetParam(), kPlain, 160, 120)) << "stretched";

    KESTRA_DWSetMirrorMode(d.handle, 1);
    d.Draw(bars);
    EXPECT_TRUE(ShowsBars(d, GetParam(), mirrored, 160, 120)) << "mirror mode 1";
    KESTRA_DWSetMirrorMode(d.handle, 2);
    d.Draw(bars);
    EXPECT_TRUE(ShowsBars(d, GetParam(), kPlain, 160, 120)) << "mirror mode 2";

    // The left half of the frame fills the window: four bars, each twice as wide.
    KESTRA_DWSetMirrorMode(d.handle, 0);
    const RECT crop{0, 0, kFw / 2, kFh - 1};
    KESTRA_DWSetPlayRect(d.handle, &crop);
    d.Draw(bars);
    const int leftHalf[8] = {0, 0, 1, 1, 2, 2, 3, 3};
    EXPECT_TRUE(ShowsBars(d, GetParam(), leftHalf, 160, 120)) << "crop";
}

TEST_P(SurfaceModeTest, FollowsAWindowMovedAndResizedSinceTheLastFrame) {
    TestDisplay d(GetParam(), kFw, kFh, 160, 120);
    YuvFrame bars = YuvFrame::Bars(kFw, kFh);
    d.Draw(bars);
    kplat_move_window(d.window, 500, 300);
    kplat_resize_window(d.window, 200, 100);
    ASSERT_EQ(d.Draw(bars), 0);
    EXPECT_TRUE(ShowsBars(d, GetParam(), kPlain, 200, 100));
    const RECT onScreen = LastBlitToScreen().destRect;
    EXPECT_EQ(onScreen.left, 500);
    EXPECT_EQ(onScreen.bottom, 400);
}

TEST_P(SurfaceModeTest, FrameLockFailureDropsTheFrameAfterRestore) {
    TestDisplay d(GetParam(), kFw, kFh);
    kplat_ddraw_clear_log();
    kplat_fail_call("IDirectDrawSurface7::Lock", 1, DDERR_SURFACELOST, 0);
    YuvFrame f(kFw, kFh);
    EXPECT_EQ(d.Draw(f), -3);
    std::vector<KplatDdrawCall> restores = DdrawCalls("IDirectDrawSurface7::Restore");
    ASSERT_EQ(restores.size(), 1u);
    EXPECT_EQ(restores[0].format, FrameFormat(GetParam()));
    EXPECT_EQ(DdrawCalls("IDirectDrawSurface7::Blt").size(), 0u) << "nothing presented";
    EXPECT_EQ(d.At(10, 10), 0u);
    EXPECT_EQ(d.Draw(f), 0) << "the next frame goes through";
}

// The mode and the set-up stay: the surfaces only come back with the next one.
TEST_P(SurfaceModeTest, FreeDrawGivesMinusNineUntilTheNextInit) {
    TestDisplay d(GetParam(), kFw, kFh);
    YuvFrame f(kFw, kFh);
    KESTRA_DWFreeDraw(d.handle);
    EXPECT_EQ(LiveDdrawObjects(), 0);
    EXPECT_EQ(d.Draw(f), -9);
    d.Init(kFw, kFh);
    EXPECT_EQ(d.Draw(f), 0);
}

// One picture per surface mode, with OSD text, crop and mirror, for a person to look at.
TEST_P(SurfaceModeTest, WritesAPicture) {
    static const char *files[] = {"surface_yv12.png", "surface_uyvy.png", "surface_rgb565.png"};
    const std::string file = files[GetParam()];
    TestDisplay d(GetParam(), kFw, kFh, 320, 240);
    KESTRA_DWSetOSDText(d.handle, 0, "OSD text\nline 2", 4, 4, 0, RGB(255, 255, 0));
    KESTRA_DWSetOSDText(d.handle, 1, file.c_str(), 4, 20, 1, RGB(255, 255, 255));
    RECT crop{8, 4, kFw - 1, kFh - 1};
    KESTRA_DWSetPlayRect(d.handle, &crop);
    KESTRA_DWSetMirrorMode(d.handle, 1);
    ASSERT_EQ(d.Draw(YuvFrame::Bars(kFw, kFh)), 0);
    std::vector<uint32_t> px = d.Pixels();
    std::string path = std::string(KESTRA_TEST_OUTPUT_DIR) + "/" + file;
    EXPECT_TRUE(WritePng(path, px.data(), 320, 240, 320)) << path;
}

INSTANTIATE_TEST_SUITE_P(Modes, SurfaceModeTest,
                         ::testing::Values(ModeYV12Surface, ModeUYVYSurface, ModeRGB565Surface),
                         ModeParamName);

class FourccTest : public SurfaceModeTest {};

TEST_P(FourccTest, TextGoesThroughTheAuxSurface) {
    TestDisplay d(GetParam(), kFw, kFh);
    d.Draw(YuvFrame(kFw, kFh, 16));
    EXPECT_EQ(ShownFormat(), FrameFormat(GetParam())) << "no text: the frame surface";

    SetGreenText(d);
    kplat_ddraw_clear_log();
    d.Draw(YuvFrame(kFw, kFh, 16));
    std::vector<KplatDdrawCall> blts = DdrawCalls("IDirectDrawSurface7::Blt");
    ASSERT_EQ(blts.size(), 2u);
    EXPECT_EQ(blts[0].format, kAux);
    EXPECT_EQ(FormatKeyOf(blts[0].other), FrameFormat(GetParam()));
    EXPECT_EQ(blts[0].flags, DWORD(DDBLT_WAIT));
    RECT whole{0, 0, kFw, kFh};
    EXPECT_EQ(std::memcmp(&blts[0].destRect, &whole, sizeof(RECT)), 0);
    std::vector<KplatDdrawCall> locks = DdrawCalls("IDirectDrawSurface7::Lock");
    ASSERT_EQ(locks.size(), 2u);
    EXPECT_EQ(locks[1].format, kAux);
    EXPECT_EQ(locks[1].flags, DWORD(DDLOCK_WAIT | DDLOCK_WRITEONLY));
    EXPECT_EQ(blts[1].format, KPLAT_DDRAW_PRIMARY);
    EXPECT_EQ(blts[1].other, blts[0].object) << "the aux surface is shown";
}

INSTANTIATE_TEST_SUITE_P(Modes, FourccTest, ::testing::Values(ModeYV12Surface, ModeUYVYSurface),
                         ModeParamName);

// OSD text through the surface that takes it (the aux surface in the FOURCC
// modes, the frame surface in 5-6-5), and what each failure on the way leaves.
struct OsdCase {
    const char *name;
    int32_t mode;
    const char *failing;  // on the surface of format key `format`, `count` times
    DWORD format;
    int count;
    HRESULT result;
    bool textShown;
    bool auxShown;   // else the frame surface
    DWORD restored;  // the format key of the surface restored, 0 for none
};

const OsdCase kOsdCases[] = {
    {"Yv12", ModeYV12Surface, nullptr, 0, 0, 0, true, true, 0},
    {"Uyvy", ModeUYVYSurface, nullptr, 0, 0, 0, true, true, 0},
    {"Rgb565", ModeRGB565Surface, nullptr, 0, 0, 0, true, false, 0},
    {"Yv12AuxBlitFails", 0, "IDirectDrawSurface7::Blt", kAux, -1, DDERR_GENERIC, false, false, 0},
    {"UyvyAuxBlitFails", 1, "IDirectDrawSurface7::Blt", kAux, -1, DDERR_GENERIC, false, false, 0},
    {"Yv12AuxLockLost", 0, "IDirectDrawSurface7::Lock", kAux, 1, DDERR_SURFACELOST, true, true,
     KPLAT_DDRAW_PRIMARY},
    {"UyvyAuxLockLost", 1, "IDirectDrawSurface7::Lock", kAux, 1, DDERR_SURFACELOST, true, true,
     KPLAT_DDRAW_PRIMARY},
    // The converted frame, without the text.
    {"Yv12AuxLockFails", 0, "IDirectDrawSurface7::Lock", kAux, 1, DDERR_GENERIC, false, true, 0},
    {"UyvyAuxLockFails", 1, "IDirectDrawSurface7::Lock", kAux, 1, DDERR_GENERIC, false, true, 0},
    {"Rgb565GetDcFails", 2, "IDirectDrawSurface7::GetDC", kRgb565, -1, DDERR_CANTCREATEDC, false,
     false, 0},
};

class OsdSurfaceTest : public SurfaceTest, public ::testing::WithParamInterface<OsdCase> {};

TEST_P(OsdSurfaceTest, TextShowsOrTheFrameDoes) {
    const OsdCase &c = GetParam();
    TestDisplay d(c.mode, kFw, kFh);
    SetGreenText(d);
    kplat_ddraw_clear_log();
    if (c.failing) kplat_fail_call(c.failing, c.count, c.result, c.format);
    ASSERT_EQ(d.Draw(YuvFrame(kFw, kFh, 16)), 0);
    EXPECT_EQ(GreenPixels(d) > 0, c.textShown);
    EXPECT_EQ(ShownFormat(), c.auxShown ? kAux : FrameFormat(c.mode));
    const std::vector<KplatDdrawCall> restores = DdrawCalls("IDirectDrawSurface7::Restore");
    EXPECT_EQ(restores.empty() ? 0 : restores[0].format, c.restored);
}

INSTANTIATE_TEST_SUITE_P(Cases, OsdSurfaceTest, ::testing::ValuesIn(kOsdCases),
                         [](const ::testing::TestParamInfo<OsdCase> &p) {
                             return std::string(p.param.name);
                         });

// A display-mode change, the secure desktop or a full-screen game takes the
// surfaces. Whatever was lost, the next frames show again, text and all; a
// surface that cannot be restored (a new screen format) has DirectDraw set up
// anew. A frame that could not be shown is not reported as shown, and one
// reported shown is the frame, not what a restored surface holds.
struct LostCase {
    const char *name;
    DWORD format;  // the surfaces marked lost
    bool restoreFails;
    int32_t firstDraw;
    const char *lostAt;  // every surface is lost at this call on `format`; null: before the draw
};

const LostCase kLost[] = {
    {"primary", KPLAT_DDRAW_PRIMARY, false, 0, nullptr},
    {"aux", kAux, false, 0, nullptr},
    {"every_surface", 0, false, -3, nullptr},
    {"every_surface_for_good", 0, true, 0, nullptr},
    {"every_surface_after_the_frame_was_written", KPLAT_DDRAW_PRIMARY, false, 0,
     "IDirectDrawSurface7::Blt"},
};

class LostSurfaceTest : public SurfaceTest,
                        public ::testing::WithParamInterface<std::tuple<int, LostCase>> {};

TEST_P(LostSurfaceTest, NextFramesShowAgain) {
    const int mode = std::get<0>(GetParam());
    const LostCase &c = std::get<1>(GetParam());
    TestDisplay d(mode, kFw, kFh);
    SetGreenText(d);
    const YuvFrame grey(kFw, kFh, 16);
    ASSERT_EQ(d.Draw(grey), 0);
    kplat_fill_window(d.window, 0x123456);
    if (c.lostAt)
        kplat_fail_call(c.lostAt, 1, DDERR_SURFACELOST, c.format);
    else
        ASSERT_GT(kplat_ddraw_mark_lost(c.format), 0);
    if (c.restoreFails) kplat_fail_call("IDirectDrawSurface7::Restore", -1, DDERR_WRONGMODE, 0);
    EXPECT_EQ(d.Draw(grey), c.firstDraw) << c.name;
    if (c.firstDraw != 0) {
        EXPECT_EQ(d.At(kFw - 1, kFh - 1), 0x123456u) << "not shown, not reported";
    } else {
        EXPECT_TRUE(Near(d.At(kFw - 1, kFh - 1), Expected(mode, grey).back(), Tolerance(mode)))
            << c.name << ": reported shown, got " << std::hex << d.At(kFw - 1, kFh - 1);
    }
    ASSERT_EQ(d.Draw(grey), 0) << c.name;
    EXPECT_EQ(d.Mode(), mode) << c.name;
    EXPECT_TRUE(Near(d.At(kFw - 1, kFh - 1), Expected(mode, grey).back(), Tolerance(mode)))
        << c.name << ": got " << std::hex << d.At(kFw - 1, kFh - 1);
    EXPECT_GT(GreenPixels(d), 0) << c.name << ": the OSD text";
}

INSTANTIATE_TEST_SUITE_P(Modes, LostSurfaceTest,
                         ::testing::Combine(::testing::Values(ModeYV12Surface, ModeUYVYSurface,
                                                              ModeRGB565Surface),
                                            ::testing::ValuesIn(kLost)),
                         ModeAndRowName<LostCase>);

// Hosts pad rows; the picture must be the one of packed planes.
TEST_F(SurfaceTest, Rgb565PaddedStridesShowAnUnshearedPicture) {
    TestDisplay d(ModeRGB565Surface, kFw, kFh);
    YuvFrame padded(kFw, kFh);
    d.Draw(Packed(padded));
    std::vector<uint32_t> fromPacked = d.Pixels();
    d.Draw(padded);
    EXPECT_EQ(d.Pixels(), fromPacked);
}

}  // namespace
