#include "platform/thread_priority.h"

#include <algorithm>
#include <cerrno>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace platform {
namespace {

// Linux applies PRIO_PROCESS with a thread id to that one thread.
id_t CurrentTid() {
    return static_cast<id_t>(syscall(SYS_gettid));
}

} // namespace

int NiceValueFor(ThreadPriority priority) {
    // The main thread's niceness when first asked: the level the process was started at.
    static const int base = [] {
        errno = 0;
        int value = getpriority(PRIO_PROCESS, static_cast<id_t>(getpid()));
        return errno == 0 ? value : 0;
    }();
    return std::min(19, base + NiceStepFor(priority));
}

bool SetCurrentThreadPriority(ThreadPriority priority) {
    return setpriority(PRIO_PROCESS, CurrentTid(), NiceValueFor(priority)) == 0;
}

int GetCurrentThreadNiceValue() {
    // -1 is a valid nice value, so failure is told apart by errno.
    errno = 0;
    int value = getpriority(PRIO_PROCESS, CurrentTid());
    return errno == 0 ? value : 0;
}

} // namespace platform
