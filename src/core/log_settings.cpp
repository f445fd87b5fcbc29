// LogSettings singleton and the exe-directory lookup.
#include "core/log_settings.h"

#include <cstdio>
#include <cstring>
#include <new>

namespace kestra {

namespace {

// Constant-initialised: the loader may run before dynamic initialisers.
char exeDirectory[MAX_PATH];
bool exeDirectoryCached = false;
LogSettings *instance = nullptr;

constexpr int32_t kDefaultLevel = 2;
constexpr int32_t kDefaultMaxSize = 5;
constexpr int32_t kLargestMaxSize = 1024;

void CopyText(char *dst, size_t capacity, const char *src) {
    std::snprintf(dst, capacity, "%s", src);
}

// Cuts after the later of the last '\' or '/', whichever the platform uses.
void CutAfterLastSeparator(char *path) {
    char *back = std::strrchr(path, '\\');
    char *forward = std::strrchr(path, '/');
    char *last = back > forward ? back : forward;
    if (last)
        last[1] = '\0';
    else
        path[0] = '\0';
}

char SeparatorOf(const char *directory) {
    size_t n = std::strlen(directory);
    return n ? directory[n - 1] : '\\';
}

// directory + name into dst, or dst empty: without the host's folder the name would be
// relative to wherever the host runs, and the profile functions take no name past MAX_PATH.
bool JoinPath(char (&dst)[MAX_PATH], const char *directory, const char *name) {
    if (*directory && std::snprintf(dst, MAX_PATH, "%s%s", directory, name) < MAX_PATH) return true;
    dst[0] = '\0';
    return false;
}

// The host's path in long form; empty when it does not fit MAX_PATH whole.
void ReadExePath(char (&path)[MAX_PATH]) {
    const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    // A truncated path comes back as the buffer size (terminated or not, by system): cut at
    // its last separator it would name a parent folder.
    if (n == 0 || n >= MAX_PATH) {
        path[0] = '\0';
        return;
    }
    char longPath[MAX_PATH] = {};
    const DWORD m = GetLongPathNameA(path, longPath, MAX_PATH);
    // A failed or too long expansion keeps the path as the loader gave it.
    if (m > 0 && m < MAX_PATH) CopyText(path, MAX_PATH, longPath);
}

}  // namespace

const char *ExeDirectory() {
    if (exeDirectoryCached) return exeDirectory;
    ReadExePath(exeDirectory);
    CutAfterLastSeparator(exeDirectory);
    exeDirectoryCached = true;
    return exeDirectory;
}

bool SettingsFilePath(char (&path)[MAX_PATH]) { return JoinPath(path, ExeDirectory(), "LOG.INI"); }

LogSettings::LogSettings()
    : maxSize(kDefaultMaxSize), level(kDefaultLevel), bytesWritten(0), logFile(nullptr) {
    iniPath[0] = '\0';
    logDirectory[0] = '\0';
    logFileName[0] = '\0';
    const char *directory = ExeDirectory();
    const char logFolder[] = {'L', 'o', 'g', SeparatorOf(directory), '\0'};
    JoinPath(logDirectory, directory, logFolder);
    GetLocalTime(&startTime);
    lastTime = startTime;
    CopyText(moduleName, kModuleNameChars, "unknow");
    ReadSettings();
}

LogSettings::~LogSettings() {
    if (logFile) {
        CloseHandle(logFile);
        logFile = nullptr;
        bytesWritten = 0;
    }
}

void LogSettings::ReadSettings() {
    // No LOG.INI of the host's own folder can be named: the defaults stand.
    if (!SettingsFilePath(iniPath)) return;
    level = static_cast<int32_t>(GetPrivateProfileIntA("LOG", "LEVEL", kDefaultLevel, iniPath));
    int32_t size =
        static_cast<int32_t>(GetPrivateProfileIntA("LOG", "SIZE", kDefaultMaxSize, iniPath));
    maxSize = (size <= kDefaultMaxSize || size > kLargestMaxSize) ? kDefaultMaxSize : size;
}

void LogSettings::SetModuleName(const char *name) {
    CopyText(moduleName, kModuleNameChars, name ? name : "");
}

LogSettings *AcquireLogSettings() {
    if (!instance) instance = new (std::nothrow) LogSettings();
    return instance;
}

void ReleaseLogSettings() {
    delete instance;
    instance = nullptr;
}

}  // namespace kestra
