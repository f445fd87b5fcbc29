// Surfaces of the software display adapter: memory layout, Lock/Unlock,
// device contexts, lost surfaces, clippers and the Blt entry point.
#include "ddraw/ddraw_internal.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace kplat {

namespace {

constexpr LONG kPitchAlign = 64;
constexpr size_t kMaxSurfaceBytes = size_t(1) << 28;
// Magenta-ish in every format the adapter makes.
constexpr uint8_t kRestoredByte = 0xC5;

LONG AlignPitch(int64_t bytes) {
    return static_cast<LONG>((bytes + kPitchAlign - 1) / kPitchAlign * kPitchAlign);
}

void LogRect(const RECT *rect, BOOL *logged, RECT *copy) {
    *logged = rect != nullptr;
    if (rect) *copy = *rect;
}

}  // namespace

Surface::Surface(DirectDraw *parent, SurfaceFormat fmt, bool isPrimary, int w, int h)
    : format(fmt), primary(isPrimary), width(w), height(h), owner(parent) {
    owner->AddRef();
    CountObject(KPLAT_OBJ_SURFACE, 1);
    Guard guard(AdapterLock());
    TheAdapter().surfaces.push_back(this);
}

Surface::~Surface() {
    std::vector<Surface *> &live = TheAdapter().surfaces;  // the last Release holds the lock
    live.erase(std::remove(live.begin(), live.end(), this), live.end());
    if (dc) DeleteDC(dc);
    if (clipper) clipper->Release();
    CountObject(KPLAT_OBJ_SURFACE, -1);
    owner->Release();
}

bool Surface::Allocate() {
    if (primary) return true;  // the primary is the desktop and its windows
    size_t chroma = 0;
    if (format == SurfaceFormat::Yv12) {
        // Y, then V, then U at half pitch; one spare chroma row so an odd
        // height's last chroma row stays inside.
        pitch = AlignPitch(width);
        chroma = size_t(pitch / 2) * (size_t(height / 2) * 2 + 1);
    } else if (format == SurfaceFormat::Uyvy) {
        pitch = AlignPitch((int64_t(width) + 1) / 2 * 4);
    } else {
        pitch = AlignPitch(int64_t(width) * Info().bits / 8);
    }
    size_t bytes = size_t(pitch) * height + chroma;
    if (bytes > kMaxSurfaceBytes) return false;
    try {
        memory.assign(bytes, 0);
    } catch (const std::bad_alloc &) {
        return false;
    }
    return true;
}

void Surface::Describe(DDSURFACEDESC2 *desc) const {
    DWORD size = desc->dwSize;
    std::memset(desc, 0, sizeof(*desc));
    desc->dwSize = size;
    desc->dwFlags = DDSD_CAPS | DDSD_HEIGHT | DDSD_WIDTH | DDSD_PITCH | DDSD_PIXELFORMAT;
    desc->dwWidth = static_cast<DWORD>(width);
    desc->dwHeight = static_cast<DWORD>(height);
    desc->lPitch = primary ? width * 4 : pitch;
    FillPixelFormat(format, &desc->ddpfPixelFormat);
    desc->ddsCaps.dwCaps = primary
                               ? DDSCAPS_PRIMARYSURFACE | DDSCAPS_VIDEOMEMORY
                               : DDSCAPS_OFFSCREENPLAIN | DDSCAPS_VIDEOMEMORY | DDSCAPS_LOCALVIDMEM;
}

HRESULT Surface::GetCaps(LPDDSCAPS2 caps) {
    if (!caps) return DDERR_INVALIDPARAMS;
    DDSURFACEDESC2 desc;
    desc.dwSize = sizeof(desc);
    Describe(&desc);
    *caps = desc.ddsCaps;
    return DD_OK;
}

HRESULT Surface::GetClipper(LPDIRECTDRAWCLIPPER *clipperOut) {
    Guard guard(AdapterLock());
    if (!clipperOut) return DDERR_INVALIDPARAMS;
    *clipperOut = clipper;
    if (!clipper) return DDERR_NOCLIPPERATTACHED;
    clipper->AddRef();
    return DD_OK;
}

HRESULT Surface::GetPixelFormat(LPDDPIXELFORMAT pf) {
    if (!pf) return DDERR_INVALIDPARAMS;
    FillPixelFormat(format, pf);
    return DD_OK;
}

HRESULT Surface::GetSurfaceDesc(LPDDSURFACEDESC2 desc) {
    if (!desc || desc->dwSize != sizeof(*desc)) return DDERR_INVALIDPARAMS;
    Describe(desc);
    return DD_OK;
}

HRESULT Surface::Lock(LPRECT rect, LPDDSURFACEDESC2 desc, DWORD flags, HANDLE) {
    Call call("IDirectDrawSurface7::Lock", this, FormatKey());
    call.flags = flags;
    LogRect(rect, &call.hasDestRect, &call.destRect);
    if (!desc || desc->dwSize != sizeof(*desc)) return FinishCall(call, DDERR_INVALIDPARAMS);
    call.recordSize = desc->dwSize;
    if (std::optional<HRESULT> hr = Injected(call)) return FinishCall(call, *hr);
    if (lost) return FinishCall(call, DDERR_SURFACELOST);
    // The desktop is not handed out for direct writes.
    if (primary) return FinishCall(call, DDERR_CANTLOCKSURFACE);
    if (locked) return FinishCall(call, DDERR_SURFACEBUSY);
    size_t offset = 0;
    RECT area{0, 0, width, height};
    if (rect) {
        if (IsFourcc() || rect->left < 0 || rect->top < 0 || rect->right > width ||
            rect->bottom > height || rect->left >= rect->right || rect->top >= rect->bottom)
            return FinishCall(call, DDERR_INVALIDPARAMS);
        area = *rect;
        offset = size_t(area.top) * pitch + size_t(area.left) * (Info().bits / 8);
    }
    Describe(desc);
    desc->dwFlags |= DDSD_LPSURFACE;
    desc->dwWidth = static_cast<DWORD>(area.right - area.left);
    desc->dwHeight = static_cast<DWORD>(area.bottom - area.top);
    desc->lpSurface = memory.data() + offset;
    locked = true;
    call.desc = *desc;
    return FinishCall(call, DD_OK);
}

HRESULT Surface::Unlock(LPRECT) {
    Call call("IDirectDrawSurface7::Unlock", this, FormatKey());
    if (std::optional<HRESULT> hr = Injected(call)) return FinishCall(call, *hr);
    if (!locked) return FinishCall(call, DDERR_NOTLOCKED);
    locked = false;
    return FinishCall(call, DD_OK);
}

HRESULT Surface::GetDC(HDC *dcOut) {
    Call call("IDirectDrawSurface7::GetDC", this, FormatKey());
    if (!dcOut) return FinishCall(call, DDERR_INVALIDPARAMS);
    *dcOut = nullptr;
    if (std::optional<HRESULT> hr = Injected(call)) return FinishCall(call, *hr);
    if (lost) return FinishCall(call, DDERR_SURFACELOST);
    if (IsFourcc() || primary) return FinishCall(call, DDERR_CANTCREATEDC);
    if (dc) return FinishCall(call, DDERR_DCALREADYCREATED);
    PixelTarget target;
    if (format == SurfaceFormat::Xrgb) {
        target = PixelTarget{reinterpret_cast<uint32_t *>(memory.data()), width, height,
                             static_cast<int>(pitch / 4)};
    } else {
        // 5-6-5 pixels are drawn on an XRGB copy and packed back on ReleaseDC.
        dcPixels.resize(size_t(width) * height);
        ToXrgb(dcPixels.data());
        target = PixelTarget{dcPixels.data(), width, height, width};
    }
    dc = CreateRawDC(target);
    if (!dc) return FinishCall(call, DDERR_CANTCREATEDC);
    *dcOut = dc;
    call.other = dc;
    return FinishCall(call, DD_OK);
}

HRESULT Surface::ReleaseDC(HDC handle) {
    Call call("IDirectDrawSurface7::ReleaseDC", this, FormatKey());
    call.other = handle;
    if (!handle || handle != dc) return FinishCall(call, DDERR_NODC);
    if (std::optional<HRESULT> hr = Injected(call)) return FinishCall(call, *hr);
    if (format == SurfaceFormat::Rgb565) {
        FromXrgb(dcPixels.data());
        dcPixels.clear();
    }
    DeleteDC(dc);
    dc = nullptr;
    return FinishCall(call, DD_OK);
}

HRESULT Surface::Restore() {
    Call call("IDirectDrawSurface7::Restore", this, FormatKey());
    if (std::optional<HRESULT> hr = Injected(call)) return FinishCall(call, *hr);
    // What a restored surface holds is undefined: a pattern no frame has.
    if (lost) std::fill(memory.begin(), memory.end(), kRestoredByte);
    lost = false;
    return FinishCall(call, DD_OK);
}

HRESULT Surface::SetClipper(LPDIRECTDRAWCLIPPER newClipper) {
    Call call("IDirectDrawSurface7::SetClipper", this, FormatKey());
    call.other = newClipper;
    if (std::optional<HRESULT> hr = Injected(call)) return FinishCall(call, *hr);
    Clipper *next = static_cast<Clipper *>(newClipper);
    if (next) next->AddRef();
    if (clipper) clipper->Release();
    clipper = next;
    return FinishCall(call, DD_OK);
}

HRESULT Surface::CheckBlt(LPRECT destRect, Surface *source, DWORD flags, LPDDBLTFX fx) const {
    bool needsFx = (flags & (DDBLT_COLORFILL | DDBLT_DDFX)) != 0;
    if (needsFx && (!fx || fx->dwSize != sizeof(DDBLTFX))) return DDERR_INVALIDPARAMS;
    if (!(flags & DDBLT_COLORFILL) && !source) return DDERR_INVALIDPARAMS;
    if (destRect && (destRect->left >= destRect->right || destRect->top >= destRect->bottom))
        return DDERR_INVALIDRECT;
    if ((flags & DDBLT_DDFX) && fx && (fx->dwDDFX & ~DWORD(DDBLTFX_MIRRORLEFTRIGHT)))
        return DDERR_NOBLTHW;
    if (lost || (source && !(flags & DDBLT_COLORFILL) && source->lost)) return DDERR_SURFACELOST;
    if (locked || (source && source->locked)) return DDERR_SURFACEBUSY;
    DWORD caps = TheAdapter().caps;
    if (!(flags & DDBLT_COLORFILL)) {
        if (!(caps & (DDCAPS_BLT | DDCAPS_BLTFOURCC))) return DDERR_NOBLTHW;
        if (source->IsFourcc() && !(caps & DDCAPS_BLTFOURCC)) return DDERR_NOBLTHW;
    }
    return DD_OK;
}

HRESULT Surface::Blt(LPRECT destRect, LPDIRECTDRAWSURFACE7 sourceIface, LPRECT srcRect, DWORD flags,
                     LPDDBLTFX fx) {
    Call call("IDirectDrawSurface7::Blt", this, FormatKey());
    Surface *source = static_cast<Surface *>(sourceIface);
    call.flags = flags;
    call.other = sourceIface;
    LogRect(destRect, &call.hasDestRect, &call.destRect);
    LogRect(srcRect, &call.hasSrcRect, &call.srcRect);
    if (fx) {
        call.hasFx = TRUE;
        call.recordSize = fx->dwSize;
        std::memcpy(&call.fx, fx, std::min<size_t>(fx->dwSize, sizeof(call.fx)));
    }
    if (std::optional<HRESULT> hr = Injected(call)) return FinishCall(call, *hr);
    HRESULT hr = CheckBlt(destRect, source, flags, fx);
    if (FAILED(hr)) return FinishCall(call, hr);
    // CheckBlt has refused a fill or an effect without its record.
    if (flags & DDBLT_COLORFILL)
        return FinishCall(call, ColorFill(destRect, fx ? fx->dwFillColor : 0));
    bool mirror = (flags & DDBLT_DDFX) && fx && (fx->dwDDFX & DDBLTFX_MIRRORLEFTRIGHT);
    return FinishCall(call, StretchFrom(source, destRect, srcRect, mirror));
}

}  // namespace kplat
