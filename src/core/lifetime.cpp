// Load-time set-up shared by DllMain and the ELF constructor.
#include "core/lifetime.h"

#include "convert/convert.h"
#include "core/log_settings.h"

namespace kestra {

namespace {

// Constant-initialised: the loader may run before dynamic initialisers.
VideoSettings loadedVideo;

}  // namespace

void OnLibraryLoad() {
    build_rgb24_tables();
    build_rgb565_tables();
    build_remap_tables();
    // Without the settings object the tag has nowhere to go; loading still succeeds.
    LogSettings *settings = AcquireLogSettings();
    if (settings) settings->SetModuleName("libvidout");
    // A load short of memory even for the log record keeps every default,
    // the renderer's too.
    char iniPath[MAX_PATH] = {};
    if (settings) SettingsFilePath(iniPath);
    loadedVideo = ReadVideoSettings(iniPath);
}

void OnLibraryUnload() { ReleaseLogSettings(); }

const VideoSettings &LoadedVideoSettings() { return loadedVideo; }

}  // namespace kestra
