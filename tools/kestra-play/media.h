// Files FFmpeg's libraries open (MP4, MKV, camera recordings and the rest):
// the best picture stream as the library's YV12 frames, the best sound
// stream as 16-bit PCM. Builds without those libraries (Windows, or Linux
// without their -dev packages) compile media_none.cpp, which opens nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "frame.h"

namespace kplay {

// Largest picture side a file may announce: the library's surfaces stop there.
constexpr int kMaxMediaSide = 16384;

struct MediaInfo {
    bool hasPicture = false;
    int width = 0, height = 0;
    // The frame stretched by its sample aspect ratio: the window's default.
    int displayWidth = 0, displayHeight = 0;
    double frameDuration = 0.04;  // nominal; frames without a time are this far apart
    int64_t estimatedFrames = 0;  // 0: unknown
    // As KESTRA_DWSetColorSpace takes them; -1 where the stream says nothing.
    int matrix = -1, range = -1;
    std::string colourNote;  // how a matrix the library lacks was shown, e.g. "bt2020nc as bt709"

    bool hasSound = false;
    int sampleRate = 0;  // of the PCM handed out: 16-bit, `channels` interleaved
    int channels = 0;
    std::string soundNote;  // why the file's sound stream is not played
};

class MediaReader {
public:
    // False in builds without FFmpeg's libraries.
    static bool Available();

    MediaReader();
    ~MediaReader();
    MediaReader(const MediaReader &) = delete;
    MediaReader &operator=(const MediaReader &) = delete;

    // Opens the file, decodes its first picture and the first half second of
    // sound; wantSound false leaves the sound stream alone. False with one
    // line in error() when nothing in the file can be played.
    bool Open(const std::string &path, bool wantSound);
    const MediaInfo &info() const;
    const std::string &error() const;

    // Main thread. The next picture, and its time in seconds from the start
    // of playback; false at the end (a damaged file ends where decoding stops).
    bool ReadFrame(YuvFrame *frame, double *time);
    // Main thread: decodes until about half a second of sound waits.
    void FeedSound();

    // Device thread: up to `size` bytes of PCM, whole sample frames; fewer
    // when the main thread has not decoded that far.
    size_t TakeSound(uint8_t *dst, size_t size);
    // True once every sample of the file has been taken.
    bool SoundFinished() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace kplay
