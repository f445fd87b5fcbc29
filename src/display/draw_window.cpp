// DrawWindow: set-up, setters, OSD text, the queue of calls a draw in
// progress defers, and the draw call, which hands the presenter what the
// frame needs; the OSD painter; and the host's callback.
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
    while (QueuedCall *call = queueHead) {
        queueHead = call->next;
        delete call;
    }
    if (presenter) presenter->Release();
    if (windowDC) ReleaseDC(hwnd, windowDC);
}

void DrawWindow::Close() {
    closed = true;
    LetGo(this);
}

void DrawWindow::SetHwnd(HWND window) {
    Submit(QueuedCall{QueuedCall::Kind::Window, window, 0, 0, false, {}, nullptr});
}

void DrawWindow::UpdateWindowRect() {
    Submit(QueuedCall{QueuedCall::Kind::Adjust, nullptr, 0, 0, false, {}, nullptr});
}

int32_t DrawWindow::InitDraw(int32_t width, int32_t height) {
    Submit(QueuedCall{QueuedCall::Kind::Init, nullptr, width, height, false, {}, nullptr});
    return 0;
}

void DrawWindow::FreeDraw() {
    Submit(QueuedCall{QueuedCall::Kind::Free, nullptr, 0, 0, false, {}, nullptr});
}

bool DrawWindow::SetColourSpace(int32_t matrix, int32_t range) {
    const colour::Record *record = colour::Find(matrix, range);
    if (!record) return false;
    colourRecord = record;
    return true;
}

bool DrawWindow::SetScaling(int32_t mode) {
    if (mode != static_cast<int32_t>(Scaling::Fast) &&
        mode != static_cast<int32_t>(Scaling::Smooth))
        return false;
    scaling = static_cast<Scaling>(mode);
    return true;
}

void DrawWindow::SetPlayRect(const RECT *rect) {
    if (!OnDrawingThread() && QueueEmpty()) {
        ApplyPlayRect(rect);
        return;
    }
    Submit(QueuedCall{QueuedCall::Kind::Crop, nullptr, 0, 0, rect != nullptr,
                      rect ? *rect : RECT{0, 0, 0, 0}, nullptr});
}

void DrawWindow::SetDisplayCallback(void *user, KestraDisplayCallback function) {
    AutoLock hold(settingsLock);
    callback = HostCallback{function, user};
}

// A host moving its window while another thread draws must not free what the
// draw uses, nor wait for it: the draw may be inside the host's callback, or
// in a platform call that waits for this very thread's messages.
void DrawWindow::Submit(const QueuedCall &call) {
    const bool drawing = OnDrawingThread();
    {
        AutoLock hold(queueLock);
        // A call that only replaces the one before it stands for both; the
        // first entry may be running, so it is never replaced. A set-up is
        // never replaced: a crop behind it was checked against its size.
        if (queueTail && queueTail != queueHead && queueTail->kind == call.kind &&
            call.kind != QueuedCall::Kind::Init) {
            QueuedCall *const next = queueTail->next;
            *queueTail = call;
            queueTail->next = next;
        } else if (QueuedCall *node = new (std::nothrow) QueuedCall(call)) {
            node->next = nullptr;
            (queueTail ? queueTail->next : queueHead) = node;
            queueTail = node;
        } else if (drawing) {
            callLost = true;
            return;
        } else {
            // No memory for the queue: wait for the draw, then make the call.
            hold.Release();
            Hold();
            EnterDraw();
            RunQueued();
            Apply(call);
            LeaveDraw();
            LetGo(this);
            return;
        }
    }
    if (drawing) return;
    // Held while making the calls: a close racing them frees the display after.
    Hold();
    if (drawLock.TryEnter()) {
        drawingThread = GetCurrentThreadId();
        LeaveDraw();
    }
    LetGo(this);
}

bool DrawWindow::QueueEmpty() {
    AutoLock hold(queueLock);
    return queueHead == nullptr;
}

void DrawWindow::EnterDraw() {
    drawLock.Enter();
    drawingThread = GetCurrentThreadId();
}

// Each call leaves the queue only once it is made, so a crop set meanwhile
// from another thread queues behind it. After a close nothing is made.
void DrawWindow::RunQueued() {
    for (;;) {
        QueuedCall *call;
        {
            AutoLock hold(queueLock);
            call = queueHead;
            if (!call) break;
        }
        if (!closed) Apply(*call);
        AutoLock hold(queueLock);
        queueHead = call->next;
        if (!queueHead) queueTail = nullptr;
        delete call;
    }
    {
        AutoLock hold(queueLock);
        if (!callLost) return;
        callLost = false;
    }
    SetUpPresenter(0, 0);
    SetFrameSize(0, 0);
    initialised = false;
}

// A call queued after the last look, while drawLock was still held, is made
// here too: nothing stays queued once no draw is running.
void DrawWindow::LeaveDraw() {
    for (;;) {
        RunQueued();
        drawingThread = 0;
        drawLock.Leave();
        if (QueueEmpty() || !drawLock.TryEnter()) return;
        drawingThread = GetCurrentThreadId();
    }
}

void DrawWindow::Apply(const QueuedCall &call) {
    switch (call.kind) {
        case QueuedCall::Kind::Window:
            ApplyWindow(call.window);
            break;
        case QueuedCall::Kind::Adjust:
            if (WindowAlive()) GetWindowRect(hwnd, &windowRect);
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
    }
}

// A window destroyed under the display counts as none.
bool DrawWindow::WindowAlive() { return hwnd && IsWindow(hwnd); }

void DrawWindow::ApplyWindow(HWND window) {
    if (windowDC) {
        ReleaseDC(hwnd, windowDC);
        windowDC = nullptr;
    }
    const bool moved = window != hwnd || windowLost;
    hwnd = window;
    windowDC = GetDC(hwnd);
    windowLost = !WindowAlive();
    if (windowLost || !moved) return;
    GetWindowRect(hwnd, &windowRect);
    // Whatever the presenter holds (a clipper, a swap chain) belongs to the
    // old window: frames would show nowhere.
    if (initialised && !(presenter && presenter->MoveTo(window)))
        SetUpPresenter(frameWidth, frameHeight);
}

void DrawWindow::ApplyPlayRect(const RECT *rect) {
    AutoLock lock(settingsLock);
    if (!rect || !InsideFrame(*rect, frameWidth, frameHeight)) {
        playRectEnabled = 0;
        return;
    }
    playRect = *rect;
    playRectEnabled = 1;
}

void DrawWindow::ApplyInit(int32_t width, int32_t height) {
    const bool usable =
        width > 0 && height > 0 && uint64_t(width) * uint64_t(height) * 4 <= kMaxFrameBufferBytes;
    SetUpPresenter(usable ? width : 0, usable ? height : 0);
    if (!presenter) {
        // Not ready until a good size: nothing may draw at the wrong size.
        SetFrameSize(0, 0);
        initialised = false;
        return;
    }
    SetFrameSize(width, height);
    if (WindowAlive()) GetWindowRect(hwnd, &windowRect);
    initialised = true;
}

// The old presenter leaves DirectDraw before the new one opens it, and its
// buffers go first: two of up to 2 GiB need not fit together. No size: none.
void DrawWindow::SetUpPresenter(int32_t width, int32_t height) {
    presenter.reset();
    if (width > 0 && height > 0)
        presenter = MakePresenter(PresenterSetUp{hwnd, width, height, windowRect, video.onWine},
                                  video.renderer);
}

// A crop set for the previous size must not reach past the new frame:
// surface blits would refuse it and GDI would show old pixels.
void DrawWindow::SetFrameSize(int32_t width, int32_t height) {
    AutoLock lock(settingsLock);
    frameWidth = width;
    frameHeight = height;
    if (!InsideFrame(playRect, width, height)) playRectEnabled = 0;
}

int32_t DrawWindow::DrawFrame(const FrameArgs &frame) {
    if (OnDrawingThread()) return kDrawNotReady;
    Hold();
    EnterDraw();
    // What other threads asked while the last frame was drawn.
    RunQueued();
    int32_t result = kDrawNotReady;
    if (!WindowAlive()) {
        windowLost = hwnd != nullptr;
    } else if (initialised && presenter && frame.y && frame.u && frame.v) {
        // A frame without its planes is refused like one for a display not ready.
        result = Present(frame);
    }
    LeaveDraw();
    LetGo(this);
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
        SetUpPresenter(frameWidth, frameHeight);
        presented = presenter ? PresentOnce(frame) : Presented::NotShown;
    }
    return HostCode(presented);
}

// The host's callback on the composed frame, as it was set when the frame
// began; the calls it makes back into the display are on the drawing thread.
class DrawWindow::Callback : public HostDrawing {
public:
    Callback(const HostCallback &set, uint32_t index, const FrameArgs &drawn, int32_t width,
             int32_t height, int32_t mirrorSet)
        : callback(set),
          drawIndex(index),
          frame(drawn),
          frameWidth(width),
          frameHeight(height),
          mirror(mirrorSet) {}
    bool Wanted() const override { return callback.function != nullptr; }
    void Run(HDC dc, int32_t windowWidth, int32_t windowHeight) const override {
        if (!callback.function) return;
        callback.function(int32_t(drawIndex), dc, frameWidth, frameHeight, frame.value7,
                          frame.value8, windowWidth, windowHeight, mirror, callback.user);
    }

private:
    const HostCallback callback;
    const uint32_t drawIndex;
    const FrameArgs &frame;
    const int32_t frameWidth, frameHeight;
    const int32_t mirror;
};

// What the frame needs, taken in one hold of the settings lock: the presenter
// sees each OSD slot, the crop and the callback as one of the values the host set.
Presented DrawWindow::PresentOnce(const FrameArgs &frame) {
    OsdPainter osd;
    RECT source{0, 0, frameWidth, frameHeight};
    HostCallback host;
    {
        AutoLock lock(settingsLock);
        std::memcpy(osd.slots, osdSlots, sizeof osd.slots);
        if (playRectEnabled) source = playRect;
        host = callback;
    }
    const int32_t mirror = mirrorMode;
    const Callback drawing(host, drawIndex, frame, frameWidth, frameHeight, mirror);
    const WindowTarget window{hwnd, windowDC, windowRect};
    return presenter->Present(FrameContext{frame, source, mirror == 1, scaling.load(),
                                           *colourRecord.load(), osd, drawing, window});
}

void DrawWindow::SetOsdText(int32_t index, const char *text, int32_t x, int32_t y, int32_t anchor,
                            COLORREF colour) {
    AutoLock lock(settingsLock);
    if (index < 0 || index >= kOsdSlotCount) return;
    osdSlots[index].Set(text, x, y, anchor, colour);
}

void OsdSlot::Set(const char *newText, int32_t newX, int32_t newY, int32_t newAnchor,
                  COLORREF newColour) {
    std::strncpy(text, newText ? newText : "", kOsdTextBytes - 1);
    anchor = newAnchor;
    x = newX;
    y = newY;
    colour = newColour;
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
