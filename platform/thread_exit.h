// Clean-ups that a thread runs when it ends, for the state it keeps for itself (caches, lists of
// what it holds, the object of a thread it did not start).
//
// The rule for the whole tree: a thread_local holds only trivially destructible values (pointers,
// integers, flags). A thread's storage that needs a destructor is reached through such a pointer and
// given up by a clean-up registered here. The Windows toolchain emulates thread-local storage and may
// free a thread's storage before the destructors of its thread_local objects have run, which then
// read freed or reset members.
//
// A thread body of our own runs its clean-ups as its last act (RunThreadExitCleanups), while all it
// keeps is intact. For every other thread the system runs them as the thread ends. Linux: a pthread
// key's destructor, after the thread's thread_local destructors. Windows: a fiber-local storage slot's
// callback, which runs for threads of the system's own before their thread-local storage goes; a
// thread started by the toolchain's std::thread has already lost its thread_local values by then
// (they read as initial values, made anew), so a clean-up takes what it cleans up from its context,
// never from a thread_local. Neither system runs them for the thread that ends the process
// (returning from main, exit()).
#pragma once

#include <type_traits>

namespace platform {

using ThreadExitFunction = void (*)(void* context);

// Registers function(context) to run on the calling thread when it ends. Clean-ups run last
// registered first; one registered while the clean-ups run (by a clean-up) runs too, in the same
// round. An exception leaving a clean-up is caught and dropped: nothing may unwind into the system
// that calls them. Raises std::bad_alloc.
void AtThreadExit(ThreadExitFunction function, void* context);

// Runs the calling thread's clean-ups now, for a thread body's last act; the system then finds none
// left. Clean-ups registered afterwards run when the thread ends.
void RunThreadExitCleanups() noexcept;

// For the declarations of thread_local variables: static_assert(platform::kThreadLocalSafe<T>).
template <typename T>
inline constexpr bool kThreadLocalSafe = std::is_trivially_destructible_v<T>;

} // namespace platform
