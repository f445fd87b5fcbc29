// The SSE2 level: the shared kernels on 16-byte registers, 16 pixels of both
// rows of a pair per step.
#include <emmintrin.h>

#include <cstring>

#include "convert/vectors.h"
#include "convert/vector_kernels.h"
#include "convert/area_kernels.h"
#include "convert/dispatch.h"

namespace kestra {

namespace {

// Four B,G,R,0 dwords to 12 packed bytes in the low bytes (the rest is junk).
inline __m128i Compact4(__m128i p) {
    const __m128i low24 = _mm_set1_epi64x(0x0000000000FFFFFF);
    const __m128i next24 = _mm_set1_epi64x(0x0000FFFFFF000000);
    const __m128i lane =
        _mm_or_si128(_mm_and_si128(p, low24), _mm_and_si128(_mm_srli_epi64(p, 8), next24));
    const __m128i first6 = _mm_set_epi32(0, 0, 0x0000FFFF, -1);
    return _mm_or_si128(_mm_and_si128(lane, first6),
                        _mm_andnot_si128(first6, _mm_srli_si128(lane, 2)));
}

// Pixels of a channel in order from the kernel's even-then-odd bytes.
inline __m128i InOrder(__m128i packed) {
    return _mm_unpacklo_epi8(packed, _mm_unpackhi_epi64(packed, packed));
}

// Without a byte shuffle: widen to B,G,R,0 dwords and squeeze out the zeros.
// The first three 16-byte stores overlap their successor's start; the last
// writes exactly 12 bytes, so nothing past the 48 bytes is touched.
struct CompactStore {
    static constexpr bool kPrefetch = false;
    static void Bgr(uint8_t *out, __m128i bPacked, __m128i gPacked, __m128i rPacked) {
        const __m128i b = InOrder(bPacked), g = InOrder(gPacked), r = InOrder(rPacked);
        const __m128i zero = _mm_setzero_si128();
        const __m128i bgLo = _mm_unpacklo_epi8(b, g);
        const __m128i bgHi = _mm_unpackhi_epi8(b, g);
        const __m128i rLo = _mm_unpacklo_epi8(r, zero);
        const __m128i rHi = _mm_unpackhi_epi8(r, zero);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out), Compact4(_mm_unpacklo_epi16(bgLo, rLo)));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 12),
                         Compact4(_mm_unpackhi_epi16(bgLo, rLo)));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 24),
                         Compact4(_mm_unpacklo_epi16(bgHi, rHi)));
        const __m128i last = Compact4(_mm_unpackhi_epi16(bgHi, rHi));
        _mm_storel_epi64(reinterpret_cast<__m128i *>(out + 36), last);
        const int32_t tail = _mm_cvtsi128_si32(_mm_srli_si128(last, 8));
        std::memcpy(out + 44, &tail, 4);
    }
};

}  // namespace

const LevelConvertFn yv12_to_rgb24_sse2 = kRgb24<Vec128, CompactStore>;
const LevelConvertFn yv12_to_rgb24_full_sse2 = kRgb24Full<Rgb24Kernel<Vec128, CompactStore>::Pair>;
const LevelConvertFn yv12_to_rgb565_sse2 = kRgb565<Vec128>;
const LevelConvertFn yv12_to_uyvy_sse2 = kUyvy<Vec128>;
const AreaKernels area_kernels_sse2 = kAreaKernels<Vec128>;

}  // namespace kestra
