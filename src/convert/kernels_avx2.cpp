// The AVX2 level: the shared kernels on 32-byte registers, 32 pixels of both
// rows of a pair per step.
#include <immintrin.h>

#include "convert/vectors.h"
#include "convert/vector_kernels.h"
#include "convert/dispatch.h"

namespace kestra {

namespace {

// Lane 0 holds pixels 0-15 (output bytes 0-47), lane 1 pixels 16-31. As
// 16 = 1 (mod 3), byte i of output part k is channel (k + i) % 3, so of the
// three parts exactly one wants channel c at byte i: one shuffle a channel
// puts its bytes where their part wants them, and two blends a part pick each
// byte's channel. Then the lanes are put in output order. That is 3 shuffles
// a row step where a shuffle per channel and part took 9, on the ports the
// rest of the kernel also needs: 11-12 % faster warm on a Zen 5, and in
// llvm-mca's models 18 % on Zen 3 and 16 % on Skylake, 2 % slower on Alder
// Lake, which splits a blend into three operations. With cold caches it ran
// 1-7 % slower at 1920x1080 (five runs), the same at 3840x2160.
struct BlendMasks {
    alignas(16) int8_t spread[3][16];  // [channel]
    alignas(16) int8_t green[3][16];   // [part]: its channel 1 bytes
};

constexpr BlendMasks MakeBlendMasks() {
    BlendMasks m{};
    for (int i = 0; i < 16; ++i) {
        for (int n = 0; n < 3; ++n) {
            const int part = ((n - i) % 3 + 3) % 3;  // where channel n is at byte i
            m.spread[n][i] = static_cast<int8_t>(PackedByte((16 * part + i) / 3));
            m.green[n][i] = static_cast<int8_t>((n + i) % 3 == 1 ? -128 : 0);
        }
    }
    return m;
}

constexpr BlendMasks kBlendMasks = MakeBlendMasks();

inline __m256i Broadcast(const int8_t (&bytes)[16]) {
    return _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i *>(bytes)));
}

struct ShuffleStore {
    static constexpr bool kPrefetch = true;
    static void Bgr(uint8_t *out, __m256i b, __m256i g, __m256i r) {
        const __m256i bs = _mm256_shuffle_epi8(b, Broadcast(kBlendMasks.spread[0]));
        const __m256i gs = _mm256_shuffle_epi8(g, Broadcast(kBlendMasks.spread[1]));
        const __m256i rs = _mm256_shuffle_epi8(r, Broadcast(kBlendMasks.spread[2]));
        __m256i x[3];
        for (int k = 0; k < 3; ++k) {
            // Part k's channel 2 bytes are part k + 2's channel 1 bytes.
            const __m256i bg = _mm256_blendv_epi8(bs, gs, Broadcast(kBlendMasks.green[k]));
            x[k] = _mm256_blendv_epi8(bg, rs, Broadcast(kBlendMasks.green[(k + 2) % 3]));
        }
        __m256i *dst = reinterpret_cast<__m256i *>(out);
        _mm256_storeu_si256(dst, _mm256_permute2x128_si256(x[0], x[1], 0x20));
        _mm256_storeu_si256(dst + 1, _mm256_permute2x128_si256(x[2], x[0], 0x30));
        _mm256_storeu_si256(dst + 2, _mm256_permute2x128_si256(x[1], x[2], 0x31));
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
