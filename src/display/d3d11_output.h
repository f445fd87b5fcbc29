// Direct3D 11 output: the frame's three planes go up as R8 textures and a
// pixel shader converts them with the converters' own arithmetic, for the
// colour record it is handed, while it stretches them into the window. What a
// host sees is what the surface modes show (crop, mirror and OSD in frame
// pixels, no display callback), in full 8-bit colour.
// Displays on one adapter share one device and its immediate context; each
// output owns its swap chain, plane textures and constant buffers. Windows
// builds only; d3d11.dll, dxgi.dll and the shader compiler are loaded at run time.
//
// Threads. A display draws on whichever thread holds its draw lock, so each
// output is used by one thread at a time, "its drawing thread"; displays draw
// at once on different threads and meet only in what a device shares:
//   - made with the device, before any output has it, then only read:
//     any thread, no lock (making objects on a device is thread-safe);
//   - the immediate context and what is queued on it: any thread, under
//     Device::contextLock;
//   - Device::lost: any thread, no lock;
//   - the table of devices: any thread, under D3D11Devices::tableLock;
//   - an output and its swap chain's objects: its drawing thread only, which
//     binds them to the shared context, and lets them go, under contextLock.
#pragma once

#include <windows.h>

#include <d3d11.h>
#include <dxgi.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "core/crit_section.h"
#include "display/com.h"
#include "display/presenter.h"

namespace kestra {

class D3D11Calls;  // display/d3d11_faults.h
struct ShaderCode;

// How many shrinking filters, each for a range of ratios across and down, a
// device holds.
constexpr int kAreaSizes = 23;

// One device per adapter for the outputs made from here: made for the first
// output on that adapter, gone with the last. A lost device leaves at once,
// so every output set up again after a loss shares one new device.
class D3D11Devices {
public:
    D3D11Devices(const D3D11Devices &) = delete;
    D3D11Devices &operator=(const D3D11Devices &) = delete;
    // The process's own, over Direct3D's calls as they are: every presenter's.
    static D3D11Devices &Process();

protected:
    // Over other calls than Direct3D's own: display/d3d11_faults.h.
    explicit D3D11Devices(D3D11Calls &deviceCalls) : calls(deviceCalls) {}

private:
    friend class D3D11Output;
    struct Device;
    // The device of the adapter whose output holds the window's centre (the
    // default adapter when that cannot be told); null when none can be made.
    std::shared_ptr<Device> For(HWND window);
    // Marks `device` lost and takes it out of the table; true for the first caller.
    bool Retire(Device *device);

    // Set at construction: any thread, no lock.
    D3D11Calls &calls;

    // Any thread, under tableLock, which is held while a device is made:
    // outputs set up together on a new adapter wait for its one device.
    CritSection tableLock;
    std::vector<std::pair<LUID, std::weak_ptr<Device>>> table;
};

// What every output on one adapter shares; each output holds it.
struct D3D11Devices::Device {
    Device(D3D11Devices &pool, LUID id) : owner(pool), adapter(id) {}
    // While the device is made, under tableLock.
    bool Open(IDXGIAdapter *on);
    bool MakePipeline(const ShaderCode &code);
    bool MakeSampler(D3D11_FILTER filter, Com<ID3D11SamplerState> *sampler);
    bool MakeQueries();
    void MakeAreaShaders(const ShaderCode &code);
    // Any thread, not under contextLock: takes it, and sleeps outside it.
    void WaitForRoom();
    // Under contextLock, after a Present.
    void Sent();

    // ---- Made with the device, then only read: any thread, no lock. ----
    D3D11Devices &owner;
    const LUID adapter;
    // First, so it goes last: the objects below live in its code.
    Library d3d11{"d3d11.dll"};
    Com<ID3D11Device> device;
    // The pointer is read anywhere; every call on it is made under contextLock.
    Com<ID3D11DeviceContext> context;
    Com<IDXGIFactory> factory;
    Com<ID3D11VertexShader> stretch;
    Com<ID3D11PixelShader> fromPlanes, fromPicture;
    // All or none: the shrinking filters, for a picture smaller than half
    // the frame's, by how many samples they take (display/d3d11_output.cpp).
    Com<ID3D11PixelShader> areaFromPlanes[kAreaSizes], areaFromPicture[kAreaSizes];
    Com<ID3D11SamplerState> point, linear;

    // ---- Any thread, under contextLock. ----
    // The immediate context is not thread-safe, and every output on the
    // device draws through it. Held for a frame's uploads, draw and Present
    // (with an OSD, the GDI paint as well), for a swap chain's making and
    // resizing, and while an output's objects go.
    CritSection contextLock;
    // The device's last frames on their way, as event queries ended after each
    // Present, oldest at `next`.
    static constexpr int kFramesOnTheWay = 8;
    Com<ID3D11Query> sent[kFramesOnTheWay];
    bool pending[kFramesOnTheWay] = {};
    int next = 0;

    // ---- Any thread, no lock. ----
    // Set once, by the first output that finds the device gone: an acq_rel
    // exchange, so exactly one of them retires it. The others load it
    // (acquire) before each frame and set up again without touching the
    // device. It guards no other data: a load that misses a fresh true costs
    // one more call, which fails on the gone device itself.
    std::atomic<bool> lost{false};
};

// One display's Direct3D 11 presenter, used by its drawing thread only.
class D3D11Output : public Presenter {
public:
    // Null when Direct3D 11 cannot show frames in the set-up's window: a DLL
    // or entry point missing, no device, the shaders did not compile, the swap
    // chain was refused, or a child window under Wine.
    static std::unique_ptr<D3D11Output> Create(const PresenterSetUp &setUp,
                                               D3D11Devices &devices = D3D11Devices::Process());
    ~D3D11Output() override;
    D3D11Output(const D3D11Output &) = delete;
    D3D11Output &operator=(const D3D11Output &) = delete;

    // Uploads the frame and converts it with the frame's colour record,
    // paints the OSD on it, then stretches the source rectangle bilinearly
    // over the client area, mirrored when asked, and presents without waiting
    // for the vertical blank. Shrunk by more than two, each window pixel is
    // the average of its footprint in the frame, unless the frame's scaling
    // is Fast (the single tap, for a host that wants the cheaper picture). A removed or reset
    // device fails every output on it for good: their displays then set their presenters up anew,
    // Direct3D 11 first, so the same draw gets the one new device or the next presenter.
    Presented Present(const FrameContext &context) override;
    // Lets the swap chain, the textures and the device go (KESTRA_DWFreeDraw).
    void Release() override;
    // A new swap chain on the same device, even when the window is on another
    // adapter now. False when it cannot; Present then answers SetUpAgain
    // until a MoveTo succeeds.
    bool MoveTo(HWND target) override;

private:
    struct WindowChain;
    explicit D3D11Output(const PresenterSetUp &setUp);

    // ---- Set at creation, then only read. ----
    const int32_t width;
    const int32_t height;
    const bool onWine;

    // ---- Its drawing thread only. ----
    HWND window;
    std::unique_ptr<WindowChain> chain;  // null once failed or released
    bool released = false;
};

}  // namespace kestra
