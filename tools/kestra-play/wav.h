// Reader for PCM WAV files: 8 or 16 bits, one or two channels.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace kplay {

struct WavFormat {
    int channels = 0;
    int sampleRate = 0;
    int bitsPerSample = 0;
    int blockAlign = 0;  // bytes per sample frame
};

class WavReader {
public:
    WavReader() = default;
    ~WavReader();
    WavReader(const WavReader &) = delete;
    WavReader &operator=(const WavReader &) = delete;

    bool Open(const std::string &path);
    // Copies up to `size` bytes of samples, whole sample frames only; 0 at the end.
    size_t Read(uint8_t *dst, size_t size);
    bool Rewind();

    const WavFormat &format() const { return format_; }
    // Sample bytes in the file. A data chunk that claims more than the file
    // holds (streaming writers leave 0 or 0xFFFFFFFF there) is cut to the file.
    uint64_t dataSize() const { return dataSize_; }
    const std::string &error() const { return error_; }

private:
    bool Fail(const std::string &message);
    bool ReadHeader();
    bool ReadChunks();
    bool ParseFmt(uint32_t size);

    std::FILE *file_ = nullptr;
    std::string path_;
    WavFormat format_;
    bool haveFormat_ = false;
    int64_t dataStart_ = 0;
    uint64_t dataSize_ = 0;
    uint64_t position_ = 0;
    std::string error_;
};

}  // namespace kplay
