// The DirectDraw presenters: the frame is written into the frame surface in
// its own format and the hardware blit scales, converts and mirrors it onto
// the clipped primary.
#pragma once

#include <windows.h>
#include <ddraw.h>

#include "display/presenter.h"

namespace kestra {

// The DirectDraw objects of one presenter, with ddraw.dll while any exists.
struct DirectDrawObjects {
    HMODULE module = nullptr;
    IDirectDraw7 *ddraw = nullptr;
    IDirectDrawSurface7 *primary = nullptr;
    IDirectDrawSurface7 *frame = nullptr;
    IDirectDrawSurface7 *aux = nullptr;
    void Release();
};

// The locked frame surface and how much of the frame fits it.
struct LockedSurface {
    uint8_t *bits;
    int32_t pitch;
    int32_t height;
    int32_t rows;
    int32_t width;
};

// The pixels a blit from the frame surface may not split: a YUV chroma sample
// covers 2 x 1 (UYVY) or 2 x 2 (YV12) of them.
enum class ChromaBlock { None, Pair, Square };

class SurfacePresenter : public Presenter {
public:
    // Takes the objects over from `from`.
    SurfacePresenter(int32_t mode, ChromaBlock chroma, DirectDrawObjects &from, int32_t width,
                     int32_t height);
    ~SurfacePresenter() override { Release(); }
    int32_t Present(const PresentArgs &args) override;
    void Release() override { objects.Release(); }
    bool UsesDirectDraw() const override { return objects.ddraw != nullptr; }
    void Describe(DisplayView *view) const override;
    // The aux surface and the clipper, then a test blit (surface_setup.cpp).
    bool Attach(HWND window, const RECT &testTarget);

protected:
    virtual void Fill(const FrameArgs &frame, const LockedSurface &surface) = 0;

private:
    IDirectDrawSurface7 *ComposeSource(DrawWindow &display, DDSURFACEDESC2 *desc, bool mirror);
    IDirectDrawSurface7 *ComposeThroughAux(DrawWindow &display, DDSURFACEDESC2 *desc, bool text);
    void Blit(DrawWindow &display, IDirectDrawSurface7 *source, bool mirror);
    void UpdateClientRect(HWND window);

    const ChromaBlock chromaBlock;
    DirectDrawObjects objects;
    RECT clientRect{0, 0, 0, 0};  // the client area in screen coordinates, at the last draw
};

// One per frame-surface format; each fills the surface its own way
// (surface_present.cpp).
template <RenderMode Mode, ChromaBlock Chroma>
class FormatPresenter : public SurfacePresenter {
public:
    FormatPresenter(DirectDrawObjects &from, int32_t width, int32_t height)
        : SurfacePresenter(Mode, Chroma, from, width, height) {}

protected:
    void Fill(const FrameArgs &frame, const LockedSurface &surface) override;
};
using Yv12Presenter = FormatPresenter<ModeYV12Surface, ChromaBlock::Square>;
using UyvyPresenter = FormatPresenter<ModeUYVYSurface, ChromaBlock::Pair>;
using Rgb565Presenter = FormatPresenter<ModeRGB565Surface, ChromaBlock::None>;
template <>
void Yv12Presenter::Fill(const FrameArgs &frame, const LockedSurface &surface);
template <>
void UyvyPresenter::Fill(const FrameArgs &frame, const LockedSurface &surface);
template <>
void Rgb565Presenter::Fill(const FrameArgs &frame, const LockedSurface &surface);

}  // namespace kestra
