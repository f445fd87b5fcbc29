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
    // The null and WAV sinks play nothing themselves: the engine's pacing is
    // the model of what they have played.
    virtual bool Paced() const { return false; }
    // A sink that plays on a device of its own: how much of what it was
    // handed has gone out; it stops and drops its queue with the device.
    virtual uint64_t Played() { return 0; }
    virtual void SetPaused(bool paused) { (void)paused; }
    virtual void Flush() {}
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

// A device's clicks for the sync log: where a loud 16-bit sample follows
// 100 ms of quiet. Touched by the device's engine thread alone.
struct ClickFinder {
    bool on = false;
    uint32_t quietNeeded = 0;     // 100 ms of sample frames
    uint32_t quietFrames = 0;     // quiet frames in a row, up to quietNeeded
    std::vector<uint32_t> found;  // frames of the buffer playing where one begins
};

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

    // The clock, in bytes since the open or the last reset. Under the mutex,
    // which the engine never holds across a sink write or a report, so a
    // position query never waits for the host's WOM_DONE callback.
    bool paced = false;
    uint64_t lagBytes = 0;       // paced sinks: what is heard trails what was consumed
    uint64_t origin = 0;         // the start knob at open; 0 after a reset
    uint64_t doneBytes = 0;      // buffers finished
    uint64_t playingBytes = 0;   // the paced buffer now playing, 0 when none
    int64_t playingSince = 0;    // QPC tick it began, moved on by each pause
    int64_t pausedSince = 0;     // QPC tick of the pause, while paused
    uint64_t playedAtReset = 0;  // a sink on a device of its own: Played() then

    ClickFinder clicks;
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
    bool outputLagSet = false;  // false: devices take $KPLAT_AUDIO_LAG_MS
    DWORD outputLagMs = 0;      // kplat_audio_set_output_lag, taken at open
    DWORD positionStart = 0;    // kplat_audio_set_position_start, taken at open
};

Devices &TheDevices();

// The device behind a handle. Null finds the most recently opened live
// device when newestIfNull (host controls), and nothing for Win32 calls.
DevicePtr FindDevice(HWAVEOUT handle, bool newestIfNull = false);

// QueryPerformanceCounter's reading, the clock of every wait and position.
int64_t Now();

// Bytes the device's sink has consumed at QPC tick now, since the open or the
// last reset; needs the device's mutex.
uint64_t Consumed(WaveDevice &d, int64_t now);

// At open: whether the device's clicks go to the sync log, which only paced
// sinks of 16-bit samples stamp, for they know when each sample is heard.
void StartClicks(WaveDevice &d);
// Notes where clicks begin in the buffer about to play; the engine's call.
void FindClicks(WaveDevice &d, const uint8_t *data, size_t size);
// Stamps the clicks found, heard from QPC tick `since` when the buffer began
// to play, plus the output lag.
void StampClicks(WaveDevice &d, int64_t since);

// Sends WOM_CLOSE and forgets the device; its engine has stopped.
void FinishClose(const DevicePtr &device);

}  // namespace kplat
