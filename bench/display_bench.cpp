// Per-frame cost of each presentation path on the stand-in (headless
// windows), and a 16-display wall driven at 25 frames per second.
//
// "present/<path>/<frame>/<window>": a whole KESTRA_DWDrawYUV420 call. The
// counter own_ms is the library's own pixel work for that path timed alone
// (conversion or plane copy at frame size), copy_ms one copy of the frame's
// YV12 bytes; the rest of the call is the stand-in (locks, blits, scaling).
#include <windows.h>
#include <ddraw.h>

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench_frames.h"
#include "convert/convert.h"
#include "convert/dispatch.h"
#include "kestra/kestra.h"
#include "kestra/platform.h"
#include "kestra/platform_test.h"

namespace kestra_bench {

namespace {

enum class Path { Gdi, Yv12, Uyvy, Rgb565 };

const char *PathName(Path p) {
    switch (p) {
        case Path::Gdi:
            return "gdi";
        case Path::Yv12:
            return "yv12";
        case Path::Uyvy:
            return "uyvy";
        case Path::Rgb565:
            return "rgb565";
    }
    return "?";
}

// Steers the stand-in's adapter so that InitDraw settles on the path.
void ChooseAdapter(Path path) {
    kplat_ddraw_reset();
    switch (path) {
        case Path::Gdi:
            kplat_ddraw_set_available(FALSE);
            break;
        case Path::Yv12:
            break;
        case Path::Uyvy: {
            const DWORD uyvy = MAKEFOURCC('U', 'Y', 'V', 'Y');
            kplat_ddraw_set_fourccs(&uyvy, 1);
            break;
        }
        case Path::Rgb565:
            kplat_ddraw_set_caps(DDCAPS_BLT);
            break;
    }
}

struct Display {
    HWND window = nullptr;
    KestraDisplay handle = nullptr;

    Display(Path path, int frameW, int frameH, int x, int y, int winW, int winH) {
        ChooseAdapter(path);
        window = kplat_create_window("bench", x, y, winW, winH, 0);
        KESTRA_DWOpenDraw(&handle);
        KESTRA_DWSetHwnd(handle, window);
        KESTRA_DWInitDraw(handle, frameW, frameH);
    }
    ~Display() {
        KESTRA_DWCloseDraw(handle);
        kplat_destroy_window(window);
    }
    int32_t Draw(const Frame &f) {
        return KESTRA_DWDrawYUV420(handle, f.y(), f.width, f.u(), f.v(), f.width / 2, 0, 0, 0);
    }
};

template <class Fn>
double MillisecondsPerCall(Fn fn, int calls) {
    fn();
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < calls; ++i) fn();
    const std::chrono::duration<double, std::milli> spent =
        std::chrono::steady_clock::now() - start;
    return spent.count() / calls;
}

// The pixel work the path does inside the library, alone.
double OwnWorkMs(Path path, const Frame &f) {
    const size_t pixels = static_cast<size_t>(f.width) * f.height;
    std::vector<uint8_t> out(pixels * 3);
    const kestra::ConverterTable &t = kestra::Converters();
    switch (path) {
        case Path::Gdi:
            return MillisecondsPerCall(
                [&] {
                    t.rgb24Full(f.y(), f.width, f.u(), f.v(), f.width / 2, out.data(),
                                (3 * f.width + 3) & ~3, f.width, -f.height,
                                kestra::colour::kBt601Studio);
                },
                20);
        case Path::Yv12:
            return MillisecondsPerCall([&] { std::memcpy(out.data(), f.y(), pixels * 3 / 2); }, 20);
        case Path::Uyvy:
            return MillisecondsPerCall(
                [&] {
                    t.uyvy(f.y(), f.width, f.u(), f.v(), f.width / 2, out.data(), 2 * f.width,
                           f.width, f.height, kestra::colour::kBt601Studio);
                },
                20);
        case Path::Rgb565:
            return MillisecondsPerCall(
                [&] {
                    t.rgb565(f.y(), f.width, f.u(), f.v(), f.width / 2, out.data(), 2 * f.width,
                             f.width, f.height, kestra::colour::kBt601Studio);
                    std::memcpy(out.data() + pixels * 2, out.data(), pixels);  // the row copy
                },
                20);
    }
    return 0;
}

void Present(benchmark::State &state, Path path, int frameW, int frameH, int winW, int winH) {
    const Frame frame(frameW, frameH);
    Display display(path, frameW, frameH, 0, 0, winW, winH);
    const bool surfaces = kplat_live_objects(KPLAT_OBJ_SURFACE) > 0;
    if (display.Draw(frame) != 0 || surfaces != (path != Path::Gdi)) {
        state.SkipWithError("the display did not settle on this path");
        return;
    }
    for (auto _ : state) benchmark::DoNotOptimize(display.Draw(frame));
    state.counters["own_ms"] = OwnWorkMs(path, frame);
    std::vector<uint8_t> copy(frame.planes.size());
    state.counters["copy_ms"] = MillisecondsPerCall(
        [&] { std::memcpy(copy.data(), frame.planes.data(), copy.size()); }, 20);
}

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// 16 displays of 704x576 tiled over the desktop; two threads each draw eight
// of them once per 40 ms tick for a fixed number of ticks.
void Wall(benchmark::State &state, Path path) {
    constexpr int kDisplays = 16, kThreads = 2, kTicks = 75;
    const Frame frame(704, 576);
    int deskW = 1920, deskH = 1080;
    kplat_get_desktop_size(&deskW, &deskH);
    std::vector<std::unique_ptr<Display>> displays;
    for (int i = 0; i < kDisplays; ++i) {
        const int w = deskW / 4, h = deskH / 4;
        displays.push_back(
            std::make_unique<Display>(path, 704, 576, (i % 4) * w, (i / 4) * h, w, h));
    }
    for (auto _ : state) {
        const double cpuStart = CpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                for (int tick = 0; tick < kTicks; ++tick) {
                    for (int i = t; i < kDisplays; i += kThreads) displays[i]->Draw(frame);
                    std::this_thread::sleep_until(start +
                                                  std::chrono::milliseconds(40 * (tick + 1)));
                }
            });
        }
        for (auto &th : threads) th.join();
        const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
        state.counters["cpu_percent_one_core"] = 100.0 * (CpuSeconds() - cpuStart) / wall.count();
        state.counters["fps_per_display"] = kTicks / wall.count();
    }
}

}  // namespace

void RegisterDisplayBenchmarks() {
    struct Case {
        int w, h;
    };
    for (Path path : {Path::Gdi, Path::Yv12, Path::Uyvy, Path::Rgb565}) {
        for (Case c : {Case{704, 576}, Case{1920, 1080}}) {
            const std::string name = std::string("present/") + PathName(path) + "/" +
                                     std::to_string(c.w) + "x" + std::to_string(c.h) + "/1280x720";
            benchmark::RegisterBenchmark(
                name.c_str(),
                [path, c](benchmark::State &st) { Present(st, path, c.w, c.h, 1280, 720); })
                ->Unit(benchmark::kMillisecond)
                ->UseRealTime();
        }
    }
    for (Path path : {Path::Yv12, Path::Gdi}) {
        benchmark::RegisterBenchmark((std::string("wall16/") + PathName(path) + "/704x576").c_str(),
                                     [path](benchmark::State &st) { Wall(st, path); })
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->Iterations(1);
    }
}

}  // namespace kestra_bench
