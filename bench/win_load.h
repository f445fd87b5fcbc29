// Loading kestra.dll at run time for the Windows bench programs, with the
// renderer a host would put in its LOG.INI.
#pragma once

#include <windows.h>

#include <string>

namespace bench {

// The export `name` into *fn; false when the library lacks it.
template <typename Fn>
bool Find(HMODULE dll, const char *name, Fn *fn) {
    *fn = reinterpret_cast<Fn>(reinterpret_cast<void *>(GetProcAddress(dll, name)));
    return *fn != nullptr;
}

// The folder of this program, with its trailing separator.
inline std::string ExeDir() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    const std::string dir(path);
    return dir.substr(0, dir.find_last_of("\\/") + 1);
}

// kestra.dll, loaded with RENDERER=`renderer` in a LOG.INI beside this
// program; the file is read at load and removed again. Null when it does not load.
inline HMODULE LoadKestra(const std::string &renderer) {
    const std::string ini = ExeDir() + "LOG.INI";
    const std::string settings = "[VIDEO]\r\nRENDERER=" + renderer + "\r\n";
    HANDLE file = CreateFileA(ini.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD written = 0;
    WriteFile(file, settings.data(), DWORD(settings.size()), &written, nullptr);
    CloseHandle(file);
    HMODULE dll = LoadLibraryA("kestra.dll");
    DeleteFileA(ini.c_str());
    return dll;
}

}  // namespace bench
