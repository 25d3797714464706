// The console a program runs in: whether its standard output is a terminal that takes the cursor
// movements of the progress display, how wide it is, and requests to end the program.
//
// Requests to end a console program from outside: Ctrl-C and SIGTERM on Linux; Ctrl-C, Ctrl-Break
// and the closing of the console window on Windows. While a ConsoleInterruptWatch lives, such a
// request does not end the process: it only raises the flag that the program polls, so the program
// can pause cleanly and end by itself. The previous handling comes back when the watch goes.
//
// Threads: one watch at a time, made and destroyed on one thread; the flag may be read anywhere.
#pragma once

#include <cstddef>

namespace platform {

// Whether standard output is a terminal that understands the VT100 cursor and erase sequences (on
// Windows, a console that accepts them once asked to: older consoles answer false and get plain
// lines instead).
bool IsOutputTerminal();
// The terminal's width in columns; `fallback` when output is not a terminal or does not say.
size_t GetTerminalColumns(size_t fallback);

class ConsoleInterruptWatch {
public:
    ConsoleInterruptWatch();
    ~ConsoleInterruptWatch();
    ConsoleInterruptWatch(const ConsoleInterruptWatch&) = delete;
    ConsoleInterruptWatch& operator=(const ConsoleInterruptWatch&) = delete;

    // Whether a request has come since the watch was made.
    static bool Requested();
};

} // namespace platform
