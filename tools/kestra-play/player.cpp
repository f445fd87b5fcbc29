#include "player.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <io.h>
#define KPLAY_ISATTY(f) _isatty(_fileno(f))
#else
#include <unistd.h>
#define KPLAY_ISATTY(f) isatty(fileno(f))
#endif

namespace kplay {

namespace {

double Now() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// One byte written and flushed: a full or read-only target fails here, not
// after a whole clip (on the stand-in the device writes the sound file and
// cannot report it). The writer truncates the byte away; a pipe, which cannot
// seek, would hand it to its reader, so a pipe is only opened.
bool CanWrite(const std::string &path, std::string *error) {
    std::FILE *file = std::fopen(path.c_str(), "wb");
    const bool probe = file && std::fseek(file, 0, SEEK_SET) == 0;
    bool ok = file && (!probe || (std::fputc(0, file) != EOF && std::fflush(file) == 0));
    int reason = errno;
    if (file && std::fclose(file) != 0 && ok) {
        ok = false;
        reason = errno;
    }
    if (!ok) *error = "cannot write " + path + ": " + std::strerror(reason);
    return ok;
}

constexpr uint32_t kCounterColour = 0x00FFFFFF;  // white, 0x00BBGGRR
constexpr uint32_t kOsdColour = 0x0000FFFF;      // yellow

}  // namespace

Player::~Player() { Close(); }

int Player::Run(std::string *error) {
    if (!OpenVideo(error) || !OpenAudioSource(error) || !CheckOutputs(error) ||
        !OpenDisplay(error) || !StartAudio(error))
        return 1;
    bool ok = PlayFrames(error);
    // Bad input mid-clip leaves one clear error line, not a status line too.
    if (ok)
        PrintStatus(true);
    else if (statusLineOpen_)
        std::fputc('\n', stderr);
    // Stopping first closes the device, which completes the WAV file.
    stopping_.store(true, std::memory_order_relaxed);
    if (wave_) KESTRA_WVStopWave(wave_);
    // Stop returns once no refill is running and none will start.
    if (recorder_ && !recorder_->Close() && ok) {
        *error = recorder_->error();
        ok = false;
    }
    if (ok && !options_.snapshotPath.empty()) ok = window_.Snapshot(options_.snapshotPath, error);
    Close();
    return ok ? 0 : 1;
}

bool Player::OpenVideo(std::string *error) {
    builtIn_ = options_.clipPath.empty();
    if (builtIn_) {
        width_ = kClipWidth;
        height_ = kClipHeight;
        fpsNum_ = kClipFpsNum;
        fpsDen_ = kClipFpsDen;
        clipFrames_ = kClipFrames;
    } else {
        if (!y4m_.Open(options_.clipPath)) {
            *error = y4m_.error();
            return false;
        }
        width_ = y4m_.header().width;
        height_ = y4m_.header().height;
        fpsNum_ = y4m_.header().fpsNum;
        fpsDen_ = y4m_.header().fpsDen;
        clipFrames_ = y4m_.EstimatedFrames();
    }
    if (options_.fpsNum > 0) {
        fpsNum_ = options_.fpsNum;
        fpsDen_ = options_.fpsDen;
    }
    totalFrames_ = options_.frames > 0 ? options_.frames : options_.loop ? 0 : clipFrames_;
    if (!CropFitsFrame(error)) return false;
    // A header may announce a frame its file cannot hold: read one before
    // anything is sized to it (a clip without frames is an error here).
    bool end = false;
    return NextFrame(error, &end);
}

// Left and top are checked with the command line; the other edges need the
// frame size. Right and bottom are exclusive, so the whole frame is a crop.
bool Player::CropFitsFrame(std::string *error) const {
    if (!options_.crop) return true;
    const bool wide = options_.cropRight > width_;
    if (!wide && options_.cropBottom <= height_) return true;
    *error = std::string("--crop ") + (wide ? "right" : "bottom") + " edge " +
             std::to_string(wide ? options_.cropRight : options_.cropBottom) +
             " lies outside the " + std::to_string(width_) + "x" + std::to_string(height_) +
             " frame";
    return false;
}

bool Player::OpenAudioSource(std::string *error) {
    if (options_.noAudio) return true;
    int channels = ToneGenerator::kChannels, rate = ToneGenerator::kSampleRate, bits = 16;
    if (!options_.wavPath.empty()) {
        wav_.reset(new WavReader);
        if (!wav_->Open(options_.wavPath)) {
            *error = wav_->error();
            return false;
        }
        channels = wav_->format().channels;
        rate = wav_->format().sampleRate;
        bits = wav_->format().bitsPerSample;
    } else if (builtIn_) {
        tone_.reset(new ToneGenerator(440.0));
    } else {
        return true;
    }
    waveFormat_.wFormatTag = WAVE_FORMAT_PCM;
    waveFormat_.nChannels = static_cast<WORD>(channels);
    waveFormat_.nSamplesPerSec = static_cast<DWORD>(rate);
    waveFormat_.wBitsPerSample = static_cast<WORD>(bits);
    waveFormat_.nBlockAlign = static_cast<WORD>(channels * bits / 8);
    waveFormat_.nAvgBytesPerSec = waveFormat_.nSamplesPerSec * waveFormat_.nBlockAlign;
    waveFormat_.cbSize = 0;
    return true;
}

bool Player::CheckOutputs(std::string *error) {
    // Refuse before playing rather than after a whole clip.
    if (!options_.snapshotPath.empty() && !CanWrite(options_.snapshotPath, error)) return false;
    if (!options_.audioOutPath.empty() && !CanWrite(options_.audioOutPath, error)) return false;
    return true;
}

bool Player::OpenDisplay(std::string *error) {
    if (!ChooseAdapter(options_.adapter, error)) return false;
    const int w = options_.windowWidth > 0 ? options_.windowWidth : width_;
    const int h = options_.windowHeight > 0 ? options_.windowHeight : height_;
    std::string note;
    if (!window_.Create("kestra-play", w, h, options_.headless, &note)) {
        *error = "cannot create a " + std::to_string(w) + "x" + std::to_string(h) + " window";
        return false;
    }
    if (!note.empty()) std::fprintf(stderr, "kestra-play: %s\n", note.c_str());
    if (KESTRA_DWOpenDraw(&display_) != 0) {
        *error = "out of memory opening the display";
        return false;
    }
    KESTRA_DWSetHwnd(display_, window_.handle());
    KESTRA_DWInitDraw(display_, width_, height_);
    KESTRA_DWSetMirrorMode(display_, options_.mirror ? 1 : 0);
    if (options_.crop) {
        RECT rect = {options_.cropLeft, options_.cropTop, options_.cropRight, options_.cropBottom};
        KESTRA_DWSetPlayRect(display_, &rect);
    }
    if (!options_.osdText.empty())
        KESTRA_DWSetOSDText(display_, 1, options_.osdText.c_str(), 16, 40, 1, kOsdColour);
    return SetColourSpace(error);
}

// Y4M names the range but never the matrix, so "auto" guesses that from the
// frame size. The built-in clip is studio-range BT.601.
bool Player::SetColourSpace(std::string *error) {
    const bool fileFull = !builtIn_ && y4m_.header().fullRange;
    matrix_ = options_.matrix >= 0 ? options_.matrix : AutoMatrix(width_, height_);
    range_ = options_.range >= 0 ? options_.range : fileFull ? 1 : 0;
    const int32_t result = KESTRA_DWSetColorSpace(display_, matrix_, range_);
    if (result == 0) return true;
    *error = std::string("the display refused ") + kMatrixNames[matrix_] + " " +
             kRangeNames[range_] + " (result " + std::to_string(result) + ")";
    return false;
}

bool Player::StartAudio(std::string *error) {
    if (!wav_ && !tone_) return true;
    bool playerWrites = false;
    if (!options_.audioOutPath.empty() &&
        !ChooseAudioFile(options_.audioOutPath, &playerWrites, error))
        return false;
    if (playerWrites) {
        recorder_.reset(new WavWriter);
        if (!recorder_->Open(options_.audioOutPath, waveFormat_.nChannels,
                             static_cast<int>(waveFormat_.nSamplesPerSec),
                             waveFormat_.wBitsPerSample, error))
            return false;
    }
    if (KESTRA_WVOpenWave(&wave_) != 0) {
        *error = "out of memory opening the audio player";
        return false;
    }
    // About 50 ms per buffer: two in flight keep the latency low.
    uint32_t size = waveFormat_.nAvgBytesPerSec / 20;
    size -= size % waveFormat_.nBlockAlign;
    KESTRA_WVSetWaveFormat(wave_, &waveFormat_, size);
    KESTRA_WVSetWriteWaveCB(wave_, this, FillAudio);
    audioStart_ = Now();
    KESTRA_WVPlayWave(wave_);
    if (options_.volume >= 0) KESTRA_WVSetVolume(wave_, static_cast<uint32_t>(options_.volume));
    return true;
}

// A device that takes samples faster than they play (a file sink does) is
// held to the clock, so a recording lasts as long as the playback. A real
// device asks no faster than it plays and never waits here.
void Player::PaceAudio() {
    constexpr double kLead = 0.25;  // seconds of sound allowed ahead of the clock
    while (!stopping_.load(std::memory_order_relaxed)) {
        double ahead = double(audioBytes_) / waveFormat_.nAvgBytesPerSec - (Now() - audioStart_);
        if (ahead <= kLead) return;
        Sleep(static_cast<DWORD>(std::min(ahead - kLead, 0.02) * 1000.0) + 1);
    }
}

int32_t KESTRA_CALLBACK Player::FillAudio(uint8_t *buffer, uint32_t size, void *user) {
    Player *self = static_cast<Player *>(user);
    self->PaceAudio();
    size_t got = 0;
    if (self->tone_) {
        got = self->tone_->Fill(buffer, size);
    } else {
        got = self->wav_->Read(buffer, size);
        if (got == 0 && self->options_.loop && self->wav_->Rewind())
            got = self->wav_->Read(buffer, size);
    }
    self->audioBytes_ += got;
    if (self->recorder_) self->recorder_->Append(buffer, got);
    return static_cast<int32_t>(got);
}

bool Player::NextFrame(std::string *error, bool *end) {
    *end = false;
    if (builtIn_) {
        if (clipIndex_ >= kClipFrames) {
            if (!options_.loop) return *end = true;
            clipIndex_ = 0;
        }
        RenderClipFrame(static_cast<int>(clipIndex_), &frame_);
        return true;
    }
    Y4mReader::Result r = y4m_.ReadFrame(&frame_);
    // A loop over a clip without frames would never end.
    if (r == Y4mReader::Result::End && options_.loop && clipIndex_ > 0) {
        clipIndex_ = 0;
        r = y4m_.Rewind() ? y4m_.ReadFrame(&frame_) : Y4mReader::Result::Error;
    }
    if (r == Y4mReader::Result::Error) {
        *error = y4m_.error();
        return false;
    }
    if (r == Y4mReader::Result::End && shown_ == 0) {
        *error = options_.clipPath + ": the clip has no frames";
        return false;
    }
    *end = r == Y4mReader::Result::End;
    return true;
}

// Sleeps in short steps so the window stays responsive; false if the user
// closed it meanwhile.
bool Player::WaitUntil(double due) {
    while (true) {
        if (!window_.Pump()) return false;
        double left = due - Now();
        if (left <= 0) return true;
        Sleep(static_cast<DWORD>(left > 0.01 ? 10 : left * 1000.0 + 1.0));
    }
}

void Player::ShowFrameNumber() {
    if (!builtIn_) return;
    char text[64];
    std::snprintf(text, sizeof text, "frame %" PRId64 " / %d", clipIndex_ + 1, kClipFrames);
    KESTRA_DWSetOSDText(display_, 0, text, 16, 16, 0, kCounterColour);
}

bool Player::PlayFrames(std::string *error) {
    const double period = double(fpsDen_) / fpsNum_;
    startTime_ = Now();
    lastStatus_ = startTime_;
    while (options_.frames <= 0 || shown_ < options_.frames) {
        // The first frame was read when the clip was opened.
        bool end = false;
        if (shown_ > 0 && !NextFrame(error, &end)) return false;
        if (end) break;
        const double due = startTime_ + shown_ * period;
        if (!WaitUntil(due)) break;
        // Frames are never dropped: one shown well after its time counts as late.
        if (Now() - due > period / 2) ++late_;
        if (window_.TakeResized()) KESTRA_DWAdjustedWnd(display_);
        ShowFrameNumber();
        int32_t result = KESTRA_DWDrawYUV420(display_, frame_.Y(), frame_.YStride(), frame_.U(),
                                             frame_.V(), frame_.UvStride(), 0, 0, 0);
        if (result != 0 && result != -3) {
            *error = "the display refused frame " + std::to_string(shown_ + 1) + " (result " +
                     std::to_string(result) + ")";
            return false;
        }
        ++shown_;
        ++clipIndex_;
        PrintStatus(false);
    }
    return true;
}

void Player::PrintStatus(bool final) {
    static const bool tty = KPLAY_ISATTY(stderr) != 0;
    const double now = Now();
    if (!final && now - lastStatus_ < (tty ? 0.25 : 1.0)) return;
    lastStatus_ = now;
    const double elapsed = now - startTime_;
    const std::string total = totalFrames_ > 0 ? std::to_string(totalFrames_) : "?";
    // No render mode: the library does not tell its host which one it chose.
    std::fprintf(stderr, "%sframe %" PRId64 " of %s | %.1f fps | late %" PRId64 " | %s %s%s",
                 tty ? "\r" : "", shown_, total.c_str(),
                 // The first frame is shown at once: rate over the gaps after it.
                 shown_ > 1 && elapsed > 0 ? (shown_ - 1) / elapsed : 0.0, late_,
                 kMatrixNames[matrix_], kRangeNames[range_], tty && !final ? "   " : "\n");
    std::fflush(stderr);
    statusLineOpen_ = tty && !final;
}

void Player::Close() {
    if (wave_) KESTRA_WVCloseWave(wave_);
    wave_ = nullptr;
    if (display_) KESTRA_DWCloseDraw(display_);
    display_ = nullptr;
    window_.Destroy();
}

}  // namespace kplay
