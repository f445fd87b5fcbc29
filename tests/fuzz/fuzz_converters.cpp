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

void CheckRgb24(Reader &in) {
    const uint32_t width = in.Take(96);
    const int32_t rows = static_cast<int32_t>(in.Take(64));
    const int32_t height = in.Take(1) ? -rows : rows;
    const int32_t yStride = static_cast<int32_t>(width + in.Take(40));
    const int32_t uvStride = static_cast<int32_t>(width / 2 + in.Take(40));
    const int32_t dstStride = static_cast<int32_t>(width + in.Take(40));
    const int32_t pairs = rows / 2;
    // Bottom-up reading of an odd height starts at the last of all `rows` rows.
    std::vector<uint8_t> y = Plane(in, PlaneBytes(rows, width / 2 * 2, yStride));
    std::vector<uint8_t> u = Plane(in, PlaneBytes(pairs, width / 2, uvStride));
    std::vector<uint8_t> v = Plane(in, PlaneBytes(pairs, width / 2, uvStride));
    const size_t dstBytes = 3 * PlaneBytes(2 * pairs, width, dstStride);
    std::vector<uint8_t> expected(dstBytes, 0xA5), actual(dstBytes, 0xA5);
    kestra::yv12_to_rgb24_c(y.data(), yStride, u.data(), v.data(), uvStride, expected.data(),
                            3 * dstStride, width, height);
    kestra::Converters().rgb24(y.data(), yStride, u.data(), v.data(), uvStride, actual.data(),
                               3 * dstStride, width, height);
    if (expected != actual) std::abort();
}

void CheckRgb565(Reader &in) {
    const int32_t width = static_cast<int32_t>(in.Take(96));
    const int32_t height = static_cast<int32_t>(in.Take(64));
    const int32_t yStride = width + static_cast<int32_t>(in.Take(40));
    const int32_t uvStride = width / 2 + static_cast<int32_t>(in.Take(40));
    const int32_t dstStride = width + static_cast<int32_t>(in.Take(40));
    const int32_t chromaRows = height / 2;
    std::vector<uint8_t> y = Plane(in, PlaneBytes(height, width, yStride));
    std::vector<uint8_t> u = Plane(in, PlaneBytes(chromaRows, width / 2, uvStride));
    std::vector<uint8_t> v = Plane(in, PlaneBytes(chromaRows, width / 2, uvStride));
    const size_t dstPixels = PlaneBytes(height, width, dstStride);
    std::vector<uint16_t> expected(dstPixels, 0xA5A5), actual(dstPixels, 0xA5A5);
    kestra::yv12_to_rgb565_c(y.data(), yStride, u.data(), v.data(), uvStride,
                             reinterpret_cast<uint8_t *>(expected.data()), 2 * dstStride, width,
                             height);
    kestra::Converters().rgb565(y.data(), yStride, u.data(), v.data(), uvStride,
                                reinterpret_cast<uint8_t *>(actual.data()), 2 * dstStride, width,
                                height);
    if (expected != actual) std::abort();
}

void CheckUyvy(Reader &in) {
    const uint32_t width = in.Take(96);
    const uint32_t height = in.Take(64);
    const int32_t yStride = static_cast<int32_t>(width + in.Take(40));
    const int32_t uvStride = static_cast<int32_t>(width / 2 + in.Take(40));
    // A row is whole 4-byte groups: an odd width's last pixel has one of its own.
    const int64_t rowBytes = 4 * ((int64_t(width) + 1) / 2);
    const int32_t dstPitch = static_cast<int32_t>(rowBytes + in.Take(40));
    const int64_t chromaRows = height / 2;
    std::vector<uint8_t> y = Plane(in, PlaneBytes(height, width, yStride));
    std::vector<uint8_t> u = Plane(in, PlaneBytes(chromaRows, width / 2, uvStride));
    std::vector<uint8_t> v = Plane(in, PlaneBytes(chromaRows, width / 2, uvStride));
    const size_t dstBytes = PlaneBytes(height, rowBytes, dstPitch);
    std::vector<uint8_t> expected(dstBytes, 0xA5), actual(dstBytes, 0xA5);
    kestra::yv12_to_uyvy_c(y.data(), yStride, u.data(), v.data(), uvStride, expected.data(),
                           dstPitch, width, height);
    kestra::Converters().uyvy(y.data(), yStride, u.data(), v.data(), uvStride, actual.data(),
                              dstPitch, width, height);
    if (expected != actual) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    Reader in{data, size};
    switch (in.Take(2)) {
        case 0:
            CheckRgb24(in);
            break;
        case 1:
            CheckRgb565(in);
            break;
        default:
            CheckUyvy(in);
            break;
    }
    return 0;
}
