// A Win32 event with its handle's life: what a thread waits on instead of
// polling. The stand-in platform has the same calls with the same meaning.
#pragma once

#include <windows.h>

namespace kestra {

class Event {
public:
    enum Kind { ManualReset, AutoReset };
    Event(Kind kind, bool set)
        : handle(CreateEventA(nullptr, kind == ManualReset, set ? TRUE : FALSE, nullptr)) {}
    ~Event() {
        if (handle) CloseHandle(handle);
    }
    Event(const Event &) = delete;
    Event &operator=(const Event &) = delete;

    // False when the platform had no event to give.
    bool Made() const { return handle != nullptr; }
    void Set() { SetEvent(handle); }
    void Reset() { ResetEvent(handle); }
    // True when it was set within `milliseconds` (INFINITE: however long).
    bool Wait(DWORD milliseconds) {
        return WaitForSingleObject(handle, milliseconds) == WAIT_OBJECT_0;
    }
    // For a manual-reset event: an auto-reset one would be reset by the look.
    bool IsSet() { return Wait(0); }

private:
    HANDLE handle;
};

}  // namespace kestra
