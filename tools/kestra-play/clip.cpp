#include "clip.h"

#include <cmath>

namespace kplay {

namespace {

struct Rgb {
    int r, g, b;
};

// 75% colour bars, left to right.
constexpr Rgb kBars[8] = {{191, 191, 191}, {191, 191, 0}, {0, 191, 191}, {0, 191, 0},
                          {191, 0, 191},   {191, 0, 0},   {0, 0, 191},   {16, 16, 16}};
constexpr Rgb kBoxColour = {255, 140, 0};
constexpr double kTwoPi = 6.283185307179586;

// Studio-range BT.601, the matrix the library's converters invert.
uint8_t ToY(Rgb c) {
    return static_cast<uint8_t>(16 + (66 * c.r + 129 * c.g + 25 * c.b + 128) / 256);
}
uint8_t ToU(Rgb c) {
    return static_cast<uint8_t>(128 + (-38 * c.r - 74 * c.g + 112 * c.b + 128) / 256);
}
uint8_t ToV(Rgb c) {
    return static_cast<uint8_t>(128 + (112 * c.r - 94 * c.g - 18 * c.b + 128) / 256);
}

// Bounces between 0 and `span` moving `step` per frame.
int Bounce(int index, int step, int span) {
    int travel = (index * step) % (2 * span);
    return travel <= span ? travel : 2 * span - travel;
}

// Every edge falls on an even column and row, so each 2x2 block is one
// colour and the chroma planes need no averaging.
Rgb ColourAt(int x, int y, int index, int boxX, int boxY) {
    if (x >= boxX && x < boxX + kBoxSide && y >= boxY && y < boxY + kBoxSide) return kBoxColour;
    if (y < kClipHeight * 2 / 3) {
        const int barWidth = kClipWidth / 8;
        int shifted = (x + index * 4) % kClipWidth;
        return kBars[shifted / barWidth];
    }
    int grey = (x / 2 * 2) * 255 / (kClipWidth - 2);
    return Rgb{grey, grey, grey};
}

}  // namespace

void ClipBoxPosition(int index, int *x, int *y) {
    *x = Bounce(index, 6, kClipWidth - kBoxSide);
    *y = Bounce(index, 4, kClipHeight - kBoxSide);
}

void RenderClipFrame(int index, YuvFrame *frame) {
    if (frame->width != kClipWidth || frame->height != kClipHeight)
        frame->Allocate(kClipWidth, kClipHeight);
    int boxX = 0, boxY = 0;
    ClipBoxPosition(index, &boxX, &boxY);
    for (int y = 0; y < kClipHeight; y += 2) {
        for (int x = 0; x < kClipWidth; x += 2) {
            Rgb c = ColourAt(x, y, index, boxX, boxY);
            uint8_t luma = ToY(c);
            uint8_t *row = frame->Y() + static_cast<size_t>(y) * frame->YStride() + x;
            row[0] = row[1] = row[frame->YStride()] = row[frame->YStride() + 1] = luma;
            size_t chroma = static_cast<size_t>(y / 2) * frame->UvStride() + x / 2;
            frame->U()[chroma] = ToU(c);
            frame->V()[chroma] = ToV(c);
        }
    }
}

size_t ToneGenerator::Fill(uint8_t *dst, size_t size) {
    const size_t frames = size / kBlockAlign;
    const double step = frequency_ / kSampleRate;
    for (size_t i = 0; i < frames; ++i) {
        double s = std::sin(kTwoPi * phase_) * 0.3 * 32767.0;
        int16_t v = static_cast<int16_t>(std::lround(s));
        for (int ch = 0; ch < kChannels; ++ch) {
            dst[i * kBlockAlign + ch * 2] = static_cast<uint8_t>(v & 0xFF);
            dst[i * kBlockAlign + ch * 2 + 1] = static_cast<uint8_t>((v >> 8) & 0xFF);
        }
        phase_ += step;
        if (phase_ >= 1.0) phase_ -= 1.0;
    }
    return frames * kBlockAlign;
}

}  // namespace kplay
