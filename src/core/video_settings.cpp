// The video settings and the one platform fact they carry.
#include <windows.h>

#include "core/video_settings.h"

#include <cctype>

namespace kestra {

namespace {

// ASCII only, as the setting's values are.
bool SameNoCase(const char *a, const char *b) {
    for (; *a && *b; ++a, ++b)
        if (std::tolower(static_cast<unsigned char>(*a)) !=
            std::tolower(static_cast<unsigned char>(*b)))
            return false;
    return *a == *b;
}

Renderer ReadRenderer(const char *iniPath) {
    if (!*iniPath) return Renderer::DirectDraw;
    char name[16] = {};
    GetPrivateProfileStringA("VIDEO", "RENDERER", "ddraw", name, sizeof name, iniPath);
    return SameNoCase(name, "d3d11") ? Renderer::Direct3D11
           : SameNoCase(name, "gdi") ? Renderer::Gdi
                                     : Renderer::DirectDraw;
}

Scaling ReadScaling(const char *iniPath) {
    if (!*iniPath) return Scaling::Default;
    char name[16] = {};
    GetPrivateProfileStringA("VIDEO", "SCALING", "", name, sizeof name, iniPath);
    return SameNoCase(name, "fast")     ? Scaling::Fast
           : SameNoCase(name, "smooth") ? Scaling::Smooth
                                        : Scaling::Default;
}

// Wine's ntdll exports wine_get_version; Windows' does not. Asked while the
// library loads, so only a look-up: ntdll is in every process, and loading
// a library from DllMain is what the loader forbids.
bool RunningOnWine() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace

VideoSettings ReadVideoSettings(const char *iniPath) {
    VideoSettings settings;
    settings.renderer = ReadRenderer(iniPath);
    settings.scaling = ReadScaling(iniPath);
    settings.onWine = RunningOnWine();
    return settings;
}

}  // namespace kestra
