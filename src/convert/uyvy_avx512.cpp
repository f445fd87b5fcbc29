// YV12 to UYVY with AVX-512 (BW, VL and VBMI): 64 pixels per step; each 64 output bytes are one
// two-table byte permute of the U/V interleave and the luma. Partial steps go through masked loads
// and stores. Frames larger than the caches go through the AVX2 level's streamed rows, and frames
// larger than the L2 cache through the AVX2 rows that ask for their lines ahead: there memory, not
// the permutes, sets the pace, and those rows were faster than this kernel's own steps, streamed
// or not (bench/notes.md).
#include <immintrin.h>

#include "convert/dispatch.h"
#include "convert/row_walk.h"
#include "convert/vector_kernels.h"
#include "convert/vectors.h"

namespace kestra {

namespace {

struct UyvyIndex {
    alignas(64) uint8_t chroma[64];  // U0 V0 U1 V1 ... from U in table 0, V in table 1
    alignas(64) uint8_t out[2][64];  // U Y V Y from the interleave (0) and luma (1)
};

constexpr UyvyIndex MakeUyvyIndex() {
    UyvyIndex m{};
    for (int i = 0; i < 64; ++i) m.chroma[i] = static_cast<uint8_t>(i / 2 | (i % 2 ? 64 : 0));
    for (int h = 0; h < 2; ++h) {
        for (int i = 0; i < 64; ++i) {
            const int pixelPair = 16 * h + i / 4;
            const int k = i % 4;
            m.out[h][i] =
                static_cast<uint8_t>(k % 2 ? 64 + 2 * pixelPair + k / 2 : 2 * pixelPair + k / 2);
        }
    }
    return m;
}

constexpr UyvyIndex kIndex = MakeUyvyIndex();

// U0 V0 ... U31 V31 of the first n (at most 32) chroma samples; a masked
// load fills the upper half of each table with zeros.
inline __m512i Interleave(const uint8_t *u, const uint8_t *v, uintptr_t n) {
    const __mmask64 samples = Vec512::LowBits(n);
    return _mm512_permutex2var_epi8(_mm512_maskz_loadu_epi8(samples, u),
                                    _mm512_load_si512(kIndex.chroma),
                                    _mm512_maskz_loadu_epi8(samples, v));
}

// Output bytes 64 h .. 64 h + 63 of 32 pixel pairs.
inline __m512i Half(__m512i uv, __m512i y, int h) {
    return _mm512_permutex2var_epi8(uv, _mm512_load_si512(kIndex.out[h]), y);
}

inline void PackRow64(__m512i uv, __m512i y, uint8_t *out) {
    _mm512_storeu_si512(out, Half(uv, y, 0));
    _mm512_storeu_si512(out + 64, Half(uv, y, 1));
}

inline void PackRowMasked(__m512i uv, const uint8_t *yRow, uintptr_t pairs, uint8_t *out) {
    const __m512i y = _mm512_maskz_loadu_epi8(Vec512::LowBits(2 * pairs), yRow);
    _mm512_mask_storeu_epi8(out, Vec512::LowBits(4 * pairs), Half(uv, y, 0));
    if (pairs > 16)
        _mm512_mask_storeu_epi8(out + 64, Vec512::LowBits(4 * pairs - 64), Half(uv, y, 1));
}

// One row's pixel pairs [done, total). Rows are packed one at a time (the
// second re-reads the chroma from the cache) so that the prefetchers follow
// one output stream.
void Row(const uint8_t *yRow, const uint8_t *uRow, const uint8_t *vRow, uint8_t *out,
         uintptr_t done, uintptr_t total) {
    // Stores split across cache lines cost more than the loads: a partial
    // first step brings them to 64 bytes when pixel pairs allow it.
    const uintptr_t misalign = reinterpret_cast<uintptr_t>(out + 4 * done) & 63;
    if (misalign != 0 && misalign % 4 == 0) {
        const uintptr_t fits = (64 - misalign) / 4;
        const uintptr_t n = fits < total - done ? fits : total - done;
        PackRowMasked(Interleave(uRow + done, vRow + done, n), yRow + 2 * done, n, out + 4 * done);
        done += n;
    }
    for (; done + 32 <= total; done += 32) {
        PackRow64(Interleave(uRow + done, vRow + done, 32), _mm512_loadu_si512(yRow + 2 * done),
                  out + 4 * done);
    }
    if (done < total) {
        PackRowMasked(Interleave(uRow + done, vRow + done, total - done), yRow + 2 * done,
                      total - done, out + 4 * done);
    }
}

void Pair(const uint8_t *y0, const uint8_t *y1, const uint8_t *u, const uint8_t *v, uint8_t *d0,
          uint8_t *d1, int32_t from, int32_t width, const colour::Record &colour) {
    const uintptr_t first = static_cast<uintptr_t>(from / 2);
    const uintptr_t pairs = static_cast<uintptr_t>(width / 2);
    Row(y0, u, v, d0, first, pairs);
    if (d1 != d0) Row(y1, u, v, d1, first, pairs);
    // The odd last column, if any.
    uyvy_pair_c(y0, y1, u, v, d0, d1, width & ~1, width, colour);
}

}  // namespace

const LevelConvertFn yv12_to_uyvy_avx512 =
    kUyvyStreamingLarge<ConvertUyvyPrefetchingLarge<Pair, UyvyKernel<Vec256>::Pair<true>>,
                        uyvy_stream_pair_avx2>;

}  // namespace kestra
