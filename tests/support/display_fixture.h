// A display on a stand-in window in a chosen render mode, the YV12 frames the
// display tests draw (patterned ones whose every pixel is known through the
// scalar converter, uniform ones in exactly-sized host planes), and the text
// the displays draw.
#pragma once

#include <windows.h>
#include <kestra/platform_test.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "convert/convert.h"
#include "support/adapter_modes.h"
#include "kestra/kestra.h"

namespace kestra_test {

// Strides wider than the planes, so a path that ignores them shows it.
struct YuvFrame {
    int width, height, yStride, uvStride;
    std::vector<uint8_t> y, u, v;
    std::vector<uint32_t> rgb;  // top-down 0x00RRGGBB

    // Eight vertical colour bars: white, yellow, cyan, green, magenta, red,
    // blue, black.
    static YuvFrame Bars(int w, int h) {
        static const uint8_t kYuv[8][3] = {{235, 128, 128}, {210, 16, 146},  {170, 166, 16},
                                           {145, 54, 34},   {106, 202, 222}, {81, 90, 240},
                                           {41, 240, 110},  {16, 128, 128}};
        YuvFrame f(w, h, 0);
        for (int r = 0; r < h; ++r)
            for (int c = 0; c < w; ++c) {
                const uint8_t *bar = kYuv[c * 8 / w];
                f.y[static_cast<size_t>(r) * f.yStride + c] = bar[0];
                if (r % 2 || c % 2) continue;
                f.u[static_cast<size_t>(r / 2) * f.uvStride + c / 2] = bar[1];
                f.v[static_cast<size_t>(r / 2) * f.uvStride + c / 2] = bar[2];
            }
        f.Reference();
        return f;
    }

    // The second frame of the odd-edge checks: the pattern's luma inverted,
    // chroma one colour (U 90, V 240) throughout.
    static YuvFrame InvertedOnOneColour(int w, int h) {
        YuvFrame f(w, h);
        for (uint8_t &luma : f.y) luma = static_cast<uint8_t>(255 - luma);
        std::fill(f.u.begin(), f.u.end(), 90);
        std::fill(f.v.begin(), f.v.end(), 240);
        return f;
    }

    // luma < 0: a pattern that differs from pixel to pixel; else a flat grey.
    YuvFrame(int w, int h, int luma = -1)
        : width(w),
          height(h),
          yStride(w + 8),
          uvStride(w / 2 + 4),
          y(static_cast<size_t>(yStride) * h),
          // At least one byte: a frame 1 pixel high has no chroma rows but
          // must still pass a plane.
          u(std::max<size_t>(static_cast<size_t>(uvStride) * (h / 2), 1)),
          v(u.size()),
          rgb(static_cast<size_t>(w) * h) {
        for (int r = 0; r < h; ++r)
            for (int c = 0; c < w; ++c)
                y[static_cast<size_t>(r) * yStride + c] =
                    static_cast<uint8_t>(luma < 0 ? 16 + (c * 7 + r * 13) % 220 : luma);
        for (int r = 0; r < h / 2; ++r)
            for (int c = 0; c < w / 2; ++c) {
                size_t i = static_cast<size_t>(r) * uvStride + c;
                u[i] = static_cast<uint8_t>(luma < 0 ? 78 + (c * 11 + r * 3) % 101 : 128);
                v[i] = static_cast<uint8_t>(luma < 0 ? 78 + (c * 5 + r * 17) % 101 : 128);
            }
        Reference();
    }
    // The expected picture, through the scalar converter.
    void Reference() {
        const int w = width, h = height;
        std::vector<uint8_t> bgr(static_cast<size_t>(w) * h * 3);
        kestra::yv12_to_rgb24_c(y.data(), yStride, u.data(), v.data(), uvStride, bgr.data(), 3 * w,
                                w, h, kestra::colour::kBt601Studio);
        for (size_t i = 0; i < rgb.size(); ++i)
            rgb[i] =
                (uint32_t(bgr[3 * i + 2]) << 16) | (uint32_t(bgr[3 * i + 1]) << 8) | bgr[3 * i];
    }
    uint32_t Rgb(int x, int yy) const { return rgb[static_cast<size_t>(yy) * width + x]; }
};

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

inline std::string ModeParamName(const testing::TestParamInfo<int> &param) {
    return ModeName(param.param);
}

// A mode and a table row with a name.
template <typename Row>
std::string ModeAndRowName(const testing::TestParamInfo<std::tuple<int, Row>> &param) {
    return std::string(ModeName(std::get<0>(param.param))) + "_" + std::get<1>(param.param).name;
}

inline std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%06X", value);
    return text;
}

// A stand-in window of clientWidth x clientHeight, its outer rectangle that
// grown by `border` (with 1 the picture fills the client area exactly), and
// an open display on it, set up for frames of frameWidth x frameHeight
// unless that is 0. The adapter stays led to `mode` until the display goes.
class TestDisplay {
public:
    TestDisplay(int mode, int frameWidth, int frameHeight, int clientWidth, int clientHeight,
                int border = 1)
        : window(kplat_create_window("test", 40, 30, clientWidth, clientHeight, border)) {
        ConfigureAdapter(mode);
        if (KESTRA_DWOpenDraw(&handle) != 0) return;
        KESTRA_DWSetHwnd(handle, window);
        if (frameWidth) Init(frameWidth, frameHeight);
    }
    TestDisplay(int mode, int width, int height)
        : TestDisplay(mode, width, height, width, height) {}
    ~TestDisplay() {
        Close();
        RestoreAdapter();
    }
    TestDisplay(const TestDisplay &) = delete;
    TestDisplay &operator=(const TestDisplay &) = delete;

    // The log starts afresh, so Mode() tells what this set-up chose.
    KestraResult Init(int width, int height) {
        kplat_ddraw_clear_log();
        return KESTRA_DWInitDraw(handle, width, height);
    }
    int Mode() const { return ModeFromLog(); }
    KestraResult Draw(const YuvFrame &f, int32_t v6 = 0, int32_t v7 = 0, int32_t v8 = 0) const {
        return KESTRA_DWDrawYUV420(handle, f.y.data(), f.yStride, f.u.data(), f.v.data(),
                                   f.uvStride, v6, v7, v8);
    }
    KestraResult Draw(const Frame &f) const {
        return KESTRA_DWDrawYUV420(handle, f.Y(), f.yStride, f.U(), f.V(), f.uvStride, 0, 0, 0);
    }
    KestraResult Osd(int32_t slot, const char *text, int32_t x, int32_t y, int32_t anchor = 0,
                     uint32_t colour = 0xFFFFFF) const {
        return KESTRA_DWSetOSDText(handle, slot, text, x, y, anchor, colour);
    }
    // The client area, 0x00RRGGBB, rows of its width.
    std::vector<uint32_t> Pixels() const {
        int w = 0, h = 0;
        kplat_get_client_size(window, &w, &h);
        std::vector<uint32_t> out(static_cast<size_t>(w) * h);
        kplat_read_window_pixels(window, out.data(), w);
        return out;
    }
    uint32_t At(int x, int y) const { return kplat_window_pixel(window, x, y); }
    void Close() {
        if (handle) KESTRA_DWCloseDraw(handle);
        if (window) DestroyWindow(window);
        handle = nullptr;
        window = nullptr;
    }

    HWND window = nullptr;
    KestraDisplay handle = nullptr;
};

// Every string the text renderer is asked to draw while this lives, on any thread.
class DrawnText {
public:
    DrawnText() { kplat_set_text_hook(&DrawnText::Hook, this); }
    ~DrawnText() { kplat_set_text_hook(nullptr, nullptr); }
    DrawnText(const DrawnText &) = delete;
    DrawnText &operator=(const DrawnText &) = delete;
    // What was drawn since the last call.
    std::vector<std::string> Take() {
        std::lock_guard<std::mutex> guard(mutex);
        std::vector<std::string> out;
        out.swap(lines);
        return out;
    }

private:
    static void Hook(const char *text, int count, void *user) {
        DrawnText *self = static_cast<DrawnText *>(user);
        std::lock_guard<std::mutex> guard(self->mutex);
        self->lines.emplace_back(text, size_t(count));
    }
    std::mutex mutex;
    std::vector<std::string> lines;
};

}  // namespace kestra_test
