// The area downscale's vector kernels, written once over a register type V
// (vectors.h). Both passes multiply 16-bit pairs into 32-bit sums (madd) and
// add: integer sums in any order equal the C kernels' sums, and the shifts and
// saturating packs round and narrow them as the C kernels do (no sum leaves
// the range the packs keep, area_scale.cpp). The rows are summed V::kBytes
// columns at a time, the C kernel taking the columns left. A plane's output
// pixels are 128-bit work at every level, as a pixel's 8 taps fill one
// register; an XRGB pixel's 4 channels take 2 taps a step, 4 at AVX2.
#pragma once

#include <immintrin.h>

#include <cstdint>
#include <cstring>

#include "convert/area_scale.h"
#include "convert/vectors.h"

namespace kestra {
namespace {

constexpr int kAreaRowShift = kAreaWeightBits + kAreaSumFraction;

// Lines ahead of a column step, in the rows after an output row's: about
// the next output row's. Each of those rows is a short stream of its own,
// which the prefetchers do not find in time; asked for, the steps run about
// as fast with cold caches as with warm ones (bench/notes.md). A prefetch
// past the plane's end does not fault.
constexpr uintptr_t kAreaPrefetchBytes = 64;

inline void PrefetchNextRows(const uint8_t *top, ptrdiff_t stride, int32_t count, int32_t i) {
    const uintptr_t at = reinterpret_cast<uintptr_t>(top) + uintptr_t(i) + kAreaPrefetchBytes;
    for (int32_t k = count; k < 2 * count; ++k)
        __builtin_prefetch(reinterpret_cast<const void *>(at + uintptr_t(k * stride)));
}

// Two rows at a time, the row pair's weights as one 32-bit lane; an odd last
// row is paired with itself and the weight of 0 after it. The sums of a step
// stay in registers over all the rows.
template <class V>
void AreaColumns(const uint8_t *top, ptrdiff_t stride, const int16_t *weights, int32_t count,
                 int16_t *sums, int32_t width) {
    using T = typename V::T;
    const int32_t steps = width / V::kBytes * V::kBytes;
    const T rounding = V::Set32(1 << (kAreaSumFraction - 1));
    for (int32_t i = 0; i < steps; i += V::kBytes) {
        PrefetchNextRows(top, stride, count, i);
        T acc[4] = {V::Zero(), V::Zero(), V::Zero(), V::Zero()};
        for (int32_t k = 0; k < count; k += 2) {
            const uint8_t *r0 = top + k * stride + i;
            const T a = V::Load(r0), b = V::Load(k + 1 < count ? r0 + stride : r0);
            const T pair = V::Set32(static_cast<int32_t>(uint32_t(uint16_t(weights[k])) |
                                                         uint32_t(uint16_t(weights[k + 1])) << 16));
            const T lo = V::UnpackLo8(a, b), hi = V::UnpackHi8(a, b);
            acc[0] = V::Add32(acc[0], V::MulAddPairs(V::UnpackLo8(lo, V::Zero()), pair));
            acc[1] = V::Add32(acc[1], V::MulAddPairs(V::UnpackHi8(lo, V::Zero()), pair));
            acc[2] = V::Add32(acc[2], V::MulAddPairs(V::UnpackLo8(hi, V::Zero()), pair));
            acc[3] = V::Add32(acc[3], V::MulAddPairs(V::UnpackHi8(hi, V::Zero()), pair));
        }
        for (T &a : acc) a = V::ShiftRightSigned32(V::Add32(a, rounding), kAreaSumFraction);
        V::StoreUnpacked(reinterpret_cast<uint8_t *>(sums + i), V::PackSigned32(acc[0], acc[1]),
                         V::PackSigned32(acc[2], acc[3]));
    }
    area_columns_from_c(top, stride, weights, count, sums, steps, width);
}

// One output pixel's weighted sums as four 32-bit parts, 8 taps a multiply.
inline __m128i AreaTaps(const int16_t *sums, const int16_t *weights, int32_t taps) {
    __m128i acc = _mm_setzero_si128();
    for (int32_t k = 0; k < taps; k += 8) {
        const __m128i s = _mm_loadu_si128(reinterpret_cast<const __m128i *>(sums + k));
        const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i *>(weights + k));
        acc = _mm_add_epi32(acc, _mm_madd_epi16(s, w));
    }
    return acc;
}

// The parts of four pixels' sums added up: one pixel's sum a lane.
inline __m128i AddParts(__m128i a, __m128i b, __m128i c, __m128i d) {
    const __m128i ab = _mm_add_epi32(_mm_unpacklo_epi32(a, b), _mm_unpackhi_epi32(a, b));
    const __m128i cd = _mm_add_epi32(_mm_unpacklo_epi32(c, d), _mm_unpackhi_epi32(c, d));
    return _mm_add_epi32(_mm_unpacklo_epi64(ab, cd), _mm_unpackhi_epi64(ab, cd));
}

// Four sums to the low four bytes, rounded.
inline __m128i AreaBytes(__m128i sum) {
    const __m128i rounded =
        _mm_srai_epi32(_mm_add_epi32(sum, _mm_set1_epi32(1 << (kAreaRowShift - 1))), kAreaRowShift);
    const __m128i words = _mm_packs_epi32(rounded, rounded);
    return _mm_packus_epi16(words, words);
}

inline void AreaRow(const int16_t *sums, const AreaAxis &axis, uint8_t *out, int32_t width) {
    const int32_t steps = width / 4 * 4;
    for (int32_t x = 0; x < steps; x += 4) {
        __m128i parts[4];
        for (int32_t j = 0; j < 4; ++j) {
            parts[j] = AreaTaps(sums + axis.first[x + j],
                                axis.weights + ptrdiff_t(x + j) * axis.taps, axis.taps);
        }
        const int32_t bytes =
            _mm_cvtsi128_si32(AreaBytes(AddParts(parts[0], parts[1], parts[2], parts[3])));
        std::memcpy(out + x, &bytes, 4);
    }
    area_row_from_c(sums, axis, out, steps, width);
}

// XRGB sums interleave the channels: two taps of a pixel's 4 channels are put
// channel by channel (B0 B1 G0 G1 ...) and multiplied by the taps' weight pair.
inline void AreaXrgbRow(const int16_t *sums, const AreaAxis &axis, uint32_t *out, int32_t width) {
    for (int32_t x = 0; x < width; ++x) {
        const int16_t *s = sums + 4 * ptrdiff_t(axis.first[x]);
        const int16_t *w = axis.weights + ptrdiff_t(x) * axis.taps;
        __m128i acc = _mm_setzero_si128();
        for (int32_t k = 0; k < axis.taps; k += 2) {
            const __m128i two = _mm_loadu_si128(reinterpret_cast<const __m128i *>(s + 4 * k));
            int32_t pair;
            std::memcpy(&pair, w + k, 4);
            const __m128i byChannel = _mm_unpacklo_epi16(two, _mm_unpackhi_epi64(two, two));
            acc = _mm_add_epi32(acc, _mm_madd_epi16(byChannel, _mm_set1_epi32(pair)));
        }
        out[x] = static_cast<uint32_t>(_mm_cvtsi128_si32(AreaBytes(acc)));
    }
}

template <class V>
constexpr AreaXrgbRowFn kAreaXrgbRow = AreaXrgbRow;

#if defined(__AVX2__)
// Four taps a step: each 128-bit lane takes two of them, as above, and the
// lanes' sums are added at the end.
inline void AreaXrgbRowAvx2(const int16_t *sums, const AreaAxis &axis, uint32_t *out,
                            int32_t width) {
    const __m256i lanePairs = _mm256_setr_epi32(0, 0, 0, 0, 1, 1, 1, 1);
    for (int32_t x = 0; x < width; ++x) {
        const int16_t *s = sums + 4 * ptrdiff_t(axis.first[x]);
        const int16_t *w = axis.weights + ptrdiff_t(x) * axis.taps;
        __m256i acc = _mm256_setzero_si256();
        for (int32_t k = 0; k < axis.taps; k += 4) {
            const __m256i four = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(s + 4 * k));
            const __m256i byChannel =
                _mm256_unpacklo_epi16(four, _mm256_unpackhi_epi64(four, four));
            const __m256i pairs = _mm256_permutevar8x32_epi32(
                _mm256_castsi128_si256(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(w + k))),
                lanePairs);
            acc = _mm256_add_epi32(acc, _mm256_madd_epi16(byChannel, pairs));
        }
        const __m128i sum =
            _mm_add_epi32(_mm256_castsi256_si128(acc), _mm256_extracti128_si256(acc, 1));
        out[x] = static_cast<uint32_t>(_mm_cvtsi128_si32(AreaBytes(sum)));
    }
}

template <>
constexpr AreaXrgbRowFn kAreaXrgbRow<Vec256> = AreaXrgbRowAvx2;
#endif

template <class V>
constexpr AreaKernels kAreaKernels = {AreaColumns<V>, AreaRow, kAreaXrgbRow<V>};

}  // namespace
}  // namespace kestra
