// 16-byte registers for the shared vector kernels (SSE2): the operations the
// kernels use, named once per register width.
#pragma once

#include <emmintrin.h>

#include <cstdint>

namespace kestra {
namespace {

struct Vec128 {
    using T = __m128i;
    static constexpr int kBytes = 16;

    static T Zero() { return _mm_setzero_si128(); }
    static T Set16(int16_t x) { return _mm_set1_epi16(x); }
    static T Set8(uint8_t x) { return _mm_set1_epi8(static_cast<char>(x)); }
    static T Load(const uint8_t *p) { return _mm_loadu_si128(reinterpret_cast<const T *>(p)); }
    // kBytes / 2 bytes as 16-bit lanes, in order.
    static T LoadWords(const uint8_t *p) {
        return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const T *>(p)), Zero());
    }
    // U0 V0 U1 V1 ... of kBytes / 2 samples each.
    static T LoadInterleaved(const uint8_t *u, const uint8_t *v) {
        return _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const T *>(u)),
                                 _mm_loadl_epi64(reinterpret_cast<const T *>(v)));
    }
    // The low and high unpacks of a register pair, in pixel order.
    static void StoreUnpacked(uint8_t *out, T lo, T hi) {
        _mm_storeu_si128(reinterpret_cast<T *>(out), lo);
        _mm_storeu_si128(reinterpret_cast<T *>(out + kBytes), hi);
    }

    static T Add(T a, T b) { return _mm_add_epi16(a, b); }
    static T Sub(T a, T b) { return _mm_sub_epi16(a, b); }
    static T MulLo(T a, T b) { return _mm_mullo_epi16(a, b); }
    static T MulHi(T a, T b) { return _mm_mulhi_epi16(a, b); }
    static T MulHiUnsigned(T a, T b) { return _mm_mulhi_epu16(a, b); }
    static T ShiftLeft(T a, int n) { return _mm_slli_epi16(a, n); }
    static T ShiftRight(T a, int n) { return _mm_srli_epi16(a, n); }
    static T ShiftRightSigned(T a, int n) { return _mm_srai_epi16(a, n); }
    static T And(T a, T b) { return _mm_and_si128(a, b); }
    static T Or(T a, T b) { return _mm_or_si128(a, b); }
    static T Xor(T a, T b) { return _mm_xor_si128(a, b); }
    static T UnpackLo8(T a, T b) { return _mm_unpacklo_epi8(a, b); }
    static T UnpackHi8(T a, T b) { return _mm_unpackhi_epi8(a, b); }
    static T UnpackLo16(T a, T b) { return _mm_unpacklo_epi16(a, b); }
    static T UnpackHi16(T a, T b) { return _mm_unpackhi_epi16(a, b); }
    static T PackUnsigned(T a, T b) { return _mm_packus_epi16(a, b); }
};

}  // namespace
}  // namespace kestra
