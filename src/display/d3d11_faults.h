// Where a test stands between the Direct3D 11 outputs and Direct3D: the two
// calls that find a device gone, the one a device may do without, and
// devices made over calls of its own.
#pragma once

#include <windows.h>

#include <d3d11.h>
#include <dxgi.h>

#include "display/d3d11_output.h"

namespace kestra {

// Outputs reach Direct3D through these, so whoever makes the devices can
// stand in between (the output's own suite loses a device this way). As they
// are, they are Direct3D's own.
class D3D11Calls {
public:
    virtual ~D3D11Calls() = default;
    // D3D11CreateDevice from `d3d11` on `adapter`, or on the default adapter when null.
    virtual HRESULT CreateDevice(HMODULE d3d11, IDXGIAdapter *adapter, ID3D11Device **device,
                                 ID3D11DeviceContext **context);
    // Present(0, 0): a blit that never waits for the vertical blank.
    virtual HRESULT Present(IDXGISwapChain *swapChain);
    // CreatePixelShader for the shrinking filters, which a device can do without.
    virtual HRESULT CreateAreaShader(ID3D11Device *device, const void *code, SIZE_T size,
                                     ID3D11PixelShader **shader);
};

// A pool of devices of its own, made over `calls`.
class D3D11DevicesOver : public D3D11Devices {
public:
    explicit D3D11DevicesOver(D3D11Calls &deviceCalls) : D3D11Devices(deviceCalls) {}
};

}  // namespace kestra
