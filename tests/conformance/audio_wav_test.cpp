// A tone pulled from the host's callback reaches the output device byte for
// byte, after the two buffers of fill the player starts with.
#include <windows.h>
#include <mmsystem.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "../support/pcm_format.h"
#include "kestra/kestra.h"

#ifndef _WIN32
#include <kestra/platform.h>
#include <unistd.h>
#endif

namespace {

// Sends what the default output device plays to a WAV file and returns its
// path; empty where the runner captures the device its own way.
std::string CaptureToWav() {
#ifdef _WIN32
    return "";
#else
    const std::string path = "/tmp/kestra_tone_" + std::to_string(getpid()) + ".wav";
    return kplat_audio_set_sink(("wav:" + path).c_str()) ? path : "";
#endif
}

void EndCapture() {
#ifndef _WIN32
    kplat_audio_set_sink(nullptr);
#endif
}

constexpr uint32_t kRate = 22050;
constexpr uint32_t kBufferBytes = 4410;  // 0.1 s of 16-bit mono
constexpr int kToneBuffers = 20;
constexpr double kPi = 3.14159265358979323846;

// Writes kToneBuffers buffers of a 440 Hz tone, keeping a copy, then nothing.
struct ToneHost {
    std::vector<uint8_t> written;
    uint64_t sample = 0;
    std::atomic<int> calls{0};

    static int32_t KESTRA_CALLBACK Write(uint8_t *buffer, uint32_t size, void *user) {
        ToneHost *self = static_cast<ToneHost *>(user);
        int call = self->calls.load() + 1;
        int32_t result = 0;
        if (call <= kToneBuffers) {
            for (uint32_t i = 0; i + 1 < size; i += 2, ++self->sample) {
                double t = static_cast<double>(self->sample) / kRate;
                int16_t v = static_cast<int16_t>(std::lround(8000.0 * std::sin(2 * kPi * 440 * t)));
                buffer[i] = static_cast<uint8_t>(v & 0xFF);
                buffer[i + 1] = static_cast<uint8_t>((v >> 8) & 0xFF);
            }
            self->written.insert(self->written.end(), buffer, buffer + size);
            result = static_cast<int32_t>(size);
        }
        self->calls.store(call);
        return result;
    }
};

TEST(AudioConformance, ToneFromTheCallbackIsPlayedByteForByte) {
    const std::string path = CaptureToWav();
    if (path.empty()) GTEST_SKIP() << "device capture is done by the runner here";

    const WAVEFORMATEX format = kestra_test::PcmFormat(1, kRate, 16);
    ToneHost host;
    KestraWave wave = nullptr;
    ASSERT_EQ(0, KESTRA_WVOpenWave(&wave));
    ASSERT_EQ(0, KESTRA_WVSetWaveFormat(wave, &format, kBufferBytes));
    ASSERT_EQ(0, KESTRA_WVSetWriteWaveCB(wave, &host, &ToneHost::Write));
    ASSERT_EQ(0, KESTRA_WVPlayWave(wave));
    // Two calls past the tone: every tone buffer has been played by then.
    while (host.calls.load() < kToneBuffers + 2)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(0, KESTRA_WVStopWave(wave));
    ASSERT_EQ(0, KESTRA_WVCloseWave(wave));
    EndCapture();

    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> file{std::istreambuf_iterator<char>(in), {}};
    in.close();
    std::remove(path.c_str());
    ASSERT_GE(file.size(), 44u + (2 + kToneBuffers) * kBufferBytes) << "file too short";
    EXPECT_EQ(0, std::memcmp(file.data(), "RIFF", 4));
    uint32_t dataSize =
        file[40] | file[41] << 8 | file[42] << 16 | static_cast<uint32_t>(file[43]) << 24;
    EXPECT_EQ(file.size() - 44, dataSize) << "data size fixed up at close";
    const uint8_t *data = file.data() + 44;
    for (uint32_t i = 0; i < 2 * kBufferBytes; ++i)
        ASSERT_EQ(0x64, data[i]) << "leading fill, byte " << i;
    ASSERT_EQ(static_cast<size_t>(kToneBuffers) * kBufferBytes, host.written.size());
    for (size_t i = 0; i < host.written.size(); ++i)
        ASSERT_EQ(host.written[i], data[2 * kBufferBytes + i]) << "tone byte " << i;
}

}  // namespace
