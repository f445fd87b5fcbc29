// YV12 to UYVY with AVX2: 32 pixels of both rows of a pair per step.
#include <immintrin.h>

#include "convert/dispatch.h"
#include "convert/simd_walk.h"

namespace kestra {

namespace {

// uv holds U0 V0 ... U15 V15 in natural order; the byte unpacks pair lane 0
// with luma 0-15 and lane 1 with luma 16-31, giving pixels 0-7|16-23 and
// 8-15|24-31, put back in order by the lane swaps.
inline void PackRow32(const uint8_t *yRow, __m256i uv, uint8_t *out) {
    const __m256i y = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(yRow));
    const __m256i lo = _mm256_unpacklo_epi8(uv, y);
    const __m256i hi = _mm256_unpackhi_epi8(uv, y);
    __m256i *dst = reinterpret_cast<__m256i *>(out);
    _mm256_storeu_si256(dst, _mm256_permute2x128_si256(lo, hi, 0x20));
    _mm256_storeu_si256(dst + 1, _mm256_permute2x128_si256(lo, hi, 0x31));
}

void PairAvx2(const uint8_t *y0, const uint8_t *y1, const uint8_t *uRow, const uint8_t *vRow,
              uint8_t *d0, uint8_t *d1, uint32_t width) {
    const uint32_t steps = width / 32;
    for (uint32_t s = 0; s < steps; ++s) {
        const __m128i u = _mm_loadu_si128(reinterpret_cast<const __m128i *>(uRow + 16 * s));
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(vRow + 16 * s));
        const __m256i uv = _mm256_set_m128i(_mm_unpackhi_epi8(u, v), _mm_unpacklo_epi8(u, v));
        PackRow32(y0 + 32 * static_cast<uintptr_t>(s), uv, d0 + 64 * static_cast<uintptr_t>(s));
        PackRow32(y1 + 32 * static_cast<uintptr_t>(s), uv, d1 + 64 * static_cast<uintptr_t>(s));
    }
    uyvy_row_tail_c(y0, uRow, vRow, d0, steps * 32, width);
    uyvy_row_tail_c(y1, uRow, vRow, d1, steps * 32, width);
}

}  // namespace

void yv12_to_uyvy_avx2(const uint8_t *y, int32_t yStride, const uint8_t *u, const uint8_t *v,
                       int32_t uvStride, uint8_t *dst, uint32_t width, uint32_t height,
                       int32_t dstPitch) {
    WalkUyvy(y, yStride, u, v, uvStride, dst, width, height, dstPitch, PairAvx2);
}

}  // namespace kestra
