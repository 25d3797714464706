#include "platform/thread_priority.h"

#include <windows.h>

namespace platform {
namespace {

int SystemPriority(ThreadPriority priority) {
    switch (priority) {
    case ThreadPriority::Normal:
        return THREAD_PRIORITY_NORMAL;
    case ThreadPriority::BelowNormal:
        return THREAD_PRIORITY_BELOW_NORMAL;
    case ThreadPriority::Lowest:
        return THREAD_PRIORITY_LOWEST;
    case ThreadPriority::Idle:
        return THREAD_PRIORITY_IDLE;
    }
    return THREAD_PRIORITY_NORMAL;
}

} // namespace

// A thread's priority is relative to its process's class already, so the steps start at 0.
int NiceValueFor(ThreadPriority priority) {
    return NiceStepFor(priority);
}

bool SetCurrentThreadPriority(ThreadPriority priority) {
    return ::SetThreadPriority(::GetCurrentThread(), SystemPriority(priority)) != 0;
}

int GetCurrentThreadNiceValue() {
    int priority = ::GetThreadPriority(::GetCurrentThread());
    // The raised priorities mirror the lowered ones; values between steps read as the step below.
    if (priority == THREAD_PRIORITY_ERROR_RETURN)
        return 0;
    if (priority >= THREAD_PRIORITY_TIME_CRITICAL)
        return -20;
    if (priority >= THREAD_PRIORITY_HIGHEST)
        return -10;
    if (priority >= THREAD_PRIORITY_ABOVE_NORMAL)
        return -5;
    if (priority >= THREAD_PRIORITY_NORMAL)
        return NiceStepFor(ThreadPriority::Normal);
    if (priority >= THREAD_PRIORITY_BELOW_NORMAL)
        return NiceStepFor(ThreadPriority::BelowNormal);
    if (priority >= THREAD_PRIORITY_LOWEST)
        return NiceStepFor(ThreadPriority::Lowest);
    return NiceStepFor(ThreadPriority::Idle);
}

} // namespace platform
