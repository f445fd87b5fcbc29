// Holders of one reference, let go when the holder goes: to a COM object, and
// to a DLL loaded at run time.
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

class Library {
public:
    explicit Library(const char *name) : module(LoadLibraryA(name)) {}
    ~Library() {
        if (module) FreeLibrary(module);
    }
    Library(const Library &) = delete;
    Library &operator=(const Library &) = delete;
    HMODULE Get() const { return module; }

private:
    HMODULE module;
};

}  // namespace kestra
