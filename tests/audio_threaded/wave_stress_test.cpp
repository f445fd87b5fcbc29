// Real device threads: play, pause, stop and close over and over against a
// host callback that sleeps at random, for the sanitizers to watch.
#include <windows.h>
#include <mmsystem.h>

#include <gtest/gtest.h>
#include <kestra/platform_test.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <random>
#include <thread>

#include "kestra/kestra.h"
#include "support/pcm_format.h"

namespace {

struct Host {
    std::atomic<int> calls{0};
    std::atomic<KestraWave> self{nullptr};
    std::atomic<int> stopResults{0};
    bool stopFromInside = false;
};

thread_local std::minstd_rand callbackRandom(12345);

// Writes the whole buffer, sleeps now and then, and reports a count that may
// be short, negative or too large.
int32_t KESTRA_CALLBACK Write(uint8_t *buffer, uint32_t size, void *user) {
    Host *host = static_cast<Host *>(user);
    host->calls.fetch_add(1);
    std::memset(buffer, 0x11, size);
    unsigned r = callbackRandom();
    if (r % 4 == 0) std::this_thread::sleep_for(std::chrono::microseconds(r % 2000));
    if (host->stopFromInside) host->stopResults += KESTRA_WVStopWave(host->self.load()) == 0;
    switch (r % 5) {
        case 0:
            return 0;
        case 1:
            return -7;
        case 2:
            return static_cast<int32_t>(size) + 9;
        default:
            return static_cast<int32_t>(size / 2);
    }
}

// The fastest PCM a device takes, so buffers come back every few microseconds.
WAVEFORMATEX Fast() { return kestra_test::PcmFormat(8, 384000, 16); }

class WaveStress : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(kplat_audio_set_sink("null")); }
    void TearDown() override {
        kplat_audio_set_sink(nullptr);
        EXPECT_EQ(0, kplat_live_objects(KPLAT_OBJ_WAVEOUT)) << "a device leaked";
    }
};

TEST_F(WaveStress, ThousandCyclesOfPlayPauseStopClose) {
    std::minstd_rand random(2024);
    std::printf("seed 2024\n");
    WAVEFORMATEX format = Fast();
    Host host;
    // A thousand cycles, and more (bounded) until a device thread has asked the host.
    for (int cycle = 0; cycle < 1000 || (host.calls.load() == 0 && cycle < 100000); ++cycle) {
        KestraWave wave = nullptr;
        ASSERT_EQ(0, KESTRA_WVOpenWave(&wave));
        ASSERT_EQ(0, KESTRA_WVSetWaveFormat(wave, &format, 256 + 16 * (random() % 16)));
        ASSERT_EQ(0, KESTRA_WVSetWriteWaveCB(wave, &host, &Write));
        const unsigned plan = random();
        for (unsigned round = 0; round <= plan % 3; ++round) {
            EXPECT_EQ(0, KESTRA_WVPlayWave(wave));
            if (plan & 8) KESTRA_WVPauseWave(wave, 1);
            std::this_thread::sleep_for(std::chrono::microseconds(random() % 500));
            if (plan & 16) KESTRA_WVPauseWave(wave, 0);
            EXPECT_EQ(0, KESTRA_WVSetVolume(wave, random() % 120));
            if (plan & 32) KESTRA_WVStopWave(wave);
        }
        ASSERT_EQ(0, KESTRA_WVCloseWave(wave)) << "cycle " << cycle;
    }
    EXPECT_GT(host.calls.load(), 0);
}

TEST_F(WaveStress, StopFromInsideTheCallbackIsRefusedNotDeadlocked) {
    WAVEFORMATEX format = Fast();
    Host host;
    host.stopFromInside = true;
    KestraWave wave = nullptr;
    ASSERT_EQ(0, KESTRA_WVOpenWave(&wave));
    host.self = wave;
    KESTRA_WVSetWaveFormat(wave, &format, 512);
    KESTRA_WVSetWriteWaveCB(wave, &host, &Write);
    KESTRA_WVPlayWave(wave);
    while (host.calls.load() < 20) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(0, KESTRA_WVStopWave(wave));
    int callsAfterStop = host.calls.load();
    EXPECT_GE(host.stopResults.load(), 19) << "every inner stop returned 0 without stopping";
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(callsAfterStop, host.calls.load()) << "no host call after stop returned";
    EXPECT_EQ(0, KESTRA_WVCloseWave(wave));
}

}  // namespace
