// YV12 to packed 24-bit BGR through 13-bit fixed-point tables.
#include "convert/convert.h"

namespace kestra {

int32_t lumaTable24[256];
int32_t blueFromU24[256];
int32_t greenFromU24[256];
int32_t greenFromV24[256];
int32_t redFromV24[256];

void build_rgb24_tables() {
    for (int i = 0; i < 256; ++i) {
        lumaTable24[i] = -152560 + i * 9535;
        blueFromU24[i] = -2115968 + i * 16531;
        greenFromU24[i] = -409984 + i * 3203;
        greenFromV24[i] = -852480 + i * 6660;
        redFromV24[i] = -1673472 + i * 13074;
    }
}

namespace {

inline uint8_t Clamp13(int32_t sum) {
    int32_t v = sum >> 13;
    return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

inline void StorePixel(uint8_t *out, int32_t luma, int32_t blue, int32_t green, int32_t red) {
    out[0] = Clamp13(luma + blue);
    out[1] = Clamp13(luma - green);
    out[2] = Clamp13(luma + red);
}

}  // namespace

void yuv_to_rgb24_pixel_c(uint8_t y, uint8_t u, uint8_t v, uint8_t *dst) {
    StorePixel(dst, lumaTable24[y], blueFromU24[u], greenFromV24[v] + greenFromU24[u],
               redFromV24[v]);
}

void yv12_to_rgb24_c(uint8_t *dst, int32_t dstStride, const uint8_t *y, const uint8_t *u,
                     const uint8_t *v, int32_t yStride, int32_t uvStride, uint32_t width,
                     int32_t height) {
    const bool flip = height < 0;
    const int64_t rows = flip ? -static_cast<int64_t>(height) : height;
    const int64_t pairs = rows / 2;
    const uint32_t blocks = width / 2;
    const int64_t pitch = 3 * static_cast<int64_t>(dstStride);
    for (int64_t k = 0; k < pairs; ++k) {
        const int64_t row0 = flip ? rows - 1 - 2 * k : 2 * k;
        const int64_t row1 = flip ? rows - 2 - 2 * k : 2 * k + 1;
        const int64_t chromaRow = flip ? pairs - 1 - k : k;
        const uint8_t *y0 = y + row0 * yStride;
        const uint8_t *y1 = y + row1 * yStride;
        const uint8_t *uRow = u + chromaRow * uvStride;
        const uint8_t *vRow = v + chromaRow * uvStride;
        uint8_t *d0 = dst + 2 * k * pitch;
        uint8_t *d1 = d0 + pitch;
        for (uint32_t j = 0; j < blocks; ++j) {
            const int32_t blue = blueFromU24[uRow[j]];
            const int32_t green = greenFromV24[vRow[j]] + greenFromU24[uRow[j]];
            const int32_t red = redFromV24[vRow[j]];
            StorePixel(d0 + 6 * j, lumaTable24[y0[2 * j]], blue, green, red);
            StorePixel(d0 + 6 * j + 3, lumaTable24[y0[2 * j + 1]], blue, green, red);
            StorePixel(d1 + 6 * j, lumaTable24[y1[2 * j]], blue, green, red);
            StorePixel(d1 + 6 * j + 3, lumaTable24[y1[2 * j + 1]], blue, green, red);
        }
    }
}

}  // namespace kestra
