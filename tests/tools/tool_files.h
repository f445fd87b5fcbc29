// Files the tool tests write for themselves: Y4M clips, WAV files, a
// scratch directory.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace kestra_test {

// Names each case of a parameterised test after its `name` field.
struct CaseName {
    template <class Info>
    std::string operator()(const Info &p) const {
        return p.param.name;
    }
};

// A fresh directory under the system's temporary directory.
std::string MakeScratchDir();
void RemoveScratchDir(const std::string &dir);

bool WriteFile(const std::string &path, const std::string &bytes);
std::string ReadFile(const std::string &path);

// A scratch directory of the test's own, gone after it.
class ScratchFiles : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = MakeScratchDir();
        ASSERT_FALSE(dir_.empty());
    }
    void TearDown() override { RemoveScratchDir(dir_); }
    // A new file of the directory holding bytes; "" when it could not be
    // written, which the reader under test then fails to open.
    std::string Write(const std::string &bytes, const std::string &extension) {
        const std::string path = dir_ + "/file" + std::to_string(count_++) + extension;
        return WriteFile(path, bytes) ? path : std::string();
    }
    std::string dir_;
    int count_ = 0;
};

// A .y4m file: header fields after the signature, then `frames` frames whose
// bytes are frameBytes(i) each, each behind a marker line `marker`.
std::string Y4mBytes(const std::string &fields, const std::vector<std::string> &frames,
                     const std::string &marker = "FRAME");
// Frame i of a width x height 4:2:0 clip: Y = 16 + 20 * i, U = 90, V = 200.
std::string SolidFrame(int width, int height, int i);

// Little-endian helpers for WAV files.
std::string Le16(uint16_t v);
std::string Le32(uint32_t v);
std::string Chunk(const std::string &id, const std::string &body);
// A 16-byte PCM fmt chunk body.
std::string FmtBody(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits,
                    uint16_t blockAlign);
std::string Riff(const std::string &chunks);

}  // namespace kestra_test
