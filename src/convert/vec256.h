// 32-byte registers for the shared vector kernels (AVX2). Unpacks and packs
// work within 128-bit lanes: 16-bit lanes loaded in order duplicate into the
// layout of an unpacked byte register (pixels 0-7|16-23 and 8-15|24-31), a
// pack puts bytes back in order, and only StoreUnpacked crosses lanes.
#pragma once

#include <immintrin.h>

#include <cstdint>

namespace kestra {
namespace {

struct Vec256 {
    using T = __m256i;
    static constexpr int kBytes = 32;

    static T Zero() { return _mm256_setzero_si256(); }
    static T Set16(int16_t x) { return _mm256_set1_epi16(x); }
    static T Set8(uint8_t x) { return _mm256_set1_epi8(static_cast<char>(x)); }
    static T Load(const uint8_t *p) { return _mm256_loadu_si256(reinterpret_cast<const T *>(p)); }
    static T LoadWords(const uint8_t *p) {
        return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i *>(p)));
    }
    static T LoadInterleaved(const uint8_t *u, const uint8_t *v) {
        const __m128i u16 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(u));
        const __m128i v16 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(v));
        return _mm256_set_m128i(_mm_unpackhi_epi8(u16, v16), _mm_unpacklo_epi8(u16, v16));
    }
    static void StoreUnpacked(uint8_t *out, T lo, T hi) {
        T *dst = reinterpret_cast<T *>(out);
        _mm256_storeu_si256(dst, _mm256_permute2x128_si256(lo, hi, 0x20));
        _mm256_storeu_si256(dst + 1, _mm256_permute2x128_si256(lo, hi, 0x31));
    }

    static T Add(T a, T b) { return _mm256_add_epi16(a, b); }
    static T Sub(T a, T b) { return _mm256_sub_epi16(a, b); }
    static T MulLo(T a, T b) { return _mm256_mullo_epi16(a, b); }
    static T MulHi(T a, T b) { return _mm256_mulhi_epi16(a, b); }
    static T MulHiUnsigned(T a, T b) { return _mm256_mulhi_epu16(a, b); }
    static T ShiftLeft(T a, int n) { return _mm256_slli_epi16(a, n); }
    static T ShiftRight(T a, int n) { return _mm256_srli_epi16(a, n); }
    static T ShiftRightSigned(T a, int n) { return _mm256_srai_epi16(a, n); }
    static T And(T a, T b) { return _mm256_and_si256(a, b); }
    static T Or(T a, T b) { return _mm256_or_si256(a, b); }
    static T Xor(T a, T b) { return _mm256_xor_si256(a, b); }
    static T UnpackLo8(T a, T b) { return _mm256_unpacklo_epi8(a, b); }
    static T UnpackHi8(T a, T b) { return _mm256_unpackhi_epi8(a, b); }
    static T UnpackLo16(T a, T b) { return _mm256_unpacklo_epi16(a, b); }
    static T UnpackHi16(T a, T b) { return _mm256_unpackhi_epi16(a, b); }
    static T PackUnsigned(T a, T b) { return _mm256_packus_epi16(a, b); }
};

}  // namespace
}  // namespace kestra
