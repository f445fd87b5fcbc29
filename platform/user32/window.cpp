// Windows on a virtual desktop: the window table, window geometry and the
// common device contexts GetDC hands out (made by gdi32).
#include "internal.h"

#include <unordered_map>

namespace kplat {

namespace {

struct State {
    Desktop desktop;
    std::unordered_map<uintptr_t, std::unique_ptr<Window>> windows;
};

State &S() {
    static State *state = new State;  // never destroyed: used from atexit paths
    return *state;
}

}  // namespace

std::recursive_mutex &WindowLock() {
    static std::recursive_mutex *lock = new std::recursive_mutex;
    return *lock;
}

Window *FindWindow(HWND window) {
    auto it = S().windows.find(reinterpret_cast<uintptr_t>(window));
    return it == S().windows.end() ? nullptr : it->second.get();
}

Desktop &TheDesktop() { return S().desktop; }

PixelTarget Desktop::Target() {
    size_t n = static_cast<size_t>(width) * height;
    if (pixels.size() != n) pixels.assign(n, 0);
    return PixelTarget{pixels.data(), width, height, width};
}

bool ClientSizeOk(int width, int height) {
    return width > 0 && height > 0 && static_cast<int64_t>(width) * height <= (1 << 26);
}

HWND NewWindow(const char *title, int x, int y, int width, int height, int border) {
    if (!ClientSizeOk(width, height) || border < 0) return nullptr;
    auto w = std::make_unique<Window>();
    w->title = title ? title : "";
    w->client = RECT{x, y, x + width, y + height};
    w->border = border;
    w->thread = GetCurrentThreadId();
    w->pixels.assign(static_cast<size_t>(w->Width()) * w->Height(), 0);
    uintptr_t h = NewHandle();
    {
        std::lock_guard<std::recursive_mutex> guard(WindowLock());
        S().windows[h] = std::move(w);
    }
    CountObject(KPLAT_OBJ_WINDOW, 1);
    return reinterpret_cast<HWND>(h);
}

}  // namespace kplat

using namespace kplat;

extern "C" {

HDC WINAPI GetDC(HWND window) {
    if (ShouldFail("GetDC")) return nullptr;
    if (window && !IsWindow(window)) return nullptr;
    return OpenCommonDC(window);
}

int WINAPI ReleaseDC(HWND window, HDC dc) { return ReleaseCommonDC(window, dc) ? 1 : 0; }

BOOL WINAPI GetWindowRect(HWND window, LPRECT rect) {
    if (!rect) return FALSE;
    return WithWindow(window, [&](Window &w) {
        *rect = RECT{w.client.left - w.border, w.client.top - w.border, w.client.right + w.border,
                     w.client.bottom + w.border};
    });
}

BOOL WINAPI GetClientRect(HWND window, LPRECT rect) {
    if (!rect) return FALSE;
    return WithWindow(window, [&](Window &w) { *rect = RECT{0, 0, w.Width(), w.Height()}; });
}

BOOL WINAPI ClientToScreen(HWND window, LPPOINT point) {
    if (!point) return FALSE;
    return WithWindow(window, [&](Window &w) {
        point->x += w.client.left;
        point->y += w.client.top;
    });
}

BOOL WINAPI SetRect(LPRECT rect, int left, int top, int right, int bottom) {
    if (!rect) return FALSE;
    *rect = RECT{left, top, right, bottom};
    return TRUE;
}

BOOL WINAPI IsWindow(HWND window) {
    return WithWindow(window, [](Window &) {});
}

// Every window of the stand-in belongs to this process.
DWORD WINAPI GetWindowThreadProcessId(HWND window, LPDWORD process) {
    DWORD thread = 0;
    if (!WithWindow(window, [&](Window &w) { thread = w.thread; })) return 0;
    if (process) *process = GetCurrentProcessId();
    return thread;
}

LONG WINAPI GetWindowLongA(HWND window, int index) {
    LONG style = 0;
    if (!WithWindow(window, [&](Window &w) {
            style = LONG(WS_POPUP | WS_VISIBLE | (w.border ? WS_BORDER : 0));
        })) {
        SetLastError(1400);  // ERROR_INVALID_WINDOW_HANDLE
        return 0;
    }
    return index == GWL_STYLE ? style : 0;
}

// The stand-in's windows have no message queue: nothing is ever waiting.
DWORD WINAPI GetQueueStatus(UINT /*flags*/) { return 0; }

// The host calls move and size the client area; SetWindowPos takes the outer
// rect, a border wider on every side. The desktop has no z-order, activation
// or paint queue, so the other flags change nothing, and an asynchronous
// request is carried out at once. A size that leaves no client area is
// refused, and then nothing moves either.
BOOL WINAPI SetWindowPos(HWND window, HWND /*insertAfter*/, int x, int y, int cx, int cy,
                         UINT flags) {
    int border = 0, width = 0, height = 0;
    if (!WithWindow(window, [&](Window &w) {
            border = w.border;
            width = w.Width();
            height = w.Height();
        })) {
        SetLastError(1400);  // ERROR_INVALID_WINDOW_HANDLE
        return FALSE;
    }
    const int newWidth = cx - 2 * border, newHeight = cy - 2 * border;
    const bool resize = !(flags & SWP_NOSIZE) && (newWidth != width || newHeight != height);
    if (resize && !kplat_resize_window(window, newWidth, newHeight)) return FALSE;
    if (!(flags & SWP_NOMOVE)) kplat_move_window(window, x + border, y + border);
    return TRUE;
}

BOOL WINAPI DestroyWindow(HWND window) {
    {
        std::lock_guard<std::recursive_mutex> guard(WindowLock());
        if (S().windows.erase(reinterpret_cast<uintptr_t>(window)) == 0) return FALSE;
    }
    CountObject(KPLAT_OBJ_WINDOW, -1);
    NotifyWindowChanged(window);
    return TRUE;
}

}  // extern "C"
