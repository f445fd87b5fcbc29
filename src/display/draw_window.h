// DrawWindow: one video display. It keeps the window, the OSD text, the crop,
// the mirror and the host's callback; its presenter puts the frames up.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>

#include "core/crit_section.h"
#include "display/presenter.h"
#include "kestra/kestra.h"

namespace kestra {

constexpr int kOsdSlotCount = 6;
constexpr int kOsdTextBytes = 512;

struct OsdSlot {
    char text[kOsdTextBytes];
    int32_t anchor;
    int32_t x;
    int32_t y;
    COLORREF colour;
};

// Whether a play rect lies inside a frame of this size (draw_window.cpp).
bool InsideFrame(const RECT &rect, int32_t width, int32_t height);

// A read-only look at a display's state; the pointers stay the display's.
struct DisplayView {
    int32_t renderMode;
    uint32_t initialised;
    int32_t frameWidth;
    int32_t frameHeight;
    HWND hwnd;
    HDC windowDC;
    const uint8_t *frameBuffer;
    uint32_t playRectEnabled;
    RECT playRect;
    RECT windowRect;  // the outer window rect
    RECT clientRect;  // the client area in screen coordinates at the last surface draw
    const OsdSlot *osdSlots;
    void *callbackUser;
    KestraDisplayCallback displayCallback;
    uint32_t drawIndex;
    const void *ddraw, *primarySurface, *frameSurface, *auxSurface;
};

class DrawWindow {
public:
    DrawWindow() = default;
    ~DrawWindow();
    DrawWindow(const DrawWindow &) = delete;
    DrawWindow &operator=(const DrawWindow &) = delete;

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
    DisplayView View() const;

    // OSD and callback (osd.cpp), which the presenters draw with.
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
        blit(playRectEnabled ? &playRect : nullptr);
    }

private:
    void SetUpPresenter(int32_t width, int32_t height);
    void DropPlayRectOutside(int32_t width, int32_t height);

    std::unique_ptr<Presenter> presenter;
    HWND hwnd = nullptr;
    HDC windowDC = nullptr;
    RECT windowRect{0, 0, 0, 0};  // the outer window rect
    int32_t frameWidth = 0;
    int32_t frameHeight = 0;
    uint32_t initialised = 0;
    CritSection callbackLock;
    KestraDisplayCallback displayCallback = nullptr;
    void *callbackUser = nullptr;
    CritSection osdLock;
    OsdSlot osdSlots[kOsdSlotCount] = {};
    CritSection cropLock;
    uint32_t playRectEnabled = 0;
    RECT playRect{0, 0, 0, 0};
    // seq_cst, both: the host may set them from another thread while a frame is drawn.
    std::atomic<uint32_t> drawIndex{0};
    std::atomic<int32_t> mirrorMode{0};
};

}  // namespace kestra
