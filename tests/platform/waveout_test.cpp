// The stand-in waveOut device behaves as the platform does: header flags,
// where each report is sent, reset, refusals, format checks.
#include <windows.h>
#include <mmsystem.h>

#include <gtest/gtest.h>
#include <kestra/platform_test.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/pcm_format.h"

namespace {

struct Report {
    UINT message;
    WAVEHDR *header;
    std::thread::id thread;
    bool operator==(const Report &o) const {
        return message == o.message && header == o.header && thread == o.thread;
    }
    friend std::ostream &operator<<(std::ostream &os, const Report &r) {
        return os << "{message " << r.message << ", header " << r.header << ", thread " << r.thread
                  << "}";
    }
};
using Reports = std::vector<Report>;

// The format answered and the count, or {0, the error}.
using Answer = std::pair<UINT, DWORD>;
Answer Position(HWAVEOUT device, UINT type) {
    MMTIME t{};
    t.wType = type;
    const MMRESULT r = waveOutGetPosition(device, &t, sizeof(t));
    return r == MMSYSERR_NOERROR ? Answer{t.wType, t.u.cb} : Answer{0, r};
}

// Records every report, and the position each WOM_DONE finds; optionally
// queues a finished header again.
struct Recorder {
    std::mutex mutex;
    std::vector<Report> reports;
    DWORD bytesAtDone = 0;
    bool requeue = false;
    MMRESULT requeueResult = 0xFFFF;

    static void CALLBACK Proc(HWAVEOUT device, UINT message, DWORD_PTR instance, DWORD_PTR p1,
                              DWORD_PTR) {
        Recorder *self = reinterpret_cast<Recorder *>(instance);
        WAVEHDR *header = reinterpret_cast<WAVEHDR *>(p1);
        const Answer at = message == WOM_DONE ? Position(device, TIME_BYTES) : Answer{};
        {
            std::lock_guard<std::mutex> guard(self->mutex);
            self->reports.push_back({message, header, std::this_thread::get_id()});
            if (message == WOM_DONE) self->bytesAtDone = at.second;
        }
        if (message == WOM_DONE && self->requeue)
            self->requeueResult = waveOutWrite(device, header, sizeof(WAVEHDR));
    }
    std::vector<Report> Take() {
        std::lock_guard<std::mutex> guard(mutex);
        std::vector<Report> out;
        out.swap(reports);
        return out;
    }
};

constexpr auto Pcm = kestra_test::PcmFormat;

class WaveOut : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(kplat_audio_set_sink("manual"));
        kplat_audio_clear_played();
        liveBefore = kplat_live_objects(KPLAT_OBJ_WAVEOUT);
    }
    void TearDown() override {
        kplat_clear_failures();
        kplat_audio_set_sink(nullptr);
        EXPECT_EQ(liveBefore, kplat_live_objects(KPLAT_OBJ_WAVEOUT)) << "a device leaked";
    }
    // A device reporting to recorder; null if the open failed, so that the
    // caller's next call on it fails.
    HWAVEOUT Open(WAVEFORMATEX f = Pcm(1, 8000, 8)) {
        HWAVEOUT device = nullptr;
        waveOutOpen(&device, WAVE_MAPPER, &f, reinterpret_cast<DWORD_PTR>(&Recorder::Proc),
                    reinterpret_cast<DWORD_PTR>(&recorder), CALLBACK_FUNCTION);
        return device;
    }
    WAVEHDR Header(std::vector<char> &bytes) {
        WAVEHDR h{};
        h.lpData = bytes.data();
        h.dwBufferLength = static_cast<DWORD>(bytes.size());
        return h;
    }
    Recorder recorder;
    int liveBefore = 0;
};

TEST_F(WaveOut, OpenAndCloseReportOnTheCallingThread) {
    HWAVEOUT device = Open();
    ASSERT_NE(nullptr, device);
    EXPECT_EQ(liveBefore + 1, kplat_live_objects(KPLAT_OBJ_WAVEOUT));
    const std::thread::id me = std::this_thread::get_id();
    EXPECT_EQ((Reports{{WOM_OPEN, nullptr, me}}), recorder.Take());
    EXPECT_EQ(MMSYSERR_NOERROR, waveOutClose(device));
    EXPECT_EQ((Reports{{WOM_CLOSE, nullptr, me}}), recorder.Take())
        << "WOM_CLOSE must be sent before waveOutClose returns";
}

TEST_F(WaveOut, HeaderFlagsThroughPrepareWritePlayUnprepare) {
    HWAVEOUT device = Open();
    std::vector<char> bytes(16, 'a');
    WAVEHDR h = Header(bytes);
    h.dwFlags = WHDR_DONE;
    EXPECT_EQ(MMSYSERR_NOERROR, waveOutPrepareHeader(device, &h, sizeof(h)));
    EXPECT_EQ(static_cast<DWORD>(WHDR_DONE | WHDR_PREPARED), h.dwFlags);
    EXPECT_EQ(MMSYSERR_NOERROR, waveOutWrite(device, &h, sizeof(h)));
    EXPECT_EQ(static_cast<DWORD>(WHDR_PREPARED | WHDR_INQUEUE), h.dwFlags) << "write clears DONE";
    recorder.Take();

    char played[16] = {};
    EXPECT_EQ(16, kplat_audio_manual_step(device, played, sizeof(played)));
    EXPECT_EQ(0, std::memcmp(played, bytes.data(), 16));
    EXPECT_EQ(static_cast<DWORD>(WHDR_PREPARED | WHDR_DONE), h.dwFlags);
    std::vector<Report> r = recorder.Take();
    ASSERT_EQ(1u, r.size());
    EXPECT_EQ(static_cast<UINT>(WOM_DONE), r[0].message);
    EXPECT_EQ(&h, r[0].header);
    EXPECT_NE(std::this_thread::get_id(), r[0].thread) << "WOM_DONE comes from the device thread";

    EXPECT_EQ(MMSYSERR_NOERROR, waveOutUnprepareHeader(device, &h, sizeof(h)));
    EXPECT_EQ(static_cast<DWORD>(WHDR_DONE), h.dwFlags);
    EXPECT_EQ(MMSYSERR_NOERROR, waveOutClose(device));
}

TEST_F(WaveOut, RefusesWhatThePlatformRefuses) {
    HWAVEOUT device = Open();
    std::vector<char> bytes(8, 0);
    WAVEHDR h = Header(bytes);
    EXPECT_EQ(WAVERR_UNPREPARED, waveOutWrite(device, &h, sizeof(h)));
    ASSERT_EQ(MMSYSERR_NOERROR, waveOutPrepareHeader(device, &h, sizeof(h)));
    EXPECT_EQ(MMSYSERR_INVALPARAM, waveOutWrite(device, &h, sizeof(h) - 1));
    ASSERT_EQ(MMSYSERR_NOERROR, waveOutWrite(device, &h, sizeof(h)));
    EXPECT_EQ(WAVERR_STILLPLAYING, waveOutWrite(device, &h, sizeof(h))) << "still queued";
    EXPECT_EQ(WAVERR_STILLPLAYING, waveOutUnprepareHeader(device, &h, sizeof(h)));
    EXPECT_EQ(WAVERR_STILLPLAYING, waveOutClose(device)) << "close with a header queued";
    EXPECT_EQ(1, kplat_audio_queued(device));

    EXPECT_EQ(MMSYSERR_NOERROR, waveOutReset(device));
    EXPECT_EQ(MMSYSERR_NOERROR, waveOutClose(device));
    // The handle is dead now: every call says so instead of touching freed state.
    EXPECT_EQ(MMSYSERR_INVALHANDLE, waveOutWrite(device, &h, sizeof(h)));
    EXPECT_EQ(MMSYSERR_INVALHANDLE, waveOutReset(device));
    EXPECT_EQ(MMSYSERR_INVALHANDLE, waveOutSetVolume(device, 0));
    EXPECT_EQ(MMSYSERR_INVALHANDLE, waveOutClose(device));
    EXPECT_EQ(MMSYSERR_INVALHANDLE, waveOutPrepareHeader(nullptr, &h, sizeof(h)));
}

TEST_F(WaveOut, ResetReturnsEveryHeaderInOrderBeforeItReturns) {
    HWAVEOUT device = Open();
    std::vector<char> bytes(8, 0);
    WAVEHDR h[3] = {Header(bytes), Header(bytes), Header(bytes)};
    for (WAVEHDR &header : h) {
        ASSERT_EQ(MMSYSERR_NOERROR, waveOutPrepareHeader(device, &header, sizeof(WAVEHDR)));
        ASSERT_EQ(MMSYSERR_NOERROR, waveOutWrite(device, &header, sizeof(WAVEHDR)));
    }
    recorder.Take();
    EXPECT_EQ(MMSYSERR_NOERROR, waveOutReset(device));
    const std::thread::id me = std::this_thread::get_id();
    EXPECT_EQ((Reports{{WOM_DONE, &h[0], me}, {WOM_DONE, &h[1], me}, {WOM_DONE, &h[2], me}}),
              recorder.Take());
    for (const WAVEHDR &header : h)
        EXPECT_EQ(static_cast<DWORD>(WHDR_PREPARED | WHDR_DONE), header.dwFlags);
    EXPECT_EQ(-1, kplat_audio_manual_step(device, nullptr, 0)) << "nothing left to play";
    EXPECT_EQ(MMSYSERR_NOERROR, waveOutClose(device));
}

TEST_F(WaveOut, WriteFromInsideTheCallbackKeepsTheBufferGoing) {
    recorder.requeue = true;
    HWAVEOUT device = Open();
    std::vector<char> a(4, 'a'), b(4, 'b');
    WAVEHDR ha = Header(a), hb = Header(b);
    for (WAVEHDR *h : {&ha, &hb}) {
        ASSERT_EQ(MMSYSERR_NOERROR, waveOutPrepareHeader(device, h, sizeof(WAVEHDR)));
        ASSERT_EQ(MMSYSERR_NOERROR, waveOutWrite(device, h, sizeof(WAVEHDR)));
    }
    for (int i = 0; i < 5; ++i) EXPECT_EQ(4, kplat_audio_manual_step(device, nullptr, 0));
    EXPECT_EQ(static_cast<MMRESULT>(MMSYSERR_NOERROR), recorder.requeueResult);
    char played[20];
    ASSERT_EQ(20u, kplat_audio_played(played, sizeof(played)));
    EXPECT_EQ(std::string("aaaabbbbaaaabbbbaaaa"), std::string(played, 20)) << "played in order";
    EXPECT_EQ(2, kplat_audio_queued(device));
    recorder.requeue = false;
    EXPECT_EQ(MMSYSERR_NOERROR, waveOutReset(device));
    EXPECT_EQ(MMSYSERR_NOERROR, waveOutClose(device));
}

TEST_F(WaveOut, PositionCountsWhatPlayedWrapsAtThirtyTwoBitsAndResets) {
    kplat_audio_set_position_start(0xFFFFFFF0u);
    HWAVEOUT device = Open(Pcm(2, 8000, 16));
    kplat_audio_set_position_start(0);
    EXPECT_EQ(Answer(TIME_BYTES, 0xFFFFFFF0u), Position(device, TIME_BYTES));
    std::vector<char> bytes(24, 0);
    WAVEHDR h[2] = {Header(bytes), Header(bytes)};
    for (WAVEHDR &header : h) {
        ASSERT_EQ(MMSYSERR_NOERROR, waveOutPrepareHeader(device, &header, sizeof(WAVEHDR)));
        ASSERT_EQ(MMSYSERR_NOERROR, waveOutWrite(device, &header, sizeof(WAVEHDR)));
    }
    EXPECT_EQ(24, kplat_audio_manual_step(device, nullptr, 0));
    EXPECT_EQ(0x8u, recorder.bytesAtDone) << "WOM_DONE finds its buffer counted";
    EXPECT_EQ(24, kplat_audio_manual_step(device, nullptr, 0));
    // 2^32 - 16 + 48 bytes: each count wraps on its own.
    EXPECT_EQ(Answer(TIME_BYTES, 0x20u), Position(device, TIME_BYTES));
    EXPECT_EQ(Answer(TIME_SAMPLES, 0x40000008u), Position(device, TIME_SAMPLES));
    EXPECT_EQ(Answer(TIME_BYTES, 0x20u), Position(device, TIME_MS)) << "answered in bytes";
    MMTIME t{};
    EXPECT_EQ(MMSYSERR_INVALPARAM, waveOutGetPosition(device, nullptr, sizeof(t)));
    EXPECT_EQ(MMSYSERR_ERROR, waveOutGetPosition(device, &t, sizeof(t) - 1));
    EXPECT_EQ(MMSYSERR_NOERROR, waveOutReset(device));
    EXPECT_EQ(Answer(TIME_BYTES, 0u), Position(device, TIME_BYTES));
    EXPECT_EQ(MMSYSERR_NOERROR, waveOutClose(device));
    EXPECT_EQ(Answer(0, MMSYSERR_INVALHANDLE), Position(device, TIME_BYTES));
}

// A paced device reports what is heard: what its sink had consumed, less the
// lag, at a moment between two readings of the sink; bracketing, not timing,
// and since the readings only grow, neither does the position.
TEST_F(WaveOut, PacedPositionTrailsWhatTheSinkConsumedByTheLag) {
    ASSERT_TRUE(kplat_audio_set_sink("null"));
    kplat_audio_set_output_lag(30);
    HWAVEOUT device = Open(Pcm(2, 8000, 16));  // 32 bytes a ms
    kplat_audio_set_output_lag(0);
    const int64_t lag = 30 * 32, total = 6 * 640;
    std::vector<char> bytes(640, 0);
    WAVEHDR h[6];
    for (WAVEHDR &header : h) {
        header = Header(bytes);
        ASSERT_EQ(MMSYSERR_NOERROR, waveOutPrepareHeader(device, &header, sizeof(WAVEHDR)));
        ASSERT_EQ(MMSYSERR_NOERROR, waveOutWrite(device, &header, sizeof(WAVEHDR)));
    }
    int64_t before = 0, after = 0;
    while (after < total) {
        ASSERT_TRUE(kplat_audio_consumed(device, &before, nullptr));
        const Answer heard = Position(device, TIME_BYTES);
        ASSERT_TRUE(kplat_audio_consumed(device, &after, nullptr));
        ASSERT_LE(std::max<int64_t>(0, before - lag), heard.second) << "consumed " << before;
        ASSERT_GE(std::max<int64_t>(0, after - lag), heard.second) << "consumed " << after;
        Sleep(1);
    }
    EXPECT_EQ(Answer(TIME_BYTES, DWORD(total - lag)), Position(device, TIME_BYTES));
    EXPECT_EQ(MMSYSERR_NOERROR, waveOutClose(device));
}

// A click's stamp is the moment the paced sink reached its first loud sample,
// plus the lag; bracketed by when its buffer was queued and came back, not
// timed. A loud sample after too short a quiet is no new click.
TEST_F(WaveOut, ClickStampIsWhenThePacingReachedItPlusTheLag) {
    const std::string log = ::testing::TempDir() + "kplat_click_stamps.log";
    std::remove(log.c_str());
    kplat_sync_log(log.c_str());
    ASSERT_TRUE(kplat_audio_set_sink("null"));
    kplat_audio_set_output_lag(30);
    HWAVEOUT device = Open(Pcm(2, 8000, 16));  // 32 bytes a ms
    kplat_audio_set_output_lag(0);
    std::vector<char> bytes(40 * 32, 0);
    bytes[10 * 32 + 1] = bytes[20 * 32 + 1] = 0x40;  // left samples of 0x4000 at 10 and 20 ms
    WAVEHDR h = Header(bytes);
    ASSERT_EQ(MMSYSERR_NOERROR, waveOutPrepareHeader(device, &h, sizeof(h)));
    LARGE_INTEGER queued, back;
    QueryPerformanceCounter(&queued);
    ASSERT_EQ(MMSYSERR_NOERROR, waveOutWrite(device, &h, sizeof(h)));
    const auto returned = [&] {
        std::lock_guard<std::mutex> guard(recorder.mutex);
        return recorder.reports.size() == 2;  // WOM_OPEN, then WOM_DONE
    };
    while (!returned()) Sleep(1);
    QueryPerformanceCounter(&back);
    EXPECT_EQ(MMSYSERR_NOERROR, waveOutClose(device));
    kplat_sync_log(nullptr);

    std::ifstream in(log);
    std::string kind, extra;
    long long at = 0;
    ASSERT_TRUE(in >> kind >> at) << "no stamp in " << log;
    EXPECT_EQ("click", kind);
    EXPECT_LE(queued.QuadPart + (10 + 30) * 10000, at) << "before its sample was consumed";
    // Its buffer's last 30 ms had played before it came back.
    EXPECT_GE(back.QuadPart, at) << "later than its buffer came back";
    EXPECT_FALSE(in >> extra) << "a second stamp: " << extra;
}

TEST_F(WaveOut, InjectedFailuresReturnTheGivenResult) {
    kplat_fail_call("waveOutOpen", 1, MMSYSERR_NOMEM, 0);
    WAVEFORMATEX f = Pcm(2, 44100, 16);
    HWAVEOUT device = nullptr;
    EXPECT_EQ(static_cast<MMRESULT>(MMSYSERR_NOMEM),
              waveOutOpen(&device, WAVE_MAPPER, &f, 0, 0, CALLBACK_NULL));
    device = Open();
    std::vector<char> bytes(4, 0);
    WAVEHDR h = Header(bytes);
    kplat_fail_call("waveOutPrepareHeader", 1, MMSYSERR_INVALHANDLE, 0);
    EXPECT_EQ(static_cast<MMRESULT>(MMSYSERR_INVALHANDLE),
              waveOutPrepareHeader(device, &h, sizeof(h)));
    EXPECT_EQ(0u, h.dwFlags);
    EXPECT_EQ(MMSYSERR_NOERROR, waveOutClose(device));
}

struct FormatCase {
    const char *name;
    WAVEFORMATEX format;
    MMRESULT expected;
};

using F = WAVEFORMATEX;

// f with one field changed.
template <class T>
F With(F f, T F::*field, DWORD value) {
    f.*field = static_cast<T>(value);
    return f;
}

class WaveOutFormat : public ::testing::TestWithParam<FormatCase> {
protected:
    void SetUp() override { ASSERT_TRUE(kplat_audio_set_sink("null")); }
    void TearDown() override { kplat_audio_set_sink(nullptr); }
};

TEST_P(WaveOutFormat, OpenChecksTheFormatLikeADevice) {
    const FormatCase &c = GetParam();
    HWAVEOUT device = nullptr;
    MMRESULT r = waveOutOpen(&device, WAVE_MAPPER, &c.format, 0, 0, CALLBACK_NULL);
    EXPECT_EQ(c.expected, r) << c.name;
    if (r == MMSYSERR_NOERROR) {
        EXPECT_EQ(MMSYSERR_NOERROR, waveOutClose(device)) << c.name;
    }
    EXPECT_EQ(c.expected, waveOutOpen(nullptr, WAVE_MAPPER, &c.format, 0, 0, WAVE_FORMAT_QUERY))
        << c.name << " (query)";
}

INSTANTIATE_TEST_SUITE_P(
    Table, WaveOutFormat,
    ::testing::Values(
        FormatCase{"Mono8Bit8000", Pcm(1, 8000, 8), MMSYSERR_NOERROR},
        FormatCase{"Stereo16Bit44100", Pcm(2, 44100, 16), MMSYSERR_NOERROR},
        FormatCase{"EightChannels16Bit384000", Pcm(8, 384000, 16), MMSYSERR_NOERROR},
        FormatCase{"CbSizeIgnoredForPcm", With(Pcm(2, 22050, 16), &F::cbSize, 22),
                   MMSYSERR_NOERROR},
        FormatCase{"AllZero", WAVEFORMATEX{}, WAVERR_BADFORMAT},
        FormatCase{"NotPcm", With(Pcm(2, 44100, 16), &F::wFormatTag, 3), WAVERR_BADFORMAT},
        FormatCase{"Bits24", Pcm(2, 44100, 24), WAVERR_BADFORMAT},
        FormatCase{"NoChannels", With(Pcm(1, 8000, 8), &F::nChannels, 0), WAVERR_BADFORMAT},
        FormatCase{"NineChannels", Pcm(9, 8000, 8), WAVERR_BADFORMAT},
        FormatCase{"Rate0", Pcm(1, 0, 8), WAVERR_BADFORMAT},
        FormatCase{"Rate10MHz", Pcm(1, 10000000, 8), WAVERR_BADFORMAT},
        FormatCase{"BlockAlignOff", With(Pcm(2, 44100, 16), &F::nBlockAlign, 2), WAVERR_BADFORMAT},
        FormatCase{"ByteRateOff", With(Pcm(2, 44100, 16), &F::nAvgBytesPerSec, 44100),
                   WAVERR_BADFORMAT}),
    [](const ::testing::TestParamInfo<FormatCase> &p) { return std::string(p.param.name); });

}  // namespace
