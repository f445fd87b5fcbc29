// YV12 of any colour record rewritten for a DirectDraw YUV surface, whose
// blit converts with its own equations and cannot be told otherwise: the
// samples are moved to the ones that give the record's RGB there. Both
// sides are affine in (y, u - 128, v - 128), so each output sample is a sum
// of table entries; the luma of a pixel takes its block's chroma, since the
// blit's luma weighs the channels differently.
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

RemapTables remapTables[kBlitCount][kRecordCount];

int32_t Fixed16(double x) {
    const double scaled = x * (1 << kRemapBits);
    return static_cast<int32_t>(scaled < 0 ? scaled - 0.5 : scaled + 0.5);
}

inline uint8_t Clamp16(int32_t sum) {
    const int32_t v = sum >> kRemapBits;
    return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

using Matrix3 = double[3][3];

// RGB from (y - bias, u - 128, v - 128).
void ToRgb(const Equations &e, Matrix3 m) {
    const double rows[3][3] = {
        {e.luma, 0, e.redFromV}, {e.luma, -e.greenFromU, -e.greenFromV}, {e.luma, e.blueFromU, 0}};
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) m[i][j] = rows[i][j];
}

void Invert(const Matrix3 m, Matrix3 out) {
    const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                       m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                       m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) {
            // The cofactor of (j, i), over the determinant.
            const int r0 = (j + 1) % 3, r1 = (j + 2) % 3, c0 = (i + 1) % 3, c1 = (i + 2) % 3;
            out[i][j] = (m[r0][c0] * m[r1][c1] - m[r0][c1] * m[r1][c0]) / det;
        }
}

void BuildTables(const Equations &blit, const Record &r, RemapTables *t) {
    // k = blit^-1 x record: the blit's (y - bias, u - 128, v - 128) from the record's.
    Matrix3 blitRgb, toBlit, recordRgb, k;
    ToRgb(blit, blitRgb);
    Invert(blitRgb, toBlit);
    ToRgb(r.exact, recordRgb);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            k[i][j] = toBlit[i][0] * recordRgb[0][j] + toBlit[i][1] * recordRgb[1][j] +
                      toBlit[i][2] * recordRgb[2][j];
    for (int i = 0; i < 256; ++i) {
        const double d = i - kChromaBias;
        // Luma moves no chroma (both sides weigh it alike in every channel);
        // the halves round the sums.
        t->yFromY[i] = Fixed16(blit.lumaBias + k[0][0] * (i - r.exact.lumaBias) + 0.5);
        t->yFromU[i] = Fixed16(k[0][1] * d);
        t->yFromV[i] = Fixed16(k[0][2] * d);
        t->uFromU[i] = Fixed16(kChromaBias + 0.5 + k[1][1] * d);
        t->uFromV[i] = Fixed16(k[1][2] * d);
        t->vFromU[i] = Fixed16(k[2][1] * d);
        t->vFromV[i] = Fixed16(kChromaBias + 0.5 + k[2][2] * d);
    }
}

}  // namespace

void build_remap_tables() {
    for (int blit = 0; blit < kBlitCount; ++blit)
        for (const Record &r : kRecords)
            BuildTables(kBlits[blit], r, &remapTables[blit][r.Index()]);
}

void remap_for_blit(const uint8_t *y, int32_t yStride, const uint8_t *u, const uint8_t *v,
                    int32_t uvStride, uint8_t *dy, int32_t dyStride, uint8_t *du, uint8_t *dv,
                    int32_t duvStride, int32_t width, int32_t height, const Record &colour,
                    Blit blit) {
    const RemapTables &t = remapTables[static_cast<int>(blit)][colour.Index()];
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
