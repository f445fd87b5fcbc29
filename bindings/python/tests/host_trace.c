/* examples/host.c as the bindings' tests see it: the audio on the stand-in's
 * manual device, stepped once a frame where the host sleeps, and the window
 * read back at the same moment. Writes DIR/frames.xrgb (every frame's client
 * pixels) and DIR/played.pcm (every byte the device played). */
#include <windows.h>
#include <kestra/platform_test.h>
#include <stdio.h>
#include <stdlib.h>

static HWND traced;
static FILE *frames;

static HWND TraceWindow(const char *title, int x, int y, int width, int height, int border) {
    traced = kplat_create_window(title, x, y, width, height, border);
    return traced;
}

static void TraceSleep(DWORD milliseconds) {
    int width = 0, height = 0;
    (void)milliseconds;
    kplat_get_client_size(traced, &width, &height);
    uint32_t *pixels = (uint32_t *)calloc((size_t)width * (size_t)height, sizeof *pixels);
    if (pixels && kplat_read_window_pixels(traced, pixels, width))
        fwrite(pixels, sizeof *pixels, (size_t)width * (size_t)height, frames);
    free(pixels);
    kplat_audio_manual_step(NULL, NULL, 0);
}

#define kplat_create_window TraceWindow
#define Sleep TraceSleep
#define main ExampleMain
#include "host.c"
#undef main

static FILE *Create(const char *dir, const char *name) {
    char path[4096];
    snprintf(path, sizeof path, "%s/%s", dir, name);
    return fopen(path, "wb");
}

int main(int argc, char **argv) {
    if (argc != 2 || !(frames = Create(argv[1], "frames.xrgb"))) return 2;
    if (!kplat_audio_set_sink("manual")) return 2;
    const int result = ExampleMain();
    const size_t played = kplat_audio_played(NULL, 0);
    void *sound = malloc(played ? played : 1);
    FILE *file = Create(argv[1], "played.pcm");
    const int written = sound && file && kplat_audio_played(sound, played) == played &&
                        fwrite(sound, 1, played, file) == played && fclose(file) == 0;
    free(sound);
    return fclose(frames) == 0 && written ? result : 2;
}
