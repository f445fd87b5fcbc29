// The converters as a Windows host meets them, for running under Wine (or on
// Windows) at each DLL width: the exported KESTRA_yv12_to_rgb24_c through
// kestra.dll, loaded as a host loads it, and every instruction-set level of
// the converter table built by the same compiler, against a copy of the
// output bytes. Plain QueryPerformanceCounter timing: each round times every
// variant once, in a shuffled order, and the table gives the median of the
// rounds. Prints the converter rows of scripts/bench (no libyuv here, so that
// column is "-"). An argument keeps only the groups whose "kind/size"
// contains it.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench_frames.h"
#include "convert/convert.h"
#include "convert/dispatch.h"
#include "kestra/kestra.h"

namespace {

using kestra_bench::Frame;
using Convert = std::function<void(const Frame &, uint8_t *)>;
using ExportFn = decltype(&KESTRA_yv12_to_rgb24_c);

constexpr int kRounds = 15;
constexpr int kCallsPerRound = 8;

struct Variant {
    std::string name;
    Convert convert;
    std::vector<double> ms;  // per call, one entry per round
};

struct Group {
    std::string kind;
    const Frame *frame;
    int bytesPerPixel;
    std::vector<Variant> variants;
};

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to) {
    static const double frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart);
    }();
    return static_cast<double>(to.QuadPart - from.QuadPart) / frequency;
}

double TimeCalls(const Convert &convert, const Frame &frame, std::vector<uint8_t> &out) {
    convert(frame, out.data());  // the first call's misses stay untimed
    LARGE_INTEGER start, end;
    QueryPerformanceCounter(&start);
    for (int i = 0; i < kCallsPerRound; ++i) convert(frame, out.data());
    QueryPerformanceCounter(&end);
    return 1e3 * Seconds(start, end) / kCallsPerRound;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

Convert Level(const kestra::ConverterTable &t, const std::string &kind) {
    if (kind == "rgb24") {
        return [&t](const Frame &f, uint8_t *out) {
            t.rgb24(f.y(), f.width, f.u(), f.v(), f.width / 2, out, 3 * f.width, f.width, f.height,
                    kestra::colour::kBt601Studio);
        };
    }
    if (kind == "rgb565") {
        return [&t](const Frame &f, uint8_t *out) {
            t.rgb565(f.y(), f.width, f.u(), f.v(), f.width / 2, out, 2 * f.width, f.width, f.height,
                     kestra::colour::kBt601Studio);
        };
    }
    return [&t](const Frame &f, uint8_t *out) {
        t.uyvy(f.y(), f.width, f.u(), f.v(), f.width / 2, out, 2 * f.width, f.width, f.height,
               kestra::colour::kBt601Studio);
    };
}

Convert Copy(size_t bytes) {
    auto source = std::make_shared<std::vector<uint8_t>>(bytes, 0x5A);
    return
        [source](const Frame &, uint8_t *out) { std::memcpy(out, source->data(), source->size()); };
}

Group MakeGroup(const std::string &kind, const Frame &frame, ExportFn exported) {
    Group g{kind, &frame, kind == "rgb24" ? 3 : 2, {}};
    if (exported != nullptr) {
        g.variants.push_back({"export",
                              [exported](const Frame &f, uint8_t *out) {
                                  exported(out, f.width, f.y(), f.u(), f.v(), f.width, f.width / 2,
                                           static_cast<uint32_t>(f.width), f.height);
                              },
                              {}});
    }
    for (int i = 0; i < kestra::kCpuLevelCount; ++i) {
        const auto level = static_cast<kestra::CpuLevel>(i);
        const kestra::ConverterTable *t = kestra::ConverterTableFor(level);
        if (t == nullptr) continue;
        // Levels without their own code for a converter repeat the one below.
        if (i > 0 && kind != "rgb24" && level == kestra::CpuLevel::Ssse3) continue;
        if (kind == "rgb565" && level == kestra::CpuLevel::Avx512) continue;
        g.variants.push_back(
            {std::string("kestra_") + kestra::CpuLevelName(level), Level(*t, kind), {}});
    }
    g.variants.push_back(
        {"copy", Copy(static_cast<size_t>(frame.width) * frame.height * g.bytesPerPixel), {}});
    return g;
}

std::string GroupName(const Group &g) {
    return g.kind + "/" + std::to_string(g.frame->width) + "x" + std::to_string(g.frame->height);
}

void Print(const std::vector<Group> &groups) {
    std::printf("%-9s %-10s %-13s %8s %9s %7s\n", "converter", "size", "variant", "ms", "x libyuv",
                "x copy");
    for (const Group &g : groups) {
        const std::string size = GroupName(g).substr(g.kind.size() + 1);
        const double copy = Median(g.variants.back().ms);
        for (const Variant &v : g.variants) {
            const double ms = Median(v.ms);
            std::printf("%-9s %-10s %-13s %8.3f %9s %7.2f\n", g.kind.c_str(), size.c_str(),
                        v.name.c_str(), ms, "-", ms / copy);
        }
    }
}

}  // namespace

int main(int argc, char **argv) {
    kestra::build_rgb24_tables();
    kestra::build_rgb565_tables();
    HMODULE dll = LoadLibraryA("kestra.dll");
    const auto exported = reinterpret_cast<ExportFn>(
        reinterpret_cast<void *>(dll ? GetProcAddress(dll, "KESTRA_yv12_to_rgb24_c") : nullptr));
    const Frame small(640, 480), hd(1920, 1080), uhd(3840, 2160);
    std::vector<Group> groups;
    for (const Frame *f : {&small, &hd, &uhd}) groups.push_back(MakeGroup("rgb24", *f, exported));
    groups.push_back(MakeGroup("rgb565", hd, nullptr));
    for (const Frame *f : {&hd, &uhd}) groups.push_back(MakeGroup("uyvy", *f, nullptr));
    if (argc > 1) {
        const std::string filter = argv[1];
        groups.erase(std::remove_if(groups.begin(), groups.end(),
                                    [&](const Group &g) {
                                        return GroupName(g).find(filter) == std::string::npos;
                                    }),
                     groups.end());
    }
    std::vector<uint8_t> out(static_cast<size_t>(uhd.width) * uhd.height * 3);
    // In a fixed order the place in the round moved the same code by a few
    // per cent.
    std::mt19937 random(1);
    for (int round = 0; round < kRounds; ++round)
        for (Group &g : groups) {
            std::vector<Variant *> order;
            for (Variant &v : g.variants) order.push_back(&v);
            std::shuffle(order.begin(), order.end(), random);
            for (Variant *v : order) v->ms.push_back(TimeCalls(v->convert, *g.frame, out));
        }
    std::printf(
        "Windows %d-bit build (ms per frame, wall time, median of %d rounds; export = "
        "KESTRA_yv12_to_rgb24_c through kestra.dll%s)\n",
        static_cast<int>(8 * sizeof(void *)), kRounds, exported ? "" : ", not found");
    std::printf("%s\n%s\n", kestra::DescribeCpu().c_str(),
                kestra::DescribeConverterLevels().c_str());
    Print(groups);
    return exported ? 0 : 1;
}
