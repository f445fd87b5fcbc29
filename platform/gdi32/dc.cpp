// GDI object model: the DC and bitmap tables, memory DCs, screen-compatible
// bitmaps, DC attributes and single pixels. Transfers live in blit.cpp, text
// in text.cpp.
#include "gdi32/gdi32_internal.h"

#include <unordered_map>

namespace kplat {

namespace {

struct Tables {
    std::unordered_map<uintptr_t, std::unique_ptr<DeviceContext>> dcs;
    std::unordered_map<uintptr_t, std::unique_ptr<Bitmap>> bitmaps;
};

Tables &Gdi() {
    static Tables *tables = new Tables;  // never destroyed: used from atexit paths
    return *tables;
}

HDC NewDC(DcKind kind, HWND window = nullptr, const PixelTarget &raw = {}) {
    auto dc = std::make_unique<DeviceContext>();
    dc->kind = kind;
    dc->window = window;
    dc->raw = raw;
    uintptr_t h = NewHandle();
    {
        std::lock_guard<std::recursive_mutex> guard(DcLock());
        Gdi().dcs[h] = std::move(dc);
    }
    CountObject(KPLAT_OBJ_DC, 1);
    return reinterpret_cast<HDC>(h);
}

bool DeleteDCHandle(HDC dc) {
    std::lock_guard<std::recursive_mutex> guard(DcLock());
    auto it = Gdi().dcs.find(reinterpret_cast<uintptr_t>(dc));
    if (it == Gdi().dcs.end()) return false;
    if (Bitmap *b = FindBitmap(it->second->bitmap)) b->selectedInto = nullptr;
    Gdi().dcs.erase(it);
    CountObject(KPLAT_OBJ_DC, -1);
    return true;
}

// Swaps one attribute of a DC for a new value; `invalid` for an unknown DC.
template <class T>
T Exchange(HDC handle, T DeviceContext::*field, T value, T invalid) {
    std::lock_guard<std::recursive_mutex> guard(DcLock());
    DeviceContext *dc = FindDC(handle);
    if (!dc) return invalid;
    T previous = dc->*field;
    dc->*field = value;
    return previous;
}

template <class T>
T Read(HDC handle, T DeviceContext::*field, T invalid) {
    std::lock_guard<std::recursive_mutex> guard(DcLock());
    DeviceContext *dc = FindDC(handle);
    return dc ? dc->*field : invalid;
}

// The pixel (x, y) of a DC's target, or null outside it. Needs a DrawLock.
uint32_t *PixelAt(HDC dc, int x, int y) {
    PixelTarget t;
    if (!ResolveTarget(dc, &t) || x < 0 || y < 0 || x >= t.width || y >= t.height) return nullptr;
    return &t.pixels[static_cast<size_t>(y) * t.pitch + x];
}

}  // namespace

std::recursive_mutex &DcLock() {
    static std::recursive_mutex *lock = new std::recursive_mutex;
    return *lock;
}

DeviceContext *FindDC(HDC dc) {
    auto it = Gdi().dcs.find(reinterpret_cast<uintptr_t>(dc));
    return it == Gdi().dcs.end() ? nullptr : it->second.get();
}

Bitmap *FindBitmap(HBITMAP bitmap) {
    auto it = Gdi().bitmaps.find(reinterpret_cast<uintptr_t>(bitmap));
    return it == Gdi().bitmaps.end() ? nullptr : it->second.get();
}

HDC OpenCommonDC(HWND window) { return NewDC(window ? DcKind::Window : DcKind::Screen, window); }

bool ReleaseCommonDC(HWND window, HDC handle) {
    std::lock_guard<std::recursive_mutex> guard(DcLock());
    DeviceContext *dc = FindDC(handle);
    if (!dc) return false;
    if (dc->kind == DcKind::Window && dc->window != window) return false;
    if (dc->kind == DcKind::Screen && window != nullptr) return false;
    if (dc->kind == DcKind::Memory || dc->kind == DcKind::Raw) return false;
    return DeleteDCHandle(handle);
}

HDC CreateRawDC(const PixelTarget &target) { return NewDC(DcKind::Raw, nullptr, target); }

bool ResolveTarget(HDC handle, PixelTarget *target) {
    DeviceContext *dc = FindDC(handle);
    if (!dc) return false;
    switch (dc->kind) {
        case DcKind::Window: {
            Window *w = FindWindow(dc->window);
            if (w) *target = w->Target();
            return w != nullptr;
        }
        case DcKind::Screen:
            *target = TheDesktop().Target();
            return true;
        case DcKind::Memory:
            if (Bitmap *b = FindBitmap(dc->bitmap)) {
                *target = PixelTarget{b->pixels.data(), b->width, b->height, b->width};
            } else {
                *target = PixelTarget{&dc->defaultPixel, 1, 1, 1};
            }
            return true;
        case DcKind::Raw:
            *target = dc->raw;
            return target->valid();
    }
    return false;
}

}  // namespace kplat

using namespace kplat;

extern "C" {

HDC WINAPI CreateCompatibleDC(HDC dc) {
    if (ShouldFail("CreateCompatibleDC")) return nullptr;
    {
        std::lock_guard<std::recursive_mutex> guard(DcLock());
        if (dc && !FindDC(dc)) return nullptr;
    }
    return NewDC(DcKind::Memory);
}

HBITMAP WINAPI CreateCompatibleBitmap(HDC dc, int width, int height) {
    if (ShouldFail("CreateCompatibleBitmap")) return nullptr;
    if (width <= 0 || height <= 0 || static_cast<int64_t>(width) * height > (1 << 28))
        return nullptr;
    std::lock_guard<std::recursive_mutex> guard(DcLock());
    if (!FindDC(dc)) return nullptr;
    auto bitmap = std::make_unique<Bitmap>();
    bitmap->width = width;
    bitmap->height = height;
    bitmap->pixels.assign(static_cast<size_t>(width) * height, 0);
    uintptr_t h = NewHandle();
    Gdi().bitmaps[h] = std::move(bitmap);
    CountObject(KPLAT_OBJ_BITMAP, 1);
    return reinterpret_cast<HBITMAP>(h);
}

HGDIOBJ WINAPI SelectObject(HDC handle, HGDIOBJ object) {
    std::lock_guard<std::recursive_mutex> guard(DcLock());
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
    std::lock_guard<std::recursive_mutex> guard(DcLock());
    DeviceContext *state = FindDC(dc);
    if (!state || state->kind == DcKind::Window || state->kind == DcKind::Screen) return FALSE;
    return DeleteDCHandle(dc);
}

BOOL WINAPI DeleteObject(HGDIOBJ object) {
    std::lock_guard<std::recursive_mutex> guard(DcLock());
    auto it = Gdi().bitmaps.find(reinterpret_cast<uintptr_t>(object));
    // Like GDI, a bitmap still selected into a DC is not deleted.
    if (it == Gdi().bitmaps.end() || it->second->selectedInto) return FALSE;
    Gdi().bitmaps.erase(it);
    CountObject(KPLAT_OBJ_BITMAP, -1);
    return TRUE;
}

int WINAPI SetStretchBltMode(HDC dc, int mode) {
    if (mode < BLACKONWHITE || mode > HALFTONE) return 0;
    return Exchange(dc, &DeviceContext::stretchMode, mode, 0);
}

int WINAPI GetStretchBltMode(HDC dc) { return Read(dc, &DeviceContext::stretchMode, 0); }

int WINAPI SetBkMode(HDC dc, int mode) {
    if (mode != TRANSPARENT && mode != OPAQUE) return 0;
    return Exchange(dc, &DeviceContext::bkMode, mode, 0);
}

int WINAPI GetBkMode(HDC dc) { return Read(dc, &DeviceContext::bkMode, 0); }

COLORREF WINAPI SetTextColor(HDC dc, COLORREF colour) {
    return Exchange<COLORREF>(dc, &DeviceContext::textColor, colour & 0xFFFFFFu, CLR_INVALID);
}

COLORREF WINAPI GetTextColor(HDC dc) {
    return Read<COLORREF>(dc, &DeviceContext::textColor, CLR_INVALID);
}

COLORREF WINAPI GetPixel(HDC dc, int x, int y) {
    DrawLock lock;
    uint32_t *p = PixelAt(dc, x, y);
    return p ? XrgbToColorRef(*p) : CLR_INVALID;
}

COLORREF WINAPI SetPixel(HDC dc, int x, int y, COLORREF colour) {
    DrawLock lock;
    uint32_t *p = PixelAt(dc, x, y);
    if (!p) return CLR_INVALID;
    *p = ColorRefToXrgb(colour);
    return colour & 0xFFFFFFu;
}

}  // extern "C"
