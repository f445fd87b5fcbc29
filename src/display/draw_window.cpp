// Set-up, setters and the draw call of DrawWindow, and what every presenter
// has: its mode and frame buffer.
#include "display/draw_window.h"

#include <new>

namespace kestra {

namespace {

// Frames whose buffer would pass 2 GiB are refused: every presenter sizes
// rows and images in 32-bit arithmetic.
constexpr uint64_t kMaxFrameBufferBytes = 0x7FFFFFFFu;

}  // namespace

// Every edge at 0 or more and below the frame size: the whole frame
// (right = width) is not a crop.
bool InsideFrame(const RECT &rect, int32_t width, int32_t height) {
    return rect.left >= 0 && rect.left < width && rect.right >= 0 && rect.right < width &&
           rect.top >= 0 && rect.top < height && rect.bottom >= 0 && rect.bottom < height;
}

DrawWindow::~DrawWindow() {
    FreeDraw();
    if (windowDC) ReleaseDC(hwnd, windowDC);
}

void DrawWindow::SetHwnd(HWND window) {
    if (windowDC) {
        ReleaseDC(hwnd, windowDC);
        windowDC = nullptr;
    }
    const bool moved = window != hwnd;
    hwnd = window;
    windowDC = GetDC(hwnd);
    // The clipper and the cooperative level belong to the old window: surfaces
    // left pointing there would show the new frames nowhere.
    if (moved && window && presenter && presenter->UsesDirectDraw())
        SetUpPresenter(frameWidth, frameHeight);
}

void DrawWindow::SetDisplayCallback(void *user, KestraDisplayCallback callback) {
    callbackUser = user;
    displayCallback = callback;
}

void DrawWindow::SetPlayRect(const RECT *rect) {
    AutoLock lock(cropLock);
    if (!rect || !InsideFrame(*rect, frameWidth, frameHeight)) {
        playRectEnabled = 0;
        return;
    }
    playRect = *rect;
    playRectEnabled = 1;
}

int32_t DrawWindow::InitDraw(int32_t width, int32_t height) {
    bool usable =
        width > 0 && height > 0 && uint64_t(width) * uint64_t(height) * 4 <= kMaxFrameBufferBytes;
    if (usable) SetUpPresenter(width, height);
    if (!usable || !presenter || !presenter->AllocFrameBuffer()) {
        // Nothing may draw into a buffer of the wrong size: not ready until a good size.
        presenter.reset();
        presenter = MakeGdiPresenter(0, 0);
        frameWidth = 0;
        frameHeight = 0;
        initialised = 0;
        return 0;
    }
    frameWidth = width;
    frameHeight = height;
    DropPlayRectOutside(width, height);
    UpdateWindowRect();
    initialised = 1;
    return 0;
}

// The old presenter leaves DirectDraw before the new one opens it; the frame
// buffer passes from one to the other.
void DrawWindow::SetUpPresenter(int32_t width, int32_t height) {
    std::unique_ptr<uint8_t[]> buffer = presenter ? presenter->TakeFrameBuffer() : nullptr;
    presenter.reset();
    presenter = MakeSurfacePresenter(hwnd, width, height, windowRect);
    if (!presenter) presenter = MakeGdiPresenter(width, height);
    if (presenter) presenter->AdoptFrameBuffer(std::move(buffer));
}

// A crop set for the previous frame size must not reach past the new frame:
// surface blits would refuse it and GDI would show old pixels.
void DrawWindow::DropPlayRectOutside(int32_t width, int32_t height) {
    AutoLock lock(cropLock);
    if (!InsideFrame(playRect, width, height)) playRectEnabled = 0;
}

void DrawWindow::FreeDraw() {
    if (presenter) presenter->Release();
}

void DrawWindow::UpdateWindowRect() { GetWindowRect(hwnd, &windowRect); }

int32_t DrawWindow::DrawYUV420(const FrameArgs &frame) {
    if (!hwnd || !initialised || !presenter) return kDrawNotReady;
    // A frame without its planes is refused like one for a display not ready.
    if (!frame.y || !frame.u || !frame.v) return kDrawNotReady;
    return presenter->Present(PresentArgs{frame, hwnd, windowDC, windowRect, mirrorMode, *this});
}

// Before its first set-up a display reports the UYVY mode.
DisplayView DrawWindow::View() const {
    DisplayView view{ModeUYVYSurface,  initialised, frameWidth,      frameHeight,     hwnd,
                     windowDC,         nullptr,     playRectEnabled, playRect,        windowRect,
                     RECT{0, 0, 0, 0}, osdSlots,    callbackUser,    displayCallback, drawIndex,
                     nullptr,          nullptr,     nullptr,         nullptr};
    if (presenter) presenter->Describe(&view);
    return view;
}

void Presenter::Describe(DisplayView *view) const {
    view->renderMode = renderMode;
    view->frameBuffer = frameBuffer.get();
}

// Cleared: an odd last row or column is never converted, and must not show
// whatever the heap held before.
bool Presenter::AllocFrameBuffer() {
    frameBuffer.reset();
    frameBuffer.reset(new (std::nothrow) uint8_t[size_t(frameWidth) * size_t(frameHeight) * 4]());
    return frameBuffer != nullptr;
}

}  // namespace kestra
