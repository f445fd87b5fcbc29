// What a display host can rely on, seen through kestra.h and its own window.
// The render mode is never visible through the API; a test that must know it
// infers it from whether the display callback ran (it runs only in the GDI mode).
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "host_window.h"
#include "kestra/kestra.h"

namespace {

constexpr uint32_t kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF, kWhite = 0xFFFFFF;
constexpr uint32_t kBlack = 0x000000, kYellow = 0xFFFF00, kMagenta = 0xFF00FF;
// Covers BT.601 rounding, RGB 5-6-5 surfaces and a screen's own colour depth.
constexpr int kTolerance = 56;

std::string Hex(uint32_t xrgb) {
    char text[16];
    std::snprintf(text, sizeof text, "%06X", unsigned(xrgb));
    return text;
}

bool Near(uint32_t actual, uint32_t expected, int tolerance = kTolerance) {
    for (int shift = 0; shift <= 16; shift += 8) {
        const int a = int((actual >> shift) & 0xFF), e = int((expected >> shift) & 0xFF);
        if (std::abs(a - e) > tolerance) return false;
    }
    return true;
}

// The screen may show a draw late (Wine presents DirectDraw output some
// milliseconds after the blit, longer on a busy machine): read again until the
// check holds or 3 s have passed, and let the caller judge the last read.
// Under Wine's OpenGL renderer the first frame after DirectDraw is set up is
// now and then never shown; a player draws the next one 40 ms later, and so
// does redraw here. The stand-in presents at once, so there the first read
// must already hold.
std::vector<uint32_t> ReadWhen(HWND window,
                               const std::function<bool(const std::vector<uint32_t> &)> &holds,
                               const std::function<void()> &redraw) {
    std::vector<uint32_t> pixels = host::ReadClient(window);
    for (const uint32_t start = host::TickMs(); !holds(pixels) && host::TickMs() - start < 3000;) {
        if (host::PresentsLate()) redraw();
        pixels = host::ReadClient(window);
    }
    return pixels;
}

struct Probe {
    int x, y;
    uint32_t colour;
    int tolerance = kTolerance;
};

// What differs from the probes in a client area width pixels wide; "" when
// every probe holds.
std::string Mismatches(const std::vector<uint32_t> &pixels, int width, int height,
                       const std::vector<Probe> &probes) {
    if (pixels.size() != size_t(width) * size_t(height)) return "client area of another size";
    std::string mismatches;
    for (const Probe &p : probes) {
        const uint32_t actual = pixels[size_t(p.y) * size_t(width) + size_t(p.x)];
        if (Near(actual, p.colour, p.tolerance)) continue;
        mismatches += " at (" + std::to_string(p.x) + "," + std::to_string(p.y) + ") expected " +
                      Hex(p.colour) + " got " + Hex(actual) + ";";
    }
    return mismatches;
}

// The window's width x height client area shows the probes' colours, read
// as ReadWhen reads it.
::testing::AssertionResult Shows(HWND window, int width, int height,
                                 const std::vector<Probe> &probes,
                                 const std::function<void()> &redraw) {
    const std::string mismatches =
        Mismatches(ReadWhen(
                       window,
                       [&](const std::vector<uint32_t> &p) {
                           return Mismatches(p, width, height, probes).empty();
                       },
                       redraw),
                   width, height, probes);
    if (mismatches.empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << mismatches;
}

struct Yuv {
    int y, u, v;
};

// A YV12 frame of flat vertical bars: bar i covers columns
// [i * width / n, (i + 1) * width / n). Bars given as colours are studio-range
// BT.601.
class Yv12Frame {
public:
    Yv12Frame(int width, int height, const std::vector<uint32_t> &bars)
        : Yv12Frame(StudioBt601(bars), width, height) {}
    Yv12Frame(const std::vector<Yuv> &bars, int width, int height)
        : width_(width),
          height_(height),
          y_(size_t(width) * height),
          u_(size_t(width / 2) * (height / 2)),
          v_(u_.size()) {
        const int n = int(bars.size());
        for (int x = 0; x < width_; ++x) {
            const int yv = bars[size_t(x * n / width_)].y, uv = bars[size_t(x * n / width_)].u,
                      vv = bars[size_t(x * n / width_)].v;
            for (int row = 0; row < height_; ++row) y_[size_t(row) * width_ + x] = uint8_t(yv);
            if (x % 2 || x / 2 >= width_ / 2) continue;
            for (int row = 0; row < height_ / 2; ++row) {
                u_[size_t(row) * (width_ / 2) + x / 2] = uint8_t(uv);
                v_[size_t(row) * (width_ / 2) + x / 2] = uint8_t(vv);
            }
        }
    }

    KestraResult Draw(KestraDisplay display, int32_t value7 = 0, int32_t value8 = 0) const {
        return KESTRA_DWDrawYUV420(display, y_.data(), width_, u_.data(), v_.data(), width_ / 2, 0,
                                   value7, value8);
    }

private:
    static std::vector<Yuv> StudioBt601(const std::vector<uint32_t> &bars) {
        std::vector<Yuv> yuv;
        for (uint32_t xrgb : bars) {
            const double r = (xrgb >> 16) & 0xFF, g = (xrgb >> 8) & 0xFF, b = xrgb & 0xFF;
            yuv.push_back({int(16.5 + 0.257 * r + 0.504 * g + 0.098 * b),
                           int(128.5 - 0.148 * r - 0.291 * g + 0.439 * b),
                           int(128.5 + 0.439 * r - 0.368 * g - 0.071 * b)});
        }
        return yuv;
    }

    int width_, height_;
    std::vector<uint8_t> y_, u_, v_;
};

// The display callback's calls, and a square it draws on the frame.
struct CallbackRecord {
    int calls = 0;
    // drawIndex, frame width and height, value7, value8, window width and
    // height, mirror mode: as the last call got them.
    std::vector<int32_t> args;
    void *user = nullptr;
    bool hadDc = false;
    // Square drawn by the callback, in frame pixels; none when size is 0.
    int squareX = 0, squareY = 0, squareSize = 0;
};

void KESTRA_CALLBACK RecordAndDraw(int32_t drawIndex, HDC__ *dc, int32_t frameWidth,
                                   int32_t frameHeight, int32_t value7, int32_t value8,
                                   int32_t windowWidth, int32_t windowHeight, int32_t mirrorMode,
                                   void *user) {
    CallbackRecord *record = static_cast<CallbackRecord *>(user);
    ++record->calls;
    record->args = {drawIndex, frameWidth,  frameHeight,  value7,
                    value8,    windowWidth, windowHeight, mirrorMode};
    record->user = user;
    record->hadDc = dc != nullptr;
    const COLORREF magenta = RGB(0xFF, 0x00, 0xFF);
    for (int y = 0; y < record->squareSize; ++y)
        for (int x = 0; x < record->squareSize; ++x)
            SetPixel(dc, record->squareX + x, record->squareY + y, magenta);
}

constexpr int kFrameWidth = 160, kFrameHeight = 120;
constexpr int kClientWidth = 320, kClientHeight = 240;
const std::vector<uint32_t> kBars = {kRed, kGreen, kBlue, kWhite};

class DisplayTest : public ::testing::Test {
protected:
    void SetUp() override {
        window_ = host::CreateHostWindow(kClientWidth, kClientHeight);
        ASSERT_NE(window_, nullptr);
        ASSERT_EQ(KESTRA_DWOpenDraw(&display_), 0);
        ASSERT_EQ(KESTRA_DWSetHwnd(display_, window_), 0);
        ASSERT_EQ(KESTRA_DWInitDraw(display_, kFrameWidth, kFrameHeight), 0);
    }

    void TearDown() override {
        if (display_) {
            EXPECT_EQ(KESTRA_DWCloseDraw(display_), 0);
        }
        host::DestroyHostWindow(window_);
    }

    // Draws and lets the window catch up before it is read; the frame is
    // kept for redraws.
    ::testing::AssertionResult DrawAndShow(const Yv12Frame &frame, int32_t value7 = 0,
                                           int32_t value8 = 0) {
        shown_.emplace(frame);
        shownValue7_ = value7;
        shownValue8_ = value8;
        const KestraResult result = frame.Draw(display_, value7, value8);
        host::PumpMessages();
        if (result == 0) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "the draw answered " << result;
    }

    // The colours across the client area at the centre of each of n equal
    // columns, sampled on three rows; with corners, the outer columns' colours
    // reach the corners.
    ::testing::AssertionResult ShowsColumns(const std::vector<uint32_t> &expected,
                                            bool corners = false) {
        std::vector<Probe> probes;
        if (corners)
            probes = {{0, 0, expected.front()},
                      {kClientWidth - 1, kClientHeight - 1, expected.back()}};
        const int n = int(expected.size());
        for (int i = 0; i < n; ++i)
            for (int y : {kClientHeight / 4, kClientHeight / 2, 3 * kClientHeight / 4})
                probes.push_back({(2 * i + 1) * kClientWidth / (2 * n), y, expected[size_t(i)]});
        return Shows(window_, kClientWidth, kClientHeight, probes, [this] { Redraw(); });
    }

    // Pixels near colour, read once the screen shows some (or, wanting none, none).
    int CountNear(uint32_t colour, int tolerance, bool wantNone) {
        auto count = [&](const std::vector<uint32_t> &pixels) {
            int n = 0;
            for (uint32_t pixel : pixels) n += Near(pixel, colour, tolerance);
            return n;
        };
        return count(ReadWhen(
            window_,
            [&](const std::vector<uint32_t> &pixels) { return (count(pixels) == 0) == wantNone; },
            [this] { Redraw(); }));
    }

    void Redraw() {
        if (shown_) shown_->Draw(display_, shownValue7_, shownValue8_);
    }

    HWND window_ = nullptr;
    KestraDisplay display_ = nullptr;
    // The frame last drawn by DrawAndShow.
    std::optional<Yv12Frame> shown_;
    int32_t shownValue7_ = 0, shownValue8_ = 0;
};

struct MirrorCase {
    int32_t mode;
    bool mirrored;
};

class MirrorTest : public DisplayTest, public ::testing::WithParamInterface<MirrorCase> {};

// The frame fills the whole client area, stretched, corners included; only
// mode 1 mirrors it.
TEST_P(MirrorTest, BarsFillTheWindowAndOnlyModeOneMirrors) {
    ASSERT_EQ(KESTRA_DWSetMirrorMode(display_, GetParam().mode), 0);
    ASSERT_TRUE(DrawAndShow(Yv12Frame(kFrameWidth, kFrameHeight, kBars)));
    const std::vector<uint32_t> expected =
        GetParam().mirrored ? std::vector<uint32_t>(kBars.rbegin(), kBars.rend()) : kBars;
    EXPECT_TRUE(ShowsColumns(expected, true)) << "mirror mode " << GetParam().mode;
}

INSTANTIATE_TEST_SUITE_P(Modes, MirrorTest,
                         ::testing::Values(MirrorCase{0, false}, MirrorCase{1, true},
                                           MirrorCase{2, false}, MirrorCase{-1, false}));

struct PlayRectCase {
    const char *name;
    RECT rect;
    std::vector<uint32_t> expected;
    bool turnedOff;  // after a frame drawn with it
};

class PlayRectTest : public DisplayTest, public ::testing::WithParamInterface<PlayRectCase> {};

TEST_P(PlayRectTest, CropsTheSourceOrIsRefused) {
    const Yv12Frame frame(kFrameWidth, kFrameHeight, kBars);
    ASSERT_EQ(KESTRA_DWSetPlayRect(display_, &GetParam().rect), 0);
    ASSERT_TRUE(DrawAndShow(frame));
    if (GetParam().turnedOff) {
        ASSERT_EQ(KESTRA_DWSetPlayRect(display_, nullptr), 0);
        ASSERT_TRUE(DrawAndShow(frame));
    }
    EXPECT_TRUE(ShowsColumns(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(
    Rects, PlayRectTest,
    ::testing::Values(PlayRectCase{"second bar only", {44, 10, 76, 100}, {kGreen, kGreen}, false},
                      PlayRectCase{"last two bars", {80, 0, 159, 119}, {kBlue, kWhite}, false},
                      PlayRectCase{"to the frame's right and bottom edges",
                                   {80, 60, 160, 120},
                                   {kBlue, kWhite},
                                   false},
                      PlayRectCase{"whole frame", {0, 0, 160, 120}, kBars, false},
                      PlayRectCase{"inside out is refused", {76, 100, 44, 10}, kBars, false},
                      PlayRectCase{"edge outside the frame", {-1, 0, 50, 50}, kBars, false},
                      PlayRectCase{"turned off again", {44, 10, 76, 100}, kBars, true}),
    [](const ::testing::TestParamInfo<PlayRectCase> &p) {
        std::string name = p.param.name;
        for (char &c : name)
            if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
        return name;
    });

// A matrix and range as KESTRA_DWSetColorSpace takes them, with the
// standard's own numbers: luma weights, and the studio range's scales.
struct ColourSpace {
    const char *name;
    int32_t matrix, range;
    double kr, kb;
    bool Studio() const { return range == 0; }
    double Luma() const { return Studio() ? 255.0 / 219 : 1; }
    double Chroma() const { return Studio() ? 255.0 / 224 : 1; }
    double Black() const { return Studio() ? 16 : 0; }

    // The samples of a colour, rounded as an encoder rounds them.
    Yuv Encode(uint32_t xrgb) const {
        const double r = (xrgb >> 16) & 0xFF, g = (xrgb >> 8) & 0xFF, b = xrgb & 0xFF;
        const double luma = kr * r + (1 - kr - kb) * g + kb * b;
        auto sample = [](double x) { return int(std::lround(std::clamp(x, 0.0, 255.0))); };
        return {sample(Black() + luma / Luma()),
                sample(128 + (b - luma) / (2 * (1 - kb)) / Chroma()),
                sample(128 + (r - luma) / (2 * (1 - kr)) / Chroma())};
    }
    // What the samples stand for, clamped.
    uint32_t Decode(Yuv s) const {
        const double l = Luma() * (s.y - Black());
        const double r = l + 2 * (1 - kr) * Chroma() * (s.v - 128);
        const double b = l + 2 * (1 - kb) * Chroma() * (s.u - 128);
        const double g = (l - kr * r - kb * b) / (1 - kr - kb);
        auto channel = [](double x) { return uint32_t(std::lround(std::clamp(x, 0.0, 255.0))); };
        return channel(r) << 16 | channel(g) << 8 | channel(b);
    }
};

void KESTRA_CALLBACK CountCallbackCalls(int32_t, HDC__ *, int32_t, int32_t, int32_t, int32_t,
                                        int32_t, int32_t, int32_t, void *user) {
    ++*static_cast<int *>(user);
}

class ColourSpaceTest : public DisplayTest, public ::testing::WithParamInterface<ColourSpace> {};

// How near each mode comes to the standard's colours: our converters within
// rounding, a 5-6-5 surface within one step of its coarsest field, and the
// YUV surfaces as the samples remapped for their BT.601 blit give them. The
// default is every host's picture, as it always was.
int ColourTolerance(bool gdi, bool defaultColours) {
    if (defaultColours) return kTolerance;
    const char *run = std::getenv("KESTRA_TEST_RENDER_MODE");
    const std::string mode = run ? run : (gdi ? "gdi" : "yv12");
    if (mode == "gdi" || mode == "d3d11") return 3;
    if (mode == "rgb565") return 8 + 3;
    return 6;
}

TEST_P(ColourSpaceTest, FlatPatchesShowTheStandardsColours) {
    const ColourSpace &space = GetParam();
    ASSERT_EQ(KESTRA_DWSetColorSpace(display_, space.matrix, space.range), 0);
    // Refused values change nothing.
    ASSERT_EQ(KESTRA_DWSetColorSpace(display_, 2, space.range), 2);
    ASSERT_EQ(KESTRA_DWSetColorSpace(display_, space.matrix, -1), 2);
    int calls = 0;
    ASSERT_EQ(KESTRA_DWSetDisplayCB(display_, &calls, CountCallbackCalls), 0);
    // Near black and near white (where the ranges part), greys, and the
    // colours a matrix moves most: a saturated red, grass, skin.
    const uint32_t colours[] = {0x141414, 0xEBEBEB, 0xC82828, 0x3C8C28,
                                0x283CC8, 0xDCAA8C, 0xDCD23C, 0xB43CAA};
    std::vector<Yuv> patches;
    std::vector<uint32_t> expected;
    for (uint32_t c : colours) {
        patches.push_back(space.Encode(c));
        expected.push_back(space.Decode(patches.back()));
    }
    ASSERT_TRUE(DrawAndShow(Yv12Frame(patches, kFrameWidth, kFrameHeight)));
    const int tolerance = ColourTolerance(calls > 0, space.matrix == 0 && space.range == 0);
    std::vector<Probe> probes;
    const int n = int(expected.size());
    for (int i = 0; i < n; ++i)
        for (int y : {kClientHeight / 4, kClientHeight / 2, 3 * kClientHeight / 4})
            probes.push_back(
                {(2 * i + 1) * kClientWidth / (2 * n), y, expected[size_t(i)], tolerance});
    EXPECT_TRUE(Shows(window_, kClientWidth, kClientHeight, probes, [this] { Redraw(); }))
        << space.name << ", within " << tolerance;
    // The worst channel of the picture that passed, for the logs.
    const std::vector<uint32_t> shown = host::ReadClient(window_);
    if (shown.size() != size_t(kClientWidth) * kClientHeight) return;
    int worst = 0;
    for (const Probe &p : probes) {
        const uint32_t got = shown[size_t(p.y) * kClientWidth + size_t(p.x)];
        for (int shift = 0; shift <= 16; shift += 8)
            worst = std::max(
                worst, std::abs(int((got >> shift) & 0xFF) - int((p.colour >> shift) & 0xFF)));
    }
    std::printf("colour patches %s: worst channel %d\n", space.name, worst);
}

INSTANTIATE_TEST_SUITE_P(Spaces, ColourSpaceTest,
                         ::testing::Values(ColourSpace{"bt601_studio", 0, 0, 0.299, 0.114},
                                           ColourSpace{"bt709_studio", 1, 0, 0.2126, 0.0722},
                                           ColourSpace{"bt601_full", 0, 1, 0.299, 0.114},
                                           ColourSpace{"bt709_full", 1, 1, 0.2126, 0.0722}),
                         [](const ::testing::TestParamInfo<ColourSpace> &p) {
                             return std::string(p.param.name);
                         });

// Text set outside the six slots is ignored.
TEST_F(DisplayTest, OsdTextShowsInItsColourAndGoesAwayWhenEmptied) {
    const COLORREF yellow = RGB(0xFF, 0xFF, 0x00);
    for (int32_t index : {-1, 6, 1000}) {
        EXPECT_EQ(KESTRA_DWSetOSDText(display_, index, "MMMM", 8, 8, 0, yellow), 0)
            << "index " << index;
    }
    const Yv12Frame frame(kFrameWidth, kFrameHeight, {kBlue});
    ASSERT_TRUE(DrawAndShow(frame));
    ASSERT_EQ(CountNear(kYellow, 40, true), 0) << "yellow before any text in a slot";

    ASSERT_EQ(KESTRA_DWSetOSDText(display_, 2, "HW#@\nMMMM", 8, 8, 0, yellow), 0);
    ASSERT_TRUE(DrawAndShow(frame));
    const int textPixels = CountNear(kYellow, 40, false);
    EXPECT_GT(textPixels, 40) << "yellow pixels of the OSD text";
    // The text sits in the top-left quarter (frame pixels 8.. scaled by 2).
    EXPECT_TRUE(Near(host::ReadPixel(window_, kClientWidth - 4, kClientHeight - 4), kBlue));

    ASSERT_EQ(KESTRA_DWSetOSDText(display_, 2, "", 8, 8, 0, yellow), 0);
    ASSERT_TRUE(DrawAndShow(frame));
    EXPECT_EQ(CountNear(kYellow, 40, true), 0) << "yellow after the slot was emptied";
}

TEST_F(DisplayTest, DisplayCallbackGetsItsArgumentsAndItsDrawingShowsOnlyInGdiMode) {
    CallbackRecord record;
    record.squareX = 8;
    record.squareY = 8;
    record.squareSize = 16;
    ASSERT_EQ(KESTRA_DWSetIndex(display_, 7), 0);
    ASSERT_EQ(KESTRA_DWSetMirrorMode(display_, 2), 0);
    ASSERT_EQ(KESTRA_DWSetDisplayCB(display_, &record, RecordAndDraw), 0);
    const Yv12Frame frame(kFrameWidth, kFrameHeight, {kGreen});
    ASSERT_TRUE(DrawAndShow(frame, 1234, -5678));
    ASSERT_TRUE(DrawAndShow(frame, 1234, -5678));

    if (record.calls == 0) {
        // A surface mode: the callback never runs and the frame shows as drawn.
        EXPECT_EQ(CountNear(kMagenta, 40, true), 0);
        EXPECT_TRUE(ShowsColumns({kGreen, kGreen})) << "surface mode";
        return;
    }
    EXPECT_EQ(record.calls, 2) << "one call per frame";
    // The window's outer size, border included; the mirror mode as stored.
    EXPECT_EQ(record.args, (std::vector<int32_t>{7, kFrameWidth, kFrameHeight, 1234, -5678,
                                                 kClientWidth + 2, kClientHeight + 2, 2}));
    EXPECT_TRUE(record.hadDc);
    EXPECT_EQ(record.user, &record);
    // Frame square (8..24) is window (16..48) at 2x.
    const uint32_t inside = host::ReadPixel(window_, 32, 32);
    EXPECT_TRUE(Near(inside, kMagenta)) << "host drawing got " << Hex(inside);
    const uint32_t outside = host::ReadPixel(window_, 200, 200);
    EXPECT_TRUE(Near(outside, kGreen)) << "picture got " << Hex(outside);
}

// Only the GDI mode, the one that calls the display callback, draws after FreeDraw.
TEST_F(DisplayTest, FreeDrawThenDrawAnswersByModeAndInitDrawRecovers) {
    CallbackRecord record;
    ASSERT_EQ(KESTRA_DWSetDisplayCB(display_, &record, RecordAndDraw), 0);
    const Yv12Frame frame(kFrameWidth, kFrameHeight, kBars);
    ASSERT_EQ(frame.Draw(display_), 0);
    const bool gdi = record.calls > 0;
    ASSERT_EQ(KESTRA_DWFreeDraw(display_), 0);
    EXPECT_EQ(frame.Draw(display_), gdi ? 0 : -9) << (gdi ? "GDI mode" : "surface mode");

    ASSERT_EQ(KESTRA_DWInitDraw(display_, kFrameWidth, kFrameHeight), 0);
    ASSERT_TRUE(DrawAndShow(frame));
    EXPECT_TRUE(ShowsColumns(kBars)) << "after a second init";
}

TEST_F(DisplayTest, ReinitDropsAPlayRectThatNoLongerFitsAndKeepsOneThatDoes) {
    const struct {
        RECT crop;
        int width, height;
        std::vector<uint32_t> shown;
        const char *what;
    } steps[] = {
        {{80, 0, 159, 119}, 64, 48, {kRed, kBlue}, "64x48 after a crop of the 160x120 frame"},
        {{0, 0, 31, 47}, 96, 64, {kRed, kRed}, "96x64 keeps the crop that still fits"},
    };
    for (const auto &step : steps) {
        ASSERT_EQ(KESTRA_DWSetPlayRect(display_, &step.crop), 0);
        ASSERT_EQ(KESTRA_DWInitDraw(display_, step.width, step.height), 0);
        ASSERT_TRUE(DrawAndShow(Yv12Frame(step.width, step.height, {kRed, kBlue})));
        EXPECT_TRUE(ShowsColumns(step.shown)) << step.what;
    }
}

// Whatever window the display was set up on, and whether a window was set
// before InitDraw at all, the next frame fills the window set last.
class NewWindowTest : public DisplayTest, public ::testing::WithParamInterface<bool> {};

TEST_P(NewWindowTest, NextFrameFillsTheWindowSetLast) {
    const bool initFirst = GetParam();
    const Yv12Frame frame(kFrameWidth, kFrameHeight, kBars);
    ASSERT_EQ(KESTRA_DWCloseDraw(display_), 0);
    ASSERT_EQ(KESTRA_DWOpenDraw(&display_), 0);
    // The smaller window goes before the screen is read: it may lie over the larger one.
    HWND smaller =
        initFirst ? nullptr : host::CreateHostWindow(kClientWidth / 2, kClientHeight / 2);
    if (!initFirst) {
        ASSERT_NE(smaller, nullptr);
        ASSERT_EQ(KESTRA_DWSetHwnd(display_, smaller), 0);
    }
    ASSERT_EQ(KESTRA_DWInitDraw(display_, kFrameWidth, kFrameHeight), 0);
    if (!initFirst) {
        ASSERT_EQ(frame.Draw(display_), 0);
    }
    ASSERT_EQ(KESTRA_DWSetHwnd(display_, window_), 0);
    if (smaller) host::DestroyHostWindow(smaller);
    ASSERT_TRUE(DrawAndShow(frame));
    EXPECT_TRUE(ShowsColumns(kBars));
}

INSTANTIATE_TEST_SUITE_P(Orders, NewWindowTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool> &p) {
                             return p.param ? "InitFirst" : "FromASmallerWindow";
                         });

// A new display in a new window draws a few frames, a player's pace apart,
// before its host pumps, then none: the window settles on the last one, never
// an earlier one put back.
TEST_F(DisplayTest, BurstBeforeTheHostPumpsEndsOnTheLastFrame) {
    const Yv12Frame frames[] = {Yv12Frame(kFrameWidth, kFrameHeight, {kRed}),
                                Yv12Frame(kFrameWidth, kFrameHeight, {kGreen}),
                                Yv12Frame(kFrameWidth, kFrameHeight, {kBlue})};
    const std::vector<Probe> blue = {{kClientWidth / 2, kClientHeight / 2, kBlue},
                                     {kClientWidth / 4, kClientHeight / 4, kBlue}};
    for (int burst = 0; burst < 6; ++burst) {
        ASSERT_EQ(KESTRA_DWCloseDraw(display_), 0);
        host::DestroyHostWindow(window_);
        window_ = host::CreateHostWindow(kClientWidth, kClientHeight);
        ASSERT_EQ(KESTRA_DWOpenDraw(&display_), 0);
        ASSERT_EQ(KESTRA_DWSetHwnd(display_, window_), 0);
        ASSERT_EQ(KESTRA_DWInitDraw(display_, kFrameWidth, kFrameHeight), 0);
        for (const Yv12Frame &frame : frames) {
            ASSERT_EQ(frame.Draw(display_), 0);
            host::SleepMs(20);
        }
        // No redraw: a picture that needs one is the fault.
        EXPECT_EQ(Mismatches(host::ReadClient(window_), kClientWidth, kClientHeight, blue), "")
            << "burst " << burst;
    }
}

// A window of another process (a host whose UI and decoder live apart)
// shows every frame drawn into it. The stand-in has one process.
TEST(ForeignWindow, ShowsTheFrames) {
    HWND window = host::CreateForeignWindow(kClientWidth, kClientHeight);
    if (!window) GTEST_SKIP() << "no window of another process here";
    KestraDisplay display = nullptr;
    ASSERT_EQ(KESTRA_DWOpenDraw(&display), 0);
    ASSERT_EQ(KESTRA_DWSetHwnd(display, window), 0);
    ASSERT_EQ(KESTRA_DWInitDraw(display, kFrameWidth, kFrameHeight), 0);
    const Yv12Frame frame(kFrameWidth, kFrameHeight, kBars);
    ASSERT_EQ(frame.Draw(display), 0);
    std::vector<Probe> probes;
    for (int i = 0; i < 4; ++i)
        probes.push_back({(2 * i + 1) * kClientWidth / 8, kClientHeight / 2, kBars[size_t(i)]});
    EXPECT_TRUE(Shows(window, kClientWidth, kClientHeight, probes, [&] { frame.Draw(display); }));
    EXPECT_EQ(KESTRA_DWCloseDraw(display), 0);
    host::EndForeignWindow();
}

// The last row and column of an odd frame show its own luma with the nearest
// chroma: white luma on grey chroma is white there, black elsewhere.
TEST(OddFrame, LastRowAndColumnShowTheirOwnLuma) {
    constexpr int w = 33, h = 25;
    HWND window = host::CreateHostWindow(2 * w, 2 * h);
    ASSERT_NE(window, nullptr);
    KestraDisplay display = nullptr;
    ASSERT_EQ(KESTRA_DWOpenDraw(&display), 0);
    ASSERT_EQ(KESTRA_DWSetHwnd(display, window), 0);
    ASSERT_EQ(KESTRA_DWInitDraw(display, w, h), 0);
    std::vector<uint8_t> y(size_t(w) * h, 16), u(size_t(w / 2) * (h / 2), 128), v(u.size(), 128);
    for (int x = 0; x < w; ++x) y[size_t(h - 1) * w + x] = 235;
    for (int r = 0; r < h; ++r) y[size_t(r) * w + w - 1] = 235;
    auto draw = [&] {
        return KESTRA_DWDrawYUV420(display, y.data(), w, u.data(), v.data(), w / 2, 0, 0, 0);
    };
    ASSERT_EQ(draw(), 0);
    host::PumpMessages();
    // The last column, the last row, the corner, and inside.
    EXPECT_TRUE(Shows(window, 2 * w, 2 * h,
                      {{2 * w - 1, h, kWhite},
                       {w, 2 * h - 1, kWhite},
                       {2 * w - 1, 2 * h - 1, kWhite},
                       {w, h, kBlack}},
                      [&] { draw(); }));
    EXPECT_EQ(KESTRA_DWCloseDraw(display), 0);
    host::DestroyHostWindow(window);
}

struct SizeCase {
    int width, height;
};

class ReinitTest : public DisplayTest, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(ReinitTest, AnotherFrameSizeFillsTheWindow) {
    const SizeCase size = GetParam();
    ASSERT_TRUE(DrawAndShow(Yv12Frame(kFrameWidth, kFrameHeight, {kWhite})));
    ASSERT_EQ(KESTRA_DWInitDraw(display_, size.width, size.height), 0);
    ASSERT_TRUE(DrawAndShow(Yv12Frame(size.width, size.height, {kRed, kBlue})));
    EXPECT_TRUE(ShowsColumns({kRed, kBlue}));
}

// 90 and 54 are not multiples of 4: 24-bit rows then need padding. Past 16384
// on a side no surface or texture holds the frame, and GDI shows it.
INSTANTIATE_TEST_SUITE_P(Sizes, ReinitTest,
                         ::testing::Values(SizeCase{96, 64}, SizeCase{90, 60}, SizeCase{54, 40},
                                           SizeCase{640, 480}, SizeCase{16385, 2},
                                           SizeCase{4, 16385}),
                         [](const ::testing::TestParamInfo<SizeCase> &p) {
                             return std::to_string(p.param.width) + "x" +
                                    std::to_string(p.param.height);
                         });

// A wall of cameras: one top-level window, each display in a child window of
// it, frames drawn at 25 fps from two threads. Every child must show its own
// frame; the CPU share is printed as a figure, not checked.
struct Wall {
    static constexpr int kColumns = 4, kRows = 4, kDisplays = kColumns * kRows;
    static constexpr int kFrameWidth = 704, kFrameHeight = 576, kFrames = 50, kPeriodMs = 40;
    static constexpr int kCellWidth = kFrameWidth / kColumns, kCellHeight = kFrameHeight / kRows;
    HWND parent = nullptr;
    HWND cells[kDisplays] = {};
    KestraDisplay displays[kDisplays] = {};
    std::vector<Yv12Frame> frames;
    std::atomic<int> refused{0};
};

void DrawWallRows(int thread, void *context) {
    Wall *wall = static_cast<Wall *>(context);
    const uint32_t start = host::TickMs();
    for (int n = 0; n < Wall::kFrames; ++n) {
        for (int d = thread; d < Wall::kDisplays; d += 2)
            if (wall->frames[size_t(d)].Draw(wall->displays[d]) != 0) ++wall->refused;
        const uint32_t due = start + uint32_t(n + 1) * Wall::kPeriodMs;
        const uint32_t now = host::TickMs();
        if (int32_t(due - now) > 0) host::SleepMs(due - now);
    }
}

// Display d's colour: channels of 0, 0x80 and 0xFF, so any two colours differ
// by far more than the tolerance; 16 of the 27 codes, none of them black.
uint32_t WallColour(int d) {
    const uint32_t levels[3] = {0x00, 0x80, 0xFF};
    const int code = d + 1 + d / 4;
    return levels[code % 3] << 16 | levels[code / 3 % 3] << 8 | levels[code / 9 % 3];
}

// In child windows of one window, as a video wall host lays them out, or in
// top-level windows of their own side by side.
class WallTest : public ::testing::TestWithParam<bool> {};

TEST_P(WallTest, SixteenDisplaysEachShowItsOwnFrame) {
    const bool children = GetParam();
    Wall wall;
    if (children) {
        wall.parent = host::CreateHostWindow(Wall::kFrameWidth, Wall::kFrameHeight);
        ASSERT_NE(wall.parent, nullptr);
    }
    for (int d = 0; d < Wall::kDisplays; ++d) {
        wall.frames.emplace_back(Wall::kFrameWidth, Wall::kFrameHeight,
                                 std::vector<uint32_t>{WallColour(d)});
        const int column = d % Wall::kColumns, row = d / Wall::kColumns;
        wall.cells[d] = children ? host::CreateChildWindow(wall.parent, column * Wall::kCellWidth,
                                                           row * Wall::kCellHeight,
                                                           Wall::kCellWidth, Wall::kCellHeight)
                                 : host::CreateHostWindow(Wall::kCellWidth, Wall::kCellHeight,
                                                          40 + column * (Wall::kCellWidth + 2),
                                                          40 + row * (Wall::kCellHeight + 2));
        ASSERT_NE(wall.cells[d], nullptr);
        ASSERT_EQ(KESTRA_DWOpenDraw(&wall.displays[d]), 0);
        ASSERT_EQ(KESTRA_DWSetHwnd(wall.displays[d], wall.cells[d]), 0);
        ASSERT_EQ(KESTRA_DWInitDraw(wall.displays[d], Wall::kFrameWidth, Wall::kFrameHeight), 0);
    }
    const uint32_t startMs = host::TickMs();
    const double startCpu = host::ProcessCpuMs();
    host::RunThreads(2, DrawWallRows, &wall);
    const double wallMs = double(host::TickMs() - startMs);
    const double cpuMs = host::ProcessCpuMs() - startCpu;
    std::printf(
        "wall: %d displays %dx%d in %s windows, %d frames each from 2 threads in %.0f ms"
        " (%.1f fps each), CPU %.0f %% of one core\n",
        Wall::kDisplays, Wall::kFrameWidth, Wall::kFrameHeight, children ? "child" : "top-level",
        Wall::kFrames, wallMs, 1000.0 * Wall::kFrames / wallMs, 100.0 * cpuMs / wallMs);
    EXPECT_EQ(wall.refused.load(), 0) << "draws that did not answer 0";

    for (int d = 0; d < Wall::kDisplays; ++d) {
        // Near the left or top edge, the middle, near the far edge.
        std::vector<Probe> probes;
        for (int x : {2, Wall::kCellWidth / 2, Wall::kCellWidth - 3})
            for (int y : {2, Wall::kCellHeight / 2, Wall::kCellHeight - 3})
                probes.push_back({x, y, WallColour(d)});
        // A window whose paint is handled after its last frame shows its
        // background until the next frame, as a player would send.
        EXPECT_TRUE(Shows(wall.cells[d], Wall::kCellWidth, Wall::kCellHeight, probes,
                          [&] { wall.frames[size_t(d)].Draw(wall.displays[d]); }))
            << "display " << d;
    }
    for (int d = 0; d < Wall::kDisplays; ++d) {
        EXPECT_EQ(KESTRA_DWCloseDraw(wall.displays[d]), 0);
        host::DestroyHostWindow(wall.cells[d]);
    }
    if (wall.parent) host::DestroyHostWindow(wall.parent);
}

INSTANTIATE_TEST_SUITE_P(Windows, WallTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool> &p) {
                             return p.param ? "Children" : "TopLevel";
                         });

TEST(DisplayReadiness, DrawIsRefusedUntilBothWindowAndInitAreThere) {
    HWND window = host::CreateHostWindow(64, 48);
    ASSERT_NE(window, nullptr);
    const Yv12Frame frame(32, 24, {kRed});

    KestraDisplay display = nullptr;
    ASSERT_EQ(KESTRA_DWOpenDraw(&display), 0);
    EXPECT_EQ(frame.Draw(display), -1) << "fresh display";
    ASSERT_EQ(KESTRA_DWInitDraw(display, 32, 24), 0);
    EXPECT_EQ(frame.Draw(display), -1) << "initialised without a window";
    EXPECT_EQ(KESTRA_DWCloseDraw(display), 0);

    ASSERT_EQ(KESTRA_DWOpenDraw(&display), 0);
    ASSERT_EQ(KESTRA_DWSetHwnd(display, window), 0);
    EXPECT_EQ(frame.Draw(display), -1) << "window but no init";
    ASSERT_EQ(KESTRA_DWInitDraw(display, 32, 24), 0);
    EXPECT_EQ(frame.Draw(display), 0) << "window and init";
    EXPECT_EQ(KESTRA_DWCloseDraw(display), 0);
    host::DestroyHostWindow(window);
}

TEST(DisplayReadiness, ClosingWithoutInitOrWindowIsClean) {
    KestraDisplay display = nullptr;
    ASSERT_EQ(KESTRA_DWOpenDraw(&display), 0);
    EXPECT_EQ(KESTRA_DWFreeDraw(display), 0);
    EXPECT_EQ(KESTRA_DWAdjustedWnd(display), 0);
    EXPECT_EQ(KESTRA_DWCloseDraw(display), 0);
}

}  // namespace
