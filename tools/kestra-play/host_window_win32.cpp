// Windows: the player's top-level window (and, without DirectDraw, a bordered
// child window inside it that the library draws into) and the message loop.
#include "host_window.h"

namespace kplay {

namespace {

constexpr char kFrameClass[] = "KestraPlayFrame";
constexpr char kVideoClass[] = "KestraPlayVideo";

// One player window per process: the window procedure reports through these.
bool closeRequested = false;
bool resized = false;
HWND videoWindow = nullptr;

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
            if (videoWindow) MoveWindow(videoWindow, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
            resized = true;
            return 0;
        default:
            return DefWindowProcA(window, message, wParam, lParam);
    }
}

LRESULT CALLBACK VideoProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_ERASEBKGND) return 1;  // the next frame covers the window
    return DefWindowProcA(window, message, wParam, lParam);
}

// The GDI mode sizes its picture from the window's outer rectangle less two
// pixels, which a child window with a one-pixel border fits exactly; Wine
// shows DirectDraw output in top-level windows only.
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
    const DWORD style = WS_OVERLAPPEDWINDOW;
    RECT rect = {0, 0, clientWidth + inner, clientHeight + inner};
    AdjustWindowRect(&rect, style, FALSE);
    frame_ = CreateWindowExA(0, kFrameClass, title, style, CW_USEDEFAULT, CW_USEDEFAULT,
                             rect.right - rect.left, rect.bottom - rect.top, nullptr, nullptr,
                             instance, nullptr);
    if (!frame_) return false;
    window_ = frame_;
    if (child) {
        window_ = CreateWindowExA(0, kVideoClass, "", WS_CHILD | WS_VISIBLE | WS_BORDER, 0, 0,
                                  clientWidth + inner, clientHeight + inner, frame_, nullptr,
                                  instance, nullptr);
        if (!window_) {
            Destroy();
            return false;
        }
        videoWindow = window_;
    }
    closeRequested = false;
    resized = false;
    ShowWindow(frame_, SW_SHOW);
    UpdateWindow(frame_);
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

bool HostWindow::Snapshot(const std::string &, std::string *error) const {
    *error = "snapshots need the Linux build";
    return false;
}

void HostWindow::Destroy() {
    if (frame_) DestroyWindow(frame_);  // takes the video window with it
    frame_ = nullptr;
    window_ = nullptr;
    videoWindow = nullptr;
}

bool ChooseAdapter(const std::string &adapter, std::string *error) {
    if (adapter.empty()) return true;
    *error = "--adapter needs the Linux build";
    return false;
}

bool ChooseAudioFile(const std::string &path, std::string *error) {
    if (path.empty()) return true;
    *error = "--audio-out needs the Linux build";
    return false;
}

}  // namespace kplay
