// IDirectDrawClipper: binds a window to the primary surface, so blits to the
// primary land in that window's client area.
#include "ddraw/ddraw_internal.h"

namespace kplat {

Clipper::Clipper(DirectDraw *parent) : owner(parent) {
    owner->AddRef();
    CountObject(KPLAT_OBJ_CLIPPER, 1);
}

Clipper::~Clipper() {
    CountObject(KPLAT_OBJ_CLIPPER, -1);
    owner->Release();
}

HRESULT Clipper::GetHWnd(HWND *windowOut) {
    if (!windowOut) return DDERR_INVALIDPARAMS;
    *windowOut = window;
    return DD_OK;
}

HRESULT Clipper::SetHWnd(DWORD flags, HWND target) {
    Call call("IDirectDrawClipper::SetHWnd", this, 0);
    call.flags = flags;
    call.window = target;
    if (flags != 0 || (target && !IsWindow(target))) return FinishCall(call, DDERR_INVALIDPARAMS);
    if (std::optional<HRESULT> hr = Injected(call)) return FinishCall(call, *hr);
    window = target;
    return FinishCall(call, DD_OK);
}

}  // namespace kplat
