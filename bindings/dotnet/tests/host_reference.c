/* examples/host.c as it is, on the manual sink, recording what it shows and
 * plays: after each draw, a hash of the window's pixels and one buffer
 * stepped through the sink. The C# suite runs its own host the same way and
 * compares. */
#include <windows.h>
#include <kestra/kestra.h>
#include <kestra/platform_test.h>
#include <stdint.h>
#include <stdio.h>

static FILE *frames, *sound;
static HWND shownIn;

static HWND ReferenceWindow(const char *title, int x, int y, int width, int height, int border) {
    shownIn = kplat_create_window(title, x, y, width, height, border);
    return shownIn;
}

static KestraResult ReferenceDraw(KestraDisplay display, const uint8_t *y, int32_t yStride,
                                  const uint8_t *u, const uint8_t *v, int32_t uvStride,
                                  int32_t value6, int32_t value7, int32_t value8) {
    static uint32_t pixels[320 * 240];
    static uint8_t played[1 << 16];
    KestraResult result =
        KESTRA_DWDrawYUV420(display, y, yStride, u, v, uvStride, value6, value7, value8);
    uint64_t hash = 14695981039346656037ull;
    kplat_read_window_pixels(shownIn, pixels, 320);
    for (size_t i = 0; i < sizeof pixels / sizeof pixels[0]; ++i)
        hash = (hash ^ pixels[i]) * 1099511628211ull;
    fprintf(frames, "%d %016llx\n", (int)result, (unsigned long long)hash);
    int n = kplat_audio_manual_step(NULL, played, (int)sizeof played);
    if (n > 0) fwrite(played, 1, (size_t)n, sound);
    return result;
}

#define kplat_create_window ReferenceWindow
#define KESTRA_DWDrawYUV420 ReferenceDraw
#define main ExampleMain
#include "../../../examples/host.c"
#undef main

int main(int argc, char **argv) {
    if (argc != 3) return 2;
    frames = fopen(argv[1], "w");
    sound = fopen(argv[2], "wb");
    if (!frames || !sound || !kplat_audio_set_sink("manual")) return 2;
    int result = ExampleMain();
    fclose(frames);
    fclose(sound);
    return result;
}
