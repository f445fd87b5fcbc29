// Host controls for the virtual desktop and its windows, on user32's window
// table: what a host does through calls the library never makes.
#include "internal.h"

#include <algorithm>
#include <cstring>

using namespace kplat;

extern "C" {

void kplat_get_desktop_size(int *width, int *height) {
    std::lock_guard<std::recursive_mutex> guard(WindowLock());
    if (width) *width = TheDesktop().width;
    if (height) *height = TheDesktop().height;
}

HWND kplat_create_window(const char *title, int x, int y, int clientWidth, int clientHeight,
                         int border) {
    return NewWindow(title, x, y, clientWidth, clientHeight, border);
}

BOOL kplat_move_window(HWND window, int x, int y) {
    return WithWindow(window, [&](Window &w) {
        w.client = RECT{x, y, x + w.Width(), y + w.Height()};
    });
}

BOOL kplat_resize_window(HWND window, int clientWidth, int clientHeight) {
    if (!ClientSizeOk(clientWidth, clientHeight)) return FALSE;
    return WithWindow(window, [&](Window &w) {
        w.client.right = w.client.left + clientWidth;
        w.client.bottom = w.client.top + clientHeight;
        w.pixels.assign(static_cast<size_t>(clientWidth) * clientHeight, 0);
        NotifyWindowChanged(window);
    });
}

BOOL kplat_destroy_window(HWND window) { return DestroyWindow(window); }

BOOL kplat_read_window_pixels(HWND window, uint32_t *dst, int dstPitch) {
    bool copied = false;
    WithWindow(window, [&](Window &w) {
        if (!dst || dstPitch < w.Width()) return;
        for (int row = 0; row < w.Height(); ++row)
            std::memcpy(dst + static_cast<size_t>(row) * dstPitch,
                        w.pixels.data() + static_cast<size_t>(row) * w.Width(),
                        sizeof(uint32_t) * w.Width());
        copied = true;
    });
    return copied;
}

BOOL kplat_get_client_size(HWND window, int *width, int *height) {
    return WithWindow(window, [&](Window &w) {
        if (width) *width = w.Width();
        if (height) *height = w.Height();
    });
}

DWORD kplat_window_pixel(HWND window, int x, int y) {
    DWORD pixel = CLR_INVALID;
    WithWindow(window, [&](Window &w) {
        if (x >= 0 && y >= 0 && x < w.Width() && y < w.Height())
            pixel = w.pixels[static_cast<size_t>(y) * w.Width() + x] & 0xFFFFFFu;
    });
    return pixel;
}

BOOL kplat_fill_window(HWND window, DWORD xrgb) {
    return WithWindow(window, [&](Window &w) {
        std::fill(w.pixels.begin(), w.pixels.end(), xrgb & 0xFFFFFFu);
        NotifyWindowChanged(window);
    });
}

}  // extern "C"
