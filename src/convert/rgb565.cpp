// YV12 to RGB 5-6-5 through truncated-product tables; the packing tables
// extend 256 entries past each end so out-of-range sums clamp by lookup.
#include "convert/convert.h"

namespace kestra {

int32_t lumaTable565[256];
int32_t redFromV565[256];
int32_t greenFromV565[256];
int32_t greenFromU565[256];
int32_t blueFromU565[256];
int rgb565TablesBuilt = 0;

namespace {
int32_t packRed[768];
int32_t packGreen[768];
int32_t packBlue[768];

void BuildPackTable(int32_t *table, uint32_t mask) {
    const int r = 8 - count_bits(mask);
    const int s = count_trailing_zeros(mask);
    int32_t *zero = table + 256;
    for (int i = 0; i < 256; ++i) zero[i] = (i >> r) << s;
    for (int i = -256; i < 0; ++i) zero[i] = zero[0];
    for (int i = 256; i < 512; ++i) zero[i] = zero[255];
}

inline uint16_t Pixel565(int32_t luma, int32_t red, int32_t green, int32_t blue) {
    return static_cast<uint16_t>((pack565Green[luma + green] & 0xFFFF) |
                                 (pack565Blue[luma + blue] & 0xFFFF) |
                                 (pack565Red[luma + red] & 0xFFFF));
}

}  // namespace

const int32_t *const pack565Red = packRed + 256;
const int32_t *const pack565Green = packGreen + 256;
const int32_t *const pack565Blue = packBlue + 256;

int count_bits(uint32_t x) {
    int n = 0;
    for (; x; x &= x - 1) ++n;
    return n;
}

int count_trailing_zeros(uint32_t x) {
    if (x == 0) return 32;
    int n = 0;
    for (; !(x & 1u); x >>= 1) ++n;
    return n;
}

void build_rgb565_tables() {
    if (rgb565TablesBuilt) return;
    rgb565TablesBuilt = 1;
    for (int d = -128; d < 128; ++d) {
        const int i = d + 128;
        lumaTable565[i] = i;
        redFromV565[i] = static_cast<int32_t>(1.4013377926421404 * d);
        greenFromV565[i] = static_cast<int32_t>(-0.7136038186157518 * d);
        greenFromU565[i] = static_cast<int32_t>(-0.34441087613293053 * d);
        blueFromU565[i] = static_cast<int32_t>(1.7734138972809665 * d);
    }
    BuildPackTable(packRed, 0xF800);
    BuildPackTable(packGreen, 0x07E0);
    BuildPackTable(packBlue, 0x001F);
}

void rgb565_last_column_c(const uint8_t *y0, const uint8_t *y1, const uint8_t *uRow,
                          const uint8_t *vRow, uint16_t *d0, uint16_t *d1, int32_t width) {
    if (width % 2 == 0) return;
    // No chroma sample of its own: the row's last one, or grey when a frame
    // 1 pixel wide has none.
    const int32_t blocks = width / 2;
    const uint8_t u = blocks ? uRow[blocks - 1] : 0x80;
    const uint8_t v = blocks ? vRow[blocks - 1] : 0x80;
    const int32_t red = redFromV565[v];
    const int32_t green = greenFromU565[u] + greenFromV565[v];
    const int32_t blue = blueFromU565[u];
    const int32_t x = width - 1;
    d0[x] = Pixel565(lumaTable565[y0[x]], red, green, blue);
    d1[x] = Pixel565(lumaTable565[y1[x]], red, green, blue);
}

void yv12_to_rgb565_strided_c(const uint8_t *y, int32_t yStride, const uint8_t *u, const uint8_t *v,
                              int32_t uvStride, uint16_t *dst, int32_t dstStride, int32_t width,
                              int32_t height) {
    // A frame has height / 2 chroma rows: an odd last row is converted alone
    // with the last of them, and a single row has none to convert with.
    const int64_t chromaRows = height / 2;
    if (chromaRows < 1 || width < 1) return;
    const int32_t blocks = width / 2;
    for (int64_t row = 0; row < height; row += 2) {
        const bool single = row + 1 >= height;
        const int64_t chromaRow = row / 2 < chromaRows ? row / 2 : chromaRows - 1;
        const uint8_t *y0 = y + row * yStride;
        const uint8_t *y1 = y0 + yStride;
        const uint8_t *uRow = u + chromaRow * uvStride;
        const uint8_t *vRow = v + chromaRow * uvStride;
        uint16_t *d0 = dst + row * dstStride;
        uint16_t *d1 = d0 + dstStride;
        for (int32_t j = 0; j < blocks; ++j) {
            const int32_t red = redFromV565[vRow[j]];
            const int32_t green = greenFromU565[uRow[j]] + greenFromV565[vRow[j]];
            const int32_t blue = blueFromU565[uRow[j]];
            d0[2 * j] = Pixel565(lumaTable565[y0[2 * j]], red, green, blue);
            d0[2 * j + 1] = Pixel565(lumaTable565[y0[2 * j + 1]], red, green, blue);
            if (single) continue;
            d1[2 * j] = Pixel565(lumaTable565[y1[2 * j]], red, green, blue);
            d1[2 * j + 1] = Pixel565(lumaTable565[y1[2 * j + 1]], red, green, blue);
        }
        rgb565_last_column_c(y0, single ? y0 : y1, uRow, vRow, d0, single ? d0 : d1, width);
    }
}

void yv12_to_rgb565_c(const uint8_t *y, const uint8_t *v, const uint8_t *u, uint16_t *dst,
                      int32_t width, int32_t height) {
    yv12_to_rgb565_strided_c(y, width, u, v, width / 2, dst, width, width, height);
}

}  // namespace kestra
