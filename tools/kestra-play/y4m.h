// Reader for YUV4MPEG2 (.y4m) clips: 8-bit 4:2:0 (every siting), 4:2:2, 4:4:4
// and mono, any size from 2x2, handed out as the library's 4:2:0 frames.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "frame.h"

namespace kplay {

struct Y4mHeader {
    int width = 0;
    int height = 0;
    int fpsNum = 0;
    int fpsDen = 0;
    char interlace = 'p';
    std::string chroma = "420";  // the C field without its letter
    bool fullRange = false;      // XCOLORRANGE=FULL; LIMITED or no tag: studio range
};

// Parses the text after the "YUV4MPEG2" signature (the header line without
// its line feed). False with a one-line reason for anything the player cannot
// show: missing or malformed W/H/F, tiny or huge sizes, other chroma formats.
// Interlacing, aspect and extension fields other than XCOLORRANGE are read past.
bool ParseY4mHeader(const std::string &fields, Y4mHeader *header, std::string *error);

class Y4mReader {
public:
    enum class Result { Frame, End, Error };

    Y4mReader() = default;
    ~Y4mReader();
    Y4mReader(const Y4mReader &) = delete;
    Y4mReader &operator=(const Y4mReader &) = delete;

    bool Open(const std::string &path);
    // Reads the next frame into *frame (allocated to the clip's size).
    Result ReadFrame(YuvFrame *frame);
    // Back to the first frame, for looping.
    bool Rewind();

    const Y4mHeader &header() const { return header_; }
    // Frames in the file if every marker is a bare "FRAME".
    int64_t EstimatedFrames() const { return estimatedFrames_; }
    const std::string &error() const { return error_; }

private:
    bool Fail(const std::string &message);
    bool ReadHeader();
    size_t ReadFrameBytes();
    void ToFrame(YuvFrame *frame) const;

    std::FILE *file_ = nullptr;
    std::string path_;
    Y4mHeader header_;
    int64_t dataStart_ = 0;
    int64_t framesRead_ = 0;
    int64_t estimatedFrames_ = 0;
    // One frame as the file stores it (raw_ reaches frameBytes_ once the file
    // holds a whole frame), and its chroma planes' size.
    size_t frameBytes_ = 0;
    std::vector<uint8_t> raw_;
    int chromaWidth_ = 0, chromaHeight_ = 0;
    std::string error_;
};

}  // namespace kplay
