// Audio sinks of the stand-in waveOut device: SDL2, null, WAV file, manual.
#include "winmm/winmm_internal.h"

#include <SDL.h>

#include <algorithm>
#include <cstdio>
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
    FILE *file = nullptr;
    std::string path;
    WAVEFORMATEX format{};
    uint64_t dataBytes = 0;
};

// The selection and its file, under their mutex. Never destroyed: engine
// threads may still write while the process exits.
struct Sinks {
    std::mutex mutex;
    Selection chosen;
    WavFile wav;
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

// Rewrites the 44-byte header with the sizes so far; the file stays valid
// whenever no device is writing.
void FixUpWavHeader(WavFile &w) {
    if (!w.file) return;
    uint8_t h[44];
    uint32_t data = static_cast<uint32_t>(std::min<uint64_t>(w.dataBytes, 0xFFFFFFFFu - 36));
    std::memcpy(h, "RIFF", 4);
    PutLE(h + 4, data + 36, 4);
    std::memcpy(h + 8, "WAVEfmt ", 8);
    PutLE(h + 16, 16, 4);
    PutLE(h + 20, w.format.wFormatTag, 2);
    PutLE(h + 22, w.format.nChannels, 2);
    PutLE(h + 24, w.format.nSamplesPerSec, 4);
    PutLE(h + 28, w.format.nAvgBytesPerSec, 4);
    PutLE(h + 32, w.format.nBlockAlign, 2);
    PutLE(h + 34, w.format.wBitsPerSample, 2);
    std::memcpy(h + 36, "data", 4);
    PutLE(h + 40, data, 4);
    long end = std::ftell(w.file);
    std::fseek(w.file, 0, SEEK_SET);
    std::fwrite(h, 1, sizeof(h), w.file);
    std::fseek(w.file, end, SEEK_SET);
    std::fflush(w.file);
}

void CloseWavFile() {
    WavFile &w = S().wav;
    if (!w.file) return;
    FixUpWavHeader(w);
    std::fclose(w.file);
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
    // the first one back before the host had queued the second.
    std::chrono::microseconds Write(const uint8_t *data, size_t size) override {
        std::lock_guard<std::mutex> guard(S().mutex);
        WavFile &w = S().wav;
        if (w.file && std::fwrite(data, 1, size, w.file) == size) w.dataBytes += size;
        return PlayTime(size, w.format.nAvgBytesPerSec);
    }
};

// Opens (or keeps) the selection's file; needs S().mutex.
bool OpenWavFile(const std::string &path, const WAVEFORMATEX &format) {
    WavFile &w = S().wav;
    if (w.file && w.path == path) return true;
    CloseWavFile();
    w.file = std::fopen(path.c_str(), "wb+");
    if (!w.file) return false;
    w.path = path;
    w.format = format;
    uint8_t zero[44] = {};
    std::fwrite(zero, 1, sizeof(zero), w.file);
    FixUpWavHeader(w);
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
            SDL_QueueAudio(device, data, static_cast<Uint32>(size));
        } else {
            scaled.assign(size, obtained.silence);
            int mix = static_cast<int>((level & 0xFFFF) * SDL_MIX_MAXVOLUME / 0xFFFF);
            SDL_MixAudioFormat(scaled.data(), data, obtained.format, static_cast<Uint32>(size),
                               mix);
            SDL_QueueAudio(device, scaled.data(), static_cast<Uint32>(size));
        }
        // Keep about one buffer queued ahead of the device.
        size_t queued = SDL_GetQueuedAudioSize(device);
        return queued > size ? PlayTime(queued - size, rate) : std::chrono::microseconds(0);
    }
    void SetVolume(DWORD level) override { volume.store(level, std::memory_order_relaxed); }

private:
    bool initialised = false;
    SDL_AudioDeviceID device = 0;
    SDL_AudioSpec obtained{};
    DWORD rate = 0;
    // relaxed: set by waveOutSetVolume, read per buffer; nothing else rides on it.
    std::atomic<DWORD> volume{0xFFFFFFFFu};
    std::vector<uint8_t> scaled;
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

bool SelectAudioSink(const char *sink) {
    Selection s;
    if (sink && !ParseSink(sink, &s)) return false;
    std::lock_guard<std::mutex> guard(S().mutex);
    CloseWavFile();
    s.chosen = sink != nullptr;
    S().chosen = s;
    return true;
}

}  // namespace kplat
