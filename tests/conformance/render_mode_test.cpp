// Which render mode a run reaches on a real DirectDraw.
//
// Wine's DirectDraw converts and stretches YV12 and UYVY surfaces but never
// reports FOURCC blits, so left alone the library takes the RGB 5-6-5 mode
// there. For the FOURCC runs this host patches its own process's IDirectDraw7
// vtable (ddraw.dll has one, shared by every object): GetCaps adds
// DDCAPS_BLTFOURCC and, for the UYVY run, CreateSurface refuses YV12. The
// library is not told. KESTRA_TEST_RENDER_MODE names the run: yv12, uyvy,
// rgb565, gdi (runs without ddraw.dll) or d3d11 (LOG.INI beside the host asks
// for Direct3D 11, and no DirectDraw surface may be made).
// The stand-in's adapter is chosen through its own host calls instead, so on
// Linux this file holds no test.
#include <windows.h>
#include <ddraw.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "host_window.h"
#include "kestra/kestra.h"

#ifdef _WIN32

namespace {

std::string RequestedMode() {
    const char *mode = std::getenv("KESTRA_TEST_RENDER_MODE");
    return mode ? mode : "";
}

struct SurfacesSeen {
    LONG yv12 = 0, uyvy = 0, rgb565 = 0, yv12Refused = 0;
};
SurfacesSeen seen;
bool shimInstalled = false;

using GetCapsFn = HRESULT(WINAPI *)(IDirectDraw7 *, DDCAPS *, DDCAPS *);
using CreateSurfaceFn = HRESULT(WINAPI *)(IDirectDraw7 *, DDSURFACEDESC2 *, IDirectDrawSurface7 **,
                                          IUnknown *);
GetCapsFn realGetCaps;
CreateSurfaceFn realCreateSurface;
bool refuseYv12 = false;

// Slots in IDirectDraw7's vtable: IUnknown's three, then Compact,
// CreateClipper, CreatePalette, CreateSurface ... FlipToGDISurface, GetCaps.
constexpr int kCreateSurfaceSlot = 6;
constexpr int kGetCapsSlot = 11;

HRESULT WINAPI ShimGetCaps(IDirectDraw7 *self, DDCAPS *driver, DDCAPS *emulation) {
    const HRESULT hr = realGetCaps(self, driver, emulation);
    if (SUCCEEDED(hr) && driver) driver->dwCaps |= DDCAPS_BLTFOURCC;
    return hr;
}

HRESULT WINAPI ShimCreateSurface(IDirectDraw7 *self, DDSURFACEDESC2 *desc,
                                 IDirectDrawSurface7 **surface, IUnknown *outer) {
    const DDPIXELFORMAT *format = desc ? &desc->ddpfPixelFormat : nullptr;
    const bool flagged = desc && (desc->dwFlags & DDSD_PIXELFORMAT);
    const bool fourcc = flagged && (format->dwFlags & DDPF_FOURCC);
    if (fourcc && format->dwFourCC == MAKEFOURCC('Y', 'V', '1', '2') && refuseYv12) {
        InterlockedIncrement(&seen.yv12Refused);
        return DDERR_INVALIDPIXELFORMAT;
    }
    const HRESULT hr = realCreateSurface(self, desc, surface, outer);
    if (FAILED(hr) || !flagged) return hr;
    if (fourcc && format->dwFourCC == MAKEFOURCC('Y', 'V', '1', '2'))
        InterlockedIncrement(&seen.yv12);
    else if (fourcc && format->dwFourCC == MAKEFOURCC('U', 'Y', 'V', 'Y'))
        InterlockedIncrement(&seen.uyvy);
    else if (!fourcc && format->dwRGBBitCount == 16)
        InterlockedIncrement(&seen.rgb565);
    return hr;
}

// ddraw.dll stays loaded from here on, so the patched vtable outlives every
// LoadLibrary/FreeLibrary pair the library makes.
bool InstallShim(const std::string &mode) {
    HMODULE module = LoadLibraryA("ddraw.dll");
    if (!module) return false;
    using CreateFn = HRESULT(WINAPI *)(GUID *, void **, REFIID, IUnknown *);
    auto create = reinterpret_cast<CreateFn>(
        reinterpret_cast<void *>(GetProcAddress(module, "DirectDrawCreateEx")));
    static const GUID kIidDirectDraw7 = {
        0x15e65ec0, 0x3b9c, 0x11d2, {0xb9, 0x2f, 0x00, 0x60, 0x97, 0x97, 0xea, 0x5b}};
    void *object = nullptr;
    if (!create || FAILED(create(nullptr, &object, kIidDirectDraw7, nullptr))) return false;
    void **vtable = *static_cast<void ***>(object);
    DWORD oldProtection = 0;
    const SIZE_T bytes = sizeof(void *) * (kGetCapsSlot + 1);
    if (!VirtualProtect(vtable, bytes, PAGE_READWRITE, &oldProtection)) return false;
    realGetCaps = reinterpret_cast<GetCapsFn>(vtable[kGetCapsSlot]);
    realCreateSurface = reinterpret_cast<CreateSurfaceFn>(vtable[kCreateSurfaceSlot]);
    if (mode == "yv12" || mode == "uyvy")
        vtable[kGetCapsSlot] = reinterpret_cast<void *>(ShimGetCaps);
    vtable[kCreateSurfaceSlot] = reinterpret_cast<void *>(ShimCreateSurface);
    refuseYv12 = mode == "uyvy";
    VirtualProtect(vtable, bytes, oldProtection, &oldProtection);
    static_cast<IDirectDraw7 *>(object)->Release();
    return true;
}

class ShimEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        const std::string mode = RequestedMode();
        if (mode == "yv12" || mode == "uyvy" || mode == "rgb565" || mode == "d3d11")
            shimInstalled = InstallShim(mode);
    }
};

::testing::Environment *const shimEnvironment =
    ::testing::AddGlobalTestEnvironment(new ShimEnvironment);

int callbackCalls = 0;
void KESTRA_CALLBACK CountCall(int32_t, HDC__ *, int32_t, int32_t, int32_t, int32_t, int32_t,
                               int32_t, int32_t, void *) {
    ++callbackCalls;
}

TEST(RenderMode, IsTheOneThisRunAskedFor) {
    const std::string mode = RequestedMode();
    if (mode.empty()) GTEST_SKIP() << "KESTRA_TEST_RENDER_MODE names no run";
    HWND window = host::CreateHostWindow(64, 48);
    ASSERT_NE(window, nullptr);
    const SurfacesSeen before = seen;
    KestraDisplay display = nullptr;
    ASSERT_EQ(KESTRA_DWOpenDraw(&display), 0);
    ASSERT_EQ(KESTRA_DWSetHwnd(display, window), 0);
    ASSERT_EQ(KESTRA_DWInitDraw(display, 64, 48), 0);
    ASSERT_EQ(KESTRA_DWSetDisplayCB(display, nullptr, CountCall), 0);
    std::vector<uint8_t> luma(64 * 48, 16), chroma(32 * 24, 128);
    callbackCalls = 0;
    EXPECT_EQ(
        KESTRA_DWDrawYUV420(display, luma.data(), 64, chroma.data(), chroma.data(), 32, 0, 0, 0),
        0);
    const bool gdi = callbackCalls > 0;
    EXPECT_EQ(KESTRA_DWCloseDraw(display), 0);
    host::DestroyHostWindow(window);

    if (mode == "gdi") {
        EXPECT_TRUE(gdi) << "the display callback runs only in the GDI mode";
        return;
    }
    ASSERT_TRUE(shimInstalled) << "ddraw.dll could not be patched";
    EXPECT_FALSE(gdi) << mode << " run fell back to GDI";
    // Surfaces made in YV12, UYVY and RGB 5-6-5, and YV12 ones the shim refused.
    const std::vector<LONG> made = {seen.yv12 - before.yv12, seen.uyvy - before.uyvy,
                                    seen.rgb565 - before.rgb565,
                                    seen.yv12Refused - before.yv12Refused};
    const std::map<std::string, std::vector<LONG>> expected = {{"yv12", {1, 0, 0, 0}},
                                                               {"uyvy", {0, 1, 0, 1}},
                                                               {"rgb565", {0, 0, 1, 0}},
                                                               {"d3d11", {0, 0, 0, 0}}};
    ASSERT_EQ(expected.count(mode), 1u) << "unknown run " << mode;
    EXPECT_EQ(made, expected.at(mode)) << mode << " run";
}

}  // namespace

#endif  // _WIN32
