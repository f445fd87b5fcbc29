// On-screen presentation: each shown stand-in window gets an SDL2 window of
// its client size, repainted from the client pixels by kplat_pump_events on
// the host's main thread (SDL video is not safe from drawing threads).
#include "internal.h"

#include <SDL.h>

#include <chrono>
#include <cstdlib>
#include <map>

namespace kplat {

namespace {

struct Shown {
    SDL_Window *sdl = nullptr;
    uint64_t paintedGeneration = 0;
    std::chrono::steady_clock::time_point paintedAt;
};

// Bumped by every drawing thread; read by the pump.
std::atomic<uint64_t> changeGeneration{1};

// Touched only from the host's main thread.
std::map<HWND, Shown> &ShownWindows() {
    static std::map<HWND, Shown> *shown = new std::map<HWND, Shown>;
    return *shown;
}
bool closeRequested = false;

// Surface blits to the desktop do not always report which window they hit,
// so a shown window is repainted at least this often.
constexpr auto kRepaintInterval = std::chrono::milliseconds(100);

bool DisplayAvailable() {
    return std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY") ||
           std::getenv("SDL_VIDEODRIVER");
}

void CloseShown(Shown &shown) {
    SDL_DestroyWindow(shown.sdl);
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
}

// Copies the client pixels into the SDL window's surface; false once the
// stand-in window is gone.
bool Repaint(HWND window, Shown &shown) {
    int width = 0, height = 0;
    if (!kplat_get_client_size(window, &width, &height)) return false;
    int sdlWidth = 0, sdlHeight = 0;
    SDL_GetWindowSize(shown.sdl, &sdlWidth, &sdlHeight);
    if (sdlWidth != width || sdlHeight != height) SDL_SetWindowSize(shown.sdl, width, height);
    SDL_Surface *surface = SDL_GetWindowSurface(shown.sdl);
    if (!surface) return true;
    std::vector<uint32_t> pixels(static_cast<size_t>(width) * height);
    if (!kplat_read_window_pixels(window, pixels.data(), width)) return false;
    int w = surface->w < width ? surface->w : width;
    int h = surface->h < height ? surface->h : height;
    if (SDL_MUSTLOCK(surface) && SDL_LockSurface(surface) != 0) return true;
    SDL_ConvertPixels(w, h, SDL_PIXELFORMAT_RGB888, pixels.data(), width * 4,
                      surface->format->format, surface->pixels, surface->pitch);
    if (SDL_MUSTLOCK(surface)) SDL_UnlockSurface(surface);
    SDL_UpdateWindowSurface(shown.sdl);
    return true;
}

void HandleEvent(const SDL_Event &event) {
    switch (event.type) {
        case SDL_QUIT:
            closeRequested = true;
            break;
        case SDL_KEYDOWN:
            if (event.key.keysym.sym == SDLK_ESCAPE) closeRequested = true;
            break;
        case SDL_WINDOWEVENT:
            if (event.window.event == SDL_WINDOWEVENT_CLOSE) closeRequested = true;
            if (event.window.event == SDL_WINDOWEVENT_EXPOSED)
                for (auto &entry : ShownWindows()) entry.second.paintedGeneration = 0;
            break;
        default:
            break;
    }
}

}  // namespace

void NotifyWindowChanged(HWND window) {
    changeGeneration.fetch_add(1, std::memory_order_relaxed);
    if (SyncLogging()) StampPicture(window);
}

}  // namespace kplat

using namespace kplat;

extern "C" {

BOOL kplat_show_window(HWND window) {
    if (ShownWindows().count(window)) return TRUE;
    std::string title;
    int width = 0, height = 0;
    if (!WithWindow(window, [&](Window &w) {
            title = w.title;
            width = w.Width();
            height = w.Height();
        }))
        return FALSE;
    if (!DisplayAvailable() || SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return FALSE;
    SDL_Window *sdl = SDL_CreateWindow(title.c_str(), SDL_WINDOWPOS_CENTERED,
                                       SDL_WINDOWPOS_CENTERED, width, height, SDL_WINDOW_SHOWN);
    if (!sdl) {
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        return FALSE;
    }
    ShownWindows()[window] = Shown{sdl, 0, {}};
    closeRequested = false;
    return TRUE;
}

BOOL kplat_hide_window(HWND window) {
    auto it = ShownWindows().find(window);
    if (it == ShownWindows().end()) return FALSE;
    CloseShown(it->second);
    ShownWindows().erase(it);
    return TRUE;
}

BOOL kplat_pump_events(void) {
    if (ShownWindows().empty()) return closeRequested ? FALSE : TRUE;
    SDL_Event event;
    while (SDL_PollEvent(&event)) HandleEvent(event);
    const uint64_t generation = changeGeneration.load(std::memory_order_relaxed);
    const auto now = std::chrono::steady_clock::now();
    for (auto it = ShownWindows().begin(); it != ShownWindows().end();) {
        Shown &shown = it->second;
        bool live = true;
        if (shown.paintedGeneration != generation || now - shown.paintedAt >= kRepaintInterval) {
            live = Repaint(it->first, shown);
            shown.paintedGeneration = generation;
            shown.paintedAt = now;
        }
        if (live) {
            ++it;
            continue;
        }
        CloseShown(shown);
        it = ShownWindows().erase(it);
    }
    return closeRequested ? FALSE : TRUE;
}

}  // extern "C"
