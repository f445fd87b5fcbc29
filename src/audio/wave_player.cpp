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

// The player whose write callback this thread is running, if any.
thread_local const WavePlayer *callbackOf = nullptr;
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
    if (!HandedOffStopDone()) return;
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

bool WavePlayer::OnCallbackThread() const { return callbackOf == this; }

void WavePlayer::Stop() {
    if (OnCallbackThread()) return;
    if (callbackOf) {
        StopFromCallback();
        return;
    }
    HandedOffStopDone();  // waits: this is no callback
    if (state.load() != WavePlaying) return;
    stopRequested.store(1);
    LetGoOfDevice();
}

void WavePlayer::LetGoOfDevice() {
    while (refillsInProgress.load() != 0) Sleep(kRefillWaitMs);
    state.store(WaveStopping);
    waveOutReset(waveOut);
    waveOutClose(waveOut);
    for (int i = 0; i < kCloseWaitPolls && state.load() != WaveClosed; ++i) Sleep(kCloseWaitMs);
    DetachLink();
    ReleaseBuffers();
    waveOut = nullptr;
}

// Letting go of a device waits for the callback it is running, which may itself
// be waiting for this one (two players stopping each other), so from a callback
// that part moves to a thread of its own. No refill starts once this returns.
void WavePlayer::StopFromCallback() {
    if (state.load() != WavePlaying) return;
    stopRequested.store(1);
    state.store(WaveStopping);
    handOff.store(HandedOff);
    if (StartHandOffThread()) return;
    handOff.store(NotHandedOff);
    LetGoOfDevice();  // no thread to be had: wait here, as before
}

bool WavePlayer::StartHandOffThread() {
    // The thread holds the library loaded, however soon the host unloads it.
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCSTR>(&HandOffMain), &handOffModule))
        return false;
    HANDLE thread = CreateThread(nullptr, 0, &HandOffMain, this, 0, nullptr);
    if (!thread) {
        FreeLibrary(handOffModule);
        return false;
    }
    CloseHandle(thread);
    return true;
}

DWORD WINAPI WavePlayer::HandOffMain(LPVOID param) {
    WavePlayer *player = static_cast<WavePlayer *>(param);
    HMODULE module = player->handOffModule;
    player->LetGoOfDevice();
    if (player->handOff.exchange(NotHandedOff) == HandedOffThenDelete) delete player;
    FreeLibraryAndExitThread(module, 0);
}

// False while a stop handed to its own thread still runs. A callback may not
// wait for it (that stop may be waiting for the callback); any other thread does.
bool WavePlayer::HandedOffStopDone() {
    while (handOff.load() != NotHandedOff) {
        if (callbackOf) return false;
        Sleep(kRefillWaitMs);
    }
    return true;
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
    // A stop still letting go on a thread of its own deletes the player when done.
    uint8_t running = HandedOff;
    if (player->handOff.compare_exchange_strong(running, HandedOffThenDelete)) return;
    delete player;
}

void WavePlayer::Pause(int32_t pause) { paused.store(pause, std::memory_order_relaxed); }

void WavePlayer::SetVolume(uint32_t volume) {
    // Not waveOut: a thread letting go of the device may be clearing it.
    if (state.load() != WavePlaying) return;
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
        const WavePlayer *outer = callbackOf;
        callbackOf = this;
        count = writeCallback(data, size, callbackUser);
        callbackOf = outer;
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
