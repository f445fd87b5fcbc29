// Render-mode selection and DirectDraw set-up against the stand-in adapter:
// which mode each adapter leads to, the fallback of every failing step, the
// descriptions handed to DirectDraw, re-initialisation and bad sizes.
#include <gtest/gtest.h>

#include "core/log_settings.h"
#include "support/surface_test_support.h"

namespace {

using kestra::DrawWindow;
using namespace kestra_test;

constexpr int kWidth = 64;
constexpr int kHeight = 48;
constexpr DWORD kYv12 = MAKEFOURCC('Y', 'V', '1', '2');
constexpr DWORD kUyvy = MAKEFOURCC('U', 'Y', 'V', 'Y');

class SetupTest : public ::testing::Test {
protected:
    void SetUp() override {
        ConfigureAdapter(kestra::ModeYV12Surface);
        window = kplat_create_window("setup", 100, 80, 160, 120, 2);
        dw.SetHwnd(window);
    }
    void TearDown() override {
        dw.FreeDraw();
        EXPECT_EQ(LiveDdrawObjects(), 0) << "DirectDraw objects outlive FreeDraw";
        kplat_ddraw_reset();
        kplat_clear_failures();
        DestroyWindow(window);
    }
    void ExpectGdiWithNothingLeft(const std::string &why) {
        EXPECT_EQ(dw.ViewPresenter().renderMode, kestra::ModeGdi) << why;
        EXPECT_EQ(LiveDdrawObjects(), 0) << why;
        EXPECT_EQ(dw.ViewPresenter().ddraw, nullptr) << why;
        EXPECT_EQ(dw.ViewPresenter().primarySurface, nullptr) << why;
        EXPECT_EQ(dw.ViewPresenter().frameSurface, nullptr) << why;
        EXPECT_EQ(dw.ViewPresenter().auxSurface, nullptr) << why;
        EXPECT_EQ(dw.State().initialised, 1u) << why;
        EXPECT_NE(dw.ViewPresenter().frameBuffer, nullptr) << why;
    }

    HWND window = nullptr;
    DrawWindow dw;
};

struct ModeCase {
    const char *name;
    DWORD caps;
    std::vector<DWORD> fourccs;
    DWORD failingFormat;  // CreateSurface fails for this format key (0: none)
    int32_t mode;
};

class ModeMatrixTest : public SetupTest, public ::testing::WithParamInterface<ModeCase> {};

TEST_P(ModeMatrixTest, ChoosesModeFromCapsAndCreatableSurfaces) {
    const ModeCase &c = GetParam();
    kplat_ddraw_set_caps(c.caps);
    kplat_ddraw_set_fourccs(c.fourccs.data(), int(c.fourccs.size()));
    if (c.failingFormat)
        kplat_fail_call("IDirectDraw7::CreateSurface", -1, DDERR_OUTOFMEMORY, c.failingFormat);

    EXPECT_EQ(dw.InitDraw(kWidth, kHeight), 0);

    EXPECT_EQ(dw.ViewPresenter().renderMode, c.mode) << c.name;
    EXPECT_EQ(dw.State().initialised, 1u) << c.name;
    EXPECT_NE(dw.ViewPresenter().frameBuffer, nullptr) << c.name;
    bool surfaceMode = c.mode != kestra::ModeGdi;
    EXPECT_EQ(kplat_live_objects(KPLAT_OBJ_DDRAW), surfaceMode ? 1 : 0) << c.name;
    EXPECT_EQ(kplat_live_objects(KPLAT_OBJ_SURFACE), surfaceMode ? 3 : 0) << c.name;
    EXPECT_EQ(kplat_live_objects(KPLAT_OBJ_CLIPPER), surfaceMode ? 1 : 0) << c.name;
    // A FOURCC device never falls to the 5-6-5 surface.
    if (c.caps & DDCAPS_BLTFOURCC) {
        for (const KplatDdrawCall &call : DdrawCalls("IDirectDraw7::CreateSurface"))
            EXPECT_NE(call.format, 16u) << c.name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Adapters, ModeMatrixTest,
    ::testing::Values(
        ModeCase{"FourccBoth", DDCAPS_BLT | DDCAPS_BLTFOURCC, {kYv12, kUyvy}, 0, 0},
        ModeCase{"FourccOnlyUyvy", DDCAPS_BLT | DDCAPS_BLTFOURCC, {kUyvy}, 0, 1},
        ModeCase{"FourccYv12Fails", DDCAPS_BLT | DDCAPS_BLTFOURCC, {kYv12, kUyvy}, kYv12, 1},
        ModeCase{"FourccNeither", DDCAPS_BLT | DDCAPS_BLTFOURCC, {}, 0, 3},
        ModeCase{"FourccWithoutBlt", DDCAPS_BLTFOURCC, {kYv12}, 0, 0},
        ModeCase{"BltOnly", DDCAPS_BLT, {kYv12, kUyvy}, 0, 2},
        ModeCase{"BltOnly565Fails", DDCAPS_BLT, {kYv12, kUyvy}, 16, 3},
        ModeCase{"NoBlitCaps", 0, {kYv12, kUyvy}, 0, 3}),
    [](const ::testing::TestParamInfo<ModeCase> &p) { return std::string(p.param.name); });

struct StepFailure {
    const char *name;
    const char *method;
    DWORD format;
    HRESULT result;
};

class FailingStepTest : public SetupTest, public ::testing::WithParamInterface<StepFailure> {};

TEST_P(FailingStepTest, EndsInGdiWithNoDirectDrawObject) {
    const StepFailure &f = GetParam();
    kplat_fail_call(f.method, -1, f.result, f.format);
    EXPECT_EQ(dw.InitDraw(kWidth, kHeight), 0);
    ExpectGdiWithNothingLeft(f.name);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, FailingStepTest,
    ::testing::Values(
        StepFailure{"Create", "DirectDrawCreateEx", 0, DDERR_OUTOFMEMORY},
        StepFailure{"CooperativeLevel", "IDirectDraw7::SetCooperativeLevel", 0, DDERR_GENERIC},
        StepFailure{"GetCaps", "IDirectDraw7::GetCaps", 0, DDERR_INVALIDPARAMS},
        StepFailure{"Primary", "IDirectDraw7::CreateSurface", KPLAT_DDRAW_PRIMARY,
                    DDERR_OUTOFMEMORY},
        StepFailure{"Aux", "IDirectDraw7::CreateSurface", 32, DDERR_OUTOFMEMORY},
        // Only exactly DD_OK counts for the aux surface.
        StepFailure{"AuxSuccessCode", "IDirectDraw7::CreateSurface", 32, S_FALSE},
        StepFailure{"Clipper", "IDirectDraw7::CreateClipper", 0, DDERR_OUTOFMEMORY},
        StepFailure{"SetHWnd", "IDirectDrawClipper::SetHWnd", 0, DDERR_INVALIDPARAMS},
        StepFailure{"SetClipper", "IDirectDrawSurface7::SetClipper", KPLAT_DDRAW_PRIMARY,
                    DDERR_GENERIC},
        StepFailure{"TestBlitNotImpl", "IDirectDrawSurface7::Blt", KPLAT_DDRAW_PRIMARY, E_NOTIMPL}),
    [](const ::testing::TestParamInfo<StepFailure> &p) { return std::string(p.param.name); });

TEST_F(SetupTest, FrameBothFailingMeansYv12ThenUyvyWereTried) {
    kplat_fail_call("IDirectDraw7::CreateSurface", -1, DDERR_OUTOFMEMORY, kUyvy);
    kplat_fail_call("IDirectDraw7::CreateSurface", -1, DDERR_OUTOFMEMORY, kYv12);
    dw.InitDraw(kWidth, kHeight);
    ExpectGdiWithNothingLeft("both FOURCC surfaces fail");
    std::vector<KplatDdrawCall> creates = DdrawCalls("IDirectDraw7::CreateSurface");
    ASSERT_EQ(creates.size(), 3u);
    EXPECT_EQ(creates[1].format, kYv12);
    EXPECT_EQ(creates[2].format, kUyvy);
}

TEST_F(SetupTest, MissingDirectDrawModuleOrExportFallsToGdi) {
    kplat_ddraw_set_available(FALSE);
    dw.InitDraw(kWidth, kHeight);
    ExpectGdiWithNothingLeft("no ddraw.dll");
    kplat_ddraw_set_available(TRUE);
    kplat_fail_call("GetProcAddress", -1, 0, 0);
    dw.InitDraw(kWidth, kHeight);
    ExpectGdiWithNothingLeft("no DirectDrawCreateEx");
    EXPECT_EQ(DdrawCalls("DirectDrawCreateEx").size(), 0u);
}

// The renderer setting picks the presenters tried: the stand-in has no
// Direct3D, so "d3d11" takes the DirectDraw modes, and "gdi" never opens DirectDraw.
TEST_F(SetupTest, RendererSettingChoosesThePresenters) {
    kestra::LogSettings *settings = kestra::AcquireLogSettings();
    ASSERT_NE(settings, nullptr);
    const struct {
        kestra::Renderer renderer;
        int32_t mode;
    } kCases[] = {{kestra::Renderer::Direct3D11, kestra::ModeYV12Surface},
                  {kestra::Renderer::Gdi, kestra::ModeGdi},
                  {kestra::Renderer::DirectDraw, kestra::ModeYV12Surface}};
    for (const auto &c : kCases) {
        settings->SetRenderer(c.renderer);
        kplat_ddraw_clear_log();
        dw.InitDraw(kWidth, kHeight);
        EXPECT_EQ(dw.ViewPresenter().renderMode, c.mode) << int(c.renderer);
        if (c.mode == kestra::ModeGdi) {
            EXPECT_EQ(DdrawCalls("DirectDrawCreateEx").size(), 0u);
        }
    }
}

TEST_F(SetupTest, ResultsThatChangeNothingKeepTheSurfaceMode) {
    // A failing test blit other than E_NOTIMPL and failing colour fills are ignored.
    kplat_fail_call("IDirectDrawSurface7::Blt", -1, DDERR_GENERIC, 0);
    dw.InitDraw(kWidth, kHeight);
    EXPECT_EQ(dw.ViewPresenter().renderMode, kestra::ModeYV12Surface);
    EXPECT_EQ(kplat_live_objects(KPLAT_OBJ_SURFACE), 3);
}

TEST_F(SetupTest, DescriptionsPassedToDirectDraw) {
    RECT before = dw.State().windowRect;
    dw.InitDraw(kWidth, kHeight);
    ASSERT_EQ(dw.ViewPresenter().renderMode, kestra::ModeYV12Surface);
    std::vector<KplatDdrawCall> calls = DdrawCalls();
    std::vector<std::string> order;
    for (const KplatDdrawCall &c : calls) order.push_back(c.method);
    const std::vector<std::string> expected = {"DirectDrawCreateEx",
                                               "IDirectDraw7::SetCooperativeLevel",
                                               "IDirectDraw7::GetCaps",
                                               "IDirectDraw7::CreateSurface",
                                               "IDirectDraw7::CreateSurface",
                                               "IDirectDraw7::CreateSurface",
                                               "IDirectDraw7::CreateClipper",
                                               "IDirectDrawClipper::SetHWnd",
                                               "IDirectDrawSurface7::SetClipper",
                                               "IDirectDrawSurface7::Blt",
                                               "IDirectDrawSurface7::Blt",
                                               "IDirectDrawSurface7::Lock",
                                               "IDirectDrawSurface7::Unlock",
                                               "IDirectDrawSurface7::Blt"};
    ASSERT_EQ(order, expected);

    EXPECT_EQ(calls[1].window, window);
    EXPECT_EQ(calls[1].flags, DWORD(DDSCL_NORMAL));
    EXPECT_EQ(calls[2].recordSize, sizeof(DDCAPS));

    const DDSURFACEDESC2 &primary = calls[3].desc;
    EXPECT_EQ(primary.dwSize, sizeof(DDSURFACEDESC2));
    EXPECT_EQ(primary.dwFlags, 0x1u);
    EXPECT_EQ(primary.ddsCaps.dwCaps, 0x200u);

    const DDSURFACEDESC2 &frame = calls[4].desc;
    EXPECT_EQ(frame.dwFlags, 0x1007u);
    EXPECT_EQ(frame.dwWidth, DWORD(kWidth));
    EXPECT_EQ(frame.dwHeight, DWORD(kHeight));
    EXPECT_EQ(frame.ddpfPixelFormat.dwSize, 32u);
    EXPECT_EQ(frame.ddpfPixelFormat.dwFlags, DWORD(DDPF_FOURCC));
    EXPECT_EQ(frame.ddpfPixelFormat.dwFourCC, 0x32315659u);
    EXPECT_EQ(frame.ddsCaps.dwCaps, 0x4040u);

    const DDSURFACEDESC2 &aux = calls[5].desc;
    EXPECT_EQ(aux.dwFlags, 0x7u);
    EXPECT_EQ(aux.dwWidth, DWORD(kWidth));
    EXPECT_EQ(aux.dwHeight, DWORD(kHeight));
    EXPECT_EQ(aux.ddpfPixelFormat.dwSize, 32u);
    EXPECT_EQ(aux.ddpfPixelFormat.dwFlags, 0u);
    EXPECT_EQ(aux.ddsCaps.dwCaps, 0x4040u);
    EXPECT_EQ(calls[5].format, 32u) << "the aux surface takes the primary's format";

    EXPECT_EQ(calls[6].flags, 0u);
    EXPECT_EQ(calls[7].flags, 0u);
    EXPECT_EQ(calls[7].window, window);
    EXPECT_EQ(calls[8].object, static_cast<const void *>(dw.ViewPresenter().primarySurface));
    EXPECT_EQ(calls[8].other, calls[6].other) << "the new clipper goes onto the primary";

    for (int i : {9, 10}) {
        EXPECT_EQ(calls[i].flags, DWORD(DDBLT_COLORFILL)) << "fill " << i;
        EXPECT_EQ(calls[i].recordSize, sizeof(DDBLTFX)) << "fill " << i;
        EXPECT_EQ(calls[i].fx.dwFillColor, 0u) << "fill " << i;
        EXPECT_FALSE(calls[i].hasDestRect) << "fill " << i;
    }
    EXPECT_EQ(calls[9].object, static_cast<const void *>(dw.ViewPresenter().frameSurface));
    EXPECT_EQ(calls[10].object, static_cast<const void *>(dw.ViewPresenter().auxSurface));

    // The frame surface is made black in its own format before the test blit shows it.
    EXPECT_EQ(calls[11].object, static_cast<const void *>(dw.ViewPresenter().frameSurface));
    const KplatDdrawCall &test = calls[13];
    EXPECT_EQ(test.object, static_cast<const void *>(dw.ViewPresenter().primarySurface));
    EXPECT_EQ(test.other, static_cast<const void *>(dw.ViewPresenter().frameSurface));
    EXPECT_EQ(test.flags, DWORD(DDBLT_WAIT));
    EXPECT_FALSE(test.hasFx);
    EXPECT_FALSE(test.hasSrcRect);
    ASSERT_TRUE(test.hasDestRect);
    EXPECT_EQ(std::memcmp(&test.destRect, &before, sizeof(RECT)), 0)
        << "the test blit goes to the rectangle left by earlier calls";

    RECT outer;
    GetWindowRect(window, &outer);
    EXPECT_EQ(std::memcmp(&dw.State().windowRect, &outer, sizeof(RECT)), 0)
        << "windowRect at the end";
}

TEST_F(SetupTest, Rgb565PixelFormat) {
    kplat_ddraw_set_caps(DDCAPS_BLT);
    dw.InitDraw(kWidth, kHeight);
    ASSERT_EQ(dw.ViewPresenter().renderMode, kestra::ModeRGB565Surface);
    const std::vector<KplatDdrawCall> creates = DdrawCalls("IDirectDraw7::CreateSurface");
    const DDPIXELFORMAT &pf = creates[1].desc.ddpfPixelFormat;
    EXPECT_EQ(pf.dwFlags, DWORD(DDPF_RGB));
    EXPECT_EQ(pf.dwFourCC, 0u);
    EXPECT_EQ(pf.dwRGBBitCount, 16u);
    EXPECT_EQ(pf.dwRBitMask, 0xF800u);
    EXPECT_EQ(pf.dwGBitMask, 0x07E0u);
    EXPECT_EQ(pf.dwBBitMask, 0x001Fu);
    EXPECT_EQ(pf.dwRGBAlphaBitMask, 0u);
}

TEST_F(SetupTest, SecondInitReleasesEverythingFirst) {
    dw.InitDraw(kWidth, kHeight);
    kplat_ddraw_clear_log();
    dw.InitDraw(32, 16);
    EXPECT_EQ(kplat_live_objects(KPLAT_OBJ_DDRAW), 1);
    EXPECT_EQ(kplat_live_objects(KPLAT_OBJ_SURFACE), 3);
    EXPECT_EQ(kplat_live_objects(KPLAT_OBJ_CLIPPER), 1);
    EXPECT_EQ(dw.State().frameWidth, 32);
    EXPECT_EQ(dw.State().frameHeight, 16);
    std::vector<KplatDdrawCall> calls = DdrawCalls();
    ASSERT_GE(calls.size(), 2u);
    // The old DirectDraw object leaves the cooperative level before the new one exists.
    EXPECT_STREQ(calls[0].method, "IDirectDraw7::SetCooperativeLevel");
    EXPECT_EQ(calls[0].window, nullptr);
    EXPECT_STREQ(calls[1].method, "DirectDrawCreateEx");
    EXPECT_EQ(DdrawCalls("IDirectDraw7::CreateSurface")[1].desc.dwWidth, 32u);
}

TEST_F(SetupTest, FreeDrawLeavesModeFlagAndBuffer) {
    dw.InitDraw(kWidth, kHeight);
    const uint8_t *buffer = dw.ViewPresenter().frameBuffer;
    dw.FreeDraw();
    EXPECT_EQ(LiveDdrawObjects(), 0);
    EXPECT_EQ(dw.ViewPresenter().renderMode, kestra::ModeYV12Surface);
    EXPECT_EQ(dw.State().initialised, 1u);
    EXPECT_EQ(dw.ViewPresenter().frameBuffer, buffer);
    EXPECT_EQ(dw.State().frameWidth, kWidth);
}

TEST_F(SetupTest, InitWithoutWindowStillInitialisesButDrawRefuses) {
    DrawWindow lone;
    lone.InitDraw(kWidth, kHeight);
    EXPECT_EQ(lone.State().initialised, 1u);
    EXPECT_EQ(DdrawCalls("IDirectDraw7::SetCooperativeLevel")[0].window, nullptr);
    YuvFrame f(kWidth, kHeight);
    EXPECT_EQ(lone.DrawYUV420({f.y.data(), f.yStride, f.u.data(), f.v.data(), f.uvStride, 0, 0, 0}),
              kestra::kDrawNotReady);
}

struct BadSize {
    const char *name;
    int32_t width, height;
};

class BadSizeTest : public SetupTest, public ::testing::WithParamInterface<BadSize> {};

TEST_P(BadSizeTest, LeavesTheDisplayNotReadyUntilAGoodSize) {
    const BadSize &b = GetParam();
    KestraDisplay handle = reinterpret_cast<KestraDisplay>(&dw);
    ASSERT_EQ(KESTRA_DWInitDraw(handle, kWidth, kHeight), 0);
    EXPECT_EQ(KESTRA_DWInitDraw(handle, b.width, b.height), 0) << b.name;
    EXPECT_EQ(dw.ViewPresenter().renderMode, kestra::ModeGdi) << b.name;
    EXPECT_EQ(dw.ViewPresenter().frameBuffer, nullptr) << b.name;
    EXPECT_EQ(dw.State().frameWidth, 0) << b.name;
    EXPECT_EQ(dw.State().frameHeight, 0) << b.name;
    EXPECT_EQ(dw.State().initialised, 0u) << b.name;
    EXPECT_EQ(LiveDdrawObjects(), 0) << b.name;
    YuvFrame f(kWidth, kHeight);
    EXPECT_EQ(KESTRA_DWDrawYUV420(handle, f.y.data(), f.yStride, f.u.data(), f.v.data(), f.uvStride,
                                  0, 0, 0),
              -1)
        << b.name;

    KESTRA_DWInitDraw(handle, kWidth, kHeight);
    EXPECT_EQ(KESTRA_DWDrawYUV420(handle, f.y.data(), f.yStride, f.u.data(), f.v.data(), f.uvStride,
                                  0, 0, 0),
              0)
        << b.name << ": a good size draws again";
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, BadSizeTest,
    ::testing::Values(BadSize{"ZeroWidth", 0, 48}, BadSize{"ZeroHeight", 64, 0},
                      BadSize{"NegativeWidth", -64, 48}, BadSize{"NegativeBoth", -1, -1},
                      BadSize{"BufferOverflows", 0x7FFFFFFF, 0x7FFFFFFF},
                      BadSize{"BufferPast2GiB", 32768, 16385}),
    [](const ::testing::TestParamInfo<BadSize> &p) { return std::string(p.param.name); });

}  // namespace
