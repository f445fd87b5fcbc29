// YV12 of any colour record rewritten as BT.601 studio range, for the
// DirectDraw YUV surfaces: their blit converts as BT.601 studio range and
// cannot be told otherwise, so the samples are moved to the ones that give
// the record's RGB there. Both sides are affine in (y, u - 128, v - 128), so
// each output sample is a sum of table entries; the luma of a pixel takes
// its block's chroma, since BT.601 luma weighs the channels differently.
#include "convert/convert.h"

namespace kestra {

using namespace colour;

namespace {

constexpr int kRemapBits = 16;

struct RemapTables {
    int32_t yFromY[256], yFromU[256], yFromV[256];
    int32_t uFromU[256], uFromV[256];
    int32_t vFromU[256], vFromV[256];
};

RemapTables remapTables[kRecordCount];

int32_t Fixed16(double x) {
    const double scaled = x * (1 << kRemapBits);
    return static_cast<int32_t>(scaled < 0 ? scaled - 0.5 : scaled + 0.5);
}

inline uint8_t Clamp16(int32_t sum) {
    const int32_t v = sum >> kRemapBits;
    return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

}  // namespace

void build_remap_tables() {
    // The BT.601 studio-range side, from its luma weights.
    constexpr double kRed = 0.299, kBlue = 0.114, kGreen = 1 - kRed - kBlue;
    constexpr double kLumaScale = 219.0 / 255, kChromaScale = 224.0 / 255;
    for (const Record &r : kRecords) {
        const Equations &e = r.exact;
        // The record's linear luma, per unit of u - 128 and v - 128 (its
        // luma term adds to every channel alike and so to the luma alone).
        const double lumaU = kBlue * e.blueFromU - kGreen * e.greenFromU;
        const double lumaV = kRed * e.redFromV - kGreen * e.greenFromV;
        const double uScale = kChromaScale / (2 * (1 - kBlue));
        const double vScale = kChromaScale / (2 * (1 - kRed));
        RemapTables &t = remapTables[r.Index()];
        for (int i = 0; i < 256; ++i) {
            const double d = i - kChromaBias;
            // The halves round the sums the converters take apart again.
            t.yFromY[i] = Fixed16(16 + kLumaScale * e.luma * (i - e.lumaBias) + 0.5);
            t.yFromU[i] = Fixed16(kLumaScale * lumaU * d);
            t.yFromV[i] = Fixed16(kLumaScale * lumaV * d);
            t.uFromU[i] = Fixed16(kChromaBias + 0.5 + uScale * (e.blueFromU - lumaU) * d);
            t.uFromV[i] = Fixed16(-uScale * lumaV * d);
            t.vFromU[i] = Fixed16(-vScale * lumaU * d);
            t.vFromV[i] = Fixed16(kChromaBias + 0.5 + vScale * (e.redFromV - lumaV) * d);
        }
    }
}

void remap_to_bt601_studio(const uint8_t *y, int32_t yStride, const uint8_t *u, const uint8_t *v,
                           int32_t uvStride, uint8_t *dy, int32_t dyStride, uint8_t *du,
                           uint8_t *dv, int32_t duvStride, int32_t width, int32_t height,
                           const Record &colour) {
    const RemapTables &t = remapTables[colour.Index()];
    const int32_t chromaColumns = width / 2, chromaRows = height / 2;
    for (int32_t k = 0; k < chromaRows; ++k) {
        const uint8_t *cu = u + intptr_t(k) * uvStride, *cv = v + intptr_t(k) * uvStride;
        uint8_t *ou = du + intptr_t(k) * duvStride, *ov = dv + intptr_t(k) * duvStride;
        for (int32_t j = 0; j < chromaColumns; ++j) {
            ou[j] = Clamp16(t.uFromU[cu[j]] + t.uFromV[cv[j]]);
            ov[j] = Clamp16(t.vFromU[cu[j]] + t.vFromV[cv[j]]);
        }
    }
    // Pixels past the last chroma row or column take the last sample, as the
    // converters do; a frame 1 pixel wide or high has none, and is grey.
    const int32_t greyTerm = t.yFromU[kGrey] + t.yFromV[kGrey];
    for (int32_t row = 0; row < height; ++row) {
        const uint8_t *yRow = y + intptr_t(row) * yStride;
        uint8_t *out = dy + intptr_t(row) * dyStride;
        int32_t term = greyTerm;
        if (chromaRows == 0 || chromaColumns == 0) {
            for (int32_t x = 0; x < width; ++x) out[x] = Clamp16(t.yFromY[yRow[x]] + term);
            continue;
        }
        const int32_t k = row / 2 < chromaRows ? row / 2 : chromaRows - 1;
        const uint8_t *cu = u + intptr_t(k) * uvStride, *cv = v + intptr_t(k) * uvStride;
        for (int32_t j = 0; j < chromaColumns; ++j) {
            term = t.yFromU[cu[j]] + t.yFromV[cv[j]];
            out[2 * j] = Clamp16(t.yFromY[yRow[2 * j]] + term);
            out[2 * j + 1] = Clamp16(t.yFromY[yRow[2 * j + 1]] + term);
        }
        if (width % 2) out[width - 1] = Clamp16(t.yFromY[yRow[width - 1]] + term);
    }
}

}  // namespace kestra
