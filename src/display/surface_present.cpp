// Frame presentation through DirectDraw surfaces: filling the frame surface
// in each format, composing the OSD text and the blit to the window.
#include "display/draw_window.h"
#include "display/surface_presenter.h"

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

int32_t SurfacePresenter::Present(const PresentArgs &args) {
    if (!objects.primary || !objects.frame) return kDrawNoSurfaces;
    DDSURFACEDESC2 desc;
    std::memset(&desc, 0, sizeof(desc));
    desc.dwSize = sizeof(desc);
    if (FAILED(objects.frame->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr))) {
        objects.frame->Restore();
        return kDrawLockFailed;
    }
    // Writes stay inside the lock's rows, width and pitch whatever the surface reports.
    uint8_t *bits = static_cast<uint8_t *>(desc.lpSurface);
    if (bits && desc.lPitch > 0) {
        const int32_t surfaceHeight = Clamp32(desc.dwHeight);
        Fill(args.frame,
             LockedSurface{bits, desc.lPitch, surfaceHeight, std::min(frameHeight, surfaceHeight),
                           std::min(frameWidth, Clamp32(desc.dwWidth))});
    }
    objects.frame->Unlock(nullptr);
    UpdateClientRect(args.hwnd);
    const bool mirror = args.mirror == 1;
    // Held from the text test to the final blit so the slots cannot change between.
    args.display.WithOsdHeld(
        [&] { Blit(args.display, ComposeSource(args.display, &desc, mirror), mirror); });
    return kDrawOk;
}

template <>
void Yv12Presenter::Fill(const FrameArgs &frame, const LockedSurface &surface) {
    const int32_t pitch = surface.pitch;
    const int32_t columns = std::min(surface.width, pitch);
    CopyPlane(surface.bits, pitch, frame.y, frame.yStride, columns, surface.rows);
    // Chroma planes of height / 2 rows, as drivers (and Wine) lay them out; an
    // odd width's extra chroma column repeats the last sample.
    const int32_t chromaPitch = pitch / 2;
    uint8_t *vPlane = surface.bits + ptrdiff_t(surface.height) * pitch;
    uint8_t *uPlane = vPlane + ptrdiff_t(surface.height / 2) * chromaPitch;
    const int32_t chromaColumns = std::min((columns + 1) / 2, chromaPitch);
    const int32_t chromaRows = surface.rows / 2;
    const int32_t frameColumns = std::min(frameWidth / 2, chromaColumns);
    FillChromaPlane(vPlane, chromaPitch, chromaColumns, chromaRows, frame.v, frame.uvStride,
                    frameColumns);
    FillChromaPlane(uPlane, chromaPitch, chromaColumns, chromaRows, frame.u, frame.uvStride,
                    frameColumns);
}

template <>
void UyvyPresenter::Fill(const FrameArgs &frame, const LockedSurface &surface) {
    // Whole 4-byte groups only: an odd width's last pixel fills a group of its own.
    const int32_t columns = std::min(surface.width, surface.pitch / 4 * 2);
    Converters().uyvy(frame.y, frame.yStride, frame.u, frame.v, frame.uvStride, surface.bits,
                      uint32_t(columns), uint32_t(surface.rows), surface.pitch);
}

template <>
void Rgb565Presenter::Fill(const FrameArgs &frame, const LockedSurface &surface) {
    if (!frameBuffer) return;
    // Strided: hosts that pad their rows must not get a sheared picture.
    Converters().rgb565(frame.y, frame.yStride, frame.u, frame.v, frame.uvStride,
                        reinterpret_cast<uint16_t *>(frameBuffer.get()), frameWidth, frameWidth,
                        frameHeight);
    const int32_t rowBytes = std::min(2 * surface.width, surface.pitch);
    CopyPlane(surface.bits, surface.pitch, frameBuffer.get(), 2 * frameWidth, rowBytes,
              surface.rows);
}

IDirectDrawSurface7 *SurfacePresenter::ComposeSource(DrawWindow &display, DDSURFACEDESC2 *desc,
                                                     bool mirror) {
    const bool text = display.HasOsdText() != 0;
    if (chromaBlock != ChromaBlock::None) {
        // Drivers may ignore the mirror on a YUV source (Wine does, and still
        // answers DD_OK), so a mirrored frame goes through the RGB aux surface.
        if (!text && !mirror) return objects.frame;
        return ComposeThroughAux(display, desc, text);
    }
    if (!text) return objects.frame;
    HDC dc = nullptr;
    if (SUCCEEDED(objects.frame->GetDC(&dc))) {
        display.DrawOsd(dc, frameWidth, frameHeight);
        objects.frame->ReleaseDC(dc);
    }
    return objects.frame;
}

// FOURCC surfaces have no device context: the frame is converted into the
// RGB aux surface first and the text drawn there.
IDirectDrawSurface7 *SurfacePresenter::ComposeThroughAux(DrawWindow &display, DDSURFACEDESC2 *desc,
                                                         bool text) {
    IDirectDrawSurface7 *aux = objects.aux;
    RECT frameRect;
    SetRect(&frameRect, 0, 0, frameWidth, frameHeight);
    if (aux->Blt(&frameRect, objects.frame, nullptr, DDBLT_WAIT, nullptr) != DD_OK)
        return objects.frame;
    if (!text) return aux;
    HRESULT hr = aux->Lock(nullptr, desc, DDLOCK_WAIT | DDLOCK_WRITEONLY, nullptr);
    if (hr == DDERR_SURFACELOST) hr = aux->Restore();
    if (hr != DD_OK) return aux;
    HDC dc = nullptr;
    aux->GetDC(&dc);
    if (dc) {
        display.DrawOsd(dc, frameWidth, frameHeight);
        aux->ReleaseDC(dc);
    }
    aux->Unlock(nullptr);
    return aux;
}

void SurfacePresenter::Blit(DrawWindow &display, IDirectDrawSurface7 *source, bool mirror) {
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
    display.WithCrop([&](const RECT *crop) {
        RECT sourceRect = crop ? *crop : RECT{0, 0, 0, 0};
        if (crop && source == objects.frame && chromaBlock != ChromaBlock::None)
            sourceRect = AlignToChroma(sourceRect, chromaBlock == ChromaBlock::Square, frameWidth,
                                       frameHeight);
        objects.primary->Blt(&clientRect, source, crop ? &sourceRect : nullptr, flags, effects);
    });
}

void SurfacePresenter::UpdateClientRect(HWND window) {
    GetClientRect(window, &clientRect);
    POINT topLeft{clientRect.left, clientRect.top};
    POINT bottomRight{clientRect.right, clientRect.bottom};
    ClientToScreen(window, &topLeft);
    ClientToScreen(window, &bottomRight);
    clientRect = RECT{topLeft.x, topLeft.y, bottomRight.x, bottomRight.y};
}

}  // namespace kestra
