// The area-average downscale: its plan and its C kernels.
#include "convert/area_scale.h"

#include <algorithm>
#include <new>

namespace kestra {

namespace {

constexpr int64_t kWeightOne = int64_t{1} << kAreaWeightBits;
constexpr int32_t kSumRounding = 1 << (kAreaSumFraction - 1);
constexpr int kRowShift = kAreaWeightBits + kAreaSumFraction;
constexpr int32_t kRowRounding = 1 << (kRowShift - 1);
static_assert((int64_t{255} << kAreaSumFraction) <= INT16_MAX, "column sums are signed words");
static_assert(kWeightOne <= INT16_MAX, "a weight is a signed word");
static_assert((int64_t{255} << kAreaSumFraction) * kWeightOne + kRowRounding <= INT32_MAX,
              "a row's sums stay within 32 bits");

// Blocks of columns summed over the rows at a time, in the L1 cache.
constexpr int32_t kColumnBlock = 64;

int32_t WeightedSum(const int16_t *sums, const int16_t *weights, int32_t count, int32_t step) {
    int32_t sum = 0;
    for (int32_t k = 0; k < count; ++k) sum += int32_t{weights[k]} * sums[k * step];
    return sum;
}

}  // namespace

void area_columns_from_c(const uint8_t *top, ptrdiff_t stride, const int16_t *weights,
                         int32_t count, int16_t *sums, int32_t from, int32_t width) {
    for (int32_t i = from; i < width; i += kColumnBlock) {
        const int32_t n = std::min(kColumnBlock, width - i);
        int32_t acc[kColumnBlock] = {};
        for (int32_t k = 0; k < count; ++k) {
            const uint8_t *row = top + k * stride + i;
            for (int32_t j = 0; j < n; ++j) acc[j] += int32_t{weights[k]} * row[j];
        }
        for (int32_t j = 0; j < n; ++j)
            sums[i + j] = static_cast<int16_t>((acc[j] + kSumRounding) >> kAreaSumFraction);
    }
}

void area_columns_c(const uint8_t *top, ptrdiff_t stride, const int16_t *weights, int32_t count,
                    int16_t *sums, int32_t width) {
    area_columns_from_c(top, stride, weights, count, sums, 0, width);
}

void area_row_from_c(const int16_t *sums, const AreaAxis &axis, uint8_t *out, int32_t from,
                     int32_t width) {
    for (int32_t x = from; x < width; ++x) {
        const int32_t sum = WeightedSum(sums + axis.first[x],
                                        axis.weights + ptrdiff_t(x) * axis.taps, axis.count[x], 1);
        out[x] = static_cast<uint8_t>((sum + kRowRounding) >> kRowShift);
    }
}

void area_row_c(const int16_t *sums, const AreaAxis &axis, uint8_t *out, int32_t width) {
    area_row_from_c(sums, axis, out, 0, width);
}

void area_xrgb_row_c(const int16_t *sums, const AreaAxis &axis, uint32_t *out, int32_t width) {
    for (int32_t x = 0; x < width; ++x) {
        const int16_t *s = sums + 4 * ptrdiff_t(axis.first[x]);
        const int16_t *w = axis.weights + ptrdiff_t(x) * axis.taps;
        uint32_t pixel = 0;
        for (int c = 0; c < 4; ++c) {
            const int32_t sum = WeightedSum(s + c, w, axis.count[x], 4);
            pixel |= static_cast<uint32_t>((sum + kRowRounding) >> kRowShift) << (8 * c);
        }
        out[x] = pixel;
    }
}

// Output x covers inputs [x m / n, (x + 1) m / n) of an axis of m inputs and
// n outputs: in units of 1 / n of an input, [x m, (x + 1) m), where input i
// is [i n, (i + 1) n). Each weight is the step of the rounded running share
// of that span, so that a pixel's weights sum to exactly kWeightOne.
bool AreaScaler::Axis::Plan(int32_t inputs, int32_t outputs) {
    if (from == inputs && to == outputs) return true;
    from = to = 0;
    if (outputs < 1 || outputs > inputs) return false;
    const int64_t m = inputs, n = outputs;
    int64_t most = 0;
    for (int64_t x = 0; x < n; ++x) most = std::max(most, ((x + 1) * m - 1) / n - x * m / n + 1);
    const int64_t padded = (most + 7) / 8 * 8;
    first.reset(new (std::nothrow) int32_t[size_t(n)]);
    count.reset(new (std::nothrow) int32_t[size_t(n)]);
    weights.reset(new (std::nothrow) int16_t[size_t(n * padded)]());
    if (!first || !count || !weights) return false;
    for (int64_t x = 0; x < n; ++x) {
        const int64_t lo = x * m, hi = lo + m, start = lo / n, last = (hi - 1) / n;
        first[x] = static_cast<int32_t>(start);
        count[x] = static_cast<int32_t>(last - start + 1);
        int64_t before = 0;
        for (int64_t i = start; i <= last; ++i) {
            const int64_t covered = std::min((i + 1) * n, hi) - lo;
            const int64_t share = (2 * covered * kWeightOne + m) / (2 * m);
            weights[size_t(x * padded + i - start)] = static_cast<int16_t>(share - before);
            before = share;
        }
    }
    taps = static_cast<int32_t>(padded);
    from = inputs;
    to = outputs;
    return true;
}

bool AreaScaler::Plan(int32_t srcWidth, int32_t srcHeight, int32_t dstWidth, int32_t dstHeight,
                      int32_t bytesPerPixel) {
    if (bytes == bytesPerPixel && across.from == srcWidth && across.to == dstWidth &&
        down.from == srcHeight && down.to == dstHeight)
        return true;
    bytes = 0;
    if (bytesPerPixel != 1 && bytesPerPixel != 4) return false;
    if (!across.Plan(srcWidth, dstWidth) || !down.Plan(srcHeight, dstHeight)) return false;
    // Zeroed: the row kernels read the padding, with weights of 0.
    sums.reset(new (std::nothrow)
                   int16_t[size_t(bytesPerPixel) * (size_t(srcWidth) + size_t(across.taps))]());
    if (!sums) return false;
    bytes = bytesPerPixel;
    return true;
}

template <class Out, class RowFn>
void AreaScaler::Run(const uint8_t *src, ptrdiff_t srcStride, Out *dst, ptrdiff_t dstStride,
                     AreaColumnsFn columns, RowFn row) {
    const AreaAxis x = across.View();
    uint8_t *out = reinterpret_cast<uint8_t *>(dst);
    for (int32_t r = 0; r < down.to; ++r) {
        columns(src + down.first[r] * srcStride, srcStride,
                down.weights.get() + ptrdiff_t(r) * down.taps, down.count[r], sums.get(),
                bytes * across.from);
        row(sums.get(), x, reinterpret_cast<Out *>(out + r * dstStride), across.to);
    }
}

void AreaScaler::Plane(const uint8_t *src, ptrdiff_t srcStride, uint8_t *dst, ptrdiff_t dstStride,
                       const AreaKernels &kernels) {
    if (bytes == 1) Run(src, srcStride, dst, dstStride, kernels.columns, kernels.row);
}

void AreaScaler::Xrgb(const uint32_t *src, ptrdiff_t srcStride, uint32_t *dst, ptrdiff_t dstStride,
                      const AreaKernels &kernels) {
    if (bytes == 4)
        Run(reinterpret_cast<const uint8_t *>(src), srcStride, dst, dstStride, kernels.columns,
            kernels.xrgbRow);
}

}  // namespace kestra
