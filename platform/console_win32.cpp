#include "platform/console.h"

#include <atomic>

#include <windows.h>

namespace platform {
namespace {

std::atomic<bool> g_requested{false};
// Set when the watch goes, so that a console being closed waits for the program's clean pause
// before the system ends the process.
HANDLE g_watchGone = nullptr;

// Closing the console leaves the process about five seconds after this handler returns.
constexpr DWORD kCloseGraceMs = 4500;

BOOL WINAPI OnConsoleControl(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        g_requested = true;
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        g_requested = true;
        if (g_watchGone != nullptr)
            WaitForSingleObject(g_watchGone, kCloseGraceMs);
        return TRUE;
    default:
        return FALSE;
    }
}

} // namespace

bool IsOutputTerminal() {
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (output == INVALID_HANDLE_VALUE || output == nullptr || GetFileType(output) != FILE_TYPE_CHAR ||
        !GetConsoleMode(output, &mode))
        return false;
    constexpr DWORD kVirtualTerminal = 0x0004; // ENABLE_VIRTUAL_TERMINAL_PROCESSING
    return (mode & kVirtualTerminal) != 0 || SetConsoleMode(output, mode | kVirtualTerminal);
}

size_t GetTerminalColumns(size_t fallback) {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (!GetConsoleScreenBufferInfo(GetStdHandle(STD_OUTPUT_HANDLE), &info))
        return fallback;
    const int columns = info.srWindow.Right - info.srWindow.Left + 1;
    return columns > 0 ? static_cast<size_t>(columns) : fallback;
}

ConsoleInterruptWatch::ConsoleInterruptWatch() {
    g_requested = false;
    if (g_watchGone == nullptr)
        g_watchGone = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    else
        ResetEvent(g_watchGone);
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

ConsoleInterruptWatch::~ConsoleInterruptWatch() {
    SetConsoleCtrlHandler(OnConsoleControl, FALSE);
    // A handler may still be waiting on it, so it stays open for the next watch.
    if (g_watchGone != nullptr)
        SetEvent(g_watchGone);
}

bool ConsoleInterruptWatch::Requested() {
    return g_requested;
}

} // namespace platform
