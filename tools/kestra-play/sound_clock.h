// The sound's clock as the library reports it: QueryPerformanceCounter ticks
// and the host's sample frames heard at one of them.
#pragma once

#include <cstdint>

namespace kplay {

// The counter KESTRA_WVGetPosition stamps its count with, and its ticks per
// second. Off Windows the stand-in's counter: CLOCK_MONOTONIC in 100 ns ticks.
int64_t QpcNow();
int64_t QpcFrequency();

// Seconds of the host's stream heard at `now`: `frames` were heard at `at`
// and the sound has flowed on since, but never past the `handed` frames the
// host has given the library. A `now` before `at` adds nothing.
double HeardSeconds(int64_t frames, int64_t at, int64_t now, int64_t frequency, uint32_t sampleRate,
                    int64_t handed);

}  // namespace kplay
