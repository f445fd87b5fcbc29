// GDI presentation, read back from the stand-in window: placement, scaling,
// crop and mirror, rows of every width, and the display callback with what
// it may ask of its own display.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <thread>
#include <vector>

#include "support/display_fixture.h"

namespace {

using kestra_test::TestDisplay;
using kestra_test::YuvFrame;
constexpr int kGdi = kestra_test::ModeGdi;

struct PresentCase {
    const char *name;
    int frameWidth, frameHeight;
    int clientWidth, clientHeight;
    bool crop;
    RECT playRect;
    int32_t mirror;
    int scale;  // window pixels per frame pixel
};

void PrintTo(const PresentCase &c, std::ostream *os) { *os << c.name; }

std::string CaseName(const ::testing::TestParamInfo<PresentCase> &info) {
    std::string name = info.param.name;
    for (char &c : name)
        if (!isalnum(static_cast<unsigned char>(c))) c = '_';
    return name;
}

class GdiPresentTest : public ::testing::TestWithParam<PresentCase> {};

// The window shows the (cropped, mirrored) frame pixel by pixel.
TEST_P(GdiPresentTest, WindowShowsTheFrame) {
    const PresentCase &c = GetParam();
    TestDisplay display(kGdi, c.frameWidth, c.frameHeight, c.clientWidth, c.clientHeight);
    if (c.crop) KESTRA_DWSetPlayRect(display.handle, &c.playRect);
    KESTRA_DWSetMirrorMode(display.handle, c.mirror);
    YuvFrame frame(c.frameWidth, c.frameHeight);
    ASSERT_EQ(display.Draw(frame), 0) << c.name;

    const RECT crop = c.crop ? c.playRect : RECT{0, 0, c.frameWidth, c.frameHeight};
    const std::vector<uint32_t> window = display.Pixels();
    for (int y = 0; y < c.clientHeight; ++y)
        for (int x = 0; x < c.clientWidth; ++x) {
            int fx = x / c.scale;
            fx = c.mirror == 1 ? crop.right - 1 - fx : crop.left + fx;
            int fy = crop.top + y / c.scale;
            ASSERT_EQ(window[static_cast<size_t>(y) * c.clientWidth + x], frame.Rgb(fx, fy))
                << c.name << ": window pixel " << x << "," << y << " should be frame pixel " << fx
                << "," << fy;
        }
}

const PresentCase kPresentCases[] = {
    {"one to one", 160, 120, 160, 120, false, {}, 0, 1},
    {"stretched twice", 160, 120, 320, 240, false, {}, 0, 2},
    {"mirrored", 160, 120, 160, 120, false, {}, 1, 1},
    {"mirror mode 2 is unmirrored", 160, 120, 160, 120, false, {}, 2, 1},
    {"play rect", 160, 120, 80, 70, true, {20, 10, 100, 80}, 0, 1},
    {"play rect mirrored", 160, 120, 80, 70, true, {20, 10, 100, 80}, 1, 1},
    {"play rect mirrored stretched", 160, 120, 160, 140, true, {20, 10, 100, 80}, 1, 2},
    {"full size play rect of the table", 640, 480, 400, 350, true, {100, 50, 500, 400}, 1, 1},
    // Rows of these widths are not a multiple of 4 bytes: a shear shows at once.
    {"width 174", 174, 20, 174, 20, false, {}, 0, 1},
    {"width 318", 318, 16, 318, 16, false, {}, 1, 1},
    {"width 642", 642, 12, 642, 12, false, {}, 0, 1},
    {"width 6 cropped", 6, 8, 3, 4, true, {1, 2, 4, 6}, 1, 1},
    // Rows pair from the top, as in the frame's own chroma: the odd row is the last.
    {"odd height pairs from the top", 34, 25, 34, 24, true, {0, 0, 34, 24}, 0, 1},
};

INSTANTIATE_TEST_SUITE_P(Cases, GdiPresentTest, ::testing::ValuesIn(kPresentCases), CaseName);

// Smooth scaling into a window smaller than the crop: each window pixel is
// the area average of the frame's pixels it covers, shrunk from the planes or,
// with a host callback, from the composed frame. The luma varies from pixel to
// pixel on one in-gamut colour, so averaging before the conversion changes
// only the rounding.
void KESTRA_CALLBACK DrawNothing(int32_t, HDC, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t,
                                 int32_t, void *) {}

TEST(GdiPresent, SmoothShowsTheAreaAverageOfTheCrop) {
    const RECT crop{13, 7, 233, 100};  // 220 x 93 into 31 x 13, odd edges
    for (bool composed : {false, true}) {
        TestDisplay display(kGdi, 240, 104, 31, 13);
        KESTRA_DWSetScaling(display.handle, 1);
        KESTRA_DWSetPlayRect(display.handle, &crop);
        KESTRA_DWSetMirrorMode(display.handle, 1);
        if (composed) KESTRA_DWSetDisplayCB(display.handle, nullptr, DrawNothing);
        YuvFrame frame(240, 104, 128);
        for (int r = 0; r < frame.height; ++r)
            for (int c = 0; c < frame.width; ++c)
                frame.y[size_t(r) * frame.yStride + c] = uint8_t(40 + (c * 37 + r * 11) % 160);
        std::fill(frame.u.begin(), frame.u.end(), 110);
        std::fill(frame.v.begin(), frame.v.end(), 150);
        frame.Reference();
        ASSERT_EQ(display.Draw(frame), 0);
        const std::vector<uint32_t> shown = display.Pixels();
        const double sx = 220.0 / 31, sy = 93.0 / 13;
        for (int y = 0; y < 13; ++y)
            for (int x = 0; x < 31; ++x) {
                double sum[3] = {};
                for (int fy = int(y * sy); fy < (y + 1) * sy; ++fy)
                    for (int fx = int(x * sx); fx < (x + 1) * sx; ++fx) {
                        const double part =
                            (std::min(fx + 1.0, (x + 1) * sx) - std::max(1.0 * fx, x * sx)) *
                            (std::min(fy + 1.0, (y + 1) * sy) - std::max(1.0 * fy, y * sy));
                        const uint32_t p = frame.Rgb(crop.right - 1 - fx, crop.top + fy);
                        for (int c = 0; c < 3; ++c) sum[c] += part * ((p >> (8 * c)) & 255);
                    }
                const uint32_t got = shown[size_t(y) * 31 + x];
                for (int c = 0; c < 3; ++c)
                    ASSERT_NEAR((got >> (8 * c)) & 255, sum[c] / (sx * sy), 2.0)
                        << (composed ? "composed" : "planes") << ": window pixel " << x << "," << y
                        << " channel " << c;
            }
    }
}

TEST(GdiPresent, TwoPixelWindowDrawsNothingAndSucceeds) {
    TestDisplay display(kGdi, 16, 16, 2, 2, /*border=*/0);
    kplat_fill_window(display.window, 0x345678);
    YuvFrame frame(16, 16);
    EXPECT_EQ(display.Draw(frame), 0);
    for (uint32_t p : display.Pixels()) ASSERT_EQ(p, 0x345678u);
}

struct CallbackLog {
    int calls = 0;
    int32_t values[9] = {};
    HDC dc = nullptr;
    void *user = nullptr;
};

void KESTRA_CALLBACK Record(int32_t index, HDC dc, int32_t frameWidth, int32_t frameHeight,
                            int32_t value7, int32_t value8, int32_t windowWidth,
                            int32_t windowHeight, int32_t mirror, void *user) {
    CallbackLog *log = static_cast<CallbackLog *>(user);
    ++log->calls;
    int32_t v[9] = {index,  0,           frameWidth,   frameHeight, value7,
                    value8, windowWidth, windowHeight, mirror};
    std::copy(v, v + 9, log->values);
    log->dc = dc;
    log->user = user;
    // A red block at frame pixels (30..39, 20..29).
    for (int y = 20; y < 30; ++y)
        for (int x = 30; x < 40; ++x) SetPixel(dc, x, y, RGB(255, 0, 0));
}

TEST(GdiPresent, CallbackGetsTenValuesAndItsDrawingIsPresented) {
    TestDisplay display(kGdi, 160, 120, 80, 70);
    CallbackLog log;
    KESTRA_DWSetIndex(display.handle, 77);
    KESTRA_DWSetDisplayCB(display.handle, &log, Record);
    const RECT crop{20, 10, 100, 80};
    KESTRA_DWSetPlayRect(display.handle, &crop);
    KESTRA_DWSetMirrorMode(display.handle, 1);
    YuvFrame frame(160, 120);
    ASSERT_EQ(display.Draw(frame, 6, 7, 8), 0);

    ASSERT_EQ(log.calls, 1);
    // The window's outer rectangle is the 80 x 70 client area plus a 1-pixel
    // border: the callback hears 82 x 72.
    const int32_t want[9] = {77, 0, 160, 120, 7, 8, 82, 72, 1};
    for (int i = 0; i < 9; ++i) {
        if (i == 1) continue;  // the DC, checked below
        EXPECT_EQ(log.values[i], want[i]) << "callback value " << i + 1;
    }
    EXPECT_NE(log.dc, nullptr);
    EXPECT_EQ(log.user, &log);

    // The red block at frame (30..39, 20..29), cropped and mirrored:
    // window x = 99 - frame x, window y = frame y - 10.
    for (int y = 0; y < 70; ++y)
        for (int x = 0; x < 80; ++x) {
            bool red = x >= 60 && x < 70 && y >= 10 && y < 20;
            uint32_t p = display.At(x, y);
            ASSERT_EQ(p == 0xFF0000u, red) << "window " << x << "," << y << " is " << std::hex << p;
        }
    KESTRA_DWSetMirrorMode(display.handle, 2);
    ASSERT_EQ(display.Draw(frame), 0);
    EXPECT_EQ(log.values[8], 2) << "mirror mode reaches the callback as stored";
}

// What a display callback may do to its own display, on the drawing thread:
// whatever it asks, the draw finishes on memory that is still there, and what
// was asked holds from the next draw on.
struct ReentryCase;
struct Reentry {
    KestraDisplay display;
    HWND own, other;
    const ReentryCase *pending;  // asked once, by the first callback
    int32_t innerDraw;
    bool hooked;  // the text hook has asked its one set-up
};

struct ReentryCase {
    const char *name;
    void (*ask)(Reentry &);
    int nextWidth;    // frame size of the next draw; 0 when the display is gone
    bool otherShows;  // the next frame shows in the other window
    int sourceX;      // the frame column window column 60 shows
};

void KESTRA_CALLBACK AskOnce(int32_t, HDC, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t,
                             int32_t, void *user) {
    Reentry *r = static_cast<Reentry *>(user);
    const ReentryCase *c = r->pending;
    r->pending = nullptr;
    if (c) c->ask(*r);
}

// On the drawing thread, but not from the callback: what a host window
// procedure does when a platform call of the draw dispatches a message.
void InitFromTextOut(const char *, int, void *user) {
    Reentry *r = static_cast<Reentry *>(user);
    if (r->hooked) return;
    r->hooked = true;
    KESTRA_DWInitDraw(r->display, 32, 24);
}

const ReentryCase kReentries[] = {
    {"close", [](Reentry &r) { KESTRA_DWCloseDraw(r.display); }, 0, false, 0},
    {"init_another_size", [](Reentry &r) { KESTRA_DWInitDraw(r.display, 32, 24); }, 32, false, 30},
    {"free", [](Reentry &r) { KESTRA_DWFreeDraw(r.display); }, 64, false, 60},
    {"new_window", [](Reentry &r) { KESTRA_DWSetHwnd(r.display, r.other); }, 64, true, 60},
    {"play_rect",
     [](Reentry &r) {
         const RECT leftHalf{0, 0, 32, 48};
         KESTRA_DWSetPlayRect(r.display, &leftHalf);
     },
     64, false, 30},
    // In the order asked: the crop is one of the new size, not of the old.
    {"init_then_play_rect",
     [](Reentry &r) {
         KESTRA_DWInitDraw(r.display, 128, 96);
         const RECT middle{32, 0, 96, 96};
         KESTRA_DWSetPlayRect(r.display, &middle);
     },
     128, false, 92},
    {"draw",
     [](Reentry &r) {
         const YuvFrame inner(64, 48);
         r.innerDraw = KESTRA_DWDrawYUV420(r.display, inner.y.data(), inner.yStride, inner.u.data(),
                                           inner.v.data(), inner.uvStride, 0, 0, 0);
     },
     64, false, 60},
    // Far more calls than a fixed queue would hold, from another thread while
    // the callback holds the draw, the last for a smaller frame: the next
    // frame, from planes of exactly that size, shows in the last window and crop.
    {"many_calls_from_another_thread",
     [](Reentry &r) {
         std::thread([&r] {
             const RECT corner{0, 0, 16, 16};
             for (int i = 0; i < 40; ++i) {
                 KESTRA_DWSetHwnd(r.display, i % 2 ? r.own : r.other);
                 KESTRA_DWInitDraw(r.display, 64 + 2 * (i % 2), 48);
                 KESTRA_DWSetPlayRect(r.display, &corner);
             }
             KESTRA_DWSetHwnd(r.display, r.other);
             KESTRA_DWInitDraw(r.display, 32, 24);
             const RECT rightHalf{16, 0, 32, 24};
             KESTRA_DWSetPlayRect(r.display, &rightHalf);
         }).join();
     },
     32, true, 31},
    // The set-up asked from inside TextOutA waits for the draw painting that
    // text to finish with the presenter it has.
    {"init_from_a_platform_call",
     [](Reentry &r) {
         KESTRA_DWSetOSDText(r.display, 0, "x", 0, 0, 0, 0xFFFFFF);
         kplat_set_text_hook(InitFromTextOut, &r);
     },
     64, false, 60},
};

class ReentryTest : public ::testing::TestWithParam<ReentryCase> {};

TEST_P(ReentryTest, CallbackCallingIntoItsDisplayIsSafe) {
    const ReentryCase &c = GetParam();
    TestDisplay display(kGdi, 64, 48);
    HWND other = kplat_create_window("other", 300, 30, 64, 48, 1);
    Reentry reentry{display.handle, display.window, other, &c, 1, false};
    KESTRA_DWSetDisplayCB(display.handle, &reentry, AskOnce);
    const int dcs = kplat_live_objects(KPLAT_OBJ_DC);
    ASSERT_EQ(display.Draw(YuvFrame(64, 48)), 0) << c.name;
    if (c.nextWidth == 0) {
        display.handle = nullptr;  // closed by the callback once the draw returned
        EXPECT_EQ(kplat_live_objects(KPLAT_OBJ_DC), dcs - 1) << "the window DC went with it";
    } else {
        const YuvFrame next = YuvFrame::Bars(c.nextWidth, c.nextWidth * 3 / 4);
        ASSERT_EQ(display.Draw(next), 0) << c.name;
        HWND shown = c.otherShows ? other : display.window;
        EXPECT_EQ(kplat_window_pixel(shown, 60, 24), next.Rgb(c.sourceX, next.height / 2))
            << c.name;
    }
    if (std::string(c.name) == "draw") {
        EXPECT_EQ(reentry.innerDraw, -1) << "a draw from inside";
    }
    if (std::string(c.name) == "init_from_a_platform_call") {
        EXPECT_TRUE(reentry.hooked);
        EXPECT_EQ(display.Draw(YuvFrame(32, 24)), 0) << "the set-up asked holds after the draw";
    }
    kplat_set_text_hook(nullptr, nullptr);
    DestroyWindow(other);
}

INSTANTIATE_TEST_SUITE_P(Asks, ReentryTest, ::testing::ValuesIn(kReentries),
                         [](const ::testing::TestParamInfo<ReentryCase> &p) {
                             return std::string(p.param.name);
                         });

}  // namespace
