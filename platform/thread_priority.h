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

// How far below the process's own niceness a priority step puts a thread (0 normal ... 19 idle).
int NiceStepFor(ThreadPriority priority);
// The nice value of a step: the process's niceness when it started plus the step, at most 19, so that
// a program started with "nice" keeps its threads' steps relative to that.
int NiceValueFor(ThreadPriority priority);

// Gives the calling thread that priority. Returns false when the system refuses, as it does when an
// unprivileged thread asks to go back up after lowering itself; the thread then keeps running at
// the priority it had.
bool SetCurrentThreadPriority(ThreadPriority priority);

// The calling thread's nice value.
int GetCurrentThreadNiceValue();

} // namespace platform
