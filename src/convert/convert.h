// Pixel-format converters: YV12 to RGB24, RGB 5-6-5 and UYVY. The *_c converters are the scalar
// references; every vector level must match them bit for bit, for every colour record.
#pragma once

#include <cstdint>

#include "convert/colour.h"

namespace kestra {

// Every converter: the planes, then the destination; strides are bytes
// between rows. Chroma sample j of chroma row k serves columns 2j and 2j+1
// of luma rows 2k and 2k+1, and a frame has height / 2 chroma rows.
// - RGB24 (3 bytes, blue first) converts whole 2x2 blocks only; a negative
//   height reads the source bottom-up into a top-down destination.
// - Full-frame RGB24 does the same and also converts an odd last column,
//   with the row's last chroma sample, and an odd lone row: the frame's last
//   row with the last chroma row, or read bottom-up its first row with chroma
//   row 0. A frame 1 pixel wide or high has no chroma: grey.
// - RGB 5-6-5 (native 16-bit pixels) and UYVY (U Y0 V Y1 groups) convert an
//   odd last row with the last chroma row and an odd last column with the
//   row's last chroma sample (grey when there is none; UYVY gives that column
//   a whole group, its luma twice), a frame 1 pixel high in grey; a negative
//   height converts nothing.
// The colour record gives the frame's matrix and range; UYVY only moves bytes
// and takes none.
using ConvertFn = void (*)(const uint8_t *y, int32_t yStride, const uint8_t *u, const uint8_t *v,
                           int32_t uvStride, uint8_t *dst, int32_t dstStride, int32_t width,
                           int32_t height, const colour::Record &colour);

extern const ConvertFn yv12_to_rgb24_c;
extern const ConvertFn yv12_to_rgb24_full_c;
extern const ConvertFn yv12_to_rgb565_c;
extern const ConvertFn yv12_to_uyvy_c;

// The output sizes at which the vector converters change how they store,
// from the caches CPUID describes: read once when the converter tables are
// built (dispatch.cpp) and handed to every call through a table entry.
struct OutputThresholds {
    // Above this many bytes output is stored around the caches by the
    // converters that can: a quarter of the last-level cache (8 MiB when CPUID
    // does not say).
    int64_t streamingBytes;
    // Above this many bytes the UYVY steps ask for their lines ahead: the size
    // of the L2 cache (1 MiB when CPUID does not say). Below it a frame is
    // usually in that cache, where the prefetches only cost.
    int64_t prefetchingBytes;
};

// A converter as a table entry calls it: ConvertFn's contract, with the
// thresholds it chooses its stores by.
using LevelConvertFn = void (*)(const uint8_t *y, int32_t yStride, const uint8_t *u,
                                const uint8_t *v, int32_t uvStride, uint8_t *dst, int32_t dstStride,
                                int32_t width, int32_t height, const colour::Record &colour,
                                OutputThresholds thresholds);

// Columns [from, width) of one row pair (from even) sharing the chroma rows u
// and v; a lone row is passed as a pair of itself. The C converters run these
// over whole rows, and every vector level over the columns its steps leave.
using RowPair = void(const uint8_t *y0, const uint8_t *y1, const uint8_t *u, const uint8_t *v,
                     uint8_t *d0, uint8_t *d1, int32_t from, int32_t width,
                     const colour::Record &colour);
using RowPairFn = RowPair *;

RowPair rgb24_pair_c, rgb565_pair_c, uyvy_pair_c;
// Column width - 1 of both rows when the width is odd, else nothing.
RowPair rgb24_last_column_c;

// One row of RGB24 (blue first) as 32-bit pixels, blue in the low byte and
// 0 in the high one: the GDI presenter's DIB, the screen's own format.
using WidenFn = void (*)(const uint8_t *bgr, uint32_t *xrgb, int32_t width);
void rgb24_to_xrgb_c(const uint8_t *bgr, uint32_t *xrgb, int32_t width);

// The tables the C converters read, one set per colour record, built at load.
void build_rgb24_tables();
void build_rgb565_tables();

// A frame of any record rewritten as the samples that a YUV blit of `blit`'s
// equations converts to the record's colours: the chroma planes' width / 2 x
// height / 2 samples, then every luma sample with its block's chroma.
void build_remap_tables();
void remap_for_blit(const uint8_t *y, int32_t yStride, const uint8_t *u, const uint8_t *v,
                    int32_t uvStride, uint8_t *dy, int32_t dyStride, uint8_t *du, uint8_t *dv,
                    int32_t duvStride, int32_t width, int32_t height, const colour::Record &colour,
                    colour::Blit blit);

// One pixel (3 bytes, blue first) exactly as the converter makes it.
void yuv_to_rgb24_pixel_c(uint8_t y, uint8_t u, uint8_t v, uint8_t *dst,
                          const colour::Record &colour);

}  // namespace kestra
