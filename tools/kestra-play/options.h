// Command line of kestra-play.
#pragma once

#include <cstdint>
#include <string>

namespace kplay {

// --matrix and --range values, numbered as KESTRA_DWSetColorSpace takes them.
inline constexpr const char *kMatrixNames[2] = {"bt601", "bt709"};
inline constexpr const char *kRangeNames[2] = {"studio", "full"};
inline constexpr const char *kScalingNames[2] = {"fast", "smooth"};

struct Options {
    std::string clipPath;  // empty: the built-in clip
    std::string wavPath;   // empty: the file's own sound, the built-in tone or silence
    int64_t frames = -1;   // -1: the whole clip (forever with --loop)
    int fpsNum = 0;        // 0: the clip's own rate
    int fpsDen = 1;
    bool loop = false;
    int windowWidth = 0;  // 0: the frame size
    int windowHeight = 0;
    bool mirror = false;
    bool crop = false;
    int cropLeft = 0, cropTop = 0, cropRight = 0, cropBottom = 0;
    std::string osdText;
    int volume = -1;  // -1: leave the device's volume alone
    bool noAudio = false;
    std::string snapshotPath;
    std::string audioOutPath;
    int matrix = -1;  // -1: the stream's, else auto (AutoMatrix); else an index of kMatrixNames
    int range =
        -1;  // -1: the stream's or the clip's tag, else studio; else an index of kRangeNames
    int scaling =
        -1;  // -1: the library's (LOG.INI's, else the renderer's); else KESTRA_DWSetScaling's
    // Stand-in platform only.
    bool headless = false;
    std::string adapter;  // "", "fourcc", "blt" or "none"
};

enum class ParseResult { Run, Help, Error };

// Parses argv[1..]; on Error *error holds one line naming the bad argument.
// `standIn` enables the options that only the Linux build has.
ParseResult ParseOptions(int argc, const char *const *argv, bool standIn, Options *options,
                         std::string *error);

// `media`: this build opens files through FFmpeg's libraries.
const char *UsageText(bool standIn, bool media);

// The matrix "auto" takes for a frame size, as mpv guesses it: BT.709 from
// 1280 columns or past 576 lines (HD), BT.601 below (SD).
int AutoMatrix(int width, int height);

}  // namespace kplay
