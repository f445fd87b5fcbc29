// YV12 to RGB24 with AVX-512 (BW, VL and VBMI): the shared RGB24 arithmetic
// (vector_kernels.h) on 64 pixels of both rows of a pair per step, the last
// partial step through masked loads and stores. The byte permutes undo the
// kernel's even/odd order while they interleave the three channels. Frames
// larger than the caches are streamed (bench/notes.md).
#include <immintrin.h>

#include "convert/dispatch.h"
#include "convert/row_walk.h"
#include "convert/vector_kernels.h"
#include "convert/vectors.h"

namespace kestra {

namespace {

using Kernel = Rgb24Kernel<Vec512, void>;

// PackedByte (vector_kernels.h) of each 16-pixel lane of the register.
constexpr int PackedByte512(int pixel) { return pixel / 16 * 16 + PackedByte(pixel % 16); }

// Output bytes 64 t .. 64 t + 63 of 64 pixels: blue and green come from one
// two-table permute, red is merged into its bytes by a masked permute, or in
// 32-bit code by a second two-table permute. There a 64-bit constant reaches a
// mask register only through the stack, as two 32-bit stores and a 64-bit
// load that cannot take its bytes from them and waits for both to retire,
// twice a step, which costs more than the second permute. In 64-bit code,
// where the mask takes no such trip, the masked form is the faster
// (bench/notes.md).
constexpr bool kMaskedRed = sizeof(void *) == 8;

struct InterleavePart {
    alignas(64) uint8_t blueGreen[64];
    alignas(64) uint8_t red[64];
    alignas(64) uint8_t withRed[64];  // blue and green (0-63) or red (64-127)
    uint64_t redBytes;
};

constexpr InterleavePart MakeInterleavePart(int t) {
    InterleavePart m{};
    for (int i = 0; i < 64; ++i) {
        const int p = 64 * t + i;
        m.blueGreen[i] = static_cast<uint8_t>(PackedByte512(p / 3) | (p % 3 == 1 ? 64 : 0));
        m.red[i] = static_cast<uint8_t>(PackedByte512(p / 3));
        m.withRed[i] = static_cast<uint8_t>(p % 3 == 2 ? 64 | PackedByte512(p / 3) : i);
        if (p % 3 == 2) m.redBytes |= uint64_t{1} << i;
    }
    return m;
}

constexpr InterleavePart kInterleave[3] = {MakeInterleavePart(0), MakeInterleavePart(1),
                                           MakeInterleavePart(2)};

inline __m512i OutputPart(int t, const Kernel::Bgr &p) {
    const InterleavePart &m = kInterleave[t];
    const __m512i bg = _mm512_permutex2var_epi8(p.b, _mm512_load_si512(m.blueGreen), p.g);
    if (!kMaskedRed) return _mm512_permutex2var_epi8(bg, _mm512_load_si512(m.withRed), p.r);
    return _mm512_mask_permutexvar_epi8(bg, m.redBytes, _mm512_load_si512(m.red), p.r);
}

// Byte masks of a partial step: luma bytes and the three output parts.
struct TailMasks {
    __mmask64 luma;
    __mmask64 out[3];
};

template <bool kMasked, bool kStream = false>
inline void ConvertRow64(const uint8_t *yRow, const Kernel::Chroma &c,
                         const Kernel::Coefficients &k, const TailMasks &tail, uint8_t *out) {
    const __m512i y = kMasked ? _mm512_maskz_loadu_epi8(tail.luma, yRow) : _mm512_loadu_si512(yRow);
    const Kernel::Bgr p = Kernel::Channels(y, c, k);
    for (int t = 0; t < 3; ++t) {
        const __m512i part = OutputPart(t, p);
        // A streamed row's partial step still streams its whole lines.
        if (kStream && (!kMasked || tail.out[t] == ~__mmask64{0})) {
            _mm512_stream_si512(reinterpret_cast<__m512i *>(out + 64 * t), part);
        } else if (kMasked) {
            _mm512_mask_storeu_epi8(out + 64 * t, tail.out[t], part);
        } else {
            _mm512_storeu_si512(out + 64 * t, part);
        }
    }
}

inline Kernel::Chroma LoadChroma(__m256i u, __m256i v, const Kernel::Coefficients &k) {
    return Kernel::MakeChroma(_mm512_cvtepu8_epi16(u), _mm512_cvtepu8_epi16(v), k);
}

inline Kernel::Chroma LoadChroma(const uint8_t *u, const uint8_t *v,
                                 const Kernel::Coefficients &k) {
    return LoadChroma(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(u)),
                      _mm256_loadu_si256(reinterpret_cast<const __m256i *>(v)), k);
}

// 32-bit code has 8 vector registers: a step's six chroma terms and a row's
// luma do not fit, and with both rows in step GCC spills and reloads inside
// every step. There a chunk's chroma terms are made first into an array that
// stays in the L1 cache, then row 0 and row 1 each run a loop that keeps
// everything in registers. In 64-bit code the rows in step are the faster, as
// the terms never leave the registers (bench/notes.md).
constexpr bool kChromaFirst = sizeof(void *) == 4;

// kStream stores the whole steps around the caches, from a 64-byte boundary
// on (kRgb24StreamingLarge); the cached steps prefetch the lines ahead.
template <bool kStream>
inline void Row(const uint8_t *y, uint8_t *d, uintptr_t j, const Kernel::Chroma &c,
                const Kernel::Coefficients &k) {
    if (kStream) {
        PrefetchStreamedLuma(y, 2 * j);
    } else {
        PrefetchStep<3, 64>(y, d, 2 * j);
    }
    ConvertRow64<false, kStream>(y + 2 * j, c, k, TailMasks{}, d + 6 * j);
}

template <bool kStream>
void Steps(const uint8_t *y0, const uint8_t *y1, const uint8_t *u, const uint8_t *v, uint8_t *d0,
           uint8_t *d1, int32_t from, int32_t width, const colour::Record &colour) {
    const Kernel::Coefficients k = Kernel::Load(colour);
    const uintptr_t blocks = static_cast<uintptr_t>(width / 2);
    const uintptr_t first = static_cast<uintptr_t>(from / 2);
    uintptr_t j = first;
    if constexpr (kChromaFirst) {
        const uintptr_t end = first + (blocks - first) / 32 * 32;
        Kernel::Chroma kept[kChunkPixels / 64];
        InChunks<64>(
            first, end,
            [&](uintptr_t i, uintptr_t slot) {
                if (kStream) PrefetchChroma(u, v, i);
                kept[slot] = LoadChroma(u + i, v + i, k);
            },
            [&](uintptr_t i, uintptr_t slot) { Row<kStream>(y0, d0, i, kept[slot], k); },
            [&](uintptr_t i, uintptr_t slot) { Row<kStream>(y1, d1, i, kept[slot], k); });
        j = end;
    } else {
        for (; j + 32 <= blocks; j += 32) {
            const Kernel::Chroma c = LoadChroma(u + j, v + j, k);
            PrefetchChroma(u, v, j);
            if (kStream) {
                PrefetchStreamedLuma(y0, 2 * j);
                PrefetchStreamedLuma(y1, 2 * j);
            } else {
                PrefetchStep<3, 64>(y0, d0, 2 * j);
                PrefetchStep<3, 64>(y1, d1, 2 * j);
            }
            ConvertRow64<false, kStream>(y0 + 2 * j, c, k, TailMasks{}, d0 + 6 * j);
            ConvertRow64<false, kStream>(y1 + 2 * j, c, k, TailMasks{}, d1 + 6 * j);
        }
    }
    const uint32_t left = static_cast<uint32_t>(blocks - j);
    if (left == 0) return;
    const __mmask32 chromaBytes = static_cast<__mmask32>(Vec512::LowBits(left));
    const Kernel::Chroma c = LoadChroma(_mm256_maskz_loadu_epi8(chromaBytes, u + j),
                                        _mm256_maskz_loadu_epi8(chromaBytes, v + j), k);
    const uint32_t outBytes = 6 * left;
    TailMasks tail{Vec512::LowBits(2 * left), {}};
    for (uint32_t t = 0; t < 3; ++t)
        tail.out[t] = Vec512::LowBits(outBytes > 64 * t ? outBytes - 64 * t : 0);
    ConvertRow64<true, kStream>(y0 + 2 * j, c, k, tail, d0 + 6 * j);
    ConvertRow64<true, kStream>(y1 + 2 * j, c, k, tail, d1 + 6 * j);
}

// A streamed row pair: the steps from the rows' first 64-byte boundary, their
// last partial step streaming its whole lines too, then the pixels before the
// boundary. Those and the partial step's last line are stored as usual, and
// where rows follow one another each shares its line with the next row's: row
// 1's first line is row 0's last, asked for at the start. The pixels before
// the boundary used to go first and the whole partial step as usual: each row
// waited on lines read for a few stores, most where output starts off a line
// (bench/notes.md).
void StreamPair(const uint8_t *y0, const uint8_t *y1, const uint8_t *u, const uint8_t *v,
                uint8_t *d0, uint8_t *d1, int32_t from, int32_t width,
                const colour::Record &colour) {
    const int32_t start = Rgb24StreamStart<64>(d0, d1, from);
    if (start < 0 || start >= width) {
        Steps<false>(y0, y1, u, v, d0, d1, from, width, colour);
        return;
    }
    __builtin_prefetch(d1 + 3 * from, 1);
    Steps<true>(y0, y1, u, v, d0, d1, start, width, colour);
    rgb24_pair_c(y0, y1, u, v, d0, d1, from, start, colour);
}

}  // namespace

const LevelConvertFn yv12_to_rgb24_avx512 = kRgb24StreamingLarge<Steps<false>, StreamPair>;
const LevelConvertFn yv12_to_rgb24_full_avx512 = kRgb24FullStreamingLarge<Steps<false>, StreamPair>;

}  // namespace kestra
