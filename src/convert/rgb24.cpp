// YV12 to packed 24-bit BGR through 13-bit fixed-point tables.
#include "convert/colour.h"
#include "convert/convert.h"
#include "convert/row_walk.h"

namespace kestra {

using namespace colour;

namespace {
// step x (i - bias) in 13-bit fixed point.
int32_t lumaFromY24[256];
int32_t blueFromU24[256];
int32_t greenFromU24[256];
int32_t greenFromV24[256];
int32_t redFromV24[256];
}  // namespace

void build_rgb24_tables() {
    for (int i = 0; i < 256; ++i) {
        lumaFromY24[i] = kLumaStep * (i - kLumaBias);
        blueFromU24[i] = kBlueFromU * (i - kChromaBias);
        greenFromU24[i] = kGreenFromU * (i - kChromaBias);
        greenFromV24[i] = kGreenFromV * (i - kChromaBias);
        redFromV24[i] = kRedFromV * (i - kChromaBias);
    }
}

namespace {

inline uint8_t Clamp13(int32_t sum) {
    int32_t v = sum >> kFixedBits;
    return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

inline void StorePixel(uint8_t *out, int32_t luma, int32_t blue, int32_t green, int32_t red) {
    out[0] = Clamp13(luma + blue);
    out[1] = Clamp13(luma - green);
    out[2] = Clamp13(luma + red);
}

}  // namespace

void yuv_to_rgb24_pixel_c(uint8_t y, uint8_t u, uint8_t v, uint8_t *dst) {
    StorePixel(dst, lumaFromY24[y], blueFromU24[u], greenFromV24[v] + greenFromU24[u],
               redFromV24[v]);
}

void rgb24_pair_c(const uint8_t *y0, const uint8_t *y1, const uint8_t *u, const uint8_t *v,
                  uint8_t *d0, uint8_t *d1, int32_t from, int32_t width) {
    for (intptr_t j = from / 2; j < width / 2; ++j) {
        const int32_t blue = blueFromU24[u[j]];
        const int32_t green = greenFromV24[v[j]] + greenFromU24[u[j]];
        const int32_t red = redFromV24[v[j]];
        StorePixel(d0 + 6 * j, lumaFromY24[y0[2 * j]], blue, green, red);
        StorePixel(d0 + 6 * j + 3, lumaFromY24[y0[2 * j + 1]], blue, green, red);
        StorePixel(d1 + 6 * j, lumaFromY24[y1[2 * j]], blue, green, red);
        StorePixel(d1 + 6 * j + 3, lumaFromY24[y1[2 * j + 1]], blue, green, red);
    }
}

void rgb24_last_column_c(const uint8_t *y0, const uint8_t *y1, const uint8_t *u, const uint8_t *v,
                         uint8_t *d0, uint8_t *d1, int32_t, int32_t width) {
    if (width % 2 == 0) return;
    const intptr_t x = width - 1;
    const uint8_t cu = x > 0 ? u[x / 2 - 1] : kGrey;
    const uint8_t cv = x > 0 ? v[x / 2 - 1] : kGrey;
    yuv_to_rgb24_pixel_c(y0[x], cu, cv, d0 + 3 * x);
    yuv_to_rgb24_pixel_c(y1[x], cu, cv, d1 + 3 * x);
}

const ConvertFn yv12_to_rgb24_c = ConvertRowPairs<rgb24_pair_c, Rows::PairsOrFlipped>;
const ConvertFn yv12_to_rgb24_full_c = kRgb24Full<rgb24_pair_c>;

}  // namespace kestra
