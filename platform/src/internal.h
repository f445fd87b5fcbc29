// Shared state of the stand-in platform: handle tables, windows, device
// contexts and pixel targets. Everything here is guarded by StateLock().
#pragma once

#include <windows.h>
#include <kestra/platform.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace kplat {

// One lock for windows, DCs and bitmaps: pixel buffers move when a window is
// resized, so every reader and writer of pixels holds it.
std::recursive_mutex &StateLock();

// Counted per kind so tests can prove that nothing leaks.
void CountObject(KplatObjectKind kind, int delta);

// Test fault injection: true when the named call must fail now; *result
// receives the HRESULT the test asked for (E_FAIL if none).
bool ShouldFail(const char *function, HRESULT *result = nullptr);

// 32-bit XRGB pixels, pitch in pixels.
struct PixelTarget {
    uint32_t *pixels = nullptr;
    int width = 0;
    int height = 0;
    int pitch = 0;
    bool valid() const { return pixels != nullptr && width > 0 && height > 0; }
};

struct Window {
    std::string title;
    RECT client{};  // client area in screen coordinates
    int border = 0;
    std::vector<uint32_t> pixels;
};

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

// Handles are small counters cast to pointers: a stale handle finds nothing
// instead of freed memory.
Window *FindWindow(HWND window);
DeviceContext *FindDC(HDC dc);
Bitmap *FindBitmap(HBITMAP bitmap);

HDC NewDC(const DeviceContext &dc);
bool DeleteDCHandle(HDC dc);
HBITMAP NewBitmap(int width, int height);
bool DeleteBitmapHandle(HBITMAP bitmap);

// A DC onto pixels the caller owns (DirectDraw surfaces); delete with DeleteDC.
HDC CreateRawDC(const PixelTarget &target);

// The desktop: what an unclipped draw to the screen lands in.
PixelTarget DesktopTarget();

// Resolves where a DC draws, with the origin of its coordinates inside the
// target (a window DC draws at the client origin). Needs StateLock().
bool ResolveTarget(HDC dc, PixelTarget *target);

// The client area of a window as a target. Needs StateLock().
bool WindowTarget(HWND window, PixelTarget *target);

// Whether LoadLibraryA may find the named system module (tests can take
// ddraw.dll away).
bool ModuleAvailable(const char *name);

// Called whenever a window's pixels changed, so a shown window can repaint.
void NotifyWindowChanged(HWND window);

// Set by the on-screen presenter (SDL) if one runs.
using WindowChangedHook = void (*)(HWND window);
void SetWindowChangedHook(WindowChangedHook hook);

inline uint32_t ColorRefToXrgb(COLORREF c) {
    return ((c & 0xFFu) << 16) | (c & 0xFF00u) | ((c >> 16) & 0xFFu);
}
inline COLORREF XrgbToColorRef(uint32_t p) {
    return ((p >> 16) & 0xFFu) | (p & 0xFF00u) | ((p & 0xFFu) << 16);
}

}  // namespace kplat
