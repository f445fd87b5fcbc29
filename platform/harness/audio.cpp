// Host controls of the waveOut devices: the sink choice, manual stepping, the
// record of what was played and what the devices were asked to do.
#include "winmm/winmm_internal.h"

#include <algorithm>
#include <cstring>

namespace kplat {

namespace {

std::mutex playedMutex;
// Never destroyed: an engine thread may still play while the process exits.
std::vector<uint8_t> &played = *new std::vector<uint8_t>;

template <class F>
auto WithDevices(F &&f) {
    Devices &d = TheDevices();
    std::lock_guard<std::mutex> guard(d.mutex);
    return f(d);
}

}  // namespace

void RecordPlayed(const uint8_t *data, size_t size) {
    std::lock_guard<std::mutex> guard(playedMutex);
    played.insert(played.end(), data, data + size);
}

}  // namespace kplat

using namespace kplat;

extern "C" {

BOOL kplat_audio_set_sink(const char *sink) { return SelectAudioSink(sink); }

int kplat_audio_sink_error(void) { return AudioSinkError(); }

int kplat_audio_manual_step(HWAVEOUT hwo, void *copy, int capacity) {
    DevicePtr device = FindDevice(hwo, true);
    if (!device || !device->manual) return -1;
    std::unique_lock<std::mutex> lock(device->mutex);
    if (device->closing || device->paused || device->queue.empty()) return -1;
    const uint64_t target = ++device->stepsWanted;
    device->wake.notify_all();
    device->wake.wait(lock, [&] { return device->closing || device->stepsDone >= target; });
    if (device->stepsDone < target) return -1;
    int bytes = device->lastStepBytes;
    if (copy && capacity > 0)
        std::memcpy(copy, device->lastStep.data(),
                    std::min<size_t>(static_cast<size_t>(capacity), device->lastStep.size()));
    return bytes;
}

int kplat_audio_queued(HWAVEOUT hwo) {
    DevicePtr device = FindDevice(hwo, true);
    if (!device) return -1;
    std::lock_guard<std::mutex> guard(device->mutex);
    return static_cast<int>(device->queue.size());
}

int kplat_audio_open_count(void) {
    return WithDevices([](Devices &d) { return d.openCount; });
}

BOOL kplat_audio_last_format(WAVEFORMATEX *format) {
    return WithDevices([&](Devices &d) {
        if (!d.haveFormat || !format) return FALSE;
        *format = d.lastFormat;
        return TRUE;
    });
}

DWORD kplat_audio_last_volume(void) {
    return WithDevices([](Devices &d) { return d.lastVolume; });
}

int kplat_audio_volume_calls(void) {
    return WithDevices([](Devices &d) { return d.volumeCalls; });
}

void kplat_audio_hold_close_reports(BOOL hold) {
    WithDevices([=](Devices &d) { d.holdCloses = hold != FALSE; });
}

int kplat_audio_deliver_closes(void) {
    std::vector<DevicePtr> held;
    WithDevices([&](Devices &d) { held.swap(d.heldCloses); });
    for (const DevicePtr &device : held) FinishClose(device);
    return static_cast<int>(held.size());
}

void kplat_audio_set_output_lag(DWORD milliseconds) {
    WithDevices([=](Devices &d) {
        d.outputLagSet = true;
        d.outputLagMs = milliseconds;
    });
}

void kplat_audio_set_position_start(DWORD bytes) {
    WithDevices([=](Devices &d) { d.positionStart = bytes; });
}

BOOL kplat_audio_consumed(HWAVEOUT hwo, int64_t *bytes, int64_t *qpc) {
    DevicePtr device = FindDevice(hwo, true);
    if (!device) return FALSE;
    std::lock_guard<std::mutex> guard(device->mutex);
    if (device->closing) return FALSE;
    const int64_t now = Now();
    if (bytes) *bytes = static_cast<int64_t>(Consumed(*device, now));
    if (qpc) *qpc = now;
    return TRUE;
}

size_t kplat_audio_played(void *dst, size_t capacity) {
    std::lock_guard<std::mutex> guard(playedMutex);
    if (dst) std::memcpy(dst, played.data(), std::min(capacity, played.size()));
    return played.size();
}

void kplat_audio_clear_played(void) {
    std::lock_guard<std::mutex> guard(playedMutex);
    played.clear();
}

}  // extern "C"
