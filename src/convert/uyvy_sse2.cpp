// YV12 to UYVY with SSE2: 16 pixels of both rows of a pair per step; the
// U/V interleave is formed once and shared by the two rows.
#include <emmintrin.h>

#include "convert/dispatch.h"
#include "convert/simd_walk.h"

namespace kestra {

namespace {

inline void PackRow16(const uint8_t *yRow, __m128i uv, uint8_t *out) {
    const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i *>(yRow));
    const __m128i lo = _mm_unpacklo_epi8(uv, y);  // U0 Y0 V0 Y1 ... pixels 0-7
    const __m128i hi = _mm_unpackhi_epi8(uv, y);  // pixels 8-15
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out), lo);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 16), hi);
}

void PairSse2(const uint8_t *y0, const uint8_t *y1, const uint8_t *uRow, const uint8_t *vRow,
              uint8_t *d0, uint8_t *d1, uint32_t width) {
    const uint32_t steps = width / 16;
    for (uint32_t s = 0; s < steps; ++s) {
        const __m128i u = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(uRow + 8 * s));
        const __m128i v = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(vRow + 8 * s));
        const __m128i uv = _mm_unpacklo_epi8(u, v);
        PackRow16(y0 + 16 * static_cast<uintptr_t>(s), uv, d0 + 32 * static_cast<uintptr_t>(s));
        PackRow16(y1 + 16 * static_cast<uintptr_t>(s), uv, d1 + 32 * static_cast<uintptr_t>(s));
    }
    uyvy_row_tail_c(y0, uRow, vRow, d0, steps * 16, width);
    uyvy_row_tail_c(y1, uRow, vRow, d1, steps * 16, width);
}

}  // namespace

void yv12_to_uyvy_sse2(const uint8_t *y, int32_t yStride, const uint8_t *u, const uint8_t *v,
                       int32_t uvStride, uint8_t *dst, uint32_t width, uint32_t height,
                       int32_t dstPitch) {
    WalkUyvy(y, yStride, u, v, uvStride, dst, width, height, dstPitch, PairSse2);
}

}  // namespace kestra
