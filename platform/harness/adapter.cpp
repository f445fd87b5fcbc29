// Host controls of the DirectDraw adapter: capabilities, FOURCCs,
// lost surfaces and the call log.
#include "ddraw/ddraw_internal.h"

using namespace kplat;

extern "C" {

void kplat_ddraw_reset(void) {
    Guard guard(AdapterLock());
    // Live surfaces stay known, so they can still be marked lost.
    Adapter fresh;
    fresh.surfaces.swap(TheAdapter().surfaces);
    TheAdapter() = std::move(fresh);
    ClearFailures([](const std::string &function) {
        return function.find("DirectDraw") != std::string::npos;
    });
}

void kplat_ddraw_set_caps(DWORD caps) {
    Guard guard(AdapterLock());
    TheAdapter().caps = caps;
}

void kplat_ddraw_set_fourccs(const DWORD *codes, int count) {
    Guard guard(AdapterLock());
    TheAdapter().fourccs.assign(codes, codes + (codes && count > 0 ? count : 0));
}

void kplat_ddraw_set_available(BOOL available) {
    Guard guard(AdapterLock());
    TheAdapter().available = available != FALSE;
}

int kplat_ddraw_mark_lost(DWORD format) {
    Guard guard(AdapterLock());
    int marked = 0;
    for (Surface *s : TheAdapter().surfaces) {
        if (format != 0 && s->FormatKey() != format) continue;
        s->lost = true;
        ++marked;
    }
    return marked;
}

int kplat_ddraw_call_count(void) {
    Guard guard(AdapterLock());
    return static_cast<int>(TheAdapter().log.size());
}

BOOL kplat_ddraw_get_call(int index, KplatDdrawCall *call) {
    Guard guard(AdapterLock());
    if (!call || index < 0 || static_cast<size_t>(index) >= TheAdapter().log.size()) return FALSE;
    *call = TheAdapter().log[static_cast<size_t>(index)];
    return TRUE;
}

void kplat_ddraw_clear_log(void) {
    Guard guard(AdapterLock());
    TheAdapter().log.clear();
}

}  // extern "C"
