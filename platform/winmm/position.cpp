// The waveOut device's clock: what its sink has consumed and what a listener
// has heard of it, as waveOutGetPosition reports.
#include "winmm/winmm_internal.h"

#include <algorithm>

namespace kplat {

namespace {

constexpr uint64_t kTicksPerSecond = 10000000;

// The whole sample frames of the paced buffer now playing that have gone out
// by now; a pause stops the count where it began.
uint64_t PlayingPart(const WaveDevice &d, int64_t now) {
    if (d.playingBytes == 0) return 0;
    const int64_t until = d.paused ? d.pausedSince : now;
    const uint64_t elapsed = static_cast<uint64_t>(std::max<int64_t>(0, until - d.playingSince));
    const uint64_t frames = elapsed * d.format.nSamplesPerSec / kTicksPerSecond;
    return std::min<uint64_t>(d.playingBytes, frames * d.format.nBlockAlign);
}

// What a listener has heard, counted from the origin: a paced sink's output
// lag holds the count back, but never below where it started.
uint64_t Heard(WaveDevice &d, int64_t now) {
    const uint64_t consumed = Consumed(d, now);
    return d.origin + consumed - std::min(consumed, d.lagBytes);
}

}  // namespace

int64_t Now() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

uint64_t Consumed(WaveDevice &d, int64_t now) {
    if (d.paced) return d.doneBytes + PlayingPart(d, now);
    if (d.manual) return d.doneBytes;
    return d.sink->Played() - d.playedAtReset;
}

}  // namespace kplat

using namespace kplat;

extern "C" {

MMRESULT WINAPI waveOutGetPosition(HWAVEOUT hwo, LPMMTIME time, UINT size) {
    if (auto injected = ShouldFail("waveOutGetPosition")) return static_cast<MMRESULT>(*injected);
    // The platform checks the record before the handle, and calls a short
    // one an error rather than a bad parameter.
    if (!time || size == 0) return MMSYSERR_INVALPARAM;
    if (size < sizeof(MMTIME)) return MMSYSERR_ERROR;
    DevicePtr device = FindDevice(hwo);
    if (!device) return MMSYSERR_INVALHANDLE;
    std::lock_guard<std::mutex> guard(device->mutex);
    if (device->closing) return MMSYSERR_INVALHANDLE;
    const uint64_t bytes = Heard(*device, Now());
    // Bytes and samples each wrap at 32 bits from one 64-bit count. Any other
    // format comes back in bytes, and wType says so, as a driver may answer.
    if (time->wType == TIME_SAMPLES) {
        time->u.sample = static_cast<DWORD>(bytes / device->format.nBlockAlign);
    } else {
        time->wType = TIME_BYTES;
        time->u.cb = static_cast<DWORD>(bytes);
    }
    return MMSYSERR_NOERROR;
}

}  // extern "C"
