// Direct3D 11 output. Per frame: three plane uploads, one draw (two and a GDI
// round trip with an OSD), one Present; nothing is allocated after set-up.
#include "display/d3d11_output.h"
#include "display/presenter.h"

#include <d3d11.h>
#include <d3dcompiler.h>
#include <dxgi.h>

#include <cstdio>
#include <cstring>
#include <new>
#include <utility>

#include "convert/colour.h"
#include "display/com.h"

namespace kestra {

namespace {

template <typename T, typename From>
bool Query(From *from, Com<T> *to) {
    return SUCCEEDED(from->QueryInterface(__uuidof(T), reinterpret_cast<void **>(to->Out())));
}

template <typename Fn>
Fn Entry(HMODULE module, const char *name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void *>(GetProcAddress(module, name)));
}

// The full-client triangle carries frame coordinates: `source` is the part
// of the frame it shows (left > right mirrors). The planes are sampled at
// the frame coordinate, the chroma planes at half of it, so an odd last
// column or row clamps to the last chroma sample. `Colour` holds the
// record's coefficients.
const char kShaderSource[] = R"(
cbuffer View : register(b0) {
    float4 source;
    float4 scale;
};
cbuffer Colour : register(b1) {
    float4 lumaTerms;    // step, bias, rounding
    float4 chromaSteps;  // blue from u, green from u, green from v, red from v
};
Texture2D lumaPlane : register(t0);
Texture2D bluePlane : register(t1);
Texture2D redPlane : register(t2);
SamplerState planeSampler : register(s0);

struct Vertex {
    float4 position : SV_Position;
    float2 frame : TEXCOORD0;
};

Vertex Stretch(uint id : SV_VertexID) {
    float2 corner = float2((id << 1) & 2, id & 2);
    Vertex output;
    output.position = float4(corner.x * 2 - 1, 1 - corner.y * 2, 0, 1);
    output.frame = source.xy + (source.zw - source.xy) * corner;
    return output;
}

float4 FromPlanes(Vertex input) : SV_Target {
    float2 chroma = input.frame * scale.zw;
    float y = lumaPlane.Sample(planeSampler, input.frame * scale.xy).r * 255 - lumaTerms.y;
    float u = bluePlane.Sample(planeSampler, chroma).r * 255 - CHROMA_BIAS;
    float v = redPlane.Sample(planeSampler, chroma).r * 255 - CHROMA_BIAS;
    float luma = lumaTerms.x * y + lumaTerms.z + 0.5;
    float3 sum = float3(luma + chromaSteps.w * v, luma - chromaSteps.y * u - chromaSteps.z * v,
                        luma + chromaSteps.x * u);
    return float4(saturate(floor(sum / FIXED_ONE) / 255), 1);
}

float4 FromPicture(Vertex input) : SV_Target {
    return float4(lumaPlane.Sample(planeSampler, input.frame * scale.xy).rgb, 1);
}
)";
// The +0.5 above: exact sums are integers, so it keeps the float error of a
// sampled byte from pulling a sum under a multiple of 8192 at the floor.

struct Bytecode {
    std::unique_ptr<uint8_t[]> bytes;
    size_t size = 0;
};

struct ShaderCode {
    Bytecode stretch, fromPlanes, fromPicture;
    bool compiled = false;
};

ShaderCode shaderCode;
INIT_ONCE shadersOnce = INIT_ONCE_STATIC_INIT;

// The constants every colour record shares, as the shader's macros.
class ColourMacros {
public:
    ColourMacros() {
        Define("CHROMA_BIAS", colour::kChromaBias);
        Define("FIXED_ONE", colour::kFixedOne);
        list[count] = D3D_SHADER_MACRO{nullptr, nullptr};
    }
    const D3D_SHADER_MACRO *List() const { return list; }

private:
    static constexpr int kCount = 2;
    void Define(const char *name, int32_t value) {
        std::snprintf(values[count], sizeof values[count], "%ld.0", long(value));
        list[count] = D3D_SHADER_MACRO{name, values[count]};
        ++count;
    }
    char values[kCount][16] = {};
    D3D_SHADER_MACRO list[kCount + 1] = {};
    int count = 0;
};

bool CompileOne(pD3DCompile compile, const char *entry, const char *profile, Bytecode *code) {
    const ColourMacros macros;
    Com<ID3DBlob> blob, errors;
    if (FAILED(compile(kShaderSource, sizeof kShaderSource - 1, "d3d11_output", macros.List(),
                       nullptr, entry, profile, D3DCOMPILE_OPTIMIZATION_LEVEL3, 0, blob.Out(),
                       errors.Out())))
        return false;
    code->size = blob->GetBufferSize();
    code->bytes.reset(new (std::nothrow) uint8_t[code->size]);
    if (code->bytes) std::memcpy(code->bytes.get(), blob->GetBufferPointer(), code->size);
    return code->bytes != nullptr;
}

// Once per process; the compiler is let go afterwards, every device takes the bytecode.
BOOL CALLBACK CompileShaders(PINIT_ONCE, void *, void **) {
    HMODULE compiler = LoadLibraryA("d3dcompiler_47.dll");
    if (!compiler) return TRUE;
    auto compile = Entry<pD3DCompile>(compiler, "D3DCompile");
    shaderCode.compiled = compile &&
                          CompileOne(compile, "Stretch", "vs_4_0", &shaderCode.stretch) &&
                          CompileOne(compile, "FromPlanes", "ps_4_0", &shaderCode.fromPlanes) &&
                          CompileOne(compile, "FromPicture", "ps_4_0", &shaderCode.fromPicture);
    FreeLibrary(compiler);
    return TRUE;
}

const ShaderCode *Shaders() {
    InitOnceExecuteOnce(&shadersOnce, CompileShaders, nullptr, nullptr);
    return shaderCode.compiled ? &shaderCode : nullptr;
}

// The constant buffer `View` of the shaders.
struct ViewConstants {
    float source[4];
    float scale[4];
};

// The constant buffer `Colour` of the pixel shader; every step is below 2^24,
// so a float holds it exactly.
struct ColourConstants {
    float lumaTerms[4];
    float chromaSteps[4];
};

ColourConstants MakeColour(const colour::Record &r) {
    return ColourConstants{
        {float(r.lumaStep), float(r.lumaBias), float(r.rounding), 0},
        {float(r.blueFromU), float(r.greenFromU), float(r.greenFromV), float(r.redFromV)}};
}

constexpr int32_t kMaxSide = D3D11_REQ_TEXTURE2D_U_OR_V_DIMENSION;

int32_t ChromaSide(int32_t side) { return side / 2 > 0 ? side / 2 : 1; }

ViewConstants MakeView(const RECT &source, int32_t width, int32_t height) {
    return ViewConstants{
        {float(source.left), float(source.top), float(source.right), float(source.bottom)},
        {1.0f / float(width), 1.0f / float(height), 0.5f / float(ChromaSide(width)),
         0.5f / float(ChromaSide(height))}};
}

}  // namespace

// Everything that lives on one device; made again from scratch when it is lost.
struct D3D11Output::Device {
    static std::unique_ptr<Device> Make(HMODULE d3d11, HWND window, int32_t width, int32_t height);

    int32_t width = 0, height = 0;
    Com<ID3D11Device> device;
    Com<ID3D11DeviceContext> context;
    Com<IDXGIFactory> factory;
    Com<ID3D11VertexShader> stretch;
    Com<ID3D11PixelShader> fromPlanes, fromPicture;
    Com<ID3D11SamplerState> point, linear;
    Com<ID3D11Buffer> wholeFrame, view, colours;
    Com<ID3D11Texture2D> planes[3];
    Com<ID3D11ShaderResourceView> planeViews[3];
    // The converted frame the OSD is painted on, made at the first painted frame.
    Com<ID3D11Texture2D> picture;
    Com<ID3D11RenderTargetView> pictureTarget;
    Com<ID3D11ShaderResourceView> pictureView;
    Com<IDXGISwapChain> swapChain;
    Com<ID3D11RenderTargetView> backBuffer;
    LONG clientWidth = 0, clientHeight = 0;
    ViewConstants lastView = {};
    const colour::Record *lastColour = nullptr;

    bool Open(HMODULE d3d11);
    bool MakePipeline(const ShaderCode &code);
    bool MakeSampler(D3D11_FILTER filter, Com<ID3D11SamplerState> *sampler);
    bool MakeConstants(const void *initial, UINT size, Com<ID3D11Buffer> *buffer);
    bool MakePlane(int index, int32_t planeWidth, int32_t planeHeight);
    bool MakePicture();
    bool Attach(HWND window);
    void ReleaseBackBuffer();
    bool MakeBackBufferView();
    bool Prime();
    HRESULT FollowClient(HWND window);
    void Upload(const FrameArgs &frame);
    void Pass(ID3D11RenderTargetView *target, LONG targetWidth, LONG targetHeight,
              ID3D11PixelShader *shader, ID3D11ShaderResourceView *const *views, int viewCount,
              ID3D11SamplerState *sampler, ID3D11Buffer *constants);
    void SetView(const RECT &source);
    void SetColour(const colour::Record &colour);
    bool PaintOsd(OsdPaint paint, void *context);
    D3D11Shown Draw(HWND window, const FrameArgs &frame, const RECT &source, OsdPaint paint,
                    void *context);
};

bool D3D11Output::Device::Open(HMODULE d3d11) {
    auto create = Entry<PFN_D3D11_CREATE_DEVICE>(d3d11, "D3D11CreateDevice");
    if (!create) return false;
    // ps_4_0 needs 10_0; BGRA support is what lets a texture hand out a GDI DC.
    const D3D_FEATURE_LEVEL levels[] = {D3D_FEATURE_LEVEL_11_0, D3D_FEATURE_LEVEL_10_1,
                                        D3D_FEATURE_LEVEL_10_0};
    if (FAILED(create(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, D3D11_CREATE_DEVICE_BGRA_SUPPORT,
                      levels, 3, D3D11_SDK_VERSION, device.Out(), nullptr, context.Out())))
        return false;
    // The factory that made the device's adapter; no dxgi.dll import needed.
    Com<IDXGIDevice> dxgiDevice;
    Com<IDXGIAdapter> adapter;
    return Query(device.Get(), &dxgiDevice) && SUCCEEDED(dxgiDevice->GetAdapter(adapter.Out())) &&
           SUCCEEDED(adapter->GetParent(__uuidof(IDXGIFactory),
                                        reinterpret_cast<void **>(factory.Out())));
}

bool D3D11Output::Device::MakeSampler(D3D11_FILTER filter, Com<ID3D11SamplerState> *sampler) {
    D3D11_SAMPLER_DESC desc = {};
    desc.Filter = filter;
    desc.AddressU = desc.AddressV = desc.AddressW = D3D11_TEXTURE_ADDRESS_CLAMP;
    desc.ComparisonFunc = D3D11_COMPARISON_NEVER;
    desc.MaxLOD = D3D11_FLOAT32_MAX;
    return SUCCEEDED(device->CreateSamplerState(&desc, sampler->Out()));
}

bool D3D11Output::Device::MakeConstants(const void *initial, UINT size, Com<ID3D11Buffer> *buffer) {
    D3D11_BUFFER_DESC desc = {};
    desc.ByteWidth = size;
    desc.Usage = D3D11_USAGE_DEFAULT;
    desc.BindFlags = D3D11_BIND_CONSTANT_BUFFER;
    D3D11_SUBRESOURCE_DATA data = {initial, 0, 0};
    return SUCCEEDED(device->CreateBuffer(&desc, &data, buffer->Out()));
}

bool D3D11Output::Device::MakePipeline(const ShaderCode &code) {
    const RECT whole = {0, 0, width, height};
    lastView = MakeView(whole, width, height);
    lastColour = &colour::kBt601Studio;
    const ColourConstants initialColour = MakeColour(*lastColour);
    return SUCCEEDED(device->CreateVertexShader(code.stretch.bytes.get(), code.stretch.size,
                                                nullptr, stretch.Out())) &&
           SUCCEEDED(device->CreatePixelShader(code.fromPlanes.bytes.get(), code.fromPlanes.size,
                                               nullptr, fromPlanes.Out())) &&
           SUCCEEDED(device->CreatePixelShader(code.fromPicture.bytes.get(), code.fromPicture.size,
                                               nullptr, fromPicture.Out())) &&
           MakeSampler(D3D11_FILTER_MIN_MAG_MIP_POINT, &point) &&
           MakeSampler(D3D11_FILTER_MIN_MAG_MIP_LINEAR, &linear) &&
           MakeConstants(&lastView, sizeof lastView, &wholeFrame) &&
           MakeConstants(&lastView, sizeof lastView, &view) &&
           MakeConstants(&initialColour, sizeof initialColour, &colours);
}

// A plane that a frame 1 pixel wide or high does not have stays neutral grey.
bool D3D11Output::Device::MakePlane(int index, int32_t planeWidth, int32_t planeHeight) {
    D3D11_TEXTURE2D_DESC desc = {};
    desc.Width = UINT(planeWidth > 0 ? planeWidth : 1);
    desc.Height = UINT(planeHeight > 0 ? planeHeight : 1);
    desc.MipLevels = desc.ArraySize = 1;
    desc.Format = DXGI_FORMAT_R8_UNORM;
    desc.SampleDesc.Count = 1;
    desc.Usage = D3D11_USAGE_DEFAULT;
    desc.BindFlags = D3D11_BIND_SHADER_RESOURCE;
    const uint8_t grey = colour::kGrey;
    D3D11_SUBRESOURCE_DATA data = {&grey, 1, 0};
    const bool empty = planeWidth <= 0 || planeHeight <= 0;
    return SUCCEEDED(
               device->CreateTexture2D(&desc, empty ? &data : nullptr, planes[index].Out())) &&
           SUCCEEDED(device->CreateShaderResourceView(planes[index].Get(), nullptr,
                                                      planeViews[index].Out()));
}

bool D3D11Output::Device::MakePicture() {
    D3D11_TEXTURE2D_DESC desc = {};
    desc.Width = UINT(width);
    desc.Height = UINT(height);
    desc.MipLevels = desc.ArraySize = 1;
    desc.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
    desc.SampleDesc.Count = 1;
    desc.Usage = D3D11_USAGE_DEFAULT;
    desc.BindFlags = D3D11_BIND_RENDER_TARGET | D3D11_BIND_SHADER_RESOURCE;
    desc.MiscFlags = D3D11_RESOURCE_MISC_GDI_COMPATIBLE;
    return SUCCEEDED(device->CreateTexture2D(&desc, nullptr, picture.Out())) &&
           SUCCEEDED(device->CreateRenderTargetView(picture.Get(), nullptr, pictureTarget.Out())) &&
           SUCCEEDED(device->CreateShaderResourceView(picture.Get(), nullptr, pictureView.Out()));
}

// ResizeBuffers fails while anything, a bound view too, holds a buffer.
void D3D11Output::Device::ReleaseBackBuffer() {
    if (context) context->OMSetRenderTargets(0, nullptr, nullptr);
    backBuffer.Reset();
}

bool D3D11Output::Device::MakeBackBufferView() {
    Com<ID3D11Texture2D> buffer;
    return SUCCEEDED(swapChain->GetBuffer(0, __uuidof(ID3D11Texture2D),
                                          reinterpret_cast<void **>(buffer.Out()))) &&
           SUCCEEDED(device->CreateRenderTargetView(buffer.Get(), nullptr, backBuffer.Out()));
}

// A blit-model swap chain: after a flip-model present GDI no longer draws
// on the window, and the GDI output and hosts painting their windows need it.
bool D3D11Output::Device::Attach(HWND window) {
    ReleaseBackBuffer();
    swapChain.Reset();
    RECT client = {};
    GetClientRect(window, &client);
    DXGI_SWAP_CHAIN_DESC desc = {};
    desc.BufferDesc.Width = UINT(client.right > 0 ? client.right : 1);
    desc.BufferDesc.Height = UINT(client.bottom > 0 ? client.bottom : 1);
    desc.BufferDesc.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
    desc.SampleDesc.Count = 1;
    desc.BufferUsage = DXGI_USAGE_RENDER_TARGET_OUTPUT;
    desc.BufferCount = 1;
    desc.OutputWindow = window;
    desc.Windowed = TRUE;
    desc.SwapEffect = DXGI_SWAP_EFFECT_DISCARD;
    if (FAILED(factory->CreateSwapChain(device.Get(), &desc, swapChain.Out()))) return false;
    // The host owns the window: no Alt+Enter full screen, no watching its messages.
    factory->MakeWindowAssociation(window, DXGI_MWA_NO_WINDOW_CHANGES | DXGI_MWA_NO_ALT_ENTER);
    clientWidth = LONG(desc.BufferDesc.Width);
    clientHeight = LONG(desc.BufferDesc.Height);
    return MakeBackBufferView() && Prime();
}

// Under Wine the first Presents of a new swap chain are lost until one has
// been carried out: a black one, waited for, takes most of that loss.
bool D3D11Output::Device::Prime() {
    const float black[4] = {0, 0, 0, 1};
    context->ClearRenderTargetView(backBuffer.Get(), black);
    if (FAILED(swapChain->Present(0, 0))) return false;
    D3D11_QUERY_DESC desc = {D3D11_QUERY_EVENT, 0};
    Com<ID3D11Query> query;
    if (FAILED(device->CreateQuery(&desc, query.Out()))) return false;
    context->End(query.Get());
    BOOL done = FALSE;
    HRESULT state;
    while ((state = context->GetData(query.Get(), &done, sizeof done, 0)) == S_FALSE) Sleep(1);
    return SUCCEEDED(state);
}

// The back buffer follows the client area; S_FALSE when that is empty.
HRESULT D3D11Output::Device::FollowClient(HWND window) {
    RECT client = {};
    if (!GetClientRect(window, &client)) return E_HANDLE;
    if (client.right <= 0 || client.bottom <= 0) return S_FALSE;
    if (client.right == clientWidth && client.bottom == clientHeight) return S_OK;
    ReleaseBackBuffer();
    const HRESULT resized = swapChain->ResizeBuffers(0, UINT(client.right), UINT(client.bottom),
                                                     DXGI_FORMAT_UNKNOWN, 0);
    if (FAILED(resized)) return resized;
    clientWidth = client.right;
    clientHeight = client.bottom;
    return MakeBackBufferView() ? S_OK : E_FAIL;
}

namespace {

// Rows at base + row x stride, as every presenter reads them. A negative
// stride cannot be a pitch, so such a plane goes up a row at a time.
void UploadPlane(ID3D11DeviceContext *context, ID3D11Texture2D *plane, const uint8_t *base,
                 int32_t stride, int32_t columns, int32_t rows) {
    if (stride >= 0) {
        context->UpdateSubresource(plane, 0, nullptr, base, UINT(stride), 0);
        return;
    }
    for (int32_t r = 0; r < rows; ++r) {
        const D3D11_BOX row = {0, UINT(r), 0, UINT(columns), UINT(r) + 1, 1};
        context->UpdateSubresource(plane, 0, &row, base + ptrdiff_t(r) * stride, 0, 0);
    }
}

}  // namespace

void D3D11Output::Device::Upload(const FrameArgs &frame) {
    UploadPlane(context.Get(), planes[0].Get(), frame.y, frame.yStride, width, height);
    if (width < 2 || height < 2) return;  // no chroma samples: the planes stay grey
    UploadPlane(context.Get(), planes[1].Get(), frame.u, frame.uvStride, width / 2, height / 2);
    UploadPlane(context.Get(), planes[2].Get(), frame.v, frame.uvStride, width / 2, height / 2);
}

void D3D11Output::Device::Pass(ID3D11RenderTargetView *target, LONG targetWidth, LONG targetHeight,
                               ID3D11PixelShader *shader, ID3D11ShaderResourceView *const *views,
                               int viewCount, ID3D11SamplerState *sampler,
                               ID3D11Buffer *constants) {
    const D3D11_VIEWPORT viewport = {0, 0, float(targetWidth), float(targetHeight), 0, 1};
    context->OMSetRenderTargets(1, &target, nullptr);
    context->RSSetViewports(1, &viewport);
    context->IASetPrimitiveTopology(D3D11_PRIMITIVE_TOPOLOGY_TRIANGLELIST);
    context->VSSetShader(stretch.Get(), nullptr, 0);
    context->VSSetConstantBuffers(0, 1, &constants);
    context->PSSetShader(shader, nullptr, 0);
    ID3D11Buffer *const buffers[2] = {constants, colours.Get()};
    context->PSSetConstantBuffers(0, 2, buffers);
    context->PSSetShaderResources(0, UINT(viewCount), views);
    context->PSSetSamplers(0, 1, &sampler);
    context->Draw(3, 0);
}

void D3D11Output::Device::SetView(const RECT &source) {
    const ViewConstants next = MakeView(source, width, height);
    if (std::memcmp(&next, &lastView, sizeof next) == 0) return;
    context->UpdateSubresource(view.Get(), 0, nullptr, &next, 0, 0);
    lastView = next;
}

// Records are constants, so an address seen before holds the coefficients already loaded.
void D3D11Output::Device::SetColour(const colour::Record &colour) {
    if (&colour == lastColour) return;
    const ColourConstants next = MakeColour(colour);
    context->UpdateSubresource(colours.Get(), 0, nullptr, &next, 0, 0);
    lastColour = &colour;
}

// The frame converted at its own size, exactly as the converters would, for
// the OSD to be painted on through GDI.
bool D3D11Output::Device::PaintOsd(OsdPaint paint, void *paintContext) {
    if (!picture && !MakePicture()) return false;
    ID3D11ShaderResourceView *const views[3] = {planeViews[0].Get(), planeViews[1].Get(),
                                                planeViews[2].Get()};
    Pass(pictureTarget.Get(), width, height, fromPlanes.Get(), views, 3, point.Get(),
         wholeFrame.Get());
    // GetDC wants the surface unbound.
    context->OMSetRenderTargets(0, nullptr, nullptr);
    Com<IDXGISurface1> surface;
    HDC dc = nullptr;
    if (!Query(picture.Get(), &surface) || FAILED(surface->GetDC(FALSE, &dc))) return false;
    paint(dc, paintContext);
    surface->ReleaseDC(nullptr);
    return true;
}

D3D11Shown D3D11Output::Device::Draw(HWND window, const FrameArgs &frame, const RECT &source,
                                     OsdPaint paint, void *paintContext) {
    const HRESULT client = FollowClient(window);
    if (client == S_FALSE) return D3D11Shown::Hidden;
    if (FAILED(client)) return D3D11Shown::Failed;
    Upload(frame);
    if (paint && !PaintOsd(paint, paintContext)) return D3D11Shown::Failed;
    SetView(source);
    if (paint) {
        ID3D11ShaderResourceView *const views[1] = {pictureView.Get()};
        Pass(backBuffer.Get(), clientWidth, clientHeight, fromPicture.Get(), views, 1, linear.Get(),
             view.Get());
    } else {
        ID3D11ShaderResourceView *const views[3] = {planeViews[0].Get(), planeViews[1].Get(),
                                                    planeViews[2].Get()};
        Pass(backBuffer.Get(), clientWidth, clientHeight, fromPlanes.Get(), views, 3, linear.Get(),
             view.Get());
    }
    const HRESULT presented = swapChain->Present(0, 0);
    if (presented == DXGI_STATUS_OCCLUDED) return D3D11Shown::Hidden;
    return SUCCEEDED(presented) ? D3D11Shown::Presented : D3D11Shown::Failed;
}

std::unique_ptr<D3D11Output::Device> D3D11Output::Device::Make(HMODULE d3d11, HWND window,
                                                               int32_t width, int32_t height) {
    const ShaderCode *code = Shaders();
    std::unique_ptr<Device> made(new (std::nothrow) Device);
    if (!code || !made) return nullptr;
    made->width = width;
    made->height = height;
    const bool ok = made->Open(d3d11) && made->MakePipeline(*code) &&
                    made->MakePlane(0, width, height) &&
                    made->MakePlane(1, width / 2, height / 2) &&
                    made->MakePlane(2, width / 2, height / 2) && made->Attach(window);
    return ok ? std::move(made) : nullptr;
}

D3D11Output::D3D11Output(HWND target, int32_t frameWidth, int32_t frameHeight, HMODULE module)
    : window(target), width(frameWidth), height(frameHeight), d3d11(module) {}

// The device goes before the DLL that made it.
D3D11Output::~D3D11Output() {
    device.reset();
    FreeLibrary(d3d11);
}

std::unique_ptr<D3D11Output> D3D11Output::Create(HWND window, int32_t width, int32_t height) {
    if (!IsWindow(window) || width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide)
        return nullptr;
    if (HiddenInChildWindowOnWine(window)) return nullptr;
    HMODULE d3d11 = LoadLibraryA("d3d11.dll");
    if (!d3d11) return nullptr;
    std::unique_ptr<D3D11Output> output(new (std::nothrow)
                                            D3D11Output(window, width, height, d3d11));
    if (!output) {
        FreeLibrary(d3d11);
        return nullptr;
    }
    output->device = Device::Make(d3d11, window, width, height);
    return output->device ? std::move(output) : nullptr;
}

D3D11Shown D3D11Output::Show(const FrameArgs &frame, const RECT *crop, bool mirror,
                             const colour::Record &colour, OsdPaint paint, void *context) {
    if (!device || !device->swapChain || !window) return D3D11Shown::Failed;
    device->SetColour(colour);
    RECT source = crop ? *crop : RECT{0, 0, width, height};
    if (mirror) std::swap(source.left, source.right);
    const D3D11Shown shown = device->Draw(window, frame, source, paint, context);
    if (shown == D3D11Shown::Failed) device.reset();
    return shown;
}

bool D3D11Output::MoveTo(HWND target) {
    window = nullptr;
    if (!IsWindow(target) || HiddenInChildWindowOnWine(target)) return false;
    if (!device || !device->Attach(target)) device = Device::Make(d3d11, target, width, height);
    if (device) window = target;
    return device != nullptr;
}

}  // namespace kestra
