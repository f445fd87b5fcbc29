// 64-bit file offsets: clips and recordings of several gigabytes are ordinary.
#pragma once

#include <cstdint>
#include <cstdio>

namespace kplay {

inline int64_t Tell(std::FILE *file) {
#ifdef _WIN32
    return _ftelli64(file);
#else
    return ftello(file);
#endif
}

inline bool Seek(std::FILE *file, int64_t offset, int whence) {
#ifdef _WIN32
    return _fseeki64(file, offset, whence) == 0;
#else
    return fseeko(file, static_cast<off_t>(offset), whence) == 0;
#endif
}

inline int64_t FileSize(std::FILE *file) {
    int64_t here = Tell(file);
    if (here < 0 || !Seek(file, 0, SEEK_END)) return -1;
    int64_t size = Tell(file);
    return Seek(file, here, SEEK_SET) ? size : -1;
}

}  // namespace kplay
