// How the system's own libraries are called. On 32-bit Windows their entry points use the standard
// calling convention, which every pointer to one must name (calling one through a default pointer
// leaves the stack unbalanced); elsewhere there is a single convention and the mark is empty.
#pragma once

#if defined(_WIN32) && !defined(_WIN64)
#define PX_SYSTEM_CALL __stdcall
#else
#define PX_SYSTEM_CALL
#endif
