// kestra-play run as a user runs it, headless: frames counted, the snapshot
// against a rendering of the same frame, the recorded sound, bad input.
#include <gtest/gtest.h>
#include <png.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>
#include <vector>

#include <kestra/kestra.h>

#include "clip.h"
#include "tool_files.h"
#include "wav.h"

using namespace kestra_test;

namespace {

struct RunResult {
    int exitCode = -1;  // -1: killed by a signal
    std::string stderrText;
    long peakKb = 0;  // the tool's largest resident size
    bool hung = false;
};

std::string Quote(const std::string &arg) {
    std::string out = "'";
    for (char c : arg) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// hangSeconds > 0: a run still going after that long is killed and counted
// as hung (a watchdog for runs that must end, never a speed limit). `shell`
// runs first in the same shell (a limit, a redirection the tool inherits).
RunResult RunPlay(const std::string &dir, const std::vector<std::string> &args, int hangSeconds = 0,
                  const std::string &shell = "") {
    std::string command = shell + "exec " + Quote(KESTRA_PLAY_PATH);
    for (const std::string &a : args) command += " " + Quote(a);
    const std::string errPath = dir + "/stderr.txt";
    command += " </dev/null >/dev/null 2>" + Quote(errPath);
    const pid_t pid = fork();
    if (pid == 0) {
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    RunResult r;
    const int options = hangSeconds > 0 ? WNOHANG : 0;
    for (int waited = 0; pid > 0; waited += 10) {
        const pid_t done = wait4(pid, &status, options, &usage);
        if (done == pid && WIFEXITED(status)) r.exitCode = WEXITSTATUS(status);
        if (done != 0) break;
        if (waited >= hangSeconds * 1000 && !r.hung) {
            r.hung = true;
            kill(pid, SIGKILL);
        }
        usleep(10 * 1000);
    }
    r.peakKb = usage.ru_maxrss;
    r.stderrText = ReadFile(errPath);
    return r;
}

// The last line of the tool's stderr.
std::string LastLine(const std::string &text) {
    std::string t = text;
    while (!t.empty() && t.back() == '\n') t.pop_back();
    size_t cut = t.find_last_of("\r\n");
    return cut == std::string::npos ? t : t.substr(cut + 1);
}

struct Picture {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;
    // 0x00RRGGBB
    uint32_t At(int x, int y) const {
        const uint8_t *p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
        return (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2];
    }
};

bool ReadPng(const std::string &path, Picture *picture) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
    image.format = PNG_FORMAT_RGB;
    picture->width = static_cast<int>(image.width);
    picture->height = static_cast<int>(image.height);
    picture->rgb.assign(PNG_IMAGE_SIZE(image), 0);
    return png_image_finish_read(&image, nullptr, picture->rgb.data(), 0, nullptr) != 0;
}

// What the library's converter makes of a frame, as 0x00RRGGBB pixels.
std::vector<uint32_t> Reference(const kplay::YuvFrame &frame) {
    std::vector<uint8_t> bgr(static_cast<size_t>(frame.width) * frame.height * 3);
    KESTRA_yv12_to_rgb24_c(bgr.data(), frame.width, frame.Y(), frame.U(), frame.V(),
                           frame.YStride(), frame.UvStride(), static_cast<uint32_t>(frame.width),
                           frame.height);
    std::vector<uint32_t> xrgb(bgr.size() / 3);
    for (size_t i = 0; i < xrgb.size(); ++i)
        xrgb[i] = (uint32_t(bgr[3 * i + 2]) << 16) | (uint32_t(bgr[3 * i + 1]) << 8) | bgr[3 * i];
    return xrgb;
}

int ChannelDistance(uint32_t a, uint32_t b) {
    int worst = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        int d = std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF));
        worst = d > worst ? d : worst;
    }
    return worst;
}

// The format and the samples of a WAV file the tool wrote.
::testing::AssertionResult ReadWav(const std::string &path, int rate, int channels, int bits,
                                   std::string *samples) {
    kplay::WavReader wav;
    if (!wav.Open(path)) return ::testing::AssertionFailure() << wav.error();
    const kplay::WavFormat &f = wav.format();
    if (f.sampleRate != rate || f.channels != channels || f.bitsPerSample != bits)
        return ::testing::AssertionFailure() << f.sampleRate << " Hz, " << f.channels
                                             << " channels, " << f.bitsPerSample << " bits";
    samples->assign(static_cast<size_t>(wav.dataSize()), '\0');
    samples->resize(wav.Read(reinterpret_cast<uint8_t *>(&(*samples)[0]), samples->size()));
    return ::testing::AssertionSuccess();
}

using Playback = ScratchFiles;

struct AdapterCase {
    const char *adapter;
    // Per channel. GDI shows the exported converter's output; the stand-in's
    // YUV blit converts on its own; RGB 5-6-5 keeps 5 or 6 bits through a
    // converter of its own.
    int tolerance;
};

class BuiltInClip : public Playback, public ::testing::WithParamInterface<AdapterCase> {};

// The counter's OSD slot lies inside this box at the frame's top left.
constexpr int kOsdBoxWidth = 320;
constexpr int kOsdBoxHeight = 64;

TEST_P(BuiltInClip, SnapshotIsTheLastFrameWithItsCounter) {
    const AdapterCase &c = GetParam();
    const int frames = 12;
    const std::string png = dir_ + "/snapshot.png";
    RunResult run = RunPlay(dir_, {"--headless", "--no-audio", "--frames", std::to_string(frames),
                                   "--fps", "100", "--adapter", c.adapter, "--snapshot", png});
    ASSERT_EQ(run.exitCode, 0) << run.stderrText;
    EXPECT_EQ(LastLine(run.stderrText).rfind("frame 12 of 12 | ", 0), 0u) << run.stderrText;

    Picture shot;
    ASSERT_TRUE(ReadPng(png, &shot)) << png;
    ASSERT_EQ(shot.width, kplay::kClipWidth);
    ASSERT_EQ(shot.height, kplay::kClipHeight);
    kplay::YuvFrame last;
    kplay::RenderClipFrame(frames - 1, &last);
    const std::vector<uint32_t> expected = Reference(last);

    int outside = 0, inside = 0, worst = 0;
    int firstX = -1, firstY = -1;
    for (int y = 0; y < shot.height; ++y) {
        for (int x = 0; x < shot.width; ++x) {
            uint32_t want = expected[static_cast<size_t>(y) * shot.width + x];
            const int distance = ChannelDistance(shot.At(x, y), want);
            if (distance <= c.tolerance) continue;
            if (x < kOsdBoxWidth && y < kOsdBoxHeight) {
                ++inside;
                continue;
            }
            worst = std::max(worst, distance);
            if (outside++ == 0) {
                firstX = x;
                firstY = y;
            }
        }
    }
    EXPECT_EQ(outside, 0) << "pixels differing from frame " << frames - 1 << " outside the OSD by "
                          << "up to " << worst << " per channel; "
                          << "first at (" << firstX << "," << firstY << "): got 0x" << std::hex
                          << (firstX >= 0 ? shot.At(firstX, firstY) : 0) << " expected 0x"
                          << (firstX >= 0 ? expected[size_t(firstY) * shot.width + firstX] : 0);
    EXPECT_GT(inside, 20) << "the frame counter should be drawn over the picture";
    std::string copy = std::string(KESTRA_TEST_OUTPUT_DIR) + "/kestra_play_" + c.adapter + ".png";
    WriteFile(copy, ReadFile(png));
}

INSTANTIATE_TEST_SUITE_P(Adapters, BuiltInClip,
                         ::testing::Values(AdapterCase{"none", 0}, AdapterCase{"fourcc", 3},
                                           AdapterCase{"blt", 20}),
                         [](const ::testing::TestParamInfo<AdapterCase> &p) {
                             return std::string(p.param.adapter);
                         });

// Left-channel samples after the player's opening fill buffers (constant bytes).
std::vector<int16_t> ToneSamples(const std::string &bytes) {
    std::vector<int16_t> left;
    for (size_t i = 0; i + 3 < bytes.size(); i += 4)
        left.push_back(static_cast<int16_t>(uint8_t(bytes[i]) | (uint8_t(bytes[i + 1]) << 8)));
    size_t start = 0;
    while (start + 1 < left.size() && left[start] == left[start + 1]) ++start;
    return std::vector<int16_t>(left.begin() + static_cast<long>(start), left.end());
}

TEST_F(Playback, AudioOutHoldsTheTone) {
    const std::string wavPath = dir_ + "/audio.wav";
    RunResult run = RunPlay(dir_, {"--headless", "--frames", "25", "--audio-out", wavPath});
    ASSERT_EQ(run.exitCode, 0) << run.stderrText;

    std::string bytes;
    ASSERT_TRUE(ReadWav(wavPath, 44100, 2, 16, &bytes));
    std::vector<int16_t> tone = ToneSamples(bytes);
    ASSERT_GT(tone.size(), 44100u / 4) << "expected at least a quarter second of tone";
    // One second of clip: the recording follows the playback, not the speed of
    // the disk (a generous bound, for slow machines).
    EXPECT_LT(tone.size(), 44100u * 10) << "the recording ran ahead of the playback";

    int crossings = 0, peak = 0;
    for (size_t i = 1; i < tone.size(); ++i) {
        if ((tone[i - 1] < 0) != (tone[i] < 0)) ++crossings;
        peak = std::max(peak, std::abs(int(tone[i])));
    }
    const double seconds = double(tone.size()) / 44100.0;
    const double hertz = crossings / 2.0 / seconds;
    EXPECT_NEAR(hertz, 440.0, 5.0) << crossings << " zero crossings in " << seconds << " s";
    EXPECT_GT(peak, 5000) << "the tone should be clearly audible";
}

// The sound into a pipe, as `--audio-out /dev/stdout | cat` and `| head -c 100`
// make it: a reader that takes it all gets a streamed WAV (the largest sizes,
// the sound after them); one that leaves early ends the play, named, at once.
TEST_F(Playback, AudioOutIntoAPipe) {
    const std::string fifo = dir_ + "/pipe";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const size_t wanted : {size_t(1) << 30, size_t(100)}) {
        std::string got;
        std::thread reader([&] {
            const int fd = open(fifo.c_str(), O_RDONLY);
            char chunk[4096];
            ssize_t n = 0;
            while (got.size() < wanted && (n = read(fd, chunk, sizeof chunk)) > 0)
                got.append(chunk, size_t(std::min<size_t>(size_t(n), wanted - got.size())));
            close(fd);
        });
        // The pipe is the tool's fd 3, open before it starts, as a shell's pipe is.
        RunResult run = RunPlay(dir_, {"--headless", "--frames", "200", "--audio-out", "/dev/fd/3"},
                                60, "exec 3>" + Quote(fifo) + "; ");
        reader.join();
        ASSERT_FALSE(run.hung) << run.stderrText;
        if (wanted == 100) {
            EXPECT_EQ(run.exitCode, 1) << run.stderrText;
            EXPECT_NE(run.stderrText.find("kestra-play: cannot write /dev/fd/3: Broken pipe\n"),
                      std::string::npos)
                << run.stderrText;
            continue;
        }
        EXPECT_EQ(run.exitCode, 0) << run.stderrText;
        ASSERT_GT(got.size(), 44u + 44100u * 4);
        EXPECT_EQ(got.substr(0, 12), std::string("RIFF\xFF\xFF\xFF\xFFWAVE", 12));
        EXPECT_EQ(got.substr(36, 8), std::string("data\xFF\xFF\xFF\xFF", 8));
    }
}

// A clip and a sound file as an encoder would write them.
TEST_F(Playback, WrittenClipAndWavPlayAndLoop) {
    std::vector<std::string> frames;
    for (int i = 0; i < 3; ++i) frames.push_back(SolidFrame(64, 48, i));
    const std::string clip = dir_ + "/clip.y4m";
    ASSERT_TRUE(WriteFile(clip, Y4mBytes("W64 H48 F25:1 Ip A1:1 C420jpeg XYSCSS=420JPEG", frames)));
    std::string samples;
    for (int i = 0; i < 4000; ++i) samples += static_cast<char>(128 + 60 * ((i / 9) % 2 ? 1 : -1));
    const std::string sound = dir_ + "/sound.wav";
    ASSERT_TRUE(
        WriteFile(sound, Riff(Chunk("fmt ", FmtBody(1, 1, 8000, 8, 1)) + Chunk("data", samples))));
    const std::string png = dir_ + "/clip.png", out = dir_ + "/out.wav";

    RunResult run =
        RunPlay(dir_, {"--headless", "--adapter", "none", "--fps", "50", "--loop", "--frames", "7",
                       "--snapshot", png, "--audio-out", out, clip, sound});
    ASSERT_EQ(run.exitCode, 0) << run.stderrText;
    EXPECT_EQ(LastLine(run.stderrText).rfind("frame 7 of 7 |", 0), 0u) << run.stderrText;

    // Seven frames of a three-frame loop end on frame 0 again.
    Picture shot;
    ASSERT_TRUE(ReadPng(png, &shot));
    kplay::YuvFrame first;
    first.Allocate(64, 48);
    first.bytes.assign(frames[0].begin(), frames[0].end());
    const uint32_t want = Reference(first)[48 / 2 * 64 + 32];
    EXPECT_EQ(shot.At(32, 24), want) << std::hex << "got 0x" << shot.At(32, 24);

    std::string got;
    ASSERT_TRUE(ReadWav(out, 8000, 1, 8, &got));
    EXPECT_NE(got.find(samples.substr(0, 400)), std::string::npos)
        << "the file's samples should reach the device unchanged";
}

// The crop may reach the frame's right and bottom edges: 0,0,8,3 of an 8x6
// clip stretches its top three rows over the window.
TEST_F(Playback, CropToTheFrameEdgeIsShown) {
    kplay::YuvFrame frame;
    frame.Allocate(8, 6);
    std::fill(frame.Y(), frame.Y() + 8 * 4, uint8_t(200));
    std::fill(frame.Y() + 8 * 4, frame.U(), uint8_t(40));
    std::fill(frame.U(), frame.bytes.data() + frame.bytes.size(), uint8_t(128));
    const std::string clip = dir_ + "/clip.y4m", png = dir_ + "/crop.png";
    ASSERT_TRUE(WriteFile(
        clip, Y4mBytes("W8 H6 F25:1", {std::string(frame.bytes.begin(), frame.bytes.end())})));
    RunResult run = RunPlay(dir_, {"--headless", "--no-audio", "--adapter", "none", "--crop",
                                   "0,0,8,3", "--snapshot", png, clip});
    ASSERT_EQ(run.exitCode, 0) << run.stderrText;
    Picture shot;
    ASSERT_TRUE(ReadPng(png, &shot));
    EXPECT_EQ(shot.At(4, 5), Reference(frame)[0])
        << std::hex << "bottom row shows 0x" << shot.At(4, 5) << ", not the top rows' colour";
}

// A clip as ffmpeg writes full-range BT.709 video: yuvj420p, which it tags
// XCOLORRANGE=FULL; Y4M cannot name the matrix, so the user does. Flat patches,
// 80x120, four across and two down, each centre against ffmpeg's own
// conversion of the frame.
TEST_F(Playback, FfmpegFullRangeBt709ClipShowsFfmpegsColours) {
    if (std::system("command -v ffmpeg >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "ffmpeg is not installed (scripts/deps.sh installs it for the tests)";
    // The dark grey tells the ranges apart, the colours the matrices.
    const uint32_t colours[8] = {0xC82828, 0x28B43C, 0x323CD2, 0xDCC832,
                                 0x3CBEC8, 0xBE3CB4, 0x404040, 0xEBEBEB};
    std::string graph;
    for (int i = 0; i < 8; ++i) {
        char patch[64];
        std::snprintf(patch, sizeof patch, "color=0x%06X:s=80x120:r=25,format=rgb24[p%d];",
                      static_cast<unsigned>(colours[i]), i);
        graph += patch;
    }
    graph +=
        "[p0][p1][p2][p3]hstack=4[top];[p4][p5][p6][p7]hstack=4[bottom];[top][bottom]vstack,"
        "scale=out_color_matrix=bt709:out_range=full,format=yuvj420p";
    const std::string clip = dir_ + "/clip.y4m", raw = dir_ + "/ffmpeg.rgb",
                      png = dir_ + "/shot.png";
    auto ffmpeg = [](const std::string &args) {
        return std::system(("ffmpeg -nostdin -v error " + args).c_str());
    };
    ASSERT_EQ(ffmpeg("-f lavfi -i " + Quote(graph) + " -frames:v 3 " + Quote(clip)), 0);
    // Accurate rounding: ffmpeg's fast path lands a step off the exact values.
    ASSERT_EQ(
        ffmpeg("-i " + Quote(clip) + " -frames:v 1 -vf scale=in_color_matrix=bt709:" +
               "in_range=full:flags=accurate_rnd+full_chroma_int -pix_fmt rgb24 -f rawvideo " +
               Quote(raw)),
        0);

    RunResult run = RunPlay(dir_, {"--headless", "--no-audio", "--adapter", "none", "--matrix",
                                   "bt709", "--snapshot", png, clip});
    ASSERT_EQ(run.exitCode, 0) << run.stderrText;
    EXPECT_NE(LastLine(run.stderrText).find(" | bt709 full"), std::string::npos)
        << "the range should come from the clip's tag: " << run.stderrText;
    Picture shot;
    ASSERT_TRUE(ReadPng(png, &shot));
    ASSERT_EQ(shot.width, 320);
    ASSERT_EQ(shot.height, 240);
    const std::string bytes = ReadFile(raw);
    const Picture reference{320, 240, std::vector<uint8_t>(bytes.begin(), bytes.end())};
    ASSERT_EQ(reference.rgb.size(), shot.rgb.size());
    for (int i = 0; i < 8; ++i) {
        const int x = 40 + 80 * (i % 4), y = 60 + 120 * (i / 4);
        const uint32_t want = reference.At(x, y);
        // Each colour back within a quantisation step: ffmpeg read BT.709 full range.
        ASSERT_LE(ChannelDistance(want, colours[i]), 3)
            << std::hex << "ffmpeg made 0x" << want << " of 0x" << colours[i];
        EXPECT_LE(ChannelDistance(shot.At(x, y), want), 2)
            << "patch " << i << " at (" << x << "," << y << "): got 0x" << std::hex << shot.At(x, y)
            << ", ffmpeg shows 0x" << want;
    }
}

#if KESTRA_PLAY_FFMPEG
bool HaveFfmpeg() { return std::system("command -v ffmpeg >/dev/null 2>&1") == 0; }

int Ffmpeg(const std::string &args) {
    return std::system(("ffmpeg -nostdin -v error -y " + args).c_str());
}

// Median and 95th percentile, over every pixel of a snapshot, of the largest
// channel difference from ffmpeg's picture (scaled to the snapshot by nearest
// neighbour, as GDI stretches).
struct Spread {
    int median = 0, p95 = 0;
};

Spread Compare(const Picture &shot, const Picture &reference) {
    std::vector<int> d;
    d.reserve(static_cast<size_t>(shot.width) * shot.height);
    for (int y = 0; y < shot.height; ++y)
        for (int x = 0; x < shot.width; ++x)
            d.push_back(
                ChannelDistance(shot.At(x, y), reference.At(x * reference.width / shot.width,
                                                            y * reference.height / shot.height)));
    Spread s;
    std::nth_element(d.begin(), d.begin() + static_cast<long>(d.size() / 2), d.end());
    s.median = d[d.size() / 2];
    std::nth_element(d.begin(), d.begin() + static_cast<long>(d.size() * 95 / 100), d.end());
    s.p95 = d[d.size() * 95 / 100];
    return s;
}

// The first channel of a recording, from its first to its last loud sample
// past the device's constant lead-in: the tone's pitch and length. Silences
// within (a refill the decoder was late for) count for neither.
struct Heard {
    double hertz = 0, seconds = 0;
};

Heard Listen(const std::string &bytes, int channels, int rate) {
    std::vector<int16_t> s;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2 * static_cast<size_t>(channels))
        s.push_back(static_cast<int16_t>(uint8_t(bytes[i]) | (uint8_t(bytes[i + 1]) << 8)));
    size_t start = 0;
    while (start + 1 < s.size() && s[start] == s[start + 1]) ++start;
    size_t first = s.size(), last = 0;
    for (size_t i = start; i < s.size(); ++i) {
        if (std::abs(int(s[i])) < 2000) continue;
        first = std::min(first, i);
        last = i;
    }
    Heard h;
    if (first >= last) return h;
    int crossings = 0;
    size_t quiet = 0, heard = 0;
    for (size_t i = first + 1; i <= last; ++i) {
        crossings += (s[i - 1] < 0) != (s[i] < 0);
        // The tone passes zero in a sample or two; a longer quiet is a gap.
        quiet = std::abs(int(s[i])) < 200 ? quiet + 1 : 0;
        heard += quiet < 16 ? 1 : 0;
    }
    h.seconds = double(heard) / rate;
    h.hertz = crossings / 2.0 / h.seconds;
    return h;
}

// A file as ffmpeg writes it, from 0.8 s of testsrc2 (input 0) and a sine
// (input 1, when the row has a tone).
struct FileCase {
    const char *name;
    const char *file;     // its extension picks the container
    std::string encode;   // ffmpeg's options between the inputs and the file
    const char *colours;  // the end of the status line
    int toneHz = 0;       // 0: no sound
    int rate = 0;         // the sound as played: 16-bit, this rate and channels
    int channels = 0;
    double minSeconds = 0;    // of the tone heard
    int widthScale = 1;       // window columns per picture column (sample aspect ratio)
    int keepPercent = 100;    // of the file's bytes (a truncated copy)
    std::string softer = "";  // filters after testsrc2
};

void PrintTo(const FileCase &c, std::ostream *os) { *os << c.name; }

class FfmpegFile : public Playback, public ::testing::WithParamInterface<FileCase> {};

// The last frame against ffmpeg's own RGB decode of the same file (which
// follows the stream's colour tags), and the sound as played against the tone.
TEST_P(FfmpegFile, PlaysWithFfmpegsPictureAndItsSound) {
    if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed (scripts/deps.sh installs it)";
    const FileCase &c = GetParam();
    const std::string clip = dir_ + "/" + c.file, raw = dir_ + "/ffmpeg.rgb",
                      png = dir_ + "/shot.png", wav = dir_ + "/sound.wav";
    std::string inputs = "-f lavfi -i testsrc2=s=320x240:r=25:d=0.8" + c.softer + " ";
    if (c.toneHz) inputs += "-f lavfi -i sine=f=" + std::to_string(c.toneHz) + ":d=0.8 ";
    ASSERT_EQ(Ffmpeg(inputs + c.encode + " " + Quote(clip)), 0) << c.encode;
    if (c.keepPercent < 100) {
        const std::string bytes = ReadFile(clip);
        ASSERT_TRUE(WriteFile(clip, bytes.substr(0, bytes.size() * c.keepPercent / 100)));
    }
    // Exact rounding, each chroma sample over its own pixels as the library
    // shows it: ffmpeg's default interpolation would differ at every colour
    // edge of testsrc2, its fast path by a step or two in 10 bits.
    // (Quietly: a truncated file makes ffmpeg report each partial packet.)
    ASSERT_EQ(Ffmpeg("-v fatal -i " + Quote(clip) + " -map 0:v -fps_mode passthrough -vf " +
                     "scale=flags=neighbor+accurate_rnd+full_chroma_int -pix_fmt rgb24 " +
                     "-f rawvideo " + Quote(raw)),
              0);
    const std::string frames = ReadFile(raw);
    const size_t frameBytes = 320 * 240 * 3;
    ASSERT_GE(frames.size(), frameBytes);

    RunResult run = RunPlay(
        dir_, {"--headless", "--adapter", "none", "--snapshot", png, "--audio-out", wav, clip});
    ASSERT_EQ(run.exitCode, 0) << run.stderrText;
    const std::string status = LastLine(run.stderrText);
    EXPECT_EQ(status.rfind("frame " + std::to_string(frames.size() / frameBytes) + " of ", 0), 0u)
        << "ffmpeg decoded " << frames.size() / frameBytes << " frames: " << status;
    EXPECT_EQ(status.substr(status.rfind(" | ") + 3), c.colours) << status;

    Picture shot;
    ASSERT_TRUE(ReadPng(png, &shot));
    ASSERT_EQ(shot.width, 320 * c.widthScale);
    ASSERT_EQ(shot.height, 240);
    const Picture last{320, 240, std::vector<uint8_t>(frames.end() - frameBytes, frames.end())};
    const Spread spread = Compare(shot, last);
    EXPECT_LE(spread.median, 2) << "95th percentile " << spread.p95;
    EXPECT_LE(spread.p95, 6) << "median " << spread.median;
    std::printf("%s: median %d, 95th percentile %d", c.name, spread.median, spread.p95);
    WriteFile(std::string(KESTRA_TEST_OUTPUT_DIR) + "/kestra_play_" + c.name + ".png",
              ReadFile(png));

    std::string sound;
    if (c.toneHz == 0) {
        kplay::WavReader none;
        EXPECT_FALSE(none.Open(wav) && none.dataSize() > 0) << "a file without sound played some";
        std::printf(", no sound\n");
        return;
    }
    ASSERT_TRUE(ReadWav(wav, c.rate, c.channels, 16, &sound));
    const Heard heard = Listen(sound, c.channels, c.rate);
    EXPECT_NEAR(heard.hertz, c.toneHz, 5.0) << heard.seconds << " s of tone";
    EXPECT_GE(heard.seconds, c.minSeconds) << "of 0.8 s in the file";
    std::printf(", %.1f Hz for %.2f s\n", heard.hertz, heard.seconds);
}

INSTANTIATE_TEST_SUITE_P(
    Files, FfmpegFile,
    ::testing::Values(
        FileCase{"H264Mp4", "clip.mp4", "-c:v libx264 -pix_fmt yuv420p", "bt601 studio (auto)"},
        FileCase{"Mpeg4MkvAnamorphic", "clip.mkv", "-vf setsar=2 -c:v mpeg4 -q:v 3 -c:a libopus",
                 "bt601 studio (auto)", 330, 48000, 1, 0.6, 2},
        FileCase{"Yuvj420pBt709", "clip.mp4",
                 "-vf scale=out_color_matrix=bt709:out_range=full,format=yuvj420p -c:v libx264 "
                 "-colorspace bt709 -color_primaries bt709 -color_trc bt709 -color_range pc",
                 "bt709 full"},
        // YV12 keeps every other row's chroma of 4:2:2: a camera's softer,
        // less saturated picture, where testsrc2's colours change sharply
        // every few rows and no YV12 output can follow them.
        FileCase{"Yuv422p10", "clip.mkv",
                 "-c:v libx264 -pix_fmt yuv422p10le -af 'pan=5.1|FL=c0|FR=c0|FC=c0|BL=c0|BR=c0' "
                 "-ar 96000 -c:a pcm_s24le",
                 "bt601 studio (matrix auto)", 550, 96000, 2, 0.6, 1, 100,
                 ",gblur=sigma=1.5,hue=s=0.4"},
        FileCase{"WithSound", "clip.mp4", "-c:v libx264 -ac 2 -ar 48000 -c:a aac",
                 "bt601 studio (auto)", 440, 48000, 2, 0.6},
        FileCase{"Truncated", "clip.mp4", "-c:v libx264 -c:a aac -movflags +faststart",
                 "bt601 studio (auto)", 660, 44100, 1, 0.2, 1, 60}),
    kestra_test::CaseName());
// What a run of a damaged or hostile file may do: play (0) or end with one
// line naming the reason (1); never crash, hang or grow past 64 MiB resident
// (its frames here are a few kilobytes).
::testing::AssertionResult EndedCleanly(const RunResult &run) {
    if (run.hung) return ::testing::AssertionFailure() << "still running after a minute";
    if (run.exitCode != 0 && run.exitCode != 1)
        return ::testing::AssertionFailure() << "exit " << run.exitCode << ": " << run.stderrText;
    if (run.exitCode == 1 && (run.stderrText.rfind("kestra-play: ", 0) != 0 ||
                              run.stderrText.find('\n') != run.stderrText.size() - 1))
        return ::testing::AssertionFailure() << "not one line: " << run.stderrText;
    if (run.peakKb >= 64 * 1024)
        return ::testing::AssertionFailure() << run.peakKb << " KB resident at the peak";
    return ::testing::AssertionSuccess();
}

// Byte changes and truncations of small MP4 and MKV files made here, one of
// them sound only (played over the built-in clip). KESTRA_PLAY_MUTATIONS
// asks for more runs than the default, KESTRA_PLAY_MUTATION_SEED for others.
TEST_F(Playback, DamagedFilesPlayOrEndWithOneLine) {
    if (!HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed (scripts/deps.sh installs it)";
    const std::string picture = "-f lavfi -i testsrc2=s=64x48:r=25:d=0.32 ",
                      sound = "-f lavfi -i sine=f=440:d=0.32 ";
    const std::vector<std::pair<std::string, std::string>> seeds = {
        {"seed.mp4", picture + sound + "-c:v libx264 -c:a aac"},
        {"seed.mkv", picture + sound + "-c:v mpeg4 -c:a libopus"},
        {"sound.mkv", sound + "-c:a libvorbis"}};
    std::vector<std::string> bytes;
    for (const auto &s : seeds) {
        const std::string path = dir_ + "/" + s.first;
        ASSERT_EQ(Ffmpeg(s.second + " " + Quote(path)), 0) << s.second;
        bytes.push_back(ReadFile(path));
        RunResult run = RunPlay(
            dir_, {"--headless", "--adapter", "none", "--audio-out", dir_ + "/sound.wav", path},
            60);
        EXPECT_EQ(run.exitCode, 0) << s.first << ": " << run.stderrText;
        EXPECT_TRUE(EndedCleanly(run)) << s.first;
    }
    // A picture side past the library's surfaces is refused before decoding.
    const std::string wide = dir_ + "/wide.mkv";
    ASSERT_EQ(Ffmpeg("-f lavfi -i color=s=16400x16:d=0.04 -c:v ffv1 " + Quote(wide)), 0);
    RunResult refused = RunPlay(dir_, {"--headless", wide}, 60);
    EXPECT_EQ(refused.exitCode, 1) << refused.stderrText;
    EXPECT_NE(refused.stderrText.find("16400x16, larger than 16384 on a side"), std::string::npos)
        << refused.stderrText;
    EXPECT_TRUE(EndedCleanly(refused));
    // An odd side just under the area limit plays: decoders round the width up
    // to their row alignment before they check it against the limit.
    const std::string largest = dir_ + "/largest.mkv";
    ASSERT_EQ(
        Ffmpeg("-f lavfi -i color=s=8193x4095:d=0.04,format=yuv444p -c:v ffv1 " + Quote(largest)),
        0);
    RunResult large = RunPlay(dir_, {"--headless", "--no-audio", "--adapter", "none", largest}, 60);
    EXPECT_EQ(large.exitCode, 0) << large.stderrText;

    const char *wanted = std::getenv("KESTRA_PLAY_MUTATIONS");
    const char *seedText = std::getenv("KESTRA_PLAY_MUTATION_SEED");
    const int runs = wanted ? std::atoi(wanted) : 72;
    const unsigned seed = seedText ? static_cast<unsigned>(std::strtoul(seedText, nullptr, 10)) : 1;
    std::mt19937 random(seed);
    long peakKb = refused.peakKb;
    int played = 0;
    for (int i = 0; i < runs; ++i) {
        const size_t which = static_cast<size_t>(i) % seeds.size();
        std::string mutant = bytes[which];
        if (random() % 3 == 0) {
            mutant.resize(random() % mutant.size());
        } else {
            for (unsigned n = 1 + random() % 8; n > 0; --n)
                mutant[random() % mutant.size()] = static_cast<char>(random() & 0xFF);
        }
        const std::string path = dir_ + "/mutant" + seeds[which].first.substr(4);
        ASSERT_TRUE(WriteFile(path, mutant));
        RunResult run = RunPlay(
            dir_, {"--headless", "--adapter", "none", "--audio-out", dir_ + "/sound.wav", path},
            60);
        peakKb = std::max(peakKb, run.peakKb);
        played += run.exitCode == 0;
        const ::testing::AssertionResult clean = EndedCleanly(run);
        if (clean) continue;
        const std::string keep = std::string(KESTRA_TEST_OUTPUT_DIR) + "/mutant-" +
                                 std::to_string(seed) + "-" + std::to_string(i) +
                                 seeds[which].first.substr(4);
        WriteFile(keep, mutant);
        ADD_FAILURE() << "run " << i << " of seed " << seed << " (kept as " << keep
                      << "): " << clean.message();
    }
    std::printf(
        "%d damaged files (seed %u): %d played, the others ended with one line; "
        "at most %ld KB resident\n",
        runs, seed, played, peakKb);
}
#endif  // KESTRA_PLAY_FFMPEG

// The clip and the sound file, when given, are written to the scratch
// directory and passed after the arguments ("@" stands for the directory).
struct BadRun {
    const char *name;
    std::string clipBytes;
    const char *reason;
    std::vector<std::string> args = {};
    std::string wavBytes = "";
    int exitCode = 1;
    std::string shell = "";  // run before the tool, in its shell
};

class PlaybackRefuses : public Playback, public ::testing::WithParamInterface<BadRun> {};

TEST_P(PlaybackRefuses, WithOneLineAndAFailingExit) {
    const BadRun &c = GetParam();
    // Without --no-audio when there is a WAV to read.
    std::vector<std::string> args = {"--headless"};
    if (c.wavBytes.empty()) args.push_back("--no-audio");
    for (std::string a : c.args) {
        if (a[0] == '@') a.replace(0, 1, dir_);
        args.push_back(a);
    }
    if (!c.clipBytes.empty()) {
        ASSERT_TRUE(WriteFile(dir_ + "/clip.y4m", c.clipBytes));
        args.push_back(dir_ + "/clip.y4m");
    }
    if (!c.wavBytes.empty()) {
        ASSERT_TRUE(WriteFile(dir_ + "/sound.wav", c.wavBytes));
        args.push_back(dir_ + "/sound.wav");
    }
    RunResult run = RunPlay(dir_, args, 60, c.shell);
    EXPECT_EQ(run.exitCode, c.exitCode) << run.stderrText;
    EXPECT_EQ(run.stderrText.rfind("kestra-play: ", 0), 0u) << run.stderrText;
    EXPECT_EQ(run.stderrText.find('\n'), run.stderrText.size() - 1)
        << "expected exactly one line: " << run.stderrText;
    EXPECT_NE(run.stderrText.find(c.reason), std::string::npos)
        << "expected '" << c.reason << "' in: " << run.stderrText;
    // Every clip here is tiny or refused before a frame is allocated.
    EXPECT_LT(run.peakKb, 64 * 1024) << "KB resident at the peak";
}

const std::string kGoodClip = Y4mBytes("W8 H4 F25:1", {SolidFrame(8, 4, 0), SolidFrame(8, 4, 1)});

INSTANTIATE_TEST_SUITE_P(
    Inputs, PlaybackRefuses,
    ::testing::Values(
        BadRun{"MissingClip", "", "absent.y4m: No such file", {"@/absent.y4m"}},
        BadRun{"NotAClip", "RIFF....WAVE", "not a YUV4MPEG2 file"},
        BadRun{"Chroma411", "YUV4MPEG2 W8 H4 F25:1 C411\n", "unsupported chroma 'C411'"},
        BadRun{"TinySize", "YUV4MPEG2 W1 H4 F25:1\n", "too small"},
        BadRun{"HugeSize", "YUV4MPEG2 W8192 H8192 F25:1\n", "too large"},
        BadRun{"TruncatedFrame", kGoodClip.substr(0, kGoodClip.size() - 10),
               "frame 2 is truncated"},
        BadRun{"NoFrames", "YUV4MPEG2 W8 H4 F25:1\n", "has no frames"},
        BadRun{"FrameLargerThanFile", "YUV4MPEG2 W8192 H4096 F25:1 C444\nFRAME\n",
               "frame 1 is truncated (0 of 100663296 bytes)"},
        BadRun{
            "WavFloat64",
            kGoodClip,
            "64-bit float samples",
            {},
            Riff(Chunk("fmt ", FmtBody(3, 2, 44100, 64, 16)) + Chunk("data", "abcdefghijklmnop"))},
        BadRun{"CropOutsideFrame",
               kGoodClip,
               "--crop right edge 16 lies outside the 8x4 frame",
               {"--crop", "0,0,16,4"}},
        BadRun{"SnapshotUnwritable", "", "cannot write", {"--snapshot", "@/no/such/dir/s.png"}},
        BadRun{"AudioOutFull",
               kGoodClip,
               "cannot write /dev/full: No space left on device",
               {"--audio-out", "/dev/full"},
               Riff(Chunk("fmt ", FmtBody(1, 1, 8000, 8, 1)) + Chunk("data", "abcdefgh"))},
        // A disk that fills partway: a file size limit below the first buffer.
        BadRun{
            "AudioOutFillsUp",
            kGoodClip,
            "sound.out.wav: File too large",
            {"--audio-out", "@/sound.out.wav"},
            Riff(Chunk("fmt ", FmtBody(1, 2, 48000, 16, 4)) + Chunk("data", std::string(9600, 1))),
            1,
            "ulimit -f 8; "},
        BadRun{"BadOption", "", "bad value '-3' for --frames", {"--frames", "-3"}, "", 2}),
    kestra_test::CaseName());

}  // namespace
