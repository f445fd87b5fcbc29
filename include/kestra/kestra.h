/* libkestra: video and audio output for host media players.
 *
 * Video: open a display, give it your window, initialise it with the frame
 * size, then hand it YV12 frames; it shows them stretched to the window,
 * optionally cropped (play rect) and mirrored, with six OSD text slots and,
 * in the GDI mode, a drawing callback.
 * Audio: open a wave player, set the PCM format and a pull callback, play;
 * the library keeps two buffers in flight and asks the callback to refill
 * each one as the device finishes it.
 *
 * Every export returns a KestraResult: 0 success, 1 null handle (or, for
 * the open calls, out of memory). KESTRA_DWDrawYUV420 passes the
 * presentation result through (see there). Nothing here throws.
 *
 * The header needs no other include: the window, device-context, rectangle
 * and wave-format types are forward declarations of the platform's own
 * (HWND, HDC, RECT, WAVEFORMATEX), so include <windows.h> and <mmsystem.h>
 * before or after this file to use them by those names. */
#ifndef KESTRA_KESTRA_H
#define KESTRA_KESTRA_H

#include <stdint.h>

#if defined(_WIN32) && !defined(_WIN64)
#define KESTRA_API __stdcall
#define KESTRA_CALLBACK __stdcall
#else
#define KESTRA_API
#define KESTRA_CALLBACK
#endif

#if defined(_WIN32)
#define KESTRA_EXPORT
#elif defined(KESTRA_BUILDING)
#define KESTRA_EXPORT __attribute__((visibility("default")))
#else
#define KESTRA_EXPORT
#endif

#ifdef __cplusplus
extern "C" {
#endif

struct HWND__;
struct HDC__;
struct tagRECT;
struct tWAVEFORMATEX;

/* 0 success, 1 null handle or allocation failure; the draw call also
 * returns -1, -3 and -9 (see KESTRA_DWDrawYUV420), and the extensions 2 for
 * a value they do not know. */
typedef int32_t KestraResult;

/* Opaque handles: the address of the object behind them. */
typedef struct KestraDisplay_ *KestraDisplay;
typedef struct KestraWave_ *KestraWave;

/* Called in the GDI mode once per frame, on the drawing thread, after the
 * OSD text is drawn: dc holds the frame at frame size, so what you draw in
 * frame pixels is scaled, cropped and mirrored with the picture. dc is valid
 * only during the call. windowWidth/Height are of the window's outer
 * rectangle. Never called in the DirectDraw surface modes. */
typedef void(KESTRA_CALLBACK *KestraDisplayCallback)(int32_t drawIndex, struct HDC__ *dc,
                                                     int32_t frameWidth, int32_t frameHeight,
                                                     int32_t value7, int32_t value8,
                                                     int32_t windowWidth, int32_t windowHeight,
                                                     int32_t mirrorMode, void *user);

/* Called on the audio device's own thread whenever a buffer needs samples:
 * write up to size bytes at buffer and return how many you wrote (counts
 * below 0 are taken as 0, above size as size). KESTRA_WVStopWave and
 * KESTRA_WVCloseWave on its own player called from inside it do nothing: they
 * would wait for the very refill that is calling. On another player they
 * return at once, and a thread of the library's own lets its device go. */
typedef int32_t(KESTRA_CALLBACK *KestraWriteWaveCallback)(uint8_t *buffer, uint32_t size,
                                                          void *user);

/* ---- display ---- */

/* Creates a display and stores its handle in *display. 1 if display is NULL
 * or out of memory (then nothing is allocated and *display is left alone). */
KESTRA_EXPORT KestraResult KESTRA_API KESTRA_DWOpenDraw(KestraDisplay *display);
/* Releases everything the display holds. The handle is invalid afterwards. */
KESTRA_EXPORT KestraResult KESTRA_API KESTRA_DWCloseDraw(KestraDisplay display);
/* The window frames are shown in; the display keeps its device context. A
 * destroyed window counts as none: draws answer -1 until a live one is set,
 * and then show there without another KESTRA_DWInitDraw. */
KESTRA_EXPORT KestraResult KESTRA_API KESTRA_DWSetHwnd(KestraDisplay display,
                                                       struct HWND__ *window);
/* A value handed back as the first argument of the display callback. */
KESTRA_EXPORT KestraResult KESTRA_API KESTRA_DWSetIndex(KestraDisplay display, int32_t index);
/* Registers the display callback; note the order: user value first. */
KESTRA_EXPORT KestraResult KESTRA_API KESTRA_DWSetDisplayCB(KestraDisplay display, void *user,
                                                            KestraDisplayCallback callback);
/* Chooses the render mode (DirectDraw YV12, UYVY or RGB 5-6-5 surface, else
 * GDI) for frames of width x height and sets up for them. Always 0 for a
 * live handle. Frames over 16384 on a side take the GDI mode, as no surface
 * holds them. Sizes of 0 or below, or too large to allocate a frame buffer
 * for, leave the display not ready: the draw call then answers -1 until a
 * good size is given. Call again when the frame size changes.
 * KESTRA_DWSetHwnd, KESTRA_DWAdjustedWnd, KESTRA_DWInitDraw and
 * KESTRA_DWFreeDraw never wait for a frame another thread is drawing on the
 * same display: they take effect, in the order made, when that draw returns. */
KESTRA_EXPORT KestraResult KESTRA_API KESTRA_DWInitDraw(KestraDisplay display, int32_t width,
                                                        int32_t height);
/* Releases the DirectDraw objects; in a surface mode later draws answer -9
 * until the next KESTRA_DWInitDraw. */
KESTRA_EXPORT KestraResult KESTRA_API KESTRA_DWFreeDraw(KestraDisplay display);
/* Re-reads the window's rectangle after the host moved or resized it (the
 * GDI mode uses it for the stretch; the surface modes track it themselves). */
KESTRA_EXPORT KestraResult KESTRA_API KESTRA_DWAdjustedWnd(KestraDisplay display);
/* Shows one YV12 frame of the size given to KESTRA_DWInitDraw: Y plane,
 * Y stride, U plane, V plane, U/V stride (bytes). value6 is unused; value7
 * and value8 reach the display callback. Strides must be at least the
 * plane widths. Results: 0 shown; -1 no window (or a destroyed one), not
 * initialised or a NULL plane (nothing is touched); -3 the frame surface could not be locked
 * (frame dropped); -9 surfaces released by KESTRA_DWFreeDraw; 1 null handle. */
KESTRA_EXPORT KestraResult KESTRA_API KESTRA_DWDrawYUV420(KestraDisplay display, const uint8_t *y,
                                                          int32_t yStride, const uint8_t *u,
                                                          const uint8_t *v, int32_t uvStride,
                                                          int32_t value6, int32_t value7,
                                                          int32_t value8);
/* Fills OSD slot index (0..5): text (at most 511 characters kept; lines
 * split at '\n'; NULL or "" empties the slot), x and y in frame pixels,
 * anchor 1 measures y up from the frame's bottom edge, colour 0x00BBGGRR.
 * Other indexes are ignored (still 0). */
KESTRA_EXPORT KestraResult KESTRA_API KESTRA_DWSetOSDText(KestraDisplay display, int32_t index,
                                                          const char *text, int32_t x, int32_t y,
                                                          int32_t anchor, uint32_t colour);
/* Crops the source to rect in frame pixels when 0 <= left < right <= width
 * and 0 <= top < bottom <= height: right and bottom are exclusive, so
 * {0, 0, width, height} is the whole frame. NULL or any other rect turns the
 * crop off. */
KESTRA_EXPORT KestraResult KESTRA_API KESTRA_DWSetPlayRect(KestraDisplay display,
                                                           const struct tagRECT *rect);
/* 1 mirrors left to right; any other value shows the frame as is. */
KESTRA_EXPORT KestraResult KESTRA_API KESTRA_DWSetMirrorMode(KestraDisplay display, int32_t mode);

/* ---- audio ---- */

/* Creates a wave player; 1 as for KESTRA_DWOpenDraw. */
KESTRA_EXPORT KestraResult KESTRA_API KESTRA_WVOpenWave(KestraWave *wave);
/* Stops playback if needed and frees the player. From inside its own write
 * callback it does nothing and the handle stays valid. */
KESTRA_EXPORT KestraResult KESTRA_API KESTRA_WVCloseWave(KestraWave wave);
/* Copies the PCM format record (not its extra bytes) and sets the size of
 * each of the two buffers (0: play does nothing). Set it while not playing. */
KESTRA_EXPORT KestraResult KESTRA_API KESTRA_WVSetWaveFormat(KestraWave wave,
                                                             const struct tWAVEFORMATEX *format,
                                                             uint32_t bufferSize);
/* Registers the pull callback; user value first. Set it while not playing. */
KESTRA_EXPORT KestraResult KESTRA_API KESTRA_WVSetWriteWaveCB(KestraWave wave, void *user,
                                                              KestraWriteWaveCallback callback);
/* Opens the default output device and starts pulling. 0 even when the device
 * refused the format. The first two buffers played are fill (0x64). */
KESTRA_EXPORT KestraResult KESTRA_API KESTRA_WVPlayWave(KestraWave wave);
/* Stops and closes the device; blocks until the device has let go. From
 * inside its own write callback it does nothing (playback goes on), from
 * inside another player's it returns at once (see KestraWriteWaveCallback). */
KESTRA_EXPORT KestraResult KESTRA_API KESTRA_WVStopWave(KestraWave wave);
/* Non-zero pauses (the device keeps playing fill, the callback is not
 * called), 0 resumes. */
KESTRA_EXPORT KestraResult KESTRA_API KESTRA_WVPauseWave(KestraWave wave, int32_t pause);
/* Volume 0..100 for both channels (low 16 bits used; above 100 is 100).
 * Only while playing; not remembered for a later play. */
KESTRA_EXPORT KestraResult KESTRA_API KESTRA_WVSetVolume(KestraWave wave, uint32_t volume);

/* ---- free functions ---- */

/* Set-up and tear-down pair for hosts that expect one; they do nothing.
 * KESTRA_UnInitialize returns 1. */
KESTRA_EXPORT KestraResult KESTRA_API KESTRA_Initialize(void);
KESTRA_EXPORT KestraResult KESTRA_API KESTRA_UnInitialize(void);

/* Converts a YV12 frame (studio-range BT.601) to packed 24-bit pixels, blue
 * first, rows 3 x dstStride bytes apart, written top-down. A negative height
 * reads the source bottom-up. Odd last columns and rows are not written.
 * A NULL destination or plane, or rows 2 GiB or more apart, writes nothing.
 * Always 0. */
KESTRA_EXPORT KestraResult KESTRA_API KESTRA_yv12_to_rgb24_c(uint8_t *dst, int32_t dstStride,
                                                             const uint8_t *y, const uint8_t *u,
                                                             const uint8_t *v, int32_t yStride,
                                                             int32_t uvStride, uint32_t width,
                                                             int32_t height);

/* ---- Extensions ----
 * Beyond the 23 calls above; hosts written for those 23 never need these. */

/* The colours of the frames a display is given: matrix 0 BT.601 (the
 * default) or 1 BT.709, range 0 studio (Y 16-235, the default) or 1 full
 * (Y 0-255). Takes effect from the next frame, in every mode. 0, 1 for a
 * NULL display, 2 for any other matrix or range (nothing changes then). */
KESTRA_EXPORT KestraResult KESTRA_API KESTRA_DWSetColorSpace(KestraDisplay display, int32_t matrix,
                                                             int32_t range);

/* KESTRA_yv12_to_rgb24_c for frames of the given matrix and range (as
 * KESTRA_DWSetColorSpace takes them). 2 for any other matrix or range, and
 * nothing is written; otherwise 0. */
KESTRA_EXPORT KestraResult KESTRA_API KESTRA_yv12_to_rgb24_cs(uint8_t *dst, int32_t dstStride,
                                                              const uint8_t *y, const uint8_t *u,
                                                              const uint8_t *v, int32_t yStride,
                                                              int32_t uvStride, uint32_t width,
                                                              int32_t height, int32_t matrix,
                                                              int32_t range);

/* The sound's clock. For a playing player: in *hostFrames, how many whole
 * sample frames of the host's own stream have been heard (only what write
 * callbacks returned, each byte once: the lead-in fill, paused fill and the
 * replays after short refills are not counted), and in *qpcTime the
 * QueryPerformanceCounter value at which that count was true. The count
 * starts from 0 at each play and never goes back while playing. 0, 1 for a
 * NULL player, 2 when it is not playing or a pointer is NULL (nothing is
 * written then). Under Wine the count runs up to about 0.1 s ahead of what
 * is heard: Wine counts what it hands on to its own audio buffer. */
KESTRA_EXPORT KestraResult KESTRA_API KESTRA_WVGetPosition(KestraWave wave, int64_t *hostFrames,
                                                           int64_t *qpcTime);

/* How a display shrinks a frame to a window smaller than it: mode 0 fast
 * (one sample per window pixel: GDI's COLORONCOLOR, the surfaces' hardware
 * blit), 1 smooth (an area average sized to the ratio; GDI and Direct3D 11
 * only, the surfaces keep the hardware's picture). The default comes from
 * SCALING=fast|smooth in section [VIDEO] of LOG.INI, else fast for GDI and
 * the surfaces and smooth for Direct3D 11. Allowed at any time, the display
 * callback included; takes effect from the next frame. 0, 1 for a NULL
 * display, 2 for any other mode (nothing changes then). */
KESTRA_EXPORT KestraResult KESTRA_API KESTRA_DWSetScaling(KestraDisplay display, int32_t mode);

#ifdef __cplusplus
}
#endif

#endif
