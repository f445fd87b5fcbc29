// Frames shown through the surface modes, read back from the stand-in
// window: picture, stretch, crop, mirror, a window that moved, the OSD
// through the frame or aux surface with each fallback, and the result codes.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "support/png_writer.h"
#include "support/surface_test_support.h"

namespace {

using namespace kestra_test;

constexpr int kFw = 64;
constexpr int kFh = 48;
constexpr COLORREF kOsdGreen = RGB(0, 255, 0);

int callbackCalls = 0;
void CountingCallback(int32_t, HDC, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t,
                      void *) {
    ++callbackCalls;
}

class SurfaceDisplay {
public:
    SurfaceDisplay(int mode, int clientWidth, int clientHeight, int frameWidth = kFw,
                   int frameHeight = kFh) {
        ConfigureAdapter(mode);
        window = kplat_create_window("surface", 40, 30, clientWidth, clientHeight, 1);
        KESTRA_DWOpenDraw(&handle);
        KESTRA_DWSetHwnd(handle, window);
        KESTRA_DWSetDisplayCB(handle, nullptr, CountingCallback);
        KESTRA_DWInitDraw(handle, frameWidth, frameHeight);
    }
    ~SurfaceDisplay() {
        KESTRA_DWCloseDraw(handle);
        DestroyWindow(window);
        EXPECT_EQ(LiveDdrawObjects(), 0) << "DirectDraw objects outlive the display";
        kplat_ddraw_reset();
        kplat_clear_failures();
    }
    SurfaceDisplay(const SurfaceDisplay &) = delete;
    SurfaceDisplay &operator=(const SurfaceDisplay &) = delete;

    kestra::DrawWindow *object() const { return reinterpret_cast<kestra::DrawWindow *>(handle); }
    int32_t Draw(const YuvFrame &f) {
        return KESTRA_DWDrawYUV420(handle, f.y.data(), f.yStride, f.u.data(), f.v.data(),
                                   f.uvStride, 6, 7, 8);
    }
    std::vector<uint32_t> Pixels(int *w = nullptr, int *h = nullptr) const {
        int cw = 0, ch = 0;
        kplat_get_client_size(window, &cw, &ch);
        std::vector<uint32_t> out(size_t(cw) * ch);
        kplat_read_window_pixels(window, out.data(), cw);
        if (w) *w = cw;
        if (h) *h = ch;
        return out;
    }
    uint32_t At(int x, int y) const { return kplat_window_pixel(window, x, y); }
    int GreenPixels() const {
        int n = 0;
        for (uint32_t p : Pixels())
            if (((p >> 8) & 0xFF) > 200 && (p >> 16) < 60 && (p & 0xFF) < 60) ++n;
        return n;
    }
    void SetOsd() { KESTRA_DWSetOSDText(handle, 0, "HHHH", 4, 4, 0, kOsdGreen); }
    // The source of the last blit to the primary.
    const void *LastPresentedSource() const {
        const void *source = nullptr;
        for (const KplatDdrawCall &c : DdrawCalls("IDirectDrawSurface7::Blt"))
            if (c.object == object()->ViewPresenter().primarySurface) source = c.other;
        return source;
    }

    HWND window = nullptr;
    KestraDisplay handle = nullptr;
};

int Tolerance(int mode) { return mode == kestra::ModeRGB565Surface ? 1 : 4; }

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

// The picture each mode should show: the YUV frame in the FOURCC modes (the
// adapter converts it), the library's own 5-6-5 conversion widened to 8 bits.
std::vector<uint32_t> Expected(int mode, const YuvFrame &f) {
    if (mode != kestra::ModeRGB565Surface) return f.rgb;
    YuvFrame p = Packed(f);
    std::vector<uint16_t> rgb565(size_t(f.width) * f.height);
    kestra::yv12_to_rgb565_c(p.y.data(), f.width, p.u.data(), p.v.data(), f.width / 2,
                             reinterpret_cast<uint8_t *>(rgb565.data()), 2 * f.width, f.width,
                             f.height);
    std::vector<uint32_t> out(rgb565.size());
    for (size_t i = 0; i < out.size(); ++i) {
        uint32_t r = rgb565[i] >> 11, g = (rgb565[i] >> 5) & 63, b = rgb565[i] & 31;
        out[i] = (((r << 3) | (r >> 2)) << 16) | (((g << 2) | (g >> 4)) << 8) | (b << 3) | (b >> 2);
    }
    return out;
}

std::string ModeName(const ::testing::TestParamInfo<int> &p) {
    static const char *names[] = {"Yv12", "Uyvy", "Rgb565"};
    return names[p.param];
}

class SurfaceModeTest : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override { callbackCalls = 0; }
};

// Frame and client area of the same size: every pixel must be the frame's,
// read from padded planes in every mode.
TEST_P(SurfaceModeTest, ShowsTheFramePixelForPixel) {
    SurfaceDisplay d(GetParam(), kFw, kFh);
    ASSERT_EQ(d.object()->ViewPresenter().renderMode, GetParam());
    YuvFrame f(kFw, kFh);
    ASSERT_EQ(d.Draw(f), 0);
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
TEST_P(SurfaceModeTest, OddEdgesShowTheirOwnFrameOnly) {
    const int mode = GetParam();
    // One pixel in each mode's own terms: the adapter's conversion of the
    // YUV value in the FOURCC modes, a whole 2x2 block through the 5-6-5
    // converter (widened to 8 bits) in the RGB mode.
    auto colour = [mode](uint8_t luma, uint8_t u, uint8_t v) {
        YuvFrame block(2, 2);
        for (int r = 0; r < 2; ++r) block.y[size_t(r) * block.yStride] = luma;
        for (int r = 0; r < 2; ++r) block.y[size_t(r) * block.yStride + 1] = luma;
        block.u[0] = u;
        block.v[0] = v;
        block.Reference();
        return Expected(mode, block)[0];
    };
    const int kSizes[][2] = {{5, 5}, {1, 3}, {7, 4}, {4, 7}, {3, 2}, {33, 17}, {5, 1}, {1, 1}};
    for (const auto &size : kSizes) {
        const int w = size[0], h = size[1];
        SurfaceDisplay d(mode, w, h, w, h);
        ASSERT_EQ(d.object()->ViewPresenter().renderMode, mode) << w << "x" << h;
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

// Bar i of eight shows at the centre of the i-th eighth of `width`.
void ExpectBars(const SurfaceDisplay &d, int mode, const int order[8], int width, int height,
                const char *what) {
    std::vector<uint32_t> picture = Expected(mode, YuvFrame::Bars(kFw, kFh));
    for (int i = 0; i < 8; ++i)
        for (int y : {1, height / 2, height - 2}) {
            int x = (2 * i + 1) * width / 16;
            uint32_t want = picture[size_t(kFh / 2) * kFw + (2 * order[i] + 1) * kFw / 16];
            int tolerance = Tolerance(mode);
            EXPECT_TRUE(Near(d.At(x, y), want, tolerance))
                << what << ": at (" << x << "," << y << ") expected bar " << order[i] << " "
                << std::hex << want << " got " << d.At(x, y);
        }
}

TEST_P(SurfaceModeTest, StretchesCropsAndMirrorsOnlyWithModeOne) {
    SurfaceDisplay d(GetParam(), 160, 120);
    YuvFrame bars = YuvFrame::Bars(kFw, kFh);
    const int plain[8] = {0, 1, 2, 3, 4, 5, 6, 7};
    const int mirrored[8] = {7, 6, 5, 4, 3, 2, 1, 0};
    std::vector<uint32_t> picture = Expected(GetParam(), bars);
    ASSERT_EQ(d.Draw(bars), 0);
    ExpectBars(d, GetParam(), plain, 160, 120, "stretched");

    KESTRA_DWSetMirrorMode(d.handle, 1);
    d.Draw(bars);
    ExpectBars(d, GetParam(), mirrored, 160, 120, "mirror mode 1");
    KESTRA_DWSetMirrorMode(d.handle, 2);
    d.Draw(bars);
    ExpectBars(d, GetParam(), plain, 160, 120, "mirror mode 2");

    // The left half of the frame fills the window: four bars, each twice as wide.
    KESTRA_DWSetMirrorMode(d.handle, 0);
    RECT crop{0, 0, kFw / 2, kFh - 1};
    KESTRA_DWSetPlayRect(d.handle, &crop);
    d.Draw(bars);
    for (int i = 0; i < 4; ++i) {
        uint32_t want = picture[size_t(kFh / 2) * kFw + (2 * i + 1) * kFw / 16];
        int x = (2 * i + 1) * 160 / 8;
        EXPECT_TRUE(Near(d.At(x, 60), want, Tolerance(GetParam())))
            << "crop: bar " << i << " expected " << std::hex << want << " got " << d.At(x, 60);
    }
}

TEST_P(SurfaceModeTest, FollowsAWindowMovedAndResizedSinceTheLastFrame) {
    SurfaceDisplay d(GetParam(), 160, 120);
    YuvFrame bars = YuvFrame::Bars(kFw, kFh);
    d.Draw(bars);
    kplat_move_window(d.window, 500, 300);
    kplat_resize_window(d.window, 200, 100);
    ASSERT_EQ(d.Draw(bars), 0);
    const int plain[8] = {0, 1, 2, 3, 4, 5, 6, 7};
    ExpectBars(d, GetParam(), plain, 200, 100, "after move and resize");
    RECT r = d.object()->ViewPresenter().clientRect;
    EXPECT_EQ(r.left, 500);
    EXPECT_EQ(r.bottom, 400);
}

TEST_P(SurfaceModeTest, FrameLockFailureDropsTheFrameAfterRestore) {
    SurfaceDisplay d(GetParam(), kFw, kFh);
    kestra::DrawWindow *dw = d.object();
    kplat_ddraw_clear_log();
    kplat_fail_call("IDirectDrawSurface7::Lock", 1, DDERR_SURFACELOST, 0);
    YuvFrame f(kFw, kFh);
    EXPECT_EQ(d.Draw(f), -3);
    std::vector<KplatDdrawCall> restores = DdrawCalls("IDirectDrawSurface7::Restore");
    ASSERT_EQ(restores.size(), 1u);
    EXPECT_EQ(restores[0].object, dw->ViewPresenter().frameSurface);
    EXPECT_EQ(DdrawCalls("IDirectDrawSurface7::Blt").size(), 0u) << "nothing presented";
    EXPECT_EQ(d.At(10, 10), 0u);
    EXPECT_EQ(d.Draw(f), 0) << "the next frame goes through";
}

TEST_P(SurfaceModeTest, FreeDrawGivesMinusNineUntilTheNextInit) {
    SurfaceDisplay d(GetParam(), kFw, kFh);
    YuvFrame f(kFw, kFh);
    KESTRA_DWFreeDraw(d.handle);
    EXPECT_EQ(d.Draw(f), -9);
    KESTRA_DWInitDraw(d.handle, kFw, kFh);
    EXPECT_EQ(d.Draw(f), 0);
}

TEST_P(SurfaceModeTest, OsdTextAppearsInTheFrame) {
    SurfaceDisplay d(GetParam(), kFw, kFh);
    d.SetOsd();
    ASSERT_EQ(d.Draw(YuvFrame(kFw, kFh, 16)), 0);
    EXPECT_GT(d.GreenPixels(), 0) << "no OSD text in the window";
    const void *expected = GetParam() == kestra::ModeRGB565Surface
                               ? static_cast<const void *>(d.object()->ViewPresenter().frameSurface)
                               : static_cast<const void *>(d.object()->ViewPresenter().auxSurface);
    EXPECT_EQ(d.LastPresentedSource(), expected);
}

INSTANTIATE_TEST_SUITE_P(Modes, SurfaceModeTest, ::testing::Values(0, 1, 2), ModeName);

class FourccOsdTest : public SurfaceModeTest {};

TEST_P(FourccOsdTest, GoesThroughTheAuxSurface) {
    SurfaceDisplay d(GetParam(), kFw, kFh);
    kestra::DrawWindow *dw = d.object();
    d.Draw(YuvFrame(kFw, kFh, 16));
    EXPECT_EQ(d.LastPresentedSource(), dw->ViewPresenter().frameSurface)
        << "no text: the frame surface";

    d.SetOsd();
    kplat_ddraw_clear_log();
    d.Draw(YuvFrame(kFw, kFh, 16));
    std::vector<KplatDdrawCall> blts = DdrawCalls("IDirectDrawSurface7::Blt");
    ASSERT_EQ(blts.size(), 2u);
    EXPECT_EQ(blts[0].object, dw->ViewPresenter().auxSurface);
    EXPECT_EQ(blts[0].other, dw->ViewPresenter().frameSurface);
    EXPECT_EQ(blts[0].flags, DWORD(DDBLT_WAIT));
    RECT whole{0, 0, kFw, kFh};
    EXPECT_EQ(std::memcmp(&blts[0].destRect, &whole, sizeof(RECT)), 0);
    std::vector<KplatDdrawCall> locks = DdrawCalls("IDirectDrawSurface7::Lock");
    ASSERT_EQ(locks.size(), 2u);
    EXPECT_EQ(locks[1].object, dw->ViewPresenter().auxSurface);
    EXPECT_EQ(locks[1].flags, DWORD(DDLOCK_WAIT | DDLOCK_WRITEONLY));
    EXPECT_EQ(blts[1].other, dw->ViewPresenter().auxSurface);
}

TEST_P(FourccOsdTest, AuxBlitFailingShowsTheFrameWithoutText) {
    SurfaceDisplay d(GetParam(), kFw, kFh);
    d.SetOsd();
    kplat_fail_call("IDirectDrawSurface7::Blt", -1, DDERR_GENERIC, 32);
    EXPECT_EQ(d.Draw(YuvFrame(kFw, kFh, 16)), 0);
    EXPECT_EQ(d.GreenPixels(), 0);
    EXPECT_EQ(d.LastPresentedSource(), d.object()->ViewPresenter().frameSurface);
}

TEST_P(FourccOsdTest, AuxLockLostRestoresAndDrawsText) {
    SurfaceDisplay d(GetParam(), kFw, kFh);
    d.SetOsd();
    kplat_ddraw_clear_log();
    kplat_fail_call("IDirectDrawSurface7::Lock", 1, DDERR_SURFACELOST, 32);
    EXPECT_EQ(d.Draw(YuvFrame(kFw, kFh, 16)), 0);
    std::vector<KplatDdrawCall> restores = DdrawCalls("IDirectDrawSurface7::Restore");
    ASSERT_EQ(restores.size(), 1u);
    EXPECT_EQ(restores[0].object, d.object()->ViewPresenter().auxSurface);
    EXPECT_GT(d.GreenPixels(), 0);
}

TEST_P(FourccOsdTest, AuxLockFailingShowsTheConvertedFrameWithoutText) {
    SurfaceDisplay d(GetParam(), kFw, kFh);
    d.SetOsd();
    kplat_fail_call("IDirectDrawSurface7::Lock", 1, DDERR_GENERIC, 32);
    EXPECT_EQ(d.Draw(YuvFrame(kFw, kFh, 16)), 0);
    EXPECT_EQ(d.GreenPixels(), 0);
    EXPECT_EQ(d.LastPresentedSource(), d.object()->ViewPresenter().auxSurface);
}

INSTANTIATE_TEST_SUITE_P(Modes, FourccOsdTest, ::testing::Values(0, 1), ModeName);

// A display-mode change, the secure desktop or a full-screen game takes the
// surfaces. Whatever was lost, the next frames show again, text and all; a
// surface that cannot be restored (a new screen format) has DirectDraw set up
// anew. A frame that could not be shown is not reported as shown.
struct LostCase {
    const char *name;
    DWORD format;  // the surfaces marked lost
    bool restoreFails;
    int32_t firstDraw;
};

const LostCase kLost[] = {
    {"primary", KPLAT_DDRAW_PRIMARY, false, 0},
    {"aux", 32, false, 0},
    {"every_surface", 0, false, -3},
    {"every_surface_for_good", 0, true, 0},
};

class LostSurfaceTest : public ::testing::TestWithParam<std::tuple<int, LostCase>> {};

TEST_P(LostSurfaceTest, NextFramesShowAgain) {
    const int mode = std::get<0>(GetParam());
    const LostCase &c = std::get<1>(GetParam());
    SurfaceDisplay d(mode, kFw, kFh);
    d.SetOsd();
    const YuvFrame grey(kFw, kFh, 16);
    ASSERT_EQ(d.Draw(grey), 0);
    kplat_fill_window(d.window, 0x123456);
    ASSERT_GT(kplat_ddraw_mark_lost(c.format), 0);
    if (c.restoreFails) kplat_fail_call("IDirectDrawSurface7::Restore", -1, DDERR_WRONGMODE, 0);
    EXPECT_EQ(d.Draw(grey), c.firstDraw) << c.name;
    if (c.firstDraw != 0) {
        EXPECT_EQ(d.At(kFw - 1, kFh - 1), 0x123456u) << "not shown, not reported";
    }
    ASSERT_EQ(d.Draw(grey), 0) << c.name;
    EXPECT_EQ(d.object()->ViewPresenter().renderMode, mode) << c.name;
    EXPECT_TRUE(Near(d.At(kFw - 1, kFh - 1), Expected(mode, grey).back(), Tolerance(mode)))
        << c.name << ": got " << std::hex << d.At(kFw - 1, kFh - 1);
    EXPECT_GT(d.GreenPixels(), 0) << c.name << ": the OSD text";
}

INSTANTIATE_TEST_SUITE_P(
    Modes, LostSurfaceTest,
    ::testing::Combine(::testing::Values(0, 1, 2), ::testing::ValuesIn(kLost)),
    [](const ::testing::TestParamInfo<std::tuple<int, LostCase>> &p) {
        return ModeName({std::get<0>(p.param), p.index}) + "_" + std::get<1>(p.param).name;
    });

TEST(Rgb565SurfaceTest, GetDcFailingShowsTheFrameWithoutText) {
    SurfaceDisplay d(kestra::ModeRGB565Surface, kFw, kFh);
    d.SetOsd();
    kplat_fail_call("IDirectDrawSurface7::GetDC", -1, DDERR_CANTCREATEDC, 16);
    EXPECT_EQ(d.Draw(YuvFrame(kFw, kFh, 16)), 0);
    EXPECT_EQ(d.GreenPixels(), 0);
}

// Hosts pad rows; the picture must be the one of packed planes.
TEST(Rgb565SurfaceTest, PaddedStridesShowAnUnshearedPicture) {
    SurfaceDisplay d(kestra::ModeRGB565Surface, kFw, kFh);
    YuvFrame padded(kFw, kFh);
    YuvFrame packed = Packed(padded);
    d.Draw(packed);
    std::vector<uint32_t> fromPacked = d.Pixels();
    d.Draw(padded);
    EXPECT_EQ(d.Pixels(), fromPacked);
}

// One picture per surface mode, with OSD text, crop and mirror, for a person to look at.
TEST_P(SurfaceModeTest, WritesAPicture) {
    static const char *files[] = {"surface_yv12.png", "surface_uyvy.png", "surface_rgb565.png"};
    SurfaceDisplay d(GetParam(), 320, 240);
    KESTRA_DWSetOSDText(d.handle, 0, "OSD text\nline 2", 4, 4, 0, RGB(255, 255, 0));
    KESTRA_DWSetOSDText(d.handle, 1, files[GetParam()], 4, 20, 1, RGB(255, 255, 255));
    RECT crop{8, 4, kFw - 1, kFh - 1};
    KESTRA_DWSetPlayRect(d.handle, &crop);
    KESTRA_DWSetMirrorMode(d.handle, 1);
    ASSERT_EQ(d.Draw(YuvFrame::Bars(kFw, kFh)), 0);
    int w = 0, h = 0;
    std::vector<uint32_t> px = d.Pixels(&w, &h);
    std::string path = std::string(KESTRA_TEST_OUTPUT_DIR) + "/" + files[GetParam()];
    EXPECT_TRUE(WritePng(path, px.data(), w, h, w)) << path;
}

}  // namespace
