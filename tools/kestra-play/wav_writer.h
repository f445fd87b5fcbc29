// A PCM WAV file written as samples arrive; the sizes are fixed up on Close.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace kplay {

class WavWriter {
public:
    WavWriter() = default;
    ~WavWriter() { Close(); }
    WavWriter(const WavWriter &) = delete;
    WavWriter &operator=(const WavWriter &) = delete;

    bool Open(const std::string &path, int channels, int sampleRate, int bitsPerSample,
              std::string *error);
    void Append(const uint8_t *bytes, size_t size);
    // False when a write, flush or close failed along the way or the header
    // could not be fixed.
    bool Close();
    // Why Open or Close failed: "cannot write PATH: reason".
    std::string error() const;

private:
    void Fail();

    std::FILE *file_ = nullptr;
    std::string path_;
    uint8_t header_[44] = {};
    uint64_t dataBytes_ = 0;
    int failure_ = 0;  // errno of the first failure
};

}  // namespace kplay
