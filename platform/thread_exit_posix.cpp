#include "platform/thread_exit.h"

#include <memory>
#include <new>
#include <pthread.h>
#include <utility>
#include <vector>

namespace platform {
namespace {

struct ExitList {
    std::vector<std::pair<ThreadExitFunction, void*>> entries;
};

// The calling thread's list. The key's value points to the same list, so that its destructor runs
// when the thread ends; this pointer is what registration and the early run use.
thread_local ExitList* t_list = nullptr;
static_assert(kThreadLocalSafe<decltype(t_list)>);

// Runs the list to its end (clean-ups may add to it meanwhile) and frees it.
void RunList(ExitList* list) noexcept {
    t_list = list;
    while (!list->entries.empty()) {
        auto [function, context] = list->entries.back();
        list->entries.pop_back();
        try {
            function(context);
        } catch (...) {
            // Nothing may unwind into the thread library; the clean-up's own work is all that is lost.
        }
    }
    t_list = nullptr;
    delete list;
}

void RunListAtExit(void* value) {
    RunList(static_cast<ExitList*>(value));
}

pthread_key_t TheKey() {
    static const pthread_key_t key = [] {
        pthread_key_t made;
        if (pthread_key_create(&made, &RunListAtExit) != 0)
            throw std::bad_alloc();
        return made;
    }();
    return key;
}

} // namespace

void AtThreadExit(ThreadExitFunction function, void* context) {
    if (t_list == nullptr) {
        const pthread_key_t key = TheKey();
        auto list = std::make_unique<ExitList>();
        if (pthread_setspecific(key, list.get()) != 0)
            throw std::bad_alloc();
        t_list = list.release();
    }
    t_list->entries.emplace_back(function, context);
}

void RunThreadExitCleanups() noexcept {
    ExitList* list = t_list;
    if (list == nullptr)
        return;
    pthread_setspecific(TheKey(), nullptr);
    RunList(list);
}

} // namespace platform
