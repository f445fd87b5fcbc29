// WavePlayer on the manual sink: every buffer the device plays is stepped by
// the test and read back, so rotation and fill rules are exact. The fill byte
// in what was played is how a test sees the library fill a short answer.
#include <windows.h>
#include <mmsystem.h>

#include <gtest/gtest.h>
#include <kestra/platform_test.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
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

// Writes bytes tagged with the call number so every refill is recognisable.
int32_t Pattern(uint8_t *buffer, uint32_t size, int call, int32_t result) {
    for (uint32_t i = 0; i < size; ++i) buffer[i] = static_cast<uint8_t>(call * 16 + (i & 15));
    return result;
}

// The host: records each call; `script` decides what to write and return,
// else it writes its pattern over the whole buffer and answers the size.
struct Host {
    std::vector<Call> calls;
    std::function<int32_t(uint8_t *, uint32_t, int)> script;

    static int32_t KESTRA_CALLBACK Write(uint8_t *buffer, uint32_t size, void *user) {
        Host *self = static_cast<Host *>(user);
        self->calls.push_back({buffer, size, user});
        int n = static_cast<int>(self->calls.size());
        return self->script ? self->script(buffer, size, n)
                            : Pattern(buffer, size, n, int32_t(size));
    }
};

// Refill `call` as the device should play it: the host's pattern, filled from
// `count` (taken into 0..size) on when `filled`.
std::vector<uint8_t> Played(int call, int64_t count = kSize, bool filled = false) {
    std::vector<uint8_t> v(kSize);
    Pattern(v.data(), kSize, call, 0);
    if (filled) std::fill(v.begin() + std::clamp<int64_t>(count, 0, kSize), v.end(), kWaveFillByte);
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
        WAVEFORMATEX f = Mono8();
        player->SetWaveFormat(&f, kSize);
        player->SetWriteCallback(&host, &Host::Write);
    }
    void TearDown() override {
        if (player) player->Close();
        kplat_clear_failures();
        kplat_audio_set_sink(nullptr);
        EXPECT_EQ(liveBefore, kplat_live_objects(KPLAT_OBJ_WAVEOUT)) << "a device leaked";
    }
    // Plays the next buffer of the newest device; returns what it played
    // (empty when nothing played).
    static std::vector<uint8_t> Step(uint32_t size = kSize) {
        std::vector<uint8_t> out(size);
        int n = kplat_audio_manual_step(nullptr, out.data(), static_cast<int>(size));
        out.resize(static_cast<size_t>(std::max(n, 0)));
        return out;
    }
    testing::AssertionResult PlayPastFill() {
        player->Play();
        for (int i = 0; i < 2; ++i)
            if (Step() != Fill())
                return testing::AssertionFailure() << "buffer " << i << " not fill";
        return testing::AssertionSuccess();
    }
    // The device is closed and nothing of it is left.
    testing::AssertionResult DeviceGone() const {
        const int live = kplat_live_objects(KPLAT_OBJ_WAVEOUT),
                  queued = kplat_audio_queued(nullptr);
        if (live == liveBefore && queued == -1) return testing::AssertionSuccess();
        return testing::AssertionFailure()
               << live - liveBefore << " device(s) left; newest has " << queued << " queued";
    }
    Host host;
    WavePlayer *player = nullptr;
    int liveBefore = 0;
};

TEST_F(WavePlayerTest, FirstTwoBuffersAreFillThenFullRefillsPlayExactlyAsWritten) {
    // Exactly the size, then more than the size: both count as full.
    host.script = [](uint8_t *b, uint32_t s, int n) {
        return Pattern(b, s, n, static_cast<int32_t>(n % 2 ? s : s + 1000));
    };
    player->Play();
    const int opens = kplat_audio_open_count();
    player->Play();  // a second play does nothing
    EXPECT_EQ(opens, kplat_audio_open_count());
    EXPECT_EQ(2, kplat_audio_queued(nullptr));
    EXPECT_TRUE(host.calls.empty()) << "asked only when a buffer comes back";
    EXPECT_EQ(Fill(), Step());
    EXPECT_EQ(1u, host.calls.size());
    EXPECT_EQ(Fill(), Step());
    for (int call = 1; call <= 6; ++call) EXPECT_EQ(Played(call), Step()) << "refill " << call;
    ASSERT_EQ(8u, host.calls.size());
    EXPECT_NE(host.calls[0].buffer, host.calls[1].buffer);
    for (size_t i = 0; i < host.calls.size(); ++i) {
        EXPECT_EQ(kSize, host.calls[i].size) << "call " << i;
        EXPECT_EQ(&host, host.calls[i].user) << "call " << i;
        EXPECT_EQ(host.calls[i % 2].buffer, host.calls[i].buffer) << "the buffers take turns";
    }
}

// The host writes the whole buffer and answers a count. A short answer leaves
// the buffer as it is four times in a row; from the fifth the library fills
// it from the count on, until a full answer.
struct AnswerCase {
    const char *name;
    std::vector<int32_t> counts;  // the answers to calls 1, 2, ...
    const char *played;           // per refill: 'h' as written, 'f' filled from the count on
};

const AnswerCase kAnswers[] = {
    {"FourShortsThenFillUntilAFullAnswer",
     {64, 64, 0, 0, 0, 0, 0, 1064, 0, 0, 0, 0, 0},
     "hhhhhhfhhhhhf"},
    {"CountsOutsideTheBufferAreClamped", {0, 0, 0, 0, 10, -1000, INT32_MIN, 63}, "hhhhffff"},
};

class WavePlayerAnswers : public WavePlayerTest,
                          public ::testing::WithParamInterface<AnswerCase> {};

TEST_P(WavePlayerAnswers, ShortAnswersAreFilledFromTheFifthInARow) {
    const AnswerCase &c = GetParam();
    host.script = [&c](uint8_t *b, uint32_t s, int n) {
        return Pattern(b, s, n, size_t(n) <= c.counts.size() ? c.counts[n - 1] : int32_t(s));
    };
    ASSERT_TRUE(PlayPastFill());
    for (int n = 1; c.played[n - 1]; ++n)
        EXPECT_EQ(Played(n, c.counts[n - 1], c.played[n - 1] == 'f'), Step()) << "refill " << n;
}

INSTANTIATE_TEST_SUITE_P(Rows, WavePlayerAnswers, ::testing::ValuesIn(kAnswers),
                         [](const ::testing::TestParamInfo<AnswerCase> &p) {
                             return std::string(p.param.name);
                         });

// A run of short answers counts refills without a callback and goes on over
// stop and play: the host's first short answer after them is filled at once.
TEST_F(WavePlayerTest, ShortRunCountsRefillsWithoutACallbackAndOutlivesStop) {
    player->SetWriteCallback(nullptr, nullptr);
    ASSERT_TRUE(PlayPastFill());
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Fill(), Step()) << "refill " << i;
    player->Stop();
    host.script = [](uint8_t *b, uint32_t s, int n) { return Pattern(b, s, n, 10); };
    player->SetWriteCallback(&host, &Host::Write);
    ASSERT_TRUE(PlayPastFill());
    EXPECT_EQ(Played(1, 10, true), Step());
}

// Pause neither resets nor adds to the run of short answers.
TEST_F(WavePlayerTest, PauseFillsWithoutAskingTheHostAndResumeAsksAgain) {
    host.script = [](uint8_t *b, uint32_t s, int n) { return Pattern(b, s, n, n == 1 ? 64 : 0); };
    player->Pause(7);             // play clears a pause set before it
    ASSERT_TRUE(PlayPastFill());  // refills 1 and 2 are queued now (2 short)
    player->Pause(1);
    EXPECT_EQ(Played(1), Step());
    EXPECT_EQ(Played(2), Step());
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Fill(), Step()) << "paused buffer " << i;
    EXPECT_EQ(2u, host.calls.size()) << "no host call while paused";
    player->Pause(0);
    EXPECT_EQ(Fill(), Step());  // refilled before the resume
    EXPECT_EQ(3u, host.calls.size()) << "the next returning buffer goes to the host";
    EXPECT_EQ(Fill(), Step());
    for (int call = 3; call <= 6; ++call)
        EXPECT_EQ(Played(call, 0, call == 6), Step()) << "short answer " << call - 1;
}

TEST_F(WavePlayerTest, StopAndCloseWhilePlaying) {
    ASSERT_TRUE(PlayPastFill());
    const int opens = kplat_audio_open_count();
    const size_t calls = host.calls.size();
    player->Stop();
    EXPECT_TRUE(DeviceGone());
    player->Stop();  // a second stop does nothing
    EXPECT_EQ(calls, host.calls.size()) << "no refill after stop";
    ASSERT_TRUE(PlayPastFill());
    EXPECT_EQ(opens + 1, kplat_audio_open_count()) << "play after stop opens a new device";
    player->Close();
    player = nullptr;
    EXPECT_TRUE(DeviceGone());
}

TEST_F(WavePlayerTest, PrepareFailureOtherThanInvalidHandleClosesTheDevice) {
    kplat_fail_call("waveOutPrepareHeader", 1, MMSYSERR_NOMEM, 0);
    const int opens = kplat_audio_open_count();
    player->Play();
    EXPECT_EQ(opens + 1, kplat_audio_open_count());
    EXPECT_TRUE(DeviceGone()) << "device left open";
    ASSERT_TRUE(PlayPastFill());  // the next play starts afresh
}

TEST_F(WavePlayerTest, InvalidHandleOnPrepareLeavesThatHeaderOut) {
    kplat_fail_call("waveOutPrepareHeader", 1, MMSYSERR_INVALHANDLE, 0);
    player->Play();
    EXPECT_EQ(1, kplat_audio_queued(nullptr)) << "only one header went out";
    Step();
    Step();
    ASSERT_EQ(2u, host.calls.size());
    EXPECT_EQ(host.calls[0].buffer, host.calls[1].buffer) << "one buffer goes round";
}

// The host writes the whole size it is given: past the buffers if that were
// wrong. The format's extra bytes never reach the device.
TEST_F(WavePlayerTest, FormatSetWhilePlayingAppliesFromTheNextPlay) {
    player->Play();
    WAVEFORMATEX f = Mono8();
    f.cbSize = 22;
    player->SetWaveFormat(&f, kSize * 4);
    EXPECT_EQ(Fill(), Step());
    EXPECT_EQ(kSize, host.calls.at(0).size);
    Step();
    EXPECT_EQ(Played(1), Step());
    player->Stop();
    player->Play();
    EXPECT_EQ(Fill(kSize * 4), Step(kSize * 4)) << "the new size applies from the next play";
    WAVEFORMATEX seen{};
    ASSERT_TRUE(kplat_audio_last_format(&seen));
    f.cbSize = 0;
    EXPECT_EQ(0, std::memcmp(&f, &seen, sizeof(f)));
}

// A buffer that comes back while stop waits for a refill under way is not
// refilled: the host is not asked again, and stop still finishes.
TEST_F(WavePlayerTest, BufferReturningWhileStopWaitsIsLeftAlone) {
    std::thread stopper, stepper;
    std::atomic<bool> stopping{false};
    host.script = [&](uint8_t *, uint32_t s, int n) {
        if (n == 1) {
            stopper = std::thread([&] {
                stopping = true;
                player->Stop();
            });
            // Asks for the next buffer now, so the device plays it as soon as
            // this refill ends, while stop still waits for it.
            stepper = std::thread([] { kplat_audio_manual_step(nullptr, nullptr, 0); });
            while (!stopping) std::this_thread::yield();
            Sleep(20);  // stop asks the refills to end first thing, then waits for this one
        }
        return static_cast<int32_t>(s);
    };
    player->Play();
    Step();
    stepper.join();
    stopper.join();
    EXPECT_EQ(1u, host.calls.size()) << "a refill after stop began asked the host";
    EXPECT_TRUE(DeviceGone());
}

// A close report that comes after stop gave up on it belongs to the old
// device: it must neither stop nor unprepare a new play, and once the player
// is gone it must touch nothing (ASan reports here if it does).
TEST_F(WavePlayerTest, LateCloseReportsLeaveANewPlayAndAFreedPlayerAlone) {
    kplat_audio_hold_close_reports(TRUE);
    ASSERT_TRUE(PlayPastFill());
    player->Stop();  // waits the full 2 s for a report that does not come
    EXPECT_EQ(-1, kplat_audio_manual_step(nullptr, nullptr, 0)) << "the old device plays on";
    player->Stop();  // does nothing while the report is out
    ASSERT_TRUE(PlayPastFill());
    const size_t calls = host.calls.size();
    EXPECT_EQ(1, kplat_audio_deliver_closes());
    EXPECT_EQ(2, kplat_audio_queued(nullptr));
    EXPECT_EQ(Played(int(calls) - 1), Step()) << "the new play goes on with the host's data";
    EXPECT_EQ(Played(int(calls)), Step());
    EXPECT_EQ(calls + 2, host.calls.size());
    player->Close();  // waits 2 s again
    player = nullptr;
    kplat_audio_hold_close_reports(FALSE);
    EXPECT_EQ(1, kplat_audio_deliver_closes());
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
    EXPECT_EQ(GetParam().expected, kplat_audio_last_volume()) << "volume " << GetParam().volume;
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

// The sound's clock on the manual sink, whose device counts exactly the
// bytes stepped: 16-bit stereo, so a full buffer of kSize bytes is 16 frames.
struct ClockCase {
    const char *name;
    DWORD startBytes;             // the device's own count at its open
    std::vector<int32_t> counts;  // the host's answers in order; the size after them
    int pauseAfter;               // the pause set after this many steps (-1: none)
    int steps;                    // buffers played after play
    int64_t frames;               // the host's frames heard then
};

const ClockCase kClockCases[] = {
    {"lead_in_is_not_the_hosts", 0, {}, -1, 2, 0},
    {"full_refills", 0, {}, -1, 5, 3 * 16},
    // 10 bytes are two whole frames; the replayed tail after them is not new.
    {"short_refill_counts_its_whole_frames_once", 0, {64, 10, 0, 64}, -1, 6, 16 + 2 + 0 + 16},
    {"paused_fill_stops_it_after_the_queued_buffers", 0, {}, 2, 7, 2 * 16},
    {"past_the_devices_32_bit_wrap", 0xFFFFFFFFu - 100, {}, -1, 6, 4 * 16},
};

class WaveClock : public WavePlayerTest, public ::testing::WithParamInterface<ClockCase> {};

TEST_P(WaveClock, CountsOnlyTheHostsFramesHeard) {
    const ClockCase &c = GetParam();
    const WAVEFORMATEX stereo = kestra_test::PcmFormat(2, 44100, 16);
    player->SetWaveFormat(&stereo, kSize);
    host.script = [&c](uint8_t *b, uint32_t s, int n) {
        const size_t i = size_t(n) - 1;
        return Pattern(b, s, n, i < c.counts.size() ? c.counts[i] : int32_t(s));
    };
    int64_t frames = -1, stamp = -1;
    EXPECT_FALSE(player->Position(&frames, &stamp)) << "not playing";
    kplat_audio_set_position_start(c.startBytes);
    player->Play();
    kplat_audio_set_position_start(0);
    EXPECT_FALSE(player->Position(nullptr, &stamp));
    EXPECT_FALSE(player->Position(&frames, nullptr));
    int64_t before = 0;
    for (int step = 0; step < c.steps; ++step) {
        if (step == c.pauseAfter) player->Pause(1);
        ASSERT_FALSE(Step().empty()) << "step " << step;
        ASSERT_TRUE(player->Position(&frames, &stamp));
        EXPECT_GE(frames, before) << "step " << step;
        before = frames;
    }
    EXPECT_EQ(c.frames, frames) << c.name;
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    EXPECT_LE(stamp, now.QuadPart);
    player->Stop();
    EXPECT_FALSE(player->Position(&frames, &stamp)) << "stopped";
    ASSERT_TRUE(PlayPastFill());
    ASSERT_TRUE(player->Position(&frames, &stamp));
    EXPECT_EQ(0, frames) << "a new play starts from 0";
}

INSTANTIATE_TEST_SUITE_P(Rows, WaveClock, ::testing::ValuesIn(kClockCases),
                         [](const ::testing::TestParamInfo<ClockCase> &p) {
                             return std::string(p.param.name);
                         });

}  // namespace
