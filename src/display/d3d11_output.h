// Direct3D 11 output: the frame's three planes go up as R8 textures and a
// pixel shader converts them with the converters' own arithmetic, for the
// colour record it is handed, while it stretches them into the window.
// Windows builds only; d3d11.dll and the shader compiler are loaded at run
// time.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

#include "display/presenter.h"

namespace kestra {

// Draws the OSD into `dc`, which holds the converted frame, in frame pixels.
using OsdPaint = void (*)(HDC dc, void *context);

enum class D3D11Shown : int32_t {
    Presented,  // the frame reached Present
    Hidden,     // an empty (minimised) or occluded client area: not shown, not a fault
    Failed,     // the device is gone, or refused a call: this output shows nothing more
};

// One display's output. Its own device and immediate context, so outputs on
// different threads never share one; a single output is used by one thread
// at a time.
class D3D11Output {
public:
    // Null when Direct3D 11 cannot show frames in `window`: a DLL or entry
    // point missing, no device, the shaders did not compile, the swap chain
    // was refused, or a child window under Wine.
    static std::unique_ptr<D3D11Output> Create(HWND window, int32_t width, int32_t height);
    ~D3D11Output();
    D3D11Output(const D3D11Output &) = delete;
    D3D11Output &operator=(const D3D11Output &) = delete;

    // Uploads the frame and converts it with `colour`, lets `paint` (when not
    // null) draw on it, then stretches `crop` (frame pixels, right and bottom
    // exclusive, inside the frame; null for the whole frame) bilinearly over
    // the client area, mirrored left-right when asked, and presents without
    // waiting for the vertical blank. A removed or reset device fails the
    // output for good: the display then sets its presenters up anew,
    // Direct3D 11 first, so the same draw gets a new device or the next
    // presenter.
    D3D11Shown Show(const FrameArgs &frame, const RECT *crop, bool mirror,
                    const colour::Record &colour, OsdPaint paint, void *context);
    // Moves to another window: a new swap chain on the same device. False
    // when it cannot; Show then fails until a MoveTo succeeds.
    bool MoveTo(HWND window);

private:
    struct Device;
    D3D11Output(HWND window, int32_t width, int32_t height, HMODULE d3d11);

    HWND window;
    const int32_t width;
    const int32_t height;
    HMODULE d3d11;
    std::unique_ptr<Device> device;  // null once lost
};

}  // namespace kestra
