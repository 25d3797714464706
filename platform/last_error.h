// The calling thread's last error numbers, as the Windows interfaces keep them: the Win32 error of
// the last failed system call (window system, registry) and the WinSock error of the last failed
// socket call. Each thread has its own.
#pragma once

#include <cstdint>

namespace platform {

uint32_t GetLastError();
void SetLastError(uint32_t error);

int32_t GetLastSocketError();
void SetLastSocketError(int32_t error);

} // namespace platform
