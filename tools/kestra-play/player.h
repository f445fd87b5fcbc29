// Plays one clip (and its sound) through libkestra into a HostWindow.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include <windows.h>
#include <mmsystem.h>
#include <kestra/kestra.h>

#include "clip.h"
#include "host_window.h"
#include "media.h"
#include "options.h"
#include "wav.h"
#include "wav_writer.h"
#include "y4m.h"

namespace kplay {

class Player {
public:
    explicit Player(const Options &options);
    ~Player();
    Player(const Player &) = delete;
    Player &operator=(const Player &) = delete;

    // 0 when the clip played to its end or the user closed the window;
    // 1 with *error set for bad input or a failed step.
    int Run(std::string *error);

private:
    // A decoded picture and when it is due, in seconds of playback.
    struct Picture {
        YuvFrame frame;
        double time = 0;
        int clipIndex = 0;  // the built-in clip's frame number
    };
    enum class Source { BuiltIn, Y4m, Media };

    bool OpenVideo(std::string *error);
    bool OpenY4m(std::string *error);
    bool OpenMedia(std::string *error);
    bool CropFitsFrame(std::string *error) const;
    bool OpenAudioSource(std::string *error);
    bool CheckOutputs(std::string *error);
    bool OpenDisplay(std::string *error);
    bool SetColourSpace(std::string *error);
    bool StartAudio(std::string *error);
    void PlayWave();
    bool ReadPicture(Picture *picture, std::string *error, bool *end);
    bool ReadY4m(Picture *picture, std::string *error, bool *end);
    bool Show(const Picture &picture, std::string *error);
    bool PlayFrames(std::string *error);
    bool Restart(std::string *error);
    bool WaitUntil(double time);
    bool FinishSound();
    bool SoundPlayedOut();
    bool SoundLost(std::string *error) const;
    double Clock();
    double RefillEstimate() const;
    void ShowFrameNumber(int clipIndex);
    void PrintStatus(bool final);
    void PaceAudio();
    size_t ReadSound(uint8_t *buffer, uint32_t size);
    void Close();

    static int32_t KESTRA_CALLBACK FillAudio(uint8_t *buffer, uint32_t size, void *user);

    Options options_;
    Source source_ = Source::BuiltIn;
    Y4mReader y4m_;
    std::unique_ptr<MediaReader> media_;
    bool soundOnly_ = false;  // a file without pictures: its sound over the built-in clip
    int width_ = 0, height_ = 0;
    int windowWidth_ = 0, windowHeight_ = 0;  // default window size (sample aspect ratio)
    int fpsNum_ = 0, fpsDen_ = 1;             // 0: the file's own times
    int64_t totalFrames_ = 0;                 // 0: unknown (looping forever)
    int64_t read_ = 0;                        // pictures read in this pass
    int64_t y4mPass_ = 0;                     // frames read since the Y4M clip's start
    int clipIndex_ = 0;                       // next frame of the built-in clip
    Picture current_, next_;
    int matrix_ = 0, range_ = 0;  // as KESTRA_DWSetColorSpace takes them
    std::string colourNote_;      // where they came from, when not from the stream or user

    // Sound: the WAV file, else the file's own, else the tone for the
    // built-in clip, else none.
    std::unique_ptr<WavReader> wav_;
    std::unique_ptr<ToneGenerator> tone_;
    bool mediaSound_ = false;
    WAVEFORMATEX waveFormat_ = {};
    uint32_t bufferSize_ = 0;
    double audioStart_ = 0;
    uint64_t audioBytes_ = 0;  // written by the device thread only
    // The playback clock, kept by the device thread's refills: bytes asked
    // for (whole buffers), bytes handed over, whether the host's sound has
    // run out, when the last refill came, and where the file's sound ends in
    // those bytes; and the last clock reading. Under clockLock_.
    CRITICAL_SECTION clockLock_;
    uint64_t asked_ = 0;
    uint64_t handed_ = 0;
    double lastFill_ = 0;
    uint64_t soundEnd_ = 0;
    double lastClock_ = 0;  // set by PlayWave
    bool dry_ = false;
    // Set by the main thread before stopping, so a pacing callback returns at
    // once; relaxed: it orders nothing else.
    std::atomic<bool> stopping_{false};
    // --audio-out where the device cannot write the file: what FillAudio
    // hands over, written on the device's thread until the player stops.
    std::unique_ptr<WavWriter> recorder_;

    HostWindow window_;
    KestraDisplay display_ = nullptr;
    KestraWave wave_ = nullptr;

    int64_t position_ = 0;  // pictures shown or dropped
    int64_t drawn_ = 0;
    int64_t dropped_ = 0;
    double avOffset_ = 0;  // the sound heard less the picture's time when last drawn
    double startTime_ = 0;
    double firstDrawn_ = 0, lastDrawn_ = 0;
    double lastStatus_ = 0;
    bool statusLineOpen_ = false;
};

}  // namespace kplay
