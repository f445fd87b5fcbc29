// Registers for the shared vector kernels: the operations the kernels use,
// named once for both widths. Vec256 (AVX2) unpacks and packs within 128-bit
// lanes: 16-bit lanes loaded in order duplicate into the layout of an
// unpacked byte register (pixels 0-7|16-23 and 8-15|24-31), a pack puts bytes
// back in order, and only StoreUnpacked and UYVY's loads cross lanes.
#pragma once

#include <immintrin.h>

#include <cstdint>

#include "convert/row_walk.h"

// The operations whose intrinsics differ only in their prefix P (_mm or
// _mm256) and whole-register suffix S (si128 or si256).
#define KESTRA_VECTOR_OPS(P, S)                                                               \
    static T Zero() { return P##_setzero_##S(); }                                             \
    static T Set16(int16_t x) { return P##_set1_epi16(x); }                                   \
    static T Set8(uint8_t x) { return P##_set1_epi8(static_cast<char>(x)); }                  \
    static T Load(const uint8_t *p) { return P##_loadu_##S(reinterpret_cast<const T *>(p)); } \
    static void Store(uint8_t *p, T a) { P##_storeu_##S(reinterpret_cast<T *>(p), a); }       \
    static T Add(T a, T b) { return P##_add_epi16(a, b); }                                    \
    static T Sub(T a, T b) { return P##_sub_epi16(a, b); }                                    \
    static T MulLo(T a, T b) { return P##_mullo_epi16(a, b); }                                \
    static T MulHi(T a, T b) { return P##_mulhi_epi16(a, b); }                                \
    static T MulHiUnsigned(T a, T b) { return P##_mulhi_epu16(a, b); }                        \
    static T CompareGreater(T a, T b) { return P##_cmpgt_epi16(a, b); }                       \
    static T ShiftLeft(T a, int n) { return P##_slli_epi16(a, n); }                           \
    static T ShiftRight(T a, int n) { return P##_srli_epi16(a, n); }                          \
    static T ShiftRightSigned(T a, int n) { return P##_srai_epi16(a, n); }                    \
    static T And(T a, T b) { return P##_and_##S(a, b); }                                      \
    static T Or(T a, T b) { return P##_or_##S(a, b); }                                        \
    static T Xor(T a, T b) { return P##_xor_##S(a, b); }                                      \
    static T UnpackLo8(T a, T b) { return P##_unpacklo_epi8(a, b); }                          \
    static T UnpackHi8(T a, T b) { return P##_unpackhi_epi8(a, b); }                          \
    static T UnpackLo16(T a, T b) { return P##_unpacklo_epi16(a, b); }                        \
    static T UnpackHi16(T a, T b) { return P##_unpackhi_epi16(a, b); }                        \
    static T PackUnsigned(T a, T b) { return P##_packus_epi16(a, b); }                        \
    static T Set32(int32_t x) { return P##_set1_epi32(x); }                                   \
    static T Add32(T a, T b) { return P##_add_epi32(a, b); }                                  \
    static T MulAddPairs(T a, T b) { return P##_madd_epi16(a, b); }                           \
    static T ShiftRightSigned32(T a, int n) { return P##_srai_epi32(a, n); }                  \
    static T PackSigned32(T a, T b) { return P##_packs_epi32(a, b); }                         \
    /* Unsigned a > b, as the signed compare of both with the top bit flipped: */             \
    /* ForCompare flips it, and CarryLimit(b) is ForCompare(~b), the limit above */           \
    /* which a + b carries out of 16 bits. */                                                 \
    static T ForCompare(T a) { return Xor(a, Set16(static_cast<int16_t>(0x8000))); }          \
    static T CarryLimit(T b) { return Xor(b, Set16(0x7FFF)); }                                \
    /* q + 1 where a > b, for values made by ForCompare or CarryLimit. */                     \
    static T CarryInto(T q, T a, T b) { return Sub(q, CompareGreater(a, b)); }

namespace kestra {
namespace {

struct Vec128 {
    using T = __m128i;
    static constexpr int kBytes = 16;
    KESTRA_VECTOR_OPS(_mm, si128)

    // kBytes / 2 bytes as 16-bit lanes, in order.
    static T LoadWords(const uint8_t *p) {
        return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const T *>(p)), Zero());
    }
    // UYVY's chroma, U0 V0 U1 V1 ... of kBytes / 2 samples each, and its luma,
    // laid out so that the unpacks of one with the other are in pixel order.
    static T UyvyChroma(const uint8_t *u, const uint8_t *v) {
        return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const T *>(u)),
                                 _mm_loadl_epi64(reinterpret_cast<const T *>(v)));
    }
    static T UyvyLuma(const uint8_t *y) { return Load(y); }
    // The low and high unpacks of a register pair, in pixel order.
    static void StoreUnpacked(uint8_t *out, T lo, T hi) {
        _mm_storeu_si128(reinterpret_cast<T *>(out), lo);
        _mm_storeu_si128(reinterpret_cast<T *>(out + kBytes), hi);
    }
#if defined(__SSSE3__)
    // 8 x the even bytes, and 8 x the odd ones, as words.
    static T EvenBytes8(T a) { return _mm_maddubs_epi16(a, _mm_set1_epi16(8)); }
    static T OddBytes8(T a) { return _mm_maddubs_epi16(a, _mm_set1_epi16(8 << 8)); }
#else
    static T EvenBytes8(T a) { return _mm_slli_epi16(_mm_and_si128(a, _mm_set1_epi16(0xFF)), 3); }
    static T OddBytes8(T a) {
        return _mm_and_si128(_mm_srli_epi16(a, 5), _mm_set1_epi16(0xFF << 3));
    }
#endif
};

#if defined(__AVX2__)
struct Vec256 {
    using T = __m256i;
    static constexpr int kBytes = 32;
    KESTRA_VECTOR_OPS(_mm256, si256)

    static T LoadWords(const uint8_t *p) {
        return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p)));
    }
    // UYVY with no permute at the stores: chroma and luma come with their
    // 8-byte quarters in the order 0 2 | 1 3, so that the in-lane unpacks give
    // pixels 0-15 and 16-31. A pair's 64 pixels take 8 shuffles instead of
    // 11, which counts where one port does them all.
    static T UyvyChroma(const uint8_t *u, const uint8_t *v) {
        // Samples 0-3 and 8-11 to lane 0, 4-7 and 12-15 to lane 1; U to the
        // even bytes, V to the odd ones.
        const T toEven =
            _mm256_setr_epi8(0, -1, 1, -1, 2, -1, 3, -1, 8, -1, 9, -1, 10, -1, 11, -1, 4, -1, 5, -1,
                             6, -1, 7, -1, 12, -1, 13, -1, 14, -1, 15, -1);
        const T toOdd =
            _mm256_setr_epi8(-1, 0, -1, 1, -1, 2, -1, 3, -1, 8, -1, 9, -1, 10, -1, 11, -1, 4, -1, 5,
                             -1, 6, -1, 7, -1, 12, -1, 13, -1, 14, -1, 15);
        return Or(_mm256_shuffle_epi8(Broadcast16(u), toEven),
                  _mm256_shuffle_epi8(Broadcast16(v), toOdd));
    }
    static T UyvyLuma(const uint8_t *y) { return _mm256_permute4x64_epi64(Load(y), 0xD8); }
    static T Broadcast16(const uint8_t *p) {
        return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p)));
    }
    static void StoreUnpacked(uint8_t *out, T lo, T hi) {
        T *dst = reinterpret_cast<T *>(out);
        _mm256_storeu_si256(dst, _mm256_permute2x128_si256(lo, hi, 0x20));
        _mm256_storeu_si256(dst + 1, _mm256_permute2x128_si256(lo, hi, 0x31));
    }
    static T EvenBytes8(T a) { return _mm256_maddubs_epi16(a, _mm256_set1_epi16(8)); }
    static T OddBytes8(T a) { return _mm256_maddubs_epi16(a, _mm256_set1_epi16(8 << 8)); }
};
#endif

#if defined(__AVX512BW__)
// AVX-512 BW for the RGB24 arithmetic: compares go to mask registers, so
// unsigned ones need no flipped top bit.
struct Vec512 {
    using T = __m512i;
    static constexpr int kBytes = 64;
    static T Set16(int16_t x) { return _mm512_set1_epi16(x); }
    static T Load(const uint8_t *p) { return _mm512_loadu_si512(p); }
    static T Add(T a, T b) { return _mm512_add_epi16(a, b); }
    static T MulLo(T a, T b) { return _mm512_mullo_epi16(a, b); }
    static T MulHi(T a, T b) { return _mm512_mulhi_epi16(a, b); }
    static T ShiftLeft(T a, int n) { return _mm512_slli_epi16(a, static_cast<unsigned>(n)); }
    static T PackUnsigned(T a, T b) { return _mm512_packus_epi16(a, b); }
    static T EvenBytes8(T a) { return _mm512_maddubs_epi16(a, _mm512_set1_epi16(8)); }
    static T OddBytes8(T a) { return _mm512_maddubs_epi16(a, _mm512_set1_epi16(8 << 8)); }
    static T ForCompare(T a) { return a; }
    static T CarryLimit(T b) { return _mm512_ternarylogic_epi32(b, b, b, 0x55); }  // ~b
    static T CarryInto(T q, T a, T b) {
        return _mm512_mask_sub_epi16(q, _mm512_cmpgt_epu16_mask(a, b), q, _mm512_set1_epi16(-1));
    }
    // The first n bytes of a step (all 64 from n = 64 on).
    static __mmask64 LowBits(uint64_t n) {
        return n >= 64 ? ~__mmask64{0} : (__mmask64{1} << n) - 1;
    }
};
#endif

// Frames too large for the caches (streamingBytes) are converted by kStreamed,
// whose streaming stores are weakly ordered: fenced before the frame is
// handed on. Smaller ones go through the frame converter kCached.
template <LevelConvertFn kCached, RowPairFn kStreamed, Rows kRows>
void ConvertStreamingLarge(const uint8_t *y, int32_t yStride, const uint8_t *u, const uint8_t *v,
                           int32_t uvStride, uint8_t *dst, int32_t dstStride, int32_t width,
                           int32_t height, const colour::Record &colour,
                           OutputThresholds thresholds) {
    if (OutputBytes(dstStride, height) <= thresholds.streamingBytes) {
        kCached(y, yStride, u, v, uvStride, dst, dstStride, width, height, colour, thresholds);
        return;
    }
    ConvertRowPairs<kStreamed, kRows>(y, yStride, u, v, uvStride, dst, dstStride, width, height,
                                      colour);
    _mm_sfence();
}

template <LevelConvertFn kCached, RowPairFn kStreamed>
constexpr LevelConvertFn kUyvyStreamingLarge =
    ConvertStreamingLarge<kCached, kStreamed, Rows::PairsAndLoneRow>;

// RGB24, and full-frame RGB24 (the odd last column too), from row pairs.
template <RowPairFn kCached, RowPairFn kStreamed>
constexpr LevelConvertFn kRgb24StreamingLarge =
    ConvertStreamingLarge<ConvertAnySize<kCached, Rows::PairsOrFlipped>, kStreamed,
                          Rows::PairsOrFlipped>;
template <RowPairFn kCached, RowPairFn kStreamed>
constexpr LevelConvertFn kRgb24FullStreamingLarge =
    ConvertStreamingLarge<kRgb24Full<kCached>, Rgb24PairAndLastColumn<kStreamed>,
                          Rows::EveryRowEitherWay>;

// Streamed RGB24 rows start where both rows of the pair reach a kAlign-byte
// boundary together; the C row pair converts the pixels before it: p of them
// (even, below kAlign) with 3 p = -misalignment (mod kAlign). There is no
// such p when the rows are not equally misaligned or the misalignment is
// odd, and then the pair is stored as usual (-1).
template <uintptr_t kAlign>
inline int32_t Rgb24StreamStart(const uint8_t *d0, const uint8_t *d1, int32_t from) {
    // 3 x kInverse = 1 (mod kAlign), a power of two.
    constexpr uintptr_t kInverse = kAlign % 3 == 2 ? (kAlign + 1) / 3 : (2 * kAlign + 1) / 3;
    static_assert(3 * kInverse % kAlign == 1, "kAlign is a power of two");
    const uintptr_t first = reinterpret_cast<uintptr_t>(d0) + 3 * static_cast<uintptr_t>(from);
    if ((reinterpret_cast<uintptr_t>(d1) - reinterpret_cast<uintptr_t>(d0)) % kAlign != 0)
        return -1;
    const uintptr_t lead = (kAlign - first % kAlign) % kAlign * kInverse % kAlign;
    return lead % 2 == 0 ? from + static_cast<int32_t>(lead) : -1;
}

}  // namespace
}  // namespace kestra

#undef KESTRA_VECTOR_OPS
