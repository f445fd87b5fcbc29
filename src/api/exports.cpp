// The 23 exports: a null-handle check, one call into the object, a result.
#include <windows.h>

#include <new>

#include "audio/wave_player.h"
#include "convert/dispatch.h"
#include "display/draw_window.h"
#include "kestra/kestra.h"

using kestra::DrawWindow;
using kestra::WavePlayer;

namespace {

enum : KestraResult { kOk = 0, kNullHandle = 1, kNoMemory = 1 };

DrawWindow *Display(KestraDisplay handle) { return reinterpret_cast<DrawWindow *>(handle); }
WavePlayer *Wave(KestraWave handle) { return reinterpret_cast<WavePlayer *>(handle); }

}  // namespace

extern "C" {

KestraResult KESTRA_API KESTRA_DWOpenDraw(KestraDisplay *display) {
    // Nowhere to put the handle: allocating first would only leak the object.
    if (!display) return kNullHandle;
    DrawWindow *object = new (std::nothrow) DrawWindow;
    if (!object) return kNoMemory;
    *display = reinterpret_cast<KestraDisplay>(object);
    return kOk;
}

KestraResult KESTRA_API KESTRA_DWCloseDraw(KestraDisplay display) {
    if (!display) return kNullHandle;
    delete Display(display);
    return kOk;
}

KestraResult KESTRA_API KESTRA_DWSetHwnd(KestraDisplay display, HWND window) {
    if (!display) return kNullHandle;
    Display(display)->SetHwnd(window);
    return kOk;
}

KestraResult KESTRA_API KESTRA_DWSetIndex(KestraDisplay display, int32_t index) {
    if (!display) return kNullHandle;
    Display(display)->SetIndex(index);
    return kOk;
}

KestraResult KESTRA_API KESTRA_DWSetDisplayCB(KestraDisplay display, void *user,
                                              KestraDisplayCallback callback) {
    if (!display) return kNullHandle;
    Display(display)->SetDisplayCallback(user, callback);
    return kOk;
}

KestraResult KESTRA_API KESTRA_DWInitDraw(KestraDisplay display, int32_t width, int32_t height) {
    if (!display) return kNullHandle;
    Display(display)->InitDraw(width, height);
    return kOk;
}

KestraResult KESTRA_API KESTRA_DWFreeDraw(KestraDisplay display) {
    if (!display) return kNullHandle;
    Display(display)->FreeDraw();
    return kOk;
}

KestraResult KESTRA_API KESTRA_DWAdjustedWnd(KestraDisplay display) {
    if (!display) return kNullHandle;
    Display(display)->UpdateWindowRect();
    return kOk;
}

KestraResult KESTRA_API KESTRA_DWDrawYUV420(KestraDisplay display, const uint8_t *y,
                                            int32_t yStride, const uint8_t *u, const uint8_t *v,
                                            int32_t uvStride, int32_t value6, int32_t value7,
                                            int32_t value8) {
    if (!display) return kNullHandle;
    return Display(display)->DrawYUV420(
        kestra::FrameArgs{y, yStride, u, v, uvStride, value6, value7, value8});
}

KestraResult KESTRA_API KESTRA_DWSetOSDText(KestraDisplay display, int32_t index, const char *text,
                                            int32_t x, int32_t y, int32_t anchor, uint32_t colour) {
    if (!display) return kNullHandle;
    Display(display)->SetOsdText(index, text, x, y, anchor, colour);
    return kOk;
}

KestraResult KESTRA_API KESTRA_DWSetPlayRect(KestraDisplay display, const RECT *rect) {
    if (!display) return kNullHandle;
    Display(display)->SetPlayRect(rect);
    return kOk;
}

KestraResult KESTRA_API KESTRA_DWSetMirrorMode(KestraDisplay display, int32_t mode) {
    if (!display) return kNullHandle;
    Display(display)->SetMirrorMode(mode);
    return kOk;
}

KestraResult KESTRA_API KESTRA_WVOpenWave(KestraWave *wave) {
    if (!wave) return kNullHandle;
    WavePlayer *object = new (std::nothrow) WavePlayer;
    if (!object) return kNoMemory;
    *wave = reinterpret_cast<KestraWave>(object);
    return kOk;
}

KestraResult KESTRA_API KESTRA_WVCloseWave(KestraWave wave) {
    if (!wave) return kNullHandle;
    WavePlayer::Close(Wave(wave));
    return kOk;
}

KestraResult KESTRA_API KESTRA_WVSetWaveFormat(KestraWave wave, const tWAVEFORMATEX *format,
                                               uint32_t bufferSize) {
    if (!wave) return kNullHandle;
    Wave(wave)->SetWaveFormat(format, bufferSize);
    return kOk;
}

KestraResult KESTRA_API KESTRA_WVSetWriteWaveCB(KestraWave wave, void *user,
                                                KestraWriteWaveCallback callback) {
    if (!wave) return kNullHandle;
    Wave(wave)->SetWriteCallback(user, callback);
    return kOk;
}

KestraResult KESTRA_API KESTRA_WVPlayWave(KestraWave wave) {
    if (!wave) return kNullHandle;
    Wave(wave)->Play();
    return kOk;
}

KestraResult KESTRA_API KESTRA_WVStopWave(KestraWave wave) {
    if (!wave) return kNullHandle;
    Wave(wave)->Stop();
    return kOk;
}

KestraResult KESTRA_API KESTRA_WVPauseWave(KestraWave wave, int32_t pause) {
    if (!wave) return kNullHandle;
    Wave(wave)->Pause(pause);
    return kOk;
}

KestraResult KESTRA_API KESTRA_WVSetVolume(KestraWave wave, uint32_t volume) {
    if (!wave) return kNullHandle;
    Wave(wave)->SetVolume(volume);
    return kOk;
}

KestraResult KESTRA_API KESTRA_Initialize(void) { return 0; }

KestraResult KESTRA_API KESTRA_UnInitialize(void) { return 1; }

KestraResult KESTRA_API KESTRA_yv12_to_rgb24_c(uint8_t *dst, int32_t dstStride, const uint8_t *y,
                                               const uint8_t *u, const uint8_t *v, int32_t yStride,
                                               int32_t uvStride, uint32_t width, int32_t height) {
    kestra::Converters().rgb24(y, yStride, u, v, uvStride, dst, 3 * dstStride,
                               static_cast<int32_t>(width), height);
    return 0;
}

}  // extern "C"
