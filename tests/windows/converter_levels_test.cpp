// The converters as this width compiles them: the 32-bit DLL's kernels have 8
// vector registers and code of their own (the AVX-512 RGB24 loops and
// interleave), which the Linux suites never run. Each level the CPU has must
// give the C level's bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <utility>
#include <vector>

#include "convert/convert.h"
#include "convert/dispatch.h"

namespace kestra {
namespace {

TEST(ConverterLevels, EveryLevelGivesTheCLevelsBytes) {
    build_rgb24_tables();
    build_rgb565_tables();
    const ConverterTable &c = *ConverterTableFor(CpuLevel::C);
    std::mt19937 random(7);
    // Whole steps of every width, a partial one and an odd last column; rows
    // longer than the kernels' 2048- and 4096-pixel chunks; and a frame whose
    // output is larger than the caches, in rows of whole 64-byte lines, which
    // the vector levels stream.
    for (const auto &[width, height] : {std::pair{422, 6}, {4291, 6}, {2048, 2050}}) {
        std::vector<uint8_t> y(size_t(width) * height), u(size_t(width / 2) * height / 2),
            v(u.size());
        for (auto *plane : {&y, &u, &v})
            for (uint8_t &sample : *plane) sample = uint8_t(random());
        const int stride = 3 * width;
        std::vector<uint8_t> expected(size_t(stride) * height), out(expected.size());
        const struct {
            const char *name;
            LevelConverter ConverterTable::*fn;
        } kConverters[] = {{"rgb24", &ConverterTable::rgb24Full},
                           {"rgb565", &ConverterTable::rgb565},
                           {"uyvy", &ConverterTable::uyvy}};
        for (int level = 1; level < kCpuLevelCount; ++level) {
            const ConverterTable *t = ConverterTableFor(static_cast<CpuLevel>(level));
            if (t == nullptr) continue;
            for (const auto &k : kConverters)
                for (const colour::Record &record : colour::kRecords)
                    for (const int rows : {height, -height}) {
                        if (height > 6 && (k.fn != &ConverterTable::rgb24Full || rows < 0 ||
                                           &record != &colour::kBt601Studio))
                            continue;
                        std::fill(expected.begin(), expected.end(), uint8_t(0x5A));
                        std::fill(out.begin(), out.end(), uint8_t(0x5A));
                        (c.*k.fn)(y.data(), width, u.data(), v.data(), width / 2, expected.data(),
                                  stride, width, rows, record);
                        (t->*k.fn)(y.data(), width, u.data(), v.data(), width / 2, out.data(),
                                   stride, width, rows, record);
                        ASSERT_TRUE(out == expected)
                            << CpuLevelName(static_cast<CpuLevel>(level)) << " " << k.name
                            << " width " << width << " rows " << rows;
                    }
        }
    }
}

}  // namespace
}  // namespace kestra
