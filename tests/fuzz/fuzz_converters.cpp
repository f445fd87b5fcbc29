// Every converter against its scalar reference over random sizes, strides
// and height signs, on exactly-sized heap buffers so ASan sees any stray byte.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "convert/dispatch.h"

namespace {

struct Reader {
    const uint8_t *data;
    size_t size;
    uint32_t Take(uint32_t limit) {  // 0..limit
        uint32_t v = 0;
        for (int i = 0; i < 2 && size; ++i, ++data, --size) v = (v << 8) | *data;
        return limit ? v % (limit + 1) : 0;
    }
};

std::vector<uint8_t> Plane(Reader &in, size_t bytes) {
    std::vector<uint8_t> plane(bytes);
    for (size_t i = 0; i < bytes; ++i)
        plane[i] = static_cast<uint8_t>(in.size ? in.data[i % in.size] : i);
    return plane;
}

// Bytes a plane needs for `rows` rows of `used` bytes, `stride` apart.
size_t PlaneBytes(int64_t rows, int64_t used, int64_t stride) {
    return rows <= 0 || used <= 0 ? 1 : static_cast<size_t>((rows - 1) * stride + used);
}

// One converter and what it writes: RGB24 whole 2x2 blocks only (and reads
// a negative height bottom-up), the others every row and column; UYVY rows
// are whole 4-byte groups, an odd width's last pixel in a group of its own.
struct Converter {
    kestra::ConvertFn reference;
    kestra::LevelConverter kestra::ConverterTable::*fast;
    int bytesPerPixel;
    bool wholeBlocks, groups;
};

const Converter kConverters[] = {
    {kestra::yv12_to_rgb24_c, &kestra::ConverterTable::rgb24, 3, true, false},
    {kestra::yv12_to_rgb565_c, &kestra::ConverterTable::rgb565, 2, false, false},
    {kestra::yv12_to_uyvy_c, &kestra::ConverterTable::uyvy, 1, false, true},
};

void Check(Reader &in, const Converter &c) {
    const uint32_t width = in.Take(96);
    const int32_t rows = static_cast<int32_t>(in.Take(64));
    const int32_t height = c.wholeBlocks && in.Take(1) ? -rows : rows;
    const int32_t yStride = static_cast<int32_t>(width + in.Take(40));
    const int32_t uvStride = static_cast<int32_t>(width / 2 + in.Take(40));
    const int64_t rowBytes = c.groups ? 4 * ((int64_t(width) + 1) / 2) : c.bytesPerPixel * width;
    const int32_t dstStride = static_cast<int32_t>(rowBytes + c.bytesPerPixel * in.Take(40));
    const int32_t chromaRows = rows / 2;
    // Bottom-up reading of an odd height starts at the last of all `rows` rows.
    std::vector<uint8_t> y =
        Plane(in, PlaneBytes(rows, c.wholeBlocks ? width / 2 * 2 : width, yStride));
    std::vector<uint8_t> u = Plane(in, PlaneBytes(chromaRows, width / 2, uvStride));
    std::vector<uint8_t> v = Plane(in, PlaneBytes(chromaRows, width / 2, uvStride));
    // Last, so that inputs made before there were records still read as before.
    const kestra::colour::Record &colour = kestra::colour::kRecords[in.Take(3)];
    const size_t dstBytes = PlaneBytes(c.wholeBlocks ? 2 * chromaRows : rows, rowBytes, dstStride);
    std::vector<uint8_t> expected(dstBytes, 0xA5), actual(dstBytes, 0xA5);
    c.reference(y.data(), yStride, u.data(), v.data(), uvStride, expected.data(), dstStride,
                static_cast<int32_t>(width), height, colour);
    (kestra::Converters().*c.fast)(y.data(), yStride, u.data(), v.data(), uvStride, actual.data(),
                                   dstStride, static_cast<int32_t>(width), height, colour);
    if (expected != actual) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Reader in{data, size};
    Check(in, kConverters[in.Take(2)]);
    return 0;
}
