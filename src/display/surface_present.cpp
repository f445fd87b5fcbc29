// Frame presentation through DirectDraw surfaces: the frame is written into
// the frame surface in its own format and the hardware blit scales,
// converts and mirrors it onto the clipped primary.
#include "display/draw_window.h"

#include <algorithm>
#include <cstring>

#include "convert/dispatch.h"

namespace kestra {

namespace {

void CopyPlane(uint8_t *dst, int32_t dstPitch, const uint8_t *src, int32_t srcStride,
               int32_t rowBytes, int32_t rows) {
    for (int32_t r = 0; r < rows; ++r)
        std::memcpy(dst + ptrdiff_t(r) * dstPitch, src + ptrdiff_t(r) * srcStride,
                    size_t(rowBytes));
}

int32_t Clamp32(DWORD value) { return int32_t(std::min<DWORD>(value, 0x7FFFFFFF)); }

}  // namespace

int32_t DrawWindow::DrawSurfaceFrame(const FrameArgs &frame) {
    if (!primarySurface || !frameSurface) return kDrawNoSurfaces;
    DDSURFACEDESC2 desc;
    std::memset(&desc, 0, sizeof(desc));
    desc.dwSize = sizeof(desc);
    if (FAILED(frameSurface->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr))) {
        frameSurface->Restore();
        return kDrawLockFailed;
    }
    FillFrameSurface(frame, desc);
    frameSurface->Unlock(nullptr);
    UpdateClientRect();
    // Held from the text test to the final blit so the slots cannot change between.
    AutoLock osd(osdLock);
    PresentSurface(ComposeOsd(&desc));
    return kDrawOk;
}

// Writes stay inside the lock's rows, width and pitch whatever the surface reports.
void DrawWindow::FillFrameSurface(const FrameArgs &frame, const DDSURFACEDESC2 &desc) {
    uint8_t *surface = static_cast<uint8_t *>(desc.lpSurface);
    if (!surface || desc.lPitch <= 0 || !frame.y || !frame.u || !frame.v) return;
    int32_t pitch = desc.lPitch;
    int32_t surfaceHeight = Clamp32(desc.dwHeight);
    int32_t rows = std::min(frameHeight, surfaceHeight);
    int32_t width = std::min(frameWidth, Clamp32(desc.dwWidth));
    switch (renderMode) {
        case ModeYV12Surface: {
            width = std::min(width, pitch);
            CopyPlane(surface, pitch, frame.y, frame.yStride, width, rows);
            uint8_t *vPlane = surface + ptrdiff_t(surfaceHeight) * pitch;
            uint8_t *uPlane = vPlane + ptrdiff_t(surfaceHeight / 2) * (pitch / 2);
            CopyPlane(vPlane, pitch / 2, frame.v, frame.uvStride, width / 2, rows / 2);
            CopyPlane(uPlane, pitch / 2, frame.u, frame.uvStride, width / 2, rows / 2);
            break;
        }
        case ModeUYVYSurface:
            width = std::min(width, pitch / 2);
            Converters().uyvy(frame.y, frame.yStride, frame.u, frame.v, frame.uvStride, surface,
                              uint32_t(width), uint32_t(rows), pitch);
            break;
        case ModeRGB565Surface: {
            if (!frameBuffer) return;
            // Strided: hosts that pad their rows must not get a sheared picture.
            Converters().rgb565(frame.y, frame.yStride, frame.u, frame.v, frame.uvStride,
                                reinterpret_cast<uint16_t *>(frameBuffer), frameWidth, frameWidth,
                                frameHeight);
            int32_t rowBytes = std::min(2 * width, pitch);
            CopyPlane(surface, pitch, frameBuffer, 2 * frameWidth, rowBytes, rows);
            break;
        }
        default:
            break;
    }
}

IDirectDrawSurface7 *DrawWindow::ComposeOsd(DDSURFACEDESC2 *desc) {
    if (!HasOsdText()) return frameSurface;
    if (renderMode != ModeRGB565Surface) return ComposeOsdThroughAux(desc);
    HDC dc = nullptr;
    if (SUCCEEDED(frameSurface->GetDC(&dc))) {
        DrawOsd(dc, frameWidth, frameHeight);
        frameSurface->ReleaseDC(dc);
    }
    return frameSurface;
}

// FOURCC surfaces have no device context: the frame is converted into the
// RGB aux surface first and the text drawn there.
IDirectDrawSurface7 *DrawWindow::ComposeOsdThroughAux(DDSURFACEDESC2 *desc) {
    RECT frameRect;
    SetRect(&frameRect, 0, 0, frameWidth, frameHeight);
    if (auxSurface->Blt(&frameRect, frameSurface, nullptr, DDBLT_WAIT, nullptr) != DD_OK)
        return frameSurface;
    HRESULT hr = auxSurface->Lock(nullptr, desc, DDLOCK_WAIT | DDLOCK_WRITEONLY, nullptr);
    if (hr == DDERR_SURFACELOST) hr = auxSurface->Restore();
    if (hr != DD_OK) return auxSurface;
    HDC dc = nullptr;
    auxSurface->GetDC(&dc);
    if (dc) {
        DrawOsd(dc, frameWidth, frameHeight);
        auxSurface->ReleaseDC(dc);
    }
    auxSurface->Unlock(nullptr);
    return auxSurface;
}

void DrawWindow::PresentSurface(IDirectDrawSurface7 *source) {
    AutoLock lock(surfaceLock);
    RECT crop = playRect;
    RECT *sourceRect = playRectEnabled ? &crop : nullptr;
    DDBLTFX fx;
    std::memset(&fx, 0, sizeof(fx));
    fx.dwSize = sizeof(fx);
    DDBLTFX *effects = nullptr;
    DWORD flags = DDBLT_WAIT;
    if (mirrorMode == 1) {
        fx.dwDDFX = DDBLTFX_MIRRORLEFTRIGHT;
        flags |= DDBLT_DDFX;
        effects = &fx;
    }
    primarySurface->Blt(&windowRect, source, sourceRect, flags, effects);
}

void DrawWindow::UpdateClientRect() {
    GetClientRect(hwnd, &windowRect);
    POINT topLeft{windowRect.left, windowRect.top};
    POINT bottomRight{windowRect.right, windowRect.bottom};
    ClientToScreen(hwnd, &topLeft);
    ClientToScreen(hwnd, &bottomRight);
    windowRect = RECT{topLeft.x, topLeft.y, bottomRight.x, bottomRight.y};
}

}  // namespace kestra
