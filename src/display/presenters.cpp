// The presenters each renderer setting tries, in order: the first that can
// show frames in the window wins.
#include "display/presenter.h"

namespace kestra {

namespace {

constexpr MakePresenterFn kDirectDraw[] = {MakeSurfacePresenter, MakeGdiPresenter, nullptr};
constexpr MakePresenterFn kDirect3D11[] = {MakeD3D11Presenter, MakeSurfacePresenter,
                                           MakeGdiPresenter, nullptr};
constexpr MakePresenterFn kGdiOnly[] = {MakeGdiPresenter, nullptr};

const MakePresenterFn *PresentersFor(Renderer renderer) {
    switch (renderer) {
        case Renderer::Direct3D11:
            return kDirect3D11;
        case Renderer::Gdi:
            return kGdiOnly;
        case Renderer::DirectDraw:
            break;
    }
    return kDirectDraw;
}

}  // namespace

bool HiddenInChildWindow(HWND window, bool onWine) {
    if (!window || !(GetWindowLongA(window, GWL_STYLE) & WS_CHILD)) return false;
    return onWine;
}

bool OwnedByAnotherProcess(HWND window) {
    DWORD process = 0;
    return GetWindowThreadProcessId(window, &process) != 0 && process != GetCurrentProcessId();
}

std::unique_ptr<Presenter> MakePresenter(const PresenterSetUp &setUp, Renderer renderer) {
    for (const MakePresenterFn *make = PresentersFor(renderer); *make; ++make)
        if (std::unique_ptr<Presenter> presenter = (*make)(setUp)) return presenter;
    return nullptr;
}

}  // namespace kestra
