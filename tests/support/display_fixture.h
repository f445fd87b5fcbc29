// Displays on stand-in windows in a chosen render mode, and YV12 frames in
// exactly-sized host planes, for the stress and hostile-host suites.
#pragma once

#include <windows.h>
#include <kestra/platform_test.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "display/draw_window.h"
#include "support/adapter_modes.h"
#include "kestra/kestra.h"

namespace kestra_test {

constexpr int kAllModes[] = {kestra::ModeGdi, kestra::ModeYV12Surface, kestra::ModeUYVYSurface,
                             kestra::ModeRGB565Surface};

inline const char *ModeName(int mode) {
    switch (mode) {
        case kestra::ModeYV12Surface:
            return "YV12";
        case kestra::ModeUYVYSurface:
            return "UYVY";
        case kestra::ModeRGB565Surface:
            return "RGB565";
        default:
            return "GDI";
    }
}

inline kestra::DrawWindow *Object(KestraDisplay display) {
    return reinterpret_cast<kestra::DrawWindow *>(display);
}

inline int LiveObjects() {
    int total = 0;
    for (int kind = 0; kind < KPLAT_OBJ_KIND_COUNT; ++kind)
        if (kind != KPLAT_OBJ_FONT && kind != KPLAT_OBJ_WAVEOUT)
            total += kplat_live_objects(static_cast<KplatObjectKind>(kind));
    return total;
}

// A heap block of exactly `bytes` bytes (at least 1), so ASan flags any
// access past either end.
class ExactBlock {
public:
    explicit ExactBlock(size_t bytes) : size_(bytes ? bytes : 1) {
        data_ = static_cast<uint8_t *>(std::malloc(size_));
    }
    ~ExactBlock() { std::free(data_); }
    ExactBlock(const ExactBlock &) = delete;
    ExactBlock &operator=(const ExactBlock &) = delete;
    uint8_t *data() const { return data_; }
    size_t size() const { return size_; }
    void Fill(uint8_t value) { std::memset(data_, value, size_); }

private:
    size_t size_;
    uint8_t *data_;
};

// Bytes a plane of `rows` rows of `used` bytes takes at `stride`; a negative
// stride lays the rows out bottom-up, first row last.
inline size_t PlaneBytes(int64_t rows, int64_t used, int64_t stride) {
    if (rows <= 0 || used <= 0) return 1;
    int64_t span = (rows - 1) * (stride < 0 ? -stride : stride) + used;
    return static_cast<size_t>(span);
}

// The address of the first row inside a block laid out as PlaneBytes says.
inline uint8_t *FirstRow(const ExactBlock &block, int64_t rows, int64_t stride) {
    return stride < 0 && rows > 1 ? block.data() + (rows - 1) * -stride : block.data();
}

// A uniform YV12 frame in exactly-sized planes: chroma is (w / 2) x (h / 2).
struct Frame {
    Frame(int w, int h, int ys, int uvs)
        : width(w),
          height(h),
          yStride(ys),
          uvStride(uvs),
          yBlock(PlaneBytes(h, w, ys)),
          uBlock(PlaneBytes(h / 2, w / 2, uvs)),
          vBlock(PlaneBytes(h / 2, w / 2, uvs)) {}
    Frame(int w, int h) : Frame(w, h, w, w / 2) {}

    void Paint(uint8_t y, uint8_t u, uint8_t v) {
        yBlock.Fill(y);
        uBlock.Fill(u);
        vBlock.Fill(v);
    }
    const uint8_t *Y() const { return FirstRow(yBlock, height, yStride); }
    const uint8_t *U() const { return FirstRow(uBlock, height / 2, uvStride); }
    const uint8_t *V() const { return FirstRow(vBlock, height / 2, uvStride); }
    KestraResult DrawOn(KestraDisplay display) const {
        return KESTRA_DWDrawYUV420(display, Y(), yStride, U(), V(), uvStride, 0, 0, 0);
    }

    int width, height, yStride, uvStride;
    ExactBlock yBlock, uBlock, vBlock;
};

// The 24-bit colour (0x00RRGGBB) of a uniform frame, by the library's own converter.
inline uint32_t ExpectedColour(uint8_t y, uint8_t u, uint8_t v) {
    uint8_t yPlane[4] = {y, y, y, y};
    uint8_t bgr[12] = {};
    KESTRA_yv12_to_rgb24_c(bgr, 2, yPlane, &u, &v, 2, 1, 2, 2);
    return uint32_t(bgr[2]) << 16 | uint32_t(bgr[1]) << 8 | bgr[0];
}

inline std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%06X", value);
    return text;
}

}  // namespace kestra_test
