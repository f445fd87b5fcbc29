// Real device threads: hosts that call stop from inside write callbacks, their
// own player's and another's, while the devices refill in real time, for the
// sanitizers to watch.
// (Play / pause / stop / close cycles in real time are in tests/stress.)
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
};

thread_local std::minstd_rand callbackRandom(12345);

// Writes the whole buffer, sleeps now and then, stops its own player from
// inside, and reports a count that may be short, negative or too large.
int32_t KESTRA_CALLBACK Write(uint8_t *buffer, uint32_t size, void *user) {
    Host *host = static_cast<Host *>(user);
    host->calls.fetch_add(1);
    std::memset(buffer, 0x11, size);
    unsigned r = callbackRandom();
    if (r % 4 == 0) std::this_thread::sleep_for(std::chrono::microseconds(r % 2000));
    host->stopResults += KESTRA_WVStopWave(host->self.load()) == 0;
    static const int32_t kCounts[] = {0, -7, int32_t(size) + 9, int32_t(size / 2)};
    return kCounts[r % 4];
}

TEST(WaveStress, StopFromInsideTheCallbackIsRefusedNotDeadlocked) {
    ASSERT_TRUE(kplat_audio_set_sink("null"));
    // The fastest PCM a device takes, so buffers come back every few microseconds.
    const WAVEFORMATEX format = kestra_test::PcmFormat(8, 384000, 16);
    Host host;
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
    kplat_audio_set_sink(nullptr);
    EXPECT_EQ(0, kplat_live_objects(KPLAT_OBJ_WAVEOUT)) << "a device leaked";
}

// Two players, each stopping the other from inside its write callback while
// both callbacks are running.
struct Peer {
    std::atomic<KestraWave> other{nullptr};
    std::atomic<int> *inside = nullptr;
    std::atomic<int> calls{0};
    std::atomic<int> stopsReturned{0};
};

int32_t KESTRA_CALLBACK StopOther(uint8_t *buffer, uint32_t size, void *user) {
    Peer *peer = static_cast<Peer *>(user);
    std::memset(buffer, 0x22, size);
    if (peer->calls.fetch_add(1) != 0) return int32_t(size);
    peer->inside->fetch_add(1);
    for (int i = 0; i < 2000 && peer->inside->load() < 2; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    KESTRA_WVStopWave(peer->other.load());
    peer->stopsReturned.fetch_add(1);
    return int32_t(size);
}

TEST(WaveStress, PlayersStoppingEachOtherFromTheirCallbacksBothStop) {
    ASSERT_TRUE(kplat_audio_set_sink("null"));
    const WAVEFORMATEX format = kestra_test::PcmFormat(2, 48000, 16);
    std::atomic<int> inside{0};
    Peer peers[2];
    KestraWave waves[2] = {nullptr, nullptr};
    for (int i = 0; i < 2; ++i) {
        ASSERT_EQ(0, KESTRA_WVOpenWave(&waves[i]));
        peers[i].inside = &inside;
        peers[1 - i].other = waves[i];
        KESTRA_WVSetWaveFormat(waves[i], &format, 1024);
        KESTRA_WVSetWriteWaveCB(waves[i], &peers[i], &StopOther);
    }
    KESTRA_WVPlayWave(waves[0]);
    KESTRA_WVPlayWave(waves[1]);
    // A device closes only after the refill that stopped its peer returned.
    for (int i = 0; i < 10000 && kplat_live_objects(KPLAT_OBJ_WAVEOUT) != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(0, kplat_live_objects(KPLAT_OBJ_WAVEOUT)) << "a device still open after 10 s";
    EXPECT_EQ(1, peers[0].stopsReturned.load()) << "the first player's stop of the second";
    EXPECT_EQ(1, peers[1].stopsReturned.load()) << "the second player's stop of the first";
    EXPECT_EQ(0, KESTRA_WVCloseWave(waves[0]));
    EXPECT_EQ(0, KESTRA_WVCloseWave(waves[1]));
    // The threads the stops handed the devices to let go of the players last.
    for (int i = 0; i < 10000 && kplat_live_objects(KPLAT_OBJ_EVENT) != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(0, kplat_live_objects(KPLAT_OBJ_EVENT)) << "a player was never let go";
    kplat_audio_set_sink(nullptr);
}

}  // namespace
