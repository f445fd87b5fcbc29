// The loader's entry points: DllMain on Windows, constructor and destructor
// of the shared object elsewhere. Both only forward to OnLibraryLoad/Unload.
#include <windows.h>

#include "core/lifetime.h"

#if defined(_WIN32)

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) kestra::OnLibraryLoad();
    if (reason == DLL_PROCESS_DETACH) kestra::OnLibraryUnload();
    return TRUE;
}

#else

__attribute__((constructor)) static void KestraLoad() { kestra::OnLibraryLoad(); }
__attribute__((destructor)) static void KestraUnload() { kestra::OnLibraryUnload(); }

#endif
