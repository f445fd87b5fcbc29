// Displays opened and closed over and over with frames in between, and
// sixteen displays drawn at once from two threads.
#include <windows.h>
#include <kestra/platform.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/display_fixture.h"

namespace {

using namespace kestra_test;

class DisplayLifecycle : public ::testing::Test {
protected:
    void TearDown() override { RestoreAdapter(); }
};

// Each round opens a display in the next mode at a random size, draws,
// sometimes frees the surfaces or re-initialises at another size, and closes.
TEST_F(DisplayLifecycle, ThousandReopensLeaveNothingBehind) {
    constexpr int kRounds = 1000;
    std::minstd_rand random(4242);
    std::printf("seed 4242\n");
    HWND window = kplat_create_window("reopen", 10, 10, 96, 72, 1);
    ASSERT_NE(nullptr, window);
    const int before = LiveObjects();
    int frames = 0;
    for (int round = 0; round < kRounds; ++round) {
        const int mode = kAllModes[round % 4];
        ConfigureAdapter(mode);
        const int width = 2 + 2 * int(random() % 40), height = 2 + 2 * int(random() % 30);
        Frame frame(width, height);
        frame.Paint(uint8_t(random()), uint8_t(random()), uint8_t(random()));
        KestraDisplay display = nullptr;
        ASSERT_EQ(0, KESTRA_DWOpenDraw(&display));
        KESTRA_DWSetHwnd(display, window);
        if (random() % 8 == 0)
            KESTRA_DWSetOSDText(display, int(random() % 6), "reopen", 1, 1, 0, 0);
        KESTRA_DWInitDraw(display, width, height);
        ASSERT_EQ(mode, Object(display)->ViewPresenter().renderMode) << "round " << round;
        for (int n = int(random() % 3); n >= 0; --n, ++frames)
            ASSERT_EQ(0, frame.DrawOn(display)) << "round " << round << ", " << ModeName(mode);
        const unsigned plan = random() % 4;
        if (plan == 1) {
            KESTRA_DWFreeDraw(display);
            const int expected = mode == kestra::ModeGdi ? 0 : -9;
            ASSERT_EQ(expected, frame.DrawOn(display)) << "round " << round << " after free";
        } else if (plan == 2) {
            Frame other(width + 2, height + 2);
            other.Paint(16, 128, 128);
            KESTRA_DWInitDraw(display, other.width, other.height);
            ASSERT_EQ(0, other.DrawOn(display)) << "round " << round << " after re-init";
            ++frames;
        }
        ASSERT_EQ(0, KESTRA_DWCloseDraw(display));
    }
    EXPECT_EQ(before, LiveObjects()) << "windows, DCs, bitmaps or DirectDraw objects leaked";
    kplat_destroy_window(window);
    std::printf("%d rounds, %d frames\n", kRounds, frames);
}

// Sixteen displays in every mode, eight per thread, each in its own window
// with its own colour: a picture in the wrong window or of the wrong colour
// means one display's state reached another's.
TEST_F(DisplayLifecycle, SixteenDisplaysDrawAtOnceFromTwoThreads) {
    constexpr int kDisplays = 16;
    constexpr int kFramesEach = 250;
    struct Channel {
        HWND window = nullptr;
        KestraDisplay display = nullptr;
        std::unique_ptr<Frame> frame;
        uint32_t colour = 0;
        int failures = 0;
    };
    std::vector<Channel> channels(kDisplays);
    // One adapter serves all: set up in the order whose last settings (the
    // defaults) still blit every surface format made before.
    std::vector<int> order;
    for (int mode : {kestra::ModeRGB565Surface, kestra::ModeGdi, kestra::ModeUYVYSurface,
                     kestra::ModeYV12Surface})
        for (int i = 0; i < kDisplays; ++i)
            if (kAllModes[i % 4] == mode) order.push_back(i);
    for (int i : order) {
        Channel &c = channels[size_t(i)];
        c.window = kplat_create_window("wall", 20 + (i % 4) * 120, 20 + (i / 4) * 100, 96, 72, 1);
        ASSERT_NE(nullptr, c.window);
        ConfigureAdapter(kAllModes[i % 4]);
        ASSERT_EQ(0, KESTRA_DWOpenDraw(&c.display));
        KESTRA_DWSetHwnd(c.display, c.window);
        KESTRA_DWInitDraw(c.display, 64, 48);
        ASSERT_EQ(kAllModes[i % 4], Object(c.display)->ViewPresenter().renderMode)
            << "display " << i;
        KESTRA_DWSetOSDText(c.display, i % 6, "ch", 2, 2, 0, 0xFFFFFF);
        const uint8_t y = uint8_t(40 + 12 * i), u = uint8_t(i % 2 ? 90 : 170);
        const uint8_t v = uint8_t(i % 3 ? 100 : 180);
        c.frame = std::make_unique<Frame>(64, 48);
        c.frame->Paint(y, u, v);
        c.colour = ExpectedColour(y, u, v);
    }
    auto drawHalf = [&channels](int first) {
        for (int n = 0; n < kFramesEach; ++n)
            for (int i = first; i < kDisplays; i += 2) {
                Channel &c = channels[size_t(i)];
                if (c.frame->DrawOn(c.display) != 0) ++c.failures;
            }
    };
    std::thread even(drawHalf, 0);
    std::thread odd(drawHalf, 1);
    even.join();
    odd.join();
    for (int i = 0; i < kDisplays; ++i) {
        Channel &c = channels[size_t(i)];
        EXPECT_EQ(0, c.failures) << "display " << i << " (" << ModeName(kAllModes[i % 4]) << ")";
        // Well below the OSD line: the picture alone.
        const uint32_t shown = kplat_window_pixel(c.window, 60, 50);
        EXPECT_TRUE(Near(shown, c.colour, 16))
            << "display " << i << " (" << ModeName(kAllModes[i % 4]) << "): expected "
            << Hex(c.colour) << ", shows " << Hex(shown);
        KESTRA_DWCloseDraw(c.display);
        kplat_destroy_window(c.window);
    }
    std::printf("%d frames over %d displays\n", kDisplays * kFramesEach, kDisplays);
}

}  // namespace
