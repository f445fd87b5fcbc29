// YV12 to RGB24 with SSSE3: the SSE2 arithmetic, interleaved by byte shuffles.
#include <tmmintrin.h>

#include "convert/rgb24_sse2_inl.h"
#include "convert/rgb24_shuffle.h"
#include "convert/dispatch.h"
#include "convert/simd_walk.h"

namespace kestra {

namespace {

inline __m128i Gather(const Bgr16 &px, int part) {
    const __m128i b = _mm_shuffle_epi8(px.b, Rgb24ShuffleMask(part, 0));
    const __m128i g = _mm_shuffle_epi8(px.g, Rgb24ShuffleMask(part, 1));
    const __m128i r = _mm_shuffle_epi8(px.r, Rgb24ShuffleMask(part, 2));
    return _mm_or_si128(_mm_or_si128(b, g), r);
}

inline void StoreBgr48(uint8_t *out, const Bgr16 &px) {
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out), Gather(px, 0));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 16), Gather(px, 1));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 32), Gather(px, 2));
}

}  // namespace

void yv12_to_rgb24_ssse3(uint8_t *dst, int32_t dstStride, const uint8_t *y, const uint8_t *u,
                         const uint8_t *v, int32_t yStride, int32_t uvStride, uint32_t width,
                         int32_t height) {
    WalkRgb24(dst, dstStride, y, u, v, yStride, uvStride, width, height, PairRows16<StoreBgr48>);
}

}  // namespace kestra
