#include "foundation/thread_id.h"

#include "platform/thread_exit.h"

#include <atomic>
#include <cassert>

namespace {

std::atomic<uint32_t> g_nextId{1};
thread_local uint32_t t_id = 0;
static_assert(platform::kThreadLocalSafe<decltype(t_id)>);

} // namespace

uint32_t AllocateThreadId() {
    return g_nextId.fetch_add(1, std::memory_order_relaxed);
}

uint32_t GetCurrentThreadIdentity() {
    if (t_id == 0)
        t_id = AllocateThreadId();
    return t_id;
}

void AssignCurrentThreadId(uint32_t id) {
    assert(t_id == 0 && "a thread's identity is assigned before anything asks for it");
    t_id = id;
}
