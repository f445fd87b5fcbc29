// Stand-in windows shown on screen through SDL2, driven by its offscreen
// "dummy" video driver so no display is needed.
#include <gtest/gtest.h>

#include <SDL.h>
#include <kestra/platform_test.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Sets or clears an environment variable for one test, then restores it.
class ScopedEnv {
public:
    ScopedEnv(const char *name, const char *value) : name_(name) {
        const char *old = std::getenv(name);
        hadOld_ = old != nullptr;
        if (hadOld_) old_ = old;
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv() {
        if (hadOld_)
            setenv(name_, old_.c_str(), 1);
        else
            unsetenv(name_);
    }

private:
    const char *name_;
    bool hadOld_ = false;
    std::string old_;
};

SDL_Window *FindSdlWindow(const char *title) {
    for (Uint32 id = 1; id < 256; ++id) {
        SDL_Window *w = SDL_GetWindowFromID(id);
        if (w && std::string(SDL_GetWindowTitle(w)) == title) return w;
    }
    return nullptr;
}

// 0x00RRGGBB of the SDL window's pixel, or ~0u when there is no surface.
uint32_t ScreenPixel(SDL_Window *window, int x, int y) {
    SDL_Surface *s = SDL_GetWindowSurface(window);
    if (!s || x >= s->w || y >= s->h) return ~0u;
    const uint8_t *row = static_cast<const uint8_t *>(s->pixels) + y * s->pitch;
    uint32_t raw = 0;
    std::memcpy(&raw, row + x * s->format->BytesPerPixel, s->format->BytesPerPixel);
    Uint8 r, g, b;
    SDL_GetRGB(raw, s->format, &r, &g, &b);
    return (uint32_t(r) << 16) | (uint32_t(g) << 8) | b;
}

class OnScreen : public ::testing::Test {
protected:
    ScopedEnv driver_{"SDL_VIDEODRIVER", "dummy"};
    HWND window_ = kplat_create_window("on-screen test", 0, 0, 32, 24, 1);
    void TearDown() override {
        kplat_hide_window(window_);
        kplat_destroy_window(window_);
    }
};

TEST_F(OnScreen, RepaintsFromTheClientPixelsAndFollowsItsSize) {
    ASSERT_TRUE(kplat_show_window(window_));
    SDL_Window *sdl = FindSdlWindow("on-screen test");
    ASSERT_NE(sdl, nullptr);
    kplat_fill_window(window_, 0x00336699);
    ASSERT_TRUE(kplat_pump_events());
    EXPECT_EQ(ScreenPixel(sdl, 0, 0), 0x00336699u);
    EXPECT_EQ(ScreenPixel(sdl, 31, 23), 0x00336699u);

    ASSERT_TRUE(kplat_resize_window(window_, 48, 20));
    kplat_fill_window(window_, 0x00FF0000);
    ASSERT_TRUE(kplat_pump_events());
    int w = 0, h = 0;
    SDL_GetWindowSize(sdl, &w, &h);
    EXPECT_EQ(w, 48);
    EXPECT_EQ(h, 20);
    EXPECT_EQ(ScreenPixel(sdl, 47, 19), 0x00FF0000u);
}

struct CloseEvent {
    const char *name;
    SDL_Event event;
};

SDL_Event Event(Uint32 type) {
    SDL_Event e{};
    e.type = type;
    return e;
}
SDL_Event Escape() {
    SDL_Event e = Event(SDL_KEYDOWN);
    e.key.keysym.sym = SDLK_ESCAPE;
    return e;
}
SDL_Event CloseBox() {
    SDL_Event e = Event(SDL_WINDOWEVENT);
    e.window.event = SDL_WINDOWEVENT_CLOSE;
    return e;
}

class OnScreenClose : public OnScreen, public ::testing::WithParamInterface<CloseEvent> {};

TEST_P(OnScreenClose, EndsPlaybackUntilShownAgain) {
    ASSERT_TRUE(kplat_show_window(window_));
    ASSERT_TRUE(kplat_pump_events());
    SDL_Event event = GetParam().event;
    event.window.windowID = SDL_GetWindowID(FindSdlWindow("on-screen test"));
    ASSERT_EQ(SDL_PushEvent(&event), 1);
    EXPECT_FALSE(kplat_pump_events());
    EXPECT_FALSE(kplat_pump_events()) << "a close request stays until the window is shown again";
    ASSERT_TRUE(kplat_hide_window(window_));
    ASSERT_TRUE(kplat_show_window(window_));
    EXPECT_TRUE(kplat_pump_events());
}

INSTANTIATE_TEST_SUITE_P(Events, OnScreenClose,
                         ::testing::Values(CloseEvent{"Escape", Escape()},
                                           CloseEvent{"CloseBox", CloseBox()},
                                           CloseEvent{"Quit", Event(SDL_QUIT)}),
                         [](const ::testing::TestParamInfo<CloseEvent> &p) {
                             return std::string(p.param.name);
                         });

TEST_F(OnScreen, DestroyedWindowLeavesTheScreen) {
    ASSERT_TRUE(kplat_show_window(window_));
    ASSERT_NE(FindSdlWindow("on-screen test"), nullptr);
    kplat_destroy_window(window_);
    EXPECT_TRUE(kplat_pump_events());
    EXPECT_EQ(FindSdlWindow("on-screen test"), nullptr);
    EXPECT_FALSE(kplat_hide_window(window_));
}

TEST(OnScreenHeadless, ShowRefusesWithoutADisplayAndPumpKeepsPlaying) {
    ScopedEnv display("DISPLAY", nullptr), wayland("WAYLAND_DISPLAY", nullptr),
        driver("SDL_VIDEODRIVER", nullptr);
    HWND window = kplat_create_window("headless", 0, 0, 8, 8, 0);
    EXPECT_FALSE(kplat_show_window(window));
    EXPECT_TRUE(kplat_pump_events());
    kplat_destroy_window(window);
    ScopedEnv dummy("SDL_VIDEODRIVER", "dummy");
    EXPECT_FALSE(kplat_show_window(window)) << "a destroyed window cannot be shown";
}

}  // namespace
