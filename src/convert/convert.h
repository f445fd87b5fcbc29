// Pixel-format converters: YV12 to RGB24, RGB 5-6-5 and UYVY, and the
// process-wide tables they read. The *_c functions are the scalar
// references; everything else must match them bit for bit.
#pragma once

#include <cstdint>

namespace kestra {

// RGB24: BT.601 studio range in 13-bit fixed point.
extern int32_t lumaTable24[256];
extern int32_t blueFromU24[256];
extern int32_t greenFromU24[256];
extern int32_t greenFromV24[256];
extern int32_t redFromV24[256];

void build_rgb24_tables();

// Negative height means read the source bottom-up. dstStride is in pixels.
void yv12_to_rgb24_c(uint8_t *dst, int32_t dstStride, const uint8_t *y, const uint8_t *u,
                     const uint8_t *v, int32_t yStride, int32_t uvStride, uint32_t width,
                     int32_t height);

}  // namespace kestra
