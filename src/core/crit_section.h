// Re-entrant critical section and its scoped guard.
#pragma once

#include <windows.h>

namespace kestra {

class CritSection {
public:
    CritSection() { InitializeCriticalSection(&section); }
    ~CritSection() { DeleteCriticalSection(&section); }
    CritSection(const CritSection &) = delete;
    CritSection &operator=(const CritSection &) = delete;

    void Enter() { EnterCriticalSection(&section); }
    void Leave() { LeaveCriticalSection(&section); }
    // Enters only when no other thread holds it.
    bool TryEnter() { return TryEnterCriticalSection(&section) != FALSE; }

private:
    CRITICAL_SECTION section;
};

class AutoLock {
public:
    explicit AutoLock(CritSection *lock) : held(lock) {
        if (held) held->Enter();
    }
    explicit AutoLock(CritSection &lock) : AutoLock(&lock) {}
    ~AutoLock() { Release(); }
    AutoLock(const AutoLock &) = delete;
    AutoLock &operator=(const AutoLock &) = delete;

    // Leaves early; destruction then does nothing.
    void Release() {
        if (held) held->Leave();
        held = nullptr;
    }

private:
    CritSection *held;
};

}  // namespace kestra
