// DirectDraw 7 on a software display adapter: the adapter's state, its
// fault injection and call log, DirectDrawCreateEx and the DirectDraw object.
// Surfaces live in surface.cpp, clippers in clipper.cpp.
#include "ddraw/ddraw_internal.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace kplat {

namespace {

constexpr size_t kLogLimit = 4096;

bool FourccAllowed(DWORD fourcc) {
    const std::vector<DWORD> &list = TheAdapter().fourccs;
    return std::find(list.begin(), list.end(), fourcc) != list.end();
}

}  // namespace

std::recursive_mutex &AdapterLock() {
    static std::recursive_mutex *lock = new std::recursive_mutex;
    return *lock;
}

Adapter &TheAdapter() {
    static Adapter *adapter = new Adapter;  // never destroyed: used from atexit paths
    return *adapter;
}

// A surface is lost with every other, as a display-mode change takes them:
// an injected DDERR_SURFACELOST is such a change, made at that call.
std::optional<HRESULT> Injected(const KplatDdrawCall &call) {
    std::optional<HRESULT> result = ShouldFail(call.method, call.format);
    if (result == DDERR_SURFACELOST) {
        Guard guard(AdapterLock());
        for (Surface *surface : TheAdapter().surfaces) surface->lost = true;
    }
    return result;
}

Call::Call(const char *name, const void *called, DWORD formatKey) {
    std::memset(static_cast<KplatDdrawCall *>(this), 0, sizeof(KplatDdrawCall));
    std::strncpy(method, name, sizeof(method) - 1);
    object = called;
    format = formatKey;
}

HRESULT FinishCall(KplatDdrawCall &call, HRESULT result) {
    Guard guard(AdapterLock());
    call.result = result;
    std::deque<KplatDdrawCall> &log = TheAdapter().log;
    if (log.size() == kLogLimit) log.pop_front();
    log.push_back(call);
    return result;
}

void FillPixelFormat(SurfaceFormat format, DDPIXELFORMAT *pf) {
    const FormatInfo &f = kFormats[static_cast<int>(format)];
    std::memset(pf, 0, sizeof(*pf));
    pf->dwSize = sizeof(*pf);
    pf->dwFlags = f.fourcc ? DDPF_FOURCC : DDPF_RGB;
    pf->dwFourCC = f.fourcc;
    pf->dwRGBBitCount = f.bits;
    pf->dwRBitMask = f.red;
    pf->dwGBitMask = f.green;
    pf->dwBBitMask = f.blue;
}

bool ModuleAvailable(const char *name) {
    Guard guard(AdapterLock());
    return TheAdapter().available || strcasecmp(name, "ddraw.dll") != 0;
}

DirectDraw::DirectDraw() { CountObject(KPLAT_OBJ_DDRAW, 1); }

DirectDraw::~DirectDraw() { CountObject(KPLAT_OBJ_DDRAW, -1); }

HRESULT DirectDraw::QueryInterface(REFIID riid, void **object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (riid != IID_IDirectDraw7) return E_NOINTERFACE;
    AddRef();
    *object = static_cast<IDirectDraw7 *>(this);
    return S_OK;
}

HRESULT DirectDraw::SetCooperativeLevel(HWND window, DWORD flags) {
    Call call("IDirectDraw7::SetCooperativeLevel", this, 0);
    call.flags = flags;
    call.window = window;
    // Only windowed use is implemented; exclusive full-screen modes are refused.
    if (!(flags & DDSCL_NORMAL) || (flags & (DDSCL_FULLSCREEN | DDSCL_EXCLUSIVE)) ||
        (window && !IsWindow(window)))
        return FinishCall(call, DDERR_INVALIDPARAMS);
    if (std::optional<HRESULT> hr = Injected(call)) return FinishCall(call, *hr);
    cooperativeSet = true;
    return FinishCall(call, DD_OK);
}

HRESULT DirectDraw::GetCaps(LPDDCAPS driverCaps, LPDDCAPS helCaps) {
    Call call("IDirectDraw7::GetCaps", this, 0);
    call.recordSize = driverCaps ? driverCaps->dwSize : helCaps ? helCaps->dwSize : 0;
    if ((!driverCaps && !helCaps) || (driverCaps && driverCaps->dwSize != sizeof(DDCAPS)) ||
        (helCaps && helCaps->dwSize != sizeof(DDCAPS)))
        return FinishCall(call, DDERR_INVALIDPARAMS);
    if (std::optional<HRESULT> hr = Injected(call)) return FinishCall(call, *hr);
    DWORD caps = TheAdapter().caps;
    if (driverCaps) {
        std::memset(driverCaps, 0, sizeof(DDCAPS));
        driverCaps->dwSize = sizeof(DDCAPS);
        driverCaps->dwCaps = caps;
        driverCaps->dwNumFourCCCodes = static_cast<DWORD>(TheAdapter().fourccs.size());
        if (caps & DDCAPS_BLT)
            driverCaps->dwFXCaps = DDFXCAPS_BLTMIRRORLEFTRIGHT | DDFXCAPS_BLTSHRINKX |
                                   DDFXCAPS_BLTSHRINKY | DDFXCAPS_BLTSTRETCHX |
                                   DDFXCAPS_BLTSTRETCHY;
        driverCaps->ddsCaps.dwCaps =
            DDSCAPS_OFFSCREENPLAIN | DDSCAPS_PRIMARYSURFACE | DDSCAPS_VIDEOMEMORY;
    }
    if (helCaps) {
        std::memset(helCaps, 0, sizeof(DDCAPS));
        helCaps->dwSize = sizeof(DDCAPS);
        helCaps->dwCaps = DDCAPS_BLT | DDCAPS_BLTSTRETCH | DDCAPS_BLTCOLORFILL;
    }
    return FinishCall(call, DD_OK);
}

HRESULT DirectDraw::GetFourCCCodes(LPDWORD count, LPDWORD codes) {
    Guard guard(AdapterLock());
    if (!count) return DDERR_INVALIDPARAMS;
    const std::vector<DWORD> &list = TheAdapter().fourccs;
    if (codes) std::copy_n(list.begin(), std::min<size_t>(*count, list.size()), codes);
    *count = static_cast<DWORD>(list.size());
    return DD_OK;
}

HRESULT DirectDraw::CreateClipper(DWORD flags, LPDIRECTDRAWCLIPPER *clipperOut, IUnknown *outer) {
    Call call("IDirectDraw7::CreateClipper", this, 0);
    call.flags = flags;
    if (!clipperOut || flags != 0) return FinishCall(call, DDERR_INVALIDPARAMS);
    *clipperOut = nullptr;
    if (outer) return FinishCall(call, CLASS_E_NOAGGREGATION);
    if (std::optional<HRESULT> hr = Injected(call)) return FinishCall(call, *hr);
    Clipper *clipper = new (std::nothrow) Clipper(this);
    if (!clipper) return FinishCall(call, DDERR_OUTOFMEMORY);
    *clipperOut = clipper;
    call.other = clipper;
    return FinishCall(call, DD_OK);
}

HRESULT DirectDraw::ParseSurfaceDesc(const DDSURFACEDESC2 &desc, SurfaceFormat *format,
                                     bool *primary, int *width, int *height) const {
    if (!(desc.dwFlags & DDSD_CAPS)) return DDERR_INVALIDPARAMS;
    *primary = (desc.ddsCaps.dwCaps & DDSCAPS_PRIMARYSURFACE) != 0;
    *format = SurfaceFormat::Xrgb;
    if (*primary) {
        if (desc.dwFlags & (DDSD_WIDTH | DDSD_HEIGHT | DDSD_PIXELFORMAT))
            return DDERR_INVALIDPARAMS;
        std::lock_guard<std::recursive_mutex> windows(WindowLock());
        *width = TheDesktop().width;
        *height = TheDesktop().height;
        return DD_OK;
    }
    if ((desc.dwFlags & (DDSD_WIDTH | DDSD_HEIGHT)) != (DDSD_WIDTH | DDSD_HEIGHT))
        return DDERR_INVALIDPARAMS;
    if (desc.dwWidth == 0 || desc.dwHeight == 0 || desc.dwWidth > 16384 || desc.dwHeight > 16384)
        return DDERR_INVALIDPARAMS;
    *width = static_cast<int>(desc.dwWidth);
    *height = static_cast<int>(desc.dwHeight);
    if (!(desc.dwFlags & DDSD_PIXELFORMAT)) return DD_OK;  // the primary's format
    const DDPIXELFORMAT &pf = desc.ddpfPixelFormat;
    if (pf.dwSize != sizeof(DDPIXELFORMAT)) return DDERR_INVALIDPARAMS;
    const bool fourcc = (pf.dwFlags & DDPF_FOURCC) != 0;
    if (fourcc ? !FourccAllowed(pf.dwFourCC) : !(pf.dwFlags & DDPF_RGB))
        return DDERR_INVALIDPIXELFORMAT;
    for (const FormatInfo &f : kFormats) {
        bool match = fourcc
                         ? f.fourcc != 0 && f.fourcc == pf.dwFourCC
                         : f.fourcc == 0 && f.bits == pf.dwRGBBitCount && f.red == pf.dwRBitMask &&
                               f.green == pf.dwGBitMask && f.blue == pf.dwBBitMask;
        if (!match) continue;
        *format = f.format;
        return DD_OK;
    }
    return DDERR_INVALIDPIXELFORMAT;
}

HRESULT DirectDraw::CreateSurface(LPDDSURFACEDESC2 desc, LPDIRECTDRAWSURFACE7 *surfaceOut,
                                  IUnknown *outer) {
    Call call("IDirectDraw7::CreateSurface", this, 0);
    if (!desc || !surfaceOut) return FinishCall(call, DDERR_INVALIDPARAMS);
    *surfaceOut = nullptr;
    call.recordSize = desc->dwSize;
    std::memcpy(&call.desc, desc, std::min<size_t>(desc->dwSize, sizeof(call.desc)));
    call.flags = desc->dwFlags;
    if (desc->dwSize != sizeof(DDSURFACEDESC2)) return FinishCall(call, DDERR_INVALIDPARAMS);
    if (outer) return FinishCall(call, CLASS_E_NOAGGREGATION);
    if (!cooperativeSet) return FinishCall(call, DDERR_NOCOOPERATIVELEVELSET);
    SurfaceFormat format;
    bool primary;
    int width = 0, height = 0;
    HRESULT hr = ParseSurfaceDesc(*desc, &format, &primary, &width, &height);
    if (FAILED(hr)) return FinishCall(call, hr);
    Surface *surface = new (std::nothrow) Surface(this, format, primary, width, height);
    if (!surface) return FinishCall(call, DDERR_OUTOFMEMORY);
    call.format = surface->FormatKey();
    std::optional<HRESULT> injected = Injected(call);
    if (injected || !surface->Allocate()) {
        // Release drops the only reference, which deletes it.
        surface->Release();
        // NOLINTNEXTLINE(clang-analyzer-cplusplus.NewDeleteLeaks)
        return FinishCall(call, injected && FAILED(*injected) ? *injected : DDERR_OUTOFMEMORY);
    }
    *surfaceOut = surface;
    call.other = surface;
    return FinishCall(call, DD_OK);
}

}  // namespace kplat

using namespace kplat;

extern "C" {

HRESULT WINAPI DirectDrawCreateEx(GUID *guid, LPVOID *out, REFIID iid, IUnknown *outer) {
    Call call("DirectDrawCreateEx", nullptr, 0);
    if (!out) return FinishCall(call, DDERR_INVALIDPARAMS);
    *out = nullptr;
    if (guid || iid != IID_IDirectDraw7) return FinishCall(call, DDERR_INVALIDPARAMS);
    if (outer) return FinishCall(call, CLASS_E_NOAGGREGATION);
    if (std::optional<HRESULT> hr = Injected(call)) return FinishCall(call, *hr);
    DirectDraw *ddraw = new (std::nothrow) DirectDraw;
    if (!ddraw) return FinishCall(call, DDERR_OUTOFMEMORY);
    *out = static_cast<IDirectDraw7 *>(ddraw);
    call.other = *out;
    return FinishCall(call, DD_OK);
}

}  // extern "C"
