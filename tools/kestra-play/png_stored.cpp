// PNG output for the Windows build, which has no libpng: the image data goes
// in stored (uncompressed) deflate blocks, which every PNG reader accepts.
#include "snapshot.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

namespace kplay {

namespace {

uint32_t Crc32(const uint8_t *data, size_t size, uint32_t crc = 0) {
    crc = ~crc;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void PutBe32(std::vector<uint8_t> *out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out->push_back(static_cast<uint8_t>(v >> shift));
}

void PutChunk(std::vector<uint8_t> *out, const char *type, const std::vector<uint8_t> &body) {
    PutBe32(out, static_cast<uint32_t>(body.size()));
    const size_t start = out->size();
    out->insert(out->end(), type, type + 4);
    out->insert(out->end(), body.begin(), body.end());
    PutBe32(out, Crc32(out->data() + start, out->size() - start));
}

// A zlib stream of stored blocks around `raw`.
std::vector<uint8_t> StoredZlib(const std::vector<uint8_t> &raw) {
    std::vector<uint8_t> z = {0x78, 0x01};
    uint32_t a = 1, b = 0;
    for (uint8_t byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    size_t done = 0;
    do {
        const size_t n = std::min<size_t>(raw.size() - done, 65535);
        z.push_back(done + n == raw.size() ? 1 : 0);
        const uint16_t len = static_cast<uint16_t>(n), nlen = static_cast<uint16_t>(~len);
        z.insert(z.end(), {uint8_t(len), uint8_t(len >> 8), uint8_t(nlen), uint8_t(nlen >> 8)});
        z.insert(z.end(), raw.begin() + done, raw.begin() + done + n);
        done += n;
    } while (done < raw.size());
    PutBe32(&z, (b << 16) | a);
    return z;
}

}  // namespace

bool WritePng(const std::string &path, const uint32_t *pixels, int width, int height,
              std::string *error) {
    std::vector<uint8_t> raw;
    raw.reserve((static_cast<size_t>(width) * 3 + 1) * height);
    for (int y = 0; y < height; ++y) {
        raw.push_back(0);  // filter: none
        for (int x = 0; x < width; ++x) {
            const uint32_t p = pixels[static_cast<size_t>(y) * width + x];
            raw.insert(raw.end(), {uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p)});
        }
    }
    std::vector<uint8_t> header;
    PutBe32(&header, static_cast<uint32_t>(width));
    PutBe32(&header, static_cast<uint32_t>(height));
    header.insert(header.end(), {8, 2, 0, 0, 0});  // 8-bit RGB, no interlace
    std::vector<uint8_t> file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    PutChunk(&file, "IHDR", header);
    PutChunk(&file, "IDAT", StoredZlib(raw));
    PutChunk(&file, "IEND", {});
    std::FILE *out = std::fopen(path.c_str(), "wb");
    bool ok = out && std::fwrite(file.data(), 1, file.size(), out) == file.size();
    if (out) ok = std::fclose(out) == 0 && ok;
    if (!ok) *error = "cannot write " + path + ": " + std::strerror(errno);
    return ok;
}

}  // namespace kplay
