// What happens when the library is loaded into and unloaded from a process.
#pragma once

namespace kestra {

// Builds the conversion tables and the log settings. Never fails.
void OnLibraryLoad();
// Releases the log settings.
void OnLibraryUnload();

}  // namespace kestra
