/* Test knobs of the stand-in platform, for tests, benchmarks and the demo's
 * adapter option: live-object counts, injected failures, the display
 * adapter's capabilities, lost surfaces and call log, the manual audio
 * device, and a hook on drawn text. */
#ifndef KESTRA_PLATFORM_TEST_H
#define KESTRA_PLATFORM_TEST_H

#include <kestra/platform.h>

KPLAT_BEGIN_DECLS

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
    KPLAT_OBJ_EVENT = 8,
    KPLAT_OBJ_KIND_COUNT = 9
} KplatObjectKind;
KPLAT_API int kplat_live_objects(KplatObjectKind kind);

/* Test hook: the next `count` calls of the named platform function fail
 * (count < 0: until cleared). Functions report the failure the way the real
 * one does (NULL, FALSE, 0, or the HRESULT given). DirectDraw methods are
 * named as "IDirectDraw7::CreateSurface" or "IDirectDrawSurface7::Lock";
 * for them `format`, a format key (see below), limits the failure to
 * surfaces of that format (for CreateSurface: the format asked for). 0 is
 * any format, and the only one other functions match. A DirectDraw method
 * failing with DDERR_SURFACELOST loses every surface at that moment, as a
 * display-mode change would; Restore leaves a lost surface's pixels undefined
 * (a fixed pattern). */
KPLAT_API void kplat_fail_call(const char *function, int count, HRESULT result, DWORD format);
KPLAT_API void kplat_clear_failures(void);

/* ---- DirectDraw display adapter (capabilities, FOURCCs, faults) ---- */

/* Format keys for the calls below: a FOURCC, an RGB bit count (16 or 32),
 * KPLAT_DDRAW_PRIMARY for the primary surface, or 0 for any surface. */
#define KPLAT_DDRAW_PRIMARY 1u

/* Back to the defaults: caps DDCAPS_BLT | DDCAPS_BLTFOURCC, FOURCCs YV12
 * and UYVY, DirectDraw available, no failures of DirectDraw methods, empty
 * call log. Live objects
 * are left alone. */
KPLAT_API void kplat_ddraw_reset(void);
/* The driver caps' dwCaps that GetCaps reports. */
KPLAT_API void kplat_ddraw_set_caps(DWORD caps);
/* The FOURCCs offscreen surfaces may be created in (YV12 and UYVY only are
 * implemented; others listed here are still refused). */
KPLAT_API void kplat_ddraw_set_fourccs(const DWORD *codes, int count);
/* FALSE: LoadLibraryA("ddraw.dll") fails, as on a system without it. */
KPLAT_API void kplat_ddraw_set_available(BOOL available);
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

/* ---- audio (manual stepping, what devices received) ---- */

struct HWAVEOUT__;
struct tWAVEFORMATEX;

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

/* waveOutGetPosition of the null and WAV sinks reports what is heard: this
 * many ms behind what the sink consumed, as a real device's own buffer
 * holds it back (never below 0). Devices opened after the call get it;
 * until the first call they get $KPLAT_AUDIO_LAG_MS (decimal ms), else 0. */
KPLAT_API void kplat_audio_set_output_lag(DWORD milliseconds);
/* The byte count a device opened after the call starts from (default 0),
 * so a test reaches the 32-bit wrap of the position quickly; samples are
 * that over the block align, both from one 64-bit count. waveOutReset
 * still goes back to 0. */
KPLAT_API void kplat_audio_set_position_start(DWORD bytes);
/* The bytes the sink of device (NULL: the most recently opened live device)
 * has consumed since the open or the last waveOutReset, without the start
 * above or the lag, and the QueryPerformanceCounter tick at which that was
 * true: for a paced sink, now and what it has taken by now. Either pointer
 * may be NULL. FALSE when there is no such device. */
KPLAT_API BOOL kplat_audio_consumed(struct HWAVEOUT__ *device, int64_t *bytes, int64_t *qpc);

/* ---- lip-sync stamps ---- */

/* Appends stamps to the file at path, one line each, QPC ticks in decimal:
 *   "flash <qpc>"  a write left a window's centre pixel white (each channel
 *                  0xE0 or more) where it was not before
 *   "click <qpc>"  a 16-bit sample beyond 1/8 of full scale on a null or WAV
 *                  sink, after 100 ms with none (a device starts in quiet), is
 *                  heard: the sink's pacing reached it, plus the output lag
 * Click lines are written once their buffer has played, so lines are not in
 * time order; a buffer cut short by waveOutReset stamps nothing. Devices opened
 * after the call get it. NULL returns to the default: $KPLAT_SYNC_LOG, else no
 * stamps. */
KPLAT_API void kplat_sync_log(const char *path);

/* ---- text (test hooks) ---- */

/* Test hook: every TextOutA call hands its string (count bytes, not
 * terminated) to hook before drawing it, on the drawing thread; NULL
 * removes it. The hook must not call the text functions. */
typedef void (*KplatTextHook)(const char *text, int count, void *user);
KPLAT_API void kplat_set_text_hook(KplatTextHook hook, void *user);

KPLAT_END_DECLS

#endif
