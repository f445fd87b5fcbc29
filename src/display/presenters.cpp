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

// Asked at every set-up; the answer cannot change while the process runs.
bool RunningOnWine() {
    static const bool wine = [] {
        HMODULE ntdll = LoadLibraryA("ntdll.dll");
        if (!ntdll) return false;
        const bool found = GetProcAddress(ntdll, "wine_get_version") != nullptr;
        FreeLibrary(ntdll);
        return found;
    }();
    return wine;
}

bool HiddenInChildWindowOnWine(HWND window) {
    if (!window || !(GetWindowLongA(window, GWL_STYLE) & WS_CHILD)) return false;
    return RunningOnWine();
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
