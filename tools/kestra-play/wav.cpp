#include "wav.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "file_io.h"

namespace kplay {

namespace {

constexpr uint16_t kFormatPcm = 0x0001;
constexpr uint16_t kFormatExtensible = 0xFFFE;
// Tail of the KSDATAFORMAT_SUBTYPE_PCM GUID that follows its 16-bit tag.
constexpr uint8_t kPcmGuidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                      0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

uint16_t Le16(const uint8_t *p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Le32(const uint8_t *p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

bool ReadExact(std::FILE *file, uint8_t *dst, size_t size) {
    return std::fread(dst, 1, size, file) == size;
}

}  // namespace

WavReader::~WavReader() {
    if (file_) std::fclose(file_);
}

bool WavReader::Fail(const std::string &message) {
    error_ = path_ + ": " + message;
    return false;
}

bool WavReader::Open(const std::string &path) {
    path_ = path;
    file_ = std::fopen(path.c_str(), "rb");
    if (!file_) return Fail(std::strerror(errno));
    if (ReadHeader() && ReadChunks() && Rewind()) return true;
    // A refused file reads as empty.
    std::fclose(file_);
    file_ = nullptr;
    return false;
}

bool WavReader::ReadHeader() {
    uint8_t riff[12];
    if (!ReadExact(file_, riff, sizeof riff) || std::memcmp(riff, "RIFF", 4) != 0 ||
        std::memcmp(riff + 8, "WAVE", 4) != 0)
        return Fail("not a RIFF/WAVE file");
    return true;
}

bool WavReader::ReadChunks() {
    const int64_t fileSize = FileSize(file_);
    uint8_t head[8];
    while (ReadExact(file_, head, sizeof head)) {
        const uint32_t size = Le32(head + 4);
        if (std::memcmp(head, "fmt ", 4) == 0) {
            if (!ParseFmt(size)) return false;
            continue;
        }
        if (std::memcmp(head, "data", 4) == 0) {
            if (!haveFormat_) return Fail("data chunk comes before the fmt chunk");
            dataStart_ = Tell(file_);
            uint64_t available = fileSize > dataStart_ ? uint64_t(fileSize - dataStart_) : 0;
            dataSize_ = std::min<uint64_t>(size, available);
            dataSize_ -= dataSize_ % static_cast<uint64_t>(format_.blockAlign);
            return true;
        }
        // Chunks we do not read (LIST, fact, cue ...) are padded to even sizes.
        if (!Seek(file_, int64_t(size) + (size & 1), SEEK_CUR)) break;
    }
    return Fail(haveFormat_ ? "no data chunk" : "no fmt chunk");
}

bool WavReader::ParseFmt(uint32_t size) {
    uint8_t fmt[40] = {};
    if (size < 16) return Fail("fmt chunk too short");
    const size_t keep = std::min<size_t>(size, sizeof fmt);
    if (!ReadExact(file_, fmt, keep)) return Fail("truncated fmt chunk");
    if (!Seek(file_, int64_t(size - keep) + (size & 1), SEEK_CUR))
        return Fail("truncated fmt chunk");
    uint16_t tag = Le16(fmt);
    if (tag == kFormatExtensible && keep >= 40 &&
        std::memcmp(fmt + 26, kPcmGuidTail, sizeof kPcmGuidTail) == 0)
        tag = Le16(fmt + 24);
    if (tag != kFormatPcm) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "0x%04X", tag);
        return Fail(std::string("unsupported WAV encoding (format tag ") + hex + "): PCM only");
    }
    format_.channels = Le16(fmt + 2);
    format_.sampleRate = static_cast<int>(std::min<uint32_t>(Le32(fmt + 4), INT32_MAX));
    format_.blockAlign = Le16(fmt + 12);
    format_.bitsPerSample = Le16(fmt + 14);
    if (format_.channels < 1 || format_.channels > 2)
        return Fail("unsupported WAV format: " + std::to_string(format_.channels) +
                    " channels (1 or 2 only)");
    if (format_.bitsPerSample != 8 && format_.bitsPerSample != 16)
        return Fail("unsupported WAV format: " + std::to_string(format_.bitsPerSample) +
                    "-bit samples (8 or 16 only)");
    if (format_.sampleRate < 1000 || format_.sampleRate > 384000)
        return Fail("unsupported sample rate " + std::to_string(format_.sampleRate));
    if (format_.blockAlign != format_.channels * format_.bitsPerSample / 8)
        return Fail("inconsistent fmt chunk (block align " + std::to_string(format_.blockAlign) +
                    ")");
    haveFormat_ = true;
    return true;
}

bool WavReader::Rewind() {
    if (!file_ || !Seek(file_, dataStart_, SEEK_SET)) return Fail("cannot seek");
    position_ = 0;
    return true;
}

size_t WavReader::Read(uint8_t *dst, size_t size) {
    if (!file_ || !dst) return 0;
    uint64_t left = dataSize_ - position_;
    size_t want = static_cast<size_t>(std::min<uint64_t>(size, left));
    want -= want % static_cast<size_t>(format_.blockAlign);
    size_t got = std::fread(dst, 1, want, file_);
    got -= got % static_cast<size_t>(format_.blockAlign);
    position_ += got;
    return got;
}

}  // namespace kplay
