// The area downscale: the C kernels within 1 of the area average worked in
// doubles, and every vector level bit for bit with them at every source
// width of a range, planes and pictures against guard pages.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "convert/area_scale.h"
#include "convert/dispatch.h"
#include "support/guarded_buffer.h"

namespace {

using kestra::CpuLevel;
using kestra_test::GuardedBuffer;

// Source widths from 1 to maxWidth, each shrunk by the ratio (at least to 1),
// and one height likewise; then one frame of `large` size.
struct AreaCase {
    const char *name;
    int num, den;  // the ratio, output over input
    int bytes;     // a pixel's: plane or XRGB
    int maxWidth, height;
};

const AreaCase kCases[] = {
    {"half", 1, 2, 1, 80, 9},
    {"third", 1, 3, 1, 80, 10},
    {"two fifths", 2, 5, 1, 80, 11},
    {"a sixth", 1, 6, 1, 120, 25},
    {"1920 to 316", 316, 1920, 1, 1920, 1080},
    {"same size", 1, 1, 1, 40, 3},
    {"xrgb half", 1, 2, 4, 40, 9},
    {"xrgb a sixth", 1, 6, 4, 70, 19},
    {"xrgb 1920 to 316", 316, 1920, 4, 1920, 1080},
};

void PrintTo(const AreaCase &c, std::ostream *os) { *os << c.name; }

uint32_t TestSeed() {
    const char *fixed = std::getenv("KESTRA_TEST_SEED");
    return fixed != nullptr ? static_cast<uint32_t>(std::strtoul(fixed, nullptr, 10))
                            : std::random_device{}();
}

// The area average of channel c at (x, y), from overlaps worked in doubles.
struct DoubleAverage {
    const uint8_t *src;
    int srcW, srcH, dstW, dstH, bytes;
    size_t stride;

    static double Overlap(int i, int x, int inputs, int outputs) {
        const double lo = double(x) * inputs / outputs, hi = double(x + 1) * inputs / outputs;
        return std::max(0.0, std::min(hi, i + 1.0) - std::max(lo, double(i)));
    }
    double At(int x, int y, int c) const {
        double sum = 0;
        const int i0 = int(int64_t(x) * srcW / dstW), j0 = int(int64_t(y) * srcH / dstH);
        for (int j = j0; j < srcH && j * int64_t(dstH) < int64_t(y + 1) * srcH; ++j)
            for (int i = i0; i < srcW && i * int64_t(dstW) < int64_t(x + 1) * srcW; ++i)
                sum += Overlap(j, y, srcH, dstH) * Overlap(i, x, srcW, dstW) *
                       src[size_t(j) * stride + size_t(i) * bytes + c];
        return sum * dstW / srcW * dstH / srcH;
    }
};

class AreaScale : public testing::TestWithParam<AreaCase> {
protected:
    void SetUp() override {
        const uint32_t seed = TestSeed();
        rng_.seed(seed);
        trace_.emplace(__FILE__, __LINE__,
                       "seed " + std::to_string(seed) + " (set KESTRA_TEST_SEED to replay)");
    }
    // dst (canary-filled, against a guard page) from src at one level.
    void Scale(const AreaCase &c, CpuLevel level, const GuardedBuffer &src, int srcW, int srcH,
               size_t srcStride, GuardedBuffer &dst, int dstW, int dstH) {
        kestra::AreaScaler scaler;
        ASSERT_TRUE(scaler.Plan(srcW, srcH, dstW, dstH, c.bytes));
        const kestra::AreaKernels &k = kestra::ConverterTableFor(level)->area;
        const ptrdiff_t dstStride = ptrdiff_t(dstW) * c.bytes;
        if (c.bytes == 1) {
            scaler.Plane(src.data(), ptrdiff_t(srcStride), dst.data(), dstStride, k);
        } else {
            scaler.Xrgb(reinterpret_cast<const uint32_t *>(src.data()), ptrdiff_t(srcStride),
                        reinterpret_cast<uint32_t *>(dst.data()), dstStride, k);
        }
    }
    std::mt19937 rng_;
    std::optional<testing::ScopedTrace> trace_;
};

TEST_P(AreaScale, ReferenceIsTheAreaAverageAndEveryLevelMatchesIt) {
    const AreaCase &c = GetParam();
    const bool one = c.maxWidth >= 1000;  // a frame of its own size only
    for (int srcW = one ? c.maxWidth : 1; srcW <= c.maxWidth; ++srcW) {
        const int dstW = std::max(1, srcW * c.num / c.den);
        const int dstH = std::max(1, c.height * c.num / c.den);
        // Padded rows now and then, the last row ending at the guard page.
        const size_t stride = size_t(srcW) * c.bytes + (srcW % 3 == 0 ? 5 : 0) * c.bytes;
        const size_t dstBytes = size_t(dstW) * dstH * c.bytes;
        GuardedBuffer src((c.height - 1) * stride + size_t(srcW) * c.bytes);
        for (size_t i = 0; i < src.size(); ++i)
            src.data()[i] = rng_() % 4 ? uint8_t(rng_()) : (rng_() % 2 ? 0 : 255);
        GuardedBuffer expected(dstBytes, 0xA5);
        ASSERT_TRUE(src.ok() && expected.ok());
        Scale(c, CpuLevel::C, src, srcW, c.height, stride, expected, dstW, dstH);
        const DoubleAverage average{src.data(), srcW, c.height, dstW, dstH, c.bytes, stride};
        for (size_t i = 0; i < dstBytes; ++i) {
            const int p = int(i) / c.bytes;
            const double want = average.At(p % dstW, p / dstW, int(i) % c.bytes);
            ASSERT_LE(std::abs(expected.data()[i] - want), 1.0)
                << c.name << " width " << srcW << ": pixel " << p % dstW << "," << p / dstW
                << " byte " << i % c.bytes << " got " << int(expected.data()[i]);
        }
        for (int l = 1; l < kestra::kCpuLevelCount; ++l) {
            const CpuLevel level = static_cast<CpuLevel>(l);
            if (kestra::ConverterTableFor(level) == nullptr) break;
            GuardedBuffer actual(dstBytes, 0x5A);
            Scale(c, level, src, srcW, c.height, stride, actual, dstW, dstH);
            const auto diff =
                std::mismatch(expected.data(), expected.data() + dstBytes, actual.data());
            ASSERT_EQ(diff.first, expected.data() + dstBytes)
                << c.name << " width " << srcW << " at " << kestra::CpuLevelName(level) << ": byte "
                << diff.first - expected.data() << " expected " << int(*diff.first) << " actual "
                << int(*diff.second);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Ratios, AreaScale, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<AreaCase> &p) {
                             std::string name = p.param.name;
                             std::replace(name.begin(), name.end(), ' ', '_');
                             return name;
                         });

}  // namespace
