// The Direct3D 11 presenter: what a host sees is what the surface modes show
// (crop, mirror and OSD in frame pixels, no display callback), drawn by the
// GPU in full 8-bit colour with the converters' own arithmetic.
#include "display/d3d11_output.h"
#include "display/presenter.h"

#include <new>

namespace kestra {

namespace {

struct OsdOnFrame {
    const OsdPainter &osd;
    int32_t frameHeight;
};

void PaintOsd(HDC dc, void *context) {
    const OsdOnFrame *on = static_cast<const OsdOnFrame *>(context);
    on->osd.Paint(dc, on->frameHeight);
}

class D3D11Presenter : public Presenter {
public:
    D3D11Presenter(std::unique_ptr<D3D11Output> made, int32_t height)
        : frameHeight(height), output(std::move(made)) {}

    Presented Present(const FrameContext &context) override {
        // Released by KESTRA_DWFreeDraw, like the surfaces of the DirectDraw modes.
        if (!output) return Presented::Released;
        OsdOnFrame on{context.osd, frameHeight};
        const D3D11Shown shown =
            output->Show(context.frame, &context.source, context.mirrored, context.colour,
                         context.osd.HasText() ? PaintOsd : nullptr, &on);
        // Hidden is a minimised window: nothing to show, and nothing wrong, as
        // for a surface blit into a client area of no size.
        return shown == D3D11Shown::Failed ? Presented::SetUpAgain : Presented::Shown;
    }
    void Release() override { output.reset(); }
    bool MoveTo(HWND window) override { return output && output->MoveTo(window); }

private:
    const int32_t frameHeight;
    std::unique_ptr<D3D11Output> output;
};

}  // namespace

std::unique_ptr<Presenter> MakeD3D11Presenter(const PresenterSetUp &setUp) {
    std::unique_ptr<D3D11Output> output =
        D3D11Output::Create(setUp.window, setUp.width, setUp.height);
    if (!output) return nullptr;
    return std::unique_ptr<Presenter>(new (std::nothrow)
                                          D3D11Presenter(std::move(output), setUp.height));
}

}  // namespace kestra
