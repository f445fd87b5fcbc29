#include "wav_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "file_io.h"

namespace kplay {

namespace {

void PutLe(uint8_t *p, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// The 44-byte header of a PCM file whose data chunk holds `dataBytes`.
void MakeHeader(uint8_t *h, int channels, int rate, int bits, uint32_t dataBytes) {
    const uint32_t block = static_cast<uint32_t>(channels * bits / 8);
    std::memcpy(h, "RIFF", 4);
    PutLe(h + 4, 36 + dataBytes, 4);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    PutLe(h + 16, 16, 4);
    PutLe(h + 20, 1, 2);  // PCM
    PutLe(h + 22, static_cast<uint32_t>(channels), 2);
    PutLe(h + 24, static_cast<uint32_t>(rate), 4);
    PutLe(h + 28, static_cast<uint32_t>(rate) * block, 4);
    PutLe(h + 32, block, 2);
    PutLe(h + 34, static_cast<uint32_t>(bits), 2);
    std::memcpy(h + 36, "data", 4);
    PutLe(h + 40, dataBytes, 4);
}

}  // namespace

bool WavWriter::Open(const std::string &path, int channels, int sampleRate, int bitsPerSample,
                     std::string *error) {
    path_ = path;
    file_ = std::fopen(path.c_str(), "wb");
    MakeHeader(header_, channels, sampleRate, bitsPerSample, 0);
    // Flushed at once: a full or read-only target shows before any sound plays.
    if (!file_ || std::fwrite(header_, 1, sizeof header_, file_) != sizeof header_ ||
        std::fflush(file_) != 0) {
        Fail();
        *error = this->error();
        return false;
    }
    return true;
}

void WavWriter::Append(const uint8_t *bytes, size_t size) {
    if (!file_ || size == 0) return;
    if (std::fwrite(bytes, 1, size, file_) != size) Fail();
    dataBytes_ += size;
}

bool WavWriter::Close() {
    if (!file_) return failure_ == 0;
    // A RIFF size field is 32 bits: a longer recording keeps the largest size it can state.
    const uint32_t size = static_cast<uint32_t>(std::min<uint64_t>(dataBytes_, 0xFFFFFFFFu - 36));
    PutLe(header_ + 4, 36 + size, 4);
    PutLe(header_ + 40, size, 4);
    // The seek flushes what is buffered; the close flushes the header.
    if (!Seek(file_, 0, SEEK_SET) || std::fwrite(header_, 1, sizeof header_, file_) != 44) Fail();
    if (std::fclose(file_) != 0) Fail();
    file_ = nullptr;
    return failure_ == 0;
}

std::string WavWriter::error() const {
    return "cannot write " + path_ + ": " + std::strerror(failure_ != 0 ? failure_ : EIO);
}

// Keeps the first reason: later failures follow from it.
void WavWriter::Fail() {
    if (failure_ == 0) failure_ = errno != 0 ? errno : EIO;
}

}  // namespace kplay
