// A YV12 test picture with packed planes: smooth gradients plus a little
// deterministic noise, so no converter meets only one colour.
#pragma once

#include <cstdint>
#include <vector>

namespace kestra_bench {

struct Frame {
    int width, height;
    std::vector<uint8_t> planes;

    Frame(int w, int h) : width(w), height(h), planes(w * h + 2 * (w / 2) * (h / 2)) {
        uint32_t noise = 12345;
        for (int r = 0; r < h; ++r) {
            for (int c = 0; c < w; ++c) {
                noise = noise * 1103515245u + 12345u;
                planes[r * w + c] = static_cast<uint8_t>(16 + (c * 219 / w + (noise >> 28)) % 220);
            }
        }
        uint8_t *uPlane = planes.data() + w * h;
        uint8_t *vPlane = uPlane + (w / 2) * (h / 2);
        for (int r = 0; r < h / 2; ++r) {
            for (int c = 0; c < w / 2; ++c) {
                uPlane[r * (w / 2) + c] = static_cast<uint8_t>(16 + r * 224 / (h / 2));
                vPlane[r * (w / 2) + c] = static_cast<uint8_t>(240 - c * 224 / (w / 2));
            }
        }
    }
    const uint8_t *y() const { return planes.data(); }
    const uint8_t *u() const { return planes.data() + width * height; }
    const uint8_t *v() const { return u() + (width / 2) * (height / 2); }
};

}  // namespace kestra_bench
