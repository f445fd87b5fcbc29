// The clip reader against files it must play and files it must refuse.
#include <gtest/gtest.h>

#include "tool_files.h"
#include "y4m.h"

using kestra_test::SolidFrame;
using kestra_test::Y4mBytes;
using kplay::Y4mReader;

namespace {

class Y4mFiles : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = kestra_test::MakeScratchDir();
        ASSERT_FALSE(dir_.empty());
    }
    void TearDown() override { kestra_test::RemoveScratchDir(dir_); }
    std::string Write(const std::string &bytes) {
        std::string path = dir_ + "/clip" + std::to_string(count_++) + ".y4m";
        EXPECT_TRUE(kestra_test::WriteFile(path, bytes));
        return path;
    }
    std::string dir_;
    int count_ = 0;
};

struct GoodClip {
    const char *name;
    std::string fields;
    std::string marker;
    int width, height, fpsNum, fpsDen;
};

class Y4mGoodClip : public Y4mFiles, public ::testing::WithParamInterface<GoodClip> {};

TEST_P(Y4mGoodClip, ReadsEveryFrameThenEndsAndRewinds) {
    const GoodClip &c = GetParam();
    std::vector<std::string> frames;
    for (int i = 0; i < 3; ++i) frames.push_back(SolidFrame(c.width, c.height, i));
    Y4mReader reader;
    ASSERT_TRUE(reader.Open(Write(Y4mBytes(c.fields, frames, c.marker)))) << reader.error();
    EXPECT_EQ(reader.header().width, c.width);
    EXPECT_EQ(reader.header().height, c.height);
    EXPECT_EQ(reader.header().fpsNum, c.fpsNum);
    EXPECT_EQ(reader.header().fpsDen, c.fpsDen);
    kplay::YuvFrame frame;
    for (int pass = 0; pass < 2; ++pass) {
        for (int i = 0; i < 3; ++i) {
            ASSERT_EQ(reader.ReadFrame(&frame), Y4mReader::Result::Frame)
                << "pass " << pass << " frame " << i << ": " << reader.error();
            EXPECT_EQ(std::string(frame.bytes.begin(), frame.bytes.end()), frames[i])
                << "pass " << pass << " frame " << i;
        }
        EXPECT_EQ(reader.ReadFrame(&frame), Y4mReader::Result::End) << "pass " << pass;
        ASSERT_TRUE(reader.Rewind());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Clips, Y4mGoodClip,
    ::testing::Values(
        GoodClip{"NoChromaField", "W4 H2 F25:1", "FRAME", 4, 2, 25, 1},
        GoodClip{"AllFields", "W6 H4 F30000:1001 Ip A1:1 C420jpeg XYSCSS=420JPEG", "FRAME", 6, 4,
                 30000, 1001},
        GoodClip{"Mpeg2Siting", "W8 H2 F50:1 C420mpeg2 It", "FRAME", 8, 2, 50, 1},
        GoodClip{"PalDvSiting", "W2 H2 F25:1 C420paldv", "FRAME", 2, 2, 25, 1},
        GoodClip{"PlainC420", "W4 H4 C420 F24:1", "FRAME", 4, 4, 24, 1},
        GoodClip{"FieldsInAnyOrderUnknownIgnored", "F1:2 Zq H2 W4", "FRAME", 4, 2, 1, 2},
        GoodClip{"MarkerWithParameters", "W4 H2 F25:1", "FRAME Ip XFOO=1", 4, 2, 25, 1}),
    kestra_test::CaseName());

struct BadHeader {
    const char *name;
    std::string bytes;
    const char *reason;  // expected within the error line
};

class Y4mBadHeader : public Y4mFiles, public ::testing::WithParamInterface<BadHeader> {};

TEST_P(Y4mBadHeader, IsRefusedWithAReason) {
    const BadHeader &c = GetParam();
    const std::string path = Write(c.bytes);
    Y4mReader reader;
    EXPECT_FALSE(reader.Open(path));
    EXPECT_NE(reader.error().find(c.reason), std::string::npos)
        << "expected '" << c.reason << "' in: " << reader.error();
    EXPECT_EQ(reader.error().find('\n'), std::string::npos) << reader.error();
    EXPECT_EQ(reader.error().rfind(path, 0), 0u)
        << "error should name the file: " << reader.error();
}

INSTANTIATE_TEST_SUITE_P(
    Headers, Y4mBadHeader,
    ::testing::Values(
        BadHeader{"Empty", "", "no header line"},
        BadHeader{"NoLineFeed", "YUV4MPEG2 W4 H2 F25:1", "no header line"},
        BadHeader{"WrongSignature", "YUV4MPEG W4 H2 F25:1\n", "bad signature"},
        BadHeader{"SignatureRunOn", "YUV4MPEG2W4 H2 F25:1\n", "bad signature"},
        BadHeader{"NoWidth", "YUV4MPEG2 H2 F25:1\n", "lacks W"},
        BadHeader{"NoHeight", "YUV4MPEG2 W4 F25:1\n", "lacks H"},
        BadHeader{"NoRate", "YUV4MPEG2 W4 H2\n", "lacks F"},
        BadHeader{"OddWidth", "YUV4MPEG2 W5 H2 F25:1\n", "odd frame size 5x2"},
        BadHeader{"OddHeight", "YUV4MPEG2 W4 H3 F25:1\n", "odd frame size 4x3"},
        BadHeader{"ZeroWidth", "YUV4MPEG2 W0 H2 F25:1\n", "bad or too large frame width"},
        BadHeader{"NegativeHeight", "YUV4MPEG2 W4 H-2 F25:1\n", "bad or too large frame height"},
        BadHeader{"HugeSide", "YUV4MPEG2 W99999999999999 H2 F25:1\n", "too large"},
        BadHeader{"HugeArea", "YUV4MPEG2 W8192 H8192 F25:1\n", "too large"},
        BadHeader{"RateWithoutDenominator", "YUV4MPEG2 W4 H2 F25\n", "bad frame rate"},
        BadHeader{"ZeroDenominator", "YUV4MPEG2 W4 H2 F25:0\n", "bad frame rate"},
        BadHeader{"Chroma422", "YUV4MPEG2 W4 H2 F25:1 C422\n", "unsupported chroma 'C422'"},
        BadHeader{"Chroma444", "YUV4MPEG2 W4 H2 F25:1 C444\n", "unsupported chroma"},
        BadHeader{"Chroma420Deep", "YUV4MPEG2 W4 H2 F25:1 C420p10\n", "unsupported chroma"},
        BadHeader{"BadInterlace", "YUV4MPEG2 W4 H2 F25:1 Ix\n", "bad interlacing"},
        BadHeader{"EndlessHeader", "YUV4MPEG2 W4 H2 F25:1 X" + std::string(10000, 'a') + "\n",
                  "too long"}),
    kestra_test::CaseName());

TEST_F(Y4mFiles, MissingFileIsAnError) {
    Y4mReader reader;
    EXPECT_FALSE(reader.Open(dir_ + "/absent.y4m"));
    EXPECT_NE(reader.error().find("absent.y4m"), std::string::npos) << reader.error();
}

struct BadBody {
    const char *name;
    std::string tail;  // after one good 4x2 frame
    const char *reason;
};

class Y4mBadBody : public Y4mFiles, public ::testing::WithParamInterface<BadBody> {};

TEST_P(Y4mBadBody, SecondFrameIsAnErrorNotAnEnd) {
    const BadBody &c = GetParam();
    Y4mReader reader;
    ASSERT_TRUE(reader.Open(Write(Y4mBytes("W4 H2 F25:1", {SolidFrame(4, 2, 0)}) + c.tail)));
    kplay::YuvFrame frame;
    ASSERT_EQ(reader.ReadFrame(&frame), Y4mReader::Result::Frame) << reader.error();
    EXPECT_EQ(reader.ReadFrame(&frame), Y4mReader::Result::Error);
    EXPECT_NE(reader.error().find(c.reason), std::string::npos)
        << "expected '" << c.reason << "' in: " << reader.error();
}

INSTANTIATE_TEST_SUITE_P(
    Frames, Y4mBadBody,
    ::testing::Values(BadBody{"TruncatedData", "FRAME\n" + std::string(5, 'x'),
                              "frame 2 is truncated (5 of 12 bytes)"},
                      BadBody{"MarkerOnly", "FRAME\n", "frame 2 is truncated (0 of 12"},
                      BadBody{"CutMarker", "FRA", "frame 2: truncated frame marker"},
                      BadBody{"WrongMarker", "FRAMX\n" + std::string(12, 'x'), "bad frame marker"},
                      BadBody{"MarkerRunOn", "FRAMEX\n" + std::string(12, 'x'), "bad frame marker"},
                      BadBody{"EndlessMarker", "FRAME " + std::string(10000, 'p'), "too long"}),
    kestra_test::CaseName());

TEST_F(Y4mFiles, EstimatesFramesFromTheFileSize) {
    std::vector<std::string> frames(7, SolidFrame(6, 4, 1));
    Y4mReader reader;
    ASSERT_TRUE(reader.Open(Write(Y4mBytes("W6 H4 F25:1", frames))));
    EXPECT_EQ(reader.EstimatedFrames(), 7);
}

}  // namespace
