// Render-mode selection and DirectDraw surface set-up, with the GDI mode as
// the fallback for anything that fails.
#include "display/draw_window.h"

#include <ddraw.h>

#include <cstdlib>
#include <cstring>

static_assert(sizeof(void *) != 4 || sizeof(DDSURFACEDESC2) == 124, "DDSURFACEDESC2 layout");
static_assert(sizeof(void *) != 4 || sizeof(DDBLTFX) == 100, "DDBLTFX layout");
static_assert(sizeof(void *) != 4 || sizeof(DDCAPS) == 380, "DDCAPS layout");
static_assert(sizeof(DDPIXELFORMAT) == 32, "DDPIXELFORMAT layout");

namespace kestra {

namespace {

using DirectDrawCreateExFn = HRESULT(WINAPI *)(GUID *, LPVOID *, REFIID, IUnknown *);

enum : int32_t {
    kSetupOk = 0,
    kSetupNoDirectDraw = -1,
    kSetupFailed = -2,
    kSetupNoPrimary = -3,
    kSetupNoFrameSurface = -4,
    kSetupNotImplemented = -5,
    kSetupNoCaps = -20,
    kSetupNoBlit = -21,
};

// Frames whose buffer would pass 2 GiB are refused: every presenter sizes
// rows and images in 32-bit arithmetic.
constexpr uint64_t kMaxFrameBufferBytes = 0x7FFFFFFFu;

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

}  // namespace

int32_t DrawWindow::InitDraw(int32_t width, int32_t height) {
    bool usable =
        width > 0 && height > 0 && uint64_t(width) * uint64_t(height) * 4 <= kMaxFrameBufferBytes;
    if (usable) SetUpDirectDraw(width, height);
    if (!usable || !AllocFrameBuffer(width, height)) {
        // Nothing may draw into a buffer of the wrong size: not ready until a good size.
        FreeDraw();
        renderMode = ModeGdi;
        std::free(frameBuffer);
        frameBuffer = nullptr;
        frameWidth = 0;
        frameHeight = 0;
        initialised = 0;
        return 0;
    }
    DropPlayRectOutside(width, height);
    UpdateWindowRect();
    initialised = 1;
    return 0;
}

// A crop set for the previous frame size must not reach past the new frame:
// surface blits would refuse it and GDI would show old pixels.
void DrawWindow::DropPlayRectOutside(int32_t width, int32_t height) {
    AutoLock lock(surfaceLock);
    if (!InsideFrame(playRect, width, height)) playRectEnabled = 0;
}

void DrawWindow::SetUpDirectDraw(int32_t width, int32_t height) {
    if (CreateDirectDraw(width, height) == kSetupOk) return;
    FreeDraw();
    renderMode = ModeGdi;
}

void DrawWindow::FreeDraw() {
    ReleaseInto(&frameSurface);
    ReleaseInto(&primarySurface);
    ReleaseInto(&auxSurface);
    if (ddraw) {
        ddraw->SetCooperativeLevel(nullptr, DDSCL_NORMAL);
        ReleaseInto(&ddraw);
    }
    // Every object the module made is gone, so it may go too.
    if (ddrawModule) {
        FreeLibrary(ddrawModule);
        ddrawModule = nullptr;
    }
}

void DrawWindow::UpdateWindowRect() { GetWindowRect(hwnd, &windowRect); }

int32_t DrawWindow::CreateDirectDraw(int32_t width, int32_t height) {
    FreeDraw();
    if (DirectDrawHiddenInWindow(hwnd)) return kSetupNoDirectDraw;
    // Loaded at run time so a system without DirectDraw still gets the GDI mode.
    ddrawModule = LoadLibraryA("ddraw.dll");
    if (!ddrawModule) return kSetupNoDirectDraw;
    auto create = reinterpret_cast<DirectDrawCreateExFn>(
        reinterpret_cast<void *>(GetProcAddress(ddrawModule, "DirectDrawCreateEx")));
    if (!create) return kSetupNoDirectDraw;
    void *created = nullptr;
    if (FAILED(create(nullptr, &created, IID_IDirectDraw7, nullptr))) return kSetupNoDirectDraw;
    ddraw = static_cast<IDirectDraw7 *>(created);
    if (FAILED(ddraw->SetCooperativeLevel(hwnd, DDSCL_NORMAL))) return kSetupFailed;

    DDCAPS caps;
    ZeroRecord(&caps);
    if (FAILED(ddraw->GetCaps(&caps, nullptr))) return kSetupNoCaps;
    bool fourcc = (caps.dwCaps & DDCAPS_BLTFOURCC) != 0;
    if (!fourcc && !(caps.dwCaps & DDCAPS_BLT)) return kSetupNoBlit;
    if (!fourcc) renderMode = ModeRGB565Surface;

    DDSURFACEDESC2 desc;
    ZeroRecord(&desc);
    desc.dwFlags = DDSD_CAPS;
    desc.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE;
    if (FAILED(ddraw->CreateSurface(&desc, &primarySurface, nullptr))) return kSetupNoPrimary;

    if (fourcc) {
        // A FOURCC device that cannot make either surface does not fall to 5-6-5.
        renderMode = ModeYV12Surface;
        if (CreateFrameSurface(width, height, ModeYV12Surface) != 0) {
            renderMode = ModeUYVYSurface;
            if (CreateFrameSurface(width, height, ModeUYVYSurface) != 0)
                return kSetupNoFrameSurface;
        }
    } else if (CreateFrameSurface(width, height, ModeRGB565Surface) != 0) {
        return kSetupNoFrameSurface;
    }
    return AttachSurfaces(width, height);
}

int32_t DrawWindow::AttachSurfaces(int32_t width, int32_t height) {
    DDSURFACEDESC2 desc;
    ZeroRecord(&desc);
    desc.dwFlags = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH;
    desc.dwWidth = static_cast<DWORD>(width);
    desc.dwHeight = static_cast<DWORD>(height);
    desc.ddpfPixelFormat.dwSize = sizeof(DDPIXELFORMAT);
    desc.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_VIDEOMEMORY;
    if (ddraw->CreateSurface(&desc, &auxSurface, nullptr) != DD_OK) return kSetupFailed;

    IDirectDrawClipper *clipper = nullptr;
    if (FAILED(ddraw->CreateClipper(0, &clipper, nullptr))) return kSetupFailed;
    int32_t result = kSetupOk;
    if (FAILED(clipper->SetHWnd(0, hwnd)))
        result = kSetupNoPrimary;
    else if (FAILED(primarySurface->SetClipper(clipper)))
        result = kSetupNoFrameSurface;
    // The primary holds the clipper from here on.
    clipper->Release();
    if (result != kSetupOk) return result;

    DDBLTFX fx;
    ZeroRecord(&fx);
    fx.dwFillColor = 0;
    frameSurface->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL, &fx);
    auxSurface->Blt(nullptr, nullptr, nullptr, DDBLT_COLORFILL, &fx);

    // Only a driver that cannot blit to the screen at all sends us to GDI.
    if (primarySurface->Blt(&windowRect, frameSurface, nullptr, DDBLT_WAIT, nullptr) == E_NOTIMPL)
        return kSetupNotImplemented;
    return kSetupOk;
}

int32_t DrawWindow::CreateFrameSurface(int32_t width, int32_t height, int32_t mode) {
    DDSURFACEDESC2 desc;
    ZeroRecord(&desc);
    desc.dwFlags = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH | DDSD_PIXELFORMAT;
    desc.dwWidth = static_cast<DWORD>(width);
    desc.dwHeight = static_cast<DWORD>(height);
    FillPixelFormat(mode, &desc.ddpfPixelFormat);
    desc.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_VIDEOMEMORY;
    if (FAILED(ddraw->CreateSurface(&desc, &frameSurface, nullptr))) {
        frameSurface = nullptr;
        return kSetupNoFrameSurface;
    }
    return 0;
}

void DrawWindow::FillPixelFormat(int32_t mode, DDPIXELFORMAT *format) {
    std::memset(format, 0, sizeof(*format));
    format->dwSize = sizeof(*format);
    switch (mode) {
        case ModeYV12Surface:
            format->dwFlags = DDPF_FOURCC;
            format->dwFourCC = MAKEFOURCC('Y', 'V', '1', '2');
            break;
        case ModeUYVYSurface:
            format->dwFlags = DDPF_FOURCC;
            format->dwFourCC = MAKEFOURCC('U', 'Y', 'V', 'Y');
            break;
        case ModeRGB565Surface:
            format->dwFlags = DDPF_RGB;
            format->dwRGBBitCount = 16;
            format->dwRBitMask = 0xF800;
            format->dwGBitMask = 0x07E0;
            format->dwBBitMask = 0x001F;
            break;
        default:
            break;
    }
}

bool DrawWindow::AllocFrameBuffer(int32_t width, int32_t height) {
    frameWidth = width;
    frameHeight = height;
    std::free(frameBuffer);
    // Cleared: an odd last row or column is never converted, and must not
    // show whatever the heap held before.
    frameBuffer = static_cast<uint8_t *>(std::calloc(size_t(width) * size_t(height), 4));
    return frameBuffer != nullptr;
}

}  // namespace kestra
