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

// Streamed UYVY rows (kUyvyStreamingLarge): each row runs up to a 32-byte boundary through
// the C row pair, then streams 64 bytes per step; rows whose pixel pairs never meet a boundary (a
// pitch that is not a multiple of 4) are stored as usual.
void StreamUyvyRow(const uint8_t *yRow, const uint8_t *u, const uint8_t *v, uint8_t *out,
                   int32_t width, const colour::Record &colour) {
    const uintptr_t misalign = reinterpret_cast<uintptr_t>(out) & 31;
    if (misalign % 4 != 0) {
        UyvyKernel<Vec256>::Pair<false>(yRow, yRow, u, v, out, out, 0, width, colour);
        return;
    }
    const int32_t lead = static_cast<int32_t>(misalign ? (32 - misalign) / 2 : 0);
    const int32_t from = lead < width ? lead : width & ~1;
    uyvy_pair_c(yRow, yRow, u, v, out, out, 0, from, colour);
    const uintptr_t end =
        static_cast<uintptr_t>(from / 2) + static_cast<uintptr_t>((width - from) / 32 * 16);
    for (uintptr_t j = static_cast<uintptr_t>(from / 2); j < end; j += 16) {
        const __m256i uv = Vec256::UyvyChroma(u + j, v + j);
        const __m256i y = Vec256::UyvyLuma(yRow + 2 * j);
        __m256i *dst = reinterpret_cast<__m256i *>(out + 4 * j);
        _mm256_stream_si256(dst, _mm256_unpacklo_epi8(uv, y));
        _mm256_stream_si256(dst + 1, _mm256_unpackhi_epi8(uv, y));
    }
    uyvy_pair_c(yRow, yRow, u, v, out, out, static_cast<int32_t>(2 * end), width, colour);
}

}  // namespace

void uyvy_stream_pair_avx2(const uint8_t *y0, const uint8_t *y1, const uint8_t *u, const uint8_t *v,
                           uint8_t *d0, uint8_t *d1, int32_t, int32_t width,
                           const colour::Record &colour) {
    StreamUyvyRow(y0, u, v, d0, width, colour);
    if (d1 != d0) StreamUyvyRow(y1, u, v, d1, width, colour);
}

const ConvertFn yv12_to_rgb24_avx2 = kRgb24<Vec256, ShuffleStore>;
const ConvertFn yv12_to_rgb24_full_avx2 = kRgb24Full<Rgb24Kernel<Vec256, ShuffleStore>::Pair>;
const ConvertFn yv12_to_rgb565_avx2 = kRgb565<Vec256>;
const ConvertFn yv12_to_uyvy_avx2 = kUyvyStreamingLarge<kUyvy<Vec256>, uyvy_stream_pair_avx2>;

}  // namespace kestra
