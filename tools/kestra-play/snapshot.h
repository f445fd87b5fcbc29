// PNG output of window pixels.
#pragma once

#include <cstdint>
#include <string>

namespace kplay {

// XRGB8888 (0x00RRGGBB) rows of `width` pixels, written as 8-bit RGB.
bool WritePng(const std::string &path, const uint32_t *pixels, int width, int height,
              std::string *error);

}  // namespace kplay
