// What happens when the library is loaded into and unloaded from a process.
#pragma once

#include "core/video_settings.h"

namespace kestra {

// Builds the conversion tables, the log settings and the video settings. Never fails.
void OnLibraryLoad();
// Releases the log settings.
void OnLibraryUnload();

// The video settings the last load read, which every display opened is handed.
const VideoSettings &LoadedVideoSettings();

}  // namespace kestra
