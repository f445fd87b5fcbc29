#include "options.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace kplay {

namespace {

bool ParseInt(const std::string &text, int64_t low, int64_t high, int64_t *value) {
    if (text.empty() || text.size() > 18) return false;
    size_t i = text[0] == '-' ? 1 : 0;
    if (i == text.size()) return false;
    int64_t v = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        v = v * 10 + (text[i] - '0');
    }
    if (text[0] == '-') v = -v;
    if (v < low || v > high) return false;
    *value = v;
    return true;
}

// Splits "a<sep>b<sep>c" into integers in [low, high]; exactly `count` parts.
bool ParseList(const std::string &text, char sep, size_t count, int64_t low, int64_t high,
               std::vector<int> *out) {
    out->clear();
    size_t start = 0;
    while (true) {
        size_t end = text.find(sep, start);
        int64_t v = 0;
        if (!ParseInt(text.substr(start, end - start), low, high, &v)) return false;
        out->push_back(static_cast<int>(v));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return out->size() == count;
}

// Decimal rate such as 25 or 29.97, kept exact as a ratio over 1000.
bool ParseFps(const std::string &text, int *num, int *den) {
    if (text.empty() || text.size() > 12 ||
        text.find_first_not_of("0123456789.") != std::string::npos)
        return false;
    char *end = nullptr;
    double f = std::strtod(text.c_str(), &end);
    if (*end != '\0' || !(f >= 0.1 && f <= 1000.0)) return false;
    *num = static_cast<int>(std::lround(f * 1000.0));
    *den = 1000;
    return true;
}

// "auto" is -1, the others their index in `names`.
bool ParseColour(const std::string &text, const char *const (&names)[2], int *value) {
    if (text == "auto")
        *value = -1;
    else if (text == names[0] || text == names[1])
        *value = text == names[0] ? 0 : 1;
    else
        return false;
    return true;
}

struct Parser {
    int argc;
    const char *const *argv;
    int index = 1;
    std::string *error;

    // The value of an option given as "--name value" or "--name=value".
    bool Value(const std::string &arg, const std::string &name, std::string *value) {
        if (arg.size() > name.size() && arg.compare(0, name.size() + 1, name + "=") == 0) {
            *value = arg.substr(name.size() + 1);
            return true;
        }
        if (index + 1 >= argc) {
            *error = name + " needs a value";
            return false;
        }
        *value = argv[++index];
        return true;
    }

    bool Bad(const std::string &name, const std::string &value, const char *expected) {
        *error = "bad value '" + value + "' for " + name + " (expected " + expected + ")";
        return false;
    }
};

bool TakesValue(const std::string &name) {
    static const char *const kNames[] = {"--frames",  "--fps",    "--window",   "--crop",
                                         "--osd",     "--volume", "--snapshot", "--audio-out",
                                         "--adapter", "--matrix", "--range",    "--scaling"};
    for (const char *n : kNames)
        if (name == n) return true;
    return false;
}

bool IsStandInOnly(const std::string &name) { return name == "--headless" || name == "--adapter"; }

bool ApplyValue(Parser &p, const std::string &name, const std::string &value, Options *o) {
    int64_t n = 0;
    std::vector<int> list;
    if (name == "--frames") {
        if (!ParseInt(value, 1, 1000000000, &n)) return p.Bad(name, value, "1 or more");
        o->frames = n;
    } else if (name == "--fps") {
        if (!ParseFps(value, &o->fpsNum, &o->fpsDen)) return p.Bad(name, value, "0.1 to 1000");
    } else if (name == "--window") {
        if (!ParseList(value, 'x', 2, 1, 8192, &list)) return p.Bad(name, value, "WxH");
        o->windowWidth = list[0];
        o->windowHeight = list[1];
    } else if (name == "--crop") {
        if (!ParseList(value, ',', 4, 0, 8192, &list) || list[0] >= list[2] || list[1] >= list[3])
            return p.Bad(name, value, "L,T,R,B with L<R and T<B");
        o->crop = true;
        o->cropLeft = list[0];
        o->cropTop = list[1];
        o->cropRight = list[2];
        o->cropBottom = list[3];
    } else if (name == "--osd") {
        o->osdText = value;
    } else if (name == "--volume") {
        if (!ParseInt(value, 0, 100, &n)) return p.Bad(name, value, "0 to 100");
        o->volume = static_cast<int>(n);
    } else if (name == "--snapshot" || name == "--audio-out") {
        // An empty name would read as "no file", and the run would write nothing.
        if (value.empty()) return p.Bad(name, value, "a file name");
        (name == "--snapshot" ? o->snapshotPath : o->audioOutPath) = value;
    } else if (name == "--scaling") {
        if (value == kScalingNames[0] || value == kScalingNames[1])
            o->scaling = value == kScalingNames[1] ? 1 : 0;
        else
            return p.Bad(name, value, "fast or smooth");
    } else if (name == "--adapter") {
        if (value != "fourcc" && value != "blt" && value != "none")
            return p.Bad(name, value, "fourcc, blt or none");
        o->adapter = value;
    } else if (name == "--matrix") {
        if (!ParseColour(value, kMatrixNames, &o->matrix))
            return p.Bad(name, value, "bt601, bt709 or auto");
    } else if (name == "--range") {
        if (!ParseColour(value, kRangeNames, &o->range))
            return p.Bad(name, value, "studio, full or auto");
    }
    return true;
}

bool ApplyFlag(const std::string &name, Options *o) {
    if (name == "--loop")
        o->loop = true;
    else if (name == "--mirror")
        o->mirror = true;
    else if (name == "--no-audio")
        o->noAudio = true;
    else if (name == "--headless")
        o->headless = true;
    else
        return false;
    return true;
}

}  // namespace

ParseResult ParseOptions(int argc, const char *const *argv, bool standIn, Options *options,
                         std::string *error) {
    Options o;
    Parser p{argc, argv, 1, error};
    std::vector<std::string> files;
    for (; p.index < argc; ++p.index) {
        const std::string arg = argv[p.index];
        if (arg == "-h" || arg == "--help") return ParseResult::Help;
        if (arg.size() < 2 || arg.compare(0, 2, "--") != 0 || arg == "-") {
            files.push_back(arg);
            continue;
        }
        const std::string name = arg.substr(0, arg.find('='));
        if (!standIn && IsStandInOnly(name)) {
            *error = name + " is only available in the Linux build";
            return ParseResult::Error;
        }
        if (TakesValue(name)) {
            std::string value;
            if (!p.Value(arg, name, &value) || !ApplyValue(p, name, value, &o))
                return ParseResult::Error;
        } else if (name != arg || !ApplyFlag(name, &o)) {
            *error = "unknown option '" + arg + "' (try --help)";
            return ParseResult::Error;
        }
    }
    if (files.size() > 2) {
        *error = "too many files: give a clip and optionally a .wav file";
        return ParseResult::Error;
    }
    if (!files.empty()) o.clipPath = files[0];
    if (files.size() > 1) o.wavPath = files[1];
    *options = o;
    return ParseResult::Run;
}

const char *UsageText(bool standIn, bool media) {
    static const char kMedia[] =
        "usage: kestra-play [options] [FILE [AUDIO.wav]]\n"
        "Plays a video or sound file (MP4, MKV, camera recordings: what FFmpeg's\n"
        "libraries open) or a YUV4MPEG2 clip through libkestra; AUDIO.wav, when given,\n"
        "plays instead of the file's own sound. With no file it plays a built-in test\n"
        "clip with a 440 Hz tone.\n";
    static const char kY4mOnly[] =
        "usage: kestra-play [options] [CLIP.y4m [AUDIO.wav]]\n"
        "Plays a YUV4MPEG2 clip (4:2:0) and a PCM WAV file through libkestra;\n"
        "with no clip it plays a built-in test clip with a 440 Hz tone.\n";
    static const char kBuiltWithout[] =
        "This kestra-play was built without FFmpeg's libraries (libavformat-dev,\n"
        "libavcodec-dev, libswscale-dev, libswresample-dev, libavutil-dev): Y4M and\n"
        "WAV only.\n";
    static const char kWindows[] = "On Windows kestra-play plays Y4M and WAV only.\n";
    static const char kCommon[] =
        "  --frames N        stop after N frames\n"
        "  --fps F           present at F frames per second (default: the file's own\n"
        "                    times, or the clip's rate)\n"
        "  --loop            start the clip again at its end\n"
        "  --window WxH      window client size (default: the frame size, stretched by\n"
        "                    the file's sample aspect ratio)\n"
        "  --mirror          mirror left to right\n"
        "  --crop L,T,R,B    show only columns L to R-1 and rows T to B-1 of the frame\n"
        "  --matrix M        bt601, bt709 or auto (default): the stream's, else bt709 for\n"
        "                    frames 1280 or more wide or over 576 lines tall, else bt601\n"
        "  --range R         studio (Y 16-235), full (0-255) or auto (default): the\n"
        "                    stream's or the clip's XCOLORRANGE tag, else studio\n"
        "  --scaling S       fast or smooth: how a picture is shrunk to a smaller window\n"
        "                    (default: LOG.INI's SCALING, else the renderer's own)\n"
        "  --osd TEXT        show TEXT at the bottom left of the picture\n"
        "  --volume 0-100    audio volume\n"
        "  --no-audio        play no sound\n"
        "  --snapshot F.png  write the window's last frame, as the screen shows it, as PNG\n";
    static const char kAudioOutStandIn[] =
        "  --audio-out F.wav write the played sound to a WAV file instead of the device\n"
        "                    (with the library's two lead-in buffers, as the device got them)\n";
    static const char kAudioOutWindows[] =
        "  --audio-out F.wav also write the sound to a WAV file: exactly the PCM handed\n"
        "                    to the library (the device still plays it, after its lead-in)\n";
    static const char kStandIn[] =
        "  --headless        never open a window on screen\n"
        "  --adapter MODE    display adapter: fourcc (YUV blits), blt (RGB blits only)\n"
        "                    or none (no DirectDraw: GDI)\n";
    static std::string text;
    text = std::string(media ? kMedia : kY4mOnly) +
           (media     ? ""
            : standIn ? kBuiltWithout
                      : kWindows) +
           kCommon + (standIn ? kAudioOutStandIn : kAudioOutWindows) + (standIn ? kStandIn : "") +
           "The status line counts dropped frames and shows the picture's offset from the\n"
           "sound (A/V), the colours used, marked auto where the file names none, and the\n"
           "scaling asked for.\n"
           "Escape or closing the window ends playback.\n";
    return text.c_str();
}

int AutoMatrix(int width, int height) { return width >= 1280 || height > 576 ? 1 : 0; }

}  // namespace kplay
