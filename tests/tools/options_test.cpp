// kestra-play's command line: what a user types and what must be refused.
#include <gtest/gtest.h>

#include <vector>

#include "options.h"
#include "tool_files.h"

using kplay::Options;
using kplay::ParseOptions;
using kplay::ParseResult;

namespace {

ParseResult Parse(std::vector<const char *> args, Options *o, std::string *error,
                  bool standIn = true) {
    args.insert(args.begin(), "kestra-play");
    return ParseOptions(static_cast<int>(args.size()), args.data(), standIn, o, error);
}

TEST(PlayOptions, EveryOptionReachesItsField) {
    Options o;
    std::string error;
    ASSERT_EQ(Parse({"--frames",   "12",         "--fps=29.97",
                     "--loop",     "--window",   "320x240",
                     "--mirror",   "--crop",     "8,4,632,356",
                     "--osd",      "hello",      "--volume",
                     "0",          "--no-audio", "--headless",
                     "--snapshot", "a.png",      "--audio-out=b.wav",
                     "--adapter",  "blt",        "--range=full",
                     "--matrix",   "bt709",      "--scaling",
                     "smooth",     "clip.y4m",   "sound.wav"},
                    &o, &error),
              ParseResult::Run)
        << error;
    EXPECT_EQ(o.frames, 12);
    EXPECT_EQ(o.fpsNum, 29970);
    EXPECT_EQ(o.fpsDen, 1000);
    EXPECT_TRUE(o.loop);
    EXPECT_EQ(o.windowWidth, 320);
    EXPECT_EQ(o.windowHeight, 240);
    EXPECT_TRUE(o.mirror);
    EXPECT_TRUE(o.crop);
    EXPECT_EQ(o.cropLeft, 8);
    EXPECT_EQ(o.cropTop, 4);
    EXPECT_EQ(o.cropRight, 632);
    EXPECT_EQ(o.cropBottom, 356);
    EXPECT_EQ(o.osdText, "hello");
    EXPECT_EQ(o.volume, 0);
    EXPECT_TRUE(o.noAudio);
    EXPECT_TRUE(o.headless);
    EXPECT_EQ(o.snapshotPath, "a.png");
    EXPECT_EQ(o.audioOutPath, "b.wav");
    EXPECT_EQ(o.adapter, "blt");
    EXPECT_EQ(o.matrix, 1);
    EXPECT_EQ(o.range, 1);
    EXPECT_EQ(o.scaling, 1);
    EXPECT_EQ(o.clipPath, "clip.y4m");
    EXPECT_EQ(o.wavPath, "sound.wav");
}

TEST(PlayOptions, NoArgumentsMeansTheBuiltInClipWithDefaults) {
    Options o;
    std::string error;
    ASSERT_EQ(Parse({}, &o, &error), ParseResult::Run);
    EXPECT_TRUE(o.clipPath.empty());
    EXPECT_EQ(o.frames, -1);
    EXPECT_EQ(o.fpsNum, 0);
    EXPECT_EQ(o.volume, -1);
    EXPECT_FALSE(o.crop);
    EXPECT_EQ(o.matrix, -1);
    EXPECT_EQ(o.range, -1);
    // Auto takes BT.709 from 1280 columns or past 576 lines.
    EXPECT_EQ(kplay::AutoMatrix(1279, 576), 0);
    EXPECT_EQ(kplay::AutoMatrix(1280, 480), 1);
    EXPECT_EQ(kplay::AutoMatrix(704, 577), 1);
    EXPECT_EQ(Parse({"--help"}, &o, &error), ParseResult::Help);
}

struct BadArgs {
    const char *name;
    std::vector<const char *> args;
    bool standIn;
    const char *reason;
};

class PlayOptionsRefused : public ::testing::TestWithParam<BadArgs> {};

TEST_P(PlayOptionsRefused, WithOneLineNamingTheArgument) {
    const BadArgs &c = GetParam();
    Options o;
    std::string error;
    EXPECT_EQ(Parse(c.args, &o, &error, c.standIn), ParseResult::Error);
    EXPECT_NE(error.find(c.reason), std::string::npos)
        << "expected '" << c.reason << "' in: " << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << error;
}

INSTANTIATE_TEST_SUITE_P(
    Args, PlayOptionsRefused,
    ::testing::Values(
        BadArgs{"UnknownOption", {"--fast"}, true, "unknown option '--fast'"},
        BadArgs{"FlagWithValue", {"--loop=1"}, true, "unknown option '--loop=1'"},
        BadArgs{"MissingValue", {"--frames"}, true, "--frames needs a value"},
        BadArgs{"ZeroFrames", {"--frames", "0"}, true, "bad value '0' for --frames"},
        BadArgs{"NegativeFps", {"--fps", "-5"}, true, "bad value '-5' for --fps"},
        BadArgs{"FpsTrailingText", {"--fps", "25fps"}, true, "for --fps"},
        BadArgs{"WindowOneNumber", {"--window", "640"}, true, "for --window"},
        BadArgs{"WindowHuge", {"--window", "100000x480"}, true, "for --window"},
        BadArgs{"CropThreeNumbers", {"--crop", "1,2,3"}, true, "for --crop"},
        BadArgs{"CropEmpty", {"--crop", "10,0,10,20"}, true, "L<R"},
        BadArgs{"VolumeAbove100", {"--volume", "101"}, true, "for --volume"},
        BadArgs{"AdapterUnknown", {"--adapter", "gl"}, true, "fourcc, blt or none"},
        BadArgs{"MatrixUnknown", {"--matrix", "bt2020"}, true, "bad value 'bt2020' for --matrix"},
        BadArgs{"ScalingUnknown", {"--scaling", "bilinear"}, true, "fast or smooth"},
        BadArgs{"EmptySnapshotName", {"--snapshot="}, true, "for --snapshot (expected a file"},
        BadArgs{"ThreeFiles", {"a.y4m", "b.wav", "c"}, true, "too many files"},
        BadArgs{"AdapterOnWindows", {"--adapter", "blt"}, false, "only available in the Linux"}),
    kestra_test::CaseName());

}  // namespace
