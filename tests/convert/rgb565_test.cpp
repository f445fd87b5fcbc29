// YV12 to RGB 5-6-5: tables, exact pixels, the packed walk (odd sizes, the
// lone last row of an odd height) and the strided form, under guard pages.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "convert/convert.h"
#include "support/convert_cases.h"
#include "support/guarded_buffer.h"

namespace {

using kestra_test::GuardedBuffer;

constexpr uint8_t kCanary = 0xA5;  // each byte of a pixel

// The pixel from truncated products, clamped and packed without tables.
uint16_t Expected(int y, int u, int v) {
    const int du = u - 128, dv = v - 128;
    const int red = y + int(std::trunc(1.4013377926421404 * dv));
    const int green =
        y + int(std::trunc(-0.7136038186157518 * dv)) + int(std::trunc(-0.34441087613293053 * du));
    const int blue = y + int(std::trunc(1.7734138972809665 * du));
    auto c = [](int x) { return std::clamp(x, 0, 255); };
    return uint16_t(((c(red) >> 3) << 11) | ((c(green) >> 2) << 5) | (c(blue) >> 3));
}

TEST(Rgb565Pixel, OracleAndAllFourPixelsOfABlock) {
    const std::vector<kestra_test::PixelCase> cases = {
        {255, 128, 128, 0xFFFF}, {0, 128, 128, 0x0000}, {128, 128, 128, 0x8410},
        {255, 255, 128, 0xFEBF}, {0, 0, 128, 0x0160},   {0, 0, 0, 0x0420},
        {255, 255, 255, 0xFBDF}, {76, 85, 255, 0xF800}};
    for (const kestra_test::PixelCase &c : cases)
        EXPECT_EQ(c.pixel, Expected(c.y, c.u, c.v)) << "yuv " << c.y << "," << c.u << "," << c.v;
    EXPECT_TRUE(kestra_test::BlocksConvertTo(kestra::yv12_to_rgb565_c, 2, cases));
}

// A walk's geometry; padded strides (0 = packed) apply to the strided form only.
struct Walk {
    const char *name;
    int32_t width, height;
    int32_t yPad, uvPad, dstPad;
};

// Planes and destination hold exactly the bytes the walk may touch and end
// at a guard page; the destination's untouched pixels must keep the canary.
// Packed, or with the walk's padded strides.
class Rgb565Walk : public testing::TestWithParam<std::tuple<Walk, bool>> {};

TEST_P(Rgb565Walk, WritesExactlyTheWalkedPixels) {
    const Walk &w = std::get<0>(GetParam());
    const bool strided = std::get<1>(GetParam());
    const int64_t blocks = w.width >= 2 ? w.width / 2 : 0;
    // The frame's own height / 2 chroma rows, no more: an odd last row
    // borrows the last of them, and a lone row, which has none, is grey.
    // An odd last column takes its row's last chroma sample, grey when a
    // frame 1 pixel wide has none.
    const int64_t chromaRows = w.height > 0 ? w.height / 2 : 0;
    const int64_t rows = w.height > 0 ? w.height : 0;
    const int64_t columns = w.width > 0 ? w.width : 0;
    const bool touches = columns > 0 && rows > 0;
    const int32_t yStride = w.width + (strided ? w.yPad : 0);
    const int32_t uvStride = w.width / 2 + (strided ? w.uvPad : 0);
    const int32_t dstStride = w.width + (strided ? w.dstPad : 0);
    GuardedBuffer yBuf(touches ? size_t((rows - 1) * yStride + columns) : 0);
    const bool chroma = touches && blocks && chromaRows;
    GuardedBuffer uBuf(chroma ? size_t((chromaRows - 1) * uvStride + blocks) : 0);
    GuardedBuffer vBuf(uBuf.size());
    const size_t dstPixels = touches ? size_t((rows - 1) * dstStride + columns) : 0;
    GuardedBuffer dstBuf(dstPixels * 2, kCanary);
    ASSERT_TRUE(yBuf.ok() && uBuf.ok() && vBuf.ok() && dstBuf.ok());
    const uint16_t *dst = reinterpret_cast<const uint16_t *>(dstBuf.data());
    const unsigned seed = 0x565u * 1000 + unsigned(w.width * 37 + w.height);
    std::mt19937 rng(seed);
    for (GuardedBuffer *b : {&yBuf, &uBuf, &vBuf})
        for (size_t i = 0; i < b->size(); ++i) b->data()[i] = uint8_t(rng());

    kestra::yv12_to_rgb565_c(yBuf.data(), yStride, uBuf.data(), vBuf.data(), uvStride,
                             dstBuf.data(), 2 * dstStride, w.width, w.height,
                             kestra::colour::kBt601Studio);

    std::vector<bool> written(dstBuf.size(), false);
    for (int64_t r = 0; r < rows && touches; ++r) {
        for (int64_t x = 0; x < columns; ++x) {
            const int64_t c =
                std::min(r / 2, chromaRows - 1) * uvStride + std::min(x / 2, blocks - 1);
            const int u = chroma ? uBuf.data()[c] : 128, v = chroma ? vBuf.data()[c] : 128;
            const uint16_t e = Expected(yBuf.data()[r * yStride + x], u, v);
            const size_t at = size_t(r * dstStride + x);
            ASSERT_EQ(e, dst[at]) << w.name << " seed " << seed << ": row " << r << " px " << x;
            written[2 * at] = written[2 * at + 1] = true;
        }
    }
    EXPECT_TRUE(kestra_test::KeepsCanary(dstBuf.data(), written, kCanary)) << w.name;
}

// Width 5 packed: chroma rows 2 bytes apart, the second row pair at luma
// byte 10 and destination pixel 10, the last column on chroma column 1.
const Walk kWalks[] = {
    {"Width5Height4", 5, 4, 3, 1, 2}, {"Even", 8, 6, 8, 4, 0},     {"OddHeight", 6, 5, 2, 2, 2},
    {"OddBoth", 7, 3, 1, 5, 3},       {"Height1", 4, 1, 4, 2, 4},  {"Height0", 4, 0, 0, 0, 0},
    {"HeightMinus3", 4, -3, 0, 0, 0}, {"Width0", 0, 4, 0, 0, 0},   {"Width1", 1, 4, 0, 0, 0},
    {"WidthMinus2", -2, 4, 0, 0, 0},  {"Wide", 34, 10, 30, 17, 6},
};

INSTANTIATE_TEST_SUITE_P(Geometry, Rgb565Walk,
                         testing::Combine(testing::ValuesIn(kWalks), testing::Bool()),
                         [](const testing::TestParamInfo<std::tuple<Walk, bool>> &p) {
                             return std::string(std::get<0>(p.param).name) +
                                    (std::get<1>(p.param) ? "Strided" : "Packed");
                         });

}  // namespace
