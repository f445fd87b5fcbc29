/* Host API of the stand-in platform: what a Linux host or a test needs that
 * Win32 gives through calls the library does not use (creating windows,
 * reading their pixels, choosing the audio sink), plus test-only knobs.
 * Library code never includes this header. */
#ifndef KESTRA_PLATFORM_H
#define KESTRA_PLATFORM_H

#include <windows.h>

KPLAT_BEGIN_DECLS

/* Virtual desktop size; 1920x1080 until changed. */
KPLAT_API void kplat_set_desktop_size(int width, int height);
KPLAT_API void kplat_get_desktop_size(int *width, int *height);

/* A top-level window whose client area is clientWidth x clientHeight at
 * screen position (x, y), surrounded by a border of `border` pixels on each
 * side (so GetWindowRect is the client rectangle grown by the border). The
 * client area starts black. NULL if the sizes are not positive. */
KPLAT_API HWND kplat_create_window(const char *title, int x, int y, int clientWidth,
                                   int clientHeight, int border);
/* Moves the client area's top-left corner to (x, y) on the desktop. */
KPLAT_API BOOL kplat_move_window(HWND window, int x, int y);
/* Resizes the client area; its pixels are cleared to black. */
KPLAT_API BOOL kplat_resize_window(HWND window, int clientWidth, int clientHeight);
/* Same as DestroyWindow. */
KPLAT_API BOOL kplat_destroy_window(HWND window);
/* Copies the client area as XRGB8888 (0x00RRGGBB) rows of dstPitch pixels.
 * dst must hold clientHeight rows. FALSE for an unknown window. */
KPLAT_API BOOL kplat_read_window_pixels(HWND window, uint32_t *dst, int dstPitch);
KPLAT_API BOOL kplat_get_client_size(HWND window, int *width, int *height);
/* The client pixel at (x, y) as 0x00RRGGBB; CLR_INVALID outside. */
KPLAT_API DWORD kplat_window_pixel(HWND window, int x, int y);
/* Fills the whole client area with 0x00RRGGBB. */
KPLAT_API BOOL kplat_fill_window(HWND window, DWORD xrgb);

/* Live object counts, for tests that prove nothing leaks. */
typedef enum KplatObjectKind {
    KPLAT_OBJ_WINDOW = 0,
    KPLAT_OBJ_DC = 1,
    KPLAT_OBJ_BITMAP = 2,
    KPLAT_OBJ_FONT = 3,
    KPLAT_OBJ_DDRAW = 4,
    KPLAT_OBJ_SURFACE = 5,
    KPLAT_OBJ_CLIPPER = 6,
    KPLAT_OBJ_WAVEOUT = 7,
    KPLAT_OBJ_KIND_COUNT = 8
} KplatObjectKind;
KPLAT_API int kplat_live_objects(KplatObjectKind kind);

/* Test hook: the next `count` calls of the named platform function fail
 * (count < 0: until cleared). Functions report the failure the way the real
 * one does (NULL, FALSE, 0, or the HRESULT given). */
KPLAT_API void kplat_fail_call(const char *function, int count, HRESULT result);
KPLAT_API void kplat_clear_failures(void);

/* ---- DirectDraw display adapter (capabilities, FOURCCs, faults) ---- */

/* ---- audio (waveOut sinks, manual stepping) ---- */

/* ---- on-screen presentation (SDL2) ---- */

KPLAT_END_DECLS

#endif
