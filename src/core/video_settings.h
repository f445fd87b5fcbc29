// How displays present: read once when the library is loaded and handed to
// every display opened afterwards.
#pragma once

#include <cstdint>

namespace kestra {

// Key RENDERER of section VIDEO: "ddraw" (also a missing file, key or unknown
// value), "d3d11" or "gdi", in any case.
enum class Renderer { DirectDraw, Direct3D11, Gdi };

// How a picture is shrunk to its window. Default leaves it to the presenter:
// the surfaces and GDI are fast there, Direct3D 11 smooth. The values are
// KESTRA_DWSetScaling's modes.
enum class Scaling : int32_t { Default = -1, Fast = 0, Smooth = 1 };

struct VideoSettings {
    Renderer renderer = Renderer::DirectDraw;
    // Key SCALING of section VIDEO: "fast" or "smooth", in any case; anything
    // else leaves the presenters' own default.
    Scaling scaling = Scaling::Default;
    // The process runs under Wine, whose DirectDraw and Direct3D show frames
    // in ways the presenters work around.
    bool onWine = false;
};

// The renderer from the settings file `iniPath` (empty: none, the default
// renderer), and whether the process runs under Wine.
VideoSettings ReadVideoSettings(const char *iniPath);

}  // namespace kestra
