#include "foundation/wait_handle.h"

#include "foundation/thread_id.h"
#include "platform/thread_exit.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <optional>

struct CWaitHandle::Waiter {
    std::mutex lock;
    std::condition_variable wake;
    uint64_t generation = 0; // bumped by every handle change; guarded by lock
};

namespace {

// The mutexes the current thread owns, so that they can be marked abandoned when it ends. Only the
// owning thread touches its list. The list is made on the thread's first mutex and given up by a
// thread-exit clean-up, which takes the list and its owner from its context: on Windows a thread's
// thread_local values may be gone when the clean-up runs. A mutex taken after the clean-up ran (by a
// later clean-up) is simply not tracked.
struct HeldList {
    uint32_t owner;
    std::vector<CWaitHandle*> handles;
};

thread_local HeldList* t_held = nullptr;
thread_local bool t_exiting = false;
static_assert(platform::kThreadLocalSafe<decltype(t_held)> && platform::kThreadLocalSafe<decltype(t_exiting)>);

// Raises std::bad_alloc (with nothing changed).
void Track(CWaitHandle* handle, uint32_t self, platform::ThreadExitFunction endList) {
    if (t_exiting)
        return;
    if (t_held == nullptr) {
        auto list = std::make_unique<HeldList>();
        list->owner = self;
        platform::AtThreadExit(endList, list.get());
        t_held = list.release();
    }
    t_held->handles.push_back(handle);
}

void Untrack(CWaitHandle* handle) {
    if (t_held == nullptr)
        return;
    auto& list = t_held->handles;
    auto it = std::find(list.rbegin(), list.rend(), handle);
    if (it != list.rend())
        list.erase(std::next(it).base());
}

} // namespace

CWaitHandle::CWaitHandle(Kind kind, bool initiallySet)
    : m_kind(kind), m_set(kind == Kind::Event && initiallySet) {}

CWaitHandle::~CWaitHandle() {
    std::lock_guard guard(m_state);
    if (m_kind == Kind::Mutex && m_count != 0 && m_owner == GetCurrentThreadIdentity())
        Untrack(this);
}

void CWaitHandle::Set() {
    std::lock_guard guard(m_state);
    if (m_set)
        return;
    m_set = true;
    if (m_native)
        m_native->Set();
    WakeWaitersLocked();
}

void CWaitHandle::Reset() {
    std::lock_guard guard(m_state);
    if (m_set && m_native)
        m_native->Reset();
    m_set = false;
}

platform::NativeWaitHandle CWaitHandle::GetNativeWaitHandle() {
    std::lock_guard guard(m_state);
    if (!m_native) {
        m_native = std::make_unique<platform::NativeEvent>();
        if (m_set)
            m_native->Set();
    }
    return m_native->GetHandle();
}

bool CWaitHandle::IsSet() const {
    std::lock_guard guard(m_state);
    return m_set;
}

bool CWaitHandle::Release() {
    std::lock_guard guard(m_state);
    if (m_count == 0 || m_owner != GetCurrentThreadIdentity())
        return false;
    if (--m_count == 0) {
        m_owner = 0;
        Untrack(this);
        WakeWaitersLocked();
    }
    return true;
}

uint32_t CWaitHandle::GetOwner() const {
    std::lock_guard guard(m_state);
    return m_owner;
}

uint32_t CWaitHandle::GetCount() const {
    std::lock_guard guard(m_state);
    return m_count;
}

CWaitHandle::Attempt CWaitHandle::TryAcquire(uint32_t self) {
    std::lock_guard guard(m_state);
    if (m_kind == Kind::Event)
        return m_set ? Attempt::Taken : Attempt::NotSignalled;
    if (m_owner == self) {
        ++m_count;
        return Attempt::Taken;
    }
    if (m_owner != 0)
        return Attempt::NotSignalled;
    Track(this, self, &CWaitHandle::EndHeldList);
    m_owner = self;
    m_count = 1;
    if (m_abandoned) {
        m_abandoned = false;
        return Attempt::Abandoned;
    }
    return Attempt::Taken;
}

void CWaitHandle::AbandonIfOwnedBy(uint32_t self) {
    std::lock_guard guard(m_state);
    if (m_owner != self)
        return;
    m_owner = 0;
    m_count = 0;
    m_abandoned = true;
    WakeWaitersLocked();
}

void CWaitHandle::AbandonAll(std::vector<CWaitHandle*>& handles, uint32_t owner) {
    // Each handle appears once per 0 -> 1 transition; abandoning clears it in one step.
    std::vector<CWaitHandle*> held;
    held.swap(handles);
    for (CWaitHandle* handle : held)
        handle->AbandonIfOwnedBy(owner);
}

void CWaitHandle::AbandonHeldByCurrentThread() {
    if (t_held != nullptr)
        AbandonAll(t_held->handles, t_held->owner);
}

void CWaitHandle::EndHeldList(void* context) {
    std::unique_ptr<HeldList> list(static_cast<HeldList*>(context));
    AbandonAll(list->handles, list->owner);
    if (t_held == list.get())
        t_held = nullptr;
    t_exiting = true;
}

void CWaitHandle::AddWaiter(Waiter* waiter) {
    std::lock_guard guard(m_state);
    m_waiters.push_back(waiter);
}

void CWaitHandle::RemoveWaiter(Waiter* waiter) {
    std::lock_guard guard(m_state);
    std::erase(m_waiters, waiter);
}

void CWaitHandle::WakeWaitersLocked() {
    for (Waiter* waiter : m_waiters) {
        std::lock_guard guard(waiter->lock);
        ++waiter->generation;
        waiter->wake.notify_one();
    }
}

int64_t CWaitHandle::ToMilliseconds(double seconds) {
    if (std::isnan(seconds))
        return 0;
    if (seconds < 0)
        return -1;
    // Beyond about 30 years a wait is as good as endless, and the count must not overflow.
    constexpr double kLongestCountedWait = 1e12;
    double ms = std::trunc(seconds * 1000);
    if (ms >= kLongestCountedWait)
        return -1;
    return static_cast<int64_t>(ms);
}

CWaitHandle::WaitResult CWaitHandle::WaitAny(std::span<CWaitHandle* const> handles, double timeout) {
    const uint32_t self = GetCurrentThreadIdentity();
    auto attempt = [&]() -> std::optional<WaitResult> {
        for (size_t i = 0; i < handles.size(); ++i) {
            switch (handles[i]->TryAcquire(self)) {
            case Attempt::Taken:
                return WaitResult{Result::Signalled, i};
            case Attempt::Abandoned:
                return WaitResult{Result::Abandoned, i};
            case Attempt::NotSignalled:
                break;
            }
        }
        return std::nullopt;
    };

    if (auto result = attempt())
        return *result;
    const int64_t ms = ToMilliseconds(timeout);
    if (ms == 0 || handles.empty())
        return {Result::TimedOut, 0};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);

    Waiter waiter;
    for (CWaitHandle* handle : handles)
        handle->AddWaiter(&waiter);
    struct Unregister {
        std::span<CWaitHandle* const> handles;
        Waiter* waiter;
        ~Unregister() {
            for (CWaitHandle* handle : handles)
                handle->RemoveWaiter(waiter);
        }
    } unregister{handles, &waiter};

    for (;;) {
        // The generation is read before the attempt, so a change between the attempt and the sleep
        // is not lost: it has bumped the generation and the sleep returns at once.
        uint64_t seen;
        {
            std::lock_guard guard(waiter.lock);
            seen = waiter.generation;
        }
        if (auto result = attempt())
            return *result;
        std::unique_lock lock(waiter.lock);
        auto changed = [&] { return waiter.generation != seen; };
        if (ms < 0)
            waiter.wake.wait(lock, changed);
        else if (!waiter.wake.wait_until(lock, deadline, changed))
            return {Result::TimedOut, 0};
    }
}
