// YV12 to RGB 5-6-5 with SSE2: 16 pixels of both rows of a pair per step.
//
// The chroma tables hold trunc(c x d) for d = i - 128. For |d| <= 128 each
// floor(|c| x |d|) equals (M x |d|) >> S for the constants below (checked
// over all 256 entries by the tests), and the sign is put back afterwards,
// which truncates toward zero as the tables do. The packing tables clamp
// to 0..255 and keep the top bits; a saturating pack does the same clamp.
#include <emmintrin.h>

#include "convert/dispatch.h"
#include "convert/simd_walk.h"

namespace kestra {

namespace {

// trunc(c x (x - 128)) per lane for c = sign x M / 2^S.
template <int S, int M, bool Negative>
inline __m128i ChromaTerm(__m128i x) {
    const __m128i d = _mm_sub_epi16(x, _mm_set1_epi16(128));
    const __m128i sign = _mm_srai_epi16(d, 15);
    const __m128i mag = _mm_sub_epi16(_mm_xor_si128(d, sign), sign);
    const __m128i prod = _mm_mulhi_epu16(_mm_slli_epi16(mag, 16 - S), _mm_set1_epi16(M));
    const __m128i s = Negative ? _mm_xor_si128(sign, _mm_set1_epi16(-1)) : sign;
    return _mm_sub_epi16(_mm_xor_si128(prod, s), s);
}

struct Terms {
    __m128i red[2], green[2], blue[2];  // pixels 0-7 and 8-15
};

inline Terms LoadTerms8(const uint8_t *u, const uint8_t *v) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i uw =
        _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(u)), zero);
    const __m128i vw =
        _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i *>(v)), zero);
    const __m128i red = ChromaTerm<9, 717, false>(vw);
    const __m128i green =
        _mm_add_epi16(ChromaTerm<13, 2821, true>(uw), ChromaTerm<10, 731, true>(vw));
    const __m128i blue = ChromaTerm<14, 29055, false>(uw);
    return {{_mm_unpacklo_epi16(red, red), _mm_unpackhi_epi16(red, red)},
            {_mm_unpacklo_epi16(green, green), _mm_unpackhi_epi16(green, green)},
            {_mm_unpacklo_epi16(blue, blue), _mm_unpackhi_epi16(blue, blue)}};
}

inline void ConvertRow16(const uint8_t *yRow, const Terms &t, uint16_t *out) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i *>(yRow));
    const __m128i lo = _mm_unpacklo_epi8(y, zero);
    const __m128i hi = _mm_unpackhi_epi8(y, zero);
    const __m128i r = _mm_packus_epi16(_mm_add_epi16(lo, t.red[0]), _mm_add_epi16(hi, t.red[1]));
    const __m128i g =
        _mm_packus_epi16(_mm_add_epi16(lo, t.green[0]), _mm_add_epi16(hi, t.green[1]));
    const __m128i b = _mm_packus_epi16(_mm_add_epi16(lo, t.blue[0]), _mm_add_epi16(hi, t.blue[1]));
    // High byte RRRRRGGG, low byte GGGBBBBB (16-bit shifts, then byte masks).
    const __m128i high = _mm_or_si128(_mm_and_si128(r, _mm_set1_epi8(static_cast<char>(0xF8))),
                                      _mm_and_si128(_mm_srli_epi16(g, 5), _mm_set1_epi8(0x07)));
    const __m128i low =
        _mm_or_si128(_mm_and_si128(_mm_slli_epi16(g, 3), _mm_set1_epi8(static_cast<char>(0xE0))),
                     _mm_and_si128(_mm_srli_epi16(b, 3), _mm_set1_epi8(0x1F)));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out), _mm_unpacklo_epi8(low, high));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 8), _mm_unpackhi_epi8(low, high));
}

void PairSse2(const uint8_t *y0, const uint8_t *y1, const uint8_t *uRow, const uint8_t *vRow,
              uint16_t *d0, uint16_t *d1, int32_t blocks) {
    const int32_t steps = blocks / 8;
    for (int32_t s = 0; s < steps; ++s) {
        const Terms t = LoadTerms8(uRow + 8 * s, vRow + 8 * s);
        ConvertRow16(y0 + 16 * s, t, d0 + 16 * s);
        ConvertRow16(y1 + 16 * s, t, d1 + 16 * s);
    }
    Rgb565TailBlocks(y0, y1, uRow, vRow, d0, d1, steps * 8, blocks);
}

}  // namespace

void yv12_to_rgb565_sse2(const uint8_t *y, int32_t yStride, const uint8_t *u, const uint8_t *v,
                         int32_t uvStride, uint16_t *dst, int32_t dstStride, int32_t width,
                         int32_t height) {
    WalkRgb565(y, yStride, u, v, uvStride, dst, dstStride, width, height, PairSse2);
}

}  // namespace kestra
