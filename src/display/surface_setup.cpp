// Render-mode selection and surface set-up. Until DirectDraw set-up lands
// every display takes the GDI mode.
#include "display/draw_window.h"

#include <cstdlib>

namespace kestra {

int32_t DrawWindow::InitDraw(int32_t width, int32_t height) {
    FreeDraw();
    renderMode = ModeGdi;
    if (!AllocFrameBuffer(width, height)) return 0;
    UpdateWindowRect();
    initialised = 1;
    return 0;
}

void DrawWindow::FreeDraw() {}

void DrawWindow::UpdateWindowRect() { GetWindowRect(hwnd, &windowRect); }

int32_t DrawWindow::CreateDirectDraw(int32_t, int32_t) { return -21; }

int32_t DrawWindow::CreateFrameSurface(int32_t, int32_t, int32_t) { return -4; }

bool DrawWindow::AllocFrameBuffer(int32_t width, int32_t height) {
    std::free(frameBuffer);
    frameBuffer = nullptr;
    frameWidth = width;
    frameHeight = height;
    if (width <= 0 || height <= 0) return false;
    frameBuffer = static_cast<uint8_t *>(std::malloc(size_t(width) * size_t(height) * 4));
    return frameBuffer != nullptr;
}

}  // namespace kestra
