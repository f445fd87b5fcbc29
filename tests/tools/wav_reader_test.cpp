// The WAV reader against files it must play and files it must refuse.
#include <gtest/gtest.h>

#include "tool_files.h"
#include "wav.h"

using namespace kestra_test;
using kplay::WavReader;

namespace {

std::string Samples(size_t count) {
    std::string s;
    for (size_t i = 0; i < count; ++i) s += static_cast<char>(i * 7 + 3);
    return s;
}

// WAVE_FORMAT_EXTENSIBLE body: base fmt, cbSize 22, valid bits, mask, GUID.
std::string ExtensibleBody(uint16_t subTag) {
    std::string guidTail =
        std::string("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 14);
    return FmtBody(0xFFFE, 2, 48000, 16, 4) + Le16(22) + Le16(16) + Le32(3) + Le16(subTag) +
           guidTail;
}

class WavFiles : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = MakeScratchDir();
        ASSERT_FALSE(dir_.empty());
    }
    void TearDown() override { kestra_test::RemoveScratchDir(dir_); }
    std::string Write(const std::string &bytes) {
        std::string path = dir_ + "/sound" + std::to_string(count_++) + ".wav";
        EXPECT_TRUE(WriteFile(path, bytes));
        return path;
    }
    std::string dir_;
    int count_ = 0;
};

struct GoodWav {
    const char *name;
    std::string bytes;  // the data chunk holds Samples(dataBytes)
    int channels, rate, bits;
    size_t dataBytes;
};

class WavGood : public WavFiles, public ::testing::WithParamInterface<GoodWav> {};

TEST_P(WavGood, ReadsFormatAndEverySampleThenRewinds) {
    const GoodWav &c = GetParam();
    WavReader reader;
    ASSERT_TRUE(reader.Open(Write(c.bytes))) << reader.error();
    EXPECT_EQ(reader.format().channels, c.channels);
    EXPECT_EQ(reader.format().sampleRate, c.rate);
    EXPECT_EQ(reader.format().bitsPerSample, c.bits);
    EXPECT_EQ(reader.format().blockAlign, c.channels * c.bits / 8);
    EXPECT_EQ(reader.dataSize(), c.dataBytes);
    for (int pass = 0; pass < 2; ++pass) {
        // Odd request sizes still hand out whole sample frames only.
        std::string got;
        uint8_t buffer[7];
        size_t n;
        while ((n = reader.Read(buffer, sizeof buffer)) > 0) {
            EXPECT_EQ(n % reader.format().blockAlign, 0u) << "pass " << pass;
            got.append(reinterpret_cast<char *>(buffer), n);
        }
        EXPECT_EQ(got, Samples(c.dataBytes)) << "pass " << pass;
        ASSERT_TRUE(reader.Rewind());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, WavGood,
    ::testing::Values(
        GoodWav{"Stereo16",
                Riff(Chunk("fmt ", FmtBody(1, 2, 44100, 16, 4)) + Chunk("data", Samples(64))), 2,
                44100, 16, 64},
        GoodWav{"Mono8",
                Riff(Chunk("fmt ", FmtBody(1, 1, 8000, 8, 1)) + Chunk("data", Samples(33))), 1,
                8000, 8, 33},
        GoodWav{
            "Mono16LongFmt",
            Riff(Chunk("fmt ", FmtBody(1, 1, 22050, 16, 2) + Le16(0)) + Chunk("data", Samples(20))),
            1, 22050, 16, 20},
        GoodWav{"UnknownChunksSkippedWithPadding",
                Riff(Chunk("LIST", "abc") + Chunk("fmt ", FmtBody(1, 2, 48000, 8, 2)) +
                     Chunk("fact", Le32(5)) + Chunk("data", Samples(10))),
                2, 48000, 8, 10},
        GoodWav{"ExtensiblePcm",
                Riff(Chunk("fmt ", ExtensibleBody(1)) + Chunk("data", Samples(16))), 2, 48000, 16,
                16},
        // Partial last sample frame is dropped.
        GoodWav{"DataNotWholeFrames",
                Riff(Chunk("fmt ", FmtBody(1, 2, 44100, 16, 4)) + Chunk("data", Samples(10))), 2,
                44100, 16, 8},
        // Streaming writers leave the size open: play what the file holds.
        GoodWav{"DataSizeBeyondFile",
                Riff(Chunk("fmt ", FmtBody(1, 2, 44100, 16, 4))) + "data" + Le32(0xFFFFFFFF) +
                    Samples(40),
                2, 44100, 16, 40}),
    kestra_test::CaseName());

struct BadWav {
    const char *name;
    std::string bytes;
    const char *reason;
};

class WavBad : public WavFiles, public ::testing::WithParamInterface<BadWav> {};

TEST_P(WavBad, IsRefusedWithAReason) {
    const BadWav &c = GetParam();
    WavReader reader;
    EXPECT_FALSE(reader.Open(Write(c.bytes)));
    EXPECT_NE(reader.error().find(c.reason), std::string::npos)
        << "expected '" << c.reason << "' in: " << reader.error();
    uint8_t buffer[16];
    EXPECT_EQ(reader.Read(buffer, sizeof buffer), 0u) << "a refused file yields no samples";
}

const std::string kData = Chunk("data", Samples(8));

INSTANTIATE_TEST_SUITE_P(
    Files, WavBad,
    ::testing::Values(
        BadWav{"Empty", "", "not a RIFF/WAVE file"},
        BadWav{"NotRiff", "RIFX" + Le32(4) + "WAVE", "not a RIFF/WAVE file"},
        BadWav{"NotWave", "RIFF" + Le32(4) + "AVI ", "not a RIFF/WAVE file"},
        BadWav{"NoChunks", Riff(""), "no fmt chunk"},
        BadWav{"NoData", Riff(Chunk("fmt ", FmtBody(1, 2, 44100, 16, 4))), "no data chunk"},
        BadWav{"DataBeforeFmt", Riff(kData + Chunk("fmt ", FmtBody(1, 2, 44100, 16, 4))),
               "data chunk comes before the fmt chunk"},
        BadWav{"FmtTooShort",
               Riff(Chunk("fmt ", FmtBody(1, 2, 44100, 16, 4).substr(0, 14)) + kData),
               "fmt chunk too short"},
        BadWav{"FmtCut", Riff("") + "fmt " + Le32(16) + "\x01\x00", "truncated fmt chunk"},
        BadWav{"Adpcm", Riff(Chunk("fmt ", FmtBody(2, 2, 44100, 4, 4)) + kData),
               "format tag 0x0002): PCM only"},
        BadWav{"Float", Riff(Chunk("fmt ", FmtBody(3, 2, 44100, 32, 8)) + kData), "PCM only"},
        BadWav{"ExtensibleFloat", Riff(Chunk("fmt ", ExtensibleBody(3)) + kData), "PCM only"},
        BadWav{"Bits24", Riff(Chunk("fmt ", FmtBody(1, 2, 44100, 24, 6)) + kData),
               "24-bit samples (8 or 16 only)"},
        BadWav{"ThreeChannels", Riff(Chunk("fmt ", FmtBody(1, 3, 44100, 16, 6)) + kData),
               "3 channels (1 or 2 only)"},
        BadWav{"NoChannels", Riff(Chunk("fmt ", FmtBody(1, 0, 44100, 16, 0)) + kData),
               "0 channels"},
        BadWav{"ZeroRate", Riff(Chunk("fmt ", FmtBody(1, 2, 0, 16, 4)) + kData),
               "unsupported sample rate 0"},
        BadWav{"BlockAlignWrong", Riff(Chunk("fmt ", FmtBody(1, 2, 44100, 16, 3)) + kData),
               "block align 3"}),
    kestra_test::CaseName());

TEST_F(WavFiles, MissingFileIsAnError) {
    WavReader reader;
    EXPECT_FALSE(reader.Open(dir_ + "/absent.wav"));
    EXPECT_NE(reader.error().find("absent.wav"), std::string::npos) << reader.error();
}

}  // namespace
