// Windows: the player's top-level window, the window the library draws into
// over its client area, and the message loop.
#include "host_window.h"

#include <vector>

#include "snapshot.h"

namespace kplay {

namespace {

constexpr char kFrameClass[] = "KestraPlayFrame";
constexpr char kVideoClass[] = "KestraPlayVideo";

// One player window per process: the window procedure reports through these.
bool closeRequested = false;
bool resized = false;
HWND videoWindow = nullptr;
bool videoIsPopup = false;

// A popup video window follows the frame's client area on the screen.
void PlaceVideo(HWND frame, int width, int height) {
    if (!videoWindow) return;
    POINT origin = {0, 0};
    if (videoIsPopup) ClientToScreen(frame, &origin);
    MoveWindow(videoWindow, origin.x, origin.y, width, height, TRUE);
}

LRESULT CALLBACK FrameProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CLOSE:
            // Kept alive until the player has released the video window's DC.
            closeRequested = true;
            return 0;
        case WM_KEYDOWN:
            if (wParam == VK_ESCAPE) closeRequested = true;
            return 0;
        case WM_SIZE:
        case WM_MOVE: {
            RECT client;
            GetClientRect(window, &client);
            PlaceVideo(window, client.right, client.bottom);
            resized = true;
            return 0;
        }
        default:
            return DefWindowProcA(window, message, wParam, lParam);
    }
}

LRESULT CALLBACK VideoProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_ERASEBKGND) return 1;  // the next frame covers the window
    return DefWindowProcA(window, message, wParam, lParam);
}

// The GDI mode sizes its picture from the window's outer rectangle less two
// pixels, which a child window with a one-pixel border fits exactly. Wine
// shows DirectDraw output in top-level windows only, and its GDI renderer
// stretches the outer rectangle into the client area, so DirectDraw gets an
// owned popup without a frame, kept over the client area.
bool UseBorderedChild() {
    HMODULE ddraw = LoadLibraryA("ddraw.dll");
    if (ddraw) FreeLibrary(ddraw);
    return ddraw == nullptr;
}

bool RegisterClasses(HINSTANCE instance) {
    static bool registered = false;
    if (registered) return true;
    WNDCLASSA wc = {};
    wc.lpfnWndProc = FrameProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    wc.lpszClassName = kFrameClass;
    if (!RegisterClassA(&wc)) return false;
    wc.lpfnWndProc = VideoProc;
    wc.hbrBackground = nullptr;
    wc.lpszClassName = kVideoClass;
    registered = RegisterClassA(&wc) != 0;
    return registered;
}

}  // namespace

HostWindow::~HostWindow() { Destroy(); }

bool HostWindow::Create(const char *title, int clientWidth, int clientHeight, bool, std::string *) {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    if (!RegisterClasses(instance)) return false;
    const bool child = UseBorderedChild();
    const int inner = child ? 2 : 0;
    videoIsPopup = !child;
    const DWORD style = WS_OVERLAPPEDWINDOW;
    RECT rect = {0, 0, clientWidth + inner, clientHeight + inner};
    AdjustWindowRect(&rect, style, FALSE);
    frame_ = CreateWindowExA(0, kFrameClass, title, style, CW_USEDEFAULT, CW_USEDEFAULT,
                             rect.right - rect.left, rect.bottom - rect.top, nullptr, nullptr,
                             instance, nullptr);
    if (!frame_) return false;
    const DWORD videoStyle = child ? WS_CHILD | WS_BORDER : WS_POPUP;
    window_ = CreateWindowExA(child ? 0 : WS_EX_NOACTIVATE, kVideoClass, "", videoStyle, 0, 0,
                              clientWidth + inner, clientHeight + inner, frame_, nullptr, instance,
                              nullptr);
    if (!window_) {
        Destroy();
        return false;
    }
    videoWindow = window_;
    closeRequested = false;
    ShowWindow(frame_, SW_SHOW);
    PlaceVideo(frame_, clientWidth + inner, clientHeight + inner);
    ShowWindow(window_, SW_SHOWNOACTIVATE);
    UpdateWindow(frame_);
    // The library reads the window's place when it is set up, after this.
    resized = false;
    return true;
}

bool HostWindow::Pump() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) closeRequested = true;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return !closeRequested;
}

bool HostWindow::TakeResized() {
    bool was = resized;
    resized = false;
    return was;
}

namespace {

// What the screen shows at (x, y), as 0x00RRGGBB rows. DirectDraw output goes
// to the screen, not to the window's own DC (Wine's renderers, and Windows
// with an overlay or primary-surface blit), so the window's DC would miss it.
bool ReadScreen(int x, int y, int width, int height, std::vector<uint32_t> *pixels) {
    HDC screen = GetDC(nullptr);
    if (!screen) return false;
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void *bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = memory && bitmap;
    if (ok) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        ok = BitBlt(memory, 0, 0, width, height, screen, x, y, SRCCOPY) != FALSE;
        GdiFlush();
        const uint32_t *p = static_cast<const uint32_t *>(bits);
        if (ok) pixels->assign(p, p + static_cast<size_t>(width) * height);
        SelectObject(memory, old);
    }
    if (bitmap) DeleteObject(bitmap);
    if (memory) DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return ok;
}

// DirectDraw may show the last blit a few milliseconds late: the picture
// counts once two reads in a row agree.
constexpr int kSettleReads = 50;
constexpr DWORD kSettleStepMs = 20;

}  // namespace

bool HostWindow::Snapshot(const std::string &path, std::string *error) const {
    RECT client;
    POINT origin = {0, 0};
    if (!window_ || !GetClientRect(window_, &client) || !ClientToScreen(window_, &origin)) {
        *error = "no window to take a snapshot of";
        return false;
    }
    const int width = client.right, height = client.bottom;
    std::vector<uint32_t> last, now;
    bool settled = false;
    for (int i = 0; i < kSettleReads && !settled; ++i) {
        if (i > 0) Sleep(kSettleStepMs);
        if (!ReadScreen(origin.x, origin.y, width, height, &now)) {
            *error = "cannot read the window's pixels from the screen";
            return false;
        }
        settled = i > 0 && now == last;
        last.swap(now);
    }
    for (uint32_t &p : last) p &= 0x00FFFFFF;
    return WritePng(path, last.data(), width, height, error);
}

void HostWindow::Destroy() {
    if (frame_) DestroyWindow(frame_);  // takes the owned or child video window with it
    frame_ = nullptr;
    window_ = nullptr;
    videoWindow = nullptr;
}

bool ChooseAdapter(const std::string &adapter, std::string *error) {
    if (adapter.empty()) return true;
    *error = "--adapter needs the Linux build";
    return false;
}

// The device is the system's: the player records what it hands over.
bool ChooseAudioFile(const std::string &, bool *playerWrites, std::string *) {
    *playerWrites = true;
    return true;
}

bool SoundFileFailed(const std::string &, std::string *) { return false; }

}  // namespace kplay
