// One YV12 (planar 4:2:0) picture as the player hands it to the library: U and
// V planes of (width / 2) x (height / 2), rounded down as the library takes them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kplay {

struct YuvFrame {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> bytes;  // Y, then U (Cb), then V (Cr), tightly packed

    void Allocate(int w, int h) {
        width = w;
        height = h;
        bytes.assign(LumaSize() + 2 * ChromaSize(), 0);
    }
    size_t LumaSize() const { return static_cast<size_t>(width) * height; }
    size_t ChromaSize() const { return static_cast<size_t>(width / 2) * (height / 2); }
    int YStride() const { return width; }
    int UvStride() const { return width / 2; }
    uint8_t *Y() { return bytes.data(); }
    uint8_t *U() { return bytes.data() + LumaSize(); }
    uint8_t *V() { return bytes.data() + LumaSize() + ChromaSize(); }
    const uint8_t *Y() const { return bytes.data(); }
    const uint8_t *U() const { return bytes.data() + LumaSize(); }
    const uint8_t *V() const { return bytes.data() + LumaSize() + ChromaSize(); }
};

// Largest side and area the player accepts: keeps every buffer size far
// from overflow and within what the stand-in's windows allow.
constexpr int kMaxFrameSide = 8192;
constexpr int64_t kMaxFrameArea = int64_t(1) << 25;

}  // namespace kplay
