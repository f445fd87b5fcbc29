#include "player.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "sound_clock.h"

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
// seek, would hand it to its reader, so a pipe is only opened. A named pipe is
// not even opened: its reader would take the close as the end and leave the
// real writer waiting for another reader for good.
bool CanWrite(const std::string &path, std::string *error) {
    struct stat info = {};
    if (stat(path.c_str(), &info) == 0 && S_ISFIFO(info.st_mode)) return true;
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

// Y4M by its name or its signature; everything else, when this build has
// FFmpeg's libraries, by FFmpeg.
bool IsY4m(const std::string &path) {
    const std::string ext = path.size() >= 4 ? path.substr(path.size() - 4) : "";
    if (ext == ".y4m" || ext == ".Y4M") return true;
    char head[9] = {};
    std::FILE *file = std::fopen(path.c_str(), "rb");
    const bool tagged = file && std::fread(head, 1, sizeof head, file) == sizeof head &&
                        std::memcmp(head, "YUV4MPEG2", sizeof head) == 0;
    if (file) std::fclose(file);
    return tagged;
}

// A device that stops asking for sound this long is not followed any more.
constexpr double kStall = 0.5;

class ClockGuard {
public:
    explicit ClockGuard(CRITICAL_SECTION *lock) : lock_(lock) { EnterCriticalSection(lock_); }
    ~ClockGuard() { LeaveCriticalSection(lock_); }
    ClockGuard(const ClockGuard &) = delete;
    ClockGuard &operator=(const ClockGuard &) = delete;

private:
    CRITICAL_SECTION *lock_;
};

}  // namespace

Player::Player(const Options &options) : options_(options) {
    InitializeCriticalSection(&clockLock_);
}

Player::~Player() {
    Close();
    DeleteCriticalSection(&clockLock_);
}

int Player::Run(std::string *error) {
    if (!OpenVideo(error) || !OpenAudioSource(error) || !CheckOutputs(error) ||
        !OpenDisplay(error) || !StartAudio(error))
        return 1;
    // Only once nothing can fail before playing: a refused file ends with one line.
    if (media_ && !options_.noAudio && !media_->info().soundNote.empty())
        std::fprintf(stderr, "kestra-play: %s: %s\n", options_.clipPath.c_str(),
                     media_->info().soundNote.c_str());
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
    if (ok && SoundLost(error)) ok = false;
    if (ok && !options_.snapshotPath.empty()) ok = window_.Snapshot(options_.snapshotPath, error);
    Close();
    return ok ? 0 : 1;
}

bool Player::OpenVideo(std::string *error) {
    const bool media =
        !options_.clipPath.empty() && MediaReader::Available() && !IsY4m(options_.clipPath);
    if (media && !OpenMedia(error)) return false;
    if (!media && !options_.clipPath.empty() && !OpenY4m(error)) return false;
    if (source_ == Source::BuiltIn) {
        width_ = kClipWidth;
        height_ = kClipHeight;
        fpsNum_ = kClipFpsNum;
        fpsDen_ = kClipFpsDen;
        totalFrames_ = soundOnly_ ? 0 : kClipFrames;
    }
    if (windowWidth_ == 0) {
        windowWidth_ = width_;
        windowHeight_ = height_;
    }
    if (options_.fpsNum > 0) {
        fpsNum_ = options_.fpsNum;
        fpsDen_ = options_.fpsDen;
    }
    if (options_.frames > 0) totalFrames_ = options_.frames;
    if (options_.loop && options_.frames <= 0) totalFrames_ = 0;
    if (!CropFitsFrame(error)) return false;
    // A header may announce a frame its file cannot hold: read one before
    // anything is sized to it (a clip without frames is an error here).
    bool end = false;
    return ReadPicture(&current_, error, &end);
}

bool Player::OpenY4m(std::string *error) {
    source_ = Source::Y4m;
    if (!y4m_.Open(options_.clipPath)) {
        *error = y4m_.error();
        return false;
    }
    width_ = y4m_.header().width;
    height_ = y4m_.header().height;
    fpsNum_ = y4m_.header().fpsNum;
    fpsDen_ = y4m_.header().fpsDen;
    totalFrames_ = y4m_.EstimatedFrames();
    return true;
}

// The picture stream, or the built-in clip over a file that has only sound.
bool Player::OpenMedia(std::string *error) {
    media_.reset(new MediaReader);
    if (!media_->Open(options_.clipPath, !options_.noAudio && options_.wavPath.empty())) {
        *error = media_->error();
        return false;
    }
    const MediaInfo &info = media_->info();
    soundOnly_ = !info.hasPicture;
    if (soundOnly_) {
        source_ = Source::BuiltIn;
        return true;
    }
    source_ = Source::Media;
    width_ = info.width;
    height_ = info.height;
    windowWidth_ = info.displayWidth;
    windowHeight_ = info.displayHeight;
    totalFrames_ = info.estimatedFrames;
    return true;
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
    } else if (media_ && media_->info().hasSound) {
        mediaSound_ = true;
        channels = media_->info().channels;
        rate = media_->info().sampleRate;
    } else if (source_ == Source::BuiltIn && !media_) {
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
    const int w = options_.windowWidth > 0 ? options_.windowWidth : windowWidth_;
    const int h = options_.windowHeight > 0 ? options_.windowHeight : windowHeight_;
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
    if (options_.scaling >= 0) KESTRA_DWSetScaling(display_, options_.scaling);
    if (options_.crop) {
        RECT rect = {options_.cropLeft, options_.cropTop, options_.cropRight, options_.cropBottom};
        KESTRA_DWSetPlayRect(display_, &rect);
    }
    if (!options_.osdText.empty())
        KESTRA_DWSetOSDText(display_, 1, options_.osdText.c_str(), 16, 40, 1, kOsdColour);
    return SetColourSpace(error);
}

// The user's choice, else the stream's, else auto: BT.709 by frame size and
// studio range. Y4M names the range (XCOLORRANGE, studio without it) but never
// the matrix; the built-in clip is studio-range BT.601.
bool Player::SetColourSpace(std::string *error) {
    int matrix = -1, range = -1;
    std::string streamNote;
    if (source_ == Source::BuiltIn) {
        matrix = range = 0;
    } else if (source_ == Source::Y4m) {
        range = y4m_.header().fullRange ? 1 : 0;
    } else {
        matrix = media_->info().matrix;
        range = media_->info().range;
        streamNote = media_->info().colourNote;
    }
    const bool autoMatrix = options_.matrix < 0 && matrix < 0;
    const bool autoRange = options_.range < 0 && range < 0;
    matrix_ = options_.matrix >= 0 ? options_.matrix
              : matrix >= 0        ? matrix
                                   : AutoMatrix(width_, height_);
    range_ = options_.range >= 0 ? options_.range : range >= 0 ? range : 0;
    colourNote_ = options_.matrix < 0 ? streamNote : "";
    const char *guessed = autoMatrix && autoRange ? "auto"
                          : autoMatrix            ? "matrix auto"
                          : autoRange             ? "range auto"
                                                  : "";
    if (*guessed) colourNote_ += (colourNote_.empty() ? "" : ", ") + std::string(guessed);
    const int32_t result = KESTRA_DWSetColorSpace(display_, matrix_, range_);
    if (result == 0) return true;
    *error = std::string("the display refused ") + kMatrixNames[matrix_] + " " +
             kRangeNames[range_] + " (result " + std::to_string(result) + ")";
    return false;
}

bool Player::StartAudio(std::string *error) {
    if (!wav_ && !tone_ && !mediaSound_) return true;
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
    bufferSize_ = waveFormat_.nAvgBytesPerSec / 20;
    bufferSize_ -= bufferSize_ % waveFormat_.nBlockAlign;
    KESTRA_WVSetWaveFormat(wave_, &waveFormat_, bufferSize_);
    KESTRA_WVSetWriteWaveCB(wave_, this, FillAudio);
    PlayWave();
    if (options_.volume >= 0) KESTRA_WVSetVolume(wave_, static_cast<uint32_t>(options_.volume));
    return true;
}

// Starts the sound, and with it the clock, from its first byte.
void Player::PlayWave() {
    {
        ClockGuard guard(&clockLock_);
        asked_ = handed_ = 0;
        dry_ = false;
        soundEnd_ = 0;
        lastClock_ = -HUGE_VAL;  // the clock starts below 0: see Clock
        audioStart_ = lastFill_ = Now();
    }
    audioBytes_ = 0;
    stopping_.store(false, std::memory_order_relaxed);
    KESTRA_WVPlayWave(wave_);
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

size_t Player::ReadSound(uint8_t *buffer, uint32_t size) {
    if (tone_) return tone_->Fill(buffer, size);
    if (mediaSound_) return media_->TakeSound(buffer, size);
    size_t got = wav_->Read(buffer, size);
    if (got == 0 && options_.loop && wav_->Rewind()) got = wav_->Read(buffer, size);
    return got;
}

int32_t KESTRA_CALLBACK Player::FillAudio(uint8_t *buffer, uint32_t size, void *user) {
    Player *self = static_cast<Player *>(user);
    self->PaceAudio();
    ClockGuard guard(&self->clockLock_);
    size_t got = self->ReadSound(buffer, size);
    self->audioBytes_ += got;
    // The WAV file has ended (there is no --loop): nothing more will be heard,
    // and the clock goes on by the refills. The file's own sound is padded.
    if (got == 0 && !self->mediaSound_) self->dry_ = true;
    if (self->mediaSound_) {
        if (got > 0) self->soundEnd_ = self->asked_ + got;
        // Short refills make the library replay the last buffer's tail: sound
        // not decoded yet, and the end of the file, are silence instead.
        std::memset(buffer + got, 0, size - got);
        got = size;
    }
    self->asked_ += size;
    self->handed_ += got;
    self->lastFill_ = Now();
    if (self->recorder_) self->recorder_->Append(buffer, got);
    return static_cast<int32_t>(got);
}

// Seconds of playback. With sound, what has been heard of it: the library's
// count of the host's frames, carried on by the time since that count was
// true, but never past what was handed over. The estimate from the refills
// instead when the library cannot tell (an older one, or not playing), once
// the host's sound has run out, and for a device that stopped asking. Without sound, the wall
// clock's. Never goes back: the count may step a little behind its carried-on reading, and the two
// differ.
double Player::Clock() {
    if (!wave_) return Now() - startTime_;
    // Asked outside clockLock_: the library calls FillAudio, which takes it,
    // while holding locks of its own.
    int64_t frames = 0, at = 0;
    const bool told = KESTRA_WVGetPosition(wave_, &frames, &at) == 0;
    const int64_t now = QpcNow();
    ClockGuard guard(&clockLock_);
    const bool flowing = !dry_ && Now() - lastFill_ <= kStall;
    const int64_t handedFrames = int64_t(handed_ / waveFormat_.nBlockAlign);
    // Nothing heard yet is the lead-in and the device's own latency, not time
    // running: the first picture waits for the first of its sound heard.
    constexpr double kNotYet = -1e-3;
    const double clock = !told || !flowing ? RefillEstimate()
                         : frames == 0     ? kNotYet
                                           : HeardSeconds(frames, at, now, QpcFrequency(),
                                                          waveFormat_.nSamplesPerSec, handedFrames);
    lastClock_ = std::max(lastClock_, clock);
    return lastClock_;
}

// The bytes the device has asked for less the two buffers in flight is where
// the buffer now playing starts, and it plays on for a buffer's length after
// each refill; a device that stopped asking is followed by the wall clock.
// Under clockLock_.
double Player::RefillEstimate() const {
    const double rate = waveFormat_.nAvgBytesPerSec;
    const double buffer = bufferSize_ / rate;
    const double since = Now() - lastFill_;
    const double into = since <= kStall ? std::min(since, buffer) : buffer + since - kStall;
    return (double(asked_) - 2.0 * bufferSize_) / rate + into;
}

// The file's sound has been decoded, handed over and played to its last byte,
// or the device stopped asking for it.
bool Player::SoundPlayedOut() {
    if (!mediaSound_ || !wave_) return true;
    uint64_t end = 0;
    {
        ClockGuard guard(&clockLock_);
        if (Now() - lastFill_ > kStall) return true;
        if (!media_->SoundFinished()) return false;
        end = soundEnd_;
    }
    return Clock() >= double(end) / waveFormat_.nAvgBytesPerSec;
}

bool Player::ReadPicture(Picture *picture, std::string *error, bool *end) {
    *end = false;
    const double period = fpsNum_ > 0 ? double(fpsDen_) / fpsNum_ : 0.0;
    picture->time = double(read_) * period;
    if (source_ == Source::Media) {
        double time = 0;
        if (!media_->ReadFrame(&picture->frame, &time)) return *end = true;
        if (fpsNum_ == 0) picture->time = time;
    } else if (source_ == Source::Y4m) {
        if (!ReadY4m(picture, error, end)) return false;
        if (*end) return true;
    } else {
        // Over a file's sound the clip runs until the sound has played out.
        if (soundOnly_ ? read_ > 0 && SoundPlayedOut()
                       : clipIndex_ >= kClipFrames && !options_.loop)
            return *end = true;
        if (clipIndex_ >= kClipFrames) clipIndex_ = 0;
        RenderClipFrame(clipIndex_, &picture->frame);
        picture->clipIndex = clipIndex_++;
    }
    ++read_;
    return true;
}

bool Player::ReadY4m(Picture *picture, std::string *error, bool *end) {
    Y4mReader::Result r = y4m_.ReadFrame(&picture->frame);
    // A loop over a clip without frames would never end.
    if (r == Y4mReader::Result::End && options_.loop && y4mPass_ > 0) {
        y4mPass_ = 0;
        r = y4m_.Rewind() ? y4m_.ReadFrame(&picture->frame) : Y4mReader::Result::Error;
    }
    if (r == Y4mReader::Result::Error) {
        *error = y4m_.error();
        return false;
    }
    if (r == Y4mReader::Result::End && read_ == 0) {
        *error = options_.clipPath + ": the clip has no frames";
        return false;
    }
    *end = r == Y4mReader::Result::End;
    if (!*end) ++y4mPass_;
    return true;
}

// Sleeps in short steps so the window stays responsive and the file's sound
// keeps being decoded; false if the user closed the window meanwhile.
bool Player::WaitUntil(double time) {
    while (true) {
        if (!window_.Pump()) return false;
        if (mediaSound_) media_->FeedSound();
        const double left = time - Clock();
        if (!(left > 0)) return true;
        Sleep(static_cast<DWORD>(left > 0.01 ? 10 : left * 1000.0 + 1.0));
    }
}

// The file's sound plays to its end after the last picture.
bool Player::FinishSound() {
    while (!SoundPlayedOut()) {
        if (!window_.Pump()) return false;
        media_->FeedSound();
        Sleep(10);
    }
    return true;
}

void Player::ShowFrameNumber(int clipIndex) {
    if (source_ != Source::BuiltIn) return;
    char text[64];
    std::snprintf(text, sizeof text, "frame %d / %d", clipIndex + 1, kClipFrames);
    KESTRA_DWSetOSDText(display_, 0, text, 16, 16, 0, kCounterColour);
}

bool Player::Show(const Picture &picture, std::string *error) {
    if (window_.TakeResized()) KESTRA_DWAdjustedWnd(display_);
    ShowFrameNumber(picture.clipIndex);
    const YuvFrame &f = picture.frame;
    int32_t result =
        KESTRA_DWDrawYUV420(display_, f.Y(), f.YStride(), f.U(), f.V(), f.UvStride(), 0, 0, 0);
    if (result != 0 && result != -3) {
        *error = "the display refused frame " + std::to_string(position_ + 1) + " (result " +
                 std::to_string(result) + ")";
        return false;
    }
    if (drawn_++ == 0) firstDrawn_ = Now();
    lastDrawn_ = Now();
    if (wave_) avOffset_ = Clock() - picture.time;
    return true;
}

// A sound file cut short (a full disk, a pipe whose reader left) ends the play.
bool Player::SoundLost(std::string *error) const {
    return !options_.audioOutPath.empty() && SoundFileFailed(options_.audioOutPath, error);
}

// Pictures are read one ahead: one whose successor is already due when its
// own time comes is dropped, so a slow machine keeps pace with the sound. The
// last picture is always shown.
bool Player::PlayFrames(std::string *error) {
    startTime_ = Now();
    lastStatus_ = startTime_;
    while (true) {
        if (SoundLost(error)) return false;
        const bool last = options_.frames > 0 && position_ + 1 >= options_.frames;
        bool end = last;
        if (!last && !ReadPicture(&next_, error, &end)) return false;
        if (!WaitUntil(current_.time)) return true;
        if (!end && Clock() >= next_.time)
            ++dropped_;
        else if (!Show(current_, error))
            return false;
        ++position_;
        PrintStatus(false);
        if (last) return true;
        if (!end) {
            std::swap(current_, next_);
            continue;
        }
        if (!FinishSound()) return true;
        if (!media_ || !options_.loop) return true;
        if (!Restart(error) || !ReadPicture(&current_, error, &end)) return false;
        if (end) return true;
    }
}

// --loop over a file: it opens again and plays from a new start, its sound too.
bool Player::Restart(std::string *error) {
    if (wave_) {
        stopping_.store(true, std::memory_order_relaxed);
        KESTRA_WVStopWave(wave_);
    }
    media_.reset(new MediaReader);
    if (!media_->Open(options_.clipPath, mediaSound_)) {
        *error = media_->error();
        return false;
    }
    const MediaInfo &info = media_->info();
    if (info.hasPicture != !soundOnly_ || info.hasSound != mediaSound_ ||
        (info.hasPicture && (info.width != width_ || info.height != height_))) {
        *error = options_.clipPath + ": the file changed while it played";
        return false;
    }
    read_ = 0;
    startTime_ = Now();
    if (wave_) PlayWave();
    return true;
}

void Player::PrintStatus(bool final) {
    static const bool tty = KPLAY_ISATTY(stderr) != 0;
    const double now = Now();
    if (!final && now - lastStatus_ < (tty ? 0.25 : 1.0)) return;
    lastStatus_ = now;
    const double elapsed = lastDrawn_ - firstDrawn_;
    const std::string total = totalFrames_ > 0 ? std::to_string(totalFrames_) : "?";
    char sync[32] = "";
    if (wave_) std::snprintf(sync, sizeof sync, " | A/V %+.0f ms", avOffset_ * 1000.0);
    const std::string note = colourNote_.empty() ? "" : " (" + colourNote_ + ")";
    // No render mode: the library does not tell its host which one it chose.
    const char *scaling = options_.scaling >= 0 ? kScalingNames[options_.scaling] : "auto";
    std::fprintf(
        stderr,
        "%sframe %" PRId64 " of %s | %.1f fps | dropped %" PRId64 "%s | scaling %s | %s %s%s%s",
        tty ? "\r" : "", position_, total.c_str(),
        // Rate over the gaps between the frames drawn.
        drawn_ > 1 && elapsed > 0 ? (drawn_ - 1) / elapsed : 0.0, dropped_, sync, scaling,
        kMatrixNames[matrix_], kRangeNames[range_], note.c_str(), tty && !final ? "   " : "\n");
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
