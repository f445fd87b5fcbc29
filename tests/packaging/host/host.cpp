// Opens a display and a wave player, draws one frame and converts one with
// the exported converter; prints OK when all of it worked.
#include <windows.h>
#include <mmsystem.h>
#include <kestra/kestra.h>
#include <kestra/platform.h>

#include <cstdio>
#include <vector>

namespace {

int Fail(const char *what, int result) {
    std::printf("FAILED: %s (%d)\n", what, result);
    return 1;
}

}  // namespace

int main() {
    const int width = 64, height = 48;
    std::vector<uint8_t> y(width * height, 180), u(width * height / 4, 128),
        v(width * height / 4, 128);

    HWND window = kplat_create_window("host", 0, 0, width, height, 1);
    KestraDisplay display = nullptr;
    int r = KESTRA_DWOpenDraw(&display);
    if (r != 0 || !window) return Fail("opening a display", r);
    KESTRA_DWSetHwnd(display, window);
    KESTRA_DWInitDraw(display, width, height);
    r = KESTRA_DWDrawYUV420(display, y.data(), width, u.data(), v.data(), width / 2, 0, 0, 0);
    if (r != 0) return Fail("drawing a frame", r);
    KESTRA_DWCloseDraw(display);
    kplat_destroy_window(window);

    KestraWave wave = nullptr;
    r = KESTRA_WVOpenWave(&wave);
    if (r != 0) return Fail("opening a wave player", r);
    WAVEFORMATEX format = {};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 1;
    format.nSamplesPerSec = 8000;
    format.wBitsPerSample = 8;
    format.nBlockAlign = 1;
    format.nAvgBytesPerSec = 8000;
    KESTRA_WVSetWaveFormat(wave, &format, 800);
    KESTRA_WVCloseWave(wave);

    std::vector<uint8_t> rgb(width * height * 3, 0);
    r = KESTRA_yv12_to_rgb24_c(rgb.data(), width, y.data(), u.data(), v.data(), width, width / 2,
                               width, height);
    // Grey in, grey out: Y 180 is (16 + 164) * 255 / 219 = 191.
    if (r != 0 || rgb[0] != rgb[1] || rgb[1] != rgb[2] || rgb[0] < 185 || rgb[0] > 195)
        return Fail("converting a frame", rgb[0]);
    std::printf("OK\n");
    return 0;
}
