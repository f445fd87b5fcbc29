// DrawWindow: one video display. It keeps the window, the OSD text, the crop,
// the mirror and the host's callback; its presenter, chosen by InitDraw, puts
// the frames up.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>

#include "core/crit_section.h"
#include "display/presenter.h"
#include "kestra/kestra.h"

namespace kestra {

// The display's own record.
struct DisplayState {
    HWND hwnd = nullptr;
    HDC windowDC = nullptr;
    RECT windowRect{0, 0, 0, 0};  // the outer window rect
    int32_t frameWidth = 0;
    int32_t frameHeight = 0;
    uint32_t initialised = 0;
    KestraDisplayCallback displayCallback = nullptr;
    void *callbackUser = nullptr;
    OsdSlot osdSlots[kOsdSlotCount] = {};
    uint32_t playRectEnabled = 0;
    RECT playRect{0, 0, 0, 0};
};

// Whether a play rect is a crop of a frame of this size (draw_window.cpp).
bool InsideFrame(const RECT &rect, int32_t width, int32_t height);

// A call that would free or replace what a draw in progress uses, waiting its
// turn: made from inside the host's callback, or from another thread while a
// frame is drawn.
struct QueuedCall {
    enum class Kind : uint8_t { Window, Adjust, Init, Free, Crop, Close };
    Kind kind;
    HWND window;
    int32_t width, height;
    bool hasRect;
    RECT rect;
};

class DrawWindow {
public:
    // Its presenters come from the settings' renderer list.
    explicit DrawWindow(const VideoSettings &settings) : video(settings) {}
    ~DrawWindow();
    DrawWindow(const DrawWindow &) = delete;
    DrawWindow &operator=(const DrawWindow &) = delete;
    // Destroys the display. Asked from inside its own display callback, it
    // waits until the draw that called the callback returns.
    static void Close(DrawWindow *display);
    // Draws a frame; a close asked from inside the callback is made once the
    // draw is over, and the display is gone when this returns.
    static int32_t Draw(DrawWindow *display, const FrameArgs &frame);

    // Window, set-up and crop calls take effect at once when no frame is being
    // drawn; otherwise the drawing thread makes them, in the order they came,
    // when the draw returns. Nothing waits for a draw.
    void SetHwnd(HWND window);
    void SetIndex(int32_t index) { drawIndex = index; }
    void SetDisplayCallback(void *user, KestraDisplayCallback callback);
    void SetMirrorMode(int32_t mode) { mirrorMode = mode; }
    // The frames' matrix and range (colour::Find's values); false, and
    // nothing changed, for values it does not know.
    bool SetColourSpace(int32_t matrix, int32_t range);
    void SetPlayRect(const RECT *rect);
    int32_t InitDraw(int32_t width, int32_t height);
    void FreeDraw();
    void UpdateWindowRect();

    void SetOsdText(int32_t index, const char *text, int32_t x, int32_t y, int32_t anchor,
                    COLORREF colour);

private:
    class Callback;
    // The draw; true in *close when a close was asked from inside the callback.
    int32_t DrawFrame(const FrameArgs &frame, bool *close);
    void Submit(const QueuedCall &call);
    // Makes the queued calls in order; true when one of them closed the display.
    bool RunQueued();
    bool QueueEmpty();
    // Leaves drawLock with nothing queued behind it; true when the display must go.
    bool LeaveDraw();
    void Apply(const QueuedCall &call);
    void ApplyWindow(HWND window);
    void ApplyInit(int32_t width, int32_t height);
    void ApplyPlayRect(const RECT *rect);
    bool WindowAlive();

    void SetUpPresenter(int32_t width, int32_t height);
    void SetFrameSize(int32_t width, int32_t height);
    int32_t Present(const FrameArgs &frame);
    Presented PresentOnce(const FrameArgs &frame);
    void CopyOsd(OsdPainter *osd);
    // The drawing thread is inside the host's callback.
    bool InCallback() const { return callbackThread.load() == GetCurrentThreadId(); }

    const VideoSettings video;
    std::unique_ptr<Presenter> presenter;
    DisplayState state;
    // The window went away under the display: set up again for whatever window comes next.
    bool windowLost = false;
    // Held by whoever draws a frame or makes the queued calls.
    CritSection drawLock;
    // The OSD slots, the crop and the queue each have their own lock.
    CritSection osdLock;
    CritSection cropLock;
    CritSection queueLock;
    // Enough for any host; a call past it is dropped rather than waited for.
    static constexpr int kQueueLength = 32;
    QueuedCall queue[kQueueLength] = {};
    int queued = 0;
    // seq_cst, both: the host may set them from another thread while a frame is drawn.
    std::atomic<uint32_t> drawIndex{0};
    std::atomic<int32_t> mirrorMode{0};
    std::atomic<const colour::Record *> colourRecord{&colour::kBt601Studio};
    // seq_cst: the thread running the host's callback (0: none), compared by
    // the calls that callback may make.
    std::atomic<DWORD> callbackThread{0};
};

}  // namespace kestra
