// DrawWindow: set-up, setters, OSD text and the draw call, which hands the
// presenter what the frame needs; the OSD painter; and the host's callback,
// with its guard.
#include "display/draw_window.h"

#include <cstdint>
#include <cstring>
#include <new>

namespace kestra {

namespace {

// What the draw call answers the host.
enum : int32_t {
    kDrawOk = 0,
    kDrawNotReady = -1,
    kDrawLockFailed = -3,
    kDrawNoSurfaces = -9,
};

// Frames whose buffer would pass 2 GiB are refused: every presenter sizes
// rows and images in 32-bit arithmetic.
constexpr uint64_t kMaxFrameBufferBytes = 0x7FFFFFFFu;

// A line whose top lies outside the int range is far outside any frame.
void DrawLine(HDC dc, int32_t x, int64_t top, const char *text, int count) {
    if (top < INT32_MIN || top > INT32_MAX) return;
    TextOutA(dc, x, static_cast<int>(top), text, count);
}

}  // namespace

// Right and bottom are exclusive: {0, 0, width, height} is the whole frame,
// and a crop with no columns or rows, or turned inside out, is none.
bool InsideFrame(const RECT &rect, int32_t width, int32_t height) {
    return rect.left >= 0 && rect.left < rect.right && rect.right <= width && rect.top >= 0 &&
           rect.top < rect.bottom && rect.bottom <= height;
}

DrawWindow::~DrawWindow() {
    if (presenter) presenter->Release();
    if (state.windowDC) ReleaseDC(state.hwnd, state.windowDC);
}

void DrawWindow::Close(DrawWindow *display) {
    if (display->InCallback())
        display->Submit(QueuedCall{QueuedCall::Kind::Close, nullptr, 0, 0, false, {}});
    else
        delete display;
}

void DrawWindow::SetHwnd(HWND window) {
    Submit(QueuedCall{QueuedCall::Kind::Window, window, 0, 0, false, {}});
}

void DrawWindow::UpdateWindowRect() {
    Submit(QueuedCall{QueuedCall::Kind::Adjust, nullptr, 0, 0, false, {}});
}

int32_t DrawWindow::InitDraw(int32_t width, int32_t height) {
    Submit(QueuedCall{QueuedCall::Kind::Init, nullptr, width, height, false, {}});
    return 0;
}

void DrawWindow::FreeDraw() {
    Submit(QueuedCall{QueuedCall::Kind::Free, nullptr, 0, 0, false, {}});
}

// A crop set from inside the callback, or behind a queued set-up, is checked
// against the frame size that set-up leaves; otherwise it takes effect at once.
bool DrawWindow::SetColourSpace(int32_t matrix, int32_t range) {
    const colour::Record *record = colour::Find(matrix, range);
    if (!record) return false;
    colourRecord = record;
    return true;
}

void DrawWindow::SetPlayRect(const RECT *rect) {
    if (!InCallback() && QueueEmpty()) {
        ApplyPlayRect(rect);
        return;
    }
    Submit(QueuedCall{QueuedCall::Kind::Crop, nullptr, 0, 0, rect != nullptr,
                      rect ? *rect : RECT{0, 0, 0, 0}});
}

void DrawWindow::SetDisplayCallback(void *user, KestraDisplayCallback callback) {
    state.callbackUser = user;
    state.displayCallback = callback;
}

// A host moving its window while another thread draws must not free what the
// draw uses, nor wait for it: the draw may be inside the host's callback, or
// in a platform call that waits for this very thread's messages.
void DrawWindow::Submit(const QueuedCall &call) {
    {
        AutoLock hold(queueLock);
        using Kind = QueuedCall::Kind;
        // A call that only replaces the one before it stands for both; the
        // first entry may be running, so it is never replaced.
        const bool replaces = queued > 1 && queue[queued - 1].kind == call.kind &&
                              call.kind != Kind::Init && call.kind != Kind::Close;
        // A close finding the queue full takes the last place: nothing after it matters.
        const bool full = queued == kQueueLength;
        if (replaces || (full && call.kind == Kind::Close))
            queue[queued - 1] = call;
        else if (!full)
            queue[queued++] = call;
    }
    if (InCallback() || !drawLock.TryEnter()) return;
    // A close is queued only from inside the callback, and the draw that ran
    // it makes the close: none is ahead of this call.
    LeaveDraw();
}

bool DrawWindow::QueueEmpty() {
    AutoLock hold(queueLock);
    return queued == 0;
}

// Each call leaves the queue only once it is made, so a crop set meanwhile
// from another thread queues behind it.
bool DrawWindow::RunQueued() {
    for (;;) {
        QueuedCall call;
        {
            AutoLock hold(queueLock);
            if (queued == 0) return false;
            call = queue[0];
            if (call.kind == QueuedCall::Kind::Close) {
                queued = 0;
                return true;
            }
        }
        Apply(call);
        AutoLock hold(queueLock);
        std::memmove(&queue[0], &queue[1], sizeof(QueuedCall) * size_t(queued - 1));
        --queued;
    }
}

// A call queued after the last look, while drawLock was still held, is made
// here too: nothing stays queued once no draw is running.
bool DrawWindow::LeaveDraw() {
    for (;;) {
        const bool close = RunQueued();
        drawLock.Leave();
        if (close) return true;
        if (QueueEmpty() || !drawLock.TryEnter()) return false;
    }
}

void DrawWindow::Apply(const QueuedCall &call) {
    switch (call.kind) {
        case QueuedCall::Kind::Window:
            ApplyWindow(call.window);
            break;
        case QueuedCall::Kind::Adjust:
            if (WindowAlive()) GetWindowRect(state.hwnd, &state.windowRect);
            break;
        case QueuedCall::Kind::Init:
            ApplyInit(call.width, call.height);
            break;
        case QueuedCall::Kind::Free:
            if (presenter) presenter->Release();
            break;
        case QueuedCall::Kind::Crop:
            ApplyPlayRect(call.hasRect ? &call.rect : nullptr);
            break;
        case QueuedCall::Kind::Close:
            break;
    }
}

// A window destroyed under the display counts as none.
bool DrawWindow::WindowAlive() { return state.hwnd && IsWindow(state.hwnd); }

void DrawWindow::ApplyWindow(HWND window) {
    if (state.windowDC) {
        ReleaseDC(state.hwnd, state.windowDC);
        state.windowDC = nullptr;
    }
    const bool moved = window != state.hwnd || windowLost;
    state.hwnd = window;
    state.windowDC = GetDC(state.hwnd);
    windowLost = !WindowAlive();
    if (windowLost || !moved) return;
    GetWindowRect(state.hwnd, &state.windowRect);
    // Whatever the presenter holds (a clipper, a swap chain) belongs to the
    // old window: frames would show nowhere.
    if (state.initialised && !(presenter && presenter->MoveTo(window)))
        SetUpPresenter(state.frameWidth, state.frameHeight);
}

void DrawWindow::ApplyPlayRect(const RECT *rect) {
    AutoLock lock(cropLock);
    if (!rect || !InsideFrame(*rect, state.frameWidth, state.frameHeight)) {
        state.playRectEnabled = 0;
        return;
    }
    state.playRect = *rect;
    state.playRectEnabled = 1;
}

void DrawWindow::ApplyInit(int32_t width, int32_t height) {
    const bool usable =
        width > 0 && height > 0 && uint64_t(width) * uint64_t(height) * 4 <= kMaxFrameBufferBytes;
    SetUpPresenter(usable ? width : 0, usable ? height : 0);
    if (!presenter) {
        // Not ready until a good size: nothing may draw at the wrong size.
        SetFrameSize(0, 0);
        state.initialised = 0;
        return;
    }
    SetFrameSize(width, height);
    if (WindowAlive()) GetWindowRect(state.hwnd, &state.windowRect);
    state.initialised = 1;
}

// The old presenter leaves DirectDraw before the new one opens it, and its
// buffers go first: two of up to 2 GiB need not fit together. No size: none.
void DrawWindow::SetUpPresenter(int32_t width, int32_t height) {
    presenter.reset();
    if (width > 0 && height > 0)
        presenter =
            MakePresenter(PresenterSetUp{state.hwnd, width, height, state.windowRect, video.onWine},
                          video.renderer);
}

// Under the crop's lock: SetPlayRect checks against the size from another
// thread. A crop set for the previous size must not reach past the new frame:
// surface blits would refuse it and GDI would show old pixels.
void DrawWindow::SetFrameSize(int32_t width, int32_t height) {
    AutoLock lock(cropLock);
    state.frameWidth = width;
    state.frameHeight = height;
    if (!InsideFrame(state.playRect, width, height)) state.playRectEnabled = 0;
}

int32_t DrawWindow::Draw(DrawWindow *display, const FrameArgs &frame) {
    bool close = false;
    const int32_t result = display->DrawFrame(frame, &close);
    if (close) delete display;
    return result;
}

int32_t DrawWindow::DrawFrame(const FrameArgs &frame, bool *close) {
    // From inside the host's callback: the frame being drawn is still in use.
    if (InCallback()) return kDrawNotReady;
    drawLock.Enter();
    // What other threads asked while the last frame was drawn.
    RunQueued();
    int32_t result = kDrawNotReady;
    if (!WindowAlive()) {
        windowLost = state.hwnd != nullptr;
    } else if (state.initialised && presenter && frame.y && frame.u && frame.v) {
        // A frame without its planes is refused like one for a display not ready.
        result = Present(frame);
    }
    *close = LeaveDraw();
    return result;
}

namespace {

// The one place a presenter's answer becomes the host's code.
int32_t HostCode(Presented presented) {
    switch (presented) {
        case Presented::Shown:
            return kDrawOk;
        case Presented::Released:
            return kDrawNoSurfaces;
        case Presented::NotShown:
        case Presented::SetUpAgain:
            break;
    }
    return kDrawLockFailed;
}

}  // namespace

// A presenter whose objects are gone for good is made anew, and shows the
// frame; if that fails too, the frame is dropped as when its surface cannot
// be locked.
int32_t DrawWindow::Present(const FrameArgs &frame) {
    Presented presented = PresentOnce(frame);
    if (presented == Presented::SetUpAgain) {
        SetUpPresenter(state.frameWidth, state.frameHeight);
        presented = presenter ? PresentOnce(frame) : Presented::NotShown;
    }
    return HostCode(presented);
}

// The host's callback on the composed frame, under the display's own rules:
// the calls it makes back into the display see the drawing thread marked.
class DrawWindow::Callback : public HostDrawing {
public:
    Callback(DrawWindow &owner, const FrameArgs &drawn, int32_t mirrorSet)
        : display(owner), frame(drawn), mirror(mirrorSet) {}
    bool Wanted() const override { return display.state.displayCallback != nullptr; }
    void Run(HDC dc, int32_t windowWidth, int32_t windowHeight) const override {
        const DisplayState &set = display.state;
        if (!set.displayCallback) return;
        display.callbackThread = GetCurrentThreadId();
        set.displayCallback(int32_t(display.drawIndex), dc, set.frameWidth, set.frameHeight,
                            frame.value7, frame.value8, windowWidth, windowHeight, mirror,
                            set.callbackUser);
        display.callbackThread = 0;
    }

private:
    DrawWindow &display;
    const FrameArgs &frame;
    const int32_t mirror;
};

// What the frame needs, taken under the display's locks: the presenter sees
// each OSD slot and the crop as one of the values the host set.
Presented DrawWindow::PresentOnce(const FrameArgs &frame) {
    OsdPainter osd;
    CopyOsd(&osd);
    RECT source{0, 0, state.frameWidth, state.frameHeight};
    {
        AutoLock lock(cropLock);
        if (state.playRectEnabled) source = state.playRect;
    }
    const int32_t mirror = mirrorMode;
    const Callback drawing(*this, frame, mirror);
    const WindowTarget window{state.hwnd, state.windowDC, state.windowRect};
    return presenter->Present(
        FrameContext{frame, source, mirror == 1, *colourRecord.load(), osd, drawing, window});
}

void DrawWindow::SetOsdText(int32_t index, const char *text, int32_t x, int32_t y, int32_t anchor,
                            COLORREF colour) {
    AutoLock lock(osdLock);
    if (index < 0 || index >= kOsdSlotCount) return;
    state.osdSlots[index].Set(text, x, y, anchor, colour);
}

void OsdSlot::Set(const char *newText, int32_t newX, int32_t newY, int32_t newAnchor,
                  COLORREF newColour) {
    std::strncpy(text, newText ? newText : "", kOsdTextBytes - 1);
    anchor = newAnchor;
    x = newX;
    y = newY;
    colour = newColour;
}

// Each slot whole, as one of the values the host set.
void DrawWindow::CopyOsd(OsdPainter *osd) {
    AutoLock lock(osdLock);
    std::memcpy(osd->slots, state.osdSlots, sizeof osd->slots);
}

bool OsdPainter::HasText() const {
    for (const OsdSlot &slot : slots)
        if (slot.text[0] != '\0') return true;
    return false;
}

void OsdPainter::Paint(HDC dc, int32_t height) const {
    if (!HasText()) return;
    int oldMode = SetBkMode(dc, TRANSPARENT);
    for (const OsdSlot &slot : slots) {
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

}  // namespace kestra
