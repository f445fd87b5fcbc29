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

// DIB rows are padded to a multiple of 4 bytes.
size_t DibRowBytes(int32_t width) { return (3 * size_t(width) + 3) & ~size_t(3); }

// Converts bottom-up straight into the DIB's rows; the full-frame converter
// also fills an odd last column and row, so no byte of an earlier frame shows.
void ConvertFrame(const FrameArgs &frame, uint8_t *buffer, int32_t width, int32_t height,
                  const colour::Record &colour) {
    Converters().rgb24Full(frame.y, frame.yStride, frame.u, frame.v, frame.uvStride, buffer,
                           static_cast<int32_t>(DibRowBytes(width)), width, -height, colour);
}

// The image is bottom-up, so the source's top edge becomes H - bottom. A
// negative width mirrors: GDI counts it back from the origin column, which it
// still covers, so the origin is the last column shown, not the edge after it.
SourceRect ChooseSource(const RECT &source, bool mirrored, int32_t h) {
    const int y = h - source.bottom;
    const int height = source.bottom - source.top;
    if (mirrored) return SourceRect{source.right - 1, y, source.left - source.right, height};
    return SourceRect{source.left, y, source.right - source.left, height};
}

class GdiPresenter : public Presenter {
public:
    GdiPresenter(int32_t width, int32_t height, std::unique_ptr<uint8_t[]> dib);
    Presented Present(const FrameContext &context) override;

private:
    void Compose(const FrameContext &context);
    void Show(const FrameContext &context);
    const int32_t frameWidth;
    const int32_t frameHeight;
    // The bottom-up 24-bit DIB the frame is converted into.
    BITMAPINFO info;
    std::unique_ptr<uint8_t[]> pixels;
};

}  // namespace

GdiPresenter::GdiPresenter(int32_t width, int32_t height, std::unique_ptr<uint8_t[]> dib)
    : frameWidth(width), frameHeight(height), pixels(std::move(dib)) {
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

// Cleared: nothing of the heap's old contents may ever show.
std::unique_ptr<Presenter> MakeGdiPresenter(const PresenterSetUp &setUp) {
    if (setUp.width <= 0 || setUp.height <= 0) return nullptr;
    std::unique_ptr<uint8_t[]> dib(new (std::nothrow)
                                       uint8_t[DibRowBytes(setUp.width) * size_t(setUp.height)]());
    if (!dib) return nullptr;
    return std::unique_ptr<Presenter>(new (std::nothrow)
                                          GdiPresenter(setUp.width, setUp.height, std::move(dib)));
}

Presented GdiPresenter::Present(const FrameContext &context) {
    ConvertFrame(context.frame, pixels.get(), frameWidth, frameHeight, context.colour);
    // Nothing to draw on the frame: the round trip through a bitmap would give
    // back the same bytes, at the cost of two conversions of the whole frame
    // and a frame-sized bitmap made and freed.
    if (context.osd.HasText() || context.drawing.Wanted()) Compose(context);
    Show(context);
    return Presented::Shown;
}

// OSD text and the host's drawing go onto the frame in a memory DC, and the
// result back into the DIB.
void GdiPresenter::Compose(const FrameContext &context) {
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, frameWidth, frameHeight);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    SetStretchBltMode(memory, COLORONCOLOR);
    StretchDIBits(memory, 0, 0, frameWidth, frameHeight, 0, 0, frameWidth, frameHeight,
                  pixels.get(), &info, DIB_RGB_COLORS, SRCCOPY);
    context.osd.Paint(memory, frameHeight);
    const RECT &window = context.window.outer;
    context.drawing.Draw(memory, window.right - window.left, window.bottom - window.top);
    // Deselect before reading back and deleting the bitmap.
    SelectObject(memory, previous);
    GetDIBits(memory, bitmap, 0, static_cast<UINT>(frameHeight), pixels.get(), &info,
              DIB_RGB_COLORS);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    DeleteObject(bitmap);
}

void GdiPresenter::Show(const FrameContext &context) {
    const RECT &window = context.window.outer;
    const int destWidth = (window.right - window.left) - 2;
    const int destHeight = (window.bottom - window.top) - 2;
    const SourceRect src = ChooseSource(context.source, context.mirrored, frameHeight);
    SetStretchBltMode(context.window.dc, COLORONCOLOR);
    StretchDIBits(context.window.dc, 0, 0, destWidth, destHeight, src.x, src.y, src.width,
                  src.height, pixels.get(), &info, DIB_RGB_COLORS, SRCCOPY);
}

}  // namespace kestra
