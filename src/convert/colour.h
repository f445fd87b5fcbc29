// Colour as data: one record per matrix and range, holding the coefficients
// the tables, the vector kernels and the Direct3D 11 shader all compute with,
// and the forms the vector kernels derive from them. The static_asserts tie
// every derived constant to the table arithmetic it has to reproduce exactly.
#pragma once

#include <cstdint>

namespace kestra {
namespace colour {

enum class Matrix : int32_t { Bt601 = 0, Bt709 = 1 };
enum class Range : int32_t { Studio = 0, Full = 1 };

constexpr int32_t kChromaBias = 128;
constexpr uint8_t kGrey = 0x80;  // chroma of a column that has no sample

// RGB24 works in 13-bit fixed point.
constexpr int kFixedBits = 13;
constexpr int32_t kFixedOne = 1 << kFixedBits;

// The SSE2, AVX2 and AVX-512 kernels split a product p = step x d into
// floor(p / 8192), the high half of (d << kSplitShift) x step, and the
// remainder p mod 8192, which fits the low 13 bits of a 16-bit lane.
constexpr int kSplitShift = 16 - kFixedBits;

// The kernels fold the luma bias and the chroma bias of a channel into one
// affine chroma term: step x (s + offset) + 8192 x quotient, with
// 8 x (s + offset) a signed 16-bit word for every sample s.
struct Affine {
    int16_t offset;
    int16_t quotient;
};

// The vector form of a 5-6-5 coefficient: trunc(c x |d|) =
// (multiplier x |d|) >> shift, from the high half of
// (|d| << (16 - shift)) x multiplier.
struct ShiftMultiply {
    int shift;
    int multiplier;
};
// One shift serves every coefficient of every record (up to 4, exact to
// |d| = 128), so the kernels shift by a constant.
constexpr int kShift565 = 14;

// The standard's equations, in doubles: a channel is
// luma x (y - lumaBias) plus the chroma terms of d = sample - 128.
struct Equations {
    double luma, lumaBias;
    double redFromV, greenFromU, greenFromV, blueFromU;
};

struct Record {
    Matrix matrix;
    Range range;
    Equations exact;

    // RGB24: a channel is (lumaStep x (y - lumaBias) + rounding + the chroma
    // steps x d) >> 13, clamped; green subtracts its two terms.
    int32_t lumaStep, lumaBias, rounding;
    int32_t blueFromU, greenFromU, greenFromV, redFromV;
    // The biases folded into the chroma terms (green negated).
    Affine blueAffine, greenAffine, redAffine;

    // RGB 5-6-5: a channel is the luma term (y x lumaStep565) / 256 (floored)
    // - lumaOffset565, plus trunc(c x d) of each chroma term, clamped and cut
    // to its field. The kernels take the luma term from the high half of
    // (y << 8) x lumaStep565, and fold the offset into the chroma terms.
    int32_t lumaStep565, lumaOffset565;
    double redFromV565, greenFromV565, greenFromU565, blueFromU565;
    ShiftMultiply redFromV565Vector, greenFromV565Vector, greenFromU565Vector, blueFromU565Vector;

    constexpr int32_t LumaConstant() const { return rounding - lumaStep * lumaBias; }
    // 5-6-5 luma that is the sample itself: the kernels skip its multiply.
    constexpr bool PlainLuma565() const { return lumaStep565 == 256 && lumaOffset565 == 0; }
    constexpr int Index() const { return 2 * static_cast<int>(range) + static_cast<int>(matrix); }
};

constexpr int kRecordCount = 4;

namespace derive {

// Luma weights of red and blue.
struct Weights {
    double red, blue;
};
constexpr Weights kBt601{0.299, 0.114};
constexpr Weights kBt709{0.2126, 0.0722};

constexpr Equations StandardEquations(Weights w, Range range) {
    const bool studio = range == Range::Studio;
    const double chroma = studio ? 255.0 / 224 : 1.0;
    const double green = 1 - w.red - w.blue;
    return {studio ? 255.0 / 219 : 1.0,
            studio ? 16.0 : 0.0,
            2 * (1 - w.red) * chroma,
            2 * (1 - w.blue) * w.blue / green * chroma,
            2 * (1 - w.red) * w.red / green * chroma,
            2 * (1 - w.blue) * chroma};
}

// Nearest for x >= 0 (std::lround is not constexpr).
constexpr int32_t Nearest(double x) {
    const int32_t whole = static_cast<int32_t>(x);
    return x - whole < 0.5 ? whole : whole + 1;
}

constexpr int32_t Fixed(double c) { return Nearest(c * kFixedOne); }

constexpr bool Fits16(int32_t x) { return x >= -32768 && x <= 32767; }

// step x (s + offset) + 8192 x quotient == constant - step x 128; quotient
// 0x7FFF marks "none" (the static_asserts below catch it).
constexpr Affine SolveAffine(int32_t step, int32_t constant) {
    const int32_t target = constant - step * kChromaBias;
    for (int32_t offset = -4096; offset <= 4095 - 255; ++offset) {
        const int32_t rest = target - step * offset;
        if (rest % kFixedOne == 0 && Fits16(rest / kFixedOne) && rest / kFixedOne != 0x7FFF)
            return {static_cast<int16_t>(offset), static_cast<int16_t>(rest / kFixedOne)};
    }
    return {0, 0x7FFF};
}

constexpr bool Reproduces(double c, ShiftMultiply m, int maxD) {
    if (m.shift < 0 || m.shift > 16 || (maxD << (16 - m.shift)) > 0xFFFF || m.multiplier < 0 ||
        m.multiplier > 0xFFFF) {
        return false;
    }
    for (int d = 0; d <= maxD; ++d)
        if (static_cast<int32_t>(c * d) != (m.multiplier * d) >> m.shift) return false;
    return true;
}

// The multiplier that reproduces trunc(c x d) for |d| <= maxD at the
// kernels' one shift.
constexpr ShiftMultiply SolveShiftMultiply(double c, int maxD) {
    const int floor = static_cast<int>(c * (1 << kShift565));
    for (int m = floor; m <= floor + 1; ++m)
        if (Reproduces(c, {kShift565, m}, maxD)) return {kShift565, m};
    return {-1, 0};
}

constexpr bool Solved(Affine a) { return a.quotient != 0x7FFF; }

// Fills in the forms the kernels use from the coefficients. A rounding term
// that leaves some affine term without a word-sized offset is moved by the
// least that gives all three one: a change of a few 8192ths, where half of
// 8192 itself can be the one value that fails.
constexpr Record Complete(Record r) {
    const int32_t wanted = r.rounding;
    for (int32_t step = 0; step < 64; ++step) {
        r.rounding = wanted + (step % 2 ? -(step + 1) / 2 : step / 2);
        r.blueAffine = SolveAffine(r.blueFromU, r.LumaConstant());
        r.greenAffine = SolveAffine(-r.greenFromU, r.LumaConstant() + r.greenFromV * kChromaBias);
        r.redAffine = SolveAffine(r.redFromV, r.LumaConstant());
        if (Solved(r.blueAffine) && Solved(r.greenAffine) && Solved(r.redAffine)) break;
    }
    r.redFromV565Vector = SolveShiftMultiply(r.redFromV565, kChromaBias);
    r.greenFromV565Vector = SolveShiftMultiply(r.greenFromV565, kChromaBias);
    r.greenFromU565Vector = SolveShiftMultiply(r.greenFromU565, kChromaBias);
    r.blueFromU565Vector = SolveShiftMultiply(r.blueFromU565, kChromaBias);
    return r;
}

// A record's integer steps: RGB24's, then 5-6-5's luma step and offset.
struct Steps {
    int32_t luma, lumaBias, rounding, blueFromU, greenFromU, greenFromV, redFromV;
    int32_t luma565, lumaOffset565;
};

// The record of `steps`, with the 5-6-5 chroma coefficients of `chroma565`.
constexpr Record Make(Matrix matrix, Range range, const Steps &steps, const Equations &chroma565) {
    Record r{};
    r.matrix = matrix;
    r.range = range;
    r.exact = StandardEquations(matrix == Matrix::Bt709 ? kBt709 : kBt601, range);
    r.lumaStep = steps.luma;
    r.lumaBias = steps.lumaBias;
    r.rounding = steps.rounding;
    r.blueFromU = steps.blueFromU;
    r.greenFromU = steps.greenFromU;
    r.greenFromV = steps.greenFromV;
    r.redFromV = steps.redFromV;
    r.lumaStep565 = steps.luma565;
    r.lumaOffset565 = steps.lumaOffset565;
    r.redFromV565 = chroma565.redFromV;
    r.greenFromV565 = chroma565.greenFromV;
    r.greenFromU565 = chroma565.greenFromU;
    r.blueFromU565 = chroma565.blueFromU;
    return Complete(r);
}

// Every record but the default: the standard's equations, rounded to
// nearest in 13-bit fixed point.
constexpr Record FromStandard(Matrix matrix, Range range) {
    const Equations e = StandardEquations(matrix == Matrix::Bt709 ? kBt709 : kBt601, range);
    const int32_t bias = static_cast<int32_t>(e.lumaBias);
    // 5-6-5 luma in 8.8 fixed point; the floored term loses half a level on
    // average, which the offset's truncation gives back.
    const int32_t step565 = Nearest(e.luma * 256);
    const int32_t offset565 = static_cast<int32_t>(step565 * bias / 256.0);
    return Make(matrix, range,
                {Fixed(e.luma), bias, kFixedOne / 2, Fixed(e.blueFromU), Fixed(e.greenFromU),
                 Fixed(e.greenFromV), Fixed(e.redFromV), step565, offset565},
                e);
}

// BT.601 studio range is every host's picture: the three-decimal
// coefficients the tables have always held, truncated sums, and for 5-6-5 the
// contract's own arithmetic, which takes luma without a stretch.
constexpr Record Bt601StudioAsEver() {
    return Make(Matrix::Bt601, Range::Studio, {9535, 16, 0, 16531, 3203, 6660, 13074, 256, 0},
                {1.0, 16.0, 1.4013377926421404, 0.34441087613293053, 0.7136038186157518,
                 1.7734138972809665});
}

}  // namespace derive

// By Record::Index(); inline, so that every file sees one record at one
// address.
inline constexpr Record kRecords[kRecordCount] = {
    derive::Bt601StudioAsEver(),
    derive::FromStandard(Matrix::Bt709, Range::Studio),
    derive::FromStandard(Matrix::Bt601, Range::Full),
    derive::FromStandard(Matrix::Bt709, Range::Full),
};
inline constexpr const Record &kBt601Studio = kRecords[0];

// What a DirectDraw YUV surface's blit makes of the samples. Display drivers
// convert as BT.601 studio range; Wine's converts as full range, with its own
// rounded coefficients (1.403, 0.344, 0.714, 1.770).
enum class Blit { Bt601Studio = 0, Wine = 1 };
constexpr int kBlitCount = 2;
inline constexpr Equations kBlits[kBlitCount] = {
    derive::StandardEquations(derive::kBt601, Range::Studio),
    {1.0, 0.0, 1.403, 0.344, 0.714, 1.770},
};

// The record of a host's values (0 BT.601 / 1 BT.709, 0 studio / 1 full), or
// nullptr for any other.
constexpr const Record *Find(int32_t matrix, int32_t range) {
    if (matrix < 0 || matrix > 1 || range < 0 || range > 1) return nullptr;
    return &kRecords[2 * range + matrix];
}

constexpr bool Exact(const Record &r) {
    auto folded = [](int32_t step, Affine a) { return step * a.offset + kFixedOne * a.quotient; };
    const int32_t luma = r.LumaConstant();
    auto word = [](Affine a) { return 8 * (a.offset) >= -32768 && 8 * (a.offset + 255) <= 32767; };
    const bool affine = derive::Solved(r.blueAffine) && derive::Solved(r.greenAffine) &&
                        derive::Solved(r.redAffine) && word(r.blueAffine) && word(r.greenAffine) &&
                        word(r.redAffine) &&
                        folded(r.blueFromU, r.blueAffine) == luma - r.blueFromU * kChromaBias &&
                        folded(-r.greenFromU, r.greenAffine) ==
                            luma + (r.greenFromU + r.greenFromV) * kChromaBias &&
                        folded(r.redFromV, r.redAffine) == luma - r.redFromV * kChromaBias;
    // Every step (and 8 x a sample, as the kernels hold it) is a signed
    // 16-bit multiplier.
    const bool steps = r.lumaStep < 32768 && r.blueFromU < 32768 && r.redFromV < 32768 &&
                       r.greenFromU < 32768 && r.greenFromV < 32768 && (255 << kSplitShift) < 32768;
    // The luma term's y << 8 is a 16-bit word, and so is its product.
    const bool vectors565 =
        r.lumaStep565 > 0 && r.lumaStep565 <= 0xFFFF && (255 * r.lumaStep565) >> 8 < 32768 &&
        derive::Reproduces(r.redFromV565, r.redFromV565Vector, kChromaBias) &&
        derive::Reproduces(r.greenFromV565, r.greenFromV565Vector, kChromaBias) &&
        derive::Reproduces(r.greenFromU565, r.greenFromU565Vector, kChromaBias) &&
        derive::Reproduces(r.blueFromU565, r.blueFromU565Vector, kChromaBias);
    return affine && steps && vectors565 && r.Index() == static_cast<int>(&r - kRecords);
}
static_assert(Exact(kRecords[0]), "BT.601 studio range");
static_assert(Exact(kRecords[1]), "BT.709 studio range");
static_assert(Exact(kRecords[2]), "BT.601 full range");
static_assert(Exact(kRecords[3]), "BT.709 full range");

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
