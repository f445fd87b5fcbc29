#include "sound_clock.h"

#include <algorithm>

#ifdef _WIN32
#include <windows.h>
#else
#include <time.h>
#endif

namespace kplay {

#ifdef _WIN32
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
#else
// The stand-in's QueryPerformanceCounter reads this clock at this rate, so
// its stamps and ours compare.
constexpr int64_t kStandInFrequency = 10000000;

int64_t QpcNow() {
    timespec now = {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t(now.tv_sec) * kStandInFrequency + now.tv_nsec / 100;
}

int64_t QpcFrequency() { return kStandInFrequency; }
#endif

double HeardSeconds(int64_t frames, int64_t at, int64_t now, int64_t frequency, uint32_t sampleRate,
                    int64_t handed) {
    const double since = double(std::max<int64_t>(now - at, 0)) / double(frequency);
    const double heard = double(frames) / sampleRate + since;
    return std::min(heard, double(handed) / sampleRate);
}

}  // namespace kplay
