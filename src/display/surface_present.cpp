// The DirectDraw presenters: the frame is written into the frame surface in
// its own format and the hardware blit scales, converts and mirrors it onto
// the clipped primary. What set-up cannot make leaves the display to GDI.
#include <ddraw.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "convert/dispatch.h"
#include "display/com.h"
#include "display/presenter.h"

static_assert(sizeof(void *) != 4 || sizeof(DDSURFACEDESC2) == 124, "DDSURFACEDESC2 layout");
static_assert(sizeof(void *) != 4 || sizeof(DDBLTFX) == 100, "DDBLTFX layout");
static_assert(sizeof(void *) != 4 || sizeof(DDCAPS) == 380, "DDCAPS layout");
static_assert(sizeof(DDPIXELFORMAT) == 32, "DDPIXELFORMAT layout");

namespace kestra {

namespace {

// The largest surface side drivers make (Direct3D 11 textures stop there too);
// a YUV surface's extra column or row of an odd size stays within it.
constexpr int32_t kMaxSurfaceSide = 16384;

using DirectDrawCreateExFn = HRESULT(WINAPI *)(GUID *, LPVOID *, REFIID, IUnknown *);

template <typename Record>
void ZeroRecord(Record *record) {
    std::memset(record, 0, sizeof(*record));
    record->dwSize = sizeof(*record);
}

void CopyPlane(uint8_t *dst, int32_t dstPitch, const uint8_t *src, int32_t srcStride,
               int32_t rowBytes, int32_t rows) {
    for (int32_t r = 0; r < rows; ++r)
        std::memcpy(dst + ptrdiff_t(r) * dstPitch, src + ptrdiff_t(r) * srcStride,
                    size_t(rowBytes));
}

// Chroma of `columns` x `rows` samples from the frame's frameColumns x
// frameRows: the column and row an odd size adds repeat the last sample, and
// a frame 1 pixel wide or high, which has none, gets neutral grey.
void FillChromaPlane(uint8_t *dst, int32_t dstPitch, int32_t columns, int32_t rows,
                     const uint8_t *src, int32_t srcStride, int32_t frameColumns,
                     int32_t frameRows) {
    for (int32_t r = 0; r < rows && columns > 0; ++r) {
        uint8_t *out = dst + ptrdiff_t(r) * dstPitch;
        if (frameColumns <= 0 || frameRows <= 0) {
            std::memset(out, 0x80, size_t(columns));
            continue;
        }
        const uint8_t *in = src + ptrdiff_t(std::min(r, frameRows - 1)) * srcStride;
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

// The DirectDraw objects of one presenter, with ddraw.dll while any exists.
struct DirectDrawObjects {
    DirectDrawObjects() = default;
    DirectDrawObjects(DirectDrawObjects &&from) noexcept
        : module(std::exchange(from.module, nullptr)),
          ddraw(std::move(from.ddraw)),
          primary(std::move(from.primary)),
          frame(std::move(from.frame)),
          aux(std::move(from.aux)) {}
    ~DirectDrawObjects() { Release(); }
    void Release();

    HMODULE module = nullptr;
    Com<IDirectDraw7> ddraw;
    Com<IDirectDrawSurface7> primary;
    Com<IDirectDrawSurface7> frame;
    Com<IDirectDrawSurface7> aux;
};

// The locked frame surface and how much of the frame fits it.
struct LockedSurface {
    uint8_t *bits;
    int32_t pitch;
    int32_t height;
    int32_t rows;
    int32_t width;
    int32_t surfaceWidth;  // the lock's width, at most the pitch
};

// The pixels a blit from the frame surface may not split: a YUV chroma sample
// covers 2 x 1 (UYVY) or 2 x 2 (YV12) of them.
enum class ChromaBlock { None, Pair, Square };

// A YUV surface holds whole chroma samples: an odd frame gets one more column
// (and, in YV12, row), filled from its own edge. Drivers lay a YV12 surface of
// odd height out with height / 2 chroma rows, which leaves its last row none.
int32_t SurfaceWidth(ChromaBlock chroma, int32_t width) {
    return chroma == ChromaBlock::None ? width : width + width % 2;
}
int32_t SurfaceHeight(ChromaBlock chroma, int32_t height) {
    return chroma == ChromaBlock::Square ? height + height % 2 : height;
}

class SurfacePresenter : public Presenter {
public:
    // Takes the objects over from `from`, which keeps none.
    SurfacePresenter(ChromaBlock chroma, DirectDrawObjects &from, const PresenterSetUp &setUp)
        : chromaBlock(chroma),
          onWine(setUp.onWine),
          frameWidth(setUp.width),
          frameHeight(setUp.height),
          surfaceWidth(SurfaceWidth(chroma, setUp.width)),
          surfaceHeight(SurfaceHeight(chroma, setUp.height)),
          objects(std::move(from)) {}
    Presented Present(const FrameContext &context) override;
    void Release() override { objects.Release(); }
    // The aux surface and the clipper, then a test blit.
    bool Attach(HWND window, const RECT &testTarget);

protected:
    virtual void Fill(const FrameArgs &frame, const LockedSurface &surface,
                      const colour::Record &colour) = 0;
    // Black in the surface's own format: the colour fill's 0 is green in a
    // YUV format, and the set-up's test blit reaches the window.
    virtual void Clear(const LockedSurface &surface) = 0;

private:
    HRESULT WriteFrame(const FrameContext &context);
    // The frame as the samples the YUV formats' blit converts to its colours.
    bool RemapFrame(const FrameArgs &frame, const colour::Record &colour, FrameArgs *remapped);
    HRESULT Show(const FrameContext &context);
    HRESULT Compose(const OsdPainter &osd, bool mirror, IDirectDrawSurface7 **shown);
    HRESULT ComposeThroughAux(const OsdPainter &osd, IDirectDrawSurface7 **shown);
    HRESULT ConvertIntoAux();
    template <typename Write>
    HRESULT LockFrame(Write write);
    HRESULT Blit(IDirectDrawSurface7 *source, const RECT &shown, bool mirror);
    bool RestoreLost(HRESULT hr);
    void SettleWindow(HWND window);
    void UpdateClientRect(HWND window);

    const ChromaBlock chromaBlock;
    const bool onWine;

protected:
    const int32_t frameWidth;
    const int32_t frameHeight;
    // The frame and aux surfaces' size: the frame's, or one more where a YUV
    // format needs it.
    const int32_t surfaceWidth;
    const int32_t surfaceHeight;

private:
    // A lost surface could not be restored: the set-up must be made again.
    bool gone = false;
    DirectDrawObjects objects;
    RECT clientRect{0, 0, 0, 0};  // the client area in screen coordinates, at the last draw
    // Planes of the remapped frame, made at the first frame that needs them.
    std::unique_ptr<uint8_t[]> remapped;
};

// The frame surface's FOURCC; 0 asks for RGB 5-6-5.
constexpr DWORD kYv12 = MAKEFOURCC('Y', 'V', '1', '2');
constexpr DWORD kUyvy = MAKEFOURCC('U', 'Y', 'V', 'Y');
constexpr DWORD kRgb565 = 0;

// One per frame-surface format; each fills the surface its own way.
template <DWORD FourCC, ChromaBlock Chroma>
class FormatPresenter : public SurfacePresenter {
public:
    static constexpr DWORD kFourCC = FourCC;
    static constexpr ChromaBlock kChroma = Chroma;
    FormatPresenter(DirectDrawObjects &from, const PresenterSetUp &setUp)
        : SurfacePresenter(Chroma, from, setUp) {}
    // What the format needs beyond its surfaces; false when it cannot be had.
    bool Prepare() { return true; }

protected:
    void Fill(const FrameArgs &frame, const LockedSurface &surface,
              const colour::Record &colour) override;
    void Clear(const LockedSurface &surface) override;

private:
    // RGB 5-6-5 converts the whole frame here first: the lock's pitch need not
    // hold the frame's rows as the converter writes them.
    std::unique_ptr<uint8_t[]> scratch;
};
using Yv12Presenter = FormatPresenter<kYv12, ChromaBlock::Square>;
using UyvyPresenter = FormatPresenter<kUyvy, ChromaBlock::Pair>;
using Rgb565Presenter = FormatPresenter<kRgb565, ChromaBlock::None>;

// DirectDraw on the window and its primary surface; `fourcc` says whether the
// adapter blits FOURCC surfaces.
bool OpenDirectDraw(HWND window, bool onWine, DirectDrawObjects *dd, bool *fourcc) {
    if (HiddenInChildWindow(window, onWine) || OwnedByAnotherProcess(window)) return false;
    // Loaded at run time so a system without DirectDraw still gets the GDI mode.
    dd->module = LoadLibraryA("ddraw.dll");
    if (!dd->module) return false;
    auto create = reinterpret_cast<DirectDrawCreateExFn>(
        reinterpret_cast<void *>(GetProcAddress(dd->module, "DirectDrawCreateEx")));
    if (!create) return false;
    void *created = nullptr;
    if (FAILED(create(nullptr, &created, IID_IDirectDraw7, nullptr))) return false;
    *dd->ddraw.Out() = static_cast<IDirectDraw7 *>(created);
    if (FAILED(dd->ddraw->SetCooperativeLevel(window, DDSCL_NORMAL))) return false;

    DDCAPS caps;
    ZeroRecord(&caps);
    if (FAILED(dd->ddraw->GetCaps(&caps, nullptr))) return false;
    *fourcc = (caps.dwCaps & DDCAPS_BLTFOURCC) != 0;
    if (!*fourcc && !(caps.dwCaps & DDCAPS_BLT)) return false;

    DDSURFACEDESC2 desc;
    ZeroRecord(&desc);
    desc.dwFlags = DDSD_CAPS;
    desc.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE;
    return SUCCEEDED(dd->ddraw->CreateSurface(&desc, dd->primary.Out(), nullptr));
}

void DirectDrawObjects::Release() {
    frame.Reset();
    primary.Reset();
    aux.Reset();
    if (ddraw) {
        ddraw->SetCooperativeLevel(nullptr, DDSCL_NORMAL);
        ddraw.Reset();
    }
    // Every object the module made is gone, so it may go too.
    if (module) {
        FreeLibrary(module);
        module = nullptr;
    }
}

bool SurfacePresenter::Attach(HWND window, const RECT &testTarget) {
    DDSURFACEDESC2 desc;
    ZeroRecord(&desc);
    desc.dwFlags = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH;
    desc.dwWidth = static_cast<DWORD>(surfaceWidth);
    desc.dwHeight = static_cast<DWORD>(surfaceHeight);
    desc.ddpfPixelFormat.dwSize = sizeof(DDPIXELFORMAT);
    desc.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_VIDEOMEMORY;
    if (objects.ddraw->CreateSurface(&desc, objects.aux.Out(), nullptr) != DD_OK) return false;

    // The primary holds the clipper from here on.
    Com<IDirectDrawClipper> clipper;
    if (FAILED(objects.ddraw->CreateClipper(0, clipper.Out(), nullptr))) return false;
    if (FAILED(clipper->SetHWnd(0, window)) || FAILED(objects.primary->SetClipper(clipper.Get())))
        return false;

    DDBLTFX fx;
    ZeroRecord(&fx);
    fx.dwFillColor = 0;
    objects.frame->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL, &fx);
    objects.aux->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL, &fx);
    LockFrame([this](const LockedSurface &surface) { Clear(surface); });

    // Only a driver that cannot blit to the screen at all sends us to GDI.
    RECT target = testTarget;
    if (objects.primary->Blt(&target, objects.frame.Get(), nullptr, DDBLT_WAIT, nullptr) ==
        E_NOTIMPL)
        return false;
    SettleWindow(window);
    return true;
}

// Under Wine the test blit is the window's first picture through OpenGL.
// Wine draws it on its renderer thread, which gives the window an OpenGL
// drawable and posts the window's thread a request to stop drawing the window
// through its GDI surface. Handled when the host next pumps its messages,
// after its first frame, that request copies the surface's old pixels (the
// class brush) over the frame, which stays covered until the next one. So
// set-up waits for the blit (a read lock of the primary) and then makes the
// change itself, with a move of the window that changes nothing and copies
// nothing (SWP_NOREDRAW); the request later finds nothing to do. From a
// thread other than the window's the move is sent without waiting, and the
// window's thread still handles it before the posted request.
// A host that showed its window and has not pumped since still has the X
// server's exposure of it queued; handled after the change it would erase the
// window over the first frame, so the queue status is asked first: Wine then
// takes in the display's pending events (on the window's thread, the expose
// lands on the GDI surface) without dispatching any posted message.
void SurfacePresenter::SettleWindow(HWND window) {
    if (!onWine) return;
    DDSURFACEDESC2 desc;
    ZeroRecord(&desc);
    RECT pixel{0, 0, 1, 1};
    if (SUCCEEDED(objects.primary->Lock(&pixel, &desc, DDLOCK_WAIT | DDLOCK_READONLY, nullptr)))
        objects.primary->Unlock(&pixel);
    GetQueueStatus(QS_ALLINPUT);
    SetWindowPos(window, nullptr, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOOWNERZORDER | SWP_NOACTIVATE |
                     SWP_NOREDRAW | SWP_NOSENDCHANGING | SWP_DEFERERASE | SWP_ASYNCWINDOWPOS);
}

Presented SurfacePresenter::Present(const FrameContext &context) {
    if (!objects.primary || !objects.frame) return Presented::Released;
    if (FAILED(WriteFrame(context)))
        return SUCCEEDED(objects.frame->Restore()) ? Presented::NotShown : Presented::SetUpAgain;
    UpdateClientRect(context.window.hwnd);
    HRESULT shown = Show(context);
    // A display-mode change or the secure desktop takes every surface, and a
    // restored surface holds nothing defined: the frame goes in again before
    // it goes out.
    if (RestoreLost(shown)) {
        if (FAILED(WriteFrame(context))) return Presented::NotShown;
        shown = Show(context);
    }
    if (gone) return Presented::SetUpAgain;
    // Other blit failures change nothing a later frame could not (a window
    // with no visible area, say), so only a frame lost with its surfaces is
    // not shown.
    return shown == DDERR_SURFACELOST ? Presented::NotShown : Presented::Shown;
}

HRESULT SurfacePresenter::WriteFrame(const FrameContext &context) {
    const FrameArgs *frame = &context.frame;
    FrameArgs remappedFrame = context.frame;
    if (chromaBlock != ChromaBlock::None &&
        context.colour.Index() != colour::kBt601Studio.Index()) {
        if (!RemapFrame(context.frame, context.colour, &remappedFrame)) return E_OUTOFMEMORY;
        frame = &remappedFrame;
    }
    return LockFrame([&](const LockedSurface &surface) { Fill(*frame, surface, context.colour); });
}

bool SurfacePresenter::RemapFrame(const FrameArgs &frame, const colour::Record &colour,
                                  FrameArgs *out) {
    const size_t lumaBytes = size_t(frameWidth) * size_t(frameHeight);
    const int32_t chromaWidth = frameWidth / 2;
    const size_t chromaBytes = size_t(chromaWidth) * size_t(frameHeight / 2);
    if (!remapped) remapped.reset(new (std::nothrow) uint8_t[lumaBytes + 2 * chromaBytes]);
    if (!remapped) return false;
    uint8_t *y = remapped.get(), *u = y + lumaBytes, *v = u + chromaBytes;
    remap_for_blit(frame.y, frame.yStride, frame.u, frame.v, frame.uvStride, y, frameWidth, u, v,
                   chromaWidth, frameWidth, frameHeight, colour,
                   onWine ? colour::Blit::Wine : colour::Blit::Bt601Studio);
    out->y = y;
    out->yStride = frameWidth;
    out->u = u;
    out->v = v;
    out->uvStride = chromaWidth;
    return true;
}

HRESULT SurfacePresenter::Show(const FrameContext &context) {
    const bool mirror = context.mirrored;
    IDirectDrawSurface7 *source = objects.frame.Get();
    const HRESULT hr = Compose(context.osd, mirror, &source);
    if (hr == DDERR_SURFACELOST) return hr;
    return Blit(source, context.source, mirror);
}

// Locks the whole frame surface for `write`; writes stay inside the lock's
// rows, width and pitch whatever the surface reports.
template <typename Write>
HRESULT SurfacePresenter::LockFrame(Write write) {
    DDSURFACEDESC2 desc;
    ZeroRecord(&desc);
    const HRESULT hr = objects.frame->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr);
    if (FAILED(hr)) return hr;
    uint8_t *bits = static_cast<uint8_t *>(desc.lpSurface);
    if (bits && desc.lPitch > 0) {
        const int32_t lockHeight = Clamp32(desc.dwHeight);
        const int32_t lockWidth = std::min(Clamp32(desc.dwWidth), int32_t(desc.lPitch));
        write(LockedSurface{bits, desc.lPitch, lockHeight, std::min(frameHeight, lockHeight),
                            std::min(frameWidth, lockWidth), lockWidth});
    }
    objects.frame->Unlock(nullptr);
    return hr;
}

// Restores every surface after `hr` said one was lost; false when nothing was
// lost, or when a surface cannot come back (a new screen format, which the
// aux surface must follow), which leaves the presenter gone.
bool SurfacePresenter::RestoreLost(HRESULT hr) {
    if (hr != DDERR_SURFACELOST || gone) return false;
    for (IDirectDrawSurface7 *surface :
         {objects.primary.Get(), objects.frame.Get(), objects.aux.Get()})
        if (surface && FAILED(surface->Restore())) gone = true;
    return !gone;
}

template <>
void Yv12Presenter::Fill(const FrameArgs &frame, const LockedSurface &surface,
                         const colour::Record &) {
    const int32_t pitch = surface.pitch;
    CopyPlane(surface.bits, pitch, frame.y, frame.yStride, surface.width, surface.rows);
    // The extra column and row of an odd size repeat the frame's last ones.
    const int32_t columns = std::min(surfaceWidth, surface.surfaceWidth);
    for (int32_t r = 0; r < surface.rows && surface.width > 0; ++r) {
        uint8_t *row = surface.bits + ptrdiff_t(r) * pitch;
        std::memset(row + surface.width, row[surface.width - 1], size_t(columns - surface.width));
    }
    const int32_t rows = std::min(surfaceHeight, surface.height);
    for (int32_t r = surface.rows; r < rows && surface.rows > 0; ++r)
        std::memcpy(surface.bits + ptrdiff_t(r) * pitch,
                    surface.bits + ptrdiff_t(surface.rows - 1) * pitch, size_t(columns));
    // Chroma planes of height / 2 rows at half the pitch, as drivers (and Wine) lay them out.
    const int32_t chromaPitch = pitch / 2;
    uint8_t *vPlane = surface.bits + ptrdiff_t(surface.height) * pitch;
    uint8_t *uPlane = vPlane + ptrdiff_t(surface.height / 2) * chromaPitch;
    const int32_t chromaColumns = std::min((columns + 1) / 2, chromaPitch);
    const int32_t chromaRows = rows / 2;
    const int32_t frameColumns = std::min(frameWidth / 2, chromaColumns);
    const int32_t frameRows = std::min(frameHeight / 2, chromaRows);
    FillChromaPlane(vPlane, chromaPitch, chromaColumns, chromaRows, frame.v, frame.uvStride,
                    frameColumns, frameRows);
    FillChromaPlane(uPlane, chromaPitch, chromaColumns, chromaRows, frame.u, frame.uvStride,
                    frameColumns, frameRows);
}

template <>
void Yv12Presenter::Clear(const LockedSurface &surface) {
    const int32_t chromaPitch = surface.pitch / 2;
    const ptrdiff_t lumaBytes = ptrdiff_t(surface.height) * surface.pitch;
    std::memset(surface.bits, 16, size_t(lumaBytes));
    std::memset(surface.bits + lumaBytes, 0x80, size_t(surface.height / 2) * chromaPitch * 2);
}

template <>
void UyvyPresenter::Clear(const LockedSurface &surface) {
    for (int32_t r = 0; r < surface.height; ++r) {
        uint8_t *row = surface.bits + ptrdiff_t(r) * surface.pitch;
        for (int32_t x = 0; x + 4 <= surface.pitch; x += 4)
            std::memcpy(row + x, "\x80\x10\x80\x10", 4);
    }
}

template <>
void Rgb565Presenter::Clear(const LockedSurface &surface) {
    std::memset(surface.bits, 0, size_t(surface.height) * surface.pitch);
}

template <>
void UyvyPresenter::Fill(const FrameArgs &frame, const LockedSurface &surface,
                         const colour::Record &colour) {
    // Whole 4-byte groups only: an odd width's last pixel fills a group of its own.
    const int32_t columns = std::min(surface.width, surface.pitch / 4 * 2);
    Converters().uyvy(frame.y, frame.yStride, frame.u, frame.v, frame.uvStride, surface.bits,
                      surface.pitch, columns, surface.rows, colour);
}

template <>
bool Rgb565Presenter::Prepare() {
    scratch.reset(new (std::nothrow) uint8_t[size_t(2) * size_t(frameWidth) * size_t(frameHeight)]);
    return scratch != nullptr;
}

template <>
void Rgb565Presenter::Fill(const FrameArgs &frame, const LockedSurface &surface,
                           const colour::Record &colour) {
    // Strided: hosts that pad their rows must not get a sheared picture.
    Converters().rgb565(frame.y, frame.yStride, frame.u, frame.v, frame.uvStride, scratch.get(),
                        2 * frameWidth, frameWidth, frameHeight, colour);
    const int32_t rowBytes = std::min(2 * surface.width, surface.pitch);
    CopyPlane(surface.bits, surface.pitch, scratch.get(), 2 * frameWidth, rowBytes, surface.rows);
}

// The surface to show, with the text on it where it can take text. Only a
// lost surface is an error: other failures show the frame without the text.
HRESULT SurfacePresenter::Compose(const OsdPainter &osd, bool mirror, IDirectDrawSurface7 **shown) {
    const bool text = osd.HasText();
    if (chromaBlock != ChromaBlock::None) {
        // Drivers may ignore the mirror on a YUV source (Wine does, and still
        // answers DD_OK), so a mirrored frame goes through the RGB aux surface.
        if (!text && !mirror) return DD_OK;
        return ComposeThroughAux(osd, shown);
    }
    if (!text) return DD_OK;
    HDC dc = nullptr;
    const HRESULT hr = objects.frame->GetDC(&dc);
    if (hr == DDERR_SURFACELOST) return hr;
    if (SUCCEEDED(hr) && dc) {
        osd.Paint(dc, frameHeight);
        objects.frame->ReleaseDC(dc);
    }
    return DD_OK;
}

// FOURCC surfaces have no device context: the frame is converted into the
// RGB aux surface first and the text drawn there.
HRESULT SurfacePresenter::ComposeThroughAux(const OsdPainter &osd, IDirectDrawSurface7 **shown) {
    IDirectDrawSurface7 *aux = objects.aux.Get();
    HRESULT hr = ConvertIntoAux();
    if (hr != DD_OK) return hr == DDERR_SURFACELOST ? hr : DD_OK;
    *shown = aux;
    if (!osd.HasText()) return DD_OK;
    DDSURFACEDESC2 desc;
    ZeroRecord(&desc);
    hr = aux->Lock(nullptr, &desc, DDLOCK_WAIT | DDLOCK_WRITEONLY, nullptr);
    if (hr != DD_OK) return hr == DDERR_SURFACELOST ? hr : DD_OK;
    HDC dc = nullptr;
    aux->GetDC(&dc);
    if (dc) {
        osd.Paint(dc, frameHeight);
        aux->ReleaseDC(dc);
    }
    aux->Unlock(nullptr);
    return DD_OK;
}

// The whole frame surface into the aux surface of the same size, unscaled.
HRESULT SurfacePresenter::ConvertIntoAux() {
    RECT whole;
    SetRect(&whole, 0, 0, surfaceWidth, surfaceHeight);
    return objects.aux->Blt(&whole, objects.frame.Get(), nullptr, DDBLT_WAIT, nullptr);
}

HRESULT SurfacePresenter::Blit(IDirectDrawSurface7 *source, const RECT &shown, bool mirror) {
    DDBLTFX fx;
    ZeroRecord(&fx);
    DDBLTFX *effects = nullptr;
    DWORD flags = DDBLT_WAIT;
    if (mirror) {
        fx.dwDDFX = DDBLTFX_MIRRORLEFTRIGHT;
        flags |= DDBLT_DDFX;
        effects = &fx;
    }
    RECT sourceRect = shown;
    if (source == objects.frame.Get() && chromaBlock != ChromaBlock::None)
        sourceRect = AlignToChroma(sourceRect, chromaBlock == ChromaBlock::Square, surfaceWidth,
                                   surfaceHeight);
    const bool whole = sourceRect.left == 0 && sourceRect.top == 0 &&
                       sourceRect.right == surfaceWidth && sourceRect.bottom == surfaceHeight;
    return objects.primary->Blt(&clientRect, source, whole ? nullptr : &sourceRect, flags, effects);
}

void SurfacePresenter::UpdateClientRect(HWND window) {
    GetClientRect(window, &clientRect);
    POINT topLeft{clientRect.left, clientRect.top};
    POINT bottomRight{clientRect.right, clientRect.bottom};
    ClientToScreen(window, &topLeft);
    ClientToScreen(window, &bottomRight);
    clientRect = RECT{topLeft.x, topLeft.y, bottomRight.x, bottomRight.y};
}

// The presenter of type P when the adapter makes its frame surface.
template <typename P>
std::unique_ptr<P> TryFormat(DirectDrawObjects &dd, const PresenterSetUp &setUp) {
    const DWORD fourcc = P::kFourCC;
    DDSURFACEDESC2 desc;
    ZeroRecord(&desc);
    desc.dwFlags = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH | DDSD_PIXELFORMAT;
    desc.dwWidth = static_cast<DWORD>(SurfaceWidth(P::kChroma, setUp.width));
    desc.dwHeight = static_cast<DWORD>(SurfaceHeight(P::kChroma, setUp.height));
    DDPIXELFORMAT &format = desc.ddpfPixelFormat;
    format.dwSize = sizeof(format);
    format.dwFlags = fourcc ? DDPF_FOURCC : DDPF_RGB;
    format.dwFourCC = fourcc;
    if (!fourcc) {
        format.dwRGBBitCount = 16;
        format.dwRBitMask = colour::kRedMask565;
        format.dwGBitMask = colour::kGreenMask565;
        format.dwBBitMask = colour::kBlueMask565;
    }
    desc.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_VIDEOMEMORY;
    if (FAILED(dd.ddraw->CreateSurface(&desc, dd.frame.Out(), nullptr))) {
        dd.frame.Reset();
        return nullptr;
    }
    std::unique_ptr<P> presenter(new (std::nothrow) P(dd, setUp));
    if (!presenter) dd.frame.Reset();
    if (presenter && !presenter->Prepare()) presenter.reset();
    return presenter;
}

}  // namespace

std::unique_ptr<Presenter> MakeSurfacePresenter(const PresenterSetUp &setUp) {
    // Wine makes larger surfaces and blits nothing from them, answering DD_OK.
    if (setUp.width > kMaxSurfaceSide || setUp.height > kMaxSurfaceSide) return nullptr;
    DirectDrawObjects dd;
    bool fourcc = false;
    std::unique_ptr<SurfacePresenter> presenter;
    if (OpenDirectDraw(setUp.window, setUp.onWine, &dd, &fourcc)) {
        if (!fourcc) {
            presenter = TryFormat<Rgb565Presenter>(dd, setUp);
        } else {
            // A FOURCC device that cannot make either surface does not fall to 5-6-5.
            presenter = TryFormat<Yv12Presenter>(dd, setUp);
            if (!presenter) presenter = TryFormat<UyvyPresenter>(dd, setUp);
        }
    }
    if (presenter && presenter->Attach(setUp.window, setUp.testTarget)) return presenter;
    return nullptr;  // the presenter goes first, then what `dd` still holds
}

}  // namespace kestra
