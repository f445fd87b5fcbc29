// gdi32's device contexts and bitmaps, shared by its transfer and text code.
#pragma once

#include "internal.h"

namespace kplat {

struct Bitmap {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;
    HDC selectedInto = nullptr;
};

enum class DcKind { Window, Screen, Memory, Raw };

struct DeviceContext {
    DcKind kind = DcKind::Screen;
    HWND window = nullptr;     // Window kind
    HBITMAP bitmap = nullptr;  // Memory kind: the selected bitmap (null: the 1x1 default)
    PixelTarget raw;           // Raw kind: pixels owned by someone else
    int bkMode = OPAQUE;
    COLORREF textColor = 0x000000;
    COLORREF bkColor = 0xFFFFFF;
    int stretchMode = BLACKONWHITE;
    HFONT font = nullptr;
    uint32_t defaultPixel = 0;  // backing of a memory DC with no bitmap
};

// Guards the DC and bitmap tables and the bitmaps' pixels.
std::recursive_mutex &DcLock();
DeviceContext *FindDC(HDC dc);       // needs DcLock()
Bitmap *FindBitmap(HBITMAP bitmap);  // needs DcLock()

// What a draw holds: the DCs, then the windows a DC may draw into.
struct DrawLock {
    std::lock_guard<std::recursive_mutex> dcs{DcLock()};
    std::lock_guard<std::recursive_mutex> windows{WindowLock()};
};

// Resolves where a DC draws, with the origin of its coordinates inside the
// target (a window DC draws at the client origin). Needs a DrawLock.
bool ResolveTarget(HDC dc, PixelTarget *target);

inline uint32_t ColorRefToXrgb(COLORREF c) {
    return ((c & 0xFFu) << 16) | (c & 0xFF00u) | ((c >> 16) & 0xFFu);
}
inline COLORREF XrgbToColorRef(uint32_t p) {
    return ((p >> 16) & 0xFFu) | (p & 0xFF00u) | ((p & 0xFFu) << 16);
}

}  // namespace kplat
