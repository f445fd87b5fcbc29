// Kernel subset: critical sections, events, interlocked counters, time,
// threads, the process path, profile (INI) reading and run-time module loading.
#include "internal.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <ctime>
#include <dlfcn.h>
#include <map>
#include <fcntl.h>
#include <pthread.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

static_assert(sizeof(pthread_mutex_t) <= sizeof(CRITICAL_SECTION::impl),
              "CRITICAL_SECTION storage too small for pthread_mutex_t");

namespace {

pthread_mutex_t *MutexOf(LPCRITICAL_SECTION cs) {
    return reinterpret_cast<pthread_mutex_t *>(cs->impl.storage);
}

thread_local DWORD lastError = 0;

struct ThreadJob {
    LPTHREAD_START_ROUTINE start;
    LPVOID parameter;
};

void *RunThreadJob(void *arg) {
    const ThreadJob job = *static_cast<ThreadJob *>(arg);
    delete static_cast<ThreadJob *>(arg);
    job.start(job.parameter);
    return nullptr;
}

std::string Trim(const std::string &s) {
    size_t b = 0, e = s.size();
    while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
    while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
    return s.substr(b, e - b);
}

bool EqualNoCase(const std::string &a, const char *b) {
    size_t n = std::strlen(b);
    if (a.size() != n) return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// A LOG.INI is a few short lines; 64 KiB is a thousand times that and bounds what a host
// reads at load.
constexpr size_t kLargestProfile = 64 * 1024;

// The bytes of a regular file of at most kLargestProfile. O_NONBLOCK keeps a FIFO from
// blocking the open; FIFOs, devices and directories are refused, as is a larger file.
bool ReadProfileBytes(const char *fileName, std::string *bytes) {
    const int fd = open(fileName, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
              st.st_size <= static_cast<off_t>(kLargestProfile);
    // One byte past the bound tells a file that grew since fstat.
    bytes->resize(ok ? kLargestProfile + 1 : 0);
    size_t got = 0;
    while (ok && got < bytes->size()) {
        const ssize_t n = read(fd, &(*bytes)[got], bytes->size() - got);
        if (n == 0) break;
        if (n < 0 && errno != EINTR) ok = false;
        if (n > 0) got += static_cast<size_t>(n);
    }
    close(fd);
    bytes->resize(got);
    return ok && got <= kLargestProfile;
}

void AppendUtf8(std::string *out, uint32_t c) {
    if (c < 0x80) {
        *out += static_cast<char>(c);
        return;
    }
    static const unsigned char kLead[] = {0, 0xC0, 0xE0, 0xF0};
    const int tail = c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
    *out += static_cast<char>(kLead[tail] | (c >> (6 * tail)));
    for (int i = tail - 1; i >= 0; --i) *out += static_cast<char>(0x80 | ((c >> (6 * i)) & 0x3F));
}

// UTF-16 after its byte-order mark, as UTF-8; an unpaired surrogate becomes U+FFFD and an odd
// last byte is dropped.
std::string Utf16ToUtf8(const std::string &bytes, bool bigEndian) {
    auto unit = [&](size_t i) {
        const auto lo = static_cast<unsigned char>(bytes[i + (bigEndian ? 1 : 0)]);
        const auto hi = static_cast<unsigned char>(bytes[i + (bigEndian ? 0 : 1)]);
        return static_cast<uint32_t>(hi << 8 | lo);
    };
    std::string out;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
        uint32_t c = unit(i);
        const bool high = c >= 0xD800 && c < 0xDC00;
        if (high && i + 3 < bytes.size() && unit(i + 2) >= 0xDC00 && unit(i + 2) < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (unit(i + 2) - 0xDC00);
            i += 2;
        } else if (c >= 0xD800 && c < 0xE000) {
            c = 0xFFFD;
        }
        AppendUtf8(&out, c);
    }
    return out;
}

// The file as Wine's profile functions see it: UTF-16 with a byte-order mark in either order,
// UTF-8 with one (editors on Windows often add it), other bytes as they are.
std::string ProfileText(const std::string &bytes) {
    if (bytes.compare(0, 2, "\xFF\xFE") == 0) return Utf16ToUtf8(bytes, false);
    if (bytes.compare(0, 2, "\xFE\xFF") == 0) return Utf16ToUtf8(bytes, true);
    if (bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) return bytes.substr(3);
    return bytes;
}

// Value of key in section as GetPrivateProfileString returns it: trimmed,
// one pair of surrounding quotes removed. False when file, section or key
// is missing, or the file is not one the stand-in reads.
bool ReadProfileString(const char *section, const char *key, const char *fileName,
                       std::string *value) {
    std::string bytes;
    if (!ReadProfileBytes(fileName, &bytes)) return false;
    std::istringstream in(ProfileText(bytes));
    std::string line;
    bool inSection = false;
    while (std::getline(in, line)) {
        std::string t = Trim(line);
        if (t.empty() || t[0] == ';') continue;
        if (t[0] == '[') {
            size_t close = t.find(']');
            std::string name = Trim(t.substr(1, close == std::string::npos ? t.npos : close - 1));
            inSection = EqualNoCase(name, section);
            continue;
        }
        if (!inSection) continue;
        size_t eq = t.find('=');
        std::string name = Trim(eq == std::string::npos ? t : t.substr(0, eq));
        if (!EqualNoCase(name, key)) continue;
        std::string v = eq == std::string::npos ? std::string() : Trim(t.substr(eq + 1));
        if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
            v = v.substr(1, v.size() - 2);
        *value = v;
        return true;
    }
    return false;
}

// An event, shared by the table and each wait on it, so a close during a
// wait leaves the waiter a live object that is never set again.
struct Event {
    std::mutex lock;
    std::condition_variable changed;
    bool manualReset;
    bool signalled;
};

// The handle table lives as long as the process, never destroyed: a thread
// still running while the process exits (a wave player's hand-off thread,
// closing its events) would otherwise find it freed by the static
// destructors. Windows stops a process's other threads before anything of it
// goes away.
struct EventTable {
    std::mutex lock;
    std::map<uintptr_t, std::shared_ptr<Event>> events;
};

EventTable &Events() {
    static EventTable *const table = new EventTable;
    return *table;
}

std::shared_ptr<Event> FindEvent(HANDLE handle) {
    EventTable &table = Events();
    std::lock_guard<std::mutex> hold(table.lock);
    auto found = table.events.find(reinterpret_cast<uintptr_t>(handle));
    return found == table.events.end() ? nullptr : found->second;
}

}  // namespace

uintptr_t kplat::NewHandle() {
    static std::atomic<uintptr_t> next{0x1000};
    return next += 4;
}

extern "C" {

void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION cs) {
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(MutexOf(cs), &attr);
    pthread_mutexattr_destroy(&attr);
    cs->initialised = 1;
}

void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION cs) {
    if (!cs->initialised) return;
    pthread_mutex_destroy(MutexOf(cs));
    cs->initialised = 0;
}

void WINAPI EnterCriticalSection(LPCRITICAL_SECTION cs) { pthread_mutex_lock(MutexOf(cs)); }

void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION cs) { pthread_mutex_unlock(MutexOf(cs)); }

BOOL WINAPI TryEnterCriticalSection(LPCRITICAL_SECTION cs) {
    return pthread_mutex_trylock(MutexOf(cs)) == 0;
}

LONG WINAPI InterlockedIncrement(LONG volatile *value) {
    return __atomic_add_fetch(value, 1, __ATOMIC_SEQ_CST);
}

LONG WINAPI InterlockedDecrement(LONG volatile *value) {
    return __atomic_sub_fetch(value, 1, __ATOMIC_SEQ_CST);
}

LONG WINAPI InterlockedExchange(LONG volatile *target, LONG value) {
    return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}

LONG WINAPI InterlockedCompareExchange(LONG volatile *target, LONG exchange, LONG comparand) {
    __atomic_compare_exchange_n(target, &comparand, exchange, false, __ATOMIC_SEQ_CST,
                                __ATOMIC_SEQ_CST);
    return comparand;
}

void WINAPI Sleep(DWORD milliseconds) {
    if (milliseconds == 0) {
        std::this_thread::yield();
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

DWORD WINAPI GetTickCount(void) {
    using namespace std::chrono;
    return static_cast<DWORD>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// Ticks of 100 ns, as current Windows reports; CLOCK_MONOTONIC is what
// steady_clock reads too, so waits and counter readings agree.
BOOL WINAPI QueryPerformanceCounter(LARGE_INTEGER *count) {
    if (!count) return FALSE;
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    count->QuadPart = static_cast<LONGLONG>(now.tv_sec) * 10000000 + now.tv_nsec / 100;
    return TRUE;
}

BOOL WINAPI QueryPerformanceFrequency(LARGE_INTEGER *frequency) {
    if (!frequency) return FALSE;
    frequency->QuadPart = 10000000;
    return TRUE;
}

DWORD WINAPI GetCurrentThreadId(void) { return static_cast<DWORD>(syscall(SYS_gettid)); }

DWORD WINAPI GetCurrentProcessId(void) { return static_cast<DWORD>(getpid()); }

DWORD WINAPI GetLastError(void) { return lastError; }

void WINAPI SetLastError(DWORD error) { lastError = error; }

// Events are the only handles with state; any other handle closes as a no-op.
BOOL WINAPI CloseHandle(HANDLE handle) {
    if (!handle) return FALSE;
    EventTable &table = Events();
    std::lock_guard<std::mutex> hold(table.lock);
    if (table.events.erase(reinterpret_cast<uintptr_t>(handle)) != 0)
        kplat::CountObject(KPLAT_OBJ_EVENT, -1);
    return TRUE;
}

// Unnamed events only: the library shares none between processes.
HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES, BOOL manualReset, BOOL initialState,
                           LPCSTR name) {
    if (name || kplat::ShouldFail("CreateEventA")) {
        SetLastError(name ? 87 : 8);
        return nullptr;
    }
    auto event = std::make_shared<Event>();
    event->manualReset = manualReset != FALSE;
    event->signalled = initialState != FALSE;
    const uintptr_t handle = kplat::NewHandle();
    EventTable &table = Events();
    std::lock_guard<std::mutex> hold(table.lock);
    table.events.emplace(handle, std::move(event));
    kplat::CountObject(KPLAT_OBJ_EVENT, 1);
    return reinterpret_cast<HANDLE>(handle);
}

BOOL WINAPI SetEvent(HANDLE handle) {
    const std::shared_ptr<Event> event = FindEvent(handle);
    if (!event) {
        SetLastError(6);  // ERROR_INVALID_HANDLE
        return FALSE;
    }
    std::lock_guard<std::mutex> hold(event->lock);
    event->signalled = true;
    // A manual-reset event releases every waiter; an auto-reset one, one.
    if (event->manualReset)
        event->changed.notify_all();
    else
        event->changed.notify_one();
    return TRUE;
}

BOOL WINAPI ResetEvent(HANDLE handle) {
    const std::shared_ptr<Event> event = FindEvent(handle);
    if (!event) {
        SetLastError(6);
        return FALSE;
    }
    std::lock_guard<std::mutex> hold(event->lock);
    event->signalled = false;
    return TRUE;
}

// Events only. A satisfied wait on an auto-reset event resets it.
DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    const std::shared_ptr<Event> event = FindEvent(handle);
    if (!event) {
        SetLastError(6);
        return WAIT_FAILED;
    }
    std::unique_lock<std::mutex> hold(event->lock);
    const auto set = [&] { return event->signalled; };
    if (milliseconds == INFINITE)
        event->changed.wait(hold, set);
    else if (!event->changed.wait_for(hold, std::chrono::milliseconds(milliseconds), set))
        return WAIT_TIMEOUT;
    if (!event->manualReset) event->signalled = false;
    return WAIT_OBJECT_0;
}

// Threads start at once and detached; the handle is only something to close.
// The library asks for neither creation flags nor the thread's id.
HANDLE WINAPI CreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE start,
                           LPVOID parameter, DWORD flags, LPDWORD threadId) {
    if (!start || flags != 0 || threadId) {
        SetLastError(87);  // ERROR_INVALID_PARAMETER
        return nullptr;
    }
    if (kplat::ShouldFail("CreateThread")) {
        SetLastError(8);  // ERROR_NOT_ENOUGH_MEMORY
        return nullptr;
    }
    auto *job = new ThreadJob{start, parameter};
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    const int rc = pthread_create(&thread, &attr, RunThreadJob, job);
    pthread_attr_destroy(&attr);
    if (rc != 0) {
        delete job;
        SetLastError(8);
        return nullptr;
    }
    return reinterpret_cast<HANDLE>(kplat::NewHandle());
}

// Windows semantics: missing file, section, key or an empty value give the
// default; otherwise leading whitespace, an optional sign, then decimal
// digits up to the first other character, wrapping like a 32-bit ULONG.
UINT WINAPI GetPrivateProfileIntA(LPCSTR section, LPCSTR key, INT defaultValue, LPCSTR fileName) {
    std::string value;
    if (!section || !key || !fileName) return static_cast<UINT>(defaultValue);
    if (!ReadProfileString(section, key, fileName, &value) || value.empty())
        return static_cast<UINT>(defaultValue);
    const char *p = value.c_str();
    // Like the NT string-to-integer routine: every control character counts as blank.
    while (*p != '\0' && static_cast<unsigned char>(*p) <= ' ') ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    uint32_t result = 0;
    for (; *p >= '0' && *p <= '9'; ++p) result = result * 10u + static_cast<uint32_t>(*p - '0');
    return negative ? 0u - result : result;
}

// The value, or the default when file, section or key is missing, cut to
// size - 1 characters; the count copied, without the terminator.
DWORD WINAPI GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue,
                                      LPSTR returned, DWORD size, LPCSTR fileName) {
    if (!returned || size == 0) return 0;
    std::string value;
    if (!section || !key || !fileName || !ReadProfileString(section, key, fileName, &value))
        value = defaultValue ? defaultValue : "";
    const size_t n = std::min<size_t>(value.size(), size - 1);
    std::memcpy(returned, value.data(), n);
    returned[n] = '\0';
    return static_cast<DWORD>(n);
}

DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size) {
    if (module != nullptr || fileName == nullptr || size == 0) {
        SetLastError(87);  // ERROR_INVALID_PARAMETER
        return 0;
    }
    // readlink cuts without telling: a path that fills the buffer may be cut. Windows names
    // no path longer than 32767 characters.
    std::string path(32768, '\0');
    const ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
    if (n <= 0 || static_cast<size_t>(n) == path.size()) {
        SetLastError(206);  // ERROR_FILENAME_EXCED_RANGE
        return 0;
    }
    // Truncates like Windows: size - 1 characters and a terminator.
    DWORD len = static_cast<DWORD>(n);
    if (len >= size) {
        std::memcpy(fileName, path.data(), size - 1);
        fileName[size - 1] = '\0';
        SetLastError(122);  // ERROR_INSUFFICIENT_BUFFER
        return size;
    }
    std::memcpy(fileName, path.data(), len);
    fileName[len] = '\0';
    return len;
}

// Linux paths have no short forms: the long form is the path itself, as long
// as it exists.
DWORD WINAPI GetLongPathNameA(LPCSTR shortPath, LPSTR longPath, DWORD size) {
    if (!shortPath) return 0;
    if (access(shortPath, F_OK) != 0) {
        SetLastError(2);  // ERROR_FILE_NOT_FOUND
        return 0;
    }
    DWORD len = static_cast<DWORD>(std::strlen(shortPath));
    if (!longPath || len >= size) return len + 1;
    std::memmove(longPath, shortPath, len + 1);
    return len;
}

void WINAPI GetLocalTime(LPSYSTEMTIME time) {
    if (!time) return;
    struct timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    struct tm local;
    localtime_r(&ts.tv_sec, &local);
    time->wYear = static_cast<WORD>(local.tm_year + 1900);
    time->wMonth = static_cast<WORD>(local.tm_mon + 1);
    time->wDayOfWeek = static_cast<WORD>(local.tm_wday);
    time->wDay = static_cast<WORD>(local.tm_mday);
    time->wHour = static_cast<WORD>(local.tm_hour);
    time->wMinute = static_cast<WORD>(local.tm_min);
    time->wSecond = static_cast<WORD>(local.tm_sec);
    time->wMilliseconds = static_cast<WORD>(ts.tv_nsec / 1000000);
}

// The stand-in's system modules live inside this library; loading one hands
// out a fixed pseudo handle and GetProcAddress finds its exports here.
namespace {
struct PseudoModule {
    const char *name;
    const char *exports[4];
};
const PseudoModule kModules[] = {
    {"ddraw.dll", {"DirectDrawCreateEx", nullptr}},
};
constexpr uintptr_t kModuleBase = 0x4b500000;

bool IsPseudoModule(HMODULE module) {
    uintptr_t v = reinterpret_cast<uintptr_t>(module);
    return v >= kModuleBase && v < kModuleBase + sizeof(kModules) / sizeof(kModules[0]);
}
}  // namespace

HMODULE WINAPI LoadLibraryA(LPCSTR fileName) {
    if (!fileName) return nullptr;
    for (size_t i = 0; i < sizeof(kModules) / sizeof(kModules[0]); ++i) {
        if (strcasecmp(fileName, kModules[i].name) != 0) continue;
        if (kplat::ShouldFail("LoadLibraryA") || !kplat::ModuleAvailable(kModules[i].name)) {
            SetLastError(126);  // ERROR_MOD_NOT_FOUND
            return nullptr;
        }
        return reinterpret_cast<HMODULE>(kModuleBase + i);
    }
    SetLastError(126);
    return nullptr;
}

// A module already in the process, uncounted: the stand-in's "DLLs" are
// always there when available.
HMODULE WINAPI GetModuleHandleA(LPCSTR moduleName) {
    for (size_t i = 0; moduleName && i < sizeof(kModules) / sizeof(kModules[0]); ++i)
        if (strcasecmp(moduleName, kModules[i].name) == 0 &&
            kplat::ModuleAvailable(kModules[i].name))
            return reinterpret_cast<HMODULE>(kModuleBase + i);
    SetLastError(126);  // ERROR_MOD_NOT_FOUND
    return nullptr;
}

// Any other module is a base address from GetModuleHandleExA: a shared object
// gives back the count that took, the program itself was never counted.
BOOL WINAPI FreeLibrary(HMODULE module) {
    if (IsPseudoModule(module)) return TRUE;
    Dl_info info;
    if (!module || !dladdr(module, &info) || info.dli_fbase != module) return FALSE;
    void *loaded = dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD);
    if (!loaded) return TRUE;
    dlclose(loaded);  // this look-up's count
    return dlclose(loaded) == 0;
}

// By address only, as the library asks for its own module. The handle is the
// module's base address, as on Windows; a shared object is counted once more.
BOOL WINAPI GetModuleHandleExA(DWORD flags, LPCSTR moduleName, HMODULE *module) {
    Dl_info info;
    if (module) *module = nullptr;
    if (!module || flags != GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS || !dladdr(moduleName, &info)) {
        SetLastError(87);  // ERROR_INVALID_PARAMETER
        return FALSE;
    }
    dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD);  // finds no program, only shared objects
    *module = static_cast<HMODULE>(info.dli_fbase);
    return TRUE;
}

// Windows lets go of the module once the thread is off its code; here that is
// when pthread_exit has unwound the thread and runs its key destructors.
void WINAPI FreeLibraryAndExitThread(HMODULE module, DWORD exitCode) {
    static pthread_key_t moduleToFree = [] {
        pthread_key_t key;
        pthread_key_create(&key, [](void *m) { FreeLibrary(static_cast<HMODULE>(m)); });
        return key;
    }();
    pthread_setspecific(moduleToFree, module);
    pthread_exit(reinterpret_cast<void *>(static_cast<uintptr_t>(exitCode)));
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name) {
    if (!name || !IsPseudoModule(module)) return nullptr;
    uintptr_t v = reinterpret_cast<uintptr_t>(module);
    if (kplat::ShouldFail("GetProcAddress")) return nullptr;
    const PseudoModule &m = kModules[v - kModuleBase];
    for (const char *const *e = m.exports; *e; ++e) {
        if (std::strcmp(*e, name) != 0) continue;
        Dl_info info;
        if (!dladdr(reinterpret_cast<void *>(&GetProcAddress), &info)) return nullptr;
        void *self = dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD);
        if (!self) return nullptr;
        void *sym = dlsym(self, name);
        dlclose(self);
        return reinterpret_cast<FARPROC>(sym);
    }
    return nullptr;
}

}  // extern "C"
