// Writes XRGB8888 pixels as an RGB PNG, for pictures a person can look at.
#pragma once

#include <cstdint>
#include <string>

namespace kestra_test {

// rows of `pitch` pixels, 0x00RRGGBB. False on any I/O error.
bool WritePng(const std::string &path, const uint32_t *pixels, int width, int height, int pitch);

}  // namespace kestra_test
