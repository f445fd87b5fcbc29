// What the converter tests share: one 2x2 block of a single (y, u, v)
// through a converter, and a destination's canary where nothing was written.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "convert/convert.h"

namespace kestra_test {

struct PixelCase {
    int y, u, v;
    uint32_t pixel;  // its bytes, lowest first: 0xRRGGBB for RGB24
};

// Each case's 2x2 block converted into a 2x2 destination of bytesPerPixel
// bytes a pixel: all four pixels are the case's pixel.
inline ::testing::AssertionResult BlocksConvertTo(kestra::ConvertFn convert, int bytesPerPixel,
                                                  const std::vector<PixelCase> &cases) {
    for (const PixelCase &c : cases) {
        const uint8_t y[4] = {uint8_t(c.y), uint8_t(c.y), uint8_t(c.y), uint8_t(c.y)};
        const uint8_t u = uint8_t(c.u), v = uint8_t(c.v);
        uint8_t dst[4 * 4];
        std::memset(dst, 0xA5, sizeof dst);
        convert(y, 2, &u, &v, 1, dst, 2 * bytesPerPixel, 2, 2, kestra::colour::kBt601Studio);
        for (int p = 0; p < 4; ++p) {
            uint32_t got = 0;
            for (int b = bytesPerPixel - 1; b >= 0; --b)
                got = got << 8 | dst[p * bytesPerPixel + b];
            if (got != c.pixel)
                return ::testing::AssertionFailure()
                       << "yuv " << c.y << "," << c.u << "," << c.v << " pixel " << p
                       << ": expected 0x" << std::hex << c.pixel << " got 0x" << got;
        }
    }
    return ::testing::AssertionSuccess();
}

// Every byte of dst that `written` does not mark still holds the canary.
inline ::testing::AssertionResult KeepsCanary(const uint8_t *dst, const std::vector<bool> &written,
                                              uint8_t canary) {
    for (size_t i = 0; i < written.size(); ++i)
        if (!written[i] && dst[i] != canary)
            return ::testing::AssertionFailure() << "byte " << i << " overwritten";
    return ::testing::AssertionSuccess();
}

}  // namespace kestra_test
