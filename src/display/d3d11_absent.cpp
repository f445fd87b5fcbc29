// Builds without Direct3D 11 (the Linux stand-in has none): the renderer
// setting "d3d11" falls through to the DirectDraw presenters.
#include "display/presenter.h"

namespace kestra {

std::unique_ptr<Presenter> MakeD3D11Presenter(const PresenterSetUp &) { return nullptr; }

}  // namespace kestra
