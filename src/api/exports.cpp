// The 23 exports and the extensions: a null-handle check, one call into the object, a result.
#include <windows.h>

#include <new>

#include "audio/wave_player.h"
#include "convert/dispatch.h"
#include "core/lifetime.h"
#include "display/draw_window.h"
#include "kestra/kestra.h"

using kestra::DrawWindow;
using kestra::WavePlayer;

namespace {

enum : KestraResult { kOk = 0, kNullHandle = 1, kNoMemory = 1, kUnknownValue = 2 };

DrawWindow *Object(KestraDisplay handle) { return reinterpret_cast<DrawWindow *>(handle); }
WavePlayer *Object(KestraWave handle) { return reinterpret_cast<WavePlayer *>(handle); }

template <typename Class, typename Handle, typename... Args>
KestraResult Open(Handle *handle, Args... args) {
    // Nowhere to put the handle: allocating first would only leak the object.
    if (!handle) return kNullHandle;
    Class *object = new (std::nothrow) Class(args...);
    if (!object) return kNoMemory;
    if (!object->Made()) {
        kestra::LetGo(object);
        return kNoMemory;
    }
    *handle = reinterpret_cast<Handle>(object);
    return kOk;
}

// A null handle touches nothing; otherwise the export answers 0 whatever the call returns.
template <typename Handle, typename Class, typename Result, typename... Params, typename... Args>
KestraResult Call(Handle handle, Result (Class::*method)(Params...), Args... args) {
    if (!handle) return kNullHandle;
    (Object(handle)->*method)(args...);
    return kOk;
}

void ToRgb24(uint8_t *dst, int32_t dstStride, const uint8_t *y, const uint8_t *u, const uint8_t *v,
             int32_t yStride, int32_t uvStride, uint32_t width, int32_t height,
             const kestra::colour::Record &colour) {
    // The converters read and write without looking; a missing plane is the host's slip.
    if (!dst || !y || !u || !v) return;
    // The converters take byte strides; a stride of 2 GiB or more is no frame's.
    const int64_t pitch = 3 * static_cast<int64_t>(dstStride);
    if (pitch != static_cast<int32_t>(pitch)) return;
    kestra::Converters().rgb24(y, yStride, u, v, uvStride, dst, static_cast<int32_t>(pitch),
                               static_cast<int32_t>(width), height, colour);
}

}  // namespace

extern "C" {

KestraResult KESTRA_API KESTRA_DWOpenDraw(KestraDisplay *display) {
    // The video settings read when the library was loaded.
    return Open<DrawWindow>(display, kestra::LoadedVideoSettings());
}

KestraResult KESTRA_API KESTRA_DWCloseDraw(KestraDisplay display) {
    return Call(display, &DrawWindow::Close);
}

KestraResult KESTRA_API KESTRA_DWSetHwnd(KestraDisplay display, HWND window) {
    return Call(display, &DrawWindow::SetHwnd, window);
}

KestraResult KESTRA_API KESTRA_DWSetIndex(KestraDisplay display, int32_t index) {
    return Call(display, &DrawWindow::SetIndex, index);
}

KestraResult KESTRA_API KESTRA_DWSetDisplayCB(KestraDisplay display, void *user,
                                              KestraDisplayCallback callback) {
    return Call(display, &DrawWindow::SetDisplayCallback, user, callback);
}

KestraResult KESTRA_API KESTRA_DWInitDraw(KestraDisplay display, int32_t width, int32_t height) {
    return Call(display, &DrawWindow::InitDraw, width, height);
}

KestraResult KESTRA_API KESTRA_DWFreeDraw(KestraDisplay display) {
    return Call(display, &DrawWindow::FreeDraw);
}

KestraResult KESTRA_API KESTRA_DWAdjustedWnd(KestraDisplay display) {
    return Call(display, &DrawWindow::UpdateWindowRect);
}

KestraResult KESTRA_API KESTRA_DWDrawYUV420(KestraDisplay display, const uint8_t *y,
                                            int32_t yStride, const uint8_t *u, const uint8_t *v,
                                            int32_t uvStride, int32_t value6, int32_t value7,
                                            int32_t value8) {
    if (!display) return kNullHandle;
    return Object(display)->DrawFrame(
        kestra::FrameArgs{y, yStride, u, v, uvStride, value6, value7, value8});
}

KestraResult KESTRA_API KESTRA_DWSetOSDText(KestraDisplay display, int32_t index, const char *text,
                                            int32_t x, int32_t y, int32_t anchor, uint32_t colour) {
    return Call(display, &DrawWindow::SetOsdText, index, text, x, y, anchor, colour);
}

KestraResult KESTRA_API KESTRA_DWSetPlayRect(KestraDisplay display, const RECT *rect) {
    return Call(display, &DrawWindow::SetPlayRect, rect);
}

KestraResult KESTRA_API KESTRA_DWSetMirrorMode(KestraDisplay display, int32_t mode) {
    return Call(display, &DrawWindow::SetMirrorMode, mode);
}

KestraResult KESTRA_API KESTRA_DWSetColorSpace(KestraDisplay display, int32_t matrix,
                                               int32_t range) {
    if (!display) return kNullHandle;
    return Object(display)->SetColourSpace(matrix, range) ? kOk : kUnknownValue;
}

KestraResult KESTRA_API KESTRA_DWSetScaling(KestraDisplay display, int32_t mode) {
    if (!display) return kNullHandle;
    return Object(display)->SetScaling(mode) ? kOk : kUnknownValue;
}

KestraResult KESTRA_API KESTRA_WVOpenWave(KestraWave *wave) { return Open<WavePlayer>(wave); }

KestraResult KESTRA_API KESTRA_WVCloseWave(KestraWave wave) {
    return Call(wave, &WavePlayer::Close);
}

KestraResult KESTRA_API KESTRA_WVSetWaveFormat(KestraWave wave, const tWAVEFORMATEX *format,
                                               uint32_t bufferSize) {
    return Call(wave, &WavePlayer::SetWaveFormat, format, bufferSize);
}

KestraResult KESTRA_API KESTRA_WVSetWriteWaveCB(KestraWave wave, void *user,
                                                KestraWriteWaveCallback callback) {
    return Call(wave, &WavePlayer::SetWriteCallback, user, callback);
}

KestraResult KESTRA_API KESTRA_WVPlayWave(KestraWave wave) { return Call(wave, &WavePlayer::Play); }

KestraResult KESTRA_API KESTRA_WVStopWave(KestraWave wave) { return Call(wave, &WavePlayer::Stop); }

KestraResult KESTRA_API KESTRA_WVPauseWave(KestraWave wave, int32_t pause) {
    return Call(wave, &WavePlayer::Pause, pause);
}

KestraResult KESTRA_API KESTRA_WVSetVolume(KestraWave wave, uint32_t volume) {
    return Call(wave, &WavePlayer::SetVolume, volume);
}

KestraResult KESTRA_API KESTRA_WVGetPosition(KestraWave wave, int64_t *hostFrames,
                                             int64_t *qpcTime) {
    if (!wave) return kNullHandle;
    return Object(wave)->Position(hostFrames, qpcTime) ? kOk : kUnknownValue;
}

KestraResult KESTRA_API KESTRA_Initialize(void) { return 0; }

KestraResult KESTRA_API KESTRA_UnInitialize(void) { return 1; }

KestraResult KESTRA_API KESTRA_yv12_to_rgb24_c(uint8_t *dst, int32_t dstStride, const uint8_t *y,
                                               const uint8_t *u, const uint8_t *v, int32_t yStride,
                                               int32_t uvStride, uint32_t width, int32_t height) {
    ToRgb24(dst, dstStride, y, u, v, yStride, uvStride, width, height,
            kestra::colour::kBt601Studio);
    return kOk;
}

KestraResult KESTRA_API KESTRA_yv12_to_rgb24_cs(uint8_t *dst, int32_t dstStride, const uint8_t *y,
                                                const uint8_t *u, const uint8_t *v, int32_t yStride,
                                                int32_t uvStride, uint32_t width, int32_t height,
                                                int32_t matrix, int32_t range) {
    const kestra::colour::Record *colour = kestra::colour::Find(matrix, range);
    if (!colour) return kUnknownValue;
    ToRgb24(dst, dstStride, y, u, v, yStride, uvStride, width, height, *colour);
    return kOk;
}

}  // extern "C"
