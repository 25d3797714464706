// The requests to end that the system sends a program (SIGTERM, and SIGINT from the terminal), turned
// into a call on the user-interface thread, so that the program ends as if its window were closed:
// through its tear-down, with nothing left half-written.
//
// Threads: made and destroyed on the user-interface thread; the call runs there, from the window
// system's main loop, never from inside a signal handler.
#pragma once

#include <functional>
#include <memory>

namespace platform {

class TerminationSignals {
public:
    virtual ~TerminationSignals() = default;

    // While the object lives, each request calls `onRequest`; the signals' previous handling comes
    // back when it goes. Null when the signals cannot be watched.
    static std::unique_ptr<TerminationSignals> Watch(std::function<void()> onRequest);
};

} // namespace platform
