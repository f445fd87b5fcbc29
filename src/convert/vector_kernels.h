// The SSE2, SSSE3 and AVX2 converters, written once over a register type V
// (vectors.h) and instantiated by each ISA file with its own flags.
// A step converts V::kBytes pixels of both rows of a pair, sharing the chroma.
#pragma once

#include <emmintrin.h>

#include <cstdint>

#include "convert/colour.h"
#include "convert/convert.h"
#include "convert/row_walk.h"

namespace kestra {
namespace {

// RGB 5-6-5. The tables hold trunc(c x d) for d = sample - 128; the vector
// form computes floor(|c| x |d|) exactly (colour.h) and puts the sign back,
// which truncates toward zero as the tables do. The packing tables clamp to
// 0..255 and keep the top bits; a saturating pack does the same clamp. Luma
// is the sample itself in the default record and in full range; studio
// range stretches it with one multiply, its offset riding on the chroma.
template <class V>
struct Rgb565Kernel {
    using T = typename V::T;

    // One chroma coefficient of the record as a register.
    struct Coefficient {
        T multiplier;
    };

    static Coefficient Make(colour::ShiftMultiply c) {
        return {V::Set16(static_cast<int16_t>(c.multiplier))};
    }

    struct Coefficients {
        T lumaStep, lumaOffset;
        Coefficient red, greenU, greenV, blue;
    };

    static Coefficients Load(const colour::Record &r) {
        return {V::Set16(static_cast<int16_t>(r.lumaStep565)),
                V::Set16(static_cast<int16_t>(r.lumaOffset565)),
                Make(r.redFromV565Vector),
                Make(r.greenFromU565Vector),
                Make(r.greenFromV565Vector),
                Make(r.blueFromU565Vector)};
    }

    // The green terms are negative in the tables.
    template <bool kNegative = false>
    static T Term(T samples, const Coefficient &c) {
        const T d = V::Sub(samples, V::Set16(colour::kChromaBias));
        const T sign = V::ShiftRightSigned(d, 15);
        const T magnitude = V::Sub(V::Xor(d, sign), sign);
        const T product =
            V::MulHiUnsigned(V::ShiftLeft(magnitude, 16 - colour::kShift565), c.multiplier);
        const T s = kNegative ? V::Xor(sign, V::Set16(-1)) : sign;
        return V::Sub(V::Xor(product, s), s);
    }

    // Each term duplicated for a block's two columns: [0] the low unpack of
    // the luma, [1] the high one.
    struct Terms {
        T red[2], green[2], blue[2];
    };

    static void Duplicate(T t, T out[2]) {
        out[0] = V::UnpackLo16(t, t);
        out[1] = V::UnpackHi16(t, t);
    }

    template <bool kLumaTerm>
    static Terms LoadTerms(const uint8_t *u, const uint8_t *v, const Coefficients &k) {
        const T uw = V::LoadWords(u);
        const T vw = V::LoadWords(v);
        T red = Term(vw, k.red);
        T green = V::Add(Term<true>(uw, k.greenU), Term<true>(vw, k.greenV));
        T blue = Term(uw, k.blue);
        if (kLumaTerm) {
            red = V::Sub(red, k.lumaOffset);
            green = V::Sub(green, k.lumaOffset);
            blue = V::Sub(blue, k.lumaOffset);
        }
        Terms t;
        Duplicate(red, t.red);
        Duplicate(green, t.green);
        Duplicate(blue, t.blue);
        return t;
    }

    static T Clamp(T lo, T hi, const T term[2]) {
        return V::PackUnsigned(V::Add(lo, term[0]), V::Add(hi, term[1]));
    }

    template <bool kLumaTerm>
    static void Row(const uint8_t *yRow, const Terms &t, const Coefficients &k, uint8_t *out) {
        const T y = V::Load(yRow);
        T lo, hi;
        if (kLumaTerm) {
            // y << 8 straight from the unpack; the high half of its product.
            lo = V::MulHiUnsigned(V::UnpackLo8(V::Zero(), y), k.lumaStep);
            hi = V::MulHiUnsigned(V::UnpackHi8(V::Zero(), y), k.lumaStep);
        } else {
            lo = V::UnpackLo8(y, V::Zero());
            hi = V::UnpackHi8(y, V::Zero());
        }
        const T r = Clamp(lo, hi, t.red);
        const T g = Clamp(lo, hi, t.green);
        const T b = Clamp(lo, hi, t.blue);
        // 16-bit shifts, then byte masks.
        const T high = V::Or(V::And(r, V::Set8(colour::kRedHigh)),
                             V::And(V::ShiftRight(g, 5), V::Set8(colour::kGreenHigh)));
        const T low = V::Or(V::And(V::ShiftLeft(g, 3), V::Set8(colour::kGreenLow)),
                            V::And(V::ShiftRight(b, 3), V::Set8(colour::kBlueLow)));
        V::StoreUnpacked(out, V::UnpackLo8(low, high), V::UnpackHi8(low, high));
    }

    template <bool kLumaTerm>
    static void Steps(const uint8_t *y0, const uint8_t *y1, const uint8_t *u, const uint8_t *v,
                      uint8_t *d0, uint8_t *d1, int32_t from, int32_t width,
                      const colour::Record &colour) {
        const Coefficients k = Load(colour);
        StepsThenTail<V::kBytes, rgb565_pair_c>(
            y0, y1, u, v, d0, d1, from, width, colour, [&](uintptr_t j) {
                const Terms t = LoadTerms<kLumaTerm>(u + j, v + j, k);
                Row<kLumaTerm>(y0 + 2 * j, t, k, d0 + 4 * j);
                Row<kLumaTerm>(y1 + 2 * j, t, k, d1 + 4 * j);
            });
    }

    static void Pair(const uint8_t *y0, const uint8_t *y1, const uint8_t *u, const uint8_t *v,
                     uint8_t *d0, uint8_t *d1, int32_t from, int32_t width,
                     const colour::Record &colour) {
        if (colour.PlainLuma565()) {
            Steps<false>(y0, y1, u, v, d0, d1, from, width, colour);
        } else {
            Steps<true>(y0, y1, u, v, d0, d1, from, width, colour);
        }
    }
};

// UYVY: the U/V interleave is formed once and shared by the two rows. A step
// takes two of its registers (64 pixels at AVX2: a line of luma, two of
// output), so that with kPrefetch, asking for luma, chroma and output
// kUyvyPrefetchPixels ahead, it asks for most lines once rather than twice.
template <class V>
struct UyvyKernel {
    static constexpr int32_t kStepPixels = 2 * V::kBytes;

    static void Row(const uint8_t *yRow, typename V::T uv, uint8_t *out) {
        const typename V::T y = V::UyvyLuma(yRow);
        V::Store(out, V::UnpackLo8(uv, y));
        V::Store(out + V::kBytes, V::UnpackHi8(uv, y));
    }

    // Row 1 takes the interleave row 0 kept (RowsInTurn).
    template <bool kPrefetch>
    static void Pair(const uint8_t *y0, const uint8_t *y1, const uint8_t *u, const uint8_t *v,
                     uint8_t *d0, uint8_t *d1, int32_t from, int32_t width,
                     const colour::Record &colour) {
        constexpr uintptr_t kHalf = V::kBytes / 2;  // blocks of one register
        uint8_t kept[kTurnPixels / V::kBytes][V::kBytes];
        RowsInTurn<kStepPixels, uyvy_pair_c>(
            y0, y1, u, v, d0, d1, from, width, colour,
            [&](uintptr_t j, uintptr_t slot) {
                if (kPrefetch) {
                    PrefetchStep<2, kStepPixels, kUyvyPrefetchPixels>(y0, d0, 2 * j);
                    PrefetchChroma<kUyvyPrefetchPixels>(u, v, j);
                }
                for (uintptr_t h = 0; h < 2; ++h) {
                    const uintptr_t b = j + h * kHalf;
                    const typename V::T uv = V::UyvyChroma(u + b, v + b);
                    V::Store(kept[2 * slot + h], uv);
                    Row(y0 + 2 * b, uv, d0 + 4 * b);
                }
            },
            [&](uintptr_t j, uintptr_t slot) {
                if (kPrefetch) PrefetchStep<2, kStepPixels, kUyvyPrefetchPixels>(y1, d1, 2 * j);
                for (uintptr_t h = 0; h < 2; ++h) {
                    const uintptr_t b = j + h * kHalf;
                    Row(y1 + 2 * b, V::Load(kept[2 * slot + h]), d1 + 4 * b);
                }
            });
    }
};

// RGB24 on 16-bit lanes, at every level from SSE2 to AVX-512 (which has its
// own walk and stores). A 13-bit fixed-point value x is held as its quotient
// q = floor(x / 8192) and its fraction r8 = 8 (x - 8192 q), an unsigned word,
// so that both come from one multiply each: the high and low halves of
// 8 d x step. Luma is split into even and odd columns (words of 8 y straight
// from the bytes), so each chroma word lines up with one word of either half
// and is never duplicated. Every bias and the rounding sit in the chroma terms
// (colour.h checks the sums). A channel is the two quotients plus the carry of
// the fractions, found by one compare against a limit made once per chroma
// sample: exactly floor of the 32-bit sum / 8192, and the saturating pack is
// exactly the clamp to 0..255. Channels come out as bytes of the even columns,
// then the odd ones, in each 16-pixel lane; Store::Bgr interleaves three such
// registers into 3 V::kBytes bytes, and Store::kPrefetch asks for the lines
// ahead of each step.
template <class V, class Store>
struct Rgb24Kernel {
    using T = typename V::T;

    struct Split {
        T q, r8;
    };

    // The record's steps and affine terms as registers, made once a row pair.
    struct Affine {
        T step, offset8, quotient;
    };
    struct Coefficients {
        T luma;
        Affine blue, green, red;  // green's step is -greenFromU
        T greenFromV;             // negated
    };

    static Affine MakeAffine(int32_t step, colour::Affine a) {
        return {V::Set16(static_cast<int16_t>(step)), V::Set16(static_cast<int16_t>(8 * a.offset)),
                V::Set16(a.quotient)};
    }

    static Coefficients Load(const colour::Record &r) {
        return {V::Set16(static_cast<int16_t>(r.lumaStep)), MakeAffine(r.blueFromU, r.blueAffine),
                MakeAffine(-r.greenFromU, r.greenAffine), MakeAffine(r.redFromV, r.redAffine),
                V::Set16(static_cast<int16_t>(-r.greenFromV))};
    }

    // step x d for words d8 = 8 d.
    static Split Product8(T d8, T step) { return {V::MulHi(d8, step), V::MulLo(d8, step)}; }

    // step x s + bias for words s8 = 8 s, the bias adding to the quotient only.
    static Split Affine8(T s8, const Affine &a) {
        const Split p = Product8(V::Add(s8, a.offset8), a.step);
        return {V::Add(p.q, a.quotient), p.r8};
    }

    static Split Add(Split a, Split b) {
        const T q = V::CarryInto(V::Add(a.q, b.q), V::ForCompare(a.r8), V::CarryLimit(b.r8));
        return {q, V::Add(a.r8, b.r8)};
    }

    // A chroma term for the luma lanes: its quotient and its carry limit.
    struct Term {
        T q, limit;
    };
    static Term Ready(Split s) { return {s.q, V::CarryLimit(s.r8)}; }

    struct Chroma {
        Term blue, green, red;  // green is negated: luma minus the green sum
    };

    // From the chroma samples as words.
    static Chroma MakeChroma(T uWords, T vWords, const Coefficients &k) {
        const T u8 = V::ShiftLeft(uWords, 3);
        const T v8 = V::ShiftLeft(vWords, 3);
        return {Ready(Affine8(u8, k.blue)),
                Ready(Add(Affine8(u8, k.green), Product8(v8, k.greenFromV))),
                Ready(Affine8(v8, k.red))};
    }

    // Luma of one column parity: quotient and compare-ready fraction.
    static Split Luma(T y8, const Coefficients &k) {
        const Split p = Product8(y8, k.luma);
        return {p.q, V::ForCompare(p.r8)};
    }

    static T Channel(Split luma, const Term &c) {
        return V::CarryInto(V::Add(luma.q, c.q), luma.r8, c.limit);
    }

    // The three channels of V::kBytes luma bytes, each packed even columns
    // first.
    struct Bgr {
        T b, g, r;
    };
    static Bgr Channels(T y, const Chroma &c, const Coefficients &k) {
        const Split even = Luma(V::EvenBytes8(y), k);
        const Split odd = Luma(V::OddBytes8(y), k);
        return {V::PackUnsigned(Channel(even, c.blue), Channel(odd, c.blue)),
                V::PackUnsigned(Channel(even, c.green), Channel(odd, c.green)),
                V::PackUnsigned(Channel(even, c.red), Channel(odd, c.red))};
    }

    static void Row(const uint8_t *yRow, const Chroma &c, const Coefficients &k, uint8_t *out) {
        const Bgr p = Channels(V::Load(yRow), c, k);
        Store::Bgr(out, p.b, p.g, p.r);
    }

    static void Pair(const uint8_t *y0, const uint8_t *y1, const uint8_t *u, const uint8_t *v,
                     uint8_t *d0, uint8_t *d1, int32_t from, int32_t width,
                     const colour::Record &colour) {
        const Coefficients k = Load(colour);
        StepsThenTail<V::kBytes, rgb24_pair_c>(
            y0, y1, u, v, d0, d1, from, width, colour, [&](uintptr_t j) {
                const Chroma c = MakeChroma(V::LoadWords(u + j), V::LoadWords(v + j), k);
                if (Store::kPrefetch) {
                    PrefetchStep<3, V::kBytes>(y0, d0, 2 * j);
                    PrefetchStep<3, V::kBytes>(y1, d1, 2 * j);
                }
                Row(y0 + 2 * j, c, k, d0 + 6 * j);
                Row(y1 + 2 * j, c, k, d1 + 6 * j);
            });
    }
};

// The converters of a level with registers V (and Store for RGB24).
template <class V, class Store>
constexpr LevelConvertFn kRgb24 = ConvertAnySize<Rgb24Kernel<V, Store>::Pair, Rows::PairsOrFlipped>;
template <class V>
constexpr LevelConvertFn kRgb565 = ConvertAnySize<Rgb565Kernel<V>::Pair, Rows::PairsAndLoneRow>;
// UYVY frames whose output is larger than the L2 cache (prefetchingBytes) go
// through kLarge, which asks for its lines ahead; smaller ones through kSmall.
template <RowPairFn kSmall, RowPairFn kLarge>
void ConvertUyvyPrefetchingLarge(const uint8_t *y, int32_t yStride, const uint8_t *u,
                                 const uint8_t *v, int32_t uvStride, uint8_t *dst,
                                 int32_t dstStride, int32_t width, int32_t height,
                                 const colour::Record &colour, OutputThresholds thresholds) {
    if (OutputBytes(dstStride, height) > thresholds.prefetchingBytes) {
        ConvertRowPairs<kLarge, Rows::PairsAndLoneRow>(y, yStride, u, v, uvStride, dst, dstStride,
                                                       width, height, colour);
    } else {
        ConvertRowPairs<kSmall, Rows::PairsAndLoneRow>(y, yStride, u, v, uvStride, dst, dstStride,
                                                       width, height, colour);
    }
}
template <class V>
constexpr LevelConvertFn kUyvy = ConvertUyvyPrefetchingLarge<UyvyKernel<V>::template Pair<false>,
                                                             UyvyKernel<V>::template Pair<true>>;

// Where the kernel's packs put pixel p of a 16-pixel lane: even columns in
// bytes 0-7, odd ones in 8-15.
constexpr int PackedByte(int p) { return p % 2 * 8 + p / 2; }

// Byte-shuffle masks that interleave 16 blue, green and red bytes, each in
// that packed order, into the 48 bytes B0 G0 R0 B1 ...: part k is output
// bytes 16k..16k+15.
struct Rgb24Masks {
    alignas(16) int8_t b[3][3][16];  // [part][channel]
};

constexpr Rgb24Masks MakeRgb24Masks() {
    Rgb24Masks m{};
    for (int p = 0; p < 48; ++p)
        for (int channel = 0; channel < 3; ++channel)
            m.b[p / 16][channel][p % 16] =
                static_cast<int8_t>(p % 3 == channel ? PackedByte(p / 3) : -128);
    return m;
}

constexpr Rgb24Masks kRgb24Masks = MakeRgb24Masks();

inline __m128i Rgb24ShuffleMask(int part, int channel) {
    return _mm_load_si128(reinterpret_cast<const __m128i *>(kRgb24Masks.b[part][channel]));
}

}  // namespace
}  // namespace kestra
