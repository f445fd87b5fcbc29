// Frame presentation through DirectDraw surfaces.
#include "display/draw_window.h"

namespace kestra {

int32_t DrawWindow::DrawSurfaceFrame(const FrameArgs &) { return kDrawNoSurfaces; }

void DrawWindow::PresentSurface(IDirectDrawSurface7 *) {}

void DrawWindow::UpdateClientRect() {}

}  // namespace kestra
