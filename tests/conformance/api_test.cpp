// The handle model every host relies on: a null handle is refused with 1 and
// nothing happens; the set-up pair does nothing.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iterator>
#include <string>

#include "kestra/kestra.h"

namespace {

struct NullCase {
    const char *name;
    std::function<KestraResult()> call;
};

void KESTRA_CALLBACK NoDisplayCallback(int32_t, HDC__ *, int32_t, int32_t, int32_t, int32_t,
                                       int32_t, int32_t, int32_t, void *) {}
int32_t KESTRA_CALLBACK NoWriteCallback(uint8_t *, uint32_t, void *) { return 0; }

const NullCase kNullCases[] = {
    {"DWCloseDraw", [] { return KESTRA_DWCloseDraw(nullptr); }},
    {"DWSetHwnd", [] { return KESTRA_DWSetHwnd(nullptr, nullptr); }},
    {"DWSetIndex", [] { return KESTRA_DWSetIndex(nullptr, 3); }},
    {"DWSetDisplayCB", [] { return KESTRA_DWSetDisplayCB(nullptr, nullptr, NoDisplayCallback); }},
    {"DWInitDraw", [] { return KESTRA_DWInitDraw(nullptr, 64, 48); }},
    {"DWFreeDraw", [] { return KESTRA_DWFreeDraw(nullptr); }},
    {"DWAdjustedWnd", [] { return KESTRA_DWAdjustedWnd(nullptr); }},
    {"DWDrawYUV420",
     [] {
         static const uint8_t plane[16] = {};
         return KESTRA_DWDrawYUV420(nullptr, plane, 4, plane, plane, 2, 0, 0, 0);
     }},
    {"DWSetOSDText", [] { return KESTRA_DWSetOSDText(nullptr, 0, "x", 0, 0, 0, 0); }},
    {"DWSetPlayRect", [] { return KESTRA_DWSetPlayRect(nullptr, nullptr); }},
    {"DWSetMirrorMode", [] { return KESTRA_DWSetMirrorMode(nullptr, 1); }},
    {"DWSetColorSpace", [] { return KESTRA_DWSetColorSpace(nullptr, 1, 1); }},
    {"DWSetScaling", [] { return KESTRA_DWSetScaling(nullptr, 1); }},
    {"WVCloseWave", [] { return KESTRA_WVCloseWave(nullptr); }},
    {"WVSetWaveFormat", [] { return KESTRA_WVSetWaveFormat(nullptr, nullptr, 1024); }},
    {"WVSetWriteWaveCB", [] { return KESTRA_WVSetWriteWaveCB(nullptr, nullptr, NoWriteCallback); }},
    {"WVPlayWave", [] { return KESTRA_WVPlayWave(nullptr); }},
    {"WVStopWave", [] { return KESTRA_WVStopWave(nullptr); }},
    {"WVPauseWave", [] { return KESTRA_WVPauseWave(nullptr, 1); }},
    {"WVSetVolume", [] { return KESTRA_WVSetVolume(nullptr, 50); }},
};

class NullHandleTest : public ::testing::TestWithParam<NullCase> {};

TEST_P(NullHandleTest, IsRefusedWithOne) {
    EXPECT_EQ(GetParam().call(), 1) << "KESTRA_" << GetParam().name << "(NULL, ...)";
}

INSTANTIATE_TEST_SUITE_P(Exports, NullHandleTest, ::testing::ValuesIn(kNullCases),
                         [](const ::testing::TestParamInfo<NullCase> &p) {
                             return std::string(p.param.name);
                         });

TEST(SetUpPair, InitializeIsZeroUnInitializeIsOne) {
    EXPECT_EQ(KESTRA_Initialize(), 0);
    EXPECT_EQ(KESTRA_UnInitialize(), 1);
    EXPECT_EQ(KESTRA_Initialize(), 0) << "after UnInitialize: still nothing torn down";
}

// 2x2 white over black, one chroma sample at the neutral point.
const uint8_t kY[4] = {235, 235, 16, 16}, kU[1] = {128}, kV[1] = {128};

TEST(Converter, ExportedConverterWritesBgrTopDown) {
    uint8_t out[2 * 2 * 3];
    std::fill(std::begin(out), std::end(out), uint8_t(0x5A));
    ASSERT_EQ(KESTRA_yv12_to_rgb24_c(out, 2, kY, kU, kV, 2, 1, 2, 2), 0);
    for (int i = 0; i < 6; ++i) EXPECT_GE(out[i], 250) << "top row byte " << i;
    for (int i = 6; i < 12; ++i) EXPECT_LE(out[i], 5) << "bottom row byte " << i;
    ASSERT_EQ(KESTRA_yv12_to_rgb24_c(out, 2, kY, kU, kV, 2, 1, 2, -2), 0);
    for (int i = 0; i < 6; ++i) EXPECT_LE(out[i], 5) << "flipped top row byte " << i;
}

// What the exported converter refuses: 0, and nothing read or written.
TEST(Converter, ExportedConverterRefusesWithoutTouching) {
    uint8_t out[2 * 2 * 3];
    const struct {
        const char *name;
        uint8_t *dst;
        const uint8_t *y, *u, *v;
        int32_t dstStride;
    } kRefusals[] = {
        {"no destination", nullptr, kY, kU, kV, 2},     {"no Y plane", out, nullptr, kU, kV, 2},
        {"no U plane", out, kY, nullptr, kV, 2},        {"no V plane", out, kY, kU, nullptr, 2},
        {"rows 3 GiB apart", out, kY, kU, kV, 1 << 30},
    };
    for (const auto &c : kRefusals) {
        std::fill(std::begin(out), std::end(out), uint8_t(0x5A));
        EXPECT_EQ(KESTRA_yv12_to_rgb24_c(c.dst, c.dstStride, c.y, c.u, c.v, 2, 1, 2, 2), 0)
            << c.name;
        EXPECT_EQ(std::count(std::begin(out), std::end(out), uint8_t(0x5A)), 12) << c.name;
    }
}

// The colour extension: the default is the contract's converter, full range
// takes Y 235 as 235 rather than white, and values it does not know are
// refused with 2, writing nothing.
TEST(Converter, ColourExtensionConvertsInTheGivenRange) {
    uint8_t contract[12], out[12];
    ASSERT_EQ(KESTRA_yv12_to_rgb24_c(contract, 2, kY, kU, kV, 2, 1, 2, 2), 0);
    ASSERT_EQ(KESTRA_yv12_to_rgb24_cs(out, 2, kY, kU, kV, 2, 1, 2, 2, 0, 0), 0);
    EXPECT_TRUE(std::equal(std::begin(out), std::end(out), std::begin(contract)));
    ASSERT_EQ(KESTRA_yv12_to_rgb24_cs(out, 2, kY, kU, kV, 2, 1, 2, 2, 1, 1), 0);
    EXPECT_EQ(out[0], 235);
    EXPECT_EQ(out[6], 16);
    std::fill(std::begin(out), std::end(out), uint8_t(0x5A));
    EXPECT_EQ(KESTRA_yv12_to_rgb24_cs(out, 2, kY, kU, kV, 2, 1, 2, 2, 2, 0), 2);
    EXPECT_EQ(KESTRA_yv12_to_rgb24_cs(out, 2, kY, kU, kV, 2, 1, 2, 2, 0, -1), 2);
    EXPECT_EQ(std::count(std::begin(out), std::end(out), uint8_t(0x5A)), 12);
}

}  // namespace
