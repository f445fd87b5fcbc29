// Converter selection: the C references first, upgraded in instruction-set
// order once at first use, stopping at the first feature the CPU lacks.
#include "convert/dispatch.h"

#include <cstdlib>
#include <cstring>

#if defined(KESTRA_X86_CONVERTERS)
#include <cpuid.h>
#endif

namespace kestra {

namespace {

// The converters are constants of other files, so the tables are filled at
// first use rather than at compile time.
const ConverterTable *Tables() {
    static const ConverterTable c{yv12_to_rgb24_c, yv12_to_rgb565_c, yv12_to_uyvy_c,
                                  yv12_to_rgb24_full_c, rgb24_to_xrgb_c};
#if defined(KESTRA_X86_CONVERTERS)
    static const ConverterTable tables[kCpuLevelCount] = {
        c,
        {yv12_to_rgb24_sse2, yv12_to_rgb565_sse2, yv12_to_uyvy_sse2, yv12_to_rgb24_full_sse2,
         rgb24_to_xrgb_c},
        {yv12_to_rgb24_ssse3, yv12_to_rgb565_sse2, yv12_to_uyvy_sse2, yv12_to_rgb24_full_ssse3,
         rgb24_to_xrgb_ssse3},
        {yv12_to_rgb24_avx2, yv12_to_rgb565_avx2, yv12_to_uyvy_avx2, yv12_to_rgb24_full_avx2,
         rgb24_to_xrgb_ssse3},
        // Both widths take the AVX-512 RGB24 kernel. 32-bit code runs its own
        // loops for 8 registers and takes about half the time of AVX2 there
        // (0.20-0.30 against 0.42-0.52 ms a 1080p frame on a Zen 5). The
        // earlier 32-bit form, which spilled, lost to AVX2 by 5 % where
        // 512-bit operations run as two halves (Zen 4); this one takes half
        // its time.
        {yv12_to_rgb24_avx512, yv12_to_rgb565_avx2, yv12_to_uyvy_avx512, yv12_to_rgb24_full_avx512,
         rgb24_to_xrgb_ssse3},
    };
#else
    static const ConverterTable tables[kCpuLevelCount] = {c, c, c, c, c};
#endif
    return tables;
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

int64_t StreamingOutputBytes() {
    const int64_t lastLevel = Caches().lastLevel;
    return lastLevel > 0 ? lastLevel / 4 : int64_t(8) << 20;
}

int64_t PrefetchingOutputBytes() {
    const int64_t level2 = Caches().level2;
    return level2 > 0 ? level2 : int64_t(1) << 20;
}

const ConverterTable *ConverterTableFor(CpuLevel level) {
    const int i = static_cast<int>(level);
    if (i < 0 || i > static_cast<int>(SupportedConverterLevel())) return nullptr;
    return &Tables()[i];
}

}  // namespace kestra
