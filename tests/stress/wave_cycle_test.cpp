// Wave players taken through play / pause / volume / stop / close cycles
// against a host callback that sleeps at random and answers random counts,
// negative and oversized ones included: on the manual device, where every
// played byte is checked, and on the null device in real time.
#include <windows.h>
#include <mmsystem.h>
#include <kestra/platform_test.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "kestra/kestra.h"
#include "support/pcm_format.h"

namespace {

constexpr uint8_t kFill = 0x64;

// The host behind one player: writes its own byte, answers a random count.
struct Host {
    explicit Host(uint32_t seed) : random(seed) {}
    std::minstd_rand random;  // device thread only
    uint8_t pattern = 1;
    uint32_t expectedSize = 0;
    std::atomic<int> calls{0};
    std::atomic<int> wrongSize{0};
    std::atomic<bool> closed{false};
    std::atomic<int> callsAfterClose{0};
    int maxSleepUs = 0;
};

int32_t KESTRA_CALLBACK Write(uint8_t *buffer, uint32_t size, void *user) {
    Host *host = static_cast<Host *>(user);
    host->calls.fetch_add(1);
    if (host->closed.load()) host->callsAfterClose.fetch_add(1);
    if (size != host->expectedSize) host->wrongSize.fetch_add(1);
    const unsigned r = host->random();
    if (host->maxSleepUs && r % 4 == 0)
        std::this_thread::sleep_for(std::chrono::microseconds(r % host->maxSleepUs));
    static const int64_t kCounts[] = {INT32_MIN, -1, 0, 1, -2, -3, -4, INT32_MAX};
    const int64_t pick = kCounts[r % 8];
    int64_t count = pick;
    if (pick == -2) count = size / 3;                    // short
    if (pick == -3) count = size;                        // exact
    if (pick == -4) count = int64_t(size) + 1 + r % 64;  // oversized
    // Writes as many bytes as it claims, never past the buffer.
    const int64_t written = count < 0 ? 0 : (count > int64_t(size) ? size : count);
    std::memset(buffer, host->pattern, size_t(written));
    return int32_t(count);
}

// A player of host.expectedSize-byte buffers in `format` that asks host; null if none opened.
KestraWave OpenFor(Host &host, const WAVEFORMATEX &format) {
    KestraWave wave = nullptr;
    if (KESTRA_WVOpenWave(&wave) != 0) return nullptr;
    KESTRA_WVSetWaveFormat(wave, &format, host.expectedSize);
    KESTRA_WVSetWriteWaveCB(wave, &host, &Write);
    return wave;
}

std::minstd_rand Seeded(unsigned seed) {
    std::printf("seed %u\n", seed);
    return std::minstd_rand(seed);
}

// Every byte a buffer may hold: fill, or what this host wrote.
std::string CheckBytes(const std::vector<uint8_t> &played, int bytes, uint32_t size,
                       uint8_t pattern, bool fillOnly) {
    if (bytes != int(size))
        return "played " + std::to_string(bytes) + " bytes of a " + std::to_string(size) +
               "-byte buffer";
    auto bad = std::find_if(played.begin(), played.end(),
                            [&](uint8_t b) { return b != kFill && (fillOnly || b != pattern); });
    if (bad == played.end()) return "";
    return "byte " + std::to_string(bad - played.begin()) + " is " + std::to_string(*bad) +
           (fillOnly ? " where only fill may be" : " (neither fill nor the host's)");
}

class WaveCycles : public ::testing::Test {
protected:
    void TearDown() override {
        kplat_audio_set_sink(nullptr);
        kplat_audio_clear_played();
        EXPECT_EQ(0, kplat_live_objects(KPLAT_OBJ_WAVEOUT)) << "a device stayed open";
        EXPECT_EQ(0, kplat_live_objects(KPLAT_OBJ_EVENT)) << "a player's event stayed open";
    }
};

TEST_F(WaveCycles, ManualDeviceTwoThousandCyclesPlayOnlyFillAndHostBytes) {
    constexpr int kCycles = 2000;
    ASSERT_TRUE(kplat_audio_set_sink("manual"));
    std::minstd_rand random = Seeded(9001);
    const WAVEFORMATEX format = kestra_test::PcmFormat(2, 44100, 16);
    std::vector<uint8_t> played;
    int steps = 0;
    std::string error;
    for (int cycle = 0; cycle < kCycles && error.empty(); ++cycle) {
        Host host(uint32_t(cycle) * 31u + 5u);
        host.pattern = uint8_t(1 + cycle % 99);  // never the fill byte
        host.maxSleepUs = 300;
        host.expectedSize = 1 + random() % 3000;
        played.assign(host.expectedSize, 0);
        KestraWave wave = OpenFor(host, format);
        ASSERT_NE(nullptr, wave);
        const unsigned plan = random();
        // A second round only after a stop: only a fresh play starts on fill.
        const unsigned rounds = plan & 8 ? 1 + plan % 2 : 1;
        for (unsigned round = 0; round < rounds && error.empty(); ++round) {
            KESTRA_WVPlayWave(wave);
            auto step = [&](bool fillOnly, const char *when) {
                int bytes = kplat_audio_manual_step(nullptr, played.data(), int(played.size()));
                ++steps;
                std::string e =
                    CheckBytes(played, bytes, host.expectedSize, host.pattern, fillOnly);
                if (!e.empty() && error.empty())
                    error = "cycle " + std::to_string(cycle) + ", " + when + ": " + e;
            };
            step(true, "first buffer");
            step(true, "second buffer");
            for (unsigned n = random() % 4; n > 0; --n) step(false, "playing");
            KESTRA_WVSetVolume(wave, random() % 300);
            if (plan & 4) {
                KESTRA_WVPauseWave(wave, 1);
                const int calls = host.calls.load();
                step(false, "queued before the pause");
                step(false, "queued before the pause");
                step(true, "paused");
                step(true, "paused");
                if (host.calls.load() != calls && error.empty())
                    error = "cycle " + std::to_string(cycle) + ": the host was asked while paused";
                KESTRA_WVPauseWave(wave, 0);
                step(false, "resumed");
            }
            if (plan & 8) KESTRA_WVStopWave(wave);
        }
        ASSERT_EQ(0, KESTRA_WVCloseWave(wave));
        EXPECT_EQ(0, host.wrongSize.load()) << "cycle " << cycle;
        kplat_audio_clear_played();
    }
    EXPECT_EQ("", error);
    std::printf("%d cycles, %d buffers stepped and checked\n", kCycles, steps);
}

// Real time: the device runs on its own and the host callback sleeps, so
// stop and close meet refills under way. Every call answers 0, no call may
// reach the host after close returns, and every call must carry the size of
// the buffers.
TEST_F(WaveCycles, NullDeviceInRealTimeStopsAndClosesUnderRefills) {
    // Half the manual count: each cycle here waits in real time.
    constexpr int kCycles = 1000;
    ASSERT_TRUE(kplat_audio_set_sink("null"));
    std::minstd_rand random = Seeded(9002);
    // The fastest format the device takes: a 256-byte buffer lasts 40 us.
    const WAVEFORMATEX format = kestra_test::PcmFormat(8, 384000, 16);
    int calls = 0, late = 0, wrong = 0;
    // More cycles (bounded) while no device has asked its host yet.
    int cycle = 0;
    for (; cycle < kCycles || (calls == 0 && cycle < 100 * kCycles); ++cycle) {
        Host host(uint32_t(cycle) * 17u + 3u);
        host.maxSleepUs = 400;
        host.expectedSize = 64 + 16 * (random() % 64);
        KestraWave wave = OpenFor(host, format);
        ASSERT_NE(nullptr, wave);
        const unsigned plan = random();
        for (unsigned round = 0; round <= plan % 3; ++round) {
            EXPECT_EQ(0, KESTRA_WVPlayWave(wave));
            // Half the time until the host has been asked (bounded in polls),
            // so the stop below meets a callback that may still be sleeping.
            for (int poll = 0; plan & 32 && host.calls.load() == 0 && poll < 20000; ++poll)
                std::this_thread::sleep_for(std::chrono::microseconds(50));
            std::this_thread::sleep_for(std::chrono::microseconds(random() % 600));
            EXPECT_EQ(0, plan & 4 ? KESTRA_WVPauseWave(wave, 1) : 0);
            EXPECT_EQ(0, KESTRA_WVSetVolume(wave, random() % 300));
            EXPECT_EQ(0, plan & 8 ? KESTRA_WVPauseWave(wave, 0) : 0);
            EXPECT_EQ(0, plan & 16 ? KESTRA_WVStopWave(wave) : 0);
        }
        ASSERT_EQ(0, KESTRA_WVCloseWave(wave));
        host.closed = true;
        calls += host.calls.load();
        late += host.callsAfterClose.load();
        wrong += host.wrongSize.load();
    }
    EXPECT_EQ(0, late) << "host calls after close returned";
    EXPECT_EQ(0, wrong) << "host calls with a size other than the buffers'";
    EXPECT_GT(calls, 0) << "no device ever asked the host";
    std::printf("%d cycles, %d host calls\n", cycle, calls);
}

}  // namespace
