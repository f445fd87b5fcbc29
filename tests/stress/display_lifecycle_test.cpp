// Displays opened and closed over and over with frames in between, and
// sixteen displays drawn at once from two threads.
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

// Each round opens a display in the next mode at a random size, draws,
// sometimes frees the surfaces or re-initialises at another size, and closes.
TEST(DisplayLifecycle, ThousandReopensLeaveNothingBehind) {
    constexpr int kRounds = 1000;
    std::minstd_rand random(4242);
    std::printf("seed 4242\n");
    const int before = LiveObjects();
    int frames = 0;
    for (int round = 0; round < kRounds; ++round) {
        const int mode = kAllModes[round % 4];
        const int width = 2 + 2 * int(random() % 40), height = 2 + 2 * int(random() % 30);
        Frame frame(width, height);
        frame.Paint(uint8_t(random()), uint8_t(random()), uint8_t(random()));
        TestDisplay d(mode, width, height, 96, 72);
        if (random() % 8 == 0)
            KESTRA_DWSetOSDText(d.handle, int(random() % 6), "reopen", 1, 1, 0, 0);
        ASSERT_EQ(mode, d.Mode()) << "round " << round;
        for (int n = int(random() % 3); n >= 0; --n, ++frames)
            ASSERT_EQ(0, d.Draw(frame)) << "round " << round << ", " << ModeName(mode);
        const unsigned plan = random() % 4;
        if (plan == 1) {
            KESTRA_DWFreeDraw(d.handle);
            const int expected = mode == ModeGdi ? 0 : -9;
            ASSERT_EQ(expected, d.Draw(frame)) << "round " << round << " after free";
        } else if (plan == 2) {
            Frame other(width + 2, height + 2);
            other.Paint(16, 128, 128);
            d.Init(other.width, other.height);
            ASSERT_EQ(0, d.Draw(other)) << "round " << round << " after re-init";
            ++frames;
        }
    }
    EXPECT_EQ(before, LiveObjects()) << "windows, DCs, bitmaps or DirectDraw objects leaked";
    std::printf("%d rounds, %d frames\n", kRounds, frames);
}

// Sixteen displays in every mode, eight per thread, each in its own window
// with its own colour: a picture in the wrong window or of the wrong colour
// means one display's state reached another's.
TEST(DisplayLifecycle, SixteenDisplaysDrawAtOnceFromTwoThreads) {
    constexpr int kDisplays = 16;
    constexpr int kFramesEach = 250;
    struct Channel {
        std::unique_ptr<TestDisplay> display;
        std::unique_ptr<Frame> frame;
        uint32_t colour = 0;
        int failures = 0;
    };
    std::vector<Channel> channels(kDisplays);
    // One adapter serves all: set up in the order whose last settings (the
    // defaults) still blit every surface format made before.
    std::vector<int> order;
    for (int mode : {ModeRGB565Surface, ModeGdi, ModeUYVYSurface, ModeYV12Surface})
        for (int i = 0; i < kDisplays; ++i)
            if (kAllModes[i % 4] == mode) order.push_back(i);
    for (int i : order) {
        Channel &c = channels[size_t(i)];
        c.display = std::make_unique<TestDisplay>(kAllModes[i % 4], 64, 48, 96, 72);
        ASSERT_EQ(kAllModes[i % 4], c.display->Mode()) << "display " << i;
        KESTRA_DWSetOSDText(c.display->handle, i % 6, "ch", 2, 2, 0, 0xFFFFFF);
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
                if (c.display->Draw(*c.frame) != 0) ++c.failures;
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
        const uint32_t shown = c.display->At(60, 50);
        EXPECT_TRUE(Near(shown, c.colour, 16))
            << "display " << i << " (" << ModeName(kAllModes[i % 4]) << "): expected "
            << Hex(c.colour) << ", shows " << Hex(shown);
    }
    std::printf("%d frames over %d displays\n", kDisplays * kFramesEach, kDisplays);
}

}  // namespace
