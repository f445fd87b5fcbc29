// winmm's waveOut devices and the sinks they send the bytes they play to.
#pragma once

#include "internal.h"

#include <mmsystem.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <thread>

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

// kplat_audio_set_sink: false for an unknown name, which changes nothing.
bool SelectAudioSink(const char *sink);
// kplat_audio_sink_error: the first errno the selected WAV file met, or 0.
int AudioSinkError();

// The documented shape of a waveOut callback (waveOutProc), which is what
// applications define; calling it through DRVCALLBACK's HDRVR is a type pun.
using WaveOutCallback = void(CALLBACK *)(HWAVEOUT, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR);

struct WaveDevice {
    HWAVEOUT handle = nullptr;
    WAVEFORMATEX format{};
    WaveOutCallback callback = nullptr;
    DWORD_PTR instance = 0;
    std::unique_ptr<AudioSink> sink;
    bool manual = false;

    std::mutex mutex;  // guards everything below
    std::condition_variable wake;
    std::deque<WAVEHDR *> queue;  // front is the header playing
    uint64_t generation = 0;      // bumped by reset: a header taken before is stale
    bool closing = false;
    bool paused = false;
    DWORD volume = 0xFFFFFFFFu;
    uint64_t stepsWanted = 0;  // manual sink: buffers a test asked for
    uint64_t stepsDone = 0;
    int lastStepBytes = -1;
    std::vector<uint8_t> lastStep;
    std::thread engine;
};

using DevicePtr = std::shared_ptr<WaveDevice>;

// The open devices, and what the host controls report about past ones.
struct Devices {
    std::mutex mutex;
    std::map<uintptr_t, DevicePtr> devices;
    uintptr_t nextHandle = 0x5700;
    uintptr_t newest = 0;
    int openCount = 0;
    bool haveFormat = false;
    WAVEFORMATEX lastFormat{};
    DWORD lastVolume = 0;
    int volumeCalls = 0;
    bool holdCloses = false;
    std::vector<DevicePtr> heldCloses;
};

Devices &TheDevices();

// The device behind a handle. Null finds the most recently opened live
// device when newestIfNull (host controls), and nothing for Win32 calls.
DevicePtr FindDevice(HWAVEOUT handle, bool newestIfNull = false);

// Sends WOM_CLOSE and forgets the device; its engine has stopped.
void FinishClose(const DevicePtr &device);

}  // namespace kplat
