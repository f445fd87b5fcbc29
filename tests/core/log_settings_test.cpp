// LOG.INI as a host meets it: a small host executable is copied into a fresh
// directory beside a LOG.INI, run, and reports what the library read.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <new>
#include <string>

#include "convert/convert.h"
#include "core/lifetime.h"
#include "core/log_settings.h"

namespace fs = std::filesystem;

namespace {

bool failNothrowNew = false;

}  // namespace

// Lets a test make the library's nothrow allocations fail.
void *operator new(std::size_t size, const std::nothrow_t &) noexcept {
    if (failNothrowNew) return nullptr;
    try {
        return ::operator new(size);
    } catch (...) {
        return nullptr;
    }
}

namespace {

using Report = std::map<std::string, std::string>;

class HostDir {
public:
    HostDir() {
        std::string pattern = (fs::temp_directory_path() / "kestra_log_XXXXXX").string();
        if (mkdtemp(pattern.data())) path = fs::canonical(pattern);
    }
    ~HostDir() {
        std::error_code ignored;
        if (!path.empty()) fs::remove_all(path, ignored);
    }
    fs::path path;
};

void WriteIni(const fs::path &dir, const std::string &text) {
    std::ofstream(dir / "LOG.INI", std::ios::binary) << text;
}

// Copies the host into dir, runs it there and parses its "name=value" lines.
Report RunHost(const fs::path &dir) {
    fs::path host = dir / "player_host";
    fs::copy_file(KESTRA_LOG_HOST, host, fs::copy_options::overwrite_existing);
    Report report;
    FILE *out = popen(("'" + host.string() + "'").c_str(), "r");
    if (!out) return report;
    char line[1024];
    while (std::fgets(line, sizeof(line), out)) {
        std::string text(line);
        if (!text.empty() && text.back() == '\n') text.pop_back();
        size_t eq = text.find('=');
        if (eq != std::string::npos) report[text.substr(0, eq)] = text.substr(eq + 1);
    }
    report["exit"] = std::to_string(pclose(out));
    return report;
}

struct IniCase {
    const char *name;
    const char *ini;  // null: no LOG.INI at all
    int level;
    int maxSize;
    const char *renderer = "ddraw";
};

class LogIni : public testing::TestWithParam<IniCase> {};

// The library writes no log at load: the host's directory holds only what the test put there.
TEST_P(LogIni, HostSeesItsSettings) {
    const IniCase &c = GetParam();
    HostDir dir;
    ASSERT_FALSE(dir.path.empty());
    if (c.ini) WriteIni(dir.path, c.ini);
    Report report = RunHost(dir.path);
    ASSERT_EQ("0", report["exit"]) << c.name;
    EXPECT_EQ(std::to_string(c.level), report["level"]) << c.name << ": LEVEL";
    EXPECT_EQ(std::to_string(c.maxSize), report["maxSize"]) << c.name << ": SIZE";
    EXPECT_EQ(c.renderer, report["renderer"]) << c.name << ": RENDERER";
    // Beside the host, not the library; load names the module, a fresh object does not.
    const std::string here = dir.path.string() + "/";
    EXPECT_EQ(here, report["exeDirectory"]) << c.name;
    EXPECT_EQ(here + "Log/", report["logDirectory"]) << c.name;
    EXPECT_EQ("libvidout", report["moduleName"]) << c.name;
    EXPECT_EQ("unknow", report["fresh.moduleName"]) << c.name;
    const auto entries = std::distance(fs::directory_iterator(dir.path), fs::directory_iterator());
    EXPECT_EQ(c.ini ? 2 : 1, entries) << c.name << ": files beside the host";
}

const IniCase kIniCases[] = {
    {"NoFile", nullptr, 2, 5},
    {"EmptyFile", "", 2, 5},
    {"OtherSection", "[LOGGING]\nLEVEL=7\nSIZE=100\n", 2, 5},
    {"Level9", "[LOG]\nLEVEL=9\n", 9, 5},
    {"LevelNegative", "[LOG]\nLEVEL=-4\n", -4, 5},
    {"Size0", "[LOG]\nSIZE=0\n", 2, 5},
    {"Size5", "[LOG]\nSIZE=5\n", 2, 5},
    {"Size6", "[LOG]\nSIZE=6\n", 2, 6},
    {"Size1024", "[LOG]\nSIZE=1024\n", 2, 1024},
    {"Size1025", "[LOG]\nSIZE=1025\n", 2, 5},
    {"SizeNegative", "[LOG]\nSIZE=-100\n", 2, 5},
    {"NonNumeric", "[LOG]\nLEVEL=high\nSIZE=big\n", 0, 5},
    {"DigitsThenText", "[LOG]\nLEVEL=3 levels\nSIZE=64k\n", 3, 64},
    {"EmptyValues", "[LOG]\nLEVEL=\nSIZE=\n", 2, 5},
    {"MixedCase", "[Log]\nLevel=4\nsIzE=300\n", 4, 300},
    {"WindowsLineEnds", "[LOG]\r\nLEVEL = 6\r\nSIZE = 512\r\n", 6, 512},
    {"RendererD3d11", "[VIDEO]\nRENDERER=d3d11\n", 2, 5, "d3d11"},
    {"RendererGdiAnyCase", "[Video]\nrenderer = GDI\n", 2, 5, "gdi"},
    {"RendererUnknown", "[VIDEO]\nRENDERER=vulkan\n", 2, 5, "ddraw"},
};

INSTANTIATE_TEST_SUITE_P(Cases, LogIni, testing::ValuesIn(kIniCases),
                         [](const testing::TestParamInfo<IniCase> &p) {
                             return std::string(p.param.name);
                         });

// In this process the loader already ran the constructor; these tests drive
// unload and load by hand and leave a loaded library behind.
TEST(LogSettingsLifetime, UnloadDestroysAndLoadRecreates) {
    ASSERT_NE(nullptr, kestra::GetLogSettings());
    kestra::OnLibraryUnload();
    EXPECT_EQ(nullptr, kestra::GetLogSettings());
    kestra::LogSettings *s = kestra::AcquireLogSettings();
    ASSERT_NE(nullptr, s);
    EXPECT_EQ(s, kestra::AcquireLogSettings()) << "second request must return the same object";
    kestra::OnLibraryUnload();
    kestra::OnLibraryLoad();
    EXPECT_NE(nullptr, kestra::GetLogSettings());
    const std::string dir = kestra::ExeDirectory();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ('/', dir.back());
}

TEST(LogSettingsLifetime, LoadSucceedsWhenTheSettingsCannotBeAllocated) {
    kestra::OnLibraryUnload();
    failNothrowNew = true;
    kestra::OnLibraryLoad();
    failNothrowNew = false;
    EXPECT_EQ(nullptr, kestra::GetLogSettings());
    EXPECT_EQ(kestra::Renderer::DirectDraw, kestra::ConfiguredRenderer()) << "without settings";
    EXPECT_EQ(1, kestra::rgb565TablesBuilt);
    EXPECT_EQ(9535 * (255 - 16), kestra::lumaTable24[255]) << "tables built despite the failure";
    kestra::OnLibraryUnload();  // nothing to destroy
    kestra::OnLibraryLoad();
    EXPECT_NE(nullptr, kestra::GetLogSettings());
}

}  // namespace
