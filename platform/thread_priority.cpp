// The steps' distances, the same on every system: each system's layer maps them onto its own calls.
#include "platform/thread_priority.h"

namespace platform {

int NiceStepFor(ThreadPriority priority) {
    switch (priority) {
    case ThreadPriority::Normal:
        return 0;
    case ThreadPriority::BelowNormal:
        return 5;
    case ThreadPriority::Lowest:
        return 10;
    case ThreadPriority::Idle:
        return 19;
    }
    return 0;
}

} // namespace platform
