// GDI object model: memory DCs, screen-compatible bitmaps, DC attributes
// and single pixels. Transfers live in gdi_blit.cpp, text in text.cpp.
#include "internal.h"

using namespace kplat;

extern "C" {

HDC WINAPI CreateCompatibleDC(HDC dc) {
    if (ShouldFail("CreateCompatibleDC")) return nullptr;
    std::lock_guard<std::recursive_mutex> guard(StateLock());
    if (dc && !FindDC(dc)) return nullptr;
    DeviceContext memory;
    memory.kind = DcKind::Memory;
    return NewDC(memory);
}

HBITMAP WINAPI CreateCompatibleBitmap(HDC dc, int width, int height) {
    if (ShouldFail("CreateCompatibleBitmap")) return nullptr;
    std::lock_guard<std::recursive_mutex> guard(StateLock());
    if (!FindDC(dc)) return nullptr;
    return NewBitmap(width, height);
}

HGDIOBJ WINAPI SelectObject(HDC handle, HGDIOBJ object) {
    std::lock_guard<std::recursive_mutex> guard(StateLock());
    DeviceContext *dc = FindDC(handle);
    if (!dc || !object) return nullptr;
    HBITMAP bitmapHandle = static_cast<HBITMAP>(object);
    if (Bitmap *bitmap = FindBitmap(bitmapHandle)) {
        if (dc->kind != DcKind::Memory) return HGDI_ERROR;
        if (bitmap->selectedInto && bitmap->selectedInto != handle) return nullptr;
        HBITMAP previous = dc->bitmap;
        if (Bitmap *old = FindBitmap(previous)) old->selectedInto = nullptr;
        bitmap->selectedInto = handle;
        dc->bitmap = bitmapHandle;
        // The stock 1x1 bitmap of a fresh memory DC has no handle of ours;
        // hand out a recognisable stand-in that selects "nothing" back.
        return previous ? static_cast<HGDIOBJ>(previous) : reinterpret_cast<HGDIOBJ>(0x10);
    }
    if (object == reinterpret_cast<HGDIOBJ>(0x10)) {
        HBITMAP previous = dc->bitmap;
        if (Bitmap *old = FindBitmap(previous)) old->selectedInto = nullptr;
        dc->bitmap = nullptr;
        return previous;
    }
    HFONT font = static_cast<HFONT>(object);
    HFONT previous = dc->font;
    dc->font = font;
    return previous ? static_cast<HGDIOBJ>(previous) : reinterpret_cast<HGDIOBJ>(0x14);
}

BOOL WINAPI DeleteDC(HDC dc) {
    std::lock_guard<std::recursive_mutex> guard(StateLock());
    DeviceContext *state = FindDC(dc);
    if (!state || state->kind == DcKind::Window || state->kind == DcKind::Screen) return FALSE;
    return DeleteDCHandle(dc);
}

BOOL WINAPI DeleteObject(HGDIOBJ object) {
    return DeleteBitmapHandle(static_cast<HBITMAP>(object));
}

int WINAPI SetStretchBltMode(HDC handle, int mode) {
    std::lock_guard<std::recursive_mutex> guard(StateLock());
    DeviceContext *dc = FindDC(handle);
    if (!dc || mode < BLACKONWHITE || mode > HALFTONE) return 0;
    int previous = dc->stretchMode;
    dc->stretchMode = mode;
    return previous;
}

int WINAPI GetStretchBltMode(HDC handle) {
    std::lock_guard<std::recursive_mutex> guard(StateLock());
    DeviceContext *dc = FindDC(handle);
    return dc ? dc->stretchMode : 0;
}

int WINAPI SetBkMode(HDC handle, int mode) {
    std::lock_guard<std::recursive_mutex> guard(StateLock());
    DeviceContext *dc = FindDC(handle);
    if (!dc || (mode != TRANSPARENT && mode != OPAQUE)) return 0;
    int previous = dc->bkMode;
    dc->bkMode = mode;
    return previous;
}

int WINAPI GetBkMode(HDC handle) {
    std::lock_guard<std::recursive_mutex> guard(StateLock());
    DeviceContext *dc = FindDC(handle);
    return dc ? dc->bkMode : 0;
}

COLORREF WINAPI SetTextColor(HDC handle, COLORREF colour) {
    std::lock_guard<std::recursive_mutex> guard(StateLock());
    DeviceContext *dc = FindDC(handle);
    if (!dc) return CLR_INVALID;
    COLORREF previous = dc->textColor;
    dc->textColor = colour & 0xFFFFFFu;
    return previous;
}

COLORREF WINAPI GetTextColor(HDC handle) {
    std::lock_guard<std::recursive_mutex> guard(StateLock());
    DeviceContext *dc = FindDC(handle);
    return dc ? dc->textColor : CLR_INVALID;
}

COLORREF WINAPI GetPixel(HDC dc, int x, int y) {
    std::lock_guard<std::recursive_mutex> guard(StateLock());
    PixelTarget t;
    if (!ResolveTarget(dc, &t) || x < 0 || y < 0 || x >= t.width || y >= t.height)
        return CLR_INVALID;
    return XrgbToColorRef(t.pixels[static_cast<size_t>(y) * t.pitch + x]);
}

COLORREF WINAPI SetPixel(HDC dc, int x, int y, COLORREF colour) {
    std::lock_guard<std::recursive_mutex> guard(StateLock());
    PixelTarget t;
    if (!ResolveTarget(dc, &t) || x < 0 || y < 0 || x >= t.width || y >= t.height)
        return CLR_INVALID;
    t.pixels[static_cast<size_t>(y) * t.pitch + x] = ColorRefToXrgb(colour);
    return colour & 0xFFFFFFu;
}

}  // extern "C"
