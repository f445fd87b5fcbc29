// Direct3D 11 output. Per frame: three plane uploads, one draw (two and a GDI
// round trip with an OSD), one Present, all under the device's context lock;
// nothing is allocated after set-up.
#include "display/d3d11_output.h"
#include "display/d3d11_faults.h"

#include <d3d11.h>
#include <d3dcompiler.h>
#include <dxgi.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <utility>

#include "convert/colour.h"

namespace kestra {

struct Bytecode {
    std::unique_ptr<uint8_t[]> bytes;
    size_t size = 0;
};

// The Area shaders' counts of samples across and down, chosen apart, from
// the least; each takes a footprint up to 2.2 times as wide. A frame shrunk
// into a tile of another shape takes fewer samples down than across.
constexpr int kAxisTaps[] = {1, 2, 3, 4, 6, 8};
constexpr int kAxisSizes = sizeof kAxisTaps / sizeof kAxisTaps[0];
// There are shaders for the pairs of counts at most this many places apart
// in kAxisTaps, but for one by one: that is the single tap.
constexpr int kSpread = 2;

// Which of the Area shaders takes kAxisTaps[across] by kAxisTaps[down]
// samples; -1 for a pair without one.
constexpr int AreaIndex(int across, int down) {
    int index = 0;
    for (int a = 0; a < kAxisSizes; ++a)
        for (int d = 0; d < kAxisSizes; ++d) {
            if ((a == 0 && d == 0) || a - d > kSpread || d - a > kSpread) continue;
            if (a == across && d == down) return index;
            ++index;
        }
    return -1;
}
static_assert(AreaIndex(kAxisSizes - 1, kAxisSizes - 1) == kAreaSizes - 1,
              "kAreaSizes counts the pairs of AreaIndex");

// Compiled once per process; every device makes its shaders from it.
struct ShaderCode {
    Bytecode stretch, fromPlanes, fromPicture;
    // The shrinking filters, one pair for each pair of counts; all
    // empty when one did not compile, and frames are then shrunk with the
    // single tap.
    Bytecode areaFromPlanes[kAreaSizes], areaFromPicture[kAreaSizes];
    bool compiled = false;
};

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
// of the frame it shows, left and right swapped for a mirrored picture. The
// planes are sampled at the frame coordinate, the chroma planes at half of
// it, so an odd last column or row clamps to the last chroma sample.
// `Colour` holds the record's coefficients.
//
// Shrinking, the Area shaders (AreaSource) average each window pixel's
// footprint (`reach` frame pixels across and down), each texel weighed by
// how much of it the footprint covers. A bilinear sample between two texels
// weighs them as its place between them says, so one sample takes a pair of
// texels in the ratio of their weights; a grid of such samples, each
// weighed by its pair's share, is the footprint's box average. The pairs
// are the texels nearest the footprint's centre: at an integer ratio they
// hold it all, at others they may leave a sliver at an edge. The conversion
// is affine, so averaging the planes before it is averaging the picture
// after it, clamping apart.
const char kShaderSource[] = R"(
cbuffer View : register(b0) {
    float4 source;
    float4 scale;
    float4 reach;
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

// The conversion of three sampled bytes. The compiler Wine carries takes no
// calls of user functions, nor loops yet: macros and straight-line code.
#define CONVERTED(lumaSample, blueSample, redSample)                                    \
    float y = (lumaSample) * 255 - lumaTerms.y;                                         \
    float u = (blueSample) * 255 - CHROMA_BIAS;                                         \
    float v = (redSample) * 255 - CHROMA_BIAS;                                          \
    float luma = lumaTerms.x * y + lumaTerms.z + 0.5;                                   \
    float3 sum = float3(luma + chromaSteps.w * v, luma - chromaSteps.y * u - chromaSteps.z * v, \
                        luma + chromaSteps.x * u);                                      \
    return float4(saturate(floor(sum / FIXED_ONE) / 255), 1);

float4 FromPlanes(Vertex input) : SV_Target {
    float2 chroma = input.frame * scale.zw;
    CONVERTED(lumaPlane.Sample(planeSampler, input.frame * scale.xy).r,
              bluePlane.Sample(planeSampler, chroma).r, redPlane.Sample(planeSampler, chroma).r)
}

float4 FromPicture(Vertex input) : SV_Target {
    return float4(lumaPlane.Sample(planeSampler, input.frame * scale.xy).rgb, 1);
}
)";
// The +0.5 above: exact sums are integers, so it keeps the float error of a
// sampled byte from pulling a sum under a multiple of 8192 at the floor.

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

bool CompileOne(pD3DCompile compile, const char *entry, const char *profile, Bytecode *code,
                const char *source = kShaderSource, size_t length = sizeof kShaderSource - 1) {
    const ColourMacros macros;
    Com<ID3DBlob> blob, errors;
    if (FAILED(compile(source, length, "d3d11_output", macros.List(), nullptr, entry, profile,
                       D3DCOMPILE_OPTIMIZATION_LEVEL3, 0, blob.Out(), errors.Out())))
        return false;
    code->size = blob->GetBufferSize();
    code->bytes.reset(new (std::nothrow) uint8_t[code->size]);
    if (code->bytes) std::memcpy(code->bytes.get(), blob->GetBufferPointer(), code->size);
    return code->bytes != nullptr;
}

// Along one axis (`x` or `y`) of a footprint from `start` to `end`, in
// texels, the pairs of texels from `first` on: for pair k, `<name><k>` its
// sample's place, in the texture's coordinates (`toTexture` times texels),
// and `<name><k>Share` its weight. Returns the sum of the shares.
std::string WriteAxis(std::string *source, const std::string &name, const char *axis,
                      const char *toTexture, const char *prefix, int pairs) {
    char line[512];
    std::string shares;
    for (int k = 0; k < pairs; ++k) {
        const std::string pair = name + std::to_string(k);
        std::snprintf(line, sizeof line,
                      "    float %sNear = saturate(min(%sFirst.%s + %d, %sEnd.%s) - "
                      "max(%sFirst.%s + %d, %sStart.%s));\n"
                      "    float %sFar = saturate(min(%sFirst.%s + %d, %sEnd.%s) - "
                      "max(%sFirst.%s + %d, %sStart.%s));\n"
                      "    float %sShare = %sNear + %sFar;\n"
                      "    float %s = (%sFirst.%s + %d.5 + %sFar / max(%sShare, 0.001)) * %s;\n",
                      pair.c_str(), prefix, axis, 2 * k + 1, prefix, axis, prefix, axis, 2 * k,
                      prefix, axis, pair.c_str(), prefix, axis, 2 * k + 2, prefix, axis, prefix,
                      axis, 2 * k + 1, prefix, axis, pair.c_str(), pair.c_str(), pair.c_str(),
                      pair.c_str(), prefix, axis, 2 * k, pair.c_str(), pair.c_str(), toTexture);
        *source += line;
        shares += (k ? " + " : "") + pair + "Share";
    }
    return "(" + shares + ")";
}

// A footprint, `centre` and `reach` in a plane's texels, as `across` by
// `down` pairs; returns the sum of their weights.
std::string WriteFootprint(std::string *source, const char *prefix, const char *centre,
                           const char *reach, const char *toTexture, int across, int down) {
    char line[512];
    std::snprintf(line, sizeof line,
                  "    float2 %sStart = %s - 0.5 * %s, %sEnd = %s + 0.5 * %s;\n"
                  "    float2 %sFirst = floor(%s - float2(%d, %d) + 0.5);\n"
                  "    float2 %sToTexture = %s;\n",
                  prefix, centre, reach, prefix, centre, reach, prefix, centre, across, down,
                  prefix, toTexture);
    *source += line;
    const std::string toX = std::string(prefix) + "ToTexture.x";
    const std::string toY = std::string(prefix) + "ToTexture.y";
    const std::string xs =
        WriteAxis(source, std::string(prefix) + "X", "x", toX.c_str(), prefix, across);
    const std::string ys =
        WriteAxis(source, std::string(prefix) + "Y", "y", toY.c_str(), prefix, down);
    return xs + " * " + ys;
}

// `plane` averaged over footprint `prefix` into `mean`.
void WriteMean(std::string *source, const char *mean, const char *plane, const char *prefix,
               const std::string &weights, int across, int down) {
    char line[512];
    std::snprintf(line, sizeof line, "    float4 %s = 0;\n", mean);
    *source += line;
    for (int row = 0; row < down; ++row)
        for (int column = 0; column < across; ++column) {
            std::snprintf(line, sizeof line,
                          "    %s += %s.Sample(planeSampler, float2(%sX%d, %sY%d)) * "
                          "(%sX%dShare * %sY%dShare);\n",
                          mean, plane, prefix, column, prefix, row, prefix, column, prefix, row);
            *source += line;
        }
    std::snprintf(line, sizeof line, "    %s /= max(%s, 0.001);\n", mean, weights.c_str());
    *source += line;
}

// The shader source with the Area shaders of `across` by `down` pairs of
// luma texels, written out; chroma, half as fine, takes half as many.
std::string AreaSource(int across, int down) {
    const int chromaAcross = (across + 1) / 2, chromaDown = (down + 1) / 2;
    std::string source = kShaderSource;
    source += "\nfloat4 AreaFromPlanes(Vertex input) : SV_Target {\n";
    const std::string luma =
        WriteFootprint(&source, "luma", "input.frame", "reach.xy", "scale.xy", across, down);
    const std::string chroma =
        WriteFootprint(&source, "chroma", "input.frame * 0.5", "reach.xy * 0.5", "scale.zw * 2",
                       chromaAcross, chromaDown);
    WriteMean(&source, "lumaMean", "lumaPlane", "luma", luma, across, down);
    WriteMean(&source, "blueMean", "bluePlane", "chroma", chroma, chromaAcross, chromaDown);
    WriteMean(&source, "redMean", "redPlane", "chroma", chroma, chromaAcross, chromaDown);
    source += "    CONVERTED(lumaMean.r, blueMean.r, redMean.r)\n}\n";
    source += "\nfloat4 AreaFromPicture(Vertex input) : SV_Target {\n";
    const std::string picture =
        WriteFootprint(&source, "luma", "input.frame", "reach.xy", "scale.xy", across, down);
    WriteMean(&source, "pictureMean", "lumaPlane", "luma", picture, across, down);
    source += "    return float4(pictureMean.rgb, 1);\n}\n";
    return source;
}

bool CompileArea(pD3DCompile compile) {
    for (int across = 0; across < kAxisSizes; ++across)
        for (int down = 0; down < kAxisSizes; ++down) {
            const int index = AreaIndex(across, down);
            if (index < 0) continue;
            const std::string source = AreaSource(kAxisTaps[across], kAxisTaps[down]);
            if (!CompileOne(compile, "AreaFromPlanes", "ps_4_0", &shaderCode.areaFromPlanes[index],
                            source.data(), source.size()) ||
                !CompileOne(compile, "AreaFromPicture", "ps_4_0",
                            &shaderCode.areaFromPicture[index], source.data(), source.size()))
                return false;
        }
    return true;
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
    // All or none: without them the devices shrink with the single tap.
    if (shaderCode.compiled && !CompileArea(compile))
        for (int size = 0; size < kAreaSizes; ++size) {
            shaderCode.areaFromPlanes[size].bytes.reset();
            shaderCode.areaFromPicture[size].bytes.reset();
        }
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
    float reach[4];
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

// `source` shown over a client area of clientWidth x clientHeight.
ViewConstants MakeView(const RECT &source, bool mirrored, int32_t width, int32_t height,
                       LONG clientWidth, LONG clientHeight) {
    const LONG left = mirrored ? source.right : source.left;
    const LONG right = mirrored ? source.left : source.right;
    return ViewConstants{{float(left), float(source.top), float(right), float(source.bottom)},
                         {1.0f / float(width), 1.0f / float(height),
                          0.5f / float(ChromaSide(width)), 0.5f / float(ChromaSide(height))},
                         {float(source.right - source.left) / float(clientWidth),
                          float(source.bottom - source.top) / float(clientHeight), 0, 0}};
}

// Where one axis's footprint, `reach` texels, takes its count in kAxisTaps.
// A sample takes two texels; a footprint up to 2.2 a sample (a 1080-line
// frame in a 252-line tile) leaves slivers at its edges out rather than
// take half as many samples again. Past the last count the footprint's
// edges are left out: a tile that small is past reading.
int AxisSize(float reach) {
    const float taps = std::ceil(reach / 2.2f);
    int size = 0;
    while (size + 1 < kAxisSizes && float(kAxisTaps[size]) < taps) ++size;
    return size;
}

// Which of the Area shaders shrinks `view`'s footprint, or -1 when one tap
// covers it. A shape past the shaders' spread takes more samples than it needs.
int AreaSize(const ViewConstants &view) {
    int across = AxisSize(view.reach[0]), down = AxisSize(view.reach[1]);
    across = std::max(across, down - kSpread);
    down = std::max(down, across - kSpread);
    return AreaIndex(across, down);
}

}  // namespace

// ---- the calls that find a device gone ----

HRESULT D3D11Calls::CreateDevice(HMODULE d3d11, IDXGIAdapter *adapter, ID3D11Device **device,
                                 ID3D11DeviceContext **context) {
    auto create = Entry<PFN_D3D11_CREATE_DEVICE>(d3d11, "D3D11CreateDevice");
    if (!create) return E_NOINTERFACE;
    // ps_4_0 needs 10_0; BGRA support is what lets a texture hand out a GDI DC.
    const D3D_FEATURE_LEVEL levels[] = {D3D_FEATURE_LEVEL_11_0, D3D_FEATURE_LEVEL_10_1,
                                        D3D_FEATURE_LEVEL_10_0};
    // A given adapter takes the driver type from it.
    return create(adapter, adapter ? D3D_DRIVER_TYPE_UNKNOWN : D3D_DRIVER_TYPE_HARDWARE, nullptr,
                  D3D11_CREATE_DEVICE_BGRA_SUPPORT, levels, 3, D3D11_SDK_VERSION, device, nullptr,
                  context);
}

HRESULT D3D11Calls::Present(IDXGISwapChain *swapChain) { return swapChain->Present(0, 0); }

HRESULT D3D11Calls::CreateAreaShader(ID3D11Device *device, const void *code, SIZE_T size,
                                     ID3D11PixelShader **shader) {
    return device->CreatePixelShader(code, size, nullptr, shader);
}

namespace {

// What a device that is gone answers; any other failure is one output's own.
bool DeviceGone(HRESULT result) {
    return result == DXGI_ERROR_DEVICE_REMOVED || result == DXGI_ERROR_DEVICE_RESET ||
           result == DXGI_ERROR_DEVICE_HUNG || result == DXGI_ERROR_DRIVER_INTERNAL_ERROR;
}

bool HoldsPoint(IDXGIAdapter *adapter, POINT point) {
    for (UINT index = 0;; ++index) {
        Com<IDXGIOutput> output;
        DXGI_OUTPUT_DESC desc = {};
        if (FAILED(adapter->EnumOutputs(index, output.Out()))) return false;
        if (SUCCEEDED(output->GetDesc(&desc)) && PtInRect(&desc.DesktopCoordinates, point))
            return true;
    }
}

// The adapter whose output holds the window's centre, else the first (the
// default one); null when DXGI cannot list adapters here.
Com<IDXGIAdapter> AdapterFor(HWND window, HMODULE dxgi) {
    using CreateFactory = HRESULT(WINAPI *)(REFIID, void **);
    auto create = Entry<CreateFactory>(dxgi, "CreateDXGIFactory1");
    Com<IDXGIFactory1> factory;
    Com<IDXGIAdapter> first;
    if (!create ||
        FAILED(create(__uuidof(IDXGIFactory1), reinterpret_cast<void **>(factory.Out()))))
        return first;
    RECT outer = {};
    GetWindowRect(window, &outer);
    const POINT centre = {outer.left + (outer.right - outer.left) / 2,
                          outer.top + (outer.bottom - outer.top) / 2};
    for (UINT index = 0;; ++index) {
        Com<IDXGIAdapter> adapter;
        if (FAILED(factory->EnumAdapters(index, adapter.Out()))) return first;
        if (HoldsPoint(adapter.Get(), centre)) return adapter;
        if (index == 0) first = std::move(adapter);
    }
}

LUID AdapterId(IDXGIAdapter *adapter) {
    DXGI_ADAPTER_DESC desc = {};
    if (adapter) adapter->GetDesc(&desc);
    return desc.AdapterLuid;
}

bool SameAdapter(const LUID &a, const LUID &b) {
    return a.LowPart == b.LowPart && a.HighPart == b.HighPart;
}

}  // namespace

// ---- one adapter's device, shared by its outputs ----

bool D3D11Devices::Device::Open(IDXGIAdapter *on) {
    if (!d3d11.Get() ||
        FAILED(owner.calls.CreateDevice(d3d11.Get(), on, device.Out(), context.Out())))
        return false;
    // The factory that made the device's adapter; no dxgi.dll import needed.
    Com<IDXGIDevice1> dxgiDevice;
    Com<IDXGIAdapter> made;
    if (!Query(device.Get(), &dxgiDevice) || FAILED(dxgiDevice->GetAdapter(made.Out())) ||
        FAILED(made->GetParent(__uuidof(IDXGIFactory), reinterpret_cast<void **>(factory.Out()))))
        return false;
    // The frame latency is the device's, not a swap chain's: at the default 3
    // a wall's Presents queue behind each other's (Wine spins in Present till
    // fewer are pending). The most it allows lets each of a wall's displays
    // have a frame on the way.
    dxgiDevice->SetMaximumFrameLatency(16);
    return true;
}

bool D3D11Devices::Device::MakeSampler(D3D11_FILTER filter, Com<ID3D11SamplerState> *sampler) {
    D3D11_SAMPLER_DESC desc = {};
    desc.Filter = filter;
    desc.AddressU = desc.AddressV = desc.AddressW = D3D11_TEXTURE_ADDRESS_CLAMP;
    desc.ComparisonFunc = D3D11_COMPARISON_NEVER;
    desc.MaxLOD = D3D11_FLOAT32_MAX;
    return SUCCEEDED(device->CreateSamplerState(&desc, sampler->Out()));
}

bool D3D11Devices::Device::MakePipeline(const ShaderCode &code) {
    return SUCCEEDED(device->CreateVertexShader(code.stretch.bytes.get(), code.stretch.size,
                                                nullptr, stretch.Out())) &&
           SUCCEEDED(device->CreatePixelShader(code.fromPlanes.bytes.get(), code.fromPlanes.size,
                                               nullptr, fromPlanes.Out())) &&
           SUCCEEDED(device->CreatePixelShader(code.fromPicture.bytes.get(), code.fromPicture.size,
                                               nullptr, fromPicture.Out())) &&
           MakeSampler(D3D11_FILTER_MIN_MAG_MIP_POINT, &point) &&
           MakeSampler(D3D11_FILTER_MIN_MAG_MIP_LINEAR, &linear) && MakeQueries();
}

// Without them the device still shows frames, shrunk with the single tap.
void D3D11Devices::Device::MakeAreaShaders(const ShaderCode &code) {
    for (int size = 0; size < kAreaSizes; ++size) {
        const Bytecode &planes = code.areaFromPlanes[size], &picture = code.areaFromPicture[size];
        if (!planes.bytes || !picture.bytes ||
            FAILED(owner.calls.CreateAreaShader(device.Get(), planes.bytes.get(), planes.size,
                                                areaFromPlanes[size].Out())) ||
            FAILED(owner.calls.CreateAreaShader(device.Get(), picture.bytes.get(), picture.size,
                                                areaFromPicture[size].Out()))) {
            for (int made = 0; made <= size; ++made) {
                areaFromPlanes[made].Reset();
                areaFromPicture[made].Reset();
            }
            return;
        }
    }
}

bool D3D11Devices::Device::MakeQueries() {
    const D3D11_QUERY_DESC desc = {D3D11_QUERY_EVENT, 0};
    for (Com<ID3D11Query> &query : sent)
        if (FAILED(device->CreateQuery(&desc, query.Out()))) return false;
    return true;
}

// A frame waits, outside the lock and asleep, while the device has
// kFramesOnTheWay frames not yet done: Present would otherwise wait for the
// device's frame latency itself, and Wine's waits there spinning, taking a
// core from the threads that render.
void D3D11Devices::Device::WaitForRoom() {
    for (;;) {
        AutoLock lock(contextLock);
        if (!pending[next]) return;
        const HRESULT state = context->GetData(sent[next].Get(), nullptr, 0, 0);
        if (state != S_FALSE) {
            pending[next] = false;
            return;
        }
        lock.Release();
        Sleep(1);
    }
}

// After a Present, under the lock.
void D3D11Devices::Device::Sent() {
    context->End(sent[next].Get());
    pending[next] = true;
    next = (next + 1) % kFramesOnTheWay;
}

D3D11Devices &D3D11Devices::Process() {
    static D3D11Calls direct;
    static D3D11Devices devices(direct);
    return devices;
}

// Made under the table's lock: outputs set up together on a new adapter
// wait for its one device rather than each making one.
std::shared_ptr<D3D11Devices::Device> D3D11Devices::For(HWND window) {
    const ShaderCode *code = Shaders();
    if (!code) return nullptr;
    const Library dxgi("dxgi.dll");
    const Com<IDXGIAdapter> adapter = AdapterFor(window, dxgi.Get());
    const LUID id = AdapterId(adapter.Get());
    AutoLock lock(tableLock);
    table.erase(std::remove_if(table.begin(), table.end(),
                               [](const auto &entry) { return entry.second.expired(); }),
                table.end());
    for (const auto &entry : table)
        if (SameAdapter(entry.first, id)) return entry.second.lock();
    std::shared_ptr<Device> made(new (std::nothrow) Device(*this, id));
    if (!made || !made->Open(adapter.Get()) || !made->MakePipeline(*code)) return nullptr;
    made->MakeAreaShaders(*code);
    table.emplace_back(id, made);
    return made;
}

bool D3D11Devices::Retire(Device *device) {
    if (device->lost.exchange(true, std::memory_order_acq_rel)) return false;
    AutoLock lock(tableLock);
    table.erase(std::remove_if(table.begin(), table.end(),
                               [device](const auto &entry) {
                                   const std::shared_ptr<Device> held = entry.second.lock();
                                   return !held || held.get() == device;
                               }),
                table.end());
    return true;
}

// ---- one output's swap chain on a shared device ----

// What one output makes on the shared device, and lets go of with it.
struct ChainObjects {
    Com<ID3D11Buffer> wholeFrame, view, colours;
    Com<ID3D11Texture2D> planes[3];
    Com<ID3D11ShaderResourceView> planeViews[3];
    // The converted frame the OSD is painted on, made at the first painted frame.
    Com<ID3D11Texture2D> picture;
    Com<ID3D11RenderTargetView> pictureTarget;
    Com<ID3D11ShaderResourceView> pictureView;
    Com<IDXGISwapChain> swapChain;
    Com<ID3D11RenderTargetView> backBuffer;
};

// The swap chain on the output's window and what the output draws into it
// with; its output's drawing thread's. Calls on the shared context that bind
// its objects, and their release, are made under the device's contextLock.
struct D3D11Output::WindowChain {
    WindowChain(std::shared_ptr<D3D11Devices::Device> on, int32_t frameWidth, int32_t frameHeight)
        : shared(std::move(on)), width(frameWidth), height(frameHeight) {}
    ~WindowChain();

    bool Make();
    bool MakeConstants(const void *initial, UINT size, Com<ID3D11Buffer> *buffer);
    bool MakePlane(int index, int32_t planeWidth, int32_t planeHeight);
    bool MakePicture();
    bool Attach(HWND window, bool onWine);
    void ReleaseBackBuffer();
    bool MakeBackBufferView();
    bool Prime();
    bool CopyWanted(HWND window);
    void CopyToWindow(HWND window);
    HRESULT FollowClient(const RECT &client);
    void Upload(const FrameArgs &frame);
    void Pass(ID3D11RenderTargetView *target, LONG targetWidth, LONG targetHeight,
              ID3D11PixelShader *shader, ID3D11ShaderResourceView *const *views, int viewCount,
              ID3D11SamplerState *sampler, ID3D11Buffer *constants);
    void SetView(const ViewConstants &next);
    void SetColour(const colour::Record &colour);
    bool PaintOsd(const OsdPainter &osd);
    Presented Failure(HRESULT result);
    Presented Show(HWND window, const FrameContext &handed);

    const std::shared_ptr<D3D11Devices::Device> shared;
    ID3D11Device *const device = shared->device.Get();
    ID3D11DeviceContext *const context = shared->context.Get();
    const int32_t width, height;
    ChainObjects own;
    LONG clientWidth = 0, clientHeight = 0;
    // The next frame also goes to the window through GDI: the first of a new
    // swap chain, and under Wine (untilPainted) every one until the window
    // has painted since the swap chain appeared.
    bool copyToWindow = false;
    bool untilPainted = false;
    ViewConstants lastView = {};
    const colour::Record *lastColour = nullptr;
};

// The shared context may still hold this output's views, and with them its
// textures and swap chain: unbind everything, then let them go, both while no
// other output draws.
D3D11Output::WindowChain::~WindowChain() {
    AutoLock lock(shared->contextLock);
    context->ClearState();
    own = ChainObjects();
}

bool D3D11Output::WindowChain::MakeConstants(const void *initial, UINT size,
                                             Com<ID3D11Buffer> *buffer) {
    D3D11_BUFFER_DESC desc = {};
    desc.ByteWidth = size;
    desc.Usage = D3D11_USAGE_DEFAULT;
    desc.BindFlags = D3D11_BIND_CONSTANT_BUFFER;
    D3D11_SUBRESOURCE_DATA data = {initial, 0, 0};
    return SUCCEEDED(device->CreateBuffer(&desc, &data, buffer->Out()));
}

// A plane that a frame 1 pixel wide or high does not have stays neutral grey.
bool D3D11Output::WindowChain::MakePlane(int index, int32_t planeWidth, int32_t planeHeight) {
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
               device->CreateTexture2D(&desc, empty ? &data : nullptr, own.planes[index].Out())) &&
           SUCCEEDED(device->CreateShaderResourceView(own.planes[index].Get(), nullptr,
                                                      own.planeViews[index].Out()));
}

// Device calls that make objects are thread-safe: none of this needs the lock.
bool D3D11Output::WindowChain::Make() {
    const RECT whole = {0, 0, width, height};
    lastView = MakeView(whole, false, width, height, width, height);
    lastColour = &colour::kBt601Studio;
    const ColourConstants initialColour = MakeColour(*lastColour);
    return MakeConstants(&lastView, sizeof lastView, &own.wholeFrame) &&
           MakeConstants(&lastView, sizeof lastView, &own.view) &&
           MakeConstants(&initialColour, sizeof initialColour, &own.colours) &&
           MakePlane(0, width, height) && MakePlane(1, width / 2, height / 2) &&
           MakePlane(2, width / 2, height / 2);
}

bool D3D11Output::WindowChain::MakePicture() {
    D3D11_TEXTURE2D_DESC desc = {};
    desc.Width = UINT(width);
    desc.Height = UINT(height);
    desc.MipLevels = desc.ArraySize = 1;
    desc.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
    desc.SampleDesc.Count = 1;
    desc.Usage = D3D11_USAGE_DEFAULT;
    desc.BindFlags = D3D11_BIND_RENDER_TARGET | D3D11_BIND_SHADER_RESOURCE;
    desc.MiscFlags = D3D11_RESOURCE_MISC_GDI_COMPATIBLE;
    return SUCCEEDED(device->CreateTexture2D(&desc, nullptr, own.picture.Out())) &&
           SUCCEEDED(device->CreateRenderTargetView(own.picture.Get(), nullptr,
                                                    own.pictureTarget.Out())) &&
           SUCCEEDED(
               device->CreateShaderResourceView(own.picture.Get(), nullptr, own.pictureView.Out()));
}

// ResizeBuffers fails while anything, a bound view too, holds a buffer. Under the lock.
void D3D11Output::WindowChain::ReleaseBackBuffer() {
    context->OMSetRenderTargets(0, nullptr, nullptr);
    own.backBuffer.Reset();
}

bool D3D11Output::WindowChain::MakeBackBufferView() {
    Com<ID3D11Texture2D> buffer;
    return SUCCEEDED(own.swapChain->GetBuffer(0, __uuidof(ID3D11Texture2D),
                                              reinterpret_cast<void **>(buffer.Out()))) &&
           SUCCEEDED(device->CreateRenderTargetView(buffer.Get(), nullptr, own.backBuffer.Out()));
}

// A blit-model swap chain: after a flip-model present GDI no longer draws
// on the window, and the GDI output and hosts painting their windows need it.
// One buffer of the client's size is all a blit needs.
bool D3D11Output::WindowChain::Attach(HWND window, bool onWine) {
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
    desc.Flags = DXGI_SWAP_CHAIN_FLAG_GDI_COMPATIBLE;
    {
        AutoLock lock(shared->contextLock);
        ReleaseBackBuffer();
        own.swapChain.Reset();
        if (FAILED(shared->factory->CreateSwapChain(device, &desc, own.swapChain.Out())))
            return false;
    }
    // The host owns the window: no Alt+Enter full screen, no watching its messages.
    shared->factory->MakeWindowAssociation(window,
                                           DXGI_MWA_NO_WINDOW_CHANGES | DXGI_MWA_NO_ALT_ENTER);
    clientWidth = LONG(desc.BufferDesc.Width);
    clientHeight = LONG(desc.BufferDesc.Height);
    copyToWindow = true;
    if (!MakeBackBufferView() || !Prime()) return false;
    // An update region of our own, made once the primed Present has put the
    // swap chain on the screen, says when the host's thread has pumped since:
    // the window's paint validates it, after the X events.
    untilPainted = onWine && InvalidateRect(window, nullptr, FALSE);
    return true;
}

// Under Wine the first Presents of a new swap chain are lost until one has
// been carried out: a black one, waited for, takes most of that loss. The
// lock is held for each call on the context, not for the wait.
bool D3D11Output::WindowChain::Prime() {
    D3D11_QUERY_DESC desc = {D3D11_QUERY_EVENT, 0};
    Com<ID3D11Query> query;
    if (FAILED(device->CreateQuery(&desc, query.Out()))) return false;
    {
        AutoLock lock(shared->contextLock);
        const float black[4] = {0, 0, 0, 1};
        context->ClearRenderTargetView(own.backBuffer.Get(), black);
        if (FAILED(shared->owner.calls.Present(own.swapChain.Get()))) return false;
        context->End(query.Get());
    }
    for (;;) {
        BOOL done = FALSE;
        AutoLock lock(shared->contextLock);
        const HRESULT state = context->GetData(query.Get(), &done, sizeof done, 0);
        if (state != S_FALSE) return SUCCEEDED(state);
        lock.Release();
        Sleep(1);
    }
}

// The back buffer follows the client area. Under the lock.
HRESULT D3D11Output::WindowChain::FollowClient(const RECT &client) {
    if (client.right == clientWidth && client.bottom == clientHeight) return S_OK;
    ReleaseBackBuffer();
    const HRESULT resized = own.swapChain->ResizeBuffers(0, UINT(client.right), UINT(client.bottom),
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

void D3D11Output::WindowChain::Upload(const FrameArgs &frame) {
    UploadPlane(context, own.planes[0].Get(), frame.y, frame.yStride, width, height);
    if (width < 2 || height < 2) return;  // no chroma samples: the planes stay grey
    UploadPlane(context, own.planes[1].Get(), frame.u, frame.uvStride, width / 2, height / 2);
    UploadPlane(context, own.planes[2].Get(), frame.v, frame.uvStride, width / 2, height / 2);
}

// Every pass binds all it uses: the context is shared, nothing set by an
// earlier frame of this output can be counted on.
void D3D11Output::WindowChain::Pass(ID3D11RenderTargetView *target, LONG targetWidth,
                                    LONG targetHeight, ID3D11PixelShader *shader,
                                    ID3D11ShaderResourceView *const *views, int viewCount,
                                    ID3D11SamplerState *sampler, ID3D11Buffer *constants) {
    const D3D11_VIEWPORT viewport = {0, 0, float(targetWidth), float(targetHeight), 0, 1};
    context->OMSetRenderTargets(1, &target, nullptr);
    context->RSSetViewports(1, &viewport);
    context->IASetPrimitiveTopology(D3D11_PRIMITIVE_TOPOLOGY_TRIANGLELIST);
    context->VSSetShader(shared->stretch.Get(), nullptr, 0);
    context->VSSetConstantBuffers(0, 1, &constants);
    context->PSSetShader(shader, nullptr, 0);
    ID3D11Buffer *const buffers[2] = {constants, own.colours.Get()};
    context->PSSetConstantBuffers(0, 2, buffers);
    context->PSSetShaderResources(0, UINT(viewCount), views);
    context->PSSetSamplers(0, 1, &sampler);
    context->Draw(3, 0);
}

void D3D11Output::WindowChain::SetView(const ViewConstants &next) {
    if (std::memcmp(&next, &lastView, sizeof next) == 0) return;
    context->UpdateSubresource(own.view.Get(), 0, nullptr, &next, 0, 0);
    lastView = next;
}

// Records are constants, so an address seen before holds the coefficients already loaded.
void D3D11Output::WindowChain::SetColour(const colour::Record &colour) {
    if (&colour == lastColour) return;
    const ColourConstants next = MakeColour(colour);
    context->UpdateSubresource(own.colours.Get(), 0, nullptr, &next, 0, 0);
    lastColour = &colour;
}

// The frame converted at its own size, exactly as the converters would, for
// the OSD to be painted on through GDI.
bool D3D11Output::WindowChain::PaintOsd(const OsdPainter &osd) {
    if (!own.picture && !MakePicture()) return false;
    ID3D11ShaderResourceView *const views[3] = {own.planeViews[0].Get(), own.planeViews[1].Get(),
                                                own.planeViews[2].Get()};
    Pass(own.pictureTarget.Get(), width, height, shared->fromPlanes.Get(), views, 3,
         shared->point.Get(), own.wholeFrame.Get());
    // GetDC wants the surface unbound.
    context->OMSetRenderTargets(0, nullptr, nullptr);
    Com<IDXGISurface1> surface;
    HDC dc = nullptr;
    if (!Query(own.picture.Get(), &surface) || FAILED(surface->GetDC(FALSE, &dc))) return false;
    osd.Paint(dc, height);
    surface->ReleaseDC(nullptr);
    return true;
}

// Under Wine a top-level window's GDI picture is kept apart and put back over
// the client area when the window's thread next handles its X events, which
// may come after any number of a new swap chain's Presents and hide the
// latest until the next frame (for good, for a still picture). Until the
// window has painted, every frame is drawn into that GDI picture as well, so
// whichever lands last shows the latest. Windows needs the first only.
bool D3D11Output::WindowChain::CopyWanted(HWND window) {
    if (!copyToWindow) return false;
    copyToWindow = untilPainted && GetUpdateRect(window, nullptr, FALSE);
    return copyToWindow || !untilPainted;
}

// Under the lock.
void D3D11Output::WindowChain::CopyToWindow(HWND window) {
    context->OMSetRenderTargets(0, nullptr, nullptr);  // GetDC wants the buffer unbound
    Com<IDXGISurface1> surface;
    HDC from = nullptr;
    if (FAILED(own.swapChain->GetBuffer(0, __uuidof(IDXGISurface1),
                                        reinterpret_cast<void **>(surface.Out()))) ||
        FAILED(surface->GetDC(FALSE, &from)))
        return;
    if (HDC to = GetDC(window)) {
        BitBlt(to, 0, 0, clientWidth, clientHeight, from, 0, 0, SRCCOPY);
        ReleaseDC(window, to);
    }
    surface->ReleaseDC(nullptr);
}

// A gone device is reported once, by the output that found it; the others
// on it see `lost` at their next frame.
Presented D3D11Output::WindowChain::Failure(HRESULT result) {
    if (DeviceGone(result)) shared->owner.Retire(shared.get());
    return Presented::SetUpAgain;
}

// An empty (minimised) or occluded client area shows nothing and is nothing
// wrong, as for a surface blit into a client area of no size.
Presented D3D11Output::WindowChain::Show(HWND window, const FrameContext &handed) {
    if (shared->lost.load(std::memory_order_acquire)) return Presented::SetUpAgain;
    RECT client = {};
    if (!GetClientRect(window, &client)) return Presented::SetUpAgain;
    if (client.right <= 0 || client.bottom <= 0) return Presented::Shown;
    const bool osd = handed.osd.HasText();
    shared->WaitForRoom();
    AutoLock lock(shared->contextLock);
    const HRESULT followed = FollowClient(client);
    if (FAILED(followed)) return Failure(followed);
    Upload(handed.frame);
    SetColour(handed.colour);
    if (osd && !PaintOsd(handed.osd)) return Presented::SetUpAgain;
    const ViewConstants view =
        MakeView(handed.source, handed.mirrored, width, height, clientWidth, clientHeight);
    SetView(view);
    // Smooth unless asked for the single tap, which is all upscaling needs.
    const int size = handed.scaling == Scaling::Fast ? -1 : AreaSize(view);
    const bool area = size >= 0 && shared->areaFromPlanes[size];
    if (osd) {
        ID3D11ShaderResourceView *const views[1] = {own.pictureView.Get()};
        Pass(own.backBuffer.Get(), clientWidth, clientHeight,
             area ? shared->areaFromPicture[size].Get() : shared->fromPicture.Get(), views, 1,
             shared->linear.Get(), own.view.Get());
    } else {
        ID3D11ShaderResourceView *const views[3] = {
            own.planeViews[0].Get(), own.planeViews[1].Get(), own.planeViews[2].Get()};
        Pass(own.backBuffer.Get(), clientWidth, clientHeight,
             area ? shared->areaFromPlanes[size].Get() : shared->fromPlanes.Get(), views, 3,
             shared->linear.Get(), own.view.Get());
    }
    if (CopyWanted(window)) CopyToWindow(window);
    const HRESULT presented = shared->owner.calls.Present(own.swapChain.Get());
    if (SUCCEEDED(presented)) shared->Sent();
    lock.Release();
    if (presented == DXGI_STATUS_OCCLUDED) return Presented::Shown;
    return SUCCEEDED(presented) ? Presented::Shown : Failure(presented);
}

// ---- the output ----

D3D11Output::D3D11Output(const PresenterSetUp &setUp)
    : width(setUp.width), height(setUp.height), onWine(setUp.onWine), window(setUp.window) {}

D3D11Output::~D3D11Output() = default;

std::unique_ptr<D3D11Output> D3D11Output::Create(const PresenterSetUp &setUp,
                                                 D3D11Devices &devices) {
    const HWND window = setUp.window;
    const int32_t width = setUp.width, height = setUp.height;
    if (!IsWindow(window) || width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide)
        return nullptr;
    if (HiddenInChildWindow(window, setUp.onWine)) return nullptr;
    std::shared_ptr<D3D11Devices::Device> device = devices.For(window);
    if (!device) return nullptr;
    std::unique_ptr<D3D11Output> output(new (std::nothrow) D3D11Output(setUp));
    if (!output) return nullptr;
    output->chain.reset(new (std::nothrow) WindowChain(std::move(device), width, height));
    if (!output->chain || !output->chain->Make() || !output->chain->Attach(window, setUp.onWine))
        return nullptr;
    return output;
}

Presented D3D11Output::Present(const FrameContext &context) {
    // Released by KESTRA_DWFreeDraw, like the surfaces of the DirectDraw modes.
    if (released) return Presented::Released;
    if (!chain || !chain->own.swapChain || !window) return Presented::SetUpAgain;
    const Presented shown = chain->Show(window, context);
    if (shown == Presented::SetUpAgain) chain.reset();
    return shown;
}

void D3D11Output::Release() {
    chain.reset();
    released = true;
}

bool D3D11Output::MoveTo(HWND target) {
    window = nullptr;
    if (!chain || chain->shared->lost.load(std::memory_order_acquire)) return false;
    if (!IsWindow(target) || HiddenInChildWindow(target, onWine)) return false;
    if (!chain->Attach(target, onWine)) return false;
    window = target;
    return true;
}

std::unique_ptr<Presenter> MakeD3D11Presenter(const PresenterSetUp &setUp) {
    return D3D11Output::Create(setUp);
}

}  // namespace kestra
