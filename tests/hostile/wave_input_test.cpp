// A wave player driven the way a careless host drives it: formats the device
// cannot play, buffer sizes at the extremes, and calls back into the player
// from inside its own write callback.
#include <windows.h>
#include <mmsystem.h>
#include <kestra/platform_test.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "kestra/kestra.h"
#include "support/pcm_format.h"

namespace {

constexpr uint8_t kFill = 0x64;

WAVEFORMATEX Stereo16() { return kestra_test::PcmFormat(2, 44100, 16); }

template <class Case>
std::string CaseName(const ::testing::TestParamInfo<Case> &param) {
    return param.param.name;
}

// A player opened for each test, closed and checked for devices left after it.
class HostileWave : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(kplat_audio_set_sink("manual"));
        ASSERT_EQ(0, KESTRA_WVOpenWave(&wave));
    }
    void TearDown() override {
        EXPECT_EQ(0, KESTRA_WVCloseWave(wave));
        kplat_audio_set_sink(nullptr);
        kplat_audio_clear_played();
        EXPECT_EQ(0, kplat_live_objects(KPLAT_OBJ_WAVEOUT)) << "a device stayed open";
    }
    void Give(const WAVEFORMATEX &format, uint32_t size, void *user, KestraWriteWaveCallback cb) {
        KESTRA_WVSetWaveFormat(wave, &format, size);
        KESTRA_WVSetWriteWaveCB(wave, user, cb);
    }
    KestraWave wave = nullptr;
};

// Writes the whole buffer with 0x2A and reports it all.
int32_t KESTRA_CALLBACK WriteAll(uint8_t *buffer, uint32_t size, void *user) {
    std::memset(buffer, 0x2A, size);
    static_cast<std::vector<uint32_t> *>(user)->push_back(size);
    return int32_t(size);
}

struct FormatCase {
    const char *name;
    void (*spoil)(WAVEFORMATEX *);
    uint32_t size = 4096;
};

const FormatCase kFormats[] = {
    {"Float", [](WAVEFORMATEX *f) { f->wFormatTag = 3; }},
    {"Extensible", [](WAVEFORMATEX *f) { f->wFormatTag = 0xFFFE, f->cbSize = 22; }},
    {"NoChannels", [](WAVEFORMATEX *f) { f->nChannels = 0; }},
    {"ManyChannels", [](WAVEFORMATEX *f) { f->nChannels = 0xFFFF; }},
    {"NoRate", [](WAVEFORMATEX *f) { f->nSamplesPerSec = 0; }},
    {"HugeRate", [](WAVEFORMATEX *f) { f->nSamplesPerSec = 0xFFFFFFFF; }},
    {"NoBits", [](WAVEFORMATEX *f) { f->wBitsPerSample = 0; }},
    {"SevenBits", [](WAVEFORMATEX *f) { f->wBitsPerSample = 7; }},
    {"HugeBits", [](WAVEFORMATEX *f) { f->wBitsPerSample = 0xFFFF; }},
    {"NoBlockAlign", [](WAVEFORMATEX *f) { f->nBlockAlign = 0; }},
    {"NoByteRate", [](WAVEFORMATEX *f) { f->nAvgBytesPerSec = 0; }},
    {"AllOnes", [](WAVEFORMATEX *f) { std::memset(f, 0xFF, sizeof(*f)); }},
    {"AllZero", [](WAVEFORMATEX *f) { std::memset(f, 0, sizeof(*f)); }},
    // Empty buffers would come straight back from the device, for ever.
    {"ZeroByteBuffers", [](WAVEFORMATEX *) {}, 0},
};

class BadFormats : public HostileWave, public ::testing::WithParamInterface<FormatCase> {};

// Play still answers 0 and opens nothing; volume, pause and stop are quiet,
// and the player plays once given a good format (LeakSanitizer reports
// buffers a refused play kept).
TEST_P(BadFormats, PlayOpensNothingAndLeavesThePlayerAsItWas) {
    WAVEFORMATEX format = Stereo16();
    GetParam().spoil(&format);
    std::vector<uint32_t> sizes;
    Give(format, GetParam().size, &sizes, &WriteAll);
    const int opens = kplat_audio_open_count();
    const int volumes = kplat_audio_volume_calls();
    EXPECT_EQ(0, KESTRA_WVPlayWave(wave));
    EXPECT_EQ(opens, kplat_audio_open_count()) << GetParam().name << " reached a device";
    EXPECT_EQ(0, KESTRA_WVSetVolume(wave, 50));
    EXPECT_EQ(volumes, kplat_audio_volume_calls()) << "volume reached no device";
    EXPECT_EQ(0, KESTRA_WVPauseWave(wave, 1));
    EXPECT_EQ(0, KESTRA_WVStopWave(wave));
    Give(Stereo16(), 64, &sizes, &WriteAll);
    KESTRA_WVPlayWave(wave);
    EXPECT_EQ(64, kplat_audio_manual_step(nullptr, nullptr, 0)) << "a good format plays";
    EXPECT_EQ(std::vector<uint32_t>{64}, sizes) << "one refill, of the new size";
}

INSTANTIATE_TEST_SUITE_P(Spoilt, BadFormats, ::testing::ValuesIn(kFormats), CaseName<FormatCase>);

TEST_F(HostileWave, NullFormatKeepsTheOldOne) {
    Give(Stereo16(), 256, nullptr, nullptr);
    EXPECT_EQ(0, KESTRA_WVSetWaveFormat(wave, nullptr, 512));
    KESTRA_WVPlayWave(wave);
    EXPECT_EQ(512, kplat_audio_manual_step(nullptr, nullptr, 0)) << "the size is still taken";
}

class BufferSizes : public HostileWave, public ::testing::WithParamInterface<uint32_t> {};

// One byte and 16 MiB: the device plays whole buffers of that size and the
// host is handed exactly that size, never more.
TEST_P(BufferSizes, WholeBuffersOfThatSizeGoRound) {
    const uint32_t size = GetParam();
    std::vector<uint32_t> sizes;
    Give(Stereo16(), size, &sizes, &WriteAll);
    KESTRA_WVPlayWave(wave);
    std::vector<uint8_t> played(size);
    for (int step = 0; step < 4; ++step) {
        ASSERT_EQ(int(size), kplat_audio_manual_step(nullptr, played.data(), int(size)))
            << "step " << step;
        const uint8_t expected = step < 2 ? kFill : 0x2A;
        EXPECT_EQ(std::vector<uint8_t>(size, expected), played) << "step " << step;
    }
    EXPECT_EQ(std::vector<uint32_t>(4, size), sizes);
}

INSTANTIATE_TEST_SUITE_P(Extremes, BufferSizes, ::testing::Values(1u, 16u << 20));

// Counts the host's calls while the device thread makes them.
struct CallCounts {
    std::atomic<int> calls{0};
    std::atomic<int> otherSizes{0};
};

int32_t KESTRA_CALLBACK CountOneByte(uint8_t *buffer, uint32_t size, void *user) {
    CallCounts *counts = static_cast<CallCounts *>(user);
    std::memset(buffer, 0x2A, size);
    if (size != 1) counts->otherSizes.fetch_add(1);
    counts->calls.fetch_add(1);
    return int32_t(size);
}

// One byte on a device paced in real time comes back every few microseconds;
// the host still sees one-byte calls only, and stop gets through.
TEST_F(HostileWave, OneByteBuffersInRealTime) {
    ASSERT_TRUE(kplat_audio_set_sink("null"));
    CallCounts counts;
    Give(Stereo16(), 1, &counts, &CountOneByte);
    KESTRA_WVPlayWave(wave);
    // Stop meets a device in full swing once the host has had a hundred
    // calls, however late its thread got going (polls bounded, not timed).
    for (int poll = 0; counts.calls.load() < 100 && poll < 100000; ++poll)
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    EXPECT_EQ(0, KESTRA_WVStopWave(wave));
    EXPECT_GE(counts.calls.load(), 100);
    EXPECT_EQ(0, counts.otherSizes.load()) << "calls of other sizes";
}

// What the host calls on its own player from inside the write callback.
struct Reentry {
    const char *name;
    void (*call)(KestraWave);
    bool refillsGoToTheHost;  // afterwards
};

const Reentry kReentries[] = {
    {"Stop", [](KestraWave w) { KESTRA_WVStopWave(w); }, true},
    {"Close", [](KestraWave w) { KESTRA_WVCloseWave(w); }, true},
    {"Play", [](KestraWave w) { KESTRA_WVPlayWave(w); }, true},
    {"Volume", [](KestraWave w) { KESTRA_WVSetVolume(w, 0x7FFFFFFF); }, true},
    {"Pause", [](KestraWave w) { KESTRA_WVPauseWave(w, 1); }, false},
    {"GrowBuffers",
     [](KestraWave w) {
         WAVEFORMATEX f = Stereo16();
         KESTRA_WVSetWaveFormat(w, &f, 1 << 16);
     },
     true},
    {"DropCallback", [](KestraWave w) { KESTRA_WVSetWriteWaveCB(w, nullptr, nullptr); }, false},
};

struct ReentrantHost {
    KestraWave wave = nullptr;
    const Reentry *reentry = nullptr;
    int calls = 0;
    std::vector<uint32_t> sizes;
};

int32_t KESTRA_CALLBACK CallBackIn(uint8_t *buffer, uint32_t size, void *user) {
    ReentrantHost *host = static_cast<ReentrantHost *>(user);
    host->sizes.push_back(size);
    std::memset(buffer, 0x2A, size);  // the whole size: past the buffers if it were wrong
    if (host->calls++ == 0) host->reentry->call(host->wave);
    return int32_t(size);
}

class Reentrant : public HostileWave, public ::testing::WithParamInterface<Reentry> {};

// Stop and close are refused from inside (they would wait for their own
// caller); the rest take effect as from outside. Either way the device keeps
// its two buffers of the size it was given, and the host can stop and close
// from its own thread afterwards.
TEST_P(Reentrant, PlaybackGoesOnAndTheHostCanStillStop) {
    constexpr uint32_t kSize = 256;
    ReentrantHost host{wave, &GetParam(), 0, {}};
    Give(Stereo16(), kSize, &host, &CallBackIn);
    KESTRA_WVPlayWave(wave);
    for (int step = 0; step < 6; ++step)
        ASSERT_EQ(int(kSize), kplat_audio_manual_step(nullptr, nullptr, 0))
            << GetParam().name << ": step " << step << " found no buffer";
    EXPECT_EQ(2, kplat_audio_queued(nullptr)) << "both buffers stay in flight";
    const size_t expectedCalls = GetParam().refillsGoToTheHost ? 6u : 1u;
    EXPECT_EQ(expectedCalls, host.sizes.size()) << GetParam().name;
    EXPECT_EQ(std::vector<uint32_t>(host.sizes.size(), kSize), host.sizes) << GetParam().name;
    EXPECT_EQ(0, KESTRA_WVStopWave(wave));
    EXPECT_EQ(-1, kplat_audio_queued(nullptr)) << "the device is closed";
}

INSTANTIATE_TEST_SUITE_P(FromTheCallback, Reentrant, ::testing::ValuesIn(kReentries),
                         CaseName<Reentry>);

}  // namespace
