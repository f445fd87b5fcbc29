// The window kestra-play shows frames in: a stand-in window (on screen
// through SDL2 when a display is available) on Linux, a plain Win32 window
// with a message loop on Windows.
#pragma once

#include <windows.h>

#include <string>

namespace kplay {

class HostWindow {
public:
    HostWindow() = default;
    ~HostWindow();
    HostWindow(const HostWindow &) = delete;
    HostWindow &operator=(const HostWindow &) = delete;

    // headless keeps the window off screen (stand-in only). *note receives a
    // line for the user when the window could not be shown.
    bool Create(const char *title, int clientWidth, int clientHeight, bool headless,
                std::string *note);
    HWND handle() const { return window_; }
    // Handles window messages; false once the user closed the window or
    // pressed Escape.
    bool Pump();
    // True once after the user changed the window's size.
    bool TakeResized();
    // Writes what the client area shows as a PNG.
    bool Snapshot(const std::string &path, std::string *error) const;
    void Destroy();

private:
    HWND window_ = nullptr;  // what the library draws into
    HWND frame_ = nullptr;   // Windows: the top-level window around it
    bool shown_ = false;
};

// The stand-in display adapter's capabilities: "fourcc", "blt" or "none";
// "" keeps the default. False with a reason where this build cannot do it.
bool ChooseAdapter(const std::string &adapter, std::string *error);

// Sends the played sound to a WAV file: on the stand-in the device itself
// writes it, instead of playing; elsewhere *playerWrites asks the player to
// record the bytes it hands to the library.
bool ChooseAudioFile(const std::string &path, bool *playerWrites, std::string *error);
// True, with "cannot write PATH: reason", once the device's sound file has
// failed to take some of the sound; a file the player writes itself reports
// when it closes.
bool SoundFileFailed(const std::string &path, std::string *error);

}  // namespace kplay
