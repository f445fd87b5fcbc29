// Frame presentation through GDI: convert to a bottom-up 24-bit DIB, compose
// OSD text and the host's drawing in a memory DC at frame size, then stretch
// the result into the window.
#include "display/presenter.h"

#include <cstring>
#include <new>

#include "convert/dispatch.h"

namespace kestra {

namespace {

struct SourceRect {
    int x, y, width, height;
};

// Converts bottom-up straight into the DIB's rows, each padded to a multiple
// of 4 bytes; the full-frame converter also fills an odd last column and row,
// so no byte of an earlier frame shows.
void ConvertFrame(const FrameArgs &frame, uint8_t *buffer, int32_t width, int32_t height) {
    const int64_t padded = (3 * int64_t(width) + 3) & ~int64_t(3);
    Converters().rgb24Full(frame.y, frame.yStride, frame.u, frame.v, frame.uvStride, buffer,
                           static_cast<int32_t>(padded), width, -height);
}

// The image is bottom-up, so a crop's top edge becomes H - bottom. A negative
// width mirrors: GDI counts it back from the origin column, which it still
// covers, so the origin is the last column shown, not the edge after it.
SourceRect ChooseSource(const RECT *crop, int32_t mirror, int32_t w, int32_t h) {
    if (!crop) return mirror == 1 ? SourceRect{w - 1, 0, -w, h} : SourceRect{0, 0, w, h};
    const int y = h - crop->bottom;
    const int height = crop->bottom - crop->top;
    if (mirror == 1) return SourceRect{crop->right - 1, y, crop->left - crop->right, height};
    return SourceRect{crop->left, y, crop->right - crop->left, height};
}

class GdiPresenter : public Presenter {
public:
    GdiPresenter(int32_t width, int32_t height);
    int32_t Present(const FrameContext &context) override;

private:
    void Show(const FrameContext &context);
    // The bottom-up 24-bit DIB the frame is converted into.
    BITMAPINFO info;
};

}  // namespace

GdiPresenter::GdiPresenter(int32_t width, int32_t height) : Presenter(ModeGdi, width, height) {
    std::memset(&info, 0, sizeof(info));
    BITMAPINFOHEADER &header = info.bmiHeader;
    header.biSize = sizeof(BITMAPINFOHEADER);
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;
    header.biSizeImage = static_cast<DWORD>(width) * static_cast<DWORD>(height) * 3u;
}

std::unique_ptr<Presenter> MakeGdiPresenter(const PresenterSetUp &setUp) {
    return std::unique_ptr<Presenter>(new (std::nothrow) GdiPresenter(setUp.width, setUp.height));
}

int32_t GdiPresenter::Present(const FrameContext &context) {
    // Without a buffer from set-up there is nothing to convert into.
    if (!frameBuffer || frameWidth <= 0 || frameHeight <= 0) return kDrawNotReady;
    ConvertFrame(context.frame, frameBuffer.get(), frameWidth, frameHeight);
    // OSD text and the host's drawing go onto the frame in a memory DC, and
    // the result back into the buffer.
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, frameWidth, frameHeight);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    SetStretchBltMode(memory, COLORONCOLOR);
    StretchDIBits(memory, 0, 0, frameWidth, frameHeight, 0, 0, frameWidth, frameHeight,
                  frameBuffer.get(), &info, DIB_RGB_COLORS, SRCCOPY);
    context.osd.Paint(memory, frameHeight);
    const RECT &window = context.window.outer;
    context.drawing.Call(memory, window.right - window.left, window.bottom - window.top);
    // Deselect before reading back and deleting the bitmap.
    SelectObject(memory, previous);
    GetDIBits(memory, bitmap, 0, static_cast<UINT>(frameHeight), frameBuffer.get(), &info,
              DIB_RGB_COLORS);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    DeleteObject(bitmap);
    Show(context);
    return kDrawOk;
}

void GdiPresenter::Show(const FrameContext &context) {
    const RECT &window = context.window.outer;
    const int destWidth = (window.right - window.left) - 2;
    const int destHeight = (window.bottom - window.top) - 2;
    const SourceRect src = ChooseSource(context.crop, context.mirror, frameWidth, frameHeight);
    SetStretchBltMode(context.window.dc, COLORONCOLOR);
    StretchDIBits(context.window.dc, 0, 0, destWidth, destHeight, src.x, src.y, src.width,
                  src.height, frameBuffer.get(), &info, DIB_RGB_COLORS, SRCCOPY);
}

}  // namespace kestra
