// What the display fixtures share: leading the stand-in adapter to a render
// mode, and comparing the colours a mode shows.
#pragma once

#include <windows.h>
#include <ddraw.h>
#include <kestra/platform_test.h>

#include <cstdint>

#include "display/draw_window.h"

namespace kestra_test {

// Sets the stand-in adapter so the next set-up reaches `mode`; GDI by taking
// ddraw.dll away.
inline void ConfigureAdapter(int mode) {
    kplat_ddraw_reset();
    kplat_clear_failures();
    const DWORD uyvyOnly[] = {MAKEFOURCC('U', 'Y', 'V', 'Y')};
    if (mode == kestra::ModeUYVYSurface) kplat_ddraw_set_fourccs(uyvyOnly, 1);
    if (mode == kestra::ModeRGB565Surface) kplat_ddraw_set_caps(DDCAPS_BLT);
    if (mode == kestra::ModeGdi) kplat_fail_call("LoadLibraryA", -1, 0, 0);
}

inline void RestoreAdapter() {
    kplat_ddraw_reset();
    kplat_clear_failures();
}

// Each 8-bit channel of two 0x00RRGGBB colours within `tolerance`.
inline bool Near(uint32_t a, uint32_t b, int tolerance) {
    for (int shift = 0; shift < 24; shift += 8) {
        int d = int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF);
        if (d > tolerance || d < -tolerance) return false;
    }
    return true;
}

}  // namespace kestra_test
