// Windows on a virtual desktop, device-context handles, object counts and
// fault injection: the parts of the stand-in every other part builds on.
#include "internal.h"

#include <algorithm>
#include <cstring>
#include <map>

namespace kplat {

namespace {

struct State {
    int desktopWidth = 1920;
    int desktopHeight = 1080;
    std::vector<uint32_t> desktop;
    uintptr_t nextHandle = 0x1000;
    std::unordered_map<uintptr_t, std::unique_ptr<Window>> windows;
    std::unordered_map<uintptr_t, std::unique_ptr<DeviceContext>> dcs;
    std::unordered_map<uintptr_t, std::unique_ptr<Bitmap>> bitmaps;
    WindowChangedHook hook = nullptr;
};

State &S() {
    static State *state = new State;  // never destroyed: used from atexit paths
    return *state;
}

std::atomic<int> liveCounts[KPLAT_OBJ_KIND_COUNT];

struct Failure {
    int count;
    HRESULT result;
};
std::mutex failureMutex;
std::map<std::string, Failure> failures;
std::atomic<bool> anyFailure{false};

uintptr_t NewHandle() { return S().nextHandle += 4; }

}  // namespace

std::recursive_mutex &StateLock() {
    static std::recursive_mutex *lock = new std::recursive_mutex;
    return *lock;
}

void CountObject(KplatObjectKind kind, int delta) { liveCounts[kind] += delta; }

bool ShouldFail(const char *function, HRESULT *result) {
    if (!anyFailure.load(std::memory_order_relaxed)) return false;
    std::lock_guard<std::mutex> guard(failureMutex);
    auto it = failures.find(function);
    if (it == failures.end() || it->second.count == 0) return false;
    if (result) *result = it->second.result;
    if (it->second.count > 0 && --it->second.count == 0) failures.erase(it);
    return true;
}

Window *FindWindow(HWND window) {
    auto it = S().windows.find(reinterpret_cast<uintptr_t>(window));
    return it == S().windows.end() ? nullptr : it->second.get();
}

DeviceContext *FindDC(HDC dc) {
    auto it = S().dcs.find(reinterpret_cast<uintptr_t>(dc));
    return it == S().dcs.end() ? nullptr : it->second.get();
}

Bitmap *FindBitmap(HBITMAP bitmap) {
    auto it = S().bitmaps.find(reinterpret_cast<uintptr_t>(bitmap));
    return it == S().bitmaps.end() ? nullptr : it->second.get();
}

HDC NewDC(const DeviceContext &dc) {
    std::lock_guard<std::recursive_mutex> guard(StateLock());
    uintptr_t h = NewHandle();
    S().dcs[h] = std::make_unique<DeviceContext>(dc);
    CountObject(KPLAT_OBJ_DC, 1);
    return reinterpret_cast<HDC>(h);
}

bool DeleteDCHandle(HDC dc) {
    std::lock_guard<std::recursive_mutex> guard(StateLock());
    auto it = S().dcs.find(reinterpret_cast<uintptr_t>(dc));
    if (it == S().dcs.end()) return false;
    if (Bitmap *b = FindBitmap(it->second->bitmap)) b->selectedInto = nullptr;
    S().dcs.erase(it);
    CountObject(KPLAT_OBJ_DC, -1);
    return true;
}

HBITMAP NewBitmap(int width, int height) {
    if (width <= 0 || height <= 0 || static_cast<int64_t>(width) * height > (1 << 28))
        return nullptr;
    std::lock_guard<std::recursive_mutex> guard(StateLock());
    auto bitmap = std::make_unique<Bitmap>();
    bitmap->width = width;
    bitmap->height = height;
    bitmap->pixels.assign(static_cast<size_t>(width) * height, 0);
    uintptr_t h = NewHandle();
    S().bitmaps[h] = std::move(bitmap);
    CountObject(KPLAT_OBJ_BITMAP, 1);
    return reinterpret_cast<HBITMAP>(h);
}

bool DeleteBitmapHandle(HBITMAP bitmap) {
    std::lock_guard<std::recursive_mutex> guard(StateLock());
    auto it = S().bitmaps.find(reinterpret_cast<uintptr_t>(bitmap));
    // Like GDI, a bitmap still selected into a DC is not deleted.
    if (it == S().bitmaps.end() || it->second->selectedInto) return false;
    S().bitmaps.erase(it);
    CountObject(KPLAT_OBJ_BITMAP, -1);
    return true;
}

HDC CreateRawDC(const PixelTarget &target) {
    DeviceContext dc;
    dc.kind = DcKind::Raw;
    dc.raw = target;
    return NewDC(dc);
}

PixelTarget DesktopTarget() {
    State &s = S();
    size_t n = static_cast<size_t>(s.desktopWidth) * s.desktopHeight;
    if (s.desktop.size() != n) s.desktop.assign(n, 0);
    return PixelTarget{s.desktop.data(), s.desktopWidth, s.desktopHeight, s.desktopWidth};
}

bool WindowTarget(HWND window, PixelTarget *target) {
    Window *w = FindWindow(window);
    if (!w) return false;
    int width = w->client.right - w->client.left;
    int height = w->client.bottom - w->client.top;
    *target = PixelTarget{w->pixels.data(), width, height, width};
    return true;
}

bool ResolveTarget(HDC handle, PixelTarget *target) {
    DeviceContext *dc = FindDC(handle);
    if (!dc) return false;
    switch (dc->kind) {
        case DcKind::Window:
            return WindowTarget(dc->window, target);
        case DcKind::Screen:
            *target = DesktopTarget();
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

void NotifyWindowChanged(HWND window) {
    WindowChangedHook hook = S().hook;
    if (hook) hook(window);
}

void SetWindowChangedHook(WindowChangedHook hook) {
    std::lock_guard<std::recursive_mutex> guard(StateLock());
    S().hook = hook;
}

}  // namespace kplat

using namespace kplat;

extern "C" {

HDC WINAPI GetDC(HWND window) {
    if (ShouldFail("GetDC")) return nullptr;
    std::lock_guard<std::recursive_mutex> guard(StateLock());
    DeviceContext dc;
    if (window) {
        if (!FindWindow(window)) return nullptr;
        dc.kind = DcKind::Window;
        dc.window = window;
    } else {
        dc.kind = DcKind::Screen;
    }
    return NewDC(dc);
}

int WINAPI ReleaseDC(HWND window, HDC handle) {
    std::lock_guard<std::recursive_mutex> guard(StateLock());
    DeviceContext *dc = FindDC(handle);
    if (!dc) return 0;
    // Only common DCs taken with GetDC are released, and only to their window.
    if (dc->kind == DcKind::Window && dc->window != window) return 0;
    if (dc->kind == DcKind::Screen && window != nullptr) return 0;
    if (dc->kind == DcKind::Memory || dc->kind == DcKind::Raw) return 0;
    return DeleteDCHandle(handle) ? 1 : 0;
}

BOOL WINAPI GetWindowRect(HWND window, LPRECT rect) {
    std::lock_guard<std::recursive_mutex> guard(StateLock());
    Window *w = FindWindow(window);
    if (!w || !rect) return FALSE;
    rect->left = w->client.left - w->border;
    rect->top = w->client.top - w->border;
    rect->right = w->client.right + w->border;
    rect->bottom = w->client.bottom + w->border;
    return TRUE;
}

BOOL WINAPI GetClientRect(HWND window, LPRECT rect) {
    std::lock_guard<std::recursive_mutex> guard(StateLock());
    Window *w = FindWindow(window);
    if (!w || !rect) return FALSE;
    rect->left = 0;
    rect->top = 0;
    rect->right = w->client.right - w->client.left;
    rect->bottom = w->client.bottom - w->client.top;
    return TRUE;
}

BOOL WINAPI ClientToScreen(HWND window, LPPOINT point) {
    std::lock_guard<std::recursive_mutex> guard(StateLock());
    Window *w = FindWindow(window);
    if (!w || !point) return FALSE;
    point->x += w->client.left;
    point->y += w->client.top;
    return TRUE;
}

BOOL WINAPI SetRect(LPRECT rect, int left, int top, int right, int bottom) {
    if (!rect) return FALSE;
    rect->left = left;
    rect->top = top;
    rect->right = right;
    rect->bottom = bottom;
    return TRUE;
}

BOOL WINAPI IsWindow(HWND window) {
    std::lock_guard<std::recursive_mutex> guard(StateLock());
    return FindWindow(window) != nullptr;
}

LONG WINAPI GetWindowLongA(HWND window, int index) {
    std::lock_guard<std::recursive_mutex> guard(StateLock());
    Window *w = FindWindow(window);
    if (!w) {
        SetLastError(1400);  // ERROR_INVALID_WINDOW_HANDLE
        return 0;
    }
    if (index != GWL_STYLE) return 0;
    return LONG(WS_POPUP | WS_VISIBLE | (w->border ? WS_BORDER : 0));
}

BOOL WINAPI DestroyWindow(HWND window) {
    std::lock_guard<std::recursive_mutex> guard(StateLock());
    auto it = S().windows.find(reinterpret_cast<uintptr_t>(window));
    if (it == S().windows.end()) return FALSE;
    S().windows.erase(it);
    CountObject(KPLAT_OBJ_WINDOW, -1);
    NotifyWindowChanged(window);
    return TRUE;
}

void kplat_set_desktop_size(int width, int height) {
    if (width <= 0 || height <= 0) return;
    std::lock_guard<std::recursive_mutex> guard(StateLock());
    S().desktopWidth = width;
    S().desktopHeight = height;
    S().desktop.clear();
}

void kplat_get_desktop_size(int *width, int *height) {
    std::lock_guard<std::recursive_mutex> guard(StateLock());
    if (width) *width = S().desktopWidth;
    if (height) *height = S().desktopHeight;
}

HWND kplat_create_window(const char *title, int x, int y, int clientWidth, int clientHeight,
                         int border) {
    if (clientWidth <= 0 || clientHeight <= 0 || border < 0) return nullptr;
    if (static_cast<int64_t>(clientWidth) * clientHeight > (1 << 26)) return nullptr;
    std::lock_guard<std::recursive_mutex> guard(StateLock());
    auto w = std::make_unique<Window>();
    w->title = title ? title : "";
    w->client = RECT{x, y, x + clientWidth, y + clientHeight};
    w->border = border;
    w->pixels.assign(static_cast<size_t>(clientWidth) * clientHeight, 0);
    uintptr_t h = NewHandle();
    S().windows[h] = std::move(w);
    CountObject(KPLAT_OBJ_WINDOW, 1);
    return reinterpret_cast<HWND>(h);
}

BOOL kplat_move_window(HWND window, int x, int y) {
    std::lock_guard<std::recursive_mutex> guard(StateLock());
    Window *w = FindWindow(window);
    if (!w) return FALSE;
    int width = w->client.right - w->client.left;
    int height = w->client.bottom - w->client.top;
    w->client = RECT{x, y, x + width, y + height};
    return TRUE;
}

BOOL kplat_resize_window(HWND window, int clientWidth, int clientHeight) {
    if (clientWidth <= 0 || clientHeight <= 0) return FALSE;
    if (static_cast<int64_t>(clientWidth) * clientHeight > (1 << 26)) return FALSE;
    std::lock_guard<std::recursive_mutex> guard(StateLock());
    Window *w = FindWindow(window);
    if (!w) return FALSE;
    w->client.right = w->client.left + clientWidth;
    w->client.bottom = w->client.top + clientHeight;
    w->pixels.assign(static_cast<size_t>(clientWidth) * clientHeight, 0);
    NotifyWindowChanged(window);
    return TRUE;
}

BOOL kplat_destroy_window(HWND window) { return DestroyWindow(window); }

BOOL kplat_read_window_pixels(HWND window, uint32_t *dst, int dstPitch) {
    std::lock_guard<std::recursive_mutex> guard(StateLock());
    PixelTarget t;
    if (!dst || !WindowTarget(window, &t) || dstPitch < t.width) return FALSE;
    for (int row = 0; row < t.height; ++row)
        std::memcpy(dst + static_cast<size_t>(row) * dstPitch,
                    t.pixels + static_cast<size_t>(row) * t.pitch, sizeof(uint32_t) * t.width);
    return TRUE;
}

BOOL kplat_get_client_size(HWND window, int *width, int *height) {
    std::lock_guard<std::recursive_mutex> guard(StateLock());
    PixelTarget t;
    if (!WindowTarget(window, &t)) return FALSE;
    if (width) *width = t.width;
    if (height) *height = t.height;
    return TRUE;
}

DWORD kplat_window_pixel(HWND window, int x, int y) {
    std::lock_guard<std::recursive_mutex> guard(StateLock());
    PixelTarget t;
    if (!WindowTarget(window, &t) || x < 0 || y < 0 || x >= t.width || y >= t.height)
        return CLR_INVALID;
    return t.pixels[static_cast<size_t>(y) * t.pitch + x] & 0xFFFFFFu;
}

BOOL kplat_fill_window(HWND window, DWORD xrgb) {
    std::lock_guard<std::recursive_mutex> guard(StateLock());
    Window *w = FindWindow(window);
    if (!w) return FALSE;
    std::fill(w->pixels.begin(), w->pixels.end(), xrgb & 0xFFFFFFu);
    NotifyWindowChanged(window);
    return TRUE;
}

int kplat_live_objects(KplatObjectKind kind) {
    if (kind < 0 || kind >= KPLAT_OBJ_KIND_COUNT) return -1;
    return liveCounts[kind].load();
}

void kplat_fail_call(const char *function, int count, HRESULT result) {
    if (!function || count == 0) return;
    std::lock_guard<std::mutex> guard(failureMutex);
    failures[function] = Failure{count, result};
    anyFailure = true;
}

void kplat_clear_failures(void) {
    std::lock_guard<std::mutex> guard(failureMutex);
    failures.clear();
    anyFailure = false;
}

}  // extern "C"
