// RGB24 arithmetic on eight 16-bit lanes, shared by the SSE2 and SSSE3 files
// (internal linkage: each includes its own copy built with its own flags).
//
// Every table entry is step x (i - offset) in 13-bit fixed point. A product
// p = step x d is split into q = floor(p / 8192) (from the high half of
// (d << 3) x step) and r = p - 8192 q (from the low half, 0..8191). The sum
// of a luma and a chroma term is then q1 + q2 + ((r1 + r2) >> 13), exactly
// the arithmetic shift of the 32-bit sum, and the saturating pack to bytes
// is exactly the clamp to 0..255.
#pragma once

#include <emmintrin.h>

#include <cstdint>

#include "convert/simd_walk.h"

namespace kestra {
namespace {

struct Split16 {
    __m128i q;
    __m128i r;
};

inline Split16 SplitProduct(__m128i d, int16_t step) {
    const __m128i k = _mm_set1_epi16(step);
    const __m128i q = _mm_mulhi_epi16(_mm_slli_epi16(d, 3), k);
    const __m128i r = _mm_sub_epi16(_mm_mullo_epi16(d, k), _mm_slli_epi16(q, 13));
    return {q, r};
}

inline Split16 AddSplit(Split16 a, Split16 b) {
    const __m128i r = _mm_add_epi16(a.r, b.r);
    const __m128i q = _mm_add_epi16(_mm_add_epi16(a.q, b.q), _mm_srli_epi16(r, 13));
    return {q, _mm_and_si128(r, _mm_set1_epi16(8191))};
}

// floor((luma + chroma) / 8192) per lane, before the clamp.
inline __m128i Channel(Split16 luma, Split16 chroma) {
    const __m128i r = _mm_add_epi16(luma.r, chroma.r);
    return _mm_add_epi16(_mm_add_epi16(luma.q, chroma.q), _mm_srli_epi16(r, 13));
}

// Chroma terms of eight blocks, each lane duplicated for the block's two
// columns: lo covers pixels 0-7, hi pixels 8-15.
struct Chroma16 {
    Split16 blue[2];
    Split16 green[2];  // already negated: luma minus the green sum
    Split16 red[2];
};

inline Split16 DupLo(Split16 s) {
    return {_mm_unpacklo_epi16(s.q, s.q), _mm_unpacklo_epi16(s.r, s.r)};
}
inline Split16 DupHi(Split16 s) {
    return {_mm_unpackhi_epi16(s.q, s.q), _mm_unpackhi_epi16(s.r, s.r)};
}

inline Chroma16 LoadChroma8(const uint8_t *u, const uint8_t *v) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i bias = _mm_set1_epi16(128);
    const __m128i du = _mm_sub_epi16(
        _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(u)), zero), bias);
    const __m128i dv = _mm_sub_epi16(
        _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(v)), zero), bias);
    const Split16 blue = SplitProduct(du, 16531);
    const Split16 green = AddSplit(SplitProduct(du, -3203), SplitProduct(dv, -6660));
    const Split16 red = SplitProduct(dv, 13074);
    return {{DupLo(blue), DupHi(blue)}, {DupLo(green), DupHi(green)}, {DupLo(red), DupHi(red)}};
}

struct Bgr16 {
    __m128i b, g, r;
};

// Sixteen luma bytes to clamped blue, green and red bytes.
inline Bgr16 ConvertRow16(const uint8_t *yRow, const Chroma16 &c) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i bias = _mm_set1_epi16(16);
    const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i *>(yRow));
    const Split16 lo = SplitProduct(_mm_sub_epi16(_mm_unpacklo_epi8(y, zero), bias), 9535);
    const Split16 hi = SplitProduct(_mm_sub_epi16(_mm_unpackhi_epi8(y, zero), bias), 9535);
    return {_mm_packus_epi16(Channel(lo, c.blue[0]), Channel(hi, c.blue[1])),
            _mm_packus_epi16(Channel(lo, c.green[0]), Channel(hi, c.green[1])),
            _mm_packus_epi16(Channel(lo, c.red[0]), Channel(hi, c.red[1]))};
}

// One row pair, 16 pixels of each row per step; Store writes the 48 bytes.
template <void (*Store)(uint8_t *, const Bgr16 &)>
void PairRows16(const uint8_t *y0, const uint8_t *y1, const uint8_t *uRow, const uint8_t *vRow,
                uint8_t *d0, uint8_t *d1, uint32_t blocks) {
    const uint32_t steps = blocks / 8;
    for (uint32_t s = 0; s < steps; ++s) {
        const Chroma16 c = LoadChroma8(uRow + 8 * s, vRow + 8 * s);
        Store(d0 + 48 * static_cast<uintptr_t>(s), ConvertRow16(y0 + 16 * s, c));
        Store(d1 + 48 * static_cast<uintptr_t>(s), ConvertRow16(y1 + 16 * s, c));
    }
    Rgb24TailBlocks(y0, y1, uRow, vRow, d0, d1, steps * 8, blocks);
}

}  // namespace
}  // namespace kestra
