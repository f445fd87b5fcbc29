// The stand-in kernel: profile integers as Windows reads them, the process
// path, critical sections and interlocked counters.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

fs::path WriteTempIni(const std::string &name, const std::string &text) {
    fs::path path = fs::temp_directory_path() /
                    ("kestra_kernel_" + std::to_string(getpid()) + "_" + name + ".ini");
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

// LEVEL of section LOG, read from `text`.
struct ProfileCase {
    const char *name;
    const char *text;
    INT defaultValue;
    UINT expected;
};

using ProfileInt = testing::TestWithParam<ProfileCase>;

TEST_P(ProfileInt, ReadsLikeWindows) {
    const ProfileCase &c = GetParam();
    const fs::path path = WriteTempIni(c.name, c.text);
    const UINT got = GetPrivateProfileIntA("LOG", "LEVEL", c.defaultValue, path.c_str());
    fs::remove(path);
    EXPECT_EQ(c.expected, got) << c.name << ": expected " << int(c.expected) << " got " << int(got);
}

const ProfileCase kProfileCases[] = {
    {"Plain", "[LOG]\nLEVEL=9\n", 2, 9},
    {"MissingKey", "[LOG]\nSIZE=9\n", 2, 2},
    {"MissingSection", "[OTHER]\nLEVEL=9\n", 2, 2},
    {"KeyBeforeAnySection", "LEVEL=9\n[LOG]\n", 2, 2},
    {"KeyInLaterSection", "[LOG]\nA=1\n[X]\nLEVEL=3\n", 2, 2},
    {"SectionCase", "[lOg]\nLEVEL=9\n", 2, 9},
    {"KeyCase", "[LOG]\nlEvEl=9\n", 2, 9},
    {"SpacesAroundNamesAndValue", "  [ LOG ]  \n  LEVEL  =   41  \n", 2, 41},
    {"EmptyValueGivesDefault", "[LOG]\nLEVEL=\n", 7, 7},
    {"NoEqualsGivesDefault", "[LOG]\nLEVEL\n", 7, 7},
    {"NonNumericIsZero", "[LOG]\nLEVEL=abc\n", 7, 0},
    {"HexIsNotParsed", "[LOG]\nLEVEL=0x10\n", 7, 0},
    {"DigitsThenText", "[LOG]\nLEVEL=12abc\n", 7, 12},
    {"Plus", "[LOG]\nLEVEL=+15\n", 7, 15},
    {"Minus", "[LOG]\nLEVEL=-15\n", 7, UINT(-15)},
    {"SignAlone", "[LOG]\nLEVEL=-\n", 7, 0},
    {"DoubleSign", "[LOG]\nLEVEL=--3\n", 7, 0},
    {"Wraps", "[LOG]\nLEVEL=4294967297\n", 7, 1},
    {"QuotedValue", "[LOG]\nLEVEL=\"42\"\n", 7, 42},
    {"SingleQuotedBlank", "[LOG]\nLEVEL=' 42'\n", 7, 42},
    {"UnmatchedQuote", "[LOG]\nLEVEL=\"42\n", 7, 0},
    {"CrLf", "[LOG]\r\nLEVEL=8\r\n", 7, 8},
    {"Utf8Bom", "\xEF\xBB\xBF[LOG]\nLEVEL=8\n", 7, 8},
    {"FirstOfTwo", "[LOG]\nLEVEL=1\nLEVEL=2\n", 7, 1},
    {"CommentLine", "[LOG]\n;LEVEL=1\nLEVEL=5\n", 7, 5},
    {"NegativeDefault", "", -1, UINT(-1)},
};

INSTANTIATE_TEST_SUITE_P(Cases, ProfileInt, testing::ValuesIn(kProfileCases),
                         [](const testing::TestParamInfo<ProfileCase> &p) {
                             return std::string(p.param.name);
                         });

TEST(ProfileIntFile, MissingFileGivesDefault) {
    EXPECT_EQ(33u, GetPrivateProfileIntA("LOG", "LEVEL", 33, "/nonexistent/kestra/LOG.INI"));
    EXPECT_EQ(33u, GetPrivateProfileIntA("LOG", "LEVEL", 33, nullptr));
}

TEST(ModulePath, ProcessPathIsThisExecutableInLongForm) {
    char path[MAX_PATH] = {};
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    ASSERT_GT(n, 0u);
    EXPECT_EQ(fs::canonical("/proc/self/exe").string(), std::string(path, n));

    char longPath[MAX_PATH];
    EXPECT_EQ(n, GetLongPathNameA(path, longPath, MAX_PATH));
    EXPECT_STREQ(path, longPath);
    EXPECT_EQ(n + 1, GetLongPathNameA(path, nullptr, 0)) << "size needed, with terminator";
    EXPECT_EQ(0u, GetLongPathNameA("/nonexistent/kestra", longPath, MAX_PATH));
}

TEST(ModulePath, TruncatesLikeWindows) {
    char small[8];
    EXPECT_EQ(8u, GetModuleFileNameA(nullptr, small, sizeof(small)));
    EXPECT_EQ('\0', small[7]);
    EXPECT_EQ(122u, GetLastError());  // ERROR_INSUFFICIENT_BUFFER
}

TEST(LocalTime, FieldsAreInRange) {
    SYSTEMTIME t{};
    GetLocalTime(&t);
    EXPECT_GE(t.wYear, 2020);
    EXPECT_TRUE(t.wMonth >= 1 && t.wMonth <= 12) << t.wMonth;
    EXPECT_TRUE(t.wDay >= 1 && t.wDay <= 31) << t.wDay;
    EXPECT_LE(t.wDayOfWeek, 6);
    EXPECT_LE(t.wHour, 23);
    EXPECT_LE(t.wMinute, 59);
    EXPECT_LE(t.wMilliseconds, 999);
}

TEST(CriticalSection, HolderMayReenterAndOthersWaitForTheLastLeave) {
    CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    EnterCriticalSection(&cs);
    EnterCriticalSection(&cs);
    EXPECT_TRUE(TryEnterCriticalSection(&cs)) << "holder re-enters";
    LeaveCriticalSection(&cs);
    LeaveCriticalSection(&cs);

    BOOL otherGot = TRUE;
    std::thread([&] { otherGot = TryEnterCriticalSection(&cs); }).join();
    EXPECT_FALSE(otherGot) << "still held once";

    LeaveCriticalSection(&cs);
    std::thread([&] {
        otherGot = TryEnterCriticalSection(&cs);
        if (otherGot) LeaveCriticalSection(&cs);
    }).join();
    EXPECT_TRUE(otherGot) << "free after the last leave";
    DeleteCriticalSection(&cs);
}

TEST(Interlocked, ReturnValuesAndAtomicity) {
    LONG volatile value = 0;
    EXPECT_EQ(1, InterlockedIncrement(&value));
    EXPECT_EQ(0, InterlockedDecrement(&value));
    EXPECT_EQ(-1, InterlockedDecrement(&value));
    EXPECT_EQ(-1, InterlockedExchange(&value, 10));
    EXPECT_EQ(10, InterlockedCompareExchange(&value, 20, 11)) << "no swap on mismatch";
    EXPECT_EQ(10, value);
    EXPECT_EQ(10, InterlockedCompareExchange(&value, 20, 10));
    EXPECT_EQ(20, value);

    value = 0;
    constexpr int kPerThread = 20000;
    std::thread a([&] {
        for (int i = 0; i < kPerThread; ++i) InterlockedIncrement(&value);
    });
    std::thread b([&] {
        for (int i = 0; i < kPerThread; ++i) InterlockedDecrement(&value);
    });
    a.join();
    b.join();
    EXPECT_EQ(0, value);
}

}  // namespace
