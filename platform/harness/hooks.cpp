// Test hooks the DLL folders call into: fault injection, live-object counts
// and the text hook.
#include "internal.h"

#include <map>

namespace kplat {

namespace {

std::atomic<int> liveCounts[KPLAT_OBJ_KIND_COUNT];

struct Failure {
    int count;
    HRESULT result;
};
std::mutex failureMutex;
std::map<std::string, Failure> failures;
std::atomic<bool> anyFailure{false};

std::mutex textHookMutex;
KplatTextHook textHook = nullptr;
void *textHookUser = nullptr;

}  // namespace

void CountObject(KplatObjectKind kind, int delta) { liveCounts[kind] += delta; }

std::optional<HRESULT> ShouldFail(const char *function) {
    if (!anyFailure.load(std::memory_order_relaxed)) return std::nullopt;
    std::lock_guard<std::mutex> guard(failureMutex);
    auto it = failures.find(function);
    if (it == failures.end() || it->second.count == 0) return std::nullopt;
    HRESULT result = it->second.result;
    if (it->second.count > 0 && --it->second.count == 0) failures.erase(it);
    return result;
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

void kplat_fail_call(const char *function, int count, HRESULT result) {
    if (!function || count == 0) return;
    std::lock_guard<std::mutex> guard(failureMutex);
    failures[function] = Failure{count, result};
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
