// WavePlayer: double-buffered PCM output pulled from the host.
//
// Life (core/shared.h): the host's handle holds one reference, and so does
// the thread a stop made inside a write callback hands the device to. Each
// opened device gets a WaveLink, held by the player and by the device until
// its close report, so a report that comes after the player let go finds no
// player rather than freed memory.
#pragma once

#include <windows.h>
#include <mmsystem.h>

#include <atomic>
#include <cstdint>

#include "core/crit_section.h"
#include "core/event.h"
#include "core/shared.h"
#include "kestra/kestra.h"

namespace kestra {

enum WaveState : uint8_t { WavePlaying = 0, WaveStopping = 1, WaveClosed = 2 };

constexpr uint8_t kWaveFillByte = 0x64;

class WavePlayer;

// What the device gets as its instance value.
class WaveLink : public Shared {
public:
    explicit WaveLink(WavePlayer *owner) : player(owner) {}

    // Held by every device callback while it uses the player, so taking it
    // waits for a refill under way.
    CritSection lock;
    // Under lock: null once the player let go of this device.
    WavePlayer *player;
};

class WavePlayer : public Shared {
public:
    WavePlayer();
    WavePlayer(const WavePlayer &) = delete;
    WavePlayer &operator=(const WavePlayer &) = delete;

    // False when the platform had no events to give; the player is then never handed out.
    bool Made() const { return closed.Made() && letGoDone.Made(); }

    void SetWaveFormat(const tWAVEFORMATEX *format, uint32_t size);
    void SetWriteCallback(void *user, KestraWriteWaveCallback callback);
    void Play();
    // Does nothing when called from inside the write callback (it would wait
    // for the refill that is its own caller); from inside another player's it
    // returns at once and the device is let go on a thread of its own.
    void Stop();
    void Pause(int32_t pause);
    void SetVolume(uint32_t volume);
    // The host's frames heard and the QueryPerformanceCounter moment of that
    // count; false, writing nothing, when not playing or given a null pointer.
    bool Position(int64_t *hostFrames, int64_t *qpcTime);
    // Stops, then lets go of the host's reference; refused, like Stop, from
    // inside the write callback.
    void Close();

    // The device callback; instance is a WaveLink.
    static void CALLBACK WaveOutProc(HWAVEOUT device, UINT message, DWORD_PTR instance,
                                     DWORD_PTR param1, DWORD_PTR param2);

private:
    friend void LetGo<WavePlayer>(WavePlayer *);
    ~WavePlayer();

    // ---- Any thread ----
    // seq_cst: a stop's store and a refill's load decide together whether
    // that refill may start; WaveClosed comes from the device's close report.
    std::atomic<uint8_t> state{WaveClosed};
    // relaxed: only chooses fill or the host's samples; publishes no data.
    std::atomic<int32_t> paused{0};
    // Set by the device's close report: the headers are unprepared.
    Event closed{Event::ManualReset, true};
    // Set while no stop handed to a thread of its own is letting go of the
    // device; the host's calls other than from a callback wait for it.
    Event letGoDone{Event::ManualReset, true};

    // ---- Under callbackLock, any thread: the host's callback and its value, as one pair ----
    CritSection callbackLock;
    KestraWriteWaveCallback writeCallback = nullptr;
    void *callbackUser = nullptr;

    // ---- The host's calls (one thread at a time), or the thread a stop was
    // handed to while those calls wait for letGoDone ----
    WAVEFORMATEX waveFormat;
    uint32_t bufferSize = 1280;
    HWAVEOUT waveOut = nullptr;
    WaveLink *link = nullptr;         // of the open device, until stop lets go
    HMODULE handOffModule = nullptr;  // this library, held loaded by that thread
    // Written before the device opens, read by its refills until it lets go:
    // the records the device holds (WOM_DONE names a buffer by their address),
    // the buffers, and their size as allocated, so a size set while playing
    // takes effect at the next play.
    WAVEHDR waveHeaders[2];
    uint8_t *buffers[2] = {nullptr, nullptr};
    uint32_t playSize = 0;

    // ---- The device's thread, under the link's lock ----
    int32_t shortFillCount = 0;

    // ---- Under clockLock, any thread: the sound's clock ----
    // Never held by the device's thread while it runs the host's callback,
    // so asking for the position never waits for a refill.
    CritSection clockLock;
    // Which of the device's bytes carried which of the host's: one piece per
    // buffer written, oldest overwritten first. The device's position lags
    // what was written by its own latency, far less than this many buffers.
    struct Piece {
        int64_t deviceStart;  // in the device's bytes from its open
        int64_t hostStart;    // in the host's bytes from play
        uint32_t size;
        uint32_t hostBytes;  // the first this many bytes are the host's, new
    };
    static constexpr int kPieces = 64;
    Piece pieces[kPieces] = {};
    int64_t piecesWritten = 0;
    int64_t deviceWritten = 0;
    int64_t hostWritten = 0;
    HWAVEOUT clockDevice = nullptr;  // null once a stop began letting go
    uint32_t frameBytes = 1;
    // The device's count widened past its 32-bit wrap, in the unit it answered.
    UINT positionUnit = 0;
    DWORD lastRaw = 0;
    int64_t positionUnits = 0;
    int64_t lastFrames = 0;  // what was answered last: the count never goes back

    void OnMessage(HWAVEOUT device, UINT message, DWORD_PTR param);
    void RefillBuffer(HWAVEOUT device, WAVEHDR *header);
    // The host's bytes at the front of the buffer (0: fill or replay only).
    uint32_t FillFromHost(uint8_t *data, uint32_t size);
    void StartClock(HWAVEOUT device);
    void AddPiece(uint32_t size, uint32_t hostBytes);
    // The device's position in bytes from its open; false when it cannot tell.
    bool DeviceBytes(int64_t *bytes);
    bool AllocateBuffers();
    void ReleaseBuffers();
    bool PrepareHeaders();
    void CloseFailedDevice();
    void DetachLink();
    void LetGoOfDevice();
    void StopFromCallback();
    bool StartHandOffThread();
    // Waits for a stop handed to its own thread; false, without waiting, from
    // inside a write callback (that stop may be waiting for this one).
    bool HandOffDone();
    static DWORD WINAPI HandOffMain(LPVOID param);
};

}  // namespace kestra
