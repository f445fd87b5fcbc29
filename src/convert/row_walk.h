// The frame walk every converter shares, and the "any width" helper of the
// vector kernels. Everything here has internal linkage so that each ISA file
// keeps its own copy, compiled with its own flags (a shared inline copy could
// be one built for a newer CPU).
#pragma once

#include <cstdint>

#include "convert/colour.h"
#include "convert/convert.h"

namespace kestra {
namespace {

// RGB24 converts row pairs only and may read bottom-up; the surface formats
// (2 bytes a pixel, both) also convert an odd last row and refuse a negative
// height; the full-frame RGB24 converts every row either way.
enum class Rows { PairsOrFlipped, PairsAndLoneRow, EveryRowEitherWay };

struct GreySamples {
    static constexpr int32_t kCount = 64;
    uint8_t s[kCount];
};

constexpr GreySamples MakeGreySamples() {
    GreySamples g{};
    for (uint8_t &s : g.s) s = colour::kGrey;
    return g;
}

constexpr GreySamples kGreySamples = MakeGreySamples();

// The one row of a frame one row high, which has no chroma row: grey chroma,
// in pieces no wider than the grey samples at hand.
template <RowPairFn kPair, int64_t kBytesPerPixel>
void ConvertGreyRow(const uint8_t *y, uint8_t *dst, int32_t width, const colour::Record &colour) {
    constexpr int32_t kPiece = 2 * GreySamples::kCount;
    const uint8_t *grey = kGreySamples.s;
    for (int64_t x = 0; x < width; x += kPiece) {
        const int32_t n = static_cast<int32_t>(width - x < kPiece ? width - x : kPiece);
        uint8_t *out = dst + kBytesPerPixel * x;
        kPair(y + x, y + x, grey, grey, out, out, 0, n, colour);
    }
}

template <RowPairFn kPair, Rows kRows>
void ConvertRowPairs(const uint8_t *y, int32_t yStride, const uint8_t *u, const uint8_t *v,
                     int32_t uvStride, uint8_t *dst, int32_t dstStride, int32_t width,
                     int32_t height, const colour::Record &colour) {
    const bool flip = height < 0;
    if (width < 1 || (flip && kRows == Rows::PairsAndLoneRow)) return;
    const int64_t rows = flip ? -static_cast<int64_t>(height) : height;
    const int64_t pairs = rows / 2;
    if (pairs == 0) {
        if (rows != 1 || kRows == Rows::PairsOrFlipped) return;
        ConvertGreyRow<kPair, kRows == Rows::EveryRowEitherWay ? 3 : 2>(y, dst, width, colour);
        return;
    }
    for (int64_t k = 0; k < pairs; ++k) {
        const int64_t row0 = flip ? rows - 1 - 2 * k : 2 * k;
        const int64_t chroma = (flip ? pairs - 1 - k : k) * uvStride;
        const uint8_t *y0 = y + row0 * yStride;
        uint8_t *d0 = dst + 2 * k * dstStride;
        kPair(y0, flip ? y0 - yStride : y0 + yStride, u + chroma, v + chroma, d0, d0 + dstStride, 0,
              width, colour);
    }
    if (kRows == Rows::PairsOrFlipped || rows % 2 == 0) return;
    // The odd last row, with the last chroma row: as a pair of itself, the
    // second write of each pixel repeats the first and no row below is touched.
    // Read bottom-up, the last row out is the frame's first, with chroma row 0.
    const uint8_t *yLast = flip ? y : y + (rows - 1) * yStride;
    uint8_t *dLast = dst + (rows - 1) * dstStride;
    const int64_t chroma = flip ? 0 : (pairs - 1) * uvStride;
    kPair(yLast, yLast, u + chroma, v + chroma, dLast, dLast, 0, width, colour);
}

// An RGB24 row pair, then its odd last column if any.
template <RowPairFn kPair>
void Rgb24PairAndLastColumn(const uint8_t *y0, const uint8_t *y1, const uint8_t *u,
                            const uint8_t *v, uint8_t *d0, uint8_t *d1, int32_t from, int32_t width,
                            const colour::Record &colour) {
    kPair(y0, y1, u, v, d0, d1, from, width, colour);
    rgb24_last_column_c(y0, y1, u, v, d0, d1, from, width, colour);
}

// The row walk as a table entry calls it, for the converters that store the
// same way at every output size.
template <RowPairFn kPair, Rows kRows>
void ConvertAnySize(const uint8_t *y, int32_t yStride, const uint8_t *u, const uint8_t *v,
                    int32_t uvStride, uint8_t *dst, int32_t dstStride, int32_t width,
                    int32_t height, const colour::Record &colour, OutputThresholds) {
    ConvertRowPairs<kPair, kRows>(y, yStride, u, v, uvStride, dst, dstStride, width, height,
                                  colour);
}

// The full-frame RGB24 converter over a row pair of whole blocks.
template <RowPairFn kPair>
constexpr LevelConvertFn kRgb24Full =
    ConvertAnySize<Rgb24PairAndLastColumn<kPair>, Rows::EveryRowEitherWay>;

// The block (chroma sample) where whole steps of kPixels from `from` end.
template <int32_t kPixels>
inline uintptr_t WholeStepsEnd(int32_t from, int32_t width) {
    return static_cast<uintptr_t>(from / 2) +
           static_cast<uintptr_t>((width - from) / kPixels * (kPixels / 2));
}

// A vector row pair of any width: whole steps of kPixels from `from`, then
// the C row pair for the columns left over, so kernels carry no tail code.
// step(j) converts the kPixels / 2 blocks from block (chroma sample) j.
template <int32_t kPixels, RowPairFn kTail, class Step>
inline void StepsThenTail(const uint8_t *y0, const uint8_t *y1, const uint8_t *u, const uint8_t *v,
                          uint8_t *d0, uint8_t *d1, int32_t from, int32_t width,
                          const colour::Record &colour, Step step) {
    const uintptr_t end = WholeStepsEnd<kPixels>(from, width);
    for (uintptr_t j = static_cast<uintptr_t>(from / 2); j < end; j += kPixels / 2) step(j);
    kTail(y0, y1, u, v, d0, d1, static_cast<int32_t>(2 * end), width, colour);
}

// A row pair converted one row after the other, kChunkSize pixels at a time.
// With both rows in step, a frame that is not in the cache is two streams of
// luma and two of output lines at once, and the stores wait on lines the
// prefetchers have not brought; one row at a time is one of each, as a copy
// is. Each pass(j, slot) runs over a chunk's steps in turn, `slot` counting
// them from 0, so that a pass can keep in slot what a later one needs (a
// chunk's slots stay in the L1 cache). kChunkPixels is the 32-bit AVX-512
// RGB24 kernel's, whose slots take 6 KiB per 1024 pixels. The UYVY rows
// (RowsInTurn) keep 1 KiB per 1024 pixels and take whole rows up to
// kTurnPixels, as each cut starts the read and write streams again
// (bench/notes.md).
constexpr int32_t kChunkPixels = 2048;
constexpr int32_t kTurnPixels = 4096;

template <int32_t kPixels, int32_t kChunkSize = kChunkPixels, class... Passes>
inline void InChunks(uintptr_t first, uintptr_t end, Passes... passes) {
    constexpr uintptr_t kStep = kPixels / 2;
    constexpr uintptr_t kChunk = kChunkSize / 2;
    for (uintptr_t chunk = first; chunk < end; chunk += kChunk) {
        const uintptr_t stop = end - chunk > kChunk ? chunk + kChunk : end;
        const auto run = [&](auto pass) {
            for (uintptr_t j = chunk, slot = 0; j < stop; j += kStep) pass(j, slot++);
        };
        (run(passes), ...);
    }
}

// first(j, slot) converts step j of row 0 and keeps in `slot` what
// second(j, slot) needs for row 1; the C row pair does the columns left over.
template <int32_t kPixels, RowPairFn kTail, class First, class Second>
inline void RowsInTurn(const uint8_t *y0, const uint8_t *y1, const uint8_t *u, const uint8_t *v,
                       uint8_t *d0, uint8_t *d1, int32_t from, int32_t width,
                       const colour::Record &colour, First first, Second second) {
    const uintptr_t end = WholeStepsEnd<kPixels>(from, width);
    InChunks<kPixels, kTurnPixels>(static_cast<uintptr_t>(from / 2), end, first, second);
    kTail(y0, y1, u, v, d0, d1, static_cast<int32_t>(2 * end), width, colour);
}

// Output past OutputThresholds::streamingBytes (with a 32 MiB cache, a 4K
// frame's 16 or 24 MiB, not a 1080p frame's 4 or 6) is stored around the
// caches by the converters that can: it would evict the planes it is made
// from, and each line written would first be read in. A bottom-up frame is
// written top-down all the same.
inline int64_t OutputBytes(int32_t dstStride, int32_t height) {
    const int64_t pitch = dstStride < 0 ? -int64_t(dstStride) : dstStride;
    const int64_t rows = height < 0 ? -int64_t(height) : height;
    return pitch * rows;
}

// For frames that are not in the cache: the hardware prefetchers stop at each
// 4 KiB page, and a store to a line that is not there waits for it to be read.
// Asking for luma and output lines kPrefetchPixels ahead overlaps those misses.
// A prefetch never faults, so asking past the end of a row is harmless (the
// addresses are formed as integers, never as pointers outside the buffers).
constexpr uintptr_t kPrefetchPixels = 256;

// Streamed steps have no output lines to ask for, but their planes come from
// memory: a frame that large does not stay in the caches between decoder and
// converter. Left to the hardware prefetchers, which learn each row's read
// streams afresh and stop at every 4 KiB page, the steps wait on their misses;
// asked for kPlanePrefetchPixels ahead, they overlap them (nearer or farther
// was slower). The cached AVX-512 steps of 64-bit code ask for their chroma
// as far ahead (their luma and output come with PrefetchStep), which pays
// with cold caches and costs nothing warm. The AVX2 steps, a quarter of a
// chroma line each, are slower with it and the 32-bit chroma loop no faster;
// both do without (bench/notes.md).
constexpr uintptr_t kPlanePrefetchPixels = 1024;

// The UYVY steps of frames larger than the L2 cache (vector_kernels.h) ask
// for luma, chroma and output this far ahead, as the frame is then in the L3
// cache at best: they gain most with cold caches, and warm too. A frame that
// fits the L2 cache is slower with them, so it goes without. Planes and output
// each gain less alone than together, and nearer or farther gains less
// (bench/notes.md).
constexpr uintptr_t kUyvyPrefetchPixels = 2048;

inline void PrefetchAhead(const uint8_t *plane, uintptr_t offset) {
    __builtin_prefetch(reinterpret_cast<const void *>(reinterpret_cast<uintptr_t>(plane) + offset));
}

// The luma of a step of kStepPixels from `pixel`, and its output lines of
// kBytesPerPixel a pixel, kAhead pixels ahead.
template <uintptr_t kBytesPerPixel, uintptr_t kStepPixels, uintptr_t kAhead = kPrefetchPixels>
inline void PrefetchStep(const uint8_t *yRow, const uint8_t *out, uintptr_t pixel) {
    PrefetchAhead(yRow, pixel + kAhead);
    const uintptr_t o = reinterpret_cast<uintptr_t>(out) + kBytesPerPixel * (pixel + kAhead);
    for (uintptr_t b = 0; b < kBytesPerPixel * kStepPixels; b += 64)
        __builtin_prefetch(reinterpret_cast<const void *>(o + b), 1);
}

// Luma of pixel `pixel` of a row and on, or chroma of its block `block` and on.
inline void PrefetchStreamedLuma(const uint8_t *yRow, uintptr_t pixel) {
    PrefetchAhead(yRow, pixel + kPlanePrefetchPixels);
}
template <uintptr_t kAhead = kPlanePrefetchPixels>
inline void PrefetchChroma(const uint8_t *u, const uint8_t *v, uintptr_t block) {
    PrefetchAhead(u, block + kAhead / 2);
    PrefetchAhead(v, block + kAhead / 2);
}

}  // namespace
}  // namespace kestra
