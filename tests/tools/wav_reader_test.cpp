// The WAV reader against files it must play and files it must refuse, and
// both readers on a file that is not there.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "tool_files.h"
#include "wav.h"
#include "y4m.h"

using namespace kestra_test;
using kplay::WavReader;

namespace {

std::string Samples(size_t count) {
    std::string s;
    for (size_t i = 0; i < count; ++i) s += static_cast<char>(i * 7 + 3);
    return s;
}

// WAVE_FORMAT_EXTENSIBLE body: base fmt, cbSize 22, valid bits, mask, GUID.
std::string ExtensibleBody(uint16_t subTag, uint16_t channels = 2, uint16_t bits = 16,
                           uint32_t mask = 3) {
    std::string guidTail =
        std::string("\x00\x00\x00\x00\x10\x00\x80\x00\x00\xAA\x00\x38\x9B\x71", 14);
    const uint16_t block = static_cast<uint16_t>(channels * bits / 8);
    return FmtBody(0xFFFE, channels, 48000, bits, block) + Le16(22) + Le16(bits) + Le32(mask) +
           Le16(subTag) + guidTail;
}

// Little-endian samples of `bytes` bytes each: the low bytes of every value.
std::string Ints(size_t bytes, std::initializer_list<int64_t> values) {
    std::string s;
    for (int64_t x : values) s += Le32(static_cast<uint32_t>(x)).substr(0, bytes);
    return s;
}
std::string F32(std::initializer_list<float> values) {
    std::string s;
    for (float x : values) {
        uint32_t bits;
        std::memcpy(&bits, &x, sizeof bits);
        s += Le32(bits);
    }
    return s;
}

struct GoodWav {
    const char *name;
    std::string bytes;         // the data chunk holds Samples(dataBytes) unless `out` is given
    int channels, rate, bits;  // as handed out
    size_t dataBytes;          // in the file
    std::string out;           // what Read hands out; "": Samples(dataBytes) as they are
};

class WavGood : public ScratchFiles, public ::testing::WithParamInterface<GoodWav> {};

TEST_P(WavGood, ReadsFormatAndEverySampleThenRewinds) {
    const GoodWav &c = GetParam();
    WavReader reader;
    ASSERT_TRUE(reader.Open(Write(c.bytes, ".wav"))) << reader.error();
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
        EXPECT_EQ(got, c.out.empty() ? Samples(c.dataBytes) : c.out) << "pass " << pass;
        ASSERT_TRUE(reader.Rewind());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, WavGood,
    ::testing::Values(
        GoodWav{"Stereo16",
                Riff(Chunk("fmt ", FmtBody(1, 2, 44100, 16, 4)) + Chunk("data", Samples(64))), 2,
                44100, 16, 64, ""},
        GoodWav{"Mono8",
                Riff(Chunk("fmt ", FmtBody(1, 1, 8000, 8, 1)) + Chunk("data", Samples(33))), 1,
                8000, 8, 33, ""},
        GoodWav{
            "Mono16LongFmt",
            Riff(Chunk("fmt ", FmtBody(1, 1, 22050, 16, 2) + Le16(0)) + Chunk("data", Samples(20))),
            1, 22050, 16, 20, ""},
        GoodWav{"UnknownChunksSkippedWithPadding",
                Riff(Chunk("LIST", "abc") + Chunk("fmt ", FmtBody(1, 2, 48000, 8, 2)) +
                     Chunk("fact", Le32(5)) + Chunk("data", Samples(10))),
                2, 48000, 8, 10, ""},
        GoodWav{"ExtensiblePcm",
                Riff(Chunk("fmt ", ExtensibleBody(1)) + Chunk("data", Samples(16))), 2, 48000, 16,
                16, ""},
        // Partial last sample frame is dropped.
        GoodWav{"DataNotWholeFrames",
                Riff(Chunk("fmt ", FmtBody(1, 2, 44100, 16, 4)) + Chunk("data", Samples(10))), 2,
                44100, 16, 8, ""},
        // Streaming writers leave the size open: play what the file holds.
        GoodWav{"DataSizeBeyondFile",
                Riff(Chunk("fmt ", FmtBody(1, 2, 44100, 16, 4))) + "data" + Le32(0xFFFFFFFF) +
                    Samples(40),
                2, 44100, 16, 40, ""},
        // 24 and 32 bits keep their top 16 bits.
        GoodWav{"Int24Stereo",
                Riff(Chunk("fmt ", FmtBody(1, 2, 44100, 24, 6)) +
                     Chunk("data", Ints(3, {0x7FFFFF, -1, -0x800000, 0x123456}))),
                2, 44100, 16, 12, Ints(2, {0x7FFF, -1, -0x8000, 0x1234})},
        GoodWav{"Int32Mono",
                Riff(Chunk("fmt ", FmtBody(1, 1, 8000, 32, 4)) +
                     Chunk("data", Ints(4, {INT32_MAX, INT32_MIN, 0x10000}))),
                1, 8000, 16, 12, Ints(2, {0x7FFF, -0x8000, 1})},
        // Beyond full scale saturates; NaN is silence.
        GoodWav{"Float32Stereo",
                Riff(Chunk("fmt ", FmtBody(3, 2, 48000, 32, 8)) +
                     Chunk("data", F32({1.5f, -2.0f, 0.5f, NAN}))),
                2, 48000, 16, 16, Ints(2, {32767, -32768, 16384, 0})},
        GoodWav{"ExtensibleFloatMono",
                Riff(Chunk("fmt ", ExtensibleBody(3, 1, 32, 0x4)) + Chunk("data", F32({-0.25f}))),
                1, 48000, 16, 4, Ints(2, {-8192})},
        // 5.1 without a mask: FL + FC/sqrt2 + BL, saturated, and the LFE left out.
        GoodWav{"FiveOneDownmixSaturates",
                Riff(Chunk("fmt ", FmtBody(1, 6, 44100, 16, 12)) +
                     Chunk("data", Ints(2, {30000, -30000, 20000, 32767, 100, -100, 1000, 2000, 256,
                                            5000, 10, 20}))),
                2, 44100, 16, 24, Ints(2, {32767, -15960, 1191, 2201})},
        GoodWav{"SevenOneFrom8Bit",
                Riff(Chunk("fmt ", FmtBody(1, 8, 22050, 8, 8)) +
                     Chunk("data", std::string("\x8A\x76\x80\xFF\x81\x80\x80\x82", 8))),
                2, 22050, 16, 8, Ints(2, {2816, -2048})},
        // The mask says which channel is the LFE.
        GoodWav{"ExtensibleMaskDropsLfe",
                Riff(Chunk("fmt ", ExtensibleBody(1, 3, 16, 0xB)) +
                     Chunk("data", Ints(2, {100, 200, 30000}))),
                2, 48000, 16, 6, Ints(2, {100, 200})}),
    kestra_test::CaseName());

struct BadWav {
    const char *name;
    std::string bytes;
    const char *reason;
};

class WavBad : public ScratchFiles, public ::testing::WithParamInterface<BadWav> {};

TEST_P(WavBad, IsRefusedWithAReason) {
    const BadWav &c = GetParam();
    WavReader reader;
    EXPECT_FALSE(reader.Open(Write(c.bytes, ".wav")));
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
               "format tag 0x0002): integer PCM or float only"},
        BadWav{"Float64", Riff(Chunk("fmt ", FmtBody(3, 2, 44100, 64, 16)) + kData),
               "64-bit float samples (32-bit only)"},
        BadWav{"ExtensibleAdpcm", Riff(Chunk("fmt ", ExtensibleBody(2)) + kData),
               "format tag 0x0002)"},
        BadWav{"Bits12", Riff(Chunk("fmt ", FmtBody(1, 2, 44100, 12, 3)) + kData),
               "12-bit samples (8, 16, 24 or 32 only)"},
        BadWav{"NineChannels", Riff(Chunk("fmt ", FmtBody(1, 9, 44100, 16, 18)) + kData),
               "9 channels (1 to 8 only)"},
        BadWav{"NoChannels", Riff(Chunk("fmt ", FmtBody(1, 0, 44100, 16, 0)) + kData),
               "0 channels"},
        BadWav{"ZeroRate", Riff(Chunk("fmt ", FmtBody(1, 2, 0, 16, 4)) + kData),
               "unsupported sample rate 0"},
        BadWav{"RateBeyondInt", Riff(Chunk("fmt ", FmtBody(1, 2, 4294967295u, 16, 4)) + kData),
               "unsupported sample rate 4294967295"},
        BadWav{"BlockAlignWrong", Riff(Chunk("fmt ", FmtBody(1, 2, 44100, 16, 3)) + kData),
               "block align 3"}),
    kestra_test::CaseName());

TEST_F(ScratchFiles, MissingFilesAreRefusedNamingThem) {
    WavReader wav;
    EXPECT_FALSE(wav.Open(dir_ + "/absent.wav"));
    EXPECT_NE(wav.error().find("absent.wav"), std::string::npos) << wav.error();
    kplay::Y4mReader clip;
    EXPECT_FALSE(clip.Open(dir_ + "/absent.y4m"));
    EXPECT_NE(clip.error().find("absent.y4m"), std::string::npos) << clip.error();
}

}  // namespace
