// What a presenter is handed for each frame, and what it hands back. A
// presenter never sees the display it works for: the display takes what a
// frame needs under its own locks and passes it down.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>

#include "core/crit_section.h"
#include "kestra/kestra.h"

namespace kestra {

enum RenderMode : int32_t {
    ModeYV12Surface = 0,
    ModeUYVYSurface = 1,
    ModeRGB565Surface = 2,
    ModeGdi = 3,
    ModeD3D11 = 4,
};

// Draw results passed through to the host.
enum : int32_t {
    kDrawOk = 0,
    kDrawNotReady = -1,
    kDrawLockFailed = -3,
    kDrawNoSurfaces = -9,
};

// What Present answers when the presenter's objects are gone for good (a
// display-mode change its surfaces cannot be restored after, a device that
// cannot be made again): the display sets up a presenter anew and shows the
// frame there. Never reaches the host.
constexpr int32_t kPresentSetUpAgain = -100;

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

constexpr int kOsdSlotCount = 6;
constexpr int kOsdTextBytes = 512;

struct OsdSlot {
    char text[kOsdTextBytes];
    int32_t anchor;
    int32_t x;
    int32_t y;
    COLORREF colour;
};

// The OSD slots as they stood when a frame began, painted in frame pixels.
class OsdPainter {
public:
    bool HasText() const;
    // Later slots over earlier ones; the DC's background mode and text colour are restored.
    void Paint(HDC dc, int32_t frameHeight) const;

    OsdSlot slots[kOsdSlotCount] = {};
};

// The host's drawing on the composed frame, for a presenter that composes in
// a DC of its own (GDI).
struct HostDrawing {
    KestraDisplayCallback callback;
    void *user;
    int32_t index;
    int32_t frameWidth, frameHeight;
    int32_t value7, value8;
    int32_t mirror;
    CritSection *lock;  // held while the host draws
    // The host's calls from inside the callback ask this whether they come
    // from the drawing thread.
    std::atomic<DWORD> *callingThread;

    void Call(HDC dc, int32_t windowWidth, int32_t windowHeight) const;
};

// The host's window: its DC, taken when it was set, and its outer rectangle
// in screen coordinates as last read.
struct WindowTarget {
    HWND hwnd;
    HDC dc;
    RECT outer;
};

// Everything a presenter gets for one frame.
struct FrameContext {
    const FrameArgs &frame;
    const RECT *crop;  // in frame pixels, right and bottom exclusive; null: the whole frame
    int32_t mirror;    // 1 mirrors left-right
    const OsdPainter &osd;
    const HostDrawing &drawing;
    const WindowTarget &window;
};

class Presenter {
public:
    Presenter(int32_t mode, int32_t width, int32_t height)
        : renderMode(mode), frameWidth(width), frameHeight(height) {}
    virtual ~Presenter() = default;

    virtual int32_t Present(const FrameContext &context) = 0;
    // Lets the platform's objects go (KESTRA_DWFreeDraw); the frame buffer stays.
    virtual void Release() {}
    // Shows the next frames in `window`; false when it cannot, and the
    // display then sets up a presenter anew for it.
    virtual bool MoveTo(HWND /*window*/) { return false; }

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

// What a presenter is made for: a window and a frame size. The DirectDraw
// set-up's test blit goes to `testTarget`.
struct PresenterSetUp {
    HWND window;
    int32_t width, height;
    RECT testTarget;
};

// Null when the presenter cannot show frames in that window here.
using MakePresenterFn = std::unique_ptr<Presenter> (*)(const PresenterSetUp &setUp);

std::unique_ptr<Presenter> MakeD3D11Presenter(const PresenterSetUp &setUp);
std::unique_ptr<Presenter> MakeSurfacePresenter(const PresenterSetUp &setUp);
std::unique_ptr<Presenter> MakeGdiPresenter(const PresenterSetUp &setUp);

// Wine's DirectDraw and Direct3D, under its default OpenGL renderer, draw a
// child window into an off-screen GL window that never reaches the screen,
// though they report the blit or present done; real Windows shows them.
bool HiddenInChildWindowOnWine(HWND window);

// True when the process runs under Wine (its ntdll exports wine_get_version).
bool RunningOnWine();

// The first presenter of the renderer chosen in LOG.INI that works.
std::unique_ptr<Presenter> MakePresenter(const PresenterSetUp &setUp);

}  // namespace kestra
