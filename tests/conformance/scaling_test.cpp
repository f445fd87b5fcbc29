// A camera in a wall tile: a 1920x1080 frame shrunk six times each way. The
// smooth presenters must show the frame's area average there, not a moiré of
// the samples that happen to fall on window pixels; the surfaces keep their
// hardware's picture whatever is asked.
#include <windows.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "host_window.h"
#include "kestra/kestra.h"

namespace {

constexpr int kWidth = 1920, kHeight = 1080, kRatio = 6;
constexpr double kPi = 3.14159265358979323846;
constexpr int kTileWidth = kWidth / kRatio, kTileHeight = kHeight / kRatio;

// Luma rings whose frequency rises with the radius, to the Nyquist limit at
// the corners; grey chroma. Studio-range BT.601, the default colours.
struct ZonePlate {
    ZonePlate() : y(size_t(kWidth) * kHeight), u(size_t(kWidth / 2) * (kHeight / 2), 128), v(u) {
        const double cx = kWidth / 2.0, cy = kHeight / 2.0;
        const double farthest = std::hypot(cx, cy);
        for (int row = 0; row < kHeight; ++row)
            for (int x = 0; x < kWidth; ++x) {
                const double r2 = (x - cx) * (x - cx) + (row - cy) * (row - cy);
                // Half a cycle a pixel at the corner.
                const double phase = kPi * r2 / (2 * farthest);
                y[size_t(row) * kWidth + x] = uint8_t(std::lround(125.5 + 109 * std::cos(phase)));
            }
    }
    std::vector<uint8_t> y, u, v;
};

// The frame as our own converter gives it, averaged over each tile pixel's
// 6x6 block: what a window a sixth of the frame's size should show.
std::vector<double> AreaAverage(const ZonePlate &frame) {
    std::vector<uint8_t> rgb(size_t(kWidth) * kHeight * 3);
    KESTRA_yv12_to_rgb24_c(rgb.data(), kWidth, frame.y.data(), frame.u.data(), frame.v.data(),
                           kWidth, kWidth / 2, kWidth, kHeight);
    std::vector<double> average(size_t(kTileWidth) * kTileHeight * 3, 0.0);
    for (int row = 0; row < kHeight; ++row)
        for (int x = 0; x < kWidth; ++x)
            for (int c = 0; c < 3; ++c)
                average[(size_t(row / kRatio) * kTileWidth + x / kRatio) * 3 + c] +=
                    rgb[(size_t(row) * kWidth + x) * 3 + c] / double(kRatio * kRatio);
    return average;
}

// Peak signal to noise of the shown tile against the reference (blue first).
double Psnr(const std::vector<uint32_t> &shown, const std::vector<double> &reference) {
    if (shown.size() != size_t(kTileWidth) * kTileHeight) return 0;
    double squares = 0;
    for (size_t i = 0; i < shown.size(); ++i)
        for (int c = 0; c < 3; ++c) {
            const double d = double((shown[i] >> (8 * c)) & 0xFF) - reference[i * 3 + size_t(c)];
            squares += d * d;
        }
    const double mse = squares / double(shown.size() * 3);
    return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

void KESTRA_CALLBACK CountCalls(int32_t, HDC__ *, int32_t, int32_t, int32_t, int32_t, int32_t,
                                int32_t, int32_t, void *user) {
    ++*static_cast<int *>(user);
}

class ScalingTest : public ::testing::Test {
protected:
    void SetUp() override {
        window_ = host::CreateHostWindow(kTileWidth, kTileHeight);
        ASSERT_NE(window_, nullptr);
        ASSERT_EQ(KESTRA_DWOpenDraw(&display_), 0);
        ASSERT_EQ(KESTRA_DWSetHwnd(display_, window_), 0);
        ASSERT_EQ(KESTRA_DWInitDraw(display_, kWidth, kHeight), 0);
    }
    void TearDown() override {
        if (display_) {
            EXPECT_EQ(KESTRA_DWCloseDraw(display_), 0);
        }
        host::DestroyHostWindow(window_);
    }

    // The run's presenter: the Wine harness names it; otherwise the display
    // callback tells GDI, which alone calls it, from the surfaces.
    std::string RenderMode() {
        if (const char *mode = std::getenv("KESTRA_TEST_RENDER_MODE")) return mode;
        int calls = 0;
        KESTRA_DWSetDisplayCB(display_, &calls, CountCalls);
        Draw();
        KESTRA_DWSetDisplayCB(display_, nullptr, nullptr);
        return calls > 0 ? "gdi" : "surface";
    }

    void Draw() {
        KESTRA_DWDrawYUV420(display_, frame_.y.data(), kWidth, frame_.u.data(), frame_.v.data(),
                            kWidth / 2, 0, 0, 0);
        host::PumpMessages();
    }

    // The tile's PSNR once `holds` it (or 3 s have passed: the screen may
    // show a draw late).
    template <typename Holds>
    double ShownPsnr(const std::vector<double> &reference, Holds holds) {
        for (const uint32_t start = host::TickMs();;) {
            const double psnr = Psnr(host::ReadClient(window_), reference);
            if (holds(psnr) || host::TickMs() - start >= 3000) return psnr;
            if (host::PresentsLate()) Draw();
        }
    }

    HWND window_ = nullptr;
    KestraDisplay display_ = nullptr;
    const ZonePlate frame_;
};

TEST_F(ScalingTest, ZonePlateAtASixthShowsItsAreaAverage) {
    const std::string mode = RenderMode();
    const std::vector<double> reference = AreaAverage(frame_);
    // Refused modes change nothing.
    ASSERT_EQ(KESTRA_DWSetScaling(display_, 2), 2);
    ASSERT_EQ(KESTRA_DWSetScaling(display_, -1), 2);
    if (mode == "d3d11") {
        // Smooth is that presenter's own default.
        Draw();
        const double psnr = ShownPsnr(reference, [](double p) { return p >= 28; });
        std::printf("zone plate at 1/6, d3d11 default: %.1f dB\n", psnr);
        EXPECT_GE(psnr, 28);
    } else if (mode == "gdi") {
        ASSERT_EQ(KESTRA_DWSetScaling(display_, 1), 0);
        Draw();
        const double psnr = ShownPsnr(reference, [](double p) { return p >= 25; });
        std::printf("zone plate at 1/6, gdi smooth: %.1f dB\n", psnr);
        EXPECT_GE(psnr, 25);
    } else {
        // A surface's hardware blit, asked either way: the same picture.
        Draw();
        // Settled: the same reading twice, 100 ms apart.
        double fast = -1;
        ShownPsnr(reference, [&](double p) {
            const bool same = p == fast;
            fast = p;
            host::SleepMs(100);
            return same;
        });
        ASSERT_EQ(KESTRA_DWSetScaling(display_, 1), 0);
        Draw();
        const double smooth = ShownPsnr(reference, [&](double p) { return p == fast; });
        std::printf("zone plate at 1/6, %s: %.1f dB fast, %.1f dB smooth\n", mode.c_str(), fast,
                    smooth);
        EXPECT_EQ(fast, smooth);
    }
}

}  // namespace
