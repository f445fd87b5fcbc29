// The AVX2 level: the shared kernels on 32-byte registers, 32 pixels of both
// rows of a pair per step.
#include <immintrin.h>

#include "convert/vectors.h"
#include "convert/vector_kernels.h"
#include "convert/area_kernels.h"
#include "convert/dispatch.h"

namespace kestra {

namespace {

// Lane 0 holds pixels 0-15 (output bytes 0-47), lane 1 pixels 16-31. As
// 16 = 1 (mod 3), byte i of output part k is channel (k + i) % 3, so of the
// three parts exactly one wants channel c at byte i: one shuffle a channel
// puts its bytes where their part wants them, and two blends a part pick each
// byte's channel. Then the lanes are put in output order. That is 3 shuffles
// a row step where a shuffle per channel and part took 9, on the ports the
// rest of the kernel also needs: it pays with warm caches, except on cores
// that split a blend into several operations, and not with cold ones, where
// memory sets the pace (bench/notes.md).
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

// kStream stores around the caches, to 32-byte aligned output.
template <bool kStream>
struct ShuffleStoreTo {
    static constexpr bool kPrefetch = !kStream;
    static void Put(__m256i *dst, __m256i x) {
        if (kStream) {
            _mm256_stream_si256(dst, x);
        } else {
            _mm256_storeu_si256(dst, x);
        }
    }
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
        Put(dst, _mm256_permute2x128_si256(x[0], x[1], 0x20));
        Put(dst + 1, _mm256_permute2x128_si256(x[2], x[0], 0x30));
        Put(dst + 2, _mm256_permute2x128_si256(x[1], x[2], 0x31));
    }
};

using Rgb24Cached = Rgb24Kernel<Vec256, ShuffleStoreTo<false>>;
using Rgb24Streamed = Rgb24Kernel<Vec256, ShuffleStoreTo<true>>;

// Output bytes [first, last) of a row, asked for ahead of ordinary stores.
void PrefetchForStores(uint8_t *out, uintptr_t first, uintptr_t last) {
    for (uintptr_t b = first & ~uintptr_t{63}; b < last; b += 64) __builtin_prefetch(out + b, 1);
}

// A streamed RGB24 row pair (kRgb24StreamingLarge): steps of 64 pixels from the first 64-byte
// boundary both rows reach, 192 bytes a row, so that every line they touch is written whole by
// streaming stores; then the pixels after and before them, stored as usual, their lines asked for
// at the start. With cold caches it beats the cached kernel, though the arithmetic still takes
// most of its time. Tried on the way, each slower (bench/notes.md):
// - 32-pixel steps, as the cached kernel takes, which leave a line streamed in part when the
//   pixels after them are stored as usual (presumably written out half, then read back in), and
//   lose to the cached kernel;
// - rows in turn, row 0 keeping its chroma terms for row 1.
void StreamRgb24Pair(const uint8_t *y0, const uint8_t *y1, const uint8_t *u, const uint8_t *v,
                     uint8_t *d0, uint8_t *d1, int32_t from, int32_t width,
                     const colour::Record &colour) {
    const int32_t start = Rgb24StreamStart<64>(d0, d1, from);
    if (start < 0 || start >= width) {
        Rgb24Cached::Pair(y0, y1, u, v, d0, d1, from, width, colour);
        return;
    }
    const uintptr_t end = WholeStepsEnd<64>(start, width);
    for (uint8_t *d : {d0, d1}) {
        PrefetchForStores(d, 3 * static_cast<uintptr_t>(from), 3 * static_cast<uintptr_t>(start));
        PrefetchForStores(d, 6 * end, 3 * static_cast<uintptr_t>(width));
    }
    const Rgb24Streamed::Coefficients k = Rgb24Streamed::Load(colour);
    for (uintptr_t j = static_cast<uintptr_t>(start / 2); j < end; j += 32) {
        PrefetchChroma(u, v, j);
        PrefetchStreamedLuma(y0, 2 * j);
        PrefetchStreamedLuma(y1, 2 * j);
        for (uintptr_t b = j; b < j + 32; b += 16) {
            const Rgb24Streamed::Chroma c =
                Rgb24Streamed::MakeChroma(Vec256::LoadWords(u + b), Vec256::LoadWords(v + b), k);
            Rgb24Streamed::Row(y0 + 2 * b, c, k, d0 + 6 * b);
            Rgb24Streamed::Row(y1 + 2 * b, c, k, d1 + 6 * b);
        }
    }
    Rgb24Cached::Pair(y0, y1, u, v, d0, d1, static_cast<int32_t>(2 * end), width, colour);
    Rgb24Cached::Pair(y0, y1, u, v, d0, d1, from, start, colour);
}

// Pixel pairs [first, last) of a streamed row, four bytes at a time.
void StreamPairs(const uint8_t *yRow, const uint8_t *u, const uint8_t *v, uint8_t *out,
                 uintptr_t first, uintptr_t last) {
    for (uintptr_t j = first; j < last; ++j) {
        const uint32_t pair = uint32_t{u[j]} | uint32_t{yRow[2 * j]} << 8 | uint32_t{v[j]} << 16 |
                              uint32_t{yRow[2 * j + 1]} << 24;
        _mm_stream_si32(reinterpret_cast<int *>(out + 4 * j), static_cast<int>(pair));
    }
}

// Streamed UYVY rows (kUyvyStreamingLarge): the pixel pairs before the row's first 64-byte
// boundary, then whole cache lines of 32 pixels, then the pairs left, all around the caches (an
// odd last pixel is stored as usual). Rows whose pixel pairs never meet a boundary (a pitch that
// is not a multiple of 4) are stored as usual. For output that starts off a line (16 bytes past
// one, as malloc gives), with cold caches (bench/notes.md):
// - lines streamed from a 32-byte boundary, as before, left each line half written between two
//   steps, far slower than output on a boundary;
// - with the pairs before the first boundary and after the last stored as usual (their lines
//   asked for at the start of the row), it was still slower than output on a boundary;
//   streamed, the two are level.
void StreamUyvyRow(const uint8_t *yRow, const uint8_t *u, const uint8_t *v, uint8_t *out,
                   int32_t width, const colour::Record &colour) {
    const uintptr_t misalign = reinterpret_cast<uintptr_t>(out) & 63;
    if (misalign % 4 != 0) {
        UyvyKernel<Vec256>::Pair<false>(yRow, yRow, u, v, out, out, 0, width, colour);
        return;
    }
    const int32_t lead = static_cast<int32_t>(misalign ? (64 - misalign) / 2 : 0);
    const int32_t from = lead < width ? lead : width & ~1;
    const uintptr_t end =
        static_cast<uintptr_t>(from / 2) + static_cast<uintptr_t>((width - from) / 32 * 16);
    StreamPairs(yRow, u, v, out, 0, static_cast<uintptr_t>(from / 2));
    for (uintptr_t j = static_cast<uintptr_t>(from / 2); j < end; j += 16) {
        const __m256i uv = Vec256::UyvyChroma(u + j, v + j);
        const __m256i y = Vec256::UyvyLuma(yRow + 2 * j);
        __m256i *dst = reinterpret_cast<__m256i *>(out + 4 * j);
        _mm256_stream_si256(dst, _mm256_unpacklo_epi8(uv, y));
        _mm256_stream_si256(dst + 1, _mm256_unpackhi_epi8(uv, y));
    }
    StreamPairs(yRow, u, v, out, end, static_cast<uintptr_t>(width / 2));
    if (width % 2 != 0) uyvy_pair_c(yRow, yRow, u, v, out, out, width - 1, width, colour);
}

}  // namespace

void uyvy_stream_pair_avx2(const uint8_t *y0, const uint8_t *y1, const uint8_t *u, const uint8_t *v,
                           uint8_t *d0, uint8_t *d1, int32_t, int32_t width,
                           const colour::Record &colour) {
    StreamUyvyRow(y0, u, v, d0, width, colour);
    if (d1 != d0) StreamUyvyRow(y1, u, v, d1, width, colour);
}

const LevelConvertFn yv12_to_rgb24_avx2 = kRgb24StreamingLarge<Rgb24Cached::Pair, StreamRgb24Pair>;
const LevelConvertFn yv12_to_rgb24_full_avx2 =
    kRgb24FullStreamingLarge<Rgb24Cached::Pair, StreamRgb24Pair>;
const LevelConvertFn yv12_to_rgb565_avx2 = kRgb565<Vec256>;
const LevelConvertFn yv12_to_uyvy_avx2 = kUyvyStreamingLarge<kUyvy<Vec256>, uyvy_stream_pair_avx2>;
const AreaKernels area_kernels_avx2 = kAreaKernels<Vec256>;

}  // namespace kestra
