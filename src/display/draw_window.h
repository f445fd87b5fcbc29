// DrawWindow: everything the library keeps for one video display.
#pragma once

#include <windows.h>
#include <ddraw.h>

#include <atomic>
#include <cstdint>

#include "core/crit_section.h"
#include "kestra/kestra.h"

struct IDirectDraw7;
struct IDirectDrawSurface7;

namespace kestra {

enum RenderMode : int32_t {
    ModeYV12Surface = 0,
    ModeUYVYSurface = 1,
    ModeRGB565Surface = 2,
    ModeGdi = 3,
};

// Draw results passed through to the host.
enum : int32_t {
    kDrawOk = 0,
    kDrawNotReady = -1,
    kDrawLockFailed = -3,
    kDrawNoSurfaces = -9,
};

constexpr int kOsdSlotCount = 6;
constexpr int kOsdTextBytes = 512;

struct OsdSlot {
    char text[kOsdTextBytes];
    int32_t anchor;
    int32_t x;
    int32_t y;
    COLORREF colour;
};

// The frame arguments of the draw call after the handle.
struct FrameArgs {
    const uint8_t *y;
    int32_t yStride;
    const uint8_t *u;
    const uint8_t *v;
    int32_t uvStride;
    int32_t value6;
    int32_t value7;
    int32_t value8;
};

// Whether a play rect lies inside a frame of this size (draw_window.cpp).
bool InsideFrame(const RECT &rect, int32_t width, int32_t height);

// The bottom-up 24-bit header of a frame (gdi_present.cpp).
void FillBitmapHeader(int32_t width, int32_t height, BITMAPINFOHEADER *header);

class DrawWindow {
public:
    DrawWindow();
    virtual ~DrawWindow();
    DrawWindow(const DrawWindow &) = delete;
    DrawWindow &operator=(const DrawWindow &) = delete;

    // Setters (no lock: the host must not race them with a draw).
    void SetHwnd(HWND window);
    void SetIndex(int32_t index) { drawIndex = index; }
    void SetDisplayCallback(void *user, KestraDisplayCallback callback);
    void SetMirrorMode(int32_t mode) { mirrorMode = mode; }
    void SetPlayRect(const RECT *rect);  // under surfaceLock

    // Set-up (surface_setup.cpp).
    int32_t InitDraw(int32_t width, int32_t height);
    void FreeDraw();
    void UpdateWindowRect();

    // The draw dispatch and its two paths.
    int32_t DrawYUV420(const FrameArgs &frame);
    int32_t DrawSurfaceFrame(const FrameArgs &frame);  // surface_present.cpp
    int32_t DrawGdiFrame(const FrameArgs &frame);      // gdi_present.cpp

    // OSD and callback (osd.cpp).
    void SetOsdText(int32_t index, const char *text, int32_t x, int32_t y, int32_t anchor,
                    COLORREF colour);
    int HasOsdText() const;
    void DrawOsd(HDC dc, int32_t width, int32_t height);
    void CallDisplayCallback(HDC dc, int32_t windowWidth, int32_t windowHeight, int32_t value7,
                             int32_t value8, int32_t mode);

    // Public so the set-up, the presenters and the tests share one record.
    IDirectDraw7 *ddraw;
    IDirectDrawSurface7 *primarySurface;
    IDirectDrawSurface7 *frameSurface;
    IDirectDrawSurface7 *auxSurface;
    RECT windowRect;
    int32_t frameWidth;
    int32_t frameHeight;
    HWND hwnd;
    HDC windowDC;
    uint32_t initialised;
    int32_t renderMode;
    CritSection callbackLock;
    KestraDisplayCallback displayCallback;
    void *callbackUser;
    uint8_t *frameBuffer;
    CritSection osdLock;
    OsdSlot osdSlots[kOsdSlotCount];
    CritSection surfaceLock;
    uint32_t playRectEnabled;
    RECT playRect;
    // seq_cst, both: the host may set them from another thread while a frame is drawn.
    std::atomic<uint32_t> drawIndex;
    std::atomic<int32_t> mirrorMode;

private:
    // Surface set-up steps (surface_setup.cpp).
    void SetUpDirectDraw(int32_t width, int32_t height);
    void DropPlayRectOutside(int32_t width, int32_t height);
    int32_t CreateDirectDraw(int32_t width, int32_t height);
    int32_t CreateFrameSurface(int32_t width, int32_t height, int32_t mode);
    int32_t AttachSurfaces(int32_t width, int32_t height);
    static void FillPixelFormat(int32_t mode, DDPIXELFORMAT *format);
    bool AllocFrameBuffer(int32_t width, int32_t height);
    // Surface presentation steps (surface_present.cpp).
    void FillFrameSurface(const FrameArgs &frame, const DDSURFACEDESC2 &desc);
    IDirectDrawSurface7 *ComposeSource(DDSURFACEDESC2 *desc, bool mirror);
    IDirectDrawSurface7 *ComposeThroughAux(DDSURFACEDESC2 *desc, bool text);
    void PresentSurface(IDirectDrawSurface7 *source, bool mirror);
    void UpdateClientRect();
    // ddraw.dll while DirectDraw objects of this display exist.
    HMODULE ddrawModule = nullptr;
    // GDI presentation step (gdi_present.cpp).
    void PresentGdi(const BITMAPINFOHEADER &header, const void *bits, const RECT &window, HDC dc);
};

}  // namespace kestra
