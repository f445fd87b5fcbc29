// Linux: windows and audio of the stand-in platform.
#include "host_window.h"

#include <ddraw.h>
#include <kestra/platform_test.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "snapshot.h"

namespace kplay {

HostWindow::~HostWindow() { Destroy(); }

bool HostWindow::Create(const char *title, int clientWidth, int clientHeight, bool headless,
                        std::string *note) {
    // A one-pixel border, as a framed video window has: the GDI mode sizes its
    // picture from the outer rectangle less two pixels.
    window_ = kplat_create_window(title, 64, 64, clientWidth, clientHeight, 1);
    if (!window_) return false;
    if (headless) return true;
    shown_ = kplat_show_window(window_) != FALSE;
    if (!shown_) *note = "no display available: playing headless";
    return true;
}

bool HostWindow::Pump() { return kplat_pump_events() != FALSE; }

// The stand-in's windows are sized by the host alone.
bool HostWindow::TakeResized() { return false; }

bool HostWindow::Snapshot(const std::string &path, std::string *error) const {
    int width = 0, height = 0;
    if (!kplat_get_client_size(window_, &width, &height)) {
        *error = "no window to take a snapshot of";
        return false;
    }
    std::vector<uint32_t> pixels(static_cast<size_t>(width) * height);
    if (!kplat_read_window_pixels(window_, pixels.data(), width)) {
        *error = "cannot read the window's pixels";
        return false;
    }
    return WritePng(path, pixels.data(), width, height, error);
}

void HostWindow::Destroy() {
    if (!window_) return;
    if (shown_) kplat_hide_window(window_);
    kplat_destroy_window(window_);
    window_ = nullptr;
    shown_ = false;
}

bool ChooseAdapter(const std::string &adapter, std::string *) {
    kplat_ddraw_reset();
    // Plain RGB blits only: the library settles on an RGB 5-6-5 surface.
    if (adapter == "blt") kplat_ddraw_set_caps(DDCAPS_BLT);
    // No ddraw.dll at all: the library falls back to GDI.
    if (adapter == "none") kplat_ddraw_set_available(FALSE);
    return true;
}

bool ChooseAudioFile(const std::string &path, bool *playerWrites, std::string *error) {
    *playerWrites = false;
    if (kplat_audio_set_sink(("wav:" + path).c_str())) return true;
    *error = "cannot send audio to " + path;
    return false;
}

bool SoundFileFailed(const std::string &path, std::string *error) {
    const int reason = kplat_audio_sink_error();
    if (reason == 0) return false;
    *error = "cannot write " + path + ": " +
             (reason == ETIMEDOUT ? "its reader took nothing for 5 s" : std::strerror(reason));
    return true;
}

}  // namespace kplay
