// Converters at each instruction-set level against libyuv, libswscale and a
// plain copy of the same output bytes, at three frame sizes, in one run.
// Names are "<converter>/<size>/<variant>"; scripts/bench turns them into
// ratios. Those runs repeat on the same buffers, so they meet warm caches;
// "cold/<converter>/1920x1080/<variant>" evicts every cache level before each
// timed call, as a frame fresh from a decoder that has moved on would be.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <iterator>
#include <memory>
#include <numeric>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "bench_frames.h"
#include "convert/convert.h"
#include "convert/dispatch.h"

extern "C" {
#include <libavutil/opt.h>
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}
#include <libyuv.h>

namespace {

using kestra::CpuLevel;
using kestra_bench::Frame;

struct Size {
    int width, height;
};
constexpr Size kSizes[] = {{640, 480}, {1920, 1080}, {3840, 2160}};

enum class Kind { Rgb24, Rgb565, Uyvy };
const char *KindName(Kind k) {
    return k == Kind::Rgb24 ? "rgb24" : (k == Kind::Rgb565 ? "rgb565" : "uyvy");
}
int BytesPerPixel(Kind k) { return k == Kind::Rgb24 ? 3 : 2; }

using Convert = std::function<void(const Frame &, uint8_t *)>;

void Run(benchmark::State &state, const Frame &frame, Kind kind, const Convert &convert) {
    const size_t bytes = static_cast<size_t>(frame.width) * frame.height * BytesPerPixel(kind);
    std::vector<uint8_t> out(bytes);
    for (auto _ : state) {
        convert(frame, out.data());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * bytes);
}

// Reads a buffer twice the size of the last-level cache (at least 64 MiB):
// every line of the frame and of the output is evicted, dirty ones written
// back, before the timed call starts.
class CacheSweep {
public:
    CacheSweep() {
        const long llc = sysconf(_SC_LEVEL3_CACHE_SIZE);
        const size_t bytes = std::max<size_t>(llc > 0 ? 2 * size_t(llc) : 0, size_t(64) << 20);
        lines_.assign(bytes / sizeof(uint64_t), 1);
    }
    void Run() {
        uint64_t sum = 0;
        for (size_t i = 0; i < lines_.size(); i += 64 / sizeof(uint64_t)) sum += lines_[i];
        benchmark::DoNotOptimize(sum);
    }

private:
    std::vector<uint64_t> lines_;
};

CacheSweep &Sweep() {
    static CacheSweep sweep;
    return sweep;
}

struct Variant {
    std::string name;
    Convert convert;
};

// Every variant of a kind with cold caches, in rounds: each takes one call
// per round (one iteration), so every ratio compares calls made at the same
// moments of the machine. The order is shuffled each round: in a fixed order
// the same code measured 2-4 % apart from one place in the round to another.
// The medians, in ms, are the counters.
void RunColdRounds(benchmark::State &state, const Frame &frame, Kind kind,
                   const std::vector<Variant> &variants) {
    const size_t bytes = static_cast<size_t>(frame.width) * frame.height * BytesPerPixel(kind);
    std::vector<uint8_t> out(bytes, 0);
    // Set-up a converter does on its first call stays untimed.
    for (const Variant &v : variants) v.convert(frame, out.data());
    std::vector<std::vector<double>> ms(variants.size());
    std::vector<size_t> order(variants.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::mt19937 random(1);
    for (auto _ : state) {
        std::shuffle(order.begin(), order.end(), random);
        for (const size_t i : order) {
            Sweep().Run();
            const auto start = std::chrono::steady_clock::now();
            variants[i].convert(frame, out.data());
            benchmark::DoNotOptimize(out.data());
            benchmark::ClobberMemory();
            ms[i].push_back(
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                    .count());
        }
    }
    for (size_t i = 0; i < variants.size(); ++i) {
        std::vector<double> &t = ms[i];
        std::nth_element(t.begin(), t.begin() + t.size() / 2, t.end());
        state.counters[variants[i].name] = t.empty() ? 0 : t[t.size() / 2];
    }
}

Convert Ours(Kind kind, const kestra::ConverterTable &t,
             const kestra::colour::Record &colour = kestra::colour::kBt601Studio) {
    switch (kind) {
        case Kind::Rgb24:
            return [&t, &colour](const Frame &f, uint8_t *out) {
                t.rgb24(f.y(), f.width, f.u(), f.v(), f.width / 2, out, 3 * f.width, f.width,
                        f.height, colour);
            };
        case Kind::Rgb565:
            return [&t, &colour](const Frame &f, uint8_t *out) {
                t.rgb565(f.y(), f.width, f.u(), f.v(), f.width / 2, out, 2 * f.width, f.width,
                         f.height, colour);
            };
        case Kind::Uyvy:
            break;
    }
    return [&t, &colour](const Frame &f, uint8_t *out) {
        t.uyvy(f.y(), f.width, f.u(), f.v(), f.width / 2, out, 2 * f.width, f.width, f.height,
               colour);
    };
}

Convert Libyuv(Kind kind) {
    switch (kind) {
        case Kind::Rgb24:
            return [](const Frame &f, uint8_t *out) {
                libyuv::I420ToRGB24(f.y(), f.width, f.u(), f.width / 2, f.v(), f.width / 2, out,
                                    3 * f.width, f.width, f.height);
            };
        case Kind::Rgb565:
            return [](const Frame &f, uint8_t *out) {
                libyuv::I420ToRGB565(f.y(), f.width, f.u(), f.width / 2, f.v(), f.width / 2, out,
                                     2 * f.width, f.width, f.height);
            };
        case Kind::Uyvy:
            break;
    }
    return [](const Frame &f, uint8_t *out) {
        libyuv::I420ToUYVY(f.y(), f.width, f.u(), f.width / 2, f.v(), f.width / 2, out, 2 * f.width,
                           f.width, f.height);
    };
}

// One context per benchmark, single-threaded, same size in and out.
Convert Swscale(Kind kind, const Frame &frame) {
    const AVPixelFormat format = kind == Kind::Rgb24    ? AV_PIX_FMT_BGR24
                                 : kind == Kind::Rgb565 ? AV_PIX_FMT_RGB565LE
                                                        : AV_PIX_FMT_UYVY422;
    SwsContext *ctx = sws_alloc_context();
    av_opt_set_int(ctx, "srcw", frame.width, 0);
    av_opt_set_int(ctx, "srch", frame.height, 0);
    av_opt_set_int(ctx, "src_format", AV_PIX_FMT_YUV420P, 0);
    av_opt_set_int(ctx, "dstw", frame.width, 0);
    av_opt_set_int(ctx, "dsth", frame.height, 0);
    av_opt_set_int(ctx, "dst_format", format, 0);
    av_opt_set_int(ctx, "sws_flags", SWS_BILINEAR, 0);
    av_opt_set_int(ctx, "threads", 1, 0);
    if (sws_init_context(ctx, nullptr, nullptr) < 0) {
        sws_freeContext(ctx);
        return nullptr;
    }
    const int bpp = BytesPerPixel(kind);
    return [ctx, bpp](const Frame &f, uint8_t *out) {
        const uint8_t *src[3] = {f.y(), f.u(), f.v()};
        const int srcStride[3] = {f.width, f.width / 2, f.width / 2};
        uint8_t *dst[1] = {out};
        const int dstStride[1] = {bpp * f.width};
        sws_scale(ctx, src, srcStride, 0, f.height, dst, dstStride);
    };
}

Convert Copy(Kind kind) {
    auto source = std::make_shared<std::vector<uint8_t>>();
    return [source, kind](const Frame &f, uint8_t *out) {
        const size_t bytes = static_cast<size_t>(f.width) * f.height * BytesPerPixel(kind);
        if (source->size() != bytes) source->assign(bytes, 0x5A);
        std::memcpy(out, source->data(), bytes);
    };
}

#if defined(__SSE2__)
// The copy with streaming stores from the output's first 64-byte boundary: how
// far storing around the caches alone takes a conversion below the copy on
// the machine at hand (on a Zen 5 guest, 0.66-0.92 of it at 3840x2160 over ten
// runs, where the traffic alone would say about 0.67).
Convert StreamedCopy(Kind kind) {
    auto source = std::make_shared<std::vector<uint8_t>>();
    return [source, kind](const Frame &f, uint8_t *out) {
        const size_t bytes = static_cast<size_t>(f.width) * f.height * BytesPerPixel(kind);
        if (source->size() != bytes) source->assign(bytes, 0x5A);
        const uint8_t *src = source->data();
        const size_t lead = std::min(bytes, (64 - reinterpret_cast<uintptr_t>(out) % 64) % 64);
        std::memcpy(out, src, lead);
        size_t i = lead;
        for (; i + 64 <= bytes; i += 64) {
            for (size_t k = i; k < i + 64; k += 16)
                _mm_stream_si128(reinterpret_cast<__m128i *>(out + k),
                                 _mm_loadu_si128(reinterpret_cast<const __m128i *>(src + k)));
        }
        std::memcpy(out + i, src + i, bytes - i);
        _mm_sfence();
    };
}
#endif

// Each converter with cold caches: our levels from SSE2 up, libyuv, the copy
// and the streamed copy, interleaved in 30 rounds, as the sweep between calls
// costs far more than a call.
void RegisterCold(const Frame &frame) {
    for (Kind kind : {Kind::Rgb24, Kind::Rgb565, Kind::Uyvy}) {
        std::vector<Variant> variants;
        for (int i = 1; i < kestra::kCpuLevelCount; ++i) {
            const CpuLevel level = static_cast<CpuLevel>(i);
            const kestra::ConverterTable *t = kestra::ConverterTableFor(level);
            if (t == nullptr) continue;
            if (kind != Kind::Rgb24 && level == CpuLevel::Ssse3) continue;
            if (kind == Kind::Rgb565 && level == CpuLevel::Avx512) continue;
            variants.push_back(
                {std::string("kestra_") + kestra::CpuLevelName(level), Ours(kind, *t)});
        }
        variants.push_back({"libyuv", Libyuv(kind)});
        variants.push_back({"copy", Copy(kind)});
#if defined(__SSE2__)
        variants.push_back({"copy_streamed", StreamedCopy(kind)});
#endif
        const std::string name = std::string("cold/") + KindName(kind) + "/" +
                                 std::to_string(frame.width) + "x" + std::to_string(frame.height) +
                                 "/rounds";
        benchmark::RegisterBenchmark(name.c_str(),
                                     [&frame, kind, variants](benchmark::State &st) {
                                         RunColdRounds(st, frame, kind, variants);
                                     })
            ->Unit(benchmark::kMillisecond)
            ->Iterations(30)
            ->UseRealTime();
    }
}

// The GDI presenter's smooth path at each level: a frame's three planes
// shrunk to a wall tile, and a composed XRGB frame shrunk likewise.
void RegisterArea(const Frame &frame) {
    constexpr int kTileWidth = 316, kTileHeight = 252;
    const std::string size = std::to_string(frame.width) + "x" + std::to_string(frame.height) +
                             "_to_" + std::to_string(kTileWidth) + "x" +
                             std::to_string(kTileHeight) + "/";
    for (int i = 0; i < kestra::kCpuLevelCount; ++i) {
        const kestra::ConverterTable *t = kestra::ConverterTableFor(static_cast<CpuLevel>(i));
        if (t == nullptr || i == int(CpuLevel::Ssse3) || i == int(CpuLevel::Avx512)) continue;
        const std::string level = std::string("kestra_") + kestra::CpuLevelName(CpuLevel(i));
        benchmark::RegisterBenchmark(
            ("area_planes/" + size + level).c_str(),
            [&frame, t](benchmark::State &st) {
                kestra::AreaScaler luma, chroma;
                const int w = frame.width, h = frame.height;
                luma.Plan(w, h, kTileWidth, kTileHeight, 1);
                chroma.Plan(w / 2, h / 2, kTileWidth / 2, kTileHeight / 2, 1);
                std::vector<uint8_t> out(size_t(kTileWidth) * kTileHeight * 3 / 2);
                uint8_t *u = out.data() + kTileWidth * kTileHeight;
                for (auto _ : st) {
                    luma.Plane(frame.y(), w, out.data(), kTileWidth, t->area);
                    chroma.Plane(frame.u(), w / 2, u, kTileWidth / 2, t->area);
                    chroma.Plane(frame.v(), w / 2, u + kTileWidth / 2 * (kTileHeight / 2),
                                 kTileWidth / 2, t->area);
                    benchmark::DoNotOptimize(out.data());
                }
            })
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(
            ("area_xrgb/" + size + level).c_str(),
            [&frame, t](benchmark::State &st) {
                kestra::AreaScaler scaler;
                scaler.Plan(frame.width, frame.height, kTileWidth, kTileHeight, 4);
                std::vector<uint32_t> in(size_t(frame.width) * frame.height, 0x00406080);
                std::vector<uint32_t> out(size_t(kTileWidth) * kTileHeight);
                for (auto _ : st) {
                    scaler.Xrgb(in.data(), 4 * frame.width, out.data(), 4 * kTileWidth, t->area);
                    benchmark::DoNotOptimize(out.data());
                }
            })
            ->Unit(benchmark::kMillisecond);
    }
}

void RegisterAll() {
    static std::vector<Frame> frames;
    frames.reserve(std::size(kSizes));
    for (const Size &s : kSizes) frames.emplace_back(s.width, s.height);
    for (Kind kind : {Kind::Rgb24, Kind::Rgb565, Kind::Uyvy}) {
        for (const Frame &frame : frames) {
            const std::string prefix = std::string(KindName(kind)) + "/" +
                                       std::to_string(frame.width) + "x" +
                                       std::to_string(frame.height) + "/";
            auto add = [&](const std::string &variant, Convert convert) {
                if (!convert) return;
                benchmark::RegisterBenchmark((prefix + variant).c_str(),
                                             [&frame, kind, convert](benchmark::State &st) {
                                                 Run(st, frame, kind, convert);
                                             })
                    ->Unit(benchmark::kMillisecond)
                    ->UseRealTime();
            };
            for (int i = 0; i < kestra::kCpuLevelCount; ++i) {
                const CpuLevel level = static_cast<CpuLevel>(i);
                const kestra::ConverterTable *t = kestra::ConverterTableFor(level);
                // Levels without their own code for a converter repeat the one below.
                if (t == nullptr) continue;
                if (i > 0 && kind != Kind::Rgb24 && level == CpuLevel::Ssse3) continue;
                if (kind == Kind::Rgb565 && level == CpuLevel::Avx512) continue;
                add(std::string("kestra_") + kestra::CpuLevelName(level), Ours(kind, *t));
            }
            // The other colour records at the level the presenters run, at 1080p: the
            // same kernels with other constants, so the same speed.
            if (kind != Kind::Uyvy && frame.width == 1920) {
                const kestra::ConverterTable &top = kestra::Converters();
                const char *names[] = {"", "bt709", "bt601full", "bt709full"};
                for (int r = 1; r < kestra::colour::kRecordCount; ++r)
                    add(std::string("top_") + names[r],
                        Ours(kind, top, kestra::colour::kRecords[r]));
            }
            add("libyuv", Libyuv(kind));
            add("swscale", Swscale(kind, frame));
            add("copy", Copy(kind));
        }
    }
    RegisterCold(frames[1]);
    RegisterCold(frames[2]);
    RegisterArea(frames[1]);
}

}  // namespace

namespace kestra_bench {
void RegisterDisplayBenchmarks();
void RegisterWaveBenchmarks();
}  // namespace kestra_bench

int main(int argc, char **argv) {
    kestra::build_rgb24_tables();
    kestra::build_rgb565_tables();
    RegisterAll();
    kestra_bench::RegisterDisplayBenchmarks();
    kestra_bench::RegisterWaveBenchmarks();
    // Levels the CPU lacks have no rows; the table says which.
    benchmark::AddCustomContext("converter_levels", kestra::DescribeConverterLevels());
    benchmark::AddCustomContext("cpu", kestra::DescribeCpu());
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
