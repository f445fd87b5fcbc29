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
// One pixel (3 bytes, blue first) exactly as the converter makes it.
void yuv_to_rgb24_pixel_c(uint8_t y, uint8_t u, uint8_t v, uint8_t *dst);

}  // namespace kestra

namespace kestra {

// RGB 5-6-5: truncated-product chroma tables and packing tables that clamp
// by lookup (valid for indexes -256..511, reached through entry 0).
extern int32_t lumaTable565[256];
extern int32_t redFromV565[256];
extern int32_t greenFromV565[256];
extern int32_t greenFromU565[256];
extern int32_t blueFromU565[256];
extern const int32_t *const pack565Red;
extern const int32_t *const pack565Green;
extern const int32_t *const pack565Blue;
extern int rgb565TablesBuilt;

int count_bits(uint32_t x);
int count_trailing_zeros(uint32_t x);
void build_rgb565_tables();

// Packed planes only: Y rows width bytes apart, chroma rows width / 2. Note V
// before U. An odd height converts the last luma row alone; an odd width's
// last column takes the row's last chroma sample, grey when there is none.
void yv12_to_rgb565_c(const uint8_t *y, const uint8_t *v, const uint8_t *u, uint16_t *dst,
                      int32_t width, int32_t height);

// The odd last column of a row pair (nothing for an even width), exactly as
// the converters write it; every level calls this one. A lone row is passed
// as a pair of itself.
void rgb565_last_column_c(const uint8_t *y0, const uint8_t *y1, const uint8_t *uRow,
                          const uint8_t *vRow, uint16_t *d0, uint16_t *d1, int32_t width);

// The same conversion over strided planes and destination (dstStride in
// pixels); with packed strides the bytes equal yv12_to_rgb565_c's.
void yv12_to_rgb565_strided_c(const uint8_t *y, int32_t yStride, const uint8_t *u, const uint8_t *v,
                              int32_t uvStride, uint16_t *dst, int32_t dstStride, int32_t width,
                              int32_t height);

// Repacks to UYVY (U Y0 V Y1). Any width and height: whole 16-pixel steps,
// then a scalar tail; an odd last row takes the last chroma row. A row is
// (width + 1) / 2 whole groups: an odd last column takes the row's last
// chroma sample (grey when none) and its own luma for both Y bytes.
void yv12_to_uyvy_mmx(const uint8_t *y, int32_t yStride, const uint8_t *u, const uint8_t *v,
                      int32_t uvStride, uint8_t *dst, uint32_t width, uint32_t height,
                      int32_t dstPitch);
// Columns [from, width) of one UYVY row, odd last column included, exactly as
// the packer writes them; every level's tail calls this one.
void uyvy_row_tail_c(const uint8_t *yRow, const uint8_t *uRow, const uint8_t *vRow, uint8_t *out,
                     uint32_t from, uint32_t width);
// Scalar reference of the packer.
void yv12_to_uyvy_c(const uint8_t *y, int32_t yStride, const uint8_t *u, const uint8_t *v,
                    int32_t uvStride, uint8_t *dst, uint32_t width, uint32_t height,
                    int32_t dstPitch);

}  // namespace kestra
