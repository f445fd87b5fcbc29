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

class DrawWindow {
public:
    DrawWindow() = default;
    ~DrawWindow();
    // Destroys the display. Asked from inside its own display callback, it
    // waits until the draw that called the callback returns.
    static void Close(DrawWindow *display);

    // Setters (no lock: the host must not race them with a draw).
    void SetHwnd(HWND window);
    void SetIndex(int32_t index) { drawIndex = index; }
    void SetDisplayCallback(void *user, KestraDisplayCallback callback);
    void SetMirrorMode(int32_t mode) { mirrorMode = mode; }
    void SetPlayRect(const RECT *rect);  // under cropLock

    int32_t InitDraw(int32_t width, int32_t height);
    void FreeDraw();
    void UpdateWindowRect();
    int32_t DrawYUV420(const FrameArgs &frame);

    void SetOsdText(int32_t index, const char *text, int32_t x, int32_t y, int32_t anchor,
                    COLORREF colour);
    int HasOsdText();
    // The OSD text as it stands, drawn into `dc` in frame pixels.
    void DrawOsd(HDC dc, int32_t width, int32_t height);

private:
    void SetUpPresenter(int32_t width, int32_t height);
    void SetFrameSize(int32_t width, int32_t height);
    int32_t Present(const FrameArgs &frame);
    int32_t PresentOnce(const FrameArgs &frame);
    void CopyOsd(OsdPainter *osd);
    // The drawing thread is inside the host's callback: what would free or
    // replace the presenter under the draw waits for the draw to return.
    bool InCallback() const { return callbackThread.load() == GetCurrentThreadId(); }
    void RunDeferred();

    std::unique_ptr<Presenter> presenter;
    DisplayState state;
    // The callback, the OSD slots and the crop each have their own lock.
    CritSection callbackLock;
    CritSection osdLock;
    CritSection cropLock;
    // seq_cst, both: the host may set them from another thread while a frame is drawn.
    std::atomic<uint32_t> drawIndex{0};
    std::atomic<int32_t> mirrorMode{0};
    // seq_cst: the thread running the host's callback (0: none), compared by
    // the calls that callback may make.
    std::atomic<DWORD> callbackThread{0};
    // Asked from inside the callback; done, on the drawing thread, when the draw returns.
    bool closeDeferred = false;
    bool windowDeferred = false;
    HWND deferredWindow = nullptr;
    bool initDeferred = false;
    int32_t deferredWidth = 0;
    int32_t deferredHeight = 0;
};

}  // namespace kestra
