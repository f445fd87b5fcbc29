/* examples/host.c as the bindings' tests see it: the audio on the stand-in's
 * manual device, stepped once a frame where the host sleeps, and the window
 * read back at the same moment. Writes DIR/frames.xrgb (every frame's client
 * pixels) and DIR/played.pcm (every byte the device played). */
#include <windows.h>
#include <kestra/platform_test.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

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

static int WriteFile_(const char *dir, const char *name, const void *bytes, size_t size) {
    char path[4096];
    snprintf(path, sizeof path, "%s/%s", dir, name);
    FILE *file = fopen(path, "wb");
    if (!file) return 0;
    const int ok = fwrite(bytes, 1, size, file) == size;
    return fclose(file) == 0 && ok;
}

int main(int argc, char **argv) {
    char path[4096];
    if (argc != 2) return 2;
    snprintf(path, sizeof path, "%s/frames.xrgb", argv[1]);
    if (!(frames = fopen(path, "wb")) || !kplat_audio_set_sink("manual")) return 2;
    const int result = ExampleMain();
    const size_t played = kplat_audio_played(NULL, 0);
    void *sound = malloc(played ? played : 1);
    kplat_audio_played(sound, played);
    const int written = WriteFile_(argv[1], "played.pcm", sound, played) && fclose(frames) == 0;
    free(sound);
    return written ? result : 2;
}
