// WavePlayer on the manual sink: every buffer the device plays is stepped by
// the test and read back, so rotation, fill rules and counters are exact.
#include <windows.h>
#include <mmsystem.h>

#include <gtest/gtest.h>
#include <kestra/platform_test.h>

#include <cstring>
#include <functional>
#include <vector>

#include "audio/wave_player.h"
#include "support/pcm_format.h"

namespace {

using kestra::kWaveFillByte;
using kestra::WavePlayer;

constexpr uint32_t kSize = 64;

struct Call {
    uint8_t *buffer;
    uint32_t size;
    void *user;
};

// The host: records each call; `script` decides what to write and return.
struct Host {
    std::vector<Call> calls;
    std::function<int32_t(uint8_t *, uint32_t, int)> script;
    WavePlayer *player = nullptr;

    static int32_t KESTRA_CALLBACK Write(uint8_t *buffer, uint32_t size, void *user) {
        Host *self = static_cast<Host *>(user);
        self->calls.push_back({buffer, size, user});
        int n = static_cast<int>(self->calls.size());
        return self->script ? self->script(buffer, size, n) : static_cast<int32_t>(size);
    }
};

// Writes bytes tagged with the call number so every refill is recognisable.
int32_t Pattern(uint8_t *buffer, uint32_t size, int call, int32_t result) {
    for (uint32_t i = 0; i < size; ++i) buffer[i] = static_cast<uint8_t>(call * 16 + (i & 15));
    return result;
}

std::vector<uint8_t> Expected(int call, uint32_t size = kSize) {
    std::vector<uint8_t> v(size);
    Pattern(v.data(), size, call, 0);
    return v;
}

std::vector<uint8_t> Fill(uint32_t size = kSize) {
    return std::vector<uint8_t>(size, kWaveFillByte);
}

WAVEFORMATEX Mono8() { return kestra_test::PcmFormat(1, 8000, 8); }

class WavePlayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(kplat_audio_set_sink("manual"));
        liveBefore = kplat_live_objects(KPLAT_OBJ_WAVEOUT);
        player = new WavePlayer;
        host.player = player;
        WAVEFORMATEX f = Mono8();
        player->SetWaveFormat(&f, kSize);
        player->SetWriteCallback(&host, &Host::Write);
    }
    void TearDown() override {
        if (player) WavePlayer::Close(player);
        kplat_clear_failures();
        kplat_audio_set_sink(nullptr);
        EXPECT_EQ(liveBefore, kplat_live_objects(KPLAT_OBJ_WAVEOUT)) << "a device leaked";
    }
    // Plays the next buffer; returns what the device played.
    std::vector<uint8_t> Step() {
        std::vector<uint8_t> out(player->playSize);
        int n = kplat_audio_manual_step(player->waveOut, out.data(), static_cast<int>(out.size()));
        EXPECT_EQ(static_cast<int>(out.size()), n) << "step did not play a whole buffer";
        if (n < 0) out.clear();
        return out;
    }
    void PlayPastFill() {
        player->Play();
        ASSERT_EQ(Fill(), Step());
        ASSERT_EQ(Fill(), Step());
    }
    Host host;
    WavePlayer *player = nullptr;
    int liveBefore = 0;
};

TEST_F(WavePlayerTest, FirstTwoBuffersAreFillThenBufferZeroGoesToTheHost) {
    player->Play();
    EXPECT_EQ(kestra::WavePlaying, player->state.load());
    EXPECT_EQ(2, kplat_audio_queued(player->waveOut));
    EXPECT_TRUE(host.calls.empty());
    EXPECT_EQ(Fill(), Step());
    ASSERT_EQ(1u, host.calls.size()) << "called when buffer 0 comes back";
    EXPECT_EQ(player->buffers[0], host.calls[0].buffer);
    EXPECT_EQ(kSize, host.calls[0].size);
    EXPECT_EQ(&host, host.calls[0].user);
    EXPECT_EQ(Fill(), Step());
    ASSERT_EQ(2u, host.calls.size());
    EXPECT_EQ(player->buffers[1], host.calls[1].buffer);
}

TEST_F(WavePlayerTest, FullRefillsGoBackExactlyAsWritten) {
    // Exactly the size, then more than the size: both count as full.
    host.script = [](uint8_t *b, uint32_t s, int n) {
        return Pattern(b, s, n, static_cast<int32_t>(n % 2 ? s : s + 1000));
    };
    PlayPastFill();
    for (int call = 1; call <= 6; ++call) EXPECT_EQ(Expected(call), Step()) << "refill " << call;
    EXPECT_EQ(0, player->shortFillCount);
}

TEST_F(WavePlayerTest, ShortRefillsReplayFourTimesThenFill) {
    // Calls 1, 2 full; 3..7 write nothing; 8 on full again.
    host.script = [](uint8_t *b, uint32_t s, int n) {
        return n <= 2 || n >= 8 ? Pattern(b, s, n, static_cast<int32_t>(s)) : 0;
    };
    PlayPastFill();
    EXPECT_EQ(Expected(1), Step());
    EXPECT_EQ(Expected(2), Step());
    EXPECT_EQ(Expected(1), Step()) << "short 1 replays buffer 0";
    EXPECT_EQ(Expected(2), Step()) << "short 2 replays buffer 1";
    EXPECT_EQ(Expected(1), Step()) << "short 3";
    EXPECT_EQ(5, player->shortFillCount) << "after call 7";
    EXPECT_EQ(Expected(2), Step()) << "short 4";
    EXPECT_EQ(Fill(), Step()) << "short 5 is fill";
    EXPECT_EQ(Expected(8), Step()) << "a full refill plays the host's data";
    EXPECT_EQ(0, player->shortFillCount);
}

TEST_F(WavePlayerTest, CountsOutsideTheBufferAreClamped) {
    // From the fifth short on the tail is filled: a partial count fills after
    // it, a negative one is 0 (the whole buffer), never before the start.
    host.script = [](uint8_t *b, uint32_t s, int n) {
        if (n <= 4) return 0;
        return Pattern(b, s, n, n == 5 ? 10 : -1000);
    };
    PlayPastFill();
    for (int i = 0; i < 4; ++i) Step();
    std::vector<uint8_t> partial = Expected(5);
    std::memset(partial.data() + 10, kWaveFillByte, kSize - 10);
    EXPECT_EQ(partial, Step()) << "count 10 on the fifth short refill";
    EXPECT_EQ(Fill(), Step()) << "count -1000 taken as 0";
}

TEST_F(WavePlayerTest, NoCallbackCountsEveryRefillShort) {
    player->SetWriteCallback(nullptr, nullptr);
    PlayPastFill();
    for (int i = 1; i <= 6; ++i) {
        EXPECT_EQ(Fill(), Step()) << "refill " << i;
        EXPECT_EQ(i + 2, player->shortFillCount) << "refill " << i;
    }
}

TEST_F(WavePlayerTest, PauseFillsWithoutAskingTheHostAndResumeAsksAgain) {
    host.script = [](uint8_t *b, uint32_t s, int n) { return Pattern(b, s, n, n == 2 ? 0 : 64); };
    PlayPastFill();  // refills 1 and 2 are queued now (2 short)
    EXPECT_EQ(1, player->shortFillCount);
    player->Pause(1);
    EXPECT_EQ(Expected(1), Step());
    EXPECT_EQ(Expected(2), Step());
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Fill(), Step()) << "paused buffer " << i;
    EXPECT_EQ(2u, host.calls.size()) << "no host call while paused";
    EXPECT_EQ(1, player->shortFillCount) << "pause leaves the count alone";
    player->Pause(0);
    EXPECT_EQ(Fill(), Step());  // refilled before the resume
    EXPECT_EQ(3u, host.calls.size()) << "the next returning buffer goes to the host";
}

TEST_F(WavePlayerTest, PlayClearsAPauseSetBeforeIt) {
    player->Pause(7);
    PlayPastFill();
    EXPECT_EQ(0, player->paused.load());
    EXPECT_EQ(2u, host.calls.size());
}

TEST_F(WavePlayerTest, ShortCountAboveThreeIsCarriedOverStopAndPlay) {
    host.script = [](uint8_t *b, uint32_t s, int n) { return n <= 5 ? 0 : Pattern(b, s, n, 10); };
    PlayPastFill();
    for (int i = 0; i < 3; ++i) Step();
    EXPECT_EQ(5, player->shortFillCount);
    player->Stop();
    EXPECT_EQ(5, player->shortFillCount);
    PlayPastFill();  // call 6 wrote the whole pattern but reported 10 bytes
    std::vector<uint8_t> expected = Expected(6);
    std::memset(expected.data() + 10, kWaveFillByte, kSize - 10);
    EXPECT_EQ(expected, Step()) << "the first short refill after play fills its tail";
}

TEST_F(WavePlayerTest, StopAndCloseWhilePlaying) {
    PlayPastFill();
    int opens = kplat_audio_open_count();
    player->Stop();
    EXPECT_EQ(kestra::WaveClosed, player->state.load());
    EXPECT_EQ(nullptr, player->buffers[0]);
    EXPECT_EQ(nullptr, player->buffers[1]);
    EXPECT_EQ(nullptr, player->waveOut);
    EXPECT_EQ(nullptr, player->link);
    EXPECT_EQ(liveBefore, kplat_live_objects(KPLAT_OBJ_WAVEOUT));
    player->Stop();  // a second stop does nothing
    PlayPastFill();
    EXPECT_EQ(opens + 1, kplat_audio_open_count()) << "play after stop opens a new device";
    WavePlayer::Close(player);
    player = nullptr;
    EXPECT_EQ(liveBefore, kplat_live_objects(KPLAT_OBJ_WAVEOUT));
}

TEST_F(WavePlayerTest, ASecondPlayDoesNothing) {
    player->Play();
    int opens = kplat_audio_open_count();
    uint8_t *b0 = player->buffers[0];
    player->Play();
    EXPECT_EQ(opens, kplat_audio_open_count());
    EXPECT_EQ(b0, player->buffers[0]);
    EXPECT_EQ(2, kplat_audio_queued(player->waveOut));
}

TEST_F(WavePlayerTest, RefusedFormatLeavesNothingAllocated) {
    WavePlayer fresh;  // format never set: all zero
    int opens = kplat_audio_open_count();
    fresh.Play();
    EXPECT_EQ(opens, kplat_audio_open_count());
    EXPECT_EQ(kestra::WaveClosed, fresh.state.load());
    EXPECT_EQ(nullptr, fresh.buffers[0]);
    EXPECT_EQ(nullptr, fresh.buffers[1]);
    EXPECT_EQ(nullptr, fresh.waveOut);
    fresh.SetVolume(50);  // no device: nothing happens
    fresh.Stop();
}

TEST_F(WavePlayerTest, PrepareFailureOtherThanInvalidHandleClosesTheDevice) {
    kplat_fail_call("waveOutPrepareHeader", 1, MMSYSERR_NOMEM, 0);
    player->Play();
    EXPECT_EQ(kestra::WaveClosed, player->state.load());
    EXPECT_EQ(nullptr, player->waveOut);
    EXPECT_EQ(nullptr, player->buffers[0]);
    EXPECT_EQ(nullptr, player->link);
    EXPECT_EQ(liveBefore, kplat_live_objects(KPLAT_OBJ_WAVEOUT)) << "device left open";
}

TEST_F(WavePlayerTest, InvalidHandleOnPrepareLeavesThatHeaderOut) {
    kplat_fail_call("waveOutPrepareHeader", 1, MMSYSERR_INVALHANDLE, 0);
    player->Play();
    EXPECT_EQ(kestra::WavePlaying, player->state.load());
    EXPECT_EQ(1, kplat_audio_queued(player->waveOut)) << "only header 1 went out";
    Step();
    EXPECT_EQ(player->buffers[1], host.calls.at(0).buffer);
}

TEST_F(WavePlayerTest, ExtraFormatBytesNeverReachTheDevice) {
    WAVEFORMATEX f = Mono8();
    f.cbSize = 22;
    player->SetWaveFormat(&f, kSize);
    player->Play();
    WAVEFORMATEX seen{};
    ASSERT_TRUE(kplat_audio_last_format(&seen));
    EXPECT_EQ(0, seen.cbSize);
    f.cbSize = 0;
    EXPECT_EQ(0, std::memcmp(&f, &seen, sizeof(f)));
    EXPECT_EQ(22, player->waveFormat.cbSize) << "the stored record is the host's";
}

TEST_F(WavePlayerTest, SizeSetWhilePlayingNeverReachesPastTheBuffers) {
    // Writes the whole size it is given: past the buffers if that were wrong.
    host.script = [](uint8_t *b, uint32_t s, int n) {
        return Pattern(b, s, n, static_cast<int32_t>(s));
    };
    player->Play();
    WAVEFORMATEX f = Mono8();
    player->SetWaveFormat(&f, kSize * 4);
    EXPECT_EQ(Fill(), Step());
    EXPECT_EQ(kSize, host.calls.at(0).size);
    Step();
    EXPECT_EQ(Expected(1), Step());
    player->Stop();
    player->Play();
    EXPECT_EQ(Fill(kSize * 4), Step()) << "the new size applies from the next play";
}

TEST_F(WavePlayerTest, StopAndCloseFromInsideTheCallbackAreRefused) {
    bool closeTried = false;
    host.script = [this, &closeTried](uint8_t *, uint32_t s, int n) {
        if (n == 1) host.player->Stop();
        if (n == 2) {
            WavePlayer::Close(host.player);
            closeTried = true;
        }
        return static_cast<int32_t>(s);
    };
    PlayPastFill();
    EXPECT_TRUE(closeTried);
    EXPECT_EQ(kestra::WavePlaying, player->state.load()) << "still playing";
    EXPECT_EQ(2, kplat_audio_queued(player->waveOut));
    Step();
    EXPECT_EQ(3u, host.calls.size());
    host.script = nullptr;
    player->Stop();  // from the host's own thread it works
    EXPECT_EQ(kestra::WaveClosed, player->state.load());
}

TEST_F(WavePlayerTest, RefillAfterStopRequestTouchesNothing) {
    PlayPastFill();
    size_t calls = host.calls.size();
    player->stopRequested.store(1);
    WAVEHDR *h = &player->waveHeaders[0];
    WavePlayer::WaveOutProc(player->waveOut, WOM_DONE, reinterpret_cast<DWORD_PTR>(player->link),
                            reinterpret_cast<DWORD_PTR>(h), 0);
    EXPECT_EQ(0, player->refillsInProgress.load()) << "the count is undone";
    EXPECT_EQ(calls, host.calls.size());
    EXPECT_EQ(2, kplat_audio_queued(player->waveOut)) << "nothing queued";
    player->stopRequested.store(0);
}

TEST_F(WavePlayerTest, LateCloseReportAfterStopGaveUpTouchesNoFreedMemory) {
    kplat_audio_hold_close_reports(TRUE);
    PlayPastFill();
    player->Stop();  // waits the full 2 s for a report that does not come
    kplat_audio_hold_close_reports(FALSE);
    EXPECT_EQ(kestra::WaveStopping, player->state.load());
    EXPECT_EQ(nullptr, player->buffers[0]);
    EXPECT_EQ(nullptr, player->waveOut);
    player->Stop();  // does nothing in WaveStopping
    WavePlayer::Close(player);
    player = nullptr;
    EXPECT_EQ(1, kplat_audio_deliver_closes()) << "ASan reports here if the player is touched";
}

// The first device's close report arrives while a second play runs: it
// belongs to the old device and must neither stop nor unprepare the new one.
TEST_F(WavePlayerTest, LateCloseReportDuringANewPlayLeavesItPlaying) {
    host.script = [](uint8_t *b, uint32_t s, int n) {
        return Pattern(b, s, n, static_cast<int32_t>(s));
    };
    kplat_audio_hold_close_reports(TRUE);
    PlayPastFill();
    player->Stop();  // waits the full 2 s for a report that does not come
    kplat_audio_hold_close_reports(FALSE);
    PlayPastFill();
    const size_t calls = host.calls.size();
    EXPECT_EQ(1, kplat_audio_deliver_closes());
    EXPECT_EQ(kestra::WavePlaying, player->state.load());
    EXPECT_EQ(2, kplat_audio_queued(player->waveOut));
    EXPECT_EQ(Expected(int(calls) - 1), Step()) << "the new play goes on with the host's data";
    EXPECT_EQ(Expected(int(calls)), Step());
    EXPECT_EQ(calls + 2, host.calls.size());
}

struct VolumeCase {
    uint32_t volume;
    DWORD expected;
};

class WavePlayerVolume : public WavePlayerTest, public ::testing::WithParamInterface<VolumeCase> {};

TEST_P(WavePlayerVolume, SendsTheSameLevelToBothChannels) {
    player->Play();
    int calls = kplat_audio_volume_calls();
    player->SetVolume(GetParam().volume);
    EXPECT_EQ(calls + 1, kplat_audio_volume_calls());
    DWORD level = 0;
    ASSERT_EQ(MMSYSERR_NOERROR, waveOutGetVolume(player->waveOut, &level));
    EXPECT_EQ(GetParam().expected, level) << "volume " << GetParam().volume;
    player->Stop();
    player->SetVolume(GetParam().volume);
    EXPECT_EQ(calls + 1, kplat_audio_volume_calls()) << "no device after stop: no call";
}

INSTANTIATE_TEST_SUITE_P(Levels, WavePlayerVolume,
                         ::testing::Values(VolumeCase{0, 0x00000000u}, VolumeCase{1, 0x028F028Fu},
                                           VolumeCase{50, 0x7FFF7FFFu}, VolumeCase{99, 0xFD6FFD6Fu},
                                           VolumeCase{100, 0xFFFFFFFFu},
                                           VolumeCase{0x00010032u, 0x7FFF7FFFu},
                                           VolumeCase{101, 0xFFFFFFFFu},
                                           VolumeCase{1000, 0xFFFFFFFFu}));

}  // namespace
