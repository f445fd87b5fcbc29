// The clip kestra-play shows when given no file: scrolling colour bars over a
// grey ramp with a bouncing box, and a 440 Hz tone.
#pragma once

#include <cstddef>
#include <cstdint>

#include "frame.h"

namespace kplay {

constexpr int kClipWidth = 640;
constexpr int kClipHeight = 360;
constexpr int kClipFpsNum = 25;
constexpr int kClipFpsDen = 1;
constexpr int kClipFrames = 100;

// Draws frame `index` (any index >= 0; the picture repeats) into *frame.
void RenderClipFrame(int index, YuvFrame *frame);

// Left-top corner of the bouncing box in frame `index`; its side is kBoxSide.
constexpr int kBoxSide = 64;
void ClipBoxPosition(int index, int *x, int *y);

// 16-bit stereo sine at `frequency` Hz; keeps its phase between calls.
class ToneGenerator {
public:
    static constexpr int kSampleRate = 44100;
    static constexpr int kChannels = 2;
    static constexpr int kBlockAlign = kChannels * 2;

    explicit ToneGenerator(double frequency = 440.0) : frequency_(frequency) {}
    // Fills whole sample frames of `size` bytes; returns the bytes written.
    size_t Fill(uint8_t *dst, size_t size);

private:
    double frequency_;
    double phase_ = 0.0;  // in cycles, 0..1
};

}  // namespace kplay
