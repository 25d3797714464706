// Scheduling priority of the calling thread, in the four steps the thread classes use: normal, below
// normal, lowest and idle. On Linux each step is a nice value of the calling thread. On Windows each
// step is a thread priority (THREAD_PRIORITY_NORMAL, _BELOW_NORMAL, _LOWEST, _IDLE); nice values mean
// nothing there, so the nice functions answer the step's number as if the process had started at
// niceness 0, the current thread's value is the step of its system priority (raised priorities read
// as -5, -10 and -20), and raising a thread back to normal is never refused.
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
