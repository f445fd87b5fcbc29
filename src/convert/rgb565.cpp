// YV12 to RGB 5-6-5 through truncated-product tables; the packing tables
// extend 256 entries past each end so out-of-range sums clamp by lookup.
#include <cstring>

#include "convert/colour.h"
#include "convert/convert.h"
#include "convert/row_walk.h"

namespace kestra {

using namespace colour;

namespace {
// Truncated-product chroma tables, and packing tables that clamp by lookup
// (valid for indexes -256..511, reached through entry 0).
int32_t lumaTable565[256];
int32_t redFromV565[256];
int32_t greenFromV565[256];
int32_t greenFromU565[256];
int32_t blueFromU565[256];
bool tablesBuilt = false;
int32_t packRed[768];
int32_t packGreen[768];
int32_t packBlue[768];
const int32_t *const pack565Red = packRed + 256;
const int32_t *const pack565Green = packGreen + 256;
const int32_t *const pack565Blue = packBlue + 256;

int CountBits(uint32_t x) { return __builtin_popcount(x); }

int CountTrailingZeros(uint32_t x) { return x == 0 ? 32 : __builtin_ctz(x); }

void BuildPackTable(int32_t *table, uint32_t mask) {
    if (mask == 0) return;  // no bits, no channel: nothing to shift into place
    const int r = 8 - CountBits(mask);
    const int s = CountTrailingZeros(mask);
    int32_t *zero = table + 256;
    for (int i = 0; i < 256; ++i) zero[i] = (i >> r) << s;
    for (int i = -256; i < 0; ++i) zero[i] = zero[0];
    for (int i = 256; i < 512; ++i) zero[i] = zero[255];
}

struct Chroma565 {
    int32_t red, green, blue;
};

inline Chroma565 ChromaTerms(uint8_t u, uint8_t v) {
    return {redFromV565[v], greenFromU565[u] + greenFromV565[v], blueFromU565[u]};
}

inline void StorePixel(uint8_t *row, intptr_t x, uint8_t luma, const Chroma565 &c) {
    const int32_t l = lumaTable565[luma];
    const uint16_t pixel = static_cast<uint16_t>((pack565Green[l + c.green] & 0xFFFF) |
                                                 (pack565Blue[l + c.blue] & 0xFFFF) |
                                                 (pack565Red[l + c.red] & 0xFFFF));
    std::memcpy(row + 2 * x, &pixel, sizeof pixel);
}

}  // namespace

void build_rgb565_tables() {
    if (tablesBuilt) return;
    tablesBuilt = true;
    for (int d = -kChromaBias; d < kChromaBias; ++d) {
        const int i = d + kChromaBias;
        lumaTable565[i] = i;
        redFromV565[i] = static_cast<int32_t>(kRedFromV565 * d);
        greenFromV565[i] = static_cast<int32_t>(-kGreenFromV565 * d);
        greenFromU565[i] = static_cast<int32_t>(-kGreenFromU565 * d);
        blueFromU565[i] = static_cast<int32_t>(kBlueFromU565 * d);
    }
    BuildPackTable(packRed, kRedMask565);
    BuildPackTable(packGreen, kGreenMask565);
    BuildPackTable(packBlue, kBlueMask565);
}

void rgb565_pair_c(const uint8_t *y0, const uint8_t *y1, const uint8_t *u, const uint8_t *v,
                   uint8_t *d0, uint8_t *d1, int32_t from, int32_t width) {
    const intptr_t blocks = width / 2;
    for (intptr_t j = from / 2; j < blocks; ++j) {
        const Chroma565 c = ChromaTerms(u[j], v[j]);
        StorePixel(d0, 2 * j, y0[2 * j], c);
        StorePixel(d0, 2 * j + 1, y0[2 * j + 1], c);
        StorePixel(d1, 2 * j, y1[2 * j], c);
        StorePixel(d1, 2 * j + 1, y1[2 * j + 1], c);
    }
    if (width % 2 == 0) return;
    // No chroma sample of its own: the row's last one, or grey when a frame
    // 1 pixel wide has none.
    const Chroma565 c =
        blocks ? ChromaTerms(u[blocks - 1], v[blocks - 1]) : ChromaTerms(kGrey, kGrey);
    StorePixel(d0, width - 1, y0[width - 1], c);
    StorePixel(d1, width - 1, y1[width - 1], c);
}

const ConvertFn yv12_to_rgb565_c = ConvertRowPairs<rgb565_pair_c, Rows::PairsAndLoneRow>;

}  // namespace kestra
