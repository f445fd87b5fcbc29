// YV12 to RGB24 with AVX2: 32 pixels of both rows of a pair per step, with
// the same exact 16-bit split arithmetic as the SSE2 file on twice the lanes.
#include <immintrin.h>

#include "convert/rgb24_shuffle.h"
#include "convert/dispatch.h"
#include "convert/simd_walk.h"

namespace kestra {

namespace {

struct Split {
    __m256i q;
    __m256i r;
};

inline Split SplitProduct(__m256i d, int16_t step) {
    const __m256i k = _mm256_set1_epi16(step);
    const __m256i q = _mm256_mulhi_epi16(_mm256_slli_epi16(d, 3), k);
    const __m256i r = _mm256_sub_epi16(_mm256_mullo_epi16(d, k), _mm256_slli_epi16(q, 13));
    return {q, r};
}

inline Split AddSplit(Split a, Split b) {
    const __m256i r = _mm256_add_epi16(a.r, b.r);
    const __m256i q = _mm256_add_epi16(_mm256_add_epi16(a.q, b.q), _mm256_srli_epi16(r, 13));
    return {q, _mm256_and_si256(r, _mm256_set1_epi16(8191))};
}

inline __m256i Channel(Split luma, Split chroma) {
    const __m256i r = _mm256_add_epi16(luma.r, chroma.r);
    return _mm256_add_epi16(_mm256_add_epi16(luma.q, chroma.q), _mm256_srli_epi16(r, 13));
}

// Luma is widened within 128-bit lanes (pixels 0-7|16-23 and 8-15|24-31);
// chroma words in natural block order duplicate into exactly that layout,
// and the saturating pack of the two halves puts the bytes back in order.
inline void Duplicate(Split s, Split out[2]) {
    out[0] = {_mm256_unpacklo_epi16(s.q, s.q), _mm256_unpacklo_epi16(s.r, s.r)};
    out[1] = {_mm256_unpackhi_epi16(s.q, s.q), _mm256_unpackhi_epi16(s.r, s.r)};
}

struct Chroma32 {
    Split blue[2];
    Split green[2];  // negated: luma minus the green sum
    Split red[2];
};

inline __m256i LoadWords(const uint8_t *p) {
    return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p)));
}

inline Chroma32 LoadChroma16(const uint8_t *u, const uint8_t *v) {
    const __m256i bias = _mm256_set1_epi16(128);
    const __m256i du = _mm256_sub_epi16(LoadWords(u), bias);
    const __m256i dv = _mm256_sub_epi16(LoadWords(v), bias);
    Chroma32 c;
    Duplicate(SplitProduct(du, 16531), c.blue);
    Duplicate(AddSplit(SplitProduct(du, -3203), SplitProduct(dv, -6660)), c.green);
    Duplicate(SplitProduct(dv, 13074), c.red);
    return c;
}

inline __m256i PackBytes(__m256i lo, __m256i hi) { return _mm256_packus_epi16(lo, hi); }

inline __m256i Gather(__m256i b, __m256i g, __m256i r, int part) {
    const __m256i mb = _mm256_broadcastsi128_si256(Rgb24ShuffleMask(part, 0));
    const __m256i mg = _mm256_broadcastsi128_si256(Rgb24ShuffleMask(part, 1));
    const __m256i mr = _mm256_broadcastsi128_si256(Rgb24ShuffleMask(part, 2));
    return _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(b, mb), _mm256_shuffle_epi8(g, mg)),
                           _mm256_shuffle_epi8(r, mr));
}

inline void ConvertRow32(const uint8_t *yRow, const Chroma32 &c, uint8_t *out) {
    const __m256i bias = _mm256_set1_epi16(16);
    const __m256i zero = _mm256_setzero_si256();
    const __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(yRow));
    const Split lo = SplitProduct(_mm256_sub_epi16(_mm256_unpacklo_epi8(y, zero), bias), 9535);
    const Split hi = SplitProduct(_mm256_sub_epi16(_mm256_unpackhi_epi8(y, zero), bias), 9535);
    const __m256i b = PackBytes(Channel(lo, c.blue[0]), Channel(hi, c.blue[1]));
    const __m256i g = PackBytes(Channel(lo, c.green[0]), Channel(hi, c.green[1]));
    const __m256i r = PackBytes(Channel(lo, c.red[0]), Channel(hi, c.red[1]));
    // Lane 0 holds pixels 0-15 (output bytes 0-47), lane 1 pixels 16-31.
    const __m256i x0 = Gather(b, g, r, 0);
    const __m256i x1 = Gather(b, g, r, 1);
    const __m256i x2 = Gather(b, g, r, 2);
    __m256i *dst = reinterpret_cast<__m256i *>(out);
    _mm256_storeu_si256(dst, _mm256_permute2x128_si256(x0, x1, 0x20));
    _mm256_storeu_si256(dst + 1, _mm256_permute2x128_si256(x2, x0, 0x30));
    _mm256_storeu_si256(dst + 2, _mm256_permute2x128_si256(x1, x2, 0x31));
}

void PairAvx2(const uint8_t *y0, const uint8_t *y1, const uint8_t *uRow, const uint8_t *vRow,
              uint8_t *d0, uint8_t *d1, uint32_t blocks) {
    const uint32_t steps = blocks / 16;
    for (uint32_t s = 0; s < steps; ++s) {
        const Chroma32 c = LoadChroma16(uRow + 16 * s, vRow + 16 * s);
        PrefetchRgb24Step<32>(y0, d0, 32 * static_cast<uintptr_t>(s));
        PrefetchRgb24Step<32>(y1, d1, 32 * static_cast<uintptr_t>(s));
        ConvertRow32(y0 + 32 * static_cast<uintptr_t>(s), c, d0 + 96 * static_cast<uintptr_t>(s));
        ConvertRow32(y1 + 32 * static_cast<uintptr_t>(s), c, d1 + 96 * static_cast<uintptr_t>(s));
    }
    Rgb24TailBlocks(y0, y1, uRow, vRow, d0, d1, steps * 16, blocks);
}

}  // namespace

void yv12_to_rgb24_avx2(uint8_t *dst, int32_t dstStride, const uint8_t *y, const uint8_t *u,
                        const uint8_t *v, int32_t yStride, int32_t uvStride, uint32_t width,
                        int32_t height) {
    WalkRgb24(dst, dstStride, y, u, v, yStride, uvStride, width, height, PairAvx2);
}

}  // namespace kestra
