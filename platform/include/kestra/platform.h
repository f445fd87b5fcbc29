/* Host API of the stand-in platform: what a Linux host needs that Win32
 * gives through calls the library does not use (creating windows, reading
 * their pixels, showing them, choosing the audio sink). The test knobs are in
 * <kestra/platform_test.h>. Library code never includes this header. */
#ifndef KESTRA_PLATFORM_H
#define KESTRA_PLATFORM_H

#include <windows.h>
#include <ddraw.h>

KPLAT_BEGIN_DECLS

/* Virtual desktop size: 1920x1080. */
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
/* ---- audio ---- */

/* Where devices opened from now on send what they play:
 *   "sdl"      the default output device (falls back to "null" when none opens)
 *   "null"     discarded, paced in real time from the format's byte rate
 *   "wav:PATH" appended to a WAV file, paced in real time like "null", its
 *              header fixed up whenever a device closes (a new selection
 *              starts a new file); a pipe gets a header with the largest
 *              sizes first, as streamed WAV writers do
 *   "manual"   plays only on kplat_audio_manual_step; every byte is recorded
 * NULL returns to the default: $KPLAT_AUDIO_SINK, else "sdl". FALSE for an
 * unknown name, which changes nothing. */
KPLAT_API BOOL kplat_audio_set_sink(const char *sink);
/* Whether the "wav:" file took every byte: 0 while it has, else the errno of
 * the first write that failed (ENOSPC, EFBIG, EPIPE for a pipe whose reader
 * left, ETIMEDOUT for one that took nothing for 5 s). The file takes nothing
 * after that, and devices play on, paced, into nothing. A new selection
 * starts again at 0. Waveout calls report no write errors, so this is the
 * only way a host learns that its file is cut short. */
KPLAT_API int kplat_audio_sink_error(void);

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
