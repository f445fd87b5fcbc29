// YV12 to packed UYVY: bytes are only reordered.
#include "convert/convert.h"
#include "convert/dispatch.h"

namespace kestra {

void uyvy_row_tail_c(const uint8_t *yRow, const uint8_t *uRow, const uint8_t *vRow, uint8_t *out,
                     uint32_t from, uint32_t width) {
    const uint32_t pairs = width / 2;
    uint32_t x = from;
    for (; x + 1 < width; x += 2) {
        uint8_t *p = out + 2 * static_cast<uint64_t>(x);
        p[0] = uRow[x / 2];
        p[1] = yRow[x];
        p[2] = vRow[x / 2];
        p[3] = yRow[x + 1];
    }
    if (x < width) {
        // The second luma repeats the first: a scaler that filters across the
        // edge then sees this frame's pixel, not whatever the byte held before.
        uint8_t *p = out + 2 * static_cast<uint64_t>(x);
        p[0] = pairs ? uRow[pairs - 1] : 0x80;
        p[1] = yRow[x];
        p[2] = pairs ? vRow[pairs - 1] : 0x80;
        p[3] = yRow[x];
    }
}

void yv12_to_uyvy_c(const uint8_t *y, int32_t yStride, const uint8_t *u, const uint8_t *v,
                    int32_t uvStride, uint8_t *dst, uint32_t width, uint32_t height,
                    int32_t dstPitch) {
    // height / 2 chroma rows: an odd last row reuses the last of them, and a
    // single row has none to pack with.
    const uint32_t chromaRows = height / 2;
    if (chromaRows == 0) return;
    for (uint32_t row = 0; row < height; ++row) {
        const uint32_t chromaRow = row / 2 < chromaRows ? row / 2 : chromaRows - 1;
        const uint8_t *uRow = u + static_cast<int64_t>(chromaRow) * uvStride;
        const uint8_t *vRow = v + static_cast<int64_t>(chromaRow) * uvStride;
        uyvy_row_tail_c(y + static_cast<int64_t>(row) * yStride, uRow, vRow,
                        dst + static_cast<int64_t>(row) * dstPitch, 0, width);
    }
}

void yv12_to_uyvy_mmx(const uint8_t *y, int32_t yStride, const uint8_t *u, const uint8_t *v,
                      int32_t uvStride, uint8_t *dst, uint32_t width, uint32_t height,
                      int32_t dstPitch) {
    // The fastest packer this CPU runs; its bytes equal yv12_to_uyvy_c's.
    Converters().uyvy(y, yStride, u, v, uvStride, dst, width, height, dstPitch);
}

}  // namespace kestra
