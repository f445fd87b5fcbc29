// Transfers between device-independent bitmaps and device contexts:
// StretchDIBits (24- and 32-bit BI_RGB sources, nearest-neighbour) and
// GetDIBits.
#include "gdi32/gdi32_internal.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

using namespace kplat;

namespace {

// DIB rows are padded to a multiple of 4 bytes.
int64_t DibStride(int64_t width, int64_t bytesPerPixel = 3) {
    return (width * bytesPerPixel + 3) & ~int64_t(3);
}

// The DIB formats the stand-in takes: BI_RGB of 24 or 32 bits (blue, green,
// red and one unused byte).
bool TakenFormat(const BITMAPINFOHEADER &h) {
    return (h.biBitCount == 24 || h.biBitCount == 32) && h.biCompression == BI_RGB;
}

// One axis of a stretch: maps destination index t (0..dest-1) to a source
// index. Negative sizes on either side flip the axis; COLORONCOLOR samples
// at the centre of each destination pixel.
struct AxisMap {
    int64_t srcStart = 0;  // lowest source index covered
    int64_t srcSize = 0;
    int64_t destStart = 0;  // lowest destination index covered
    int64_t destSize = 0;
    bool flip = false;

    // As in GDI, a negative extent counts back from its origin, which it
    // still covers: (x, -n) is x - n + 1 to x.
    AxisMap(int64_t src, int64_t srcLen, int64_t dest, int64_t destLen) {
        if (srcLen < 0) {
            src += srcLen + 1;
            srcLen = -srcLen;
            flip = !flip;
        }
        if (destLen < 0) {
            dest += destLen + 1;
            destLen = -destLen;
            flip = !flip;
        }
        srcStart = src;
        srcSize = srcLen;
        destStart = dest;
        destSize = destLen;
    }

    // Offset into the source rectangle for destination offset t.
    int64_t Source(int64_t t) const {
        int64_t s = (2 * t + 1) * srcSize / (2 * destSize);
        return flip ? srcSize - 1 - s : s;
    }
};

struct DibView {
    const uint8_t *bits;
    int64_t width;
    int64_t height;  // rows, always positive
    bool bottomUp;
    int64_t bytesPerPixel;
    int64_t stride;

    // Pixel at image column x of the DIB's own row numbering (from the
    // bottom for bottom-up DIBs, from the top for top-down ones).
    uint32_t Pixel(int64_t x, int64_t row) const {
        const uint8_t *p = bits + row * stride + x * bytesPerPixel;
        return (uint32_t(p[2]) << 16) | (uint32_t(p[1]) << 8) | p[0];
    }
};

bool ReadHeader(const void *bits, const BITMAPINFO *info, UINT usage, DibView *view) {
    if (!bits || !info || usage != DIB_RGB_COLORS) return false;
    const BITMAPINFOHEADER &h = info->bmiHeader;
    if (h.biSize < sizeof(BITMAPINFOHEADER) || !TakenFormat(h) || h.biWidth <= 0 || h.biHeight == 0)
        return false;
    view->bits = static_cast<const uint8_t *>(bits);
    view->width = h.biWidth;
    view->height = h.biHeight < 0 ? -int64_t(h.biHeight) : h.biHeight;
    view->bottomUp = h.biHeight > 0;
    view->bytesPerPixel = h.biBitCount / 8;
    view->stride = DibStride(h.biWidth, view->bytesPerPixel);
    return true;
}

void NotifyIfWindow(HDC handle) {
    DeviceContext *dc = FindDC(handle);
    if (dc && dc->kind == DcKind::Window) NotifyWindowChanged(dc->window);
}

}  // namespace

extern "C" {

int WINAPI StretchDIBits(HDC dc, int xDest, int yDest, int destWidth, int destHeight, int xSrc,
                         int ySrc, int srcWidth, int srcHeight, const void *bits,
                         const BITMAPINFO *info, UINT usage, DWORD rop) {
    if (ShouldFail("StretchDIBits")) return 0;
    DibView dib{};
    if (!ReadHeader(bits, info, usage, &dib) || rop != SRCCOPY) return 0;
    if (destWidth == 0 || destHeight == 0 || srcWidth == 0 || srcHeight == 0) return 0;
    DrawLock lock;
    PixelTarget target;
    if (!ResolveTarget(dc, &target)) return 0;

    const AxisMap xs(xSrc, srcWidth, xDest, destWidth);
    const AxisMap ys(ySrc, srcHeight, yDest, destHeight);
    const int64_t x0 = xs.destStart < 0 ? 0 : xs.destStart;
    const int64_t x1 = std::min<int64_t>(xs.destStart + xs.destSize, target.width);
    const int64_t y0 = ys.destStart < 0 ? 0 : ys.destStart;
    const int64_t y1 = std::min<int64_t>(ys.destStart + ys.destSize, target.height);
    for (int64_t dy = y0; dy < y1; ++dy) {
        // The DIB's y runs upward for bottom-up images, so the top destination
        // row samples the highest row of the source rectangle.
        int64_t t = ys.Source(dy - ys.destStart);
        int64_t row = ys.srcStart + (dib.bottomUp ? ys.srcSize - 1 - t : t);
        if (row < 0 || row >= dib.height) continue;
        uint32_t *out = target.pixels + dy * target.pitch;
        for (int64_t dx = x0; dx < x1; ++dx) {
            int64_t x = xs.srcStart + xs.Source(dx - xs.destStart);
            if (x < 0 || x >= dib.width) continue;
            out[dx] = dib.Pixel(x, row);
        }
    }
    NotifyIfWindow(dc);
    return std::abs(srcHeight);
}

int WINAPI GetDIBits(HDC dc, HBITMAP handle, UINT start, UINT lines, LPVOID bits, LPBITMAPINFO info,
                     UINT usage) {
    if (ShouldFail("GetDIBits")) return 0;
    if (!info || usage != DIB_RGB_COLORS) return 0;
    std::lock_guard<std::recursive_mutex> guard(DcLock());
    Bitmap *bitmap = FindBitmap(handle);
    if (!FindDC(dc) || !bitmap) return 0;
    BITMAPINFOHEADER &h = info->bmiHeader;
    if (!bits) {
        // Like GDI: a null destination only describes the bitmap.
        h.biWidth = bitmap->width;
        h.biHeight = bitmap->height;
        h.biPlanes = 1;
        h.biBitCount = 24;
        h.biCompression = BI_RGB;
        h.biSizeImage = static_cast<DWORD>(DibStride(bitmap->width) * bitmap->height);
        return bitmap->height;
    }
    if (!TakenFormat(h) || h.biWidth <= 0 || h.biHeight == 0) return 0;
    const bool bottomUp = h.biHeight > 0;
    const int64_t rows =
        std::min<int64_t>(bottomUp ? h.biHeight : -int64_t(h.biHeight), bitmap->height);
    if (start >= rows) return 0;
    const int64_t count = std::min<int64_t>(lines, rows - start);
    const int64_t bytesPerPixel = h.biBitCount / 8;
    const int64_t stride = DibStride(h.biWidth, bytesPerPixel);
    const int64_t columns = std::min<int64_t>(h.biWidth, bitmap->width);
    auto *out = static_cast<uint8_t *>(bits);
    for (int64_t i = 0; i < count; ++i) {
        int64_t line = start + i;
        // Bottom-up scan lines count from the bitmap's last row.
        int64_t src = bottomUp ? bitmap->height - 1 - line : line;
        const uint32_t *in = bitmap->pixels.data() + src * bitmap->width;
        uint8_t *row = out + i * stride;
        std::memset(row, 0, static_cast<size_t>(stride));
        for (int64_t x = 0; x < columns; ++x) {
            uint8_t *pixel = row + bytesPerPixel * x;
            pixel[0] = static_cast<uint8_t>(in[x]);
            pixel[1] = static_cast<uint8_t>(in[x] >> 8);
            pixel[2] = static_cast<uint8_t>(in[x] >> 16);
        }
    }
    h.biSizeImage = static_cast<DWORD>(stride * std::abs(int64_t(h.biHeight)));
    return static_cast<int>(count);
}

}  // extern "C"
