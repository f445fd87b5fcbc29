// A host executable that prints the log settings the library read when it
// was loaded into this process, one "name=value" per line, then those of a
// settings object made afresh, before load has named the module.
#include <cstdio>

#include "core/lifetime.h"
#include "core/log_settings.h"

namespace {

void Print(const char *prefix, const kestra::LogSettings &settings) {
    const kestra::LogSettings::Config c = settings.LogConfig();
    std::printf("%slevel=%d\n%smaxSize=%d\n%slogDirectory=%s\n%smoduleName=%s\n", prefix, c.level,
                prefix, c.maxSize, prefix, c.logDirectory, prefix, c.moduleName);
}

}  // namespace

int main() {
    const kestra::LogSettings *settings = kestra::GetLogSettings();
    if (!settings) {
        std::puts("settings=none");
        return 1;
    }
    std::printf("exeDirectory=%s\n", kestra::ExeDirectory());
    const char *renderers[] = {"ddraw", "d3d11", "gdi"};
    std::printf("renderer=%s\n", renderers[int(kestra::ConfiguredRenderer())]);
    Print("", *settings);
    kestra::OnLibraryUnload();
    if (const kestra::LogSettings *fresh = kestra::AcquireLogSettings()) Print("fresh.", *fresh);
    return 0;
}
