// Converter selection: the C references first, upgraded in instruction-set
// order once at first use, stopping at the first feature the CPU lacks.
#include "convert/dispatch.h"

#include <cstdlib>
#include <cstring>

namespace kestra {

namespace {

// The converters are constants of other files, so the tables are filled at
// first use rather than at compile time.
const ConverterTable *Tables() {
    static const ConverterTable c{yv12_to_rgb24_c, yv12_to_rgb565_c, yv12_to_uyvy_c,
                                  yv12_to_rgb24_full_c};
#if defined(KESTRA_X86_CONVERTERS)
    static const ConverterTable tables[kCpuLevelCount] = {
        c,
        {yv12_to_rgb24_sse2, yv12_to_rgb565_sse2, yv12_to_uyvy_sse2, yv12_to_rgb24_full_sse2},
        {yv12_to_rgb24_ssse3, yv12_to_rgb565_sse2, yv12_to_uyvy_sse2, yv12_to_rgb24_full_ssse3},
        {yv12_to_rgb24_avx2, yv12_to_rgb565_avx2, yv12_to_uyvy_avx2, yv12_to_rgb24_full_avx2},
        {yv12_to_rgb24_avx512, yv12_to_rgb565_avx2, yv12_to_uyvy_avx512, yv12_to_rgb24_full_avx512},
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

const ConverterTable *ConverterTableFor(CpuLevel level) {
    const int i = static_cast<int>(level);
    if (i < 0 || i > static_cast<int>(SupportedConverterLevel())) return nullptr;
    return &Tables()[i];
}

}  // namespace kestra
