// DrawWindow: one video display. It keeps the window, the OSD text, the crop,
// the mirror and the host's callback; its presenter, chosen by InitDraw, puts
// the frames up.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>

#include "core/crit_section.h"
#include "kestra/kestra.h"

namespace kestra {

class DrawWindow;

enum RenderMode : int32_t {
    ModeYV12Surface = 0,
    ModeUYVYSurface = 1,
    ModeRGB565Surface = 2,
    ModeGdi = 3,
};

// Draw results passed through to the host.
enum : int32_t {
    kDrawOk = 0,
    kDrawNotReady = -1,
    kDrawLockFailed = -3,
    kDrawNoSurfaces = -9,
};

// The frame arguments of the draw call after the handle.
struct FrameArgs {
    const uint8_t *y;
    int32_t yStride;
    const uint8_t *u;
    const uint8_t *v;
    int32_t uvStride;
    int32_t value6;
    int32_t value7;
    int32_t value8;
};

constexpr int kOsdSlotCount = 6;
constexpr int kOsdTextBytes = 512;

struct OsdSlot {
    char text[kOsdTextBytes];
    int32_t anchor;
    int32_t x;
    int32_t y;
    COLORREF colour;
};

// Whether a play rect is a crop of a frame of this size (draw_window.cpp).
bool InsideFrame(const RECT &rect, int32_t width, int32_t height);

// What Present answers when the presenter's surfaces are gone for good (a
// display-mode change they cannot be restored after): the display sets up a
// presenter anew and shows the frame there. Never reaches the host.
constexpr int32_t kPresentSetUpAgain = -100;

// The display's own record, which DrawWindow shows read-only.
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

// What a presenter shows of itself; the pointers only identify its objects.
struct PresenterView {
    int32_t renderMode;
    const uint8_t *frameBuffer;
    RECT clientRect;  // the client area in screen coordinates at the last surface draw
    const void *ddraw, *primarySurface, *frameSurface, *auxSurface;
};

// What a presenter reads of its display for one frame.
struct PresentArgs {
    const FrameArgs &frame;
    const DisplayState &state;
    int32_t mirror;       // read once, so the frame's steps agree on it
    DrawWindow &display;  // the OSD text, the crop and the host's callback
};

class Presenter {
public:
    Presenter(int32_t mode, int32_t width, int32_t height)
        : renderMode(mode), frameWidth(width), frameHeight(height) {}
    virtual ~Presenter() = default;

    virtual int32_t Present(const PresentArgs &args) = 0;
    // Lets DirectDraw go; the frame buffer stays.
    virtual void Release() {}
    virtual PresenterView View() const {
        return PresenterView{renderMode, frameBuffer.get(), {}, {}, {}, {}, {}};
    }

    bool AllocFrameBuffer();
    // A presenter chosen again for the same frame size takes over the buffer.
    std::unique_ptr<uint8_t[]> TakeFrameBuffer() { return std::move(frameBuffer); }
    void AdoptFrameBuffer(std::unique_ptr<uint8_t[]> buffer) { frameBuffer = std::move(buffer); }

protected:
    const int32_t renderMode;
    const int32_t frameWidth;
    const int32_t frameHeight;
    std::unique_ptr<uint8_t[]> frameBuffer;
};

// Works wherever DirectDraw does not.
std::unique_ptr<Presenter> MakeGdiPresenter(int32_t width, int32_t height);

// The surface presenter the adapter behind `window` supports, or null when
// DirectDraw cannot show frames there. The set-up's test blit goes to
// `testTarget`.
std::unique_ptr<Presenter> MakeSurfacePresenter(HWND window, int32_t width, int32_t height,
                                                const RECT &testTarget);

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
    // Read-only looks, for tests and diagnostics.
    const DisplayState &State() const { return state; }
    PresenterView ViewPresenter() const;
    uint32_t DrawIndex() const { return drawIndex; }

    // OSD and callback, which the presenters draw with.
    void SetOsdText(int32_t index, const char *text, int32_t x, int32_t y, int32_t anchor,
                    COLORREF colour);
    int HasOsdText() const;
    void DrawOsd(HDC dc, int32_t width, int32_t height);
    void CallDisplayCallback(HDC dc, int32_t windowWidth, int32_t windowHeight, int32_t value7,
                             int32_t value8, int32_t mode);
    // The OSD text stays as it is until `compose` returns.
    template <typename Compose>
    void WithOsdHeld(Compose compose) {
        AutoLock lock(osdLock);
        compose();
    }
    // The crop, null when off, held until `blit` returns so SetPlayRect waits for it.
    template <typename Blit>
    void WithCrop(Blit blit) {
        AutoLock lock(cropLock);
        blit(state.playRectEnabled ? &state.playRect : nullptr);
    }

private:
    void SetUpPresenter(int32_t width, int32_t height);
    void SetFrameSize(int32_t width, int32_t height);
    int32_t Present(const FrameArgs &frame);
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
    bool setUpDeferred = false;
    bool initDeferred = false;
    int32_t deferredWidth = 0;
    int32_t deferredHeight = 0;
};

}  // namespace kestra
