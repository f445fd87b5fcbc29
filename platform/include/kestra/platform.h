/* Host API of the stand-in platform: what a Linux host or a test needs that
 * Win32 gives through calls the library does not use (creating windows,
 * reading their pixels, choosing the audio sink), plus test-only knobs.
 * Library code never includes this header. */
#ifndef KESTRA_PLATFORM_H
#define KESTRA_PLATFORM_H

#include <windows.h>
#include <ddraw.h>

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

/* Format keys for the calls below: a FOURCC, an RGB bit count (16 or 32),
 * KPLAT_DDRAW_PRIMARY for the primary surface, or 0 for any surface. */
#define KPLAT_DDRAW_PRIMARY 1u

/* Back to the defaults: caps DDCAPS_BLT | DDCAPS_BLTFOURCC, FOURCCs YV12
 * and UYVY, DirectDraw available, no faults, empty call log. Live objects
 * are left alone. */
KPLAT_API void kplat_ddraw_reset(void);
/* The driver caps' dwCaps that GetCaps reports. */
KPLAT_API void kplat_ddraw_set_caps(DWORD caps);
/* The FOURCCs offscreen surfaces may be created in (YV12 and UYVY only are
 * implemented; others listed here are still refused). */
KPLAT_API void kplat_ddraw_set_fourccs(const DWORD *codes, int count);
/* FALSE: LoadLibraryA("ddraw.dll") fails, as on a system without it. */
KPLAT_API void kplat_ddraw_set_available(BOOL available);
/* The next `count` calls (count < 0: every call until reset) of `method`,
 * e.g. "IDirectDraw7::CreateSurface" or "IDirectDrawSurface7::Lock", on a
 * surface of format key `format` (for CreateSurface: the format asked for)
 * fail with `result`. kplat_fail_call with the same name fails any format. */
KPLAT_API void kplat_ddraw_fail(const char *method, int count, HRESULT result, DWORD format);
/* Marks every live surface of format key `format` lost: Lock, Blt and GetDC
 * answer DDERR_SURFACELOST until Restore. Returns how many were marked. */
KPLAT_API int kplat_ddraw_mark_lost(DWORD format);

/* One call into the adapter, as the caller passed it. */
typedef struct KplatDdrawCall {
    char method[48]; /* "IDirectDrawSurface7::Blt", "DirectDrawCreateEx", ... */
    HRESULT result;
    const void *object; /* the interface called; NULL for DirectDrawCreateEx */
    DWORD format;       /* format key of the surface called, or created */
    DWORD flags;        /* the dwFlags argument, if the method has one */
    HWND window;        /* SetCooperativeLevel, SetHWnd */
    const void *other;  /* Blt: source; SetClipper: clipper; Create*: the new object */
    DWORD recordSize;   /* dwSize of the record passed (description, caps, effects) */
    BOOL hasDestRect;
    RECT destRect;
    BOOL hasSrcRect;
    RECT srcRect;
    BOOL hasFx;
    DDBLTFX fx;          /* Blt: the effects record passed */
    DDSURFACEDESC2 desc; /* CreateSurface: as passed; Lock: as filled in */
} KplatDdrawCall;
/* The log keeps the last 4096 calls, oldest first. */
KPLAT_API int kplat_ddraw_call_count(void);
KPLAT_API BOOL kplat_ddraw_get_call(int index, KplatDdrawCall *call);
KPLAT_API void kplat_ddraw_clear_log(void);

/* ---- audio (waveOut sinks, manual stepping) ---- */

struct HWAVEOUT__;
struct tWAVEFORMATEX;

/* Where devices opened from now on send what they play:
 *   "sdl"      the default output device (falls back to "null" when none opens)
 *   "null"     discarded, paced in real time from the format's byte rate
 *   "wav:PATH" appended to a WAV file, paced in real time like "null", its
 *              header fixed up whenever a device closes (a new selection
 *              starts a new file)
 *   "manual"   plays only on kplat_audio_manual_step; every byte is recorded
 * NULL returns to the default: $KPLAT_AUDIO_SINK, else "sdl". FALSE for an
 * unknown name, which changes nothing. */
KPLAT_API BOOL kplat_audio_set_sink(const char *sink);

/* Manual sink: plays the next queued buffer of device (NULL: the most
 * recently opened live device) and returns once its WOM_DONE callback has
 * returned, so a refill queued by the callback is already in the queue.
 * Returns the bytes played; -1 when there is no such device, it is paused
 * or nothing is queued. copy (may be NULL) receives up to capacity of them. */
KPLAT_API int kplat_audio_manual_step(struct HWAVEOUT__ *device, void *copy, int capacity);
/* Headers queued on device (NULL: the most recent); -1 for no device. */
KPLAT_API int kplat_audio_queued(struct HWAVEOUT__ *device);

/* Every byte manual devices played since the last clear: copies up to
 * capacity bytes to dst (may be NULL) and returns the total. */
KPLAT_API size_t kplat_audio_played(void *dst, size_t capacity);
KPLAT_API void kplat_audio_clear_played(void);

/* Successful waveOutOpen calls since the process started, and the format
 * record the last of them received. */
KPLAT_API int kplat_audio_open_count(void);
KPLAT_API BOOL kplat_audio_last_format(struct tWAVEFORMATEX *format);
/* The last level any device got from waveOutSetVolume, and how many such
 * calls succeeded since the process started. */
KPLAT_API DWORD kplat_audio_last_volume(void);
KPLAT_API int kplat_audio_volume_calls(void);

/* Test hook: while on, waveOutClose keeps its WOM_CLOSE report back instead
 * of sending it; kplat_audio_deliver_closes sends the held reports on the
 * calling thread and returns how many. Models a platform whose close
 * report arrives late. */
KPLAT_API void kplat_audio_hold_close_reports(BOOL hold);
KPLAT_API int kplat_audio_deliver_closes(void);

/* ---- on-screen presentation (SDL2) ---- */

/* Shows window on screen in an SDL2 window of its client size, repainted from
 * its client pixels by kplat_pump_events. FALSE when there is no display
 * (neither DISPLAY, WAYLAND_DISPLAY nor SDL_VIDEODRIVER is set, or SDL video
 * does not start) or the window is unknown. Call these three from the host's
 * main thread only; frames may be drawn into the window from any thread. */
KPLAT_API BOOL kplat_show_window(HWND window);
/* Takes window off the screen (destroying it does so at the next pump). */
KPLAT_API BOOL kplat_hide_window(HWND window);
/* Handles on-screen events and repaints shown windows whose pixels changed.
 * FALSE once the user closed a shown window or pressed Escape in it (until
 * the next kplat_show_window); TRUE otherwise, also when nothing is shown. */
KPLAT_API BOOL kplat_pump_events(void);

/* ---- text (test hooks) ---- */

/* Test hook: every TextOutA call hands its string (count bytes, not
 * terminated) to hook before drawing it, on the drawing thread; NULL
 * removes it. The hook must not call the text functions. */
typedef void (*KplatTextHook)(const char *text, int count, void *user);
KPLAT_API void kplat_set_text_hook(KplatTextHook hook, void *user);

KPLAT_END_DECLS

#endif
