// Holds a lockable for a scope: takes it on construction, gives it back on destruction.
#pragma once

#include "foundation/lockable.h"

class CLock {
public:
    // Raises CTimeoutException when the lockable is not obtained within the time-out (seconds;
    // negative waits for ever, 0 makes one attempt).
    explicit CLock(CLockable& lockable, double timeout = -1);
    ~CLock();
    CLock(const CLock&) = delete;
    CLock& operator=(const CLock&) = delete;

private:
    CLockable& m_lockable;
};
