#include "platform/last_error.h"

#include <windows.h>

// The system's own per-thread error: what the real calls set is what the layers above read, and
// WinSock's last error is the same value (its WSAGetLastError reads it too).
namespace platform {

uint32_t GetLastError() {
    return ::GetLastError();
}
void SetLastError(uint32_t error) {
    ::SetLastError(error);
}

int32_t GetLastSocketError() {
    return static_cast<int32_t>(::GetLastError());
}
void SetLastSocketError(int32_t error) {
    ::SetLastError(static_cast<DWORD>(error));
}

} // namespace platform
