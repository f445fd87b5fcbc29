// Clicks a paced device plays, stamped on the sync log at the moment they are
// heard: when the sink's pacing reached the sample, plus the output lag, the
// same model waveOutGetPosition answers from.
#include "winmm/winmm_internal.h"

#include <algorithm>
#include <cstring>

namespace kplat {

namespace {

constexpr int kLoud = 32768 / 8;  // beyond this a sample is loud, else quiet
// The wave player fills what it has no sound for with 0x64 bytes: a constant
// level, silence to the ear, however far from 0 it lies.
constexpr int16_t kFillSample = 0x6464;
constexpr int64_t kTicksPerSecond = 10000000;

bool LoudFrame(const uint8_t *frame, int channels) {
    for (int c = 0; c < channels; ++c) {
        int16_t sample;
        std::memcpy(&sample, frame + 2 * c, 2);
        if (sample != kFillSample && (sample > kLoud || sample < -kLoud)) return true;
    }
    return false;
}

int64_t FramesToTicks(uint64_t frames, DWORD rate) {
    return static_cast<int64_t>(frames * kTicksPerSecond / rate);
}

}  // namespace

void StartClicks(WaveDevice &d) {
    ClickFinder &f = d.clicks;
    f.on = d.paced && d.format.wBitsPerSample == 16 && SyncLogging();
    f.quietNeeded = d.format.nSamplesPerSec / 10;
    f.quietFrames = f.quietNeeded;  // before the device opened, nothing was heard
}

void FindClicks(WaveDevice &d, const uint8_t *data, size_t size) {
    ClickFinder &f = d.clicks;
    f.found.clear();
    if (!f.on) return;
    const size_t frameBytes = d.format.nBlockAlign;
    for (size_t at = 0; at + frameBytes <= size; at += frameBytes) {
        if (!LoudFrame(data + at, d.format.nChannels)) {
            f.quietFrames = std::min(f.quietFrames + 1, f.quietNeeded);
            continue;
        }
        if (f.quietFrames >= f.quietNeeded) f.found.push_back(uint32_t(at / frameBytes));
        f.quietFrames = 0;
    }
}

void StampClicks(WaveDevice &d, int64_t since) {
    const DWORD rate = d.format.nSamplesPerSec;
    const int64_t lag = FramesToTicks(d.lagBytes / d.format.nBlockAlign, rate);
    for (uint32_t frame : d.clicks.found)
        SyncStamp("click", since + FramesToTicks(frame, rate) + lag);
    d.clicks.found.clear();
}

}  // namespace kplat
