// Construction, destruction, setters and the draw dispatch of DrawWindow.
#include "display/draw_window.h"

#include <cstdlib>
#include <cstring>

namespace kestra {

// Every edge at 0 or more and below the frame size: the whole frame
// (right = width) is not a crop.
bool InsideFrame(const RECT &rect, int32_t width, int32_t height) {
    return rect.left >= 0 && rect.left < width && rect.right >= 0 && rect.right < width &&
           rect.top >= 0 && rect.top < height && rect.bottom >= 0 && rect.bottom < height;
}

DrawWindow::DrawWindow()
    : ddraw(nullptr),
      primarySurface(nullptr),
      frameSurface(nullptr),
      auxSurface(nullptr),
      windowRect{0, 0, 0, 0},
      frameWidth(0),
      frameHeight(0),
      hwnd(nullptr),
      windowDC(nullptr),
      initialised(0),
      renderMode(ModeUYVYSurface),
      displayCallback(nullptr),
      callbackUser(nullptr),
      frameBuffer(nullptr),
      playRectEnabled(0),
      playRect{0, 0, 0, 0},
      drawIndex(0),
      mirrorMode(0) {
    std::memset(osdSlots, 0, sizeof(osdSlots));
}

DrawWindow::~DrawWindow() {
    FreeDraw();
    if (windowDC) {
        ReleaseDC(hwnd, windowDC);
        windowDC = nullptr;
    }
    std::free(frameBuffer);
    frameBuffer = nullptr;
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
    if (moved && window && ddraw) SetUpDirectDraw(frameWidth, frameHeight);
}

void DrawWindow::SetDisplayCallback(void *user, KestraDisplayCallback callback) {
    callbackUser = user;
    displayCallback = callback;
}

void DrawWindow::SetPlayRect(const RECT *rect) {
    AutoLock lock(surfaceLock);
    if (!rect) {
        playRectEnabled = 0;
        return;
    }
    if (!InsideFrame(*rect, frameWidth, frameHeight)) {
        playRectEnabled = 0;
        return;
    }
    playRect = *rect;
    playRectEnabled = 1;
}

int32_t DrawWindow::DrawYUV420(const FrameArgs &frame) {
    if (!hwnd || !initialised) return kDrawNotReady;
    // A frame without its planes is refused like one for a display not ready.
    if (!frame.y || !frame.u || !frame.v) return kDrawNotReady;
    if (renderMode == ModeGdi) return DrawGdiFrame(frame);
    return DrawSurfaceFrame(frame);
}

}  // namespace kestra
