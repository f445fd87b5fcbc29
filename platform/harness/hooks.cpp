// Test hooks the DLL folders call into: fault injection, live-object counts
// and the text hook.
#include "internal.h"

#include <algorithm>
#include <vector>

namespace kplat {

namespace {

std::atomic<int> liveCounts[KPLAT_OBJ_KIND_COUNT];

struct Failure {
    std::string function;
    DWORD format;
    int count;
    HRESULT result;
};
std::mutex failureMutex;
std::vector<Failure> failures;
std::atomic<bool> anyFailure{false};

std::mutex textHookMutex;
KplatTextHook textHook = nullptr;
void *textHookUser = nullptr;

}  // namespace

void CountObject(KplatObjectKind kind, int delta) { liveCounts[kind] += delta; }

std::optional<HRESULT> ShouldFail(const char *function, DWORD format) {
    if (!anyFailure.load(std::memory_order_relaxed)) return std::nullopt;
    std::lock_guard<std::mutex> guard(failureMutex);
    for (auto it = failures.begin(); it != failures.end(); ++it) {
        if (it->function != function || (it->format != 0 && it->format != format)) continue;
        HRESULT result = it->result;
        if (it->count > 0 && --it->count == 0) failures.erase(it);
        return result;
    }
    return std::nullopt;
}

void ClearFailures(bool (*which)(const std::string &function)) {
    std::lock_guard<std::mutex> guard(failureMutex);
    failures.erase(std::remove_if(failures.begin(), failures.end(),
                                  [which](const Failure &f) { return which(f.function); }),
                   failures.end());
}

void CallTextHook(const char *text, int count) {
    std::lock_guard<std::mutex> guard(textHookMutex);
    if (textHook) textHook(text, count, textHookUser);
}

}  // namespace kplat

using namespace kplat;

extern "C" {

int kplat_live_objects(KplatObjectKind kind) {
    if (kind < 0 || kind >= KPLAT_OBJ_KIND_COUNT) return -1;
    return liveCounts[kind].load();
}

void kplat_fail_call(const char *function, int count, HRESULT result, DWORD format) {
    if (!function || count == 0) return;
    std::lock_guard<std::mutex> guard(failureMutex);
    // A second order for the same call and format replaces the first.
    for (Failure &f : failures)
        if (f.function == function && f.format == format) {
            f.count = count;
            f.result = result;
            return;
        }
    failures.push_back(Failure{function, format, count, result});
    anyFailure = true;
}

void kplat_clear_failures(void) {
    std::lock_guard<std::mutex> guard(failureMutex);
    failures.clear();
    anyFailure = false;
}

void kplat_set_text_hook(KplatTextHook hook, void *user) {
    std::lock_guard<std::mutex> guard(textHookMutex);
    textHook = hook;
    textHookUser = user;
}

}  // extern "C"
