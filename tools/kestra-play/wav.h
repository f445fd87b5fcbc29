// Reader for WAV files: integer PCM of 8, 16, 24 or 32 bits and 32-bit float,
// plain or WAVE_FORMAT_EXTENSIBLE, 1 to 8 channels. What the device cannot
// take as it is (more than two channels, more than 16 bits, float) comes out
// as 16-bit mono or stereo: downmixed and saturated.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace kplay {

struct WavFormat {
    int channels = 0;
    int sampleRate = 0;
    int bitsPerSample = 0;
    int blockAlign = 0;  // bytes per sample frame
};

// What the file holds, where it differs from what Read hands out.
struct WavSource {
    WavFormat format;
    bool isFloat = false;
    uint32_t channelMask = 0;  // speaker bits; 0: the usual order for the count
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

    // The format Read hands out: the file's own when the device takes it.
    const WavFormat &format() const { return format_; }
    const WavSource &source() const { return source_; }
    // Sample bytes in the file. A data chunk that claims more than the file
    // holds (streaming writers leave 0 or 0xFFFFFFFF there) is cut to the file.
    uint64_t dataSize() const { return dataSize_; }
    const std::string &error() const { return error_; }

private:
    bool Fail(const std::string &message);
    bool ReadHeader();
    bool ReadChunks();
    bool ParseFmt(uint32_t size);
    bool CheckSource(uint32_t sampleRate);
    void PlanMix();
    size_t ReadConverted(uint8_t *dst, size_t size);

    std::FILE *file_ = nullptr;
    std::string path_;
    WavFormat format_;
    WavSource source_;
    bool convert_ = false;
    // Output gains per source channel in 1/256: left, right.
    int gainLeft_[8] = {}, gainRight_[8] = {};
    bool haveFormat_ = false;
    int64_t dataStart_ = 0;
    uint64_t dataSize_ = 0;
    uint64_t position_ = 0;  // source bytes read
    std::vector<uint8_t> scratch_;
    std::string error_;
};

}  // namespace kplay
