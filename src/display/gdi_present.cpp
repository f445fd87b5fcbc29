// Frame presentation through GDI.
#include "display/draw_window.h"

namespace kestra {

int32_t DrawWindow::DrawGdiFrame(const FrameArgs &) { return kDrawOk; }

void DrawWindow::PresentGdi(const BITMAPINFOHEADER &, const void *, const RECT &, HDC) {}

}  // namespace kestra
