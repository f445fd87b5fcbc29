// Log settings read from LOG.INI beside the host executable at load.
#pragma once

#include <windows.h>

#include <cstdint>

#include "core/crit_section.h"

namespace kestra {

constexpr int kModuleNameChars = 64;

class LogSettings {
public:
    LogSettings();
    ~LogSettings();
    LogSettings(const LogSettings &) = delete;
    LogSettings &operator=(const LogSettings &) = delete;

    // LEVEL and SIZE from section LOG of iniPath; the defaults stay when the
    // host's folder has no LOG.INI name shorter than MAX_PATH.
    void ReadSettings();
    void SetModuleName(const char *name);

    // The log's settings as read. Nothing the library does shows them yet (it
    // writes no log), so this is the one place a host or a test can see them.
    struct Config {
        int32_t level, maxSize;  // maxSize in MB
        const char *logDirectory, *moduleName;
    };
    Config LogConfig() const { return {level, maxSize, logDirectory, moduleName}; }

private:
    char iniPath[MAX_PATH];
    int32_t maxSize;
    int32_t level;
    char logDirectory[MAX_PATH];
    char logFileName[MAX_PATH];
    SYSTEMTIME startTime;
    SYSTEMTIME lastTime;
    uint32_t bytesWritten;
    HANDLE logFile;
    CritSection lock;
    char moduleName[kModuleNameChars];
};

// Directory of the host executable (not of this library), long form, ending
// in its path separator; empty when the path does not fit MAX_PATH; computed once.
const char *ExeDirectory();

// LOG.INI beside the host executable, which holds the video settings too;
// false, and `path` empty, when that has no name shorter than MAX_PATH.
bool SettingsFilePath(char (&path)[MAX_PATH]);

// The singleton, created on first call; null only if it could not be allocated.
LogSettings *AcquireLogSettings();
// Destroys the singleton (if any); the next Acquire creates a fresh one.
void ReleaseLogSettings();

}  // namespace kestra
