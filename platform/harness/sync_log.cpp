// Stamps for measuring lip sync from outside an unchanged host: the moment a
// window's centre turned white and the moment a click was heard, as lines of
// a log file named by $KPLAT_SYNC_LOG or kplat_sync_log.
#include "internal.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <map>

namespace kplat {

namespace {

struct SyncLog {
    // Innermost of the stand-in's locks: taken under the window lock, and
    // nothing is taken while it is held.
    std::mutex mutex;
    int fd = -1;
    bool chosen = false;         // false: follow $KPLAT_SYNC_LOG
    std::map<HWND, bool> white;  // each window's centre after its last change
};

SyncLog &L() {
    static SyncLog *log = new SyncLog;  // never destroyed: engines stamp while the process exits
    return *log;
}

// Relaxed: a stamp racing a switch of the log may land in either file or none.
std::atomic<bool> logging{false};

// Needs the log's mutex. Appended to, so runs and processes add up.
void OpenLog(const char *path) {
    if (L().fd >= 0) close(L().fd);
    L().fd = path && *path ? open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666) : -1;
    L().white.clear();
    logging.store(L().fd >= 0, std::memory_order_relaxed);
}

bool FollowEnvironment() {
    std::lock_guard<std::mutex> guard(L().mutex);
    if (!L().chosen) OpenLog(std::getenv("KPLAT_SYNC_LOG"));
    return true;
}

// Each channel at 0xE0 or more: a white picture through any converter's rounding.
bool IsWhite(DWORD xrgb) {
    return (xrgb & 0xE00000u) == 0xE00000u && (xrgb & 0xE000u) == 0xE000u &&
           (xrgb & 0xE0u) == 0xE0u;
}

// Needs the log's mutex. One write per line: an append of a few bytes lands
// whole; a stamp lost to a full disk shows up as an unpaired event.
void WriteStamp(const char *what, int64_t qpc) {
    if (L().fd < 0) return;
    char line[64];
    const int n = std::snprintf(line, sizeof line, "%s %lld\n", what, static_cast<long long>(qpc));
    const ssize_t wrote = write(L().fd, line, size_t(n));
    (void)wrote;
}

int64_t QpcNow() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

}  // namespace

bool SyncLogging() {
    static const bool followed = FollowEnvironment();
    return followed && logging.load(std::memory_order_relaxed);
}

void SyncStamp(const char *what, int64_t qpc) {
    std::lock_guard<std::mutex> guard(L().mutex);
    WriteStamp(what, qpc);
}

void StampPicture(HWND window) {
    DWORD centre = 0;
    int64_t now = 0;
    const bool live = WithWindow(window, [&](Window &w) {
        centre = w.pixels[size_t(w.Height() / 2) * w.Width() + w.Width() / 2];
        now = QpcNow();  // the write that called us has just finished
    });
    std::lock_guard<std::mutex> guard(L().mutex);
    if (!live) {
        L().white.erase(window);
        return;
    }
    bool &was = L().white[window];
    const bool is = IsWhite(centre);
    if (is && !was) WriteStamp("flash", now);
    was = is;
}

}  // namespace kplat

using namespace kplat;

extern "C" {

void kplat_sync_log(const char *path) {
    SyncLogging();  // the environment first, so it never overrides this call
    std::lock_guard<std::mutex> guard(L().mutex);
    L().chosen = path != nullptr;
    OpenLog(path ? path : std::getenv("KPLAT_SYNC_LOG"));
}

}  // extern "C"
