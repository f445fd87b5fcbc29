// Memory placed against an inaccessible page, so that reading or writing one
// byte past the end (or, with Align::Start, before the start) faults at once.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestra_test {

class GuardedBuffer {
public:
    enum class Align { End, Start };

    // size bytes filled with `fill`; a PROT_NONE page lies on each side.
    explicit GuardedBuffer(size_t size, uint8_t fill = 0, Align align = Align::End);
    ~GuardedBuffer();
    GuardedBuffer(const GuardedBuffer &) = delete;
    GuardedBuffer &operator=(const GuardedBuffer &) = delete;

    uint8_t *data() { return bytes; }
    const uint8_t *data() const { return bytes; }
    size_t size() const { return length; }
    bool ok() const { return bytes != nullptr || length == 0; }

private:
    uint8_t *mapping = nullptr;
    size_t mappingSize = 0;
    uint8_t *bytes = nullptr;
    size_t length = 0;
};

}  // namespace kestra_test
