// Load-time set-up shared by DllMain and the ELF constructor.
#include "core/lifetime.h"

#include "convert/convert.h"

namespace kestra {

void OnLibraryLoad() {
    build_rgb24_tables();
    build_rgb565_tables();
}

void OnLibraryUnload() {}

}  // namespace kestra
