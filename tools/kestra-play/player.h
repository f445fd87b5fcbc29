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
#include "options.h"
#include "wav.h"
#include "wav_writer.h"
#include "y4m.h"

namespace kplay {

class Player {
public:
    explicit Player(const Options &options) : options_(options) {}
    ~Player();
    Player(const Player &) = delete;
    Player &operator=(const Player &) = delete;

    // 0 when the clip played to its end or the user closed the window;
    // 1 with *error set for bad input or a failed step.
    int Run(std::string *error);

private:
    bool OpenVideo(std::string *error);
    bool CropFitsFrame(std::string *error) const;
    bool OpenAudioSource(std::string *error);
    bool CheckOutputs(std::string *error);
    bool OpenDisplay(std::string *error);
    bool SetColourSpace(std::string *error);
    bool StartAudio(std::string *error);
    bool NextFrame(std::string *error, bool *end);
    bool PlayFrames(std::string *error);
    bool WaitUntil(double due);
    void ShowFrameNumber();
    void PrintStatus(bool final);
    void PaceAudio();
    void Close();

    static int32_t KESTRA_CALLBACK FillAudio(uint8_t *buffer, uint32_t size, void *user);

    Options options_;
    Y4mReader y4m_;
    bool builtIn_ = true;
    int width_ = 0, height_ = 0;
    int fpsNum_ = 0, fpsDen_ = 1;
    int64_t clipFrames_ = 0;   // frames in one pass of the clip (estimate for files)
    int64_t totalFrames_ = 0;  // 0: unknown (looping forever)
    int64_t clipIndex_ = 0;    // frame number within the current pass
    YuvFrame frame_;
    int matrix_ = 0, range_ = 0;  // as KESTRA_DWSetColorSpace takes them

    // Sound: the WAV file, else the tone for the built-in clip, else none.
    std::unique_ptr<WavReader> wav_;
    std::unique_ptr<ToneGenerator> tone_;
    WAVEFORMATEX waveFormat_ = {};
    double audioStart_ = 0;
    uint64_t audioBytes_ = 0;  // written by the device thread only
    // Set by the main thread before stopping, so a pacing callback returns at
    // once; relaxed: it orders nothing else.
    std::atomic<bool> stopping_{false};
    // --audio-out where the device cannot write the file: what FillAudio
    // hands over, written on the device's thread until the player stops.
    std::unique_ptr<WavWriter> recorder_;

    HostWindow window_;
    KestraDisplay display_ = nullptr;
    KestraWave wave_ = nullptr;

    int64_t shown_ = 0;
    int64_t late_ = 0;
    double startTime_ = 0;
    double lastStatus_ = 0;
    bool statusLineOpen_ = false;
};

}  // namespace kplay
