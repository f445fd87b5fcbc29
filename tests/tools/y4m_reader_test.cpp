// The clip reader against files it must play and files it must refuse.
#include <gtest/gtest.h>

#include "tool_files.h"
#include "y4m.h"

using kestra_test::ScratchFiles;
using kestra_test::SolidFrame;
using kestra_test::Y4mBytes;
using kplay::Y4mReader;

namespace {

struct GoodClip {
    const char *name;
    std::string fields;
    std::string marker;
    int width, height, fpsNum, fpsDen;
    std::string raw;  // each frame as stored; "": SolidFrame, handed out as it is
    std::string out;  // what the reader hands out for `raw`
};

std::string Bytes(std::initializer_list<int> v) {
    std::string s;
    for (int x : v) s += static_cast<char>(x);
    return s;
}

class Y4mGoodClip : public ScratchFiles, public ::testing::WithParamInterface<GoodClip> {};

TEST_P(Y4mGoodClip, ReadsEveryFrameThenEndsAndRewinds) {
    const GoodClip &c = GetParam();
    std::vector<std::string> frames, expected;
    for (int i = 0; i < 3; ++i) {
        frames.push_back(c.raw.empty() ? SolidFrame(c.width, c.height, i) : c.raw);
        expected.push_back(c.raw.empty() ? frames.back() : c.out);
    }
    Y4mReader reader;
    ASSERT_TRUE(reader.Open(Write(Y4mBytes(c.fields, frames, c.marker), ".y4m"))) << reader.error();
    EXPECT_EQ(reader.header().width, c.width);
    EXPECT_EQ(reader.header().height, c.height);
    EXPECT_EQ(reader.header().fpsNum, c.fpsNum);
    EXPECT_EQ(reader.header().fpsDen, c.fpsDen);
    kplay::YuvFrame frame;
    for (int pass = 0; pass < 2; ++pass) {
        for (int i = 0; i < 3; ++i) {
            ASSERT_EQ(reader.ReadFrame(&frame), Y4mReader::Result::Frame)
                << "pass " << pass << " frame " << i << ": " << reader.error();
            EXPECT_EQ(std::string(frame.bytes.begin(), frame.bytes.end()), expected[i])
                << "pass " << pass << " frame " << i;
        }
        EXPECT_EQ(reader.ReadFrame(&frame), Y4mReader::Result::End) << "pass " << pass;
        ASSERT_TRUE(reader.Rewind());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Clips, Y4mGoodClip,
    ::testing::Values(
        GoodClip{"NoChromaField", "W4 H2 F25:1", "FRAME", 4, 2, 25, 1, "", ""},
        GoodClip{"AllFields", "W6 H4 F30000:1001 Ip A1:1 C420jpeg XYSCSS=420JPEG", "FRAME", 6, 4,
                 30000, 1001, "", ""},
        GoodClip{"Mpeg2Siting", "W8 H2 F50:1 C420mpeg2 It", "FRAME", 8, 2, 50, 1, "", ""},
        GoodClip{"PalDvSiting", "W2 H2 F25:1 C420paldv", "FRAME", 2, 2, 25, 1, "", ""},
        GoodClip{"PlainC420", "W4 H4 C420 F24:1", "FRAME", 4, 4, 24, 1, "", ""},
        GoodClip{"FieldsInAnyOrderUnknownIgnored", "F1:2 Zq H2 W4", "FRAME", 4, 2, 1, 2, "", ""},
        GoodClip{"MarkerWithParameters", "W4 H2 F25:1", "FRAME Ip XFOO=1", 4, 2, 25, 1, "", ""},
        GoodClip{"AnyInterlaceIgnored", "W4 H2 F25:1 Imixed", "FRAME", 4, 2, 25, 1, "", ""},
        // Odd sizes keep the chroma the library takes: the first (w/2) x (h/2).
        GoodClip{"OddSize420", "W5 H3 F25:1", "FRAME", 5, 3, 25, 1,
                 std::string(15, 'y') + Bytes({10, 11, 12, 20, 21, 22, 30, 31, 32, 40, 41, 42}),
                 std::string(15, 'y') + Bytes({10, 11, 30, 31})},
        GoodClip{"Chroma422AveragesRowPairs", "W4 H2 F25:1 C422", "FRAME", 4, 2, 25, 1,
                 std::string(8, 'y') + Bytes({10, 20, 30, 40, 1, 2, 4, 7}),
                 std::string(8, 'y') + Bytes({20, 30, 3, 5})},
        GoodClip{"OddSize444AveragesBlocks", "W3 H3 F25:1 C444", "FRAME", 3, 3, 25, 1,
                 std::string(9, 'y') + Bytes({10, 20, 99, 30, 41, 99, 99, 99, 99}) +
                     Bytes({1, 1, 9, 1, 2, 9, 9, 9, 9}),
                 std::string(9, 'y') + Bytes({25, 1})},
        GoodClip{"MonoIsGrey", "W4 H2 F25:1 Cmono", "FRAME", 4, 2, 25, 1, std::string(8, 'y'),
                 std::string(8, 'y') + Bytes({128, 128, 128, 128})}),
    kestra_test::CaseName());

struct BadHeader {
    const char *name;
    std::string bytes;
    const char *reason;  // expected within the error line
};

class Y4mBadHeader : public ScratchFiles, public ::testing::WithParamInterface<BadHeader> {};

TEST_P(Y4mBadHeader, IsRefusedWithAReason) {
    const BadHeader &c = GetParam();
    const std::string path = Write(c.bytes, ".y4m");
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
        BadHeader{"OneColumn", "YUV4MPEG2 W1 H2 F25:1\n", "frame size 1x2 is too small"},
        BadHeader{"Chroma411", "YUV4MPEG2 W4 H2 F25:1 C411\n", "unsupported chroma 'C411'"},
        BadHeader{"ZeroWidth", "YUV4MPEG2 W0 H2 F25:1\n", "bad or too large frame width"},
        BadHeader{"NegativeHeight", "YUV4MPEG2 W4 H-2 F25:1\n", "bad or too large frame height"},
        BadHeader{"HugeSide", "YUV4MPEG2 W99999999999999 H2 F25:1\n", "too large"},
        BadHeader{"HugeArea", "YUV4MPEG2 W8192 H8192 F25:1\n", "too large"},
        BadHeader{"RateWithoutDenominator", "YUV4MPEG2 W4 H2 F25\n", "bad frame rate"},
        BadHeader{"ZeroDenominator", "YUV4MPEG2 W4 H2 F25:0\n", "bad frame rate"},
        BadHeader{"RateOnceIn68Years", "YUV4MPEG2 W4 H2 F1:2147483647\n",
                  "frame rate 1:2147483647 is outside 0.1 to 1000"},
        BadHeader{"ControlBytesEscaped",
                  std::string("YUV4MPEG2 W4 H2 F25:1 C\x1b[2J") + '\0' + "\n",
                  "unsupported chroma 'C\\x1b[2J\\x00'"},
        BadHeader{"Chroma444Alpha", "YUV4MPEG2 W4 H2 F25:1 C444alpha\n", "unsupported chroma"},
        BadHeader{"Chroma422Deep", "YUV4MPEG2 W4 H2 F25:1 C422p10\n", "unsupported chroma"},
        BadHeader{"Chroma420Deep", "YUV4MPEG2 W4 H2 F25:1 C420p10\n", "unsupported chroma"},
        BadHeader{"EndlessHeader", "YUV4MPEG2 W4 H2 F25:1 X" + std::string(10000, 'a') + "\n",
                  "too long"}),
    kestra_test::CaseName());

struct BadBody {
    const char *name;
    std::string tail;  // after one good 4x2 frame
    const char *reason;
};

class Y4mBadBody : public ScratchFiles, public ::testing::WithParamInterface<BadBody> {};

TEST_P(Y4mBadBody, SecondFrameIsAnErrorNotAnEnd) {
    const BadBody &c = GetParam();
    Y4mReader reader;
    ASSERT_TRUE(
        reader.Open(Write(Y4mBytes("W4 H2 F25:1", {SolidFrame(4, 2, 0)}) + c.tail, ".y4m")));
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

TEST_F(ScratchFiles, Y4mReaderEstimatesFramesFromTheFileSize) {
    std::vector<std::string> frames(7, SolidFrame(6, 4, 1));
    Y4mReader reader;
    ASSERT_TRUE(reader.Open(Write(Y4mBytes("W6 H4 F25:1", frames), ".y4m")));
    EXPECT_EQ(reader.EstimatedFrames(), 7);
}

}  // namespace
