// What the stand-in's DLL folders give each other beyond the Win32 calls they
// also make across folders (IsWindow, DeleteDC). Each folder owns its state
// and its lock.
//
// Lock order, outermost first: ddraw's adapter lock, gdi32's font lock,
// gdi32's DC lock, user32's window lock. A blit to the primary and a draw
// through a DC take the window lock last, while they write window or desktop
// pixels. winmm's locks and the harness's stand apart: no other stand-in lock
// is taken while one of them is held. The sync log's lock is taken last of all.
#pragma once

#include <windows.h>
#include <kestra/platform_test.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace kplat {

// ---- harness (harness/hooks.cpp) ----

// Counted per kind so tests can prove that nothing leaks.
void CountObject(KplatObjectKind kind, int delta);

// Test fault injection: when the named call (on a DirectDraw surface of
// format key `format`) must fail now, the HRESULT the test asked for.
std::optional<HRESULT> ShouldFail(const char *function, DWORD format = 0);
// Drops the injected failures of the functions `which` picks.
void ClearFailures(bool (*which)(const std::string &function));

// Hands TextOutA's string to the test's text hook, if one is set.
void CallTextHook(const char *text, int count);

// Appends to the record of what manual audio devices played.
void RecordPlayed(const uint8_t *data, size_t size);

// Called whenever a window's pixels changed, so a shown window can repaint
// (harness/sdl_present.cpp).
void NotifyWindowChanged(HWND window);

// The sync log (harness/sync_log.cpp), for measuring lip sync from outside a
// host. Whether stamps are wanted: after the first call, one relaxed load.
bool SyncLogging();
// Appends "<what> <qpc>" as a line of the log.
void SyncStamp(const char *what, int64_t qpc);
// After a write to a window's pixels: stamps a "flash" when its centre pixel
// has just turned white.
void StampPicture(HWND window);

// ---- kernel32 (kernel32/kernel.cpp) ----

// Windows, DCs and bitmaps take handles from one counter cast to pointers: a
// stale handle finds nothing instead of freed memory, nor another kind's object.
uintptr_t NewHandle();

// ---- user32 (user32/window.cpp) ----

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
    DWORD thread = 0;  // the thread that made it, as GetWindowThreadProcessId tells
    std::vector<uint32_t> pixels;

    int Width() const { return client.right - client.left; }
    int Height() const { return client.bottom - client.top; }
    PixelTarget Target() { return PixelTarget{pixels.data(), Width(), Height(), Width()}; }
};

// The desktop: what an unclipped draw to the screen lands in. Its pixels are
// allocated on first use.
struct Desktop {
    int width = 1920;
    int height = 1080;
    std::vector<uint32_t> pixels;

    PixelTarget Target();
};

// Guards the window table and the desktop: pixel buffers move when a window
// is resized, so every reader and writer of pixels holds it.
std::recursive_mutex &WindowLock();
Window *FindWindow(HWND window);  // needs WindowLock()
Desktop &TheDesktop();            // needs WindowLock()

// Runs f on the window under the window lock; false when there is none.
template <class F>
bool WithWindow(HWND window, F &&f) {
    std::lock_guard<std::recursive_mutex> guard(WindowLock());
    Window *w = FindWindow(window);
    if (w) f(*w);
    return w != nullptr;
}

// Client areas are kept under 64 Mpixels.
bool ClientSizeOk(int width, int height);
// A top-level window; null when the client area is empty or too large.
HWND NewWindow(const char *title, int x, int y, int width, int height, int border);

// ---- gdi32 (gdi32/dc.cpp) ----

// GetDC: a common DC onto the window's client area, or the screen for null.
HDC OpenCommonDC(HWND window);
// ReleaseDC: frees only a common DC, and only to its own window.
bool ReleaseCommonDC(HWND window, HDC dc);
// A DC onto pixels the caller owns (DirectDraw surfaces); delete with DeleteDC.
HDC CreateRawDC(const PixelTarget &target);

// ---- ddraw (ddraw/direct_draw.cpp) ----

// Whether LoadLibraryA may find the named system module (tests can take
// ddraw.dll away).
bool ModuleAvailable(const char *name);

}  // namespace kplat
