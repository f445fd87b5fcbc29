// Frame walks and scalar tails shared by the vector converters. Each ISA file
// supplies a row-pair kernel that does whole steps; the walk fixes row order,
// flips and odd sizes exactly as the scalar references do. Everything here has
// internal linkage so that each ISA file keeps its own copy, compiled with its
// own flags (a shared inline copy could be one built for a newer CPU).
#pragma once

#include <cstdint>

#include "convert/convert.h"

namespace kestra {
namespace {

inline uint8_t TailClamp13(int32_t sum) {
    const int32_t v = sum >> 13;
    return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

// Blocks [from, blocks) of one RGB24 row pair, the scalar way.
inline void Rgb24TailBlocks(const uint8_t *y0, const uint8_t *y1, const uint8_t *uRow,
                            const uint8_t *vRow, uint8_t *d0, uint8_t *d1, uint32_t from,
                            uint32_t blocks) {
    for (uint32_t j = from; j < blocks; ++j) {
        const int32_t blue = blueFromU24[uRow[j]];
        const int32_t green = greenFromV24[vRow[j]] + greenFromU24[uRow[j]];
        const int32_t red = redFromV24[vRow[j]];
        const uint8_t *rows[2] = {y0, y1};
        uint8_t *outs[2] = {d0, d1};
        for (int r = 0; r < 2; ++r) {
            for (int i = 0; i < 2; ++i) {
                const int32_t luma = lumaTable24[rows[r][2 * j + i]];
                uint8_t *out = outs[r] + 6 * j + 3 * i;
                out[0] = TailClamp13(luma + blue);
                out[1] = TailClamp13(luma - green);
                out[2] = TailClamp13(luma + red);
            }
        }
    }
}

// For frames that are not in the cache: the hardware prefetchers stop at each
// 4 KiB page, and a store to a line that is not there waits for it to be read.
// Asking for luma and output lines kPrefetchPixels ahead overlaps those misses.
// A prefetch never faults, so asking past the end of a row is harmless (the
// addresses are formed as integers, never as pointers outside the buffers).
constexpr uintptr_t kPrefetchPixels = 256;

template <uint32_t kStepPixels>
inline void PrefetchRgb24Step(const uint8_t *yRow, const uint8_t *out, uintptr_t pixel) {
    const uintptr_t y = reinterpret_cast<uintptr_t>(yRow) + pixel + kPrefetchPixels;
    const uintptr_t o = reinterpret_cast<uintptr_t>(out) + 3 * (pixel + kPrefetchPixels);
    __builtin_prefetch(reinterpret_cast<const void *>(y));
    for (uintptr_t b = 0; b < 3 * kStepPixels; b += 64)
        __builtin_prefetch(reinterpret_cast<const void *>(o + b), 1);
}

// pair(y0, y1, uRow, vRow, d0, d1, blocks) converts one row pair.
template <class Pair>
void WalkRgb24(uint8_t *dst, int32_t dstStride, const uint8_t *y, const uint8_t *u,
               const uint8_t *v, int32_t yStride, int32_t uvStride, uint32_t width, int32_t height,
               Pair pair) {
    const bool flip = height < 0;
    const int64_t rows = flip ? -static_cast<int64_t>(height) : height;
    const int64_t pairs = rows / 2;
    const uint32_t blocks = width / 2;
    const int64_t pitch = 3 * static_cast<int64_t>(dstStride);
    if (blocks == 0) return;
    for (int64_t k = 0; k < pairs; ++k) {
        const int64_t row0 = flip ? rows - 1 - 2 * k : 2 * k;
        const int64_t row1 = flip ? rows - 2 - 2 * k : 2 * k + 1;
        const int64_t chromaRow = flip ? pairs - 1 - k : k;
        uint8_t *d0 = dst + 2 * k * pitch;
        pair(y + row0 * yStride, y + row1 * yStride, u + chromaRow * uvStride,
             v + chromaRow * uvStride, d0, d0 + pitch, blocks);
    }
}

inline uint16_t TailPixel565(int32_t luma, int32_t red, int32_t green, int32_t blue) {
    return static_cast<uint16_t>((pack565Green[luma + green] & 0xFFFF) |
                                 (pack565Blue[luma + blue] & 0xFFFF) |
                                 (pack565Red[luma + red] & 0xFFFF));
}

inline void Rgb565TailBlocks(const uint8_t *y0, const uint8_t *y1, const uint8_t *uRow,
                             const uint8_t *vRow, uint16_t *d0, uint16_t *d1, int32_t from,
                             int32_t blocks) {
    for (int32_t j = from; j < blocks; ++j) {
        const int32_t red = redFromV565[vRow[j]];
        const int32_t green = greenFromU565[uRow[j]] + greenFromV565[vRow[j]];
        const int32_t blue = blueFromU565[uRow[j]];
        d0[2 * j] = TailPixel565(lumaTable565[y0[2 * j]], red, green, blue);
        d0[2 * j + 1] = TailPixel565(lumaTable565[y0[2 * j + 1]], red, green, blue);
        d1[2 * j] = TailPixel565(lumaTable565[y1[2 * j]], red, green, blue);
        d1[2 * j + 1] = TailPixel565(lumaTable565[y1[2 * j + 1]], red, green, blue);
    }
}

// An odd last row goes through the pair kernel as a pair of itself: the
// second write of each pixel repeats the first, and no row below is touched.
// An odd last column is converted after each pair's whole blocks.
template <class Pair>
void WalkRgb565(const uint8_t *y, int32_t yStride, const uint8_t *u, const uint8_t *v,
                int32_t uvStride, uint16_t *dst, int32_t dstStride, int32_t width, int32_t height,
                Pair pair) {
    const int32_t chromaRows = height / 2;
    if (chromaRows < 1 || width < 1) return;
    const int32_t blocks = width / 2;
    for (int32_t row = 0; row < height; row += 2) {
        const bool single = row + 1 >= height;
        const int32_t chromaRow = row / 2 < chromaRows ? row / 2 : chromaRows - 1;
        const uint8_t *y0 = y + static_cast<int64_t>(row) * yStride;
        const uint8_t *y1 = single ? y0 : y0 + yStride;
        const uint8_t *uRow = u + static_cast<int64_t>(chromaRow) * uvStride;
        const uint8_t *vRow = v + static_cast<int64_t>(chromaRow) * uvStride;
        uint16_t *d0 = dst + static_cast<int64_t>(row) * dstStride;
        uint16_t *d1 = single ? d0 : d0 + dstStride;
        if (blocks > 0) pair(y0, y1, uRow, vRow, d0, d1, blocks);
        // The reference's own code, so the edge cannot drift from it.
        rgb565_last_column_c(y0, y1, uRow, vRow, d0, d1, width);
    }
}

// pair(y0, y1, uRow, vRow, d0, d1, width) packs one row pair.
template <class Pair>
void WalkUyvy(const uint8_t *y, int32_t yStride, const uint8_t *u, const uint8_t *v,
              int32_t uvStride, uint8_t *dst, uint32_t width, uint32_t height, int32_t dstPitch,
              Pair pair) {
    const uint32_t chromaRows = height / 2;
    if (width == 0 || chromaRows == 0) return;
    for (uint32_t row = 0; row < height; row += 2) {
        const bool single = row + 1 >= height;
        const uint32_t chromaRow = row / 2 < chromaRows ? row / 2 : chromaRows - 1;
        const uint8_t *y0 = y + static_cast<int64_t>(row) * yStride;
        const uint8_t *uRow = u + static_cast<int64_t>(chromaRow) * uvStride;
        const uint8_t *vRow = v + static_cast<int64_t>(chromaRow) * uvStride;
        uint8_t *d0 = dst + static_cast<int64_t>(row) * dstPitch;
        pair(y0, single ? y0 : y0 + yStride, uRow, vRow, d0, single ? d0 : d0 + dstPitch, width);
    }
}

}  // namespace
}  // namespace kestra
