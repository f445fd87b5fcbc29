/* A minimal libkestra host: a window, 50 frames of a moving gradient and
 * a 440 Hz tone. On Linux the window comes from the stand-in platform. */
#include <windows.h>
#include <mmsystem.h>
#include <kestra/kestra.h>
#ifndef _WIN32
#include <kestra/platform.h>
#endif
#include <math.h>
#include <stdio.h>

enum { W = 320, H = 240, RATE = 44100 };
static unsigned char y[W * H], u[W * H / 4], v[W * H / 4];
static volatile LONG buffers; /* refills so far, counted on the audio thread */

static int32_t KESTRA_CALLBACK Tone(uint8_t *buffer, uint32_t size, void *user) {
    int16_t *out = (int16_t *)buffer;
    double *phase = (double *)user;
    for (uint32_t i = 0; i < size / 2; ++i, *phase += 440.0 / RATE)
        out[i] = (int16_t)(8000.0 * sin(6.283185307 * *phase));
    InterlockedIncrement(&buffers);
    return (int32_t)(size & ~1u);
}

static HWND OpenWindow(void) {
#ifdef _WIN32
    WNDCLASSA wc = {0};
    wc.lpfnWndProc = DefWindowProcA;
    wc.lpszClassName = "KestraExample";
    RegisterClassA(&wc);
    HWND w = CreateWindowExA(0, wc.lpszClassName, "kestra example", WS_POPUP | WS_VISIBLE, 50, 50,
                             W, H, NULL, NULL, NULL, NULL);
    return w;
#else
    return kplat_create_window("kestra example", 50, 50, W, H, 0);
#endif
}

int main(void) {
    HWND window = OpenWindow();
    KestraDisplay display = NULL;
    KestraWave wave = NULL;
    double phase = 0;
    WAVEFORMATEX format = {WAVE_FORMAT_PCM, 1, RATE, RATE * 2, 2, 16, 0};
    int shown = 0;
    if (!window || KESTRA_DWOpenDraw(&display) != 0 || KESTRA_WVOpenWave(&wave) != 0) return 1;
    KESTRA_DWSetHwnd(display, window);
    KESTRA_DWInitDraw(display, W, H);
    KESTRA_WVSetWaveFormat(wave, &format, RATE / 10 * 2);
    KESTRA_WVSetWriteWaveCB(wave, &phase, Tone);
    KESTRA_WVPlayWave(wave);
    for (int f = 0; f < 50; ++f) {
        for (int i = 0; i < W * H; ++i) y[i] = (unsigned char)(16 + (i % W + 4 * f) % 220);
        for (int i = 0; i < W * H / 4; ++i) u[i] = 128, v[i] = (unsigned char)(100 + f);
        if (KESTRA_DWDrawYUV420(display, y, W, u, v, W / 2, 0, 0, 0) == 0) ++shown;
        Sleep(20);
    }
    KESTRA_WVStopWave(wave);
    KESTRA_WVCloseWave(wave);
    KESTRA_DWCloseDraw(display);
    printf("shown %d frames, %ld sound buffers\n", shown, (long)buffers);
    return shown == 50 && buffers > 0 ? 0 : 1;
}
