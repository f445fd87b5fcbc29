// What an audio host can rely on: pulls at the device's pace, pause and stop
// end the pulls, play works again after stop, close while playing is safe.
// Timing is only ever a lower bound or a generous wait, never a limit.
#include <windows.h>
#if __has_include(<mmsystem.h>)
#include <mmsystem.h>
#define KESTRA_HAVE_MMSYSTEM 1
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "host_window.h"
#include "kestra/kestra.h"

#ifdef KESTRA_HAVE_MMSYSTEM
#include "../support/pcm_format.h"

namespace {

constexpr uint32_t kSampleRate = 44100, kChannels = 2, kBytesPerFrame = 4;
constexpr uint32_t kBufferSize = 4096 * kBytesPerFrame;  // about 93 ms
constexpr unsigned kBufferMs = unsigned(kBufferSize * 1000 / (kSampleRate * kBytesPerFrame));
// Long enough that anything still pulling would have pulled several times.
constexpr unsigned kQuietMs = 6 * kBufferMs;
constexpr unsigned kPatienceMs = 10000;

// The byte at position n of the stream a host writes; never the fill byte.
uint8_t PatternByte(uint64_t n) {
    const uint8_t b = uint8_t((n * 7 + 13) & 0xFF);
    return b == 0x64 ? 0x65 : b;
}

struct Puller {
    std::atomic<int> pulls{0};
    std::atomic<int> badArguments{0};
    std::atomic<uint64_t> written{0};
    std::atomic<uint32_t> firstPullTick{0};
    void *expectedUser = nullptr;
};

int32_t KESTRA_CALLBACK WritePattern(uint8_t *buffer, uint32_t size, void *user) {
    Puller *puller = static_cast<Puller *>(user);
    if (user != puller->expectedUser || size != kBufferSize || !buffer) ++puller->badArguments;
    if (puller->pulls.fetch_add(1) == 0) puller->firstPullTick = host::TickMs();
    const uint64_t start = puller->written.fetch_add(size);
    for (uint32_t i = 0; i < size; ++i) buffer[i] = PatternByte(start + i);
    return int32_t(size);
}

// Waits until at least `count` pulls happened; false if they never came.
bool WaitForPulls(const Puller &puller, int count) {
    const uint32_t start = host::TickMs();
    while (puller.pulls.load() < count) {
        if (host::TickMs() - start > kPatienceMs) return false;
        host::SleepMs(5);
    }
    return true;
}

// A player pulling into puller_, with the stereo format unless withFormat_ is cleared.
class WaveTest : public ::testing::Test {
protected:
    void SetUp() override {
        host::UseTestAudioOutput();
        puller_.expectedUser = &puller_;
        ASSERT_EQ(KESTRA_WVOpenWave(&wave_), 0);
        const WAVEFORMATEX format = kestra_test::PcmFormat(kChannels, kSampleRate, 16);
        ASSERT_EQ(withFormat_ ? KESTRA_WVSetWaveFormat(wave_, &format, kBufferSize) : 0, 0);
        ASSERT_EQ(KESTRA_WVSetWriteWaveCB(wave_, &puller_, WritePattern), 0);
    }

    void TearDown() override {
        if (wave_) {
            EXPECT_EQ(KESTRA_WVCloseWave(wave_), 0);
        }
        EXPECT_EQ(puller_.badArguments.load(), 0) << "pulls with a wrong buffer, size or user";
    }

    // Pull count after a quiet period; equal to the count before when nothing pulls.
    int PullsAfterQuiet() {
        host::SleepMs(kQuietMs);
        return puller_.pulls.load();
    }

    KestraWave wave_ = nullptr;
    Puller puller_;
    bool withFormat_ = true;
};

TEST_F(WaveTest, PullsComeAtTheDevicePace) {
    if (!host::AudioOutputIsPaced()) GTEST_SKIP() << "the audio output here has no clock";
    ASSERT_EQ(KESTRA_WVPlayWave(wave_), 0);
    // A device may take a second or more of audio into its own buffer at once
    // (Wine's does); only after that does each pull follow one played buffer.
    const int warmUp = 2 + int(1500 / kBufferMs);
    ASSERT_TRUE(WaitForPulls(puller_, warmUp)) << "pulls seen: " << puller_.pulls.load();
    const int from = puller_.pulls.load();
    const uint32_t start = host::TickMs();
    const int measured = 8;
    ASSERT_TRUE(WaitForPulls(puller_, from + measured)) << "pulls seen: " << puller_.pulls.load();
    const uint32_t elapsed = host::TickMs() - start;
    // A player pulling faster than the device plays would be done far sooner.
    const unsigned playedMs = measured * kBufferMs;
    EXPECT_GE(elapsed, playedMs / 2) << measured << " pulls in " << elapsed
                                     << " ms; the device plays them in about " << playedMs << " ms";
}

// The clock never runs back, never past what the host handed over, and never
// further behind it than the two buffers in flight and a device's own 0.1 s.
TEST_F(WaveTest, SoundClockIsMonotonicAndBoundedByWhatWasHandedOver) {
    int64_t frames = -1, stamp = -1;
    EXPECT_EQ(KESTRA_WVGetPosition(wave_, &frames, &stamp), 2) << "not playing yet";
    EXPECT_EQ(KESTRA_WVGetPosition(nullptr, &frames, &stamp), 1);
    ASSERT_EQ(KESTRA_WVPlayWave(wave_), 0);
    ASSERT_TRUE(WaitForPulls(puller_, 4)) << "pulls seen: " << puller_.pulls.load();
    const int64_t slack = 2 * kBufferSize / kBytesPerFrame + kSampleRate / 10;
    int64_t last = 0, lastStamp = 0, behind = 0;
    for (int i = 0; i < 100; ++i) {
        const int64_t before = int64_t(puller_.written.load() / kBytesPerFrame);
        ASSERT_EQ(KESTRA_WVGetPosition(wave_, &frames, &stamp), 0);
        const int64_t after = int64_t(puller_.written.load() / kBytesPerFrame);
        EXPECT_GE(frames, last) << "read " << i;
        EXPECT_GE(stamp, lastStamp) << "read " << i;
        EXPECT_LE(frames, after) << "read " << i;
        EXPECT_GE(frames, before - slack) << "read " << i;
        last = frames;
        lastStamp = stamp;
        behind = std::max(behind, before - frames);
        host::SleepMs(5);
    }
    std::printf("sound clock: at most %.1f ms behind what was handed over\n",
                double(behind) * 1000.0 / kSampleRate);
    ASSERT_EQ(KESTRA_WVStopWave(wave_), 0);
    EXPECT_EQ(KESTRA_WVGetPosition(wave_, &frames, &stamp), 2) << "stopped";
}

TEST_F(WaveTest, PauseStopsThePullsResumeRestartsThemAndCloseEndsThem) {
    ASSERT_EQ(KESTRA_WVPlayWave(wave_), 0);
    ASSERT_TRUE(WaitForPulls(puller_, 2));
    ASSERT_EQ(KESTRA_WVPauseWave(wave_, 1), 0);
    const int atPause = PullsAfterQuiet();  // a pull under way may still finish
    EXPECT_EQ(PullsAfterQuiet(), atPause) << "pulls while paused";
    ASSERT_EQ(KESTRA_WVPauseWave(wave_, 0), 0);
    EXPECT_TRUE(WaitForPulls(puller_, atPause + 2)) << "no pulls after resume";
    ASSERT_EQ(KESTRA_WVSetVolume(wave_, 50), 0);
    ASSERT_EQ(KESTRA_WVCloseWave(wave_), 0);  // while playing
    wave_ = nullptr;
    const int atClose = puller_.pulls.load();
    EXPECT_EQ(PullsAfterQuiet(), atClose) << "pulls after close";
}

// A second play while playing keeps one stream: after stop nothing pulls.
TEST_F(WaveTest, StopEndsThePullsOfOneStreamAndPlayStartsThemAgain) {
    ASSERT_EQ(KESTRA_WVPlayWave(wave_), 0);
    ASSERT_TRUE(WaitForPulls(puller_, 3));
    ASSERT_EQ(KESTRA_WVPlayWave(wave_), 0);
    const uint32_t before = host::TickMs();
    ASSERT_EQ(KESTRA_WVStopWave(wave_), 0);
    RecordProperty("stop_ms", int(host::TickMs() - before));
    const int atStop = puller_.pulls.load();
    EXPECT_EQ(PullsAfterQuiet(), atStop) << "pulls after stop returned";
    EXPECT_EQ(KESTRA_WVStopWave(wave_), 0) << "second stop";
    ASSERT_EQ(KESTRA_WVPlayWave(wave_), 0);
    EXPECT_TRUE(WaitForPulls(puller_, atStop + 2)) << "no pulls after the next play";
}

class WaveWithoutFormat : public WaveTest {
protected:
    WaveWithoutFormat() { withFormat_ = false; }
};

TEST_F(WaveWithoutFormat, NeverPullsAndEveryCallAnswersZero) {
    EXPECT_EQ(KESTRA_WVStopWave(wave_), 0) << "stop on a new player";
    EXPECT_EQ(KESTRA_WVSetVolume(wave_, 0x00010032), 0);
    EXPECT_EQ(KESTRA_WVPauseWave(wave_, 1), 0);
    EXPECT_EQ(KESTRA_WVPlayWave(wave_), 0) << "play reports 0 even when the device refuses";
    EXPECT_EQ(PullsAfterQuiet(), 0) << "pulls without a format";
    EXPECT_EQ(KESTRA_WVSetVolume(wave_, 100), 0);
    EXPECT_EQ(KESTRA_WVStopWave(wave_), 0);
}

// Plays the pattern stream for the capture check of the Wine harness, which
// runs this test alone and then looks for two buffers of 0x64 followed by
// the pattern in what the sound device received. On its own it checks that
// the pattern went out.
using WaveCapture = WaveTest;

TEST_F(WaveCapture, PlaysTheKnownPattern) {
    ASSERT_EQ(KESTRA_WVPlayWave(wave_), 0);
    EXPECT_TRUE(WaitForPulls(puller_, 6));
    // Let the pulled buffers play out before the device is reset.
    host::SleepMs(3 * kBufferMs);
    EXPECT_EQ(KESTRA_WVStopWave(wave_), 0);
    std::printf("capture: buffer %u bytes, fill 0x64, pattern (n*7+13)&255 with 0x64->0x65\n",
                unsigned(kBufferSize));
}

}  // namespace

#endif
