// WavePlayer: double-buffered PCM output pulled from the host.
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <atomic>
#include <cstdint>

#include "kestra/kestra.h"

namespace kestra {

enum WaveState : uint8_t { WavePlaying = 0, WaveStopping = 1, WaveClosed = 2 };

// A stop made inside a write callback runs on a thread of its own (see
// StopFromCallback); a close made while it runs leaves the player to it.
enum WaveHandOff : uint8_t { NotHandedOff = 0, HandedOff = 1, HandedOffThenDelete = 2 };

constexpr uint8_t kWaveFillByte = 0x64;

class WavePlayer;

// What the device gets as its instance value: one per opened device, owned
// by the player and by the device until its close report. A report that
// comes after the player let go finds a null player, never freed memory.
struct WaveLink {
    explicit WaveLink(WavePlayer *owner) : player(owner) {}
    // seq_cst: a store-then-load handshake with busy (see DetachLink).
    std::atomic<WavePlayer *> player;
    // seq_cst: device callbacks that may be using the player right now.
    std::atomic<int32_t> busy{0};
    // acq_rel: whoever lets go last deletes the link.
    std::atomic<int32_t> owners{2};
    void Release();
};

class WavePlayer {
public:
    WavePlayer();
    ~WavePlayer();
    WavePlayer(const WavePlayer &) = delete;
    WavePlayer &operator=(const WavePlayer &) = delete;

    void SetWaveFormat(const tWAVEFORMATEX *format, uint32_t size);
    void SetWriteCallback(void *user, KestraWriteWaveCallback callback);
    void Play();
    // Does nothing when called from inside the write callback (it would wait
    // for the refill that is its own caller); from inside another player's it
    // returns at once and the device is let go on a thread of its own.
    void Stop();
    void Pause(int32_t pause);
    void SetVolume(uint32_t volume);
    // Stops, then destroys and frees the player, or leaves that to the thread
    // letting go of its device; refused, like Stop, from inside the write callback.
    static void Close(WavePlayer *player);

    // The device callback; instance is a WaveLink.
    static void CALLBACK WaveOutProc(HWAVEOUT device, UINT message, DWORD_PTR instance,
                                     DWORD_PTR param1, DWORD_PTR param2);

private:
    // The records the device holds while playing; WOM_DONE names a buffer by their address.
    WAVEHDR waveHeaders[2];
    // seq_cst: written on both sides; WaveClosed publishes the unprepared headers.
    std::atomic<uint8_t> state{WaveClosed};
    HWAVEOUT waveOut = nullptr;
    int32_t shortFillCount = 0;  // device side only
    uint8_t *buffers[2] = {nullptr, nullptr};
    uint32_t bufferSize = 1280;
    // relaxed: only chooses fill or the host's samples; publishes no data.
    std::atomic<int32_t> paused{0};
    // seq_cst: pairs with stopRequested in a store-then-load handshake.
    std::atomic<int32_t> refillsInProgress{0};
    // seq_cst: see refillsInProgress.
    std::atomic<int32_t> stopRequested{0};
    WAVEFORMATEX waveFormat;
    KestraWriteWaveCallback writeCallback = nullptr;
    void *callbackUser = nullptr;

    // Size of the buffers as allocated by the current play: refills use it,
    // so a size set while playing takes effect at the next play.
    uint32_t playSize = 0;
    WaveLink *link = nullptr;  // of the open device, until stop lets go
    // seq_cst: the thread a stop was handed to sets NotHandedOff last, which
    // publishes the device as let go; HandedOffThenDelete hands it the player.
    std::atomic<uint8_t> handOff{NotHandedOff};
    HMODULE handOffModule = nullptr;  // this library, held loaded by that thread

    void OnMessage(HWAVEOUT device, UINT message, DWORD_PTR param);
    void RefillBuffer(WAVEHDR *header);
    void FillFromHost(uint8_t *data, uint32_t size);
    bool AllocateBuffers();
    void ReleaseBuffers();
    bool PrepareHeaders();
    void CloseFailedDevice();
    void DetachLink();
    bool OnCallbackThread() const;
    void LetGoOfDevice();
    void StopFromCallback();
    bool StartHandOffThread();
    bool HandedOffStopDone();
    static DWORD WINAPI HandOffMain(LPVOID param);
};

}  // namespace kestra
