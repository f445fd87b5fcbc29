// The converters the presenters and the export call: the fastest
// implementation that matches the scalar reference bit for bit.
#pragma once

#include "convert/convert.h"

namespace kestra {

using Rgb24Fn = void (*)(uint8_t *dst, int32_t dstStride, const uint8_t *y, const uint8_t *u,
                         const uint8_t *v, int32_t yStride, int32_t uvStride, uint32_t width,
                         int32_t height);
using Rgb565Fn = void (*)(const uint8_t *y, int32_t yStride, const uint8_t *u, const uint8_t *v,
                          int32_t uvStride, uint16_t *dst, int32_t dstStride, int32_t width,
                          int32_t height);
using UyvyFn = void (*)(const uint8_t *y, int32_t yStride, const uint8_t *u, const uint8_t *v,
                        int32_t uvStride, uint8_t *dst, uint32_t width, uint32_t height,
                        int32_t dstPitch);

struct ConverterTable {
    Rgb24Fn rgb24;
    Rgb565Fn rgb565;
    UyvyFn uyvy;
};

const ConverterTable &Converters();

}  // namespace kestra
