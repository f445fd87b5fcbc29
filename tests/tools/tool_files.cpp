#include "tool_files.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace kestra_test {

std::string MakeScratchDir() {
    const char *base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/kestra-tools-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    const char *made = mkdtemp(buffer.data());
    return made ? std::string(made) : std::string();
}

void RemoveScratchDir(const std::string &dir) {
    std::error_code ignored;
    if (!dir.empty()) std::filesystem::remove_all(dir, ignored);
}

bool WriteFile(const std::string &path, const std::string &bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

std::string ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

std::string Y4mBytes(const std::string &fields, const std::vector<std::string> &frames,
                     const std::string &marker) {
    std::string out = "YUV4MPEG2 " + fields + "\n";
    for (const std::string &f : frames) out += marker + "\n" + f;
    return out;
}

std::string SolidFrame(int width, int height, int i) {
    const size_t luma = static_cast<size_t>(width) * height;
    return std::string(luma, static_cast<char>(16 + 20 * i)) + std::string(luma / 4, char(90)) +
           std::string(luma / 4, char(200));
}

std::string Le16(uint16_t v) {
    return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
}

std::string Le32(uint32_t v) { return Le16(v & 0xFFFF) + Le16(static_cast<uint16_t>(v >> 16)); }

std::string Chunk(const std::string &id, const std::string &body) {
    std::string out = id + Le32(static_cast<uint32_t>(body.size())) + body;
    if (body.size() % 2) out += '\0';
    return out;
}

std::string FmtBody(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits,
                    uint16_t blockAlign) {
    return Le16(tag) + Le16(channels) + Le32(rate) + Le32(rate * blockAlign) + Le16(blockAlign) +
           Le16(bits);
}

std::string Riff(const std::string &chunks) {
    return "RIFF" + Le32(static_cast<uint32_t>(4 + chunks.size())) + "WAVE" + chunks;
}

}  // namespace kestra_test
