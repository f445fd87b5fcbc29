// The Direct3D 11 output on the machine's own Direct3D (Wine's, in the
// harness), checked by what the screen shows in the client area.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <atomic>
#include <functional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "conformance/host_window.h"
#include "convert/convert.h"
#include "display/d3d11_faults.h"

namespace kestra {
namespace {

constexpr int kTolerance = 2;

struct Planes {
    int width, height;
    std::vector<uint8_t> y, u, v;

    Planes(int w, int h)
        : width(w), height(h), y(size_t(w) * h), u(size_t(w / 2) * (h / 2)), v(u.size()) {}
    FrameArgs Frame() const {
        return FrameArgs{y.data(), width, u.data(), v.data(), width / 2, 0, 0, 0};
    }
    RECT Whole() const { return RECT{0, 0, width, height}; }
    // Fills every pixel with yuv(x, y), the chroma from each 2x2 block's top-left pixel.
    void Fill(const std::function<void(int, int, uint8_t *)> &yuv) {
        uint8_t sample[3];
        for (int row = 0; row < height; ++row)
            for (int column = 0; column < width; ++column) {
                yuv(column, row, sample);
                y[size_t(row) * width + column] = sample[0];
                if (row % 2 || column % 2 || row / 2 >= height / 2 || column / 2 >= width / 2)
                    continue;
                u[size_t(row / 2) * (width / 2) + column / 2] = sample[1];
                v[size_t(row / 2) * (width / 2) + column / 2] = sample[2];
            }
    }
};

uint32_t Converted(uint8_t y, uint8_t u, uint8_t v,
                   const colour::Record &colour = colour::kBt601Studio) {
    uint8_t bgr[3];
    yuv_to_rgb24_pixel_c(y, u, v, bgr, colour);
    return uint32_t(bgr[2]) << 16 | uint32_t(bgr[1]) << 8 | bgr[0];
}

int Distance(uint32_t a, uint32_t b) {
    int most = 0;
    for (int shift = 0; shift < 24; shift += 8)
        most = std::max(most, std::abs(int((a >> shift) & 255) - int((b >> shift) & 255)));
    return most;
}

std::string Hex(uint32_t xrgb) {
    char text[16];
    std::snprintf(text, sizeof text, "%06X", unsigned(xrgb));
    return text;
}

bool OnWine() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

// Text above the frame: the frame goes through the OSD picture and shows as it is.
OsdPainter TextOffTheFrame() {
    OsdPainter osd;
    osd.slots[0].Set("-", 0, -100, 0, RGB(255, 255, 255));
    return osd;
}

// A frame as a display hands it to its presenter; the output has no use for
// the host's drawing or the display's window record.
struct Handed {
    FrameArgs frame;
    RECT source;
    bool mirrored = false;
    OsdPainter osd = {};
    const colour::Record *colour = &colour::kBt601Studio;
    Scaling scaling = Scaling::Default;
};

class NoDrawing : public HostDrawing {
public:
    bool Wanted() const override { return false; }
    void Run(HDC, int32_t, int32_t) const override {}
};

Presented Present(D3D11Output &output, const Handed &handed) {
    const NoDrawing drawing;
    const WindowTarget window = {};
    return output.Present(FrameContext{handed.frame, handed.source, handed.mirrored, handed.scaling,
                                       *handed.colour, handed.osd, drawing, window});
}

// What a check found wrong with the client area, or "" when it holds.
using Check = std::function<std::string(const std::vector<uint32_t> &client, int width)>;

class D3D11OutputTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { build_rgb24_tables(); }
    void TearDown() override {
        output.reset();
        host::DestroyHostWindow(window);
    }
    ::testing::AssertionResult Open(int clientWidth, int clientHeight, int frameWidth,
                                    int frameHeight) {
        window = host::CreateHostWindow(clientWidth, clientHeight);
        if (!window) return ::testing::AssertionFailure() << "no window";
        output = D3D11Output::Create(PresenterSetUp{window, frameWidth, frameHeight, {}, OnWine()});
        if (!output)
            return ::testing::AssertionFailure() << "no Direct3D 11 output on this machine";
        return ::testing::AssertionSuccess();
    }

    std::string ShowUntil(const Handed &handed, const Check &check, HWND target = nullptr) {
        return ShowOnUntil(*output, target ? target : window, handed, check);
    }

    // Shows the frame and reads `target` until the check holds, for 30
    // frames at most: the screen shows a Present a little later, and a host's
    // own paint may cover a frame until the next, as a player would send.
    static std::string ShowOnUntil(D3D11Output &on, HWND target, const Handed &handed,
                                   const Check &check) {
        RECT client = {};
        GetClientRect(target, &client);
        std::string problem = "not presented";
        for (int shown = 0; shown < 30; ++shown) {
            if (Present(on, handed) != Presented::Shown) return "not presented";
            problem = check(host::ReadClient(target), client.right);
            if (problem.empty()) break;
        }
        return problem;
    }

    HWND window = nullptr;
    std::unique_ptr<D3D11Output> output;
};

uint32_t At(const std::vector<uint32_t> &client, int width, int x, int y) {
    return client[size_t(y) * width + x];
}

std::string Mismatch(const std::string &what, uint32_t expected, uint32_t shown) {
    if (Distance(expected, shown) <= kTolerance) return "";
    return what + ": expected " + Hex(expected) + ", shown " + Hex(shown);
}

// 16 x 8 x 8 (y, u, v) triples as 8x8 blocks, shown 1:1, straight from the
// planes and through the OSD picture, for every colour record (by index).
class D3D11ColourTest : public D3D11OutputTest,
                        public ::testing::WithParamInterface<std::tuple<bool, int>> {};

TEST_P(D3D11ColourTest, EveryTripleWithinTwoOfTheConverter) {
    ASSERT_TRUE(Open(256, 256, 256, 256));
    auto triple = [](int block, uint8_t *yuv) {
        yuv[0] = uint8_t(block / 64 * 17);
        yuv[1] = uint8_t(block / 8 % 8 * 36 + 2);
        yuv[2] = uint8_t(block % 8 * 36 + 2);
    };
    const bool throughOsd = std::get<0>(GetParam());
    const colour::Record &record = colour::kRecords[std::get<1>(GetParam())];
    Planes planes(256, 256);
    planes.Fill([&](int x, int y, uint8_t *yuv) { triple(y / 8 * 32 + x / 8, yuv); });
    int worst = 0;
    auto check = [&](const std::vector<uint32_t> &client, int width) {
        std::string first;
        int off = 0;
        worst = 0;
        for (int block = 0; block < 1024; ++block) {
            uint8_t yuv[3];
            triple(block, yuv);
            const uint32_t expected = Converted(yuv[0], yuv[1], yuv[2], record);
            const uint32_t shown = At(client, width, block % 32 * 8 + 4, block / 32 * 8 + 4);
            worst = std::max(worst, Distance(shown, expected));
            if (Distance(shown, expected) <= kTolerance || off++) continue;
            first = Mismatch("yuv " + std::to_string(yuv[0]) + "," + std::to_string(yuv[1]) + "," +
                                 std::to_string(yuv[2]),
                             expected, shown);
        }
        return off ? std::to_string(off) + " triples off, the first " + first : "";
    };
    const Handed handed{planes.Frame(), planes.Whole(), false,
                        throughOsd ? TextOffTheFrame() : OsdPainter(), &record};
    EXPECT_EQ(ShowUntil(handed, check), "");
    std::printf("worst channel difference %d\n", worst);
}

INSTANTIATE_TEST_SUITE_P(
    PathsAndRecords, D3D11ColourTest,
    ::testing::Combine(::testing::Values(false, true), ::testing::Range(0, colour::kRecordCount)),
    [](const ::testing::TestParamInfo<std::tuple<bool, int>> &param) {
        const colour::Record &record = colour::kRecords[std::get<1>(param.param)];
        return std::string(std::get<0>(param.param) ? "ThroughOsd" : "FromPlanes") +
               (record.matrix == colour::Matrix::Bt709 ? "_bt709" : "_bt601") +
               (record.range == colour::Range::Full ? "_full" : "_studio");
    });

// Random bytes, odd sizes, 1:1 through the OSD picture: the last column and
// row take the nearest chroma sample, as the converters' edge pixels do.
TEST_F(D3D11OutputTest, OddFrameMatchesTheConverterPixelForPixel) {
    constexpr int kWidth = 33, kHeight = 17;
    ASSERT_TRUE(Open(kWidth, kHeight, kWidth, kHeight));
    const unsigned seed = GetTickCount();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::srand(seed);
    Planes planes(kWidth, kHeight);
    for (auto *plane : {&planes.y, &planes.u, &planes.v})
        for (uint8_t &byte : *plane) byte = uint8_t(std::rand());
    // Picture row y is plane row y, or, read upwards, row kHeight - 1 - y.
    const int chromaRows = kHeight / 2, chromaColumns = kWidth / 2;
    auto matches = [&](bool upwards) {
        return [&, upwards](const std::vector<uint32_t> &client, int width) {
            for (int y = 0; y < kHeight; ++y)
                for (int x = 0; x < kWidth; ++x) {
                    const int row = upwards ? kHeight - 1 - y : y;
                    const int chromaRow = std::min(y / 2, chromaRows - 1);
                    const size_t chroma =
                        size_t(upwards ? chromaRows - 1 - chromaRow : chromaRow) * chromaColumns +
                        size_t(std::min(x / 2, chromaColumns - 1));
                    const std::string problem =
                        Mismatch((upwards ? "upwards pixel " : "pixel ") + std::to_string(x) + "," +
                                     std::to_string(y),
                                 Converted(planes.y[size_t(row) * kWidth + x], planes.u[chroma],
                                           planes.v[chroma]),
                                 At(client, width, x, y));
                    if (!problem.empty()) return problem;
                }
            return std::string();
        };
    };
    EXPECT_EQ(ShowUntil({planes.Frame(), planes.Whole(), false, TextOffTheFrame()}, matches(false)),
              "");

    // Negative strides read the rows upwards from the last one, as every
    // presenter reads rows at base + row x stride: the picture upside down.
    FrameArgs upwards = planes.Frame();
    upwards.y += size_t(kHeight - 1) * kWidth;
    upwards.u += size_t(chromaRows - 1) * chromaColumns;
    upwards.v += size_t(chromaRows - 1) * chromaColumns;
    upwards.yStride = -kWidth;
    upwards.uvStride = -chromaColumns;
    EXPECT_EQ(ShowUntil({upwards, planes.Whole(), false, TextOffTheFrame()}, matches(true)), "");
}

TEST_F(D3D11OutputTest, LumaRampKeepsItsLevels) {
    ASSERT_TRUE(Open(256, 16, 256, 16));
    Planes planes(256, 16);
    planes.Fill([](int x, int, uint8_t *yuv) { yuv[0] = uint8_t(x), yuv[1] = yuv[2] = 128; });
    size_t levels = 0;
    auto check = [&](const std::vector<uint32_t> &client, int width) {
        std::set<uint32_t> seen;
        for (int x = 0; x < 256; ++x) seen.insert(At(client, width, x, 8));
        levels = seen.size();
        return levels > 150 ? "" : std::to_string(levels) + " levels";
    };
    EXPECT_EQ(ShowUntil({planes.Frame(), planes.Whole()}, check), "");
    std::printf("%zu distinct levels\n", levels);
}

// Four grey stripes; the right two, mirrored, fill a client twice as wide.
TEST_F(D3D11OutputTest, CropAndMirror) {
    ASSERT_TRUE(Open(128, 32, 64, 32));
    Planes planes(64, 32);
    planes.Fill([](int x, int, uint8_t *yuv) {
        yuv[0] = uint8_t(40 + x / 16 * 50), yuv[1] = yuv[2] = 128;
    });
    auto check = [](const std::vector<uint32_t> &client, int width) {
        return Mismatch("left", Converted(190, 128, 128), At(client, width, 16, 16)) +
               Mismatch("right", Converted(140, 128, 128), At(client, width, 112, 16));
    };
    EXPECT_EQ(ShowUntil({planes.Frame(), RECT{32, 0, 64, 32}, true}, check), "");
}

TEST_F(D3D11OutputTest, OsdIsPaintedInFramePixelsAndScaled) {
    ASSERT_TRUE(Open(128, 128, 64, 64));
    Planes planes(64, 64);
    planes.Fill([](int, int, uint8_t *yuv) { yuv[0] = 16, yuv[1] = yuv[2] = 128; });
    // White text at (8, 8) and yellow at (8, 32), in frame pixels.
    Handed handed{planes.Frame(), planes.Whole()};
    handed.osd.slots[0].Set("OSD", 8, 8, 0, RGB(255, 255, 255));
    handed.osd.slots[1].Set("OSD", 8, 32, 0, RGB(255, 255, 0));
    auto check = [](const std::vector<uint32_t> &client, int width) {
        int white = 0, yellow = 0, outside = 0;
        for (int y = 0; y < 128; ++y)
            for (int x = 0; x < 128; ++x) {
                const uint32_t pixel = At(client, width, x, y);
                if (Distance(pixel & 0xFFFF00u, 0xFFFF00u) > 64) continue;
                const bool isWhite = (pixel & 255) > 191, isYellow = (pixel & 255) < 64;
                white += isWhite, yellow += isYellow;
                outside += isWhite ? x < 16 || y < 16 || y >= 64 : isYellow && (x < 16 || y < 64);
            }
        if (white > 40 && yellow > 40 && !outside) return std::string();
        return std::to_string(white) + " white, " + std::to_string(yellow) +
               " yellow text pixels, " + std::to_string(outside) +
               " outside (16, 16)-(128, 64) and (16, 64)-(128, 128)";
    };
    EXPECT_EQ(ShowUntil(handed, check), "");
}

TEST_F(D3D11OutputTest, FollowsTheClientAreaAndItsWindow) {
    ASSERT_TRUE(Open(64, 64, 32, 32));
    Planes planes(32, 32);
    planes.Fill([](int, int, uint8_t *yuv) { yuv[0] = 81, yuv[1] = 90, yuv[2] = 240; });
    const Handed frame{planes.Frame(), planes.Whole()};
    auto allRed = [](const std::vector<uint32_t> &client, int) {
        int off = 0;
        for (uint32_t pixel : client) off += Distance(pixel, Converted(81, 90, 240)) > kTolerance;
        return off ? std::to_string(off) + " of " + std::to_string(client.size()) + " pixels off"
                   : "";
    };
    EXPECT_EQ(Present(*output, frame), Presented::Shown);

    // A minimised window: nothing shown, and nothing wrong.
    host::ResizeHostWindow(window, 0, 0);
    EXPECT_EQ(Present(*output, frame), Presented::Shown);
    host::ResizeHostWindow(window, 160, 120);
    EXPECT_EQ(ShowUntil(frame, allRed), "");

    HWND second = host::CreateHostWindow(48, 48);
    ASSERT_TRUE(output->MoveTo(second));
    EXPECT_EQ(ShowUntil(frame, allRed, second), "");
    output.reset();
    host::DestroyHostWindow(second);
}

// Every pixel within the tolerance of one colour.
Check AllOf(uint32_t expected) {
    return [expected](const std::vector<uint32_t> &client, int) {
        int off = 0;
        for (uint32_t pixel : client) off += Distance(pixel, expected) > kTolerance;
        return off ? std::to_string(off) + " of " + std::to_string(client.size()) + " pixels off " +
                         Hex(expected)
                   : "";
    };
}

// Direct3D's own calls, counting the devices made; armed, the next Present
// reports the device removed, as after a driver reset.
class LosingCalls : public D3D11Calls {
public:
    HRESULT CreateDevice(HMODULE d3d11, IDXGIAdapter *adapter, ID3D11Device **device,
                         ID3D11DeviceContext **context) override {
        ++made;
        return D3D11Calls::CreateDevice(d3d11, adapter, device, context);
    }
    HRESULT Present(IDXGISwapChain *swapChain) override {
        if (loseNext.exchange(false)) return DXGI_ERROR_DEVICE_REMOVED;
        return D3D11Calls::Present(swapChain);
    }
    std::atomic<int> made{0};
    std::atomic<bool> loseNext{false};
};

// Two displays side by side on one pool of devices, a red and a blue frame.
class SharedDeviceTest : public D3D11OutputTest {
protected:
    void SetUp() override {
        red.Fill([](int, int, uint8_t *yuv) { yuv[0] = 81, yuv[1] = 90, yuv[2] = 240; });
        blue.Fill([](int, int, uint8_t *yuv) { yuv[0] = 41, yuv[1] = 240, yuv[2] = 110; });
        window = host::CreateHostWindow(64, 64);
        second = host::CreateHostWindow(64, 64, 140, 40);
    }
    void TearDown() override {
        first.reset();
        other.reset();
        host::DestroyHostWindow(second);
        D3D11OutputTest::TearDown();
    }
    ::testing::AssertionResult OpenBoth() {
        first = D3D11Output::Create(PresenterSetUp{window, 32, 32, {}, OnWine()}, devices);
        other = D3D11Output::Create(PresenterSetUp{second, 32, 32, {}, OnWine()}, devices);
        if (first && other) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "no Direct3D 11 output on this machine";
    }

    LosingCalls calls;
    D3D11DevicesOver devices{calls};
    Planes red{32, 32}, blue{32, 32};
    const Handed redFrame{red.Frame(), red.Whole()}, blueFrame{blue.Frame(), blue.Whole()};
    HWND second = nullptr;
    std::unique_ptr<D3D11Output> first, other;
};

// The first display draws, then goes, on one thread while the other draws on
// another: the context is shared, and what the first bound must not outlive it.
struct Race {
    D3D11Output *drawing;
    Handed drawn;
    std::unique_ptr<D3D11Output> *released;
    Handed releasedFrame;
    std::atomic<int> frames{0}, refused{0};
    std::atomic<bool> gone{false};
};

void DrawOrRelease(int thread, void *context) {
    Race *race = static_cast<Race *>(context);
    if (thread == 1) {
        for (int n = 0; n < 10; ++n)
            if (Present(**race->released, race->releasedFrame) != Presented::Shown) ++race->refused;
        while (race->frames < 10) host::SleepMs(1);
        race->released->reset();
        race->gone = true;
        return;
    }
    // On until 20 frames after the release, whenever it comes.
    for (int after = 0; after < 20; after += race->gone ? 1 : 0) {
        if (Present(*race->drawing, race->drawn) != Presented::Shown) ++race->refused;
        ++race->frames;
    }
}

TEST_F(SharedDeviceTest, TwoDisplaysOnOneDeviceAndOneReleasedWhileTheOtherDraws) {
    ASSERT_TRUE(OpenBoth());
    EXPECT_EQ(calls.made.load(), 1) << "devices made for two displays on one adapter";
    Race race{other.get(), blueFrame, &first, redFrame};
    host::RunThreads(2, DrawOrRelease, &race);
    EXPECT_EQ(race.refused.load(), 0) << "frames not presented";
    EXPECT_EQ(ShowOnUntil(*other, second, blueFrame, AllOf(Converted(41, 240, 110))), "");
}

// The display that finds the device gone fails, the other on it fails at its
// next frame without touching it, and both set up again share one new device.
TEST_F(SharedDeviceTest, LostDeviceSetsEveryDisplayOnItUpAgainOnOneNewDevice) {
    ASSERT_TRUE(OpenBoth());
    calls.loseNext = true;
    EXPECT_EQ(Present(*first, redFrame), Presented::SetUpAgain);
    EXPECT_EQ(Present(*other, blueFrame), Presented::SetUpAgain);
    ASSERT_TRUE(OpenBoth());
    EXPECT_EQ(calls.made.load(), 2) << "devices made, the first included";
    EXPECT_EQ(ShowOnUntil(*first, window, redFrame, AllOf(Converted(81, 90, 240))), "");
    EXPECT_EQ(ShowOnUntil(*other, second, blueFrame, AllOf(Converted(41, 240, 110))), "");
}

// Wine draws a child window's Direct3D into an off-screen GL window.
// Direct3D's own calls, but the shrinking filters cannot be made.
class NoAreaCalls : public D3D11Calls {
public:
    HRESULT CreateAreaShader(ID3D11Device *, const void *, SIZE_T, ID3D11PixelShader **) override {
        return E_OUTOFMEMORY;
    }
};

// Shrunk six times, columns 2 and 3 of every 6 white: the single tap lands
// between them and shows white, the footprint's average is grey.
TEST_F(D3D11OutputTest, ShrinksByTheFootprintOrWithoutItsFilterByTheSingleTap) {
    ASSERT_TRUE(Open(32, 16, 192, 96));
    Planes planes(192, 96);
    planes.Fill([](int x, int, uint8_t *yuv) {
        yuv[0] = x % 6 == 2 || x % 6 == 3 ? 235 : 16, yuv[1] = yuv[2] = 128;
    });
    const Handed frame{planes.Frame(), planes.Whole()};
    EXPECT_EQ(ShowUntil(frame, AllOf(Converted(89, 128, 128))), "");

    NoAreaCalls calls;
    D3D11DevicesOver devices{calls};
    output.reset();
    output = D3D11Output::Create(PresenterSetUp{window, 192, 96, {}, OnWine()}, devices);
    ASSERT_TRUE(output);
    EXPECT_EQ(ShowUntil(frame, AllOf(Converted(235, 128, 128))), "");
    output.reset();
}

TEST_F(D3D11OutputTest, ChildWindowUnderWineIsRefused) {
    window = host::CreateHostWindow(64, 64);
    HWND child = host::CreateChildWindow(window, 8, 8, 32, 32);
    output = D3D11Output::Create(PresenterSetUp{child, 32, 32, {}, OnWine()});
    EXPECT_EQ(output == nullptr, OnWine());
}

}  // namespace
}  // namespace kestra
