// The waveOut device: one engine thread per open device plays queued headers
// in order into a sink, then reports each through WOM_DONE on that thread.
// Reset, open and close report on the calling thread, as the platform does.
#include "winmm/winmm_internal.h"

#include <cstdlib>
#include <cstring>

namespace kplat {

namespace {

void Report(const WaveDevice &d, UINT message, DWORD_PTR param) {
    if (d.callback) d.callback(d.handle, message, d.instance, param, 0);
}

void MarkDone(WAVEHDR *header) {
    header->dwFlags = (header->dwFlags & ~static_cast<DWORD>(WHDR_INQUEUE)) | WHDR_DONE;
}

bool CanPlay(const WaveDevice &d) {
    if (d.closing || d.paused || d.queue.empty()) return false;
    return !d.manual || d.stepsWanted > d.stepsDone;
}

// Waits out a buffer's play time, not counting time paused, as a device
// holds a paused buffer; a close or a reset ends the wait. A paced sink's
// clock counts the buffer in as it plays.
void Pace(WaveDevice &d, std::unique_lock<std::mutex> &lock, std::chrono::microseconds playTime,
          size_t size, uint64_t generation) {
    if (playTime.count() <= 0 || generation != d.generation) return;
    d.playingSince = Now();
    if (d.paused) d.pausedSince = d.playingSince;  // paused while the sink took the bytes
    if (d.paced) d.playingBytes = size;
    const int64_t ticks = playTime.count() * 10;
    while (!d.closing && generation == d.generation) {
        const int64_t left = d.playingSince + ticks - Now();
        if (d.paused)
            d.wake.wait(lock);
        else if (left > 0)
            d.wake.wait_for(lock, std::chrono::microseconds(left / 10 + 1));
        else
            break;
    }
    d.playingBytes = 0;
}

// Plays the front header; called with the lock held, returns with it held.
// The bytes are copied under the lock so a reset never races a read of a
// buffer the application already took back.
void PlayOne(WaveDevice &d, std::unique_lock<std::mutex> &lock) {
    WAVEHDR *header = d.queue.front();
    const uint64_t generation = d.generation;
    std::vector<uint8_t> bytes(header->lpData, header->lpData + header->dwBufferLength);
    const size_t size = bytes.size();
    lock.unlock();
    std::chrono::microseconds playTime = d.sink->Write(bytes.data(), size);
    if (d.clicks.on) FindClicks(d, bytes.data(), size);
    lock.lock();
    Pace(d, lock, playTime, size, generation);
    // Moved on by each pause: a click is stamped as if the pause came first.
    const int64_t since = d.playingSince;
    bool current = generation == d.generation && !d.queue.empty() && d.queue.front() == header;
    if (d.manual) {
        d.lastStepBytes = static_cast<int>(size);
        d.lastStep.swap(bytes);
    }
    if (current) {
        d.queue.pop_front();
        d.doneBytes += size;  // before the report: the host may ask from its callback
        MarkDone(header);
        lock.unlock();
        if (d.clicks.on) StampClicks(d, since);
        Report(d, WOM_DONE, reinterpret_cast<DWORD_PTR>(header));
        lock.lock();
    }
    if (d.manual) {
        ++d.stepsDone;
        d.wake.notify_all();
    }
}

// The device is the thread's own copy of the pointer, which keeps it alive.
void EngineLoop(const DevicePtr &device) {
    WaveDevice &d = *device;
    std::unique_lock<std::mutex> lock(d.mutex);
    for (;;) {
        d.wake.wait(lock, [&] { return d.closing || CanPlay(d); });
        if (d.closing) return;
        PlayOne(d, lock);
    }
}

MMRESULT CheckFormat(const WAVEFORMATEX *f) {
    if (!f) return MMSYSERR_INVALPARAM;
    if (f->wFormatTag != WAVE_FORMAT_PCM) return WAVERR_BADFORMAT;
    if (f->wBitsPerSample != 8 && f->wBitsPerSample != 16) return WAVERR_BADFORMAT;
    if (f->nChannels < 1 || f->nChannels > 8) return WAVERR_BADFORMAT;
    if (f->nSamplesPerSec < 1000 || f->nSamplesPerSec > 384000) return WAVERR_BADFORMAT;
    if (f->nBlockAlign != f->nChannels * f->wBitsPerSample / 8) return WAVERR_BADFORMAT;
    if (f->nAvgBytesPerSec != f->nSamplesPerSec * f->nBlockAlign) return WAVERR_BADFORMAT;
    return MMSYSERR_NOERROR;
}

// The output lag a device opened now gets; needs the devices' mutex.
DWORD OutputLagMs(const Devices &t) {
    if (t.outputLagSet) return t.outputLagMs;
    const char *text = std::getenv("KPLAT_AUDIO_LAG_MS");
    if (!text || std::strspn(text, "0123456789") != std::strlen(text) || std::strlen(text) > 6)
        return 0;
    return static_cast<DWORD>(std::strtoul(text, nullptr, 10));
}

bool HeaderArgsOk(const WAVEHDR *header, UINT size) {
    return header && size >= sizeof(WAVEHDR) && (header->lpData || header->dwBufferLength == 0);
}

// Waits for the engine of a closing device to end, so no WOM_DONE follows the
// close; the handle stays in the table until the close report for the
// report's own unprepare calls.
void StopEngine(const DevicePtr &device) {
    if (device->engine.get_id() == std::this_thread::get_id())
        device->engine.detach();  // closed from its own callback
    else if (device->engine.joinable())
        device->engine.join();
}

}  // namespace

Devices &TheDevices() {
    static Devices *t = new Devices;  // never destroyed: engines may outlive static teardown
    return *t;
}

DevicePtr FindDevice(HWAVEOUT handle, bool newestIfNull) {
    Devices &t = TheDevices();
    std::lock_guard<std::mutex> guard(t.mutex);
    auto it =
        t.devices.find(handle || !newestIfNull ? reinterpret_cast<uintptr_t>(handle) : t.newest);
    return it == t.devices.end() ? nullptr : it->second;
}

void FinishClose(const DevicePtr &device) {
    Report(*device, WOM_CLOSE, 0);
    {
        std::lock_guard<std::mutex> guard(TheDevices().mutex);
        TheDevices().devices.erase(reinterpret_cast<uintptr_t>(device->handle));
    }
    device->sink.reset();
    CountObject(KPLAT_OBJ_WAVEOUT, -1);
}

}  // namespace kplat

using namespace kplat;

extern "C" {

MMRESULT WINAPI waveOutOpen(LPHWAVEOUT phwo, UINT deviceId, LPCWAVEFORMATEX format,
                            DWORD_PTR callback, DWORD_PTR instance, DWORD flags) {
    if (auto injected = ShouldFail("waveOutOpen")) return static_cast<MMRESULT>(*injected);
    if (deviceId != WAVE_MAPPER && deviceId != 0) return MMSYSERR_BADDEVICEID;
    DWORD kind = flags & CALLBACK_TYPEMASK;
    if (kind != CALLBACK_NULL && kind != CALLBACK_FUNCTION) return MMSYSERR_INVALFLAG;
    if (MMRESULT r = CheckFormat(format)) return r;
    if (flags & WAVE_FORMAT_QUERY) return MMSYSERR_NOERROR;
    if (!phwo) return MMSYSERR_INVALPARAM;

    auto device = std::make_shared<WaveDevice>();
    device->format = *format;
    device->format.cbSize = 0;  // PCM has no extra bytes; the device never reads any
    device->callback =
        kind == CALLBACK_FUNCTION ? reinterpret_cast<WaveOutCallback>(callback) : nullptr;
    device->instance = instance;
    device->sink = OpenAudioSink(device->format);
    device->manual = device->sink->Manual();
    device->paced = device->sink->Paced();
    {
        std::lock_guard<std::mutex> guard(TheDevices().mutex);
        device->origin = TheDevices().positionStart;
        if (device->paced)
            device->lagBytes = uint64_t(OutputLagMs(TheDevices())) * format->nSamplesPerSec / 1000 *
                               format->nBlockAlign;
        uintptr_t id = TheDevices().nextHandle += 4;
        device->handle = reinterpret_cast<HWAVEOUT>(id);
        TheDevices().devices[id] = device;
        TheDevices().newest = id;
        ++TheDevices().openCount;
        TheDevices().lastFormat = *format;
        TheDevices().haveFormat = true;
    }
    CountObject(KPLAT_OBJ_WAVEOUT, 1);
    StartClicks(*device);
    device->engine = std::thread(EngineLoop, device);
    *phwo = device->handle;
    Report(*device, WOM_OPEN, 0);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveOutClose(HWAVEOUT hwo) {
    DevicePtr device = FindDevice(hwo);
    if (!device) return MMSYSERR_INVALHANDLE;
    {
        std::lock_guard<std::mutex> guard(device->mutex);
        if (device->closing) return MMSYSERR_INVALHANDLE;
        if (!device->queue.empty()) return WAVERR_STILLPLAYING;
        device->closing = true;  // in the same hold: nothing can be queued after the test
        device->wake.notify_all();
    }
    StopEngine(device);
    {
        std::lock_guard<std::mutex> guard(TheDevices().mutex);
        if (TheDevices().holdCloses) {
            TheDevices().heldCloses.push_back(device);
            return MMSYSERR_NOERROR;
        }
    }
    FinishClose(device);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveOutPrepareHeader(HWAVEOUT hwo, LPWAVEHDR header, UINT size) {
    if (auto injected = ShouldFail("waveOutPrepareHeader")) return static_cast<MMRESULT>(*injected);
    DevicePtr device = FindDevice(hwo);
    if (!device) return MMSYSERR_INVALHANDLE;
    if (!HeaderArgsOk(header, size)) return MMSYSERR_INVALPARAM;
    std::lock_guard<std::mutex> guard(device->mutex);
    if (header->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
    header->dwFlags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveOutUnprepareHeader(HWAVEOUT hwo, LPWAVEHDR header, UINT size) {
    DevicePtr device = FindDevice(hwo);
    if (!device) return MMSYSERR_INVALHANDLE;
    if (!header || size < sizeof(WAVEHDR)) return MMSYSERR_INVALPARAM;
    std::lock_guard<std::mutex> guard(device->mutex);
    if (header->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
    header->dwFlags &= ~static_cast<DWORD>(WHDR_PREPARED);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveOutWrite(HWAVEOUT hwo, LPWAVEHDR header, UINT size) {
    if (auto injected = ShouldFail("waveOutWrite")) return static_cast<MMRESULT>(*injected);
    DevicePtr device = FindDevice(hwo);
    if (!device) return MMSYSERR_INVALHANDLE;
    if (!HeaderArgsOk(header, size)) return MMSYSERR_INVALPARAM;
    std::lock_guard<std::mutex> guard(device->mutex);
    if (device->closing) return MMSYSERR_INVALHANDLE;
    if (!(header->dwFlags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
    if (header->dwFlags & WHDR_INQUEUE) return WAVERR_STILLPLAYING;
    header->dwFlags = (header->dwFlags & ~static_cast<DWORD>(WHDR_DONE)) | WHDR_INQUEUE;
    device->queue.push_back(header);
    device->wake.notify_all();
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveOutReset(HWAVEOUT hwo) {
    DevicePtr device = FindDevice(hwo);
    if (!device) return MMSYSERR_INVALHANDLE;
    std::deque<WAVEHDR *> returned;
    {
        std::lock_guard<std::mutex> guard(device->mutex);
        if (device->closing) return MMSYSERR_INVALHANDLE;
        returned.swap(device->queue);
        ++device->generation;
        device->paused = false;
        // The position goes back to 0, and a sink with a queue of its own drops it.
        device->sink->SetPaused(false);
        device->sink->Flush();
        device->origin = device->doneBytes = device->playingBytes = 0;
        device->playedAtReset = device->sink->Played();
        for (WAVEHDR *header : returned) MarkDone(header);
        device->wake.notify_all();
    }
    for (WAVEHDR *header : returned) Report(*device, WOM_DONE, reinterpret_cast<DWORD_PTR>(header));
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveOutPause(HWAVEOUT hwo) {
    DevicePtr device = FindDevice(hwo);
    if (!device) return MMSYSERR_INVALHANDLE;
    std::lock_guard<std::mutex> guard(device->mutex);
    if (device->closing) return MMSYSERR_INVALHANDLE;  // its sink is on the way out
    if (!device->paused) device->pausedSince = Now();
    device->paused = true;
    device->sink->SetPaused(true);
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveOutRestart(HWAVEOUT hwo) {
    DevicePtr device = FindDevice(hwo);
    if (!device) return MMSYSERR_INVALHANDLE;
    std::lock_guard<std::mutex> guard(device->mutex);
    if (device->closing) return MMSYSERR_INVALHANDLE;  // its sink is on the way out
    if (device->paused) device->playingSince += Now() - device->pausedSince;
    device->paused = false;
    device->sink->SetPaused(false);
    device->wake.notify_all();
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveOutSetVolume(HWAVEOUT hwo, DWORD volume) {
    DevicePtr device = FindDevice(hwo);
    if (!device) return MMSYSERR_INVALHANDLE;
    {
        std::lock_guard<std::mutex> guard(device->mutex);
        device->volume = volume;
        device->sink->SetVolume(volume);
    }
    std::lock_guard<std::mutex> guard(TheDevices().mutex);
    TheDevices().lastVolume = volume;
    ++TheDevices().volumeCalls;
    return MMSYSERR_NOERROR;
}

MMRESULT WINAPI waveOutGetVolume(HWAVEOUT hwo, LPDWORD volume) {
    DevicePtr device = FindDevice(hwo);
    if (!device) return MMSYSERR_INVALHANDLE;
    if (!volume) return MMSYSERR_INVALPARAM;
    std::lock_guard<std::mutex> guard(device->mutex);
    *volume = device->volume;
    return MMSYSERR_NOERROR;
}

}  // extern "C"
