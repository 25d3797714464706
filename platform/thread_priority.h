// Scheduling priority of the calling thread, in the four steps the thread classes use: normal, below
// normal, lowest and idle. On Linux each step is a nice value of the calling thread.
#pragma once

namespace platform {

enum class ThreadPriority {
    Normal,
    BelowNormal,
    Lowest,
    Idle,
};

// The nice value that stands for a priority step (0 normal ... 19 idle).
int NiceValueFor(ThreadPriority priority);

// Gives the calling thread that priority. Returns false when the system refuses, as it does when an
// unprivileged thread asks to go back up after lowering itself; the thread then keeps running at
// the priority it had.
bool SetCurrentThreadPriority(ThreadPriority priority);

// The calling thread's nice value.
int GetCurrentThreadNiceValue();

} // namespace platform
