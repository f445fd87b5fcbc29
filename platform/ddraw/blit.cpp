// Pixel work of the software display adapter: colour fills, and blits that
// convert YV12, UYVY and RGB 5-6-5 to XRGB (BT.601 studio range, as display
// drivers do), stretch by nearest neighbour, mirror and clip to the window.
#include "ddraw/ddraw_internal.h"

#include <libyuv.h>

#include <algorithm>
#include <cstring>

namespace kplat {

namespace {

uint16_t PackRgb565(uint32_t xrgb) {
    return static_cast<uint16_t>(((xrgb >> 8) & 0xF800) | ((xrgb >> 5) & 0x07E0) |
                                 ((xrgb >> 3) & 0x001F));
}

RECT Intersect(const RECT &a, const RECT &b) {
    RECT r{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
           std::min(a.bottom, b.bottom)};
    if (r.right < r.left) r.right = r.left;
    if (r.bottom < r.top) r.bottom = r.top;
    return r;
}

// Where a blit to the primary lands: the clipper's window client area, or
// the desktop when no window clips it. `area` is in screen coordinates. It
// holds the window lock, since window pixels move when a window is resized.
struct PrimaryOutput {
    std::lock_guard<std::recursive_mutex> windows{WindowLock()};
    PixelTarget target;
    RECT area{};
    HWND window = nullptr;
};

bool ResolvePrimary(const Clipper *clipper, PrimaryOutput *out) {
    if (clipper && clipper->window) {
        Window *w = FindWindow(clipper->window);
        if (!w) return false;
        out->target = w->Target();
        out->area = w->client;
        out->window = clipper->window;
        return true;
    }
    out->target = TheDesktop().Target();
    out->area = RECT{0, 0, out->target.width, out->target.height};
    return true;
}

}  // namespace

void Surface::ToXrgb(uint32_t *dst) const {
    uint8_t *argb = reinterpret_cast<uint8_t *>(dst);
    const uint8_t *base = memory.data();
    int dstStride = width * 4;
    switch (format) {
        case SurfaceFormat::Xrgb:
            for (int row = 0; row < height; ++row)
                std::memcpy(argb + size_t(row) * dstStride, base + size_t(row) * pitch,
                            size_t(width) * 4);
            break;
        case SurfaceFormat::Rgb565:
            libyuv::RGB565ToARGB(base, pitch, argb, dstStride, width, height);
            break;
        case SurfaceFormat::Uyvy:
            libyuv::UYVYToARGB(base, pitch, argb, dstStride, width, height);
            break;
        case SurfaceFormat::Yv12: {
            const uint8_t *v = base + size_t(height) * pitch;
            const uint8_t *u = v + size_t(height / 2) * (pitch / 2);
            libyuv::I420ToARGB(base, pitch, u, pitch / 2, v, pitch / 2, argb, dstStride, width,
                               height);
            break;
        }
    }
    for (size_t i = 0, n = size_t(width) * height; i < n; ++i) dst[i] &= 0xFFFFFFu;
}

void Surface::FromXrgb(const uint32_t *src) {
    for (int row = 0; row < height; ++row) {
        const uint32_t *in = src + size_t(row) * width;
        uint8_t *out = memory.data() + size_t(row) * pitch;
        if (format == SurfaceFormat::Xrgb) {
            std::memcpy(out, in, size_t(width) * 4);
            continue;
        }
        uint16_t *out16 = reinterpret_cast<uint16_t *>(out);
        for (int x = 0; x < width; ++x) out16[x] = PackRgb565(in[x]);
    }
}

HRESULT Surface::ColorFill(const RECT *rect, DWORD value) {
    if (primary) {
        PrimaryOutput out;
        if (!ResolvePrimary(clipper, &out)) return DD_OK;
        RECT area = rect ? Intersect(*rect, out.area) : out.area;
        for (LONG y = area.top; y < area.bottom; ++y)
            for (LONG x = area.left; x < area.right; ++x)
                out.target
                    .pixels[size_t(y - out.area.top) * out.target.pitch + (x - out.area.left)] =
                    value & 0xFFFFFFu;
        if (out.window) NotifyWindowChanged(out.window);
        return DD_OK;
    }
    if (IsFourcc()) {
        // The value is written as raw bytes, whatever they mean in the format.
        if (rect) return DDERR_UNSUPPORTED;
        if (format == SurfaceFormat::Yv12) {
            std::memset(memory.data(), static_cast<int>(value & 0xFF), memory.size());
        } else {
            for (size_t i = 0; i + 4 <= memory.size(); i += 4) std::memcpy(&memory[i], &value, 4);
        }
        return DD_OK;
    }
    RECT whole{0, 0, width, height};
    RECT area = rect ? *rect : whole;
    if (area.left < 0 || area.top < 0 || area.right > width || area.bottom > height)
        return DDERR_INVALIDRECT;
    for (LONG y = area.top; y < area.bottom; ++y) {
        uint8_t *row = memory.data() + size_t(y) * pitch;
        for (LONG x = area.left; x < area.right; ++x) {
            if (format == SurfaceFormat::Xrgb)
                reinterpret_cast<uint32_t *>(row)[x] = value;
            else
                reinterpret_cast<uint16_t *>(row)[x] = static_cast<uint16_t>(value);
        }
    }
    return DD_OK;
}

HRESULT Surface::StretchFrom(Surface *source, const RECT *destRect, const RECT *srcRect,
                             bool mirror) {
    if (source->primary) return DDERR_UNSUPPORTED;  // the screen is not read back
    if (IsFourcc()) return DDERR_UNSUPPORTEDFORMAT;
    RECT src = srcRect ? *srcRect : RECT{0, 0, source->width, source->height};
    if (src.left < 0 || src.top < 0 || src.right > source->width || src.bottom > source->height ||
        src.left >= src.right || src.top >= src.bottom)
        return DDERR_INVALIDRECT;

    PrimaryOutput out;
    if (primary) {
        if (!ResolvePrimary(clipper, &out)) return DD_OK;  // its window is gone
    } else {
        out.area = RECT{0, 0, width, height};
    }
    RECT dst = destRect ? *destRect : out.area;
    if (!primary && (dst.left < 0 || dst.top < 0 || dst.right > width || dst.bottom > height))
        return DDERR_INVALIDRECT;
    RECT visible = Intersect(dst, out.area);

    std::vector<uint32_t> &pixels = scratch;
    pixels.resize(size_t(source->width) * source->height);
    source->ToXrgb(pixels.data());

    int64_t sw = src.right - src.left, sh = src.bottom - src.top;
    int64_t dw = dst.right - dst.left, dh = dst.bottom - dst.top;
    for (LONG y = visible.top; y < visible.bottom; ++y) {
        int64_t sy = src.top + (int64_t(y - dst.top) * sh) / dh;
        const uint32_t *in = pixels.data() + size_t(sy) * source->width;
        for (LONG x = visible.left; x < visible.right; ++x) {
            int64_t step = (int64_t(x - dst.left) * sw) / dw;
            int64_t sx = mirror ? src.right - 1 - step : src.left + step;
            uint32_t p = in[sx];
            LONG tx = x - out.area.left, ty = y - out.area.top;
            if (primary) {
                out.target.pixels[size_t(ty) * out.target.pitch + tx] = p;
            } else if (format == SurfaceFormat::Xrgb) {
                reinterpret_cast<uint32_t *>(memory.data() + size_t(ty) * pitch)[tx] = p;
            } else {
                reinterpret_cast<uint16_t *>(memory.data() + size_t(ty) * pitch)[tx] =
                    PackRgb565(p);
            }
        }
    }
    if (out.window) NotifyWindowChanged(out.window);
    return DD_OK;
}

}  // namespace kplat
