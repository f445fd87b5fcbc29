// YV12 to RGB 5-6-5 with AVX2: 32 pixels of both rows of a pair per step,
// the SSE2 file's exact chroma arithmetic on twice the lanes.
#include <immintrin.h>

#include "convert/dispatch.h"
#include "convert/simd_walk.h"

namespace kestra {

namespace {

template <int S, int M, bool Negative>
inline __m256i ChromaTerm(__m256i x) {
    const __m256i d = _mm256_sub_epi16(x, _mm256_set1_epi16(128));
    const __m256i sign = _mm256_srai_epi16(d, 15);
    const __m256i mag = _mm256_sub_epi16(_mm256_xor_si256(d, sign), sign);
    const __m256i prod = _mm256_mulhi_epu16(_mm256_slli_epi16(mag, 16 - S), _mm256_set1_epi16(M));
    const __m256i s = Negative ? _mm256_xor_si256(sign, _mm256_set1_epi16(-1)) : sign;
    return _mm256_sub_epi16(_mm256_xor_si256(prod, s), s);
}

// Luma is widened within 128-bit lanes (pixels 0-7|16-23 and 8-15|24-31),
// and the chroma words in natural block order duplicate into exactly that
// arrangement, so no lane crossing is needed until the stores.
struct Terms {
    __m256i red[2], green[2], blue[2];
};

inline __m256i LoadWords(const uint8_t *p) {
    return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p)));
}

inline Terms LoadTerms16(const uint8_t *u, const uint8_t *v) {
    const __m256i uw = LoadWords(u);
    const __m256i vw = LoadWords(v);
    const __m256i red = ChromaTerm<9, 717, false>(vw);
    const __m256i green =
        _mm256_add_epi16(ChromaTerm<13, 2821, true>(uw), ChromaTerm<10, 731, true>(vw));
    const __m256i blue = ChromaTerm<14, 29055, false>(uw);
    return {{_mm256_unpacklo_epi16(red, red), _mm256_unpackhi_epi16(red, red)},
            {_mm256_unpacklo_epi16(green, green), _mm256_unpackhi_epi16(green, green)},
            {_mm256_unpacklo_epi16(blue, blue), _mm256_unpackhi_epi16(blue, blue)}};
}

inline __m256i Clamp(__m256i lo, __m256i hi, const __m256i term[2]) {
    return _mm256_packus_epi16(_mm256_add_epi16(lo, term[0]), _mm256_add_epi16(hi, term[1]));
}

inline void ConvertRow32(const uint8_t *yRow, const Terms &t, uint16_t *out) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(yRow));
    const __m256i lo = _mm256_unpacklo_epi8(y, zero);
    const __m256i hi = _mm256_unpackhi_epi8(y, zero);
    const __m256i r = Clamp(lo, hi, t.red);
    const __m256i g = Clamp(lo, hi, t.green);
    const __m256i b = Clamp(lo, hi, t.blue);
    const __m256i high =
        _mm256_or_si256(_mm256_and_si256(r, _mm256_set1_epi8(static_cast<char>(0xF8))),
                        _mm256_and_si256(_mm256_srli_epi16(g, 5), _mm256_set1_epi8(0x07)));
    const __m256i low = _mm256_or_si256(
        _mm256_and_si256(_mm256_slli_epi16(g, 3), _mm256_set1_epi8(static_cast<char>(0xE0))),
        _mm256_and_si256(_mm256_srli_epi16(b, 3), _mm256_set1_epi8(0x1F)));
    const __m256i p0 = _mm256_unpacklo_epi8(low, high);  // pixels 0-7 | 16-23
    const __m256i p1 = _mm256_unpackhi_epi8(low, high);  // pixels 8-15 | 24-31
    __m256i *dst = reinterpret_cast<__m256i *>(out);
    _mm256_storeu_si256(dst, _mm256_permute2x128_si256(p0, p1, 0x20));
    _mm256_storeu_si256(dst + 1, _mm256_permute2x128_si256(p0, p1, 0x31));
}

void PairAvx2(const uint8_t *y0, const uint8_t *y1, const uint8_t *uRow, const uint8_t *vRow,
              uint16_t *d0, uint16_t *d1, int32_t blocks) {
    const int32_t steps = blocks / 16;
    for (int32_t s = 0; s < steps; ++s) {
        const Terms t = LoadTerms16(uRow + 16 * s, vRow + 16 * s);
        ConvertRow32(y0 + 32 * s, t, d0 + 32 * s);
        ConvertRow32(y1 + 32 * s, t, d1 + 32 * s);
    }
    Rgb565TailBlocks(y0, y1, uRow, vRow, d0, d1, steps * 16, blocks);
}

}  // namespace

void yv12_to_rgb565_avx2(const uint8_t *y, int32_t yStride, const uint8_t *u, const uint8_t *v,
                         int32_t uvStride, uint16_t *dst, int32_t dstStride, int32_t width,
                         int32_t height) {
    WalkRgb565(y, yStride, u, v, uvStride, dst, dstStride, width, height, PairAvx2);
}

}  // namespace kestra
