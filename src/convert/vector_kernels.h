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

// RGB 5-6-5. The chroma tables hold trunc(c x d) for d = i - 128; the vector
// form computes floor(|c| x |d|) exactly (colour.h) and puts the sign back,
// which truncates toward zero as the tables do. The packing tables clamp to
// 0..255 and keep the top bits; a saturating pack does the same clamp.
template <class V>
struct Rgb565Kernel {
    using T = typename V::T;

    static T Term(T samples, colour::ShiftMultiply c, bool negative) {
        const T d = V::Sub(samples, V::Set16(colour::kChromaBias));
        const T sign = V::ShiftRightSigned(d, 15);
        const T magnitude = V::Sub(V::Xor(d, sign), sign);
        const T product = V::MulHiUnsigned(V::ShiftLeft(magnitude, 16 - c.shift),
                                           V::Set16(static_cast<int16_t>(c.multiplier)));
        const T s = negative ? V::Xor(sign, V::Set16(-1)) : sign;
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

    static Terms LoadTerms(const uint8_t *u, const uint8_t *v) {
        const T uw = V::LoadWords(u);
        const T vw = V::LoadWords(v);
        Terms t;
        Duplicate(Term(vw, colour::kRedFromV565Vector, false), t.red);
        Duplicate(V::Add(Term(uw, colour::kGreenFromU565Vector, true),
                         Term(vw, colour::kGreenFromV565Vector, true)),
                  t.green);
        Duplicate(Term(uw, colour::kBlueFromU565Vector, false), t.blue);
        return t;
    }

    static T Clamp(T lo, T hi, const T term[2]) {
        return V::PackUnsigned(V::Add(lo, term[0]), V::Add(hi, term[1]));
    }

    static void Row(const uint8_t *yRow, const Terms &t, uint8_t *out) {
        const T y = V::Load(yRow);
        const T lo = V::UnpackLo8(y, V::Zero());
        const T hi = V::UnpackHi8(y, V::Zero());
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

    static void Pair(const uint8_t *y0, const uint8_t *y1, const uint8_t *u, const uint8_t *v,
                     uint8_t *d0, uint8_t *d1, int32_t from, int32_t width) {
        StepsThenTail<V::kBytes, rgb565_pair_c>(y0, y1, u, v, d0, d1, from, width,
                                                [&](uintptr_t j) {
                                                    const Terms t = LoadTerms(u + j, v + j);
                                                    Row(y0 + 2 * j, t, d0 + 4 * j);
                                                    Row(y1 + 2 * j, t, d1 + 4 * j);
                                                });
    }
};

// UYVY: the U/V interleave is formed once and shared by the two rows.
template <class V>
struct UyvyKernel {
    static void Row(const uint8_t *yRow, typename V::T uv, uint8_t *out) {
        const typename V::T y = V::Load(yRow);
        V::StoreUnpacked(out, V::UnpackLo8(uv, y), V::UnpackHi8(uv, y));
    }

    static void Pair(const uint8_t *y0, const uint8_t *y1, const uint8_t *u, const uint8_t *v,
                     uint8_t *d0, uint8_t *d1, int32_t from, int32_t width) {
        StepsThenTail<V::kBytes, uyvy_pair_c>(y0, y1, u, v, d0, d1, from, width, [&](uintptr_t j) {
            const typename V::T uv = V::LoadInterleaved(u + j, v + j);
            Row(y0 + 2 * j, uv, d0 + 4 * j);
            Row(y1 + 2 * j, uv, d1 + 4 * j);
        });
    }
};

// RGB24 on 16-bit lanes. Every table entry is step x (i - bias) in 13-bit
// fixed point. A product p = step x d is split into q = floor(p / 8192)
// (from the high half of (d << 3) x step) and r = p - 8192 q (from the low
// half, 0..8191). The sum of a luma and a chroma term is then
// q1 + q2 + ((r1 + r2) >> 13), exactly the arithmetic shift of the 32-bit
// sum, and the saturating pack to bytes is exactly the clamp to 0..255.
// Store::Bgr(out, b, g, r) interleaves the channel bytes into 3 V::kBytes
// bytes; Store::kPrefetch asks for the lines ahead of each step.
template <class V, class Store>
struct Rgb24Kernel {
    using T = typename V::T;

    struct Split {
        T q, r;
    };

    static Split Product(T d, int32_t step) {
        const T k = V::Set16(static_cast<int16_t>(step));
        const T q = V::MulHi(V::ShiftLeft(d, colour::kSplitShift), k);
        return {q, V::Sub(V::MulLo(d, k), V::ShiftLeft(q, colour::kFixedBits))};
    }

    static Split Sum(Split a, Split b) {
        const T r = V::Add(a.r, b.r);
        const T q = V::Add(V::Add(a.q, b.q), V::ShiftRight(r, colour::kFixedBits));
        return {q, V::And(r, V::Set16(colour::kFractionMask))};
    }

    static void Duplicate(Split s, Split out[2]) {
        out[0] = {V::UnpackLo16(s.q, s.q), V::UnpackLo16(s.r, s.r)};
        out[1] = {V::UnpackHi16(s.q, s.q), V::UnpackHi16(s.r, s.r)};
    }

    struct Chroma {
        Split blue[2];
        Split green[2];  // negated: luma minus the green sum
        Split red[2];
    };

    static Chroma LoadChroma(const uint8_t *u, const uint8_t *v) {
        const T bias = V::Set16(colour::kChromaBias);
        const T du = V::Sub(V::LoadWords(u), bias);
        const T dv = V::Sub(V::LoadWords(v), bias);
        Chroma c;
        Duplicate(Product(du, colour::kBlueFromU), c.blue);
        Duplicate(Sum(Product(du, -colour::kGreenFromU), Product(dv, -colour::kGreenFromV)),
                  c.green);
        Duplicate(Product(dv, colour::kRedFromV), c.red);
        return c;
    }

    // Clamped bytes of floor((luma + chroma) / 8192), the quotients of the sums.
    static T Pack(Split lo, Split hi, const Split chroma[2]) {
        return V::PackUnsigned(Sum(lo, chroma[0]).q, Sum(hi, chroma[1]).q);
    }

    static void Row(const uint8_t *yRow, const Chroma &c, uint8_t *out) {
        const T bias = V::Set16(colour::kLumaBias);
        const T y = V::Load(yRow);
        const Split lo = Product(V::Sub(V::UnpackLo8(y, V::Zero()), bias), colour::kLumaStep);
        const Split hi = Product(V::Sub(V::UnpackHi8(y, V::Zero()), bias), colour::kLumaStep);
        // Blue first: as call arguments GCC would make red first, and SSE2 spills more.
        const T b = Pack(lo, hi, c.blue);
        const T g = Pack(lo, hi, c.green);
        Store::Bgr(out, b, g, Pack(lo, hi, c.red));
    }

    static void Pair(const uint8_t *y0, const uint8_t *y1, const uint8_t *u, const uint8_t *v,
                     uint8_t *d0, uint8_t *d1, int32_t from, int32_t width) {
        StepsThenTail<V::kBytes, rgb24_pair_c>(y0, y1, u, v, d0, d1, from, width, [&](uintptr_t j) {
            const Chroma c = LoadChroma(u + j, v + j);
            if (Store::kPrefetch) {
                PrefetchRgb24Step<V::kBytes>(y0, d0, 2 * j);
                PrefetchRgb24Step<V::kBytes>(y1, d1, 2 * j);
            }
            Row(y0 + 2 * j, c, d0 + 6 * j);
            Row(y1 + 2 * j, c, d1 + 6 * j);
        });
    }
};

// The converters of a level with registers V (and Store for RGB24).
template <class V, class Store>
constexpr ConvertFn kRgb24 = ConvertRowPairs<Rgb24Kernel<V, Store>::Pair, Rows::PairsOrFlipped>;
template <class V>
constexpr ConvertFn kRgb565 = ConvertRowPairs<Rgb565Kernel<V>::Pair, Rows::PairsAndLoneRow>;
template <class V>
constexpr ConvertFn kUyvy = ConvertRowPairs<UyvyKernel<V>::Pair, Rows::PairsAndLoneRow>;

// Byte-shuffle masks that interleave 16 blue, green and red bytes into the
// 48 bytes B0 G0 R0 B1 ...: part k is output bytes 16k..16k+15.
struct Rgb24Masks {
    alignas(16) int8_t b[3][3][16];  // [part][channel]
};

constexpr Rgb24Masks MakeRgb24Masks() {
    Rgb24Masks m{};
    for (int p = 0; p < 48; ++p)
        for (int channel = 0; channel < 3; ++channel)
            m.b[p / 16][channel][p % 16] = static_cast<int8_t>(p % 3 == channel ? p / 3 : -128);
    return m;
}

constexpr Rgb24Masks kRgb24Masks = MakeRgb24Masks();

inline __m128i Rgb24ShuffleMask(int part, int channel) {
    return _mm_load_si128(reinterpret_cast<const __m128i *>(kRgb24Masks.b[part][channel]));
}

}  // namespace
}  // namespace kestra
