// The portable stand-in for a kernel synchronisation object: either a recursive mutex that knows its
// owner and notices when its owner thread ends while holding it ("abandoned"), or a manual-reset
// event. Any number of threads wait on any set of handles at once: a waiting thread registers one
// waiter with every handle it waits on, and every change that may satisfy a wait wakes the waiters.
//
// Threads: every method may be called from any thread. m_state guards the mutex's owner, count and
// abandoned flag, the event's flag and the waiter list. Lock order: a handle's m_state, then a
// waiter's lock; a waiting thread never holds its waiter's lock while taking a handle's m_state.
#pragma once

#include "platform/native_event.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

class CWaitHandle {
public:
    enum class Kind { Mutex, Event };
    enum class Result { Signalled, TimedOut, Abandoned };

    struct WaitResult {
        Result result;
        size_t index; // the handle that satisfied the wait; meaningless on TimedOut
    };

    // A mutex is created free; an event is created set or not as asked.
    explicit CWaitHandle(Kind kind, bool initiallySet = false);
    // A mutex must not be destroyed while a thread other than the caller holds it.
    ~CWaitHandle();
    CWaitHandle(const CWaitHandle&) = delete;
    CWaitHandle& operator=(const CWaitHandle&) = delete;

    Kind GetKind() const { return m_kind; }

    // Event.
    void Set();
    void Reset();
    bool IsSet() const;
    // Event: a handle that native waits (the window system's event loop) can include, readable while
    // the event is set. Made on first use and kept in step with Set and Reset from then on; owned by
    // this handle. Invalid when the system refuses the object.
    platform::NativeWaitHandle GetNativeWaitHandle();

    // Mutex: gives back one level held by the calling thread; false when the caller does not own it.
    bool Release();
    uint32_t GetOwner() const;
    uint32_t GetCount() const;

    // Waits until one of the handles is signalled (an event is set, a mutex is free or already owned by
    // the caller) and takes it: a mutex becomes owned by the caller, an event stays set. When several
    // are signalled, the lowest index wins. Abandoned: the caller now owns a mutex whose previous owner
    // ended while holding it. Time-out in seconds, truncated to milliseconds; negative waits for ever.
    static WaitResult WaitAny(std::span<CWaitHandle* const> handles, double timeout);

    // Marks every mutex the calling thread still owns as abandoned and frees it. Runs when a thread
    // ends: explicitly at the end of a CThread's body, and from a thread-exit clean-up for every
    // thread that ever took a mutex.
    static void AbandonHeldByCurrentThread();

    // Seconds to milliseconds as waits count them: truncated; -1 for "for ever" (negative, or too
    // large to count); NaN makes one attempt.
    static int64_t ToMilliseconds(double seconds);

private:
    struct Waiter;
    enum class Attempt { Taken, NotSignalled, Abandoned };

    Attempt TryAcquire(uint32_t self);
    void AddWaiter(Waiter* waiter);
    void RemoveWaiter(Waiter* waiter);
    void WakeWaitersLocked();
    void AbandonIfOwnedBy(uint32_t self);
    static void AbandonAll(std::vector<CWaitHandle*>& handles, uint32_t owner);
    // The thread-exit clean-up of a thread's list of held mutexes (the list is its context).
    static void EndHeldList(void* list);

    const Kind m_kind;
    mutable std::mutex m_state;
    bool m_set = false;
    uint32_t m_owner = 0;
    uint32_t m_count = 0;
    bool m_abandoned = false;
    std::vector<Waiter*> m_waiters;
    std::unique_ptr<platform::NativeEvent> m_native; // changes only under m_state, with m_set
};
