// Converter selection: the C references first, upgraded in instruction-set
// order once at first use, stopping at the first feature the CPU lacks.
#include "convert/dispatch.h"

#include <array>
#include <cstdlib>
#include <cstring>

#if defined(KESTRA_X86_CONVERTERS)
#include <cpuid.h>
#endif

namespace kestra {

namespace {

// A level's converters, before each is handed the thresholds.
struct LevelConverters {
    LevelConvertFn rgb24, rgb565, uyvy, rgb24Full;
    WidenFn rgb24ToXrgb;
    AreaKernels area;
};

// The C references store the same way at every output size.
template <const ConvertFn &kConvert>
void ReferenceAtAnySize(const uint8_t *y, int32_t yStride, const uint8_t *u, const uint8_t *v,
                        int32_t uvStride, uint8_t *dst, int32_t dstStride, int32_t width,
                        int32_t height, const colour::Record &colour, OutputThresholds) {
    kConvert(y, yStride, u, v, uvStride, dst, dstStride, width, height, colour);
}

// The converters are constants of other files, so the levels are filled at
// first use rather than at compile time.
const LevelConverters *Levels() {
    static const LevelConverters c{ReferenceAtAnySize<yv12_to_rgb24_c>,
                                   ReferenceAtAnySize<yv12_to_rgb565_c>,
                                   ReferenceAtAnySize<yv12_to_uyvy_c>,
                                   ReferenceAtAnySize<yv12_to_rgb24_full_c>,
                                   rgb24_to_xrgb_c,
                                   {area_columns_c, area_row_c, area_xrgb_row_c}};
#if defined(KESTRA_X86_CONVERTERS)
    static const LevelConverters levels[kCpuLevelCount] = {
        c,
        {yv12_to_rgb24_sse2, yv12_to_rgb565_sse2, yv12_to_uyvy_sse2, yv12_to_rgb24_full_sse2,
         rgb24_to_xrgb_c, area_kernels_sse2},
        {yv12_to_rgb24_ssse3, yv12_to_rgb565_sse2, yv12_to_uyvy_sse2, yv12_to_rgb24_full_ssse3,
         rgb24_to_xrgb_ssse3, area_kernels_sse2},
        {yv12_to_rgb24_avx2, yv12_to_rgb565_avx2, yv12_to_uyvy_avx2, yv12_to_rgb24_full_avx2,
         rgb24_to_xrgb_ssse3, area_kernels_avx2},
        // Both widths take the AVX-512 RGB24 kernel. 32-bit code runs its own
        // loops for 8 registers, which beat AVX2 there without the spills that
        // made an earlier form lose to it where 512-bit operations run as two
        // halves (bench/notes.md).
        {yv12_to_rgb24_avx512, yv12_to_rgb565_avx2, yv12_to_uyvy_avx512, yv12_to_rgb24_full_avx512,
         rgb24_to_xrgb_ssse3, area_kernels_avx2},
    };
#else
    static const LevelConverters levels[kCpuLevelCount] = {c, c, c, c, c};
#endif
    return levels;
}

#if defined(KESTRA_X86_CONVERTERS)
CpuLevel DetectCpuLevel() {
    __builtin_cpu_init();
    CpuLevel level = CpuLevel::C;
    if (!__builtin_cpu_supports("sse2")) return level;
    level = CpuLevel::Sse2;
    if (!__builtin_cpu_supports("ssse3")) return level;
    level = CpuLevel::Ssse3;
    // Also false when the OS does not save the YMM registers.
    if (!__builtin_cpu_supports("avx2")) return level;
    level = CpuLevel::Avx2;
    // Likewise false without the OS saving the ZMM and mask registers.
    if (!__builtin_cpu_supports("avx512f") || !__builtin_cpu_supports("avx512bw") ||
        !__builtin_cpu_supports("avx512vl") || !__builtin_cpu_supports("avx512vbmi")) {
        return level;
    }
    return CpuLevel::Avx512;
}

constexpr const char *kLackingReason = "CPU lacks";
#else
CpuLevel DetectCpuLevel() { return CpuLevel::C; }

constexpr const char *kLackingReason = "not built for this CPU";
#endif

// The caches CPUID describes (leaf 4 on Intel, 0x8000001D on AMD); empty
// when it describes none.
struct Cache {
    int level;
    char kind;  // 'd' data, 'i' instruction, 'u' unified
    int64_t bytes;
};

// Their list for DescribeCpu, and the sizes the converters choose their
// stores by (0 where CPUID does not say).
struct CacheSizes {
    std::string list;
    int64_t level2 = 0, lastLevel = 0;
};

CacheSizes ReadCaches() {
    CacheSizes sizes;
#if defined(KESTRA_X86_CONVERTERS)
    unsigned a = 0, b = 0, c = 0, d = 0;
    __cpuid(0x80000000, a, b, c, d);
    const unsigned leaf =
        a >= 0x8000001D && __get_cpuid_count(0x8000001D, 0, &a, &b, &c, &d) && (a & 31) != 0
            ? 0x8000001D
            : 4;
    int lastLevel = 0;
    for (unsigned i = 0; i < 16; ++i) {
        if (!__get_cpuid_count(leaf, i, &a, &b, &c, &d) || (a & 31) == 0) break;
        const Cache cache{int((a >> 5) & 7), "?diu"[(a & 31) < 4 ? (a & 31) : 0],
                          int64_t((b >> 22) + 1) * (((b >> 12) & 0x3FF) + 1) * ((b & 0xFFF) + 1) *
                              (int64_t(c) + 1)};
        if (cache.kind == 'i') continue;
        if (cache.level == 2) sizes.level2 = cache.bytes;
        if (cache.level >= lastLevel) {
            lastLevel = cache.level;
            sizes.lastLevel = cache.bytes;
        }
        const bool mib = cache.bytes >= (int64_t(1) << 20);
        sizes.list += std::string(sizes.list.empty() ? "" : ", ") + "L" +
                      std::to_string(cache.level) + (cache.kind == 'd' ? "d " : " ") +
                      std::to_string(cache.bytes >> (mib ? 20 : 10)) + (mib ? " MiB" : " KiB");
    }
#endif
    return sizes;
}

const CacheSizes &Caches() {
    static const CacheSizes sizes = ReadCaches();
    return sizes;
}

// OutputThresholds' rules over the sizes CPUID gives.
OutputThresholds ThresholdsFor(const CacheSizes &caches) {
    return {caches.lastLevel > 0 ? caches.lastLevel / 4 : int64_t(8) << 20,
            caches.level2 > 0 ? caches.level2 : int64_t(1) << 20};
}

// Every level's converters, each handed the thresholds, which are read here
// once for all of them.
const ConverterTable *Tables() {
    static const std::array<ConverterTable, kCpuLevelCount> tables = [] {
        const OutputThresholds t = ThresholdsFor(Caches());
        std::array<ConverterTable, kCpuLevelCount> built{};
        for (int i = 0; i < kCpuLevelCount; ++i) {
            const LevelConverters &l = Levels()[i];
            built[size_t(i)] = {{l.rgb24, t},     {l.rgb565, t}, {l.uyvy, t},
                                {l.rgb24Full, t}, l.rgb24ToXrgb, l.area};
        }
        return built;
    }();
    return tables.data();
}

std::string CpuModel() {
#if defined(KESTRA_X86_CONVERTERS)
    unsigned words[12] = {};
    unsigned a = 0, b = 0, c = 0, d = 0;
    __cpuid(0x80000000, a, b, c, d);
    if (a < 0x80000004) return "unknown";
    for (unsigned i = 0; i < 3; ++i)
        __cpuid(0x80000002 + i, words[4 * i], words[4 * i + 1], words[4 * i + 2], words[4 * i + 3]);
    char text[sizeof words + 1] = {};
    std::memcpy(text, words, sizeof words);
    std::string model(text);
    const size_t first = model.find_first_not_of(' ');
    return first == std::string::npos ? "unknown" : model.substr(first);
#else
    return "not x86";
#endif
}

const char *const kLevelNames[kCpuLevelCount] = {"c", "sse2", "ssse3", "avx2", "avx512"};

CpuLevel MaskedLevel() {
    CpuLevel level = DetectedConverterLevel();
    const char *mask = std::getenv("KESTRA_CPU_MASK");
    if (mask == nullptr) return level;
    for (int i = 0; i < kCpuLevelCount; ++i) {
        if (std::strcmp(mask, kLevelNames[i]) == 0 && i < static_cast<int>(level)) {
            return static_cast<CpuLevel>(i);
        }
    }
    return level;
}

}  // namespace

const ConverterTable &Converters() {
    static const ConverterTable &table = Tables()[static_cast<int>(SupportedConverterLevel())];
    return table;
}

const char *CpuLevelName(CpuLevel level) {
    const int i = static_cast<int>(level);
    return i >= 0 && i < kCpuLevelCount ? kLevelNames[i] : "?";
}

CpuLevel SupportedConverterLevel() {
    static const CpuLevel level = MaskedLevel();
    return level;
}

CpuLevel DetectedConverterLevel() {
    static const CpuLevel level = DetectCpuLevel();
    return level;
}

std::string DescribeConverterLevels() {
    const int supported = static_cast<int>(SupportedConverterLevel());
    const int detected = static_cast<int>(DetectedConverterLevel());
    std::string ran, masked, lacking;
    for (int i = 0; i < kCpuLevelCount; ++i) {
        std::string &list = i <= supported ? ran : (i <= detected ? masked : lacking);
        list += std::string(list.empty() ? "" : " ") + kLevelNames[i];
    }
    std::string line = "converter levels: ran " + ran;
    if (!masked.empty()) line += "; skipped (KESTRA_CPU_MASK): " + masked;
    return line + "; skipped (" + kLackingReason + "): " + (lacking.empty() ? "none" : lacking);
}

std::string DescribeCpu() {
    const std::string &caches = Caches().list;
    return "cpu: " + CpuModel() + "; caches: " + (caches.empty() ? "unknown" : caches);
}

const ConverterTable *ConverterTableFor(CpuLevel level) {
    const int i = static_cast<int>(level);
    if (i < 0 || i > static_cast<int>(SupportedConverterLevel())) return nullptr;
    return &Tables()[i];
}

}  // namespace kestra
