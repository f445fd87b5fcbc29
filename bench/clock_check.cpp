// How close the sound clock is to what the stand-in's paced sinks really
// consumed: a minute of play with short refills, pauses and a stop/play,
// the position read every few milliseconds and compared, at its own
// QueryPerformanceCounter moment, with the sink's consumption then. Not a
// test: it prints the error, for the README and closing notes.
//
// The host's samples carry their own frame number (both channels negative,
// so never the fill byte's 0x6464): whatever the library fills or replays,
// the frames heard by a moment are one past the highest number consumed by
// then. The null sink keeps no bytes, so there the truth comes from the
// host's own record instead, and that run makes no pauses (a paused refill
// never reaches the host, so the record could not place it).
#include <windows.h>
#include <mmsystem.h>

#include <kestra/platform.h>
#include <kestra/platform_test.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <vector>

#include "../tests/support/pcm_format.h"
#include "kestra/kestra.h"

namespace {

constexpr uint32_t kRate = 44100, kFrameBytes = 4, kBuffer = 4096;

struct Host {
    std::mutex lock;
    int64_t next = 0;                   // the next frame number handed over
    std::vector<int64_t> refillFrames;  // frames each refill brought, in order
    int calls = 0;
};

int32_t KESTRA_CALLBACK Write(uint8_t *buffer, uint32_t size, void *user) {
    Host *host = static_cast<Host *>(user);
    std::lock_guard<std::mutex> hold(host->lock);
    // Every seventh refill is short, an odd byte count: whole frames count.
    const uint32_t bytes = ++host->calls % 7 == 0 ? size / 3 + 1 : size;
    const uint32_t frames = bytes / kFrameBytes;
    for (uint32_t i = 0; i < frames; ++i) {
        const int64_t n = host->next + i;
        const uint16_t left = uint16_t(0x8000u | (n & 0x7FFF));
        const uint16_t right = uint16_t(0x8000u | ((n >> 15) & 0x7FFF));
        std::memcpy(buffer + i * kFrameBytes, &left, 2);
        std::memcpy(buffer + i * kFrameBytes + 2, &right, 2);
    }
    host->next += frames;
    host->refillFrames.push_back(frames);
    return int32_t(bytes);
}

int64_t Qpc() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

struct Reading {
    int64_t frames;
    double consumedBytes;  // the sink's, at the reading's moment
};

// The frames heard once `consumed` device bytes have played.
class Truth {
public:
    virtual ~Truth() = default;
    virtual int64_t FramesAt(int64_t consumed) const = 0;
};

// From the device's own bytes: one past the highest frame number consumed.
class FromFile : public Truth {
public:
    explicit FromFile(const std::string &path) {
        std::ifstream in(path, std::ios::binary);
        std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
        size_t at = 12;  // past RIFF....WAVE
        while (at + 8 <= file.size() && std::memcmp(&file[at], "data", 4) != 0) {
            uint32_t size;
            std::memcpy(&size, &file[at + 4], 4);
            at += 8 + size;
        }
        int64_t highest = 0;
        for (size_t i = at + 8; i + kFrameBytes <= file.size(); i += kFrameBytes) {
            uint16_t left, right;
            std::memcpy(&left, &file[i], 2);
            std::memcpy(&right, &file[i + 2], 2);
            if ((left & 0x8000) && (right & 0x8000))
                highest = std::max<int64_t>(
                    highest, 1 + ((int64_t(right & 0x7FFF) << 15) | (left & 0x7FFF)));
            heardAfter.push_back(highest);
        }
    }
    int64_t FramesAt(int64_t consumed) const override {
        const int64_t frame = consumed / kFrameBytes;
        if (frame <= 0 || heardAfter.empty()) return 0;
        return heardAfter[size_t(std::min<int64_t>(frame, int64_t(heardAfter.size()))) - 1];
    }

private:
    std::vector<int64_t> heardAfter;  // per device frame
};

// From the host's record: two buffers of fill, then each refill's frames at
// the front of its buffer.
class FromRecord : public Truth {
public:
    explicit FromRecord(std::vector<int64_t> refills) : frames(std::move(refills)) {}
    int64_t FramesAt(int64_t consumed) const override {
        int64_t heard = 0;
        for (size_t k = 0; k < frames.size(); ++k) {
            const int64_t start = int64_t(k + 2) * kBuffer;
            if (consumed <= start) break;
            heard += std::min<int64_t>((consumed - start) / kFrameBytes, frames[k]);
        }
        return heard;
    }

private:
    std::vector<int64_t> frames;
};

struct Errors {
    int readings = 0;
    double worstMs = 0, sumMs = 0;
    void Add(const Truth &truth, const std::vector<Reading> &taken) {
        for (const Reading &r : taken) {
            const double heard = double(truth.FramesAt(int64_t(std::floor(r.consumedBytes))));
            const double ms = std::fabs(double(r.frames) - heard) * 1000.0 / kRate;
            worstMs = std::max(worstMs, ms);
            sumMs += ms;
            ++readings;
        }
    }
};

// One play of `seconds`: reads the clock every 3 ms; pauses for 1 s every
// 10 s when `pauses`.
std::vector<Reading> Play(KestraWave wave, double seconds, bool pauses) {
    std::vector<Reading> readings;
    KESTRA_WVPlayWave(wave);
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    const int64_t start = Qpc();
    bool paused = false;
    for (;;) {
        const double t = double(Qpc() - start) / double(frequency.QuadPart);
        if (t >= seconds) break;
        const bool pauseNow = pauses && std::fmod(t, 10.0) >= 9.0;
        if (pauseNow != paused) KESTRA_WVPauseWave(wave, paused = pauseNow);
        int64_t before = 0, after = 0, qBefore = 0, qAfter = 0, frames = 0, stamp = 0;
        kplat_audio_consumed(nullptr, &before, &qBefore);
        const bool ok = KESTRA_WVGetPosition(wave, &frames, &stamp) == 0;
        kplat_audio_consumed(nullptr, &after, &qAfter);
        if (ok) {
            const double f =
                qAfter > qBefore ? double(stamp - qBefore) / double(qAfter - qBefore) : 0;
            readings.push_back({frames, double(before) + f * double(after - before)});
        }
        Sleep(3);
    }
    KESTRA_WVPauseWave(wave, 0);
    KESTRA_WVStopWave(wave);
    return readings;
}

void Run(const char *label, bool wav, double seconds) {
    KestraWave wave = nullptr;
    KESTRA_WVOpenWave(&wave);
    const WAVEFORMATEX format = kestra_test::PcmFormat(2, kRate, 16);
    KESTRA_WVSetWaveFormat(wave, &format, kBuffer);
    Errors errors;
    // Two plays with a stop between: each starts its count, and its file, anew.
    for (int play = 0; play < 2; ++play) {
        Host host;
        KESTRA_WVSetWriteWaveCB(wave, &host, Write);
        const std::string path = "/tmp/kestra_clock_check_" + std::to_string(play) + ".wav";
        kplat_audio_set_sink(wav ? ("wav:" + path).c_str() : "null");
        const std::vector<Reading> readings = Play(wave, seconds / 2, wav);
        kplat_audio_set_sink("null");  // closes the file
        if (wav) {
            errors.Add(FromFile(path), readings);
            std::remove(path.c_str());
        } else {
            std::lock_guard<std::mutex> hold(host.lock);
            errors.Add(FromRecord(host.refillFrames), readings);
        }
    }
    KESTRA_WVCloseWave(wave);
    std::printf("%-34s %6d readings, error mean %.3f ms, worst %.3f ms\n", label, errors.readings,
                errors.readings ? errors.sumMs / errors.readings : 0.0, errors.worstMs);
}

}  // namespace

int main() {
    const char *env = std::getenv("KESTRA_CLOCK_SECONDS");
    const double seconds = env ? std::atof(env) : 60.0;
    std::printf("sound clock against the sink, %.0f s each (two plays, stop between)\n", seconds);
    Run("null sink, short refills", false, seconds);
    Run("WAV sink, short refills, pauses", true, seconds);
    return 0;
}
