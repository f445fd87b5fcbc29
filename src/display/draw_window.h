// DrawWindow: one video display. It keeps the window, the OSD text, the crop,
// the mirror and the host's callback; its presenter, chosen by InitDraw, puts
// the frames up.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>

#include "core/crit_section.h"
#include "core/shared.h"
#include "display/presenter.h"
#include "kestra/kestra.h"

namespace kestra {

// Whether a play rect is a crop of a frame of this size (draw_window.cpp).
bool InsideFrame(const RECT &rect, int32_t width, int32_t height);

// A window, set-up or crop call waiting for the draw in progress to end:
// made on the drawing thread (from the host's callback, or from a host window
// procedure a platform call dispatched), or from another thread while a
// frame is drawn.
struct QueuedCall {
    enum class Kind : uint8_t { Window, Adjust, Init, Free, Crop };
    Kind kind;
    HWND window;
    int32_t width, height;
    bool hasRect;
    RECT rect;
    QueuedCall *next;
};

// Life (core/shared.h): the host's handle holds one reference and a draw in
// progress another, so a close from inside the draw (the host's callback,
// or a window procedure a platform call dispatched) or racing it frees the
// display when the draw returns, and nothing waits for a draw.
//
// Threads: whoever holds drawLock is the drawing thread, a draw or a thread
// making the queued calls. Every call that would free or replace what a draw
// uses is queued when another thread draws or when the drawing thread itself
// makes it, and the drawing thread makes the queued calls in order before it
// lets go of drawLock. The queue has no bound.
class DrawWindow : public Shared {
public:
    // Its presenters come from the settings' renderer list.
    explicit DrawWindow(const VideoSettings &settings) : video(settings) {}
    DrawWindow(const DrawWindow &) = delete;
    DrawWindow &operator=(const DrawWindow &) = delete;
    bool Made() const { return true; }

    // Lets go of the host's handle; the display goes when no draw uses it.
    void Close();
    // Draws a frame; refused (-1) on the drawing thread, whose frame is still in use.
    int32_t DrawFrame(const FrameArgs &frame);

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
    // Scaling::Fast or Smooth as an int; false, and nothing changed, for any other.
    bool SetScaling(int32_t mode);
    // A crop set on the drawing thread, or behind a queued call, is checked
    // against the frame size the calls before it leave; otherwise at once.
    void SetPlayRect(const RECT *rect);
    int32_t InitDraw(int32_t width, int32_t height);
    void FreeDraw();
    void UpdateWindowRect();

    void SetOsdText(int32_t index, const char *text, int32_t x, int32_t y, int32_t anchor,
                    COLORREF colour);

private:
    friend void LetGo<DrawWindow>(DrawWindow *);
    ~DrawWindow();
    class Callback;
    struct HostCallback {
        KestraDisplayCallback function;
        void *user;
    };

    void Submit(const QueuedCall &call);
    // Takes drawLock as the drawing thread, and leaves it with nothing queued.
    void EnterDraw();
    void LeaveDraw();
    void RunQueued();
    bool QueueEmpty();
    void Apply(const QueuedCall &call);
    void ApplyWindow(HWND window);
    void ApplyInit(int32_t width, int32_t height);
    void ApplyPlayRect(const RECT *rect);
    bool WindowAlive();
    bool OnDrawingThread() const { return drawingThread.load() == GetCurrentThreadId(); }

    void SetUpPresenter(int32_t width, int32_t height);
    void SetFrameSize(int32_t width, int32_t height);
    int32_t Present(const FrameArgs &frame);
    Presented PresentOnce(const FrameArgs &frame);

    const VideoSettings video;

    // ---- Any thread ----
    // seq_cst, all: the host may set them from another thread while a frame is drawn.
    std::atomic<uint32_t> drawIndex{0};
    std::atomic<int32_t> mirrorMode{0};
    std::atomic<const colour::Record *> colourRecord{&colour::kBt601Studio};
    // The settings file's choice until the host makes one.
    std::atomic<Scaling> scaling{video.scaling};
    // seq_cst: the thread holding drawLock (0: none), compared by every call
    // that may free what a draw uses.
    std::atomic<DWORD> drawingThread{0};
    // seq_cst: the host let go of its handle; queued calls are then dropped unmade.
    std::atomic<bool> closed{false};

    // ---- Under settingsLock, any thread; each read whole, as one of the values set ----
    CritSection settingsLock;
    OsdSlot osdSlots[kOsdSlotCount] = {};
    HostCallback callback{nullptr, nullptr};
    uint32_t playRectEnabled = 0;
    RECT playRect{0, 0, 0, 0};
    // Written by the drawing thread, read by a crop set at once from another.
    int32_t frameWidth = 0;
    int32_t frameHeight = 0;

    // ---- Under queueLock: the calls waiting for the drawing thread, oldest first ----
    CritSection queueLock;
    QueuedCall *queueHead = nullptr;
    QueuedCall *queueTail = nullptr;
    // A call the drawing thread could find no memory for: the display is left
    // not ready rather than drawing at a size or in a window it no longer has.
    bool callLost = false;

    // ---- The drawing thread only, under drawLock ----
    CritSection drawLock;
    std::unique_ptr<Presenter> presenter;
    HWND hwnd = nullptr;
    HDC windowDC = nullptr;
    RECT windowRect{0, 0, 0, 0};  // the outer window rect
    bool initialised = false;
    // The window went away under the display: set up again for whatever window comes next.
    bool windowLost = false;
};

}  // namespace kestra
