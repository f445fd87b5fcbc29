// Every vector level of every converter against the scalar reference: all
// (y, u, v) triples for the two colour converters, then random frames of
// random sizes, strides and flips into exactly-sized, canary-filled buffers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "convert/convert.h"
#include "convert/dispatch.h"

namespace {

using kestra::ConverterTable;
using kestra::CpuLevel;

// The vector levels this machine runs (the C level is the oracle).
std::vector<CpuLevel> VectorLevels() {
    std::vector<CpuLevel> levels;
    for (int i = 1; i < kestra::kCpuLevelCount; ++i) {
        const CpuLevel level = static_cast<CpuLevel>(i);
        if (kestra::ConverterTableFor(level) != nullptr) levels.push_back(level);
    }
    return levels;
}

uint32_t TestSeed() {
    const char *fixed = std::getenv("KESTRA_TEST_SEED");
    if (fixed != nullptr) return static_cast<uint32_t>(std::strtoul(fixed, nullptr, 10));
    return std::random_device{}();
}

class SimdConverters : public testing::Test {
protected:
    // A level this CPU lacks is skipped; the log says which (scripts/test
    // prints this line).
    static void SetUpTestSuite() { std::printf("%s\n", kestra::DescribeConverterLevels().c_str()); }
    void SetUp() override {
        kestra::build_rgb24_tables();
        kestra::build_rgb565_tables();
        if (VectorLevels().empty()) GTEST_SKIP() << "no vector level on this CPU or build";
        const uint32_t seed = TestSeed();
        rng_.seed(seed);
        seedTrace_.emplace(__FILE__, __LINE__,
                           "seed " + std::to_string(seed) + " (set KESTRA_TEST_SEED to replay)");
    }
    // Random data of every test, its seed named in every failure.
    std::mt19937 rng_;
    std::optional<testing::ScopedTrace> seedTrace_;
};

// Sixteen V values per frame: every U, every V of the chunk, every Y. Each
// 2x2 block holds one (u, v) and four consecutive luma values; a row of 512
// pixels is the 256 U values, and 64 blocks of one (u, v) sit in one column.
struct TripleFrame {
    static constexpr int kWidth = 512;
    static constexpr int kHeight = 2 * 64 * 16;
    std::vector<uint8_t> y, u, v;

    explicit TripleFrame(int vBase)
        : y(kWidth * kHeight), u(kWidth / 2 * kHeight / 2), v(u.size()) {
        for (int k = 0; k < kHeight / 2; ++k) {
            const int group = k % 64;  // luma values 4 x group .. 4 x group + 3
            for (int j = 0; j < kWidth / 2; ++j) {
                u[k * kWidth / 2 + j] = static_cast<uint8_t>(j);
                v[k * kWidth / 2 + j] = static_cast<uint8_t>(vBase + k / 64);
                for (int i = 0; i < 4; ++i) {
                    y[(2 * k + i / 2) * kWidth + 2 * j + i % 2] =
                        static_cast<uint8_t>(4 * group + i);
                }
            }
        }
    }
    std::string Describe(int pixel) const {
        const int row = pixel / kWidth, col = pixel % kWidth;
        const int c = (row / 2) * kWidth / 2 + col / 2;
        return "y=" + std::to_string(y[pixel]) + " u=" + std::to_string(u[c]) +
               " v=" + std::to_string(v[c]);
    }
};

// The four converters; UYVY rows are whole 4-byte groups.
struct Output {
    const char *name;
    kestra::ConvertFn reference;
    kestra::LevelConverter ConverterTable::*fast;
    int bytesPerPixel;
    bool groups;
};

const Output kOutputs[] = {
    {"rgb24", kestra::yv12_to_rgb24_c, &ConverterTable::rgb24, 3, false},
    {"rgb24Full", kestra::yv12_to_rgb24_full_c, &ConverterTable::rgb24Full, 3, false},
    {"rgb565", kestra::yv12_to_rgb565_c, &ConverterTable::rgb565, 2, false},
    {"uyvy", kestra::yv12_to_uyvy_c, &ConverterTable::uyvy, 2, true},
};

// Index of the first differing element, or -1.
template <class T>
long FirstDifference(const std::vector<T> &a, const std::vector<T> &b) {
    const auto diff = std::mismatch(a.begin(), a.end(), b.begin());
    return diff.first == a.end() ? -1 : static_cast<long>(diff.first - a.begin());
}

// A row per colour record; the default one is every host's picture.
std::string RecordName(const kestra::colour::Record &r) {
    return std::string(r.matrix == kestra::colour::Matrix::Bt709 ? "bt709" : "bt601") +
           (r.range == kestra::colour::Range::Full ? " full" : " studio");
}

TEST_F(SimdConverters, ColourConvertersMatchReferenceForEveryTriple) {
    constexpr int w = TripleFrame::kWidth, h = TripleFrame::kHeight;
    for (const kestra::colour::Record &colour : kestra::colour::kRecords) {
        for (const Output &o : kOutputs) {
            if (o.groups) continue;
            const int bpp = o.bytesPerPixel;
            std::vector<uint8_t> expected(size_t(bpp) * w * h), actual(expected.size());
            for (int vBase = 0; vBase < 256; vBase += 16) {
                const TripleFrame f(vBase);
                o.reference(f.y.data(), w, f.u.data(), f.v.data(), w / 2, expected.data(), bpp * w,
                            w, h, colour);
                for (CpuLevel level : VectorLevels()) {
                    std::fill(actual.begin(), actual.end(), 0xA5);
                    (kestra::ConverterTableFor(level)->*o.fast)(f.y.data(), w, f.u.data(),
                                                                f.v.data(), w / 2, actual.data(),
                                                                bpp * w, w, h, colour);
                    const long byte = FirstDifference(expected, actual);
                    if (byte < 0) continue;
                    FAIL() << o.name << " " << RecordName(colour) << " at "
                           << kestra::CpuLevelName(level) << ": " << f.Describe(int(byte / bpp))
                           << " byte " << byte % bpp << " expected " << int(expected[size_t(byte)])
                           << " actual " << int(actual[size_t(byte)]);
                }
            }
        }
    }
}

// One random frame: sizes, strides and paddings biased toward the edges of
// the vector steps, samples biased toward the extremes of the tables.
struct RandomFrame {
    int width, height;  // height may be negative (RGB24 flip)
    int yStride, uvStride, dstStride;
    std::vector<uint8_t> y, u, v;

    RandomFrame(std::mt19937 &rng, bool allowFlip) {
        auto pick = [&rng](int lo, int hi) {
            return std::uniform_int_distribution<int>(lo, hi)(rng);
        };
        // Mostly around multiples of 16 and 32 so every tail length shows up;
        // now and then past the 2048 or 4096 pixels the kernels take a row at a
        // time.
        if (pick(0, 24) == 0) {
            width = 2048 * pick(1, 2) + pick(-40, 40);
        } else {
            width = pick(0, 4) == 0 ? pick(0, 7) : 32 * pick(0, 5) + pick(-3, 33);
        }
        if (width < 0) width = 0;
        height = pick(0, 9);
        if (pick(0, 2) == 0) height += 2 * pick(0, 12);
        if (allowFlip && pick(0, 1)) height = -height;
        yStride = width + (pick(0, 1) ? 0 : pick(1, 40));
        uvStride = width / 2 + (pick(0, 1) ? 0 : pick(1, 24));
        dstStride = width + (pick(0, 1) ? 0 : pick(1, 20));
        const int rows = std::abs(height);
        const int chromaRows = rows / 2;
        y.resize(rows ? (rows - 1) * static_cast<size_t>(yStride) + width : 0);
        u.resize(chromaRows ? (chromaRows - 1) * static_cast<size_t>(uvStride) + width / 2 : 0);
        v.resize(u.size());
        static const uint8_t kEdges[] = {0,   1,   15,  16,  17,  127, 128,
                                         129, 234, 235, 236, 240, 254, 255};
        for (auto *plane : {&y, &u, &v}) {
            for (uint8_t &b : *plane) {
                b = pick(0, 2) ? static_cast<uint8_t>(pick(0, 255))
                               : kEdges[pick(0, sizeof(kEdges) - 1)];
            }
        }
    }
    // Where a converter writes this frame: bytes from the start of row 0 to
    // the end of the last row's pixels, the pitch, and the height it is given
    // (UYVY takes no flip).
    struct Destination {
        size_t size;
        int32_t pitch, height;
    };
    Destination For(const Output &o) const {
        const int rows = std::abs(height);
        // UYVY rows are whole 4-byte groups, so an odd width needs 2 bytes more.
        const int32_t pitch = o.groups ? 4 * ((dstStride + 1) / 2) : o.bytesPerPixel * dstStride;
        const size_t row = o.groups ? 4 * size_t((width + 1) / 2) : size_t(o.bytesPerPixel) * width;
        return {rows ? (rows - 1) * size_t(pitch) + row : 0, pitch, o.groups ? rows : height};
    }
    std::string Describe() const {
        return "width " + std::to_string(width) + " height " + std::to_string(height) +
               " yStride " + std::to_string(yStride) + " uvStride " + std::to_string(uvStride) +
               " dstStride " + std::to_string(dstStride);
    }
};

constexpr int kRandomFrames = 400;

TEST_F(SimdConverters, RandomFramesMatchReferenceAtEveryLevel) {
    for (int n = 0; n < kRandomFrames; ++n) {
        const RandomFrame f(rng_, n % 2 == 0);
        SCOPED_TRACE(f.Describe());
        // The canary differs per frame so a stray write of an old value shows.
        const uint8_t canary = static_cast<uint8_t>(rng_());
        const uint8_t *y = f.y.data(), *u = f.u.data(), *v = f.v.data();
        const kestra::colour::Record &colour =
            kestra::colour::kRecords[n % kestra::colour::kRecordCount];
        for (const Output &o : kOutputs) {
            const RandomFrame::Destination d = f.For(o);
            std::vector<uint8_t> expected(d.size, canary);
            o.reference(y, f.yStride, u, v, f.uvStride, expected.data(), d.pitch, f.width, d.height,
                        colour);
            for (CpuLevel level : VectorLevels()) {
                std::vector<uint8_t> actual(d.size, canary);
                (kestra::ConverterTableFor(level)->*o.fast)(y, f.yStride, u, v, f.uvStride,
                                                            actual.data(), d.pitch, f.width,
                                                            d.height, colour);
                EXPECT_EQ(-1, FirstDifference(expected, actual))
                    << o.name << " " << RecordName(colour) << " at " << kestra::CpuLevelName(level)
                    << ": first differing byte";
            }
        }
        if (HasFailure()) return;
    }
}

// Where the destination starts within a cache line changes how a packer
// splits a row (a partial first step may align the stores); every start
// must give the same bytes and leave the bytes around the frame alone.
// RGB 5-6-5 stores whole 16-bit pixels and is left out.
TEST_F(SimdConverters, EveryDestinationAlignmentMatchesReference) {
    for (int n = 0; n < 8; ++n) {
        RandomFrame f(rng_, false);
        SCOPED_TRACE(f.Describe());
        const uint8_t *y = f.y.data(), *u = f.u.data(), *v = f.v.data();
        for (const Output &o : kOutputs) {
            if (o.bytesPerPixel == 2 && !o.groups) continue;
            const RandomFrame::Destination d = f.For(o);
            // The frame sits 64 bytes into the reference, 64 bytes of canary after it.
            std::vector<uint8_t> expected(d.size + 128, 0xC3);
            o.reference(y, f.yStride, u, v, f.uvStride, expected.data() + 64, d.pitch, f.width,
                        d.height, kestra::colour::kBt601Studio);
            for (CpuLevel level : VectorLevels()) {
                for (int offset = 0; offset < 64; ++offset) {
                    // Shift the whole buffer so the frame starts at `offset` within a line.
                    std::vector<uint8_t> buffer(expected.size() + 128, 0xC3);
                    const size_t base = (64 - reinterpret_cast<uintptr_t>(buffer.data()) % 64) % 64;
                    uint8_t *frame = buffer.data() + base + offset + 64;
                    (kestra::ConverterTableFor(level)->*o.fast)(y, f.yStride, u, v, f.uvStride,
                                                                frame, d.pitch, f.width, d.height,
                                                                kestra::colour::kBt601Studio);
                    std::vector<uint8_t> got(frame - 64, frame - 64 + expected.size());
                    EXPECT_EQ(-1, FirstDifference(expected, got))
                        << o.name << " at " << kestra::CpuLevelName(level) << " destination offset "
                        << offset << ": first differing byte";
                    if (HasFailure()) return;
                }
            }
        }
    }
}

// Output beyond the caches' size is stored around them, from the first pixel
// whose bytes start a line in every row of the pair. UYVY rows 4 bytes longer
// than a multiple of 32 start at every alignment; the RGB24 rows of 6144
// bytes all start at the buffer's, which the offset moves (an odd one has no
// such pixel); rows of 6146 bytes start at different ones. UYVY output
// larger than the L2 cache but not the last level goes through the steps that
// ask for their lines ahead.
struct LargeFrame {
    const char *name;
    const Output &output;
    int width, height, pitch, offset;
};

const LargeFrame kLargeFrames[] = {
    {"uyvy rows 4100 bytes", kOutputs[3], 2047, 2051, 4 * 1024 + 4, 0},
    {"uyvy between the cache levels", kOutputs[3], 2047, 1025, 4 * 1024 + 4, 0},
    {"rgb24 rows 6144 bytes, offset 2", kOutputs[0], 2048, 2050, 6144, 2},
    {"rgb24 bottom-up, offset 1", kOutputs[0], 2048, -2050, 6144, 1},
    {"rgb24Full odd, rows 6146 bytes", kOutputs[1], 2047, 2051, 6146, 0},
};

TEST_F(SimdConverters, FramesLargerThanTheCachesMatchReference) {
    for (const LargeFrame &f : kLargeFrames) {
        const int w = f.width, rows = std::abs(f.height);
        std::vector<uint8_t> y(size_t(w) * rows), u(size_t(w / 2) * (rows / 2)), v(u.size());
        for (auto *plane : {&y, &u, &v})
            for (uint8_t &b : *plane) b = static_cast<uint8_t>(rng_());
        const size_t bytes =
            size_t(f.offset) + size_t(rows - 1) * f.pitch +
            (f.output.groups ? 4 * size_t((w + 1) / 2) : size_t(f.output.bytesPerPixel) * w);
        std::vector<uint8_t> expected(bytes, 0x3C);
        f.output.reference(y.data(), w, u.data(), v.data(), w / 2, expected.data() + f.offset,
                           f.pitch, w, f.height, kestra::colour::kBt601Studio);
        for (CpuLevel level : VectorLevels()) {
            std::vector<uint8_t> actual(bytes, 0x3C);
            (kestra::ConverterTableFor(level)->*f.output.fast)(
                y.data(), w, u.data(), v.data(), w / 2, actual.data() + f.offset, f.pitch, w,
                f.height, kestra::colour::kBt601Studio);
            EXPECT_EQ(-1, FirstDifference(expected, actual))
                << f.name << " at " << kestra::CpuLevelName(level);
        }
    }
}

// The GDI presenter's widening of RGB24 rows into 32-bit pixels, every tail
// length, from buffers of exactly the row's bytes.
TEST_F(SimdConverters, WideningMatchesReferenceAtEveryLevel) {
    for (int width = 0; width < 40; ++width) {
        std::vector<uint8_t> bgr(size_t(3) * width);
        for (uint8_t &b : bgr) b = static_cast<uint8_t>(rng_());
        std::vector<uint32_t> expected(size_t(width) + 1, 0xC3C3C3C3);
        kestra::rgb24_to_xrgb_c(bgr.data(), expected.data(), width);
        for (CpuLevel level : VectorLevels()) {
            std::vector<uint32_t> actual(expected.size(), 0xC3C3C3C3);
            kestra::ConverterTableFor(level)->rgb24ToXrgb(bgr.data(), actual.data(), width);
            EXPECT_EQ(-1, FirstDifference(expected, actual))
                << "width " << width << " at " << kestra::CpuLevelName(level);
        }
    }
}

// The presenters and the export run the highest level; no table exists above it.
TEST_F(SimdConverters, NoLevelAboveTheCpu) {
    const CpuLevel top = kestra::SupportedConverterLevel();
    for (int i = 0; i < kestra::kCpuLevelCount; ++i) {
        const CpuLevel level = static_cast<CpuLevel>(i);
        EXPECT_EQ(i <= static_cast<int>(top), kestra::ConverterTableFor(level) != nullptr)
            << kestra::CpuLevelName(level);
    }
    EXPECT_EQ(kestra::ConverterTableFor(top)->rgb24.fn, kestra::Converters().rgb24.fn);
}

}  // namespace
