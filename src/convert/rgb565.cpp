// YV12 to RGB 5-6-5 through truncated-product tables; the packing tables
// extend past each end so out-of-range sums clamp by lookup.
#include <cstring>

#include "convert/colour.h"
#include "convert/convert.h"
#include "convert/row_walk.h"

namespace kestra {

using namespace colour;

namespace {
// Truncated-product tables per colour record, and packing tables that clamp
// by lookup: every sum of a luma and a chroma entry, -512..767, reached
// through entry 0.
struct Rgb565Tables {
    int32_t luma[256];
    int32_t redFromV[256];
    int32_t greenFromV[256];
    int32_t greenFromU[256];
    int32_t blueFromU[256];
};

Rgb565Tables tables565[kRecordCount];
bool tablesBuilt = false;
constexpr int kPackBelow = 512;
int32_t packRed[kPackBelow + 768];
int32_t packGreen[kPackBelow + 768];
int32_t packBlue[kPackBelow + 768];
const int32_t *const pack565Red = packRed + kPackBelow;
const int32_t *const pack565Green = packGreen + kPackBelow;
const int32_t *const pack565Blue = packBlue + kPackBelow;

int CountBits(uint32_t x) { return __builtin_popcount(x); }

int CountTrailingZeros(uint32_t x) { return x == 0 ? 32 : __builtin_ctz(x); }

void BuildPackTable(int32_t *table, uint32_t mask) {
    if (mask == 0) return;  // no bits, no channel: nothing to shift into place
    const int r = 8 - CountBits(mask);
    const int s = CountTrailingZeros(mask);
    int32_t *zero = table + kPackBelow;
    for (int i = 0; i < 256; ++i) zero[i] = (i >> r) << s;
    for (int i = -kPackBelow; i < 0; ++i) zero[i] = zero[0];
    for (int i = 256; i < 768; ++i) zero[i] = zero[255];
}

struct Chroma565 {
    int32_t red, green, blue;
};

inline Chroma565 ChromaTerms(const Rgb565Tables &t, uint8_t u, uint8_t v) {
    return {t.redFromV[v], t.greenFromU[u] + t.greenFromV[v], t.blueFromU[u]};
}

inline void StorePixel(uint8_t *row, intptr_t x, int32_t l, const Chroma565 &c) {
    const uint16_t pixel = static_cast<uint16_t>((pack565Green[l + c.green] & 0xFFFF) |
                                                 (pack565Blue[l + c.blue] & 0xFFFF) |
                                                 (pack565Red[l + c.red] & 0xFFFF));
    std::memcpy(row + 2 * x, &pixel, sizeof pixel);
}

}  // namespace

void build_rgb565_tables() {
    if (tablesBuilt) return;
    tablesBuilt = true;
    for (const Record &r : kRecords) {
        Rgb565Tables &t = tables565[r.Index()];
        for (int i = 0; i < 256; ++i) {
            const int d = i - kChromaBias;
            t.luma[i] = ((i * r.lumaStep565) >> 8) - r.lumaOffset565;
            t.redFromV[i] = static_cast<int32_t>(r.redFromV565 * d);
            t.greenFromV[i] = static_cast<int32_t>(-r.greenFromV565 * d);
            t.greenFromU[i] = static_cast<int32_t>(-r.greenFromU565 * d);
            t.blueFromU[i] = static_cast<int32_t>(r.blueFromU565 * d);
        }
    }
    BuildPackTable(packRed, kRedMask565);
    BuildPackTable(packGreen, kGreenMask565);
    BuildPackTable(packBlue, kBlueMask565);
}

void rgb565_pair_c(const uint8_t *y0, const uint8_t *y1, const uint8_t *u, const uint8_t *v,
                   uint8_t *d0, uint8_t *d1, int32_t from, int32_t width, const Record &colour) {
    const Rgb565Tables &t = tables565[colour.Index()];
    const int32_t *luma = t.luma;
    const intptr_t blocks = width / 2;
    for (intptr_t j = from / 2; j < blocks; ++j) {
        const Chroma565 c = ChromaTerms(t, u[j], v[j]);
        StorePixel(d0, 2 * j, luma[y0[2 * j]], c);
        StorePixel(d0, 2 * j + 1, luma[y0[2 * j + 1]], c);
        StorePixel(d1, 2 * j, luma[y1[2 * j]], c);
        StorePixel(d1, 2 * j + 1, luma[y1[2 * j + 1]], c);
    }
    if (width % 2 == 0) return;
    // No chroma sample of its own: the row's last one, or grey when a frame
    // 1 pixel wide has none.
    const Chroma565 c =
        blocks ? ChromaTerms(t, u[blocks - 1], v[blocks - 1]) : ChromaTerms(t, kGrey, kGrey);
    StorePixel(d0, width - 1, luma[y0[width - 1]], c);
    StorePixel(d1, width - 1, luma[y1[width - 1]], c);
}

const ConvertFn yv12_to_rgb565_c = ConvertRowPairs<rgb565_pair_c, Rows::PairsAndLoneRow>;

}  // namespace kestra
