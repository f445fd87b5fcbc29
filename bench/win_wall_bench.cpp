// A wall of displays as a recorder or video-wall client runs it, for running
// under Wine (or on Windows) at each DLL width:
//   kestra_wall_bench.exe RENDERER DISPLAYS [SECONDS [SOURCE [SCALING [osd]]]]
// Top-level windows tile the screen (316x252 four to a row up to 16
// displays, 156x124 eight to a row past that), every display gets frames of
// SOURCE ("sd", 704x576, the default, or "hd", 1920x1080) at 25 fps from 2
// host threads, shrunk as SCALING says ("fast", "smooth", or "default": the
// renderer's own), with a camera name in OSD text when asked (as real walls
// name their cameras). After a second's warm-up the
// program measures the frames shown, the process's CPU, threads and resident
// memory. The renderer goes into LOG.INI beside the program before kestra.dll
// is loaded, as a host's would be. Prints one tab-separated "wall" line that
// scripts/bench gathers into its table.
#include <windows.h>

#include <psapi.h>
#include <tlhelp32.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "kestra/kestra.h"
#include "win_load.h"

namespace {

constexpr int kPeriodMs = 40, kThreads = 2;
int frameWidth = 704, frameHeight = 576;

struct Exports {
    decltype(&KESTRA_DWOpenDraw) open;
    decltype(&KESTRA_DWSetHwnd) setHwnd;
    decltype(&KESTRA_DWInitDraw) init;
    decltype(&KESTRA_DWDrawYUV420) draw;
    decltype(&KESTRA_DWCloseDraw) close;
    decltype(&KESTRA_DWSetOSDText) setOsd;
    decltype(&KESTRA_DWSetScaling) setScaling;  // null in a library without it
};

using bench::Find;

bool Load(const std::string &renderer, Exports *e) {
    HMODULE dll = bench::LoadKestra(renderer);
    if (dll) Find(dll, "KESTRA_DWSetScaling", &e->setScaling);
    return dll && Find(dll, "KESTRA_DWOpenDraw", &e->open) &&
           Find(dll, "KESTRA_DWSetHwnd", &e->setHwnd) && Find(dll, "KESTRA_DWInitDraw", &e->init) &&
           Find(dll, "KESTRA_DWDrawYUV420", &e->draw) &&
           Find(dll, "KESTRA_DWCloseDraw", &e->close) &&
           Find(dll, "KESTRA_DWSetOSDText", &e->setOsd);
}

// ---- what the process costs ----

// A file of the Linux /proc, which Wine shows on drive Z:; empty elsewhere.
std::string ReadProc(const char *name) {
    HANDLE file =
        CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "";
    char text[4096];
    DWORD got = 0;
    ReadFile(file, text, sizeof text - 1, &got, nullptr);
    CloseHandle(file);
    return std::string(text, got);
}

long Field(const std::string &status, const char *key) {
    const size_t at = status.find(key);
    return at == std::string::npos
               ? -1
               : std::strtol(status.c_str() + at + std::strlen(key), nullptr, 10);
}

// Under Wine the process is a Linux process, and its Linux figures count what
// Windows calls cannot see: Mesa's own threads, Wine's own memory.
struct Usage {
    long threads = 0;
    double residentMb = 0;
    double cpuMs = 0;
};

Usage FromWindows() {
    Usage usage;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    THREADENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        usage.threads += entry.th32OwnerProcessID == GetCurrentProcessId();
    CloseHandle(snapshot);
    PROCESS_MEMORY_COUNTERS memory = {};
    if (GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory))
        usage.residentMb = double(memory.WorkingSetSize) / (1 << 20);
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto ms = [](const FILETIME &t) {
        return double((uint64_t(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e4;
    };
    usage.cpuMs = ms(kernel) + ms(user);
    return usage;
}

// The Linux process this program runs in under Wine: the one whose command
// line begins with this program's path. Files of /proc are opened by the
// wineserver, so /proc/self would be the server's. Empty when not on Wine.
std::string OwnProc() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA("Z:\\proc\\*", &found);
    if (search == INVALID_HANDLE_VALUE) return "";
    std::string own;
    do {
        if (found.cFileName[0] < '1' || found.cFileName[0] > '9') continue;
        const std::string dir = std::string("Z:\\proc\\") + found.cFileName + "\\";
        if (ReadProc((dir + "cmdline").c_str())
                .compare(0, std::strlen(path) + 1, path, std::strlen(path) + 1) == 0)
            own = dir;
    } while (own.empty() && FindNextFileA(search, &found));
    FindClose(search);
    return own;
}

Usage Measure() {
    static const std::string own = OwnProc();
    if (own.empty()) return FromWindows();
    const std::string status = ReadProc((own + "status").c_str());
    const std::string stat = ReadProc((own + "stat").c_str());
    if (status.empty() || stat.find(')') == std::string::npos) return FromWindows();
    Usage usage;
    usage.threads = Field(status, "Threads:");
    usage.residentMb = double(Field(status, "VmRSS:")) / 1024;
    // utime and stime are the 14th and 15th fields, in ticks of 10 ms.
    const char *rest = stat.c_str() + stat.rfind(')') + 2;
    for (int field = 3; field < 14; ++field) rest = std::strchr(rest, ' ') + 1;
    char *end = nullptr;
    const double user = std::strtod(rest, &end);
    usage.cpuMs = 10.0 * (user + std::strtod(end, nullptr));
    return usage;
}

// ---- the wall ----

struct Frame {
    std::vector<uint8_t> y, u, v;
    explicit Frame(int index)
        : y(size_t(frameWidth) * frameHeight), u(y.size() / 4), v(y.size() / 4) {
        for (size_t i = 0; i < y.size(); ++i)
            y[i] = uint8_t(16 + (i % size_t(frameWidth) + size_t(index)) % 220);
        std::memset(u.data(), 64 + index * 2, u.size());
        std::memset(v.data(), 192 - index * 2, v.size());
    }
};

struct Wall {
    Exports kestra{};
    std::vector<HWND> windows;
    std::vector<KestraDisplay> displays;
    std::vector<Frame> frames;
    std::atomic<long> shown{0}, refused{0};
    std::atomic<bool> stop{false};
};

// Thread t draws displays t, t + 2, ... every 40 ms, and without a pause when behind.
DWORD WINAPI DrawRows(void *context) {
    static std::atomic<int> next{0};
    Wall *wall = static_cast<Wall *>(context);
    const int thread = next++;
    const DWORD start = GetTickCount();
    for (DWORD n = 1; !wall->stop; ++n) {
        for (size_t d = size_t(thread); d < wall->displays.size(); d += kThreads) {
            const Frame &f = wall->frames[d];
            const KestraResult result =
                wall->kestra.draw(wall->displays[d], f.y.data(), frameWidth, f.u.data(), f.v.data(),
                                  frameWidth / 2, 0, 0, 0);
            ++(result == 0 ? wall->shown : wall->refused);
        }
        const DWORD due = start + n * kPeriodMs, now = GetTickCount();
        if (int32_t(due - now) > 0) Sleep(due - now);
    }
    return 0;
}

// The windows belong to this thread: their messages run here while the wall plays.
void PumpFor(DWORD milliseconds) {
    const DWORD end = GetTickCount() + milliseconds;
    for (DWORD now = GetTickCount(); int32_t(end - now) > 0; now = GetTickCount()) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, end - now, QS_ALLINPUT);
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
    }
}

void MakeWindows(Wall *wall, int count) {
    WNDCLASSA cls = {};
    cls.lpfnWndProc = DefWindowProcA;
    cls.hInstance = GetModuleHandleA(nullptr);
    cls.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    cls.lpszClassName = "kestra wall";
    RegisterClassA(&cls);
    const int columns = count > 16 ? 8 : 4;
    const int width = count > 16 ? 156 : 316, height = count > 16 ? 124 : 252;
    for (int d = 0; d < count; ++d) {
        HWND window = CreateWindowExA(WS_EX_NOACTIVATE, cls.lpszClassName, "wall", WS_POPUP,
                                      d % columns * (width + 4), d / columns * (height + 4), width,
                                      height, nullptr, nullptr, cls.hInstance, nullptr);
        ShowWindow(window, SW_SHOWNOACTIVATE);
        wall->windows.push_back(window);
    }
    PumpFor(200);
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 3) {
        std::fprintf(stderr,
                     "usage: kestra_wall_bench RENDERER DISPLAYS [SECONDS [sd|hd "
                     "[fast|smooth|default [osd]]]]\n");
        return 2;
    }
    const std::string renderer = argv[1];
    const int count = std::atoi(argv[2]);
    const double seconds = argc > 3 ? std::atof(argv[3]) : 6.0;
    const std::string source = argc > 4 ? argv[4] : "sd";
    const std::string scaling = argc > 5 ? argv[5] : "default";
    const bool osd = argc > 6 && std::strcmp(argv[6], "osd") == 0;
    if (source == "hd") frameWidth = 1920, frameHeight = 1080;

    Wall wall;
    if (!Load(renderer, &wall.kestra) || count < 1 ||
        (scaling != "default" && !wall.kestra.setScaling))
        return 1;
    MakeWindows(&wall, count);
    for (int d = 0; d < count; ++d) wall.frames.emplace_back(d);
    const Usage before = Measure();
    const DWORD setUpStart = GetTickCount();
    for (HWND window : wall.windows) {
        KestraDisplay display = nullptr;
        wall.kestra.open(&display);
        wall.kestra.setHwnd(display, window);
        wall.kestra.init(display, frameWidth, frameHeight);
        if (scaling != "default") wall.kestra.setScaling(display, scaling == "smooth" ? 1 : 0);
        if (osd) {
            const std::string name = "Camera " + std::to_string(wall.displays.size() + 1);
            wall.kestra.setOsd(display, 0, name.c_str(), 16, 16, 0, 0xFFFFFF);
        }
        wall.displays.push_back(display);
    }
    const DWORD setUpMs = GetTickCount() - setUpStart;

    HANDLE threads[kThreads];
    for (HANDLE &t : threads) t = CreateThread(nullptr, 0, DrawRows, &wall, 0, nullptr);
    PumpFor(1000);
    const Usage start = Measure();
    const long shownAtStart = wall.shown;
    const DWORD startMs = GetTickCount();
    PumpFor(DWORD(seconds * 1000));
    const Usage end = Measure();
    const double elapsedMs = double(GetTickCount() - startMs);
    const long shown = wall.shown - shownAtStart;
    wall.stop = true;
    WaitForMultipleObjects(kThreads, threads, TRUE, INFINITE);
    for (HANDLE t : threads) CloseHandle(t);
    for (KestraDisplay display : wall.displays) wall.kestra.close(display);

    std::printf("wall\t%d\t%s\t%dx%d\t%s%s\t%d\t%.1f\t%.0f\t%ld\t%ld\t%.0f\t%.0f\t%lu\t%ld\n",
                int(8 * sizeof(void *)), renderer.c_str(), frameWidth, frameHeight, scaling.c_str(),
                osd ? "+osd" : "", count, 1000.0 * double(shown) / elapsedMs / count,
                100.0 * (end.cpuMs - start.cpuMs) / elapsedMs, end.threads,
                end.threads - before.threads, end.residentMb, end.residentMb - before.residentMb,
                static_cast<unsigned long>(setUpMs), wall.refused.load());
    return 0;
}
