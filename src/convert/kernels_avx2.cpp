// The AVX2 level: the shared kernels on 32-byte registers, 32 pixels of both
// rows of a pair per step.
#include <immintrin.h>

#include "convert/vectors.h"
#include "convert/vector_kernels.h"
#include "convert/dispatch.h"

namespace kestra {

namespace {

// Lane 0 holds pixels 0-15 (output bytes 0-47), lane 1 pixels 16-31: each
// lane is shuffled as SSSE3 does, then the lanes are put in output order.
struct ShuffleStore {
    static constexpr bool kPrefetch = true;
    static __m256i Gather(__m256i b, __m256i g, __m256i r, int part) {
        const __m256i mb = _mm256_broadcastsi128_si256(Rgb24ShuffleMask(part, 0));
        const __m256i mg = _mm256_broadcastsi128_si256(Rgb24ShuffleMask(part, 1));
        const __m256i mr = _mm256_broadcastsi128_si256(Rgb24ShuffleMask(part, 2));
        return _mm256_or_si256(
            _mm256_or_si256(_mm256_shuffle_epi8(b, mb), _mm256_shuffle_epi8(g, mg)),
            _mm256_shuffle_epi8(r, mr));
    }
    static void Bgr(uint8_t *out, __m256i b, __m256i g, __m256i r) {
        const __m256i x0 = Gather(b, g, r, 0);
        const __m256i x1 = Gather(b, g, r, 1);
        const __m256i x2 = Gather(b, g, r, 2);
        __m256i *dst = reinterpret_cast<__m256i *>(out);
        _mm256_storeu_si256(dst, _mm256_permute2x128_si256(x0, x1, 0x20));
        _mm256_storeu_si256(dst + 1, _mm256_permute2x128_si256(x2, x0, 0x30));
        _mm256_storeu_si256(dst + 2, _mm256_permute2x128_si256(x1, x2, 0x31));
    }
};

}  // namespace

const ConvertFn yv12_to_rgb24_avx2 = kRgb24<Vec256, ShuffleStore>;
const ConvertFn yv12_to_rgb24_full_avx2 = kRgb24Full<Rgb24Kernel<Vec256, ShuffleStore>::Pair>;
const ConvertFn yv12_to_rgb565_avx2 = kRgb565<Vec256>;
const ConvertFn yv12_to_uyvy_avx2 = kUyvy<Vec256>;

}  // namespace kestra
