// YV12 to packed 24-bit BGR through 13-bit fixed-point tables, one set per
// colour record.
#include "convert/colour.h"
#include "convert/convert.h"
#include "convert/row_walk.h"

namespace kestra {

using namespace colour;

namespace {

// step x (i - bias) in 13-bit fixed point; luma carries the rounding.
struct Rgb24Tables {
    int32_t luma[256];
    int32_t blueFromU[256];
    int32_t greenFromU[256];
    int32_t greenFromV[256];
    int32_t redFromV[256];
};

Rgb24Tables tables24[kRecordCount];

const Rgb24Tables &TablesOf(const Record &colour) { return tables24[colour.Index()]; }

}  // namespace

void build_rgb24_tables() {
    for (const Record &r : kRecords) {
        Rgb24Tables &t = tables24[r.Index()];
        for (int i = 0; i < 256; ++i) {
            t.luma[i] = r.lumaStep * (i - r.lumaBias) + r.rounding;
            t.blueFromU[i] = r.blueFromU * (i - kChromaBias);
            t.greenFromU[i] = r.greenFromU * (i - kChromaBias);
            t.greenFromV[i] = r.greenFromV * (i - kChromaBias);
            t.redFromV[i] = r.redFromV * (i - kChromaBias);
        }
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

void yuv_to_rgb24_pixel_c(uint8_t y, uint8_t u, uint8_t v, uint8_t *dst, const Record &colour) {
    const Rgb24Tables &t = TablesOf(colour);
    StorePixel(dst, t.luma[y], t.blueFromU[u], t.greenFromV[v] + t.greenFromU[u], t.redFromV[v]);
}

void rgb24_pair_c(const uint8_t *y0, const uint8_t *y1, const uint8_t *u, const uint8_t *v,
                  uint8_t *d0, uint8_t *d1, int32_t from, int32_t width, const Record &colour) {
    const Rgb24Tables &t = TablesOf(colour);
    for (intptr_t j = from / 2; j < width / 2; ++j) {
        const int32_t blue = t.blueFromU[u[j]];
        const int32_t green = t.greenFromV[v[j]] + t.greenFromU[u[j]];
        const int32_t red = t.redFromV[v[j]];
        StorePixel(d0 + 6 * j, t.luma[y0[2 * j]], blue, green, red);
        StorePixel(d0 + 6 * j + 3, t.luma[y0[2 * j + 1]], blue, green, red);
        StorePixel(d1 + 6 * j, t.luma[y1[2 * j]], blue, green, red);
        StorePixel(d1 + 6 * j + 3, t.luma[y1[2 * j + 1]], blue, green, red);
    }
}

void rgb24_last_column_c(const uint8_t *y0, const uint8_t *y1, const uint8_t *u, const uint8_t *v,
                         uint8_t *d0, uint8_t *d1, int32_t, int32_t width, const Record &colour) {
    if (width % 2 == 0) return;
    const intptr_t x = width - 1;
    const uint8_t cu = x > 0 ? u[x / 2 - 1] : kGrey;
    const uint8_t cv = x > 0 ? v[x / 2 - 1] : kGrey;
    yuv_to_rgb24_pixel_c(y0[x], cu, cv, d0 + 3 * x, colour);
    yuv_to_rgb24_pixel_c(y1[x], cu, cv, d1 + 3 * x, colour);
}

void rgb24_to_xrgb_c(const uint8_t *bgr, uint32_t *xrgb, int32_t width) {
    for (int32_t x = 0; x < width; ++x, bgr += 3)
        xrgb[x] = uint32_t(bgr[0]) | uint32_t(bgr[1]) << 8 | uint32_t(bgr[2]) << 16;
}

const ConvertFn yv12_to_rgb24_c = ConvertRowPairs<rgb24_pair_c, Rows::PairsOrFlipped>;
const ConvertFn yv12_to_rgb24_full_c =
    ConvertRowPairs<Rgb24PairAndLastColumn<rgb24_pair_c>, Rows::EveryRowEitherWay>;

}  // namespace kestra
