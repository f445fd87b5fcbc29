// Frame presentation through GDI: convert to a bottom-up 32-bit DIB, compose
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

// Rows are converted a band at a time into a small 24-bit scratch, then
// widened into the DIB while they are still in the cache.
constexpr int32_t kBandRows = 16;

// A band of kBandRows, the last one longer: an odd last row stays in a band
// with the row it shares chroma with, as in a whole-frame conversion.
int32_t BandRows(int32_t top, int32_t height) {
    return height - top < 2 * kBandRows ? height - top : kBandRows;
}

// Bottom-up into the DIB's rows; the full-frame converter also fills an odd
// last column and row, so no byte of an earlier frame shows.
void ConvertFrame(const FrameArgs &frame, uint32_t *dib, uint8_t *band, int32_t width,
                  int32_t height, const colour::Record &colour) {
    const ConverterTable &converters = Converters();
    for (int32_t top = 0; top < height;) {
        const int32_t rows = BandRows(top, height);
        const ptrdiff_t chroma = ptrdiff_t(top / 2) * frame.uvStride;
        converters.rgb24Full(frame.y + ptrdiff_t(top) * frame.yStride, frame.yStride,
                             frame.u + chroma, frame.v + chroma, frame.uvStride, band, 3 * width,
                             width, rows, colour);
        for (int32_t r = 0; r < rows; ++r)
            converters.rgb24ToXrgb(band + size_t(r) * 3 * size_t(width),
                                   dib + size_t(height - 1 - top - r) * size_t(width), width);
        top += rows;
    }
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
    GdiPresenter(int32_t width, int32_t height, std::unique_ptr<uint32_t[]> dib,
                 std::unique_ptr<uint8_t[]> scratch);
    Presented Present(const FrameContext &context) override;

private:
    void Compose(const FrameContext &context);
    void Show(const FrameContext &context);
    const int32_t frameWidth;
    const int32_t frameHeight;
    // The bottom-up 32-bit DIB the frame is converted into: the screen's own
    // format. Wine converts a source of any other format whole before it
    // stretches, into a buffer that a 32-bit process maps and unmaps at every
    // call (its C library maps every block over 512 KiB).
    BITMAPINFO info;
    std::unique_ptr<uint32_t[]> pixels;
    std::unique_ptr<uint8_t[]> band;  // 2 x kBandRows rows of 24-bit pixels
};

}  // namespace

GdiPresenter::GdiPresenter(int32_t width, int32_t height, std::unique_ptr<uint32_t[]> dib,
                           std::unique_ptr<uint8_t[]> scratch)
    : frameWidth(width), frameHeight(height), pixels(std::move(dib)), band(std::move(scratch)) {
    std::memset(&info, 0, sizeof(info));
    BITMAPINFOHEADER &header = info.bmiHeader;
    header.biSize = sizeof(BITMAPINFOHEADER);
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = 32;
    header.biCompression = BI_RGB;
    header.biSizeImage = static_cast<DWORD>(width) * static_cast<DWORD>(height) * 4u;
}

// Cleared: nothing of the heap's old contents may ever show.
std::unique_ptr<Presenter> MakeGdiPresenter(const PresenterSetUp &setUp) {
    if (setUp.width <= 0 || setUp.height <= 0) return nullptr;
    std::unique_ptr<uint32_t[]> dib(new (std::nothrow)
                                        uint32_t[size_t(setUp.width) * size_t(setUp.height)]());
    std::unique_ptr<uint8_t[]> band(new (std::nothrow)
                                        uint8_t[size_t(setUp.width) * 3 * 2 * kBandRows]);
    if (!dib || !band) return nullptr;
    return std::unique_ptr<Presenter>(new (std::nothrow) GdiPresenter(
        setUp.width, setUp.height, std::move(dib), std::move(band)));
}

Presented GdiPresenter::Present(const FrameContext &context) {
    ConvertFrame(context.frame, pixels.get(), band.get(), frameWidth, frameHeight, context.colour);
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
    context.drawing.Run(memory, window.right - window.left, window.bottom - window.top);
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
