// The SSSE3 level: the SSE2 RGB24 arithmetic, interleaved by byte shuffles.
#include <tmmintrin.h>

#include "convert/vectors.h"
#include "convert/vector_kernels.h"
#include "convert/dispatch.h"

namespace kestra {

namespace {

struct ShuffleStore {
    static constexpr bool kPrefetch = false;
    static __m128i Gather(__m128i b, __m128i g, __m128i r, int part) {
        const __m128i bs = _mm_shuffle_epi8(b, Rgb24ShuffleMask(part, 0));
        const __m128i gs = _mm_shuffle_epi8(g, Rgb24ShuffleMask(part, 1));
        const __m128i rs = _mm_shuffle_epi8(r, Rgb24ShuffleMask(part, 2));
        return _mm_or_si128(_mm_or_si128(bs, gs), rs);
    }
    static void Bgr(uint8_t *out, __m128i b, __m128i g, __m128i r) {
        for (int part = 0; part < 3; ++part) {
            _mm_storeu_si128(reinterpret_cast<__m128i *>(out + 16 * part), Gather(b, g, r, part));
        }
    }
};

}  // namespace

// Four pixels a shuffle. Each load takes 16 bytes for the 12 it uses, so the
// steps stop while 16 remain: the C row does the last 2 to 5 pixels.
void rgb24_to_xrgb_ssse3(const uint8_t *bgr, uint32_t *xrgb, int32_t width) {
    const __m128i spread = _mm_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    int32_t x = 0;
    for (; x + 6 <= width; x += 4) {
        const __m128i in = _mm_loadu_si128(reinterpret_cast<const __m128i *>(bgr + 3 * x));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(xrgb + x), _mm_shuffle_epi8(in, spread));
    }
    rgb24_to_xrgb_c(bgr + 3 * x, xrgb + x, width - x);
}

const LevelConvertFn yv12_to_rgb24_ssse3 = kRgb24<Vec128, ShuffleStore>;
const LevelConvertFn yv12_to_rgb24_full_ssse3 = kRgb24Full<Rgb24Kernel<Vec128, ShuffleStore>::Pair>;

}  // namespace kestra
