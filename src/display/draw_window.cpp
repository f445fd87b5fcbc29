// DrawWindow: set-up, setters, OSD text, the host's callback and the draw
// call; and what every presenter has, its mode and frame buffer.
#include "display/draw_window.h"

#include <cstdint>
#include <cstring>
#include <new>

namespace kestra {

namespace {

// Frames whose buffer would pass 2 GiB are refused: every presenter sizes
// rows and images in 32-bit arithmetic.
constexpr uint64_t kMaxFrameBufferBytes = 0x7FFFFFFFu;

// A line whose top lies outside the int range is far outside any frame.
void DrawLine(HDC dc, int32_t x, int64_t top, const char *text, int count) {
    if (top < INT32_MIN || top > INT32_MAX) return;
    TextOutA(dc, x, static_cast<int>(top), text, count);
}

}  // namespace

// Every edge at 0 or more and below the frame size: the whole frame
// (right = width) is not a crop.
bool InsideFrame(const RECT &rect, int32_t width, int32_t height) {
    return rect.left >= 0 && rect.left < width && rect.right >= 0 && rect.right < width &&
           rect.top >= 0 && rect.top < height && rect.bottom >= 0 && rect.bottom < height;
}

DrawWindow::~DrawWindow() {
    FreeDraw();
    if (state.windowDC) ReleaseDC(state.hwnd, state.windowDC);
}

void DrawWindow::SetHwnd(HWND window) {
    if (state.windowDC) {
        ReleaseDC(state.hwnd, state.windowDC);
        state.windowDC = nullptr;
    }
    const bool moved = window != state.hwnd;
    state.hwnd = window;
    state.windowDC = GetDC(state.hwnd);
    // The clipper and the cooperative level belong to the old window: surfaces
    // left pointing there would show the new frames nowhere.
    if (moved && window && presenter && presenter->View().ddraw)
        SetUpPresenter(state.frameWidth, state.frameHeight);
}

void DrawWindow::SetDisplayCallback(void *user, KestraDisplayCallback callback) {
    state.callbackUser = user;
    state.displayCallback = callback;
}

void DrawWindow::SetPlayRect(const RECT *rect) {
    AutoLock lock(cropLock);
    if (!rect || !InsideFrame(*rect, state.frameWidth, state.frameHeight)) {
        state.playRectEnabled = 0;
        return;
    }
    state.playRect = *rect;
    state.playRectEnabled = 1;
}

int32_t DrawWindow::InitDraw(int32_t width, int32_t height) {
    bool usable =
        width > 0 && height > 0 && uint64_t(width) * uint64_t(height) * 4 <= kMaxFrameBufferBytes;
    if (usable) SetUpPresenter(width, height);
    if (!usable || !presenter || !presenter->AllocFrameBuffer()) {
        // Nothing may draw into a buffer of the wrong size: not ready until a good size.
        presenter = MakeGdiPresenter(0, 0);
        state.frameWidth = 0;
        state.frameHeight = 0;
        state.initialised = 0;
        return 0;
    }
    state.frameWidth = width;
    state.frameHeight = height;
    DropPlayRectOutside(width, height);
    UpdateWindowRect();
    state.initialised = 1;
    return 0;
}

// The old presenter leaves DirectDraw before the new one opens it; the frame
// buffer passes from one to the other.
void DrawWindow::SetUpPresenter(int32_t width, int32_t height) {
    std::unique_ptr<uint8_t[]> buffer = presenter ? presenter->TakeFrameBuffer() : nullptr;
    presenter.reset();
    presenter = MakeSurfacePresenter(state.hwnd, width, height, state.windowRect);
    if (!presenter) presenter = MakeGdiPresenter(width, height);
    if (presenter) presenter->AdoptFrameBuffer(std::move(buffer));
}

// A crop set for the previous frame size must not reach past the new frame:
// surface blits would refuse it and GDI would show old pixels.
void DrawWindow::DropPlayRectOutside(int32_t width, int32_t height) {
    AutoLock lock(cropLock);
    if (!InsideFrame(state.playRect, width, height)) state.playRectEnabled = 0;
}

void DrawWindow::FreeDraw() {
    if (presenter) presenter->Release();
}

void DrawWindow::UpdateWindowRect() { GetWindowRect(state.hwnd, &state.windowRect); }

int32_t DrawWindow::DrawYUV420(const FrameArgs &frame) {
    if (!state.hwnd || !state.initialised || !presenter) return kDrawNotReady;
    // A frame without its planes is refused like one for a display not ready.
    if (!frame.y || !frame.u || !frame.v) return kDrawNotReady;
    return presenter->Present(PresentArgs{frame, state, mirrorMode, *this});
}

void DrawWindow::SetOsdText(int32_t index, const char *text, int32_t x, int32_t y, int32_t anchor,
                            COLORREF colour) {
    AutoLock lock(osdLock);
    if (index < 0 || index >= kOsdSlotCount) return;
    OsdSlot &slot = state.osdSlots[index];
    // A null text empties the slot, like "".
    std::strncpy(slot.text, text ? text : "", kOsdTextBytes - 1);
    slot.anchor = anchor;
    slot.x = x;
    slot.y = y;
    slot.colour = colour;
}

int DrawWindow::HasOsdText() const {
    for (const OsdSlot &slot : state.osdSlots)
        if (slot.text[0] != '\0') return 1;
    return 0;
}

void DrawWindow::DrawOsd(HDC dc, int32_t /*width*/, int32_t height) {
    AutoLock lock(osdLock);
    if (!HasOsdText()) return;
    int oldMode = SetBkMode(dc, TRANSPARENT);
    for (const OsdSlot &slot : state.osdSlots) {
        int n = static_cast<int>(strnlen(slot.text, kOsdTextBytes - 1));
        if (n == 0) continue;
        COLORREF oldColour = SetTextColor(dc, slot.colour);
        // 64 bits: y near either end of the int range plus the height or a
        // few line advances would overflow.
        int64_t lineY = slot.anchor == 1 ? int64_t(height) - slot.y : slot.y;
        SIZE extent{0, 0};
        GetTextExtentPoint32A(dc, slot.text, n, &extent);
        const char *line = slot.text;
        const char *end = slot.text + n;
        for (const char *feed;
             (feed = static_cast<const char *>(std::memchr(line, '\n', end - line))) != nullptr;) {
            DrawLine(dc, slot.x, lineY, line, static_cast<int>(feed - line));
            lineY += extent.cy;
            line = feed + 1;
        }
        DrawLine(dc, slot.x, lineY, line, static_cast<int>(end - line));
        SetTextColor(dc, oldColour);
    }
    SetBkMode(dc, oldMode);
}

void DrawWindow::CallDisplayCallback(HDC dc, int32_t windowWidth, int32_t windowHeight,
                                     int32_t value7, int32_t value8, int32_t mode) {
    AutoLock lock(callbackLock);
    if (!state.displayCallback) return;
    state.displayCallback(static_cast<int32_t>(drawIndex), dc, state.frameWidth, state.frameHeight,
                          value7, value8, windowWidth, windowHeight, mode, state.callbackUser);
}

// Before its first set-up a display reports the UYVY mode.
PresenterView DrawWindow::ViewPresenter() const {
    return presenter ? presenter->View()
                     : PresenterView{ModeUYVYSurface, nullptr, {}, {}, {}, {}, {}};
}

// Cleared: an odd last row or column is never converted, and must not show
// whatever the heap held before. The old buffer goes first: two of up to
// 2 GiB need not fit together.
bool Presenter::AllocFrameBuffer() {
    frameBuffer.reset();
    frameBuffer.reset(new (std::nothrow) uint8_t[size_t(frameWidth) * size_t(frameHeight) * 4]());
    return frameBuffer != nullptr;
}

}  // namespace kestra
