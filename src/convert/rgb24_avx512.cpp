// YV12 to RGB24 with AVX-512 (BW, VL and VBMI): 64 pixels of both rows of a
// pair per step, the last partial step through masked loads and stores.
//
// A 13-bit fixed-point value x is held as q = floor(x / 8192) and
// r = 8 (x - 8192 q), an unsigned word whose carry out of a 16-bit add is the
// carry of the fractions. Luma is split into even and odd columns, so each
// word of chroma lines up with one word of either half without duplication;
// every bias sits in the chroma terms, and each channel is two quotients plus
// one masked increment, exact before the saturating pack. The byte permutes
// undo the even/odd order while they interleave the three channels.
#include <immintrin.h>

#include "convert/colour.h"
#include "convert/dispatch.h"
#include "convert/row_walk.h"

namespace kestra {

using namespace colour;

namespace {

struct Split {
    __m512i q, r;
};

// step x d8 / 8 for words d8 that are multiples of 8.
inline Split Product8(__m512i d8, int32_t step) {
    const __m512i k = _mm512_set1_epi16(static_cast<int16_t>(step));
    return {_mm512_mulhi_epi16(d8, k), _mm512_mullo_epi16(d8, k)};
}

// step x s + bias for samples s (as 8 s), with bias = step x offset + 8192 x
// quotient chosen so that the bias adds to the quotient only.
inline Split Affine8(__m512i s8, int32_t step, Affine a) {
    const Split p = Product8(_mm512_add_epi16(s8, _mm512_set1_epi16(8 * a.offset)), step);
    return {_mm512_add_epi16(p.q, _mm512_set1_epi16(a.quotient)), p.r};
}

inline Split Add(Split a, Split b) {
    const __m512i r = _mm512_add_epi16(a.r, b.r);
    const __m512i q = _mm512_add_epi16(a.q, b.q);
    return {_mm512_mask_sub_epi16(q, _mm512_cmplt_epu16_mask(r, a.r), q, _mm512_set1_epi16(-1)), r};
}

// A chroma term ready for the luma lanes: quotient and complemented fraction
// (the fractions carry exactly when luma.r > ~chroma.r).
struct Term {
    __m512i q, notR;
};

inline Term Ready(Split s) { return {s.q, _mm512_ternarylogic_epi32(s.r, s.r, s.r, 0x55)}; }

struct Chroma {
    Term blue, green, red;  // green is already negated: luma minus the green sum
};

// Luma terms are kLumaStep x y: its bias and the 128 of u and v are in the
// offsets and quotients of the affine terms (colour.h checks the sums).
inline Chroma MakeChroma(__m256i uBytes, __m256i vBytes) {
    const __m512i u8 = _mm512_slli_epi16(_mm512_cvtepu8_epi16(uBytes), 3);
    const __m512i v8 = _mm512_slli_epi16(_mm512_cvtepu8_epi16(vBytes), 3);
    return {Ready(Affine8(u8, kBlueFromU, kBlueAffine)),
            Ready(Add(Affine8(u8, -kGreenFromU, kGreenAffine), Product8(v8, -kGreenFromV))),
            Ready(Affine8(v8, kRedFromV, kRedAffine))};
}

inline __m512i Channel(Split luma, const Term &c) {
    const __m512i q = _mm512_add_epi16(luma.q, c.q);
    const __mmask32 carry = _mm512_cmpgt_epu16_mask(luma.r, c.notR);
    return _mm512_mask_sub_epi16(q, carry, q, _mm512_set1_epi16(-1));
}

// Bytes of the even columns then the odd ones within each 16-pixel lane.
inline __m512i PackChannel(Split even, Split odd, const Term &c) {
    return _mm512_packus_epi16(Channel(even, c), Channel(odd, c));
}

constexpr int PackedByte(int pixel) { return pixel / 16 * 16 + pixel % 2 * 8 + pixel % 16 / 2; }

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
        m.blueGreen[i] = static_cast<uint8_t>(PackedByte(p / 3) | (p % 3 == 1 ? 64 : 0));
        m.red[i] = static_cast<uint8_t>(PackedByte(p / 3));
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
    const __m512i y = kMasked ? _mm512_maskz_loadu_epi8(tail.luma, yRow) : _mm512_loadu_si512(yRow);
    // 8 y of the even and of the odd columns as words.
    const Split even = Product8(_mm512_maddubs_epi16(y, _mm512_set1_epi16(8)), kLumaStep);
    const Split odd = Product8(_mm512_maddubs_epi16(y, _mm512_set1_epi16(8 << 8)), kLumaStep);
    const __m512i b = PackChannel(even, odd, c.blue);
    const __m512i g = PackChannel(even, odd, c.green);
    const __m512i r = PackChannel(even, odd, c.red);
    for (int t = 0; t < 3; ++t) {
        const __m512i part = OutputPart(t, b, g, r);
        if (kMasked) {
            _mm512_mask_storeu_epi8(out + 64 * t, tail.out[t], part);
        } else {
            _mm512_storeu_si512(out + 64 * t, part);
        }
    }
}

void Pair(const uint8_t *y0, const uint8_t *y1, const uint8_t *u, const uint8_t *v, uint8_t *d0,
          uint8_t *d1, int32_t from, int32_t width) {
    const TailMasks full{};
    const uintptr_t blocks = static_cast<uintptr_t>(width / 2);
    uintptr_t j = static_cast<uintptr_t>(from / 2);
    for (; j + 32 <= blocks; j += 32) {
        const Chroma c = MakeChroma(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(u + j)),
                                    _mm256_loadu_si256(reinterpret_cast<const __m256i *>(v + j)));
        PrefetchRgb24Step<64>(y0, d0, 2 * j);
        PrefetchRgb24Step<64>(y1, d1, 2 * j);
        ConvertRow64<false>(y0 + 2 * j, c, full, d0 + 6 * j);
        ConvertRow64<false>(y1 + 2 * j, c, full, d1 + 6 * j);
    }
    const uint32_t left = static_cast<uint32_t>(blocks - j);
    if (left == 0) return;
    const __mmask32 chromaBytes = static_cast<__mmask32>(LowBits(left));
    const Chroma c = MakeChroma(_mm256_maskz_loadu_epi8(chromaBytes, u + j),
                                _mm256_maskz_loadu_epi8(chromaBytes, v + j));
    const uint32_t outBytes = 6 * left;
    TailMasks tail{LowBits(2 * left), {}};
    for (uint32_t t = 0; t < 3; ++t)
        tail.out[t] = LowBits(outBytes > 64 * t ? outBytes - 64 * t : 0);
    ConvertRow64<true>(y0 + 2 * j, c, tail, d0 + 6 * j);
    ConvertRow64<true>(y1 + 2 * j, c, tail, d1 + 6 * j);
}

}  // namespace

const ConvertFn yv12_to_rgb24_avx512 = ConvertRowPairs<Pair, Rows::PairsOrFlipped>;
const ConvertFn yv12_to_rgb24_full_avx512 = kRgb24Full<Pair>;

}  // namespace kestra
