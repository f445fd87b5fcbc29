// YV12 to UYVY: byte order, chroma shared by a row pair, chroma rows at
// uvStride, and any width or height without a stray read or write.
#include <gtest/gtest.h>

#include <algorithm>

#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "convert/convert.h"
#include "convert/dispatch.h"
#include "support/guarded_buffer.h"

namespace {

using kestra_test::GuardedBuffer;

constexpr uint8_t kCanary = 0xEE;

struct Packer {
    const char *name;
    void (*fn)(const uint8_t *y, int32_t yStride, const uint8_t *u, const uint8_t *v,
               int32_t uvStride, uint8_t *dst, int32_t dstStride, int32_t width, int32_t height);
};

// The reference and the dispatched packer, as the display calls it.
void Reference(const uint8_t *y, int32_t yStride, const uint8_t *u, const uint8_t *v,
               int32_t uvStride, uint8_t *dst, int32_t dstStride, int32_t width, int32_t height) {
    kestra::yv12_to_uyvy_c(y, yStride, u, v, uvStride, dst, dstStride, width, height,
                           kestra::colour::kBt601Studio);
}

void Dispatched(const uint8_t *y, int32_t yStride, const uint8_t *u, const uint8_t *v,
                int32_t uvStride, uint8_t *dst, int32_t dstStride, int32_t width, int32_t height) {
    kestra::Converters().uyvy(y, yStride, u, v, uvStride, dst, dstStride, width, height,
                              kestra::colour::kBt601Studio);
}

const Packer kPackers[] = {{"c", Reference}, {"mmx", Dispatched}};

class UyvyBytes : public testing::TestWithParam<Packer> {};

// Y 0x10.. in row 0, 0x40.. in row 1; U 0x80..; V 0x90..
TEST_P(UyvyBytes, RowPairSharesChromaAndKeepsItsLuma) {
    uint8_t y[2 * 16], u[8], v[8];
    for (int i = 0; i < 16; ++i) y[i] = uint8_t(0x10 + i), y[16 + i] = uint8_t(0x40 + i);
    for (int i = 0; i < 8; ++i) u[i] = uint8_t(0x80 + i), v[i] = uint8_t(0x90 + i);
    constexpr int kPitch = 48;
    uint8_t dst[2 * kPitch];
    std::memset(dst, kCanary, sizeof(dst));
    GetParam().fn(y, 16, u, v, 8, dst, kPitch, 16, 2);

    const uint8_t head[8] = {0x80, 0x10, 0x90, 0x11, 0x81, 0x12, 0x91, 0x13};
    EXPECT_EQ(0, std::memcmp(head, dst, 8)) << "row 0 head";
    EXPECT_EQ(0x1F, dst[31]) << "row 0 byte 31";
    for (int j = 0; j < 8; ++j) {
        const uint8_t *p = dst + kPitch + 4 * j;
        EXPECT_TRUE(p[0] == 0x80 + j && p[1] == 0x40 + 2 * j && p[2] == 0x90 + j &&
                    p[3] == 0x41 + 2 * j)
            << "row 1 pair " << j << ": " << std::hex << int(p[0]) << " " << int(p[1]) << " "
            << int(p[2]) << " " << int(p[3]);
    }
    for (int r = 0; r < 2; ++r)
        for (int i = 32; i < kPitch; ++i)
            EXPECT_EQ(kCanary, dst[r * kPitch + i]) << "row " << r << " byte " << i;
}

// An odd last column has no chroma sample of its own: it repeats the row's
// last one, or takes neutral grey when the row has none, and its group is
// whole, the second luma a copy of its own.
TEST_P(UyvyBytes, OddLastColumnReusesTheLastChromaSample) {
    const uint8_t y3[6] = {1, 2, 3, 4, 5, 6}, u3[1] = {0x70}, v3[1] = {0x71};
    uint8_t dst[16];
    std::memset(dst, kCanary, sizeof(dst));
    GetParam().fn(y3, 3, u3, v3, 1, dst, 8, 3, 2);
    const uint8_t want3[16] = {0x70, 1, 0x71, 2, 0x70, 3, 0x71, 3,
                               0x70, 4, 0x71, 5, 0x70, 6, 0x71, 6};
    EXPECT_EQ(0, std::memcmp(want3, dst, 16)) << "width 3";

    const uint8_t y1[2] = {9, 10};
    std::memset(dst, kCanary, sizeof(dst));
    GetParam().fn(y1, 1, nullptr, nullptr, 0, dst, 8, 1, 2);
    const uint8_t want1[16] = {0x80, 9,  0x80, 9,  kCanary, kCanary, kCanary, kCanary,
                               0x80, 10, 0x80, 10, kCanary, kCanary, kCanary, kCanary};
    EXPECT_EQ(0, std::memcmp(want1, dst, 16)) << "width 1 is one whole grey group a row";
}

INSTANTIATE_TEST_SUITE_P(Packers, UyvyBytes, testing::ValuesIn(kPackers),
                         [](const testing::TestParamInfo<Packer> &p) {
                             return std::string(p.param.name);
                         });

struct Walk {
    const char *name;
    uint32_t width, height;
    int32_t yPad, uvPad, dstPad;
};

uint8_t ExpectedByte(const uint8_t *yRow, const uint8_t *uRow, const uint8_t *vRow, uint32_t width,
                     uint32_t byte) {
    const uint32_t x = byte / 2;
    const uint32_t pairs = width / 2;
    if (x / 2 >= pairs) {  // odd last column: the whole group, its luma twice
        if (byte % 2) return yRow[width - 1];
        if (!pairs) return 0x80;
        return x % 2 ? vRow[pairs - 1] : uRow[pairs - 1];
    }
    if (byte % 2) return yRow[x];
    return x % 2 ? vRow[x / 2] : uRow[x / 2];
}

class UyvyWalk : public testing::TestWithParam<std::tuple<Packer, Walk>> {};

// Planes hold exactly width luma bytes per row, height rows, and width / 2
// chroma bytes in each of height / 2 chroma rows; the destination rows are
// (width + 1) / 2 groups and it ends with the last group of row height - 1.
TEST_P(UyvyWalk, StaysInsideThePlanesAndRows) {
    const Packer &packer = std::get<0>(GetParam());
    const Walk &w = std::get<1>(GetParam());
    const int32_t yStride = int32_t(w.width) + w.yPad;
    const int32_t uvStride = int32_t(w.width / 2) + w.uvPad;
    const uint32_t rowBytes = 4 * ((w.width + 1) / 2);
    const int32_t pitch = int32_t(rowBytes) + w.dstPad;
    // The frame's own height / 2 chroma rows: an odd last row reuses the last
    // of them, and a lone row, which has none, is packed grey.
    const uint32_t chromaRows = w.height / 2;
    const bool any = w.width && w.height;
    GuardedBuffer yBuf(any ? size_t(w.height - 1) * yStride + w.width : 0);
    GuardedBuffer uBuf(any && chromaRows ? size_t(chromaRows - 1) * uvStride + w.width / 2 : 0);
    const std::vector<uint8_t> grey(w.width / 2 + 1, 0x80);
    GuardedBuffer vBuf(uBuf.size());
    const size_t dstSize = any ? size_t(w.height - 1) * pitch + rowBytes : 0;
    GuardedBuffer dst(dstSize, kCanary);
    ASSERT_TRUE(yBuf.ok() && uBuf.ok() && vBuf.ok() && dst.ok());
    const unsigned seed = w.width * 1000 + w.height;
    std::mt19937 rng(seed);
    for (GuardedBuffer *b : {&yBuf, &uBuf, &vBuf})
        for (size_t i = 0; i < b->size(); ++i) b->data()[i] = uint8_t(rng());

    packer.fn(yBuf.data(), yStride, uBuf.data(), vBuf.data(), uvStride, dst.data(), pitch, w.width,
              w.height);

    for (uint32_t r = 0; r < w.height && any; ++r) {
        const uint8_t *row = dst.data() + size_t(r) * pitch;
        for (uint32_t b = 0; b < rowBytes; ++b) {
            const size_t c = chromaRows ? size_t(std::min(r / 2, chromaRows - 1)) * uvStride : 0;
            const uint8_t *u = chromaRows ? uBuf.data() + c : grey.data();
            const uint8_t *v = chromaRows ? vBuf.data() + c : grey.data();
            const uint8_t e = ExpectedByte(yBuf.data() + size_t(r) * yStride, u, v, w.width, b);
            ASSERT_EQ(e, row[b]) << packer.name << " " << w.name << " seed " << seed << ": row "
                                 << r << " byte " << b;
        }
        for (int32_t b = int32_t(rowBytes); b < pitch && r + 1 < w.height; ++b)
            ASSERT_EQ(kCanary, row[b]) << packer.name << " " << w.name << ": row " << r
                                       << " padding byte " << b << " overwritten";
    }
}

const Walk kWalks[] = {
    {"W16H2", 16, 2, 0, 0, 16},    {"W32H4Padded", 32, 4, 32, 32, 8}, {"W48H6", 48, 6, 0, 0, 0},
    {"W20H2", 20, 2, 4, 2, 6},     {"W17H3", 17, 3, 0, 0, 2},         {"W33H5", 33, 5, 7, 3, 5},
    {"W2H1", 2, 1, 0, 0, 0},       {"W1H1", 1, 1, 0, 0, 0},           {"W3H2", 3, 2, 1, 1, 1},
    {"W16H1", 16, 1, 0, 0, 0},     {"W0H4", 0, 4, 0, 0, 0},           {"W16H0", 16, 0, 0, 0, 0},
    {"W100H7", 100, 7, 12, 6, 24},
};

INSTANTIATE_TEST_SUITE_P(Sizes, UyvyWalk,
                         testing::Combine(testing::ValuesIn(kPackers), testing::ValuesIn(kWalks)),
                         [](const testing::TestParamInfo<std::tuple<Packer, Walk>> &p) {
                             return std::string(std::get<0>(p.param).name) + "_" +
                                    std::get<1>(p.param).name;
                         });

}  // namespace
