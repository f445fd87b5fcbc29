// One reference to a COM object, released when the holder goes.
#pragma once

#include <windows.h>

#include <utility>

namespace kestra {

template <typename T>
class Com {
public:
    Com() = default;
    ~Com() { Reset(); }
    Com(const Com &) = delete;
    Com &operator=(const Com &) = delete;
    Com(Com &&other) noexcept : object(std::exchange(other.object, nullptr)) {}
    Com &operator=(Com &&other) noexcept {
        if (this != &other) {
            Reset();
            object = std::exchange(other.object, nullptr);
        }
        return *this;
    }

    T *Get() const { return object; }
    T *operator->() const { return object; }
    explicit operator bool() const { return object != nullptr; }
    // Where a creating call writes the new reference.
    T **Out() {
        Reset();
        return &object;
    }
    void Reset() {
        if (object) object->Release();
        object = nullptr;
    }

private:
    T *object = nullptr;
};

}  // namespace kestra
