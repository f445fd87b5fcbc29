// The stand-in adapter from a test's side: leading it to a render mode,
// reading what displays asked of it (call log, live objects), and comparing
// the colours a mode shows.
#pragma once

#include <windows.h>
#include <ddraw.h>
#include <kestra/platform_test.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace kestra_test {

// The render modes a display settles on, as told by what it asked of the adapter.
enum RenderMode : int { ModeYV12Surface, ModeUYVYSurface, ModeRGB565Surface, ModeGdi };

constexpr int kAllModes[] = {ModeGdi, ModeYV12Surface, ModeUYVYSurface, ModeRGB565Surface};

inline const char *ModeName(int mode) {
    switch (mode) {
        case ModeYV12Surface:
            return "YV12";
        case ModeUYVYSurface:
            return "UYVY";
        case ModeRGB565Surface:
            return "RGB565";
        default:
            return "GDI";
    }
}

// Format keys of the surfaces: each mode's frame surface, and the aux surface
// in the primary's 32-bit format.
constexpr DWORD kYv12 = MAKEFOURCC('Y', 'V', '1', '2');
constexpr DWORD kUyvy = MAKEFOURCC('U', 'Y', 'V', 'Y');
constexpr DWORD kRgb565 = 16;
constexpr DWORD kAux = 32;

inline DWORD FrameFormat(int mode) {
    return mode == ModeYV12Surface ? kYv12 : mode == ModeUYVYSurface ? kUyvy : kRgb565;
}

// Sets the stand-in adapter so the next set-up reaches `mode`; GDI by taking
// ddraw.dll away.
inline void ConfigureAdapter(int mode) {
    kplat_ddraw_reset();
    kplat_clear_failures();
    const DWORD uyvyOnly[] = {kUyvy};
    if (mode == ModeUYVYSurface) kplat_ddraw_set_fourccs(uyvyOnly, 1);
    if (mode == ModeRGB565Surface) kplat_ddraw_set_caps(DDCAPS_BLT);
    if (mode == ModeGdi) kplat_fail_call("LoadLibraryA", -1, 0, 0);
}

inline void RestoreAdapter() {
    kplat_ddraw_reset();
    kplat_clear_failures();
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

// Everything a display may hold: fonts and audio devices are none of its.
inline int LiveObjects() {
    int total = 0;
    for (int kind = 0; kind < KPLAT_OBJ_KIND_COUNT; ++kind)
        if (kind != KPLAT_OBJ_FONT && kind != KPLAT_OBJ_WAVEOUT)
            total += kplat_live_objects(static_cast<KplatObjectKind>(kind));
    return total;
}

// The format key of `surface` in the latest logged call made on it or
// creating it (an address may come back for a later surface).
inline DWORD FormatKeyOf(const void *surface) {
    const std::vector<KplatDdrawCall> calls = DdrawCalls();
    for (auto c = calls.rbegin(); c != calls.rend(); ++c)
        if (c->object == surface ||
            (c->other == surface && std::strcmp(c->method, "IDirectDraw7::CreateSurface") == 0))
            return c->format;
    return 0;
}

// The last blit onto the primary surface: what a surface mode showed last.
inline KplatDdrawCall LastBlitToScreen() {
    KplatDdrawCall shown{};
    for (const KplatDdrawCall &c : DdrawCalls("IDirectDrawSurface7::Blt"))
        if (c.format == KPLAT_DDRAW_PRIMARY) shown = c;
    return shown;
}

// The format key of the surface shown last: the frame surface's, or kAux.
inline DWORD ShownFormat() { return FormatKeyOf(LastBlitToScreen().other); }

// The render mode the last set-up settled on, told by what it asked of the
// adapter: the frame surface made on the last DirectDraw object still held,
// else GDI. An object let go leaves its cooperative level: a second
// SetCooperativeLevel call. Needs the log from that set-up on.
inline int ModeFromLog() {
    const void *ddraw = nullptr;
    int levels = 0;
    int mode = ModeGdi;
    for (const KplatDdrawCall &c : DdrawCalls()) {
        const bool created = c.result == DD_OK;
        if (std::strcmp(c.method, "DirectDrawCreateEx") == 0 && created) {
            ddraw = c.other;
            levels = 0;
            mode = ModeGdi;
        } else if (!ddraw || c.object != ddraw) {
            continue;
        } else if (std::strcmp(c.method, "IDirectDraw7::SetCooperativeLevel") == 0) {
            ++levels;
        } else if (std::strcmp(c.method, "IDirectDraw7::CreateSurface") == 0 && created) {
            for (int m : kAllModes)
                if (m != ModeGdi && c.format == FrameFormat(m)) mode = m;
        }
    }
    return levels == 1 ? mode : ModeGdi;
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
