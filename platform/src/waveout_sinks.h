// Where a stand-in waveOut device sends the bytes it plays.
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace kplat {

class AudioSink {
public:
    virtual ~AudioSink() = default;
    // Takes one buffer's bytes; returns how long they take to play, which the
    // engine waits before it reports the buffer done.
    virtual std::chrono::microseconds Write(const uint8_t *data, size_t size) = 0;
    // Level pair as waveOutSetVolume takes it (low word left channel).
    virtual void SetVolume(DWORD level) { (void)level; }
    // A manual sink plays only when a test steps it.
    virtual bool Manual() const { return false; }
};

// A sink of the current selection for a device of this (valid PCM) format.
std::unique_ptr<AudioSink> OpenAudioSink(const WAVEFORMATEX &format);

// Appends to the record kplat_audio_played reads.
void RecordPlayed(const uint8_t *data, size_t size);

}  // namespace kplat
