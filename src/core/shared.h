// One rule for the life of the library's objects that outlive a call: the
// host's handle holds one reference, and so does each piece of work running
// for the object (a draw, a device that may still call back, the thread
// letting a device go). Whoever lets go of the last one deletes the object;
// nothing else does.
#pragma once

#include <atomic>
#include <cstdint>

namespace kestra {

class Shared {
public:
    // A new object holds the reference of whoever made it.
    Shared() = default;
    Shared(const Shared &) = delete;
    Shared &operator=(const Shared &) = delete;

    // relaxed: a holder already has a reference, so the object cannot go meanwhile.
    void Hold() { references.fetch_add(1, std::memory_order_relaxed); }

protected:
    ~Shared() = default;

private:
    template <typename T>
    friend void LetGo(T *object);
    // acq_rel on the way down: the last holder sees every other holder's writes.
    std::atomic<int32_t> references{1};
};

// The one deleter of a Shared object.
template <typename T>
void LetGo(T *object) {
    if (object->Shared::references.fetch_sub(1, std::memory_order_acq_rel) == 1) delete object;
}

}  // namespace kestra
