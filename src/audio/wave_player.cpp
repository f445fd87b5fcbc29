// WavePlayer: two buffers in flight on the default wave-out device, each
// refilled from the host's callback on the device's thread as it comes back.
#include "audio/wave_player.h"

#include <climits>
#include <cstring>
#include <new>

namespace kestra {

namespace {
constexpr int kCloseWaitPolls = 20;
constexpr DWORD kCloseWaitMs = 100;
constexpr DWORD kRefillWaitMs = 10;
constexpr uint32_t kMaxVolume = 100;
}  // namespace

void WaveLink::Release() {
    if (owners.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
}

WavePlayer::WavePlayer() { std::memset(&waveFormat, 0, sizeof(waveFormat)); }

WavePlayer::~WavePlayer() {
    DetachLink();
    ReleaseBuffers();
}

void WavePlayer::SetWaveFormat(const tWAVEFORMATEX *format, uint32_t size) {
    if (format) std::memcpy(&waveFormat, format, sizeof(waveFormat));
    bufferSize = size;
}

void WavePlayer::SetWriteCallback(void *user, KestraWriteWaveCallback callback) {
    callbackUser = user;
    writeCallback = callback;
}

bool WavePlayer::AllocateBuffers() {
    // Empty buffers would come back from the device at once, for ever.
    if (bufferSize == 0) return false;
    for (int i = 0; i < 2; ++i) {
        buffers[i] = new (std::nothrow) uint8_t[bufferSize];
        if (!buffers[i]) {
            ReleaseBuffers();
            return false;
        }
        std::memset(buffers[i], kWaveFillByte, bufferSize);
        WAVEHDR &h = waveHeaders[i];
        h.lpData = reinterpret_cast<LPSTR>(buffers[i]);
        h.dwBufferLength = bufferSize;
        h.dwBytesRecorded = 0;
        h.dwUser = 0;
        h.dwFlags = 0;
        h.dwLoops = 1;
        h.lpNext = nullptr;
        h.reserved = 0;
    }
    playSize = bufferSize;
    return true;
}

void WavePlayer::ReleaseBuffers() {
    for (uint8_t *&buffer : buffers) {
        delete[] buffer;
        buffer = nullptr;
    }
}

// An unaccepted handle (5) leaves that header out of the rotation; any other
// failure ends play.
bool WavePlayer::PrepareHeaders() {
    for (WAVEHDR &header : waveHeaders) {
        MMRESULT result = waveOutPrepareHeader(waveOut, &header, sizeof(WAVEHDR));
        if (result != MMSYSERR_NOERROR && result != MMSYSERR_INVALHANDLE) return false;
    }
    return true;
}

// Closes the device a failed play opened rather than leaving it running
// with no player behind it.
void WavePlayer::CloseFailedDevice() {
    for (WAVEHDR &header : waveHeaders) waveOutUnprepareHeader(waveOut, &header, sizeof(WAVEHDR));
    DetachLink();
    waveOutClose(waveOut);
    waveOut = nullptr;
}

void WavePlayer::Play() {
    if (state.load() == WavePlaying) return;
    if (!AllocateBuffers()) return;
    WaveLink *newLink = new (std::nothrow) WaveLink(this);
    if (!newLink) {
        ReleaseBuffers();
        return;
    }
    // Only the record is stored, so the device must not look for extra bytes.
    WAVEFORMATEX format = waveFormat;
    format.cbSize = 0;
    waveOut = nullptr;
    if (waveOutOpen(&waveOut, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(&WaveOutProc),
                    reinterpret_cast<DWORD_PTR>(newLink), CALLBACK_FUNCTION) != MMSYSERR_NOERROR) {
        delete newLink;  // a device that did not open never reports
        waveOut = nullptr;
        ReleaseBuffers();
        return;
    }
    link = newLink;
    if (!PrepareHeaders()) {
        CloseFailedDevice();
        ReleaseBuffers();
        return;
    }
    stopRequested.store(0);
    paused.store(0, std::memory_order_relaxed);
    // Playing before the first write, so both first buffers get refilled.
    state.store(WavePlaying);
    waveOutWrite(waveOut, &waveHeaders[0], sizeof(WAVEHDR));
    waveOutWrite(waveOut, &waveHeaders[1], sizeof(WAVEHDR));
}

bool WavePlayer::OnCallbackThread() const {
    return callbackThread.load(std::memory_order_relaxed) == GetCurrentThreadId();
}

void WavePlayer::Stop() {
    if (state.load() != WavePlaying) return;
    if (OnCallbackThread()) return;
    stopRequested.store(1);
    while (refillsInProgress.load() != 0) Sleep(kRefillWaitMs);
    state.store(WaveStopping);
    waveOutReset(waveOut);
    waveOutClose(waveOut);
    for (int i = 0; i < kCloseWaitPolls && state.load() != WaveClosed; ++i) Sleep(kCloseWaitMs);
    DetachLink();
    ReleaseBuffers();
    waveOut = nullptr;
}

// After this no device callback is inside the player, and none will enter.
void WavePlayer::DetachLink() {
    if (!link) return;
    link->player.store(nullptr);
    while (link->busy.load() != 0) Sleep(1);
    link->Release();
    link = nullptr;
}

void WavePlayer::Close(WavePlayer *player) {
    if (player->OnCallbackThread()) return;
    player->Stop();
    delete player;
}

void WavePlayer::Pause(int32_t pause) { paused.store(pause, std::memory_order_relaxed); }

void WavePlayer::SetVolume(uint32_t volume) {
    if (!waveOut) return;
    uint32_t v = volume & 0xFFFFu;
    if (v > kMaxVolume) v = kMaxVolume;  // above 100 would spill into the other channel
    uint32_t level = v * 0xFFFFu / kMaxVolume;
    waveOutSetVolume(waveOut, (level << 16) | level);
}

void CALLBACK WavePlayer::WaveOutProc(HWAVEOUT device, UINT message, DWORD_PTR instance,
                                      DWORD_PTR param1, DWORD_PTR) {
    WaveLink *link = reinterpret_cast<WaveLink *>(instance);
    if (!link) return;
    link->busy.fetch_add(1);
    if (WavePlayer *player = link->player.load()) player->OnMessage(device, message, param1);
    link->busy.fetch_sub(1);
    if (message == WOM_CLOSE) link->Release();  // the device's share; link may be gone now
}

void WavePlayer::OnMessage(HWAVEOUT device, UINT message, DWORD_PTR param) {
    if (message == WOM_DONE) {
        WAVEHDR *header = reinterpret_cast<WAVEHDR *>(param);
        if (header != &waveHeaders[0] && header != &waveHeaders[1]) return;
        if (state.load() == WavePlaying) RefillBuffer(header);
    } else if (message == WOM_CLOSE) {
        waveOutUnprepareHeader(device, &waveHeaders[0], sizeof(WAVEHDR));
        waveOutUnprepareHeader(device, &waveHeaders[1], sizeof(WAVEHDR));
        state.store(WaveClosed);
    }
}

void WavePlayer::RefillBuffer(WAVEHDR *header) {
    // Counted before the test: once stop has seen no refill under way, every
    // later one sees stopRequested and touches nothing.
    refillsInProgress.fetch_add(1);
    if (stopRequested.load() == 0) {
        uint8_t *data = reinterpret_cast<uint8_t *>(header->lpData);
        if (paused.load(std::memory_order_relaxed) != 0)
            std::memset(data, kWaveFillByte, playSize);
        else
            FillFromHost(data, playSize);
        waveOutWrite(waveOut, header, sizeof(WAVEHDR));
    }
    refillsInProgress.fetch_sub(1);
}

void WavePlayer::FillFromHost(uint8_t *data, uint32_t size) {
    int64_t count = 0;
    if (writeCallback) {
        callbackThread.store(GetCurrentThreadId(), std::memory_order_relaxed);
        count = writeCallback(data, size, callbackUser);
        callbackThread.store(0, std::memory_order_relaxed);
    }
    if (count < 0) count = 0;
    if (count >= static_cast<int64_t>(size)) {
        shortFillCount = 0;
        return;
    }
    const int32_t before = shortFillCount;
    if (shortFillCount < INT32_MAX) ++shortFillCount;
    // The first four short refills in a row replay the old tail; then fill.
    if (before > 3) std::memset(data + count, kWaveFillByte, size - static_cast<uint32_t>(count));
}

}  // namespace kestra
