// A display on a stand-in window whose DirectDraw adapter is set up for one
// surface mode, and readers of the adapter's call log.
#pragma once

#include <windows.h>
#include <kestra/platform_test.h>

#include <cstring>
#include <string>
#include <vector>

#include "display/draw_window.h"
#include "support/adapter_modes.h"
#include "support/gdi_test_support.h"

namespace kestra_test {

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

}  // namespace kestra_test
