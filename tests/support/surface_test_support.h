// A display on a stand-in window whose DirectDraw adapter is set up for one
// surface mode, and readers of the adapter's call log.
#pragma once

#include <windows.h>
#include <kestra/platform.h>

#include <cstring>
#include <string>
#include <vector>

#include "display/draw_window.h"
#include "support/gdi_test_support.h"

namespace kestra_test {

// Adapter settings that lead set-up to each surface mode.
inline void ConfigureAdapterFor(int mode) {
    kplat_ddraw_reset();
    kplat_clear_failures();
    const DWORD uyvyOnly[] = {MAKEFOURCC('U', 'Y', 'V', 'Y')};
    if (mode == kestra::ModeUYVYSurface) kplat_ddraw_set_fourccs(uyvyOnly, 1);
    if (mode == kestra::ModeRGB565Surface) kplat_ddraw_set_caps(DDCAPS_BLT);
}

inline std::vector<KplatDdrawCall> DdrawCalls(const char *method = nullptr) {
    std::vector<KplatDdrawCall> calls;
    for (int i = 0, n = kplat_ddraw_call_count(); i < n; ++i) {
        KplatDdrawCall c;
        if (kplat_ddraw_get_call(i, &c) && (!method || std::strcmp(c.method, method) == 0))
            calls.push_back(c);
    }
    return calls;
}

inline int LiveDdrawObjects() {
    return kplat_live_objects(KPLAT_OBJ_DDRAW) + kplat_live_objects(KPLAT_OBJ_SURFACE) +
           kplat_live_objects(KPLAT_OBJ_CLIPPER);
}

inline bool Near(uint32_t a, uint32_t b, int tolerance) {
    for (int shift = 0; shift < 24; shift += 8) {
        int d = int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF);
        if (d > tolerance || d < -tolerance) return false;
    }
    return true;
}

}  // namespace kestra_test
