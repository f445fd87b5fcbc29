// Byte-shuffle masks that interleave 16 blue, green and red bytes into the
// 48 bytes B0 G0 R0 B1 ...: part k is output bytes 16k..16k+15.
#pragma once

#include <emmintrin.h>

#include <cstdint>

namespace kestra {
namespace {

struct ShuffleMask16 {
    alignas(16) int8_t b[16];
};

constexpr ShuffleMask16 MakeRgb24Mask(int part, int channel) {
    ShuffleMask16 m{};
    for (int i = 0; i < 16; ++i) {
        const int p = 16 * part + i;
        m.b[i] = static_cast<int8_t>(p % 3 == channel ? p / 3 : -128);
    }
    return m;
}

constexpr ShuffleMask16 kRgb24Masks[3][3] = {
    {MakeRgb24Mask(0, 0), MakeRgb24Mask(0, 1), MakeRgb24Mask(0, 2)},
    {MakeRgb24Mask(1, 0), MakeRgb24Mask(1, 1), MakeRgb24Mask(1, 2)},
    {MakeRgb24Mask(2, 0), MakeRgb24Mask(2, 1), MakeRgb24Mask(2, 2)},
};

inline __m128i Rgb24ShuffleMask(int part, int channel) {
    return _mm_load_si128(reinterpret_cast<const __m128i *>(kRgb24Masks[part][channel].b));
}

}  // namespace
}  // namespace kestra
