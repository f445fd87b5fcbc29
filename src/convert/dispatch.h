// The converters the presenters and the export call: the fastest
// implementation that matches the scalar reference bit for bit.
#pragma once

#include <string>

#include "convert/area_scale.h"
#include "convert/convert.h"

namespace kestra {

// A table entry: one level's converter, called as a ConvertFn, and the
// thresholds it is handed on every call.
struct LevelConverter {
    LevelConvertFn fn;
    OutputThresholds thresholds;

    void operator()(const uint8_t *y, int32_t yStride, const uint8_t *u, const uint8_t *v,
                    int32_t uvStride, uint8_t *dst, int32_t dstStride, int32_t width,
                    int32_t height, const colour::Record &colour) const {
        fn(y, yStride, u, v, uvStride, dst, dstStride, width, height, colour, thresholds);
    }
};

struct ConverterTable {
    LevelConverter rgb24, rgb565, uyvy;
    LevelConverter rgb24Full;  // RGB24 with the odd edges (convert.h)
    WidenFn rgb24ToXrgb;
    AreaKernels area;  // the area downscale's (area_scale.h)
};

const ConverterTable &Converters();

// Instruction-set levels in upgrade order. Converters() starts at the highest
// one the CPU and the build support, capped by the environment variable
// KESTRA_CPU_MASK ("c", "sse2", "ssse3", "avx2" or "avx512": the highest level
// allowed). The avx512 level needs the F, BW, VL and VBMI extensions.
enum class CpuLevel { C = 0, Sse2 = 1, Ssse3 = 2, Avx2 = 3, Avx512 = 4 };
constexpr int kCpuLevelCount = 5;

const char *CpuLevelName(CpuLevel level);
CpuLevel SupportedConverterLevel();
// The highest level the CPU and the build support, before KESTRA_CPU_MASK.
CpuLevel DetectedConverterLevel();
// One line for test and benchmark logs: the levels that run here and the
// ones skipped, with the reason ("converter levels: ran c sse2 ...").
std::string DescribeConverterLevels();
// "cpu: <model>; caches: L1d 48 KiB, L2 1 MiB, L3 32 MiB", from CPUID, so
// that figures from different machines can be told apart.
std::string DescribeCpu();

// The converters of one level (entries without their own code at that level
// take the level below); nullptr above the supported level.
const ConverterTable *ConverterTableFor(CpuLevel level);

// The vector levels, each in its own ISA file.
extern const LevelConvertFn yv12_to_rgb24_sse2, yv12_to_rgb24_ssse3, yv12_to_rgb24_avx2,
    yv12_to_rgb24_avx512;
extern const LevelConvertFn yv12_to_rgb24_full_sse2, yv12_to_rgb24_full_ssse3,
    yv12_to_rgb24_full_avx2, yv12_to_rgb24_full_avx512;
extern const LevelConvertFn yv12_to_rgb565_sse2, yv12_to_rgb565_avx2;
void rgb24_to_xrgb_ssse3(const uint8_t *bgr, uint32_t *xrgb, int32_t width);
extern const LevelConvertFn yv12_to_uyvy_sse2, yv12_to_uyvy_avx2, yv12_to_uyvy_avx512;
extern const AreaKernels area_kernels_sse2, area_kernels_avx2;
// The AVX2 level's streamed UYVY row pair, which the AVX-512 level shares.
RowPair uyvy_stream_pair_avx2;

}  // namespace kestra
