// The stand-in DirectDraw adapter (tests/abi checks its record layouts):
// surface memory layout, conversion and stretch to the window, lost surfaces,
// fault injection, device contexts and reference counts.
#include <windows.h>
#include <ddraw.h>
#include <kestra/platform_test.h>

#include <gtest/gtest.h>

#include <cstring>

#include "support/adapter_modes.h"

namespace {

constexpr DWORD kYv12 = MAKEFOURCC('Y', 'V', '1', '2');
constexpr DWORD kUyvy = MAKEFOURCC('U', 'Y', 'V', 'Y');

class DdrawTest : public ::testing::Test {
protected:
    void SetUp() override {
        kplat_ddraw_reset();
        void *created = nullptr;
        ASSERT_EQ(DirectDrawCreateEx(nullptr, &created, IID_IDirectDraw7, nullptr), DD_OK);
        dd = static_cast<IDirectDraw7 *>(created);
        ASSERT_EQ(dd->SetCooperativeLevel(nullptr, DDSCL_NORMAL), DD_OK);
    }
    void TearDown() override {
        for (IDirectDrawSurface7 *s : made) s->Release();
        if (clipper) clipper->Release();
        dd->Release();
        EXPECT_EQ(kplat_live_objects(KPLAT_OBJ_DDRAW), 0);
        EXPECT_EQ(kplat_live_objects(KPLAT_OBJ_SURFACE), 0);
        EXPECT_EQ(kplat_live_objects(KPLAT_OBJ_CLIPPER), 0);
        kplat_ddraw_reset();
        kplat_clear_failures();
        if (window) DestroyWindow(window);
    }
    // fourcc 0: RGB of `bits` (0: the primary's format, unflagged).
    HRESULT Make(int w, int h, DWORD fourcc, DWORD bits, IDirectDrawSurface7 **out) {
        DDSURFACEDESC2 desc;
        std::memset(&desc, 0, sizeof(desc));
        desc.dwSize = sizeof(desc);
        desc.dwFlags = DDSD_CAPS | DDSD_WIDTH | DDSD_HEIGHT;
        desc.dwWidth = DWORD(w);
        desc.dwHeight = DWORD(h);
        desc.ddsCaps.dwCaps = DDSCAPS_OFFSCREENPLAIN | DDSCAPS_VIDEOMEMORY;
        DDPIXELFORMAT &pf = desc.ddpfPixelFormat;
        pf.dwSize = sizeof(pf);
        if (fourcc || bits) desc.dwFlags |= DDSD_PIXELFORMAT;
        if (fourcc) {
            pf.dwFlags = DDPF_FOURCC;
            pf.dwFourCC = fourcc;
        } else if (bits == 16) {
            pf.dwFlags = DDPF_RGB;
            pf.dwRGBBitCount = 16;
            pf.dwRBitMask = 0xF800;
            pf.dwGBitMask = 0x07E0;
            pf.dwBBitMask = 0x001F;
        }
        *out = nullptr;
        HRESULT hr = dd->CreateSurface(&desc, out, nullptr);
        if (*out) made.push_back(*out);
        return hr;
    }
    HRESULT MakePrimary(IDirectDrawSurface7 **out) {
        DDSURFACEDESC2 desc;
        std::memset(&desc, 0, sizeof(desc));
        desc.dwSize = sizeof(desc);
        desc.dwFlags = DDSD_CAPS;
        desc.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE;
        *out = nullptr;
        const HRESULT hr = dd->CreateSurface(&desc, out, nullptr);
        if (*out) made.push_back(*out);
        return hr;
    }
    static DDSURFACEDESC2 Lock(IDirectDrawSurface7 *s, HRESULT *hr = nullptr) {
        DDSURFACEDESC2 desc;
        std::memset(&desc, 0, sizeof(desc));
        desc.dwSize = sizeof(desc);
        HRESULT r = s->Lock(nullptr, &desc, DDLOCK_WAIT, nullptr);
        if (hr) *hr = r;
        return desc;
    }

    IDirectDraw7 *dd = nullptr;
    IDirectDrawClipper *clipper = nullptr;
    HWND window = nullptr;
    std::vector<IDirectDrawSurface7 *> made;
};

using kestra_test::Near;

// Red in BT.601 studio range; a swapped U and V would show blue.
TEST_F(DdrawTest, Yv12LayoutIsYThenVThenUAtHalfPitch) {
    IDirectDrawSurface7 *yv12 = nullptr, *xrgb = nullptr;
    ASSERT_EQ(Make(64, 32, kYv12, 0, &yv12), DD_OK);
    ASSERT_EQ(Make(64, 32, 0, 0, &xrgb), DD_OK);
    DDSURFACEDESC2 d = Lock(yv12);
    ASSERT_NE(d.lpSurface, nullptr);
    EXPECT_EQ(d.dwWidth, 64u);
    EXPECT_EQ(d.dwHeight, 32u);
    ASSERT_GE(d.lPitch, 64);
    EXPECT_EQ(d.lPitch % 2, 0);
    uint8_t *base = static_cast<uint8_t *>(d.lpSurface);
    for (int r = 0; r < 32; ++r) std::memset(base + r * d.lPitch, 81, 64);
    uint8_t *v = base + 32 * d.lPitch;
    uint8_t *u = v + 16 * (d.lPitch / 2);
    for (int r = 0; r < 16; ++r) {
        std::memset(v + r * (d.lPitch / 2), 240, 32);
        std::memset(u + r * (d.lPitch / 2), 90, 32);
    }
    yv12->Unlock(nullptr);
    ASSERT_EQ(xrgb->Blt(nullptr, yv12, nullptr, DDBLT_WAIT, nullptr), DD_OK);
    DDSURFACEDESC2 out = Lock(xrgb);
    uint32_t px = static_cast<uint32_t *>(out.lpSurface)[5 * out.lPitch / 4 + 7];
    EXPECT_TRUE(Near(px & 0xFFFFFF, 0xFF0000, 3)) << std::hex << px;
    xrgb->Unlock(nullptr);
}

TEST_F(DdrawTest, BlitToThePrimaryStretchesMirrorsAndClipsToTheWindow) {
    window = kplat_create_window("clip", 100, 100, 40, 30, 0);
    ASSERT_EQ(dd->CreateClipper(0, &clipper, nullptr), DD_OK);
    ASSERT_EQ(clipper->SetHWnd(0, window), DD_OK);
    IDirectDrawSurface7 *primary = nullptr, *src = nullptr;
    ASSERT_EQ(MakePrimary(&primary), DD_OK);
    ASSERT_EQ(primary->SetClipper(clipper), DD_OK);
    ASSERT_EQ(Make(4, 2, 0, 0, &src), DD_OK);
    DDSURFACEDESC2 d = Lock(src);
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 4; ++c)
            static_cast<uint32_t *>(d.lpSurface)[r * d.lPitch / 4 + c] =
                c < 2 ? 0xFF0000 : 0x0000FF;
    src->Unlock(nullptr);

    // Screen x 90..130: the first 10 columns fall left of the window.
    RECT dest{90, 100, 130, 130};
    ASSERT_EQ(primary->Blt(&dest, src, nullptr, DDBLT_WAIT, nullptr), DD_OK);
    EXPECT_EQ(kplat_window_pixel(window, 0, 0), 0xFF0000u) << "source column 1";
    EXPECT_EQ(kplat_window_pixel(window, 29, 29), 0x0000FFu) << "source column 3";
    EXPECT_EQ(kplat_window_pixel(window, 35, 10), 0u) << "outside the destination";

    DDBLTFX fx;
    std::memset(&fx, 0, sizeof(fx));
    fx.dwSize = sizeof(fx);
    fx.dwDDFX = DDBLTFX_MIRRORLEFTRIGHT;
    ASSERT_EQ(primary->Blt(&dest, src, nullptr, DDBLT_WAIT | DDBLT_DDFX, &fx), DD_OK);
    EXPECT_EQ(kplat_window_pixel(window, 0, 0), 0x0000FFu) << "mirrored";
    EXPECT_EQ(kplat_window_pixel(window, 29, 29), 0xFF0000u) << "mirrored";
}

TEST_F(DdrawTest, LostSurfaceRefusesUntilRestored) {
    IDirectDrawSurface7 *s = nullptr, *x = nullptr;
    ASSERT_EQ(Make(16, 16, kUyvy, 0, &s), DD_OK);
    ASSERT_EQ(Make(16, 16, 0, 0, &x), DD_OK);
    EXPECT_EQ(kplat_ddraw_mark_lost(kUyvy), 1);
    HRESULT hr;
    Lock(s, &hr);
    EXPECT_EQ(hr, DDERR_SURFACELOST);
    EXPECT_EQ(x->Blt(nullptr, s, nullptr, DDBLT_WAIT, nullptr), DDERR_SURFACELOST);
    EXPECT_EQ(s->IsLost(), DDERR_SURFACELOST);
    EXPECT_EQ(s->Restore(), DD_OK);
    Lock(s, &hr);
    EXPECT_EQ(hr, DD_OK);
    s->Unlock(nullptr);
    EXPECT_EQ(x->Blt(nullptr, s, nullptr, DDBLT_WAIT, nullptr), DD_OK);
}

TEST_F(DdrawTest, FaultsHitTheirFormatOnceOrAlways) {
    IDirectDrawSurface7 *rgb16 = nullptr, *rgb32 = nullptr;
    ASSERT_EQ(Make(8, 8, 0, 16, &rgb16), DD_OK);
    ASSERT_EQ(Make(8, 8, 0, 0, &rgb32), DD_OK);
    kplat_fail_call("IDirectDrawSurface7::Lock", 1, DDERR_SURFACEBUSY, 16);
    HRESULT hr;
    Lock(rgb32, &hr);
    EXPECT_EQ(hr, DD_OK) << "another format";
    rgb32->Unlock(nullptr);
    Lock(rgb16, &hr);
    EXPECT_EQ(hr, DDERR_SURFACEBUSY) << "first call";
    Lock(rgb16, &hr);
    EXPECT_EQ(hr, DD_OK) << "once only";
    rgb16->Unlock(nullptr);

    kplat_fail_call("IDirectDraw7::CreateSurface", -1, E_NOTIMPL, kUyvy);
    IDirectDrawSurface7 *s = nullptr;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Make(8, 8, kUyvy, 0, &s), E_NOTIMPL) << "try " << i;
    EXPECT_EQ(s, nullptr);
    EXPECT_EQ(Make(8, 8, kYv12, 0, &s), DD_OK);
}

TEST_F(DdrawTest, CreatesOnlyListedAndImplementedFourccs) {
    const DWORD codes[] = {kYv12, MAKEFOURCC('Y', 'U', 'Y', '2')};
    kplat_ddraw_set_fourccs(codes, 2);
    IDirectDrawSurface7 *s = nullptr;
    EXPECT_EQ(Make(8, 8, MAKEFOURCC('Y', 'U', 'Y', '2'), 0, &s), DDERR_INVALIDPIXELFORMAT);
    EXPECT_EQ(Make(8, 8, kUyvy, 0, &s), DDERR_INVALIDPIXELFORMAT) << "not listed";
    EXPECT_EQ(Make(0, 8, kYv12, 0, &s), DDERR_INVALIDPARAMS) << "zero width";
    EXPECT_EQ(s, nullptr);
}

TEST_F(DdrawTest, DeviceContextOnA565SurfacePacksBackOnRelease) {
    IDirectDrawSurface7 *rgb16 = nullptr, *yv12 = nullptr;
    ASSERT_EQ(Make(8, 8, 0, 16, &rgb16), DD_OK);
    ASSERT_EQ(Make(8, 8, kYv12, 0, &yv12), DD_OK);
    HDC dc = nullptr;
    ASSERT_EQ(rgb16->GetDC(&dc), DD_OK);
    ASSERT_NE(dc, nullptr);
    HDC second = nullptr;
    EXPECT_EQ(rgb16->GetDC(&second), DDERR_DCALREADYCREATED);
    SetPixel(dc, 3, 2, RGB(255, 0, 0));
    EXPECT_EQ(rgb16->ReleaseDC(dc), DD_OK);
    DDSURFACEDESC2 d = Lock(rgb16);
    const uint8_t *row = static_cast<uint8_t *>(d.lpSurface) + 2 * d.lPitch;
    EXPECT_EQ(reinterpret_cast<const uint16_t *>(row)[3], 0xF800);
    rgb16->Unlock(nullptr);
    EXPECT_EQ(yv12->GetDC(&dc), DDERR_CANTCREATEDC);
    EXPECT_EQ(dc, nullptr);
    EXPECT_EQ(kplat_live_objects(KPLAT_OBJ_DC), 0);
}

TEST_F(DdrawTest, ObjectsLiveUntilTheirLastReference) {
    IDirectDrawSurface7 *s = nullptr;
    ASSERT_EQ(Make(8, 8, 0, 0, &s), DD_OK);
    ASSERT_EQ(dd->CreateClipper(0, &clipper, nullptr), DD_OK);
    ASSERT_EQ(s->SetClipper(clipper), DD_OK);
    clipper->Release();
    clipper = nullptr;
    EXPECT_EQ(kplat_live_objects(KPLAT_OBJ_CLIPPER), 1) << "held by the surface";
    dd->AddRef();
    dd->Release();
    EXPECT_EQ(kplat_live_objects(KPLAT_OBJ_DDRAW), 1);
}

TEST(DdrawModuleTest, UnavailableModuleFailsToLoad) {
    kplat_ddraw_set_available(FALSE);
    EXPECT_EQ(LoadLibraryA("ddraw.dll"), nullptr);
    kplat_ddraw_set_available(TRUE);
    HMODULE m = LoadLibraryA("DDRAW.DLL");
    ASSERT_NE(m, nullptr);
    EXPECT_NE(GetProcAddress(m, "DirectDrawCreateEx"), nullptr);
    FreeLibrary(m);
}

}  // namespace
