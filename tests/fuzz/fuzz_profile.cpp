// The profile reader over arbitrary LOG.INI contents.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const std::string path = "/tmp/kestra_fuzz_" + std::to_string(getpid()) + ".ini";
    FILE *file = std::fopen(path.c_str(), "wb");
    if (!file) return 0;
    std::fwrite(data, 1, size, file);
    std::fclose(file);
    const char *keys[] = {"LEVEL", "SIZE", "level", ""};
    for (const char *key : keys) {
        GetPrivateProfileIntA("LOG", key, 2, path.c_str());
        GetPrivateProfileIntA("", key, 5, path.c_str());
    }
    return 0;
}
