// Area-average downscaling: each output pixel is the mean of the source area
// it covers, the pixels at the edges of that area weighted by the part of
// them inside it (a box filter sized to the ratio, any ratio). 8-bit planes
// and 32-bit XRGB pictures. Separable: the source rows of an output row are
// summed into one row of column sums, then each output pixel sums its
// columns. The *_c kernels are the reference; the vector levels match them
// bit for bit, as all of it is integer arithmetic that cannot overflow.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace kestra {

// Each output's weights sum to exactly 1 << kAreaWeightBits.
constexpr int kAreaWeightBits = 14;
// Column sums keep this many bits below a sample's unit: 255 << 7 at most,
// a signed 16-bit value, so that both passes multiply 16-bit pairs into 32 bits.
constexpr int kAreaSumFraction = 7;

// One axis of a downscale: output i takes count[i] inputs from first[i], the
// k-th weighted by weights[i * taps + k]; the weights from count[i] to taps
// are 0.
struct AreaAxis {
    const int32_t *first;
    const int32_t *count;
    const int16_t *weights;
    int32_t taps;  // the largest count, rounded up to a multiple of 8
};

// The column sums of one output row: rows top, top + stride, ... (count of
// them, with weights), each column (sum + 64) >> kAreaSumFraction.
using AreaColumnsFn = void (*)(const uint8_t *top, ptrdiff_t stride, const int16_t *weights,
                               int32_t count, int16_t *sums, int32_t width);
// One output row of `width` pixels from column sums, each (its weighted sum
// + 2^20) >> 21. The sums row is padded: a kernel may read `taps` sums past
// any first[x] (4 x taps for XRGB, whose sums interleave the 4 channels).
using AreaRowFn = void (*)(const int16_t *sums, const AreaAxis &axis, uint8_t *out, int32_t width);
using AreaXrgbRowFn = void (*)(const int16_t *sums, const AreaAxis &axis, uint32_t *out,
                               int32_t width);

struct AreaKernels {
    AreaColumnsFn columns;
    AreaRowFn row;
    AreaXrgbRowFn xrgbRow;
};

void area_columns_c(const uint8_t *top, ptrdiff_t stride, const int16_t *weights, int32_t count,
                    int16_t *sums, int32_t width);
// Columns [from, width): the vector levels' columns past their last step.
void area_columns_from_c(const uint8_t *top, ptrdiff_t stride, const int16_t *weights,
                         int32_t count, int16_t *sums, int32_t from, int32_t width);
void area_row_c(const int16_t *sums, const AreaAxis &axis, uint8_t *out, int32_t width);
// Pixels [from, width) of a row.
void area_row_from_c(const int16_t *sums, const AreaAxis &axis, uint8_t *out, int32_t from,
                     int32_t width);
void area_xrgb_row_c(const int16_t *sums, const AreaAxis &axis, uint32_t *out, int32_t width);

// One downscale's plan: the weights of both axes and the row of column sums,
// made by Plan and kept while the sizes stay, so that frames allocate nothing.
class AreaScaler {
public:
    // Shrinks srcWidth x srcHeight to dstWidth x dstHeight (each at least 1
    // and at most the source's), 1 or 4 bytes a pixel; nothing to do when
    // planned for those already. False, leaving nothing planned, for other
    // sizes or when memory runs out.
    bool Plan(int32_t srcWidth, int32_t srcHeight, int32_t dstWidth, int32_t dstHeight,
              int32_t bytesPerPixel);
    // Strides are bytes between rows; the planned bytes a pixel say which
    // of the two applies.
    void Plane(const uint8_t *src, ptrdiff_t srcStride, uint8_t *dst, ptrdiff_t dstStride,
               const AreaKernels &kernels);
    void Xrgb(const uint32_t *src, ptrdiff_t srcStride, uint32_t *dst, ptrdiff_t dstStride,
              const AreaKernels &kernels);

private:
    struct Axis {
        std::unique_ptr<int32_t[]> first, count;
        std::unique_ptr<int16_t[]> weights;
        int32_t taps = 0;
        int32_t from = 0, to = 0;
        bool Plan(int32_t inputs, int32_t outputs);
        AreaAxis View() const { return {first.get(), count.get(), weights.get(), taps}; }
    };
    template <class Out, class RowFn>
    void Run(const uint8_t *src, ptrdiff_t srcStride, Out *dst, ptrdiff_t dstStride,
             AreaColumnsFn columns, RowFn row);

    Axis across, down;
    std::unique_ptr<int16_t[]> sums;
    int32_t bytes = 0;
};

}  // namespace kestra
