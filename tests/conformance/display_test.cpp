// What a display host can rely on, seen through kestra.h and its own window.
// The render mode is never visible through the API; a test that must know it
// infers it from whether the display callback ran (it runs only in the GDI mode).
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <functional>
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
                               const std::function<void()> &redraw = nullptr) {
    std::vector<uint32_t> pixels = host::ReadClient(window);
    for (const uint32_t start = host::TickMs(); !holds(pixels) && host::TickMs() - start < 3000;) {
        if (redraw && host::PresentsLate()) redraw();
        pixels = host::ReadClient(window);
    }
    return pixels;
}

// A studio-range YV12 frame made of flat vertical bars.
class Yv12Frame {
public:
    Yv12Frame(int width, int height)
        : width_(width),
          height_(height),
          y_(size_t(width) * height),
          u_(size_t(width / 2) * (height / 2)),
          v_(u_.size()) {}

    void Fill(uint32_t xrgb) { Bars({xrgb}); }

    // Bar i covers columns [i * width / n, (i + 1) * width / n).
    void Bars(const std::vector<uint32_t> &colours) {
        const int n = int(colours.size());
        for (int x = 0; x < width_; ++x) {
            int yv, uv, vv;
            ToYuv(colours[size_t(x * n / width_)], &yv, &uv, &vv);
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
    static void ToYuv(uint32_t xrgb, int *y, int *u, int *v) {
        const double r = (xrgb >> 16) & 0xFF, g = (xrgb >> 8) & 0xFF, b = xrgb & 0xFF;
        *y = int(16.5 + 0.257 * r + 0.504 * g + 0.098 * b);
        *u = int(128.5 - 0.148 * r - 0.291 * g + 0.439 * b);
        *v = int(128.5 + 0.439 * r - 0.368 * g - 0.071 * b);
    }

    int width_, height_;
    std::vector<uint8_t> y_, u_, v_;
};

struct CallbackRecord {
    int calls = 0;
    int32_t drawIndex = 0, frameWidth = 0, frameHeight = 0, value7 = 0, value8 = 0;
    int32_t windowWidth = 0, windowHeight = 0, mirrorMode = 0;
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
    record->drawIndex = drawIndex;
    record->frameWidth = frameWidth;
    record->frameHeight = frameHeight;
    record->value7 = value7;
    record->value8 = value8;
    record->windowWidth = windowWidth;
    record->windowHeight = windowHeight;
    record->mirrorMode = mirrorMode;
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

    // Draws and lets the window catch up before it is read.
    void DrawAndShow(const Yv12Frame &frame, int32_t value7 = 0, int32_t value8 = 0) {
        ASSERT_EQ(frame.Draw(display_, value7, value8), 0);
        shown_ = &frame;
        shownValue7_ = value7;
        shownValue8_ = value8;
        host::PumpMessages();
    }

    // Colours across the client area at the centre of each of n equal columns,
    // sampled on three rows.
    void ExpectColumns(const std::vector<uint32_t> &expected, const char *what) {
        const std::vector<uint32_t> pixels = ReadWhen(
            window_,
            [&](const std::vector<uint32_t> &p) {
                return ColumnMismatches(p, expected, what).empty();
            },
            [this] { Redraw(); });
        for (const std::string &mismatch : ColumnMismatches(pixels, expected, what))
            ADD_FAILURE() << mismatch;
    }

    static std::vector<std::string> ColumnMismatches(const std::vector<uint32_t> &pixels,
                                                     const std::vector<uint32_t> &expected,
                                                     const char *what) {
        if (pixels.size() != size_t(kClientWidth) * kClientHeight)
            return {std::string(what) + ": client area of another size"};
        const int n = int(expected.size());
        std::vector<std::string> mismatches;
        for (int i = 0; i < n; ++i) {
            const int x = (2 * i + 1) * kClientWidth / (2 * n);
            for (int y : {kClientHeight / 4, kClientHeight / 2, 3 * kClientHeight / 4}) {
                const uint32_t actual = pixels[size_t(y) * kClientWidth + x];
                if (Near(actual, expected[size_t(i)])) continue;
                mismatches.push_back(std::string(what) + ": column " + std::to_string(i) + " at (" +
                                     std::to_string(x) + "," + std::to_string(y) + ") expected " +
                                     Hex(expected[size_t(i)]) + " got " + Hex(actual));
            }
        }
        return mismatches;
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

    // True in the GDI mode: the only mode that calls the display callback.
    bool CallbackRuns(CallbackRecord *record) {
        KESTRA_DWSetDisplayCB(display_, record, RecordAndDraw);
        Yv12Frame frame(kFrameWidth, kFrameHeight);
        frame.Fill(kBlack);
        EXPECT_EQ(frame.Draw(display_), 0);
        return record->calls > 0;
    }

    HWND window_ = nullptr;
    KestraDisplay display_ = nullptr;
    // The frame last drawn by DrawAndShow, still alive while its test checks it.
    const Yv12Frame *shown_ = nullptr;
    int32_t shownValue7_ = 0, shownValue8_ = 0;
};

TEST_F(DisplayTest, FrameOfBarsReachesTheWindowStretched) {
    Yv12Frame frame(kFrameWidth, kFrameHeight);
    frame.Bars(kBars);
    DrawAndShow(frame);
    ExpectColumns(kBars, "bars");
    // The whole client area is the picture: its corners are the outer bars.
    EXPECT_TRUE(Near(host::ReadPixel(window_, 0, 0), kRed))
        << "top-left got " << Hex(host::ReadPixel(window_, 0, 0));
    const uint32_t corner = host::ReadPixel(window_, kClientWidth - 1, kClientHeight - 1);
    EXPECT_TRUE(Near(corner, kWhite)) << "bottom-right got " << Hex(corner);
}

struct MirrorCase {
    int32_t mode;
    bool mirrored;
};

class MirrorTest : public DisplayTest, public ::testing::WithParamInterface<MirrorCase> {};

TEST_P(MirrorTest, OnlyModeOneMirrors) {
    Yv12Frame frame(kFrameWidth, kFrameHeight);
    frame.Bars(kBars);
    ASSERT_EQ(KESTRA_DWSetMirrorMode(display_, GetParam().mode), 0);
    DrawAndShow(frame);
    const std::vector<uint32_t> expected =
        GetParam().mirrored ? std::vector<uint32_t>(kBars.rbegin(), kBars.rend()) : kBars;
    ExpectColumns(expected, ("mirror mode " + std::to_string(GetParam().mode)).c_str());
}

INSTANTIATE_TEST_SUITE_P(Modes, MirrorTest,
                         ::testing::Values(MirrorCase{0, false}, MirrorCase{1, true},
                                           MirrorCase{2, false}, MirrorCase{-1, false}));

struct PlayRectCase {
    const char *name;
    RECT rect;
    std::vector<uint32_t> expected;
};

class PlayRectTest : public DisplayTest, public ::testing::WithParamInterface<PlayRectCase> {};

TEST_P(PlayRectTest, CropsTheSourceOrIsRefused) {
    Yv12Frame frame(kFrameWidth, kFrameHeight);
    frame.Bars(kBars);
    ASSERT_EQ(KESTRA_DWSetPlayRect(display_, &GetParam().rect), 0);
    DrawAndShow(frame);
    ExpectColumns(GetParam().expected, GetParam().name);
}

INSTANTIATE_TEST_SUITE_P(
    Rects, PlayRectTest,
    ::testing::Values(
        PlayRectCase{"second bar only", {44, 10, 76, 100}, {kGreen, kGreen}},
        PlayRectCase{"last two bars", {80, 0, 159, 119}, {kBlue, kWhite}},
        PlayRectCase{"to the frame's right and bottom edges", {80, 60, 160, 120}, {kBlue, kWhite}},
        PlayRectCase{"whole frame", {0, 0, 160, 120}, kBars},
        PlayRectCase{"inside out is refused", {76, 100, 44, 10}, kBars},
        PlayRectCase{"edge outside the frame", {-1, 0, 50, 50}, kBars}),
    [](const ::testing::TestParamInfo<PlayRectCase> &p) {
        std::string name = p.param.name;
        for (char &c : name)
            if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
        return name;
    });

TEST_F(DisplayTest, PlayRectCanBeTurnedOffAgain) {
    Yv12Frame frame(kFrameWidth, kFrameHeight);
    frame.Bars(kBars);
    const RECT crop = {44, 10, 76, 100};
    ASSERT_EQ(KESTRA_DWSetPlayRect(display_, &crop), 0);
    DrawAndShow(frame);
    ASSERT_EQ(KESTRA_DWSetPlayRect(display_, nullptr), 0);
    DrawAndShow(frame);
    ExpectColumns(kBars, "crop off");
}

TEST_F(DisplayTest, OsdTextShowsInItsColourAndGoesAwayWhenEmptied) {
    Yv12Frame frame(kFrameWidth, kFrameHeight);
    frame.Fill(kBlue);
    DrawAndShow(frame);
    ASSERT_EQ(CountNear(kYellow, 40, true), 0) << "yellow before any text";

    const COLORREF yellow = RGB(0xFF, 0xFF, 0x00);
    ASSERT_EQ(KESTRA_DWSetOSDText(display_, 2, "HW#@\nMMMM", 8, 8, 0, yellow), 0);
    DrawAndShow(frame);
    const int textPixels = CountNear(kYellow, 40, false);
    EXPECT_GT(textPixels, 40) << "yellow pixels of the OSD text";
    // The text sits in the top-left quarter (frame pixels 8.. scaled by 2).
    EXPECT_TRUE(Near(host::ReadPixel(window_, kClientWidth - 4, kClientHeight - 4), kBlue));

    ASSERT_EQ(KESTRA_DWSetOSDText(display_, 2, "", 8, 8, 0, yellow), 0);
    DrawAndShow(frame);
    EXPECT_EQ(CountNear(kYellow, 40, true), 0) << "yellow after the slot was emptied";
}

TEST_F(DisplayTest, OsdIndexOutsideTheSixSlotsIsIgnored) {
    Yv12Frame frame(kFrameWidth, kFrameHeight);
    frame.Fill(kBlue);
    for (int32_t index : {-1, 6, 1000}) {
        EXPECT_EQ(KESTRA_DWSetOSDText(display_, index, "MMMM", 8, 8, 0, RGB(0xFF, 0xFF, 0)), 0)
            << "index " << index;
    }
    DrawAndShow(frame);
    EXPECT_EQ(CountNear(kYellow, 40, true), 0);
}

TEST_F(DisplayTest, DisplayCallbackGetsItsArgumentsAndItsDrawingShowsOnlyInGdiMode) {
    CallbackRecord record;
    record.squareX = 8;
    record.squareY = 8;
    record.squareSize = 16;
    ASSERT_EQ(KESTRA_DWSetIndex(display_, 7), 0);
    ASSERT_EQ(KESTRA_DWSetMirrorMode(display_, 2), 0);
    ASSERT_EQ(KESTRA_DWSetDisplayCB(display_, &record, RecordAndDraw), 0);
    Yv12Frame frame(kFrameWidth, kFrameHeight);
    frame.Fill(kGreen);
    DrawAndShow(frame, 1234, -5678);
    DrawAndShow(frame, 1234, -5678);

    if (record.calls == 0) {
        // A surface mode: the callback never runs and the frame shows as drawn.
        EXPECT_EQ(CountNear(kMagenta, 40, true), 0);
        ExpectColumns({kGreen, kGreen}, "surface mode");
        return;
    }
    EXPECT_EQ(record.calls, 2) << "one call per frame";
    EXPECT_EQ(record.drawIndex, 7);
    EXPECT_TRUE(record.hadDc);
    EXPECT_EQ(record.frameWidth, kFrameWidth);
    EXPECT_EQ(record.frameHeight, kFrameHeight);
    EXPECT_EQ(record.value7, 1234);
    EXPECT_EQ(record.value8, -5678);
    EXPECT_EQ(record.windowWidth, kClientWidth + 2) << "outer width, border included";
    EXPECT_EQ(record.windowHeight, kClientHeight + 2) << "outer height, border included";
    EXPECT_EQ(record.mirrorMode, 2) << "passed as stored";
    EXPECT_EQ(record.user, &record);
    // Frame square (8..24) is window (16..48) at 2x.
    const uint32_t inside = host::ReadPixel(window_, 32, 32);
    EXPECT_TRUE(Near(inside, kMagenta)) << "host drawing got " << Hex(inside);
    const uint32_t outside = host::ReadPixel(window_, 200, 200);
    EXPECT_TRUE(Near(outside, kGreen)) << "picture got " << Hex(outside);
}

TEST_F(DisplayTest, FreeDrawThenDrawAnswersByModeAndInitDrawRecovers) {
    CallbackRecord record;
    const bool gdi = CallbackRuns(&record);
    ASSERT_EQ(KESTRA_DWFreeDraw(display_), 0);
    Yv12Frame frame(kFrameWidth, kFrameHeight);
    frame.Bars(kBars);
    EXPECT_EQ(frame.Draw(display_), gdi ? 0 : -9) << (gdi ? "GDI mode" : "surface mode");

    ASSERT_EQ(KESTRA_DWInitDraw(display_, kFrameWidth, kFrameHeight), 0);
    DrawAndShow(frame);
    ExpectColumns(kBars, "after a second init");
}

TEST_F(DisplayTest, ReinitDropsAPlayRectThatNoLongerFitsAndKeepsOneThatDoes) {
    const RECT lastBars = {80, 0, 159, 119};
    ASSERT_EQ(KESTRA_DWSetPlayRect(display_, &lastBars), 0);
    ASSERT_EQ(KESTRA_DWInitDraw(display_, 64, 48), 0);
    Yv12Frame smaller(64, 48);
    smaller.Bars({kRed, kBlue});
    DrawAndShow(smaller);
    ExpectColumns({kRed, kBlue}, "64x48 after a crop of the 160x120 frame");

    const RECT leftHalf = {0, 0, 31, 47};
    ASSERT_EQ(KESTRA_DWSetPlayRect(display_, &leftHalf), 0);
    ASSERT_EQ(KESTRA_DWInitDraw(display_, 96, 64), 0);
    Yv12Frame larger(96, 64);
    larger.Bars({kRed, kBlue});
    DrawAndShow(larger);
    ExpectColumns({kRed, kRed}, "96x64 keeps the crop that still fits");
}

// Whatever window the display was set up on, and whether a window was set
// before InitDraw at all, the next frame fills the window set last.
class NewWindowTest : public DisplayTest, public ::testing::WithParamInterface<bool> {};

TEST_P(NewWindowTest, NextFrameFillsTheWindowSetLast) {
    const bool initFirst = GetParam();
    Yv12Frame frame(kFrameWidth, kFrameHeight);
    frame.Bars(kBars);
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
    DrawAndShow(frame);
    ExpectColumns(kBars, initFirst ? "window set after InitDraw" : "second, larger window");
}

INSTANTIATE_TEST_SUITE_P(Orders, NewWindowTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool> &p) {
                             return p.param ? "InitFirst" : "FromASmallerWindow";
                         });

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
    struct Probe {
        int x, y;
        uint32_t colour;
        const char *what;
    };
    const Probe probes[] = {{2 * w - 1, h, kWhite, "last column"},
                            {w, 2 * h - 1, kWhite, "last row"},
                            {2 * w - 1, 2 * h - 1, kWhite, "corner"},
                            {w, h, kBlack, "inside"}};
    auto mismatch = [&](const std::vector<uint32_t> &pixels) -> std::string {
        if (pixels.size() != size_t(4) * w * h) return "client area of another size";
        for (const Probe &p : probes) {
            const uint32_t got = pixels[size_t(p.y) * 2 * w + p.x];
            if (!Near(got, p.colour)) return std::string(p.what) + ": got " + Hex(got);
        }
        return "";
    };
    const std::vector<uint32_t> pixels = ReadWhen(
        window, [&](const std::vector<uint32_t> &p) { return mismatch(p).empty(); },
        [&] { draw(); });
    EXPECT_EQ(mismatch(pixels), "");
    EXPECT_EQ(KESTRA_DWCloseDraw(display), 0);
    host::DestroyHostWindow(window);
}

struct SizeCase {
    int width, height;
};

class ReinitTest : public DisplayTest, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(ReinitTest, AnotherFrameSizeFillsTheWindow) {
    const SizeCase size = GetParam();
    Yv12Frame first(kFrameWidth, kFrameHeight);
    first.Fill(kWhite);
    DrawAndShow(first);

    ASSERT_EQ(KESTRA_DWInitDraw(display_, size.width, size.height), 0);
    Yv12Frame frame(size.width, size.height);
    frame.Bars({kRed, kBlue});
    DrawAndShow(frame);
    ExpectColumns({kRed, kBlue},
                  (std::to_string(size.width) + "x" + std::to_string(size.height)).c_str());
}

// 90 and 54 are not multiples of 4: 24-bit rows then need padding.
INSTANTIATE_TEST_SUITE_P(Sizes, ReinitTest,
                         ::testing::Values(SizeCase{96, 64}, SizeCase{90, 60}, SizeCase{54, 40},
                                           SizeCase{640, 480}),
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
    std::vector<uint32_t> colours;
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
        // Channels of 0, 0x80 and 0xFF: any two colours differ by far more than the tolerance.
        const uint32_t levels[3] = {0x00, 0x80, 0xFF};
        const int code = d + 1 + d / 4;  // 16 of the 27 codes, none of them black
        wall.colours.push_back(levels[code % 3] << 16 | levels[code / 3 % 3] << 8 |
                               levels[code / 9 % 3]);
        wall.frames.emplace_back(Wall::kFrameWidth, Wall::kFrameHeight);
        wall.frames.back().Fill(wall.colours.back());
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

    // Near the left or top edge, the middle, near the far edge.
    const int xs[3] = {2, Wall::kCellWidth / 2, Wall::kCellWidth - 3};
    const int ys[3] = {2, Wall::kCellHeight / 2, Wall::kCellHeight - 3};
    auto at = [&](const std::vector<uint32_t> &pixels, int i, int j) {
        return pixels[size_t(ys[j]) * Wall::kCellWidth + size_t(xs[i])];
    };
    for (int d = 0; d < Wall::kDisplays; ++d) {
        const uint32_t colour = wall.colours[size_t(d)];
        auto shows = [&](const std::vector<uint32_t> &pixels) {
            if (pixels.size() != size_t(Wall::kCellWidth) * Wall::kCellHeight) return false;
            for (int i = 0; i < 3; ++i)
                for (int j = 0; j < 3; ++j)
                    if (!Near(at(pixels, i, j), colour)) return false;
            return true;
        };
        // A window whose paint is handled after its last frame shows its
        // background until the next frame, as a player would send.
        const std::vector<uint32_t> pixels =
            ReadWhen(wall.cells[d], shows, [&] { wall.frames[size_t(d)].Draw(wall.displays[d]); });
        EXPECT_TRUE(shows(pixels))
            << "display " << d << " expected " << Hex(colour) << " got "
            << Hex(pixels.empty() ? 0 : at(pixels, 1, 1)) << " in its middle";
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
    Yv12Frame frame(32, 24);
    frame.Fill(kRed);

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
