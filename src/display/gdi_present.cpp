// Frame presentation through GDI: convert to a bottom-up 24-bit DIB, compose
// OSD text and the host's drawing in a memory DC at frame size, then stretch
// the result into the window.
#include "display/presenter.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "convert/dispatch.h"

namespace kestra {

namespace {

struct SourceRect {
    int x, y, width, height;
};

// Pixel (column, row) of the bottom-up buffer from its own luma (row 0 is the
// frame's last luma row) and the chroma sample nearest to it in the pairing
// the converter uses, which counts row pairs from the bottom.
void ConvertEdgePixel(const FrameArgs &frame, uint8_t *buffer, int32_t width, int32_t height,
                      int32_t column, int32_t row) {
    const int32_t blocks = width / 2;
    const int32_t pairs = height / 2;
    uint8_t u = 0x80, v = 0x80;  // a frame 1 wide or high has no chroma: grey
    if (blocks > 0 && pairs > 0) {
        const int64_t chroma = int64_t(std::max(pairs - 1 - row / 2, 0)) * frame.uvStride +
                               std::min(column / 2, blocks - 1);
        u = frame.u[chroma];
        v = frame.v[chroma];
    }
    const uint8_t luma = frame.y[int64_t(height - 1 - row) * frame.yStride + column];
    yuv_to_rgb24_pixel_c(luma, u, v, buffer + (int64_t(row) * width + column) * 3);
}

// The converter fills whole 2x2 blocks only. What an odd size leaves out, the
// last column and the frame's top row (the buffer's last), is converted here
// every frame, so no byte of an earlier frame shows.
void ConvertEdges(const FrameArgs &frame, uint8_t *buffer, int32_t width, int32_t height) {
    if (width % 2)
        for (int32_t row = 0; row < height; ++row)
            ConvertEdgePixel(frame, buffer, width, height, width - 1, row);
    if (height % 2)
        for (int32_t column = 0; column < width - width % 2; ++column)
            ConvertEdgePixel(frame, buffer, width, height, column, height - 1);
}

// Converts bottom-up into rows padded like a 24-bit DIB row. The converter
// packs rows 3 x width bytes apart, so for widths that are not a multiple of
// 4 the rows are spread out in place afterwards, last row first so that no
// row is overwritten before it has moved; the padded image is at most
// 4 x width bytes per row and so fits the buffer.
void ConvertFrame(const FrameArgs &frame, uint8_t *buffer, int32_t width, int32_t height) {
    Converters().rgb24(frame.y, frame.yStride, frame.u, frame.v, frame.uvStride, buffer, 3 * width,
                       width, -height);
    ConvertEdges(frame, buffer, width, height);
    const size_t packed = size_t(width) * 3;
    const size_t padded = (packed + 3) & ~size_t(3);
    if (packed == padded) return;
    for (size_t row = size_t(height); row-- > 1;) {
        std::memmove(buffer + row * padded, buffer + row * packed, packed);
        std::memset(buffer + row * padded + packed, 0, padded - packed);
    }
    std::memset(buffer + packed, 0, padded - packed);
}

// The image is bottom-up, so a crop's top edge becomes H - bottom; a negative
// width mirrors the same columns.
SourceRect ChooseSource(const RECT *crop, int32_t mirror, int32_t w, int32_t h) {
    if (!crop) return mirror == 1 ? SourceRect{w, 0, -w, h} : SourceRect{0, 0, w, h};
    const int y = h - crop->bottom;
    const int height = crop->bottom - crop->top;
    if (mirror == 1) return SourceRect{crop->right, y, crop->left - crop->right, height};
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
