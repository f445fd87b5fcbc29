// Audio sinks of the stand-in waveOut device: SDL2, null, WAV file, manual.
#include "winmm/winmm_internal.h"

#include <SDL.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace kplat {

namespace {

enum class SinkKind { Sdl, Null, Wav, Manual };

struct Selection {
    bool chosen = false;  // false: follow $KPLAT_AUDIO_SINK
    SinkKind kind = SinkKind::Sdl;
    std::string path;
};

// One WAV file per selection, shared by every device opened while it holds.
struct WavFile {
    int fd = -1;
    std::string path;
    WAVEFORMATEX format{};
    uint64_t dataBytes = 0;
    // A pipe cannot go back to the header: it gets the largest sizes up front.
    bool seekable = false;
};

// The selection and its file, under their mutex. Never destroyed: engine
// threads may still write while the process exits.
struct Sinks {
    std::mutex mutex;
    Selection chosen;
    WavFile wav;
    // The first errno the selection's file met, 0 while every byte went out.
    // Atomic, not under the mutex: a stalled write holds that for seconds, and
    // a host asks while it plays. Relaxed: nothing else is read by its value.
    std::atomic<int> wavError{0};
};
Sinks &S() {
    static Sinks *sinks = new Sinks;
    return *sinks;
}

bool ParseSink(const char *text, Selection *out) {
    if (!text) return false;
    if (std::strcmp(text, "sdl") == 0) {
        out->kind = SinkKind::Sdl;
    } else if (std::strcmp(text, "null") == 0) {
        out->kind = SinkKind::Null;
    } else if (std::strcmp(text, "manual") == 0) {
        out->kind = SinkKind::Manual;
    } else if (std::strncmp(text, "wav:", 4) == 0 && text[4] != '\0') {
        out->kind = SinkKind::Wav;
        out->path = text + 4;
    } else {
        return false;
    }
    return true;
}

Selection CurrentSelection() {
    if (S().chosen.chosen) return S().chosen;
    Selection s;
    if (!ParseSink(std::getenv("KPLAT_AUDIO_SINK"), &s)) s.kind = SinkKind::Sdl;
    return s;
}

void PutLE(uint8_t *p, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

void NoteWavError(int error) {
    int none = 0;
    S().wavError.compare_exchange_strong(none, error, std::memory_order_relaxed);
}

// A reader of a pipe that takes nothing for this long is taken to be gone: a
// device must never wait on it for good, nor a close on the device.
constexpr int kStalledReaderMs = 5000;

// SIGPIPE and SIGXFSZ would end the host's process; blocked around a write,
// the write fails with EPIPE or EFBIG instead, and the signal it raised on
// this thread is taken back before the old mask returns.
class QuietWrites {
public:
    QuietWrites() {
        sigemptyset(&quiet);
        sigaddset(&quiet, SIGPIPE);
        sigaddset(&quiet, SIGXFSZ);
        pthread_sigmask(SIG_BLOCK, &quiet, &old);
    }
    ~QuietWrites() {
        sigset_t pending;
        sigpending(&pending);
        const timespec now = {0, 0};
        for (int signal : {SIGPIPE, SIGXFSZ})
            if (sigismember(&pending, signal) && !sigismember(&old, signal)) {
                sigset_t one;
                sigemptyset(&one);
                sigaddset(&one, signal);
                sigtimedwait(&one, nullptr, &now);
            }
        pthread_sigmask(SIG_SETMASK, &old, nullptr);
    }
    QuietWrites(const QuietWrites &) = delete;
    QuietWrites &operator=(const QuietWrites &) = delete;

private:
    sigset_t quiet, old;
};

// All of `size` bytes at the file's position, or the errno that stopped
// them, with *written saying how many went out before it.
int WriteAll(int fd, const uint8_t *data, size_t size, size_t *written) {
    QuietWrites quiet;
    *written = 0;
    while (size > 0) {
        const ssize_t wrote = write(fd, data, size);
        if (wrote > 0) {
            data += wrote;
            size -= size_t(wrote);
            *written += size_t(wrote);
            continue;
        }
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote < 0 && errno == EAGAIN) {
            pollfd ready = {fd, POLLOUT, 0};
            const int polled = poll(&ready, 1, kStalledReaderMs);
            if (polled == 0) return ETIMEDOUT;
            if (polled < 0 && errno != EINTR) return errno;
            continue;
        }
        return wrote < 0 ? errno : EIO;
    }
    return 0;
}

// The 44-byte header of a PCM file with `data` bytes of samples.
void MakeWavHeader(const WAVEFORMATEX &format, uint32_t riff, uint32_t data, uint8_t *h) {
    std::memcpy(h, "RIFF", 4);
    PutLE(h + 4, riff, 4);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    PutLE(h + 16, 16, 4);
    PutLE(h + 20, format.wFormatTag, 2);
    PutLE(h + 22, format.nChannels, 2);
    PutLE(h + 24, format.nSamplesPerSec, 4);
    PutLE(h + 28, format.nAvgBytesPerSec, 4);
    PutLE(h + 32, format.nBlockAlign, 2);
    PutLE(h + 34, format.wBitsPerSample, 2);
    std::memcpy(h + 36, "data", 4);
    PutLE(h + 40, data, 4);
}

// Rewrites the header of a seekable file with the sizes so far; the file
// stays valid whenever no device is writing.
void FixUpWavHeader(const WavFile &w) {
    if (w.fd < 0 || !w.seekable) return;
    uint8_t h[44];
    const uint32_t data = static_cast<uint32_t>(std::min<uint64_t>(w.dataBytes, 0xFFFFFFFFu - 36));
    MakeWavHeader(w.format, data + 36, data, h);
    QuietWrites quiet;
    if (pwrite(w.fd, h, sizeof h, 0) != ssize_t(sizeof h)) NoteWavError(errno ? errno : EIO);
}

void CloseWavFile() {
    WavFile &w = S().wav;
    if (w.fd < 0) return;
    FixUpWavHeader(w);
    if (close(w.fd) != 0) NoteWavError(errno);
    w = WavFile{};
}

std::chrono::microseconds PlayTime(size_t bytes, DWORD byteRate) {
    if (byteRate == 0) return std::chrono::microseconds(0);
    return std::chrono::microseconds(static_cast<int64_t>(bytes) * 1000000 / byteRate);
}

class NullSink : public AudioSink {
public:
    explicit NullSink(DWORD byteRate) : rate(byteRate) {}
    std::chrono::microseconds Write(const uint8_t *, size_t size) override {
        return PlayTime(size, rate);
    }
    bool Paced() const override { return true; }

private:
    DWORD rate;
};

class ManualSink : public AudioSink {
public:
    std::chrono::microseconds Write(const uint8_t *data, size_t size) override {
        RecordPlayed(data, size);
        return std::chrono::microseconds(0);
    }
    bool Manual() const override { return true; }
};

class WavSink : public AudioSink {
public:
    ~WavSink() override {
        std::lock_guard<std::mutex> guard(S().mutex);
        FixUpWavHeader(S().wav);
    }
    // Paced like a real device: one that finished buffers instantly would hand
    // the first one back before the host had queued the second. After a failed
    // write the file takes nothing more, so what it holds is whole up to there.
    std::chrono::microseconds Write(const uint8_t *data, size_t size) override {
        std::lock_guard<std::mutex> guard(S().mutex);
        WavFile &w = S().wav;
        if (w.fd >= 0 && S().wavError.load(std::memory_order_relaxed) == 0) {
            size_t written = 0;
            const int error = WriteAll(w.fd, data, size, &written);
            // The header counts the whole sample frames the file holds.
            w.dataBytes += written - (error != 0 ? written % w.format.nBlockAlign : 0);
            if (error != 0) NoteWavError(error);
        }
        return PlayTime(size, w.format.nAvgBytesPerSec);
    }
    bool Paced() const override { return true; }
};

// Opens (or keeps) the selection's file; needs S().mutex. Write-only: a
// reader of our own on a pipe would keep a writer blocked once the real
// reader has gone.
bool OpenWavFile(const std::string &path, const WAVEFORMATEX &format) {
    WavFile &w = S().wav;
    if (w.fd >= 0 && w.path == path) return true;
    CloseWavFile();
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    struct stat info = {};
    if (fstat(fd, &info) == 0 && (S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode)))
        fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);  // a stalled reader times out
    w.fd = fd;
    w.path = path;
    w.format = format;
    w.seekable = lseek(fd, 0, SEEK_CUR) >= 0;
    // A seekable file's sizes are fixed up as devices close; a stream states
    // the largest ones, as streamed WAV writers do, and readers read to its end.
    uint8_t h[44];
    if (w.seekable)
        MakeWavHeader(format, 36, 0, h);
    else
        MakeWavHeader(format, 0xFFFFFFFFu, 0xFFFFFFFFu, h);
    size_t written = 0;
    const int error = WriteAll(fd, h, sizeof h, &written);
    if (error != 0) NoteWavError(error);
    return true;
}

class SdlSink : public AudioSink {
public:
    ~SdlSink() override {
        if (device) SDL_CloseAudioDevice(device);
        if (initialised) SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
    bool Open(const WAVEFORMATEX &format) {
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
        initialised = true;
        SDL_AudioSpec want{}, have{};
        want.freq = static_cast<int>(format.nSamplesPerSec);
        want.format = format.wBitsPerSample == 8 ? AUDIO_U8 : AUDIO_S16LSB;
        want.channels = static_cast<Uint8>(format.nChannels);
        want.samples = 1024;
        device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
        if (!device) return false;
        obtained = have;
        rate = format.nAvgBytesPerSec;
        SDL_PauseAudioDevice(device, 0);
        return true;
    }
    std::chrono::microseconds Write(const uint8_t *data, size_t size) override {
        const DWORD level = volume.load(std::memory_order_relaxed);
        if (level == 0xFFFFFFFFu) {
            Queue(data, size);
        } else {
            scaled.assign(size, obtained.silence);
            int mix = static_cast<int>((level & 0xFFFF) * SDL_MIX_MAXVOLUME / 0xFFFF);
            SDL_MixAudioFormat(scaled.data(), data, obtained.format, static_cast<Uint32>(size),
                               mix);
            Queue(scaled.data(), size);
        }
        // Keep about one buffer queued ahead of the device.
        size_t queued = SDL_GetQueuedAudioSize(device);
        return queued > size ? PlayTime(queued - size, rate) : std::chrono::microseconds(0);
    }
    void SetVolume(DWORD level) override { volume.store(level, std::memory_order_relaxed); }
    uint64_t Played() override {
        std::lock_guard<std::mutex> guard(handing);
        return handed - SDL_GetQueuedAudioSize(device);
    }
    void SetPaused(bool paused) override { SDL_PauseAudioDevice(device, paused ? 1 : 0); }
    void Flush() override {
        std::lock_guard<std::mutex> guard(handing);
        SDL_ClearQueuedAudio(device);
    }

private:
    bool initialised = false;
    SDL_AudioDeviceID device = 0;
    SDL_AudioSpec obtained{};
    DWORD rate = 0;
    // relaxed: set by waveOutSetVolume, read per buffer; nothing else rides on it.
    std::atomic<DWORD> volume{0xFFFFFFFFu};
    std::vector<uint8_t> scaled;
    // Guards handed, so a bytes count never sees a buffer queued but not yet
    // counted; held only around SDL's own short queue calls.
    std::mutex handing;
    uint64_t handed = 0;

    void Queue(const uint8_t *data, size_t size) {
        std::lock_guard<std::mutex> guard(handing);
        if (SDL_QueueAudio(device, data, static_cast<Uint32>(size)) == 0) handed += size;
    }
};

}  // namespace

std::unique_ptr<AudioSink> OpenAudioSink(const WAVEFORMATEX &format) {
    Selection s;
    {
        std::lock_guard<std::mutex> guard(S().mutex);
        s = CurrentSelection();
        if (s.kind == SinkKind::Wav && OpenWavFile(s.path, format))
            return std::unique_ptr<AudioSink>(new WavSink);
    }
    if (s.kind == SinkKind::Manual) return std::unique_ptr<AudioSink>(new ManualSink);
    if (s.kind == SinkKind::Sdl) {
        std::unique_ptr<SdlSink> sdl(new SdlSink);
        if (sdl->Open(format)) return std::unique_ptr<AudioSink>(sdl.release());
    }
    return std::unique_ptr<AudioSink>(new NullSink(format.nAvgBytesPerSec));
}

int AudioSinkError() { return S().wavError.load(std::memory_order_relaxed); }

bool SelectAudioSink(const char *sink) {
    Selection s;
    if (sink && !ParseSink(sink, &s)) return false;
    std::lock_guard<std::mutex> guard(S().mutex);
    CloseWavFile();
    S().wavError.store(0, std::memory_order_relaxed);
    s.chosen = sink != nullptr;
    S().chosen = s;
    return true;
}

}  // namespace kplat
