// How displays present: read once when the library is loaded and handed to
// every display opened afterwards.
#pragma once

namespace kestra {

// Key RENDERER of section VIDEO: "ddraw" (also a missing file, key or unknown
// value), "d3d11" or "gdi", in any case.
enum class Renderer { DirectDraw, Direct3D11, Gdi };

struct VideoSettings {
    Renderer renderer = Renderer::DirectDraw;
    // The process runs under Wine, whose DirectDraw and Direct3D show frames
    // in ways the presenters work around.
    bool onWine = false;
};

// The renderer from the settings file `iniPath` (empty: none, the default
// renderer), and whether the process runs under Wine.
VideoSettings ReadVideoSettings(const char *iniPath);

}  // namespace kestra
