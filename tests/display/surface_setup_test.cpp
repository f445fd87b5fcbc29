// Render-mode selection and DirectDraw set-up against the stand-in adapter:
// which mode each adapter leads to, the fallback of every failing step, the
// descriptions handed to DirectDraw and re-initialisation.
#include <gtest/gtest.h>

#include "core/log_settings.h"
#include "support/display_fixture.h"

namespace {

using namespace kestra_test;

constexpr int kWidth = 64;
constexpr int kHeight = 48;
constexpr DWORD kBlitBoth = DDCAPS_BLT | DDCAPS_BLTFOURCC;
constexpr DWORD kPrimary = KPLAT_DDRAW_PRIMARY;

// A display on a window, not set up yet, and an adapter at its defaults.
class SetupTest : public ::testing::Test {
protected:
    void TearDown() override {
        KESTRA_DWFreeDraw(d.handle);
        EXPECT_EQ(LiveDdrawObjects(), 0) << "DirectDraw objects outlive FreeDraw";
    }
    TestDisplay d{ModeYV12Surface, 0, 0, 160, 120, 2};
};

// What set-up asked the adapter to make, in order: 0 for the DirectDraw
// object, else the format key of the surface (the FOURCC asked for, when the
// adapter refused it).
std::vector<DWORD> Creations() {
    std::vector<DWORD> made;
    for (const KplatDdrawCall &c : DdrawCalls()) {
        if (std::strcmp(c.method, "DirectDrawCreateEx") == 0) made.push_back(0);
        if (std::strcmp(c.method, "IDirectDraw7::CreateSurface") == 0)
            made.push_back(c.format ? c.format : c.desc.ddpfPixelFormat.dwFourCC);
    }
    return made;
}

struct SetupCase {
    const char *name;
    DWORD caps;
    std::vector<DWORD> fourccs;
    const char *failing;  // this call fails (null: none) on surfaces of `format`
    DWORD format;
    HRESULT result;
    int32_t mode;
    std::vector<DWORD> made;
};

void PrintTo(const SetupCase &c, std::ostream *os) { *os << c.name; }

class SetupCaseTest : public SetupTest, public ::testing::WithParamInterface<SetupCase> {};

// Whatever step fails, set-up ends in a mode that draws, and in GDI with no
// DirectDraw object left.
TEST_P(SetupCaseTest, ChoosesTheModeTheAdapterAllows) {
    const SetupCase &c = GetParam();
    kplat_ddraw_set_caps(c.caps);
    kplat_ddraw_set_fourccs(c.fourccs.data(), int(c.fourccs.size()));
    if (c.failing) kplat_fail_call(c.failing, -1, c.result, c.format);
    EXPECT_EQ(d.Init(kWidth, kHeight), 0);

    EXPECT_EQ(d.Mode(), c.mode) << c.name;
    EXPECT_EQ(Creations(), c.made) << c.name;
    const bool surfaceMode = c.mode != ModeGdi;
    EXPECT_EQ(kplat_live_objects(KPLAT_OBJ_DDRAW), surfaceMode ? 1 : 0) << c.name;
    EXPECT_EQ(kplat_live_objects(KPLAT_OBJ_SURFACE), surfaceMode ? 3 : 0) << c.name;
    EXPECT_EQ(kplat_live_objects(KPLAT_OBJ_CLIPPER), surfaceMode ? 1 : 0) << c.name;
    EXPECT_EQ(d.Draw(YuvFrame(kWidth, kHeight)), 0) << c.name;
}

const std::vector<DWORD> kBoth = {kYv12, kUyvy};
const char *const kCreate = "IDirectDraw7::CreateSurface";
const std::vector<DWORD> kYv12Made = {0, kPrimary, kYv12, kAux};
const HRESULT kNoMemory = DDERR_OUTOFMEMORY;

INSTANTIATE_TEST_SUITE_P(
    Adapters, SetupCaseTest,
    ::testing::Values(
        SetupCase{"FourccBoth", kBlitBoth, kBoth, nullptr, 0, 0, 0, kYv12Made},
        SetupCase{"FourccOnlyUyvy",
                  kBlitBoth,
                  {kUyvy},
                  nullptr,
                  0,
                  0,
                  1,
                  {0, kPrimary, kYv12, kUyvy, kAux}},
        SetupCase{"FourccYv12Fails",
                  kBlitBoth,
                  kBoth,
                  kCreate,
                  kYv12,
                  kNoMemory,
                  1,
                  {0, kPrimary, kYv12, kUyvy, kAux}},
        // A FOURCC device that can make neither surface never falls to 5-6-5.
        SetupCase{"FourccNeither", kBlitBoth, {}, nullptr, 0, 0, 3, {0, kPrimary, kYv12, kUyvy}},
        SetupCase{"FourccWithoutBlt", DDCAPS_BLTFOURCC, {kYv12}, nullptr, 0, 0, 0, kYv12Made},
        SetupCase{"BltOnly", DDCAPS_BLT, kBoth, nullptr, 0, 0, 2, {0, kPrimary, kRgb565, kAux}},
        SetupCase{"BltOnly565Fails",
                  DDCAPS_BLT,
                  kBoth,
                  kCreate,
                  kRgb565,
                  kNoMemory,
                  3,
                  {0, kPrimary, kRgb565}},
        SetupCase{"NoBlitCaps", 0, kBoth, nullptr, 0, 0, 3, {0}},
        SetupCase{"NoDirectDrawModule", kBlitBoth, kBoth, "LoadLibraryA", 0, 0, 3, {}},
        SetupCase{"NoDirectDrawCreateEx", kBlitBoth, kBoth, "GetProcAddress", 0, 0, 3, {}},
        SetupCase{"Create", kBlitBoth, kBoth, "DirectDrawCreateEx", 0, kNoMemory, 3, {0}},
        SetupCase{"CooperativeLevel",
                  kBlitBoth,
                  kBoth,
                  "IDirectDraw7::SetCooperativeLevel",
                  0,
                  DDERR_GENERIC,
                  3,
                  {0}},
        SetupCase{
            "GetCaps", kBlitBoth, kBoth, "IDirectDraw7::GetCaps", 0, DDERR_INVALIDPARAMS, 3, {0}},
        SetupCase{"Primary", kBlitBoth, kBoth, kCreate, kPrimary, kNoMemory, 3, {0, kPrimary}},
        SetupCase{"Aux", kBlitBoth, kBoth, kCreate, kAux, kNoMemory, 3, kYv12Made},
        // Only exactly DD_OK counts for the aux surface.
        SetupCase{"AuxSuccessCode", kBlitBoth, kBoth, kCreate, kAux, S_FALSE, 3, kYv12Made},
        SetupCase{"Clipper", kBlitBoth, kBoth, "IDirectDraw7::CreateClipper", 0, kNoMemory, 3,
                  kYv12Made},
        SetupCase{"SetHWnd", kBlitBoth, kBoth, "IDirectDrawClipper::SetHWnd", 0,
                  DDERR_INVALIDPARAMS, 3, kYv12Made},
        SetupCase{"SetClipper", kBlitBoth, kBoth, "IDirectDrawSurface7::SetClipper", kPrimary,
                  DDERR_GENERIC, 3, kYv12Made},
        SetupCase{"TestBlitNotImpl", kBlitBoth, kBoth, "IDirectDrawSurface7::Blt", kPrimary,
                  E_NOTIMPL, 3, kYv12Made},
        // Any other failing test blit, and failing colour fills, change nothing.
        SetupCase{"BlitsFail", kBlitBoth, kBoth, "IDirectDrawSurface7::Blt", 0, DDERR_GENERIC, 0,
                  kYv12Made}),
    [](const ::testing::TestParamInfo<SetupCase> &p) { return std::string(p.param.name); });

TEST_F(SetupTest, DescriptionsPassedToDirectDraw) {
    d.Init(kWidth, kHeight);
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
    const void *primary = calls[3].other, *frame = calls[4].other, *aux = calls[5].other;

    EXPECT_EQ(calls[1].window, d.window);
    EXPECT_EQ(calls[1].flags, DWORD(DDSCL_NORMAL));
    EXPECT_EQ(calls[2].recordSize, sizeof(DDCAPS));

    const DDSURFACEDESC2 &primaryDesc = calls[3].desc;
    EXPECT_EQ(primaryDesc.dwSize, sizeof(DDSURFACEDESC2));
    EXPECT_EQ(primaryDesc.dwFlags, 0x1u);
    EXPECT_EQ(primaryDesc.ddsCaps.dwCaps, 0x200u);

    // The frame surface in YV12, the aux surface in the primary's format.
    const struct {
        const KplatDdrawCall &call;
        DWORD flags, pixelFlags, fourcc, format;
    } kOffscreen[] = {{calls[4], 0x1007u, DDPF_FOURCC, kYv12, kYv12}, {calls[5], 0x7u, 0, 0, kAux}};
    for (const auto &s : kOffscreen) {
        const DDSURFACEDESC2 &desc = s.call.desc;
        EXPECT_EQ(desc.dwFlags, s.flags) << s.format;
        EXPECT_EQ(desc.dwWidth, DWORD(kWidth)) << s.format;
        EXPECT_EQ(desc.dwHeight, DWORD(kHeight)) << s.format;
        EXPECT_EQ(desc.ddpfPixelFormat.dwSize, 32u) << s.format;
        EXPECT_EQ(desc.ddpfPixelFormat.dwFlags, s.pixelFlags) << s.format;
        EXPECT_EQ(desc.ddpfPixelFormat.dwFourCC, s.fourcc) << s.format;
        EXPECT_EQ(desc.ddsCaps.dwCaps, 0x4040u) << s.format;
        EXPECT_EQ(s.call.format, s.format);
    }

    EXPECT_EQ(calls[6].flags, 0u);
    EXPECT_EQ(calls[7].flags, 0u);
    EXPECT_EQ(calls[7].window, d.window);
    EXPECT_EQ(calls[8].object, primary);
    EXPECT_EQ(calls[8].other, calls[6].other) << "the new clipper goes onto the primary";

    for (int i : {9, 10}) {
        EXPECT_EQ(calls[i].object, i == 9 ? frame : aux) << "fill " << i;
        EXPECT_EQ(calls[i].flags, DWORD(DDBLT_COLORFILL)) << "fill " << i;
        EXPECT_EQ(calls[i].recordSize, sizeof(DDBLTFX)) << "fill " << i;
        EXPECT_EQ(calls[i].fx.dwFillColor, 0u) << "fill " << i;
        EXPECT_FALSE(calls[i].hasDestRect) << "fill " << i;
    }

    // The frame surface is made black in its own format before the test blit
    // shows it, on the window's outer rectangle as set-up found it.
    EXPECT_EQ(calls[11].object, frame);
    const KplatDdrawCall &test = calls[13];
    EXPECT_EQ(test.object, primary);
    EXPECT_EQ(test.other, frame);
    EXPECT_EQ(test.flags, DWORD(DDBLT_WAIT));
    EXPECT_FALSE(test.hasFx);
    EXPECT_FALSE(test.hasSrcRect);
    ASSERT_TRUE(test.hasDestRect);
    RECT outer;
    GetWindowRect(d.window, &outer);
    EXPECT_EQ(std::memcmp(&test.destRect, &outer, sizeof(RECT)), 0);
}

TEST_F(SetupTest, Rgb565PixelFormat) {
    kplat_ddraw_set_caps(DDCAPS_BLT);
    d.Init(kWidth, kHeight);
    ASSERT_EQ(d.Mode(), ModeRGB565Surface);
    const DDPIXELFORMAT pf = DdrawCalls("IDirectDraw7::CreateSurface")[1].desc.ddpfPixelFormat;
    EXPECT_EQ(pf.dwFlags, DWORD(DDPF_RGB));
    EXPECT_EQ(pf.dwFourCC, 0u);
    EXPECT_EQ(pf.dwRGBBitCount, 16u);
    EXPECT_EQ(pf.dwRBitMask, 0xF800u);
    EXPECT_EQ(pf.dwGBitMask, 0x07E0u);
    EXPECT_EQ(pf.dwBBitMask, 0x001Fu);
    EXPECT_EQ(pf.dwRGBAlphaBitMask, 0u);
}

TEST_F(SetupTest, SecondInitReleasesEverythingFirst) {
    d.Init(kWidth, kHeight);
    d.Init(32, 16);
    EXPECT_EQ(kplat_live_objects(KPLAT_OBJ_DDRAW), 1);
    EXPECT_EQ(kplat_live_objects(KPLAT_OBJ_SURFACE), 3);
    EXPECT_EQ(kplat_live_objects(KPLAT_OBJ_CLIPPER), 1);
    std::vector<KplatDdrawCall> calls = DdrawCalls();
    ASSERT_GE(calls.size(), 2u);
    // The old DirectDraw object leaves the cooperative level before the new one exists.
    EXPECT_STREQ(calls[0].method, "IDirectDraw7::SetCooperativeLevel");
    EXPECT_EQ(calls[0].window, nullptr);
    EXPECT_STREQ(calls[1].method, "DirectDrawCreateEx");
    const DDSURFACEDESC2 frame = DdrawCalls("IDirectDraw7::CreateSurface")[1].desc;
    EXPECT_EQ(frame.dwWidth, 32u);
    EXPECT_EQ(frame.dwHeight, 16u);
    EXPECT_EQ(d.Draw(YuvFrame(32, 16)), 0);
}

}  // namespace
