#include "y4m.h"

#include "file_io.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace kplay {

namespace {

constexpr char kSignature[] = "YUV4MPEG2";

constexpr size_t kMaxLine = 4096;

// Header bytes quoted in a message: an escape sequence in a file must not
// reach the terminal, nor a NUL cut the line.
std::string Quoted(const std::string &bytes) {
    static const char kHex[] = "0123456789abcdef";
    std::string out = "'";
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += static_cast<char>(c);
            continue;
        }
        out += "\\x";
        out += kHex[c >> 4];
        out += kHex[c & 15];
    }
    return out + "'";
}

// Reads up to and without the next '\n'. False at end of file before any
// byte, or when the line is longer than kMaxLine (*tooLong set).
bool ReadLine(std::FILE *file, std::string *line, bool *tooLong) {
    line->clear();
    *tooLong = false;
    int c;
    while ((c = std::fgetc(file)) != EOF) {
        if (c == '\n') return true;
        if (line->size() >= kMaxLine) {
            *tooLong = true;
            return false;
        }
        line->push_back(static_cast<char>(c));
    }
    return false;
}

// Strict positive decimal: digits only, no sign, no overflow past `limit`.
bool ParsePositive(const std::string &text, int64_t limit, int64_t *value) {
    if (text.empty() || text.size() > 12) return false;
    int64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    if (v <= 0 || v > limit) return false;
    *value = v;
    return true;
}

bool ParseRatio(const std::string &text, int *num, int *den) {
    size_t colon = text.find(':');
    if (colon == std::string::npos) return false;
    int64_t n = 0, d = 0;
    if (!ParsePositive(text.substr(0, colon), INT32_MAX, &n) ||
        !ParsePositive(text.substr(colon + 1), INT32_MAX, &d))
        return false;
    *num = static_cast<int>(n);
    *den = static_cast<int>(d);
    return true;
}

// The range --fps allows: slower waits for ages between frames, faster only
// burns the processor.
bool IsPlayableRate(int num, int den) {
    return int64_t(num) * 10 >= den && num <= int64_t(den) * 1000;
}

bool IsSupportedChroma(const std::string &c) {
    return c == "420" || c == "420jpeg" || c == "420mpeg2" || c == "420paldv" || c == "422" ||
           c == "444" || c == "mono";
}

// Luma samples per chroma sample in the file, across and down.
void FileSubsampling(const std::string &chroma, int *across, int *down) {
    *across = chroma == "444" ? 1 : 2;
    *down = chroma == "444" || chroma == "422" ? 1 : 2;
}

bool CheckSize(const Y4mHeader &h, std::string *error) {
    // One column or row would leave the library's chroma planes empty.
    if (h.width < 2 || h.height < 2) {
        *error = "frame size " + std::to_string(h.width) + "x" + std::to_string(h.height) +
                 " is too small (2x2 at least)";
        return false;
    }
    if (int64_t(h.width) * h.height > kMaxFrameArea) {
        *error = "frame size " + std::to_string(h.width) + "x" + std::to_string(h.height) +
                 " is too large";
        return false;
    }
    return true;
}

bool ParseField(const std::string &field, Y4mHeader *h, bool *seen, std::string *error) {
    const std::string value = field.substr(1);
    int64_t n = 0;
    switch (field[0]) {
        case 'W':
        case 'H':
            if (!ParsePositive(value, kMaxFrameSide, &n)) {
                *error = "bad or too large frame " +
                         std::string(field[0] == 'W' ? "width" : "height") + " " + Quoted(value);
                return false;
            }
            (field[0] == 'W' ? h->width : h->height) = static_cast<int>(n);
            seen[field[0] == 'W' ? 0 : 1] = true;
            return true;
        case 'F':
            if (!ParseRatio(value, &h->fpsNum, &h->fpsDen)) {
                *error = "bad frame rate " + Quoted(value);
                return false;
            }
            if (!IsPlayableRate(h->fpsNum, h->fpsDen)) {
                *error = "frame rate " + value + " is outside 0.1 to 1000 frames per second";
                return false;
            }
            seen[2] = true;
            return true;
        case 'I':
            // Shown as progressive frames whatever it says.
            h->interlace = value.empty() ? '?' : value[0];
            return true;
        case 'C':
            if (!IsSupportedChroma(value)) {
                *error = "unsupported chroma " + Quoted("C" + value) +
                         " (8-bit 4:2:0, 4:2:2, 4:4:4 or mono only)";
                return false;
            }
            h->chroma = value;
            return true;
        case 'X':
            // ffmpeg tags full-range (yuvj) clips; no other extension matters to us.
            if (value == "COLORRANGE=FULL" || value == "COLORRANGE=LIMITED")
                h->fullRange = value == "COLORRANGE=FULL";
            return true;
        default:
            // A (aspect) and letters added later carry nothing we need.
            return true;
    }
}

}  // namespace

bool ParseY4mHeader(const std::string &fields, Y4mHeader *header, std::string *error) {
    Y4mHeader h;
    bool seen[3] = {false, false, false};
    std::istringstream in(fields);
    std::string field;
    while (in >> field) {
        if (!ParseField(field, &h, seen, error)) return false;
    }
    if (!seen[0] || !seen[1] || !seen[2]) {
        *error = std::string("header lacks ") + (!seen[0]   ? "W (width)"
                                                 : !seen[1] ? "H (height)"
                                                            : "F (frame rate)");
        return false;
    }
    if (!CheckSize(h, error)) return false;
    *header = h;
    return true;
}

Y4mReader::~Y4mReader() {
    if (file_) std::fclose(file_);
}

bool Y4mReader::Fail(const std::string &message) {
    error_ = path_ + ": " + message;
    return false;
}

bool Y4mReader::Open(const std::string &path) {
    path_ = path;
    file_ = std::fopen(path.c_str(), "rb");
    if (!file_) return Fail(std::strerror(errno));
    if (ReadHeader()) return true;
    // A refused file reads as empty.
    std::fclose(file_);
    file_ = nullptr;
    return false;
}

bool Y4mReader::ReadHeader() {
    std::string line;
    bool tooLong = false;
    if (!ReadLine(file_, &line, &tooLong))
        return Fail(tooLong ? "header line too long" : "not a YUV4MPEG2 file (no header line)");
    const size_t sigLen = sizeof(kSignature) - 1;
    if (line.compare(0, sigLen, kSignature) != 0 || (line.size() > sigLen && line[sigLen] != ' '))
        return Fail("not a YUV4MPEG2 file (bad signature)");
    std::string reason;
    if (!ParseY4mHeader(line.substr(sigLen), &header_, &reason)) return Fail(reason);
    dataStart_ = Tell(file_);
    // A file's chroma planes cover odd edges: they are rounded up.
    int across = 2, down = 2;
    FileSubsampling(header_.chroma, &across, &down);
    const bool mono = header_.chroma == "mono";
    chromaWidth_ = mono ? 0 : (header_.width + across - 1) / across;
    chromaHeight_ = mono ? 0 : (header_.height + down - 1) / down;
    frameBytes_ = size_t(header_.width) * header_.height + 2 * size_t(chromaWidth_) * chromaHeight_;
    int64_t size = FileSize(file_);
    int64_t perFrame = int64_t(frameBytes_) + 6;
    estimatedFrames_ = size > dataStart_ ? (size - dataStart_) / perFrame : 0;
    return Rewind();
}

bool Y4mReader::Rewind() {
    if (!file_ || !Seek(file_, dataStart_, SEEK_SET)) return Fail("cannot seek");
    framesRead_ = 0;
    return true;
}

Y4mReader::Result Y4mReader::ReadFrame(YuvFrame *frame) {
    if (!file_) return Result::Error;
    std::string line;
    bool tooLong = false;
    if (!ReadLine(file_, &line, &tooLong)) {
        if (tooLong) {
            Fail("frame " + std::to_string(framesRead_ + 1) + ": marker line too long");
            return Result::Error;
        }
        if (line.empty()) return Result::End;
        Fail("frame " + std::to_string(framesRead_ + 1) + ": truncated frame marker");
        return Result::Error;
    }
    if (line.compare(0, 5, "FRAME") != 0 || (line.size() > 5 && line[5] != ' ')) {
        Fail("frame " + std::to_string(framesRead_ + 1) + ": bad frame marker");
        return Result::Error;
    }
    size_t got = ReadFrameBytes();
    if (got != frameBytes_) {
        Fail("frame " + std::to_string(framesRead_ + 1) + " is truncated (" + std::to_string(got) +
             " of " + std::to_string(frameBytes_) + " bytes)");
        return Result::Error;
    }
    if (frame->width != header_.width || frame->height != header_.height)
        frame->Allocate(header_.width, header_.height);
    ToFrame(frame);
    ++framesRead_;
    return Result::Frame;
}

// A header can announce a frame far larger than its file: the buffer is
// never sized past the bytes the file still holds.
size_t Y4mReader::ReadFrameBytes() {
    if (raw_.size() < frameBytes_) {
        const int64_t size = FileSize(file_), here = Tell(file_);
        size_t want = frameBytes_;
        if (size >= 0 && here >= 0 && size - here < int64_t(want))
            want = size > here ? size_t(size - here) : 0;
        raw_.resize(want);
    }
    return raw_.empty() ? 0 : std::fread(raw_.data(), 1, raw_.size(), file_);
}

namespace {

// dst (w x h) from src (stride srcStride): each sample the rounded mean of an
// across x down block. Blocks that would reach past an odd edge are the ones
// the library does not take (it repeats the last chroma sample there).
void ReducePlane(const uint8_t *src, int srcStride, int across, int down, uint8_t *dst, int w,
                 int h) {
    const int count = across * down;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            int sum = count / 2;
            for (int j = 0; j < down; ++j)
                for (int i = 0; i < across; ++i)
                    sum += src[size_t(y * down + j) * srcStride + x * across + i];
            dst[size_t(y) * w + x] = static_cast<uint8_t>(sum / count);
        }
    }
}

}  // namespace

void Y4mReader::ToFrame(YuvFrame *frame) const {
    const size_t luma = frame->LumaSize();
    std::memcpy(frame->Y(), raw_.data(), luma);
    const int w = frame->width / 2, h = frame->height / 2;
    if (chromaWidth_ == 0) {
        std::memset(frame->U(), 128, 2 * frame->ChromaSize());  // mono: no colour
        return;
    }
    // The library's 4:2:0 has one chroma sample per 2x2 luma block.
    int across = 2, down = 2;
    FileSubsampling(header_.chroma, &across, &down);
    across = 2 / across;
    down = 2 / down;
    const size_t plane = size_t(chromaWidth_) * chromaHeight_;
    ReducePlane(raw_.data() + luma, chromaWidth_, across, down, frame->U(), w, h);
    ReducePlane(raw_.data() + luma + plane, chromaWidth_, across, down, frame->V(), w, h);
}

}  // namespace kplay
