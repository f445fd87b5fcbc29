// YV12 to RGB24: exact pixels, the row-pair walk, flips, strides, and that
// nothing outside the rows and columns the walk touches is read or written.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

#include "convert/convert.h"
#include "support/convert_cases.h"
#include "support/guarded_buffer.h"

namespace {

using kestra_test::GuardedBuffer;

constexpr uint8_t kCanary = 0xA5;

struct Bgr {
    int b, g, r;
};

// The pixel straight from the fixed-point coefficients.
Bgr Expected(int y, int u, int v) {
    const int l = 9535 * (y - 16);
    auto clamp = [](int sum) { return std::clamp(sum >> 13, 0, 255); };
    return {clamp(l + 16531 * (u - 128)), clamp(l - 3203 * (u - 128) - 6660 * (v - 128)),
            clamp(l + 13074 * (v - 128))};
}

// Stored blue first: 0xRRGGBB.
TEST(Rgb24Pixel, AllFourPixelsOfABlock) {
    const std::vector<kestra_test::PixelCase> cases = {
        {16, 128, 128, 0x000000}, {235, 128, 128, 0xFEFEFE}, {255, 128, 128, 0xFFFFFF},
        {0, 128, 128, 0x000000},  {128, 128, 128, 0x828282}, {100, 128, 127, 0x606261},
        {128, 0, 0, 0x00FF00},    {128, 255, 255, 0xFF00FF}};
    EXPECT_TRUE(kestra_test::BlocksConvertTo(kestra::yv12_to_rgb24_c, 3, cases));
}

// Every record against the standard's equations, written here from the luma
// weights and the range alone, in doubles, rounded and clamped: within 1 for
// every (y, u, v) triple.
TEST(Rgb24Pixel, EveryRecordWithinOneOfTheStandardForEveryTriple) {
    for (const kestra::colour::Record &record : kestra::colour::kRecords) {
        const bool bt709 = record.matrix == kestra::colour::Matrix::Bt709;
        const bool studio = record.range == kestra::colour::Range::Studio;
        const double kr = bt709 ? 0.2126 : 0.299, kb = bt709 ? 0.0722 : 0.114;
        const double luma = studio ? 255.0 / 219 : 1, chroma = studio ? 255.0 / 224 : 1;
        int worst = 0;
        std::string where;
        for (int u = 0; u < 256; ++u)
            for (int v = 0; v < 256; ++v)
                for (int y = 0; y < 256; ++y) {
                    const double l = luma * (y - (studio ? 16 : 0));
                    const double r = l + 2 * (1 - kr) * chroma * (v - 128);
                    const double b = l + 2 * (1 - kb) * chroma * (u - 128);
                    const double g = (l - kr * r - kb * b) / (1 - kr - kb);
                    uint8_t bgr[3];
                    kestra::yuv_to_rgb24_pixel_c(uint8_t(y), uint8_t(u), uint8_t(v), bgr, record);
                    const double want[3] = {b, g, r};
                    for (int c = 0; c < 3; ++c) {
                        const int off =
                            std::abs(bgr[c] - int(std::lround(std::clamp(want[c], 0.0, 255.0))));
                        if (off <= worst) continue;
                        worst = off;
                        where = std::to_string(y) + "," + std::to_string(u) + "," +
                                std::to_string(v) + " channel " + std::to_string(c);
                    }
                }
        EXPECT_LE(worst, 1) << (bt709 ? "bt709 " : "bt601 ") << (studio ? "studio" : "full")
                            << ": worst at yuv " << where;
    }
}

// One conversion's geometry. Strides of 0 mean "packed".
struct Walk {
    const char *name;
    uint32_t width;
    int32_t height;
    int32_t dstStride;
    int32_t yStride;
    int32_t uvStride;
};

// Planes and destination cut to exactly the bytes the walk may touch, each
// against a guard page, so any stray read or write faults.
class Rgb24Walk : public testing::TestWithParam<Walk> {};

TEST_P(Rgb24Walk, WritesExactlyTheWalkedPixels) {
    const Walk &w = GetParam();
    const int64_t rows = std::abs(static_cast<int64_t>(w.height));
    const bool flip = w.height < 0;
    const int64_t pairs = rows / 2, blocks = w.width / 2;
    const int32_t yStride = w.yStride ? w.yStride : int32_t(w.width);
    const int32_t uvStride = w.uvStride ? w.uvStride : int32_t(w.width / 2);
    const int32_t dstStride = w.dstStride ? w.dstStride : int32_t(w.width);
    const bool touches = pairs > 0 && blocks > 0;

    // Bottom-up with an odd height leaves luma row 0 unread: it sits in the
    // guard page before the plane. Otherwise the plane ends at a guard page.
    const bool skipsRow0 = flip && rows % 2;
    const int64_t lumaRows = 2 * pairs;
    const size_t ySize = touches ? size_t((lumaRows - 1) * yStride + 2 * blocks) : 0;
    GuardedBuffer yBuf(ySize, 0,
                       skipsRow0 ? GuardedBuffer::Align::Start : GuardedBuffer::Align::End);
    const size_t uvSize = touches ? size_t((pairs - 1) * uvStride + blocks) : 0;
    GuardedBuffer uBuf(uvSize), vBuf(uvSize);
    const size_t dstSize = touches ? size_t(((2 * pairs - 1) * dstStride + 2 * blocks) * 3) : 0;
    GuardedBuffer dstBuf(dstSize, kCanary);
    ASSERT_TRUE(yBuf.ok() && uBuf.ok() && vBuf.ok() && dstBuf.ok());

    const unsigned seed = 0x5eed0000u + w.width * 131 + unsigned(rows);
    std::mt19937 rng(seed);
    for (GuardedBuffer *b : {&yBuf, &uBuf, &vBuf})
        for (size_t i = 0; i < b->size(); ++i) b->data()[i] = uint8_t(rng());
    const uint8_t *y = skipsRow0 ? yBuf.data() - yStride : yBuf.data();

    kestra::yv12_to_rgb24_c(y, yStride, uBuf.data(), vBuf.data(), uvStride, dstBuf.data(),
                            3 * dstStride, w.width, w.height, kestra::colour::kBt601Studio);

    std::vector<bool> written(dstSize, false);
    for (int64_t r = 0; r < 2 * pairs; ++r) {
        const int64_t lumaRow = flip ? rows - 1 - r : r;
        const int64_t chromaRow = flip ? pairs - 1 - r / 2 : r / 2;
        for (int64_t x = 0; x < 2 * blocks; ++x) {
            const size_t at = size_t((r * dstStride + x) * 3);
            const Bgr e =
                Expected(y[lumaRow * yStride + x], uBuf.data()[chromaRow * uvStride + x / 2],
                         vBuf.data()[chromaRow * uvStride + x / 2]);
            const uint8_t *got = dstBuf.data() + at;
            ASSERT_TRUE(got[0] == e.b && got[1] == e.g && got[2] == e.r)
                << w.name << " seed " << seed << ": row " << r << " px " << x << " expected " << e.b
                << "," << e.g << "," << e.r << " got " << int(got[0]) << "," << int(got[1]) << ","
                << int(got[2]);
            written[at] = written[at + 1] = written[at + 2] = true;
        }
    }
    EXPECT_TRUE(kestra_test::KeepsCanary(dstBuf.data(), written, kCanary)) << w.name;
}

INSTANTIATE_TEST_SUITE_P(
    Geometry, Rgb24Walk,
    testing::Values(Walk{"Even", 8, 6, 0, 0, 0}, Walk{"EvenFlipped", 8, -6, 0, 0, 0},
                    Walk{"OddWidth", 7, 4, 0, 0, 0}, Walk{"OddHeight", 6, 5, 0, 0, 0},
                    Walk{"OddHeightFlipped", 6, -5, 0, 0, 0}, Walk{"Height3", 4, 3, 0, 0, 0},
                    Walk{"Width5Height4Stride5", 5, 4, 5, 0, 0}, Walk{"Height0", 8, 0, 0, 0, 0},
                    Walk{"Height1", 8, 1, 0, 0, 0}, Walk{"HeightMinus1", 8, -1, 0, 0, 0},
                    Walk{"Width0", 0, 4, 4, 4, 2}, Walk{"Width1", 1, 4, 1, 1, 1},
                    Walk{"WideDestination", 6, 4, 11, 0, 0},
                    Walk{"PaddedPlanes", 10, 6, 13, 24, 17},
                    Walk{"PaddedPlanesFlippedOdd", 9, -7, 12, 16, 9}),
    [](const testing::TestParamInfo<Walk> &p) { return std::string(p.param.name); });

}  // namespace
