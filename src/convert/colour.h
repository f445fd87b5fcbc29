// Every colour constant of the converters: the BT.601 studio-range
// coefficients as the tables hold them, and what the vector kernels derive
// from them. The static_asserts tie each derived constant to the table
// arithmetic it has to reproduce exactly.
#pragma once

#include <cstdint>

namespace kestra {
namespace colour {

constexpr int32_t kLumaBias = 16;
constexpr int32_t kChromaBias = 128;
constexpr uint8_t kGrey = 0x80;  // chroma of a column that has no sample

// RGB24: each table entry is step x (i - bias) in 13-bit fixed point.
constexpr int kFixedBits = 13;
constexpr int32_t kFixedOne = 1 << kFixedBits;
constexpr int32_t kLumaStep = 9535;
constexpr int32_t kBlueFromU = 16531;
constexpr int32_t kGreenFromU = 3203;
constexpr int32_t kGreenFromV = 6660;
constexpr int32_t kRedFromV = 13074;

// The SSE2 and AVX2 kernels split a product p = step x d into
// floor(p / 8192), the high half of (d << kSplitShift) x step, and the
// remainder p mod 8192, which fits the low 13 bits of a 16-bit lane.
constexpr int kSplitShift = 16 - kFixedBits;
constexpr int16_t kFractionMask = kFixedOne - 1;
static_assert(kLumaStep < 32768 && kBlueFromU < 32768 && kRedFromV < 32768,
              "every step (the green ones are smaller) is a 16-bit multiplier");
static_assert(((255 - kLumaBias) << kSplitShift) < 32768, "a shifted sample stays signed 16-bit");

// AVX-512 folds the luma bias and the chroma bias of a channel into one
// affine chroma term: step x (s + offset) + 8192 x quotient.
struct Affine {
    int16_t offset;
    int16_t quotient;
};
constexpr Affine kBlueAffine{-720, 1176};
constexpr Affine kGreenAffine{720, 417};  // of -kGreenFromU, negated green
constexpr Affine kRedAffine{-1208, 1705};
constexpr int32_t kLumaConstant = -kLumaStep * kLumaBias;
constexpr int32_t Folded(int32_t step, Affine a) {
    return step * a.offset + kFixedOne * a.quotient;
}
static_assert(Folded(kBlueFromU, kBlueAffine) == kLumaConstant - kBlueFromU * kChromaBias,
              "blue bias");
static_assert(Folded(-kGreenFromU, kGreenAffine) ==
                  kLumaConstant + (kGreenFromU + kGreenFromV) * kChromaBias,
              "green bias");
static_assert(Folded(kRedFromV, kRedAffine) == kLumaConstant - kRedFromV * kChromaBias, "red bias");

// RGB 5-6-5: chroma tables hold trunc(c x d) for d = i - 128 (the green
// coefficients are negative in the tables).
constexpr double kRedFromV565 = 1.4013377926421404;
constexpr double kGreenFromV565 = 0.7136038186157518;
constexpr double kGreenFromU565 = 0.34441087613293053;
constexpr double kBlueFromU565 = 1.7734138972809665;

// The vector form of a coefficient: floor(c x |d|) = (multiplier x |d|) >> shift,
// from the high half of (|d| << (16 - shift)) x multiplier.
struct ShiftMultiply {
    int shift;
    int multiplier;
};
constexpr ShiftMultiply kRedFromV565Vector{9, 717};
constexpr ShiftMultiply kGreenFromV565Vector{10, 731};
constexpr ShiftMultiply kGreenFromU565Vector{13, 2821};
constexpr ShiftMultiply kBlueFromU565Vector{14, 29055};

constexpr bool Reproduces(double c, ShiftMultiply m) {
    if ((kChromaBias << (16 - m.shift)) > 0xFFFF || m.multiplier > 0xFFFF) return false;
    for (int d = 0; d <= kChromaBias; ++d)
        if (static_cast<int32_t>(c * d) != (m.multiplier * d) >> m.shift) return false;
    return true;
}
static_assert(Reproduces(kRedFromV565, kRedFromV565Vector), "red from V");
static_assert(Reproduces(kGreenFromV565, kGreenFromV565Vector), "green from V");
static_assert(Reproduces(kGreenFromU565, kGreenFromU565Vector), "green from U");
static_assert(Reproduces(kBlueFromU565, kBlueFromU565Vector), "blue from U");

// The 5-6-5 fields; the vector kernels build the high byte RRRRRGGG and the
// low byte GGGBBBBB from the clamped channel bytes.
constexpr uint32_t kRedMask565 = 0xF800;
constexpr uint32_t kGreenMask565 = 0x07E0;
constexpr uint32_t kBlueMask565 = 0x001F;
constexpr uint8_t kRedHigh = kRedMask565 >> 8;       // of red, unshifted
constexpr uint8_t kGreenHigh = kGreenMask565 >> 8;   // of green >> 5
constexpr uint8_t kGreenLow = kGreenMask565 & 0xFF;  // of green << 3
constexpr uint8_t kBlueLow = kBlueMask565;           // of blue >> 3
static_assert((0xF8 << 8) == kRedMask565 && (0xFC << 3) == kGreenMask565 &&
                  (0xF8 >> 3) == kBlueMask565,
              "each field keeps the top bits of its channel, as those shifts place them");

}  // namespace colour
}  // namespace kestra
