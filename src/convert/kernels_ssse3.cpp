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

const ConvertFn yv12_to_rgb24_ssse3 = kRgb24<Vec128, ShuffleStore>;
const ConvertFn yv12_to_rgb24_full_ssse3 = kRgb24Full<Rgb24Kernel<Vec128, ShuffleStore>::Pair>;

}  // namespace kestra
