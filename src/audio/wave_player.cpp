// WavePlayer: two buffers in flight on the default wave-out device, each
// refilled from the host's callback on the device's thread as it comes back.
#include "audio/wave_player.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>

namespace kestra {

namespace {

// How long a stop waits for the device's close report: a device that never
// sends it (a driver gone with the hardware) must not hang the host.
constexpr DWORD kCloseWaitMs = 2000;
constexpr uint32_t kMaxVolume = 100;

// The write callbacks running now, one frame each on the stack of the refill
// that runs it: a call looks here to know whether its thread is inside a
// write callback, and whose. A thread runs at most a few nested ones.
class RunningCallbacks {
public:
    struct Frame {
        DWORD thread;
        const WavePlayer *player;
        Frame *next;
    };

    void Push(Frame *frame) {
        AutoLock hold(lock);
        frame->next = top;
        top = frame;
    }
    void Pop(Frame *frame) {
        AutoLock hold(lock);
        for (Frame **at = &top; *at; at = &(*at)->next)
            if (*at == frame) {
                *at = frame->next;
                return;
            }
    }
    // Whether this thread is inside `player`'s callback, or any when null.
    bool Inside(const WavePlayer *player) {
        const DWORD thread = GetCurrentThreadId();
        AutoLock hold(lock);
        for (const Frame *frame = top; frame; frame = frame->next)
            if (frame->thread == thread && (!player || frame->player == player)) return true;
        return false;
    }

private:
    CritSection lock;
    Frame *top = nullptr;
};

RunningCallbacks running;

}  // namespace

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
    AutoLock hold(callbackLock);
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
    if (!HandOffDone()) return;
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
    closed.Reset();
    if (waveOutOpen(&waveOut, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(&WaveOutProc),
                    reinterpret_cast<DWORD_PTR>(newLink), CALLBACK_FUNCTION) != MMSYSERR_NOERROR) {
        LetGo(newLink);
        closed.Set();
        waveOut = nullptr;
        ReleaseBuffers();
        return;
    }
    // The device's share, let go at its close report, which comes only once
    // this player closes the device.
    newLink->Hold();
    link = newLink;
    if (!PrepareHeaders()) {
        CloseFailedDevice();
        ReleaseBuffers();
        return;
    }
    paused.store(0, std::memory_order_relaxed);
    StartClock(waveOut);
    // Playing before the first write, so both first buffers get refilled.
    state.store(WavePlaying);
    waveOutWrite(waveOut, &waveHeaders[0], sizeof(WAVEHDR));
    waveOutWrite(waveOut, &waveHeaders[1], sizeof(WAVEHDR));
}

void WavePlayer::Stop() {
    if (running.Inside(this)) return;
    if (running.Inside(nullptr)) {
        StopFromCallback();
        return;
    }
    HandOffDone();  // waits: this is no callback
    if (state.load() != WavePlaying) return;
    LetGoOfDevice();
}

void WavePlayer::LetGoOfDevice() {
    // A refill checks the state before it starts; one under way holds the
    // link's lock, so taking it once waits for that refill to finish.
    state.store(WaveStopping);
    {
        AutoLock hold(clockLock);
        clockDevice = nullptr;
    }
    if (link) {
        link->lock.Enter();
        link->lock.Leave();
    }
    waveOutReset(waveOut);
    waveOutClose(waveOut);
    closed.Wait(kCloseWaitMs);
    DetachLink();
    ReleaseBuffers();
    waveOut = nullptr;
}

// Letting go of a device waits for the callback it is running, which may itself
// be waiting for this one (two players stopping each other), so from a callback
// that part moves to a thread of its own. No refill starts once this returns.
void WavePlayer::StopFromCallback() {
    if (state.load() != WavePlaying) return;
    state.store(WaveStopping);
    letGoDone.Reset();
    if (StartHandOffThread()) return;
    letGoDone.Set();
    LetGoOfDevice();  // no thread to be had: wait here, as before
}

bool WavePlayer::StartHandOffThread() {
    // The thread holds the library loaded, however soon the host unloads it,
    // and the player, however soon the host closes it.
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCSTR>(&HandOffMain), &handOffModule))
        return false;
    Hold();
    HANDLE thread = CreateThread(nullptr, 0, &HandOffMain, this, 0, nullptr);
    if (!thread) {
        LetGo(this);  // the host's reference is still held: this never deletes
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
    player->letGoDone.Set();
    LetGo(player);
    FreeLibraryAndExitThread(module, 0);
}

bool WavePlayer::HandOffDone() {
    if (letGoDone.IsSet()) return true;
    if (running.Inside(nullptr)) return false;
    return letGoDone.Wait(INFINITE);
}

// After this no device callback is inside the player, and none will enter.
void WavePlayer::DetachLink() {
    if (!link) return;
    {
        AutoLock hold(link->lock);
        link->player = nullptr;
    }
    LetGo(link);
    link = nullptr;
}

void WavePlayer::Close() {
    if (running.Inside(this)) return;
    Stop();
    // A stop still letting go on a thread of its own holds the player until it is done.
    LetGo(this);
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

// The two lead-in buffers are fill: device time, none of the host's.
void WavePlayer::StartClock(HWAVEOUT device) {
    AutoLock hold(clockLock);
    piecesWritten = deviceWritten = hostWritten = 0;
    positionUnit = 0;
    lastRaw = 0;
    positionUnits = lastFrames = 0;
    const uint32_t align = waveFormat.nBlockAlign != 0
                               ? waveFormat.nBlockAlign
                               : uint32_t(waveFormat.nChannels) * waveFormat.wBitsPerSample / 8;
    frameBytes = align != 0 ? align : 1;
    clockDevice = device;
    // A device counts from its open, but not always from 0.
    int64_t atOpen = 0;
    DeviceBytes(&atOpen);
    positionUnits = 0;
    AddPiece(playSize, 0);
    AddPiece(playSize, 0);
}

// Under clockLock.
void WavePlayer::AddPiece(uint32_t size, uint32_t hostBytes) {
    pieces[piecesWritten % kPieces] = Piece{deviceWritten, hostWritten, size, hostBytes};
    ++piecesWritten;
    deviceWritten += size;
    hostWritten += hostBytes;
}

// Under clockLock. The count wraps at 32 bits (about 6.8 hours of 44.1 kHz
// 16-bit stereo in bytes); each answer adds what it moved on since the last.
// A device that cannot answer in bytes may answer in samples or
// milliseconds, and says which in wType.
bool WavePlayer::DeviceBytes(int64_t *bytes) {
    MMTIME time;
    std::memset(&time, 0, sizeof time);
    time.wType = TIME_BYTES;
    if (waveOutGetPosition(clockDevice, &time, sizeof time) != MMSYSERR_NOERROR) return false;
    DWORD raw;
    switch (time.wType) {
        case TIME_BYTES:
            raw = time.u.cb;
            break;
        case TIME_SAMPLES:
            raw = time.u.sample;
            break;
        case TIME_MS:
            raw = time.u.ms;
            break;
        default:
            return false;
    }
    if (time.wType != positionUnit) {
        positionUnit = time.wType;
        positionUnits = raw;
    } else {
        positionUnits += DWORD(raw - lastRaw);
    }
    lastRaw = raw;
    switch (positionUnit) {
        case TIME_SAMPLES:
            *bytes = positionUnits * frameBytes;
            break;
        case TIME_MS:
            *bytes = positionUnits * int64_t(waveFormat.nAvgBytesPerSec) / 1000;
            break;
        default:
            *bytes = positionUnits;
    }
    return true;
}

bool WavePlayer::Position(int64_t *hostFrames, int64_t *qpcTime) {
    if (!hostFrames || !qpcTime || state.load() != WavePlaying) return false;
    AutoLock hold(clockLock);
    int64_t played = 0;
    if (!clockDevice || !DeviceBytes(&played)) return false;
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    // The newest piece that began at or before the position: the host's bytes
    // before it, and as much of its own as has played. A position older than
    // every piece kept counts from the oldest.
    const int64_t oldest = piecesWritten > kPieces ? piecesWritten - kPieces : 0;
    int64_t heard = 0;
    for (int64_t n = piecesWritten - 1; n >= oldest; --n) {
        const Piece &piece = pieces[n % kPieces];
        heard = piece.hostStart;
        if (played < piece.deviceStart) continue;
        heard += std::min<int64_t>(played - piece.deviceStart, piece.hostBytes);
        break;
    }
    lastFrames = std::max(lastFrames, heard / frameBytes);
    *hostFrames = lastFrames;
    *qpcTime = now.QuadPart;
    return true;
}

void CALLBACK WavePlayer::WaveOutProc(HWAVEOUT device, UINT message, DWORD_PTR instance,
                                      DWORD_PTR param1, DWORD_PTR) {
    WaveLink *link = reinterpret_cast<WaveLink *>(instance);
    if (!link) return;
    {
        AutoLock hold(link->lock);
        if (link->player) link->player->OnMessage(device, message, param1);
    }
    if (message == WOM_CLOSE) LetGo(link);  // the device's share
}

void WavePlayer::OnMessage(HWAVEOUT device, UINT message, DWORD_PTR param) {
    if (message == WOM_DONE) {
        WAVEHDR *header = reinterpret_cast<WAVEHDR *>(param);
        if (header != &waveHeaders[0] && header != &waveHeaders[1]) return;
        if (state.load() == WavePlaying) RefillBuffer(device, header);
    } else if (message == WOM_CLOSE) {
        waveOutUnprepareHeader(device, &waveHeaders[0], sizeof(WAVEHDR));
        waveOutUnprepareHeader(device, &waveHeaders[1], sizeof(WAVEHDR));
        state.store(WaveClosed);
        closed.Set();
    }
}

void WavePlayer::RefillBuffer(HWAVEOUT device, WAVEHDR *header) {
    uint8_t *data = reinterpret_cast<uint8_t *>(header->lpData);
    uint32_t hostBytes = 0;
    if (paused.load(std::memory_order_relaxed) != 0)
        std::memset(data, kWaveFillByte, playSize);
    else
        hostBytes = FillFromHost(data, playSize);
    {
        // The clock counts whole frames of what each refill brought.
        AutoLock hold(clockLock);
        AddPiece(playSize, hostBytes - hostBytes % frameBytes);
    }
    waveOutWrite(device, header, sizeof(WAVEHDR));
}

uint32_t WavePlayer::FillFromHost(uint8_t *data, uint32_t size) {
    KestraWriteWaveCallback callback;
    void *user;
    {
        AutoLock hold(callbackLock);
        callback = writeCallback;
        user = callbackUser;
    }
    int64_t count = 0;
    if (callback) {
        RunningCallbacks::Frame frame{GetCurrentThreadId(), this, nullptr};
        running.Push(&frame);
        count = callback(data, size, user);
        running.Pop(&frame);
    }
    if (count < 0) count = 0;
    if (count >= static_cast<int64_t>(size)) {
        shortFillCount = 0;
        return size;
    }
    const int32_t before = shortFillCount;
    if (shortFillCount < INT32_MAX) ++shortFillCount;
    // The first four short refills in a row replay the old tail; then fill.
    if (before > 3) std::memset(data + count, kWaveFillByte, size - static_cast<uint32_t>(count));
    return static_cast<uint32_t>(count);
}

}  // namespace kestra
