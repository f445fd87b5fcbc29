// A display forced into the GDI mode on a stand-in window, and YV12 frames
// whose every pixel is known through the scalar converter.
#pragma once

#include <windows.h>
#include <kestra/platform_test.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "convert/convert.h"
#include "display/draw_window.h"
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
                                w, h);
        for (size_t i = 0; i < rgb.size(); ++i)
            rgb[i] =
                (uint32_t(bgr[3 * i + 2]) << 16) | (uint32_t(bgr[3 * i + 1]) << 8) | bgr[3 * i];
    }
    uint32_t Rgb(int x, int yy) const { return rgb[static_cast<size_t>(yy) * width + x]; }
};

class GdiDisplay {
public:
    // The window's outer rectangle is the client area grown by `border`; with
    // the default 1 the picture fills the client area exactly.
    GdiDisplay(int frameWidth, int frameHeight, int clientWidth, int clientHeight, int border = 1)
        : window(kplat_create_window("gdi", 40, 30, clientWidth, clientHeight, border)) {
        if (KESTRA_DWOpenDraw(&handle) != 0) return;
        KESTRA_DWSetHwnd(handle, window);
        // Without ddraw.dll set-up settles on the GDI mode.
        kplat_fail_call("LoadLibraryA", -1, 0, 0);
        KESTRA_DWInitDraw(handle, frameWidth, frameHeight);
        kplat_clear_failures();
    }
    ~GdiDisplay() {
        if (handle) KESTRA_DWCloseDraw(handle);
        if (window) DestroyWindow(window);
    }
    GdiDisplay(const GdiDisplay &) = delete;
    GdiDisplay &operator=(const GdiDisplay &) = delete;

    kestra::DrawWindow *object() const { return reinterpret_cast<kestra::DrawWindow *>(handle); }
    bool ready() const {
        return window && handle && object()->ViewPresenter().renderMode == kestra::ModeGdi &&
               object()->State().initialised == 1;
    }
    int32_t Draw(const YuvFrame &f, int32_t v6 = 0, int32_t v7 = 0, int32_t v8 = 0) {
        return KESTRA_DWDrawYUV420(handle, f.y.data(), f.yStride, f.u.data(), f.v.data(),
                                   f.uvStride, v6, v7, v8);
    }
    std::vector<uint32_t> Pixels() const {
        int w = 0, h = 0;
        kplat_get_client_size(window, &w, &h);
        std::vector<uint32_t> out(static_cast<size_t>(w) * h);
        kplat_read_window_pixels(window, out.data(), w);
        return out;
    }

    HWND window = nullptr;
    KestraDisplay handle = nullptr;
};

}  // namespace kestra_test
