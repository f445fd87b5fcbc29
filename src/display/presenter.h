// What a presenter is handed for each frame, and what it hands back. A
// presenter never sees the display it works for: the display takes what a
// frame needs under its own locks and passes it down.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

#include "convert/colour.h"
#include "core/video_settings.h"
#include "kestra/kestra.h"

namespace kestra {

// What a presenter made of one frame; the display turns it into the host's code.
enum class Presented {
    Shown,
    // Dropped: the frame surface could not be locked, or the surfaces were
    // lost and could not be brought back for this frame.
    NotShown,
    // The platform's objects were let go (KESTRA_DWFreeDraw).
    Released,
    // The objects are gone for good (a display-mode change its surfaces cannot
    // be restored after, a device that cannot be made again): the display
    // makes its presenters anew and shows the frame there.
    SetUpAgain,
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

constexpr int kOsdSlotCount = 6;
constexpr int kOsdTextBytes = 512;

struct OsdSlot {
    // Text past kOsdTextBytes - 1 characters is cut; null empties the slot, like "".
    void Set(const char *newText, int32_t newX, int32_t newY, int32_t newAnchor,
             COLORREF newColour);

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
// a DC of its own (GDI). The display answers for the callback and the calls
// it makes back.
class HostDrawing {
public:
    // False when Run would draw nothing (the host set no callback).
    virtual bool Wanted() const = 0;
    virtual void Run(HDC dc, int32_t windowWidth, int32_t windowHeight) const = 0;

protected:
    ~HostDrawing() = default;
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
    // The part of the frame shown, in frame pixels, right and bottom
    // exclusive: the crop, or the whole frame.
    const RECT &source;
    bool mirrored;  // left-right
    // The display's choice; Scaling::Default leaves it to the presenter.
    Scaling scaling;
    const colour::Record &colour;
    const OsdPainter &osd;
    const HostDrawing &drawing;
    const WindowTarget &window;
};

// One render mode's way of putting frames up. It owns what it uses and
// writes nothing of the display's.
class Presenter {
public:
    virtual ~Presenter() = default;

    virtual Presented Present(const FrameContext &context) = 0;
    // Lets the platform's objects go (KESTRA_DWFreeDraw).
    virtual void Release() {}
    // Shows the next frames in `window`; false when it cannot, and the
    // display then sets up a presenter anew for it.
    virtual bool MoveTo(HWND /*window*/) { return false; }
};

// What a presenter is made for: a window and a frame size. The DirectDraw
// set-up's test blit goes to `testTarget`. `onWine` is VideoSettings::onWine:
// several of Wine's ways of showing frames need working around.
struct PresenterSetUp {
    HWND window;
    int32_t width, height;
    RECT testTarget;
    bool onWine;
};

// Null when the presenter cannot show frames in that window here.
using MakePresenterFn = std::unique_ptr<Presenter> (*)(const PresenterSetUp &setUp);

std::unique_ptr<Presenter> MakeD3D11Presenter(const PresenterSetUp &setUp);
std::unique_ptr<Presenter> MakeSurfacePresenter(const PresenterSetUp &setUp);
std::unique_ptr<Presenter> MakeGdiPresenter(const PresenterSetUp &setUp);

// Wine's DirectDraw and Direct3D, under its default OpenGL renderer, draw a
// child window into an off-screen GL window that never reaches the screen,
// though they report the blit or present done; real Windows shows them.
bool HiddenInChildWindow(HWND window, bool onWine);

// DirectDraw documents its cooperative window as the calling application's
// own top-level window; another process's window (a host that keeps its UI
// in one process and decodes in another) is outside that, and Wine's
// DirectDraw reports its blits done while the window stays black. GDI draws
// on any window.
bool OwnedByAnotherProcess(HWND window);

// The first presenter of `renderer`'s list that works.
std::unique_ptr<Presenter> MakePresenter(const PresenterSetUp &setUp, Renderer renderer);

}  // namespace kestra
