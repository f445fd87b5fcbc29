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

bool IsSupportedChroma(const std::string &c) {
    return c == "420" || c == "420jpeg" || c == "420mpeg2" || c == "420paldv";
}

bool CheckSize(const Y4mHeader &h, std::string *error) {
    if (h.width % 2 != 0 || h.height % 2 != 0) {
        *error = "odd frame size " + std::to_string(h.width) + "x" + std::to_string(h.height) +
                 " (4:2:0 needs even width and height)";
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
                         std::string(field[0] == 'W' ? "width" : "height") + " '" + value + "'";
                return false;
            }
            (field[0] == 'W' ? h->width : h->height) = static_cast<int>(n);
            seen[field[0] == 'W' ? 0 : 1] = true;
            return true;
        case 'F':
            if (!ParseRatio(value, &h->fpsNum, &h->fpsDen)) {
                *error = "bad frame rate '" + value + "'";
                return false;
            }
            seen[2] = true;
            return true;
        case 'I':
            if (value.size() != 1 || !std::strchr("ptbm?", value[0])) {
                *error = "bad interlacing '" + value + "'";
                return false;
            }
            h->interlace = value[0];
            return true;
        case 'C':
            if (!IsSupportedChroma(value)) {
                *error = "unsupported chroma 'C" + value + "' (only 4:2:0 clips play)";
                return false;
            }
            h->chroma = value;
            return true;
        default:
            // A (aspect), X (extensions) and letters added later carry nothing we need.
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
    int64_t size = FileSize(file_);
    int64_t perFrame = int64_t(header_.width) * header_.height * 3 / 2 + 6;
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
    if (frame->width != header_.width || frame->height != header_.height)
        frame->Allocate(header_.width, header_.height);
    size_t got = std::fread(frame->bytes.data(), 1, frame->bytes.size(), file_);
    if (got != frame->bytes.size()) {
        Fail("frame " + std::to_string(framesRead_ + 1) + " is truncated (" + std::to_string(got) +
             " of " + std::to_string(frame->bytes.size()) + " bytes)");
        return Result::Error;
    }
    ++framesRead_;
    return Result::Frame;
}

}  // namespace kplay
