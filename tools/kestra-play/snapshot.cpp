#include "snapshot.h"

#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace kplay {

namespace {

struct PngWriter {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~PngWriter() { png_destroy_write_struct(&png, info ? &info : nullptr); }
};

// libpng reports errors by longjmp back here: nothing with a destructor is
// created after the setjmp.
bool Encode(std::FILE *file, const uint32_t *pixels, int width, int height,
            std::vector<uint8_t> *row) {
    PngWriter w;
    w.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!w.png) return false;
    w.info = png_create_info_struct(w.png);
    if (!w.info) return false;
    if (setjmp(png_jmpbuf(w.png))) return false;
    png_init_io(w.png, file);
    png_set_IHDR(w.png, w.info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height),
                 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(w.png, w.info);
    for (int y = 0; y < height; ++y) {
        const uint32_t *src = pixels + static_cast<size_t>(y) * width;
        for (int x = 0; x < width; ++x) {
            (*row)[3 * x] = static_cast<uint8_t>(src[x] >> 16);
            (*row)[3 * x + 1] = static_cast<uint8_t>(src[x] >> 8);
            (*row)[3 * x + 2] = static_cast<uint8_t>(src[x]);
        }
        png_write_row(w.png, row->data());
    }
    png_write_end(w.png, nullptr);
    return true;
}

}  // namespace

bool WritePng(const std::string &path, const uint32_t *pixels, int width, int height,
              std::string *error) {
    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (!file) {
        *error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    std::vector<uint8_t> row(static_cast<size_t>(width) * 3);
    bool ok = Encode(file, pixels, width, height, &row);
    ok = std::fclose(file) == 0 && ok;
    if (!ok) *error = "cannot write " + path + ": PNG encoding or disk write failed";
    return ok;
}

}  // namespace kplay
