// Choosing a surface presenter: DirectDraw, the primary and a frame surface
// in the best format the adapter takes. Anything that fails leaves the
// display to the GDI presenter.
#include <ddraw.h>

#include <cstring>
#include <new>

#include "display/draw_window.h"
#include "display/surface_presenter.h"

static_assert(sizeof(void *) != 4 || sizeof(DDSURFACEDESC2) == 124, "DDSURFACEDESC2 layout");
static_assert(sizeof(void *) != 4 || sizeof(DDBLTFX) == 100, "DDBLTFX layout");
static_assert(sizeof(void *) != 4 || sizeof(DDCAPS) == 380, "DDCAPS layout");
static_assert(sizeof(DDPIXELFORMAT) == 32, "DDPIXELFORMAT layout");

namespace kestra {

namespace {

using DirectDrawCreateExFn = HRESULT(WINAPI *)(GUID *, LPVOID *, REFIID, IUnknown *);

template <typename Record>
void ZeroRecord(Record *record) {
    std::memset(record, 0, sizeof(*record));
    record->dwSize = sizeof(*record);
}

template <typename Iface>
void ReleaseInto(Iface **object) {
    if (*object) (*object)->Release();
    *object = nullptr;
}

// Wine's DirectDraw, under its default OpenGL renderer, never shows blits
// clipped to a child window, though it reports them done; real Windows does.
bool DirectDrawHiddenInWindow(HWND window) {
    if (!window || !(GetWindowLongA(window, GWL_STYLE) & WS_CHILD)) return false;
    HMODULE ntdll = LoadLibraryA("ntdll.dll");
    if (!ntdll) return false;
    const bool wine = GetProcAddress(ntdll, "wine_get_version") != nullptr;
    FreeLibrary(ntdll);
    return wine;
}

// DirectDraw on the window and its primary surface; `fourcc` says whether the
// adapter blits FOURCC surfaces.
bool OpenDirectDraw(HWND window, DirectDrawObjects *dd, bool *fourcc) {
    if (DirectDrawHiddenInWindow(window)) return false;
    // Loaded at run time so a system without DirectDraw still gets the GDI mode.
    dd->module = LoadLibraryA("ddraw.dll");
    if (!dd->module) return false;
    auto create = reinterpret_cast<DirectDrawCreateExFn>(
        reinterpret_cast<void *>(GetProcAddress(dd->module, "DirectDrawCreateEx")));
    if (!create) return false;
    void *created = nullptr;
    if (FAILED(create(nullptr, &created, IID_IDirectDraw7, nullptr))) return false;
    dd->ddraw = static_cast<IDirectDraw7 *>(created);
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
    return SUCCEEDED(dd->ddraw->CreateSurface(&desc, &dd->primary, nullptr));
}

DDPIXELFORMAT FourccFormat(DWORD fourcc) {
    DDPIXELFORMAT format;
    ZeroRecord(&format);
    format.dwFlags = DDPF_FOURCC;
    format.dwFourCC = fourcc;
    return format;
}

DDPIXELFORMAT Rgb565Format() {
    DDPIXELFORMAT format;
    ZeroRecord(&format);
    format.dwFlags = DDPF_RGB;
    format.dwRGBBitCount = 16;
    format.dwRBitMask = 0xF800;
    format.dwGBitMask = 0x07E0;
    format.dwBBitMask = 0x001F;
    return format;
}

// The presenter of type P when the adapter makes its frame surface.
template <typename P>
std::unique_ptr<SurfacePresenter> TryFormat(DirectDrawObjects &dd, int32_t width, int32_t height,
                                            const DDPIXELFORMAT &format) {
    DDSURFACEDESC2 desc;
    ZeroRecord(&desc);
    desc.dwFlags = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH | DDSD_PIXELFORMAT;
    desc.dwWidth = static_cast<DWORD>(width);
    desc.dwHeight = static_cast<DWORD>(height);
    desc.ddpfPixelFormat = format;
    desc.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_VIDEOMEMORY;
    if (FAILED(dd.ddraw->CreateSurface(&desc, &dd.frame, nullptr))) {
        dd.frame = nullptr;
        return nullptr;
    }
    std::unique_ptr<SurfacePresenter> presenter(new (std::nothrow) P(dd, width, height));
    if (!presenter) ReleaseInto(&dd.frame);
    return presenter;
}

}  // namespace

std::unique_ptr<Presenter> MakeSurfacePresenter(HWND window, int32_t width, int32_t height,
                                                const RECT &testTarget) {
    DirectDrawObjects dd;
    bool fourcc = false;
    std::unique_ptr<SurfacePresenter> presenter;
    if (OpenDirectDraw(window, &dd, &fourcc)) {
        if (!fourcc) {
            presenter = TryFormat<Rgb565Presenter>(dd, width, height, Rgb565Format());
        } else {
            // A FOURCC device that cannot make either surface does not fall to 5-6-5.
            presenter = TryFormat<Yv12Presenter>(dd, width, height,
                                                 FourccFormat(MAKEFOURCC('Y', 'V', '1', '2')));
            if (!presenter)
                presenter = TryFormat<UyvyPresenter>(dd, width, height,
                                                     FourccFormat(MAKEFOURCC('U', 'Y', 'V', 'Y')));
        }
    }
    if (presenter && presenter->Attach(window, testTarget)) return presenter;
    presenter.reset();
    dd.Release();
    return nullptr;
}

SurfacePresenter::SurfacePresenter(int32_t mode, ChromaBlock chroma, DirectDrawObjects &from,
                                   int32_t width, int32_t height)
    : Presenter(mode, width, height), chromaBlock(chroma), objects(from) {
    from = DirectDrawObjects();
}

void DirectDrawObjects::Release() {
    ReleaseInto(&frame);
    ReleaseInto(&primary);
    ReleaseInto(&aux);
    if (ddraw) {
        ddraw->SetCooperativeLevel(nullptr, DDSCL_NORMAL);
        ReleaseInto(&ddraw);
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
    desc.dwWidth = static_cast<DWORD>(frameWidth);
    desc.dwHeight = static_cast<DWORD>(frameHeight);
    desc.ddpfPixelFormat.dwSize = sizeof(DDPIXELFORMAT);
    desc.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_VIDEOMEMORY;
    if (objects.ddraw->CreateSurface(&desc, &objects.aux, nullptr) != DD_OK) return false;

    IDirectDrawClipper *clipper = nullptr;
    if (FAILED(objects.ddraw->CreateClipper(0, &clipper, nullptr))) return false;
    const bool clipped =
        SUCCEEDED(clipper->SetHWnd(0, window)) && SUCCEEDED(objects.primary->SetClipper(clipper));
    // The primary holds the clipper from here on.
    clipper->Release();
    if (!clipped) return false;

    DDBLTFX fx;
    ZeroRecord(&fx);
    fx.dwFillColor = 0;
    objects.frame->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL, &fx);
    objects.aux->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL, &fx);

    // Only a driver that cannot blit to the screen at all sends us to GDI.
    RECT target = testTarget;
    return objects.primary->Blt(&target, objects.frame, nullptr, DDBLT_WAIT, nullptr) != E_NOTIMPL;
}

void SurfacePresenter::Describe(DisplayView *view) const {
    Presenter::Describe(view);
    view->clientRect = clientRect;
    view->ddraw = objects.ddraw;
    view->primarySurface = objects.primary;
    view->frameSurface = objects.frame;
    view->auxSurface = objects.aux;
}

}  // namespace kestra
