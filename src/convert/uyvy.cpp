// YV12 to packed UYVY: bytes are only reordered.
#include "convert/colour.h"
#include "convert/convert.h"
#include "convert/row_walk.h"

namespace kestra {

namespace {

void UyvyRow(const uint8_t *yRow, const uint8_t *u, const uint8_t *v, uint8_t *out, int32_t from,
             int32_t width) {
    const intptr_t pairs = width / 2;
    intptr_t x = from;
    for (; x + 1 < width; x += 2) {
        uint8_t *p = out + 2 * x;
        p[0] = u[x / 2];
        p[1] = yRow[x];
        p[2] = v[x / 2];
        p[3] = yRow[x + 1];
    }
    if (x < width) {
        // The second luma repeats the first: a scaler that filters across the
        // edge then sees this frame's pixel, not whatever the byte held before.
        uint8_t *p = out + 2 * x;
        p[0] = pairs ? u[pairs - 1] : colour::kGrey;
        p[1] = yRow[x];
        p[2] = pairs ? v[pairs - 1] : colour::kGrey;
        p[3] = yRow[x];
    }
}

}  // namespace

void uyvy_pair_c(const uint8_t *y0, const uint8_t *y1, const uint8_t *u, const uint8_t *v,
                 uint8_t *d0, uint8_t *d1, int32_t from, int32_t width, const colour::Record &) {
    UyvyRow(y0, u, v, d0, from, width);
    UyvyRow(y1, u, v, d1, from, width);
}

const ConvertFn yv12_to_uyvy_c = ConvertRowPairs<uyvy_pair_c, Rows::PairsAndLoneRow>;

}  // namespace kestra
