// Frame presentation through GDI: convert to a bottom-up 32-bit DIB, compose
// OSD text and the host's drawing in a memory DC at frame size, then stretch
// the result into the window. Smooth scaling shrinks the picture first with
// an area average, since GDI's own filtered stretch (HALFTONE) does not
// average under Wine.
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

// A bottom-up 32-bit DIB's header.
void DescribeDib(BITMAPINFO &info, int32_t width, int32_t height) {
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

struct Size {
    int32_t width, height;
};

// The window's client area, as Show fills it.
Size ClientSize(const WindowTarget &window) {
    const RECT &outer = window.outer;
    return {(outer.right - outer.left) - 2, (outer.bottom - outer.top) - 2};
}

// The size the source is shrunk to before it is shown: the window's, where
// it is smaller, when smooth scaling is asked for and the window is smaller
// than the source in either direction; none ({0, 0}) otherwise, and the
// frame is stretched as in the fast mode. Even a shrink to one half takes
// every other sample with COLORONCOLOR, which folds fine detail over.
Size SmoothSize(const FrameContext &context) {
    const Size window = ClientSize(context.window);
    const int32_t width = context.source.right - context.source.left;
    const int32_t height = context.source.bottom - context.source.top;
    if (context.scaling != Scaling::Smooth || window.width < 1 || window.height < 1) return {0, 0};
    if (window.width >= width && window.height >= height) return {0, 0};
    return {std::min(window.width, width), std::min(window.height, height)};
}

// The smooth path's picture at its shown size: the shrunk planes it is
// converted from, or the composed frame shrunk straight into its DIB. Made
// again only when a size changes.
struct ShrunkPicture {
    bool Fit(Size size);
    bool ShrinkPlanes(const FrameArgs &frame, const RECT &source, Size frameSize);
    void Convert(uint8_t *band, const colour::Record &colour);
    bool ShrinkComposed(const uint32_t *frame, const RECT &source, Size frameSize);

    std::unique_ptr<uint8_t[]> planes;  // Y, then U and V of size / 2
    std::unique_ptr<uint32_t[]> dib;
    AreaScaler luma, chroma, composed;
    BITMAPINFO info;
    Size size = {0, 0};
};

class GdiPresenter : public Presenter {
public:
    GdiPresenter(int32_t width, int32_t height, std::unique_ptr<uint32_t[]> dib,
                 std::unique_ptr<uint8_t[]> scratch);
    Presented Present(const FrameContext &context) override;

private:
    bool PresentSmooth(const FrameContext &context, Size size, bool composed);
    void Compose(const FrameContext &context);
    void Show(const FrameContext &context);
    void ShowShrunk(const FrameContext &context);
    const int32_t frameWidth;
    const int32_t frameHeight;
    // The bottom-up 32-bit DIB the frame is converted into: the screen's own
    // format. Wine converts a source of any other format whole before it
    // stretches, into a buffer that a 32-bit process maps and unmaps at every
    // call (its C library maps every block over 512 KiB).
    BITMAPINFO info;
    std::unique_ptr<uint32_t[]> pixels;
    std::unique_ptr<uint8_t[]> band;  // 2 x kBandRows rows of 24-bit pixels
    ShrunkPicture shrunk;
};

}  // namespace

GdiPresenter::GdiPresenter(int32_t width, int32_t height, std::unique_ptr<uint32_t[]> dib,
                           std::unique_ptr<uint8_t[]> scratch)
    : frameWidth(width), frameHeight(height), pixels(std::move(dib)), band(std::move(scratch)) {
    DescribeDib(info, width, height);
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
    // Nothing to draw on the frame: the round trip through a bitmap would give
    // back the same bytes, at the cost of two conversions of the whole frame
    // and a frame-sized bitmap made and freed.
    const bool composed = context.osd.HasText() || context.drawing.Wanted();
    const Size smooth = SmoothSize(context);
    if (smooth.width > 0 && PresentSmooth(context, smooth, composed)) return Presented::Shown;
    ConvertFrame(context.frame, pixels.get(), band.get(), frameWidth, frameHeight, context.colour);
    if (composed) Compose(context);
    Show(context);
    return Presented::Shown;
}

// Without drawing, the planes are shrunk before they are converted (the
// conversion is affine, so averaging first changes only the rounding) and
// the frame costs about what its window shows. Text and the host's drawing
// are in frame pixels, so that frame is composed whole and then shrunk.
// False, having shown nothing, when memory for the shrunk picture runs out.
bool GdiPresenter::PresentSmooth(const FrameContext &context, Size size, bool composed) {
    if (!shrunk.Fit(size)) return false;
    const Size frame{frameWidth, frameHeight};
    if (!composed) {
        if (!shrunk.ShrinkPlanes(context.frame, context.source, frame)) return false;
        shrunk.Convert(band.get(), context.colour);
    } else {
        ConvertFrame(context.frame, pixels.get(), band.get(), frameWidth, frameHeight,
                     context.colour);
        Compose(context);
        if (!shrunk.ShrinkComposed(pixels.get(), context.source, frame)) {
            Show(context);
            return true;
        }
    }
    ShowShrunk(context);
    return true;
}

bool ShrunkPicture::Fit(Size wanted) {
    if (wanted.width == size.width && wanted.height == size.height) return true;
    const size_t pixels = size_t(wanted.width) * size_t(wanted.height);
    const size_t quarter = size_t(wanted.width / 2) * size_t(wanted.height / 2);
    planes.reset(new (std::nothrow) uint8_t[pixels + 2 * quarter]);
    dib.reset(new (std::nothrow) uint32_t[pixels]);
    size = planes && dib ? wanted : Size{0, 0};
    DescribeDib(info, size.width, size.height);
    return size.width > 0;
}

// The chroma the converter gives an odd picture's pixels before its last
// column (or row) covers their part of the source: (n - 1) / n of it.
int32_t ChromaSpan(int32_t samples, int32_t pixels) {
    if (pixels % 2 == 0) return samples;
    return static_cast<int32_t>((2 * int64_t(samples) * (pixels - 1) + pixels) / (2 * pixels));
}

// The source's chroma is the samples its pixels use: half its columns and
// rows, rounded out, within the planes.
bool ShrunkPicture::ShrinkPlanes(const FrameArgs &frame, const RECT &source, Size frameSize) {
    const int32_t w = size.width, h = size.height;
    // A picture 1 pixel wide or high would be converted without chroma, in grey.
    if (w < 2 || h < 2) return false;
    if (!luma.Plan(source.right - source.left, source.bottom - source.top, w, h, 1)) return false;
    const AreaKernels &kernels = Converters().area;
    luma.Plane(frame.y + ptrdiff_t(source.top) * frame.yStride + source.left, frame.yStride,
               planes.get(), w, kernels);
    const int32_t left = source.left / 2, top = source.top / 2;
    const int32_t right = std::min<int32_t>((source.right + 1) / 2, frameSize.width / 2);
    const int32_t bottom = std::min<int32_t>((source.bottom + 1) / 2, frameSize.height / 2);
    if (!chroma.Plan(ChromaSpan(right - left, w), ChromaSpan(bottom - top, h), w / 2, h / 2, 1))
        return false;
    uint8_t *u = planes.get() + size_t(w) * size_t(h);
    const ptrdiff_t at = ptrdiff_t(top) * frame.uvStride + left;
    chroma.Plane(frame.u + at, frame.uvStride, u, w / 2, kernels);
    chroma.Plane(frame.v + at, frame.uvStride, u + size_t(w / 2) * size_t(h / 2), w / 2, kernels);
    return true;
}

void ShrunkPicture::Convert(uint8_t *band, const colour::Record &colour) {
    const int32_t w = size.width, h = size.height;
    const uint8_t *u = planes.get() + size_t(w) * size_t(h);
    const FrameArgs small{planes.get(), w, u, u + size_t(w / 2) * size_t(h / 2), w / 2, 0, 0, 0};
    ConvertFrame(small, dib.get(), band, w, h, colour);
}

// Both DIBs are bottom-up, so the source's rows are counted from the
// frame's bottom and the shrunk rows come out in the DIB's order.
bool ShrunkPicture::ShrinkComposed(const uint32_t *frame, const RECT &source, Size frameSize) {
    if (!composed.Plan(source.right - source.left, source.bottom - source.top, size.width,
                       size.height, 4))
        return false;
    const ptrdiff_t stride = ptrdiff_t(frameSize.width) * 4;
    composed.Xrgb(
        frame + ptrdiff_t(frameSize.height - source.bottom) * frameSize.width + source.left, stride,
        dib.get(), ptrdiff_t(size.width) * 4, Converters().area);
    return true;
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
    const Size window = ClientSize(context.window);
    const SourceRect src = ChooseSource(context.source, context.mirrored, frameHeight);
    SetStretchBltMode(context.window.dc, COLORONCOLOR);
    StretchDIBits(context.window.dc, 0, 0, window.width, window.height, src.x, src.y, src.width,
                  src.height, pixels.get(), &info, DIB_RGB_COLORS, SRCCOPY);
}

// 1:1 where the window is smaller than the source; a plain stretch in a
// direction where it is not.
void GdiPresenter::ShowShrunk(const FrameContext &context) {
    const Size window = ClientSize(context.window);
    const RECT whole{0, 0, shrunk.size.width, shrunk.size.height};
    const SourceRect src = ChooseSource(whole, context.mirrored, shrunk.size.height);
    SetStretchBltMode(context.window.dc, COLORONCOLOR);
    StretchDIBits(context.window.dc, 0, 0, window.width, window.height, src.x, src.y, src.width,
                  src.height, shrunk.dib.get(), &shrunk.info, DIB_RGB_COLORS, SRCCOPY);
}

}  // namespace kestra
