// How a renderer shrinks a camera's frame into a tile, for running under Wine
// (or on Windows):
//   kestra_scaling_check.exe RENDERER
// A 1920x1080 frame holding a luma zone plate (rings whose frequency rises
// to the Nyquist limit at the corners), then a 1-pixel checkerboard, is drawn
// into windows of a sixth (320x180) and a half (960x540) of its size, in the
// fast and the smooth mode, and read back through the screen DC once the
// picture has settled. The zone plate is compared with the area average of
// the library's own RGB24 conversion of the frame (PSNR, dB); of the
// checkerboard, whose area average is flat grey, the standard deviation of
// what is shown (0 is flat) and its mean (the grey is 128 in green). The renderer goes into LOG.INI
// beside the program before kestra.dll is loaded. Prints tab-separated "scaling" lines that
// scripts/bench gathers into a table.
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "kestra/kestra.h"
#include "win_load.h"

namespace {

constexpr int kWidth = 1920, kHeight = 1080;
constexpr double kPi = 3.14159265358979323846;

struct Exports {
    decltype(&KESTRA_DWOpenDraw) open;
    decltype(&KESTRA_DWSetHwnd) setHwnd;
    decltype(&KESTRA_DWInitDraw) init;
    decltype(&KESTRA_DWDrawYUV420) draw;
    decltype(&KESTRA_DWCloseDraw) close;
    decltype(&KESTRA_DWSetScaling) setScaling;
    decltype(&KESTRA_yv12_to_rgb24_c) toRgb24;
};

using bench::Find;

bool Load(const std::string &renderer, Exports *e) {
    HMODULE dll = bench::LoadKestra(renderer);
    return dll && Find(dll, "KESTRA_DWOpenDraw", &e->open) &&
           Find(dll, "KESTRA_DWSetHwnd", &e->setHwnd) && Find(dll, "KESTRA_DWInitDraw", &e->init) &&
           Find(dll, "KESTRA_DWDrawYUV420", &e->draw) &&
           Find(dll, "KESTRA_DWCloseDraw", &e->close) &&
           Find(dll, "KESTRA_DWSetScaling", &e->setScaling) &&
           Find(dll, "KESTRA_yv12_to_rgb24_c", &e->toRgb24);
}

struct Frame {
    std::vector<uint8_t> y, u, v;
    Frame() : y(size_t(kWidth) * kHeight), u(y.size() / 4, 128), v(y.size() / 4, 128) {}
};

Frame ZonePlate() {
    Frame f;
    const double cx = kWidth / 2.0, cy = kHeight / 2.0, farthest = std::hypot(cx, cy);
    for (int row = 0; row < kHeight; ++row)
        for (int x = 0; x < kWidth; ++x) {
            const double r2 = (x - cx) * (x - cx) + (row - cy) * (row - cy);
            f.y[size_t(row) * kWidth + x] =
                uint8_t(std::lround(125.5 + 109 * std::cos(kPi * r2 / (2 * farthest))));
        }
    return f;
}

Frame Checkerboard() {
    Frame f;
    for (int row = 0; row < kHeight; ++row)
        for (int x = 0; x < kWidth; ++x) f.y[size_t(row) * kWidth + x] = (x + row) % 2 ? 235 : 16;
    return f;
}

// The frame's RGB24 conversion averaged over each window pixel's block.
std::vector<double> AreaAverage(const Exports &kestra, const Frame &f, int ratio) {
    std::vector<uint8_t> rgb(size_t(kWidth) * kHeight * 3);
    kestra.toRgb24(rgb.data(), kWidth, f.y.data(), f.u.data(), f.v.data(), kWidth, kWidth / 2,
                   kWidth, kHeight);
    const int w = kWidth / ratio, h = kHeight / ratio;
    std::vector<double> average(size_t(w) * h * 3, 0.0);
    for (int row = 0; row < h * ratio; ++row)
        for (int x = 0; x < w * ratio; ++x)
            for (int c = 0; c < 3; ++c)
                average[(size_t(row / ratio) * w + x / ratio) * 3 + c] +=
                    rgb[(size_t(row) * kWidth + x) * 3 + c] / double(ratio * ratio);
    return average;
}

// The client area as the screen shows it, blue first, 4 bytes a pixel.
std::vector<uint32_t> ReadClient(HWND window, int w, int h) {
    POINT origin = {0, 0};
    ClientToScreen(window, &origin);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void *bits = nullptr;
    HDC screen = GetDC(nullptr), memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    std::vector<uint32_t> pixels(size_t(w) * h);
    if (bitmap) {
        HGDIOBJ previous = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, w, h, screen, origin.x, origin.y, SRCCOPY);
        GdiFlush();
        std::memcpy(pixels.data(), bits, pixels.size() * 4);
        SelectObject(memory, previous);
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return pixels;
}

void PumpFor(DWORD milliseconds) {
    const DWORD end = GetTickCount() + milliseconds;
    for (DWORD now = GetTickCount(); int32_t(end - now) > 0; now = GetTickCount()) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, end - now, QS_ALLINPUT);
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
    }
}

double Psnr(const std::vector<uint32_t> &shown, const std::vector<double> &reference) {
    double squares = 0;
    for (size_t i = 0; i < shown.size(); ++i)
        for (int c = 0; c < 3; ++c) {
            const double d = double((shown[i] >> (8 * c)) & 0xFF) - reference[i * 3 + size_t(c)];
            squares += d * d;
        }
    const double mse = squares / double(shown.size() * 3);
    return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

// The green channel's standard deviation and mean: a flat picture has no
// deviation, but only the right grey has the checkerboard's mean.
void Spread(const std::vector<uint32_t> &shown, double *deviation, double *mean) {
    double sum = 0, squares = 0;
    for (uint32_t p : shown) {
        const double g = (p >> 8) & 0xFF;
        sum += g;
        squares += g * g;
    }
    const double n = double(shown.size());
    *mean = sum / n;
    *deviation = std::sqrt(std::max(0.0, squares / n - *mean * *mean));
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: kestra_scaling_check RENDERER\n");
        return 2;
    }
    const std::string renderer = argv[1];
    Exports kestra{};
    if (!Load(renderer, &kestra)) return 1;

    WNDCLASSA cls = {};
    cls.lpfnWndProc = DefWindowProcA;
    cls.hInstance = GetModuleHandleA(nullptr);
    cls.lpszClassName = "kestra scaling";
    RegisterClassA(&cls);
    const Frame zone = ZonePlate(), checker = Checkerboard();
    for (int ratio : {6, 2}) {
        const int w = kWidth / ratio, h = kHeight / ratio;
        const std::vector<double> reference = AreaAverage(kestra, zone, ratio);
        for (int mode : {0, 1}) {
            // A 1-pixel border, as the library's window rect arithmetic expects.
            HWND window = CreateWindowExA(WS_EX_NOACTIVATE, cls.lpszClassName, "scaling",
                                          WS_POPUP | WS_BORDER, 0, 0, w + 2, h + 2, nullptr,
                                          nullptr, cls.hInstance, nullptr);
            ShowWindow(window, SW_SHOWNOACTIVATE);
            PumpFor(200);
            KestraDisplay display = nullptr;
            kestra.open(&display);
            kestra.setHwnd(display, window);
            kestra.init(display, kWidth, kHeight);
            kestra.setScaling(display, mode);
            double psnr = 0, deviation = 0, mean = 0;
            for (int pattern = 0; pattern < 2; ++pattern) {
                const Frame &f = pattern == 0 ? zone : checker;
                // A few frames, as a player draws them: the first after set-up may not show.
                for (int n = 0; n < 3; ++n) {
                    kestra.draw(display, f.y.data(), kWidth, f.u.data(), f.v.data(), kWidth / 2, 0,
                                0, 0);
                    PumpFor(150);
                }
                const std::vector<uint32_t> shown = ReadClient(window, w, h);
                if (pattern == 0)
                    psnr = Psnr(shown, reference);
                else
                    Spread(shown, &deviation, &mean);
            }
            kestra.close(display);
            DestroyWindow(window);
            std::printf("scaling\t%d\t%s\t1/%d\t%s\t%.1f\t%.1f\t%.0f\n", int(8 * sizeof(void *)),
                        renderer.c_str(), ratio, mode ? "smooth" : "fast", psnr, deviation, mean);
        }
    }
    return 0;
}
