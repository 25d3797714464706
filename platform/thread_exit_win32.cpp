#include "platform/thread_exit.h"

#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>
#include <utility>
#include <vector>
#include <windows.h>

namespace platform {
namespace {

struct ExitList {
    std::vector<std::pair<ThreadExitFunction, void*>> entries;
};

// Set once the process has begun to end (exit() runs its handlers): the static objects clean-ups may
// use are being destroyed, and the thread that ends the process runs none, as on Linux.
std::atomic<bool> g_processEnding{false};

void MarkProcessEnding() {
    g_processEnding.store(true);
}

void WINAPI RunListAtExit(void* value);

// The slot, allocated on the first registration; the callback only runs once it exists.
std::atomic<DWORD> g_slot{FLS_OUT_OF_INDEXES};

// The list lives in the slot itself rather than in a thread_local, so that the callback reads nothing
// that the toolchain's thread-local storage may already have freed.
DWORD TheSlot() {
    static const DWORD slot = [] {
        DWORD made = FlsAlloc(&RunListAtExit);
        if (made == FLS_OUT_OF_INDEXES)
            throw std::bad_alloc();
        std::atexit(&MarkProcessEnding);
        g_slot.store(made);
        return made;
    }();
    return slot;
}

// Runs the list to its end (clean-ups may add to it meanwhile) and frees it.
void RunList(DWORD slot, ExitList* list) noexcept {
    // Registrations made meanwhile find the list in the slot and join this round.
    FlsSetValue(slot, list);
    while (!list->entries.empty()) {
        auto [function, context] = list->entries.back();
        list->entries.pop_back();
        try {
            function(context);
        } catch (...) {
            // Nothing may unwind into the system; the clean-up's own work is all that is lost.
        }
    }
    FlsSetValue(slot, nullptr);
    delete list;
}

void WINAPI RunListAtExit(void* value) {
    if (g_processEnding.load())
        return;
    RunList(g_slot.load(), static_cast<ExitList*>(value));
}

} // namespace

void AtThreadExit(ThreadExitFunction function, void* context) {
    const DWORD slot = TheSlot();
    auto* list = static_cast<ExitList*>(FlsGetValue(slot));
    if (list == nullptr) {
        auto made = std::make_unique<ExitList>();
        if (!FlsSetValue(slot, made.get()))
            throw std::bad_alloc();
        list = made.release();
    }
    list->entries.emplace_back(function, context);
}

void RunThreadExitCleanups() noexcept {
    const DWORD slot = g_slot.load();
    if (slot == FLS_OUT_OF_INDEXES)
        return; // nothing was ever registered
    if (auto* list = static_cast<ExitList*>(FlsGetValue(slot)))
        RunList(slot, list);
}

} // namespace platform
