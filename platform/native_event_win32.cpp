#include "platform/native_event.h"

#include <windows.h>

namespace platform {
namespace {

HANDLE Handle(NativeWaitHandle handle) {
    return reinterpret_cast<HANDLE>(handle);
}

} // namespace

NativeEvent::NativeEvent() {
    // Manual reset, so that a wait that sees it set does not clear it; created not set.
    // It fails with null, never with -1 (the header's invalid value), which no event can be.
    HANDLE event = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (event != nullptr)
        m_handle = reinterpret_cast<NativeWaitHandle>(event);
}

NativeEvent::~NativeEvent() {
    if (IsValid())
        ::CloseHandle(Handle(m_handle));
}

void NativeEvent::Set() {
    if (IsValid())
        ::SetEvent(Handle(m_handle));
}

void NativeEvent::Reset() {
    if (IsValid())
        ::ResetEvent(Handle(m_handle));
}

bool NativeEvent::IsSet() const {
    return IsValid() && ::WaitForSingleObject(Handle(m_handle), 0) == WAIT_OBJECT_0;
}

} // namespace platform
