// Load-time set-up shared by DllMain and the ELF constructor.
#include "core/lifetime.h"

#include "convert/convert.h"
#include "core/log_settings.h"

namespace kestra {

void OnLibraryLoad() {
    build_rgb24_tables();
    build_rgb565_tables();
    build_remap_tables();
    // Without the settings object the tag has nowhere to go; loading still succeeds.
    LogSettings *settings = AcquireLogSettings();
    if (settings) settings->SetModuleName("libvidout");
}

void OnLibraryUnload() { ReleaseLogSettings(); }

}  // namespace kestra
