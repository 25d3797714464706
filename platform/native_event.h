// A manual-reset flag that the operating system's own waits can include: the window system's event
// loop waits on it together with its native events, so that a worker thread that sets it wakes the
// loop without busy waiting. It mirrors the state of one CEvent; it does not replace it.
//
// Threads: Set, Reset and IsSet may be called from any thread; callers that need Set and Reset to be
// ordered with other state (CEvent does) serialise them themselves.
#pragma once

#include <cstdint>

namespace platform {

// What a native wait takes: a file descriptor that is readable while the flag is set (an eventfd on
// Linux; an event HANDLE on Windows).
using NativeWaitHandle = intptr_t;
inline constexpr NativeWaitHandle kInvalidNativeWaitHandle = -1;

class NativeEvent {
public:
    // Created not set. When the system refuses the object the handle is invalid and the flag stays
    // readable by IsSet only through the owner's own state.
    NativeEvent();
    ~NativeEvent();
    NativeEvent(const NativeEvent&) = delete;
    NativeEvent& operator=(const NativeEvent&) = delete;

    // Setting an already set flag leaves it set; one Reset clears any number of sets.
    void Set();
    void Reset();
    // Without waiting: whether the handle is readable now.
    bool IsSet() const;

    NativeWaitHandle GetHandle() const { return m_handle; }
    bool IsValid() const { return m_handle != kInvalidNativeWaitHandle; }

private:
    NativeWaitHandle m_handle = kInvalidNativeWaitHandle;
};

} // namespace platform
