// A host executable that prints the log settings the library read when it
// was loaded into this process, one "name=value" per line, and the presenters
// a display set up here took; then the settings of an object made afresh,
// before load has named the module.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "core/lifetime.h"
#include "core/log_settings.h"
#include "kestra/kestra.h"
#include "kestra/platform.h"
#include "kestra/platform_test.h"

namespace {

void Print(const char *prefix, const kestra::LogSettings &settings) {
    const kestra::LogSettings::Config c = settings.LogConfig();
    std::printf("%slevel=%d\n%smaxSize=%d\n%slogDirectory=%s\n%smoduleName=%s\n", prefix, c.level,
                prefix, c.maxSize, prefix, c.logDirectory, prefix, c.moduleName);
}

// DirectDraw's, or GDI's when the set-up never opened DirectDraw.
const char *PresenterTaken() {
    HWND window = kplat_create_window("host", 0, 0, 64, 48, 1);
    KestraDisplay display = nullptr;
    KESTRA_DWOpenDraw(&display);
    KESTRA_DWSetHwnd(display, window);
    KESTRA_DWInitDraw(display, 64, 48);
    bool directDraw = false;
    KplatDdrawCall call;
    for (int i = 0; kplat_ddraw_get_call(i, &call); ++i)
        directDraw = directDraw || std::strcmp(call.method, "DirectDrawCreateEx") == 0;
    KESTRA_DWCloseDraw(display);
    kplat_destroy_window(window);
    return directDraw ? "ddraw" : "gdi";
}

}  // namespace

int main() {
    const kestra::LogSettings *settings = kestra::AcquireLogSettings();
    if (!settings) {
        std::puts("settings=none");
        return 1;
    }
    std::printf("exeDirectory=%s\n", kestra::ExeDirectory());
    const char *renderers[] = {"ddraw", "d3d11", "gdi"};
    std::printf("renderer=%s\n", renderers[int(kestra::LoadedVideoSettings().renderer)]);
    const char *scalings[] = {"default", "fast", "smooth"};
    std::printf("scaling=%s\n", scalings[int(kestra::LoadedVideoSettings().scaling) + 1]);
    Print("", *settings);
    std::printf("presenter=%s\n", PresenterTaken());
    kestra::OnLibraryUnload();
    if (const kestra::LogSettings *fresh = kestra::AcquireLogSettings()) Print("fresh.", *fresh);
    return 0;
}
