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

struct HWAVEOUT__;
struct tWAVEFORMATEX;

/* Where devices opened from now on send what they play:
 *   "sdl"      the default output device (falls back to "null" when none opens)
 *   "null"     discarded, paced in real time from the format's byte rate
 *   "wav:PATH" appended to a WAV file, its header fixed up whenever a device
 *              closes (a new selection starts a new file)
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

KPLAT_END_DECLS

#endif
