#include "sound_clock.h"

#include <algorithm>

#include <windows.h>

namespace kplay {

// QueryPerformanceCounter on both: the stand-in's is the one its stamps use.
int64_t QpcNow() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

int64_t QpcFrequency() {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart;
}

double HeardSeconds(int64_t frames, int64_t at, int64_t now, int64_t frequency, uint32_t sampleRate,
                    int64_t handed) {
    const double since = double(std::max<int64_t>(now - at, 0)) / double(frequency);
    const double heard = double(frames) / sampleRate + since;
    return std::min(heard, double(handed) / sampleRate);
}

}  // namespace kplay
