// What a host pays to ask where the sound is.
//
// "wave/position": one KESTRA_WVGetPosition call on a player playing into the
// stand-in's null sink, which is paced in real time, so the device thread
// refills alongside as in a real playback. The counter `result` is what the
// last call answered (2: the library could not tell).
#include <windows.h>
#include <mmsystem.h>

#include <benchmark/benchmark.h>

#include <cstring>

#include "kestra/kestra.h"
#include "kestra/platform.h"
#include "../tests/support/pcm_format.h"

namespace kestra_bench {

namespace {

int32_t KESTRA_CALLBACK Silence(uint8_t *buffer, uint32_t size, void *) {
    std::memset(buffer, 0, size);
    return static_cast<int32_t>(size);
}

void Position(benchmark::State &state) {
    if (!kplat_audio_set_sink("null")) {
        state.SkipWithError("the stand-in has no null sink");
        return;
    }
    KestraWave wave = nullptr;
    if (KESTRA_WVOpenWave(&wave) != 0) {
        state.SkipWithError("no player");
        return;
    }
    // 48 kHz stereo 16-bit in buffers of 50 ms, as kestra-play plays it.
    WAVEFORMATEX format = kestra_test::PcmFormat(2, 48000, 16);
    KESTRA_WVSetWaveFormat(wave, &format, format.nAvgBytesPerSec / 20);
    KESTRA_WVSetWriteWaveCB(wave, nullptr, Silence);
    KESTRA_WVPlayWave(wave);
    int64_t frames = 0, at = 0;
    KestraResult result = 0;
    for (auto _ : state) {
        result = KESTRA_WVGetPosition(wave, &frames, &at);
        benchmark::DoNotOptimize(result);
    }
    state.counters["result"] = result;
    KESTRA_WVCloseWave(wave);
    kplat_audio_set_sink(nullptr);
}

}  // namespace

void RegisterWaveBenchmarks() {
    benchmark::RegisterBenchmark("wave/position", Position)->UseRealTime();
}

}  // namespace kestra_bench
