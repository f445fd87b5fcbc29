// A host executable that prints the log settings the library read when it
// was loaded into this process, one "name=value" per line.
#include <cstdio>

#include "core/log_settings.h"

int main() {
    const kestra::LogSettings *settings = kestra::GetLogSettings();
    if (!settings) {
        std::puts("settings=none");
        return 1;
    }
    std::printf("exeDirectory=%s\n", kestra::ExeDirectory());
    std::printf("iniPath=%s\n", settings->iniPath);
    std::printf("logDirectory=%s\n", settings->logDirectory);
    std::printf("level=%d\n", settings->level);
    std::printf("maxSize=%d\n", settings->maxSize);
    std::printf("moduleName=%s\n", settings->moduleName);
    const char *renderers[] = {"ddraw", "d3d11", "gdi"};
    std::printf("renderer=%s\n", renderers[int(kestra::ConfiguredRenderer())]);
    return 0;
}
