// What a host does around the library that differs between Windows and the
// stand-in: make a window, read its pixels back, pump messages, wait.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

namespace host {

// A visible top-level window whose client area is clientWidth x clientHeight
// with a 1-pixel border, so GetWindowRect is the client rect grown by 1; its
// outer top-left corner at (x, y) on the screen.
HWND CreateHostWindow(int clientWidth, int clientHeight, int x = 40, int y = 40);
// A child window at (x, y) in the parent's client area, without a border.
// The stand-in has no child windows: there it is a top-level window at the
// same place on the desktop.
HWND CreateChildWindow(HWND parent, int x, int y, int width, int height);
void DestroyHostWindow(HWND window);
// A window like CreateHostWindow's, made and pumped by a child process of this
// one, at (40, 40); null where there is no other process to make it. One at a
// time: EndForeignWindow ends the process, and with it the window.
HWND CreateForeignWindow(int clientWidth, int clientHeight);
void EndForeignWindow();
// Resizes the client area, keeping the 1-pixel border.
void ResizeHostWindow(HWND window, int clientWidth, int clientHeight);

// The client area as 0x00RRGGBB, row after row, clientWidth x clientHeight,
// as the screen shows it once the picture holds still: DirectDraw output
// reaches the screen (not the window's own DC) a few milliseconds late.
std::vector<uint32_t> ReadClient(HWND window);
// True where the screen shows a draw some time after the call returns (a
// real DirectDraw); false on the stand-in, which presents within the call.
bool PresentsLate();
// One client pixel as 0x00RRGGBB.
uint32_t ReadPixel(HWND window, int x, int y);

// Lets pending window messages run (repaints, surface flushes).
void PumpMessages();
void SleepMs(unsigned milliseconds);
uint32_t TickMs();
// CPU time this process has used, user and kernel, in milliseconds.
double ProcessCpuMs();
// Runs body(0) .. body(count - 1) on count threads and waits for them all.
void RunThreads(int count, void (*body)(int index, void *context), void *context);

// Picks the audio output the wave tests play to (on Windows: the default
// device, whatever the machine routes it to).
void UseTestAudioOutput();
// False where the audio output has no clock of its own and takes whatever it
// is given at once (the Wine harness's ALSA file sink says so through
// KESTRA_AUDIO_UNPACED=1); pacing cannot be observed there.
bool AudioOutputIsPaced();

}  // namespace host
