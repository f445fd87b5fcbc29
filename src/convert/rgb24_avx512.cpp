// YV12 to RGB24 with AVX-512 (BW, VL and VBMI): 64 pixels of both rows of a pair
// per step, the last partial step through masked loads and stores.
//
// A 13-bit fixed-point value x is held as q = floor(x / 8192) and
// r = 8 (x - 8192 q), an unsigned word whose carry out of a 16-bit add is the
// carry of the fractions. The luma bias is folded into the chroma terms, so a
// luma lane is only the product of its sample; each channel is then the sum
// of two quotients plus one masked increment, exact before the saturating
// pack. The byte permutes interleave the three channels in two steps per
// 64 output bytes.
#include <immintrin.h>

#include "convert/dispatch.h"
#include "convert/simd_walk.h"

namespace kestra {

namespace {

struct Split {
    __m512i q;
    __m512i r;
};

// d x step for |d| < 4096.
inline Split Product(__m512i d, int16_t step) {
    const __m512i d8 = _mm512_slli_epi16(d, 3);
    const __m512i k = _mm512_set1_epi16(step);
    return {_mm512_mulhi_epi16(d8, k), _mm512_mullo_epi16(d8, k)};
}

inline Split Add(Split a, Split b) {
    const __m512i r = _mm512_add_epi16(a.r, b.r);
    const __m512i q = _mm512_add_epi16(a.q, b.q);
    return {_mm512_mask_sub_epi16(q, _mm512_cmplt_epu16_mask(r, a.r), q, _mm512_set1_epi16(-1)), r};
}

inline Split Constant(int32_t x) {
    const int32_t q = x >> 13;
    return {_mm512_set1_epi16(static_cast<int16_t>(q)),
            _mm512_set1_epi16(static_cast<int16_t>(8 * (x - 8192 * q)))};
}

// A chroma term ready for the luma lanes: quotient and complemented
// fraction (the fractions carry exactly when luma.r > ~chroma.r), each block
// duplicated for its two columns in the order of the luma unpacks.
struct Term {
    __m512i q[2];
    __m512i notR[2];
};

inline Term Duplicate(Split s) {
    const __m512i n = _mm512_ternarylogic_epi32(s.r, s.r, s.r, 0x55);
    return {{_mm512_unpacklo_epi16(s.q, s.q), _mm512_unpackhi_epi16(s.q, s.q)},
            {_mm512_unpacklo_epi16(n, n), _mm512_unpackhi_epi16(n, n)}};
}

struct Chroma {
    Term blue, green, red;  // green is already negated: luma minus the green sum
};

// Luma terms are 9535 (y - 16); the -152560 goes with each chroma term.
inline Chroma MakeChroma(__m512i uWords, __m512i vWords) {
    const __m512i bias = _mm512_set1_epi16(128);
    const __m512i du = _mm512_sub_epi16(uWords, bias);
    const __m512i dv = _mm512_sub_epi16(vWords, bias);
    const Split lumaBias = Constant(-152560);
    const Split green = Add(Product(du, -3203), Product(dv, -6660));
    return {Duplicate(Add(Product(du, 16531), lumaBias)), Duplicate(Add(green, lumaBias)),
            Duplicate(Add(Product(dv, 13074), lumaBias))};
}

inline __m512i Channel(Split luma, const Term &c, int half) {
    const __m512i q = _mm512_add_epi16(luma.q, c.q[half]);
    const __mmask32 carry = _mm512_cmpgt_epu16_mask(luma.r, c.notR[half]);
    return _mm512_mask_sub_epi16(q, carry, q, _mm512_set1_epi16(-1));
}

inline __m512i PackChannel(Split lo, Split hi, const Term &c) {
    return _mm512_packus_epi16(Channel(lo, c, 0), Channel(hi, c, 1));
}

// Output bytes 64 t .. 64 t + 63 of 64 pixels: blue and green come from one
// two-table permute, red is merged into its bytes by a masked permute.
struct InterleavePart {
    alignas(64) uint8_t blueGreen[64];
    alignas(64) uint8_t red[64];
    uint64_t redBytes;
};

constexpr InterleavePart MakeInterleavePart(int t) {
    InterleavePart m{};
    for (int i = 0; i < 64; ++i) {
        const int p = 64 * t + i;
        m.blueGreen[i] = static_cast<uint8_t>(p / 3 | (p % 3 == 1 ? 64 : 0));
        m.red[i] = static_cast<uint8_t>(p / 3);
        if (p % 3 == 2) m.redBytes |= uint64_t{1} << i;
    }
    return m;
}

constexpr InterleavePart kInterleave[3] = {MakeInterleavePart(0), MakeInterleavePart(1),
                                           MakeInterleavePart(2)};

inline __m512i OutputPart(int t, __m512i b, __m512i g, __m512i r) {
    const InterleavePart &m = kInterleave[t];
    const __m512i bg = _mm512_permutex2var_epi8(b, _mm512_load_si512(m.blueGreen), g);
    return _mm512_mask_permutexvar_epi8(bg, m.redBytes, _mm512_load_si512(m.red), r);
}

// Byte masks of a partial step: luma bytes and the three output parts.
struct TailMasks {
    __mmask64 luma;
    __mmask64 out[3];
};

inline __mmask64 LowBits(uint32_t n) { return n >= 64 ? ~__mmask64{0} : (__mmask64{1} << n) - 1; }

template <bool kMasked>
inline void ConvertRow64(const uint8_t *yRow, const Chroma &c, const TailMasks &tail,
                         uint8_t *out) {
    const __m512i zero = _mm512_setzero_si512();
    const __m512i y = kMasked ? _mm512_maskz_loadu_epi8(tail.luma, yRow) : _mm512_loadu_si512(yRow);
    const Split lo = Product(_mm512_unpacklo_epi8(y, zero), 9535);
    const Split hi = Product(_mm512_unpackhi_epi8(y, zero), 9535);
    const __m512i b = PackChannel(lo, hi, c.blue);
    const __m512i g = PackChannel(lo, hi, c.green);
    const __m512i r = PackChannel(lo, hi, c.red);
    for (int t = 0; t < 3; ++t) {
        const __m512i part = OutputPart(t, b, g, r);
        if (kMasked) {
            _mm512_mask_storeu_epi8(out + 64 * t, tail.out[t], part);
        } else {
            _mm512_storeu_si512(out + 64 * t, part);
        }
    }
}

void PairAvx512(const uint8_t *y0, const uint8_t *y1, const uint8_t *uRow, const uint8_t *vRow,
                uint8_t *d0, uint8_t *d1, uint32_t blocks) {
    const TailMasks full{};
    const uint32_t steps = blocks / 32;
    for (uint32_t s = 0; s < steps; ++s) {
        const uintptr_t at = s;
        const Chroma c =
            MakeChroma(_mm512_cvtepu8_epi16(
                           _mm256_loadu_si256(reinterpret_cast<const __m256i *>(uRow + 32 * at))),
                       _mm512_cvtepu8_epi16(
                           _mm256_loadu_si256(reinterpret_cast<const __m256i *>(vRow + 32 * at))));
        ConvertRow64<false>(y0 + 64 * at, c, full, d0 + 192 * at);
        ConvertRow64<false>(y1 + 64 * at, c, full, d1 + 192 * at);
    }
    const uint32_t left = blocks - 32 * steps;
    if (left == 0) return;
    const uintptr_t at = steps;
    const __mmask32 chromaBytes = static_cast<__mmask32>(LowBits(left));
    const Chroma c =
        MakeChroma(_mm512_cvtepu8_epi16(_mm256_maskz_loadu_epi8(chromaBytes, uRow + 32 * at)),
                   _mm512_cvtepu8_epi16(_mm256_maskz_loadu_epi8(chromaBytes, vRow + 32 * at)));
    const uint32_t outBytes = 6 * left;
    TailMasks tail{};
    tail.luma = LowBits(2 * left);
    for (int t = 0; t < 3; ++t) {
        const uint32_t start = 64 * static_cast<uint32_t>(t);
        tail.out[t] = outBytes > start ? LowBits(outBytes - start) : 0;
    }
    ConvertRow64<true>(y0 + 64 * at, c, tail, d0 + 192 * at);
    ConvertRow64<true>(y1 + 64 * at, c, tail, d1 + 192 * at);
}

}  // namespace

void yv12_to_rgb24_avx512(uint8_t *dst, int32_t dstStride, const uint8_t *y, const uint8_t *u,
                          const uint8_t *v, int32_t yStride, int32_t uvStride, uint32_t width,
                          int32_t height) {
    WalkRgb24(dst, dstStride, y, u, v, yStride, uvStride, width, height, PairAvx512);
}

}  // namespace kestra
