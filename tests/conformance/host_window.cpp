#include "host_window.h"

#include <cstdio>
#include <cstdlib>

#ifndef _WIN32
#include <sys/resource.h>

#include <thread>

#include "kestra/platform.h"
#endif

namespace host {

#ifdef _WIN32

namespace {

const char kClassName[] = "KestraConformanceHost";

LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    // The library paints; an erase would race with it.
    if (message == WM_ERASEBKGND) return 1;
    return DefWindowProcA(window, message, wParam, lParam);
}

void RegisterHostClass() {
    static bool registered = false;
    if (registered) return;
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = HostWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    windowClass.lpszClassName = kClassName;
    RegisterClassA(&windowClass);
    registered = true;
}

}  // namespace

HWND CreateHostWindow(int clientWidth, int clientHeight, int x, int y) {
    RegisterHostClass();
    // WS_BORDER on a popup is exactly one pixel wide on every side.
    HWND window = CreateWindowExA(WS_EX_NOACTIVATE, kClassName, "kestra conformance",
                                  WS_POPUP | WS_BORDER, x, y, clientWidth + 2, clientHeight + 2,
                                  nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    if (!window) return nullptr;
    ShowWindow(window, SW_SHOWNOACTIVATE);
    UpdateWindow(window);
    PumpMessages();
    return window;
}

HWND CreateChildWindow(HWND parent, int x, int y, int width, int height) {
    RegisterHostClass();
    HWND window = CreateWindowExA(0, kClassName, "kestra child", WS_CHILD | WS_VISIBLE, x, y, width,
                                  height, parent, nullptr, GetModuleHandleA(nullptr), nullptr);
    PumpMessages();
    return window;
}

void DestroyHostWindow(HWND window) {
    if (window) DestroyWindow(window);
    PumpMessages();
}

namespace {

const char kForeignVariable[] = "KESTRA_TEST_FOREIGN_WINDOW";
HANDLE foreignProcess = nullptr, foreignInput = nullptr;

// This program started by CreateForeignWindow: the window, its handle on
// stdout, pumped until the parent closes stdin; the tests never run.
const bool foreignWindowHost = [] {
    char size[32] = {};
    if (!GetEnvironmentVariableA(kForeignVariable, size, sizeof size)) return false;
    int width = 0, height = 0;
    if (std::sscanf(size, "%dx%d", &width, &height) != 2) ExitProcess(2);
    const HWND window = CreateHostWindow(width, height);
    std::printf("%llu\n", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(window)));
    std::fflush(stdout);
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD available = 0;
    while (PeekNamedPipe(input, nullptr, 0, nullptr, &available, nullptr)) {
        PumpMessages();
        Sleep(10);
    }
    ExitProcess(0);
}();

}  // namespace

HWND CreateForeignWindow(int clientWidth, int clientHeight) {
    SECURITY_ATTRIBUTES inherited = {sizeof inherited, nullptr, TRUE};
    HANDLE childInput = nullptr, childOutput = nullptr, output = nullptr;
    if (!CreatePipe(&childInput, &foreignInput, &inherited, 0)) return nullptr;
    if (!CreatePipe(&output, &childOutput, &inherited, 0)) return nullptr;
    SetHandleInformation(foreignInput, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(output, HANDLE_FLAG_INHERIT, 0);
    char path[MAX_PATH] = {}, size[32] = {};
    GetModuleFileNameA(nullptr, path, sizeof path);
    std::snprintf(size, sizeof size, "%dx%d", clientWidth, clientHeight);
    STARTUPINFOA start = {};
    start.cb = sizeof start;
    start.dwFlags = STARTF_USESTDHANDLES;
    start.hStdInput = childInput;
    start.hStdOutput = childOutput;
    start.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION started = {};
    SetEnvironmentVariableA(kForeignVariable, size);
    const BOOL ok = CreateProcessA(path, nullptr, nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                   &start, &started);
    SetEnvironmentVariableA(kForeignVariable, nullptr);
    CloseHandle(childInput);
    CloseHandle(childOutput);
    char line[32] = {};
    DWORD got = 0;
    for (DWORD n = 0; ok && got + 1 < sizeof line && line[got ? got - 1 : 0] != '\n'; got += n)
        if (!ReadFile(output, line + got, 1, &n, nullptr) || n == 0) break;
    CloseHandle(output);
    if (!ok) return nullptr;
    CloseHandle(started.hThread);
    foreignProcess = started.hProcess;
    return reinterpret_cast<HWND>(static_cast<uintptr_t>(std::strtoull(line, nullptr, 10)));
}

void EndForeignWindow() {
    if (foreignInput) CloseHandle(foreignInput);
    if (foreignProcess) WaitForSingleObject(foreignProcess, 10000);
    if (foreignProcess) CloseHandle(foreignProcess);
    foreignInput = foreignProcess = nullptr;
}

void ResizeHostWindow(HWND window, int clientWidth, int clientHeight) {
    SetWindowPos(window, nullptr, 0, 0, clientWidth + 2, clientHeight + 2,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    PumpMessages();
}

namespace {

std::vector<uint32_t> ReadScreenOnce(HWND window) {
    RECT client = {};
    GetClientRect(window, &client);
    const int width = client.right, height = client.bottom;
    std::vector<uint32_t> pixels(size_t(width) * size_t(height), 0);
    if (width <= 0 || height <= 0) return pixels;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void *bits = nullptr;
    POINT origin = {0, 0};
    ClientToScreen(window, &origin);
    HDC windowDC = GetDC(nullptr);
    HDC memoryDC = CreateCompatibleDC(windowDC);
    HBITMAP section = CreateDIBSection(windowDC, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (section && bits) {
        HGDIOBJ previous = SelectObject(memoryDC, section);
        BitBlt(memoryDC, 0, 0, width, height, windowDC, origin.x, origin.y, SRCCOPY);
        GdiFlush();
        const uint32_t *row = static_cast<const uint32_t *>(bits);
        for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = row[i] & 0x00FFFFFFu;
        SelectObject(memoryDC, previous);
        DeleteObject(section);
    }
    DeleteDC(memoryDC);
    ReleaseDC(nullptr, windowDC);
    return pixels;
}

}  // namespace

// Settled when three reads 20 ms apart agree; a picture still changing after
// 5 s is returned as it is, for the caller's check to report.
std::vector<uint32_t> ReadClient(HWND window) {
    PumpMessages();
    Sleep(50);
    std::vector<uint32_t> last = ReadScreenOnce(window);
    const DWORD start = GetTickCount();
    for (int agreeing = 0; agreeing < 2 && GetTickCount() - start < 5000;) {
        Sleep(20);
        PumpMessages();
        std::vector<uint32_t> next = ReadScreenOnce(window);
        agreeing = next == last ? agreeing + 1 : 0;
        last.swap(next);
    }
    return last;
}

bool PresentsLate() { return true; }

uint32_t ReadPixel(HWND window, int x, int y) {
    RECT client = {};
    GetClientRect(window, &client);
    if (x < 0 || y < 0 || x >= client.right || y >= client.bottom) return 0xFFFFFFFFu;
    return ReadClient(window)[size_t(y) * size_t(client.right) + size_t(x)];
}

void PumpMessages() {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

void SleepMs(unsigned milliseconds) { Sleep(milliseconds); }

uint32_t TickMs() { return GetTickCount(); }

double ProcessCpuMs() {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
    auto ms = [](const FILETIME &t) {
        return double((uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 10000.0;
    };
    return ms(kernel) + ms(user);
}

namespace {
struct ThreadStart {
    void (*body)(int, void *);
    void *context;
    int index;
};
DWORD WINAPI ThreadMain(void *start) {
    const ThreadStart *s = static_cast<const ThreadStart *>(start);
    s->body(s->index, s->context);
    return 0;
}
}  // namespace

void RunThreads(int count, void (*body)(int index, void *context), void *context) {
    std::vector<ThreadStart> starts(size_t(count), ThreadStart{body, context, 0});
    std::vector<HANDLE> threads;
    for (int i = 0; i < count; ++i) {
        starts[size_t(i)].index = i;
        HANDLE thread = CreateThread(nullptr, 0, ThreadMain, &starts[size_t(i)], 0, nullptr);
        if (thread)
            threads.push_back(thread);
        else
            body(i, context);
    }
    WaitForMultipleObjects(DWORD(threads.size()), threads.data(), TRUE, INFINITE);
    for (HANDLE thread : threads) CloseHandle(thread);
}

void UseTestAudioOutput() {}

bool AudioOutputIsPaced() { return std::getenv("KESTRA_AUDIO_UNPACED") == nullptr; }

#else

HWND CreateHostWindow(int clientWidth, int clientHeight, int x, int y) {
    return kplat_create_window("kestra conformance", x, y, clientWidth, clientHeight, 1);
}

HWND CreateChildWindow(HWND parent, int x, int y, int width, int height) {
    POINT origin = {x, y};
    ClientToScreen(parent, &origin);
    return kplat_create_window("kestra child", origin.x, origin.y, width, height, 0);
}

void DestroyHostWindow(HWND window) {
    if (window) kplat_destroy_window(window);
}

HWND CreateForeignWindow(int, int) { return nullptr; }

void EndForeignWindow() {}

void ResizeHostWindow(HWND window, int clientWidth, int clientHeight) {
    kplat_resize_window(window, clientWidth, clientHeight);
}

std::vector<uint32_t> ReadClient(HWND window) {
    int width = 0, height = 0;
    kplat_get_client_size(window, &width, &height);
    std::vector<uint32_t> pixels(size_t(width) * size_t(height), 0);
    if (!pixels.empty()) kplat_read_window_pixels(window, pixels.data(), width);
    return pixels;
}

bool PresentsLate() { return false; }

uint32_t ReadPixel(HWND window, int x, int y) { return kplat_window_pixel(window, x, y); }

void PumpMessages() {}

void SleepMs(unsigned milliseconds) { Sleep(milliseconds); }

uint32_t TickMs() { return GetTickCount(); }

double ProcessCpuMs() {
    rusage usage = {};
    getrusage(RUSAGE_SELF, &usage);
    auto ms = [](const timeval &t) { return double(t.tv_sec) * 1000.0 + t.tv_usec / 1000.0; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

void RunThreads(int count, void (*body)(int index, void *context), void *context) {
    std::vector<std::thread> threads;
    for (int i = 0; i < count; ++i) threads.emplace_back(body, i, context);
    for (std::thread &thread : threads) thread.join();
}

// Paced in real time like a sound card, on machines with or without one.
void UseTestAudioOutput() { kplat_audio_set_sink("null"); }

bool AudioOutputIsPaced() { return true; }

#endif

}  // namespace host
