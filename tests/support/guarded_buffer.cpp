#include "support/guarded_buffer.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>

namespace kestra_test {

GuardedBuffer::GuardedBuffer(size_t size, uint8_t fill, Align align) : length(size) {
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    const size_t bodyPages = (size + page - 1) / page;
    mappingSize = (bodyPages + 2) * page;
    void *m = mmap(nullptr, mappingSize, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (m == MAP_FAILED) return;
    mapping = static_cast<uint8_t *>(m);
    uint8_t *body = mapping + page;
    if (bodyPages && mprotect(body, bodyPages * page, PROT_READ | PROT_WRITE) != 0) return;
    bytes = align == Align::End ? body + bodyPages * page - size : body;
    std::memset(bytes, fill, size);
}

GuardedBuffer::~GuardedBuffer() {
    if (mapping) munmap(mapping, mappingSize);
}

}  // namespace kestra_test
