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

// Chroma rows of `columns` samples from rows of frameColumns: the extra
// column an odd width adds repeats the last sample, and a frame 1 pixel wide,
// which has none, gets neutral grey.
void FillChromaPlane(uint8_t *dst, int32_t dstPitch, int32_t columns, int32_t rows,
                     const uint8_t *src, int32_t srcStride, int32_t frameColumns) {
    for (int32_t r = 0; r < rows && columns > 0; ++r) {
        uint8_t *out = dst + ptrdiff_t(r) * dstPitch;
        if (frameColumns <= 0) {
            std::memset(out, 0x80, size_t(columns));
            continue;
        }
        const uint8_t *in = src + ptrdiff_t(r) * srcStride;
        std::memcpy(out, in, size_t(frameColumns));
        std::memset(out + frameColumns, in[frameColumns - 1], size_t(columns - frameColumns));
    }
}

int32_t Clamp32(DWORD value) { return int32_t(std::min<DWORD>(value, 0x7FFFFFFF)); }

// Packed and planar YUV rectangles may not split a chroma sample: drivers
// refuse them (Wine answers D3DERR_INVALIDCALL) and the window would freeze.
// Widened by at most one pixel, never past the frame.
RECT AlignToChroma(RECT rect, bool alignRows, int32_t width, int32_t height) {
    auto down = [](LONG v) { return v & ~LONG(1); };
    auto up = [](LONG v, int32_t limit) { return std::min<LONG>((v + 1) & ~LONG(1), limit); };
    rect.left = down(rect.left);
    rect.right = up(rect.right, width);
    if (alignRows) {
        rect.top = down(rect.top);
        rect.bottom = up(rect.bottom, height);
    }
    return rect;
}

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
    // Read once: the mirror decides both the source and the blit of this frame.
    const bool mirror = mirrorMode == 1;
    // Held from the text test to the final blit so the slots cannot change between.
    AutoLock osd(osdLock);
    PresentSurface(ComposeSource(&desc, mirror), mirror);
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
            // Chroma planes of height / 2 rows, as drivers (and Wine) lay them
            // out; an odd width's extra chroma column repeats the last sample.
            const int32_t chromaPitch = pitch / 2;
            uint8_t *vPlane = surface + ptrdiff_t(surfaceHeight) * pitch;
            uint8_t *uPlane = vPlane + ptrdiff_t(surfaceHeight / 2) * chromaPitch;
            const int32_t columns = std::min((width + 1) / 2, chromaPitch);
            const int32_t chromaRows = rows / 2;
            const int32_t frameColumns = std::min(frameWidth / 2, columns);
            FillChromaPlane(vPlane, chromaPitch, columns, chromaRows, frame.v, frame.uvStride,
                            frameColumns);
            FillChromaPlane(uPlane, chromaPitch, columns, chromaRows, frame.u, frame.uvStride,
                            frameColumns);
            break;
        }
        case ModeUYVYSurface:
            // Whole 4-byte groups only: an odd width's last pixel fills a
            // group of its own.
            width = std::min(width, pitch / 4 * 2);
            Converters().uyvy(frame.y, frame.yStride, frame.u, frame.v, frame.uvStride, surface,
                              pitch, width, rows);
            break;
        case ModeRGB565Surface: {
            if (!frameBuffer) return;
            // Strided: hosts that pad their rows must not get a sheared picture.
            Converters().rgb565(frame.y, frame.yStride, frame.u, frame.v, frame.uvStride,
                                frameBuffer, 2 * frameWidth, frameWidth, frameHeight);
            int32_t rowBytes = std::min(2 * width, pitch);
            CopyPlane(surface, pitch, frameBuffer, 2 * frameWidth, rowBytes, rows);
            break;
        }
        default:
            break;
    }
}

IDirectDrawSurface7 *DrawWindow::ComposeSource(DDSURFACEDESC2 *desc, bool mirror) {
    const bool text = HasOsdText() != 0;
    if (renderMode != ModeRGB565Surface) {
        // Drivers may ignore the mirror on a YUV source (Wine does, and still
        // answers DD_OK), so a mirrored frame goes through the RGB aux surface.
        if (!text && !mirror) return frameSurface;
        return ComposeThroughAux(desc, text);
    }
    if (!text) return frameSurface;
    HDC dc = nullptr;
    if (SUCCEEDED(frameSurface->GetDC(&dc))) {
        DrawOsd(dc, frameWidth, frameHeight);
        frameSurface->ReleaseDC(dc);
    }
    return frameSurface;
}

// FOURCC surfaces have no device context: the frame is converted into the
// RGB aux surface first and the text drawn there.
IDirectDrawSurface7 *DrawWindow::ComposeThroughAux(DDSURFACEDESC2 *desc, bool text) {
    RECT frameRect;
    SetRect(&frameRect, 0, 0, frameWidth, frameHeight);
    if (auxSurface->Blt(&frameRect, frameSurface, nullptr, DDBLT_WAIT, nullptr) != DD_OK)
        return frameSurface;
    if (!text) return auxSurface;
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

void DrawWindow::PresentSurface(IDirectDrawSurface7 *source, bool mirror) {
    AutoLock lock(surfaceLock);
    RECT crop = playRect;
    if (source == frameSurface && renderMode != ModeRGB565Surface)
        crop = AlignToChroma(crop, renderMode == ModeYV12Surface, frameWidth, frameHeight);
    RECT *sourceRect = playRectEnabled ? &crop : nullptr;
    DDBLTFX fx;
    std::memset(&fx, 0, sizeof(fx));
    fx.dwSize = sizeof(fx);
    DDBLTFX *effects = nullptr;
    DWORD flags = DDBLT_WAIT;
    if (mirror) {
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
