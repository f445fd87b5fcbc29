// Windows: a plain top-level window and its message loop.
#include "host_window.h"

namespace kplay {

namespace {

constexpr char kClassName[] = "KestraPlayWindow";

// One player window per process: the window procedure reports through these.
bool closeRequested = false;
bool resized = false;

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CLOSE:
            // Kept alive until the player has released its device context.
            closeRequested = true;
            return 0;
        case WM_KEYDOWN:
            if (wParam == VK_ESCAPE) closeRequested = true;
            return 0;
        case WM_SIZE:
            resized = true;
            return 0;
        case WM_ERASEBKGND:
            return 1;  // the next frame covers the whole client area
        default:
            return DefWindowProcA(window, message, wParam, lParam);
    }
}

bool RegisterOnce(HINSTANCE instance) {
    static bool registered = false;
    if (registered) return true;
    WNDCLASSA wc = {};
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    wc.lpszClassName = kClassName;
    registered = RegisterClassA(&wc) != 0;
    return registered;
}

}  // namespace

HostWindow::~HostWindow() { Destroy(); }

bool HostWindow::Create(const char *title, int clientWidth, int clientHeight, bool, std::string *) {
    HINSTANCE instance = GetModuleHandleA(nullptr);
    if (!RegisterOnce(instance)) return false;
    const DWORD style = WS_OVERLAPPEDWINDOW;
    RECT rect = {0, 0, clientWidth, clientHeight};
    AdjustWindowRect(&rect, style, FALSE);
    window_ = CreateWindowExA(0, kClassName, title, style, CW_USEDEFAULT, CW_USEDEFAULT,
                              rect.right - rect.left, rect.bottom - rect.top, nullptr, nullptr,
                              instance, nullptr);
    if (!window_) return false;
    ShowWindow(window_, SW_SHOW);
    UpdateWindow(window_);
    closeRequested = false;
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

bool HostWindow::Snapshot(const std::string &, std::string *error) const {
    *error = "snapshots need the Linux build";
    return false;
}

void HostWindow::Destroy() {
    if (!window_) return;
    DestroyWindow(window_);
    window_ = nullptr;
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
