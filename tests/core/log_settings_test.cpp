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

#include <sys/stat.h>

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
    // A host hung or running away at load is stopped: its case fails, the suite goes on.
    FILE *out = popen(("timeout 20 '" + host.string() + "'").c_str(), "r");
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

// What LOG.INI is, and where: the host's folder unless the host lies past MAX_PATH.
enum class Ini { Text, Utf16Text, Fifo, LinkToDevZero, TextInParentsOfDeepHost };

struct IniCase {
    const char *name;
    const char *ini;  // null: no LOG.INI at all
    int level;
    int maxSize;
    const char *renderer = "ddraw";
    Ini form = Ini::Text;
    const char *scaling = "default";
};

// Lays out c's LOG.INI under dir; returns the folder the host runs in.
fs::path PlaceIni(const fs::path &dir, const IniCase &c) {
    const fs::path ini = dir / "LOG.INI";
    if (c.form == Ini::Fifo) mkfifo(ini.c_str(), 0600);
    if (c.form == Ini::LinkToDevZero) fs::create_symlink("/dev/zero", ini);
    if (c.form == Ini::Utf16Text) {
        std::string wide = "\xFF\xFE";
        for (const char *p = c.ini; *p; ++p) wide += std::string{*p, '\0'};
        WriteIni(dir, wide);
    }
    if (c.form == Ini::Text && c.ini) WriteIni(dir, c.ini);
    if (c.form != Ini::TextInParentsOfDeepHost) return dir;
    // Over 300 characters, so a path cut to 259 ends in one of these folders.
    fs::path host = dir;
    for (char name = 'a'; name < 'f'; ++name) {
        WriteIni(host, c.ini);
        host /= std::string(60, name);
        fs::create_directory(host);
    }
    return host;
}

class LogIni : public testing::TestWithParam<IniCase> {};

// The library writes no log at load: the host's directory holds only what the test put there.
TEST_P(LogIni, HostSeesItsSettings) {
    const IniCase &c = GetParam();
    HostDir dir;
    ASSERT_FALSE(dir.path.empty());
    Report report = RunHost(PlaceIni(dir.path, c));
    ASSERT_EQ("0", report["exit"]) << c.name;
    EXPECT_EQ(std::to_string(c.level), report["level"]) << c.name << ": LEVEL";
    EXPECT_EQ(std::to_string(c.maxSize), report["maxSize"]) << c.name << ": SIZE";
    EXPECT_EQ(c.renderer, report["renderer"]) << c.name << ": RENDERER";
    EXPECT_EQ(c.scaling, report["scaling"]) << c.name << ": SCALING";
    // The stand-in has no Direct3D: "d3d11" falls to DirectDraw, and "gdi" never opens it.
    EXPECT_EQ(std::string(c.renderer) == "gdi" ? "gdi" : "ddraw", report["presenter"]) << c.name;
    // Beside the host, not the library, and none at all rather than a parent; load names the
    // module, a fresh object does not.
    const bool deep = c.form == Ini::TextInParentsOfDeepHost;
    const std::string here = deep ? "" : dir.path.string() + "/";
    EXPECT_EQ(here, report["exeDirectory"]) << c.name;
    EXPECT_EQ(deep ? "" : here + "Log/", report["logDirectory"]) << c.name;
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
    {"ScalingSmoothAnyCase", "[video]\nScaling = Smooth\n", 2, 5, "ddraw", Ini::Text, "smooth"},
    {"ScalingFastBesideRenderer", "[VIDEO]\nRENDERER=gdi\nSCALING=fast\n", 2, 5, "gdi", Ini::Text,
     "fast"},
    {"ScalingUnknown", "[VIDEO]\nSCALING=bicubic\n", 2, 5},
    {"Utf16WithMark", "[VIDEO]\r\nRENDERER=gdi\r\n[LOG]\r\nSIZE=64\r\n", 2, 64, "gdi",
     Ini::Utf16Text},
    {"Fifo", "", 2, 5, "ddraw", Ini::Fifo},
    {"LinkToDevZero", "", 2, 5, "ddraw", Ini::LinkToDevZero},
    {"HostPastMaxPath", "[VIDEO]\nRENDERER=gdi\n[LOG]\nLEVEL=7\n", 2, 5, "ddraw",
     Ini::TextInParentsOfDeepHost},
};

INSTANTIATE_TEST_SUITE_P(Cases, LogIni, testing::ValuesIn(kIniCases),
                         [](const testing::TestParamInfo<IniCase> &p) {
                             return std::string(p.param.name);
                         });

// In this process the loader already ran the constructor; these tests drive
// unload and load by hand and leave a loaded library behind.
TEST(LogSettingsLifetime, UnloadDestroysAndLoadRecreates) {
    kestra::OnLibraryUnload();
    kestra::LogSettings *s = kestra::AcquireLogSettings();
    ASSERT_NE(nullptr, s);
    EXPECT_EQ(s, kestra::AcquireLogSettings()) << "second request must return the same object";
    kestra::OnLibraryUnload();
    kestra::OnLibraryLoad();
    const std::string dir = kestra::ExeDirectory();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ('/', dir.back());
}

TEST(LogSettingsLifetime, LoadSucceedsWhenTheSettingsCannotBeAllocated) {
    kestra::OnLibraryUnload();
    failNothrowNew = true;
    kestra::OnLibraryLoad();
    failNothrowNew = false;
    EXPECT_EQ(kestra::Renderer::DirectDraw, kestra::LoadedVideoSettings().renderer)
        << "without settings";
    uint8_t white[3] = {0, 0, 0};
    kestra::yuv_to_rgb24_pixel_c(235, 128, 128, white, kestra::colour::kBt601Studio);
    EXPECT_EQ(254, white[0]) << "tables built despite the failure";
    kestra::OnLibraryUnload();  // nothing to destroy
    kestra::OnLibraryLoad();
}

}  // namespace
