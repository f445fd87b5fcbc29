// The software display adapter behind DirectDraw 7: its objects and the
// adapter-wide state (caps, FOURCCs, call log), all guarded by
// AdapterLock(). Blits to the primary also take user32's window lock.
#pragma once

#include "internal.h"

#include <ddraw.h>

#include <deque>
#include <optional>

namespace kplat {

enum class SurfaceFormat { Xrgb, Rgb565, Yv12, Uyvy };

constexpr DWORD kFourccYv12 = MAKEFOURCC('Y', 'V', '1', '2');
constexpr DWORD kFourccUyvy = MAKEFOURCC('U', 'Y', 'V', 'Y');

// How each format describes itself: a FOURCC, or an RGB layout.
struct FormatInfo {
    SurfaceFormat format;
    DWORD fourcc;  // 0 for RGB
    DWORD bits, red, green, blue;
};
// Indexed by SurfaceFormat.
inline constexpr FormatInfo kFormats[] = {
    {SurfaceFormat::Xrgb, 0, 32, 0xFF0000, 0x00FF00, 0x0000FF},
    {SurfaceFormat::Rgb565, 0, 16, 0xF800, 0x07E0, 0x001F},
    {SurfaceFormat::Yv12, kFourccYv12, 0, 0, 0, 0},
    {SurfaceFormat::Uyvy, kFourccUyvy, 0, 0, 0, 0},
};

class Surface;

// What tests set and what they read back.
struct Adapter {
    DWORD caps = DDCAPS_BLT | DDCAPS_BLTFOURCC;
    std::vector<DWORD> fourccs{kFourccYv12, kFourccUyvy};
    bool available = true;
    std::deque<KplatDdrawCall> log;
    std::vector<Surface *> surfaces;  // live, for kplat_ddraw_mark_lost
};

// Guards the adapter and every DirectDraw object.
std::recursive_mutex &AdapterLock();
Adapter &TheAdapter();  // needs AdapterLock()
using Guard = std::lock_guard<std::recursive_mutex>;

// The failure a test injected for this call (its method on a surface of its
// format key), if any; DDERR_SURFACELOST also loses every surface.
std::optional<HRESULT> Injected(const KplatDdrawCall &call);
// One call into the adapter, as FinishCall logs it; holds the adapter lock
// for the whole call.
struct Call : KplatDdrawCall {
    Call(const char *name, const void *called, DWORD formatKey);
    Guard guard{AdapterLock()};
};
HRESULT FinishCall(KplatDdrawCall &call, HRESULT result);
void FillPixelFormat(SurfaceFormat format, DDPIXELFORMAT *pf);

// IUnknown of the adapter's objects: counted under the adapter lock, deleted
// by the last Release. Only the DirectDraw object answers QueryInterface.
template <class Interface>
class ComObject : public Interface {
public:
    ComObject() = default;
    ComObject(const ComObject &) = delete;
    ComObject &operator=(const ComObject &) = delete;
    virtual ~ComObject() = default;

    STDMETHOD_(HRESULT, QueryInterface)(REFIID, void **object) override {
        if (object) *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHOD_(ULONG, AddRef)() override {
        Guard guard(AdapterLock());
        return ++refs;
    }
    STDMETHOD_(ULONG, Release)() override {
        Guard guard(AdapterLock());
        ULONG left = --refs;
        if (left == 0) delete this;
        return left;
    }

private:
    ULONG refs = 1;
};

class DirectDraw;

class Clipper final : public ComObject<IDirectDrawClipper> {
public:
    explicit Clipper(DirectDraw *owner);
    ~Clipper();

    STDMETHOD(GetClipList)(LPRECT, LPRGNDATA, LPDWORD) override { return DDERR_UNSUPPORTED; }
    STDMETHOD(GetHWnd)(HWND *window) override;
    STDMETHOD(Initialize)(LPDIRECTDRAW, DWORD) override { return DDERR_UNSUPPORTED; }
    STDMETHOD(IsClipListChanged)(BOOL *) override { return DDERR_UNSUPPORTED; }
    STDMETHOD(SetClipList)(LPRGNDATA, DWORD) override { return DDERR_UNSUPPORTED; }
    STDMETHOD(SetHWnd)(DWORD flags, HWND window) override;

    HWND window = nullptr;

private:
    DirectDraw *owner;
};

class Surface final : public ComObject<IDirectDrawSurface7> {
public:
    Surface(DirectDraw *owner, SurfaceFormat format, bool primary, int width, int height);
    ~Surface();
    // False when the memory could not be had.
    bool Allocate();
    const FormatInfo &Info() const { return kFormats[static_cast<int>(format)]; }
    bool IsFourcc() const { return Info().fourcc != 0; }
    // The format key the harness controls take (the primary is XRGB).
    DWORD FormatKey() const {
        return primary ? KPLAT_DDRAW_PRIMARY : IsFourcc() ? Info().fourcc : Info().bits;
    }

    STDMETHOD(AddAttachedSurface)(LPDIRECTDRAWSURFACE7) override { return DDERR_UNSUPPORTED; }
    STDMETHOD(AddOverlayDirtyRect)(LPRECT) override { return DDERR_UNSUPPORTED; }
    STDMETHOD(Blt)
    (LPRECT destRect, LPDIRECTDRAWSURFACE7 source, LPRECT srcRect, DWORD flags,
     LPDDBLTFX fx) override;
    STDMETHOD(BltBatch)(LPDDBLTBATCH, DWORD, DWORD) override { return DDERR_UNSUPPORTED; }
    STDMETHOD(BltFast)(DWORD, DWORD, LPDIRECTDRAWSURFACE7, LPRECT, DWORD) override {
        return DDERR_UNSUPPORTED;
    }
    STDMETHOD(DeleteAttachedSurface)(DWORD, LPDIRECTDRAWSURFACE7) override {
        return DDERR_UNSUPPORTED;
    }
    STDMETHOD(EnumAttachedSurfaces)(LPVOID, LPDDENUMSURFACESCALLBACK7) override {
        return DDERR_UNSUPPORTED;
    }
    STDMETHOD(EnumOverlayZOrders)(DWORD, LPVOID, LPDDENUMSURFACESCALLBACK7) override {
        return DDERR_UNSUPPORTED;
    }
    STDMETHOD(Flip)(LPDIRECTDRAWSURFACE7, DWORD) override { return DDERR_UNSUPPORTED; }
    STDMETHOD(GetAttachedSurface)(LPDDSCAPS2, LPDIRECTDRAWSURFACE7 *) override {
        return DDERR_NOTFOUND;
    }
    STDMETHOD(GetBltStatus)(DWORD) override { return DD_OK; }
    STDMETHOD(GetCaps)(LPDDSCAPS2 caps) override;
    STDMETHOD(GetClipper)(LPDIRECTDRAWCLIPPER *clipperOut) override;
    STDMETHOD(GetColorKey)(DWORD, LPDDCOLORKEY) override { return DDERR_UNSUPPORTED; }
    STDMETHOD(GetDC)(HDC *dcOut) override;
    STDMETHOD(GetFlipStatus)(DWORD) override { return DD_OK; }
    STDMETHOD(GetOverlayPosition)(LPLONG, LPLONG) override { return DDERR_UNSUPPORTED; }
    STDMETHOD(GetPalette)(LPDIRECTDRAWPALETTE *) override { return DDERR_UNSUPPORTED; }
    STDMETHOD(GetPixelFormat)(LPDDPIXELFORMAT pf) override;
    STDMETHOD(GetSurfaceDesc)(LPDDSURFACEDESC2 desc) override;
    STDMETHOD(Initialize)(LPDIRECTDRAW, LPDDSURFACEDESC2) override { return DDERR_UNSUPPORTED; }
    STDMETHOD(IsLost)() override { return lost ? DDERR_SURFACELOST : DD_OK; }
    STDMETHOD(Lock)(LPRECT rect, LPDDSURFACEDESC2 desc, DWORD flags, HANDLE event) override;
    STDMETHOD(ReleaseDC)(HDC dc) override;
    STDMETHOD(Restore)() override;
    STDMETHOD(SetClipper)(LPDIRECTDRAWCLIPPER clipper) override;
    STDMETHOD(SetColorKey)(DWORD, LPDDCOLORKEY) override { return DDERR_UNSUPPORTED; }
    STDMETHOD(SetOverlayPosition)(LONG, LONG) override { return DDERR_UNSUPPORTED; }
    STDMETHOD(SetPalette)(LPDIRECTDRAWPALETTE) override { return DDERR_UNSUPPORTED; }
    STDMETHOD(Unlock)(LPRECT rect) override;
    STDMETHOD(UpdateOverlay)(LPRECT, LPDIRECTDRAWSURFACE7, LPRECT, DWORD, LPDDOVERLAYFX) override {
        return DDERR_UNSUPPORTED;
    }
    STDMETHOD(UpdateOverlayDisplay)(DWORD) override { return DDERR_UNSUPPORTED; }
    STDMETHOD(UpdateOverlayZOrder)(DWORD, LPDIRECTDRAWSURFACE7) override {
        return DDERR_UNSUPPORTED;
    }
    STDMETHOD(GetDDInterface)(LPVOID *) override { return DDERR_UNSUPPORTED; }
    STDMETHOD(PageLock)(DWORD) override { return DD_OK; }
    STDMETHOD(PageUnlock)(DWORD) override { return DD_OK; }
    STDMETHOD(SetSurfaceDesc)(LPDDSURFACEDESC2, DWORD) override { return DDERR_UNSUPPORTED; }
    STDMETHOD(SetPrivateData)(REFGUID, LPVOID, DWORD, DWORD) override { return DDERR_UNSUPPORTED; }
    STDMETHOD(GetPrivateData)(REFGUID, LPVOID, LPDWORD) override { return DDERR_NOTFOUND; }
    STDMETHOD(FreePrivateData)(REFGUID) override { return DDERR_NOTFOUND; }
    STDMETHOD(GetUniquenessValue)(LPDWORD) override { return DDERR_UNSUPPORTED; }
    STDMETHOD(ChangeUniquenessValue)() override { return DDERR_UNSUPPORTED; }
    STDMETHOD(SetPriority)(DWORD) override { return DDERR_UNSUPPORTED; }
    STDMETHOD(GetPriority)(LPDWORD) override { return DDERR_UNSUPPORTED; }
    STDMETHOD(SetLOD)(DWORD) override { return DDERR_UNSUPPORTED; }
    STDMETHOD(GetLOD)(LPDWORD) override { return DDERR_UNSUPPORTED; }

    // Pixel work (blit.cpp).
    HRESULT ColorFill(const RECT *rect, DWORD value);
    HRESULT StretchFrom(Surface *source, const RECT *destRect, const RECT *srcRect, bool mirror);
    // The whole surface as XRGB rows of `width` pixels.
    void ToXrgb(uint32_t *dst) const;
    // Writes XRGB rows of `width` pixels back into a RGB surface.
    void FromXrgb(const uint32_t *src);

    SurfaceFormat format;
    bool primary;
    int width;
    int height;
    LONG pitch = 0;
    std::vector<uint8_t> memory;
    bool lost = false;
    bool locked = false;
    HDC dc = nullptr;
    std::vector<uint32_t> dcPixels;  // XRGB copy a 5-6-5 surface's DC draws into
    Clipper *clipper = nullptr;
    std::vector<uint32_t> scratch;  // a blit's source as XRGB

private:
    void Describe(DDSURFACEDESC2 *desc) const;
    HRESULT CheckBlt(LPRECT destRect, Surface *source, DWORD flags, LPDDBLTFX fx) const;
    DirectDraw *owner;
};

class DirectDraw final : public ComObject<IDirectDraw7> {
public:
    DirectDraw();
    ~DirectDraw();

    STDMETHOD_(HRESULT, QueryInterface)(REFIID riid, void **object) override;
    STDMETHOD(Compact)() override { return DD_OK; }
    STDMETHOD(CreateClipper)
    (DWORD flags, LPDIRECTDRAWCLIPPER *clipperOut, IUnknown *outer) override;
    STDMETHOD(CreatePalette)(DWORD, LPPALETTEENTRY, LPDIRECTDRAWPALETTE *, IUnknown *) override {
        return DDERR_UNSUPPORTED;
    }
    STDMETHOD(CreateSurface)
    (LPDDSURFACEDESC2 desc, LPDIRECTDRAWSURFACE7 *surfaceOut, IUnknown *outer) override;
    STDMETHOD(DuplicateSurface)(LPDIRECTDRAWSURFACE7, LPDIRECTDRAWSURFACE7 *) override {
        return DDERR_UNSUPPORTED;
    }
    STDMETHOD(EnumDisplayModes)(DWORD, LPDDSURFACEDESC2, LPVOID, LPDDENUMMODESCALLBACK2) override {
        return DDERR_UNSUPPORTED;
    }
    STDMETHOD(EnumSurfaces)(DWORD, LPDDSURFACEDESC2, LPVOID, LPDDENUMSURFACESCALLBACK7) override {
        return DDERR_UNSUPPORTED;
    }
    STDMETHOD(FlipToGDISurface)() override { return DD_OK; }
    STDMETHOD(GetCaps)(LPDDCAPS driverCaps, LPDDCAPS helCaps) override;
    STDMETHOD(GetDisplayMode)(LPDDSURFACEDESC2) override { return DDERR_UNSUPPORTED; }
    STDMETHOD(GetFourCCCodes)(LPDWORD count, LPDWORD codes) override;
    STDMETHOD(GetGDISurface)(LPDIRECTDRAWSURFACE7 *) override { return DDERR_NOTFOUND; }
    STDMETHOD(GetMonitorFrequency)(LPDWORD) override { return DDERR_UNSUPPORTED; }
    STDMETHOD(GetScanLine)(LPDWORD) override { return DDERR_UNSUPPORTED; }
    STDMETHOD(GetVerticalBlankStatus)(BOOL *) override { return DDERR_UNSUPPORTED; }
    STDMETHOD(Initialize)(GUID *) override { return DDERR_UNSUPPORTED; }
    STDMETHOD(RestoreDisplayMode)() override { return DD_OK; }
    STDMETHOD(SetCooperativeLevel)(HWND window, DWORD flags) override;
    STDMETHOD(SetDisplayMode)(DWORD, DWORD, DWORD, DWORD, DWORD) override {
        return DDERR_UNSUPPORTED;
    }
    STDMETHOD(WaitForVerticalBlank)(DWORD, HANDLE) override { return DD_OK; }
    STDMETHOD(GetAvailableVidMem)(LPDDSCAPS2, LPDWORD, LPDWORD) override {
        return DDERR_UNSUPPORTED;
    }
    STDMETHOD(GetSurfaceFromDC)(HDC, LPDIRECTDRAWSURFACE7 *) override { return DDERR_NOTFOUND; }
    STDMETHOD(RestoreAllSurfaces)() override { return DDERR_UNSUPPORTED; }
    STDMETHOD(TestCooperativeLevel)() override { return DD_OK; }
    STDMETHOD(GetDeviceIdentifier)(LPDDDEVICEIDENTIFIER2, DWORD) override {
        return DDERR_UNSUPPORTED;
    }
    STDMETHOD(StartModeTest)(LPSIZE, DWORD, DWORD) override { return DDERR_UNSUPPORTED; }
    STDMETHOD(EvaluateMode)(DWORD, DWORD *) override { return DDERR_UNSUPPORTED; }

private:
    HRESULT ParseSurfaceDesc(const DDSURFACEDESC2 &desc, SurfaceFormat *format, bool *primary,
                             int *width, int *height) const;
    bool cooperativeSet = false;
};

}  // namespace kplat
