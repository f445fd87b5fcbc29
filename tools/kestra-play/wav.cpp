#include "wav.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "file_io.h"

namespace kplay {

namespace {

constexpr uint16_t kFormatPcm = 0x0001;
constexpr uint16_t kFormatFloat = 0x0003;
constexpr uint16_t kFormatExtensible = 0xFFFE;
// Tail shared by the KSDATAFORMAT_SUBTYPE GUIDs after their 16-bit format tag.
constexpr uint8_t kPcmGuidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                      0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

uint16_t Le16(const uint8_t *p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Le32(const uint8_t *p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

bool ReadExact(std::FILE *file, uint8_t *dst, size_t size) {
    return std::fread(dst, 1, size, file) == size;
}

// Speaker bits of the WAVE channel mask, by where they go in a stereo mix.
constexpr uint32_t kLeftSpeakers = 0x1 | 0x10 | 0x40 | 0x200 | 0x1000 | 0x8000;
constexpr uint32_t kRightSpeakers = 0x2 | 0x20 | 0x80 | 0x400 | 0x4000 | 0x20000;
constexpr uint32_t kCentreSpeakers = 0x4 | 0x100 | 0x800 | 0x2000 | 0x10000;
// What a file without a usable mask means, by channel count (3 to 8):
// 3.0, quad, 5.0, 5.1, 6.1, 7.1. The LFE channel (0x8) is left out of the mix.
constexpr uint32_t kDefaultMasks[9] = {0, 0x4, 0x3, 0x7, 0x33, 0x37, 0x3F, 0x70F, 0x63F};
constexpr int kCentreGain = 181;  // 1/sqrt(2) in 1/256

int PopCount(uint32_t v) {
    int n = 0;
    for (; v; v &= v - 1) ++n;
    return n;
}

int16_t Saturate(int64_t v) {
    return static_cast<int16_t>(std::min<int64_t>(std::max<int64_t>(v, -32768), 32767));
}

// One sample scaled to 16 bits, not yet saturated.
int32_t Sample16(const uint8_t *p, int bits, bool isFloat) {
    if (isFloat) {
        float f;
        std::memcpy(&f, p, sizeof f);
        if (!(f == f)) return 0;  // NaN
        return static_cast<int32_t>(std::lround(std::min(std::max(f, -2.0f), 2.0f) * 32768.0f));
    }
    switch (bits) {
        case 8:
            return (int32_t(p[0]) - 128) * 256;
        case 16:
            return int16_t(Le16(p));
        case 24:
            return int32_t((uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 24)) >> 16;
        default:
            return int32_t(Le32(p)) >> 16;
    }
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
            dataSize_ -= dataSize_ % static_cast<uint64_t>(source_.format.blockAlign);
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
    source_.channelMask = 0;
    if (tag == kFormatExtensible && keep >= 40 &&
        std::memcmp(fmt + 26, kPcmGuidTail, sizeof kPcmGuidTail) == 0) {
        tag = Le16(fmt + 24);
        source_.channelMask = Le32(fmt + 20);
    }
    if (tag != kFormatPcm && tag != kFormatFloat) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "0x%04X", tag);
        return Fail(std::string("unsupported WAV encoding (format tag ") + hex +
                    "): integer PCM or float only");
    }
    source_.isFloat = tag == kFormatFloat;
    WavFormat &f = source_.format;
    f.channels = Le16(fmt + 2);
    f.blockAlign = Le16(fmt + 12);
    f.bitsPerSample = Le16(fmt + 14);
    if (!CheckSource(Le32(fmt + 4))) return false;
    haveFormat_ = true;
    return true;
}

// The rate is checked as the file states it, before it fits an int.
bool WavReader::CheckSource(uint32_t sampleRate) {
    WavFormat &f = source_.format;
    if (f.channels < 1 || f.channels > 8)
        return Fail("unsupported WAV format: " + std::to_string(f.channels) +
                    " channels (1 to 8 only)");
    if (source_.isFloat && f.bitsPerSample != 32)
        return Fail("unsupported WAV format: " + std::to_string(f.bitsPerSample) +
                    "-bit float samples (32-bit only)");
    if (f.bitsPerSample != 8 && f.bitsPerSample != 16 && f.bitsPerSample != 24 &&
        f.bitsPerSample != 32)
        return Fail("unsupported WAV format: " + std::to_string(f.bitsPerSample) +
                    "-bit samples (8, 16, 24 or 32 only)");
    if (sampleRate < 1000 || sampleRate > 384000)
        return Fail("unsupported sample rate " + std::to_string(sampleRate));
    f.sampleRate = static_cast<int>(sampleRate);
    if (f.blockAlign != f.channels * f.bitsPerSample / 8)
        return Fail("inconsistent fmt chunk (block align " + std::to_string(f.blockAlign) + ")");
    // 8- and 16-bit mono and stereo PCM go to the device untouched.
    convert_ = f.channels > 2 || f.bitsPerSample > 16 || source_.isFloat;
    format_ = f;
    if (!convert_) return true;
    format_.channels = std::min(f.channels, 2);
    format_.bitsPerSample = 16;
    format_.blockAlign = format_.channels * 2;
    PlanMix();
    return true;
}

// Gains of each source channel into the output's left and right.
void WavReader::PlanMix() {
    const int channels = source_.format.channels;
    for (int c = 0; c < channels; ++c) {
        gainLeft_[c] = channels <= 2 ? (c == 0) * 256 : 0;
        gainRight_[c] = channels <= 2 ? (c == 1) * 256 : 0;
    }
    if (channels <= 2) return;
    uint32_t mask = source_.channelMask;
    if (PopCount(mask) < channels) mask = kDefaultMasks[channels];
    // The k-th channel is the k-th speaker set in the mask; others are dropped.
    for (int c = 0; c < channels && mask; ++c, mask &= mask - 1) {
        const uint32_t speaker = mask & (0u - mask);
        if (speaker & (kLeftSpeakers | kCentreSpeakers))
            gainLeft_[c] = speaker & kCentreSpeakers ? kCentreGain : 256;
        if (speaker & (kRightSpeakers | kCentreSpeakers))
            gainRight_[c] = speaker & kCentreSpeakers ? kCentreGain : 256;
    }
}

bool WavReader::Rewind() {
    if (!file_ || !Seek(file_, dataStart_, SEEK_SET)) return Fail("cannot seek");
    position_ = 0;
    return true;
}

size_t WavReader::Read(uint8_t *dst, size_t size) {
    if (!file_ || !dst) return 0;
    if (convert_) return ReadConverted(dst, size);
    uint64_t left = dataSize_ - position_;
    size_t want = static_cast<size_t>(std::min<uint64_t>(size, left));
    want -= want % static_cast<size_t>(format_.blockAlign);
    size_t got = std::fread(dst, 1, want, file_);
    got -= got % static_cast<size_t>(format_.blockAlign);
    position_ += got;
    return got;
}

}  // namespace kplay

namespace kplay {

size_t WavReader::ReadConverted(uint8_t *dst, size_t size) {
    const WavFormat &in = source_.format;
    const size_t frames =
        std::min<uint64_t>(size / format_.blockAlign, (dataSize_ - position_) / in.blockAlign);
    scratch_.resize(frames * in.blockAlign);
    const size_t got = std::fread(scratch_.data(), 1, scratch_.size(), file_) / in.blockAlign;
    position_ += got * in.blockAlign;
    const int bytes = in.bitsPerSample / 8;
    for (size_t i = 0; i < got; ++i) {
        const uint8_t *frame = scratch_.data() + i * in.blockAlign;
        int64_t left = 0, right = 0;
        for (int c = 0; c < in.channels; ++c) {
            const int32_t v = Sample16(frame + c * bytes, in.bitsPerSample, source_.isFloat);
            left += int64_t(v) * gainLeft_[c];
            right += int64_t(v) * gainRight_[c];
        }
        const int16_t out[2] = {Saturate(left >> 8), Saturate(right >> 8)};
        std::memcpy(dst + i * format_.blockAlign, out, format_.blockAlign);
    }
    return got * format_.blockAlign;
}

}  // namespace kplay
