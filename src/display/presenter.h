// Presenters: the ways a display can put frames on the screen. InitDraw
// chooses one; the draw call hands it each frame.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

namespace kestra {

class DrawWindow;
struct DisplayView;

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

// What a presenter reads of its display for one frame.
struct PresentArgs {
    const FrameArgs &frame;
    HWND hwnd;
    HDC windowDC;
    const RECT &windowRect;  // the outer window rect
    int32_t mirror;          // read once, so the frame's steps agree on it
    DrawWindow &display;     // the OSD text, the crop and the host's callback
};

class Presenter {
public:
    Presenter(int32_t mode, int32_t width, int32_t height)
        : renderMode(mode), frameWidth(width), frameHeight(height) {}
    virtual ~Presenter() = default;
    Presenter(const Presenter &) = delete;
    Presenter &operator=(const Presenter &) = delete;

    virtual int32_t Present(const PresentArgs &args) = 0;
    // Lets DirectDraw go; the frame buffer stays.
    virtual void Release() {}
    virtual bool UsesDirectDraw() const { return false; }
    virtual void Describe(DisplayView *view) const;

    bool AllocFrameBuffer();
    // A presenter chosen again for the same frame size takes over the buffer.
    std::unique_ptr<uint8_t[]> TakeFrameBuffer() { return std::move(frameBuffer); }
    void AdoptFrameBuffer(std::unique_ptr<uint8_t[]> buffer) { frameBuffer = std::move(buffer); }

protected:
    const int32_t renderMode;
    const int32_t frameWidth;
    const int32_t frameHeight;
    std::unique_ptr<uint8_t[]> frameBuffer;
};

// Works wherever DirectDraw does not (gdi_present.cpp).
std::unique_ptr<Presenter> MakeGdiPresenter(int32_t width, int32_t height);

// The surface presenter the adapter behind `window` supports, or null when
// DirectDraw cannot show frames there (surface_setup.cpp). The set-up's test
// blit goes to `testTarget`.
std::unique_ptr<Presenter> MakeSurfacePresenter(HWND window, int32_t width, int32_t height,
                                                const RECT &testTarget);

}  // namespace kestra
