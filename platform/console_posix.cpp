#include "platform/console.h"

#include <atomic>
#include <csignal>
#include <sys/ioctl.h>
#include <unistd.h>

namespace platform {
namespace {

std::atomic<bool> g_requested{false};
struct sigaction g_oldInt {};
struct sigaction g_oldTerm {};

extern "C" void OnTerminationSignal(int) {
    g_requested = true;
}

} // namespace

bool IsOutputTerminal() {
    return isatty(STDOUT_FILENO) == 1;
}

size_t GetTerminalColumns(size_t fallback) {
    winsize size{};
    if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return fallback;
}

ConsoleInterruptWatch::ConsoleInterruptWatch() {
    g_requested = false;
    struct sigaction action {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, &g_oldInt);
    sigaction(SIGTERM, &action, &g_oldTerm);
}

ConsoleInterruptWatch::~ConsoleInterruptWatch() {
    sigaction(SIGINT, &g_oldInt, nullptr);
    sigaction(SIGTERM, &g_oldTerm, nullptr);
}

bool ConsoleInterruptWatch::Requested() {
    return g_requested;
}

} // namespace platform
