// Direct3D 11 output: the frame's three planes go up as R8 textures and a
// pixel shader converts them with the converters' own arithmetic, for the
// colour record it is handed, while it stretches them into the window.
// Displays on one adapter share one device and its immediate context; each
// owns its swap chain, plane textures and constant buffers. Windows builds
// only; d3d11.dll, dxgi.dll and the shader compiler are loaded at run time.
#pragma once

#include <windows.h>

#include <d3d11.h>
#include <dxgi.h>

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "core/crit_section.h"
#include "display/presenter.h"

namespace kestra {

// Draws the OSD into `dc`, which holds the converted frame, in frame pixels.
using OsdPaint = void (*)(HDC dc, void *context);

enum class D3D11Shown : int32_t {
    Presented,  // the frame reached Present
    Hidden,     // an empty (minimised) or occluded client area: not shown, not a fault
    Failed,     // the device is gone, or refused a call: this output shows nothing more
};

// The two calls that find a device gone: making one, and presenting on it.
// Outputs reach Direct3D through them, so whoever makes the outputs can stand
// in between (the output's own suite loses a device this way). As they are,
// they are Direct3D's own.
class D3D11Calls {
public:
    virtual ~D3D11Calls() = default;
    // D3D11CreateDevice from `d3d11` on `adapter`, or on the default adapter when null.
    virtual HRESULT CreateDevice(HMODULE d3d11, IDXGIAdapter *adapter, ID3D11Device **device,
                                 ID3D11DeviceContext **context);
    // Present(0, 0): a blit that never waits for the vertical blank.
    virtual HRESULT Present(IDXGISwapChain *swapChain);
};

// One device per adapter for the outputs made from here: made for the first
// output on that adapter, gone with the last. A lost device leaves at once,
// so every output set up again after a loss shares one new device.
class D3D11Devices {
public:
    explicit D3D11Devices(D3D11Calls &deviceCalls) : calls(deviceCalls) {}
    D3D11Devices(const D3D11Devices &) = delete;
    D3D11Devices &operator=(const D3D11Devices &) = delete;
    // The process's own, over Direct3D's calls as they are: every presenter's.
    static D3D11Devices &Process();

private:
    friend class D3D11Output;
    struct Device;
    // The device of the adapter whose output holds the window's centre (the
    // default adapter when that cannot be told); null when none can be made.
    std::shared_ptr<Device> For(HWND window);
    // Marks `device` lost and takes it out of the table; true for the first caller.
    bool Retire(Device *device);

    D3D11Calls &calls;
    CritSection tableLock;
    std::vector<std::pair<LUID, std::weak_ptr<Device>>> table;  // under tableLock
};

// One display's output. Outputs may draw from different threads at once;
// a single output is used by one thread at a time.
class D3D11Output {
public:
    // Null when Direct3D 11 cannot show frames in `window`: a DLL or entry
    // point missing, no device, the shaders did not compile, the swap chain
    // was refused, or a child window under Wine.
    static std::unique_ptr<D3D11Output> Create(HWND window, int32_t width, int32_t height,
                                               D3D11Devices &devices = D3D11Devices::Process());
    ~D3D11Output();
    D3D11Output(const D3D11Output &) = delete;
    D3D11Output &operator=(const D3D11Output &) = delete;

    // Uploads the frame and converts it with `colour`, lets `paint` (when not
    // null) draw on it, then stretches `crop` (frame pixels, right and bottom
    // exclusive, inside the frame; null for the whole frame) bilinearly over
    // the client area, mirrored left-right when asked, and presents without
    // waiting for the vertical blank. A removed or reset device fails every
    // output on it for good: their displays then set their presenters up
    // anew, Direct3D 11 first, so the same draw gets the one new device or
    // the next presenter.
    D3D11Shown Show(const FrameArgs &frame, const RECT *crop, bool mirror,
                    const colour::Record &colour, OsdPaint paint, void *context);
    // Moves to another window: a new swap chain on the same device, even when
    // the window is on another adapter now. False when it cannot; Show then
    // fails until a MoveTo succeeds.
    bool MoveTo(HWND window);

private:
    struct Display;
    D3D11Output(HWND window, int32_t width, int32_t height);

    HWND window;
    const int32_t width;
    const int32_t height;
    std::unique_ptr<Display> display;  // null once failed
};

}  // namespace kestra
